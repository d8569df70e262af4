#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/BusSendFaults.h"
#include "support/FakeCoordinator.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"

using namespace OXA::VORN;
using namespace oxa_test;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Two groups: a plain group 10 (members 1, 2) and a hot-backup server group 20 (members 5, 6)
// with a multicast address; every port above 32767.
CoordLayout Layout() {
    CoordLayout l;
    std::string error;
    const bool ok = ParseCoordLayout(R"(
        window 3000
        watermark 500
        date 20230217
        lost 3
        multicast 1
        group 10 1 1 chief=1
        group 20 0 0 ip=239.1.1.1 data=50001 control=50002 inner=50003 chief=6
        member 10 1 127.0.0.1 40001
        member 20 5 127.0.0.1 50005 partition=3
        member 10 2 127.0.0.1 40002
        member 20 6 127.0.0.1 50006 partition=0x7FFF
        msg 10 0x502 Y
        msg 20 0x503
        msg 20 0x7FFF N
    )",
                                     l, &error);
    EXPECT_TRUE(ok) << error;
    return l;
}

HqtrsTiming FastTiming() {
    HqtrsTiming t;
    t.attempts = 3;
    // a lost reply costs this much; a whole second keeps a loaded machine from turning a late
    // reply into a lost one, which would change the attempt counts the tests check
    t.reply_wait_ms = 1000;
    t.primary_retry_ms = 30;
    t.failure_retry_ms = 50;
    return t;
}

// Lines of the log files of a folder, waiting until one contains until (bounded).
class LogFolder {
public:
    LogFolder() {
        char pattern[] = "/tmp/hqtrs_test_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_dir = made ? made : "/tmp";
        log.SetFolder(m_dir.c_str());
        log.SetEcho(0);
        log.SetAsync();
        log.SetSlotCount(1024);
        log.SetProducerMode(2);  // the tests read every line
        EXPECT_TRUE(log.Init());
    }
    ~LogFolder() {
        log.Stop();
        log.Close();
        if (DIR* d = ::opendir(m_dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.') ::unlink((m_dir + "/" + e->d_name).c_str());
            ::closedir(d);
        }
        ::rmdir(m_dir.c_str());
    }
    std::vector<std::string> WaitFor(const std::string& until) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            std::vector<std::string> lines;
            std::ifstream in(log.CurrentPath());
            bool found = false;
            for (std::string l; std::getline(in, l);) {
                const size_t p = l.find("] ");
                lines.push_back(p == std::string::npos ? l : l.substr(p + 2));
                if (lines.back().find(until) != std::string::npos) found = true;
            }
            if (found || Clock::now() > deadline) return lines;
            std::this_thread::sleep_for(milliseconds(5));
        }
    }
    xLog log;

private:
    std::string m_dir;
};

bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// One member against one coordinator.
struct Member {
    Member(const FakeCoordinator& coord, int16_t group, int16_t member, xLog* log = nullptr) : sys(log) {
        sys.SetCoordinator(coord.Ip().c_str(), coord.Port());
        sys.SetOwnIds(group, member);
        sys.Hqtrs().SetTiming(FastTiming());
    }
    CHqtrsClient& client() { return sys.Hqtrs(); }
    CVornSystem sys;
};

size_t CountSeq(const FakeCoordinator& c, uint8_t type, int32_t seq) {
    size_t n = 0;
    for (const CoordRequest& r : c.Requests())
        if (r.type == type && r.sequence == seq) ++n;
    return n;
}

