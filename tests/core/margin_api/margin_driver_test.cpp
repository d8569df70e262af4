// The margin driver: its table and dispatch, the session's handlers fed message by message (the
// init answer, the package flow, the synchronisation replay), the delivery of replayed and
// flowed records, and that no handler ever writes into the received buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/margin_api/MarginSession.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/margin_api/MarginMessages.h"
#include "core/spot_api/LogCapture.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::MARGIN;
using spot_test::LogCapture;

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

constexpr uint64_t kSession = uint64_t{3} << 16 | 7;
uint64_t OrderId(uint32_t seq) { return kSession << 40 | uint64_t{5} << 32 | seq; }

using margin_test::Msg;

class RecordingSpi : public TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t s) override {
        Add("order", o->order_oxa_id, e, s);
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t s) override { Add("trade", t->order_oxa_id, nullptr, s); }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t s) override {
        Add("transfer", f->order_oxa_id, e, s);
    }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Add("repay", r->order_oxa_id, e, s);
    }
    void OnCreditRequest(OXACreditRequestInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Add("credit", r->order_oxa_id, e, s);
    }
    struct Event {
        std::string kind;
        uint64_t id;
        int error;
        std::string text;
        uint64_t session;
    };
    std::vector<Event> events;

private:
    void Add(const char* kind, uint64_t id, const OXAErrorInfo* e, uint64_t s) {
        events.push_back({kind, id, e ? e->error_id : -1, e ? e->error_msg : "", s});
    }
};

// The payload of a replayed or flowed record: push head, the record with its order id first,
// and its error record when the id has one.
std::vector<uint8_t> Payload(uint32_t flow_id, uint64_t order_id, int32_t error_id = 0) {
    std::size_t record = 0;
    bool with_error = true;
    switch (flow_id) {
        case 0x228: record = 140; break;
        case 0x229: record = 131; with_error = false; break;
        case 0x231: record = 32; break;
        case 0x233: record = 24; break;
        case 0x31b: record = 32; break;
        default: record = 40; break;
    }
    Msg m(16 + record + (with_error ? 128 : 0));
    m.put<uint64_t>(0, 0xDEAD).put<uint64_t>(16, order_id);
    if (with_error) m.put<int32_t>(16 + record, error_id);
    return m.b;
}

struct Rec {
    uint16_t id;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> Package(const std::vector<Rec>& recs, bool big) {
    Msg m;
    for (const auto& r : recs) {
        const std::size_t at = m.b.size();
        m.put<uint16_t>(at, r.id, big).put<uint32_t>(at + 2, static_cast<uint32_t>(r.payload.size()), big);
        m.append(r.payload);
    }
    return m.b;
}

std::vector<uint8_t> Flow(uint32_t count, uint8_t end_flag, const std::vector<uint8_t>& records, bool big = false) {
    Msg m(21);
    m.put<uint64_t>(0, 100000, big).put<uint64_t>(8, 1, big).put<uint32_t>(16, count, big);
    m.b[20] = end_flag;
    return m.append(records).b;
}

class MarginDriverTest : public ::testing::Test {
protected:
    // one back-end for the suite, as the library keeps its back-ends; a repeated run makes a new one
    static void SetUpTestSuite() { api_ = new MarginTraderImpl(); }
    static void TearDownTestSuite() {
        delete api_;
        api_ = nullptr;
    }
    void SetUp() override { api_->RegisterSpi(&spi_); }
    void TearDown() override { api_->RegisterSpi(nullptr); }

    // Feeds a message from an exact-size copy and checks that the copy comes back unchanged.
    void Feed(uint32_t msg_id, const std::vector<uint8_t>& body, bool big = false, std::size_t len = SIZE_MAX) {
        if (len == SIZE_MAX) len = body.size();
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        std::memcpy(exact.get(), body.data(), std::min(len, body.size()));
        const std::vector<char> before(exact.get(), exact.get() + len);
        api_->OnRecv(1, msg_id, len ? exact.get() : nullptr, static_cast<int>(len), 0, big ? 1 : 0, 0, 0, 3);
        EXPECT_EQ(std::vector<char>(exact.get(), exact.get() + len), before)
            << "MsgID 0x" << std::hex << msg_id << " wrote into the received buffer";
    }

