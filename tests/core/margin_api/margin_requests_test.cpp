// The margin requests through the back-end of a logged-in account: what each family returns and
// records when its record is null, its session is unknown, its rate is spent or its send fails;
// the records the order path writes its new id into; the request as it reaches the gateway; and
// the operations the margin business does not offer.
#include "core/margin_api/MarginFixture.h"

#include <string>

#include "core/spot_api/LogCapture.h"

#include <cmath>
#include <functional>
#include <limits>

namespace {

using namespace margin_test;
using OXA::API::kErrBadParameter;
using OXA::API::kErrNotConnected;
using OXA::API::kErrNotOffered;
using OXA::API::kErrNotOfferedMargin;
using OXA::API::kErrOrderOfOtherSession;
using OXA::API::kErrOverSpeed;
using OXA::API::kErrRepayPrecision;
using OXA::API::kErrSessionInvalid;

class MarginRequestsTest : public MarginFixture {
protected:
    // A login whose order and query rates allow one request a minute each.
    uint64_t LoginRated(uint64_t account) {
        oxa_sim::MarginInitAnswer a;
        a.speed[0] = {0, 60000, 1};
        a.speed[2] = {1, 60000, 1};
        sim_margin_.set_init_answer(a);
        return Login(account);
    }
    void ExpectError(int code, const char* what) {
        EXPECT_EQ(LastError(), code) << what;
    }
};

using Query = std::function<int(MarginTraderImpl&, uint64_t session, bool null_record)>;
struct QueryRow {
    const char* name;
    Query call;
    bool gated;     // behind the query rate
    bool extended;  // every refusal returns -1
    bool has_record;
    bool records_unknown_session;  // an unknown session's 211004 goes into the error record too
};

const PageQueryParam kPage{10, 0, 0};
const TickerQueryParam kTicker{"600000", 1};
const OrderQueryParam kOrders{"", 0, 0};
const TradeQueryParam kTrades{"", 0, 0};
const FundTransferQueryParam kTransferQuery{0};
const uint64_t kCredit14 = 1;
const DebtToRepayQueryParam kDebt{10, 0, 0, ""};

#define Q(expr) [](MarginTraderImpl& m, uint64_t s, bool null_record) { (void)null_record; return expr; }
#define P(ptr) (null_record ? nullptr : &(ptr))

const QueryRow kQueries[] = {
    {"QueryOrderByOXAID", Q(m.QueryOrderByOXAID(s << 40 | 1, s, 5)), true, false, false, true},
    {"QueryOrders", Q(m.QueryOrders(P(kOrders), s, 5)), true, false, true, true},
    {"QueryUnfinishedOrders", Q(m.QueryUnfinishedOrders(s, 5)), true, false, false, true},
    {"QueryTradesByOXAID", Q(m.QueryTradesByOXAID(s << 40 | 1, s, 5)), true, false, false, true},
    {"QueryTrades", Q(m.QueryTrades(P(kTrades), s, 5)), true, false, true, true},
    {"QueryPosition", Q(m.QueryPosition("600000", s, 5, 1)), true, false, false, false},
    {"QueryAsset", Q(m.QueryAsset(s, 5)), true, false, false, true},
    {"QueryFund", Q(m.QueryFund(s, 5)), true, false, false, true},
    {"QueryCreditInfo1", Q(m.QueryCreditInfo1(s, 5)), true, false, false, true},
    {"QueryCreditInfo2", Q(m.QueryCreditInfo2(s, 5)), true, false, false, true},
    {"QueryCreditInfo3", Q(m.QueryCreditInfo3(s, 5)), true, false, false, true},
    {"QueryOtherServerFund", Q(m.QueryOtherServerFund(nullptr, s, 5)), true, false, false, true},
    {"QueryOrdersByPage", Q(m.QueryOrdersByPage(P(kPage), s, 5)), false, false, true, false},
    {"QueryTradesByPage", Q(m.QueryTradesByPage(P(kPage), s, 5)), false, false, true, false},
    {"QueryPositionByPage", Q(m.QueryPositionByPage(P(kPage), s, 5)), false, false, true, false},
    {"QueryCreditInfo4", Q(m.QueryCreditInfo4(P(kPage), s, 5)), false, false, true, false},
    {"QueryCreditInfo8", Q(m.QueryCreditInfo8(P(kPage), s, 5)), false, false, true, false},
    {"QueryIPOInfoList", Q(m.QueryIPOInfoList(s, 5)), false, false, false, false},
    {"QueryIPOQuotaInfo", Q(m.QueryIPOQuotaInfo(s, 5)), false, false, false, false},
    {"QueryCreditInfo6", Q(m.QueryCreditInfo6(s, 5)), false, false, false, false},
    {"QueryCreditInfo9", Q(m.QueryCreditInfo9(s, 5)), false, false, false, false},
    {"QueryIssueInfoList", Q(m.QueryIssueInfoList(s, 5)), false, false, false, false},
    {"QueryCreditInfo5", Q(m.QueryCreditInfo5(P(kTicker), s, 5)), false, false, true, false},
    {"QueryCreditInfo7", Q(m.QueryCreditInfo7(P(kTicker), s, 5)), false, false, true, false},
    {"QueryCreditInfo10", Q(m.QueryCreditInfo10(P(kTicker), s, 5)), false, false, true, false},
    {"QueryCreditInfo11", Q(m.QueryCreditInfo11(P(kTicker), s, 5)), false, false, true, false},
    {"QueryCreditInfo12", Q(m.QueryCreditInfo12(P(kTicker), s, 5)), false, false, true, false},
    {"QueryCreditInfo13", Q(m.QueryCreditInfo13(P(kTicker), s, 5)), false, false, true, false},
    {"QueryFundTransfer", Q(m.QueryFundTransfer(P(kTransferQuery), s, 5)), false, false, true, false},
    {"QueryCreditInfo14", Q(m.QueryCreditInfo14(P(kCredit14), s, 5)), false, false, true, false},
    {"QuerySecurityInfo", Q(m.QuerySecurityInfo(P(kTicker), s, 5)), true, true, true, true},
    {"QuerySecurityByPage", Q(m.QuerySecurityByPage(P(kPage), s, 5)), true, true, true, true},
    {"QueryCreditPledgeStkByPage", Q(m.QueryCreditPledgeStkByPage(P(kPage), s, 5)), true, true, true, true},
    {"QueryCreditTargetStkByPage", Q(m.QueryCreditTargetStkByPage(P(kPage), s, 5)), true, true, true, true},
    {"QueryCreditDebtToRepayTodayByPage", Q(m.QueryCreditDebtToRepayTodayByPage(P(kDebt), s, 5)),
     true, true, true, true},
};

#undef Q
#undef P

// Null record, unknown session, spent rate, and a send that fails: what every query returns
// and records. A refused query never returns 0 ("sent"). The ungated queries and the position
// query return an unknown session's 211004 and leave the error record as it was.
TEST_F(MarginRequestsTest, QueryRefusalTable) {
    const uint64_t session = LoginRated(8101);
    ASSERT_NE(session, 0u) << LastError();
    const uint64_t unknown = session + 1;
    for (const QueryRow& q : kQueries) {
        SCOPED_TRACE(q.name);
        if (q.has_record) {
            EXPECT_EQ(q.call(*margin_, session, true), -1);
            ExpectError(kErrBadParameter, "null record");
        }
        margin_->SetLastError(0, "");
        EXPECT_EQ(q.call(*margin_, unknown, false), q.extended ? -1 : kErrSessionInvalid);
        ExpectError(q.records_unknown_session ? kErrSessionInvalid : 0, "unknown session");
    }
    // the first gated query spends the minute's one; every gated one after it is refused
    bool first = true;
    for (const QueryRow& q : kQueries) {
        SCOPED_TRACE(q.name);
        const int rc = q.call(*margin_, session, false);
        if (!q.gated || first) {
            EXPECT_EQ(rc, 0);
            first = first && !q.gated;
            continue;
        }
        EXPECT_EQ(rc, q.extended ? -1 : kErrOverSpeed);
        ExpectError(kErrOverSpeed, "over the rate");
    }

    // the link is gone and stays gone: every send fails with 1002
    ASSERT_TRUE(sim_.refuse_connections());
    sim_.close_connections();
    int last_rc = 0;
    ASSERT_TRUE(WaitUntil([&] { return (last_rc = margin_->QueryIPOInfoList(session, 1)) == kErrNotConnected; }))
        << "last answer " << last_rc << ", error " << LastError();
    for (const QueryRow& q : kQueries) {
        if (q.gated) continue;
        EXPECT_EQ(q.call(*margin_, session, false), kErrNotConnected) << q.name;
    }
}

// The order path: null record 1009, unknown session 211004, spent rate 211008, failed send 0
// with the send's code; every refusal returns 0 and no id.
TEST_F(MarginRequestsTest, OrderPathRefusalTable) {
    const uint64_t session = LoginRated(8102);
    ASSERT_NE(session, 0u) << LastError();
    OrderInsertInfo order{};
    FundTransferInfo transfer{};
    CashRepaySpecifiedDebtInfo repay{};
    CreditRequestParam credit{};
    using Call = std::function<uint64_t(MarginTraderImpl&, uint64_t, bool)>;
    const struct {
        const char* name;
        Call call;
        bool has_record;
    } rows[] = {
        {"InsertOrder", [&](MarginTraderImpl& m, uint64_t s, bool n) { return m.InsertOrder(n ? nullptr : &order, s); },
         true},
        {"CancelOrder", [&](MarginTraderImpl& m, uint64_t s, bool) { return m.CancelOrder(s << 40 | 1, s); }, false},
        {"FundTransfer",
         [&](MarginTraderImpl& m, uint64_t s, bool n) { return m.FundTransfer(n ? nullptr : &transfer, s); }, true},
        {"CreditCashRepay", [&](MarginTraderImpl& m, uint64_t s, bool) { return m.CreditCashRepay(s, 1.5); }, false},
        {"CreditCashRepaySpecifiedDebt",
         [&](MarginTraderImpl& m, uint64_t s, bool n) { return m.CreditCashRepaySpecifiedDebt(n ? nullptr : &repay, s); },
         true},
        {"CreditRequest",
         [&](MarginTraderImpl& m, uint64_t s, bool n) { return m.CreditRequest(n ? nullptr : &credit, s); }, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.has_record) {
            EXPECT_EQ(r.call(*margin_, session, true), 0u);
            ExpectError(kErrBadParameter, "null record");
        }
        EXPECT_EQ(r.call(*margin_, session + 1, false), 0u);
        ExpectError(kErrSessionInvalid, "unknown session");
    }
    bool first = true;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const uint64_t id = r.call(*margin_, session, false);
        if (first) {
            EXPECT_EQ(id >> 40, session);
            first = false;
            continue;
        }
        EXPECT_EQ(id, 0u);
        ExpectError(kErrOverSpeed, "over the rate");
    }
    ASSERT_TRUE(sim_.wait_for_frame(0x226, 2000ms).has_value());
    EXPECT_FALSE(sim_.wait_for_frame(0x226, 50ms, 1).has_value()) << "only the first order left";
}

