// A spot account trading end to end over loopback against the simulated gateway's order server:
// order, trade, holding, cancel and fund-transfer callbacks with their fields, the replay of
// stored pushes after a re-login, and faulty pushes (duplicates, old numbers, cut records).
#include "support/SpotFixture.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr int64_t kTradingDay = 20261210;
constexpr int64_t kStamp = kTradingDay * 1000000000 + 93000 * 1000;  // the server's 09:30:00
constexpr uint32_t kNode = 2;

class SpotEndToEndTest : public SpotFixture {
protected:
    // client id 5; resume type 0 replays everything stored at every login
    SpotEndToEndTest() : SpotFixture(5, kNode, kTradingDay, 0) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    static OrderInsertInfo Order(int32_t price_type = 1, uint8_t side = 1) { return SpotOrder(price_type, side); }
    bool WaitCounts(SpotEventSpi::Counts want, std::chrono::milliseconds bound = 5000ms) {
        return oxa_test::WaitCounts(spi_, want, bound);
    }
    // Nothing more arrives: pushes of one session come in order over one connection, so once a
    // marker pushed last has been delivered every push before it has been handled.
    void ExpectSettled(SpotEventSpi::Counts want, uint64_t session) {
        FundTransferInfo f{};
        f.amount = 1;
        f.transfer_type = 1;
        ASSERT_NE(api_->FundTransfer(&f, session), 0u);
        ++want.transfers;
        EXPECT_TRUE(WaitCounts(want)) << spi_.counts();
    }

    SpotEventSpi spi_;
};

