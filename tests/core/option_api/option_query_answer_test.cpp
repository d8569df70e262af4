// The option query answers through the back-end's receive slot: one table of the self-continuing
// families drives the paging cases (where a query ends, the 999 rule, the follow-up rebuilt from
// the echo, error and empty answers, negative counts, repeated pages, failed follow-ups, the page
// cap), then the paged members, the strategy and asset answers and the row conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/ErrorCodes.h"
#include "api/ErrorMsg.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTestSupport.h"

namespace {

using namespace opt_test;
namespace OPT = OXA::API::OPT;

constexpr uint64_t kAccount = 7101;
constexpr uint32_t kNode = 5;
constexpr uint64_t kFundIndex = 11;
constexpr uint64_t kSessionNo = 0x601;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | kFundIndex;


// An echo field the follow-up carries: n bytes from the answer's offset to the request's, or a
// text of which the request keeps the first chars characters.
struct Copy {
    std::size_t from, to, n;
    std::size_t chars;  // not 0: a text, cut to this many characters
};

struct Family {
    const char* op;
    uint32_t msg_id;
    std::size_t rows_at;
    std::size_t row_size;
    bool rule_999;
    uint32_t follow_msg;
    std::size_t follow_len;
    std::vector<Copy> copies;
};

const std::vector<Family>& Families() {
    static const std::vector<Family> f = {
        {"OnQueryOrder", 0x527, 149, 1089, true, 0x41d, 206,
         {{44, 25, 8, 0}, {52, 41, 4, 0}, {56, 49, 9, 8}, {65, 182, 8, 0}, {73, 190, 8, 0}, {81, 198, 4, 0}}},
        {"OnQueryTrade", 0x528, 145, 979, true, 0x41e, 202,
         {{44, 25, 8, 0}, {52, 41, 4, 0}, {56, 49, 9, 8}, {65, 182, 8, 0}, {73, 190, 8, 0}}},
        {"OnQueryPosition", 0x529, 133, 596, false, 0x41f, 60,
         {{44, 25, 8, 0}, {52, 41, 4, 0}, {56, 45, 9, 8}, {65, 54, 4, 0}}},
        {"OnQueryFundTransfer", 0x526, 52, 33, true, 0x41b, 41, {{36, 25, 8, 0}, {44, 33, 8, 0}}},
        {"OnQueryOptionAuctionInfo", 0x52f, 129, 557, false, 0x426, 64,
         {{44, 25, 8, 0}, {52, 41, 4, 0}, {56, 45, 9, 8}}},
        {"OnQueryOptionCombinedOrders", 0x522, 146, 245, false, 0x417, 79,
         {{36, 25, 8, 0}, {44, 33, 4, 0}, {48, 37, 17, 16}, {65, 54, 8, 0}, {73, 62, 8, 0}, {81, 70, 1, 0}}},
        {"OnQueryOptionCombinedTrades", 0x523, 145, 229, false, 0x418, 78,
         {{36, 25, 8, 0}, {44, 33, 4, 0}, {48, 37, 17, 16}, {65, 54, 8, 0}, {73, 62, 8, 0}}},
        {"OnQueryOptionCombinedPosition", 0x52c, 141, 322, false, 0x424, 172,
         {{44, 25, 8, 0}, {52, 41, 8, 0}, {60, 155, 17, 16}}},
        {"OnQueryOptionCombinedExecPosition", 0x525, 66, 238, true, 0x41a, 55,
         {{36, 25, 8, 0}, {44, 33, 4, 0}, {48, 37, 9, 8}, {57, 46, 9, 8}}},
    };
    return f;
}

struct AnswerSpec {
    uint32_t total = 0;
    std::vector<int32_t> positions;  // one row each
    bool is_last = false;
    int32_t error = 0;
    std::optional<int16_t> record;  // unset: positions.size()
    std::optional<uint32_t> row_size;
    uint64_t request_id = 0x21;
};
AnswerSpec A(uint32_t total, std::vector<int32_t> positions, bool is_last = false, int32_t error = 0,
             std::optional<int16_t> record = {}, std::optional<uint32_t> row_size = {}) {
    AnswerSpec a;
    a.total = total;
    a.positions = std::move(positions);
    a.is_last = is_last;
    a.error = error;
    a.record = record;
    a.row_size = row_size;
    return a;
}

// The answer of a family: head, an echo of recognisable bytes and full-width texts, rows.
Bytes MakeAnswer(const Family& f, const AnswerSpec& a, std::size_t rows_at, std::size_t default_row) {
    const std::size_t row = a.row_size ? *a.row_size : default_row;
    Body b(rows_at + a.positions.size() * row, 0);
    for (std::size_t i = 31; i < rows_at; ++i) b.b[i] = static_cast<uint8_t>(0x41 + i % 26);
    for (const Copy& c : f.copies)
        if (c.chars) b.text(c.from, std::string("ABCDEFGHIJKLMNOPQRSTUVWXYZ").substr(0, c.n));
    b.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, a.request_id).put<uint8_t>(16, a.is_last ? 1 : 0);
    b.put<int32_t>(17, a.error).put<int16_t>(21, a.record ? *a.record : static_cast<int16_t>(a.positions.size()));
    b.put<uint32_t>(23, a.total).put<uint32_t>(27, static_cast<uint32_t>(row));
    for (std::size_t i = 0; i < a.positions.size(); ++i) b.put<int32_t>(rows_at + i * row, a.positions[i]);
    return b.b;
}

