#include "core/margin_api/MarginRequestPack.h"

#include <cmath>

#include "api/SessionTables.h"
#include "api_common/RequestPack/RequestPack.h"

namespace OXA {
namespace API {
namespace MARGIN {

namespace {

// Where a field's value comes from.
enum class Src : uint8_t {
    FundAccount,
    FundIndex,
    SessionNo,
    ClientId,
    RequestId,     // the application's request id, sign-extended
    NewId,
    TargetId,
    ProtocolChar,  // '1' on a TCP session, else '2'
    Amount,
    TransferType,  // the transfer record's int32 at 96
    RepayDebt64,   // the repayment record's int32 at 64
    Credit32,      // the credit request record's int32 at 32
    TickerMarket,
    TransferSerial,
    Credit14,
    PageReqCount32,
    PageReference32,
    DebtReqCount32,
    DebtReference32,
    DebtField16,
    // bytes and texts; the field's arg is the offset into the record
    OrderRecord,
    TransferRecord,
    RepayDebtRecord,
    CreditRecord,
    OrderQuery,
    TradeQuery,
    PageParam,
    TickerParam,
    DebtText,
    PositionTicker,
};

using REQPACK::Field;
using REQPACK::FieldList;
using REQPACK::kNoFields;
using REQPACK::List;

constexpr Field V(uint16_t offset, uint16_t width, Src src) {
    return REQPACK::Value(offset, width, static_cast<uint8_t>(src));
}
constexpr Field B(uint16_t offset, uint16_t width, Src src, uint8_t from = 0) {
    return REQPACK::Bytes(offset, width, static_cast<uint8_t>(src), from);
}
constexpr Field K(uint16_t offset, uint16_t width, int64_t value) { return REQPACK::Const(offset, width, value); }

// CreditReqHead (22 bytes) and CreditReqHeadEx (32 bytes).
constexpr Field kHead[] = {V(0, 8, Src::FundAccount), V(8, 4, Src::FundIndex), V(12, 8, Src::SessionNo),
                           V(20, 2, Src::ClientId)};
constexpr Field kHeadEx[] = {V(0, 8, Src::SessionNo), V(8, 8, Src::RequestId), V(16, 8, Src::FundAccount),
                             V(24, 1, Src::ClientId)};

// The order record goes out as the application wrote it, but for its id, its order_source byte
// (the session's protocol) and its byte 63 (the client id).
constexpr Field kInsertBody[] = {V(22, 8, Src::NewId),        B(30, 54, Src::OrderRecord, 8),
                                 V(84, 1, Src::ProtocolChar), V(85, 1, Src::ClientId),
                                 B(86, 4, Src::OrderRecord, 64)};
constexpr Field kCancelBody[] = {V(22, 8, Src::NewId), V(30, 8, Src::TargetId)};
constexpr Field kTransferBody[] = {B(22, 96, Src::TransferRecord), V(118, 4, Src::TransferType)};
constexpr Field kRepayBody[] = {V(22, 8, Src::NewId), V(30, 8, Src::Amount)};
constexpr Field kRepayDebtBody[] = {B(22, 64, Src::RepayDebtRecord), V(86, 4, Src::RepayDebt64)};
constexpr Field kCreditBody[] = {B(22, 32, Src::CreditRecord), V(54, 4, Src::Credit32)};

constexpr Field kRequestId[] = {V(22, 8, Src::RequestId)};
constexpr Field kByIdBody[] = {V(22, 8, Src::RequestId), K(30, 1, 1), V(31, 8, Src::TargetId)};
constexpr Field kOrdersBody[] = {V(22, 8, Src::RequestId), K(30, 1, 0), B(39, 32, Src::OrderQuery)};
constexpr Field kTradesBody[] = {V(22, 8, Src::RequestId), K(30, 1, 0), B(39, 32, Src::TradeQuery)};
constexpr Field kPositionBody[] = {V(22, 8, Src::RequestId),
                                   REQPACK::Text(30, 16, static_cast<uint8_t>(Src::PositionTicker),
                                                 REQPACK::TextFit::Cut)};
constexpr Field kPageBody[] = {V(22, 8, Src::RequestId), B(30, 24, Src::PageParam)};
constexpr Field kTickerBody[] = {V(22, 8, Src::RequestId), B(30, 16, Src::TickerParam), V(46, 4, Src::TickerMarket)};
constexpr Field kTransferQueryBody[] = {V(22, 8, Src::RequestId), V(30, 8, Src::TransferSerial)};
constexpr Field kCredit14Body[] = {V(22, 8, Src::RequestId), V(30, 8, Src::Credit14)};

constexpr Field kSecurityBody[] = {B(32, 16, Src::TickerParam), V(48, 4, Src::TickerMarket)};
constexpr Field kExtPageBody[] = {V(32, 4, Src::PageReqCount32), V(36, 4, Src::PageReference32), K(40, 1, '0')};
constexpr Field kDebtBody[] = {V(32, 4, Src::DebtReqCount32), V(36, 4, Src::DebtReference32), K(40, 1, '0'),
                               V(48, 4, Src::DebtField16), B(52, 16, Src::DebtText)};

// The record an operation cannot go without.
enum class Need : uint8_t { None, Order, Transfer, RepayDebt, Credit, OrderQuery, TradeQuery, Page, Ticker,
                            TransferQuery, Credit14, Debt };

struct Layout {
    PackInfo info;
    Need need;
    FieldList head;
    FieldList body;
};

constexpr PackFamily kOrd = PackFamily::Order;
constexpr PackFamily kGat = PackFamily::Gated;
constexpr PackFamily kUng = PackFamily::Ungated;
constexpr PackFamily kExt = PackFamily::Extended;

constexpr const char* kQueryMissing = "{} query_param is nullptr.";
constexpr const char* kExtMissing = "{} query_param is nullptr";

#define OXA_MARGIN_ROW(op, id, len, family, missing, send_log, need, head, body) \
    Layout { PackInfo{PackOp::op, #op, id, len, family, missing, send_log}, Need::need, head, body }

// One row per operation, in the order of PackOp.
constexpr Layout kLayouts[] = {
    OXA_MARGIN_ROW(InsertOrder, 0x226, 90, kOrd, "{} order is nullptr.", "insert order SendToServer Failed", Order,
                   List(kHead), List(kInsertBody)),
    OXA_MARGIN_ROW(CancelOrder, 0x227, 38, kOrd, nullptr, "cancel order SendToServer failed", None, List(kHead),
                   List(kCancelBody)),
    OXA_MARGIN_ROW(FundTransfer, 0x230, 122, kOrd, "{} fund_transfer is nullptr.",
                   "fundtransfer request SendToServer error!", Transfer, List(kHead), List(kTransferBody)),
    OXA_MARGIN_ROW(CreditCashRepay, 0x232, 38, kOrd, nullptr, "cash repay request SendToServer error!", None,
                   List(kHead), List(kRepayBody)),
    OXA_MARGIN_ROW(CreditCashRepaySpecifiedDebt, 0x234, 90, kOrd, "{} cash_repay_req is nullptr.",
                   "cash repay specified debt request SendToServer error!", RepayDebt, List(kHead),
                   List(kRepayDebtBody)),
    OXA_MARGIN_ROW(CreditRequest, 0x31a, 58, kOrd, nullptr, "credit request SendToServer error!", Credit, List(kHead),
                   List(kCreditBody)),

    OXA_MARGIN_ROW(QueryOrderByOXAID, 0x260, 71, kGat, nullptr, nullptr, None, List(kHead), List(kByIdBody)),
    OXA_MARGIN_ROW(QueryOrders, 0x260, 71, kGat, kQueryMissing, nullptr, OrderQuery, List(kHead), List(kOrdersBody)),
    OXA_MARGIN_ROW(QueryUnfinishedOrders, 0x310, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryTradesByOXAID, 0x262, 71, kGat, nullptr, nullptr, None, List(kHead), List(kByIdBody)),
    OXA_MARGIN_ROW(QueryTrades, 0x262, 71, kGat, kQueryMissing, nullptr, TradeQuery, List(kHead), List(kTradesBody)),
    OXA_MARGIN_ROW(QueryPosition, 0x252, 46, kGat, nullptr, nullptr, None, List(kHead), List(kPositionBody)),
    OXA_MARGIN_ROW(QueryAsset, 0x250, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryFund, 0x248, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo1, 0x272, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo2, 0x254, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo3, 0x256, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    // the parameter is not read
    OXA_MARGIN_ROW(QueryOtherServerFund, 0x332, 30, kGat, nullptr, nullptr, None, List(kHead), List(kRequestId)),

    OXA_MARGIN_ROW(QueryOrdersByPage, 0x274, 54, kUng, kQueryMissing, nullptr, Page, List(kHead), List(kPageBody)),
    OXA_MARGIN_ROW(QueryTradesByPage, 0x276, 54, kUng, kQueryMissing, nullptr, Page, List(kHead), List(kPageBody)),
    OXA_MARGIN_ROW(QueryPositionByPage, 0x284, 54, kUng, kQueryMissing, nullptr, Page, List(kHead), List(kPageBody)),
    OXA_MARGIN_ROW(QueryCreditInfo4, 0x282, 54, kUng, kQueryMissing, nullptr, Page, List(kHead), List(kPageBody)),
    OXA_MARGIN_ROW(QueryCreditInfo8, 0x286, 54, kUng, kQueryMissing, nullptr, Page, List(kHead), List(kPageBody)),
    // 31 bytes, the last one 0
    OXA_MARGIN_ROW(QueryIPOInfoList, 0x278, 31, kUng, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryIPOQuotaInfo, 0x280, 31, kUng, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo6, 0x288, 31, kUng, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo9, 0x306, 31, kUng, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryIssueInfoList, 0x31e, 31, kUng, nullptr, nullptr, None, List(kHead), List(kRequestId)),
    OXA_MARGIN_ROW(QueryCreditInfo5, 0x266, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead), List(kTickerBody)),
    OXA_MARGIN_ROW(QueryCreditInfo7, 0x264, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead), List(kTickerBody)),
    OXA_MARGIN_ROW(QueryCreditInfo10, 0x304, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead),
                   List(kTickerBody)),
    OXA_MARGIN_ROW(QueryCreditInfo11, 0x290, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead),
                   List(kTickerBody)),
    OXA_MARGIN_ROW(QueryCreditInfo12, 0x292, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead),
                   List(kTickerBody)),
    OXA_MARGIN_ROW(QueryCreditInfo13, 0x308, 50, kUng, kQueryMissing, nullptr, Ticker, List(kHead),
                   List(kTickerBody)),
    OXA_MARGIN_ROW(QueryFundTransfer, 0x270, 38, kUng, kQueryMissing, nullptr, TransferQuery, List(kHead),
                   List(kTransferQueryBody)),
    OXA_MARGIN_ROW(QueryCreditInfo14, 0x31c, 38, kUng, kQueryMissing, nullptr, Credit14, List(kHead),
                   List(kCredit14Body)),

