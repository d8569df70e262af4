// What the back-ends share, and the defaults of the operations a back-end does not override.
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

#include <spdlog/spdlog.h>

#include <cstdio>

#include "api/ApiGlobals.h"
#include "api/BusAdaptor.h"
#include "api/ErrorMsg.h"
#include "api/IdGenerator.h"
#include "api/LastError.h"
#include "api/SessionTables.h"
#include "api/TraderContext.h"
#include "api_common/CInnerApiInterface/TcpClientArray.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

bool ReadPushRegAnswer(const void* body, std::size_t length, PushRegAnswer* out) noexcept {
    if (out == nullptr) return false;
    WireReader reader(body, length);
    reader.read_le(out->fund_account);
    reader.read_le(out->error);
    if (!reader.ok()) *out = PushRegAnswer{};
    return reader.ok();
}

std::vector<uint8_t> MakePushRegRequest(uint64_t fund_account) {
    std::vector<uint8_t> body(kPushRegRequestLength);
    wire::store_le<uint64_t>(body.data(), fund_account);
    return body;
}

CInnerApiInterface::~CInnerApiInterface() = default;

bool CInnerApiInterface::Init(BusAdaptor* bus, CIdGenerator* id_generator, OXAErrorInfo* error_info) {
    m_pBusAdaptor = bus;
    m_pIdGenerator = id_generator;
    m_pErrorInfo = error_info;
    return true;
}

void CInnerApiInterface::SetLastError(int code, const char* text) {
    RecordLastError(m_pErrorInfo, code, text != nullptr ? text : GetErrorMsg(code));
}

// ---------------------------------------------------------------------------------------
// Push registration

