// The API object: factory, facade operations and the forwarding of every request to the
// back-end of its session's node.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/ApiGlobals.h"
#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api/TraderImpl.h"
#include "support/StubInnerApi.h"
#include "support/TestApi.h"
#include "support/VirtualSlot.h"

using OXA::API::TraderApi;
using OXA::API::TraderImpl;
using oxa_test::StubArg;
using oxa_test::StubArgs;
using oxa_test::StubInnerApi;
using oxa_test::TestApi;

namespace {

constexpr const char* kClientIdMessage = "client_id has to be between [1-127]\n";

uint64_t Session(uint8_t node, uint16_t fund_index) { return (uint64_t{node} << 16) | fund_index; }

// Every test starts from a clean last-error record and leaves no back-end installed.
class TraderApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        api = TestApi();
        api->SetLastError(0, "");
    }
    void TearDown() override {
        for (int node = 0; node < TraderImpl::kNodeCount; ++node) {
            api->SetInnerApiForNode(static_cast<uint8_t>(node), nullptr);
        }
        api->SetLastError(0, "");
    }
    int LastErrorId() { return api->GetApiLastError()->error_id; }

    TraderImpl* api = nullptr;
};

// ---------------------------------------------------------------------------------------
// Factory

TEST_F(TraderApiTest, FactoryRefusesClientIdsOutsideOneTo127) {
    for (unsigned id : {0u, 128u, 200u, 255u}) {
        ::testing::internal::CaptureStderr();
        TraderApi* refused = TraderApi::CreateTraderApi(static_cast<unsigned char>(id),
                                                        oxa_test::TestLogPath().c_str(), OXA_LOG_LEVEL_INFO);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(refused, nullptr) << "client id " << id;
        EXPECT_EQ(err, kClientIdMessage) << "client id " << id;
    }
    EXPECT_EQ(api->GetClientId(), 1) << "a refused call must not touch the object";
}

TEST_F(TraderApiTest, FactoryAcceptsOneAnd127AsTheSameObject) {
    TraderApi* first = TraderApi::CreateTraderApi(1, oxa_test::TestLogPath().c_str(), OXA_LOG_LEVEL_INFO);
    TraderApi* second = TraderApi::CreateTraderApi(127, oxa_test::TestLogPath().c_str(), OXA_LOG_LEVEL_INFO);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, api);
    EXPECT_EQ(api->GetClientId(), 127);
    TestApi(1);
    EXPECT_EQ(api->GetClientId(), 1);
}

TEST_F(TraderApiTest, FactoryRefusesANullLogPathLikeABadClientId) {
    ::testing::internal::CaptureStderr();
    TraderApi* refused = TraderApi::CreateTraderApi(5, nullptr, OXA_LOG_LEVEL_INFO);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(refused, nullptr);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(api->GetClientId(), 1);
}

TEST_F(TraderApiTest, ConcurrentFactoryCallsShareOneObject) {
    std::vector<std::thread> threads;
    std::vector<TraderApi*> seen(8 * 50, nullptr);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < 50; ++i) {
                seen[t * 50 + i] = TraderApi::CreateTraderApi(static_cast<unsigned char>(t + 1),
                                                              oxa_test::TestLogPath().c_str(), OXA_LOG_LEVEL_INFO);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (TraderApi* p : seen) EXPECT_EQ(p, api);
    EXPECT_GE(api->GetClientId(), 1);
    EXPECT_LE(api->GetClientId(), 8);
}

// ---------------------------------------------------------------------------------------
// Facade operations

TEST_F(TraderApiTest, VersionIsFixedAndStable) {
    const char* v = api->GetApiVersion();
    EXPECT_STREQ(v, "2.23.1.0");
    EXPECT_EQ(api->GetApiVersion(), v) << "the text is built once";
}

