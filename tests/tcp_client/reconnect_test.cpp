// Reconnection and stop: one retry per interval by one reconnect thread, OnConnected exactly
// once per connection on "tcp_on_connect", stop that ends everything with (0, ""), a connect
// right after a stop that keeps its connection, and stop from inside the client's own
// callbacks, which must neither hang nor wait for the io thread.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

constexpr int kInterval = 30;

// Samples the number of reconnect threads while it lives and keeps the largest.
class ThreadWatch {
public:
    explicit ThreadWatch(const char* name)
        : t_([this, name] {
              while (!quit_.load()) {
                  const int n = threads_named(name);
                  if (n > most_.load()) most_ = n;
                  std::this_thread::sleep_for(1ms);
              }
          }) {}
    ~ThreadWatch() { stop(); }
    int most() {
        stop();
        return most_.load();
    }

private:
    void stop() {
        quit_ = true;
        if (t_.joinable()) t_.join();
    }
    std::atomic<bool> quit_{false};
    std::atomic<int> most_{0};
    std::thread t_;
};

TEST(ClientReconnect, RetriesEveryIntervalUntilThePeerListensAgain) {
    FrameTestServer server;
    ClientRig rig(kInterval, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 1; }, 5s));

    ASSERT_TRUE(server.wait_connections(1, 5s));
    server.refuse_then_listen(3, [&] { return rig.logged("network error("); }, 10s);
    server.close_rst();
    ASSERT_TRUE(server.wait_connections(2, 10s)) << rig.log_text();
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 2; }, 5s));

    EXPECT_EQ(rig.logged("network error("), 3);
    const auto tries = rig.sink->matching("reconnecting(");
    ASSERT_EQ(tries.size(), 4u);  // three refused, the fourth taken
    for (size_t i = 1; i < tries.size(); ++i)
        EXPECT_GE(tries[i].at - tries[i - 1].at, std::chrono::milliseconds(kInterval - 2)) << i;
    const auto d = rig.rec->disconnects_copy();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, ECONNRESET);
    EXPECT_EQ(rig.rec->connected_copy(), (std::vector<std::string>{"tcp_on_connect", "tcp_on_connect"}));
    EXPECT_TRUE(rig.client->is_connected());
    EXPECT_EQ(rig.client->request_async(1, 1, "z", 1), 0);
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 5s));
    EXPECT_EQ(server.frames(kFrameRequest)[0].connection, 1);
}

TEST(ClientReconnect, OnConnectedOncePerConnectionAndOneReconnectThreadAtATime) {
    FrameTestServer server;
    ClientRig rig(kInterval, 0);
    ThreadWatch watch("tcp_reconnect");
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    const int drops = 5;
    for (int i = 0; i < drops; ++i) {
        ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == static_cast<size_t>(i + 1); }, 5s)) << i;
        ASSERT_TRUE(server.wait_connections(i + 1, 5s));
        server.close_rst();
    }
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == drops + 1u; }, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kInterval));
    EXPECT_EQ(server.connections(), drops + 1);
    EXPECT_EQ(rig.rec->n_connected(), drops + 1u);
    EXPECT_EQ(rig.rec->n_disconnects(), static_cast<size_t>(drops));
    for (auto& t : rig.rec->connected_copy()) EXPECT_EQ(t, "tcp_on_connect");
    EXPECT_EQ(watch.most(), 1);
    // the on-connect threads are all gone once their callbacks ran
    EXPECT_TRUE(rig.rec->wait([] { return threads_named("tcp_on_connect") == 0; }, 5s));
}

TEST(ClientReconnect, StopGivesZeroAndEmptyTextAndNoMoreRetries) {
    FrameTestServer server;
    ClientRig rig(kInterval, kInterval);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 1; }, 5s));
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_LT(Clock::now() - t0, 1s);
    const auto d = rig.rec->disconnects_copy();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, 0);
    EXPECT_EQ(d[0].text, "");
    EXPECT_TRUE(server.wait_closed_by_client(0, 5s));
    // silence, timers, nothing: no heartbeat timeout, no retry, no second callback
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * kInterval));
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(rig.logged("reconnecting("), 0);
    EXPECT_EQ(rig.logged("heartbeat timeout"), 0);
    EXPECT_EQ(rig.rec->n_disconnects(), 1u);
    EXPECT_EQ(threads_named("tcp_reconnect"), 0);
    EXPECT_EQ(rig.client->request_async(1, 1, "x", 1), 2001);
}

