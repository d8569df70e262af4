// The logging facade: counting users, the format table, configuration files, and the exits
// for a bad configuration or a missing file. Its own executable: it replaces spdlog's default
// logger. Every test starts with no user counted and no logger, whatever ran before it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "DailyLog.h"
#include "api_common/code_common/LoggerFacade.h"
#include "support/TestApi.h"

namespace api = OXA::API;

namespace OXA {
namespace API {
// The facade's count of users: the fixture puts it back to 0 between tests.
extern std::atomic<int> _gLoggerInitCount;
}  // namespace API
}  // namespace OXA

namespace {

// A synchronous logger named name writing "%v" lines to <dir>/<stem>.log.
std::string Config(const std::string& name, const std::string& dir, const std::string& stem) {
    return "{\"loggers\":[{\"type\":\"file\",\"path\":\"" + dir + "/" + stem +
           ".log\",\"format\":\"%v\"}],\"config\":{\"name\":\"" + name + "\",\"mode\":\"sync\"}}";
}

class LoggerFacadeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFacade();
        m_dir = oxa_test::TestLogDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // a repeated run starts from an empty folder, not from the files of the last one
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { ResetFacade(); }

    // No user counted and no logger, even after a test that stopped half-way or released too
    // often: the last release of one counted user shuts down whatever logger is held.
    static void ResetFacade() {
        api::_gLoggerInitCount.store(1);
        api::ReleaseLogger(true);
    }
    std::string m_dir;
};

TEST_F(LoggerFacadeTest, FormatTableBounds) {
    EXPECT_EQ(api::GetLogFormat(20), nullptr);
    EXPECT_EQ(api::GetLogFormat(-1), nullptr);
    EXPECT_EQ(api::GetLogFormat(INT_MIN), nullptr);
    EXPECT_NE(api::GetLogFormat(0), nullptr) << "empty or built, never null";
    EXPECT_NE(api::GetLogFormat(19), nullptr);
}

TEST_F(LoggerFacadeTest, TheLastReleaseShutsTheLoggerDown) {
    auto before = spdlog::default_logger();
    const char* err = "untouched";
    EXPECT_TRUE(api::InitLogger(Config("counted", m_dir, "c"), &err));
    EXPECT_EQ(err, nullptr);
    err = "untouched";
    EXPECT_FALSE(api::InitLogger("not even JSON", &err)) << "a second user builds nothing";
    EXPECT_STREQ(err, "untouched");
    auto mine = spdlog::get("counted");
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(spdlog::default_logger(), mine);
    spdlog::info("line");

    EXPECT_FALSE(api::ReleaseLogger(false));
    EXPECT_EQ(spdlog::get("counted"), mine) << "one user left";
    EXPECT_TRUE(api::ReleaseLogger(false));
    EXPECT_EQ(spdlog::get("counted"), nullptr);
    EXPECT_EQ(spdlog::default_logger(), before) << "the default logger before comes back";
    EXPECT_EQ(oxa_test::ReadDailyLog(m_dir, "c"), "line\n") << "flushed by the last release";
    spdlog::info("still a default logger");
}

TEST_F(LoggerFacadeTest, AReleaseTooManyIsMadeUpByTheNextInit) {
    EXPECT_TRUE(api::ReleaseLogger(true)) << "nothing to shut down";
    EXPECT_FALSE(api::InitLogger(Config("early", m_dir, "e"), nullptr)) << "brings the count back to 0";
    EXPECT_EQ(spdlog::get("early"), nullptr);
    EXPECT_TRUE(api::InitLogger(Config("late", m_dir, "l"), nullptr));
    EXPECT_NE(spdlog::get("late"), nullptr);
    EXPECT_TRUE(api::ReleaseLogger(true));
    EXPECT_EQ(spdlog::get("late"), nullptr);
}

TEST_F(LoggerFacadeTest, FromAFileBuildsTheFormatTable) {
    const std::string path = m_dir + "/logger.json";
    std::ofstream(path) << Config("file_logger", m_dir, "f");
    EXPECT_TRUE(api::InitLoggerFromFile(path.c_str()));
    EXPECT_STREQ(api::GetLogFormat(0), "[{}] {} ");
    EXPECT_STREQ(api::GetLogFormat(1), "[{}] {} [{}] = [{}] ");
    std::string nineteen = "[{}] {} ";
    for (int i = 0; i < 19; ++i) nineteen += "[{}] = [{}] ";
    EXPECT_EQ(api::GetLogFormat(19), nineteen);
    EXPECT_EQ(fmt::format(fmt::runtime(api::GetLogFormat(2)), "Fn", "msg", "a", 1, "b", 2),
              "[Fn] msg [a] = [1] [b] = [2] ");
    spdlog::info(fmt::runtime(api::GetLogFormat(1)), "Fn", "text", "k", "v");
    EXPECT_TRUE(api::ReleaseLogger(false));
    EXPECT_EQ(oxa_test::ReadDailyLog(m_dir, "f"), "[Fn] text [k] = [v] \n");

    // a second file while initialised counts a user and builds nothing
    EXPECT_TRUE(api::InitLoggerFromFile(path.c_str()));
    EXPECT_FALSE(api::InitLoggerFromFile(path.c_str()));
    EXPECT_FALSE(api::ReleaseLogger(false));
    EXPECT_TRUE(api::ReleaseLogger(false));
}

