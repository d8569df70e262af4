// The spot order server of the simulated gateway, driven from a raw loopback client: every push
// it sends is checked byte by byte against records the test lays out at offsets of its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimCli.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;

constexpr std::uint32_t kInsert = 0x111, kCancel = 0x112, kTransfer = 0x113;
constexpr std::uint32_t kOrderPush = 0x121, kCancelError = 0x122, kTradePush = 0x123;
constexpr std::uint32_t kTransferPush = 0x124, kHolding = 0x146;
constexpr std::uint64_t kAccount = 6100;
constexpr std::uint64_t kSession = 3ull << 16 | 9;  // node 3, fund index 9
constexpr std::uint8_t kClient = 5;

std::uint64_t make_id(std::uint32_t seq) { return kSession << 40 | std::uint64_t{kClient} << 32 | seq; }

void put_double(Bytes& b, std::size_t off, double d) {
  std::uint64_t v;
  std::memcpy(&v, &d, 8);
  put_le(b, off, v, 8);
}
void put_text(Bytes& b, std::size_t off, const char* s) { std::memcpy(&b[off], s, std::strlen(s)); }

struct OrderArgs {
  std::uint32_t seq = 42;
  const char* ticker = "600000";
  std::int64_t quantity = 300;
  double price = 12.25;
  char price_type = '2';  // limit
  char side = '1';        // buy
  char market = '2';
  char business = '1';
};

Bytes insert_request(const OrderArgs& a) {
  Bytes b(65, 0);
  put_le(b, 0, 9, 4);
  put_le(b, 4, kAccount, 8);
  put_le(b, 12, static_cast<std::uint64_t>(a.quantity), 8);
  put_double(b, 20, a.price);
  put_le(b, 28, 9, 4);
  b[32] = '1';
  put_le(b, 33, a.seq, 4);
  put_text(b, 37, a.ticker);
  put_le(b, 45, 77, 4);  // order_client_id
  b[49] = kClient;
  put_le(b, 53, make_id(a.seq), 8);
  b[61] = static_cast<std::uint8_t>(a.market);
  b[62] = static_cast<std::uint8_t>(a.side);
  b[63] = static_cast<std::uint8_t>(a.price_type);
  b[64] = static_cast<std::uint8_t>(a.business);
  return b;
}

Bytes cancel_request(std::uint32_t order_seq, std::uint32_t cancel_seq) {
  Bytes b(67, 0);
  put_le(b, 0, 9, 4);
  put_le(b, 4, kAccount, 8);
  put_le(b, 12, 9, 4);
  b[16] = '1';
  put_le(b, 17, cancel_seq, 4);
  b[21] = '1';
  put_le(b, 22, kClient, 4);
  put_le(b, 26, order_seq, 4);
  b[50] = '1';
  b[55] = kClient;
  put_le(b, 59, make_id(cancel_seq), 8);
  return b;
}

// The order record as the server must send it for the order of `a`.
Bytes order_record(const OrderArgs& a, char status, const char* local_id) {
  Bytes b(160, 0);
  put_text(b, 16, a.ticker);
  put_le(b, 24, static_cast<std::uint64_t>(a.quantity), 8);
  put_double(b, 32, a.price);
  put_text(b, 40, local_id);
  b[51] = static_cast<std::uint8_t>(a.market);
  b[52] = static_cast<std::uint8_t>(a.side);
  b[53] = static_cast<std::uint8_t>(a.price_type);
  b[54] = static_cast<std::uint8_t>(a.business);
  b[55] = static_cast<std::uint8_t>(status);
  put_le(b, 56, 93000, 4);
  put_le(b, 89, 77, 4);
  b[93] = kClient;
  put_le(b, 97, make_id(a.seq), 8);
  put_le(b, 128, static_cast<std::uint64_t>(a.quantity), 8);  // leaves
  return b;
}

class SpotOrdersSimTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim.enable_spot_orders(true);
    client = connect_client();
    // live pushes go to the connection that registered the account for them
    ASSERT_TRUE(client->request(0xf0002, 1, account_body(kAccount, 8)));
    auto reg = client->read_frame(kWait);
    ASSERT_TRUE(reg.has_value());
    ASSERT_EQ(reg->msg, 0xf0002u);
  }
  // The next push, which must come.
  Frame next_push() {
    auto f = client->read_frame(kWait);
    EXPECT_TRUE(f.has_value());
    if (!f) return Frame{};
    EXPECT_EQ(f->type, oxa_sim::kPush);
    return *f;
  }
  void expect_bytes(const Frame& f, std::uint32_t msg, std::uint64_t seq, const Bytes& want) {
    EXPECT_EQ(f.msg, msg);
    EXPECT_EQ(f.req, seq);
    ASSERT_EQ(f.body.size(), want.size()) << std::hex << msg;
    for (std::size_t i = 0; i < want.size(); ++i)
      EXPECT_EQ(f.body[i], want[i]) << std::hex << "msg 0x" << msg << std::dec << " byte " << i;
  }

  std::unique_ptr<RawClient> client;
};

