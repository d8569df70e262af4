// The fake coordinator's layout text, which the coordinator program reads too.
#include <gtest/gtest.h>

#include <string>

#include "support/FakeCoordinator.h"

using namespace oxa_test;

TEST(CoordLayout, ReadsEveryItem) {
    CoordLayout l;
    std::string error;
    ASSERT_TRUE(ParseCoordLayout("window 4096 # slots\nwatermark 50\ndate 20240102\nlost 7\nmulticast 1\n"
                                 "group 3 0 0 ip=239.0.0.3 data=45000 control=45001 inner=45002 chief=9\n"
                                 "member 3 9 127.0.0.1 45009 partition=2\n"
                                 "msg 3 0x10 Y\nmsg 3 17\n",
                                 l, &error))
        << error;
    EXPECT_EQ(4096, l.window);
    EXPECT_EQ(50, l.ack_water_mark);
    EXPECT_EQ(20240102, l.date);
    EXPECT_EQ(7, l.lost_over_time_s);
    EXPECT_TRUE(l.multicast);
    ASSERT_EQ(1u, l.groups.size());
    EXPECT_EQ('0', l.groups[0].mode);
    EXPECT_EQ("239.0.0.3", l.groups[0].ip);
    EXPECT_EQ(45000, l.groups[0].data_port);
    EXPECT_EQ(9, l.groups[0].chief);
    ASSERT_EQ(1u, l.members.size());
    EXPECT_EQ(45009, l.members[0].port);
    EXPECT_EQ(2, l.members[0].partition);
    ASSERT_EQ(2u, l.msgs.size());
    EXPECT_EQ(0x10, l.msgs[0].msg_id);
    EXPECT_EQ('Y', l.msgs[0].store);
    EXPECT_EQ('N', l.msgs[1].store);
}

TEST(CoordLayout, NamesTheLineOfAnError) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"window\n", "line 1: expected one number"},
        {"\n\ngroup 1 0\n", "line 3: group ID MODE SVR [key=value...]"},
        {"group 1 0 0 colour=red\n", "line 1: unknown key: colour"},
        {"group 1 0 0 ip=1234567890123456\n", "line 1: ip longer than 15 characters"},
        {"member 1 2 127.0.0.1 port\n", "line 1: member GROUP ID IP PORT [partition=N]"},
        {"msg 1 2 X\n", "line 1: store flag Y or N"},
        {"route 1\n", "line 1: unknown item: route"},
    };
    for (const auto& c : cases) {
        CoordLayout l;
        std::string error;
        EXPECT_FALSE(ParseCoordLayout(c.text, l, &error)) << c.text;
        EXPECT_EQ(c.error, error);
    }
}
