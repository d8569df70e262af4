// TcpSocket and LocalSocket against plain POSIX loopback listeners.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "infra/tcp_framework/client/ErrorCategory.h"
#include "infra/tcp_framework/client/LocalSocket.h"
#include "infra/tcp_framework/client/TcpSocket.h"

namespace {

using namespace tcp_framework::client;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Pred>
bool wait_until(Pred pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class LineSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    bool has(const std::string& part) {
        std::lock_guard<std::mutex> lk(mutex_);
        for (auto& l : lines_)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        lines_.emplace_back(msg.payload.data(), msg.payload.size());
    }
    void flush_() override {}

private:
    std::vector<std::string> lines_;
};

// A listener on loopback (IPv4, IPv6 or a Unix path) that accepts connections one after
// another and keeps everything each one sent. Reading can be paused.
class Peer {
public:
    explicit Peer(int family, const std::string& path = std::string()) : family_(family), path_(path) {
        fd_ = ::socket(family, SOCK_STREAM, 0);
        if (fd_ < 0) return;
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        bool bound = false;
        if (family == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bound = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        } else if (family == AF_INET6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            bound = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        } else {
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
            ::unlink(path.c_str());
            bound = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
        if (!bound || ::listen(fd_, 8) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        if (family != AF_UNIX) {
            sockaddr_storage s{};
            socklen_t len = sizeof s;
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&s), &len);
            port_ = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&s)->sin_port)
                                      : ntohs(reinterpret_cast<sockaddr_in6*>(&s)->sin6_port);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Peer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        if (conn_ >= 0) ::close(conn_);
        if (family_ == AF_UNIX) ::unlink(path_.c_str());
    }
    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    void set_reading(bool on) { reading_ = on; }
    int connections() const { return connections_.load(); }
    std::vector<uint8_t> bytes(int connection) {
        std::lock_guard<std::mutex> lk(mutex_);
        return connection < static_cast<int>(received_.size()) ? received_[connection] : std::vector<uint8_t>();
    }
    size_t byte_count(int connection) { return bytes(connection).size(); }
    // Abortive close of the current connection: the client sees a reset.
    void reset_current() { reset_ = true; }

private:
    void run() {
        std::vector<uint8_t> buf(1 << 16);
        while (!stop_) {
            if (reset_.exchange(false) && conn_ >= 0) {
                linger lg{1, 0};
                ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
                ::close(conn_);
                conn_ = -1;
            }
            pollfd p[2] = {{fd_, POLLIN, 0}, {conn_, static_cast<short>(reading_ ? POLLIN : 0), 0}};
            if (::poll(p, conn_ >= 0 ? 2 : 1, 5) <= 0) continue;
            if (p[0].revents & POLLIN) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c >= 0) {
                    if (conn_ >= 0) ::close(conn_);
                    conn_ = c;
                    std::lock_guard<std::mutex> lk(mutex_);
                    received_.emplace_back();
                    connections_++;
                }
            }
            if (conn_ >= 0 && reading_ && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::recv(conn_, buf.data(), buf.size(), 0);
                if (n > 0) {
                    std::lock_guard<std::mutex> lk(mutex_);
                    received_.back().insert(received_.back().end(), buf.data(), buf.data() + n);
                } else {
                    ::close(conn_);
                    conn_ = -1;
                }
            }
        }
    }

    int family_;
    std::string path_;
    int fd_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{true};
    std::atomic<bool> reset_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> received_;
};

// A loopback port that nothing listens on: bound, never listened, then released.
uint16_t unused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// An io_context run by one thread, as the client runs it.
class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        sink_ = std::make_shared<LineSink>();
        logger_ = std::make_shared<spdlog::logger>("socket_test", sink_);
        logger_->set_level(spdlog::level::trace);
        io_thread_ = std::thread([this] { io_.run(); });
    }
    void TearDown() override {
        work_.reset();
        io_.stop();
        io_thread_.join();
    }
    std::shared_ptr<TcpSocket> tcp(uint32_t init = TcpSocket::RING_INIT_SIZE, uint32_t growth = 4,
                                   uint32_t max = TcpSocket::RING_MAX_SIZE) {
        return std::make_shared<TcpSocket>(io_, logger_, init, growth, max);
    }
    static std::vector<uint8_t> frame(uint32_t size, uint8_t fill) { return std::vector<uint8_t>(size, fill); }

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ = asio::make_work_guard(io_);
    std::thread io_thread_;
    std::shared_ptr<LineSink> sink_;
    std::shared_ptr<spdlog::logger> logger_;
};

