#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Hex(const Bytes& b) {
    std::string s;
    char x[4];
    for (size_t i = 0; i < b.size(); ++i) {
        // field boundaries of the header: version|order|sequence|type|six ids|payload length|body
        if (i == 1 || i == 2 || i == 6 || i == 7 || i == 9 || i == 11 || i == 13 || i == 15 || i == 17 || i == 19 ||
            i == 23)
            s += '|';
        std::snprintf(x, sizeof x, "%02x", b[i]);
        s += x;
    }
    return s;
}

Bytes FromHex(const char* text) {
    Bytes out;
    for (const char* p = text; *p;) {
        if (*p == '|' || *p == ' ') {
            ++p;
            continue;
        }
        unsigned v = 0;
        std::sscanf(p, "%2x", &v);
        out.push_back(static_cast<uint8_t>(v));
        p += 2;
    }
    return out;
}

// The receiver of these tests: member 2 of group 10 (member index 1), the second of the two
// members of its group. Its lookup table has four entries.
const AcceptSource kSources[4] = {
    {1, 10, true},   // index 0: the other member of the own group
    {2, 10, true},   // index 1: itself
    {5, 20, true},   // index 2: a routed peer
    {6, 20, false},  // index 3: a peer of another partition
};

AcceptContext Receiver() {
    AcceptContext c;
    c.own_member_id = 2;
    c.sources = kSources;
    c.source_mask = 3;
    c.own_group_members = 2;
    c.own_position = 1;
    return c;
}

VornHeader From(int index, uint8_t type, ByteOrder order = OXA::API::wire::host_order()) {
    VornHeader h;
    h.byte_order = CharOfOrder(order);
    h.type = type;
    h.sequence = 7;
    h.src_member_index = static_cast<int16_t>(index);
    h.src_member_id = kSources[index & 3].member_id;
    h.src_group_id = kSources[index & 3].group_id;
    h.src_group_index = 1;
    h.dst_group_id = 10;
    h.dst_member_id = -1;
    return h;
}

Bytes Control(const VornHeader& h) {
    Bytes b(64);
    b.resize(BuildControl(b.data(), b.size(), h));
    return b;
}
Bytes Range(const VornHeader& h) {
    Bytes b(64);
    b.resize(BuildRange(b.data(), b.size(), h, 3, 9));
    return b;
}
Bytes App(const VornHeader& h, size_t data_len) {
    Bytes data(data_len, 0xAB), b(1500);
    b.resize(BuildApp(b.data(), b.size(), h, 0x502, 77, data.data(), data.size()));
    return b;
}
Bytes Multicast(const VornHeader& h, size_t data_len, int32_t own_seq) {
    Bytes data(data_len, 0xCD), b(1500);
    const int32_t seqs[2] = {40, own_seq};
    b.resize(BuildMulticastApp(b.data(), b.size(), h, 0x503, 5, data.data(), data.size(), seqs, 2));
    return b;
}
Bytes Notice(const VornHeader& h, size_t pairs) {
    Bytes p(pairs, 1), b(128);
    b.resize(BuildDeliverNotice(b.data(), b.size(), h, p.data(), p.size()));
    return b;
}
Bytes Heartbeat(const VornHeader& h) {
    Bytes b(64);
    b.resize(BuildHeartbeat(b.data(), b.size(), h, 1676600000, 123456, '1'));
    return b;
}
Bytes Resync(const VornHeader& h) {
    Bytes b(64);
    b.resize(BuildResyncOrder(b.data(), b.size(), h, 20, 5));
    return b;
}
// Writes a 32-bit value at offset in host order (the tests build in host order).
Bytes Poke32(Bytes b, size_t at, int32_t v) {
    std::memcpy(b.data() + at, &v, 4);
    return b;
}
Bytes Cut(Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
}
Bytes Grow(Bytes b, size_t n) {
    b.resize(b.size() + n, 0);
    return b;
}

