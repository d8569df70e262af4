// The spot query answers fed through the driver: the is_last rules of every family, the
// records built from the wire bytes, the lists that ask for their next page themselves, and
// every truncated length of every answer. Messages are built byte by byte at their offsets.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/ErrorCodes.h"
#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "core/spot_api/SpotQueryAnswers.h"
#include "core/spot_api/SpotTradeDriver.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "support/LoginFixture.h"

namespace {

using namespace OXA::API;
using namespace std::chrono_literals;
using SPOT::GetTradeDriver;

constexpr uint64_t kNode = 4;
constexpr uint64_t kFundIndex = 23;
constexpr uint64_t kSession = kNode << 16 | kFundIndex;
constexpr uint32_t kSessionNo = 9;
constexpr uint64_t kFundAcc = 8001;
constexpr uint16_t kClient = 6;

// Packed record fields are compared as values, never bound to references.
template <typename T>
T V(T v) {
    return v;
}

struct Msg {
    std::vector<char> b;
    explicit Msg(size_t n = 0) : b(n, 0) {}
    void grow(size_t n) {
        if (b.size() < n) b.resize(n, 0);
    }
    template <typename T>
    Msg& put(size_t off, T v) {
        grow(off + sizeof v);
        std::memcpy(&b[off], &v, sizeof v);
        return *this;
    }
    Msg& text(size_t off, const char* s) {
        grow(off + std::strlen(s));
        std::memcpy(&b[off], s, std::strlen(s));
        return *this;
    }
    size_t size() const { return b.size(); }
};

// Classic head: session number, request id, is_last, error, count; records follow at 17.
Msg Classic(uint32_t session_no, uint64_t request, uint8_t last, int16_t error, int16_t count) {
    Msg m(17);
    m.put<uint32_t>(0, session_no).put<uint64_t>(4, request).put<uint8_t>(12, last);
    m.put<int16_t>(13, error).put<int16_t>(15, count);
    return m;
}

// Paged head: index, req_count, reference, is_last; the record at 33.
Msg PageHead(uint32_t session_no, uint64_t request, int32_t index, int32_t req_count, uint64_t ref, uint8_t last) {
    Msg m(33);
    m.put<uint32_t>(0, session_no).put<uint64_t>(4, request).put<int32_t>(12, index).put<int32_t>(16, req_count);
    m.put<uint64_t>(20, ref).put<uint8_t>(28, last);
    return m;
}

// Extended head; records at 56, each a position index and its body.
Msg ExtHead(uint64_t session_no, uint64_t request, int32_t error, uint32_t page, uint32_t count, uint32_t stride) {
    Msg m(56);
    m.put<uint64_t>(0, session_no).put<uint64_t>(8, request).put<uint64_t>(16, kFundAcc).put<uint8_t>(24, 5);
    m.put<int32_t>(28, error).put<uint32_t>(32, page).put<uint32_t>(36, count).put<uint32_t>(40, stride);
    return m;
}

struct Call {
    std::string what;
    bool has_record;
    bool last;
    int error_id;
    std::string error_msg;
    int request_id;
    uint64_t session;
    int64_t req_count = 0, index = 0, reference = 0;
};

struct Spi : TraderSpi {
    std::vector<Call> calls;
    OXAPositionInfo position{};
    OXAAssetInfo asset{};
    OXAYesterdayAssetInfo yesterday{};
    OXAFundInfo fund{};
    OXAFundTransferNotice transfer{};
    OXAOtherServerFundInfo other{};
    OXAETFInfo etf{};
    OXAETFBasketInfo basket{};
    OXAIPOInfo ipo{};
    OXAIPOQuotaInfo quota{};
    OXAIssueInfo issue{};
    OXASecurityInfo security{};
    OXAHKConnectIndicativeExchangeRateInfo rate{};
    OXAHKConnectSpreadTableInfo spread{};
    OXAOrderInfo order{};
    OXATradeReport trade{};
    std::function<void(const Call&)> on_call;

