// The coordinator's requests and replies: the tables of the bus and the master role.
//
// Table bodies are big-endian on the wire whatever the header's byte-order character says;
// the master, single-device and thread-id replies follow the header's order. Decoders take
// the reply's body (what follows the 23-byte header, payload-length bytes) and check what a
// member relies on later: the exact record size, NUL-terminated addresses, digest counts
// within what the member can hold, members consecutive by group. Ports are unsigned 16-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

// Request and reply types (the header's type byte).
enum HqtrsType : uint8_t {
    kHqDigestReq = '!',
    kHqDigestRep = 0x22,
    kHqGroupReq = '#',
    kHqGroupRep = '$',
    kHqMemberReq = '%',
    kHqMemberRep = '&',
    kHqMsgReq = 0x27,
    kHqMsgRep = '(',
    kHqPartitionReq = '0',
    kHqPartitionRep = '1',
    kHqMulticastReq = '2',
    kHqMulticastRep = '3',
    kHqMasterReq = ')',
    kHqMasterGranted = '*',
    kHqMasterRejected = '+',
    kHqThreadIdReq = ',',
    kHqThreadIdRep = '-',
    kHqSwitchReq = '.',
    kHqSwitchRep = '/',
};

constexpr std::size_t kDigestBodySize = 22;
constexpr std::size_t kGroupBodySize = 34;
constexpr std::size_t kMemberBodySize = 24;
constexpr std::size_t kMsgBodySize = 7;
constexpr std::size_t kPartitionBodySize = 4;
constexpr std::size_t kMasterBodyMin = 19;  // mode, primary, grant seconds and microseconds
constexpr std::size_t kThreadNameMax = 15;
constexpr std::size_t kHqtrsReplyBuffer = 1400;
// Largest communication window accepted: a window of slots of 2 KiB is kept per peer.
constexpr int32_t kMaxWindowSize = 65536;

struct HqtrsDigestInfo {
    int16_t group_count = 0;
    int16_t member_count = 0;
    int16_t message_count = 0;
    int32_t window_size = 0;
    int32_t ack_water_mark = 0;
    int32_t date = 0;
    int32_t lost_over_time_s = 0;
};

struct HqtrsGroupInfo {
    int16_t index = 0;
    int16_t group_id = 0;
    char group_mode = '1';  // '0' hot-backup pair, '1' plain
    char svr_type = '1';    // '0' server group, '1' other
    char group_ip[16] = {0};
    uint16_t data_port = 0;
    uint16_t control_port = 0;
    uint16_t inner_port = 0;
    int16_t member_numer = 0;
    int16_t msg_numer = 0;
    int16_t chief_member_id = 0;
};

struct HqtrsMemberInfo {
    int16_t index = 0;
    int16_t group_id = 0;
    int16_t member_id = 0;
    char member_ip[16] = {0};
    uint16_t member_port = 0;
};

struct HqtrsMsgInfo {
    int16_t index = 0;
    int16_t group_id = 0;
    int16_t msg_id = 0;
    char store_flag = 'N';
};

struct HqtrsPartitionInfo {
    int16_t unused = 0;
    int16_t partition_id = 0;
};

// The body of a master ('*', '+') or single-device ('/') reply.
struct HqtrsMasterReply {
    char mode = 0;
    int16_t primary_member_id = -1;
    int64_t grant_sec = 0;
    int64_t grant_usec = 0;
};

// Builds one request: version 5, own byte order, the own group and member as source. The
// master and single-device requests carry the own group's index and destination 0 / 0; the
// others -1 throughout. The thread-id request carries the name as its payload.
std::size_t BuildHqtrsRequest(uint8_t* buf, std::size_t cap, char own_order, uint8_t type, int32_t sequence,
                              int16_t own_group_id, int16_t own_member_id, int16_t own_group_index,
                              const void* payload = nullptr, std::size_t payload_length = 0);

// Decoders: false when the body is not a sound record.
bool DecodeDigest(const uint8_t* body, std::size_t length, HqtrsDigestInfo& out);
bool DecodeGroup(const uint8_t* body, std::size_t length, HqtrsGroupInfo& out);
bool DecodeMember(const uint8_t* body, std::size_t length, HqtrsMemberInfo& out);
bool DecodeMsg(const uint8_t* body, std::size_t length, HqtrsMsgInfo& out);
bool DecodePartition(const uint8_t* body, std::size_t length, HqtrsPartitionInfo& out);
bool DecodeMasterReply(const uint8_t* body, std::size_t length, ByteOrder order, HqtrsMasterReply& out);
bool DecodeThreadId(const uint8_t* body, std::size_t length, ByteOrder order, int32_t& out);

// The member table holds, in group order, each group's member_numer members with that
// group's id, and no others.
bool MembersConsecutiveByGroup(const std::vector<HqtrsGroupInfo>& groups,
                               const std::vector<HqtrsMemberInfo>& members);

}  // namespace VORN
}  // namespace OXA