// Reply editing helpers: replies are little-endian unless the coordinator writes big-endian.
void SetPayload(std::vector<uint8_t>& reply, uint32_t n) {
    reply.resize(23 + n, 0);
    for (int i = 0; i < 4; ++i) reply[19 + i] = static_cast<uint8_t>(n >> (8 * i));
}
void PutBe16(std::vector<uint8_t>& reply, size_t body_offset, uint16_t v) {
    reply[23 + body_offset] = static_cast<uint8_t>(v >> 8);
    reply[23 + body_offset + 1] = static_cast<uint8_t>(v);
}
void PutBe32(std::vector<uint8_t>& reply, size_t body_offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) reply[23 + body_offset + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

struct HqtrsExchange : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(coord.Start()); }
    FakeCoordinator coord{Layout()};
};

}  // namespace

// ---- the table download ----------------------------------------------------------------------

TEST_F(HqtrsExchange, DownloadsEveryTable) {
    Member m(coord, 10, 1);
    ASSERT_TRUE(m.client().QueryBasicInfo(20230301));
    const CHqtrsClient& c = m.client();
    EXPECT_EQ(2, c.Digest().group_count);
    EXPECT_EQ(4, c.Digest().member_count);
    EXPECT_EQ(3, c.Digest().message_count);
    EXPECT_EQ(3000, c.Digest().window_size);
    EXPECT_EQ(500, c.Digest().ack_water_mark);
    EXPECT_EQ(20230217, c.Digest().date);
    EXPECT_EQ(3, c.Digest().lost_over_time_s);

    ASSERT_EQ(2u, c.Groups().size());
    const HqtrsGroupInfo& g = c.Groups()[1];
    EXPECT_EQ(20, g.group_id);
    EXPECT_EQ('0', g.group_mode);
    EXPECT_EQ('0', g.svr_type);
    EXPECT_STREQ("239.1.1.1", g.group_ip);
    EXPECT_EQ(50001, g.data_port);  // unsigned: not -15535
    EXPECT_EQ(50002, g.control_port);
    EXPECT_EQ(50003, g.inner_port);
    EXPECT_EQ(2, g.member_numer);
    EXPECT_EQ(2, g.msg_numer);
    EXPECT_EQ(6, g.chief_member_id);

    ASSERT_EQ(4u, c.Members().size());  // in group order
    const int16_t ids[] = {1, 2, 5, 6};
    const uint16_t ports[] = {40001, 40002, 50005, 50006};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ids[i], c.Members()[i].member_id);
        EXPECT_EQ(ports[i], c.Members()[i].member_port);
        EXPECT_STREQ("127.0.0.1", c.Members()[i].member_ip);
    }
    ASSERT_EQ(3u, c.Msgs().size());
    EXPECT_EQ(0x502, c.Msgs()[0].msg_id);
    EXPECT_EQ('Y', c.Msgs()[0].store_flag);
    EXPECT_EQ(0x7FFF, c.Msgs()[2].msg_id);
    EXPECT_EQ(0, m.sys.PartitionOf(0));
    EXPECT_EQ(3, m.sys.PartitionOf(2));
    EXPECT_EQ(0x7FFF, m.sys.PartitionOf(3));
    EXPECT_EQ(-1, m.sys.PartitionOf(4));
    EXPECT_EQ(1, c.MulticastFlag());
    EXPECT_EQ(0, c.OwnGroupIndex());
    EXPECT_EQ('1', m.sys.Identity().group_mode);

    // what crossed the wire: every request once, in order, each with the table index
    const auto reqs = coord.Requests();
    ASSERT_EQ(1u + 2 + 4 + 3 + 4 + 1, reqs.size());
    EXPECT_EQ(kCoordDigestReq, reqs[0].type);
    EXPECT_EQ(20230301, reqs[0].sequence);  // the launch date
    for (const CoordRequest& r : reqs) {
        EXPECT_EQ(5, r.datagram[0]);
        EXPECT_EQ(23u, r.datagram.size());
        EXPECT_EQ(10, r.src_group_id);
        EXPECT_EQ(1, r.src_member_id);
        EXPECT_EQ(-1, r.src_group_index);
        EXPECT_EQ(-1, r.src_member_index);
        EXPECT_EQ(-1, r.dst_group_id);
        EXPECT_EQ(-1, r.dst_member_id);
        EXPECT_EQ(0, r.payload_length);
    }
    EXPECT_EQ(kCoordGroupReq, reqs[2].type);
    EXPECT_EQ(1, reqs[2].sequence);
    EXPECT_EQ(kCoordPartitionReq, reqs[13].type);
    EXPECT_EQ(3, reqs[13].sequence);
    EXPECT_EQ(kCoordMulticastReq, reqs[14].type);
}

