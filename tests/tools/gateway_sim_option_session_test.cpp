// The option side of the simulated gateway (login with its echo checks and reply modes, replay
// pages, subscription, the record of order requests), driven from a raw loopback client whose
// records are written and read at offsets of its own, never through the sim's tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimOption.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;

constexpr std::uint32_t kLogin = 0x401, kLoginRsp = 0x500;
constexpr std::uint32_t kSync = 0x460, kSyncRsp = 0x56a;
constexpr std::uint32_t kSubscribe = 0x416, kSubscribeRsp = 0x521;
constexpr std::size_t kRowStride = 625;  // position, id, sequence, the longest option push (615)

// The gateway answer the client saw: option value and bytes 14-35.
oxa_sim::LoginAnswer Gateway() {
  oxa_sim::LoginAnswer a;
  a.protocol_mode = 1;
  a.hqtrs_ip = "10.1.2.3";
  a.hqtrs_port = 7001;
  a.group_id = 4;
  a.member_id = 5;
  a.option_value = 0x1122334455667788ull;
  a.business_type = 3;
  return a;
}

Bytes LoginRequest(std::uint64_t account, std::uint64_t seq, const oxa_sim::LoginAnswer& g) {
  Bytes b(315, 0);
  put_le(b, 0, account, 8);
  put_le(b, 8, g.option_value, 8);
  put_le(b, 16, seq, 8);
  put_le(b, 24, 7, 2);
  put_le(b, 26, g.protocol_mode, 2);
  put_le(b, 28, 0x401, 8);
  b[36] = 'P';
  std::memcpy(&b[37], "term", 4);
  std::memcpy(&b[293], g.hqtrs_ip.data(), g.hqtrs_ip.size());
  put_le(b, 309, g.hqtrs_port, 2);
  put_le(b, 311, g.group_id, 2);
  put_le(b, 313, g.member_id, 2);
  return b;
}

Bytes SyncRequest(std::uint64_t session, std::uint64_t seq, std::int32_t position, std::int32_t start,
                  std::uint64_t account) {
  Bytes b(37, 0);
  put_le(b, 0, session, 8);
  put_le(b, 8, seq, 8);
  put_le(b, 16, static_cast<std::uint32_t>(position), 4);
  b[24] = '0';
  put_le(b, 25, static_cast<std::uint32_t>(start), 4);
  put_le(b, 29, account, 8);
  return b;
}

class OptionSimTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim.set_login_answer(Gateway());
  }
  std::optional<Frame> Login(RawClient& c, std::uint64_t account, std::uint64_t seq,
                             const oxa_sim::LoginAnswer& g = Gateway()) {
    EXPECT_TRUE(c.request(kLogin, seq, LoginRequest(account, seq, g)));
    return c.read_frame(kWait);
  }

  oxa_sim::SimOption option{sim};
};

TEST_F(OptionSimTest, LoginAnswerFieldsAtTheirOffsets) {
  oxa_sim::OptionLoginAnswer a;
  a.session_no = 0x0102030405060708ull;
  a.date = 20261210;
  a.node_id = 9;
  a.fund_index = 0x10033;  // the library keeps the low 16 bits
  a.cur_order_id = 41;
  a.order_limit = 5;
  a.query_limit = -1;
  option.set_login_answer(a);
  auto c = connect_client();
  auto f = Login(*c, 8001, 12);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->msg, kLoginRsp);
  EXPECT_EQ(f->req, 12u);
  ASSERT_EQ(f->body.size(), 415u);
  EXPECT_EQ(le(f->body, 0, 8), 8001u);
  EXPECT_EQ(le(f->body, 8, 8), 0x0102030405060708ull);
  EXPECT_EQ(le(f->body, 315, 4), 0u);
  EXPECT_EQ(le(f->body, 383, 4), 20261210u);
  EXPECT_EQ(le(f->body, 387, 4), 9u);
  EXPECT_EQ(le(f->body, 391, 8), 0x10033u);
  EXPECT_EQ(le(f->body, 399, 8), 41u);
  EXPECT_EQ(le(f->body, 407, 4), 5u);
  EXPECT_EQ(static_cast<std::int32_t>(le(f->body, 411, 4)), -1);

  const auto logins = option.login_requests();
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_TRUE(logins[0].echo_ok);
  EXPECT_EQ(logins[0].terminal_info, "term");
  EXPECT_EQ(logins[0].client_id, 7u);
}

