// Base of the three back-ends (spot, margin, option). The facade reaches a back-end only
// through these operations; the request operations have the arguments and results of the
// TraderApi operation of the same name. The base holds what the back-ends share: the one
// error record, order ids, the push registration at the gateway and the sends over the
// session's connection or the bus.
#pragma once

#include <oxa_api/OXAApiStruct.h>
#include <oxa_api/TraderSpi.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "api/ErrorCodes.h"
#include "api/PushRegistry.h"
#include "api/IdGenerator.h"
#include "infra/utility/AnswerWait.h"

namespace tcp_framework {
namespace client {
class TcpClient;
}
}  // namespace tcp_framework

namespace OXA {
namespace API {

struct tagSessionInfo;
class BusAdaptor;

// Result of an operation a back-end does not offer (spot and option code).
constexpr int kNotOfferedResult = kErrNotOffered;

// Gateway push registration: request body = fund account (uint64 LE); answer body = fund
// account (uint64 LE) at 0, error (int32 LE) at 8.
constexpr uint32_t kMsgPushReg = 0xf0002;
constexpr std::size_t kPushRegRequestLength = 8;
constexpr std::size_t kPushRegAnswerLength = 12;

struct PushRegAnswer {
    uint64_t fund_account = 0;
    int32_t error = 0;
};

// Reads a 0xf0002 answer within its length; false (out zeroed) when it is too short.
bool ReadPushRegAnswer(const void* body, std::size_t length, PushRegAnswer* out) noexcept;
// The 0xf0002 request body of the account.
std::vector<uint8_t> MakePushRegRequest(uint64_t fund_account);

class CInnerApiInterface {
public:
    using ClientPtr = std::shared_ptr<tcp_framework::client::TcpClient>;
    static constexpr std::chrono::milliseconds kPushRegisterTimeout{10000};

    CInnerApiInterface() = default;
    CInnerApiInterface(const CInnerApiInterface&) = delete;
    CInnerApiInterface& operator=(const CInnerApiInterface&) = delete;

    virtual ~CInnerApiInterface();

    // Stores the facade's bus adaptor, this back-end's id generator (owned by the creator)
    // and the facade's error record. Before the back-end is published; always true.
    bool Init(BusAdaptor* bus, CIdGenerator* id_generator, OXAErrorInfo* error_info);

    // Records code and text in the shared error record under the process-wide error mutex.
    // A text (even "") replaces the record's text, cut to 123 bytes; without one (null) the
    // library's own text of the code is written, so a code never shows another code's text.
    void SetLastError(int code, const char* text = nullptr);

    // Registers the account for pushes at the gateway (0xf0002) and waits for the answer; from
    // here the connection serves the account and registers it again on every new link (see
    // PushRegistry). 0 when accepted (or in bus mode, where nothing is sent), the gateway's
    // error when it refused, the send's code when the request could not be sent, 1002 when the
    // link was lost first, 1001 when no answer came in time. Registrations of several accounts
    // wait side by side, each for its own answer. An account registered on the current link
    // already returns 0 without a send; one whose registration the link carried when it came up
    // waits for that answer.
    int TradeGatewayPushRegister(const ClientPtr& client, uint64_t fund_account);
    // The answer side for a connection that carries no context of the facade (the facade hands
    // the answers on its connections to their own registry): true when a registration of that
    // account was waiting for it; a refusal (error not 0) makes that registration return it.
    bool OnGatewayPushReg(uint64_t fund_account, int32_t error = 0);
    // How long a registration waits (10 s unless changed).
    void SetPushRegisterTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds GetPushRegisterTimeout() const;

    // Request ids of the base's own sends and of the back-ends' requests: each takes the
    // current value and advances it, also when its send then fails.
    uint64_t NextRequestId() { return m_nRequestSeq.fetch_add(1, std::memory_order_relaxed); }
    uint64_t GetRequestSeq() const { return m_nRequestSeq.load(std::memory_order_relaxed); }

    // To the order server: over the node's connection in TCP mode, through the bus otherwise
    // (the node's connection must exist in both). 0 when sent, else 1002 or 1003 (recorded).
    int SendToServer(uint64_t session_id, uint32_t msg_id, const void* body, int length, int request_id);
    int SendToServer(const ClientPtr& client, uint32_t msg_id, const void* body, int length, int request_id);
    // To the gateway (queries, synchronisation, subscription, logout): always the node's
    // connection, in bus mode too. 0 when sent, else 1002 or 1003 (recorded).
    int SendToGatewayServer(uint64_t session_id, uint32_t msg_id, const void* body, int length,
                            int request_id);
    int SendToGatewayServer(const ClientPtr& client, uint32_t msg_id, const void* body, int length,
                            int request_id);

    // Order ids from this back-end's generator; 0 (nothing set) without one.
    uint64_t NextOrderId(uint64_t session_id);
    // The id a request of op takes; 0, logged and recorded, when the session has none to give:
    // 211004 when its counter was never set, 1019 when its sequence is spent.
    uint64_t TakeOrderId(const char* op, uint64_t session_id) {
        CIdGenerator::Refusal why = CIdGenerator::Refusal::NotSet;
        const uint64_t id = m_pIdGenerator != nullptr ? m_pIdGenerator->NextOrderId(session_id, &why) : 0;
        return id != 0 ? id : NoOrderId(op, session_id, why);
    }
    bool InitOrderId(uint64_t session_id, uint32_t last_order_no);
    uint8_t GetClientId() const;
    CIdGenerator* GetIdGenerator() const { return m_pIdGenerator; }