TEST(ErrorCategoryTest, TextsOfTheFrameworkCodes) {
    const struct {
        int code;
        const char* text;
    } cases[] = {{0, ""}, {1002, ""}, {1005, "invalid package."}, {2005, "heartbeat timeout."},
                 {5001, "send buffer full."}, {-1, ""}};
    for (const auto& c : cases) EXPECT_EQ(error_category().message(c.code), c.text) << c.code;
    EXPECT_STREQ(error_category().name(), "error category name.");
    EXPECT_EQ(make_tcp_error(5001).message(), "send buffer full.");
}

TEST_F(SocketTest, ReachesAnIpv6LoopbackListener) {
    Peer peer(AF_INET6);
    if (!peer.ok()) GTEST_SKIP() << "no IPv6 loopback here";
    auto s = tcp();
    std::error_code ec;
    s->connect("::1", peer.port(), ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_TRUE(s->is_open());
    EXPECT_EQ(s->remote_endpoint(), "tcp://::1:" + std::to_string(peer.port()));
    EXPECT_EQ(s->local_endpoint().rfind("tcp://::1:", 0), 0u) << s->local_endpoint();
    const auto f = frame(40, 0x5A);
    s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
    EXPECT_FALSE(ec);
    EXPECT_TRUE(wait_until([&] { return peer.byte_count(0) == f.size(); }));
}

TEST_F(SocketTest, HostsThatAreNotNumericAddressesAreRefused) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    for (const char* host : {"localhost", "", "127.0.0.1.1", "not a host"}) {
        auto s = tcp();
        std::error_code ec;
        s->connect(host, peer.port(), ec);
        EXPECT_EQ(ec, std::make_error_code(std::errc::invalid_argument)) << host;
        EXPECT_FALSE(s->is_open()) << host;
        EXPECT_EQ(s->local_endpoint(), "");
    }
    EXPECT_EQ(peer.connections(), 0);
}

TEST_F(SocketTest, WritingWithoutAConnectionReportsAnError) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    auto s = tcp();
    const auto f = frame(34, 1);
    std::error_code ec;
    s->write(f.data(), 34, ec);
    EXPECT_TRUE(ec);

    s->connect("127.0.0.1", unused_port(), ec);
    EXPECT_EQ(ec.value(), ECONNREFUSED) << ec.message();
    EXPECT_FALSE(s->is_open());
    ec.clear();
    s->write(f.data(), 34, ec);
    EXPECT_TRUE(ec);

    // nothing was queued: the first bytes on a later connection are the later frame
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    const auto g = frame(34, 2);
    s->write(g.data(), 34, ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) >= 34; }));
    EXPECT_EQ(peer.bytes(0), g);
}

TEST_F(SocketTest, FramesArriveWholeAndInOrder) {
    // same bytes on the wire whether queued records are gathered into one write or not
    for (bool gather : {true, false}) {
        Peer peer(AF_INET);
        ASSERT_TRUE(peer.ok());
        // a small ring, so records wrap around its end and it grows while the writer runs ahead
        auto s = tcp(4096, 4, 1 << 20);
        s->set_write_gathering(gather);
        std::error_code ec;
        s->connect("127.0.0.1", peer.port(), ec);
        ASSERT_FALSE(ec);
        std::vector<uint8_t> expected;
        for (uint32_t i = 0; i < 2000; ++i) {
            std::vector<uint8_t> f(34 + (i * 37) % 900);
            for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>(i + k);
            s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
            ASSERT_FALSE(ec) << i;
            expected.insert(expected.end(), f.begin(), f.end());
        }
        ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) >= expected.size(); }))
            << gather << " got " << peer.byte_count(0) << " of " << expected.size();
        EXPECT_TRUE(peer.bytes(0) == expected) << "gather=" << gather;
    }
}

// A batch of many records meets a full send buffer, so writes end in the middle of a record;
// the next write goes on from that byte.
TEST_F(SocketTest, ShortWritesGoOnWhereTheyStopped) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    peer.set_reading(false);
    auto s = tcp();
    std::error_code ec;
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    std::vector<uint8_t> expected;
    for (uint32_t i = 0; i < 600; ++i) {
        std::vector<uint8_t> f(1000 + (i * 4099) % 30000);
        for (size_t k = 0; k < f.size(); ++k) f[k] = static_cast<uint8_t>(i * 3 + k);
        s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
        ASSERT_FALSE(ec) << i;
        expected.insert(expected.end(), f.begin(), f.end());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the send buffer fills meanwhile
    peer.set_reading(true);
    // about 10 MB through loopback: a sanitizer build on a busy machine takes its time
    ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) >= expected.size(); }, 60s))
        << "got " << peer.byte_count(0) << " of " << expected.size();
    EXPECT_TRUE(peer.bytes(0) == expected);
}

