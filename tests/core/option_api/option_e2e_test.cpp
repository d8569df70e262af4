// An option account against the simulated gateway over loopback, through the public
// interface: gateway login, push registration, the option core login with its echoes, the
// replay of missed pushes over two pages, every kind of order with the callbacks its pushes
// cause, the subscription, logout; a spot account beside it; accounts of two nodes on one
// connection, also sharing a session number; self-continuing queries, one asked again while it
// still pages, also when a page of the first is an error; answers that come late: a refusal of
// an earlier login, an acceptance as the login gives up.
#include "support/LoginFixture.h"

#include <algorithm>
#include <map>
#include <thread>

#include "api/ErrorCodes.h"
#include "core/option_api/OptionTestSupport.h"
#include "core/option_api/OptionTraderImpl.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "gateway_sim/SimOption.h"
#include "support/LogStall.h"
#include "support/Orders.h"
#include "support/Overlap.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::OptionTraderImpl;
using opt_test::V;

constexpr uint64_t kOptionAccount = 9001;
constexpr uint64_t kSession = uint64_t{6} << 16 | 12;  // its session

// Orders that fill, so the order and trade queries have something to page through.
std::vector<uint64_t> PlaceFilledOrders(TraderImpl* api, uint64_t session, opt_test::RecordingSpi& spi, int n) {
    std::vector<uint64_t> ids;
    OrderInsertInfo order = oxa_test::LimitOrder("10000001", 1, 0.6, 1);
    order.position_effect = 1;
    order.business_type = 10;
    for (int i = 0; i < n; ++i) {
        order.order_client_id = static_cast<uint32_t>(100 + i);
        ids.push_back(api->InsertOrder(&order, session));
    }
    // each order's pushes: accepted, traded, filled
    WaitUntil([&] {
        return spi.Count("OnTradeEvent") == static_cast<std::size_t>(n) &&
               spi.Count("OnOrderEvent") == static_cast<std::size_t>(2 * n);
    });
    return ids;
}

class OptionEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(4);
        api_->Release();
        // rate windows and queries being paged that earlier tests left behind
        oxa_test::ResetSessionState();
        OXA::API::OPT::Continuations().Clear();
        TraderImpl::Timeouts t;
        t.gateway_login = 3000ms;
        t.logout = 3000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type == 1) {
                auto* spot = new OXA::API::SpotTraderImpl();
                OXA::API::SpotTraderImpl::Timeouts st;
                st.login = 3000ms;
                spot->SetTimeouts(st);
                spot->SetPushRegisterTimeout(3000ms);
                return spot;
            }
            if (type != 3) return nullptr;
            option_ = new OptionTraderImpl();
            OptionTraderImpl::Timeouts ot;
            ot.login = option_login_;
            ot.sync = 3000ms;
            ot.subscribe = 3000ms;
            option_->SetTimeouts(ot);
            option_->SetPushRegisterTimeout(3000ms);
            return option_;
        });
        api_->SubscribePublicTopic(2);
        api_->RegisterSpi(&spi_);
        LoginAnswer gateway;
        gateway.hqtrs_ip = "10.9.8.7";
        gateway.hqtrs_port = 6001;
        gateway.group_id = 2;
        gateway.member_id = 3;
        gateway.option_value = 0x0A0B0C0D01020304ull;
        sim_.set_login_answer(gateway);
        sim_.set_account_business(kOptionAccount, 3);
        sim_.set_account_business(kOptionAccount + 1, 3);
        oxa_sim::OptionLoginAnswer a;
        a.node_id = 6;
        a.fund_index = 12;
        a.session_no = 0x77000000001ull;
        a.cur_order_id = 500;
        a.date = 20261214;
        option_sim_.set_account_login_answer(kOptionAccount, a);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
        api_->RegisterSpi(nullptr);
        sim_.stop();
    }
    uint64_t Login(uint64_t account) {
        return api_->Login("127.0.0.1", sim_.port(), std::to_string(account).c_str(), "pw", 1, nullptr, nullptr);
    }
    int LastError() { return api_->GetApiLastError()->error_id; }

    // The option account logged in with n orders that filled (their pushes taken).
    std::vector<uint64_t> LoginWithFilledOrders(int n) {
        const uint64_t session = Login(kOptionAccount);
        EXPECT_EQ(session, kSession) << LastError();
        std::vector<uint64_t> ids = PlaceFilledOrders(api_, session, spi_, n);
        EXPECT_EQ(spi_.Count("OnTradeEvent"), static_cast<std::size_t>(n));
        return ids;
    }
    // The option back-end's login wait, for the back-end the next login creates and the one that
    // exists.
    void SetOptionLoginWait(std::chrono::milliseconds wait) {
        option_login_ = wait;
        if (option_ == nullptr) return;
        OptionTraderImpl::Timeouts t = option_->GetTimeouts();
        t.login = wait;
        option_->SetTimeouts(t);
    }

    // First member: made by a test before its connections start, gone after TearDown stopped them.
    std::unique_ptr<oxa_test::LogStall> stall_;
    TraderImpl* api_ = nullptr;
    OptionTraderImpl* option_ = nullptr;
    std::chrono::milliseconds option_login_ = 3000ms;
    GatewaySim sim_;
    oxa_sim::SimOption option_sim_{sim_};
    opt_test::RecordingSpi spi_;
};