TEST(ClientReconnect, StopDuringTheReconnectWaitEndsTheRetries) {
    FrameTestServer server;
    ClientRig rig(kInterval, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    server.stop_listening();
    server.close_rst();
    ASSERT_TRUE(rig.wait_logged("network error(", 1, 5s));
    EXPECT_EQ(rig.client->stop(), 0);
    const int attempts = rig.logged("network error(");
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kInterval));
    EXPECT_EQ(rig.logged("network error("), attempts);
    EXPECT_EQ(rig.rec->n_disconnects(), 1u);  // the reset only: stop had no connection to end
    EXPECT_TRUE(rig.rec->wait([] { return threads_named("tcp_reconnect") == 0; }, 2s));
}

TEST(ClientReconnect, StopThenQuickConnectKeepsTheNewConnection) {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    FrameTestServer server(o);
    ClientRig rig(kInterval, 20);
    const std::string url = server.url();
    ASSERT_EQ(rig.client->connect(url), 0);
    const int rounds = 10;
    for (int i = 0; i < rounds; ++i) {
        ASSERT_EQ(rig.client->stop(), 0) << i;
        ASSERT_EQ(rig.client->connect(url), 0) << i;
    }
    ASSERT_TRUE(server.wait_connections(rounds + 1, 5s));
    // longer than three heartbeat intervals and several reconnect intervals: a stale read,
    // timer or reconnect chain of an earlier connection would have shown by now
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(rig.client->is_connected());
    EXPECT_EQ(server.connections(), rounds + 1);
    EXPECT_EQ(server.open_connections(), 1);
    const auto d = rig.rec->disconnects_copy();
    EXPECT_EQ(d.size(), static_cast<size_t>(rounds));
    for (auto& s : d) EXPECT_EQ(s.code, 0);
    EXPECT_EQ(rig.logged("heartbeat timeout"), 0);
    ASSERT_EQ(rig.client->request_async(7, 70, "n", 1), 0);
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 5s));
    EXPECT_EQ(server.frames(kFrameRequest)[0].connection, rounds);
    EXPECT_TRUE(rig.rec->wait([&] { return rig.rec->n_heartbeats(0) >= 3; }, 5s));
    EXPECT_TRUE(rig.client->is_connected());
}

TEST(ClientReconnect, QuickConnectWhileARetryIsPendingMakesOneConnection) {
    FrameTestServer server;
    ClientRig rig(kInterval, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    server.close_rst();  // the reconnect thread starts its wait
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
    EXPECT_EQ(rig.client->stop(), 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kInterval));
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(server.open_connections(), 1);
    EXPECT_TRUE(rig.client->is_connected());
}

TEST(ClientReconnect, ConnectWhileConnectedReplacesTheConnection) {
    FrameTestServer a, b;
    ClientRig rig(kInterval, 0);
    ASSERT_EQ(rig.client->connect(a.url()), 0);
    ASSERT_TRUE(a.wait_connections(1, 5s));
    ASSERT_EQ(rig.client->connect(b.url()), 0);
    EXPECT_TRUE(a.wait_closed_by_client(0, 5s));
    ASSERT_TRUE(b.wait_connections(1, 5s));
    // the old connection's (0, "") comes after its connected callback, which may still be due
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() >= 1; }, 5s))
        << rig.rec->n_connected() << " connected\n"
        << rig.log_text();
    const auto d = rig.rec->disconnects_copy();
    ASSERT_EQ(d.size(), 1u) << d[1].code << " " << d[1].text << " on " << d[1].thread << "\n" << rig.log_text();
    EXPECT_EQ(d[0].code, 0);
    ASSERT_EQ(rig.client->request_async(1, 2, "b", 1), 0);
    ASSERT_TRUE(b.wait_frames(kFrameRequest, 1, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kInterval));
    EXPECT_EQ(a.connections(), 1);  // the old target is not retried
}