struct Row {
    const char* name;
    Bytes bytes;
    AcceptRoute route;
    DropReason reason;
    size_t kernel_length = 0;  // 0: the bytes' own length
};

}  // namespace

TEST(VornAccept, EveryPacketTypeAndSize) {
    const AcceptRoute R = AcceptRoute::kReceiver, H = AcceptRoute::kHandler, D = AcceptRoute::kDrop;
    const DropReason ok = DropReason::kNone, size = DropReason::kBadSize;
    std::vector<Row> rows = {
        {"ACK", Control(From(2, kPktAck)), R, ok},
        {"ACK one byte long", Grow(Control(From(2, kPktAck)), 1), D, size},
        {"NAK", Range(From(2, kPktNak)), H, ok},
        {"NAK one byte short", Cut(Range(From(2, kPktNak)), 1), D, size},
        {"RACK", Control(From(2, kPktRack)), H, ok},
        {"send-position request", Control(From(2, kPktSendPos)), R, ok},
        {"receive-position request", Control(From(2, kPktRecvPos)), R, ok},
        {"type 7", Control(From(2, kPktSendPosResync)), R, ok},
        {"type 8", Control(From(2, kPktRecvPosResync)), R, ok},
        {"type 9", Control(From(2, kPktSendPosResyncReply)), R, ok},
        {"type 10", Control(From(2, kPktRecvPosResyncReply)), R, ok},
        {"type 10 with a body", Grow(Control(From(2, kPktRecvPosResyncReply)), 4), D, size},
        {"app, empty", App(From(2, kPktApp), 0), R, ok},
        {"app, largest", App(From(2, kPktApp), 1371), R, ok},
        {"app, length below its payload", Poke32(App(From(2, kPktApp), 10), 19, 11), D, size},
        {"app, length above its payload", Grow(App(From(2, kPktApp), 10), 1), D, size},
        {"app, negative payload", Poke32(App(From(2, kPktApp), 0), 19, -1), D, size},
        {"app, payload over 1371", Poke32(Grow(App(From(2, kPktApp), 1371), 1), 19, 1372), D, DropReason::kTruncated},
        {"heartbeat", Heartbeat(From(0, kPktHeartbeat)), H, ok},
        {"heartbeat one byte long", Grow(Heartbeat(From(0, kPktHeartbeat)), 1), D, size},
        {"notice, one pair", Notice(From(0, kPktDeliverNotice), 2), R, ok},
        {"notice, 48 bytes", Notice(From(0, kPktDeliverNotice), 48), R, ok},
        {"notice, no pairs", Poke32(Control(From(0, kPktDeliverNotice)), 19, 0), D, size},
        {"notice, odd", Poke32(Grow(Notice(From(0, kPktDeliverNotice), 2), 1), 19, 3), D, size},
        {"notice, 50 bytes", Poke32(Grow(Notice(From(0, kPktDeliverNotice), 48), 2), 19, 50), D, size},
        {"notice ACK", Control(From(0, kPktNoticeAck)), R, ok},
        {"notice NAK", Range(From(0, kPktNoticeNak)), H, ok},
        {"notice probe", Control(From(0, kPktNoticeProbe)), H, ok},
        {"control over 72 bytes", Grow(Range(From(2, kPktNak)), 50), D, size},
        {"storage header is never received", Control(From(2, kPktStorageHeader)), D, DropReason::kUnknownType},
        {"statistics go to the coordinator only", Control(From(2, kPktStatistics)), D, DropReason::kUnknownType},
        {"unknown type", Control(From(2, 99)), D, DropReason::kUnknownType},
        {"resync order from a routed source", Resync(From(2, kPktResyncOrder)), D, DropReason::kIgnored},
        {"resync order from an unrouted source", Resync(From(3, kPktResyncOrder)), AcceptRoute::kResyncOrder, ok},
        {"resync order one byte short", Cut(Resync(From(3, kPktResyncOrder)), 1), D, size},
        {"app from an unrouted source", App(From(3, kPktApp), 4), D, DropReason::kNotRouted},
        {"truncated by the kernel", App(From(2, kPktApp), 100), D, DropReason::kTruncated, 200},
        {"shorter than a header", Bytes(22, 0), D, DropReason::kBadHeader},
    };
    Bytes bad_order = Control(From(2, kPktAck));
    bad_order[1] = 'x';
    rows.push_back({"unknown byte-order character", bad_order, D, DropReason::kBadHeader});

    const AcceptContext ctx = Receiver();
    for (Row& row : rows) {
        ASSERT_FALSE(row.bytes.empty()) << row.name;
        Bytes buf = row.bytes;
        const size_t kernel = row.kernel_length ? row.kernel_length : buf.size();
        const AcceptResult r = AcceptDatagram(buf.data(), buf.size(), kernel, ctx);
        EXPECT_EQ(static_cast<int>(row.route), static_cast<int>(r.route)) << row.name << "\n" << Hex(row.bytes);
        EXPECT_EQ(static_cast<int>(row.reason), static_cast<int>(r.reason)) << row.name << "\n" << Hex(row.bytes);
    }
}

