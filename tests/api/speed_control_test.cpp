#include "api/SpeedControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "api/SessionTables.h"

namespace {

using namespace OXA::API;

std::atomic<uint64_t> g_now{0};
uint64_t FakeNow() { return g_now.load(std::memory_order_relaxed); }
// A cheap reading that trails the exact one by 3 ms, within its declared lag of 5 ms.
uint64_t FakeTrailing() {
    const uint64_t now = g_now.load(std::memory_order_relaxed);
    return now >= 3 ? now - 3 : 0;
}

const SpeedClock kExact{&FakeNow, &FakeNow, 0};
const SpeedClock kTrailing{&FakeNow, &FakeTrailing, 5};

struct Step {
    uint64_t at;  // ms after the first request
    bool allowed;
};
struct Scenario {
    const char* name;
    uint32_t max;
    uint16_t interval;
    std::vector<Step> steps;
};

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> all = {
        {"four within a second, then one at the window's end",
         3, 1000,
         {{0, true}, {10, true}, {20, true}, {30, false}, {999, false},
          {1000, true}, {1001, true}, {1002, true}, {1003, false}}},
        {"an idle spell opens a fresh window instead of extending the old one",
         3, 1000,
         {{0, true}, {10000, true}, {10001, true}, {10002, true}, {10003, false}, {10999, false},
          {11000, true}}},
        {"a window opens with its first request, not on a fixed grid",
         2, 100,
         {{0, true}, {50, true}, {99, false}, {100, true}, {150, true}, {199, false}, {250, true}}},
        {"one per window",
         1, 1000,
         {{0, true}, {0, false}, {500, false}, {1000, true}, {1999, false}, {2000, true}}},
        {"a reading older than the window's start counts in that window",
         1, 1000,
         {{5, true}, {4, false}, {0, false}, {1005, true}}},
        {"a zero interval holds nothing back",
         1, 0,
         {{0, true}, {0, true}, {1, true}}},
        {"no limit",
         0, 1000,
         {{0, true}, {0, true}, {0, true}, {0, true}}},
    };
    return all;
}

void Play(const Scenario& sc, const SpeedClock& clock, uint64_t origin) {
    STFundSpContral entry;
    entry.interval = sc.interval;
    entry.max = sc.max;
    for (size_t i = 0; i < sc.steps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << sc.name << ", step " << i << " at +" << sc.steps[i].at);
        g_now = origin + sc.steps[i].at;
        EXPECT_EQ(entry.Check(clock), sc.steps[i].allowed);
    }
}

TEST(SpeedWindowTest, ScenariosWithTheExactClock) {
    for (const Scenario& sc : Scenarios()) Play(sc, kExact, 1'000'000);
}

TEST(SpeedWindowTest, ScenariosWithATrailingCheapClock) {
    for (const Scenario& sc : Scenarios()) Play(sc, kTrailing, 1'000'000);
}

TEST(SpeedWindowTest, ScenariosAtClockZeroAndAcrossTheMillisecondField) {
    for (const Scenario& sc : Scenarios()) {
        Play(sc, kExact, 0);
        Play(sc, kExact, (uint64_t{1} << 40) - 500);  // the 40-bit start field wraps mid-scenario
    }
}

TEST(SpeedWindowTest, LimitsAboveTheCountFieldAreCapped) {
    STFundSpContral entry;
    entry.interval = 1000;
    entry.max = 0xffffffffu;
    g_now = 7;
    for (uint32_t i = 0; i < STFundSpContral::kMaxCountPerWindow; ++i) {
        if (!entry.Check(kExact)) FAIL() << "refused at " << i;
    }
    EXPECT_FALSE(entry.Check(kExact));
    g_now = 1007;
    EXPECT_TRUE(entry.Check(kExact));
}

TEST(SpeedWindowTest, DefaultClockCheapReadingIsNeverAhead) {
    const SpeedClock& clock = DefaultSpeedClock();
    if (clock.cheap_ms != clock.now_ms) {
        EXPECT_GE(clock.lag_ms, 1u);
    }
    for (int i = 0; i < 1000; ++i) {
        const uint64_t cheap = clock.cheap_ms();
        const uint64_t now = clock.now_ms();
        ASSERT_LE(cheap, now);
    }
}

