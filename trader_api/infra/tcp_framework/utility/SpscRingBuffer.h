// Growable byte ring of variable-length records for one producer thread and
// one consumer thread.
//
// Records sit at 16-byte aligned offsets: u32 stored size (length + 8), u32
// length, then the data, which may wrap to the start of its segment. When a
// record does not fit, the producer starts a larger segment instead of
// blocking or dropping; the consumer finishes the older segment first and
// then frees it. Once the ring has drained, the next push goes back to a
// segment of the initial size, so a burst does not keep its memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "infra/tcp_framework/utility/Semaphore.h"

namespace tcp_framework {
namespace utility {

constexpr uint32_t SPSC_RING_BUFFER_CACHE_BLOCK_SIZE = 16;

class SpscRingBuffer {
public:
    static constexpr uint32_t MAX_SEGMENTS = 256;          // segments alive at one time
    static constexpr uint32_t SCRATCH_SIZE = 2097152;      // copy area for a wrapped record

    // A record's data as one or, when it wraps, two contiguous pieces.
    struct Span {
        const void* data;
        uint32_t size;
    };

    // init_size must be positive and a multiple of 16 (checked in every
    // build type). growth_factor 0: the ring never grows.
    SpscRingBuffer(uint32_t init_size, uint32_t growth_factor, uint32_t max_size);
    ~SpscRingBuffer();
    SpscRingBuffer(const SpscRingBuffer&) = delete;
    SpscRingBuffer& operator=(const SpscRingBuffer&) = delete;

    // Producer. Stores one record; false when it fits neither the current
    // segment nor one grown segment (or memory runs out). Length 0 stores
    // nothing and succeeds.
    bool push(const void* data, uint32_t length) {
        // Inline for the common case: the reader in this segment of the initial size and room
        // for the whole record before the segment end. Everything else goes the long way.
        const uint64_t w = m_write_own;
        const uint32_t slot = slot_of(seq_of(w));
        const uint64_t size = m_sizes[slot];
        const uint64_t r = m_read_cache;
        const uint64_t wo = off_of(w);
        const uint64_t need = (uint64_t(length) + 8 + SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1) &
                              ~uint64_t(SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1);
        if (length == 0 || data == nullptr || size != m_init_size || seq_of(r) != seq_of(w) ||
            m_segments[slot] == nullptr || wo + need > size)
            return push_slow(data, length);
        uint64_t free = off_of(r) + size - wo - SPSC_RING_BUFFER_CACHE_BLOCK_SIZE;
        if (free >= size) free -= size;
        if (need > free) return push_slow(data, length);
        uint8_t* const at = m_segments[slot] + wo;
        const uint32_t head[2] = {length + 8, length};
        std::memcpy(at, head, sizeof head);
        std::memcpy(at + 8, data, length);
        const uint64_t next = wo + need == size ? 0 : wo + need;
        publish_write(make_pos(seq_of(w), static_cast<uint32_t>(next)));
        return true;
    }

    // Consumer. The oldest record, or null with length 0 when empty. Valid
    // until pop(); a wrapped record is copied to the scratch area, which the
    // next front() reuses.
    const void* front(uint32_t* length) {
        // Inline for a record in the writer's segment that does not wrap.
        const uint64_t r = m_read_own;
        if (r != m_write_cache && seq_of(r) == seq_of(m_write_cache)) {
            const uint32_t slot = slot_of(seq_of(r));
            const uint8_t* at = m_segments[slot] + off_of(r);
            uint32_t head[2];
            std::memcpy(head, at, sizeof head);
            if (off_of(r) + head[0] <= m_sizes[slot]) {
                if (length) *length = head[1];
                return at + 8;
            }
        }
        return front_slow(length);
    }
    void pop() {
        const uint64_t r = m_read_own;
        if (r != m_write_cache && seq_of(r) == seq_of(m_write_cache)) {
            const uint32_t slot = slot_of(seq_of(r));
            uint32_t stored;
            std::memcpy(&stored, m_segments[slot] + off_of(r), sizeof stored);
            const uint64_t size = m_sizes[slot];
            uint64_t next = off_of(r) + ((uint64_t(stored) + SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1) &
                                         ~uint64_t(SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1));
            if (next >= size) next -= size;
            publish_read(make_pos(seq_of(r), static_cast<uint32_t>(next)));
            return;
        }
        pop_slow();
    }

