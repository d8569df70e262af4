// The spot session of the simulated gateway (login, synchronisation, subscription, the store of
// pushes), driven from a raw loopback client whose records are written and read at offsets of
// its own, never through the sim's tables.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimPushStore.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;
using oxa_sim::StoredPush;
using oxa_sim::SyncRound;
using oxa_sim::SyncScript;

constexpr std::uint32_t kLogin = 0x10a, kLoginRsp = 0x10b;
constexpr std::uint32_t kSync = 0x20010, kSyncRsp = 0x20011;
constexpr std::uint32_t kSubscribe = 0x103, kSubscribeEnd = 0x104;
constexpr std::size_t kStride = 166;  // message id, sequence, the longest push (160)

std::int32_t i32(const Bytes& b, std::size_t off) {
  return static_cast<std::int32_t>(le(b, off, 4));
}

// The client's requests, at the offsets of the records the library sends.
Bytes spot_login_request(std::uint64_t account, std::uint64_t request_no) {
  Bytes b(306, 0);
  put_le(b, 0, request_no, 8);
  put_le(b, 8, account, 8);
  std::memcpy(&b[16], "2.0", 4);
  b[304] = '1';
  b[305] = 7;
  return b;
}

Bytes sync_request(std::uint64_t session, std::uint64_t request_no, std::uint64_t account,
                   std::uint8_t client_id, std::uint32_t counter, std::uint32_t per_answer = 200) {
  Bytes b(52, 0);
  put_le(b, 0, session, 8);
  put_le(b, 8, request_no, 8);
  put_le(b, 16, account, 8);
  b[24] = client_id;
  put_le(b, 32, counter, 4);
  put_le(b, 36, per_answer, 4);
  put_le(b, 48, 1, 4);
  return b;
}

Bytes subscribe_request(std::uint32_t session, std::int64_t counter, std::uint32_t start_seq,
                        std::uint64_t account) {
  Bytes b(24, 0);
  put_le(b, 0, session, 4);
  put_le(b, 4, static_cast<std::uint64_t>(counter), 8);
  put_le(b, 12, start_seq, 4);
  put_le(b, 16, account, 8);
  return b;
}

// A push body whose bytes tell where they came from.
Bytes push_body(std::size_t len, std::uint8_t tag) {
  Bytes b(len);
  for (std::size_t i = 0; i < len; ++i) b[i] = static_cast<std::uint8_t>(tag + i);
  return b;
}

struct SyncView {
  std::uint32_t first = 0, second = 0, count = 0, stride = 0;
  std::vector<std::uint32_t> seqs;
  bool ended() const { return first == second || first == 0; }
};

SyncView view_sync(const Bytes& b) {
  SyncView v;
  v.first = static_cast<std::uint32_t>(le(b, 32, 4));
  v.second = static_cast<std::uint32_t>(le(b, 36, 4));
  v.count = static_cast<std::uint32_t>(le(b, 44, 4));
  v.stride = static_cast<std::uint32_t>(le(b, 48, 4));
  for (std::size_t off = 56; v.stride >= 6 && off + v.stride <= b.size(); off += v.stride)
    v.seqs.push_back(static_cast<std::uint32_t>(le(b, off + 2, 4)));
  return v;
}

class SpotSimTest : public SimTest {
 protected:
  // Sends one request and returns the answer that must come for it.
  Frame ask(RawClient& c, std::uint32_t msg, std::uint64_t req, const Bytes& body) {
    EXPECT_TRUE(c.request(msg, req, body));
    auto f = c.read_frame(kWait);
    EXPECT_TRUE(f.has_value()) << std::hex << msg;
    return f ? *f : Frame{};
  }
  Frame sync(RawClient& c, std::uint64_t account, std::uint32_t counter) {
    return ask(c, kSync, 500 + counter, sync_request(9, 40 + counter, account, 3, counter));
  }
};

// ---- store of pushes -----------------------------------------------------------------------

