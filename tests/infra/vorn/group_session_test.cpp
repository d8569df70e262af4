// Two members driven step by step through an in-memory network: the send window, its jam
// and abandon rules, ACK / NAK / RACK timing and the retransmissions.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "infra/vorn/GroupSession.h"
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

namespace {

constexpr int64_t kMs = 1000000;

// A (group 10, member 1) sends to B (group 20, member 2); both server groups.
std::string TwoMembers(int window, int watermark = 100) {
    return "window " + std::to_string(window) + "\nwatermark " + std::to_string(watermark) +
           "\n"
           "group 10 1 0\n"
           "group 20 1 0\n"
           "member 10 1 127.0.0.1 7001\n"
           "member 20 2 127.0.0.1 7002\n"
           "msg 20 0x100\n"
           "msg 10 0x101\n";
}

// Loses the first copy of the app messages to `to_port` whose sequences are listed.
struct LoseOnce {
    uint16_t to_port;
    std::set<int32_t> seqs;
    bool operator()(const NetPacket& p) {
        if (p.Type() != kPktApp || ntohs(p.to.sin_port) != to_port) return false;
        return seqs.erase(p.Sequence()) > 0;
    }
};

}  // namespace

TEST(SendWindow, JamThenRackThenAbandonThenSkipThenReenableByReprobe) {
    BusWindowNet net(Layout(TwoMembers(8)));
    net.Clock().SetStepPerRead(10000);  // a spinning sender sees time pass
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    VornPeerWindow& to_b = a.Peer(20, 2);
    ASSERT_EQ(8u, to_b.send->Slots());

    ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(0)));
    net.Run(2, kMs);
    EXPECT_EQ(0, to_b.send->Acked()) << "the ACK moved the acknowledged point";

    bool b_hangs = true;
    net.SetFilter([&](const NetPacket& p) { return b_hangs && p.to.sin_port == htons(7002); });
    for (int i = 1; i <= 7; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i))) << i;
    net.ClearSent();
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(8))) << "a full window after the jam wait reaches nobody";
    EXPECT_EQ(kSlotAbandoned, to_b.slot_state.load());
    const auto racks = SentBy(net, a.Index(), kPktRack);
    ASSERT_EQ(1u, racks.size()) << "the jam asks for an acknowledgement first";
    EXPECT_EQ(7, racks[0].Sequence());
    EXPECT_EQ(SinkChannel::kApp, racks[0].channel);
    EXPECT_TRUE(SentBy(net, a.Index(), kPktApp).empty());

    // skipped: no datagram, no jam, until the peer shows it is back
    net.ClearSent();
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(9)));
    EXPECT_TRUE(net.Sent().empty());
    b_hangs = false;
    a.Group(20).OnAck(0, 0);  // an old acknowledgement again is no sign of life
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(10)));

    // the handler re-probes the abandoned peer; its NAK gets 1..7 resent and acknowledged
    net.Run(1200, kMs);
    EXPECT_GE(SentBy(net, a.Index(), kPktRack).size(), 1u);
    EXPECT_EQ(7, to_b.send->Acked());
    EXPECT_EQ(1, a.Send(20, 2, 0x100, Body(11))) << "back in use once it answered";
    EXPECT_EQ(kSlotNormal, to_b.slot_state.load());
    net.Run(5, kMs);
    const std::vector<Delivered> got = b.Drain();
    EXPECT_EQ(Range(0, 8), Sequences(got));
    ASSERT_EQ(9u, got.size());
    EXPECT_EQ(Body(11), got[8].data) << "skipped messages never arrive; the next one follows in sequence";
}

