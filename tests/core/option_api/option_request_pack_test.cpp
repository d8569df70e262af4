#include "core/option_api/OptRequestPack.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "api/SessionTables.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::OPT;

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes B(T v) {
    Bytes out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}
Bytes C(char c) { return Bytes{static_cast<uint8_t>(c)}; }
Bytes Txt(const char* s) { return Bytes(s, s + std::strlen(s)); }

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

class CapturedLog {
public:
    CapturedLog() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
        auto logger = std::make_shared<spdlog::logger>("option_request_pack_test", sink);
        logger->set_pattern("%l %v");
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~CapturedLog() { spdlog::set_default_logger(previous_); }
    std::string Text() {
        spdlog::default_logger()->flush();
        return out_.str();
    }

private:
    std::shared_ptr<spdlog::logger> previous_;
    std::ostringstream out_;
};

// Fills the field with the text, without a terminator when the text fills it.
template <std::size_t N>
void Put(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::memcpy(field, text, std::min(std::strlen(text), N));
}

constexpr uint64_t kSessionNo = 0x1122334455667788ULL;  // all eight bytes travel
constexpr uint64_t kFund = 10000123456ULL;
constexpr uint16_t kFundIndex = 0x103;
constexpr int32_t kReqId = 77;
constexpr uint64_t kNewId = 0x0301030700000065ULL;
constexpr uint64_t kTarget = 0x0301030700000009ULL;
const char* const kTerm = "LIP=127.0.0.1;MAC=0A0B0C0D0E0F";

PackSession Session(uint16_t protocol) {
    PackSession s;
    s.session_no = kSessionNo;
    s.fund_account = kFund;
    s.fund_index = kFundIndex;
    s.protocol_type = protocol;
    s.terminal_info = kTerm;
    return s;
}
const PackSession kTcp = Session(1);
const PackSession kBus = Session(2);

// Inputs; fields the wire does not carry hold junk, so a stray copy of them shows.
OrderInsertInfo Order(uint8_t business, uint8_t side, uint8_t effect, int32_t price_type, const char* ticker) {
    OrderInsertInfo o;
    std::memset(&o, 0xA5, sizeof(o));
    o.order_client_id = 0x55667788;
    Put(o.ticker, ticker);
    o.market = 1;
    o.price = 0.5;
    o.quantity = 10;
    o.price_type = price_type;
    o.side = side;
    o.position_effect = effect;
    o.business_type = business;
    return o;
}
const OrderInsertInfo kCoveredOpen = Order(10, 11, 1, 1, "10000001ABC");
const OrderInsertInfo kCoveredClose = Order(10, 11, 2, 9, "10000002");
const OrderInsertInfo kSide12NoEffect = Order(10, 12, 0, 0x105, "10000003");
const OrderInsertInfo kLock = [] {
    OrderInsertInfo o = Order(12, 12, 1, 1, "5100501234");
    o.market = 2;
    return o;
}();

ExecuteOrderInsertInfo Execute(uint8_t business, const char* first, const char* second) {
    ExecuteOrderInsertInfo e;
    std::memset(&e, 0xA5, sizeof(e));
    e.order_client_id = 0x11;
    e.quantity = 3;
    e.business_type = business;
    e.market = 1;
    std::memset(e.ticker, 0, sizeof e.ticker);
    std::memcpy(e.ticker, first, std::strlen(first));
    if (second) std::memcpy(e.ticker + 16, second, std::strlen(second));
    return e;
}
const ExecuteOrderInsertInfo kExecute = Execute(11, "10000123", nullptr);
const ExecuteOrderInsertInfo kCombinedExecute = Execute(15, "10000123", "10000456XYZ");

