// The option back-end's session through a send hook: login (what fills the tables, which
// answers end which login), push resumption, logout, the request gate and the operations the
// option business does not offer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/ApiGlobals.h"
#include "api/ErrorCodes.h"
#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "core/option_api/OptionTraderImpl.h"
#include "support/SessionState.h"

namespace {

using namespace std::chrono_literals;
using OXA::API::OptionTraderImpl;
using OXA::API::tagSessionInfo;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kClientId = 6;

void PutLe(Bytes& b, std::size_t off, uint64_t v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t Le(const Bytes& b, std::size_t off, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= uint64_t{b.at(off + i)} << (8 * i);
    return v;
}

// The login answer 0x500 at the test's own offsets.
struct Answer {
    uint64_t fund_account = 0;
    uint64_t session_no = 0;
    int32_t error = 0;
    uint32_t date = 20261210;
    uint32_t node = 4;
    uint64_t fund_index = 0;
    uint64_t cur_order_id = 0;
    int32_t order_limit = 0;
    int32_t query_limit = 0;
};
Bytes LoginAnswer(const Answer& a) {
    Bytes b(415, 0xEE);  // the unread bytes carry junk
    PutLe(b, 0, a.fund_account, 8);
    PutLe(b, 8, a.session_no, 8);
    PutLe(b, 315, static_cast<uint32_t>(a.error), 4);
    PutLe(b, 383, a.date, 4);
    PutLe(b, 387, a.node, 4);
    PutLe(b, 391, a.fund_index, 8);
    PutLe(b, 399, a.cur_order_id, 8);
    PutLe(b, 407, static_cast<uint32_t>(a.order_limit), 4);
    PutLe(b, 411, static_cast<uint32_t>(a.query_limit), 4);
    return b;
}

struct Sent {
    bool gateway;
    uint64_t session_id;
    uint32_t msg_id;
    Bytes body;
    int request_id;
};

class OptionSessionTest : public ::testing::Test {
public:
    void SetUp() override {
        // no session, account or rate window left by the tests before
        oxa_test::ResetSessionState();
        // bus mode: push registration sends nothing, so the hook sees every send
        OXA::API::SockType.store(2);
        api_.Init(nullptr, &generator_, &error_);
        OptionTraderImpl::Timeouts t;
        t.login = 5000ms;  // an answer inside the send must not wait for this
        t.sync = 300ms;
        t.subscribe = 300ms;
        api_.SetTimeouts(t);
        api_.SetSendHook([this](bool gateway, uint64_t session, uint32_t msg, const void* body, int len, int req) {
            Sent s{gateway, session, msg, Bytes(static_cast<const uint8_t*>(body), static_cast<const uint8_t*>(body) + len),
                   req};
            std::function<int(const Sent&)> on;
            {
                std::lock_guard<std::mutex> lk(mu_);
                sent_.push_back(s);
                on = on_send_;
            }
            return on ? on(s) : 0;
        });
    }
    void TearDown() override { api_.Release(); }

    // Answers every 0x401 inside its send with the answer made for its account.
    void AnswerLogins(std::function<Answer(uint64_t account)> make) {
        OnSend([this, make](const Sent& s) {
            if (s.msg_id == 0x401) Deliver(0x500, LoginAnswer(make(Le(s.body, 0, 8))));
            return 0;
        });
    }
    void OnSend(std::function<int(const Sent&)> f) {
        std::lock_guard<std::mutex> lk(mu_);
        on_send_ = std::move(f);
    }
    void Deliver(uint32_t msg, const Bytes& body) {
        api_.OnRecv(0, msg, reinterpret_cast<const char*>(body.data()), static_cast<int>(body.size()), 0, 0, 0, 0, 0);
    }
    std::vector<Sent> SentOf(uint32_t msg) {
        std::lock_guard<std::mutex> lk(mu_);
        std::vector<Sent> out;
        for (const auto& s : sent_)
            if (s.msg_id == msg) out.push_back(s);
        return out;
    }
    std::size_t SentCount() {
        std::lock_guard<std::mutex> lk(mu_);
        return sent_.size();
    }
    int LastError() const { return error_.error_id; }
    // Logs in with an accepted answer; returns the session id.
    uint64_t LoginOk(uint64_t account, uint32_t node, uint64_t fund_index, uint64_t session_no, int32_t order_limit = 0) {
        AnswerLogins([=](uint64_t acc) {
            Answer a;
            a.fund_account = acc;
            a.node = node;
            a.fund_index = fund_index;
            a.session_no = session_no;
            a.order_limit = order_limit;
            return a;
        });
        return api_.Login(nullptr, account);
    }
    // The session an answer with these clues belongs to; null when none (or not one) fits.
    const tagSessionInfo* Found(uint64_t number, uint32_t routed_node, int request_id = 0, uint64_t account = 0) {
        return api_.FindSessionInfo({number, routed_node, request_id, account}).record;
    }

    OXA::API::CIdGenerator generator_{kClientId};
    OXAErrorInfo error_{};
    OptionTraderImpl api_;
    std::mutex mu_;
    std::vector<Sent> sent_;
    std::function<int(const Sent&)> on_send_;
};

TEST_F(OptionSessionTest, AcceptedLoginFillsEveryIndexAndTheOrderCounter) {
    AnswerLogins([](uint64_t acc) {
        Answer a;
        a.fund_account = acc;
        a.session_no = 0xABCDEF0123ull;
        a.node = 9;
        a.fund_index = 0x10021;      // masked to 16 bits
        a.cur_order_id = 0x100000005;  // the counter takes the low 32 bits
        a.order_limit = 2;
        a.query_limit = -1;          // handed on as 0: unlimited
        a.date = 20261211;
        return a;
    });
    const auto start = Clock::now();
    const uint64_t session = api_.Login(nullptr, 7001);
    EXPECT_LT(Clock::now() - start, 2000ms) << "the answer came inside the send: no wait";
    ASSERT_EQ(session, uint64_t{9} << 16 | 0x21) << LastError();
    EXPECT_EQ(api_.GetApiSessionId(), session);

    const tagSessionInfo* info = OXA::API::_gArrSessionInfo.Get(session);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->nSessionID, 0xABCDEF0123ull);
    EXPECT_EQ(info->nFundAcc, 7001u);
    EXPECT_EQ(info->nClientID, kClientId);
    EXPECT_EQ(info->nFundAccIndex, 0x21);
    EXPECT_EQ(info->nprotocol_type, 2);
    EXPECT_EQ(info->nLastOrderID, 0x100000005u);
    EXPECT_EQ(info->nApiSessionID, session);
    EXPECT_EQ(Found(0xABCDEF0123ull, 9), info);
    EXPECT_EQ(Found(0xABCDEF0123ull, 8), info) << "keyed by the number: any routed node finds it";
    EXPECT_EQ(Found(0xABCDEF0124ull, 9), nullptr);
    const auto accounts = OXA::API::_gMapNodeFundAcc.Accounts(9);
    EXPECT_NE(std::find(accounts.begin(), accounts.end(), 7001u), accounts.end());
    EXPECT_EQ(OXA::API::_tradingDay.load(), 20261211u);
    EXPECT_EQ(api_.NextOrderId(session), session << 40 | uint64_t{kClientId} << 32 | 6);
    EXPECT_EQ(OptionTraderImpl::FirstOrderId(*info), session << 40 | uint64_t{kClientId} << 32 | 0x100000005u);

    // two orders per second, queries unlimited
    EXPECT_NE(api_.CheckRequest(session, 0), nullptr);
    EXPECT_NE(api_.CheckRequest(session, 0), nullptr);
    EXPECT_EQ(api_.CheckRequest(session, 0), nullptr);
    EXPECT_EQ(LastError(), OXA::API::kErrOverSpeed);
    for (int i = 0; i < 50; ++i) ASSERT_NE(api_.CheckRequest(session, 1), nullptr);

    const auto login = SentOf(0x401);
    ASSERT_EQ(login.size(), 1u);
    const Bytes& b = login[0].body;
    ASSERT_EQ(b.size(), 315u);
    EXPECT_FALSE(login[0].gateway) << "the login goes to the order server's path";
    EXPECT_EQ(Le(b, 0, 8), 7001u);
    EXPECT_EQ(Le(b, 16, 8), static_cast<uint64_t>(login[0].request_id)) << "request sequence = frame request id";
    EXPECT_EQ(Le(b, 24, 2), kClientId);
    EXPECT_EQ(Le(b, 28, 8), 0x401u);
    EXPECT_EQ(b[36], 'P');
    EXPECT_EQ(b[292], 0);
}

TEST_F(OptionSessionTest, WhichAnswersEndWhichLogin) {
    struct Row {
        const char* name;
        std::function<void(OptionSessionTest&, const Sent&)> answer;  // run inside the 0x401 send
        uint64_t session;
        int error;
    };
    const Row rows[] = {
        {"a refusal of the account ends its login at once",
         [](OptionSessionTest& t, const Sent& s) {
             Answer a;
             a.fund_account = Le(s.body, 0, 8);
             a.error = 230001;
             t.Deliver(0x500, LoginAnswer(a));
         },
         0, OXA::API::kErrLoginRefused},
        {"a refusal naming no account ends the login in flight",
         [](OptionSessionTest& t, const Sent&) {
             Answer a;
             a.error = 230001;
             t.Deliver(0x500, LoginAnswer(a));
         },
         0, OXA::API::kErrLoginRefused},
        {"a refusal of another account is dropped: the login times out",
         [](OptionSessionTest& t, const Sent&) {
             Answer a;
             a.fund_account = 1;
             a.error = 230001;
             t.Deliver(0x500, LoginAnswer(a));
         },
         0, OXA::API::kErrLoginTimeout},
        {"an acceptance for another account is dropped: the login times out",
         [](OptionSessionTest& t, const Sent&) {
             Answer a;
             a.fund_account = 7999;
             a.node = 4;
             a.fund_index = 0x31;
             a.session_no = 31;
             t.Deliver(0x500, LoginAnswer(a));
         },
         0, OXA::API::kErrLoginTimeout},
        {"a node above 255 refuses the login",
         [](OptionSessionTest& t, const Sent& s) {
             Answer a;
             a.fund_account = Le(s.body, 0, 8);
             a.node = 256;
             a.fund_index = 0x32;
             t.Deliver(0x500, LoginAnswer(a));
         },
         0, OXA::API::kErrLoginRefused},
        {"an answer shorter than 415 bytes is dropped",
         [](OptionSessionTest& t, const Sent& s) {
             Answer a;
             a.fund_account = Le(s.body, 0, 8);
             a.node = 4;
             a.fund_index = 0x33;
             Bytes b = LoginAnswer(a);
             b.resize(414);
             t.Deliver(0x500, b);
         },
         0, OXA::API::kErrLoginTimeout},
        {"no answer", [](OptionSessionTest&, const Sent&) {}, 0, OXA::API::kErrLoginTimeout},
    };
    OptionTraderImpl::Timeouts t = api_.GetTimeouts();
    t.login = 200ms;
    api_.SetTimeouts(t);
    uint64_t account = 7100;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto answer = row.answer;
        OnSend([this, answer](const Sent& s) {
            if (s.msg_id == 0x401) answer(*this, s);
            return 0;
        });
        EXPECT_EQ(api_.Login(nullptr, ++account), row.session);
        EXPECT_EQ(LastError(), row.error);
        EXPECT_EQ(api_.GetApiSessionId(), 0u);
    }
    for (uint16_t index : {0x31, 0x32, 0x33})
        EXPECT_EQ(OXA::API::_gArrSessionInfo.Get(uint64_t{4} << 16 | index), nullptr) << "nothing filed";
    EXPECT_EQ(Found(31, 4), nullptr);
}

