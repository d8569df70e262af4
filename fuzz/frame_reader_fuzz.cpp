// Drives the receive-side framing with arbitrary bytes, two ways at once: copied in one go
// through feed(), and read in place through next()/advance() in chunks whose sizes follow a
// small generator, as the socket loop does. Both must see the same frames and failures, and
// no frame may claim more body than the receive area holds. A failure is followed by a reset,
// as a new connection would be.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "infra/tcp_framework/client/FrameReader.h"

using tcp_framework::client::FrameReader;
using tcp_framework::client::RECEIVE_BUFFER_SIZE;

namespace {

struct Event {
    int result;
    uint8_t type;
    uint32_t msg;
    uint64_t req;
    uint32_t length;
    uint32_t body_crc;
    bool operator!=(const Event& o) const {
        return result != o.result || type != o.type || msg != o.msg || req != o.req || length != o.length ||
               body_crc != o.body_crc;
    }
};

Event record(const FrameReader& r, FrameReader::Result res) {
    Event e{static_cast<int>(res), r.header().content_type, r.header().message_id, r.header().request_id,
            r.header().body_length, 0};
    if (res == FrameReader::Result::FRAME) {
        if (r.body_length() > r.max_body_length()) __builtin_trap();
        e.body_crc = tcp_framework::client::calc_crc32(r.body(), r.body_length());
    }
    return e;
}

uint8_t* area(int which) {
    static uint8_t* a = new uint8_t[RECEIVE_BUFFER_SIZE];  // one allocation for the whole run
    static uint8_t* b = new uint8_t[RECEIVE_BUFFER_SIZE];
    return which ? b : a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<Event> whole, chunked;

    FrameReader a(area(0), RECEIVE_BUFFER_SIZE);
    const uint8_t* p = data;
    size_t n = size;
    while (n) {
        const auto r = a.feed(p, n);
        if (r == FrameReader::Result::NEED_MORE) break;
        whole.push_back(record(a, r));
        if (r != FrameReader::Result::FRAME) a.reset();
    }

    FrameReader b(area(1), RECEIVE_BUFFER_SIZE);
    uint32_t rng = static_cast<uint32_t>(size) * 2654435761u + 1;
    size_t off = 0;
    while (off < size) {
        size_t want = 0;
        uint8_t* dst = b.next(want);
        if (want == 0 || want > RECEIVE_BUFFER_SIZE) __builtin_trap();
        rng = rng * 1103515245u + 12345u;
        size_t chunk = 1 + (rng >> 16) % 48;
        size_t take = want < chunk ? want : chunk;
        if (take > size - off) take = size - off;
        std::memcpy(dst, data + off, take);
        off += take;
        const auto r = b.advance(take);
        if (r == FrameReader::Result::NEED_MORE) continue;
        chunked.push_back(record(b, r));
        if (r != FrameReader::Result::FRAME) b.reset();
    }

    if (whole.size() != chunked.size()) __builtin_trap();
    for (size_t i = 0; i < whole.size(); ++i)
        if (whole[i] != chunked[i]) __builtin_trap();
    return 0;
}
