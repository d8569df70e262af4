// A send hook for bus tests: a table of rules that lose, delay or duplicate chosen datagrams,
// keyed on packet type, sequence and addressee, with a record of every datagram it saw.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "infra/vorn/SendPath.h"

namespace oxa_test {

struct BusSendRule {
    int type = -1;          // -1: any packet type
    int64_t sequence = -1;  // -1: any sequence
    int dst_group = -2;     // -2: any addressee group
    int dst_member = -2;    // -2: any addressee member
    OXA::VORN::SendVerdict verdict;
    int times = 1;          // how often it fires; -1 for ever
};

class BusSendFaults : public OXA::VORN::SendHook {
public:
    void Add(const BusSendRule& rule);
    // Loses the next n datagrams of a type (any sequence, any addressee).
    void DropNext(int type, int n);

    OXA::VORN::SendVerdict OnSend(const OXA::VORN::SendKey& key, const sockaddr_in& to) override;

    std::vector<OXA::VORN::SendKey> Seen() const;
    std::size_t SeenCount(int type) const;
    std::size_t Fired() const;

private:
    mutable std::mutex m_mutex;
    std::vector<BusSendRule> m_rules;
    std::vector<OXA::VORN::SendKey> m_seen;
    std::size_t m_fired = 0;
};

}  // namespace oxa_test
