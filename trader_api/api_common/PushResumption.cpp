#include "api_common/PushResumption.h"

#include <spdlog/spdlog.h>

#include "api/ErrorCodes.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

namespace OXA {
namespace API {

int PushResumption::Run(CInnerApiInterface& api, const Requests& requests, std::chrono::milliseconds sync_timeout,
                        std::chrono::milliseconds subscribe_timeout) {
    m_nStartSeqNo.store(0);
    m_bSyncEnd.store(false);

    uint32_t passes = 0;
    while (!m_bSyncEnd.load()) {
        if (++passes > kMaxPasses) {
            spdlog::warn("[{}] Sync Push stopped after {} rounds.", "StartSyncPush", kMaxPasses);
            m_bSyncEnd.store(true);
            break;
        }
        const uint32_t before = m_nStartSeqNo.load();
        const uint64_t ticket = m_passWait.arm(m_nPass.fetch_add(1) + 1);
        const int rc = requests.send_sync();
        if (rc != 0) {
            m_passWait.cancel(ticket);
            api.SetLastError(rc);
            m_bSyncEnd.store(true);
            break;
        }
        uint32_t last_seq = 0;
        if (!m_passWait.wait(ticket, sync_timeout, last_seq)) {
            spdlog::warn("[{}] Sync Push TimeOut.", "StartSyncPush");
            m_bSyncEnd.store(true);
            break;
        }
        if (!m_bSyncEnd.load() && m_nStartSeqNo.load() <= before) {
            // another pass would ask for the same pushes again
            spdlog::warn("[{}] Sync Push made no progress, ending.", "StartSyncPush");
            m_bSyncEnd.store(true);
        }
    }

    const uint64_t ticket = m_subscribeWait.arm(m_nSubscription.fetch_add(1) + 1);
    const int rc = requests.send_subscribe();
    if (rc != 0) {
        m_subscribeWait.cancel(ticket);
        api.SetLastError(rc);
        return rc;
    }
    int done = 0;
    if (!m_subscribeWait.wait(ticket, subscribe_timeout, done)) {
        spdlog::warn("[{}] Subscribe Msg TimeOut.", "StartSyncPush");
        api.SetLastError(kErrLoginTimeout);
        return kErrLoginTimeout;
    }
    return 0;
}

void PushResumption::PassDone(uint32_t last_seq, bool ended) {
    m_bSyncEnd.store(ended);
    if (last_seq != 0) m_nStartSeqNo.store(last_seq + 1);
    if (ended)
        spdlog::info("[{}] Sync End.", "SyncNotify");
    else
        spdlog::debug("[{}] Sync Push Has Remain, Current Last SeqNo[{}]", "SyncNotify", last_seq);
    m_passWait.deliver(m_nPass.load(), last_seq);
}

void PushResumption::SubscribeEnd() {
    spdlog::info("[{}] Subscribe End.", "SubscribeEndNotify");
    m_subscribeWait.deliver(m_nSubscription.load(), 1);
}

}  // namespace API
}  // namespace OXA