    template <typename R>
    void Add(const char* what, R* r, R& keep, OXAErrorInfo* e, int id, bool last, uint64_t s) {
        if (r) keep = *r;
        Call c{what, r != nullptr, last, e ? e->error_id : -1, e ? e->error_msg : "", id, s};
        calls.push_back(c);
        if (on_call) on_call(c);
    }
    template <typename R>
    void AddPaged(const char* what, R* r, R& keep, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                  uint64_t s) {
        if (r) keep = *r;
        Call c{what, r != nullptr, last, 0, "", id, s, rc, idx, ref};
        calls.push_back(c);
        if (on_call) on_call(c);
    }
    void OnQueryOrder(OXAOrderInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("order", r, order, e, id, l, s);
    }
    void OnQueryTrade(OXATradeReport* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("trade", r, trade, e, id, l, s);
    }
    void OnQueryPosition(OXAPositionInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("position", r, position, e, id, l, s);
    }
    void OnQueryAsset(OXAAssetInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("asset", r, asset, e, id, l, s);
    }
    void OnQueryYesterdayAsset(OXAYesterdayAssetInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("yesterday", r, yesterday, e, id, l, s);
    }
    void OnQueryFund(OXAFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Add("fund", r, fund, e, id, true, s);
    }
    void OnQueryFundTransfer(OXAFundTransferNotice* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("transfer", r, transfer, e, id, l, s);
    }
    void OnQueryOtherServerFund(OXAOtherServerFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Add("other", r, other, e, id, false, s);  // no is_last: every message may hold more
    }
    void OnQueryETF(OXAETFInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("etf", r, etf, e, id, l, s);
    }
    void OnQueryETFBasket(OXAETFBasketInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("basket", r, basket, e, id, l, s);
    }
    void OnQueryIPOInfoList(OXAIPOInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("ipo", r, ipo, e, id, l, s);
    }
    void OnQueryIPOQuotaInfo(OXAIPOQuotaInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("quota", r, quota, e, id, l, s);
    }
    void OnQueryIssueInfoList(OXAIssueInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("issue", r, issue, e, id, l, s);
    }
    void OnQuerySecurityInfo(OXASecurityInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Add("security", r, security, e, id, l, s);
    }
    void OnQueryHKConnectIndicativeExchangeRateInfo(OXAHKConnectIndicativeExchangeRateInfo* r, OXAErrorInfo* e,
                                                    int id, uint64_t s) override {
        Add("rate", r, rate, e, id, true, s);
    }
    void OnQueryHKConnectSpreadTable(OXAHKConnectSpreadTableInfo* r, OXAErrorInfo* e, int id, bool l,
                                     uint64_t s) override {
        Add("spread", r, spread, e, id, l, s);
    }
    void OnQueryOrderByPage(OXAOrderInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                            uint64_t s) override {
        AddPaged("order_page", r, order, rc, i, ref, id, l, s);
    }
    void OnQueryTradeByPage(OXATradeReport* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                            uint64_t s) override {
        AddPaged("trade_page", r, trade, rc, i, ref, id, l, s);
    }
    void OnQueryPositionByPage(OXAPositionInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                               uint64_t s) override {
        AddPaged("position_page", r, position, rc, i, ref, id, l, s);
    }
    void OnQueryETFByPage(OXAETFInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l, uint64_t s) override {
        AddPaged("etf_page", r, etf, rc, i, ref, id, l, s);
    }
    void OnQuerySecurityByPage(OXASecurityInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                               uint64_t s) override {
        AddPaged("security_page", r, security, rc, i, ref, id, l, s);
    }
    size_t LastCount() const {
        size_t n = 0;
        for (auto& c : calls) n += c.last;
        return n;
    }
};

// Hands the driver a heap copy of exactly n bytes, so a read past the end is caught.
void FeedBytes(uint32_t id, const Msg& m, size_t n, uint32_t node) {
    std::vector<char> copy(m.b.begin(), m.b.begin() + static_cast<std::ptrdiff_t>(n));
    GetTradeDriver().onRecv(0, static_cast<int32_t>(id), n ? copy.data() : nullptr, static_cast<int>(n), 0, false, 0,
                            0, node);
}

class SpotQueryAnswerTest : public ::testing::Test {
protected:
    void SetUp() override {
        spot_ = new SpotTraderImpl();  // binds the driver
        spot_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = kFundAcc;
        info.nApiSessionID = kSession;
        info.nClientID = kClient;
        const SessionNoKey key{kNode, kSessionNo};
        ASSERT_NE(RegisterSession(info, &key, true), nullptr);
    }
    void TearDown() override {
        UnregisterSession(kSession);
        spot_->Release();
        delete spot_;  // no connection, so no io thread can still be in a handler
        SPOT::SetContinuePageLimit(SPOT::kDefaultContinuePageLimit);
    }
    void Feed(uint32_t id, const Msg& m) { FeedBytes(id, m, m.size(), kNode); }
    SpotTraderImpl* spot_ = nullptr;
    Spi spi_;
};

Msg PositionRecord(Msg m, size_t at, const char* ticker, int64_t total) {
    m.text(at + 8, ticker).put<int64_t>(at + 16, 7).put<int64_t>(at + 32, total).put<int64_t>(at + 40, 60);
    m.put<int64_t>(at + 48, 0).put<int64_t>(at + 56, 33).put<double>(at + 64, 9.25).put<char>(at + 77, '2');
    return m;
}

Msg Positions(uint8_t last, int16_t count, int records, int16_t error = 0) {
    Msg m = Classic(kSessionNo, 0x1234500000077ull, last, error, count);
    for (int i = 0; i < records; ++i) m = PositionRecord(m, 17 + 78 * i, "600000", 100 + i);
    return m;
}

TEST_F(SpotQueryAnswerTest, ClassicIsLastTable) {
    const struct {
        const char* name;
        Msg msg;
        std::vector<std::pair<bool, bool>> calls;  // record?, is_last
    } cases[] = {
        {"count 0 ends with a null record whatever the flag", Positions(0, 0, 0), {{false, true}}},
        {"three records, more messages follow", Positions(0, 3, 3), {{true, false}, {true, false}, {true, false}}},
        {"three records of the last message", Positions(1, 3, 3), {{true, false}, {true, false}, {true, true}}},
        {"negative count of the last message still ends", Positions(1, -2, 1), {{false, true}}},
        {"negative count of another message delivers nothing", Positions(0, -2, 1), {}},
        {"count past the message delivers what fits", Positions(1, 5, 2), {{true, false}, {true, true}}},
        {"a record cut short is not delivered", [] {
             Msg m = Positions(1, 2, 2);
             m.b.resize(m.size() - 1);
             return m;
         }(), {{true, true}}},
        {"huge count, nothing fits", Positions(1, 32767, 0), {{false, true}}},
    };
    for (const auto& c : cases) {
        spi_.calls.clear();
        Feed(SPOT::kMsgQueryPositionRsp, c.msg);
        ASSERT_EQ(spi_.calls.size(), c.calls.size()) << c.name;
        for (size_t i = 0; i < c.calls.size(); ++i) {
            EXPECT_EQ(spi_.calls[i].has_record, c.calls[i].first) << c.name << " " << i;
            EXPECT_EQ(spi_.calls[i].last, c.calls[i].second) << c.name << " " << i;
            EXPECT_EQ(spi_.calls[i].request_id, 0x77) << c.name;
            EXPECT_EQ(spi_.calls[i].session, kSession) << c.name;
            EXPECT_EQ(spi_.calls[i].error_id, 0) << c.name;
            EXPECT_EQ(spi_.calls[i].error_msg, GetErrorMsg(0)) << c.name;
        }
    }
}

TEST_F(SpotQueryAnswerTest, HeadErrorReachesEveryCall) {
    Feed(SPOT::kMsgQueryPositionRsp, Positions(1, 2, 2, 1004));
    ASSERT_EQ(spi_.calls.size(), 2u);
    for (auto& c : spi_.calls) {
        EXPECT_EQ(c.error_id, 1004);
        EXPECT_EQ(c.error_msg, GetErrorMsg(1004));
    }
}

TEST_F(SpotQueryAnswerTest, UnknownSessionNumberIsDropped) {
    for (uint32_t id : {0x128u, 0x132u, 0x139u, 0x142u, 0x20013u, 0x20027u, 0x20031u, 0x20029u}) {
        Msg m(400);
        m.put<uint32_t>(0, kSessionNo + 1);
        m.put<int16_t>(15, 0);
        Feed(id, m);
    }
    EXPECT_TRUE(spi_.calls.empty());
}

TEST_F(SpotQueryAnswerTest, PositionRecord) {
    Feed(SPOT::kMsgQueryPositionRsp, Positions(1, 1, 1));
    ASSERT_EQ(spi_.calls.size(), 1u);
    const OXAPositionInfo& p = spi_.position;
    EXPECT_STREQ(p.ticker, "600000");
    EXPECT_STREQ(p.ticker_name, "not_ready");
    EXPECT_EQ(V(p.market), 2);
    EXPECT_EQ(V(p.total_qty), 100);
    EXPECT_EQ(V(p.sellable_qty), 60);
    EXPECT_DOUBLE_EQ(V(p.avg_price), 9.25);
    EXPECT_EQ(V(p.yesterday_position), 7);
    EXPECT_EQ(V(p.purchase_redeemable_qty), 33);  // the second value when the first is 0
}

TEST_F(SpotQueryAnswerTest, TickerOfEightCharactersStaysInItsWireField) {
    Msg m = Positions(1, 1, 1);
    m.text(17 + 8, "ABCDEFGH");  // no terminator before the next field
    Feed(SPOT::kMsgQueryPositionRsp, m);
    EXPECT_STREQ(spi_.position.ticker, "ABCDEFGH");
}

TEST_F(SpotQueryAnswerTest, AssetAndYesterdayAsset) {
    Msg asset = Classic(kSessionNo, 3, 0, 0, 2);
    const size_t r = 17;
    asset.put<double>(r + 16, 1000.0).put<double>(r + 29, 29.0).put<double>(r + 37, 5000.0);
    asset.put<double>(r + 45, 45.0).put<double>(r + 85, 85.0).put<double>(r + 93, 93.0);
    asset.grow(17 + 2 * 101);
    Feed(SPOT::kMsgQueryAssetRsp, asset);
    ASSERT_EQ(spi_.calls.size(), 1u);  // a single record, always the last
    EXPECT_EQ(spi_.calls[0].what, "asset");
    EXPECT_TRUE(spi_.calls[0].last);
    EXPECT_DOUBLE_EQ(V(spi_.asset.total_asset), 5000.0);
    EXPECT_DOUBLE_EQ(V(spi_.asset.buying_power), 1000.0);
    EXPECT_DOUBLE_EQ(V(spi_.asset.field_16), 29.0);
    EXPECT_DOUBLE_EQ(V(spi_.asset.withholding_amount), 45.0);
    EXPECT_DOUBLE_EQ(V(spi_.asset.field_188), 85.0);
    EXPECT_DOUBLE_EQ(V(spi_.asset.field_196), 93.0);

    spi_.calls.clear();
    Msg y = Classic(kSessionNo, 3, 1, 0, 2);
    for (int i = 0; i < 2; ++i) {
        const size_t at = 17 + 101 * i;
        y.put<double>(at + 16, -1.0).put<double>(at + 8, 8.0 + i).put<double>(at + 29, 29.0).put<double>(at + 37, 37.0);
    }
    y.grow(17 + 2 * 101);
    Feed(SPOT::kMsgQueryAssetRsp, y);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_EQ(spi_.calls[0].what, "yesterday");
    EXPECT_FALSE(spi_.calls[0].last);
    EXPECT_TRUE(spi_.calls[1].last);
    EXPECT_DOUBLE_EQ(V(spi_.yesterday.field_0), 37.0);
    EXPECT_DOUBLE_EQ(V(spi_.yesterday.field_8), 0.0);
    EXPECT_DOUBLE_EQ(V(spi_.yesterday.field_16), 9.0);
    EXPECT_DOUBLE_EQ(V(spi_.yesterday.field_24), 29.0);
}

TEST_F(SpotQueryAnswerTest, FundTransferAndFundsRecords) {
    Msg f = Classic(kSessionNo, 4, 1, 0, 1);
    f.put<double>(17 + 16, 16.5).put<double>(17 + 45, 45.5).put<double>(17 + 53, 53.5).put<double>(17 + 61, 61.5);
    Feed(SPOT::kMsgQueryFundRsp, f);
    ASSERT_EQ(spi_.calls.size(), 1u);
    EXPECT_DOUBLE_EQ(V(spi_.fund.buying_power), 16.5);
    EXPECT_DOUBLE_EQ(V(spi_.fund.withholding_amount), 45.5);
    EXPECT_DOUBLE_EQ(V(spi_.fund.field_20), 53.5);
    EXPECT_DOUBLE_EQ(V(spi_.fund.field_28), 61.5);

    GetTradeDriver().SetTradingDay(20261210);
    const uint32_t statuses[] = {0, 1, 7};
    const int32_t expected[] = {0, 1, 2};
    for (int i = 0; i < 3; ++i) {
        Msg t = Classic(kSessionNo, 5, 1, 0, 1);
        t.put<uint64_t>(17, 0x1122334455ull).put<double>(17 + 49, 250.0).put<char>(17 + 65, '2');
        t.put<uint32_t>(17 + 66, statuses[i]).put<int32_t>(17 + 70, 93015).put<uint8_t>(17 + 82, 9);
        Feed(SPOT::kMsgQueryFundTransferRsp, t);
        EXPECT_EQ(V(spi_.transfer.oper_status), expected[i]);
    }
    EXPECT_EQ(V(spi_.transfer.order_oxa_id), kSession << 40 | uint64_t{9} << 32 | 0x22334455u);
    EXPECT_EQ(V(spi_.transfer.transfer_type), 0);
    EXPECT_DOUBLE_EQ(V(spi_.transfer.amount), 250.0);
    EXPECT_EQ(V(spi_.transfer.transfer_time), 20261210093015000ull);

    Msg o = Classic(kSessionNo, 6, 1, 0, 1);
    o.put<double>(17 + 16, 77.5);
    o.grow(17 + 69);
    Feed(SPOT::kMsgQueryOtherServerFundRsp, o);
    EXPECT_DOUBLE_EQ(V(spi_.other.amount), 77.5);
    EXPECT_EQ(V(spi_.other.query_type), 1);
}

TEST_F(SpotQueryAnswerTest, ListRecords) {
    Msg q = Classic(kSessionNo, 7, 1, 0, 1);
    q.put<char>(17 + 12, '1').put<uint64_t>(17 + 27, 0x100000005ull).put<uint64_t>(17 + 35, 6);
    q.grow(17 + 43);
    Feed(SPOT::kMsgQueryIPOQuotaRsp, q);
    EXPECT_EQ(V(spi_.quota.market), 1);
    EXPECT_EQ(V(spi_.quota.field_4), 5);
    EXPECT_EQ(V(spi_.quota.field_8), 6);

    Msg s = Classic(kSessionNo, 8, 1, 0, 1);
    s.text(17, "000001").put<char>(17 + 9, '1').put<char>(17 + 10, '0').put<char>(17 + 11, '2');
    s.put<uint8_t>(17 + 14, 3).put<double>(17 + 15, 15.0).put<double>(17 + 23, 23.0).put<double>(17 + 31, 31.0);
    s.put<int64_t>(17 + 39, 39).put<double>(17 + 47, 47.0);
    for (int i = 0; i < 64; ++i) s.put<char>(17 + 55 + i, 'n');  // a name filling its field
    Feed(SPOT::kMsgQuerySecurityRsp, s);
    ASSERT_EQ(spi_.calls.back().what, "security");
    EXPECT_TRUE(spi_.calls.back().last);
    EXPECT_STREQ(spi_.security.ticker, "000001");
    EXPECT_EQ(std::string(spi_.security.name), std::string(63, 'n'));
    EXPECT_EQ(V(spi_.security.market), 1);
    EXPECT_EQ(V(spi_.security.ticker_type), 3);
    EXPECT_EQ(V(spi_.security.field_88), 39);
    EXPECT_EQ(V(spi_.security.field_96), 3);
    EXPECT_DOUBLE_EQ(V(spi_.security.field_97), 15.0);
    EXPECT_DOUBLE_EQ(V(spi_.security.field_121), 47.0);

    Msg i = Classic(kSessionNo, 9, 1, 0, 1);
    i.text(17, "732001").put<char>(17 + 8, '1').put<char>(17 + 9, '1').put<char>(17 + 10, '4');
    i.put<double>(17 + 12, 12.5).put<uint64_t>(17 + 28, 0x700000009ull);
    Feed(SPOT::kMsgQueryIssueRsp, i);
    EXPECT_STREQ(spi_.issue.ticker, "732001");
    EXPECT_STREQ(spi_.issue.name, "not_ready");
    EXPECT_STREQ(spi_.issue.field_88, "not_ready");
    EXPECT_EQ(V(spi_.issue.ticker_type), 5);  // plate '1'
    EXPECT_DOUBLE_EQ(V(spi_.issue.field_104), 12.5);
    EXPECT_EQ(V(spi_.issue.field_116), 9);

    Msg e = Classic(kSessionNo, 10, 1, 0, 1);
    e.text(17, "510050").text(17 + 8, "510051").put<char>(17 + 16, '1').put<uint32_t>(17 + 17, 900000);
    e.put<char>(17 + 45, '3').put<double>(17 + 55, 55.0).put<double>(17 + 71, 71.0).put<char>(17 + 99, '4');
    e.grow(17 + 100);
    Feed(SPOT::kMsgQueryETFRsp, e);
    EXPECT_EQ(V(spi_.etf.market), 1);
    EXPECT_STREQ(spi_.etf.ticker, "510051");
    EXPECT_STREQ(spi_.etf.field_20, "510050");
    EXPECT_EQ(V(spi_.etf.field_36), 900000);
    EXPECT_EQ(V(spi_.etf.field_40), 3);
    EXPECT_DOUBLE_EQ(V(spi_.etf.field_48), 71.0);
    EXPECT_DOUBLE_EQ(V(spi_.etf.field_80), 55.0);
    EXPECT_EQ(V(spi_.etf.field_104), 4);
}

TEST_F(SpotQueryAnswerTest, PagedClassicCarriesIndexAndReference) {
    Msg p = PositionRecord(PageHead(kSessionNo, 0x900000011ull, 3, 50, 0xABCDEF12345ull, 0), 33, "600519", 500);
    Feed(SPOT::kMsgQueryPositionByPageRsp, p);  // exactly 111 bytes
    ASSERT_EQ(p.size(), 111u);
    ASSERT_EQ(spi_.calls.size(), 1u);
    EXPECT_TRUE(spi_.calls[0].has_record);
    EXPECT_EQ(spi_.calls[0].index, 3);
    EXPECT_EQ(spi_.calls[0].req_count, 50);
    EXPECT_EQ(spi_.calls[0].reference, static_cast<int64_t>(0xABCDEF12345ull));
    EXPECT_EQ(spi_.calls[0].request_id, 0x11);
    EXPECT_FALSE(spi_.calls[0].last);
    EXPECT_STREQ(spi_.position.ticker_name, "not_ready");
    EXPECT_EQ(V(spi_.position.total_qty), 500);

    p.text(111, "Kweichow");
    Feed(SPOT::kMsgQueryPositionByPageRsp, p);
    EXPECT_STREQ(spi_.position.ticker_name, "Kweichow");
    Msg long_name = p;
    for (int i = 0; i < 100; ++i) long_name.put<char>(111 + i, 'x');
    Feed(SPOT::kMsgQueryPositionByPageRsp, long_name);
    EXPECT_EQ(std::string(spi_.position.ticker_name), std::string(63, 'x'));

    spi_.calls.clear();
    Feed(SPOT::kMsgQueryOrderByPageRsp, PageHead(kSessionNo, 1, 0, 50, 0, 1));  // index 0: no record
    Msg order = PageHead(kSessionNo, 1, 4, 50, 99, 1);
    order.text(33 + 16, "600000").put<int64_t>(33 + 24, 1000).put<char>(33 + 55, '3').put<int64_t>(33 + 118, 300);
    order.grow(33 + 160);
    Feed(SPOT::kMsgQueryOrderByPageRsp, order);
    Msg cut = order;
    cut.b.resize(33 + 159);
    Feed(SPOT::kMsgQueryOrderByPageRsp, cut);  // a record cut short is not handed on
    ASSERT_EQ(spi_.calls.size(), 3u);
    EXPECT_FALSE(spi_.calls[0].has_record);
    EXPECT_TRUE(spi_.calls[0].last);
    EXPECT_TRUE(spi_.calls[1].has_record);
    EXPECT_EQ(spi_.calls[1].index, 4);
    EXPECT_FALSE(spi_.calls[2].has_record);
    EXPECT_EQ(V(spi_.order.qty_traded), 300);
    EXPECT_EQ(V(spi_.order.qty_left), 700);
    EXPECT_EQ(V(spi_.order.order_cancel_client_id), 0u);

    Msg trade = PageHead(kSessionNo, 1, 2, 10, 5, 1);
    trade.put<char>(33 + 31, '2').put<int64_t>(33 + 48, 7).put<double>(33 + 40, 3.0);
    trade.grow(33 + 121);
    Feed(SPOT::kMsgQueryTradeByPageRsp, trade);
    EXPECT_EQ(spi_.calls.back().what, "trade_page");
    EXPECT_DOUBLE_EQ(V(spi_.trade.trade_amount), 700.0);
}

Msg EtfPage(uint32_t page, uint32_t count, uint32_t records, uint32_t stride = 4 + 100, uint32_t first_pos = 10) {
    Msg m = ExtHead(kSessionNo, 0x5500000021ull, 0, page, count, stride);
    for (uint32_t i = 0; i < records; ++i) {
        const size_t at = 56 + size_t{i} * stride;
        m.put<uint32_t>(at, first_pos + i).text(at + 4 + 8, "510300").put<char>(at + 4 + 16, '2');
        m.grow(at + 4 + 100);
    }
    return m;
}

TEST_F(SpotQueryAnswerTest, ExtendedPagedIndexAndReference) {
    Feed(SPOT::kMsgQueryETFByPageRsp, EtfPage(20, 5, 5));
    ASSERT_EQ(spi_.calls.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(spi_.calls[i].index, i + 1);
        EXPECT_EQ(spi_.calls[i].reference, 10 + i + 1);
        EXPECT_EQ(spi_.calls[i].req_count, 20);
        EXPECT_EQ(spi_.calls[i].request_id, 0x21);
        EXPECT_EQ(spi_.calls[i].last, i == 4);
    }
    EXPECT_STREQ(spi_.etf.ticker, "510300");
    EXPECT_EQ(V(spi_.etf.market), 2);

    const struct {
        const char* name;
        Msg msg;
        size_t calls;
        bool record;
    } cases[] = {
        {"count 0", EtfPage(20, 0, 0), 1, false},
        {"count past the message", EtfPage(20, 9, 3), 3, true},
        {"stride below the record", EtfPage(20, 3, 3, 50), 1, false},
        {"stride 0", EtfPage(20, 3, 1, 0), 1, false},
        {"wide stride", EtfPage(20, 2, 2, 4000), 2, true},
        {"count near 2^32", EtfPage(20, 0xFFFFFFFFu, 2), 2, true},
    };
    for (const auto& c : cases) {
        spi_.calls.clear();
        Feed(SPOT::kMsgQueryETFByPageRsp, c.msg);
        ASSERT_EQ(spi_.calls.size(), c.calls) << c.name;
        EXPECT_EQ(spi_.calls.back().has_record, c.record) << c.name;
        EXPECT_EQ(spi_.LastCount(), 1u) << c.name;
        EXPECT_TRUE(spi_.calls.back().last) << c.name;
        EXPECT_EQ(spi_.calls.back().req_count, 20) << c.name;
        if (!c.record) {
            EXPECT_EQ(spi_.calls.back().index, 0) << c.name;
        }
    }

    spi_.calls.clear();
    Msg sec = ExtHead(kSessionNo, 2, 0, 10, 1, 4 + 119);
    sec.put<uint32_t>(56, 41).text(60, "00000001X").put<char>(60 + 9, '2');
    sec.grow(56 + 4 + 119);
    Feed(SPOT::kMsgQuerySecurityByPageRsp, sec);
    ASSERT_EQ(spi_.calls.size(), 1u);
    EXPECT_EQ(spi_.calls[0].reference, 42);
    EXPECT_STREQ(spi_.security.ticker, "00000001");  // at most 8 characters
    EXPECT_EQ(V(spi_.security.market), 2);
}

TEST_F(SpotQueryAnswerTest, HKConnectAnswers) {
    Msg r = ExtHead(kSessionNo, 3, 0, 0, 0, 0);
    r.b.resize(64);
    r.put<double>(32, 0.91).put<double>(40, 0.92).put<double>(48, 0.93).put<double>(56, 0.94);
    Feed(SPOT::kMsgQueryHKConnectRateRsp, r);
    Msg failed = r;
    failed.put<int32_t>(28, 7);
    Feed(SPOT::kMsgQueryHKConnectRateRsp, failed);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_TRUE(spi_.calls[0].has_record);
    EXPECT_DOUBLE_EQ(V(spi_.rate.field_0), 0.91);
    EXPECT_DOUBLE_EQ(V(spi_.rate.field_24), 0.94);
    EXPECT_FALSE(spi_.calls[1].has_record);
    EXPECT_EQ(spi_.calls[1].error_id, 7);

    const struct {
        const char* name;
        int32_t count;
        int records;
        size_t calls;
    } cases[] = {{"three", 3, 3, 3}, {"none", 0, 0, 1}, {"negative", -1, 0, 1}, {"past the end", 4, 2, 2}};
    for (const auto& c : cases) {
        spi_.calls.clear();
        Msg s = ExtHead(kSessionNo, 4, 0, 0, 0, 0);
        s.b.resize(37);
        s.put<char>(32, '2').put<int32_t>(33, c.count);
        for (int i = 0; i < c.records; ++i)
            s.put<double>(37 + 24 * i, 0.001).put<double>(37 + 24 * i + 8, 1.0 + i).put<double>(37 + 24 * i + 16, 2.0);
        Feed(SPOT::kMsgQueryHKConnectSpreadRsp, s);
        ASSERT_EQ(spi_.calls.size(), c.calls) << c.name;
        EXPECT_EQ(spi_.LastCount(), 1u) << c.name;
        EXPECT_TRUE(spi_.calls.back().last) << c.name;
    }
    EXPECT_EQ(V(spi_.spread.ticker_type), 3);
    EXPECT_DOUBLE_EQ(V(spi_.spread.field_4), 2.0);
    EXPECT_DOUBLE_EQ(V(spi_.spread.field_12), 2.0);
    EXPECT_DOUBLE_EQ(V(spi_.spread.field_20), 0.001);
}

Msg BasketPage(uint64_t session_no, uint32_t page, uint32_t count, uint32_t records, uint32_t first_pos) {
    const uint32_t stride = 4 + 55;
    Msg m = ExtHead(session_no, 0x6600000031ull, 0, page, count, stride);
    for (uint32_t i = 0; i < records; ++i) {
        const size_t at = 56 + size_t{i} * stride;
        m.put<uint32_t>(at, first_pos + i).text(at + 4, "510050").put<char>(at + 4 + 8, '1');
        m.text(at + 4 + 9, "600000").put<char>(at + 4 + 17, '1').put<int32_t>(at + 4 + 18, 1000 + int32_t(i));
        m.put<double>(at + 4 + 47, 47.0);
    }
    m.grow(56 + size_t{records} * stride);
    return m;
}

Msg IpoPage(uint64_t session_no, int32_t error, uint32_t page, uint32_t count, uint32_t records, uint32_t first_pos) {
    Msg m = ExtHead(session_no, 0x7700000041ull, error, page, count, 999);  // the stride field is not used
    for (uint32_t i = 0; i < records; ++i) {
        const size_t at = 56 + size_t{i} * 120;
        m.put<uint32_t>(at, first_pos + i).text(at + 4, "732001").put<char>(at + 4 + 8, '3');
        m.put<char>(at + 4 + 9, '0').put<char>(at + 4 + 10, '1').put<double>(at + 4 + 12, 12.0);
        m.put<int32_t>(at + 4 + 20, 20).text(at + 4 + 28, "New Issue").put<double>(at + 4 + 92, 92.0);
        m.put<double>(at + 4 + 100, 100.0).put<int32_t>(at + 4 + 108, 108);
    }
    m.grow(56 + size_t{records} * 120);
    return m;
}

// A page that is not full ends the query on its last record; a page cut short ends it with one
// more call, without a record, that says it ended early.
TEST_F(SpotQueryAnswerTest, ContinuingListsEndWithoutAFullPage) {
    const struct {
        const char* name;
        uint32_t page, count, records;
        size_t calls;
        int error;  // of the last call
    } cases[] = {
        {"partial page", 200, 150, 150, 150, 0},
        {"count 0", 200, 0, 0, 1, 0},
        {"more records than the page", 200, 201, 201, 201, 0},
        {"cut short", 200, 200, 120, 121, OXA::API::kErrQueryEndedEarly},
        {"partial page cut short", 200, 150, 20, 21, OXA::API::kErrQueryEndedEarly},
        {"page size 0 with records", 0, 3, 3, 3, 0},
    };
    for (const auto& c : cases) {
        for (uint32_t id : {SPOT::kMsgQueryETFBasketRsp, SPOT::kMsgQueryIPOInfoListRsp}) {
            spi_.calls.clear();
            Feed(id, id == SPOT::kMsgQueryETFBasketRsp ? BasketPage(kSessionNo, c.page, c.count, c.records, 0)
                                                       : IpoPage(kSessionNo, 0, c.page, c.count, c.records, 0));
            ASSERT_EQ(spi_.calls.size(), c.calls) << c.name << " " << id;
            EXPECT_EQ(spi_.LastCount(), 1u) << c.name << " " << id;
            EXPECT_TRUE(spi_.calls.back().last) << c.name << " " << id;
            EXPECT_EQ(spi_.calls.back().error_id, c.error) << c.name << " " << id;
            EXPECT_EQ(spi_.calls.back().has_record, c.error == 0 && c.count != 0) << c.name << " " << id;
        }
    }
    EXPECT_EQ(V(spi_.ipo.market), 5);
    EXPECT_STREQ(spi_.ipo.ticker, "732001");
    EXPECT_STREQ(spi_.ipo.name, "New Issue");
    EXPECT_EQ(V(spi_.ipo.ticker_type), 0);
    EXPECT_DOUBLE_EQ(V(spi_.ipo.field_88), 12.0);
    EXPECT_EQ(V(spi_.ipo.field_96), 108);
    EXPECT_EQ(V(spi_.ipo.field_100), 20);
    EXPECT_DOUBLE_EQ(V(spi_.ipo.field_104), 92.0);
    EXPECT_DOUBLE_EQ(V(spi_.ipo.field_112), 100.0);
}

TEST_F(SpotQueryAnswerTest, FailedNextPageSendEndsWithItsCode) {
    // this node has no connection, so every next-page request fails to send
    for (uint32_t id : {SPOT::kMsgQueryETFBasketRsp, SPOT::kMsgQueryIPOInfoListRsp}) {
        spi_.calls.clear();
        Feed(id, id == SPOT::kMsgQueryETFBasketRsp ? BasketPage(kSessionNo, 200, 200, 200, 0)
                                                   : IpoPage(kSessionNo, 0, 200, 200, 200, 0));
        // every record, the last one not last, then the end with the send's code
        ASSERT_EQ(spi_.calls.size(), 201u) << id;
        EXPECT_EQ(spi_.LastCount(), 1u) << id;
        const Call& last = spi_.calls.back();
        EXPECT_TRUE(last.last) << id;
        EXPECT_FALSE(last.has_record) << id;
        EXPECT_EQ(last.error_id, OXA::API::kErrSendFailed) << id;
        EXPECT_EQ(last.error_msg, GetErrorMsg(last.error_id)) << id;
        EXPECT_TRUE(spi_.calls[199].has_record) << id;
        EXPECT_EQ(spi_.calls[199].error_id, 0) << id;
    }
    EXPECT_STREQ(spi_.basket.ticker, "510050");
    EXPECT_STREQ(spi_.basket.component_ticker, "600000");
    EXPECT_EQ(V(spi_.basket.market), 1);
    EXPECT_EQ(V(spi_.basket.component_market), 1);
    EXPECT_EQ(V(spi_.basket.field_100), 1199);
    EXPECT_DOUBLE_EQ(V(spi_.basket.field_156), 47.0);
}

// Every length of every answer, each handed over in a buffer of exactly that size: no read
// leaves the message, and no message ends a query more than once.
TEST_F(SpotQueryAnswerTest, EveryTruncatedLength) {
    SPOT::SetContinuePageLimit(0);  // no next page: this node cannot send anyway
    struct Family {
        uint32_t id;
        Msg msg;
    };
    auto classic = [](int16_t count, size_t rec) {
        Msg m = Classic(kSessionNo, 1, 1, 0, count);
        for (size_t i = 0; i < rec * count; ++i) m.put<char>(17 + i, static_cast<char>('1' + i % 9));
        return m;
    };
    auto paged = [](size_t rec) {
        Msg m = PageHead(kSessionNo, 1, 1, 1, 1, 1);
        for (size_t i = 0; i < rec + 80; ++i) m.put<char>(33 + i, static_cast<char>('1' + i % 9));
        return m;
    };
    Msg security_page = ExtHead(kSessionNo, 1, 0, 2, 2, 4 + 119);
    security_page.grow(56 + 2 * 123);
    Msg hk = ExtHead(kSessionNo, 1, 0, 0, 0, 0);
    hk.b.resize(64);
    Msg spread = ExtHead(kSessionNo, 1, 0, 0, 0, 0);
    spread.b.resize(37);
    spread.put<int32_t>(33, 3).grow(37 + 72);
    Msg yesterday = classic(2, 101);
    yesterday.put<double>(33, -1.0);
    const Family families[] = {
        {0x132, classic(2, 160)}, {0x133, classic(2, 121)},  {0x128, classic(2, 78)},
        {0x129, classic(1, 69)},  {0x12a, classic(2, 43)},   {0x12c, classic(1, 119)},
        {0x134, classic(2, 83)},  {0x136, classic(1, 101)},  {0x136, yesterday},
        {0x138, classic(2, 36)},  {0x141, classic(2, 100)},  {0x142, classic(2, 69)},
        {0x139, paged(78)},       {0x13a, paged(160)},       {0x13b, paged(121)},
        {0x20013, EtfPage(2, 2, 2)}, {0x20015, security_page}, {0x20025, hk},
        {0x20027, BasketPage(kSessionNo, 2, 2, 2, 0)}, {0x20029, spread},
        {0x20031, IpoPage(kSessionNo, 0, 2, 2, 2, 0)},
    };
    for (const auto& f : families) {
        for (size_t n = 0; n <= f.msg.size(); ++n) {
            spi_.calls.clear();
            FeedBytes(f.id, f.msg, n, kNode);
            EXPECT_LE(spi_.LastCount(), 1u) << std::hex << f.id << std::dec << " len " << n;
        }
        // the whole message delivers and ends once
        EXPECT_FALSE(spi_.calls.empty()) << std::hex << f.id;
        if (f.id != 0x142) {
            EXPECT_EQ(spi_.LastCount(), 1u) << std::hex << f.id;
        }
    }
}

// Against the simulated gateway: a full page asks for the next one on the session's
// connection before its last record is delivered.
class SpotContinueTest : public ::testing::Test {
protected:
    static constexpr uint32_t kSimSessionNo = 61;
    static constexpr uint32_t kSimFundIndex = 612;

