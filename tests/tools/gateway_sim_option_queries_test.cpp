// The option query server of the simulated gateway, from a raw loopback client that writes its
// requests and reads the answers at offsets of its own: pages and their positions, the echo of
// the filters, the paged and strategy families, and the faults a script lays on the answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimOption.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;

constexpr std::uint64_t kAccount = 8401;

Bytes Query(std::size_t len, std::uint64_t request_id, std::int32_t position, std::int32_t count = 0) {
  Bytes b(len, 0);
  put_le(b, 0, 5001, 8);
  put_le(b, 8, request_id, 8);
  put_le(b, 16, static_cast<std::uint32_t>(position), 4);
  put_le(b, 20, static_cast<std::uint32_t>(count), 4);
  if (len >= 33) put_le(b, 25, kAccount, 8);  // the asset and fund requests carry it at 16
  return b;
}

class OptionQuerySimTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    client = connect_client();
    oxa_sim::OptionBook book;
    for (int i = 1; i <= 5; ++i) {
      oxa_sim::OptionPositionRow p;
      p.ticker = "1000000" + std::to_string(i);
      p.total = 10 * i;
      book.positions.push_back(p);
    }
    for (int i = 0; i < 3; ++i) {
      oxa_sim::OptionStrategyRow s;
      s.id = "S" + std::to_string(i);
      s.leg_count = 2;
      book.strategies.push_back(s);
    }
    oxa_sim::OptionAssetRow a;
    a.total_asset = 1234.5;
    book.asset = a;
    option.set_book(book);
  }
  std::optional<Frame> Ask(std::uint32_t id, const Bytes& body) {
    EXPECT_TRUE(client->request(id, ++seq, body));
    return client->read_frame(kWait);
  }

  oxa_sim::SimOption option{sim};
  std::unique_ptr<RawClient> client;
  std::uint64_t seq = 0;
};

TEST_F(OptionQuerySimTest, PositionsPageAfterThePositionAskedAndEchoTheFilters) {
  Bytes q = Query(60, 0x31, 0);
  put_le(q, 41, 7, 4);       // fund-account index
  put_le(q, 54, 2, 4);       // market
  auto f = Ask(0x41f, q);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->msg, 0x529u);
  const Bytes& b = f->body;
  ASSERT_EQ(b.size(), 133u + 2 * 596);
  EXPECT_EQ(le(b, 0, 8), 5001u);
  EXPECT_EQ(le(b, 8, 8), 0x31u);
  EXPECT_EQ(b[16], 0) << "not the last page";
  EXPECT_EQ(le(b, 21, 2), 2u);
  EXPECT_EQ(le(b, 23, 4), 5u) << "the total";
  EXPECT_EQ(le(b, 27, 4), 596u);
  EXPECT_EQ(le(b, 44, 8), kAccount);
  EXPECT_EQ(le(b, 52, 4), 7u);
  EXPECT_EQ(le(b, 65, 4), 2u);
  EXPECT_EQ(le(b, 133, 4), 1u);
  EXPECT_EQ(le(b, 133 + 596, 4), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[133 + 95])), "10000001");
  EXPECT_EQ(le(b, 133 + 420, 8), 10u);

  f = Ask(0x41f, Query(60, 0x31, 4));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->body[16], 1);
  EXPECT_EQ(le(f->body, 21, 2), 1u);
  EXPECT_EQ(le(f->body, 133, 4), 5u);
}

TEST_F(OptionQuerySimTest, PagedFamilyTakesTheCountAndReference) {
  auto f = Ask(0x450, Query(60, 0x32, 1, 3));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->msg, 0x55au);
  EXPECT_EQ(le(f->body, 21, 2), 3u);
  EXPECT_EQ(le(f->body, 31, 4), 3u) << "the count asked for";
  EXPECT_EQ(le(f->body, 133, 4), 2u) << "after reference 1";
  EXPECT_EQ(f->body[16], 0);
  f = Ask(0x450, Query(60, 0x32, 4, 3));
  ASSERT_TRUE(f);
  EXPECT_EQ(le(f->body, 21, 2), 1u);
  EXPECT_EQ(f->body[16], 1);
}

TEST_F(OptionQuerySimTest, StrategiesComeInSeveralAnswers) {
  EXPECT_TRUE(client->request(0x419, 1, Query(45, 0x33, 0)));
  auto first = client->read_frame(kWait);
  auto second = client->read_frame(kWait);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->msg, 0x524u);
  EXPECT_EQ(first->body[16], 0);
  EXPECT_EQ(le(first->body, 21, 2), 2u);
  EXPECT_EQ(second->body[16], 1);
  EXPECT_EQ(le(second->body, 21, 2), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&second->body[36 + 8])), "S2");
  EXPECT_EQ(le(second->body, 36, 4), 3u) << "positions count over the answers";
}

TEST_F(OptionQuerySimTest, AssetRecordAtItsOffset) {
  auto f = Ask(0x40f, Query(28, 0x34, 0));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->msg, 0x519u);
  ASSERT_EQ(f->body.size(), 35u + 412);
  EXPECT_EQ(le(f->body, 21, 2), 1u);
  double total;
  std::memcpy(&total, &f->body[35], 8);
  EXPECT_DOUBLE_EQ(total, 1234.5);
}

TEST_F(OptionQuerySimTest, ScriptedFaults) {
  struct Case {
    const char* name;
    oxa_sim::OptionQueryPaging paging;
    std::size_t want_size;
    std::int64_t want_record;
    std::int32_t want_error;
    std::uint32_t want_first_position;
  };
  oxa_sim::OptionQueryPaging cut, error, negative, ignore, row;
  cut.cut_to = 200;
  error.error = 230009;
  negative.negative_count = true;
  ignore.ignore_position = true;
  row.row_size = 100;
  const Case cases[] = {
      {"cut", cut, 200, 2, 0, 3},
      {"error: no rows", error, 133, 0, 230009, 0},
      {"negative count", negative, 133 + 2 * 596, -1, 0, 3},
      {"position ignored", ignore, 133 + 2 * 596, 2, 0, 1},
      {"row size", row, 133 + 2 * 100, 2, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    option.set_query_paging(c.paging);
    auto f = Ask(0x41f, Query(60, 0x35, 2));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->body.size(), c.want_size);
    EXPECT_EQ(static_cast<std::int16_t>(le(f->body, 21, 2)), c.want_record);
    EXPECT_EQ(static_cast<std::int32_t>(le(f->body, 17, 4)), c.want_error);
    if (c.want_first_position) {
      EXPECT_EQ(le(f->body, 133, 4), c.want_first_position);
    }
  }
}

// Errors laid on the next pages only: a first page is answered, the next page asked for takes
// the error, and the one after is answered again.
TEST_F(OptionQuerySimTest, NextPageErrorsAreTakenOneByOne) {
  oxa_sim::OptionQueryPaging once;
  once.next_page_errors = 1;
  once.next_page_error = 230010;
  option.set_query_paging(once);
  struct Step {
    std::int32_t position;
    std::int32_t error;
    std::int64_t rows;
  } const asks[] = {{0, 0, 2}, {2, 230010, 0}, {0, 0, 2}, {2, 0, 2}};
  for (const auto& a : asks) {
    SCOPED_TRACE(a.position);
    auto f = Ask(0x41f, Query(60, 0x36, a.position));
    ASSERT_TRUE(f);
    EXPECT_EQ(static_cast<std::int32_t>(le(f->body, 17, 4)), a.error);
    EXPECT_EQ(static_cast<std::int16_t>(le(f->body, 21, 2)), a.rows);
  }
}

}  // namespace
