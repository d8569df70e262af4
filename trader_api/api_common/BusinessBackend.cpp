#include "api_common/BusinessBackend.h"

#include <spdlog/spdlog.h>

#include "api/SessionTables.h"
#include "api_common/SessionFiling.h"

namespace OXA {
namespace API {

void CBusinessBackend::RegisterSpi(TraderSpi* spi) {
    m_pSpi.store(spi);
    HandSpiToDriver(spi);
}

void CBusinessBackend::SubscribePublicTopic(int resume_type) { m_nResumeType.store(resume_type); }

const char* CBusinessBackend::GetAccountByOXAID(uint64_t order_oxa_id) { return AccountTextOfOrderId(order_oxa_id); }

int CBusinessBackend::Logout(uint64_t session_id) {
    EndSession(session_id);
    return 0;
}

int CBusinessBackend::Reserved3(uint64_t) { return 0; }

tagSessionInfo* CBusinessBackend::GetSessionInfo(uint64_t session_id) {
    tagSessionInfo* info = _gArrSessionInfo.Get(session_id);
    if (info == nullptr) spdlog::error("[session_id:{}] _gArrSessionInfo is nullptr", session_id);
    return info;
}

void CBusinessBackend::SetTimeouts(const Timeouts& t) {
    std::lock_guard<std::mutex> lock(m_mtxTimeouts);
    m_timeouts = t;
}

CBusinessBackend::Timeouts CBusinessBackend::GetTimeouts() const {
    std::lock_guard<std::mutex> lock(m_mtxTimeouts);
    return m_timeouts;
}

}  // namespace API
}  // namespace OXA
