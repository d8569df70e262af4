// The queue of control packets from the receiver to the handler: copies of NAKs, RACKs,
// heartbeats and notice packets in control-pool buffers, in arrival order. The receiver
// pushes and signals; the handler takes the whole queue at once, and waits on the queue's
// condition (monotonic clock) only while it is empty.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "infra/vorn/VornPool.h"

namespace OXA {
namespace VORN {

class CControlQueue {
public:
    CControlQueue() = default;
    // Buffers still queued go back to their pools.
    ~CControlQueue();
    CControlQueue(const CControlQueue&) = delete;
    CControlQueue& operator=(const CControlQueue&) = delete;

    void Push(VornBuffer* buffer);
    // Every buffer queued, oldest first, linked through next; null when none.
    VornBuffer* TakeAll();
    // Waits until something is queued or wait_ns passed (0: does not wait).
    void WaitFor(int64_t wait_ns);
    // Wakes a waiter without queuing anything.
    void Wake();
    std::size_t Count() const;
    uint64_t Pushed() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    VornBuffer* m_head = nullptr;
    VornBuffer* m_tail = nullptr;
    std::size_t m_count = 0;
    uint64_t m_pushed = 0;
    bool m_woken = false;
};

}  // namespace VORN
}  // namespace OXA
