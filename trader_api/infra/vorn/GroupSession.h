// One group of the bus as this member sees it: a window record per member (its send window
// towards the member, the receive window its messages enter, its address, route and
// partition), the send mutex that serialises senders to the group, and the periodic ACK, NAK
// and RACK decisions.
//
// Sending: an app message is copied once into each addressee's send window and sent from
// there, so a NAK is answered with the very bytes first sent. A full window sends a RACK and
// waits up to the jam wait for the acknowledgements to make room; a peer that does not make
// room is abandoned (skipped) and brought back when it shows it is alive: its resync
// counter changed (a receive-position request came, the counter at the abandoning is
// remembered) or it acknowledged beyond what it had acknowledged when it was abandoned (the
// handler re-probes an abandoned peer with a RACK every re-probe interval). A send reports
// how many members it reached, so "sent to nobody" is told apart from "sent".
//
// Every datagram leaves through the group's IDgramSink, and time comes from the context's
// clock or the handler's tick, so a test drives two members step by step without sockets.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "infra/vorn/DgramSink.h"
#include "infra/vorn/HqtrsWire.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"
#include "infra/vorn/VornWindow.h"

namespace OXA {
namespace VORN {

class CEvent;
class CVornSystem;
class CBufferPool;

// What every group of one member shares, owned by the groups manager.
struct GroupContext {
    CVornSystem* sys = nullptr;
    IVornClock* clock = nullptr;
    WindowTiming timing;
    int32_t ack_watermark = 0;
    CEvent* deliver_event = nullptr;  // woken for every message that enters a delivery list
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> loopback{0};
    std::atomic<bool> startup{false};  // the receiver is in its start-up phase
    // Lines that arriving datagrams write (a line each otherwise): what the receiver and what
    // the handler log, at most 20 a second each.
    CRateLimit recv_log{1000000000, 20};
    CRateLimit control_log{1000000000, 20};
};

// Slot states of a send window.
enum : int32_t { kSlotAbandoned = 0, kSlotNormal = 1 };

struct VornPeerWindow {
    int16_t group_id = -1;
    int16_t member_id = -1;
    int member_index = -1;  // in the member table
    int position = -1;      // in its group
    sockaddr_in addr{};
    bool routed = false;
    bool accept_any = false;  // takes messages of any partition
    int16_t partition = 0;
    VornMsgSource source;

    // ---- send side
    std::unique_ptr<CSendWindow> send;
    std::atomic<int32_t> slot_state{kSlotNormal};
    // 0 until the peer's send position is known, 1 after a send-position reply, -1 after a
    // failed start-up request, grown by every receive-position request of the peer.
    std::atomic<int32_t> resync{0};
    int32_t remembered = 0;         // the counter when last abandoned or re-enabled (send mutex)
    int64_t acked_at_abandon = -1;  // acknowledged when abandoned (send mutex)
    std::atomic<int32_t> reported_state{-1};  // last state reported to the coordinator

    // ---- RACK state (handler)
    int64_t rack_seen = -1;
    int64_t rack_ns = 0;
    bool rack_timed = false;
    int32_t rack_count = 0;
    bool probing = false;
    int64_t probe_ns = 0;

    // ---- receive side
    std::unique_ptr<CRecvWindow> own_recv;  // plain groups
    CRecvWindow* recv = nullptr;            // own_recv, or the hot-backup group's window
    // 1 when the peer answered a receive-position request (or asked for our send
    // position), -1 after a failed start-up request.
    std::atomic<int32_t> recv_synced{0};
};

// How the groups manager sets up one member record.
struct MemberSetup {
    const HqtrsMemberInfo* info = nullptr;
    int member_index = -1;
    sockaddr_in addr{};
    bool routed = false;
    bool accept_any = false;
    int16_t partition = 0;
    uint32_t send_slots = 1;
    uint32_t recv_slots = 1;
};

struct SessionSetup {
    const HqtrsGroupInfo* group = nullptr;
    int group_index = -1;
    int first_member_index = 0;
    bool own = false;
    bool multicast_config = false;
    bool multicast_mode = false;
    sockaddr_in multicast_addr{};
    uint32_t group_recv_slots = 1;  // hot-backup groups
    std::vector<MemberSetup> members;
    IDgramSink* sink = nullptr;
};

class CGroupSession {
public:
    explicit CGroupSession(GroupContext& context);
    CGroupSession(const CGroupSession&) = delete;
    CGroupSession& operator=(const CGroupSession&) = delete;

    // Builds the window records; logs and fails as the set-up texts say.
    bool Init(const SessionSetup& setup);

    // ---- what the group is
    int16_t GroupId() const { return m_groupId; }
    int GroupIndex() const { return m_groupIndex; }
    char GroupMode() const { return m_groupMode; }
    char SvrType() const { return m_svrType; }
    bool HotBackup() const { return m_groupMode == '0'; }
    bool IsOwn() const { return m_own; }
    int16_t OwnMemberId() const { return m_ownMemberId; }
    bool MulticastConfig() const { return m_multicastConfig; }
    bool MulticastMode() const { return m_multicastMode; }
    bool AllRouted() const { return m_allRouted; }
    int FirstMemberIndex() const { return m_firstMemberIndex; }
    std::size_t MemberCount() const { return m_members.size(); }
    VornPeerWindow& Member(std::size_t position) { return *m_members[position]; }
    const VornPeerWindow& Member(std::size_t position) const { return *m_members[position]; }
    // Position of the member with this id, -1 when the group has none.
    int FindMember(int16_t member_id) const;
    // The hot-backup group's receive window (null in a plain group).
    CRecvWindow* GroupWindow() { return m_groupRecv.get(); }
    IDgramSink* Sink() { return m_sink; }