OptionCombinedOrderInsertInfo Comb(int32_t legs) {
    OptionCombinedOrderInsertInfo c;
    std::memset(&c, 0xA5, sizeof(c));
    c.order_client_id = 0x22;
    c.market = 2;
    c.quantity = 4;
    c.side = 12;
    Put(c.strategy_id, "CNSJC");
    Put(c.comb_num, "COMB0000000000001");  // 17 characters: 16 go out
    c.num_legs = legs;
    const struct {
        const char* id;
        int32_t side, covered, qty;
    } l[4] = {{"10001", 1, 0, 1}, {"10002", 2, 1, -2}, {"1000300000", 3, 5, 3}, {"10004", 9, 0, 4}};
    for (int i = 0; i < 4; ++i) {
        Put(c.legs[i].leg_security_id, l[i].id);
        c.legs[i].leg_cntr_type = 1;
        c.legs[i].leg_side = l[i].side;
        c.legs[i].leg_covered = l[i].covered;
        c.legs[i].leg_qty = l[i].qty;
    }
    return c;
}
const OptionCombinedOrderInsertInfo kComb4 = Comb(4);
const OptionCombinedOrderInsertInfo kComb2 = Comb(2);
const OptionCombinedOrderInsertInfo kComb0 = Comb(0);

FundTransferInfo Transfer(int32_t type) {
    FundTransferInfo t;
    std::memset(&t, 0xA5, sizeof(t));
    t.amount = 5000.5;
    t.transfer_type = type;
    return t;
}
const FundTransferInfo kTransferIn = Transfer(2);
const FundTransferInfo kTransferOut = Transfer(3);
const FundTransferInfo kTransferOther = Transfer(1);

const OrderQueryParam kOrderQuery = [] {
    OrderQueryParam q;
    std::memset(&q, 0, sizeof q);
    Put(q.ticker, "1000000123");
    q.begin_time = 20261210093000000;
    q.end_time = 20261210150000000;
    return q;
}();
const TradeQueryParam kTradeQuery = [] {
    TradeQueryParam q;
    std::memset(&q, 0, sizeof q);
    Put(q.ticker, "ABCDEFGHIJKLMNOP");  // fills the field
    q.begin_time = 1;
    q.end_time = 2;
    return q;
}();
const PageQueryParam kPage{0x100000032LL, 0x200000007LL, 9};
const FundTransferQueryParam kTransferQuery{kTarget};
const OptionAuctionInfoQueryParam kAuction = [] {
    OptionAuctionInfoQueryParam q;
    std::memset(&q, 0xA5, sizeof q);
    q.market = 2;
    Put(q.ticker, "10000789XY");
    return q;
}();
const OptCombOrderQueryParam kCombQuery = [] {
    OptCombOrderQueryParam q;
    std::memset(&q, 0, sizeof q);
    Put(q.comb_num, "COMB000000000000299");
    q.field_18 = 0x0102030405060708LL;
    q.field_26 = -5;
    return q;
}();
const OptCombPositionQueryParam kCombPosition = [] {
    OptCombPositionQueryParam q;
    std::memset(&q, 0, sizeof q);
    Put(q.comb_num, "COMB7");
    q.market = 1;
    return q;
}();
const OptCombExecPositionQueryParam kCombExec = [] {
    OptCombExecPositionQueryParam q;
    std::memset(&q, 0, sizeof q);
    q.market = 2;
    Put(q.cntrt_code_1, "10000001234");
    Put(q.cntrt_code_2, "10000002");
    return q;
}();

PackRequest Req(PackOp op, int32_t request_id = kReqId) {
    PackRequest r;
    r.op = op;
    r.request_id = request_id;
    r.new_id = kNewId;
    return r;
}

