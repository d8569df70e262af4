// What every back-end does with a session its server granted, and at its end: the record in
// the session tables, the two rate limits, the order-id counter; and the text of an order
// id's account.
#pragma once

#include <cstdint>

#include "api/SessionTables.h"
#include "api/SpeedControl.h"

namespace OXA {
namespace API {

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
};

// Files the session in every table (its record, under by_no when given; its account; a
// sequence register unless it has one), sets both rate limits and starts the order-id counter.
// The record's client id is the back-end's, its protocol type the process socket type. Null
// (nothing filed) when the ids are out of the tables' range.
tagSessionInfo* FileSession(CInnerApiInterface& api, CSpeedControl& speed, const SessionGrant& grant,
                            const SessionNoKey* by_no);

// Takes back a filing whose login gave up before the answer reached it: the record leaves
// every table unless a later filing has replaced it.
void UnfileSession(const tagSessionInfo* record);

// Takes the session out of every table; logs "Logout Success" when it had a record.
void EndSession(uint64_t session_id);

// The fund account of an order id's session as decimal text, "" when that session has no
// record. The text is the calling thread's own, valid until its next call.
const char* AccountTextOfOrderId(uint64_t order_oxa_id);

}  // namespace API
}  // namespace OXA
