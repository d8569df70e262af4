// A send hook for bus tests: a table of rules that lose, delay or duplicate chosen datagrams,
// keyed on packet type, sequence and addressee, with a record of every datagram it saw.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>
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
    double probability = 1; // the share of matching datagrams it fires on (seeded)
};

class BusSendFaults : public OXA::VORN::SendHook {
public:
    void Add(const BusSendRule& rule);
    // Loses the next n datagrams of a type (any sequence, any addressee).
    void DropNext(int type, int n);
    // Loses a share of every datagram of a type (-1: any), for ever.
    void DropShare(int type, double share);
    // Loses the first sending of each sequence first..last of a type.
    void DropRun(int type, int64_t first, int64_t last);
    void SetSeed(uint32_t seed);
    // Off: Seen keeps nothing (long runs).
    void SetRecord(bool on);
    void Clear();

    OXA::VORN::SendVerdict OnSend(const OXA::VORN::SendKey& key, const sockaddr_in& to) override;

    std::vector<OXA::VORN::SendKey> Seen() const;
    std::size_t SeenCount(int type) const;
    std::size_t Fired() const;

private:
    mutable std::mutex m_mutex;
    std::vector<BusSendRule> m_rules;
    std::vector<OXA::VORN::SendKey> m_seen;
    std::size_t m_fired = 0;
    std::mt19937 m_rng{1};
    bool m_record = true;
};

}  // namespace oxa_test