using Placed = std::vector<std::pair<std::size_t, Bytes>>;
Placed operator+(Placed a, const Placed& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Placed OrderHead() { return {{0, B<uint64_t>(kSessionNo)}, {8, B<uint64_t>(kFund)}, {16, B<uint64_t>(kNewId)}}; }
Placed QueryHead(int64_t request_id = kReqId) { return {{0, B<uint64_t>(kSessionNo)}, {8, B<int64_t>(request_id)}}; }
// fund_acc_id at 25, fund_acc_idx at 41
Placed Account() { return {{25, B<uint64_t>(kFund)}, {41, B<int32_t>(kFundIndex)}}; }
Placed Paged() {
    return QueryHead() + Placed{{16, B<int32_t>(7)}, {20, B<int32_t>(0x32)}, {24, C('0')}} + Account();
}
Placed CombAccount() { return {{25, B<uint64_t>(kFund)}, {33, B<int32_t>(kFundIndex)}}; }
Placed Tail(std::size_t at, char protocol) { return {{at, C(protocol)}, {at + 1, C('P')}, {at + 2, Txt(kTerm)}}; }

struct Golden {
    const char* name;
    std::function<PackRequest()> make;
    PackSession session;
    uint32_t msg_id;
    uint32_t length;
    Placed bytes;  // every other byte of the body is zero
};

PackRequest With(PackOp op, std::function<void(PackRequest&)> set, int32_t request_id = kReqId) {
    PackRequest r = Req(op, request_id);
    set(r);
    return r;
}

std::vector<Golden> GoldenTable() {
    return {
        {"insert covered open: flag 1, side 2, effect O; ticker cut to 8",
         [] { return With(PackOp::InsertOrder, [](PackRequest& r) { r.order = &kCoveredOpen; }); }, kTcp, 0x402, 324,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x55667788)}, {32, Txt("10000001")}, {41, B<int32_t>(1)}, {45, B<double>(0.5)},
                    {53, B<int64_t>(10)}, {61, Txt("20")}, {63, C('1')}, {64, C('2')}, {65, C('O')}} +
             Tail(66, '1')},
        {"insert covered close on the bus: 1, 1, C; price type 9 sends two zero bytes",
         [] { return With(PackOp::InsertOrder, [](PackRequest& r) { r.order = &kCoveredClose; }); }, kBus, 0x402, 324,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x55667788)}, {32, Txt("10000002")}, {41, B<int32_t>(1)}, {45, B<double>(0.5)},
                    {53, B<int64_t>(10)}, {63, C('1')}, {64, C('1')}, {65, C('C')}} +
             Tail(66, '2')},
        {"insert side 12 without effect: Y and a zero byte; price type from its low byte",
         [] { return With(PackOp::InsertOrder, [](PackRequest& r) { r.order = &kSide12NoEffect; }); }, kTcp, 0x402,
         324,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x55667788)}, {32, Txt("10000003")}, {41, B<int32_t>(1)}, {45, B<double>(0.5)},
                    {53, B<int64_t>(10)}, {61, Txt("14")}, {63, C(' ')}, {64, C('Y')}} +
             Tail(66, '1')},
        {"lock: side 12 opening Z, ticker cut to 6",
         [] { return With(PackOp::LockOrder, [](PackRequest& r) { r.order = &kLock; }); }, kTcp, 0x404, 311,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x55667788)}, {32, B<int64_t>(10)}, {40, Txt("510050")}, {47, C('Z')},
                    {48, B<int32_t>(2)}} +
             Tail(53, '1')},
        {"cancel",
         [] { return With(PackOp::CancelOrder, [](PackRequest& r) { r.target_id = kTarget; }); }, kBus, 0x403, 311,
         OrderHead() + Placed{{36, B<uint64_t>(kTarget)}, {52, C('0')}} + Tail(53, '2')},
        {"exercise",
         [] { return With(PackOp::ExecuteOrder, [](PackRequest& r) { r.execute = &kExecute; }); }, kTcp, 0x406, 311,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x11)}, {32, B<int64_t>(3)}, {40, Txt("10000123")}, {49, B<int32_t>(1)}} +
             Tail(53, '1')},
        {"combined exercise: second security from bytes 16 to 31, cut to 8",
         [] { return With(PackOp::CombinedExecuteOrder, [](PackRequest& r) { r.execute = &kCombinedExecute; }); },
         kTcp, 0x407, 320,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x11)}, {32, B<int64_t>(3)}, {40, Txt("10000123")}, {49, Txt("10000456")},
                    {58, B<int32_t>(1)}} +
             Tail(62, '1')},
        {"combination, four legs",
         [] { return With(PackOp::CombOrder, [](PackRequest& r) { r.comb = &kComb4; }); }, kTcp, 0x405, 408,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x22)},
                    {32, B<int64_t>(4)},
                    {40, B<int32_t>(2)},
                    {44, C('Y')},
                    {45, Txt("CNSJC")},
                    {54, Txt("COMB000000000000")},
                    {71, B<int16_t>(4)},
                    {73, Txt("LSC ")},
                    {77, Txt(" 11 ")},
                    {81, B<int64_t>(1)},
                    {89, B<int64_t>(-2)},
                    {97, B<int64_t>(3)},
                    {105, B<int64_t>(4)},
                    {113, Txt("10001")},
                    {122, Txt("10002")},
                    {131, Txt("10003000")},
                    {140, Txt("10004")}} +
             Tail(150, '1')},
        {"combination, two legs: the other two carry nothing",
         [] { return With(PackOp::CombOrder, [](PackRequest& r) { r.comb = &kComb2; }); }, kTcp, 0x405, 408,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x22)}, {32, B<int64_t>(4)}, {40, B<int32_t>(2)}, {44, C('Y')},
                    {45, Txt("CNSJC")}, {54, Txt("COMB000000000000")}, {71, B<int16_t>(2)}, {73, Txt("LS")},
                    {77, Txt(" 1")}, {81, B<int64_t>(1)}, {89, B<int64_t>(-2)}, {113, Txt("10001")},
                    {122, Txt("10002")}} +
             Tail(150, '1')},
        {"combination, no legs",
         [] { return With(PackOp::CombOrder, [](PackRequest& r) { r.comb = &kComb0; }); }, kTcp, 0x405, 408,
         OrderHead() +
             Placed{{24, B<uint64_t>(0x22)}, {32, B<int64_t>(4)}, {40, B<int32_t>(2)}, {44, C('Y')},
                    {45, Txt("CNSJC")}, {54, Txt("COMB000000000000")}} +
             Tail(150, '1')},
        {"fund transfer in: side 2",
         [] { return With(PackOp::FundTransfer, [](PackRequest& r) { r.transfer = &kTransferIn; }); }, kTcp, 0x45b, 41,
         OrderHead() + Placed{{32, B<double>(5000.5)}, {40, C('2')}}},
        {"fund transfer out: side 1",
         [] { return With(PackOp::FundTransfer, [](PackRequest& r) { r.transfer = &kTransferOut; }); }, kTcp, 0x45b,
         41, OrderHead() + Placed{{32, B<double>(5000.5)}, {40, C('1')}}},
        {"fund transfer of type 1: side byte 0",
         [] { return With(PackOp::FundTransfer, [](PackRequest& r) { r.transfer = &kTransferOther; }); }, kTcp, 0x45b,
         41, OrderHead() + Placed{{32, B<double>(5000.5)}}},
        {"order by id, negative request id sign-extended",
         [] { return With(PackOp::QueryOrderByOXAID, [](PackRequest& r) { r.target_id = kTarget; }, -2); }, kTcp,
         0x41d, 206, QueryHead(-2) + Account() + Placed{{165, B<uint64_t>(kTarget)}}},
        {"orders of a ten-character ticker: eight in security_id, two in security_id2",
         [] { return With(PackOp::QueryOrders, [](PackRequest& r) { r.order_query = &kOrderQuery; }); }, kTcp, 0x41d,
         206,
         QueryHead() + Account() +
             Placed{{49, Txt("10000001")}, {173, Txt("23")}, {182, B<int64_t>(20261210093000000)},
                    {190, B<int64_t>(20261210150000000)}}},
        {"orders without a record", [] { return Req(PackOp::QueryOrders); }, kTcp, 0x41d, 206,
         QueryHead() + Account()},
        {"unfinished orders", [] { return Req(PackOp::QueryUnfinishedOrders); }, kTcp, 0x41d, 206,
         QueryHead() + Account() + Placed{{198, B<int32_t>(1)}}},
        {"orders by page: low 32 bits of reference and count",
         [] { return With(PackOp::QueryOrdersByPage, [](PackRequest& r) { r.page = &kPage; }); }, kTcp, 0x44d, 206,
         Paged()},
        {"trades by id",
         [] { return With(PackOp::QueryTradesByOXAID, [](PackRequest& r) { r.target_id = kTarget; }); }, kTcp, 0x41e,
         202, QueryHead() + Account() + Placed{{174, B<uint64_t>(kTarget)}}},
        {"trades of a ticker filling its record",
         [] { return With(PackOp::QueryTrades, [](PackRequest& r) { r.trade_query = &kTradeQuery; }); }, kTcp, 0x41e,
         202,
         QueryHead() + Account() + Placed{{49, Txt("ABCDEFGH")}, {182, B<int64_t>(1)}, {190, B<int64_t>(2)}}},
        {"trades without a record", [] { return Req(PackOp::QueryTrades); }, kTcp, 0x41e, 202,
         QueryHead() + Account()},
        {"trades by page",
         [] { return With(PackOp::QueryTradesByPage, [](PackRequest& r) { r.page = &kPage; }); }, kTcp, 0x44e, 202,
         Paged()},
        {"position of a ticker",
         [] {
             return With(PackOp::QueryPosition, [](PackRequest& r) {
                 r.ticker = "10000001XYZ";
                 r.market = 2;
             });
         },
         kTcp, 0x41f, 60, QueryHead() + Account() + Placed{{45, Txt("10000001")}, {54, B<int32_t>(2)}}},
        {"position without a ticker", [] { return Req(PackOp::QueryPosition); }, kTcp, 0x41f, 60,
         QueryHead() + Account()},
        {"positions by page",
         [] { return With(PackOp::QueryPositionByPage, [](PackRequest& r) { r.page = &kPage; }); }, kTcp, 0x450, 60,
         Paged()},
        {"asset", [] { return Req(PackOp::QueryAsset); }, kTcp, 0x40f, 28,
         QueryHead() + Placed{{16, B<uint64_t>(kFund)}, {24, B<int32_t>(kFundIndex)}}},
        {"fund", [] { return Req(PackOp::QueryFund); }, kTcp, 0x462, 28,
         QueryHead() + Placed{{16, B<uint64_t>(kFund)}, {24, B<int32_t>(kFundIndex)}}},
        {"fund transfer by serial",
         [] { return With(PackOp::QueryFundTransfer, [](PackRequest& r) { r.transfer_query = &kTransferQuery; }); },
         kTcp, 0x41b, 41, QueryHead() + Placed{{25, B<uint64_t>(kFund)}, {33, B<uint64_t>(kTarget)}}},
        {"fund transfers without a record", [] { return Req(PackOp::QueryFundTransfer); }, kTcp, 0x41b, 41,
         QueryHead() + Placed{{25, B<uint64_t>(kFund)}}},
        {"auction info",
         [] { return With(PackOp::QueryOptionAuctionInfo, [](PackRequest& r) { r.auction_query = &kAuction; }); },
         kTcp, 0x426, 64,
         QueryHead() + Placed{{25, B<uint64_t>(kFund)}, {41, B<int32_t>(2)}, {45, Txt("10000789")}}},
        {"auction info without a record", [] { return Req(PackOp::QueryOptionAuctionInfo); }, kTcp, 0x426, 64,
         QueryHead() + Placed{{25, B<uint64_t>(kFund)}}},
        {"combination unfinished orders", [] { return Req(PackOp::QueryCombUnfinishedOrders); }, kTcp, 0x417, 79,
         QueryHead() + CombAccount() + Placed{{70, B<uint8_t>(1)}}},
        {"combination order by id",
         [] { return With(PackOp::QueryCombOrderByOXAID, [](PackRequest& r) { r.target_id = kTarget; }); }, kTcp,
         0x417, 79, QueryHead() + CombAccount() + Placed{{71, B<uint64_t>(kTarget)}}},
        {"combination orders: comb_num cut to 16, two values passed on",
         [] { return With(PackOp::QueryCombOrders, [](PackRequest& r) { r.comb_query = &kCombQuery; }); }, kTcp,
         0x417, 79,
         QueryHead() + CombAccount() +
             Placed{{37, Txt("COMB000000000000")}, {54, B<int64_t>(0x0102030405060708LL)}, {62, B<int64_t>(-5)}}},
        {"combination orders without a record", [] { return Req(PackOp::QueryCombOrders); }, kTcp, 0x417, 79,
         QueryHead() + CombAccount()},
        {"combination trades by id",
         [] { return With(PackOp::QueryCombTradesByOXAID, [](PackRequest& r) { r.target_id = kTarget; }); }, kTcp,
         0x418, 78, QueryHead() + CombAccount() + Placed{{70, B<uint64_t>(kTarget)}}},
        {"combination trades",
         [] { return With(PackOp::QueryCombTrades, [](PackRequest& r) { r.comb_query = &kCombQuery; }); }, kTcp,
         0x418, 78,
         QueryHead() + CombAccount() +
             Placed{{37, Txt("COMB000000000000")}, {54, B<int64_t>(0x0102030405060708LL)}, {62, B<int64_t>(-5)}}},
        {"combination position",
         [] { return With(PackOp::QueryCombPosition, [](PackRequest& r) { r.comb_position = &kCombPosition; }); },
         kTcp, 0x424, 172, QueryHead() + Account() + Placed{{45, B<int32_t>(1)}, {155, Txt("COMB7")}}},
        {"combination strategies: the head alone", [] { return Req(PackOp::QueryCombStrategyInfo); }, kTcp, 0x419, 45,
         QueryHead()},
        {"combined exercise position",
         [] { return With(PackOp::QueryCombExecPosition, [](PackRequest& r) { r.comb_exec = &kCombExec; }); }, kTcp,
         0x41a, 55,
         QueryHead() + Placed{{25, B<uint64_t>(kFund)}, {33, B<int32_t>(2)}, {37, Txt("10000001")},
                              {46, Txt("10000002")}}},
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

