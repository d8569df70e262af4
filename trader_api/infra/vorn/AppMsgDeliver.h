// Delivery: the deliver thread hands every received message to the user's deliver callback,
// one at a time, in per-source order.
//
// The sources are fixed at set-up: one position per hot-backup group (its group delivery
// list) and one per member of every plain group (that member's list, the own member's
// loop-back included), in group-table then member order. A plain member serves them in
// rotation: each pass visits every position once, from the rotating start to the end and
// then from the first up to the start, delivering at most one message per position, so one
// busy source cannot starve the others; the start moves one position on after every pass
// and back to position 1 once it has passed the last. The inferior position (the own
// hot-backup group when it is no client group) is skipped by the passes and served, one
// message at a time, only when a pass found nothing pending.
//
// The thread starts with the launch but delivers only once the launch has succeeded, so what
// the receiver took (and acknowledged) during the start-up phase is delivered then, in order
// and once. Stopping delivers what the lists still hold (the receiver has stopped by then),
// so a message that was acknowledged is not thrown away by a stop. A callback that throws
// is logged (at a limited rate) and delivery goes on.
//
// A hot-backup pair (own hot-backup group of more than one member, both devices active)
// delivers in the order of its deliver notices instead (DeliverNotices.h); after the switch to
// single-device mode the survivor finishes its notices and serves by rotation, and the device
// that is master then calls the state callback once, on this thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "infra/vorn/AppMsgStorage.h"
#include "infra/vorn/Event.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {

class CDeliverNotices;
class CDeliveryList;
class CGroupSession;
class CGroupsManager;
class CVornSystem;
struct VornBuffer;

class CAppMsgDeliver {
public:
    CAppMsgDeliver(CVornSystem& system, CGroupsManager& groups);
    ~CAppMsgDeliver();
    CAppMsgDeliver(const CAppMsgDeliver&) = delete;
    CAppMsgDeliver& operator=(const CAppMsgDeliver&) = delete;

    // Builds the source list; false with the failure logged.
    bool Init(VornDeliverCallback callback, int run_mode);
    // Woken for every message that enters a delivery list.
    CEvent& Event() { return m_event; }

    // ---- the deliver thread
    // Starts the thread; core >= 0 pins it (it then polls instead of waiting).
    bool Start(int core);
    // The launch succeeded: delivery begins.
    void Go();
    // Ends and joins the thread; with deliver_pending it first delivers what the lists hold.
    void Stop(bool deliver_pending = true);
    // True on the deliver thread of system's member.
    static bool OnDeliverThreadOf(const CVornSystem* system);

    // ---- the delivery itself (the deliver thread; tests call it directly)
    // Rotation passes until nothing is pending; the messages delivered.
    std::size_t RotationRound();
    // Where the next rotation pass starts (drawn at random by Init); before delivery begins.
    void SetRotationStart(std::size_t position) {
        if (!m_positions.empty()) m_next = position % m_positions.size();
    }
    // Delivers the next n messages of one position; how many there were.
    int DeliverOne(int position, int n = 1);

    std::size_t PositionCount() const { return m_positions.size(); }
    int InferiorPosition() const { return m_inferior; }
    // Messages appended to a position's list and not yet delivered.
    int64_t Pending(int position) const;
    // Messages appended to a position's list so far.
    int64_t Appended(int position) const;
    uint64_t Delivered() const { return m_delivered.load(std::memory_order_relaxed); }
    // The storage files of delivered messages (off when no id of the own group is stored).
    CAppMsgStorage& Storage() { return m_storage; }

    // ---- notices of a hot-backup pair (receiver and handler threads)
    // A deliver notice or notice ACK from the receiver; true when the buffer was kept.
    bool OnNotice(VornBuffer* buffer);
    // A notice NAK or probe from the handler's queue.
    void OnHandlerNotice(const uint8_t* data, std::size_t length, int64_t now_ns);
    // Each handler cycle: the standby's notice probe.
    void HandlerTick(int64_t now_ns);
    uint64_t NoticesDropped() const { return m_noticesDropped.load(std::memory_order_relaxed); }
    // The pair's notices (null for a member that is no device of an active pair).
    CDeliverNotices* Notices() { return m_notices.get(); }
    // True once a pair device serves by rotation after the switch to single-device mode.
    bool Switched() const { return m_switched.load(std::memory_order_acquire); }
    uint32_t StateCalls() const { return m_stateCalls.load(std::memory_order_relaxed); }
    // True once the pair's notice streams were found out of step (a partner that restarted, or
    // that appeared after traffic): the handler then asks for single-device mode.
    bool PairDesynced() const;
    // When this device first heard the pair's partner (monotonic ns; 0 not yet).
    int64_t PairPartnerSeenNs() const;
    // Receiver thread: a control datagram or notice from (group, member), before it is acted on.
    void HeardFrom(int16_t group_id, int16_t member_id);
    // Handler thread: the partner's heartbeat says it left the pair.
    void PairPartnerLeft();
    // True once any source list has taken a message.
    bool AnyAppended() const;

private:
    struct Position {
        CDeliveryList* list = nullptr;
        CGroupSession* group = nullptr;
        int member = -1;  // position in its group, -1 for a group list
        bool other = false;  // the group's svr_type is '1'
    };

    void Loop(bool pinned);
    // Sets the pair's notices up (own hot-backup group of more than one member, both
    // devices active); false with the failure logged.
    bool InitPair();
    // One pass: by notices while the pair is active, by rotation afterwards.
    std::size_t Round();
    CEvent& WaitEvent();

    CVornSystem& m_sys;
    CGroupsManager& m_groups;
    VornDeliverCallback m_callback = nullptr;
    std::vector<Position> m_positions;
    int m_inferior = -1;
    std::size_t m_next = 0;  // the rotating start (deliver thread)
    CEvent m_event;
    CBusThread m_thread;
    std::atomic<bool> m_go{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_drain{true};
    std::atomic<uint64_t> m_delivered{0};
    std::atomic<uint64_t> m_noticesDropped{0};
    CRateLimit m_throwLog;
    CRateLimit m_noticeLog;
    std::unique_ptr<CDeliverNotices> m_notices;
    std::atomic<bool> m_switched{false};
    std::atomic<uint32_t> m_stateCalls{0};
    bool m_stateCalled = false;  // deliver thread
    CAppMsgStorage m_storage{m_sys};
};

}  // namespace VORN
}  // namespace OXA
