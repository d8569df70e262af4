#include "infra/vorn/DeliverNotices.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWindow.h"

namespace OXA {
namespace VORN {

namespace {

constexpr const char* kPoolName = "batch_deliver_notice_pool";

bool PairBytesFit(std::size_t n) { return n >= 2 && n <= kMaxNoticePairBytes && n % 2 == 0; }

}  // namespace

CDeliverNotices::CDeliverNotices(CVornSystem& system, CAppMsgDeliver& deliver) : m_sys(system), m_deliver(deliver) {}

CDeliverNotices::~CDeliverNotices() {
    Stop();
    // the lists give their buffers back to the pool, which goes last
    m_recv.reset();
    if (m_fd >= 0) ::close(m_fd);
}

bool CDeliverNotices::Init(Role role, uint32_t slots, const sockaddr_in& partner, int16_t partner_id) {
    m_role = role;
    m_partner = partner;
    m_partnerId = partner_id;
    m_groupId = m_sys.Identity().group_id;
    if (slots < 2) slots = 2;  // one slot would never have room
    const std::size_t count = slots;
    m_pool.reset(new CBufferPool(m_sys, kPoolName, kControlBufferSize, count));
    if (!m_pool->Ok()) {
        m_sys.Note("Init Deliver-Notice Cache Pool ( size: %d byte ) Fail ...", static_cast<int>(count * kControlBufferSize));
        return false;
    }
    m_pool->LockInMemory();  // a refusal costs latency, not correctness
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_sys.Note("Creat Deliver-Notice Sync Socket Fail.");
        return false;
    }
    const char* device = m_sys.EtherName();
    if (device[0] &&
        ::setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, device, static_cast<socklen_t>(std::strlen(device))) != 0)
        m_sys.Note("Socket ( %d ) Bind Device ( %s ) Fail.", 0, device);
    if (role == Role::kMaster) {
        m_recv.reset(new CRecvWindow(slots));
    } else {
        m_mask = slots - 1;
        m_slots.assign(slots, Slot());
        m_noticed.assign(m_deliver.PositionCount(), 0);
        if (!m_deliver.PositionCount()) {
            m_sys.Note("Creat Deliver-Notice Send Window Fail.");
            return false;
        }
        std::random_device rd;
        m_start = rd() % m_deliver.PositionCount();
    }
    return true;
}

bool CDeliverNotices::Start(int core) {
    m_stop.store(false, std::memory_order_release);
    m_controlEnded.store(false, std::memory_order_release);
    const bool ok = m_thread.Start("vorn_control", core, [this](bool pinned) {
        if (pinned)
            m_sys.Note("Control Thread(%s) F-M Start, Bind CPU Core Id(%d) ...", "vorn_control",
                       m_sys.ThreadCore(VornThread::kControl));
        else
            m_sys.Note("Control Thread(%s) Start ...", "vorn_control");
        if (m_role == Role::kMaster)
            MasterLoop(pinned);
        else
            StandbyLoop(pinned);
        m_controlEnded.store(true, std::memory_order_release);
        // the deliver thread may be waiting to finish what it holds
        m_deliver.Event().Set();
        m_ackEvent.Set();
    });
    if (!ok) m_controlEnded.store(true, std::memory_order_release);
    return ok;
}

void CDeliverNotices::Stop() {
    m_stop.store(true, std::memory_order_release);
    m_controlEvent.Set();
    m_spaceEvent.Set();
    m_deliver.Event().Set();
    m_thread.Join();
    m_controlEnded.store(true, std::memory_order_release);
}

bool CDeliverNotices::SingleDevice() const {
    return m_sys.Hqtrs().Mode() == '2' || m_desync.load(std::memory_order_acquire);
}

void CDeliverNotices::OutOfStep(const char* why) {
    if (m_desync.exchange(true, std::memory_order_acq_rel)) return;
    m_sys.Note("Deliver-Notice Streams Out Of Step ( %s ): Partner Restarted, Leave Hot-Backup Delivery.", why);
    m_controlEvent.Set();
    m_spaceEvent.Set();
    m_deliver.Event().Set();
}

void CDeliverNotices::Wait(CEvent& event, bool pinned) {
    if (pinned)
        CpuRelax();
    else
        event.TimedWait(m_timing.wait_ms);
}

