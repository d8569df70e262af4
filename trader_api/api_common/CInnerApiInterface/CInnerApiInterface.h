// Base of the three back-ends (spot, margin, option). The facade reaches a back-end only
// through these operations; the request operations have the arguments and results of the
// TraderApi operation of the same name.
#pragma once

#include <oxa_api/OXAApiStruct.h>
#include <oxa_api/TraderSpi.h>

#include <cstdint>
#include <memory>

namespace tcp_framework {
namespace client {
class TcpClient;
}
}  // namespace tcp_framework

namespace OXA {
namespace API {

struct tagSessionInfo;

// Result of an operation a back-end does not offer (spot and option code).
constexpr int kNotOfferedResult = 6077;

class CInnerApiInterface {
public:
    CInnerApiInterface() = default;
    CInnerApiInterface(const CInnerApiInterface&) = delete;
    CInnerApiInterface& operator=(const CInnerApiInterface&) = delete;

    virtual ~CInnerApiInterface();

    // A message routed to this back-end (request id or bus tag first).
    virtual void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                        uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id);
    // Ends the back-end's work. The owner deletes the object afterwards, so this must not
    // destroy it.
    virtual void Release();
    virtual void RegisterSpi(TraderSpi* spi);
    virtual void SubscribePublicTopic(int resume_type);
    // Fund account of the id's session as decimal text; "" when unknown. The text stays
    // valid until the next call on the same thread.
    virtual const char* GetAccountByOXAID(uint64_t order_oxa_id);
    virtual uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account);
    virtual int StartSyncPush();
    virtual int Logout(uint64_t session_id);

    virtual int Reserved3(uint64_t session_id);
    virtual uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id);
    virtual uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id);
    virtual int QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryUnfinishedOrders(uint64_t session_id, int request_id);
    virtual int QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market);
    virtual int QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryAsset(uint64_t session_id, int request_id);
    virtual int QueryFund(uint64_t session_id, int request_id);
    virtual uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id);
    virtual int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                                  int request_id);
    virtual int QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryIPOInfoList(uint64_t session_id, int request_id);
    virtual int QueryIPOQuotaInfo(uint64_t session_id, int request_id);
    virtual int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                                       int request_id);
    virtual uint64_t CreditCashRepay(uint64_t session_id, double amount);
    virtual uint64_t CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                                  uint64_t session_id);
    virtual int Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id);
    virtual int QueryCreditInfo1(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo2(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo3(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo6(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int Reserved5(void* param, uint64_t session_id, int request_id);
    virtual int Reserved6(void* param, uint64_t session_id, int request_id);
    virtual int Reserved7(void* param, uint64_t session_id);
    virtual int Reserved8(void* param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo9(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual uint64_t InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id);
    virtual uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                               uint64_t session_id);
    virtual int QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int Reserved9(void* param, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int Reserved10(void* param, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                            int request_id);
    virtual int QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id);
    virtual int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id);
    virtual int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param,
                                                uint64_t session_id, int request_id);
    virtual int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                                     int request_id);
    virtual int QueryIssueInfoList(uint64_t session_id, int request_id);
    virtual int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual uint64_t CreditRequest(CreditRequestParam* request, uint64_t session_id);
    virtual int QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id);
    virtual int QueryYesterdayAsset(uint64_t session_id, int request_id);
    virtual int QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id);
    virtual int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param,
                                                  uint64_t session_id, int request_id);
    virtual tagSessionInfo* GetSessionInfo(uint64_t session_id);
};

}  // namespace API
}  // namespace OXA