TEST(VornAccept, UnknownSourcesAndTheDestinationFilter) {
    const AcceptContext ctx = Receiver();
    struct Case {
        const char* name;
        int index;
        int16_t member_id;
        int16_t group_id;
        int16_t dst_member;
        uint8_t type;
        AcceptRoute route;
        DropReason reason;
    } cases[] = {
        {"known source, any member", 2, 5, 20, -1, kPktApp, AcceptRoute::kReceiver, DropReason::kNone},
        {"known source, addressed to me", 2, 5, 20, 2, kPktApp, AcceptRoute::kReceiver, DropReason::kNone},
        {"addressed to member 7", 2, 5, 20, 7, kPktApp, AcceptRoute::kDrop, DropReason::kNotForMe},
        {"RACK addressed to another", 2, 5, 20, 1, kPktRack, AcceptRoute::kDrop, DropReason::kNotForMe},
        {"member id differs", 2, 9, 20, -1, kPktApp, AcceptRoute::kDrop, DropReason::kUnknownSource},
        {"group id differs", 2, 5, 21, -1, kPktAck, AcceptRoute::kDrop, DropReason::kUnknownSource},
        {"index beyond the table is masked onto an entry whose ids must match", 6, 5, 20, -1, kPktApp,
         AcceptRoute::kReceiver, DropReason::kNone},
        {"masked index with another member's ids", 6, 1, 10, -1, kPktApp, AcceptRoute::kDrop,
         DropReason::kUnknownSource},
        {"index -1", -1, 5, 20, -1, kPktApp, AcceptRoute::kDrop, DropReason::kUnknownSource},
        {"send-position request from a stranger", 2, 9, 20, -1, kPktSendPos, AcceptRoute::kAnswerUnknown,
         DropReason::kNone},
        {"receive-position request from a stranger", 6, 44, 30, -1, kPktRecvPos, AcceptRoute::kAnswerUnknown,
         DropReason::kNone},
        {"resync-position request from a stranger is dropped", 2, 9, 20, -1, kPktSendPosResync, AcceptRoute::kDrop,
         DropReason::kUnknownSource},
    };
    for (const Case& c : cases) {
        VornHeader h = From(2, c.type);
        h.src_member_index = static_cast<int16_t>(c.index);
        h.src_member_id = c.member_id;
        h.src_group_id = c.group_id;
        h.dst_member_id = c.dst_member;
        Bytes b = c.type == kPktApp ? App(h, 8) : Control(h);
        const AcceptResult r = AcceptDatagram(b.data(), b.size(), b.size(), ctx);
        EXPECT_EQ(static_cast<int>(c.route), static_cast<int>(r.route)) << c.name;
        EXPECT_EQ(static_cast<int>(c.reason), static_cast<int>(r.reason)) << c.name;
    }
}

