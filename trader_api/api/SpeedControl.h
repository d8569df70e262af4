#pragma once

#include <atomic>
#include <cstdint>

namespace OXA {
namespace API {

// Source of monotonic milliseconds for the rate windows. `cheap_ms` is read on every check
// and must never run ahead of `now_ms` nor lag it by more than `lag_ms`; `now_ms` is read
// only when a window may have run out. Tests pass one fake function for both with lag 0.
struct SpeedClock {
    uint64_t (*now_ms)();
    uint64_t (*cheap_ms)();
    uint32_t lag_ms;
};

// CLOCK_MONOTONIC in milliseconds (seconds x 1000 + nanoseconds / 1000000).
uint64_t SteadyClockMs();
// The monotonic clock as the kernel last stamped it (CLOCK_MONOTONIC_COARSE) with its lag.
const SpeedClock& DefaultSpeedClock();

// One rate window: at most `max` requests per `interval` ms, max 0 = unlimited. A window
// opens with its first request; a request at or past start + interval opens the next one.
struct STFundSpContral {
    // Limits above this many requests per window are enforced as this many.
    static constexpr uint32_t kMaxCountPerWindow = (1u << 24) - 1;

    std::atomic<uint16_t> interval{0};  // window length, ms
    std::atomic<uint32_t> max{0};       // requests per window; 0 = unlimited

    // True = the request may be sent (and is counted). Safe from any number of threads.
    bool Check(const SpeedClock& clock);
    bool Check() { return Check(DefaultSpeedClock()); }

private:
    // Window start (ms, low 40 bits) << 24 | requests counted in it (24 bits); one word so
    // that a window is restarted by exactly one thread. Count 0 = no window yet.
    std::atomic<uint64_t> m_window{0};
};

#pragma pack(push, 1)
// The limits of one control type as the back-ends hand them over.
struct SpeedControlCfg {
    uint8_t CtrlType;   // 0 orders, cancels, transfers; 1 queries
    uint16_t interval;  // ms
    uint32_t max;       // 0 = leave the entry as it is
};
#pragma pack(pop)
static_assert(sizeof(SpeedControlCfg) == 7, "SpeedControlCfg layout");

// Per-session request limits kept in _gArrSpeedCtrl; one member per back-end.
class CSpeedControl {
public:
    static constexpr int kCtrlTypes = 2;

    CSpeedControl() noexcept;
    explicit CSpeedControl(const SpeedClock& clock) noexcept : m_clock(clock) {}

    // Creates the session's pair of entries on first use, then sets the limits of the
    // record's type unless its max is 0. False only for an unknown type or a session id
    // beyond the tables.
    bool SetSpeedControl(uint64_t session_id, const SpeedControlCfg& cfg);

    // True = the request may be sent. A session without speed control is refused.
    bool CheckSpeed(uint64_t session_id, int ctrl_type) const;

private:
    SpeedClock m_clock;
};

}  // namespace API
}  // namespace OXA
