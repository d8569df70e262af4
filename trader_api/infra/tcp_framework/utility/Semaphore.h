// Counting semaphore over a POSIX semaphore.
#pragma once

#include <semaphore.h>

#include <cstdint>

namespace tcp_framework {
namespace utility {

class Semaphore {
public:
    explicit Semaphore(unsigned int initial = 0);
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // A count that has reached its maximum stays there; that is not a
    // failure, since a waiter still finds the count non-zero.
    bool post();
    // Takes one count, blocking; false only on a semaphore error.
    bool wait();
    // Takes one count within the timeout, measured on the monotonic clock so
    // a step of the wall clock neither shortens nor stretches it.
    bool wait_for(uint64_t microseconds);
    int value() const;

private:
    mutable sem_t m_sem;
    bool m_ok;
};

}  // namespace utility
}  // namespace tcp_framework