TEST(VornAccept, UnknownSourceReplyCarriesMinus999BackToTheRequester) {
    VornHeader h = From(2, kPktRecvPos, OXA::API::ByteOrder::Big);
    h.src_member_id = 44;  // not the member the table holds at index 2
    h.src_group_id = 30;
    h.dst_group_id = 10;
    h.dst_member_id = 2;
    Bytes b = Control(h);
    const AcceptResult r = AcceptDatagram(b.data(), b.size(), b.size(), Receiver());
    ASSERT_EQ(AcceptRoute::kAnswerUnknown, r.route);
    EXPECT_EQ(44, r.header.src_member_id);  // host values although the request was big-endian

    uint8_t reply[32];
    ASSERT_EQ(23u, BuildUnknownSourceReply(reply, sizeof reply, r.header, HostOrderChar()));
    VornHeader back;
    ASSERT_TRUE(ReadHeader(reply, 23, back));
    EXPECT_EQ(kPktRecvPos, back.type);
    EXPECT_EQ(-999, back.sequence);
    EXPECT_EQ(10, back.src_group_id);
    EXPECT_EQ(2, back.src_member_id);
    EXPECT_EQ(-1, back.src_group_index);
    EXPECT_EQ(-1, back.src_member_index);
    EXPECT_EQ(30, back.dst_group_id);
    EXPECT_EQ(44, back.dst_member_id);
    EXPECT_EQ(0, back.payload_length);
}

TEST(VornAccept, MulticastListGivesTheOwnSequence) {
    const AcceptContext ctx = Receiver();
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        Bytes b = Multicast(From(2, kPktMulticastApp, order), 10, 42);
        ASSERT_EQ(29u + 10u + 8u, b.size());
        AcceptResult r = AcceptDatagram(b.data(), b.size(), b.size(), ctx);
        ASSERT_EQ(AcceptRoute::kReceiver, r.route);
        EXPECT_EQ(kPktApp, r.header.type);  // handled as an app message from here on
        EXPECT_EQ(42, r.header.sequence);
        EXPECT_EQ(39u, r.length);  // the list is not part of the message
        VornHeader kept;
        ASSERT_TRUE(ReadHostHeader(b.data(), b.size(), kept));
        EXPECT_EQ(kPktApp, kept.type);
        EXPECT_EQ(42, kept.sequence);
        EXPECT_EQ(CharOfOrder(order), kept.byte_order);
        int16_t msg = 0;
        int32_t tag = 0;
        ASSERT_TRUE(ReadAppHeader(b.data(), b.size(), msg, tag));
        EXPECT_EQ(0x503, msg);
        EXPECT_EQ(5, tag);
    }
    Bytes skipped = Multicast(From(2, kPktMulticastApp), 10, -1);
    EXPECT_EQ(DropReason::kSkippedInList, AcceptDatagram(skipped.data(), skipped.size(), skipped.size(), ctx).reason);
    Bytes longer = Grow(Multicast(From(2, kPktMulticastApp), 10, 42), 1);
    EXPECT_EQ(DropReason::kBadSize, AcceptDatagram(longer.data(), longer.size(), longer.size(), ctx).reason);
    Bytes shorter = Multicast(From(2, kPktMulticastApp), 10, 42);
    shorter.resize(shorter.size() - 4);  // a list of one entry for a group of two
    EXPECT_EQ(DropReason::kBadSize, AcceptDatagram(shorter.data(), shorter.size(), shorter.size(), ctx).reason);
    AcceptContext lonely = ctx;
    lonely.own_group_members = 3;  // the list must match the own group's member count
    Bytes two = Multicast(From(2, kPktMulticastApp), 10, 42);
    EXPECT_EQ(DropReason::kBadSize, AcceptDatagram(two.data(), two.size(), two.size(), lonely).reason);
}

