#include "core/option_api/OptionTraderImpl.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ApiGlobals.h"
#include "api/GatewayMessages.h"
#include "api/SessionTables.h"
#include "api/TraderContext.h"
#include "api/TraderImpl.h"
#include "api_common/CInnerApiInterface/LoginAnswer.h"
#include "api_common/RequestGate.h"
#include "api_common/SessionFiling.h"
#include "core/option_api/OptTradeDriver.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

namespace {

constexpr const char* kSourcePath = "trader_api/core/option_api/OptTraderApi";
// Recorded when the synchronisation request could not be sent.
constexpr int kSyncSendFailed = 6081;
// Bytes 14-35 of the gateway login answer travel at 293 of the login request.
constexpr std::size_t kGatewayBlockAt = 14;
constexpr std::size_t kGatewayBlockLength = 22;

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The gateway login answer the facade took just before this login (zeros without one).
GatewayLoginRsp GatewayAnswerOf(const CInnerApiInterface::ClientPtr& client) {
    const auto* context = client ? static_cast<const TraderContext*>(client->context()) : nullptr;
    if (context == nullptr || context->owner == nullptr) return GatewayLoginRsp{};
    return context->owner->GetGatewayLoginRsp();
}

}  // namespace

namespace OPT {

bool ReadCoreLoginRsp(const char* data, int len, CoreLoginRsp* out) noexcept {
    *out = CoreLoginRsp{};
    if (data == nullptr || len < static_cast<int>(kCoreLoginRspSize)) return false;
    WireReader r(data, static_cast<std::size_t>(len));
    r.read_host(out->fund_account);
    r.read_host(out->session_no);
    r.seek(315);
    r.read_host(out->error_code);
    r.seek(383);
    r.read_host(out->trading_day);
    r.read_host(out->node_id);
    r.read_host(out->fund_index);
    r.read_host(out->cur_order_id);
    r.read_host(out->order_limit);
    r.read_host(out->query_limit);
    if (!r.ok()) *out = CoreLoginRsp{};
    return r.ok();
}

void PackCoreLoginReq(uint8_t* out, uint64_t fund_account, uint64_t request_seq, uint16_t client_id,
                      const GatewayLoginRsp& gateway, const char* terminal_info) noexcept {
    WireWriter w(out, kCoreLoginReqSize);
    w.fill(0, kCoreLoginReqSize);
    w.seek(0);
    w.write_host<uint64_t>(fund_account);
    w.write_host<uint64_t>(gateway.option_value);
    w.write_host<uint64_t>(request_seq);
    w.write_host<uint16_t>(client_id);
    w.write_host<uint16_t>(gateway.protocol_mod);
    w.write_host<uint64_t>(kMsgCoreLoginReq);
    w.write_host<uint8_t>('P');
    char text[256];
    CopyText(text, terminal_info, sizeof text - 1);
    w.write_bytes(text, sizeof text);
    w.seek(293);
    w.write_bytes(gateway.raw + kGatewayBlockAt, kGatewayBlockLength);
}

int SendToGatewayServer(uint64_t session_id, const void* body, uint32_t msg_id, int length, int request_id) {
    OptionTraderImpl* api = GetInnerApi();
    if (api == nullptr) return kErrSendFailed;
    return api->SendFollowUp(session_id, msg_id, body, length, request_id);
}

}  // namespace OPT

using namespace OPT;

OptionTraderImpl::OptionTraderImpl() {
    InitTradeDriver();
    OPT::SetInnerApi(this);
}

OptionTraderImpl::~OptionTraderImpl() {
    if (OPT::GetInnerApi() == this) OPT::SetInnerApi(nullptr);
    m_sessions.Clear();
}

void OptionTraderImpl::SetTimeouts(const Timeouts& t) {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    m_timeouts = t;
}

OptionTraderImpl::Timeouts OptionTraderImpl::GetTimeouts() const {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    return m_timeouts;
}

void OptionTraderImpl::SetSendHook(SendHook hook) {
    std::lock_guard<std::mutex> lock(m_mtxSettings);
    m_sendHook = std::move(hook);
}

