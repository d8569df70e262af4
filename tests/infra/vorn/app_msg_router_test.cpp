#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <set>
#include <string>
#include <vector>

#include "infra/vorn/AppMsgRouter.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornWire.h"
#include "support/BusWindowNet.h"

using namespace OXA::VORN;
using oxa_test::BusNode;
using oxa_test::BusWindowNet;
using oxa_test::Layout;
using oxa_test::NetPacket;
using oxa_test::ToVornLayout;

namespace {

constexpr int64_t kMs = 1000000;

// Own client group 10; server group 20; client group 30; a hot-backup server pair 40.
const char* kBus =
    "window 16\n"
    "group 10 1 1\n"
    "group 20 1 0\n"
    "group 30 1 1\n"
    "group 40 0 0\n"
    "member 10 1 127.0.0.1 7001\n"
    "member 20 2 127.0.0.1 7002\n"
    "member 20 3 127.0.0.1 7003\n"
    "member 30 4 127.0.0.1 7004\n"
    "member 30 5 127.0.0.1 7005\n"
    "member 40 6 127.0.0.1 7006\n"
    "member 40 7 127.0.0.1 7007\n"
    "msg 30 0x100\n"
    "msg 20 0x100\n"
    "msg 30 0x100\n"
    "msg 30 0x300\n"
    "msg 40 0x400\n"
    "msg 20 0x0f0\n";

struct Fixture {
    explicit Fixture(const std::string& text = kBus, int16_t group = 10, int16_t member = 1)
        : net(Layout(text)), node(net.Add(group, member)), router(node.Sys(), node.Mgr()) {
        router.Build(ToVornLayout(Layout(text)).msgs);
    }
    // Members that app datagrams went to since the last call.
    std::multiset<int> Addressees() {
        std::multiset<int> out;
        for (const NetPacket& p : net.Sent())
            if (p.Type() == kPktApp) out.insert(p.member);
        net.ClearSent();
        return out;
    }
    BusWindowNet net;
    BusNode& node;
    CAppMsgRouter router;
};

std::vector<int16_t> Ids(const std::vector<CGroupSession*>* list) {
    std::vector<int16_t> out;
    if (list)
        for (CGroupSession* g : *list) out.push_back(g->GroupId());
    return out;
}

}  // namespace

TEST(Router, ListsHoldOtherGroupsFirstAndEachGroupOnce) {
    Fixture f;
    EXPECT_EQ(0x0f0, f.router.LowestId());
    EXPECT_EQ(0x400, f.router.HighestId());
    EXPECT_EQ((std::vector<int16_t>{30, 20}), Ids(f.router.RouteList(0x100)));
    EXPECT_EQ((std::vector<int16_t>{40}), Ids(f.router.RouteList(0x400)));
    EXPECT_EQ(nullptr, f.router.RouteList(0x200)) << "inside the range, named by no record";
    EXPECT_EQ(nullptr, f.router.RouteList(0x401));
    EXPECT_EQ(nullptr, f.router.RouteList(-1));
}

TEST(Router, SendRules) {
    struct Case {
        const char* name;
        int16_t msg_id;
        int16_t group, member;
        bool broadcast;
        std::multiset<int> to;
        bool routed;
    } cases[] = {
        {"broadcast: every member of server groups", 0x100, -1, -1, true, {2, 3}, true},
        {"broadcast: a named member of another group too", 0x100, 30, 5, true, {2, 3, 5}, true},
        {"broadcast: another group without a member", 0x100, 30, -1, true, {2, 3}, true},
        {"broadcast: an unknown member of another group", 0x100, 30, 9, true, {2, 3}, true},
        {"broadcast reaching nobody", 0x300, -1, -1, true, {}, true},
        {"directed to one member of a plain group", 0x100, 20, 3, false, {3}, true},
        {"directed to a plain group", 0x100, 20, -1, false, {2, 3}, true},
        {"directed to a member of a pair: the whole pair", 0x400, 40, 7, false, {6, 7}, true},
        {"directed to a group the id does not reach", 0x100, 40, -1, false, {}, false},
        {"directed to an unknown member", 0x100, 20, 9, false, {}, false},
        {"an id nobody takes", 0x222, -1, -1, true, {}, false},
    };
    for (const Case& c : cases) {
        Fixture f;
        const RouteResult r = f.router.Send(0, c.msg_id, "abc", 3, c.group, c.member, c.broadcast, -1);
        EXPECT_EQ(c.routed, r.routed) << c.name;
        EXPECT_EQ(static_cast<int>(c.to.size()), r.reached) << c.name;
        EXPECT_EQ(c.to.empty() ? 0 : 1, r.Result()) << c.name << ": a send that reached nobody fails";
        EXPECT_EQ(c.to, f.Addressees()) << c.name;
    }
}

