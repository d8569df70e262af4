// A margin account logged in over loopback against the simulated gateway: the push registration
// first, the init request and what its answer files (session record, session-number entry, both
// rate limits, the order-id base), the answers that refuse or never come, the matching of an
// answer to the login in flight, a push right behind the answer, and the resumption of pushes
// (synchronisation passes, then the package flow of the subscription).
#include "core/margin_api/MarginFixture.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "api/ApiGlobals.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "gateway_sim/SimFrame.h"

namespace {

using namespace margin_test;
using oxa_sim::MarginFlowScript;
using oxa_sim::MarginInitAnswer;
using oxa_sim::MarginSyncPage;
using oxa_sim::MarginSyncScript;

constexpr uint32_t kInit = 0x203, kSync = 0x21100, kSubscribe = 0x205;

class MarginSessionTest : public MarginFixture {};

TEST_F(MarginSessionTest, LoginRegistersForPushesFirstAndFilesTheSession) {
    MarginInitAnswer a;
    a.node_id = 9;
    a.fund_index = 33;
    a.session_no = 100000;
    a.trading_day = 20261211;
    a.order_no_index = 500;
    a.speed[0] = {7, 1000, 11};  // orders
    a.speed[1] = {7, 50, 99};    // not used
    a.speed[2] = {7, 2000, 22};  // queries
    a.speed[3] = {7, 60, 98};    // not used
    sim_margin_.set_init_answer(a);
    const uint64_t session = Login(8001);
    ASSERT_EQ(session, uint64_t{9} << 16 | 33) << LastError();

    // push registration, then the init request, on the one connection
    std::vector<uint32_t> order;
    for (const auto& f : sim_.frames())
        if (f.msg_id == 0xf0002 || f.msg_id == kInit) order.push_back(f.msg_id);
    EXPECT_EQ(order, (std::vector<uint32_t>{0xf0002, kInit}));

    const auto init = FramesOf(kInit);
    ASSERT_EQ(init.size(), 1u);
    const auto& b = init[0].body;
    ASSERT_EQ(b.size(), 558u);
    EXPECT_EQ(Le16(b, 0), 0u) << "no bus: group 0";
    EXPECT_EQ(Le16(b, 2), 0u);
    EXPECT_EQ(Le64(b, 4), 8001u);
    EXPECT_EQ(Le16(b, 12), client_id_);
    for (size_t i = 14; i < 46; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[46])), OXA::API::_gTerminalInfo);
    EXPECT_EQ(b[301], 0) << "the text ends inside its field";
    EXPECT_EQ(Le64(b, 302), 0x02230100u);
    EXPECT_EQ(Le64(b, 310), init[0].request_id) << "the request sequence is the frame's request id";
    EXPECT_EQ(Le32(b, 318), 0u);
    EXPECT_EQ(b[322], '1');
    for (size_t i = 323; i < 558; ++i) EXPECT_EQ(b[i], 0) << i;

    const OXA::API::tagSessionInfo* info = margin_->GetSessionInfo(session);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nSessionID, 100000u);
    EXPECT_EQ(info->nFundAcc, 8001u);
    EXPECT_EQ(info->nClientID, client_id_);
    EXPECT_EQ(info->nFundAccIndex, 33u);
    EXPECT_EQ(info->nprotocol_type, 1u);
    EXPECT_EQ(info->nLastOrderID, 500u);
    EXPECT_EQ(info->nApiSessionID, session);

    // session number 100000 is entry 0 of the node's row
    EXPECT_EQ(OXA::API::_gArrSessionByNo.Get(9, 0), info);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(9, 100000), session);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(9, 100000 + (1u << 20)), 0u);

    // the limits of items 1 and 3, with the server's own intervals
    const OXA::API::STFundSpContral* speed = OXA::API::_gArrSpeedCtrl.Get(session);
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed[0].interval.load(), 1000u);
    EXPECT_EQ(speed[0].max.load(), 11u);
    EXPECT_EQ(speed[1].interval.load(), 2000u);
    EXPECT_EQ(speed[1].max.load(), 22u);

    const uint64_t first = margin_->NextOrderId(session);
    EXPECT_EQ(static_cast<uint32_t>(first), 501u) << "first id OrderNoIndex + 1";
    EXPECT_EQ(first >> 40, session);
    EXPECT_EQ((first >> 32) & 0xff, client_id_);
    EXPECT_STREQ(api_->GetTradingDay(), "20261211");
    EXPECT_STREQ(margin_->GetAccountByOXAID(first), "8001");
    EXPECT_STREQ(margin_->GetAccountByOXAID(first ^ (uint64_t{1} << 40)), "");
}