TEST_F(OptionSessionTest, LateAnswerAfterTheLoginGaveUpFilesNothing) {
    OptionTraderImpl::Timeouts t = api_.GetTimeouts();
    t.login = 100ms;
    api_.SetTimeouts(t);
    EXPECT_EQ(api_.Login(nullptr, 7201), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout);
    Answer a;
    a.fund_account = 7201;
    a.fund_index = 0x41;
    a.session_no = 41;
    Deliver(0x500, LoginAnswer(a));
    EXPECT_EQ(OXA::API::_gArrSessionInfo.Get(uint64_t{4} << 16 | 0x41), nullptr);
    EXPECT_EQ(Found(41, 4), nullptr);
}

TEST_F(OptionSessionTest, FailedSecondLoginNeverReturnsTheFirstSession) {
    const uint64_t first = LoginOk(7301, 4, 0x51, 51);
    ASSERT_NE(first, 0u);
    AnswerLogins([](uint64_t acc) {
        Answer a;
        a.fund_account = acc;
        a.error = 5;
        return a;
    });
    EXPECT_EQ(api_.Login(nullptr, 7302), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginRefused);
    EXPECT_NE(OXA::API::_gArrSessionInfo.Get(first), nullptr) << "the first session stays";
}

TEST_F(OptionSessionTest, DisplacedRecordAndLogoutKeepTheIndexConsistent) {
    const uint64_t session = LoginOk(7401, 5, 0x61, 100);
    ASSERT_NE(session, 0u);
    const tagSessionInfo* first = Found(100, 5);
    ASSERT_NE(first, nullptr);
    // the same account logs in again: the server gives the session another number
    ASSERT_EQ(LoginOk(7401, 5, 0x61, 200), session);
    const tagSessionInfo* second = Found(200, 5);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(Found(100, 5), nullptr) << "the displaced record left the index";
    EXPECT_EQ(first->nSessionID, 100u) << "and stays readable for a handler that holds it";

    // another account gets number 200 too on the node: the account an answer echoes tells them apart
    const uint64_t other = LoginOk(7402, 5, 0x62, 200);
    ASSERT_NE(other, 0u);
    EXPECT_EQ(Found(200, 5), nullptr) << "nothing tells the two apart";
    ASSERT_NE(Found(200, 5, 0, 7402), nullptr);
    EXPECT_EQ(Found(200, 5, 0, 7402)->nApiSessionID, other);
    EXPECT_EQ(Found(200, 5, 0, 7401)->nApiSessionID, session);
    // logging out the first session must not take the other's entry
    EXPECT_EQ(api_.Logout(session), 0);
    EXPECT_EQ(OXA::API::_gArrSessionInfo.Get(session), nullptr);
    ASSERT_NE(Found(200, 5), nullptr);
    EXPECT_EQ(Found(200, 5)->nApiSessionID, other);
    EXPECT_STREQ(api_.GetAccountByOXAID(session << 40 | 1), "");
    EXPECT_EQ(api_.Logout(other), 0);
    EXPECT_EQ(Found(200, 5), nullptr);
    EXPECT_EQ(api_.Logout(uint64_t{5} << 16 | 0x6f), 0) << "an unknown session logs out too";
}