constexpr std::size_t kBufSize = 512;
constexpr uint8_t kCanary = 0xCC;

TEST(OptRequestPack, GoldenBodies) {
    CapturedLog log;
    for (const Golden& g : GoldenTable()) {
        SCOPED_TRACE(g.name);
        const PackRequest req = g.make();
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));

        const PackResult r = PackOptRequest(req, g.session, buf, sizeof(buf));
        ASSERT_TRUE(r.ok()) << static_cast<int>(r.status);
        EXPECT_EQ(r.msg_id, g.msg_id);
        EXPECT_EQ(r.length, g.length);

        const Bytes want = Expected(g);
        EXPECT_EQ(Hex(buf, g.length), Hex(want.data(), want.size()));
        for (std::size_t i = g.length; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary) << "written past the body at " << i;

        const PackInfo* info = PackInfoOf(req.op);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->msg_id, g.msg_id);
        EXPECT_EQ(info->length, g.length);
        const bool order = g.msg_id == 0x402 || g.msg_id == 0x403 || g.msg_id == 0x404 || g.msg_id == 0x405 ||
                           g.msg_id == 0x406 || g.msg_id == 0x407 || g.msg_id == 0x45b;
        EXPECT_EQ(info->path, order ? PackPath::Order : PackPath::Query);
        EXPECT_EQ(info->ctrl_type, order ? 0 : 1);
    }
}

