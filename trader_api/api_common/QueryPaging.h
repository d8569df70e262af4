// Queries that ask for their next page themselves, from the receiving thread: every back-end
// whose answers carry the position of their last row keeps one PageContinuation and asks it
// before each follow-up request.
//
// It remembers, per query (session, answer message id, request number), the position the last
// follow-up asked from and how many pages it asked for. A follow-up goes out only when the new
// position lies beyond the one asked before (0 before the first follow-up) and the query is
// inside its page cap, so a server that repeats a page, ignores the position or never ends
// cannot keep a query going. Whatever ends a query (its last row, an error, a stall, a failed
// send) forgets it; a table of abandoned queries is dropped rather than grown without end.
//
// An application may ask again under a request number whose earlier query is still paging: a
// back-end that says so (Start) has both followed side by side under the one key, each page
// going to the query whose last ask lies nearest below the page's first position (else to a
// query that has had no page yet), and an answer without rows to the query whose last ask is
// the oldest, so that both run to their end (ContinuePage, Finish).
//
// How the end reaches the application is the back-end's: spot marks the row it delivers last,
// a back-end that has already delivered its rows ends with one null-record call (is_last true
// and a nonzero code when the query ended before its last row: ContinueErrorOf).
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace OXA {
namespace API {

class PageContinuation {
public:
    // Pages one query may ask for before it is ended.
    static constexpr uint32_t kDefaultPageLimit = 10000;

    struct Key {
        uint64_t session_id;
        uint32_t msg_id;      // the answer's
        uint64_t request_no;  // the request number the answers carry
        bool operator<(const Key& o) const {
            return std::tie(session_id, msg_id, request_no) < std::tie(o.session_id, o.msg_id, o.request_no);
        }
    };

    enum class Outcome {
        kAsked,       // the follow-up was sent: the query goes on
        kNoProgress,  // not asked: the position does not advance, or the page cap is reached
        kSendFailed,  // asked, and the send failed with code
    };
    struct Step {
        Outcome outcome;
        int code;  // the send's result for kSendFailed, else 0
        bool asked() const { return outcome == Outcome::kAsked; }
    };

    explicit PageContinuation(uint32_t page_limit = kDefaultPageLimit) noexcept : m_pageLimit(page_limit) {}
    PageContinuation(const PageContinuation&) = delete;
    PageContinuation& operator=(const PageContinuation&) = delete;

    // Asks for the page from next (a 32-bit wire position: anything beyond INT32_MAX stalls)
    // with send(), which builds and sends the request and returns its result (0 when sent).
    // Every outcome but kAsked forgets the query. For a query followed alone, as a page that
    // starts and ends at next.
    template <typename Send>
    Step Continue(const Key& key, uint64_t next, Send&& send) {
        return ContinuePage(key, next, next, std::forward<Send>(send));
    }

    // The query has ended (its last row, an error answer) or starts afresh; with queries side by
    // side under the key, every one of them.
    void End(const Key& key);

    // A query sent (again) under key, to be followed beside any that still pages under it; call
    // before the send, since its answer may come first. Returns a ticket for Drop.
    uint64_t Start(const Key& key);
    // The query of a Start whose send failed: forgotten again.
    void Drop(const Key& key, uint64_t ticket);

    // A page of rows from position first to last that does not end its query: the query it
    // answers asks for the page from last with send(). kNoProgress when no query
    // under key waits for such a page (a repeated page, a server ignoring the position) or the
    // query is at its page cap; that query is then forgotten.
    template <typename Send>
    Step ContinuePage(const Key& key, uint64_t first, uint64_t last, Send&& send) {
        uint64_t ticket = 0;
        if (!AdvancePage(key, first, last, &ticket)) return Step{Outcome::kNoProgress, 0};
        const int rc = send();
        if (rc == 0) return Step{Outcome::kAsked, 0};
        Drop(key, ticket);
        return Step{Outcome::kSendFailed, rc};
    }
    // The query answered by a page whose first row is at first has ended. An answer without rows
    // (first 0: an error, an empty page) ends the query whose last ask is the oldest, since a
    // connection's answers come in the order of its asks; so does a page no query waits for.
    void Finish(const Key& key, uint64_t first);

    // Forgets every query, for a start from nothing (no answer may be in a handler meanwhile).
    void Clear();

    void SetPageLimit(uint32_t pages) noexcept { m_pageLimit.store(pages); }
    uint32_t PageLimit() const noexcept { return m_pageLimit.load(); }
    // Queries being followed now.
    std::size_t Tracked() const;

private:
    static constexpr std::size_t kMaxQueries = 4096;
    static constexpr std::size_t kMaxSideBySide = 16;  // queries under one key; the oldest goes
    struct State {
        uint64_t asked;
        uint32_t pages;
        uint64_t ticket;
    };
    // A key's queries, oldest first (a query that asks again moves to the end).
    using States = std::vector<State>;

    // ContinuePage's bookkeeping: the matched query records last (its ticket in *ticket).
    bool AdvancePage(const Key& key, uint64_t first, uint64_t last, uint64_t* ticket);
    // The query under key that a page starting at first answers; end() when none.
    static States::iterator Match(States& states, uint64_t first);
    States& Entry(const Key& key);  // m_mtx held; makes room in a full table
    // Forgets the query pick(states) names (none: end()), and the key once it has none.
    template <typename Pick>
    void ForgetOne(const Key& key, Pick&& pick);

    std::atomic<uint32_t> m_pageLimit;
    mutable std::mutex m_mtx;
    std::map<Key, States> m_map;
    uint64_t m_nextTicket = 0;
};

// The error record of the last call of a query that ended before its last row: the send's code
// after a failed follow-up, kErrQueryEndedEarly after a stall, with the library's text.
OXAErrorInfo ContinueErrorOf(const PageContinuation::Step& step);
// The same for a query that ends for any other reason before its last row (a page cut short).
OXAErrorInfo EndedEarlyError();

}  // namespace API
}  // namespace OXA