TEST_F(MarginRequestsTest, FailedSendsOfTheOrderPathReturnNoId) {
    const uint64_t session = Login(8103);
    ASSERT_NE(session, 0u) << LastError();
    ASSERT_TRUE(sim_.refuse_connections());
    sim_.close_connections();
    ASSERT_TRUE(WaitUntil([&] { return margin_->CancelOrder(session << 40 | 1, session) == 0 && LastError() == kErrNotConnected; }));
    FundTransferInfo transfer{};
    EXPECT_EQ(margin_->FundTransfer(&transfer, session), 0u);
    EXPECT_EQ(LastError(), kErrNotConnected);
    EXPECT_EQ(transfer.serial_id >> 40, session) << "the id was written before the send, and stays";
    EXPECT_EQ(margin_->CreditCashRepay(session, 0.01), 0u);
    EXPECT_EQ(LastError(), kErrNotConnected);
    // an id taken before a failed send is not given out again
    const uint64_t before = transfer.serial_id;
    EXPECT_EQ(margin_->FundTransfer(&transfer, session), 0u);
    EXPECT_GT(+transfer.serial_id, before);
}

TEST_F(MarginRequestsTest, RepayAmountsAreCheckedBeforeAnythingElse) {
    const uint64_t session = Login(8104);
    ASSERT_NE(session, 0u) << LastError();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {0.005, 0.0, -1.0, 1.234, std::nan(""), inf, 1e300}) {
        EXPECT_EQ(margin_->CreditCashRepay(session, bad), 0u) << bad;
        EXPECT_EQ(LastError(), kErrRepayPrecision) << bad;
        EXPECT_EQ(margin_->CreditCashRepay(session + 1, bad), 0u);
        EXPECT_EQ(LastError(), kErrRepayPrecision) << "the amount is judged first";
    }
    EXPECT_TRUE(FramesOf(0x232).empty());
    for (double good : {0.01, 2.01}) {
        const uint64_t id = margin_->CreditCashRepay(session, good);
        EXPECT_EQ(id >> 40, session) << good;
    }
    ASSERT_TRUE(sim_.wait_for_frame(0x232, 2000ms, 1).has_value());
    const auto frames = FramesOf(0x232);
    ASSERT_EQ(frames.size(), 2u);
    double sent = 0;
    std::memcpy(&sent, &frames[1].body[30], sizeof sent);
    EXPECT_EQ(sent, 2.01) << "the amount goes out unchanged";
}