TEST(SimPushStore, NumbersPerAccountAndKeepsStoringOrder) {
  oxa_sim::PushStore s;
  EXPECT_EQ(s.append(1, 0x121, {1}), 1u);
  EXPECT_EQ(s.append(1, 0x123, {2}), 2u);
  EXPECT_EQ(s.append(2, 0x121, {3}), 1u);  // every account counts on its own
  s.insert(1, 9, 0x122, {4});
  s.insert(1, 5, 0x121, {5});  // backwards, as a faulty gateway might
  s.insert(1, 5, 0x121, {6});  // and a duplicate
  EXPECT_EQ(s.append(1, 0x124, {7}), 10u);  // above the highest stored
  EXPECT_EQ(s.last_seq(1), 10u);
  EXPECT_EQ(s.size(1), 6u);

  std::vector<std::uint32_t> seqs;
  for (const auto& p : s.list(1)) seqs.push_back(p.seq);
  EXPECT_EQ(seqs, (std::vector<std::uint32_t>{1, 2, 9, 5, 5, 10}));
  seqs.clear();
  for (const auto& p : s.from(1, 5)) seqs.push_back(p.seq);
  EXPECT_EQ(seqs, (std::vector<std::uint32_t>{9, 5, 5, 10}));
  EXPECT_EQ(s.list(1)[2].msg_id, 0x122u);
  EXPECT_EQ(s.list(1)[2].body, Bytes{4});

  s.clear(1);
  EXPECT_EQ(s.size(1), 0u);
  EXPECT_EQ(s.append(1, 0x121, {}), 1u);
  EXPECT_EQ(s.size(2), 1u);
  s.clear();
  EXPECT_EQ(s.last_seq(2), 0u);
  EXPECT_TRUE(s.list(3).empty());
}

// ---- spot login ----------------------------------------------------------------------------

TEST_F(SpotSimTest, LoginAnswerBytesAtTheirOffsets) {
  oxa_sim::SpotLoginAnswer full;
  full.request_no = 0x0102030405060708ull;
  full.fund_account = 4242;
  full.trading_day = 20240105;
  full.fund_index = 70000;  // beyond 16 bits: a client must refuse it
  full.order_no_index = -3;
  full.session_no = 0xFFFFFFF0u;
  full.error_code = -210003;
  full.node_id = 300;
  full.order_limit = -5;
  full.query_limit = -1;
  sim.set_account_spot_login_answer(5005, full);

  struct Case {
    const char* name;
    std::uint64_t account;
    std::uint64_t request_no;
    // expected values at 0, 8, 24, 32, 36, 40, 44, 48, 52, 56
    std::uint64_t v0, v8;
    std::int32_t day;
    std::uint32_t index;
    std::int32_t order_no;
    std::uint32_t session;
    std::int32_t error, node, order_limit, query_limit;
  };
  const std::int32_t today = oxa_sim::local_date_yyyymmdd();
  const Case cases[] = {
      // defaults: the request's account and number echoed, today, the account's ordinal
      {"first account", 1001, 77, 77, 1001, today, 1, 1, 1, 0, 1, 0, 0},
      {"second account", 2002, 78, 78, 2002, today, 2, 1, 2, 0, 1, 0, 0},
      {"first account again keeps its ordinal", 1001, 79, 79, 1001, today, 1, 1, 1, 0, 1, 0, 0},
      {"every field set", 5005, 80, 0x0102030405060708ull, 4242, 20240105, 70000, -3, 0xFFFFFFF0u,
       -210003, 300, -5, -1},
  };
  auto c = connect_client();
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const Frame f = ask(*c, kLogin, 900 + k.request_no, spot_login_request(k.account, k.request_no));
    EXPECT_EQ(f.type, oxa_sim::kResponse);
    EXPECT_EQ(f.msg, kLoginRsp);
    EXPECT_EQ(f.req, 900 + k.request_no);
    EXPECT_EQ(f.async_flag, 1);
    Bytes expected(60, 0);
    put_le(expected, 0, k.v0, 8);
    put_le(expected, 8, k.v8, 8);
    put_le(expected, 24, static_cast<std::uint32_t>(k.day), 4);
    put_le(expected, 32, k.index, 4);
    put_le(expected, 36, static_cast<std::uint32_t>(k.order_no), 4);
    put_le(expected, 40, k.session, 4);
    put_le(expected, 44, static_cast<std::uint32_t>(k.error), 4);
    put_le(expected, 48, static_cast<std::uint32_t>(k.node), 4);
    put_le(expected, 52, static_cast<std::uint32_t>(k.order_limit), 4);
    put_le(expected, 56, static_cast<std::uint32_t>(k.query_limit), 4);
    ASSERT_EQ(f.body.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(f.body[i], expected[i]) << "byte " << i;
  }
}

