// The groups built from the coordinator's tables: failures, lookup, routing by partition,
// window sizes, pools, multicast eligibility; and the receiver-side work of a member: source
// recognition, the position exchange, the start-up synchronisation and the start-up phase.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornWire.h"
#include "support/BusWindowNet.h"

using namespace OXA::VORN;
using oxa_test::BusNode;
using oxa_test::BusWindowNet;
using oxa_test::Delivered;
using oxa_test::Layout;
using oxa_test::NetPacket;
using oxa_test::NodeOptions;
using oxa_test::Body;
using oxa_test::Range;
using oxa_test::RangeOf;
using oxa_test::SentBy;
using oxa_test::Sequences;
using oxa_test::ToVornLayout;

namespace {

constexpr int64_t kMs = 1000000;

const char* kTwo =
    "window 16\n"
    "group 10 1 0\n"
    "group 20 1 0\n"
    "member 10 1 127.0.0.1 7001\n"
    "member 20 2 127.0.0.1 7002\n"
    "msg 20 0x100\n"
    "msg 10 0x101\n";

// One message, then one step of the network and the handlers, so windows keep moving.
int SendStep(BusWindowNet& net, BusNode& from, int16_t group, int16_t member, int n) {
    const int reached = from.Send(group, member, 0x100, Body(n));
    net.Pump();
    net.Tick();
    return reached;
}

// Builds a manager for (group, member) of a layout without any network.
struct Solo {
    CVornSystem sys;
    CGroupsManager mgr{sys};
    struct NullSink : IDgramSink {
        std::vector<std::vector<uint8_t>> sent;
        ssize_t Send(SinkChannel, const uint8_t* d, std::size_t n, const sockaddr_in&, int16_t, int16_t) override {
            sent.emplace_back(d, d + n);
            return static_cast<ssize_t>(n);
        }
    } sink;
    bool Init(const oxa_test::CoordLayout& layout, int16_t group, int16_t member, int identity = 1,
              uint32_t netmask = htonl(0xFF000000u)) {
        std::vector<int16_t> partitions;
        const VornLayout l = ToVornLayout(layout, &partitions);
        sys.SetOwnIds(group, member);
        sys.SetPartitions(partitions);
        sys.SetDeviceIdentity(identity);
        GroupsOptions o;
        o.sink = &sink;
        o.netmask = [netmask](const char*) { return netmask; };
        return mgr.Init(l, 0, o);
    }
};

// One datagram into a member as its receiver thread would hand it over.
CGroupsManager::RecvAction Feed(CGroupsManager& mgr, const std::vector<uint8_t>& bytes, const sockaddr_in& from) {
    VornBuffer* b = mgr.AppPool().Get();
    std::memcpy(b->data, bytes.data(), bytes.size());
    const auto action = mgr.OnDatagram(b, bytes.size(), bytes.size(), from);
    if (action != CGroupsManager::RecvAction::kKept) VornBuffer::Release(b);
    return action;
}

std::vector<uint8_t> Control(uint8_t type, int32_t seq, int16_t src_group, int16_t src_member, int16_t src_index,
                             int16_t dst_group, int16_t dst_member) {
    VornHeader h;
    h.type = type;
    h.sequence = seq;
    h.src_group_id = src_group;
    h.src_member_id = src_member;
    h.src_member_index = src_index;
    h.dst_group_id = dst_group;
    h.dst_member_id = dst_member;
    std::vector<uint8_t> b(kHeaderSize);
    BuildControl(b.data(), b.size(), h);
    return b;
}

}  // namespace

TEST(GroupsInit, RefusesWhatItCannotBuild) {
    std::string many = "window 4\n";
    for (int g = 1; g <= 65; ++g)
        many += "group " + std::to_string(g) + " 1 0\nmember " + std::to_string(g) + " 1 127.0.0.1 " +
                std::to_string(7000 + g) + "\n";
    struct Case {
        const char* name;
        std::string layout;
        int16_t group, member;
        bool ok;
    } cases[] = {
        {"65 groups", many, 1, 1, false},
        {"64 groups", many.substr(0, many.find("group 65")), 1, 1, true},
        {"own group missing", kTwo, 30, 1, false},
        {"own member missing", kTwo, 10, 9, false},
        {"fine", kTwo, 10, 1, true},
    };
    for (const Case& c : cases) {
        Solo s;
        EXPECT_EQ(c.ok, s.Init(Layout(c.layout), c.group, c.member)) << c.name;
    }
}

