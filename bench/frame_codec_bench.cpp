// Cost of building a frame: pack_request (header, CRC, body copy, tail) for bodies of 0, 128
// and 1,024 bytes against a plain memcpy of the whole frame, pack_heartbeat against a memcpy
// of its 34 bytes, and calc_crc32 against zlib's crc32 on a header's 28 bytes and on 4 KiB,
// all measured in the same run.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "infra/tcp_framework/client/Package.h"

namespace {

using namespace tcp_framework::client;

constexpr uint32_t kMessageId = 0x20001;
constexpr uint32_t kFrameOverhead = static_cast<uint32_t>(PACKAGE_FRAME_OVERHEAD);

// Random bytes at a 64-byte aligned address, so that a copy's cost does not depend on where
// the allocator happened to put them.
class Bytes {
public:
    Bytes(std::size_t n, uint32_t seed) : m_storage(n + 64), m_size(n) {
        void* p = m_storage.data();
        std::size_t space = m_storage.size();
        m_data = static_cast<uint8_t*>(std::align(64, n ? n : 1, p, space));
        std::mt19937 gen(seed);
        for (std::size_t i = 0; i < n; ++i) m_data[i] = static_cast<uint8_t>(gen());
    }
    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    std::vector<uint8_t> m_storage;
    std::size_t m_size;
    uint8_t* m_data = nullptr;
};

// The package buffer is 2 MiB: one per run, zeroed as a connection's is.
std::unique_ptr<PackageBuffer> FreshBuffer() {
    auto buffer = std::make_unique<PackageBuffer>();
    std::memset(buffer.get(), 0, sizeof(PackageBuffer));
    return buffer;
}

// range(0): body length.
void BM_PackRequest(benchmark::State& state) {
    const auto length = static_cast<uint32_t>(state.range(0));
    auto buffer = FreshBuffer();
    const Bytes body(length, 1);
    uint64_t request_id = 0;
    int failed = 0;
    for (auto _ : state) {
        const int rc = pack_request(*buffer, kMessageId, ++request_id, body.data(), length, 1);
        failed |= rc;
        benchmark::DoNotOptimize(buffer->data);
        benchmark::ClobberMemory();
    }
    if (failed) state.SkipWithError("pack_request refused its arguments");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (length + kFrameOverhead));
}

void BM_PackHeartbeat(benchmark::State& state) {
    auto buffer = FreshBuffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pack_heartbeat(*buffer));
        benchmark::DoNotOptimize(buffer->data);
        benchmark::ClobberMemory();
    }
}

// Baseline: memcpy of a frame as long as the one a body of range(0) bytes makes. The length
// is only known at run time, as the packer's body copy is.
void BM_MemcpyFrame(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0)) + kFrameOverhead;
    const Bytes src(n, 2);
    Bytes dst(n, 4);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(n) + " B frame");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_CalcCrc32(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Bytes data(n, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        benchmark::DoNotOptimize(calc_crc32(data.data(), n));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_ZlibCrc32(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const Bytes data(n, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(n)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

BENCHMARK(BM_PackRequest)->ArgName("body")->Arg(0)->Arg(128)->Arg(1024);
BENCHMARK(BM_MemcpyFrame)->ArgName("body")->Arg(0)->Arg(128)->Arg(1024);
BENCHMARK(BM_PackHeartbeat);
BENCHMARK(BM_CalcCrc32)->ArgName("bytes")->Arg(28)->Arg(4096);
BENCHMARK(BM_ZlibCrc32)->ArgName("bytes")->Arg(28)->Arg(4096);

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

void PrintRatio(const RatioReporter& r, const std::string& what, const std::string& name,
                const std::string& base_what, const std::string& base, double goal) {
    const double t = r.ns(name);
    const double b = r.ns(base);
    if (t <= 0 || b <= 0) return;
    const double ratio = t / b;
    std::printf("  %-26s %9.2f ns   %-22s %9.2f ns   = %5.2fx", what.c_str(), t, base_what.c_str(), b, ratio);
    if (goal > 0) std::printf("   goal <= %.0fx: %s", goal, ratio <= goal ? "met" : "MISSED");
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nns per frame (medians when repeated), ratio to a memcpy of the same frame:\n");
    for (int body : {0, 128, 1024}) {
        const std::string arg = "/body:" + std::to_string(body);
        PrintRatio(reporter, "pack_request body " + std::to_string(body), "BM_PackRequest" + arg,
                   "memcpy " + std::to_string(body + kFrameOverhead) + " B", "BM_MemcpyFrame" + arg,
                   body == 128 ? 4.0 : 0.0);
    }
    PrintRatio(reporter, "pack_heartbeat", "BM_PackHeartbeat", "memcpy 34 B", "BM_MemcpyFrame/body:0", 0.0);

    std::printf("\nns per call, calc_crc32 against zlib crc32 on the same bytes:\n");
    for (int bytes : {28, 4096}) {
        const std::string arg = "/bytes:" + std::to_string(bytes);
        PrintRatio(reporter, "calc_crc32 " + std::to_string(bytes) + " B", "BM_CalcCrc32" + arg,
                   "zlib crc32", "BM_ZlibCrc32" + arg, bytes == 28 ? 1.0 : 0.0);
    }
    benchmark::Shutdown();
    return 0;
}