TEST_F(SpotSimTest, LoginAnswerSetForEveryAccountAndShortRequest) {
  oxa_sim::SpotLoginAnswer refused;
  refused.error_code = 4097;
  refused.trading_day = 20231231;
  sim.set_spot_login_answer(refused);
  EXPECT_EQ(sim.spot_login_answer().error_code, 4097);
  auto c = connect_client();
  Frame f = ask(*c, kLogin, 1, spot_login_request(31, 5));
  EXPECT_EQ(i32(f.body, 44), 4097);
  EXPECT_EQ(i32(f.body, 24), 20231231);
  // a body cut before the account reads as account 0 and number 0
  f = ask(*c, kLogin, 2, Bytes{1, 2, 3});
  ASSERT_EQ(f.body.size(), 60u);
  EXPECT_EQ(le(f.body, 0, 8), 0u);
  EXPECT_EQ(le(f.body, 8, 8), 0u);
}

// ---- synchronisation -----------------------------------------------------------------------

TEST_F(SpotSimTest, EmptyStoreEndsAtOnceAndTheHeadEchoesTheRequest) {
  auto c = connect_client();
  const Frame f = ask(*c, kSync, 61, sync_request(0x1122334455ull, 12, 808, 9, 1));
  EXPECT_EQ(f.type, oxa_sim::kResponse);
  EXPECT_EQ(f.msg, kSyncRsp);
  EXPECT_EQ(f.req, 61u);
  Bytes expected(56, 0);
  put_le(expected, 0, 0x1122334455ull, 8);
  put_le(expected, 8, 12, 8);
  put_le(expected, 16, 808, 8);
  expected[24] = 9;
  put_le(expected, 32, 1, 4);  // progress equal and not 0: ended
  put_le(expected, 36, 1, 4);
  put_le(expected, 44, 0, 4);
  put_le(expected, 48, kStride, 4);
  EXPECT_EQ(f.body, expected);
}

TEST_F(SpotSimTest, SyncRecordsCarryStoredPushesByteForByte) {
  const std::uint64_t acc = 77;
  struct Push {
    std::uint32_t msg;
    std::size_t len;
  } pushes[] = {{0x121, 160}, {0x122, 122}, {0x123, 121}, {0x124, 99}, {0x146, 67}, {0x125, 3}};
  std::uint8_t tag = 10;
  for (const auto& p : pushes) sim.push_store().append(acc, p.msg, push_body(p.len, tag += 40));

  auto c = connect_client();
  const Frame f = sync(*c, acc, 1);
  const SyncView v = view_sync(f.body);
  ASSERT_EQ(v.count, 6u);
  ASSERT_EQ(v.stride, kStride);
  ASSERT_EQ(f.body.size(), 56 + 6 * kStride);
  EXPECT_TRUE(v.ended());
  tag = 10;
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    Bytes rec(kStride, 0);
    put_le(rec, 0, pushes[i].msg, 2);
    put_le(rec, 2, i + 1, 4);
    const Bytes body = push_body(pushes[i].len, tag += 40);
    std::copy(body.begin(), body.end(), rec.begin() + 6);
    EXPECT_TRUE(std::equal(rec.begin(), rec.end(), f.body.begin() + 56 + i * kStride));
  }
}

TEST_F(SpotSimTest, AutomaticRoundsFollowTheRequestedCount) {
  const std::uint64_t acc = 5;
  for (int i = 0; i < 450; ++i) sim.push_store().append(acc, 0x121, push_body(160, 1));
  auto c = connect_client();
  std::vector<std::uint32_t> counts;
  std::vector<bool> ended;
  for (std::uint32_t k = 1; k <= 3; ++k) {
    const SyncView v = view_sync(sync(*c, acc, k).body);
    counts.push_back(v.count);
    ended.push_back(v.ended());
    EXPECT_EQ(v.seqs.front(), 200 * (k - 1) + 1);
  }
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{200, 200, 50}));
  EXPECT_EQ(ended, (std::vector<bool>{false, false, true}));

  // a request for fewer per answer gets fewer
  const Frame small = ask(*c, kSync, 1, sync_request(9, 1, acc, 3, 1, 7));
  EXPECT_EQ(view_sync(small.body).count, 7u);
}

