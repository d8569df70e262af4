// The option order round trip beside the spot and margin ones, each against a raw loopback
// ping-pong of its own frame sizes, all in one run: InsertOrder to the first OnOrderEvent through
// the simulated gateway, whose handler answers every insert at once with one order push (option:
// the 324-byte 0x402 out, a 439-byte 0x502 back; spot: 65 out, 160 back; margin: the insert out,
// a 284-byte report back), against a thread that reads the same request frame and writes back
// the same push frame. The summary prints the medians of the repetitions and the p50 ratios;
// the machine is shared, so the defaults are 5 repetitions in random interleaving.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <oxa_api/TraderApi.h>
#include <oxa_api/TraderSpi.h>

#include "api/TraderImpl.h"
#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimFrame.h"
#include "gateway_sim/SimMargin.h"
#include "gateway_sim/SimOption.h"
#include "support/TestApi.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int64_t Now() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

// One business's order exchange: the request it sends, where the order id sits in it, and the
// push its answer is.
struct Lane {
    const char* name;
    uint32_t insert_id;
    std::size_t order_id_at;  // in the request
    uint32_t push_id;
    std::size_t push_len;
    std::size_t push_order_id_at;
    std::size_t status_at;  // where the push says "working"
    std::vector<uint8_t> status;
};

const Lane kLanes[] = {
    {"spot", 0x111, 53, 0x121, 160, 97, 55, {'2'}},
    {"margin", 0x226, 22, 0x228, 284, 16, 16 + 131, {4, 0, 0, 0}},
    {"option", 0x402, 16, 0x502, 439, 16, 117, {'2'}},
};
constexpr uint64_t kAccounts[] = {871001, 872001, 873001};

std::vector<uint8_t> Push(const Lane& l, uint64_t order_id) {
    std::vector<uint8_t> p(l.push_len, 0);
    std::memcpy(p.data() + l.push_order_id_at, &order_id, 8);
    std::memcpy(p.data() + l.status_at, l.status.data(), l.status.size());
    return p;
}

class Spi : public OXA::API::TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo*, uint64_t) override {
        done_ns.store(Now(), std::memory_order_relaxed);
        last_id.store(o->order_oxa_id, std::memory_order_release);
    }
    alignas(64) std::atomic<uint64_t> last_id{0};
    std::atomic<int64_t> done_ns{0};
};

OrderInsertInfo OrderOf(std::size_t lane) {
    OrderInsertInfo o{};
    o.order_client_id = 1;
    o.quantity = 1;
    o.price_type = 1;
    o.side = 1;
    if (lane == 2) {
        std::strcpy(o.ticker, "10000001");
        o.market = 1;
        o.price = 0.5;
        o.position_effect = 1;
        o.business_type = 10;
    } else {
        std::strcpy(o.ticker, "600000");
        o.market = 2;
        o.price = 10.5;
        o.quantity = 100;
        o.business_type = 0;
    }
    return o;
}

struct Env {
    oxa_sim::GatewaySim sim;
    std::unique_ptr<oxa_sim::SimMargin> margin;
    std::unique_ptr<oxa_sim::SimOption> option;
    OXA::API::TraderImpl* api = nullptr;
    Spi spi;
    uint64_t sessions[3] = {};
    std::vector<uint8_t> request_frame[3];  // each lane's own insert frame, for its raw ping-pong
    std::atomic<uint32_t> seq{0};