// One connection may serve sessions of several nodes, and the router names only the node of its
// last login: the number finds the session; where sessions share it, the account the answer
// echoes or the query in flight under its request id chooses, and an answer nothing tells apart
// goes to none (no connection here, so the routed node tells nothing).
TEST_F(OptionSessionTest, SessionsSharingANumberAreToldApartByWhatTheAnswerCarries) {
    const uint64_t six = LoginOk(7451, 6, 0x65, 300);
    const uint64_t seven = LoginOk(7452, 7, 0x65, 301);
    const uint64_t shared_six = LoginOk(7453, 6, 0x66, 302);
    const uint64_t shared_seven = LoginOk(7454, 7, 0x66, 302);
    ASSERT_TRUE(six && seven && shared_six && shared_seven) << LastError();
    ASSERT_EQ(api_.QueryAsset(shared_six, 61), 0);
    ASSERT_EQ(api_.QueryAsset(shared_seven, 71), 0);
    ASSERT_EQ(api_.QueryAsset(shared_seven, 99), 0);
    ASSERT_EQ(api_.QueryAsset(shared_six, 99), 0);
    struct Case {
        uint64_t number;
        uint32_t routed_node;
        int request_id;
        uint64_t account;
        uint64_t want;  // session id; 0: none
    } const cases[] = {
        {300, 7, 0, 0, six},   {301, 7, 0, 0, seven},  {300, 0, 0, 0, six},  {301, 6, 0, 9, seven},
        {302, 6, 0, 0, 0},     {302, 7, 0, 0, 0},  // the routed node chooses nothing
        {302, 6, 0, 7454, shared_seven}, {302, 6, 0, 7453, shared_six}, {302, 6, 0, 7999, 0},
        {302, 7, 61, 0, shared_six},     {302, 6, 71, 0, shared_seven},
        {302, 6, 99, 0, 0},  // both asked under 99
        {302, 6, 99, 7453, shared_six},  {303, 6, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.number << " routed to node " << c.routed_node << " request "
                                        << c.request_id << " account " << c.account);
        const tagSessionInfo* info = Found(c.number, c.routed_node, c.request_id, c.account);
        EXPECT_EQ(info ? info->nApiSessionID : 0, c.want);
    }
    // a query whose last answer came no longer counts
    api_.Sessions().EndQuery(shared_six, 61);
    EXPECT_EQ(Found(302, 7, 61), nullptr);
    // one node's logout leaves the other's entry under the shared number
    EXPECT_EQ(api_.Logout(shared_seven), 0);
    ASSERT_NE(Found(302, 7), nullptr);
    EXPECT_EQ(Found(302, 7)->nApiSessionID, shared_six);
    EXPECT_EQ(api_.Logout(shared_six), 0);
    EXPECT_EQ(Found(302, 6), nullptr);
}

