// The option back-end: one object serves every option fund account of every node. It logs
// accounts in to the option core (0x401, answered by 0x500), resumes missed pushes
// (synchronisation 0x460, replayed by the driver, then subscription 0x416 / 0x521), gates and
// packs every option request and ends sessions.
//
// Every wait is an AnswerWait armed before its send. A login answer is taken only by the login in
// flight (a refusal that names an account ends only that account's login, an acceptance must
// name its account; LoginAnswer.h); replay notifications count only for the session being
// resumed, and each replayed page restarts the replay's deadline. Query answers find their
// session through the back-end's AnswerSessions (sessions of several nodes may share a server
// session number, and one connection may serve several nodes); every query the application
// sends is noted there first. Records the tables retire stay readable until the tables are
// released.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "api/SpeedControl.h"
#include "api_common/AnswerSessions.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "core/option_api/OptRequestPack.h"
#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

struct GatewayLoginRsp;

namespace OPT {
constexpr uint32_t kMsgCoreLoginReq = 0x401;
constexpr uint32_t kMsgCoreLoginRsp = 0x500;
constexpr uint32_t kMsgSyncPushReq = 0x460;
constexpr uint32_t kMsgSyncPushRsp = 0x56a;
constexpr uint32_t kMsgSubscribeReq = 0x416;
constexpr uint32_t kMsgSubscribeRsp = 0x521;

constexpr std::size_t kCoreLoginReqSize = 315;
constexpr std::size_t kCoreLoginRspSize = 415;  // the fields read end here
constexpr std::size_t kSyncReqSize = 37;
constexpr std::size_t kSubscribeReqSize = 28;

// The fields of the login answer 0x500 that are read.
struct CoreLoginRsp {
    uint64_t fund_account = 0;
    uint64_t session_no = 0;
    int32_t error_code = 0;
    uint32_t trading_day = 0;
    uint32_t node_id = 0;
    uint64_t fund_index = 0;  // its low 16 bits are the session's
    uint64_t cur_order_id = 0;
    int32_t order_limit = 0;  // per second, control type 0
    int32_t query_limit = 0;  // per second, control type 1
};
// False (out zeroed) for an answer shorter than kCoreLoginRspSize.
bool ReadCoreLoginRsp(const char* data, int len, CoreLoginRsp* out) noexcept;

// Builds the 315-byte login request: the gateway answer's value at 552 and its bytes 14-35
// are copied unchanged.
void PackCoreLoginReq(uint8_t* out, uint64_t fund_account, uint64_t request_seq, uint16_t client_id,
                      const GatewayLoginRsp& gateway, const char* terminal_info) noexcept;

// Sends a follow-up page for the driver on the gateway connection of the session's node.
int SendToGatewayServer(uint64_t session_id, const void* body, uint32_t msg_id, int length, int request_id);
}  // namespace OPT

class OptionTraderImpl : public CInnerApiInterface {
public:
    struct Timeouts {
        std::chrono::milliseconds login{10000};
        std::chrono::milliseconds sync{10000};  // from the request and from every replayed page
        std::chrono::milliseconds subscribe{10000};
    };

    // Test seam: every send of the back-end (its login, resumption and requests) goes here
    // instead of the connection. gateway: true for SendToGatewayServer, false for SendToServer.
    using SendHook =
        std::function<int(bool gateway, uint64_t session_id, uint32_t msg_id, const void* body, int length,
                          int request_id)>;

    OptionTraderImpl();
    ~OptionTraderImpl() override;

