// The JSON logger configuration read into plain settings, with no side effect, so that a
// configuration is refused before any sink file is created, opened or truncated.
//
// Codes in the order they are tested; every one but 0, -978 and -979 has the text
// kLogConfigFormatText.
#pragma once

#include <string>
#include <vector>

namespace OXA {
namespace API {

enum LogConfigCode : int {
    kLogConfigOk = 0,
    kLogConfigParserThrew = -978,    // the JSON parser raised; its text
    kLogConfigSyntax = -979,         // not valid JSON; "Config Error Offset[..] Code[..]"
    kLogConfigNoLoggers = -980,      // root has no "loggers" (or is not an object)
    kLogConfigLoggersNotArray = -981,
    kLogConfigNoConfig = -985,       // root has no object "config"
    kLogConfigNoName = -990,         // "config" has no string "name"
    kLogConfigNoSinks = -984,        // "loggers" is empty
    kLogConfigNoSinkType = -983,     // a sink is not an object or has no string "type"
    kLogConfigNoSinkPath = -982,     // a "file" sink has no string "path"
    kLogConfigAsyncPool = -991,      // asynchronous: "async_queue" below 1, or "async_thread" 0 or
                                     // above the processors online
    kLogConfigBuildFailed = -1984,   // spdlog raised while building the sinks or the logger; its text
};

constexpr const char* kLogConfigFormatText = "Error Config File Format.";

struct LogSinkSettings {
    bool file = false;        // daily file sink, else standard output
    std::string path;         // file sinks: base file name
    bool truncate = false;
    bool hasLevel = false;
    int level = 0;            // 0 trace .. 6 off
    bool hasPattern = false;
    std::string pattern;
};

struct LogSettings {
    std::string name;
    bool sync = false;
    std::vector<LogSinkSettings> sinks;
    bool hasLevel = false;
    int level = 0;
    int flushLevel = 4;
    bool hasPattern = false;
    std::string pattern;
    int periodicFlushSeconds = 0;  // 0 or below: none
    int queueSize = 8192;
    unsigned threads = 1;
    bool overrunOldest = false;    // else block
};

// Reads the configuration text into settings. Returns a LogConfigCode; for -978 and -979
// errorText holds the text, for the others it is left empty. Numbers the reading type cannot
// carry (fractions, values beyond 32 bits, a negative "async_thread") count as absent, like a
// member of the wrong JSON type. Levels below 0 read as 0; above 6 as 6 ("flush_level": 5).
int ReadLoggerConfig(const std::string& json, LogSettings& settings, std::string& errorText);

}  // namespace API
}  // namespace OXA
