#include "core/margin_api/MarginPackage.h"

namespace OXA {
namespace API {
namespace MARGIN {

const char* CPackage::Skip(std::size_t n) noexcept {
    if (n > Size()) return nullptr;
    const char* old = m_begin;
    m_begin += n;
    return old;
}

CSubResultPackage::CSubResultPackage(const char* data, std::size_t len, bool swap) noexcept
    : m_package(data, data ? data + len : data, swap) {
    m_hasHead = ReadFlowHead(data, len, swap, &m_head);
    if (m_hasHead) m_package.Skip(kFlowHeadSize);
}

void CPackageIterator::Init(const char* begin, const char* end, bool swap) noexcept {
    m_id = 0;
    m_length = 0;
    m_cursor = begin;
    m_end = end >= begin ? end : begin;
    m_payload = nullptr;
    m_swap = swap;
    Next();
}

void CPackageIterator::Next() noexcept {
    m_payload = nullptr;
    if (m_cursor == nullptr) return;
    const std::size_t left = static_cast<std::size_t>(m_end - m_cursor);
    WireReader r(m_cursor, left);
    const ByteOrder order = BodyOrder(m_swap);
    uint16_t id = 0;
    uint32_t length = 0;
    r.read(id, order);
    r.read(length, order);
    if (!r.ok() || length > r.remaining()) {
        m_cursor = m_end;  // cut short: the walk is over
        return;
    }
    m_id = id;
    m_length = length;
    m_payload = m_cursor + kPackageRecordHeadSize;
    m_cursor = m_payload + length;
}

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