// Each way the init answer can refuse or fail: the code, and whether it ends at once.
TEST_F(MarginSessionTest, RefusedAndUnansweredLogins) {
    MarginInitAnswer accepted;
    accepted.trading_day = 20261209;
    sim_margin_.set_init_answer(accepted);
    ASSERT_NE(Login(8100), 0u);

    struct Case {
        const char* name;
        MarginInitAnswer answer;
        oxa_sim::ReplyPlan plan;
        int code;
        bool at_once;
    };
    MarginInitAnswer error;
    error.error_id = 6001;
    error.trading_day = 20991231;
    MarginInitAnswer error_only = error;
    error_only.has_data = false;
    MarginInitAnswer error_zero = error;
    error_zero.error_id = 0;
    MarginInitAnswer empty;
    empty.has_data = false;
    MarginInitAnswer big_node;
    big_node.node_id = 256;
    MarginInitAnswer big_index;
    big_index.fund_index = 65536;
    MarginInitAnswer other;
    other.fund_account = 999;
    const Case cases[] = {
        {"error record after the record", error, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"error record alone", error_only, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"error record with code 0", error_zero, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"neither record nor error", empty, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"node above 255", big_node, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"fund index above 65535", big_index, oxa_sim::ReplyPlan::immediate(), 210003, true},
        {"answer for another account", other, oxa_sim::ReplyPlan::immediate(), 210004, false},
        {"no answer", MarginInitAnswer{}, oxa_sim::ReplyPlan::never(), 210004, false},
        {"answer cut inside its head", MarginInitAnswer{}, oxa_sim::ReplyPlan::short_body(18), 210004, false},
        {"record promised, not there", MarginInitAnswer{}, oxa_sim::ReplyPlan::short_body(300), 210004, false},
    };
    auto t = ShortTimeouts();
    t.login = 400ms;
    SetMarginTimeouts(t);
    uint64_t account = 8200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim_margin_.set_init_answer(c.answer);
        sim_.set_reply(kInit, c.plan);
        const auto start = LoginClock::now();
        EXPECT_EQ(Login(++account), 0u);
        EXPECT_EQ(LastError(), c.code);
        if (c.at_once) {
            EXPECT_LT(LoginClock::now() - start, 350ms) << "a refusal does not wait out the timeout";
        }
        EXPECT_EQ(OXA::API::_gArrSessionInfo.Get(uint64_t{1} << 16 | static_cast<uint32_t>(account - 8200 + 1)),
                  nullptr);
    }
    EXPECT_STREQ(api_->GetTradingDay(), "20261209") << "only an accepted login sets the trading day";
}

TEST_F(MarginSessionTest, RefusedPushRegistrationSendsNoInit) {
    sim_.set_push_reg_error(9001);
    EXPECT_EQ(Login(8300), 0u);
    EXPECT_EQ(LastError(), 9001);
    EXPECT_TRUE(FramesOf(kInit).empty());
}