TEST_F(SocketTest, AFullRingRefusesWith5001AndClosesTheConnection) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    peer.set_reading(false);
    // segments of 64 KiB, 256 KiB and 1 MiB; the next would pass the maximum
    auto s = tcp(65536, 4, 1 << 20);
    std::error_code ec;
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    const auto f = frame(16384, 7);
    int writes = 0;
    for (; writes < 20000 && !ec; ++writes) s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
    ASSERT_TRUE(ec) << "the ring never filled";
    EXPECT_EQ(ec, make_tcp_error(5001));
    EXPECT_EQ(ec.message(), "send buffer full.");
    EXPECT_TRUE(sink_->has("async sending queue expand limit."));
    EXPECT_TRUE(wait_until([&] { return !s->is_open(); }));
    ec.clear();
    s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
    EXPECT_TRUE(ec) << "a closed socket must not take frames";
}

TEST_F(SocketTest, AFrameWhoseWriteFailedGoesOutFirstOnTheNextConnection) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    auto s = tcp();
    std::error_code ec;
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(wait_until([&] { return peer.connections() == 1; }));

    // learn of the peer's reset through a read, as the client does
    std::atomic<bool> read_failed{false};
    uint8_t byte = 0;
    s->async_read(&byte, 1, [&](std::error_code rec, std::size_t) { read_failed = static_cast<bool>(rec); });
    peer.reset_current();
    ASSERT_TRUE(wait_until([&] { return read_failed.load(); }));

    const auto lost = frame(100, 0xA1);
    s->write(lost.data(), 100, ec);
    ASSERT_FALSE(ec) << "queued while the socket still looked open";
    ASSERT_TRUE(wait_until([&] { return !s->is_open(); })) << "the failed write closes the socket";
    EXPECT_TRUE(sink_->has("async write error."));

    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(wait_until([&] { return peer.connections() == 2; }));
    const auto next = frame(50, 0xB2);
    s->write(next.data(), 50, ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(wait_until([&] { return peer.byte_count(1) >= 150; }));
    std::vector<uint8_t> expected = lost;
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(peer.bytes(1), expected);
}

TEST_F(SocketTest, CloseIsQuietWithoutAConnectionAndEndsPendingReads) {
    auto never = tcp();
    std::error_code ec;
    never->close(ec);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(never->is_open());
    EXPECT_EQ(never->remote_endpoint(), "");

    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    auto s = tcp();
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    std::atomic<bool> done{false};
    uint8_t buf[32];
    s->async_read(buf, sizeof buf, [&](std::error_code rec, std::size_t) { done = static_cast<bool>(rec); });
    s->close(ec);
    EXPECT_FALSE(ec);
    EXPECT_TRUE(wait_until([&] { return done.load(); }));
    EXPECT_FALSE(s->is_open());
    s->close(ec);  // twice
    EXPECT_FALSE(ec);
}

TEST_F(SocketTest, UnixPathsLongerThanTheAddressFieldAreRefused) {
    LocalSocket s(io_, logger_);
    const struct {
        size_t length;
        bool too_long;
    } cases[] = {{108, true}, {200, true}, {107, false}};
    for (const auto& c : cases) {
        const std::string path = "/tmp/" + std::string(c.length - 5, 'p');
        std::error_code ec;
        s.connect(path, 0, ec);
        EXPECT_EQ(ec == std::error_code(ENAMETOOLONG, std::system_category()), c.too_long) << c.length;
        EXPECT_TRUE(ec) << "nothing listens there";
        EXPECT_FALSE(s.is_open());
    }
}

TEST_F(SocketTest, UnixSocketSendsSynchronouslyAndReportsEndpoints) {
    const std::string path = "/tmp/oxa_socket_test_" + std::to_string(::getpid()) + ".sock";
    Peer peer(AF_UNIX, path);
    ASSERT_TRUE(peer.ok());
    LocalSocket s(io_, logger_);
    const auto f = frame(34, 3);
    std::error_code ec;
    s.write(f.data(), 34, ec);
    EXPECT_EQ(ec, std::error_code(EBADF, std::system_category()));

    ec.clear();
    s.connect(path, 9999, ec);
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_TRUE(s.is_open());
    EXPECT_EQ(s.remote_endpoint(), "unix://" + path);
    EXPECT_EQ(s.local_endpoint(), "unix://");
    // more than a socket buffer's worth, written by the caller's thread alone
    std::vector<uint8_t> big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    s.write(big.data(), static_cast<uint32_t>(big.size()), ec);
    ASSERT_FALSE(ec);
    EXPECT_TRUE(wait_until([&] { return peer.byte_count(0) == big.size(); }));
    EXPECT_TRUE(peer.bytes(0) == big);

    s.close(ec);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(s.is_open());
    EXPECT_EQ(s.local_endpoint(), "");
    s.write(f.data(), 34, ec);
    EXPECT_EQ(ec, std::error_code(EBADF, std::system_category()));
}

