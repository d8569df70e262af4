// The same client over a Unix-domain stream socket (unix://path): frames both ways, endpoints,
// silence detection, reconnection and sending from several threads.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

std::string socket_path() {
    static std::atomic<int> n{0};
    return "/tmp/oxa_tcpcli_" + std::to_string(::getpid()) + "_" + std::to_string(n++) + ".sock";
}

FrameTestServer::Options unix_options(bool answer_heartbeats = false, bool echo = false) {
    FrameTestServer::Options o;
    o.family = FrameTestServer::Family::kUnix;
    o.unix_path = socket_path();
    o.answer_heartbeats = answer_heartbeats;
    o.echo_requests = echo;
    return o;
}

TEST(ClientUnix, FramesBothWaysAndEndpoints) {
    FrameTestServer server(unix_options());
    ASSERT_TRUE(server.listening());
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    EXPECT_EQ(rig.logged("(" + server.url() + ")connect success."), 1);
    ASSERT_EQ(rig.client->request_async(0x20001, 11, "unix", 4), 0);
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 5s));
    const auto f = server.frames(kFrameRequest)[0];
    EXPECT_TRUE(f.sound());
    EXPECT_EQ(f.request_id, 11u);
    EXPECT_EQ(f.body, (std::vector<uint8_t>{'u', 'n', 'i', 'x'}));

    ASSERT_TRUE(server.send_frame(kFramePush, 0x20500, 3, {1, 2, 3}, 0));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 1; }, 5s));
    EXPECT_EQ(rig.rec->pushes_copy()[0].body, (std::vector<uint8_t>{1, 2, 3}));

    std::string ip = "?";
    uint16_t port = 1;
    ASSERT_EQ(rig.client->get_local_endpoint(ip, port), 0);  // the client's own end has no path
    EXPECT_EQ(ip, "");
    EXPECT_EQ(port, 0);
    ASSERT_EQ(rig.client->get_remote_endpoint(ip, port), 0);
    EXPECT_EQ(ip, server.host());
    EXPECT_EQ(port, 0);
    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_TRUE(server.wait_closed_by_client(0, 5s));
}

TEST(ClientUnix, SilentPeerTimesOutAndTheClientReconnects) {
    FrameTestServer server(unix_options());
    ClientRig rig(30, 30);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 10s));
    EXPECT_EQ(rig.rec->disconnects_copy()[0].code, 2005);
    EXPECT_GE(server.frame_count(kFrameHeartbeat), 2u);
    ASSERT_TRUE(server.wait_connections(2, 5s));
}

TEST(ClientUnix, PathLongerThanTheAddressFieldIsRefused) {
    ClientRig rig(0, 0);
    EXPECT_EQ(rig.client->connect("unix:///tmp/" + std::string(120, 'p')), 1002);
    int code = 0;
    char text[1024];
    rig.client->get_last_error(&code, text);
    EXPECT_EQ(code, ENAMETOOLONG);
}

TEST(ClientUnix, SeveralSendersKeepEveryFrameWholeAndInOrder) {
    FrameTestServer server(unix_options(true));
    constexpr int kThreads = 4;
    constexpr uint32_t kEach = 2000;
    std::array<uint32_t, kThreads> next{};
    std::atomic<int> faults{0};
    std::atomic<uint32_t> seen{0};
    server.set_on_frame([&](const WireFrame& f) {
        if (f.content_type != kFrameRequest) return;
        const uint32_t t = static_cast<uint32_t>(f.request_id >> 32);
        const uint32_t seq = static_cast<uint32_t>(f.request_id);
        if (!f.sound() || t >= kThreads || seq != next[t] || f.body.size() != seq % 50) faults++;
        if (t < kThreads) next[t] = seq + 1;
        seen++;
    });
    ClientRig rig(0, 50);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            std::vector<uint8_t> body(64, static_cast<uint8_t>(t));
            for (uint32_t seq = 0; seq < kEach; ++seq)
                if (rig.client->request_async(1, (static_cast<uint64_t>(t) << 32) | seq, body.data(), seq % 50) != 0)
                    faults++;
        });
    for (auto& s : senders) s.join();
    EXPECT_TRUE(server.wait_for([&] { return seen.load() == kThreads * kEach; }, 30s));
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(server.bad_frames(), 0u);
    EXPECT_EQ(rig.rec->n_disconnects(), 0u) << rig.log_text().substr(0, 3000);
}

}  // namespace
