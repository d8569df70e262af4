#include "core/spot_api/SpotRequestPack.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/SessionTables.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::SPOT;

using Bytes = std::vector<uint8_t>;

// Host-order bytes of a scalar, as the wire carries it.
template <typename T>
Bytes B(T v) {
    Bytes out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}
Bytes C(char c) { return Bytes{static_cast<uint8_t>(c)}; }
Bytes Txt(const char* s) { return Bytes(s, s + std::strlen(s)); }
const Bytes kAllOnes{0xff, 0xff, 0xff, 0xff};

std::string Hex(const uint8_t* p, std::size_t n) {
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof(b), "%02x", p[i]);
        out += b;
        out += (i % 8 == 7) ? "|" : " ";
    }
    return out;
}

// Sends the default logger to a string for the fixture's lifetime.
class CapturedLog {
public:
    CapturedLog() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
        auto logger = std::make_shared<spdlog::logger>("spot_request_pack_test", sink);
        logger->set_pattern("%l %v");
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~CapturedLog() { spdlog::set_default_logger(previous_); }
    std::string Text() {
        spdlog::default_logger()->flush();
        return out_.str();
    }
    void Clear() { out_.str(""); }

private:
    std::shared_ptr<spdlog::logger> previous_;
    std::ostringstream out_;
};

template <std::size_t N>
void Put(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::min(std::strlen(text), N));  // may fill the field without a NUL
}

// Session values: node 10, fund index 0x103, TCP, record client id 9, generator client id 7.
constexpr uint64_t kSessionId = 0x0A0103;
constexpr uint64_t kSessionNo = 0x11223344;
constexpr uint64_t kFund = 10000123456ULL;
constexpr uint16_t kFundIndex = 0x103;
constexpr uint8_t kGenClient = 7;
constexpr uint8_t kRecordClient = 9;
constexpr int32_t kReqId = 77;

PackSession Session(uint16_t protocol) {
    PackSession s;
    s.session_no = kSessionNo;
    s.fund_account = kFund;
    s.fund_index = kFundIndex;
    s.protocol_type = protocol;
    s.session_client_id = kRecordClient;
    s.client_id = kGenClient;
    s.session_id = kSessionId;
    return s;
}
const PackSession kTcp = Session(1);
const PackSession kBus = Session(2);

constexpr uint64_t Id(uint8_t client, uint32_t seq) { return kSessionId << 40 | uint64_t(client) << 32 | seq; }

// Inputs. Fields the wire does not carry hold junk, so a stray copy of them shows.
OrderInsertInfo MakeOrder() {
    OrderInsertInfo o;
    std::memset(&o, 0xA5, sizeof(o));
    o.order_client_id = 0x55667788;
    Put(o.ticker, "600000");
    o.market = 1;
    o.price = 10.25;
    o.quantity = 300;
    o.price_type = 1;
    o.side = 7;
    o.order_source = 0;
    o.business_type = 3;
    o.field_65 = 0x5A;
    return o;
}
const OrderInsertInfo kOrder = MakeOrder();

OrderInsertInfo MakeOrderJ() {
    OrderInsertInfo o = MakeOrder();
    Put(o.ticker, "12345678");  // fills the wire field exactly
    o.market = 5;
    o.price_type = 10;
    o.side = 2;
    o.order_source = 'J';
    o.business_type = 16;
    return o;
}
const OrderInsertInfo kOrderJ = MakeOrderJ();

OrderInsertInfo MakeOrderUnknownPriceType() {
    OrderInsertInfo o = MakeOrder();
    o.price_type = 11;
    o.order_source = 'X';
    return o;
}
const OrderInsertInfo kOrderUnknownPriceType = MakeOrderUnknownPriceType();

FundTransferInfo MakeTransfer() {
    FundTransferInfo t;
    std::memset(&t, 0xA5, sizeof(t));
    t.amount = 5000.5;
    t.transfer_type = 1;
    return t;
}
const FundTransferInfo kTransfer = MakeTransfer();

OrderQueryParam MakeOrderQuery(const char* ticker) {
    OrderQueryParam q;
    std::memset(&q, 0, sizeof(q));
    Put(q.ticker, ticker);
    q.begin_time = 1;
    q.end_time = 2;
    return q;
}
const OrderQueryParam kOrderQuery = MakeOrderQuery("600000");

TradeQueryParam MakeTradeQuery(const char* ticker) {
    TradeQueryParam q;
    std::memset(&q, 0, sizeof(q));
    Put(q.ticker, ticker);
    return q;
}
const TradeQueryParam kTradeQuery = MakeTradeQuery("000001");

const PageQueryParam kPage{50, 0x100000002LL, 9};
const FundTransferQueryParam kTransferQueryAll{0};
const FundTransferQueryParam kTransferQueryOne{Id(5, 9)};

