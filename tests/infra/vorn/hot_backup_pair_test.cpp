// A hot-backup pair on 127.0.0.1: a master and a standby device (group 10) and two client
// members (group 20) that send to both. The devices deliver one sequence, in the order the
// standby's notices give; the standby only after the master acknowledged; lost, late and early
// notices are made good; the survivor of a stopped or killed master finishes its notices, calls
// the state callback once and serves by rotation, delivering every message once in per-source
// order; a device restarted under traffic takes its clients' traffic in sequence again; a
// standby that starts after traffic, within or after the lost-over-time, leaves no device
// holding what it acknowledged.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/DeliverNotices.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"
#include "support/BusLive.h"
#include "support/BusSendFaults.h"
#include "support/FakeCoordinator.h"

extern char** environ;

using namespace OXA::VORN;
using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

constexpr int16_t kToPair = 0x100;
constexpr const char* kChildEnv = "OXA_PAIR_CHILD_COORD";

// Lost-over-times: one that no stall of a loaded machine reaches, for tests in which the pair
// lives to the end, and a short one for tests that wait for a partner to be lost (its bound
// still far above the heartbeat interval of 0.2 s).
constexpr int kSteadyLostS = 30;
constexpr int kTakeoverLostS = 3;

// Group 10: the pair (hot-backup, server group), members 1 and 2. Group 20: clients 3 and 4.
// Source positions on a device: 0 the pair's own group (inferior), 1 client 3, 2 client 4.
CoordLayout PairLayout(int lost_s) {
    const std::vector<uint16_t> ports = FreeUdpPorts(4);
    std::string text = "window 256\nlost " + std::to_string(lost_s) + "\ngroup 10 0 0\ngroup 20 1 1\n";
    for (int i = 0; i < 4; ++i)
        text += "member " + std::string(i < 2 ? "10 " : "20 ") + std::to_string(i + 1) + " 127.0.0.1 " +
                std::to_string(ports[static_cast<std::size_t>(i)]) + "\n";
    text += "msg 10 0x100\nmsg 20 0x200\n";
    CoordLayout layout;
    std::string error;
    EXPECT_TRUE(ParseCoordLayout(text, layout, &error)) << error;
    return layout;
}

LiveOptions PairOptions() {
    LiveOptions o;
    o.launch.hqtrs.reply_wait_ms = 1000;  // a loaded run answers late; no request is dropped here
    o.launch.hqtrs.failure_retry_ms = 100;
    o.launch.handler.heartbeat_interval_ns = 200000000;
    o.launch.handler.switch_retry_ns = 300000000;
    return o;
}

// For a member launched while every peer it synchronises with runs: the answers end each pass
// of its start-up synchronisation at once, so a pass may wait as long as a loaded machine needs
// (a pass given up before a late answer leaves the windows apart).
LiveOptions PeersUp(LiveOptions o = PairOptions()) {
    o.launch.groups.timing.sync_reply_wait_ns = 30000000000;
    return o;
}

using Seq = std::vector<std::pair<int16_t, int64_t>>;  // (source member, number)

Seq SequenceOf(const LiveMember& m) {
    Seq out;
    for (const LiveDelivery& d : m.Deliveries()) out.emplace_back(d.src_member, CountOf(d.data));
    return out;
}

std::vector<int64_t> NumbersFrom(const Seq& s, int16_t member) {
    std::vector<int64_t> out;
    for (const auto& e : s)
        if (e.first == member) out.push_back(e.second);
    return out;
}

std::vector<int64_t> Range(int64_t first, int64_t count) {
    std::vector<int64_t> v;
    for (int64_t i = first; i < first + count; ++i) v.push_back(i);
    return v;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Sends numbers first.. from a client to the pair, keeping at most 32 unacknowledged towards
// each device that runs (the master while master_up says so, the standby while standby_up
// does), so a loaded run never fills a live device's window; pause between sends. The
// numbers whose sends were taken.
std::vector<int64_t> SendToPair(LiveMember& client, int64_t first, int64_t count, std::chrono::microseconds pause,
                                const std::atomic<bool>* master_up = nullptr,
                                const std::atomic<bool>* standby_up = nullptr) {
    std::vector<int64_t> taken;
    for (int64_t n = first; n < first + count; ++n) {
        if (!master_up || master_up->load()) WaitOutstanding(client.Sys(), 10, 1, 32, 3000ms);
        if (!standby_up || standby_up->load()) WaitOutstanding(client.Sys(), 10, 2, 32, 3000ms);
        if (client.Send(kToPair, CountedBody(static_cast<uint64_t>(n)), 10, -1, true, static_cast<int32_t>(n)))
            taken.push_back(n);
        if (pause.count()) std::this_thread::sleep_for(pause);
    }
    return taken;
}

// The last lines a member logged (its logger writes them a moment later).
std::string LogTail(const LiveMember& m, std::size_t lines = 12) {
    std::this_thread::sleep_for(100ms);
    const std::string dir = BusTestDir() + "/g" + std::to_string(m.GroupId()) + "m" + std::to_string(m.MemberId());
    std::vector<std::string> all;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec)) {
        if (!e.is_regular_file()) continue;
        std::ifstream f(e.path());
        for (std::string l; std::getline(f, l);) all.push_back(l);
    }
    std::string out;
    for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) out += all[i] + "\n";
    return out;
}

