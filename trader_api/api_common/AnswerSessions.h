// Which session a query answer belongs to, for a back-end whose answers name their session by
// the server's session number.
//
// Each node numbers its own sessions, so sessions of several nodes may share a number, and one
// connection may serve several nodes while the router names only the node of the connection's
// last login. An answer therefore finds every session listed under its number; when more than
// one is, only those served by the connection the answer came on, of the account the answer
// echoes and with a query in flight under the request id of the answer's frame remain. An answer
// that still fits several sessions goes to none of them: nothing it carries tells them apart.
//
// A back-end keeps one AnswerSessions: it lists every session it files and unlists it when the
// session ends; it notes every query before its send and ends it once the query's last answer
// has been handled. Only records the session tables still hold are ever found, so a record left
// listed by mistake can never take an answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace OXA {
namespace API {

struct tagSessionInfo;

class AnswerSessions {
public:
    // What an answer carries that tells sessions apart.
    struct Clues {
        uint64_t session_no = 0;
        uint32_t routed_node = 0;   // the node the router named: stands for the connection
        int request_id = 0;         // of the answer's frame (a query's: the application's)
        uint64_t fund_account = 0;  // the account the answer echoes; 0 when it echoes none
    };
    // What Find made of an answer: the session it belongs to; or none, undecided when sessions
    // share its number but not exactly one of them fits (logged: the answer goes to none).
    struct Found {
        tagSessionInfo* record = nullptr;
        bool undecided = false;
    };

    AnswerSessions() = default;
    AnswerSessions(const AnswerSessions&) = delete;
    AnswerSessions& operator=(const AnswerSessions&) = delete;

    // A session filed under its number (kept beside any other session of that number).
    void List(tagSessionInfo* record);
    void Unlist(const tagSessionInfo* record);

    // A query about to be sent for the session under request_id (a query asked again under the
    // same id counts twice); ended when its send failed or its last answer has been handled.
    void NoteQuery(uint64_t session_id, int request_id);
    void EndQuery(uint64_t session_id, int request_id);

    // The session the answer belongs to (the rule above). An answer fitting several sessions is
    // logged under who.
    Found Find(const Clues& clues, const char* who) const;

    // Forgets every session and query (the back-end's release).
    void Clear();
    std::size_t QueriesInFlight() const;

private:
    static constexpr std::size_t kMaxQueries = 4096;

    mutable std::shared_mutex m_mtxListed;
    std::unordered_map<uint64_t, std::vector<tagSessionInfo*>> m_listed;  // by session number

    mutable std::mutex m_mtxQueries;
    std::map<std::pair<uint64_t, int>, uint32_t> m_queries;  // (session id, request id) -> in flight
};

}  // namespace API
}  // namespace OXA