int OptionTraderImpl::Send(bool gateway, const ClientPtr* client, uint64_t session_id, uint32_t msg_id,
                           const void* body, int length, int request_id) {
    if (!gateway) return Transmit(gateway, client, session_id, msg_id, body, length, request_id);
    // noted first: the answer may be handled before the send returns
    m_sessions.NoteQuery(session_id, request_id);
    const int rc = Transmit(gateway, client, session_id, msg_id, body, length, request_id);
    if (rc != 0) m_sessions.EndQuery(session_id, request_id);
    return rc;
}

int OptionTraderImpl::Transmit(bool gateway, const ClientPtr* client, uint64_t session_id, uint32_t msg_id,
                               const void* body, int length, int request_id) {
    SendHook hook;
    {
        std::lock_guard<std::mutex> lock(m_mtxSettings);
        hook = m_sendHook;
    }
    if (hook) return hook(gateway, session_id, msg_id, body, length, request_id);
    if (client != nullptr) {
        return gateway ? CInnerApiInterface::SendToGatewayServer(*client, msg_id, body, length, request_id)
                       : CInnerApiInterface::SendToServer(*client, msg_id, body, length, request_id);
    }
    return gateway ? CInnerApiInterface::SendToGatewayServer(session_id, msg_id, body, length, request_id)
                   : CInnerApiInterface::SendToServer(session_id, msg_id, body, length, request_id);
}

// ---------------------------------------------------------------------------------------
// Small operations

void OptionTraderImpl::OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                              uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) {
    spdlog::info("callback func_id:{:x}", msg_id);
    if (msg_id == kMsgCoreLoginRsp) {
        OnCoreLogin(body, length);
    } else if (msg_id == kMsgSubscribeRsp) {
        // nothing of the answer is read: its arrival ends the subscription in flight
        m_subscribeWait.deliver(m_nSubscribeKey.load(), 1);
    }
    GetTradeDriver().onRecv(request_id, msg_id, body, length, playback, byte_order != 0, src_group, src_member,
                            node_id);
}

void OptionTraderImpl::Release() {
    // The object stays allocated (an io thread may still be in a handler): it stops being the
    // driver's back-end and forgets its index, whose records the facade frees next.
    if (OPT::GetInnerApi() == this) OPT::SetInnerApi(nullptr);
    OPT::SetTraderSpi(nullptr);
    m_sessions.Clear();
}

void OptionTraderImpl::RegisterSpi(TraderSpi* spi) {
    m_pSpi.store(spi);
    OPT::SetTraderSpi(spi);
}

void OptionTraderImpl::SubscribePublicTopic(int resume_type) {
    spdlog::info("{} {} {}\n ", kSourcePath, __LINE__, "SubscribePublicTopic");
    m_nResumeType.store(resume_type);
}

int OptionTraderImpl::Reserved3(uint64_t) { return 0; }

void OptionTraderImpl::SetSpeedLimit(int ctrl_type, uint64_t session_id, int32_t max_count) {
    m_speedControl.SetSpeedControl(session_id, SpeedControlCfg{static_cast<uint8_t>(ctrl_type), 1000,
                                                               max_count > 0 ? static_cast<uint32_t>(max_count) : 0u});
}

uint64_t OptionTraderImpl::FirstOrderId(const tagSessionInfo& info) {
    return info.nApiSessionID << 40 | static_cast<uint64_t>(info.nClientID) << 32 | info.nLastOrderID;
}

AnswerSessions::Found OptionTraderImpl::FindSessionInfo(const AnswerSessions::Clues& clues, const char* who) const {
    return m_sessions.Find(clues, who);
}

tagSessionInfo* OptionTraderImpl::CheckRequest(uint64_t session_id, int ctrl_type) {
    return GateRequest(*this, m_speedControl, session_id, ctrl_type);
}

// ---------------------------------------------------------------------------------------
// Login

uint64_t OptionTraderImpl::Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) {
    m_nApiSessionID.store(0);
    m_nFundAcc.store(fund_account);

    const int reg = TradeGatewayPushRegister(client, fund_account);
    if (reg != 0) {
        SetLastError(reg);
        return 0;
    }
    const int rc = CoreLogin(client, fund_account);
    if (rc != 0) {
        SetLastError(rc);
        return 0;  // never a session another answer left behind
    }
    spdlog::debug("[============{}{}]登录完成 fundid:{}, m_nApiSessionID:{}", "Login", __LINE__, fund_account,
                  m_nApiSessionID.load());
    return m_nApiSessionID.load();
}