// The order as the gateway receives it: the application's record byte for byte, but its id,
// its order_source and its byte 63; the record itself is left alone. The transfer, the
// repayment of a debt and the credit request carry their new id in the record.
TEST_F(MarginRequestsTest, OrderPathRequestsOnTheWire) {
    const uint64_t session = Login(8105);
    ASSERT_NE(session, 0u) << LastError();
    OrderInsertInfo order{};
    for (std::size_t i = 0; i < sizeof order; ++i) reinterpret_cast<uint8_t*>(&order)[i] = static_cast<uint8_t>(i + 1);
    order.order_source = 'Z';
    const OrderInsertInfo copy = order;
    const uint64_t id = margin_->InsertOrder(&order, session);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(std::memcmp(&order, &copy, sizeof order), 0);
    ASSERT_TRUE(sim_.wait_for_frame(0x226, 2000ms).has_value());
    const auto f = FramesOf(0x226).at(0);
    ASSERT_EQ(f.body.size(), 90u);
    EXPECT_EQ(Le64(f.body, 0), 8105u);
    EXPECT_EQ(Le64(f.body, 12), sim_margin_.session_no(8105));
    EXPECT_EQ(Le64(f.body, 22), id);
    for (std::size_t i = 8; i < 68; ++i) {
        const uint8_t want = i == 62 ? '1' : i == 63 ? client_id_ : reinterpret_cast<const uint8_t*>(&copy)[i];
        EXPECT_EQ(f.body[22 + i], want) << "record byte " << i;
    }

    CashRepaySpecifiedDebtInfo repay{};
    CreditRequestParam credit{};
    const uint64_t repay_id = margin_->CreditCashRepaySpecifiedDebt(&repay, session);
    const uint64_t credit_id = margin_->CreditRequest(&credit, session);
    EXPECT_EQ(+repay.id, repay_id);
    EXPECT_EQ(+credit.id, credit_id);
    ASSERT_TRUE(sim_.wait_for_frame(0x31a, 2000ms).has_value());
    EXPECT_EQ(Le64(FramesOf(0x234).at(0).body, 22), repay_id);
    EXPECT_EQ(Le64(FramesOf(0x31a).at(0).body, 22), credit_id);
    EXPECT_GT(FramesOf(0x226).at(0).request_id + 0, 0u) << "the order path takes its own request sequence";
}

