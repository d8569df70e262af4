// Receive-side framing of one connection, as a state machine fed with bytes.
//
// The reader owns no memory and does no I/O: it is given the connection's receive area (a
// 32-byte header followed by the body area) and tells its caller where the next bytes go and
// how many the current stage still lacks. A read loop either reads exactly that many, or reads
// what has arrived and hands it to `take`, which passes whole frames on in place and copies
// only a frame cut at the end; a fuzzer or a test feeds arbitrary bytes through `feed`. All
// roads run the same checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "infra/tcp_framework/client/Package.h"

namespace tcp_framework {
namespace client {

// Body area of a connection's receive buffer; it takes the body and the 2-byte tail.
constexpr std::size_t RECEIVE_BODY_AREA_SIZE = 2097152;
constexpr std::size_t RECEIVE_BUFFER_SIZE = PACKAGE_HEADER_SIZE + RECEIVE_BODY_AREA_SIZE;

class FrameReader {
public:
    enum class Result {
        NEED_MORE,   // the current stage lacks bytes
        FRAME,       // a whole frame is in the area: header(), body(), body_length()
        BAD_HEADER,  // the header failed the frame check: status()
        TOO_LONG,    // the body length does not fit the body area
    };

    // `area` holds `area_size` bytes: the header, then the body area (at least the tail).
    FrameReader(uint8_t* area, std::size_t area_size) noexcept;

    // Back to the start of a header, for a new connection. Clears a failure.
    void reset() noexcept;

    // Where the next bytes go and how many the current stage still lacks (never 0). After a
    // failure it keeps pointing at the header, and advance keeps failing until reset.
    uint8_t* next(std::size_t& want) noexcept;

    // `n` bytes were stored at next(); n larger than the lack is taken as the lack.
    Result advance(std::size_t n) noexcept;

    // Copies from [data, data + size) until a frame is complete or the check fails; moves
    // data and size past what it took.
    Result feed(const uint8_t*& data, std::size_t& size) noexcept;

    // As feed, but a frame that lies whole in [data, data + size) at a frame start is not
    // copied: body() then points into data, valid as long as data is.
    Result take(const uint8_t*& data, std::size_t& size) noexcept;

    // Valid after FRAME (and the header also after BAD_HEADER / TOO_LONG) until the next
    // advance, feed or take. The header is in host order.
    const PackageHeader& header() const noexcept { return header_; }
    PackageStatus status() const noexcept { return status_; }
    const uint8_t* body() const noexcept { return body_; }
    uint32_t body_length() const noexcept { return header_.body_length; }
    // Largest body the area can take.
    uint64_t max_body_length() const noexcept { return body_capacity_ - PACKAGE_TAIL_SIZE; }
    bool failed() const noexcept { return failure_ != Result::NEED_MORE; }
    // Between a complete header and the end of its body and tail.
    bool in_body() const noexcept { return in_body_; }

private:
    uint8_t* area_;
    const uint8_t* body_;      // the last frame's body: in the area, or in the caller's bytes
    uint64_t body_capacity_;   // bytes for body + tail
    bool in_body_ = false;
    uint64_t stage_size_ = PACKAGE_HEADER_SIZE;
    uint64_t filled_ = 0;
    Result failure_ = Result::NEED_MORE;
    PackageHeader header_{};
    PackageStatus status_ = PackageStatus::OK;
};

}  // namespace client
}  // namespace tcp_framework
