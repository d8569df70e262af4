// The process-wide API object: answers the facade's own operations and routes every
// request to the back-end of its session's node.
#pragma once

#include <oxa_api/TraderApi.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "api/GatewayMessages.h"
#include "api/TraderContext.h"
#include "infra/utility/AnswerWait.h"

namespace spdlog {
class logger;
namespace details {
class periodic_worker;
}
}  // namespace spdlog

namespace tcp_framework {
namespace client {
class TcpClient;
struct LinkRequest;
}
}  // namespace tcp_framework

namespace OXA {
namespace API {

class CInnerApiInterface;
class BusAdaptor;
class VornBusAdaptor;
class CIdGenerator;

// Maps the factory's OXA_LOG_LEVEL value to the spdlog level number: 0 critical ...
// 4 debug, anything else trace.
int ToSpdLogLevel(int oxa_log_level);

class TraderImpl final : public TraderApi {
public:
    static constexpr const char* kDefaultLogPath = "./oxa_api_log/oxa.log";
    static constexpr const char* kLoggerName = "oxa_api";
    static constexpr const char* kLogPattern = "[%H:%M:%S:%f] [%n] [%t] [%l] %v";
    static constexpr int kBusinessCount = 3;  // spot, margin, option
    static constexpr int kNodeCount = 256;

    TraderImpl();

    // Runs on every accepted factory call, serialised by the factory.
    void Init(uint8_t client_id, const char* log_path, int log_level);

    // Facade operations.
    void SetCpuAffinity(int receiver_cpu, int deliver_cpu) override;
    const char* GetApiErrorMsg(int error_id, uint64_t session_id) override;
    void Release() override;
    const char* GetTradingDay() override;
    void RegisterSpi(TraderSpi* spi) override;
    OXAErrorInfo* GetApiLastError() override;
    const char* GetApiVersion() override;
    uint8_t GetClientIDByOXAID(uint64_t order_oxa_id) override;
    const char* GetAccountByOXAID(uint64_t order_oxa_id) override;
    void SubscribePublicTopic(int resume_type) override;
    void Reserved1() override;
    void Reserved2() override;

    uint64_t Login(const char* ip, int port, const char* user, const char* password, int sock_type,
                   const char* ether_name = nullptr, OXATerminalInfo* terminal_info = nullptr) override;
    int Logout(uint64_t session_id) override;

    // Forwarded to the back-end of the session's node.
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
    int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
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
    int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param, uint64_t session_id,
                                        int request_id) override;
    int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                   int request_id) override;
    int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
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

    // The facade's twin of CInnerApiInterface::SetLastError, on the shared record.
    void SetLastError(int code, const char* text = nullptr);

    // Back-end serving the session's node (bits 23-16); records 1004 when there is none or
    // when the id has a bit above 23 set.
    CInnerApiInterface* GetInnerApi(uint64_t session_id);

    // Installs the back-end of a node (Login does this after a back-end login). The object
    // is not owned through this table.
    void SetInnerApiForNode(uint8_t node, CInnerApiInterface* inner_api);

    // Values the back-ends are created with.
    uint16_t GetClientId() const { return m_nClientId.load(std::memory_order_relaxed); }
    int GetOxaLogLevel() const { return m_nOxaLogLevel.load(std::memory_order_relaxed); }
    int GetSpdLogLevel() const { return m_nSpdLogLevel.load(std::memory_order_relaxed); }
    TraderSpi* GetSpi() const { return m_pSpi.load(std::memory_order_acquire); }
    int GetResumeType() const { return m_nResumeType.load(std::memory_order_relaxed); }
    int GetReceiverCpu() const { return m_nReceiverCpu.load(std::memory_order_relaxed); }
    int GetDeliverCpu() const { return m_nDeliverCpu.load(std::memory_order_relaxed); }
    int GetHeartbeatInterval() const { return m_nHeartbeatIntervalMs; }
    std::shared_ptr<spdlog::logger> GetLogger() const { return m_pLogger; }

    // Installed as the logger's error handler.
    static void OnLoggerError(const std::string& msg);