TEST(GroupsInit, OwnIdentityAndLookupTable) {
    Solo s;
    ASSERT_TRUE(s.Init(Layout("window 16\n"
                              "group 10 1 0 data=9000 control=9001 inner=9002\n"
                              "group 20 1 1\n"
                              "member 10 1 127.0.0.1 7001 partition=0\n"
                              "member 10 4 127.0.0.9 7004 partition=3\n"
                              "member 20 2 127.0.0.1 7002 partition=3\n"
                              "msg 20 0x100\n"),
                       10, 4));
    const VornIdentity& id = s.sys.Identity();
    EXPECT_EQ(0, id.group_index);
    EXPECT_EQ(1, id.member_index);
    EXPECT_STREQ("127.0.0.9", id.ip);
    EXPECT_EQ(7004, id.port);
    EXPECT_EQ(9000, id.data_port);
    EXPECT_EQ(9001, id.control_port);
    EXPECT_EQ(9002, id.inner_port);
    EXPECT_EQ(2, id.group_member_count);
    EXPECT_EQ('0', id.svr_type);
    EXPECT_EQ(3, id.partition_id);
    EXPECT_FALSE(id.partition_filter) << "only an own partition of 0 filters";
    // 3 members: 4 entries, indexed by member index
    EXPECT_EQ(3u, s.mgr.LookupMask());
    for (int i = 0; i < 3; ++i) {
        const SourceEntry& e = s.mgr.Lookup(static_cast<uint32_t>(i));
        ASSERT_NE(nullptr, e.window) << i;
        EXPECT_EQ(e.window, s.mgr.WindowOf(i));
        EXPECT_EQ(e.window->member_index, i);
    }
    EXPECT_EQ(-1, s.mgr.Lookup(3).member_id);
    const AcceptContext& ctx = s.mgr.AcceptCtx();
    EXPECT_EQ(4, ctx.own_member_id);
    EXPECT_EQ(2u, ctx.own_group_members);
    EXPECT_EQ(1u, ctx.own_position);
}

TEST(GroupsInit, RoutingByPartition) {
    struct Case {
        int16_t p, q;
        bool routed, any;
    } cases[] = {
        {0, 3, true, true},    {3, 3, true, true},     {5, 3, false, false}, {0x7FFF, 3, false, false},
        {0, 0, true, true},    {5, 0, true, false},    {0x7FFF, 0, false, false},
    };
    for (const Case& c : cases) {
        const PartitionRoute r = RouteByPartition(c.p, c.q);
        EXPECT_EQ(c.routed, r.routed) << c.p << " from " << c.q;
        EXPECT_EQ(c.any, r.accept_any) << c.p << " from " << c.q;
    }
    Solo s;
    ASSERT_TRUE(s.Init(Layout("window 16\n"
                              "group 10 1 0\ngroup 20 1 0\n"
                              "member 10 1 127.0.0.1 7001 partition=3\n"
                              "member 20 2 127.0.0.1 7002 partition=0\n"
                              "member 20 3 127.0.0.1 7003 partition=3\n"
                              "member 20 4 127.0.0.1 7004 partition=4\n"
                              "member 20 5 127.0.0.1 7005 partition=32767\n"
                              "msg 20 0x100\n"),
                       10, 1));
    CGroupSession& g = *s.mgr.FindGroup(20);
    EXPECT_TRUE(g.Member(0).routed);
    EXPECT_TRUE(g.Member(1).routed);
    EXPECT_FALSE(g.Member(2).routed);
    EXPECT_FALSE(g.Member(3).routed);
    EXPECT_FALSE(g.AllRouted());
    EXPECT_FALSE(s.mgr.AcceptCtx().sources[3].routed);
    int reached = 0;
    g.SendMsg(0, -1, 0x100, "x", 1, -1, &reached);
    EXPECT_EQ(2, reached) << "members 2 and 3 only";
}