TEST_F(LoggerFacadeTest, AFileThatExistsButCannotBeReadGivesFalse) {
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(api::InitLoggerFromFile(m_dir.c_str())) << "a directory opens but does not read";
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Fatal Error, ReadLogConfigFile[" + m_dir + "] Failed[77]\n");
    // and counted nobody
    EXPECT_TRUE(api::InitLogger(Config("after_dir", m_dir, "a"), nullptr));
    EXPECT_TRUE(api::ReleaseLogger(false));
}

class LoggerFacadeDeathTest : public LoggerFacadeTest {
protected:
    void SetUp() override {
        // the child runs the test afresh: it inherits no thread, folder or exit handler
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        LoggerFacadeTest::SetUp();
    }
};

// The statement's standard output goes to standard error, where the death test looks.
#define TO_STDERR(statement)  \
    do {                      \
        std::fflush(stdout);  \
        ::dup2(2, 1);         \
        statement;            \
    } while (0)

// The table is built once per process, by the first file that is read, so its state before
// that is seen in a process of its own, whatever this one ran before.
TEST_F(LoggerFacadeDeathTest, FormatTableIsEmptyUntilAFileIsReadInAFreshProcess) {
    const std::string config = Config("no_table", m_dir, "n");
    const auto check = [&config] {
        std::string wrong;
        for (int i = 0; i < api::kLogFormatCount; ++i)
            if (api::GetLogFormat(i) == nullptr || *api::GetLogFormat(i) != '\0')
                wrong += "entry " + std::to_string(i) + " is not empty\n";
        if (!api::InitLogger(config, nullptr)) wrong += "InitLogger built nothing\n";
        if (*api::GetLogFormat(0) != '\0') wrong += "InitLogger alone built the table\n";
        if (!api::ReleaseLogger(false)) wrong += "the release did not shut down\n";
        return wrong;
    };
    EXPECT_EXIT(
        {
            const std::string wrong = check();
            std::fputs(wrong.c_str(), stderr);
            std::exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LoggerFacadeDeathTest, ABadConfigurationEndsTheProcess) {
    EXPECT_EXIT(TO_STDERR(api::InitLogger("{}", nullptr)), ::testing::ExitedWithCode(api::kExitBadLogConfig & 0xff),
                "^Init Logger With\\[\\{\\}\\]Failed,\\[-980\\] \\[Error Config File Format\\.\\]\n$");
    EXPECT_EXIT(TO_STDERR(api::InitLogger("", nullptr)), ::testing::ExitedWithCode(-7644 & 0xff),
                "Init Logger With\\[\\]Failed,\\[-979\\] \\[Config Error Offset\\[0\\] Code\\[1\\]\\]");
    const std::string unopenable =
        "{\"loggers\":[{\"type\":\"file\",\"path\":\"/proc/version/x.log\"}],\"config\":{\"name\":\"u\"}}";
    EXPECT_EXIT(TO_STDERR(api::InitLogger(unopenable, nullptr)), ::testing::ExitedWithCode(-7644 & 0xff),
                "Failed,\\[-1984\\] \\[Failed opening file");
}

TEST_F(LoggerFacadeDeathTest, AMissingConfigurationFileEndsTheProcess) {
    // not below the test's folder: the child makes a folder of its own
    const std::string missing = "/nonexistent-oxa-folder/missing.json";
    EXPECT_EXIT(TO_STDERR(api::InitLoggerFromFile(missing.c_str())),
                ::testing::ExitedWithCode(api::kExitNoLogConfigFile & 0xff),
                "^Fatal Error, No Such File\\[" + missing + "\\]\n$");
    EXPECT_EXIT(TO_STDERR(api::InitLoggerFromFile(nullptr)), ::testing::ExitedWithCode(-787 & 0xff),
                "Fatal Error, No Such File\\[\\]");
}

TEST_F(LoggerFacadeDeathTest, ABadConfigurationFileEndsTheProcess) {
    const std::string path = m_dir + "/bad.json";
    std::ofstream(path) << "{\"loggers\":[]}";
    EXPECT_EXIT(TO_STDERR(api::InitLoggerFromFile(path.c_str())), ::testing::ExitedWithCode(-7644 & 0xff),
                "Failed,\\[-985\\] \\[Error Config File Format\\.\\]");
}

}  // namespace
