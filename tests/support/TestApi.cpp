#include "TestApi.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace oxa_test {

namespace {

std::string MakeTempDir() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "oxa_test_XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return std::string(buf.data());
}

void RemoveTestLogDir() {
    std::error_code ec;
    std::filesystem::remove_all(TestLogDir(), ec);
}

}  // namespace

const std::string& TestLogDir() {
    // never destroyed, so the exit handler below still finds it
    static const std::string* dir = [] {
        auto* d = new std::string(MakeTempDir());
        return d;
    }();
    static const bool cleanup = std::atexit(RemoveTestLogDir) == 0;
    (void)cleanup;
    return *dir;
}

std::string TestLogPath() { return TestLogDir() + "/oxa.log"; }

namespace {
std::atomic<OXA::API::TraderImpl*> g_testApi{nullptr};
}  // namespace

OXA::API::TraderImpl* TestApi(unsigned char client_id, OXA_LOG_LEVEL level) {
    OXA::API::TraderApi* api = OXA::API::TraderApi::CreateTraderApi(client_id, TestLogPath().c_str(), level);
    if (api == nullptr) throw std::runtime_error("CreateTraderApi refused a valid client id");
    auto* impl = static_cast<OXA::API::TraderImpl*>(api);
    g_testApi.store(impl);
    return impl;
}

OXA::API::TraderImpl* ExistingTestApi() { return g_testApi.load(); }

}  // namespace oxa_test