// An answer that comes after its login gave up, while the next login waits, changes nothing.
TEST_F(MarginSessionTest, LateAnswerOfAnEarlierLoginIsIgnored) {
    auto t = ShortTimeouts();
    t.login = 300ms;
    SetMarginTimeouts(t);
    sim_.queue_reply(kInit, oxa_sim::ReplyPlan::late(700ms));
    EXPECT_EQ(Login(8401), 0u);
    EXPECT_EQ(LastError(), 210004);

    t.login = 5000ms;
    SetMarginTimeouts(t);
    sim_.queue_reply(kInit, oxa_sim::ReplyPlan::delayed(800ms));
    const uint64_t session = Login(8402);
    ASSERT_NE(session, 0u) << LastError();
    const OXA::API::tagSessionInfo* info = margin_->GetSessionInfo(session);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nFundAcc, 8402u);
    EXPECT_EQ(session, uint64_t{1} << 16 | 2) << "the second account's index";
    EXPECT_EQ(OXA::API::_gArrSessionInfo.Get(uint64_t{1} << 16 | 1), nullptr) << "the late answer filed nothing";
    EXPECT_EQ(sim_.count(kInit), 2u);
}

TEST_F(MarginSessionTest, AnswersAtOnceAreNeverLost) {
    for (uint64_t i = 0; i < 100; ++i) ASSERT_NE(Login(9000 + i), 0u) << i << " " << LastError();
}

// A gateway that pushes an order report right behind its init answer, in the same write: the
// session is filed before the io thread reads on, so the push is never dropped for want of one.
TEST_F(MarginSessionTest, PushRightBehindTheInitAnswerIsDelivered) {
    const uint8_t client_id = client_id_;
    auto logins = std::make_shared<std::atomic<uint32_t>>(0);
    sim_.on(kInit, [logins, client_id](const oxa_sim::Exchange& ex) {
        const oxa_sim::MarginInitRequest q = oxa_sim::decode_margin_init_request(ex.request);
        const uint32_t n = ++*logins;
        MarginInitAnswer a;
        a.fund_index = n;  // a session of its own for every login
        a.session_no = 100000 + n;
        const uint64_t session = uint64_t{a.node_id} << 16 | n;
        std::vector<uint8_t> bytes =
            oxa_sim::encode_frame(oxa_sim::kResponse, 0x204, ex.request.request_id,
                                  oxa_sim::make_margin_init_answer(a, q.fund_account, q.request_seq, n),
                                  ex.request.async_flag);
        const std::vector<uint8_t> push = oxa_sim::encode_frame(
            oxa_sim::kPush, 0x228, 1,
            oxa_sim::make_margin_push_payload(0x228, 100000 + n, session << 40 | uint64_t{client_id} << 32 | 1), 0);
        bytes.insert(bytes.end(), push.begin(), push.end());
        ex.conn->send_raw(bytes);
    });
    constexpr uint32_t kLogins = 40;
    std::vector<uint64_t> sessions;
    for (uint32_t i = 0; i < kLogins; ++i) {
        const uint64_t session = Login(9600 + i);
        ASSERT_NE(session, 0u) << i << " " << LastError();
        sessions.push_back(session);
    }
    EXPECT_TRUE(WaitUntil([&] { return spi_.Events().size() >= kLogins; }, 2000ms))
        << spi_.Events().size() << " of " << kLogins << " pushes delivered";
    std::vector<uint64_t> delivered = spi_.Sessions();
    std::sort(delivered.begin(), delivered.end());
    EXPECT_EQ(delivered, sessions) << "each push once, with its own session";
}

