// Reading the records of a query answer, the rules every back-end's answer handlers share:
// which of count records laid out stride bytes apart lie wholly inside the message, and the
// bounded reads of a scalar or a text at an offset of a record. The count, the stride and the
// offsets are taken in 64 bits, so no value a sender writes can wrap them, and no read goes past
// the block it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "infra/utility/AnswerWait.h"  // CopyText
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

// How many of count records, each needing need bytes, fit from start in len bytes (0 when the
// stride is shorter than a record needs).
constexpr uint64_t RecordsThatFit(uint64_t count, uint64_t len, uint64_t start, uint64_t stride,
                                  uint64_t need) noexcept {
    if (count == 0 || stride == 0 || stride < need || start > len || need > len - start) return 0;
    const uint64_t n = (len - start - need) / stride + 1;
    return n < count ? n : count;
}

// The host-order scalar at off of a block of len bytes; 0 when it does not fit.
template <typename T>
T ScalarAt(const char* data, std::size_t len, std::size_t off) noexcept {
    T v{};
    WireReader r(data, len);
    if (r.seek(off)) r.read_host(v);
    return v;
}

// A text of at most width bytes at off of a block of len bytes, into a field it is cut to and
// ends inside (zeroed behind the text, and all zero when the text lies outside the block).
template <std::size_t N>
void TextAt(char (&dst)[N], const char* data, std::size_t len, std::size_t off, std::size_t width) noexcept {
    if (data == nullptr || off >= len) {
        std::memset(dst, 0, N);
        return;
    }
    const std::size_t avail = len - off;
    CopyText(dst, data + off, width < avail ? width : avail);
}

}  // namespace API
}  // namespace OXA
