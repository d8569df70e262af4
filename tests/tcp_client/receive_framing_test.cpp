// What the read loop makes of the bytes a peer sends: frames however they are cut, the largest
// body, answers nobody waits for, and every broken frame, which must end the connection with
// (1005, "invalid package.") and a reconnection, never a crash or a read past the buffer.
#include <thread>

#include <gtest/gtest.h>

#include "ClientHarness.h"
#include "support/FrameTestServer.h"

using namespace oxa_test;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return v;
}

class ClientReceive : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
        ASSERT_TRUE(server.wait_connections(1, 5s));
    }
    FrameTestServer server;
    ClientRig rig{0, 0};
};

TEST_F(ClientReceive, FrameSentOneByteAtATime) {
    const auto body = pattern(40, 3);
    const auto f = encode_frame(kFramePush, 0x20200, 77, body.data(), 40, 0);
    ASSERT_TRUE(server.send_bytewise(f, 100us));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 1; }, 5s));
    const auto p = rig.rec->pushes_copy()[0];
    EXPECT_EQ(p.message_id, 0x20200u);
    EXPECT_EQ(p.request_id, 77u);
    EXPECT_EQ(p.body, body);
    EXPECT_EQ(p.thread, "tcp_cli_async");
}

TEST_F(ClientReceive, HeaderSplitAfter31Bytes) {
    const auto f = encode_frame(kFrameResponse, 0x20001, 5, "xyz", 3, 1);
    ASSERT_TRUE(server.send_split(f, 31, 5ms));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_responses() == 1; }, 5s));
    EXPECT_EQ(rig.rec->responses_copy()[0].body, (std::vector<uint8_t>{'x', 'y', 'z'}));
}

TEST_F(ClientReceive, JoinedFramesInOneWriteArriveInOrder) {
    const auto a = encode_frame(kFrameResponse, 1, 10, "a", 1, 1);
    const auto b = encode_frame(kFramePush, 2, 20, "bb", 2, 0);
    const auto c = encode_frame(kFrameResponse, 3, 30, nullptr, 0, 1);  // empty body
    ASSERT_TRUE(server.send_joined({a, b, c, encode_heartbeat()}));
    ASSERT_TRUE(rig.rec->wait(
        [&] { return rig.rec->n_responses() == 2 && rig.rec->n_pushes() == 1 && rig.rec->n_heartbeats(0) == 1; },
        5s));
    const auto r = rig.rec->responses_copy();
    EXPECT_EQ(r[0].request_id, 10u);
    EXPECT_EQ(r[0].body, (std::vector<uint8_t>{'a'}));
    EXPECT_EQ(r[1].request_id, 30u);
    EXPECT_TRUE(r[1].body.empty());
    EXPECT_EQ(rig.rec->pushes_copy()[0].body, (std::vector<uint8_t>{'b', 'b'}));
}

TEST_F(ClientReceive, LargestBodyFillsTheReceiveArea) {
    const auto body = pattern(kLargestReceivableBody, 9);
    const auto f = encode_frame(kFramePush, 0x20300, 1, body.data(), static_cast<uint32_t>(body.size()), 0);
    ASSERT_TRUE(server.send_bytes(f));
    ASSERT_TRUE(server.send_frame(kFramePush, 0x20300, 2, {4, 2}, 0));  // and the stream goes on
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 2; }, 10s));
    const auto p = rig.rec->pushes_copy();
    EXPECT_EQ(p[0].body.size(), kLargestReceivableBody);
    EXPECT_TRUE(p[0].body == body);
    EXPECT_EQ(p[1].body, (std::vector<uint8_t>{4, 2}));
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
}