class OptionQueryAnswerTest : public OptionDriverFixture {
public:
    void SetUp() override {
        OptionDriverFixture::SetUp();
        ASSERT_EQ(LogIn(kAccount, kNode, kFundIndex, kSessionNo), kSession);
        sent_.clear();
    }
    void TearDown() override {
        OPT::SetContinuePageLimit(OXA::API::PageContinuation::kDefaultPageLimit);
        OptionDriverFixture::TearDown();
    }
    void Feed(const Family& f, const AnswerSpec& a) { Deliver(f.msg_id, MakeAnswer(f, a, f.rows_at, f.row_size), kNode); }
    // Plays steps of two order queries under one request id, from a clean start: "A" and "B" send
    // a query, "A2" delivers the second page of six rows (two a page), "E" an error answer.
    void Play(const std::vector<std::string>& steps) {
        const Family& f = Families()[0];
        OPT::Continuations().Clear();
        spi_.Clear();
        sent_.clear();
        for (const std::string& st : steps) {
            if (st == "E") {
                Feed(f, A(6, {}, true, 230010));
            } else if (st.size() == 1) {
                OrderQueryParam q{};
                ASSERT_EQ(api_->QueryOrders(&q, kSession, 0x21), 0);
            } else {
                const int32_t page = st[1] - '0';
                Feed(f, A(6, {2 * page - 1, 2 * page}));
            }
        }
    }
    std::vector<Call> CallsOf(const std::string& op) {
        std::vector<Call> out;
        for (const Call& c : spi_.calls)
            if (c.op == op) out.push_back(c);
        return out;
    }
};

