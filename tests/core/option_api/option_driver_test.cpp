// The option driver's dispatch and the replay of missed pushes (0x56a), through the back-end's
// receive slot and a send hook that plays the gateway: which ids reach a handler, how the replay
// pages, what ends it and where the subscription then starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTestSupport.h"

namespace {

using namespace opt_test;
using namespace std::chrono_literals;
namespace OPT = OXA::API::OPT;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kAccount = 7001;
constexpr uint32_t kNode = 5;
constexpr uint64_t kFundIndex = 9;
constexpr uint64_t kSessionNo = 0x501;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | kFundIndex;
constexpr std::size_t kStride = 10 + 615;

// An order push of the session, told apart by its order number.
Bytes OrderPush(uint32_t n) {
    Body b(439, 0);
    b.put<uint64_t>(16, kSession << 40 | uint64_t{6} << 32 | n).text(59, "10004321").put<int32_t>(68, 1);
    b.put<int64_t>(80, 10).ch(88, '2').ch(89, '0').ch(91, '1').ch(92, 'O').ch(117, '2');
    return b.b;
}

struct Row {
    int32_t position;
    uint16_t msg_id;
    int32_t seq;
    Bytes push;
};

struct Page {
    uint64_t session = kSession;
    uint64_t request_id = 0;
    int32_t error = 0;
    std::vector<Row> rows;
    uint32_t total = 0;
    std::optional<int16_t> record;  // unset: rows.size()
    uint32_t stride = kStride;
    int32_t start_echo = 0;
    uint64_t fund_echo = kAccount;
    std::size_t cut = 0;  // when not 0, the answer is cut to this many bytes
};

Bytes SyncAnswer(const Page& p) {
    Body b(48 + p.rows.size() * p.stride, 0);
    b.put<uint64_t>(0, p.session).put<uint64_t>(8, p.request_id).put<uint8_t>(16, 0);
    b.put<int32_t>(17, p.error).put<int16_t>(21, p.record ? *p.record : static_cast<int16_t>(p.rows.size()));
    b.put<uint32_t>(23, p.total).put<uint32_t>(27, p.stride).ch(35, '0');
    b.put<uint64_t>(36, p.fund_echo).put<int32_t>(44, p.start_echo);
    for (std::size_t i = 0; i < p.rows.size(); ++i) {
        const std::size_t at = 48 + i * p.stride;
        const Row& r = p.rows[i];
        b.put<int32_t>(at, r.position).put<uint16_t>(at + 4, r.msg_id).put<int32_t>(at + 6, r.seq);
        const std::size_t n = std::min<std::size_t>(r.push.size(), p.stride > 10 ? p.stride - 10 : 0);
        std::memcpy(b.b.data() + at + 10, r.push.data(), n);
    }
    if (p.cut) b.b.resize(p.cut);
    return b.b;
}

class OptionReplayTest : public OptionDriverFixture {
public:
    void SetUp() override {
        OptionDriverFixture::SetUp();
        session_ = LogIn(kAccount, kNode, kFundIndex, kSessionNo);
        ASSERT_EQ(session_, kSession);
        api_->SubscribePublicTopic(0);
    }
    // Plays the gateway: every 0x460 is answered inside its send by pages(request); the
    // subscription is answered at once.
    void Serve(std::function<std::optional<Page>(const Sent&)> pages, int fail_follow_up = 0) {
        OnSend([this, pages, fail_follow_up](const Sent& s) {
            if (s.msg_id == 0x416) {
                Deliver(0x521, Bytes(28, 0));
                return 0;
            }
            if (s.msg_id != 0x460) return 0;
            const bool follow_up = Le(s.body, 16, 4) != 0;
            if (follow_up && fail_follow_up) return fail_follow_up;
            if (auto p = pages(s)) {
                p->request_id = Le(s.body, 8, 8);
                p->start_echo = static_cast<int32_t>(Le(s.body, 25, 4));
                Deliver(0x56a, SyncAnswer(*p));
            }
            return 0;
        });
    }
    int32_t SubscribedFrom() {
        const auto subs = SentOf(0x416);
        return subs.empty() ? -1 : static_cast<int32_t>(Le(subs.back().body, 16, 4));
    }

