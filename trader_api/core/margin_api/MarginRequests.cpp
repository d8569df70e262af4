// The margin requests: each checks its record, passes the session gate where its family has
// one, is packed by the request table and goes out on its path (the order path to the order
// server, queries to the gateway). What an order says is the gateway's to judge.
#include <spdlog/spdlog.h>

#include <cstring>
#include <optional>

#include "api/SessionTables.h"
#include "api_common/RequestGate.h"
#include "core/margin_api/MarginTraderImpl.h"

namespace OXA {
namespace API {

using namespace MARGIN;

namespace {

// The code a refused gate recorded: the session's record is gone, or its rate is spent.
int GateRefusal(uint64_t session_id) {
    return _gArrSessionInfo.Get(session_id) == nullptr ? kErrSessionInvalid : kErrOverSpeed;
}

// The margin gate's line for a spent rate: the session id, then the CtrlType.
constexpr const char* kMarginOverSpeedLog = "OXA_ERR_API_OVER_SPEED. SessionId={},CtrlType={}";

// These look the session up before any gate and return a missing one's 211004 without
// recording it; the code they return says it.
bool ReturnsMissingSessionUnrecorded(const PackInfo& pack, PackOp op) {
    return pack.family == PackFamily::Ungated || op == PackOp::QueryPosition;
}

}  // namespace

uint64_t MarginTraderImpl::SendOrderLike(PackRequest& req, uint64_t session_id, void* id_slot) {
    const PackInfo* pack = PackInfoOf(req.op);
    if (!HasRequiredRecord(req)) {
        if (pack->missing_log != nullptr) spdlog::error(pack->missing_log, pack->name);
        SetLastError(kErrBadParameter);
        return 0;
    }
    tagSessionInfo* info = GateRequest(*this, m_speedControl, session_id, 0, kMarginOverSpeedLog);
    if (info == nullptr) return 0;
    const PackSession session = MakePackSession(*info, GetClientId());
    char body[kPackMaxLength];
    // InsertOrder holds the flag from its id to the end of its send
    std::optional<OrderSpin> spin;
    if (req.op == PackOp::InsertOrder) spin.emplace(m_orderSpin);
    const uint64_t id = TakeOrderId(pack->name, session_id);
    if (id == 0) return 0;
    req.new_id = id;
    if (id_slot != nullptr) std::memcpy(id_slot, &id, sizeof id);
    const PackResult r = PackMarginRequest(req, session, body, sizeof body);
    if (!r.ok()) {
        SetLastError(kErrBadParameter);
        return 0;
    }
    if (SendToServer(session_id, r.msg_id, body, static_cast<int>(r.length), static_cast<int>(NextRequestId())) !=
        0) {
        if (pack->send_error_log != nullptr) spdlog::error("{}", pack->send_error_log);
        return 0;
    }
    return id;
}

int MarginTraderImpl::SendQuery(PackRequest& req, uint64_t session_id, int request_id) {
    const PackInfo* pack = PackInfoOf(req.op);
    const bool extended = pack->family == PackFamily::Extended;
    if (extended) spdlog::debug("{} {} {}", kPackSource, __LINE__, pack->name);
    if (!HasRequiredRecord(req)) {
        if (pack->missing_log != nullptr) spdlog::error(pack->missing_log, pack->name);
        SetLastError(kErrBadParameter);
        return -1;
    }
    tagSessionInfo* info = nullptr;
    if (ReturnsMissingSessionUnrecorded(*pack, req.op)) {
        info = _gArrSessionInfo.Get(session_id);
        if (info == nullptr) {
            spdlog::error("[session_id:{}] _gArrSessionInfo is nullptr", session_id);
            return kErrSessionInvalid;
        }
    }
    if (pack->family != PackFamily::Ungated) {
        info = GateRequest(*this, m_speedControl, session_id, 1, kMarginOverSpeedLog);
        if (info == nullptr) {
            // a refused query never reads as sent: its code, or -1 for an extended query
            const int code = GateRefusal(session_id);
            if (!extended) return code;
            spdlog::error(code == kErrOverSpeed ? "{} api over speed." : "{} session_id invalid", pack->name);
            return -1;
        }
    }
    req.request_id = request_id;
    char body[kPackMaxLength];
    const PackResult r = PackMarginRequest(req, MakePackSession(*info, GetClientId()), body, sizeof body);
    if (!r.ok()) {
        SetLastError(kErrBadParameter);
        return -1;
    }
    const int rc = SendQueryFrame(session_id, r.msg_id, body, static_cast<int>(r.length), request_id);
    if (rc != 0 && pack->send_error_log != nullptr) spdlog::error("{}", pack->send_error_log);
    return rc;
}

// ---------------------------------------------------------------------------------------
// Order path

uint64_t MarginTraderImpl::InsertOrder(const OrderInsertInfo* order, uint64_t session_id) {
    PackRequest req;
    req.op = PackOp::InsertOrder;
    req.order = order;
    return SendOrderLike(req, session_id);
}

uint64_t MarginTraderImpl::CancelOrder(uint64_t order_oxa_id, uint64_t session_id) {
    if (!OrderOfSession(*this, "CancelOrder", order_oxa_id, session_id)) return 0;
    PackRequest req;
    req.op = PackOp::CancelOrder;
    req.target_id = order_oxa_id;
    return SendOrderLike(req, session_id);
}

// These three hand their new id back in the first 8 bytes of the application's record, which
// then goes out as it stands; the id stays there also when the send fails.
uint64_t MarginTraderImpl::FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) {
    PackRequest req;
    req.op = PackOp::FundTransfer;
    req.transfer = fund_transfer;
    return SendOrderLike(req, session_id, fund_transfer);
}

uint64_t MarginTraderImpl::CreditCashRepay(uint64_t session_id, double amount) {
    if (!RepayAmountValid(amount)) {
        spdlog::error("[{}] amount {} is not a positive whole number of hundredths", "CreditCashRepay", amount);
        SetLastError(kErrRepayPrecision);
        return 0;
    }
    PackRequest req;
    req.op = PackOp::CreditCashRepay;
    req.amount = amount;
    return SendOrderLike(req, session_id);
}

uint64_t MarginTraderImpl::CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay, uint64_t session_id) {
    PackRequest req;
    req.op = PackOp::CreditCashRepaySpecifiedDebt;
    req.repay_debt = cash_repay;
    return SendOrderLike(req, session_id, cash_repay);
}

