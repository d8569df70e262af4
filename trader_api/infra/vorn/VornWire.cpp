#include "infra/vorn/VornWire.h"

#include <cstring>

namespace OXA {
namespace VORN {

using API::WireReader;
using API::WireWriter;

namespace {

ByteOrder OrderFor(char c) {
    ByteOrder o;
    return OrderOfChar(c, o) ? o : API::wire::host_order();
}

// Starts a datagram of total bytes with h and payload; returns false when it does not fit.
bool Begin(WireWriter& w, VornHeader& h, std::size_t total, int32_t payload) {
    if (w.size() < total) return false;
    h.payload_length = payload;
    return WriteHeader(w, h);
}

}  // namespace

bool OrderOfChar(char c, ByteOrder& order) {
    if (c == '0') {
        order = ByteOrder::Little;
        return true;
    }
    if (c == '1') {
        order = ByteOrder::Big;
        return true;
    }
    return false;
}

bool ReadHeader(const void* data, std::size_t length, VornHeader& out) {
    WireReader r(data, length);
    uint8_t version = 0;
    char order_char = 0;
    if (!r.read_host(version) || !r.read_host(order_char)) return false;
    ByteOrder order;
    if (!OrderOfChar(order_char, order)) return false;
    VornHeader h;
    h.version = version;
    h.byte_order = order_char;
    r.read(h.sequence, order);
    r.read_host(h.type);
    r.read(h.src_group_id, order);
    r.read(h.src_group_index, order);
    r.read(h.src_member_id, order);
    r.read(h.src_member_index, order);
    r.read(h.dst_group_id, order);
    r.read(h.dst_member_id, order);
    r.read(h.payload_length, order);
    if (!r.ok()) return false;
    out = h;
    return true;
}

bool WriteHeader(WireWriter& w, const VornHeader& h) {
    const ByteOrder order = OrderFor(h.byte_order);
    w.write_host(h.version);
    w.write_host(CharOfOrder(order));
    w.write(h.sequence, order);
    w.write_host(h.type);
    w.write(h.src_group_id, order);
    w.write(h.src_group_index, order);
    w.write(h.src_member_id, order);
    w.write(h.src_member_index, order);
    w.write(h.dst_group_id, order);
    w.write(h.dst_member_id, order);
    w.write(h.payload_length, order);
    return w.ok();
}

bool NormalizeHeader(uint8_t* data, std::size_t length) {
    VornHeader h;
    if (!ReadHeader(data, length, h)) return false;
    const char sender = h.byte_order;
    h.byte_order = HostOrderChar();
    WireWriter w(data, kHeaderSize);
    if (!WriteHeader(w, h)) return false;
    data[1] = static_cast<uint8_t>(sender);
    return true;
}

bool ReadHostHeader(const void* data, std::size_t length, VornHeader& out) {
    if (!data || length < kHeaderSize) return false;
    const char order_char = static_cast<const char*>(data)[1];
    ByteOrder unused;
    if (!OrderOfChar(order_char, unused)) return false;
    uint8_t copy[kHeaderSize];
    std::memcpy(copy, data, kHeaderSize);
    copy[1] = static_cast<uint8_t>(HostOrderChar());
    if (!ReadHeader(copy, kHeaderSize, out)) return false;
    out.byte_order = order_char;
    return true;
}

bool BodyOrder(const void* data, std::size_t length, ByteOrder& order) {
    return data && length >= kHeaderSize && OrderOfChar(static_cast<const char*>(data)[1], order);
}

std::size_t BuildControl(uint8_t* buf, std::size_t cap, VornHeader h) {
    WireWriter w(buf, cap);
    return Begin(w, h, kHeaderSize, 0) ? w.position() : 0;
}

std::size_t BuildRange(uint8_t* buf, std::size_t cap, VornHeader h, int32_t first, int32_t last) {
    WireWriter w(buf, cap);
    if (!Begin(w, h, kRangeSize, 8)) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write(first, order);
    w.write(last, order);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildApp(uint8_t* buf, std::size_t cap, VornHeader h, int16_t msg_id, int32_t tag, const void* data,
                     std::size_t length) {
    if (length > static_cast<std::size_t>(kMaxAppData) || (length && !data)) return 0;
    WireWriter w(buf, cap);
    if (!Begin(w, h, kAppHeaderSize + length, static_cast<int32_t>(length))) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write(msg_id, order);
    w.write(tag, order);
    w.write_bytes(data, length);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildMulticastApp(uint8_t* buf, std::size_t cap, VornHeader h, int16_t msg_id, int32_t tag,
                              const void* data, std::size_t length, const int32_t* sequences, std::size_t members) {
    if (length > static_cast<std::size_t>(kMaxAppData) || (members && !sequences)) return 0;
    if (members > (kMaxDatagram - kAppHeaderSize - length) / 4) return 0;
    h.type = kPktMulticastApp;
    const std::size_t app = BuildApp(buf, cap, h, msg_id, tag, data, length);
    if (!app) return 0;
    WireWriter w(buf, cap);
    w.seek(app);
    const ByteOrder order = OrderFor(h.byte_order);
    for (std::size_t i = 0; i < members; ++i) w.write(sequences[i], order);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildHeartbeat(uint8_t* buf, std::size_t cap, VornHeader h, int64_t grant_sec, int64_t grant_usec,
                           char mode) {
    WireWriter w(buf, cap);
    if (!Begin(w, h, kHeartbeatSize, 17)) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write(grant_sec, order);
    w.write(grant_usec, order);
    w.write_host(mode);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildDeliverNotice(uint8_t* buf, std::size_t cap, VornHeader h, const uint8_t* pairs,
                               std::size_t pair_bytes) {
    if (pair_bytes == 0 || pair_bytes > kMaxNoticePairBytes || pair_bytes % 2 || !pairs) return 0;
    WireWriter w(buf, cap);
    if (!Begin(w, h, kHeaderSize + pair_bytes, static_cast<int32_t>(pair_bytes))) return 0;
    w.write_bytes(pairs, pair_bytes);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildResyncOrder(uint8_t* buf, std::size_t cap, VornHeader h, int16_t group_id, int16_t member_id) {
    WireWriter w(buf, cap);
    if (!Begin(w, h, kResyncOrderSize, 4)) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write(group_id, order);
    w.write(member_id, order);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildStatistics(uint8_t* buf, std::size_t cap, VornHeader h, int32_t start_hhmmss, int32_t received,
                            int32_t sent) {
    WireWriter w(buf, cap);
    if (!Begin(w, h, kStatisticsSize, 16)) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write_bytes("4F5R", 4);
    w.write(start_hhmmss, order);
    w.write(received, order);
    w.write(sent, order);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildSlotState(uint8_t* buf, std::size_t cap, VornHeader h, int16_t group_id, int16_t member_id,
                           uint8_t state) {
    WireWriter w(buf, cap);
    if (!Begin(w, h, kSlotStateSize, 5)) return 0;
    const ByteOrder order = OrderFor(h.byte_order);
    w.write(group_id, order);
    w.write(member_id, order);
    w.write_host(state);
    return w.ok() ? w.position() : 0;
}

std::size_t BuildUnknownSourceReply(uint8_t* buf, std::size_t cap, const VornHeader& request, char own_order) {
    VornHeader h;
    h.byte_order = own_order;
    h.type = request.type;
    h.sequence = kUnknownSourceSequence;
    h.src_group_id = request.dst_group_id;
    h.src_member_id = request.dst_member_id;
    h.src_group_index = -1;
    h.src_member_index = -1;
    h.dst_group_id = request.src_group_id;
    h.dst_member_id = request.src_member_id;
    return BuildControl(buf, cap, h);
}

bool ReadAppHeader(const void* data, std::size_t length, int16_t& msg_id, int32_t& tag) {
    ByteOrder order;
    if (!BodyOrder(data, length, order)) return false;
    WireReader r(data, length);
    r.seek(kHeaderSize);
    r.read(msg_id, order);
    r.read(tag, order);
    return r.ok();
}

bool ReadRange(const void* data, std::size_t length, int32_t& first, int32_t& last) {
    ByteOrder order;
    if (!BodyOrder(data, length, order)) return false;
    WireReader r(data, length);
    r.seek(kHeaderSize);
    r.read(first, order);
    r.read(last, order);
    return r.ok();
}

bool ReadHeartbeat(const void* data, std::size_t length, int64_t& grant_sec, int64_t& grant_usec, char& mode) {
    ByteOrder order;
    if (!BodyOrder(data, length, order)) return false;
    WireReader r(data, length);
    r.seek(kHeaderSize);
    r.read(grant_sec, order);
    r.read(grant_usec, order);
    r.read_host(mode);
    return r.ok();
}

bool ReadResyncOrder(const void* data, std::size_t length, int16_t& group_id, int16_t& member_id) {
    ByteOrder order;
    if (!BodyOrder(data, length, order)) return false;
    WireReader r(data, length);
    r.seek(kHeaderSize);
    r.read(group_id, order);
    r.read(member_id, order);
    return r.ok();
}

bool SizeFits(uint8_t type, std::size_t length, int32_t payload, uint32_t members) {
    switch (type) {
        case kPktAck:
        case kPktRack:
        case kPktSendPos:
        case kPktRecvPos:
        case kPktSendPosResync:
        case kPktRecvPosResync:
        case kPktSendPosResyncReply:
        case kPktRecvPosResyncReply:
        case kPktNoticeAck:
        case kPktNoticeProbe:
            return length == kHeaderSize;
        case kPktNak:
        case kPktNoticeNak:
            return length == kRangeSize;
        case kPktResyncOrder:
            return length == kResyncOrderSize;
        case kPktHeartbeat:
            return length == kHeartbeatSize;
        case kPktDeliverNotice:
            return payload > 0 && payload <= static_cast<int32_t>(kMaxNoticePairBytes) && payload % 2 == 0 &&
                   length == kHeaderSize + static_cast<std::size_t>(payload);
        case kPktApp:
            return payload >= 0 && payload <= kMaxAppData && length == kAppHeaderSize + static_cast<std::size_t>(payload);
        case kPktMulticastApp:
            return payload >= 0 && payload <= kMaxAppData && members > 0 &&
                   length == kAppHeaderSize + static_cast<std::size_t>(payload) + 4u * static_cast<std::size_t>(members);
        default:
            return false;
    }
}

namespace {

bool KnownType(uint8_t type) {
    switch (type) {
        case kPktAck: case kPktNak: case kPktRack: case kPktSendPos: case kPktRecvPos: case kPktApp:
        case kPktSendPosResync: case kPktRecvPosResync: case kPktSendPosResyncReply: case kPktRecvPosResyncReply:
        case kPktMulticastApp: case kPktHeartbeat: case kPktDeliverNotice: case kPktNoticeAck: case kPktNoticeNak:
        case kPktNoticeProbe: case kPktResyncOrder:
            return true;
        default:
            return false;
    }
}

AcceptResult Dropped(DropReason why, const VornHeader& h) {
    AcceptResult r;
    r.route = AcceptRoute::kDrop;
    r.reason = why;
    r.header = h;
    return r;
}

}  // namespace

AcceptResult AcceptDatagram(uint8_t* data, std::size_t received, std::size_t datagram_length,
                            const AcceptContext& ctx) {
    VornHeader h;
    if (datagram_length > received || datagram_length > kMaxDatagram) return Dropped(DropReason::kTruncated, h);
    const std::size_t length = datagram_length;
    if (!ReadHeader(data, length, h)) return Dropped(DropReason::kBadHeader, h);
    if (!KnownType(h.type)) return Dropped(DropReason::kUnknownType, h);
    if (h.type != kPktApp && h.type != kPktMulticastApp && length > kControlDatagramMax)
        return Dropped(DropReason::kBadSize, h);
    if (!SizeFits(h.type, length, h.payload_length, ctx.own_group_members)) return Dropped(DropReason::kBadSize, h);

    AcceptResult r;
    r.header = h;
    r.length = length;
    r.source_slot = static_cast<uint16_t>(h.src_member_index) & ctx.source_mask;
    const AcceptSource* src = ctx.sources ? &ctx.sources[r.source_slot] : nullptr;
    if (!src || src->member_id == -1 || src->member_id != h.src_member_id || src->group_id != h.src_group_id) {
        // an answer is itself never answered: two members that do not know each other would
        // otherwise trade answers for ever
        if ((h.type == kPktSendPos || h.type == kPktRecvPos) && !IsUnknownSourceAnswer(h)) {
            NormalizeHeader(data, length);
            r.route = AcceptRoute::kAnswerUnknown;
            return r;
        }
        return Dropped(DropReason::kUnknownSource, h);
    }

    if (h.type == kPktMulticastApp) {
        if (ctx.own_position >= ctx.own_group_members) return Dropped(DropReason::kSkippedInList, h);
        ByteOrder order = API::wire::host_order();
        OrderOfChar(h.byte_order, order);
        WireReader list(data, length);
        list.seek(kAppHeaderSize + static_cast<std::size_t>(h.payload_length) + 4u * ctx.own_position);
        int32_t own = -1;
        if (!list.read(own, order) || own == -1) return Dropped(DropReason::kSkippedInList, h);
        h.type = kPktApp;
        h.sequence = own;
        r.header = h;
        r.length = kAppHeaderSize + static_cast<std::size_t>(h.payload_length);
        data[6] = kPktApp;
        WireWriter seq(data + 2, 4);
        seq.write(own, order);  // still in the sender's order: normalised below with the rest
    }

    if (h.dst_member_id != -1 && h.dst_member_id != ctx.own_member_id) return Dropped(DropReason::kNotForMe, h);

    if (!src->routed) {
        if (h.type != kPktResyncOrder) return Dropped(DropReason::kNotRouted, h);
        NormalizeHeader(data, length);
        r.route = AcceptRoute::kResyncOrder;
        return r;
    }

    switch (h.type) {
        case kPktAck: case kPktSendPos: case kPktRecvPos: case kPktApp: case kPktSendPosResync:
        case kPktRecvPosResync: case kPktSendPosResyncReply: case kPktRecvPosResyncReply:
        case kPktDeliverNotice: case kPktNoticeAck:
            r.route = AcceptRoute::kReceiver;
            break;
        case kPktNak: case kPktRack: case kPktHeartbeat: case kPktNoticeNak: case kPktNoticeProbe:
            r.route = AcceptRoute::kHandler;
            break;
        default:
            return Dropped(DropReason::kIgnored, h);
    }
    NormalizeHeader(data, length);
    return r;
}

}  // namespace VORN
}  // namespace OXA