void CInnerApiInterface::SetPushRegisterTimeout(std::chrono::milliseconds timeout) {
    m_nPushRegTimeoutMs.store(timeout.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds CInnerApiInterface::GetPushRegisterTimeout() const {
    return std::chrono::milliseconds(m_nPushRegTimeoutMs.load(std::memory_order_relaxed));
}

int CInnerApiInterface::TradeGatewayPushRegister(const ClientPtr& client, uint64_t fund_account) {
    if (SockType.load(std::memory_order_relaxed) == 2) return 0;  // the bus delivers pushes itself
    if (!client) {
        spdlog::error("[{}] Tcp Client Get Null. FundAcc={}", "TradeGatewayPushRegister", fund_account);
        SetLastError(kErrSendFailed);
        return kErrSendFailed;
    }
    TraderContext* context = static_cast<TraderContext*>(client->context());
    PushRegistry& registry = context ? context->push : m_pushRegistry;
    // Served before it is looked at: a link that comes up from here on registers it itself.
    registry.Serve(fund_account);
    uint64_t link = 0;
    switch (registry.Start(fund_account, &link)) {
        case PushRegistry::Step::kRegistered:
            spdlog::debug("[{}] fund account {} is registered on this connection already", "TradeGatewayPushRegister",
                          fund_account);
            return 0;
        case PushRegistry::Step::kInFlight:
            break;  // sent on this link already (its first frames carry it): awaited below
        case PushRegistry::Step::kSend: {
            const std::vector<uint8_t> body = MakePushRegRequest(fund_account);
            const int rc = client->request_async(kMsgPushReg, NextRequestId(), body.data(),
                                                 static_cast<uint32_t>(body.size()));
            if (rc != 0) {
                registry.Unsent(fund_account, link);
                spdlog::error("[{}] request_async errmsg [{}]", "TradeGatewayPushRegister", rc);
                return rc;
            }
            break;
        }
    }
    int32_t error = 0;
    switch (registry.Wait(fund_account, link, PushRegistry::Clock::now() + GetPushRegisterTimeout(), &error)) {
        case PushRegistry::Outcome::kAnswered:
            return error;  // the gateway's refusal, recorded by the answer side
        case PushRegistry::Outcome::kLinkLost:
            spdlog::error("[{}] fund account {}: the link was lost before the answer", "TradeGatewayPushRegister",
                          fund_account);
            SetLastError(kErrNotConnected);
            return kErrNotConnected;
        case PushRegistry::Outcome::kTimedOut:
        case PushRegistry::Outcome::kStopped:
        case PushRegistry::Outcome::kWithdrawn:  // logged out meanwhile: no answer is awaited
            break;
    }
    SetLastError(kErrAnswerTimeout);
    return kErrAnswerTimeout;
}

bool CInnerApiInterface::OnGatewayPushReg(uint64_t fund_account, int32_t error) {
    spdlog::trace("[{}]", "OnGatewayPushReg");
    return m_pushRegistry.Deliver(fund_account, error);
}

// ---------------------------------------------------------------------------------------
// Sending

int CInnerApiInterface::NoClient(const char* caller, uint64_t session_id, uint32_t msg_id) {
    spdlog::error("[{}] Tcp Client Get Null. ApiSession={},MsgId=0x{:x}", caller, session_id, msg_id);
    SetLastError(kErrSendFailed);
    return kErrSendFailed;
}

int CInnerApiInterface::SendFailed(const char* caller, uint32_t msg_id, int length) {
    spdlog::error("[{}] Send Msg Failed. MsgID:0x{:x} Len:[{}]", caller, msg_id, length);
    SetLastError(kErrSendFailed);
    return kErrSendFailed;
}

namespace {

// A length that does not describe the body is a failed send, never a read past it.
bool BodyUsable(const void* body, int length) { return length >= 0 && (length == 0 || body != nullptr); }

}  // namespace

int CInnerApiInterface::SendOverTcp(const char* caller, const ClientPtr& client, uint32_t msg_id,
                                    const void* body, int length, int request_id) {
    if (!client->is_connected()) {
        SetLastError(kErrNotConnected);
        return kErrNotConnected;
    }
    if (BodyUsable(body, length) &&
        client->request_async(msg_id, static_cast<uint64_t>(request_id), body, static_cast<uint32_t>(length)) == 0) {
        return 0;
    }
    return SendFailed(caller, msg_id, length);
}

int CInnerApiInterface::SendToServer(uint64_t session_id, uint32_t msg_id, const void* body, int length,
                                     int request_id) {
    const ClientPtr client = _gArrTcpClient.Get(GetNodeIdBySession(session_id));
    if (!client) return NoClient("SendToServer", session_id, msg_id);
    return SendToServer(client, msg_id, body, length, request_id);
}

int CInnerApiInterface::SendToServer(const ClientPtr& client, uint32_t msg_id, const void* body, int length,
                                     int request_id) {
    if (!client) return NoClient("SendToServer", 0, msg_id);
    if (SockType.load(std::memory_order_relaxed) == 1) {
        return SendOverTcp("SendToServer", client, msg_id, body, length, request_id);
    }
    // every group and every member of the bus
    if (m_pBusAdaptor != nullptr && BodyUsable(body, length) && m_pBusAdaptor->Send(msg_id, body, length, -1, -1)) {
        return 0;
    }
    return SendFailed("SendToServer", msg_id, length);
}

int CInnerApiInterface::SendToGatewayServer(uint64_t session_id, uint32_t msg_id, const void* body, int length,
                                            int request_id) {
    const ClientPtr client = _gArrTcpClient.Get(GetNodeIdBySession(session_id));
    if (!client) return NoClient("SendToGatewayServer", session_id, msg_id);
    return SendToGatewayServer(client, msg_id, body, length, request_id);
}

int CInnerApiInterface::SendToGatewayServer(const ClientPtr& client, uint32_t msg_id, const void* body,
                                            int length, int request_id) {
    if (!client) return NoClient("SendToGatewayServer", 0, msg_id);
    return SendOverTcp("SendToGatewayServer", client, msg_id, body, length, request_id);
}

// ---------------------------------------------------------------------------------------
// Ids, settings and texts

uint64_t CInnerApiInterface::NextOrderId(uint64_t session_id) {
    return m_pIdGenerator != nullptr ? m_pIdGenerator->NextOrderId(session_id) : 0;
}

uint64_t CInnerApiInterface::NoOrderId(const char* op, uint64_t session_id, CIdGenerator::Refusal why) {
    if (why == CIdGenerator::Refusal::Spent) {
        spdlog::error("[{}] the order ids of session {} are used up", op, session_id);
        SetLastError(kErrOrderIdSpent);
    } else {
        spdlog::error("[{}] no order id for session {}", op, session_id);
        SetLastError(kErrSessionInvalid);
    }
    return 0;
}

bool CInnerApiInterface::InitOrderId(uint64_t session_id, uint32_t last_order_no) {
    return m_pIdGenerator != nullptr && m_pIdGenerator->InitOrderId(session_id, last_order_no);
}

uint8_t CInnerApiInterface::GetClientId() const {
    return m_pIdGenerator != nullptr ? static_cast<uint8_t>(m_pIdGenerator->GetClientId()) : 0;
}

char CInnerApiInterface::GetSockTypeChar() { return SockType.load(std::memory_order_relaxed) == 1 ? '1' : '2'; }

void CInnerApiInterface::GetBusGroupMember(int32_t* group, int32_t* member) const {
    int32_t g = 0;
    int32_t m = 0;
    if (m_pBusAdaptor != nullptr) m_pBusAdaptor->GetGroupMember(&g, &m);
    if (group != nullptr) *group = g;
    if (member != nullptr) *member = m;
}

const char* CInnerApiInterface::GetApiErrorMsg(int code) { return ::OXA::API::GetApiErrorMsg(code); }

void CInnerApiInterface::NotOffered(int code) {
    spdlog::error("service not supported currently");
    SetLastError(code, kNotOfferedText);
}

// ---------------------------------------------------------------------------------------
// Operations. Those a back-end does not override answer as not offered; the five the
// back-ends inherit on purpose are QueryFund, InsertExecuteOrder, the two Hong Kong connect
// queries and QueryCreditDebtToRepayTodayByPage.


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
    NotOffered(kErrNotOffered);
    return 0;
}
uint64_t CInnerApiInterface::CancelOrder(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
int CInnerApiInterface::QueryOrderByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOrders(const OrderQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                    int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryUnfinishedOrders(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOrdersByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTradesByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                           int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTrades(const TradeQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                    int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryTradesByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryPosition(const char* /*ticker*/, uint64_t /*session_id*/, int /*request_id*/,
                                      int /*market*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryPositionByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                            int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryAsset(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryFund(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::FundTransfer(FundTransferInfo* /*fund_transfer*/, uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
int CInnerApiInterface::QueryFundTransfer(const FundTransferQueryParam* /*query_param*/,
                                          uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFBaseInfo(const ETFQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFTickerBasket(const ETFQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                             int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIPOInfoList(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIPOQuotaInfo(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* /*query_param*/,
                                               uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::CreditCashRepay(uint64_t /*session_id*/, double /*amount*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
uint64_t CInnerApiInterface::CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* /*cash_repay*/,
                                                          uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
int CInnerApiInterface::Reserved4(uint64_t /*value1*/, uint64_t /*value2*/, uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo1(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo2(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo3(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo4(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo5(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo6(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo7(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo8(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved5(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved6(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved7(void* /*param*/, uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved8(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo9(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo10(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::InsertExecuteOrder(const ExecuteOrderInsertInfo* /*order*/,
                                                uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
uint64_t CInnerApiInterface::InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* /*order*/,
                                                       uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
int CInnerApiInterface::QueryOptionCombinedUnfinishedOrders(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedOrderByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                                        int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedOrders(const OptCombOrderQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved9(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedTradesByOXAID(uint64_t /*order_oxa_id*/, uint64_t /*session_id*/,
                                                         int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedTrades(const OptCombOrderQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::Reserved10(void* /*param*/, uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedPosition(const OptCombPositionQueryParam* /*query_param*/,
                                                    uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedStrategyInfo(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo11(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo12(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditInfo13(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditPledgeStkByPage(const PageQueryParam* /*query_param*/,
                                                   uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryCreditTargetStkByPage(const PageQueryParam* /*query_param*/,
                                                   uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* /*query_param*/,
                                                        uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryOtherServerFund(const OtherServerFundQueryParam* /*query_param*/,
                                             uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryIssueInfoList(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QuerySecurityInfo(const TickerQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
uint64_t CInnerApiInterface::CreditRequest(CreditRequestParam* /*request*/, uint64_t /*session_id*/) {
    NotOffered(kErrNotOffered);
    return 0;
}
int CInnerApiInterface::QueryCreditInfo14(const uint64_t* /*query_param*/, uint64_t /*session_id*/,
                                          int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryYesterdayAsset(uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryETFByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                       int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QuerySecurityByPage(const PageQueryParam* /*query_param*/, uint64_t /*session_id*/,
                                            int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
int CInnerApiInterface::QueryHKConnectIndicativeExchangeRateInfo(uint64_t /*session_id*/,
                                                                 int /*request_id*/) {
    NotOffered(kErrNotOfferedMargin);
    return kErrNotOfferedMargin;
}
int CInnerApiInterface::QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* /*query_param*/,
                                                  uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOfferedMargin);
    return kErrNotOfferedMargin;
}
int CInnerApiInterface::QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* /*query_param*/,
                                                          uint64_t /*session_id*/, int /*request_id*/) {
    NotOffered(kErrNotOffered);
    return kNotOfferedResult;
}
// The same for every back-end: all of them file their sessions in the shared table.
tagSessionInfo* CInnerApiInterface::GetSessionInfo(uint64_t session_id) {
    tagSessionInfo* info = _gArrSessionInfo[session_id];
    if (info == nullptr) spdlog::error("[session_id:{}] _gArrSessionInfo is nullptr", session_id);
    return info;
}

}  // namespace API
}  // namespace OXA