TEST_F(SpotSimTest, ScriptedRoundsThenEndedAndANewSynchronisationStartsOver) {
  const std::uint64_t acc = 66;
  for (int i = 0; i < 5; ++i) sim.push_store().append(acc, 0x123, push_body(121, 2));
  sim.set_account_sync_script(acc, SyncScript::of_sizes({2, 0, 2}));

  struct Step {
    std::uint32_t counter;
    std::uint32_t first, second;
    std::vector<std::uint32_t> seqs;
  } steps[] = {
      {1, 2, 1, {1, 2}},
      {2, 3, 2, {}},         // a round without records that does not end
      {3, 3, 3, {3, 4}},     // the last round ends, leaving push 5 behind
      {4, 4, 4, {}},         // beyond the script: empty and ended
      {1, 2, 1, {1, 2}},     // counter 1 again: from the first stored push
  };
  auto c = connect_client();
  for (const auto& s : steps) {
    SCOPED_TRACE(s.counter);
    const SyncView v = view_sync(sync(*c, acc, s.counter).body);
    EXPECT_EQ(v.first, s.first);
    EXPECT_EQ(v.second, s.second);
    EXPECT_EQ(v.seqs, s.seqs);
    EXPECT_EQ(v.count, s.seqs.size());
  }
  // other accounts keep the automatic rule
  sim.push_store().append(67, 0x121, {});
  EXPECT_TRUE(view_sync(sync(*c, 67, 1).body).ended());
}

TEST_F(SpotSimTest, RoundOverridesReachTheHead) {
  const std::uint64_t acc = 3;
  for (int i = 0; i < 4; ++i) sim.push_store().append(acc, 0x121, push_body(160, 9));
  struct Case {
    const char* name;
    SyncRound round;
    std::uint32_t first, second, count, stride;
    std::size_t body_len;
  };
  auto round = [](std::optional<std::size_t> n, std::optional<std::uint32_t> f,
                  std::optional<std::uint32_t> s, std::optional<std::uint32_t> count,
                  std::optional<std::uint32_t> stride) {
    SyncRound r;
    r.records = n;
    r.progress_first = f;
    r.progress_second = s;
    r.count = count;
    r.stride = stride;
    return r;
  };
  const Case cases[] = {
      {"equal values", round(1, 3, 3, {}, {}), 3, 3, 1, kStride, 56 + kStride},
      {"first zero", round(1, 0, 5, {}, {}), 0, 5, 1, kStride, 56 + kStride},
      {"first above second", round(1, 5, 3, {}, {}), 5, 3, 1, kStride, 56 + kStride},
      {"count claims more than sent", round(2, {}, {}, 1000000, {}), 2, 1, 1000000, kStride,
       56 + 2 * kStride},
      {"small stride cuts the push", round(2, {}, {}, {}, 20), 2, 1, 2, 20, 56 + 2 * 20},
      {"as many as asked for", round({}, {}, {}, {}, {}), 2, 1, 4, kStride, 56 + 4 * kStride},
  };
  auto c = connect_client();
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SyncScript s;
    s.rounds = {k.round, SyncRound{}};
    sim.set_sync_script(s);
    const Frame f = sync(*c, acc, 1);
    ASSERT_EQ(f.body.size(), k.body_len);
    EXPECT_EQ(le(f.body, 32, 4), k.first);
    EXPECT_EQ(le(f.body, 36, 4), k.second);
    EXPECT_EQ(le(f.body, 44, 4), k.count);
    EXPECT_EQ(le(f.body, 48, 4), k.stride);
    EXPECT_EQ(le(f.body, 56 + 2, 4), 1u);  // the first record is push 1
  }
  // the cut record keeps its head and the first 14 bytes of the push
  SyncScript s;
  s.rounds = {round(1, {}, {}, {}, 20)};
  sim.set_sync_script(s);
  const Frame cut = sync(*c, acc, 1);
  Bytes rec(20, 0);
  put_le(rec, 0, 0x121, 2);
  put_le(rec, 2, 1, 4);
  const Bytes body = push_body(14, 9);
  std::copy(body.begin(), body.end(), rec.begin() + 6);
  ASSERT_EQ(cut.body.size(), 76u);
  EXPECT_TRUE(std::equal(rec.begin(), rec.end(), cut.body.begin() + 56));
}

TEST_F(SpotSimTest, EndlessNeverSaysEnded) {
  const std::uint64_t acc = 8;
  for (int i = 0; i < 3; ++i) sim.push_store().append(acc, 0x121, {});
  SyncScript s = SyncScript::of_sizes({1});
  s.endless = true;
  sim.set_sync_script(s);
  auto c = connect_client();
  for (std::uint32_t k = 1; k <= 5; ++k) {
    SCOPED_TRACE(k);
    const SyncView v = view_sync(sync(*c, acc, k).body);
    EXPECT_FALSE(v.ended());
    EXPECT_EQ(v.count, k == 1 ? 1u : 0u);
  }
  sim.set_sync_script(SyncScript::automatic());
  s = SyncScript{};
  s.endless = true;
  sim.set_sync_script(s);
  const SyncView all = view_sync(sync(*c, acc, 1).body);
  EXPECT_FALSE(all.ended());
  EXPECT_EQ(all.count, 3u);
}

