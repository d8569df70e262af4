#include "api/TraderImpl.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

// periodic_worker.h needs spdlog/common.h before it
#include <spdlog/spdlog.h>
#include <spdlog/details/periodic_worker.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "api/ApiGlobals.h"
#include "api/CallbackThread.h"
#include "api/ErrorCodes.h"
#include "api/ErrorMsg.h"
#include "api/IdGenerator.h"
#include "api/LastError.h"
#include "api/SessionTables.h"
#include "api/VornBusAdaptor.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

namespace OXA {
namespace API {

namespace {

constexpr int kApiVersion[4] = {2, 23, 1, 0};
constexpr auto kLogFlushInterval = std::chrono::seconds(10);

// The one API object; created by the first accepted factory call, never destroyed.
std::atomic<TraderImpl*> g_pTraderImpl{nullptr};
// Serialises the factory: creation of the object and every Init.
std::mutex g_factoryMutex;

}  // namespace

int ToSpdLogLevel(int oxa_log_level) {
    switch (oxa_log_level) {
        case 0: return spdlog::level::critical;
        case 1: return spdlog::level::err;
        case 2: return spdlog::level::warn;
        case 3: return spdlog::level::info;
        case 4: return spdlog::level::debug;
        default: return spdlog::level::trace;
    }
}

TraderImpl::TraderImpl() : m_pVornBus(new VornBusAdaptor(this)) {
    m_pBusAdaptor.store(m_pVornBus, std::memory_order_relaxed);
    for (auto& slot : m_pInnerApiByBusiness) slot.store(nullptr, std::memory_order_relaxed);
    for (auto& slot : m_pInnerApiByNode) slot.store(nullptr, std::memory_order_relaxed);
    m_stLastError.error_id = 0;
    m_stLastError.error_msg[0] = '\0';
}

void TraderImpl::Init(uint8_t client_id, const char* log_path, int log_level) {
    m_nClientId.store(client_id, std::memory_order_relaxed);
    m_strLogPath = log_path;
    m_nOxaLogLevel.store(log_level, std::memory_order_relaxed);
    m_nSpdLogLevel.store(ToSpdLogLevel(log_level), std::memory_order_relaxed);
    InitLogger();
    spdlog::info("[{}] clientid [{}] path [{}] loglevel [{}]", "CreateTraderApi", client_id, m_strLogPath,
                 log_level);
}

void TraderImpl::OnLoggerError(const std::string& msg) {
    std::string line = "LoggerException:[" + msg + "]\n";
    std::fputs(line.c_str(), stderr);
}

// Once per process. A log file that cannot be opened must not cost the application its
// API object: the log then goes to standard error (or nowhere), and stderr says so.
void TraderImpl::InitLogger() {
    if (m_bLoggerReady) return;
    try {
        spdlog::sink_ptr sink;
        try {
            sink = std::make_shared<spdlog::sinks::daily_file_sink_mt>(m_strLogPath, 23, 59, false, 0);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "oxa_api: cannot open the log file [%s]: %s; logging to standard error\n",
                         m_strLogPath.c_str(), e.what());
            sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
        }
        auto logger = std::make_shared<spdlog::logger>(kLoggerName, std::move(sink));
        logger->set_error_handler(&TraderImpl::OnLoggerError);
        logger->set_level(static_cast<spdlog::level::level_enum>(m_nSpdLogLevel.load()));
        logger->set_pattern(kLogPattern, spdlog::pattern_time_type::local);
        logger->flush_on(spdlog::level::debug);
        m_pFlushWorker = std::make_unique<spdlog::details::periodic_worker>([logger] { logger->flush(); },
                                                                            kLogFlushInterval);
        spdlog::set_default_logger(logger);
        m_pLogger = std::move(logger);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "oxa_api: cannot set up the logger: %s; logging disabled\n", e.what());
        try {
            auto quiet = std::make_shared<spdlog::logger>(kLoggerName,
                                                          std::make_shared<spdlog::sinks::null_sink_mt>());
            spdlog::set_default_logger(quiet);
            m_pLogger = std::move(quiet);
        } catch (...) {
            // spdlog keeps its own default logger
        }
    }
    m_bLoggerReady = true;
}