TEST(ClientReconnect, ConnectFromInsideACallbackKeepsTheNewConnection) {
    // The old connection's read ends after the new one is up, on the same thread: its
    // completion must not be taken for a failure of the new connection.
    FrameTestServer a, b;
    ClientRig rig(kInterval, 0);
    TcpClient* client = rig.client.get();
    std::atomic<int> rc{-1};
    const std::string to = b.url();
    rig.rec->on_push = [&](const Received& r) {
        if (r.request_id == 1) rc = client->connect(to);
        return 0;
    };
    ASSERT_EQ(rig.client->connect(a.url()), 0);
    ASSERT_TRUE(a.wait_connections(1, 5s));
    ASSERT_TRUE(a.send_frame(kFramePush, 1, 1, {1}, 0));
    ASSERT_TRUE(rig.rec->wait([&] { return rc.load() != -1; }, 5s));
    EXPECT_EQ(rc.load(), 0);
    ASSERT_TRUE(b.wait_connections(1, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kInterval));
    EXPECT_TRUE(rig.client->is_connected()) << rig.log_text();
    EXPECT_EQ(b.connections(), 1);
    EXPECT_EQ(rig.rec->n_disconnects(), 1u);  // the old connection's (0, "") only
    ASSERT_TRUE(b.send_frame(kFramePush, 1, 2, {2}, 0));
    EXPECT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 2; }, 5s));
}

TEST(ClientReconnect, RetryWhileTheIoThreadIsBusyDoesNotComeBackAfterStopAndConnect) {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    FrameTestServer old_target(o), new_target(o);
    ClientRig rig(kInterval, 40, 50);  // stop gives up on a busy io thread after 50 ms
    std::atomic<bool> hold{true};
    rig.rec->on_heartbeat = [&](int code) {
        // the timer of the lost connection: the io thread stays busy here while the reconnect
        // thread makes its attempt on its own
        if (code == -1)
            while (hold.load()) std::this_thread::sleep_for(1ms);
    };
    ASSERT_EQ(rig.client->connect(old_target.url()), 0);
    ASSERT_TRUE(old_target.wait_connections(1, 5s));
    old_target.close_rst();
    ASSERT_TRUE(rig.wait_logged("reconnecting(", 1, 5s));
    std::this_thread::sleep_for(20ms);
    rig.client->stop();  // may report 2004: the io thread is held
    // The retry may have come up before the stop (then the stop ended it), never after it.
    // Counted from the client's own log: the server's accept thread may not have taken a
    // connection the client already made.
    const std::string old_connect = "(" + old_target.url() + ")connect success.";
    const int old_connects = rig.logged(old_connect);
    EXPECT_GE(old_connects, 1);
    EXPECT_LE(old_connects, 2);
    std::thread release([&] {
        std::this_thread::sleep_for(100ms);
        hold = false;
    });
    ASSERT_EQ(rig.client->connect(new_target.url()), 0);
    release.join();
    ASSERT_TRUE(new_target.wait_connections(1, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kInterval));
    EXPECT_EQ(rig.logged(old_connect), old_connects) << rig.log_text();
    EXPECT_LE(old_target.connections(), 2) << rig.log_text();
    EXPECT_EQ(new_target.connections(), 1) << rig.log_text();
    EXPECT_TRUE(rig.client->is_connected());
    // the silence of the new connection counts from when its reads began, not from the
    // attempt the busy io thread could not yet follow
    EXPECT_EQ(rig.logged("heartbeat timeout"), 0);
    EXPECT_EQ(rig.logged("reconnecting(tcp://127.0.0.1:" + std::to_string(old_target.port()) + ")"), 1);
}

