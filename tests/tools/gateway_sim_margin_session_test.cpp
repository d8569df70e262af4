// The margin session of the simulated gateway (init answer, synchronisation pages, package flow),
// driven from a raw loopback client whose records are written and read at offsets of its own,
// never through the sim's tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimMargin.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;
using oxa_sim::MarginFlowScript;
using oxa_sim::MarginInitAnswer;
using oxa_sim::MarginSyncPage;
using oxa_sim::MarginSyncScript;

constexpr std::uint32_t kInit = 0x203, kInitRsp = 0x204;
constexpr std::uint32_t kSubscribe = 0x205, kFlow = 0x206;
constexpr std::uint32_t kSync = 0x21100, kSyncRsp = 0x21101;

Bytes init_request(std::uint64_t account, std::uint64_t seq) {
  Bytes b(558, 0);
  put_le(b, 4, account, 8);
  put_le(b, 12, 5, 2);
  put_le(b, 302, 0x02230100, 8);
  put_le(b, 310, seq, 8);
  b[322] = '1';
  return b;
}

Bytes sync_request(std::uint64_t session, std::uint64_t account, std::uint32_t per_answer,
                   std::uint32_t start) {
  Bytes b(49, 0);
  put_le(b, 0, session, 8);
  put_le(b, 8, 61, 8);
  put_le(b, 16, account, 8);
  b[24] = 5;
  put_le(b, 32, per_answer, 4);
  put_le(b, 36, start, 4);
  b[40] = '0';
  return b;
}

Bytes subscribe_request(std::uint64_t account, std::uint64_t session, std::uint32_t start) {
  Bytes b(54, 0);
  put_le(b, 0, account, 8);
  put_le(b, 8, 1, 4);
  put_le(b, 12, session, 8);
  put_le(b, 20, 5, 2);
  put_le(b, 30, start, 4);
  return b;
}

struct PageView {
  std::uint64_t session = 0;
  std::uint32_t asked = 0, count = 0, stride = 0;
  std::vector<std::uint32_t> ids, seqs;
  std::vector<std::uint64_t> order_ids;
};

PageView view_page(const Bytes& b) {
  PageView v;
  v.session = le(b, 0, 8);
  v.asked = static_cast<std::uint32_t>(le(b, 32, 4));
  v.count = static_cast<std::uint32_t>(le(b, 36, 4));
  v.stride = static_cast<std::uint32_t>(le(b, 40, 4));
  for (std::size_t off = 56; v.stride >= 8 && off + v.stride <= b.size(); off += v.stride) {
    v.ids.push_back(static_cast<std::uint32_t>(le(b, off, 4)));
    v.seqs.push_back(static_cast<std::uint32_t>(le(b, off + 4, 4)));
    v.order_ids.push_back(le(b, off + 8 + 16, 8));
  }
  return v;
}

struct FlowView {
  std::uint64_t session = 0;
  std::uint32_t count = 0;
  std::uint8_t end = 0;
  std::vector<std::uint32_t> ids;
  std::vector<std::uint64_t> order_ids;
};

FlowView view_flow(const Bytes& b) {
  FlowView v;
  v.session = le(b, 0, 8);
  v.count = static_cast<std::uint32_t>(le(b, 16, 4));
  v.end = b.at(20);
  for (std::size_t off = 21; off + 6 <= b.size();) {
    const std::size_t len = le(b, off + 2, 4);
    v.ids.push_back(static_cast<std::uint32_t>(le(b, off, 2)));
    v.order_ids.push_back(le(b, off + 6 + 16, 8));
    off += 6 + len;
  }
  return v;
}

class MarginSimTest : public SimTest {
 protected:
  Frame ask(RawClient& c, std::uint32_t msg, std::uint64_t req, const Bytes& body) {
    EXPECT_TRUE(c.request(msg, req, body));
    auto f = c.read_frame(kWait);
    EXPECT_TRUE(f.has_value()) << std::hex << msg;
    return f ? *f : Frame{};
  }
  // The flow messages of one subscription, up to and with the one carrying the end flag.
  std::vector<FlowView> subscribe(RawClient& c, const Bytes& body) {
    EXPECT_TRUE(c.request(kSubscribe, 77, body));
    std::vector<FlowView> out;
    while (auto f = c.read_frame(kSilence * 3)) {
      EXPECT_EQ(f->msg, kFlow);
      EXPECT_EQ(f->req, 77u);
      out.push_back(view_flow(f->body));
      if (out.back().end) break;
    }
    return out;
  }

  oxa_sim::SimMargin margin{sim};
};

TEST(MarginSimWire, LayoutsStayInsideTheirRecordsAndDoNotOverlap) {
  for (const auto& l : oxa_sim::margin_layouts()) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < l.count; ++i) {
      const auto& f = l.fields[i];
      EXPECT_GE(f.offset, end) << l.name << "." << f.name;
      EXPECT_LE(f.offset + f.size, l.length) << l.name << "." << f.name;
      end = f.offset + f.size;
    }
  }
}