TEST(OptRequestPack, EveryOperationAndEveryLayoutHasAGoldenRow) {
    std::vector<bool> seen(static_cast<std::size_t>(PackOp::Count), false);
    std::vector<std::pair<uint32_t, uint32_t>> layouts;
    for (const Golden& g : GoldenTable()) {
        seen[static_cast<std::size_t>(g.make().op)] = true;
        const std::pair<uint32_t, uint32_t> l{g.msg_id, g.length};
        if (std::find(layouts.begin(), layouts.end(), l) == layouts.end()) layouts.push_back(l);
    }
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << "no golden row for operation " << i;
    EXPECT_EQ(PackInfoOf(PackOp::Count), nullptr);
    // the paged queries share the layouts of 0x41d, 0x41e, 0x41f and 0x40f's with 0x462
    EXPECT_EQ(layouts.size(), 18u + 4u);
}

TEST(OptRequestPack, RefusalsWriteNothing) {
    const OptionCombinedOrderInsertInfo five = Comb(5);
    const OptionCombinedOrderInsertInfo negative = Comb(-1);
    struct Row {
        const char* name;
        PackRequest req;
        PackStatus status;
        const char* log;
    };
    const Row rows[] = {
        {"five legs", With(PackOp::CombOrder, [&](PackRequest& r) { r.comb = &five; }), PackStatus::TooManyLegs,
         "num_legs 5 outside 0 to 4"},
        {"negative legs", With(PackOp::CombOrder, [&](PackRequest& r) { r.comb = &negative; }),
         PackStatus::TooManyLegs, "num_legs -1 outside 0 to 4"},
        {"no order", Req(PackOp::InsertOrder), PackStatus::RecordMissing, "OrderInsertInfo == nullptr !"},
        {"no lock order", Req(PackOp::LockOrder), PackStatus::RecordMissing, "OrderInsertInfo == nullptr !"},
        {"no exercise", Req(PackOp::ExecuteOrder), PackStatus::RecordMissing, "ExecuteOrderInsertInfo == nullptr !"},
        {"no combination", Req(PackOp::CombOrder), PackStatus::RecordMissing,
         "OptionCombinedOrderInsertInfo == nullptr !"},
        {"no transfer", Req(PackOp::FundTransfer), PackStatus::RecordMissing, "fund_transfer == nullptr !"},
        {"no page", Req(PackOp::QueryOrdersByPage), PackStatus::RecordMissing, "page query param == nullptr !"},
        {"no page (trades)", Req(PackOp::QueryTradesByPage), PackStatus::RecordMissing, "page query param"},
        {"no page (positions)", Req(PackOp::QueryPositionByPage), PackStatus::RecordMissing, "page query param"},
        {"unknown operation", Req(PackOp::Count), PackStatus::UnknownOperation, "unknown option request"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CapturedLog log;
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));
        const PackResult r = PackOptRequest(row.req, kTcp, buf, sizeof(buf));
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.error_code, 1009);
        EXPECT_EQ(r.msg_id, 0u);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary) << "byte " << i << " written";
        EXPECT_EQ(PackCheckOptRequest(row.req).status, row.status);
        EXPECT_NE(log.Text().find(row.log), std::string::npos) << log.Text();
    }
}

