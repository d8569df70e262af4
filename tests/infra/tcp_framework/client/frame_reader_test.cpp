#include "infra/tcp_framework/client/FrameReader.h"

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

using namespace tcp_framework::client;

namespace {

void put_be(uint8_t* p, uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) { p[i] = static_cast<uint8_t>(v); v >>= 8; }
}
void put_le(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) { p[i] = static_cast<uint8_t>(v); v >>= 8; }
}

// A frame whose header carries `length_field` (with a CRC that matches it) and `body` bytes.
std::vector<uint8_t> frame(uint8_t type, uint32_t msg, uint64_t req, uint32_t length_field,
                           const std::vector<uint8_t>& body, bool with_tail = true) {
    std::vector<uint8_t> f(32, 0);
    f[0] = 0xEF; f[1] = 0xEF; f[2] = 1; f[3] = type;
    put_le(&f[4], msg, 4);
    put_le(&f[8], req, 8);
    put_le(&f[16], length_field, 4);
    f[20] = 1;
    const uint32_t crc = calc_crc32(f.data(), 28);
    put_be(&f[4], msg, 4);
    put_be(&f[8], req, 8);
    put_be(&f[16], length_field, 4);
    put_be(&f[28], crc, 4);
    f.insert(f.end(), body.begin(), body.end());
    if (with_tail) { f.push_back(0xFE); f.push_back(0xFE); }
    return f;
}

std::vector<uint8_t> frame(uint8_t type, uint32_t msg, uint64_t req, const std::vector<uint8_t>& body) {
    return frame(type, msg, req, static_cast<uint32_t>(body.size()), body);
}

struct Seen {
    uint8_t type;
    uint32_t msg;
    uint64_t req;
    std::vector<uint8_t> body;
    bool operator==(const Seen& o) const { return type == o.type && msg == o.msg && req == o.req && body == o.body; }
};

class FrameReaderTest : public ::testing::Test {
protected:
    std::unique_ptr<uint8_t[]> area{new uint8_t[RECEIVE_BUFFER_SIZE]()};
    FrameReader reader{area.get(), RECEIVE_BUFFER_SIZE};

    FrameReader::Result feed_all(const std::vector<uint8_t>& bytes, std::vector<Seen>* out = nullptr) {
        const uint8_t* p = bytes.data();
        size_t n = bytes.size();
        FrameReader::Result r = FrameReader::Result::NEED_MORE;
        while (n) {
            r = reader.feed(p, n);
            if (r == FrameReader::Result::FRAME) {
                if (out)
                    out->push_back({reader.header().content_type, reader.header().message_id,
                                    reader.header().request_id,
                                    std::vector<uint8_t>(reader.body(), reader.body() + reader.body_length())});
            } else if (r != FrameReader::Result::NEED_MORE) {
                return r;
            }
        }
        return r;
    }
};

TEST_F(FrameReaderTest, GoldenLoginRequestIsOneFrame) {
    const std::vector<uint8_t> golden = {0xEF, 0xEF, 0x01, 0x01, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x60, 0xCA, 0xA0, 0x95, 0xFE, 0xFE};
    size_t want = 0;
    uint8_t* dst = reader.next(want);
    EXPECT_EQ(dst, area.get());
    EXPECT_EQ(want, 32u);
    std::memcpy(dst, golden.data(), 32);
    EXPECT_EQ(reader.advance(32), FrameReader::Result::NEED_MORE);
    dst = reader.next(want);
    EXPECT_EQ(dst, area.get() + 32);
    EXPECT_EQ(want, 2u);  // an empty body still has its tail
    std::memcpy(dst, golden.data() + 32, 2);
    ASSERT_EQ(reader.advance(2), FrameReader::Result::FRAME);
    EXPECT_EQ(+reader.header().content_type, 1);
    EXPECT_EQ(+reader.header().message_id, 0xf0001u);
    EXPECT_EQ(+reader.header().request_id, 5u);
    EXPECT_EQ(+reader.header().async_flag, 1);
    EXPECT_EQ(reader.body_length(), 0u);
}