TEST_F(OptionEndToEndTest, OptionAccountLogsInTradesAndLogsOut) {
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, uint64_t{6} << 16 | 12) << LastError() << " " << api_->GetApiLastError()->error_msg;
    ASSERT_NE(option_, nullptr);
    EXPECT_STREQ(api_->GetTradingDay(), "20261214");
    EXPECT_EQ(sim_.count(0xf0002), 1u) << "registered for pushes";

    const auto logins = option_sim_.login_requests();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_TRUE(logins[0].echo_ok) << "the gateway answer's value at 552 and bytes 14-35 travel back";
    EXPECT_EQ(logins[0].client_id, 4u);
    EXPECT_EQ(logins[0].fund_account, kOptionAccount);
    EXPECT_EQ(logins[0].terminal_info, std::string(OXA::API::_gTerminalInfo).substr(0, 255));

    OrderInsertInfo order{};
    order.order_client_id = 31;
    std::strcpy(order.ticker, "10004321");
    order.market = 1;
    order.price = 0.1234;
    order.quantity = 2;
    order.price_type = 1;
    order.side = 1;
    order.position_effect = 1;
    order.business_type = 10;
    const uint64_t id = api_->InsertOrder(&order, session);
    ASSERT_EQ(id, session << 40 | 4ull << 32 | 501) << "the counter continues from CurOrdId";
    ASSERT_TRUE(WaitUntil([&] { return option_sim_.order_requests().size() == 1; }));
    const auto orders = option_sim_.order_requests();
    EXPECT_EQ(orders[0].msg_id, 0x402u);
    EXPECT_EQ(orders[0].order_id, id);
    EXPECT_EQ(orders[0].session_no, 0x77000000001ull);
    EXPECT_EQ(orders[0].fund_account, kOptionAccount);
    ASSERT_EQ(orders[0].body.size(), 324u);
    EXPECT_EQ(orders[0].body[66], '1') << "TCP session";

    EXPECT_STREQ(api_->GetAccountByOXAID(id), "9001");
    EXPECT_EQ(api_->Logout(session), 0);
    EXPECT_STREQ(api_->GetAccountByOXAID(id), "");
    EXPECT_EQ(api_->InsertOrder(&order, session), 0u) << "the session has ended";

    // and in again
    EXPECT_EQ(Login(kOptionAccount), session);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(OptionEndToEndTest, RefusedOptionLoginGives210003AndNoSession) {
    oxa_sim::OptionLoginAnswer refused;
    refused.error_code = 230001;
    option_sim_.set_account_login_answer(kOptionAccount + 1, refused);
    EXPECT_EQ(Login(kOptionAccount + 1), 0u);
    EXPECT_EQ(LastError(), 210003);
    EXPECT_EQ(option_sim_.login_requests().size(), 1u);
}