    uint64_t session_ = 0;
};

TEST_F(OptionReplayTest, TwoPagesThenTheSubscriptionStartsAfterTheLastSequence) {
    Serve([](const Sent& s) -> std::optional<Page> {
        Page p;
        p.total = 3;
        if (Le(s.body, 16, 4) == 0)
            p.rows = {{1, 0x502, 11, OrderPush(1)}, {2, 0x502, 12, OrderPush(2)}};
        else
            p.rows = {{3, 0x502, 13, OrderPush(3)}};
        return p;
    });
    EXPECT_EQ(api_->StartSyncPush(), 0);
    ASSERT_EQ(spi_.orders.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(spi_.orders[i].order_oxa_id & 0xffffffff, i + 1);
    EXPECT_EQ(V(spi_.calls[0].session), kSession);

    const auto syncs = SentOf(0x460);
    ASSERT_EQ(syncs.size(), 2u);
    const Bytes& next = syncs[1].body;
    ASSERT_EQ(next.size(), 37u);
    EXPECT_TRUE(syncs[1].gateway);
    EXPECT_EQ(syncs[1].session_id, kSession);
    EXPECT_EQ(Le(next, 0, 8), kSession) << "the answer's session";
    EXPECT_EQ(Le(next, 8, 8), Le(syncs[0].body, 8, 8)) << "the answer's request id";
    EXPECT_EQ(static_cast<uint32_t>(syncs[1].request_id), Le(syncs[0].body, 8, 4));
    EXPECT_EQ(Le(next, 16, 4), 2u) << "from the last row's position";
    EXPECT_EQ(Le(next, 20, 4), 0u);
    EXPECT_EQ(next[24], '0');
    EXPECT_EQ(Le(next, 25, 4), 0u) << "the start-sequence echo";
    EXPECT_EQ(Le(next, 29, 8), kAccount) << "the fund-account echo";
    EXPECT_EQ(SubscribedFrom(), 14) << "the last sequence + 1";
    EXPECT_EQ(OXA::API::OPT::Continuations().Tracked(), 0u) << "the ended replay is forgotten";
}

TEST_F(OptionReplayTest, WhatEndsTheReplay) {
    struct Case {
        const char* name;
        std::vector<Row> rows;
        uint32_t total;
        int32_t error;
        std::optional<int16_t> record;
        std::size_t want_pushes;
        int32_t want_from;
    };
    const Case cases[] = {
        {"total reached mid-page: later rows are not looked at",
         {{1, 0x502, 21, OrderPush(1)}, {2, 0x502, 22, OrderPush(2)}, {3, 0x502, 23, OrderPush(3)}}, 2, 0, {}, 2, 23},
        {"a row that is not a replayed push",
         {{1, 0x502, 31, OrderPush(1)}, {2, 0x527, 32, OrderPush(2)}, {3, 0x502, 33, OrderPush(3)}}, 9, 0, {}, 1, 33},
        {"error answer", {{1, 0x502, 41, OrderPush(1)}}, 9, 5, 3, 0, 0},
        {"no row", {}, 0, 0, {}, 0, 0},
        {"negative count", {{1, 0x502, 51, OrderPush(1)}}, 9, 0, -2, 0, 0},
        {"count beyond the message: the rows inside, then the end",
         {{1, 0x502, 61, OrderPush(1)}, {2, 0x502, 62, OrderPush(2)}}, 9, 0, 5, 2, 63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spi_.Clear();
        Serve([&c](const Sent&) -> std::optional<Page> {
            Page p;
            p.rows = c.rows;
            p.total = c.total;
            p.error = c.error;
            p.record = c.record;
            return p;
        });
        const std::size_t before = SentOf(0x460).size();
        EXPECT_EQ(api_->StartSyncPush(), 0);
        EXPECT_EQ(spi_.orders.size(), c.want_pushes);
        EXPECT_EQ(SentOf(0x460).size(), before + 1) << "no follow-up";
        EXPECT_EQ(SubscribedFrom(), c.want_from);
    }
}

TEST_F(OptionReplayTest, PageWithoutProgressEndsAtOnce) {
    // a server that ignores the position answers every request with the same page
    Serve([](const Sent&) -> std::optional<Page> {
        Page p;
        p.total = 10;
        p.rows = {{1, 0x502, 71, OrderPush(1)}, {2, 0x502, 72, OrderPush(2)}};
        return p;
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(api_->StartSyncPush(), 0);
    EXPECT_LT(Clock::now() - t0, 1500ms) << "not the sync time-out";
    EXPECT_EQ(SentOf(0x460).size(), 2u) << "the repeated page asks for nothing more";
    EXPECT_EQ(spi_.orders.size(), 4u);
    EXPECT_EQ(SubscribedFrom(), 73);
}

TEST_F(OptionReplayTest, FollowUpThatFailsToSendEndsAtOnce) {
    Serve(
        [](const Sent&) -> std::optional<Page> {
            Page p;
            p.total = 10;
            p.rows = {{1, 0x502, 81, OrderPush(1)}, {2, 0x502, 82, OrderPush(2)}};
            return p;
        },
        1003);
    const auto t0 = Clock::now();
    EXPECT_EQ(api_->StartSyncPush(), 0);
    EXPECT_LT(Clock::now() - t0, 1500ms) << "not the sync time-out";
    EXPECT_EQ(spi_.orders.size(), 2u);
    EXPECT_EQ(SubscribedFrom(), 83);
}

TEST_F(OptionReplayTest, ReplayedPushIsTheLivePushWithTheRowsRealLength) {
    const Bytes live = OrderPush(5);
    Deliver(0x502, live);
    // rows exactly as long as the push, then a row too short for it, then one more
    Serve([&live](const Sent&) -> std::optional<Page> {
        Page p;
        p.total = 3;
        p.stride = 10 + 439;
        p.rows = {{1, 0x502, 91, live}, {2, 0x502, 92, live}, {3, 0x502, 93, OrderPush(6)}};
        return p;
    });
    EXPECT_EQ(api_->StartSyncPush(), 0);
    ASSERT_EQ(spi_.orders.size(), 4u);
    EXPECT_EQ(std::memcmp(&spi_.orders[0], &spi_.orders[1], sizeof(OXAOrderInfo)), 0)
        << "nothing marks a replayed push";
    EXPECT_EQ(V(spi_.calls[1].session), spi_.calls[0].session);
    EXPECT_EQ(SubscribedFrom(), 94);

    // the same pushes in rows shorter than an order push are dropped; the replay still ends
    spi_.Clear();
    Serve([&live](const Sent&) -> std::optional<Page> {
        Page p;
        p.total = 2;
        p.stride = 10 + 300;
        p.rows = {{1, 0x502, 95, live}, {2, 0x502, 96, live}};
        return p;
    });
    EXPECT_EQ(api_->StartSyncPush(), 0);
    EXPECT_EQ(spi_.orders.size(), 0u);
    EXPECT_EQ(SubscribedFrom(), 97);
}

TEST_F(OptionReplayTest, EveryCutOfAReplayAnswer) {
    Page p;
    p.total = 9;
    p.rows = {{1, 0x502, 11, OrderPush(1)}, {2, 0x510, 12, Bytes(185, 0)}};
    const Bytes whole = SyncAnswer(p);
    std::size_t want_orders = 0;
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        std::unique_ptr<char[]> exact(new char[n ? n : 1]);
        std::memcpy(exact.get(), whole.data(), n);
        api_->OnRecv(0, 0x56a, n ? exact.get() : nullptr, static_cast<int>(n), 0, 0, 0, 0, 0);
        want_orders += n >= 48 + 10 + 439;  // the first row holds its whole push
    }
    EXPECT_EQ(spi_.orders.size(), want_orders);
    EXPECT_LE(OPT::Continuations().Tracked(), 1u);
}

class OptionDispatchTest : public OptionDriverFixture {};

TEST_F(OptionDispatchTest, OnlyOptionIdsReachAHandler) {
    const Bytes push = OrderPush(1);
    struct Row {
        uint32_t id;
        std::size_t want;
    };
    // 0x10502 and 0x22502 share the low 16 bits of ids with handlers, but are not option
    // messages with a handler
    for (const Row& r : {Row{0x502, 1}, Row{0x10502, 0}, Row{0x22502, 0}, Row{0x2502, 0}, Row{0x102, 0},
                         Row{0x500, 0}, Row{0x521, 0}, Row{0xffffffffu, 0}}) {
        spi_.Clear();
        OPT::GetTradeDriver().onRecv(0, r.id, reinterpret_cast<const char*>(push.data()),
                                     static_cast<int>(push.size()), 0, false, 0, 0, 0);
        EXPECT_EQ(spi_.Size(), r.want) << std::hex << r.id;
    }
}

TEST_F(OptionDispatchTest, BoundIds) {
    std::vector<uint32_t> bound;
    for (uint32_t id = 0; id < 0x10000; ++id)
        if (OPT::GetTradeDriver().GetHandler(id) != nullptr) bound.push_back(id);
    std::size_t n_replayed = 0;
    const OPT::ReplayedPush* replayed = OPT::ReplayedPushes(&n_replayed);
    for (std::size_t i = 0; i < n_replayed; ++i) {
        EXPECT_NE(OPT::GetTradeDriver().GetHandler(replayed[i].msg_id), nullptr) << std::hex << replayed[i].msg_id;
        EXPECT_LE(OPT::GetTradeDriver().MinLength(replayed[i].msg_id), replayed[i].length)
            << "a push of the length once replayed is read";
    }
    EXPECT_NE(OPT::GetTradeDriver().GetHandler(0x56a), nullptr);
    EXPECT_EQ(OPT::GetTradeDriver().GetHandler(0x500), nullptr);
    EXPECT_EQ(OPT::GetTradeDriver().GetHandler(0x521), nullptr);
    for (uint32_t id : bound) EXPECT_TRUE(id >= 0x400 && id < 0x600) << std::hex << id;
}

}  // namespace