ETFQueryParam MakeEtf(const char* ticker, int32_t market) {
    ETFQueryParam q;
    std::memset(&q, 0, sizeof(q));
    q.market = market;
    Put(q.ticker, ticker);
    return q;
}
const ETFQueryParam kEtf = MakeEtf("510050", 2);

TickerQueryParam MakeTickerQuery(const char* ticker, int32_t market) {
    TickerQueryParam q;
    std::memset(&q, 0, sizeof(q));
    Put(q.ticker, ticker);
    q.market = market;
    return q;
}
const TickerQueryParam kSecurity = MakeTickerQuery("600000", 1);

OtherServerFundQueryParam MakeOtherFund(const char* account, int32_t type) {
    OtherServerFundQueryParam q;
    std::memset(&q, 0, sizeof(q));
    Put(q.fund_account, account);
    q.query_type = type;
    return q;
}
const OtherServerFundQueryParam kOtherFund = MakeOtherFund("10000123456", 1);

const HKConnectSpreadQueryParam kSpread{0x106};  // low byte 6

PackRequest Req(PackOp op, int32_t request_id = kReqId) {
    PackRequest r;
    r.op = op;
    r.request_id = request_id;
    return r;
}

using Placed = std::vector<std::pair<std::size_t, Bytes>>;

