#include "infra/vorn/GroupsManager.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

VornLayout VornLayout::From(const CHqtrsClient& client) {
    VornLayout l;
    l.digest = client.Digest();
    l.groups = client.Groups();
    l.members = client.Members();
    l.msgs = client.Msgs();
    l.multicast = client.MulticastFlag();
    return l;
}

namespace {

// True when a line of a per-datagram kind may go now.
inline bool Logging(CRateLimit& limit) { return limit.Allow(MonotonicNs()); }

}  // namespace

PartitionRoute RouteByPartition(int16_t p, int16_t q) {
    PartitionRoute r;
    if (p == 0x7FFF) return r;
    if (q != 0) {
        r.routed = p == 0 || p == q;
        r.accept_any = r.routed;
    } else {
        r.routed = true;
        r.accept_any = p == 0;
    }
    return r;
}

CGroupsManager::CGroupsManager(CVornSystem& system) : m_sys(system) { m_ctx.sys = &system; }

CGroupsManager::~CGroupsManager() = default;

bool CGroupsManager::Init(const VornLayout& layout, int run_mode, const GroupsOptions& options) {
    (void)run_mode;
    const std::vector<HqtrsGroupInfo>& groups = layout.groups;
    const std::vector<HqtrsMemberInfo>& members = layout.members;
    VornIdentity& id = m_sys.Identity();

    if (groups.size() > static_cast<std::size_t>(kMaxGroups)) {
        m_sys.Note("VORN Support Max Group Number < %d >, Excess!", kMaxGroups);
        return false;
    }
    if (!MembersConsecutiveByGroup(groups, members)) {
        m_sys.Note("Init Groups Info Fail.");
        return false;
    }

    // ---- the own group and member
    int own_group = -1;
    int first = 0;
    std::vector<int> firsts(groups.size());
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
        firsts[gi] = first;
        if (groups[gi].group_id == id.group_id && own_group < 0) own_group = static_cast<int>(gi);
        first += groups[gi].member_numer;
    }
    if (own_group < 0) {
        m_sys.Note("Init Own Group Info Fail: Group ID ( %d ) Not Exist.", id.group_id);
        return false;
    }
    const HqtrsGroupInfo& og = groups[static_cast<std::size_t>(own_group)];
    id.group_index = static_cast<int16_t>(own_group);
    id.group_mode = og.group_mode;
    id.group_member_count = og.member_numer;
    id.svr_type = og.svr_type;
    id.data_port = og.data_port;
    id.control_port = og.control_port;
    id.inner_port = og.inner_port;
    TuneHostSocketBuffers(m_sys, og.svr_type, options.tuning);
    int own_member = -1;
    for (int i = firsts[static_cast<std::size_t>(own_group)]; i < firsts[static_cast<std::size_t>(own_group)] + og.member_numer; ++i)
        if (members[static_cast<std::size_t>(i)].member_id == id.member_id) own_member = i;
    if (own_member < 0) {
        m_sys.Note("Init Own Group Info Fail: Member ID ( %d ) Not Exist.", id.member_id);
        return false;
    }
    const HqtrsMemberInfo& om = members[static_cast<std::size_t>(own_member)];
    API::CopyText(id.ip, om.member_ip, 15);
    id.port = om.member_port;
    id.member_index = static_cast<int16_t>(own_member);
    id.partition_id = m_sys.PartitionOf(own_member);
    id.partition_filter = id.partition_id == 0;

    // ---- shared context
    m_ctx.clock = options.clock ? options.clock : &CSteadyClock::Instance();
    m_ctx.timing = options.timing;
    m_ctx.ack_watermark = AckWatermark(layout.digest.window_size, layout.digest.ack_water_mark);
    m_ctx.deliver_event = options.deliver_event;
    m_startupIdle = options.startup_idle;
    m_onGap = options.on_gap;

    const int32_t W = layout.digest.window_size < 0 ? 0 : layout.digest.window_size;
    const uint32_t slots = WindowSlots(W);
    const int identity = m_sys.DeviceIdentity();
    const int16_t q = id.partition_id;

    const uint64_t lookup_size = API::NextPowerOfTwo(members.size());
    m_lookupMask = static_cast<uint32_t>(lookup_size - 1);
    m_lookup.assign(lookup_size, SourceEntry());
    m_acceptSources.assign(lookup_size, AcceptSource());
    m_byIndex.assign(members.size(), nullptr);

    uint32_t own_mask = 0;
    bool have_mask = false;
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
        const HqtrsGroupInfo& g = groups[gi];
        const bool own = static_cast<int>(gi) == own_group;
        SessionSetup setup;
        setup.group = &g;
        setup.group_index = static_cast<int>(gi);
        setup.first_member_index = firsts[gi];
        setup.own = own;
        setup.multicast_config = layout.multicast != 0 && g.data_port != 0 && g.group_ip[0] != '\0';
        if (setup.multicast_config && !own) {
            if (!have_mask) {
                own_mask = options.netmask ? options.netmask(id.ip) : GetInterfaceNetmask(id.ip);
                have_mask = true;
            }
            bool mode = own_mask != 0;
            if (!mode) m_sys.Note("Get IP-Mask Fail.");
            for (int i = 0; mode && i < g.member_numer; ++i)
                mode = SameSubnet(members[static_cast<std::size_t>(firsts[gi] + i)].member_ip, id.ip, own_mask);
            if (mode && MakeAddress(g.group_ip, g.data_port, setup.multicast_addr)) {
                setup.multicast_mode = true;
                m_sys.Note("Group(%d) Open Multicast-Mode.", g.group_id);
            }
        }
        const bool both_other = id.svr_type == '1' && g.svr_type == '1';
        bool first_routed = true;
        for (int i = 0; i < g.member_numer; ++i) {
            const int index = firsts[gi] + i;
            const HqtrsMemberInfo& m = members[static_cast<std::size_t>(index)];
            MemberSetup ms;
            ms.info = &m;
            ms.member_index = index;
            MakeAddress(m.member_ip, setup.multicast_config ? g.data_port : m.member_port, ms.addr);
            ms.partition = m_sys.PartitionOf(index);
            const PartitionRoute route = RouteByPartition(ms.partition, q);
            ms.routed = route.routed;
            ms.accept_any = route.accept_any;
            if (i == 0) first_routed = ms.routed;
            const bool self = own && m.member_id == id.member_id;
            ms.send_slots = (!ms.routed || (own && (self || identity == 2)) || both_other) ? 2 : slots;
            ms.recv_slots = (!ms.routed || self || both_other) ? 2 : slots;
            setup.members.push_back(ms);
        }
        setup.group_recv_slots = (own && identity == 1 && !first_routed) ? 2 : slots;
        if (options.sink) {
            setup.sink = options.sink;
        } else {
            std::unique_ptr<CSocketSink> sink(new CSocketSink(m_sys));
            if (!sink->Open(g.group_id)) {
                m_sys.Note("Init Groups Info Fail.");
                return false;
            }
            setup.sink = sink.get();
            m_ownSinks.push_back(std::move(sink));
        }

        std::unique_ptr<CGroupSession> session(new CGroupSession(m_ctx));
        if (!session->Init(setup)) {
            m_sys.Note("Init Groups Info Fail.");
            return false;
        }
        for (std::size_t pos = 0; pos < session->MemberCount(); ++pos) {
            VornPeerWindow& w = session->Member(pos);
            const uint32_t slot = static_cast<uint32_t>(w.member_index) & m_lookupMask;
            SourceEntry& e = m_lookup[slot];
            e.group = session.get();
            e.position = static_cast<int>(pos);
            e.member_id = w.member_id;
            e.group_id = g.group_id;
            e.group_index = static_cast<int16_t>(gi);
            e.window = &w;
            AcceptSource& a = m_acceptSources[slot];
            a.member_id = w.member_id;
            a.group_id = g.group_id;
            a.routed = w.routed;
            m_byIndex[static_cast<std::size_t>(w.member_index)] = &w;
        }
        if (own) m_own = session.get();
        m_groups.push_back(std::move(session));
    }

    // ---- pools
    const bool server = id.svr_type == '0';
    const std::size_t app_count = server ? (W ? 8u * static_cast<std::size_t>(W) : 2u) : (W < 2 ? 2u : static_cast<std::size_t>(W));
    const std::size_t loop_count = server ? (W < 2 ? 2u : static_cast<std::size_t>(W)) : 2u;
    m_sys.Note("Init LoopMsg-Cache-Pool Size(%d)", static_cast<int>(loop_count));
    m_loopPool.reset(new CBufferPool(m_sys, "loop_app_msg_pool", kAppBufferSize, loop_count));
    if (!m_loopPool->Ok()) {
        m_sys.Note("App-Msg Loop Cache Pool Fail ...");
        return false;
    }
    m_sys.Note("Init AppMsg-Cache-Pool Size(%d)", static_cast<int>(app_count));
    m_appPool.reset(new CBufferPool(m_sys, "app_msg_pool", kAppBufferSize, app_count));
    if (!m_appPool->Ok()) {
        m_sys.Note("Init AppMsg-Cache-Pool Fail ...");
        return false;
    }
    m_sys.Note("Init ControlMsg-Cache-Pool Size(%d)", 2048);
    m_controlPool.reset(new CBufferPool(m_sys, "control_msg_pool", kControlBufferSize, 2048));
    if (!m_controlPool->Ok()) {
        m_sys.Note("Init ControlMsg-Cache-Pool Fail ...");
        return false;
    }

    // ---- loop-back of own messages
    const int own_pos = m_own->FindMember(id.member_id);
    VornPeerWindow& self = m_own->Member(static_cast<std::size_t>(own_pos));
    CRecvWindow* loop_window = m_own->HotBackup() ? m_own->GroupWindow() : self.recv;
    m_own->SetLoopback(m_loopPool.get(), loop_window, &self.source);

    m_ownSlot = static_cast<uint32_t>(own_member) & m_lookupMask;
    m_accept.own_member_id = id.member_id;
    m_accept.sources = m_acceptSources.data();
    m_accept.source_mask = m_lookupMask;
    m_accept.own_group_members = static_cast<uint32_t>(m_own->MemberCount());
    m_accept.own_position = static_cast<uint32_t>(own_pos);
    return true;
}