// A coordinator and members on ports above 32767: every port stays positive, in the tables
// and in the log.
TEST(HqtrsClient, CoordinatorOnAPortAbove32767) {
    FakeCoordinator::Options opt;
    opt.min_port = 40000;
    FakeCoordinator coord(Layout(), opt);
    ASSERT_TRUE(coord.Start());
    ASSERT_GT(coord.Port(), 32767);
    LogFolder logs;
    Member m(coord, 10, 1, &logs.log);
    ASSERT_TRUE(m.client().QueryBasicInfo(0));
    EXPECT_EQ(coord.Port(), m.sys.CoordinatorPort());
    const auto lines = logs.WaitFor("Debug Basic Info End");
    const std::string at = "( 127.0.0.1:" + std::to_string(coord.Port()) + " )";
    EXPECT_TRUE(Has(lines, "Query Digest-Info From Hqtrs " + at + " Success."));
    EXPECT_TRUE(Has(lines, "Query Member-Partition-Id From Hqtrs " + at + " Success."));
    EXPECT_TRUE(Has(lines, "Support-Multicase-Flag: 1."));
    EXPECT_TRUE(Has(lines, "VORN Communication Window Size: 3000, AckWaterMark: 500 ."));
    EXPECT_TRUE(Has(lines, "VORN Peer Member Lost-Over-Time: 3 (s) ."));
    EXPECT_TRUE(Has(lines, "Group Number: 2."));
    // the short group line when no data port is set
    EXPECT_TRUE(Has(lines, "index = 0, group_id = 10, group_mode = 1, member_numer = 2, msg_numer = 1, svr_type = 1."));
    EXPECT_TRUE(Has(lines, "index = 1, group_id = 20, group_mode = 0, group_ip = 239.1.1.1, data_port = 50001, "
                           "member_numer = 2, msg_numer = 2, svr_type = 0."));
    EXPECT_TRUE(Has(lines, "index = 0, group_id = 10, member_id = 1, memeber_ip = 127.0.0.1, member_port = 40001, "
                           "chief_member = Y, partition_id = 0."));
    EXPECT_TRUE(Has(lines, "index = 3, group_id = 20, member_id = 6, memeber_ip = 127.0.0.1, member_port = 50006, "
                           "chief_member = Y, partition_id = 32767."));
    EXPECT_TRUE(Has(lines, "index = 2, group_id = 20, member_id = 5, memeber_ip = 127.0.0.1, member_port = 50005, "
                           "chief_member = N, partition_id = 3."));
    EXPECT_TRUE(Has(lines, "index = 0, group_id = 10, msg_id = 0x502, store_flag = Y."));
    EXPECT_TRUE(Has(lines, "Msg Number: 3."));
}

TEST_F(HqtrsExchange, LostRepliesAreAskedAgainUpToThreeAttempts) {
    coord.AddFault({kCoordGroupReq, 1, CoordFault::kDrop, 2});
    Member m(coord, 10, 1);
    ASSERT_TRUE(m.client().QueryBasicInfo(0));
    EXPECT_EQ(3u, CountSeq(coord, kCoordGroupReq, 1));

    FakeCoordinator lossy(Layout());
    ASSERT_TRUE(lossy.Start());
    lossy.AddFault({kCoordMemberReq, 2, CoordFault::kDrop, 3});
    LogFolder logs;
    Member n(lossy, 10, 1, &logs.log);
    EXPECT_FALSE(n.client().QueryBasicInfo(0));
    EXPECT_EQ(3u, CountSeq(lossy, kCoordMemberReq, 2));
    EXPECT_EQ(0u, lossy.Count(kCoordMsgReq));  // the download ended at member 2
    const std::string at = "( 127.0.0.1:" + std::to_string(lossy.Port()) + " )";
    EXPECT_TRUE(Has(logs.WaitFor("Member[2]"), "Send Query Member[2]-Info Req To Hqtrs " + at + " Fail."));
}