    static MarginTraderImpl* api_;
    RecordingSpi spi_;
    LogCapture log_;
};

MarginTraderImpl* MarginDriverTest::api_ = nullptr;

TEST_F(MarginDriverTest, BindsTheSessionMessagesAndIgnoresTheRest) {
    CTradeDriver& d = GetTradeDriver();
    for (uint32_t id : {0x204u, 0x206u, 0x21101u}) EXPECT_NE(d.GetHandler(id), nullptr) << std::hex << id;
    for (uint32_t id : {0x203u, 0x205u, 0x260u, 0x21100u, 0xFFFFEu, 0xFFFFFu, 0xFFFFFFFFu})
        EXPECT_EQ(d.GetHandler(id), nullptr) << std::hex << id;

    // a request id arriving inbound, ids at and beyond the table's end, a negative id
    for (int32_t id : {0x260, 0xFFFFF, 0x7FFFFFFF, -1}) {
        log_.Clear();
        d.onRecv(1, id, "abc", 3, 0, false, 0, 0, 3);
        EXPECT_EQ(log_.Lines().size(), 1u) << id;
        EXPECT_EQ(log_.Count("trace|[trader_api/core/margin_api/CTradeDriver:onRecv] MsgID[*] MsgLen[3]*"), 1u);
    }
    EXPECT_TRUE(spi_.events.empty());
}

// Every length around the places the head promises; each answer that can be read reaches
// OnInit, every other one is dropped with -101.
TEST_F(MarginDriverTest, InitAnswerTruncationTable) {
    const struct {
        std::size_t len;
        uint8_t has_data, has_error;
        bool read;
    } cases[] = {
        {0, 0, 0, false},         {18, 0, 0, false},        {19, 0, 0, true},
        {19, 1, 0, false},        {328, 1, 0, false},       {329, 1, 0, true},
        {329, 1, 1, false},       {456, 1, 1, false},       {457, 1, 1, true},
        {19, 0, 1, false},        {146, 0, 1, false},       {147, 0, 1, true},
        {2000, 1, 1, true},
    };
    for (const auto& c : cases) {
        for (bool big : {false, true}) {
            Msg m(2000);
            m.b[17] = c.has_data;
            m.b[18] = c.has_error;
            log_.Clear();
            Feed(0x204, m.b, big, c.len);
            EXPECT_EQ(log_.Count("trace|OnInit "), c.read ? 1u : 0u) << c.len << " " << int(c.has_data) << int(c.has_error);
            EXPECT_EQ(log_.Count("warning|[trader_api/core/margin_api/CTradeDriver:#:onCeditTradeInitReply] Parse Msg "
                                 "Failed[-101]"),
                      c.read ? 0u : 1u)
                << c.len;
        }
    }
}

TEST_F(MarginDriverTest, FlowMessagesTooShortOrWithANegativeCountAreDropped) {
    for (std::size_t len = 0; len <= 20; ++len) {
        log_.Clear();
        Feed(0x206, Flow(0, 1, {}), false, len);
        EXPECT_EQ(log_.Count("warning|Error MsgReceived MsgID[0x206] MsgLen[" + std::to_string(len) + "] nRet[-1]"), 1u);
        EXPECT_EQ(log_.Count("info|[SubscribeEndNotify] Subscribe End."), 0u);
    }
    log_.Clear();
    Feed(0x206, Flow(0x7FFFFFF0, 1, Package({{0x228, Payload(0x228, OrderId(1))}}, false)));
    EXPECT_EQ(log_.Count("warning|Error MsgReceived MsgID[0x206] MsgLen[#] nRet[-#]"), 1u);
    EXPECT_TRUE(spi_.events.empty());
}

// Without a subscription in flight the end is seen and ignored (the session tests end theirs).
TEST_F(MarginDriverTest, FlowEndMessageEndsTheSubscriptionAndRecordsAreDelivered) {
    const char* kEndSeen = "warning|[onSubscribePushReply] subscription end of request # for session # is not the "
                           "subscription in flight: ignored";
    Feed(0x206, Flow(0, 0, {}));
    EXPECT_EQ(log_.Count(kEndSeen), 0u) << "count 0 without the end flag";
    Feed(0x206, Flow(0, 1, {}));
    EXPECT_EQ(log_.Count(kEndSeen), 1u);

    for (bool big : {false, true}) {
        spi_.events.clear();
        log_.Clear();
        const auto recs = Package({{0x228, Payload(0x228, OrderId(1), 0)},
                                   {0x229, Payload(0x229, OrderId(2))},
                                   {0x2FF, Payload(0x2FF, OrderId(3))},
                                   {0x231, Payload(0x231, OrderId(4), 7)},
                                   {0x233, Payload(0x233, OrderId(5))},
                                   {0x31b, Payload(0x31b, OrderId(6))}},
                                  big);
        // the end flag on a message with records: the records, then the end
        Feed(0x206, Flow(6, 1, recs, big), big);
        ASSERT_EQ(spi_.events.size(), 5u) << big;
        const char* kinds[] = {"order", "trade", "transfer", "repay", "credit"};
        const uint32_t seqs[] = {1, 2, 4, 5, 6};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(spi_.events[i].kind, kinds[i]);
            EXPECT_EQ(spi_.events[i].id, OrderId(seqs[i]));
            EXPECT_EQ(spi_.events[i].session, kSession) << "the session of the order id, not the push head";
        }
        EXPECT_EQ(spi_.events[0].error, 0);
        EXPECT_STRNE(spi_.events[0].text.c_str(), "") << "an empty text is completed";
        EXPECT_EQ(spi_.events[1].error, -1) << "a trade carries no error record";
        EXPECT_EQ(spi_.events[2].error, 7);
        EXPECT_EQ(log_.Count("warning|[OnSyncPushReport] Unknown flowMsgId [0x2ff]"), 1u);
        EXPECT_EQ(log_.Count(kEndSeen), 1u);
    }
}

