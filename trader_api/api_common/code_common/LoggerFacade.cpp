#include "api_common/code_common/LoggerFacade.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "api_common/code_common/FileHelper.h"
#include "api_common/code_common/SPDLogger.h"

namespace OXA {
namespace API {

// Destroyed at exit after the table below.
std::shared_ptr<SPDLogger> _gSpdLogger;
std::atomic<int> _gLoggerInitCount{0};
std::string LogFormatTable[kLogFormatCount];

namespace {

// Serialises building, registering and shutting down _gSpdLogger.
std::mutex g_loggerMutex;

// The table's content never changes once made, so it is made once and published by a flag:
// readers never see a string being rewritten.
std::once_flag g_formatTableOnce;
std::atomic<bool> g_formatTableBuilt{false};

void BuildLogFormatTable() {
    std::call_once(g_formatTableOnce, [] {
        std::string entry = "[{}] {} ";
        for (int i = 0; i < kLogFormatCount; ++i) {
            LogFormatTable[i] = entry;
            entry += "[{}] = [{}] ";
        }
        g_formatTableBuilt.store(true, std::memory_order_release);
    });
}

}  // namespace

const char* GetLogFormat(int n) {
    if (n < 0 || n >= kLogFormatCount) return nullptr;
    if (!g_formatTableBuilt.load(std::memory_order_acquire)) return "";
    return LogFormatTable[n].c_str();
}

bool InitLogger(const std::string& json, const char** err) {
    if (_gLoggerInitCount.fetch_add(1, std::memory_order_acq_rel) != 0) return false;
    int code = kLogConfigOk;
    const char* text = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_loggerMutex);
        if (_gSpdLogger != nullptr) return false;
        _gSpdLogger = std::make_shared<SPDLogger>();
        code = _gSpdLogger->LoadLoggerConfig(json, &text);
        if (err != nullptr) *err = text;
        if (code == kLogConfigOk) {
            _gSpdLogger->Register();
            return true;
        }
    }
    std::printf("Init Logger With[%s]Failed,[%d] [%s]\n", json.c_str(), code, text != nullptr ? text : "");
    std::exit(kExitBadLogConfig);
}

bool InitLoggerFromFile(const char* path) {
    const char* shown = path != nullptr ? path : "";
    if (!FileHelper::fileExists(path)) {
        std::printf("Fatal Error, No Such File[%s]\n", shown);
        std::exit(kExitNoLogConfigFile);
    }
    std::string json;
    const int code = FileHelper::readWholeFile(path, json);
    if (code != 0) {
        std::printf("Fatal Error, ReadLogConfigFile[%s] Failed[%d]\n", shown, code);
        return false;
    }
    BuildLogFormatTable();
    const char* err = nullptr;
    return InitLogger(json, &err);
}

bool ReleaseLogger(bool noFlush) {
    if (_gLoggerInitCount.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) return false;
    std::lock_guard<std::mutex> lock(g_loggerMutex);
    if (_gSpdLogger != nullptr) {
        _gSpdLogger->Shutdown(noFlush);
        _gSpdLogger.reset();
    }
    return true;
}

}  // namespace API
}  // namespace OXA