TEST_F(MarginSimTest, InitAnswerDefaultsCountSessionNumbersFrom100000) {
  auto c = connect_client();
  const struct {
    std::uint64_t account;
    std::uint64_t session_no;
    std::uint32_t index;
  } cases[] = {{7001, 100000, 1}, {7002, 100001, 2}, {7001, 100000, 1}};
  std::uint64_t seq = 40;
  for (const auto& k : cases) {
    const Frame f = ask(*c, kInit, 900 + seq, init_request(k.account, seq));
    EXPECT_EQ(f.msg, kInitRsp);
    EXPECT_EQ(f.req, 900 + seq);
    ASSERT_EQ(f.body.size(), 19u + 310u);
    EXPECT_EQ(le(f.body, 0, 8), k.session_no) << "the head echoes the session number";
    EXPECT_EQ(le(f.body, 8, 8), seq) << "and the request's sequence";
    EXPECT_EQ(f.body[16], 1);
    EXPECT_EQ(f.body[17], 1);
    EXPECT_EQ(f.body[18], 0);
    EXPECT_EQ(le(f.body, 19 + 0, 8), k.account);
    EXPECT_EQ(le(f.body, 19 + 8, 4), k.index);
    EXPECT_EQ(le(f.body, 19 + 12, 8), k.session_no);
    EXPECT_EQ(le(f.body, 19 + 54, 4), static_cast<std::uint32_t>(oxa_sim::local_date_yyyymmdd()));
    EXPECT_EQ(le(f.body, 19 + 58, 4), 1u);
    EXPECT_EQ(margin.session_no(k.account), k.session_no);
    ++seq;
  }
}

TEST_F(MarginSimTest, InitAnswerEveryFieldAndTheErrorVariants) {
  MarginInitAnswer full;
  full.session_no = 123456789012ull;
  full.head_session_no = 5;
  full.request_id = 0x0102030405060708ull;
  full.is_last = 0;
  full.fund_account = 4242;
  full.fund_index = 70000;
  full.unread_20 = 0xBEEF;
  full.order_no_index = 0xFFFFFFF0u;
  for (std::size_t k = 0; k < 4; ++k) full.speed[k] = {static_cast<std::uint8_t>(k), static_cast<std::uint16_t>(100 + k), 10 + static_cast<std::uint32_t>(k)};
  full.trading_day = 20261211;
  full.node_id = 300;
  full.error_id = -7;
  full.error_text = "refused";
  margin.set_account_init_answer(1, full);
  MarginInitAnswer bare;
  bare.has_data = false;
  bare.error_id = 6001;
  margin.set_account_init_answer(2, bare);

  auto c = connect_client();
  const Frame f = ask(*c, kInit, 1, init_request(1, 9));
  ASSERT_EQ(f.body.size(), 19u + 310u + 128u);
  EXPECT_EQ(le(f.body, 0, 8), 5u);
  EXPECT_EQ(le(f.body, 8, 8), 0x0102030405060708ull);
  EXPECT_EQ(f.body[16], 0);
  EXPECT_EQ(f.body[18], 1);
  EXPECT_EQ(le(f.body, 19, 8), 4242u);
  EXPECT_EQ(le(f.body, 27, 4), 70000u);
  EXPECT_EQ(le(f.body, 31, 8), 123456789012ull);
  EXPECT_EQ(le(f.body, 39, 2), 0xBEEFu);
  EXPECT_EQ(le(f.body, 41, 4), 0xFFFFFFF0u);
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(f.body[19 + 26 + 7 * k], k);
    EXPECT_EQ(le(f.body, 19 + 27 + 7 * k, 2), 100 + k);
    EXPECT_EQ(le(f.body, 19 + 29 + 7 * k, 4), 10 + k);
  }
  EXPECT_EQ(le(f.body, 19 + 54, 4), 20261211u);
  EXPECT_EQ(le(f.body, 19 + 58, 4), 300u);
  EXPECT_EQ(static_cast<std::int32_t>(le(f.body, 329, 4)), -7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f.body[333])), "refused");
  EXPECT_EQ(margin.session_no(1), 0u) << "a refusal grants no session";

  const Frame g = ask(*c, kInit, 2, init_request(2, 10));
  ASSERT_EQ(g.body.size(), 19u + 128u);
  EXPECT_EQ(g.body[17], 0);
  EXPECT_EQ(g.body[18], 1);
  EXPECT_EQ(le(g.body, 19, 4), 6001u) << "without data the error record sits at 19";

  sim.set_reply(kInit, ReplyPlan::never());
  EXPECT_TRUE(c->request(kInit, 3, init_request(3, 11)));
  EXPECT_FALSE(c->read_frame(kSilence).has_value());
}