TEST_F(HqtrsExchange, WrongSequenceFailsTheDownloadAtThatEntry) {
    coord.AddFault({kCoordGroupReq, 1, CoordFault::kWrongSequence, 1});
    Member m(coord, 10, 1);
    EXPECT_FALSE(m.client().QueryBasicInfo(0));
    EXPECT_EQ(1u, CountSeq(coord, kCoordGroupReq, 1));  // a valid reply with the wrong index: no retry
    EXPECT_EQ(0u, coord.Count(kCoordMemberReq));
}

TEST_F(HqtrsExchange, ShortReplyIsDiscardedAndAskedAgain) {
    coord.AddFault({kCoordMemberReq, 0, CoordFault::kShortReply, 1});
    LogFolder logs;
    Member m(coord, 10, 1, &logs.log);
    ASSERT_TRUE(m.client().QueryBasicInfo(0));
    EXPECT_EQ(2u, CountSeq(coord, kCoordMemberReq, 0));
    EXPECT_TRUE(Has(logs.WaitFor("Data Len Error"), "Receive Invalid Packet: Data Len Error, Discard."));

    FakeCoordinator shorty(Layout());
    ASSERT_TRUE(shorty.Start());
    shorty.AddFault({kCoordDigestReq, -1, CoordFault::kShortReply, -1});
    Member n(shorty, 10, 1);
    EXPECT_FALSE(n.client().QueryBasicInfo(0));
    EXPECT_EQ(3u, shorty.Count(kCoordDigestReq));
}

TEST_F(HqtrsExchange, MissingMulticastFlagTurnsMulticastOff) {
    coord.AddFault({kCoordMulticastReq, -1, CoordFault::kDrop, -1});
    LogFolder logs;
    Member m(coord, 10, 1, &logs.log);
    ASSERT_TRUE(m.client().QueryBasicInfo(0));  // the launch goes on
    EXPECT_EQ(0, m.client().MulticastFlag());
    EXPECT_EQ(3u, coord.Count(kCoordMulticastReq));
    const auto lines = logs.WaitFor("Support-Multicase-Flag: 0.");
    EXPECT_TRUE(Has(lines, "Support-Multicase-Flag: 0."));
    EXPECT_TRUE(Has(lines, "Send Query Support-Multicase-Flag Req To Hqtrs ( 127.0.0.1:" +
                               std::to_string(coord.Port()) + " ) Fail."));
}

