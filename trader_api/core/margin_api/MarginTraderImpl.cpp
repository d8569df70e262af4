#include "core/margin_api/MarginTraderImpl.h"

#include <spdlog/spdlog.h>

#include "api/ApiGlobals.h"
#include "api/SessionTables.h"
#include "api_common/CInnerApiInterface/LoginAnswer.h"
#include "api_common/SessionFiling.h"
#include "core/margin_api/MarginPushes.h"
#include "core/margin_api/MarginQueryAnswers.h"
#include "core/margin_api/MarginSession.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

using namespace MARGIN;

namespace MARGIN {

void ReadInitRsp(const char* rec, bool byte_order, CreditInitRsp* out) noexcept {
    const ByteOrder order = BodyOrder(byte_order);
    WireReader r(rec, kInitRspSize);
    CreditInitRsp v;
    r.read(v.fund_account, order);
    r.read(v.fund_index, order);
    r.read(v.session_no, order);
    r.read(v.unread_20, order);
    r.read(v.order_no_index, order);
    for (CreditSpeedItem& item : v.speed) {
        r.read(item.ctrl_type, order);
        r.read(item.interval_ms, order);
        r.read(item.max_count, order);
    }
    r.read(v.trading_day, order);
    r.read(v.node_id, order);
    *out = r.ok() ? v : CreditInitRsp{};
}

}  // namespace MARGIN

MarginTraderImpl::MarginTraderImpl() {
    InitTradeDriver({SessionHandlers(), PushHandlers(), QueryAnswerHandlers()});
    MARGIN::SetInnerApi(this);
}

MarginTraderImpl::~MarginTraderImpl() {
    if (MARGIN::GetMarginApi() == this) MARGIN::SetInnerApi(nullptr);
}

void MarginTraderImpl::OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                              uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) {
    GetTradeDriver().onRecv(request_id, static_cast<int32_t>(msg_id), body, length, playback, byte_order != 0,
                            src_group, src_member, node_id);
}

void MarginTraderImpl::Release() {
    // The object stays allocated (an io thread may still be in a handler); it only stops
    // being the driver's back-end, so later messages find none.
    if (MARGIN::GetMarginApi() == this) MARGIN::SetInnerApi(nullptr);
    MARGIN::SetTraderSpi(nullptr);
    m_sessions.Clear();
}

int MarginTraderImpl::Logout(uint64_t session_id) {
    EndSession(session_id, &m_sessions);
    return 0;
}

void MarginTraderImpl::HandSpiToDriver(TraderSpi* spi) { MARGIN::SetTraderSpi(spi); }

int MarginTraderImpl::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam*, uint64_t, int) {
    return 0;
}

uint64_t MarginTraderImpl::GetApiSessionIdByNo(uint32_t node_id, uint64_t session_no) {
    if (node_id >= SessionNoTable::kNodes) return 0;
    const tagSessionInfo* info = _gArrSessionByNo.Get(node_id, SessionNoEntry(session_no));
    // the entry index wraps every 2^20 numbers: only the session filed under this number counts
    if (info == nullptr || info->nSessionID != session_no) return 0;
    return info->nApiSessionID;
}

// ---------------------------------------------------------------------------------------
// Login

uint64_t MarginTraderImpl::Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) {
    std::lock_guard<std::mutex> login(m_mtxLogin);
    m_nFundAcc.store(fund_account);
    m_nApiSessionID.store(0);

    // margin registers for pushes before its business login
    const int reg = TradeGatewayPushRegister(client, fund_account);
    if (reg != 0) {
        spdlog::error("Gateway SendPushReg error {}", reg);
        SetLastError(reg);
        return m_nApiSessionID.load();
    }
    const int rc = InitLogin(client, fund_account);
    if (rc != 0) SetLastError(rc);
    return m_nApiSessionID.load();
}

