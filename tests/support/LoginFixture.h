// Shared by the login tests: a stub back-end that logs accounts in as one node, a callback
// recorder and a fixture around the simulated gateway.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <functional>
#include <gtest/gtest.h>

#include "support/TestApi.h"
#include "api/ApiGlobals.h"
#include "api/GatewayMessages.h"
#include "api/SessionTables.h"
#include "api/TraderImpl.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "gateway_sim/GatewaySim.h"
#include "infra/tcp_framework/client/TcpClient.h"

namespace oxa_test {

using namespace std::chrono_literals;
using OXA::API::CInnerApiInterface;
using OXA::API::TraderImpl;
using oxa_sim::GatewaySim;
using oxa_sim::LoginAnswer;
using oxa_sim::ReplyPlan;
using LoginClock = std::chrono::steady_clock;

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = LoginClock::now() + timeout;
    while (!pred()) {
        if (LoginClock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The facade's waits for a test: the gateway login and logout waits given (sat out only when
// something fails) and a reconnect at once.
inline TraderImpl::Timeouts TestWaits(std::chrono::milliseconds gateway_login, std::chrono::milliseconds logout) {
    TraderImpl::Timeouts t;
    t.gateway_login = gateway_login;
    t.logout = logout;
    t.reconnect_pause = 0ms;
    t.reconnect_interval_ms = 50;
    return t;
}

inline uint64_t Le64(const std::vector<uint8_t>& b, size_t off) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[off + i];
    return v;
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t off) {
    return b[off] | b[off + 1] << 8 | b[off + 2] << 16 | static_cast<uint32_t>(b[off + 3]) << 24;
}
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t off) { return static_cast<uint16_t>(b[off] | b[off + 1] << 8); }

// A back-end that logs an account in as node 7 (fund index = an account counter), registers
// its pushes and records what is routed to it.
class LoginBackend : public CInnerApiInterface {
public:
    static constexpr uint8_t kNode = 7;

    uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) override {
        const uint64_t session = uint64_t{kNode} << 16 | ++m_next;
        OXA::API::tagSessionInfo info{};
        info.nFundAcc = fund_account;
        info.nClientID = 3;
        info.nprotocol_type = 1;
        info.nApiSessionID = session;
        if (OXA::API::RegisterSession(info, nullptr, true) == nullptr) return 0;
        if (TradeGatewayPushRegister(client, fund_account) != 0) {
            OXA::API::UnregisterSession(session);
            return 0;
        }
        return session;
    }
    int StartSyncPush() override { return 0; }
    int Logout(uint64_t session_id) override {
        ++logouts;
        OXA::API::UnregisterSession(session_id);
        return 0;
    }
    OXA::API::tagSessionInfo* GetSessionInfo(uint64_t session_id) override {
        return OXA::API::_gArrSessionInfo.Get(session_id);
    }
    void OnRecv(int, uint32_t msg_id, const char*, int length, int, uint8_t, int16_t, int16_t,
                uint32_t node_id) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            routed.push_back({msg_id, node_id, length});
        }
        // where a real back-end calls the application's callbacks: on the io thread
        if (on_recv) on_recv(msg_id);
    }
    // Runs on the io thread for every routed message; set before the message is sent.
    std::function<void(uint32_t msg_id)> on_recv;
    struct Routed {
        uint32_t msg_id;
        uint32_t node;
        int length;
    };
    std::vector<Routed> Routes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return routed;
    }
    std::atomic<int> logouts{0};

private:
    std::atomic<uint32_t> m_next{0};
    std::mutex m_mutex;
    std::vector<Routed> routed;
};

class RecordingSpi : public OXA::API::TraderSpi {
public:
    void OnConnected() override { ++connected; }
    void OnDisconnected(int code) override {
        last_code = code;
        ++disconnected;
    }
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
    std::atomic<int> last_code{0};
};

// The API object is one per process: each test starts from Release and short waits.
// Logins use the socket type of the fixture (fixed for the process once used).
class GatewayLoginTest : public ::testing::Test {
protected:
    explicit GatewayLoginTest(int sock_type = 1) : sock_type_(sock_type) {}

    void SetUp() override {
        api_ = oxa_test::TestApi(3);
        backend_ = nullptr;
        api_->Release();
        TraderImpl::Timeouts t;
        // answers that come are waited for as long as a loaded machine may take; a test that
        // expects no answer shortens the wait (ShortWaits)
        t.gateway_login = 5000ms;
        t.logout = 5000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            backend_ = new LoginBackend();
            return backend_;
        });
        api_->RegisterSpi(&spi_);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->RegisterSpi(nullptr);
        api_->SetInnerApiMaker(nullptr);
        sim_.stop();
    }
    uint64_t Login(const char* user = "1001", OXATerminalInfo* terminal = nullptr) {
        return api_->Login("127.0.0.1", sim_.port(), user, "secret", sock_type_, sock_type_ == 2 ? "lo" : nullptr,
                           terminal);
    }
    // The gateway-login and logout waits of a test that expects one of them to run out.
    void ShortWaits(std::chrono::milliseconds wait = 300ms) {
        TraderImpl::Timeouts t = api_->GetTimeouts();
        t.gateway_login = wait;
        t.logout = wait;
        api_->SetTimeouts(t);
    }
    void LongWaits() { ShortWaits(5000ms); }
    // Under the library's error mutex: an io thread may be recording at the same moment.
    int LastError() {
        std::lock_guard<std::mutex> lock(OXA::API::_gErrorMutex);
        return api_->GetApiLastError()->error_id;
    }

    const int sock_type_;
    TraderImpl* api_ = nullptr;
    GatewaySim sim_;
    RecordingSpi spi_;
    LoginBackend* backend_ = nullptr;
};

}  // namespace oxa_test
