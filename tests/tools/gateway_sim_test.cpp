// The simulated gateway, driven through a raw loopback socket with a frame writer of its own,
// so that the sim's encoder, its offset tables and its behaviour are all checked from outside.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimCli.h"
#include "gateway_sim/SimFrame.h"
#include "gateway_sim/SimWire.h"
#include "tools/SimProgram.h"
#include "tools/SimTestClient.h"

extern char** environ;

namespace {

using namespace sim_test;

// ---- frame codec -------------------------------------------------------------------------

TEST(SimFrame, CrcCheckValueAndEmptyInput) {
  EXPECT_EQ(oxa_sim::crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(oxa_sim::crc32(nullptr, 0), 0u);
  Bytes junk(1000);
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(i * 131 + 7);
  EXPECT_EQ(oxa_sim::crc32(junk.data(), junk.size()), bitwise_crc32(junk.data(), junk.size()));
}

TEST(SimFrame, LoginRequestWithEmptyBodyIsByteExact) {
  const Bytes expected = {0xEF, 0xEF, 0x01, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x60, 0xCA, 0xA0, 0x95, 0xFE, 0xFE};
  EXPECT_EQ(oxa_sim::encode_frame(oxa_sim::kRequest, 0xf0001, 5, nullptr, 0, 1), expected);
  EXPECT_EQ(write_frame(oxa_sim::kRequest, 0xf0001, 5, {}, 1), expected);
}

TEST(SimFrame, EncodeDecodeRoundTrip) {
  const Bytes body = {1, 2, 3, 4, 5};
  const Bytes f = oxa_sim::encode_frame(oxa_sim::kPush, 0x22001, 0x0102030405060708ull, body, 0);
  ASSERT_EQ(f.size(), body.size() + 34);
  EXPECT_EQ(f, write_frame(oxa_sim::kPush, 0x22001, 0x0102030405060708ull, body, 0));
  oxa_sim::FrameHeader h;
  ASSERT_EQ(oxa_sim::decode_header(f.data(), h), oxa_sim::HeaderStatus::kOk);
  EXPECT_EQ(h.content_type, oxa_sim::kPush);
  EXPECT_EQ(h.msg_id, 0x22001u);
  EXPECT_EQ(h.request_id, 0x0102030405060708ull);
  EXPECT_EQ(h.body_len, 5u);
  EXPECT_TRUE(std::equal(body.begin(), body.end(), f.begin() + 32));
}

TEST(SimFrame, HeaderCheck) {
  const Bytes good = write_frame(oxa_sim::kRequest, 0xf0002, 9, Bytes(8, 0), 1);
  oxa_sim::FrameHeader h;

  // every single-bit flip in the covered bytes 0..27 is caught
  for (std::size_t byte = 0; byte < 28; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes f = good;
      f[byte] ^= static_cast<std::uint8_t>(1u << bit);
      const auto st = oxa_sim::decode_header(f.data(), h);
      EXPECT_NE(st, oxa_sim::HeaderStatus::kOk) << "byte " << byte << " bit " << bit;
    }
  }
  // content type 3 is refused whatever its checksum
  Bytes unknown = write_frame(3, 0xf0002, 9, {}, 1);
  EXPECT_EQ(oxa_sim::decode_header(unknown.data(), h), oxa_sim::HeaderStatus::kUnknownContentType);
  // the head mark and version are not tested when the checksum matches
  Bytes marks = good;
  marks[0] = 0x00;
  marks[2] = 7;
  {
    Bytes image(marks.begin(), marks.begin() + 28);
    put_le(image, 4, 0xf0002, 4);
    put_le(image, 8, 9, 8);
    put_le(image, 16, 8, 4);
    put_be(marks, 28, bitwise_crc32(image.data(), 28), 4);
  }
  EXPECT_EQ(oxa_sim::decode_header(marks.data(), h), oxa_sim::HeaderStatus::kOk);
  // a length no package buffer can hold
  Bytes header_only = write_frame(oxa_sim::kRequest, 1, 1, {}, 1);
  {
    Bytes image(header_only.begin(), header_only.begin() + 28);
    put_le(image, 4, 1, 4);
    put_le(image, 8, 1, 8);
    put_le(image, 16, oxa_sim::kMaxBody + 1, 4);
    put_be(header_only, 16, oxa_sim::kMaxBody + 1, 4);
    put_be(header_only, 28, bitwise_crc32(image.data(), 28), 4);
  }
  EXPECT_EQ(oxa_sim::decode_header(header_only.data(), h), oxa_sim::HeaderStatus::kBodyTooLong);
}

// ---- offset tables -----------------------------------------------------------------------

TEST(SimWire, FieldsStayInsideTheirRecordAndDoNotOverlap) {
  for (const auto& l : oxa_sim::all_layouts()) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < l.count; ++i) {
      const auto& f = l.fields[i];
      EXPECT_GE(f.offset, end) << l.name << "." << f.name;
      EXPECT_LE(f.offset + f.size, l.length) << l.name << "." << f.name;
      end = f.offset + f.size;
    }
  }
}

