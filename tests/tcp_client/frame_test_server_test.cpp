// The loopback peer is the yardstick of the client tests, so it is checked on its own first,
// against the published frame bytes and a raw socket, before it judges anything else.
#include "support/FrameTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>

#include <gtest/gtest.h>

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

int raw_connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -errno;
    }
    return fd;
}

// Reads until `n` bytes arrived, the peer closed, or 2 s passed. Returns the bytes and the
// last recv result (0 = FIN, -errno, or 1 = still open).
std::pair<std::vector<uint8_t>, int> raw_read(int fd, size_t n) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        uint8_t b[4096];
        ssize_t r = ::recv(fd, b, sizeof b, 0);
        if (r == 0) return {out, 0};
        if (r < 0) return {out, -errno};
        out.insert(out.end(), b, b + r);
    }
    return {out, 1};
}

void raw_send(int fd, const std::vector<uint8_t>& v) {
    ASSERT_EQ(::send(fd, v.data(), v.size(), MSG_NOSIGNAL), static_cast<ssize_t>(v.size()));
}

}  // namespace

TEST(FrameTestServerCodec, GoldenLoginRequest) {
    const std::vector<uint8_t> expected = {0xEF, 0xEF, 0x01, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x60, 0xCA, 0xA0, 0x95, 0xFE, 0xFE};
    EXPECT_EQ(encode_frame(kFrameRequest, 0xf0001, 5, nullptr, 0, 1), expected);
}

TEST(FrameTestServerCodec, CrcMatchesZlib) {
    EXPECT_EQ(peer_crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(peer_crc32("", 0), 0u);
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> v(rng() % 300);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        EXPECT_EQ(peer_crc32(v.data(), v.size()), crc32(0, v.data(), static_cast<uInt>(v.size())));
    }
}

TEST(FrameTestServerCodec, FaultSwitches) {
    FrameFields s;
    s.body = {1, 2, 3};
    auto good = encode_frame(s);
    ASSERT_EQ(good.size(), 37u);
    s.flip_crc_bit = 0;
    auto flipped = encode_frame(s);
    EXPECT_EQ(flipped[31] ^ good[31], 1);
    s.flip_crc_bit = -1;
    s.header_only = true;
    s.has_length_field = true;
    s.length_field = 0xFFFFFFFFu;
    auto hdr = encode_frame(s);
    ASSERT_EQ(hdr.size(), 32u);
    EXPECT_EQ(hdr[16], 0xFF);
    EXPECT_EQ(hdr[19], 0xFF);
}

TEST(FrameTestServerPeer, DecodesAndChecksEveryFrame) {
    FrameTestServer server;
    ASSERT_TRUE(server.listening());
    int fd = raw_connect(server.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.wait_connections(1, 2s));

    std::vector<uint8_t> all;
    auto a = encode_frame(kFrameRequest, 7, 0x0102030405060708ull, "abc", 3, 1);
    FrameFields bad;
    bad.content_type = kFrameRequest;
    bad.flip_crc_bit = 5;
    auto b = encode_frame(bad);
    FrameFields badtail;
    badtail.content_type = kFrameRequest;
    badtail.bad_tail = true;
    auto c = encode_frame(badtail);
    for (auto* v : {&a, &b, &c}) all.insert(all.end(), v->begin(), v->end());
    // Byte by byte across the three frames: the decoder must not care how bytes arrive.
    for (uint8_t byte : all) raw_send(fd, {byte});
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 3, 2s));
    auto f = server.frames();
    ASSERT_EQ(f.size(), 3u);
    EXPECT_TRUE(f[0].sound());
    EXPECT_EQ(f[0].message_id, 7u);
    EXPECT_EQ(f[0].request_id, 0x0102030405060708ull);
    EXPECT_EQ(f[0].async_flag, 1);
    EXPECT_EQ(f[0].body, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_FALSE(f[1].crc_ok);
    EXPECT_TRUE(f[1].tail_ok);
    EXPECT_TRUE(f[2].crc_ok);
    EXPECT_FALSE(f[2].tail_ok);
    EXPECT_EQ(server.bad_frames(), 2u);
    ::close(fd);
    EXPECT_TRUE(server.wait_closed_by_client(0, 2s));
}