    // Loop-back of the own member's messages: the pool their copies come from and the
    // window whose delivery list takes them.
    void SetLoopback(CBufferPool* pool, CRecvWindow* window, const VornMsgSource* source);

    // ---- sending (any thread)
    // One app message to one member (member id) or to every member (-1) of the group;
    // partition -1 for no partition filter. 1, or 0 for an unknown member; reached: the
    // members that took it (windowed, listed in a multicast, or looped back).
    int SendMsg(int32_t tag, int16_t member, int16_t msg_id, const void* data, uint32_t length, int16_t partition,
                int* reached = nullptr);
    // One multicast datagram (type 12) carrying each member's sequence.
    int SendMulticast(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t partition,
                      int* reached = nullptr);

    // ---- the handler thread
    // The periodic ACK, NAK, RACK and re-probe decisions; true when it sent anything.
    bool AckNakTick(int64_t sec, int64_t nsec);
    // A NAK from the member at position (wire values): resend first..last from its send
    // window (a master device only), clamped to what the window holds.
    void ResendRange(int32_t first, int32_t last, int position);
    // A RACK with wire sequence r from the member at position.
    void AnswerRack(int position, int32_t r, int64_t now_ns);
    void SendAck(int position, int32_t seq);
    void SendNak(int position, int32_t first, int32_t last);

    // ---- the receiver thread (and the start-up synchronisation)
    void OnAck(int position, int32_t seq);
    // A send-position request (4, or 7): the member's receive window is reset and the
    // answer (4 to from, or 9 to the member) carries next expected - 1.
    void OnSendPositionRequest(int position, uint8_t type, const sockaddr_in& from);
    // A receive-position request (5, or 8): the answer (5 to from, or 10 to the member)
    // carries next send - 1, after which everything sent counts as received.
    void OnRecvPositionRequest(int position, uint8_t type, const sockaddr_in& from);
    // Replies with wire value c from this member: to a send-position request (4, 9) and to a
    // receive-position request (5, 10). Every value is a position, -999 too (the answer of a
    // peer that does not know this member never gets here: it names no known source).
    void ApplySendPositionReply(int position, int32_t c);
    void ApplyRecvPositionReply(int position, int32_t c);
    // Sends a position request (4, 5, 7 or 8) to the member; what sendto returns.
    ssize_t SendPositionRequest(int position, uint8_t type);

    // A header of this member addressed to (this group, member).
    VornHeader HeaderTo(uint8_t type, int32_t seq, int16_t member) const;

private:
    bool IsSelf(const VornPeerWindow& w) const { return m_own && w.member_id == m_ownMemberId; }
    bool Skipped(const VornPeerWindow& w, int16_t partition) const;
    // ---- under m_sendMutex
    bool Usable(VornPeerWindow& w);
    bool MakeRoom(VornPeerWindow& w);
    void Abandon(VornPeerWindow& w);
    int SendToMember(VornPeerWindow& w, int32_t tag, int16_t msg_id, const void* data, uint32_t length);
    int Loopback(int32_t tag, int16_t msg_id, const void* data, uint32_t length);
    int SendMulticastLocked(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t partition);
    // ---- handler
    bool AckNakDecide(CRecvWindow& window, int position, int64_t now);
    bool RackTick(VornPeerWindow& w, int64_t now);
    void SendControl(SinkChannel channel, int position, uint8_t type, int32_t seq);
    // To the member at position, or (-1) to every member but this one.
    void AckOrNakAll(int position, bool ack, int32_t a, int32_t b);

    GroupContext& m_ctx;
    CVornSystem& m_sys;
    int16_t m_groupId = -1;
    int m_groupIndex = -1;
    char m_groupMode = '1';
    char m_svrType = '1';
    bool m_own = false;
    int16_t m_ownMemberId = -1;
    bool m_multicastConfig = false;
    bool m_multicastMode = false;
    bool m_allRouted = true;
    sockaddr_in m_multicastAddr{};
    int m_firstMemberIndex = 0;
    std::vector<std::unique_ptr<VornPeerWindow>> m_members;
    std::vector<int> m_byId;  // member-id lookup: position or -1
    uint32_t m_byIdMask = 1;
    std::unique_ptr<CRecvWindow> m_groupRecv;
    IDgramSink* m_sink = nullptr;

    std::mutex m_sendMutex;
    int64_t m_loopSeq = 0;  // send mutex
    CBufferPool* m_loopPool = nullptr;
    CRecvWindow* m_loopWindow = nullptr;
    const VornMsgSource* m_loopSource = nullptr;
};

// Monotonic nanoseconds as a timespec.
timespec ToTimespec(int64_t ns);

}  // namespace VORN
}  // namespace OXA