TEST(SendWindow, AbandonedPeerComesBackOnlyWhenItsResyncCounterChanges) {
    BusWindowNet net(Layout(TwoMembers(4)));
    net.Clock().SetStepPerRead(10000);
    BusNode& a = net.Add(10, 1);
    net.Add(20, 2);
    net.SetFilter([](const NetPacket& p) { return p.to.sin_port == htons(7002); });
    VornPeerWindow& to_b = a.Peer(20, 2);
    // a peer that never answered anything is abandoned at once on a full window
    for (int i = 0; i < 3; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(3)));
    EXPECT_EQ(kSlotAbandoned, to_b.slot_state.load());
    EXPECT_TRUE(SentBy(net, a.Index(), kPktRack).empty()) << "no jam wait for a never-synchronised peer";

    // a send-position reply sets the counter to 1; the counter remembered at the abandoning
    // is what counts, so a later abandon is not undone by that 1
    a.Group(20).ApplySendPositionReply(0, 2);
    EXPECT_EQ(kSlotNormal, to_b.slot_state.load());
    EXPECT_EQ(1, to_b.resync.load());
    for (int i = 0; i < 3; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(4)));
    EXPECT_EQ(kSlotAbandoned, to_b.slot_state.load());
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(5))) << "counter still 1 as remembered";

    // the peer asks for the receive position: the counter changes and the peer is used again
    sockaddr_in from{};
    a.Group(20).OnRecvPositionRequest(0, kPktRecvPos, from);
    EXPECT_EQ(2, to_b.resync.load());
    EXPECT_EQ(1, a.Send(20, 2, 0x100, Body(6)));
}

TEST(SendWindow, WindowsOfOneSlotNeverHaveRoom) {
    BusWindowNet net(Layout(TwoMembers(1)));
    net.Clock().SetStepPerRead(10000);
    BusNode& a = net.Add(10, 1);
    net.Add(20, 2);
    a.Group(20).ApplySendPositionReply(0, -1);  // synchronised: the jam rule applies
    EXPECT_EQ(0, a.Send(20, 2, 0x100, Body(0)));
    EXPECT_EQ(1u, SentBy(net, a.Index(), kPktRack).size());
    EXPECT_EQ(kSlotAbandoned, a.Peer(20, 2).slot_state.load());
}

TEST(Retransmission, NakAnswersResendTheStoredBytesExactly) {
    BusWindowNet net(Layout(TwoMembers(16)));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    net.SetFilter(LoseOnce{7002, {2, 3}});
    for (int i = 0; i < 5; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i), 1000 + i));
    std::vector<NetPacket> first = SentBy(net, a.Index(), kPktApp);
    ASSERT_EQ(5u, first.size());
    net.Run(4, kMs);

    const auto naks = SentBy(net, b.Index(), kPktNak);
    ASSERT_FALSE(naks.empty());
    EXPECT_EQ(std::make_pair(2, 3), RangeOf(naks[0]));
    const auto all = SentBy(net, a.Index(), kPktApp);
    ASSERT_EQ(7u, all.size());
    EXPECT_EQ(first[2].bytes, all[5].bytes) << "resend of 2 is the datagram first sent";
    EXPECT_EQ(first[3].bytes, all[6].bytes);
    EXPECT_EQ(SinkChannel::kSync, all[5].channel);

    const std::vector<Delivered> got = b.Drain();
    EXPECT_EQ(Range(0, 4), Sequences(got));
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(Body(static_cast<int>(i)), got[i].data);
        EXPECT_EQ(static_cast<int32_t>(1000 + i), got[i].tag);
        EXPECT_EQ(0x100, got[i].msg_id);
        ASSERT_NE(nullptr, got[i].source);
        EXPECT_EQ(10, got[i].source->group_id);
        EXPECT_EQ(1, got[i].source->member_id);
    }
}

TEST(Retransmission, NakRangesAreClampedToWhatTheWindowHolds) {
    BusWindowNet net(Layout(TwoMembers(8)));
    BusNode& a = net.Add(10, 1);
    net.Add(20, 2);
    net.SetFilter([](const NetPacket& p) { return p.to.sin_port == htons(7002); });
    CGroupSession& g = a.Group(20);
    for (int i = 0; i < 6; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    g.OnAck(0, 2);  // 0..2 acknowledged, 3..5 outstanding
    struct Case {
        int32_t first, last;
        std::vector<int32_t> resent;
    } cases[] = {
        {3, 5, {3, 4, 5}},
        {0, 100, {3, 4, 5}},  // acknowledged and never-sent sequences are left out
        {5, 5, {5}},
        {6, 9, {}},
        {4, 3, {}},
        {-5, -1, {}},
    };
    for (const Case& c : cases) {
        net.ClearSent();
        g.ResendRange(c.first, c.last, 0);
        std::vector<int32_t> resent;
        for (const NetPacket& p : SentBy(net, a.Index(), kPktApp)) resent.push_back(p.Sequence());
        EXPECT_EQ(c.resent, resent) << c.first << ".." << c.last;
    }

    // a sequence whose slot was reused after a position jump is never resent
    g.ApplySendPositionReply(0, 40);
    ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(41)));
    net.ClearSent();
    g.ResendRange(0, 100, 0);
    ASSERT_EQ(1u, SentBy(net, a.Index(), kPktApp).size());
    EXPECT_EQ(41, SentBy(net, a.Index(), kPktApp)[0].Sequence());

    // a standby does not resend
    a.Sys().SetDeviceIdentity(2);
    net.ClearSent();
    g.ResendRange(41, 41, 0);
    EXPECT_TRUE(net.Sent().empty());
}

