// The spot push handlers fed through the driver: the sequence filter, each push's fields and
// the replay inside a synchronisation answer. Messages are built byte by byte at their offsets.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/SessionTables.h"
#include "core/spot_api/SpotTradeDriver.h"
#include "core/spot_api/SpotTraderImpl.h"

namespace {

using namespace OXA::API;
using SPOT::GetTradeDriver;

constexpr uint64_t kNode = 4;
constexpr uint64_t kFundIndex = 21;
constexpr uint64_t kSession = kNode << 16 | kFundIndex;
constexpr uint64_t kClient = 6;

struct Msg {
    std::vector<char> b;
    explicit Msg(size_t n) : b(n, 0) {}
    template <typename T>
    Msg& put(size_t off, T v) {
        std::memcpy(&b[off], &v, sizeof v);
        return *this;
    }
    Msg& text(size_t off, const char* s) {
        std::memcpy(&b[off], s, std::strlen(s));
        return *this;
    }
};

uint64_t OrderId(uint32_t seq) { return kSession << 40 | kClient << 32 | seq; }

Msg OrderPush(uint32_t order_seq) {
    Msg m(160);
    m.text(16, "600000").put<int64_t>(24, 100).put<double>(32, 10.5);
    m.put<char>(51, '1').put<char>(52, '1').put<char>(53, '1').put<char>(54, '1').put<char>(55, '0');
    m.put<uint64_t>(97, OrderId(order_seq));
    return m;
}

struct Spi : TraderSpi {
    std::vector<std::string> events;
    OXAFundTransferNotice notice{};
    OXAErrorInfo error{};
    OXAOrderCancelInfo cancel{};
    OXAHoldingChangeInfo holding{};
    uint64_t session = 0;
    void OnOrderEvent(OXAOrderInfo* info, OXAErrorInfo*, uint64_t s) override {
        events.push_back("order " + std::to_string(static_cast<uint32_t>(info->order_oxa_id)));
        session = s;
    }
    void OnTradeEvent(OXATradeReport*, uint64_t s) override {
        events.push_back("trade");
        session = s;
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t s) override {
        events.push_back("cancel");
        cancel = *c;
        error = *e;
        session = s;
    }
    void OnFundTransfer(OXAFundTransferNotice* n, OXAErrorInfo* e, uint64_t s) override {
        events.push_back("transfer");
        notice = *n;
        error = *e;
        session = s;
    }
    void OnHoldingChangeEvent(OXAHoldingChangeInfo* h, uint64_t s) override {
        events.push_back("holding");
        holding = *h;
        session = s;
    }
};

class SpotPushTest : public ::testing::Test {
protected:
    void SetUp() override {
        spot_ = new SpotTraderImpl();  // binds the driver
        spot_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nFundAcc = 8001;
        info.nApiSessionID = kSession;
        info.nClientID = kClient;
        ASSERT_NE(RegisterSession(info, nullptr, true), nullptr);
    }
    void TearDown() override {
        UnregisterSession(kSession);
        spot_->Release();
        delete spot_;
    }
    void Feed(int seq, uint32_t id, const Msg& m) {
        GetTradeDriver().onRecv(seq, static_cast<int32_t>(id), m.b.data(), static_cast<int>(m.b.size()), 0, false, 0,
                                0, kNode);
    }
    SpotTraderImpl* spot_ = nullptr;
    Spi spi_;
};

TEST_F(SpotPushTest, SequenceFilter) {
    struct Step {
        int seq;
        uint32_t msg;
        bool delivered;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"duplicate", {{5, 0x121, true}, {5, 0x121, false}}},
        {"older", {{7, 0x121, true}, {6, 0x121, false}, {8, 0x123, true}}},
        {"cancel without rejection still takes its number", {{9, 0x122, false}, {9, 0x121, false}, {10, 0x121, true}}},
        {"holding changes are not filtered", {{3, 0x146, true}, {3, 0x146, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnregisterSession(kSession);
        tagSessionInfo info{};
        info.nApiSessionID = kSession;
        info.nFundAcc = 8001;
        ASSERT_NE(RegisterSession(info, nullptr, true), nullptr);
        for (const Step& s : c.steps) {
            spi_.events.clear();
            Msg m(160);
            if (s.msg == 0x121) m = OrderPush(s.seq);
            if (s.msg == 0x123) m.put<uint64_t>(112, OrderId(1));
            if (s.msg == 0x122) m.put<int32_t>(16, -1).put<uint64_t>(76, OrderId(99));
            if (s.msg == 0x146) m.put<uint32_t>(8, kFundIndex).put<uint8_t>(62, kNode);
            Feed(s.seq, s.msg, m);
            EXPECT_EQ(spi_.events.size(), s.delivered ? 1u : 0u) << "seq " << s.seq << " msg " << s.msg;
        }
    }
    // after the session's end nothing is delivered
    UnregisterSession(kSession);
    spi_.events.clear();
    Feed(100, 0x121, OrderPush(100));
    EXPECT_TRUE(spi_.events.empty());
}

TEST_F(SpotPushTest, FundTransferResults) {
    const struct {
        uint32_t result;
        bool callback;
        int32_t status;
        int32_t error;
    } cases[] = {{1, true, 1, 0}, {30, true, 2, 30}, {0, false, 0, 0}};
    int seq = 1;
    for (const auto& c : cases) {
        spi_.events.clear();
        Msg m(99);
        m.put<uint64_t>(0, 55).put<double>(49, 1234.5).put<uint32_t>(57, kFundIndex).put<char>(65, '1');
        m.put<uint32_t>(66, c.result).put<int32_t>(70, 93015).put<int32_t>(78, kNode).put<uint8_t>(82, kClient);
        // serial id 0: rebuilt from the node, fund index, client id and sequence
        Feed(seq++, 0x124, m);
        ASSERT_EQ(spi_.events.size(), c.callback ? 1u : 0u) << c.result;
        if (!c.callback) continue;
        EXPECT_EQ(spi_.notice.order_oxa_id, OrderId(55));
        EXPECT_EQ(spi_.session, kSession);
        EXPECT_EQ(spi_.notice.oper_status, c.status);
        EXPECT_EQ(spi_.error.error_id, c.error);
        EXPECT_NE(spi_.error.error_msg[0], '\0');
        EXPECT_DOUBLE_EQ(spi_.notice.amount, 1234.5);
    }
}

TEST_F(SpotPushTest, CancelRejectionAndHoldingChange) {
    Msg c(122);
    c.put<uint32_t>(8, kFundIndex).put<int32_t>(16, -1).put<int32_t>(24, 13).put<uint64_t>(76, OrderId(42));
    Feed(1, 0x122, c);
    ASSERT_EQ(spi_.events, std::vector<std::string>{"cancel"});
    EXPECT_EQ(spi_.cancel.order_cancel_oxa_id, OrderId(42));
    EXPECT_EQ(spi_.cancel.order_oxa_id, 0u);
    EXPECT_EQ(spi_.error.error_id, 13);

    Msg c2(122);
    c2.put<uint32_t>(8, kFundIndex).put<int32_t>(16, 17).put<int32_t>(24, 13).put<uint64_t>(76, OrderId(43));
    c2.put<uint16_t>(114, kClient).put<uint8_t>(121, kNode);
    Feed(2, 0x122, c2);
    EXPECT_EQ(spi_.cancel.order_oxa_id, OrderId(17));

    spi_.events.clear();
    Msg h(67);
    h.put<uint32_t>(8, 12).text(12, "12345678").put<char>(20, '2').put<int64_t>(21, 111).put<int64_t>(45, 444);
    h.put<char>(61, '3').put<uint8_t>(62, 3).put<int32_t>(63, -9);
    Feed(0, 0x146, h);
    ASSERT_EQ(spi_.events, std::vector<std::string>{"holding"});
    EXPECT_EQ(spi_.session, uint64_t{3} << 16 | 12);
    EXPECT_STREQ(spi_.holding.ticker, "12345678");
    // the public records are byte-packed: read fields by value, never bind references to them
    const int32_t market = spi_.holding.market, f20 = spi_.holding.field_20, f24 = spi_.holding.field_24;
    const int64_t f28 = spi_.holding.field_28, f52 = spi_.holding.field_52;
    EXPECT_EQ(market, 2);
    EXPECT_EQ(f20, 3);
    EXPECT_EQ(f24, -9);
    EXPECT_EQ(f28, 111);
    EXPECT_EQ(f52, 444);
}

TEST_F(SpotPushTest, TruncatedPushesAreDropped) {
    const struct {
        uint32_t msg;
        size_t full;
    } cases[] = {{0x121, 160}, {0x122, 122}, {0x123, 121}, {0x124, 99}, {0x146, 67}};
    int seq = 1;
    for (const auto& c : cases) {
        for (size_t len = 0; len < c.full; ++len) {
            spi_.events.clear();
            Msg m(len);
            GetTradeDriver().onRecv(seq++, static_cast<int32_t>(c.msg), len ? m.b.data() : nullptr,
                                    static_cast<int>(len), 0, false, 0, 0, kNode);
            ASSERT_TRUE(spi_.events.empty()) << c.msg << " len " << len;
        }
    }
}

TEST_F(SpotPushTest, SyncAnswerReplaysKnownPushesAndMovesTheStart) {
    const int stride = 6 + 160;
    struct Rec {
        uint16_t id;
        int32_t seq;
    } recs[] = {{0x121, 10}, {0x125, 11}, {0x123, 12}};
    Msg a(56 + 3 * stride);
    a.put<uint32_t>(32, 5).put<uint32_t>(36, 3).put<uint32_t>(44, 3).put<uint32_t>(48, stride);
    for (int i = 0; i < 3; ++i) {
        const size_t off = 56 + i * stride;
        a.put<uint16_t>(off, recs[i].id).put<int32_t>(off + 2, recs[i].seq);
        if (recs[i].id == 0x121) {
            Msg o = OrderPush(10);
            std::memcpy(&a.b[off + 6], o.b.data(), 160);
        }
        if (recs[i].id == 0x123) a.put<uint64_t>(off + 6 + 112, OrderId(1));
    }
    Feed(0, 0x20011, a);
    EXPECT_EQ(spi_.events, (std::vector<std::string>{"order 10", "trade"}));
    EXPECT_EQ(spot_->GetStartSeqNo(), 13u);
    EXPECT_FALSE(spot_->IsSyncEnd()) << "5 and 3: not ended";

    // a count the message cannot hold: only the records that fit are replayed
    spi_.events.clear();
    a.put<uint32_t>(44, 1000000);
    a.put<uint32_t>(32, 3).put<uint32_t>(36, 3);
    Feed(0, 0x20011, a);
    EXPECT_TRUE(spi_.events.empty()) << "already seen numbers";
    EXPECT_TRUE(spot_->IsSyncEnd());
}

}  // namespace
