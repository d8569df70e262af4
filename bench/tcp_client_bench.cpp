// The framed client on loopback against the POSIX test peer, each figure next to a raw-socket
// baseline measured in the same run:
//  - round trip request_async -> answer callback, p50/p99, against a blocking-socket
//    ping-pong of the same frame with the same peer;
//  - the caller's cost of request_async, p50/p99, one and four calling threads, against one
//    raw send() of the same bytes on a connected loopback socket;
//  - a burst of 100,000 frames: frames per second on the wire and send system calls per frame.
// System calls are counted by wrapping the send family in this program (no strace): only those
// made on the socket of interest count.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "infra/tcp_framework/client/TcpClient.h"
#include "support/FrameTestServer.h"

// ---------------------------------------------------------------------------------------------
// Counting the send family per descriptor.

namespace {
constexpr int kMaxFd = 4096;
std::atomic<uint64_t> g_send_calls[kMaxFd];

inline void count_fd(int fd) {
    if (fd >= 0 && fd < kMaxFd) g_send_calls[fd].fetch_add(1, std::memory_order_relaxed);
}
template <typename F>
F real_fn(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" {
ssize_t send(int fd, const void* buf, size_t n, int flags) {
    static auto real = real_fn<ssize_t (*)(int, const void*, size_t, int)>("send");
    count_fd(fd);
    return real(fd, buf, n, flags);
}
ssize_t sendmsg(int fd, const struct msghdr* msg, int flags) {
    static auto real = real_fn<ssize_t (*)(int, const struct msghdr*, int)>("sendmsg");
    count_fd(fd);
    return real(fd, msg, flags);
}
ssize_t sendto(int fd, const void* buf, size_t n, int flags, const struct sockaddr* a, socklen_t al) {
    static auto real = real_fn<ssize_t (*)(int, const void*, size_t, int, const struct sockaddr*, socklen_t)>("sendto");
    count_fd(fd);
    return real(fd, buf, n, flags, a, al);
}
ssize_t write(int fd, const void* buf, size_t n) {
    static auto real = real_fn<ssize_t (*)(int, const void*, size_t)>("write");
    count_fd(fd);
    return real(fd, buf, n);
}
ssize_t writev(int fd, const struct iovec* iov, int cnt) {
    static auto real = real_fn<ssize_t (*)(int, const struct iovec*, int)>("writev");
    count_fd(fd);
    return real(fd, iov, cnt);
}
}

namespace {

using namespace oxa_test;
using tcp_framework::client::TcpClient;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kBody = 64;  // a typical order request
constexpr uint32_t kFrame = kBody + 34;

// The descriptor whose local port is `port` among those that sent anything (-1: none).
int fd_of_local_port(uint16_t port) {
    for (int fd = 0; fd < kMaxFd; ++fd) {
        if (g_send_calls[fd].load() == 0) continue;
        sockaddr_storage ss{};
        socklen_t sl = sizeof ss;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &sl) != 0 || ss.ss_family != AF_INET) continue;
        if (ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port) == port) return fd;
    }
    return -1;
}

struct Percentiles {
    double p50 = 0, p99 = 0;
};
Percentiles percentiles(std::vector<int64_t>& ns) {
    Percentiles p;
    if (ns.empty()) return p;
    std::sort(ns.begin(), ns.end());
    p.p50 = static_cast<double>(ns[ns.size() / 2]);
    p.p99 = static_cast<double>(ns[std::min(ns.size() - 1, ns.size() * 99 / 100)]);
    return p;
}
int64_t since(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
}

