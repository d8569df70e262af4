// A spot account logged in end to end over loopback against the simulated gateway: gateway
// login, spot login, push resumption, logout.
#include "support/LoginFixture.h"
#include "support/SessionState.h"

#include "core/spot_api/SpotTraderImpl.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::SpotTraderImpl;
using oxa_sim::SpotLoginAnswer;
using oxa_sim::SyncScript;

constexpr uint32_t kSpotLogin = 0x10a;
constexpr uint32_t kSync = 0x20010;
constexpr uint32_t kSubscribe = 0x103;

class SpotSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(5);
        api_->Release();
        // the first order id of a session is the test's, whatever an earlier test took
        oxa_test::ResetSessionState();
        api_->SetTimeouts(TestWaits(500ms, 500ms));
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new SpotTraderImpl();
            SpotTraderImpl::Timeouts st;
            st.login = 300ms;
            st.sync = 200ms;
            st.subscribe = 200ms;
            spot_->SetTimeouts(st);
            spot_->SetPushRegisterTimeout(300ms);
            return spot_;
        });
        api_->SubscribePublicTopic(2);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
        sim_.stop();
    }
    uint64_t Login(const char* user = "2001") {
        return api_->Login("127.0.0.1", sim_.port(), user, "pw", 1, nullptr, nullptr);
    }
    int LastError() { return api_->GetApiLastError()->error_id; }
    std::vector<oxa_sim::ReceivedFrame> FramesOf(uint32_t id) {
        std::vector<oxa_sim::ReceivedFrame> out;
        for (auto& f : sim_.frames())
            if (f.msg_id == id) out.push_back(f);
        return out;
    }

    TraderImpl* api_ = nullptr;
    SpotTraderImpl* spot_ = nullptr;
    GatewaySim sim_;
};

TEST_F(SpotSessionTest, LoginWithoutResumptionFilesTheSession) {
    SpotLoginAnswer a;
    a.node_id = 9;
    a.fund_index = 33;
    a.session_no = 77;
    a.trading_day = 20261210;
    a.order_no_index = 100;
    sim_.set_spot_login_answer(a);
    const uint64_t session = Login();
    ASSERT_EQ(session, uint64_t{9} << 16 | 33);
    EXPECT_TRUE(FramesOf(kSync).empty());
    EXPECT_TRUE(FramesOf(kSubscribe).empty());

    auto login = FramesOf(kSpotLogin);
    ASSERT_EQ(login.size(), 1u);
    const auto& b = login[0].body;
    ASSERT_EQ(b.size(), 306u);
    EXPECT_EQ(Le64(b, 8), 2001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[16])), "2.0");
    for (size_t i = 20; i < 48; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(b[303], 0);
    EXPECT_EQ(b[304], '1');
    EXPECT_EQ(b[305], 5);

    const OXA::API::tagSessionInfo* info = spot_->GetSessionInfo(session);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nSessionID, 77u);
    EXPECT_EQ(info->nFundAcc, 2001u);
    EXPECT_EQ(info->nClientID, 5u);
    EXPECT_EQ(info->nFundAccIndex, 33u);
    EXPECT_EQ(info->nprotocol_type, 1u);
    EXPECT_EQ(info->nLastOrderID, 100u);
    EXPECT_STREQ(api_->GetTradingDay(), "20261210");
    EXPECT_STREQ(spot_->GetAccountByOXAID(session << 40 | 5ull << 32 | 1), "2001");
    EXPECT_EQ(sim_.count(0xf0002), 1u);
}

TEST_F(SpotSessionTest, FirstOrderIdEndsInTheOrderNumberIndex) {
    const struct {
        int32_t order_no_index;
        uint32_t first_seq;
    } cases[] = {{100, 100}, {1, 1}, {0, 1}, {-7, 1}};
    int n = 0;
    for (const auto& c : cases) {
        SpotLoginAnswer a;
        a.order_no_index = c.order_no_index;
        sim_.set_spot_login_answer(a);
        const uint64_t session = Login(std::to_string(3000 + n++).c_str());
        ASSERT_NE(session, 0u) << c.order_no_index;
        const uint64_t id = spot_->NextOrderId(session);
        EXPECT_EQ(static_cast<uint32_t>(id), c.first_seq) << c.order_no_index;
        EXPECT_EQ((id >> 32) & 0xff, 5u) << "client id bits intact";
        EXPECT_EQ(id >> 40, session);
    }
}

TEST_F(SpotSessionTest, RefusedAndUnansweredLogins) {
    SpotLoginAnswer accepted;
    accepted.trading_day = 20261209;
    sim_.set_spot_login_answer(accepted);
    ASSERT_NE(Login("2000"), 0u);

    SpotLoginAnswer refused;
    refused.trading_day = 20991231;
    refused.error_code = 6001;
    sim_.set_spot_login_answer(refused);
    EXPECT_EQ(Login(), 0u);
    EXPECT_EQ(LastError(), 210003);

    SpotLoginAnswer bad_node;
    bad_node.node_id = 300;
    sim_.set_spot_login_answer(bad_node);
    EXPECT_EQ(Login("2002"), 0u);
    EXPECT_EQ(LastError(), 210003);

    SpotLoginAnswer other;
    other.fund_account = 999;  // an answer for another account is not this login's
    sim_.set_spot_login_answer(other);
    EXPECT_EQ(Login("2003"), 0u);
    EXPECT_EQ(LastError(), 210004);

    sim_.set_spot_login_answer(SpotLoginAnswer{});
    sim_.set_reply(kSpotLogin, ReplyPlan::never());
    EXPECT_EQ(Login("2004"), 0u);
    EXPECT_EQ(LastError(), 210004);
    EXPECT_STREQ(api_->GetTradingDay(), "20261209") << "only an accepted login sets the trading day";
}