TEST_F(TraderApiTest, TradingDayTextIsPerThread) {
    OXA::API::_tradingDay = 0;
    EXPECT_STREQ(api->GetTradingDay(), "0");
    OXA::API::_tradingDay = 20240105u;
    const char* mine = api->GetTradingDay();
    ASSERT_STREQ(mine, "20240105");
    std::string other;
    OXA::API::_tradingDay = 4294967295u;
    std::thread([&] { other = api->GetTradingDay(); }).join();
    EXPECT_EQ(other, "4294967295");
    EXPECT_STREQ(mine, "20240105") << "another thread must not overwrite this thread's text";
    OXA::API::_tradingDay = 0;
}

TEST_F(TraderApiTest, ClientIdComesFromBits39To32) {
    EXPECT_EQ(api->GetClientIDByOXAID(0x0A00030700000064ull), 7);
    EXPECT_EQ(api->GetClientIDByOXAID(0xFFFFFFFFFFFFFFFFull), 0xff);
    EXPECT_EQ(api->GetClientIDByOXAID(0x00000000FFFFFFFFull), 0);
}

TEST_F(TraderApiTest, SettersStoreTheirValues) {
    oxa_test::StubInnerApi unused;
    OXA::API::TraderSpi spi;
    api->RegisterSpi(&spi);
    api->SubscribePublicTopic(0);
    api->SetCpuAffinity(3, -1);
    EXPECT_EQ(api->GetSpi(), &spi);
    EXPECT_EQ(api->GetResumeType(), 0);
    EXPECT_EQ(api->GetReceiverCpu(), 3);
    EXPECT_EQ(api->GetDeliverCpu(), -1);
    api->RegisterSpi(nullptr);
    api->SubscribePublicTopic(2);
    api->SetCpuAffinity(-1, -1);
    api->Reserved1();
    api->Reserved2();
    EXPECT_EQ(unused.CallCount(), 0u);
}

TEST_F(TraderApiTest, ErrorMsgNeedsABackEndForTheSession) {
    EXPECT_EQ(api->GetApiErrorMsg(1001, Session(40, 1)), nullptr);
    EXPECT_EQ(LastErrorId(), 1004);

    StubInnerApi stub;
    api->SetInnerApiForNode(40, &stub);
    api->SetLastError(0, "");
    const char* text = api->GetApiErrorMsg(1005, Session(40, 1));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, OXA::API::GetErrorMsg(1005));
    EXPECT_EQ(LastErrorId(), 0) << "a successful call leaves the last error alone";
    EXPECT_EQ(stub.CallCount(), 0u) << "the session plays no other part";
}

TEST_F(TraderApiTest, ErrorMsgTextIsPerThread) {
    StubInnerApi stub;
    api->SetInnerApiForNode(41, &stub);
    const char* mine = api->GetApiErrorMsg(1001, Session(41, 2));
    ASSERT_NE(mine, nullptr);
    std::string other;
    std::thread([&] { other = api->GetApiErrorMsg(1010, Session(41, 2)); }).join();
    EXPECT_EQ(other, OXA::API::GetErrorMsg(1010));
    EXPECT_STREQ(mine, OXA::API::GetErrorMsg(1001));
}

TEST_F(TraderApiTest, AccountByOXAIDUsesTheNodeByteOfTheOrderId) {
    StubInnerApi stub;
    stub.SetAccountText("123456789");
    api->SetInnerApiForNode(5, &stub);
    const uint64_t order_id = 0x0500030700000064ull;  // node 5 in bits 63-56
    EXPECT_STREQ(api->GetAccountByOXAID(order_id), "123456789");
    ASSERT_EQ(stub.CallCount(), 1u);
    EXPECT_EQ(stub.LastCall().op, "GetAccountByOXAID");
    EXPECT_EQ(stub.LastCall().args, StubArgs(order_id));

    api->SetLastError(77, "");
    const char* none = api->GetAccountByOXAID(0x0600030700000064ull);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    EXPECT_EQ(LastErrorId(), 77) << "no error is set for an unknown node";
}

