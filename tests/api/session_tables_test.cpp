#include "api/SessionTables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

namespace {

using namespace OXA::API;

// A private table, so index cases do not touch the process-wide ones.
struct LocalArray : ::testing::Test {
    ApiSessionArray<int*> table;
    ~LocalArray() override { table.FreeRows(); }
};

TEST_F(LocalArray, EverySessionIdOfAGatewayHasItsOwnSlot) {
    const uint64_t ids[] = {
        0x000000, 0x00ffff, 0x3fffff,  // the old regular range
        0x400000, 0x410005, 0x420005,  // nodes 64 and up: once all in one spare slot
        0x7f0001, 0xff0000, 0xffffff,  // the last node, the last fund index
    };
    std::vector<int> values(std::size(ids));
    for (size_t i = 0; i < std::size(ids); ++i) ASSERT_TRUE(table.Store(ids[i], &values[i])) << std::hex << ids[i];
    for (size_t i = 0; i < std::size(ids); ++i) {
        SCOPED_TRACE(ids[i]);
        EXPECT_EQ(table.Get(ids[i]), &values[i]);
        EXPECT_EQ(table[ids[i]], &values[i]);
    }
    EXPECT_EQ(table.Get(0x410006), nullptr);
    EXPECT_EQ(table.Get(0x400005), nullptr);
}

TEST_F(LocalArray, IndexBeyondTheNodesReadsNullAndIsNeverWritten) {
    int value = 1;
    int other = 2;
    ASSERT_TRUE(table.Store(0x000005, &value));
    const uint64_t beyond[] = {0x1000000, 0x1000005, 0x10410005, 0xffffffff};
    for (uint64_t id : beyond) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(ApiSessionArray<int*>::InRange(id));
        EXPECT_FALSE(table.Store(id, &other));
        EXPECT_EQ(table.Exchange(id, &other), nullptr);
        int* expected = nullptr;
        EXPECT_FALSE(table.CompareExchange(id, expected, &other));
        EXPECT_EQ(table.Get(id), nullptr);
    }
    // Neither a wrap onto node 0 nor any other slot took the writes.
    EXPECT_EQ(table.Get(0x000005), &value);
    int seen = 0;
    table.ForEachSlot([&](std::atomic<int*>& slot) { seen += slot.load() != nullptr; });
    EXPECT_EQ(seen, 1);
}

TEST_F(LocalArray, IndexIsTheLow32BitsOfTheSessionId) {
    int value = 3;
    ASSERT_TRUE(table.Store(0x410005, &value));
    EXPECT_EQ(table.Get(0x100410005ull), &value);
}

TEST_F(LocalArray, RowsExistOnlyForNodesInUse) {
    int value = 0;
    EXPECT_EQ(table.RowsInUse(), 0u);
    EXPECT_EQ(table.Get(0x410005), nullptr);  // a lookup allocates nothing
    EXPECT_TRUE(table.Store(0x410005, nullptr));
    EXPECT_EQ(table.RowsInUse(), 0u);
    table.Store(0x410005, &value);
    table.Store(0x41ffff, &value);
    table.Store(0x020000, &value);
    EXPECT_EQ(table.RowsInUse(), 2u);
}

TEST_F(LocalArray, ConcurrentFirstStoresShareOneRow) {
    std::vector<int> values(8);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            table.Store(0x300000 + t, &values[t]);
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    EXPECT_EQ(table.RowsInUse(), 1u);
    for (int t = 0; t < 8; ++t) EXPECT_EQ(table.Get(0x300000 + t), &values[t]);
}

TEST(SeqNoRegTest, AcceptsOnlyNumbersAboveTheLastAccepted) {
    const struct {
        int32_t seq;
        bool accepted;
    } steps[] = {
        {0, false}, {-1, false}, {INT_MIN, false}, {1, true}, {1, false}, {0, false},
        {3, true},  {5, true},   {4, false},       {5, false}, {6, true}, {INT_MAX, true}, {INT_MAX, false},
    };
    SeqNoReg reg;
    int32_t last = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.seq);
        EXPECT_EQ(reg.RegSeqNo(s.seq), s.accepted);
        if (s.accepted) last = s.seq;
        EXPECT_EQ(reg.last.load(), last);
    }
}

