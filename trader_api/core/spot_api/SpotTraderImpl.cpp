#include "core/spot_api/SpotTraderImpl.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ApiGlobals.h"
#include "api/SessionTables.h"
#include "api_common/CInnerApiInterface/LoginAnswer.h"
#include "api_common/SessionFiling.h"
#include "core/spot_api/SpotPushes.h"
#include "core/spot_api/SpotQueryAnswers.h"
#include "core/spot_api/SpotTradeDriver.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

namespace SPOT {

bool ReadCoreLoginRsp(const char* data, int len, CoreLoginRsp* out) noexcept {
    *out = CoreLoginRsp{};
    if (data == nullptr || len < static_cast<int>(kCoreLoginRspSize)) return false;
    WireReader r(data, static_cast<std::size_t>(len));
    r.seek(8);
    r.read_host(out->fund_account);
    r.seek(24);
    r.read_host(out->trading_day);
    r.seek(32);
    r.read_host(out->fund_index);
    r.read_host(out->order_no_index);
    r.read_host(out->session_no);
    r.read_host(out->error_code);
    r.read_host(out->node_id);
    r.read_host(out->order_limit);
    r.read_host(out->query_limit);
    return r.ok();
}

namespace {

SpotTraderImpl* Spot() { return static_cast<SpotTraderImpl*>(GetInnerApi()); }

void OnCoreLoginRsp(CTradeDriver& driver, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                    uint32_t) {
    SpotTraderImpl* spot = Spot();
    CoreLoginRsp rsp;
    if (spot == nullptr || !ReadCoreLoginRsp(data, len, &rsp)) return;
    // the trading day comes only from an answer that accepted the login
    if (rsp.error_code == 0) driver.SetTradingDay(rsp.trading_day);
    spot->OnInit(rsp);
}

void OnSubscribeEnd(CTradeDriver&, int, int32_t, const char*, int, int, bool, int16_t, int16_t, uint32_t) {
    if (SpotTraderImpl* spot = Spot()) spot->SubscribeEndNotify();
}

// Length each replayed push is handed on with; its copy is always 160 bytes, zero-filled.
int ReplayLength(uint16_t msg_id) {
    switch (msg_id) {
        case kMsgOrderPush: return 160;
        case kMsgCancelErrorPush: return 122;
        case kMsgTradePush: return 121;
        case kMsgFundTransferPush: return 99;
        case kMsgHoldingChangePush: return 67;
        default: return 0;
    }
}

void OnSyncPushReply(CTradeDriver& driver, int, int32_t, const char* data, int len, int playback, bool byte_order,
                     int16_t src_group, int16_t src_member, uint32_t node_id) {
    SpotTraderImpl* spot = Spot();
    if (spot == nullptr) return;
    if (spot->IsSyncEnd()) {
        spdlog::warn("[{}] Recv Sync Msg After Sync End, Ignore.", "OnSyncPushReply");
        return;
    }
    WireReader head(data, static_cast<std::size_t>(len));
    uint32_t first = 0, second = 0, count = 0, stride = 0;
    head.seek(32);
    head.read_host(first);
    head.read_host(second);
    head.seek(44);
    head.read_host(count);
    head.read_host(stride);
    if (!head.ok()) return;
    const bool ended = first == second || first == 0;

    // Only records that lie wholly inside the answer are replayed.
    const uint64_t body = static_cast<uint64_t>(len) - kSyncRspHeadSize;
    uint64_t usable = count;
    if (stride < 6) {
        usable = 0;
    } else if (usable * stride > body) {
        usable = body / stride;
    }
    if (usable < count)
        LogShortMessage("OnSyncPushReply", kMsgSyncPushRsp, static_cast<std::size_t>(len),
                        kSyncRspHeadSize + static_cast<std::size_t>(count) * stride);

    uint32_t last_seq = 0;
    for (uint64_t i = 0; i < usable; ++i) {
        const char* rec = data + kSyncRspHeadSize + i * stride;
        uint16_t msg_id = 0;
        int32_t seq = 0;
        std::memcpy(&msg_id, rec, sizeof msg_id);
        std::memcpy(&seq, rec + 2, sizeof seq);
        last_seq = static_cast<uint32_t>(seq);
        const int pass_len = ReplayLength(msg_id);
        RecvHandFunc handler = driver.GetHandler(msg_id);
        if (pass_len == 0 || handler == nullptr) continue;
        char copy[160] = {};
        const uint64_t avail = stride - 6;
        std::memcpy(copy, rec + 6, static_cast<std::size_t>(avail < sizeof copy ? avail : sizeof copy));
        handler(driver, seq, msg_id, copy, pass_len, playback, byte_order, src_group, src_member, node_id);
    }
    spot->SyncNotify(last_seq, ended);
}

const HandlerBinding kSessionHandlers[] = {
    {kMsgCoreLoginRsp, &OnCoreLoginRsp, static_cast<uint32_t>(kCoreLoginRspSize)},
    {kMsgSubscribeEnd, &OnSubscribeEnd, 0},
    {kMsgSyncPushRsp, &OnSyncPushReply, static_cast<uint32_t>(kSyncRspHeadSize)},
};

}  // namespace
}  // namespace SPOT