TEST(GroupsInit, WindowSizes) {
    // member 1 of a client group ('1') next to a server group, another client group and a
    // member outside every partition
    Solo s;
    ASSERT_TRUE(s.Init(Layout("window 3000\n"
                              "group 10 1 1\ngroup 20 1 0\ngroup 30 1 1\n"
                              "member 10 1 127.0.0.1 7001\n"
                              "member 10 4 127.0.0.1 7004\n"
                              "member 20 2 127.0.0.1 7002\n"
                              "member 20 5 127.0.0.1 7005 partition=32767\n"
                              "member 30 3 127.0.0.1 7003\n"
                              "msg 20 0x100\n"),
                       10, 1));
    struct Case {
        int member_index;
        uint32_t send, recv;
    } cases[] = {
        {0, 2, 2},        // itself
        {1, 2, 2},        // two client groups
        {2, 2048, 2048},  // the server: the largest power of two not above 3,000
        {3, 2, 2},        // not routed
        {4, 2, 2},        // two client groups
    };
    for (const Case& c : cases) {
        VornPeerWindow* w = s.mgr.WindowOf(c.member_index);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(c.send, w->send->Slots()) << c.member_index;
        EXPECT_EQ(c.recv, w->recv->Mask() + 1) << c.member_index;
    }

    // a standby keeps 2-slot send windows to its own group; a master whose group's first
    // member is routed to nobody has a 2-slot group window
    const char* pair = "window 64\n"
                       "group 10 0 0\ngroup 20 1 0\n"
                       "member 10 1 127.0.0.1 7001 partition=32767\n"
                       "member 10 2 127.0.0.1 7002\n"
                       "member 20 5 127.0.0.1 7005\n"
                       "msg 20 0x100\n";
    Solo standby;
    ASSERT_TRUE(standby.Init(Layout(pair), 10, 2, 2));
    EXPECT_EQ(2u, standby.mgr.WindowOf(0)->send->Slots());
    EXPECT_EQ(64u, standby.mgr.WindowOf(2)->send->Slots());
    EXPECT_EQ(64u, standby.mgr.OwnGroup()->GroupWindow()->Mask() + 1);
    Solo master;
    ASSERT_TRUE(master.Init(Layout(pair), 10, 2, 1));
    EXPECT_EQ(2u, master.mgr.OwnGroup()->GroupWindow()->Mask() + 1);
    EXPECT_EQ(master.mgr.WindowOf(0)->recv, master.mgr.WindowOf(1)->recv) << "one window for the pair";
}

TEST(GroupsInit, PoolSizes) {
    struct Case {
        int window;
        char svr;
        std::size_t app, loop;
    } cases[] = {
        {1000, '0', 8000, 1000}, {1000, '1', 1000, 2}, {0, '0', 2, 2}, {1, '1', 2, 2}, {1, '0', 8, 2},
    };
    for (const Case& c : cases) {
        Solo s;
        ASSERT_TRUE(s.Init(Layout("window " + std::to_string(c.window) + "\ngroup 10 1 " + c.svr +
                                  "\nmember 10 1 127.0.0.1 7001\n"),
                           10, 1));
        EXPECT_EQ(c.app, s.mgr.AppPool().Total()) << c.window << c.svr;
        EXPECT_EQ(c.loop, s.mgr.LoopPool().Total()) << c.window << c.svr;
        EXPECT_EQ(2048u, s.mgr.ControlPool().Total());
        EXPECT_EQ(72u, s.mgr.ControlPool().DataCapacity());
    }
}

