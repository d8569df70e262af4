#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "api/SpeedControl.h"

namespace OXA {
namespace API {

// The record of one logged-in session. Written once before it is published, then only read.
struct tagSessionInfo {
    uint64_t nSessionID;      // the server's session number
    uint64_t nFundAcc;        // fund account
    uint16_t nClientID;       // the factory's client id
    uint16_t nFundAccIndex;   // fund index given by the server
    uint16_t nprotocol_type;  // socket type of the login: 1 TCP, 2 UDP
    uint64_t nLastOrderID;    // last order number given by the server at login
    uint64_t nApiSessionID;   // the session id Login returned
    int32_t nReserved;        // 0
};

// Highest push sequence number accepted for a session.
struct SeqNoReg {
    std::atomic<int32_t> first{0};
    std::atomic<int32_t> last{0};

    // Accepts seq only when it is above every number accepted before (one atomic maximum).
    bool RegSeqNo(int32_t seq) noexcept {
        int32_t seen = last.load(std::memory_order_acquire);
        while (seq > seen) {
            if (last.compare_exchange_weak(seen, seq, std::memory_order_seq_cst,
                                           std::memory_order_acquire)) {
                return true;
            }
        }
        return false;
    }
    void SetFirstSeqNo(int32_t seq) noexcept { first.store(seq, std::memory_order_release); }
    int32_t GetFirstSeqNo() const noexcept { return first.load(std::memory_order_acquire); }
};

namespace detail {

// Zero-filled memory for table rows; large rows are committed only where touched.
void* AllocZeroed(std::size_t bytes) noexcept;
void FreeZeroed(void* block) noexcept;

// kRows rows of kCols atomic pointers; a row is allocated on its first store. Readers never
// lock or allocate: a missing row or an index out of range reads null.
template <typename T, std::size_t kRows, std::size_t kCols>
class LazyPtrTable {
public:
    using Slot = std::atomic<T*>;

    constexpr LazyPtrTable() noexcept : m_rows{} {}
    LazyPtrTable(const LazyPtrTable&) = delete;
    LazyPtrTable& operator=(const LazyPtrTable&) = delete;

    T* Load(std::size_t row, std::size_t col) const noexcept {
        const Slot* slot = Find(row, col);
        return slot ? slot->load(std::memory_order_acquire) : nullptr;
    }

    const Slot* Find(std::size_t row, std::size_t col) const noexcept {
        if (row >= kRows || col >= kCols) return nullptr;
        const Slot* cells = m_rows[row].load(std::memory_order_acquire);
        return cells ? cells + col : nullptr;
    }
    Slot* Find(std::size_t row, std::size_t col) noexcept {
        return const_cast<Slot*>(static_cast<const LazyPtrTable*>(this)->Find(row, col));
    }

    // The slot, allocating its row if needed; null when out of range or out of memory.
    Slot* Obtain(std::size_t row, std::size_t col) noexcept {
        if (row >= kRows || col >= kCols) return nullptr;
        Slot* cells = m_rows[row].load(std::memory_order_acquire);
        if (cells == nullptr) {
            Slot* fresh = static_cast<Slot*>(AllocZeroed(kRowBytes));
            if (fresh == nullptr) return nullptr;
            if (m_rows[row].compare_exchange_strong(cells, fresh, std::memory_order_acq_rel,
                                                    std::memory_order_acquire)) {
                cells = fresh;
            } else {
                FreeZeroed(fresh);  // another thread allocated it first
            }
        }
        return cells + col;
    }

    // Calls f(slot) for every slot of every row in use.
    template <typename F>
    void ForEachSlot(F&& f) noexcept {
        for (std::size_t row = 0; row < kRows; ++row) {
            Slot* cells = m_rows[row].load(std::memory_order_acquire);
            if (cells == nullptr) continue;
            for (std::size_t col = 0; col < kCols; ++col) f(cells[col]);
        }
    }

    // Frees every row. Only when no thread can still hold a slot of them (the process-wide
    // tables never do).
    void FreeRows() noexcept {
        for (auto& row : m_rows) {
            Slot* cells = row.exchange(nullptr, std::memory_order_acq_rel);
            if (cells) FreeZeroed(cells);
        }
    }

    std::size_t RowsInUse() const noexcept {
        std::size_t n = 0;
        for (const auto& row : m_rows) n += row.load(std::memory_order_acquire) != nullptr;
        return n;
    }

private:
    static constexpr std::size_t kRowBytes = kCols * sizeof(Slot);
    static_assert(sizeof(Slot) == sizeof(T*) && Slot::is_always_lock_free,
                  "a zero-filled row must read as null pointers");