// Threads that all find the window run out at the same moment open it once between them: the
// new window lets exactly max requests through, not max per thread.
TEST(SpeedWindowTest, ConcurrentChecksAtTheWindowEdgeRestartItOnce) {
    constexpr int kThreads = 4;
    constexpr uint32_t kMax = 50;
    for (int round = 0; round < 200; ++round) {
        STFundSpContral entry;
        entry.interval = 1000;
        entry.max = kMax;
        g_now = 10'000;
        for (uint32_t i = 0; i < kMax; ++i) ASSERT_TRUE(entry.Check(kExact));
        ASSERT_FALSE(entry.Check(kExact));
        g_now = 11'000;  // the edge: every thread below sees the window over

        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        std::atomic<int> allowed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                ready.fetch_add(1);
                while (!go.load(std::memory_order_acquire)) {
                }
                for (uint32_t i = 0; i < kMax; ++i) {
                    if (entry.Check(kExact)) allowed.fetch_add(1, std::memory_order_relaxed);
                }
            });
        }
        while (ready.load() < kThreads) std::this_thread::yield();
        go.store(true, std::memory_order_release);
        for (auto& th : threads) th.join();
        ASSERT_EQ(allowed.load(), static_cast<int>(kMax)) << "round " << round;
    }
}

// The per-session entries in the process-wide table. They live for the process, so every
// case takes session ids of its own.
TEST(CSpeedControlTest, SessionWithoutSpeedControlIsRefused) {
    CSpeedControl sc(kExact);
    for (int type : {0, 1}) EXPECT_FALSE(sc.CheckSpeed(0x0b0001, type));
}

TEST(CSpeedControlTest, LimitsPerSessionAndType) {
    CSpeedControl sc(kExact);
    g_now = 50'000;
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0002, SpeedControlCfg{0, 1000, 2}));
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0002, SpeedControlCfg{1, 1000, 0}));  // queries unlimited
    ASSERT_TRUE(sc.SetSpeedControl(0x0c0002, SpeedControlCfg{0, 1000, 1}));  // another node, same fund index

    EXPECT_TRUE(sc.CheckSpeed(0x0b0002, 0));
    EXPECT_TRUE(sc.CheckSpeed(0x0b0002, 0));
    EXPECT_FALSE(sc.CheckSpeed(0x0b0002, 0));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(sc.CheckSpeed(0x0b0002, 1));
    EXPECT_TRUE(sc.CheckSpeed(0x0c0002, 0));
    EXPECT_FALSE(sc.CheckSpeed(0x0c0002, 0));
    g_now = 51'000;
    EXPECT_TRUE(sc.CheckSpeed(0x0b0002, 0));
}

TEST(CSpeedControlTest, ZeroMaxLeavesTheEarlierLimit) {
    CSpeedControl sc(kExact);
    g_now = 60'000;
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0003, SpeedControlCfg{0, 1000, 1}));
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0003, SpeedControlCfg{0, 50, 0}));
    EXPECT_TRUE(sc.CheckSpeed(0x0b0003, 0));
    g_now = 60'500;  // past the 50 ms the ignored record named
    EXPECT_FALSE(sc.CheckSpeed(0x0b0003, 0));
}

TEST(CSpeedControlTest, UnknownTypeAndSessionBeyondTheTablesAreRefused) {
    CSpeedControl sc(kExact);
    EXPECT_FALSE(sc.SetSpeedControl(0x0b0004, SpeedControlCfg{2, 1000, 5}));
    EXPECT_FALSE(sc.SetSpeedControl(0x1000004, SpeedControlCfg{0, 1000, 5}));
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0004, SpeedControlCfg{0, 1000, 5}));
    for (int type : {-1, 2, 255}) EXPECT_FALSE(sc.CheckSpeed(0x0b0004, type)) << type;
    EXPECT_FALSE(sc.CheckSpeed(0x1000004, 0));
    EXPECT_FALSE(sc.CheckSpeed(0x1000004 | 0x0b0004, 0));  // no wrap onto node 0x0b
}

TEST(CSpeedControlTest, ConcurrentFirstSetUpSharesOnePair) {
    CSpeedControl sc(kExact);
    g_now = 70'000;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            sc.SetSpeedControl(0x0b0005, SpeedControlCfg{static_cast<uint8_t>(t & 1), 1000, 3});
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    for (int type : {0, 1}) {
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(sc.CheckSpeed(0x0b0005, type));
        EXPECT_FALSE(sc.CheckSpeed(0x0b0005, type));
    }
}

TEST(CSpeedControlTest, DefaultClockAllowsWithinTheLimit) {
    CSpeedControl sc;
    ASSERT_TRUE(sc.SetSpeedControl(0x0b0006, SpeedControlCfg{0, 60000, 2}));
    EXPECT_TRUE(sc.CheckSpeed(0x0b0006, 0));
    EXPECT_TRUE(sc.CheckSpeed(0x0b0006, 0));
    EXPECT_FALSE(sc.CheckSpeed(0x0b0006, 0));
}

}  // namespace
