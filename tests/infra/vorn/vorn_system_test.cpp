#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"

using namespace OXA::VORN;

TEST(VornClock, AdvancesWithCarriesAndWrapsAtMidnight) {
    struct Case {
        int from;
        int64_t seconds;
        int to;
    } cases[] = {
        {120000, 1, 120001}, {120059, 1, 120100}, {125959, 1, 130000}, {235959, 1, 0},
        {235958, 5, 3},      {0, 86400, 0},       {101010, 0, 101010}, {101010, -3, 101010},
        {93000, 3600 * 2 + 61, 113101},
    };
    for (const Case& c : cases) EXPECT_EQ(c.to, AdvanceHHMMSS(c.from, c.seconds)) << c.from << " + " << c.seconds;
}

TEST(VornSystem, MembersKeepTheirOwnState) {
    CVornSystem a, b;
    a.SetOwnIds(10, 1);
    b.SetOwnIds(20, 5);
    a.SetPartitions({0, 3});
    EXPECT_EQ(1, a.Identity().member_id);
    EXPECT_EQ(5, b.Identity().member_id);
    EXPECT_EQ(3, a.PartitionOf(1));
    EXPECT_EQ(-1, b.PartitionOf(1));
    EXPECT_EQ(-1, a.PartitionOf(-1));
    EXPECT_NE(&a.Hqtrs(), &b.Hqtrs());
    EXPECT_EQ(HostOrderChar(), a.OwnOrder());

    a.SetCoordinator("127.000.000.001xyz", 40000);  // at most 15 characters kept
    EXPECT_STREQ("127.000.000.001", a.CoordinatorIp());
    EXPECT_EQ(40000, a.CoordinatorPort());
    b.SetCoordinator(nullptr, 1);
    EXPECT_STREQ("", b.CoordinatorIp());
}

TEST(VornSystem, IdentityEventOnlyOnChange) {
    CVornSystem s;
    EXPECT_EQ(0, s.DeviceIdentity());
    s.SetDeviceIdentity(2);
    EXPECT_EQ(1, s.IdentityEvent().TimedWait(0));
    s.SetDeviceIdentity(2);
    EXPECT_EQ(0, s.IdentityEvent().TimedWait(0));
    s.SetDeviceIdentity(1);
    EXPECT_EQ(1, s.IdentityEvent().TimedWait(0));
    EXPECT_EQ(1, s.DeviceIdentity());
}

TEST(VornSystem, StopEndsSleepsAtOnce) {
    CVornSystem s;
    EXPECT_TRUE(s.SleepUnlessStopped(1));
    std::atomic<bool> result{true};
    const auto t0 = std::chrono::steady_clock::now();
    std::thread sleeper([&] { result = s.SleepUnlessStopped(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.RequestStop();
    sleeper.join();
    EXPECT_FALSE(result.load());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_TRUE(s.Stopping());
    EXPECT_FALSE(s.SleepUnlessStopped(1000));
}

TEST(VornSystem, ClockStartsAtLocalTime) {
    CVornSystem s;
    s.StartClock();
    const int c = s.ClockHHMMSS();
    EXPECT_GE(c, 0);
    EXPECT_LE(c, 235959);
    EXPECT_LT(c % 100, 60);
    s.UpdateClock();
    EXPECT_TRUE(s.ClockHHMMSS() >= c || s.ClockHHMMSS() < 100);  // forward, or past midnight
}