TEST_F(SpotOrdersSimTest, LimitOrderIsAcceptedTradedHeldAndFilled) {
  const OrderArgs a;
  ASSERT_TRUE(client->request(kInsert, 10, insert_request(a)));

  expect_bytes(next_push(), kOrderPush, 1, order_record(a, '2', "E000000001"));

  Bytes trade(121, 0);
  trade[0] = '2';
  put_text(trade, 1, "E000000001");
  put_text(trade, 12, "X0000000000000001");
  trade[30] = '1';
  trade[31] = '1';
  put_double(trade, 40, 12.25);
  put_le(trade, 48, 300, 8);
  put_le(trade, 72, 1, 4);
  put_le(trade, 76, 93000, 4);
  put_text(trade, 94, "600000");
  put_le(trade, 104, 77, 4);
  trade[108] = kClient;
  trade[109] = '2';
  put_le(trade, 112, make_id(42), 8);
  trade[120] = '0';
  expect_bytes(next_push(), kTradePush, 2, trade);

  Bytes hold(67, 0);
  put_le(hold, 8, 9, 4);
  put_text(hold, 12, "600000");
  hold[20] = '2';
  put_le(hold, 21, 300, 8);     // holding after the fill
  put_le(hold, 29, 300, 8);     // the change
  put_le(hold, 37, 0, 8);       // bought today: nothing sellable yet
  put_le(hold, 45, 36750000, 8);  // 300 x 12.25 in 1/10000
  hold[61] = '1';
  hold[62] = 3;
  put_le(hold, 63, 93000, 4);
  expect_bytes(next_push(), kHolding, 3, hold);

  Bytes filled = order_record(a, '5', "E000000001");
  put_le(filled, 118, 300, 8);
  put_le(filled, 128, 0, 8);
  put_double(filled, 136, 3675.0);
  expect_bytes(next_push(), kOrderPush, 4, filled);

  EXPECT_EQ(sim.spot_orders().holding(kAccount, "600000"), 300);
  EXPECT_EQ(sim.push_store().size(kAccount), 4u);

  // a sale takes the holding down again
  OrderArgs sell;
  sell.seq = 43;
  sell.side = '2';
  sell.quantity = 100;
  ASSERT_TRUE(client->request(kInsert, 11, insert_request(sell)));
  for (int i = 0; i < 2; ++i) next_push();
  const Frame h = next_push();
  EXPECT_EQ(h.msg, kHolding);
  EXPECT_EQ(static_cast<std::int64_t>(le(h.body, 21, 8)), 200);
  EXPECT_EQ(static_cast<std::int64_t>(le(h.body, 29, 8)), -100);
  EXPECT_EQ(h.body[61], '2');
  next_push();
  EXPECT_EQ(sim.spot_orders().holding(kAccount, "600000"), 200);
}

TEST_F(SpotOrdersSimTest, CancelsOfOpenFilledAndUnknownOrders) {
  OrderArgs open;
  open.seq = 50;
  open.price_type = '1';  // not a limit order: it stays open
  ASSERT_TRUE(client->request(kInsert, 1, insert_request(open)));
  expect_bytes(next_push(), kOrderPush, 1, order_record(open, '2', "E000000001"));

  OrderArgs limit;
  limit.seq = 51;
  ASSERT_TRUE(client->request(kInsert, 2, insert_request(limit)));
  for (int i = 0; i < 4; ++i) next_push();  // accepted, trade, holding, filled: 2..5

  // open: the order record comes back cancelled, naming the cancel
  ASSERT_TRUE(client->request(kCancel, 3, cancel_request(50, 60)));
  Bytes cancelled = order_record(open, '6', "E000000001");
  put_le(cancelled, 152, make_id(60), 8);
  expect_bytes(next_push(), kOrderPush, 6, cancelled);

  const std::int32_t reject = sim.spot_orders().config().cancel_reject_error;
  const std::int32_t unknown = sim.spot_orders().config().cancel_unknown_error;
  struct Case {
    const char* name;
    std::uint32_t order_seq, cancel_seq;
    std::int32_t error;
  } cases[] = {
      {"filled", 51, 61, reject},
      {"cancelled already", 50, 62, reject},
      {"never seen", 99, 63, unknown},
  };
  std::uint64_t seq = 7;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    ASSERT_TRUE(client->request(kCancel, 4, cancel_request(k.order_seq, k.cancel_seq)));
    Bytes want(122, 0);
    put_le(want, 8, 9, 4);
    put_le(want, 16, k.order_seq, 4);
    put_le(want, 24, static_cast<std::uint32_t>(k.error), 4);
    put_le(want, 76, make_id(k.cancel_seq), 8);
    put_le(want, 114, kClient, 2);
    want[121] = 3;
    expect_bytes(next_push(), kCancelError, seq++, want);
  }
}

