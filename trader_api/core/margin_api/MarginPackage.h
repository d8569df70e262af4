// Readers of the record packages the margin server sends in its flow message 0x206: a
// window over the received bytes (CPackage), the flow message as head plus package
// (CSubResultPackage) and the walk over its records (CPackageIterator).
//
// A package record is {id uint16, length uint32, payload of that length}; its head is in the
// sender's byte order when the flag says so, its payload is handed on as received. The walk
// stops at a head cut short or at a length longer than the bytes left, so no payload ever
// reaches past the message. Nothing here writes: the readers never own or change the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/margin_api/MarginWire.h"

namespace OXA {
namespace API {
namespace MARGIN {

// A window [begin, end) over bytes someone else owns.
class CPackage {
public:
    CPackage() = default;
    CPackage(const char* begin, const char* end, bool swap) noexcept
        : m_begin(begin), m_end(end >= begin ? end : begin), m_swap(swap) {}

    // Takes n bytes off the front: their start, or null (nothing changes) when fewer are left.
    const char* Skip(std::size_t n) noexcept;

    const char* Begin() const noexcept { return m_begin; }
    const char* End() const noexcept { return m_end; }
    std::size_t Size() const noexcept { return static_cast<std::size_t>(m_end - m_begin); }
    bool Swap() const noexcept { return m_swap; }

private:
    const char* m_begin = nullptr;
    const char* m_end = nullptr;
    bool m_swap = false;
};

// One flow message 0x206 read over the received bytes without a copy: its head, then the
// package of records behind it.
class CSubResultPackage {
public:
    static constexpr int kHeadLength = static_cast<int>(kFlowHeadSize);

    // False when the message is shorter than its head (nothing is read then).
    CSubResultPackage(const char* data, std::size_t len, bool swap) noexcept;
    virtual ~CSubResultPackage() = default;

    bool HasHead() const noexcept { return m_hasHead; }
    const CreditFlowHead& Head() const noexcept { return m_head; }
    // The records after the head.
    const CPackage& Records() const noexcept { return m_package; }

private:
    CPackage m_package;
    CreditFlowHead m_head;
    bool m_hasHead = false;
};

// The walk over a package's records: Init, then Payload() until it is null, Next() between.
class CPackageIterator {
public:
    void Init(const char* begin, const char* end, bool swap) noexcept;
    void Next() noexcept;

    // The current record's payload; null once the walk is over.
    const char* Payload() const noexcept { return m_payload; }
    uint16_t Id() const noexcept { return m_id; }
    uint32_t Length() const noexcept { return m_length; }

private:
    uint16_t m_id = 0;
    uint32_t m_length = 0;
    const char* m_cursor = nullptr;
    const char* m_end = nullptr;
    const char* m_payload = nullptr;
    bool m_swap = false;
};

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
