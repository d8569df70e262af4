#include "core/option_api/OptRequestPack.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ApiGlobals.h"
#include "api/ErrorCodes.h"
#include "api/SessionTables.h"
#include "api_common/RequestPack/RequestPack.h"

namespace OXA {
namespace API {
namespace OPT {

namespace {

using REQPACK::CodeOf;
using REQPACK::CodePair;
using REQPACK::CodeTable;
using REQPACK::Codes;
using REQPACK::Field;
using REQPACK::FieldList;
using REQPACK::List;
using REQPACK::kNoFields;

// ---------------------------------------------------------------------------------------
// Conversions

constexpr CodePair kPriceTypeCodes[] = {{1, CodeOf('2', '0')}, {2, CodeOf('1', '3')}, {3, CodeOf('K', '0')},
                                        {4, CodeOf('5', '3')}, {5, CodeOf('1', '4')}, {6, CodeOf('4', '0')},
                                        {7, CodeOf('6', '0')}, {8, CodeOf('2', '4')}};
constexpr CodePair kCoveredCodes[] = {{11, '1'}};
// Side character by side, for an opening order (position effect 1) and for any other.
constexpr CodePair kSideOpenCodes[] = {{1, '1'}, {2, '2'}, {11, '2'}, {12, 'Z'}, {31, 'B'}, {32, 'C'}};
constexpr CodePair kSideOtherCodes[] = {{1, '1'}, {2, '2'}, {11, '1'}, {12, 'Y'}, {31, 'B'}, {32, 'C'}};
constexpr CodePair kPositionEffectCodes[] = {{1, 'O'}, {2, 'C'}};
constexpr CodePair kCombSideCodes[] = {{1, '1'}, {2, '2'}, {11, '1'}, {12, 'Y'}, {31, 'B'}, {32, 'C'}};
constexpr CodePair kLegSideCodes[] = {{1, 'L'}, {2, 'S'}, {3, 'C'}};
constexpr CodePair kTransferSideCodes[] = {{2, '2'}, {3, '1'}};

constexpr CodeTable kPriceTypeTable = Codes("Ord_Type", true, kPriceTypeCodes);
constexpr CodeTable kCoveredTable = Codes("SIDE_TYPE", false, kCoveredCodes, ' ', false);
constexpr CodeTable kSideOpenTable = Codes("SIDE_TYPE", false, kSideOpenCodes);
constexpr CodeTable kSideOtherTable = Codes("SIDE_TYPE", false, kSideOtherCodes);
constexpr CodeTable kPositionEffectTable = Codes("PositionEffectType", false, kPositionEffectCodes);
constexpr CodeTable kCombSideTable = Codes("SIDE_TYPE", false, kCombSideCodes);
constexpr CodeTable kLegSideTable = Codes("LegSideType", false, kLegSideCodes, ' ');
constexpr CodeTable kTransferSideTable = Codes("FundTransferType", false, kTransferSideCodes);

char Char(const CodeTable& table, int32_t value, int line) noexcept {
    return static_cast<char>(REQPACK::Encode(table, value, kPackSource, line));
}

// ---------------------------------------------------------------------------------------
// Wire layouts

// Where a field's value comes from.
enum class Src : uint8_t {
    SessionNo,
    RequestId,      // sign-extended
    FundAccount,
    FundIndex,      // widened to the field
    ProtocolDigit,  // '0' + the session's protocol type
    NewId,
    TargetId,
    TerminalInfo,   // text
    // InsertOrder, LockOrder
    OrderClientId,
    OrderTicker,  // text
    OrderMarket,
    OrderPrice,
    OrderQuantity,
    PriceTypePair,
    CoveredFlag,
    OrderSide,
    PositionEffect,
    // the exercise orders
    ExecClientId,
    ExecQuantity,
    ExecTicker,        // text, bytes 0-15
    ExecSecondTicker,  // text, bytes 16-31
    ExecMarket,
    // CombOrder (arg: the leg)
    CombClientId,
    CombQuantity,
    CombMarket,
    CombSide,
    StrategyId,  // text
    CombNum,     // text
    LegCount,
    LegSide,
    LegCovered,
    LegQuantity,
    LegSecurity,  // text
    // FundTransfer
    Amount,
    TransferSide,
    // queries
    PagePosition,
    PageCount,
    OrderQueryTicker,  // text, split over two fields
    OrderBeginTime,
    OrderEndTime,
    TradeQueryTicker,  // text
    TradeBeginTime,
    TradeEndTime,
    PositionTicker,  // text
    PositionMarket,
    TransferSerial,
    AuctionMarket,
    AuctionTicker,  // text
    CombQueryNum,   // text
    CombQueryFirst,
    CombQuerySecond,
    CombPositionNum,  // text
    CombPositionMarket,
    CombExecMarket,
    CombExecFirst,   // text
    CombExecSecond,  // text
};

constexpr Field V(uint16_t offset, uint16_t width, Src src, uint8_t arg = 0) {
    return REQPACK::Value(offset, width, static_cast<uint8_t>(src), arg);
}
// An option text field of n + 1 bytes: the first n characters (from skip on) and a zero byte.
constexpr Field T(uint16_t offset, uint16_t width, Src src, uint8_t skip = 0, uint8_t arg = 0) {
    return REQPACK::Text(offset, width, static_cast<uint8_t>(src), REQPACK::TextFit::Cut, skip, arg);
}
constexpr Field K(uint16_t offset, uint16_t width, int64_t value) { return REQPACK::Const(offset, width, value); }

// Order head: session number, fund account, the new id.
constexpr Field kOrderHead[] = {V(0, 8, Src::SessionNo), V(8, 8, Src::FundAccount), V(16, 8, Src::NewId)};
// Query head: session number, the application's request id.
constexpr Field kQueryHead[] = {V(0, 8, Src::SessionNo), V(8, 8, Src::RequestId)};

constexpr Field kInsertBody[] = {
    V(24, 8, Src::OrderClientId),  T(32, 9, Src::OrderTicker),    V(41, 4, Src::OrderMarket),
    V(45, 8, Src::OrderPrice),     V(53, 8, Src::OrderQuantity),  REQPACK::Chars(61, 2, static_cast<uint8_t>(Src::PriceTypePair)),
    V(63, 1, Src::CoveredFlag),    V(64, 1, Src::OrderSide),      V(65, 1, Src::PositionEffect),
    V(66, 1, Src::ProtocolDigit),  K(67, 1, 'P'),                 T(68, 256, Src::TerminalInfo)};

constexpr Field kLockBody[] = {
    V(24, 8, Src::OrderClientId), V(32, 8, Src::OrderQuantity), T(40, 7, Src::OrderTicker),
    V(47, 1, Src::OrderSide),     V(48, 4, Src::OrderMarket),   V(53, 1, Src::ProtocolDigit),
    K(54, 1, 'P'),                T(55, 256, Src::TerminalInfo)};

constexpr Field kCancelBody[] = {V(36, 8, Src::TargetId), K(52, 1, '0'), V(53, 1, Src::ProtocolDigit),
                                 K(54, 1, 'P'), T(55, 256, Src::TerminalInfo)};

constexpr Field kExecuteBody[] = {V(24, 8, Src::ExecClientId), V(32, 8, Src::ExecQuantity), T(40, 9, Src::ExecTicker),
                                  V(49, 4, Src::ExecMarket),   V(53, 1, Src::ProtocolDigit), K(54, 1, 'P'),
                                  T(55, 256, Src::TerminalInfo)};

constexpr Field kCombinedExecuteBody[] = {
    V(24, 8, Src::ExecClientId), V(32, 8, Src::ExecQuantity),  T(40, 9, Src::ExecTicker),
    T(49, 9, Src::ExecSecondTicker), V(58, 4, Src::ExecMarket), V(62, 1, Src::ProtocolDigit),
    K(63, 1, 'P'),               T(64, 256, Src::TerminalInfo)};

constexpr Field kCombBody[] = {
    V(24, 8, Src::CombClientId), V(32, 8, Src::CombQuantity), V(40, 4, Src::CombMarket), V(44, 1, Src::CombSide),
    T(45, 9, Src::StrategyId),   T(54, 17, Src::CombNum),     V(71, 2, Src::LegCount),
    V(73, 1, Src::LegSide, 0),   V(74, 1, Src::LegSide, 1),   V(75, 1, Src::LegSide, 2),  V(76, 1, Src::LegSide, 3),
    V(77, 1, Src::LegCovered, 0), V(78, 1, Src::LegCovered, 1), V(79, 1, Src::LegCovered, 2), V(80, 1, Src::LegCovered, 3),
    V(81, 8, Src::LegQuantity, 0), V(89, 8, Src::LegQuantity, 1), V(97, 8, Src::LegQuantity, 2),
    V(105, 8, Src::LegQuantity, 3),
    T(113, 9, Src::LegSecurity, 0, 0), T(122, 9, Src::LegSecurity, 0, 1), T(131, 9, Src::LegSecurity, 0, 2),
    T(140, 9, Src::LegSecurity, 0, 3),
    V(150, 1, Src::ProtocolDigit), K(151, 1, 'P'), T(152, 256, Src::TerminalInfo)};

// Names from the transfer's debug dump: session_no, dest_fund_id, serial_id, amt, side.
constexpr Field kTransferBody[] = {V(0, 8, Src::SessionNo), V(8, 8, Src::FundAccount), V(16, 8, Src::NewId),
                                   V(32, 8, Src::Amount), V(40, 1, Src::TransferSide)};

// The account part every fund query carries: fund_acc_id at 25, fund_acc_idx at 41.
// Paged queries: qry_pos, qry_num, qry_flag '0' and the account.
constexpr Field kPagedBody[] = {V(16, 4, Src::PagePosition), V(20, 4, Src::PageCount), K(24, 1, '0'),
                                V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex)};

constexpr Field kOrderByIdBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex), V(165, 8, Src::TargetId)};
constexpr Field kOrdersBody[] = {V(25, 8, Src::FundAccount),       V(41, 4, Src::FundIndex),
                                 T(49, 9, Src::OrderQueryTicker),  T(173, 9, Src::OrderQueryTicker, 8),
                                 V(182, 8, Src::OrderBeginTime),   V(190, 8, Src::OrderEndTime)};
constexpr Field kUnfinishedBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex), K(198, 4, 1)};