CGroupSession* CGroupsManager::FindGroup(int16_t group_id) {
    for (auto& g : m_groups)
        if (g->GroupId() == group_id) return g.get();
    return nullptr;
}

VornPeerWindow* CGroupsManager::WindowOf(int member_index) {
    if (member_index < 0 || static_cast<std::size_t>(member_index) >= m_byIndex.size()) return nullptr;
    return m_byIndex[static_cast<std::size_t>(member_index)];
}

CDeliveryList* CGroupsManager::DeliveryListOf(int member_index) {
    VornPeerWindow* w = WindowOf(member_index);
    return w ? &w->recv->List() : nullptr;
}

int64_t CGroupsManager::SentTotal() const {
    int64_t sum = 0;
    for (const auto& g : m_groups)
        for (std::size_t i = 0; i < g->MemberCount(); ++i) sum += g->Member(i).send->Next();
    return sum;
}

// ---- receiver --------------------------------------------------------------------------------

CGroupsManager::RecvAction CGroupsManager::OnDatagram(VornBuffer* buffer, std::size_t received,
                                                      std::size_t datagram_length, const sockaddr_in& from) {
    const AcceptResult r = AcceptDatagram(buffer->data, received, datagram_length, m_accept);
    switch (r.route) {
        case AcceptRoute::kDrop:
            return RecvAction::kReuse;
        case AcceptRoute::kAnswerUnknown:
            AnswerUnknown(r.header, from);
            return RecvAction::kReuse;
        case AcceptRoute::kResyncOrder:
            OnResyncOrder(buffer->data, r.length);
            return RecvAction::kReuse;
        case AcceptRoute::kHandler:
        case AcceptRoute::kReceiver:
            break;
    }
    // this member's own messages never travel (they are looped back): a datagram naming it
    // as its source is forged or misrouted
    if (r.source_slot == m_ownSlot) return RecvAction::kReuse;
    if (r.route == AcceptRoute::kHandler) {
        buffer->length = static_cast<uint32_t>(r.length);
        return RecvAction::kToHandler;
    }
    const SourceEntry& e = m_lookup[r.source_slot];
    CGroupSession& g = *e.group;
    const int32_t seq = r.header.sequence;
    switch (r.header.type) {
        case kPktAck:
            g.OnAck(e.position, seq);
            return RecvAction::kReuse;
        case kPktSendPos:
        case kPktSendPosResync:
            g.OnSendPositionRequest(e.position, r.header.type, from);
            return RecvAction::kReuse;
        case kPktRecvPos:
        case kPktRecvPosResync:
            g.OnRecvPositionRequest(e.position, r.header.type, from);
            return RecvAction::kReuse;
        case kPktSendPosResyncReply:
            g.ApplySendPositionReply(e.position, seq);
            return RecvAction::kReuse;
        case kPktRecvPosResyncReply:
            g.ApplyRecvPositionReply(e.position, seq);
            return RecvAction::kReuse;
        case kPktApp:
            return OnApp(e, buffer, r) ? RecvAction::kKept : RecvAction::kReuse;
        case kPktDeliverNotice:
        case kPktNoticeAck:
            buffer->length = static_cast<uint32_t>(r.length);
            return RecvAction::kNotice;
        default:
            return RecvAction::kReuse;
    }
}