void CDeliverNotices::ExitLines() {
    if (m_sys.Hqtrs().Mode() == '2')
        m_sys.Note("Switch to Single-Device Mode, Exit Control Thread.");
    else if (Desynced())
        m_sys.Note("Deliver-Notice Streams Out Of Step, Exit Control Thread.");
    m_sys.Note("Control Thread ( %s ) Stop ...", "vorn_control");
}

ssize_t CDeliverNotices::SendToPartner(const uint8_t* data, std::size_t length) {
    if (m_fd < 0 || !length) return -1;
    return m_sys.SendPath().SendTo(m_fd, data, length, m_partner, m_groupId, m_partnerId);
}

void CDeliverNotices::SendControl(uint8_t type, int32_t seq) {
    uint8_t buf[kHeaderSize];
    const std::size_t n = BuildControl(buf, sizeof buf, m_sys.OwnHeader(type, seq, m_groupId, -1));
    SendToPartner(buf, n);
    if (type == kPktNoticeAck) m_acksSent.fetch_add(1, std::memory_order_relaxed);
    if (type == kPktNoticeProbe) m_probesSent.fetch_add(1, std::memory_order_relaxed);
}

void CDeliverNotices::SendNak(int32_t first, int32_t last) {
    uint8_t buf[kRangeSize];
    const std::size_t n = BuildRange(buf, sizeof buf, m_sys.OwnHeader(kPktNoticeNak, 0, m_groupId, -1), first, last);
    SendToPartner(buf, n);
    m_naksSent.fetch_add(1, std::memory_order_relaxed);
}

CDeliveryList* CDeliverNotices::Notices() { return m_role == Role::kMaster ? &m_recv->List() : &m_built; }

int64_t CDeliverNotices::NoticesAcknowledged() const {
    return m_role == Role::kMaster ? m_recv->NextExpected() : m_ackedCount.load(std::memory_order_acquire);
}

// ---- master ------------------------------------------------------------------------------

void CDeliverNotices::MasterLoop(bool pinned) {
    int64_t last_ack = -1;
    int64_t nak_first = -1, nak_last = -1;
    int64_t nak_ns = 0;
    bool nak_sent = false;
    while (!Stopping() && !SingleDevice()) {
        const int64_t n = m_recv->NextExpected();
        const int64_t g = m_recv->GapEnd();
        if (n > 0 && (n - 1 != last_ack || m_reack.exchange(false, std::memory_order_acq_rel))) {
            SendControl(kPktNoticeAck, WireSeq(n - 1));
            last_ack = n - 1;
        }
        if (g >= n) {
            const int64_t now = MonotonicNs();
            if (n > nak_last || (nak_sent && now - nak_ns > m_timing.nak_interval_ns)) {
                SendNak(WireSeq(n), WireSeq(g));
                nak_first = n;
                nak_last = g;
                nak_ns = now;
                nak_sent = true;
            }
        }
        (void)nak_first;
        Wait(m_controlEvent, pinned);
    }
    ExitLines();
}

// ---- standby -----------------------------------------------------------------------------

bool CDeliverNotices::Unnoticed(int position) const {
    return m_deliver.Appended(position) > m_noticed[static_cast<std::size_t>(position)];
}

std::size_t CDeliverNotices::FillPairs(uint8_t* pairs) {
    const std::size_t count = m_noticed.size();
    const int inferior = m_deliver.InferiorPosition();
    std::size_t bytes = 0;
    auto put = [&](std::size_t p) {
        pairs[bytes++] = static_cast<uint8_t>(p);
        pairs[bytes++] = 1;
        ++m_noticed[p];
    };
    for (;;) {
        bool added = false;
        for (std::size_t i = 0; i < count && bytes + 2 <= kMaxNoticePairBytes; ++i) {
            const std::size_t p = (m_start + i) % count;
            if (static_cast<int>(p) == inferior || !Unnoticed(static_cast<int>(p))) continue;
            put(p);
            added = true;
        }
        m_start = (m_start + 1) % count;
        if (!added) {
            if (inferior < 0 || bytes + 2 > kMaxNoticePairBytes || !Unnoticed(inferior)) break;
            put(static_cast<std::size_t>(inferior));
        }
        // another sweep only when a whole one still fits
        if (bytes + 2 * count > kMaxNoticePairBytes) break;
    }
    return bytes;
}