int MarginTraderImpl::InitLogin(const ClientPtr& client, uint64_t fund_account) {
    // Armed before the send: an answer that comes before the wait begins is kept, and one that
    // comes after the wait gave up leaves no session behind.
    const uint64_t ticket = m_initWait.arm(fund_account);
    spdlog::info("[{}] SendInit", "InitLogin");
    const int rc = SendInit(client, fund_account);
    if (rc != 0) {
        m_initWait.cancel(ticket);
        return rc;
    }
    spdlog::info("[{}] SendInit Finished", "InitLogin");
    InitAnswer answer;
    if (!m_initWait.wait(ticket, GetTimeouts().login, answer)) {
        SetLastError(kErrLoginTimeout);
        return kErrLoginTimeout;
    }
    if (answer.accepted && answer.filed == nullptr) {
        // the session id was filed already: the new session replaces it only now
        answer.filed = ApplyInit(answer.rsp);
        answer.accepted = answer.filed != nullptr;
    }
    if (answer.has_error) {
        const int32_t code = answer.error.error_id;  // a copy: the record is packed
        spdlog::error("OnInit Failed [{}:{}]", code, answer.error.error_msg);
        SetLastError(code, answer.error.error_msg);
    } else if (!answer.accepted) {
        spdlog::error("OnInit Failed: the answer was refused");
    }
    if (!answer.accepted) {
        SetLastError(kErrLoginRefused);
        return kErrLoginRefused;
    }
    m_nApiSessionID.store(answer.filed->nApiSessionID);
    return 0;
}

