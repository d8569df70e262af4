#include "api/IdGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace OXA::API;

TEST(OrderIdDecodeTest, Fields) {
    const struct {
        uint64_t id;
        uint8_t node;
        uint16_t fund_index;
        uint8_t client;
        uint32_t seq;
        uint64_t session;
    } cases[] = {
        {0x0A00030700000064ull, 0x0A, 0x0003, 7, 100, 0x0A0003},
        {0x0000000000000000ull, 0, 0, 0, 0, 0},
        {0xFFFFFFFFFFFFFFFFull, 0xFF, 0xFFFF, 0xFF, 0xFFFFFFFF, 0xFFFFFF},
        {0x41000501FFFFFFFEull, 0x41, 0x0005, 1, 0xFFFFFFFE, 0x410005},
        {0x00FFFF7F00000001ull, 0x00, 0xFFFF, 127, 1, 0x00FFFF},
        {0x8000008000000000ull, 0x80, 0x0000, 0x80, 0, 0x800000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        EXPECT_EQ(GetNodeIdByOXAID(c.id), c.node);
        EXPECT_EQ(GetFundIndexByOXAID(c.id), c.fund_index);
        EXPECT_EQ(GetClientIdByOXAID(c.id), c.client);
        EXPECT_EQ(GetSeqByOXAID(c.id), c.seq);
        EXPECT_EQ(GetSessionIdByOXAID(c.id), c.session);
        EXPECT_EQ(GetNodeIdBySession(c.session), c.node);
        EXPECT_EQ(GetFundIndexBySession(c.session), c.fund_index);
    }
}

TEST(CIdGeneratorTest, NextIdAfterInit) {
    const struct {
        int32_t client;
        uint64_t session;
        uint32_t start;
        uint64_t next;
    } cases[] = {
        {7, 0x0A0003, 99, 0x0A00030700000064ull},
        {1, 0x000000, 0, 0x0000000100000001ull},
        {127, 0xFFFFFF, 0xFFFFFFFE, 0xFFFFFF7FFFFFFFFFull},
        {0x1207, 0x410005, 1000, 0x4100050700000000ull | 1001},  // only the client id's low byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.session);
        CIdGenerator gen(c.client);
        ASSERT_TRUE(gen.InitOrderId(c.session, c.start));
        const uint64_t id = gen.NextOrderId(c.session);
        EXPECT_EQ(id, c.next);
        EXPECT_EQ(GetSessionIdByOXAID(id), c.session);
        EXPECT_EQ(GetClientIdByOXAID(id), static_cast<uint8_t>(c.client));
        EXPECT_EQ(gen.NextOrderId(c.session), c.next + 1);
        EXPECT_EQ(gen.NextOrderIdAt(GetNodeIdBySession(c.session), GetFundIndexBySession(c.session)), c.next + 2);
    }
}

TEST(CIdGeneratorTest, SessionsHaveSeparateCounters) {
    CIdGenerator gen(7);
    ASSERT_TRUE(gen.InitOrderId(0x0A0003, 99));
    ASSERT_TRUE(gen.InitOrderId(0x0A0004, 5));
    ASSERT_TRUE(gen.InitOrderId(0x0B0003, 50));
    EXPECT_EQ(gen.NextOrderId(0x0A0003), 0x0A00030700000064ull);
    EXPECT_EQ(gen.NextOrderId(0x0A0004), 0x0A00040700000006ull);
    EXPECT_EQ(gen.NextOrderId(0x0A0003), 0x0A00030700000065ull);
    EXPECT_EQ(gen.NextOrderId(0x0B0003), 0x0B00030700000033ull);
    EXPECT_EQ(gen.NextOrderId(0x0A0004), 0x0A00040700000007ull);
}

TEST(CIdGeneratorTest, CounterNeverSetGivesZero) {
    CIdGenerator gen(7);
    EXPECT_EQ(gen.NextOrderId(0x0A0003), 0u);  // no block for the node
    ASSERT_TRUE(gen.InitOrderId(0x0A0003, 1));
    EXPECT_EQ(gen.NextOrderId(0x0A0004), 0u);  // block there, counter not set
    EXPECT_EQ(gen.NextOrderId(0x0A0004), 0u);  // and still not advanced
    EXPECT_EQ(gen.NextOrderIdAt(0x0C, 3), 0u);
    EXPECT_EQ(gen.NextOrderId(0x0A0003), 0x0A00030700000002ull);
}

TEST(CIdGeneratorTest, SessionIdBeyondTheNodesIsRefused) {
    CIdGenerator gen(7);
    ASSERT_TRUE(gen.InitOrderId(0x0A0003, 1));
    EXPECT_FALSE(gen.InitOrderId(0x10A0003, 9));  // would alias 0x0A0003
    EXPECT_EQ(gen.NextOrderId(0x10A0003), 0u);
    EXPECT_EQ(gen.NextOrderId(0x0A0003), 0x0A00030700000002ull);
}

TEST(CIdGeneratorTest, ClientIdTakesEffectAtTheNextInit) {
    CIdGenerator gen(7);
    ASSERT_TRUE(gen.InitOrderId(0x010001, 10));
    gen.SetClientId(9);
    EXPECT_EQ(gen.GetClientId(), 9);
    EXPECT_EQ(GetClientIdByOXAID(gen.NextOrderId(0x010001)), 7);
    ASSERT_TRUE(gen.InitOrderId(0x010002, 10));
    EXPECT_EQ(GetClientIdByOXAID(gen.NextOrderId(0x010002)), 9);
    ASSERT_TRUE(gen.InitOrderId(0x010001, 500));  // a login again restarts the counter
    EXPECT_EQ(gen.NextOrderId(0x010001), 0x0100010900000000ull | 501);
}

// Several request threads on one session and others on a neighbour: every id comes out once.
TEST(CIdGeneratorTest, ConcurrentNextOrderIdHandsOutEachIdOnce) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 20000;
    CIdGenerator gen(3);
    ASSERT_TRUE(gen.InitOrderId(0x200001, 1000));
    std::atomic<bool> go{false};
    std::vector<std::vector<uint64_t>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            got[t].reserve(kPerThread);
            while (!go.load(std::memory_order_acquire)) {
            }
            for (int i = 0; i < kPerThread; ++i) got[t].push_back(gen.NextOrderId(0x200001));
        });
    }
    // A login of another session of the same node while the others run.
    std::thread login([&] {
        while (!go.load(std::memory_order_acquire)) {
        }
        gen.InitOrderId(0x200002, 0);
    });
    go.store(true, std::memory_order_release);
    for (auto& th : threads) th.join();
    login.join();

    std::vector<uint64_t> all;
    for (auto& list : got) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kPerThread));
    const uint64_t base = 0x2000010300000000ull;
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], base + 1001 + i) << i;
    EXPECT_EQ(gen.NextOrderId(0x200002), 0x2000020300000001ull);
}

