#include "infra/vorn/DgramHandler.h"

#include <sys/socket.h>
#include <unistd.h>

#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/ControlQueue.h"
#include "infra/vorn/DgramSink.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

CDgramHandler::CDgramHandler(CVornSystem& system, CGroupsManager& groups, CControlQueue& queue,
                             CAppMsgDeliver* deliver)
    : m_sys(system), m_groups(groups), m_queue(queue), m_deliver(deliver) {}

CDgramHandler::~CDgramHandler() {
    Stop();
    if (m_fd >= 0) ::close(m_fd);
}

bool CDgramHandler::Start(int core) {
    m_stop.store(false, std::memory_order_release);
    return m_thread.Start("vorn_handle", core, [this](bool pinned) { Loop(pinned); });
}

void CDgramHandler::Stop() {
    m_stop.store(true, std::memory_order_release);
    m_queue.Wake();
    m_thread.Join();
    m_switchThread.Join();
}

void CDgramHandler::Announce(std::chrono::milliseconds timeout) {
    const uint64_t ticket = m_announced.arm(1);
    m_speak.store(true, std::memory_order_release);
    m_queue.Wake();
    bool sent = false;
    m_announced.wait(ticket, timeout, sent);
}

void CDgramHandler::Setup() {
    const VornIdentity& id = m_sys.Identity();
    if (m_fd < 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) m_sys.Note("Create Heartbeat Dgram Socket Failt");
    }
    MakeAddress(m_sys.CoordinatorIp(), m_sys.CoordinatorPort(), m_coordinator);
    m_sys.StartClock();
    m_startHHMMSS = m_sys.ClockHHMMSS();
    CGroupSession* own = m_groups.OwnGroup();
    m_partner = nullptr;
    m_partnerId.store(-1, std::memory_order_release);
    m_heldNs = 0;
    m_toldLeft = false;
    m_spoken = false;
    if (own) {
        for (std::size_t i = 0; i < own->MemberCount(); ++i) {
            VornPeerWindow& w = own->Member(i);
            if (w.member_id != id.member_id) {
                m_partner = &w;
                m_partnerId.store(w.member_id, std::memory_order_release);
                break;
            }
        }
    }
}

void CDgramHandler::Loop(bool pinned) {
    const int core = m_sys.ThreadCore(VornThread::kHandler);
    if (core < 0)
        m_sys.Note("Handler Thread (%s) Start ...", "vorn_handle");
    else if (pinned)
        m_sys.Note("Handler Thread(%s) Start, Bind CPU Core Id(%d) ...", "vorn_handle", core);
    else
        m_sys.Note("Handler Thread(%s) Start ...", "vorn_handle");
    Setup();
    bool sent = false;
    while (!m_stop.load(std::memory_order_acquire)) {
        if (!pinned && !sent) m_queue.WaitFor(m_timing.wait_ns);
        if (m_stop.load(std::memory_order_acquire)) break;
        sent = Cycle(MonotonicNs());
    }
    m_sys.Note("Handler Thread ( %s ) Stop ...", "vorn_handle");
}

bool CDgramHandler::Cycle(int64_t now_ns) {
    m_cycles.fetch_add(1, std::memory_order_relaxed);
    m_sys.UpdateClock();
    VornBuffer* b = m_queue.TakeAll();
    while (b) {
        VornBuffer* next = b->next.load(std::memory_order_relaxed);
        Control(b, now_ns);
        VornBuffer::Release(b);
        b = next;
    }
    bool sent = m_groups.AckNakTick(now_ns / 1000000000, now_ns % 1000000000);
    if (m_deliver) m_deliver->HandlerTick(now_ns);
    sent = Heartbeat(now_ns) || sent;
    if (!m_spoken && m_speak.load(std::memory_order_acquire)) {
        // the heartbeat of this cycle went to the partner, if there is one to hear it
        m_spoken = true;
        m_announced.deliver(1, true);
    }
    PeerLost(now_ns);
    sent = Reports(now_ns) || sent;
    return sent;
}

void CDgramHandler::Control(VornBuffer* buffer, int64_t now_ns) {
    if (m_groups.OnControl(buffer->data, buffer->length, now_ns)) return;
    VornHeader h;
    if (!ReadHostHeader(buffer->data, buffer->length, h)) return;
    switch (h.type) {
        case kPktHeartbeat:
            if (h.src_group_id == m_sys.Identity().group_id && h.src_member_id == m_partnerId.load()) {
                m_heartbeatInNs.store(now_ns, std::memory_order_release);
                m_heartbeatsIn.fetch_add(1, std::memory_order_relaxed);
                int64_t sec = 0, usec = 0;
                char mode = 0;
                // a partner that left the pair (out of step) says so before it goes quiet
                if (ReadHeartbeat(buffer->data, buffer->length, sec, usec, mode) && mode == '2' &&
                    m_sys.Hqtrs().Mode() == '1' && m_deliver)
                    m_deliver->PairPartnerLeft();
            }
            break;
        case kPktNoticeNak:
        case kPktNoticeProbe:
            if (m_deliver) m_deliver->OnHandlerNotice(buffer->data, buffer->length, now_ns);
            break;
        default:
            break;
    }
}

void CDgramHandler::ToCoordinator(const uint8_t* data, std::size_t length) {
    if (m_fd < 0 || !length) return;
    m_sys.SendPath().SendTo(m_fd, data, length, m_coordinator, -1, -1);
}