void CDeliverNotices::StandbyLoop(bool pinned) {
    CEvent& arrivals = m_deliver.Event();  // set for every message that enters a list
    uint8_t pairs[kMaxNoticePairBytes];
    // the first notice goes once the start-up synchronisation is over (see Heard)
    while (!Stopping() && !SingleDevice() && !m_sys.Launched()) Wait(arrivals, pinned);
    while (!Stopping() && !SingleDevice()) {
        const std::size_t bytes = FillPairs(pairs);
        if (!bytes) {
            Wait(arrivals, pinned);
            continue;
        }
        // room in the window: one slot always stays empty
        for (;;) {
            const int64_t acked = m_acked.load(std::memory_order_acquire);
            if (acked >= m_base.load(std::memory_order_relaxed)) m_base.store(acked + 1, std::memory_order_relaxed);
            const int64_t next = m_next.load(std::memory_order_relaxed);
            if (next - m_base.load(std::memory_order_relaxed) < static_cast<int64_t>(m_mask)) break;
            if (acked < next - 1)
                SendControl(kPktNoticeProbe, WireSeq(next - 1));
            else if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Warning: Deliver-Notice Window Block!.");
            Wait(m_spaceEvent, pinned);
            if (Stopping() || SingleDevice()) {
                // what was counted noticed is still delivered: by rotation after the switch
                ExitLines();
                return;
            }
        }
        const int64_t seq = m_next.load(std::memory_order_relaxed);
        VornBuffer* b = m_pool->Get();
        if (!b) {
            if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Cache-Pool[%s] Real-time Malloc Fail: %d", kPoolName, static_cast<int>(kControlBufferSize));
            // the pairs stay counted: give them back so they are noticed again
            for (std::size_t i = 0; i < bytes; i += 2) --m_noticed[pairs[i]];
            Wait(m_spaceEvent, pinned);
            continue;
        }
        const std::size_t n =
            BuildDeliverNotice(b->data, b->capacity, m_sys.OwnHeader(kPktDeliverNotice, WireSeq(seq), m_groupId, -1),
                               pairs, bytes);
        b->length = static_cast<uint32_t>(n);
        {
            std::lock_guard<std::mutex> lock(m_slotMutex);
            Slot& s = m_slots[static_cast<uint32_t>(seq) & m_mask];
            s.seq = seq;
            s.length = static_cast<uint32_t>(n);
            std::memcpy(s.bytes, b->data, n);
        }
        // listed before it leaves: its acknowledgement may come back at once
        m_built.Append(b);
        m_next.store(seq + 1, std::memory_order_release);
        SendToPartner(b->data, n);
        m_sent.fetch_add(1, std::memory_order_relaxed);
    }
    ExitLines();
}

void CDeliverNotices::Resend(int64_t first, int64_t last) {
    const int64_t next = m_next.load(std::memory_order_acquire);
    if (last > next - 1) last = next - 1;
    // a range wider than the window names notices it cannot hold
    if (last - first > static_cast<int64_t>(m_mask)) first = last - static_cast<int64_t>(m_mask);
    for (int64_t s = first; s <= last; ++s) {
        Slot copy;
        {
            std::lock_guard<std::mutex> lock(m_slotMutex);
            copy = m_slots[static_cast<uint32_t>(s) & m_mask];
        }
        if (copy.length == 0) {
            if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Send Deliver-Notic-Nak Packet (%d) To Member ( %d ) Fail: Packet Not Exist", WireSeq(s),
                           m_partnerId);
            return;
        }
        if (copy.seq != s) {
            if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Send Nak Packet (%d) To Member ( %d ) Fail: Packet Lost <W:%d:A:%d:R:%d>", WireSeq(s),
                           m_partnerId, WireSeq(next - 1), WireSeq(m_acked.load(std::memory_order_acquire)),
                           WireSeq(m_base.load(std::memory_order_relaxed)));
            return;
        }
        SendToPartner(copy.bytes, copy.length);
        m_resent.fetch_add(1, std::memory_order_relaxed);
    }
}

