// The simulated gateway program killed and started again on the same port while a spot account
// is logged in with the default resume type: the client reconnects, registers the account for
// pushes again and live events flow again, numbered on from where the gateway left off (it keeps
// its numbering in its state file, as a gateway keeps it over a restart).
#include <cstdio>
#include <string>

#include "support/SpotFixture.h"
#include "tools/SimProgram.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kStart{5000};

class SimRestartTest : public SpotFixture {
protected:
    SimRestartTest() : SpotFixture(7, 1, 0, 2) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    // Starts the program on port (0: a free one) with the state file; its port, or 0.
    uint16_t Start(sim_test::Program& p, uint16_t port) {
        if (!p.spawn(bin_, {"--port", std::to_string(port), "--state-file", state_})) return 0;
        const auto first = p.line(kStart);
        if (!first) return 0;
        const auto bound = sim_test::port_of(*first);
        return bound ? *bound : 0;
    }
    void SetUp() override {
        SpotFixture::SetUp();
        bin_ = sim_test::sim_binary();
        if (::access(bin_.c_str(), X_OK) != 0) GTEST_SKIP() << "program not built: " << bin_;
        char dir[] = "/tmp/oxa_sim_restart_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        state_ = dir_ + "/state";
    }
    void TearDown() override {
        SpotFixture::TearDown();
        if (!state_.empty()) std::remove(state_.c_str());
        if (!dir_.empty()) ::rmdir(dir_.c_str());
    }
    // The demo book fills a buy of 600000 at 10.50: accepted, trade, holding change, filled.
    uint64_t Buy(uint64_t session, SpotEventSpi::Counts& seen) {
        OrderInsertInfo buy = SpotOrder();
        const uint64_t id = api_->InsertOrder(&buy, session);
        EXPECT_NE(id, 0u) << api_->GetApiLastError()->error_id;
        seen.orders += 2;
        seen.trades += 1;
        seen.holdings += 1;
        EXPECT_TRUE(WaitCounts(spi_, seen, 10000ms)) << spi_.counts();
        return id;
    }

    SpotEventSpi spi_;
    std::string bin_, dir_, state_;
};

TEST_F(SimRestartTest, KilledAndStartedAgainTheGatewayGetsTheClientBackAndEventsFlow) {
    sim_test::Program first;
    const uint16_t port = Start(first, 0);
    ASSERT_NE(port, 0);
    const uint64_t session = LoginAt(port, "5101");
    ASSERT_NE(session, 0u) << api_->GetApiLastError()->error_id;
    SpotEventSpi::Counts seen{0, 0, 0, 0, 0};
    const uint64_t before = Buy(session, seen);

    // the first connection's OnConnected runs on a thread of its own and may come after Login
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));
    const int disconnected = spi_.disconnected.load();
    ASSERT_TRUE(first.kill_now());
    ASSERT_TRUE(WaitUntil([&] { return spi_.disconnected.load() > disconnected; }));

    sim_test::Program second;
    ASSERT_EQ(Start(second, port), port);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 2; }, 10000ms)) << "no reconnect";
    const uint64_t after = Buy(session, seen);
    EXPECT_GT(static_cast<uint32_t>(after), static_cast<uint32_t>(before));

    // and a new login of the account after the restart goes on with its order numbers
    ASSERT_EQ(api_->Logout(session), 0);
    const uint64_t again = LoginAt(port, "5101");
    ASSERT_EQ(again, session);
    OrderInsertInfo o = SpotOrder(4);
    const uint64_t next = api_->InsertOrder(&o, again);
    EXPECT_GT(static_cast<uint32_t>(next), static_cast<uint32_t>(after));
    EXPECT_EQ(api_->Logout(again), 0);
}

}  // namespace