TEST_F(OptionQueryAnswerTest, WhereAQueryEnds) {
    for (const Family& f : Families()) {
        SCOPED_TRACE(f.op);
        struct Case {
            const char* name;
            AnswerSpec a;
            std::size_t want_calls;
            int want_last_at;  // index of the call marked last; -1 none
            bool want_follow_up;
        };
        const Case cases[] = {
            {"total reached mid-page: later rows are not passed", A(2, {1, 2, 3}), 2, 1, false},
            {"total reached on the last row", A(3, {1, 2, 3}), 3, 2, false},
            {"short of the total: the next page", A(50, {1, 2, 3}), 3, -1, true},
            {"position 1000 of 5000", A(5000, {999, 1000}), 2, f.rule_999 ? 1 : -1, !f.rule_999},
            {"a page cut short that still reaches the total", A(2, {1, 2}, false, 0, 4), 2, 1, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            spi_.Clear();
            sent_.clear();
            OPT::Continuations().End({kSession, f.msg_id, c.a.request_id});
            Feed(f, c.a);
            const auto calls = CallsOf(f.op);
            ASSERT_EQ(calls.size(), c.want_calls);
            for (std::size_t i = 0; i < calls.size(); ++i) {
                EXPECT_EQ(calls[i].last, static_cast<int>(i) == c.want_last_at) << i;
                EXPECT_FALSE(calls[i].null_record);
                EXPECT_EQ(calls[i].request_id, 0x21);
                EXPECT_EQ(calls[i].session, kSession);
                EXPECT_EQ(calls[i].error_id, 0);
            }
            EXPECT_EQ(SentOf(f.follow_msg).size(), c.want_follow_up ? 1u : 0u);
        }
    }
}

TEST_F(OptionQueryAnswerTest, FollowUpIsRebuiltFromTheEcho) {
    for (const Family& f : Families()) {
        SCOPED_TRACE(f.op);
        sent_.clear();
        const AnswerSpec a = A(50, {1, 2, 17});
        const Bytes answer = MakeAnswer(f, a, f.rows_at, f.row_size);
        Deliver(f.msg_id, answer, kNode);
        const auto sent = SentOf(f.follow_msg);
        ASSERT_EQ(sent.size(), 1u);
        const Bytes& q = sent[0].body;
        ASSERT_EQ(q.size(), f.follow_len);
        EXPECT_TRUE(sent[0].gateway);
        EXPECT_EQ(sent[0].session_id, kSession);
        EXPECT_EQ(sent[0].request_id, 0x21);
        std::vector<bool> named(q.size(), false);
        auto name = [&](std::size_t off, std::size_t n) {
            for (std::size_t i = off; i < off + n; ++i) named[i] = true;
        };
        EXPECT_EQ(Le(q, 0, 8), kSessionNo);
        EXPECT_EQ(Le(q, 8, 8), a.request_id);
        EXPECT_EQ(Le(q, 16, 4), 17u) << "the last row's position";
        name(0, 20);
        for (const Copy& c : f.copies) {
            if (c.chars) {
                EXPECT_EQ(std::string(q.begin() + c.to, q.begin() + c.to + c.chars),
                          std::string(answer.begin() + c.from, answer.begin() + c.from + c.chars))
                    << c.from;
                EXPECT_EQ(q[c.to + c.chars], 0) << "cut to " << c.chars;
                name(c.to, c.chars + 1);
            } else {
                EXPECT_EQ(Bytes(q.begin() + c.to, q.begin() + c.to + c.n),
                          Bytes(answer.begin() + c.from, answer.begin() + c.from + c.n))
                    << c.from << " -> " << c.to;
                name(c.to, c.n);
            }
        }
        for (std::size_t i = 0; i < q.size(); ++i) {
            if (!named[i]) {
                EXPECT_EQ(q[i], 0) << "byte " << i;
            }
        }
        OPT::Continuations().End({kSession, f.msg_id, a.request_id});
    }
}

TEST_F(OptionQueryAnswerTest, EveryEndWithoutALastRowIsOneNullCall) {
    for (const Family& f : Families()) {
        SCOPED_TRACE(f.op);
        // an error from the wire comes without a text; the library's own codes with theirs
        struct Case {
            const char* name;
            AnswerSpec a;
            int send_result;
            std::size_t want_rows;
            int32_t want_error;
            bool want_text;
        };
        const int32_t early = OXA::API::kErrQueryEndedEarly;
        const Case cases[] = {
            {"error answer", A(9, {1, 2}, false, 5), 0, 0, 5, false},
            {"no rows", A(0, {}), 0, 0, 0, false},
            {"negative count", A(9, {1, 2}, false, 0, -3), 0, 0, early, true},
            {"row size below what a row needs", A(9, {1, 2}, false, 0, {}, 8), 0, 0, early, true},
            {"a page cut short before the total", A(50, {1, 2}, false, 0, 4), 0, 2, early, true},
            {"follow-up not sent", A(9, {1, 2}), 1003, 2, 1003, true},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            spi_.Clear();
            sent_.clear();
            OPT::Continuations().End({kSession, f.msg_id, c.a.request_id});
            OnSend([&c](const Sent&) { return c.send_result; });
            Feed(f, c.a);
            OnSend(nullptr);
            const auto calls = CallsOf(f.op);
            ASSERT_EQ(calls.size(), c.want_rows + 1);
            for (std::size_t i = 0; i < c.want_rows; ++i) EXPECT_FALSE(calls[i].last);
            const Call& end = calls.back();
            EXPECT_TRUE(end.null_record);
            EXPECT_TRUE(end.last);
            EXPECT_EQ(end.error_id, c.want_error);
            EXPECT_EQ(end.error_msg, c.want_text ? OXA::API::GetErrorMsg(c.want_error) : "");
        }
        EXPECT_EQ(OPT::Continuations().Tracked(), 0u);
    }
}

TEST_F(OptionQueryAnswerTest, RepeatedPageAndPageCapEndTheQuery) {
    for (const Family& f : Families()) {
        SCOPED_TRACE(f.op);
        spi_.Clear();
        sent_.clear();
        const AnswerSpec a = A(50, {1, 2});
        Feed(f, a);
        Feed(f, a);  // the server ignored the position
        auto calls = CallsOf(f.op);
        ASSERT_EQ(calls.size(), 5u);
        EXPECT_EQ(spi_.LastCount(), 1u);
        EXPECT_TRUE(calls.back().null_record);
        EXPECT_EQ(calls.back().error_id, OXA::API::kErrQueryEndedEarly) << "ended early, and says so";
        EXPECT_EQ(SentOf(f.follow_msg).size(), 1u);

        // advancing pages, two at the most
        OPT::SetContinuePageLimit(2);
        spi_.Clear();
        sent_.clear();
        Feed(f, A(50, {1, 2}));
        Feed(f, A(50, {3, 4}));
        Feed(f, A(50, {5, 6}));
        calls = CallsOf(f.op);
        ASSERT_EQ(calls.size(), 7u);
        EXPECT_TRUE(calls.back().null_record && calls.back().last);
        EXPECT_EQ(calls.back().error_id, OXA::API::kErrQueryEndedEarly);
        EXPECT_EQ(SentOf(f.follow_msg).size(), 2u);
        OPT::SetContinuePageLimit(OXA::API::PageContinuation::kDefaultPageLimit);
    }
}

TEST_F(OptionQueryAnswerTest, AQueryAskedAgainStartsItsPagingAfresh) {
    const Family& f = Families()[0];
    Feed(f, A(50, {1, 2}));
    ASSERT_EQ(SentOf(0x41d).size(), 1u);
    // the application asks again under the same request id: its first page is not a repeat
    OrderQueryParam q{};
    ASSERT_EQ(api_->QueryOrders(&q, kSession, 0x21), 0);
    spi_.Clear();
    Feed(f, A(50, {1, 2}));
    EXPECT_EQ(SentOf(0x41d).size(), 3u) << "the query and its follow-up";
    EXPECT_EQ(spi_.LastCount(), 0u);
}

// A retry under the request id of a query still paging: each page goes to the query it follows,
// whatever the order the pages come in, and both run to their last row (steps as Play takes them).
TEST_F(OptionQueryAnswerTest, TwoOverlappingQueriesUnderOneRequestIdBothRunToTheirEnd) {
    const Family& f = Families()[0];
    const std::vector<std::vector<std::string>> orders = {
        {"A", "A1", "A2", "B", "B1", "A3", "B2", "B3"},  // the first's next page before the retry's first
        {"A", "A1", "B", "A2", "B1", "A3", "B2", "B3"},
        {"A", "A1", "B", "B1", "A2", "B2", "A3", "B3"},
        {"A", "A1", "B", "B1", "B2", "B3", "A2", "A3"},
        {"A", "A1", "B", "A2", "A3", "B1", "B2", "B3"},
        {"A", "B", "A1", "B1", "A2", "B2", "A3", "B3"},  // the retry before any page
    };
    for (const auto& steps : orders) {
        std::string trace;
        for (const std::string& st : steps) trace += st + " ";
        SCOPED_TRACE(trace);
        Play(steps);
        const auto calls = CallsOf(f.op);
        ASSERT_EQ(calls.size(), 12u) << "every row of both, no early end";
        std::size_t lasts = 0;
        for (const Call& c : calls) {
            EXPECT_FALSE(c.null_record);
            EXPECT_EQ(c.error_id, 0);
            lasts += c.last;
        }
        EXPECT_EQ(lasts, 2u) << "each query ends once";
        std::vector<uint64_t> asked;
        for (const Sent& q : SentOf(0x41d)) asked.push_back(Le(q.body, 16, 4));
        EXPECT_EQ(asked.size(), 6u) << "two queries and two follow-ups each";
        EXPECT_EQ(std::count(asked.begin(), asked.end(), 2u), 2);
        EXPECT_EQ(std::count(asked.begin(), asked.end(), 4u), 2);
        EXPECT_EQ(OPT::Continuations().Tracked(), 0u);
    }
}

// An error answer without rows between two queries under one request id ends the query whose
// last ask is the oldest (the answers come in the order of the asks), and the other runs to its
// last row. "E" is the error answer to A's next page.
TEST_F(OptionQueryAnswerTest, AnErrorPageEndsTheQueryWhoseAskItFollows) {
    const Family& f = Families()[0];
    for (const std::vector<std::string>& steps : {
             std::vector<std::string>{"A", "A1", "B", "E", "B1", "B2", "B3"},  // before the retry's first page
             std::vector<std::string>{"A", "A1", "B", "B1", "E", "B2", "B3"},  // after it: the retry asked later
         }) {
        SCOPED_TRACE(steps[3]);
        Play(steps);
        const auto calls = CallsOf(f.op);
        ASSERT_EQ(calls.size(), 9u) << "A's two rows, the error, B's six rows";
        std::size_t errors = 0, rows = 0, lasts = 0;
        for (const Call& c : calls) {
            errors += c.error_id == 230010 && c.null_record && c.last;
            rows += !c.null_record;
            lasts += c.last;
        }
        EXPECT_EQ(errors, 1u);
        EXPECT_EQ(rows, 8u);
        EXPECT_EQ(lasts, 2u) << "each query ends once";
        EXPECT_TRUE(calls.back().last) << "B's last row";
        EXPECT_EQ(OPT::Continuations().Tracked(), 0u);
    }
}

TEST_F(OptionQueryAnswerTest, AQueryWhoseSendFailsLeavesNoPagingBehind) {
    OnSend([](const Sent&) { return 1003; });
    OrderQueryParam q{};
    EXPECT_EQ(api_->QueryOrders(&q, kSession, 0x24), 1003);
    OnSend(nullptr);
    EXPECT_EQ(OPT::Continuations().Tracked(), 0u);
}

TEST_F(OptionQueryAnswerTest, UnknownSessionMakesNoCall) {
    for (const Family& f : Families()) {
        spi_.Clear();
        Bytes b = MakeAnswer(f, A(1, {1}), f.rows_at, f.row_size);
        b[0] ^= 0x40;  // another session number
        Deliver(f.msg_id, b, kNode);
        EXPECT_EQ(spi_.Size(), 0u) << f.op;
        // the router names another node (the connection's last login): the number still finds it
        Deliver(f.msg_id, MakeAnswer(f, A(1, {1}), f.rows_at, f.row_size), kNode + 1);
        EXPECT_EQ(spi_.Size(), 1u) << f.op;
    }
}

TEST_F(OptionQueryAnswerTest, PagedMembersNeverAsk) {
    struct Paged {
        const char* op;
        uint32_t msg_id;
        std::size_t rows_at, row_size;
    };
    const Paged paged[] = {{"OnQueryOrderByPage", 0x557, 149, 1089},
                           {"OnQueryTradeByPage", 0x558, 145, 979},
                           {"OnQueryPositionByPage", 0x55a, 133, 596}};
    for (const Paged& p : paged) {
        SCOPED_TRACE(p.op);
        const Family f{p.op, p.msg_id, p.rows_at, p.row_size, false, 0, 0, {}};
        for (bool is_last : {false, true}) {
            spi_.Clear();
            sent_.clear();
            Bytes b = MakeAnswer(f, A(900, {4, 5, 6}, is_last), p.rows_at, p.row_size);
            const uint8_t count[4] = {0x32, 0, 0, 0};  // the count asked for, at 31
            std::memcpy(&b[31], count, sizeof count);
            Deliver(p.msg_id, b, kNode);
            ASSERT_EQ(spi_.Size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                const Call& c = spi_.calls[i];
                EXPECT_EQ(c.index, static_cast<int64_t>(i + 1));
                EXPECT_EQ(c.reference, static_cast<int64_t>(i + 4));
                EXPECT_EQ(c.req_count, 0x32);
                EXPECT_EQ(c.last, is_last && i == 2);
            }
            EXPECT_EQ(SentCount(), 0u);
        }
        spi_.Clear();
        Deliver(p.msg_id, MakeAnswer(f, A(0, {}, false, 7), p.rows_at, p.row_size), kNode);
        ASSERT_EQ(spi_.Size(), 1u);
        EXPECT_TRUE(spi_.calls[0].null_record);
        EXPECT_TRUE(spi_.calls[0].last);
        EXPECT_EQ(V(spi_.calls[0].index), 0);
    }
}

TEST_F(OptionQueryAnswerTest, StrategyAnswerEndsWithItsOwnFlag) {
    const Family f{"OnQueryOptionCombinedStrategyInfo", 0x524, 36, 360, false, 0, 0, {}};
    Feed(f, A(0, {0, 0}, true));
    ASSERT_EQ(spi_.Size(), 2u);
    EXPECT_FALSE(spi_.calls[0].last);
    EXPECT_TRUE(spi_.calls[1].last);
    spi_.Clear();
    Feed(f, A(0, {0, 0}, false));
    ASSERT_EQ(spi_.Size(), 2u);
    EXPECT_EQ(spi_.LastCount(), 0u) << "more answers follow";
    EXPECT_EQ(SentCount(), 0u);
}

TEST_F(OptionQueryAnswerTest, AssetAndFundAreCopiedOutOfTheMessage) {
    Body b(35 + 412, 0);
    b.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 0x22).put<uint8_t>(16, 1).put<int16_t>(21, 1);
    b.put<double>(35 + 0, 1000.5).put<double>(35 + 8, 700.25).put<int32_t>(35 + 64, 3).put<double>(35 + 156, 9.5);
    for (std::size_t n : {b.size(), b.size() - 1}) {
        spi_.Clear();
        std::unique_ptr<char[]> exact(new char[n]);
        std::memcpy(exact.get(), b.b.data(), n);
        api_->OnRecv(0, 0x519, exact.get(), static_cast<int>(n), 0, 0, 0, 0, kNode);
        api_->OnRecv(0, 0x56c, exact.get(), static_cast<int>(n), 0, 0, 0, 0, kNode);
        ASSERT_EQ(spi_.Size(), 2u);
        const bool whole = n == b.size();
        EXPECT_EQ(V(spi_.calls[0].null_record), !whole) << n;
        EXPECT_EQ(V(spi_.calls[1].null_record), !whole) << n;
        EXPECT_TRUE(spi_.calls[0].last);
        if (!whole) continue;
        EXPECT_DOUBLE_EQ(V(spi_.assets[0].total_asset), 1000.5);
        EXPECT_DOUBLE_EQ(V(spi_.funds[0].buying_power), 700.25);
        EXPECT_EQ(V(spi_.funds[0].account_type), 3);
        EXPECT_DOUBLE_EQ(V(spi_.funds[0].preferred_amount), 9.5);
    }
}