TEST_F(SpotSimTest, SyncAndSubscriptionRequestsAreRecordedDecoded) {
  auto c = connect_client();
  Bytes q = sync_request(0xAB, 0xCD, 4321, 17, 2);
  put_le(q, 40, 0x0102030405060708ull, 8);
  ask(*c, kSync, 70, q);
  ask(*c, kSync, 71, Bytes(20, 0));  // cut short
  ask(*c, kSubscribe, 72, subscribe_request(0xEE, -4, 9001, 4321));

  const auto syncs = sim.sync_requests();
  ASSERT_EQ(syncs.size(), 2u);
  EXPECT_TRUE(syncs[0].complete);
  EXPECT_EQ(syncs[0].request_id, 70u);
  EXPECT_EQ(syncs[0].session_no, 0xABu);
  EXPECT_EQ(syncs[0].request_no, 0xCDu);
  EXPECT_EQ(syncs[0].fund_account, 4321u);
  EXPECT_EQ(syncs[0].client_id, 17);
  EXPECT_EQ(syncs[0].counter, 2u);
  EXPECT_EQ(syncs[0].per_answer, 200u);
  EXPECT_EQ(syncs[0].start, 0x0102030405060708ull);
  EXPECT_EQ(syncs[0].flag, 1u);
  EXPECT_FALSE(syncs[1].complete);
  EXPECT_EQ(syncs[1].counter, 0u);

  const auto subs = sim.subscribe_requests();
  ASSERT_EQ(subs.size(), 1u);
  EXPECT_TRUE(subs[0].complete);
  EXPECT_EQ(subs[0].session_no, 0xEEu);
  EXPECT_EQ(subs[0].counter, -4);
  EXPECT_EQ(subs[0].start_seq, 9001u);
  EXPECT_EQ(subs[0].fund_account, 4321u);
  EXPECT_EQ(subs[0].conn_id, sim.open_connections().at(0)->id());
}

// ---- subscription --------------------------------------------------------------------------

TEST_F(SpotSimTest, SubscriptionEndMirrorsTheRequest) {
  auto c = connect_client();
  const Bytes q = subscribe_request(0x01020304, 0x1122334455667788ll, 0xA0B0C0D0u, 99);
  const Frame f = ask(*c, kSubscribe, 33, q);
  EXPECT_EQ(f.type, oxa_sim::kResponse);
  EXPECT_EQ(f.msg, kSubscribeEnd);
  EXPECT_EQ(f.req, 33u);
  EXPECT_EQ(f.body, q);
  EXPECT_TRUE(sim.is_subscribed(99));
  EXPECT_FALSE(sim.is_subscribed(98));
  // an unanswered subscription is not live
  sim.queue_reply(kSubscribe, ReplyPlan::never());
  ASSERT_TRUE(c->request(kSubscribe, 34, subscribe_request(1, 1, 0, 98)));
  ASSERT_TRUE(sim.wait_for_frame(kSubscribe, kWait, 1));
  EXPECT_FALSE(sim.is_subscribed(98));
  EXPECT_FALSE(sim.publish(98, 0x121, {}).sent);
  EXPECT_FALSE(c->read_frame(kSilence));
}