constexpr Field kTradeByIdBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex), V(174, 8, Src::TargetId)};
constexpr Field kTradesBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex), T(49, 9, Src::TradeQueryTicker),
                                 V(182, 8, Src::TradeBeginTime), V(190, 8, Src::TradeEndTime)};

constexpr Field kPositionBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex), T(45, 9, Src::PositionTicker),
                                   V(54, 4, Src::PositionMarket)};

constexpr Field kAccountBody[] = {V(16, 8, Src::FundAccount), V(24, 4, Src::FundIndex)};

constexpr Field kTransferQueryBody[] = {V(25, 8, Src::FundAccount), V(33, 8, Src::TransferSerial)};

constexpr Field kAuctionBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::AuctionMarket),
                                  T(45, 9, Src::AuctionTicker)};

// Combination order (79 bytes) and trade (78) queries: account at 25 and 33.
constexpr Field kCombAccount[] = {V(25, 8, Src::FundAccount), V(33, 4, Src::FundIndex)};
constexpr Field kCombUnfinishedBody[] = {K(70, 1, 1)};
constexpr Field kCombOrderByIdBody[] = {V(71, 8, Src::TargetId)};
constexpr Field kCombTradeByIdBody[] = {V(70, 8, Src::TargetId)};
constexpr Field kCombFilterBody[] = {T(37, 17, Src::CombQueryNum), V(54, 8, Src::CombQueryFirst),
                                     V(62, 8, Src::CombQuerySecond)};