TEST(Router, DataChecks) {
    Fixture f;
    const std::vector<uint8_t> big(1372, 'x');
    EXPECT_FALSE(f.router.Send(0, 0x100, nullptr, 5, -1, -1, true, -1).routed);
    EXPECT_FALSE(f.router.Send(0, 0x100, big.data(), 1372, -1, -1, true, -1).routed);
    EXPECT_EQ(1, f.router.Send(0, 0x100, big.data(), 1371, -1, -1, true, -1).Result());
    const auto sent = f.net.Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(1400u, sent.back().bytes.size()) << "the largest datagram";
    EXPECT_EQ(1, f.router.Send(0, 0x100, nullptr, 0, -1, -1, true, -1).Result()) << "an empty body";
}

TEST(Router, PartitionArgumentCountsOnlyForAnOwnPartitionOfZero) {
    const std::string text = "window 16\n"
                             "group 10 1 1\ngroup 20 1 0\n"
                             "member 10 1 127.0.0.1 7001 partition=P\n"
                             "member 20 2 127.0.0.1 7002 partition=0\n"
                             "member 20 3 127.0.0.1 7003 partition=3\n"
                             "member 20 4 127.0.0.1 7004 partition=4\n"
                             "msg 20 0x100\n";
    auto with = [&](const char* p) {
        std::string t = text;
        t.replace(t.find("partition=P"), 11, std::string("partition=") + p);
        return t;
    };
    {
        Fixture f(with("0"));
        EXPECT_EQ(2, f.router.Send(0, 0x100, "x", 1, -1, -1, true, 3).reached) << "members 2 (any) and 3";
        EXPECT_EQ(3, f.router.Send(0, 0x100, "x", 1, -1, -1, true, -1).reached);
    }
    {
        Fixture f(with("3"));
        EXPECT_EQ(2, f.router.Send(0, 0x100, "x", 1, -1, -1, true, 4).reached)
            << "the argument is ignored; partition 4 is not routed at all";
    }
}

TEST(Router, EveryPeerAbandonedFailsTheSendUntilThePeerAnswers) {
    Fixture f("window 4\n"
              "group 10 1 1\ngroup 20 1 0\n"
              "member 10 1 127.0.0.1 7001\n"
              "member 20 2 127.0.0.1 7002\n"
              "msg 20 0x100\n");
    f.net.Add(20, 2);
    bool away = true;
    f.net.SetFilter([&](const NetPacket& p) { return away && p.to.sin_port == htons(7002); });
    for (int i = 0; i < 3; ++i) ASSERT_EQ(1, f.router.Send(0, 0x100, "x", 1, -1, -1, true, -1).Result());
    EXPECT_EQ(0, f.router.Send(0, 0x100, "x", 1, -1, -1, true, -1).Result());
    EXPECT_EQ(0, f.router.Send(0, 0x100, "x", 1, -1, -1, true, -1).Result());
    away = false;
    f.net.Run(1500, kMs);  // the timed re-probe finds the peer
    EXPECT_EQ(1, f.router.Send(0, 0x100, "x", 1, -1, -1, true, -1).Result());
}
