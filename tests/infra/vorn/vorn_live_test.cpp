// Live bus members on 127.0.0.1 with their threads and sockets, launched against the fake
// coordinator: every message a send reported as taken is delivered exactly once and in
// per-source order, over unicast and multicast, with datagrams lost by the send hook at random,
// in bursts and at the tail; a member restarted while its peer keeps sending delivers what it
// acknowledges; a send that reaches nobody fails, and the peer is used again once it answers;
// a failed launch and a stop leave nothing running, and a second launch is clean.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"
#include "support/BusLive.h"
#include "support/BusSendFaults.h"
#include "support/FakeCoordinator.h"

using namespace OXA::VORN;
using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

constexpr int16_t kToServer = 0x100;  // taken by group 10 (server group)
constexpr int16_t kToClient = 0x200;  // taken by group 20

// Group 10 is a server group (svr_type '0') with member 1; group 20 a client group with
// members 2 (and 3). Ports are free ones of this run.
CoordLayout TwoGroups(int32_t window, int clients = 1, bool multicast = false) {
    const std::vector<uint16_t> ports = FreeUdpPorts(static_cast<std::size_t>(clients) + 2);
    std::string text = "window " + std::to_string(window) + "\nlost 1\n";
    text += "group 10 1 0\n";
    if (multicast)
        text += "multicast 1\ngroup 20 1 1 ip=239.255.71.9 data=" + std::to_string(ports[1]) + "\n";
    else
        text += "group 20 1 1\n";
    text += "member 10 1 127.0.0.1 " + std::to_string(ports[0]) + "\n";
    for (int c = 0; c < clients; ++c)
        text += "member 20 " + std::to_string(2 + c) + " 127.0.0.1 " + std::to_string(ports[2 + c]) + "\n";
    text += "msg 10 0x100\nmsg 20 0x200\n";
    CoordLayout layout;
    std::string error;
    EXPECT_TRUE(ParseCoordLayout(text, layout, &error)) << error;
    return layout;
}

struct Bus {
    explicit Bus(const CoordLayout& layout) : coord(layout) { EXPECT_TRUE(coord.Start()); }
    FakeCoordinator coord;
};

// Sends count messages from a member to a peer (directed when it is a client; send_member -2
// sends to the member itself, -1 to the whole group), keeping at most max_outstanding
// unacknowledged; the numbers whose sends were taken.
std::vector<int64_t> SendPaced(LiveMember& from, int16_t group, int16_t member, int64_t first, int64_t count,
                               std::size_t size, int64_t max_outstanding, int16_t send_member = -2) {
    std::vector<int64_t> taken;
    const int16_t id = group == 10 ? kToServer : kToClient;
    const bool whole_group = send_member == -1;
    for (int64_t n = first; n < first + count; ++n) {
        WaitOutstanding(from.Sys(), group, member, max_outstanding, 5000ms);
        if (from.Send(id, CountedBody(static_cast<uint64_t>(n), size), group, whole_group ? -1 : member, !whole_group,
                      static_cast<int32_t>(n)))
            taken.push_back(n);
    }
    return taken;
}

// The numbers a member got from one source, in delivery order.
std::vector<int64_t> NumbersFrom(const LiveMember& m, int16_t group, int16_t member) {
    std::vector<int64_t> out;
    for (const LiveDelivery& d : m.Deliveries())
        if (d.src_group == group && d.src_member == member) out.push_back(CountOf(d.data));
    return out;
}

