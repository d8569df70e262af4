// Push resumption after a back-end's login: synchronisation passes that replay the pushes the
// session missed, then the subscription that starts the live flow after the last one.
//
// The back-end supplies its two requests; the receiving thread reports each synchronisation
// answer (PassDone) and the end of the subscription (SubscribeEnd). Each wait is armed before
// its request is sent, so an answer that comes first is kept, and the notifier sets its result
// under the wait's mutex. The passes end when an answer says so, when an answer brings no
// progress (a further pass would ask for the same pushes again), when a pass is not answered in
// time, when a request cannot be sent, or after kMaxPasses passes.
//
// A back-end whose answers carry what ties them to their request (the request id of the
// request's frame, the session number and account they echo) names it before each send
// (ExpectPass, ExpectSubscription) and reports answers with it: an answer that is not the one
// in flight, such as a late answer of an earlier account's login, is dropped and changes
// nothing, and one that comes after its wait gave up is dropped too, so its records are not
// replayed behind the resumption that already went on without them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

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

    // What ties an answer to its request; 0 where the answer echoes nothing.
    struct AnswerKey {
        int frame_request_id = 0;
        uint64_t session_no = 0;
        uint64_t fund_account = 0;
        bool operator==(const AnswerKey& o) const {
            return frame_request_id == o.frame_request_id && session_no == o.session_no &&
                   fund_account == o.fund_account;
        }
    };

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

    // From the requests, before each send: the key of the answer the pass or subscription waits
    // for.
    void ExpectPass(const AnswerKey& key);
    void ExpectSubscription(const AnswerKey& key);
    // Receiving thread, before the answer's records are replayed: true when it is the answer of
    // the pass in flight, which it then ends; false (logged under who, nothing changed) for any
    // other answer.
    bool PassDone(const AnswerKey& key, uint32_t last_seq, bool ended, const char* who);
    // Receiving thread: the end notice of the subscription in flight (true), or of another one
    // (false, logged under who).
    bool SubscribeEnd(const AnswerKey& key, const char* who);

    // The passes of the last run are over: a synchronisation answer now is late. False until
    // a run has ended its passes or an answer said so.
    bool IsSyncEnd() const { return m_bSyncEnd.load(); }
    // The first push sequence number the next request asks for.
    uint32_t StartSeqNo() const { return m_nStartSeqNo.load(); }

private:
    // What a pass's answer tells the passes; the waiting run applies it.
    struct PassResult {
        uint32_t last_seq = 0;
        bool ended = false;
    };
    void LogPass(const PassResult& r) const;

    std::atomic<bool> m_bSyncEnd{false};
    std::atomic<uint32_t> m_nStartSeqNo{0};
    // Keyed by the pass and the subscription's own counters, so a notice never ends a later one.
    std::atomic<uint64_t> m_nPass{0};
    std::atomic<uint64_t> m_nSubscription{0};
    AnswerWait<PassResult> m_passWait;
    AnswerWait<int> m_subscribeWait;

    // The keys of the answers in flight; unset until a request names one.
    std::mutex m_mtxKeys;
    bool m_bPassKeyed = false;
    AnswerKey m_passKey;
    bool m_bSubscriptionKeyed = false;
    AnswerKey m_subscriptionKey;
};

}  // namespace API
}  // namespace OXA
