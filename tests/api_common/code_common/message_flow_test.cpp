// CCachedFlow (store, index, Get) and CPointerFlow (a view of positions).
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "api_common/code_common/CCachedFlow.h"
#include "api_common/code_common/CPointerFlow.h"
#include "core/spot_api/LogCapture.h"

using OXA::API::CCachedFlow;
using OXA::API::CCacheNode;
using OXA::API::CFlowObjIndex;
using OXA::API::CPointerFlow;

namespace {

// Record i: its length varies with i, every byte depends on i and its place.
std::string RecordBytes(int i, int length) {
  std::string r(static_cast<size_t>(length), '\0');
  for (int k = 0; k < length; ++k) r[k] = static_cast<char>((i * 31 + k * 7) & 0xff);
  return r;
}

std::string Read(CCachedFlow& flow, int position) {
  void* data = nullptr;
  const int n = flow.Get(position, &data, INT_MAX);
  if (n < 0 || data == nullptr) return "<none>";
  return std::string(static_cast<const char*>(data), static_cast<size_t>(n));
}

TEST(CachedFlow, RecordsAreNeverSplitAcrossNodes) {
  CCachedFlow flow(1024, 0);
  const std::string a(400, 'a'), b(400, 'b'), c(400, 'c');
  ASSERT_EQ(flow.Append(a.data(), 400), 0);
  ASSERT_EQ(flow.Append(b.data(), 400), 1);
  ASSERT_EQ(flow.Append(c.data(), 400), 2);
  ASSERT_EQ(flow.GetCount(), 3);

  const auto* first = flow.Store().First();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Used(), 800) << "two records fill the first node";
  ASSERT_NE(first->Next(), nullptr);
  EXPECT_EQ(first->Next()->Used(), 400) << "the third starts a new node";
  EXPECT_EQ(first->Next()->Next(), nullptr);

  void* p[3] = {};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(flow.Get(i, &p[i], 400), 400);
  EXPECT_EQ(static_cast<char*>(p[1]), static_cast<char*>(p[0]) + 400) << "stored back to back";
  EXPECT_EQ(Read(flow, 0), a);
  EXPECT_EQ(Read(flow, 1), b);
  EXPECT_EQ(Read(flow, 2), c);
}

TEST(CachedFlow, ManyNodesReadBackRecordByRecord) {
  // 20,000 records of 0 to 299 bytes through 4 KiB nodes: the two spares, then
  // new nodes; every address handed out at the start is still the record's.
  CCachedFlow flow(4096, 2);
  EXPECT_EQ(flow.Store().SpareCount(), 2);
  std::vector<std::pair<const void*, int>> seen;
  for (int i = 0; i < 20000; ++i) {
    const int length = (i * 37) % 300;
    const std::string r = RecordBytes(i, length);
    ASSERT_EQ(flow.Append(r.data(), length), i);
    void* data = nullptr;
    ASSERT_EQ(flow.Get(i, &data, length), length);
    seen.emplace_back(data, length);
  }
  EXPECT_EQ(flow.Store().SpareCount(), 0);
  int nodes = 0;
  for (const auto* n = flow.Store().First(); n != nullptr; n = n->Next()) {
    ++nodes;
    EXPECT_LE(n->Used(), 4096);
  }
  EXPECT_GT(nodes, 500);
  ASSERT_EQ(flow.GetCount(), 20000);
  for (int i = 0; i < 20000; ++i) {
    void* data = nullptr;
    ASSERT_EQ(flow.Get(i, &data, 300), seen[i].second) << i;
    ASSERT_EQ(data, seen[i].first) << "record " << i << " moved";
    ASSERT_EQ(std::string(static_cast<const char*>(data), seen[i].second), RecordBytes(i, seen[i].second)) << i;
  }
}

TEST(CachedFlow, SecondIndexBlockAtTheFirstPositionPastTheFirstBlock) {
  CCachedFlow flow(1 << 20, 0);
  EXPECT_EQ(flow.Index().BlocksAllocated(), 0) << "the first block comes with the first record";
  for (int i = 0; i < CFlowObjIndex::kBlockEntries; ++i) {
    const uint32_t v = static_cast<uint32_t>(i);
    ASSERT_EQ(flow.Append(&v, sizeof v), i);
  }
  EXPECT_EQ(flow.Index().BlocksAllocated(), 1);
  const uint32_t last = 0xfeedf00d;
  ASSERT_EQ(flow.Append(&last, sizeof last), 65536);
  EXPECT_EQ(flow.Index().BlocksAllocated(), 2);
  for (int i : {0, 65535, 65536}) {
    void* data = nullptr;
    ASSERT_EQ(flow.Get(i, &data, 4), 4);
    uint32_t v;
    std::memcpy(&v, data, 4);
    EXPECT_EQ(v, i == 65536 ? last : static_cast<uint32_t>(i));
  }
}