    // Gateway login and logout.
    using ClientPtr = std::shared_ptr<tcp_framework::client::TcpClient>;
    int TcpConnect(const ClientPtr& client, const char* ip, int port);
    uint8_t TradeGatewayLogin(const ClientPtr& client, uint64_t fund_account, const char* password,
                              int sock_type);
    ClientPtr CreateTcpClient(int reconnect_interval_ms);
    void BindThreadCpus(const ClientPtr& client);
    CInnerApiInterface* CreateInnerApi(uint8_t business_type, uint32_t* business_index);
    CInnerApiInterface* CreateSpotApi();
    CInnerApiInterface* CreateMarginApi();
    CInnerApiInterface* CreateOptionApi();
    // The last accepted gateway login answer.
    GatewayLoginRsp GetGatewayLoginRsp() const;

    // Stops and lets go of every connection; run at process exit, so that no io thread is
    // still at work while the objects it uses are destroyed.
    void StopConnectionsForExit();

    // Inbound routing.
    void OnRecv(int request_id, uint64_t msg_id, const char* body, int length, int playback, int byte_order,
                int src_group, int src_member, TraderContext* context);
    static uint32_t GetBusinessIndex(uint64_t msg_id);
    // On the connecting thread, before a new link of the connection carries anything: the push
    // registrations of every account the connection serves, to go out as its first frames.
    std::vector<tcp_framework::client::LinkRequest> OnLinkUp(const ClientPtr& client, uint64_t link);
    void OnTcpConnected(const ClientPtr& client);
    void OnTcpDisconnected(int code);
    void NotifyDisconnected(int code);

    // Waits and pauses, shortened by tests.
    struct Timeouts {
        std::chrono::milliseconds gateway_login{30000};
        std::chrono::milliseconds logout{5000};
        std::chrono::milliseconds reconnect_pause{500};  // between stop and connect
        int reconnect_interval_ms = 5000;
    };
    void SetTimeouts(const Timeouts& timeouts);
    Timeouts GetTimeouts() const;

    // Makes the back-end of a business (1 spot, 2 margin, 3 option) in place of the built-in
    // one; null makes none. For tests, before the first Login of that business.
    using InnerApiMaker = std::function<CInnerApiInterface*(uint8_t business_type)>;
    void SetInnerApiMaker(InnerApiMaker maker);
    // The bus behind the back-ends' sends in UDP mode: the library's own from construction;
    // tests put another in its place (null: no bus, a bus-mode login fails with 1011).
    void SetBusAdaptor(BusAdaptor* bus) { m_pBusAdaptor.store(bus, std::memory_order_release); }
    BusAdaptor* GetBusAdaptor() const { return m_pBusAdaptor.load(std::memory_order_acquire); }
    // The library's own bus, whichever adaptor is in use.
    VornBusAdaptor* GetVornBus() const { return m_pVornBus; }
    // Every order-id counter back to never set, as a fresh process has them (a login never
    // moves one back). For tests, between tests: no login or request may run.
    void ForgetOrderIds();

private:
    ~TraderImpl() = delete;  // lives until the process ends

    void InitLogger();
    void StopTcpClients();
    CInnerApiInterface* MakeInnerApi(uint32_t index, uint8_t business_type);
    void OnGatewayLoginRsp(const char* body, int length, const TraderContext* context);
    void OnGatewayPushRegRsp(const char* body, int length, TraderContext* context);
    void AwaitLinkRegistrations(TraderContext& context);
    CInnerApiInterface* AccountBackend(uint64_t fund_account);
    // Login under the login lock and its wait stop; `client` is the connection it used.
    uint64_t LoginOnce(const char* ip, int port, const char* user, const char* password, int sock_type,
                       const char* ether_name, OXATerminalInfo* terminal_info, uint64_t release_epoch,
                       ClientPtr& client);
    void StopUnlistedClient(const ClientPtr& client);
    void OnGatewayLogoutRsp(const char* body, int length);
    void OnGatewayOffline(const char* body, int length);
    int FinishLogout(CInnerApiInterface* inner_api, uint64_t session_id, uint64_t fund_account);
    int LogoutWithoutWaiting(CInnerApiInterface* inner_api, uint64_t session_id, uint64_t fund_account,
                             const uint8_t* request);