TEST(SimWire, WriterAndReaderAreBounded) {
  oxa_sim::WireWriter w(10);
  EXPECT_TRUE(w.put_uint({"a", 2, 8}, 0x1122334455667788ull));
  EXPECT_FALSE(w.put_uint({"b", 3, 8}, 1));
  EXPECT_FALSE(w.put_text({"c", 8, 3}, "xyz"));
  const Bytes b = w.bytes();
  EXPECT_EQ(b, (Bytes{0, 0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  oxa_sim::WireReader r(b);
  EXPECT_EQ(r.get_uint({"a", 2, 8}), 0x1122334455667788ull);
  EXPECT_FALSE(r.get_uint({"b", 3, 8}).has_value());
  EXPECT_FALSE(r.get_uint({"huge", SIZE_MAX, 2}).has_value());
}

// ---- gateway answers ---------------------------------------------------------------------

TEST_F(SimTest, LoginAnswerFieldsAtTheirOffsets) {
  oxa_sim::LoginAnswer a;
  a.protocol_mode = 2;
  a.error_code = -4097;
  a.hqtrs_ip = "10.20.30.40";
  a.hqtrs_port = 40001;  // above 32,767: a reader that widens it as signed gets it wrong
  a.group_id = 0xFFFE;
  a.member_id = 0x8001;
  a.business_type = 3;
  a.option_value = 0x8877665544332211ull;
  sim.set_login_answer(a);
  auto c = connect_client();
  ASSERT_TRUE(c->request(0xf0001, 0, login_request(123456789012ull)));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->type, oxa_sim::kResponse);
  EXPECT_EQ(f->msg, 0xf0001u);
  ASSERT_EQ(f->body.size(), 577u);
  EXPECT_EQ(le(f->body, 0, 8), 123456789012ull);  // the request's account by default
  EXPECT_EQ(le(f->body, 8, 2), 2u);
  EXPECT_EQ(static_cast<std::int32_t>(le(f->body, 10, 4)), -4097);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f->body[14])), "10.20.30.40");
  EXPECT_EQ(le(f->body, 30, 2), 40001u);
  EXPECT_EQ(le(f->body, 32, 2), 0xFFFEu);
  EXPECT_EQ(le(f->body, 34, 2), 0x8001u);
  EXPECT_EQ(le(f->body, 36, 1), 3u);
  EXPECT_EQ(le(f->body, 552, 8), 0x8877665544332211ull);
  // everything not named above is zero
  for (std::size_t i = 37; i < 552; ++i) ASSERT_EQ(f->body[i], 0) << i;
  for (std::size_t i = 560; i < 577; ++i) ASSERT_EQ(f->body[i], 0) << i;
}

TEST_F(SimTest, LoginAnswerPerAccount) {
  oxa_sim::LoginAnswer base;
  base.business_type = 1;
  sim.set_login_answer(base);
  sim.set_account_business(2002, 2);
  oxa_sim::LoginAnswer refused;
  refused.error_code = 4097;
  refused.fund_account = 77;  // an answer for another account than the one asking
  sim.set_account_login_answer(3003, refused);
  oxa_sim::LoginAnswer full_ip;
  full_ip.hqtrs_ip = "0123456789abcdefXYZ";  // cut to the 16-byte field, no terminator
  sim.set_account_login_answer(4004, full_ip);

  struct Case {
    std::uint64_t account;
    std::uint64_t fundid;
    std::int32_t error;
    unsigned business;
  } cases[] = {{1001, 1001, 0, 1}, {2002, 2002, 0, 2}, {3003, 77, 4097, 1}, {4004, 4004, 0, 1}};
  auto c = connect_client();
  for (const auto& k : cases) {
    SCOPED_TRACE(k.account);
    ASSERT_TRUE(c->request(0xf0001, k.account, login_request(k.account)));
    auto f = c->read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->req, k.account);
    EXPECT_EQ(le(f->body, 0, 8), k.fundid);
    EXPECT_EQ(static_cast<std::int32_t>(le(f->body, 10, 4)), k.error);
    EXPECT_EQ(le(f->body, 36, 1), k.business);
    if (k.account == 4004) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f->body[14]), 16), "0123456789abcdef");
      EXPECT_EQ(le(f->body, 30, 2), 0u);
    }
  }
}

TEST_F(SimTest, PushRegistrationAndLogoutAnswers) {
  sim.set_push_reg_error(-7);
  sim.set_logout_error(1234);
  auto c = connect_client();

  ASSERT_TRUE(c->request(0xf0002, 41, account_body(555, 8), 1));
  auto reg = c->read_frame(kWait);
  ASSERT_TRUE(reg);
  EXPECT_EQ(reg->type, oxa_sim::kResponse);
  EXPECT_EQ(reg->msg, 0xf0002u);
  EXPECT_EQ(reg->req, 41u);
  EXPECT_EQ(reg->async_flag, 1);
  ASSERT_EQ(reg->body.size(), 12u);
  EXPECT_EQ(le(reg->body, 0, 8), 555u);
  EXPECT_EQ(static_cast<std::int32_t>(le(reg->body, 8, 4)), -7);

  // a synchronous request (async flag 0) gets its flag back
  ASSERT_TRUE(c->request(0xf0007, 42, account_body(556, 12), 0));
  auto out = c->read_frame(kWait);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->msg, 0xf0008u);
  EXPECT_EQ(out->req, 42u);
  EXPECT_EQ(out->async_flag, 0);
  ASSERT_EQ(out->body.size(), 16u);
  EXPECT_EQ(le(out->body, 0, 8), 556u);
  EXPECT_EQ(le(out->body, 8, 4), 0u);
  EXPECT_EQ(le(out->body, 12, 4), 1234u);
}