// Where the off-line command may arrive: inside a callback on the io thread.
struct StopInside {
    const char* name;
    int reconnect_ms;
};

class ClientStopInsideCallback : public ::testing::TestWithParam<StopInside> {};

TEST_P(ClientStopInsideCallback, ReturnsAtOnceWithoutWaitingForTheIoThread) {
    FrameTestServer server;
    // stop would wait this long for the io thread if it did: far above the bound below
    ClientRig rig(GetParam().reconnect_ms, 0, 3000);
    TcpClient* client = rig.client.get();
    std::atomic<int> rc{-1};
    std::atomic<long long> took_ms{-1};
    std::string where;
    std::mutex where_mu;
    auto stop_here = [&] {
        const auto t0 = Clock::now();
        rc = client->stop();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
        {
            std::lock_guard<std::mutex> lk(where_mu);
            where = thread_name();
        }
        took_ms = took;  // last: the test reads the rest once it sees this
    };
    const std::string name = GetParam().name;
    std::atomic<bool> done{false};
    if (name == "Push") {
        rig.rec->on_push = [&](const Received&) {
            if (!done.exchange(true)) stop_here();
            return 0;
        };
    } else if (name == "Heartbeat") {
        rig.rec->on_heartbeat = [&](int code) {
            if (code == 0 && !done.exchange(true)) stop_here();
        };
    } else {  // Disconnected: the peer went away and the client would retry
        rig.rec->on_disconnected = [&](int code) {
            if (code != 0 && !done.exchange(true)) stop_here();
        };
    }
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    // a connection lost before its connected callback returned is reported on the on-connect
    // thread, after that callback; here the io thread is meant
    ASSERT_TRUE(rig.wait_connected_done(1, 5s));
    if (name == "Push") {
        ASSERT_TRUE(server.send_frame(kFramePush, 1, 1, {1}, 0));
    } else if (name == "Heartbeat") {
        ASSERT_TRUE(server.send_bytes(encode_heartbeat()));
    } else {
        server.close_rst();
    }

    ASSERT_TRUE(rig.rec->wait([&] { return took_ms.load() >= 0; }, 10s));
    EXPECT_EQ(rc.load(), 0);
    EXPECT_LT(took_ms.load(), 1000);
    {
        std::lock_guard<std::mutex> lk(where_mu);
        EXPECT_EQ(where, "tcp_cli_async");
    }
    ASSERT_TRUE(rig.rec->wait([&] { return !rig.client->is_connected(); }, 5s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.connections(), 1);  // no retry after the stop
    EXPECT_EQ(rig.rec->n_disconnects(), 1u);
    if (name != "Disconnected") {
        EXPECT_EQ(rig.rec->disconnects_copy()[0].code, 0);
        EXPECT_TRUE(server.wait_closed_by_client(0, 5s));
    }

    // the io thread is free: a new connection works as the first did
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(server.wait_connections(2, 5s));
    ASSERT_TRUE(server.send_frame(kFramePush, 1, 2, {2}, 0));
    EXPECT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() >= (name == "Push" ? 2u : 1u); }, 5s));
    EXPECT_TRUE(rig.client->is_connected());
}

INSTANTIATE_TEST_SUITE_P(Table, ClientStopInsideCallback,
                         ::testing::Values(StopInside{"Push", 0}, StopInside{"Heartbeat", 0},
                                           StopInside{"Disconnected", kInterval}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClientReconnect, StopFromTheConnectedCallbackEndsTheConnection) {
    FrameTestServer server;
    ClientRig rig(kInterval, 0);
    TcpClient* client = rig.client.get();
    std::atomic<int> rc{-1};
    rig.rec->on_connected = [&] { rc = client->stop(); };
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(rig.rec->wait([&] { return rc.load() != -1; }, 5s));
    EXPECT_EQ(rc.load(), 0);
    EXPECT_FALSE(rig.client->is_connected());
    EXPECT_TRUE(server.wait_closed_by_client(0, 5s));
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kInterval));
    EXPECT_EQ(server.connections(), 1);
}

}  // namespace
