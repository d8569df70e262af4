// The deliver notices of a hot-backup pair: how a master and a standby device come to deliver
// the same messages in the same order.
//
// The standby's control thread decides the order: it writes (position, 1) pairs in rotation
// for every message its lists hold that it has not noticed yet (the inferior position last),
// at most 48 bytes a notice, and sends the notices (type 64) to the master from a send window
// it alone writes. The master takes them into a receive window (duplicates dropped, gaps held),
// its control thread acknowledges the in-order ones ('A', the highest in order) and asks for
// gaps ('B'); the standby resends from its window and probes ('C') on the handler's cycle when
// the newest notice stays unacknowledged. The master delivers a notice as soon as it is in
// order and its messages are there (either arrival wakes the deliver thread); the standby
// delivers a notice only once the master acknowledged it.
//
// Every pair is checked before it is used: a position outside the source list or a count of 0
// is logged and skipped, and a notice whose pair bytes are not 2 to 48 and even is dropped.
// The master's repeated NAK and the standby's probe wait the same bounded interval (50 ms).
//
// Single-device mode: the control threads end, and the deliver thread finishes what it holds
// (the master the notices that came in order, the standby every notice it built, acknowledged
// or not), then serves by rotation. A notice whose message the master never gets does not hold
// the rotation back: the notices left are dropped and rotation, which keeps per-source order,
// delivers the rest. Nothing is delivered twice: every position is delivered in list order by
// one thread, whichever road names it.
//
// The notices name messages by count, so the pair shares one order only while both devices'
// lists begin at the same message of every source. Two cases break that, and a device that
// meets one leaves the notice protocol at once ("out of step"), serves by rotation, says so in
// its heartbeat to the partner (mode '2') and asks for single-device mode; its partner, told
// by that heartbeat (or, from a partner that does not say, by the silence that follows the
// switch), does the same. Neither device hangs, each delivers what it acknowledged once, in
// per-source order, and one source's messages come in the same order on both.
// - A partner that appears late: a device speaks to its partner only once its launch, and
//   with it the start-up synchronisation, is over; so what reached the master before it first
//   heard its partner was sent before the partner's lists began, and no notice will ever name
//   it. A master that holds anything when it first hears its partner is out of step.
// - A device that restarts while its partner is still active: its lists begin where its
//   start-up synchronisation found each source, the partner's where they stood. The standby
//   sees it (an acknowledgement of a notice it never sent: it restarted, which the master's
//   answer to a duplicate notice or a probe, the highest notice it holds in order, shows; the
//   master asking, long after its last acknowledgement, for notices it acknowledged: the
//   master restarted).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "infra/vorn/Event.h"
#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

class CAppMsgDeliver;
class CRecvWindow;
class CVornSystem;

struct NoticeTiming {
    int wait_ms = 50;                      // control threads: the wait for work or room
    int64_t probe_interval_ns = 50000000;  // standby: newest notice unacknowledged this long
    int64_t nak_interval_ns = 50000000;    // master: the same NAK again after this
    int64_t restart_proof_ns = 200000000;  // standby: a NAK below the acknowledged one this long
                                           // after the last acknowledgement proves a restart
};

class CDeliverNotices {
public:
    enum class Role { kMaster, kStandby };

    CDeliverNotices(CVornSystem& system, CAppMsgDeliver& deliver);
    ~CDeliverNotices();
    CDeliverNotices(const CDeliverNotices&) = delete;
    CDeliverNotices& operator=(const CDeliverNotices&) = delete;

    // Pool, socket and the window of the role; false with the failure logged. slots: the
    // window size (a power of two; at least 2 are used). partner: address and member id.
    bool Init(Role role, uint32_t slots, const sockaddr_in& partner, int16_t partner_id);
    void SetTiming(const NoticeTiming& timing) { m_timing = timing; }
    // Starts the control thread; core >= 0 pins it (it then polls).
    bool Start(int core);
    // Ends and joins the control thread.
    void Stop();
    Role GetRole() const { return m_role; }
    // True once the notice streams were found not to match (see above): this device leaves
    // the notice protocol (and asks for single-device mode).
    bool Desynced() const { return m_desync.load(std::memory_order_acquire); }
    // ---- receiver thread: a datagram from (group, member) of the own group arrived, before
    // it is acted on. The first one from the partner is when this device first heard it.
    void Heard(int16_t group_id, int16_t member_id);
    // ---- handler thread: the partner's heartbeat says it left the pair (mode '2').
    void PartnerLeft();
    // When the first notice packet from the partner arrived (monotonic ns, 0 none yet): a
    // partner that spoke and then went silent before its first heartbeat is lost as well.
    int64_t PartnerSeenNs() const { return m_partnerSeenNs.load(std::memory_order_acquire); }
    // True once the control thread has ended (single-device mode or stop).
    bool ControlEnded() const { return m_controlEnded.load(std::memory_order_acquire); }
    // The standby's deliver thread waits on it: set by every acknowledgement.
    CEvent& AckEvent() { return m_ackEvent; }

