// Throughput of TcpSocket: N frames of 128 bytes written through its ring to a loopback peer
// that reads everything, with write gathering on and off, against a blocking send() loop of
// the same frames on a plain connected socket (and a 64-frame sendmsg loop, the most
// gathering can give). Also counted: network write calls per frame and the peer's reads.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <spdlog/logger.h>
#include <spdlog/sinks/null_sink.h>

#include "infra/tcp_framework/client/Package.h"
#include "infra/tcp_framework/client/TcpSocket.h"

// Counts the process's network write calls: asio writes through sendmsg, the baselines
// through send and sendmsg. Defined here, they take the place of the C library's.
namespace {
std::atomic<uint64_t> g_send_calls{0};
}

extern "C" __attribute__((visibility("default"))) ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) {
    g_send_calls.fetch_add(1, std::memory_order_relaxed);
    return static_cast<ssize_t>(syscall(SYS_sendmsg, fd, msg, flags));
}

extern "C" __attribute__((visibility("default"))) ssize_t send(int fd, const void* buf, size_t len, int flags) {
    g_send_calls.fetch_add(1, std::memory_order_relaxed);
    return static_cast<ssize_t>(syscall(SYS_sendto, fd, buf, len, flags, nullptr, 0));
}

namespace {

using namespace tcp_framework::client;

constexpr uint32_t kFrameSize = 128;
constexpr uint32_t kBodySize = kFrameSize - static_cast<uint32_t>(PACKAGE_FRAME_OVERHEAD);
// Frames per timed iteration.
constexpr uint64_t kFrames = 100000;
constexpr auto kPeerTimeout = std::chrono::seconds(30);

// kFrames real request frames, request ids 0 to kFrames - 1, back to back.
const std::vector<uint8_t>& Frames() {
    static const std::vector<uint8_t> frames = [] {
        std::vector<uint8_t> out(kFrames * kFrameSize);
        auto buffer = std::make_unique<PackageBuffer>();
        std::memset(buffer.get(), 0, sizeof(PackageBuffer));
        std::vector<uint8_t> body(kBodySize);
        for (uint32_t i = 0; i < kBodySize; ++i) body[i] = static_cast<uint8_t>(i);
        for (uint64_t i = 0; i < kFrames; ++i) {
            pack_request(*buffer, 0x20001, i, body.data(), kBodySize, 1);
            std::memcpy(out.data() + i * kFrameSize, buffer->data, kFrameSize);
        }
        return out;
    }();
    return frames;
}

uint64_t LoadBe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// Loopback listener whose thread accepts one connection and reads everything, checking that
// the frames arrive whole and in order.
class Peer {
public:
    Peer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 1) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            return;
        }
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Peer() {
        // The client has closed by now; a peer still in accept is woken by the shutdown.
        if (m_listen >= 0) ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_listen >= 0) ::close(m_listen);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    uint16_t port() const { return m_port; }
    uint64_t bytes() const { return m_bytes.load(); }
    uint64_t reads() const { return m_reads.load(); }
    uint64_t bad_frames() const { return m_bad.load(); }

    // True once the peer has read `total` bytes; false when kPeerTimeout passes first.
    bool wait_bytes(uint64_t total) {
        m_target.store(total);
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, kPeerTimeout, [&] { return m_bytes.load() >= total || m_done.load(); }) &&
               m_bytes.load() >= total;
    }

