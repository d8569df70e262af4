#pragma once

#include <atomic>
#include <cstdint>

namespace OXA {
namespace API {

// Session id: node << 16 | fund index (bits 23-16, 15-0).
// Order id (OXAID): node (63-56) | fund index (55-40) | client id (39-32) | sequence (31-0),
// so OXAID >> 40 is the session id of the order.
inline uint8_t GetNodeIdByOXAID(uint64_t id) { return static_cast<uint8_t>(id >> 56); }
inline uint16_t GetFundIndexByOXAID(uint64_t id) { return static_cast<uint16_t>(id >> 40); }
inline uint8_t GetClientIdByOXAID(uint64_t id) { return static_cast<uint8_t>(id >> 32); }
inline uint32_t GetSeqByOXAID(uint64_t id) { return static_cast<uint32_t>(id); }
inline uint64_t GetSessionIdByOXAID(uint64_t id) { return id >> 40; }
inline uint8_t GetNodeIdBySession(uint64_t session_id) { return static_cast<uint8_t>(session_id >> 16); }
inline uint16_t GetFundIndexBySession(uint64_t session_id) { return static_cast<uint16_t>(session_id); }

class CIdProcessor {
public:
    virtual ~CIdProcessor() = default;
};

// Order-id counters of one back-end, one per (node, fund index), set at login and then
// advanced atomically from any thread.
//
// Within one process an id is handed out once: a login moves its counter forward, never back
// (ids taken between the login request and its answer, or a gateway that answers every login
// with the same first number, would otherwise come round again), and an id never leaves its
// (node, fund index, client id) prefix: once the 32-bit sequence is spent the session gets no
// more ids, rather than running into the next client id's.
class CIdGenerator : public CIdProcessor {
public:
    static constexpr uint32_t kNodes = 256;
    static constexpr uint32_t kFundIndexes = 65536;
    static constexpr uint64_t kLastSequence = 0xffffffffu;

    // Why NextOrderId handed out no id.
    enum class Refusal : uint8_t {
        NotSet,  // the session's counter was never set (no login answer)
        Spent,   // the session's sequence reached kLastSequence; no login brings it back
    };

    explicit CIdGenerator(int32_t client_id) noexcept : m_nClientId(client_id), m_blocks{} {}
    ~CIdGenerator() override;
    CIdGenerator(const CIdGenerator&) = delete;
    CIdGenerator& operator=(const CIdGenerator&) = delete;

    // The next id carries start + 1, or more when the session's counter is further on already;
    // its client id byte is the generator's current one. False (nothing set) for a session id
    // above 0xffffff or when out of memory.
    bool InitOrderId(uint64_t session_id, uint32_t start) noexcept;

    // The next order id of the session; 0 when there is none, with the reason in *why.
    uint64_t NextOrderId(uint64_t session_id, Refusal* why = nullptr) noexcept {
        if (session_id >= uint64_t{kNodes} * kFundIndexes) return Refuse(why, Refusal::NotSet);
        return NextOrderIdAt(GetNodeIdBySession(session_id), GetFundIndexBySession(session_id), why);
    }
    uint64_t NextOrderIdAt(uint8_t node, uint16_t fund_index, Refusal* why = nullptr) noexcept {
        std::atomic<uint64_t>* block = m_blocks[node].load(std::memory_order_acquire);
        if (block == nullptr) return Refuse(why, Refusal::NotSet);
        // One add on the hot path. The sequence has room far above 32 bits, so a spent
        // session's refused requests never carry into its client id, and it stays spent.
        const uint64_t before = block[fund_index].fetch_add(1, std::memory_order_acq_rel);
        if ((before & kSetBit) == 0) return Refuse(why, Refusal::NotSet);
        const uint64_t seq = (before & kSequenceMask) + 1;
        if (seq > kLastSequence) return Refuse(why, Refusal::Spent);
        const uint64_t client = (before >> kClientShift) & 0xff;
        return (uint64_t{node} << 16 | fund_index) << 40 | client << 32 | seq;
    }

    int32_t GetClientId() const noexcept { return m_nClientId.load(std::memory_order_acquire); }
    void SetClientId(int32_t client_id) noexcept { m_nClientId.store(client_id, std::memory_order_release); }

    // Every counter back to never set, as in a fresh process. For tests, between tests: no id
    // may be taken or set meanwhile.
    void ForgetCounters() noexcept;

private:
    // A counter: set flag (63), client id byte (62-55), last sequence handed out (54-0).
    static constexpr uint64_t kSetBit = uint64_t{1} << 63;
    static constexpr int kClientShift = 55;
    static constexpr uint64_t kSequenceMask = (uint64_t{1} << kClientShift) - 1;

    static uint64_t Refuse(Refusal* why, Refusal reason) noexcept {
        if (why != nullptr) *why = reason;
        return 0;
    }

    std::atomic<int32_t> m_nClientId;
    std::atomic<std::atomic<uint64_t>*> m_blocks[kNodes];  // by node, each kFundIndexes counters
};

// Highest order id seen per client id for one (node, fund index).
class CIdManager : public CIdProcessor {
public:
    CIdManager() = default;
    ~CIdManager() override;
    CIdManager(const CIdManager&) = delete;
    CIdManager& operator=(const CIdManager&) = delete;

    int Init(int fund_index, int node_id);
    uint64_t GetLastEtsId(uint8_t client_id) const;

    // Accepts an id of this node and fund index that is above the client's last one.
    bool RegEtsId(uint64_t id);
    // Same by explicit fund index and client id, keeping the low 32 bits of the id.
    bool RegEtsId(uint64_t id, int fund_index, int client_id);

private:
    uint16_t m_nFundIndex = 0;
    uint16_t m_nNodeId = 0;
    uint64_t* m_pLastIds = nullptr;  // 256, by client id
};

}  // namespace API
}  // namespace OXA
