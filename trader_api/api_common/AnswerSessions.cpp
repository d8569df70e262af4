#include "api_common/AnswerSessions.h"

#include <spdlog/spdlog.h>

#include <algorithm>

#include "api/SessionTables.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/CInnerApiInterface/TcpClientArray.h"

namespace OXA {
namespace API {

void AnswerSessions::List(tagSessionInfo* record) {
    if (record == nullptr) return;
    std::unique_lock<std::shared_mutex> lock(m_mtxListed);
    std::vector<tagSessionInfo*>& records = m_listed[record->nSessionID];
    if (std::find(records.begin(), records.end(), record) == records.end()) records.push_back(record);
}

void AnswerSessions::Unlist(const tagSessionInfo* record) {
    if (record == nullptr) return;
    std::unique_lock<std::shared_mutex> lock(m_mtxListed);
    auto it = m_listed.find(record->nSessionID);
    if (it == m_listed.end()) return;
    std::vector<tagSessionInfo*>& records = it->second;
    records.erase(std::remove(records.begin(), records.end(), record), records.end());
    if (records.empty()) m_listed.erase(it);
}

void AnswerSessions::NoteQuery(uint64_t session_id, int request_id) {
    std::lock_guard<std::mutex> lock(m_mtxQueries);
    // queries whose answers never came: forgetting them costs an ambiguous answer at worst,
    // never a wrong one
    if (m_queries.size() >= kMaxQueries) m_queries.clear();
    ++m_queries[{session_id, request_id}];
}

void AnswerSessions::EndQuery(uint64_t session_id, int request_id) {
    std::lock_guard<std::mutex> lock(m_mtxQueries);
    auto it = m_queries.find({session_id, request_id});
    if (it == m_queries.end()) return;
    if (--it->second == 0) m_queries.erase(it);
}

AnswerSessions::Found AnswerSessions::Find(const Clues& clues, const char* who) const {
    std::vector<tagSessionInfo*> fit;
    {
        std::shared_lock<std::shared_mutex> lock(m_mtxListed);
        auto it = m_listed.find(clues.session_no);
        if (it != m_listed.end())
            for (tagSessionInfo* r : it->second)
                if (_gArrSessionInfo.Get(r->nApiSessionID) == r) fit.push_back(r);
    }
    Found found;
    if (fit.size() == 1) found.record = fit.front();
    if (fit.size() <= 1) return found;

    const std::size_t sharing = fit.size();
    auto keep_only = [&fit](auto keep) {
        fit.erase(std::remove_if(fit.begin(), fit.end(), [&](const tagSessionInfo* r) { return !keep(r); }),
                  fit.end());
    };
    // the connection the answer came on serves the session
    if (clues.routed_node < TcpClientArray::kNodes) {
        const TcpClientArray::ClientPtr conn = _gArrTcpClient.Get(static_cast<uint8_t>(clues.routed_node));
        if (conn)
            keep_only([&](const tagSessionInfo* r) {
                return _gArrTcpClient.Get(CInnerApiInterface::GetNodeIdBySession(r->nApiSessionID)) == conn;
            });
    }
    if (fit.size() > 1 && clues.fund_account != 0)
        keep_only([&](const tagSessionInfo* r) { return r->nFundAcc == clues.fund_account; });
    if (fit.size() > 1) {
        std::lock_guard<std::mutex> lock(m_mtxQueries);
        keep_only([&](const tagSessionInfo* r) {
            return m_queries.count({r->nApiSessionID, clues.request_id}) != 0;
        });
    }
    if (fit.size() == 1) {
        found.record = fit.front();
        return found;
    }
    found.undecided = true;
    spdlog::warn("[{}] answer of session number {} (request {}, account {}) fits {} of the {} sessions sharing the "
                 "number: delivered to none",
                 who, clues.session_no, clues.request_id, clues.fund_account, fit.size(), sharing);
    return found;
}

void AnswerSessions::Clear() {
    {
        std::unique_lock<std::shared_mutex> lock(m_mtxListed);
        m_listed.clear();
    }
    std::lock_guard<std::mutex> lock(m_mtxQueries);
    m_queries.clear();
}

std::size_t AnswerSessions::QueriesInFlight() const {
    std::lock_guard<std::mutex> lock(m_mtxQueries);
    return m_queries.size();
}

}  // namespace API
}  // namespace OXA