TEST(OptRequestPack, BufferBelowTheLengthWritesNothing) {
    CapturedLog log;
    for (const Golden& g : GoldenTable()) {
        SCOPED_TRACE(g.name);
        const PackRequest req = g.make();
        uint8_t buf[kBufSize];
        std::memset(buf, kCanary, sizeof(buf));
        EXPECT_EQ(PackOptRequest(req, g.session, buf, g.length - 1).status, PackStatus::BufferTooSmall);
        for (std::size_t i = 0; i < kBufSize; ++i) ASSERT_EQ(buf[i], kCanary);
        EXPECT_EQ(PackOptRequest(req, g.session, nullptr, kBufSize).status, PackStatus::BufferTooSmall);
    }
}

TEST(OptRequestPack, TerminalInfoIsCutTo255Characters) {
    const std::string long_text(300, 'T');
    PackSession s = kTcp;
    s.terminal_info = long_text.c_str();
    uint8_t buf[kBufSize];
    std::memset(buf, kCanary, sizeof(buf));
    ASSERT_TRUE(PackOptRequest(With(PackOp::CancelOrder, [](PackRequest&) {}), s, buf, sizeof buf).ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf + 55)), std::string(255, 'T'));
    EXPECT_EQ(buf[310], 0);
    EXPECT_EQ(buf[311], kCanary);
}

