#include "api/SessionTables.h"

#include <cstdlib>
#include <new>
#include <type_traits>

#include "api/IdGenerator.h"

namespace OXA {
namespace API {

namespace detail {

// calloc: large blocks come as fresh zero pages, and the leak checker still sees what
// the rows point at.
void* AllocZeroed(std::size_t bytes) noexcept { return std::calloc(1, bytes); }

void FreeZeroed(void* block) noexcept { std::free(block); }

}  // namespace detail

namespace {

// What the tables own: the public record first, so a tagSessionInfo* from a table converts
// back to its SessionRecord.
struct SessionRecord {
    tagSessionInfo info;
    SessionNoKey key;
    bool has_key;
    // What the filing displaced from sessions still filed, put back when the filing is taken
    // back: the entry under the same key, and whether the account was listed under the node.
    tagSessionInfo* displaced_by_no;
    bool account_was_listed;
};
static_assert(std::is_standard_layout<SessionRecord>::value, "record must start with its info");

SessionRecord* RecordOf(tagSessionInfo* info) { return reinterpret_cast<SessionRecord*>(info); }

ApiSessionArray<tagSessionInfo*> g_sessionInfo;
ApiSessionArray<SeqNoReg*> g_seqNoReg;
SessionNoTable g_sessionNo;

// Serialises the writers; readers never take it.
std::mutex g_writeMutex;

// Records and registers taken out of the tables: never freed, since a request or handler may
// still be reading one; listed so they stay reachable.
struct Retired {
    std::vector<SessionRecord*> records;
    std::vector<SeqNoReg*> seq_regs;
};

// Built in static storage: building allocates nothing, and it is never destroyed (see the
// table globals).
Retired& RetiredList() {
    alignas(Retired) static unsigned char storage[sizeof(Retired)];
    static Retired* const list = new (storage) Retired;
    return *list;
}

template <typename T>
void Retire(std::vector<T*>& list, T* item) noexcept {
    try {
        list.push_back(item);
    } catch (...) {
        // Out of memory: keep the item alive for good rather than free it under a reader.
    }
}

}  // namespace

const ApiSessionArray<tagSessionInfo*>& _gArrSessionInfo = g_sessionInfo;
const ApiSessionArray<SeqNoReg*>& _gArrSeqNoReg = g_seqNoReg;
const SessionNoTable& _gArrSessionByNo = g_sessionNo;
NodeFundAccMap _gMapNodeFundAcc;

bool NodeFundAccMap::Add(uint32_t node_id, uint64_t fund_acc) noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        if (m_map == nullptr) m_map = new Map;
        (*m_map)[node_id].insert(fund_acc);
        return true;
    } catch (...) {
        return false;
    }
}

void NodeFundAccMap::Remove(uint32_t node_id, uint64_t fund_acc) noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_map == nullptr) return;
    auto it = m_map->find(node_id);
    if (it == m_map->end()) return;
    it->second.erase(fund_acc);
    if (it->second.empty()) m_map->erase(it);
}

bool NodeFundAccMap::Contains(uint32_t node_id, uint64_t fund_acc) const noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_map == nullptr) return false;
    auto it = m_map->find(node_id);
    return it != m_map->end() && it->second.count(fund_acc) != 0;
}

std::vector<uint64_t> NodeFundAccMap::Accounts(uint32_t node_id) const noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint64_t> copy;
    if (m_map == nullptr) return copy;
    auto it = m_map->find(node_id);
    if (it == m_map->end()) return copy;
    try {
        copy.assign(it->second.begin(), it->second.end());
    } catch (...) {
        copy.clear();
    }
    return copy;
}

void NodeFundAccMap::Clear() noexcept {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_map) m_map->clear();
}

