#include <gtest/gtest.h>

#include <climits>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "infra/tcp_framework/utility/Semaphore.h"
#include "infra/tcp_framework/utility/SpscRingBuffer.h"

using tcp_framework::utility::Semaphore;
using tcp_framework::utility::SpscRingBuffer;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes record(std::size_t n, uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

bool push(SpscRingBuffer& ring, const Bytes& b) { return ring.push(b.data(), static_cast<uint32_t>(b.size())); }

Bytes front_of(SpscRingBuffer& ring) {
    uint32_t len = 0;
    const void* p = ring.front(&len);
    if (!p) return {};
    const auto* c = static_cast<const uint8_t*>(p);
    return Bytes(c, c + len);
}

Bytes take(SpscRingBuffer& ring) {
    Bytes b = front_of(ring);
    ring.pop();
    return b;
}

Bytes joined(const SpscRingBuffer::Span* spans, uint32_t n) {
    Bytes out;
    for (uint32_t i = 0; i < n; ++i) {
        const auto* c = static_cast<const uint8_t*>(spans[i].data);
        out.insert(out.end(), c, c + spans[i].size);
    }
    return out;
}

}  // namespace

// init 64, factor 4, max 256: the third record grows the ring, a second
// growth (1,024 > 256) is refused once segment 1 is full.
TEST(SpscRingEdge, GrowsOnceThenRefusesAtTheMaximum) {
    SpscRingBuffer ring(64, 4, 256);
    const Bytes a = record(20, 1), b = record(8, 2), c = record(1, 3);
    ASSERT_TRUE(push(ring, a));
    ASSERT_TRUE(push(ring, b));
    EXPECT_EQ(64u, ring.allocated_bytes());
    ASSERT_TRUE(push(ring, c));  // 0 bytes free in segment 0
    EXPECT_EQ(64u + 256u, ring.allocated_bytes());

    // reader still in segment 0: the writer may not wrap in segment 1, 15 records of 16 bytes
    std::vector<Bytes> fill;
    for (int i = 0; i < 14; ++i) {
        fill.push_back(record(1, static_cast<uint8_t>(10 + i)));
        ASSERT_TRUE(push(ring, fill.back())) << i;
    }
    EXPECT_FALSE(push(ring, record(1, 99)));
    EXPECT_EQ(64u + 256u, ring.allocated_bytes());

    EXPECT_EQ(a, take(ring));
    EXPECT_EQ(64u + 256u, ring.allocated_bytes());
    EXPECT_EQ(b, take(ring));  // moves the reader to segment 1, offset 0
    EXPECT_EQ(256u, ring.allocated_bytes());
    EXPECT_EQ(c, take(ring));
    EXPECT_TRUE(push(ring, record(1, 98)));  // now the writer may wrap behind the reader
    for (const auto& f : fill) EXPECT_EQ(f, take(ring));
    EXPECT_EQ(record(1, 98), take(ring));
    EXPECT_TRUE(ring.empty());
}

// init 64: a 30-byte record after one of 20 wraps (24 bytes + 6) and is read
// through the scratch copy.
TEST(SpscRingEdge, WrappedRecordIsReadWhole) {
    SpscRingBuffer ring(64, 4, 256);
    ASSERT_TRUE(push(ring, record(20, 1)));
    ring.pop();
    const Bytes w = record(30, 5);
    ASSERT_TRUE(push(ring, w));
    EXPECT_EQ(64u, ring.allocated_bytes());  // no growth

    SpscRingBuffer::Span spans[4];
    uint32_t n = 0;
    ASSERT_EQ(1u, ring.peek(spans, 4, 1 << 20, &n));
    ASSERT_EQ(2u, n);
    EXPECT_EQ(24u, spans[0].size);
    EXPECT_EQ(6u, spans[1].size);
    EXPECT_EQ(w, joined(spans, n));

    uint32_t len = 0;
    const void* p = ring.front(&len);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(30u, len);
    EXPECT_NE(spans[0].data, p);  // a copy, not the segment
    EXPECT_EQ(w, Bytes(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + len));
    ring.pop();
    // the write offset became 16: a 40-byte record (48 with its head) fills 16..64 exactly
    ASSERT_TRUE(push(ring, record(40, 6)));
    EXPECT_EQ(64u, ring.allocated_bytes());
    EXPECT_EQ(1u, ring.peek(spans, 4, 1 << 20, &n));
    EXPECT_EQ(1u, n);
    EXPECT_EQ(record(40, 6), take(ring));
    EXPECT_TRUE(ring.empty());
}

