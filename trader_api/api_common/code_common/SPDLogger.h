// The utility library's configurable logger: one spdlog logger, synchronous or asynchronous, over
// daily-file and standard-output sinks, built from a JSON configuration (keys in LoggerConfig.h).
//
// A configuration is read and checked whole before anything is built, and the object changes
// only once everything is built: a refused configuration touches no file and leaves the object
// as it was, and no exception leaves LoadLoggerConfig. A reconfiguration stops the old periodic
// flusher and replaces logger and thread pool together.
//
// Nothing here locks: configure, register and shut an object down from one thread at a time.
// Logging through the built logger may come from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <spdlog/spdlog.h>
// periodic_worker.h needs spdlog/common.h, thread_pool.h the overflow policy of async_logger.h
#include <spdlog/async_logger.h>
#include <spdlog/details/periodic_worker.h>
#include <spdlog/details/thread_pool.h>

#include "api_common/code_common/LoggerConfig.h"

namespace OXA {
namespace API {

// The error handler a new SPDLogger hands its loggers: "LoggerException:[<message>]" and a line
// end on standard error, flushed.
void LoggerErrorHandler(const std::string& message);

class SPDLogger {
public:
    // The config file cannot be read (LoadLoggerConfigFile), with kReadFailedText.
    static constexpr const char* kReadFailedText = "Read Config File Failed.";

    SPDLogger();
    ~SPDLogger();
    SPDLogger(const SPDLogger&) = delete;
    SPDLogger& operator=(const SPDLogger&) = delete;

    // Builds the logger from the configuration text. Returns a LogConfigCode. *err (err may be
    // null) becomes null on success, kLogConfigFormatText, or the calling thread's text of this
    // operation, valid until that thread calls again.
    int LoadLoggerConfig(const std::string& json, const char** err);
    // The file's content through LoadLoggerConfig; a file that cannot be read returns
    // FileHelper::kFileReadFailed with kReadFailedText (also printed to standard output).
    int LoadLoggerConfigFile(const char* path, const char** err);

    // Makes the logger spdlog's default logger (the default one before is taken out of the
    // registry and kept, to be put back by Shutdown). Without a logger nothing changes: spdlog's
    // free functions must always find a default logger.
    void Register();
    // Stops the periodic flusher, flushes unless noFlush, drops the logger from spdlog's
    // registry and releases it and its pool. When the default logger was this one, the default
    // logger Register replaced comes back. Nothing happens without a logger.
    void Shutdown(bool noFlush);

    // The logger of the last successful configuration; null before and after Shutdown.
    const std::shared_ptr<spdlog::logger>& Logger() const { return m_pLogger; }
    // The level last taken from "config" "log_level" (0 before).
    int Level() const { return m_nLevel; }

private:
    std::shared_ptr<spdlog::details::thread_pool> m_pThreadPool;
    std::shared_ptr<spdlog::logger> m_pLogger;
    std::unique_ptr<spdlog::details::periodic_worker> m_pPeriodicFlusher;
    int m_nLevel = 0;
    std::function<void(const std::string&)> m_fnErrorHandler;
    // spdlog's default logger before Register, restored by Shutdown, and the logger Register
    // installed (an earlier configuration's logger, once reconfigured)
    std::shared_ptr<spdlog::logger> m_pReplacedDefault;
    std::weak_ptr<spdlog::logger> m_pRegistered;
};

}  // namespace API
}  // namespace OXA
