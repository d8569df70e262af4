// Push resumption against answers that carry what ties them to their request: only the pass in
// flight takes a synchronisation answer, one that comes after its pass gave up changes nothing,
// and only the subscription's own end ends it. The requests answer from inside their send, as
// an answer that comes before the wait begins.
#include <gtest/gtest.h>

#include <chrono>

#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/PushResumption.h"

namespace {

using namespace std::chrono_literals;
using OXA::API::CInnerApiInterface;
using OXA::API::PushResumption;
using Key = PushResumption::AnswerKey;

TEST(PushResumptionKeys, OnlyThePassInFlightTakesAnAnswer) {
    CInnerApiInterface api;
    PushResumption r;
    const Key pass{101, 7, 70};
    const Key subscription{102, 7, 0};
    PushResumption::Requests requests;
    requests.send_sync = [&] {
        r.ExpectPass(pass);
        // a late answer of an earlier account's pass, then this pass's own
        EXPECT_FALSE(r.PassDone(Key{99, 7, 69}, 50, true, "test"));
        EXPECT_FALSE(r.PassDone(Key{101, 7, 69}, 50, true, "test")) << "another account";
        EXPECT_TRUE(r.PassDone(pass, 10, true, "test"));
        EXPECT_FALSE(r.PassDone(pass, 12, true, "test")) << "the pass has had its answer";
        return 0;
    };
    requests.send_subscribe = [&] {
        EXPECT_EQ(r.StartSeqNo(), 11u) << "after this pass's last push, not the other's";
        r.ExpectSubscription(subscription);
        EXPECT_FALSE(r.SubscribeEnd(Key{98, 7, 0}, "test"));
        EXPECT_TRUE(r.SubscribeEnd(subscription, "test"));
        return 0;
    };
    EXPECT_EQ(r.Run(api, requests, 5000ms, 5000ms), 0);
    EXPECT_TRUE(r.IsSyncEnd());
}

TEST(PushResumptionKeys, AnAnswerAfterItsPassGaveUpChangesNothing) {
    CInnerApiInterface api;
    PushResumption r;
    const Key pass{201, 8, 80};
    int passes = 0;
    PushResumption::Requests requests;
    requests.send_sync = [&] {
        ++passes;
        r.ExpectPass(pass);
        return 0;  // no answer: the pass gives up
    };
    requests.send_subscribe = [&] {
        EXPECT_FALSE(r.PassDone(pass, 30, false, "test")) << "its pass gave up";
        EXPECT_EQ(r.StartSeqNo(), 0u) << "the subscription asks from where the passes left it";
        r.ExpectSubscription(Key{202, 8, 0});
        EXPECT_TRUE(r.SubscribeEnd(Key{202, 8, 0}, "test"));
        return 0;
    };
    EXPECT_EQ(r.Run(api, requests, 50ms, 5000ms), 0);
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(r.StartSeqNo(), 0u);
}

}  // namespace