TEST_F(MarginRequestsTest, OperationsTheMarginBusinessDoesNotOffer) {
    const uint64_t session = Login(8106);
    ASSERT_NE(session, 0u) << LastError();
    MarginTraderImpl& m = *margin_;
    const struct {
        const char* name;
        std::function<int64_t()> call;
        int64_t result;
        int code;
    } rows[] = {
        {"QueryETFBaseInfo", [&] { return m.QueryETFBaseInfo(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryETFTickerBasket", [&] { return m.QueryETFTickerBasket(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryOptionAuctionInfo", [&] { return m.QueryOptionAuctionInfo(nullptr, session, 1); }, kErrNotOfferedMargin,
         0},
        {"Reserved5", [&] { return m.Reserved5(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"Reserved6", [&] { return m.Reserved6(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"Reserved7", [&] { return m.Reserved7(nullptr, session); }, kErrNotOfferedMargin, 0},
        {"Reserved8", [&] { return m.Reserved8(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedUnfinishedOrders", [&] { return m.QueryOptionCombinedUnfinishedOrders(session, 1); },
         kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedOrderByOXAID", [&] { return m.QueryOptionCombinedOrderByOXAID(1, session, 1); },
         kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedOrders", [&] { return m.QueryOptionCombinedOrders(nullptr, session, 1); },
         kErrNotOfferedMargin, 0},
        {"Reserved9", [&] { return m.Reserved9(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedTradesByOXAID", [&] { return m.QueryOptionCombinedTradesByOXAID(1, session, 1); },
         kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedTrades", [&] { return m.QueryOptionCombinedTrades(nullptr, session, 1); },
         kErrNotOfferedMargin, 0},
        {"Reserved10", [&] { return m.Reserved10(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedPosition", [&] { return m.QueryOptionCombinedPosition(nullptr, session, 1); },
         kErrNotOfferedMargin, 0},
        {"QueryOptionCombinedStrategyInfo", [&] { return m.QueryOptionCombinedStrategyInfo(session, 1); },
         kErrNotOfferedMargin, 0},
        {"QueryYesterdayAsset", [&] { return m.QueryYesterdayAsset(session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryETFByPage", [&] { return m.QueryETFByPage(nullptr, session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryHKConnectIndicativeExchangeRateInfo",
         [&] { return m.QueryHKConnectIndicativeExchangeRateInfo(session, 1); }, kErrNotOfferedMargin, 0},
        {"QueryHKConnectSpreadTable", [&] { return m.QueryHKConnectSpreadTable(nullptr, session, 1); },
         kErrNotOfferedMargin, 0},
        {"Reserved4", [&] { return m.Reserved4(1, 2, session); }, 0, kErrNotOfferedMargin},
        {"InsertOptionCombinedOrder",
         [&] { return static_cast<int64_t>(m.InsertOptionCombinedOrder(nullptr, session)); }, 0,
         kErrNotOfferedMargin},
        {"InsertExecuteOrder", [&] { return static_cast<int64_t>(m.InsertExecuteOrder(nullptr, session)); }, 0,
         kErrNotOffered},
    };
    const std::size_t frames = sim_.frames().size();
    for (const auto& r : rows) {
        margin_->SetLastError(0, "");
        EXPECT_EQ(r.call(), r.result) << r.name;
        const int code = r.code ? r.code : kErrNotOfferedMargin;
        EXPECT_EQ(LastError(), code) << r.name;
        EXPECT_STREQ(api_->GetApiLastError()->error_msg, "暂不支持该项业务") << r.name;
    }
    EXPECT_EQ(m.Reserved3(session), 0);
    EXPECT_EQ(m.QueryOptionCombinedExecPosition(nullptr, session, 1), 0);
    EXPECT_EQ(sim_.frames().size(), frames) << "nothing is sent";
}

// What the gate logs when it refuses, on this thread alone (no connection: a request that passes
// the gate fails at its send, or at its id, and still spends the rate).
TEST(MarginRequestGate, RefusalLines) {
    oxa_test::ResetSessionState();
    constexpr uint64_t kSession = uint64_t{9} << 16 | 4;
    OXA::API::tagSessionInfo info{};
    info.nSessionID = 100004;
    info.nFundAcc = 9004;
    info.nApiSessionID = kSession;
    ASSERT_NE(OXA::API::RegisterSession(info, nullptr, true), nullptr);
    OXA::API::CSpeedControl limits;
    ASSERT_TRUE(limits.SetSpeedControl(kSession, {0, 60000, 1}));
    ASSERT_TRUE(limits.SetSpeedControl(kSession, {1, 60000, 1}));
    MarginTraderImpl m;
    OXAErrorInfo last{};
    m.Init(nullptr, nullptr, &last);
    spot_test::LogCapture log;
    m.QueryFund(kSession, 1);
    m.CancelOrder(kSession << 40 | 1, kSession);
    const std::string session = std::to_string(kSession);
    const struct {
        const char* name;
        std::function<int64_t()> call;
        int64_t result;
        int code;
        std::vector<std::string> lines;
    } rows[] = {
        {"query over its rate", [&] { return m.QueryFund(kSession, 1); }, kErrOverSpeed, kErrOverSpeed,
         {"error|OXA_ERR_API_OVER_SPEED. SessionId=" + session + ",CtrlType=1"}},
        {"extended query over its rate", [&] { return m.QuerySecurityInfo(&kTicker, kSession, 1); }, -1,
         kErrOverSpeed,
         {"error|OXA_ERR_API_OVER_SPEED. SessionId=" + session + ",CtrlType=1",
          "error|QuerySecurityInfo api over speed."}},
        {"extended query of an unknown session", [&] { return m.QuerySecurityInfo(&kTicker, kSession + 1, 1); }, -1,
         kErrSessionInvalid,
         {"error|[session_id:" + std::to_string(kSession + 1) + "] _gArrSessionInfo is nullptr",
          "error|QuerySecurityInfo session_id invalid"}},
        {"order path over its rate", [&] { return static_cast<int64_t>(m.CancelOrder(kSession << 40 | 1, kSession)); },
         0, kErrOverSpeed, {"error|OXA_ERR_API_OVER_SPEED. SessionId=" + session + ",CtrlType=0"}},
        // refused before the rate is looked at
        {"cancel of another session's order",
         [&] { return static_cast<int64_t>(m.CancelOrder((kSession + 1) << 40 | 1, kSession)); }, 0,
         kErrOrderOfOtherSession,
         {"error|[CancelOrder] order " + std::to_string((kSession + 1) << 40 | 1) + " belongs to session " +
          std::to_string(kSession + 1) + ", not to session " + session}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        log.Clear();
        m.SetLastError(0, "");
        EXPECT_EQ(r.call(), r.result);
        EXPECT_EQ(last.error_id, r.code);
        std::vector<std::string> errors;  // besides the record's own line
        for (const std::string& line : log.Lines())
            if (line.rfind("error|", 0) == 0 && line.rfind("error|[SetLastError]", 0) != 0) errors.push_back(line);
        EXPECT_EQ(errors, r.lines);
    }
    OXA::API::UnregisterSession(kSession);
}

}  // namespace
