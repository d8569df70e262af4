// A margin message body under construction for the driver tests: fields put at their offsets in
// host order or (big) reversed, as a big-endian sender writes them. Tests send it from an
// exact-size heap copy so that a read past its end is an AddressSanitizer report.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace margin_test {

struct Msg {
    std::vector<uint8_t> b;
    explicit Msg(std::size_t n = 0) : b(n, 0) {}
    template <typename T>
    Msg& put(std::size_t off, T v, bool big = false) {
        if (b.size() < off + sizeof v) b.resize(off + sizeof v);
        std::memcpy(&b[off], &v, sizeof v);
        if (big) std::reverse(b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(off + sizeof v));
        return *this;
    }
    Msg& text(std::size_t off, const char* s) {
        const std::size_t n = std::strlen(s);
        if (b.size() < off + n) b.resize(off + n);
        std::memcpy(&b[off], s, n);
        return *this;
    }
    Msg& append(const std::vector<uint8_t>& more) {
        b.insert(b.end(), more.begin(), more.end());
        return *this;
    }
};

}  // namespace margin_test
