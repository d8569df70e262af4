// Where connect attempts run and what the connected and disconnected callbacks promise:
//  - an attempt runs on the thread that asks for it, and stop gives up an attempt stuck in SYN
//    at once, so a login (stop, then connect) never waits behind a retry to a black hole; the
//    given-up attempt's log line names its own url;
//  - every connection that came up gets exactly one connected callback, before its
//    disconnected callback, however short-lived it was;
//  - stop reports (0, "") on the thread that called it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "infra/tcp_framework/client/ISocket.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

int loopback_listener(uint16_t port, int backlog, uint16_t* bound) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *bound = ntohs(a.sin_port);
    return fd;
}

// A port whose listener never accepts and whose queue is full: the system drops every further
// SYN, so a connect to it hangs in SYN for as long as the system retries (minutes).
class BlackHole {
public:
    explicit BlackHole(uint16_t port = 0) {
        fd_ = loopback_listener(port, 0, &port_);
        if (fd_ < 0) return;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port_);
        for (int i = 0; i < 4; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(c);
        }
        std::this_thread::sleep_for(50ms);  // the queue fills
    }
    ~BlackHole() {
        for (int c : fillers_) ::close(c);
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

// Whether a connect to a black hole really hangs here; the tests below need it to.
bool black_holes_hang() {
    BlackHole h;
    if (!h.ok()) return false;
    auto client = std::make_shared<TcpClient>(0, nullptr);
    std::atomic<int> rc{-1};
    std::thread t([&] { rc = client->connect(h.url()); });
    std::this_thread::sleep_for(300ms);
    const bool hung = rc.load() == -1;
    client->stop();
    t.join();
    return hung;
}

TEST(ClientConnectAttempt, StopGivesUpAnAttemptStuckInSynAtOnce) {
    if (!black_holes_hang()) GTEST_SKIP() << "SYNs to a full listener are answered here";
    BlackHole hole;
    ClientRig rig(0, 0);
    std::atomic<int> rc{-1};
    std::atomic<int64_t> returned_ns{0};
    std::thread caller([&] {
        rc = rig.client->connect(hole.url());
        returned_ns = Clock::now().time_since_epoch().count();
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rc.load(), -1) << "the attempt runs on the caller's thread and waits for the SYN";
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->stop(), 0);
    caller.join();
    EXPECT_EQ(rc.load(), 1002);
    // the kernel would give the SYN up only after minutes
    EXPECT_LT(Clock::time_point(Clock::duration(returned_ns.load())) - t0, 10s);
    EXPECT_EQ(rig.logged("(" + hole.url() + ")connect abandoned"), 1) << rig.log_text();
    EXPECT_EQ(rig.logged("network error("), 0);  // giving up is not a network error
    EXPECT_EQ(rig.rec->n_connected(), 0u);
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
}

// What a login does to a connection whose retry hangs: stop, then connect to the gateway again.
TEST(ClientConnectAttempt, StopAndConnectDoNotWaitBehindARetryStuckInSyn) {
    if (!black_holes_hang()) GTEST_SKIP() << "SYNs to a full listener are answered here";
    FrameTestServer first;
    const uint16_t port = first.port();
    ClientRig rig(20, 0);
    ASSERT_EQ(rig.client->connect(first.url()), 0);
    ASSERT_TRUE(first.wait_connections(1, 5s));
    // the gateway's address starts to drop SYNs, and the connection is lost
    first.stop_listening();
    BlackHole hole(port);
    ASSERT_TRUE(hole.ok());
    first.close_rst();
    ASSERT_TRUE(rig.wait_logged("reconnecting(", 1, 5s));
    std::this_thread::sleep_for(50ms);  // the retry is in its SYN now

    FrameTestServer second;
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_EQ(rig.client->connect(second.url()), 0);
    EXPECT_LT(Clock::now() - t0, 10s);  // not the minutes of the stuck SYN
    EXPECT_TRUE(rig.client->is_connected());
    ASSERT_TRUE(second.wait_connections(1, 5s));
    EXPECT_EQ(rig.logged("(" + hole.url() + ")connect abandoned"), 1) << rig.log_text();
    EXPECT_EQ(rig.logged("(" + second.url() + ")connect abandoned"), 0);
    EXPECT_EQ(rig.client->request_async(1, 1, "x", 1), 0);
    EXPECT_TRUE(second.wait_frames(kFrameRequest, 1, 5s));
}

// A peer that closes every connection as soon as it has accepted it.
class Slammer {
public:
    Slammer() {
        fd_ = loopback_listener(0, 64, &port_);
        if (fd_ >= 0) thread_ = std::thread([this] { run(); });
    }
    ~Slammer() {
        quit_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    int accepted() const { return accepted_.load(); }

private:
    void run() {
        while (!quit_.load()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            accepted_++;
            ::close(c);
        }
    }
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> quit_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

TEST(ClientConnectAttempt, EveryShortLivedConnectionGetsItsConnectedCallbackFirst) {
    Slammer peer;
    std::mutex mu;
    std::string events;  // C when a connected callback returns, D when a disconnected one begins
    auto sink = std::make_shared<CaptureSink>();
    auto client = std::make_shared<TcpClient>(1, nullptr);
    client->set_logger(capture_logger(sink));
    client->set_stop_timeout(3000);
    client->set_connected_callback([&](std::shared_ptr<TcpClient>) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // a callback that takes a while
        std::lock_guard<std::mutex> lk(mu);
        events += 'C';
        return 0;
    });
    client->set_disconnected_callback([&](std::shared_ptr<TcpClient>, int, const char*) {
        std::lock_guard<std::mutex> lk(mu);
        events += 'D';
        return 0;
    });
    ASSERT_EQ(client->connect(peer.url()), 0);
    const auto until = Clock::now() + 400ms;
    while (Clock::now() < until) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(client->stop(), 0);
    // stop returns once every owed disconnected callback was made
    std::string seen;
    {
        std::lock_guard<std::mutex> lk(mu);
        seen = events;
    }
    const int successes = sink->count("connect success.");
    ASSERT_GE(successes, 10) << "the peer took too few connections to tell anything";
    EXPECT_EQ(static_cast<int>(seen.size()), 2 * successes) << seen;
    bool alternates = true;
    for (size_t i = 0; i < seen.size(); ++i) alternates = alternates && seen[i] == (i % 2 == 0 ? 'C' : 'D');
    EXPECT_TRUE(alternates) << seen;
}

TEST(ClientConnectAttempt, StopReportsOnItsOwnThreadAndMayHoldALockItsCallbackTakes) {
    FrameTestServer server;
    ClientRig rig(20, 20);
    std::recursive_mutex owner_lock;  // what an owner may hold around stop and take in the callback
    rig.rec->on_disconnected = [&](int) { std::lock_guard<std::recursive_mutex> lk(owner_lock); };
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(rig.wait_connected_done(1, 5s));
    std::string stop_thread;
    int rc = -1;
    std::thread owner([&] {
        pthread_setname_np(pthread_self(), "owner_thread");
        std::lock_guard<std::recursive_mutex> lk(owner_lock);
        rc = rig.client->stop();
    });
    owner.join();
    EXPECT_EQ(rc, 0);
    const auto d = rig.rec->disconnects_copy();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, 0);
    EXPECT_EQ(d[0].text, "");
    EXPECT_EQ(d[0].thread, "owner_thread");
}

// A connect to a port of this host where nothing listens can meet itself (the kernel picks the
// same port as its source): a socket bound to the port it connects to does so every time. That
// connection would read its own frames as a gateway's; it counts as refused.
TEST(ClientConnectAttempt, ConnectionToItselfIsRefused) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len));
    const std::error_code ec = tcp_framework::client::connect_descriptor(fd, &a, sizeof a, nullptr);
    EXPECT_EQ(ec.value(), ECONNREFUSED) << ec.message();
    ::close(fd);

    // an ordinary connection to a listener is untouched
    uint16_t port = 0;
    const int listener = loopback_listener(0, 4, &port);
    ASSERT_GE(listener, 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    a.sin_port = htons(port);
    EXPECT_FALSE(tcp_framework::client::connect_descriptor(client, &a, sizeof a, nullptr));
    ::close(client);
    ::close(listener);
}

}  // namespace