TEST_F(TraderApiTest, AccountTextOfTheSharedSessionRecordIsPerThread) {
    OXA::API::CInnerApiInterface backend;  // the base's own answer, as the back-ends inherit it
    api->SetInnerApiForNode(12, &backend);
    OXA::API::tagSessionInfo info{};
    info.nFundAcc = 10000123456ull;
    info.nApiSessionID = Session(12, 3);
    OXA::API::tagSessionInfo other = info;
    other.nFundAcc = 42;
    other.nApiSessionID = Session(12, 4);
    ASSERT_NE(OXA::API::RegisterSession(info, nullptr, false), nullptr);
    ASSERT_NE(OXA::API::RegisterSession(other, nullptr, false), nullptr);

    const uint64_t order_id = (Session(12, 3) << 40) | (uint64_t{1} << 32) | 9;
    const char* mine = api->GetAccountByOXAID(order_id);
    EXPECT_STREQ(mine, "10000123456");
    std::string theirs;
    std::thread([&] { theirs = api->GetAccountByOXAID((Session(12, 4) << 40) | 5); }).join();
    EXPECT_EQ(theirs, "42");
    EXPECT_STREQ(mine, "10000123456") << "another thread must not overwrite this thread's text";
    EXPECT_STREQ(api->GetAccountByOXAID((Session(12, 9) << 40) | 5), "") << "no session record";

    OXA::API::UnregisterSession(Session(12, 3));
    OXA::API::UnregisterSession(Session(12, 4));
}

TEST_F(TraderApiTest, LoginToAPortWhereNothingListensIsNotSent) {
    // the connection goes on retrying in the background; the login itself ends at once
    EXPECT_EQ(api->Login("127.0.0.1", 1, "1001", "pw", 1, nullptr, nullptr), 0u);
    EXPECT_EQ(LastErrorId(), 1008);
}

TEST_F(TraderApiTest, LogoutWithoutASessionRecordAnswers1004) {
    EXPECT_EQ(api->Logout(Session(9, 1)), 1004);
    EXPECT_EQ(LastErrorId(), 1004);

    // a back-end without a record of the session: nothing is sent, nothing ends
    StubInnerApi stub;
    stub.SetResult(0);
    api->SetInnerApiForNode(9, &stub);
    api->SetLastError(0, "");
    EXPECT_EQ(api->Logout(Session(9, 1)), 1004);
    EXPECT_EQ(LastErrorId(), 1004);
    EXPECT_NE(stub.LastCall().op, "Logout");
}

TEST_F(TraderApiTest, ReleaseUnpublishesEveryNodeAndTheObjectStaysUsable) {
    StubInnerApi stub;  // not owned by the facade: Release must not free it
    api->SetInnerApiForNode(11, &stub);
    EXPECT_EQ(api->QueryAsset(Session(11, 1), 1), 0);
    api->Release();
    EXPECT_EQ(api->QueryAsset(Session(11, 1), 1), 1004);
    EXPECT_EQ(LastErrorId(), 1004);
    EXPECT_STREQ(api->GetApiVersion(), "2.23.1.0");
    api->SetInnerApiForNode(11, &stub);
    EXPECT_EQ(api->QueryAsset(Session(11, 1), 2), 0) << "a back-end can be installed again";
}

TEST_F(TraderApiTest, MissingBackEndRecordsTheTextOfItsOwnCode) {
    api->SetLastError(0, "");
    EXPECT_EQ(api->QueryFund(Session(60, 1), 1), 1004);
    EXPECT_STREQ(api->GetApiLastError()->error_msg, OXA::API::GetErrorMsg(1004));

    // an older text never stays beside the new code
    api->SetLastError(5, "older text");
    EXPECT_EQ(api->QueryFund(Session(60, 1), 1), 1004);
    EXPECT_EQ(LastErrorId(), 1004);
    EXPECT_STREQ(api->GetApiLastError()->error_msg, OXA::API::GetErrorMsg(1004));
}

// ---------------------------------------------------------------------------------------
// Forwarding of the 66 back-end operations

