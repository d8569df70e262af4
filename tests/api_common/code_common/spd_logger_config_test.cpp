// The JSON logger configuration: every refusal in the order the checks run, with its code and
// text; the settings each key gives; a refused configuration touches no file.
#include <gtest/gtest.h>

#include <sys/sysinfo.h>

#include <fstream>
#include <iterator>
#include <string>

#include "api_common/code_common/LoggerConfig.h"
#include "api_common/code_common/SPDLogger.h"
#include "support/TestApi.h"

using OXA::API::LogSettings;
using OXA::API::ReadLoggerConfig;
using OXA::API::SPDLogger;

namespace {

constexpr const char* kFormat = "Error Config File Format.";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// $DIR: a folder of the test; $CPUS1: one more than the processors online.
std::string Expand(const std::string& json) {
    return Replace(Replace(json, "$DIR", oxa_test::TestLogDir()), "$CPUS1", std::to_string(get_nprocs() + 1));
}

struct Refusal {
    const char* json;
    int code;
    const char* text;  // null: starts with the prefix in text_prefix
    const char* text_prefix;
};

// In the order the checks run; each row also passes every check before its own.
const Refusal kRefusals[] = {
    {"", -979, "Config Error Offset[0] Code[1]", nullptr},
    {"{} 1", -979, "Config Error Offset[3] Code[2]", nullptr},
    {"\xEF\xBB\xBF", -979, "Config Error Offset[3] Code[1]", nullptr},
    {"{\"loggers\":[],}", -979, "Config Error Offset[14] Code[4]", nullptr},
    {"{}", -980, kFormat, nullptr},
    {"[]", -980, kFormat, nullptr},
    {"\"loggers\"", -980, kFormat, nullptr},
    {"{\"Loggers\":[]}", -980, kFormat, nullptr},
    {"{\"loggers\":{}}", -981, kFormat, nullptr},
    {"{\"loggers\":\"file\"}", -981, kFormat, nullptr},
    {"{\"loggers\":[]}", -985, kFormat, nullptr},
    {"{\"loggers\":[],\"config\":[]}", -985, kFormat, nullptr},
    {"{\"loggers\":[],\"config\":{}}", -990, kFormat, nullptr},
    {"{\"loggers\":[],\"config\":{\"name\":5}}", -990, kFormat, nullptr},
    {"{\"loggers\":[],\"config\":{\"name\":\"x\"}}", -984, kFormat, nullptr},
    {"{\"loggers\":[{}],\"config\":{\"name\":\"x\"}}", -983, kFormat, nullptr},
    {"{\"loggers\":[1],\"config\":{\"name\":\"x\"}}", -983, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"stdout\"},{\"type\":7}],\"config\":{\"name\":\"x\"}}", -983, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"file\"}],\"config\":{\"name\":\"x\"}}", -982, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"FILE\",\"path\":1}],\"config\":{\"name\":\"x\"}}", -982, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"x\",\"async_queue\":0}}", -991, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"x\",\"async_queue\":-8}}", -991, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"x\",\"async_thread\":0}}", -991, kFormat, nullptr},
    {"{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"x\",\"async_thread\":$CPUS1}}", -991, kFormat,
     nullptr},
    // a file that cannot be opened: the path lies below a regular file
    {"{\"loggers\":[{\"type\":\"file\",\"path\":\"$DIR/blocker/x.log\"}],"
     "\"config\":{\"name\":\"x\",\"mode\":\"sync\"}}",
     -1984, nullptr, "Failed opening file"},
};

class LoggerConfigTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(oxa_test::TestLogDir() + "/blocker") << "x"; }
};

TEST_F(LoggerConfigTest, RefusalsInTheOrderOfTheChecks) {
    for (const auto& row : kRefusals) {
        const std::string json = Expand(row.json);
        SCOPED_TRACE(json);
        SPDLogger logger;
        const char* err = "untouched";
        EXPECT_EQ(logger.LoadLoggerConfig(json, &err), row.code);
        ASSERT_NE(err, nullptr);
        if (row.text != nullptr)
            EXPECT_STREQ(err, row.text);
        else
            EXPECT_EQ(std::string(err).rfind(row.text_prefix, 0), 0u) << err;
        EXPECT_EQ(logger.Logger(), nullptr) << "a refused configuration builds nothing";
        EXPECT_EQ(logger.LoadLoggerConfig(json, nullptr), row.code) << "a null error pointer is accepted";
    }
}