TEST(SpscRingEdge, NoGrowthFactorRefusesWhatDoesNotFit) {
    SpscRingBuffer ring(64, 0, 1 << 20);
    ASSERT_TRUE(push(ring, record(20, 1)));  // 32
    EXPECT_FALSE(push(ring, record(20, 2)));  // 32 more would leave no 16 free
    EXPECT_EQ(64u, ring.allocated_bytes());
    EXPECT_EQ(record(20, 1), take(ring));
    EXPECT_TRUE(push(ring, record(20, 2)));
    EXPECT_EQ(record(20, 2), take(ring));
}

TEST(SpscRingEdge, ZeroLengthStoresNothing) {
    SpscRingBuffer ring(64, 4, 256);
    EXPECT_TRUE(ring.push("x", 0));
    EXPECT_TRUE(ring.empty());
    uint32_t len = 7;
    EXPECT_EQ(nullptr, ring.front(&len));
    EXPECT_EQ(0u, len);
    ring.pop();  // nothing to drop
    EXPECT_TRUE(ring.empty());
    EXPECT_FALSE(ring.push(nullptr, 4));
}

// Records that cannot fit even after one growth step are refused, leaving
// what is queued intact (also right after a growth step).
TEST(SpscRingEdge, RefusesRecordsLargerThanAGrownSegment) {
    struct Case {
        const char* name;
        uint32_t init, factor, max;
        std::size_t before;  // queued first
        std::size_t big;
        bool accepted;
    } cases[] = {
        {"fits only grown", 64, 4, 256, 20, 200, true},     // 208 <= 256 - 16
        {"over grown segment", 64, 4, 256, 20, 250, false}, // 272 > 240
        {"over empty segment, no growth", 64, 0, 0, 0, 56, false},
        {"largest in empty segment", 64, 0, 0, 0, 40, true},
        {"growth over the maximum", 64, 4, 255, 20, 100, false},
        {"growth size over 32 bits", 64, 1u << 26, 0xFFFFFFF0u, 20, 100, false},  // 2^32, not 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SpscRingBuffer ring(c.init, c.factor, c.max);
        const Bytes first = record(c.before, 3);
        if (c.before) {
            ASSERT_TRUE(push(ring, first));
        }
        const uint64_t held = ring.allocated_bytes();
        const Bytes big = record(c.big, 9);
        EXPECT_EQ(c.accepted, push(ring, big));
        if (!c.accepted) {
            EXPECT_EQ(held, ring.allocated_bytes());
        }
        if (c.before) {
            EXPECT_EQ(first, take(ring));
        }
        if (c.accepted) {
            EXPECT_EQ(big, take(ring));
        }
        EXPECT_TRUE(ring.empty());
    }
}

// A record that would wrap with more data than the scratch copy holds goes
// to a fresh segment instead, or is refused when the ring cannot grow.
TEST(SpscRingEdge, WrapLargerThanScratchIsNeverWritten) {
    const uint32_t seg = 8u << 20;
    const Bytes six = record(6u << 20, 1), three = record(3u << 20, 2);
    {
        SpscRingBuffer ring(seg, 0, seg);
        ASSERT_TRUE(push(ring, six));
        ring.pop();
        EXPECT_FALSE(push(ring, three));  // would wrap 3 MiB around the end
        EXPECT_TRUE(ring.empty());
    }
    {
        SpscRingBuffer ring(seg, 4, 64u << 20);
        ASSERT_TRUE(push(ring, six));
        ring.pop();
        ASSERT_TRUE(push(ring, three));
        EXPECT_EQ(uint64_t(seg) * 5, ring.allocated_bytes());
        EXPECT_EQ(three, take(ring));
    }
}

