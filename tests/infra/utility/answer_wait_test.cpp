#include "infra/utility/AnswerWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using OXA::API::AnswerWait;
using OXA::API::CopyText;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Answer {
    uint64_t account = 0;
    int error = 0;
};

}  // namespace

TEST(AnswerWait, AnswerThatComesBeforeTheWaitIsKept) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(42);
    EXPECT_TRUE(w.armed_for(42));
    EXPECT_TRUE(w.deliver(42, Answer{42, 7}));
    EXPECT_FALSE(w.armed_for(42)) << "answered";

    Answer out;
    const auto start = Clock::now();
    ASSERT_TRUE(w.wait(ticket, 5s, out));
    EXPECT_LT(Clock::now() - start, 1s) << "an answer already there must not be waited for";
    EXPECT_EQ(out.account, 42u);
    EXPECT_EQ(out.error, 7);
}

TEST(AnswerWait, AnswerFromAnotherThreadWakesTheWaiter) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(5);
    std::thread io([&] {
        std::this_thread::sleep_for(20ms);  // let the waiter block first
        EXPECT_TRUE(w.deliver(5, Answer{5, 0}));
    });
    Answer out;
    const auto start = Clock::now();
    EXPECT_TRUE(w.wait(ticket, 10s, out));
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_EQ(out.account, 5u);
    io.join();
}

TEST(AnswerWait, AnswerForAnotherKeyIsIgnored) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(1);
    EXPECT_FALSE(w.deliver(2, Answer{2, 0}));
    EXPECT_TRUE(w.armed_for(1)) << "still waiting for its own answer";
    Answer out{99, 99};
    EXPECT_FALSE(w.wait(ticket, 30ms, out));
    EXPECT_EQ(out.account, 99u) << "nothing copied out on timeout";
}

TEST(AnswerWait, TimeoutClosesTheRoundAndALateAnswerIsDropped) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(3);
    Answer out;
    const auto start = Clock::now();
    EXPECT_FALSE(w.wait(ticket, 40ms, out));
    EXPECT_GE(Clock::now() - start, 40ms);
    EXPECT_FALSE(w.armed_for(3));
    EXPECT_FALSE(w.deliver(3, Answer{3, 0})) << "late answer";

    // The next round starts clean: the late answer is not waiting in it.
    const uint64_t next = w.arm(3);
    EXPECT_NE(next, ticket);
    EXPECT_FALSE(w.wait(next, 20ms, out));
}

TEST(AnswerWait, NoAnswerBeforeArming) {
    AnswerWait<Answer> w;
    EXPECT_FALSE(w.deliver(8, Answer{8, 0}));
    const uint64_t ticket = w.arm(8);
    Answer out;
    EXPECT_FALSE(w.wait(ticket, 20ms, out)) << "an answer for no round must not be kept for a later one";
}

TEST(AnswerWait, CancelClosesTheRound) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(4);
    w.cancel(ticket);
    EXPECT_FALSE(w.armed_for(4));
    EXPECT_FALSE(w.deliver(4, Answer{4, 0}));

    // Cancelling an old ticket leaves a newer round alone.
    const uint64_t next = w.arm(4);
    w.cancel(ticket);
    EXPECT_TRUE(w.armed_for(4));
    EXPECT_TRUE(w.deliver(4, Answer{4, 1}));
    Answer out;
    EXPECT_TRUE(w.wait(next, 1s, out));
    EXPECT_EQ(out.error, 1);
}

TEST(AnswerWait, ANewRoundEndsTheWaitOfTheOldOne) {
    // One waiter at a time: re-arming gives up the earlier round at once rather than
    // handing it the new round's answer.
    AnswerWait<Answer> w;
    const uint64_t first = w.arm(1);
    std::atomic<bool> first_result{true};
    std::atomic<bool> first_done{false};
    std::thread waiter([&] {
        Answer out;
        first_result = w.wait(first, 10s, out);
        first_done = true;
    });
    std::this_thread::sleep_for(20ms);
    const auto start = Clock::now();
    const uint64_t second = w.arm(2);
    waiter.join();
    EXPECT_LT(Clock::now() - start, 5s) << "the old waiter must leave at once, not at its deadline";
    EXPECT_TRUE(first_done);
    EXPECT_FALSE(first_result);
    EXPECT_TRUE(w.deliver(2, Answer{2, 0}));
    Answer out;
    EXPECT_TRUE(w.wait(second, 1s, out));
    EXPECT_EQ(out.account, 2u);
}

TEST(AnswerWait, ZeroOrNegativeTimeoutStillTakesAnAnswerThatIsThere) {
    AnswerWait<Answer> w;
    uint64_t ticket = w.arm(6);
    Answer out;
    EXPECT_FALSE(w.wait(ticket, 0ms, out));
    ticket = w.arm(6);
    w.deliver(6, Answer{6, 2});
    EXPECT_TRUE(w.wait(ticket, -5ms, out));
    EXPECT_EQ(out.error, 2);
}

// ---------------------------------------------------------------------------------------

TEST(CopyText, CutsTerminatesAndZeroesTheRest) {
    struct Case {
        const char* what;
        const char* src;
        std::size_t src_len;
        std::size_t dst_size;
        std::string expect;
    } cases[] = {
        {"fits", "abc", 3, 8, "abc"},
        {"cut to the field", "abcdefghij", 10, 5, "abcd"},
        {"stops at the source's NUL", "ab\0cd", 5, 8, "ab"},
        {"source length bounds an unterminated source", "abcdef", 3, 8, "abc"},
        {"field of one byte holds only the NUL", "abc", 3, 1, ""},
        {"empty source", "", 0, 4, ""},
        {"null source", nullptr, 10, 4, ""},
    };
    for (const auto& c : cases) {
        char dst[16];
        std::memset(dst, '#', sizeof(dst));
        const std::size_t n = CopyText(dst, c.dst_size, c.src, c.src_len);
        EXPECT_EQ(n, c.expect.size()) << c.what;
        EXPECT_EQ(std::string(dst), c.expect) << c.what;
        for (std::size_t i = c.expect.size(); i < c.dst_size; ++i) EXPECT_EQ(dst[i], '\0') << c.what << " at " << i;
        EXPECT_EQ(dst[c.dst_size], '#') << c.what << ": wrote past the field";
    }
}

