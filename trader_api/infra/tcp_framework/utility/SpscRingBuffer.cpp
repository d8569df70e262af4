#include "infra/tcp_framework/utility/SpscRingBuffer.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken constructor argument is a programming error: stop in every build type.
#define SPSC_RING_CHECK(cond)                                                                          \
    do {                                                                                               \
        if (!(cond)) {                                                                                 \
            std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", __FILE__, __LINE__, #cond);        \
            std::abort();                                                                              \
        }                                                                                              \
    } while (0)

namespace tcp_framework {
namespace utility {

namespace {

constexpr uint64_t kKeepFree = SPSC_RING_BUFFER_CACHE_BLOCK_SIZE;  // equal positions mean empty, never full
constexpr uint64_t kHead = 8;
constexpr uint64_t kMaxWaitUs = 100ull * 365 * 24 * 3600 * 1000000;  // keeps the deadline in range

inline uint64_t round_block(uint64_t n) {
    return (n + SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1) & ~uint64_t(SPSC_RING_BUFFER_CACHE_BLOCK_SIZE - 1);
}

struct RecordHead {
    uint32_t stored;  // length + 8
    uint32_t length;
};

inline RecordHead read_head(const uint8_t* p) {
    RecordHead h;
    std::memcpy(&h, p, sizeof h);
    return h;
}

// A full barrier on every running thread of the process. It lets the side of a handshake that
// runs on every record (the push) get by with a compiler barrier, while the side that runs
// only before a reader sleeps pays a system call.
bool heavy_fence_registered() {
    static const bool ok = syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
    return ok;
}

void heavy_fence() { syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }

// x mod size for x < 2 * size, without a division on every record.
inline uint64_t wrap_once(uint64_t x, uint64_t size) { return x >= size ? x - size : x; }

}  // namespace

SpscRingBuffer::SpscRingBuffer(uint32_t init_size, uint32_t growth_factor, uint32_t max_size)
    : m_init_size(init_size), m_growth(growth_factor), m_max_size(max_size), m_light_fence(heavy_fence_registered()) {
    SPSC_RING_CHECK(init_size > 0);
    SPSC_RING_CHECK(init_size % SPSC_RING_BUFFER_CACHE_BLOCK_SIZE == 0);
    m_segments[0] = static_cast<uint8_t*>(std::malloc(init_size));
    m_sizes[0] = init_size;
    if (m_segments[0]) m_allocated.store(init_size, std::memory_order_relaxed);
    m_scratch = static_cast<uint8_t*>(std::malloc(SCRATCH_SIZE));
}

SpscRingBuffer::~SpscRingBuffer() {
    for (auto* seg : m_segments) std::free(seg);
    std::free(m_scratch);
}

bool SpscRingBuffer::add_segment(uint64_t& w, uint32_t size, uint32_t raw_read_seq) {
    const uint32_t ws = seq_of(w);
    // the new segment's slot must not be one the reader still uses
    if (ws + 1 - raw_read_seq >= MAX_SEGMENTS) return false;
    auto* mem = static_cast<uint8_t*>(std::malloc(size));
    if (!mem) return false;
    const uint32_t next = ws + 1;
    m_segments[slot_of(next)] = mem;
    m_sizes[slot_of(next)] = size;
    m_end[slot_of(ws)] = w;
    m_allocated.fetch_add(size, std::memory_order_relaxed);
    w = make_pos(next, 0);
    return true;
}

inline bool SpscRingBuffer::fits(uint64_t r, uint64_t w, uint64_t size, uint64_t need, uint32_t length) const {
    if (at_segment_end(r, w)) r = make_pos(seq_of(r) + 1, 0);
    const uint64_t wo = off_of(w);
    uint64_t free;
    if (seq_of(r) == seq_of(w)) {
        // both offsets are below size and differ by at least kKeepFree when the reader is ahead
        free = wrap_once(off_of(r) + size - wo - kKeepFree, size);
    } else {
        free = size - wo - kKeepFree;  // no wrapping until the reader has arrived here
    }
    if (need > free) return false;
    // a wrapped record is read through the scratch copy
    return wo + kHead + length <= size || (m_scratch != nullptr && length <= SCRATCH_SIZE);
}

bool SpscRingBuffer::push_slow(const void* data, uint32_t length) {
    if (length == 0) return true;
    if (data == nullptr) return false;
    const uint64_t need = round_block(uint64_t(length) + kHead);

    uint64_t w = m_write_own;
    uint64_t size = m_sizes[slot_of(seq_of(w))];
    if (m_segments[slot_of(seq_of(w))] == nullptr) return false;

    uint64_t r = m_read_cache;
    if (size > m_init_size) {
        // drained after a burst: start over in a segment of the initial size so
        // the grown one is handed back once the reader leaves it
        r = m_read_cache = m_read.load(std::memory_order_acquire);
        const uint64_t rn = at_segment_end(r, w) ? make_pos(seq_of(r) + 1, 0) : r;
        if (rn == w && need + kKeepFree <= m_init_size && add_segment(w, m_init_size, seq_of(r))) {
            size = m_init_size;
        }
    }
    if (!fits(r, w, size, need, length)) {
        r = m_read_cache = m_read.load(std::memory_order_acquire);
        if (!fits(r, w, size, need, length)) {
            if (m_growth == 0) return false;
            const uint64_t grown = size * m_growth;
            if (grown > m_max_size || need + kKeepFree > grown) return false;
            if (!add_segment(w, static_cast<uint32_t>(grown), seq_of(r))) return false;
            size = grown;
        }
    }

    uint8_t* const seg = m_segments[slot_of(seq_of(w))];
    const uint64_t wo = off_of(w);
    const RecordHead head{length + static_cast<uint32_t>(kHead), length};
    std::memcpy(seg + wo, &head, sizeof head);
    const uint64_t room = size - wo - kHead;
    uint64_t next;
    if (length <= room) {
        std::memcpy(seg + wo + kHead, data, length);
        next = wo + need;
        if (next == size) next = 0;
    } else {
        const auto* src = static_cast<const uint8_t*>(data);
        std::memcpy(seg + wo + kHead, src, room);
        std::memcpy(seg, src + room, length - room);
        next = round_block(length - room);
    }
    publish_write(make_pos(seq_of(w), static_cast<uint32_t>(next)));
    return true;
}

void SpscRingBuffer::leave_segment(uint32_t seq) {
    const uint32_t slot = slot_of(seq);
    std::free(m_segments[slot]);
    m_segments[slot] = nullptr;
    m_allocated.fetch_sub(m_sizes[slot], std::memory_order_relaxed);
}

inline uint64_t SpscRingBuffer::consumer_read_pos(bool reload) {
    const uint64_t r = m_read_own;
    if (reload || r == m_write_cache) m_write_cache = m_write.load(std::memory_order_acquire);
    if (seq_of(r) == seq_of(m_write_cache)) return r;
    return leave_finished_segments(r);
}

uint64_t SpscRingBuffer::leave_finished_segments(uint64_t r) {
    while (at_segment_end(r, m_write_cache)) {
        leave_segment(seq_of(r));
        r = make_pos(seq_of(r) + 1, 0);
        publish_read(r);
    }
    return r;
}

const void* SpscRingBuffer::front_slow(uint32_t* length) {
    const uint64_t r = consumer_read_pos(false);
    if (r == m_write_cache) {
        if (length) *length = 0;
        return nullptr;
    }
    const uint8_t* seg = m_segments[slot_of(seq_of(r))];
    const uint64_t size = m_sizes[slot_of(seq_of(r))];
    const uint64_t ro = off_of(r);
    const RecordHead head = read_head(seg + ro);
    if (length) *length = head.length;
    if (ro + head.stored <= size) return seg + ro + kHead;
    const uint64_t first = size - ro - kHead;
    std::memcpy(m_scratch, seg + ro + kHead, first);
    std::memcpy(m_scratch + first, seg, head.length - first);
    return m_scratch;
}

void SpscRingBuffer::pop_slow() {
    const uint64_t r = consumer_read_pos(false);
    if (r == m_write_cache) return;
    const uint32_t seq = seq_of(r);
    const uint8_t* seg = m_segments[slot_of(seq)];
    const uint64_t size = m_sizes[slot_of(seq)];
    const RecordHead head = read_head(seg + off_of(r));
    uint64_t next = make_pos(seq, static_cast<uint32_t>(wrap_once(off_of(r) + round_block(head.stored), size)));
    if (at_segment_end(next, m_write_cache)) {
        leave_segment(seq);
        next = make_pos(seq + 1, 0);
    }
    publish_read(next);
}

uint32_t SpscRingBuffer::peek(Span* spans, uint32_t max_spans, uint64_t max_bytes, uint32_t* span_count,
                              uint32_t* record_lengths) {
    uint32_t records = 0;
    uint32_t used = 0;
    uint64_t r = consumer_read_pos(true);
    const uint64_t w = m_write_cache;
    if (r != w && max_spans > 0) {
        const uint32_t seq = seq_of(r);
        const uint8_t* seg = m_segments[slot_of(seq)];
        const uint64_t size = m_sizes[slot_of(seq)];
        uint64_t bytes = 0;
        while (r != w && !at_segment_end(r, w)) {
            const uint64_t ro = off_of(r);
            const RecordHead head = read_head(seg + ro);
            const bool wraps = ro + head.stored > size;
            if (used + (wraps ? 2u : 1u) > max_spans) break;
            if (records > 0 && bytes + head.length > max_bytes) break;
            if (wraps) {
                const uint64_t first = size - ro - kHead;
                spans[used++] = Span{seg + ro + kHead, static_cast<uint32_t>(first)};
                spans[used++] = Span{seg, static_cast<uint32_t>(head.length - first)};
            } else {
                spans[used++] = Span{seg + ro + kHead, head.length};
            }
            bytes += head.length;
            if (record_lengths) record_lengths[records] = head.length;
            ++records;
            r = make_pos(seq, static_cast<uint32_t>(wrap_once(ro + round_block(head.stored), size)));
        }
    }
    if (span_count) *span_count = used;
    return records;
}

bool SpscRingBuffer::empty() const {
    const uint64_t w = m_write.load(std::memory_order_acquire);
    const uint64_t r = m_read.load(std::memory_order_acquire);
    if (r == w) return true;
    return at_segment_end(r, w) && make_pos(seq_of(r) + 1, 0) == w;
}

const void* SpscRingBuffer::wait_record(uint32_t* length, bool timed, uint64_t microseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(std::min<uint64_t>(microseconds, kMaxWaitUs));
    for (;;) {
        const void* p = front(length);
        if (p) return p;
        m_waiters.fetch_add(1, std::memory_order_seq_cst);
        if (m_light_fence)
            heavy_fence();
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
        m_write_cache = m_write.load(std::memory_order_acquire);
        p = front(length);
        bool woke = true;
        if (!p) {
            if (!timed) {
                woke = m_sem.wait();
            } else {
                const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
                woke = left.count() > 0 && m_sem.wait_for(static_cast<uint64_t>(left.count()));
            }
        }
        m_waiters.fetch_sub(1, std::memory_order_relaxed);
        if (p) return p;
        // A count may be left over from a post whose record was already taken: look again.
        if (!woke) {
            p = front(length);
            if (!p && length) *length = 0;
            return p;
        }
    }
}

const void* SpscRingBuffer::front_wait(uint32_t* length) { return wait_record(length, false, 0); }

const void* SpscRingBuffer::front_wait_for(uint32_t* length, uint64_t microseconds) {
    return wait_record(length, true, microseconds);
}

}  // namespace utility
}  // namespace tcp_framework
