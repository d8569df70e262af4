// The margin driver's live reports fed message by message: the lengths each one needs, where its
// error record sits, the byte order of a big-endian sender, and the push sequence filter shared
// by orders, trades, cancel answers and the answers to transfers, repayments and credit requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "core/margin_api/MarginPushes.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/margin_api/MarginMessages.h"
#include "core/spot_api/LogCapture.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::MARGIN;
using spot_test::LogCapture;

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

constexpr uint64_t kSession = uint64_t{4} << 16 | 21;
uint64_t OrderId(uint32_t seq) { return kSession << 40 | uint64_t{6} << 32 | seq; }

using margin_test::Msg;

// An order report of len bytes: push head, the order record, the error record at 156.
Msg OrderPush(uint64_t id, std::size_t len, int32_t error = 0, bool big = false) {
    Msg m(len);
    m.put<uint64_t>(0, 0xDEAD, big).put<uint64_t>(16, id, big);
    if (len >= 16 + 140 + 4) m.put<int32_t>(156, error, big);
    return m;
}
Msg TradePush(uint64_t id, std::size_t len = 147) {
    Msg m(len);
    m.put<uint64_t>(16, id);
    return m;
}
Msg CancelAnswer(uint64_t cancel_id, uint64_t order_id, int32_t error, bool big = false) {
    Msg m(160);
    m.put<uint64_t>(16, cancel_id, big).put<uint64_t>(24, order_id, big).put<int32_t>(32, error, big);
    return m;
}
Msg DynamicAnswer(std::size_t record, uint64_t id, bool with_error, int32_t error = 0) {
    Msg m(16 + record + (with_error ? 128 : 0));
    m.put<uint64_t>(16, id);
    if (with_error) m.put<int32_t>(16 + record, error);
    return m;
}

class Recorder : public TraderSpi {
public:
    struct Event {
        std::string kind;
        uint64_t id;
        int error;
        std::string text;
        uint64_t session;
        int64_t number;  // the order's quantity, the cancel's order id
    };
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t s) override {
        events.push_back({"order", o->order_oxa_id, e->error_id, e->error_msg, s, o->quantity});
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t s) override {
        events.push_back({"trade", t->order_oxa_id, 0, "", s, t->quantity});
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t s) override {
        events.push_back({"cancel", c->order_cancel_oxa_id, e->error_id, e->error_msg, s,
                          static_cast<int64_t>(c->order_oxa_id)});
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t s) override {
        events.push_back({"transfer", f->order_oxa_id, e->error_id, e->error_msg, s, 0});
    }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo* e, uint64_t s) override {
        events.push_back({"repay", r->order_oxa_id, e->error_id, e->error_msg, s, 0});
    }
    void OnCreditCashRepaySpecifiedDebt(OXACreditCashRepaySpecifiedDebtInfo* r, OXAErrorInfo* e,
                                        uint64_t s) override {
        events.push_back({"repay_debt", r->order_oxa_id, e->error_id, e->error_msg, s, 0});
    }
    void OnCreditRequest(OXACreditRequestInfo* r, OXAErrorInfo* e, uint64_t s) override {
        events.push_back({"credit", r->order_oxa_id, e->error_id, e->error_msg, s, 0});
    }
    std::vector<Event> events;
};

class MarginPushTest : public ::testing::Test {
protected:
    // one back-end for the suite, as the library keeps its back-ends; a repeated run makes a new one
    static void SetUpTestSuite() { api_ = new MarginTraderImpl(); }
    static void TearDownTestSuite() {
        delete api_;
        api_ = nullptr;
    }
    void SetUp() override {
        api_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nSessionID = 100021;
        info.nFundAcc = 9100;
        info.nApiSessionID = kSession;
        ASSERT_NE(RegisterSession(info, nullptr, true), nullptr);
    }
    void TearDown() override {
        UnregisterSession(kSession);
        api_->RegisterSpi(nullptr);
    }

    // Feeds a message from an exact-size copy and checks it comes back unchanged.
    void Feed(uint32_t msg_id, const Msg& m, int seq, bool big = false) {
        std::unique_ptr<char[]> exact(new char[m.b.empty() ? 1 : m.b.size()]);
        std::memcpy(exact.get(), m.b.data(), m.b.size());
        api_->OnRecv(seq, msg_id, exact.get(), static_cast<int>(m.b.size()), 0, big ? 1 : 0, 0, 0, 4);
        EXPECT_EQ(std::memcmp(exact.get(), m.b.data(), m.b.size()), 0) << "wrote into the received buffer";
    }

