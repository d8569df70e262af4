#include "api_common/SessionFiling.h"

#include <spdlog/spdlog.h>

#include <cinttypes>
#include <cstdio>

#include "api/ApiGlobals.h"
#include "api_common/AnswerSessions.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

namespace OXA {
namespace API {

bool SessionIdFiled(uint64_t session_id) { return _gArrSessionInfo.Get(session_id) != nullptr; }

tagSessionInfo* FileSession(CInnerApiInterface& api, CSpeedControl& speed, const SessionGrant& grant,
                            const SessionNoKey* by_no, AnswerSessions* index) {
    tagSessionInfo info{};
    info.nSessionID = grant.session_no;
    info.nFundAcc = grant.fund_account;
    info.nClientID = api.GetClientId();
    info.nFundAccIndex = grant.fund_index;
    info.nprotocol_type = static_cast<uint16_t>(SockType.load() == 1 ? 1 : 2);
    info.nLastOrderID = grant.last_order_no;
    info.nApiSessionID = grant.session_id;
    info.nReserved = 0;
    // logins run one at a time, so the record read here is the one the filing replaces
    const tagSessionInfo* replaced = _gArrSessionInfo.Get(grant.session_id);
    tagSessionInfo* record = RegisterSession(info, by_no, grant.with_seq_reg);
    if (record == nullptr) return nullptr;
    if (index != nullptr) {
        index->Unlist(replaced);
        index->List(record);
    }
    SpeedControlCfg order = grant.order_limit;
    order.CtrlType = 0;
    SpeedControlCfg query = grant.query_limit;
    query.CtrlType = 1;
    speed.SetSpeedControl(grant.session_id, order);
    speed.SetSpeedControl(grant.session_id, query);
    api.InitOrderId(grant.session_id, grant.order_id_base);
    return record;
}

void UnfileSession(const tagSessionInfo* record, AnswerSessions* index) {
    // a record taken out is retired, not freed, so it may still be read here
    if (record == nullptr) return;
    if (index != nullptr) index->Unlist(record);
    if (UnregisterSessionRecord(record))
        spdlog::warn("session {} filed for a login that gave up: taken out again", record->nApiSessionID);
}

void EndSession(uint64_t session_id, AnswerSessions* index) {
    if (index != nullptr) index->Unlist(_gArrSessionInfo.Get(session_id));
    uint64_t fund_account = 0;
    // every table lets go of the session before anything is freed
    if (UnregisterSession(session_id, &fund_account))
        spdlog::info("Logout Success: fundAcc={},sessionId={}", fund_account, session_id);
}

const char* AccountTextOfOrderId(uint64_t order_oxa_id) {
    thread_local char text[24];
    const tagSessionInfo* info = _gArrSessionInfo.Get(CInnerApiInterface::GetSessionIdByOXAID(order_oxa_id));
    if (info == nullptr) return "";
    std::snprintf(text, sizeof text, "%" PRIu64, info->nFundAcc);
    return text;
}

}  // namespace API
}  // namespace OXA
