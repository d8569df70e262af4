// The option query answers: each finds its session by the server's session number, converts
// every row that lies inside the message into its public record and calls the application once
// per row.
//
// One framework serves every self-continuing family: a row at or beyond the query's total (or,
// where the 999 rule applies, beyond position 999) ends the query; a page whose last row does
// not end it asks for the next page from that row's position, rebuilt from the answer's echo,
// through the back-end's paging table, which also keeps a query asked again under the same
// request id apart from the one still paging. An error answer and one without rows make one
// null-record call with is_last true and the answer's code. What ends a query before its last
// row (a page that brings no progress or is over the page cap, a page cut short, a negative
// count, rows that all lie outside the message, a follow-up that cannot be sent) ends it with
// one null-record call, is_last true and a nonzero code: the send's, else kErrQueryEndedEarly.
// The paged families (0x557, 0x558, 0x55a) never ask for more; the strategy answer (0x524) ends
// with the answer's own flag.
#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ErrorCodes.h"
#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "core/option_api/OptConvert.h"
#include "core/option_api/OptRequestPack.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTraderImpl.h"

namespace OXA {
namespace API {
namespace OPT {

namespace {

// Answer message ids.
constexpr uint32_t kMsgQueryAssetRsp = 0x519;
constexpr uint32_t kMsgQueryCombOrdersRsp = 0x522;
constexpr uint32_t kMsgQueryCombTradesRsp = 0x523;
constexpr uint32_t kMsgQueryCombStrategyRsp = 0x524;
constexpr uint32_t kMsgQueryCombExecPositionRsp = 0x525;
constexpr uint32_t kMsgQueryFundTransferRsp = 0x526;
constexpr uint32_t kMsgQueryOrderRsp = 0x527;
constexpr uint32_t kMsgQueryTradeRsp = 0x528;
constexpr uint32_t kMsgQueryPositionRsp = 0x529;
constexpr uint32_t kMsgQueryCombPositionRsp = 0x52c;
constexpr uint32_t kMsgQueryAuctionInfoRsp = 0x52f;
constexpr uint32_t kMsgQueryOrderByPageRsp = 0x557;
constexpr uint32_t kMsgQueryTradeByPageRsp = 0x558;
constexpr uint32_t kMsgQueryPositionByPageRsp = 0x55a;
constexpr uint32_t kMsgQueryFundRsp = 0x56c;

// Bytes a row of each family reads.
constexpr std::size_t kOrderRowNeed = 1089;
constexpr std::size_t kTradeRowNeed = 979;
constexpr std::size_t kPositionRowNeed = 596;
constexpr std::size_t kTransferRowNeed = 33;
constexpr std::size_t kAuctionRowNeed = 557;
constexpr std::size_t kCombOrderRowNeed = 245;
constexpr std::size_t kCombTradeRowNeed = 229;
constexpr std::size_t kCombPositionRowNeed = 322;
constexpr std::size_t kStrategyRowNeed = 360;
constexpr std::size_t kExecPositionRowNeed = 238;

constexpr std::size_t kAssetAt = 35;
constexpr int32_t kRule999 = 999;

enum class LastRule {
    kTotal,       // the row whose position reaches the total
    kTotal999,    // that, or the first row beyond position 999
    kAnswerLast,  // the answer's flag on its last row; no follow-up
};

// The request that continues an answer: the framework writes the head (session number, request
// id, position), fill the echoed filters.
struct FollowUp {
    uint32_t msg_id;
    std::size_t length;
    void (*fill)(const RecordView& answer, char* body);
};

struct Family {
    const char* name;
    uint32_t msg_id;
    std::size_t rows_at;
    std::size_t row_need;
    std::size_t fund_echo_at;  // shown when the session is unknown; 0: none
    LastRule rule;
    FollowUp follow_up;
};

// ---- the echoes copied into the follow-ups -----------------------------------------------

template <typename T>
void Put(char* body, std::size_t off, T v) {
    wire::store<T>(body + off, v, wire::host_order());
}
void PutText(char* body, std::size_t off, std::size_t chars, const RecordView& a, std::size_t from,
             std::size_t width) {
    a.Text(body + off, chars + 1, from, width);
}

void FillOrderQuery(const RecordView& a, char* b) {  // 0x41d
    Put<uint64_t>(b, 25, a.At<uint64_t>(44));
    Put<int32_t>(b, 41, a.At<int32_t>(52));
    PutText(b, 49, 8, a, 56, 9);
    Put<uint64_t>(b, 182, a.At<uint64_t>(65));
    Put<uint64_t>(b, 190, a.At<uint64_t>(73));
    Put<int32_t>(b, 198, a.At<int32_t>(81));
}
void FillTradeQuery(const RecordView& a, char* b) {  // 0x41e
    Put<uint64_t>(b, 25, a.At<uint64_t>(44));
    Put<int32_t>(b, 41, a.At<int32_t>(52));
    PutText(b, 49, 8, a, 56, 9);
    Put<uint64_t>(b, 182, a.At<uint64_t>(65));
    Put<uint64_t>(b, 190, a.At<uint64_t>(73));
}
void FillPositionQuery(const RecordView& a, char* b) {  // 0x41f
    Put<uint64_t>(b, 25, a.At<uint64_t>(44));
    Put<int32_t>(b, 41, a.At<int32_t>(52));
    PutText(b, 45, 8, a, 56, 9);
    Put<int32_t>(b, 54, a.At<int32_t>(65));
}
void FillTransferQuery(const RecordView& a, char* b) {  // 0x41b
    Put<uint64_t>(b, 25, a.At<uint64_t>(36));
    Put<uint64_t>(b, 33, a.At<uint64_t>(44));
}
void FillAuctionQuery(const RecordView& a, char* b) {  // 0x426
    Put<uint64_t>(b, 25, a.At<uint64_t>(44));
    Put<int32_t>(b, 41, a.At<int32_t>(52));
    PutText(b, 45, 8, a, 56, 9);
}
void FillCombTradeQuery(const RecordView& a, char* b) {  // 0x418
    Put<uint64_t>(b, 25, a.At<uint64_t>(36));
    Put<int32_t>(b, 33, a.At<int32_t>(44));
    PutText(b, 37, 16, a, 48, 17);
    Put<uint64_t>(b, 54, a.At<uint64_t>(65));
    Put<uint64_t>(b, 62, a.At<uint64_t>(73));
}
void FillCombOrderQuery(const RecordView& a, char* b) {  // 0x417
    FillCombTradeQuery(a, b);
    Put<uint8_t>(b, 70, a.At<uint8_t>(81));
}
void FillCombPositionQuery(const RecordView& a, char* b) {  // 0x424
    Put<uint64_t>(b, 25, a.At<uint64_t>(44));
    a.Bytes(b + 41, 52, 8);  // fund-account index, then market
    PutText(b, 155, 16, a, 60, 17);
}
void FillExecPositionQuery(const RecordView& a, char* b) {  // 0x41a
    Put<uint64_t>(b, 25, a.At<uint64_t>(36));
    Put<int32_t>(b, 33, a.At<int32_t>(44));
    PutText(b, 37, 8, a, 48, 9);
    PutText(b, 46, 8, a, 57, 9);
}

constexpr FollowUp kNoFollowUp{0, 0, nullptr};

const Family kOrders{"OnQueryOrder", kMsgQueryOrderRsp, 149, kOrderRowNeed, 44, LastRule::kTotal999,
                     {0x41d, 206, &FillOrderQuery}};
const Family kTrades{"OnQueryTrade", kMsgQueryTradeRsp, 145, kTradeRowNeed, 44, LastRule::kTotal999,
                     {0x41e, 202, &FillTradeQuery}};
const Family kPositions{"OnQueryPosition", kMsgQueryPositionRsp, 133, kPositionRowNeed, 44, LastRule::kTotal,
                        {0x41f, 60, &FillPositionQuery}};
const Family kTransfers{"OnQueryFundTransfer", kMsgQueryFundTransferRsp, 52, kTransferRowNeed, 36,
                        LastRule::kTotal999, {0x41b, 41, &FillTransferQuery}};
const Family kAuctions{"OnQueryOptionAuctionInfo", kMsgQueryAuctionInfoRsp, 129, kAuctionRowNeed, 44,
                       LastRule::kTotal, {0x426, 64, &FillAuctionQuery}};
const Family kCombOrders{"OnQueryOptionCombinedOrders", kMsgQueryCombOrdersRsp, 146, kCombOrderRowNeed, 36,
                         LastRule::kTotal, {0x417, 79, &FillCombOrderQuery}};
const Family kCombTrades{"OnQueryOptionCombinedTrades", kMsgQueryCombTradesRsp, 145, kCombTradeRowNeed, 36,
                         LastRule::kTotal, {0x418, 78, &FillCombTradeQuery}};
const Family kCombPositions{"OnQueryOptionCombinedPosition", kMsgQueryCombPositionRsp, 141, kCombPositionRowNeed, 44,
                            LastRule::kTotal, {0x424, 172, &FillCombPositionQuery}};
const Family kStrategies{"OnQueryOptionCombinedStrategyInfo", kMsgQueryCombStrategyRsp, 36, kStrategyRowNeed, 0,
                         LastRule::kAnswerLast, kNoFollowUp};
const Family kExecPositions{"OnQueryOptionCombinedExecPosition", kMsgQueryCombExecPositionRsp, 66,
                            kExecPositionRowNeed, 36, LastRule::kTotal999, {0x41a, 55, &FillExecPositionQuery}};
const Family kOrdersByPage{"OnQueryOrderByPage", kMsgQueryOrderByPageRsp, 149, kOrderRowNeed, 44,
                           LastRule::kAnswerLast, kNoFollowUp};
const Family kTradesByPage{"OnQueryTradeByPage", kMsgQueryTradeByPageRsp, 145, kTradeRowNeed, 44,
                           LastRule::kAnswerLast, kNoFollowUp};
const Family kPositionsByPage{"OnQueryPositionByPage", kMsgQueryPositionByPageRsp, 133, kPositionRowNeed, 44,
                              LastRule::kAnswerLast, kNoFollowUp};

// ---- the framework -------------------------------------------------------------------------

// What every answer starts with: its head, the message and the session it belongs to.
struct Answer {
    OptQueryRspHead head;
    RecordView msg;
    const tagSessionInfo* info;
    int frame_id;         // the request id of the answer's frame
    int request_id;       // R: the low 32 bits of the head's request id
    uint64_t session_id;  // S
    PageContinuation::Key key;
};

// False when the answer belongs to no session known here, or to no one session of those that
// share its number (logged).
bool Open(const Family& f, const char* data, int len, uint32_t node_id, int frame_id, Answer* a) {
    spdlog::debug("{}\n\n\n", f.name);
    const std::size_t n_len = static_cast<std::size_t>(len);
    ReadRspHead(data, n_len, &a->head);
    a->msg = RecordView(data, n_len);
    const uint64_t fund_echo = f.fund_echo_at ? a->msg.At<uint64_t>(f.fund_echo_at) : 0;
    OptionTraderImpl* api = GetInnerApi();
    AnswerSessions::Found found;
    if (api) found = api->FindSessionInfo({a->head.session_no, node_id, frame_id, fund_echo}, f.name);
    a->info = found.record;
    if (a->info == nullptr) {
        if (found.undecided) return false;
        if (f.msg_id == kMsgQueryCombStrategyRsp)
            spdlog::error("ptr_session_info_opt == NULL");
        else
            spdlog::error("ptr_session_info_opt == NULL. fundacc={}, sessionid={}", fund_echo, a->head.session_no);
        return false;
    }
    a->frame_id = frame_id;
    a->request_id = static_cast<int>(static_cast<uint32_t>(a->head.request_id));
    a->session_id = a->info->nApiSessionID;
    a->key = PageContinuation::Key{a->session_id, f.msg_id, a->head.request_id};
    return true;
}

// The query the answer belongs to has had its last answer: it no longer counts as in flight.
void Close(const Answer& a) {
    if (OptionTraderImpl* api = GetInnerApi()) api->Sessions().EndQuery(a.session_id, a.frame_id);
}

OXAErrorInfo CodeOnly(int32_t code) {
    OXAErrorInfo e{};
    e.error_id = code;
    return e;
}

// The rows of an answer that lie inside its message; 0 for an error answer or none. Logs what
// does not fit.
uint64_t RowsOf(const Family& f, const Answer& a) {
    const OptQueryRspHead& h = a.head;
    if (h.error_code != 0 || h.record <= 0) {
        if (h.record < 0) spdlog::error("[{}] negative record count {}", f.name, h.record);
        return 0;
    }
    const uint64_t wanted = static_cast<uint64_t>(h.record);
    const uint64_t n = RowsInside(wanted, a.msg.size(), f.rows_at, h.record_size, f.row_need);
    if (n < wanted)
        spdlog::error("[{}] {} of {} rows inside the {} bytes (row size {}, {} needed)", f.name, n, wanted,
                      a.msg.size(), h.record_size, f.row_need);
    return n;
}

RecordView RowAt(const Family& f, const Answer& a, uint64_t i) {
    const uint64_t at = f.rows_at + i * a.head.record_size;
    const uint64_t left = a.msg.size() - at;
    return RecordView(a.msg.data() + at,
                      static_cast<std::size_t>(a.head.record_size < left ? a.head.record_size : left));
}

// A row's position for the paging table: a negative one asks for nothing.
uint64_t PagePosition(int32_t position) { return position > 0 ? static_cast<uint64_t>(position) : 0; }

int SendFollowUp(const Family& f, const Answer& a, int32_t position) {
    char body[kPackMaxLength] = {};
    if (f.follow_up.length > sizeof body) return kErrBadParameter;
    Put<uint64_t>(body, 0, a.head.session_no);
    Put<uint64_t>(body, 8, a.head.request_id);
    Put<int32_t>(body, 16, position);
    f.follow_up.fill(a.msg, body);
    return SendToGatewayServer(a.session_id, body, f.follow_up.msg_id, static_cast<int>(f.follow_up.length),
                               a.request_id);
}

// A self-continuing (or strategy) answer: convert(row, record) fills a zeroed record; call(record,
// error, R, is_last, S) reaches the application.
template <typename Rec, typename Convert, typename Call>
void Continuing(const Family& f, const char* data, int len, uint32_t node_id, int frame_id, Convert convert,
                Call call) {
    Answer a{};
    if (!Open(f, data, len, node_id, frame_id, &a)) return;
    const OptQueryRspHead& h = a.head;
    const uint64_t n = RowsOf(f, a);
    if (n == 0) {
        Continuations().Finish(a.key, 0);
        if (f.rule != LastRule::kAnswerLast || h.is_last) Close(a);
        // a plain error or empty answer carries its own code; a malformed one ended the query early
        OXAErrorInfo e = h.error_code != 0 || h.record == 0 ? CodeOnly(h.error_code) : EndedEarlyError();
        call(static_cast<Rec*>(nullptr), &e, a.request_id, true, a.session_id);
        return;
    }
    const bool cut = n < static_cast<uint64_t>(h.record);
    OXAErrorInfo none{};
    int32_t first = 0;
    int32_t position = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const RecordView row = RowAt(f, a, i);
        position = row.At<int32_t>(0);
        if (i == 0) first = position;
        Rec rec{};
        convert(row, rec);
        spdlog::debug("--------------------------[{}]:[{}]----------------------------", position, h.total);
        bool last;
        if (f.rule == LastRule::kAnswerLast) {
            last = i + 1 == n && h.is_last;
        } else {
            last = static_cast<uint32_t>(position) >= h.total || (f.rule == LastRule::kTotal999 && position > kRule999);
        }
        call(&rec, &none, a.request_id, last, a.session_id);
        if (last) {
            Continuations().Finish(a.key, PagePosition(first));
            Close(a);
            return;
        }
    }
    if (f.rule == LastRule::kAnswerLast) return;
    if (cut) {
        Continuations().Finish(a.key, PagePosition(first));
        Close(a);
        spdlog::error("[{}] page cut short after position {}: the query ends", f.name, position);
        OXAErrorInfo e = EndedEarlyError();
        call(static_cast<Rec*>(nullptr), &e, a.request_id, true, a.session_id);
        return;
    }
    const PageContinuation::Step step =
        Continuations().ContinuePage(a.key, PagePosition(first), PagePosition(position),
                                     [&] { return SendFollowUp(f, a, position); });
    if (step.asked()) return;
    Close(a);
    if (step.outcome == PageContinuation::Outcome::kSendFailed)
        spdlog::error("[{}] next page from {} not sent ({}): the query ends", f.name, position, step.code);
    else
        spdlog::error("[{}] page from {} to {} is not the next of a query or over its page cap: the query ends",
                      f.name, first, position);
    OXAErrorInfo e = ContinueErrorOf(step);
    call(static_cast<Rec*>(nullptr), &e, a.request_id, true, a.session_id);
}

// A paged answer: call(record, req_count, index, reference, R, is_last, S); the application
// asks for the next page itself.
template <typename Rec, typename Convert, typename Call>
void Paged(const Family& f, const char* data, int len, uint32_t node_id, int frame_id, Convert convert, Call call) {
    Answer a{};
    if (!Open(f, data, len, node_id, frame_id, &a)) return;
    // one answer per page the application asks for
    Close(a);
    const OptQueryRspHead& h = a.head;
    const int64_t req_count = a.msg.At<uint32_t>(31);
    const uint64_t n = RowsOf(f, a);
    if (n == 0) {
        call(static_cast<Rec*>(nullptr), req_count, 0, 0, a.request_id, true, a.session_id);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) {
        const RecordView row = RowAt(f, a, i);
        const int32_t position = row.At<int32_t>(0);
        Rec rec{};
        convert(row, rec);
        const bool last = i + 1 == n && h.is_last;
        call(&rec, req_count, static_cast<int64_t>(i + 1), static_cast<int64_t>(position), a.request_id, last,
             a.session_id);
    }
}

// ---- row conversions ---------------------------------------------------------------------

// The decimal number at the start of a text of width bytes: blanks skipped, an optional sign,
// no digits give 0; bounded to the int32 range.
int32_t LeadingNumber(const RecordView& r, std::size_t off, std::size_t width) {
    char text[32];
    r.Text(text, sizeof text, off, width < sizeof text - 1 ? width : sizeof text - 1);
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > INT32_MAX) {
            v = INT32_MAX;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -v : v);
}

void OrderRow(const RecordView& r, OXAOrderInfo& o, bool paged) {
    const uint64_t id = r.At<uint64_t>(1065);
    const uint64_t cancel_id = r.At<uint64_t>(1081);
    const int32_t business = r.At<int32_t>(139);
    const int32_t price_code = r.At<int32_t>(143);
    o.order_oxa_id = id;
    o.order_client_id = r.Low32(1057);
    o.order_cancel_client_id = r.Low32(1073);
    o.order_cancel_oxa_id = cancel_id;
    if (business == 429) {
        r.Bytes(o.ticker, 499, 8);
        r.Bytes(o.ticker + 8, 516, 8);
    } else {
        r.Bytes(o.ticker, 151, sizeof o.ticker);
    }
    o.market = r.At<int32_t>(67);
    o.price = r.At<double>(568);
    const int64_t quantity = r.At<int64_t>(576);
    const int64_t traded = r.At<int64_t>(632);
    o.quantity = quantity;
    o.price_type = QryPriceTypeTable(price_code);
    o.side = QrySide(business);
    o.position_effect = QryPositionEffect(business);
    o.client_id = GetClientIdByOXAID(price_code == 101 ? cancel_id : id);
    o.business_type = QryBusinessTypeTable(business);
    o.qty_traded = traded;
    o.qty_left = paged ? r.At<int64_t>(624) : WrappingSub(quantity, traded);
    o.insert_time = r.At<int64_t>(616);
    o.update_time = r.At<int64_t>(1037);
    o.cancel_time = r.At<int64_t>(1045);
    o.trade_amount = r.At<double>(640);
    DecimalText(o.order_local_id, r.At<int64_t>(39), 10);
    o.order_status = OrderStatusTable(r.Char(47));
    o.order_submit_status = r.At<int32_t>(1053);
    o.order_type = '0';
    spdlog::debug("order_oxa_id:{} order_status:{}", id, OrderStatusTable(r.Char(47)));
}

void TradeRow(const RecordView& r, OXATradeReport& t) {
    const uint64_t id = r.At<uint64_t>(971);
    const int32_t business = r.At<int32_t>(137);
    t.order_oxa_id = id;
    t.order_client_id = r.Low32(963);
    r.Text(t.ticker, 149, 16);
    t.market = r.At<int32_t>(65);
    t.price_type = QryPriceTypeTable(r.At<int32_t>(141));
    r.Text(t.exec_id, 866, 17);
    t.price = r.At<double>(883);
    t.quantity = r.At<int64_t>(891);
    t.trade_time = r.At<int64_t>(947);
    t.trade_amount = r.At<double>(899);
    t.report_index = r.At<uint64_t>(955);
    DecimalText(t.order_exch_id, r.At<int64_t>(39), sizeof t.order_exch_id);
    t.trade_type = '0';
    t.side = QrySide(business);
    t.position_effect = QryPositionEffect(business);
    t.business_type = QryBusinessTypeTable(business);
    t.client_id = GetClientIdByOXAID(id);
    r.Text(t.branch_pbu, 69, 7);
}

void PositionRow(const RecordView& r, OXAPositionInfo& p) {
    r.Text(p.ticker, 95, 16);
    r.Text(p.ticker_name, 153, 64);
    p.market = r.At<int32_t>(22);
    const int64_t sellable = r.At<int64_t>(428);
    p.total_qty = r.At<int64_t>(420);
    p.sellable_qty = sellable;
    p.avg_price = r.At<double>(508);
    p.unrealized_pnl = r.At<double>(588);
    p.yesterday_position = r.At<int64_t>(412);
    const int32_t direction = PositionDirection(r.Char(410));
    p.position_direction = direction;
    p.executable_option = direction == 1 ? sellable : 0;
}

void TransferRow(const RecordView& r, OXAFundTransferNotice& t) {
    t.order_oxa_id = r.At<uint64_t>(4);
    t.transfer_type = TransferType(r.Char(12));
    t.amount = r.At<double>(13);
    const int32_t status = r.At<int32_t>(21);
    t.oper_status = status == '1' ? 1 : status == '2' ? 2 : status == '0' ? 0 : 4;
    t.transfer_time = r.At<uint64_t>(25);
}

void AuctionRow(const RecordView& r, OXAOptionAuctionInfo& x) {
    r.Text(x.ticker, 25, 9);
    const int32_t market = r.At<int32_t>(34);
    x.security_id_source = market;
    x.underlying_security_id_source = market;
    r.Text(x.symbol, 38, 256);
    r.Text(x.contract_id, 294, 41);
    r.Text(x.underlying_security_id, 335, 7);
    x.list_date = LeadingNumber(r, 342, 9);
    x.last_trade_date = LeadingNumber(r, 351, 9);
    x.ticker_type = 4;
    x.call_or_put = r.Char(360) == 'C' ? 1 : 2;
    x.delivery_day = LeadingNumber(r, 361, 9);
    x.exercise_type = r.Char(370) == 'A' ? 2 : 1;
    x.exercise_begin_date = LeadingNumber(r, 371, 9);
    x.exercise_end_date = LeadingNumber(r, 380, 9);
    x.exercise_price = r.At<double>(389);
    x.qty_unit = r.At<int64_t>(405);
    x.contract_unit = r.At<int64_t>(413);
    x.contract_position = r.At<int64_t>(421);
    x.prev_close_price = r.At<double>(429);
    x.prev_clearing_price = r.At<double>(437);
    const int64_t lmt_min = r.At<int64_t>(445);
    x.lmt_buy_min_qty = lmt_min;
    x.lmt_sell_min_qty = lmt_min;
    x.lmt_buy_max_qty = r.At<int64_t>(453);
    x.lmt_sell_max_qty = r.At<int64_t>(461);
    const int64_t mkt_min = r.At<int64_t>(469);
    x.mkt_buy_min_qty = mkt_min;
    x.mkt_sell_min_qty = mkt_min;
    x.mkt_buy_max_qty = r.At<int64_t>(477);
    x.mkt_sell_max_qty = r.At<int64_t>(485);
    x.price_tick = r.At<double>(509);
    x.upper_limit_price = r.At<double>(517);
    x.lower_limit_price = r.At<double>(525);
    x.sell_margin = r.At<double>(533);
    x.margin_ratio_param1 = r.At<double>(541);
    x.margin_ratio_param2 = r.At<double>(549);
}

// The four 24-byte legs of a combination row from at; the count is the legs with a quantity.
int32_t CombLegs(const RecordView& r, std::size_t at, OXAOptCombLeg (&legs)[kMaxLegs]) {
    int32_t n = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kMaxLegs); ++i) {
        const std::size_t leg = at + 24 * i;
        OXAOptCombLeg& l = legs[i];
        r.Text(l.leg_security_id, leg, 17);
        l.leg_cntr_type = ContractType(r.Char(leg + 17));
        const LegCodes codes = CombinationLeg(r.Char(leg + 18), r.Char(leg + 19));
        l.leg_side = codes.side;
        l.leg_covered = codes.covered;
        const int32_t qty = r.At<int32_t>(leg + 20);
        l.leg_qty = qty;
        n += qty > 0;
    }
    return n;
}

