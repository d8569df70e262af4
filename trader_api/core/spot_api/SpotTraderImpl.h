// The spot back-end: one object serves every spot fund account and node. It logs accounts in
// to the spot business service, resumes missed pushes (synchronisation, then subscription),
// gates every spot request and ends sessions.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "api/SpeedControl.h"
#include "api_common/BusinessBackend.h"
#include "api_common/PushResumption.h"
#include "core/spot_api/SpotRequestPack.h"
#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

namespace SPOT {
constexpr uint32_t kMsgCoreLoginReq = 0x10a;
constexpr uint32_t kMsgSubscribeReq = 0x103;
constexpr uint32_t kMsgSyncPushReq = 0x20010;

constexpr std::size_t kCoreLoginReqSize = 306;
constexpr std::size_t kCoreLoginRspSize = 60;
constexpr std::size_t kSyncReqSize = 52;
constexpr std::size_t kSubscribeReqSize = 24;
constexpr std::size_t kSyncRspHeadSize = 56;
constexpr uint32_t kSyncRecordsPerAnswer = 200;

// Fields of the login answer 0x10b.
struct CoreLoginRsp {
    uint64_t fund_account = 0;
    int32_t trading_day = 0;
    uint32_t fund_index = 0;
    int32_t order_no_index = 0;
    uint32_t session_no = 0;
    int32_t error_code = 0;
    int32_t node_id = 0;
    int32_t order_limit = 0;
    int32_t query_limit = 0;
};
bool ReadCoreLoginRsp(const char* data, int len, CoreLoginRsp* out) noexcept;
}  // namespace SPOT

class SpotTraderImpl : public CBusinessBackend {
public:
    SpotTraderImpl();
    ~SpotTraderImpl() override;

    void OnRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback, uint8_t byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) override;
    void Release() override;
    uint64_t Login(std::shared_ptr<tcp_framework::client::TcpClient> client, uint64_t fund_account) override;
    int StartSyncPush() override;

    // Requests.
    uint64_t InsertOrder(const OrderInsertInfo* order, uint64_t session_id) override;
    uint64_t CancelOrder(uint64_t order_oxa_id, uint64_t session_id) override;
    uint64_t FundTransfer(FundTransferInfo* fund_transfer, uint64_t session_id) override;
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
    int QueryETFBaseInfo(const ETFQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryETFTickerBasket(const ETFQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryIPOInfoList(uint64_t session_id, int request_id) override;
    int QueryIPOQuotaInfo(uint64_t session_id, int request_id) override;
    int QueryOtherServerFund(const OtherServerFundQueryParam* query_param, uint64_t session_id,
                             int request_id) override;
    int QueryIssueInfoList(uint64_t session_id, int request_id) override;
    int QuerySecurityInfo(const TickerQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryYesterdayAsset(uint64_t session_id, int request_id) override;
    int QueryETFByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QuerySecurityByPage(const PageQueryParam* query_param, uint64_t session_id, int request_id) override;
    int QueryHKConnectIndicativeExchangeRateInfo(uint64_t session_id, int request_id) override;
    int QueryHKConnectSpreadTable(const HKConnectSpreadQueryParam* query_param, uint64_t session_id,
                                  int request_id) override;
    int Reserved4(uint64_t value1, uint64_t value2, uint64_t session_id) override;
    int Reserved7(void* param, uint64_t session_id) override;

    // For the driver's handlers (receive thread).
    void OnInit(const SPOT::CoreLoginRsp& rsp);
    // last_seq: sequence number of the answer's last record (0 without records).
    void SyncNotify(uint32_t last_seq, bool ended);
    void SubscribeEndNotify();
    bool IsSyncEnd() const { return m_resumption.IsSyncEnd(); }
    static uint64_t ComposeOXAID(const tagSessionInfo& info);

    // For the requests: the session's record when it exists and the rate allows the request.
    tagSessionInfo* CheckRequest(uint64_t session_id, int ctrl_type);
    int SendSyncPushReq();
    int ReqSubscribeMsg();

    uint64_t GetApiSessionId() const { return m_nApiSessionID.load(); }
    uint32_t GetStartSeqNo() const { return m_resumption.StartSeqNo(); }

protected:
    void HandSpiToDriver(TraderSpi* spi) override;

private:
    // The gate, the packing and the send of one request: an order-like one returns its new
    // id or 0, a query the send's result or -1.
    uint64_t SendOrderLike(SPOT::PackRequest& req, uint64_t session_id);
    int SendQuery(SPOT::PackRequest& req, uint64_t session_id, int request_id);

    std::atomic<bool> m_orderSpin{false};

    // What the receiving thread hands the waiting login (LoginAnswer.h): the record it filed, or
    // the grant for the login to file when a session is filed under its id already.
    struct LoginResult {
        bool accepted = false;
        tagSessionInfo* filed = nullptr;
        SPOT::CoreLoginRsp rsp{};
        int32_t error_code = 0;  // of a refusal
    };
    // Files an accepted answer's session; null when it could not be filed.
    tagSessionInfo* FileGrant(const SPOT::CoreLoginRsp& rsp);

    std::atomic<uint64_t> m_nApiSessionID{0};
    std::atomic<uint64_t> m_nSessionNo{0};
    std::atomic<uint64_t> m_nFundAcc{0};
    std::atomic<int64_t> m_nSubscribeCounter{0};
    CSpeedControl m_speedControl;

    std::atomic<uint32_t> m_nSyncCounter{0};

    // Keyed by fund account.
    AnswerWait<LoginResult> m_loginWait;
    PushResumption m_resumption;
};

}  // namespace API
}  // namespace OXA
