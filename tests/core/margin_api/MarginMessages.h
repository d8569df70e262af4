// A margin message body under construction for the driver tests: fields put at their offsets in
// host order or (big) reversed, as a big-endian sender writes them, and the query answers of the
// three paged and single-record families built from it. Tests send it from an exact-size heap
// copy so that a read past its end is an AddressSanitizer report.
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

// The session the answers below name: node 5, server session number 100033.
constexpr uint32_t kNode = 5;
constexpr uint64_t kSessionNo = 100033;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | 33;

// A single-record answer of the session: head, the record when given, the error record when given.
inline Msg Single(uint64_t request_id, uint8_t is_last, const std::vector<uint8_t>* record, const int32_t* error,
                  bool big = false) {
    Msg m(19);
    m.put<uint64_t>(0, kSessionNo, big).put<uint64_t>(8, request_id, big);
    m.b[16] = is_last;
    m.b[17] = record != nullptr;
    m.b[18] = error != nullptr;
    if (record) m.append(*record);
    if (error) {
        Msg e(128);
        e.put<int32_t>(0, *error, big);
        m.append(e.b);
    }
    return m;
}

// A classic paged answer; with_error: an error record of code 44 behind the record.
inline Msg Page(uint32_t request_id, int32_t index, int32_t req_count, uint64_t reference, uint8_t is_last,
                const std::vector<uint8_t>* record, bool with_error = false, bool big = false) {
    Msg m(31);
    m.put<uint64_t>(0, kSessionNo, big).put<uint32_t>(8, request_id, big).put<int32_t>(12, index, big);
    m.put<int32_t>(16, req_count, big).put<uint64_t>(20, reference, big);
    m.b[28] = is_last;
    m.b[29] = record != nullptr;
    m.b[30] = with_error;
    if (record) m.append(*record);
    if (with_error) m.append(Msg(128).put<int32_t>(0, 44, big).b);
    return m;
}

// An extended paged answer of count records of size bytes, each made by rec(i).
template <typename Make>
Msg Ext(uint64_t request_id, uint32_t req_count, uint32_t count, uint32_t size, Make rec) {
    Msg m(56);
    m.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, request_id).put<uint32_t>(32, req_count);
    m.put<uint32_t>(36, count).put<uint32_t>(40, size);
    for (uint32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> r = rec(i);
        r.resize(size);
        m.append(r);
    }
    return m;
}

}  // namespace margin_test