void CombOrderRow(const RecordView& r, OXAOptCombOrderInfo& o) {
    const int32_t business = r.At<int32_t>(48);
    o.order_oxa_id = r.At<uint64_t>(4);
    o.order_client_id = r.Low32(12);
    o.market = r.At<int32_t>(36);
    const int64_t quantity = r.At<int64_t>(40);
    const int64_t traded = r.At<int64_t>(52);
    o.quantity = quantity;
    // codes other than the two combination codes have no side in the table: unknown
    o.side = business == 435 ? 31 : business == 436 ? (r.Char(244) == '1' ? 33 : 32) : 50;
    o.business_type = 13;
    o.qty_traded = traded;
    o.qty_left = r.Char(60) == 'Y' ? r.At<int64_t>(61) : WrappingSub(quantity, traded);
    o.insert_time = r.At<int64_t>(69);
    o.update_time = r.At<int64_t>(77);
    o.cancel_time = r.At<int64_t>(85);
    o.trade_amount = r.At<double>(93);
    DecimalText(o.order_local_id, r.At<int64_t>(101), 10);
    o.order_status = OrderStatusTable(r.Char(109));
    o.order_submit_status = r.At<int32_t>(110);
    o.order_type = '3';
    r.Text(o.strategy_id, 114, 9);
    r.Text(o.comb_num, 131, 17);
    o.num_legs = CombLegs(r, 148, o.legs);
}