TEST(SeqNoRegTest, ConcurrentOffersAcceptEachNumberAtMostOnce) {
    SeqNoReg reg;
    constexpr int kThreads = 4;
    constexpr int kTop = 20000;
    std::vector<std::vector<int32_t>> accepted(kThreads);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int32_t seq = 1; seq <= kTop; ++seq) {
                if (reg.RegSeqNo(seq)) accepted[t].push_back(seq);
            }
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    std::vector<int> times(kTop + 1);
    for (const auto& list : accepted) {
        for (size_t i = 1; i < list.size(); ++i) ASSERT_LT(list[i - 1], list[i]);
        for (int32_t seq : list) ++times[seq];
    }
    for (int32_t seq = 1; seq <= kTop; ++seq) ASSERT_LE(times[seq], 1) << seq;
    EXPECT_EQ(reg.last.load(), kTop);
}

// The process-wide tables, emptied around every case.
struct GlobalTables : ::testing::Test {
    void SetUp() override { ReleaseSessionTables(); }
    void TearDown() override { ReleaseSessionTables(); }

    static tagSessionInfo Info(uint64_t session_id, uint64_t session_no, uint64_t fund_acc) {
        tagSessionInfo info{};
        info.nSessionID = session_no;
        info.nFundAcc = fund_acc;
        info.nClientID = 7;
        info.nFundAccIndex = static_cast<uint16_t>(session_id);
        info.nprotocol_type = 1;
        info.nLastOrderID = 99;
        info.nApiSessionID = session_id;
        return info;
    }
};

TEST_F(GlobalTables, SessionsOfHighNodesAreKeptApart) {
    const SessionNoKey key_a{0x41, 7001};
    const SessionNoKey key_b{0x42, 7001};
    tagSessionInfo* a = RegisterSession(Info(0x410005, 7001, 111), &key_a, true);
    tagSessionInfo* b = RegisterSession(Info(0x420005, 7001, 222), &key_b, true);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(a, b);

    EXPECT_EQ(_gArrSessionInfo[0x410005], a);
    EXPECT_EQ(_gArrSessionInfo[0x420005], b);
    EXPECT_EQ(_gArrSessionInfo[0x410005]->nFundAcc, 111u);
    EXPECT_EQ(_gArrSessionInfo[0x420005]->nFundAcc, 222u);
    EXPECT_EQ(_gArrSessionByNo.Get(0x41, 7001), a);
    EXPECT_EQ(_gArrSessionByNo.Get(0x42, 7001), b);
    ASSERT_NE(_gArrSeqNoReg[0x410005], nullptr);
    ASSERT_NE(_gArrSeqNoReg[0x420005], nullptr);
    EXPECT_NE(_gArrSeqNoReg[0x410005], _gArrSeqNoReg[0x420005]);
    EXPECT_TRUE(_gArrSeqNoReg[0x410005]->RegSeqNo(10));
    EXPECT_TRUE(_gArrSeqNoReg[0x420005]->RegSeqNo(5));  // not refused by the other session's 10
    EXPECT_EQ(_gMapNodeFundAcc.Accounts(0x41), std::vector<uint64_t>{111});
    EXPECT_EQ(_gMapNodeFundAcc.Accounts(0x42), std::vector<uint64_t>{222});

    // Logging one out leaves the other whole.
    uint64_t acc = 0;
    EXPECT_TRUE(UnregisterSession(0x410005, &acc));
    EXPECT_EQ(acc, 111u);
    EXPECT_EQ(_gArrSessionInfo[0x420005], b);
    EXPECT_EQ(_gArrSessionByNo.Get(0x42, 7001), b);
    EXPECT_NE(_gArrSeqNoReg[0x420005], nullptr);
    EXPECT_EQ(_gMapNodeFundAcc.Accounts(0x42), std::vector<uint64_t>{222});
}

TEST_F(GlobalTables, UnregisterLeavesNoTablePointingAtTheRecord) {
    const SessionNoKey key{3, 123456};
    tagSessionInfo* rec = RegisterSession(Info(0x030001, 123456, 900), &key, true);
    ASSERT_NE(rec, nullptr);
    SeqNoReg* reg = _gArrSeqNoReg[0x030001];
    ASSERT_NE(reg, nullptr);

    uint64_t acc = 1;
    EXPECT_TRUE(UnregisterSession(0x030001, &acc));
    EXPECT_EQ(acc, 900u);
    EXPECT_EQ(_gArrSessionInfo[0x030001], nullptr);
    EXPECT_EQ(_gArrSessionByNo.Get(3, 123456), nullptr);
    EXPECT_EQ(_gArrSeqNoReg[0x030001], nullptr);
    EXPECT_TRUE(_gMapNodeFundAcc.Accounts(3).empty());

    // Retired, not freed: a handler that read the pointers before may still use them.
    EXPECT_EQ(rec->nFundAcc, 900u);
    EXPECT_EQ(rec->nApiSessionID, 0x030001u);
    EXPECT_TRUE(reg->RegSeqNo(1));

    EXPECT_FALSE(UnregisterSession(0x030001, &acc));
    EXPECT_EQ(acc, 0u);
}