bool CGroupsManager::OnApp(const SourceEntry& entry, VornBuffer* buffer, const AcceptResult& r) {
    VornPeerWindow& w = *entry.window;
    // before the peer's position is known, a message cannot be placed: it is neither kept
    // nor acknowledged, and the peer sends it again once the windows are synchronised
    if (m_ctx.startup.load(std::memory_order_acquire) && w.recv_synced.load(std::memory_order_acquire) != 1)
        return false;
    buffer->length = static_cast<uint32_t>(r.length);
    buffer->StampReceive(ToTimespec(m_ctx.clock->NowNs()), &w.source);
    CRecvWindow& window = *w.recv;
    switch (window.Accept(buffer, r.header.sequence)) {
        case CRecvWindow::Outcome::kBeyond:
            if (Logging(m_ctx.recv_log))
                m_sys.Note("Recv Packet Invalid: From Group (%d) Member ( %d ) Seq-No (%d) > Window Size(%d), Odd.",
                           entry.group_id, entry.member_id, r.header.sequence,
                           WireSeq(window.NextExpected() + window.Mask()));
            return false;
        case CRecvWindow::Outcome::kDuplicate:
            return false;
        case CRecvWindow::Outcome::kDelivered:
            break;
        case CRecvWindow::Outcome::kBuffered:
            // a gap before it: the handler may ask for the missing messages at once
            if (m_onGap) m_onGap();
            break;
    }
    m_ctx.received.fetch_add(1, std::memory_order_relaxed);
    if (m_ctx.deliver_event) m_ctx.deliver_event->Set();
    return true;
}