struct ForwardCase {
    const char* op;
    bool returns_id;   // uint64 result (an id) rather than an int
    uint64_t none;     // result when the node has no back-end
    std::function<uint64_t(TraderApi&, uint64_t)> call;          // result widened as StubArg does
    std::function<std::vector<uint64_t>(uint64_t)> expected_args;
};

class ForwardingTest : public TraderApiTest {
protected:
    std::vector<ForwardCase> Cases();

    OrderInsertInfo order{};
    OrderQueryParam order_query{};
    TradeQueryParam trade_query{};
    PageQueryParam page{};
    FundTransferInfo transfer{};
    FundTransferQueryParam transfer_query{};
    OtherServerFundQueryParam other_fund{};
    ETFQueryParam etf{};
    OptionAuctionInfoQueryParam auction{};
    CashRepaySpecifiedDebtInfo repay{};
    TickerQueryParam ticker{};
    ExecuteOrderInsertInfo exec{};
    OptionCombinedOrderInsertInfo comb{};
    OptCombOrderQueryParam comb_query{};
    OptCombPositionQueryParam comb_pos{};
    OptCombExecPositionQueryParam comb_exec{};
    CreditRequestParam credit{};
    uint64_t credit14 = 0;
    HKConnectSpreadQueryParam spread{};
    DebtToRepayQueryParam debt{};
    char blob[8] = {};
    const char* position_ticker = "600000";
};

constexpr uint64_t kId = 0x0A00030700000064ull;
constexpr int kReq = -42;
constexpr double kAmount = 1234.56;

#define ID_CASE(name, call_expr, ...)                                                   \
    ForwardCase {                                                                       \
        #name, true, 0, [&](TraderApi& a, uint64_t s) { return StubArg(a.call_expr); }, \
            [&](uint64_t s) { return StubArgs(__VA_ARGS__); }                           \
    }
#define INT_CASE(name, none_result, call_expr, ...)                                                \
    ForwardCase {                                                                                  \
        #name, false, none_result, [&](TraderApi& a, uint64_t s) { return StubArg(a.call_expr); }, \
            [&](uint64_t s) { return StubArgs(__VA_ARGS__); }                                      \
    }
#define QUERY_CASE(name, call_expr, ...) INT_CASE(name, 1004, call_expr, __VA_ARGS__)

