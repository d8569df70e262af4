// Url parsing and the first connect: what connect returns, what it logs, what the last error
// holds, and what a connected client reports about itself.
#include <cerrno>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;
using tcp_framework::client::parse_url;

namespace {

struct UrlCase {
    const char* url;
    bool valid;
    const char* scheme;
    const char* host;
    uint16_t port;
};

// The port text reads as the standard string-to-int reads it; the port is its low 16 bits.
const UrlCase kUrls[] = {
    {"tcp://127.0.0.1:8080", true, "tcp", "127.0.0.1", 8080},
    {"tcp://1.2.3.4:", true, "tcp", "1.2.3.4", 0},          // nothing after the colon
    {"tcp://1.2.3.4", true, "tcp", "1.2.3.4", 0},           // no colon at all
    {"tcp://h: 80x", true, "tcp", "h", 80},                 // blank, digits, then a stop
    {"tcp://h:\t\n80", true, "tcp", "h", 80},
    {"tcp://h:+80", true, "tcp", "h", 80},
    {"tcp://h:0x50", true, "tcp", "h", 0},                  // decimal only: stops at x
    {"tcp://h:65616", true, "tcp", "h", 80},                // 65616 & 0xFFFF
    {"tcp://h:-1", true, "tcp", "h", 65535},
    {"tcp://h:2147483647", true, "tcp", "h", 65535},
    {"tcp://h:-2147483648", true, "tcp", "h", 0},
    {"tcp://h:2147483648", false, "", "", 0},               // outside 32 bits
    {"tcp://h:-2147483649", false, "", "", 0},
    {"tcp://h:99999999999999999999999", false, "", "", 0},
    {"tcp://h:abc", false, "", "", 0},
    {"tcp://h:-", false, "", "", 0},
    {"tcp://h:- 80", false, "", "", 0},
    {"tcp://h:  ", false, "", "", 0},
    {"tcp://::1:5", false, "", "", 0},                      // an IPv6 text does not split
    {"unix:///tmp/x.sock", true, "unix", "/tmp/x.sock", 0},
    {"udp://1.2.3.4:5", true, "udp", "1.2.3.4", 5},         // parses; connect refuses the scheme
    {"://h:1", true, "", "h", 1},
    {"1.2.3.4:5", false, "", "", 0},                        // no scheme
    {"", false, "", "", 0},
};

class UrlParse : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlParse, SplitsLikeTheStandardConversion) {
    const UrlCase& c = GetParam();
    std::string scheme = "?", host = "?";
    uint16_t port = 4242;
    ASSERT_EQ(parse_url(c.url, scheme, host, port), c.valid) << c.url;
    if (!c.valid) return;
    EXPECT_EQ(scheme, c.scheme) << c.url;
    EXPECT_EQ(host, c.host) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
}

INSTANTIATE_TEST_SUITE_P(Table, UrlParse, ::testing::ValuesIn(kUrls));

TEST(ClientConnect, RefusesBadUrlsAndSchemes) {
    ClientRig rig(30, 0);
    EXPECT_EQ(rig.client->connect("1.2.3.4:5"), 1003);
    EXPECT_EQ(rig.logged("invalid url: 1.2.3.4:5"), 1);
    EXPECT_EQ(rig.client->connect("tcp://127.0.0.1:abc"), 1003);
    EXPECT_EQ(rig.client->connect("udp://1.2.3.4:5"), 1004);
    EXPECT_EQ(rig.logged("unknown protocol: udp"), 1);
    EXPECT_FALSE(rig.client->is_connected());
    // nothing was attempted, so nothing is retried
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.logged("reconnect"), 0);
}

TEST(ClientConnect, SendingBeforeAnyConnectionIsRefused) {
    ClientRig rig(0, 0);
    EXPECT_EQ(rig.client->request_async(1, 1, "x", 1), 2001);
    EXPECT_EQ(rig.logged("not connected."), 1);
    std::string ip;
    uint16_t port = 0;
    EXPECT_EQ(rig.client->get_local_endpoint(ip, port), 1003);
    EXPECT_EQ(rig.client->get_remote_endpoint(ip, port), 2001);
    int code = -1;
    char text[1024];
    rig.client->get_last_error(&code, text);
    EXPECT_EQ(code, 0);
    EXPECT_STREQ(text, std::system_category().message(0).c_str());
    // nothing to stop: no wait, no failure
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_LT(Clock::now() - t0, 500ms);
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
}

TEST(ClientConnect, RefusalWithoutReconnectReturns1002AndKeepsTheError) {
    FrameTestServer server;
    const uint16_t port = server.port();
    server.stop_listening();
    ClientRig rig(0, 0);
    EXPECT_EQ(rig.client->connect("127.0.0.1", port), 1002);
    EXPECT_FALSE(rig.client->is_connected());
    int code = 0;
    char text[1024];
    rig.client->get_last_error(&code, text);
    EXPECT_EQ(code, ECONNREFUSED);
    EXPECT_STREQ(text, std::strerror(ECONNREFUSED));
    EXPECT_EQ(rig.logged(std::string("network error(") + std::to_string(ECONNREFUSED) + "):" +
                         std::strerror(ECONNREFUSED)),
              1);
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(rig.logged("network error("), 1);  // no retry without an interval
}

