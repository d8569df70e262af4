// How a login answer meets the login waiting for it, for the gateway login and every
// back-end's own login.
//
// Logins run one at a time (the facade serialises them), so one login is in flight per
// connection and per back-end. An answer that carries an error code ends that login at once,
// whichever account it names: a refusal need not echo the account, and waiting out the whole
// timeout would report a time-out instead of the refusal. An answer without error must name
// the account being logged in; any other answer is logged and dropped.
//
// Use: the waiter arms its AnswerWait with the fund account before the send; the answer
// handler checks IsPendingLoginAnswer before it acts on an accepted answer, files the session
// and hands the result on with DeliverFiledLogin (a refusal with DeliverLoginAnswer), all
// before the waiter wakes.
#pragma once

#include <spdlog/spdlog.h>

#include <cstdint>

#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

namespace login_answer_detail {

template <typename Answer>
bool Judge(const typename AnswerWait<Answer>::SoleDelivery& r, const char* who, uint64_t fund_account,
           int32_t error_code) {
    if (r.taken) return true;
    if (!r.armed) {
        spdlog::warn("[{}] login answer for fund account {} (error {}) while no login waits: dropped", who,
                     fund_account, error_code);
    } else {
        spdlog::warn("[{}] login answer for fund account {} while fund account {} logs in: dropped", who,
                     fund_account, r.armed_key);
    }
    return false;
}

}  // namespace login_answer_detail

// True when the answer belongs to the login in flight (the rule above); logs under `who`
// (the handler's name) when it does not. Nothing is delivered.
template <typename Answer>
bool IsPendingLoginAnswer(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, int32_t error_code) {
    const auto r = wait.deliver_sole(fund_account, error_code != 0, Answer{}, true);
    return login_answer_detail::Judge<Answer>(r, who, fund_account, error_code);
}

// Hands the answer to the login in flight (the rule above); false, logged, when it is not
// that login's.
template <typename Answer>
bool DeliverLoginAnswer(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, int32_t error_code,
                        const Answer& answer) {
    const auto r = wait.deliver_sole(fund_account, error_code != 0, answer);
    return login_answer_detail::Judge<Answer>(r, who, fund_account, error_code);
}

// For an accepted answer whose session the handler has already filed, on the delivering
// thread, so that a push right behind the answer finds it: hands the answer to the login in
// flight, and when that login gave up meanwhile runs undo, so no session is left that no
// caller knows of.
template <typename Answer, typename Undo>
bool DeliverFiledLogin(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, const Answer& answer,
                       Undo&& undo) {
    if (DeliverLoginAnswer(wait, who, fund_account, 0, answer)) return true;
    undo();
    return false;
}

}  // namespace API
}  // namespace OXA
