// Gateway login and logout, inbound routing and the callbacks bound into every gateway
// connection.
#include <spdlog/spdlog.h>

#include <asio/error.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "api/ApiGlobals.h"
#include "api/BusAdaptor.h"
#include "api/CallbackThread.h"
#include "api/ErrorCodes.h"
#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "api/TerminalInfo.h"
#include "api/TraderImpl.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/CInnerApiInterface/LoginAnswer.h"
#include "api_common/CInnerApiInterface/TcpClientArray.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/option_api/OptionTraderImpl.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "infra/tcp_framework/client/TcpClient.h"

namespace OXA {
namespace API {

using tcp_framework::client::TcpClient;

namespace {

// TradeGatewayLogin results that are not business types.
constexpr uint8_t kGatewayLoginTimedOut = 233;
constexpr uint8_t kGatewayLoginNotSent = 240;

constexpr uint32_t kNoBusiness = 200;

TraderContext* ContextOf(const std::shared_ptr<TcpClient>& client) {
    return client ? static_cast<TraderContext*>(client->context()) : nullptr;
}

int tcp_response_async_callback(std::shared_ptr<TcpClient> client, unsigned int msg_id, unsigned long request_id,
                                const unsigned char* body, unsigned int length) {
    CallbackThreadScope on_io_thread;
    TraderContext* context = ContextOf(client);
    if (context == nullptr) return 0;
    if (context->owner == nullptr) {
        spdlog::error("[{}] pImpl == nullptr", "tcp_response_async_callback");
        return 0;
    }
    context->delivering_link = client->delivering_link();
    context->owner->OnRecv(static_cast<int>(request_id), msg_id, reinterpret_cast<const char*>(body),
                           static_cast<int>(length), 0, 0, 0, 0, context);
    return 0;
}

int connected_callback(std::shared_ptr<TcpClient> client) {
    TraderContext* context = ContextOf(client);
    if (context == nullptr || context->owner == nullptr) {
        spdlog::error("[{}] impl is null", "connected_callback");
        return 0;
    }
    context->owner->OnTcpConnected(client);
    return 0;
}

int tcp_heartbeat_callback(std::shared_ptr<TcpClient>, int, const char*) { return 0; }

std::vector<tcp_framework::client::LinkRequest> link_up_callback(std::shared_ptr<TcpClient> client, uint64_t link) {
    TraderContext* context = ContextOf(client);
    if (context == nullptr || context->owner == nullptr) return {};
    return context->owner->OnLinkUp(client, link);
}

void link_down_callback(std::shared_ptr<TcpClient> client, uint64_t link) {
    if (TraderContext* context = ContextOf(client)) context->push.LinkDown(link);
}

int disconnected_callback(std::shared_ptr<TcpClient> client, int code, const char*) {
    CallbackThreadScope on_io_thread;
    TraderContext* context = ContextOf(client);
    if (context == nullptr || context->owner == nullptr) {
        spdlog::error("[{}] pImpl == nullptr", "disconnected_callback");
        return 0;
    }
    context->owner->OnTcpDisconnected(code);
    return 0;
}

// At exit the connections of an application that never called Release must stop before the
// objects their io threads use are destroyed. Registered once the error categories those
// threads use exist, so it runs before they are destroyed (exit runs in reverse order).
std::atomic<TraderImpl*> g_exitOwner{nullptr};

void StopConnectionsAtExit() {
    if (TraderImpl* impl = g_exitOwner.load()) impl->StopConnectionsForExit();
}

void RegisterExitStop(TraderImpl* impl) {
    static const bool registered = [impl] {
        (void)std::system_category();
        (void)std::generic_category();
        (void)asio::error::get_system_category();
        (void)asio::error::get_netdb_category();
        (void)asio::error::get_addrinfo_category();
        (void)asio::error::get_misc_category();
        g_exitOwner.store(impl);
        return std::atexit(StopConnectionsAtExit) == 0;
    }();
    (void)registered;
}

// The user text as a decimal fund account; a text that is not a number reads as 0.
uint64_t ParseFundAccount(const char* user) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(user, &end, 10);
    if (end == user || errno == ERANGE) return 0;
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Settings

void TraderImpl::SetTimeouts(const Timeouts& timeouts) {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    m_timeouts = timeouts;
}

TraderImpl::Timeouts TraderImpl::GetTimeouts() const {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    return m_timeouts;
}

void TraderImpl::SetInnerApiMaker(InnerApiMaker maker) {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    m_innerApiMaker = std::move(maker);
}

GatewayLoginRsp TraderImpl::GetGatewayLoginRsp() const {
    std::lock_guard<std::mutex> lock(m_mtxGatewayLoginRsp);
    return m_gatewayLoginRsp;
}

// ---------------------------------------------------------------------------------------
// Login

uint64_t TraderImpl::Login(const char* ip, int port, const char* user, const char* password, int sock_type,
                           const char* ether_name, OXATerminalInfo* terminal_info) {
    // Its answers arrive on the library's threads: waiting for them on one would wait out
    // every timeout, and the login lock may be held by a login that waits for this thread.
    if (OnCallbackThread()) {
        spdlog::error("[{}] called on a callback thread of the library: refused", "Login");
        SetLastError(kErrOnCallbackThread);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mtxLogin);
    // Every wait of this login, the back-end's included, ends at once when the API is released.
    WaitStop stop;
    uint64_t release_epoch;
    {
        std::lock_guard<std::mutex> guard(m_mtxLoginStop);
        m_pLoginStop = &stop;
        release_epoch = m_nReleaseEpoch.load(std::memory_order_acquire);
    }
    ClientPtr client;
    uint64_t session_id;
    {
        WaitStop::Scope scope(stop);
        session_id = LoginOnce(ip, port, user, password, sock_type, ether_name, terminal_info, release_epoch, client);
    }
    {
        std::lock_guard<std::mutex> guard(m_mtxLoginStop);
        m_pLoginStop = nullptr;
    }
    if (m_nReleaseEpoch.load(std::memory_order_acquire) == release_epoch) return session_id;
    // Released meanwhile (by the application or the gateway's off-line command): whatever the
    // login got is gone with the release.
    spdlog::error("[{}] the API was released while logging in", "Login");
    SetLastError(kErrApiReleased);
    if (client) StopUnlistedClient(client);
    return 0;
}

uint64_t TraderImpl::LoginOnce(const char* ip, int port, const char* user, const char* password, int sock_type,
                               const char* ether_name, OXATerminalInfo* terminal_info, uint64_t release_epoch,
                               ClientPtr& client) {
    auto released = [&] { return m_nReleaseEpoch.load(std::memory_order_acquire) != release_epoch; };
    if (ip == nullptr || user == nullptr || password == nullptr || port < 0 || port > 65535 ||
        (sock_type != 1 && sock_type != 2)) {
        spdlog::error("[{}] invalid parameter", "Login");
        SetLastError(kErrBadParameter);
        return 0;
    }

    if (ether_name != nullptr) {
        CopyText(m_szEtherName, ether_name, sizeof(m_szEtherName) - 1);
        spdlog::debug("ether_name :{}", m_szEtherName);
        // every bus socket made from here on is bound to it
        if (BusAdaptor* bus = GetBusAdaptor()) bus->SetEtherName(m_szEtherName);
    }

    // The first login's socket type is in force while it runs (its requests and sends depend
    // on it), but only a login that succeeds fixes it for the process.
    int expected = kSockTypeUnset;
    const bool first_socket_type = SockType.compare_exchange_strong(expected, sock_type);
    if (!first_socket_type && expected != sock_type) {
        spdlog::error("Sock Type {} Inconsistent.", sock_type);
        SetLastError(kErrSockTypeInconsistent);
        return 0;
    }
    struct SocketTypeAttempt {
        bool undo;
        ~SocketTypeAttempt() {
            if (undo) SockType.store(kSockTypeUnset);
        }
    } attempt{first_socket_type};

    {
        const std::string key = fmt::format("{}:{}", ip, port);
        std::lock_guard<std::mutex> clients(m_mtxTcpClients);
        auto it = m_mapTcpClient.find(key);
        if (it != m_mapTcpClient.end()) {
            client = it->second;
        } else {
            // The bus serves one gateway; a connection that a failed login left retrying
            // serves none and does not count.
            if (SockType.load() == 2 && !_gArrTcpClient.Distinct().empty()) {
                spdlog::error("Multi Nodes Access Do Not Support Sock Type [UDP].");
                SetLastError(kErrUdpMultiNode);
                return 0;
            }
            client = CreateTcpClient(GetTimeouts().reconnect_interval_ms);
            if (!client) {
                SetLastError(kErrNotConnected);
                return 0;
            }
            m_mapTcpClient.emplace(key, client);
        }
    }

    BindThreadCpus(client);
    if (TcpConnect(client, ip, port) != 0 || released()) return 0;

    const char* text = terminal_info ? BuildTerminalInfo(terminal_info) : GetDefaultTerminalInfo(client);
    if (text != nullptr && text[0] != '\0') {
        CopyText(_gTerminalInfo, text, kTerminalInfoTextSize - 1);
        spdlog::info("Terminal Info [{}]", _gTerminalInfo);
    } else {
        spdlog::error("Get Terminal Info Error.");
    }

    const uint64_t fund_account = ParseFundAccount(user);
    const uint8_t business_type = TradeGatewayLogin(client, fund_account, password, sock_type);
    // No answer (or none sent): this login ends here; an earlier answer is never used for it.
    if (business_type == 0 || business_type == kGatewayLoginTimedOut || business_type == kGatewayLoginNotSent ||
        released())
        return 0;

    const GatewayLoginRsp rsp = GetGatewayLoginRsp();
    BusAdaptor* const bus = GetBusAdaptor();
    if (rsp.protocol_mod == PROTOCOL_MODE_UDP_VORN) {
        // group and member are signed 16-bit values; the port is unsigned (a port above
        // 32767 stays itself)
        const int group = static_cast<int16_t>(rsp.group_id);
        const int member = static_cast<int16_t>(rsp.member_id);
        const int port = rsp.hqtrs_port;
        spdlog::debug("group_id:{} , member_id:{}, hqtrs_ip :{}, hqtrs_port :{}\n", group, member, rsp.hqtrs_ip, port);
        if (bus == nullptr) {
            // no bus at all: say so, not only fail
            spdlog::error("[{}] VornLaunch failed [{}]", "Login", 0);
            SetLastError(kErrBusUnavailable);
            return 0;
        }
        if (!bus->VornLaunch(group, member, rsp.hqtrs_ip, port, GetOxaLogLevel(), "./", 0, this)) {
            spdlog::error("[{}] VornLaunch failed [{}]", "Login", 0);
            SetLastError(kErrBusLaunchFailed);
            return 0;
        }
    }

    uint32_t index = kNoBusiness;
    CInnerApiInterface* inner_api = CreateInnerApi(business_type, &index);
    TraderContext* const context = ContextOf(client);
    uint64_t session_id = 0;
    if (inner_api == nullptr) {
        spdlog::error("[{}] business type {} is not offered by this library", "Login", business_type);
        SetLastError(kErrNotOffered);
    } else {
        {
            std::lock_guard<std::mutex> accounts(m_mtxAccounts);
            m_mapAccounts[fund_account] = inner_api;
        }
        // The connection serves the account from its registration on; a first login that
        // fails leaves it unserved.
        const bool served_before = context != nullptr && context->push.Serves(fund_account);
        session_id = inner_api->Login(client, fund_account);
        if (session_id == 0 && context != nullptr && !served_before) context->push.Forget(fund_account);
    }
    spdlog::info("Login Finish. SessionId={}", session_id);
    if (session_id == 0) return 0;

    const uint8_t node = static_cast<uint8_t>((session_id >> 16) & 0xff);
    {
        // Published only while no Release has begun: one that begins later unpublishes it.
        std::lock_guard<std::mutex> guard(m_mtxLoginStop);
        if (released()) return 0;
        SetInnerApiForNode(node, inner_api);
        _gArrTcpClient.Set(node, client);
        if (context != nullptr) context->node_ids[index].store(node);
        // what the bus delivers for this business goes to this node as well
        if (rsp.protocol_mod == PROTOCOL_MODE_UDP_VORN && bus != nullptr)
            if (TraderContext* bus_context = bus->GetContext()) bus_context->node_ids[index].store(node);
    }
    const int sync = inner_api->StartSyncPush();
    if (sync != 0) spdlog::error("Sync Push Failed. errorcode={}", sync);
    if (SockType.load() == 2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    attempt.undo = false;
    return session_id;
}

void TraderImpl::StopUnlistedClient(const ClientPtr& client) {
    {
        std::lock_guard<std::mutex> lock(m_mtxTcpClients);
        for (const auto& entry : m_mapTcpClient)
            if (entry.second == client) return;  // a live connection of the facade
    }
    // Release let go of it while this login used it (and may have connected it again).
    client->stop();
}

TraderImpl::ClientPtr TraderImpl::CreateTcpClient(int reconnect_interval_ms) {
    // m_mtxTcpClients is held by the caller
    RegisterExitStop(this);
    PruneContexts();
    ClientPtr client;
    try {
        auto context = std::make_unique<TraderContext>(this);
        client = std::make_shared<TcpClient>(reconnect_interval_ms, context.get());
        m_contexts.push_back(ContextEntry{client, std::move(context)});
    } catch (const std::exception& e) {
        spdlog::error("[{}] {}", "CreateTcpClient", e.what());
        return nullptr;
    }
    if (m_pLogger) client->set_logger(m_pLogger);
    client->set_heartbeat_interval(m_nHeartbeatIntervalMs);
    client->set_response_async_callback(tcp_response_async_callback);
    client->set_connected_callback(connected_callback);
    client->set_heartbeat_callback(tcp_heartbeat_callback);
    client->set_push_callback(tcp_response_async_callback);
    client->set_disconnected_callback(disconnected_callback);
    client->set_link_callbacks(link_up_callback, link_down_callback);
    return client;
}

void TraderImpl::BindThreadCpus(const ClientPtr& client) {
    if (SockType.load() == 1) {
        if (client) client->set_async_thread(nullptr, GetReceiverCpu());
    } else if (BusAdaptor* bus = GetBusAdaptor()) {
        // taken by the bus's launch; a core below 0 leaves its thread unpinned
        bus->SetThreadCpus(GetReceiverCpu(), GetDeliverCpu());
    }
}

int TraderImpl::TcpConnect(const ClientPtr& client, const char* ip, int port) {
    if (client->is_connected()) return 0;
    client->stop();
    std::this_thread::sleep_for(GetTimeouts().reconnect_pause);
    const int rc = client->connect(ip, static_cast<uint16_t>(port));
    if (rc == 0) return 0;
    spdlog::error("[{}] ({}:{}) errorcode={}", "TcpConnect", ip, port, rc);
    if (rc != kErrNotConnected) return 0;
    int code = 0;
    char text[1024] = {};
    client->get_last_error(&code, text);
    spdlog::error("[{}] errmsg [{}]", "TcpConnect", text);
    if (code == 0) {
        // the client failed without a system error: still a failed connect
        SetLastError(kErrNotConnected);
        return kErrNotConnected;
    }
    SetLastError(code, text);
    return code;
}

uint8_t TraderImpl::TradeGatewayLogin(const ClientPtr& client, uint64_t fund_account, const char* password,
                                      int sock_type) {
    uint8_t request[kGatewayLoginReqSize];
    PackGatewayLoginReq(request, fund_account, password, sock_type, _gTerminalInfo, GetClientId());

    // Armed before the send, so an answer that arrives before the wait begins is kept; only
    // an answer on this login's connection can end it.
    m_pGatewayLoginContext.store(ContextOf(client), std::memory_order_release);
    const uint64_t ticket = m_gatewayLoginWait.arm(fund_account);
    if (client->request_async(FUNC_ID_LOGIN, 0, request, sizeof(request)) != 0) {
        m_gatewayLoginWait.cancel(ticket);
        spdlog::error("[{}] request_async errmsg [{}]", "TradeGatewayLogin", kErrLoginNotSent);
        SetLastError(kErrLoginNotSent);
        return kGatewayLoginNotSent;
    }
    GatewayLoginAnswer answer;
    if (!m_gatewayLoginWait.wait(ticket, GetTimeouts().gateway_login, answer)) {
        const WaitStop* stop = WaitStop::Current();
        if (stop == nullptr || !stop->Triggered()) SetLastError(kErrAnswerTimeout);  // else released: Login says so
        return kGatewayLoginTimedOut;
    }
    if (!answer.accepted) {
        SetLastError(answer.rsp.error_code);  // the gateway's refusal
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxGatewayLoginRsp);
        m_gatewayLoginRsp = answer.rsp;
    }
    spdlog::trace("[{}] login return [{}]", "TradeGatewayLogin", answer.rsp.nFuncType);
    return answer.rsp.nFuncType;
}

CInnerApiInterface* TraderImpl::CreateInnerApi(uint8_t business_type, uint32_t* business_index) {
    CInnerApiInterface* inner_api = nullptr;
    uint32_t index = kNoBusiness;
    switch (business_type) {
        case 1: index = 0; inner_api = CreateSpotApi(); break;
        case 2: index = 1; inner_api = CreateMarginApi(); break;
        case 3: index = 2; inner_api = CreateOptionApi(); break;
        default: break;
    }
    if (business_index) *business_index = index;
    return inner_api;
}

CInnerApiInterface* TraderImpl::CreateSpotApi() { return MakeInnerApi(0, 1); }
CInnerApiInterface* TraderImpl::CreateMarginApi() { return MakeInnerApi(1, 2); }
CInnerApiInterface* TraderImpl::CreateOptionApi() { return MakeInnerApi(2, 3); }

CInnerApiInterface* TraderImpl::MakeInnerApi(uint32_t index, uint8_t business_type) {
    CInnerApiInterface* existing = m_pInnerApiByBusiness[index].load(std::memory_order_acquire);
    if (existing != nullptr) {
        if (CIdGenerator* generator = existing->GetIdGenerator()) generator->SetClientId(GetClientId());
        return existing;
    }
    InnerApiMaker maker;
    {
        std::lock_guard<std::mutex> lock(m_mtxSettings);
        maker = m_innerApiMaker;
    }
    CInnerApiInterface* inner_api = nullptr;
    if (maker) {
        inner_api = maker(business_type);
    } else if (business_type == 1) {
        inner_api = new SpotTraderImpl();
    } else if (business_type == 2) {
        inner_api = new MarginTraderImpl();
    } else if (business_type == 3) {
        inner_api = new OptionTraderImpl();
    }
    if (inner_api == nullptr) return nullptr;
    TraderSpi* spi = GetSpi();
    // kept for the back-end's life: a later RegisterSpi does not reach it
    spdlog::info("[{}] business {} back-end created; it calls callback object {} until Release", "CreateInnerApi",
                 business_type, static_cast<const void*>(spi));
    inner_api->RegisterSpi(spi);
    // One generator per business for the life of the process: a back-end is never freed (a
    // request may still be inside one after Release), so a new generator per back-end would
    // add its counter table at every Login after a Release. Each login sets its session's
    // counter, so the generator carries nothing from the released back-end into the new one.
    CIdGenerator* generator = m_pIdGenerators[index];
    if (generator == nullptr) {
        generator = new CIdGenerator(GetClientId());
        m_pIdGenerators[index] = generator;
    } else {
        generator->SetClientId(GetClientId());
    }
    inner_api->Init(m_pBusAdaptor.load(std::memory_order_acquire), generator, &m_stLastError);
    inner_api->SubscribePublicTopic(GetResumeType());
    m_pInnerApiByBusiness[index].store(inner_api, std::memory_order_release);
    return inner_api;
}

// ---------------------------------------------------------------------------------------
// Logout

int TraderImpl::Logout(uint64_t session_id) {
    spdlog::info("Logout: sessionId={}", session_id);
    CInnerApiInterface* inner_api = GetInnerApi(session_id);
    if (inner_api == nullptr) return kErrSessionNotRegistered;
    tagSessionInfo* info = inner_api->GetSessionInfo(session_id);
    if (info == nullptr) {
        SetLastError(kErrSessionNotRegistered);
        return kErrSessionNotRegistered;
    }
    const uint64_t fund_account = info->nFundAcc;
    uint8_t request[kLogoutReqSize];
    PackLogoutReq(request, fund_account, info->nprotocol_type, info->nClientID);

    if (OnCallbackThread()) return LogoutWithoutWaiting(inner_api, session_id, fund_account, request);

    std::lock_guard<std::mutex> lock(m_mtxLogout);
    const uint64_t ticket = m_logoutWait.arm(fund_account);
    const int rc = inner_api->SendToGatewayServer(session_id, FUNC_ID_LOGOUT_REQ, request, sizeof(request), 0);
    if (rc != 0) {
        m_logoutWait.cancel(ticket);
        return rc;
    }
    int32_t error = 0;
    if (!m_logoutWait.wait(ticket, GetTimeouts().logout, error)) {
        SetLastError(kErrLogoutTimeout);
        return kErrLogoutTimeout;
    }
    if (error != 0) return error;  // refused: the session stays, the code is recorded
    return FinishLogout(inner_api, session_id, fund_account);
}

int TraderImpl::FinishLogout(CInnerApiInterface* inner_api, uint64_t session_id, uint64_t fund_account) {
    const ClientPtr client = _gArrTcpClient.Get(CInnerApiInterface::GetNodeIdBySession(session_id));
    if (TraderContext* context = ContextOf(client)) context->push.Forget(fund_account);
    return inner_api->Logout(session_id);
}

// On the io thread that must deliver the answer: send, and let the answer end the session
// (as a waiting Logout would) when it comes. Never takes the logout lock, which a waiting
// Logout holds until this very thread has delivered its answer.
int TraderImpl::LogoutWithoutWaiting(CInnerApiInterface* inner_api, uint64_t session_id, uint64_t fund_account,
                                     const uint8_t* request) {
    {
        std::lock_guard<std::mutex> lock(m_mtxDeferredLogouts);
        m_deferredLogouts[fund_account] = DeferredLogout{inner_api, session_id};
    }
    const int rc = inner_api->SendToGatewayServer(session_id, FUNC_ID_LOGOUT_REQ, request, kLogoutReqSize, 0);
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(m_mtxDeferredLogouts);
        m_deferredLogouts.erase(fund_account);
        return rc;
    }
    spdlog::info("[{}] sessionId={} on a callback thread: ends when the gateway answers", "Logout", session_id);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Inbound routing

uint32_t TraderImpl::GetBusinessIndex(uint64_t msg_id) {
    if (msg_id <= 511 || (msg_id >= 0x20000 && msg_id <= 0x20FFF)) return 0;
    if ((msg_id >= 512 && msg_id <= 1023) || (msg_id >= 0x21000 && msg_id <= 0x21FFF)) return 1;
    if ((msg_id >= 1024 && msg_id <= 1535) || (msg_id >= 0x22000 && msg_id <= 0x22FFF)) return 2;
    return kNoBusiness;
}

void TraderImpl::OnRecv(int request_id, uint64_t msg_id, const char* body, int length, int playback,
                        int byte_order, int src_group, int src_member, TraderContext* context) {
    spdlog::info("[{}] msgid:[0x{:x}] len[{}]", "OnRecv", msg_id, length);
    if (length < 0 || (length > 0 && body == nullptr)) return;
    switch (msg_id) {
        case FUNC_ID_LOGIN: OnGatewayLoginRsp(body, length, context); return;
        case FUNC_ID_PUSH_REG: OnGatewayPushRegRsp(body, length, context); return;
        case FUNC_ID_LOGOUT_RSP: OnGatewayLogoutRsp(body, length); return;
        case FUNC_ID_API_OFFLINE: OnGatewayOffline(body, length); return;
        default: break;
    }
    const uint32_t index = GetBusinessIndex(msg_id);
    if (index == kNoBusiness) {
        spdlog::warn("[{}] recv unknown msg_id [0x{:x}]", "OnRecv", msg_id);
        return;
    }
    CInnerApiInterface* inner_api = m_pInnerApiByBusiness[index].load(std::memory_order_acquire);
    if (inner_api == nullptr || context == nullptr) return;
    // Before the first session of the business through this connection is filed (its own
    // login answer) the node is not known yet: such messages carry node 0.
    const int32_t node = context->node_ids[index].load(std::memory_order_acquire);
    const uint32_t node_id = node == TraderContext::kNoNode ? 0u : static_cast<uint32_t>(node);
    inner_api->OnRecv(request_id, static_cast<uint32_t>(msg_id), body, length, playback,
                      static_cast<uint8_t>(byte_order), static_cast<int16_t>(src_group),
                      static_cast<int16_t>(src_member), node_id);
}

void TraderImpl::OnGatewayLoginRsp(const char* body, int length, const TraderContext* context) {
    GatewayLoginAnswer answer;
    if (!ReadGatewayLoginRsp(body, static_cast<std::size_t>(length), &answer.rsp)) {
        spdlog::error("[{}] gateway login answer too short: {} bytes", "OnRecv", length);
        return;
    }
    const GatewayLoginRsp& rsp = answer.rsp;
    spdlog::info("[{}] rsp->fundid:[{}] rsp->error_code:[{}]", "OnRecv", rsp.fundid, rsp.error_code);
    if (context != m_pGatewayLoginContext.load(std::memory_order_acquire)) {
        spdlog::warn("[{}] gateway login answer for fund account {} on another connection: dropped", "OnRecv",
                     rsp.fundid);
        return;
    }
    if (rsp.error_code != 0) {
        spdlog::error("[{}]  error [{}]", "OnRecv", rsp.error_code);
        answer.accepted = false;
        DeliverLoginAnswer(m_gatewayLoginWait, "OnRecv", rsp.fundid, rsp.error_code, answer);
        return;
    }
    if (!IsPendingLoginAnswer(m_gatewayLoginWait, "OnRecv", rsp.fundid, 0)) return;
    if (rsp.protocol_mod == PROTOCOL_MODE_TCP_GATEWAY) {
        spdlog::info("[{}] rsp->protocol_mod = PROTOCOL_MODE_TCP_GATEWAY", "OnRecv");
    } else if (rsp.protocol_mod == PROTOCOL_MODE_UDP_VORN) {
        spdlog::info("[{}] rsp->protocol_mod = PROTOCOL_MODE_UDP_VORN", "OnRecv");
    } else {
        spdlog::error("[{}] unknown Protocol", "OnRecv");
        return;
    }
    spdlog::info("[{}] nFuncType [{:x}]", "OnRecv", rsp.nFuncType);
    answer.accepted = true;
    DeliverLoginAnswer(m_gatewayLoginWait, "OnRecv", rsp.fundid, 0, answer);
}

void TraderImpl::OnGatewayPushRegRsp(const char* body, int length, TraderContext* context) {
    PushRegAnswer answer;
    if (!ReadPushRegAnswer(body, static_cast<std::size_t>(length), &answer)) {
        spdlog::error("[{}] push registration answer too short: {} bytes", "OnRecv", length);
        return;
    }
    spdlog::info("[{}] trade_gateway::protocol::internal::FUNC_ID_PUSH_REG rsp->fundid:[{}]", "OnRecv",
                 answer.fund_account);
    if (answer.error != 0) {
        spdlog::error("[{}]  error [{}]", "OnRecv", answer.error);
        SetLastError(answer.error);
    }
    // The registration it answers was made on this connection, on the link it was read from.
    if (context == nullptr || !context->push.Deliver(context->delivering_link, answer.fund_account, answer.error)) {
        spdlog::warn("[{}] push registration answer for fund account {} that no registration waits for", "OnRecv",
                     answer.fund_account);
    }
}

void TraderImpl::OnGatewayLogoutRsp(const char* body, int length) {
    LogoutRsp rsp;
    if (!ReadLogoutRsp(body, static_cast<std::size_t>(length), &rsp)) {
        spdlog::error("[{}] logout answer too short: {} bytes", "OnRecv", length);
        return;
    }
    spdlog::info("[{}] trade_gateway::protocol::internal::FUNC_ID_LOGOUT_RSP rsp->fundid:[{}]", "OnRecv", rsp.fundid);
    if (rsp.error != 0) {
        spdlog::error("[{}]  error [{}]", "OnRecv", rsp.error);
        SetLastError(rsp.error);
    }
    m_logoutWait.deliver(rsp.fundid, rsp.error);

    DeferredLogout deferred;
    {
        std::lock_guard<std::mutex> lock(m_mtxDeferredLogouts);
        auto it = m_deferredLogouts.find(rsp.fundid);
        if (it == m_deferredLogouts.end()) return;
        deferred = it->second;
        m_deferredLogouts.erase(it);
    }
    if (rsp.error != 0) return;  // refused: the session stays
    FinishLogout(deferred.inner_api, deferred.session_id, rsp.fundid);
    spdlog::info("[{}] logout of sessionId={} answered: session ended", "OnRecv", deferred.session_id);
}

void TraderImpl::OnGatewayOffline(const char* body, int length) {
    OfflineCmd cmd;
    ReadOfflineCmd(body, static_cast<std::size_t>(length), &cmd);  // a short command still goes off line
    spdlog::info("OXA Command API Off Line: reqId={},tradingDay={}", cmd.request_id, cmd.trading_day);
    Release();
}

CInnerApiInterface* TraderImpl::AccountBackend(uint64_t fund_account) {
    std::lock_guard<std::mutex> lock(m_mtxAccounts);
    auto it = m_mapAccounts.find(fund_account);
    return it != m_mapAccounts.end() ? it->second : nullptr;
}

std::vector<tcp_framework::client::LinkRequest> TraderImpl::OnLinkUp(const ClientPtr& client, uint64_t link) {
    std::vector<tcp_framework::client::LinkRequest> requests;
    TraderContext* context = ContextOf(client);
    if (context == nullptr) return requests;
    std::vector<uint64_t> sent;
    // On the bus the gateway's connection carries no orders and no pushes: nothing to register.
    if (SockType.load() == 1) {
        for (uint64_t account : context->push.Served()) {
            CInnerApiInterface* inner_api = AccountBackend(account);
            if (inner_api == nullptr) continue;  // released meanwhile
            requests.push_back({kMsgPushReg, inner_api->NextRequestId(), MakePushRegRequest(account)});
            sent.push_back(account);
        }
    }
    context->push.LinkUp(link, sent);
    if (!sent.empty())
        spdlog::info("[{}] link {}: {} fund accounts registered for pushes ahead of any order", "OnLinkUp", link,
                     sent.size());
    return requests;
}

void TraderImpl::OnTcpConnected(const ClientPtr& client) {
    TraderContext* context = ContextOf(client);
    if (SockType.load() == 1 && context != nullptr) AwaitLinkRegistrations(*context);
    if (TraderSpi* spi = GetSpi()) spi->OnConnected();
}

// The link's registrations went out with its first frames: their answers, each within its
// back-end's registration wait, before the application hears of the link.
void TraderImpl::AwaitLinkRegistrations(TraderContext& context) {
    const uint64_t link = context.push.Link();
    const auto start = PushRegistry::Clock::now();
    for (uint64_t account : context.push.Carried(link)) {
        CInnerApiInterface* inner_api = AccountBackend(account);
        const auto timeout =
            inner_api != nullptr ? inner_api->GetPushRegisterTimeout() : CInnerApiInterface::kPushRegisterTimeout;
        int32_t error = 0;
        switch (context.push.Wait(account, link, start + timeout, &error)) {
            case PushRegistry::Outcome::kAnswered:
            case PushRegistry::Outcome::kWithdrawn:
                break;  // a refusal is logged and recorded by the answer side
            case PushRegistry::Outcome::kLinkLost:
                spdlog::warn("[{}] link {} lost before its push registrations were answered", "OnTcpConnected", link);
                return;
            case PushRegistry::Outcome::kTimedOut:
            case PushRegistry::Outcome::kStopped:
                spdlog::error("[{}] push registration of fund account {} not answered", "OnTcpConnected", account);
                SetLastError(kErrAnswerTimeout);
                break;
        }
    }
}

void TraderImpl::OnTcpDisconnected(int code) {
    if (SockType.load() != 1) return;  // in bus mode a lost gateway connection is not reported
    NotifyDisconnected(code);
}

void TraderImpl::NotifyDisconnected(int code) {
    if (TraderSpi* spi = GetSpi()) spi->OnDisconnected(code);
}

// ---------------------------------------------------------------------------------------
// Release

void TraderImpl::StopConnectionsForExit() {
    spdlog::info("[{}] stopping the connections at exit", "StopConnectionsForExit");
    StopTcpClients();
}

void TraderImpl::StopTcpClients() {
    std::vector<ClientPtr> clients = _gArrTcpClient.TakeAll();
    {
        std::lock_guard<std::mutex> lock(m_mtxTcpClients);
        for (auto& entry : m_mapTcpClient) {
            if (std::find(clients.begin(), clients.end(), entry.second) == clients.end()) clients.push_back(entry.second);
        }
        m_mapTcpClient.clear();
    }
    // On a connection's own io thread (the off-line command) stop does not wait for it;
    // stopping a stopped client returns at once.
    for (auto& client : clients) client->stop();
    // The facade's last references: each connection ends once its own threads let go.
    clients.clear();
    std::lock_guard<std::mutex> lock(m_mtxTcpClients);
    PruneContexts();
}

void TraderImpl::PruneContexts() {
    // A context is read only through a live connection, so one whose connection is gone can go.
    m_contexts.erase(std::remove_if(m_contexts.begin(), m_contexts.end(),
                                    [](const ContextEntry& e) { return e.client.expired(); }),
                     m_contexts.end());
}

}  // namespace API
}  // namespace OXA