TEST(VornAccept, BigEndianPeerIsReadInItsOwnOrder) {
    const char data[] = "order body";
    VornHeader h = From(2, kPktApp, ByteOrder::Big);
    h.sequence = 0x01020304;
    h.dst_member_id = 2;
    Bytes b(64);
    b.resize(BuildApp(b.data(), b.size(), h, 0x1234, 0x0A0B0C0D, data, sizeof data));
    ASSERT_EQ('1', b[1]);
    EXPECT_EQ(0x01, b[2]);  // big-endian on the wire
    EXPECT_EQ(0x12, b[23]);
    const AcceptResult r = AcceptDatagram(b.data(), b.size(), b.size(), Receiver());
    ASSERT_EQ(AcceptRoute::kReceiver, r.route);
    EXPECT_EQ(0x01020304, r.header.sequence);
    EXPECT_EQ(5, r.header.src_member_id);
    EXPECT_EQ(static_cast<int32_t>(sizeof data), r.header.payload_length);
    // the header is now in host order, the body still in the sender's
    VornHeader kept;
    ASSERT_TRUE(ReadHostHeader(b.data(), b.size(), kept));
    EXPECT_EQ(0x01020304, kept.sequence);
    EXPECT_EQ('1', kept.byte_order);
    int16_t msg = 0;
    int32_t tag = 0;
    ASSERT_TRUE(ReadAppHeader(b.data(), b.size(), msg, tag));
    EXPECT_EQ(0x1234, msg);
    EXPECT_EQ(0x0A0B0C0D, tag);
    EXPECT_EQ(0, std::memcmp(b.data() + 29, data, sizeof data));
}

TEST(VornAccept, LargestDatagramIsReceivedWhole) {
    Bytes b = App(From(2, kPktApp), 1371);
    ASSERT_EQ(1400u, b.size());
    const AcceptResult r = AcceptDatagram(b.data(), b.size(), b.size(), Receiver());
    EXPECT_EQ(AcceptRoute::kReceiver, r.route);
    EXPECT_EQ(1400u, r.length);
    // one byte more was cut by a 1,400-byte read
    EXPECT_EQ(DropReason::kTruncated, AcceptDatagram(b.data(), b.size(), 1401, Receiver()).reason);
}

// ---- builders -------------------------------------------------------------------------------

TEST(VornBuild, GoldenBytes) {
    VornHeader h;
    h.sequence = 0x11223344;
    h.src_group_id = 0x0102;
    h.src_group_index = 3;
    h.src_member_id = 0x0405;
    h.src_member_index = 6;
    h.dst_group_id = 0x0708;
    h.dst_member_id = -1;
    struct Golden {
        const char* name;
        ByteOrder order;
        uint8_t type;
        const char* hex;
    } rows[] = {
        {"ACK little-endian", ByteOrder::Little, kPktAck,
         "05|30|44332211|01|0201|0300|0504|0600|0807|ffff|00000000"},
        {"ACK big-endian", ByteOrder::Big, kPktAck, "05|31|11223344|01|0102|0003|0405|0006|0708|ffff|00000000"},
        {"NAK big-endian", ByteOrder::Big, kPktNak,
         "05|31|11223344|02|0102|0003|0405|0006|0708|ffff|00000008|00000003 00000009"},
        {"resync order little-endian", ByteOrder::Little, kPktResyncOrder,
         "05|30|44332211|52|0201|0300|0504|0600|0807|ffff|04000000|1400 0500"},
        {"heartbeat big-endian", ByteOrder::Big, kPktHeartbeat,
         "05|31|11223344|20|0102|0003|0405|0006|0708|ffff|00000011|0000000000000064 0000000000000065 32"},
        {"statistics big-endian", ByteOrder::Big, kPktStatistics,
         "05|31|11223344|50|0102|0003|0405|0006|0708|ffff|00000010|34463552 0001e240 00000007 00000008"},
        {"slot state little-endian", ByteOrder::Little, kPktSlotState,
         "05|30|44332211|51|0201|0300|0504|0600|0807|ffff|05000000|1400 0500 00"},
    };
    for (const Golden& g : rows) {
        VornHeader x = h;
        x.byte_order = CharOfOrder(g.order);
        x.type = g.type;
        Bytes b(64);
        size_t n = 0;
        switch (g.type) {
            case kPktNak: n = BuildRange(b.data(), b.size(), x, 3, 9); break;
            case kPktResyncOrder: n = BuildResyncOrder(b.data(), b.size(), x, 20, 5); break;
            case kPktHeartbeat: n = BuildHeartbeat(b.data(), b.size(), x, 100, 101, '2'); break;
            case kPktStatistics: n = BuildStatistics(b.data(), b.size(), x, 123456, 7, 8); break;
            case kPktSlotState: n = BuildSlotState(b.data(), b.size(), x, 20, 5, 0); break;
            default: n = BuildControl(b.data(), b.size(), x); break;
        }
        b.resize(n);
        EXPECT_EQ(Hex(FromHex(g.hex)), Hex(b)) << g.name;
    }
}