bool WaitNumbers(const LiveMember& m, int16_t group, int16_t member, std::size_t n, std::chrono::milliseconds t) {
    const auto deadline = std::chrono::steady_clock::now() + t;
    while (NumbersFrom(m, group, member).size() < n) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// ---------------------------------------------------------------------------------------

TEST(VornLive, TwoMembersExchangeBothWaysInOrder) {
    Bus bus(TwoGroups(1024));
    LiveMember a(10, 1), b(20, 2);
    ASSERT_TRUE(a.Launch(bus.coord));
    // a synchronisation pass that waits long for its replies: a peer that answers ends it at
    // once, so the whole launch takes less than one pass's wait, however slow the machine
    LiveOptions patient;
    patient.launch.groups.timing.sync_reply_wait_ns = 30000000000;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(b.Launch(bus.coord, patient));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(a.Sys().Launched());

    std::thread up([&] { EXPECT_EQ(2000u, SendPaced(b, 10, 1, 0, 2000, 64, 512).size()); });
    const std::vector<int64_t> down = SendPaced(a, 20, 2, 0, 2000, 1371, 512);
    up.join();
    EXPECT_EQ(2000u, down.size());
    ASSERT_TRUE(WaitNumbers(a, 20, 2, 2000, 10s));
    ASSERT_TRUE(WaitNumbers(b, 10, 1, 2000, 10s));
    std::vector<int64_t> all(2000);
    for (int i = 0; i < 2000; ++i) all[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(all, NumbersFrom(a, 20, 2));
    EXPECT_EQ(all, NumbersFrom(b, 10, 1));
    const LiveDelivery first = b.Deliveries().front();
    EXPECT_EQ(static_cast<uint32_t>(kToClient), first.msg_id);
    EXPECT_EQ(0u, first.tag);
    EXPECT_EQ(0u, first.playback);
    EXPECT_EQ(1371u, first.data.size());
}

struct LossCase {
    const char* name;
    double share;       // random loss of every datagram the sender sends
    int64_t run_first;  // first sending of these app sequences lost (-1 none)
    int64_t run_last;
    bool multicast;
};

class VornLiveLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(VornLiveLoss, EveryTakenMessageArrivesOnceInOrder) {
    const LossCase& c = GetParam();
    const int64_t count = 3000;
    Bus bus(TwoGroups(1024, 1, c.multicast));
    LiveMember a(10, 1), b(20, 2);
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(b.Launch(bus.coord));
    auto faults = std::make_shared<BusSendFaults>();  // what A sends
    auto back = std::make_shared<BusSendFaults>();    // what B sends
    for (auto& f : {faults, back}) {
        f->SetRecord(false);
        if (c.share > 0) f->DropShare(-1, c.share);
    }
    faults->SetSeed(7);
    back->SetSeed(11);
    a.Sys().SendPath().SetHook(faults);
    b.Sys().SendPath().SetHook(back);
    const int16_t to = c.multicast ? -1 : 2;  // a multicast goes to the whole group
    const int64_t split = c.run_first >= 0 ? c.run_first : count;
    std::vector<int64_t> taken = SendPaced(a, 20, 2, 0, split, 200, 256, to);
    if (c.run_first >= 0) {
        if (c.multicast) {
            // a multicast datagram carries no sequence of its own: lose the next ones as they go
            BusSendRule r;
            r.type = kPktMulticastApp;
            r.verdict.action = SendVerdict::kDrop;
            r.times = static_cast<int>(c.run_last - c.run_first + 1);
            faults->Add(r);
        } else {
            faults->DropRun(kPktApp, c.run_first, c.run_last);
        }
    }
    const std::vector<int64_t> rest = SendPaced(a, 20, 2, split, count - split, 200, 256, to);
    taken.insert(taken.end(), rest.begin(), rest.end());
    EXPECT_EQ(static_cast<std::size_t>(count), taken.size()) << "no send reached nobody";
    ASSERT_TRUE(WaitNumbers(b, 10, 1, taken.size(), 20s)) << NumbersFrom(b, 10, 1).size() << " of " << taken.size();
    EXPECT_EQ(taken, NumbersFrom(b, 10, 1));
    EXPECT_TRUE(WaitOutstanding(a.Sys(), 20, 2, 0, 5s)) << "everything acknowledged";
    if (c.multicast) {
        EXPECT_TRUE(a.Sys().Groups()->FindGroup(20)->MulticastMode());
    }
    a.Sys().SendPath().SetHook(nullptr);
    b.Sys().SendPath().SetHook(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, VornLiveLoss,
    ::testing::Values(LossCase{"none", 0, -1, -1, false}, LossCase{"random_0_1pct", 0.001, -1, -1, false},
                      LossCase{"random_1pct", 0.01, -1, -1, false}, LossCase{"burst_of_10", 0, 1500, 1509, false},
                      LossCase{"tail", 0, 2995, 2999, false}, LossCase{"multicast_none", 0, -1, -1, true},
                      LossCase{"multicast_random_1pct", 0.01, -1, -1, true},
                      LossCase{"multicast_burst_of_10", 0, 1500, 1509, true}),
    [](const ::testing::TestParamInfo<LossCase>& i) { return std::string(i.param.name); });

TEST(VornLive, ThreeMembersKeepPerSourceOrder) {
    Bus bus(TwoGroups(1024, 2));
    LiveMember a(10, 1), b(20, 2), c(20, 3);
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(b.Launch(bus.coord));
    ASSERT_TRUE(c.Launch(bus.coord));
    auto faults = std::make_shared<BusSendFaults>();
    faults->SetRecord(false);
    faults->DropShare(kPktApp, 0.01);
    b.Sys().SendPath().SetHook(faults);
    c.Sys().SendPath().SetHook(faults);
    a.Sys().SendPath().SetHook(faults);
    std::vector<int64_t> from_b, from_c, to_b, to_c;
    std::thread tb([&] { from_b = SendPaced(b, 10, 1, 0, 1500, 100, 256); });
    std::thread tc([&] { from_c = SendPaced(c, 10, 1, 100000, 1500, 100, 256); });
    std::thread ta([&] {
        to_b = SendPaced(a, 20, 2, 0, 1000, 100, 256);
        to_c = SendPaced(a, 20, 3, 0, 1000, 100, 256);
    });
    tb.join();
    tc.join();
    ta.join();
    ASSERT_TRUE(WaitNumbers(a, 20, 2, from_b.size(), 20s));
    ASSERT_TRUE(WaitNumbers(a, 20, 3, from_c.size(), 20s));
    ASSERT_TRUE(WaitNumbers(b, 10, 1, to_b.size(), 20s));
    ASSERT_TRUE(WaitNumbers(c, 10, 1, to_c.size(), 20s));
    EXPECT_EQ(from_b, NumbersFrom(a, 20, 2));
    EXPECT_EQ(from_c, NumbersFrom(a, 20, 3));
    EXPECT_EQ(to_b, NumbersFrom(b, 10, 1));
    EXPECT_EQ(to_c, NumbersFrom(c, 10, 1));
    EXPECT_EQ(0u, NumbersFrom(b, 20, 3).size()) << "a directed message reaches its member only";
    for (LiveMember* m : {&a, &b, &c}) m->Sys().SendPath().SetHook(nullptr);
}

// A member restarted while its peer keeps sending: every message it acknowledged (before the
// stop, or in its start-up phase and after) is delivered exactly once and in order.
TEST(VornLive, RestartedMemberDeliversWhatItAcknowledges) {
    Bus bus(TwoGroups(1024));
    LiveMember a(10, 1);
    std::unique_ptr<LiveMember> b(new LiveMember(20, 2));
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(b->Launch(bus.coord));

    // the sender keeps going the whole time; taken[i] is the number sent with sequence i
    std::atomic<bool> stop{false};
    std::vector<int64_t> taken;
    std::mutex taken_mutex;
    std::thread sender([&] {
        for (int64_t n = 0; !stop.load(); ++n) {
            if (a.Send(kToClient, CountedBody(static_cast<uint64_t>(n), 48), 20, 2, true)) {
                std::lock_guard<std::mutex> lock(taken_mutex);
                taken.push_back(n);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    ASSERT_TRUE(b->WaitCount(500, 10s));
    b->Stop();  // what it received is delivered by the stop
    std::this_thread::sleep_for(50ms);  // its last ACKs arrive
    VornPeerWindow* to_b = PeerWindow(a.Sys(), 20, 2);
    ASSERT_NE(nullptr, to_b);
    const int64_t acked_by_old = to_b->send->Acked();
    const std::vector<LiveDelivery> old_got = b->Deliveries();
    std::this_thread::sleep_for(300ms);  // the sender goes on meanwhile

    std::unique_ptr<LiveMember> b2(new LiveMember(20, 2));
    ASSERT_TRUE(b2->Launch(bus.coord));
    ASSERT_TRUE(b2->WaitCount(500, 10s));
    stop.store(true);
    sender.join();
    ASSERT_TRUE(WaitOutstanding(a.Sys(), 20, 2, 0, 10s));
    std::this_thread::sleep_for(100ms);
    b2->Stop();

    std::vector<int64_t> seq_to_number;
    {
        std::lock_guard<std::mutex> lock(taken_mutex);
        seq_to_number = taken;
    }
    std::vector<int64_t> old_numbers, new_numbers;
    for (const LiveDelivery& d : old_got) old_numbers.push_back(CountOf(d.data));
    for (const LiveDelivery& d : b2->Deliveries()) new_numbers.push_back(CountOf(d.data));
    ASSERT_GE(acked_by_old, 0);
    // everything the old member acknowledged, it delivered, in order and once
    ASSERT_LT(static_cast<std::size_t>(acked_by_old), seq_to_number.size());
    std::vector<int64_t> expected_old(seq_to_number.begin(), seq_to_number.begin() + acked_by_old + 1);
    ASSERT_GE(old_numbers.size(), expected_old.size());
    EXPECT_TRUE(std::equal(expected_old.begin(), expected_old.end(), old_numbers.begin()));
    // the new member takes up where the sender stood when it asked, and from there on gets
    // every message, in order and once
    ASSERT_FALSE(new_numbers.empty());
    auto at = std::find(seq_to_number.begin(), seq_to_number.end(), new_numbers.front());
    ASSERT_NE(seq_to_number.end(), at);
    EXPECT_EQ(std::vector<int64_t>(at, seq_to_number.end()), new_numbers);
    EXPECT_GT(new_numbers.front(), old_numbers.back()) << "nothing delivered twice across the restart";
}

// Every peer abandoned: the send fails; once the peer answers the timed re-probe, sends reach
// it again, and what the sends took arrives once and in order.
TEST(VornLive, SendToAnAbandonedPeerFailsUntilItAnswers) {
    Bus bus(TwoGroups(64));
    LiveMember a(10, 1), b(20, 2);
    ASSERT_TRUE(a.Launch(bus.coord));
    // B's synchronisation waits for A's answers as long as a loaded machine needs: a request
    // sent again after a short wait, answered late, would take back the peer abandoned below
    LiveOptions patient;
    patient.launch.groups.timing.sync_reply_wait_ns = 30000000000;
    ASSERT_TRUE(b.Launch(bus.coord, patient));
    auto mute = std::make_shared<BusSendFaults>();
    mute->SetRecord(false);
    BusSendRule all;
    all.verdict.action = SendVerdict::kDrop;
    all.times = -1;
    mute->Add(all);
    b.Sys().SendPath().SetHook(mute);  // B says nothing: no ACK, no NAK

    std::vector<int64_t> taken;
    int64_t n = 0;
    uint8_t r = 1;
    for (; n < 200 && r; ++n) {
        r = a.Send(kToClient, CountedBody(static_cast<uint64_t>(n)), 20, 2, true);
        if (r) taken.push_back(n);
    }
    EXPECT_EQ(0, r) << "the full window abandoned the only peer";
    EXPECT_EQ(63u, taken.size()) << "64 slots hold 63 messages";
    EXPECT_EQ(kSlotAbandoned, PeerWindow(a.Sys(), 20, 2)->slot_state.load());
    EXPECT_EQ(0, a.Send(kToClient, CountedBody(1000), 20, 2, true)) << "still abandoned";
    // a server member reports the abandon to the coordinator
    ASSERT_TRUE(bus.coord.WaitFor(kCoordSlotState, 1, 3000ms));

    b.Sys().SendPath().SetHook(nullptr);  // B answers again: the re-probe RACK brings it back
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline && PeerWindow(a.Sys(), 20, 2)->send->Acked() < 62)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(62, PeerWindow(a.Sys(), 20, 2)->send->Acked());
    EXPECT_EQ(1, a.Send(kToClient, CountedBody(static_cast<uint64_t>(n)), 20, 2, true));
    taken.push_back(n);
    ASSERT_TRUE(WaitNumbers(b, 10, 1, taken.size(), 5s));
    EXPECT_EQ(taken, NumbersFrom(b, 10, 1));
    // and reports it back: 'Q' with state 0, then 1
    ASSERT_TRUE(bus.coord.WaitFor(kCoordSlotState, 2, 3000ms));
    std::vector<int> states;
    for (const CoordRequest& q : bus.coord.Requests())
        if (q.type == kCoordSlotState && q.datagram.size() == kSlotStateSize) states.push_back(q.datagram[27]);
    EXPECT_EQ((std::vector<int>{0, 1}), states);
}

TEST(VornLive, StatisticsGoToTheCoordinatorAtOnce) {
    Bus bus(TwoGroups(64));
    LiveMember a(10, 1);
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(bus.coord.WaitFor(kCoordStatistics, 1, 3000ms));
    for (const CoordRequest& q : bus.coord.Requests()) {
        if (q.type != kCoordStatistics) continue;
        ASSERT_EQ(kStatisticsSize, q.datagram.size());
        EXPECT_EQ(0, std::memcmp(q.datagram.data() + 23, "4F5R", 4));
    }
}

// Waits (bounded) until n threads named vorn_* run: a new thread names itself as it starts.
bool BusThreadsAre(std::size_t n) {
    for (int i = 0; i < 2000; ++i) {
        if (ThreadNames("vorn_").size() == n) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST(VornLive, StopEndsEveryThreadAndASecondLaunchIsClean) {
    Bus bus(TwoGroups(256));
    const std::size_t before = ThreadNames("vorn_").size();
    LiveMember a(10, 1), b(20, 2);
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(b.Launch(bus.coord));
    EXPECT_TRUE(BusThreadsAre(before + 6)) << "receiver, handler and deliver per member";
    a.Stop();
    EXPECT_FALSE(a.Sys().Launched());
    EXPECT_EQ(0, a.Send(kToClient, CountedBody(1), 20, 2, true)) << "a stopped member takes nothing";
    EXPECT_EQ(before + 3, ThreadNames("vorn_").size());
    ASSERT_TRUE(a.Launch(bus.coord));
    EXPECT_TRUE(BusThreadsAre(before + 6));
    const auto taken = SendPaced(a, 20, 2, 0, 100, 32, 64);
    EXPECT_EQ(100u, taken.size());
    ASSERT_TRUE(WaitNumbers(b, 10, 1, 100, 5s));
    b.Stop();
    a.Stop();
    EXPECT_EQ(before, ThreadNames("vorn_").size());
}

bool PortIsFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// A launch that fails after its threads started (a peer whose tables do not know this
// member) stops and joins them and closes its sockets; the next launch is clean.
TEST(VornLive, FailedLaunchLeavesNothingRunning) {
    CoordLayout mine = TwoGroups(256);
    CoordLayout theirs = mine;
    theirs.members[0].member_id = 11;  // B's coordinator names another server member
    Bus bus(mine);
    FakeCoordinator other(theirs);
    ASSERT_TRUE(other.Start());
    const std::size_t before = ThreadNames("vorn_").size();
    LiveOptions quick;
    LiveMember b(20, 2);
    ASSERT_TRUE(b.Launch(other, quick));
    LiveMember a(10, 1);
    EXPECT_FALSE(a.Launch(bus.coord)) << "B answers -999: A is unknown to it";
    EXPECT_FALSE(a.Sys().Launched());
    EXPECT_TRUE(BusThreadsAre(before + 3)) << "only B's threads";
    EXPECT_TRUE(PortIsFree(mine.members[0].port)) << "A's receive socket is closed";
    b.Stop();
    LiveMember b2(20, 2);
    ASSERT_TRUE(b2.Launch(bus.coord, quick));
    ASSERT_TRUE(a.Launch(bus.coord));
    EXPECT_EQ(1, a.Send(kToClient, CountedBody(5), 20, 2, true));
    ASSERT_TRUE(b2.WaitCount(1, 5s));
}

TEST(VornLive, UnreachableCoordinatorFailsTheLaunchInBoundedTime) {
    CoordLayout layout = TwoGroups(64);
    FakeCoordinator dead(layout);
    ASSERT_TRUE(dead.Start());
    dead.AddFault(CoordRule{kCoordDigestReq, -1, CoordFault::kDrop, -1});
    LiveMember a(10, 1);
    LiveOptions o;
    o.launch.hqtrs.reply_wait_ms = 100;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(a.Launch(dead, o));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(1, a.Sys().Started());
    EXPECT_EQ(0, a.Sys().SendMsg(0, kToClient, "x", 1, 20, 2, true, 0xFFFF));
}

// A hot-backup pair: the devices exchange heartbeats (the master also to the coordinator);
// when the standby stops, the master asks the coordinator to switch to single-device mode
// after the lost-over-time. The switch may take the coordinator's time: the handler goes on
// cycling meanwhile, and a failed switch is tried again later. Once switched, the partner is
// forgotten and abandoned.
TEST(VornLive, PairHeartbeatsAndSwitchWhenThePartnerIsLost) {
    const std::vector<uint16_t> ports = FreeUdpPorts(3);
    CoordLayout layout;
    std::string error;
    ASSERT_TRUE(ParseCoordLayout("window 64\nlost 1\ngroup 10 0 0\ngroup 20 1 1\nmember 10 1 127.0.0.1 " +
                                     std::to_string(ports[0]) + "\nmember 10 2 127.0.0.1 " + std::to_string(ports[1]) +
                                     "\nmember 20 3 127.0.0.1 " + std::to_string(ports[2]) + "\nmsg 10 0x100\n",
                                 layout, &error))
        << error;
    Bus bus(layout);
    LiveOptions o;
    o.launch.hqtrs.reply_wait_ms = 300;  // a dropped switch request costs 0.9 s
    o.launch.hqtrs.failure_retry_ms = 100;
    o.launch.handler.heartbeat_interval_ns = 200000000;
    o.launch.handler.switch_retry_ns = 300000000;
    LiveMember master(10, 1), standby(10, 2);
    ASSERT_TRUE(master.Launch(bus.coord, o));
    ASSERT_TRUE(standby.Launch(bus.coord, o));
    EXPECT_EQ(1, master.Sys().DeviceIdentity());
    EXPECT_EQ(2, standby.Sys().DeviceIdentity());
    EXPECT_EQ(2, master.Sys().Handler()->PartnerId());
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline &&
           (master.Sys().Handler()->HeartbeatsReceived() == 0 || standby.Sys().Handler()->HeartbeatsReceived() == 0))
        std::this_thread::sleep_for(10ms);
    EXPECT_GT(master.Sys().Handler()->HeartbeatsReceived(), 0u);
    EXPECT_GT(standby.Sys().Handler()->HeartbeatsReceived(), 0u);
    EXPECT_TRUE(bus.coord.WaitFor(kCoordHeartbeat, 1, 3000ms)) << "the master's heartbeat goes to the coordinator";

    // the coordinator does not answer the first switch requests (each one's three attempts)
    bus.coord.AddFault(CoordRule{kCoordSwitchReq, -1, CoordFault::kDrop, 6});
    standby.Stop();
    ASSERT_TRUE(bus.coord.WaitFor(kCoordSwitchReq, 3, 5000ms)) << "the lost partner is noticed";
    const uint64_t cycles = master.Sys().Handler()->Cycles();
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(master.Sys().Handler()->Cycles(), cycles + 10) << "the handler cycles while the switch waits";
    const auto switched = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < switched && master.Sys().Hqtrs().Mode() != '2')
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ('2', master.Sys().Hqtrs().Mode());
    EXPECT_GE(bus.coord.Count(kCoordSwitchReq), 7u) << "tried again after the failed switch";
    while (std::chrono::steady_clock::now() < switched && master.Sys().Handler()->PartnerId() != -1)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(-1, master.Sys().Handler()->PartnerId());
    EXPECT_EQ(kSlotAbandoned, PeerWindow(master.Sys(), 10, 2)->slot_state.load());
    EXPECT_EQ(1, master.Sys().DeviceIdentity());
}

// A receiver whose pool cannot give a buffer drops what arrives meanwhile and goes on; the
// sender's retransmissions make up for it.
TEST(VornLive, ReceiverSurvivesADryPool) {
    Bus bus(TwoGroups(256));
    LiveMember a(10, 1), b(20, 2);
    std::atomic<bool> hold{true};
    std::atomic<int> held{0};
    b.OnDeliver([&](const LiveDelivery&) {
        // the first message holds the deliver thread, so buffers pile up in the list, until
        // the test saw the pool run dry (or a bound no loaded machine reaches)
        if (held.fetch_add(1) != 0) return;
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (hold.load() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    });
    ASSERT_TRUE(a.Launch(bus.coord));
    ASSERT_TRUE(b.Launch(bus.coord));
    CBufferPool& pool = b.Sys().Groups()->AppPool();
    pool.SetGrowLimit(pool.Total());
    std::vector<int64_t> taken;
    std::thread sender([&] { taken = SendPaced(a, 20, 2, 0, 1000, 64, 200); });
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (b.Sys().Receiver()->DroppedNoBuffer() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_GT(b.Sys().Receiver()->DroppedNoBuffer(), 0u) << "the pool ran dry";
    EXPECT_TRUE(b.Sys().Receiver()->Running());
    hold.store(false);
    sender.join();
    ASSERT_TRUE(WaitNumbers(b, 10, 1, taken.size(), 20s));
    EXPECT_EQ(taken, NumbersFrom(b, 10, 1));
}

}  // namespace