// ---- row conversions ---------------------------------------------------------------------

Bytes OneRow(uint32_t msg_id, std::size_t rows_at, const Body& row, uint32_t total = 1, int32_t position = 1) {
    Body b(rows_at + row.size(), 0);
    b.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 0x23).put<uint8_t>(16, 1).put<int16_t>(21, 1);
    b.put<uint32_t>(23, total).put<uint32_t>(27, static_cast<uint32_t>(row.size()));
    std::memcpy(b.b.data() + rows_at, row.b.data(), row.size());
    b.put<int32_t>(rows_at, position);
    (void)msg_id;
    return b.b;
}

TEST_F(OptionQueryAnswerTest, OrderRows) {
    const uint64_t id = kSession << 40 | uint64_t{6} << 32 | 5;
    const uint64_t cancel = kSession << 40 | uint64_t{9} << 32 | 6;
    struct Case {
        int32_t business, price_code;
        uint8_t want_side, want_effect, want_business, want_client;
        int32_t want_price_type;
        const char* want_ticker;
    };
    const Case cases[] = {
        {400, 130, 1, 1, 10, 6, 1, "10004321"},
        {405, 132, 11, 2, 10, 6, 3, "10004321"},
        {429, 121, 50, 12, 15, 6, 4, "1000000110000002"},  // two securities
        {406, 101, 50, 12, 11, 9, 11, "10004321"},         // a cancel order: the client of the cancel
        {436, 126, 50, 12, 13, 6, 11, "10004321"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.business);
        spi_.Clear();
        Body r(1089, 0);
        r.put<int64_t>(39, 12345678901ll).ch(47, '8').put<int32_t>(67, 2).put<int32_t>(139, c.business);
        r.put<int32_t>(143, c.price_code).text(151, "10004321").text(499, "10000001").text(516, "10000002");
        r.put<double>(568, 0.3).put<int64_t>(576, 10).put<int64_t>(616, 20261215093000000ll);
        r.put<int64_t>(624, 1).put<int64_t>(632, 7).put<double>(640, 2.1).put<int64_t>(1037, 20261215093001000ll);
        r.put<int64_t>(1045, 0).put<int32_t>(1053, 2).put<uint64_t>(1057, 0x900000051ull);
        r.put<uint64_t>(1065, id).put<uint64_t>(1073, 0x52).put<uint64_t>(1081, cancel);
        Deliver(0x527, OneRow(0x527, 149, r), kNode);
        Deliver(0x557, OneRow(0x557, 149, r), kNode);
        ASSERT_EQ(spi_.orders.size(), 2u);
        for (const OXAOrderInfo& o : spi_.orders) {
            EXPECT_EQ(std::string(o.ticker, strnlen(o.ticker, 16)), c.want_ticker);
            EXPECT_EQ(V(o.side), c.want_side);
            EXPECT_EQ(V(o.position_effect), c.want_effect);
            EXPECT_EQ(V(o.business_type), c.want_business);
            EXPECT_EQ(V(o.client_id), c.want_client);
            EXPECT_EQ(V(o.price_type), c.want_price_type);
            EXPECT_EQ(V(o.order_oxa_id), id);
            EXPECT_EQ(V(o.order_client_id), 0x51u);
            EXPECT_EQ(V(o.order_cancel_oxa_id), cancel);
            EXPECT_STREQ(o.order_local_id, "1234567890");
            EXPECT_EQ(V(o.order_status), 1);
            EXPECT_EQ(V(o.insert_time), 20261215093000000ll);
            EXPECT_EQ(V(o.update_time), 20261215093001000ll);
            EXPECT_EQ(V(o.qty_traded), 7);
        }
        EXPECT_EQ(V(spi_.orders[0].qty_left), 3) << "quantity - traded";
        EXPECT_EQ(V(spi_.orders[1].qty_left), 1) << "the paged answer's own";
    }
}

