#include "infra/tcp_framework/utility/Semaphore.h"

#include <cerrno>
#include <climits>
#include <ctime>

namespace tcp_framework {
namespace utility {

Semaphore::Semaphore(unsigned int initial) {
    if (initial > static_cast<unsigned int>(SEM_VALUE_MAX)) initial = SEM_VALUE_MAX;
    m_ok = sem_init(&m_sem, 0, initial) == 0;
}

Semaphore::~Semaphore() {
    if (m_ok) sem_destroy(&m_sem);
}

bool Semaphore::post() {
    if (!m_ok) return false;
    if (sem_post(&m_sem) == 0) return true;
    return errno == EOVERFLOW;
}

bool Semaphore::wait() {
    if (!m_ok) return false;
    for (;;) {
        if (sem_wait(&m_sem) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool Semaphore::wait_for(uint64_t microseconds) {
    if (!m_ok) return false;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    // clamp so the deadline cannot overflow time_t
    const uint64_t max_us = 100ull * 365 * 24 * 3600 * 1000000;
    if (microseconds > max_us) microseconds = max_us;
    const uint64_t ns = static_cast<uint64_t>(deadline.tv_nsec) + (microseconds % 1000000) * 1000;
    deadline.tv_sec += static_cast<time_t>(microseconds / 1000000 + ns / 1000000000);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000);
    for (;;) {
        if (sem_clockwait(&m_sem, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

int Semaphore::value() const {
    int v = 0;
    if (!m_ok || sem_getvalue(&m_sem, &v) != 0) return 0;
    return v;
}

}  // namespace utility
}  // namespace tcp_framework