// Replies whose content a member cannot rely on fail the download, whatever their length
// field says.
TEST(HqtrsClient, UnsoundRepliesFailTheDownload) {
    using Edit = std::function<void(const CoordRequest&, std::vector<uint8_t>&)>;
    struct Case {
        const char* name;
        Edit edit;
        bool downloads;
    };
    const Case cases[] = {
        {"unchanged", [](const CoordRequest&, std::vector<uint8_t>&) {}, true},
        {"digest of zero groups",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) PutBe16(b, 0, 0); }, false},
        {"digest of negative members",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) PutBe16(b, 2, 0xFFFF); },
         false},
        {"window above the limit",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) PutBe32(b, 6, 70000); },
         false},
        {"negative window",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) PutBe32(b, 6, 0xFFFFFFFF); },
         false},
        {"window 0 is a one-slot window",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) PutBe32(b, 6, 0); }, true},
        {"digest one byte short",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordDigestReq) SetPayload(b, 21); }, false},
        {"group record one byte long",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordGroupReq) SetPayload(b, 35); }, false},
        {"group address without its terminator",
         [](const CoordRequest& r, std::vector<uint8_t>& b) {
             if (r.type == kCoordGroupReq && r.sequence == 1) std::memset(b.data() + 23 + 6, '9', 16);
         },
         false},
        {"member address without its terminator",
         [](const CoordRequest& r, std::vector<uint8_t>& b) {
             if (r.type == kCoordMemberReq && r.sequence == 3) std::memset(b.data() + 23 + 6, '1', 16);
         },
         false},
        {"member counts do not add up",
         [](const CoordRequest& r, std::vector<uint8_t>& b) {
             if (r.type == kCoordGroupReq && r.sequence == 0) PutBe16(b, 28, 3);
         },
         false},
        {"negative member count of a group",
         [](const CoordRequest& r, std::vector<uint8_t>& b) {
             if (r.type == kCoordGroupReq && r.sequence == 0) PutBe16(b, 28, 0xFFFE);
         },
         false},
        {"members not consecutive by group",
         [](const CoordRequest& r, std::vector<uint8_t>& b) {
             if (r.type == kCoordMemberReq && r.sequence == 1) PutBe16(b, 2, 20);  // a group-20 member among group 10
         },
         false},
        {"message record one byte long",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordMsgReq) SetPayload(b, 8); }, false},
        {"partition record one byte short",
         [](const CoordRequest& r, std::vector<uint8_t>& b) { if (r.type == kCoordPartitionReq) SetPayload(b, 3); },
         false},
    };
    for (const Case& c : cases) {
        FakeCoordinator coord(Layout());
        ASSERT_TRUE(coord.Start());
        coord.SetReplyEditor(c.edit);
        Member m(coord, 10, 1);
        EXPECT_EQ(c.downloads, m.client().QueryBasicInfo(0)) << c.name;
    }
}

TEST(HqtrsClient, BigEndianCoordinatorHeadersAreSwapped) {
    FakeCoordinator::Options opt;
    opt.big_endian = true;
    FakeCoordinator coord(Layout(), opt);
    ASSERT_TRUE(coord.Start());
    Member a(coord, 20, 5);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    EXPECT_EQ(4u, a.client().Members().size());
    EXPECT_EQ(1, a.client().MulticastFlag());
    EXPECT_EQ(1, a.client().ApplyMaster());
    const HqtrsPrimaryInfo p = a.client().Primary();
    EXPECT_EQ(5, p.primary_member_id);
    EXPECT_GT(p.grant_sec, 1600000000);  // swapped from the reply's order
    EXPECT_LT(p.grant_usec, 1000000);
}

TEST(HqtrsClient, UnreachableCoordinatorFailsAfterThreeAttempts) {
    // a port nobody listens on: a socket bound and closed again
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);

    CVornSystem sys;
    sys.SetCoordinator("127.0.0.1", ntohs(a.sin_port));
    sys.SetOwnIds(10, 1);
    HqtrsTiming t = FastTiming();
    t.reply_wait_ms = 100;
    sys.Hqtrs().SetTiming(t);
    const auto t0 = Clock::now();
    EXPECT_FALSE(sys.Hqtrs().QueryBasicInfo(0));
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));

    CVornSystem bad;
    bad.SetCoordinator("not.an.address", 1);
    bad.Hqtrs().SetTiming(t);
    EXPECT_FALSE(bad.Hqtrs().QueryBasicInfo(0));
}

// ---- the master role ------------------------------------------------------------------------

TEST_F(HqtrsExchange, PlainGroupIsItsOwnMasterWithoutAsking) {
    Member m(coord, 10, 2);
    ASSERT_TRUE(m.client().QueryBasicInfo(0));
    EXPECT_EQ(1, m.client().ApplyMaster());
    EXPECT_EQ(0u, coord.Count(kCoordMasterReq));
    EXPECT_EQ(2, m.client().Primary().primary_member_id);
    EXPECT_EQ(0, m.client().Primary().grant_sec);
}