void CombTradeRow(const RecordView& r, OXAOptCombTradeReport& t) {
    const uint64_t system_id = r.At<uint64_t>(12);
    t.order_oxa_id = r.At<uint64_t>(220);
    t.order_client_id = r.Low32(212);
    t.market = r.At<int32_t>(20);
    t.system_id = system_id;
    r.Text(t.exec_id, 24, 17);
    t.quantity = r.At<int64_t>(41);
    t.trade_time = r.At<int64_t>(49);
    t.trade_amount = r.At<double>(57);
    t.report_index = r.At<uint64_t>(65);
    DecimalText(t.order_exch_id, static_cast<int64_t>(system_id), sizeof t.order_exch_id);
    t.trade_type = '0';
    t.side = CombinationSide(r.Char(73), r.Char(228));
    t.business_type = 13;
    r.Text(t.branch_pbu, 204, 8);
    r.Text(t.strategy_id, 74, 9);
    r.Text(t.comb_num, 91, 17);
    t.num_legs = CombLegs(r, 108, t.legs);
}

void CombPositionRow(const RecordView& r, OXAOptCombPositionInfo& p) {
    r.Bytes(p.strategy_id, 112, sizeof p.strategy_id);
    r.Bytes(p.comb_info.strategy_id, 112, sizeof p.comb_info.strategy_id);
    r.Bytes(p.strategy_name, 129, sizeof p.strategy_name);
    p.market = r.At<int32_t>(22);
    p.total_qty = r.At<int64_t>(178);
    p.available_qty = r.At<int64_t>(186);
    p.yesterday_position = r.At<int64_t>(170);
    // the 18 bytes at 95 would take the strategy id's first byte at 112: the number ends before it
    r.Text(p.comb_info.comb_num, 95, 17);
    // the count is the combination's (up to the record's four legs); the row carries two of them
    const int16_t wire = r.At<int16_t>(266);
    p.comb_info.num_legs = wire < 0 ? 0 : wire > kMaxLegs ? kMaxLegs : wire;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t leg = 268 + 27 * i;
        OXAOptCombLeg& l = p.comb_info.legs[i];
        r.Bytes(l.leg_security_id, leg, sizeof l.leg_security_id);
        l.leg_cntr_type = ContractType(r.Char(leg + 17));
        const char side = r.Char(leg + 18);
        l.leg_covered = side == 'C' ? 1 : 0;
        l.leg_side = side == 'L' ? 1 : 2;
        l.leg_qty = static_cast<int32_t>(r.Low32(leg + 19));
    }
}

