#include "infra/tcp_framework/client/FrameReader.h"

#include <cstring>

namespace tcp_framework {
namespace client {

FrameReader::FrameReader(uint8_t* area, std::size_t area_size) noexcept
    : area_(area),
      body_(area + PACKAGE_HEADER_SIZE),
      body_capacity_(area_size > PACKAGE_HEADER_SIZE + PACKAGE_TAIL_SIZE ? area_size - PACKAGE_HEADER_SIZE
                                                                         : PACKAGE_TAIL_SIZE) {}

void FrameReader::reset() noexcept {
    in_body_ = false;
    stage_size_ = PACKAGE_HEADER_SIZE;
    filled_ = 0;
    failure_ = Result::NEED_MORE;
    status_ = PackageStatus::OK;
}

uint8_t* FrameReader::next(std::size_t& want) noexcept {
    if (failed()) {
        want = PACKAGE_HEADER_SIZE;
        return area_;
    }
    want = static_cast<std::size_t>(stage_size_ - filled_);
    return (in_body_ ? area_ + PACKAGE_HEADER_SIZE : area_) + filled_;
}

FrameReader::Result FrameReader::advance(std::size_t n) noexcept {
    if (failed()) return failure_;
    const uint64_t lack = stage_size_ - filled_;
    filled_ += n < lack ? n : lack;
    if (filled_ < stage_size_) return Result::NEED_MORE;

    if (!in_body_) {
        status_ = parse_header(area_, PACKAGE_HEADER_SIZE, header_);
        if (status_ != PackageStatus::OK) return failure_ = Result::BAD_HEADER;
        // 64-bit sum: a length near 2^32 must not wrap to a small read.
        const uint64_t need = static_cast<uint64_t>(header_.body_length) + PACKAGE_TAIL_SIZE;
        if (need > body_capacity_) return failure_ = Result::TOO_LONG;
        in_body_ = true;
        stage_size_ = need;
        filled_ = 0;
        return Result::NEED_MORE;
    }
    // Body and tail are in; the tail's value is not judged.
    body_ = area_ + PACKAGE_HEADER_SIZE;
    in_body_ = false;
    stage_size_ = PACKAGE_HEADER_SIZE;
    filled_ = 0;
    return Result::FRAME;
}

FrameReader::Result FrameReader::feed(const uint8_t*& data, std::size_t& size) noexcept {
    if (failed()) return failure_;
    while (size > 0) {
        std::size_t want = 0;
        uint8_t* dst = next(want);
        const std::size_t n = size < want ? size : want;
        std::memcpy(dst, data, n);
        data += n;
        size -= n;
        const Result r = advance(n);
        if (r != Result::NEED_MORE) return r;
    }
    return Result::NEED_MORE;
}

FrameReader::Result FrameReader::take(const uint8_t*& data, std::size_t& size) noexcept {
    if (failed()) return failure_;
    if (in_body_ || filled_ != 0 || size < PACKAGE_HEADER_SIZE) return feed(data, size);
    status_ = parse_header(data, PACKAGE_HEADER_SIZE, header_);
    const uint64_t need = static_cast<uint64_t>(header_.body_length) + PACKAGE_TAIL_SIZE;
    if (status_ != PackageStatus::OK || need > body_capacity_ || size - PACKAGE_HEADER_SIZE < need) {
        // a failure, or a frame that goes on past these bytes: the copying road judges it the same
        return feed(data, size);
    }
    body_ = data + PACKAGE_HEADER_SIZE;
    data += PACKAGE_HEADER_SIZE + need;
    size -= PACKAGE_HEADER_SIZE + need;
    return Result::FRAME;
}

}  // namespace client
}  // namespace tcp_framework
