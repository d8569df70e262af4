// Drives the bus's datagram acceptance and the coordinator reply decoders with arbitrary
// bytes. The received bytes sit in a heap block of exactly their size, so any read past
// them is caught. Whatever is accepted must be consistent: its length within what arrived,
// an app message exactly header + payload long, its header readable again from the
// rewritten buffer, and a message in the host's order rebuilt byte for byte by the builder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "infra/vorn/HqtrsWire.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;

namespace {

const AcceptSource kSources[4] = {{1, 10, true}, {2, 10, true}, {5, 20, true}, {6, 20, false}};

void CheckAccepted(const uint8_t* original, const uint8_t* buf, std::size_t received, const AcceptResult& r) {
    if (r.length > received || r.length < kHeaderSize) __builtin_trap();
    VornHeader again;
    if (!ReadHostHeader(buf, received, again)) __builtin_trap();
    if (again.type != r.header.type || again.sequence != r.header.sequence ||
        again.src_member_id != r.header.src_member_id || again.payload_length != r.header.payload_length)
        __builtin_trap();
    if (r.header.type == kPktApp) {
        if (r.length != kAppHeaderSize + static_cast<std::size_t>(r.header.payload_length)) __builtin_trap();
        int16_t msg = 0;
        int32_t tag = 0;
        if (!ReadAppHeader(buf, r.length, msg, tag)) __builtin_trap();
        if (original[6] == kPktApp && r.header.byte_order == HostOrderChar()) {
            uint8_t rebuilt[kMaxDatagram];
            const std::size_t n = BuildApp(rebuilt, sizeof rebuilt, r.header, msg, tag, buf + kAppHeaderSize,
                                           static_cast<std::size_t>(r.header.payload_length));
            if (n != r.length || std::memcmp(rebuilt, original, n) != 0) __builtin_trap();
        }
    } else if (r.length > kControlDatagramMax) {
        __builtin_trap();
    }
    if (r.route == AcceptRoute::kAnswerUnknown) {
        uint8_t reply[kHeaderSize];
        if (BuildUnknownSourceReply(reply, sizeof reply, r.header, HostOrderChar()) != kHeaderSize) __builtin_trap();
    }
}

void DecodeAsReply(const uint8_t* body, std::size_t n) {
    HqtrsDigestInfo d;
    if (DecodeDigest(body, n, d) && (d.group_count <= 0 || d.window_size > kMaxWindowSize)) __builtin_trap();
    HqtrsGroupInfo g;
    if (DecodeGroup(body, n, g) && std::strlen(g.group_ip) >= sizeof g.group_ip) __builtin_trap();
    HqtrsMemberInfo m;
    if (DecodeMember(body, n, m) && std::strlen(m.member_ip) >= sizeof m.member_ip) __builtin_trap();
    HqtrsMsgInfo msg;
    DecodeMsg(body, n, msg);
    HqtrsPartitionInfo p;
    DecodePartition(body, n, p);
    HqtrsMasterReply master;
    DecodeMasterReply(body, n, ByteOrder::Big, master);
    int32_t id = 0;
    DecodeThreadId(body, n, ByteOrder::Little, id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // what a 1,400-byte read keeps, and the length the kernel reports
    const std::size_t received = size < kMaxDatagram ? size : kMaxDatagram;
    std::unique_ptr<uint8_t[]> buf(new uint8_t[received ? received : 1]);
    if (received) std::memcpy(buf.get(), data, received);

    AcceptContext ctx;
    ctx.own_member_id = 2;
    ctx.sources = kSources;
    ctx.source_mask = 3;
    ctx.own_group_members = 2;
    ctx.own_position = 1;
    const AcceptResult r = AcceptDatagram(buf.get(), received, size, ctx);
    if (r.route != AcceptRoute::kDrop) CheckAccepted(data, buf.get(), received, r);
    if (r.route == AcceptRoute::kDrop && r.reason == DropReason::kNone) __builtin_trap();

    if (received >= kHeaderSize) {
        std::unique_ptr<uint8_t[]> body(new uint8_t[received - kHeaderSize + 1]);
        std::memcpy(body.get(), data + kHeaderSize, received - kHeaderSize);
        DecodeAsReply(body.get(), received - kHeaderSize);
    }
    return 0;
}