int32_t SplitType(char c) { return c == 'N' ? 2 : c == 'D' ? 1 : 0; }

void StrategyRow(const RecordView& r, OXAOptCombStrategyInfo& s) {
    r.Text(s.strategy_id, 8, 17);
    r.Text(s.strategy_name, 25, 41);
    s.market = r.Char(4) == '0' ? 1 : 2;
    const int16_t wire = r.At<int16_t>(326);
    s.leg_num = wire < 0 ? 0 : wire > kMaxLegs ? kMaxLegs : wire;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kMaxLegs); ++i) {
        const std::size_t leg = 328 + 8 * i;
        OXAOptCombStrategyLeg& l = s.legs[i];
        l.call_or_put = ContractType(r.Char(leg));
        l.position_side = r.Char(leg + 1) == 'L' ? 1 : 2;
        l.exercise_price_seq = static_cast<uint8_t>(r.At<uint16_t>(leg + 2));
        l.expire_date_seq = r.At<int16_t>(leg + 4);
        l.leg_qty = r.At<int16_t>(leg + 6);
    }
    s.underlying_type = SplitType(r.Char(66));
    s.auto_sep_type = SplitType(r.Char(67));
    s.expire_date_type = LeadingNumber(r, 68, 9);
}

void ExecPositionRow(const RecordView& r, OXAOptCombExecPositionInfo& x) {
    x.market = r.At<int32_t>(4);
    r.Text(x.cntrt_code_1, 8, 9);
    r.Text(x.cntrt_name_1, 17, 65);
    x.position_side_1 = 1;
    x.call_or_put_1 = ContractType(r.Char(82));
    x.avl_qty_1 = r.At<int64_t>(83);
    x.orig_own_qty_1 = r.At<int64_t>(91);
    x.own_qty_1 = r.At<int64_t>(99);
    r.Text(x.cntrt_code_2, 107, 9);
    r.Text(x.cntrt_name_2, 116, 65);
    x.position_side_2 = 1;
    x.call_or_put_2 = ContractType(r.Char(181));
    x.avl_qty_2 = r.At<int64_t>(182);
    x.orig_own_qty_2 = r.At<int64_t>(190);
    x.own_qty_2 = r.At<int64_t>(198);
    x.net_qty = r.At<int64_t>(206);
    x.order_qty = r.At<int64_t>(214);
    x.confirm_qty = r.At<int64_t>(222);
    x.avl_qty = r.At<int64_t>(230);
}