TEST_F(OptionSimTest, WrongEchoesAreAnsweredWithTheEchoError) {
  struct Row {
    const char* name;
    void (*spoil)(Bytes&);
  };
  const Row rows[] = {
      {"option value", [](Bytes& b) { b[8] ^= 1; }},
      {"coordinator address", [](Bytes& b) { b[293] = 'X'; }},
      {"bus member", [](Bytes& b) { b[314] = 1; }},
      {"message constant", [](Bytes& b) { b[28] = 0; }},
      {"marker", [](Bytes& b) { b[36] = 'Q'; }},
      {"protocol mode", [](Bytes& b) { b[26] = 2; }},
  };
  auto c = connect_client();
  std::uint64_t seq = 1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes b = LoginRequest(8002, seq, Gateway());
    row.spoil(b);
    ASSERT_TRUE(c->request(kLogin, seq, b));
    auto f = c->read_frame(kWait);
    ASSERT_TRUE(f);
    EXPECT_EQ(le(f->body, 315, 4), 9901u);
    EXPECT_FALSE(option.login_requests().back().echo_ok);
    ++seq;
  }
  // a request id other than the request sequence is an echo fault too
  ASSERT_TRUE(c->request(kLogin, 99, LoginRequest(8002, seq, Gateway())));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(le(f->body, 315, 4), 9901u);
}

TEST_F(OptionSimTest, ReplyModesAndTheErrorAnswer) {
  oxa_sim::OptionLoginAnswer refused;
  refused.error_code = 230001;
  option.set_account_login_answer(8004, refused);
  sim.queue_reply(kLogin, ReplyPlan::never());
  sim.queue_reply(kLogin, ReplyPlan::delayed(Millis(120)));
  auto c = connect_client();

  ASSERT_TRUE(c->request(kLogin, 1, LoginRequest(8003, 1, Gateway())));
  EXPECT_FALSE(c->read_frame(kSilence)) << "never: recorded, unanswered";
  EXPECT_EQ(option.login_requests().size(), 1u);

  const auto sent = Clock::now();
  auto delayed = Login(*c, 8003, 2);
  ASSERT_TRUE(delayed);
  EXPECT_GE(Clock::now() - sent, Millis(100));
  EXPECT_EQ(le(delayed->body, 315, 4), 0u);

  auto error = Login(*c, 8004, 3);
  ASSERT_TRUE(error);
  EXPECT_EQ(le(error->body, 315, 4), 230001u);
  EXPECT_EQ(le(error->body, 0, 8), 8004u);
}

TEST_F(OptionSimTest, AccountsKeepTheirIndexOverLogins) {
  auto c = connect_client();
  auto first = Login(*c, 8101, 1);
  auto second = Login(*c, 8102, 2);
  auto again = Login(*c, 8101, 3);
  ASSERT_TRUE(first && second && again);
  EXPECT_EQ(le(first->body, 391, 8), 1u);
  EXPECT_EQ(le(second->body, 391, 8), 2u);
  EXPECT_EQ(le(again->body, 391, 8), 1u);
  EXPECT_EQ(le(again->body, 8, 8), 5001u);
}

