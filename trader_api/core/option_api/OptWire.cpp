#include "core/option_api/OptWire.h"

namespace OXA {
namespace API {
namespace OPT {

bool ReadRspHead(const char* data, std::size_t len, OptQueryRspHead* out) noexcept {
    *out = OptQueryRspHead{};
    WireReader r(data, len);
    uint8_t last = 0;
    r.read_host(out->session_no);
    r.read_host(out->request_id);
    r.read_host(last);
    r.read_host(out->error_code);
    r.read_host(out->record);
    r.read_host(out->total);
    r.read_host(out->record_size);
    if (!r.ok()) {
        *out = OptQueryRspHead{};
        return false;
    }
    out->is_last = last != 0;
    return true;
}

uint64_t RowsInside(uint64_t count, uint64_t len, uint64_t start, uint64_t stride, uint64_t need) noexcept {
    if (count == 0 || stride == 0 || stride < need || start > len || len - start < need) return 0;
    const uint64_t n = (len - start - need) / stride + 1;
    return n < count ? n : count;
}

void FormatDecimal(char* dst, std::size_t dst_size, bool negative, uint64_t magnitude,
                   std::size_t max_chars) noexcept {
    char digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits[n++] = '-';
    const std::size_t limit = max_chars < dst_size ? max_chars : dst_size;
    std::size_t out = 0;
    // the leading characters, as a cut printf would keep them
    while (out < limit && out < n) {
        dst[out] = digits[n - 1 - out];
        ++out;
    }
    for (std::size_t i = out; i < dst_size; ++i) dst[i] = 0;
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
