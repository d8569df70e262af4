#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "infra/utility/WireCodec.h"

using OXA::API::ByteOrder;
using OXA::API::WireReader;
using OXA::API::WireWriter;

TEST(WireReader, ReadsBothByteOrders) {
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    WireReader r(data, sizeof data);
    uint8_t a = 0;
    uint16_t b = 0;
    uint32_t c = 0;
    uint64_t d = 0;
    ASSERT_TRUE(r.read_le(a));
    ASSERT_TRUE(r.read_be(b));
    ASSERT_TRUE(r.read_le(c));
    ASSERT_TRUE(r.read_be(d));
    EXPECT_EQ(0x01, a);
    EXPECT_EQ(0x0203, b);
    EXPECT_EQ(0x07060504u, c);
    EXPECT_EQ(0x08090A0B0C0D0E0Full, d);
    EXPECT_EQ(0u, r.remaining());
    EXPECT_TRUE(r.ok());
}

TEST(WireReader, ReadPastTheEndFailsAndStaysFailed) {
    // exact-size heap block so AddressSanitizer sees any over-read
    std::unique_ptr<uint8_t[]> data(new uint8_t[6]{1, 2, 3, 4, 5, 6});
    WireReader r(data.get(), 6);
    uint32_t v = 0;
    ASSERT_TRUE(r.read_le(v));
    uint32_t past = 0xDEADBEEF;
    EXPECT_FALSE(r.read_le(past));  // only 2 left
    EXPECT_EQ(0u, past);
    EXPECT_FALSE(r.ok());
    uint8_t small = 9;
    EXPECT_FALSE(r.read_le(small));  // sticky: no partial parse goes on
    EXPECT_EQ(0, small);
    EXPECT_EQ(0u, r.remaining());

    WireReader big(data.get(), 6);
    uint8_t out[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    ASSERT_TRUE(big.skip(2));
    EXPECT_FALSE(big.read_bytes(out, 5));
    EXPECT_EQ(0, out[0]);  // failed read leaves its output zeroed
    WireReader huge(data.get(), 6);
    ASSERT_TRUE(huge.skip(1));
    EXPECT_FALSE(huge.skip(SIZE_MAX));  // position + n must not wrap
    EXPECT_EQ(nullptr, WireReader(data.get(), 6).view(7));
    WireReader s(data.get(), 6);
    EXPECT_FALSE(s.seek(7));
    EXPECT_FALSE(WireReader(nullptr, 100).skip(1));  // a null source is empty
}

TEST(WireReader, ViewSkipSeek) {
    const uint8_t data[] = {9, 8, 7, 6, 5};
    WireReader r(data, sizeof data);
    ASSERT_TRUE(r.skip(1));
    const uint8_t* p = r.view(2);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(8, p[0]);
    ASSERT_TRUE(r.seek(4));
    uint8_t last = 0;
    ASSERT_TRUE(r.read_host(last));
    EXPECT_EQ(5, last);
}

TEST(WireWriter, WritesAndRefusesOverflow) {
    uint8_t buf[8] = {};
    WireWriter w(buf, 6);
    ASSERT_TRUE(w.write_be(uint16_t{0x0102}));
    ASSERT_TRUE(w.write_le(uint32_t{0x06050403}));
    EXPECT_FALSE(w.write_le(uint8_t{0xFF}));
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(0, buf[6]);  // never past the bound
    const uint8_t want[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(want, buf, 6));

    uint8_t buf2[4] = {};
    WireWriter w2(buf2, sizeof buf2);
    EXPECT_FALSE(w2.write_bytes("abcde", 5));
    EXPECT_EQ(0, buf2[0]);
    WireWriter w3(buf2, sizeof buf2);
    EXPECT_FALSE(w3.write_bytes(nullptr, 1));
    WireWriter w4(buf2, sizeof buf2);
    ASSERT_TRUE(w4.fill(0xAB, 4));
    EXPECT_EQ(0xAB, buf2[3]);
}

TEST(WireCodec, DoubleRoundTripThroughBigEndian) {
    uint8_t buf[8];
    WireWriter w(buf, sizeof buf);
    ASSERT_TRUE(w.write(3.25, ByteOrder::Big));
    EXPECT_EQ(0x40, buf[0]);  // sign/exponent byte first
    WireReader r(buf, sizeof buf);
    double d = 0;
    ASSERT_TRUE(r.read(d, ByteOrder::Big));
    EXPECT_EQ(3.25, d);
}
