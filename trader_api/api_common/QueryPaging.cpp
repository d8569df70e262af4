#include "api_common/QueryPaging.h"

#include <algorithm>
#include <cstdint>

#include "api/ErrorCodes.h"
#include "api/ErrorMsg.h"

namespace OXA {
namespace API {

PageContinuation::States& PageContinuation::Entry(const Key& key) {
    auto it = m_map.find(key);
    if (it != m_map.end()) return it->second;
    if (m_map.size() >= kMaxQueries) m_map.clear();
    return m_map[key];
}

PageContinuation::States::iterator PageContinuation::Match(States& states, uint64_t first) {
    // a query that has had no page yet takes any first page, after every query that asked from
    // below first; among queries that asked from the same position, the oldest
    auto rank = [](const State& st) { return st.pages == 0 ? -1 : static_cast<int64_t>(st.asked); };
    auto best = states.end();
    for (auto it = states.begin(); it != states.end(); ++it)
        if ((it->pages == 0 || it->asked < first) && (best == states.end() || rank(*it) > rank(*best))) best = it;
    return best;
}

bool PageContinuation::AdvancePage(const Key& key, uint64_t first, uint64_t last, uint64_t* ticket) {
    std::lock_guard<std::mutex> lock(m_mtx);
    auto found = m_map.find(key);
    // a query whose first request was not started here is taken as a fresh one
    States& states = found != m_map.end() ? found->second : Entry(key);
    if (found == m_map.end()) states.push_back(State{0, 0, ++m_nextTicket});
    auto forget = [&](States::iterator it) {
        states.erase(it);
        if (states.empty()) m_map.erase(key);
    };
    auto it = Match(states, first);
    if (it == states.end()) {
        // an answer to one of the asks that nobody waits for: the oldest query ends with it
        if (!states.empty()) forget(states.begin());
        return false;
    }
    if (last <= it->asked || last > static_cast<uint64_t>(INT32_MAX) || it->pages >= m_pageLimit.load()) {
        forget(it);
        return false;
    }
    State next{last, it->pages + 1, it->ticket};
    states.erase(it);
    states.push_back(next);
    *ticket = next.ticket;
    return true;
}

template <typename Pick>
void PageContinuation::ForgetOne(const Key& key, Pick&& pick) {
    std::lock_guard<std::mutex> lock(m_mtx);
    auto found = m_map.find(key);
    if (found == m_map.end()) return;
    States& states = found->second;
    auto it = pick(states);
    if (it != states.end()) states.erase(it);
    if (states.empty()) m_map.erase(found);
}

void PageContinuation::Finish(const Key& key, uint64_t first) {
    ForgetOne(key, [first](States& states) {
        // answers come in the order of the asks: one without rows answers the oldest ask
        if (first == 0) return states.begin();
        auto it = Match(states, first);
        return it != states.end() ? it : states.begin();
    });
}

uint64_t PageContinuation::Start(const Key& key) {
    std::lock_guard<std::mutex> lock(m_mtx);
    States& states = Entry(key);
    if (states.size() >= kMaxSideBySide) states.erase(states.begin());
    states.push_back(State{0, 0, ++m_nextTicket});
    return m_nextTicket;
}

void PageContinuation::Drop(const Key& key, uint64_t ticket) {
    ForgetOne(key, [ticket](States& states) {
        return std::find_if(states.begin(), states.end(), [ticket](const State& st) { return st.ticket == ticket; });
    });
}

void PageContinuation::End(const Key& key) {
    std::lock_guard<std::mutex> lock(m_mtx);
    m_map.erase(key);
}

void PageContinuation::Clear() {
    std::lock_guard<std::mutex> lock(m_mtx);
    m_map.clear();
}

std::size_t PageContinuation::Tracked() const {
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_map.size();
}

namespace {

OXAErrorInfo ErrorWithText(int code) {
    OXAErrorInfo e{};
    e.error_id = code;
    FillErrorMsg(&e);
    return e;
}

}  // namespace

OXAErrorInfo ContinueErrorOf(const PageContinuation::Step& step) {
    switch (step.outcome) {
        case PageContinuation::Outcome::kSendFailed: return ErrorWithText(step.code);
        case PageContinuation::Outcome::kNoProgress: return EndedEarlyError();
        case PageContinuation::Outcome::kAsked: break;
    }
    return OXAErrorInfo{};
}

OXAErrorInfo EndedEarlyError() { return ErrorWithText(kErrQueryEndedEarly); }

}  // namespace API
}  // namespace OXA