TEST_F(OptionEndToEndTest, SubscriptionAnsweredBy0x521) {
    api_->SubscribePublicTopic(0);
    const uint64_t session = Login(kOptionAccount);
    ASSERT_NE(session, 0u);
    ASSERT_EQ(option_sim_.sync_requests().size(), 1u);
    EXPECT_EQ(option_sim_.sync_requests()[0].session, session);
    ASSERT_EQ(option_sim_.subscribe_requests().size(), 1u);
    EXPECT_EQ(option_sim_.subscribe_requests()[0].session_no, 0x77000000001ull);
    // both resumption requests went to the gateway connection the login used
    EXPECT_EQ(option_sim_.subscribe_requests()[0].conn_id, option_sim_.login_requests()[0].conn_id);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(OptionEndToEndTest, SpotAndOptionAccountsSideBySide) {
    oxa_sim::SpotLoginAnswer spot;
    spot.node_id = 2;
    spot.fund_index = 40;
    sim_.set_spot_login_answer(spot);
    const uint64_t spot_session = Login(9100);
    const uint64_t option_session = Login(kOptionAccount);
    ASSERT_EQ(spot_session, uint64_t{2} << 16 | 40) << LastError();
    ASSERT_EQ(option_session, uint64_t{6} << 16 | 12) << LastError();
    EXPECT_STREQ(api_->GetAccountByOXAID(spot_session << 40 | 1), "9100");
    EXPECT_STREQ(api_->GetAccountByOXAID(option_session << 40 | 1), "9001");
    EXPECT_EQ(api_->Logout(option_session), 0);
    EXPECT_EQ(api_->Logout(spot_session), 0);
}


// An order push of the option session as the gateway stored it before the login.
std::vector<uint8_t> StoredOrderPush(uint32_t n) {
    opt_test::Body b(439, 0);
    b.put<uint64_t>(16, kSession << 40 | uint64_t{4} << 32 | n).text(59, "10000009").put<int32_t>(68, 1);
    b.put<int64_t>(80, 1).ch(88, '2').ch(89, '0').ch(91, '1').ch(92, 'O').ch(117, '8');
    return b.b;
}

TEST_F(OptionEndToEndTest, ReplayOverTwoPagesThenEveryOrderKindWithItsCallbacks) {
    for (uint32_t n = 1; n <= 3; ++n) option_sim_.pushes().append(kOptionAccount, 0x502, StoredOrderPush(n));
    option_sim_.set_rows_per_page(2);
    oxa_sim::OptionOrderConfig cfg;
    cfg.book_prices["10000001"] = 0.5;
    option_sim_.set_order_config(cfg);
    api_->SubscribePublicTopic(0);
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, kSession) << LastError();

    // the replay: three pushes over two pages, then the subscription after the last
    ASSERT_EQ(spi_.orders.size(), 3u) << "replayed before Login returns";
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(spi_.orders[i].order_oxa_id & 0xffffffff, i + 1);
    const auto syncs = option_sim_.sync_requests();
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[1].position, 2);
    ASSERT_EQ(option_sim_.subscribe_requests().size(), 1u);
    EXPECT_EQ(option_sim_.subscribe_requests()[0].start_seq, 4);
    spi_.Clear();

    auto wait_calls = [&](std::size_t n) { return WaitUntil([&] { return spi_.Size() >= n; }); };

    // a limit order that crosses the book: accepted, traded, filled
    OrderInsertInfo order{};
    order.order_client_id = 41;
    std::strcpy(order.ticker, "10000001");
    order.market = 1;
    order.price = 0.6;
    order.quantity = 2;
    order.price_type = 1;
    order.side = 1;
    order.position_effect = 1;
    order.business_type = 10;
    const uint64_t filled = api_->InsertOrder(&order, session);
    ASSERT_NE(filled, 0u);
    ASSERT_TRUE(wait_calls(3));
    ASSERT_EQ(spi_.orders.size(), 2u);
    EXPECT_EQ(V(spi_.orders[0].order_oxa_id), filled);
    EXPECT_EQ(V(spi_.orders[0].order_status), 4);
    EXPECT_EQ(V(spi_.orders[1].order_status), 1);
    EXPECT_EQ(V(spi_.orders[1].qty_traded), 2);
    EXPECT_EQ(V(spi_.orders[1].order_client_id), 41u);
    ASSERT_EQ(spi_.trades.size(), 1u);
    EXPECT_DOUBLE_EQ(V(spi_.trades[0].price), 0.5);
    EXPECT_EQ(V(spi_.trades[0].side), 1);
    EXPECT_EQ(V(spi_.calls[1].op), "OnTradeEvent");
    EXPECT_EQ(V(spi_.calls[1].session), session);

    // one below the book works until it is cancelled
    spi_.Clear();
    order.price = 0.4;
    const uint64_t working = api_->InsertOrder(&order, session);
    ASSERT_TRUE(wait_calls(1));
    const uint64_t cancel = api_->CancelOrder(working, session);
    ASSERT_NE(cancel, 0u);
    ASSERT_TRUE(wait_calls(3));
    ASSERT_EQ(spi_.cancels.size(), 1u);
    EXPECT_EQ(V(spi_.cancels[0].order_cancel_oxa_id), cancel);
    EXPECT_EQ(V(spi_.cancels[0].order_oxa_id), working);
    EXPECT_EQ(V(spi_.calls[1].error_id), 0);
    ASSERT_EQ(spi_.orders.size(), 2u);
    EXPECT_EQ(V(spi_.orders[1].order_status), 5);
    EXPECT_EQ(V(spi_.orders[1].order_submit_status), 6);
    EXPECT_EQ(V(spi_.orders[1].order_cancel_oxa_id), cancel);

    // a combination fills at once
    spi_.Clear();
    OptionCombinedOrderInsertInfo comb{};
    comb.order_client_id = 42;
    comb.market = 1;
    comb.quantity = 1;
    comb.side = 1;
    std::strcpy(comb.strategy_id, "CNSJC");
    comb.num_legs = 2;
    std::strcpy(comb.legs[0].leg_security_id, "10000001");
    comb.legs[0].leg_side = 1;
    comb.legs[0].leg_qty = 1;
    std::strcpy(comb.legs[1].leg_security_id, "10000002");
    comb.legs[1].leg_side = 2;
    comb.legs[1].leg_covered = 1;
    comb.legs[1].leg_qty = 1;
    const uint64_t comb_id = api_->InsertOptionCombinedOrder(&comb, session);
    ASSERT_NE(comb_id, 0u);
    ASSERT_TRUE(wait_calls(3));
    ASSERT_EQ(spi_.comb_orders.size(), 2u);
    EXPECT_EQ(V(spi_.comb_orders[0].order_oxa_id), comb_id);
    EXPECT_STREQ(spi_.comb_orders[0].strategy_id, "CNSJC");
    EXPECT_EQ(V(spi_.comb_orders[0].num_legs), 2);
    EXPECT_EQ(V(spi_.comb_orders[0].legs[1].leg_side), 3) << "the covered leg";
    EXPECT_STREQ(spi_.comb_orders[0].legs[1].leg_security_id, "10000002");
    EXPECT_EQ(V(spi_.comb_orders[1].order_status), 1);
    ASSERT_EQ(spi_.comb_trades.size(), 1u);
    EXPECT_EQ(V(spi_.comb_trades[0].order_oxa_id), comb_id);

    // exercise, combined exercise and a lock: one answer each
    spi_.Clear();
    ExecuteOrderInsertInfo exec{};
    exec.order_client_id = 43;
    exec.quantity = 3;
    exec.business_type = 11;
    exec.market = 1;
    std::strcpy(exec.ticker, "10000001");
    const uint64_t exec_id = api_->InsertExecuteOrder(&exec, session);
    exec.business_type = 15;
    std::strcpy(exec.ticker + 16, "10000002");
    const uint64_t combined_id = api_->InsertExecuteOrder(&exec, session);
    OrderInsertInfo lock{};
    lock.order_client_id = 44;
    std::strcpy(lock.ticker, "510050");
    lock.market = 1;
    lock.quantity = 100;
    lock.side = 12;
    lock.position_effect = 1;
    lock.business_type = 12;
    const uint64_t lock_id = api_->InsertOrder(&lock, session);
    ASSERT_TRUE(exec_id != 0 && combined_id != 0 && lock_id != 0);
    ASSERT_TRUE(wait_calls(3));
    ASSERT_EQ(spi_.executes.size(), 2u);
    EXPECT_EQ(V(spi_.executes[0].order_oxa_id), exec_id);
    EXPECT_EQ(V(spi_.executes[0].business_type), 11);
    EXPECT_EQ(V(spi_.executes[1].order_oxa_id), combined_id);
    EXPECT_EQ(V(spi_.executes[1].business_type), 15);
    EXPECT_STREQ(spi_.executes[1].ticker + 16, "10000002");
    ASSERT_EQ(spi_.orders.size(), 1u);
    EXPECT_EQ(V(spi_.orders[0].order_oxa_id), lock_id);
    EXPECT_EQ(V(spi_.orders[0].business_type), 12);
    EXPECT_EQ(V(spi_.orders[0].position_effect), 1);
    EXPECT_STREQ(spi_.orders[0].ticker, "510050");

    EXPECT_EQ(api_->Logout(session), 0);
}