struct Pair {
    explicit Pair(int lost_s = kSteadyLostS) : coord(PairLayout(lost_s)) { EXPECT_TRUE(coord.Start()); }
    // One member; a failure says why in the member's last log lines.
    ::testing::AssertionResult Launch(LiveMember& m, const LiveOptions& o = PairOptions()) {
        if (m.Launch(coord, o)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "member " << m.MemberId() << " failed:\n" << LogTail(m);
    }
    // Master first, so the coordinator grants it the role; then the standby and the clients,
    // whose peers then all run.
    ::testing::AssertionResult LaunchAll(const LiveOptions& o = PairOptions()) {
        for (LiveMember* m : {&master, &standby, &c3, &c4}) {
            ::testing::AssertionResult r = Launch(*m, m->GroupId() == 20 ? PeersUp(o) : o);
            if (!r) return r;
        }
        return ::testing::AssertionSuccess();
    }
    FakeCoordinator coord;
    LiveMember master{10, 1}, standby{10, 2}, c3{20, 3}, c4{20, 4};
};

std::shared_ptr<BusSendFaults> Hook(LiveMember& m) {
    auto f = std::make_shared<BusSendFaults>();
    m.Sys().SendPath().SetHook(f);
    return f;
}

// Where a member receives on 127.0.0.1.
sockaddr_in AddressOf(LiveMember& m) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m.Sys().Identity().port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// A header as device member_id of the pair (member-table index member_id - 1) sends it to
// its own group.
VornHeader FromDevice(int16_t member_id, uint8_t type, int32_t seq = 0) {
    VornHeader h;
    h.sequence = seq;
    h.type = type;
    h.src_group_id = 10;
    h.src_group_index = 0;
    h.src_member_id = member_id;
    h.src_member_index = static_cast<int16_t>(member_id - 1);
    h.dst_group_id = 10;
    h.dst_member_id = -1;
    return h;
}

// Ends a traffic thread when a test leaves early (a failed assertion) as well as at its end.
struct JoinOnExit {
    std::thread& t;
    std::atomic<bool>& stop;
    ~JoinOnExit() {
        stop.store(true);
        if (t.joinable()) t.join();
    }
};

// ---------------------------------------------------------------------------------------

TEST(HotBackupPair, BothDevicesDeliverOneSequence) {
    Pair p;
    ASSERT_TRUE(p.LaunchAll());
    ASSERT_EQ(1, p.master.Sys().DeviceIdentity());
    ASSERT_EQ(2, p.standby.Sys().DeviceIdentity());
    ASSERT_NE(nullptr, p.master.Sys().Deliver()->Notices());
    EXPECT_EQ(3u, p.master.Sys().Deliver()->PositionCount());
    EXPECT_EQ(0, p.master.Sys().Deliver()->InferiorPosition());
    EXPECT_EQ(2u, ThreadNames("vorn_control").size()) << "one control thread per device";

    const int64_t n = 400;
    std::thread a([&] { EXPECT_EQ(Range(0, n), SendToPair(p.c3, 0, n, 200us)); });
    std::thread b([&] { EXPECT_EQ(Range(0, n), SendToPair(p.c4, 0, n, 0us)); });
    a.join();
    b.join();
    ASSERT_TRUE(p.master.WaitCount(2 * n, 15000ms));
    ASSERT_TRUE(p.standby.WaitCount(2 * n, 15000ms));
    const Seq m = SequenceOf(p.master), s = SequenceOf(p.standby);
    EXPECT_EQ(m, s) << "the same messages in the same order on both devices";
    EXPECT_EQ(Range(0, n), NumbersFrom(m, 3));
    EXPECT_EQ(Range(0, n), NumbersFrom(m, 4));
    CDeliverNotices* mn = p.master.Sys().Deliver()->Notices();
    CDeliverNotices* sn = p.standby.Sys().Deliver()->Notices();
    // counted once the callback has returned
    EXPECT_TRUE(WaitUntil([&] { return mn->DeliveredByNotice() == static_cast<uint64_t>(2 * n); }, 2000ms));
    EXPECT_TRUE(WaitUntil([&] { return sn->DeliveredByNotice() == static_cast<uint64_t>(2 * n); }, 2000ms));
    EXPECT_LT(sn->NoticesSent(), static_cast<uint64_t>(2 * n)) << "a notice carries several pairs when it can";
    EXPECT_EQ(0u, mn->PairsDropped());
    EXPECT_EQ(0, p.standby.StateCalls());
    EXPECT_EQ(0, p.master.StateCalls());
}

// One message, with one datagram of the pair's conversation lost or held back.
struct TimingCase {
    const char* name;
    enum Who { kClient3, kStandby, kMaster } who;
    BusSendRule rule;
    bool standby_waits;  // the standby must not deliver while the rule holds
};

void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }

class HotBackupPairTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(HotBackupPairTiming, BothDevicesDeliverTheMessage) {
    const TimingCase& c = GetParam();
    Pair p;
    ASSERT_TRUE(p.LaunchAll());
    LiveMember& who = c.who == TimingCase::kClient3 ? p.c3 : (c.who == TimingCase::kStandby ? p.standby : p.master);
    auto faults = Hook(who);
    faults->Add(c.rule);
    ASSERT_EQ(1u, p.c3.Send(kToPair, CountedBody(7), 10, -1, true, 7));
    ASSERT_TRUE(p.master.WaitCount(1, 5000ms)) << "the master delivers once message and notice are both there";
    if (c.standby_waits) {
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(0u, p.standby.Count()) << "nothing before the master's acknowledgement";
        EXPECT_GT(p.standby.Sys().Deliver()->Notices()->ProbesSent(), 0u) << "the standby probes meanwhile";
        faults->Clear();
    }
    ASSERT_TRUE(p.standby.WaitCount(1, 5000ms));
    EXPECT_EQ(SequenceOf(p.master), SequenceOf(p.standby));
    EXPECT_EQ((Seq{{int16_t(3), int64_t(7)}}), SequenceOf(p.master));
}

BusSendRule Rule(int type, int64_t seq, int dst_member, SendVerdict::Action action, int times, uint32_t delay_us = 0) {
    BusSendRule r;
    r.type = type;
    r.sequence = seq;
    r.dst_member = dst_member;
    r.verdict.action = action;
    r.verdict.delay_us = delay_us;
    r.times = times;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HotBackupPairTiming,
    ::testing::Values(
        // the client's first copy to the master is lost: the notice is there first, and the
        // message is delivered once the client's resend arrives
        TimingCase{"NoticeBeforeMessage", TimingCase::kClient3, Rule(kPktApp, 0, 1, SendVerdict::kDrop, 1), false},
        // the notice comes late: its arrival alone has to wake the master's deliver thread
        TimingCase{"NoticeAfterMessage", TimingCase::kStandby,
                   Rule(kPktDeliverNotice, 0, 1, SendVerdict::kDelay, 1, 300000), false},
        // every acknowledgement lost until the rule goes: the standby holds the message
        TimingCase{"StandbyWaitsForTheAck", TimingCase::kMaster, Rule(kPktNoticeAck, -1, -2, SendVerdict::kDrop, -1),
                   true}),
    [](const ::testing::TestParamInfo<TimingCase>& i) { return std::string(i.param.name); });

