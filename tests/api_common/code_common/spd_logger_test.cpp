// The logger object against its log files: patterns, sink levels, truncation, flushing,
// asynchronous mode, reconfiguration, and registration as spdlog's default logger.
// Its own executable: it replaces spdlog's default logger.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <spdlog/spdlog.h>
#include <spdlog/sinks/null_sink.h>

#include "DailyLog.h"
#include "api_common/code_common/SPDLogger.h"
#include "support/TestApi.h"

using OXA::API::SPDLogger;

namespace {

class SPDLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = oxa_test::TestLogDir() + "/" + info->name();
        // a repeated run starts from an empty folder, not from the files of the last one
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    // A file sink on <dir>/<stem>.log with the given extra members.
    std::string FileSink(const std::string& stem, const std::string& extra = "") const {
        return "{\"type\":\"file\",\"path\":\"" + m_dir + "/" + stem + ".log\"" + (extra.empty() ? "" : ",") + extra +
               "}";
    }
    static std::string Config(const std::string& sinks, const std::string& config) {
        return "{\"loggers\":[" + sinks + "],\"config\":{" + config + "}}";
    }
    std::string Log(const std::string& stem) const { return oxa_test::ReadDailyLog(m_dir, stem); }

    // Waits up to bound for text to appear in the log.
    bool Eventually(const std::string& stem, const std::string& text, std::chrono::seconds bound) const {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Log(stem).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return Log(stem).find(text) != std::string::npos;
    }

    std::string m_dir;
};

TEST_F(SPDLoggerTest, SinkPatternsAndLevelsThenTheLoggerPatternOverridesThem) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("all", "\"format\":\"A|%l|%v\"") + "," +
                                                 FileSink("warn", "\"format\":\"W|%v\",\"log_level\":3"),
                                             "\"name\":\"levels\",\"mode\":\"sync\",\"log_level\":0"),
                                      nullptr),
              0);
    EXPECT_EQ(logger.Level(), 0);
    auto log = logger.Logger();
    log->trace("t1");
    log->info("i1");
    log->warn("w1");
    log->error("e1");
    logger.Shutdown(false);
    EXPECT_EQ(Log("all"), "A|trace|t1\nA|info|i1\nA|warning|w1\nA|error|e1\n");
    EXPECT_EQ(Log("warn"), "W|w1\nW|e1\n");

    SPDLogger both;
    ASSERT_EQ(both.LoadLoggerConfig(Config(FileSink("x", "\"format\":\"X %v\"") + "," + FileSink("y"),
                                           "\"name\":\"override\",\"mode\":\"sync\",\"format\":\"<%v>\""),
                                    nullptr),
              0);
    both.Logger()->info("m");
    both.Logger()->debug("below the logger's default level");
    both.Shutdown(false);
    EXPECT_EQ(Log("x"), "<m>\n");
    EXPECT_EQ(Log("y"), "<m>\n");
}

TEST_F(SPDLoggerTest, TruncateOneEmptiesTheDaysFileAnythingElseAppends) {
    auto write = [&](const std::string& truncate, const std::string& text) {
        SPDLogger logger;
        const std::string extra = "\"format\":\"%v\"" + (truncate.empty() ? "" : ",\"truncate\":" + truncate);
        ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("t", extra), "\"name\":\"trunc\",\"mode\":\"sync\""),
                                          nullptr),
                  0);
        logger.Logger()->info(text);
        logger.Shutdown(false);
    };
    write("", "one");
    write("2", "two");
    write("true", "three");
    EXPECT_EQ(Log("t"), "one\ntwo\nthree\n");
    write("1", "four");
    EXPECT_EQ(Log("t"), "four\n");
}