TEST_F(OptionQueryAnswerTest, TradePositionAndTransferRows) {
    Body t(979, 0);
    t.put<int64_t>(39, 123456789012345678ll).put<int32_t>(65, 1).text(69, "PBU9999").put<int32_t>(137, 403);
    t.put<int32_t>(141, 131).text(149, "1000432112345678").text(866, "EXEC0000000000001").put<double>(883, 0.4);
    t.put<int64_t>(891, 3).put<double>(899, 1.2).put<int64_t>(947, 20261215100000000ll).put<uint64_t>(955, 44);
    t.put<uint64_t>(963, 0x61).put<uint64_t>(971, kSession << 40 | uint64_t{6} << 32 | 8);
    Deliver(0x528, OneRow(0x528, 145, t), kNode);
    ASSERT_EQ(spi_.trades.size(), 1u);
    const OXATradeReport& tr = spi_.trades[0];
    EXPECT_STREQ(tr.ticker, "100043211234567") << "at most 15 characters";
    EXPECT_EQ(V(tr.side), 1);
    EXPECT_EQ(V(tr.position_effect), 2);
    EXPECT_EQ(V(tr.business_type), 10);
    EXPECT_EQ(V(tr.price_type), 8);
    EXPECT_STREQ(tr.exec_id, "EXEC0000000000001");
    EXPECT_EQ(std::string(tr.order_exch_id, 17), "12345678901234567");
    EXPECT_STREQ(tr.branch_pbu, "PBU999");
    EXPECT_EQ(V(tr.trade_time), 20261215100000000ll);

    struct Dir {
        char c;
        int32_t want;
        int64_t want_exec;
    };
    for (const Dir& d : {Dir{'L', 1, 300}, Dir{'S', 2, 0}, Dir{'C', 3, 0}, Dir{'M', 0, 0}, Dir{'a', 0, 0}}) {
        spi_.Clear();
        Body p(596, 0);
        p.put<int32_t>(22, 2).text(95, "10004321").text(153, "50ETF购3月3000").ch(410, d.c).put<int64_t>(412, 5);
        p.put<int64_t>(420, 400).put<int64_t>(428, 300).put<double>(508, 0.1).put<double>(588, -2.5);
        Deliver(0x529, OneRow(0x529, 133, p), kNode);
        ASSERT_EQ(spi_.positions.size(), 1u);
        const OXAPositionInfo& ps = spi_.positions[0];
        EXPECT_EQ(V(ps.position_direction), d.want) << d.c;
        EXPECT_EQ(V(ps.executable_option), d.want_exec) << d.c;
        EXPECT_STREQ(ps.ticker, "10004321");
        EXPECT_STREQ(ps.ticker_name, "50ETF购3月3000");
        EXPECT_EQ(V(ps.sellable_qty), 300);
        EXPECT_DOUBLE_EQ(V(ps.unrealized_pnl), -2.5);
    }

    struct Status {
        int32_t wire, want;
    };
    for (const Status& s : {Status{48, 0}, Status{49, 1}, Status{50, 2}, Status{2, 4}}) {
        spi_.Clear();
        Body r(33, 0);
        r.put<uint64_t>(4, 0x77).ch(12, '2').put<double>(13, 50.5).put<int32_t>(21, s.wire).put<uint64_t>(25, 99);
        Deliver(0x526, OneRow(0x526, 52, r), kNode);
        ASSERT_EQ(spi_.transfers.size(), 1u);
        EXPECT_EQ(V(spi_.transfers[0].oper_status), s.want) << s.wire;
        EXPECT_EQ(V(spi_.transfers[0].transfer_type), 2);
        EXPECT_EQ(V(spi_.transfers[0].transfer_time), 99u);
    }
}