TEST_F(SpotSimTest, SubscriptionCatchesUpFromItsStartSequence) {
  const std::uint64_t acc = 12;
  for (int i = 0; i < 5; ++i) sim.push_store().append(acc, 0x121 + i % 2 * 2, push_body(10, i));
  struct Case {
    const char* name;
    bool replay;
    std::uint32_t start;
    std::vector<std::uint64_t> pushed;
  } cases[] = {
      {"from 4", true, 4, {4, 5}},
      {"from 0 means all", true, 0, {1, 2, 3, 4, 5}},
      {"past the last", true, 6, {}},
      {"replay off", false, 0, {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    sim.set_subscribe_replay(k.replay);
    auto c = connect_client();
    ASSERT_TRUE(c->request(kSubscribe, 40, subscribe_request(1, 0, k.start, acc)));
    std::vector<std::uint64_t> pushed;
    for (;;) {
      auto f = c->read_frame(kWait);
      ASSERT_TRUE(f);
      if (f->msg == kSubscribeEnd) break;
      EXPECT_EQ(f->type, oxa_sim::kPush);
      EXPECT_EQ(f->body, push_body(10, static_cast<std::uint8_t>(f->req - 1)));
      EXPECT_EQ(f->msg, f->req % 2 ? 0x121u : 0x123u);
      pushed.push_back(f->req);
    }
    EXPECT_EQ(pushed, k.pushed);
  }
}

TEST_F(SpotSimTest, PublishPushesLiveToThePushRegisteredConnection) {
  const std::uint64_t acc = 21;
  auto c = connect_client();
  // before any registration: stored only
  auto p1 = sim.publish(acc, 0x121, push_body(160, 1));
  EXPECT_EQ(p1.seq, 1u);
  EXPECT_FALSE(p1.sent);

  // registered for pushes: live from here on, with no subscription at all (resume type 2)
  ask(*c, kLogin, 1, spot_login_request(acc, 1));
  ask(*c, 0xf0002, 2, account_body(acc, 8));
  ASSERT_TRUE(sim.push_connection(acc));
  EXPECT_EQ(sim.push_connection(acc)->id(), sim.open_connections().at(0)->id());
  EXPECT_FALSE(sim.is_subscribed(acc));
  auto p2 = sim.publish(acc, 0x123, push_body(121, 2));
  EXPECT_EQ(p2.seq, 2u);
  EXPECT_TRUE(p2.sent);
  auto live = c->read_frame(kWait);
  ASSERT_TRUE(live);
  EXPECT_EQ(live->type, oxa_sim::kPush);
  EXPECT_EQ(live->msg, 0x123u);
  EXPECT_EQ(live->req, 2u);
  EXPECT_EQ(live->body, push_body(121, 2));
  EXPECT_EQ(sim.push_store().size(acc), 2u);
  EXPECT_FALSE(sim.publish(acc + 1, 0x121, {}).sent);  // another account is not registered

  // a subscription only replays from its start sequence; the live flow goes on after it
  ASSERT_TRUE(c->request(kSubscribe, 3, subscribe_request(1, 0, 2, acc)));
  auto replayed = c->read_frame(kWait);
  ASSERT_TRUE(replayed);
  EXPECT_EQ(replayed->req, 2u);
  auto end = c->read_frame(kWait);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->msg, kSubscribeEnd);
  EXPECT_TRUE(sim.publish(acc, 0x121, push_body(160, 3)).sent);
  ASSERT_TRUE(c->read_frame(kWait));

  // a new spot login of the account keeps the live flow on its push connection
  ask(*c, kLogin, 4, spot_login_request(acc, 2));
  EXPECT_TRUE(sim.publish(acc, 0x121, push_body(160, 4)).sent);
  ASSERT_TRUE(c->read_frame(kWait));

  // a refused registration registers nothing
  auto other = connect_client();
  sim.set_push_reg_error(5);
  ask(*other, 0xf0002, 5, account_body(acc, 8));
  sim.set_push_reg_error(0);
  EXPECT_EQ(sim.push_connection(acc)->id(), sim.open_connections().at(0)->id());

  // a logout ends it; the pushes are stored for the next login
  ask(*c, 0xf0007, 6, account_body(acc, 12));
  EXPECT_FALSE(sim.push_connection(acc));
  EXPECT_FALSE(sim.publish(acc, 0x121, {}).sent);
  EXPECT_FALSE(c->read_frame(kSilence));

  // a reconnected client registers again on its new connection; a closed connection ends it
  ask(*other, 0xf0002, 7, account_body(acc, 8));
  ASSERT_TRUE(sim.push_connection(acc));
  EXPECT_TRUE(sim.publish(acc, 0x121, push_body(160, 5)).sent);
  ASSERT_TRUE(other->read_frame(kWait));
  EXPECT_FALSE(c->read_frame(kSilence));
  EXPECT_EQ(sim.close_connections(), 2u);
  EXPECT_TRUE(sim.wait_for_open(0, kWait));
  EXPECT_FALSE(sim.push_connection(acc));
  EXPECT_FALSE(sim.publish(acc, 0x121, {}).sent);
  EXPECT_EQ(sim.push_store().last_seq(acc), 7u);
}

// ---- state kept over a restart ---------------------------------------------------------------

TEST(SimState, RecordsRoundTripAndATornLineIsSkipped) {
  const oxa_sim::StateRecord records[] = {
      {oxa_sim::StateRecord::Kind::kOrdinal, 77, 3, 0, {}},
      {oxa_sim::StateRecord::Kind::kOrderNumber, 77, 0xFFFFFFFFu, 0, {}},
      {oxa_sim::StateRecord::Kind::kPush, 18446744073709551615ull, 9, 0x121, {0, 1, 0xAB, 0xFF}},
      {oxa_sim::StateRecord::Kind::kPush, 5, 1, 0x146, {}},
  };
  for (const auto& r : records) {
    const std::string line = oxa_sim::format_state_record(r);
    SCOPED_TRACE(line);
    oxa_sim::StateRecord back;
    ASSERT_TRUE(oxa_sim::parse_state_record(line, back));
    EXPECT_EQ(back.kind, r.kind);
    EXPECT_EQ(back.account, r.account);
    EXPECT_EQ(back.value, r.value);
    EXPECT_EQ(back.msg_id, r.msg_id);
    EXPECT_EQ(back.body, r.body);
    // every cut of the line is refused
    for (std::size_t n = 0; n < line.size(); ++n) EXPECT_FALSE(oxa_sim::parse_state_record(line.substr(0, n), back)) << n;
  }
  oxa_sim::StateRecord out;
  for (const char* bad : {"push 1 2 3 0g end", "push 1 2 3 abc end", "ordinal x 1 end", "ordinal 1 4294967296 end",
                          "other 1 2 end", "ordinal 1 2 end extra"})
    EXPECT_FALSE(oxa_sim::parse_state_record(bad, out)) << bad;
}

TEST(SimState, ASimStartedAgainWithItsFileGoesOnWithItsNumbers) {
  char dir[] = "/tmp/oxa_sim_state_XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/state";
  {
    GatewaySim first;
    ASSERT_TRUE(first.set_state_file(path));
    ASSERT_TRUE(first.start(0));
    RawClient c(first.port());
    for (std::uint64_t acc : {501u, 502u}) {
      ASSERT_TRUE(c.request(kLogin, acc, spot_login_request(acc, 1)));
      ASSERT_TRUE(c.read_frame(kWait));
    }
    first.publish(502, 0x121, push_body(160, 1));
    first.publish(502, 0x123, push_body(121, 2));
    first.note_order_number(502, 0x0100000500000011ull);
  }
  {
    // a kill can cut the last line short: it is skipped, and the next record starts a new line
    FILE* f = std::fopen(path.c_str(), "a");
    ASSERT_NE(f, nullptr);
    std::fputs("push 502 3 289 00", f);
    std::fclose(f);
  }
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    GatewaySim again;
    ASSERT_TRUE(again.set_state_file(path));
    ASSERT_TRUE(again.start(0));
    EXPECT_EQ(again.push_store().last_seq(502), 2u + round);
    EXPECT_EQ(again.push_store().list(502).at(1).body, push_body(121, 2));
    EXPECT_EQ(again.next_order_number(502), 0x12u);
    EXPECT_EQ(again.publish(502, 0x121, push_body(160, 3)).seq, 3u + round);
    // the accounts keep their ordinals; a new one takes the next
    RawClient c(again.port());
    for (std::uint64_t acc : {502u, 501u, 503u + round}) {
      ASSERT_TRUE(c.request(kLogin, 1, spot_login_request(acc, 1)));
      auto f = c.read_frame(kWait);
      ASSERT_TRUE(f);
      const std::uint64_t want = acc == 501 ? 1 : acc == 502 ? 2 : 3 + round;
      EXPECT_EQ(le(f->body, 32, 4), want) << acc;  // the fund index
      if (acc == 502) {
        EXPECT_EQ(le(f->body, 36, 4), 0x12u);  // the first order number
      }
    }
  }
  std::remove(path.c_str());
  ::rmdir(dir);
}

