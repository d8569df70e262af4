// The bus between two members on 127.0.0.1 (a server member sending to a client member), with
// windows of 4096 and 2048 slots and payloads of 64, 512 and 1371 bytes, against a raw UDP
// ping-pong of the same payload in the same run:
//   - delivered messages per second, the sender as fast as its window lets it;
//   - one-way latency (send call to deliver callback) p50/p99 at 10k and 100k messages per
//     second, and its ratio to the raw one-way (half the raw round trip);
//   - recovery of a mid-stream gap (first sending of a message lost): from the sending of
//     the message after it (the first moment the gap can be seen) to the lost one's delivery,
//     against a raw one-way plus a raw round trip plus one handler cycle;
//   - with 1% of every datagram lost both ways, every message delivered once, in order.
// Unpinned threads throughout (the library's default).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornThreads.h"
#include "support/BusLive.h"
#include "support/BusSendFaults.h"
#include "support/FakeCoordinator.h"

namespace {

using namespace oxa_test;
using OXA::VORN::MonotonicNs;

constexpr int16_t kToClient = 0x200;

int64_t Percentile(std::vector<int64_t> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

// ---- the raw baseline ------------------------------------------------------------------

struct RawPingPong {
    int64_t rtt_p50 = 0;
    int64_t rtt_p99 = 0;
};

RawPingPong RawBaseline(std::size_t payload, int rounds) {
    const int a = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int b = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{}, sb{};
    sa.sin_family = sb.sin_family = AF_INET;
    sa.sin_addr.s_addr = sb.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(a, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::bind(b, reinterpret_cast<sockaddr*>(&sb), sizeof sb);
    socklen_t len = sizeof sa;
    ::getsockname(a, reinterpret_cast<sockaddr*>(&sa), &len);
    len = sizeof sb;
    ::getsockname(b, reinterpret_cast<sockaddr*>(&sb), &len);
    std::thread echo([&] {
        std::vector<uint8_t> buf(2048);
        for (int i = 0; i < rounds; ++i) {
            const ssize_t n = ::recv(b, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            ::sendto(b, buf.data(), static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        }
    });
    std::vector<uint8_t> msg(payload, 0x5a), in(2048);
    std::vector<int64_t> rtt;
    rtt.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        const int64_t t0 = MonotonicNs();
        ::sendto(a, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&sb), sizeof sb);
        if (::recv(a, in.data(), in.size(), 0) <= 0) break;
        rtt.push_back(MonotonicNs() - t0);
    }
    echo.join();
    ::close(a);
    ::close(b);
    RawPingPong r;
    r.rtt_p50 = Percentile(rtt, 0.50);
    r.rtt_p99 = Percentile(rtt, 0.99);
    return r;
}

// One-way latency of raw datagrams sent at a rate (a paced sender, a blocking receiver), the
// baseline at the same offered load: an idle receiver pays the same wake-up as the bus's.
int64_t RawOneWayP(std::size_t payload, double rate, std::size_t n, double p) {
    const int a = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int b = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sb{};
    sb.sin_family = AF_INET;
    sb.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(b, reinterpret_cast<sockaddr*>(&sb), sizeof sb);
    socklen_t len = sizeof sb;
    ::getsockname(b, reinterpret_cast<sockaddr*>(&sb), &len);
    int big = 16 << 20;
    ::setsockopt(b, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    std::vector<int64_t> lat;
    lat.reserve(n);
    std::thread rx([&] {
        std::vector<uint8_t> buf(2048);
        for (std::size_t i = 0; i < n; ++i) {
            if (::recv(b, buf.data(), buf.size(), 0) < 16) break;
            int64_t sent = 0;
            std::memcpy(&sent, buf.data() + 8, 8);
            lat.push_back(MonotonicNs() - sent);
        }
    });
    std::vector<uint8_t> msg(std::max<std::size_t>(payload, 16), 0x5a);
    const int64_t start = MonotonicNs();
    const double interval = 1e9 / rate;
    for (std::size_t i = 0; i < n; ++i) {
        const int64_t due = start + static_cast<int64_t>(interval * static_cast<double>(i));
        while (MonotonicNs() < due) OXA::VORN::CpuRelax();
        const int64_t now = MonotonicNs();
        std::memcpy(msg.data() + 8, &now, 8);
        ::sendto(a, msg.data(), payload, 0, reinterpret_cast<sockaddr*>(&sb), sizeof sb);
    }
    ::shutdown(b, SHUT_RDWR);
    rx.join();
    ::close(a);
    ::close(b);
    return Percentile(lat, p);
}

// ---- two members -------------------------------------------------------------------------

CoordLayout Layout(int32_t window) {
    const std::vector<uint16_t> ports = FreeUdpPorts(2);
    CoordLayout l;
    std::string error;
    ParseCoordLayout("window " + std::to_string(window) + "\ngroup 10 1 0\ngroup 20 1 1\nmember 10 1 127.0.0.1 " +
                         std::to_string(ports[0]) + "\nmember 20 2 127.0.0.1 " + std::to_string(ports[1]) +
                         "\nmsg 20 0x200\n",
                     l, &error);
    return l;
}

struct Pair {
    // pinned: the receiving member's receiver, deliver and handler threads and the sender's
    // receiver and handler each on a core of its own, busy-polling
    Pair(int32_t window, bool pinned) : coord(Layout(window)) {
        coord.Start();
        LiveOptions o;
        o.record = false;
        o.log_level = 0;  // the bus logs nothing on this road anyway; keep the log quiet
        LiveOptions ob = o;
        if (pinned) {
            using OXA::VORN::VornThread;
            const int n = static_cast<int>(std::thread::hardware_concurrency());
            ob.cores = {{VornThread::kReceiver, 1 % n}, {VornThread::kDeliver, 2 % n}, {VornThread::kHandler, 3 % n}};
            o.cores = {{VornThread::kReceiver, 4 % n}, {VornThread::kHandler, 5 % n}};
        }
        // every delivery: its number, its send time (in the body) and the time now
        b.OnDeliver([this](const LiveDelivery& d) {
            const int64_t now = MonotonicNs();
            uint64_t n = 0;
            int64_t sent = 0;
            if (d.data.size() >= 16) {
                std::memcpy(&n, d.data.data(), 8);
                std::memcpy(&sent, d.data.data() + 8, 8);
            }
            std::lock_guard<std::mutex> lock(mu);
            numbers.push_back(n);
            latencies.push_back(now - sent);
            delivered_at.push_back(now);
        });
        ok = a.Launch(coord, o) && b.Launch(coord, ob);
    }
    void Reset(std::size_t expect) {
        std::lock_guard<std::mutex> lock(mu);
        numbers.clear();
        latencies.clear();
        delivered_at.clear();
        numbers.reserve(expect);
        latencies.reserve(expect);
        delivered_at.reserve(expect);
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mu);
        return numbers.size();
    }
    bool WaitCount(std::size_t n, int seconds) {
        const int64_t deadline = MonotonicNs() + static_cast<int64_t>(seconds) * 1000000000;
        while (Count() < n) {
            if (MonotonicNs() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    // Sends n messages numbered from first; rate 0: as fast as the window lets it. The send
    // times, in order.
    std::vector<int64_t> Send(uint64_t first, std::size_t n, std::size_t payload, double rate, int64_t max_outstanding) {
        std::vector<int64_t> sent_at(n);
        std::vector<uint8_t> body(std::max<std::size_t>(payload, 16), 0x33);
        const int64_t start = MonotonicNs();
        const double interval = rate > 0 ? 1e9 / rate : 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (interval > 0) {
                const int64_t due = start + static_cast<int64_t>(interval * static_cast<double>(i));
                while (MonotonicNs() < due) OXA::VORN::CpuRelax();
            }
            while (Outstanding(a.Sys(), 20, 2) > max_outstanding) OXA::VORN::CpuRelax();
            const uint64_t num = first + i;
            const int64_t now = MonotonicNs();
            std::memcpy(body.data(), &num, 8);
            std::memcpy(body.data() + 8, &now, 8);
            sent_at[i] = now;
            a.Sys().SendMsg(0, kToClient, body.data(), static_cast<uint32_t>(payload), 20, 2, true, 0xFFFF);
        }
        return sent_at;
    }
    bool InOrderOnce(uint64_t first, std::size_t n) {
        std::lock_guard<std::mutex> lock(mu);
        if (numbers.size() != n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (numbers[i] != first + i) return false;
        return true;
    }

    FakeCoordinator coord;
    LiveMember a{10, 1};
    LiveMember b{20, 2};
    bool ok = false;
    std::mutex mu;
    std::vector<uint64_t> numbers;
    std::vector<int64_t> latencies;
    std::vector<int64_t> delivered_at;
};

double Us(int64_t ns) { return static_cast<double>(ns) / 1000.0; }

}  // namespace

int main() {
    const std::size_t payloads[] = {64, 512, 1371};
    const int32_t windows[] = {4096, 2048};
    const int64_t handler_cycle_ns = OXA::VORN::HandlerTiming().wait_ns;
    std::printf("# bus between two members on 127.0.0.1 vs raw UDP ping-pong, same run\n");
    std::printf("# handler cycle %.0f us; latencies in us; one-way raw = raw round trip / 2\n\n",
                Us(handler_cycle_ns));

    RawPingPong raw[3];
    for (int p = 0; p < 3; ++p) raw[p] = RawBaseline(payloads[p], 20000);
    std::printf("%-6s %-8s %12s %12s\n", "W", "payload", "raw rtt p50", "raw rtt p99");
    for (int p = 0; p < 3; ++p)
        std::printf("%-6s %-8zu %12.1f %12.1f\n", "-", payloads[p], Us(raw[p].rtt_p50), Us(raw[p].rtt_p99));
    std::printf("\n");

    // the raw one-way at the offered rates, per payload: p50 and p99
    int64_t raw_rate[3][2][2];
    const double rates[2] = {10000.0, 100000.0};
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < 2; ++r) {
            const std::size_t n = r ? 50000 : 10000;
            raw_rate[p][r][0] = RawOneWayP(payloads[p], rates[r], n, 0.50);
            raw_rate[p][r][1] = RawOneWayP(payloads[p], rates[r], n, 0.99);
        }
    std::printf("%-6s %-8s %-8s %14s %14s\n", "W", "payload", "rate", "raw 1way p50", "raw 1way p99");
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < 2; ++r)
            std::printf("%-6s %-8zu %-8.0f %14.1f %14.1f\n", "-", payloads[p], rates[r], Us(raw_rate[p][r][0]),
                        Us(raw_rate[p][r][1]));
    std::printf("\n");

    std::printf("%-6s %-8s %-8s %12s %10s %10s %12s %12s %14s\n", "W", "payload", "rate", "delivered/s", "p50",
                "p99", "p50/pingpong", "p99/pingpong", "p50/raw@rate");
    struct Run {
        int32_t window;
        bool pinned;
    };
    const Run runs[] = {{windows[0], false}, {windows[1], false}, {windows[0], true}};
    for (const Run& run : runs) {
        const int32_t w = run.window;
        if (run.pinned)
            std::printf("# pinned: the receiving member's receiver, deliver and handler threads and the sender's\n"
                        "# receiver and handler busy-poll on cores of their own\n");
        Pair pair(w, run.pinned);
        if (!pair.ok) {
            std::printf("launch failed for W %d\n", w);
            return 1;
        }
        uint64_t next = 0;
        for (int p = 0; p < 3; ++p) {
            const std::size_t payload = payloads[p];
            const double raw_one_way = static_cast<double>(raw[p].rtt_p50) / 2.0;
            // throughput: as fast as half the window lets it
            const std::size_t burst = 100000;
            pair.Reset(burst);
            const std::vector<int64_t> sent = pair.Send(next, burst, payload, 0, w / 2);
            pair.WaitCount(burst, 30);
            int64_t last;
            {
                std::lock_guard<std::mutex> lock(pair.mu);
                last = pair.delivered_at.empty() ? sent.back() : pair.delivered_at.back();
            }
            const double rate = static_cast<double>(pair.Count()) * 1e9 / static_cast<double>(last - sent.front());
            std::printf("%-6d %-8zu %-8s %12.0f %10s %10s %12s %12s %14s%s\n", w, payload, "max", rate, "-", "-", "-",
                        "-", "-", pair.InOrderOnce(next, burst) ? "" : "  (NOT all in order once)");
            next += burst;
            for (int r = 0; r < 2; ++r) {
                const double offered = rates[r];
                const std::size_t n = r ? 50000 : 10000;
                pair.Reset(n);
                pair.Send(next, n, payload, offered, w / 2);
                const bool all = pair.WaitCount(n, 30);
                std::vector<int64_t> lat;
                {
                    std::lock_guard<std::mutex> lock(pair.mu);
                    lat = pair.latencies;
                }
                const int64_t p50 = Percentile(lat, 0.50), p99 = Percentile(lat, 0.99);
                std::printf("%-6d %-8zu %-8.0f %12.0f %10.1f %10.1f %12.2f %12.2f %14.2f%s\n", w, payload, offered,
                            offered, Us(p50), Us(p99), static_cast<double>(p50) / raw_one_way,
                            static_cast<double>(p99) / raw_one_way,
                            static_cast<double>(p50) / static_cast<double>(raw_rate[p][r][0]),
                            all && pair.InOrderOnce(next, n) ? "" : "  (NOT all in order once)");
                next += n;
            }
        }

        // recovery of a mid-stream gap: at 10k/s the first sending of every 500th message is lost
        {
            const std::size_t payload = 512;
            const std::size_t n = 20000;
            auto faults = std::make_shared<BusSendFaults>();
            faults->SetRecord(false);
            OXA::VORN::VornPeerWindow* to_b = PeerWindow(pair.a.Sys(), 20, 2);
            const int64_t seq0 = to_b->send->Next();
            std::vector<std::size_t> lost;
            for (std::size_t i = 250; i < n; i += 500) {
                faults->DropRun(6 /* app message */, seq0 + static_cast<int64_t>(i), seq0 + static_cast<int64_t>(i));
                lost.push_back(i);
            }
            pair.a.Sys().SendPath().SetHook(faults);
            pair.Reset(n);
            const std::vector<int64_t> sent = pair.Send(next, n, payload, 10000, w / 2);
            const bool all = pair.WaitCount(n, 30);
            pair.a.Sys().SendPath().SetHook(nullptr);
            std::vector<int64_t> recovery, total;
            {
                std::lock_guard<std::mutex> lock(pair.mu);
                for (std::size_t i : lost) {
                    const uint64_t want = next + i;
                    for (std::size_t k = 0; k < pair.numbers.size(); ++k) {
                        if (pair.numbers[k] != want) continue;
                        recovery.push_back(pair.delivered_at[k] - sent[i + 1]);
                        total.push_back(pair.delivered_at[k] - sent[i]);
                        break;
                    }
                }
            }
            const double raw_one_way = static_cast<double>(raw[1].rtt_p50) / 2.0;
            const double goal = raw_one_way + static_cast<double>(raw[1].rtt_p50) + static_cast<double>(handler_cycle_ns);
            std::printf("%-6d %-8zu gap recovery (next message sent -> lost one delivered): p50 %.1f us, p99 %.1f us; "
                        "goal raw 1way + raw rtt + handler cycle = %.1f us (ratio %.2f); lost one's own one-way p50 "
                        "%.1f us; %zu gaps%s\n",
                        w, payload, Us(Percentile(recovery, 0.5)), Us(Percentile(recovery, 0.99)), goal / 1000.0,
                        static_cast<double>(Percentile(recovery, 0.5)) / goal, Us(Percentile(total, 0.5)),
                        recovery.size(), all && pair.InOrderOnce(next, n) ? ", all in order once" : ", NOT in order");
            next += n;
        }

        // 1% of every datagram lost both ways
        {
            const std::size_t n = 50000;
            auto fa = std::make_shared<BusSendFaults>();
            auto fb = std::make_shared<BusSendFaults>();
            for (auto& f : {fa, fb}) {
                f->SetRecord(false);
                f->DropShare(-1, 0.01);
            }
            fb->SetSeed(5);
            pair.a.Sys().SendPath().SetHook(fa);
            pair.b.Sys().SendPath().SetHook(fb);
            pair.Reset(n);
            pair.Send(next, n, 512, 100000, w / 2);
            const bool all = pair.WaitCount(n, 60);
            pair.a.Sys().SendPath().SetHook(nullptr);
            pair.b.Sys().SendPath().SetHook(nullptr);
            std::vector<int64_t> lat;
            {
                std::lock_guard<std::mutex> lock(pair.mu);
                lat = pair.latencies;
            }
            std::printf("%-6d %-8d 1%% loss both ways at 100k/s: %zu of %zu delivered, %s; p50 %.1f us, p99 %.1f us, "
                        "%zu datagrams lost\n\n",
                        w, 512, pair.Count(), n,
                        all && pair.InOrderOnce(next, n) ? "no duplicate, no gap, in order" : "DUPLICATE OR GAP",
                        Us(Percentile(lat, 0.5)), Us(Percentile(lat, 0.99)), fa->Fired() + fb->Fired());
            next += n;
        }
    }
    return 0;
}
