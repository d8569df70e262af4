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

}  // namespace API
}  // namespace OXA