    std::atomic<Slot*> m_rows[kRows];
};

}  // namespace detail

template <typename P>
class ApiSessionArray;

// Pointers indexed by session id (node << 16 | fund index): one row per node 0..255, one
// slot per fund index 0..65535, rows allocated on first use. The index is the low 32 bits of
// the session id; one above 0xffffff reads null and is never written.
template <typename T>
class ApiSessionArray<T*> {
public:
    static constexpr uint32_t kNodes = 256;
    static constexpr uint32_t kFundIndexes = 65536;
    static constexpr uint64_t kCapacity = uint64_t{kNodes} * kFundIndexes;  // 0x1000000

    constexpr ApiSessionArray() noexcept = default;

    static bool InRange(uint64_t session_id) noexcept {
        return static_cast<uint32_t>(session_id) < kCapacity;
    }

    T* Get(uint64_t session_id) const noexcept {
        const uint32_t index = static_cast<uint32_t>(session_id);
        return m_table.Load(index >> 16, index & 0xffff);
    }
    T* operator[](uint64_t session_id) const noexcept { return Get(session_id); }

    // False when the session id is beyond the table (nothing written).
    bool Store(uint64_t session_id, T* value) noexcept {
        typename Table::Slot* slot = SlotFor(session_id, value != nullptr);
        if (slot == nullptr) return value == nullptr && InRange(session_id);
        slot->store(value, std::memory_order_release);
        return true;
    }

    // Puts value in the slot and returns what it held (null beyond the table).
    T* Exchange(uint64_t session_id, T* value) noexcept {
        typename Table::Slot* slot = SlotFor(session_id, value != nullptr);
        return slot ? slot->exchange(value, std::memory_order_acq_rel) : nullptr;
    }

    // Stores desired only when the slot still holds expected; otherwise expected receives
    // what the slot holds. False (expected null) beyond the table.
    bool CompareExchange(uint64_t session_id, T*& expected, T* desired) noexcept {
        typename Table::Slot* slot = SlotFor(session_id, true);
        if (slot == nullptr) {
            expected = nullptr;
            return false;
        }
        return slot->compare_exchange_strong(expected, desired, std::memory_order_acq_rel,
                                             std::memory_order_acquire);
    }

    // Allocates the row of the session's slot; false beyond the table or out of memory.
    bool Reserve(uint64_t session_id) noexcept { return SlotFor(session_id, true) != nullptr; }

    template <typename F>
    void ForEachSlot(F&& f) noexcept { m_table.ForEachSlot(static_cast<F&&>(f)); }
    void FreeRows() noexcept { m_table.FreeRows(); }
    std::size_t RowsInUse() const noexcept { return m_table.RowsInUse(); }

private:
    using Table = detail::LazyPtrTable<T, kNodes, kFundIndexes>;

    // Storing null never allocates a row.
    typename Table::Slot* SlotFor(uint64_t session_id, bool make_row) noexcept {
        const uint32_t index = static_cast<uint32_t>(session_id);
        if (index >= kCapacity) return nullptr;
        return make_row ? m_table.Obtain(index >> 16, index & 0xffff)
                       : m_table.Find(index >> 16, index & 0xffff);
    }

    Table m_table;
};

// Session records by node and by the server's session number, for the answer and push
// handlers; the index within a node comes from the wire and is bounded on store and lookup.
class SessionNoTable {
public:
    static constexpr uint32_t kNodes = 256;
    static constexpr uint64_t kEntriesPerNode = 1u << 20;  // 1,048,576

    constexpr SessionNoTable() noexcept = default;