TEST_F(OptionSimTest, ReplayPagesCarryStoredPushesFromTheStartSequence) {
  for (int i = 0; i < 5; ++i) option.pushes().append(8201, 0x502 + 2 * (i % 2), Bytes(10 + i, std::uint8_t(i + 1)));
  option.set_rows_per_page(2);
  auto c = connect_client();
  const std::uint64_t session = 3ull << 16 | 1;

  // from sequence 2: four pushes, pages of two
  ASSERT_TRUE(c->request(kSync, 40, SyncRequest(session, 40, 0, 2, 8201)));
  auto page = c->read_frame(kWait);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->msg, kSyncRsp);
  EXPECT_EQ(page->req, 40u);
  const Bytes& b = page->body;
  ASSERT_EQ(b.size(), 48 + 2 * kRowStride);
  EXPECT_EQ(le(b, 0, 8), session) << "echoes the API session id";
  EXPECT_EQ(le(b, 8, 8), 40u);
  EXPECT_EQ(b[16], 0) << "not the last page";
  EXPECT_EQ(le(b, 17, 4), 0u);
  EXPECT_EQ(le(b, 21, 2), 2u);
  EXPECT_EQ(le(b, 23, 4), 4u);
  EXPECT_EQ(le(b, 27, 4), kRowStride);
  EXPECT_EQ(b[35], '0');
  EXPECT_EQ(le(b, 36, 8), 8201u);
  EXPECT_EQ(le(b, 44, 4), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t row = 48 + i * kRowStride;
    EXPECT_EQ(le(b, row, 4), i + 1) << "position";
    EXPECT_EQ(le(b, row + 6, 4), i + 2) << "sequence";
    EXPECT_EQ(le(b, row + 4, 2), i % 2 == 0 ? 0x504u : 0x502u);
    EXPECT_EQ(b[row + 10], i + 2) << "push body byte for byte";
    EXPECT_EQ(b[row + 10 + 11 + i], 0) << "zero after the body";
  }

  // the follow-up continues after position 2 and is the last
  ASSERT_TRUE(c->request(kSync, 41, SyncRequest(session, 41, 2, 2, 8201)));
  page = c->read_frame(kWait);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body[16], 1);
  EXPECT_EQ(le(page->body, 21, 2), 2u);
  EXPECT_EQ(le(page->body, 48, 4), 3u);
  EXPECT_EQ(le(page->body, 48 + kRowStride, 4), 4u);

  // nothing stored: one empty last page
  ASSERT_TRUE(c->request(kSync, 42, SyncRequest(session, 42, 0, 0, 8299)));
  page = c->read_frame(kWait);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body.size(), 48u);
  EXPECT_EQ(page->body[16], 1);
  EXPECT_EQ(le(page->body, 21, 2), 0u);
  EXPECT_EQ(le(page->body, 23, 4), 0u);

  const auto requests = option.sync_requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].position, 2);
  EXPECT_EQ(requests[1].start_seq, 2);
  EXPECT_EQ(requests[1].flag, '0');
}

TEST_F(OptionSimTest, SubscriptionIsAnsweredAndOrdersAreRecorded) {
  auto c = connect_client();
  Bytes sub(28, 0);
  put_le(sub, 0, 5001, 8);
  put_le(sub, 8, 77, 8);
  put_le(sub, 16, 42, 4);
  put_le(sub, 20, 8301, 8);
  ASSERT_TRUE(c->request(kSubscribe, 77, sub));
  auto f = c->read_frame(kWait);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->msg, kSubscribeRsp);
  EXPECT_EQ(f->req, 77u);
  EXPECT_EQ(le(f->body, 16, 4), 42u);
  ASSERT_EQ(option.subscribe_requests().size(), 1u);
  EXPECT_EQ(option.subscribe_requests()[0].start_seq, 42);

  const std::uint32_t ids[] = {0x402, 0x403, 0x404, 0x405, 0x406, 0x407, 0x45b};
  std::uint64_t n = 0;
  for (const std::uint32_t id : ids) {
    Bytes order(id == 0x45b ? 41 : 311, 0);
    put_le(order, 0, 5001, 8);
    put_le(order, 8, 8301, 8);
    put_le(order, 16, 0x100 + n, 8);
    ASSERT_TRUE(c->request(id, ++n, order));
  }
  EXPECT_FALSE(c->read_frame(kSilence)) << "orders go unanswered";
  const auto deadline = Clock::now() + kWait;
  while (option.order_requests().size() < std::size(ids) && Clock::now() < deadline)
    std::this_thread::sleep_for(Millis(1));
  const auto orders = option.order_requests();
  for (std::size_t i = 0; i < orders.size(); ++i) {
    EXPECT_EQ(orders[i].msg_id, ids[i]);
    EXPECT_EQ(orders[i].fund_account, 8301u);
    EXPECT_EQ(orders[i].order_id, 0x100 + i);
    EXPECT_EQ(orders[i].request_id, i + 1);
  }
}

}  // namespace