uint64_t MarginTraderImpl::CreditRequest(CreditRequestParam* request, uint64_t session_id) {
    PackRequest req;
    req.op = PackOp::CreditRequest;
    req.credit = request;
    return SendOrderLike(req, session_id, request);
}

// ---------------------------------------------------------------------------------------
// Queries

#define OXA_MARGIN_QUERY(op_name, setup)  \
    PackRequest req;                      \
    req.op = PackOp::op_name;             \
    setup;                                \
    return SendQuery(req, session_id, request_id)

int MarginTraderImpl::QueryOrderByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryOrderByOXAID", id, session_id)) return kErrOrderOfOtherSession;
    OXA_MARGIN_QUERY(QueryOrderByOXAID, req.target_id = id);
}
int MarginTraderImpl::QueryOrders(const OrderQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryOrders, req.order_query = q);
}
int MarginTraderImpl::QueryUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryUnfinishedOrders, (void)0);
}
int MarginTraderImpl::QueryOrdersByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryOrdersByPage, req.page = q);
}
int MarginTraderImpl::QueryTradesByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryTradesByOXAID", id, session_id)) return kErrOrderOfOtherSession;
    OXA_MARGIN_QUERY(QueryTradesByOXAID, req.target_id = id);
}
int MarginTraderImpl::QueryTrades(const TradeQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryTrades, req.trade_query = q);
}
int MarginTraderImpl::QueryTradesByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryTradesByPage, req.page = q);
}
int MarginTraderImpl::QueryPosition(const char* ticker, uint64_t session_id, int request_id, int) {
    OXA_MARGIN_QUERY(QueryPosition, req.ticker = ticker);  // the market is not sent
}
int MarginTraderImpl::QueryPositionByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryPositionByPage, req.page = q);
}
int MarginTraderImpl::QueryAsset(uint64_t session_id, int request_id) { OXA_MARGIN_QUERY(QueryAsset, (void)0); }
int MarginTraderImpl::QueryFund(uint64_t session_id, int request_id) { OXA_MARGIN_QUERY(QueryFund, (void)0); }
int MarginTraderImpl::QueryFundTransfer(const FundTransferQueryParam* q, uint64_t session_id, int request_id) {
    if (!TransferQueryOfSession(*this, q, session_id)) return kErrOrderOfOtherSession;
    OXA_MARGIN_QUERY(QueryFundTransfer, req.transfer_query = q);
}
int MarginTraderImpl::QueryIPOInfoList(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryIPOInfoList, (void)0);
}
int MarginTraderImpl::QueryIPOQuotaInfo(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryIPOQuotaInfo, (void)0);
}
int MarginTraderImpl::QueryCreditInfo1(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo1, (void)0);
}
int MarginTraderImpl::QueryCreditInfo2(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo2, (void)0);
}
int MarginTraderImpl::QueryCreditInfo3(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo3, (void)0);
}
int MarginTraderImpl::QueryCreditInfo4(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo4, req.page = q);
}
int MarginTraderImpl::QueryCreditInfo5(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo5, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo6(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo6, (void)0);
}
int MarginTraderImpl::QueryCreditInfo7(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo7, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo8(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo8, req.page = q);
}
int MarginTraderImpl::QueryCreditInfo9(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo9, (void)0);
}
int MarginTraderImpl::QueryCreditInfo10(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo10, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo11(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo11, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo12(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo12, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo13(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo13, req.ticker_query = q);
}
int MarginTraderImpl::QueryCreditInfo14(const uint64_t* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditInfo14, req.credit14 = q);
}
int MarginTraderImpl::QueryOtherServerFund(const OtherServerFundQueryParam*, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryOtherServerFund, (void)0);  // the parameter is not read
}
int MarginTraderImpl::QueryIssueInfoList(uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryIssueInfoList, (void)0);
}
int MarginTraderImpl::QuerySecurityInfo(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QuerySecurityInfo, req.ticker_query = q);
}
int MarginTraderImpl::QuerySecurityByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QuerySecurityByPage, req.page = q);
}
int MarginTraderImpl::QueryCreditPledgeStkByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditPledgeStkByPage, req.page = q);
}
int MarginTraderImpl::QueryCreditTargetStkByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_MARGIN_QUERY(QueryCreditTargetStkByPage, req.page = q);
}
int MarginTraderImpl::QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* q, uint64_t session_id,
                                                         int request_id) {
    OXA_MARGIN_QUERY(QueryCreditDebtToRepayTodayByPage, req.debt = q);
}

