// The link callbacks: the requests a new link announces are its first frames, ahead of what the
// send ring kept from the link before; a lost link is reported at once, even while its connected
// callback still runs (the disconnected callback waits for that).
#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;
using tcp_framework::client::LinkRequest;

namespace {

constexpr uint32_t kAnnounce = 0xf0002;
constexpr uint32_t kOrder = 0x111;

// Records the links announced and lost; each announcement is one request naming its link.
struct LinkLog {
    std::mutex mu;
    std::vector<uint64_t> up, down;

    void bind(const std::shared_ptr<TcpClient>& client) {
        client->set_link_callbacks(
            [this](std::shared_ptr<TcpClient>, uint64_t link) {
                {
                    std::lock_guard<std::mutex> lk(mu);
                    up.push_back(link);
                }
                LinkRequest r;
                r.message_id = kAnnounce;
                r.request_id = link;
                r.body.resize(8);
                std::memcpy(r.body.data(), &link, 8);
                return std::vector<LinkRequest>{r};
            },
            [this](std::shared_ptr<TcpClient>, uint64_t link) {
                std::lock_guard<std::mutex> lk(mu);
                down.push_back(link);
            });
    }
    size_t downs() {
        std::lock_guard<std::mutex> lk(mu);
        return down.size();
    }
};

TEST(ClientLinkCallbacks, AnnouncedRequestsGoFirstOnEveryLinkAheadOfTheRingsLeftovers) {
    FrameTestServer server;
    LinkLog links;  // outlives the client's last callback
    ClientRig rig(20, 0);
    links.bind(rig.client);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 5s));

    // A peer that stops reading: the kernel's buffers fill and the ring keeps the rest.
    server.set_reading(false);
    std::vector<uint8_t> body(4096, 0x5a);
    uint32_t sent = 0;
    for (; sent < 8192; ++sent) {
        std::memcpy(body.data(), &sent, 4);
        if (rig.client->request_async(kOrder, sent, body.data(), static_cast<uint32_t>(body.size())) != 0) break;
    }
    ASSERT_GT(sent, 0u);
    server.set_reading(true);
    server.close_rst();
    ASSERT_TRUE(server.wait_connections(2, 10s)) << rig.log_text();
    ASSERT_TRUE(rig.rec->wait([&] { return rig.client->is_connected(); }, 5s));
    // the leftovers go out with the next frame
    ASSERT_EQ(rig.client->request_async(kOrder, 1u << 20, body.data(), 8), 0);
    ASSERT_TRUE(server.wait_for(
        [&] {
            for (const auto& f : server.frames(kFrameRequest))
                if (f.connection == 1 && f.request_id == 1u << 20) return true;
            return false;
        },
        10s));

    for (int connection : {0, 1}) {
        SCOPED_TRACE(connection);
        std::vector<WireFrame> frames;
        for (auto& f : server.frames(kFrameRequest))
            if (f.connection == connection) frames.push_back(f);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].message_id, kAnnounce) << "the announcement is the link's first frame";
        for (size_t i = 1; i < frames.size(); ++i) ASSERT_EQ(frames[i].message_id, kOrder) << i;
        if (connection == 1) {
            EXPECT_GT(frames.size(), 2u) << "the ring kept nothing to send again";
        }
    }
    std::lock_guard<std::mutex> lk(links.mu);
    ASSERT_EQ(links.up.size(), 2u);
    EXPECT_LT(links.up[0], links.up[1]);
    EXPECT_EQ(links.down, std::vector<uint64_t>{links.up[0]});
}

TEST(ClientLinkCallbacks, ALostLinkIsReportedAtOnceWhileItsConnectedCallbackRuns) {
    FrameTestServer server;
    LinkLog links;
    ClientRig rig(0, 0);
    links.bind(rig.client);
    std::atomic<bool> release{false};
    rig.rec->on_connected = [&] {
        const auto deadline = Clock::now() + 10s;
        while (!release.load() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    };
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    server.close_rst();
    EXPECT_TRUE(rig.rec->wait([&] { return links.downs() == 1; }, 5s)) << "held back behind the connected callback";
    EXPECT_EQ(rig.rec->n_disconnects(), 0u) << "the disconnected callback comes after the connected one";
    release = true;
    EXPECT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
}

}  // namespace
