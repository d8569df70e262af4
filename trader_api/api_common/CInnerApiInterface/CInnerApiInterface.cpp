// Defaults of the back-end operations: a back-end overrides what its business offers.
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

#include <cstdio>

#include "api/SessionTables.h"

namespace OXA {
namespace API {

CInnerApiInterface::~CInnerApiInterface() = default;

void CInnerApiInterface::OnRecv(int /*request_id*/, uint32_t /*msg_id*/, const char* /*body*/, int /*length*/,
                                int /*playback*/, uint8_t /*byte_order*/, int16_t /*src_group*/,
                                int16_t /*src_member*/, uint32_t /*node_id*/) {}
void CInnerApiInterface::Release() {}
void CInnerApiInterface::RegisterSpi(TraderSpi* /*spi*/) {}
void CInnerApiInterface::SubscribePublicTopic(int /*resume_type*/) {}
// Every back-end files its sessions in the shared tables, so the answer is the same for all.
const char* CInnerApiInterface::GetAccountByOXAID(uint64_t order_oxa_id) {
    const tagSessionInfo* info = _gArrSessionInfo[order_oxa_id >> 40];
    if (info == nullptr) return "";
    // per thread: callers on other threads must not see their text change under them
    thread_local char text[24];
    std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(info->nFundAcc));
    return text;
}
uint64_t CInnerApiInterface::Login(std::shared_ptr<tcp_framework::client::TcpClient> /*client*/,
                                   uint64_t /*fund_account*/) {
    return 0;
}
int CInnerApiInterface::StartSyncPush() { return 0; }
int CInnerApiInterface::Logout(uint64_t /*session_id*/) { return 0; }
int CInnerApiInterface::Reserved3(uint64_t /*session_id*/) { return 0; }
uint64_t CInnerApiInterface::InsertOrder(const OrderInsertInfo* /*order*/, uint64_t /*session_id*/) {
    return 0;
}
uint64_t CInnerApiInterface::CancelOrder(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/) { return 0; }
int CInnerApiInterface::QueryOrderByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOrders(const OrderQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                    int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryUnfinishedOrders(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOrdersByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTradesByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                           int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTrades(const TradeQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                    int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTradesByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryPosition(const char* /*ticker*/, uint64_t /*session_id*/, int /*request_id*/,
                                      int /*market*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryPositionByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                            int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryAsset(uint64_t /*session_id*/, int /*request_id*/) { return kNotOfferedResult; }
int CInnerApiInterface::QueryFund(uint64_t /*session_id*/, int /*request_id*/) { return kNotOfferedResult; }
uint64_t CInnerApiInterface::FundTransfer(FundTransferInfo* /*fund_transfer*/, uint64_t /*session_id*/) {
    return 0;
}
int CInnerApiInterface::QueryFundTransfer(const FundTransferQueryParam* /*query_param*/,
                                          uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFBaseInfo(const ETFQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFTickerBasket(const ETFQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                             int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIPOInfoList(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIPOQuotaInfo(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* /*query_param*/,
                                               uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::CreditCashRepay(uint64_t /*session_id*/, double /*amount*/) { return 0; }
uint64_t CInnerApiInterface::CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* /*cash_repay*/,
                                                          uint64_t /*session_id*/) {
    return 0;
}
int CInnerApiInterface::Reserved4(uint64_t /*value1*/, uint64_t /*value2*/, uint64_t /*session_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo1(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo2(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo3(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo4(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo5(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo6(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo7(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo8(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved5(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved6(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved7(void* /*param*/, uint64_t /*session_id*/) { return kNotOfferedResult; }
int CInnerApiInterface::Reserved8(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo9(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo10(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::InsertExecuteOrder(const ExecuteOrderInsertInfo* /*order*/,
                                                uint64_t /*session_id*/) {
    return 0;
}
uint64_t CInnerApiInterface::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* /*order*/,
                                                       uint64_t /*session_id*/) {
    return 0;
}
int CInnerApiInterface::QueryOptionCombinedUnfinishedOrders(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedOrderByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                                        int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedOrders(const OptCombOrderQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved9(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedTradesByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                                         int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedTrades(const OptCombOrderQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved10(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedPosition(const OptCombPositionQueryParam* /*query_param*/,
                                                    uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedStrategyInfo(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo11(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo12(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo13(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditPledgeStkByPage(const PageQueryParam* /*query_param*/,
                                                   uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditTargetStkByPage(const PageQueryParam* /*query_param*/,
                                                   uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* /*query_param*/,
                                                        uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOtherServerFund(const OtherServerFundQueryParam* /*query_param*/,
                                             uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIssueInfoList(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QuerySecurityInfo(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::CreditRequest(CreditRequestParam* /*request*/, uint64_t /*session_id*/) {
    return 0;
}
int CInnerApiInterface::QueryCreditInfo14(const uint64_t* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryYesterdayAsset(uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                       int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QuerySecurityByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                            int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryHKConnectIndicativeExchangeRateInfo(uint64_t /*session_id*/,
                                                                 int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* /*query_param*/,
                                                          uint64_t /*session_id*/, int /*request_id*/) {
    return kNotOfferedResult;
}
tagSessionInfo* CInnerApiInterface::GetSessionInfo(uint64_t /*session_id*/) { return nullptr; }

}  // namespace API
}  // namespace OXA