TEST_F(SpotEndToEndTest, OrderFilledCancelsAndTransfer) {
    const uint64_t session = Login("3001", 501);
    ASSERT_EQ(session, uint64_t{kNode} << 16 | 501) << api_->GetApiLastError()->error_id << " "
                                                    << api_->GetApiLastError()->error_msg;

    OrderInsertInfo buy = Order();
    const uint64_t id = api_->InsertOrder(&buy, session);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(id >> 40, session);
    ASSERT_TRUE(WaitCounts({2, 1, 0, 0, 1})) << spi_.counts();
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        const auto& acc = spi_.orders[0];
        EXPECT_EQ(acc.session, session);
        EXPECT_EQ(acc.error, 0);
        EXPECT_EQ(V(acc.info.order_oxa_id), id);
        EXPECT_EQ(V(acc.info.order_client_id), 77u);
        EXPECT_STREQ(acc.info.ticker, "600000");
        EXPECT_EQ(V(acc.info.market), 2);
        EXPECT_DOUBLE_EQ(V(acc.info.price), 10.5);
        EXPECT_EQ(V(acc.info.quantity), 200);
        EXPECT_EQ(V(acc.info.price_type), 1);
        EXPECT_EQ(V(acc.info.side), 1);
        EXPECT_EQ(V(acc.info.business_type), 0);
        EXPECT_EQ(V(acc.info.client_id), 5);
        EXPECT_EQ(V(acc.info.order_status), 4);  // queued, nothing traded
        EXPECT_EQ(V(acc.info.order_submit_status), 2);
        EXPECT_EQ(V(acc.info.qty_traded), 0);
        EXPECT_EQ(V(acc.info.qty_left), 200);
        EXPECT_EQ(V(acc.info.insert_time), kStamp);
        EXPECT_NE(V(acc.info.order_local_id)[0], '\0');

        const auto& t = spi_.trades[0];
        EXPECT_EQ(spi_.trade_sessions[0], session);
        EXPECT_EQ(V(t.order_oxa_id), id);
        EXPECT_EQ(V(t.order_client_id), 77u);
        EXPECT_STREQ(t.ticker, "600000");
        EXPECT_EQ(V(t.market), 2);
        EXPECT_EQ(V(t.price_type), 1);
        EXPECT_DOUBLE_EQ(V(t.price), 10.5);
        EXPECT_EQ(V(t.quantity), 200);
        EXPECT_DOUBLE_EQ(V(t.trade_amount), 2100.0);
        EXPECT_EQ(V(t.trade_time), kStamp);
        EXPECT_EQ(V(t.side), 1);
        EXPECT_EQ(V(t.client_id), 5);
        EXPECT_NE(V(t.exec_id)[0], '\0');
        EXPECT_STREQ(t.order_exch_id, acc.info.order_local_id);

        const auto& h = spi_.holdings[0];
        EXPECT_EQ(h.session, session);
        EXPECT_STREQ(h.info.ticker, "600000");
        EXPECT_EQ(V(h.info.market), 2);
        EXPECT_EQ(V(h.info.field_20), 1);      // into the account
        EXPECT_EQ(V(h.info.field_24), 93000);  // time of the change
        EXPECT_EQ(V(h.info.field_28), 200);    // holding after it
        EXPECT_EQ(V(h.info.field_36), 200);    // the change

        const auto& done = spi_.orders[1];
        EXPECT_EQ(V(done.info.order_oxa_id), id);
        EXPECT_EQ(V(done.info.order_status), 1);
        EXPECT_EQ(V(done.info.order_submit_status), 2);
        EXPECT_EQ(V(done.info.qty_traded), 200);
        EXPECT_EQ(V(done.info.qty_left), 0);
        EXPECT_DOUBLE_EQ(V(done.info.trade_amount), 2100.0);
    }
    EXPECT_EQ(sim_.spot_orders().holding(3001, "600000"), 200);

    // a filled order cannot be cancelled: the rejection names both ids
    const uint64_t cancel = api_->CancelOrder(id, session);
    ASSERT_NE(cancel, 0u);
    ASSERT_TRUE(WaitCounts({2, 1, 1, 0, 1})) << spi_.counts();
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        const auto& c = spi_.cancels[0];
        EXPECT_EQ(V(c.session), session);
        EXPECT_EQ(V(c.info.order_cancel_oxa_id), cancel);
        EXPECT_EQ(V(c.info.order_oxa_id), id);
        EXPECT_EQ(V(c.error), sim_.spot_orders().config().cancel_reject_error);
    }

    // an order that stays open is cancelled with the cancelled status
    OrderInsertInfo open = Order(4);
    const uint64_t open_id = api_->InsertOrder(&open, session);
    ASSERT_NE(open_id, 0u);
    ASSERT_TRUE(WaitCounts({3, 1, 1, 0, 1})) << spi_.counts();
    const uint64_t cancel2 = api_->CancelOrder(open_id, session);
    ASSERT_NE(cancel2, 0u);
    ASSERT_TRUE(WaitCounts({4, 1, 1, 0, 1})) << spi_.counts();
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        const auto& o = spi_.orders[3];
        EXPECT_EQ(V(o.info.order_oxa_id), open_id);
        EXPECT_EQ(V(o.info.order_status), 5);
        EXPECT_EQ(V(o.info.order_submit_status), 6);
        EXPECT_EQ(V(o.info.order_cancel_oxa_id), cancel2);
        EXPECT_EQ(V(o.info.qty_traded), 0);
        EXPECT_EQ(V(o.info.qty_left), 200);
        EXPECT_EQ(V(o.info.price_type), 4);
    }

    // the server answers a transfer with result 1 (done), which the library passes on
    FundTransferInfo f{};
    f.amount = 5000.25;
    f.transfer_type = 1;
    const uint64_t serial = api_->FundTransfer(&f, session);
    ASSERT_NE(serial, 0u);
    ASSERT_TRUE(WaitCounts({4, 1, 1, 1, 1})) << spi_.counts();
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        const auto& t = spi_.transfers[0];
        EXPECT_EQ(V(t.session), session);
        EXPECT_EQ(V(t.info.order_oxa_id), serial);
        EXPECT_EQ(V(t.info.transfer_type), 1);
        EXPECT_DOUBLE_EQ(V(t.info.amount), 5000.25);
        EXPECT_EQ(V(t.info.oper_status), 1);
        EXPECT_EQ(V(t.error), 0);
        EXPECT_EQ(V(t.info.transfer_time) / 1000000000, kTradingDay);
    }
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotEndToEndTest, TransferResultsReachTheCallbackAsTheServerGivesThem) {
    const uint64_t session = Login("3005", 505);
    ASSERT_NE(session, 0u);
    struct Case {
        uint32_t result;
        bool callback;
        int oper_status, error;
    } cases[] = {{1, true, 1, 0}, {30, true, 2, 30}, {0, false, 0, 0}};
    size_t delivered = 0, sent = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.result);
        auto cfg = sim_.spot_orders().config();
        cfg.transfer_result = k.result;
        sim_.spot_orders().set_config(cfg);
        FundTransferInfo f{};
        f.amount = 10;
        f.transfer_type = 0;
        ASSERT_NE(api_->FundTransfer(&f, session), 0u);
        // the server reads its setting when the request arrives
        ASSERT_TRUE(WaitUntil([&] { return sim_.push_store().size(3005) == sent + 1; }));
        ++sent;
        if (!k.callback) continue;
        ++delivered;
        ASSERT_TRUE(WaitCounts({0, 0, 0, delivered, 0})) << spi_.counts();
        std::lock_guard<std::mutex> lk(spi_.mu);
        EXPECT_EQ(spi_.transfers.back().info.oper_status, k.oper_status);
        EXPECT_EQ(spi_.transfers.back().error, k.error);
        EXPECT_EQ(spi_.transfers.back().info.transfer_type, 0);
    }
    // the result-0 push was consumed silently: the next one still arrives alone
    auto cfg = sim_.spot_orders().config();
    cfg.transfer_result = 1;
    sim_.spot_orders().set_config(cfg);
    ExpectSettled({0, 0, 0, delivered, 0}, session);
}

