// What every back-end does with a session its server granted, and at its end: the record in
// the session tables, the two rate limits, the order-id counter; and the text of an order
// id's account.
#pragma once

#include <cstdint>

#include "api/SessionTables.h"
#include "api/SpeedControl.h"

namespace OXA {
namespace API {

class AnswerSessions;
class CInnerApiInterface;

// A session as the server granted it at login.
struct SessionGrant {
    uint64_t session_id = 0;       // node << 16 | fund index
    uint64_t session_no = 0;       // the server's session number
    uint64_t fund_account = 0;
    uint16_t fund_index = 0;
    uint64_t last_order_no = 0;    // kept in the record
    uint32_t order_id_base = 0;    // the session's first order id carries this + 1
    SpeedControlCfg order_limit{0, 1000, 0};  // CtrlType 0: orders, cancels, transfers
    SpeedControlCfg query_limit{1, 1000, 0};  // CtrlType 1: queries
    bool with_seq_reg = true;                 // a push sequence register unless it has one
};

// Whether a session record is filed under the session id: a login answer for that id must not
// touch it before its login has taken the answer (see LoginAnswer.h).
bool SessionIdFiled(uint64_t session_id);

// Files the session in every table (its record, under by_no when given; its account; a
// sequence register unless it has one or the grant wants none), sets both rate limits, starts
// the order-id counter, and lists it in index when given (the record it replaces leaves the
// index). The record's client id is the back-end's, its protocol type the process socket type.
// Null (nothing filed) when the ids are out of the tables' range.
tagSessionInfo* FileSession(CInnerApiInterface& api, CSpeedControl& speed, const SessionGrant& grant,
                            const SessionNoKey* by_no, AnswerSessions* index = nullptr);

// Takes back a filing whose login gave up before the answer reached it: the record leaves
// every table (and index) unless a later filing has replaced it, and what it displaced from
// sessions still filed is put back.
void UnfileSession(const tagSessionInfo* record, AnswerSessions* index = nullptr);

// Takes the session out of every table (and index); logs "Logout Success" when it had a record.
void EndSession(uint64_t session_id, AnswerSessions* index = nullptr);

// The fund account of an order id's session as decimal text, "" when that session has no
// record. The text is the calling thread's own, valid until its next call.
const char* AccountTextOfOrderId(uint64_t order_oxa_id);

}  // namespace API
}  // namespace OXA