// The init answer in the sender's byte order, fed while the login waits for it.
TEST_F(MarginSessionTest, BigEndianInitAnswerThroughTheDriver) {
    auto t = ShortTimeouts();
    t.login = 10000ms;  // the answer comes once the test has seen the request
    SetMarginTimeouts(t);
    sim_.set_reply(kInit, oxa_sim::ReplyPlan::never());
    uint64_t session = 0;
    std::thread login([&] { session = Login(8501); });
    ASSERT_TRUE(sim_.wait_for_frame(kInit, 5000ms).has_value());

    std::vector<uint8_t> m(19 + 310, 0);
    auto be = [&](size_t off, uint64_t v, size_t width) {
        for (size_t i = 0; i < width; ++i) m[off + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
    };
    be(0, 100003, 8);
    be(8, 1, 8);
    m[16] = 1;
    m[17] = 1;
    be(19 + 0, 8501, 8);
    be(19 + 8, 44, 4);
    be(19 + 12, 100003, 8);
    be(19 + 22, 0x01000000, 4);
    be(19 + 27, 700, 2);
    be(19 + 29, 5, 4);
    be(19 + 27 + 14, 900, 2);
    be(19 + 29 + 14, 6, 4);
    be(19 + 54, 20261212, 4);
    be(19 + 58, 4, 4);
    OXA::API::MARGIN::GetTradeDriver().onRecv(0, 0x204, reinterpret_cast<const char*>(m.data()),
                                               static_cast<int>(m.size()), 0, true, 0, 0, 0);
    login.join();
    ASSERT_EQ(session, uint64_t{4} << 16 | 44) << LastError();
    const OXA::API::tagSessionInfo* info = margin_->GetSessionInfo(session);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nSessionID, 100003u);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(4, 100003), session);
    EXPECT_EQ(static_cast<uint32_t>(margin_->NextOrderId(session)), 0x01000001u);
    const OXA::API::STFundSpContral* speed = OXA::API::_gArrSpeedCtrl.Get(session);
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed[0].interval.load(), 700u);
    EXPECT_EQ(speed[0].max.load(), 5u);
    EXPECT_EQ(speed[1].interval.load(), 900u);
    EXPECT_EQ(speed[1].max.load(), 6u);
    EXPECT_STREQ(api_->GetTradingDay(), "20261212");
}

TEST_F(MarginSessionTest, LogoutEndsTheSessionAndItsSessionNumberEntry) {
    const uint64_t session = Login(8601);
    ASSERT_NE(session, 0u);
    const uint64_t id = margin_->NextOrderId(session);
    ASSERT_NE(MarginTraderImpl::GetApiSessionIdByNo(1, sim_margin_.session_no(8601)), 0u);
    EXPECT_EQ(api_->Logout(session), 0);
    EXPECT_EQ(margin_->GetSessionInfo(session), nullptr);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(1, sim_margin_.session_no(8601)), 0u);
    EXPECT_STREQ(margin_->GetAccountByOXAID(id), "");
    EXPECT_EQ(OXA::API::_gArrSeqNoReg.Get(session), nullptr);
}

// ---------------------------------------------------------------------------------------
// Resumption

class MarginResumeTest : public MarginFixture {
protected:
    void SetUp() override {
        MarginFixture::SetUp();
        api_->SubscribePublicTopic(0);
    }
    std::vector<uint32_t> SyncStarts() {
        std::vector<uint32_t> out;
        for (const auto& q : sim_margin_.sync_requests()) out.push_back(q.start_seq);
        return out;
    }
    std::vector<uint32_t> SubscribeStarts() {
        std::vector<uint32_t> out;
        for (const auto& q : sim_margin_.subscribe_requests()) out.push_back(q.start_seq);
        return out;
    }
    void Store(uint64_t account, uint32_t n) {
        for (uint32_t i = 1; i <= n; ++i) sim_margin_.store(account, 0x228, (uint64_t{1} << 16 | 1) << 40 | i);
    }
};

TEST_F(MarginResumeTest, ResumeType2SendsNothing) {
    api_->SubscribePublicTopic(2);
    ASSERT_NE(Login(8701), 0u);
    EXPECT_TRUE(FramesOf(kSync).empty());
    EXPECT_TRUE(FramesOf(kSubscribe).empty());
    EXPECT_EQ(margin_->StartSyncPush(), 0);
}

