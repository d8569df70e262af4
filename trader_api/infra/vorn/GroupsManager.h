// The coordinator's tables turned into the live structures of one member: a group session
// per group with a window record per member, the receive lookup table that recognises a
// datagram's source with one masked index, the own identity every header carries, the
// routing by partition, multicast eligibility and the three buffer pools.
//
// It is also where a received datagram meets the windows: OnDatagram is what the receiver
// thread does with one datagram (acceptance, ACKs, position exchange, app messages into
// their windows), OnControl what the handler does with a queued NAK or RACK, AckNakTick the
// handler's periodic work, and WindowSync the start-up synchronisation of the launch. None
// of them owns a thread or a socket: the sinks, the clock and the synchronisation channel
// are injected (UDP sockets and the steady clock by default).
//
// Start-up: while the receiver is in its start-up phase, app messages are taken only from
// peers whose position is known (they answered a receive-position request); what is taken
// enters its window and delivery list exactly as later, so whatever is acknowledged is
// delivered, in order and once, when the member goes live (the deliver thread starts only
// then). Every member synchronises its windows at start-up, a device of a hot-backup pair
// too, so a restarted device takes its peers' traffic in sequence from the first message.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "infra/vorn/DgramSink.h"
#include "infra/vorn/GroupSession.h"
#include "infra/vorn/HqtrsWire.h"
#include "infra/vorn/VornNet.h"
#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

class CEvent;
class CHqtrsClient;
class CVornSystem;

constexpr int kMaxGroups = 64;

// The tables the groups are built from.
struct VornLayout {
    HqtrsDigestInfo digest;
    std::vector<HqtrsGroupInfo> groups;
    std::vector<HqtrsMemberInfo> members;
    std::vector<HqtrsMsgInfo> msgs;
    int multicast = 0;

    static VornLayout From(const CHqtrsClient& client);
};

struct GroupsOptions {
    // Shared by every group; null: each group opens its own UDP sockets.
    IDgramSink* sink = nullptr;
    IVornClock* clock = nullptr;  // null: the steady clock
    WindowTiming timing;
    SocketBufferTuning tuning;    // off by default
    // The netmask of the interface carrying an address; null: GetInterfaceNetmask.
    std::function<uint32_t(const char* ip)> netmask;
    // Woken for every message that enters a delivery list; null when the deliver thread
    // polls (it is pinned) or there is none yet.
    CEvent* deliver_event = nullptr;
    // What the synchronisation does while it waits for the receiver to leave its start-up
    // phase; null: sleep for the timing's poll.
    std::function<void()> startup_idle;
    // Called on the receiver thread when a message arrives ahead of a gap (the launch wakes
    // the handler with it, so the NAK need not wait for the next cycle); null: nothing.
    std::function<void()> on_gap;
};

// One entry of the receive lookup table.
struct SourceEntry {
    CGroupSession* group = nullptr;
    int position = -1;  // in its group
    int16_t member_id = -1;
    int16_t group_id = -1;
    int16_t group_index = -1;
    VornPeerWindow* window = nullptr;
};

// Routing by partition: a member of partition p seen from an own partition q.
struct PartitionRoute {
    bool routed = false;
    bool accept_any = false;
};
PartitionRoute RouteByPartition(int16_t p, int16_t q);

class CGroupsManager {
public:
    explicit CGroupsManager(CVornSystem& system);
    ~CGroupsManager();
    CGroupsManager(const CGroupsManager&) = delete;
    CGroupsManager& operator=(const CGroupsManager&) = delete;

    // Builds everything from the layout (the device identity must be known); false with the
    // failure logged. run_mode is that of the launch.
    bool Init(const VornLayout& layout, int run_mode, const GroupsOptions& options = GroupsOptions());

