// The bus's entry points and the launch arguments: the date taken only as 8 digits, the jam
// wait bounded, thread keys matched exactly, a launch without a coordinator address failing
// with sends refused, the size and null rules of a send, a receiver whose pinning fails still
// receiving, the own address once launched, a stop and a second launch through the entry
// points, the HHMMSS clock kept by the handler, and the byte swaps.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/VornApi.h"
#include "infra/vorn/VornSystem.h"
#include "support/BusLive.h"
#include "support/FakeCoordinator.h"

using namespace OXA::VORN;
using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

CoordLayout Pair() {
    const std::vector<uint16_t> ports = FreeUdpPorts(2);
    CoordLayout l;
    std::string error;
    EXPECT_TRUE(ParseCoordLayout("window 64\ngroup 10 1 0\ngroup 20 1 1\nmember 10 1 127.0.0.1 " +
                                     std::to_string(ports[0]) + "\nmember 20 2 127.0.0.1 " + std::to_string(ports[1]) +
                                     "\nmsg 20 0x200\n",
                                 l, &error))
        << error;
    return l;
}

TEST(VornLaunchArgs, DateIsTakenOnlyAsEightDigits) {
    struct Case {
        const char* text;
        int want;
    };
    const Case cases[] = {{"20230217", 20230217}, {"2023021", 0}, {"2023021a", 0}, {"202302170", 0},
                          {"", 0},                {nullptr, 0},   {" 2023021", 0}};
    for (const Case& c : cases) EXPECT_EQ(c.want, ParseLaunchDate(c.text)) << (c.text ? c.text : "null");
}

TEST(VornLaunchArgs, JamWaitIsBounded) {
    CVornSystem sys;
    for (const auto& c : {std::make_pair(-5, 0), std::make_pair(0, 0), std::make_pair(700, 700),
                          std::make_pair(1000, 1000), std::make_pair(5000, 1000)}) {
        sys.SetJamWaitUs(c.first);
        EXPECT_EQ(c.second, sys.JamWaitUs()) << c.first;
    }
}

TEST(VornLaunchArgs, ThreadKeysMatchExactly) {
    CVornSystem sys;
    struct Case {
        const char* key;
        VornThread kind;
    };
    const Case keys[] = {{"VORN_THREAD_RECEIVER", VornThread::kReceiver}, {"VORN_THREAD_HANDLER", VornThread::kHandler},
                         {"VORN_THREAD_DELIVER", VornThread::kDeliver},   {"VORN_THREAD_CONTROL", VornThread::kControl},
                         {"VORN_THREAD_STORAGE", VornThread::kStorage},   {"VORN_THREAD_INNERMSG", VornThread::kInnerMsg}};
    int core = 3;
    for (const Case& c : keys) {
        EXPECT_EQ(-1, sys.ThreadCore(c.kind));
        EXPECT_TRUE(sys.SetThreadCpu(c.key, core));
        EXPECT_EQ(core, sys.ThreadCore(c.kind)) << c.key;
        ++core;
    }
    const char* const others[] = {"VORN_THREAD_RECEIVER ", "vorn_thread_receiver", "VORN_THREAD_SENDER", "", nullptr};
    for (const char* other : others)
        EXPECT_FALSE(sys.SetThreadCpu(other, 1)) << (other ? other : "null");
    EXPECT_EQ(3, sys.ThreadCore(VornThread::kReceiver));
    EXPECT_EQ(-1, sys.ThreadCore(VornThread::kSender));
    sys.SetThreadCore(VornThread::kReceiver, -7);
    EXPECT_EQ(-1, sys.ThreadCore(VornThread::kReceiver));
}

TEST(VornEntryPoints, WithoutACoordinatorAddressTheLaunchFailsAndSendsAreRefused) {
    UseTestBusFolder();
    EXPECT_EQ(0, VornInit(20, 2, nullptr, 40000, 1, BusTestDir().c_str(), nullptr, nullptr, 1000, nullptr, 0, nullptr));
    EXPECT_EQ(1, VornProcessSystem().Started());
    EXPECT_EQ(0, VornSendMsg(0, 0x200, "x", 1, 20, 2, true, 0xFFFF));
    char ip[16];
    std::memset(ip, 'z', sizeof ip);
    EXPECT_EQ(0, VornGetLocalIp(ip, sizeof ip));
    EXPECT_EQ('\0', ip[0]);
    EXPECT_EQ(0, VornGetLocalPort());
    EXPECT_STREQ("1.1.2023.0217.5 NP.5.8.RELEASE", VornGetVersion());
}