    static MarginTraderImpl* api_;
    Recorder spi_;
    LogCapture log_;
};

MarginTraderImpl* MarginPushTest::api_ = nullptr;

TEST_F(MarginPushTest, OrderReportLengths) {
    const struct {
        std::size_t len;
        bool delivered;
        bool wire_error;  // the error record at 156 is read
    } cases[] = {{283, false, false}, {284, true, true}, {300, true, false}, {348, true, true}, {349, true, false}};
    int seq = 0;
    for (const auto& c : cases) {
        spi_.events.clear();
        log_.Clear();
        Feed(0x228, OrderPush(OrderId(1), c.len, 7), ++seq);
        ASSERT_EQ(spi_.events.size(), c.delivered ? 1u : 0u) << c.len;
        if (!c.delivered) {
            EXPECT_EQ(log_.Count("warning|[onCeditOrderStatusReport:#] MsgID[0x228] MsgLen[283]<expected.len[284]"), 1u);
            continue;
        }
        const auto& e = spi_.events[0];
        EXPECT_EQ(e.session, kSession) << "the session of the order id";
        EXPECT_EQ(e.error, c.wire_error ? 7 : 0) << c.len;
        if (c.wire_error)
            EXPECT_STRNE(e.text.c_str(), "") << "an empty wire text is completed";
        else
            EXPECT_STREQ(e.text.c_str(), "") << "a local record without text";
    }
}

TEST_F(MarginPushTest, ErrorZeroInAnOrderReportGetsTheTextOfZero) {
    Feed(0x228, OrderPush(OrderId(1), 284, 0), 1);
    ASSERT_EQ(spi_.events.size(), 1u);
    EXPECT_EQ(spi_.events[0].error, 0);
    EXPECT_STREQ(spi_.events[0].text.c_str(), GetErrorMsg(0));
}

TEST_F(MarginPushTest, SequenceFilterAcrossEveryLiveReport) {
    // one number line for the session, whatever the report
    Feed(0x228, OrderPush(OrderId(1), 284), 5);
    Feed(0x229, TradePush(OrderId(1)), 5);                      // same number: dropped
    Feed(0x229, TradePush(OrderId(1)), 6);
    Feed(0x258, CancelAnswer(OrderId(2), OrderId(1), 9), 6);    // dropped
    Feed(0x258, CancelAnswer(OrderId(2), OrderId(1), 9), 4);    // stale: dropped
    Feed(0x258, CancelAnswer(OrderId(2), OrderId(1), 9), 7);
    Feed(0x233, DynamicAnswer(24, OrderId(3), false), 7);       // dropped
    Feed(0x233, DynamicAnswer(24, OrderId(3), false), 8);
    Feed(0x231, DynamicAnswer(32, OrderId(4), true, 3), 9);
    Feed(0x235, DynamicAnswer(60, OrderId(5), true), 10);
    Feed(0x31b, DynamicAnswer(32, OrderId(6), false), 11);
    Feed(0x228, OrderPush(OrderId(1), 284), 11);                // dropped
    std::vector<std::string> kinds;
    for (const auto& e : spi_.events) kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<std::string>{"order", "trade", "cancel", "repay", "transfer", "repay_debt", "credit"}));
    EXPECT_EQ(log_.Count("error|Recv Push Msg Seq No # Duplicated."), 5u);
    EXPECT_EQ(spi_.events[4].error, 3);

    // a session without a register: dropped with the warning
    spi_.events.clear();
    const uint64_t stranger = (uint64_t{4} << 16 | 22) << 40 | 1;
    Feed(0x228, OrderPush(stranger, 284), 50);
    Feed(0x233, DynamicAnswer(24, stranger, false), 51);
    EXPECT_TRUE(spi_.events.empty());
    EXPECT_EQ(log_.Count("warning|Get ApiSession is null. ApiSession=" + std::to_string(stranger >> 40)), 2u);
}