TEST_F(SocketTest, ClosingUnblocksAUnixWriterThatWaitsForRoom) {
    const std::string path = "/tmp/oxa_socket_test_stall_" + std::to_string(::getpid()) + ".sock";
    Peer peer(AF_UNIX, path);
    ASSERT_TRUE(peer.ok());
    peer.set_reading(false);
    LocalSocket s(io_, logger_);
    std::error_code ec;
    s.connect(path, 0, ec);
    ASSERT_FALSE(ec);
    std::vector<uint8_t> big(32 << 20);
    std::atomic<bool> returned{false};
    std::error_code wec;
    std::thread writer([&] {
        s.write(big.data(), static_cast<uint32_t>(big.size()), wec);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);  // let the writer fill the socket and wait
    EXPECT_FALSE(returned.load());
    std::error_code cec;
    s.close(cec);
    EXPECT_TRUE(wait_until([&] { return returned.load(); }));
    writer.join();
    EXPECT_TRUE(wec);
}

// A send layer that lets the first `budget` bytes through to the real socket and then fails
// every send as a reset connection would, until it is told to pass everything.
struct FailAfter {
    std::atomic<long> budget{0};
    std::atomic<bool> pass{false};
    ssize_t operator()(int fd, const struct iovec* iov, int iovcnt) {
        msghdr msg{};
        std::vector<struct iovec> cut;
        if (!pass.load()) {
            long left = budget.load();
            if (left <= 0) {
                errno = ECONNRESET;
                return -1;
            }
            for (int i = 0; i < iovcnt && left > 0; ++i) {
                const size_t n = std::min(iov[i].iov_len, static_cast<size_t>(left));
                cut.push_back(iovec{iov[i].iov_base, n});
                left -= static_cast<long>(n);
            }
            iov = cut.data();
            iovcnt = static_cast<int>(cut.size());
        }
        msg.msg_iov = const_cast<struct iovec*>(iov);
        msg.msg_iovlen = static_cast<size_t>(iovcnt);
        const ssize_t n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0 && !pass.load()) budget -= n;
        return n;
    }
};

