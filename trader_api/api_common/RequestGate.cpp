#include "api_common/RequestGate.h"

#include <spdlog/spdlog.h>

#include "api/ErrorCodes.h"
#include "api/SessionTables.h"
#include "api/SpeedControl.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

namespace OXA {
namespace API {

tagSessionInfo* GateRequest(CInnerApiInterface& api, const CSpeedControl& speed, uint64_t session_id,
                            int ctrl_type, const char* over_speed_log) {
    tagSessionInfo* info = _gArrSessionInfo.Get(session_id);
    if (info == nullptr) {
        spdlog::error("[session_id:{}] _gArrSessionInfo is nullptr", session_id);
        api.SetLastError(kErrSessionInvalid);
        return nullptr;
    }
    if (!speed.CheckSpeed(session_id, ctrl_type)) {
        spdlog::error(over_speed_log, session_id, ctrl_type);
        api.SetLastError(kErrOverSpeed);
        return nullptr;
    }
    return info;
}

bool OrderOfSession(CInnerApiInterface& api, const char* op, uint64_t order_id, uint64_t session_id) {
    const uint64_t owner = CInnerApiInterface::GetSessionIdByOXAID(order_id);
    if (owner == session_id) return true;
    spdlog::error("[{}] order {} belongs to session {}, not to session {}", op, order_id, owner, session_id);
    api.SetLastError(kErrOrderOfOtherSession);
    return false;
}

bool TransferQueryOfSession(CInnerApiInterface& api, const FundTransferQueryParam* query, uint64_t session_id) {
    return query == nullptr || query->serial_id == 0 ||
           OrderOfSession(api, "QueryFundTransfer", query->serial_id, session_id);
}

}  // namespace API
}  // namespace OXA