TEST_F(LoggerConfigTest, AcceptedConfigurationsClearTheErrorText) {
    const char* accepted[] = {
        "{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"s1\",\"mode\":\"SYNC\",\"async_thread\":0}}",
        "{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"a1\"}}",
        "\xEF\xBB\xBF{\"loggers\":[{\"type\":\"\"}],\"config\":{\"name\":\"a2\",\"async_queue\":1,\"async_policy\":1}}",
        "{\"loggers\":[{\"type\":\"stdout\"}],\"config\":{\"name\":\"a3\",\"async_thread\":\"0\",\"async_queue\":0.5}}",
    };
    for (const char* json : accepted) {
        SPDLogger logger;
        const char* err = "untouched";
        EXPECT_EQ(logger.LoadLoggerConfig(json, &err), 0) << json;
        EXPECT_EQ(err, nullptr) << json;
        EXPECT_NE(logger.Logger(), nullptr);
        logger.Shutdown(false);
    }
}

TEST_F(LoggerConfigTest, ErrorTextIsPerThreadAndLastsUntilTheNextCall) {
    SPDLogger logger;
    const char* first = nullptr;
    ASSERT_EQ(logger.LoadLoggerConfig("", &first), -979);
    const std::string kept = first;
    const char* second = nullptr;
    ASSERT_EQ(logger.LoadLoggerConfig("{} 1", &second), -979);
    EXPECT_EQ(kept, "Config Error Offset[0] Code[1]");
    EXPECT_STREQ(second, "Config Error Offset[3] Code[2]");
}

TEST_F(LoggerConfigTest, ARefusedConfigurationTouchesNoFile) {
    // the first sink would truncate a file with content, the second sink is bad
    const std::string dir = oxa_test::TestLogDir() + "/untouched";
    const std::string json = "{\"loggers\":[{\"type\":\"file\",\"path\":\"" + dir +
                             "/kept.log\",\"truncate\":1},{\"type\":\"file\"}],\"config\":{\"name\":\"t\"}}";
    SPDLogger logger;
    EXPECT_EQ(logger.LoadLoggerConfig(json, nullptr), -982);
    EXPECT_FALSE(std::ifstream(dir).good()) << "not even the folder is made";

    const std::string bad_pool = "{\"loggers\":[{\"type\":\"file\",\"path\":\"" + dir +
                                 "/kept.log\"}],\"config\":{\"name\":\"t\",\"async_thread\":0}}";
    EXPECT_EQ(logger.LoadLoggerConfig(bad_pool, nullptr), -991);
    EXPECT_FALSE(std::ifstream(dir).good());
}

struct SettingsRow {
    const char* config;  // members of "config"
    const char* sink;    // the one sink's members
    // expected
    bool sync;
    bool file;
    bool truncate;
    int sink_level;      // -1: none
    int level;           // -1: none
    int flush_level;
    int queue;
    unsigned threads;
    bool overrun;
    int interval;
};