TEST_F(SimTest, ShortRequestBodyReadsAsAccountZero) {
  auto c = connect_client();
  ASSERT_TRUE(c->request(0xf0001, 1, Bytes{1, 2, 3}));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(le(f->body, 0, 8), 0u);
}

// ---- reply modes -------------------------------------------------------------------------

TEST_F(SimTest, ReplyModes) {
  struct Case {
    const char* name;
    ReplyPlan plan;
    bool answered;
    std::size_t body_len;
    Millis at_least;
  } cases[] = {
      {"immediate", ReplyPlan::immediate(), true, 577, Millis(0)},
      {"delayed", ReplyPlan::delayed(Millis(120)), true, 577, Millis(120)},
      {"late", ReplyPlan::late(Millis(200)), true, 577, Millis(200)},
      {"never", ReplyPlan::never(), false, 0, Millis(0)},
      {"short", ReplyPlan::short_body(20), true, 20, Millis(0)},
      {"short to nothing", ReplyPlan::short_body(0), true, 0, Millis(0)},
      {"short not below the full length", ReplyPlan::short_body(5000), true, 576, Millis(0)},
  };
  auto c = connect_client();
  std::uint64_t req = 100;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    sim.set_reply(0xf0001, k.plan);
    ++req;
    const auto sent = Clock::now();
    ASSERT_TRUE(c->request(0xf0001, req, login_request(9)));
    auto f = c->read_frame(k.answered ? kWait : kSilence);
    ASSERT_EQ(f.has_value(), k.answered);
    ASSERT_TRUE(sim.wait_for_frame(0xf0001, kWait, req - 101).has_value());  // recorded anyway
    if (!f) continue;
    EXPECT_GE(Clock::now() - sent, k.at_least);
    EXPECT_EQ(f->req, req);
    EXPECT_EQ(f->body.size(), k.body_len);
  }
}

TEST_F(SimTest, LateAnswerArrivesAfterTheNextOneWithItsOwnRequestId) {
  sim.queue_reply(0xf0001, ReplyPlan::late(Millis(300)));  // only the first login
  auto c = connect_client();
  ASSERT_TRUE(c->request(0xf0001, 1, login_request(11)));
  EXPECT_FALSE(c->read_frame(Millis(50)));  // the client gives up
  ASSERT_TRUE(c->request(0xf0001, 2, login_request(12)));
  auto second = c->read_frame(kWait);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->req, 2u);
  EXPECT_EQ(le(second->body, 0, 8), 12u);
  auto late = c->read_frame(kWait);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->req, 1u);
  EXPECT_EQ(le(late->body, 0, 8), 11u);
}

TEST_F(SimTest, QueuedModesAreUsedInOrderThenTheStandingOne) {
  sim.set_reply(0xf0002, ReplyPlan::short_body(3));
  sim.queue_reply(0xf0002, ReplyPlan::never());
  sim.queue_reply(0xf0002, ReplyPlan::immediate());
  auto c = connect_client();
  ASSERT_TRUE(c->request(0xf0002, 1, account_body(1, 8)));
  EXPECT_FALSE(c->read_frame(kSilence));
  ASSERT_TRUE(c->request(0xf0002, 2, account_body(1, 8)));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->req, 2u);
  EXPECT_EQ(f->body.size(), 12u);
  ASSERT_TRUE(c->request(0xf0002, 3, account_body(1, 8)));
  f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->req, 3u);
  EXPECT_EQ(f->body.size(), 3u);
}

// Held answers wait for the test and then go in the order they were held, each with its own
// request id, ahead of nothing the sim sends later.
TEST_F(SimTest, HeldAnswersGoWhenReleasedInTheOrderTheyWereHeld) {
  auto box = std::make_shared<oxa_sim::HeldAnswers>();
  sim.queue_reply(0xf0001, ReplyPlan::held(box));
  sim.queue_reply(0xf0001, ReplyPlan::held(box));
  auto c = connect_client();
  ASSERT_TRUE(c->request(0xf0001, 1, login_request(21)));
  ASSERT_TRUE(c->request(0xf0001, 2, login_request(22)));
  ASSERT_TRUE(box->wait_held(2, kWait));
  EXPECT_FALSE(c->read_frame(kSilence)) << "nothing before the release";
  ASSERT_TRUE(c->request(0xf0001, 3, login_request(23)));
  auto third = c->read_frame(kWait);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->req, 3u) << "a later request is answered at once";
  EXPECT_EQ(box->release(), 2u);
  EXPECT_EQ(box->held(), 0u);
  for (std::uint64_t req : {1u, 2u}) {
    auto f = c->read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->req, req);
    EXPECT_EQ(le(f->body, 0, 8), 20 + req);
  }
  EXPECT_EQ(box->release(), 0u);
}

