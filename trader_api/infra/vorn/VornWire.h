// Every datagram of the bus: the 23-byte header, the body of each packet type, and the rules
// by which a receiving member accepts or drops what arrives.
//
// Pure functions over bounded buffers. Multi-byte fields travel in the sender's byte order,
// which the header's byte-order character names ('0' little-endian, '1' big-endian); every
// read and write goes through WireReader / WireWriter with that order. Builders return the
// datagram's length, 0 when the buffer is too small or an argument is out of range.
//
// Acceptance is stricter than "fits the buffer": every packet type has its exact size, a
// datagram the kernel truncated is dropped, control datagrams over 72 bytes (the room a control
// buffer has) are dropped, and a multicast list must hold one entry per member of the own
// group; so a handler never reads past what arrived.
#pragma once

#include <cstddef>
#include <cstdint>

#include "infra/utility/WireCodec.h"

namespace OXA {
namespace VORN {

using API::ByteOrder;

constexpr uint8_t kVornVersion = 5;
constexpr std::size_t kHeaderSize = 23;
constexpr std::size_t kAppHeaderSize = 29;
constexpr std::size_t kMaxDatagram = 1400;      // the largest datagram read
constexpr int32_t kMaxAppData = 1371;           // kMaxDatagram - kAppHeaderSize
constexpr std::size_t kControlDatagramMax = 72; // what a control buffer holds
constexpr std::size_t kRangeSize = 31;          // NAK and notice NAK
constexpr std::size_t kResyncOrderSize = 27;
constexpr std::size_t kHeartbeatSize = 40;
constexpr std::size_t kStatisticsSize = 39;
constexpr std::size_t kSlotStateSize = 28;
constexpr std::size_t kMaxNoticePairBytes = 48;
constexpr int32_t kUnknownSourceSequence = -999;

// Packet types between members and towards the coordinator.
enum PacketType : uint8_t {
    kPktAck = 1,
    kPktNak = 2,
    kPktRack = 3,
    kPktSendPos = 4,
    kPktRecvPos = 5,
    kPktApp = 6,
    kPktSendPosResync = 7,
    kPktRecvPosResync = 8,
    kPktSendPosResyncReply = 9,
    kPktRecvPosResyncReply = 10,
    kPktStorageHeader = 11,
    kPktMulticastApp = 12,
    kPktHeartbeat = 32,
    kPktDeliverNotice = 64,
    kPktNoticeAck = 65,    // 'A'
    kPktNoticeNak = 66,    // 'B'
    kPktNoticeProbe = 67,  // 'C'
    kPktStatistics = 80,   // 'P'
    kPktSlotState = 81,    // 'Q'
    kPktResyncOrder = 82,  // 'R'
};

// '0' little-endian, '1' big-endian.
constexpr char CharOfOrder(ByteOrder order) { return order == ByteOrder::Big ? '1' : '0'; }
constexpr char HostOrderChar() { return CharOfOrder(API::wire::host_order()); }
// False for any other character.
bool OrderOfChar(char c, ByteOrder& order);

struct VornHeader {
    uint8_t version = kVornVersion;
    char byte_order = HostOrderChar();  // the order the fields are (to be) written in
    int32_t sequence = 0;
    uint8_t type = 0;
    int16_t src_group_id = -1;
    int16_t src_group_index = -1;
    int16_t src_member_id = -1;
    int16_t src_member_index = -1;
    int16_t dst_group_id = -1;
    int16_t dst_member_id = -1;
    int32_t payload_length = 0;
};

// Reads the header in the order its byte-order character names; false when fewer than 23
// bytes are given or the character is neither '0' nor '1'.
bool ReadHeader(const void* data, std::size_t length, VornHeader& out);
// Writes the header in h.byte_order (an unknown character writes in host order).
bool WriteHeader(API::WireWriter& w, const VornHeader& h);
// Rewrites the header's multi-byte fields in host order, keeping the sender's byte-order
// character, which then names the order of the body only (what storage keeps). False when
// the header cannot be read.
bool NormalizeHeader(uint8_t* data, std::size_t length);
// Reads a header rewritten by NormalizeHeader (fields in host order); byte_order is the
// sender's character.
bool ReadHostHeader(const void* data, std::size_t length, VornHeader& out);
// The order the body is in: the one the byte-order character names.
bool BodyOrder(const void* data, std::size_t length, ByteOrder& order);

// ---- builders ----------------------------------------------------------------------------
// h gives version, byte order, sequence, type, source and destination; payload_length is set
// by each builder.

// 23 bytes: ACK, RACK, position requests and replies, notice ACK and probe.
std::size_t BuildControl(uint8_t* buf, std::size_t cap, VornHeader h);
// 31 bytes: NAK or notice NAK with the range first..last.
std::size_t BuildRange(uint8_t* buf, std::size_t cap, VornHeader h, int32_t first, int32_t last);
// 29 + length bytes: an app message (type 6); length at most kMaxAppData.
std::size_t BuildApp(uint8_t* buf, std::size_t cap, VornHeader h, int16_t msg_id, int32_t tag, const void* data,
                     std::size_t length);
// 29 + length + 4 x members bytes: a multicast app message (type 12) with one sequence per
// member of the destination group (-1 for a skipped member).
std::size_t BuildMulticastApp(uint8_t* buf, std::size_t cap, VornHeader h, int16_t msg_id, int32_t tag,
                              const void* data, std::size_t length, const int32_t* sequences, std::size_t members);
// 40 bytes: heartbeat with the master's grant time and the pair's mode character.
std::size_t BuildHeartbeat(uint8_t* buf, std::size_t cap, VornHeader h, int64_t grant_sec, int64_t grant_usec,
                           char mode);
// 23 + pair bytes: a deliver notice; pair bytes even, 2 to 48.
std::size_t BuildDeliverNotice(uint8_t* buf, std::size_t cap, VornHeader h, const uint8_t* pairs,
                               std::size_t pair_bytes);
// 27 bytes: a resync order naming one member.
std::size_t BuildResyncOrder(uint8_t* buf, std::size_t cap, VornHeader h, int16_t group_id, int16_t member_id);
// 39 bytes: statistics for the coordinator.
std::size_t BuildStatistics(uint8_t* buf, std::size_t cap, VornHeader h, int32_t start_hhmmss, int32_t received,
                            int32_t sent);
// 28 bytes: slot state of one member for the coordinator (1 normal, 0 abandoned).
std::size_t BuildSlotState(uint8_t* buf, std::size_t cap, VornHeader h, int16_t group_id, int16_t member_id,
                           uint8_t state);
// 23 bytes: the answer to a position request from an unknown source: the same type with
// sequence -999, addressed back to the request's source.
std::size_t BuildUnknownSourceReply(uint8_t* buf, std::size_t cap, const VornHeader& request, char own_order);
// True for such an answer. It is told by its source indexes, both -1 (a member always writes
// its own), not by its sequence: once every 2^32 messages a real position reads -999.
inline bool IsUnknownSourceAnswer(const VornHeader& h) { return h.src_group_index == -1 && h.src_member_index == -1; }

// ---- body readers: the body in the order the byte-order character names, before or after
// the header was normalised ----------------------------------------------------------------

bool ReadAppHeader(const void* data, std::size_t length, int16_t& msg_id, int32_t& tag);
bool ReadRange(const void* data, std::size_t length, int32_t& first, int32_t& last);
bool ReadHeartbeat(const void* data, std::size_t length, int64_t& grant_sec, int64_t& grant_usec, char& mode);
bool ReadResyncOrder(const void* data, std::size_t length, int16_t& group_id, int16_t& member_id);

// ---- acceptance ----------------------------------------------------------------------------

// What the receiver knows of one entry of its receive lookup table.
struct AcceptSource {
    int16_t member_id = -1;
    int16_t group_id = -1;
    bool routed = false;  // this member sends to and accepts from the source
};

struct AcceptContext {
    int16_t own_member_id = -1;
    const AcceptSource* sources = nullptr;  // source_mask + 1 entries
    uint32_t source_mask = 0;
    uint32_t own_group_members = 0;  // length of a multicast list
    uint32_t own_position = 0;       // own entry in that list
};

enum class AcceptRoute {
    kDrop,
    kAnswerUnknown,  // position request from an unknown source: answer with -999
    kReceiver,       // handled on the receiver thread: 1, 4, 5, 6 (and 12), 7-10, 64, 65
    kHandler,        // queued for the handler thread: 2, 3, 32, 66, 67
    kResyncOrder,    // 82 from a source this member does not route to
};

enum class DropReason {
    kNone,
    kTruncated,       // longer than what was read, or than the largest datagram
    kBadHeader,       // shorter than a header, or an unknown byte-order character
    kBadSize,         // the length does not match the packet type
    kUnknownType,
    kUnknownSource,
    kNotForMe,        // addressed to another member
    kNotRouted,
    kSkippedInList,   // multicast list entry -1
    kIgnored,         // a valid packet nothing acts on (82 from a routed source)
};

struct AcceptResult {
    AcceptRoute route = AcceptRoute::kDrop;
    DropReason reason = DropReason::kNone;
    VornHeader header;         // host values; type 6 for an accepted multicast message
    uint32_t source_slot = 0;  // index of the source's lookup entry
    std::size_t length = 0;    // datagram length to keep (a multicast list is cut off)
};

// Applies the receive rules to one datagram of received bytes held in data, of which the
// kernel reported datagram_length (longer when it truncated). An accepted or answered datagram
// has its header rewritten in host order in place; an accepted multicast message becomes a
// type 6 message carrying the own sequence.
AcceptResult AcceptDatagram(uint8_t* data, std::size_t received, std::size_t datagram_length,
                            const AcceptContext& ctx);

// The exact length rule of one packet type: true when a datagram of length bytes whose header
// claims payload bytes may be of that type (members: the own group's member count, for 12).
bool SizeFits(uint8_t type, std::size_t length, int32_t payload, uint32_t members);

}  // namespace VORN
}  // namespace OXA