// ---------------------------------------------------------------------------------------
// Facade operations

void TraderImpl::SetCpuAffinity(int receiver_cpu, int deliver_cpu) {
    m_nReceiverCpu.store(receiver_cpu, std::memory_order_relaxed);
    m_nDeliverCpu.store(deliver_cpu, std::memory_order_relaxed);
}

const char* TraderImpl::GetApiErrorMsg(int error_id, uint64_t session_id) {
    if (GetInnerApi(session_id) == nullptr) return nullptr;
    // one record per thread, so concurrent callers do not overwrite each other's text
    thread_local OXAErrorInfo record;
    record.error_id = error_id;
    CopyErrorText(record.error_msg, GetErrorMsg(error_id));
    return record.error_msg;
}

void TraderImpl::Release() {
    // The off-line command runs this on an io thread while the application may run it too.
    // There it never waits: a Release already under way (which may be waiting for this very
    // thread to leave its callback) does all the work.
    std::unique_lock<std::mutex> release(m_mtxRelease, std::defer_lock);
    if (OnCallbackThread()) {
        if (!release.try_lock()) {
            spdlog::info("[{}] already in progress", "Release");
            return;
        }
    } else {
        release.lock();
    }
    spdlog::info("Trader API Release.");
    {
        // A Login that waits for an answer gives up at once.
        std::lock_guard<std::mutex> lock(m_mtxLoginStop);
        m_nReleaseEpoch.fetch_add(1, std::memory_order_acq_rel);
        if (m_pLoginStop != nullptr) m_pLoginStop->Trigger();
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxAccounts);
        m_mapAccounts.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxDeferredLogouts);
        m_deferredLogouts.clear();
    }
    // Unpublish first, then end: the node slots point at the same objects.
    for (auto& node : m_pInnerApiByNode) node.store(nullptr, std::memory_order_release);
    for (auto& slot : m_pInnerApiByBusiness) {
        CInnerApiInterface* inner_api = slot.exchange(nullptr, std::memory_order_acq_rel);
        if (inner_api == nullptr) continue;
        inner_api->Release();
        // Kept, not freed: a request thread or another connection's io thread may still be
        // inside one of this back-end's operations.
        std::lock_guard<std::mutex> lock(m_mtxRetired);
        m_retiredInnerApis.push_back(inner_api);
    }
    // Every connection stopped and let go of, so its threads and buffers end.
    StopTcpClients();
    // The records are retired, never freed: requests may be reading them right now.
    ReleaseSessionTables();
}

const char* TraderImpl::GetTradingDay() {
    thread_local char text[16];
    std::snprintf(text, sizeof(text), "%u",
                  static_cast<unsigned>(_tradingDay.load(std::memory_order_relaxed)));
    return text;
}

void TraderImpl::RegisterSpi(TraderSpi* spi) { m_pSpi.store(spi, std::memory_order_release); }

OXAErrorInfo* TraderImpl::GetApiLastError() { return &m_stLastError; }

const char* TraderImpl::GetApiVersion() {
    static const std::string text =
        fmt::format("{}.{}.{}.{}", kApiVersion[0], kApiVersion[1], kApiVersion[2], kApiVersion[3]);
    return text.c_str();
}

uint8_t TraderImpl::GetClientIDByOXAID(uint64_t order_oxa_id) {
    return static_cast<uint8_t>((order_oxa_id >> 32) & 0xff);
}

const char* TraderImpl::GetAccountByOXAID(uint64_t order_oxa_id) {
    CInnerApiInterface* inner_api = m_pInnerApiByNode[order_oxa_id >> 56].load(std::memory_order_acquire);
    return inner_api ? inner_api->GetAccountByOXAID(order_oxa_id) : "";
}

void TraderImpl::SubscribePublicTopic(int resume_type) {
    m_nResumeType.store(resume_type, std::memory_order_relaxed);
}

void TraderImpl::Reserved1() {}
void TraderImpl::Reserved2() {}

void TraderImpl::SetLastError(int code, const char* text) { RecordLastError(&m_stLastError, code, text); }