// Two option accounts of nodes 6 and 7 through one gateway connection: the router hands the
// connection's option messages to node 7 (its last option login), and the answers and pushes of
// both still reach their sessions.
TEST_F(OptionEndToEndTest, TwoNodesOnOneConnectionBothGetTheirAnswersAndPushes) {
    oxa_sim::OptionLoginAnswer seven;
    seven.node_id = 7;
    seven.fund_index = 13;
    seven.session_no = 0x77000000002ull;
    option_sim_.set_account_login_answer(kOptionAccount + 1, seven);
    const uint64_t six_session = Login(kOptionAccount);
    const uint64_t seven_session = Login(kOptionAccount + 1);
    ASSERT_EQ(six_session, uint64_t{6} << 16 | 12) << LastError();
    ASSERT_EQ(seven_session, uint64_t{7} << 16 | 13) << LastError();
    const auto logins = option_sim_.login_requests();
    ASSERT_EQ(logins.size(), 2u);
    ASSERT_EQ(logins[0].conn_id, logins[1].conn_id) << "one connection serves both";

    ASSERT_EQ(api_->QueryAsset(six_session, 61), 0);
    ASSERT_EQ(api_->QueryAsset(seven_session, 71), 0);
    // a query of the earlier node that pages: its follow-up goes out from its own answer
    ASSERT_EQ(api_->QueryPosition(nullptr, six_session, 62, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") == 2 && spi_.LastCount() == 3; }))
        << spi_.Count("OnQueryAsset") << " asset answers";
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        for (const opt_test::Call& c : spi_.calls) {
            EXPECT_EQ(c.session, c.request_id / 10 == 6 ? six_session : seven_session) << c.op << " " << c.request_id;
            EXPECT_EQ(c.error_id, 0) << c.op;
        }
    }
    EXPECT_EQ(spi_.positions.size(), 3u);
    EXPECT_EQ(sim_.count(0x41f), 2u) << "the query and its follow-up";

    // an order of each: their pushes come on the same connection
    for (const uint64_t session : {six_session, seven_session}) {
        spi_.Clear();
        PlaceFilledOrders(api_, session, spi_, 1);
        ASSERT_EQ(spi_.Count("OnTradeEvent"), 1u) << session;
        std::lock_guard<std::mutex> lk(spi_.mu);
        for (const opt_test::Call& c : spi_.calls) EXPECT_EQ(c.session, session) << c.op;
    }
    EXPECT_EQ(api_->Logout(six_session), 0);
    EXPECT_EQ(api_->Logout(seven_session), 0);
}

TEST_F(OptionEndToEndTest, QueriesGoOnPageByPageAndEndOnce) {
    const std::vector<uint64_t> ids = LoginWithFilledOrders(5);
    ASSERT_FALSE(HasFailure());
    const uint64_t session = kSession;

    // two rows a page: the library asks for the second and third pages itself
    spi_.Clear();
    OrderQueryParam all{};
    ASSERT_EQ(api_->QueryOrders(&all, session, 7), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
    ASSERT_EQ(spi_.Count("OnQueryOrder"), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(V(spi_.orders[i].order_oxa_id), ids[i]);
        EXPECT_EQ(spi_.calls[i].request_id, 7);
        EXPECT_EQ(spi_.calls[i].last, i == 4);
        EXPECT_EQ(V(spi_.orders[i].order_status), 1);
    }
    EXPECT_EQ(sim_.count(0x41d), 3u) << "the query and two follow-ups";

    // the trades, one of them by its order id
    spi_.Clear();
    ASSERT_EQ(api_->QueryTradesByOXAID(ids[3], session, 8), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
    ASSERT_EQ(spi_.trades.size(), 1u);
    EXPECT_EQ(V(spi_.trades[0].order_oxa_id), ids[3]);
    EXPECT_DOUBLE_EQ(V(spi_.trades[0].price), 0.6);

    // by page: the application asks for every page
    spi_.Clear();
    PageQueryParam page{};
    page.req_count = 3;
    ASSERT_EQ(api_->QueryOrdersByPage(&page, session, 9), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Size() == 3; }));
    page.reference = spi_.calls.back().reference;
    EXPECT_EQ(page.reference, 3);
    EXPECT_EQ(spi_.LastCount(), 0u);
    ASSERT_EQ(api_->QueryOrdersByPage(&page, session, 9), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
    ASSERT_EQ(spi_.Size(), 5u);
    EXPECT_EQ(V(spi_.orders[4].order_oxa_id), ids[4]);
    EXPECT_EQ(spi_.calls[3].index, 1);
    EXPECT_EQ(sim_.count(0x44d), 2u) << "never a page the application did not ask for";

    // the strategies come in two answers the gateway sends by itself
    spi_.Clear();
    ASSERT_EQ(api_->QueryOptionCombinedStrategyInfo(session, 10), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
    ASSERT_EQ(spi_.strategies.size(), 4u);
    EXPECT_STREQ(spi_.strategies[0].strategy_id, "CNSJC");
    EXPECT_EQ(V(spi_.strategies[0].leg_num), 2);
    EXPECT_TRUE(spi_.calls[3].last);
    EXPECT_EQ(sim_.count(0x419), 1u);

    // asset, positions and contracts from the gateway's book
    spi_.Clear();
    ASSERT_EQ(api_->QueryAsset(session, 11), 0);
    ASSERT_EQ(api_->QueryPosition(nullptr, session, 12, 0), 0);
    OptionAuctionInfoQueryParam contracts{};
    ASSERT_EQ(api_->QueryOptionAuctionInfo(&contracts, session, 13), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 3; }));
    ASSERT_EQ(spi_.assets.size(), 1u);
    EXPECT_DOUBLE_EQ(V(spi_.assets[0].total_asset), 1000000.0);
    ASSERT_EQ(spi_.positions.size(), 3u);
    EXPECT_EQ(V(spi_.positions[0].position_direction), 1);
    EXPECT_EQ(V(spi_.positions[0].executable_option), 10);
    ASSERT_EQ(spi_.auctions.size(), 3u);
    EXPECT_STREQ(spi_.auctions[1].contract_id, "510050C2601M03100");
    EXPECT_EQ(V(spi_.auctions[1].call_or_put), 2);
    EXPECT_EQ(V(spi_.auctions[1].list_date), 20250601);
    EXPECT_EQ(api_->Logout(session), 0);
}

// The application asks again under the request id of a query that is still paging: the gateway
// answers both from their first page, and both run to their last row.
TEST_F(OptionEndToEndTest, AQueryAskedAgainWhileTheFirstPagesBothDeliverEveryRow) {
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, kSession) << LastError();
    const std::vector<uint64_t> ids = PlaceFilledOrders(api_, session, spi_, 5);
    spi_.Clear();
    OrderQueryParam all{};
    ASSERT_EQ(api_->QueryOrders(&all, session, 31), 0);
    ASSERT_EQ(api_->QueryOrders(&all, session, 31), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 2; })) << spi_.Count("OnQueryOrder") << " calls";
    // a marker query shows nothing more came for the two
    ASSERT_EQ(api_->QueryAsset(session, 32), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") == 1; }));
    std::lock_guard<std::mutex> lk(spi_.mu);
    ASSERT_EQ(spi_.orders.size(), 10u) << "five rows each";
    std::map<uint64_t, int> seen;
    for (const OXAOrderInfo& o : spi_.orders) ++seen[V(o.order_oxa_id)];
    for (uint64_t id : ids) EXPECT_EQ(seen[id], 2) << id;
    for (const opt_test::Call& c : spi_.calls) {
        EXPECT_FALSE(c.null_record) << c.op;
        EXPECT_EQ(c.error_id, 0) << c.op;
    }
    EXPECT_EQ(sim_.count(0x41d), 6u) << "two queries, two follow-ups each";
}