    // ---- structure
    std::size_t GroupCount() const { return m_groups.size(); }
    CGroupSession& Group(std::size_t index) { return *m_groups[index]; }
    CGroupSession* FindGroup(int16_t group_id);
    CGroupSession* OwnGroup() { return m_own; }
    // By member-table index; null outside the table.
    VornPeerWindow* WindowOf(int member_index);
    CDeliveryList* DeliveryListOf(int member_index);
    const SourceEntry& Lookup(uint32_t slot) const { return m_lookup[slot & m_lookupMask]; }
    uint32_t LookupMask() const { return m_lookupMask; }
    const AcceptContext& AcceptCtx() const { return m_accept; }
    CBufferPool& AppPool() { return *m_appPool; }
    CBufferPool& LoopPool() { return *m_loopPool; }
    CBufferPool& ControlPool() { return *m_controlPool; }
    GroupContext& Context() { return m_ctx; }
    uint64_t ReceivedCount() const { return m_ctx.received.load(std::memory_order_relaxed); }
    uint64_t LoopbackCount() const { return m_ctx.loopback.load(std::memory_order_relaxed); }
    // The sum of the next send sequences of every window record.
    int64_t SentTotal() const;

    // ---- the receiver thread
    enum class RecvAction {
        kKept,       // the buffer entered a window or delivery list: take a fresh one
        kReuse,      // dropped or done with: the buffer may be read into again
        kToHandler,  // a control packet (length in buffer->length) for the handler queue
        kNotice,     // a deliver notice or notice ACK (length in buffer->length) for delivery
    };
    // One datagram read into buffer (received bytes of a datagram of datagram_length) from
    // the address from.
    RecvAction OnDatagram(VornBuffer* buffer, std::size_t received, std::size_t datagram_length,
                          const sockaddr_in& from);

    // ---- the handler thread
    // A queued control packet (as OnDatagram left it); true when it was a NAK or RACK.
    bool OnControl(const uint8_t* data, std::size_t length, int64_t now_ns);
    // The periodic decisions of every group; true when anything was sent.
    bool AckNakTick(int64_t sec, int64_t nsec);

    // ---- the launch
    // The start-up window synchronisation over channel (null: an unbound UDP socket). False
    // when the channel cannot be opened or a peer answers that it does not know this member.
    bool WindowSync(ISyncChannel* channel = nullptr);

    // ---- the receiver's start-up phase
    // The receiver enters it when it starts, before the synchronisation runs.
    void BeginStartupPhase();
    bool InStartupPhase() const { return m_ctx.startup.load(std::memory_order_acquire); }
    // True once the synchronisation is over: the receiver then leaves the phase.
    bool StartupSyncDone() const { return m_phase.load(std::memory_order_acquire) == kPhaseSyncDone; }
    void LeaveStartupPhase();

private:
    enum : int { kPhaseNone, kPhaseStartup, kPhaseSyncDone, kPhaseLive };

    bool OnApp(const SourceEntry& entry, VornBuffer* buffer, const AcceptResult& r);
    void OnResyncOrder(const uint8_t* data, std::size_t length);
    void AnswerUnknown(const VornHeader& request, const sockaddr_in& from);
    // False when the receiver did not leave its start-up phase in time (or the member stops).
    bool EndStartupPhase();

    CVornSystem& m_sys;
    GroupContext m_ctx;
    // pools first: windows and lists give their buffers back when they go
    std::unique_ptr<CBufferPool> m_appPool;
    std::unique_ptr<CBufferPool> m_loopPool;
    std::unique_ptr<CBufferPool> m_controlPool;
    std::vector<std::unique_ptr<CSocketSink>> m_ownSinks;
    std::vector<std::unique_ptr<CGroupSession>> m_groups;
    CGroupSession* m_own = nullptr;
    std::vector<SourceEntry> m_lookup;
    std::vector<AcceptSource> m_acceptSources;
    uint32_t m_lookupMask = 1;
    uint32_t m_ownSlot = 0;
    AcceptContext m_accept;
    std::vector<VornPeerWindow*> m_byIndex;
    std::atomic<int> m_phase{kPhaseNone};
    std::function<void()> m_startupIdle;
    std::function<void()> m_onGap;
};

}  // namespace VORN
}  // namespace OXA