constexpr Field kCombPositionBody[] = {V(25, 8, Src::FundAccount), V(41, 4, Src::FundIndex),
                                       V(45, 4, Src::CombPositionMarket), T(155, 17, Src::CombPositionNum)};

constexpr Field kCombExecPositionBody[] = {V(25, 8, Src::FundAccount), V(33, 4, Src::CombExecMarket),
                                           T(37, 9, Src::CombExecFirst), T(46, 9, Src::CombExecSecond)};

// The record an operation cannot go without.
enum class Need : uint8_t { None, Order, Execute, Comb, Transfer, Page };

struct Layout {
    PackInfo info;
    Need need;
    const char* missing_log;
    FieldList parts[REQPACK::Body::kParts];
};

constexpr PackPath kOrd = PackPath::Order;
constexpr PackPath kQry = PackPath::Query;

#define OXA_OPT_PACK_INFO(op, id, len, path) \
    PackInfo { PackOp::op, #op, id, len, path, path == PackPath::Order ? 0 : 1 }

constexpr const char* kPageMissing = "page query param == nullptr !";

// One row per operation, in the order of PackOp.
constexpr Layout kLayouts[] = {
    {OXA_OPT_PACK_INFO(InsertOrder, 0x402, 324, kOrd), Need::Order, "OrderInsertInfo == nullptr !",
     {List(kOrderHead), List(kInsertBody), kNoFields}},
    {OXA_OPT_PACK_INFO(LockOrder, 0x404, 311, kOrd), Need::Order, "OrderInsertInfo == nullptr !",
     {List(kOrderHead), List(kLockBody), kNoFields}},
    {OXA_OPT_PACK_INFO(CancelOrder, 0x403, 311, kOrd), Need::None, nullptr,
     {List(kOrderHead), List(kCancelBody), kNoFields}},
    {OXA_OPT_PACK_INFO(ExecuteOrder, 0x406, 311, kOrd), Need::Execute, "ExecuteOrderInsertInfo == nullptr !",
     {List(kOrderHead), List(kExecuteBody), kNoFields}},
    {OXA_OPT_PACK_INFO(CombinedExecuteOrder, 0x407, 320, kOrd), Need::Execute,
     "ExecuteOrderInsertInfo == nullptr !", {List(kOrderHead), List(kCombinedExecuteBody), kNoFields}},
    {OXA_OPT_PACK_INFO(CombOrder, 0x405, 408, kOrd), Need::Comb, "OptionCombinedOrderInsertInfo == nullptr !",
     {List(kOrderHead), List(kCombBody), kNoFields}},
    {OXA_OPT_PACK_INFO(FundTransfer, 0x45b, 41, kOrd), Need::Transfer, "fund_transfer == nullptr !",
     {List(kTransferBody), kNoFields, kNoFields}},
    {OXA_OPT_PACK_INFO(QueryOrderByOXAID, 0x41d, 206, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kOrderByIdBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryOrders, 0x41d, 206, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kOrdersBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryUnfinishedOrders, 0x41d, 206, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kUnfinishedBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryOrdersByPage, 0x44d, 206, kQry), Need::Page, kPageMissing,
     {List(kQueryHead), List(kPagedBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryTradesByOXAID, 0x41e, 202, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kTradeByIdBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryTrades, 0x41e, 202, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kTradesBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryTradesByPage, 0x44e, 202, kQry), Need::Page, kPageMissing,
     {List(kQueryHead), List(kPagedBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryPosition, 0x41f, 60, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kPositionBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryPositionByPage, 0x450, 60, kQry), Need::Page, kPageMissing,
     {List(kQueryHead), List(kPagedBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryAsset, 0x40f, 28, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kAccountBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryFund, 0x462, 28, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kAccountBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryFundTransfer, 0x41b, 41, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kTransferQueryBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryOptionAuctionInfo, 0x426, 64, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kAuctionBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryCombUnfinishedOrders, 0x417, 79, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombAccount), List(kCombUnfinishedBody)}},
    {OXA_OPT_PACK_INFO(QueryCombOrderByOXAID, 0x417, 79, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombAccount), List(kCombOrderByIdBody)}},
    {OXA_OPT_PACK_INFO(QueryCombOrders, 0x417, 79, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombAccount), List(kCombFilterBody)}},
    {OXA_OPT_PACK_INFO(QueryCombTradesByOXAID, 0x418, 78, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombAccount), List(kCombTradeByIdBody)}},
    {OXA_OPT_PACK_INFO(QueryCombTrades, 0x418, 78, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombAccount), List(kCombFilterBody)}},
    {OXA_OPT_PACK_INFO(QueryCombPosition, 0x424, 172, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombPositionBody), kNoFields}},
    {OXA_OPT_PACK_INFO(QueryCombStrategyInfo, 0x419, 45, kQry), Need::None, nullptr,
     {List(kQueryHead), kNoFields, kNoFields}},
    {OXA_OPT_PACK_INFO(QueryCombExecPosition, 0x41a, 55, kQry), Need::None, nullptr,
     {List(kQueryHead), List(kCombExecPositionBody), kNoFields}},
};