TEST_F(MarginResumeTest, FullPageGivesAnotherPassShortPageEnds) {
    Store(8702, 250);
    const uint64_t session = Login(8702);
    ASSERT_NE(session, 0u);
    EXPECT_EQ(SyncStarts(), (std::vector<uint32_t>{0, 201})) << "200 of 200, then 50 of 200";
    EXPECT_EQ(SubscribeStarts(), (std::vector<uint32_t>{251}));
    EXPECT_EQ(spi_.Ids().size(), 250u) << "every replayed record delivered once";
    EXPECT_EQ(spi_.Sessions().front(), uint64_t{1} << 16 | 1);

    const auto sync = sim_margin_.sync_requests();
    ASSERT_EQ(sync.size(), 2u);
    EXPECT_TRUE(sync[0].complete);
    EXPECT_EQ(sync[0].session_no, 100000u);
    EXPECT_EQ(sync[0].fund_account, 8702u);
    EXPECT_EQ(sync[0].client_id, client_id_);
    EXPECT_EQ(sync[0].per_answer, 200u);
    EXPECT_EQ(sync[0].flag, '0');
    EXPECT_NE(sync[0].request_seq, FramesOf(kSync)[0].request_id) << "each pass takes two request ids";
    const auto sub = sim_margin_.subscribe_requests();
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_TRUE(sub[0].complete);
    EXPECT_EQ(sub[0].fund_account, 8702u);
    EXPECT_EQ(sub[0].fund_index, 1u);
    EXPECT_EQ(sub[0].session_no, 100000u);
    EXPECT_EQ(sub[0].client_id, client_id_);
    const auto raw = FramesOf(kSubscribe)[0].body;
    ASSERT_EQ(raw.size(), 54u);
    for (size_t i : {22u, 29u, 34u, 53u}) EXPECT_EQ(raw[i], 0) << i;
}

TEST_F(MarginResumeTest, EmptyAnswersEndThePasses) {
    ASSERT_NE(Login(8703), 0u);
    EXPECT_EQ(SyncStarts(), (std::vector<uint32_t>{0})) << "0 of 200 ends at once";
    EXPECT_EQ(SubscribeStarts(), (std::vector<uint32_t>{0}));

    // a page that claims to be full but brings nothing new ends by itself
    sim_.clear_frames();
    MarginSyncScript s;
    MarginSyncPage p;
    p.records = 0;
    p.count = 200;
    s.pages = {p, p, p};
    sim_margin_.set_sync_script(s);
    ASSERT_NE(Login(8704), 0u);
    EXPECT_EQ(SyncStarts(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(SubscribeStarts(), (std::vector<uint32_t>{0}));
}

TEST_F(MarginResumeTest, FlowDeliversFromTheSubscriptionsStartAndItsEndEndsTheSubscription) {
    Store(8705, 5);
    MarginSyncScript s;
    MarginSyncPage p;
    p.records = 0;  // the synchronisation replays nothing: the flow carries everything
    s.pages = {p};
    sim_margin_.set_sync_script(s);
    MarginFlowScript f;
    f.per_message = 2;
    sim_margin_.set_flow_script(f);
    const auto start = LoginClock::now();
    ASSERT_NE(Login(8705), 0u);
    EXPECT_LT(LoginClock::now() - start, 1500ms) << "the end message ends the subscription wait";
    EXPECT_EQ(SubscribeStarts(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(spi_.Ids().size(), 5u);
    EXPECT_EQ(margin_->StartSyncPush(), 0);

    // the end flag on the last message with records: its records, and the end
    f.end_in_last = true;
    sim_margin_.set_flow_script(f);
    EXPECT_EQ(margin_->StartSyncPush(), 0);
    EXPECT_EQ(spi_.Ids().size(), 5u + 5u + 5u);
}

TEST_F(MarginResumeTest, MissingAnswersTimeOut) {
    auto t = ShortTimeouts();
    t.sync = 200ms;
    t.subscribe = 200ms;
    SetMarginTimeouts(t);

    // no synchronisation answer: the subscription still follows
    sim_.set_reply(kSync, oxa_sim::ReplyPlan::never());
    ASSERT_NE(Login(8706), 0u);
    EXPECT_EQ(FramesOf(kSync).size(), 1u);
    EXPECT_EQ(FramesOf(kSubscribe).size(), 1u);

    // no end of the subscription: 210004, the session is still returned
    sim_.set_reply(kSync, oxa_sim::ReplyPlan::immediate());
    MarginFlowScript f;
    f.send_end = false;
    sim_margin_.set_flow_script(f);
    EXPECT_NE(Login(8707), 0u);
    EXPECT_EQ(LastError(), 210004);
    EXPECT_EQ(margin_->StartSyncPush(), 210004);
}

}  // namespace
