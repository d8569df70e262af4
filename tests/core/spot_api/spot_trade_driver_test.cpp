// The spot driver: handler table, dispatch, the length guard in front of every handler,
// the trading day, the process-wide pointers and the session of an answer.
#include "core/spot_api/SpotTradeDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "api/SessionTables.h"
#include "core/spot_api/LogCapture.h"
#include "core/spot_api/SpotConvert.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::SPOT;
using spot_test::LogCapture;

// Fields of the packed public records are read by value, never bound to a reference.
template <typename T>
T Val(T v) {
    return v;
}

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

// What the handlers below saw; handlers are plain functions, so they report here.
struct Call {
    CTradeDriver* driver;
    int seq;
    int32_t msg_id;
    const char* data;
    int len;
    int playback;
    bool byte_order;
    int16_t src_group;
    int16_t src_member;
    uint32_t node_id;
    int handler;  // which handler ran
};
std::vector<Call> g_calls;
std::vector<OXAOrderInfo> g_orders;
std::vector<OXATradeReport> g_trades;

template <int Tag>
void Record(CTradeDriver& d, int seq, int32_t msg_id, const char* data, int len, int playback, bool byte_order,
            int16_t group, int16_t member, uint32_t node) {
    g_calls.push_back({&d, seq, msg_id, data, len, playback, byte_order, group, member, node, Tag});
}

void Throws(CTradeDriver&, int, int32_t, const char*, int, int, bool, int16_t, int16_t, uint32_t) {
    throw std::runtime_error("from the application");
}

// Handlers as the push and answer handlers use the conversions: they read no more than the
// record the driver let through.
void OrderHandler(CTradeDriver& d, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                  uint32_t) {
    OXAOrderInfo o;
    if (ConvertOrderMessage(data, static_cast<std::size_t>(len), RecordSource::Push, d.GetTradingDay(),
                            "OnOrderEvent", o)) {
        g_orders.push_back(o);
    }
}
void TradeHandler(CTradeDriver& d, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                  uint32_t) {
    OXATradeReport t;
    if (ConvertTradeMessage(data, static_cast<std::size_t>(len), d.GetTradingDay(), "OnTradeEvent", t)) g_trades.push_back(t);
}

// A driver of its own per test (12 MB, zeroed by its constructor).
struct Driver : ::testing::Test {
    std::unique_ptr<CTradeDriver> driver = std::make_unique<CTradeDriver>();
    void SetUp() override {
        g_calls.clear();
        g_orders.clear();
        g_trades.clear();
    }
    void Dispatch(int32_t msg_id, const char* data, int len, int seq = 1, uint32_t node = 0) {
        driver->onRecv(seq, msg_id, data, len, 0, false, 0, 0, node);
    }
};

TEST_F(Driver, BoundHandlerGetsTheDriverAndTheNineArgumentsUnchanged) {
    ASSERT_TRUE(driver->Bind(0x121, Record<1>, 0));
    const char body[4] = {1, 2, 3, 4};
    driver->onRecv(-7, 0x121, body, 4, 1, true, -3, 12, 255);
    ASSERT_EQ(g_calls.size(), 1u);
    const Call& c = g_calls[0];
    EXPECT_EQ(c.driver, driver.get());
    EXPECT_EQ(c.seq, -7);
    EXPECT_EQ(c.msg_id, 0x121);
    EXPECT_EQ(c.data, body);
    EXPECT_EQ(c.len, 4);
    EXPECT_EQ(c.playback, 1);
    EXPECT_TRUE(c.byte_order);
    EXPECT_EQ(c.src_group, -3);
    EXPECT_EQ(c.src_member, 12);
    EXPECT_EQ(c.node_id, 255u);
}

TEST_F(Driver, IdWithoutHandlerWritesOnlyTheTraceLine) {
    ASSERT_TRUE(driver->Bind(0x121, Record<1>, 0));
    LogCapture log;
    const char body[8] = {};
    driver->onRecv(1, 0x105, body, 8, 0, false, 2, 3, 0);
    EXPECT_TRUE(g_calls.empty());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "trace|[trader_api/core/spot_api/CTradeDriver:onRecv] MsgID[0x105] MsgLen[8] SrcGroup[2] "
              "SrcMember[3]  ByteOrder[false]");
}