std::vector<ForwardCase> ForwardingTest::Cases() {
    void* raw = blob;
    return {
        INT_CASE(Reserved3, 0, Reserved3(s), s),
        ID_CASE(InsertOrder, InsertOrder(&order, s), &order, s),
        ID_CASE(CancelOrder, CancelOrder(kId, s), kId, s),
        QUERY_CASE(QueryOrderByOXAID, QueryOrderByOXAID(kId, s, kReq), kId, s, kReq),
        QUERY_CASE(QueryOrders, QueryOrders(&order_query, s, kReq), &order_query, s, kReq),
        QUERY_CASE(QueryUnfinishedOrders, QueryUnfinishedOrders(s, kReq), s, kReq),
        QUERY_CASE(QueryOrdersByPage, QueryOrdersByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryTradesByOXAID, QueryTradesByOXAID(kId, s, kReq), kId, s, kReq),
        QUERY_CASE(QueryTrades, QueryTrades(&trade_query, s, kReq), &trade_query, s, kReq),
        QUERY_CASE(QueryTradesByPage, QueryTradesByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryPosition, QueryPosition(position_ticker, s, kReq, 2), position_ticker, s, kReq, 2),
        QUERY_CASE(QueryPositionByPage, QueryPositionByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryAsset, QueryAsset(s, kReq), s, kReq),
        QUERY_CASE(QueryFund, QueryFund(s, kReq), s, kReq),
        ID_CASE(FundTransfer, FundTransfer(&transfer, s), &transfer, s),
        QUERY_CASE(QueryFundTransfer, QueryFundTransfer(&transfer_query, s, kReq), &transfer_query, s, kReq),
        QUERY_CASE(QueryOtherServerFund, QueryOtherServerFund(&other_fund, s, kReq), &other_fund, s, kReq),
        QUERY_CASE(QueryETFBaseInfo, QueryETFBaseInfo(&etf, s, kReq), &etf, s, kReq),
        QUERY_CASE(QueryETFTickerBasket, QueryETFTickerBasket(&etf, s, kReq), &etf, s, kReq),
        QUERY_CASE(QueryIPOInfoList, QueryIPOInfoList(s, kReq), s, kReq),
        QUERY_CASE(QueryIPOQuotaInfo, QueryIPOQuotaInfo(s, kReq), s, kReq),
        QUERY_CASE(QueryOptionAuctionInfo, QueryOptionAuctionInfo(&auction, s, kReq), &auction, s, kReq),
        ID_CASE(CreditCashRepay, CreditCashRepay(s, kAmount), s, kAmount),
        ID_CASE(CreditCashRepaySpecifiedDebt, CreditCashRepaySpecifiedDebt(&repay, s), &repay, s),
        QUERY_CASE(Reserved4, Reserved4(11, 22, s), uint64_t{11}, uint64_t{22}, s),
        QUERY_CASE(QueryCreditInfo1, QueryCreditInfo1(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo2, QueryCreditInfo2(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo3, QueryCreditInfo3(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo4, QueryCreditInfo4(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryCreditInfo5, QueryCreditInfo5(&ticker, s, kReq), &ticker, s, kReq),
        QUERY_CASE(QueryCreditInfo6, QueryCreditInfo6(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo7, QueryCreditInfo7(&ticker, s, kReq), &ticker, s, kReq),
        QUERY_CASE(QueryCreditInfo8, QueryCreditInfo8(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(Reserved5, Reserved5(raw, s, kReq), raw, s, kReq),
        QUERY_CASE(Reserved6, Reserved6(raw, s, kReq), raw, s, kReq),
        QUERY_CASE(Reserved7, Reserved7(raw, s), raw, s),
        QUERY_CASE(Reserved8, Reserved8(raw, s, kReq), raw, s, kReq),
        QUERY_CASE(QueryCreditInfo9, QueryCreditInfo9(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo10, QueryCreditInfo10(&ticker, s, kReq), &ticker, s, kReq),
        ID_CASE(InsertExecuteOrder, InsertExecuteOrder(&exec, s), &exec, s),
        ID_CASE(InsertOptionCombinedOrder, InsertOptionCombinedOrder(&comb, s), &comb, s),
        QUERY_CASE(QueryOptionCombinedUnfinishedOrders, QueryOptionCombinedUnfinishedOrders(s, kReq), s, kReq),
        QUERY_CASE(QueryOptionCombinedOrderByOXAID, QueryOptionCombinedOrderByOXAID(kId, s, kReq), kId, s, kReq),
        QUERY_CASE(QueryOptionCombinedOrders, QueryOptionCombinedOrders(&comb_query, s, kReq), &comb_query, s,
                   kReq),
        QUERY_CASE(Reserved9, Reserved9(raw, s, kReq), raw, s, kReq),
        QUERY_CASE(QueryOptionCombinedTradesByOXAID, QueryOptionCombinedTradesByOXAID(kId, s, kReq), kId, s,
                   kReq),
        QUERY_CASE(QueryOptionCombinedTrades, QueryOptionCombinedTrades(&comb_query, s, kReq), &comb_query, s,
                   kReq),
        QUERY_CASE(Reserved10, Reserved10(raw, s, kReq), raw, s, kReq),
        QUERY_CASE(QueryOptionCombinedPosition, QueryOptionCombinedPosition(&comb_pos, s, kReq), &comb_pos, s,
                   kReq),
        QUERY_CASE(QueryOptionCombinedStrategyInfo, QueryOptionCombinedStrategyInfo(s, kReq), s, kReq),
        QUERY_CASE(QueryCreditInfo11, QueryCreditInfo11(&ticker, s, kReq), &ticker, s, kReq),
        QUERY_CASE(QueryOptionCombinedExecPosition, QueryOptionCombinedExecPosition(&comb_exec, s, kReq),
                   &comb_exec, s, kReq),
        QUERY_CASE(QueryCreditInfo12, QueryCreditInfo12(&ticker, s, kReq), &ticker, s, kReq),
        QUERY_CASE(QueryCreditInfo13, QueryCreditInfo13(&ticker, s, kReq), &ticker, s, kReq),
        QUERY_CASE(QueryCreditPledgeStkByPage, QueryCreditPledgeStkByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryCreditTargetStkByPage, QueryCreditTargetStkByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryIssueInfoList, QueryIssueInfoList(s, kReq), s, kReq),
        QUERY_CASE(QuerySecurityInfo, QuerySecurityInfo(&ticker, s, kReq), &ticker, s, kReq),
        ID_CASE(CreditRequest, CreditRequest(&credit, s), &credit, s),
        QUERY_CASE(QueryCreditInfo14, QueryCreditInfo14(&credit14, s, kReq), &credit14, s, kReq),
        QUERY_CASE(QueryYesterdayAsset, QueryYesterdayAsset(s, kReq), s, kReq),
        QUERY_CASE(QueryETFByPage, QueryETFByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QuerySecurityByPage, QuerySecurityByPage(&page, s, kReq), &page, s, kReq),
        QUERY_CASE(QueryHKConnectIndicativeExchangeRateInfo, QueryHKConnectIndicativeExchangeRateInfo(s, kReq), s,
                   kReq),
        QUERY_CASE(QueryHKConnectSpreadTable, QueryHKConnectSpreadTable(&spread, s, kReq), &spread, s, kReq),
        QUERY_CASE(QueryCreditDebtToRepayTodayByPage, QueryCreditDebtToRepayTodayByPage(&debt, s, kReq), &debt, s,
                   kReq),
    };
}

TEST_F(ForwardingTest, TableCoversEveryBackEndOperationOnce) {
    std::set<std::string> names;
    for (const auto& c : Cases()) names.insert(c.op);
    EXPECT_EQ(names.size(), 66u);  // the 80 operations less the 14 the facade answers
    EXPECT_EQ(Cases().size(), names.size());
}

TEST_F(ForwardingTest, EveryOperationReachesTheBackEndWithItsArgumentsAndReturnsItsResult) {
    StubInnerApi stub;
    const uint8_t node = 0x2A;
    const uint64_t s = Session(node, 0x1234);
    api->SetInnerApiForNode(node, &stub);
    // two results per operation, so a constant answer of the facade cannot pass
    for (uint64_t programmed : {0x1122334455667788ull, 0xFFFFFFFFFFFFFFF9ull}) {
        stub.SetResult(programmed);
        for (const auto& c : Cases()) {
            SCOPED_TRACE(c.op);
            stub.ClearCalls();
            const uint64_t expected = c.returns_id ? programmed : StubArg(static_cast<int>(programmed));
            EXPECT_EQ(c.call(*api, s), expected);
            ASSERT_EQ(stub.CallCount(), 1u);
            EXPECT_EQ(stub.LastCall().op, c.op);
            EXPECT_EQ(stub.LastCall().args, c.expected_args(s));
        }
    }
    EXPECT_EQ(LastErrorId(), 0) << "forwarding records nothing of its own";
}

TEST_F(ForwardingTest, WithoutABackEndEveryOperationAnswersItsRefusalAnd1004) {
    StubInnerApi other_node;
    api->SetInnerApiForNode(0x2B, &other_node);
    const uint64_t s = Session(0x2A, 7);
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.op);
        api->SetLastError(0, "");
        EXPECT_EQ(c.call(*api, s), c.none);
        EXPECT_EQ(LastErrorId(), 1004);
    }
    EXPECT_EQ(other_node.CallCount(), 0u) << "another node's back-end is never asked";
}

TEST_F(ForwardingTest, SessionsOfOneNodeReachOneBackEndWhateverTheirFundIndex) {
    StubInnerApi node5, node6;
    api->SetInnerApiForNode(5, &node5);
    api->SetInnerApiForNode(6, &node6);
    for (uint64_t s : {Session(5, 0), Session(5, 1), Session(5, 0xffff)}) {
        EXPECT_EQ(api->QueryAsset(s, 1), 0);
        EXPECT_EQ(node5.LastCall().args, StubArgs(s, 1));
    }
    EXPECT_EQ(node5.CallCount(), 3u);
    EXPECT_EQ(node6.CallCount(), 0u);
    api->QueryAsset(Session(6, 1), 2);
    EXPECT_EQ(node6.CallCount(), 1u);
    EXPECT_EQ(node5.CallCount(), 3u);
}

// An id with a bit above 23 set names no session: it must not alias the session whose low
// bits it shares, so every operation refuses it as it refuses an unknown session.
TEST_F(ForwardingTest, SessionIdsWithBitsAbove23AreRefusedAsUnknown) {
    StubInnerApi stub;
    const uint8_t node = 0x2A;
    api->SetInnerApiForNode(node, &stub);
    stub.SetResult(0);
    for (uint64_t high : {uint64_t{1} << 24, uint64_t{1} << 32, uint64_t{1} << 63, ~uint64_t{0} << 24}) {
        const uint64_t s = high | Session(node, 7);
        SCOPED_TRACE(s);
        for (const auto& c : Cases()) {
            SCOPED_TRACE(c.op);
            api->SetLastError(0, "");
            EXPECT_EQ(c.call(*api, s), c.none);
            EXPECT_EQ(LastErrorId(), 1004);
        }
        api->SetLastError(0, "");
        EXPECT_EQ(api->Logout(s), 1004);
        EXPECT_EQ(LastErrorId(), 1004);
        EXPECT_EQ(api->GetApiErrorMsg(1001, s), nullptr);
    }
    EXPECT_EQ(stub.CallCount(), 0u) << "the session with the same low bits is never reached";
    EXPECT_EQ(api->QueryAsset(Session(node, 7), 1), 0) << "while the session id itself still works";
}

TEST_F(ForwardingTest, UnalignedDoubleArrivesByValue) {
    StubInnerApi stub;
    api->SetInnerApiForNode(3, &stub);
    transfer.amount = 0.01;  // at offset 88 of a packed record
    order.price = 10.25;     // at offset 32
    stub.SetResult(99);
    EXPECT_EQ(api->FundTransfer(&transfer, Session(3, 1)), 99u);
    const double amount = transfer.amount;
    EXPECT_DOUBLE_EQ(amount, 0.01);
    EXPECT_EQ(api->CreditCashRepay(Session(3, 1), -0.005), 99u);
    EXPECT_EQ(stub.LastCall().args, StubArgs(Session(3, 1), -0.005));
}

// ---------------------------------------------------------------------------------------
// Binary interface: an application compiled against the header calls by vtable slot.

TEST(TraderApiSlots, OperationsKeepTheirSlotOrder) {
    using oxa_test::VirtualSlot;
    using T = TraderApi;
    const std::vector<std::ptrdiff_t> slots = {
        VirtualSlot(&T::SetCpuAffinity), VirtualSlot(&T::GetApiErrorMsg), VirtualSlot(&T::Release),
        VirtualSlot(&T::GetTradingDay), VirtualSlot(&T::RegisterSpi), VirtualSlot(&T::GetApiLastError),
        VirtualSlot(&T::GetApiVersion), VirtualSlot(&T::GetClientIDByOXAID), VirtualSlot(&T::GetAccountByOXAID),
        VirtualSlot(&T::SubscribePublicTopic), VirtualSlot(&T::Reserved1), VirtualSlot(&T::Reserved2),
        VirtualSlot(&T::Login), VirtualSlot(&T::Logout), VirtualSlot(&T::Reserved3), VirtualSlot(&T::InsertOrder),
        VirtualSlot(&T::CancelOrder), VirtualSlot(&T::QueryOrderByOXAID), VirtualSlot(&T::QueryOrders),
        VirtualSlot(&T::QueryUnfinishedOrders), VirtualSlot(&T::QueryOrdersByPage),
        VirtualSlot(&T::QueryTradesByOXAID), VirtualSlot(&T::QueryTrades), VirtualSlot(&T::QueryTradesByPage),
        VirtualSlot(&T::QueryPosition), VirtualSlot(&T::QueryPositionByPage), VirtualSlot(&T::QueryAsset),
        VirtualSlot(&T::QueryFund), VirtualSlot(&T::FundTransfer), VirtualSlot(&T::QueryFundTransfer),
        VirtualSlot(&T::QueryOtherServerFund), VirtualSlot(&T::QueryETFBaseInfo),
        VirtualSlot(&T::QueryETFTickerBasket), VirtualSlot(&T::QueryIPOInfoList),
        VirtualSlot(&T::QueryIPOQuotaInfo), VirtualSlot(&T::QueryOptionAuctionInfo),
        VirtualSlot(&T::CreditCashRepay), VirtualSlot(&T::CreditCashRepaySpecifiedDebt),
        VirtualSlot(&T::Reserved4), VirtualSlot(&T::QueryCreditInfo1), VirtualSlot(&T::QueryCreditInfo2),
        VirtualSlot(&T::QueryCreditInfo3), VirtualSlot(&T::QueryCreditInfo4), VirtualSlot(&T::QueryCreditInfo5),
        VirtualSlot(&T::QueryCreditInfo6), VirtualSlot(&T::QueryCreditInfo7), VirtualSlot(&T::QueryCreditInfo8),
        VirtualSlot(&T::Reserved5), VirtualSlot(&T::Reserved6), VirtualSlot(&T::Reserved7),
        VirtualSlot(&T::Reserved8), VirtualSlot(&T::QueryCreditInfo9), VirtualSlot(&T::QueryCreditInfo10),
        VirtualSlot(&T::InsertExecuteOrder), VirtualSlot(&T::InsertOptionCombinedOrder),
        VirtualSlot(&T::QueryOptionCombinedUnfinishedOrders), VirtualSlot(&T::QueryOptionCombinedOrderByOXAID),
        VirtualSlot(&T::QueryOptionCombinedOrders), VirtualSlot(&T::Reserved9),
        VirtualSlot(&T::QueryOptionCombinedTradesByOXAID), VirtualSlot(&T::QueryOptionCombinedTrades),
        VirtualSlot(&T::Reserved10), VirtualSlot(&T::QueryOptionCombinedPosition),
        VirtualSlot(&T::QueryOptionCombinedStrategyInfo), VirtualSlot(&T::QueryCreditInfo11),
        VirtualSlot(&T::QueryOptionCombinedExecPosition), VirtualSlot(&T::QueryCreditInfo12),
        VirtualSlot(&T::QueryCreditInfo13), VirtualSlot(&T::QueryCreditPledgeStkByPage),
        VirtualSlot(&T::QueryCreditTargetStkByPage), VirtualSlot(&T::QueryIssueInfoList),
        VirtualSlot(&T::QuerySecurityInfo), VirtualSlot(&T::CreditRequest), VirtualSlot(&T::QueryCreditInfo14),
        VirtualSlot(&T::QueryYesterdayAsset), VirtualSlot(&T::QueryETFByPage), VirtualSlot(&T::QuerySecurityByPage),
        VirtualSlot(&T::QueryHKConnectIndicativeExchangeRateInfo), VirtualSlot(&T::QueryHKConnectSpreadTable),
        VirtualSlot(&T::QueryCreditDebtToRepayTodayByPage),
    };
    ASSERT_EQ(slots.size(), 80u);
    for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i)) << i;
}

}  // namespace
