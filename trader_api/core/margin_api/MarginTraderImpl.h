// The margin (credit) back-end, business type 2: one object serves every margin fund account
// of every node. It registers an account for pushes, logs it in to the margin service (0x203,
// answered by 0x204), resumes its missed pushes (synchronisation passes 0x21100 / 0x21101, then
// the subscription 0x205 whose answer is the package flow 0x206), gates the rate-limited
// requests and ends sessions.
//
// Query answers find their session through the back-end's AnswerSessions (sessions of several
// nodes may share a server session number); every query is noted there before its send. A
// synchronisation answer or a flow's end counts only for the pass or subscription in flight,
// known by the request id of its frame and the session number (and account) it echoes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "api/SpeedControl.h"
#include "api_common/AnswerSessions.h"
#include "api_common/BusinessBackend.h"
#include "api_common/PushResumption.h"
#include "core/margin_api/MarginRequestPack.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "core/margin_api/MarginWire.h"
#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

namespace MARGIN {

// One of the four rate items of the init answer.
struct CreditSpeedItem {
    uint8_t ctrl_type = 0;  // not read
    uint16_t interval_ms = 0;
    uint32_t max_count = 0;
};

// The record of the init answer 0x204, read in the sender's byte order.
struct CreditInitRsp {
    uint64_t fund_account = 0;
    uint32_t fund_index = 0;
    uint64_t session_no = 0;
    uint16_t unread_20 = 0;
    uint32_t order_no_index = 0;
    CreditSpeedItem speed[4];
    uint32_t trading_day = 0;
    uint32_t node_id = 0;
};

// Reads the kInitRspSize-byte record at rec (the caller has checked the bytes are there).
void ReadInitRsp(const char* rec, bool byte_order, CreditInitRsp* out) noexcept;

// The session's entry in the node's row of session numbers.
constexpr uint64_t SessionNoEntry(uint64_t session_no) { return (session_no - kSessionNoBase) & 0xFFFFF; }

}  // namespace MARGIN

class MarginTraderImpl : public CBusinessBackend {
public:
    MarginTraderImpl();
    ~MarginTraderImpl() override;

