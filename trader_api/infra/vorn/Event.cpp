#include "infra/vorn/Event.h"

#include <chrono>

namespace OXA {
namespace VORN {

void CEvent::Set() {
    // Woken under the mutex: a waiter that returns and destroys the event cannot do so
    // while this call still touches the condition variable.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flag = 1;
    m_cv.notify_one();
}

void CEvent::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_flag != 0; });
    m_flag = 0;
}

int CEvent::TimedWait(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_until(lock, deadline, [this] { return m_flag != 0; })) return 0;
    m_flag = 0;
    return 1;
}

bool InitRecursiveMutex(pthread_mutex_t* mutex) {
    if (!mutex) return false;
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 && pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

void DestroyRecursiveMutex(pthread_mutex_t* mutex) {
    if (mutex) pthread_mutex_destroy(mutex);
}

}  // namespace VORN
}  // namespace OXA