// ---- the handlers --------------------------------------------------------------------------

#define OPT_ANSWER(name)                                                                                          \
    void name(CTradeDriver&, int frame_id, int32_t, const char* data, int len, int, bool, int16_t, int16_t, \
              uint32_t node_id)

TraderSpi* Spi() { return GetTraderSpi(); }

OPT_ANSWER(OnQueryOrder) {
    Continuing<OXAOrderInfo>(
        kOrders, data, len, node_id, frame_id, [](const RecordView& r, OXAOrderInfo& o) { OrderRow(r, o, false); },
        [](OXAOrderInfo* o, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOrder(o, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryTrade) {
    Continuing<OXATradeReport>(
        kTrades, data, len, node_id, frame_id, [](const RecordView& r, OXATradeReport& t) { TradeRow(r, t); },
        [](OXATradeReport* t, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryTrade(t, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryPosition) {
    Continuing<OXAPositionInfo>(
        kPositions, data, len, node_id, frame_id, [](const RecordView& r, OXAPositionInfo& p) { PositionRow(r, p); },
        [](OXAPositionInfo* p, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryPosition(p, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryFundTransfer) {
    Continuing<OXAFundTransferNotice>(
        kTransfers, data, len, node_id, frame_id,
        [](const RecordView& r, OXAFundTransferNotice& t) { TransferRow(r, t); },
        [](OXAFundTransferNotice* t, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryFundTransfer(t, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionAuctionInfo) {
    Continuing<OXAOptionAuctionInfo>(
        kAuctions, data, len, node_id, frame_id, [](const RecordView& r, OXAOptionAuctionInfo& x) { AuctionRow(r, x); },
        [](OXAOptionAuctionInfo* x, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionAuctionInfo(x, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionCombinedOrders) {
    Continuing<OXAOptCombOrderInfo>(
        kCombOrders, data, len, node_id, frame_id, [](const RecordView& r, OXAOptCombOrderInfo& o) { CombOrderRow(r, o); },
        [](OXAOptCombOrderInfo* o, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (o == nullptr) spdlog::debug("{}:记录数为0或者出错", "OnQueryOptionCombinedOrders");
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionCombinedOrders(o, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionCombinedTrades) {
    Continuing<OXAOptCombTradeReport>(
        kCombTrades, data, len, node_id, frame_id,
        [](const RecordView& r, OXAOptCombTradeReport& t) { CombTradeRow(r, t); },
        [](OXAOptCombTradeReport* t, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionCombinedTrades(t, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionCombinedPosition) {
    Continuing<OXAOptCombPositionInfo>(
        kCombPositions, data, len, node_id, frame_id,
        [](const RecordView& r, OXAOptCombPositionInfo& p) { CombPositionRow(r, p); },
        [](OXAOptCombPositionInfo* p, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionCombinedPosition(p, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionCombinedStrategyInfo) {
    Continuing<OXAOptCombStrategyInfo>(
        kStrategies, data, len, node_id, frame_id,
        [](const RecordView& r, OXAOptCombStrategyInfo& x) { StrategyRow(r, x); },
        [](OXAOptCombStrategyInfo* x, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionCombinedStrategyInfo(x, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOptionCombinedExecPosition) {
    Continuing<OXAOptCombExecPositionInfo>(
        kExecPositions, data, len, node_id, frame_id,
        [](const RecordView& r, OXAOptCombExecPositionInfo& x) { ExecPositionRow(r, x); },
        [](OXAOptCombExecPositionInfo* x, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOptionCombinedExecPosition(x, e, id, last, s);
        });
}

OPT_ANSWER(OnQueryOrderByPage) {
    Paged<OXAOrderInfo>(
        kOrdersByPage, data, len, node_id, frame_id, [](const RecordView& r, OXAOrderInfo& o) { OrderRow(r, o, true); },
        [](OXAOrderInfo* o, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryOrderByPage(o, rc, idx, ref, id, last, s);
        });
}

OPT_ANSWER(OnQueryTradeByPage) {
    Paged<OXATradeReport>(
        kTradesByPage, data, len, node_id, frame_id, [](const RecordView& r, OXATradeReport& t) { TradeRow(r, t); },
        [](OXATradeReport* t, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryTradeByPage(t, rc, idx, ref, id, last, s);
        });
}

OPT_ANSWER(OnQueryPositionByPage) {
    Paged<OXAPositionInfo>(
        kPositionsByPage, data, len, node_id, frame_id, [](const RecordView& r, OXAPositionInfo& p) { PositionRow(r, p); },
        [](OXAPositionInfo* p, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = Spi()) spi->OnQueryPositionByPage(p, rc, idx, ref, id, last, s);
        });
}

// The asset and fund answers carry one OXAAssetInfo at 35; it is copied out of the message, and
// one that the message does not hold whole is not handed out.
template <typename Call>
void AssetAnswer(const char* name, uint32_t msg_id, const char* data, int len, uint32_t node_id, int frame_id,
                 Call call) {
    const Family f{name, msg_id, kAssetAt, sizeof(OXAAssetInfo), 0, LastRule::kAnswerLast, kNoFollowUp};
    Answer a{};
    if (!Open(f, data, len, node_id, frame_id, &a)) return;
    Close(a);
    OXAErrorInfo e = CodeOnly(a.head.error_code);
    if (a.head.error_code != 0 || a.head.record <= 0) {
        if (a.head.record < 0) spdlog::error("[{}] negative record count {}", name, a.head.record);
        call(nullptr, &e, a.request_id, true, a.session_id);
        return;
    }
    if (a.msg.size() < kAssetAt + sizeof(OXAAssetInfo)) {
        spdlog::error("[{}] answer of {} bytes holds no whole record ({} needed)", name, a.msg.size(),
                      kAssetAt + sizeof(OXAAssetInfo));
        call(nullptr, &e, a.request_id, true, a.session_id);
        return;
    }
    OXAAssetInfo asset;
    a.msg.Bytes(&asset, kAssetAt, sizeof asset);
    call(&asset, &e, a.request_id, a.head.is_last, a.session_id);
}

OPT_ANSWER(OnQueryAsset) {
    AssetAnswer("OnQueryAsset", kMsgQueryAssetRsp, data, len, node_id, frame_id,
                [](OXAAssetInfo* asset, OXAErrorInfo* e, int id, bool last, uint64_t s) {
                    if (asset) {
                        const double total = asset->total_asset;
                        spdlog::debug("OnQueryAsset:    total_asset                 :{}", total);
                        spdlog::debug("error_id:{}", e->error_id);
                    }
                    if (TraderSpi* spi = Spi()) spi->OnQueryAsset(asset, e, id, last, s);
                });
}

OPT_ANSWER(OnQueryFund) {
    AssetAnswer("OnQueryFund", kMsgQueryFundRsp, data, len, node_id, frame_id,
                [](OXAAssetInfo* asset, OXAErrorInfo* e, int id, bool, uint64_t s) {
                    OXAFundInfo fund{};
                    if (asset) {
                        fund.account_type = asset->account_type;
                        fund.buying_power = asset->buying_power;
                        fund.withholding_amount = asset->withholding_amount;
                        fund.frozen_margin = asset->frozen_margin;
                        fund.frozen_exec_cash = asset->frozen_exec_cash;
                        fund.frozen_exec_fee = asset->frozen_exec_fee;
                        fund.orig_banlance = asset->orig_banlance;
                        fund.banlance = asset->banlance;
                        fund.deposit_withdraw = asset->deposit_withdraw;
                        fund.trade_netting = asset->trade_netting;
                        fund.captial_asset = asset->captial_asset;
                        fund.preferred_amount = asset->preferred_amount;
                        const int32_t type = fund.account_type;
                        spdlog::debug("OnQueryFund:     account_type                :{}", type);
                        spdlog::debug("error_id:{}", e->error_id);
                    }
                    if (TraderSpi* spi = Spi()) spi->OnQueryFund(asset ? &fund : nullptr, e, id, s);
                });
}

#undef OPT_ANSWER

constexpr uint32_t kHeadLen = static_cast<uint32_t>(kRspHeadSize);

const HandlerBinding kAnswerHandlers[] = {
    {kMsgQueryPositionRsp, &OnQueryPosition, kHeadLen},
    {kMsgQueryAssetRsp, &OnQueryAsset, kHeadLen},
    {kMsgQueryFundRsp, &OnQueryFund, kHeadLen},
    {kMsgQueryOrderRsp, &OnQueryOrder, kHeadLen},
    {kMsgQueryTradeRsp, &OnQueryTrade, kHeadLen},
    {kMsgQueryAuctionInfoRsp, &OnQueryOptionAuctionInfo, kHeadLen},
    {kMsgQueryCombOrdersRsp, &OnQueryOptionCombinedOrders, kHeadLen},
    {kMsgQueryCombTradesRsp, &OnQueryOptionCombinedTrades, kHeadLen},
    {kMsgQueryCombPositionRsp, &OnQueryOptionCombinedPosition, kHeadLen},
    {kMsgQueryCombStrategyRsp, &OnQueryOptionCombinedStrategyInfo, kHeadLen},
    {kMsgQueryCombExecPositionRsp, &OnQueryOptionCombinedExecPosition, kHeadLen},
    {kMsgQueryFundTransferRsp, &OnQueryFundTransfer, kHeadLen},
    {kMsgQueryOrderByPageRsp, &OnQueryOrderByPage, kHeadLen},
    {kMsgQueryTradeByPageRsp, &OnQueryTradeByPage, kHeadLen},
    {kMsgQueryPositionByPageRsp, &OnQueryPositionByPage, kHeadLen},
};

}  // namespace

const HandlerBinding* QueryAnswerHandlers(std::size_t* count) noexcept {
    if (count) *count = sizeof kAnswerHandlers / sizeof kAnswerHandlers[0];
    return kAnswerHandlers;
}

uint32_t AnswerOfQuery(uint32_t request_msg_id) noexcept {
    switch (request_msg_id) {
        case 0x41d: return kMsgQueryOrderRsp;
        case 0x41e: return kMsgQueryTradeRsp;
        case 0x41f: return kMsgQueryPositionRsp;
        case 0x41b: return kMsgQueryFundTransferRsp;
        case 0x426: return kMsgQueryAuctionInfoRsp;
        case 0x417: return kMsgQueryCombOrdersRsp;
        case 0x418: return kMsgQueryCombTradesRsp;
        case 0x424: return kMsgQueryCombPositionRsp;
        case 0x41a: return kMsgQueryCombExecPositionRsp;
        default: return 0;
    }
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