    template <typename R, typename F>
    R Forward(uint64_t session_id, R no_backend_result, F&& call);

    // back-ends by line of business (owned), 0 spot, 1 margin, 2 option
    std::array<std::atomic<CInnerApiInterface*>, kBusinessCount> m_pInnerApiByBusiness;
    std::atomic<int> m_nSpdLogLevel{4};
    std::atomic<int> m_nOxaLogLevel{1};
    std::shared_ptr<spdlog::logger> m_pLogger;
    std::unique_ptr<spdlog::details::periodic_worker> m_pFlushWorker;
    bool m_bLoggerReady = false;
    std::string m_strLogPath{kDefaultLogPath};
    std::atomic<uint16_t> m_nClientId{0};
    // back-ends by node (not owned)
    std::array<std::atomic<CInnerApiInterface*>, kNodeCount> m_pInnerApiByNode;
    OXAErrorInfo m_stLastError;
    std::mutex m_mtxLogin;
    std::mutex m_mtxAccounts;
    std::unordered_map<uint64_t, CInnerApiInterface*> m_mapAccounts;  // fund account -> back-end
    std::atomic<TraderSpi*> m_pSpi{nullptr};
    std::atomic<int> m_nResumeType{2};
    std::atomic<int> m_nReceiverCpu{-1};
    std::atomic<int> m_nDeliverCpu{-1};
    int m_nHeartbeatIntervalMs = 5000;

    // Gateway connections by "ip:port", and the context of every connection that may still
    // be alive (freed once its connection is gone, since only a connection reads it).
    std::mutex m_mtxTcpClients;
    std::map<std::string, ClientPtr> m_mapTcpClient;
    struct ContextEntry {
        std::weak_ptr<tcp_framework::client::TcpClient> client;
        std::unique_ptr<TraderContext> context;
    };
    std::vector<ContextEntry> m_contexts;
    void PruneContexts();  // under m_mtxTcpClients
    std::mutex m_mtxRelease;

    struct GatewayLoginAnswer {
        bool accepted = false;  // false: refused, the code is in the record
        GatewayLoginRsp rsp;
    };
    AnswerWait<GatewayLoginAnswer> m_gatewayLoginWait;  // keyed by fund account
    std::atomic<const TraderContext*> m_pGatewayLoginContext{nullptr};  // connection of that login
    mutable std::mutex m_mtxGatewayLoginRsp;
    GatewayLoginRsp m_gatewayLoginRsp;

    std::mutex m_mtxLogout;              // one logout waits at a time
    AnswerWait<int32_t> m_logoutWait;     // keyed by fund account, answered with the error
    // Logouts asked for on a callback thread, ended by their answer, by fund account.
    struct DeferredLogout {
        CInnerApiInterface* inner_api = nullptr;
        uint64_t session_id = 0;
    };
    std::mutex m_mtxDeferredLogouts;
    std::unordered_map<uint64_t, DeferredLogout> m_deferredLogouts;
    // Advanced by every Release; a login that sees it move publishes nothing. The stop of the
    // login in progress is triggered with it, under m_mtxLoginStop, which a login also holds
    // while it publishes its session.
    std::atomic<uint64_t> m_nReleaseEpoch{0};
    std::mutex m_mtxLoginStop;
    WaitStop* m_pLoginStop = nullptr;

    mutable std::mutex m_mtxSettings;
    Timeouts m_timeouts;
    InnerApiMaker m_innerApiMaker;
    std::atomic<BusAdaptor*> m_pBusAdaptor{nullptr};
    VornBusAdaptor* m_pVornBus = nullptr;  // made with the object, never destroyed
    char m_szEtherName[128] = {};
    // Order-id generators by business, made by the first back-end of each (under the login
    // lock) and handed to every later one.
    std::array<CIdGenerator*, kBusinessCount> m_pIdGenerators{};
    // Back-ends Release took out of service: kept, since an io thread may still be inside one.
    std::mutex m_mtxRetired;
    std::vector<CInnerApiInterface*> m_retiredInnerApis;
};

}  // namespace API
}  // namespace OXA