// The classic head: session number, request id, fund account, fund index.
Placed Head(int32_t request_id = kReqId) {
    return {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(request_id)}, {12, B<uint64_t>(kFund)},
            {20, B<uint32_t>(kFundIndex)}};
}
Placed Head12() { return {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(kReqId)}}; }
Placed ExtHead(uint8_t client) {
    return {{0, B<uint64_t>(kSessionNo)}, {8, B<int64_t>(kReqId)}, {16, B<uint64_t>(kFund)}, {24, B<uint8_t>(client)}};
}
Placed Paged() {
    return {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(kReqId)}, {12, B<int64_t>(50)},
            {20, B<int64_t>(0x100000002LL)}, {28, B<int64_t>(9)}, {36, B<uint64_t>(kFund)}};
}
Placed operator+(Placed a, const Placed& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Golden {
    const char* name;
    std::function<PackRequest()> make;
    PackSession session;
    uint32_t msg_id;
    uint32_t length;
    PackPath path;
    Placed bytes;  // every other byte of the body is zero
};

std::vector<Golden> GoldenTable() {
    const PackPath O = PackPath::Order, Q = PackPath::Query;
    return {
        {"insert, tcp source, side 7 and business 3",
         [] {
             auto r = Req(PackOp::InsertOrder);
             r.order = &kOrder;
             r.new_id = Id(kGenClient, 100);
             return r;
         },
         kTcp, 0x111, 65, O,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<uint64_t>(kFund)}, {12, B<int64_t>(300)}, {20, B<double>(10.25)},
          {28, B<uint32_t>(kFundIndex)}, {32, C('1')}, {33, B<uint32_t>(100)}, {37, Txt("600000")},
          {45, B<uint32_t>(0x55667788)}, {49, B<uint8_t>(kGenClient)}, {52, B<uint8_t>(0x5A)},
          {53, B<uint64_t>(Id(kGenClient, 100))}, {61, C('1')}, {62, C('1')}, {63, C('2')}, {64, C('4')}}},
        {"insert, source J kept, eight-character ticker fills its field",
         [] {
             auto r = Req(PackOp::InsertOrder);
             r.order = &kOrderJ;
             r.new_id = Id(kGenClient, 101);
             return r;
         },
         kBus, 0x111, 65, O,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<uint64_t>(kFund)}, {12, B<int64_t>(300)}, {20, B<double>(10.25)},
          {28, B<uint32_t>(kFundIndex)}, {32, C('J')}, {33, B<uint32_t>(101)}, {37, Txt("12345678")},
          {45, B<uint32_t>(0x55667788)}, {49, B<uint8_t>(kGenClient)}, {52, B<uint8_t>(0x5A)},
          {53, B<uint64_t>(Id(kGenClient, 101))}, {61, C('5')}, {62, C('2')}, {63, C('A')}, {64, C('5')}}},
        {"insert, bus source for another character, unknown price type packs 0",
         [] {
             auto r = Req(PackOp::InsertOrder);
             r.order = &kOrderUnknownPriceType;
             r.new_id = Id(kGenClient, 102);
             return r;
         },
         kBus, 0x111, 65, O,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<uint64_t>(kFund)}, {12, B<int64_t>(300)}, {20, B<double>(10.25)},
          {28, B<uint32_t>(kFundIndex)}, {32, C('2')}, {33, B<uint32_t>(102)}, {37, Txt("600000")},
          {45, B<uint32_t>(0x55667788)}, {49, B<uint8_t>(kGenClient)}, {52, B<uint8_t>(0x5A)},
          {53, B<uint64_t>(Id(kGenClient, 102))}, {61, C('1')}, {62, C('1')}, {64, C('4')}}},
        {"cancel",
         [] {
             auto r = Req(PackOp::CancelOrder);
             r.new_id = Id(kGenClient, 103);
             r.target_id = Id(3, 7);
             return r;
         },
         kBus, 0x112, 67, O,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<uint64_t>(kFund)}, {12, B<uint32_t>(kFundIndex)}, {16, C('2')},
          {17, B<uint32_t>(103)}, {21, C('2')}, {22, B<uint32_t>(3)}, {26, B<uint32_t>(7)}, {50, C('1')},
          {55, B<uint8_t>(kGenClient)}, {59, B<uint64_t>(Id(kGenClient, 103))}}},
        {"fund transfer",
         [] {
             auto r = Req(PackOp::FundTransfer);
             r.transfer = &kTransfer;
             r.new_id = Id(kGenClient, 104);
             r.time_hhmmss = 93015;
             return r;
         },
         kTcp, 0x113, 99, O,
         {{0, B<uint64_t>(104)}, {8, C('0')}, {41, B<uint64_t>(kFund)}, {49, B<double>(5000.5)},
          {57, B<uint32_t>(kFundIndex)}, {61, C('0')}, {65, C('1')}, {70, B<int32_t>(93015)},
          {74, B<uint32_t>(kSessionNo)}, {78, B<uint32_t>(10)}, {82, B<uint8_t>(kGenClient)},
          {87, B<uint8_t>(kGenClient)}, {91, B<uint64_t>(Id(kGenClient, 104))}}},
        {"order by id, negative request id sign-extended",
         [] {
             auto r = Req(PackOp::QueryOrderByOXAID, -2);
             r.target_id = Id(3, 7);
             return r;
         },
         kTcp, 0x11b, 51, Q, Head(-2) + Placed{{24, B<uint32_t>(7)}, {46, C('2')}, {47, B<uint32_t>(3)}}},
        {"orders of a six-character ticker, all clients",
         [] {
             auto r = Req(PackOp::QueryOrders);
             r.order_query = &kOrderQuery;
             return r;
         },
         kTcp, 0x11b, 51, Q, Head() + Placed{{36, Txt("600000")}, {46, C('2')}, {47, kAllOnes}}},
        {"orders without a record: all tickers", [] { return Req(PackOp::QueryOrders); }, kTcp, 0x11b, 51, Q,
         Head() + Placed{{46, C('2')}, {47, kAllOnes}}},
        {"unfinished orders", [] { return Req(PackOp::QueryUnfinishedOrders); }, kTcp, 0x11b, 51, Q,
         Head() + Placed{{46, C('0')}, {47, kAllOnes}}},
        {"orders by page",
         [] {
             auto r = Req(PackOp::QueryOrdersByPage);
             r.page = &kPage;
             return r;
         },
         kTcp, 0x1a9, 44, Q, Paged()},
        {"trades by id",
         [] {
             auto r = Req(PackOp::QueryTradesByOXAID);
             r.target_id = Id(3, 7);
             return r;
         },
         kTcp, 0x11c, 50, Q, Head() + Placed{{24, B<uint32_t>(7)}, {46, B<uint32_t>(3)}}},
        {"trades of a ticker",
         [] {
             auto r = Req(PackOp::QueryTrades);
             r.trade_query = &kTradeQuery;
             return r;
         },
         kTcp, 0x11c, 50, Q, Head() + Placed{{36, Txt("000001")}, {46, kAllOnes}}},
        {"trades without a record", [] { return Req(PackOp::QueryTrades); }, kTcp, 0x11c, 50, Q,
         Head() + Placed{{46, kAllOnes}}},
        {"trades by page",
         [] {
             auto r = Req(PackOp::QueryTradesByPage);
             r.page = &kPage;
             return r;
         },
         kTcp, 0x1aa, 44, Q, Paged()},
        {"position of a ticker",
         [] {
             auto r = Req(PackOp::QueryPosition);
             r.ticker = "600000";
             r.market = 2;
             return r;
         },
         kTcp, 0x114, 34, Q,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(kReqId)}, {12, B<uint64_t>(kFund)}, {20, C('2')},
          {21, Txt("600000")}, {29, B<uint32_t>(kFundIndex)}, {33, C('2')}}},
        {"position without a ticker",
         [] {
             auto r = Req(PackOp::QueryPosition);
             r.market = 1;
             return r;
         },
         kTcp, 0x114, 34, Q,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(kReqId)}, {12, B<uint64_t>(kFund)}, {20, C('1')},
          {29, B<uint32_t>(kFundIndex)}, {33, C('2')}}},
        {"positions by page",
         [] {
             auto r = Req(PackOp::QueryPositionByPage);
             r.page = &kPage;
             return r;
         },
         kTcp, 0x1a8, 44, Q, Paged()},
        {"asset", [] { return Req(PackOp::QueryAsset); }, kTcp, 0x1a5, 29, Q, Head() + Placed{{28, C('2')}}},
        {"fund", [] { return Req(PackOp::QueryFund); }, kTcp, 0x115, 25, Q, Head() + Placed{{24, C('2')}}},
        {"fund transfers, serial 0: all",
         [] {
             auto r = Req(PackOp::QueryFundTransfer);
             r.transfer_query = &kTransferQueryAll;
             return r;
         },
         kTcp, 0x11d, 37, Q, Head() + Placed{{33, kAllOnes}}},
        {"fund transfers without a record: all", [] { return Req(PackOp::QueryFundTransfer); }, kTcp, 0x11d, 37, Q,
         Head() + Placed{{33, kAllOnes}}},
        {"one fund transfer",
         [] {
             auto r = Req(PackOp::QueryFundTransfer);
             r.transfer_query = &kTransferQueryOne;
             return r;
         },
         kTcp, 0x11d, 37, Q, Head() + Placed{{24, B<uint32_t>(9)}, {33, B<uint32_t>(5)}}},
        {"etf base info",
         [] {
             auto r = Req(PackOp::QueryETFBaseInfo);
             r.etf_query = &kEtf;
             return r;
         },
         kTcp, 0x1b1, 21, Q, Head12() + Placed{{12, Txt("510050")}, {20, C('2')}}},
        {"etf basket, generator client id",
         [] {
             auto r = Req(PackOp::QueryETFTickerBasket);
             r.etf_query = &kEtf;
             return r;
         },
         kTcp, 0x20026, 57, Q,
         ExtHead(kGenClient) + Placed{{32, B<int32_t>(200)}, {40, C('0')}, {48, Txt("510050")}, {56, C('2')}}},
        {"ipo list, record client id", [] { return Req(PackOp::QueryIPOInfoList); }, kTcp, 0x20030, 48, Q,
         ExtHead(kRecordClient) + Placed{{32, B<int32_t>(200)}, {40, C('0')}}},
        {"ipo quota", [] { return Req(PackOp::QueryIPOQuotaInfo); }, kTcp, 0x116, 24, Q, Head()},
        {"other server fund",
         [] {
             auto r = Req(PackOp::QueryOtherServerFund);
             r.other_fund_query = &kOtherFund;
             return r;
         },
         kTcp, 0x1b2, 25, Q, Head() + Placed{{24, C('2')}}},
        {"issue list: head without fund index", [] { return Req(PackOp::QueryIssueInfoList); }, kTcp, 0x1a7, 20, Q,
         {{0, B<uint32_t>(kSessionNo)}, {4, B<int64_t>(kReqId)}, {12, B<uint64_t>(kFund)}}},
        {"security info",
         [] {
             auto r = Req(PackOp::QuerySecurityInfo);
             r.ticker_query = &kSecurity;
             return r;
         },
         kTcp, 0x118, 21, Q, Head12() + Placed{{12, Txt("600000")}, {20, C('1')}}},
        {"yesterday asset", [] { return Req(PackOp::QueryYesterdayAsset); }, kTcp, 0x1a5, 29, Q,
         Head() + Placed{{28, C('1')}}},
        {"etf by page: low 32 bits of the page fields",
         [] {
             auto r = Req(PackOp::QueryETFByPage);
             r.page = &kPage;
             return r;
         },
         kTcp, 0x20012, 57, Q,
         ExtHead(kGenClient) + Placed{{32, B<int32_t>(50)}, {36, B<int32_t>(2)}, {40, C('0')}}},
        {"securities by page",
         [] {
             auto r = Req(PackOp::QuerySecurityByPage);
             r.page = &kPage;
             return r;
         },
         kTcp, 0x20014, 57, Q,
         ExtHead(kGenClient) + Placed{{32, B<int32_t>(50)}, {36, B<int32_t>(2)}, {40, C('0')}}},
        {"hk connect exchange rate", [] { return Req(PackOp::QueryHKConnectIndicativeExchangeRateInfo); }, kTcp,
         0x20024, 32, Q, ExtHead(kRecordClient)},
        {"hk connect spread table, ticker type from its low byte",
         [] {
             auto r = Req(PackOp::QueryHKConnectSpreadTable);
             r.spread_query = &kSpread;
             return r;
         },
         kTcp, 0x20028, 33, Q, ExtHead(kRecordClient) + Placed{{32, C('2')}}},
    };
}