    // ---- receiver thread: a deliver notice (master) or a notice ACK (standby), header in
    // host order. False: the buffer was not kept (notices are copied).
    bool OnReceived(const uint8_t* data, std::size_t length);
    // ---- handler thread: a notice NAK (standby) or probe (master); and the standby's probe.
    void OnHandler(const uint8_t* data, std::size_t length);
    void HandlerTick(int64_t now_ns);

    // ---- deliver thread
    // Delivers the ready notices as far as their messages are there. finishing (single-device
    // mode, or a stop): every notice held counts as ready and a pair that cannot be served
    // drops the rest. Sets *done when finishing has nothing left. Returns messages delivered.
    std::size_t Pass(bool finishing, bool* done = nullptr);

    // ---- counters (any thread)
    uint64_t NoticesSent() const { return m_sent.load(std::memory_order_relaxed); }
    uint64_t NoticesResent() const { return m_resent.load(std::memory_order_relaxed); }
    uint64_t AcksSent() const { return m_acksSent.load(std::memory_order_relaxed); }
    uint64_t NaksSent() const { return m_naksSent.load(std::memory_order_relaxed); }
    uint64_t ProbesSent() const { return m_probesSent.load(std::memory_order_relaxed); }
    uint64_t PairsDropped() const { return m_pairsDropped.load(std::memory_order_relaxed); }
    uint64_t NoticesDropped() const { return m_noticesDropped.load(std::memory_order_relaxed); }
    // Messages delivered as notices named them.
    uint64_t DeliveredByNotice() const { return m_byNotice.load(std::memory_order_relaxed); }
    // Standby: notices acknowledged by the master. Master: notices in order.
    int64_t NoticesAcknowledged() const;

private:
    void MasterLoop(bool pinned);
    void StandbyLoop(bool pinned);
    // Single-device mode, or out of step with the partner.
    bool SingleDevice() const;
    void OutOfStep(const char* why);
    void SeenPartner();
    bool Stopping() const { return m_stop.load(std::memory_order_acquire); }
    void Wait(CEvent& event, bool pinned);
    ssize_t SendToPartner(const uint8_t* data, std::size_t length);
    void SendControl(uint8_t type, int32_t seq);
    void SendNak(int32_t first, int32_t last);
    // Standby: fills pairs from the rotating start; the bytes written.
    std::size_t FillPairs(uint8_t* pairs);
    bool Unnoticed(int position) const;
    void Resend(int64_t first, int64_t last);
    CDeliveryList* Notices();
    int64_t Ready(bool finishing) const;
    void ExitLines();

    CVornSystem& m_sys;
    CAppMsgDeliver& m_deliver;
    NoticeTiming m_timing;
    Role m_role = Role::kMaster;
    int16_t m_groupId = -1;
    int16_t m_partnerId = -1;
    sockaddr_in m_partner{};
    int m_fd = -1;
    std::unique_ptr<CBufferPool> m_pool;
    CBusThread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_controlEnded{true};
    CEvent m_controlEvent;  // master: woken by arriving notices
    CEvent m_spaceEvent;    // standby: woken by acknowledgements
    CEvent m_ackEvent;      // standby's deliver thread
    CRateLimit m_log{1000000000, 20};

    // ---- master
    std::unique_ptr<CRecvWindow> m_recv;

    // ---- standby: the send window (the control thread writes it; the handler resends from
    // copies under the slot mutex). Notice sequences are carried in 64 bits like those of
    // the windows (VornWindow.h); the wire keeps their low 32.
    uint32_t m_mask = 1;
    std::mutex m_slotMutex;
    struct Slot {
        int64_t seq = -1;
        uint32_t length = 0;
        uint8_t bytes[kControlDatagramMax] = {0};
    };
    std::vector<Slot> m_slots;
    std::atomic<int64_t> m_acked{-1};
    std::atomic<int64_t> m_next{0};
    // written by the control thread, read by the handler's resend log line
    std::atomic<int64_t> m_base{0};
    std::atomic<int64_t> m_ackedCount{0};
    CDeliveryList m_built;  // notices built, in sequence order
    std::vector<int64_t> m_noticed;  // per position (control thread)
    std::size_t m_start = 0;         // rotating start (control thread)
    int64_t m_probeSeen = -1;        // handler
    int64_t m_probeNs = 0;
    std::atomic<int64_t> m_ackRaisedNs{0};
    std::atomic<bool> m_reack{false};  // master: a duplicate came, acknowledge again
    std::atomic<int64_t> m_partnerSeenNs{0};
    std::atomic<bool> m_desync{false};

    // ---- the current notice (deliver thread)
    std::size_t m_offset = 0;
    int m_partial = 0;

    std::atomic<uint64_t> m_sent{0};
    std::atomic<uint64_t> m_resent{0};
    std::atomic<uint64_t> m_acksSent{0};
    std::atomic<uint64_t> m_naksSent{0};
    std::atomic<uint64_t> m_probesSent{0};
    std::atomic<uint64_t> m_pairsDropped{0};
    std::atomic<uint64_t> m_noticesDropped{0};
    std::atomic<uint64_t> m_byNotice{0};
};

}  // namespace VORN
}  // namespace OXA