TEST_F(OptionQueryAnswerTest, AuctionRow) {
    Body r(557, 0);
    r.text(25, "10004321").put<int32_t>(34, 1).text(38, "50ETF购12月3000").text(294, "510050C2612M03000");
    r.text(335, "510050").text(342, " 20260101").text(351, "202612289");  // a text of the full width
    r.ch(360, 'P').text(361, "-15").ch(370, 'A').text(371, "x").text(380, "20261228");
    r.put<double>(389, 3.0).put<int64_t>(405, 10000).put<int64_t>(445, 1).put<int64_t>(453, 50);
    r.put<int64_t>(461, 60).put<int64_t>(469, 2).put<int64_t>(477, 30).put<int64_t>(485, 40);
    r.put<double>(509, 0.0001).put<double>(549, 0.07);
    Deliver(0x52f, OneRow(0x52f, 129, r), kNode);
    ASSERT_EQ(spi_.auctions.size(), 1u);
    const OXAOptionAuctionInfo& a = spi_.auctions[0];
    EXPECT_STREQ(a.ticker, "10004321");
    EXPECT_EQ(V(a.security_id_source), 1);
    EXPECT_EQ(V(a.underlying_security_id_source), 1);
    EXPECT_STREQ(a.contract_id, "510050C2612M03000");
    EXPECT_STREQ(a.underlying_security_id, "510050");
    EXPECT_EQ(V(a.list_date), 20260101) << "leading blank skipped, no digit read past the field";
    EXPECT_EQ(V(a.last_trade_date), 202612289);
    EXPECT_EQ(V(a.delivery_day), -15);
    EXPECT_EQ(V(a.exercise_begin_date), 0) << "no digits";
    EXPECT_EQ(V(a.exercise_end_date), 20261228);
    EXPECT_EQ(V(a.call_or_put), 2);
    EXPECT_EQ(V(a.exercise_type), 2);
    EXPECT_EQ(V(a.ticker_type), 4);
    EXPECT_EQ(V(a.lmt_buy_min_qty), 1);
    EXPECT_EQ(V(a.lmt_sell_min_qty), 1);
    EXPECT_EQ(V(a.lmt_buy_max_qty), 50);
    EXPECT_EQ(V(a.lmt_sell_max_qty), 60);
    EXPECT_EQ(V(a.mkt_buy_min_qty), 2);
    EXPECT_EQ(V(a.mkt_sell_min_qty), 2);
    EXPECT_EQ(V(a.mkt_sell_max_qty), 40);
    EXPECT_DOUBLE_EQ(V(a.margin_ratio_param2), 0.07);
}

