// Checks IsValidUtf8 against a second, table-driven reading of the same rule, on the whole
// input and on the lengths that cut its tail (every length for short inputs); the input
// buffer is exactly its size, so a read past the length is caught.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "api_common/code_common/FileHelper.h"

namespace {

// Bytes in the sequence a byte starts: 0 for a continuation byte.
size_t SequenceLength(uint8_t b) {
    if (b < 0x80) return 1;
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    if (b < 0xF8) return 4;
    if (b < 0xFC) return 5;
    if (b < 0xFE) return 6;
    return b == 0xFE ? 7 : 8;
}

bool Reference(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size;) {
        const size_t length = SequenceLength(data[i]);
        if (length == 0 || size - i < length) return false;
        for (size_t k = 1; k < length; ++k)
            if ((data[i + k] >> 6) != 2) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT_MAX) return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const size_t shortest = size <= 64 ? 0 : size - 8;
    for (size_t n = shortest; n <= size; ++n) {
        if (OXA::API::IsValidUtf8(text, static_cast<int>(n)) != Reference(data, n)) std::abort();
    }
    for (size_t i = 0; i < size; ++i) {
        const int lead = OXA::API::Utf8LeadByteLength(data[i]);
        const size_t expected = SequenceLength(data[i]);
        if (lead != (expected == 1 ? 0 : expected == 0 ? 1 : static_cast<int>(expected))) std::abort();
    }
    return 0;
}
