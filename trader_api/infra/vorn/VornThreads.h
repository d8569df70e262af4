// The bus's threads: their kinds and core keys, how each starts (pinned to its core or not)
// and ends, and the rate limit that keeps per-datagram log lines from flooding the log.
//
// A bus thread is joinable: stopping a member ends and joins every thread it started, so a
// failed launch or a stop leaves nothing running and a second launch starts clean. A thread
// whose core is set pins itself at start; a pinned thread busy-polls instead of waiting.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace OXA {
namespace VORN {

// In the order the member keeps their cores.
enum class VornThread : int {
    kReceiver = 0,
    kDeliver,
    kHandler,
    kControl,
    kSender,
    kInnerMsg,
    kStorage,
    kCount,
};

// The key of VornSetThreadCpu for a thread kind ("VORN_THREAD_RECEIVER" ...); null for the
// sender, which has no key.
const char* ThreadKey(VornThread kind);
// The kind a key names exactly; false for any other text.
bool ThreadOfKey(const char* key, VornThread& out);

// One running bus thread.
class CBusThread {
public:
    CBusThread() = default;
    ~CBusThread() { Join(); }
    CBusThread(const CBusThread&) = delete;
    CBusThread& operator=(const CBusThread&) = delete;

    // Starts body on a new thread named name; with core >= 0 the thread pins itself to it
    // first. body gets whether pinning succeeded. False when the thread could not start.
    bool Start(const char* name, int core, std::function<void(bool pinned)> body);
    // Joins the thread (detaches it when called on the thread itself, which then ends on its
    // own once it sees its stop).
    void Join();
    bool Running() const { return m_thread.joinable(); }
    bool IsCurrent() const { return m_thread.get_id() == std::this_thread::get_id(); }

private:
    std::thread m_thread;
};

// Lets at most burst log lines through per interval, counting what it held back; for lines
// that arriving datagrams or sends would otherwise write one each.
class CRateLimit {
public:
    explicit CRateLimit(int64_t interval_ns = 1000000000, int burst = 1) : m_interval(interval_ns), m_burst(burst) {}
    // True when a line may go now; suppressed receives the lines held back before it.
    bool Allow(int64_t now_ns, int64_t* suppressed = nullptr);

private:
    const int64_t m_interval;
    const int m_burst;
    std::atomic<int64_t> m_start{INT64_MIN / 2};
    std::atomic<int> m_count{0};
    std::atomic<int64_t> m_held{0};
};

// CLOCK_MONOTONIC nanoseconds.
int64_t MonotonicNs();

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace VORN
}  // namespace OXA
