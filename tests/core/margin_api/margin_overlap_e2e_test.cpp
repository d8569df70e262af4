// Margin accounts whose answers overlap, end to end against the simulated gateway: two nodes of
// one connection that grant the same session number, a synchronisation answer of one account's
// login that comes during the next account's, a login of a live session whose answer lands as
// its wait gives up, and a refusal of an earlier login that comes during the next one. The sim
// holds the answers whose order matters until the test lets them go, so no test races a clock.
#include "core/margin_api/MarginFixture.h"

#include <map>
#include <memory>
#include <thread>

#include "api/ErrorCodes.h"
#include "support/LogStall.h"
#include "support/Overlap.h"

namespace {

using namespace margin_test;
using Event = FlowSpi::Event;

class MarginOverlapE2ETest : public MarginFixture {
protected:
    // An account answered as margin at node, fund index, and (when given) session number.
    void Account(uint64_t account, uint32_t node, uint32_t fund_index, uint64_t session_no = 0) {
        sim_margin_.add_account(account);
        oxa_sim::MarginInitAnswer a;
        a.node_id = node;
        a.fund_index = fund_index;
        if (session_no) a.session_no = session_no;
        sim_margin_.set_account_init_answer(account, a);
    }
    // A buy that fills at once: its order and trade pushes follow.
    uint64_t FilledOrder(uint64_t session) { return Buy(session, 10.80); }
    void SetWaits(std::chrono::milliseconds login, std::chrono::milliseconds sync) {
        MarginTraderImpl::Timeouts t = ShortTimeouts();
        t.login = login;
        t.sync = sync;
        SetMarginTimeouts(t);
    }
    // Releases what box holds once it holds n answers, from a thread of its own (the test's
    // thread is in a login meanwhile).
    static std::thread ReleaseWhenHeld(std::shared_ptr<oxa_sim::HeldAnswers> box, std::size_t n) {
        return std::thread([box, n] {
            if (box->wait_held(n, 5000ms)) box->release();
        });
    }