int raw_connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}
bool recv_all(int fd, uint8_t* p, size_t n) {
    while (n) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

FrameTestServer& echo_peer() {
    static FrameTestServer* s = [] {
        FrameTestServer::Options o;
        o.echo_requests = true;
        o.answer_heartbeats = true;
        o.keep_frames = false;
        return new FrameTestServer(o);
    }();
    return *s;
}
FrameTestServer& sink_peer() {
    static FrameTestServer* s = [] {
        FrameTestServer::Options o;
        o.keep_frames = false;
        o.keep_bodies = false;
        return new FrameTestServer(o);
    }();
    return *s;
}

std::shared_ptr<TcpClient> new_client() {
    auto c = std::make_shared<TcpClient>(0, nullptr);
    c->set_heartbeat_interval(0);
    return c;
}

// Baselines of this run, filled by the raw benchmarks, which are registered first.
Percentiles g_raw_rtt, g_raw_send;
double g_raw_burst_fps = 0;

// ---------------------------------------------------------------------------------------------
// Round trip

constexpr int kRttSamples = 20000;

void BM_RawPingPong(benchmark::State& state) {
    const int fd = raw_connect(echo_peer().port());
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<uint8_t> body(kBody, 0x42);
    const auto req = encode_frame(kFrameRequest, 0x20001, 1, body.data(), kBody, 1);
    std::vector<uint8_t> answer(kFrame);
    std::vector<int64_t> ns;
    ns.reserve(kRttSamples);
    for (auto _ : state) {
        for (int i = 0; i < kRttSamples; ++i) {
            const auto t0 = Clock::now();
            if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size()) ||
                !recv_all(fd, answer.data(), answer.size())) {
                state.SkipWithError("raw ping-pong failed");
                break;
            }
            ns.push_back(since(t0));
        }
    }
    ::close(fd);
    g_raw_rtt = percentiles(ns);
    state.counters["p50_ns"] = g_raw_rtt.p50;
    state.counters["p99_ns"] = g_raw_rtt.p99;
}