Body CombLegsRow(std::size_t size, std::size_t legs_at, const int32_t (&qty)[4]) {
    Body r(size, 0);
    const char* sides = "LSSL";
    const char* covered = " 1  ";
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = legs_at + 24 * i;
        r.text(at, "1000432" + std::to_string(i)).ch(at + 17, i % 2 ? 'P' : 'C').ch(at + 18, sides[i]);
        r.ch(at + 19, covered[i]).put<int32_t>(at + 20, qty[i]);
    }
    return r;
}

TEST_F(OptionQueryAnswerTest, CombinationOrderAndTradeRows) {
    struct Case {
        int32_t business;
        char flag;
        uint8_t want_side;
    };
    for (const Case& c : {Case{436, '1', 33}, Case{436, '0', 32}, Case{435, '1', 31}, Case{400, '1', 50}}) {
        spi_.Clear();
        Body r = CombLegsRow(245, 148, {5, 5, 0, 0});
        r.put<uint64_t>(4, 0x91).put<uint64_t>(12, 0x800000092ull).put<int32_t>(36, 1).put<int64_t>(40, 10);
        r.put<int32_t>(48, c.business).put<int64_t>(52, 4).ch(60, 'Y').put<int64_t>(61, 2).put<int64_t>(69, 11);
        r.put<int64_t>(101, -7).ch(109, '2').put<int32_t>(110, 2).text(114, "CNSJC").text(131, "C0001");
        r.ch(244, c.flag);
        Deliver(0x522, OneRow(0x522, 146, r), kNode);
        ASSERT_EQ(spi_.comb_orders.size(), 1u);
        const OXAOptCombOrderInfo& o = spi_.comb_orders[0];
        EXPECT_EQ(V(o.side), c.want_side) << c.business << c.flag;
        EXPECT_EQ(V(o.num_legs), 2) << "legs with a quantity";
        EXPECT_STREQ(o.legs[2].leg_security_id, "10004322") << "all four legs copied";
        EXPECT_EQ(V(o.legs[1].leg_side), 3);
        EXPECT_EQ(V(o.legs[1].leg_covered), 1);
        EXPECT_EQ(V(o.legs[0].leg_cntr_type), 1);
        EXPECT_EQ(V(o.qty_left), 2) << "'Y': the row's own";
        EXPECT_EQ(V(o.order_client_id), 0x92u);
        EXPECT_STREQ(o.order_local_id, "-7");
        EXPECT_EQ(o.order_type, '3');
    }

    spi_.Clear();
    Body r = CombLegsRow(245, 148, {1, 0, 0, 0});
    r.put<int64_t>(40, 10).put<int64_t>(52, 4).ch(60, 'N').put<int64_t>(61, 2);
    Deliver(0x522, OneRow(0x522, 146, r), kNode);
    ASSERT_EQ(spi_.comb_orders.size(), 1u);
    EXPECT_EQ(V(spi_.comb_orders[0].qty_left), 6);

    spi_.Clear();
    Body t = CombLegsRow(229, 108, {3, 3, 3, 3});
    t.put<uint64_t>(12, 9876).put<int32_t>(20, 2).text(24, "EXEC0000000000009").put<int64_t>(41, 3);
    t.ch(73, 'C').text(74, "KS").text(91, "C0002").text(204, "PBU12345").put<uint64_t>(212, 0xA1);
    t.put<uint64_t>(220, 0xA2).ch(228, '1');
    Deliver(0x523, OneRow(0x523, 145, t), kNode);
    ASSERT_EQ(spi_.comb_trades.size(), 1u);
    const OXAOptCombTradeReport& tr = spi_.comb_trades[0];
    EXPECT_EQ(V(tr.side), 33);
    EXPECT_EQ(V(tr.num_legs), 4);
    EXPECT_STREQ(tr.order_exch_id, "9876");
    EXPECT_STREQ(tr.branch_pbu, "PBU123");
    EXPECT_EQ(V(tr.order_oxa_id), 0xA2u);
}