TEST_F(OptionEndToEndTest, AGatewayThatRepeatsItsPageEndsTheQueryOnce) {
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, kSession) << LastError();
    PlaceFilledOrders(api_, session, spi_, 3);
    oxa_sim::OptionQueryPaging repeat;
    repeat.ignore_position = true;
    option_sim_.set_query_paging(repeat);
    spi_.Clear();
    OrderQueryParam all{};
    ASSERT_EQ(api_->QueryOrders(&all, session, 21), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
    // a marker query shows nothing more came for the first
    ASSERT_EQ(api_->QueryAsset(session, 22), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") == 1; }));
    EXPECT_EQ(spi_.Count("OnQueryOrder"), 5u) << "two pages of two, then the end";
    EXPECT_TRUE(spi_.calls[4].null_record);
    EXPECT_EQ(spi_.calls[4].error_id, OXA::API::kErrQueryEndedEarly) << "the query says it ended early";
    EXPECT_EQ(sim_.count(0x41d), 2u);
    EXPECT_EQ(api_->Logout(session), 0);
}

// Nodes 6 and 7 each number their own sessions, so both accounts get number 0x770000000AB; one
// connection serves both, and the router names node 7 (the last login). Every answer, page and
// push still reaches its own session: the connection and the query in flight under the answer's
// request id tell the asset answers apart, the account they echo the order pages; an answer
// nothing tells apart (both asked under one request id) goes to neither.
TEST_F(OptionEndToEndTest, TwoNodesSharingASessionNumberEachGetTheirOwnAnswersPagesAndPushes) {
    constexpr uint64_t kShared = 0x770000000ABull;
    oxa_sim::OptionLoginAnswer six;
    six.node_id = 6;
    six.fund_index = 12;
    six.session_no = kShared;
    option_sim_.set_account_login_answer(kOptionAccount, six);
    oxa_sim::OptionLoginAnswer seven = six;
    seven.node_id = 7;
    seven.fund_index = 13;
    option_sim_.set_account_login_answer(kOptionAccount + 1, seven);
    const uint64_t a = Login(kOptionAccount);
    const uint64_t b = Login(kOptionAccount + 1);
    ASSERT_EQ(a, uint64_t{6} << 16 | 12) << LastError();
    ASSERT_EQ(b, uint64_t{7} << 16 | 13) << LastError();
    ASSERT_EQ(option_sim_.login_requests()[0].conn_id, option_sim_.login_requests()[1].conn_id);

    // pushes: two filled orders of a, five of b
    std::vector<uint64_t> ids_a, ids_b;
    for (const uint64_t session : {a, b}) {
        spi_.Clear();
        (session == a ? ids_a : ids_b) = PlaceFilledOrders(api_, session, spi_, session == a ? 2 : 5);
        ASSERT_EQ(spi_.Count("OnTradeEvent"), session == a ? 2u : 5u);
        std::lock_guard<std::mutex> lk(spi_.mu);
        for (const opt_test::Call& c : spi_.calls) EXPECT_EQ(c.session, session) << c.op;
    }
    spi_.Clear();

    // answers and pages of both, side by side
    OrderQueryParam all{};
    ASSERT_EQ(api_->QueryAsset(a, 61), 0);
    ASSERT_EQ(api_->QueryAsset(b, 71), 0);
    ASSERT_EQ(api_->QueryOrders(&all, a, 62), 0);
    ASSERT_EQ(api_->QueryOrders(&all, b, 72), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 4; })) << spi_.LastCount() << " queries ended";
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        std::map<int, int> rows;
        for (std::size_t i = 0; i < spi_.calls.size(); ++i) {
            const opt_test::Call& c = spi_.calls[i];
            ++rows[c.request_id];
            EXPECT_EQ(c.session, c.request_id / 10 == 6 ? a : b) << c.op << " " << c.request_id;
            EXPECT_EQ(c.error_id, 0) << c.op << " " << c.request_id;
        }
        EXPECT_EQ(rows[61], 1);
        EXPECT_EQ(rows[71], 1);
        EXPECT_EQ(rows[62], 2) << "a's two orders";
        EXPECT_EQ(rows[72], 5) << "b's five orders over three pages";
        EXPECT_EQ(spi_.orders.size(), 7u);
        for (const OXAOrderInfo& o : spi_.orders) {
            const uint64_t id = V(o.order_oxa_id);
            const bool of_a = std::find(ids_a.begin(), ids_a.end(), id) != ids_a.end();
            EXPECT_EQ(id >> 40, of_a ? a : b);
        }
    }

    // both ask under one request id, and the answers come while both are in flight: the asset
    // answers carry nothing that tells the sessions apart
    spi_.Clear();
    ASSERT_TRUE(AnswerTogether(sim_, 0x40f, 2, [&] {
        ASSERT_EQ(api_->QueryAsset(a, 80), 0);
        ASSERT_EQ(api_->QueryAsset(b, 80), 0);
    }));
    ASSERT_EQ(api_->QueryAsset(a, 81), 0);  // a marker behind them
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") >= 1; }));
    std::lock_guard<std::mutex> lk(spi_.mu);
    ASSERT_EQ(spi_.calls.size(), 1u) << "only the marker: request 80 reached neither session";
    EXPECT_EQ(spi_.calls[0].request_id, 81);
    EXPECT_EQ(spi_.calls[0].session, a);
}

