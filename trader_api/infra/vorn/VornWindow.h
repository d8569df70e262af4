// The per-peer sequence windows of the bus, without sockets or threads of their own.
//
// A send window keeps every app message sent to one peer in the slot of its sequence until
// the peer acknowledges it, so a NAK is answered with the stored bytes. A receive window
// puts what arrives from one source (a member, or a hot-backup group whose two devices send
// one stream) back in order: a duplicate is dropped, a message ahead of the next expected
// one waits in its slot, and every message that becomes in order moves to the source's
// delivery list.
//
// Sequences travel as int32 and wrap (after 2^32 messages to one peer the wire value starts
// again): inside a member they are carried in 64 bits, so they compare and subtract without
// wrapping, and a value that comes off the wire is taken as the 64-bit sequence nearest to
// the window's own position (serial-number order: within 2^31 either side). A position
// reply to a receive window that has taken nothing yet is taken even when it lies "behind":
// it names where a stream that may be far along stands.
//
// Who touches what: the send side (next, base, slots) only under the group's send mutex;
// the acknowledged value is raised by the receiver and read by senders and the handler with
// atomic loads. A receive window is filled by the receiver and reset by position replies,
// both under the window's mutex; the handler reads its next expected and gap end atomically
// and alone keeps the ACK/NAK state.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "infra/vorn/VornPool.h"

namespace OXA {
namespace VORN {

// The wire value of a sequence: its low 32 bits.
inline int32_t WireSeq(int64_t seq) {
    const uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(seq));
    return low > 0x7FFFFFFFu ? static_cast<int32_t>(static_cast<int64_t>(low) - 0x100000000LL)
                             : static_cast<int32_t>(low);
}
// The 64-bit sequence whose wire value is wire, nearest to near.
inline int64_t UnwrapSeq(int32_t wire, int64_t near) {
    const uint32_t d = static_cast<uint32_t>(wire) - static_cast<uint32_t>(static_cast<uint64_t>(near));
    return near + (d > 0x7FFFFFFFu ? static_cast<int64_t>(d) - 0x100000000LL : static_cast<int64_t>(d));
}

// The slot count of a window for the coordinator's window size W: the largest power of two
// not above W, 1 when W is 0 or 1.
uint32_t WindowSlots(int32_t window_size);
// How far the in-order position may run ahead of the last ACK before an ACK goes at once:
// min(mark, 100) for W of at least 2,049, else 0.
int32_t AckWatermark(int32_t window_size, int32_t ack_water_mark);

// The timers of the windows; tests shorten them.
struct WindowTiming {
    int64_t ack_interval_ns = 500000;       // an ACK goes when more than this less 1 ns passed
    int64_t nak_interval_ns = 300000000;    // the same NAK is not repeated within this
    int64_t rack_interval_ns = 300000000;   // between timed RACKs of one stall
    int32_t rack_max = 27;                  // timed RACKs per stall
    int64_t immediate_rack_outstanding = 4096;
    int64_t reprobe_interval_ns = 1000000000;  // RACK to an abandoned peer
    int64_t sync_reply_wait_ns = 1000000000;   // start-up synchronisation: replies per pass
    int64_t sync_poll_ns = 500000000;
    int sync_passes = 3;
    bool sync_wait_full_pass = false;          // false: a pass ends once every request is answered
    int sync_fail_sleep_ms = 1000;
    int64_t startup_leave_poll_us = 100;       // waiting for the receiver to leave its start-up phase
    int64_t startup_leave_timeout_ns = 5000000000;  // ... for at most this long
};

class CSendWindow {
public:
    // slots: a power of two (1 allowed: such a window never has room).
    explicit CSendWindow(uint32_t slots);
    CSendWindow(const CSendWindow&) = delete;
    CSendWindow& operator=(const CSendWindow&) = delete;

    uint32_t Slots() const { return m_mask + 1; }
    uint32_t Mask() const { return m_mask; }

    // ---- acknowledged and synchronised: any thread
    int64_t Acked() const { return m_acked.load(std::memory_order_acquire); }
    // An acknowledgement off the wire (taken nearest to the last sequence sent):
    // acknowledged = max(acknowledged, seq).
    void RaiseAcked(int32_t seq);
    bool Synced() const { return m_synced.load(std::memory_order_acquire) != 0; }
    void SetSynced(bool on) { m_synced.store(on ? 1 : 0, std::memory_order_release); }
    // Read atomically by the handler; written under the send mutex.
    int64_t Next() const { return m_next.load(std::memory_order_acquire); }