TEST_F(HqtrsExchange, FirstOfAPairIsMasterTheOtherStandby) {
    LogFolder logs;
    Member a(coord, 20, 5, &logs.log);
    Member b(coord, 20, 6, &logs.log);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    ASSERT_TRUE(b.client().QueryBasicInfo(0));
    EXPECT_EQ('0', a.sys.Identity().group_mode);
    EXPECT_EQ(1, a.client().ApplyMaster());
    EXPECT_EQ(2, b.client().ApplyMaster());
    EXPECT_EQ(5, b.client().Primary().primary_member_id);
    EXPECT_EQ('1', b.client().Mode());
    for (const CoordRequest& r : coord.Requests()) {
        if (r.type != kCoordMasterReq) continue;
        EXPECT_EQ(20, r.src_group_id);
        EXPECT_EQ(1, r.src_group_index);  // the own group's index
        EXPECT_EQ(-1, r.src_member_index);
        EXPECT_EQ(0, r.dst_group_id);
        EXPECT_EQ(0, r.dst_member_id);
    }
    const auto lines = logs.WaitFor("I'm The Standby Device!");
    EXPECT_TRUE(Has(lines, "I'm The Master Device!"));
    EXPECT_TRUE(Has(lines, "I'm The Standby Device!"));
}

TEST_F(HqtrsExchange, RejectionFailsTheApplication) {
    coord.AddFault({kCoordMasterReq, -1, CoordFault::kReject, 1});
    LogFolder logs;
    Member a(coord, 20, 5, &logs.log);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    EXPECT_EQ(0, a.client().ApplyMaster());
    EXPECT_EQ(1u, coord.Count(kCoordMasterReq));
    EXPECT_TRUE(Has(logs.WaitFor("Rejected"), "< Apply for authorization as master device > Rejected By Hqtrs!"));
}

TEST(HqtrsClient, GrantWithoutPrimaryIsAskedAgainInEitherByteOrder) {
    for (bool big : {false, true}) {
        FakeCoordinator::Options opt;
        opt.big_endian = big;
        FakeCoordinator coord(Layout(), opt);
        ASSERT_TRUE(coord.Start());
        coord.AddFault({kCoordMasterReq, -1, CoordFault::kPrimaryNone, 2});
        Member a(coord, 20, 6);
        ASSERT_TRUE(a.client().QueryBasicInfo(0));
        const auto t0 = Clock::now();
        EXPECT_EQ(1, a.client().ApplyMaster()) << (big ? "big-endian" : "little-endian");
        EXPECT_EQ(3u, coord.Count(kCoordMasterReq));
        EXPECT_GE(Clock::now() - t0, milliseconds(2 * 30));  // one wait after each empty grant
    }
}

TEST_F(HqtrsExchange, FailedApplicationIsRetriedAfterItsWait) {
    coord.AddFault({kCoordMasterReq, -1, CoordFault::kDrop, 3});  // one whole exchange lost
    bool cut_once = false;
    coord.SetReplyEditor([&cut_once](const CoordRequest& r, std::vector<uint8_t>& b) {
        if (r.type == kCoordMasterReq && !cut_once) {
            cut_once = true;
            SetPayload(b, 18);  // a grant too short to hold its fields
        }
    });
    Member a(coord, 20, 5);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    EXPECT_EQ(1, a.client().ApplyMaster());
    EXPECT_EQ(5u, coord.Count(kCoordMasterReq));  // 3 lost, 1 too short, 1 granted
}

