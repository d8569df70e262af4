// How a login answer meets the login waiting for it, for the gateway login and every
// back-end's own login.
//
// Logins run one at a time (the facade serialises them), so one login is in flight per
// connection and per back-end. An answer without error must name the account being logged in;
// any other answer is logged and dropped. A refusal that names no account ends the login in
// flight at once: waiting out the whole timeout would report a time-out instead of the refusal.
// A back-end's refusal that names an account ends only the login of that account
// (RefusalRule::kNamedAccountOnly): a late refusal of one account must not end the next
// account's login, whose acceptance may be right behind it. The gateway login keeps the older
// rule, under which any refusal ends the login in flight.
//
// An accepted answer files its session before the login wakes, so that a push right behind the
// answer finds it, unless a session is filed under its session id already (the account logging
// in again): that session must stay exactly as it is should the login give up before it takes
// the answer, so the login files the new session itself once it has the answer.
//
// Use: the waiter arms its AnswerWait with the fund account before the send; the answer
// handler checks IsPendingLoginAnswer before it acts on an accepted answer, hands it on with
// DeliverGrantedLogin (a refusal with DeliverLoginAnswer), and the waiter files a grant the
// handler left to it.
#pragma once

#include <spdlog/spdlog.h>

#include <cstdint>

#include "api_common/SessionFiling.h"
#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

// Which login a refusal may end.
enum class RefusalRule {
    kAnyLogin,          // the login in flight, whatever account the refusal names
    kNamedAccountOnly,  // the login of the account it names; one naming none, the login in flight
};

namespace login_answer_detail {

// Whether the answer may end a login that waits for another account.
inline bool EndsAnyLogin(uint64_t fund_account, int32_t error_code, RefusalRule rule) {
    return error_code != 0 && (rule == RefusalRule::kAnyLogin || fund_account == 0);
}

template <typename Answer>
bool Judge(const typename AnswerWait<Answer>::SoleDelivery& r, const char* who, uint64_t fund_account,
           int32_t error_code) {
    if (r.taken) return true;
    if (!r.armed) {
        spdlog::warn("[{}] login answer for fund account {} (error {}) while no login waits: dropped", who,
                     fund_account, error_code);
    } else {
        spdlog::warn("[{}] login answer for fund account {} (error {}) while fund account {} logs in: dropped", who,
                     fund_account, error_code, r.armed_key);
    }
    return false;
}

}  // namespace login_answer_detail

// True when the answer belongs to the login in flight (the rule above); logs under `who`
// (the handler's name) when it does not. Nothing is delivered.
template <typename Answer>
bool IsPendingLoginAnswer(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, int32_t error_code,
                          RefusalRule rule = RefusalRule::kAnyLogin) {
    const bool any = login_answer_detail::EndsAnyLogin(fund_account, error_code, rule);
    const auto r = wait.deliver_sole(fund_account, any, Answer{}, true);
    return login_answer_detail::Judge<Answer>(r, who, fund_account, error_code);
}

// Hands the answer to the login in flight (the rule above); false, logged, when it is not
// that login's.
template <typename Answer>
bool DeliverLoginAnswer(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, int32_t error_code,
                        const Answer& answer, RefusalRule rule = RefusalRule::kAnyLogin) {
    const bool any = login_answer_detail::EndsAnyLogin(fund_account, error_code, rule);
    const auto r = wait.deliver_sole(fund_account, any, answer);
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

// For an accepted answer of the login in flight, granting session_id (the rule above). When no
// session is filed under the id, file() files it here and returns its record (null: it could
// not be filed, and the login is refused), and unfile(record) takes it back should the login
// have given up meanwhile. Otherwise nothing is filed here: the login files the grant once it
// has taken the answer. answer.accepted and answer.filed (the record, or null) are set here.
template <typename Answer, typename File, typename Unfile>
bool DeliverGrantedLogin(AnswerWait<Answer>& wait, const char* who, uint64_t fund_account, uint64_t session_id,
                         Answer answer, File&& file, Unfile&& unfile) {
    answer.accepted = true;
    answer.filed = nullptr;
    if (SessionIdFiled(session_id)) return DeliverLoginAnswer(wait, who, fund_account, 0, answer);
    tagSessionInfo* record = file();
    if (record == nullptr) {
        answer.accepted = false;
        return DeliverLoginAnswer(wait, who, fund_account, 0, answer);
    }
    answer.filed = record;
    return DeliverFiledLogin(wait, who, fund_account, answer, [&] { unfile(record); });
}

}  // namespace API
}  // namespace OXA