void CGroupsManager::AnswerUnknown(const VornHeader& request, const sockaddr_in& from) {
    uint8_t buf[kHeaderSize];
    const std::size_t n = BuildUnknownSourceReply(buf, sizeof buf, request, m_sys.OwnOrder());
    if (n && m_own && m_own->Sink())
        m_own->Sink()->Send(SinkChannel::kReply, buf, n, from, request.src_group_id, request.src_member_id);
}

void CGroupsManager::OnResyncOrder(const uint8_t* data, std::size_t length) {
    int16_t group_id = -1, member_id = -1;
    if (!ReadResyncOrder(data, length, group_id, member_id)) return;
    CGroupSession* g = FindGroup(group_id);
    const int pos = g ? g->FindMember(member_id) : -1;
    if (pos < 0) return;
    VornPeerWindow& w = g->Member(static_cast<std::size_t>(pos));
    if (w.recv_synced.load(std::memory_order_acquire) != 1) {
        g->SendPositionRequest(pos, kPktRecvPosResync);
        if (Logging(m_ctx.recv_log))
            m_sys.Note("Sync Group ( %d ) Member ( %d ) Recv-Window ...", group_id, member_id);
    }
    if (w.slot_state.load(std::memory_order_acquire) == kSlotAbandoned) {
        g->SendPositionRequest(pos, kPktSendPosResync);
        if (Logging(m_ctx.recv_log))
            m_sys.Note("Sync Group ( %d ) Member ( %d ) Send-Window ...", group_id, member_id);
    }
}

