// Drives one bus member's receive path with a script of hostile datagrams: raw bytes, and
// well-formed packets of every window type with fuzzed sequences, sources and bodies (ACKs
// beyond anything sent, NAK ranges of any width, position replies, resync orders, app
// messages inside, before and beyond the window), interleaved with its own sends, handler
// ticks and deliveries. Whatever arrives, a source's messages come out of its delivery list
// in strictly rising sequence, and every resend is a datagram the member stored itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;

namespace {

class Clock : public IVornClock {
public:
    int64_t NowNs() override { return now += 1000; }
    int64_t now = 1000000000;
};

// Remembers every app datagram the member sent first, so resends can be checked.
class Sink : public IDgramSink {
public:
    ssize_t Send(SinkChannel channel, const uint8_t* data, std::size_t length, const sockaddr_in&, int16_t,
                 int16_t member) override {
        VornHeader h;
        if (length > kMaxDatagram || !ReadHeader(data, length, h)) __builtin_trap();
        if (h.type == kPktApp) {
            auto& seen = sent[member];
            auto it = seen.find(h.sequence);
            if (channel == SinkChannel::kApp) {
                seen[h.sequence].assign(data, data + length);
            } else if (it == seen.end() || it->second != std::vector<uint8_t>(data, data + length)) {
                __builtin_trap();  // a resend that is not the stored datagram
            }
        }
        return static_cast<ssize_t>(length);
    }
    std::map<int16_t, std::map<int32_t, std::vector<uint8_t>>> sent;
};

// Member 1 of client group 10 (window 8) talks to server group 20 (members 2 and 3) and
// to a hot-backup pair 30 (members 4 and 5); member 6 is outside every partition.
VornLayout MakeLayout(std::vector<int16_t>& partitions) {
    VornLayout l;
    l.digest.window_size = 8;
    l.digest.ack_water_mark = 0;
    const struct {
        int16_t id;
        char mode, svr;
        int16_t members;
    } groups[] = {{10, '1', '1', 1}, {20, '1', '0', 2}, {30, '0', '0', 2}, {40, '1', '1', 1}};
    const int16_t member_ids[] = {1, 2, 3, 4, 5, 6};
    const int16_t member_groups[] = {10, 20, 20, 30, 30, 40};
    partitions = {0, 0, 0, 0, 0, 0x7FFF};
    for (std::size_t i = 0; i < 4; ++i) {
        HqtrsGroupInfo g;
        g.index = static_cast<int16_t>(i);
        g.group_id = groups[i].id;
        g.group_mode = groups[i].mode;
        g.svr_type = groups[i].svr;
        g.member_numer = groups[i].members;
        l.groups.push_back(g);
    }
    for (std::size_t i = 0; i < 6; ++i) {
        HqtrsMemberInfo m;
        m.index = static_cast<int16_t>(i);
        m.group_id = member_groups[i];
        m.member_id = member_ids[i];
        std::strcpy(m.member_ip, "127.0.0.1");
        m.member_port = static_cast<uint16_t>(7001 + i);
        l.members.push_back(m);
    }
    l.digest.group_count = 4;
    l.digest.member_count = 6;
    return l;
}

const uint8_t kTypes[] = {kPktAck,         kPktNak,          kPktRack,          kPktSendPos,
                          kPktRecvPos,     kPktApp,          kPktSendPosResync, kPktRecvPosResync,
                          kPktSendPosResyncReply, kPktRecvPosResyncReply, kPktMulticastApp, kPktResyncOrder};

struct Reader {
    const uint8_t* p;
    std::size_t n;
    bool Take(std::size_t k, const uint8_t*& out) {
        if (n < k) return false;
        out = p;
        p += k;
        n -= k;
        return true;
    }
    uint8_t Byte() {
        const uint8_t* b;
        return Take(1, b) ? *b : 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<int16_t> partitions;
    const VornLayout layout = MakeLayout(partitions);
    CVornSystem sys;
    sys.SetOwnIds(10, 1);
    sys.SetPartitions(partitions);
    sys.SetDeviceIdentity(1);
    sys.SetJamWaitUs(5);
    Clock clock;
    Sink sink;
    std::unique_ptr<CGroupsManager> mgr(new CGroupsManager(sys));
    GroupsOptions o;
    o.sink = &sink;
    o.clock = &clock;
    o.netmask = [](const char*) { return 0u; };
    if (!mgr->Init(layout, 0, o)) __builtin_trap();
    if (size && (data[0] & 1)) mgr->BeginStartupPhase();

    std::map<const CDeliveryList*, int64_t> last_seq;
    sockaddr_in from;
    MakeAddress("127.0.0.1", 9999, from);
    Reader in{data, size};
    while (in.n) {
        const uint8_t op = in.Byte();
        switch (op % 6) {
            case 0: {  // raw bytes
                const std::size_t len = in.Byte() % 64;
                const uint8_t* raw;
                if (!in.Take(len, raw)) break;
                VornBuffer* b = mgr->AppPool().Get();
                if (!b) __builtin_trap();
                std::memcpy(b->data, raw, len);
                const auto a = mgr->OnDatagram(b, len, len, from);
                if (a == CGroupsManager::RecvAction::kToHandler) mgr->OnControl(b->data, b->length, clock.now);
                if (a != CGroupsManager::RecvAction::kKept) VornBuffer::Release(b);
                break;
            }
            case 1: {  // a well-formed packet from a fuzzed source
                const uint8_t type = kTypes[in.Byte() % sizeof kTypes];
                const int16_t index = static_cast<int16_t>(in.Byte() % 7);  // 6: nobody
                int32_t seq = static_cast<int8_t>(in.Byte());
                if (in.Byte() % 4 == 0) seq *= 1000;
                const int32_t other = static_cast<int32_t>(static_cast<int8_t>(in.Byte()));
                VornHeader h;
                h.type = type;
                h.sequence = seq;
                h.src_member_index = index;
                h.src_member_id = index < 6 ? layout.members[static_cast<std::size_t>(index)].member_id : 77;
                h.src_group_id = index < 6 ? layout.members[static_cast<std::size_t>(index)].group_id : 77;
                h.dst_group_id = 10;
                h.dst_member_id = in.Byte() % 5 ? 1 : -1;
                uint8_t buf[kMaxDatagram];
                std::size_t n = 0;
                const uint8_t body[8] = {1, 2, 3, 4, 5, 6, 7, 8};
                const int32_t list[1] = {seq};
                switch (type) {
                    case kPktNak: n = BuildRange(buf, sizeof buf, h, seq, seq + other); break;
                    case kPktApp: n = BuildApp(buf, sizeof buf, h, 0x100, 0, body, in.Byte() % 9); break;
                    case kPktMulticastApp: n = BuildMulticastApp(buf, sizeof buf, h, 0x100, 0, body, 4, list, 1); break;
                    case kPktResyncOrder: n = BuildResyncOrder(buf, sizeof buf, h, 20, static_cast<int16_t>(2 + other % 3)); break;
                    default: n = BuildControl(buf, sizeof buf, h); break;
                }
                if (!n) break;
                VornBuffer* b = mgr->AppPool().Get();
                std::memcpy(b->data, buf, n);
                const auto a = mgr->OnDatagram(b, n, n, from);
                if (a == CGroupsManager::RecvAction::kToHandler) mgr->OnControl(b->data, b->length, clock.now);
                if (a != CGroupsManager::RecvAction::kKept) VornBuffer::Release(b);
                break;
            }
            case 2: {  // an own send to a group
                const int16_t group = (in.Byte() & 1) ? 20 : 30;
                const int16_t member = static_cast<int16_t>(static_cast<int8_t>(in.Byte()) % 6);
                mgr->FindGroup(group)->SendMsg(0, member < 2 ? -1 : member, 0x100, "abcd", 4, -1);
                break;
            }
            case 3:  // the handler's tick
                clock.now += static_cast<int64_t>(in.Byte()) * 10000000;
                mgr->AckNakTick(clock.now / 1000000000, clock.now % 1000000000);
                break;
            case 4:  // the deliver thread
                for (int i = 0; i < 6; ++i) {
                    CDeliveryList* list = mgr->DeliveryListOf(i);
                    while (VornBuffer* b = list->Front()) {
                        VornHeader h;
                        if (!ReadHostHeader(b->data, b->length, h)) __builtin_trap();
                        auto it = last_seq.find(list);
                        if (it != last_seq.end() && h.sequence <= it->second) __builtin_trap();
                        last_seq[list] = h.sequence;
                        list->PopFront();
                    }
                }
                break;
            default:
                if (mgr->InStartupPhase()) mgr->LeaveStartupPhase();
                break;
        }
    }
    return 0;
}