CInnerApiInterface* TraderImpl::GetInnerApi(uint64_t session_id) {
    // A session id is node << 16 | fund index: one with any bit above 23 names no session,
    // and must not reach the session whose low bits it shares.
    CInnerApiInterface* inner_api =
        (session_id >> 24) != 0 ? nullptr : m_pInnerApiByNode[(session_id >> 16) & 0xff].load(std::memory_order_acquire);
    if (inner_api == nullptr) SetLastError(kErrSessionNotRegistered);
    return inner_api;
}

void TraderImpl::SetInnerApiForNode(uint8_t node, CInnerApiInterface* inner_api) {
    m_pInnerApiByNode[node].store(inner_api, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------
// Forwarding

template <typename R, typename F>
R TraderImpl::Forward(uint64_t session_id, R no_backend_result, F&& call) {
    CInnerApiInterface* inner_api = GetInnerApi(session_id);
    return inner_api ? call(inner_api) : no_backend_result;
}

// Passes the call on to the session's back-end, or answers `none` when the node has none.
#define OXA_FORWARD(none, call) \
    return Forward(session_id, none, [&](CInnerApiInterface* inner_api) { return inner_api->call; })

namespace {
constexpr uint64_t kNoId = 0;
constexpr int kNoSession = kErrSessionNotRegistered;
}  // namespace

int TraderImpl::Reserved3(uint64_t session_id) { OXA_FORWARD(0, Reserved3(session_id)); }
uint64_t TraderImpl::InsertOrder(const OrderInsertInfo* order, uint64_t session_id) {
    OXA_FORWARD(kNoId, InsertOrder(order, session_id));
}
uint64_t TraderImpl::CancelOrder(uint64_t order_oxa_id, uint64_t session_id) {
    OXA_FORWARD(kNoId, CancelOrder(order_oxa_id, session_id));
}
int TraderImpl::QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOrderByOXAID(order_oxa_id, session_id, request_id));
}
int TraderImpl::QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOrders(query_param, session_id, request_id));
}
int TraderImpl::QueryUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryUnfinishedOrders(session_id, request_id));
}
int TraderImpl::QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOrdersByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryTradesByOXAID(order_oxa_id, session_id, request_id));
}
int TraderImpl::QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryTrades(query_param, session_id, request_id));
}
int TraderImpl::QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryTradesByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market) {
    OXA_FORWARD(kNoSession, QueryPosition(ticker, session_id, request_id, market));
}
int TraderImpl::QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryPositionByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryAsset(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryAsset(session_id, request_id));
}
int TraderImpl::QueryFund(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryFund(session_id, request_id));
}
uint64_t TraderImpl::FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) {
    OXA_FORWARD(kNoId, FundTransfer(fund_transfer, session_id));
}
int TraderImpl::QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                                  int request_id) {
    OXA_FORWARD(kNoSession, QueryFundTransfer(query_param, session_id, request_id));
}
int TraderImpl::QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                                     int request_id) {
    OXA_FORWARD(kNoSession, QueryOtherServerFund(query_param, session_id, request_id));
}
int TraderImpl::QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryETFBaseInfo(query_param, session_id, request_id));
}
int TraderImpl::QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryETFTickerBasket(query_param, session_id, request_id));
}
int TraderImpl::QueryIPOInfoList(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryIPOInfoList(session_id, request_id));
}
int TraderImpl::QueryIPOQuotaInfo(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryIPOQuotaInfo(session_id, request_id));
}
int TraderImpl::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                                       int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionAuctionInfo(query_param, session_id, request_id));
}
uint64_t TraderImpl::CreditCashRepay(uint64_t session_id, double amount) {
    OXA_FORWARD(kNoId, CreditCashRepay(session_id, amount));
}
uint64_t TraderImpl::CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                                  uint64_t session_id) {
    OXA_FORWARD(kNoId, CreditCashRepaySpecifiedDebt(cash_repay, session_id));
}
int TraderImpl::Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id) {
    OXA_FORWARD(kNoSession, Reserved4(value1, value2, session_id));
}
int TraderImpl::QueryCreditInfo1(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo1(session_id, request_id));
}
int TraderImpl::QueryCreditInfo2(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo2(session_id, request_id));
}
int TraderImpl::QueryCreditInfo3(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo3(session_id, request_id));
}
int TraderImpl::QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo4(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo5(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo6(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo6(session_id, request_id));
}
int TraderImpl::QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo7(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo8(query_param, session_id, request_id));
}
int TraderImpl::Reserved5(void* param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, Reserved5(param, session_id, request_id));
}
int TraderImpl::Reserved6(void* param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, Reserved6(param, session_id, request_id));
}
int TraderImpl::Reserved7(void* param, uint64_t session_id) {
    OXA_FORWARD(kNoSession, Reserved7(param, session_id));
}
int TraderImpl::Reserved8(void* param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, Reserved8(param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo9(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo9(session_id, request_id));
}
int TraderImpl::QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo10(query_param, session_id, request_id));
}
uint64_t TraderImpl::InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) {
    OXA_FORWARD(kNoId, InsertExecuteOrder(order, session_id));
}
uint64_t TraderImpl::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                               uint64_t session_id) {
    OXA_FORWARD(kNoId, InsertOptionCombinedOrder(order, session_id));
}
int TraderImpl::QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedUnfinishedOrders(session_id, request_id));
}
int TraderImpl::QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedOrderByOXAID(order_oxa_id, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedOrders(query_param, session_id, request_id));
}
int TraderImpl::Reserved9(void* param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, Reserved9(param, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedTradesByOXAID(order_oxa_id, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedTrades(query_param, session_id, request_id));
}
int TraderImpl::Reserved10(void* param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, Reserved10(param, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                            int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedPosition(query_param, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedStrategyInfo(session_id, request_id));
}
int TraderImpl::QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo11(query_param, session_id, request_id));
}
int TraderImpl::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param,
                                                uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryOptionCombinedExecPosition(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo12(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo13(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditPledgeStkByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditTargetStkByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryIssueInfoList(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryIssueInfoList(session_id, request_id));
}
int TraderImpl::QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QuerySecurityInfo(query_param, session_id, request_id));
}
uint64_t TraderImpl::CreditRequest(CreditRequestParam* request, uint64_t session_id) {
    OXA_FORWARD(kNoId, CreditRequest(request, session_id));
}
int TraderImpl::QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditInfo14(query_param, session_id, request_id));
}
int TraderImpl::QueryYesterdayAsset(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryYesterdayAsset(session_id, request_id));
}
int TraderImpl::QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryETFByPage(query_param, session_id, request_id));
}
int TraderImpl::QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QuerySecurityByPage(query_param, session_id, request_id));
}
int TraderImpl::QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryHKConnectIndicativeExchangeRateInfo(session_id, request_id));
}
int TraderImpl::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                          int request_id) {
    OXA_FORWARD(kNoSession, QueryHKConnectSpreadTable(query_param, session_id, request_id));
}
int TraderImpl::QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param,
                                                  uint64_t session_id, int request_id) {
    OXA_FORWARD(kNoSession, QueryCreditDebtToRepayTodayByPage(query_param, session_id, request_id));
}