void CDeliverNotices::HandlerTick(int64_t now_ns) {
    if (m_role != Role::kStandby || ControlEnded() || SingleDevice()) return;
    const int64_t newest = m_next.load(std::memory_order_acquire) - 1;
    if (m_acked.load(std::memory_order_acquire) >= newest) return;
    if (newest != m_probeSeen) {
        m_probeSeen = newest;
        m_probeNs = now_ns;
        return;
    }
    if (now_ns - m_probeNs < m_timing.probe_interval_ns) return;
    SendControl(kPktNoticeProbe, WireSeq(newest));
    m_probeNs = now_ns;
}

// ---- arrivals ----------------------------------------------------------------------------

void CDeliverNotices::SeenPartner() {
    if (m_partnerSeenNs.load(std::memory_order_relaxed) != 0) return;
    int64_t none = 0;
    if (!m_partnerSeenNs.compare_exchange_strong(none, MonotonicNs(), std::memory_order_acq_rel)) return;
    // what the master took before it heard a partner, that partner will never notice
    if (m_role != Role::kMaster) return;
    for (std::size_t p = 0; p < m_deliver.PositionCount(); ++p) {
        if (m_deliver.Appended(static_cast<int>(p)) == 0) continue;
        OutOfStep("Traffic Before The Partner");
        return;
    }
}

void CDeliverNotices::Heard(int16_t group_id, int16_t member_id) {
    if (group_id == m_groupId && member_id == m_partnerId) SeenPartner();
}

void CDeliverNotices::PartnerLeft() { OutOfStep("Partner Left The Pair"); }