TEST(CopyText, NoFieldWritesNothing) {
    char dst[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(CopyText(dst, 0, "abc", 3), 0u);
    EXPECT_EQ(dst[0], '#');
    EXPECT_EQ(CopyText(nullptr, 4, "abc", 3), 0u);
}

TEST(CopyText, ArrayFormUsesTheArraySize) {
    char field[6];
    EXPECT_EQ(CopyText(field, "longer than the field", 21), 5u);
    EXPECT_STREQ(field, "longe");
}

// One request in flight: an error answer ends the armed round whatever key it names; an
// answer without error must name the key; nothing is taken when no round is armed.
TEST(AnswerWait, SoleDeliveryRule) {
    struct Case {
        const char* name;
        bool arm;
        uint64_t key;
        bool is_error;
        bool taken;
    };
    const Case cases[] = {
        {"own key, no error", true, 7, false, true},
        {"own key, error", true, 7, true, true},
        {"other key, error", true, 8, true, true},
        {"no key, error", true, 0, true, true},
        {"other key, no error", true, 8, false, false},
        {"nothing armed, error", false, 7, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerWait<Answer> w;
        uint64_t ticket = 0;
        if (c.arm) ticket = w.arm(7);
        const auto dry = w.deliver_sole(c.key, c.is_error, Answer{c.key, 1}, true);
        EXPECT_EQ(dry.taken, c.taken);
        EXPECT_EQ(dry.armed, c.arm);
        EXPECT_EQ(dry.armed_key, c.arm ? 7u : 0u);
        EXPECT_EQ(w.armed_for(7), c.arm) << "a dry run delivers nothing";
        EXPECT_EQ(w.deliver_sole(c.key, c.is_error, Answer{c.key, 1}).taken, c.taken);
        if (!c.arm) continue;
        Answer out;
        EXPECT_EQ(w.wait(ticket, c.taken ? 5s : 20ms, out), c.taken);
        if (c.taken) {
            EXPECT_EQ(out.account, c.key);
        }
    }
}

TEST(AnswerWait, SoleDeliveryTakesOneAnswerPerRound) {
    AnswerWait<Answer> w;
    const uint64_t ticket = w.arm(7);
    EXPECT_TRUE(w.deliver_sole(0, true, Answer{0, 5}).taken);
    EXPECT_FALSE(w.deliver_sole(7, false, Answer{7, 0}).taken) << "the round is answered";
    Answer out;
    ASSERT_TRUE(w.wait(ticket, 5s, out));
    EXPECT_EQ(out.error, 5);
    EXPECT_FALSE(w.deliver_sole(0, true, Answer{0, 6}).armed) << "closed once taken";
}

// A wait on a thread inside a stop's scope ends at once when the stop is triggered, before the
// wait or during it; an answer already there is still taken, and a wait outside the scope, or
// under another stop, is not touched.
TEST(WaitStop, EndsTheWaitsOfItsScopeAtOnce) {
    using OXA::API::WaitStop;
    struct Case {
        const char* name;
        bool trigger_before;
        bool answered;
        bool in_scope;
        bool expect_answer;
        bool expect_quick;
    };
    const Case cases[] = {
        {"triggered during the wait", false, false, true, false, true},
        {"triggered before the wait", true, false, true, false, true},
        {"answer already there", true, true, true, true, true},
        {"a wait outside the scope", false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerWait<Answer> w;
        WaitStop stop;
        const uint64_t ticket = w.arm(8);
        if (c.answered) w.deliver(8, Answer{8, 3});
        if (c.trigger_before) stop.Trigger();
        std::thread release([&] {
            std::this_thread::sleep_for(20ms);
            stop.Trigger();
        });
        Answer out;
        bool got;
        const auto start = Clock::now();
        const auto timeout = c.expect_quick ? 60s : 200ms;
        if (c.in_scope) {
            WaitStop::Scope scope(stop);
            got = w.wait(ticket, timeout, out);
        } else {
            got = w.wait(ticket, timeout, out);
        }
        const auto took = Clock::now() - start;
        release.join();
        EXPECT_EQ(got, c.expect_answer);
        if (c.expect_answer) {
            EXPECT_EQ(out.error, 3);
        }
        if (c.expect_quick) {
            EXPECT_LT(took, 30s);
        } else {
            EXPECT_GE(took, 200ms);
        }
        EXPECT_TRUE(stop.Triggered());
        EXPECT_FALSE(w.deliver(8, Answer{8, 0})) << "the round is closed";
    }
}

TEST(WaitStop, ScopesNestAndRestore) {
    using OXA::API::WaitStop;
    EXPECT_EQ(WaitStop::Current(), nullptr);
    WaitStop outer, inner;
    {
        WaitStop::Scope a(outer);
        EXPECT_EQ(WaitStop::Current(), &outer);
        {
            WaitStop::Scope b(inner);
            EXPECT_EQ(WaitStop::Current(), &inner);
        }
        EXPECT_EQ(WaitStop::Current(), &outer);
        std::thread other([] { EXPECT_EQ(WaitStop::Current(), nullptr) << "per thread"; });
        other.join();
    }
    EXPECT_EQ(WaitStop::Current(), nullptr);
}