TEST(VornEntryPoints, LaunchStopAndLaunchAgainThroughTheEntryPoints) {
    UseTestBusFolder();
    CoordLayout layout = Pair();
    FakeCoordinator coord(layout);
    ASSERT_TRUE(coord.Start());
    LiveMember peer(10, 1);
    ASSERT_TRUE(peer.Launch(coord));
    static std::atomic<int> got{0};
    got = 0;
    auto deliver = [](uint32_t, uint32_t, const void*, uint32_t, uint64_t, const VornMsgSource*) { ++got; };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(1, VornInit(20, 2, "127.0.0.1", coord.Port(), 1, BusTestDir().c_str(), deliver, "2023021x", -5,
                              nullptr, 0, nullptr));
        EXPECT_EQ(layout.date, VornGetDate()) << "no usable date: the coordinator's";
        EXPECT_EQ(0, VornProcessSystem().JamWaitUs());
        char ip[16] = {0};
        EXPECT_EQ(1, VornGetLocalIp(ip, sizeof ip));
        EXPECT_STREQ("127.0.0.1", ip);
        char small[4];
        EXPECT_EQ(1, VornGetLocalIp(small, sizeof small));
        EXPECT_STREQ("127", small) << "cut to the buffer";
        EXPECT_EQ(layout.members[1].port, VornGetLocalPort());
        EXPECT_TRUE(VornIsMaster());
        const int before = got.load();
        ASSERT_EQ(1, peer.Send(0x200, CountedBody(1), 20, 2, true));
        for (int i = 0; i < 5000 && got.load() == before; ++i) std::this_thread::sleep_for(1ms);
        EXPECT_EQ(before + 1, got.load());
        VornStop();
        EXPECT_EQ(0, VornSendMsg(0, 0x100, "x", 1, 10, 1, true, 0xFFFF));
        EXPECT_EQ(0, VornGetLocalPort());
    }
}

TEST(VornSend, SizeAndNullRules) {
    CoordLayout layout = Pair();
    FakeCoordinator coord(layout);
    ASSERT_TRUE(coord.Start());
    LiveMember a(10, 1), b(20, 2);
    ASSERT_TRUE(a.Launch(coord));
    ASSERT_TRUE(b.Launch(coord));
    CVornSystem& s = a.Sys();
    const std::vector<uint8_t> biggest(1371, 0x42), over(1372, 0x42);
    EXPECT_EQ(1, s.SendMsg(0, 0x200, biggest.data(), 1371, 20, 2, true, 0xFFFF));
    EXPECT_EQ(0, s.SendMsg(0, 0x200, over.data(), 1372, 20, 2, true, 0xFFFF));
    EXPECT_EQ(1, s.SendMsg(0, 0x200, nullptr, 0, 20, 2, true, 0xFFFF)) << "an empty body";
    EXPECT_EQ(0, s.SendMsg(0, 0x200, nullptr, 5, 20, 2, true, 0xFFFF));
    EXPECT_EQ(0, s.SendMsg(0, 0x201, "x", 1, 20, 2, true, 0xFFFF)) << "an id the bus does not route";
    EXPECT_EQ(0, s.SendMsg(0, 0x200, "x", 1, 20, -1, true, 0xFFFF)) << "a client group needs its member named";
    ASSERT_TRUE(b.WaitCount(2, 5000ms));
    const auto got = b.Deliveries();
    EXPECT_EQ(biggest, got[0].data);
    EXPECT_TRUE(got[1].data.empty());
}

// A receiver whose core cannot be pinned runs unpinned, waiting in poll, and receives.
TEST(VornThreads, AReceiverThatCannotBePinnedStillReceives) {
    CoordLayout layout = Pair();
    FakeCoordinator coord(layout);
    ASSERT_TRUE(coord.Start());
    LiveMember a(10, 1), b(20, 2);
    LiveOptions pinned;
    pinned.cores = {{VornThread::kReceiver, 1000}, {VornThread::kDeliver, 1001}};
    ASSERT_TRUE(a.Launch(coord));
    ASSERT_TRUE(b.Launch(coord, pinned));
    EXPECT_EQ(1, a.Send(0x200, CountedBody(7), 20, 2, true));
    ASSERT_TRUE(b.WaitCount(1, 5000ms));
    EXPECT_EQ(7, CountOf(b.Deliveries()[0].data));
}

TEST(VornThreads, HandlerKeepsTheClockOfDay) {
    CoordLayout layout = Pair();
    FakeCoordinator coord(layout);
    ASSERT_TRUE(coord.Start());
    LiveMember a(10, 1);
    ASSERT_TRUE(a.Launch(coord));
    auto seconds = [](int hhmmss) { return hhmmss / 10000 * 3600 + hhmmss / 100 % 100 * 60 + hhmmss % 100; };
    std::this_thread::sleep_for(1100ms);
    const int diff = seconds(OXA::API::GetLocalTimeHHMMSS()) - seconds(a.Sys().ClockHHMMSS());
    EXPECT_TRUE(diff >= -1 && diff <= 1) << diff << " (at midnight this may wrap)";
}

TEST(VornSwap, SixteenThirtyTwoSixtyFourAndDouble) {
    EXPECT_EQ(0x12343412, VornSwap16(0x12341234));
    EXPECT_EQ(0x3412, VornSwap16(0x1234));
    EXPECT_EQ(0x78563412u, VornSwap32(0x12345678u));
    EXPECT_EQ(0x0807060504030201ull, VornSwap64(0x0102030405060708ull));
    EXPECT_EQ(1.5, VornSwapDouble(VornSwapDouble(1.5)));
    const double d = VornSwapDouble(1.0);
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    EXPECT_EQ(0x000000000000F03Full, bits);
}

}  // namespace