TEST_F(Driver, IdsBeyondTheTableAreIgnored) {
    EXPECT_FALSE(driver->Bind(CTradeDriver::kHandlerCount, Record<1>, 0));
    EXPECT_FALSE(driver->Bind(0xFFFFFFFF, Record<1>, 0));
    EXPECT_TRUE(driver->Bind(CTradeDriver::kHandlerCount - 1, Record<2>, 0));
    EXPECT_EQ(driver->GetHandler(CTradeDriver::kHandlerCount), nullptr);
    for (int32_t id : {0xFFFFF, 0x100000, 0x7FFFFFFF, -1, INT32_MIN}) Dispatch(id, "x", 1);
    EXPECT_TRUE(g_calls.empty());
    Dispatch(0xFFFFE, "x", 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].handler, 2);
}

TEST_F(Driver, RegisterHandlersEmptiesTheTableBeforeBinding) {
    ASSERT_TRUE(driver->Bind(0x105, Record<1>, 0));
    ASSERT_TRUE(driver->Bind(0x20011, Record<1>, 56));
    const HandlerBinding bindings[] = {
        {kMsgOrderPush, Record<2>, kOrderRecordSize},
        {kMsgTradePush, Record<3>, kTradeRecordSize},
        {kMsgSubscribeEnd, Record<4>, 0},
        {0x100000, Record<5>, 0},  // beyond the table: refused with a log line
    };
    LogCapture log;
    driver->RegisterHandlers(bindings);
    EXPECT_EQ(log.Count("error|[RegisterHandlers] MsgID[0x100000] *"), 1u);
    EXPECT_EQ(driver->GetHandler(0x105), nullptr);
    EXPECT_EQ(driver->GetHandler(0x20011), nullptr);
    EXPECT_EQ(driver->GetMinLen(0x20011), 0u);
    EXPECT_EQ(driver->GetHandler(0x121), &Record<2>);
    EXPECT_EQ(driver->GetMinLen(0x121), kOrderRecordSize);
    EXPECT_EQ(driver->GetHandler(0x123), &Record<3>);
    EXPECT_EQ(driver->GetHandler(0x104), &Record<4>);

    driver->EmptyHandlers();
    for (uint32_t id : {0x121u, 0x123u, 0x104u}) EXPECT_EQ(driver->GetHandler(id), nullptr) << id;
    EXPECT_TRUE(driver->Bind(0x121, Record<2>, 10));
    EXPECT_TRUE(driver->Bind(0x121, nullptr, 10));  // a null handler empties the entry
    EXPECT_EQ(driver->GetMinLen(0x121), 0u);
}

TEST_F(Driver, MessageShorterThanItsRecordIsDroppedWithALogLine) {
    struct Case {
        uint32_t msg_id;
        uint32_t min_len;
    };
    const Case cases[] = {{0x121, kOrderRecordSize}, {0x123, kTradeRecordSize}, {0x20011, 56}, {0x122, 122}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg_id);
        g_calls.clear();
        ASSERT_TRUE(driver->Bind(c.msg_id, Record<1>, c.min_len));
        const std::vector<char> full(c.min_len, 'x');
        for (uint32_t len = 0; len < c.min_len; ++len) {
            std::unique_ptr<char[]> msg(new char[len]);
            if (len) std::memcpy(msg.get(), full.data(), len);
            LogCapture log;
            Dispatch(static_cast<int32_t>(c.msg_id), msg.get(), static_cast<int>(len));
            EXPECT_EQ(log.Count("error|[trader_api/core/spot_api/CTradeDriver:onRecv] MsgID[0x*] "
                                "MsgLen[" + std::to_string(len) + "] shorter than its record [" +
                                std::to_string(c.min_len) + "], dropped"),
                      1u)
                << len;
        }
        EXPECT_TRUE(g_calls.empty());
        std::unique_ptr<char[]> exact(new char[c.min_len]);
        Dispatch(static_cast<int32_t>(c.msg_id), exact.get(), static_cast<int>(c.min_len));
        EXPECT_EQ(g_calls.size(), 1u);
    }
}