// Far more than one read takes, in one write: frames of many sizes, so that frames are cut at
// every read's end, and one body larger than a read, all delivered whole and in order.
TEST_F(ClientReceive, ManyFramesOfOneWriteArriveWholeAndInOrder) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::vector<uint8_t>> bodies;
    for (uint32_t i = 0; i < 3000; ++i) {
        const size_t n = i == 1500 ? 200000 : (i * 37) % 300;
        bodies.push_back(pattern(n, static_cast<uint8_t>(i)));
        frames.push_back(encode_frame(kFramePush, 0x20400, i, bodies.back().data(), static_cast<uint32_t>(n), 0));
    }
    ASSERT_TRUE(server.send_joined(frames));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == frames.size(); }, 10s));
    const auto p = rig.rec->pushes_copy();
    for (uint32_t i = 0; i < p.size(); ++i) {
        ASSERT_EQ(p[i].request_id, i);
        ASSERT_TRUE(p[i].body == bodies[i]) << "frame " << i;
    }
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
}

// A broken frame behind good ones in the same write: the good ones are delivered, nothing of
// or after the broken one is.
TEST_F(ClientReceive, FramesBeforeABrokenOneInTheSameReadAreDelivered) {
    FrameFields bad;
    bad.content_type = 3;
    bad.body = {1};
    ASSERT_TRUE(server.send_joined({encode_frame(kFramePush, 1, 1, "a", 1, 0), encode_frame(kFramePush, 1, 2, "b", 1, 0),
                                    encode_frame(bad), encode_frame(kFramePush, 1, 3, "c", 1, 0)}));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
    EXPECT_EQ(rig.rec->disconnects_copy()[0].code, 1005);
    const auto p = rig.rec->pushes_copy();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].request_id, 1u);
    EXPECT_EQ(p[1].request_id, 2u);
}

TEST_F(ClientReceive, WrongHeadMarkVersionOrTailAreNotJudged) {
    FrameFields s;
    s.content_type = kFramePush;
    s.body = {1};
    s.bad_tail = true;
    auto f = encode_frame(s);
    ASSERT_TRUE(server.send_bytes(f));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 1; }, 5s));
    EXPECT_EQ(rig.rec->n_disconnects(), 0u);
}

TEST_F(ClientReceive, AnswerWithAsyncFlag0ThatNobodyWaitsForIsLoggedNotDelivered) {
    ASSERT_TRUE(server.send_frame(kFrameResponse, 0x20001, 4711, {1, 2, 3}, 0));
    ASSERT_TRUE(server.send_frame(kFrameResponse, 0x20001, 4712, {1}, 1));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_responses() == 1; }, 5s));
    EXPECT_EQ(rig.rec->responses_copy()[0].request_id, 4712u);
    EXPECT_EQ(rig.logged("[handle_response] key=4711 not found."), 1);
    EXPECT_EQ(rig.logged("handle package error. code=9999"), 1);
    EXPECT_TRUE(rig.client->is_connected());
}

TEST_F(ClientReceive, CallbackResultsAreLoggedAndOtherwiseIgnored) {
    rig.rec->on_push = [](const Received&) { return 17; };
    rig.rec->on_response = [](const Received&) { return 18; };
    ASSERT_TRUE(server.send_frame(kFramePush, 1, 1, {}, 0));
    ASSERT_TRUE(server.send_frame(kFrameResponse, 1, 2, {}, 1));
    ASSERT_TRUE(server.send_frame(kFramePush, 1, 3, {}, 0));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 2 && rig.rec->n_responses() == 1; }, 5s));
    // logged once the callback has returned, so after it was recorded
    EXPECT_TRUE(rig.wait_logged("push callback error_code=17", 2, 5s));
    EXPECT_TRUE(rig.wait_logged("response_async callback error_code=18", 1, 5s));
    EXPECT_TRUE(rig.client->is_connected());
}

// Each broken frame, sent right after a good one on a client that reconnects.
struct BadFrame {
    const char* name;
    FrameFields fields;
    const char* logged;
};

FrameFields frame_flipped_crc(int bit) {
    FrameFields s;
    s.content_type = kFramePush;
    s.body = {1, 2, 3};
    s.flip_crc_bit = bit;
    return s;
}
FrameFields frame_of_type(uint8_t type) {
    FrameFields s;
    s.content_type = type;
    s.body = {1};
    return s;
}
FrameFields frame_of_length(uint32_t length) {
    FrameFields s;
    s.content_type = kFramePush;
    s.header_only = true;
    s.has_length_field = true;
    s.length_field = length;
    return s;
}

