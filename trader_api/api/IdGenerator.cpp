#include "api/IdGenerator.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <new>

#include "api/SessionTables.h"

namespace OXA {
namespace API {

namespace {
constexpr std::size_t kBlockBytes = CIdGenerator::kFundIndexes * sizeof(std::atomic<uint64_t>);
static_assert(std::atomic<uint64_t>::is_always_lock_free, "a zero-filled block must read as 0");
}  // namespace

CIdGenerator::~CIdGenerator() {
    for (auto& block : m_blocks) detail::FreeZeroed(block.exchange(nullptr));
}

bool CIdGenerator::InitOrderId(uint64_t session_id, uint32_t start) noexcept {
    if (session_id >= uint64_t{kNodes} * kFundIndexes) return false;
    const uint8_t node = GetNodeIdBySession(session_id);
    std::atomic<uint64_t>* block = m_blocks[node].load(std::memory_order_acquire);
    if (block == nullptr) {
        auto* fresh = static_cast<std::atomic<uint64_t>*>(detail::AllocZeroed(kBlockBytes));
        if (fresh == nullptr) return false;
        if (m_blocks[node].compare_exchange_strong(block, fresh, std::memory_order_acq_rel,
                                                   std::memory_order_acquire)) {
            block = fresh;
        } else {
            detail::FreeZeroed(fresh);
        }
    }
    const uint64_t client = static_cast<uint64_t>(GetClientId()) & 0xff;
    std::atomic<uint64_t>& counter = block[GetFundIndexBySession(session_id)];
    uint64_t before = counter.load(std::memory_order_acquire);
    uint64_t seq = start;
    // a CAS, not a store: requests of the session may be taking ids meanwhile
    do {
        seq = start;
        if ((before & kSetBit) != 0) seq = std::max<uint64_t>(seq, before & kSequenceMask);
    } while (!counter.compare_exchange_weak(before, kSetBit | client << kClientShift | seq,
                                            std::memory_order_seq_cst, std::memory_order_acquire));
    if (seq != start)
        spdlog::info("[{}] session {} keeps its order ids above {}, not from {}", "InitOrderId", session_id,
                     seq, start);
    return true;
}

void CIdGenerator::ForgetCounters() noexcept {
    for (auto& slot : m_blocks) {
        std::atomic<uint64_t>* block = slot.load(std::memory_order_acquire);
        if (block == nullptr) continue;
        for (uint32_t i = 0; i < kFundIndexes; ++i) block[i].store(0, std::memory_order_relaxed);
    }
}

CIdManager::~CIdManager() { delete[] m_pLastIds; }

int CIdManager::Init(int fund_index, int node_id) {
    m_nFundIndex = static_cast<uint16_t>(fund_index);
    m_nNodeId = static_cast<uint16_t>(node_id);
    if (m_pLastIds == nullptr) m_pLastIds = new (std::nothrow) uint64_t[256]();
    return 0;
}

uint64_t CIdManager::GetLastEtsId(uint8_t client_id) const {
    return m_pLastIds ? m_pLastIds[client_id] : 0;
}

bool CIdManager::RegEtsId(uint64_t id) {
    const uint32_t node = GetNodeIdByOXAID(id);
    spdlog::trace("{} nEtsId {:x} nNodeId {}", "RegEtsId", id, node);
    if (m_pLastIds == nullptr || node != m_nNodeId) return false;
    const uint32_t fund_index = GetFundIndexByOXAID(id);
    spdlog::trace("{} nEtsId {:x} nNodeId {} nFundIndex {}", "RegEtsId", id, node, fund_index);
    if (fund_index != m_nFundIndex) return false;
    const uint8_t client = GetClientIdByOXAID(id);
    spdlog::trace("{} nEtsId {:x} nNodeId {} nFundIndex {} nClientId {} nLastEtsId {:x}", "RegEtsId", id,
                 node, fund_index, client, m_pLastIds[client]);
    if (m_pLastIds[client] >= id) return false;
    m_pLastIds[client] = id;
    return true;
}

bool CIdManager::RegEtsId(uint64_t id, int fund_index, int client_id) {
    if (m_pLastIds == nullptr) return false;
    if (static_cast<uint16_t>(fund_index) != m_nFundIndex) {
        spdlog::error("[CIdManager::{}] nEtsID[{:x}] m_nFundIndex[{}] nFundIndex {}", "RegEtsId", id,
                      m_nFundIndex, fund_index);
        return false;
    }
    const uint8_t client = static_cast<uint8_t>(client_id);
    spdlog::trace("[CIdManager::{}] nEtsID[{:x}] nFundIndex[{}] nClientId[{}] nLastEtsId {:x}", "RegEtsId", id,
                  fund_index, client_id, m_pLastIds[client]);
    const uint64_t seq = GetSeqByOXAID(id);
    if (m_pLastIds[client] >= seq) return false;
    m_pLastIds[client] = seq;
    return true;
}

}  // namespace API
}  // namespace OXA
