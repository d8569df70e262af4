// The spot requests: each passes the session gate, is packed by the request table and goes
// out on its path (orders to the order server, queries to the gateway).
#include <spdlog/spdlog.h>

#include <cstring>

#include "api_common/RequestGate.h"
#include "core/spot_api/SpotConvert.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "infra/utility/SystemFunctions.h"

namespace OXA {
namespace API {

using namespace SPOT;

namespace {
constexpr const char* kSourcePath = "trader_api/core/spot_api/SpotTraderApi";

// Releases the order spin flag at the end of the scope.
struct SpinGuard {
    std::atomic<bool>& flag;
    explicit SpinGuard(std::atomic<bool>& f) : flag(f) {
        while (flag.exchange(true, std::memory_order_acquire)) {
        }
    }
    ~SpinGuard() { flag.store(false, std::memory_order_release); }
};
}  // namespace

uint64_t SpotTraderImpl::SendOrderLike(PackRequest& req, uint64_t session_id) {
    const PackInfo* pack = PackInfoOf(req.op);
    tagSessionInfo* info = CheckRequest(session_id, pack->ctrl_type);
    if (info == nullptr) return 0;
    const PackSession session = MakePackSession(*info, session_id, GetClientId());
    // checked before an id is taken, so a refused request uses none
    PackResult check = PackCheckSpotRequest(req, session);
    if (!check.ok()) {
        if (check.error_code != 0) SetLastError(check.error_code, check.error_text);
        return 0;
    }
    char body[kPackMaxLength];
    // InsertOrder holds the flag from the id to the end of its send, so a back-end's order
    // ids leave in the order they were issued.
    std::unique_ptr<SpinGuard> spin;
    if (req.op == PackOp::InsertOrder) spin.reset(new SpinGuard(m_orderSpin));
    const uint64_t id = TakeOrderId(pack->name, session_id);
    if (id == 0) return 0;
    req.new_id = id;
    if (req.op == PackOp::FundTransfer) req.time_hhmmss = GetLocalTimeHHMMSS();
    // a value the wire has no code for still goes out (as byte 0): its log line names the id
    const CodeTrace trace(pack->name, id);
    const PackResult r = PackSpotRequest(req, session, body, sizeof body);
    if (!r.ok()) {
        if (r.error_code != 0) SetLastError(r.error_code, r.error_text);
        return 0;
    }
    if (SendToServer(session_id, r.msg_id, body, static_cast<int>(r.length), static_cast<int>(NextRequestId())) != 0) {
        switch (req.op) {
            case PackOp::InsertOrder: spdlog::error("insert order SendToServer Failed"); break;
            case PackOp::CancelOrder: spdlog::error("cancel order SendToServer failed"); break;
            default: spdlog::error("fundtransfer request SendToServer error!"); break;
        }
        return 0;
    }
    return id;
}

int SpotTraderImpl::SendQuery(PackRequest& req, uint64_t session_id, int request_id) {
    const PackInfo* pack = PackInfoOf(req.op);
    tagSessionInfo* info = CheckRequest(session_id, pack->ctrl_type);
    if (info == nullptr) return -1;
    req.request_id = request_id;
    const PackSession session = MakePackSession(*info, session_id, GetClientId());
    char body[kPackMaxLength];
    const CodeTrace trace(pack->name, 0);
    const PackResult r = PackSpotRequest(req, session, body, sizeof body);
    if (!r.ok()) {
        if (r.error_code != 0) SetLastError(r.error_code, r.error_text);
        return -1;
    }
    const int rc = SendToGatewayServer(session_id, r.msg_id, body, static_cast<int>(r.length), request_id);
    if (pack->log_stem != nullptr) {
        if (rc == 0)
            spdlog::debug("{} request send success", pack->log_stem);
        else
            spdlog::error("{} request send error!", pack->log_stem);
    }
    return rc;
}

uint64_t SpotTraderImpl::InsertOrder(const OrderInsertInfo* order, uint64_t session_id) {
    if (order == nullptr) {
        spdlog::error("OrderInsertInfo == nullptr !");
        SetLastError(kErrBadParameter);  // a failure the caller can read, not a stale last error
        return 0;
    }
    PackRequest req;
    req.op = PackOp::InsertOrder;
    req.order = order;
    return SendOrderLike(req, session_id);
}

uint64_t SpotTraderImpl::CancelOrder(uint64_t order_oxa_id, uint64_t session_id) {
    if (!OrderOfSession(*this, "CancelOrder", order_oxa_id, session_id)) return 0;
    PackRequest req;
    req.op = PackOp::CancelOrder;
    req.target_id = order_oxa_id;
    return SendOrderLike(req, session_id);
}

uint64_t SpotTraderImpl::FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) {
    spdlog::debug("\nFundTransfer session_id :{}", session_id);
    if (fund_transfer == nullptr) {
        spdlog::error("fund_transfer == nullptr !");
        SetLastError(kErrBadParameter);
        return 0;
    }
    PackRequest req;
    req.op = PackOp::FundTransfer;
    req.transfer = fund_transfer;
    return SendOrderLike(req, session_id);
}

#define OXA_SPOT_QUERY(op_name, setup)          \
    PackRequest req;                            \
    req.op = PackOp::op_name;                   \
    setup;                                      \
    return SendQuery(req, session_id, request_id)

int SpotTraderImpl::QueryOrderByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryOrderByOXAID", id, session_id)) return -1;
    OXA_SPOT_QUERY(QueryOrderByOXAID, req.target_id = id);
}
int SpotTraderImpl::QueryOrders(const OrderQueryParam* q, uint64_t session_id, int request_id) {
    if (q == nullptr) spdlog::trace("query_param->ticker == nullptr");
    OXA_SPOT_QUERY(QueryOrders, req.order_query = q);
}
int SpotTraderImpl::QueryUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryUnfinishedOrders, (void)0);
}
int SpotTraderImpl::QueryOrdersByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryOrdersByPage, req.page = q);
}
int SpotTraderImpl::QueryTradesByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryTradesByOXAID", id, session_id)) return -1;
    OXA_SPOT_QUERY(QueryTradesByOXAID, req.target_id = id);
}
int SpotTraderImpl::QueryTrades(const TradeQueryParam* q, uint64_t session_id, int request_id) {
    if (q == nullptr) spdlog::trace("query_param->ticker == nullptr");
    OXA_SPOT_QUERY(QueryTrades, req.trade_query = q);
}
int SpotTraderImpl::QueryTradesByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryTradesByPage, req.page = q);
}
int SpotTraderImpl::QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) {
    OXA_SPOT_QUERY(QueryPosition, (req.ticker = ticker, req.market = market));
}
int SpotTraderImpl::QueryPositionByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryPositionByPage, req.page = q);
}
int SpotTraderImpl::QueryAsset(uint64_t session_id, int request_id) { OXA_SPOT_QUERY(QueryAsset, (void)0); }
int SpotTraderImpl::QueryFund(uint64_t session_id, int request_id) { OXA_SPOT_QUERY(QueryFund, (void)0); }
int SpotTraderImpl::QueryFundTransfer(const FundTransferQueryParam* q, uint64_t session_id, int request_id) {
    if (!TransferQueryOfSession(*this, q, session_id)) return -1;
    OXA_SPOT_QUERY(QueryFundTransfer, req.transfer_query = q);
}
int SpotTraderImpl::QueryETFBaseInfo(const ETFQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryETFBaseInfo, req.etf_query = q);
}
int SpotTraderImpl::QueryETFTickerBasket(const ETFQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryETFTickerBasket, req.etf_query = q);
}
int SpotTraderImpl::QueryIPOInfoList(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryIPOInfoList, (void)0);
}
int SpotTraderImpl::QueryIPOQuotaInfo(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryIPOQuotaInfo, (void)0);
}
int SpotTraderImpl::QueryIssueInfoList(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryIssueInfoList, (void)0);
}
int SpotTraderImpl::QuerySecurityInfo(const TickerQueryParam* q, uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QuerySecurityInfo, req.ticker_query = q);
}
int SpotTraderImpl::QueryYesterdayAsset(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryYesterdayAsset, (void)0);
}
int SpotTraderImpl::QueryETFByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    spdlog::debug("{} {} {}", kSourcePath, __LINE__, "QueryETFByPage");
    PackRequest req;
    req.op = PackOp::QueryETFByPage;
    req.page = q;
    const int rc = SendQuery(req, session_id, request_id);
    if (rc > 0) spdlog::error("query_etf_by_page request send error!");
    return rc;
}
int SpotTraderImpl::QuerySecurityByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    spdlog::debug("{} {} {}", kSourcePath, __LINE__, "QuerySecurityByPage");
    PackRequest req;
    req.op = PackOp::QuerySecurityByPage;
    req.page = q;
    const int rc = SendQuery(req, session_id, request_id);
    if (rc > 0) spdlog::error("query security by page request send error!");
    return rc;
}
int SpotTraderImpl::QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) {
    OXA_SPOT_QUERY(QueryHKConnectIndicativeExchangeRateInfo, (void)0);
}
int SpotTraderImpl::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* q, uint64_t session_id,
                                              int request_id) {
    OXA_SPOT_QUERY(QueryHKConnectSpreadTable, req.spread_query = q);
}

int SpotTraderImpl::QueryOtherServerFund(const OtherServerFundQueryParam* q, uint64_t session_id, int request_id) {
    PackRequest req;
    req.op = PackOp::QueryOtherServerFund;
    req.other_fund_query = q;
    const int rc = SendQuery(req, session_id, request_id);
    if (rc > 0) {
        spdlog::error("[Query Other Server Fund] Request Send Error");
        SetLastError(6081, "数据发送失败");
    }
    return rc;
}

#undef OXA_SPOT_QUERY

// Not offered by spot; unlike the other not-offered queries these two answer 0.
int SpotTraderImpl::Reserved4(uint64_t, uint64_t, uint64_t) {
    NotOffered(kErrNotOffered);
    return 0;
}

int SpotTraderImpl::Reserved7(void*, uint64_t) {
    NotOffered(kErrNotOffered);
    return 0;
}

}  // namespace API
}  // namespace OXA
