// The option requests: each passes the session gate, is packed by the request table and goes
// out on its path (orders to the order server, queries to the gateway). Nothing checks an
// order's values: the gateway judges them.
#include <spdlog/spdlog.h>

#include <cstring>
#include <optional>

#include "api/SessionTables.h"
#include "api_common/RequestGate.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTraderImpl.h"

namespace OXA {
namespace API {

using namespace OPT;

namespace {

// A business type the operation does not pack: logged and recorded, nothing is sent.
void LogBusinessNotServed(CInnerApiInterface& api, int business_type) {
    spdlog::error("not support business_type[{}]", business_type);
    api.SetLastError(kErrNotOfferedMargin);
}

}  // namespace

uint64_t OptionTraderImpl::SendOrderLike(PackRequest& req, uint64_t session_id, const char* send_error,
                                         int refused_business) {
    const PackInfo* pack = PackInfoOf(req.op);
    tagSessionInfo* info = CheckRequest(session_id, pack->ctrl_type);
    if (info == nullptr) return 0;
    // checked before an id is taken, so a refused request uses none
    const PackResult check = PackCheckOptRequest(req);
    if (!check.ok()) {
        SetLastError(check.error_code);
        return 0;
    }
    const PackSession session = MakePackSession(*info);
    char body[kPackMaxLength];
    // InsertOrder holds the flag from the id to the end of its send
    std::optional<OrderSpin> spin;
    if (req.op == PackOp::InsertOrder || req.op == PackOp::LockOrder) spin.emplace(m_bOrderLock);
    const uint64_t id = TakeOrderId(pack->name, session_id);
    if (id == 0) return 0;
    if (refused_business >= 0) {
        // the id taken is lost, as for a failed send: the next request takes the following one
        LogBusinessNotServed(*this, refused_business);
        return 0;
    }
    req.new_id = id;
    const PackResult r = PackOptRequest(req, session, body, sizeof body);
    if (!r.ok()) {
        SetLastError(r.error_code);
        return 0;
    }
    if (req.op == PackOp::FundTransfer) {
        spdlog::debug("FundTransfer:   session_no           :{}", session.session_no);
        spdlog::debug("                dest_fund_id         :{}", session.fund_account);
        spdlog::debug("                serial_id            :{}", id);
        const double amount = req.transfer->amount;  // a copy: the record is packed
        spdlog::debug("                amt                  :{}", amount);
        spdlog::debug("                side                 :{}", static_cast<int>(body[40]));
    }
    if (Send(false, nullptr, session_id, r.msg_id, body, static_cast<int>(r.length),
             static_cast<int>(NextRequestId())) != 0) {
        if (send_error != nullptr) spdlog::error("{}", send_error);
        return 0;
    }
    return id;
}

int OptionTraderImpl::SendQuery(PackRequest& req, uint64_t session_id, int request_id) {
    const PackInfo* pack = PackInfoOf(req.op);
    tagSessionInfo* info = CheckRequest(session_id, pack->ctrl_type);
    if (info == nullptr) return -1;
    req.request_id = request_id;
    char body[kPackMaxLength];
    const PackResult r = PackOptRequest(req, MakePackSession(*info), body, sizeof body);
    if (!r.ok()) {
        SetLastError(r.error_code);
        return -1;
    }
    spdlog::debug("{}: session_no :{} request_id :{} msg_id :0x{:x}", pack->name, info->nSessionID, request_id,
                  r.msg_id);
    // a query asked again under the same request id pages on its own, beside one still paging
    const uint32_t answer = AnswerOfQuery(r.msg_id);
    const PageContinuation::Key key{session_id, answer, static_cast<uint64_t>(static_cast<int64_t>(request_id))};
    const uint64_t ticket = answer != 0 ? Continuations().Start(key) : 0;
    const int rc = Send(true, nullptr, session_id, r.msg_id, body, static_cast<int>(r.length), request_id);
    if (rc != 0 && answer != 0) Continuations().Drop(key, ticket);
    return rc;
}

// ---------------------------------------------------------------------------------------
// Orders

uint64_t OptionTraderImpl::InsertOrder(const OrderInsertInfo* order, uint64_t session_id) {
    PackRequest req;
    req.order = order;
    if (order == nullptr) {
        req.op = PackOp::InsertOrder;  // refused by the packer's check, after the gate
    } else if (order->business_type == OXA_BUSINESS_TYPE_OPTION) {
        req.op = PackOp::InsertOrder;
    } else if (order->business_type == OXA_BUSINESS_TYPE_OPTION_LOCK) {
        req.op = PackOp::LockOrder;
    } else {
        req.op = PackOp::InsertOrder;
        return SendOrderLike(req, session_id, nullptr, order->business_type);
    }
    return SendOrderLike(req, session_id, nullptr);
}

uint64_t OptionTraderImpl::CancelOrder(uint64_t order_oxa_id, uint64_t session_id) {
    if (!OrderOfSession(*this, "CancelOrder", order_oxa_id, session_id)) return 0;
    PackRequest req;
    req.op = PackOp::CancelOrder;
    req.target_id = order_oxa_id;
    return SendOrderLike(req, session_id, "option cancel order SendToServer failed");
}

uint64_t OptionTraderImpl::InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) {
    PackRequest req;
    req.execute = order;
    if (order == nullptr || order->business_type == OXA_BUSINESS_TYPE_EXECUTE) {
        req.op = PackOp::ExecuteOrder;
    } else if (order->business_type == OXA_BUSINESS_TYPE_EXECUTE_COMBINE) {
        req.op = PackOp::CombinedExecuteOrder;
    } else {
        req.op = PackOp::ExecuteOrder;
        return SendOrderLike(req, session_id, nullptr, order->business_type);
    }
    return SendOrderLike(req, session_id, nullptr);
}

uint64_t OptionTraderImpl::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                                     uint64_t session_id) {
    PackRequest req;
    req.op = PackOp::CombOrder;
    req.comb = order;
    return SendOrderLike(req, session_id, "InsertOptionCombinedOrder SendToServer Failed");
}

