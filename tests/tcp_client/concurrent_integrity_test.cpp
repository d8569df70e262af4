// Many threads sending at once while the heartbeat runs: every frame must reach the peer whole
// (CRC, tail), frames of one thread in the order that thread sent them, and every answer must
// come back to the response callback, again in order per thread.
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

constexpr int kThreads = 8;
// Three intervals of silence end the link, and eight senders on a busy machine (or under a
// sanitizer) can keep the io thread off the processor for well over 100 ms. The interval is
// long enough for that; the senders wait half-way for a heartbeat instead of hoping one falls
// inside the run.
constexpr int kHeartbeatMs = 250;
constexpr uint32_t kPerThread = 10000;

uint64_t request_id(int thread, uint32_t seq) { return (static_cast<uint64_t>(thread) << 32) | seq; }

// A body that differs per thread and sequence, of varying length (0 to 60 bytes).
std::vector<uint8_t> body_of(int thread, uint32_t seq) {
    std::vector<uint8_t> b(seq % 61);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(thread * 31 + seq * 7 + i);
    return b;
}

struct Order {
    std::array<uint32_t, kThreads> next{};
    std::atomic<int> wrong_order{0};
    std::atomic<int> wrong_body{0};
    std::atomic<int> unsound{0};
    std::atomic<int> wrong_thread{0};
    std::atomic<uint32_t> seen{0};

    // Called by one thread at a time (one reader per connection, or the io thread).
    void check(uint32_t msg, uint64_t req, const std::vector<uint8_t>& body) {
        const uint32_t t = static_cast<uint32_t>(req >> 32);
        const uint32_t seq = static_cast<uint32_t>(req);
        if (t >= kThreads || msg != 0x20000u + t) {
            wrong_thread++;
            return;
        }
        if (seq != next[t]) wrong_order++;
        next[t] = seq + 1;
        if (body != body_of(static_cast<int>(t), seq)) wrong_body++;
        seen++;
    }
};

TEST(ClientConcurrency, EightThreadsTenThousandRequestsEachWithHeartbeats) {
    FrameTestServer::Options o;
    o.echo_requests = true;
    o.answer_heartbeats = true;
    o.keep_frames = false;
    FrameTestServer server(o);

    Order at_server, at_client;
    std::atomic<uint32_t> requests_seen{0};
    std::atomic<int> heartbeats_during_run{0};
    std::atomic<int> heartbeats_unsound{0};
    server.set_on_frame([&](const WireFrame& f) {
        if (f.content_type == kFrameRequest) {
            if (!f.sound() || f.async_flag != 1) at_server.unsound++;
            at_server.check(f.message_id, f.request_id, f.body);
            requests_seen++;
        } else if (f.content_type == kFrameHeartbeat) {
            if (!f.sound() || f.body_length != 0 || f.message_id != 0 || f.request_id != 0) heartbeats_unsound++;
            const uint32_t n = requests_seen.load();
            if (n > 0 && n < kThreads * kPerThread) heartbeats_during_run++;
        } else {
            at_server.unsound++;
        }
    });

    ClientRig rig(0, kHeartbeatMs);
    std::atomic<int> response_thread_wrong{0};
    rig.client->set_response_async_callback([&](std::shared_ptr<TcpClient>, unsigned int m, unsigned long r,
                                                const unsigned char* b, unsigned int n) {
        if (thread_name() != "tcp_cli_async") response_thread_wrong++;
        at_client.check(m, r, std::vector<uint8_t>(b, b + n));
        return 0;
    });
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    // the run starts with the heartbeat already going
    ASSERT_TRUE(server.wait_frames(kFrameHeartbeat, 1, 5s)) << rig.log_text();

    std::atomic<int> send_failures{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (uint32_t seq = 0; seq < kPerThread; ++seq) {
                const auto body = body_of(t, seq);
                if (rig.client->request_async(0x20000u + t, request_id(t, seq), body.data(),
                                              static_cast<uint32_t>(body.size())) != 0)
                    send_failures++;
                // now and then let the heartbeat timer in between the senders
                if (seq % 2000 == 1999) std::this_thread::sleep_for(12ms);
                // half-way, every sender waits until a heartbeat has crossed mid-stream
                if (seq == kPerThread / 2)
                    server.wait_for([&] { return heartbeats_during_run.load() >= 1; }, 20s);
            }
        });
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(send_failures.load(), 0) << (rig.rec->n_disconnects() ? rig.rec->disconnects_copy()[0].text : "");

    const uint32_t total = kThreads * kPerThread;
    EXPECT_TRUE(server.wait_for([&] { return requests_seen.load() >= total; }, 20s))
        << requests_seen.load() << " seen, bad frames " << server.bad_frames() << ", connected "
        << rig.client->is_connected() << "\n"
        << rig.log_text().substr(0, 2000);
    EXPECT_TRUE(rig.rec->wait([&] { return at_client.seen.load() >= total; }, 20s)) << at_client.seen.load();

    EXPECT_EQ(server.bad_frames(), 0u);
    EXPECT_EQ(at_server.unsound.load(), 0);
    EXPECT_EQ(at_server.wrong_thread.load(), 0);
    EXPECT_EQ(at_server.wrong_order.load(), 0);
    EXPECT_EQ(at_server.wrong_body.load(), 0);
    EXPECT_EQ(at_server.seen.load(), total);
    EXPECT_EQ(heartbeats_unsound.load(), 0);
    EXPECT_GE(heartbeats_during_run.load(), 1);

    EXPECT_EQ(at_client.wrong_thread.load(), 0);
    EXPECT_EQ(at_client.wrong_order.load(), 0);
    EXPECT_EQ(at_client.wrong_body.load(), 0);
    EXPECT_EQ(at_client.seen.load(), total);
    EXPECT_EQ(response_thread_wrong.load(), 0);

    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
    EXPECT_TRUE(rig.client->is_connected());
}

}  // namespace