Bytes Expected(const Golden& g) {
    Bytes out(g.length, 0);
    std::vector<bool> used(g.length, false);
    for (const auto& p : g.bytes) {
        for (std::size_t i = 0; i < p.second.size(); ++i) {
            const std::size_t at = p.first + i;
            EXPECT_LT(at, g.length) << g.name << ": expected byte outside the message";
            if (at >= g.length) continue;
            EXPECT_FALSE(used[at]) << g.name << ": two expectations on byte " << at;
            used[at] = true;
            out[at] = p.second[i];
        }
    }
    return out;
}

constexpr std::size_t kBufSize = 128;
constexpr uint8_t kCanary = 0xCC;

TEST(SpotRequestPack, GoldenBodies) {
    CapturedLog log;
    for (const Golden& g : GoldenTable()) {
        SCOPED_TRACE(g.name);
        const PackRequest req = g.make();
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));

        const PackResult r = PackSpotRequest(req, g.session, buf, sizeof(buf));
        ASSERT_TRUE(r.ok()) << static_cast<int>(r.status);
        EXPECT_EQ(r.msg_id, g.msg_id);
        EXPECT_EQ(r.length, g.length);
        EXPECT_EQ(r.error_code, 0);

        const Bytes want = Expected(g);
        EXPECT_EQ(Hex(buf, g.length), Hex(want.data(), want.size()));
        for (std::size_t i = g.length; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary) << "written past the body at " << i;

        const PackInfo* info = PackInfoOf(req.op);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->msg_id, g.msg_id);
        EXPECT_EQ(info->length, g.length);
        EXPECT_EQ(info->path, g.path);
        EXPECT_EQ(info->ctrl_type, g.path == PackPath::Order ? 0 : 1);

        const PackResult check = PackCheckSpotRequest(req, g.session);
        EXPECT_TRUE(check.ok());
        EXPECT_EQ(check.msg_id, g.msg_id);
        EXPECT_EQ(check.length, g.length);
    }
}