TEST(SpscRingEdge, GrowthFromAnEmptyRingLeavesTheReaderAtTheWriter) {
    SpscRingBuffer ring(64, 4, 1024);
    ASSERT_TRUE(push(ring, record(40, 1)));  // 48 bytes
    ring.pop();                               // reader = writer = 48
    ASSERT_TRUE(ring.empty());
    const Bytes r = record(48, 2);            // 64 bytes: more than the 48 free
    ASSERT_TRUE(push(ring, r));
    EXPECT_EQ(64u + 256u, ring.allocated_bytes());
    EXPECT_FALSE(ring.empty());
    EXPECT_EQ(r, front_of(ring));
    EXPECT_EQ(256u, ring.allocated_bytes());  // the old segment is handed back
    ring.pop();
    EXPECT_TRUE(ring.empty());
    uint32_t len = 1;
    EXPECT_EQ(nullptr, ring.front(&len));
}

TEST(SpscRingEdge, MemoryOfABurstIsGivenBack) {
    SpscRingBuffer ring(64, 4, 4096);
    std::deque<Bytes> model;
    for (int i = 0; i < 100; ++i) {
        model.push_back(record(24, static_cast<uint8_t>(i)));
        ASSERT_TRUE(push(ring, model.back())) << i;
    }
    EXPECT_EQ(64u + 256u + 1024u + 4096u, ring.allocated_bytes());
    while (!model.empty()) {
        ASSERT_EQ(model.front(), take(ring));
        model.pop_front();
    }
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(4096u, ring.allocated_bytes());  // only the writer's segment is left
    ASSERT_TRUE(push(ring, record(5, 1)));      // drained: back to the initial size
    EXPECT_EQ(record(5, 1), take(ring));
    EXPECT_EQ(64u, ring.allocated_bytes());
}

// With growth factor 1 every full segment adds one of the same size; at most
// 256 are alive, and a slot is reused once the reader has left it.
TEST(SpscRingEdge, AtMost256SegmentsAreAlive) {
    SpscRingBuffer ring(64, 1, 64);
    std::deque<Bytes> model;
    for (int i = 0; i < 256; ++i) {  // 40 bytes + head = 48: one record per segment
        model.push_back(record(40, static_cast<uint8_t>(i)));
        ASSERT_TRUE(push(ring, model.back())) << i;
    }
    EXPECT_EQ(256u * 64u, ring.allocated_bytes());
    EXPECT_FALSE(push(ring, record(40, 0xAA)));
    EXPECT_EQ(model.front(), take(ring));
    model.pop_front();
    model.push_back(record(40, 0xAB));
    EXPECT_TRUE(push(ring, model.back()));  // slot 0 again
    while (!model.empty()) {
        ASSERT_EQ(model.front(), take(ring));
        model.pop_front();
    }
    EXPECT_TRUE(ring.empty());
}

TEST(SpscRingEdge, ConstructorChecksItsArguments) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(SpscRingBuffer(0, 4, 256), "init_size > 0");
    EXPECT_DEATH(SpscRingBuffer(24, 4, 256), "init_size % SPSC_RING_BUFFER_CACHE_BLOCK_SIZE == 0");
}

