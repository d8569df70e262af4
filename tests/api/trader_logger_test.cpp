// The API's log file. The logger is built once per process by the first factory call, so
// every test here goes through TestApi(), whose first call names the temporary folder.
#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "api/TraderImpl.h"
#include "support/TestApi.h"

using OXA::API::TraderApi;

namespace {

namespace fs = std::filesystem;

// The daily sink puts the date into the file name: <dir>/oxa_YYYY-MM-DD.log.
std::vector<fs::path> LogFiles(const std::string& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (!fs::exists(dir, ec)) return files;
    for (const auto& entry : fs::directory_iterator(dir, ec)) files.push_back(entry.path());
    return files;
}

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const auto& file : LogFiles(oxa_test::TestLogDir())) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LinesWith(const std::string& needle) {
    std::vector<std::string> found;
    for (const auto& line : LogLines()) {
        if (line.find(needle) != std::string::npos) found.push_back(line);
    }
    return found;
}

TEST(TraderLogger, DailyFileInTheGivenFolderNamedAfterThePath) {
    oxa_test::TestApi(1, OXA_LOG_LEVEL_INFO);
    auto files = LogFiles(oxa_test::TestLogDir());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex(R"(oxa_\d{4}-\d{2}-\d{2}\.log)")))
        << files[0];
}

TEST(TraderLogger, LinesFollowThePatternAndReachTheFileAtOnce) {
    oxa_test::TestApi(1, OXA_LOG_LEVEL_INFO);
    spdlog::info("probe-line {}", 42);  // info is at or above debug: flushed on write
    auto lines = LinesWith("probe-line 42");
    ASSERT_EQ(lines.size(), 1u);
    const std::regex pattern(R"(\[\d{2}:\d{2}:\d{2}:\d{6}\] \[oxa_api\] \[\d+\] \[info\] probe-line 42)");
    EXPECT_TRUE(std::regex_match(lines[0], pattern)) << lines[0];

    auto init = LinesWith("[CreateTraderApi] clientid [1] path [" + oxa_test::TestLogPath() + "] loglevel [3]");
    EXPECT_FALSE(init.empty());
    EXPECT_EQ(spdlog::default_logger()->name(), "oxa_api");
}

TEST(TraderLogger, SecondFactoryCallChangesTheClientIdButNotTheFileOrLevel) {
    OXA::API::TraderImpl* api = oxa_test::TestApi(1, OXA_LOG_LEVEL_INFO);
    const std::string other_dir = oxa_test::TestLogDir() + "_other";
    const std::string other_path = other_dir + "/oxa.log";

    TraderApi* again = TraderApi::CreateTraderApi(9, other_path.c_str(), OXA_LOG_LEVEL_TRACE);
    EXPECT_EQ(again, api);
    EXPECT_EQ(api->GetClientId(), 9);
    EXPECT_EQ(api->GetOxaLogLevel(), 5) << "the value itself is stored (the bus gets it)";

    spdlog::debug("debug-probe-after-second-call");
    spdlog::info("info-probe-after-second-call");
    EXPECT_TRUE(LinesWith("debug-probe-after-second-call").empty()) << "the level stays info";
    EXPECT_EQ(LinesWith("info-probe-after-second-call").size(), 1u) << "the file stays";
    EXPECT_FALSE(fs::exists(other_dir)) << "no second log file";
    EXPECT_FALSE(LinesWith("clientid [9] path [" + other_path + "] loglevel [5]").empty());

    oxa_test::TestApi(1, OXA_LOG_LEVEL_INFO);
    EXPECT_EQ(api->GetClientId(), 1);
}

TEST(TraderLogger, LevelMapping) {
    struct Case {
        int oxa;
        spdlog::level::level_enum spd;
    };
    const Case cases[] = {
        {0, spdlog::level::critical}, {1, spdlog::level::err},   {2, spdlog::level::warn},
        {3, spdlog::level::info},     {4, spdlog::level::debug}, {5, spdlog::level::trace},
        {-1, spdlog::level::trace},   {6, spdlog::level::trace}, {1000, spdlog::level::trace},
    };
    for (const auto& c : cases) EXPECT_EQ(OXA::API::ToSpdLogLevel(c.oxa), c.spd) << c.oxa;
}

TEST(TraderLogger, LoggerErrorsGoToStandardError) {
    ::testing::internal::CaptureStderr();
    OXA::API::TraderImpl::OnLoggerError("disk full");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "LoggerException:[disk full]\n");
}

}  // namespace
