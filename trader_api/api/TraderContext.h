// What a gateway connection (and the bus) carries back to the facade with every message.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

namespace OXA {
namespace API {

class TraderImpl;

struct TraderContext {
    // A business never logged in through this connection has no node yet.
    static constexpr int32_t kNoNode = -1;

    explicit TraderContext(TraderImpl* o) : owner(o) {
        for (auto& n : node_ids) n.store(kNoNode, std::memory_order_relaxed);
    }

    TraderImpl* owner;
    // By business index (0 spot, 1 margin, 2 option): node of the last session of that
    // business logged in through this connection.
    std::atomic<int32_t> node_ids[3];

    // Accounts registered for pushes on the connection's current link. An account's own
    // login and the re-registration of every account when a link comes up may meet on one
    // link (the on-connect thread can run late); each account is registered once per link.
    uint64_t PushLink() const {
        std::lock_guard<std::mutex> lock(m_mtxPush);
        return m_nPushLink;
    }
    bool PushRegistered(uint64_t account) const {
        std::lock_guard<std::mutex> lock(m_mtxPush);
        return m_pushAccounts.count(account) != 0;
    }
    // Only while `link` is still the current one: a registration answered just before its
    // link was lost must not spare the account its registration on the next link.
    void MarkPushRegistered(uint64_t account, uint64_t link) {
        std::lock_guard<std::mutex> lock(m_mtxPush);
        if (link == m_nPushLink) m_pushAccounts.insert(account);
    }
    // A logged-out account registers again at its next login.
    void ForgetPushRegistered(uint64_t account) {
        std::lock_guard<std::mutex> lock(m_mtxPush);
        m_pushAccounts.erase(account);
    }
    // The link went down: every account registers again on the next one.
    void OnLinkLost() {
        std::lock_guard<std::mutex> lock(m_mtxPush);
        ++m_nPushLink;
        m_pushAccounts.clear();
    }

private:
    mutable std::mutex m_mtxPush;
    uint64_t m_nPushLink = 0;
    std::set<uint64_t> m_pushAccounts;
};

}  // namespace API
}  // namespace OXA