TEST_F(SpotOrdersSimTest, TransferComesBackWithItsResult) {
  Bytes req(99, 0);
  put_le(req, 0, 17, 8);
  req[8] = '0';
  put_le(req, 41, kAccount, 8);
  put_double(req, 49, 250.5);
  put_le(req, 57, 9, 4);
  req[61] = '0';
  req[65] = '1';
  put_le(req, 70, 101112, 4);
  put_le(req, 74, 9, 4);
  put_le(req, 78, 3, 4);
  req[82] = kClient;
  req[87] = kClient;
  put_le(req, 91, make_id(17), 8);
  for (std::uint32_t result : {1u, 30u}) {
    SCOPED_TRACE(result);
    auto cfg = sim.spot_orders().config();
    cfg.transfer_result = result;
    sim.spot_orders().set_config(cfg);
    ASSERT_TRUE(client->request(kTransfer, 5, req));
    Bytes want = req;
    put_le(want, 66, result, 4);
    expect_bytes(next_push(), kTransferPush, result == 1 ? 1 : 2, want);
  }
}

TEST_F(SpotOrdersSimTest, FaultsDuplicateOldNumbersAndCutRecords) {
  oxa_sim::SpotPushFaults f;
  f.duplicate = true;
  f.stale = true;
  sim.spot_orders().set_faults(f);
  OrderArgs a;
  a.price_type = '1';
  ASSERT_TRUE(client->request(kInsert, 1, insert_request(a)));  // push 1: no number before it
  ASSERT_TRUE(client->request(kCancel, 2, cancel_request(a.seq, 70)));  // push 2
  std::vector<std::uint64_t> seqs;
  for (int i = 0; i < 5; ++i) seqs.push_back(next_push().req);
  EXPECT_EQ(seqs, (std::vector<std::uint64_t>{1, 1, 2, 2, 1}));
  EXPECT_EQ(sim.push_store().size(kAccount), 2u) << "only the originals are stored";

  f = {};
  f.truncate = 50;
  sim.spot_orders().set_faults(f);
  a.seq = 71;
  ASSERT_TRUE(client->request(kInsert, 3, insert_request(a)));
  const Frame cut = next_push();
  EXPECT_EQ(cut.req, 3u);
  Bytes head = order_record(a, '2', "E000000002");
  head.resize(50);
  EXPECT_EQ(cut.body, head);
  EXPECT_EQ(sim.push_store().list(kAccount).back().body.size(), 50u);
}

TEST_F(SpotOrdersSimTest, OffOrCutRequestsGetNothing) {
  // a request too short for its record is not answered
  ASSERT_TRUE(client->request(kInsert, 1, Bytes(64, 0)));
  ASSERT_TRUE(client->request(kCancel, 2, Bytes(10, 0)));
  ASSERT_TRUE(client->request(kTransfer, 3, Bytes(98, 0)));
  sim.enable_spot_orders(false);
  ASSERT_TRUE(client->request(kInsert, 4, insert_request(OrderArgs{})));
  EXPECT_FALSE(client->read_frame(kSilence).has_value());
  EXPECT_EQ(sim.push_store().size(kAccount), 0u);
  EXPECT_EQ(sim.spot_orders().order_count(), 0u);
  sim.enable_spot_orders(true);
  ASSERT_TRUE(client->request(kInsert, 5, insert_request(OrderArgs{})));
  EXPECT_EQ(next_push().req, 1u);
}

// ---- judging and the book -------------------------------------------------------------------