    tagSessionInfo* Get(uint64_t node_id, uint64_t index) const noexcept {
        return m_table.Load(node_id, index);
    }
    static bool InRange(uint64_t node_id, uint64_t index) noexcept {
        return node_id < kNodes && index < kEntriesPerNode;
    }
    // Allocates the node's row; false when out of range or out of memory.
    bool Reserve(uint64_t node_id, uint64_t index) noexcept {
        return m_table.Obtain(node_id, index) != nullptr;
    }
    // False (nothing written) when out of range.
    bool Store(uint64_t node_id, uint64_t index, tagSessionInfo* record) noexcept {
        Table::Slot* slot = record ? m_table.Obtain(node_id, index) : m_table.Find(node_id, index);
        if (slot == nullptr) return record == nullptr && InRange(node_id, index);
        slot->store(record, std::memory_order_release);
        return true;
    }
    // Clears the entry only while it still holds record.
    void ClearIf(uint64_t node_id, uint64_t index, tagSessionInfo* record) noexcept {
        ReplaceIf(node_id, index, record, nullptr);
    }
    // Puts desired in the entry only while it still holds expected.
    void ReplaceIf(uint64_t node_id, uint64_t index, tagSessionInfo* expected, tagSessionInfo* desired) noexcept {
        Table::Slot* slot = m_table.Find(node_id, index);
        if (slot) slot->compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
    }
    void FreeRows() noexcept { m_table.FreeRows(); }
    std::size_t RowsInUse() const noexcept { return m_table.RowsInUse(); }

private:
    using Table = detail::LazyPtrTable<tagSessionInfo, kNodes, kEntriesPerNode>;
    Table m_table;
};

// Fund accounts by node, for registering pushes again after a reconnection.
class NodeFundAccMap {
public:
    constexpr NodeFundAccMap() noexcept = default;
    NodeFundAccMap(const NodeFundAccMap&) = delete;
    NodeFundAccMap& operator=(const NodeFundAccMap&) = delete;

    bool Add(uint32_t node_id, uint64_t fund_acc) noexcept;  // false: out of memory
    void Remove(uint32_t node_id, uint64_t fund_acc) noexcept;
    bool Contains(uint32_t node_id, uint64_t fund_acc) const noexcept;
    // A copy of the node's accounts in ascending order; walk it, not the map.
    std::vector<uint64_t> Accounts(uint32_t node_id) const noexcept;
    void Clear() noexcept;

private:
    using Map = std::unordered_map<uint32_t, std::set<uint64_t>>;
    mutable std::mutex m_mutex;
    Map* m_map = nullptr;  // created on first Add, kept for the life of the process
};

// Process-wide tables, alive from load to exit (never destroyed, so a thread still running
// at exit never meets a destroyed table). Read-only views: sessions enter and leave them
// only through RegisterSession and UnregisterSession, speed entries through CSpeedControl.
extern const ApiSessionArray<tagSessionInfo*>& _gArrSessionInfo;
extern const ApiSessionArray<SeqNoReg*>& _gArrSeqNoReg;
extern const ApiSessionArray<STFundSpContral*>& _gArrSpeedCtrl;  // the session's pair, by CtrlType
extern const SessionNoTable& _gArrSessionByNo;
extern NodeFundAccMap _gMapNodeFundAcc;

// Where a back-end files a session under the server's session number in _gArrSessionByNo.
struct SessionNoKey {
    uint64_t nNodeId;  // 0..255
    uint64_t nIndex;   // 0..1048575, by the back-end's own rule
};

// Files a logged-in session in every table: a new record (a copy of info) in
// _gArrSessionInfo at info.nApiSessionID and, when by_no is given, in _gArrSessionByNo;
// its account under its node in _gMapNodeFundAcc; a push sequence register unless the
// session has one (with_seq_reg). A record it replaces is taken out of every table and
// retired. Returns the record, or null (nothing changed) when the session id or the key
// is out of range.
tagSessionInfo* RegisterSession(const tagSessionInfo& info, const SessionNoKey* by_no,
                                bool with_seq_reg);

// Takes the session out of every table (record, entry by session number, sequence
// register, account) and retires what it held: a request or handler that already read a
// pointer may go on reading it. Returns whether a record was there; its fund account goes
// to *fund_acc (0 when none). Speed control entries stay.
bool UnregisterSession(uint64_t api_session_id, uint64_t* fund_acc = nullptr);

// Takes back the filing of record, which no login took, while the tables still hold it (a later
// filing of the session id is left alone): it leaves every table, and the session-number entry
// and the account listing it displaced from sessions still filed are put back. Returns whether
// it was taken out.
bool UnregisterSessionRecord(const tagSessionInfo* record);

// Takes every session out of every table and clears _gMapNodeFundAcc, for TraderApi::Release;
// the speed control entries stay. Nothing is freed: Release may come at any moment (the
// gateway's off-line command), while requests and handlers still read records, so retired
// records, sequence registers and table rows are kept for the life of the process.
void ReleaseSessionTables();

// How many records have been retired so far (they are never freed).
std::size_t RetiredSessionRecords();

}  // namespace API
}  // namespace OXA
