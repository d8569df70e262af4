// Cost of the send ring. One thread: push + front + pop of a 128-byte record against a
// memcpy of the record (and a mutex-guarded std::deque for scale). Two threads: records per
// second from a producer thread to a consumer thread, the ring against a mutex-guarded
// std::deque of the same records, both measured in the same run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "infra/tcp_framework/client/TcpSocket.h"
#include "infra/tcp_framework/utility/SpscRingBuffer.h"

namespace {

using tcp_framework::client::TcpSocket;
using tcp_framework::utility::SpscRingBuffer;

constexpr uint32_t kRecordSize = 128;
using Record = std::array<uint8_t, kRecordSize>;

// Records per timed iteration of the two-thread runs.
constexpr uint64_t kBatch = 100000;

// The ring as TcpSocket makes it.
std::unique_ptr<SpscRingBuffer> SocketRing() {
    return std::make_unique<SpscRingBuffer>(TcpSocket::RING_INIT_SIZE, TcpSocket::RING_GROWTH_FACTOR,
                                            TcpSocket::RING_MAX_SIZE);
}

Record MakeRecord() {
    Record r{};
    for (uint32_t i = 0; i < kRecordSize; ++i) r[i] = static_cast<uint8_t>(i * 7 + 1);
    return r;
}

// Minor page faults of the process so far: a queue that keeps taking fresh memory pays them.
uint64_t MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_minflt);
}

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void BM_RingPushFrontPop(benchmark::State& state) {
    auto ring = SocketRing();
    alignas(64) const Record rec = MakeRecord();
    uint64_t wrong = 0;
    for (auto _ : state) {
        if (!ring->push(rec.data(), kRecordSize)) {
            state.SkipWithError("push refused");
            break;
        }
        uint32_t length = 0;
        const void* p = ring->front(&length);
        benchmark::DoNotOptimize(p);
        wrong += length != kRecordSize;
        ring->pop();
    }
    if (wrong) state.SkipWithError("front gave a wrong length");
}

// Baseline: one copy of the record, the least any queue of records has to do.
void BM_MemcpyRecord(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    // aligned to a cache line, the cheapest case of the copy
    alignas(64) const Record src = MakeRecord();
    alignas(64) Record dst{};
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

// The queue one would write without a lock-free ring.
class LockedDeque {
public:
    bool push(const Record& r) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(r);
        return true;
    }
    // Copies the oldest record's first 8 bytes out and drops it.
    bool take(uint64_t* head) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty()) return false;
        std::memcpy(head, m_queue.front().data(), sizeof *head);
        m_queue.pop_front();
        return true;
    }

private:
    std::mutex m_mutex;
    std::deque<Record> m_queue;
};

void BM_DequePushPop(benchmark::State& state) {
    LockedDeque q;
    alignas(64) const Record rec = MakeRecord();
    for (auto _ : state) {
        q.push(rec);
        uint64_t head = 0;
        benchmark::DoNotOptimize(q.take(&head));
        benchmark::DoNotOptimize(head);
    }
}

// The ring behind the same two calls as LockedDeque.
class RingQueue {
public:
    RingQueue() : m_ring(SocketRing()) {}
    bool push(const Record& r) { return m_ring->push(r.data(), kRecordSize); }
    bool take(uint64_t* head) {
        uint32_t length = 0;
        const void* p = m_ring->front(&length);
        if (p == nullptr) return false;
        std::memcpy(head, p, sizeof *head);
        m_ring->pop();
        return true;
    }

private:
    std::unique_ptr<SpscRingBuffer> m_ring;
};