TEST_F(MarginSimTest, SynchronisationPagesFollowTheRequestsStart) {
  for (std::uint32_t i = 1; i <= 5; ++i) margin.store(7001, i % 2 ? 0x228 : 0x229, 0x1000 + i);
  auto c = connect_client();

  const PageView p1 = view_page(ask(*c, kSync, 1, sync_request(100000, 7001, 3, 0)).body);
  EXPECT_EQ(p1.session, 100000u) << "the head echoes the session number";
  EXPECT_EQ(p1.asked, 3u);
  EXPECT_EQ(p1.count, 3u) << "a full page";
  EXPECT_EQ(p1.stride, 8u + 16 + 140 + 128);
  EXPECT_EQ(p1.seqs, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(p1.ids, (std::vector<std::uint32_t>{0x228, 0x229, 0x228}));
  EXPECT_EQ(p1.order_ids, (std::vector<std::uint64_t>{0x1001, 0x1002, 0x1003}));

  const PageView p2 = view_page(ask(*c, kSync, 2, sync_request(100000, 7001, 3, 4)).body);
  EXPECT_EQ(p2.count, 2u) << "a short page";
  EXPECT_EQ(p2.seqs, (std::vector<std::uint32_t>{4, 5}));

  const PageView p3 = view_page(ask(*c, kSync, 3, sync_request(100000, 7001, 3, 6)).body);
  EXPECT_EQ(p3.count, 0u);
  EXPECT_TRUE(p3.seqs.empty());

  // a script: the first answer of a synchronisation claims more than it carries, the second is empty
  MarginSyncScript s;
  MarginSyncPage first;
  first.records = 1;
  first.count = 9;
  first.asked = 9;
  first.stride = 50;
  MarginSyncPage second;
  second.records = 0;
  s.pages = {first, second};
  margin.set_sync_script(s);
  const PageView q1 = view_page(ask(*c, kSync, 4, sync_request(100000, 7001, 3, 0)).body);
  EXPECT_EQ(q1.asked, 9u);
  EXPECT_EQ(q1.count, 9u);
  EXPECT_EQ(q1.stride, 50u);
  EXPECT_EQ(q1.seqs, (std::vector<std::uint32_t>{1}));
  const PageView q2 = view_page(ask(*c, kSync, 5, sync_request(100000, 7001, 3, 2)).body);
  EXPECT_EQ(q2.count, 0u);
  const PageView q3 = view_page(ask(*c, kSync, 6, sync_request(100000, 7001, 3, 2)).body);
  EXPECT_EQ(q3.count, 3u) << "beyond the script: automatic";
}

TEST_F(MarginSimTest, SubscriptionFlowsTheStoredRecordsThenTheEnd) {
  for (std::uint32_t i = 1; i <= 5; ++i) margin.store(7001, 0x233, 0x2000 + i);
  MarginFlowScript s;
  s.per_message = 2;
  margin.set_flow_script(s);
  auto c = connect_client();

  auto msgs = subscribe(*c, subscribe_request(7001, 100000, 2));
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].order_ids, (std::vector<std::uint64_t>{0x2002, 0x2003}));
  EXPECT_EQ(msgs[0].count, 2u);
  EXPECT_EQ(msgs[0].end, 0);
  EXPECT_EQ(msgs[1].order_ids, (std::vector<std::uint64_t>{0x2004, 0x2005}));
  EXPECT_EQ(msgs[2].count, 0u) << "the 21-byte end message";
  EXPECT_EQ(msgs[2].end, 1);
  EXPECT_TRUE(msgs[2].ids.empty());
  for (const auto& m : msgs) EXPECT_EQ(m.session, 100000u) << "every message echoes the session number";

  s.end_in_last = true;
  margin.set_flow_script(s);
  msgs = subscribe(*c, subscribe_request(7001, 100000, 4));
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].end, 1) << "the last message with records carries the end flag";
  EXPECT_EQ(msgs[0].order_ids.size(), 2u);

  // nothing stored from there: only the end message
  msgs = subscribe(*c, subscribe_request(7001, 100000, 6));
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].end, 1);
  EXPECT_TRUE(msgs[0].ids.empty());

  s.send_end = false;
  margin.set_flow_script(s);
  msgs = subscribe(*c, subscribe_request(7001, 100000, 6));
  EXPECT_TRUE(msgs.empty());
}

TEST_F(MarginSimTest, RequestsAreRecordedDecoded) {
  auto c = connect_client();
  ask(*c, kInit, 1, init_request(7001, 3));
  ask(*c, kSync, 2, sync_request(100000, 7001, 200, 0));
  subscribe(*c, subscribe_request(7001, 100000, 0));
  const auto inits = margin.init_requests();
  ASSERT_EQ(inits.size(), 1u);
  EXPECT_TRUE(inits[0].complete);
  EXPECT_EQ(inits[0].fund_account, 7001u);
  EXPECT_EQ(inits[0].client_id, 5u);
  EXPECT_EQ(inits[0].api_version, 0x02230100u);
  EXPECT_EQ(inits[0].request_seq, 3u);
  EXPECT_EQ(inits[0].protocol, '1');
  const auto syncs = margin.sync_requests();
  ASSERT_EQ(syncs.size(), 1u);
  EXPECT_EQ(syncs[0].per_answer, 200u);
  EXPECT_EQ(syncs[0].flag, '0');
  const auto subs = margin.subscribe_requests();
  ASSERT_EQ(subs.size(), 1u);
  EXPECT_EQ(subs[0].session_no, 100000u);
  EXPECT_EQ(subs[0].fund_index, 1u);
}

}  // namespace