private:
    void run() {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd >= 0) {
            std::vector<uint8_t> buf(256 * 1024);
            for (;;) {
                const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                consume(buf.data(), static_cast<std::size_t>(n));
                m_reads.fetch_add(1, std::memory_order_relaxed);
                const uint64_t total = m_bytes.fetch_add(static_cast<uint64_t>(n)) + static_cast<uint64_t>(n);
                if (total >= m_target.load()) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_cv.notify_all();
                }
            }
            ::close(fd);
        }
        m_done.store(true);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cv.notify_all();
    }

    void consume(const uint8_t* p, std::size_t n) {
        while (n > 0) {
            if (m_fill == 0 && n >= kFrameSize) {
                check(p);
                p += kFrameSize;
                n -= kFrameSize;
                continue;
            }
            const std::size_t k = std::min<std::size_t>(n, kFrameSize - m_fill);
            std::memcpy(m_frame + m_fill, p, k);
            m_fill += k;
            p += k;
            n -= k;
            if (m_fill == kFrameSize) {
                check(m_frame);
                m_fill = 0;
            }
        }
    }

    void check(const uint8_t* f) {
        const bool ok = f[0] == PACKAGE_HEAD_MARK && f[1] == PACKAGE_HEAD_MARK &&
                        f[kFrameSize - 2] == PACKAGE_TAIL_MARK && f[kFrameSize - 1] == PACKAGE_TAIL_MARK &&
                        LoadBe64(f + PACKAGE_OFF_REQUEST_ID) == m_expect;
        if (!ok) m_bad.fetch_add(1, std::memory_order_relaxed);
        m_expect = (m_expect + 1) % kFrames;
    }

    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<uint64_t> m_bytes{0};
    std::atomic<uint64_t> m_reads{0};
    std::atomic<uint64_t> m_bad{0};
    std::atomic<uint64_t> m_target{~uint64_t(0)};
    std::atomic<bool> m_done{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    // peer thread only
    uint8_t m_frame[kFrameSize] = {};
    std::size_t m_fill = 0;
    uint64_t m_expect = 0;
};

// Figures of one run, taken around its timed loop.
struct Tally {
    uint64_t sends_before = g_send_calls.load();
    uint64_t frames = 0;

    void finish(benchmark::State& state, const Peer& peer) {
        const double f = static_cast<double>(frames ? frames : 1);
        state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
        state.counters["writes/frame"] = static_cast<double>(g_send_calls.load() - sends_before) / f;
        state.counters["reads/frame"] = static_cast<double>(peer.reads()) / f;
        if (peer.bad_frames()) state.SkipWithError("the peer received broken or reordered frames");
    }
};

// range(0): gathering on (1) or off (0).
void BM_TcpSocketWrite(benchmark::State& state) {
    const bool gather = state.range(0) != 0;
    const std::vector<uint8_t>& frames = Frames();
    Peer peer;
    if (peer.port() == 0) {
        state.SkipWithError("no loopback listener");
        return;
    }
    asio::io_context io;
    auto work = asio::make_work_guard(io);
    std::thread io_thread([&io] { io.run(); });
    auto logger = std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    auto sock = std::make_shared<TcpSocket>(io, logger);
    sock->set_write_gathering(gather);
    std::error_code ec;
    sock->connect("127.0.0.1", peer.port(), ec);

    Tally tally;
    const char* error = ec ? "connect failed" : nullptr;
    for (auto _ : state) {
        if (error) break;
        for (uint64_t i = 0; i < kFrames; ++i) {
            sock->write(frames.data() + i * kFrameSize, kFrameSize, ec);
            if (ec) {
                error = "write failed";
                break;
            }
        }
        if (error) break;
        tally.frames += kFrames;
        if (!peer.wait_bytes(tally.frames * kFrameSize)) error = "the peer did not receive every frame";
    }
    tally.finish(state, peer);
    if (error) state.SkipWithError(error);

    sock->close(ec);
    work.reset();
    io_thread.join();  // every posted write has run; nothing holds the socket any more
    sock.reset();
}

