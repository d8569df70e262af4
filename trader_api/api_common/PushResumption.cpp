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
        PassResult pass;
        if (!m_passWait.wait(ticket, sync_timeout, pass)) {
            spdlog::warn("[{}] Sync Push TimeOut.", "StartSyncPush");
            m_bSyncEnd.store(true);
            break;
        }
        if (pass.last_seq != 0) m_nStartSeqNo.store(pass.last_seq + 1);
        if (pass.ended) m_bSyncEnd.store(true);
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

void PushResumption::LogPass(const PassResult& r) const {
    if (r.ended)
        spdlog::info("[{}] Sync End.", "SyncNotify");
    else
        spdlog::debug("[{}] Sync Push Has Remain, Current Last SeqNo[{}]", "SyncNotify", r.last_seq);
}

void PushResumption::PassDone(uint32_t last_seq, bool ended) {
    m_bSyncEnd.store(ended);
    if (last_seq != 0) m_nStartSeqNo.store(last_seq + 1);
    const PassResult r{last_seq, ended};
    LogPass(r);
    m_passWait.deliver(m_nPass.load(), r);
}

void PushResumption::SubscribeEnd() {
    spdlog::info("[{}] Subscribe End.", "SubscribeEndNotify");
    m_subscribeWait.deliver(m_nSubscription.load(), 1);
}

void PushResumption::ExpectPass(const AnswerKey& key) {
    std::lock_guard<std::mutex> lock(m_mtxKeys);
    m_bPassKeyed = true;
    m_passKey = key;
}

void PushResumption::ExpectSubscription(const AnswerKey& key) {
    std::lock_guard<std::mutex> lock(m_mtxKeys);
    m_bSubscriptionKeyed = true;
    m_subscriptionKey = key;
}

bool PushResumption::PassDone(const AnswerKey& key, uint32_t last_seq, bool ended, const char* who) {
    std::lock_guard<std::mutex> lock(m_mtxKeys);
    if (!m_bPassKeyed || !(key == m_passKey)) {
        spdlog::warn("[{}] synchronisation answer of request {} for session {} account {} is not the pass in "
                     "flight: dropped",
                     who, key.frame_request_id, key.session_no, key.fund_account);
        return false;
    }
    // the run applies the result once it has it, so an answer its wait no longer takes changes nothing
    const PassResult r{last_seq, ended};
    if (!m_passWait.deliver(m_nPass.load(), r)) {
        spdlog::warn("[{}] synchronisation answer of request {} came after its pass gave up: dropped", who,
                     key.frame_request_id);
        return false;
    }
    LogPass(r);
    return true;
}

bool PushResumption::SubscribeEnd(const AnswerKey& key, const char* who) {
    std::lock_guard<std::mutex> lock(m_mtxKeys);
    if (!m_bSubscriptionKeyed || !(key == m_subscriptionKey)) {
        spdlog::warn("[{}] subscription end of request {} for session {} is not the subscription in flight: "
                     "ignored",
                     who, key.frame_request_id, key.session_no);
        return false;
    }
    spdlog::info("[{}] Subscribe End.", "SubscribeEndNotify");
    return m_subscribeWait.deliver(m_nSubscription.load(), 1);
}

}  // namespace API
}  // namespace OXA