TEST_F(FrameReaderTest, HowBytesArriveDoesNotMatter) {
    std::mt19937 rng(11);
    std::vector<uint8_t> stream;
    std::vector<Seen> expected;
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> body(rng() % 700);
        for (auto& b : body) b = static_cast<uint8_t>(rng());
        const uint8_t type = (i % 3 == 0) ? 15 : (i % 3 == 1 ? 2 : 4);
        auto f = frame(type, 0x20000u + i, 1000u + i, body);
        stream.insert(stream.end(), f.begin(), f.end());
        expected.push_back({type, 0x20000u + i, 1000u + static_cast<uint64_t>(i), body});
    }
    for (size_t max_chunk : {size_t(1), size_t(3), size_t(31), size_t(33), size_t(4096), stream.size()}) {
        reader.reset();
        std::vector<Seen> got;
        size_t off = 0;
        while (off < stream.size()) {
            size_t chunk = std::min(stream.size() - off, 1 + rng() % max_chunk);
            std::vector<uint8_t> part(stream.begin() + off, stream.begin() + off + chunk);
            ASSERT_EQ(feed_all(part, &got) == FrameReader::Result::BAD_HEADER, false);
            off += chunk;
        }
        EXPECT_TRUE(got == expected) << "chunks up to " << max_chunk;
    }
}

// take() must give what feed() gives however the stream is cut; a frame that lies whole in
// the given bytes is handed on in place, one cut by their end is put together in the area.
TEST_F(FrameReaderTest, TakeGivesWhatFeedGives) {
    std::mt19937 rng(12);
    std::vector<uint8_t> stream;
    std::vector<Seen> expected;
    for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> body(i == 30 ? 70000 : rng() % 500);
        for (auto& b : body) b = static_cast<uint8_t>(rng());
        auto f = frame(i % 2 ? 2 : 4, 0x30000u + i, 2000u + i, body);
        stream.insert(stream.end(), f.begin(), f.end());
        expected.push_back({static_cast<uint8_t>(i % 2 ? 2 : 4), 0x30000u + i, 2000u + static_cast<uint64_t>(i), body});
    }
    for (size_t max_chunk : {size_t(1), size_t(31), size_t(33), size_t(1000), size_t(65536), stream.size()}) {
        reader.reset();
        std::vector<Seen> got;
        size_t in_place = 0, put_together = 0;
        size_t off = 0;
        while (off < stream.size()) {
            // the largest size: the whole stream at once
            const size_t chunk =
                max_chunk == stream.size() ? stream.size() : std::min(stream.size() - off, 1 + rng() % max_chunk);
            const std::vector<uint8_t> part(stream.begin() + off, stream.begin() + off + chunk);
            const uint8_t* p = part.data();
            size_t n = part.size();
            while (n) {
                const FrameReader::Result r = reader.take(p, n);
                if (r == FrameReader::Result::NEED_MORE) continue;
                ASSERT_EQ(r, FrameReader::Result::FRAME) << "chunks up to " << max_chunk;
                const bool inside = reader.body() >= part.data() && reader.body() <= part.data() + part.size();
                (inside ? in_place : put_together)++;
                got.push_back({reader.header().content_type, reader.header().message_id, reader.header().request_id,
                               std::vector<uint8_t>(reader.body(), reader.body() + reader.body_length())});
            }
            off += chunk;
        }
        EXPECT_TRUE(got == expected) << "chunks up to " << max_chunk;
        if (max_chunk == stream.size()) {
            EXPECT_EQ(put_together, 0u);
        }
        if (max_chunk == 1) {
            EXPECT_EQ(in_place, 0u);
        }
    }
}

// The road without a copy judges headers as the copying one does.
TEST_F(FrameReaderTest, TakeFailsAsFeedFails) {
    auto bad_crc = frame(4, 1, 1, {1, 2, 3});
    bad_crc[5] ^= 0x10;
    auto too_long = frame(4, 1, 1, static_cast<uint32_t>(RECEIVE_BODY_AREA_SIZE - 1), {1, 2, 3});
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        FrameReader::Result result;
    } cases[] = {
        {"crc", bad_crc, FrameReader::Result::BAD_HEADER},
        {"type", frame(3, 1, 1, {1}), FrameReader::Result::BAD_HEADER},
        {"length", too_long, FrameReader::Result::TOO_LONG},
    };
    for (const auto& c : cases) {
        reader.reset();
        std::vector<uint8_t> bytes = frame(2, 9, 9, {7});
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        const uint8_t* p = bytes.data();
        size_t n = bytes.size();
        ASSERT_EQ(reader.take(p, n), FrameReader::Result::FRAME) << c.name;
        EXPECT_EQ(reader.take(p, n), c.result) << c.name;
        EXPECT_TRUE(reader.failed()) << c.name;
        EXPECT_EQ(reader.take(p, n), c.result) << c.name;  // it sticks
    }
}