TEST_F(GlobalTables, ALoginAgainReplacesTheRecordEverywhere) {
    const SessionNoKey first_key{5, 100};
    const SessionNoKey second_key{5, 200};
    tagSessionInfo* first = RegisterSession(Info(0x050002, 100, 77), &first_key, true);
    SeqNoReg* reg = _gArrSeqNoReg[0x050002];
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(reg->RegSeqNo(40));

    tagSessionInfo* second = RegisterSession(Info(0x050002, 200, 78), &second_key, true);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(_gArrSessionInfo[0x050002], second);
    EXPECT_EQ(_gArrSessionByNo.Get(5, 200), second);
    EXPECT_EQ(_gArrSessionByNo.Get(5, 100), nullptr);  // no entry left on the replaced record
    EXPECT_EQ(_gArrSeqNoReg[0x050002], reg);            // an existing register is kept
    EXPECT_FALSE(reg->RegSeqNo(40));
    EXPECT_EQ(_gMapNodeFundAcc.Accounts(5), std::vector<uint64_t>{78});
    EXPECT_EQ(first->nFundAcc, 77u);  // retired, still readable
}

TEST_F(GlobalTables, ReplacingOnTheSameNumberKeepsTheNewEntry) {
    const SessionNoKey key{6, 1};
    RegisterSession(Info(0x060001, 1, 10), &key, false);
    tagSessionInfo* second = RegisterSession(Info(0x060001, 1, 10), &key, false);
    EXPECT_EQ(_gArrSessionByNo.Get(6, 1), second);
    EXPECT_EQ(_gArrSeqNoReg[0x060001], nullptr);  // not asked for
}

TEST_F(GlobalTables, OutOfRangeKeysAreRefusedAndStoreNothing) {
    const struct {
        uint64_t session_id;
        SessionNoKey key;
    } cases[] = {
        {0x1000001, {1, 1}},                 // session id beyond node 255
        {0x010001, {256, 1}},                // node row from the wire beyond the table
        {0x010001, {1, 1u << 20}},           // index from the wire beyond the row
        {0x010001, {1, UINT64_MAX}},
        {0x010001, {UINT64_MAX, 0}},
    };
    // rows stay for the life of the process: earlier cases may have made some
    const std::size_t rows_before = _gArrSessionByNo.RowsInUse();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.session_id);
        EXPECT_EQ(RegisterSession(Info(c.session_id, 1, 55), &c.key, true), nullptr);
        EXPECT_EQ(_gArrSessionInfo[c.session_id], nullptr);
        EXPECT_EQ(_gArrSeqNoReg[c.session_id], nullptr);
        EXPECT_EQ(_gArrSessionByNo.Get(c.key.nNodeId, c.key.nIndex), nullptr);
        EXPECT_TRUE(_gMapNodeFundAcc.Accounts(1).empty());
    }
    EXPECT_EQ(_gArrSessionByNo.RowsInUse(), rows_before) << "no row made for a refused key";
    EXPECT_EQ(_gArrSessionByNo.Get(1000, 5), nullptr);
    EXPECT_EQ(_gArrSessionByNo.Get(1, UINT64_MAX), nullptr);
    EXPECT_FALSE(UnregisterSession(0x1000001));
}

TEST_F(GlobalTables, ReleaseEmptiesEveryTableAndFreesNothing) {
    const SessionNoKey key{9, 4};
    tagSessionInfo* rec = RegisterSession(Info(0x090004, 4, 1), &key, true);
    ASSERT_NE(rec, nullptr);
    SeqNoReg* reg = _gArrSeqNoReg[0x090004];
    ASSERT_NE(reg, nullptr);
    ASSERT_NE(RegisterSession(Info(0x090005, 5, 2), nullptr, false), nullptr);
    ASSERT_TRUE(UnregisterSession(0x090005));
    const std::size_t retired_before = RetiredSessionRecords();
    ReleaseSessionTables();
    EXPECT_EQ(_gArrSessionInfo[0x090004], nullptr);
    EXPECT_EQ(_gArrSeqNoReg[0x090004], nullptr);
    EXPECT_EQ(_gArrSessionByNo.Get(9, 4), nullptr);
    EXPECT_TRUE(_gMapNodeFundAcc.Accounts(9).empty());
    // a reader that took the pointers before still reads the session as it was
    EXPECT_EQ(rec->nFundAcc, 1u);
    EXPECT_EQ(rec->nApiSessionID, 0x090004u);
    EXPECT_TRUE(reg->RegSeqNo(3));
    EXPECT_EQ(RetiredSessionRecords(), retired_before + 1);
    // The tables take sessions again after a release.
    EXPECT_NE(RegisterSession(Info(0x090004, 4, 1), &key, true), nullptr);
    EXPECT_NE(_gArrSessionByNo.Get(9, 4), nullptr);
}