// The benchmark thread produces kBatch records per iteration, each carrying its sequence
// number; a consumer thread takes them and checks their order. An iteration ends when the
// consumer has taken its last record.
template <typename Queue>
void RunTwoThreads(benchmark::State& state) {
    Queue q;
    std::atomic<uint64_t> taken{0};
    std::atomic<bool> stop{false};
    uint64_t out_of_order = 0;
    std::thread consumer([&] {
        uint64_t expect = 0;
        uint64_t bad = 0;
        for (;;) {
            uint64_t seq = 0;
            if (q.take(&seq)) {
                bad += seq != expect;
                taken.store(++expect, std::memory_order_release);
            } else if (stop.load(std::memory_order_acquire)) {
                break;
            } else {
                CpuRelax();
            }
        }
        out_of_order = bad;
    });

    Record rec = MakeRecord();
    const uint64_t faults_before = MinorFaults();
    uint64_t sent = 0;
    bool failed = false;
    for (auto _ : state) {
        for (uint64_t i = 0; i < kBatch; ++i) {
            std::memcpy(rec.data(), &sent, sizeof sent);
            if (!q.push(rec)) {
                failed = true;
                break;
            }
            ++sent;
        }
        if (failed) break;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (taken.load(std::memory_order_acquire) < sent) {
            if (std::chrono::steady_clock::now() > deadline) {
                failed = true;
                break;
            }
            CpuRelax();
        }
        if (failed) break;
    }
    const uint64_t faults = MinorFaults() - faults_before;
    stop.store(true, std::memory_order_release);
    consumer.join();
    if (failed) {
        state.SkipWithError("push refused or the consumer stalled");
        return;
    }
    if (out_of_order) state.SkipWithError("records came out of order");
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    state.counters["faults/batch"] = static_cast<double>(faults) * kBatch / static_cast<double>(sent ? sent : 1);
}

void BM_RingTwoThreads(benchmark::State& state) { RunTwoThreads<RingQueue>(state); }
void BM_DequeTwoThreads(benchmark::State& state) { RunTwoThreads<LockedDeque>(state); }

BENCHMARK(BM_RingPushFrontPop);
BENCHMARK(BM_MemcpyRecord)->Arg(kRecordSize);
BENCHMARK(BM_DequePushPop);
BENCHMARK(BM_RingTwoThreads)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DequeTwoThreads)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Keeps ns per iteration of every benchmark: the median when repetitions give one, else the
// last run, so that main can print the ratios against the baselines.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const double ns = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") median_[run.run_name.str()] = ns;
            } else if (run.iterations > 0) {
                last_[run.run_name.str()] = ns;
            }
        }
    }
    // 0 when the benchmark did not run.
    double ns(const std::string& name) const {
        auto it = median_.find(name);
        if (it != median_.end()) return it->second;
        it = last_.find(name);
        return it != last_.end() ? it->second : 0.0;
    }

private:
    std::map<std::string, double> median_;
    std::map<std::string, double> last_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\none thread, ns per 128-byte record (medians when repeated):\n");
    const double base = reporter.ns("BM_MemcpyRecord/128");
    for (const char* name : {"BM_RingPushFrontPop", "BM_DequePushPop"}) {
        const double t = reporter.ns(name);
        if (t <= 0 || base <= 0) continue;
        std::printf("  %-22s %8.2f ns   memcpy 128 B %6.2f ns   = %5.2fx", name, t, base, t / base);
        if (std::string(name) == "BM_RingPushFrontPop") std::printf("   goal <= 4x: %s", t / base <= 4.0 ? "met" : "MISSED");
        std::printf("\n");
    }

    std::printf("\ntwo threads, records/s from producer to consumer (medians when repeated):\n");
    const double ring = reporter.ns("BM_RingTwoThreads/real_time");
    const double deque = reporter.ns("BM_DequeTwoThreads/real_time");
    if (ring > 0 && deque > 0) {
        const double ring_rate = kBatch / (ring * 1e-9);
        const double deque_rate = kBatch / (deque * 1e-9);
        std::printf("  ring %.3g records/s   mutex+deque %.3g records/s   = %.2fx the deque\n", ring_rate,
                    deque_rate, ring_rate / deque_rate);
    }
    benchmark::Shutdown();
    return 0;
}
