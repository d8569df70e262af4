// Drives the JSON logger configuration reader and the JSON parse operations with arbitrary
// text. The reader must give one of its codes, with settings inside their ranges on success;
// the parse operations must agree with it on what is valid JSON; the in-place parse reads its
// buffer only up to the length (the buffer has no terminator). Accepted synchronous
// configurations with standard-output sinks only are also built (files are never made).
#include <sys/sysinfo.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "api_common/code_common/JsonHelper.h"
#include "api_common/code_common/LoggerConfig.h"
#include "api_common/code_common/SPDLogger.h"

namespace api = OXA::API;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool KnownCode(int code) {
    switch (code) {
        case api::kLogConfigOk:
        case api::kLogConfigParserThrew:
        case api::kLogConfigSyntax:
        case api::kLogConfigNoLoggers:
        case api::kLogConfigLoggersNotArray:
        case api::kLogConfigNoConfig:
        case api::kLogConfigNoName:
        case api::kLogConfigNoSinks:
        case api::kLogConfigNoSinkType:
        case api::kLogConfigNoSinkPath:
        case api::kLogConfigAsyncPool:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string json(reinterpret_cast<const char*>(data), size);

    api::LogSettings settings;
    std::string text;
    const int code = api::ReadLoggerConfig(json, settings, text);
    Check(KnownCode(code));
    Check((code == api::kLogConfigSyntax || code == api::kLogConfigParserThrew) != text.empty());
    if (code == api::kLogConfigOk) {
        Check(!settings.sinks.empty());
        for (const auto& sink : settings.sinks) {
            Check(!sink.hasLevel || (sink.level >= 0 && sink.level <= 6));
            Check(sink.file || sink.path.empty());
        }
        Check(!settings.hasLevel || (settings.level >= 0 && settings.level <= 6));
        Check(settings.flushLevel >= 0 && settings.flushLevel <= 6);
        if (!settings.sync) {
            Check(settings.queueSize >= 1);
            Check(settings.threads >= 1 && settings.threads <= static_cast<unsigned>(get_nprocs()));
        }
    }

    rapidjson::Document doc;
    const std::string* err = nullptr;
    const bool parsed = api::ParseJson(doc, &err, json);
    Check(parsed == (code != api::kLogConfigSyntax && code != api::kLogConfigParserThrew));
    Check(parsed == (err == nullptr));

    std::unordered_map<std::string, std::string> map;
    const bool mapped = api::JsonObjectToStringMap(map, nullptr, json);
    Check(!mapped || (parsed && doc.IsObject()));

    // an exact-size copy without a terminator, so a read past its end is caught
    std::vector<char> insitu(json.begin(), json.end());
    char* buffer = insitu.empty() ? nullptr : insitu.data();
    api::ParseJsonInsitu(nullptr, &err, buffer, static_cast<unsigned>(insitu.size()));

    bool stdout_only = code == api::kLogConfigOk && settings.sync;
    for (const auto& sink : settings.sinks) stdout_only = stdout_only && !sink.file;
    if (stdout_only && settings.periodicFlushSeconds <= 0) {
        api::SPDLogger logger;
        const char* load_err = "";
        Check(logger.LoadLoggerConfig(json, &load_err) == api::kLogConfigOk || load_err != nullptr);
    }
    return 0;
}