TEST_F(FrameReaderTest, EveryHeaderBitFlipFailsTheCheck) {
    const auto good = frame(2, 0x21001, 77, {1, 2, 3});
    for (size_t byte = 0; byte < 32; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            auto f = good;
            f[byte] ^= static_cast<uint8_t>(1u << bit);
            reader.reset();
            // The check comes before the length is looked at, so a flip anywhere in 0-31
            // (length and reserved bytes included) is caught by the CRC.
            ASSERT_EQ(feed_all(f), FrameReader::Result::BAD_HEADER) << "byte " << byte << " bit " << bit;
            if (byte == 3 && reader.status() == PackageStatus::UNKNOWN_CONTENT_TYPE) continue;
            EXPECT_EQ(reader.status(), PackageStatus::CRC_ERROR) << "byte " << byte << " bit " << bit;
        }
    }
}

TEST_F(FrameReaderTest, UnknownContentTypeWhateverItsCrc) {
    auto f = frame(3, 1, 1, {});
    EXPECT_EQ(feed_all(f), FrameReader::Result::BAD_HEADER);
    EXPECT_EQ(reader.status(), PackageStatus::UNKNOWN_CONTENT_TYPE);
}

TEST_F(FrameReaderTest, BodyLengthIsBoundedIn64Bits) {
    struct Case {
        uint32_t length;
        FrameReader::Result result;
    } cases[] = {
        {2097150u, FrameReader::Result::NEED_MORE},  // the largest body: the header is fine
        {2097151u, FrameReader::Result::TOO_LONG},
        {0xFFFFFFFEu, FrameReader::Result::TOO_LONG},  // +2 wraps to 0 in 32 bits
        {0xFFFFFFFFu, FrameReader::Result::TOO_LONG},  // +2 wraps to 1 in 32 bits
    };
    for (const auto& c : cases) {
        reader.reset();
        auto hdr = frame(2, 9, 9, c.length, {}, false);
        EXPECT_EQ(feed_all(hdr), c.result) << c.length;
        if (c.result == FrameReader::Result::TOO_LONG) {
            EXPECT_EQ(reader.body_length(), c.length);
            size_t want = 0;
            reader.next(want);
            EXPECT_EQ(want, 32u);  // nothing of the body is ever asked for
        }
    }
}

TEST_F(FrameReaderTest, LargestBodyFillsTheArea) {
    std::vector<uint8_t> body(RECEIVE_BODY_AREA_SIZE - 2);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 31);
    auto f = frame(4, 0x22000, 1, body);
    std::vector<Seen> got;
    EXPECT_EQ(feed_all(f, &got), FrameReader::Result::FRAME);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].body == body);
    EXPECT_EQ(reader.max_body_length(), 2097150u);
}

TEST_F(FrameReaderTest, SmallAreaBoundsToo) {
    uint8_t small[32 + 10];
    FrameReader r(small, sizeof small);
    EXPECT_EQ(r.max_body_length(), 8u);
    auto ok = frame(2, 1, 1, std::vector<uint8_t>(8, 7));
    const uint8_t* p = ok.data();
    size_t n = ok.size();
    EXPECT_EQ(r.feed(p, n), FrameReader::Result::FRAME);
    auto big = frame(2, 1, 1, std::vector<uint8_t>(9, 7));
    p = big.data();
    n = big.size();
    EXPECT_EQ(r.feed(p, n), FrameReader::Result::TOO_LONG);
    EXPECT_EQ(n, big.size() - 32);  // stopped right after the header
}

TEST_F(FrameReaderTest, WrongTailIsAccepted) {
    auto f = frame(2, 5, 5, {9});
    f[f.size() - 1] = 0;
    EXPECT_EQ(feed_all(f), FrameReader::Result::FRAME);
}

TEST_F(FrameReaderTest, FailureSticksUntilReset) {
    auto bad = frame(3, 1, 1, {});
    EXPECT_EQ(feed_all(bad), FrameReader::Result::BAD_HEADER);
    auto good = frame(2, 1, 1, {1});
    const uint8_t* p = good.data();
    size_t n = good.size();
    EXPECT_EQ(reader.feed(p, n), FrameReader::Result::BAD_HEADER);
    EXPECT_EQ(reader.advance(32), FrameReader::Result::BAD_HEADER);
    EXPECT_TRUE(reader.failed());
    reader.reset();
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(feed_all(good), FrameReader::Result::FRAME);
}

TEST_F(FrameReaderTest, OverlongAdvanceIsClamped) {
    auto f = frame(2, 1, 1, {1, 2});
    size_t want = 0;
    std::memcpy(reader.next(want), f.data(), 32);
    EXPECT_EQ(reader.advance(1000), FrameReader::Result::NEED_MORE);
    uint8_t* dst = reader.next(want);
    EXPECT_EQ(want, 4u);
    std::memcpy(dst, f.data() + 32, 4);
    EXPECT_EQ(reader.advance(4), FrameReader::Result::FRAME);
}

}  // namespace
