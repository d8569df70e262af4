#include "infra/vorn/GroupSession.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/Event.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornThreads.h"

namespace OXA {
namespace VORN {

namespace {

// Message ids print as their 16 bits.
inline int IdText(int16_t msg_id) { return static_cast<uint16_t>(msg_id); }

// True when a line of a per-datagram kind may go now.
inline bool Logging(CRateLimit& limit) { return limit.Allow(MonotonicNs()); }

}  // namespace

timespec ToTimespec(int64_t ns) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

CGroupSession::CGroupSession(GroupContext& context) : m_ctx(context), m_sys(*context.sys) {}

bool CGroupSession::Init(const SessionSetup& setup) {
    const HqtrsGroupInfo& g = *setup.group;
    m_groupId = g.group_id;
    m_groupIndex = setup.group_index;
    m_groupMode = g.group_mode;
    m_svrType = g.svr_type;
    m_own = setup.own;
    m_ownMemberId = m_own ? m_sys.Identity().member_id : -1;
    m_multicastConfig = setup.multicast_config;
    m_multicastMode = setup.multicast_mode;
    m_multicastAddr = setup.multicast_addr;
    m_firstMemberIndex = setup.first_member_index;
    m_sink = setup.sink;

    try {
        if (HotBackup()) m_groupRecv.reset(new CRecvWindow(setup.group_recv_slots));
    } catch (const std::bad_alloc&) {
        m_sys.Note("Init Group(%d) Recv Window Slot Fail", m_groupId);
        return false;
    }

    int16_t max_id = 0;
    for (const MemberSetup& ms : setup.members) {
        std::unique_ptr<VornPeerWindow> w(new VornPeerWindow());
        w->group_id = m_groupId;
        w->member_id = ms.info->member_id;
        w->member_index = ms.member_index;
        w->position = static_cast<int>(m_members.size());
        w->addr = ms.addr;
        w->routed = ms.routed;
        w->accept_any = ms.accept_any;
        w->partition = ms.partition;
        w->source.group_id = m_groupId;
        w->source.member_id = w->member_id;
        w->source.user_data = m_sys.UserData();
        w->source.partition_id = ms.partition;
        m_sys.Note("Init Group(%d) Member(%d) Send-Window-Slot Size(%d)", m_groupId, w->member_id,
                   static_cast<int>(ms.send_slots));
        try {
            w->send.reset(new CSendWindow(ms.send_slots));
        } catch (const std::bad_alloc&) {
            m_sys.Note("Init Group(%d) Member ( %d ) Send Window Slot Fail", m_groupId, w->member_id);
            return false;
        }
        if (HotBackup()) {
            w->recv = m_groupRecv.get();
        } else {
            m_sys.Note("Init Group(%d) Member(%d) Recv-Window-Slot Size(%d)", m_groupId, w->member_id,
                       static_cast<int>(ms.recv_slots));
            try {
                w->own_recv.reset(new CRecvWindow(ms.recv_slots));
            } catch (const std::bad_alloc&) {
                m_sys.Note("Init Group(%d) Member ( %d ) Recv Window Slot Fail", m_groupId, w->member_id);
                return false;
            }
            w->recv = w->own_recv.get();
        }
        if (!w->routed) m_allRouted = false;
        if (w->member_id > max_id) max_id = w->member_id;
        m_members.push_back(std::move(w));
    }
    if (HotBackup())
        m_sys.Note("Init HotBackup-Group(%d) Recv-Window-Slot Size(%d)", m_groupId,
                   static_cast<int>(setup.group_recv_slots));

    const uint64_t size = API::NextPowerOfTwo(static_cast<uint64_t>(max_id));
    m_byIdMask = static_cast<uint32_t>(size - 1);
    m_byId.assign(size, -1);
    for (const auto& w : m_members)
        if (w->member_id >= 0) m_byId[static_cast<uint32_t>(w->member_id) & m_byIdMask] = w->position;
    return true;
}

int CGroupSession::FindMember(int16_t member_id) const {
    if (member_id >= 0) {
        const int pos = m_byId[static_cast<uint32_t>(member_id) & m_byIdMask];
        return (pos >= 0 && m_members[static_cast<std::size_t>(pos)]->member_id == member_id) ? pos : -1;
    }
    for (const auto& w : m_members)
        if (w->member_id == member_id) return w->position;
    return -1;
}

void CGroupSession::SetLoopback(CBufferPool* pool, CRecvWindow* window, const VornMsgSource* source) {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_loopPool = pool;
    m_loopWindow = window;
    m_loopSource = source;
}

VornHeader CGroupSession::HeaderTo(uint8_t type, int32_t seq, int16_t member) const {
    return m_sys.OwnHeader(type, seq, m_groupId, member);
}

bool CGroupSession::Skipped(const VornPeerWindow& w, int16_t partition) const {
    if (!w.routed) return true;
    return partition != -1 && !w.accept_any && w.partition != partition;
}

// ---- sending ------------------------------------------------------------------------------

int CGroupSession::SendMsg(int32_t tag, int16_t member, int16_t msg_id, const void* data, uint32_t length,
                           int16_t partition, int* reached) {
    if (reached) *reached = 0;
    if (length > static_cast<uint32_t>(kMaxAppData) || (length && !data)) return 0;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    std::size_t first = 0;
    std::size_t last = m_members.size();
    if (member == -1) {
        if (m_multicastMode && static_cast<std::size_t>(kMaxAppData - static_cast<int32_t>(length)) >= 4 * m_members.size() &&
            m_allRouted) {
            const int n = SendMulticastLocked(tag, msg_id, data, length, partition);
            if (reached) *reached = n;
            return 1;
        }
        // A member excluded by partition cannot take a multicast: such a group is served
        // member by member.
    } else {
        const int pos = FindMember(member);
        if (pos < 0) {
            m_sys.Note("Directed-Route Msg(id: %#x) To Group (%d) Member (%d) Fail: Member-Id Invalid.", IdText(msg_id),
                       m_groupId, member);
            return 0;
        }
        first = static_cast<std::size_t>(pos);
        last = first + 1;
    }
    int n = 0;
    for (std::size_t i = first; i < last; ++i) {
        VornPeerWindow& w = *m_members[i];
        if (Skipped(w, partition)) continue;
        n += IsSelf(w) ? Loopback(tag, msg_id, data, length) : SendToMember(w, tag, msg_id, data, length);
    }
    if (reached) *reached = n;
    return 1;
}

int CGroupSession::SendMulticast(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t partition,
                                 int* reached) {
    if (reached) *reached = 0;
    if (length > static_cast<uint32_t>(kMaxAppData) || (length && !data)) return 0;
    std::lock_guard<std::mutex> lock(m_sendMutex);
    const int n = SendMulticastLocked(tag, msg_id, data, length, partition);
    if (reached) *reached = n;
    return 1;
}

bool CGroupSession::Usable(VornPeerWindow& w) {
    if (w.slot_state.load(std::memory_order_acquire) != kSlotAbandoned) return true;
    const int32_t counter = w.resync.load(std::memory_order_acquire);
    if (counter == w.remembered && w.send->Acked() <= w.acked_at_abandon) return false;
    w.remembered = counter;
    w.slot_state.store(kSlotNormal, std::memory_order_release);
    m_sys.Note("Group ( %d ) Member ( %d ) Send Window[%d] Slot Statue Back To 'normal'.", m_groupId, w.member_id,
               counter);
    return true;
}

bool CGroupSession::MakeRoom(VornPeerWindow& w) {
    CSendWindow& s = *w.send;
    const int jam_us = m_sys.JamWaitUs();
    if (!(s.Synced() || s.Acked() >= 0) || jam_us <= 0) return false;
    SendControl(SinkChannel::kApp, w.position, kPktRack, WireSeq(s.Next() - 1));
    m_sys.Note("Warning: Group ( %d ) Member ( %d ) Send-Window Jams ...", m_groupId, w.member_id);
    IVornClock& clock = *m_ctx.clock;
    const int64_t start = clock.NowNs();
    int64_t waited = 0;
    for (;;) {
        s.RefreshBase();
        if (!s.Full()) break;
        if (!s.Synced() && s.Acked() == -1) break;
        waited = clock.NowNs() - start;
        if (waited > static_cast<int64_t>(jam_us) * 1000) break;
        CpuRelax();
    }
    m_sys.Note("Group ( %d ) Member ( %d ) Send-Window Jams ... %d - %lld(ns)", m_groupId, w.member_id,
               WireSeq(s.Next()), static_cast<long long>(waited));
    return !s.Full();
}

void CGroupSession::Abandon(VornPeerWindow& w) {
    w.remembered = w.resync.load(std::memory_order_acquire);
    w.acked_at_abandon = w.send->Acked();
    w.slot_state.store(kSlotAbandoned, std::memory_order_release);
    m_sys.Note("Send Fail: Group ( %d ) Member ( %d ) Send Window[%d] Slot Is Blocking, Update Window Slot Statue To "
               "'abandon'.",
               m_groupId, w.member_id, w.remembered);
}

int CGroupSession::SendToMember(VornPeerWindow& w, int32_t tag, int16_t msg_id, const void* data, uint32_t length) {
    if (!Usable(w)) return 0;
    CSendWindow& s = *w.send;
    if (s.Full()) s.RefreshBase();
    if (s.Full() && !MakeRoom(w)) {
        Abandon(w);
        return 0;
    }
    uint8_t* slot = s.NextSlot();
    const std::size_t n =
        BuildApp(slot, kAppBufferSize, HeaderTo(kPktApp, WireSeq(s.Next()), -1), msg_id, tag, data, length);
    if (!n) return 0;
    s.Advance();
    m_sink->Send(SinkChannel::kApp, slot, n, w.addr, m_groupId, w.member_id);
    return 1;
}

int CGroupSession::Loopback(int32_t tag, int16_t msg_id, const void* data, uint32_t length) {
    if (!m_loopPool || !m_loopWindow) return 0;
    VornBuffer* b = m_loopPool->Get();
    if (!b) return 0;
    const std::size_t n =
        BuildApp(b->data, b->capacity, HeaderTo(kPktApp, WireSeq(m_loopSeq), -1), msg_id, tag, data, length);
    if (!n || n + kTailSize > b->capacity) {
        VornBuffer::Release(b);
        return 0;
    }
    ++m_loopSeq;
    b->length = static_cast<uint32_t>(n);
    b->StampReceive(ToTimespec(m_ctx.clock->NowNs()), m_loopSource);
    m_loopWindow->AppendUnsequenced(b);
    m_ctx.loopback.fetch_add(1, std::memory_order_relaxed);
    if (m_ctx.deliver_event) m_ctx.deliver_event->Set();
    return 1;
}

int CGroupSession::SendMulticastLocked(int32_t tag, int16_t msg_id, const void* data, uint32_t length,
                                       int16_t partition) {
    const std::size_t count = m_members.size();
    if (count == 0 || count > (kMaxDatagram - kAppHeaderSize - length) / 4) return 0;
    int32_t sequences[(kMaxDatagram - kAppHeaderSize) / 4];
    int n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sequences[i] = -1;
        VornPeerWindow& w = *m_members[i];
        // a member the partition filter leaves out is listed as skipped
        if (Skipped(w, partition) || !Usable(w)) continue;
        CSendWindow& s = *w.send;
        if (s.Full()) s.RefreshBase();
        if (s.Full() && !MakeRoom(w)) {
            Abandon(w);
            continue;
        }
        // a member's sequence of -1 on the wire reads as "skipped": it gets that message by NAK
        const int32_t seq = WireSeq(s.Next());
        if (!BuildApp(s.NextSlot(), kAppBufferSize, HeaderTo(kPktApp, seq, -1), msg_id, tag, data, length)) continue;
        s.Advance();
        sequences[i] = seq;
        ++n;
    }
    if (n == 0) return 0;
    uint8_t datagram[kMaxDatagram];
    const std::size_t len = BuildMulticastApp(datagram, sizeof datagram, HeaderTo(kPktMulticastApp, 0, -1), msg_id,
                                              tag, data, length, sequences, count);
    if (len) m_sink->Send(SinkChannel::kApp, datagram, len, m_multicastAddr, m_groupId, -1);
    return n;
}

// ---- the handler --------------------------------------------------------------------------

void CGroupSession::SendControl(SinkChannel channel, int position, uint8_t type, int32_t seq) {
    const VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    uint8_t buf[kHeaderSize];
    const std::size_t n = BuildControl(buf, sizeof buf, HeaderTo(type, seq, w.member_id));
    if (n) m_sink->Send(channel, buf, n, w.addr, m_groupId, w.member_id);
}

void CGroupSession::SendAck(int position, int32_t seq) {
    const VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    uint8_t buf[kHeaderSize];
    const std::size_t n = BuildControl(buf, sizeof buf, HeaderTo(kPktAck, seq, w.member_id));
    if (!n) return;
    if (m_sink->Send(SinkChannel::kSync, buf, n, w.addr, m_groupId, w.member_id) < 0 && errno != EAGAIN &&
        Logging(m_ctx.control_log))
        m_sys.Note("[Snd] [%s] [%d] [To] [%d] [%d] [Fail] [%d]", "ACK", seq, m_groupId, w.member_id, errno);
}

void CGroupSession::SendNak(int position, int32_t first, int32_t last) {
    const VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    uint8_t buf[kRangeSize];
    const std::size_t n = BuildRange(buf, sizeof buf, HeaderTo(kPktNak, 0, w.member_id), first, last);
    if (!n) return;
    const bool failed = m_sink->Send(SinkChannel::kSync, buf, n, w.addr, m_groupId, w.member_id) < 0 && errno != EAGAIN;
    const int error = errno;
    if (!Logging(m_ctx.control_log)) return;
    if (failed)
        m_sys.Note("Send %s ( %d-%d ) To Group ( %d ) Member ( %d ) Fail: error = %d", "NAK", first, last, m_groupId,
                   w.member_id, error);
    else
        m_sys.Note("Snd %s:%d-%d To g.%d m.%d.", "NAK", first, last, m_groupId, w.member_id);
}

void CGroupSession::AckOrNakAll(int position, bool ack, int32_t a, int32_t b) {
    if (position >= 0) {
        if (ack)
            SendAck(position, a);
        else
            SendNak(position, a, b);
        return;
    }
    for (const auto& w : m_members) {
        if (IsSelf(*w)) continue;
        if (ack)
            SendAck(w->position, a);
        else
            SendNak(w->position, a, b);
    }
}

bool CGroupSession::AckNakDecide(CRecvWindow& window, int position, int64_t now) {
    AckNakState& st = window.acknak;
    const int64_t n = window.NextExpected();
    const int64_t g = window.GapEnd();
    // nothing taken yet: next expected - 1 is the -1 the state starts from
    if (n - 1 != st.last_acked) {
        const int64_t a = n - 1;
        if (now - st.ack_ns >= m_ctx.timing.ack_interval_ns || a - st.last_acked > m_ctx.ack_watermark ||
            a < st.last_acked) {
            AckOrNakAll(position, true, WireSeq(a), 0);
            st.ack_ns = now;
            st.last_acked = a;
            return true;
        }
        return false;
    }
    if (g >= n && (now - st.nak_ns >= m_ctx.timing.nak_interval_ns || n < st.nak_first || n > st.nak_last)) {
        AckOrNakAll(position, false, WireSeq(n), WireSeq(g));
        st.nak_ns = now;
        st.nak_first = n;
        st.nak_last = g;
        return true;
    }
    return false;
}

bool CGroupSession::RackTick(VornPeerWindow& w, int64_t now) {
    CSendWindow& s = *w.send;
    const int64_t next = s.Next();
    if (w.slot_state.load(std::memory_order_acquire) == kSlotAbandoned) {
        // an abandoned peer is asked now and then whether it is back
        if (!w.probing) {
            w.probing = true;
            w.probe_ns = now;
            return false;
        }
        if (now - w.probe_ns < m_ctx.timing.reprobe_interval_ns) return false;
        w.probe_ns = now;
        SendControl(SinkChannel::kSync, w.position, kPktRack, WireSeq(next - 1));
        return true;
    }
    w.probing = false;
    const int64_t a = s.Acked();
    if (a >= next - 1) return false;
    if (a != w.rack_seen) {
        w.rack_seen = a;
        w.rack_ns = now;
        w.rack_timed = true;
        w.rack_count = 0;
        return false;
    }
    if (!w.rack_timed) {
        w.rack_ns = now;
        w.rack_timed = true;
        return false;
    }
    const int64_t immediate = s.immediate_rack.load(std::memory_order_relaxed);
    if (next - std::max(immediate, a) - 1 > m_ctx.timing.immediate_rack_outstanding) {
        SendControl(SinkChannel::kSync, w.position, kPktRack, WireSeq(next - 1));
        s.immediate_rack.store(next - 1, std::memory_order_relaxed);
        return true;
    }
    if (now - w.rack_ns >= m_ctx.timing.rack_interval_ns && w.rack_count < m_ctx.timing.rack_max) {
        SendControl(SinkChannel::kSync, w.position, kPktRack, WireSeq(next - 1));
        w.rack_ns = now;
        ++w.rack_count;
        return true;
    }
    return false;
}

bool CGroupSession::AckNakTick(int64_t sec, int64_t nsec) {
    const int64_t now = sec * 1000000000 + nsec;
    bool sent = false;
    if (HotBackup()) {
        const bool skip = m_own && (m_sys.Hqtrs().Mode() == '2' || m_members.size() == 1);
        if (!skip && m_groupRecv) sent = AckNakDecide(*m_groupRecv, -1, now) || sent;
    } else {
        for (const auto& w : m_members)
            if (!IsSelf(*w)) sent = AckNakDecide(*w->recv, w->position, now) || sent;
    }
    for (const auto& w : m_members)
        if (!IsSelf(*w)) sent = RackTick(*w, now) || sent;
    return sent;
}

void CGroupSession::ResendRange(int32_t first, int32_t last, int position) {
    if (m_sys.DeviceIdentity() != 1) return;  // a standby does not resend
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    std::lock_guard<std::mutex> lock(m_sendMutex);
    CSendWindow& s = *w.send;
    const int64_t next = s.Next();
    const int64_t acked = s.Acked();
    // only what the window still holds and the peer has not acknowledged
    const int64_t lo = std::max<int64_t>({UnwrapSeq(first, next - 1), acked + 1, next - s.Slots()});
    const int64_t hi = std::min<int64_t>(UnwrapSeq(last, next - 1), next - 1);
    for (int64_t seq = lo; seq <= hi; ++seq) {
        const uint8_t* data = nullptr;
        std::size_t length = 0;
        const CSendWindow::Stored st = s.At(seq, data, length);
        if (st == CSendWindow::Stored::kMissing) {
            if (Logging(m_ctx.control_log))
                m_sys.Note("Send Nak Packet (%d) To Group ( %d ) Member ( %d ) Fail: Packet Not Exist",
                           WireSeq(seq), m_groupId, w.member_id);
            break;
        }
        if (st == CSendWindow::Stored::kOther) {
            if (Logging(m_ctx.control_log))
                m_sys.Note("Send Nak Packet (%d) To Group ( %d ) Member ( %d ) Fail: Packet Lost <W:%d:A:%d:R:%d>",
                           WireSeq(seq), m_groupId, w.member_id, WireSeq(next), WireSeq(acked),
                           WireSeq(s.Base()));
            break;
        }
        m_sink->Send(SinkChannel::kSync, data, length, w.addr, m_groupId, w.member_id);
    }
    if (Logging(m_ctx.control_log))
        m_sys.Note("Snd Nak-Packet: %d-%d To g.%d m.%d.", first, last, m_groupId, w.member_id);
}

void CGroupSession::AnswerRack(int position, int32_t r, int64_t now_ns) {
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    CRecvWindow& window = *w.recv;
    if (Logging(m_ctx.control_log))
        m_sys.Note("Rcv RACK:%d from g.%d m.%d(%d)", r, m_groupId, w.member_id, w.member_index);
    const int64_t n = window.NextExpected();
    const int64_t rack = UnwrapSeq(r, n - 1);
    if (rack < n) {
        SendAck(position, WireSeq(n - 1));
        return;
    }
    SendNak(position, WireSeq(n), r);
    window.acknak.nak_first = n;
    window.acknak.nak_last = rack;
    window.acknak.nak_ns = now_ns;
}

// ---- the receiver -------------------------------------------------------------------------

void CGroupSession::OnAck(int position, int32_t seq) { m_members[static_cast<std::size_t>(position)]->send->RaiseAcked(seq); }

void CGroupSession::OnSendPositionRequest(int position, uint8_t type, const sockaddr_in& from) {
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    w.recv->Reset();
    w.recv_synced.store(1, std::memory_order_release);
    const int32_t c = WireSeq(w.recv->NextExpected() - 1);
    const bool plain = type == kPktSendPos;
    uint8_t buf[kHeaderSize];
    const std::size_t n =
        BuildControl(buf, sizeof buf, HeaderTo(plain ? kPktSendPos : kPktSendPosResyncReply, c, w.member_id));
    if (n) m_sink->Send(SinkChannel::kReply, buf, n, plain ? from : w.addr, m_groupId, w.member_id);
}

void CGroupSession::OnRecvPositionRequest(int position, uint8_t type, const sockaddr_in& from) {
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    std::lock_guard<std::mutex> lock(m_sendMutex);
    CSendWindow& s = *w.send;
    const int32_t c = WireSeq(s.Next() - 1);
    const bool plain = type == kPktRecvPos;
    uint8_t buf[kHeaderSize];
    const std::size_t n =
        BuildControl(buf, sizeof buf, HeaderTo(plain ? kPktRecvPos : kPktRecvPosResyncReply, c, w.member_id));
    if (n) m_sink->Send(SinkChannel::kReply, buf, n, plain ? from : w.addr, m_groupId, w.member_id);
    s.AcknowledgeAll();
    s.SetSynced(true);
    const int32_t counter = w.resync.fetch_add(1, std::memory_order_acq_rel) + 1;
    if (w.slot_state.load(std::memory_order_acquire) == kSlotNormal) w.remembered = counter;
    m_sys.Note("Group ( %d ) Member ( %d ) Update Send Window[%d] Slot Statue To 'normal'.", m_groupId, w.member_id,
               counter);
}

void CGroupSession::ApplySendPositionReply(int position, int32_t c) {
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    std::lock_guard<std::mutex> lock(m_sendMutex);
    w.send->Reposition(c);
    w.send->SetSynced(true);
    w.slot_state.store(kSlotNormal, std::memory_order_release);
    w.resync.store(1, std::memory_order_release);
    m_sys.Note("Group ( %d ) Member ( %d ) Update Send Window Slot Statue To 'normal'.", m_groupId, w.member_id);
}

void CGroupSession::ApplyRecvPositionReply(int position, int32_t c) {
    VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    if (!HotBackup()) {
        w.recv->Reset(static_cast<int64_t>(c) + 1);
    } else {
        bool other_synced = false;
        for (const auto& o : m_members)
            if (o->position != position && o->recv_synced.load(std::memory_order_acquire) == 1) other_synced = true;
        // a device that has sent nothing yet does not take the pair's stream back
        if (!(c == -1 && other_synced)) m_groupRecv->Reset(static_cast<int64_t>(c) + 1);
    }
    w.recv_synced.store(1, std::memory_order_release);
}

ssize_t CGroupSession::SendPositionRequest(int position, uint8_t type) {
    const VornPeerWindow& w = *m_members[static_cast<std::size_t>(position)];
    uint8_t buf[kHeaderSize];
    const std::size_t n = BuildControl(buf, sizeof buf, HeaderTo(type, 0, w.member_id));
    if (!n) return -1;
    return m_sink->Send(SinkChannel::kSync, buf, n, w.addr, m_groupId, w.member_id);
}

}  // namespace VORN
}  // namespace OXA