bool CDeliverNotices::OnReceived(const uint8_t* data, std::size_t length) {
    VornHeader h;
    if (!ReadHostHeader(data, length, h) || h.src_group_id != m_groupId || h.src_member_id != m_partnerId) {
        m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    SeenPartner();
    if (h.type == kPktDeliverNotice && m_role == Role::kMaster) {
        const std::size_t pair_bytes = length - kHeaderSize;
        if (length < kHeaderSize || !PairBytesFit(pair_bytes) || h.payload_length != static_cast<int32_t>(pair_bytes)) {
            m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
            if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Recv Deliver-Notice Invalid: Seq-No (%d) Pair-Len (%d), Discard.", h.sequence,
                           static_cast<int>(length) - static_cast<int>(kHeaderSize));
            return false;
        }
        VornBuffer* b = m_pool->Get();
        if (!b) {
            m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
            if (m_log.Allow(MonotonicNs()))
                m_sys.Note("Cache-Pool[%s] Real-time Malloc Fail: %d", kPoolName, static_cast<int>(kControlBufferSize));
            return false;
        }
        std::memcpy(b->data, data, length);
        b->length = static_cast<uint32_t>(length);
        switch (m_recv->Accept(b, h.sequence)) {
            case CRecvWindow::Outcome::kDelivered:
                // the deliver thread may be waiting for just this notice
                m_deliver.Event().Set();
                break;
            case CRecvWindow::Outcome::kBuffered:
                break;
            case CRecvWindow::Outcome::kDuplicate:
                // told again what is held: a partner in step learns nothing new, a restarted
                // one that its notices are not the ones held
                if (UnwrapSeq(h.sequence, m_recv->NextExpected()) < m_recv->NextExpected())
                    m_reack.store(true, std::memory_order_release);
                VornBuffer::Release(b);
                break;
            case CRecvWindow::Outcome::kBeyond:
                VornBuffer::Release(b);
                break;
        }
        m_controlEvent.Set();
        return false;
    }
    if (h.type == kPktNoticeAck && m_role == Role::kStandby) {
        const int64_t next = m_next.load(std::memory_order_acquire);
        const int64_t seq = UnwrapSeq(h.sequence, next - 1);
        if (seq < 0) return false;
        // the master holds notices this device never sent: this device restarted and its
        // notices no longer name what the master's lists hold
        if (seq >= next) {
            OutOfStep("Ack Beyond Sent");
            return false;
        }
        int64_t cur = m_acked.load(std::memory_order_relaxed);
        while (seq > cur && !m_acked.compare_exchange_weak(cur, seq, std::memory_order_acq_rel)) {
        }
        if (seq > cur) m_ackRaisedNs.store(MonotonicNs(), std::memory_order_release);
        int64_t count = m_ackedCount.load(std::memory_order_relaxed);
        while (seq + 1 > count && !m_ackedCount.compare_exchange_weak(count, seq + 1, std::memory_order_acq_rel)) {
        }
        m_spaceEvent.Set();
        m_ackEvent.Set();
        return false;
    }
    m_noticesDropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void CDeliverNotices::OnHandler(const uint8_t* data, std::size_t length) {
    VornHeader h;
    if (!ReadHostHeader(data, length, h) || h.src_group_id != m_groupId || h.src_member_id != m_partnerId) return;
    SeenPartner();
    if (h.type == kPktNoticeNak && m_role == Role::kStandby) {
        int32_t wire_first = 0, wire_last = -1;
        if (!ReadRange(data, length, wire_first, wire_last)) return;
        const int64_t near = m_next.load(std::memory_order_acquire) - 1;
        int64_t first = UnwrapSeq(wire_first, near), last = UnwrapSeq(wire_last, near);
        if (first > last) std::swap(first, last);
        // a master asking for what it acknowledged long ago has restarted (a NAK that its own
        // acknowledgement overtook comes right behind that acknowledgement)
        if (first <= m_acked.load(std::memory_order_acquire) &&
            MonotonicNs() - m_ackRaisedNs.load(std::memory_order_acquire) >= m_timing.restart_proof_ns) {
            OutOfStep("Nak Below Acknowledged");
            return;
        }
        Resend(first, last);
        return;
    }
    if (h.type == kPktNoticeProbe && m_role == Role::kMaster) {
        const int64_t n = m_recv->NextExpected();
        const int64_t p = UnwrapSeq(h.sequence, n - 1);
        // the highest in order: the probed one for a partner in step (it cannot have sent
        // less than the master holds), and the proof of a restart for one that is not
        if (p < n)
            SendControl(kPktNoticeAck, WireSeq(n - 1));
        else
            SendNak(WireSeq(n), h.sequence);
    }
}

// ---- delivery ----------------------------------------------------------------------------

int64_t CDeliverNotices::Ready(bool finishing) const {
    const CDeliveryList& list = m_role == Role::kMaster ? m_recv->List() : m_built;
    int64_t top = list.Appended();
    if (m_role == Role::kStandby && !finishing) top = std::min(top, m_ackedCount.load(std::memory_order_acquire));
    return top - list.Taken();
}

std::size_t CDeliverNotices::Pass(bool finishing, bool* done) {
    CDeliveryList& list = *Notices();
    const std::size_t positions = m_deliver.PositionCount();
    std::size_t total = 0;
    if (done) *done = false;
    while (Ready(finishing) > 0) {
        VornBuffer* b = list.Front();
        if (!b) break;
        const uint8_t* pairs = b->data + kHeaderSize;
        const std::size_t n = b->length > kHeaderSize ? b->length - kHeaderSize : 0;
        bool blocked = false;
        while (m_offset + 2 <= n) {
            const std::size_t pos = pairs[m_offset];
            const int want = static_cast<int>(pairs[m_offset + 1]) - m_partial;
            if (pos >= positions || want <= 0) {
                m_pairsDropped.fetch_add(1, std::memory_order_relaxed);
                if (m_log.Allow(MonotonicNs()))
                    m_sys.Note("Deliver-Notice Pair Invalid: Position (%d) Count (%d), Positions (%d), Discard.",
                               static_cast<int>(pos), static_cast<int>(pairs[m_offset + 1]), static_cast<int>(positions));
                m_offset += 2;
                m_partial = 0;
                continue;
            }
            const int64_t pending = m_deliver.Pending(static_cast<int>(pos));
            const int take = static_cast<int>(std::min<int64_t>(pending, want));
            if (take > 0) {
                const int got = m_deliver.DeliverOne(static_cast<int>(pos), take);
                total += static_cast<std::size_t>(got);
                m_byNotice.fetch_add(static_cast<uint64_t>(got), std::memory_order_relaxed);
            }
            if (take < want) {
                // the rest when its messages are there
                m_partial += take;
                blocked = true;
                break;
            }
            m_offset += 2;
            m_partial = 0;
        }
        if (blocked && !finishing) return total;
        // done, or finishing with a message that may never come: rotation takes over
        list.PopFront();
        m_offset = 0;
        m_partial = 0;
        if (blocked) {
            while (Ready(true) > 0 && list.Front()) list.PopFront();
            break;
        }
    }
    if (done) *done = finishing && ControlEnded() && Ready(true) <= 0;
    return total;
}

}  // namespace VORN
}  // namespace OXA