#undef OXA_OPT_PACK_INFO

constexpr std::size_t kLayoutCount = sizeof(kLayouts) / sizeof(kLayouts[0]);
static_assert(kLayoutCount == static_cast<std::size_t>(PackOp::Count), "one layout per operation");

constexpr REQPACK::Body BodyOf(const Layout& l) {
    return REQPACK::Body{static_cast<uint16_t>(l.info.length), {l.parts[0], l.parts[1], l.parts[2]}};
}

static_assert(REQPACK::TableSound(kLayouts, kPackMaxLength, BodyOf),
              "option request layouts: order, bounds and overlaps");

// ---------------------------------------------------------------------------------------
// Packing

const Layout* LayoutOf(PackOp op) noexcept { return REQPACK::RowOf(kLayouts, op); }

bool HasNeeded(Need need, const PackRequest& r) noexcept {
    switch (need) {
        case Need::None: return true;
        case Need::Order: return r.order != nullptr;
        case Need::Execute: return r.execute != nullptr;
        case Need::Comb: return r.comb != nullptr;
        case Need::Transfer: return r.transfer != nullptr;
        case Need::Page: return r.page != nullptr;
    }
    return false;
}

using REQPACK::Bits;
using REQPACK::Widen;
uint64_t Code(char c) noexcept { return static_cast<uint8_t>(c); }