// ---- off-line command, heartbeats, connections -------------------------------------------

TEST_F(SimTest, OfflineCommandOnDemand) {
  auto a = connect_client();
  auto b = connect_client();
  const auto ids = sim.open_connections();
  ASSERT_EQ(ids.size(), 2u);

  EXPECT_EQ(sim.send_offline(0xABCDEF0123ull, 20240105, ids[1]->id()), 1u);
  auto only = b->read_frame(kWait);
  ASSERT_TRUE(only);
  EXPECT_FALSE(a->read_frame(kSilence));
  EXPECT_EQ(only->type, oxa_sim::kPush);
  EXPECT_EQ(only->msg, 0xf000cu);
  ASSERT_EQ(only->body.size(), 16u);
  EXPECT_EQ(le(only->body, 0, 8), 0xABCDEF0123ull);
  EXPECT_EQ(le(only->body, 8, 8), 20240105u);

  EXPECT_EQ(sim.send_offline(7, 20240106), 2u);
  for (auto* c : {a.get(), b.get()}) {
    auto f = c->read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->msg, 0xf000cu);
    EXPECT_EQ(le(f->body, 8, 8), 20240106u);
  }
}

TEST_F(SimTest, HeartbeatsAnsweredUnlessSwitchedOff) {
  auto c = connect_client();
  ASSERT_TRUE(c->send_bytes(write_frame(oxa_sim::kHeartbeat, 0, 0, {}, 0)));
  auto hb = c->read_frame(kWait);
  ASSERT_TRUE(hb);
  EXPECT_EQ(hb->type, oxa_sim::kHeartbeat);
  EXPECT_EQ(hb->msg, 0u);
  EXPECT_TRUE(hb->body.empty());
  auto logged = sim.wait_for_frame(0, kWait);
  ASSERT_TRUE(logged);
  EXPECT_EQ(logged->content_type, oxa_sim::kHeartbeat);

  sim.set_answer_heartbeats(false);
  ASSERT_TRUE(c->send_bytes(write_frame(oxa_sim::kHeartbeat, 0, 0, {}, 0)));
  EXPECT_FALSE(c->read_frame(kSilence));
}

TEST_F(SimTest, HeartbeatsOnDemand) {
  auto a = connect_client();
  auto b = connect_client();
  const auto conns = sim.open_connections();
  ASSERT_EQ(conns.size(), 2u);
  EXPECT_EQ(sim.send_heartbeat(conns[0]->id()), 1u);
  auto only = a->read_frame(kWait);
  ASSERT_TRUE(only);
  EXPECT_EQ(only->type, oxa_sim::kHeartbeat);
  EXPECT_EQ(only->msg, 0u);
  EXPECT_EQ(only->req, 0u);
  EXPECT_TRUE(only->body.empty());
  EXPECT_FALSE(b->read_frame(kSilence));
  EXPECT_EQ(sim.send_heartbeat(), 2u);
  for (auto* c : {a.get(), b.get()}) {
    auto f = c->read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, oxa_sim::kHeartbeat);
  }
}

TEST_F(SimTest, CloseConnections) {
  auto a = connect_client();
  auto b = connect_client();
  ASSERT_TRUE(sim.wait_for_open(2, kWait));
  auto conns = sim.open_connections();
  ASSERT_EQ(conns.size(), 2u);
  conns[0]->close();
  EXPECT_TRUE(a->wait_closed(kWait));
  EXPECT_TRUE(sim.wait_for_open(1, kWait));
  EXPECT_FALSE(conns[0]->push(1, 1, {}));  // a closed connection sends nothing

  EXPECT_EQ(sim.close_connections(), 1u);
  EXPECT_TRUE(b->wait_closed(kWait));
  EXPECT_TRUE(sim.wait_for_open(0, kWait));
}

TEST_F(SimTest, ClientClosingIsNoticed) {
  {
    auto c = connect_client();
    ASSERT_TRUE(sim.wait_for_open(1, kWait));
  }
  EXPECT_TRUE(sim.wait_for_open(0, kWait));
  auto again = connect_client();  // and the sim goes on accepting
  EXPECT_TRUE(sim.wait_for_open(1, kWait));
}

TEST_F(SimTest, RefuseThenAcceptOnTheSamePort) {
  const std::uint16_t port = sim.port();
  auto kept = connect_client();
  ASSERT_TRUE(sim.refuse_connections());
  EXPECT_FALSE(sim.accepting());
  RawClient refused(port);
  EXPECT_FALSE(refused.connected());
  EXPECT_EQ(refused.connect_errno(), ECONNREFUSED);
  // a connection made before keeps working
  ASSERT_TRUE(kept->request(0xf0002, 5, account_body(5, 8)));
  EXPECT_TRUE(kept->read_frame(kWait));

  ASSERT_TRUE(sim.accept_connections());
  EXPECT_TRUE(sim.accepting());
  EXPECT_EQ(sim.port(), port);
  auto back = connect_client();
  ASSERT_TRUE(back->request(0xf0002, 6, account_body(6, 8)));
  EXPECT_TRUE(back->read_frame(kWait));
  EXPECT_TRUE(sim.accept_connections());  // already accepting
}

