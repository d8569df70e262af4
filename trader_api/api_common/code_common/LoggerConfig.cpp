#include "api_common/code_common/LoggerConfig.h"

#include <sys/sysinfo.h>

#include <exception>

#include "api_common/code_common/JsonHelper.h"
#include "api_common/code_common/xTools.h"

namespace OXA {
namespace API {

namespace {

constexpr int kLevelOff = 6;
constexpr int kLevelCritical = 5;

int ClampLevel(int level, int high) {
    if (level < 0) return 0;
    return level > kLevelOff ? high : level;
}

int ReadSink(const rapidjson::Value& item, LogSinkSettings& sink) {
    const char* type = nullptr;
    if (!GetStringMember(item, "type", &type)) return kLogConfigNoSinkType;
    sink.file = EqualsIgnoreCase(type, "file");
    if (sink.file) {
        const char* path = nullptr;
        if (!GetStringMember(item, "path", &path)) return kLogConfigNoSinkPath;
        sink.path = path;
        int truncate = 0;
        GetIntMember(item, "truncate", &truncate);
        sink.truncate = truncate == 1;
    }
    int level = 0;
    if (GetIntMember(item, "log_level", &level)) {
        sink.hasLevel = true;
        sink.level = ClampLevel(level, kLevelOff);
    }
    const char* pattern = nullptr;
    if (GetStringMember(item, "format", &pattern)) {
        sink.hasPattern = true;
        sink.pattern = pattern;
    }
    return kLogConfigOk;
}

}  // namespace

int ReadLoggerConfig(const std::string& json, LogSettings& settings, std::string& errorText) {
    settings = LogSettings{};
    errorText.clear();

    rapidjson::Document doc;
    rapidjson::ParseResult parsed;
    try {
        parsed = ParseJsonDocument(doc, json.data(), json.size());
    } catch (const std::exception& e) {
        errorText = e.what();
        return kLogConfigParserThrew;
    } catch (...) {
        errorText = "unknown exception";
        return kLogConfigParserThrew;
    }
    if (parsed.IsError()) {
        errorText = xTools::thFormat("Config Error Offset[%d] Code[%d]", static_cast<int>(parsed.Offset()),
                                     static_cast<int>(parsed.Code()));
        return kLogConfigSyntax;
    }

    // The member readers take a non-object as having no members.
    const rapidjson::Value* loggers = nullptr;
    if (doc.IsObject()) {
        const auto it = doc.FindMember("loggers");
        if (it != doc.MemberEnd()) loggers = &it->value;
    }
    if (loggers == nullptr) return kLogConfigNoLoggers;
    if (!loggers->IsArray()) return kLogConfigLoggersNotArray;
    if (!HasMemberOfType(doc, "config", rapidjson::kObjectType)) return kLogConfigNoConfig;
    const rapidjson::Value& config = doc["config"];

    const char* name = nullptr;
    if (!GetStringMember(config, "name", &name)) return kLogConfigNoName;
    settings.name = name;
    const char* mode = nullptr;
    settings.sync = GetStringMember(config, "mode", &mode) && EqualsIgnoreCase(mode, "sync");

    if (loggers->Empty()) return kLogConfigNoSinks;
    settings.sinks.reserve(loggers->Size());
    for (const auto& item : loggers->GetArray()) {
        LogSinkSettings sink;
        const int code = ReadSink(item, sink);
        if (code != kLogConfigOk) return code;
        settings.sinks.push_back(std::move(sink));
    }

    if (!settings.sync) {
        // a pool without a slot could never carry a message: every logging call would wait
        GetIntMember(config, "async_queue", &settings.queueSize);
        if (settings.queueSize < 1) return kLogConfigAsyncPool;
        GetUintMember(config, "async_thread", &settings.threads);
        const int online = get_nprocs();
        const unsigned processors = online < 0 ? 0u : static_cast<unsigned>(online);
        if (settings.threads == 0 || settings.threads > processors) return kLogConfigAsyncPool;
        int policy = 0;
        settings.overrunOldest = GetIntMember(config, "async_policy", &policy) && policy == 1;
    }

    int level = 0;
    if (GetIntMember(config, "log_level", &level)) {
        settings.hasLevel = true;
        settings.level = ClampLevel(level, kLevelOff);
    }
    if (GetIntMember(config, "flush_level", &settings.flushLevel))
        settings.flushLevel = ClampLevel(settings.flushLevel, kLevelCritical);
    const char* pattern = nullptr;
    if (GetStringMember(config, "format", &pattern)) {
        settings.hasPattern = true;
        settings.pattern = pattern;
    }
    GetIntMember(config, "periodic_flush_interval", &settings.periodicFlushSeconds);
    return kLogConfigOk;
}

}  // namespace API
}  // namespace OXA
