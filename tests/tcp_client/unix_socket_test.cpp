// The same client over a Unix-domain stream socket (unix://path): frames both ways, endpoints,
// silence detection, reconnection and sending from several threads.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

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
    // the heartbeats went out (a loaded machine may have let the first connection time out
    // before its second beat; the next connection beats on)
    EXPECT_TRUE(server.wait_frames(kFrameHeartbeat, 2, 5s));
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

// A Unix sender waits for room on the caller's thread while it holds the send lock. The io
// thread must not wait behind it: the silence check still runs, closes the link and releases the
// sender with an error; so does a stop from another thread.
struct BlockedSender {
    const char* name;
    bool stop_from_owner;  // else the heartbeat timeout ends it
};

class ClientUnixBlockedSender : public ::testing::TestWithParam<BlockedSender> {};

TEST_P(ClientUnixBlockedSender, IsReleasedWithAnErrorAndTheIoThreadKeepsRunning) {
    FrameTestServer server(unix_options());
    server.set_reading(false);
    constexpr int kHeartbeatMs = 40;
    ClientRig rig(0, kHeartbeatMs);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::atomic<int> last_rc{0};
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        std::vector<uint8_t> body(65536, 0x5A);
        for (int i = 0; i < 100000; ++i) {
            const int rc = rig.client->request_async(1, static_cast<uint64_t>(i), body.data(),
                                                     static_cast<uint32_t>(body.size()));
            if (rc != 0) {
                last_rc = rc;
                break;
            }
            sent++;
        }
        done = true;
    });
    // the socket buffers fill within a few frames and the sender then waits for room
    ASSERT_TRUE(rig.rec->wait([&] { return sent.load() > 0; }, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(kHeartbeatMs));
    ASSERT_FALSE(done.load()) << "the peer took everything: nothing was blocked";
    const auto t0 = Clock::now();
    if (GetParam().stop_from_owner) {
        EXPECT_EQ(rig.client->stop(), 0);
        EXPECT_LT(Clock::now() - t0, 1s);
    }
    ASSERT_TRUE(rig.rec->wait([&] { return done.load(); }, 10s)) << rig.log_text();
    sender.join();
    // released with an error: the failed write, or the link already down at the next call
    EXPECT_TRUE(last_rc.load() == 1002 || last_rc.load() == 2001) << last_rc.load();
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
    const auto d = rig.rec->disconnects_copy()[0];
    if (GetParam().stop_from_owner) {
        EXPECT_EQ(d.code, 0);
    } else {
        EXPECT_EQ(d.code, 2005);
        EXPECT_EQ(d.thread, "tcp_cli_async");
        // within the usual bound of the silence check: three to four intervals and some slack
        EXPECT_LT(d.at - t0, std::chrono::milliseconds(4 * kHeartbeatMs) + 1s);
    }
    EXPECT_FALSE(rig.client->is_connected());
}

INSTANTIATE_TEST_SUITE_P(Table, ClientUnixBlockedSender,
                         ::testing::Values(BlockedSender{"HeartbeatTimeout", false}, BlockedSender{"Stop", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