uint64_t OptionTraderImpl::FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) {
    if (fund_transfer == nullptr) {
        spdlog::error("fund_transfer == nullptr !");
        return 0;
    }
    PackRequest req;
    req.op = PackOp::FundTransfer;
    req.transfer = fund_transfer;
    return SendOrderLike(req, session_id, "fundtransfer request SendToServer error!");
}

// ---------------------------------------------------------------------------------------
// Queries

#define OXA_OPT_QUERY(op_name, setup) \
    PackRequest req;                  \
    req.op = PackOp::op_name;         \
    setup;                            \
    return SendQuery(req, session_id, request_id)

int OptionTraderImpl::QueryOrderByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryOrderByOXAID", id, session_id)) return -1;
    OXA_OPT_QUERY(QueryOrderByOXAID, req.target_id = id);
}
int OptionTraderImpl::QueryOrders(const OrderQueryParam* q, uint64_t session_id, int request_id) {
    if (q == nullptr || q->ticker[0] == '\0') spdlog::trace("query_param->ticker == nullptr");
    OXA_OPT_QUERY(QueryOrders, req.order_query = q);
}
int OptionTraderImpl::QueryUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryUnfinishedOrders, (void)0);
}
int OptionTraderImpl::QueryOrdersByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryOrdersByPage, req.page = q);
}
int OptionTraderImpl::QueryTradesByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryTradesByOXAID", id, session_id)) return -1;
    OXA_OPT_QUERY(QueryTradesByOXAID, req.target_id = id);
}
int OptionTraderImpl::QueryTrades(const TradeQueryParam* q, uint64_t session_id, int request_id) {
    if (q == nullptr) spdlog::trace("query_param->ticker == nullptr");
    OXA_OPT_QUERY(QueryTrades, req.trade_query = q);
}
int OptionTraderImpl::QueryTradesByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryTradesByPage, req.page = q);
}
int OptionTraderImpl::QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) {
    if (ticker == nullptr) spdlog::trace("ticker == nullptr");
    OXA_OPT_QUERY(QueryPosition, (req.ticker = ticker, req.market = market));
}
int OptionTraderImpl::QueryPositionByPage(const PageQueryParam* q, uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryPositionByPage, req.page = q);
}
int OptionTraderImpl::QueryAsset(uint64_t session_id, int request_id) { OXA_OPT_QUERY(QueryAsset, (void)0); }
int OptionTraderImpl::QueryFund(uint64_t session_id, int request_id) { OXA_OPT_QUERY(QueryFund, (void)0); }
int OptionTraderImpl::QueryFundTransfer(const FundTransferQueryParam* q, uint64_t session_id, int request_id) {
    if (!TransferQueryOfSession(*this, q, session_id)) return -1;
    OXA_OPT_QUERY(QueryFundTransfer, req.transfer_query = q);
}
int OptionTraderImpl::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* q, uint64_t session_id,
                                             int request_id) {
    OXA_OPT_QUERY(QueryOptionAuctionInfo, req.auction_query = q);
}
int OptionTraderImpl::QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryCombUnfinishedOrders, (void)0);
}
int OptionTraderImpl::QueryOptionCombinedOrderByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryOptionCombinedOrderByOXAID", id, session_id)) return -1;
    OXA_OPT_QUERY(QueryCombOrderByOXAID, req.target_id = id);
}
int OptionTraderImpl::QueryOptionCombinedOrders(const OptCombOrderQueryParam* q, uint64_t session_id,
                                                int request_id) {
    if (q == nullptr) spdlog::trace("query_param->comb_num == nullptr");
    OXA_OPT_QUERY(QueryCombOrders, req.comb_query = q);
}
int OptionTraderImpl::QueryOptionCombinedTradesByOXAID(uint64_t id, uint64_t session_id, int request_id) {
    if (!OrderOfSession(*this, "QueryOptionCombinedTradesByOXAID", id, session_id)) return -1;
    OXA_OPT_QUERY(QueryCombTradesByOXAID, req.target_id = id);
}
int OptionTraderImpl::QueryOptionCombinedTrades(const OptCombOrderQueryParam* q, uint64_t session_id,
                                                int request_id) {
    if (q == nullptr) spdlog::trace("query_param->comb_num == nullptr");
    OXA_OPT_QUERY(QueryCombTrades, req.comb_query = q);
}
int OptionTraderImpl::QueryOptionCombinedPosition(const OptCombPositionQueryParam* q, uint64_t session_id,
                                                  int request_id) {
    OXA_OPT_QUERY(QueryCombPosition, req.comb_position = q);
}
int OptionTraderImpl::QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) {
    OXA_OPT_QUERY(QueryCombStrategyInfo, (void)0);
}
int OptionTraderImpl::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* q, uint64_t session_id,
                                                      int request_id) {
    OXA_OPT_QUERY(QueryCombExecPosition, req.comb_exec = q);
}

#undef OXA_OPT_QUERY

}  // namespace API
}  // namespace OXA