TEST_F(SimTest, BrokenFramesCloseTheConnection) {
  struct Case {
    const char* name;
    Bytes bytes;
    oxa_sim::HeaderStatus status;
    bool crc_ok;
  };
  Bytes bad_crc = write_frame(oxa_sim::kRequest, 0xf0001, 3, login_request(1), 1);
  bad_crc[31] ^= 0x01;
  Bytes too_long = write_frame(oxa_sim::kRequest, 0xf0001, 3, {}, 1);
  {
    Bytes image(too_long.begin(), too_long.begin() + 28);
    put_le(image, 4, 0xf0001, 4);
    put_le(image, 8, 3, 8);
    put_le(image, 16, 0xFFFFFFF0u, 4);
    put_be(too_long, 16, 0xFFFFFFF0u, 4);
    put_be(too_long, 28, bitwise_crc32(image.data(), 28), 4);
  }
  const Case cases[] = {
      {"bad crc", bad_crc, oxa_sim::HeaderStatus::kCrcError, false},
      {"length beyond any buffer", too_long, oxa_sim::HeaderStatus::kBodyTooLong, true},
      {"unknown content type", write_frame(3, 0xf0001, 3, {}, 1),
       oxa_sim::HeaderStatus::kUnknownContentType, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    sim.clear_frames();
    auto c = connect_client();
    ASSERT_TRUE(c->send_bytes(k.bytes));
    EXPECT_TRUE(c->wait_closed(kWait));
    auto f = sim.wait_for_frame(0xf0001, kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->status, k.status);
    EXPECT_EQ(f->crc_ok, k.crc_ok);
    EXPECT_TRUE(f->body.empty());
    EXPECT_TRUE(sim.wait_for_open(0, kWait));
  }
}

// ---- frame log ---------------------------------------------------------------------------

TEST_F(SimTest, RecordsEveryFrameWithItsFields) {
  auto c = connect_client();
  Bytes req = login_request(31);
  req[856] = 0x5A;
  ASSERT_TRUE(c->request(0xf0001, 0x1122334455667788ull, req, 1));
  ASSERT_TRUE(c->send_bytes(write_frame(oxa_sim::kPush, 0x20001, 2, {9, 8}, 0)));
  ASSERT_TRUE(c->send_bytes(write_frame(oxa_sim::kRequest, 0x20001, 3, {7}, 0)));  // no handler
  Bytes no_tail = write_frame(oxa_sim::kRequest, 0x20001, 4, {}, 1);
  no_tail[32] = 0;
  ASSERT_TRUE(c->send_bytes(no_tail));

  auto login = sim.wait_for_frame(0xf0001, kWait);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->content_type, oxa_sim::kRequest);
  EXPECT_EQ(login->request_id, 0x1122334455667788ull);
  EXPECT_EQ(login->async_flag, 1);
  EXPECT_EQ(login->body, req);
  EXPECT_EQ(login->body_len, 857u);
  EXPECT_TRUE(login->crc_ok);
  EXPECT_TRUE(login->tail_ok);
  EXPECT_EQ(login->conn_id, sim.open_connections().at(0)->id());

  auto push = sim.wait_for_frame(0x20001, kWait, 0);
  auto plain = sim.wait_for_frame(0x20001, kWait, 1);
  auto tailless = sim.wait_for_frame(0x20001, kWait, 2);
  ASSERT_TRUE(push && plain && tailless);
  EXPECT_EQ(push->content_type, oxa_sim::kPush);
  EXPECT_EQ(push->body, (Bytes{9, 8}));
  EXPECT_EQ(plain->request_id, 3u);
  EXPECT_EQ(plain->async_flag, 0);
  EXPECT_FALSE(tailless->tail_ok);  // recorded, not enforced
  EXPECT_EQ(sim.count(0x20001), 3u);

  // the login was answered, nothing else was
  ASSERT_TRUE(c->read_frame(kWait));
  EXPECT_FALSE(c->read_frame(kSilence));
}

TEST_F(SimTest, WaitsAreBounded) {
  const auto t0 = Clock::now();
  EXPECT_FALSE(sim.wait_for_frame(0xf0001, Millis(60)));
  EXPECT_FALSE(sim.wait_for_accepted(1, Millis(60)));
  EXPECT_FALSE(sim.wait_until([](const std::vector<oxa_sim::ReceivedFrame>& v) { return !v.empty(); },
                              Millis(60)));
  const auto spent = Clock::now() - t0;
  EXPECT_GE(spent, Millis(180));
  EXPECT_LT(spent, Millis(3000));
}

TEST_F(SimTest, LogLimitDropsTheOldest) {
  sim.set_log_limit(2);
  auto c = connect_client();
  for (std::uint64_t i = 1; i <= 4; ++i) ASSERT_TRUE(c->request(0x30000, i, {}));
  ASSERT_TRUE(sim.wait_until(
      [](const std::vector<oxa_sim::ReceivedFrame>& v) { return !v.empty() && v.back().request_id == 4; },
      kWait));
  const auto all = sim.frames();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].request_id, 3u);
}

// ---- business handlers -------------------------------------------------------------------