TEST(GroupsInit, MulticastOnlyWhenEveryMemberIsInTheOwnSubnet) {
    const std::string base = "window 16\nmulticast 1\n"
                             "group 10 1 0 ip=239.1.1.1 data=7100\n"
                             "group 20 1 0 ip=239.1.1.2 data=7200\n"
                             "member 10 1 127.0.0.1 7001\n"
                             "member 20 2 127.0.0.2 7002\n";
    struct Case {
        const char* name;
        std::string extra;
        uint32_t netmask;
        bool mode;
    } cases[] = {
        {"one subnet", "member 20 3 127.0.0.3 7003\n", htonl(0xFF000000u), true},
        {"two subnets", "member 20 3 10.1.2.3 7003\n", htonl(0xFF000000u), false},
        {"no netmask", "member 20 3 127.0.0.3 7003\n", 0, false},
    };
    for (const Case& c : cases) {
        Solo s;
        ASSERT_TRUE(s.Init(Layout(base + c.extra), 10, 1, 1, c.netmask)) << c.name;
        CGroupSession& g = *s.mgr.FindGroup(20);
        EXPECT_TRUE(g.MulticastConfig()) << c.name;
        EXPECT_EQ(c.mode, g.MulticastMode()) << c.name;
        EXPECT_EQ(htons(7200), g.Member(1).addr.sin_port) << "addressed on the group's data port";
        EXPECT_FALSE(s.mgr.OwnGroup()->MulticastMode()) << "the own group never multicasts";
    }
    Solo off;
    std::string no_flag = base + "member 20 3 127.0.0.3 7003\n";
    no_flag.replace(no_flag.find("multicast 1"), 11, "multicast 0");
    ASSERT_TRUE(off.Init(Layout(no_flag), 10, 1));
    EXPECT_FALSE(off.mgr.FindGroup(20)->MulticastConfig());
    EXPECT_EQ(htons(7003), off.mgr.FindGroup(20)->Member(1).addr.sin_port);
}

TEST(GroupsInit, MemberLookupComparesTheStoredId) {
    Solo s;
    ASSERT_TRUE(s.Init(Layout("window 16\n"
                              "group 10 1 0\ngroup 20 1 0\n"
                              "member 10 1 127.0.0.1 7001\n"
                              "member 20 1 127.0.0.1 7002\n"
                              "member 20 9 127.0.0.1 7009\n"
                              "msg 20 0x100\n"),
                       10, 1));
    CGroupSession& g = *s.mgr.FindGroup(20);
    EXPECT_EQ(0, g.FindMember(1));
    EXPECT_EQ(1, g.FindMember(9));
    EXPECT_EQ(-1, g.FindMember(17)) << "17 masks onto member 1's entry";
    EXPECT_EQ(-1, g.FindMember(-1));
    s.sink.sent.clear();
    EXPECT_EQ(0, g.SendMsg(0, 17, 0x100, "x", 1, -1));
    EXPECT_TRUE(s.sink.sent.empty()) << "nothing goes to the wrong member";
}

TEST(Receiver, UnknownSourcesGetMinus999ButNeverAnAnswerToOne) {
    Solo s;
    ASSERT_TRUE(s.Init(Layout(kTwo), 10, 1));
    sockaddr_in from;
    MakeAddress("127.0.0.1", 5555, from);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool answered;
    } cases[] = {
        {"position request from an unknown index", Control(kPktSendPos, 0, 20, 2, 3, 10, 1), true},
        {"position request with ids that differ", Control(kPktRecvPos, 0, 20, 7, 1, 10, 1), true},
        {"an answer (source indexes -1)", Control(kPktSendPos, kUnknownSourceSequence, 20, 2, -1, 10, 1), false},
        {"a request whose sequence reads -999", Control(kPktRecvPos, kUnknownSourceSequence, 20, 2, 3, 10, 1), true},
        {"an ACK from an unknown source", Control(kPktAck, 0, 20, 2, 3, 10, 1), false},
    };
    for (const Case& c : cases) {
        s.sink.sent.clear();
        EXPECT_EQ(CGroupsManager::RecvAction::kReuse, Feed(s.mgr, c.bytes, from)) << c.name;
        ASSERT_EQ(c.answered ? 1u : 0u, s.sink.sent.size()) << c.name;
        if (!c.answered) continue;
        VornHeader h;
        ASSERT_TRUE(ReadHeader(s.sink.sent[0].data(), s.sink.sent[0].size(), h));
        EXPECT_EQ(kUnknownSourceSequence, h.sequence);
        EXPECT_EQ(c.bytes[6], h.type);
    }
}

