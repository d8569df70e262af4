// The option business's inbound wire: its message ids, the 31-byte head of the replay and query
// answers, and a bounded view of one received record.
//
// Every read goes through a RecordView bounded by the bytes the record really has: a field that
// does not fit reads as zero (a text as empty), so a record cut short never reads past its
// message. Rows of an answer are located with 64-bit arithmetic and counted only while they lie
// wholly inside the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace OPT {

// Source path the driver's log lines name.
constexpr const char* kDriverSource = "trader_api/core/option_api/CTradeDriver";

// The option message ids the router hands over: 1024 to 1535 and 0x22000 to 0x22FFF.
constexpr uint32_t kMsgRangeLow = 0x400;
constexpr uint32_t kMsgRangeLowEnd = 0x600;
constexpr uint32_t kMsgRangeHigh = 0x22000;
constexpr uint32_t kMsgRangeHighEnd = 0x23000;
constexpr bool IsOptionMsgId(uint32_t id) {
    return (id >= kMsgRangeLow && id < kMsgRangeLowEnd) || (id >= kMsgRangeHigh && id < kMsgRangeHighEnd);
}

// Pushes (answers to order-like requests).
constexpr uint32_t kMsgOrderPush = 0x502;
constexpr uint32_t kMsgCancelPush = 0x506;
constexpr uint32_t kMsgLockPush = 0x508;
constexpr uint32_t kMsgCombOrderPush = 0x50a;
constexpr uint32_t kMsgExecutePush = 0x50c;
constexpr uint32_t kMsgCombinedExecutePush = 0x50e;
constexpr uint32_t kMsgTradePush = 0x510;
constexpr uint32_t kMsgCombTradePush = 0x511;
constexpr uint32_t kMsgFundTransferPush = 0x565;

// The bytes each push handler reads (its last field's end); a shorter push is dropped.
constexpr std::size_t kOrderPushNeed = 439;
constexpr std::size_t kCancelPushNeed = 394;
constexpr std::size_t kLockPushNeed = 292;
constexpr std::size_t kCombOrderPushNeed = 327;
constexpr std::size_t kExecutePushNeed = 425;
constexpr std::size_t kCombinedExecutePushNeed = 615;
constexpr std::size_t kTradePushNeed = 185;
constexpr std::size_t kCombTradePushNeed = 230;
constexpr std::size_t kFundTransferPushNeed = 118;

// The head of the replay answer 0x56a and of every query answer.
constexpr std::size_t kRspHeadSize = 31;
struct OptQueryRspHead {
    uint64_t session_no = 0;
    uint64_t request_id = 0;
    bool is_last = false;
    int32_t error_code = 0;
    int16_t record = 0;
    uint32_t total = 0;
    uint32_t record_size = 0;
};
// False (head zeroed) when the message is shorter than the head.
bool ReadRspHead(const char* data, std::size_t len, OptQueryRspHead* out) noexcept;

// Rows of stride bytes from start that each need need bytes and lie wholly inside len (at most
// count). A stride below need, or below 1, fits nothing.
uint64_t RowsInside(uint64_t count, uint64_t len, uint64_t start, uint64_t stride, uint64_t need) noexcept;

// A received record of len bytes. Reads outside it give zero.
class RecordView {
public:
    RecordView() noexcept : m_data(nullptr), m_len(0) {}
    RecordView(const char* data, std::size_t len) noexcept : m_data(data), m_len(data ? len : 0) {}

    template <typename T>
    T At(std::size_t off) const noexcept {
        T v{};
        WireReader r(m_data, m_len);
        if (r.seek(off)) r.read_host(v);
        return v;
    }
    char Char(std::size_t off) const noexcept { return At<char>(off); }
    // The low 32 bits of the 64-bit field at off.
    uint32_t Low32(std::size_t off) const noexcept { return static_cast<uint32_t>(At<uint64_t>(off)); }

    // A text of at most width bytes at off (ending earlier at a NUL), cut to fit dst with its
    // terminator; only the bytes the record has are read.
    void Text(char* dst, std::size_t dst_size, std::size_t off, std::size_t width) const noexcept {
        CopyText(dst, dst_size, off < m_len ? m_data + off : nullptr, Avail(off, width));
    }
    template <std::size_t N>
    void Text(char (&dst)[N], std::size_t off, std::size_t width) const noexcept {
        Text(dst, N, off, width);
    }
    // n bytes at off copied as they are; the bytes the record lacks stay zero.
    void Bytes(void* dst, std::size_t off, std::size_t n) const noexcept {
        std::memset(dst, 0, n);
        const std::size_t have = Avail(off, n);
        if (have) std::memcpy(dst, m_data + off, have);
    }

    const char* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_len; }

private:
    std::size_t Avail(std::size_t off, std::size_t want) const noexcept {
        if (off >= m_len) return 0;
        const std::size_t left = m_len - off;
        return want < left ? want : left;
    }

    const char* m_data;
    std::size_t m_len;
};

// Decimal text of a number into a field of N bytes: at most max_chars characters, the rest
// zero (so a text shorter than the field ends with a NUL; one of N characters fills it).
template <std::size_t N>
void DecimalText(char (&dst)[N], int64_t value, std::size_t max_chars) noexcept;
template <std::size_t N>
void DecimalTextUnsigned(char (&dst)[N], uint64_t value, std::size_t max_chars) noexcept;

void FormatDecimal(char* dst, std::size_t dst_size, bool negative, uint64_t magnitude,
                   std::size_t max_chars) noexcept;

template <std::size_t N>
void DecimalText(char (&dst)[N], int64_t value, std::size_t max_chars) noexcept {
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    FormatDecimal(dst, N, negative, magnitude, max_chars);
}
template <std::size_t N>
void DecimalTextUnsigned(char (&dst)[N], uint64_t value, std::size_t max_chars) noexcept {
    FormatDecimal(dst, N, false, value, max_chars);
}

// a - b without signed overflow (the wire may carry any quantities).
inline int64_t WrappingSub(int64_t a, int64_t b) noexcept {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