TEST_F(SimTest, HandlerAnswersNowAndLaterWithAnyTypeAndId) {
  std::mutex mu;
  std::shared_ptr<oxa_sim::SimConnection> kept;
  sim.on(0x20010, [&](const oxa_sim::Exchange& ex) {
    ex.answer(0x20011, {1, 2, 3});                        // the answer, under the reply mode
    ex.conn->push(0x20012, 999, {4});                     // a push with another request id
    ex.conn->send_after(Millis(30), oxa_sim::encode_frame(oxa_sim::kPush, 0x20013, 5, {}, 0));
    std::lock_guard<std::mutex> lk(mu);
    kept = ex.conn;
  });
  auto c = connect_client();
  ASSERT_TRUE(c->request(0x20010, 77, {0}));
  auto answer = c->read_frame(kWait);
  auto push = c->read_frame(kWait);
  auto later = c->read_frame(kWait);
  ASSERT_TRUE(answer && push && later);
  EXPECT_EQ(answer->type, oxa_sim::kResponse);
  EXPECT_EQ(answer->msg, 0x20011u);
  EXPECT_EQ(answer->req, 77u);
  EXPECT_EQ(answer->body, (Bytes{1, 2, 3}));
  EXPECT_EQ(push->type, oxa_sim::kPush);
  EXPECT_EQ(push->req, 999u);
  EXPECT_EQ(later->msg, 0x20013u);

  // the kept connection answers from the test's thread, long after the handler returned
  std::shared_ptr<oxa_sim::SimConnection> conn;
  {
    std::lock_guard<std::mutex> lk(mu);
    conn = kept;
  }
  ASSERT_TRUE(conn);
  ASSERT_TRUE(conn->send(oxa_sim::kResponse, 0x20014, 78, {6}, 1));
  auto from_test = c->read_frame(kWait);
  ASSERT_TRUE(from_test);
  EXPECT_EQ(from_test->msg, 0x20014u);
  EXPECT_EQ(from_test->async_flag, 1);

  // reply modes apply to business answers too; removing the handler leaves the request unanswered
  sim.queue_reply(0x20010, ReplyPlan::never());
  ASSERT_TRUE(c->request(0x20010, 79, {0}));
  auto p1 = c->read_frame(kWait);
  auto p2 = c->read_frame(kWait);
  ASSERT_TRUE(p1 && p2);
  EXPECT_EQ(p1->msg, 0x20012u);  // the push, no answer before it
  sim.on(0x20010, nullptr);
  ASSERT_TRUE(c->request(0x20010, 80, {0}));
  EXPECT_FALSE(c->read_frame(kSilence));
}

TEST_F(SimTest, ThrowingHandlerKeepsTheConnection) {
  sim.on(0x20020, [](const oxa_sim::Exchange&) { throw std::runtime_error("boom"); });
  auto c = connect_client();
  ASSERT_TRUE(c->request(0x20020, 1, {}));
  ASSERT_TRUE(c->request(0xf0002, 2, account_body(2, 8)));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->req, 2u);
}

