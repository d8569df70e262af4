// The margin (credit) back-end, business type 2: one object serves every margin fund account
// of every node. It registers an account for pushes, logs it in to the margin service (0x203,
// answered by 0x204), resumes its missed pushes (synchronisation passes 0x21100 / 0x21101, then
// the subscription 0x205 whose answer is the package flow 0x206), gates the rate-limited
// requests and ends sessions.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "api/SpeedControl.h"
#include "api_common/BusinessBackend.h"
#include "api_common/PushResumption.h"
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

    // For the driver's handlers (receive thread). OnInit takes the init answer's record and
    // error record (either may be null).
    void OnInit(const MARGIN::CreditInitRsp* rsp, const OXAErrorInfo* error);
    bool IsSyncEnd() const { return m_resumption.IsSyncEnd(); }
    void SyncNotify(uint32_t last_seq, bool ended) { m_resumption.PassDone(last_seq, ended); }
    void SubscribeEndNotify() { m_resumption.SubscribeEnd(); }

    // The session of an answer from the server's session number on node_id; 0 when none (a
    // node above 255, an empty entry, or an entry that holds another session number).
    static uint64_t GetApiSessionIdByNo(uint32_t node_id, uint64_t session_no);

    // For the requests: the session's record when it exists and its rate allows the request;
    // null (logged) otherwise, the caller records the code.
    tagSessionInfo* CheckRequest(uint64_t session_id, int ctrl_type);

    uint64_t GetApiSessionId() const { return m_nApiSessionID.load(); }
    uint32_t GetStartSeqNo() const { return m_resumption.StartSeqNo(); }

protected:
    void HandSpiToDriver(TraderSpi* spi) override;

private:
    // What the receiving thread hands the waiting login; the login applies it itself, so an
    // answer that comes too late never changes anything.
    struct InitAnswer {
        bool accepted = false;
        MARGIN::CreditInitRsp rsp;
        bool has_error = false;
        OXAErrorInfo error{};
    };

    int InitLogin(const ClientPtr& client, uint64_t fund_account);
    int SendInit(const ClientPtr& client, uint64_t fund_account);
    // Files the accepted session; its id, or 0 when it could not be filed.
    uint64_t ApplyInit(const MARGIN::CreditInitRsp& rsp);
    int SendSyncPushReq();
    int ReqSubscribeMsg();

    std::atomic<uint64_t> m_nFundAcc{0};
    std::atomic<uint64_t> m_nApiSessionID{0};
    CSpeedControl m_speedControl;

    // One login in flight at a time; its wait is keyed by the fund account it logs in.
    std::mutex m_mtxLogin;
    AnswerWait<InitAnswer> m_initWait;

    PushResumption m_resumption;
};

}  // namespace API
}  // namespace OXA
