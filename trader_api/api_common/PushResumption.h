// Push resumption after a back-end's login: synchronisation passes that replay the pushes the
// session missed, then the subscription that starts the live flow after the last one.
//
// The back-end supplies its two requests; the receiving thread reports each synchronisation
// answer (PassDone) and the end of the subscription (SubscribeEnd). Each wait is armed before
// its request is sent, so an answer that comes first is kept, and the notifier sets its result
// under the wait's mutex. The passes end when an answer says so, when an answer brings no
// progress (a further pass would ask for the same pushes again), when a pass is not answered in
// time, when a request cannot be sent, or after kMaxPasses passes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

class CInnerApiInterface;

// The waits of a back-end's login and push resumption.
struct SessionTimeouts {
    std::chrono::milliseconds login{30000};
    std::chrono::milliseconds sync{10000};
    std::chrono::milliseconds subscribe{10000};
};

class PushResumption {
public:
    // Synchronisation passes of one run before it stops asking.
    static constexpr uint32_t kMaxPasses = 100000;

    struct Requests {
        // Sends the next pass's request (from StartSeqNo()); 0 when sent, else the code.
        std::function<int()> send_sync;
        // Sends the subscription (from StartSeqNo()); 0 when sent, else the code.
        std::function<int()> send_subscribe;
    };

    // One run for the login just made: StartSeqNo() from 0, the passes, then the subscription.
    // 0 when subscribed; the send code when the subscription could not be sent; 210004 when
    // its end did not come in time. Every failure is recorded on api; a pass that cannot be
    // sent is recorded too, and the subscription still follows it.
    int Run(CInnerApiInterface& api, const Requests& requests, std::chrono::milliseconds sync_timeout,
            std::chrono::milliseconds subscribe_timeout);

    // Receiving thread: one synchronisation answer has been handled. last_seq is the sequence
    // number of its last record (0 without records, which leaves StartSeqNo() as it is).
    void PassDone(uint32_t last_seq, bool ended);
    // Receiving thread: the subscription's end notice.
    void SubscribeEnd();

    // The passes of the last run are over: a synchronisation answer now is late. False until
    // a run has ended its passes or an answer said so.
    bool IsSyncEnd() const { return m_bSyncEnd.load(); }
    // The first push sequence number the next request asks for.
    uint32_t StartSeqNo() const { return m_nStartSeqNo.load(); }

private:
    std::atomic<bool> m_bSyncEnd{false};
    std::atomic<uint32_t> m_nStartSeqNo{0};
    // Keyed by the pass and the subscription's own counters, so a notice never ends a later one.
    std::atomic<uint64_t> m_nPass{0};
    std::atomic<uint64_t> m_nSubscription{0};
    AnswerWait<uint32_t> m_passWait;
    AnswerWait<int> m_subscribeWait;
};

}  // namespace API
}  // namespace OXA