    // Consumer. Describes the oldest records in order without removing them,
    // never copying: up to max_spans spans (a wrapped record takes two) and,
    // past the first record, up to max_bytes of data. Stops at a segment
    // change. Returns the number of records described (pop() each one); the
    // spans stay valid until they are popped. record_lengths, when given, gets
    // each described record's length (room for max_spans entries).
    uint32_t peek(Span* spans, uint32_t max_spans, uint64_t max_bytes, uint32_t* span_count,
                  uint32_t* record_lengths = nullptr);

    // Either side.
    bool empty() const;

    // Consumer: the oldest record, waiting for one to be pushed when empty,
    // blocking or with a timeout; null and length 0 on timeout or semaphore
    // error. A push wakes the semaphore only while a reader waits.
    const void* front_wait(uint32_t* length);
    const void* front_wait_for(uint32_t* length, uint64_t microseconds);

    // Bytes of segment memory currently held (either side; approximate while
    // the other side runs).
    uint64_t allocated_bytes() const { return m_allocated.load(std::memory_order_relaxed); }

private:
    static uint32_t seq_of(uint64_t pos) { return static_cast<uint32_t>(pos >> 32); }
    static uint32_t off_of(uint64_t pos) { return static_cast<uint32_t>(pos); }
    static uint64_t make_pos(uint32_t seq, uint32_t off) { return (static_cast<uint64_t>(seq) << 32) | off; }
    static uint32_t slot_of(uint32_t seq) { return seq % MAX_SEGMENTS; }

    // A reader that stands at the end of a segment the writer has left is
    // logically at the start of the next one.
    bool at_segment_end(uint64_t r, uint64_t w) const {
        return seq_of(r) != seq_of(w) && r == m_end[slot_of(seq_of(r))];
    }
    bool add_segment(uint64_t& w, uint32_t size, uint32_t raw_read_seq);
    uint64_t consumer_read_pos(bool reload);
    uint64_t leave_finished_segments(uint64_t r);
    bool fits(uint64_t r, uint64_t w, uint64_t size, uint64_t need, uint32_t length) const;
    bool push_slow(const void* data, uint32_t length);
    const void* front_slow(uint32_t* length);
    void pop_slow();
    void publish_write(uint64_t w) {
        m_write_own = w;
        m_write.store(w, std::memory_order_release);
        // Pairs with the fence in wait_record: either the waiter sees this record before it
        // sleeps, or this side sees the waiter and posts.
        if (m_light_fence)
            std::atomic_signal_fence(std::memory_order_seq_cst);
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
        if (m_waiters.load(std::memory_order_relaxed) != 0) m_sem.post();
    }
    void publish_read(uint64_t r) {
        m_read_own = r;
        m_read.store(r, std::memory_order_release);
    }
    const void* wait_record(uint32_t* length, bool timed, uint64_t microseconds);
    void leave_segment(uint32_t seq);

    uint8_t* m_segments[MAX_SEGMENTS] = {};
    uint32_t m_sizes[MAX_SEGMENTS] = {};
    uint64_t m_end[MAX_SEGMENTS] = {};
    const uint32_t m_init_size;
    const uint32_t m_growth;
    const uint32_t m_max_size;
    uint8_t* m_scratch = nullptr;
    Semaphore m_sem;
    std::atomic<uint32_t> m_waiters{0};  // readers in a waiting read
    const bool m_light_fence;            // the waiting side can fence both threads
    std::atomic<uint64_t> m_allocated{0};

    alignas(64) std::atomic<uint64_t> m_write{0};
    uint64_t m_write_own = 0;   // producer's own copy of m_write
    uint64_t m_read_cache = 0;  // producer's last look at m_read
    alignas(64) std::atomic<uint64_t> m_read{0};
    uint64_t m_read_own = 0;     // consumer's own copy of m_read
    uint64_t m_write_cache = 0;  // consumer's last look at m_write
};

}  // namespace utility
}  // namespace tcp_framework