void BM_ClientRoundTrip(benchmark::State& state) {
    auto client = new_client();
    std::atomic<uint64_t> answered{0};
    client->set_response_async_callback(
        [&](std::shared_ptr<TcpClient>, unsigned int, unsigned long id, const unsigned char*, unsigned int) {
            answered.store(id, std::memory_order_release);
            return 0;
        });
    if (client->connect(echo_peer().url()) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<uint8_t> body(kBody, 0x42);
    std::vector<int64_t> ns;
    ns.reserve(kRttSamples);
    for (auto _ : state) {
        for (int i = 1; i <= kRttSamples; ++i) {
            const auto t0 = Clock::now();
            if (client->request_async(0x20001, static_cast<uint64_t>(i), body.data(), kBody) != 0) {
                state.SkipWithError("request_async failed");
                break;
            }
            const auto deadline = t0 + std::chrono::seconds(5);
            while (answered.load(std::memory_order_acquire) != static_cast<uint64_t>(i)) {
                if (Clock::now() > deadline) break;
            }
            ns.push_back(since(t0));
        }
    }
    client->stop();
    const auto p = percentiles(ns);
    state.counters["p50_ns"] = p.p50;
    state.counters["p99_ns"] = p.p99;
    if (g_raw_rtt.p50 > 0) {
        state.counters["p50_vs_raw"] = p.p50 / g_raw_rtt.p50;
        state.counters["p99_vs_raw"] = p.p99 / g_raw_rtt.p99;
    }
}

// ---------------------------------------------------------------------------------------------
// The caller's cost

constexpr int kCostCalls = 50000;

void BM_RawSend(benchmark::State& state) {
    const int fd = raw_connect(sink_peer().port());
    std::vector<uint8_t> body(kBody, 0x42);
    const auto req = encode_frame(kFrameRequest, 0x20001, 1, body.data(), kBody, 1);
    std::vector<int64_t> ns;
    ns.reserve(kCostCalls);
    for (auto _ : state) {
        for (int i = 0; i < kCostCalls; ++i) {
            const auto t0 = Clock::now();
            const ssize_t r = ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
            ns.push_back(since(t0));
            if (r != static_cast<ssize_t>(req.size())) {
                state.SkipWithError("raw send failed");
                break;
            }
        }
    }
    ::close(fd);
    g_raw_send = percentiles(ns);
    state.counters["p50_ns"] = g_raw_send.p50;
    state.counters["p99_ns"] = g_raw_send.p99;
}

void BM_RequestAsyncCost(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    auto client = new_client();
    if (client->connect(sink_peer().url()) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<std::vector<int64_t>> per(static_cast<size_t>(threads));
    std::atomic<int> failures{0};
    for (auto _ : state) {
        std::atomic<int> ready{0};
        std::vector<std::thread> ts;
        for (int t = 0; t < threads; ++t) {
            ts.emplace_back([&, t] {
                std::vector<uint8_t> body(kBody, static_cast<uint8_t>(t));
                auto& ns = per[static_cast<size_t>(t)];
                ns.reserve(kCostCalls);
                ready++;
                while (ready.load() < threads) {
                }
                for (int i = 0; i < kCostCalls; ++i) {
                    const auto t0 = Clock::now();
                    const int rc = client->request_async(0x20001, (static_cast<uint64_t>(t) << 32) | i, body.data(),
                                                         kBody);
                    ns.push_back(since(t0));
                    if (rc != 0) failures++;
                }
            });
        }
        for (auto& t : ts) t.join();
    }
    const size_t expect = static_cast<size_t>(threads) * kCostCalls;
    sink_peer().wait_for([&] { return sink_peer().frame_count(kFrameRequest) >= expect; }, std::chrono::seconds(30));
    client->stop();
    sink_peer().wait_for([&] { return sink_peer().open_connections() == 0; }, std::chrono::seconds(5));
    if (failures.load()) state.SkipWithError("request_async failed");
    std::vector<int64_t> all;
    for (auto& v : per) all.insert(all.end(), v.begin(), v.end());
    const auto p = percentiles(all);
    state.counters["p50_ns"] = p.p50;
    state.counters["p99_ns"] = p.p99;
    if (g_raw_send.p50 > 0) {
        state.counters["p50_vs_raw_send"] = p.p50 / g_raw_send.p50;
        state.counters["p99_vs_raw_send"] = p.p99 / g_raw_send.p99;
    }
}

// ---------------------------------------------------------------------------------------------
// Burst

constexpr size_t kBurst = 100000;

void BM_RawBurst(benchmark::State& state) {
    FrameTestServer& peer = sink_peer();
    std::vector<uint8_t> body(kBody, 0x42);
    const auto req = encode_frame(kFrameRequest, 0x20001, 1, body.data(), kBody, 1);
    double fps = 0;
    for (auto _ : state) {
        const int fd = raw_connect(peer.port());
        const size_t before = peer.frame_count(kFrameRequest);
        const auto t0 = Clock::now();
        for (size_t i = 0; i < kBurst; ++i) ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        peer.wait_for([&] { return peer.frame_count(kFrameRequest) >= before + kBurst; }, std::chrono::seconds(30));
        fps = kBurst / (static_cast<double>(since(t0)) / 1e9);
        ::close(fd);
    }
    g_raw_burst_fps = fps;
    state.counters["frames_per_s"] = fps;
    state.counters["sends_per_frame"] = 1.0;
}

void BM_ClientBurst(benchmark::State& state) {
    FrameTestServer& peer = sink_peer();
    std::vector<uint8_t> body(kBody, 0x42);
    double fps = 0, per_frame = 0;
    for (auto _ : state) {
        auto client = new_client();
        if (client->connect(peer.url()) != 0) {
            state.SkipWithError("connect failed");
            return;
        }
        std::string ip;
        uint16_t port = 0;
        client->get_local_endpoint(ip, port);
        const size_t before = peer.frame_count(kFrameRequest);
        // the connection's own descriptor, found by its port once it has sent something
        client->request_async(0x20001, 0, body.data(), kBody);
        peer.wait_for([&] { return peer.frame_count(kFrameRequest) >= before + 1; }, std::chrono::seconds(5));
        const int fd = fd_of_local_port(port);
        const uint64_t calls0 = fd >= 0 ? g_send_calls[fd].load() : 0;
        const auto t0 = Clock::now();
        for (size_t i = 1; i <= kBurst; ++i) client->request_async(0x20001, i, body.data(), kBody);
        peer.wait_for([&] { return peer.frame_count(kFrameRequest) >= before + 1 + kBurst; },
                      std::chrono::seconds(30));
        fps = kBurst / (static_cast<double>(since(t0)) / 1e9);
        per_frame = fd >= 0 ? static_cast<double>(g_send_calls[fd].load() - calls0) / kBurst : -1;
        client->stop();
    }
    state.counters["frames_per_s"] = fps;
    state.counters["sends_per_frame"] = per_frame;
    if (g_raw_burst_fps > 0) state.counters["fps_vs_raw"] = fps / g_raw_burst_fps;
}

}  // namespace

// Baselines first: the client benchmarks divide by them.
BENCHMARK(BM_RawPingPong)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClientRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSend)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RequestAsyncCost)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawBurst)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClientBurst)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
