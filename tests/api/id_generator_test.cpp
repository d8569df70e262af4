#include "api/IdGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
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
        {127, 0xFFFFFF, 0xFFFFFFFC, 0xFFFFFF7FFFFFFFFDull},
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
    ASSERT_TRUE(gen.InitOrderId(0x010001, 500));  // a login again moves the counter on
    EXPECT_EQ(gen.NextOrderId(0x010001), 0x0100010900000000ull | 501);
}

// A login moves its session's counter forward, never back: ids taken before its answer, and a
// gateway that answers every login with the same first number, never come round again.
TEST(CIdGeneratorTest, ALoginNeverMovesTheCounterBack) {
    constexpr uint64_t kSession = 0x050009;
    CIdGenerator gen(4);
    const struct {
        uint32_t start;  // the login's number
        int taken;       // ids taken after it
        uint64_t first;  // the first of them
    } steps[] = {
        {100, 5, 0x0500090400000000ull | 101},
        {100, 2, 0x0500090400000000ull | 106},  // the same number again
        {3, 1, 0x0500090400000000ull | 108},    // a lower one
        {0, 1, 0x0500090400000000ull | 109},
        {108, 1, 0x0500090400000000ull | 110},  // below the last id taken
        {109, 1, 0x0500090400000000ull | 111},  // the last id taken
        {5000, 2, 0x0500090400000000ull | 5001},  // a higher one is followed
        {4000, 1, 0x0500090400000000ull | 5003},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.start);
        ASSERT_TRUE(gen.InitOrderId(kSession, step.start));
        for (int i = 0; i < step.taken; ++i) EXPECT_EQ(gen.NextOrderId(kSession), step.first + i) << i;
    }
    // another client id takes over the prefix; the sequence goes on
    gen.SetClientId(9);
    ASSERT_TRUE(gen.InitOrderId(kSession, 1));
    EXPECT_EQ(gen.NextOrderId(kSession), 0x0500090900000000ull | 5004);
    EXPECT_EQ(gen.NextOrderId(0x05000A), 0u) << "a neighbour's counter is not set by it";
}

// The sequence is bits 31-0 alone: after 0xFFFFFFFF the session gets no id, never one of the
// next client id, however often it asks and whatever a later login says.
TEST(CIdGeneratorTest, SpentSequenceRefusesAndStaysInsideItsPrefix) {
    const struct {
        int32_t client;
        uint64_t session;
        uint32_t start;
        uint32_t left;  // ids the session still gets
    } cases[] = {
        {1, 0x010001, 0xFFFFFFFF, 0},
        {1, 0x010002, 0xFFFFFFFE, 1},
        {5, 0x0200FF, 0xFFFFFFF0, 15},
        {127, 0xFFFFFF, 0xFFFFFFFD, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.session << " " << c.start);
        CIdGenerator gen(c.client);
        ASSERT_TRUE(gen.InitOrderId(c.session, c.start));
        const uint64_t neighbour = c.session ^ 1;  // same node
        ASSERT_TRUE(gen.InitOrderId(neighbour, 7));
        const uint64_t prefix = c.session << 40 | uint64_t(c.client & 0xff) << 32;
        for (uint32_t i = 1; i <= c.left; ++i) EXPECT_EQ(gen.NextOrderId(c.session), prefix | (c.start + i)) << i;
        for (int i = 0; i < 3; ++i) {
            CIdGenerator::Refusal why = CIdGenerator::Refusal::NotSet;
            EXPECT_EQ(gen.NextOrderId(c.session, &why), 0u) << i;
            EXPECT_EQ(why, CIdGenerator::Refusal::Spent) << i;
        }
        ASSERT_TRUE(gen.InitOrderId(c.session, 10));  // a login that answers a low number
        CIdGenerator::Refusal why = CIdGenerator::Refusal::NotSet;
        EXPECT_EQ(gen.NextOrderId(c.session, &why), 0u);
        EXPECT_EQ(why, CIdGenerator::Refusal::Spent);
        EXPECT_EQ(gen.NextOrderId(neighbour), neighbour << 40 | uint64_t(c.client & 0xff) << 32 | 8);
    }
    CIdGenerator gen(7);
    CIdGenerator::Refusal why = CIdGenerator::Refusal::Spent;
    EXPECT_EQ(gen.NextOrderId(0x010001, &why), 0u);
    EXPECT_EQ(why, CIdGenerator::Refusal::NotSet);
}