// ---------------------------------------------------------------------------------------
// Conversions

TEST(OptRequestPack, PriceTypePairs) {
    const struct {
        int32_t price_type;
        const char* pair;  // "" for two zero bytes
    } rows[] = {{1, "20"}, {2, "13"}, {3, "K0"}, {4, "53"}, {5, "14"}, {6, "40"},
                {7, "60"}, {8, "24"}, {9, ""},   {0, ""},   {0x101, "20"}, {-1, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.price_type);
        CapturedLog log;
        const uint16_t code = EncodePriceTypePair(row.price_type);
        const char got[3] = {static_cast<char>(code & 0xff), static_cast<char>(code >> 8), 0};
        EXPECT_STREQ(got, row.pair);
        EXPECT_EQ(log.Text().find("]Unknown Ord_Type:") != std::string::npos, row.pair[0] == '\0') << log.Text();
    }
}

TEST(OptRequestPack, SideCoveredFlagAndPositionEffect) {
    const struct {
        int32_t side, effect;
        char covered, side_char, effect_char;
    } rows[] = {
        {1, 1, ' ', '1', 'O'},  {1, 2, ' ', '1', 'C'},  {2, 1, ' ', '2', 'O'},   {2, 0, ' ', '2', 0},
        {11, 1, '1', '2', 'O'}, {11, 2, '1', '1', 'C'}, {12, 1, ' ', 'Z', 'O'},  {12, 0, ' ', 'Y', 0},
        {12, 2, ' ', 'Y', 'C'}, {31, 1, ' ', 'B', 'O'}, {32, 2, ' ', 'C', 'C'},  {7, 1, ' ', 0, 'O'},
        {0, 3, ' ', 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.side) + "/" + std::to_string(row.effect));
        EXPECT_EQ(EncodeCoveredFlag(row.side), row.covered);
        EXPECT_EQ(EncodeSide(row.side, row.effect), row.side_char);
        EXPECT_EQ(EncodePositionEffect(row.effect), row.effect_char);
    }
}