TEST(Retransmission, NakIsNotRepeatedWithin300MsUnlessTheGapMoves) {
    BusWindowNet net(Layout(TwoMembers(32)));
    NodeOptions quiet;  // A's RACKs would open NAK ranges of their own
    quiet.timing.rack_interval_ns = 100000 * kMs;
    BusNode& a = net.Add(10, 1, quiet);
    BusNode& b = net.Add(20, 2);
    bool b_to_a = false;
    LoseOnce lose{7002, {7, 8, 9, 11, 12}};
    net.SetFilter([&](const NetPacket& p) { return (p.sender == b.Index() && !b_to_a) || lose(p); });
    for (int i = 0; i <= 13; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    net.Pump();

    auto naks = [&] {
        std::vector<std::pair<int32_t, int32_t>> out;
        for (const NetPacket& p : SentBy(net, b.Index(), kPktNak)) out.push_back(RangeOf(p));
        return out;
    };
    net.Tick();  // ACK 6
    EXPECT_EQ(1u, SentBy(net, b.Index(), kPktAck).size());
    EXPECT_EQ(6, SentBy(net, b.Index(), kPktAck)[0].Sequence());
    net.Clock().Advance(kMs);
    net.Tick();
    ASSERT_EQ(1u, naks().size());
    EXPECT_EQ(std::make_pair(7, 9), naks()[0]);
    for (int i = 0; i < 29; ++i) {
        net.Clock().Advance(10 * kMs);
        net.Tick();
    }
    EXPECT_EQ(1u, naks().size()) << "not again within 300 ms";
    net.Clock().Advance(10 * kMs);
    net.Tick();
    EXPECT_EQ(2u, naks().size()) << "again after 300 ms";

    // 7..9 arrive: the gap moves to 11..12, outside the last NAK range: NAKed at once
    b_to_a = true;
    net.Pump();  // the NAK reaches A, which resends 7..9
    net.Pump();
    net.Tick();  // ACK 10
    net.Clock().Advance(kMs);
    net.Tick();
    ASSERT_EQ(3u, naks().size());
    EXPECT_EQ(std::make_pair(11, 12), naks()[2]);
    net.Run(5, kMs);
    EXPECT_EQ(Range(0, 13), Sequences(b.Drain()));
}

TEST(Retransmission, TailLossIsRecoveredByRackThenNak) {
    BusWindowNet net(Layout(TwoMembers(16)));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    net.SetFilter(LoseOnce{7002, {3, 4}});
    for (int i = 0; i < 5; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    net.Run(100, 10 * kMs);

    const auto racks = SentBy(net, a.Index(), kPktRack);
    ASSERT_FALSE(racks.empty()) << "nothing told B of 3 and 4: A asks";
    EXPECT_EQ(4, racks[0].Sequence());
    const auto naks = SentBy(net, b.Index(), kPktNak);
    ASSERT_FALSE(naks.empty());
    EXPECT_EQ(std::make_pair(3, 4), RangeOf(naks[0]));
    EXPECT_EQ(Range(0, 4), Sequences(b.Drain()));
    EXPECT_EQ(4, a.Peer(20, 2).send->Acked());
}

TEST(Rack, AnsweredWithAckOrNak) {
    BusWindowNet net(Layout(TwoMembers(32)));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    net.SetFilter([&](const NetPacket& p) { return p.sender == b.Index(); });
    for (int i = 0; i < 13; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    net.Pump();
    ASSERT_EQ(13, b.Peer(10, 1).recv->NextExpected());
    CGroupSession& g = b.Group(10);
    g.AnswerRack(0, 12, net.Clock().Peek());
    ASSERT_EQ(1u, SentBy(net, b.Index(), kPktAck).size());
    EXPECT_EQ(12, SentBy(net, b.Index(), kPktAck)[0].Sequence());
    g.AnswerRack(0, 15, net.Clock().Peek());
    ASSERT_EQ(1u, SentBy(net, b.Index(), kPktNak).size());
    EXPECT_EQ(std::make_pair(13, 15), RangeOf(SentBy(net, b.Index(), kPktNak)[0]));
}

TEST(Rack, AtMost27TimedRacksPerStall) {
    BusWindowNet net(Layout(TwoMembers(16)));
    BusNode& a = net.Add(10, 1);
    net.Add(20, 2);
    net.SetFilter([](const NetPacket& p) { return p.to.sin_port == htons(7002); });
    ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(0)));
    net.Run(400, 100 * kMs);
    EXPECT_EQ(27u, SentBy(net, a.Index(), kPktRack).size());
}

TEST(Rack, ImmediateRackWhenFarMoreIsOutstanding) {
    NodeOptions o;
    o.timing.immediate_rack_outstanding = 4;
    BusWindowNet net(Layout(TwoMembers(32)));
    BusNode& a = net.Add(10, 1, o);
    net.Add(20, 2);
    net.SetFilter([](const NetPacket& p) { return p.to.sin_port == htons(7002); });
    for (int i = 0; i < 6; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    net.Tick();  // the stall starts
    net.Tick();  // 6 outstanding > 4: at once, no 300 ms wait
    ASSERT_EQ(1u, SentBy(net, a.Index(), kPktRack).size());
    EXPECT_EQ(5, SentBy(net, a.Index(), kPktRack)[0].Sequence());
    net.Tick();
    EXPECT_EQ(1u, SentBy(net, a.Index(), kPktRack).size()) << "measured from the last immediate point";
    for (int i = 6; i < 11; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
    net.Tick();
    EXPECT_EQ(2u, SentBy(net, a.Index(), kPktRack).size());
}

TEST(Ack, WatermarkDecidesWhenAnAckGoesAtOnce) {
    struct Case {
        int window;
        int watermark;
        int burst;
        bool ack_at_once;
    } cases[] = {
        {2048, 500, 1, true},    // watermark 0: every new in-order message
        {4096, 500, 50, false},  // watermark 100: 50 ahead waits for the interval
        {4096, 500, 101, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        BusWindowNet net(Layout(TwoMembers(c.window, c.watermark)));
        BusNode& a = net.Add(10, 1);
        BusNode& b = net.Add(20, 2);
        ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(0)));
        net.Pump();
        net.Tick();  // first ACK
        ASSERT_EQ(1u, SentBy(net, b.Index(), kPktAck).size());
        for (int i = 0; i < c.burst; ++i) ASSERT_EQ(1, a.Send(20, 2, 0x100, Body(i)));
        net.Pump();
        net.Tick();  // no time has passed
        EXPECT_EQ(c.ack_at_once ? 2u : 1u, SentBy(net, b.Index(), kPktAck).size());
        net.Clock().Advance(kMs / 2);
        net.Tick();
        EXPECT_EQ(2u, SentBy(net, b.Index(), kPktAck).size()) << "the interval passed";
    }
}

TEST(Loopback, OwnMemberGetsItsOwnMessageWithoutTheNetwork) {
    BusWindowNet net(Layout("window 16\n"
                            "group 10 1 0\n"
                            "member 10 1 127.0.0.1 7001\n"
                            "member 10 3 127.0.0.1 7003\n"
                            "msg 10 0x101\n"));
    BusNode& a = net.Add(10, 1);
    BusNode& c = net.Add(10, 3);
    EXPECT_EQ(2, a.Send(10, -1, 0x101, Body(7), 55));
    const auto app = SentBy(net, a.Index(), kPktApp);
    ASSERT_EQ(1u, app.size()) << "only member 3 is sent to";
    EXPECT_EQ(3, app[0].member);
    const std::vector<Delivered> own = a.Drain();
    ASSERT_EQ(1u, own.size());
    EXPECT_EQ(Body(7), own[0].data);
    EXPECT_EQ(55, own[0].tag);
    ASSERT_NE(nullptr, own[0].source);
    EXPECT_EQ(1, own[0].source->member_id);
    EXPECT_EQ(1u, a.Mgr().LoopbackCount());
    net.Pump();
    EXPECT_EQ(1u, c.Drain().size());
}

TEST(Multicast, OneDatagramCarriesEachMembersSequence) {
    BusWindowNet net(Layout("window 16\nmulticast 1\n"
                            "group 10 1 0\n"
                            "group 20 1 0 ip=239.1.1.1 data=7100\n"
                            "member 10 1 127.0.0.1 7001\n"
                            "member 20 2 127.0.0.2 7002\n"
                            "member 20 3 127.0.0.3 7003\n"
                            "msg 20 0x100\n"));
    BusNode& a = net.Add(10, 1);
    BusNode& b = net.Add(20, 2);
    BusNode& c = net.Add(20, 3);
    ASSERT_TRUE(a.Group(20).MulticastMode());
    a.Group(20).ApplySendPositionReply(1, 9);  // member 3 is further on
    c.Peer(10, 1).recv->Reset(10);
    EXPECT_EQ(2, a.Send(20, -1, 0x100, Body(0)));
    const auto mc = SentBy(net, a.Index(), kPktMulticastApp);
    ASSERT_EQ(1u, mc.size());
    EXPECT_TRUE(SentBy(net, a.Index(), kPktApp).empty());
    net.Pump();
    const auto got_b = b.Drain(), got_c = c.Drain();
    ASSERT_EQ(1u, got_b.size());
    ASSERT_EQ(1u, got_c.size());
    EXPECT_EQ(0, got_b[0].sequence);
    EXPECT_EQ(10, got_c[0].sequence);
    EXPECT_EQ(Body(0), got_c[0].data);
    // a lost multicast is made good member by member from the window
    net.SetFilter([](const NetPacket& p) { return p.Type() == kPktMulticastApp; });
    EXPECT_EQ(2, a.Send(20, -1, 0x100, Body(1)));
    net.Run(60, 10 * kMs);
    EXPECT_EQ(std::vector<int32_t>{1}, Sequences(b.Drain()));
    EXPECT_EQ(std::vector<int32_t>{11}, Sequences(c.Drain()));
}

TEST(Multicast, PartitionsAreHonouredMemberByMember) {
    // own partition 0: the partition argument filters; member 3 lies outside partition 5
    // and member 4 is routed to nobody (0x7FFF)
    const char* layout = "window 16\nmulticast 1\n"
                         "group 10 1 0\n"
                         "group 20 1 0 ip=239.1.1.1 data=7100\n"
                         "member 10 1 127.0.0.1 7001 partition=0\n"
                         "member 20 2 127.0.0.2 7002 partition=5\n"
                         "member 20 3 127.0.0.3 7003 partition=6\n"
                         "msg 20 0x100\n";
    {
        BusWindowNet net(Layout(layout));
        BusNode& a = net.Add(10, 1);
        int reached = 0;
        a.Group(20).SendMsg(0, -1, 0x100, "x", 1, 5, &reached);
        EXPECT_EQ(1, reached);
        const auto mc = SentBy(net, a.Index(), kPktMulticastApp);
        ASSERT_EQ(1u, mc.size());
        const NetPacket& p = mc[0];
        // the list behind the data: member 2 has sequence 0, member 3 is skipped
        ASSERT_EQ(kAppHeaderSize + 1 + 8, p.bytes.size());
        int32_t s2 = 0, s3 = 0;
        std::memcpy(&s2, &p.bytes[kAppHeaderSize + 1], 4);
        std::memcpy(&s3, &p.bytes[kAppHeaderSize + 5], 4);
        EXPECT_EQ(0, s2);
        EXPECT_EQ(-1, s3);
    }
    std::string excluded = layout;
    excluded.replace(excluded.find("partition=6"), 11, "partition=32767");
    {
        BusWindowNet net(Layout(excluded));
        BusNode& a = net.Add(10, 1);
        ASSERT_FALSE(a.Group(20).AllRouted());
        EXPECT_EQ(1, a.Send(20, -1, 0x100, Body(0))) << "falls back to sends member by member";
        EXPECT_TRUE(SentBy(net, a.Index(), kPktMulticastApp).empty());
        const auto app = SentBy(net, a.Index(), kPktApp);
        ASSERT_EQ(1u, app.size());
        EXPECT_EQ(2, app[0].member);
    }
}