TEST_F(SimTest, ManyClientsAtOnce) {
  constexpr int kClients = 6, kEach = 40;
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RawClient c(sim.port());
      if (!c.connected()) return;
      for (int i = 0; i < kEach; ++i) {
        const std::uint64_t acc = static_cast<std::uint64_t>(t) * 1000 + i;
        if (!c.request(0xf0001, acc, login_request(acc))) return;
        auto f = c.read_frame(kWait);
        if (f && f->req == acc && le(f->body, 0, 8) == acc) ++answered;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(answered.load(), kClients * kEach);
  EXPECT_EQ(sim.count(0xf0001), static_cast<std::size_t>(kClients * kEach));
}

// ---- lifecycle ---------------------------------------------------------------------------

TEST(GatewaySimLifecycle, StopEndsEverythingPromptly) {
  std::uint16_t port = 0;
  std::shared_ptr<oxa_sim::SimConnection> survivor;
  auto sim = std::make_unique<GatewaySim>();
  ASSERT_TRUE(sim->start(0));
  EXPECT_FALSE(sim->start(0));  // once per object
  port = sim->port();
  RawClient c(port);
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(sim->wait_for_accepted(1, kWait));
  sim->set_reply(0xf0001, ReplyPlan::late(Millis(60000)));  // pending at stop
  ASSERT_TRUE(c.request(0xf0001, 1, login_request(1)));
  ASSERT_TRUE(sim->wait_for_frame(0xf0001, kWait));
  survivor = sim->open_connections().at(0);

  const auto t0 = Clock::now();
  sim->stop();
  sim->stop();  // twice is harmless
  EXPECT_LT(Clock::now() - t0, Millis(3000));
  EXPECT_TRUE(c.wait_closed(kWait));
  RawClient after(port);
  EXPECT_FALSE(after.connected());
  EXPECT_FALSE(sim->refuse_connections());
  EXPECT_FALSE(sim->accept_connections());
  EXPECT_FALSE(sim->wait_for_frame(0xf0001, Millis(1), 1));
  sim.reset();
  // a connection kept beyond the sim only fails
  EXPECT_FALSE(survivor->push(1, 1, {}));
  EXPECT_FALSE(survivor->send_after(Millis(1), {}));
}

TEST(GatewaySimLifecycle, FixedPortInUseFailsToStart) {
  GatewaySim first;
  ASSERT_TRUE(first.start(0));
  GatewaySim second;
  EXPECT_FALSE(second.start(first.port()));
}

TEST(GatewaySimLifecycle, DestructorWithoutStop) {
  auto sim = std::make_unique<GatewaySim>();
  ASSERT_TRUE(sim->start(0));
  RawClient c(sim->port());
  ASSERT_TRUE(sim->wait_for_accepted(1, kWait));
  sim.reset();
  EXPECT_TRUE(c.wait_closed(kWait));
}

// ---- command line ------------------------------------------------------------------------

bool parse(std::vector<const char*> args, oxa_sim::SimOptions& o, std::string& err) {
  args.insert(args.begin(), "oxa_gateway_sim");
  return oxa_sim::parse_options(static_cast<int>(args.size()), args.data(), o, err);
}

TEST(SimCli, OptionsReachTheAnswers) {
  oxa_sim::SimOptions o;
  std::string err;
  ASSERT_TRUE(parse({"--port", "0", "--account-business", "12=2", "--account-business=13=3",
                     "--business", "1", "--protocol-mode", "2", "--login-error", "-5",
                     "--hqtrs-ip", "1.2.3.4", "--hqtrs-port", "65535", "--group", "7",
                     "--member=8", "--option-value", "0xFFFFFFFFFFFFFFFF", "--push-reg-error", "9",
                     "--logout-error", "10", "--reply", "0xf0001=never", "--reply",
                     "983042=delayed:40", "--no-heartbeat-reply", "--offline-request-id", "3",
                     "--offline-trading-day", "20240105", "--fund-account", "99", "--verbose"},
                    o, err))
      << err;
  EXPECT_EQ(o.account_business.at(12), 2);
  EXPECT_EQ(o.account_business.at(13), 3);
  EXPECT_EQ(o.login.protocol_mode, 2);
  EXPECT_EQ(o.login.error_code, -5);
  EXPECT_EQ(o.login.hqtrs_port, 65535);
  EXPECT_EQ(o.login.member_id, 8);
  EXPECT_EQ(o.login.option_value, UINT64_MAX);
  EXPECT_EQ(o.login.fund_account, 99u);
  ASSERT_EQ(o.replies.size(), 2u);
  EXPECT_EQ(o.replies[0].first, 0xf0001u);
  EXPECT_EQ(o.replies[0].second.mode, oxa_sim::ReplyMode::kNever);
  EXPECT_EQ(o.replies[1].first, 0xf0002u);
  EXPECT_EQ(o.replies[1].second.delay, Millis(40));
  EXPECT_FALSE(o.answer_heartbeats);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.offline_trading_day, 20240105u);

  GatewaySim sim;
  oxa_sim::apply_options(o, sim);
  ASSERT_TRUE(sim.start(o.port));
  RawClient c(sim.port());
  ASSERT_TRUE(c.request(0xf0001, 1, login_request(12)));
  EXPECT_FALSE(c.read_frame(kSilence));  // never
  ASSERT_TRUE(c.request(0xf0002, 2, account_body(12, 8)));
  auto reg = c.read_frame(kWait);
  ASSERT_TRUE(reg);
  EXPECT_EQ(le(reg->body, 8, 4), 9u);
}

TEST(SimCli, SpotOptionsReachTheSpotLoginAnswer) {
  oxa_sim::SimOptions o;
  std::string err;
  ASSERT_TRUE(parse({"--spot-fund-account", "55", "--spot-trading-day", "20240105",
                     "--spot-fund-index", "70000", "--spot-session-no=4000000000",
                     "--spot-order-no-index", "-2", "--spot-login-error", "-9", "--spot-node",
                     "300", "--spot-order-limit", "-5", "--spot-query-limit", "-1",
                     "--no-subscribe-replay"},
                    o, err))
      << err;
  EXPECT_FALSE(o.subscribe_replay);
  GatewaySim sim;
  oxa_sim::apply_options(o, sim);
  ASSERT_TRUE(sim.start(0));
  RawClient c(sim.port());
  Bytes q(306, 0);
  put_le(q, 8, 12, 8);
  ASSERT_TRUE(c.request(0x10a, 1, q));
  auto f = c.read_frame(kWait);
  ASSERT_TRUE(f);
  ASSERT_EQ(f->body.size(), 60u);
  struct {
    std::size_t off;
    std::uint64_t value;
  } fields[] = {{8, 55},         {24, 20240105},  {32, 70000},      {36, 0xFFFFFFFEu},
                {40, 4000000000u}, {44, 0xFFFFFFF7u}, {48, 300}, {52, 0xFFFFFFFBu},
                {56, 0xFFFFFFFFu}};
  for (const auto& k : fields) EXPECT_EQ(le(f->body, k.off, k.off == 8 ? 8 : 4), k.value) << k.off;

  // no stored push is replayed before the end notice
  sim.push_store().append(12, 0x121, Bytes(160, 1));
  Bytes sub(24, 0);
  put_le(sub, 16, 12, 8);
  ASSERT_TRUE(c.request(0x103, 2, sub));
  auto end = c.read_frame(kWait);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->msg, 0x104u);
}

