// A back-end that records every call it receives and answers with a programmed result.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

namespace oxa_test {

// One argument as a comparable number: integers sign-extended, pointers by address, doubles
// by their bits.
template <typename T>
uint64_t StubArg(const T& value) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        double d = value;
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return bits;
    } else if constexpr (std::is_integral_v<T>) {
        return std::is_signed_v<T> ? static_cast<uint64_t>(static_cast<int64_t>(value))
                                   : static_cast<uint64_t>(value);
    } else {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value.get()));  // shared_ptr
    }
}

template <typename... A>
std::vector<uint64_t> StubArgs(const A&... args) {
    return {StubArg(args)...};
}

struct StubCall {
    std::string op;
    std::vector<uint64_t> args;
};

class StubInnerApi : public OXA::API::CInnerApiInterface {
public:
    using TraderSpi = OXA::API::TraderSpi;
    using tagSessionInfo = OXA::API::tagSessionInfo;

    // What every operation returns from now on (cut to int for the int operations).
    void SetResult(uint64_t result);
    void SetAccountText(std::string text);
    void SetSessionInfo(OXA::API::tagSessionInfo* info);

    std::vector<StubCall> Calls() const;
    StubCall LastCall() const;  // empty op when nothing was called
    std::size_t CallCount() const;
    void ClearCalls();

    void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) override;
    void Release() override;
    void RegisterSpi(TraderSpi* spi) override;
    void SubscribePublicTopic(int resume_type) override;
    const char* GetAccountByOXAID(uint64_t order_oxa_id) override;
    uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) override;
    int StartSyncPush() override;
    int Logout(uint64_t session_id) override;
    int Reserved3(uint64_t session_id) override;
    uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id) override;
    uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id) override;
    int QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryUnfinishedOrders(uint64_t session_id, int request_id) override;
    int QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) override;
    int QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryAsset(uint64_t session_id, int request_id) override;
    int QueryFund(uint64_t session_id, int request_id) override;
    uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) override;
    int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                          int request_id) override;
    int QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryIPOInfoList(uint64_t session_id, int request_id) override;
    int QueryIPOQuotaInfo(uint64_t session_id, int request_id) override;
    int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                               int request_id) override;
    uint64_t CreditCashRepay(uint64_t session_id, double amount) override;
    uint64_t CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                          uint64_t session_id) override;
    int Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id) override;
    int QueryCreditInfo1(uint64_t session_id, int request_id) override;
    int QueryCreditInfo2(uint64_t session_id, int request_id) override;
    int QueryCreditInfo3(uint64_t session_id, int request_id) override;
    int QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo6(uint64_t session_id, int request_id) override;
    int QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int Reserved5(void* param, uint64_t session_id, int request_id) override;
    int Reserved6(void* param, uint64_t session_id, int request_id) override;
    int Reserved7(void* param, uint64_t session_id) override;
    int Reserved8(void* param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo9(uint64_t session_id, int request_id) override;
    int QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    uint64_t InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) override;
    uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                       uint64_t session_id) override;
    int QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) override;
    int QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int Reserved9(void* param, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int Reserved10(void* param, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                    int request_id) override;
    int QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) override;
    int QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                   int request_id) override;
    int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                   int request_id) override;
    int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param, uint64_t session_id,
                                        int request_id) override;
    int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                             int request_id) override;
    int QueryIssueInfoList(uint64_t session_id, int request_id) override;
    int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    uint64_t CreditRequest(CreditRequestParam* request, uint64_t session_id) override;
    int QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id) override;
    int QueryYesterdayAsset(uint64_t session_id, int request_id) override;
    int QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) override;
    int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param, uint64_t session_id,
                                          int request_id) override;
    tagSessionInfo* GetSessionInfo(uint64_t session_id) override;

private:
    template <typename... A>
    void Record(const char* op, const A&... args) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(StubCall{op, StubArgs(args...)});
    }
    uint64_t Result() const;

    mutable std::mutex m_mutex;
    std::vector<StubCall> m_calls;
    uint64_t m_result = 0;
    std::string m_account;
    OXA::API::tagSessionInfo* m_sessionInfo = nullptr;
};

}  // namespace oxa_test