TEST(CachedFlow, ShortBufferLogsAndStillHandsOutTheRecord) {
  spot_test::LogCapture log;
  CCachedFlow flow(1024, 0);
  const std::string r(400, 'r');
  flow.Append(r.data(), 400);
  void* data = nullptr;
  EXPECT_EQ(flow.Get(0, &data, 100), 400);
  EXPECT_EQ(std::string(static_cast<char*>(data), 400), r);
  EXPECT_EQ(log.Count("critical|[CCachedFlow::Get] nLen[100] actualLen[400] space is not enough"), 1u);
  log.Clear();
  EXPECT_EQ(flow.Get(0, &data, 400), 400);
  EXPECT_TRUE(log.Lines().empty()) << "a buffer of the stored length is enough";
}

TEST(CachedFlow, ShortBufferWithTheDefaultLoggerDroppedOrCleared) {
  const auto previous = spdlog::default_logger();
  CCachedFlow flow(64, 0);
  const char r[10] = "123456789";
  flow.Append(r, 10);
  void* data = nullptr;
  spdlog::drop_all();  // also drops the default logger
  EXPECT_EQ(flow.Get(0, &data, 1), 10);
  spdlog::set_default_logger(nullptr);
  EXPECT_EQ(flow.Get(0, &data, 1), 10);
  spdlog::set_default_logger(previous);
  EXPECT_STREQ(static_cast<char*>(data), r);
}

TEST(CachedFlow, GetOutsideTheFlowFindsNothing) {
  CCachedFlow flow(64, 0);
  flow.Append("x", 1);
  for (int position : {-1, 1, 2, INT_MAX, INT_MIN}) {
    void* data = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(flow.Get(position, &data, 64), -1) << position;
    EXPECT_EQ(data, nullptr) << position;
  }
}

TEST(CachedFlow, RefusedRecordsTakeNoPosition) {
  CCachedFlow flow(100, 1);
  const std::string big(101, 'b'), fits(100, 'f');
  struct Case {
    const char* name;
    const void* data;
    int length;
  };
  const Case refused[] = {
      {"longer than a node", big.data(), 101},
      {"negative length", big.data(), -1},
      {"null data with a length", nullptr, 5},
      {"INT_MAX", big.data(), INT_MAX},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(flow.Append(c.data, c.length), -1) << c.name;
    EXPECT_EQ(flow.GetCount(), 0) << c.name;
  }
  EXPECT_EQ(flow.Store().SpareCount(), 1) << "a refused record takes no node";
  EXPECT_EQ(flow.Store().First()->Next(), nullptr);
  EXPECT_EQ(flow.Append(fits.data(), 100), 0);
  EXPECT_EQ(flow.Append(nullptr, 0), 1) << "an empty record is a record";
  EXPECT_EQ(Read(flow, 0), fits);
  EXPECT_EQ(Read(flow, 1), "");
}

TEST(CachedFlow, NodeRoomCheckCannotOverflow) {
  // used + length would wrap past INT_MAX to a negative sum that passes a
  // "fits" test and copies far past the buffer
  CCacheNode node(1024);
  const std::vector<char> storage(1024, 0);
  const char* bytes = storage.data();
  ASSERT_NE(node.Append(bytes, 16), nullptr);
  EXPECT_EQ(node.Append(bytes, INT_MAX - 8), nullptr);
  EXPECT_EQ(node.Append(bytes, INT_MAX), nullptr);
  EXPECT_EQ(node.Used(), 16);
  EXPECT_NE(node.Append(bytes, 1024 - 16), nullptr) << "the exact rest fits";
  EXPECT_EQ(node.Append(bytes, 1), nullptr);
}

TEST(PointerFlow, ReadsThroughTheSourcePositions) {
  CCachedFlow source(1024, 0);
  const std::string r0(400, '0'), r1(400, '1'), r2(400, '2');
  source.Append(r0.data(), 400);
  source.Append(r1.data(), 400);
  source.Append(r2.data(), 400);

  CPointerFlow view(&source);
  EXPECT_EQ(view.Append(2), 0);
  EXPECT_EQ(view.Append(0), 1);
  EXPECT_EQ(view.Append(7), 2) << "a source position is checked when read";
  EXPECT_EQ(view.GetCount(), 3);

  void* data = nullptr;
  ASSERT_EQ(view.Get(0, &data, 400), 400);
  EXPECT_EQ(std::string(static_cast<char*>(data), 400), r2);
  ASSERT_EQ(view.Get(1, &data, 400), 400);
  EXPECT_EQ(std::string(static_cast<char*>(data), 400), r0);
  EXPECT_EQ(view.Get(2, &data, 400), -1);
  EXPECT_EQ(data, nullptr);

  EXPECT_THROW(view.Get(3, &data, 400), std::out_of_range);
  EXPECT_THROW(view.Get(-1, &data, 400), std::out_of_range);

  // a view of a view
  CPointerFlow outer(&view);
  outer.Append(1);
  ASSERT_EQ(outer.Get(0, &data, 400), 400);
  EXPECT_EQ(std::string(static_cast<char*>(data), 400), r0);
}

TEST(PointerFlow, WithoutSource) {
  CPointerFlow view(nullptr);
  view.Append(0);
  void* data = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(view.Get(0, &data, 1), -1);
  EXPECT_EQ(data, nullptr);
}

}  // namespace