class ClientBadFrame : public ::testing::TestWithParam<BadFrame> {};

TEST_P(ClientBadFrame, ShutsDownWith1005AndReconnects) {
    FrameTestServer server;
    ClientRig rig(30, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    // the connected callback has returned: the loss is then reported on the io thread
    ASSERT_TRUE(rig.wait_connected_done(1, 5s));
    ASSERT_TRUE(server.send_frame(kFramePush, 1, 1, {5}, 0));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 1; }, 5s));

    auto bad = encode_frame(GetParam().fields);
    // bytes that would follow a frame read with a wrapped length: they must never be taken
    bad.resize(bad.size() + 64, 0xAB);
    ASSERT_TRUE(server.send_bytes(bad));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
    const auto d = rig.rec->disconnects_copy()[0];
    EXPECT_EQ(d.code, 1005);
    EXPECT_EQ(d.text, "invalid package.");
    EXPECT_EQ(d.thread, "tcp_cli_async");
    EXPECT_EQ(rig.logged(GetParam().logged), 1);
    EXPECT_EQ(rig.rec->n_pushes(), 1u);  // nothing of the broken frame was delivered

    // the reconnection works like the first connection
    ASSERT_TRUE(server.wait_connections(2, 5s));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 2 && rig.client->is_connected(); }, 5s))
        << rig.log_text();
    ASSERT_TRUE(server.send_frame(kFramePush, 1, 2, {6}, 0));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_pushes() == 2; }, 5s));
    EXPECT_EQ(rig.rec->pushes_copy()[1].body, (std::vector<uint8_t>{6}));
    EXPECT_EQ(rig.rec->n_disconnects(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClientBadFrame,
    ::testing::Values(BadFrame{"CrcBit0", frame_flipped_crc(0), "invalid package, error=(3)CRC_ERROR"},
                      BadFrame{"CrcBit31", frame_flipped_crc(31), "invalid package, error=(3)CRC_ERROR"},
                      BadFrame{"ContentType3", frame_of_type(3), "invalid package, error=(2)UNKNOWN_CONTENT_TYPE"},
                      BadFrame{"ContentType0", frame_of_type(0), "invalid package, error=(2)UNKNOWN_CONTENT_TYPE"},
                      BadFrame{"Length2097151", frame_of_length(2097151), "invalid package, body length 2097151"},
                      BadFrame{"LengthAllOnes", frame_of_length(0xFFFFFFFFu), "invalid package, body length 4294967295"},
                      BadFrame{"LengthAllOnesLess1", frame_of_length(0xFFFFFFFEu),
                               "invalid package, body length 4294967294"}),
    [](const auto& info) { return std::string(info.param.name); });

struct PeerClose {
    const char* name;
    bool rst;
    int code;
};

class ClientPeerClose : public ::testing::TestWithParam<PeerClose> {};

TEST_P(ClientPeerClose, ReportsTheSystemsCodeAndReconnects) {
    FrameTestServer server;
    ClientRig rig(30, 0);
    ASSERT_EQ(rig.client->connect("127.0.0.1", server.port()), 0);
    ASSERT_TRUE(server.wait_connections(1, 5s));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 1; }, 5s));
    if (GetParam().rst)
        server.close_rst();
    else
        server.close_fin();
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_disconnects() == 1; }, 5s));
    const auto d = rig.rec->disconnects_copy()[0];
    EXPECT_EQ(d.code, GetParam().code);
    EXPECT_FALSE(d.text.empty());
    EXPECT_EQ(rig.logged("read error occurred. code=" + std::to_string(GetParam().code)), 1);
    ASSERT_TRUE(server.wait_connections(2, 5s));
    ASSERT_TRUE(rig.rec->wait([&] { return rig.rec->n_connected() == 2; }, 5s));
}

INSTANTIATE_TEST_SUITE_P(Table, ClientPeerClose,
                         ::testing::Values(PeerClose{"Fin", false, 2 /* asio misc: end of file */},
                                           PeerClose{"Rst", true, ECONNRESET}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
