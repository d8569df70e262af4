#include "api/PushRegistry.h"

#include <algorithm>

#include "infra/utility/AnswerWait.h"

namespace OXA {
namespace API {

// Waiters are woken under the lock: one that returns may let its connection, and with it this
// registry, go at once.

void PushRegistry::Serve(uint64_t account) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_served.begin(), m_served.end(), account) == m_served.end()) m_served.push_back(account);
}

bool PushRegistry::Serves(uint64_t account) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::find(m_served.begin(), m_served.end(), account) != m_served.end();
}

void PushRegistry::Forget(uint64_t account) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_served.erase(std::remove(m_served.begin(), m_served.end(), account), m_served.end());
    m_states.erase(account);
}

std::vector<uint64_t> PushRegistry::Served() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_served;
}

void PushRegistry::LinkUp(uint64_t link, const std::vector<uint64_t>& sent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_link = link;
    m_linkUp = true;
    m_states.clear();
    for (uint64_t account : sent) m_states[account].carried = true;
    m_cv.notify_all();
}

void PushRegistry::LinkDown(uint64_t link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (link != m_link) return;
    m_linkUp = false;
    m_states.clear();
    m_cv.notify_all();
}

uint64_t PushRegistry::Link() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_link;
}

PushRegistry::Step PushRegistry::Start(uint64_t account, uint64_t* link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    *link = m_link;
    auto it = m_states.find(account);
    if (it != m_states.end()) {
        if (!it->second.answered && !it->second.abandoned) return Step::kInFlight;
        if (it->second.answered && it->second.error == 0) return Step::kRegistered;
        // a refusal is no registration, and one nobody waits for any more may be lost: this
        // attempt sends again
    }
    // On a link that is down the send fails; it is tracked on that link all the same.
    m_states[account] = State{};
    return Step::kSend;
}

void PushRegistry::Unsent(uint64_t account, uint64_t link) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (link != m_link) return;
    auto it = m_states.find(account);
    if (it != m_states.end() && !it->second.answered) m_states.erase(it);
}

bool PushRegistry::Deliver(uint64_t link, uint64_t account, int32_t error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Current(link)) return false;
    auto it = m_states.find(account);
    if (it == m_states.end() || it->second.answered) return false;
    it->second.answered = true;
    it->second.abandoned = false;
    it->second.error = error;
    m_cv.notify_all();
    return true;
}

bool PushRegistry::Deliver(uint64_t account, int32_t error) {
    uint64_t link;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        link = m_link;
    }
    return Deliver(link, account, error);
}

std::vector<uint64_t> PushRegistry::Carried(uint64_t link) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint64_t> out;
    if (!Current(link)) return out;
    for (const auto& kv : m_states)
        if (kv.second.carried && !kv.second.answered && !kv.second.abandoned) out.push_back(kv.first);
    return out;
}

PushRegistry::Outcome PushRegistry::Wait(uint64_t account, uint64_t link, Clock::time_point deadline,
                                         int32_t* error) {
    const WaitStop::Watch stop(WaitStop::Current(), m_mutex, m_cv);
    std::unique_lock<std::mutex> lock(m_mutex);
    // settled: answered, or no longer tracked (forgotten, or its link gone)
    auto settled = [&] {
        if (!Current(link)) return true;
        auto it = m_states.find(account);
        return it == m_states.end() || it->second.answered;
    };
    m_cv.wait_until(lock, deadline, [&] { return settled() || stop.Stopped(); });
    if (!Current(link)) return Outcome::kLinkLost;
    auto it = m_states.find(account);
    if (it == m_states.end()) return Outcome::kWithdrawn;
    if (it->second.answered) {
        if (error != nullptr) *error = it->second.error;
        return Outcome::kAnswered;
    }
    it->second.abandoned = true;
    return stop.Stopped() ? Outcome::kStopped : Outcome::kTimedOut;
}

}  // namespace API
}  // namespace OXA