TEST(SpscRingPeek, GathersInOrderWithinItsLimits) {
    SpscRingBuffer ring(256, 4, 4096);
    std::vector<Bytes> recs;
    for (int i = 0; i < 6; ++i) {
        recs.push_back(record(10 + i, static_cast<uint8_t>(i)));
        ASSERT_TRUE(push(ring, recs.back()));
    }
    SpscRingBuffer::Span spans[8];
    uint32_t n = 0;
    EXPECT_EQ(4u, ring.peek(spans, 4, 1 << 20, &n));
    EXPECT_EQ(4u, n);
    Bytes want;
    for (int i = 0; i < 4; ++i) want.insert(want.end(), recs[i].begin(), recs[i].end());
    EXPECT_EQ(want, joined(spans, n));
    EXPECT_EQ(2u, ring.peek(spans, 8, 21, &n));  // 10 + 11 bytes
    EXPECT_EQ(1u, ring.peek(spans, 8, 1, &n));   // the first record always
    EXPECT_EQ(0u, ring.peek(spans, 0, 100, &n));
    ring.pop();
    ring.pop();
    EXPECT_EQ(4u, ring.peek(spans, 8, 1 << 20, &n));
    EXPECT_EQ(recs[2], Bytes(static_cast<const uint8_t*>(spans[0].data),
                             static_cast<const uint8_t*>(spans[0].data) + spans[0].size));
}

// Random sizes against a std::deque, with wraps, growth and shrinking.
TEST(SpscRingModel, SingleThreadMatchesADeque) {
    std::mt19937 rng(2024);
    SpscRingBuffer ring(256, 2, 1 << 16);
    std::deque<Bytes> model;
    uint64_t pushed = 0;
    for (int op = 0; op < 200000; ++op) {
        const unsigned dice = rng() % 100;
        // phases that favour pushing, then draining, force growth and shrink
        const bool fill_phase = (op / 5000) % 2 == 0;
        if (dice < (fill_phase ? 60u : 35u)) {
            const Bytes b = record(1 + rng() % 300, static_cast<uint8_t>(pushed));
            if (push(ring, b)) {
                model.push_back(b);
                ++pushed;
            } else {
                // only a ring at its limit refuses
                ASSERT_GT(ring.allocated_bytes(), 256u);
            }
        } else if (dice < 97) {
            if (model.empty()) {
                ASSERT_TRUE(ring.empty());
                ASSERT_TRUE(front_of(ring).empty());
                continue;
            }
            ASSERT_FALSE(ring.empty());
            ASSERT_EQ(model.front(), front_of(ring)) << "op " << op;
            ring.pop();
            model.pop_front();
        } else {
            SpscRingBuffer::Span spans[16];
            uint32_t n = 0;
            const uint32_t got = ring.peek(spans, 16, 2000, &n);
            ASSERT_LE(got, model.size());
            Bytes want;
            for (uint32_t i = 0; i < got; ++i) want.insert(want.end(), model[i].begin(), model[i].end());
            ASSERT_EQ(want, joined(spans, n));
            if (!model.empty()) {
                ASSERT_GE(got, 1u);
            }
        }
    }
    while (!model.empty()) {
        ASSERT_EQ(model.front(), take(ring));
        model.pop_front();
    }
    EXPECT_TRUE(ring.empty());
    EXPECT_GT(pushed, 50000u);
}