// One spot login is in flight at a time: a refusal of its account, or one naming no account, ends
// it at once (210003); a refusal or an acceptance for another account is not this login's (210004
// once the wait is over).
TEST_F(SpotSessionTest, LoginAnswerMatching) {
    struct Case {
        const char* name;
        std::optional<uint64_t> answer_account;  // unset: the login's own
        int32_t error;
        int code;
        bool at_once;
    };
    const Case cases[] = {
        {"refusal naming the account", std::nullopt, 6001, 210003, true},
        {"refusal naming no account", 0, 6001, 210003, true},
        {"refusal naming another account", 999, 6002, 210004, false},
        {"acceptance for another account", 999, 0, 210004, false},
    };
    ASSERT_NE(Login("2098"), 0u);  // the back-end exists, so its wait can be set per case
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpotTraderImpl::Timeouts st = spot_->GetTimeouts();
        st.login = c.at_once ? 10000ms : 300ms;
        spot_->SetTimeouts(st);
        SpotLoginAnswer a;
        a.fund_account = c.answer_account;
        a.error_code = c.error;
        sim_.set_spot_login_answer(a);
        api_->GetApiLastError()->error_id = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Login(std::to_string(2100 + n++).c_str()), 0u);
        EXPECT_EQ(LastError(), c.code);
        if (c.at_once) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
        }
    }
    sim_.set_spot_login_answer(SpotLoginAnswer{});
    EXPECT_NE(Login("2199"), 0u);
}

TEST_F(SpotSessionTest, AnswerAtOnceIsNeverLost) {
    for (int i = 0; i < 100; ++i) ASSERT_NE(Login(std::to_string(4000 + i).c_str()), 0u) << i;
}

TEST_F(SpotSessionTest, SyncRoundsAreNumberedAndTheSubscriptionStartsAfterTheLastPush) {
    api_->SubscribePublicTopic(0);
    for (int i = 0; i < 3; ++i) sim_.publish(2001, 0x121, std::vector<uint8_t>(160, 0));
    sim_.set_sync_script(SyncScript::of_sizes({2, 1}));
    ASSERT_NE(Login(), 0u);
    auto syncs = sim_.sync_requests();
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[0].counter, 1u);
    EXPECT_EQ(syncs[1].counter, 2u);
    EXPECT_EQ(syncs[0].per_answer, 200u);
    EXPECT_EQ(syncs[0].flag, 1u);
    EXPECT_EQ(syncs[0].fund_account, 2001u);
    auto subs = sim_.subscribe_requests();
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0].start_seq, spot_->GetStartSeqNo());
    EXPECT_EQ(subs[0].start_seq, sim_.sync_requests().size() ? 4u : 0u);
    EXPECT_EQ(subs[0].fund_account, 2001u);
}

TEST_F(SpotSessionTest, ResumptionEdgeCases) {
    api_->SubscribePublicTopic(0);
    // nothing stored: the first answer says ended
    ASSERT_NE(Login("2001"), 0u);
    EXPECT_EQ(sim_.sync_requests().size(), 1u);
    EXPECT_EQ(sim_.subscribe_requests().size(), 1u);

    // no sync answer: the subscription still goes out, the login succeeds
    sim_.clear_frames();
    sim_.set_reply(kSync, ReplyPlan::never());
    ASSERT_NE(Login("2002"), 0u);
    EXPECT_EQ(FramesOf(kSync).size(), 1u);
    EXPECT_EQ(FramesOf(kSubscribe).size(), 1u);

    // no end of subscription: 210004, the session is still returned
    sim_.clear_frames();
    sim_.set_reply(kSync, ReplyPlan::immediate());
    sim_.set_reply(kSubscribe, ReplyPlan::never());
    EXPECT_NE(Login("2003"), 0u);
    EXPECT_EQ(LastError(), 210004);

    // answers that never end and bring nothing new stop after one round
    sim_.clear_frames();
    sim_.set_reply(kSubscribe, ReplyPlan::immediate());
    SyncScript endless;
    endless.endless = true;
    sim_.set_sync_script(endless);
    ASSERT_NE(Login("2004"), 0u);
    EXPECT_LE(FramesOf(kSync).size(), 2u);
    EXPECT_EQ(FramesOf(kSubscribe).size(), 1u);
}

TEST_F(SpotSessionTest, LogoutEndsTheSession) {
    const uint64_t session = Login();
    ASSERT_NE(session, 0u);
    EXPECT_EQ(api_->Logout(session), 0);
    EXPECT_EQ(spot_->GetSessionInfo(session), nullptr);
    EXPECT_EQ(OXA::API::_gArrSeqNoReg.Get(session), nullptr);
    EXPECT_TRUE(OXA::API::_gMapNodeFundAcc.Accounts(1).empty());
    EXPECT_EQ(api_->Logout(session), 1004);
    EXPECT_EQ(spot_->Logout(session), 0) << "a session without a record";
}

}  // namespace
