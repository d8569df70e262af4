// The receiver thread: reads every datagram of the member's receive socket into a pool
// buffer and acts on what the groups manager makes of it. An app message that enters its
// window keeps its buffer (a fresh one is taken); a control packet is copied into a
// control-pool buffer and queued for the handler; a notice goes to delivery.
//
// It starts in the start-up phase, which lasts until the launch's window synchronisation is
// over, and then goes live. A pool that cannot give a buffer does not end it: the datagrams
// that arrive meanwhile are read and dropped (they are sent again), the fact is logged at a
// limited rate, and the receiver tries the pool again.
//
// Unpinned it waits for the socket in poll (50 ms in the start-up phase, 500 us live);
// pinned it polls the non-blocking socket without waiting. It ends when stopped.
#pragma once

#include <atomic>
#include <cstdint>

#include "infra/vorn/DgramSocket.h"
#include "infra/vorn/VornThreads.h"

namespace OXA {
namespace VORN {

class CAppMsgDeliver;
class CControlQueue;
class CGroupsManager;
class CVornSystem;

struct ReceiverTiming {
    int startup_poll_ms = 50;
    int live_poll_us = 500;
};

class DgramReceiver {
public:
    DgramReceiver(CVornSystem& system, CGroupsManager& groups, CControlQueue& queue, CAppMsgDeliver* deliver);
    ~DgramReceiver();
    DgramReceiver(const DgramReceiver&) = delete;
    DgramReceiver& operator=(const DgramReceiver&) = delete;

    void SetTiming(const ReceiverTiming& timing) { m_timing = timing; }
    // Opens the receive socket, enters the start-up phase and starts the thread; true once
    // the thread runs. core >= 0 pins it.
    bool Start(int core);
    // Ends and joins the thread and closes the socket.
    void Stop();

    bool Running() const { return m_running.load(std::memory_order_acquire); }
    uint16_t Port() const { return m_socket.Port(); }
    // Datagrams read, and those dropped for want of a buffer.
    uint64_t Read() const { return m_read.load(std::memory_order_relaxed); }
    uint64_t DroppedNoBuffer() const { return m_noBuffer.load(std::memory_order_relaxed); }

private:
    void Loop(bool pinned);
    // Reads what the socket holds; false when it stopped for want of a buffer.
    bool Drain(struct VornBuffer*& buffer);
    void DropWaiting();
    // A control datagram or notice (header in host order) from the own group: delivery learns
    // who spoke, in arrival order.
    void HeardFrom(const struct VornBuffer& buffer);

    CVornSystem& m_sys;
    CGroupsManager& m_groups;
    CControlQueue& m_queue;
    CAppMsgDeliver* m_deliver;
    ReceiverTiming m_timing;
    CDgramSocket m_socket;
    CBusThread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<uint64_t> m_read{0};
    std::atomic<uint64_t> m_noBuffer{0};
    CRateLimit m_poolLog;
    CRateLimit m_controlLog;
    CRateLimit m_errorLog;
};

}  // namespace VORN
}  // namespace OXA
