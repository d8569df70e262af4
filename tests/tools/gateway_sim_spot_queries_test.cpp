// The simulated gateway's query server seen from a raw client: the command line switches it and
// its demo book, and the split of a classic answer over messages keeps the request's session,
// request id and one is_last at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimCli.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;

bool parse(std::vector<const char*> args, oxa_sim::SimOptions& o) {
  args.insert(args.begin(), "oxa_gateway_sim");
  std::string err;
  return oxa_sim::parse_options(static_cast<int>(args.size()), args.data(), o, err);
}

// A position query 0x114 for every ticker.
Bytes position_request(std::uint32_t session_no, std::uint64_t request_id) {
  Bytes b(34, 0);
  put_le(b, 0, session_no, 4);
  put_le(b, 4, request_id, 8);
  put_le(b, 12, 5001, 8);
  b[33] = '2';
  return b;
}

TEST(SimCliSpotQueries, OptionsSwitchTheServerAndItsDemoBook) {
  struct Case {
    const char* name;
    std::vector<const char*> args;
    bool answered;
  } cases[] = {{"defaults: answered from the demo book", {}, true}, {"off", {"--no-spot-queries"}, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    oxa_sim::SimOptions o;
    ASSERT_TRUE(parse(k.args, o));
    oxa_sim::GatewaySim sim;
    oxa_sim::apply_options(o, sim);
    ASSERT_TRUE(sim.start(0));
    RawClient c(sim.port());
    ASSERT_TRUE(c.request(0x114, 9, position_request(7, 9)));
    const auto f = c.read_frame(k.answered ? kWait : kSilence);
    ASSERT_EQ(f.has_value(), k.answered);
    if (!f) continue;
    EXPECT_EQ(f->msg, 0x128u);
    EXPECT_EQ(f->req, 9u);
    const auto demo = oxa_sim::demo_spot_book();
    EXPECT_EQ(le(f->body, 15, 2), demo.positions.size());
    EXPECT_EQ(f->body.size(), 17 + 78 * demo.positions.size());
  }
  oxa_sim::SimOptions o;
  EXPECT_FALSE(parse({"--no-spot-queries=1"}, o));
}

TEST(SimSpotQueries, ClassicAnswerSplitsIntoMessagesWithOneLast) {
  oxa_sim::GatewaySim sim;
  oxa_sim::SpotBook book;
  for (int i = 0; i < 5; ++i) {
    oxa_sim::PositionRow r;
    r.ticker = std::to_string(600000 + i);
    book.positions.push_back(r);
  }
  sim.spot_queries().set_book(book);
  oxa_sim::SpotQueryPaging p;
  p.per_message = 2;
  sim.spot_queries().set_paging(p);
  sim.enable_spot_queries(true);
  ASSERT_TRUE(sim.start(0));
  RawClient c(sim.port());
  ASSERT_TRUE(c.request(0x114, 0x1234, position_request(42, 0x1234)));
  const std::size_t counts[] = {2, 2, 1};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto f = c.read_frame(kWait);
    ASSERT_TRUE(f.has_value()) << i;
    EXPECT_EQ(le(f->body, 0, 4), 42u);       // session number
    EXPECT_EQ(le(f->body, 4, 8), 0x1234u);   // request id
    EXPECT_EQ(f->body[12], i == 2 ? 1 : 0);  // is_last
    EXPECT_EQ(le(f->body, 15, 2), counts[i]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->body.data()) + 17 + 8),
              std::to_string(600000 + 2 * i));
  }
  EXPECT_FALSE(c.read_frame(kSilence).has_value());
}

}  // namespace