// The application asks again under the request id of a query that has its first page, and the
// gateway answers the first query's next page with an error: the error ends the first query, and
// the second runs to its last row. The sim holds the two answers until both queries are in
// flight, then sends the error first.
TEST_F(OptionEndToEndTest, AnErrorPageEndsItsOwnQueryAndTheRetryRunsToItsEnd) {
    const std::vector<uint64_t> ids = LoginWithFilledOrders(6);
    ASSERT_FALSE(HasFailure());
    const uint64_t session = kSession;
    spi_.Clear();
    oxa_sim::OptionQueryPaging paging;
    paging.rows_per_page = 2;
    paging.next_page_errors = 1;
    paging.next_page_error = 230010;
    option_sim_.set_query_paging(paging);
    auto box = std::make_shared<oxa_sim::HeldAnswers>();
    sim_.queue_reply(0x41d, oxa_sim::ReplyPlan::immediate());  // the first query's first page
    sim_.queue_reply(0x41d, oxa_sim::ReplyPlan::held(box));    // its next page: the error
    sim_.queue_reply(0x41d, oxa_sim::ReplyPlan::held(box));    // the second query's first page

    OrderQueryParam all{};
    ASSERT_EQ(api_->QueryOrders(&all, session, 41), 0);
    ASSERT_TRUE(box->wait_held(1, 5000ms)) << "the first query asks for its next page";
    ASSERT_EQ(spi_.Size(), 2u);
    ASSERT_EQ(api_->QueryOrders(&all, session, 41), 0);
    ASSERT_TRUE(box->wait_held(2, 5000ms));
    EXPECT_EQ(box->release(), 2u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 2; })) << spi_.Size() << " calls";
    // a marker query shows nothing more came for the two
    ASSERT_EQ(api_->QueryAsset(session, 42), 0);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") == 1; }));

    ASSERT_EQ(spi_.Count("OnQueryOrder"), 9u) << "two rows, the error, then six rows";
    std::lock_guard<std::mutex> lk(spi_.mu);
    EXPECT_TRUE(spi_.calls[2].null_record);
    EXPECT_EQ(spi_.calls[2].error_id, 230010);
    EXPECT_TRUE(spi_.calls[2].last);
    ASSERT_EQ(spi_.orders.size(), 8u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(V(spi_.orders[2 + i].order_oxa_id), ids[i]) << i;
        EXPECT_EQ(spi_.calls[3 + i].last, i == 5) << i;
        EXPECT_EQ(spi_.calls[3 + i].error_id, 0) << i;
    }
}