    OXA_MARGIN_ROW(QuerySecurityInfo, 0x21024, 52, kExt, kExtMissing, "query security info request send error!",
                   Ticker, List(kHeadEx), List(kSecurityBody)),
    OXA_MARGIN_ROW(QuerySecurityByPage, 0x21026, 68, kExt, kExtMissing, "query security by page request send error!",
                   Page, List(kHeadEx), List(kExtPageBody)),
    OXA_MARGIN_ROW(QueryCreditPledgeStkByPage, 0x21014, 48, kExt, kExtMissing,
                   "QueryCreditPledgeStkByPage request send error!", Page, List(kHeadEx), List(kExtPageBody)),
    OXA_MARGIN_ROW(QueryCreditTargetStkByPage, 0x21016, 48, kExt, kExtMissing, nullptr, Page, List(kHeadEx),
                   List(kExtPageBody)),
    OXA_MARGIN_ROW(QueryCreditDebtToRepayTodayByPage, 0x21030, 84, kExt, kExtMissing,
                   "QueryCreditDebtToRepayTodayByPage request send error!", Debt, List(kHeadEx), List(kDebtBody)),
};

#undef OXA_MARGIN_ROW

static_assert(sizeof(kLayouts) / sizeof(kLayouts[0]) == static_cast<std::size_t>(PackOp::Count),
              "one layout per operation");

constexpr REQPACK::Body BodyOf(const Layout& l) {
    return REQPACK::Body{static_cast<uint16_t>(l.info.length), {l.head, l.body, kNoFields}};
}

static_assert(REQPACK::TableSound(kLayouts, kPackMaxLength, BodyOf),
              "margin request layouts: order, bounds and overlaps");

bool Has(Need need, const PackRequest& r) noexcept {
    switch (need) {
        case Need::None: return true;
        case Need::Order: return r.order != nullptr;
        case Need::Transfer: return r.transfer != nullptr;
        case Need::RepayDebt: return r.repay_debt != nullptr;
        case Need::Credit: return r.credit != nullptr;
        case Need::OrderQuery: return r.order_query != nullptr;
        case Need::TradeQuery: return r.trade_query != nullptr;
        case Need::Page: return r.page != nullptr;
        case Need::Ticker: return r.ticker_query != nullptr;
        case Need::TransferQuery: return r.transfer_query != nullptr;
        case Need::Credit14: return r.credit14 != nullptr;
        case Need::Debt: return r.debt != nullptr;
    }
    return false;
}

template <typename T>
REQPACK::TextSource RecordBytes(const T* record, uint8_t from) noexcept {
    if (record == nullptr || from >= sizeof(T)) return {nullptr, 0, nullptr};
    return {reinterpret_cast<const char*>(record) + from, sizeof(T) - from, nullptr};
}

using REQPACK::Bits;
using REQPACK::Widen;

// The margin request's sources: the application's records and the session's values. Called
// only for the fields of the operation's row, whose record Has() has checked.
class MarginSources final : public REQPACK::FieldSource {
public:
    MarginSources(const PackRequest& r, const PackSession& s) noexcept : r_(r), s_(s) {}