TEST(SpotRequestPack, EveryOperationHasAGoldenRow) {
    std::vector<bool> seen(static_cast<std::size_t>(PackOp::Count), false);
    for (const Golden& g : GoldenTable()) seen[static_cast<std::size_t>(g.make().op)] = true;
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << "no golden row for operation " << i;
    EXPECT_EQ(PackInfoOf(PackOp::Count), nullptr);
}

TEST(SpotRequestPack, BufferTooSmallWritesNothing) {
    CapturedLog log;
    for (const Golden& g : GoldenTable()) {
        SCOPED_TRACE(g.name);
        const PackRequest req = g.make();
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));

        const PackResult r = PackSpotRequest(req, g.session, buf, g.length - 1);
        EXPECT_EQ(r.status, PackStatus::BufferTooSmall);
        EXPECT_EQ(r.error_code, 1009);
        EXPECT_EQ(r.msg_id, 0u);
        EXPECT_EQ(r.length, 0u);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary) << "byte " << i << " written";

        EXPECT_EQ(PackSpotRequest(req, g.session, nullptr, kBufSize).status, PackStatus::BufferTooSmall);
        EXPECT_TRUE(PackSpotRequest(req, g.session, buf, g.length).ok()) << "the exact length is enough";
    }
    EXPECT_NE(log.Text().find("error [InsertOrder] buffer of 64 bytes is below the 65 of message 0x111"),
              std::string::npos)
        << log.Text();
}

// Every ticker field, given a text one character longer than its 8-byte field.
struct LongTicker {
    const char* name;
    std::function<PackRequest()> make;
};

const OrderInsertInfo kLongOrder = [] {
    OrderInsertInfo o = MakeOrder();
    Put(o.ticker, "123456789");
    return o;
}();
const OrderQueryParam kLongOrderQuery = MakeOrderQuery("123456789");
const OrderQueryParam kUnterminatedOrderQuery = MakeOrderQuery("1234567890123456");  // no NUL in the field
const TradeQueryParam kLongTradeQuery = MakeTradeQuery("123456789");
const ETFQueryParam kLongEtf = MakeEtf("123456789", 1);
const TickerQueryParam kLongSecurity = MakeTickerQuery("123456789", 1);

