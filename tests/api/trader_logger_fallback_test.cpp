// A log folder that cannot be created must not cost the application its API object.
// Its own executable: the logger is built by the first factory call of the process.
#include <gtest/gtest.h>

#include <spdlog/spdlog.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "api/TraderImpl.h"
#include "support/TestApi.h"

using OXA::API::TraderApi;

namespace {

TEST(TraderLoggerFallback, UnwritableFolderLeavesTheApiWorkingAndSaysSo) {
    // a path below a regular file can never be created, whoever runs the test
    const std::string blocker = oxa_test::TestLogDir() + "/not_a_folder";
    { std::ofstream(blocker) << "x"; }
    const std::string path = blocker + "/logs/oxa.log";

    ::testing::internal::CaptureStderr();
    TraderApi* api = TraderApi::CreateTraderApi(3, path.c_str(), OXA_LOG_LEVEL_INFO);
    spdlog::info("fallback-probe");
    const std::string err = ::testing::internal::GetCapturedStderr();

    ASSERT_NE(api, nullptr);
    EXPECT_NE(err.find("cannot open the log file [" + path + "]"), std::string::npos) << err;
    EXPECT_NE(err.find("fallback-probe"), std::string::npos) << "the log goes to standard error";
    EXPECT_STREQ(api->GetApiVersion(), "2.23.1.0");
    EXPECT_EQ(api->QueryAsset(1, 1), 1004);
    EXPECT_EQ(api->GetApiLastError()->error_id, 1004);

    // a later call with a good path keeps the process's logger as it is
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(TraderApi::CreateTraderApi(4, oxa_test::TestLogPath().c_str(), OXA_LOG_LEVEL_INFO), api);
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists(oxa_test::TestLogPath()));
}

}  // namespace