// Notices lost on their way to the master are asked for again (a gap: NAK) or found by the
// standby's probe (the newest one: nothing after it shows the loss).
struct LossCase {
    const char* name;
    int64_t first, last;  // first sending of these notice sequences lost
    int64_t messages;
    bool by_nak;
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class HotBackupPairNoticeLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(HotBackupPairNoticeLoss, LostNoticesAreMadeGood) {
    const LossCase& c = GetParam();
    Pair p;
    ASSERT_TRUE(p.LaunchAll());
    auto faults = Hook(p.standby);
    faults->DropRun(kPktDeliverNotice, c.first, c.last);
    EXPECT_EQ(Range(0, c.messages), SendToPair(p.c3, 0, c.messages, 3000us));
    ASSERT_TRUE(p.master.WaitCount(static_cast<std::size_t>(c.messages), 5000ms));
    ASSERT_TRUE(p.standby.WaitCount(static_cast<std::size_t>(c.messages), 5000ms));
    EXPECT_EQ(SequenceOf(p.master), SequenceOf(p.standby));
    EXPECT_EQ(Range(0, c.messages), NumbersFrom(SequenceOf(p.master), 3));
    EXPECT_GE(p.standby.Sys().Deliver()->Notices()->NoticesResent(), 1u);
    if (c.by_nak)
        EXPECT_GT(p.master.Sys().Deliver()->Notices()->NaksSent(), 0u);
    else
        EXPECT_GT(p.standby.Sys().Deliver()->Notices()->ProbesSent(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, HotBackupPairNoticeLoss,
                         ::testing::Values(LossCase{"NewestByProbe", 0, 0, 1, false},
                                           LossCase{"GapByNak", 1, 3, 30, true}),
                         [](const ::testing::TestParamInfo<LossCase>& i) { return std::string(i.param.name); });

// A NAK naming a notice that has left the standby's send window (its slot holds a later one)
// ends that resend with the "Packet Lost" line, which reads the window's counters while the
// control thread moves them: the thread sanitizer build runs this path under traffic.
TEST(HotBackupPair, ANakForANoticeThatLeftTheWindowIsLoggedAsLost) {
    Pair p;
    ASSERT_TRUE(p.LaunchAll());
    CDeliverNotices* notices = p.standby.Sys().Deliver()->Notices();
    ASSERT_NE(nullptr, notices);
    const int64_t n = 600;
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
        for (int64_t i = 0; i < n && !stop.load(); i += 100) SendToPair(p.c3, i, 100, 1000us);
    });
    JoinOnExit join{traffic, stop};
    // the window holds 256 notices: past them, notice 0's slot holds a later one
    ASSERT_TRUE(WaitUntil([&] { return notices->NoticesSent() > 300; }, 20000ms));
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to = AddressOf(p.standby);
    uint8_t buf[kControlDatagramMax];
    const std::size_t len = BuildRange(buf, sizeof buf, FromDevice(1, kPktNoticeNak), 0, 0);
    ASSERT_GT(len, 0u);
    for (int k = 0; k < 5; ++k) {
        // right behind an acknowledgement, as a NAK that the acknowledgement overtook
        const int64_t acked = notices->NoticesAcknowledged();
        ASSERT_TRUE(WaitUntil([&] { return notices->NoticesAcknowledged() != acked; }, 5000ms));
        ASSERT_EQ(static_cast<ssize_t>(len), ::sendto(fd, buf, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    }
    ::close(fd);
    stop.store(true);
    traffic.join();
    EXPECT_FALSE(notices->Desynced());
    EXPECT_NE(std::string::npos,
              LogTail(p.standby, 1000000).find("Send Nak Packet (0) To Member ( 1 ) Fail: Packet Lost <W:"));
}

// A forged notice naming a position the source list does not have: the pair is dropped and
// the valid pair beside it still delivers; a notice of odd pair length is not taken at all.
TEST(HotBackupPair, NoticePositionsAreCheckedAgainstTheSourceList) {
    Pair p;  // the forged notices must not make the silent standby count as lost
    // no standby runs: the notices below are the only ones the master gets
    ASSERT_TRUE(p.Launch(p.master));
    ASSERT_TRUE(p.Launch(p.c3));
    CDeliverNotices* notices = p.master.Sys().Deliver()->Notices();
    ASSERT_NE(nullptr, notices);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to = AddressOf(p.master);
    auto send_notice = [&](int32_t seq, std::vector<uint8_t> pairs, bool odd) {
        uint8_t buf[kControlDatagramMax];
        std::size_t n =
            BuildDeliverNotice(buf, sizeof buf, FromDevice(2, kPktDeliverNotice, seq), pairs.data(), pairs.size());
        ASSERT_GT(n, 0u);
        if (odd) {
            // one pair byte more than a whole pair, and a payload length saying so
            buf[n] = 1;
            ++n;
            const int32_t len = static_cast<int32_t>(pairs.size() + 1);
            std::memcpy(buf + 19, &len, sizeof len);
        }
        ASSERT_EQ(static_cast<ssize_t>(n), ::sendto(fd, buf, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
        std::this_thread::sleep_for(20ms);  // taken in this order
    };
    send_notice(0, {99, 1, 1, 1}, false);  // position 99 of 3, then client 3's next message
    send_notice(1, {1, 1}, true);         // three pair bytes: never enters the window
    ASSERT_EQ(1u, p.c3.Send(kToPair, CountedBody(0), 10, -1, true, 0));
    ASSERT_TRUE(p.master.WaitCount(1, 5000ms));
    EXPECT_TRUE(WaitUntil([&] { return notices->PairsDropped() == 1; }, 2000ms));
    EXPECT_EQ(1, notices->NoticesAcknowledged()) << "the odd notice took no place in the window";
    ASSERT_EQ(1u, p.c3.Send(kToPair, CountedBody(1), 10, -1, true, 1));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(1u, p.master.Count()) << "the second message waits for its notice";
    send_notice(1, {1, 1}, false);
    ASSERT_TRUE(p.master.WaitCount(2, 5000ms));
    EXPECT_EQ((Seq{{int16_t(3), int64_t(0)}, {int16_t(3), int64_t(1)}}), SequenceOf(p.master));
    ::close(fd);
}

// The standby takes over when the master stops: it finishes the notices it holds, calls the
// state callback once (on its deliver thread, as master) and serves by rotation; every
// message the clients sent is delivered once, in per-source order, and what the master had
// delivered is the start of the standby's sequence.
TEST(HotBackupPair, StandbyTakesOverWhenTheMasterStops) {
    Pair p(kTakeoverLostS);
    ASSERT_TRUE(p.LaunchAll());
    const int64_t n = 600;
    std::atomic<bool> half{false}, up{true};
    std::vector<int64_t> taken3, taken4;
    std::thread a([&] {
        taken3 = SendToPair(p.c3, 0, n / 2, 500us, &up);
        half.store(true);
        auto more = SendToPair(p.c3, n / 2, n / 2, 500us, &up);
        taken3.insert(taken3.end(), more.begin(), more.end());
    });
    std::thread b([&] { taken4 = SendToPair(p.c4, 0, n, 500us, &up); });
    const bool halfway = WaitUntil([&] { return half.load(); }, 20000ms);
    up.store(false);
    const std::size_t before = p.master.Count();
    p.master.Stop();
    a.join();
    b.join();
    ASSERT_TRUE(halfway);
    EXPECT_EQ(Range(0, n), taken3);
    EXPECT_EQ(Range(0, n), taken4);
    ASSERT_TRUE(WaitUntil([&] { return p.standby.Sys().Deliver()->Switched(); }, 10000ms));
    ASSERT_TRUE(p.standby.WaitCount(2 * n, 15000ms));
    std::this_thread::sleep_for(100ms);
    const Seq s = SequenceOf(p.standby), m = SequenceOf(p.master);
    EXPECT_EQ(Range(0, n), NumbersFrom(s, 3)) << "nothing lost or twice across the switch";
    EXPECT_EQ(Range(0, n), NumbersFrom(s, 4));
    ASSERT_GE(m.size(), before);
    ASSERT_GE(s.size(), before);
    EXPECT_TRUE(std::equal(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(before), s.begin()))
        << "the master's deliveries before its stop open the standby's sequence";
    EXPECT_EQ(1, p.standby.StateCalls());
    EXPECT_EQ(1u, p.standby.StateIdentity());
    EXPECT_TRUE(p.standby.StateOnDeliverThread());
    EXPECT_EQ(1, p.standby.Sys().DeviceIdentity());
    EXPECT_TRUE(WaitUntil([] { return ThreadNames("vorn_control").empty(); }, 3000ms))
        << "both control threads ended";
}

// A master whose standby never starts: once the lost-over-time has passed since it first held
// a message it switches to single-device mode and delivers every message it acknowledged, in
// order and once, calling the state callback once.
TEST(HotBackupPair, AMasterWhoseStandbyNeverStartsDeliversWhatItAcknowledged) {
    Pair p(kTakeoverLostS);
    ASSERT_TRUE(p.Launch(p.master));
    ASSERT_TRUE(p.Launch(p.c3));
    ASSERT_EQ(1, p.master.Sys().DeviceIdentity());
    const int64_t n = 20;
    const int64_t sent_ns = MonotonicNs();
    for (int64_t i = 0; i < n; ++i)
        ASSERT_EQ(1u, p.c3.Send(kToPair, CountedBody(static_cast<uint64_t>(i)), 10, -1, true, static_cast<int32_t>(i)));
    EXPECT_TRUE(WaitUntil([&] { return Outstanding(p.c3.Sys(), 10, 1) == 0; }, 3000ms))
        << "the master acknowledged all";
    ASSERT_TRUE(p.master.WaitCount(static_cast<std::size_t>(n), 10000ms)) << LogTail(p.master);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Range(0, n), NumbersFrom(SequenceOf(p.master), 3)) << "in order, once";
    EXPECT_EQ(static_cast<std::size_t>(n), p.master.Count());
    EXPECT_GE(p.master.Deliveries().front().at_ns - sent_ns, kTakeoverLostS * 1000000000LL)
        << "held for the standby the whole lost-over-time";
    EXPECT_EQ('2', p.master.Sys().Hqtrs().Mode());
    EXPECT_TRUE(p.master.Sys().Deliver()->Switched());
    EXPECT_EQ(1, p.master.StateCalls());
    EXPECT_EQ(1u, p.master.StateIdentity());
}

// A standby that starts later than the lost-over-time after its master, but before any
// traffic, still makes the pair: the master had nothing to hold for it meanwhile.
TEST(HotBackupPair, AStandbyLaterThanTheLostOverTimeButBeforeTrafficMakesThePair) {
    Pair p(kTakeoverLostS);
    ASSERT_TRUE(p.Launch(p.master));
    // the time really given: past the lost-over-time since the master's launch
    const int64_t launched_ns = MonotonicNs();
    while (MonotonicNs() - launched_ns < kTakeoverLostS * 1000000000LL + 500000000) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(p.Launch(p.standby));
    ASSERT_TRUE(p.Launch(p.c3, PeersUp()));
    EXPECT_EQ('1', p.master.Sys().Hqtrs().Mode());
    EXPECT_EQ(2, p.standby.Sys().DeviceIdentity());
    ASSERT_NE(nullptr, p.standby.Sys().Deliver()->Notices());
    EXPECT_EQ(Range(0, 50), SendToPair(p.c3, 0, 50, 500us));
    ASSERT_TRUE(p.master.WaitCount(50, 10000ms));
    ASSERT_TRUE(p.standby.WaitCount(50, 10000ms));
    EXPECT_EQ(SequenceOf(p.master), SequenceOf(p.standby));
    // counted once the callback has returned
    CDeliverNotices* notices = p.standby.Sys().Deliver()->Notices();
    EXPECT_TRUE(WaitUntil([&] { return notices->DeliveredByNotice() == 50u; }, 2000ms)) << "delivered as the pair";
}

// A standby that starts while its master already holds client traffic: its lists begin where
// the client stood when it synchronised, so no notice of it can name what the master took
// before. Within the lost-over-time both devices leave the pair at once (the master, which
// held traffic when it first heard the standby, tells it in its heartbeat); after it the master
// runs alone already. Either way, with the client quiet afterwards, the master delivers every
// message it acknowledged and the standby every one it acknowledged, each once, and the
// standby's are the last of the master's, in the same order.
struct LateCase {
    const char* name;
    bool within;  // the standby starts within the lost-over-time
};

void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }

class HotBackupPairLateStandby : public ::testing::TestWithParam<LateCase> {};

TEST_P(HotBackupPairLateStandby, EachDeviceDeliversWhatItAcknowledgedOnce) {
    const LateCase& c = GetParam();
    Pair p(c.within ? kSteadyLostS : kTakeoverLostS);
    ASSERT_TRUE(p.Launch(p.master));
    ASSERT_TRUE(p.Launch(p.c3));
    ASSERT_TRUE(p.Launch(p.c4));
    std::atomic<bool> master_up{true}, standby_up{false};
    EXPECT_EQ(Range(0, 300), SendToPair(p.c3, 0, 300, 0us, &master_up, &standby_up));
    ASSERT_TRUE(WaitUntil([&] { return Outstanding(p.c3.Sys(), 10, 1) == 0; }, 5000ms))
        << "the master acknowledged all";
    if (!c.within) {
        ASSERT_TRUE(WaitUntil([&] { return p.master.Sys().Deliver()->Switched(); }, 20000ms));
    }
    ASSERT_TRUE(p.Launch(p.standby, PeersUp()));
    if (!c.within) {
        EXPECT_EQ(nullptr, p.standby.Sys().Deliver()->Notices()) << "no pair to join";
    }
    standby_up.store(true);
    EXPECT_EQ(Range(300, 100), SendToPair(p.c3, 300, 100, 0us, &master_up, &standby_up));
    // well inside the lost-over-time of the first case: nobody waits it out
    ASSERT_TRUE(p.master.WaitCount(400, 15000ms)) << p.master.Count() << "\n" << LogTail(p.master);
    ASSERT_TRUE(p.standby.WaitCount(100, 15000ms)) << p.standby.Count() << "\n" << LogTail(p.standby);
    std::this_thread::sleep_for(200ms);
    const std::vector<int64_t> m = NumbersFrom(SequenceOf(p.master), 3), s = NumbersFrom(SequenceOf(p.standby), 3);
    EXPECT_EQ(Range(0, 400), m) << "every message the master acknowledged, once, in order";
    EXPECT_EQ(Range(300, 100), s) << "every message the standby acknowledged, once, in order";
    ASSERT_LE(s.size(), m.size());
    EXPECT_TRUE(std::equal(s.begin(), s.end(), m.end() - static_cast<std::ptrdiff_t>(s.size())));
    EXPECT_TRUE(p.master.Sys().Deliver()->Switched());
    EXPECT_EQ('2', p.master.Sys().Hqtrs().Mode());
}

INSTANTIATE_TEST_SUITE_P(Cases, HotBackupPairLateStandby,
                         ::testing::Values(LateCase{"WithinTheLostOverTime", true},
                                           LateCase{"AfterTheLostOverTime", false}),
                         [](const ::testing::TestParamInfo<LateCase>& i) { return std::string(i.param.name); });

// The master in another process, killed: the standby notices the loss, switches and takes
// every client message once, in order.
TEST(HotBackupPairChild, RunMaster) {
    const char* coord = std::getenv(kChildEnv);
    if (!coord) GTEST_SKIP() << "runs only as the master of HotBackupPair.StandbyTakesOverWhenTheMasterIsKilled";
    const std::string text = coord;
    const std::size_t colon = text.find(':');
    ASSERT_NE(std::string::npos, colon);
    LiveMember master(10, 1);
    LiveOptions o = PairOptions();
    o.record = false;
    ASSERT_TRUE(master.Launch(text.substr(0, colon), static_cast<uint16_t>(std::stoi(text.substr(colon + 1))), o));
    // killed by the parent long before this ends
    for (int i = 0; i < 600; ++i) std::this_thread::sleep_for(100ms);
}

TEST(HotBackupPair, StandbyTakesOverWhenTheMasterIsKilled) {
    Pair p(kTakeoverLostS);
    const std::string env = std::string(kChildEnv) + "=" + p.coord.Ip() + ":" + std::to_string(p.coord.Port());
    std::vector<std::string> args = {"/proc/self/exe", "--gtest_filter=HotBackupPairChild.RunMaster"};
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::vector<std::string> envs = {env};
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& s : envs) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, "/proc/self/exe", &quiet, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&quiet);
    ASSERT_EQ(0, spawned);
    struct Reap {
        pid_t pid;
        ~Reap() {
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reap{child};
    // the child is master once the coordinator granted it and it sends its heartbeats
    ASSERT_TRUE(WaitUntil([&] { return p.coord.Primary(10) == 1 && p.coord.Count(kCoordHeartbeat) > 0; }, 20000ms));
    const LiveOptions o = PairOptions();
    ASSERT_TRUE(p.Launch(p.standby, o));
    ASSERT_EQ(2, p.standby.Sys().DeviceIdentity());
    ASSERT_TRUE(p.Launch(p.c3, PeersUp(o)));
    ASSERT_TRUE(p.Launch(p.c4, PeersUp(o)));
    const int64_t n = 300;
    std::vector<int64_t> t3 = SendToPair(p.c3, 0, n, 300us), t4 = SendToPair(p.c4, 0, n, 300us);
    ASSERT_TRUE(p.standby.WaitCount(static_cast<std::size_t>(n), 10000ms)) << "the child acknowledges notices";
    std::atomic<bool> up{false};
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    reap.pid = -1;
    std::thread a([&] {
        auto more = SendToPair(p.c3, n, n, 300us, &up);
        t3.insert(t3.end(), more.begin(), more.end());
    });
    auto more = SendToPair(p.c4, n, n, 300us, &up);
    t4.insert(t4.end(), more.begin(), more.end());
    a.join();
    EXPECT_EQ(Range(0, 2 * n), t3);
    EXPECT_EQ(Range(0, 2 * n), t4);
    ASSERT_TRUE(WaitUntil([&] { return p.standby.Sys().Deliver()->Switched(); }, 10000ms));
    ASSERT_TRUE(p.standby.WaitCount(static_cast<std::size_t>(4 * n), 15000ms));
    std::this_thread::sleep_for(100ms);
    const Seq s = SequenceOf(p.standby);
    EXPECT_EQ(Range(0, 2 * n), NumbersFrom(s, 3));
    EXPECT_EQ(Range(0, 2 * n), NumbersFrom(s, 4));
    EXPECT_EQ(1, p.standby.StateCalls());
    EXPECT_TRUE(p.standby.StateOnDeliverThread());
    EXPECT_EQ('2', p.coord.Mode(10));
    EXPECT_EQ(2, p.coord.Primary(10));
}

// A device restarted while the clients keep sending (the old master, after the standby took
// over): its start-up synchronisation learns where each client stands before it takes their
// traffic, so it delivers every message sent to it from then on, in sequence, none twice.
TEST(HotBackupPair, RestartedDeviceResynchronisesUnderTraffic) {
    Pair p(kTakeoverLostS);
    ASSERT_TRUE(p.LaunchAll());
    std::atomic<bool> stop{false}, up{true};
    std::atomic<int64_t> sent3{0};
    std::thread traffic([&] {
        for (int64_t i = 0; !stop.load() && i < 20000; ++i) {
            SendToPair(p.c3, i, 1, 1000us, &up);
            sent3.store(i + 1);
        }
    });
    const JoinOnExit join{traffic, stop};
    ASSERT_TRUE(WaitUntil([&] { return sent3.load() > 100; }, 10000ms));
    up.store(false);
    p.master.Stop();
    ASSERT_TRUE(WaitUntil([&] { return p.standby.Sys().Deliver()->Switched(); }, 10000ms));
    p.master.Clear();
    ASSERT_TRUE(p.Launch(p.master, PeersUp()));
    const int64_t launched_at = sent3.load();
    up.store(true);
    EXPECT_EQ(2, p.master.Sys().DeviceIdentity()) << "the survivor stays master";
    EXPECT_EQ(nullptr, p.master.Sys().Deliver()->Notices()) << "single-device mode: rotation";
    ASSERT_TRUE(WaitUntil([&] { return sent3.load() > launched_at + 200; }, 10000ms));
    stop.store(true);
    traffic.join();
    const int64_t total = sent3.load();
    ASSERT_TRUE(WaitUntil([&] { return !NumbersFrom(SequenceOf(p.master), 3).empty() &&
                                       NumbersFrom(SequenceOf(p.master), 3).back() == total - 1; },
                          10000ms));
    const std::vector<int64_t> got = NumbersFrom(SequenceOf(p.master), 3);
    EXPECT_LE(got.front(), launched_at) << "in sequence from its start-up on";
    EXPECT_EQ(Range(got.front(), total - got.front()), got) << "no gap, nothing twice";
    ASSERT_TRUE(p.standby.WaitCount(static_cast<std::size_t>(total), 10000ms));
    EXPECT_EQ(Range(0, total), NumbersFrom(SequenceOf(p.standby), 3));
}

}  // namespace

namespace {

// A device restarted while its partner is still active (within the lost-over-time): the
// notice streams no longer match, the standby sees it and both devices leave the notice
// protocol for single-device mode instead of waiting for ever; the device that ran on
// delivers every message once in order, the restarted one everything from its start-up on.
struct RestartCase {
    const char* name;
    bool restart_master;
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

class HotBackupPairRestart : public ::testing::TestWithParam<RestartCase> {};

TEST_P(HotBackupPairRestart, NeitherDeviceHangs) {
    const RestartCase& c = GetParam();
    Pair p(kTakeoverLostS);
    ASSERT_TRUE(p.LaunchAll());
    LiveMember& restarted = c.restart_master ? p.master : p.standby;
    LiveMember& survivor = c.restart_master ? p.standby : p.master;
    std::atomic<bool> stop{false}, master_up{true}, standby_up{true};
    std::atomic<bool>& up = c.restart_master ? master_up : standby_up;
    std::atomic<int64_t> sent{0};
    std::thread traffic([&] {
        for (int64_t i = 0; !stop.load() && i < 20000; ++i) {
            SendToPair(p.c3, i, 1, 1000us, &master_up, &standby_up);
            sent.store(i + 1);
        }
    });
    const JoinOnExit join{traffic, stop};
    ASSERT_TRUE(WaitUntil([&] { return sent.load() > 100 && survivor.Count() > 20; }, 10000ms));
    up.store(false);
    restarted.Stop();
    restarted.Clear();
    std::this_thread::sleep_for(300ms);  // a process takes its time to come back
    ASSERT_TRUE(p.Launch(restarted, PeersUp()));
    const int64_t launched_at = sent.load();
    up.store(true);
    ASSERT_NE(nullptr, restarted.Sys().Deliver()->Notices()) << "restarted into the active pair";
    EXPECT_TRUE(WaitUntil([&] { return survivor.Sys().Deliver()->Switched() && restarted.Sys().Deliver()->Switched(); },
                          20000ms))
        << "both devices left the notice protocol\n"
        << LogTail(survivor, 30) << LogTail(restarted, 30);
    EXPECT_TRUE(WaitUntil([&] { return sent.load() > launched_at + 200; }, 10000ms));
    stop.store(true);
    traffic.join();
    const int64_t total = sent.load();
    auto last_is = [&](LiveMember& m) {
        const std::vector<int64_t> got = NumbersFrom(SequenceOf(m), 3);
        return !got.empty() && got.back() == total - 1;
    };
    ASSERT_TRUE(WaitUntil([&] { return last_is(survivor) && last_is(restarted); }, 10000ms));
    EXPECT_EQ(Range(0, total), NumbersFrom(SequenceOf(survivor), 3)) << "nothing lost or twice on the survivor";
    const std::vector<int64_t> got = NumbersFrom(SequenceOf(restarted), 3);
    EXPECT_LE(got.front(), launched_at) << "in sequence from its start-up on\n" << LogTail(restarted, 60);
    EXPECT_EQ(Range(got.front(), total - got.front()), got) << "no gap, nothing twice";
    EXPECT_EQ('2', survivor.Sys().Hqtrs().Mode());
    EXPECT_EQ('2', restarted.Sys().Hqtrs().Mode());
}

INSTANTIATE_TEST_SUITE_P(Cases, HotBackupPairRestart,
                         ::testing::Values(RestartCase{"Standby", false}, RestartCase{"Master", true}),
                         [](const ::testing::TestParamInfo<RestartCase>& i) { return std::string(i.param.name); });

}  // namespace
