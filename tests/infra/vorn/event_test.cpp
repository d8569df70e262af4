#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "infra/vorn/Event.h"

using OXA::VORN::CEvent;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

}  // namespace

TEST(CEvent, SetBeforeWaitIsKeptAndConsumedOnce) {
    CEvent e;
    e.Set();
    const auto t0 = Clock::now();
    EXPECT_EQ(1, e.TimedWait(1000));
    EXPECT_LT(MsSince(t0), 500);  // at once, not after the limit

    // several sets before a wait count as one
    e.Set();
    e.Set();
    EXPECT_EQ(1, e.TimedWait(10));
    EXPECT_EQ(0, e.TimedWait(10));
}

TEST(CEvent, TimedWaitWithoutSetLastsItsWholeLimit) {
    CEvent e;
    const auto t0 = Clock::now();
    EXPECT_EQ(0, e.TimedWait(300));
    const long long waited = MsSince(t0);
    EXPECT_GE(waited, 300);   // never early, whatever wakes the condition variable
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(0, e.TimedWait(0));
    EXPECT_EQ(0, e.TimedWait(-5));  // a negative limit is an immediate poll
}

TEST(CEvent, LongWaitEndsAsSoonAsAnotherThreadSets) {
    CEvent e;
    std::atomic<int> result{-1};
    const auto t0 = Clock::now();
    std::thread waiter([&] { result = e.TimedWait(500000); });  // the deliver thread's limit
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    e.Set();
    waiter.join();
    EXPECT_EQ(1, result.load());
    EXPECT_LT(MsSince(t0), 5000);
}

TEST(CEvent, WaitReturnsAfterSetFromAnotherThread) {
    CEvent e;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        e.Set();
    });
    e.Wait();
    setter.join();
    EXPECT_EQ(0, e.TimedWait(0));  // the set was consumed by Wait
}

// A waker that sets the event and a waiter that destroys it once woken: the set must be
// finished with the event before the waiter can return.
TEST(CEvent, WaiterMayDestroyTheEventOnceWoken) {
    for (int i = 0; i < 200; ++i) {
        auto* e = new CEvent();
        std::thread waker([e] { e->Set(); });
        e->Wait();
        delete e;  // the waker may still be inside Set's call
        waker.join();
    }
}

TEST(RecursiveMutex, LocksTwiceOnOneThread) {
    pthread_mutex_t m;
    ASSERT_TRUE(OXA::VORN::InitRecursiveMutex(&m));
    ASSERT_EQ(0, pthread_mutex_lock(&m));
    EXPECT_EQ(0, pthread_mutex_trylock(&m));
    pthread_mutex_unlock(&m);
    pthread_mutex_unlock(&m);
    OXA::VORN::DestroyRecursiveMutex(&m);
    EXPECT_FALSE(OXA::VORN::InitRecursiveMutex(nullptr));
}