TEST(SimCli, BadArgumentsAreRefused) {
  const std::vector<std::vector<const char*>> bad = {
      {"--port", "65536"},
      {"--port"},
      {"--port", "12x"},
      {"--business", "256"},
      {"--account-business", "12"},
      {"--account-business", "x=1"},
      {"--login-error", "2147483648"},
      {"--reply", "0xf0001=sometimes"},
      {"--reply", "0xf0001=delayed"},
      {"--reply", "0xf0001=never:5"},
      {"--hqtrs-ip", "0123456789abcdefg"},
      {"--hqtrs-port", "-1"},
      {"--verbose=yes"},
      {"--spot-fund-index", "-1"},
      {"--spot-trading-day", "x"},
      {"--spot-node", "2147483648"},
      {"--no-subscribe-replay=1"},
      {"--what"},
  };
  for (const auto& args : bad) {
    oxa_sim::SimOptions o;
    std::string err;
    EXPECT_FALSE(parse(args, o, err)) << args[0];
    EXPECT_FALSE(err.empty());
  }
}

// ---- the program -------------------------------------------------------------------------

TEST(SimProgram, StartsReportsItsPortAndStopsOnSignals) {
  const std::string bin = sim_binary();
  if (::access(bin.c_str(), X_OK) != 0) GTEST_SKIP() << "program not built: " << bin;

  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    Program p;
    ASSERT_TRUE(p.spawn(bin, {"--account-business", "8=3", "--option-value", "42",
                              "--offline-trading-day", "20240108"}));
    auto first = p.line(kWait);
    ASSERT_TRUE(first);
    auto port = port_of(*first);
    ASSERT_TRUE(port) << *first;
    ASSERT_NE(*port, 0);

    RawClient c(*port);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.request(0xf0001, 1, login_request(8)));
    auto f = c.read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(le(f->body, 36, 1), 3u);
    EXPECT_EQ(le(f->body, 552, 8), 42u);

    ASSERT_EQ(::kill(p.pid(), SIGUSR1), 0);
    auto off = c.read_frame(kWait);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->msg, 0xf000cu);
    EXPECT_EQ(le(off->body, 8, 8), 20240108u);
    EXPECT_EQ(p.line(kWait), "off-line command sent to 1 connection(s)");

    ASSERT_EQ(::kill(p.pid(), sig), 0);
    auto status = p.wait_exit(kWait);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(c.wait_closed(kWait));
  }
}

TEST(SimProgram, DefaultsLetASpotAccountLogIn) {
  const std::string bin = sim_binary();
  if (::access(bin.c_str(), X_OK) != 0) GTEST_SKIP() << "program not built: " << bin;
  Program p;
  ASSERT_TRUE(p.spawn(bin, {}));
  auto first = p.line(kWait);
  ASSERT_TRUE(first);
  auto port = port_of(*first);
  ASSERT_TRUE(port) << *first;

  const std::uint64_t acc = 880001;
  RawClient c(*port);
  ASSERT_TRUE(c.connected());
  Bytes spot_login(306, 0);
  put_le(spot_login, 8, acc, 8);
  Bytes sync(52, 0);
  put_le(sync, 16, acc, 8);
  put_le(sync, 32, 1, 4);
  put_le(sync, 36, 200, 4);
  Bytes sub(24, 0);
  put_le(sub, 16, acc, 8);
  struct Step {
    std::uint32_t msg, answer;
    Bytes body;
    std::size_t error_at;  // where the answer's error code lies (0: none to look at)
  } steps[] = {
      {0xf0001, 0xf0001, login_request(acc), 10},
      {0x10a, 0x10b, spot_login, 44},
      {0xf0002, 0xf0002, account_body(acc, 8), 8},
      {0x20010, 0x20011, sync, 0},
      {0x103, 0x104, sub, 0},
  };
  std::uint64_t req = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.msg);
    ASSERT_TRUE(c.request(s.msg, ++req, s.body));
    auto f = c.read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->msg, s.answer);
    EXPECT_EQ(f->req, req);
    if (s.error_at) {
      EXPECT_EQ(le(f->body, s.error_at, 4), 0u);
    }
    if (s.msg == 0xf0001) {
      EXPECT_EQ(le(f->body, 8, 2), 1u);   // over the gateway connection
      EXPECT_EQ(le(f->body, 36, 1), 1u);  // spot
    }
    if (s.msg == 0x20010) {
      const auto first_progress = le(f->body, 32, 4);
      EXPECT_TRUE(first_progress == le(f->body, 36, 4) || first_progress == 0);  // ended at once
      EXPECT_EQ(le(f->body, 44, 4), 0u);
    }
  }
  ASSERT_EQ(::kill(p.pid(), SIGTERM), 0);
  auto status = p.wait_exit(kWait);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
}

TEST(SimProgram, BadArgumentsExitWithUsage) {
  const std::string bin = sim_binary();
  if (::access(bin.c_str(), X_OK) != 0) GTEST_SKIP() << "program not built: " << bin;
  Program p;
  ASSERT_TRUE(p.spawn(bin, {"--port", "nope"}, true));
  auto status = p.wait_exit(kWait);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 2);
}

}  // namespace