using namespace SPOT;

SpotTraderImpl::SpotTraderImpl() {
    InitTradeDriver(kSessionHandlers);
    std::size_t pushes = 0;
    const HandlerBinding* push = PushHandlers(&pushes);
    for (std::size_t i = 0; i < pushes; ++i) GetTradeDriver().Bind(push[i].msg_id, push[i].handler, push[i].min_len);
    std::size_t answers = 0;
    const HandlerBinding* answer = QueryAnswerHandlers(&answers);
    for (std::size_t i = 0; i < answers; ++i)
        GetTradeDriver().Bind(answer[i].msg_id, answer[i].handler, answer[i].min_len);
    SPOT::SetInnerApi(this);
}

SpotTraderImpl::~SpotTraderImpl() {
    if (SPOT::GetInnerApi() == this) SPOT::SetInnerApi(nullptr);
}

void SpotTraderImpl::OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                            uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) {
    GetTradeDriver().onRecv(request_id, static_cast<int32_t>(msg_id), body, length, playback, byte_order != 0,
                            src_group, src_member, node_id);
}

void SpotTraderImpl::Release() {
    // The object stays allocated (an io thread may still be in a handler); it only stops
    // being the driver's back-end, so later messages find none.
    if (SPOT::GetInnerApi() == this) SPOT::SetInnerApi(nullptr);
    SPOT::SetTraderSpi(nullptr);
}

void SpotTraderImpl::HandSpiToDriver(TraderSpi* spi) { SPOT::SetTraderSpi(spi); }

uint64_t SpotTraderImpl::ComposeOXAID(const tagSessionInfo& info) {
    return info.nApiSessionID << 40 | static_cast<uint64_t>(info.nClientID) << 32 | info.nLastOrderID;
}

// ---------------------------------------------------------------------------------------
// Login