    REQPACK::TextSource TextOf(uint8_t src, uint8_t from) const noexcept override {
        const PackRequest& r = r_;
        switch (static_cast<Src>(src)) {
            case Src::OrderRecord: return RecordBytes(r.order, from);
            case Src::TransferRecord: return RecordBytes(r.transfer, from);
            case Src::RepayDebtRecord: return RecordBytes(r.repay_debt, from);
            case Src::CreditRecord: return RecordBytes(r.credit, from);
            case Src::OrderQuery: return RecordBytes(r.order_query, from);
            case Src::TradeQuery: return RecordBytes(r.trade_query, from);
            case Src::PageParam: return RecordBytes(r.page, from);
            case Src::TickerParam: return {r.ticker_query ? r.ticker_query->ticker : nullptr,
                                           sizeof(TickerQueryParam::ticker), nullptr};
            case Src::DebtText: return {r.debt ? r.debt->field_20 : nullptr, sizeof(DebtToRepayQueryParam::field_20),
                                        nullptr};
            case Src::PositionTicker: return {r.ticker, REQPACK::kUnbounded, "ticker == nullptr"};
            default: return {nullptr, 0, nullptr};
        }
    }

    uint64_t ValueOf(uint8_t src, uint8_t) const noexcept override {
        const PackRequest& r = r_;
        const PackSession& s = s_;
        switch (static_cast<Src>(src)) {
            case Src::FundAccount: return s.fund_account;
            case Src::FundIndex: return s.fund_index;
            case Src::SessionNo: return s.session_no;
            case Src::ClientId: return s.client_id;
            case Src::RequestId: return Widen(r.request_id);
            case Src::NewId: return r.new_id;
            case Src::TargetId: return r.target_id;
            case Src::ProtocolChar: return static_cast<uint8_t>(s.protocol_type == 1 ? '1' : '2');
            case Src::Amount: return Bits(r.amount);
            case Src::TransferType: return static_cast<uint32_t>(r.transfer->transfer_type);
            case Src::RepayDebt64: return static_cast<uint32_t>(r.repay_debt->field_64);
            case Src::Credit32: return static_cast<uint32_t>(r.credit->field_32);
            case Src::TickerMarket: return static_cast<uint32_t>(r.ticker_query->market);
            case Src::TransferSerial: return r.transfer_query->serial_id;
            case Src::Credit14: return *r.credit14;
            case Src::PageReqCount32: return static_cast<uint32_t>(r.page->req_count);
            case Src::PageReference32: return static_cast<uint32_t>(r.page->reference);
            case Src::DebtReqCount32: return static_cast<uint32_t>(r.debt->req_count);
            case Src::DebtReference32: return static_cast<uint32_t>(r.debt->reference);
            case Src::DebtField16: return static_cast<uint32_t>(r.debt->field_16);
            default: return 0;
        }
    }

private:
    const PackRequest& r_;
    const PackSession& s_;
};

}  // namespace

const PackInfo* PackInfoOf(PackOp op) noexcept {
    const Layout* l = REQPACK::RowOf(kLayouts, op);
    return l ? &l->info : nullptr;
}

PackSession MakePackSession(const tagSessionInfo& info, uint8_t client_id) noexcept {
    PackSession s;
    s.session_no = info.nSessionID;
    s.fund_account = info.nFundAcc;
    s.fund_index = info.nFundAccIndex;
    s.protocol_type = static_cast<uint16_t>(info.nprotocol_type);
    s.client_id = client_id;
    return s;
}

bool HasRequiredRecord(const PackRequest& req) noexcept {
    const Layout* l = REQPACK::RowOf(kLayouts, req.op);
    return l != nullptr && Has(l->need, req);
}

PackResult PackMarginRequest(const PackRequest& req, const PackSession& session, void* buf,
                             std::size_t cap) noexcept {
    PackResult r;
    const Layout* l = REQPACK::RowOf(kLayouts, req.op);
    if (l == nullptr) return r;
    if (!Has(l->need, req)) {
        r.status = PackStatus::RecordMissing;
        return r;
    }
    const MarginSources sources(req, session);
    if (!REQPACK::WriteBody(BodyOf(*l), sources, buf, cap)) {
        r.status = PackStatus::BufferTooSmall;
        return r;
    }
    r.status = PackStatus::Packed;
    r.msg_id = l->info.msg_id;
    r.length = l->info.length;
    return r;
}

bool RepayAmountValid(double amount) noexcept {
    if (!std::isfinite(amount) || amount <= 0 || amount > kMaxRepayAmount) return false;
    const double cents = amount * 100.0;
    const double whole = std::nearbyint(cents);
    if (whole < 1.0) return false;
    // what a decimal amount of whole cents can be off by in its double and in the product:
    // a few units in the last place, never a tenth of a cent
    const double slack = whole * 4e-16 > 1e-9 ? whole * 4e-16 : 1e-9;
    return std::fabs(cents - whole) <= slack;
}

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