// ---- reply modes ---------------------------------------------------------------------------

TEST_F(SpotSimTest, ReplyModesForEverySpotRequest) {
  sim.push_store().append(1, 0x121, push_body(160, 3));  // caught up by the subscription
  struct Msg {
    const char* name;
    std::uint32_t req_msg, rsp_msg;
    Bytes body;
    std::size_t full_len;
    std::size_t leading;  // pushes before the answer
  } msgs[] = {
      {"login", kLogin, kLoginRsp, spot_login_request(1, 1), 60, 0},
      {"sync", kSync, kSyncRsp, sync_request(1, 1, 1, 1, 1), 56 + kStride, 0},
      {"subscribe", kSubscribe, kSubscribeEnd, subscribe_request(1, 0, 0, 1), 24, 1},
  };
  struct Mode {
    const char* name;
    ReplyPlan plan;
    bool answered;
    Millis at_least;
    std::size_t short_len;  // 0: the full length
  } modes[] = {
      {"immediate", ReplyPlan::immediate(), true, Millis(0), 0},
      {"delayed", ReplyPlan::delayed(Millis(100)), true, Millis(100), 0},
      {"late", ReplyPlan::late(Millis(150)), true, Millis(150), 0},
      {"never", ReplyPlan::never(), false, Millis(0), 0},
      {"short", ReplyPlan::short_body(10), true, Millis(0), 10},
  };
  auto c = connect_client();
  std::uint64_t req = 0;
  for (const auto& m : msgs) {
    std::size_t sent_of_msg = 0;
    for (const auto& mode : modes) {
      SCOPED_TRACE(std::string(m.name) + " " + mode.name);
      sim.set_reply(m.req_msg, mode.plan);
      const auto sent = Clock::now();
      ASSERT_TRUE(c->request(m.req_msg, ++req, m.body));
      ASSERT_TRUE(sim.wait_for_frame(m.req_msg, kWait, sent_of_msg++));  // recorded in any mode
      if (!mode.answered) {
        EXPECT_FALSE(c->read_frame(kSilence));  // neither the answer nor its pushes
        continue;
      }
      for (std::size_t i = 0; i < m.leading; ++i) {
        auto p = c->read_frame(kWait);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->type, oxa_sim::kPush);
        EXPECT_EQ(p->body.size(), 160u);  // a short answer leaves its pushes whole
      }
      auto f = c->read_frame(kWait);
      ASSERT_TRUE(f);
      EXPECT_GE(Clock::now() - sent, mode.at_least);
      EXPECT_EQ(f->msg, m.rsp_msg);
      EXPECT_EQ(f->req, req);
      EXPECT_EQ(f->body.size(), mode.short_len ? mode.short_len : m.full_len);
    }
    sim.set_reply(m.req_msg, ReplyPlan::immediate());
  }
}

