// Cost of the request gate (CheckSpeed) and of taking an order id (NextOrderId), one thread
// and four threads on one session, against a bare fetch_add on one atomic in the same run.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>

#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "api/SpeedControl.h"

namespace {

using namespace OXA::API;

constexpr uint64_t kLimitedSession = 0x110001;
constexpr uint64_t kUnlimitedSession = 0x110002;
constexpr uint64_t kIdSession = 0x110003;

// The real clocks at ten units per millisecond: a window of 1000 units lasts 100 ms, so
// even the fastest loop here stays below the 16,777,215 requests a window can count and
// every call takes the allowed path, as it does for an application that keeps to its
// limits (the "refused" column shows it). Near each window's end the exact clock is read:
// at this scale for 5% of the calls, ten times the share of a real 1000 ms window.
constexpr uint64_t kScale = 10;
uint64_t ReadScaled(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return (static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u) * kScale;
}
uint64_t ScaledNow() { return ReadScaled(CLOCK_MONOTONIC); }
uint64_t ScaledCheap() { return ReadScaled(CLOCK_MONOTONIC_COARSE); }

CSpeedControl* g_speed = nullptr;
CIdGenerator* g_ids = nullptr;
std::atomic<uint64_t> g_bare{0};

void SetUp() {
    const SpeedClock& real = DefaultSpeedClock();
    static CSpeedControl speed(SpeedClock{&ScaledNow, &ScaledCheap, static_cast<uint32_t>(real.lag_ms * kScale)});
    speed.SetSpeedControl(kLimitedSession, SpeedControlCfg{0, 1000, STFundSpContral::kMaxCountPerWindow});
    speed.SetSpeedControl(kUnlimitedSession, SpeedControlCfg{0, 1000, 0});
    g_speed = &speed;
    static CIdGenerator ids(7);
    ids.InitOrderId(kIdSession, 0);
    g_ids = &ids;
}

void BM_BareFetchAdd(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_bare.fetch_add(1, std::memory_order_acq_rel));
}

void BM_CheckSpeed(benchmark::State& state) {
    uint64_t refused = 0;
    for (auto _ : state) {
        const bool ok = g_speed->CheckSpeed(kLimitedSession, 0);
        benchmark::DoNotOptimize(ok);
        refused += !ok;
    }
    state.counters["refused"] = benchmark::Counter(static_cast<double>(refused), benchmark::Counter::kAvgThreads);
}

void BM_CheckSpeedUnlimited(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_speed->CheckSpeed(kUnlimitedSession, 0));
}

void BM_NextOrderId(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(g_ids->NextOrderId(kIdSession));
}

BENCHMARK(BM_BareFetchAdd)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_CheckSpeed)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_CheckSpeedUnlimited)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_NextOrderId)->Threads(1)->Threads(4)->UseRealTime();

// Keeps ns per call of every run so that main can print them against the baseline.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            ns_per_call[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> ns_per_call;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SetUp();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nns per call and ratio to a bare fetch_add with the same number of threads:\n");
    for (const char* threads : {"1", "4"}) {
        const std::string suffix = std::string("/real_time/threads:") + threads;
        auto base = reporter.ns_per_call.find("BM_BareFetchAdd" + suffix);
        if (base == reporter.ns_per_call.end() || base->second <= 0) continue;
        std::printf("  threads %s: BM_BareFetchAdd %.2f ns\n", threads, base->second);
        for (const char* name : {"BM_CheckSpeed", "BM_CheckSpeedUnlimited", "BM_NextOrderId"}) {
            auto it = reporter.ns_per_call.find(name + suffix);
            if (it == reporter.ns_per_call.end()) continue;
            std::printf("  threads %s: %-22s %.2f ns  = %.2fx\n", threads, name, it->second,
                        it->second / base->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