#undef OXA_MARGIN_QUERY

// ---------------------------------------------------------------------------------------
// Not offered by the margin business

#define OXA_MARGIN_NOT_OFFERED(result) \
    NotOffered(kErrNotOfferedMargin);  \
    return result

int MarginTraderImpl::QueryETFBaseInfo(const ETFQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryETFTickerBasket(const ETFQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::Reserved5(void*, uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::Reserved6(void*, uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::Reserved7(void*, uint64_t) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::Reserved8(void*, uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::QueryOptionCombinedUnfinishedOrders(uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryOptionCombinedOrderByOXAID(uint64_t, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryOptionCombinedOrders(const OptCombOrderQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::Reserved9(void*, uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::QueryOptionCombinedTradesByOXAID(uint64_t, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryOptionCombinedTrades(const OptCombOrderQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::Reserved10(void*, uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::QueryOptionCombinedPosition(const OptCombPositionQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryOptionCombinedStrategyInfo(uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::QueryYesterdayAsset(uint64_t, int) { OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin); }
int MarginTraderImpl::QueryETFByPage(const PageQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryHKConnectIndicativeExchangeRateInfo(uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam*, uint64_t, int) {
    OXA_MARGIN_NOT_OFFERED(kErrNotOfferedMargin);
}
int MarginTraderImpl::Reserved4(uint64_t, uint64_t, uint64_t) { OXA_MARGIN_NOT_OFFERED(0); }
uint64_t MarginTraderImpl::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo*, uint64_t) {
    OXA_MARGIN_NOT_OFFERED(0);
}

#undef OXA_MARGIN_NOT_OFFERED

}  // namespace API
}  // namespace OXA
