#include "infra/vorn/HqtrsWire.h"

#include <cstring>

namespace OXA {
namespace VORN {

using API::WireReader;
using API::WireWriter;

namespace {

bool ReadIp(WireReader& r, char (&ip)[16]) {
    if (!r.read_bytes(ip, sizeof ip)) return false;
    return std::memchr(ip, 0, sizeof ip) != nullptr;
}

}  // namespace

std::size_t BuildHqtrsRequest(uint8_t* buf, std::size_t cap, char own_order, uint8_t type, int32_t sequence,
                              int16_t own_group_id, int16_t own_member_id, int16_t own_group_index,
                              const void* payload, std::size_t payload_length) {
    if (payload_length > kThreadNameMax || (payload_length && !payload)) return 0;
    VornHeader h;
    h.byte_order = own_order;
    h.type = type;
    h.sequence = sequence;
    h.src_group_id = own_group_id;
    h.src_member_id = own_member_id;
    h.src_member_index = -1;
    const bool master = type == kHqMasterReq || type == kHqSwitchReq;
    h.src_group_index = master ? own_group_index : -1;
    h.dst_group_id = master ? 0 : -1;
    h.dst_member_id = master ? 0 : -1;
    h.payload_length = static_cast<int32_t>(payload_length);
    WireWriter w(buf, cap);
    WriteHeader(w, h);
    w.write_bytes(payload, payload_length);
    return w.ok() ? w.position() : 0;
}

bool DecodeDigest(const uint8_t* body, std::size_t length, HqtrsDigestInfo& out) {
    if (length != kDigestBodySize) return false;
    WireReader r(body, length);
    HqtrsDigestInfo d;
    r.read_be(d.group_count);
    r.read_be(d.member_count);
    r.read_be(d.message_count);
    r.read_be(d.window_size);
    r.read_be(d.ack_water_mark);
    r.read_be(d.date);
    r.read_be(d.lost_over_time_s);
    if (!r.ok()) return false;
    // every table is indexed by int16 and a member needs its own group and itself
    if (d.group_count <= 0 || d.member_count <= 0 || d.message_count < 0) return false;
    if (d.window_size < 0 || d.window_size > kMaxWindowSize) return false;
    out = d;
    return true;
}

bool DecodeGroup(const uint8_t* body, std::size_t length, HqtrsGroupInfo& out) {
    if (length != kGroupBodySize) return false;
    WireReader r(body, length);
    HqtrsGroupInfo g;
    r.read_be(g.index);
    r.read_be(g.group_id);
    r.read_host(g.group_mode);
    r.read_host(g.svr_type);
    if (!ReadIp(r, g.group_ip)) return false;
    r.read_be(g.data_port);
    r.read_be(g.control_port);
    r.read_be(g.inner_port);
    r.read_be(g.member_numer);
    r.read_be(g.msg_numer);
    r.read_be(g.chief_member_id);
    if (!r.ok() || g.member_numer < 0) return false;
    out = g;
    return true;
}

bool DecodeMember(const uint8_t* body, std::size_t length, HqtrsMemberInfo& out) {
    if (length != kMemberBodySize) return false;
    WireReader r(body, length);
    HqtrsMemberInfo m;
    r.read_be(m.index);
    r.read_be(m.group_id);
    r.read_be(m.member_id);
    if (!ReadIp(r, m.member_ip)) return false;
    r.read_be(m.member_port);
    if (!r.ok()) return false;
    out = m;
    return true;
}

bool DecodeMsg(const uint8_t* body, std::size_t length, HqtrsMsgInfo& out) {
    if (length != kMsgBodySize) return false;
    WireReader r(body, length);
    HqtrsMsgInfo m;
    r.read_be(m.index);
    r.read_be(m.group_id);
    r.read_be(m.msg_id);
    r.read_host(m.store_flag);
    if (!r.ok()) return false;
    out = m;
    return true;
}

bool DecodePartition(const uint8_t* body, std::size_t length, HqtrsPartitionInfo& out) {
    if (length != kPartitionBodySize) return false;
    WireReader r(body, length);
    HqtrsPartitionInfo p;
    r.read_be(p.unused);
    r.read_be(p.partition_id);
    if (!r.ok()) return false;
    out = p;
    return true;
}

bool DecodeMasterReply(const uint8_t* body, std::size_t length, ByteOrder order, HqtrsMasterReply& out) {
    if (length < kMasterBodyMin) return false;
    WireReader r(body, length);
    HqtrsMasterReply m;
    r.read_host(m.mode);
    r.read(m.primary_member_id, order);
    r.read(m.grant_sec, order);
    r.read(m.grant_usec, order);
    if (!r.ok()) return false;
    out = m;
    return true;
}

bool DecodeThreadId(const uint8_t* body, std::size_t length, ByteOrder order, int32_t& out) {
    WireReader r(body, length);
    int32_t id = 0;
    if (!r.read(id, order)) return false;
    out = id;
    return true;
}

bool MembersConsecutiveByGroup(const std::vector<HqtrsGroupInfo>& groups,
                               const std::vector<HqtrsMemberInfo>& members) {
    std::size_t next = 0;
    for (const HqtrsGroupInfo& g : groups) {
        for (int16_t i = 0; i < g.member_numer; ++i, ++next) {
            if (next >= members.size() || members[next].group_id != g.group_id) return false;
        }
    }
    return next == members.size();
}

}  // namespace VORN
}  // namespace OXA
