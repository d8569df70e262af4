// What every back-end runs before it packs a request: the session's record and its rate, the
// session of an order the request names, and the order flag that hands a back-end's orders on
// in the order of their ids.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <atomic>
#include <cstdint>

namespace OXA {
namespace API {

class CInnerApiInterface;
class CSpeedControl;
struct tagSessionInfo;

// The over-speed line of the spot and option gates (session id, CtrlType); margin logs its own.
constexpr const char* kOverSpeedLog = "[session_id:{}] OXA_ERR_API_OVER_SPEED. CtrlType={}";

// The session's record when there is one and the rate of ctrl_type (0 orders, cancels and
// transfers; 1 queries) allows the request; otherwise null, logged (a spent rate with
// over_speed_log, given the session id and the CtrlType), with 211004 (no record, so the caller
// never reads an older code as this request's) or 211008 recorded on api.
tagSessionInfo* GateRequest(CInnerApiInterface& api, const CSpeedControl& speed, uint64_t session_id,
                            int ctrl_type, const char* over_speed_log = kOverSpeedLog);

// An order id names its session in bits 63-40. A request that names an order (or a transfer)
// of another session than the one it is made for is refused before it takes a rate, an id or a
// send: a spot cancel carries only the order's client id and sequence, so the gateway would act
// on the given session's own order of that number. False, logged with op and 1018 recorded, then.
bool OrderOfSession(CInnerApiInterface& api, const char* op, uint64_t order_id, uint64_t session_id);
// The same for the serial id of a transfer query; none (null) or 0 asks for every transfer.
bool TransferQueryOfSession(CInnerApiInterface& api, const FundTransferQueryParam* query, uint64_t session_id);

// Holds a back-end's order flag for its scope, spinning while another thread holds it: kept
// only across an order's id, packing and send, so the wait is short.
class OrderSpin {
public:
    explicit OrderSpin(std::atomic<bool>& flag) noexcept : m_flag(flag) {
        while (m_flag.exchange(true, std::memory_order_acquire)) {
        }
    }
    ~OrderSpin() { m_flag.store(false, std::memory_order_release); }
    OrderSpin(const OrderSpin&) = delete;
    OrderSpin& operator=(const OrderSpin&) = delete;

private:
    std::atomic<bool>& m_flag;
};

}  // namespace API
}  // namespace OXA