bool CDgramHandler::Heartbeat(int64_t now_ns) {
    const VornIdentity& id = m_sys.Identity();
    if (id.group_mode == '1' || id.group_member_count < 2) return false;
    const char mode = m_sys.Hqtrs().Mode();
    // the partner hears this device once its start-up synchronisation is over, at once
    const bool to_partner = m_partner && mode == '1' && m_speak.load(std::memory_order_acquire) && m_fd >= 0;
    // out of step: the partner hears it at once, not after the lost-over-time
    const bool left = m_deliver && m_deliver->PairDesynced();
    const bool tell = to_partner && ((left && !m_toldLeft) || !m_spoken);
    if (!tell && m_heartbeatSent && now_ns - m_heartbeatSentNs < m_timing.heartbeat_interval_ns) return false;
    const HqtrsPrimaryInfo primary = m_sys.Hqtrs().Primary();
    uint8_t buf[kHeartbeatSize];
    const VornHeader h = m_sys.OwnHeader(kPktHeartbeat, 0, id.group_id, -1);
    std::size_t n = BuildHeartbeat(buf, sizeof buf, h, primary.grant_sec, primary.grant_usec, mode);
    if (m_sys.DeviceIdentity() == 1) ToCoordinator(buf, n);
    if (to_partner) {
        if (left) n = BuildHeartbeat(buf, sizeof buf, h, primary.grant_sec, primary.grant_usec, '2');
        if (n) m_sys.SendPath().SendTo(m_fd, buf, n, m_partner->addr, id.group_id, m_partner->member_id);
        if (left) m_toldLeft = true;
    }
    m_heartbeatSentNs = now_ns;
    m_heartbeatSent = true;
    return n != 0;
}

void CDgramHandler::PeerLost(int64_t now_ns) {
    if (m_switching && m_switchDone.load(std::memory_order_acquire)) {
        m_switchThread.Join();
        m_switching = false;
        m_switchDone.store(false, std::memory_order_release);
        if (m_switchResult.load() == 1 && m_partner) {
            m_partner->slot_state.store(kSlotAbandoned, std::memory_order_release);
            m_partner = nullptr;
            m_partnerId.store(-1, std::memory_order_release);
            // the deliver thread finishes its notices and turns to rotation now
            if (m_deliver) m_deliver->Event().Set();
        }
    }
    int64_t last = m_heartbeatInNs.load(std::memory_order_acquire);
    // a partner heard but whose first heartbeat the handler has not taken yet is timed from
    // when it was first heard
    if (last == 0 && m_deliver) last = m_deliver->PairPartnerSeenNs();
    if (!m_partner || m_sys.Hqtrs().Mode() == '2' || m_switching) return;
    // a partner never heard is timed from the first message this device holds for it: a
    // master whose standby never starts would otherwise acknowledge messages that it never
    // delivers, and a standby that starts late, before any traffic, still makes the pair
    if (m_heldNs == 0 && m_deliver && m_deliver->AnyAppended()) m_heldNs = now_ns;
    if (last == 0) last = m_heldNs;
    // a partner whose notices are out of step with this device's (it restarted, or appeared
    // after traffic) is as good as lost to the pair
    const bool out_of_step = m_deliver && m_deliver->PairDesynced();
    if (!out_of_step) {
        if (last == 0) return;
        const int64_t lost_ns = static_cast<int64_t>(m_sys.Hqtrs().Digest().lost_over_time_s) * 1000000000;
        if (now_ns - last < lost_ns) return;
    }
    if (m_switchTried && now_ns - m_switchTriedNs < m_timing.switch_retry_ns) return;
    m_switchTried = true;
    m_switchTriedNs = now_ns;
    m_switching = true;
    m_switchDone.store(false, std::memory_order_release);
    const bool started = m_switchThread.Start("vorn_switch", -1, [this](bool) {
        m_switchResult.store(m_sys.Hqtrs().SwitchSingleDevice(), std::memory_order_release);
        m_switchDone.store(true, std::memory_order_release);
    });
    if (!started) m_switching = false;
}

bool CDgramHandler::Reports(int64_t now_ns) {
    const VornIdentity& id = m_sys.Identity();
    bool sent = false;
    if (id.svr_type == '0') {
        for (std::size_t gi = 0; gi < m_groups.GroupCount(); ++gi) {
            CGroupSession& g = m_groups.Group(gi);
            for (std::size_t i = 0; i < g.MemberCount(); ++i) {
                VornPeerWindow& w = g.Member(i);
                const int32_t state = w.slot_state.load(std::memory_order_acquire);
                const int32_t reported = w.reported_state.load(std::memory_order_acquire);
                if (state == reported || (state != 0 && reported != 0)) continue;
                uint8_t buf[kSlotStateSize];
                const std::size_t n = BuildSlotState(buf, sizeof buf, m_sys.OwnHeader(kPktSlotState, 0, -1, -1),
                                                     g.GroupId(), w.member_id, static_cast<uint8_t>(state));
                ToCoordinator(buf, n);
                w.reported_state.store(state, std::memory_order_release);
                sent = true;
            }
        }
    }
    if (!m_statisticsSent || now_ns - m_statisticsNs >= m_timing.statistics_interval_ns) {
        uint8_t buf[kStatisticsSize];
        const int64_t received = static_cast<int64_t>(m_groups.ReceivedCount() + m_groups.LoopbackCount());
        const std::size_t n =
            BuildStatistics(buf, sizeof buf, m_sys.OwnHeader(kPktStatistics, 0, -1, -1), m_startHHMMSS,
                            static_cast<int32_t>(received), static_cast<int32_t>(m_groups.SentTotal()));
        ToCoordinator(buf, n);
        m_statisticsNs = now_ns;
        m_statisticsSent = true;
        sent = true;
    }
    return sent;
}

}  // namespace VORN
}  // namespace OXA