// ---- handler ---------------------------------------------------------------------------------

bool CGroupsManager::OnControl(const uint8_t* data, std::size_t length, int64_t now_ns) {
    VornHeader h;
    if (!ReadHostHeader(data, length, h)) return false;
    const uint32_t slot = static_cast<uint16_t>(h.src_member_index) & m_lookupMask;
    const SourceEntry& e = m_lookup[slot];
    if (slot == m_ownSlot || !e.group || e.member_id != h.src_member_id || e.group_id != h.src_group_id) return false;
    if (h.type == kPktNak) {
        int32_t first = 0, last = -1;
        if (!ReadRange(data, length, first, last)) return false;
        e.group->ResendRange(first, last, e.position);
        return true;
    }
    if (h.type == kPktRack) {
        // a peer whose position is not known yet gets no answer from the start-up window
        if (m_ctx.startup.load(std::memory_order_acquire) && e.window->recv_synced.load(std::memory_order_acquire) != 1)
            return true;
        e.group->AnswerRack(e.position, h.sequence, now_ns);
        return true;
    }
    return false;
}

bool CGroupsManager::AckNakTick(int64_t sec, int64_t nsec) {
    bool sent = false;
    for (auto& g : m_groups) sent = g->AckNakTick(sec, nsec) || sent;
    return sent;
}

// ---- start-up --------------------------------------------------------------------------------

void CGroupsManager::BeginStartupPhase() {
    m_ctx.startup.store(true, std::memory_order_release);
    m_phase.store(kPhaseStartup, std::memory_order_release);
}

void CGroupsManager::LeaveStartupPhase() {
    m_ctx.startup.store(false, std::memory_order_release);
    m_phase.store(kPhaseLive, std::memory_order_release);
}

bool CGroupsManager::EndStartupPhase() {
    int expected = kPhaseStartup;
    // no start-up phase under way (or a second synchronisation): nothing to wait for
    if (!m_phase.compare_exchange_strong(expected, kPhaseSyncDone, std::memory_order_acq_rel)) return true;
    const auto poll = std::chrono::microseconds(m_ctx.timing.startup_leave_poll_us);
    const int64_t deadline = m_ctx.clock->NowNs() + m_ctx.timing.startup_leave_timeout_ns;
    while (m_phase.load(std::memory_order_acquire) != kPhaseLive) {
        // a receiver that is not running never leaves: the launch fails instead of waiting
        if (m_sys.Stopping() || m_ctx.clock->NowNs() >= deadline) return false;
        if (m_startupIdle)
            m_startupIdle();
        else
            std::this_thread::sleep_for(poll);
    }
    return true;
}

