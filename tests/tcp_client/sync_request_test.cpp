// The synchronous request: an answer with async flag 0 and the same request id wakes the one
// caller that waits for it; duplicates, timeouts and late answers are refused or logged; the
// client's own log file.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kOutSize = 2097150;

FrameTestServer::Options echo() {
    FrameTestServer::Options o;
    o.echo_requests = true;  // answers carry the request's async flag: 0 for a synchronous one
    return o;
}

TEST(ClientSyncRequest, AnswerWithTheSameIdComesBack) {
    FrameTestServer server(echo());
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::vector<uint8_t> out(kOutSize);
    uint32_t out_len = 0;
    ASSERT_EQ(rig.client->request(0x20001, 99, "hello", 5, out.data(), &out_len, 5000), 0);
    EXPECT_EQ(out_len, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), out_len), "hello");
    const auto f = server.frames(kFrameRequest);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].async_flag, 0);
    EXPECT_TRUE(f[0].sound());
    EXPECT_EQ(rig.rec->n_responses(), 0u);  // the asynchronous callback is not involved
}

TEST(ClientSyncRequest, NotConnectedIs2001) {
    ClientRig rig(0, 0);
    std::vector<uint8_t> out(16);
    uint32_t n = 0;
    EXPECT_EQ(rig.client->request(1, 1, nullptr, 0, out.data(), &n, 100), 2001);
}

TEST(ClientSyncRequest, SecondCallerWithTheSameIdGets3001AtOnce) {
    FrameTestServer server;  // never answers
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::atomic<int> first{-1};
    std::thread waiter([&] {
        std::vector<uint8_t> out(kOutSize);
        uint32_t n = 0;
        first = rig.client->request(1, 42, "a", 1, out.data(), &n, 400);
    });
    ASSERT_TRUE(server.wait_frames(kFrameRequest, 1, 5s));
    std::vector<uint8_t> out(16);
    uint32_t n = 0;
    // a second caller that waited would wait its own minute: "at once" is far below that
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->request(1, 42, "b", 1, out.data(), &n, 60000), 3001);
    EXPECT_LT(Clock::now() - t0, 20s);
    waiter.join();
    EXPECT_EQ(first.load(), 2003);
    EXPECT_EQ(server.frame_count(kFrameRequest), 1u);  // the refused one was not sent
}

TEST(ClientSyncRequest, TimeoutThenLateAnswerIsLoggedAndDropped) {
    FrameTestServer server;
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::vector<uint8_t> out(kOutSize);
    uint32_t n = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(rig.client->request(3, 5, "q", 1, out.data(), &n, 100), 2003);
    const auto took = Clock::now() - t0;
    EXPECT_GE(took, 100ms);
    EXPECT_LT(took, 100ms + 2s);  // ends at its deadline, give or take a busy machine's delay
    EXPECT_EQ(rig.logged("wait for response timeout. reqid=5, timeout=100ms"), 1);
    ASSERT_TRUE(server.send_frame(kFrameResponse, 3, 5, {1}, 0));
    EXPECT_TRUE(rig.wait_logged("[handle_response] key=5 not found.", 1, 5s));
    EXPECT_EQ(rig.rec->n_responses(), 0u);
    // the id is free again
    std::thread answer([&] {
        server.wait_frames(kFrameRequest, 2, 5s);
        server.send_frame(kFrameResponse, 3, 5, {8, 9}, 0);
    });
    EXPECT_EQ(rig.client->request(3, 5, "q", 1, out.data(), &n, 5000), 0);
    answer.join();
    EXPECT_EQ(n, 2u);
}

TEST(ClientSyncRequest, ManyCallersEachGetTheirOwnAnswer) {
    FrameTestServer server(echo());
    ClientRig rig(0, 0);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 6; ++t)
        callers.emplace_back([&, t] {
            std::vector<uint8_t> out(kOutSize);
            for (uint32_t i = 0; i < 200; ++i) {
                const uint64_t id = (static_cast<uint64_t>(t) << 32) | i;
                std::vector<uint8_t> body(i % 40 + 1, static_cast<uint8_t>(t * 40 + i));
                uint32_t n = 0;
                if (rig.client->request(9, id, body.data(), static_cast<uint32_t>(body.size()), out.data(), &n,
                                        10000) != 0 ||
                    n != body.size() || !std::equal(body.begin(), body.end(), out.begin()))
                    wrong++;
            }
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ClientSyncRequest, ConnectedCallbackMayWaitForAnAnswer) {
    FrameTestServer server(echo());
    ClientRig rig(0, 0);
    TcpClient* client = rig.client.get();
    std::atomic<int> rc{-1};
    std::string got;
    rig.rec->on_connected = [&] {
        std::vector<uint8_t> out(kOutSize);
        uint32_t n = 0;
        const int r = client->request(0xf0002, 1, "reg", 3, out.data(), &n, 5000);
        got.assign(reinterpret_cast<char*>(out.data()), n);
        rc = r;
    };
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 1; }, 10s));
    EXPECT_EQ(rc.load(), 0);
    EXPECT_EQ(got, "reg");
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
    return buf;
}

TEST(ClientLogFile, DailyFileInTheFolder) {
    const std::string dir = "/tmp/oxa_tcpcli_log_" + std::to_string(::getpid());
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    FrameTestServer server;
    ClientRig rig(0, 0);
    rig.client->init_logger(dir, false, 0 /* trace */);
    ASSERT_EQ(rig.client->connect(server.url()), 0);
    std::ifstream f(dir + "/tcp_client_" + today() + ".log");
    ASSERT_TRUE(f.good());
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_NE(ss.str().find(")connect success."), std::string::npos);
    EXPECT_EQ(rig.logged("connect success."), 0);  // the earlier logger is replaced
    rig.client->stop();
    std::system(("rm -rf " + dir).c_str());
}

TEST(ClientLogFile, NoFolderAndNoStdoutLogsNothing) {
    FrameTestServer server;
    ClientRig rig(0, 0);
    rig.client->init_logger("", false, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(rig.client->request_async(1, 1, "x", 1), 2001);
    EXPECT_EQ(rig.client->connect("udp://1.2.3.4:5"), 1004);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(rig.sink->lines().size(), 0u);
}

}  // namespace