TEST_F(OptionSessionTest, AccountTextIsPerThread) {
    const uint64_t a = LoginOk(7501, 6, 0x71, 71);
    const uint64_t b = LoginOk(7502, 6, 0x72, 72);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    const char* mine = api_.GetAccountByOXAID(a << 40 | 1);
    std::string theirs;
    const char* their_ptr = nullptr;
    std::thread([&] {
        their_ptr = api_.GetAccountByOXAID(b << 40 | 1);
        theirs = their_ptr;
    }).join();
    EXPECT_STREQ(mine, "7501") << "another thread's call leaves this thread's text alone";
    EXPECT_EQ(theirs, "7502");
    EXPECT_NE(static_cast<const void*>(mine), static_cast<const void*>(their_ptr));
}

// ---------------------------------------------------------------------------------------
// Push resumption

TEST_F(OptionSessionTest, ResumeTypeTwoSendsNothing) {
    ASSERT_NE(LoginOk(7601, 7, 0x81, 81), 0u);
    const std::size_t before = SentCount();
    EXPECT_EQ(api_.StartSyncPush(), 0);
    EXPECT_EQ(SentCount(), before);
}

TEST_F(OptionSessionTest, SynchronisationThenSubscriptionOnTheGatewayConnection) {
    const uint64_t session = LoginOk(7602, 7, 0x82, 82);
    ASSERT_NE(session, 0u);
    api_.SubscribePublicTopic(0);
    OnSend([this, session](const Sent& s) {
        if (s.msg_id == 0x460) api_.SyncNotify(session, 41);  // the replay ends inside the send
        if (s.msg_id == 0x416) Deliver(0x521, Bytes(28, 0));
        return 0;
    });
    const auto start = Clock::now();
    EXPECT_EQ(api_.StartSyncPush(), 0);
    EXPECT_LT(Clock::now() - start, 250ms);
    EXPECT_EQ(api_.GetStartSeqNo(), 42);

    const auto sync = SentOf(0x460);
    ASSERT_EQ(sync.size(), 1u);
    EXPECT_TRUE(sync[0].gateway);
    ASSERT_EQ(sync[0].body.size(), 37u);
    EXPECT_EQ(Le(sync[0].body, 0, 8), session) << "the API session id, echoed by the answer";
    EXPECT_EQ(Le(sync[0].body, 8, 8), static_cast<uint64_t>(sync[0].request_id));
    EXPECT_EQ(Le(sync[0].body, 16, 8), 0u);
    EXPECT_EQ(sync[0].body[24], '0');
    EXPECT_EQ(Le(sync[0].body, 25, 4), 0u);
    EXPECT_EQ(Le(sync[0].body, 29, 8), 7602u);

    const auto sub = SentOf(0x416);
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_TRUE(sub[0].gateway);
    ASSERT_EQ(sub[0].body.size(), 28u);
    EXPECT_EQ(Le(sub[0].body, 0, 8), 82u) << "the server's session number";
    EXPECT_EQ(Le(sub[0].body, 8, 8), static_cast<uint64_t>(sub[0].request_id));
    EXPECT_EQ(Le(sub[0].body, 16, 4), 42u);
    EXPECT_EQ(Le(sub[0].body, 20, 8), 7602u);
}

