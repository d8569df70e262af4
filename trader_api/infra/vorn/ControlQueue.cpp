#include "infra/vorn/ControlQueue.h"

#include <chrono>

namespace OXA {
namespace VORN {

CControlQueue::~CControlQueue() {
    VornBuffer* b = TakeAll();
    while (b) {
        VornBuffer* next = b->next.load(std::memory_order_relaxed);
        VornBuffer::Release(b);
        b = next;
    }
}

void CControlQueue::Push(VornBuffer* buffer) {
    buffer->next.store(nullptr, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_tail)
            m_tail->next.store(buffer, std::memory_order_relaxed);
        else
            m_head = buffer;
        m_tail = buffer;
        ++m_count;
        ++m_pushed;
    }
    m_cv.notify_one();
}

VornBuffer* CControlQueue::TakeAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    VornBuffer* head = m_head;
    m_head = m_tail = nullptr;
    m_count = 0;
    return head;
}

void CControlQueue::WaitFor(int64_t wait_ns) {
    if (wait_ns <= 0) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    // steady_clock is the monotonic clock: a wall-clock step neither shortens nor stretches it
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(wait_ns);
    m_cv.wait_until(lock, deadline, [this] { return m_head != nullptr || m_woken; });
    m_woken = false;
}

void CControlQueue::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_one();
}

std::size_t CControlQueue::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

uint64_t CControlQueue::Pushed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pushed;
}

}  // namespace VORN
}  // namespace OXA
