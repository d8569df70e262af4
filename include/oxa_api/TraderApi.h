// The trading API: one process-wide object, created by CreateTraderApi.
//
// Requests run on the caller's thread and return at once; answers and pushes arrive
// through the registered TraderSpi. S is the 64-bit session id that Login returns, R a
// request id the application chooses and gets back in the answer callbacks. Operations
// that return an id return 0 on failure; queries return 0 when sent, otherwise a code.
// The code and its text of the last failure are in GetApiLastError().
#pragma once

#include <cstdint>

#include "OXAApiStruct.h"
#include "TraderSpi.h"

#define OXA_API_EXPORT __attribute__((visibility("default")))

namespace OXA {
namespace API {

class TraderApi {
public:
    // The only exported function. client_id must be 1 to 127 and log_path not null;
    // otherwise the result is null and the reason is written to standard error. The
    // first accepted call creates the object and its log file; later calls return the
    // same object and change the client id only (the log file and level stay).
    OXA_API_EXPORT static TraderApi* CreateTraderApi(unsigned char client_id, const char* log_path,
                                                     OXA_LOG_LEVEL log_level);

    // CPU for the receiving thread and for the bus deliver thread; negative = no pinning.
    // Applied at the next Login.
    virtual void SetCpuAffinity(int receiver_cpu, int deliver_cpu) = 0;
    // Text of an error code (the session must be logged in). Valid until the next call
    // on the same thread.
    virtual const char* GetApiErrorMsg(int error_id, uint64_t session_id) = 0;
    // Ends every back-end and connection; the object itself stays and can log in again.
    // The gateway's off-line command runs it too, on a thread of the library.
    virtual void Release() = 0;
    // Trading day as decimal text, "0" before any login. Valid until the next call on the
    // same thread.
    virtual const char* GetTradingDay() = 0;
    // Callback object for back-ends created from now on. Each line of business (spot,
    // margin, option) has one back-end, created by the first Login of that business, and it
    // calls the object that was registered at that moment until Release, whatever is
    // registered later. So register before the first Login; an application may give each
    // business its own object by registering it before that business's first Login. An
    // object must stay alive until Release has returned (the log file names, at info level,
    // which back-end keeps which object). OnConnected and OnDisconnected go to the object
    // registered last.
    virtual void RegisterSpi(TraderSpi* spi) = 0;
    // The last-error record; a successful call does not clear it.
    virtual OXAErrorInfo* GetApiLastError() = 0;
    virtual const char* GetApiVersion() = 0;
    virtual uint8_t GetClientIDByOXAID(uint64_t order_oxa_id) = 0;
    // Fund account of the order's session as decimal text, "" when unknown.
    virtual const char* GetAccountByOXAID(uint64_t order_oxa_id) = 0;
    // 2 = do not replay missed pushes. Applies to back-ends created from now on.
    virtual void SubscribePublicTopic(int resume_type) = 0;
    virtual void Reserved1() = 0;
    virtual void Reserved2() = 0;

    // sock_type 1 = TCP, 2 = UDP (orders over the bus); any other value is refused with 1009.
    // The first Login that succeeds fixes the socket type for the process; a later one with
    // another type fails with 1006. Returns the session id, 0 on failure. Waits for the
    // gateway's answers, so on a callback thread it is refused at once with 1012.
    virtual uint64_t Login(const char* ip, int port, const char* user, const char* password, int sock_type,
                           const char* ether_name = nullptr, OXATerminalInfo* terminal_info = nullptr) = 0;
    // Waits up to 5 s for the gateway's answer, then ends the session (0), or returns 1005
    // and the session stays. On a callback thread it sends the logout and returns 0 at once;
    // the session ends when the gateway's answer arrives (a refusal keeps it).
    virtual int Logout(uint64_t session_id) = 0;
    virtual int Reserved3(uint64_t session_id) = 0;

    virtual uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id) = 0;
    virtual uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id) = 0;
    virtual int QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) = 0;
    virtual int QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryUnfinishedOrders(uint64_t session_id, int request_id) = 0;
    virtual int QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) = 0;
    virtual int QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) = 0;
    virtual int QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id,
                                    int request_id) = 0;
    virtual int QueryAsset(uint64_t session_id, int request_id) = 0;
    virtual int QueryFund(uint64_t session_id, int request_id) = 0;
    // The new serial id may be written into fund_transfer->serial_id.
    virtual uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) = 0;
    virtual int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    virtual int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                                     int request_id) = 0;
    virtual int QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id,
                                     int request_id) = 0;
    virtual int QueryIPOInfoList(uint64_t session_id, int request_id) = 0;
    virtual int QueryIPOQuotaInfo(uint64_t session_id, int request_id) = 0;
    virtual int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                                       int request_id) = 0;
    virtual uint64_t CreditCashRepay(uint64_t session_id, double amount) = 0;
    // The new order id may be written into cash_repay->id.
    virtual uint64_t CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                                  uint64_t session_id) = 0;
    virtual int Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id) = 0;
    virtual int QueryCreditInfo1(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo2(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo3(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id,
                                 int request_id) = 0;
    virtual int QueryCreditInfo6(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id,
                                 int request_id) = 0;
    virtual int QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int Reserved5(void* param, uint64_t session_id, int request_id) = 0;
    virtual int Reserved6(void* param, uint64_t session_id, int request_id) = 0;
    virtual int Reserved7(void* param, uint64_t session_id) = 0;
    virtual int Reserved8(void* param, uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo9(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    virtual uint64_t InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) = 0;
    virtual uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                               uint64_t session_id) = 0;
    virtual int QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) = 0;
    virtual int QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id,
                                                int request_id) = 0;
    virtual int QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id) = 0;
    virtual int Reserved9(void* param, uint64_t session_id, int request_id) = 0;
    virtual int QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id,
                                                 int request_id) = 0;
    virtual int QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id) = 0;
    virtual int Reserved10(void* param, uint64_t session_id, int request_id) = 0;
    virtual int QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                            int request_id) = 0;
    virtual int QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    virtual int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param,
                                                uint64_t session_id, int request_id) = 0;
    virtual int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    virtual int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    virtual int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id) = 0;
    virtual int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id) = 0;
    virtual int QueryIssueInfoList(uint64_t session_id, int request_id) = 0;
    virtual int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id,
                                  int request_id) = 0;
    // The new order id may be written into request->id.
    virtual uint64_t CreditRequest(CreditRequestParam* request, uint64_t session_id) = 0;
    virtual int QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QueryYesterdayAsset(uint64_t session_id, int request_id) = 0;
    virtual int QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) = 0;
    virtual int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id,
                                    int request_id) = 0;
    virtual int QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) = 0;
    virtual int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                          int request_id) = 0;
    virtual int QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param,
                                                  uint64_t session_id, int request_id) = 0;

protected:
    // The object lives until the process ends; the application never deletes it.
    TraderApi() = default;
    ~TraderApi() = default;
    TraderApi(const TraderApi&) = delete;
    TraderApi& operator=(const TraderApi&) = delete;
};

}  // namespace API
}  // namespace OXA