TEST_F(OptionSessionTest, ReplayEndOfAnotherSessionIsIgnoredAndTheSubscriptionStillGoes) {
    const uint64_t session = LoginOk(7603, 7, 0x83, 83);
    ASSERT_NE(session, 0u);
    api_.SubscribePublicTopic(1);
    OnSend([this, session](const Sent& s) {
        if (s.msg_id == 0x460) api_.SyncNotify(session + 1, 9);
        if (s.msg_id == 0x416) Deliver(0x521, Bytes(28, 0));
        return 0;
    });
    EXPECT_EQ(api_.StartSyncPush(), 0);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginTimeout) << "the replay timed out";
    EXPECT_EQ(api_.GetStartSeqNo(), 0);
    ASSERT_EQ(SentOf(0x416).size(), 1u);
    EXPECT_EQ(Le(SentOf(0x416)[0].body, 16, 4), 0u);
    api_.SyncNotify(session, 9);  // after the wait: nothing changes
    EXPECT_EQ(api_.GetStartSeqNo(), 0);
}

TEST_F(OptionSessionTest, EveryReplayedPageRestartsTheDeadline) {
    const uint64_t session = LoginOk(7604, 7, 0x84, 84);
    ASSERT_NE(session, 0u);
    api_.SubscribePublicTopic(0);
    OptionTraderImpl::Timeouts t = api_.GetTimeouts();
    t.sync = 500ms;
    api_.SetTimeouts(t);
    std::thread pages;
    OnSend([&, session](const Sent& s) {
        if (s.msg_id == 0x460) {
            pages = std::thread([&, session] {
                // six pages 100 ms apart outlast the 500 ms deadline only if each restarts it
                for (int i = 0; i < 6; ++i) {
                    std::this_thread::sleep_for(100ms);
                    api_.SyncProgress(session);
                }
                api_.SyncNotify(session, 7);
            });
        }
        if (s.msg_id == 0x416) Deliver(0x521, Bytes(28, 0));
        return 0;
    });
    error_.error_id = 0;
    const auto start = Clock::now();
    EXPECT_EQ(api_.StartSyncPush(), 0);
    pages.join();
    EXPECT_GE(Clock::now() - start, 600ms);
    EXPECT_NE(LastError(), OXA::API::kErrLoginTimeout);
    EXPECT_EQ(api_.GetStartSeqNo(), 8);
}