TEST_F(SpotSimTest, LateLoginAnswerComesAfterTheNextOne) {
  oxa_sim::SpotLoginAnswer a;
  a.error_code = 0;
  sim.set_spot_login_answer(a);
  sim.queue_reply(kLogin, ReplyPlan::late(Millis(250)));
  auto c = connect_client();
  ASSERT_TRUE(c->request(kLogin, 1, spot_login_request(41, 1)));
  EXPECT_FALSE(c->read_frame(Millis(50)));
  ASSERT_TRUE(c->request(kLogin, 2, spot_login_request(42, 2)));
  auto second = c->read_frame(kWait);
  auto late = c->read_frame(kWait);
  ASSERT_TRUE(second && late);
  EXPECT_EQ(second->req, 2u);
  EXPECT_EQ(le(second->body, 8, 8), 42u);
  EXPECT_EQ(late->req, 1u);
  EXPECT_EQ(le(late->body, 8, 8), 41u);
}

// ---- the whole road ------------------------------------------------------------------------

TEST_F(SpotSimTest, DefaultsLetASpotAccountLogInEndToEnd) {
  const std::uint64_t acc = 123456;
  auto c = connect_client();
  Frame f = ask(*c, 0xf0001, 1, login_request(acc));
  EXPECT_EQ(i32(f.body, 10), 0);
  EXPECT_EQ(le(f.body, 8, 2), 1u);   // over the gateway connection
  EXPECT_EQ(le(f.body, 36, 1), 1u);  // spot
  f = ask(*c, kLogin, 2, spot_login_request(acc, 0));
  EXPECT_EQ(i32(f.body, 44), 0);
  const std::uint64_t session = le(f.body, 40, 4);
  f = ask(*c, 0xf0002, 3, account_body(acc, 8));
  EXPECT_EQ(i32(f.body, 8), 0);
  f = ask(*c, kSync, 4, sync_request(session, 2, acc, 7, 1));
  EXPECT_TRUE(view_sync(f.body).ended());
  EXPECT_EQ(view_sync(f.body).count, 0u);
  f = ask(*c, kSubscribe, 5, subscribe_request(static_cast<std::uint32_t>(session), 0, 0, acc));
  EXPECT_EQ(f.msg, kSubscribeEnd);
  EXPECT_TRUE(sim.is_subscribed(acc));
}

}  // namespace