    void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback, uint8_t byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) override;
    void Release() override;
    void RegisterSpi(TraderSpi* spi) override;
    void SubscribePublicTopic(int resume_type) override;
    uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) override;
    int StartSyncPush() override;
    int Logout(uint64_t session_id) override;
    int Reserved3(uint64_t session_id) override;

    // Requests.
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
    int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam* query_param, uint64_t session_id,
                               int request_id) override;
    uint64_t InsertExecuteOrder(const ExecuteOrderInsertInfo* order, uint64_t session_id) override;
    uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo* order, uint64_t session_id) override;
    int QueryOptionCombinedUnfinishedOrders(uint64_t session_id, int request_id) override;
    int QueryOptionCombinedOrderByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedOrders(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int QueryOptionCombinedTradesByOXAID(uint64_t order_oxa_id, uint64_t session_id, int request_id) override;
    int QueryOptionCombinedTrades(const OptCombOrderQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int QueryOptionCombinedPosition(const OptCombPositionQueryParam* query_param, uint64_t session_id,
                                    int request_id) override;
    int QueryOptionCombinedStrategyInfo(uint64_t session_id, int request_id) override;
    int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param, uint64_t session_id,
                                        int request_id) override;

    // For the driver (receiving thread). session_id is the API session id the replay answer
    // echoes; a notification for any session but the one being resumed is ignored.
    // SyncNotify: the replay has ended; last_seq (when not 0) sets StartSeqNo to last_seq + 1.
    void SyncNotify(uint64_t session_id, int32_t last_seq);
    // A replayed page that asks for more: the replay's deadline starts again, and a replay that
    // ends without a sequence (an error page, a time-out) resumes after last_seq (when not 0).
    void SyncProgress(uint64_t session_id, int32_t last_seq = 0);
    // A follow-up page of the replay or of a query, on the gateway connection of the session.
    int SendFollowUp(uint64_t session_id, uint32_t msg_id, const void* body, int length, int request_id);
    // The session a query answer belongs to (AnswerSessions.h); the rule's log names who.
    AnswerSessions::Found FindSessionInfo(const AnswerSessions::Clues& clues,
                                          const char* who = "FindSessionInfo") const;
    // The sessions of the query answers, and the queries in flight.
    AnswerSessions& Sessions() { return m_sessions; }

    // The request gate: the session's record when it exists and the rate allows the request.
    tagSessionInfo* CheckRequest(uint64_t session_id, int ctrl_type);

    // Kept for callers outside the library's own flow.
    TraderSpi* GetSpi() const { return m_pSpi.load(); }
    uint64_t GetApiSessionId() const { return m_nApiSessionID.load(); }
    int32_t GetStartSeqNo() const { return m_nStartSeqNo.load(); }
    // One rate limit of a session: a 1000 ms window, a negative maximum taken as 0.
    void SetSpeedLimit(int ctrl_type, uint64_t session_id, int32_t max_count);
    // The session's first order id: session id << 40 | client id << 32 | last order number.
    static uint64_t FirstOrderId(const tagSessionInfo& info);

    void SetTimeouts(const Timeouts& t);
    Timeouts GetTimeouts() const;
    void SetSendHook(SendHook hook);

private:
    // What the receiving thread hands the waiting login (LoginAnswer.h): the record it filed, or
    // the grant for the login to file when a session is filed under its id already.
    struct LoginResult {
        bool accepted = false;
        tagSessionInfo* filed = nullptr;
        OPT::CoreLoginRsp rsp{};
    };

    int CoreLogin(const ClientPtr& client, uint64_t fund_account);
    void OnCoreLogin(const char* body, int length);
    // Files a granted session; null when the ids do not fit the tables.
    tagSessionInfo* FileSession(const OPT::CoreLoginRsp& rsp);
    int SendSyncPushReq();
    int ReqSubscribeMsg();
    bool WaitForReplay(uint64_t session_id, uint64_t ticket, std::chrono::milliseconds timeout);

    // A request of the application's; a query (every one that goes to the gateway) is noted as in
    // flight for its session first.
    int Send(bool gateway, const ClientPtr* client, uint64_t session_id, uint32_t msg_id, const void* body,
             int length, int request_id);
    // Any send of the back-end: the test seam, else the connection.
    int Transmit(bool gateway, const ClientPtr* client, uint64_t session_id, uint32_t msg_id, const void* body,
                 int length, int request_id);
    // refused_business >= 0: a business type the operation does not serve, refused once the
    // gate has passed and an id has been taken.
    uint64_t SendOrderLike(OPT::PackRequest& req, uint64_t session_id, const char* send_error,
                           int refused_business = -1);
    int SendQuery(OPT::PackRequest& req, uint64_t session_id, int request_id);

    std::mutex m_mtxLogin;      // CoreLogin, across send and wait
    std::mutex m_mtxSync;       // the synchronisation, across request and wait
    std::mutex m_mtxSubscribe;  // the subscription, across request and wait
    AnswerWait<LoginResult> m_loginWait;  // keyed by the fund account logging in
    AnswerWait<int32_t> m_syncWait;       // keyed by the API session id being resumed
    AnswerWait<int> m_subscribeWait;      // keyed by the subscription's counter
    std::atomic<uint64_t> m_nSubscribeKey{0};
    std::atomic<uint64_t> m_nSyncSession{0};  // the session being resumed; 0 when none
    std::atomic<bool> m_bSyncEnded{false};
    std::atomic<int64_t> m_nSyncPageMs{0};    // steady time of the last replayed page

    std::atomic<int32_t> m_nStartSeqNo{0};
    std::atomic<uint64_t> m_nFundAcc{0};
    std::atomic<uint64_t> m_nApiSessionID{0};
    std::atomic<uint64_t> m_nSessionNo{0};
    std::atomic<TraderSpi*> m_pSpi{nullptr};
    std::atomic<int> m_nResumeType{2};
    std::atomic<bool> m_bOrderLock{false};
    CSpeedControl m_speedControl;

    AnswerSessions m_sessions;

    mutable std::mutex m_mtxSettings;
    Timeouts m_timeouts;
    SendHook m_sendHook;
};

}  // namespace API
}  // namespace OXA