template <std::size_t N>
REQPACK::TextSource TextIn(const char (&field)[N]) noexcept {
    return {field, N, nullptr};
}
constexpr REQPACK::TextSource kNoText{nullptr, 0, nullptr};

// The option request's sources: the request record and the session's values.
class OptSources final : public REQPACK::FieldSource {
public:
    OptSources(const PackRequest& r, const PackSession& s) noexcept : r_(r), s_(s) {}

    REQPACK::TextSource TextOf(uint8_t src, uint8_t arg) const noexcept override {
        const PackRequest& r = r_;
        switch (static_cast<Src>(src)) {
            case Src::TerminalInfo: return {s_.terminal_info, kTerminalInfoTextSize - 1, nullptr};
            case Src::OrderTicker: return TextIn(r.order->ticker);
            case Src::ExecTicker: return {r.execute->ticker, 16, nullptr};
            case Src::ExecSecondTicker: return {r.execute->ticker + 16, 16, nullptr};
            case Src::StrategyId: return TextIn(r.comb->strategy_id);
            case Src::CombNum: return TextIn(r.comb->comb_num);
            case Src::LegSecurity: return LegPresent(arg) ? TextIn(r.comb->legs[arg].leg_security_id) : kNoText;
            case Src::OrderQueryTicker: return r.order_query ? TextIn(r.order_query->ticker) : kNoText;
            case Src::TradeQueryTicker: return r.trade_query ? TextIn(r.trade_query->ticker) : kNoText;
            case Src::PositionTicker: return {r.ticker, REQPACK::kUnbounded, nullptr};
            case Src::AuctionTicker: return r.auction_query ? TextIn(r.auction_query->ticker) : kNoText;
            case Src::CombQueryNum: return r.comb_query ? TextIn(r.comb_query->comb_num) : kNoText;
            case Src::CombPositionNum: return r.comb_position ? TextIn(r.comb_position->comb_num) : kNoText;
            case Src::CombExecFirst: return r.comb_exec ? TextIn(r.comb_exec->cntrt_code_1) : kNoText;
            case Src::CombExecSecond: return r.comb_exec ? TextIn(r.comb_exec->cntrt_code_2) : kNoText;
            default: return kNoText;
        }
    }