TEST(Receiver, DatagramsNamingThisMemberAsTheirSourceAreDropped) {
    Solo s;
    ASSERT_TRUE(s.Init(Layout(kTwo), 10, 1));
    sockaddr_in from{};
    VornHeader h;
    h.type = kPktApp;
    h.src_group_id = 10;
    h.src_member_id = 1;
    h.src_member_index = 0;
    h.dst_group_id = 10;
    std::vector<uint8_t> app(kAppHeaderSize + 1);
    BuildApp(app.data(), app.size(), h, 0x101, 0, "x", 1);
    EXPECT_EQ(CGroupsManager::RecvAction::kReuse, Feed(s.mgr, app, from));
    EXPECT_EQ(nullptr, s.mgr.DeliveryListOf(0)->Front());
    EXPECT_EQ(CGroupsManager::RecvAction::kReuse, Feed(s.mgr, Control(kPktRack, 5, 10, 1, 0, 10, 1), from));
    EXPECT_EQ(CGroupsManager::RecvAction::kKept, Feed(s.mgr, [] {
                  VornHeader b;
                  b.type = kPktApp;
                  b.src_group_id = 20;
                  b.src_member_id = 2;
                  b.src_member_index = 1;
                  std::vector<uint8_t> v(kAppHeaderSize + 1);
                  BuildApp(v.data(), v.size(), b, 0x101, 0, "x", 1);
                  return v;
              }(), from)) << "the same from the peer is taken";
}

TEST(Receiver, ResyncOrderAsksForWhatIsMissing) {
    BusWindowNet net(Layout("window 16\n"
                            "group 10 1 0\ngroup 20 1 0\ngroup 90 1 1\n"
                            "member 10 1 127.0.0.1 7001\n"
                            "member 20 2 127.0.0.1 7002\n"
                            "member 90 9 127.0.0.1 7009 partition=32767\n"
                            "msg 20 0x100\n"));
    net.Clock().SetStepPerRead(10000);
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    // B is unreachable for a while: A abandons it
    bool b_away = true;
    net.SetFilter([&](const NetPacket& p) { return b_away && p.to.sin_port == htons(7002); });
    for (int i = 0; i < 16; ++i) a.Send(20, 2, 0x100, Body(i));
    ASSERT_EQ(kSlotAbandoned, a.Peer(20, 2).slot_state.load());
    b_away = false;
    net.Settle();
    net.ClearSent();

    // a tool outside every partition orders A to resynchronise its windows with B
    VornHeader h;
    h.type = kPktResyncOrder;
    h.src_group_id = 90;
    h.src_member_id = 9;
    h.src_member_index = 2;
    std::vector<uint8_t> order(kResyncOrderSize);
    BuildResyncOrder(order.data(), order.size(), h, 20, 2);
    sockaddr_in from{};
    Feed(a.Mgr(), order, from);
    ASSERT_EQ(1u, SentBy(net, a.Index(), kPktRecvPosResync).size());
    ASSERT_EQ(1u, SentBy(net, a.Index(), kPktSendPosResync).size());
    net.Settle();
    EXPECT_EQ(1u, SentBy(net, b.Index(), kPktRecvPosResyncReply).size());
    EXPECT_EQ(1u, SentBy(net, b.Index(), kPktSendPosResyncReply).size());
    EXPECT_EQ(1, a.Peer(20, 2).recv_synced.load());
    EXPECT_EQ(kSlotNormal, a.Peer(20, 2).slot_state.load()) << "the send-position reply takes B back";
    EXPECT_EQ(1, a.Send(20, 2, 0x100, Body(99)));
}

TEST(WindowSync, TwoFreshMembersLearnEachOthersPositions) {
    BusWindowNet net(Layout(kTwo));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    ASSERT_TRUE(a.WindowSync());
    VornPeerWindow& to_b = a.Peer(20, 2);
    EXPECT_EQ(1, to_b.resync.load());
    EXPECT_EQ(1, to_b.recv_synced.load());
    EXPECT_TRUE(to_b.send->Synced());
    EXPECT_EQ(0, to_b.send->Next());
    VornPeerWindow& to_a = b.Peer(10, 1);
    EXPECT_EQ(1, to_a.recv_synced.load()) << "asked for its send position";
    EXPECT_EQ(1, to_a.resync.load()) << "asked for its receive position";
    EXPECT_TRUE(to_a.send->Synced());
    // a second run asks nothing
    net.ClearSent();
    ASSERT_TRUE(a.WindowSync());
    EXPECT_TRUE(net.Sent().empty());
}

TEST(WindowSync, APeerThatIsDownCostsThreePassesAndIsNotFatal) {
    BusWindowNet net(Layout(kTwo));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    net.Stop(b);
    const int64_t start = net.Clock().Peek();
    ASSERT_TRUE(a.WindowSync());
    EXPECT_EQ(6u, SentBy(net, a.Index(), kPktSendPos).size() + SentBy(net, a.Index(), kPktRecvPos).size());
    EXPECT_GE(net.Clock().Peek() - start, 3000 * kMs);
    EXPECT_EQ(0, a.Peer(20, 2).resync.load());
}