TEST_F(OptionSessionTest, ResumptionFailures) {
    const uint64_t session = LoginOk(7605, 7, 0x85, 85);
    ASSERT_NE(session, 0u);
    api_.SubscribePublicTopic(0);
    // the synchronisation cannot be sent: 6081, and the subscription still goes, unanswered
    OnSend([](const Sent& s) { return s.msg_id == 0x460 ? 1003 : 0; });
    EXPECT_EQ(api_.StartSyncPush(), OXA::API::kErrLoginTimeout);
    EXPECT_EQ(SentOf(0x416).size(), 1u);
    // the subscription cannot be sent: its code, recorded as 210003
    OnSend([this, session](const Sent& s) {
        if (s.msg_id == 0x460) api_.SyncNotify(session, 0);
        return s.msg_id == 0x416 ? 1002 : 0;
    });
    EXPECT_EQ(api_.StartSyncPush(), 1002);
    EXPECT_EQ(LastError(), OXA::API::kErrLoginRefused);
    // a 0x521 before any subscription ends none
    Deliver(0x521, Bytes(28, 0));
    OnSend([this, session](const Sent& s) {
        if (s.msg_id == 0x460) api_.SyncNotify(session, 0);
        return 0;
    });
    EXPECT_EQ(api_.StartSyncPush(), OXA::API::kErrLoginTimeout);
}

// ---------------------------------------------------------------------------------------
// Requests through the gate