    uint64_t ValueOf(uint8_t src, uint8_t arg) const noexcept override {
        const PackRequest& r = r_;
        const PackSession& s = s_;
        switch (static_cast<Src>(src)) {
            case Src::SessionNo: return s.session_no;
            case Src::RequestId: return Widen(r.request_id);
            case Src::FundAccount: return s.fund_account;
            case Src::FundIndex: return s.fund_index;
            case Src::ProtocolDigit: return static_cast<uint8_t>('0' + s.protocol_type);
            case Src::NewId: return r.new_id;
            case Src::TargetId: return r.target_id;
            case Src::OrderClientId: return r.order->order_client_id;
            case Src::OrderMarket: return Widen(r.order->market);
            case Src::OrderPrice: return Bits(r.order->price);
            case Src::OrderQuantity: return Widen(r.order->quantity);
            case Src::PriceTypePair: return EncodePriceTypePair(r.order->price_type);
            case Src::CoveredFlag: return Code(EncodeCoveredFlag(r.order->side));
            case Src::OrderSide: return Code(EncodeSide(r.order->side, r.order->position_effect));
            case Src::PositionEffect: return Code(EncodePositionEffect(r.order->position_effect));
            case Src::ExecClientId: return r.execute->order_client_id;
            case Src::ExecQuantity: return Widen(r.execute->quantity);
            case Src::ExecMarket: return Widen(r.execute->market);
            case Src::CombClientId: return r.comb->order_client_id;
            case Src::CombQuantity: return Widen(r.comb->quantity);
            case Src::CombMarket: return Widen(r.comb->market);
            case Src::CombSide: return Code(EncodeCombSide(r.comb->side));
            case Src::LegCount: return Widen(r.comb->num_legs);
            case Src::LegSide: return LegPresent(arg) ? Code(EncodeLegSide(r.comb->legs[arg].leg_side)) : 0;
            case Src::LegCovered: return LegPresent(arg) ? Code(EncodeLegCovered(r.comb->legs[arg].leg_covered)) : 0;
            case Src::LegQuantity: return LegPresent(arg) ? Widen(r.comb->legs[arg].leg_qty) : 0;
            case Src::Amount: return Bits(r.transfer->amount);
            case Src::TransferSide: return Code(EncodeTransferSide(r.transfer->transfer_type));
            case Src::PagePosition: return Widen(r.page->reference);
            case Src::PageCount: return Widen(r.page->req_count);
            case Src::OrderBeginTime: return r.order_query ? Widen(r.order_query->begin_time) : 0;
            case Src::OrderEndTime: return r.order_query ? Widen(r.order_query->end_time) : 0;
            case Src::TradeBeginTime: return r.trade_query ? Widen(r.trade_query->begin_time) : 0;
            case Src::TradeEndTime: return r.trade_query ? Widen(r.trade_query->end_time) : 0;
            case Src::PositionMarket: return Widen(r.market);
            case Src::TransferSerial: return r.transfer_query ? r.transfer_query->serial_id : 0;
            case Src::AuctionMarket: return r.auction_query ? Widen(r.auction_query->market) : 0;
            case Src::CombQueryFirst: return r.comb_query ? Widen(r.comb_query->field_18) : 0;
            case Src::CombQuerySecond: return r.comb_query ? Widen(r.comb_query->field_26) : 0;
            case Src::CombPositionMarket: return r.comb_position ? Widen(r.comb_position->market) : 0;
            case Src::CombExecMarket: return r.comb_exec ? Widen(r.comb_exec->market) : 0;
            default: return 0;
        }
    }

private:
    // Legs past the order's count carry nothing (the count is checked before packing).
    bool LegPresent(uint8_t leg) const noexcept { return leg < kMaxLegs && leg < r_.comb->num_legs; }