TEST_F(HqtrsExchange, StopEndsAnEndlessApplication) {
    coord.AddFault({kCoordMasterReq, -1, CoordFault::kDrop, -1});
    Member a(coord, 20, 5);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    std::atomic<int> result{-1};
    std::thread t([&] { result = a.client().ApplyMaster(); });
    ASSERT_TRUE(coord.WaitFor(kCoordMasterReq, 4, std::chrono::seconds(10)));  // into its second exchange
    a.sys.RequestStop();
    t.join();
    EXPECT_EQ(0, result.load());
}

TEST_F(HqtrsExchange, SwitchToSingleDeviceMakesTheSurvivorMaster) {
    LogFolder logs;
    Member a(coord, 20, 5);
    Member b(coord, 20, 6, &logs.log);
    ASSERT_TRUE(a.client().QueryBasicInfo(0));
    ASSERT_TRUE(b.client().QueryBasicInfo(0));
    ASSERT_EQ(1, a.client().ApplyMaster());
    ASSERT_EQ(2, b.client().ApplyMaster());
    b.sys.SetDeviceIdentity(2);
    b.sys.IdentityEvent().TimedWait(0);  // consume the launch's change

    EXPECT_EQ(1, b.client().SwitchSingleDevice());
    EXPECT_EQ(1, b.sys.DeviceIdentity());
    EXPECT_EQ(1, b.sys.IdentityEvent().TimedWait(0));
    EXPECT_EQ('2', b.client().Mode());
    EXPECT_EQ(6, b.client().Primary().primary_member_id);
    EXPECT_EQ(6, coord.Primary(20));
    EXPECT_EQ('2', coord.Mode(20));
    EXPECT_TRUE(Has(logs.WaitFor("Switch to Single-Device Mode"),
                    "< Switch to Single-Device Mode > Success! Master Device MemberId: 6."));

    coord.AddFault({kCoordSwitchReq, -1, CoordFault::kDrop, 3});
    const auto t0 = Clock::now();
    EXPECT_EQ(0, a.client().SwitchSingleDevice());
    EXPECT_GE(Clock::now() - t0, milliseconds(50));  // the wait after a failed switch
}

TEST_F(HqtrsExchange, ThreadIdsByName) {
    Member a(coord, 10, 1);
    EXPECT_EQ(100, a.client().RequestThreadId("vorn_receiver_thread"));
    EXPECT_EQ(101, a.client().RequestThreadId(nullptr));
    const auto reqs = coord.Requests();
    ASSERT_EQ(2u, reqs.size());
    EXPECT_EQ(15, reqs[0].payload_length);  // the name is cut to 15 characters
    EXPECT_EQ("vorn_receiver_t", std::string(reqs[0].datagram.begin() + 23, reqs[0].datagram.end()));
    EXPECT_EQ(0, reqs[1].payload_length);
    coord.AddFault({kCoordThreadIdReq, -1, CoordFault::kDrop, 3});
    EXPECT_EQ(0, a.client().RequestThreadId("x"));
}

// The send path's hook sees the coordinator's requests too, keyed on type and sequence.
TEST_F(HqtrsExchange, SendHookLosesChosenRequests) {
    auto faults = std::make_shared<BusSendFaults>();
    BusSendRule rule;
    rule.type = kCoordDigestReq;
    rule.sequence = 20230217;
    rule.verdict.action = SendVerdict::kDrop;
    rule.times = 2;
    faults->Add(rule);
    Member m(coord, 10, 1);
    m.sys.SendPath().SetHook(faults);
    ASSERT_TRUE(m.client().QueryBasicInfo(20230217));
    EXPECT_EQ(1u, coord.Count(kCoordDigestReq));  // two never left
    EXPECT_EQ(3u, faults->SeenCount(kCoordDigestReq));
    EXPECT_EQ(2u, faults->Fired());
    for (const SendKey& k : faults->Seen()) {
        EXPECT_EQ(-1, k.dst_group_id);
        EXPECT_EQ(-1, k.dst_member_id);
    }
    m.sys.SendPath().SetHook(nullptr);
}