    void SetUp() override {
        api_ = oxa_test::TestApi(5);
        api_->Release();
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new SpotTraderImpl();
            return spot_;
        });
        ASSERT_TRUE(sim_.start(0));
        oxa_sim::SpotLoginAnswer a;
        a.session_no = kSimSessionNo;
        a.fund_index = kSimFundIndex;
        sim_.set_spot_login_answer(a);
        session_ = api_->Login("127.0.0.1", sim_.port(), "6001", "pw", 1, nullptr, nullptr);
        ASSERT_NE(session_, 0u);
        ASSERT_NE(spot_, nullptr);
        spot_->RegisterSpi(&spi_);
        info_ = *_gArrSessionInfo.Get(session_);
    }
    void TearDown() override {
        SPOT::SetContinuePageLimit(SPOT::kDefaultContinuePageLimit);
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        sim_.stop();
    }
    void Feed(uint32_t id, const Msg& m) { FeedBytes(id, m, m.size(), 1); }
    // Frames of msg_id the sim holds once the last callback of a page was made; the wait
    // inside the callback proves the request left before it.
    void ExpectSentBeforeLastCall(uint32_t req_id, size_t nth) {
        spi_.on_call = [this, req_id, nth](const Call& c) {
            if (spi_.calls.size() % 200 == 0 && !c.last)
                sent_before_last_ = sim_.wait_for_frame(req_id, 2000ms, nth).has_value();
        };
    }

    TraderImpl* api_ = nullptr;
    SpotTraderImpl* spot_ = nullptr;
    oxa_test::GatewaySim sim_;
    Spi spi_;
    uint64_t session_ = 0;
    tagSessionInfo info_{};
    bool sent_before_last_ = false;
};