    bool Start() {
        if (!sim.start(0)) return false;
        sim.set_log_limit(64);
        margin = std::make_unique<oxa_sim::SimMargin>(sim);
        margin->add_account(kAccounts[1]);
        oxa_sim::MarginInitAnswer init;
        init.node_id = 2;
        margin->set_init_answer(init);
        option = std::make_unique<oxa_sim::SimOption>(sim);  // node 3
        sim.set_account_business(kAccounts[2], 3);
        for (std::size_t i = 0; i < 3; ++i) {
            const Lane& l = kLanes[i];
            sim.on(l.insert_id, [this, &l](const oxa_sim::Exchange& ex) {
                uint64_t id = 0;
                if (ex.request.body.size() >= l.order_id_at + 8)
                    std::memcpy(&id, ex.request.body.data() + l.order_id_at, 8);
                ex.conn->push(l.push_id, seq.fetch_add(1) + 1, Push(l, id));
            });
        }
        api = oxa_test::TestApi(9, OXA_LOG_LEVEL_ERROR);
        OXA::API::TraderImpl::Timeouts t;
        t.gateway_login = 3000ms;
        t.logout = 1000ms;
        api->SetTimeouts(t);
        api->RegisterSpi(&spi);
        for (std::size_t i = 0; i < 3; ++i) {
            sessions[i] = api->Login("127.0.0.1", sim.port(), std::to_string(kAccounts[i]).c_str(), "pw", 1);
            if (sessions[i] == 0) {
                std::fprintf(stderr, "%s login failed: %d %s\n", kLanes[i].name, api->GetApiLastError()->error_id,
                             api->GetApiLastError()->error_msg);
                return false;
            }
            // the library's own frame, for the raw baseline
            const OrderInsertInfo o = OrderOf(i);
            const std::size_t before = sim.count(kLanes[i].insert_id);
            const uint64_t id = api->InsertOrder(&o, sessions[i]);
            auto f = sim.wait_for_frame(kLanes[i].insert_id, 2000ms, before);
            if (id == 0 || !f) return false;
            request_frame[i] = oxa_sim::encode_frame(oxa_sim::kRequest, f->msg_id, f->request_id, f->body, 0);
            const auto deadline = Clock::now() + 2s;
            while (spi.last_id.load() != id && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        }
        return true;
    }
};

Env* g_env = nullptr;

void Report(benchmark::State& state, std::vector<uint32_t>& ns) {
    if (ns.empty()) return;
    std::sort(ns.begin(), ns.end());
    state.counters["p50_ns"] = static_cast<double>(ns[ns.size() / 2]);
    state.counters["p99_ns"] = static_cast<double>(ns[static_cast<std::size_t>(0.99 * (ns.size() - 1))]);
}

void Keep(std::vector<uint32_t>& ns, int64_t d) { ns.push_back(static_cast<uint32_t>(std::clamp<int64_t>(d, 0, UINT32_MAX))); }

// InsertOrder to the order event of that order.
void BM_RoundTrip(benchmark::State& state) {
    const std::size_t lane = static_cast<std::size_t>(state.range(0));
    const OrderInsertInfo o = OrderOf(lane);
    std::vector<uint32_t> ns;
    ns.reserve(1 << 20);
    for (auto _ : state) {
        const int64_t t0 = Now();
        const uint64_t id = g_env->api->InsertOrder(&o, g_env->sessions[lane]);
        const auto deadline = Clock::now() + 1s;
        while (g_env->spi.last_id.load(std::memory_order_acquire) != id) {
            if (id == 0 || Clock::now() > deadline) {
                state.SkipWithError("no order event");
                return;
            }
        }
        Keep(ns, g_env->spi.done_ns.load(std::memory_order_relaxed) - t0);
    }
    Report(state, ns);
    state.SetLabel(kLanes[lane].name);
}

// spin: a read polls (as the library's bench thread polls for its event) instead of blocking.
bool Full(int fd, uint8_t* p, std::size_t n, bool write, bool spin = false) {
    while (n > 0) {
        const ssize_t k = write ? ::send(fd, p, n, MSG_NOSIGNAL) : ::recv(fd, p, n, spin ? MSG_DONTWAIT : 0);
        if (k < 0 && spin && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// A connected loopback pair with Nagle off on both ends.
std::pair<int, int> Pair() {
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(l, 1);
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int s = ::accept(l, nullptr, nullptr);
    ::close(l);
    const int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return {c, s};
}

// The floor for a lane: its request frame out, its push frame back, through a bare thread; the
// second argument 1 polls for the answer like the round trip's wait does.
void BM_RawPingPong(benchmark::State& state) {
    const std::size_t lane = static_cast<std::size_t>(state.range(0));
    const bool spin = state.range(1) != 0;
    std::vector<uint8_t> request = g_env->request_frame[lane];
    std::vector<uint8_t> reply = oxa_sim::encode_frame(oxa_sim::kPush, kLanes[lane].push_id, 1, Push(kLanes[lane], 1), 0);
    const auto [c, s] = Pair();
    std::thread echo([s = s, n = request.size(), &reply] {
        std::vector<uint8_t> in(n);
        while (Full(s, in.data(), n, false) && Full(s, reply.data(), reply.size(), true)) {
        }
    });
    std::vector<uint8_t> in(reply.size());
    std::vector<uint32_t> ns;
    ns.reserve(1 << 20);
    for (auto _ : state) {
        const int64_t t0 = Now();
        if (!Full(c, request.data(), request.size(), true) || !Full(c, in.data(), in.size(), false, spin)) {
            state.SkipWithError("raw ping-pong failed");
            break;
        }
        Keep(ns, Now() - t0);
    }
    ::shutdown(c, SHUT_RDWR);
    ::shutdown(s, SHUT_RDWR);
    echo.join();
    ::close(c);
    ::close(s);
    Report(state, ns);
    state.SetLabel(kLanes[lane].name);
}

BENCHMARK(BM_RawPingPong)->ArgsProduct({{0, 1, 2}, {0, 1}})->UseRealTime();
BENCHMARK(BM_RoundTrip)->DenseRange(0, 2)->UseRealTime();

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            if (!median && !single) continue;
            auto get = [&](const char* k) {
                auto it = r.counters.find(k);
                return it == r.counters.end() ? 0.0 : static_cast<double>(it->second);
            };
            std::string name = r.run_name.function_name + "/" + r.run_name.args;
            p50[name] = get("p50_ns");
            p99[name] = get("p99_ns");
        }
    }
    std::map<std::string, double> p50, p99;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i) given = given || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    std::string reps = "--benchmark_repetitions=5", mix = "--benchmark_enable_random_interleaving=true";
    std::string only = "--benchmark_report_aggregates_only=true";
    if (!given) {
        args.push_back(reps.data());
        args.push_back(mix.data());
        args.push_back(only.data());
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    Env env;
    if (!env.Start()) {
        std::fprintf(stderr, "the benchmark's gateway or logins did not come up\n");
        return 1;
    }
    g_env = &env;
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    std::printf("\nOrder round trip against the raw ping-pong of the same frames (medians of the repetitions):\n");
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string lib = "BM_RoundTrip/" + std::to_string(i);
        for (const char* wait : {"1", "0"}) {
            const std::string raw = "BM_RawPingPong/" + std::to_string(i) + "/" + wait;
            const double a = summary.p50[lib], b = summary.p50[raw];
            if (a == 0 || b == 0) continue;
            std::printf("  %-7s round trip p50 %7.0f ns p99 %7.0f ns | raw (%s) p50 %7.0f ns p99 %7.0f ns | p50 ratio "
                        "%.2f (goal <= 1.30: %s)\n",
                        kLanes[i].name, a, summary.p99[lib], *wait == '1' ? "polling " : "blocking", b,
                        summary.p99[raw], a / b, a / b <= 1.30 ? "met" : "NOT met");
        }
    }
    g_env = nullptr;
    env.api->Release();
    env.sim.stop();
    benchmark::Shutdown();
    return 0;
}