#undef OXA_FORWARD

void TraderImpl::ForgetOrderIds() {
    for (CIdGenerator* generator : m_pIdGenerators)
        if (generator != nullptr) generator->ForgetCounters();
}

}  // namespace API
}  // namespace OXA

// ---------------------------------------------------------------------------------------
// The exported factory. Nothing may throw out of it: the application has no handler for
// our exceptions.

OXA::API::TraderApi* OXA::API::TraderApi::CreateTraderApi(unsigned char client_id, const char* log_path,
                                                          OXA_LOG_LEVEL log_level) {
    if (client_id == 0 || client_id > 127) {
        std::fputs("client_id has to be between [1-127]\n", stderr);
        return nullptr;
    }
    if (log_path == nullptr) {
        std::fputs("log_path has to be given\n", stderr);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        TraderImpl* impl = g_pTraderImpl.load(std::memory_order_acquire);
        if (impl == nullptr) {
            impl = new TraderImpl();
            g_pTraderImpl.store(impl, std::memory_order_release);
        }
        impl->Init(client_id, log_path, static_cast<int>(log_level));
        return impl;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "CreateTraderApi failed: %s\n", e.what());
    } catch (...) {
        std::fputs("CreateTraderApi failed\n", stderr);
    }
    return nullptr;
}
