// The option side of the simulated gateway (login with its echo checks and reply modes, replay
// pages, subscription, the order server and its pushes), driven from a raw loopback client whose
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

TEST_F(OptionSimTest, SubscriptionIsAnswered) {
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
}

// An order-like request of account 8301 at the test's own offsets.
Bytes OrderHead(std::size_t len, std::uint64_t order_id) {
  Bytes b(len, 0);
  put_le(b, 0, 5001, 8);
  put_le(b, 8, 8301, 8);
  put_le(b, 16, order_id, 8);
  return b;
}

class OptionOrderServerTest : public OptionSimTest {
 protected:
  void SetUp() override {
    OptionSimTest::SetUp();
    client = connect_client();
    // live pushes go to the connection that registered the account for them
    ASSERT_TRUE(client->request(0xf0002, 1, account_body(8301, 8)));
    auto reg = client->read_frame(kWait);
    ASSERT_TRUE(reg);
    ASSERT_EQ(reg->msg, 0xf0002u);
    oxa_sim::OptionOrderConfig cfg;
    cfg.time = 20261215093000123;
    cfg.book_prices["10000001"] = 0.5;
    option.set_order_config(cfg);
  }
  // The pushes that come back for one request, in order, until silence.
  std::vector<Frame> Send(std::uint32_t id, const Bytes& body) {
    EXPECT_TRUE(client->request(id, ++seq, body));
    std::vector<Frame> out;
    while (auto f = client->read_frame(out.empty() ? kWait : kSilence)) out.push_back(*f);
    return out;
  }
  Bytes Single(std::uint64_t order_id, const char* ticker, double price, std::int64_t qty, char side = '1') {
    Bytes b = OrderHead(324, order_id);
    put_le(b, 24, 31, 8);
    std::memcpy(&b[32], ticker, std::strlen(ticker));
    put_le(b, 41, 1, 4);
    std::uint64_t bits;
    std::memcpy(&bits, &price, 8);
    put_le(b, 45, bits, 8);
    put_le(b, 53, static_cast<std::uint64_t>(qty), 8);
    b[61] = '2';
    b[62] = '0';
    b[63] = ' ';
    b[64] = static_cast<std::uint8_t>(side);
    b[65] = 'O';
    return b;
  }

  std::unique_ptr<RawClient> client;
  std::uint64_t seq = 10;
};

TEST_F(OptionOrderServerTest, LimitOrderFillsAtTheBookPriceOrStaysWorking) {
  auto pushes = Send(0x402, Single(0x701, "10000001", 0.6, 3));
  ASSERT_EQ(pushes.size(), 3u);
  EXPECT_EQ(pushes[0].msg, 0x502u);
  EXPECT_EQ(pushes[0].body.size(), 439u);
  EXPECT_EQ(pushes[0].body[117], '2') << "accepted";
  EXPECT_EQ(le(pushes[0].body, 16, 8), 0x701u);
  EXPECT_EQ(le(pushes[0].body, 24, 8), 31u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pushes[0].body[59])), "10000001");
  EXPECT_EQ(le(pushes[0].body, 368, 8), 20261215093000123u) << "the configured time";
  EXPECT_EQ(pushes[1].msg, 0x510u);
  EXPECT_EQ(pushes[1].body.size(), 185u);
  double price;
  std::memcpy(&price, &pushes[1].body[89], 8);
  EXPECT_DOUBLE_EQ(price, 0.5) << "the book price";
  EXPECT_EQ(le(pushes[1].body, 97, 8), 3u);
  EXPECT_EQ(pushes[2].msg, 0x502u);
  EXPECT_EQ(pushes[2].body[117], '8') << "filled";
  EXPECT_EQ(le(pushes[2].body, 101, 8), 3u);
  for (std::size_t i = 0; i < pushes.size(); ++i) EXPECT_EQ(pushes[i].req, i + 1) << "the push numbers";

  // below the book: working, then cancelled
  pushes = Send(0x402, Single(0x702, "10000001", 0.4, 1));
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].body[117], '2');
  Bytes cancel = OrderHead(311, 0x703);
  put_le(cancel, 36, 0x702, 8);
  pushes = Send(0x403, cancel);
  ASSERT_EQ(pushes.size(), 2u);
  EXPECT_EQ(pushes[0].msg, 0x506u);
  EXPECT_EQ(le(pushes[0].body, 16, 8), 0x703u);
  EXPECT_EQ(le(pushes[0].body, 59, 8), 0x702u);
  EXPECT_EQ(le(pushes[0].body, 144, 4), 0u);
  EXPECT_EQ(pushes[1].msg, 0x502u);
  EXPECT_EQ(pushes[1].body[117], '6');
  EXPECT_EQ(le(pushes[1].body, 423, 8), 0x703u);
  // again: the order is no longer working
  pushes = Send(0x403, cancel);
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(le(pushes[0].body, 144, 4), 11000343u);

  // every push was stored for the replay
  EXPECT_EQ(option.pushes().size(8301), 7u);
  EXPECT_EQ(option.pushes().last_seq(8301), 7u);
}