TEST_F(SpotContinueTest, BasketAsksForTheNextPageFromLastPlusOne) {
    ExpectSentBeforeLastCall(SPOT::kMsgQueryETFBasketReq, 0);
    Feed(SPOT::kMsgQueryETFBasketRsp, BasketPage(kSimSessionNo, 200, 200, 200, 0));
    ASSERT_EQ(spi_.calls.size(), 200u);
    EXPECT_TRUE(sent_before_last_);
    EXPECT_EQ(spi_.LastCount(), 0u);
    EXPECT_EQ(spi_.calls.back().session, session_);
    const auto f = sim_.wait_for_frame(SPOT::kMsgQueryETFBasketReq, 2000ms, 0);
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->body.size(), 57u);
    EXPECT_EQ(static_cast<uint32_t>(f->request_id), 0x31u);
    EXPECT_EQ(oxa_test::Le64(f->body, 0), kSimSessionNo);
    EXPECT_EQ(oxa_test::Le64(f->body, 8), 0x6600000031ull);
    EXPECT_EQ(oxa_test::Le64(f->body, 16), kFundAcc);
    EXPECT_EQ(f->body[24], 5);
    EXPECT_EQ(oxa_test::Le32(f->body, 32), 200u);
    EXPECT_EQ(oxa_test::Le32(f->body, 36), 200u);  // last index 199 + 1
    EXPECT_EQ(f->body[40], '0');
    EXPECT_EQ(std::string(f->body.begin() + 48, f->body.begin() + 54), "510050");
    EXPECT_EQ(f->body[56], '1');

    // the next page advances and is partial: the query ends there
    spi_.calls.clear();
    spi_.on_call = nullptr;
    Feed(SPOT::kMsgQueryETFBasketRsp, BasketPage(kSimSessionNo, 200, 20, 20, 200));
    ASSERT_EQ(spi_.calls.size(), 20u);
    EXPECT_EQ(spi_.LastCount(), 1u);
    EXPECT_TRUE(spi_.calls.back().last);
}

