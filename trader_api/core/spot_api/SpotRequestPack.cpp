#include "core/spot_api/SpotRequestPack.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <cstring>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "api_common/RequestPack/RequestPack.h"
#include "core/spot_api/SpotConvert.h"
#include "infra/utility/AnswerWait.h"  // CopyText

namespace OXA {
namespace API {
namespace SPOT {

namespace {

// ---------------------------------------------------------------------------------------
// Enumeration encoders

using REQPACK::CodePair;
using REQPACK::CodeTable;
using REQPACK::Codes;

constexpr CodePair kMarketCodes[] = {{1, '1'}, {2, '2'}, {3, '3'}, {4, '4'}, {5, '5'}};
constexpr CodePair kOrdTypeCodes[] = {{1, '2'}, {2, '6'}, {3, '4'}, {4, '1'}, {5, '7'},
                                      {6, '3'}, {7, '5'}, {8, '8'}, {9, '9'}, {10, 'A'}};
constexpr CodePair kSideCodes[] = {{1, '1'}, {7, '1'}, {2, '2'}, {8, '2'}};
constexpr CodePair kBusinessCodes[] = {{0, '1'}, {1, '3'}, {2, '2'}, {3, '4'}, {6, 'C'}, {14, 'B'}, {16, '5'}};
constexpr CodePair kTickerTypeCodes[] = {{0, '1'}, {5, '1'}, {2, '3'}, {3, '2'}, {6, '2'}, {4, '4'}};
constexpr CodePair kTransferCodes[] = {{0, '2'}, {1, '1'}, {2, '6'}, {3, '5'}};
constexpr CodePair kOrderStatusCodes[] = {{0, '0'}, {1, '5'}, {2, '3'}, {3, '4'}, {4, '2'}, {5, '6'}, {6, '7'}};
constexpr CodePair kExchangeCodes[] = {{1, '2'}, {2, '1'}, {3, '3'}};

constexpr CodeTable kMarketTable = Codes("MARKET_TYPE", false, kMarketCodes);
constexpr CodeTable kOrdTypeTable = Codes("Ord_Type", false, kOrdTypeCodes);
constexpr CodeTable kSideTable = Codes("SIDE_TYPE", true, kSideCodes);
constexpr CodeTable kBusinessTable = Codes("BusinessType", true, kBusinessCodes);
constexpr CodeTable kTickerTypeTable = Codes("TICKER_TYPE", true, kTickerTypeCodes);
constexpr CodeTable kTransferTable = Codes("FundTransferType", false, kTransferCodes);
constexpr CodeTable kOrderStatusTable = Codes("OrderStatusType", false, kOrderStatusCodes);
constexpr CodeTable kExchangeTable = Codes("ExchangeType", false, kExchangeCodes);

char EncodeWith(const CodeTable& table, int32_t value, int line) noexcept {
    const REQPACK::Lookup found = REQPACK::Find(table, value);
    if (!found.known) LogUnknownCode(kPackSource, line, table.name, found.read);  // names the operation and the order id
    return static_cast<char>(found.code);
}

// ---------------------------------------------------------------------------------------
// Wire layouts

// Where a field's value comes from.
enum class Src : uint8_t {
    SessionNo,        // server session number (cut to the field's width)
    RequestId,        // the application's request id, sign-extended
    FundAccount,
    FundIndex,
    ClientId,         // the id generator's client id
    SessionClientId,  // the session record's client id
    ProtocolDigit,    // '0' + the session's protocol type
    NewId,            // the new order, cancel or serial id
    NewIdSeq,         // its low 32 bits
    TargetSeq,        // low 32 bits of the order named by a cancel or a by-id query
    TargetClientId,   // its bits 39-32
    Quantity,
    Price,
    OrderSource,
    OrderClientId,
    InsertByte65,
    InsertMarket,
    InsertSide,
    InsertPriceType,
    InsertBusinessType,
    Amount,
    TransferType,
    TimeOfDay,
    NodeId,
    PositionMarket,
    EtfMarket,
    SecurityMarket,
    PageReqCount,
    PageReference,
    PageReserved,
    TransferQuerySeq,
    TransferQueryClientId,
    SpreadTickerType,
    // texts
    InsertTicker,
    OrderQueryTicker,
    TradeQueryTicker,
    PositionTicker,
    EtfTicker,
    SecurityTicker,
};

using REQPACK::Field;
using REQPACK::FieldList;
using REQPACK::List;
using REQPACK::kNoFields;

constexpr Field V(uint16_t offset, uint16_t width, Src src) {
    return REQPACK::Value(offset, width, static_cast<uint8_t>(src));
}
// Spot refuses a text longer than its field: a cut ticker can name another security.
constexpr Field T(uint16_t offset, uint16_t width, Src src) {
    return REQPACK::Text(offset, width, static_cast<uint8_t>(src), REQPACK::TextFit::Refuse);
}
constexpr Field K(uint16_t offset, uint16_t width, int64_t value) { return REQPACK::Const(offset, width, value); }

// The record an operation cannot go without.
enum class Need : uint8_t { None, Order, Transfer, Page, Etf, Ticker, OtherFund, Spread };
// A check of the record's content beyond its texts.
enum class Check : uint8_t { None, TickerNotEmpty, OtherServerFund };

struct Layout {
    PackInfo info;
    Need need;
    const char* missing_log;
    Check check;
    FieldList head;
    FieldList body;
};

// The classic head, whole (24 bytes) or its first 12 or 20 bytes.
constexpr Field kHead[] = {
    V(0, 4, Src::SessionNo), V(4, 8, Src::RequestId), V(12, 8, Src::FundAccount), V(20, 4, Src::FundIndex)};
constexpr FieldList kHead24{kHead, 4};
constexpr FieldList kHead20{kHead, 3};
constexpr FieldList kHead12{kHead, 2};

// The extended head (32 bytes), with the generator's or the session record's client id.
constexpr Field kExtHead[] = {
    V(0, 8, Src::SessionNo), V(8, 8, Src::RequestId), V(16, 8, Src::FundAccount), V(24, 1, Src::ClientId)};
constexpr Field kExtHeadOfSession[] = {V(0, 8, Src::SessionNo),
                                       V(8, 8, Src::RequestId),
                                       V(16, 8, Src::FundAccount),
                                       V(24, 1, Src::SessionClientId)};

constexpr Field kInsertBody[] = {
    V(0, 4, Src::SessionNo),      V(4, 8, Src::FundAccount),   V(12, 8, Src::Quantity),
    V(20, 8, Src::Price),         V(28, 4, Src::FundIndex),    V(32, 1, Src::OrderSource),
    V(33, 4, Src::NewIdSeq),      T(37, 8, Src::InsertTicker), V(45, 4, Src::OrderClientId),
    V(49, 1, Src::ClientId),      V(52, 1, Src::InsertByte65), V(53, 8, Src::NewId),
    V(61, 1, Src::InsertMarket),  V(62, 1, Src::InsertSide),   V(63, 1, Src::InsertPriceType),
    V(64, 1, Src::InsertBusinessType)};

constexpr Field kCancelBody[] = {
    V(0, 4, Src::SessionNo),      V(4, 8, Src::FundAccount),    V(12, 4, Src::FundIndex),
    V(16, 1, Src::ProtocolDigit), V(17, 4, Src::NewIdSeq),      V(21, 1, Src::ProtocolDigit),
    V(22, 4, Src::TargetClientId), V(26, 4, Src::TargetSeq),    K(50, 1, '1'),
    V(55, 1, Src::ClientId),      V(59, 8, Src::NewId)};

// The push of a transfer's result comes back in this layout.
constexpr Field kTransferBody[] = {
    V(0, 8, Src::NewIdSeq),     K(8, 1, '0'),       V(41, 8, Src::FundAccount),
    V(49, 8, Src::Amount),      V(57, 4, Src::FundIndex),    K(61, 1, '0'),
    V(65, 1, Src::TransferType), V(70, 4, Src::TimeOfDay),   V(74, 4, Src::SessionNo),
    V(78, 4, Src::NodeId),      V(82, 1, Src::ClientId),     V(87, 1, Src::ClientId),
    V(91, 8, Src::NewId)};

// Order query: 24 sequence (0 all), 36 ticker (empty all), 46 scope, 47 client id (-1 all).
constexpr Field kOrderByIdBody[] = {
    V(24, 4, Src::TargetSeq), K(46, 1, '2'), V(47, 4, Src::TargetClientId)};
constexpr Field kOrdersBody[] = {T(36, 8, Src::OrderQueryTicker), K(46, 1, '2'), K(47, 4, -1)};
constexpr Field kUnfinishedBody[] = {K(46, 1, '0'), K(47, 4, -1)};

// Trade query: 24 sequence, 36 ticker, 46 client id.
constexpr Field kTradeByIdBody[] = {V(24, 4, Src::TargetSeq), V(46, 4, Src::TargetClientId)};
constexpr Field kTradesBody[] = {T(36, 8, Src::TradeQueryTicker), K(46, 4, -1)};

// The classic paged request, head included.
constexpr Field kPagedBody[] = {V(0, 4, Src::SessionNo),     V(4, 8, Src::RequestId),
                                V(12, 8, Src::PageReqCount), V(20, 8, Src::PageReference),
                                V(28, 8, Src::PageReserved), V(36, 8, Src::FundAccount)};

constexpr Field kPositionBody[] = {V(0, 4, Src::SessionNo),       V(4, 8, Src::RequestId),
                                   V(12, 8, Src::FundAccount),    V(20, 1, Src::PositionMarket),
                                   T(21, 8, Src::PositionTicker), V(29, 4, Src::FundIndex),
                                   K(33, 1, '2')};

constexpr Field kAssetBody[] = {K(28, 1, '2')};
constexpr Field kYesterdayAssetBody[] = {K(28, 1, '1')};
constexpr Field kScopeAllAt24[] = {K(24, 1, '2')};
constexpr Field kTransferQueryBody[] = {V(24, 4, Src::TransferQuerySeq), V(33, 4, Src::TransferQueryClientId)};
constexpr Field kEtfBaseBody[] = {T(12, 8, Src::EtfTicker), V(20, 1, Src::EtfMarket)};
constexpr Field kEtfBasketBody[] = {
    K(32, 4, 200), K(40, 1, '0'), T(48, 8, Src::EtfTicker), V(56, 1, Src::EtfMarket)};
constexpr Field kFirstPageBody[] = {K(32, 4, 200), K(40, 1, '0')};
constexpr Field kSecurityBody[] = {T(12, 8, Src::SecurityTicker), V(20, 1, Src::SecurityMarket)};
constexpr Field kExtPagedBody[] = {
    V(32, 4, Src::PageReqCount), V(36, 4, Src::PageReference), K(40, 1, '0')};
constexpr Field kSpreadBody[] = {V(32, 1, Src::SpreadTickerType)};

constexpr const char* kPageMissing = "page query param == nullptr !";
constexpr const char* kEtfMissing = "etf query param == nullptr !";
constexpr const char* kOtherFundAccountLog = "[Query Other Server Fund] Query Param Fund Account Check Error.";
constexpr const char* kOtherFundTypeLog = "[Query Other Server Fund] Query Param Query Type Check Error.";

constexpr PackPath kOrd = PackPath::Order;
constexpr PackPath kQry = PackPath::Query;

#define OXA_PACK_INFO(op, id, len, path, stem) \
    PackInfo { PackOp::op, #op, id, len, path, path == PackPath::Order ? 0 : 1, stem }

// One row per operation, in the order of PackOp.
constexpr Layout kLayouts[] = {
    {OXA_PACK_INFO(InsertOrder, 0x111, 65, kOrd, nullptr), Need::Order, "OrderInsertInfo == nullptr !", Check::None,
     kNoFields, List(kInsertBody)},
    {OXA_PACK_INFO(CancelOrder, 0x112, 67, kOrd, nullptr), Need::None, nullptr, Check::None, kNoFields,
     List(kCancelBody)},
    {OXA_PACK_INFO(FundTransfer, 0x113, 99, kOrd, nullptr), Need::Transfer, "fund_transfer == nullptr !", Check::None,
     kNoFields, List(kTransferBody)},
    {OXA_PACK_INFO(QueryOrderByOXAID, 0x11b, 51, kQry, "QueryOrderByOXAID"), Need::None, nullptr, Check::None, kHead24,
     List(kOrderByIdBody)},
    {OXA_PACK_INFO(QueryOrders, 0x11b, 51, kQry, "query_order"), Need::None, nullptr, Check::None, kHead24,
     List(kOrdersBody)},
    {OXA_PACK_INFO(QueryUnfinishedOrders, 0x11b, 51, kQry, "QueryUnfinishedOrders"), Need::None, nullptr, Check::None,
     kHead24, List(kUnfinishedBody)},
    {OXA_PACK_INFO(QueryOrdersByPage, 0x1a9, 44, kQry, "query_order_by_page"), Need::Page, kPageMissing, Check::None,
     kNoFields, List(kPagedBody)},
    {OXA_PACK_INFO(QueryTradesByOXAID, 0x11c, 50, kQry, "query_match_info"), Need::None, nullptr, Check::None, kHead24,
     List(kTradeByIdBody)},
    {OXA_PACK_INFO(QueryTrades, 0x11c, 50, kQry, "query_match_info"), Need::None, nullptr, Check::None, kHead24,
     List(kTradesBody)},
    {OXA_PACK_INFO(QueryTradesByPage, 0x1aa, 44, kQry, "query_match_by_page"), Need::Page, kPageMissing, Check::None,
     kNoFields, List(kPagedBody)},
    {OXA_PACK_INFO(QueryPosition, 0x114, 34, kQry, "query_position"), Need::None, nullptr, Check::None, kNoFields,
     List(kPositionBody)},
    {OXA_PACK_INFO(QueryPositionByPage, 0x1a8, 44, kQry, "query_position_by_page"), Need::Page, kPageMissing,
     Check::None, kNoFields, List(kPagedBody)},
    {OXA_PACK_INFO(QueryAsset, 0x1a5, 29, kQry, "query_asset"), Need::None, nullptr, Check::None, kHead24,
     List(kAssetBody)},
    {OXA_PACK_INFO(QueryFund, 0x115, 25, kQry, "query_fund"), Need::None, nullptr, Check::None, kHead24,
     List(kScopeAllAt24)},
    {OXA_PACK_INFO(QueryFundTransfer, 0x11d, 37, kQry, "QueryFundTransfer"), Need::None, nullptr, Check::None, kHead24,
     List(kTransferQueryBody)},
    {OXA_PACK_INFO(QueryETFBaseInfo, 0x1b1, 21, kQry, "query_etf_base_info"), Need::Etf, kEtfMissing, Check::None,
     kHead12, List(kEtfBaseBody)},
    {OXA_PACK_INFO(QueryETFTickerBasket, 0x20026, 57, kQry, "QueryETFTickerBasket"), Need::Etf, kEtfMissing,
     Check::None, List(kExtHead), List(kEtfBasketBody)},
    {OXA_PACK_INFO(QueryIPOInfoList, 0x20030, 48, kQry, "query_issue_security"), Need::None, nullptr, Check::None,
     List(kExtHeadOfSession), List(kFirstPageBody)},
    {OXA_PACK_INFO(QueryIPOQuotaInfo, 0x116, 24, kQry, "QueryIPOQuotaInfo"), Need::None, nullptr, Check::None, kHead24,
     kNoFields},
    {OXA_PACK_INFO(QueryOtherServerFund, 0x1b2, 25, kQry, nullptr), Need::OtherFund, kOtherFundAccountLog,
     Check::OtherServerFund, kHead24, List(kScopeAllAt24)},
    {OXA_PACK_INFO(QueryIssueInfoList, 0x1a7, 20, kQry, "query_issue"), Need::None, nullptr, Check::None, kHead20,
     kNoFields},
    {OXA_PACK_INFO(QuerySecurityInfo, 0x118, 21, kQry, "QuerySecurityInfo"), Need::Ticker,
     "ticker query param == nullptr !", Check::TickerNotEmpty, kHead12, List(kSecurityBody)},
    {OXA_PACK_INFO(QueryYesterdayAsset, 0x1a5, 29, kQry, "query_yesterday_asset"), Need::None, nullptr, Check::None,
     kHead24, List(kYesterdayAssetBody)},
    {OXA_PACK_INFO(QueryETFByPage, 0x20012, 57, kQry, nullptr), Need::Page, kPageMissing, Check::None, List(kExtHead),
     List(kExtPagedBody)},
    {OXA_PACK_INFO(QuerySecurityByPage, 0x20014, 57, kQry, nullptr), Need::Page, kPageMissing, Check::None,
     List(kExtHead), List(kExtPagedBody)},
    {OXA_PACK_INFO(QueryHKConnectIndicativeExchangeRateInfo, 0x20024, 32, kQry,
                   "query_hk_connect_indicative_exchange_rate_info"),
     Need::None, nullptr, Check::None, List(kExtHeadOfSession), kNoFields},
    {OXA_PACK_INFO(QueryHKConnectSpreadTable, 0x20028, 33, kQry, "query_hk_connect_spread_table"), Need::Spread,
     "spread query param == nullptr !", Check::None, List(kExtHeadOfSession), List(kSpreadBody)},
};

#undef OXA_PACK_INFO

constexpr std::size_t kLayoutCount = sizeof(kLayouts) / sizeof(kLayouts[0]);
static_assert(kLayoutCount == static_cast<std::size_t>(PackOp::Count), "one layout per operation");

constexpr REQPACK::Body BodyOf(const Layout& l) {
    return REQPACK::Body{static_cast<uint16_t>(l.info.length), {l.head, l.body, kNoFields}};
}

static_assert(REQPACK::TableSound(kLayouts, kPackMaxLength, BodyOf),
              "spot request layouts: order, bounds and overlaps");

// ---------------------------------------------------------------------------------------
// Packing

const Layout* LayoutOf(PackOp op) noexcept { return REQPACK::RowOf(kLayouts, op); }

bool HasNeeded(Need need, const PackRequest& r) noexcept {
    switch (need) {
        case Need::None: return true;
        case Need::Order: return r.order != nullptr;
        case Need::Transfer: return r.transfer != nullptr;
        case Need::Page: return r.page != nullptr;
        case Need::Etf: return r.etf_query != nullptr;
        case Need::Ticker: return r.ticker_query != nullptr;
        case Need::OtherFund: return r.other_fund_query != nullptr;
        case Need::Spread: return r.spread_query != nullptr;
    }
    return false;
}

using REQPACK::Bits;
using REQPACK::Widen;

// The spot request's sources: the request record and the session's values.
class SpotSources final : public REQPACK::FieldSource {
public:
    SpotSources(const PackRequest& r, const PackSession& s) noexcept : r_(r), s_(s) {}

    REQPACK::TextSource TextOf(uint8_t src, uint8_t) const noexcept override {
        const PackRequest& r = r_;
        switch (static_cast<Src>(src)) {
            case Src::InsertTicker:
                return {r.order ? r.order->ticker : nullptr, sizeof(OrderInsertInfo::ticker), nullptr};
            case Src::OrderQueryTicker:
                return {r.order_query ? r.order_query->ticker : nullptr, sizeof(OrderQueryParam::ticker),
                        "query_param->ticker == nullptr"};
            case Src::TradeQueryTicker:
                return {r.trade_query ? r.trade_query->ticker : nullptr, sizeof(TradeQueryParam::ticker),
                        "query_param->ticker == nullptr"};
            case Src::PositionTicker:
                return {r.ticker, REQPACK::kUnbounded, "ticker == nullptr"};
            case Src::EtfTicker:
                return {r.etf_query ? r.etf_query->ticker : nullptr, sizeof(ETFQueryParam::ticker), nullptr};
            case Src::SecurityTicker:
                return {r.ticker_query ? r.ticker_query->ticker : nullptr, sizeof(TickerQueryParam::ticker), nullptr};
            default:
                return {nullptr, 0, nullptr};
        }
    }

    uint64_t ValueOf(uint8_t src, uint8_t) const noexcept override {
        const PackRequest& r = r_;
        const PackSession& s = s_;
        switch (static_cast<Src>(src)) {
            case Src::SessionNo: return s.session_no;
            case Src::RequestId: return Widen(r.request_id);
            case Src::FundAccount: return s.fund_account;
            case Src::FundIndex: return s.fund_index;
            case Src::ClientId: return s.client_id;
            case Src::SessionClientId: return s.session_client_id;
            case Src::ProtocolDigit: return static_cast<uint8_t>('0' + s.protocol_type);
            case Src::NewId: return r.new_id;
            case Src::NewIdSeq: return r.new_id & 0xffffffffu;
            case Src::TargetSeq: return r.target_id & 0xffffffffu;
            case Src::TargetClientId: return (r.target_id >> 32) & 0xff;
            case Src::Quantity: return Widen(r.order->quantity);
            case Src::Price: return Bits(r.order->price);
            case Src::OrderSource: {
                const char source = r.order->order_source;
                if (source == 'J' || source == 'L') return static_cast<uint8_t>(source);
                return static_cast<uint8_t>('0' + s.protocol_type);
            }
            case Src::OrderClientId: return r.order->order_client_id;
            case Src::InsertByte65: return r.order->field_65;
            case Src::InsertMarket: return static_cast<uint8_t>(EncodeMarketType(r.order->market));
            case Src::InsertSide: return static_cast<uint8_t>(EncodeSideType(r.order->side));
            case Src::InsertPriceType: return static_cast<uint8_t>(EncodeOrdType(r.order->price_type));
            case Src::InsertBusinessType: return static_cast<uint8_t>(EncodeBusinessType(r.order->business_type));
            case Src::Amount: return Bits(r.transfer->amount);
            case Src::TransferType: return static_cast<uint8_t>(EncodeFundTransferType(r.transfer->transfer_type));
            case Src::TimeOfDay: return Widen(r.time_hhmmss);
            case Src::NodeId: return (s.session_id >> 16) & 0xff;
            case Src::PositionMarket: return static_cast<uint8_t>(EncodeMarketType(r.market));
            case Src::EtfMarket: return static_cast<uint8_t>(EncodeMarketType(r.etf_query->market));
            case Src::SecurityMarket: return static_cast<uint8_t>(EncodeMarketType(r.ticker_query->market));
            case Src::PageReqCount: return Widen(r.page->req_count);
            case Src::PageReference: return Widen(r.page->reference);
            case Src::PageReserved: return Widen(r.page->reserved);
            case Src::TransferQuerySeq: return r.transfer_query ? (r.transfer_query->serial_id & 0xffffffffu) : 0;
            case Src::TransferQueryClientId: {
                const uint64_t serial = r.transfer_query ? r.transfer_query->serial_id : 0;
                return serial == 0 ? Widen(-1) : (serial >> 32) & 0xff;
            }
            case Src::SpreadTickerType: return static_cast<uint8_t>(EncodeTickerType(r.spread_query->ticker_type));
            default: return 0;
        }
    }

private:
    const PackRequest& r_;
    const PackSession& s_;
};

PackResult Refused(PackStatus status, int32_t code) noexcept {
    PackResult r;
    r.status = status;
    r.error_code = code;
    r.error_text = code != 0 ? GetErrorMsg(code) : nullptr;
    return r;
}

// The fund account text of QueryOtherServerFund, read as a base-10 number.
uint64_t ParseAccount(const char (&field)[sizeof(OtherServerFundQueryParam::fund_account)]) noexcept {
    char text[sizeof(field) + 1];
    CopyText(text, field, sizeof(field));
    return std::strtoull(text, nullptr, 10);
}

PackResult Validate(const Layout& l, const PackRequest& r, const PackSession& s) noexcept {
    const char* name = l.info.name;
    if (!HasNeeded(l.need, r)) {
        spdlog::error("{}", l.missing_log);
        return Refused(l.need == Need::OtherFund ? PackStatus::AccountMismatch : PackStatus::RecordMissing,
                       l.need == Need::OtherFund ? kErrQueryAccountMismatch : kErrBadParameter);
    }
    if (l.check == Check::OtherServerFund) {
        if (ParseAccount(r.other_fund_query->fund_account) != s.fund_account) {
            spdlog::error("{}", kOtherFundAccountLog);
            return Refused(PackStatus::AccountMismatch, 6066);
        }
        if (r.other_fund_query->query_type != 1) {
            spdlog::error("{}", kOtherFundTypeLog);
            return Refused(PackStatus::QueryTypeNotServed, kErrNotOffered);
        }
    }
    const REQPACK::TextCheck texts = REQPACK::CheckTexts(BodyOf(l), SpotSources(r, s));
    if (texts.too_long != nullptr) {
        spdlog::error("[{}] ticker longer than {} characters, request refused", name, texts.too_long->width);
        return Refused(PackStatus::TickerTooLong, kErrBadParameter);
    }
    if (l.check == Check::TickerNotEmpty && texts.chars == 0) {
        spdlog::error("ticker can not be empty !");
        return Refused(PackStatus::TickerEmpty, 0);
    }
    PackResult ok;
    ok.status = PackStatus::Packed;
    ok.msg_id = l.info.msg_id;
    ok.length = l.info.length;
    return ok;
}

}  // namespace

const PackInfo* PackInfoOf(PackOp op) noexcept {
    const Layout* l = LayoutOf(op);
    return l ? &l->info : nullptr;
}

PackSession MakePackSession(const tagSessionInfo& info, uint64_t session_id, uint8_t generator_client_id) noexcept {
    PackSession s;
    s.session_no = info.nSessionID;
    s.fund_account = info.nFundAcc;
    s.fund_index = info.nFundAccIndex;
    s.protocol_type = info.nprotocol_type;
    s.session_client_id = static_cast<uint8_t>(info.nClientID);
    s.client_id = generator_client_id;
    s.session_id = session_id;
    return s;
}

PackResult PackCheckSpotRequest(const PackRequest& req, const PackSession& session) noexcept {
    const Layout* l = LayoutOf(req.op);
    if (!l) {
        spdlog::error("[{}] unknown spot request {}", "PackSpotRequest", static_cast<int>(req.op));
        return Refused(PackStatus::UnknownOperation, kErrBadParameter);
    }
    return Validate(*l, req, session);
}

PackResult PackSpotRequest(const PackRequest& req, const PackSession& session, void* buf, std::size_t cap) noexcept {
    PackResult result = PackCheckSpotRequest(req, session);
    if (!result.ok()) return result;
    const Layout& l = *LayoutOf(req.op);
    if (!buf || cap < l.info.length) {
        spdlog::error("[{}] buffer of {} bytes is below the {} of message 0x{:x}", l.info.name, buf ? cap : 0,
                      l.info.length, l.info.msg_id);
        return Refused(PackStatus::BufferTooSmall, kErrBadParameter);
    }
    if (!REQPACK::WriteBody(BodyOf(l), SpotSources(req, session), buf, cap))
        return Refused(PackStatus::BufferTooSmall, kErrBadParameter);  // unreachable: layouts are checked
    return result;
}

char EncodeMarketType(int32_t value) noexcept { return EncodeWith(kMarketTable, value, __LINE__); }
char EncodeOrdType(int32_t value) noexcept { return EncodeWith(kOrdTypeTable, value, __LINE__); }
char EncodeSideType(int32_t value) noexcept { return EncodeWith(kSideTable, value, __LINE__); }
char EncodeBusinessType(int32_t value) noexcept { return EncodeWith(kBusinessTable, value, __LINE__); }
char EncodeTickerType(int32_t value) noexcept { return EncodeWith(kTickerTypeTable, value, __LINE__); }
char EncodeFundTransferType(int32_t value) noexcept { return EncodeWith(kTransferTable, value, __LINE__); }
char EncodeOrderStatusType(int32_t value) noexcept { return EncodeWith(kOrderStatusTable, value, __LINE__); }
char EncodeExchangeType(int32_t value) noexcept { return EncodeWith(kExchangeTable, value, __LINE__); }

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