TEST(OptRequestPack, CombinationLegAndTransferCodes) {
    const struct {
        int32_t value;
        char comb, leg_side, leg_covered, transfer;
    } rows[] = {
        {0, 0, ' ', ' ', 0},    {1, '1', 'L', '1', 0},   {2, '2', 'S', '1', '2'}, {3, 0, 'C', '1', '1'},
        {11, '1', ' ', '1', 0}, {12, 'Y', ' ', '1', 0}, {31, 'B', ' ', '1', 0}, {32, 'C', ' ', '1', 0},
        {-1, 0, ' ', '1', 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(EncodeCombSide(row.value), row.comb);
        EXPECT_EQ(EncodeLegSide(row.value), row.leg_side);
        EXPECT_EQ(EncodeLegCovered(row.value), row.leg_covered);
        EXPECT_EQ(EncodeTransferSide(row.value), row.transfer);
    }
}

TEST(OptRequestPack, UnknownCodesAreLoggedWithTheOptionSource) {
    CapturedLog log;
    EXPECT_EQ(EncodeSide(40, 1), 0);
    EXPECT_EQ(EncodeCoveredFlag(40), ' ');  // ' ' is a code of its own: not logged
    const std::string text = log.Text();
    EXPECT_NE(text.find("info [trader_api/core/option_api/OptTraderApi "), std::string::npos) << text;
    EXPECT_NE(text.find("]Unknown SIDE_TYPE:40\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Unknown", text.find("Unknown") + 1), std::string::npos) << text;
}

TEST(OptRequestPack, SessionFromItsRecord) {
    tagSessionInfo info{};
    info.nSessionID = kSessionNo;
    info.nFundAcc = kFund;
    info.nFundAccIndex = kFundIndex;
    info.nprotocol_type = 2;
    const PackSession s = MakePackSession(info);
    EXPECT_EQ(s.session_no, kSessionNo);
    EXPECT_EQ(s.fund_account, kFund);
    EXPECT_EQ(s.fund_index, kFundIndex);
    EXPECT_EQ(s.protocol_type, 2);
    EXPECT_NE(s.terminal_info, nullptr);
}

}  // namespace
