#include "StubInnerApi.h"

namespace oxa_test {

using namespace OXA::API;

void StubInnerApi::SetResult(uint64_t result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result = result;
}

void StubInnerApi::SetAccountText(std::string text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_account = std::move(text);
}

void StubInnerApi::SetSessionInfo(tagSessionInfo* info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessionInfo = info;
}

std::vector<StubCall> StubInnerApi::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

StubCall StubInnerApi::LastCall() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.empty() ? StubCall{} : m_calls.back();
}

std::size_t StubInnerApi::CallCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.size();
}

void StubInnerApi::ClearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

uint64_t StubInnerApi::Result() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_result;
}

void StubInnerApi::OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                          uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) {
    Record("OnRecv", request_id, msg_id, body, length, playback, byte_order, src_group, src_member, node_id);
}
void StubInnerApi::Release() { Record("Release"); }
void StubInnerApi::RegisterSpi(TraderSpi* spi) { Record("RegisterSpi", spi); }
void StubInnerApi::SubscribePublicTopic(int resume_type) { Record("SubscribePublicTopic", resume_type); }
const char* StubInnerApi::GetAccountByOXAID(uint64_t order_oxa_id) {
    Record("GetAccountByOXAID", order_oxa_id);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_account.c_str();
}
uint64_t StubInnerApi::Login(std::shared_ptr<tcp_framework::client::TcpClient> client,
                             uint64_t fund_account) {
    Record("Login", client, fund_account);
    return Result();
}
int StubInnerApi::StartSyncPush() {
    Record("StartSyncPush");
    return static_cast<int>(Result());
}
int StubInnerApi::Logout(uint64_t session_id) {
    Record("Logout", session_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved3(uint64_t session_id) {
    Record("Reserved3", session_id);
    return static_cast<int>(Result());
}
uint64_t StubInnerApi::InsertOrder(const OrderInsertInfo* order, uint64_t session_id) {
    Record("InsertOrder", order, session_id);
    return Result();
}
uint64_t StubInnerApi::CancelOrder(uint64_t order_oxa_id, uint64_t session_id) {
    Record("CancelOrder", order_oxa_id, session_id);
    return Result();
}
int StubInnerApi::QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    Record("QueryOrderByOXAID", order_oxa_id, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryOrders", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryUnfinishedOrders(uint64_t session_id, int request_id) {
    Record("QueryUnfinishedOrders", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryOrdersByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    Record("QueryTradesByOXAID", order_oxa_id, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryTrades", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryTradesByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) {
    Record("QueryPosition", ticker, session_id, request_id, market);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id,
                                      int request_id) {
    Record("QueryPositionByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryAsset(uint64_t session_id, int request_id) {
    Record("QueryAsset", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryFund(uint64_t session_id, int request_id) {
    Record("QueryFund", session_id, request_id);
    return static_cast<int>(Result());
}
uint64_t StubInnerApi::FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) {
    Record("FundTransfer", fund_transfer, session_id);
    return Result();
}
int StubInnerApi::QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QueryFundTransfer", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryETFBaseInfo", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id,
                                       int request_id) {
    Record("QueryETFTickerBasket", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryIPOInfoList(uint64_t session_id, int request_id) {
    Record("QueryIPOInfoList", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryIPOQuotaInfo(uint64_t session_id, int request_id) {
    Record("QueryIPOQuotaInfo", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                                         int request_id) {
    Record("QueryOptionAuctionInfo", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
uint64_t StubInnerApi::CreditCashRepay(uint64_t session_id, double amount) {
    Record("CreditCashRepay", session_id, amount);
    return Result();
}
uint64_t StubInnerApi::CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                                    uint64_t session_id) {
    Record("CreditCashRepaySpecifiedDebt", cash_repay, session_id);
    return Result();
}
int StubInnerApi::Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id) {
    Record("Reserved4", value1, value2, session_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo1(uint64_t session_id, int request_id) {
    Record("QueryCreditInfo1", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo2(uint64_t session_id, int request_id) {
    Record("QueryCreditInfo2", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo3(uint64_t session_id, int request_id) {
    Record("QueryCreditInfo3", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryCreditInfo4", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryCreditInfo5", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo6(uint64_t session_id, int request_id) {
    Record("QueryCreditInfo6", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryCreditInfo7", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryCreditInfo8", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved5(void* param, uint64_t session_id, int request_id) {
    Record("Reserved5", param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved6(void* param, uint64_t session_id, int request_id) {
    Record("Reserved6", param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved7(void* param, uint64_t session_id) {
    Record("Reserved7", param, session_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved8(void* param, uint64_t session_id, int request_id) {
    Record("Reserved8", param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo9(uint64_t session_id, int request_id) {
    Record("QueryCreditInfo9", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QueryCreditInfo10", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
uint64_t StubInnerApi::InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) {
    Record("InsertExecuteOrder", order, session_id);
    return Result();
}
uint64_t StubInnerApi::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                                 uint64_t session_id) {
    Record("InsertOptionCombinedOrder", order, session_id);
    return Result();
}
int StubInnerApi::QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) {
    Record("QueryOptionCombinedUnfinishedOrders", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id,
                                                  int request_id) {
    Record("QueryOptionCombinedOrderByOXAID", order_oxa_id, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                            int request_id) {
    Record("QueryOptionCombinedOrders", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved9(void* param, uint64_t session_id, int request_id) {
    Record("Reserved9", param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id,
                                                   int request_id) {
    Record("QueryOptionCombinedTradesByOXAID", order_oxa_id, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                            int request_id) {
    Record("QueryOptionCombinedTrades", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::Reserved10(void* param, uint64_t session_id, int request_id) {
    Record("Reserved10", param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param,
                                              uint64_t session_id, int request_id) {
    Record("QueryOptionCombinedPosition", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) {
    Record("QueryOptionCombinedStrategyInfo", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QueryCreditInfo11", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QueryCreditInfo12", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QueryCreditInfo13", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                             int request_id) {
    Record("QueryCreditPledgeStkByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                             int request_id) {
    Record("QueryCreditTargetStkByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param,
                                                  uint64_t session_id, int request_id) {
    Record("QueryOptionCombinedExecPosition", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                                       int request_id) {
    Record("QueryOtherServerFund", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryIssueInfoList(uint64_t session_id, int request_id) {
    Record("QueryIssueInfoList", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id,
                                    int request_id) {
    Record("QuerySecurityInfo", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
uint64_t StubInnerApi::CreditRequest(CreditRequestParam* request, uint64_t session_id) {
    Record("CreditRequest", request, session_id);
    return Result();
}
int StubInnerApi::QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id) {
    Record("QueryCreditInfo14", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryYesterdayAsset(uint64_t session_id, int request_id) {
    Record("QueryYesterdayAsset", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    Record("QueryETFByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id,
                                      int request_id) {
    Record("QuerySecurityByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) {
    Record("QueryHKConnectIndicativeExchangeRateInfo", session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                            int request_id) {
    Record("QueryHKConnectSpreadTable", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
int StubInnerApi::QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param,
                                                    uint64_t session_id, int request_id) {
    Record("QueryCreditDebtToRepayTodayByPage", query_param, session_id, request_id);
    return static_cast<int>(Result());
}
tagSessionInfo* StubInnerApi::GetSessionInfo(uint64_t session_id) {
    Record("GetSessionInfo", session_id);
    return m_sessionInfo;
}

}  // namespace oxa_test
