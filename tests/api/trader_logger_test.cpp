// The API's log file. The logger is built once per process by the first factory call, so
// every test here goes through TestApi(), whose first call names the temporary folder.
#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

#include <filesystem>
#include <fstream>
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

bool DigitsAt(const std::string& s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size()) return false;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

// "[HH:MM:SS:ffffff] [oxa_api] [<thread id>] [<level>] <message>"
bool FollowsLogPattern(const std::string& line, const std::string& level, const std::string& message) {
    if (line.size() < 18 || line[0] != '[' || !DigitsAt(line, 1, 2) || line[3] != ':' || !DigitsAt(line, 4, 2) ||
        line[6] != ':' || !DigitsAt(line, 7, 2) || line[9] != ':' || !DigitsAt(line, 10, 6) || line[16] != ']') {
        return false;
    }
    const std::string logger = " [oxa_api] [";
    if (line.compare(17, logger.size(), logger) != 0) return false;
    std::size_t pos = 17 + logger.size();
    std::size_t digits = 0;
    while (DigitsAt(line, pos + digits, 1)) ++digits;
    if (digits == 0) return false;
    return line.substr(pos + digits) == "] [" + level + "] " + message;
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
    const std::string name = files[0].filename().string();  // oxa_YYYY-MM-DD.log
    EXPECT_TRUE(name.size() == 18 && name.compare(0, 4, "oxa_") == 0 && DigitsAt(name, 4, 4) && name[8] == '-' &&
                DigitsAt(name, 9, 2) && name[11] == '-' && DigitsAt(name, 12, 2) && name.compare(14, 4, ".log") == 0)
        << name;
}

TEST(TraderLogger, LinesFollowThePatternAndReachTheFileAtOnce) {
    oxa_test::TestApi(1, OXA_LOG_LEVEL_INFO);
    spdlog::info("probe-line {}", 42);  // info is at or above debug: flushed on write
    auto lines = LinesWith("probe-line 42");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(FollowsLogPattern(lines[0], "info", "probe-line 42")) << lines[0];
    spdlog::warn("probe-warning");
    auto warnings = LinesWith("probe-warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(FollowsLogPattern(warnings[0], "warning", "probe-warning")) << warnings[0];

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