    // Made by a test before its connections start, gone after TearDown stopped them.
    std::unique_ptr<oxa_test::LogStall> stall_;
};

// Nodes 6 and 7 each number their own sessions from 100000, and one connection serves both (the
// router names node 7, the last login): every answer and push still reaches its own session, and
// an answer nothing tells apart (both asked under one request id) reaches neither.
TEST_F(MarginOverlapE2ETest, TwoNodesSharingASessionNumberEachGetTheirOwnAnswersAndPushes) {
    Account(8501, 6, 1, 100000);
    Account(8502, 7, 2, 100000);
    const uint64_t a = Login(8501);
    const uint64_t b = Login(8502);
    ASSERT_EQ(a, uint64_t{6} << 16 | 1) << LastError();
    ASSERT_EQ(b, uint64_t{7} << 16 | 2) << LastError();
    const auto inits = sim_margin_.init_requests();
    ASSERT_EQ(inits.size(), 2u);
    ASSERT_EQ(inits[0].conn_id, inits[1].conn_id) << "one connection serves both";

    for (const uint64_t session : {a, b}) {
        const uint64_t id = FilledOrder(session);
        ASSERT_NE(id, 0u) << LastError();
        ASSERT_TRUE(WaitUntil([&] { return spi_.Of("trade", id).size() == 1; }));
        for (const Event& e : spi_.Of("order", id)) EXPECT_EQ(e.session, session);
        EXPECT_EQ(spi_.Of("trade", id)[0].session, session);
    }

    const OrderQueryParam all{};
    ASSERT_EQ(api_->QueryAsset(a, 61), 0);
    ASSERT_EQ(api_->QueryAsset(b, 71), 0);
    ASSERT_EQ(api_->QueryOrders(&all, a, 62), 0);
    ASSERT_EQ(api_->QueryOrders(&all, b, 72), 0);
    for (const int request : {61, 71, 62, 72}) {
        const uint64_t session = request / 10 == 6 ? a : b;
        const auto answers = Answers(request % 10 == 1 ? "query_asset" : "query_order", request);
        ASSERT_EQ(answers.size(), 1u) << request;
        EXPECT_EQ(answers[0].session, session) << request;
        EXPECT_TRUE(answers[0].has_record) << request;
        if (request % 10 == 2) {
            EXPECT_EQ(answers[0].other >> 40, session) << "its own order";
        }
    }

    // both ask under one request id, and the answers come while both are in flight: nothing in
    // them tells the sessions apart
    ASSERT_TRUE(oxa_test::AnswerTogether(sim_, 0x250, 2, [&] {
        ASSERT_EQ(api_->QueryAsset(a, 80), 0);
        ASSERT_EQ(api_->QueryAsset(b, 80), 0);
    }));
    ASSERT_EQ(api_->QueryAsset(a, 81), 0);  // a marker behind them
    ASSERT_EQ(Answers("query_asset", 81).size(), 1u);
    EXPECT_TRUE(spi_.Of("query_asset", 80).empty()) << "reached neither session";
}

// A's first synchronisation answer comes after A's pass gave up (A resumed by its subscription
// meanwhile), while B's pass waits, with B's own answer right behind it: A's answer ends no pass
// and replays nothing, and B replays its own missed pushes and subscribes after them.
TEST_F(MarginOverlapE2ETest, ALateSynchronisationAnswerOfAnotherAccountIsDropped) {
    api_->SubscribePublicTopic(1);
    Account(8511, 5, 1);
    Account(8512, 5, 2);
    const uint64_t session_a = uint64_t{5} << 16 | 1;
    const uint64_t session_b = uint64_t{5} << 16 | 2;
    auto order_id = [&](uint64_t session, uint32_t n) { return session << 40 | uint64_t{client_id_} << 32 | n; };
    for (uint32_t n = 1; n <= 50; ++n) sim_margin_.store(8511, 0x228, order_id(session_a, n));
    for (uint32_t n = 1; n <= 10; ++n) sim_margin_.store(8512, 0x228, order_id(session_b, n));
    auto box = std::make_shared<oxa_sim::HeldAnswers>();
    sim_.queue_reply(0x21100, oxa_sim::ReplyPlan::held(box));  // A's pass
    sim_.queue_reply(0x21100, oxa_sim::ReplyPlan::held(box));  // B's pass

    SetWaits(2000ms, 300ms);
    ASSERT_EQ(Login(8511), session_a) << LastError();
    ASSERT_EQ(box->held(), 1u);
    ASSERT_EQ(spi_.Events().size(), 50u) << "A's pushes came by its subscription";

    SetWaits(2000ms, 5000ms);
    std::thread release = ReleaseWhenHeld(box, 2);
    const uint64_t b = Login(8512);
    release.join();
    ASSERT_EQ(b, session_b) << LastError();

    std::map<uint64_t, int> seen;
    for (const Event& e : spi_.Events()) {
        ++seen[e.id];
        EXPECT_EQ(e.session, e.id >> 40) << e.id;
    }
    for (uint32_t n = 1; n <= 50; ++n) EXPECT_EQ(seen[order_id(session_a, n)], 1) << "A's push " << n;
    for (uint32_t n = 1; n <= 10; ++n) EXPECT_EQ(seen[order_id(session_b, n)], 1) << "B's push " << n;
    const auto subscriptions = sim_margin_.subscribe_requests();
    ASSERT_EQ(subscriptions.size(), 2u);
    EXPECT_EQ(subscriptions[1].fund_account, 8512u);
    EXPECT_EQ(subscriptions[1].start_seq, 11u) << "after B's own last push";
}

// The account logs in again while its session is live, and the init answer lands as the login's
// wait gives up (the receiving thread held by a slow log sink between taking the answer and
// handing it on): the live session stays exactly as it was, with its number, queries and pushes.
TEST_F(MarginOverlapE2ETest, ARelogInWhoseAnswerLandsAsItsWaitGivesUpLeavesTheLiveSession) {
    stall_ = std::make_unique<oxa_test::LogStall>("OnInit Add Session");
    Account(8521, 4, 3, 100007);
    const uint64_t session = Login(8521);
    ASSERT_EQ(session, uint64_t{4} << 16 | 3) << LastError();
    Account(8521, 4, 3, 100099);
    // long enough for the answer to come; the stall outlasts it
    SetWaits(1500ms, 2000ms);
    EXPECT_TRUE(stall_->HoldAcross([&] {
        EXPECT_EQ(Login(8521), 0u);
        EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout);
    })) << "the answer came and was held";
    const OXA::API::tagSessionInfo* info = OXA::API::_gArrSessionInfo.Get(session);
    ASSERT_NE(info, nullptr) << "the live session lost its record";
    EXPECT_EQ(info->nSessionID, 100007u);

    ASSERT_EQ(api_->QueryAsset(session, 51), 0) << LastError();
    const auto asset = Answers("query_asset", 51);
    ASSERT_EQ(asset.size(), 1u);
    EXPECT_EQ(asset[0].session, session);
    const uint64_t id = FilledOrder(session);
    ASSERT_NE(id, 0u) << LastError();
    ASSERT_TRUE(WaitUntil([&] { return spi_.Of("trade", id).size() == 1; })) << "its pushes still come";
    EXPECT_EQ(spi_.Of("trade", id)[0].session, session);
}

// A's refusal (its record names A) comes after A's login gave up, while B logs in, with B's
// acceptance right behind it: it ends no login, and B logs in.
TEST_F(MarginOverlapE2ETest, ALateRefusalNamingAnotherAccountLeavesTheLoginInFlightAlone) {
    sim_margin_.add_account(8531);
    oxa_sim::MarginInitAnswer refused;
    refused.error_id = 230001;
    sim_margin_.set_account_init_answer(8531, refused);
    Account(8532, 4, 5);
    auto box = std::make_shared<oxa_sim::HeldAnswers>();
    sim_.queue_reply(0x203, oxa_sim::ReplyPlan::held(box));
    sim_.queue_reply(0x203, oxa_sim::ReplyPlan::held(box));

    SetWaits(300ms, 2000ms);
    EXPECT_EQ(Login(8531), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout);
    SetWaits(5000ms, 2000ms);
    std::thread release = ReleaseWhenHeld(box, 2);
    const uint64_t b = Login(8532);
    release.join();
    EXPECT_EQ(b, uint64_t{4} << 16 | 5) << LastError();
    EXPECT_NE(OXA::API::_gArrSessionInfo.Get(b), nullptr);
}

}  // namespace
