// The bus's auto-reset event, and the recursive mutexes the bus and its logger use.
//
// One waiter per event: a thread sleeps in Wait or TimedWait until another thread calls
// Set or the time limit passes; a Set before the wait is kept, and any number of Sets
// before one wait are consumed by that one wait (the flag does not count). Timed waits
// run on the monotonic clock against one deadline, so a clock step or an early wake-up
// neither shortens nor lengthens them.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace OXA {
namespace VORN {

class CEvent {
public:
    CEvent() = default;
    virtual ~CEvent() = default;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Wait();
    // 1 when the event was set (the flag is consumed), 0 when ms passed first.
    int TimedWait(int ms);

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint8_t m_flag = 0;
};

// Initialises mutex as a recursive mutex; false when the system refused.
bool InitRecursiveMutex(pthread_mutex_t* mutex);
void DestroyRecursiveMutex(pthread_mutex_t* mutex);

}  // namespace VORN
}  // namespace OXA