// Baseline: a connected loopback socket with TCP_NODELAY, as TcpSocket sets it.
int ConnectRaw(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Blocking writes of all `n` bytes; false on an error.
bool SendAll(int fd, const uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// range(0): frames per write call; 1 is the plain send() loop, more go out through one
// sendmsg of that many buffers.
void BM_RawSend(benchmark::State& state) {
    const auto per_write = static_cast<uint64_t>(state.range(0));
    const std::vector<uint8_t>& frames = Frames();
    Peer peer;
    const int fd = peer.port() ? ConnectRaw(peer.port()) : -1;
    if (fd < 0) {
        state.SkipWithError("no loopback connection");
        return;
    }
    std::vector<iovec> iov(per_write);
    Tally tally;
    const char* error = nullptr;
    for (auto _ : state) {
        for (uint64_t i = 0; i < kFrames && !error; i += per_write) {
            const uint64_t count = std::min(per_write, kFrames - i);
            const uint8_t* p = frames.data() + i * kFrameSize;
            if (count == 1) {
                if (!SendAll(fd, p, kFrameSize)) error = "send failed";
                continue;
            }
            for (uint64_t k = 0; k < count; ++k) iov[k] = iovec{const_cast<uint8_t*>(p + k * kFrameSize), kFrameSize};
            msghdr msg{};
            msg.msg_iov = iov.data();
            msg.msg_iovlen = count;
            const ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
            if (sent < 0) {
                error = "sendmsg failed";
            } else if (static_cast<uint64_t>(sent) < count * kFrameSize &&
                       !SendAll(fd, p + sent, count * kFrameSize - static_cast<uint64_t>(sent))) {
                error = "send failed";
            }
        }
        if (error) break;
        tally.frames += kFrames;
        if (!peer.wait_bytes(tally.frames * kFrameSize)) error = "the peer did not receive every frame";
    }
    tally.finish(state, peer);
    if (error) state.SkipWithError(error);
    ::close(fd);
}

BENCHMARK(BM_RawSend)->ArgName("frames_per_write")->Arg(1)->Arg(64)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpSocketWrite)->ArgName("gather")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps ns per iteration and the counters of every benchmark: the median when repetitions
// give one, else the last run, so that main can print the ratios against the baseline.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Figure {
        double ns = 0;
        std::map<std::string, double> counters;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            Figure f;
            f.ns = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            for (const auto& c : run.counters) f.counters[c.first] = c.second.value;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") median_[run.run_name.str()] = f;
            } else if (run.iterations > 0) {
                last_[run.run_name.str()] = f;
            }
        }
    }
    const Figure* find(const std::string& name) const {
        auto it = median_.find(name);
        if (it != median_.end()) return &it->second;
        it = last_.find(name);
        return it != last_.end() ? &it->second : nullptr;
    }

private:
    std::map<std::string, Figure> median_;
    std::map<std::string, Figure> last_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%llu frames of %u bytes to a loopback peer (medians when repeated), ratio to the send() loop:\n",
                static_cast<unsigned long long>(kFrames), kFrameSize);
    const RatioReporter::Figure* base = reporter.find("BM_RawSend/frames_per_write:1/real_time");
    const struct {
        const char* what;
        const char* name;
    } rows[] = {
        {"send() loop, 1 frame/call", "BM_RawSend/frames_per_write:1/real_time"},
        {"sendmsg loop, 64 frames/call", "BM_RawSend/frames_per_write:64/real_time"},
        {"TcpSocket, gathering off", "BM_TcpSocketWrite/gather:0/real_time"},
        {"TcpSocket, gathering on", "BM_TcpSocketWrite/gather:1/real_time"},
    };
    for (const auto& row : rows) {
        const RatioReporter::Figure* f = reporter.find(row.name);
        if (!f || f->ns <= 0) continue;
        const double rate = kFrames / (f->ns * 1e-9);
        std::printf("  %-30s %10.3g frames/s", row.what, rate);
        if (base && base->ns > 0) std::printf("  = %5.2fx", base->ns / f->ns);
        auto w = f->counters.find("writes/frame");
        auto r = f->counters.find("reads/frame");
        if (w != f->counters.end()) std::printf("   writes/frame %.4f", w->second);
        if (r != f->counters.end()) std::printf("   peer reads/frame %.4f", r->second);
        std::printf("\n");
    }
    benchmark::Shutdown();
    return 0;
}