TEST_F(MarginPushTest, CancelAnswers) {
    Feed(0x258, CancelAnswer(OrderId(9), OrderId(8), 0), 1);
    EXPECT_TRUE(spi_.events.empty()) << "an accepted cancel reaches no callback";
    Feed(0x258, CancelAnswer(OrderId(9), OrderId(8), 0), 1);
    EXPECT_EQ(log_.Count("error|Recv Push Msg Seq No 1 Duplicated."), 1u) << "its number was taken";

    Feed(0x258, CancelAnswer(OrderId(10), OrderId(8), 11000343), 2);
    ASSERT_EQ(spi_.events.size(), 1u);
    EXPECT_EQ(spi_.events[0].id, OrderId(10));
    EXPECT_EQ(static_cast<uint64_t>(spi_.events[0].number), OrderId(8));
    EXPECT_EQ(spi_.events[0].error, 11000343);
    EXPECT_STREQ(spi_.events[0].text.c_str(), GetErrorMsg(11000343));

    Msg cut(159);
    Feed(0x258, cut, 3);
    EXPECT_EQ(spi_.events.size(), 1u) << "a cancel answer shorter than 160 bytes is not read";

    // a big-endian sender
    Feed(0x258, CancelAnswer(OrderId(11), OrderId(8), 13, true), 4, true);
    ASSERT_EQ(spi_.events.size(), 2u);
    EXPECT_EQ(spi_.events[1].id, OrderId(11));
    EXPECT_EQ(spi_.events[1].error, 13);
}

TEST_F(MarginPushTest, TradeReportsNeedTheirWholeRecord) {
    Feed(0x229, TradePush(OrderId(1), 146), 1);
    EXPECT_TRUE(spi_.events.empty());
    EXPECT_EQ(log_.Count("warning|[onCeditTradeReport:#] MsgID[0x229] MsgLen[146]<expected.len[147]"), 1u);
    Feed(0x229, TradePush(OrderId(1), 147), 1);
    ASSERT_EQ(spi_.events.size(), 1u);
    EXPECT_EQ(spi_.events[0].session, kSession);
}

TEST_F(MarginPushTest, BigEndianOrderReportIsConverted) {
    Msg m = OrderPush(OrderId(3), 284, 21, true);
    m.put<int64_t>(16 + 52, 900, true);  // quantity
    Feed(0x228, m, 1, true);
    ASSERT_EQ(spi_.events.size(), 1u);
    EXPECT_EQ(spi_.events[0].id, OrderId(3));
    EXPECT_EQ(spi_.events[0].number, 900);
    EXPECT_EQ(spi_.events[0].error, 21);
}

// The order-path answers take their exact lengths: the record alone, or the record and its
// error record; a bare push head is -102, anything else -101.
TEST_F(MarginPushTest, OrderPathAnswerLengths) {
    int seq = 0;
    for (uint32_t id : {0x231u, 0x233u, 0x235u, 0x31bu}) {
        const std::size_t s = OrderPathRecordSize(id);
        ASSERT_NE(s, 0u);
        const struct {
            std::size_t len;
            bool delivered;
            bool wire_error;
            const char* log;
        } cases[] = {
            {16, false, false, "warning|[trader_api/core/margin_api/CTradeDriver:#:OnRspWithDynamicLen] Parse Msg Failed[-102]"},
            {16 + s - 1, false, false, "warning|[trader_api/core/margin_api/CTradeDriver:#:OnRspWithDynamicLen] Parse Msg Failed[-101]"},
            {16 + s, true, false, nullptr},
            {16 + s + 1, false, false, "warning|[trader_api/core/margin_api/CTradeDriver:#:OnRspWithDynamicLen] Parse Msg Failed[-101]"},
            {16 + s + 127, false, false, "warning|[trader_api/core/margin_api/CTradeDriver:#:OnRspWithDynamicLen] Parse Msg Failed[-101]"},
            {16 + s + 128, true, true, nullptr},
        };
        for (const auto& c : cases) {
            spi_.events.clear();
            log_.Clear();
            Msg m(c.len);
            if (c.len >= 24) m.put<uint64_t>(16, OrderId(id));
            if (c.wire_error) m.put<int32_t>(16 + s, 17);
            Feed(id, m, ++seq);
            ASSERT_EQ(spi_.events.size(), c.delivered ? 1u : 0u) << std::hex << id << std::dec << " " << c.len;
            if (c.log) {
                EXPECT_EQ(log_.Count(c.log), 1u) << c.len;
            }
            if (c.delivered) {
                EXPECT_EQ(spi_.events[0].id, OrderId(id));
                EXPECT_EQ(spi_.events[0].error, c.wire_error ? 17 : 0);
            }
        }
    }
}

}  // namespace