TEST_F(OptionOrderServerTest, RefusedOrders) {
  for (Bytes b : {Single(0x711, "", 1, 1), Single(0x712, "10000001", 1, 0)}) {
    auto pushes = Send(0x402, b);
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].body[117], '9');
    EXPECT_EQ(le(pushes[0].body, 118, 4), 200002u);
  }
  Bytes odd = Single(0x713, "10000001", 1, 1);
  odd[61] = 'Q';
  auto pushes = Send(0x402, odd);
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].body[117], '9');
}

TEST_F(OptionOrderServerTest, CombinationLockExerciseAndTransfer) {
  Bytes comb = OrderHead(408, 0x721);
  put_le(comb, 32, 2, 8);
  put_le(comb, 40, 1, 4);
  comb[44] = '1';
  std::memcpy(&comb[45], "CNSJC", 5);
  put_le(comb, 71, 2, 2);
  comb[73] = 'L';
  comb[74] = 'S';
  comb[78] = '1';
  put_le(comb, 81, 2, 8);
  put_le(comb, 89, 2, 8);
  std::memcpy(&comb[113], "10000001", 8);
  std::memcpy(&comb[122], "10000002", 8);
  auto pushes = Send(0x405, comb);
  ASSERT_EQ(pushes.size(), 3u);
  EXPECT_EQ(pushes[0].msg, 0x50au);
  EXPECT_EQ(pushes[0].body.size(), 329u);
  EXPECT_EQ(pushes[0].body[204], '2');
  EXPECT_EQ(le(pushes[0].body, 98, 2), 2u);
  EXPECT_EQ(pushes[0].body[101], 'S');
  EXPECT_EQ(pushes[0].body[105], '1');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pushes[0].body[149])), "10000002");
  EXPECT_EQ(pushes[1].msg, 0x511u);
  EXPECT_EQ(pushes[1].body.size(), 231u);
  EXPECT_EQ(pushes[2].body[204], '8');

  Bytes lock = OrderHead(311, 0x722);
  put_le(lock, 32, 100, 8);
  std::memcpy(&lock[40], "510050", 6);
  lock[47] = 'Z';
  pushes = Send(0x404, lock);
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].msg, 0x508u);
  EXPECT_EQ(pushes[0].body[74], 'Z');
  EXPECT_EQ(pushes[0].body[103], '8');
  EXPECT_EQ(le(pushes[0].body, 59, 8), 100u);

  Bytes exec = OrderHead(320, 0x723);
  put_le(exec, 32, 4, 8);
  std::memcpy(&exec[40], "10000001", 8);
  std::memcpy(&exec[49], "10000002", 8);
  pushes = Send(0x407, exec);
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].msg, 0x50eu);
  EXPECT_EQ(pushes[0].body.size(), 615u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pushes[0].body[76])), "10000002");
  EXPECT_EQ(pushes[0].body[113], '2');

  Bytes transfer = OrderHead(41, 0x724);
  transfer[40] = '1';
  pushes = Send(0x45b, transfer);
  ASSERT_EQ(pushes.size(), 1u);
  EXPECT_EQ(pushes[0].msg, 0x565u);
  EXPECT_EQ(le(pushes[0].body, 16, 8), 0x724u);
  EXPECT_EQ(pushes[0].body[40], '1');
  EXPECT_EQ(pushes[0].body[117], '2');

  const auto orders = option.order_requests();
  ASSERT_EQ(orders.size(), 4u);
  EXPECT_EQ(orders[0].msg_id, 0x405u);
  EXPECT_EQ(orders[3].order_id, 0x724u);
}

TEST_F(OptionOrderServerTest, UnansweredWhenTurnedOff) {
  oxa_sim::OptionOrderConfig cfg;
  cfg.answer_orders = false;
  option.set_order_config(cfg);
  EXPECT_TRUE(client->request(0x402, 1, Single(0x731, "10000001", 1, 1)));
  EXPECT_FALSE(client->read_frame(kSilence));
  const auto deadline = Clock::now() + kWait;
  while (option.order_requests().empty() && Clock::now() < deadline) std::this_thread::sleep_for(Millis(1));
  ASSERT_EQ(option.order_requests().size(), 1u);
  EXPECT_EQ(option.order_requests()[0].order_id, 0x731u);
}

}  // namespace