TEST_F(OptionSessionTest, RequestsTakeTheirPathAndTheirRequestIds) {
    const uint64_t session = LoginOk(7701, 8, 0x91, 91);
    ASSERT_NE(session, 0u);
    OnSend([](const Sent&) { return 0; });
    OrderInsertInfo order{};
    order.business_type = 10;
    order.side = 1;
    std::strcpy(order.ticker, "10000001");
    const uint64_t id = api_.InsertOrder(&order, session);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(id >> 40, session);
    EXPECT_EQ(api_.QueryAsset(session, -9), 0);
    const auto insert = SentOf(0x402);
    ASSERT_EQ(insert.size(), 1u);
    EXPECT_FALSE(insert[0].gateway);
    EXPECT_EQ(Le(insert[0].body, 16, 8), id);
    EXPECT_EQ(Le(insert[0].body, 0, 8), 91u);
    const auto asset = SentOf(0x40f);
    ASSERT_EQ(asset.size(), 1u);
    EXPECT_TRUE(asset[0].gateway);
    EXPECT_EQ(asset[0].request_id, -9);
    EXPECT_EQ(asset[0].session_id, session);

    // a refused business type records 230113, loses the id it took and releases the order flag
    const std::size_t sent_before_refusals = SentCount();
    order.business_type = 11;
    EXPECT_EQ(api_.InsertOrder(&order, session), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrNotOfferedMargin);
    ExecuteOrderInsertInfo exercise{};
    exercise.business_type = 10;
    EXPECT_EQ(api_.InsertExecuteOrder(&exercise, session), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrNotOfferedMargin);
    EXPECT_EQ(SentCount(), sent_before_refusals);
    order.business_type = 12;
    const uint64_t lock = api_.InsertOrder(&order, session);
    EXPECT_EQ(lock, id + 3) << "each refusal lost one id";
    EXPECT_EQ(SentOf(0x404).size(), 1u);

    // five legs are refused before anything is packed or an id is taken
    OptionCombinedOrderInsertInfo comb{};
    comb.num_legs = 5;
    const std::size_t before = SentCount();
    EXPECT_EQ(api_.InsertOptionCombinedOrder(&comb, session), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrBadParameter);
    EXPECT_EQ(SentCount(), before);
    comb.num_legs = 4;
    EXPECT_EQ(api_.InsertOptionCombinedOrder(&comb, session), lock + 1);

    // a failed send gives 0
    OnSend([](const Sent&) { return 1003; });
    EXPECT_EQ(api_.CancelOrder(id, session), 0u);
    EXPECT_EQ(api_.QueryFund(session, 1), 1003);
}

TEST_F(OptionSessionTest, UnknownSessionSendsNothing) {
    const uint64_t unknown = uint64_t{8} << 16 | 0x9f;
    OrderInsertInfo order{};
    order.business_type = 10;
    FundTransferInfo transfer{};
    EXPECT_EQ(api_.InsertOrder(&order, unknown), 0u);
    EXPECT_EQ(LastError(), OXA::API::kErrSessionInvalid);
    EXPECT_EQ(api_.FundTransfer(&transfer, unknown), 0u);
    EXPECT_EQ(api_.FundTransfer(nullptr, unknown), 0u);
    EXPECT_EQ(api_.QueryOrders(nullptr, unknown, 1), -1);
    EXPECT_EQ(api_.QueryPosition(nullptr, unknown, 1, 0), -1);
    EXPECT_EQ(api_.QueryOptionCombinedStrategyInfo(unknown, 1), -1);
    EXPECT_EQ(SentCount(), 0u);
}

