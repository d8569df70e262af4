#include "api/SpeedControl.h"

#include <time.h>

#include <new>

#include "api/SessionTables.h"

namespace OXA {
namespace API {

namespace {

constexpr unsigned kCountBits = 24;
constexpr uint64_t kCountMask = (uint64_t{1} << kCountBits) - 1;
constexpr unsigned kStartBits = 64 - kCountBits;
constexpr uint64_t kStartMask = (uint64_t{1} << kStartBits) - 1;
static_assert(STFundSpContral::kMaxCountPerWindow == kCountMask, "count field width");

// now - start on the 40-bit millisecond field, signed: a window that another thread opened
// after our clock reading lies in the future, not 34 years in the past.
int64_t SinceStart(uint64_t now_ms, uint64_t start_field) {
    const uint64_t delta = (now_ms - start_field) & kStartMask;
    return static_cast<int64_t>(delta << kCountBits) >> kCountBits;
}

uint64_t ReadMs(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t CoarseClockMs() { return ReadMs(CLOCK_MONOTONIC_COARSE); }

SpeedClock MakeDefaultClock() {
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC_COARSE, &res) != 0 || res.tv_sec != 0) {
        return SpeedClock{&SteadyClockMs, &SteadyClockMs, 0};
    }
    // The coarse reading trails by up to one tick, plus one for the truncation to ms.
    const auto tick_ms = static_cast<uint32_t>((res.tv_nsec + 999999) / 1000000);
    return SpeedClock{&SteadyClockMs, &CoarseClockMs, tick_ms + 1};
}

// The session's pair of entries, on a cache line of its own.
struct alignas(64) SpeedControlPair {
    STFundSpContral entry[CSpeedControl::kCtrlTypes];
};

ApiSessionArray<STFundSpContral*> g_speedCtrl;

}  // namespace

const ApiSessionArray<STFundSpContral*>& _gArrSpeedCtrl = g_speedCtrl;

uint64_t SteadyClockMs() { return ReadMs(CLOCK_MONOTONIC); }

const SpeedClock& DefaultSpeedClock() {
    static const SpeedClock clock = MakeDefaultClock();
    return clock;
}

bool STFundSpContral::Check(const SpeedClock& clock) {
    uint64_t limit = max.load(std::memory_order_relaxed);
    if (limit == 0) return true;
    if (limit > kCountMask) limit = kCountMask;
    const int64_t window = interval.load(std::memory_order_relaxed);

    const uint64_t cheap = clock.cheap_ms();
    uint64_t now = 0;
    bool have_now = false;
    uint64_t state = m_window.load(std::memory_order_relaxed);
    for (;;) {
        const uint64_t count = state & kCountMask;
        const uint64_t start = state >> kCountBits;
        bool inside = false;
        if (count != 0) {
            // Clearly inside by the cheap clock; near the edge ask the exact one.
            inside = SinceStart(cheap, start) + clock.lag_ms < window;
            if (!inside) {
                if (!have_now) {
                    now = clock.now_ms();
                    have_now = true;
                }
                inside = SinceStart(now, start) < window;
            }
        }
        uint64_t next;
        if (inside) {
            if (count >= limit) return false;
            next = state + 1;
        } else {
            // No window yet, or it ran out: this request opens the next one.
            if (!have_now) {
                now = clock.now_ms();
                have_now = true;
            }
            next = (now & kStartMask) << kCountBits | 1;
        }
        // Exactly one thread moves the window from the state it read; a loser looks again.
        if (m_window.compare_exchange_weak(state, next, std::memory_order_relaxed)) return true;
    }
}

CSpeedControl::CSpeedControl() noexcept : m_clock(DefaultSpeedClock()) {}

bool CSpeedControl::SetSpeedControl(uint64_t session_id, const SpeedControlCfg& cfg) {
    const uint8_t type = cfg.CtrlType;
    const uint16_t interval = cfg.interval;
    const uint32_t max = cfg.max;
    if (type >= kCtrlTypes || !ApiSessionArray<STFundSpContral*>::InRange(session_id)) return false;

    STFundSpContral* pair = g_speedCtrl.Get(session_id);
    if (pair == nullptr) {
        auto* fresh = new (std::nothrow) SpeedControlPair;
        if (fresh == nullptr) return false;
        STFundSpContral* expected = nullptr;
        if (g_speedCtrl.CompareExchange(session_id, expected, fresh->entry)) {
            pair = fresh->entry;
        } else {
            delete fresh;
            if (expected == nullptr) return false;  // the row could not be allocated
            pair = expected;
        }
    }
    if (max != 0) {
        pair[type].interval.store(interval, std::memory_order_relaxed);
        pair[type].max.store(max, std::memory_order_relaxed);
    }
    return true;
}

bool CSpeedControl::CheckSpeed(uint64_t session_id, int ctrl_type) const {
    if (ctrl_type < 0 || ctrl_type >= kCtrlTypes) return false;
    STFundSpContral* pair = g_speedCtrl.Get(session_id);
    if (pair == nullptr) return false;
    STFundSpContral& entry = pair[ctrl_type];
    if (entry.max.load(std::memory_order_relaxed) == 0) return true;
    return entry.Check(m_clock);
}

}  // namespace API
}  // namespace OXA