// A gateway that received a record whole executes it: after a failed send, only the records the
// old connection did not take whole go out again on the next one, the cut one from its start.
// N runs over every record boundary and into every record, for frames the writer sends itself
// and for frames the event loop gathers into one send.
TEST_F(SocketTest, AFailedSendResendsOnlyWhatTheConnectionDidNotTakeWhole) {
    const std::vector<uint32_t> sizes = {40, 100, 70};
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> all;
    std::vector<size_t> starts;
    for (size_t r = 0; r < sizes.size(); ++r) {
        starts.push_back(all.size());
        frames.emplace_back(sizes[r]);
        for (size_t k = 0; k < sizes[r]; ++k) frames[r][k] = static_cast<uint8_t>(r * 64 + k);
        all.insert(all.end(), frames[r].begin(), frames[r].end());
    }
    const auto later = frame(34, 0xEE);   // written once the first records failed
    const auto after = frame(50, 0xBB);   // written on the new connection
    std::vector<long> cuts;
    for (size_t b = 0; b <= all.size(); ++b) cuts.push_back(static_cast<long>(b));  // every byte

    for (bool queued : {false, true}) {
        for (long n : cuts) {
            SCOPED_TRACE((queued ? "gathered by the event loop, N=" : "sent by the writer, N=") + std::to_string(n));
            Peer peer(AF_INET);
            ASSERT_TRUE(peer.ok());
            auto s = tcp();
            auto layer = std::make_shared<FailAfter>();
            layer->budget = n;
            s->set_send_hook([layer](int fd, const struct iovec* iov, int cnt) { return (*layer)(fd, iov, cnt); });
            s->set_direct_send(!queued);
            std::error_code ec;
            s->connect("127.0.0.1", peer.port(), ec);
            ASSERT_FALSE(ec);
            ASSERT_TRUE(wait_until([&] { return peer.connections() == 1; }));

            // Queued: the event loop is held until every record is in the ring, so one send
            // carries them all.
            std::promise<void> go;
            if (queued) {
                auto held = go.get_future().share();
                asio::post(io_, [held] { held.wait(); });
            }
            // A writer that meets the failure itself closes the socket at once: the frames after
            // it are refused (the writer learns they were not sent) and are not expected later.
            std::vector<bool> accepted;
            for (auto& f : frames) {
                ec.clear();
                s->write(f.data(), static_cast<uint32_t>(f.size()), ec);
                accepted.push_back(!ec);
                if (queued) {
                    ASSERT_FALSE(ec);
                }
            }
            EXPECT_TRUE(accepted[0]);
            if (queued) go.set_value();
            const size_t taken = static_cast<size_t>(n);
            if (taken == all.size()) {
                // everything went through; the failure comes with the next frame
                ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) == all.size(); }));
                s->write(later.data(), static_cast<uint32_t>(later.size()), ec);
                ASSERT_FALSE(ec);
            }
            ASSERT_TRUE(wait_until([&] { return !s->is_open(); })) << "the failed send closes the socket";
            ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) == taken; }));
            EXPECT_EQ(peer.bytes(0), std::vector<uint8_t>(all.begin(), all.begin() + n));

            layer->pass = true;
            s->connect("127.0.0.1", peer.port(), ec);
            ASSERT_FALSE(ec);
            ASSERT_TRUE(wait_until([&] { return peer.connections() == 2; }));
            s->write(after.data(), static_cast<uint32_t>(after.size()), ec);
            ASSERT_FALSE(ec);
            std::vector<uint8_t> expected;
            size_t first = sizes.size();  // the first record the old connection did not take whole
            for (size_t r = 0; r < sizes.size(); ++r)
                if (starts[r] + sizes[r] > taken) {
                    first = r;
                    break;
                }
            for (size_t r = first; r < sizes.size(); ++r)
                if (accepted[r]) expected.insert(expected.end(), frames[r].begin(), frames[r].end());
            if (taken == all.size()) expected.insert(expected.end(), later.begin(), later.end());
            expected.insert(expected.end(), after.begin(), after.end());
            ASSERT_TRUE(wait_until([&] { return peer.byte_count(1) >= expected.size(); }))
                << peer.byte_count(1) << " of " << expected.size();
            std::this_thread::sleep_for(2ms);  // nothing more may follow
            EXPECT_EQ(peer.bytes(1), expected);
            if (HasFailure()) return;
        }
    }
}

// A writer that finds the ring empty sends its frame itself, so an order does not wait for the
// event loop; a frame the kernel takes only in part is finished by the event loop, and frames
// written meanwhile queue behind it.
TEST_F(SocketTest, AWriterSendsItselfAndAPartlySentFrameIsFinishedInOrder) {
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.ok());
    auto s = tcp();
    std::atomic<int> calls{0};
    std::atomic<long> first_call_limit{10};
    s->set_send_hook([&](int fd, const struct iovec* iov, int cnt) -> ssize_t {
        calls++;
        std::vector<struct iovec> v(iov, iov + cnt);
        const long limit = first_call_limit.exchange(-1);
        if (limit > 0) v = {iovec{iov[0].iov_base, static_cast<size_t>(limit)}};  // a short send
        msghdr msg{};
        msg.msg_iov = v.data();
        msg.msg_iovlen = v.size();
        return ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
    });
    std::error_code ec;
    s->connect("127.0.0.1", peer.port(), ec);
    ASSERT_FALSE(ec);
    // the event loop is held: whatever goes out before it runs was sent by the writer
    std::promise<void> go;
    auto held = go.get_future().share();
    asio::post(io_, [held] { held.wait(); });
    const auto a = frame(100, 0xA1), b = frame(60, 0xB2);
    s->write(a.data(), 100, ec);
    ASSERT_FALSE(ec);
    s->write(b.data(), 60, ec);
    ASSERT_FALSE(ec);
    ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) == 10; }));
    EXPECT_EQ(calls.load(), 1) << "the second frame queues behind the first";
    go.set_value();
    ASSERT_TRUE(wait_until([&] { return peer.byte_count(0) == 160; }));
    std::vector<uint8_t> expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(peer.bytes(0), expected);

    // alone again, after a pause: sent by the writer at once
    std::this_thread::sleep_for(5ms);
    std::promise<void> go2;
    auto held2 = go2.get_future().share();
    asio::post(io_, [held2] { held2.wait(); });
    s->write(a.data(), 100, ec);
    ASSERT_FALSE(ec);
    EXPECT_TRUE(wait_until([&] { return peer.byte_count(0) == 260; })) << "waited for the event loop";
    go2.set_value();
}

}  // namespace