TEST(ClientConnect, HostNamesAreNotLookedUp) {
    FrameTestServer server;
    ClientRig rig(0, 0);
    EXPECT_EQ(rig.client->connect("tcp://localhost:" + std::to_string(server.port())), 1002);
    int code = 0;
    char text[1024];
    rig.client->get_last_error(&code, text);
    EXPECT_EQ(code, EINVAL);
    EXPECT_EQ(server.connections(), 0);
}

TEST(ClientConnect, RefusalWithReconnectReturns0AndRetriesEveryInterval) {
    FrameTestServer server;
    const uint16_t port = server.port();
    server.stop_listening();
    const int interval = 30;
    ClientRig rig(interval, 0);
    EXPECT_EQ(rig.client->connect("127.0.0.1", port), 0);
    ASSERT_TRUE(rig.wait_logged("network error(", 4, 5s));
    auto lines = rig.sink->matching("network error(");
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_GE(lines[i].at - lines[i - 1].at, std::chrono::milliseconds(interval - 2)) << i;
    EXPECT_GE(rig.logged("after 30ms reconnect(tcp://127.0.0.1:" + std::to_string(port) + ")"), 3);
    EXPECT_GE(rig.logged("reconnecting(tcp://127.0.0.1:"), 3);
    int code = 0;
    char text[1024];
    rig.client->get_last_error(&code, text);
    EXPECT_EQ(code, ECONNREFUSED);

    // stop ends the retries promptly; nothing is attempted afterwards
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_LT(Clock::now() - t0, 1s);
    const int attempts = rig.logged("network error(");
    std::this_thread::sleep_for(std::chrono::milliseconds(interval * 4));
    EXPECT_EQ(rig.logged("network error("), attempts);
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);  // never connected, never disconnected
    EXPECT_TRUE(rig.rec->wait([] { return threads_named("tcp_reconnect") == 0; }, 2s));
}

TEST(ClientConnect, ConnectedClientReportsItsEndpointsAndRunsOnConnectOnItsOwnThread) {
    FrameTestServer server;
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    EXPECT_TRUE(rig.client->is_connected());
    EXPECT_EQ(rig.logged("(tcp://127.0.0.1:" + std::to_string(server.port()) + ")connect success."), 1);
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 1; }, 5s));
    EXPECT_EQ(rig.rec->connected_copy()[0], "tcp_on_connect");
    ASSERT_TRUE(server.wait_connections(1, 5s));

    std::string ip;
    uint16_t port = 0;
    ASSERT_EQ(rig.client->get_local_endpoint(ip, port), 0);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_NE(port, 0);
    ASSERT_EQ(rig.client->get_remote_endpoint(ip, port), 0);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, server.port());
    EXPECT_EQ(threads_named("tcp_cli_async") >= 1, true);

    EXPECT_EQ(rig.client->stop(), 0);
    EXPECT_EQ(rig.client->stop(), 0);  // the second returns at once
    auto d = rig.rec->disconnects_copy();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].code, 0);
    EXPECT_EQ(d[0].text, "");
    EXPECT_FALSE(rig.client->is_connected());
    EXPECT_EQ(rig.client->get_remote_endpoint(ip, port), 2001);
    EXPECT_EQ(rig.client->get_local_endpoint(ip, port), 1003);
    EXPECT_TRUE(server.wait_closed_by_client(0, 5s));
}

TEST(ClientConnect, AnIpv6AddressDoesNotSplitAsAUrl) {
    // "tcp://::1:PORT" splits at the first colon, so the port text is ":1:PORT": invalid.
    FrameTestServer::Options o;
    o.family = FrameTestServer::Family::kIPv6;
    FrameTestServer server(o);
    if (!server.listening()) GTEST_SKIP() << "no IPv6 loopback here";
    ClientRig rig(30, 0);
    EXPECT_EQ(rig.client->connect("::1", server.port()), 1003);
    EXPECT_EQ(rig.logged("invalid url: tcp://::1:"), 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.connections(), 0);
}

TEST(ClientConnect, OversizedRequestBodyIsRefusedWithoutSending) {
    FrameTestServer server;
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    std::vector<uint8_t> big(2097119, 1);
    EXPECT_EQ(rig.client->request_async(1, 1, big.data(), static_cast<uint32_t>(big.size())), 1002);
    EXPECT_EQ(rig.client->request_async(1, 2, nullptr, 5), 1002);
    big.resize(2097118);  // the largest that fits the send buffer goes out whole
    ASSERT_EQ(rig.client->request_async(1, 3, big.data(), static_cast<uint32_t>(big.size())), 0);
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 10s));
    auto f = server.frames(kFrameRequest);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0].sound());
    EXPECT_EQ(f[0].request_id, 3u);
    EXPECT_EQ(f[0].body, big);
    EXPECT_TRUE(rig.client->is_connected());
}

}  // namespace
