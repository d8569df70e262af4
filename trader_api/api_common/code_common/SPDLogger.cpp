#include "api_common/code_common/SPDLogger.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <vector>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "api_common/code_common/FileHelper.h"

namespace OXA {
namespace API {

namespace {

constexpr int kRotationHour = 23;
constexpr int kRotationMinute = 59;

std::string& LoadErrorText() {
    thread_local std::string text;
    return text;
}

struct BuiltLogger {
    std::shared_ptr<spdlog::details::thread_pool> pool;
    std::shared_ptr<spdlog::logger> logger;
    std::unique_ptr<spdlog::details::periodic_worker> flusher;
};

spdlog::sink_ptr BuildSink(const LogSinkSettings& settings) {
    spdlog::sink_ptr sink;
    if (settings.file)
        sink = std::make_shared<spdlog::sinks::daily_file_sink<std::mutex>>(settings.path, kRotationHour,
                                                                             kRotationMinute, settings.truncate, 0);
    else
        sink = std::make_shared<spdlog::sinks::stdout_sink<spdlog::details::console_mutex>>();
    if (settings.hasLevel) sink->set_level(static_cast<spdlog::level::level_enum>(settings.level));
    if (settings.hasPattern) sink->set_pattern(settings.pattern);
    return sink;
}

// Everything spdlog may refuse, built aside so that a failure changes nothing.
BuiltLogger Build(const LogSettings& settings, const std::function<void(const std::string&)>& onError) {
    BuiltLogger built;
    std::vector<spdlog::sink_ptr> sinks;
    sinks.reserve(settings.sinks.size());
    for (const auto& sink : settings.sinks) sinks.push_back(BuildSink(sink));

    if (settings.sync) {
        built.logger = std::make_shared<spdlog::logger>(settings.name, sinks.begin(), sinks.end());
    } else {
        built.pool = std::make_shared<spdlog::details::thread_pool>(static_cast<std::size_t>(settings.queueSize),
                                                                    settings.threads, [] {});
        built.logger = std::make_shared<spdlog::async_logger>(
            settings.name, sinks.begin(), sinks.end(), built.pool,
            settings.overrunOldest ? spdlog::async_overflow_policy::overrun_oldest
                                   : spdlog::async_overflow_policy::block);
    }
    built.logger->set_error_handler(onError);
    if (settings.hasLevel) built.logger->set_level(static_cast<spdlog::level::level_enum>(settings.level));
    built.logger->flush_on(static_cast<spdlog::level::level_enum>(settings.flushLevel));
    if (settings.hasPattern) built.logger->set_pattern(settings.pattern);
    if (settings.periodicFlushSeconds > 0) {
        std::shared_ptr<spdlog::logger> logger = built.logger;
        built.flusher = std::make_unique<spdlog::details::periodic_worker>(
            [logger] { logger->flush(); }, std::chrono::seconds(settings.periodicFlushSeconds));
    }
    return built;
}

// The pool ends first: its workers write what is still queued (holding the logger while they
// do) and are joined. The logger's last reference then goes on this thread, so its files are
// closed when this returns unless someone else still holds it.
void ReleaseLoggerAndPool(std::shared_ptr<spdlog::logger>& logger,
                          std::shared_ptr<spdlog::details::thread_pool>& pool) {
    std::shared_ptr<spdlog::logger> last = std::move(logger);
    pool.reset();
    last.reset();
}

}  // namespace

void LoggerErrorHandler(const std::string& message) {
    const std::string line = "LoggerException:[" + message + "]\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

SPDLogger::SPDLogger() : m_fnErrorHandler(&LoggerErrorHandler) {}

// Leaves spdlog's registry as it is (Shutdown is the way out of it).
SPDLogger::~SPDLogger() {
    m_pPeriodicFlusher.reset();
    ReleaseLoggerAndPool(m_pLogger, m_pThreadPool);
}

int SPDLogger::LoadLoggerConfig(const std::string& json, const char** err) {
    std::string& text = LoadErrorText();
    text.clear();
    if (err != nullptr) *err = kLogConfigFormatText;

    LogSettings settings;
    BuiltLogger built;
    try {
        const int code = ReadLoggerConfig(json, settings, text);
        if (code != kLogConfigOk) {
            if (err != nullptr && (code == kLogConfigParserThrew || code == kLogConfigSyntax)) *err = text.c_str();
            return code;
        }
        built = Build(settings, m_fnErrorHandler);
    } catch (const std::exception& e) {
        text = e.what();
        if (err != nullptr) *err = text.c_str();
        return kLogConfigBuildFailed;
    } catch (...) {
        text = "unknown exception";
        if (err != nullptr) *err = text.c_str();
        return kLogConfigBuildFailed;
    }

    // Logger and pool are swapped together; then the old flusher, the old pool and the old
    // logger end, in that order (see ReleaseLoggerAndPool).
    std::unique_ptr<spdlog::details::periodic_worker> oldFlusher = std::move(m_pPeriodicFlusher);
    std::shared_ptr<spdlog::logger> oldLogger = std::move(m_pLogger);
    std::shared_ptr<spdlog::details::thread_pool> oldPool = std::move(m_pThreadPool);
    m_pLogger = std::move(built.logger);
    m_pThreadPool = std::move(built.pool);
    m_pPeriodicFlusher = std::move(built.flusher);
    if (settings.hasLevel) m_nLevel = settings.level;
    oldFlusher.reset();
    ReleaseLoggerAndPool(oldLogger, oldPool);
    if (err != nullptr) *err = nullptr;
    return kLogConfigOk;
}

int SPDLogger::LoadLoggerConfigFile(const char* path, const char** err) {
    std::string json;
    const int code = FileHelper::readWholeFile(path, json);
    if (code != 0) {
        if (err != nullptr) *err = kReadFailedText;
        std::fputs(kReadFailedText, stdout);
        return code;
    }
    return LoadLoggerConfig(json, err);
}

void SPDLogger::Register() {
    if (!m_pLogger) return;
    std::shared_ptr<spdlog::logger> current = spdlog::default_logger();
    // registering again keeps the logger that was there before the first time
    if (current != m_pLogger && current != m_pRegistered.lock()) m_pReplacedDefault = std::move(current);
    spdlog::set_default_logger(m_pLogger);
    m_pRegistered = m_pLogger;
}

void SPDLogger::Shutdown(bool noFlush) {
    if (!m_pLogger) return;
    m_pPeriodicFlusher.reset();
    if (!noFlush) m_pLogger->flush();

    const std::string name = m_pLogger->name();
    const std::shared_ptr<spdlog::logger> current = spdlog::default_logger();
    const bool defaultIsOurs = current != nullptr && (current == m_pLogger || current == m_pRegistered.lock());
    if (defaultIsOurs) {
        // One swap under the registry lock, so no other thread finds the default missing; it
        // also takes the registered logger's name out of the registry. Without a logger to put
        // back, the default goes as it was before Register.
        if (m_pReplacedDefault != nullptr)
            spdlog::set_default_logger(m_pReplacedDefault);
        else
            spdlog::drop(current->name());
        if (current->name() != name && (m_pReplacedDefault == nullptr || m_pReplacedDefault->name() != name))
            spdlog::drop(name);
    } else if (current == nullptr || current->name() != name) {
        spdlog::drop(name);
    }
    // else another logger of the same name is the default: it stays where it is

    m_pReplacedDefault.reset();
    m_pRegistered.reset();
    ReleaseLoggerAndPool(m_pLogger, m_pThreadPool);
}

}  // namespace API
}  // namespace OXA