constexpr int kTakers = 4;
constexpr int kPerTaker = 20000;

// Ids that several threads take from one session at once, each thread's in its order, and the
// takes refused as spent; `beside` runs on the calling thread meanwhile, told how many takers
// still run.
struct Taken {
    std::vector<std::vector<uint64_t>> ids;
    int spent = 0;
};
Taken TakeAtOnce(CIdGenerator& gen, uint64_t session, int threads, int per_thread,
                 const std::function<void(const std::atomic<int>& running)>& beside = nullptr) {
    std::atomic<bool> go{false};
    std::atomic<int> running{threads};
    std::atomic<int> spent{0};
    Taken taken;
    taken.ids.resize(threads);
    std::vector<std::thread> takers;
    for (int t = 0; t < threads; ++t) {
        takers.emplace_back([&, t] {
            taken.ids[t].reserve(per_thread);
            while (!go.load(std::memory_order_acquire)) {
            }
            for (int i = 0; i < per_thread; ++i) {
                CIdGenerator::Refusal why = CIdGenerator::Refusal::NotSet;
                const uint64_t id = gen.NextOrderId(session, &why);
                if (id != 0) {
                    taken.ids[t].push_back(id);
                } else if (why == CIdGenerator::Refusal::Spent) {
                    spent.fetch_add(1);
                }
            }
            running.fetch_sub(1);
        });
    }
    go.store(true, std::memory_order_release);
    if (beside) beside(running);
    for (auto& th : takers) th.join();
    taken.spent = spent.load();
    return taken;
}

// Every thread's ids rise, and all of them together are first, first + 1, ... once each.
void ExpectEachOnceFrom(const Taken& taken, uint64_t first, std::size_t count) {
    std::vector<uint64_t> all;
    for (const auto& list : taken.ids) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), count);
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], first + i) << i;
}

// Threads taking ids at the top of the sequence: exactly the ids that are left come out, once
// each, and every other take is refused.
TEST(CIdGeneratorTest, ThreadsAtTheTopGetExactlyTheIdsLeft) {
    constexpr uint32_t kLeft = 5000;  // fewer than the takers ask for
    constexpr uint64_t kSession = 0x300004;
    CIdGenerator gen(2);
    ASSERT_TRUE(gen.InitOrderId(kSession, static_cast<uint32_t>(CIdGenerator::kLastSequence - kLeft)));
    const Taken taken = TakeAtOnce(gen, kSession, kTakers, kPerTaker);
    EXPECT_EQ(taken.spent, kTakers * kPerTaker - static_cast<int>(kLeft));
    ExpectEachOnceFrom(taken, kSession << 40 | uint64_t{2} << 32 | (CIdGenerator::kLastSequence - kLeft + 1), kLeft);
}

// Logins of the session again and again while threads take its ids, each answered with the
// same or a lower first number: every id comes out once, and none is skipped.
TEST(CIdGeneratorTest, LoginsDuringAStreamNeverHandOutAnIdTwice) {
    constexpr uint32_t kFirst = 1000;
    constexpr uint64_t kSession = 0x200003;
    CIdGenerator gen(3);
    ASSERT_TRUE(gen.InitOrderId(kSession, kFirst));
    int logins = 0;
    const Taken taken = TakeAtOnce(gen, kSession, kTakers, kPerTaker, [&](const std::atomic<int>& running) {
        const uint32_t starts[] = {kFirst, kFirst / 2, 0, kFirst - 1};
        while (running.load() > 0 || logins < 4) {
            EXPECT_TRUE(gen.InitOrderId(kSession, starts[logins % 4]));
            ++logins;
            std::this_thread::yield();
        }
    });
    SCOPED_TRACE(logins);
    ExpectEachOnceFrom(taken, kSession << 40 | uint64_t{3} << 32 | (kFirst + 1), kTakers * kPerTaker);
}

// Several request threads on one session while a neighbour of the same node logs in: every id
// comes out once.
TEST(CIdGeneratorTest, ConcurrentNextOrderIdHandsOutEachIdOnce) {
    CIdGenerator gen(3);
    ASSERT_TRUE(gen.InitOrderId(0x200001, 1000));
    const Taken taken = TakeAtOnce(gen, 0x200001, kTakers, kPerTaker,
                                   [&](const std::atomic<int>&) { gen.InitOrderId(0x200002, 0); });
    ExpectEachOnceFrom(taken, 0x2000010300000000ull + 1001, kTakers * kPerTaker);
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