// A gateway refuses what it cannot trade: one push with the refused status and the error code,
// never a fill, and nothing left open to cancel.
TEST_F(SpotOrdersSimTest, OrdersAGatewayRefusesGetARejectPushAndNeverFill) {
  struct Case {
    const char* name;
    OrderArgs order;
  };
  std::vector<Case> cases;
  auto with = [](auto change) {
    OrderArgs a;
    change(a);
    return a;
  };
  cases.push_back({"market byte 0", with([](OrderArgs& a) { a.market = 0; })});
  cases.push_back({"market 9", with([](OrderArgs& a) { a.market = '9'; })});
  cases.push_back({"side byte 0", with([](OrderArgs& a) { a.side = 0; })});
  cases.push_back({"side 3", with([](OrderArgs& a) { a.side = '3'; })});
  cases.push_back({"price type byte 0", with([](OrderArgs& a) { a.price_type = 0; })});
  cases.push_back({"business byte 0", with([](OrderArgs& a) { a.business = 0; })});
  cases.push_back({"quantity 0", with([](OrderArgs& a) { a.quantity = 0; })});
  cases.push_back({"quantity -5", with([](OrderArgs& a) { a.quantity = -5; })});
  cases.push_back({"limit price 0", with([](OrderArgs& a) { a.price = 0; })});
  cases.push_back({"limit price -1", with([](OrderArgs& a) { a.price = -1; })});
  cases.push_back({"limit price NaN", with([](OrderArgs& a) { a.price = std::nan(""); })});
  cases.push_back({"limit price infinite", with([](OrderArgs& a) { a.price = HUGE_VAL; })});
  cases.push_back({"empty ticker", with([](OrderArgs& a) { a.ticker = ""; })});
  const std::int32_t error = sim.spot_orders().config().order_reject_error;
  std::uint32_t seq = 100;
  std::uint64_t push_no = 0;
  for (auto& k : cases) {
    SCOPED_TRACE(k.name);
    k.order.seq = seq++;
    ASSERT_TRUE(client->request(kInsert, 1, insert_request(k.order)));
    const Frame f = next_push();
    EXPECT_EQ(f.msg, kOrderPush);
    EXPECT_EQ(f.req, ++push_no);
    ASSERT_EQ(f.body.size(), 160u);
    EXPECT_EQ(f.body[55], '7');
    EXPECT_EQ(static_cast<std::int32_t>(le(f.body, 60, 4)), error);
    EXPECT_EQ(le(f.body, 97, 8), make_id(k.order.seq));
    EXPECT_EQ(f.body[51], static_cast<std::uint8_t>(k.order.market));  // the codes as they came
    EXPECT_EQ(f.body[52], static_cast<std::uint8_t>(k.order.side));
    // not open: its cancel is refused, and it never filled
    ASSERT_TRUE(client->request(kCancel, 2, cancel_request(k.order.seq, seq++)));
    const Frame c = next_push();
    EXPECT_EQ(c.msg, kCancelError);
    EXPECT_EQ(static_cast<std::int32_t>(le(c.body, 24, 4)), sim.spot_orders().config().cancel_reject_error);
    ++push_no;
  }
  EXPECT_FALSE(client->read_frame(kSilence).has_value());
  EXPECT_EQ(sim.spot_orders().holding(kAccount, "600000"), 0);
}

TEST_F(SpotOrdersSimTest, LimitOrdersFillByTheBookOrStayWorking) {
  auto cfg = sim.spot_orders().config();
  cfg.book_prices["600000"] = 10.50;
  sim.spot_orders().set_config(cfg);
  struct Case {
    const char* name;
    char side;
    double price;
    bool fills;
  } cases[] = {
      {"buy below the book", '1', 10.49, false},
      {"buy at the book", '1', 10.50, true},
      {"buy above the book trades at the book", '1', 11.00, true},
      {"sell above the book", '2', 10.51, false},
      {"sell at the book", '2', 10.50, true},
  };
  std::uint32_t seq = 200;
  std::uint64_t push_no = 0;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    OrderArgs a;
    a.seq = seq++;
    a.side = k.side;
    a.price = k.price;
    a.quantity = 100;
    ASSERT_TRUE(client->request(kInsert, 1, insert_request(a)));
    Frame f = next_push();
    EXPECT_EQ(f.req, ++push_no);
    EXPECT_EQ(f.body[55], '2');  // accepted
    if (k.fills) {
      const Frame trade = next_push();
      EXPECT_EQ(trade.msg, kTradePush);
      std::uint64_t bits = le(trade.body, 40, 8);
      double price;
      std::memcpy(&price, &bits, 8);
      EXPECT_DOUBLE_EQ(price, 10.50);
      EXPECT_EQ(next_push().msg, kHolding);
      f = next_push();
      EXPECT_EQ(f.body[55], '5');
      push_no += 3;
    } else {
      EXPECT_FALSE(client->read_frame(kSilence).has_value());
      // a working order: its cancel succeeds
      ASSERT_TRUE(client->request(kCancel, 2, cancel_request(a.seq, seq++)));
      const Frame c = next_push();
      EXPECT_EQ(c.msg, kOrderPush);
      EXPECT_EQ(c.body[55], '6');
      ++push_no;
    }
  }
}

