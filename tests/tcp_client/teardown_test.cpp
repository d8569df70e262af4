// A stopped client that its owners let go of is gone, with every thread it started, wherever
// the last reference is dropped: on an application thread, inside one of its own callbacks on
// the io thread, on its on-connect thread, or while its reconnect thread is still retrying. A
// process that logs in and releases all day must not keep one io thread and its buffers per
// cycle (a leak checker build reports any buffer left behind).
#include <dirent.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

// Threads of this process, and their names.
int thread_count(std::string* names = nullptr) {
    int n = 0;
    DIR* d = ::opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        ++n;
        if (names) {
            std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string comm;
            std::getline(f, comm);
            *names += comm + " ";
        }
    }
    ::closedir(d);
    return n;
}

bool wait_threads(int n, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (thread_count() != n) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Where the last reference goes.
enum class DropAt { kCaller, kPushCallback, kConnectedCallback, kWhileRetrying };

const char* name_of(DropAt d) {
    switch (d) {
        case DropAt::kCaller: return "caller";
        case DropAt::kPushCallback: return "push callback";
        case DropAt::kConnectedCallback: return "connected callback";
        case DropAt::kWhileRetrying: return "while retrying";
    }
    return "?";
}

// What the callbacks share with the test; they hold it, never the client. The slot is the only
// strong reference the test keeps, and a callback may take it away.
struct Life {
    std::mutex mu;
    std::shared_ptr<TcpClient> client;
    std::atomic<int> answers{0};
    std::atomic<int> stop_rc{-1};
    std::shared_ptr<TcpClient> take() {
        std::lock_guard<std::mutex> lk(mu);
        return std::move(client);
    }
};

// One client through its whole life against `server`, until it is destroyed.
void one_life(FrameTestServer& server, DropAt drop, int round) {
    SCOPED_TRACE(std::string(name_of(drop)) + " #" + std::to_string(round));
    auto life = std::make_shared<Life>();
    std::weak_ptr<TcpClient> weak;
    {
        auto client = std::make_shared<TcpClient>(20, nullptr);
        // heartbeats run all along, but slow enough that a sanitizer build never times one out
        client->set_heartbeat_interval(100);
        client->set_stop_timeout(3000);
        weak = client;
        // The client is handed to every callback; none keeps it.
        client->set_response_async_callback(
            [life](std::shared_ptr<TcpClient>, unsigned int, unsigned long, const unsigned char*, unsigned int) {
                life->answers++;
                return 0;
            });
        client->set_push_callback([life, drop](std::shared_ptr<TcpClient> self, unsigned int, unsigned long,
                                               const unsigned char*, unsigned int) {
            if (drop == DropAt::kPushCallback) {
                life->stop_rc = self->stop();
                life->take();
            }
            return 0;
        });
        client->set_connected_callback([life, drop](std::shared_ptr<TcpClient> self) {
            if (drop == DropAt::kConnectedCallback) {
                life->stop_rc = self->stop();
                life->take();
            }
            return 0;
        });
        client->set_heartbeat_callback([](std::shared_ptr<TcpClient>, int, const char*) { return 0; });
        client->set_disconnected_callback([](std::shared_ptr<TcpClient>, int, const char*) { return 0; });
        life->client = client;
        ASSERT_EQ(client->connect(server.url()), 0);
    }
    if (drop != DropAt::kConnectedCallback) {
        auto c = weak.lock();
        ASSERT_TRUE(c);
        ASSERT_EQ(c->request_async(1, static_cast<uint64_t>(round), "ping", 4), 0);
        const auto deadline = Clock::now() + 5s;
        while (life->answers.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(life->answers.load(), 1);
    }
    switch (drop) {
        case DropAt::kCaller: {
            auto c = life->take();
            EXPECT_EQ(c->stop(), 0);
            break;  // c goes here, on this thread
        }
        case DropAt::kPushCallback:
            ASSERT_TRUE(server.send_frame(kFramePush, 0x20100, 1, {1, 2, 3}, 0));
            break;
        case DropAt::kConnectedCallback:
            break;  // it ran already, or runs soon
        case DropAt::kWhileRetrying: {
            server.stop_listening();
            server.close_rst();
            // the reconnect thread is in its wait or in an attempt now
            std::this_thread::sleep_for(30ms);
            auto c = life->take();
            EXPECT_EQ(c->stop(), 0);
            ASSERT_TRUE(server.listen_again());
            break;
        }
    }
    const auto deadline = Clock::now() + 5s;
    while (!weak.expired() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(weak.expired()) << "the client outlived its owners";
    if (drop == DropAt::kPushCallback || drop == DropAt::kConnectedCallback) {
        EXPECT_EQ(life->stop_rc.load(), 0);
    }
}

TEST(ClientTeardown, FiftyClientsStoppedAndDroppedLeaveNoThreadBehind) {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    o.echo_requests = true;
    o.keep_frames = false;
    {
        // one life first: what the process starts once (a sanitizer's own thread) is then there
        FrameTestServer server(o);
        one_life(server, DropAt::kCaller, -1);
        if (HasFatalFailure()) return;
    }
    wait_threads(1, 2s);
    std::string at_start;
    const int baseline = thread_count(&at_start);
    ASSERT_GT(baseline, 0);
    {
        FrameTestServer server(o);
        const DropAt order[] = {DropAt::kCaller, DropAt::kPushCallback, DropAt::kConnectedCallback,
                                DropAt::kWhileRetrying};
        for (int i = 0; i < 50; ++i) {
            one_life(server, order[i % 4], i);
            if (HasFatalFailure()) return;
        }
    }
    // the server's threads too are gone now; nothing of the clients may remain
    std::string now;
    EXPECT_TRUE(wait_threads(baseline, 10s)) << thread_count(&now) << " threads (" << now << ") against " << baseline
                                             << " (" << at_start << ") at the start";
    EXPECT_EQ(threads_named("tcp_cli_async"), 0);
    EXPECT_EQ(threads_named("tcp_reconnect"), 0);
    EXPECT_EQ(threads_named("tcp_on_connect"), 0);
}

// The io thread ends with the client even when the client goes inside one of its handlers, so
// a client released from its own callback does not keep running after its owner is gone.
TEST(ClientTeardown, DroppedInsideItsOwnCallbackTheIoThreadEndsToo) {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    o.echo_requests = true;
    FrameTestServer server(o);
    ASSERT_TRUE(server.listening());
    const int before = threads_named("tcp_cli_async");
    one_life(server, DropAt::kPushCallback, 0);
    // a stop inside a callback cannot wait for the client's other threads: they end on their own
    const auto deadline = Clock::now() + 5s;
    auto alive = [&] {
        return threads_named("tcp_cli_async") != before || threads_named("tcp_on_connect") != 0 ||
               threads_named("tcp_reconnect") != 0 || threads_named("tcp_helper") != 0;
    };
    while (alive() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(threads_named("tcp_cli_async"), before);
    EXPECT_FALSE(alive());
}

}  // namespace
