#include "infra/vorn/VornThreads.h"

#include <pthread.h>
#include <time.h>

#include <cstring>
#include <system_error>

#include "infra/utility/SystemFunctions.h"

namespace OXA {
namespace VORN {

namespace {

struct KeyOf {
    VornThread kind;
    const char* key;
};

constexpr KeyOf kKeys[] = {
    {VornThread::kReceiver, "VORN_THREAD_RECEIVER"}, {VornThread::kHandler, "VORN_THREAD_HANDLER"},
    {VornThread::kDeliver, "VORN_THREAD_DELIVER"},   {VornThread::kControl, "VORN_THREAD_CONTROL"},
    {VornThread::kStorage, "VORN_THREAD_STORAGE"},   {VornThread::kInnerMsg, "VORN_THREAD_INNERMSG"},
};

}  // namespace

const char* ThreadKey(VornThread kind) {
    for (const KeyOf& k : kKeys)
        if (k.kind == kind) return k.key;
    return nullptr;
}

bool ThreadOfKey(const char* key, VornThread& out) {
    if (!key) return false;
    for (const KeyOf& k : kKeys) {
        if (std::strcmp(k.key, key) == 0) {
            out = k.kind;
            return true;
        }
    }
    return false;
}

bool CBusThread::Start(const char* name, int core, std::function<void(bool pinned)> body) {
    Join();
    char cut[16] = {0};
    std::strncpy(cut, name ? name : "", sizeof cut - 1);
    try {
        m_thread = std::thread([cut, core, body = std::move(body)]() mutable {
            const bool pinned = core >= 0 && API::BindThreadToCpu(core, cut);
            if (!pinned) ::pthread_setname_np(::pthread_self(), cut);
            body(pinned);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CBusThread::Join() {
    if (!m_thread.joinable()) return;
    if (IsCurrent())
        m_thread.detach();
    else
        m_thread.join();
}

bool CRateLimit::Allow(int64_t now_ns, int64_t* suppressed) {
    int64_t start = m_start.load(std::memory_order_relaxed);
    if (now_ns - start >= m_interval && m_start.compare_exchange_strong(start, now_ns, std::memory_order_relaxed))
        m_count.store(0, std::memory_order_relaxed);
    if (m_count.fetch_add(1, std::memory_order_relaxed) >= m_burst) {
        m_held.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    const int64_t held = m_held.exchange(0, std::memory_order_relaxed);
    if (suppressed) *suppressed = held;
    return true;
}

int64_t MonotonicNs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace VORN
}  // namespace OXA