const SettingsRow kSettings[] = {
    // defaults
    {"", "\"type\":\"stdout\"", false, false, false, -1, -1, 4, 8192, 1, false, 0},
    {"\"mode\":\"sync\"", "\"type\":\"file\",\"path\":\"p\"", true, true, false, -1, -1, 4, 8192, 1, false, 0},
    {"\"mode\":\"SyNc\"", "\"type\":\"FiLe\",\"path\":\"p\",\"truncate\":1", true, true, true, -1, -1, 4, 8192, 1,
     false, 0},
    {"\"mode\":\"synchronous\"", "\"type\":\"files\",\"truncate\":1", false, false, false, -1, -1, 4, 8192, 1, false,
     0},
    {"\"mode\":1", "\"type\":\"file\",\"path\":\"p\",\"truncate\":2", false, true, false, -1, -1, 4, 8192, 1, false,
     0},
    {"", "\"type\":\"file\",\"path\":\"p\",\"truncate\":true", false, true, false, -1, -1, 4, 8192, 1, false, 0},
    // levels: above 6 become 6 (flush: 5), below 0 become 0, non-integers are absent
    {"\"log_level\":9,\"flush_level\":9", "\"type\":\"s\",\"log_level\":9", false, false, false, 6, 6, 5, 8192, 1,
     false, 0},
    {"\"log_level\":6,\"flush_level\":6", "\"type\":\"s\",\"log_level\":-2", false, false, false, 0, 6, 6, 8192, 1,
     false, 0},
    {"\"log_level\":-1,\"flush_level\":-1", "\"type\":\"s\",\"log_level\":2.0", false, false, false, -1, 0, 0, 8192,
     1, false, 0},
    {"\"log_level\":\"3\",\"flush_level\":4294967296", "\"type\":\"s\",\"log_level\":3", false, false, false, 3, -1,
     4, 8192, 1, false, 0},
    // the pool
    {"\"async_queue\":1,\"async_thread\":1,\"async_policy\":1", "\"type\":\"s\"", false, false, false, -1, -1, 4, 1,
     1, true, 0},
    {"\"async_queue\":2147483648,\"async_thread\":-1,\"async_policy\":2", "\"type\":\"s\"", false, false, false, -1,
     -1, 4, 8192, 1, false, 0},
    {"\"async_policy\":true", "\"type\":\"s\"", false, false, false, -1, -1, 4, 8192, 1, false, 0},
    {"\"periodic_flush_interval\":3", "\"type\":\"s\"", false, false, false, -1, -1, 4, 8192, 1, false, 3},
    {"\"periodic_flush_interval\":-3", "\"type\":\"s\"", false, false, false, -1, -1, 4, 8192, 1, false, -3},
};

TEST(LoggerSettings, WhatEachKeyGives) {
    for (const auto& row : kSettings) {
        const std::string json = std::string("{\"loggers\":[{") + row.sink + "}],\"config\":{\"name\":\"n\"" +
                                 (row.config[0] ? "," : "") + row.config + "}}";
        SCOPED_TRACE(json);
        LogSettings s;
        std::string text = "stale";
        ASSERT_EQ(ReadLoggerConfig(json, s, text), 0);
        EXPECT_EQ(text, "");
        EXPECT_EQ(s.name, "n");
        EXPECT_EQ(s.sync, row.sync);
        ASSERT_EQ(s.sinks.size(), 1u);
        EXPECT_EQ(s.sinks[0].file, row.file);
        EXPECT_EQ(s.sinks[0].truncate, row.truncate);
        EXPECT_EQ(s.sinks[0].hasLevel ? s.sinks[0].level : -1, row.sink_level);
        EXPECT_EQ(s.hasLevel ? s.level : -1, row.level);
        EXPECT_EQ(s.flushLevel, row.flush_level);
        if (!row.sync) {
            EXPECT_EQ(s.queueSize, row.queue);
            EXPECT_EQ(s.threads, row.threads);
            EXPECT_EQ(s.overrunOldest, row.overrun);
        }
        EXPECT_EQ(s.periodicFlushSeconds, row.interval);
    }
}

TEST(LoggerSettings, FirstOfRepeatedNamesAndPatterns) {
    LogSettings s;
    std::string text;
    ASSERT_EQ(ReadLoggerConfig("{\"loggers\":[{\"type\":\"s\",\"format\":\"%v\"}],\"config\":{\"name\":\"a\","
                               "\"name\":\"b\",\"format\":\"[%l] %v\"},\"config\":{}}",
                               s, text),
              0);
    EXPECT_EQ(s.name, "a");
    EXPECT_TRUE(s.hasPattern);
    EXPECT_EQ(s.pattern, "[%l] %v");
    EXPECT_TRUE(s.sinks[0].hasPattern);
    EXPECT_EQ(s.sinks[0].pattern, "%v");
}

}  // namespace
