// A spot account with the default resume type (2: no replay) trading end to end against the
// simulated gateway: live order, trade and holding events with no subscription, again after the
// gateway drops the connection and the client reconnects; an order sent while the link is down;
// orders the gateway refuses; order ids over two logins of one account.
#include "support/SpotFixture.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr int64_t kTradingDay = 20261211;
constexpr uint32_t kNode = 4;
constexpr uint32_t kPushReg = 0xf0002;

class SpotLiveTest : public SpotFixture {
protected:
    SpotLiveTest() : SpotFixture(6, kNode, kTradingDay, 2) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    // A limit buy that fills at once (no book price: at its own price): accepted, trade,
    // holding change, filled.
    void ExpectFilledOrder(uint64_t session, SpotEventSpi::Counts& seen) {
        OrderInsertInfo buy = SpotOrder();
        const uint64_t id = api_->InsertOrder(&buy, session);
        ASSERT_NE(id, 0u) << api_->GetApiLastError()->error_id;
        seen.orders += 2;
        seen.trades += 1;
        seen.holdings += 1;
        ASSERT_TRUE(WaitCounts(spi_, seen)) << spi_.counts();
        std::lock_guard<std::mutex> lk(spi_.mu);
        EXPECT_EQ(V(spi_.orders.back().info.order_oxa_id), id);
        EXPECT_EQ(V(spi_.orders.back().info.order_status), 1);
        EXPECT_EQ(V(spi_.trades.back().order_oxa_id), id);
        EXPECT_EQ(spi_.holdings.back().session, session);
    }

    SpotEventSpi spi_;
};

TEST_F(SpotLiveTest, DefaultResumeTypeGetsLiveEventsAndAgainAfterAReconnect) {
    const uint64_t session = Login("4101", 601);
    ASSERT_NE(session, 0u) << api_->GetApiLastError()->error_id;
    EXPECT_TRUE(sim_.sync_requests().empty());  // nothing replayed, nothing subscribed
    EXPECT_TRUE(sim_.subscribe_requests().empty());
    SpotEventSpi::Counts seen{0, 0, 0, 0, 0};
    ExpectFilledOrder(session, seen);

    // the gateway drops the connection: the client reconnects, registers the account for
    // pushes again and says so with OnConnected (the first connection's may come after Login)
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));
    const int connected = 1;
    const size_t registrations = sim_.count(kPushReg);
    ASSERT_EQ(sim_.close_connections(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() > connected; })) << "no reconnect";
    EXPECT_EQ(sim_.count(kPushReg), registrations + 1);
    EXPECT_GE(spi_.disconnected.load(), 1);
    ExpectFilledOrder(session, seen);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotLiveTest, AnOrderWhileTheLinkIsDownFailsWith1002AndTradingGoesOnAfterIt) {
    const uint64_t session = Login("4102", 602);
    ASSERT_NE(session, 0u);
    SpotEventSpi::Counts seen{0, 0, 0, 0, 0};
    ExpectFilledOrder(session, seen);

    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));  // may come after Login
    ASSERT_TRUE(sim_.refuse_connections());
    const int disconnected = spi_.disconnected.load();
    ASSERT_EQ(sim_.close_connections(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.disconnected.load() > disconnected; }));
    OrderInsertInfo buy = SpotOrder();
    EXPECT_EQ(api_->InsertOrder(&buy, session), 0u);
    EXPECT_EQ(api_->GetApiLastError()->error_id, 1002);
    EXPECT_EQ(api_->QueryAsset(session, 1), 1002);

    const int connected = 1;
    ASSERT_TRUE(sim_.accept_connections());
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() > connected; })) << "no reconnect";
    ExpectFilledOrder(session, seen);
    // the refused order never went out later: only the two that were sent reached the gateway
    EXPECT_EQ(sim_.spot_orders().order_count(), 2u);
    EXPECT_EQ(api_->Logout(session), 0);
}

// The library sends an order's values as it finds them (a value without a wire code as byte
// 0); the gateway judges them and refuses with a reject event carrying its code.
TEST_F(SpotLiveTest, OrdersTheGatewayRefusesComeBackAsRejectEvents) {
    const uint64_t session = Login("4103", 603);
    ASSERT_NE(session, 0u);
    const int32_t code = sim_.spot_orders().config().order_reject_error;
    struct Case {
        const char* name;
        OrderInsertInfo order;
        int32_t market;  // as the event reports it
        uint8_t side;
    };
    std::vector<Case> cases;
    cases.push_back({"unknown side", SpotOrder(1, 99), 2, 50});
    OrderInsertInfo zero = SpotOrder();
    zero.quantity = 0;
    cases.push_back({"zero quantity", zero, 2, 1});
    OrderInsertInfo market = SpotOrder();
    market.market = 77;
    cases.push_back({"unknown market", market, 99, 1});
    size_t orders = 0;
    for (auto& k : cases) {
        SCOPED_TRACE(k.name);
        const uint64_t id = api_->InsertOrder(&k.order, session);
        ASSERT_NE(id, 0u);
        ++orders;
        ASSERT_TRUE(WaitCounts(spi_, {orders, 0, 0, 0, 0})) << spi_.counts();
        std::lock_guard<std::mutex> lk(spi_.mu);
        const auto& o = spi_.orders.back();
        EXPECT_EQ(o.error, code);
        EXPECT_EQ(V(o.info.order_oxa_id), id);
        EXPECT_EQ(V(o.info.order_status), 6);  // refused, nothing traded
        EXPECT_EQ(V(o.info.order_submit_status), 3);
        EXPECT_EQ(V(o.info.qty_traded), 0);
        EXPECT_EQ(V(o.info.market), k.market);
        EXPECT_EQ(V(o.info.side), k.side);
    }
    // nothing filled: a transfer pushed last arrives with nothing before it
    FundTransferInfo f{};
    f.amount = 1;
    f.transfer_type = 1;
    ASSERT_NE(api_->FundTransfer(&f, session), 0u);
    EXPECT_TRUE(WaitCounts(spi_, {orders, 0, 0, 1, 0})) << spi_.counts();
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotLiveTest, ASecondLoginsOrderIdsStartAboveTheFirstLoginsLast) {
    uint64_t session = Login("4104", 604);
    ASSERT_NE(session, 0u);
    OrderInsertInfo o = SpotOrder(4);  // stays working
    uint64_t last = 0;
    for (int i = 0; i < 3; ++i) {
        last = api_->InsertOrder(&o, session);
        ASSERT_NE(last, 0u);
    }
    const uint64_t cancel = api_->CancelOrder(last, session);
    ASSERT_NE(cancel, 0u);
    ASSERT_TRUE(WaitCounts(spi_, {4, 0, 0, 0, 0})) << spi_.counts();
    ASSERT_EQ(api_->Logout(session), 0);

    session = Login("4104", 604);
    ASSERT_NE(session, 0u);
    const uint64_t first = api_->InsertOrder(&o, session);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(first >> 32, cancel >> 32);  // the same session and client id
    EXPECT_GT(static_cast<uint32_t>(first), static_cast<uint32_t>(cancel));
    EXPECT_EQ(api_->Logout(session), 0);
}

}  // namespace