TEST_F(Driver, NegativeLengthOrMissingBodyIsDropped) {
    ASSERT_TRUE(driver->Bind(0x104, Record<1>, 0));  // a message that carries nothing
    ASSERT_TRUE(driver->Bind(0x121, Record<2>, kOrderRecordSize));
    LogCapture log;
    Dispatch(0x104, "x", -1);
    Dispatch(0x121, nullptr, 200);
    Dispatch(0x121, "x", INT32_MIN);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(log.Count("error|*dropped"), 3u);
    Dispatch(0x104, nullptr, 0);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].len, 0);
}

TEST_F(Driver, EveryTruncatedRecordReachesNoConverter) {
    const HandlerBinding bindings[] = {
        {kMsgOrderPush, OrderHandler, kOrderRecordSize},
        {kMsgTradePush, TradeHandler, kTradeRecordSize},
    };
    driver->RegisterHandlers(bindings);
    driver->SetTradingDay(20240105);
    std::vector<char> order(kOrderRecordSize, 0);
    const uint64_t order_id = 0x0A00030700000064;
    std::memcpy(&order[97], &order_id, 8);
    const int32_t time = 93015;
    std::memcpy(&order[56], &time, 4);
    std::vector<char> trade(kTradeRecordSize, 0);
    std::memcpy(&trade[112], &order_id, 8);

    for (const auto& [id, full] : {std::make_pair(0x121, &order), std::make_pair(0x123, &trade)}) {
        for (std::size_t len = 0; len <= full->size(); ++len) {
            std::unique_ptr<char[]> msg(new char[len]);
            if (len) std::memcpy(msg.get(), full->data(), len);
            Dispatch(id, msg.get(), static_cast<int>(len));
        }
    }
    ASSERT_EQ(g_orders.size(), 1u);  // the full length only
    ASSERT_EQ(g_trades.size(), 1u);
    EXPECT_EQ(Val(g_orders[0].order_oxa_id), order_id);
    EXPECT_EQ(Val(g_orders[0].insert_time), 20240105093015000);
    EXPECT_EQ(Val(g_trades[0].order_oxa_id), order_id);
}