int MarginTraderImpl::SendInit(const ClientPtr& client, uint64_t fund_account) {
    int32_t group = 0;
    int32_t member = 0;
    GetBusGroupMember(&group, &member);
    const uint64_t seq = SockType.load() == 1 ? NextRequestId() : 0;

    uint8_t req[kInitReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host(static_cast<uint16_t>(group));
    w.write_host(static_cast<uint16_t>(member));
    w.write_host<uint64_t>(fund_account);
    w.write_host<uint16_t>(GetClientId());
    w.seek(46);
    CopyText(reinterpret_cast<char*>(req + 46), 256, _gTerminalInfo, 255);
    w.seek(302);
    w.write_host<uint64_t>(kApiVersion);
    w.write_host<uint64_t>(seq);
    w.write_host<uint32_t>(0);
    w.write_host<uint8_t>(static_cast<uint8_t>(GetSockTypeChar()));
    return SendToServer(client, kMsgInitReq, req, static_cast<int>(sizeof req), static_cast<int>(seq));
}

void MarginTraderImpl::OnInit(const CreditInitRsp* rsp, const OXAErrorInfo* error) {
    spdlog::trace("{} ", "OnInit");
    InitAnswer answer;
    const uint64_t fund_account = rsp ? rsp->fund_account : 0;
    if (error != nullptr || rsp == nullptr) {
        // A refusal (an error record, or neither record nor error record): one that names an
        // account ends only that account's login, one without a record the login in flight. An
        // error record with code 0 still refuses, so it counts as an error here.
        int32_t code = kErrLoginRefused;
        if (error != nullptr) {
            answer.has_error = true;
            answer.error = *error;
            if (error->error_id != 0) code = error->error_id;
        }
        DeliverLoginAnswer(m_initWait, "OnInit", fund_account, code, answer, RefusalRule::kNamedAccountOnly);
        return;
    }
    if (!IsPendingLoginAnswer(m_initWait, "OnInit", fund_account, 0)) return;
    // Ids that do not fit their bits would file the session under another one.
    if (rsp->node_id >= SessionNoTable::kNodes || rsp->fund_index > 0xFFFF) {
        spdlog::error("OnInit Failed: node {} fund index {} out of range", rsp->node_id, rsp->fund_index);
        DeliverLoginAnswer(m_initWait, "OnInit", fund_account, 0, answer);
        return;
    }
    const uint64_t session_id = uint64_t{rsp->node_id} << 16 | rsp->fund_index;
    spdlog::info("OnInit Add Session[{}] [{} - {}] OrderNoIndex[{}] TradingDay[{}]  normalSession [{}]",
                 rsp->session_no, rsp->fund_account, rsp->fund_index, rsp->order_no_index, rsp->trading_day,
                 session_id);
    // Filed here, before the waiter wakes, when the id is free: the server may push right behind
    // its answer, and those pushes are handled on this thread next.
    answer.rsp = *rsp;
    DeliverGrantedLogin(
        m_initWait, "OnInit", fund_account, session_id, answer, [&] { return ApplyInit(*rsp); },
        [this](tagSessionInfo* record) { UnfileSession(record, &m_sessions); });
}

tagSessionInfo* MarginTraderImpl::ApplyInit(const CreditInitRsp& rsp) {
    const uint64_t session_id = uint64_t{rsp.node_id} << 16 | rsp.fund_index;
    _tradingDay.store(rsp.trading_day);

    SessionGrant grant;
    grant.session_id = session_id;
    grant.session_no = rsp.session_no;
    grant.fund_account = rsp.fund_account;
    grant.fund_index = static_cast<uint16_t>(rsp.fund_index);
    grant.last_order_no = rsp.order_no_index;
    grant.order_id_base = rsp.order_no_index;
    grant.order_limit = SpeedControlCfg{0, rsp.speed[0].interval_ms, rsp.speed[0].max_count};
    grant.query_limit = SpeedControlCfg{1, rsp.speed[2].interval_ms, rsp.speed[2].max_count};
    const SessionNoKey key{rsp.node_id, SessionNoEntry(rsp.session_no)};
    tagSessionInfo* record = FileSession(*this, m_speedControl, grant, &key, &m_sessions);
    if (record == nullptr) spdlog::error("OnInit: session {} not filed", session_id);
    return record;
}

// ---------------------------------------------------------------------------------------
// Push resumption

int MarginTraderImpl::StartSyncPush() {
    if (GetResumeType() == 2) return 0;
    const Timeouts t = GetTimeouts();
    PushResumption::Requests requests;
    requests.send_sync = [this] { return SendSyncPushReq(); };
    requests.send_subscribe = [this] { return ReqSubscribeMsg(); };
    return m_resumption.Run(*this, requests, t.sync, t.subscribe);
}

int MarginTraderImpl::SendSyncPushReq() {
    const uint64_t session_id = m_nApiSessionID.load();
    const tagSessionInfo* info = _gArrSessionInfo.Get(session_id);
    if (info == nullptr) return kErrSessionInvalid;
    uint8_t req[kSyncReqSize] = {};
    WireWriter w(req, sizeof req);
    w.write_host<uint64_t>(info->nSessionID);
    w.write_host<uint64_t>(NextRequestId());
    w.write_host<uint64_t>(m_nFundAcc.load());
    w.write_host<uint8_t>(GetClientId());
    w.seek(32);
    w.write_host<uint32_t>(kSyncRecordsPerAnswer);
    w.write_host<uint32_t>(m_resumption.StartSeqNo());
    w.write_host<uint8_t>('0');
    const int frame_id = static_cast<int>(NextRequestId());
    m_resumption.ExpectPass({frame_id, info->nSessionID, m_nFundAcc.load()});
    return SendToGatewayServer(session_id, kMsgSyncReq, req, static_cast<int>(sizeof req), frame_id);
}

int MarginTraderImpl::ReqSubscribeMsg() {
    const uint64_t session_id = m_nApiSessionID.load();
    const tagSessionInfo* info = _gArrSessionInfo.Get(session_id);
    if (info == nullptr) return kErrSessionInvalid;
    uint8_t req[kSubscribeReqSize] = {};
    WireWriter w(req, sizeof req);
    WriteReqHead(w, *info, GetClientId());
    w.seek(30);
    w.write_host<uint32_t>(m_resumption.StartSeqNo());
    spdlog::info("[{}] ReqSubscribeMsg: FundAcc [{}], SessionID [{}], StartSeqNo [{}]", "ReqSubscribeMsg",
                 info->nFundAcc, info->nSessionID, m_resumption.StartSeqNo());
    const int frame_id = static_cast<int>(NextRequestId());
    // the flow echoes the session number only
    m_resumption.ExpectSubscription({frame_id, info->nSessionID, 0});
    return SendToGatewayServer(session_id, kMsgSubscribeReq, req, static_cast<int>(sizeof req), frame_id);
}

int MarginTraderImpl::SendQueryFrame(uint64_t session_id, uint32_t msg_id, const void* body, int length,
                                     int request_id) {
    // noted first: the answer may be handled before the send returns
    m_sessions.NoteQuery(session_id, request_id);
    const int rc = SendToGatewayServer(session_id, msg_id, body, length, request_id);
    if (rc != 0) m_sessions.EndQuery(session_id, request_id);
    return rc;
}

}  // namespace API
}  // namespace OXA
