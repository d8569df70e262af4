// How long the client and what its threads touch live: a client that never connected goes with
// its last owner, and a process may end while a connected client's io thread is busy.
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

TEST(ClientLifetime, ClientThatNeverConnectedIsDestroyedWithItsOwner) {
    FrameTestServer server;
    const uint16_t port = server.port();
    server.stop_listening();
    std::weak_ptr<TcpClient> weak;
    {
        auto client = std::make_shared<TcpClient>(0, nullptr);
        weak = client;
        EXPECT_EQ(client->connect("127.0.0.1", port), 1002);
    }
    EXPECT_TRUE(weak.expired());
}

TEST(ClientLifetime, RetryingClientGoesOnceStopped) {
    FrameTestServer server;
    const uint16_t port = server.port();
    server.stop_listening();
    std::weak_ptr<TcpClient> weak;
    {
        auto client = std::make_shared<TcpClient>(20, nullptr);
        client->set_stop_timeout(2000);
        weak = client;
        EXPECT_EQ(client->connect("127.0.0.1", port), 0);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(client->stop(), 0);
    }
    // the reconnect thread held the last reference; it lets go as it ends
    const auto deadline = Clock::now() + 5s;
    while (!weak.expired() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(weak.expired());
}

// What the child leaves running as it exits; reachable, so no leak checker counts it.
FrameTestServer* g_server = nullptr;
std::thread* g_pusher = nullptr;
std::thread* g_sender = nullptr;

// In a child process: traffic in both directions, then exit() with the io thread still running
// while the static destructors run.
[[noreturn]] void exit_while_busy() {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    o.echo_requests = true;
    o.keep_frames = false;
    g_server = new FrameTestServer(o);  // never freed: it keeps sending while we exit
    FrameTestServer* server = g_server;
    auto client = std::make_shared<TcpClient>(10, nullptr);
    client->set_heartbeat_interval(5);
    std::atomic<int> answers{0};
    client->set_response_async_callback(
        [&answers](std::shared_ptr<TcpClient>, unsigned int, unsigned long, const unsigned char*, unsigned int) {
            answers++;
            return 0;
        });
    client->set_push_callback(
        [](std::shared_ptr<TcpClient>, unsigned int, unsigned long, const unsigned char*, unsigned int) { return 0; });
    if (client->connect(server->url()) != 0) std::_Exit(3);
    if (!server->wait_connections(1, 5s)) std::_Exit(4);
    g_pusher = new std::thread([server] {
        for (uint64_t i = 0;; ++i) server->send_frame(kFramePush, 0x20100, i, {1, 2, 3, 4}, 0);
    });
    g_sender = new std::thread([client] {
        for (uint64_t i = 0;; ++i) client->request_async(1, i, "ping", 4);
    });
    const auto deadline = Clock::now() + 5s;
    while (answers.load() < 1000 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    if (answers.load() < 1000) std::_Exit(5);
    std::exit(0);
}

TEST(ClientLifetimeDeathTest, ProcessMayExitWhileTheIoThreadIsBusy) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child ends on purpose with threads that were never joined; a thread checker would
    // list them. Races and crashes at exit are still reported (and fail the exit code).
    const char* tsan = std::getenv("TSAN_OPTIONS");
    setenv("TSAN_OPTIONS", (std::string(tsan ? tsan : "") + ":report_thread_leaks=0").c_str(), 1);
    EXPECT_EXIT(exit_while_busy(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