TEST(VornBuild, RefusesWhatDoesNotFit) {
    uint8_t buf[1500];
    Bytes data(1372, 0);
    VornHeader h;
    h.type = kPktApp;
    EXPECT_EQ(0u, BuildApp(buf, sizeof buf, h, 1, 0, data.data(), 1372));
    EXPECT_EQ(1400u, BuildApp(buf, sizeof buf, h, 1, 0, data.data(), 1371));
    EXPECT_EQ(0u, BuildApp(buf, 1399, h, 1, 0, data.data(), 1371));  // buffer one byte short
    EXPECT_EQ(0u, BuildApp(buf, sizeof buf, h, 1, 0, nullptr, 4));
    EXPECT_EQ(29u, BuildApp(buf, sizeof buf, h, 1, 0, nullptr, 0));  // a null body of length 0 is an empty message
    const int32_t seqs[400] = {0};
    EXPECT_EQ(0u, BuildMulticastApp(buf, sizeof buf, h, 1, 0, data.data(), 1300, seqs, 30));  // list does not fit 1,400
    EXPECT_EQ(29u + 1300u + 4u * 17u, BuildMulticastApp(buf, sizeof buf, h, 1, 0, data.data(), 1300, seqs, 17));
    const uint8_t pairs[50] = {0};
    EXPECT_EQ(0u, BuildDeliverNotice(buf, sizeof buf, h, pairs, 0));
    EXPECT_EQ(0u, BuildDeliverNotice(buf, sizeof buf, h, pairs, 3));
    EXPECT_EQ(0u, BuildDeliverNotice(buf, sizeof buf, h, pairs, 50));
    EXPECT_EQ(71u, BuildDeliverNotice(buf, sizeof buf, h, pairs, 48));
    EXPECT_EQ(0u, BuildControl(buf, 22, h));
}

TEST(VornBuild, BodyReadersAreBounded) {
    VornHeader h;
    h.type = kPktNak;
    Bytes b = Range(h);
    int32_t first = 0, last = 0;
    ASSERT_TRUE(ReadRange(b.data(), b.size(), first, last));
    EXPECT_EQ(3, first);
    EXPECT_EQ(9, last);
    EXPECT_FALSE(ReadRange(b.data(), b.size() - 1, first, last));
    int64_t s = 0, us = 0;
    char mode = 0;
    Bytes hb = Heartbeat(From(0, kPktHeartbeat, ByteOrder::Big));
    ASSERT_TRUE(ReadHeartbeat(hb.data(), hb.size(), s, us, mode));
    EXPECT_EQ(1676600000, s);
    EXPECT_EQ(123456, us);
    EXPECT_EQ('1', mode);
    EXPECT_FALSE(ReadHeartbeat(hb.data(), 39, s, us, mode));
    int16_t g = 0, m = 0;
    EXPECT_FALSE(ReadResyncOrder(b.data(), 26, g, m));
    int16_t id = 0;
    int32_t tag = 0;
    EXPECT_FALSE(ReadAppHeader(b.data(), 28, id, tag));
}