namespace {

// Producer and consumer on two threads; every record carries its sequence
// number and a body derived from it, so the consumer can check order and bytes.
void run_two_threads(uint32_t init, uint32_t factor, uint32_t max, std::size_t max_len, uint32_t count,
                     bool use_peek) {
    SpscRingBuffer ring(init, factor, max);
    std::atomic<bool> failed{false};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto body = [max_len](uint32_t seq) {
        const std::size_t len = 4 + (seq * 2654435761u) % (max_len - 3);
        Bytes b(len);
        std::memcpy(b.data(), &seq, 4);
        for (std::size_t i = 4; i < len; ++i) b[i] = static_cast<uint8_t>(seq + i);
        return b;
    };
    std::thread producer([&] {
        for (uint32_t seq = 0; seq < count && !failed; ++seq) {
            const Bytes b = body(seq);
            while (!push(ring, b)) {
                if (failed || std::chrono::steady_clock::now() > deadline) {
                    failed = true;
                    return;
                }
                std::this_thread::yield();
            }
        }
    });
    uint32_t expect = 0;
    while (expect < count && !failed) {
        if (std::chrono::steady_clock::now() > deadline) {
            failed = true;
            break;
        }
        if (use_peek) {
            SpscRingBuffer::Span spans[8];
            uint32_t n = 0;
            const uint32_t got = ring.peek(spans, 8, 4096, &n);
            if (got == 0) {
                std::this_thread::yield();
                continue;
            }
            Bytes all = joined(spans, n), want;
            for (uint32_t i = 0; i < got; ++i) {
                const Bytes b = body(expect + i);
                want.insert(want.end(), b.begin(), b.end());
            }
            if (all != want) {
                ADD_FAILURE() << "batch at record " << expect;
                failed = true;
                break;
            }
            for (uint32_t i = 0; i < got; ++i) ring.pop();
            expect += got;
        } else {
            uint32_t len = 0;
            const void* p = ring.front_wait_for(&len, 1000);
            if (!p) continue;
            const auto* c = static_cast<const uint8_t*>(p);
            if (Bytes(c, c + len) != body(expect)) {
                ADD_FAILURE() << "record " << expect;
                failed = true;
                break;
            }
            ring.pop();
            ++expect;
        }
    }
    producer.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(count, expect);
    EXPECT_TRUE(ring.empty());
}

}  // namespace

TEST(SpscRingModel, TwoThreadsGrowingRing) { run_two_threads(1024, 4, 1 << 20, 600, 200000, false); }

TEST(SpscRingModel, TwoThreadsGatheringReader) { run_two_threads(512, 2, 1 << 16, 300, 200000, true); }

// Growth factor 1: segments keep being added and their slots reused.
TEST(SpscRingModel, TwoThreadsManySegments) { run_two_threads(64, 1, 64, 40, 100000, false); }

TEST(SpscRingSemaphore, CountAtItsMaximumIsNotAnError) {
    Semaphore sem(SEM_VALUE_MAX);
    EXPECT_TRUE(sem.post());
    EXPECT_EQ(SEM_VALUE_MAX, sem.value());
    EXPECT_TRUE(sem.wait());
    EXPECT_TRUE(sem.wait_for(0));
}

TEST(SpscRingSemaphore, WaitingReads) {
    SpscRingBuffer ring(64, 4, 256);
    uint32_t len = 5;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, ring.front_wait_for(&len, 20000));
    EXPECT_EQ(0u, len);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(19));

    std::thread producer([&] { push(ring, record(12, 4)); });
    const void* p = ring.front_wait(&len);
    producer.join();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(record(12, 4), Bytes(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + len));
}

// A push wakes a waiting reader only when one is registered: each record is pushed while the
// reader is (most likely) about to sleep or asleep, and a lost wake-up would leave it waiting
// out its whole timeout.
TEST(SpscRingSemaphore, WaitingReaderMissesNoWakeUp) {
    SpscRingBuffer ring(1024, 4, 1 << 20);
    constexpr uint32_t kRecords = 20000;
    std::atomic<uint32_t> taken{0};
    std::atomic<bool> stuck{false};
    std::thread producer([&] {
        for (uint32_t i = 0; i < kRecords && !stuck.load(); ++i) {
            push(ring, record(8 + i % 40, static_cast<uint8_t>(i)));
            // the next record only once this one is taken, so the reader waits for every one
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (taken.load(std::memory_order_acquire) <= i && std::chrono::steady_clock::now() < deadline) {
                if (i % 3 == 0) std::this_thread::yield();
            }
        }
    });
    uint32_t got = 0;
    for (; got < kRecords; ++got) {
        uint32_t len = 0;
        const void* p = ring.front_wait_for(&len, 5000000);
        if (!p) break;
        const auto* c = static_cast<const uint8_t*>(p);
        if (Bytes(c, c + len) != record(8 + got % 40, static_cast<uint8_t>(got))) break;
        ring.pop();
        taken.store(got + 1, std::memory_order_release);
    }
    stuck.store(got < kRecords);
    producer.join();
    EXPECT_EQ(kRecords, got);
    EXPECT_TRUE(ring.empty());
}