TEST_F(SPDLoggerTest, FlushLevelAndNoFlushShutdown) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(
                  Config(FileSink("f", "\"format\":\"%v\""), "\"name\":\"flush\",\"mode\":\"sync\""), nullptr),
              0);
    auto held = logger.Logger();  // keeps the file open past Shutdown
    held->info("buffered");
    EXPECT_EQ(Log("f"), "") << "below the flush level the line waits in the file buffer";
    held->error("flushed");
    EXPECT_EQ(Log("f"), "buffered\nflushed\n");
    held->info("tail");
    logger.Shutdown(true);
    EXPECT_EQ(Log("f"), "buffered\nflushed\n") << "no flush on Shutdown(true)";
    held.reset();
    EXPECT_EQ(Log("f"), "buffered\nflushed\ntail\n");

    SPDLogger flushing;
    ASSERT_EQ(flushing.LoadLoggerConfig(Config(FileSink("g", "\"format\":\"%v\""),
                                               "\"name\":\"flush2\",\"mode\":\"sync\",\"flush_level\":9"),
                                        nullptr),
              0);
    held = flushing.Logger();
    held->error("error is below critical");
    EXPECT_EQ(Log("g"), "");
    flushing.Shutdown(false);
    EXPECT_EQ(Log("g"), "error is below critical\n");
}

TEST_F(SPDLoggerTest, PeriodicFlushWritesWithinItsInterval) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("p", "\"format\":\"%v\""),
                                             "\"name\":\"periodic\",\"mode\":\"sync\",\"periodic_flush_interval\":1"),
                                      nullptr),
              0);
    logger.Logger()->info("later");
    EXPECT_TRUE(Eventually("p", "later\n", std::chrono::seconds(30)));
    logger.Shutdown(false);
}

TEST_F(SPDLoggerTest, AsynchronousLoggerWritesEverythingByShutdown) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("a", "\"format\":\"%v\""),
                                             "\"name\":\"async\",\"async_queue\":16,\"async_thread\":1"),
                                      nullptr),
              0);
    ASSERT_NE(std::dynamic_pointer_cast<spdlog::async_logger>(logger.Logger()), nullptr);
    std::thread writers[3];
    for (int t = 0; t < 3; ++t)
        writers[t] = std::thread([&, t] {
            for (int i = 0; i < 200; ++i) logger.Logger()->info("{}-{}", t, i);
        });
    for (auto& w : writers) w.join();
    logger.Shutdown(false);
    const std::string text = Log("a");
    int lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 600) << "the block policy loses nothing";
    EXPECT_NE(text.find("2-199\n"), std::string::npos);
}

TEST_F(SPDLoggerTest, ReconfigurationReplacesLoggerPoolAndFlusher) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("r1", "\"format\":\"%v\""),
                                             "\"name\":\"first\",\"periodic_flush_interval\":1,\"log_level\":1"),
                                      nullptr),
              0);
    std::weak_ptr<spdlog::logger> first = logger.Logger();
    logger.Logger()->info("queued before");
    ASSERT_EQ(logger.LoadLoggerConfig(
                  Config(FileSink("r2", "\"format\":\"%v\""), "\"name\":\"second\",\"mode\":\"sync\""), nullptr),
              0);
    EXPECT_TRUE(first.expired()) << "no flusher or pool keeps the first logger alive";
    EXPECT_EQ(Log("r1"), "queued before\n") << "the old pool wrote what it held";
    EXPECT_EQ(logger.Level(), 1) << "a configuration without log_level keeps the level";
    EXPECT_EQ(logger.Logger()->name(), "second");

    // a refused reconfiguration leaves the logger as it was
    auto current = logger.Logger();
    EXPECT_EQ(logger.LoadLoggerConfig("{}", nullptr), -980);
    EXPECT_EQ(logger.Logger(), current);
    logger.Shutdown(false);
    EXPECT_EQ(logger.Logger(), nullptr);
    logger.Shutdown(false);  // nothing left: nothing happens
}