int OptionTraderImpl::CoreLogin(const ClientPtr& client, uint64_t fund_account) {
    std::lock_guard<std::mutex> lock(m_mtxLogin);
    spdlog::info("[{}:{}] SendInit Begin", kSourcePath, "CoreLogin");

    const uint64_t seq = NextRequestId();
    uint8_t req[kCoreLoginReqSize];
    PackCoreLoginReq(req, fund_account, seq, GetClientId(), GatewayAnswerOf(client), _gTerminalInfo);

    // Armed before the send: an answer that comes inside the send is kept.
    const uint64_t ticket = m_loginWait.arm(fund_account);
    const int rc =
        Transmit(false, &client, 0, kMsgCoreLoginReq, req, static_cast<int>(sizeof req), static_cast<int>(seq));
    if (rc != 0) {
        m_loginWait.cancel(ticket);
        SetLastError(rc);
        return rc;
    }
    spdlog::info("CoreLogin Send Finish");
    LoginResult result;
    if (!m_loginWait.wait(ticket, GetTimeouts().login, result)) {
        SetLastError(kErrLoginTimeout);
        return kErrLoginTimeout;
    }
    if (result.accepted && result.filed == nullptr) {
        // the session id was filed already: the new session replaces it only now
        result.filed = FileSession(result.rsp);
        result.accepted = result.filed != nullptr;
    }
    if (!result.accepted) {
        SetLastError(kErrLoginRefused);
        return kErrLoginRefused;
    }
    m_nSessionNo.store(result.filed->nSessionID);
    m_nApiSessionID.store(result.filed->nApiSessionID);
    spdlog::debug("[============{}{}]登录完成 fundid:{}, m_nApiSessionID:{}", "CoreLogin", __LINE__, fund_account,
                  result.filed->nApiSessionID);
    return 0;
}

void OptionTraderImpl::OnCoreLogin(const char* body, int length) {
    CoreLoginRsp rsp;
    if (!ReadCoreLoginRsp(body, length, &rsp)) {
        spdlog::error("[{}] login answer of {} bytes, {} expected: dropped", "OnCoreLogin", length, kCoreLoginRspSize);
        return;
    }
    spdlog::info("Recv Core Login Rsp");
    spdlog::info("ErrorCode        :{}", rsp.error_code);
    spdlog::info("SessionNo        :{}", rsp.session_no);
    spdlog::info("FundAcc          :{}", rsp.fund_account);
    spdlog::info("CurOrdId         :{}", rsp.cur_order_id);
    spdlog::info("Date             :{}", rsp.trading_day);
    spdlog::info("NodeId           :{}", rsp.node_id);
    spdlog::info("FundIdx          :{}", rsp.fund_index);
    spdlog::info("CurOrdId         :{}", rsp.cur_order_id);

    const LoginResult refused;
    if (rsp.error_code != 0) {
        // ends only the login of the account it names (the login in flight when it names none)
        if (IsPendingLoginAnswer(m_loginWait, "OnCoreLogin", rsp.fund_account, rsp.error_code,
                                 RefusalRule::kNamedAccountOnly)) {
            spdlog::error("OnCoreLogin Failed [{}]", rsp.error_code);
            DeliverLoginAnswer(m_loginWait, "OnCoreLogin", rsp.fund_account, rsp.error_code, refused,
                               RefusalRule::kNamedAccountOnly);
        }
        return;
    }
    if (!IsPendingLoginAnswer(m_loginWait, "OnCoreLogin", rsp.fund_account, 0)) return;
    // a node id beyond the session id's 8 bits would file the session under another node
    if (rsp.node_id > 255) {
        spdlog::error("OnCoreLogin Failed: node {} out of range", rsp.node_id);
        DeliverLoginAnswer(m_loginWait, "OnCoreLogin", rsp.fund_account, 0, refused);
        return;
    }
    const uint64_t session_id = uint64_t{rsp.node_id} << 16 | (rsp.fund_index & 0xffff);
    spdlog::debug(
        "OnCoreLogin Finish. _tradingDay={}, m_nApiSessionID={}, stSessInfo.nFundAcc={}, stSessInfo.nFundAccIndex={}, "
        "stSessInfo.nSessionID={}, stSessInfo.nLastOrderID={}, stSessInfo.nApiSessionID={}, stSessInfo.nClientID={}, "
        "stSessInfo.nprotocol_type={}",
        rsp.trading_day, session_id, rsp.fund_account, rsp.fund_index & 0xffff, rsp.session_no, rsp.cur_order_id,
        session_id, GetClientId(), SockType.load() == 1 ? 1 : 2);
    LoginResult accepted;
    accepted.rsp = rsp;
    DeliverGrantedLogin(
        m_loginWait, "OnCoreLogin", rsp.fund_account, session_id, accepted, [&] { return FileSession(rsp); },
        [this](tagSessionInfo* record) { UnfileSession(record, &m_sessions); });
}