TEST(SpotRequestPack, TickerLongerThanItsFieldIsRefused) {
    const std::vector<LongTicker> rows = {
        {"insert",
         [] {
             auto r = Req(PackOp::InsertOrder);
             r.order = &kLongOrder;
             r.new_id = Id(kGenClient, 1);
             return r;
         }},
        {"orders",
         [] {
             auto r = Req(PackOp::QueryOrders);
             r.order_query = &kLongOrderQuery;
             return r;
         }},
        {"orders, ticker filling the record without a NUL",
         [] {
             auto r = Req(PackOp::QueryOrders);
             r.order_query = &kUnterminatedOrderQuery;
             return r;
         }},
        {"trades",
         [] {
             auto r = Req(PackOp::QueryTrades);
             r.trade_query = &kLongTradeQuery;
             return r;
         }},
        {"position",
         [] {
             auto r = Req(PackOp::QueryPosition);
             r.ticker = "123456789012345678901234";
             r.market = 1;
             return r;
         }},
        {"etf base info",
         [] {
             auto r = Req(PackOp::QueryETFBaseInfo);
             r.etf_query = &kLongEtf;
             return r;
         }},
        {"etf basket",
         [] {
             auto r = Req(PackOp::QueryETFTickerBasket);
             r.etf_query = &kLongEtf;
             return r;
         }},
        {"security info",
         [] {
             auto r = Req(PackOp::QuerySecurityInfo);
             r.ticker_query = &kLongSecurity;
             return r;
         }},
    };
    for (const LongTicker& row : rows) {
        SCOPED_TRACE(row.name);
        CapturedLog log;
        const PackRequest req = row.make();
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));

        const PackResult r = PackSpotRequest(req, kTcp, buf, sizeof(buf));
        EXPECT_EQ(r.status, PackStatus::TickerTooLong);
        EXPECT_EQ(r.error_code, 1009);
        ASSERT_NE(r.error_text, nullptr);
        EXPECT_STREQ(r.error_text, "输入参数格式校验错误");
        EXPECT_EQ(r.msg_id, 0u);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary) << "byte " << i << " written";
        EXPECT_EQ(PackCheckSpotRequest(req, kTcp).status, PackStatus::TickerTooLong);

        const std::string text = log.Text();
        EXPECT_NE(text.find("ticker longer than 8 characters, request refused"), std::string::npos) << text;
        EXPECT_EQ(text.find("Unknown"), std::string::npos) << "nothing encoded for a refused request: " << text;
    }
}

TEST(SpotRequestPack, MissingRequiredRecordIsRefused) {
    struct Row {
        PackOp op;
        PackStatus status;
        int32_t code;
        const char* log;
    };
    const Row rows[] = {
        {PackOp::InsertOrder, PackStatus::RecordMissing, 1009, "error OrderInsertInfo == nullptr !"},
        {PackOp::FundTransfer, PackStatus::RecordMissing, 1009, "error fund_transfer == nullptr !"},
        {PackOp::QueryOrdersByPage, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryTradesByPage, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryPositionByPage, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryETFByPage, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QuerySecurityByPage, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryETFBaseInfo, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryETFTickerBasket, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QuerySecurityInfo, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryHKConnectSpreadTable, PackStatus::RecordMissing, 1009, "== nullptr"},
        {PackOp::QueryOtherServerFund, PackStatus::AccountMismatch, 6066,
         "error [Query Other Server Fund] Query Param Fund Account Check Error."},
        {PackOp::Count, PackStatus::UnknownOperation, 1009, "unknown spot request"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.op));
        CapturedLog log;
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));
        const PackResult r = PackSpotRequest(Req(row.op), kTcp, buf, sizeof(buf));
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.error_code, row.code);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary);
        EXPECT_NE(log.Text().find(row.log), std::string::npos) << log.Text();
    }
}

TEST(SpotRequestPack, OtherServerFundChecksAccountThenQueryType) {
    struct Row {
        const char* name;
        OtherServerFundQueryParam query;
        PackStatus status;
        int32_t code;
        const char* text;
        const char* log;
    };
    const Row rows[] = {
        {"another account", MakeOtherFund("10000123457", 1), PackStatus::AccountMismatch, 6066,
         "[查询]资金账户不匹配", "[Query Other Server Fund] Query Param Fund Account Check Error."},
        {"empty account text", MakeOtherFund("", 1), PackStatus::AccountMismatch, 6066, "[查询]资金账户不匹配",
         "Fund Account Check Error."},
        {"account checked before the type", MakeOtherFund("1", 2), PackStatus::AccountMismatch, 6066,
         "[查询]资金账户不匹配", "Fund Account Check Error."},
        {"query type 2", MakeOtherFund("10000123456", 2), PackStatus::QueryTypeNotServed, 6077, "暂不支持该项业务",
         "[Query Other Server Fund] Query Param Query Type Check Error."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CapturedLog log;
        auto req = Req(PackOp::QueryOtherServerFund);
        req.other_fund_query = &row.query;
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));
        const PackResult r = PackSpotRequest(req, kTcp, buf, sizeof(buf));
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.error_code, row.code);
        ASSERT_NE(r.error_text, nullptr);
        EXPECT_STREQ(r.error_text, row.text);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary);
        EXPECT_NE(log.Text().find(row.log), std::string::npos) << log.Text();
    }
}