TEST_F(SpotContinueTest, ServerThatIgnoresTheStartPositionEndsTheQuery) {
    Feed(SPOT::kMsgQueryETFBasketRsp, BasketPage(kSimSessionNo, 200, 200, 200, 0));
    ASSERT_TRUE(sim_.wait_for_frame(SPOT::kMsgQueryETFBasketReq, 2000ms, 0).has_value());
    spi_.calls.clear();
    // the same page again: asking from 200 once more would never end; the query says it ended
    // before its last record
    Feed(SPOT::kMsgQueryETFBasketRsp, BasketPage(kSimSessionNo, 200, 200, 200, 0));
    ASSERT_EQ(spi_.calls.size(), 201u);
    EXPECT_EQ(spi_.LastCount(), 1u);
    EXPECT_TRUE(spi_.calls.back().last);
    EXPECT_FALSE(spi_.calls.back().has_record);
    EXPECT_EQ(spi_.calls.back().error_id, OXA::API::kErrQueryEndedEarly);
    // a marker request shows nothing else went out before it
    ASSERT_EQ(api_->QueryAsset(session_, 1), 0);
    ASSERT_TRUE(sim_.wait_for_frame(0x1a5, 2000ms, 0).has_value());
    EXPECT_EQ(sim_.count(SPOT::kMsgQueryETFBasketReq), 1u);
}

