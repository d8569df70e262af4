#include "api_common/QueryPaging.h"

#include <cstdint>

#include "api/ErrorMsg.h"

namespace OXA {
namespace API {

bool PageContinuation::Advance(const Key& key, uint64_t next) {
    std::lock_guard<std::mutex> lock(m_mtx);
    auto it = m_map.find(key);
    const uint64_t asked = it == m_map.end() ? 0 : it->second.asked;
    const uint32_t pages = it == m_map.end() ? 0 : it->second.pages;
    if (next <= asked || next > static_cast<uint64_t>(INT32_MAX) || pages >= m_pageLimit.load()) {
        if (it != m_map.end()) m_map.erase(it);
        return false;
    }
    if (it == m_map.end()) {
        if (m_map.size() >= kMaxQueries) m_map.clear();
        m_map.emplace(key, State{next, 1});
    } else {
        it->second.asked = next;
        ++it->second.pages;
    }
    return true;
}

void PageContinuation::End(const Key& key) {
    std::lock_guard<std::mutex> lock(m_mtx);
    m_map.erase(key);
}

std::size_t PageContinuation::Tracked() const {
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_map.size();
}

OXAErrorInfo ContinueErrorOf(const PageContinuation::Step& step) {
    OXAErrorInfo e{};
    if (step.outcome == PageContinuation::Outcome::kSendFailed) {
        e.error_id = step.code;
        FillErrorMsg(&e);
    }
    return e;
}

}  // namespace API
}  // namespace OXA