TEST_F(MarginDriverTest, FlowRecordCutShortStopsTheWalkSilently) {
    const auto recs = Package({{0x228, Payload(0x228, OrderId(1))}, {0x229, Payload(0x229, OrderId(2))}}, false);
    const auto msg = Flow(2, 0, recs);
    for (std::size_t cut = 1; cut < 6 + 16 + 131; ++cut) {
        spi_.events.clear();
        Feed(0x206, msg, false, msg.size() - cut);
        ASSERT_EQ(spi_.events.size(), 1u) << cut;
        EXPECT_EQ(spi_.events[0].kind, "order");
    }
}

// Each flow id's payload must hold its push head, record and error record.
TEST_F(MarginDriverTest, ReplayedPayloadsAreCheckedAgainstTheirRecordSize) {
    const struct {
        int32_t id;
        std::size_t need;
    } cases[] = {{0x228, 284}, {0x229, 147}, {0x231, 176}, {0x233, 168}, {0x31b, 176}};
    for (const auto& c : cases) {
        const auto full = Payload(static_cast<uint32_t>(c.id), OrderId(9), 1003);
        ASSERT_EQ(full.size(), c.need);
        for (std::size_t len : {c.need - 1, c.need}) {
            spi_.events.clear();
            log_.Clear();
            std::unique_ptr<char[]> exact(new char[len]);
            std::memcpy(exact.get(), full.data(), len);
            GetTradeDriver().OnSyncPushReport(c.id, exact.get(), len);
            EXPECT_EQ(spi_.events.size(), len == c.need ? 1u : 0u) << c.id << " " << len;
            EXPECT_EQ(log_.Count("error|[OnSyncPushReport] flowMsgId[*] length[#] shorter than its record [#], skipped"),
                      len == c.need ? 0u : 1u);
        }
    }
}

TEST_F(MarginDriverTest, SynchronisationAnswerAfterThePassesIsIgnored) {
    // passes that end at once: without a session nothing can be sent
    api_->SubscribePublicTopic(0);
    EXPECT_EQ(api_->StartSyncPush(), 211004);
    api_->SubscribePublicTopic(2);
    ASSERT_TRUE(api_->IsSyncEnd());
    Msg a(56);
    a.put<uint32_t>(32, 200).put<uint32_t>(36, 1).put<uint32_t>(40, 8 + 284);
    Msg rec(8);
    rec.put<int32_t>(0, 0x228).put<int32_t>(4, 12);
    a.append(rec.b).append(Payload(0x228, OrderId(1)));
    Feed(0x21101, a.b);
    EXPECT_EQ(log_.Count("warning|[onSyncPushReply] Recv Sync Msg After Sync End, Ignore."), 1u);
    EXPECT_TRUE(spi_.events.empty());
}

// The synchronisation walk: host order always, records that fit, the last sequence number and
// whether the page ends the passes.
TEST_F(MarginDriverTest, SynchronisationReplayTable) {
    const uint32_t stride = 8 + 284;
    auto answer = [&](uint32_t asked, uint32_t count, uint32_t records, uint32_t st) {
        Msg a(56);
        a.put<uint32_t>(32, asked).put<uint32_t>(36, count).put<uint32_t>(40, st);
        for (uint32_t i = 0; i < records; ++i) {
            Msg rec(8);
            rec.put<int32_t>(0, 0x228).put<int32_t>(4, static_cast<int32_t>(20 + i));
            a.append(rec.b).append(Payload(0x228, OrderId(i + 1)));
            a.b.resize(56 + (i + 1) * st);
        }
        return a.b;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> body;
        std::size_t len;
        bool read;
        std::size_t delivered;
        uint32_t last;
        bool ended;
    } cases[] = {
        {"full page", answer(3, 3, 3, stride), SIZE_MAX, true, 3, 22, false},
        {"short page", answer(3, 2, 2, stride), SIZE_MAX, true, 2, 21, true},
        {"empty", answer(200, 0, 0, stride), SIZE_MAX, true, 0, 0, true},
        {"count beyond the bytes", answer(5, 5, 2, stride), SIZE_MAX, true, 2, 21, false},
        {"last record cut", answer(3, 3, 3, stride), 56 + 3 * stride - 1, true, 2, 21, false},
        {"stride below a record head", answer(3, 3, 0, 7), SIZE_MAX, true, 0, 0, false},
        {"head cut", answer(3, 3, 0, stride), 55, false, 0, 0, false},
        {"nothing", {}, 0, false, 0, 0, false},
    };
    for (const auto& c : cases) {
        spi_.events.clear();
        const std::size_t len = c.len == SIZE_MAX ? c.body.size() : c.len;
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        if (len) std::memcpy(exact.get(), c.body.data(), len);
        SyncPass pass;
        EXPECT_EQ(ReplaySyncAnswer(GetTradeDriver(), len ? exact.get() : nullptr, len, &pass), c.read) << c.name;
        EXPECT_EQ(spi_.events.size(), c.delivered) << c.name;
        EXPECT_EQ(pass.last_seq, c.last) << c.name;
        EXPECT_EQ(pass.ended, c.ended) << c.name;
    }
}

}  // namespace
