#include "infra/vorn/VornWindow.h"

#include <algorithm>

#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

uint32_t WindowSlots(int32_t window_size) {
    if (window_size <= 1) return 1;
    uint32_t p = 1;
    while (p <= static_cast<uint32_t>(window_size) / 2) p <<= 1;
    return p;
}

int32_t AckWatermark(int32_t window_size, int32_t ack_water_mark) {
    if (window_size < 2049) return 0;
    return std::max<int32_t>(0, std::min<int32_t>(ack_water_mark, 100));
}

// ---- send window -------------------------------------------------------------------------

CSendWindow::CSendWindow(uint32_t slots) : m_mask(slots ? slots - 1 : 0) {
    m_slots.assign(static_cast<std::size_t>(m_mask + 1) * kAppBufferSize, 0);
}

void CSendWindow::RaiseAcked(int32_t seq) {
    RaiseAckedTo(UnwrapSeq(seq, m_next.load(std::memory_order_acquire) - 1));
}

void CSendWindow::RaiseAckedTo(int64_t seq) {
    int64_t cur = m_acked.load(std::memory_order_relaxed);
    while (seq > cur && !m_acked.compare_exchange_weak(cur, seq, std::memory_order_acq_rel)) {
    }
}

bool CSendWindow::Full() const {
    return m_next.load(std::memory_order_relaxed) - m_base >= static_cast<int64_t>(m_mask);
}

void CSendWindow::RefreshBase() {
    const int64_t acked = Acked();
    if (acked >= m_base) m_base = acked + 1;
    if (m_next.load(std::memory_order_relaxed) < m_base) m_next.store(m_base, std::memory_order_release);
}

uint8_t* CSendWindow::NextSlot() {
    const uint32_t index = static_cast<uint32_t>(m_next.load(std::memory_order_relaxed)) & m_mask;
    return m_slots.data() + static_cast<std::size_t>(index) * kAppBufferSize;
}

void CSendWindow::Advance() { m_next.store(m_next.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

void CSendWindow::Reposition(int32_t c) {
    const int64_t at = UnwrapSeq(c, m_next.load(std::memory_order_relaxed) - 1);
    m_acked.store(at, std::memory_order_release);
    immediate_rack.store(-1, std::memory_order_relaxed);
    m_base = at + 1;
    m_next.store(at + 1, std::memory_order_release);
}

void CSendWindow::AcknowledgeAll() { RaiseAckedTo(m_next.load(std::memory_order_relaxed) - 1); }

CSendWindow::Stored CSendWindow::At(int64_t seq, const uint8_t*& data, std::size_t& length) const {
    const uint32_t index = static_cast<uint32_t>(seq) & m_mask;
    const uint8_t* slot = m_slots.data() + static_cast<std::size_t>(index) * kAppBufferSize;
    VornHeader h;
    if (!ReadHeader(slot, kAppBufferSize, h) || h.type != kPktApp || h.payload_length < 0 ||
        h.payload_length > kMaxAppData)
        return Stored::kMissing;
    if (h.sequence != WireSeq(seq)) return Stored::kOther;
    data = slot;
    length = kAppHeaderSize + static_cast<std::size_t>(h.payload_length);
    return Stored::kOk;
}

// ---- receive window ----------------------------------------------------------------------

CRecvWindow::CRecvWindow(uint32_t slots) : m_mask(slots ? slots - 1 : 0) {
    m_slots.assign(static_cast<std::size_t>(m_mask) + 1, nullptr);
    m_flags.assign(static_cast<std::size_t>(m_mask) + 1, 0);
}

CRecvWindow::~CRecvWindow() {
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        if (m_flags[i]) VornBuffer::Release(m_slots[i]);
}

CRecvWindow::Outcome CRecvWindow::Accept(VornBuffer* buffer, int32_t seq, int* moved) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (moved) *moved = 0;
    int64_t n = m_next.load(std::memory_order_relaxed);
    const int64_t s = UnwrapSeq(seq, n);
    if (s > n + m_mask) return Outcome::kBeyond;
    if (s < n) return Outcome::kDuplicate;
    m_positioned = true;
    Outcome outcome;
    if (s == n) {
        m_list.Append(buffer);
        int count = 1;
        ++n;
        while (n <= m_highest) {
            const std::size_t i = static_cast<uint32_t>(n) & m_mask;
            if (!m_flags[i]) break;
            m_list.Append(m_slots[i]);
            m_slots[i] = nullptr;
            m_flags[i] = 0;
            ++count;
            ++n;
        }
        m_next.store(n, std::memory_order_release);
        if (moved) *moved = count;
        outcome = Outcome::kDelivered;
    } else {
        const std::size_t i = static_cast<uint32_t>(s) & m_mask;
        if (m_flags[i]) return Outcome::kDuplicate;
        m_slots[i] = buffer;
        m_flags[i] = 1;
        if (s > m_highest) m_highest = s;
        outcome = Outcome::kBuffered;
    }
    const int64_t gap_end = m_gapEnd.load(std::memory_order_relaxed);
    if (n < m_highest && (gap_end < n || gap_end >= s)) RecomputeGapEnd();
    return outcome;
}

void CRecvWindow::RecomputeGapEnd() {
    const int64_t n = m_next.load(std::memory_order_relaxed);
    for (int64_t k = n + 1; k <= m_highest; ++k) {
        if (m_flags[static_cast<uint32_t>(k) & m_mask]) {
            m_gapEnd.store(k - 1, std::memory_order_release);
            return;
        }
    }
    m_gapEnd.store(n - 1, std::memory_order_release);  // no gap: below next expected
}

void CRecvWindow::Clear() {
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        if (m_flags[i]) VornBuffer::Release(m_slots[i]);
        m_slots[i] = nullptr;
        m_flags[i] = 0;
    }
    const int64_t n = m_next.load(std::memory_order_relaxed);
    m_gapEnd.store(n - 1, std::memory_order_release);  // no gap
    m_highest = n - 1;
}

void CRecvWindow::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Clear();
}

void CRecvWindow::Reset(int64_t next_floor) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t n = m_next.load(std::memory_order_relaxed);
    const int64_t floor = UnwrapSeq(WireSeq(next_floor), n);
    // a stream this window never took from may stand anywhere, also "behind" it
    if (!m_positioned || floor > n) m_next.store(floor, std::memory_order_release);
    m_positioned = true;
    Clear();
}

void CRecvWindow::AppendUnsequenced(VornBuffer* buffer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_list.Append(buffer);
}

int64_t CRecvWindow::HighestSeen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::max<int64_t>(m_highest, m_next.load(std::memory_order_relaxed) - 1);
}

std::size_t CRecvWindow::Buffered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (uint8_t f : m_flags) n += f;
    return n;
}

}  // namespace VORN
}  // namespace OXA