    const PackRequest& r_;
    const PackSession& s_;
};

PackResult Refused(PackStatus status) noexcept {
    PackResult r;
    r.status = status;
    r.error_code = kErrBadParameter;
    return r;
}

}  // namespace

const PackInfo* PackInfoOf(PackOp op) noexcept {
    const Layout* l = LayoutOf(op);
    return l ? &l->info : nullptr;
}

PackSession MakePackSession(const tagSessionInfo& info) noexcept {
    PackSession s;
    s.session_no = info.nSessionID;
    s.fund_account = info.nFundAcc;
    s.fund_index = info.nFundAccIndex;
    s.protocol_type = info.nprotocol_type;
    s.terminal_info = _gTerminalInfo;
    return s;
}

PackResult PackCheckOptRequest(const PackRequest& req) noexcept {
    const Layout* l = LayoutOf(req.op);
    if (l == nullptr) {
        spdlog::error("[{}] unknown option request {}", "PackOptRequest", static_cast<int>(req.op));
        return Refused(PackStatus::UnknownOperation);
    }
    if (!HasNeeded(l->need, req)) {
        spdlog::error("{}", l->missing_log);
        return Refused(PackStatus::RecordMissing);
    }
    const int32_t legs = req.op == PackOp::CombOrder ? req.comb->num_legs : 0;  // a copy: the record is packed
    if (legs < 0 || legs > kMaxLegs) {
        // the body has room for four legs; a count it cannot carry would name legs not sent
        spdlog::error("[{}] num_legs {} outside 0 to {}, request refused", l->info.name, legs, kMaxLegs);
        return Refused(PackStatus::TooManyLegs);
    }
    PackResult ok;
    ok.status = PackStatus::Packed;
    ok.msg_id = l->info.msg_id;
    ok.length = l->info.length;
    return ok;
}

PackResult PackOptRequest(const PackRequest& req, const PackSession& session, void* buf, std::size_t cap) noexcept {
    PackResult result = PackCheckOptRequest(req);
    if (!result.ok()) return result;
    const Layout& l = *LayoutOf(req.op);
    if (buf == nullptr || cap < l.info.length) {
        spdlog::error("[{}] buffer of {} bytes is below the {} of message 0x{:x}", l.info.name, buf ? cap : 0,
                      l.info.length, l.info.msg_id);
        return Refused(PackStatus::BufferTooSmall);
    }
    if (!REQPACK::WriteBody(BodyOf(l), OptSources(req, session), buf, cap))
        return Refused(PackStatus::BufferTooSmall);  // unreachable: layouts are checked
    return result;
}

uint16_t EncodePriceTypePair(int32_t price_type) noexcept {
    return REQPACK::Encode(kPriceTypeTable, price_type, kPackSource, __LINE__);
}
char EncodeCoveredFlag(int32_t side) noexcept { return Char(kCoveredTable, side, __LINE__); }
char EncodeSide(int32_t side, int32_t position_effect) noexcept {
    return position_effect == 1 ? Char(kSideOpenTable, side, __LINE__) : Char(kSideOtherTable, side, __LINE__);
}
char EncodePositionEffect(int32_t position_effect) noexcept {
    return Char(kPositionEffectTable, position_effect, __LINE__);
}
char EncodeCombSide(int32_t side) noexcept { return Char(kCombSideTable, side, __LINE__); }
char EncodeLegSide(int32_t leg_side) noexcept { return Char(kLegSideTable, leg_side, __LINE__); }
char EncodeLegCovered(int32_t leg_covered) noexcept { return leg_covered != 0 ? '1' : ' '; }
char EncodeTransferSide(int32_t transfer_type) noexcept { return Char(kTransferSideTable, transfer_type, __LINE__); }

}  // namespace OPT
}  // namespace API
}  // namespace OXA