TEST_F(Driver, ExceptionFromTheApplicationStaysInTheDispatch) {
    ASSERT_TRUE(driver->Bind(0x121, Throws, 0));
    ASSERT_TRUE(driver->Bind(0x123, Record<1>, 0));
    LogCapture log;
    EXPECT_NO_THROW(Dispatch(0x121, "x", 1));
    EXPECT_EQ(log.Count("error|*MsgID[0x121] handler ended with an exception"), 1u);
    Dispatch(0x123, "x", 1);
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(Driver, TradingDayIsZeroUntilStoredAndReplacedByEveryLaterOne) {
    EXPECT_EQ(driver->GetTradingDay(), 0);
    driver->SetTradingDay(20240105);
    EXPECT_EQ(driver->GetTradingDay(), 20240105);
    driver->SetTradingDay(20240108);
    EXPECT_EQ(driver->GetTradingDay(), 20240108);
}

TEST_F(Driver, NotifyLogsItsFlag) {
    LogCapture log;
    driver->onNotify(3);
    EXPECT_EQ(log.Count("info|onNotify Flag[3]"), 1u);
}

// ---------------------------------------------------------------------------------------
// The process-wide driver and pointers

TEST(SpotDriverGlobals, InitTradeDriverBindsTheProcessWideTable) {
    CTradeDriver& d = GetTradeDriver();
    EXPECT_EQ(&d, &GetTradeDriver());
    const HandlerBinding first[] = {{kMsgOrderPush, Record<1>, 0}};
    InitTradeDriver(first);
    EXPECT_EQ(d.GetHandler(0x121), &Record<1>);
    const HandlerBinding second[] = {{kMsgTradePush, Record<2>, 0}};
    InitTradeDriver(second);
    EXPECT_EQ(d.GetHandler(0x121), nullptr);
    EXPECT_EQ(d.GetHandler(0x123), &Record<2>);
    InitTradeDriver(nullptr, 0);
    EXPECT_EQ(d.GetHandler(0x123), nullptr);
}

TEST(SpotDriverGlobals, BackEndAndCallbackPointers) {
    struct Spi : TraderSpi {};
    Spi spi;
    // only the pointer is kept: any address stands for the back-end
    alignas(16) static unsigned char storage[64];
    auto* api = reinterpret_cast<CInnerApiInterface*>(storage);
    SetTraderSpi(&spi);
    SetInnerApi(api);
    EXPECT_EQ(GetTraderSpi(), &spi);
    EXPECT_EQ(GetInnerApi(), api);
    SetTraderSpi(nullptr);
    SetInnerApi(nullptr);
    EXPECT_EQ(GetTraderSpi(), nullptr);
    EXPECT_EQ(GetInnerApi(), nullptr);
}

TEST(SpotDriverGlobals, ReceiveThreadsDispatchWhileTheTradingDayChanges) {
    g_orders.clear();
    CTradeDriver& d = GetTradeDriver();
    std::atomic<int> seen{0};
    static std::atomic<int>* counter = nullptr;
    counter = &seen;
    const HandlerBinding bindings[] = {
        {kMsgOrderPush,
         [](CTradeDriver& drv, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t, uint32_t) {
             OXAOrderInfo o;
             if (ConvertOrderMessage(data, static_cast<std::size_t>(len), RecordSource::Push, drv.GetTradingDay(),
                                     "OnOrderEvent", o)) {
                 counter->fetch_add(1);
             }
         },
         kOrderRecordSize},
    };
    InitTradeDriver(bindings);
    const std::vector<char> order(kOrderRecordSize, '1');
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) d.onRecv(i, 0x121, order.data(), kOrderRecordSize, 0, false, 0, 0, 0);
        });
    }
    for (int day = 0; day < 500; ++day) d.SetTradingDay(20240101 + day);
    for (auto& t : threads) t.join();
    EXPECT_EQ(seen.load(), 1000);
    InitTradeDriver(nullptr, 0);
}

// ---------------------------------------------------------------------------------------
// The session of an answer

struct AnswerSession : ::testing::Test {
    static constexpr uint64_t kSession = 0x03000C;  // node 3, fund index 12
    static constexpr uint64_t kSessionNo = 77;
    void SetUp() override {
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = 123456789;
        info.nFundAccIndex = 12;
        info.nApiSessionID = kSession;
        const SessionNoKey key{3, kSessionNo};
        ASSERT_NE(RegisterSession(info, &key, true), nullptr);
    }
    void TearDown() override { UnregisterSession(kSession); }
};

TEST_F(AnswerSession, FoundByNodeAndServerSessionNumber) {
    LogCapture log;
    const tagSessionInfo* info = GetAnswerSession(3, kSessionNo);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nApiSessionID, kSession);
    EXPECT_EQ(info->nFundAcc, 123456789u);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(AnswerSession, UnknownNumberOrNodeFindsNothingAndLogs) {
    struct Case {
        uint32_t node;
        uint64_t session_no;
    };
    const Case cases[] = {
        {3, 78}, {4, kSessionNo}, {2, kSessionNo},
        {256, kSessionNo}, {0xFFFFFFFF, kSessionNo},                   // beyond the nodes
        {3, 1u << 20}, {3, (1ull << 20) + kSessionNo}, {3, UINT64_MAX},  // beyond the node's row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.node) + " " + std::to_string(c.session_no));
        LogCapture log;
        EXPECT_EQ(GetAnswerSession(c.node, c.session_no), nullptr);
        EXPECT_EQ(log.Count("error|ptr_session_info_spot == NULL " + std::to_string(c.session_no)), 1u);
        EXPECT_EQ(FindAnswerSession(c.node, c.session_no), nullptr);
    }
}

TEST_F(AnswerSession, GoneOnceTheSessionIsUnregistered) {
    ASSERT_NE(FindAnswerSession(3, kSessionNo), nullptr);
    EXPECT_TRUE(UnregisterSession(kSession));
    EXPECT_EQ(FindAnswerSession(3, kSessionNo), nullptr);
}

}  // namespace