    void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback, uint8_t byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) override;
    void Release() override;
    uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) override;
    int StartSyncPush() override;
    int QueryOptionCombinedExecPosition(const OptCombExecPositionQueryParam* query_param, uint64_t session_id,
                                        int request_id) override;

    // The margin requests (MarginRequests.cpp). Order-path operations return the new order id
    // or 0; queries return 0 when sent, the refusal's code (-1 for a null record and for every
    // refusal of an extended query) or the send's code.
    uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id) override;
    uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id) override;
    uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) override;
    uint64_t CreditCashRepay(uint64_t session_id, double amount) override;
    uint64_t CreditCashRepaySpecifiedDebt(CashRepaySpecifiedDebtInfo* cash_repay, uint64_t session_id) override;
    uint64_t CreditRequest(CreditRequestParam* request, uint64_t session_id) override;
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
    int QueryFundTransfer(const FundTransferQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryIPOInfoList(uint64_t session_id, int request_id) override;
    int QueryIPOQuotaInfo(uint64_t session_id, int request_id) override;
    int QueryCreditInfo1(uint64_t session_id, int request_id) override;
    int QueryCreditInfo2(uint64_t session_id, int request_id) override;
    int QueryCreditInfo3(uint64_t session_id, int request_id) override;
    int QueryCreditInfo4(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo5(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo6(uint64_t session_id, int request_id) override;
    int QueryCreditInfo7(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo8(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo9(uint64_t session_id, int request_id) override;
    int QueryCreditInfo10(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo11(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo12(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo13(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditInfo14(const uint64_t* query_param, uint64_t session_id, int request_id) override;
    int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                             int request_id) override;
    int QueryIssueInfoList(uint64_t session_id, int request_id) override;
    int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditPledgeStkByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditTargetStkByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryCreditDebtToRepayTodayByPage(const DebtToRepayQueryParam* query_param, uint64_t session_id,
                                          int request_id) override;

    // Not offered by margin: each logs and records 230113; these return it...
    int QueryETFBaseInfo(const ETFQueryParam*, uint64_t, int) override;
    int QueryETFTickerBasket(const ETFQueryParam*, uint64_t, int) override;
    int QueryOptionAuctionInfo(const OptionAuctionInfoQueryParam*, uint64_t, int) override;
    int Reserved5(void*, uint64_t, int) override;
    int Reserved6(void*, uint64_t, int) override;
    int Reserved7(void*, uint64_t) override;
    int Reserved8(void*, uint64_t, int) override;
    int QueryOptionCombinedUnfinishedOrders(uint64_t, int) override;
    int QueryOptionCombinedOrderByOXAID(uint64_t, uint64_t, int) override;
    int QueryOptionCombinedOrders(const OptCombOrderQueryParam*, uint64_t, int) override;
    int Reserved9(void*, uint64_t, int) override;
    int QueryOptionCombinedTradesByOXAID(uint64_t, uint64_t, int) override;
    int QueryOptionCombinedTrades(const OptCombOrderQueryParam*, uint64_t, int) override;
    int Reserved10(void*, uint64_t, int) override;
    int QueryOptionCombinedPosition(const OptCombPositionQueryParam*, uint64_t, int) override;
    int QueryOptionCombinedStrategyInfo(uint64_t, int) override;
    int QueryYesterdayAsset(uint64_t, int) override;
    int QueryETFByPage(const PageQueryParam*, uint64_t, int) override;
    int QueryHKConnectIndicativeExchangeRateInfo(uint64_t, int) override;
    int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam*, uint64_t, int) override;
    // ...and these return 0 (InsertExecuteOrder keeps the base's 6077).
    int Reserved4(uint64_t, uint64_t, uint64_t) override;
    uint64_t InsertOptionCombinedOrder(const OptionCombinedOrderInsertInfo*, uint64_t) override;

    int Logout(uint64_t session_id) override;

    // For the driver's handlers (receive thread). OnInit takes the init answer's record and
    // error record (either may be null).
    void OnInit(const MARGIN::CreditInitRsp* rsp, const OXAErrorInfo* error);
    bool IsSyncEnd() const { return m_resumption.IsSyncEnd(); }
    // The answer of the pass in flight (true: its records may be replayed), or not (false).
    bool SyncNotify(const PushResumption::AnswerKey& key, uint32_t last_seq, bool ended) {
        return m_resumption.PassDone(key, last_seq, ended, "onSyncPushReply");
    }
    // The end of a subscription flow; it ends the subscription in flight only when it is its own.
    void SubscribeEndNotify(const PushResumption::AnswerKey& key) {
        m_resumption.SubscribeEnd(key, "onSubscribePushReply");
    }
    // The sessions of the query answers, and the queries in flight.
    AnswerSessions& Sessions() { return m_sessions; }

    // The session of an answer from the server's session number on node_id; 0 when none (a
    // node above 255, an empty entry, or an entry that holds another session number).
    static uint64_t GetApiSessionIdByNo(uint32_t node_id, uint64_t session_no);

    uint64_t GetApiSessionId() const { return m_nApiSessionID.load(); }
    uint32_t GetStartSeqNo() const { return m_resumption.StartSeqNo(); }

protected:
    void HandSpiToDriver(TraderSpi* spi) override;

private:
    // What the receiving thread hands the waiting login (LoginAnswer.h): an accepted answer has
    // filed its session before the waiter wakes, so a push right behind it finds the session (a
    // filing that no login takes is undone), unless a session is filed under its id already:
    // then the login files it once it has the answer.
    struct InitAnswer {
        bool accepted = false;
        tagSessionInfo* filed = nullptr;  // the record the receiving thread filed
        MARGIN::CreditInitRsp rsp{};      // the grant, for the login to file
        bool has_error = false;
        OXAErrorInfo error{};
    };

    int InitLogin(const ClientPtr& client, uint64_t fund_account);
    int SendInit(const ClientPtr& client, uint64_t fund_account);
    // Files the accepted session; its record, or null when it could not be filed.
    tagSessionInfo* ApplyInit(const MARGIN::CreditInitRsp& rsp);
    int SendSyncPushReq();
    int ReqSubscribeMsg();
    // A query to the gateway, noted as in flight for its session before the send.
    int SendQueryFrame(uint64_t session_id, uint32_t msg_id, const void* body, int length, int request_id);
    // id_slot: where the application's record takes the new id (its first 8 bytes), or null.
    uint64_t SendOrderLike(MARGIN::PackRequest& req, uint64_t session_id, void* id_slot = nullptr);
    int SendQuery(MARGIN::PackRequest& req, uint64_t session_id, int request_id);

    std::atomic<uint64_t> m_nFundAcc{0};
    std::atomic<uint64_t> m_nApiSessionID{0};
    CSpeedControl m_speedControl;

    // One login in flight at a time; its wait is keyed by the fund account it logs in.
    std::mutex m_mtxLogin;
    AnswerWait<InitAnswer> m_initWait;

    PushResumption m_resumption;
    AnswerSessions m_sessions;
    // Held by InsertOrder from its id to the end of its send, so orders leave in id order.
    std::atomic<bool> m_orderSpin{false};
};

}  // namespace API
}  // namespace OXA