TEST(FrameTestServerPeer, AnswersHeartbeatsAndEchoesRequests) {
    FrameTestServer::Options o;
    o.answer_heartbeats = true;
    o.echo_requests = true;
    FrameTestServer server(o);
    int fd = raw_connect(server.port());
    ASSERT_GE(fd, 0);
    raw_send(fd, encode_heartbeat());
    auto got = raw_read(fd, 34);
    EXPECT_EQ(got.first, encode_heartbeat());
    auto req = encode_frame(kFrameRequest, 0x20001, 42, "xy", 2, 1);
    raw_send(fd, req);
    got = raw_read(fd, 36);
    EXPECT_EQ(got.first, encode_frame(kFrameResponse, 0x20001, 42, "xy", 2, 1));
    ::close(fd);
}

TEST(FrameTestServerPeer, SplitJoinedAndLargestWrites) {
    FrameTestServer server;
    int fd = raw_connect(server.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.wait_connections(1, 2s));
    auto f1 = encode_frame(kFramePush, 1, 1, "a", 1, 0);
    auto f2 = encode_frame(kFramePush, 2, 2, "bb", 2, 0);
    ASSERT_TRUE(server.send_split(f1, 31));
    ASSERT_TRUE(server.send_joined({f1, f2, f1}));
    std::vector<uint8_t> big(kLargestReceivableBody, 0x5A);
    std::vector<uint8_t> expect;
    for (auto* v : {&f1, &f1, &f2, &f1}) expect.insert(expect.end(), v->begin(), v->end());
    auto bigframe = encode_frame(kFrameResponse, 3, 3, big.data(), static_cast<uint32_t>(big.size()), 1);
    expect.insert(expect.end(), bigframe.begin(), bigframe.end());
    std::thread t([&] { server.send_bytes(bigframe); });
    auto got = raw_read(fd, expect.size());
    t.join();
    EXPECT_EQ(got.first.size(), expect.size());
    EXPECT_TRUE(got.first == expect);
    ::close(fd);
}

TEST(FrameTestServerPeer, CloseWithFinOrReset) {
    FrameTestServer server;
    int fd = raw_connect(server.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.wait_connections(1, 2s));
    std::thread closer([&] { server.close_fin(); });
    auto got = raw_read(fd, 1);
    EXPECT_EQ(got.second, 0);  // orderly end of stream
    ::close(fd);
    closer.join();

    int fd2 = raw_connect(server.port());
    ASSERT_GE(fd2, 0);
    ASSERT_TRUE(server.wait_connections(2, 2s));
    server.close_rst();
    got = raw_read(fd2, 1);
    EXPECT_EQ(got.second, -ECONNRESET);
    ::close(fd2);
    EXPECT_EQ(server.connections(), 2);
}

TEST(FrameTestServerPeer, RefusesWhileNotListeningThenListensOnSamePort) {
    FrameTestServer server;
    const uint16_t port = server.port();
    server.stop_listening();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(raw_connect(port), -ECONNREFUSED);
    ASSERT_TRUE(server.listen_again());
    EXPECT_EQ(server.port(), port);
    int fd = raw_connect(port);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(server.wait_connections(1, 2s));
    ::close(fd);
}

TEST(FrameTestServerPeer, RefusesNAttemptsThenListensOnSamePort) {
    FrameTestServer server;
    const uint16_t port = server.port();
    std::atomic<int> refused{0};
    server.refuse_then_listen(3, [&] { return refused.load(); }, 10s);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(raw_connect(port), -ECONNREFUSED) << i;
        refused++;
    }
    ASSERT_TRUE(server.wait_listening(5s));
    EXPECT_EQ(server.port(), port);
    int fd = raw_connect(port);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(server.wait_connections(1, 2s));
    ::close(fd);
}

TEST(FrameTestServerPeer, StopsReading) {
    FrameTestServer server;
    server.set_reading(false);
    int fd = raw_connect(server.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(server.wait_connections(1, 2s));
    raw_send(fd, encode_heartbeat());
    std::this_thread::sleep_for(50ms);  // a frame must not be decoded while reading is off
    EXPECT_EQ(server.frame_count(), 0u);
    server.set_reading(true);
    EXPECT_TRUE(server.wait_frames(kFrameHeartbeat, 1, 2s));
    ::close(fd);
}