TEST(WindowSync, APeerThatDoesNotKnowThisMemberFailsTheLaunch) {
    BusWindowNet net(Layout(kTwo));
    BusNode& a = net.Add(10, 1);
    std::string other = kTwo;
    other.replace(other.find("member 10 1 "), 12, "member 10 11 ");  // B's tables name another member
    oxa_test::CoordLayout theirs = Layout(other);
    NodeOptions o;
    o.layout = &theirs;
    net.Add(20, 2, o);
    a.Sys().RequestStop();  // the one-second pause after the failure ends at once
    EXPECT_FALSE(a.WindowSync());
}

// Once every 2^32 messages a real position reads -999 on the wire, the sequence of the
// unknown-source answer. That answer is told by its source indexes (-1), so a peer standing
// there, either way, synchronises like any other and the traffic goes on from it both ways.
TEST(WindowSync, APeerStandingAtMinus999IsAPosition) {
    struct Case {
        const char* name;
        bool sent, received;  // the peer's last sequence to this member, from it, reads -999
    };
    const Case cases[] = {
        {"its last sequence to this member", true, false},
        {"its last received from this member", false, true},
        {"both ways", true, true},
    };
    const int64_t last = (int64_t{1} << 32) - 999;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusWindowNet net(Layout(kTwo));
        BusNode& a = net.Add(10, 1);
        BusNode& b = net.Add(20, 2);
        VornPeerWindow& b_to_a = b.Peer(10, 1);
        if (c.sent) b_to_a.send->Reposition(WireSeq(last));
        if (c.received) b_to_a.recv->Reset(last + 1);
        ASSERT_TRUE(a.WindowSync());
        VornPeerWindow& a_to_b = a.Peer(20, 2);
        EXPECT_EQ(1, a_to_b.resync.load());
        EXPECT_EQ(1, a_to_b.recv_synced.load());
        EXPECT_EQ(WireSeq(c.received ? last + 1 : 0), WireSeq(a_to_b.send->Next()));
        EXPECT_EQ(WireSeq(c.sent ? last + 1 : 0), WireSeq(a_to_b.recv->NextExpected()));
        for (int n = 0; n < 5; ++n) {
            ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(n)));
            ASSERT_EQ(1, b.Send(10, 1, 0x101, Body(100 + n)));
            net.Pump();
            net.Tick();
        }
        net.Run(5, kMs);
        for (BusNode* to : {&a, &b}) {
            const std::vector<Delivered> got = to->Drain();
            ASSERT_EQ(5u, got.size());
            for (int n = 0; n < 5; ++n) EXPECT_EQ(Body((to == &a ? 100 : 0) + n), got[static_cast<std::size_t>(n)].data);
        }
    }
}

// A member restarted while its peer keeps sending: what the new member acknowledges, in its
// start-up phase or later, it delivers exactly once and in order.
TEST(StartupPhase, RestartedMemberDeliversEverythingItAcknowledges) {
    BusWindowNet net(Layout(kTwo));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    ASSERT_TRUE(b.WindowSync());
    int n = 0;
    for (; n < 50; ++n) SendStep(net, a, 20, 2, n);
    net.Run(5, kMs);
    EXPECT_EQ(Range(0, 49), Sequences(b.Drain()));

    net.Stop(b);  // B's process ends
    for (; n < 60; ++n) SendStep(net, a, 20, 2, n);
    net.Run(5, kMs);
    NodeOptions startup;
    startup.startup_phase = true;
    startup.timing.sync_wait_full_pass = true;  // its synchronisation takes its whole second
    BusNode& b2 = net.Restart(b, startup);
    net.ClearSent();
    for (; n < 62; ++n) SendStep(net, a, 20, 2, n);
    net.Run(5, kMs);
    EXPECT_TRUE(SentBy(net, b2.Index(), kPktAck).empty()) << "nothing is acknowledged before the positions are known";
    EXPECT_TRUE(b2.Drain().empty());

    // A goes on sending while B's synchronisation waits out its replies: once A's position
    // is known, B takes those messages in its start-up phase and acknowledges them
    int32_t resumed = -1;
    ASSERT_TRUE(b2.WindowSync([&] {
        if (b2.Peer(10, 1).recv_synced.load() != 1 || n >= 75) return;
        if (resumed < 0) resumed = b2.Peer(10, 1).recv->NextExpected();
        EXPECT_TRUE(b2.Mgr().InStartupPhase());
        while (n < 75) SendStep(net, a, 20, 2, n++);
    }));
    EXPECT_EQ(75, n);
    EXPECT_EQ(62, resumed) << "A's next send when B asked";
    int32_t acked = -1;
    for (const NetPacket& p : SentBy(net, b2.Index(), kPktAck)) acked = std::max(acked, p.Sequence());
    EXPECT_EQ(74, acked) << "acknowledged in the start-up phase";
    EXPECT_FALSE(b2.Mgr().InStartupPhase());

    for (; n < 90; ++n) SendStep(net, a, 20, 2, n);
    net.Run(10, kMs);
    const std::vector<Delivered> got = b2.Drain();
    EXPECT_EQ(Range(resumed, 89), Sequences(got));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(Body(62), got.front().data);
    EXPECT_EQ(Body(89), got.back().data);
}