tagSessionInfo* OptionTraderImpl::FileSession(const CoreLoginRsp& rsp) {
    SessionGrant grant;
    grant.session_id = uint64_t{rsp.node_id} << 16 | (rsp.fund_index & 0xffff);
    grant.session_no = rsp.session_no;
    grant.fund_account = rsp.fund_account;
    grant.fund_index = static_cast<uint16_t>(rsp.fund_index);
    grant.last_order_no = rsp.cur_order_id;
    grant.order_id_base = static_cast<uint32_t>(rsp.cur_order_id);
    // per second; a negative maximum is taken as 0
    grant.order_limit = SpeedControlCfg{0, 1000, rsp.order_limit > 0 ? static_cast<uint32_t>(rsp.order_limit) : 0u};
    grant.query_limit = SpeedControlCfg{1, 1000, rsp.query_limit > 0 ? static_cast<uint32_t>(rsp.query_limit) : 0u};
    grant.with_seq_reg = false;  // option pushes are not filtered by their number
    _tradingDay.store(rsp.trading_day);
    tagSessionInfo* record = API::FileSession(*this, m_speedControl, grant, nullptr, &m_sessions);
    if (record == nullptr) spdlog::error("OnCoreLogin: session {} not filed", grant.session_id);
    return record;
}

int OptionTraderImpl::Logout(uint64_t session_id) {
    // only this session's own record leaves the index; the tables retire it
    m_sessions.Unlist(_gArrSessionInfo.Get(session_id));
    uint64_t fund_account = 0;
    UnregisterSession(session_id, &fund_account);
    spdlog::info("Logout Success: fundAcc={},sessionId={}", fund_account, session_id);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Push resumption. Both requests go to the gateway connection, in bus mode too, like every
// other resumption message.

int OptionTraderImpl::StartSyncPush() {
    if (m_nResumeType.load() == 2) return 0;
    m_nStartSeqNo.store(0);
    const Timeouts timeouts = GetTimeouts();
    const uint64_t session_id = m_nApiSessionID.load();
    {
        std::lock_guard<std::mutex> lock(m_mtxSync);
        m_bSyncEnded.store(false);
        m_nSyncPageMs.store(SteadyMs());
        m_nSyncSession.store(session_id);
        const uint64_t ticket = m_syncWait.arm(session_id);
        if (SendSyncPushReq() == 0) {
            if (!WaitForReplay(session_id, ticket, timeouts.sync)) {
                spdlog::warn("[{}] Request Msg Push TimeOut.", "StartSyncPush");
                SetLastError(kErrLoginTimeout);
            }
        } else {
            m_syncWait.cancel(ticket);
        }
        m_nSyncSession.store(0);
    }

    std::lock_guard<std::mutex> lock(m_mtxSubscribe);
    const uint64_t key = m_nSubscribeKey.fetch_add(1) + 1;
    const uint64_t ticket = m_subscribeWait.arm(key);
    const int rc = ReqSubscribeMsg();
    if (rc != 0) {
        m_subscribeWait.cancel(ticket);
        return rc;
    }
    int done = 0;
    if (!m_subscribeWait.wait(ticket, timeouts.subscribe, done)) {
        spdlog::warn("[{}] Subscribe Msg TimeOut.", "StartSyncPush");
        SetLastError(kErrLoginTimeout);
        return kErrLoginTimeout;
    }
    return 0;
}

// Waits for the replay's end; every page that asks for more moves the deadline on. The end
// flag is set before its notice is delivered, so an end that comes while the wait is armed
// again is seen.
bool OptionTraderImpl::WaitForReplay(uint64_t session_id, uint64_t ticket, std::chrono::milliseconds timeout) {
    int32_t last_seq = 0;
    for (;;) {
        const int64_t remaining = m_nSyncPageMs.load() + timeout.count() - SteadyMs();
        if (remaining > 0 && m_syncWait.wait(ticket, std::chrono::milliseconds(remaining), last_seq)) return true;
        if (m_bSyncEnded.load()) return true;
        if (m_nSyncPageMs.load() + timeout.count() <= SteadyMs()) return false;
        ticket = m_syncWait.arm(session_id);
        if (m_bSyncEnded.load()) {
            m_syncWait.cancel(ticket);
            return true;
        }
    }
}

int OptionTraderImpl::SendSyncPushReq() {
    const uint64_t seq = NextRequestId();
    const uint64_t session_id = m_nApiSessionID.load();
    uint8_t req[kSyncReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint64_t>(session_id);
    w.write_host<uint64_t>(seq);
    w.write_host<int32_t>(0);
    w.write_host<int32_t>(0);
    w.write_host<uint8_t>('0');
    w.write_host<int32_t>(m_nStartSeqNo.load());
    w.write_host<uint64_t>(m_nFundAcc.load());
    spdlog::debug("同步请求发送");
    spdlog::info("[{}:{}] SendSyncPushReq: FundAcc [{}], SessionID [{}], StartSeqNo [{}]", kSourcePath,
                 "SendSyncPushReq", m_nFundAcc.load(), session_id, m_nStartSeqNo.load());
    const int rc = Transmit(true, nullptr, session_id, kMsgSyncPushReq, req, static_cast<int>(sizeof req),
                            static_cast<int>(seq));
    if (rc != 0) {
        spdlog::info("同步请求发送失败 Sync-Push-Msg Fail ( 6081 ).");
        SetLastError(kSyncSendFailed);
    }
    return rc;
}

int OptionTraderImpl::ReqSubscribeMsg() {
    spdlog::debug("[============{}{}]同步完成，开始订阅", "ReqSubscribeMsg", __LINE__);
    const uint64_t seq = NextRequestId();
    uint8_t req[kSubscribeReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint64_t>(m_nSessionNo.load());
    w.write_host<uint64_t>(seq);
    w.write_host<int32_t>(m_nStartSeqNo.load());
    w.write_host<uint64_t>(m_nFundAcc.load());
    const int rc = Transmit(true, nullptr, m_nApiSessionID.load(), kMsgSubscribeReq, req,
                            static_cast<int>(sizeof req), static_cast<int>(seq));
    if (rc != 0) {
        spdlog::info("MSG_OPTION_SUBSCRIBE_PUSH_MSG subscribe-Push-Msg Fail ( 6081 ).");
        SetLastError(kErrLoginRefused);
    }
    return rc;
}

void OptionTraderImpl::SyncNotify(uint64_t session_id, int32_t last_seq) {
    if (session_id == 0 || m_nSyncSession.load() != session_id) {
        spdlog::warn("[{}] replay end for session {} that is not being resumed: ignored", "SyncNotify", session_id);
        return;
    }
    spdlog::info("[{}] Sync End.", "SyncNotify");
    if (last_seq != 0) m_nStartSeqNo.store(last_seq + 1);
    m_bSyncEnded.store(true);
    m_syncWait.deliver(session_id, last_seq);
}

void OptionTraderImpl::SyncProgress(uint64_t session_id, int32_t last_seq) {
    if (session_id == 0 || m_nSyncSession.load() != session_id || m_bSyncEnded.load()) return;
    // a replay that stops after this page resumes behind it, not from the start again
    if (last_seq != 0) m_nStartSeqNo.store(last_seq + 1);
    m_nSyncPageMs.store(SteadyMs());
}

int OptionTraderImpl::SendFollowUp(uint64_t session_id, uint32_t msg_id, const void* body, int length,
                                   int request_id) {
    // a page of a query already in flight
    return Transmit(true, nullptr, session_id, msg_id, body, length, request_id);
}

}  // namespace API
}  // namespace OXA