tagSessionInfo* RegisterSession(const tagSessionInfo& info, const SessionNoKey* by_no,
                                bool with_seq_reg) {
    const uint64_t session_id = info.nApiSessionID;
    if (!ApiSessionArray<tagSessionInfo*>::InRange(session_id)) return nullptr;
    if (by_no && !SessionNoTable::InRange(by_no->nNodeId, by_no->nIndex)) return nullptr;

    auto* record = new (std::nothrow)
        SessionRecord{info, by_no ? *by_no : SessionNoKey{0, 0}, by_no != nullptr, nullptr, false};
    if (record == nullptr) return nullptr;

    std::lock_guard<std::mutex> lock(g_writeMutex);
    Retired& retired = RetiredList();

    // Allocate every row first, so that once publishing starts nothing can fail half-way.
    SeqNoReg* new_reg = nullptr;
    bool ready = g_sessionInfo.Reserve(session_id) &&
                 (by_no == nullptr || g_sessionNo.Reserve(by_no->nNodeId, by_no->nIndex));
    if (ready && with_seq_reg && g_seqNoReg.Get(session_id) == nullptr) {
        new_reg = new (std::nothrow) SeqNoReg;
        ready = new_reg != nullptr && g_seqNoReg.Reserve(session_id);
    }
    try {
        // Reserve room now: retiring below must not fail after the old record left the tables.
        if (retired.records.size() == retired.records.capacity())
            retired.records.reserve(retired.records.size() < 16 ? 16 : retired.records.size() * 2);
    } catch (...) {
        ready = false;
    }
    if (!ready) {
        delete new_reg;
        delete record;
        return nullptr;
    }

    const uint32_t node = GetNodeIdBySession(session_id);
    // listed for another session than the one this filing replaces
    const tagSessionInfo* replaced = g_sessionInfo.Get(session_id);
    record->account_was_listed = _gMapNodeFundAcc.Contains(node, info.nFundAcc) &&
                                 (replaced == nullptr || replaced->nFundAcc != info.nFundAcc);
    if (by_no) {
        tagSessionInfo* held = g_sessionNo.Get(by_no->nNodeId, by_no->nIndex);
        if (held != nullptr && held->nApiSessionID != session_id && g_sessionInfo.Get(held->nApiSessionID) == held)
            record->displaced_by_no = held;
    }

    if (new_reg) g_seqNoReg.Store(session_id, new_reg);
    SessionRecord* old = RecordOf(g_sessionInfo.Exchange(session_id, &record->info));
    if (by_no) g_sessionNo.Store(by_no->nNodeId, by_no->nIndex, &record->info);

    if (old != nullptr) {
        if (old->has_key) g_sessionNo.ClearIf(old->key.nNodeId, old->key.nIndex, &old->info);
        if (old->info.nFundAcc != info.nFundAcc) _gMapNodeFundAcc.Remove(node, old->info.nFundAcc);
        Retire(retired.records, old);
    }
    _gMapNodeFundAcc.Add(node, info.nFundAcc);
    return &record->info;
}

namespace {

// only: a filing taken back; the session is left alone unless its record is this one.
bool Unregister(uint64_t api_session_id, const tagSessionInfo* only, uint64_t* fund_acc) {
    if (fund_acc) *fund_acc = 0;
    if (!ApiSessionArray<tagSessionInfo*>::InRange(api_session_id)) return false;

    std::lock_guard<std::mutex> lock(g_writeMutex);
    Retired& retired = RetiredList();

    // every writer holds the mutex, so the record read here is the one taken out below
    if (only != nullptr && g_sessionInfo.Get(api_session_id) != only) return false;
    if (SeqNoReg* reg = g_seqNoReg.Exchange(api_session_id, nullptr)) Retire(retired.seq_regs, reg);

    SessionRecord* record = RecordOf(g_sessionInfo.Exchange(api_session_id, nullptr));
    if (record == nullptr) return false;
    // a filing taken back gives back what it displaced from sessions still filed
    tagSessionInfo* restore = nullptr;
    if (only != nullptr && record->displaced_by_no != nullptr &&
        g_sessionInfo.Get(record->displaced_by_no->nApiSessionID) == record->displaced_by_no)
        restore = record->displaced_by_no;
    if (record->has_key) g_sessionNo.ReplaceIf(record->key.nNodeId, record->key.nIndex, &record->info, restore);
    if (only == nullptr || !record->account_was_listed)
        _gMapNodeFundAcc.Remove(GetNodeIdBySession(api_session_id), record->info.nFundAcc);
    if (fund_acc) *fund_acc = record->info.nFundAcc;
    Retire(retired.records, record);
    return true;
}

}  // namespace

bool UnregisterSession(uint64_t api_session_id, uint64_t* fund_acc) {
    return Unregister(api_session_id, nullptr, fund_acc);
}

bool UnregisterSessionRecord(const tagSessionInfo* record) {
    return record != nullptr && Unregister(record->nApiSessionID, record, nullptr);
}

void ReleaseSessionTables() {
    std::lock_guard<std::mutex> lock(g_writeMutex);
    Retired& retired = RetiredList();

    // Retired, not freed: the application cannot know when the gateway's off-line command
    // releases the API, so a request (or a handler on another connection's io thread) may be
    // reading any of these records right now. They stay readable for the life of the process;
    // a record is a few dozen bytes, one per login.
    g_sessionInfo.ForEachSlot([&](std::atomic<tagSessionInfo*>& slot) {
        SessionRecord* record = RecordOf(slot.load(std::memory_order_acquire));
        if (record == nullptr) return;
        try {
            retired.records.push_back(record);
        } catch (...) {
            return;  // out of memory: leave it filed rather than lose track of it
        }
        slot.store(nullptr, std::memory_order_release);
        if (record->has_key) g_sessionNo.ClearIf(record->key.nNodeId, record->key.nIndex, &record->info);
    });
    g_seqNoReg.ForEachSlot([&](std::atomic<SeqNoReg*>& slot) {
        SeqNoReg* reg = slot.load(std::memory_order_acquire);
        if (reg == nullptr) return;
        try {
            retired.seq_regs.push_back(reg);
        } catch (...) {
            return;
        }
        slot.store(nullptr, std::memory_order_release);
    });
    // The rows stay too (a reader may hold a slot of one); the next logins reuse them.
    _gMapNodeFundAcc.Clear();
}

std::size_t RetiredSessionRecords() {
    std::lock_guard<std::mutex> lock(g_writeMutex);
    return RetiredList().records.size();
}

}  // namespace API
}  // namespace OXA
