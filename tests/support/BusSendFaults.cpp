#include "BusSendFaults.h"

namespace oxa_test {

using OXA::VORN::SendKey;
using OXA::VORN::SendVerdict;

void BusSendFaults::Add(const BusSendRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(rule);
}

void BusSendFaults::DropNext(int type, int n) {
    BusSendRule r;
    r.type = type;
    r.verdict.action = SendVerdict::kDrop;
    r.times = n;
    Add(r);
}

void BusSendFaults::DropShare(int type, double share) {
    BusSendRule r;
    r.type = type;
    r.verdict.action = SendVerdict::kDrop;
    r.times = -1;
    r.probability = share;
    Add(r);
}

void BusSendFaults::DropRun(int type, int64_t first, int64_t last) {
    for (int64_t s = first; s <= last; ++s) {
        BusSendRule r;
        r.type = type;
        r.sequence = s;
        r.verdict.action = SendVerdict::kDrop;
        r.times = 1;
        Add(r);
    }
}

void BusSendFaults::SetSeed(uint32_t seed) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rng.seed(seed);
}

void BusSendFaults::SetRecord(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record = on;
}

void BusSendFaults::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.clear();
    m_seen.clear();
    m_fired = 0;
}

SendVerdict BusSendFaults::OnSend(const SendKey& key, const sockaddr_in&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_record) m_seen.push_back(key);
    for (BusSendRule& r : m_rules) {
        if (r.times == 0) continue;
        if (r.type != -1 && r.type != key.type) continue;
        if (r.sequence != -1 && r.sequence != key.sequence) continue;
        if (r.dst_group != -2 && r.dst_group != key.dst_group_id) continue;
        if (r.dst_member != -2 && r.dst_member != key.dst_member_id) continue;
        if (r.probability < 1 && std::uniform_real_distribution<double>(0, 1)(m_rng) >= r.probability) continue;
        if (r.times > 0) --r.times;
        ++m_fired;
        return r.verdict;
    }
    return SendVerdict();
}

std::vector<SendKey> BusSendFaults::Seen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seen;
}

std::size_t BusSendFaults::SeenCount(int type) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const SendKey& k : m_seen)
        if (k.type == type) ++n;
    return n;
}

std::size_t BusSendFaults::Fired() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fired;
}

}  // namespace oxa_test