TEST_F(SpotEndToEndTest, ReloginReplaysEveryStoredPushOnce) {
    uint64_t session = Login("3002", 502);
    ASSERT_NE(session, 0u);
    OrderInsertInfo buy = Order();
    const uint64_t id = api_->InsertOrder(&buy, session);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitCounts({2, 1, 0, 0, 1})) << spi_.counts();
    ASSERT_EQ(api_->Logout(session), 0);
    ASSERT_EQ(sim_.push_store().size(3002), 4u);

    // while logged out: a push the account missed, and a faulty gateway storing an old number
    // again (the trade, 2) and the missed one twice
    const auto stored = sim_.push_store().list(3002);
    const uint32_t missed = sim_.push_store().append(3002, 0x121, stored[3].body);
    sim_.push_store().insert(3002, 2, stored[1].msg_id, stored[1].body);
    sim_.push_store().insert(3002, missed, 0x121, stored[3].body);
    spi_.clear();

    session = Login("3002", 502);
    ASSERT_NE(session, 0u);
    // 1 accepted, 2 trade, 3 holding, 4 filled, 5 missed; the repeats are dropped
    ASSERT_TRUE(WaitCounts({3, 1, 0, 0, 1})) << spi_.counts();
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        EXPECT_EQ(V(spi_.orders[0].info.order_status), 4);
        EXPECT_EQ(V(spi_.orders[1].info.order_status), 1);
        EXPECT_EQ(V(spi_.orders[2].info.order_status), 1);
        for (const auto& o : spi_.orders) EXPECT_EQ(V(o.info.order_oxa_id), id);
        EXPECT_EQ(spi_.trades[0].order_oxa_id, id);
    }
    // the subscription started behind the replay: nothing came twice
    ASSERT_FALSE(sim_.subscribe_requests().empty());
    EXPECT_EQ(sim_.subscribe_requests().back().start_seq, missed + 1);
    ExpectSettled({3, 1, 0, 0, 1}, session);

    // live pushes after the replay keep counting from there
    OrderInsertInfo again = Order();
    ASSERT_NE(api_->InsertOrder(&again, session), 0u);
    EXPECT_TRUE(WaitCounts({5, 2, 0, 1, 2})) << spi_.counts();
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotEndToEndTest, DuplicatedAndOldNumberedLivePushesArriveOnce) {
    const uint64_t session = Login("3003", 503);
    ASSERT_NE(session, 0u);
    oxa_sim::SpotPushFaults faults;
    faults.duplicate = true;
    faults.stale = true;
    sim_.spot_orders().set_faults(faults);
    OrderInsertInfo buy = Order();
    ASSERT_NE(api_->InsertOrder(&buy, session), 0u);
    // the holding change is not filtered by number: its repeats come through
    ASSERT_TRUE(WaitCounts({2, 1, 0, 0, 3})) << spi_.counts();
    sim_.spot_orders().set_faults({});
    ExpectSettled({2, 1, 0, 0, 3}, session);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotEndToEndTest, PushesCutShortOfTheirRecordAreDropped) {
    const uint64_t session = Login("3004", 504);
    ASSERT_NE(session, 0u);
    oxa_sim::SpotPushFaults faults;
    faults.truncate = 60;  // every record of the order is longer
    sim_.spot_orders().set_faults(faults);
    OrderInsertInfo buy = Order();
    const uint64_t id = api_->InsertOrder(&buy, session);
    ASSERT_NE(id, 0u);
    ASSERT_NE(api_->CancelOrder(id, session), 0u);  // rejected: filled already
    ASSERT_TRUE(WaitUntil([&] { return sim_.push_store().size(3004) == 5; }));
    sim_.spot_orders().set_faults({});
    ExpectSettled({0, 0, 0, 0, 0}, session);
    EXPECT_EQ(api_->Logout(session), 0);
}

}  // namespace