TEST_F(SpotContinueTest, IPOListGoesOnForABoundedNumberOfPages) {
    SPOT::SetContinuePageLimit(2);
    ExpectSentBeforeLastCall(SPOT::kMsgQueryIPOInfoListReq, 0);
    Feed(SPOT::kMsgQueryIPOInfoListRsp, IpoPage(kSimSessionNo, 0, 200, 200, 200, 0));
    EXPECT_TRUE(sent_before_last_);
    const auto f = sim_.wait_for_frame(SPOT::kMsgQueryIPOInfoListReq, 2000ms, 0);
    ASSERT_TRUE(f.has_value());
    ASSERT_EQ(f->body.size(), 48u);
    EXPECT_EQ(static_cast<uint32_t>(f->request_id), 0x41u);
    EXPECT_EQ(oxa_test::Le64(f->body, 0), info_.nSessionID);
    EXPECT_EQ(oxa_test::Le64(f->body, 8), 0x7700000041ull);
    EXPECT_EQ(oxa_test::Le64(f->body, 16), info_.nFundAcc);
    EXPECT_EQ(f->body[24], static_cast<uint8_t>(info_.nClientID));
    EXPECT_EQ(oxa_test::Le32(f->body, 32), 200u);
    EXPECT_EQ(oxa_test::Le32(f->body, 36), 200u);
    EXPECT_EQ(f->body[40], '0');
    for (size_t i = 41; i < 48; ++i) EXPECT_EQ(f->body[i], 0) << i;

    sent_before_last_ = false;
    ExpectSentBeforeLastCall(SPOT::kMsgQueryIPOInfoListReq, 1);
    Feed(SPOT::kMsgQueryIPOInfoListRsp, IpoPage(kSimSessionNo, 0, 200, 200, 200, 200));
    EXPECT_TRUE(sent_before_last_);
    const auto g = sim_.wait_for_frame(SPOT::kMsgQueryIPOInfoListReq, 2000ms, 1);
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(oxa_test::Le32(g->body, 36), 400u);
    EXPECT_EQ(spi_.LastCount(), 0u);

    // the third full page is over the limit: it ends the query
    spi_.calls.clear();
    spi_.on_call = nullptr;
    Feed(SPOT::kMsgQueryIPOInfoListRsp, IpoPage(kSimSessionNo, 0, 200, 200, 200, 400));
    EXPECT_EQ(spi_.LastCount(), 1u);
    EXPECT_TRUE(spi_.calls.back().last);
    EXPECT_EQ(spi_.calls.back().error_id, OXA::API::kErrQueryEndedEarly);
    ASSERT_EQ(api_->QueryAsset(session_, 1), 0);
    ASSERT_TRUE(sim_.wait_for_frame(0x1a5, 2000ms, 0).has_value());
    EXPECT_EQ(sim_.count(SPOT::kMsgQueryIPOInfoListReq), 2u);
}

}  // namespace
