#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "infra/tcp_framework/client/Package.h"

using namespace tcp_framework::client;

namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<PackageBuffer> fresh_buffer() { return std::make_unique<PackageBuffer>(); }  // zeroed

Bytes frame_of(const PackageBuffer& b) { return Bytes(b.data, b.data + b.total_length); }

uint32_t zlib_crc(const void* p, std::size_t n) {
    return static_cast<uint32_t>(crc32(0L, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

void put_be(Bytes& v, uint64_t x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void put_le(Bytes& v, uint64_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Reference frame built independently of the codec: CRC over the
// little-endian image from zlib, big-endian fields on the wire.
Bytes reference_frame(uint8_t type, uint32_t msg, uint64_t req, const Bytes& body, uint8_t byte20) {
    Bytes image = {0xEF, 0xEF, 0x01, type};
    put_le(image, msg, 4);
    put_le(image, req, 8);
    put_le(image, body.size(), 4);
    image.push_back(byte20);
    image.insert(image.end(), 7, 0);
    const uint32_t crc = zlib_crc(image.data(), image.size());
    Bytes f = {0xEF, 0xEF, 0x01, type};
    put_be(f, msg, 4);
    put_be(f, req, 8);
    put_be(f, body.size(), 4);
    f.push_back(byte20);
    f.insert(f.end(), 7, 0);
    put_be(f, crc, 4);
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(0xFE);
    f.push_back(0xFE);
    return f;
}

PackageStatus check_wire(const Bytes& wire) {
    PackageHeader h;
    return parse_header(wire.data(), wire.size(), h);
}

}  // namespace

TEST(FrameGolden, LoginRequestIsByteExact) {
    auto buf = fresh_buffer();
    ASSERT_EQ(0, pack_request(*buf, 0xf0001, 5, nullptr, 0, 1));
    const Bytes expected = {0xEF, 0xEF, 0x01, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x60, 0xCA, 0xA0, 0x95, 0xFE, 0xFE};
    EXPECT_EQ(34u, buf->total_length);
    EXPECT_EQ(expected, frame_of(*buf));
    const uint8_t image[28] = {0xEF, 0xEF, 0x01, 0x01, 0x01, 0x00, 0x0F, 0x00, 0x05, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(0x60CAA095u, zlib_crc(image, sizeof image));
    EXPECT_EQ(0x60CAA095u, calc_crc32(image, sizeof image));
}

TEST(FrameGolden, HeartbeatKeepsByte20OfThePreviousFrame) {
    auto buf = fresh_buffer();
    ASSERT_EQ(0, pack_request(*buf, 0xf0001, 5, nullptr, 0, 1));
    ASSERT_EQ(0, pack_heartbeat(*buf));
    EXPECT_EQ(reference_frame(15, 0, 0, {}, 1), frame_of(*buf));
    EXPECT_EQ(1, buf->data[20]);
    EXPECT_EQ(PackageStatus::OK, check_wire(frame_of(*buf)));

    auto fresh = fresh_buffer();
    ASSERT_EQ(0, pack_heartbeat(*fresh));
    EXPECT_EQ(reference_frame(15, 0, 0, {}, 0), frame_of(*fresh));
    EXPECT_EQ(34u, fresh->total_length);
    EXPECT_NE(frame_of(*buf), frame_of(*fresh));  // byte 20 is under the CRC
}

TEST(FrameGolden, PackersMatchTheReferenceAndRoundTrip) {
    std::mt19937 rng(7);
    Bytes body(300);
    for (auto& b : body) b = static_cast<uint8_t>(rng());
    struct Case {
        const char* name;
        uint8_t type;
        uint32_t msg;
        uint64_t req;
        std::size_t len;
        uint8_t flag;
    } cases[] = {
        {"request", 1, 0x20001, 0x0102030405060708ull, 300, 1},
        {"request sync", 1, 0xf0002, 77, 1, 0},
        {"response", 2, 0x500, 0xFFFFFFFFFFFFFFFFull, 17, 1},
        {"push", 4, 0x22010, 9, 128, 0xAA},  // push keeps byte 20: prefill it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto buf = fresh_buffer();
        const Bytes b(body.begin(), body.begin() + c.len);
        int rc = -2;
        switch (c.type) {
            case 1: rc = pack_request(*buf, c.msg, c.req, b.data(), c.len, c.flag); break;
            case 2: rc = pack_response(*buf, c.msg, c.req, c.flag, b.data(), c.len); break;
            case 4:
                buf->data[20] = c.flag;
                rc = pack_push(*buf, c.msg, c.req, b.data(), c.len);
                break;
        }
        ASSERT_EQ(0, rc);
        EXPECT_EQ(reference_frame(c.type, c.msg, c.req, b, c.flag), frame_of(*buf));

        PackageHeader h;
        ASSERT_EQ(PackageStatus::OK, parse_header(buf->data, 32, h));
        EXPECT_EQ(c.type, h.content_type);
        EXPECT_EQ(c.msg, h.message_id);
        EXPECT_EQ(c.req, h.request_id);
        EXPECT_EQ(c.len, h.body_length);
        EXPECT_EQ(c.flag, h.async_flag);
    }
}

TEST(FrameGolden, ShorterFrameOverwritesOnlyItsOwnBytes) {
    auto buf = fresh_buffer();
    Bytes big(64, 0x55);
    ASSERT_EQ(0, pack_request(*buf, 1, 1, big.data(), 64, 1));
    ASSERT_EQ(0, pack_request(*buf, 2, 2, big.data(), 3, 0));
    EXPECT_EQ(37u, buf->total_length);
    EXPECT_EQ(reference_frame(1, 2, 2, Bytes(3, 0x55), 0), frame_of(*buf));
    EXPECT_EQ(0x55, buf->data[37]);  // left over from the longer frame, never sent
}

TEST(FrameLimits, LargestBodyFitsAndOneMoreIsRefused) {
    auto buf = fresh_buffer();
    Bytes body(PACKAGE_MAX_BODY_LENGTH + 1, 0x33);
    EXPECT_EQ(2097118u, PACKAGE_MAX_BODY_LENGTH);
    ASSERT_EQ(0, pack_request(*buf, 1, 2, body.data(), PACKAGE_MAX_BODY_LENGTH, 1));
    EXPECT_EQ(PACKAGE_BUFFER_SIZE, buf->total_length);
    EXPECT_EQ(0xFE, buf->data[PACKAGE_BUFFER_SIZE - 1]);
    EXPECT_EQ(0xFE, buf->data[PACKAGE_BUFFER_SIZE - 2]);

    auto before = std::make_unique<PackageBuffer>(*buf);
    EXPECT_EQ(PACK_REFUSED, pack_request(*buf, 1, 2, body.data(), PACKAGE_MAX_BODY_LENGTH + 1, 1));
    EXPECT_EQ(PACK_REFUSED, pack_response(*buf, 1, 2, 1, body.data(), 0xFFFFFFFFu));
    EXPECT_EQ(PACK_REFUSED, pack_push(*buf, 1, 2, body.data(), PACKAGE_MAX_BODY_LENGTH + 1));
    EXPECT_EQ(PACK_REFUSED, pack_request(*buf, 1, 2, nullptr, 5, 1));
    EXPECT_EQ(0, std::memcmp(before.get(), buf.get(), sizeof(PackageBuffer)));
}

TEST(FrameCrc, MatchesZlibOnRandomInputs) {
    std::mt19937_64 rng(12345);
    Bytes data(70000);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 80; ++n) lengths.push_back(n);
    for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 5000);
    lengths.push_back(65536);
    for (std::size_t n : lengths) {
        const std::size_t off = rng() % 16;  // unaligned starts too
        ASSERT_EQ(zlib_crc(data.data() + off, n), calc_crc32(data.data() + off, n)) << "length " << n;
    }
}

TEST(FrameCrc, CheckValueAndEmptyRange) {
    EXPECT_EQ(0xCBF43926u, calc_crc32("123456789", 9));
    EXPECT_EQ(0u, calc_crc32("x", 0));
    EXPECT_EQ(0u, calc_crc32(nullptr, 0));
}

TEST(FrameCheck, EverySingleBitFlipIsRejected) {
    auto buf = fresh_buffer();
    const Bytes body = {1, 2, 3};
    ASSERT_EQ(0, pack_request(*buf, 0x20001, 0x1122334455667788ull, body.data(), 3, 1));
    const Bytes good = frame_of(*buf);
    ASSERT_EQ(PackageStatus::OK, check_wire(good));
    for (int byte = 0; byte < 32; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes bad = good;
            bad[byte] ^= static_cast<uint8_t>(1u << bit);
            // every flip of the request type 1 leaves the known types, and the type is judged first
            const PackageStatus want =
                byte == 3 ? PackageStatus::UNKNOWN_CONTENT_TYPE : PackageStatus::CRC_ERROR;
            EXPECT_EQ(want, check_wire(bad)) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST(FrameCheck, ContentType3IsUnknownWhateverItsCrc) {
    Bytes with_valid_crc = reference_frame(3, 1, 1, {}, 0);
    Bytes with_bad_crc = with_valid_crc;
    with_bad_crc[31] ^= 0x10;
    EXPECT_EQ(PackageStatus::UNKNOWN_CONTENT_TYPE, check_wire(with_valid_crc));
    EXPECT_EQ(PackageStatus::UNKNOWN_CONTENT_TYPE, check_wire(with_bad_crc));
    for (uint8_t t : {0, 5, 14, 16, 255}) {
        EXPECT_EQ(PackageStatus::UNKNOWN_CONTENT_TYPE, check_wire(reference_frame(t, 1, 1, {}, 0))) << int(t);
    }
    for (uint8_t t : {1, 2, 4, 15}) {
        EXPECT_EQ(PackageStatus::OK, check_wire(reference_frame(t, 1, 1, {}, 0))) << int(t);
    }
}

TEST(FrameCheck, MarksAndVersionAreNotJudged) {
    // head mark and version are under the CRC: rebuild it with the odd values
    Bytes f = reference_frame(2, 9, 9, {7}, 1);
    Bytes image(28);
    std::memcpy(image.data(), f.data(), 28);
    image[0] = 0x00;
    image[2] = 0x07;
    std::swap(image[4], image[7]);  // message id back to little-endian
    std::swap(image[5], image[6]);
    for (int i = 0; i < 4; ++i) std::swap(image[8 + i], image[15 - i]);
    std::swap(image[16], image[19]);
    std::swap(image[17], image[18]);
    const uint32_t crc = zlib_crc(image.data(), 28);
    f[0] = 0x00;
    f[2] = 0x07;
    f[28] = static_cast<uint8_t>(crc >> 24);
    f[29] = static_cast<uint8_t>(crc >> 16);
    f[30] = static_cast<uint8_t>(crc >> 8);
    f[31] = static_cast<uint8_t>(crc);
    f[f.size() - 1] = 0x00;  // tail is the reader's business
    EXPECT_EQ(PackageStatus::OK, check_wire(f));
}

TEST(FrameCheck, HeaderSwapIsItsOwnInverse) {
    auto buf = fresh_buffer();
    ASSERT_EQ(0, pack_request(*buf, 0xA1B2C3D4u, 0x0102030405060708ull, nullptr, 0, 1));
    PackageHeader h;
    std::memcpy(&h, buf->data, 32);
    header_ntoh(h);
    EXPECT_EQ(0xA1B2C3D4u, h.message_id);
    EXPECT_EQ(0x0102030405060708ull, h.request_id);
    EXPECT_EQ(0u, h.body_length);
    EXPECT_EQ(PackageStatus::OK, check_package(h));
    header_hton(h);
    EXPECT_EQ(0, std::memcmp(&h, buf->data, 32));
}

TEST(FrameCheck, ShortInputIsRefusedWithoutReadingPastIt) {
    auto buf = fresh_buffer();
    ASSERT_EQ(0, pack_heartbeat(*buf));
    // exact-size heap copies so AddressSanitizer sees any over-read
    for (std::size_t n : {0u, 1u, 31u}) {
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[n + 1]);
        std::memcpy(bytes.get(), buf->data, n);
        PackageHeader h;
        std::memset(&h, 0x5A, sizeof h);
        EXPECT_EQ(PackageStatus::INVALID_PACKAGE, parse_header(bytes.get(), n, h)) << n;
        EXPECT_EQ(0u, h.crc);
    }
    PackageHeader h;
    EXPECT_EQ(PackageStatus::INVALID_PACKAGE, parse_header(nullptr, 32, h));
    std::unique_ptr<uint8_t[]> exact(new uint8_t[32]);
    std::memcpy(exact.get(), buf->data, 32);
    EXPECT_EQ(PackageStatus::OK, parse_header(exact.get(), 32, h));
}

TEST(FrameNames, StatusNames) {
    const std::pair<int, const char*> table[] = {
        {0, "OK"},           {1, "INVALID_PACKAGE"},     {2, "UNKNOWN_CONTENT_TYPE"},
        {3, "CRC_ERROR"},    {4, "INVALID_SESSION_ID"},  {9, "PACK_TAIL_NOT_FOUND"},
        {5, "UNKNOWN_ERROR"}, {-1, "UNKNOWN_ERROR"},     {1005, "UNKNOWN_ERROR"},
    };
    for (const auto& row : table) {
        EXPECT_STREQ(row.second, status_name(row.first)) << row.first;
        EXPECT_STREQ(row.second, status_name(static_cast<PackageStatus>(row.first))) << row.first;
    }
}

TEST(FrameMarks, WriteMarksReturnTheirSize) {
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(2, write_head_mark(out));
    EXPECT_EQ(2, write_tail_mark(out + 2));
    EXPECT_EQ(0xEF, out[0]);
    EXPECT_EQ(0xEF, out[1]);
    EXPECT_EQ(0xFE, out[2]);
    EXPECT_EQ(0xFE, out[3]);
}

TEST(FrameHexDump, PrintsTitleLengthAndSixteenBytesPerLine) {
    uint8_t data[17];
    for (int i = 0; i < 17; ++i) data[i] = static_cast<uint8_t>(i * 15);
    testing::internal::CaptureStdout();
    hex_dump("frame", data, 17);
    const std::string out = testing::internal::GetCapturedStdout();
    std::string expected = "frame[17]\n-----------------------------\n";
    for (int i = 0; i < 17; ++i) {
        char cell[8];
        std::snprintf(cell, sizeof cell, "0x%02x,", data[i]);
        expected += cell;
        if (i == 15) expected += "\n";
    }
    expected += "\n-----------------------------\n";
    EXPECT_EQ(expected, out);
}