// A's refusal comes after A's login gave up, while B logs in, with B's acceptance right behind
// it: the refusal names A, so it ends no login, and B logs in.
TEST_F(OptionEndToEndTest, ALateRefusalNamingAnotherAccountLeavesTheLoginInFlightAlone) {
    oxa_sim::OptionLoginAnswer refused;
    refused.error_code = 230001;
    option_sim_.set_account_login_answer(kOptionAccount + 1, refused);
    oxa_sim::OptionLoginAnswer accepted;
    accepted.node_id = 7;
    accepted.fund_index = 21;
    sim_.set_account_business(kOptionAccount + 2, 3);
    option_sim_.set_account_login_answer(kOptionAccount + 2, accepted);
    auto box = std::make_shared<oxa_sim::HeldAnswers>();
    sim_.queue_reply(0x401, oxa_sim::ReplyPlan::held(box));
    sim_.queue_reply(0x401, oxa_sim::ReplyPlan::held(box));

    SetOptionLoginWait(300ms);
    EXPECT_EQ(Login(kOptionAccount + 1), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout);
    SetOptionLoginWait(5000ms);
    std::thread release([&] {
        if (box->wait_held(2, 5000ms)) box->release();
    });
    const uint64_t b = Login(kOptionAccount + 2);
    release.join();
    EXPECT_EQ(b, uint64_t{7} << 16 | 21) << LastError();
    EXPECT_NE(OXA::API::_gArrSessionInfo.Get(b), nullptr);
    EXPECT_EQ(option_sim_.login_requests().size(), 2u);
}

