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
// How the end reaches the application is the back-end's: spot marks the row it delivers last,
// a back-end that has already delivered its rows ends with one null-record call (is_last true
// and, after a failed send, the send's code: ContinueErrorOf).
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

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
    // Every outcome but kAsked forgets the query.
    template <typename Send>
    Step Continue(const Key& key, uint64_t next, Send&& send) {
        if (!Advance(key, next)) return Step{Outcome::kNoProgress, 0};
        const int rc = send();
        if (rc == 0) return Step{Outcome::kAsked, 0};
        End(key);
        return Step{Outcome::kSendFailed, rc};
    }

    // The query has ended (its last row, an error answer) or starts afresh.
    void End(const Key& key);

    void SetPageLimit(uint32_t pages) noexcept { m_pageLimit.store(pages); }
    uint32_t PageLimit() const noexcept { return m_pageLimit.load(); }
    // Queries being followed now.
    std::size_t Tracked() const;

private:
    static constexpr std::size_t kMaxQueries = 4096;
    struct State {
        uint64_t asked;
        uint32_t pages;
    };

    // True when next is beyond the position this query asked before and the query may have
    // another page; then next is recorded. A refusal forgets the query.
    bool Advance(const Key& key, uint64_t next);

    std::atomic<uint32_t> m_pageLimit;
    mutable std::mutex m_mtx;
    std::map<Key, State> m_map;
};

// The error record of a query's last call after a failed follow-up: the send's code and the
// library's text for it (0 and an empty text when the query only stalled).
OXAErrorInfo ContinueErrorOf(const PageContinuation::Step& step);

}  // namespace API
}  // namespace OXA
