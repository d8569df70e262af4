// An accepted login answer files its session on the delivering thread before the waiter wakes;
// when no login takes the answer any more the filing is taken back, and only that filing.
#include "api_common/CInnerApiInterface/LoginAnswer.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "api/SessionTables.h"
#include "api_common/SessionFiling.h"
#include "support/SessionState.h"

namespace {

using namespace OXA::API;

TEST(FiledLoginAnswer, UndoneOnlyWhenNoLoginTakesIt) {
    const struct {
        const char* name;
        bool armed;
        bool closed;  // the login gave up (timed out) before the answer came
        uint64_t armed_account;
        bool delivered;
    } cases[] = {
        {"the login in flight", true, false, 500, true},
        {"a login that gave up", true, true, 500, false},
        {"no login at all", false, false, 500, false},
        {"another account's login", true, false, 501, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerWait<int> wait;
        if (c.armed) {
            const uint64_t ticket = wait.arm(c.armed_account);
            if (c.closed) wait.cancel(ticket);
        }
        int undone = 0;
        EXPECT_EQ(DeliverFiledLogin(wait, "test", 500, 1, [&] { ++undone; }), c.delivered);
        EXPECT_EQ(undone, c.delivered ? 0 : 1);
    }
}

TEST(FiledLoginAnswer, UnfilingLeavesALaterFilingOfTheSessionAlone) {
    oxa_test::ResetSessionState();
    constexpr uint64_t kSession = uint64_t{6} << 16 | 3;
    tagSessionInfo info{};
    info.nSessionID = 100003;
    info.nFundAcc = 6003;
    info.nApiSessionID = kSession;
    const SessionNoKey key{6, 3};
    tagSessionInfo* first = RegisterSession(info, &key, true);
    ASSERT_NE(first, nullptr);
    info.nSessionID = 100004;
    const SessionNoKey later_key{6, 4};
    tagSessionInfo* later = RegisterSession(info, &later_key, true);
    ASSERT_NE(later, nullptr);

    UnfileSession(first);  // replaced already: nothing to take back
    EXPECT_EQ(_gArrSessionInfo.Get(kSession), later);
    EXPECT_EQ(_gArrSessionByNo.Get(6, 4), later);
    EXPECT_NE(_gArrSeqNoReg.Get(kSession), nullptr);

    UnfileSession(later);
    EXPECT_EQ(_gArrSessionInfo.Get(kSession), nullptr);
    EXPECT_EQ(_gArrSessionByNo.Get(6, 4), nullptr);
    EXPECT_EQ(_gArrSeqNoReg.Get(kSession), nullptr);
    EXPECT_TRUE(_gMapNodeFundAcc.Accounts(6).empty());
}

}  // namespace