// The account logs in again while its session is live, and the answer lands as the login's wait
// gives up (the receiving thread held by a slow log sink between taking the answer and handing it
// on): the live session stays exactly as it was, with its number, its queries and its orders.
TEST_F(OptionEndToEndTest, ARelogInWhoseAnswerLandsAsItsWaitGivesUpLeavesTheLiveSession) {
    stall_ = std::make_unique<oxa_test::LogStall>("OnCoreLogin Finish");
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, kSession) << LastError();
    oxa_sim::OptionLoginAnswer again;
    again.node_id = 6;
    again.fund_index = 12;
    again.session_no = 0x77000000099ull;
    option_sim_.set_account_login_answer(kOptionAccount, again);
    // long enough for the answer to come; the stall outlasts it
    SetOptionLoginWait(1500ms);
    EXPECT_TRUE(stall_->HoldAcross([&] {
        EXPECT_EQ(Login(kOptionAccount), 0u);
        EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout);
    })) << "the answer came and was held";
    const OXA::API::tagSessionInfo* info = OXA::API::_gArrSessionInfo.Get(session);
    ASSERT_NE(info, nullptr) << "the live session lost its record";
    EXPECT_EQ(info->nSessionID, 0x77000000001ull);

    spi_.Clear();
    ASSERT_EQ(api_->QueryAsset(session, 51), 0) << LastError();
    const std::vector<uint64_t> ids = PlaceFilledOrders(api_, session, spi_, 1);
    ASSERT_NE(ids[0], 0u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnQueryAsset") == 1 && spi_.Count("OnTradeEvent") == 1; }));
    std::lock_guard<std::mutex> lk(spi_.mu);
    for (const opt_test::Call& c : spi_.calls) EXPECT_EQ(c.session, session) << c.op;
}

}  // namespace