TEST(StartupPhase, SyncWaitsForTheReceiverToGoLive) {
    BusWindowNet net(Layout(kTwo));
    NodeOptions startup;
    startup.startup_phase = true;
    startup.receiver_leaves_startup = false;
    BusNode& a = net.Add(10, 1, startup);
    net.Add(20, 2);
    EXPECT_TRUE(a.Mgr().InStartupPhase());
    EXPECT_FALSE(a.Mgr().StartupSyncDone());
    std::thread receiver([&] {
        for (int i = 0; i < 20000 && !a.Mgr().StartupSyncDone(); ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        a.Mgr().LeaveStartupPhase();
    });
    ASSERT_TRUE(a.WindowSync());
    receiver.join();
    EXPECT_FALSE(a.Mgr().InStartupPhase());
}

// A device of a hot-backup pair restarted while its partner and a client keep running: it
// synchronises with the client at start-up and takes the client's traffic in sequence.
TEST(StartupPhase, RestartedPairDeviceResynchronisesWithItsClients) {
    BusWindowNet net(Layout("window 16\n"
                            "group 10 0 0\n"
                            "group 20 1 1\n"
                            "member 10 1 127.0.0.1 7001\n"
                            "member 10 2 127.0.0.1 7002\n"
                            "member 20 5 127.0.0.1 7005\n"
                            "msg 10 0x100\n"));
    NodeOptions standby;
    standby.identity = 2;
    BusNode& p1 = net.Add(10, 1);
    BusNode& p2 = net.Add(10, 2, standby);
    BusNode& c = net.Add(20, 5);
    int n = 0;
    for (; n < 30; ++n) ASSERT_EQ(2, SendStep(net, c, 10, -1, n));
    net.Run(5, kMs);
    EXPECT_EQ(Range(0, 29), Sequences(p2.Drain()));

    net.Stop(p2);
    for (; n < 40; ++n) SendStep(net, c, 10, -1, n);
    net.Run(5, kMs);
    standby.startup_phase = true;
    BusNode& p2b = net.Restart(p2, standby);
    ASSERT_TRUE(p2b.WindowSync()) << "a pair device synchronises too";
    VornPeerWindow& from_c = p2b.Peer(20, 5);
    EXPECT_EQ(1, from_c.recv_synced.load());
    EXPECT_EQ(c.Peer(10, 2).send->Next(), from_c.recv->NextExpected());
    EXPECT_EQ(c.Peer(10, 2).recv->NextExpected(), from_c.send->Next())
        << "its sends continue where the client's window for the pair stands";
    EXPECT_FALSE(p2b.Mgr().InStartupPhase());

    const int32_t resumed = from_c.recv->NextExpected();
    for (; n < 70; ++n) SendStep(net, c, 10, -1, n);
    net.Run(20, kMs);
    const std::vector<Delivered> got = p2b.Drain();
    EXPECT_EQ(Range(resumed, 69), Sequences(got)) << "nothing after the restart is lost as out of window";
    EXPECT_EQ(Range(0, 69), Sequences(p1.Drain())) << "the partner is not disturbed";
}