TEST_F(OptionQueryAnswerTest, CombinationPositionStrategyAndExercisePositionRows) {
    struct Legs {
        int16_t wire;
        int32_t want;
    };
    // the combination may have up to the record's four legs, of which the row carries two
    for (const Legs& legs : {Legs{2, 2}, Legs{3, 3}, Legs{4, 4}, Legs{5, 4}, Legs{-1, 0}}) {
        SCOPED_TRACE(legs.wire);
        spi_.Clear();
        Body r(322, 0);
        r.put<int32_t>(22, 1).text(95, "C0000000000000001").text(112, "CNSJC").text(129, "认购牛市价差");
        r.put<int64_t>(170, 1).put<int64_t>(178, 3).put<int64_t>(186, 2).put<int16_t>(266, legs.wire);
        r.text(268, "10000001").ch(268 + 17, 'C').ch(268 + 18, 'C').put<int64_t>(268 + 19, 0x100000004ll);
        r.text(295, "10000002").ch(295 + 17, 'P').ch(295 + 18, 'L');
        Deliver(0x52c, OneRow(0x52c, 141, r), kNode);
        ASSERT_EQ(spi_.comb_positions.size(), 1u);
        const OXAOptCombPositionInfo& p = spi_.comb_positions[0];
        EXPECT_EQ(V(p.comb_info.num_legs), legs.want);
        EXPECT_EQ(p.comb_info.legs[2].leg_security_id[0], '\0') << "legs 3 and 4 are not on the row";
        EXPECT_EQ(V(p.comb_info.legs[0].leg_covered), 1);
        EXPECT_EQ(V(p.comb_info.legs[0].leg_side), 2);
        EXPECT_EQ(V(p.comb_info.legs[0].leg_qty), 4);
        EXPECT_EQ(V(p.comb_info.legs[1].leg_side), 1);
        EXPECT_EQ(V(p.comb_info.legs[1].leg_cntr_type), 2);
        EXPECT_STREQ(p.strategy_id, "CNSJC");
        EXPECT_STREQ(p.comb_info.strategy_id, "CNSJC");
        EXPECT_STREQ(p.comb_info.comb_num, "C0000000000000001");
        EXPECT_EQ(V(p.total_qty), 3);
    }

    Body s(360, 0);
    s.ch(4, '0').text(8, "CNSJC").text(25, "认购牛市价差策略").ch(66, 'N').ch(67, 'D').text(68, "2");
    s.put<int16_t>(326, 6).ch(328, 'C').ch(329, 'L').put<uint16_t>(330, 0x1203).put<int16_t>(332, -1);
    s.put<int16_t>(334, 7);
    Deliver(0x524, OneRow(0x524, 36, s), kNode);
    ASSERT_EQ(spi_.strategies.size(), 1u);
    const OXAOptCombStrategyInfo& st = spi_.strategies[0];
    EXPECT_STREQ(st.strategy_id, "CNSJC");
    EXPECT_EQ(V(st.market), 1);
    EXPECT_EQ(V(st.leg_num), 4) << "four legs at the most";
    EXPECT_EQ(V(st.legs[0].call_or_put), 1);
    EXPECT_EQ(V(st.legs[0].position_side), 1);
    EXPECT_EQ(V(st.legs[0].exercise_price_seq), 3);
    EXPECT_EQ(V(st.legs[0].expire_date_seq), -1);
    EXPECT_EQ(V(st.legs[0].leg_qty), 7);
    EXPECT_EQ(V(st.underlying_type), 2);
    EXPECT_EQ(V(st.auto_sep_type), 1);
    EXPECT_EQ(V(st.expire_date_type), 2);

    Body x(238, 0);
    x.put<int32_t>(4, 2).text(8, "10000001").text(17, "购").ch(82, 'C').put<int64_t>(83, 5);
    x.text(107, "10000002").ch(181, 'P').put<int64_t>(230, 9);
    Deliver(0x525, OneRow(0x525, 66, x, 5000, 1000), kNode);
    ASSERT_EQ(spi_.exec_positions.size(), 1u);
    const OXAOptCombExecPositionInfo& e = spi_.exec_positions[0];
    EXPECT_EQ(V(e.call_or_put_1), 1);
    EXPECT_EQ(V(e.call_or_put_2), 2);
    EXPECT_EQ(V(e.position_side_1), 1);
    EXPECT_EQ(V(e.position_side_2), 1);
    EXPECT_EQ(V(e.avl_qty), 9);
    EXPECT_STREQ(e.cntrt_code_2, "10000002");
    EXPECT_TRUE(spi_.calls.back().last) << "position 1000 of 5000";
    EXPECT_EQ(SentCount(), 0u);
}

// Every answer at every length, each in a heap block of exactly that size: nothing reads past
// the message and no query ends more than once.
TEST_F(OptionQueryAnswerTest, EveryCutOfEveryAnswer) {
    std::vector<Family> all = Families();
    all.push_back({"OnQueryOrderByPage", 0x557, 149, 1089, false, 0, 0, {}});
    all.push_back({"OnQueryTradeByPage", 0x558, 145, 979, false, 0, 0, {}});
    all.push_back({"OnQueryPositionByPage", 0x55a, 133, 596, false, 0, 0, {}});
    all.push_back({"OnQueryOptionCombinedStrategyInfo", 0x524, 36, 360, false, 0, 0, {}});
    all.push_back({"OnQueryAsset", 0x519, 35, 412, false, 0, 0, {}});
    all.push_back({"OnQueryFund", 0x56c, 35, 412, false, 0, 0, {}});
    OnSend([](const Sent&) { return 1003; });  // no follow-up is ever sent
    for (const Family& f : all) {
        const Bytes whole = MakeAnswer(f, A(2, {1, 2}, true), f.rows_at, f.row_size);
        for (std::size_t n = 0; n <= whole.size(); ++n) {
            spi_.Clear();
            std::unique_ptr<char[]> exact(new char[n ? n : 1]);
            std::memcpy(exact.get(), whole.data(), n);
            api_->OnRecv(0, f.msg_id, n ? exact.get() : nullptr, static_cast<int>(n), 0, 0, 0, 0, kNode);
            EXPECT_LE(spi_.LastCount(), 1u) << f.op << " len " << n;
        }
        EXPECT_GE(spi_.Size(), 1u) << f.op;
    }
    OnSend(nullptr);
}

}  // namespace