uint64_t SpotTraderImpl::Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) {
    m_nApiSessionID.store(0);
    m_nFundAcc.store(fund_account);

    uint8_t req[kCoreLoginReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint64_t>(NextRequestId());
    w.write_host<uint64_t>(fund_account);
    w.write_bytes("2.0", 4);
    CopyText(reinterpret_cast<char*>(req + 48), 256, _gTerminalInfo, 255);
    req[304] = static_cast<uint8_t>(GetSockTypeChar());
    req[305] = GetClientId();

    // Armed before the send: an answer that comes before the wait begins is kept, and an
    // answer for another account never ends this wait.
    const uint64_t ticket = m_loginWait.arm(fund_account);
    const int rc = SendToServer(client, kMsgCoreLoginReq, req, static_cast<int>(sizeof req),
                                static_cast<int>(NextRequestId()));
    if (rc != 0) {
        m_loginWait.cancel(ticket);
        spdlog::info("failed to send core login messages! ret: {}", rc);
        return 0;
    }
    LoginResult result;
    if (!m_loginWait.wait(ticket, GetTimeouts().login, result)) {
        SetLastError(kErrLoginTimeout);
        return 0;
    }
    if (result.accepted && result.filed == nullptr) {
        // the session id was filed already: the new session replaces it only now
        result.filed = FileGrant(result.rsp);
        result.accepted = result.filed != nullptr;
    }
    if (!result.accepted) {
        // the answer's own code first, then the refusal this login reports
        if (result.error_code != 0) SetLastError(result.error_code, "");
        SetLastError(kErrLoginRefused);
        return 0;
    }
    const uint64_t session_id = result.filed->nApiSessionID;
    m_nSessionNo.store(result.filed->nSessionID);
    m_nApiSessionID.store(session_id);

    // The login wait is over, so the io thread that must deliver the registration's answer
    // is never held up behind it.
    const int reg = TradeGatewayPushRegister(client, fund_account);
    if (reg == 0) {
        spdlog::debug("Gateway SendPushReg success ");
    } else {
        spdlog::error("Gateway SendPushReg error {}", reg);
        SetLastError(reg);
    }
    return session_id;
}

void SpotTraderImpl::OnInit(const CoreLoginRsp& rsp) {
    LoginResult result;
    if (rsp.error_code != 0) {
        // ends only the login of the account it names (the login in flight when it names none)
        spdlog::error("OnInit Failed [{}:{}]", rsp.error_code, "");
        result.error_code = rsp.error_code;
        DeliverLoginAnswer(m_loginWait, "OnInit", rsp.fund_account, rsp.error_code, result,
                           RefusalRule::kNamedAccountOnly);
        return;
    }
    if (!IsPendingLoginAnswer(m_loginWait, "OnInit", rsp.fund_account, 0)) return;
    // Ids that do not fit their bits would file the session under another one.
    if (rsp.node_id < 0 || rsp.node_id > 255 || rsp.fund_index > 65535 ||
        rsp.session_no >= SessionNoTable::kEntriesPerNode) {
        spdlog::error("OnInit Failed: node {} fund index {} session {} out of range", rsp.node_id, rsp.fund_index,
                      rsp.session_no);
        DeliverLoginAnswer(m_loginWait, "OnInit", rsp.fund_account, 0, result);
        return;
    }
    const uint64_t session_id = static_cast<uint32_t>(rsp.node_id) << 16 | rsp.fund_index;
    spdlog::debug("OnInit Add Session[{}] [{} - {}] OrderNoIndex[{}] TradingDay[{}]  normalSession [{}]",
                  rsp.session_no, rsp.fund_account, rsp.fund_index, rsp.order_no_index, rsp.trading_day, session_id);
    result.rsp = rsp;
    DeliverGrantedLogin(
        m_loginWait, "OnInit", rsp.fund_account, session_id, result, [&] { return FileGrant(rsp); },
        [](tagSessionInfo* record) { UnfileSession(record); });
}

tagSessionInfo* SpotTraderImpl::FileGrant(const CoreLoginRsp& rsp) {
    const uint64_t session_id = static_cast<uint32_t>(rsp.node_id) << 16 | rsp.fund_index;
    _tradingDay.store(static_cast<uint32_t>(rsp.trading_day));
    SessionGrant grant;
    grant.session_id = session_id;
    grant.session_no = rsp.session_no;
    grant.fund_account = rsp.fund_account;
    grant.fund_index = static_cast<uint16_t>(rsp.fund_index);
    grant.last_order_no = static_cast<uint64_t>(static_cast<int64_t>(rsp.order_no_index));
    // The first order id ends in OrderNoIndex; an index below 1 starts at 1 instead of
    // carrying into the client id's bits.
    grant.order_id_base = rsp.order_no_index >= 1 ? static_cast<uint32_t>(rsp.order_no_index - 1) : 0u;
    grant.order_limit = SpeedControlCfg{0, 1000, rsp.order_limit > 0 ? static_cast<uint32_t>(rsp.order_limit) : 0u};
    grant.query_limit =
        SpeedControlCfg{1, 1000, rsp.query_limit >= 0 ? static_cast<uint32_t>(rsp.query_limit) : 0u};
    const SessionNoKey key{static_cast<uint64_t>(rsp.node_id), rsp.session_no};
    tagSessionInfo* record = FileSession(*this, m_speedControl, grant, &key);
    if (record == nullptr) spdlog::error("OnInit: session {} not filed", session_id);
    return record;
}

// ---------------------------------------------------------------------------------------
// Push resumption

int SpotTraderImpl::StartSyncPush() {
    if (GetResumeType() == 2) return 0;
    m_nSyncCounter.store(0);
    const Timeouts timeouts = GetTimeouts();
    PushResumption::Requests requests;
    requests.send_sync = [this] { return SendSyncPushReq(); };
    requests.send_subscribe = [this] { return ReqSubscribeMsg(); };
    return m_resumption.Run(*this, requests, timeouts.sync, timeouts.subscribe);
}

int SpotTraderImpl::SendSyncPushReq() {
    const uint32_t counter = m_nSyncCounter.fetch_add(1) + 1;
    uint8_t req[kSyncReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint64_t>(m_nSessionNo.load());
    w.write_host<uint64_t>(NextRequestId());
    w.write_host<uint64_t>(m_nFundAcc.load());
    w.write_host<uint8_t>(GetClientId());
    w.seek(32);
    w.write_host<uint32_t>(counter);
    w.write_host<uint32_t>(kSyncRecordsPerAnswer);
    w.seek(48);
    w.write_host<uint32_t>(1);
    return SendToGatewayServer(m_nApiSessionID.load(), kMsgSyncPushReq, req, static_cast<int>(sizeof req),
                               static_cast<int>(NextRequestId()));
}

int SpotTraderImpl::ReqSubscribeMsg() {
    uint8_t req[kSubscribeReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint32_t>(static_cast<uint32_t>(m_nSessionNo.load()));
    w.write_host<int64_t>(m_nSubscribeCounter.fetch_add(1));
    w.write_host<uint32_t>(m_resumption.StartSeqNo());
    w.write_host<uint64_t>(m_nFundAcc.load());
    spdlog::info("[{}] ReqSubscribeMsg: FundAcc [{}], SessionID [{}], StartSeqNo [{}]", "ReqSubscribeMsg",
                 m_nFundAcc.load(), m_nSessionNo.load(), m_resumption.StartSeqNo());
    return SendToGatewayServer(m_nApiSessionID.load(), kMsgSubscribeReq, req, static_cast<int>(sizeof req),
                               static_cast<int>(NextRequestId()));
}

void SpotTraderImpl::SyncNotify(uint32_t last_seq, bool ended) { m_resumption.PassDone(last_seq, ended); }

void SpotTraderImpl::SubscribeEndNotify() { m_resumption.SubscribeEnd(); }

// ---------------------------------------------------------------------------------------
// Requests and logout

tagSessionInfo* SpotTraderImpl::CheckRequest(uint64_t session_id, int ctrl_type) {
    tagSessionInfo* info = _gArrSessionInfo.Get(session_id);
    if (info == nullptr) {
        spdlog::error("[session_id:{}] _gArrSessionInfo is nullptr", session_id);
        // recorded, so the caller never reads an older code as this request's
        SetLastError(kErrSessionInvalid);
        return nullptr;
    }
    if (!m_speedControl.CheckSpeed(session_id, ctrl_type)) {
        spdlog::error("[session_id:{}] OXA_ERR_API_OVER_SPEED. CtrlType={}", session_id, ctrl_type);
        SetLastError(kErrOverSpeed);
        return nullptr;
    }
    return info;
}

}  // namespace API
}  // namespace OXA
