// The push registrations of one connection, link by link: what a registration has to do, which
// answer ends which wait, and that a wait never outlives its link.
#include "api/PushRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "infra/utility/AnswerWait.h"

namespace {

using OXA::API::PushRegistry;
using OXA::API::WaitStop;
using Step = PushRegistry::Step;
using Outcome = PushRegistry::Outcome;
using namespace std::chrono_literals;
using Clock = PushRegistry::Clock;

// Far enough that a wait which ends did not end by its deadline.
Clock::time_point Far() { return Clock::now() + 60s; }

TEST(PushRegistry, WhatARegistrationHasToDoOnTheCurrentLink) {
    PushRegistry r;
    r.LinkUp(1, {10});  // the link carried 10's registration
    uint64_t link = 0;
    EXPECT_EQ(r.Start(10, &link), Step::kInFlight);
    EXPECT_EQ(link, 1u);
    EXPECT_EQ(r.Start(11, &link), Step::kSend);
    EXPECT_EQ(r.Start(11, &link), Step::kInFlight) << "sent once, awaited by both";
    EXPECT_EQ(r.Carried(1), std::vector<uint64_t>{10}) << "only what the link carried";

    EXPECT_TRUE(r.Deliver(1, 10, 0));
    EXPECT_TRUE(r.Deliver(1, 11, 4109));
    EXPECT_EQ(r.Start(10, &link), Step::kRegistered);
    EXPECT_EQ(r.Start(11, &link), Step::kSend) << "a refusal is no registration";

    EXPECT_EQ(r.Carried(1), std::vector<uint64_t>{});
    r.Unsent(11, 1);
    EXPECT_FALSE(r.Deliver(1, 11, 0)) << "nothing in flight for it";
}

TEST(PushRegistry, AnAnswerCountsOnlyOnTheLinkItWasReadFrom) {
    PushRegistry r;
    r.LinkUp(1, {10});
    r.LinkUp(2, {10});
    EXPECT_FALSE(r.Deliver(1, 10, 0)) << "the earlier link's answer";
    EXPECT_EQ(r.Carried(2), std::vector<uint64_t>{10});
    EXPECT_TRUE(r.Deliver(2, 10, 0));
    EXPECT_FALSE(r.Deliver(2, 10, 0)) << "answered once";

    r.LinkDown(1);  // reported late: the current link stays up
    uint64_t link = 0;
    EXPECT_EQ(r.Start(10, &link), Step::kRegistered);
    r.LinkDown(2);
    EXPECT_FALSE(r.Deliver(2, 10, 0));
    EXPECT_EQ(r.Start(10, &link), Step::kSend) << "registered again on the next link";
}

TEST(PushRegistry, WaitsEndByAnswerLinkLossTimeoutOrStop) {
    struct Case {
        const char* name;
        Outcome want;
        std::function<void(PushRegistry&)> act;  // on another thread while 10 waits on link 1
    };
    const Case cases[] = {
        {"answered", Outcome::kAnswered, [](PushRegistry& r) { r.Deliver(1, 10, 0); }},
        {"link lost", Outcome::kLinkLost, [](PushRegistry& r) { r.LinkDown(1); }},
        {"a newer link came up", Outcome::kLinkLost, [](PushRegistry& r) { r.LinkUp(2, {10}); }},
        {"an older link went down", Outcome::kTimedOut, [](PushRegistry& r) { r.LinkDown(0); }},
        {"another account answered", Outcome::kTimedOut, [](PushRegistry& r) { r.Deliver(1, 11, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PushRegistry r;
        r.LinkUp(1, {10, 11});
        const bool times_out = c.want == Outcome::kTimedOut;
        std::thread other([&] {
            std::this_thread::sleep_for(20ms);  // the waiter is most likely asleep by now
            c.act(r);
        });
        const auto start = Clock::now();
        EXPECT_EQ(r.Wait(10, 1, times_out ? Clock::now() + 200ms : Far(), nullptr), c.want);
        EXPECT_LT(Clock::now() - start, 30s);
        other.join();
    }
}

TEST(PushRegistry, AnAnswerReachesEveryWaiterOfItsRegistration) {
    PushRegistry r;
    r.LinkUp(1, {10});
    int32_t errors[2] = {-1, -1};
    Outcome outcomes[2] = {Outcome::kTimedOut, Outcome::kTimedOut};
    std::thread a([&] { outcomes[0] = r.Wait(10, 1, Far(), &errors[0]); });
    std::thread b([&] { outcomes[1] = r.Wait(10, 1, Far(), &errors[1]); });
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(r.Deliver(1, 10, 4109));
    a.join();
    b.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(outcomes[i], Outcome::kAnswered) << i;
        EXPECT_EQ(errors[i], 4109) << i;
    }
}

// One waiter giving up (the on-connect thread's shorter wait, say) leaves the others of that
// registration waiting; the next attempt sends again, and a late answer still counts: the
// gateway did register the account on this link.
TEST(PushRegistry, AWaiterThatGivesUpLeavesTheOthersWaiting) {
    PushRegistry r;
    r.LinkUp(1, {10});
    Outcome patient = Outcome::kTimedOut;
    std::thread other([&] { patient = r.Wait(10, 1, Far(), nullptr); });
    EXPECT_EQ(r.Wait(10, 1, Clock::now() + 30ms, nullptr), Outcome::kTimedOut);
    EXPECT_EQ(r.Carried(1), std::vector<uint64_t>{}) << "given up";
    uint64_t link = 0;
    EXPECT_EQ(r.Start(10, &link), Step::kSend) << "sent again";
    EXPECT_TRUE(r.Deliver(1, 10, 0));
    other.join();
    EXPECT_EQ(patient, Outcome::kAnswered);
    EXPECT_EQ(r.Start(10, &link), Step::kRegistered);

    EXPECT_EQ(r.Start(11, &link), Step::kSend);
    EXPECT_EQ(r.Wait(11, 1, Clock::now() + 30ms, nullptr), Outcome::kTimedOut);
    EXPECT_TRUE(r.Deliver(1, 11, 0)) << "late";
    EXPECT_EQ(r.Start(11, &link), Step::kRegistered);
}

TEST(PushRegistry, AStoppedWaitEndsAtOnceBeforeOrDuringTheWait) {
    for (bool before : {true, false}) {
        SCOPED_TRACE(before ? "stopped before the wait" : "stopped during the wait");
        PushRegistry r;
        r.LinkUp(1, {10});
        WaitStop stop;
        if (before) stop.Trigger();
        std::thread release([&] {
            std::this_thread::sleep_for(20ms);
            stop.Trigger();
        });
        Outcome outcome;
        {
            WaitStop::Scope scope(stop);
            outcome = r.Wait(10, 1, Far(), nullptr);
        }
        release.join();
        EXPECT_EQ(outcome, Outcome::kStopped);
        EXPECT_EQ(r.Carried(1), std::vector<uint64_t>{}) << "given up like a timeout";
    }
}

TEST(PushRegistry, ServedAccountsInLoginOrderUntilForgotten) {
    PushRegistry r;
    for (uint64_t a : {30, 10, 20, 10}) r.Serve(a);
    EXPECT_EQ(r.Served(), (std::vector<uint64_t>{30, 10, 20}));
    r.LinkUp(1, {30, 10, 20});
    r.Forget(10);
    EXPECT_FALSE(r.Serves(10));
    EXPECT_EQ(r.Served(), (std::vector<uint64_t>{30, 20}));
    EXPECT_EQ(r.Carried(1), (std::vector<uint64_t>{20, 30}));
    EXPECT_EQ(r.Wait(10, 1, Far(), nullptr), Outcome::kWithdrawn) << "forgotten: nothing to wait for";
}

}  // namespace
