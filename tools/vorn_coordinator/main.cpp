// The fake bus coordinator as a program, for the demo and the benchmark: serves the tables
// of a layout file on UDP until it is stopped (SIGINT, SIGTERM) or its time is up.
//
//   vorn_coordinator --layout FILE [--ip 127.0.0.1] [--port N | --min-port N] [--big-endian]
//                    [--seconds N]
//
// It prints "listening on IP:PORT" once it is ready, then on exit the count of each request
// type it received.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "support/FakeCoordinator.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

int Usage() {
    std::fprintf(stderr,
                 "usage: vorn_coordinator --layout FILE [--ip IP] [--port N | --min-port N] [--big-endian] "
                 "[--seconds N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string layout_path;
    oxa_test::FakeCoordinator::Options options;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--layout" && (v = value())) layout_path = v;
        else if (a == "--ip" && (v = value())) options.ip = v;
        else if (a == "--port" && (v = value())) options.port = static_cast<uint16_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--min-port" && (v = value())) options.min_port = static_cast<uint16_t>(std::strtoul(v, nullptr, 10));
        else if (a == "--seconds" && (v = value())) seconds = std::strtol(v, nullptr, 10);
        else if (a == "--big-endian") options.big_endian = true;
        else return Usage();
    }
    if (layout_path.empty()) return Usage();
    std::ifstream in(layout_path);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", layout_path.c_str());
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    oxa_test::CoordLayout layout;
    std::string error;
    if (!oxa_test::ParseCoordLayout(text.str(), layout, &error)) {
        std::fprintf(stderr, "%s: %s\n", layout_path.c_str(), error.c_str());
        return 1;
    }

    oxa_test::FakeCoordinator coord(layout, options);
    if (!coord.Start()) {
        std::fprintf(stderr, "cannot bind %s:%u\n", options.ip.c_str(), static_cast<unsigned>(options.port));
        return 1;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::printf("listening on %s:%u\n", coord.Ip().c_str(), static_cast<unsigned>(coord.Port()));
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!g_stop && (seconds <= 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    coord.Stop();

    std::map<int, size_t> counts;
    for (const auto& r : coord.Requests()) ++counts[r.type];
    for (const auto& c : counts) std::printf("type 0x%02x: %zu\n", c.first, c.second);
    return 0;
}