TEST_F(SPDLoggerTest, RegisterAndShutdownHandTheDefaultLoggerBack) {
    auto before = std::make_shared<spdlog::logger>("before", std::make_shared<spdlog::sinks::null_sink_mt>());
    spdlog::set_default_logger(before);

    SPDLogger empty;
    empty.Register();
    EXPECT_EQ(spdlog::default_logger(), before) << "registering without a logger changes nothing";
    empty.Shutdown(false);

    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("d", "\"format\":\"%v\""), "\"name\":\"mine\",\"mode\":\"sync\""),
                                      nullptr),
              0);
    logger.Register();
    EXPECT_EQ(spdlog::default_logger(), logger.Logger());
    EXPECT_EQ(spdlog::get("mine"), logger.Logger());
    EXPECT_EQ(spdlog::get("before"), nullptr) << "the replaced default leaves the registry";
    logger.Register();  // again: still hands back the first replaced logger
    spdlog::info("through the default");
    logger.Shutdown(false);
    EXPECT_EQ(Log("d"), "through the default\n");
    EXPECT_EQ(spdlog::get("mine"), nullptr);
    EXPECT_EQ(spdlog::default_logger(), before);
    EXPECT_EQ(spdlog::get("before"), before);
    spdlog::info("the default logger works after the shutdown");

    // not the default: only its registry entry goes
    SPDLogger other;
    ASSERT_EQ(other.LoadLoggerConfig(Config(FileSink("o"), "\"name\":\"other\",\"mode\":\"sync\""), nullptr), 0);
    spdlog::register_logger(other.Logger());
    other.Shutdown(false);
    EXPECT_EQ(spdlog::get("other"), nullptr);
    EXPECT_EQ(spdlog::default_logger(), before);
}

TEST_F(SPDLoggerTest, ErrorsWhileLoggingReachTheErrorHandler) {
    SPDLogger logger;
    ASSERT_EQ(logger.LoadLoggerConfig(Config(FileSink("e"), "\"name\":\"errors\",\"mode\":\"sync\""), nullptr), 0);
    ::testing::internal::CaptureStderr();
    logger.Logger()->info(fmt::runtime("{} {}"), 1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("LoggerException:[", 0), 0u) << err;
    EXPECT_EQ(err.substr(err.size() - 2), "]\n") << err;
    logger.Shutdown(false);
}

TEST_F(SPDLoggerTest, DailyFilesOfOtherDaysAreNotReadAsThisRunsLog) {
    // the reading helper of the tests above checks the day in the file name
    const std::string today = oxa_test::DailyLogDay(std::time(nullptr));
    std::ofstream(m_dir + "/h_" + today + ".log") << "today\n";
    EXPECT_EQ(oxa_test::ReadDailyLog(m_dir, "h"), "today\n");
    for (const char* other : {"h_1999-12-31.log", "h_x.log", "h_.log"}) {
        const std::string path = m_dir + "/" + other;
        std::ofstream(path) << "other\n";
        std::string read;
        EXPECT_NONFATAL_FAILURE(read = oxa_test::ReadDailyLog(m_dir, "h"), other);
        EXPECT_EQ(read, "today\n") << other;
        std::filesystem::remove(path);
    }
}

TEST_F(SPDLoggerTest, ConfigurationFromAFile) {
    const std::string path = m_dir + "/config.json";
    {
        std::ofstream out(path);
        out << Config(FileSink("cf", "\"format\":\"%v\""), "\"name\":\"fromfile\",\"mode\":\"sync\"");
    }
    SPDLogger logger;
    const char* err = "untouched";
    EXPECT_EQ(logger.LoadLoggerConfigFile(path.c_str(), &err), 0);
    EXPECT_EQ(err, nullptr);
    logger.Shutdown(false);

    for (const std::string& bad : {m_dir + "/missing.json", m_dir}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(logger.LoadLoggerConfigFile(bad.c_str(), &err), 77) << bad;
        std::fflush(stdout);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Read Config File Failed.");
        EXPECT_STREQ(err, "Read Config File Failed.");
    }
}

}  // namespace