bool CGroupsManager::WindowSync(ISyncChannel* channel) {
    std::unique_ptr<CSocketSyncChannel> socket;
    if (!channel) {
        socket.reset(new CSocketSyncChannel(m_sys));
        channel = socket.get();
    }
    if (!channel->Open()) {
        m_sys.Note("CGroupsManager: Create Window-Sync Dgram Socket Fail.");
        return false;
    }
    IVornClock& clock = *m_ctx.clock;
    const WindowTiming& t = m_ctx.timing;
    // Every member synchronises, a device of a hot-backup pair too: a device that restarts
    // while its partner runs must learn where its peers stand before it takes their traffic.
    for (int pass = 0; pass < t.sync_passes; ++pass) {
        bool sent = false;
        int awaited = 0;  // requests of this pass not answered yet
        for (auto& g : m_groups) {
            if (g.get() == m_own) continue;
            for (std::size_t pos = 0; pos < g->MemberCount(); ++pos) {
                VornPeerWindow& w = g->Member(pos);
                if (!w.routed) continue;  // it drops what this member sends
                for (const uint8_t type : {kPktSendPos, kPktRecvPos}) {
                    std::atomic<int32_t>& flag = type == kPktSendPos ? w.resync : w.recv_synced;
                    if (flag.load(std::memory_order_acquire) != 0) continue;
                    uint8_t buf[kHeaderSize];
                    const std::size_t n = BuildControl(buf, sizeof buf, g->HeaderTo(type, 0, w.member_id));
                    if (channel->Send(buf, n, w.addr, g->GroupId(), w.member_id) < 0 && errno != EAGAIN &&
                        errno != EINTR) {
                        flag.store(-1, std::memory_order_release);
                    } else {
                        sent = true;
                        ++awaited;
                    }
                }
            }
        }
        if (!sent) break;
        const int64_t deadline = clock.NowNs() + t.sync_reply_wait_ns;
        // replies are read until every request is answered or the pass's time is up
        for (int64_t left = t.sync_reply_wait_ns; left > 0 && (awaited > 0 || t.sync_wait_full_pass);
             left = deadline - clock.NowNs()) {
            uint8_t reply[kMaxDatagram];
            const ssize_t n = channel->Receive(reply, sizeof reply, left < t.sync_poll_ns ? left : t.sync_poll_ns);
            if (n != static_cast<ssize_t>(kHeaderSize)) continue;
            VornHeader h;
            if (!ReadHeader(reply, kHeaderSize, h) || (h.type != kPktSendPos && h.type != kPktRecvPos)) continue;
            const SourceEntry& e = m_lookup[static_cast<uint16_t>(h.src_member_index) & m_lookupMask];
            // a peer that does not know this member; a reply of -999 from a known one is a
            // position like any other
            if (IsUnknownSourceAnswer(h) || !e.group || e.member_id != h.src_member_id ||
                e.group_id != h.src_group_id) {
                m_sys.Note("vorn Window-Sync Fail: g.%d m.%d g.i.%d m.i.%d Error", h.src_group_id, h.src_member_id,
                           h.src_group_index, h.src_member_index);
                m_sys.SleepUnlessStopped(t.sync_fail_sleep_ms);
                return false;
            }
            VornPeerWindow& w = e.group->Member(static_cast<std::size_t>(e.position));
            // a repeated reply answers nothing new
            const bool first = (h.type == kPktSendPos ? w.resync : w.recv_synced).load(std::memory_order_acquire) == 0;
            if (h.type == kPktSendPos)
                e.group->ApplySendPositionReply(e.position, h.sequence);
            else
                e.group->ApplyRecvPositionReply(e.position, h.sequence);
            if (first) --awaited;
        }
    }
    if (!EndStartupPhase()) {
        m_sys.Note("vorn Window-Sync Fail: Receiver Did Not Leave Its Start-Up Phase.");
        return false;
    }
    m_sys.Note("vorn Window-Sync Finished.");
    return true;
}

}  // namespace VORN
}  // namespace OXA