TEST_F(SpotOrdersSimTest, OrderNumbersContinueOverLogins) {
  EXPECT_EQ(sim.next_order_number(kAccount), 1u);
  OrderArgs a;
  a.seq = 41;
  ASSERT_TRUE(client->request(kInsert, 1, insert_request(a)));
  ASSERT_TRUE(client->request(kCancel, 2, cancel_request(41, 45)));
  while (next_push().msg != kCancelError) {
  }  // the order filled: its cancel is refused, last
  EXPECT_EQ(sim.next_order_number(kAccount), 46u);
  EXPECT_EQ(sim.next_order_number(kAccount + 1), 1u);
  // the next login of the account starts above every id it used
  Bytes login(306, 0);
  put_le(login, 8, kAccount, 8);
  ASSERT_TRUE(client->request(0x10a, 3, login));
  for (;;) {
    auto f = client->read_frame(kWait);
    ASSERT_TRUE(f);
    if (f->msg != 0x10b) continue;
    EXPECT_EQ(le(f->body, 36, 4), 46u);
    break;
  }
}

// ---- command line ------------------------------------------------------------------------

bool parse(std::vector<const char*> args, oxa_sim::SimOptions& o) {
  args.insert(args.begin(), "oxa_gateway_sim");
  std::string err;
  return oxa_sim::parse_options(static_cast<int>(args.size()), args.data(), o, err);
}

TEST(SimCliSpotOrders, OptionsSwitchTheServer) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    std::size_t pushes_for_limit_order;  // 0: the server is off
    std::uint32_t transfer_result;
    std::size_t order_push_len;
  } cases[] = {
      {"defaults: on, limit orders fill, result 1", {}, 4, 1, 160},
      {"no fill, result 7", {"--no-spot-fill", "--spot-transfer-result", "7"}, 1, 7, 160},
      {"off", {"--no-spot-orders"}, 0, 0, 0},
      {"faults reach the server",
       {"--spot-duplicate-pushes", "--spot-stale-pushes", "--spot-truncate-pushes", "70"}, 4, 1, 70},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    oxa_sim::SimOptions o;
    ASSERT_TRUE(parse(k.args, o));
    GatewaySim sim;
    oxa_sim::apply_options(o, sim);
    ASSERT_TRUE(sim.start(0));
    RawClient c(sim.port());
    ASSERT_TRUE(c.request(kInsert, 1, insert_request(OrderArgs{})));
    Bytes transfer(99, 0);
    put_le(transfer, 41, kAccount, 8);
    ASSERT_TRUE(c.request(kTransfer, 2, transfer));
    // nothing is subscribed: the pushes are only stored
    const std::size_t want = k.pushes_for_limit_order + (k.transfer_result ? 1 : 0);
    const auto deadline = Clock::now() + kWait;
    while (sim.push_store().size(kAccount) < want && Clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    if (want == 0) {
      EXPECT_FALSE(c.read_frame(kSilence).has_value());
    }
    const auto stored = sim.push_store().list(kAccount);
    ASSERT_EQ(stored.size(), want);
    if (want != 0) {
      EXPECT_EQ(le(stored.back().body, 66, 4), k.transfer_result);
      EXPECT_EQ(stored.front().body.size(), k.order_push_len);
    }
  }
  const std::vector<std::vector<const char*>> bad = {
      {"--no-spot-orders=1"}, {"--no-spot-fill=yes"}, {"--spot-transfer-result", "-1"},
      {"--spot-transfer-result"}, {"--spot-truncate-pushes", "x"}, {"--spot-stale-pushes=1"}};
  for (const auto& args : bad) {
    oxa_sim::SimOptions o;
    EXPECT_FALSE(parse(args, o)) << args[0];
  }
}

}  // namespace