    // ---- under the group's send mutex
    int64_t Base() const { return m_base; }
    // next - base has reached the mask: one slot always stays empty.
    bool Full() const;
    // On a full window: base = acknowledged + 1 when acknowledged >= base, and next raised to
    // the base when below it.
    void RefreshBase();
    // The slot (kAppBufferSize bytes) that the message with sequence Next() is built in.
    uint8_t* NextSlot();
    // The message built in NextSlot() is stored: next advances.
    void Advance();
    // The position exchange with the peer's wire value c: next = c + 1, acknowledged = c,
    // base = c + 1 (c taken nearest to the last sequence sent).
    void Reposition(int32_t c);
    // Raises acknowledged (and the base) to next - 1: everything sent counts as received.
    void AcknowledgeAll();
    // The stored datagram of seq when its slot holds that sequence. kMissing: never written;
    // kOther: the slot holds another sequence.
    enum class Stored { kOk, kMissing, kOther };
    Stored At(int64_t seq, const uint8_t*& data, std::size_t& length) const;

    // The last immediate-RACK point: the handler's, reset by the position exchange.
    std::atomic<int64_t> immediate_rack{-1};

private:
    void RaiseAckedTo(int64_t seq);

    std::atomic<int64_t> m_acked{-1};
    std::atomic<int32_t> m_synced{0};
    std::atomic<int64_t> m_next{0};
    int64_t m_base = 0;
    uint32_t m_mask;
    std::vector<uint8_t> m_slots;  // (mask + 1) x kAppBufferSize, zeroed: type 0 = never written
};

// What the handler remembers of the ACKs and NAKs it sent for one receive window.
struct AckNakState {
    int64_t last_acked = -1;
    int64_t nak_first = -1;
    int64_t nak_last = -1;
    int64_t ack_ns = 0;
    int64_t nak_ns = 0;
};

class CRecvWindow {
public:
    explicit CRecvWindow(uint32_t slots);
    // Buffers still waiting in slots go back to their pools.
    ~CRecvWindow();
    CRecvWindow(const CRecvWindow&) = delete;
    CRecvWindow& operator=(const CRecvWindow&) = delete;

    enum class Outcome {
        kDelivered,  // in order: it and every buffered message after it are in the list
        kBuffered,   // ahead of the next expected one: kept in its slot
        kDuplicate,  // seen before: the caller keeps the buffer
        kBeyond,     // past the window: the caller keeps the buffer
    };
    // Takes one app message with wire sequence seq (its buffer on kDelivered and kBuffered).
    // moved: how many buffers moved to the delivery list.
    Outcome Accept(VornBuffer* buffer, int32_t seq, int* moved = nullptr);
    // Empties the slots (their buffers back to the pools) and clears the gap.
    void Reset();
    // The same for a position reply: next expected moves to the sequence whose wire value
    // is the low 32 bits of next_floor when that lies ahead (it never moves back), and is
    // set to it when the window has taken nothing yet.
    void Reset(int64_t next_floor);

    // Appends a buffer that has no sequence of this window (a loop-back copy of an own
    // message) to the delivery list, under the window's mutex like every append.
    void AppendUnsequenced(VornBuffer* buffer);

    int64_t NextExpected() const { return m_next.load(std::memory_order_acquire); }
    // End of the first gap: the sequence before the first buffered slot after next expected;
    // no gap when below next expected.
    int64_t GapEnd() const { return m_gapEnd.load(std::memory_order_acquire); }
    int64_t HighestSeen() const;
    uint32_t Mask() const { return m_mask; }
    // Buffers waiting in slots.
    std::size_t Buffered() const;

    CDeliveryList& List() { return m_list; }
    // The handler's.
    AckNakState acknak;

private:
    void RecomputeGapEnd();  // under m_mutex
    void Clear();            // under m_mutex

    mutable std::mutex m_mutex;
    std::atomic<int64_t> m_next{0};
    std::atomic<int64_t> m_gapEnd{-1};
    int64_t m_highest = -1;
    bool m_positioned = false;  // took a message or a position
    uint32_t m_mask;
    std::vector<VornBuffer*> m_slots;
    std::vector<uint8_t> m_flags;
    CDeliveryList m_list;
};

}  // namespace VORN
}  // namespace OXA