// The operations the option business does not offer.
TEST_F(OptionSessionTest, NotOfferedOperations) {
    using Api = OptionTraderImpl;
    struct Row {
        const char* name;
        std::function<uint64_t(Api&)> call;
        uint64_t result;
    };
    const uint64_t s = uint64_t{8} << 16 | 0x92;
    const uint64_t k = 6077;
    const Row rows[] = {
        {"QueryETFBaseInfo", [=](Api& a) { return uint64_t(a.QueryETFBaseInfo(nullptr, s, 1)); }, k},
        {"QueryETFTickerBasket", [=](Api& a) { return uint64_t(a.QueryETFTickerBasket(nullptr, s, 1)); }, k},
        {"QueryIPOInfoList", [=](Api& a) { return uint64_t(a.QueryIPOInfoList(s, 1)); }, k},
        {"QueryIPOQuotaInfo", [=](Api& a) { return uint64_t(a.QueryIPOQuotaInfo(s, 1)); }, k},
        {"CreditCashRepay", [=](Api& a) { return a.CreditCashRepay(s, 1.0); }, 0},
        {"CreditCashRepaySpecifiedDebt", [=](Api& a) { return a.CreditCashRepaySpecifiedDebt(nullptr, s); }, 0},
        {"Reserved4", [=](Api& a) { return uint64_t(a.Reserved4(1, 2, s)); }, k},
        {"QueryCreditInfo1", [=](Api& a) { return uint64_t(a.QueryCreditInfo1(s, 1)); }, k},
        {"QueryCreditInfo2", [=](Api& a) { return uint64_t(a.QueryCreditInfo2(s, 1)); }, k},
        {"QueryCreditInfo3", [=](Api& a) { return uint64_t(a.QueryCreditInfo3(s, 1)); }, k},
        {"QueryCreditInfo4", [=](Api& a) { return uint64_t(a.QueryCreditInfo4(nullptr, s, 1)); }, k},
        {"QueryCreditInfo5", [=](Api& a) { return uint64_t(a.QueryCreditInfo5(nullptr, s, 1)); }, k},
        {"QueryCreditInfo6", [=](Api& a) { return uint64_t(a.QueryCreditInfo6(s, 1)); }, k},
        {"QueryCreditInfo7", [=](Api& a) { return uint64_t(a.QueryCreditInfo7(nullptr, s, 1)); }, k},
        {"QueryCreditInfo8", [=](Api& a) { return uint64_t(a.QueryCreditInfo8(nullptr, s, 1)); }, k},
        {"Reserved5", [=](Api& a) { return uint64_t(a.Reserved5(nullptr, s, 1)); }, k},
        {"Reserved6", [=](Api& a) { return uint64_t(a.Reserved6(nullptr, s, 1)); }, k},
        {"Reserved7", [=](Api& a) { return uint64_t(a.Reserved7(nullptr, s)); }, k},
        {"Reserved8", [=](Api& a) { return uint64_t(a.Reserved8(nullptr, s, 1)); }, k},
        {"QueryCreditInfo9", [=](Api& a) { return uint64_t(a.QueryCreditInfo9(s, 1)); }, k},
        {"QueryCreditInfo10", [=](Api& a) { return uint64_t(a.QueryCreditInfo10(nullptr, s, 1)); }, k},
        {"Reserved9", [=](Api& a) { return uint64_t(a.Reserved9(nullptr, s, 1)); }, k},
        {"Reserved10", [=](Api& a) { return uint64_t(a.Reserved10(nullptr, s, 1)); }, k},
        {"QueryCreditInfo11", [=](Api& a) { return uint64_t(a.QueryCreditInfo11(nullptr, s, 1)); }, k},
        {"QueryCreditInfo12", [=](Api& a) { return uint64_t(a.QueryCreditInfo12(nullptr, s, 1)); }, k},
        {"QueryCreditInfo13", [=](Api& a) { return uint64_t(a.QueryCreditInfo13(nullptr, s, 1)); }, k},
        {"QueryCreditPledgeStkByPage", [=](Api& a) { return uint64_t(a.QueryCreditPledgeStkByPage(nullptr, s, 1)); },
         k},
        {"QueryCreditTargetStkByPage", [=](Api& a) { return uint64_t(a.QueryCreditTargetStkByPage(nullptr, s, 1)); },
         k},
        {"QueryOtherServerFund", [=](Api& a) { return uint64_t(a.QueryOtherServerFund(nullptr, s, 1)); }, k},
        {"QueryIssueInfoList", [=](Api& a) { return uint64_t(a.QueryIssueInfoList(s, 1)); }, k},
        {"QuerySecurityInfo", [=](Api& a) { return uint64_t(a.QuerySecurityInfo(nullptr, s, 1)); }, k},
        {"CreditRequest", [=](Api& a) { return a.CreditRequest(nullptr, s); }, 0},
        {"QueryCreditInfo14", [=](Api& a) { return uint64_t(a.QueryCreditInfo14(nullptr, s, 1)); }, k},
        {"QueryYesterdayAsset", [=](Api& a) { return uint64_t(a.QueryYesterdayAsset(s, 1)); }, k},
        {"QueryETFByPage", [=](Api& a) { return uint64_t(a.QueryETFByPage(nullptr, s, 1)); }, k},
        {"QuerySecurityByPage", [=](Api& a) { return uint64_t(a.QuerySecurityByPage(nullptr, s, 1)); }, k},
    };
    ASSERT_EQ(std::size(rows), 36u);
    ASSERT_NE(LoginOk(7801, 8, 0x92, 92), 0u);
    const std::size_t before = SentCount();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        error_.error_id = 0;
        error_.error_msg[0] = '\0';
        EXPECT_EQ(row.call(api_), row.result);
        EXPECT_EQ(LastError(), 6077);
        EXPECT_STREQ(error_.error_msg, "暂不支持该项业务");
    }
    EXPECT_EQ(SentCount(), before);
}

}  // namespace