TEST(SpotRequestPack, SecurityInfoWithoutTickerIsRefusedWithoutCode) {
    CapturedLog log;
    const TickerQueryParam empty = MakeTickerQuery("", 1);
    auto req = Req(PackOp::QuerySecurityInfo);
    req.ticker_query = &empty;
    uint8_t buf[kBufSize];
    std::memset(buf, kCanary, sizeof(buf));
    const PackResult r = PackSpotRequest(req, kTcp, buf, sizeof(buf));
    EXPECT_EQ(r.status, PackStatus::TickerEmpty);
    EXPECT_EQ(r.error_code, 0);
    EXPECT_EQ(r.error_text, nullptr);
    for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary);
    EXPECT_NE(log.Text().find("error ticker can not be empty !"), std::string::npos) << log.Text();
}

TEST(SpotRequestPack, UnknownCodeAndMissingTickersAreLoggedOnceWhenPacked) {
    CapturedLog log;
    uint8_t buf[kBufSize];

    auto insert = Req(PackOp::InsertOrder);
    insert.order = &kOrderUnknownPriceType;
    ASSERT_TRUE(PackCheckSpotRequest(insert, kTcp).ok());
    EXPECT_EQ(log.Text(), "") << "the check alone encodes nothing";
    ASSERT_TRUE(PackSpotRequest(insert, kTcp, buf, sizeof(buf)).ok());
    const std::string text = log.Text();
    const std::regex unknown(
        "info \\[trader_api/core/spot_api/SpotTraderApi [0-9]+\\]Unknown Ord_Type:11 operation\\[\\] order_oxa_id\\[0\\]\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), unknown), std::sregex_iterator()), 1)
        << text;
    EXPECT_EQ(text.find("Unknown", text.find("Unknown") + 1), std::string::npos) << text;

    log.Clear();
    ASSERT_TRUE(PackSpotRequest(Req(PackOp::QueryOrders), kTcp, buf, sizeof(buf)).ok());
    ASSERT_TRUE(PackSpotRequest(Req(PackOp::QueryTrades), kTcp, buf, sizeof(buf)).ok());
    ASSERT_TRUE(PackSpotRequest(Req(PackOp::QueryPosition), kTcp, buf, sizeof(buf)).ok());
    // QueryPosition's market argument 0 has no code; its field comes before the ticker's
    const std::regex lines(
        "trace query_param->ticker == nullptr\n"
        "trace query_param->ticker == nullptr\n"
        "info \\[trader_api/core/spot_api/SpotTraderApi [0-9]+\\]Unknown MARKET_TYPE:0 operation\\[\\] order_oxa_id\\[0\\]\n"
        "trace ticker == nullptr\n");
    EXPECT_TRUE(std::regex_match(log.Text(), lines)) << log.Text();
}

TEST(SpotRequestPack, SessionFromItsRecord) {
    tagSessionInfo info{};
    info.nSessionID = kSessionNo;
    info.nFundAcc = kFund;
    info.nClientID = 0x109;  // only the low byte travels
    info.nFundAccIndex = kFundIndex;
    info.nprotocol_type = 2;
    info.nLastOrderID = 5;
    info.nApiSessionID = kSessionId;
    const PackSession s = MakePackSession(info, kSessionId, kGenClient);
    EXPECT_EQ(s.session_no, kSessionNo);
    EXPECT_EQ(s.fund_account, kFund);
    EXPECT_EQ(s.fund_index, kFundIndex);
    EXPECT_EQ(s.protocol_type, 2);
    EXPECT_EQ(s.session_client_id, kRecordClient);
    EXPECT_EQ(s.client_id, kGenClient);
    EXPECT_EQ(s.session_id, kSessionId);
}

// ---------------------------------------------------------------------------------------
// Encoders

struct Encoding {
    const char* name;
    char (*encode)(int32_t);
    int32_t value;
    char code;  // 0: unknown, logged
};

TEST(SpotRequestPack, EncodersWithTheirFallbacks) {
    const Encoding rows[] = {
        {"MARKET_TYPE", EncodeMarketType, 1, '1'},
        {"MARKET_TYPE", EncodeMarketType, 2, '2'},
        {"MARKET_TYPE", EncodeMarketType, 3, '3'},
        {"MARKET_TYPE", EncodeMarketType, 4, '4'},
        {"MARKET_TYPE", EncodeMarketType, 5, '5'},
        {"MARKET_TYPE", EncodeMarketType, 0, 0},
        {"MARKET_TYPE", EncodeMarketType, 99, 0},
        {"MARKET_TYPE", EncodeMarketType, 0x101, 0},  // the whole value counts
        {"Ord_Type", EncodeOrdType, 1, '2'},
        {"Ord_Type", EncodeOrdType, 2, '6'},
        {"Ord_Type", EncodeOrdType, 3, '4'},
        {"Ord_Type", EncodeOrdType, 4, '1'},
        {"Ord_Type", EncodeOrdType, 5, '7'},
        {"Ord_Type", EncodeOrdType, 6, '3'},
        {"Ord_Type", EncodeOrdType, 7, '5'},
        {"Ord_Type", EncodeOrdType, 8, '8'},
        {"Ord_Type", EncodeOrdType, 9, '9'},
        {"Ord_Type", EncodeOrdType, 10, 'A'},
        {"Ord_Type", EncodeOrdType, 11, 0},
        {"Ord_Type", EncodeOrdType, 0, 0},
        {"SIDE_TYPE", EncodeSideType, 1, '1'},
        {"SIDE_TYPE", EncodeSideType, 7, '1'},
        {"SIDE_TYPE", EncodeSideType, 2, '2'},
        {"SIDE_TYPE", EncodeSideType, 8, '2'},
        {"SIDE_TYPE", EncodeSideType, 0x107, '1'},  // low byte
        {"SIDE_TYPE", EncodeSideType, 3, 0},
        {"SIDE_TYPE", EncodeSideType, 11, 0},
        {"BusinessType", EncodeBusinessType, 0, '1'},
        {"BusinessType", EncodeBusinessType, 1, '3'},
        {"BusinessType", EncodeBusinessType, 2, '2'},
        {"BusinessType", EncodeBusinessType, 3, '4'},
        {"BusinessType", EncodeBusinessType, 6, 'C'},
        {"BusinessType", EncodeBusinessType, 14, 'B'},
        {"BusinessType", EncodeBusinessType, 16, '5'},
        {"BusinessType", EncodeBusinessType, 0x203, '4'},  // low byte
        {"BusinessType", EncodeBusinessType, 4, 0},
        {"BusinessType", EncodeBusinessType, 10, 0},
        {"TICKER_TYPE", EncodeTickerType, 0, '1'},
        {"TICKER_TYPE", EncodeTickerType, 5, '1'},
        {"TICKER_TYPE", EncodeTickerType, 2, '3'},
        {"TICKER_TYPE", EncodeTickerType, 3, '2'},
        {"TICKER_TYPE", EncodeTickerType, 6, '2'},
        {"TICKER_TYPE", EncodeTickerType, 4, '4'},
        {"TICKER_TYPE", EncodeTickerType, 0x104, '4'},  // low byte
        {"TICKER_TYPE", EncodeTickerType, 1, 0},
        {"TICKER_TYPE", EncodeTickerType, 7, 0},
        {"FundTransferType", EncodeFundTransferType, 0, '2'},
        {"FundTransferType", EncodeFundTransferType, 1, '1'},
        {"FundTransferType", EncodeFundTransferType, 2, '6'},
        {"FundTransferType", EncodeFundTransferType, 3, '5'},
        {"FundTransferType", EncodeFundTransferType, 4, 0},
        {"FundTransferType", EncodeFundTransferType, -1, 0},
        {"OrderStatusType", EncodeOrderStatusType, 0, '0'},
        {"OrderStatusType", EncodeOrderStatusType, 1, '5'},
        {"OrderStatusType", EncodeOrderStatusType, 2, '3'},
        {"OrderStatusType", EncodeOrderStatusType, 3, '4'},
        {"OrderStatusType", EncodeOrderStatusType, 4, '2'},
        {"OrderStatusType", EncodeOrderStatusType, 5, '6'},
        {"OrderStatusType", EncodeOrderStatusType, 6, '7'},
        {"OrderStatusType", EncodeOrderStatusType, 7, 0},
        {"ExchangeType", EncodeExchangeType, 1, '2'},
        {"ExchangeType", EncodeExchangeType, 2, '1'},
        {"ExchangeType", EncodeExchangeType, 3, '3'},
        {"ExchangeType", EncodeExchangeType, 100, 0},
        {"ExchangeType", EncodeExchangeType, 0, 0},
    };
    for (const Encoding& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.value));
        CapturedLog log;
        EXPECT_EQ(row.encode(row.value), row.code);
        const std::string text = log.Text();
        if (row.code != 0) {
            EXPECT_EQ(text, "");
        } else {
            const std::regex line("info \\[trader_api/core/spot_api/SpotTraderApi [0-9]+\\]Unknown " +
                                  std::string(row.name) + ":" + std::to_string(row.value) +
                                  " operation\\[\\] order_oxa_id\\[0\\]\n");
            EXPECT_TRUE(std::regex_match(text, line)) << text;
        }
    }
}

TEST(SpotRequestPack, LowByteEncodersLogTheByteTheyRead) {
    CapturedLog log;
    EXPECT_EQ(EncodeSideType(0x10B), 0);
    EXPECT_NE(log.Text().find("]Unknown SIDE_TYPE:11 operation[] order_oxa_id[0]\n"), std::string::npos) << log.Text();
}

}  // namespace