    // '1' in TCP mode, '2' otherwise (written into the back-ends' login requests).
    static char GetSockTypeChar();
    // The bus group and member of this process; 0 and 0 without a bus.
    void GetBusGroupMember(int32_t* group, int32_t* member) const;
    // The text of a code as the application gets it (per thread, valid until the next call).
    static const char* GetApiErrorMsg(int code);

    static uint64_t GetSessionIdByOXAID(uint64_t id) { return id >> 40; }
    static uint8_t GetClientIdByOXAID(uint64_t id) { return static_cast<uint8_t>(id >> 32); }
    static uint32_t GetSeqByOXAID(uint64_t id) { return static_cast<uint32_t>(id); }
    static uint8_t GetNodeIdBySession(uint64_t session_id) { return static_cast<uint8_t>(session_id >> 16); }
    static uint16_t GetFundIndexBySession(uint64_t session_id) { return static_cast<uint16_t>(session_id); }

    // The operations of the facade. A back-end overrides what its business offers; a
    // request operation it leaves alone answers as not offered (6077, or 230113 for the two
    // Hong Kong connect queries; id-returning operations return 0).

    // A message routed to this back-end (request id or bus tag first).
    virtual void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                        uint8_t byte_order, int16_t src_group, int16_t src_member, uint32_t node_id);
    // Ends the back-end's work. The owner deletes the object afterwards, so this must not
    // destroy it.
    virtual void Release();
    virtual void RegisterSpi(TraderSpi* spi);
    virtual void SubscribePublicTopic(int resume_type);
    // Fund account of the id's session as decimal text; "" when unknown. The text stays
    // valid until the next call on the same thread.
    virtual const char* GetAccountByOXAID(uint64_t order_oxa_id);
    virtual uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account);
    virtual int StartSyncPush();
    virtual int Logout(uint64_t session_id);

    virtual int Reserved3(uint64_t session_id);
    virtual uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id);
    virtual uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id);
    virtual int QueryOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOrders(const OrderQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryUnfinishedOrders(uint64_t session_id, int request_id);
    virtual int QueryOrdersByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryTrades(const TradeQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryTradesByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryPosition(const char* ticker, uint64_t session_id, int request_id, int market);
    virtual int QueryPositionByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryAsset(uint64_t session_id, int request_id);
    virtual int QueryFund(uint64_t session_id, int request_id);
    virtual uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id);
    virtual int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id,
                                  int request_id);
    virtual int QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryIPOInfoList(uint64_t session_id, int request_id);
    virtual int QueryIPOQuotaInfo(uint64_t session_id, int request_id);
    virtual int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                                       int request_id);
    virtual uint64_t CreditCashRepay(uint64_t session_id, double amount);
    virtual uint64_t CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay,
                                                  uint64_t session_id);
    virtual int Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id);
    virtual int QueryCreditInfo1(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo2(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo3(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo6(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int Reserved5(void* param, uint64_t session_id, int request_id);
    virtual int Reserved6(void* param, uint64_t session_id, int request_id);
    virtual int Reserved7(void* param, uint64_t session_id);
    virtual int Reserved8(void* param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo9(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual uint64_t InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id);
    virtual uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order,
                                               uint64_t session_id);
    virtual int QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int Reserved9(void* param, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int Reserved10(void* param, uint64_t session_id, int request_id);
    virtual int QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                            int request_id);
    virtual int QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id);
    virtual int QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id);
    virtual int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id,
                                           int request_id);
    virtual int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param,
                                                uint64_t session_id, int request_id);
    virtual int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                                     int request_id);
    virtual int QueryIssueInfoList(uint64_t session_id, int request_id);
    virtual int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id);
    virtual uint64_t CreditRequest(CreditRequestParam* request, uint64_t session_id);
    virtual int QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id);
    virtual int QueryYesterdayAsset(uint64_t session_id, int request_id);
    virtual int QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id);
    virtual int QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id);
    virtual int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                          int request_id);
    virtual int QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param,
                                                  uint64_t session_id, int request_id);
    // The session's record from the shared table; null (logged) when there is none.
    virtual tagSessionInfo* GetSessionInfo(uint64_t session_id);

protected:
    // The shared answer of an operation a business does not offer: logs and records code
    // with the not-offered text. The operation returns code or 0 as its business says.
    void NotOffered(int code);

private:
    int SendOverTcp(const char* caller, const ClientPtr& client, uint32_t msg_id, const void* body,
                    int length, int request_id);
    int SendFailed(const char* caller, uint32_t msg_id, int length);
    uint64_t NoOrderId(const char* op, uint64_t session_id, CIdGenerator::Refusal why);
    int NoClient(const char* caller, uint64_t session_id, uint32_t msg_id);

    // Registrations on connections without a context of the facade.
    PushRegistry m_pushRegistry;
    std::atomic<int64_t> m_nPushRegTimeoutMs{kPushRegisterTimeout.count()};
    std::atomic<uint64_t> m_nRequestSeq{0};
    OXAErrorInfo* m_pErrorInfo = nullptr;
    BusAdaptor* m_pBusAdaptor = nullptr;
    CIdGenerator* m_pIdGenerator = nullptr;
};

}  // namespace API
}  // namespace OXA