// Release comes when the gateway says so, while requests and handlers read the records:
// under the sanitizers no read may meet freed memory or race with the release.
TEST_F(GlobalTables, ReadersSurviveRelease) {
    constexpr int kSessions = 8;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> sink{0};
    auto reader = [&](int which) {
        uint64_t sum = 0;
        while (!stop.load(std::memory_order_acquire)) {
            for (int i = 0; i < kSessions; ++i) {
                const tagSessionInfo* rec = which == 0 ? _gArrSessionInfo[0x080000 + i] : _gArrSessionByNo.Get(8, 40 + i);
                if (rec != nullptr) sum += rec->nFundAcc + rec->nSessionID + rec->nLastOrderID;
                if (SeqNoReg* reg = _gArrSeqNoReg[0x080000 + i]) reg->RegSeqNo(static_cast<int32_t>(sum & 0xff));
            }
        }
        sink.fetch_add(sum);
    };
    std::thread by_id(reader, 0);
    std::thread by_no(reader, 1);
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < kSessions; ++i) {
            const SessionNoKey key{8, static_cast<uint64_t>(40 + i)};
            ASSERT_NE(RegisterSession(Info(0x080000 + i, 40 + i, 2000 + i), &key, true), nullptr);
        }
        ReleaseSessionTables();
    }
    stop.store(true, std::memory_order_release);
    by_id.join();
    by_no.join();
    EXPECT_EQ(_gArrSessionInfo[0x080000], nullptr);
}

TEST_F(GlobalTables, AccountsAreACopyInAscendingOrder) {
    _gMapNodeFundAcc.Add(2, 30);
    _gMapNodeFundAcc.Add(2, 10);
    _gMapNodeFundAcc.Add(2, 20);
    _gMapNodeFundAcc.Add(2, 10);
    _gMapNodeFundAcc.Add(4, 99);
    std::vector<uint64_t> walk = _gMapNodeFundAcc.Accounts(2);
    EXPECT_EQ(walk, (std::vector<uint64_t>{10, 20, 30}));
    _gMapNodeFundAcc.Remove(2, 20);
    _gMapNodeFundAcc.Remove(2, 12345);  // absent: ignored
    _gMapNodeFundAcc.Remove(77, 1);
    EXPECT_EQ(walk.size(), 3u);  // the copy is not touched
    EXPECT_EQ(_gMapNodeFundAcc.Accounts(2), (std::vector<uint64_t>{10, 30}));
    EXPECT_TRUE(_gMapNodeFundAcc.Accounts(3).empty());
}

// An io thread reads records by session number while an application thread logs the same
// sessions in and out; run under the sanitizers, no read may meet freed memory or a race.
TEST_F(GlobalTables, ReadersSurviveConcurrentLoginAndLogout) {
    constexpr int kSessions = 16;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> sink{0};
    std::thread reader([&] {
        uint64_t sum = 0;
        while (!stop.load(std::memory_order_acquire)) {
            for (int i = 0; i < kSessions; ++i) {
                if (const tagSessionInfo* rec = _gArrSessionByNo.Get(7, 500 + i)) {
                    sum += rec->nFundAcc + rec->nApiSessionID;
                }
                if (SeqNoReg* reg = _gArrSeqNoReg[0x070000 + i]) reg->RegSeqNo(static_cast<int32_t>(sum & 0xffff));
            }
            _gMapNodeFundAcc.Accounts(7);
        }
        sink.store(sum);
    });
    for (int round = 0; round < 300; ++round) {
        for (int i = 0; i < kSessions; ++i) {
            const SessionNoKey key{7, static_cast<uint64_t>(500 + i)};
            ASSERT_NE(RegisterSession(Info(0x070000 + i, 500 + i, 1000 + i), &key, true), nullptr);
        }
        for (int i = 0; i < kSessions; ++i) UnregisterSession(0x070000 + i);
    }
    stop.store(true, std::memory_order_release);
    reader.join();
    EXPECT_TRUE(_gMapNodeFundAcc.Accounts(7).empty());
}

}  // namespace
