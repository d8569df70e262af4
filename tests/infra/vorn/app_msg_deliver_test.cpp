// The rotation of a plain member's delivery: each pass delivers at most one message per
// source position, starting one position later than the pass before and at position 1 again
// once it has passed the last; the inferior position (the own hot-backup group) is served only
// when a pass found nothing else pending. The table fixes the order for several sources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "infra/vorn/AppMsgDeliver.h"
#include "support/BusWindowNet.h"

using namespace OXA::VORN;
using oxa_test::BusNode;
using oxa_test::BusWindowNet;
using oxa_test::Layout;

namespace {

// Group 10 is the receiver's own group (member 1 alone), group 20 holds the sources 2, 3, 4.
// Positions on the receiver: 0 its own group's list (loop-back), then members 2, 3, 4.
std::string LayoutText(bool own_hot_backup) {
    return std::string("window 64\n") + (own_hot_backup ? "group 10 0 0\n" : "group 10 1 0\n") +
           "group 20 1 1\n"
           "member 10 1 127.0.0.1 7001\n"
           "member 20 2 127.0.0.1 7002\n"
           "member 20 3 127.0.0.1 7003\n"
           "member 20 4 127.0.0.1 7004\n"
           "msg 10 0x100\n";
}

using Delivery = std::pair<int, int>;  // (position, number within that position)
std::vector<Delivery> g_order;

void Record(uint32_t, uint32_t, const void* data, uint32_t length, uint64_t, const VornMsgSource* source) {
    int n = -1;
    if (data && length >= sizeof n) std::memcpy(&n, data, sizeof n);
    const int position = source->group_id == 10 ? 0 : source->member_id - 1;
    g_order.emplace_back(position, n);
}

std::vector<uint8_t> Numbered(int n) {
    std::vector<uint8_t> b(sizeof n);
    std::memcpy(b.data(), &n, sizeof n);
    return b;
}

}  // namespace

TEST(AppMsgDeliver, RotationOrderIsFixedByStartAndPending) {
    struct Case {
        const char* name;
        bool own_hot_backup;  // position 0 is then the inferior one
        std::size_t start;
        std::vector<int> pending;  // by position
        std::vector<Delivery> order;
    } cases[] = {
        {"one per position per pass, wrapping to 1", false, 3, {2, 2, 0, 2},
         {{3, 0}, {0, 0}, {1, 0}, {1, 1}, {3, 1}, {0, 1}}},
        {"the busy source only once per pass", false, 0, {1, 4, 1, 1},
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {1, 1}, {1, 2}, {1, 3}}},
        {"5, 0 and 2 pending: two passes of two, then one a pass", false, 1, {0, 5, 0, 2},
         {{1, 0}, {3, 0}, {3, 1}, {1, 1}, {1, 2}, {1, 3}, {1, 4}}},
        {"the inferior only when nothing else is pending", true, 2, {2, 3, 0, 2},
         {{3, 0}, {1, 0}, {3, 1}, {1, 1}, {1, 2}, {0, 0}, {0, 1}}},
        {"the inferior alone", true, 0, {3, 0, 0, 0}, {{0, 0}, {0, 1}, {0, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusWindowNet net(Layout(LayoutText(c.own_hot_backup)));
        BusNode& receiver = net.Add(10, 1);
        std::vector<BusNode*> sources = {&receiver, &net.Add(20, 2), &net.Add(20, 3), &net.Add(20, 4)};
        CAppMsgDeliver deliver(receiver.Sys(), receiver.Mgr());
        ASSERT_TRUE(deliver.Init(&Record, 0));
        ASSERT_EQ(4u, deliver.PositionCount());
        EXPECT_EQ(c.own_hot_backup ? 0 : -1, deliver.InferiorPosition());
        for (std::size_t p = 0; p < sources.size(); ++p)
            for (int n = 0; n < c.pending[p]; ++n) ASSERT_EQ(1, sources[p]->Send(10, 1, 0x100, Numbered(n)));
        net.Settle();
        for (std::size_t p = 0; p < sources.size(); ++p)
            ASSERT_EQ(c.pending[p], deliver.Pending(static_cast<int>(p))) << "position " << p;
        g_order.clear();
        deliver.SetRotationStart(c.start);
        EXPECT_EQ(c.order.size(), deliver.RotationRound());
        EXPECT_EQ(c.order, g_order);
    }
}
