// The handler thread: the member's periodic work. Each cycle it keeps the HHMMSS clock,
// answers the queued NAKs and RACKs, runs every group's ACK, NAK and RACK decisions, sends
// the hot-backup heartbeat and checks for a lost partner, and reports to the coordinator
// (slot-state changes of a server member, statistics every 180 s).
//
// A partner is lost once no heartbeat (nor, before the first one, any notice) came for the
// lost-over-time; one that never appears at all is timed from the first message this device
// holds. A device that left the pair (its notices out of step with the partner's) asks for
// single-device mode at once, and its next heartbeat, sent at once, tells the partner with
// mode '2'. Heartbeats go to the partner only from the end of the launch's start-up
// synchronisation on, the first one at once (Announce).
//
// It never sleeps for long on its own thread: unpinned it waits on the control queue for
// at most its cycle wait (100 us unless set) when the previous cycle sent nothing, and the
// switch to single-device mode after a lost partner, which may wait for the coordinator for
// seconds, runs on a helper thread of its own and is retried no sooner than the retry
// interval after a failure.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "infra/utility/AnswerWait.h"
#include "infra/vorn/VornThreads.h"

namespace OXA {
namespace VORN {

class CAppMsgDeliver;
class CControlQueue;
class CGroupsManager;
class CVornSystem;
struct VornBuffer;
struct VornPeerWindow;

struct HandlerTiming {
    int64_t wait_ns = 100000;                   // unpinned wait of a cycle that sent nothing
    int64_t heartbeat_interval_ns = 2000000000;
    int64_t statistics_interval_ns = 180000000000;
    int64_t switch_retry_ns = 10000000000;      // after a failed switch to single-device mode
};

class CDgramHandler {
public:
    CDgramHandler(CVornSystem& system, CGroupsManager& groups, CControlQueue& queue, CAppMsgDeliver* deliver);
    ~CDgramHandler();
    CDgramHandler(const CDgramHandler&) = delete;
    CDgramHandler& operator=(const CDgramHandler&) = delete;

    void SetTiming(const HandlerTiming& timing) { m_timing = timing; }
    // Starts the thread, which sets itself up first; core >= 0 pins it.
    bool Start(int core);
    // Ends and joins the thread (and a switch request under way).
    void Stop();
    // The start-up synchronisation is over: from now on the partner hears this device. Waits
    // (up to timeout) until the handler has sent it the first heartbeat, so that the partner
    // hears of this device before anything that follows the launch can reach it.
    void Announce(std::chrono::milliseconds timeout);

    // The set-up and one cycle at monotonic time now_ns, as the thread runs them; true when
    // the cycle sent anything. For tests that drive the handler themselves.
    void Setup();
    bool Cycle(int64_t now_ns);

    uint64_t Cycles() const { return m_cycles.load(std::memory_order_relaxed); }
    int16_t PartnerId() const { return m_partnerId.load(std::memory_order_acquire); }
    uint64_t HeartbeatsReceived() const { return m_heartbeatsIn.load(std::memory_order_relaxed); }

private:
    void Loop(bool pinned);
    void Control(VornBuffer* buffer, int64_t now_ns);
    bool Heartbeat(int64_t now_ns);
    void PeerLost(int64_t now_ns);
    bool Reports(int64_t now_ns);
    void ToCoordinator(const uint8_t* data, std::size_t length);

    CVornSystem& m_sys;
    CGroupsManager& m_groups;
    CControlQueue& m_queue;
    CAppMsgDeliver* m_deliver;
    HandlerTiming m_timing;
    CBusThread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_cycles{0};

    int m_fd = -1;
    sockaddr_in m_coordinator{};
    int32_t m_startHHMMSS = 0;
    // the partner of a hot-backup pair: the first other member of the own group
    std::atomic<int16_t> m_partnerId{-1};
    VornPeerWindow* m_partner = nullptr;
    int64_t m_heartbeatSentNs = 0;
    bool m_heartbeatSent = false;
    std::atomic<int64_t> m_heartbeatInNs{0};
    int64_t m_heldNs = 0;      // the first cycle that found a message held
    bool m_toldLeft = false;   // the partner heard that this device left the pair
    std::atomic<bool> m_speak{false};  // the partner may hear this device
    bool m_spoken = false;             // the first heartbeat went (or had nowhere to go)
    API::AnswerWait<bool> m_announced;
    std::atomic<uint64_t> m_heartbeatsIn{0};
    int64_t m_statisticsNs = 0;
    bool m_statisticsSent = false;

    // the switch to single-device mode, on its helper thread
    CBusThread m_switchThread;
    bool m_switching = false;
    std::atomic<bool> m_switchDone{false};
    std::atomic<int> m_switchResult{0};
    int64_t m_switchTriedNs = 0;
    bool m_switchTried = false;
};

}  // namespace VORN
}  // namespace OXA