TEST(CIdManagerTest, RegistersRisingIdsOfItsOwnNodeAndFund) {
    CIdManager mgr;
    EXPECT_FALSE(mgr.RegEtsId(0x0A00030700000064ull));  // before Init
    ASSERT_EQ(mgr.Init(3, 0x0A), 0);
    const struct {
        uint64_t id;
        bool accepted;
    } steps[] = {
        {0x0A00030700000064ull, true},
        {0x0A00030700000064ull, false},  // not above the last one
        {0x0A00030700000063ull, false},
        {0x0A00030800000001ull, true},   // another client has its own last id
        {0x0B00030700000100ull, false},  // another node
        {0x0A00040700000100ull, false},  // another fund index
        {0x0A00030700000065ull, true},
    };
    for (const auto& s : steps) EXPECT_EQ(mgr.RegEtsId(s.id), s.accepted) << std::hex << s.id;
    EXPECT_EQ(mgr.GetLastEtsId(7), 0x0A00030700000065ull);
    EXPECT_EQ(mgr.GetLastEtsId(8), 0x0A00030800000001ull);

    EXPECT_FALSE(mgr.RegEtsId(0x0A000309000000FFull, 4, 9));  // fund index not its own
    EXPECT_TRUE(mgr.RegEtsId(0x0A000309000000FFull, 3, 9));
    EXPECT_EQ(mgr.GetLastEtsId(9), 0xFFu);  // low 32 bits only
    EXPECT_FALSE(mgr.RegEtsId(0x0A000309000000FFull, 3, 9));
}

}  // namespace
