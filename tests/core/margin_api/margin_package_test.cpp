// The package readers of the margin flow 0x206: the window, the flow message's head and the walk
// over its records, which must stop at a head cut short or a length longer than what is left.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/margin_api/MarginPackage.h"

namespace {

using namespace OXA::API::MARGIN;

struct Rec {
    uint16_t id;
    std::string payload;
};

// Package records {id, length, payload}, heads in little- or big-endian.
std::vector<char> Package(const std::vector<Rec>& recs, bool big) {
    std::vector<char> b;
    for (const auto& r : recs) {
        const uint32_t len = static_cast<uint32_t>(r.payload.size());
        uint8_t head[6];
        for (int i = 0; i < 2; ++i) head[i] = static_cast<uint8_t>(r.id >> (8 * (big ? 1 - i : i)));
        for (int i = 0; i < 4; ++i) head[2 + i] = static_cast<uint8_t>(len >> (8 * (big ? 3 - i : i)));
        b.insert(b.end(), head, head + 6);
        b.insert(b.end(), r.payload.begin(), r.payload.end());
    }
    return b;
}

std::vector<Rec> Walk(const char* begin, const char* end, bool swap) {
    std::vector<Rec> out;
    CPackageIterator it;
    for (it.Init(begin, end, swap); it.Payload(); it.Next()) {
        EXPECT_LE(it.Payload() + it.Length(), end);
        out.push_back({it.Id(), std::string(it.Payload(), it.Length())});
    }
    return out;
}

bool operator==(const Rec& a, const Rec& b) { return a.id == b.id && a.payload == b.payload; }

TEST(MarginPackage, SkipTakesBytesOnlyWhenThereAreEnough) {
    const char bytes[10] = {};
    CPackage p(bytes, bytes + 10, false);
    EXPECT_EQ(p.Skip(4), bytes);
    EXPECT_EQ(p.Size(), 6u);
    EXPECT_EQ(p.Skip(7), nullptr);
    EXPECT_EQ(p.Size(), 6u) << "a refused skip changes nothing";
    EXPECT_EQ(p.Skip(6), bytes + 4);
    EXPECT_EQ(p.Skip(0), bytes + 10);
    EXPECT_EQ(p.Skip(1), nullptr);
}

TEST(MarginPackage, WalkDeliversWholeRecordsInEitherByteOrder) {
    const std::vector<Rec> recs = {{0x228, "order"}, {0x229, ""}, {0x31b, std::string(300, 'c')}};
    for (bool big : {false, true}) {
        const auto b = Package(recs, big);
        EXPECT_EQ(Walk(b.data(), b.data() + b.size(), big), recs) << big;
    }
}

// Every prefix of a package, in a buffer of exactly that size: the complete records before
// the cut come out, nothing past the end is read.
TEST(MarginPackage, TruncationTable) {
    const std::vector<Rec> recs = {{0x228, "aaaa"}, {0x233, "bbbbbbbb"}, {0x231, "cc"}};
    const auto full = Package(recs, false);
    std::vector<std::size_t> ends;  // where each record ends
    std::size_t at = 0;
    for (const auto& r : recs) ends.push_back(at += 6 + r.payload.size());
    for (std::size_t len = 0; len <= full.size(); ++len) {
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        std::memcpy(exact.get(), full.data(), len);
        std::size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= len) ++whole;
        const auto got = Walk(exact.get(), exact.get() + len, false);
        EXPECT_EQ(got, std::vector<Rec>(recs.begin(), recs.begin() + static_cast<long>(whole))) << "len " << len;
    }
}

TEST(MarginPackage, LengthBeyondTheBytesLeftEndsTheWalk) {
    auto b = Package({{0x228, "abc"}, {0x229, "def"}}, false);
    // the second record claims 0xFFFFFFFF bytes
    b[9 + 2] = b[9 + 3] = b[9 + 4] = b[9 + 5] = static_cast<char>(0xFF);
    EXPECT_EQ(Walk(b.data(), b.data() + b.size(), false), (std::vector<Rec>{{0x228, "abc"}}));
    // read as big-endian the first length is 0x03000000
    EXPECT_TRUE(Walk(b.data(), b.data() + b.size(), true).empty());
}

TEST(MarginPackage, FlowMessageHeadAndRecords) {
    std::vector<char> msg(21, 0);
    msg[16] = 2;   // count 2, little-endian
    msg[20] = 1;   // end flag
    const auto recs = Package({{0x228, "x"}, {0x229, "yy"}}, false);
    msg.insert(msg.end(), recs.begin(), recs.end());
    const CSubResultPackage pkg(msg.data(), msg.size(), false);
    ASSERT_TRUE(pkg.HasHead());
    EXPECT_EQ(pkg.Head().count, 2u);
    EXPECT_EQ(pkg.Head().end_flag, 1);
    EXPECT_EQ(pkg.Records().Begin(), msg.data() + 21);
    EXPECT_EQ(Walk(pkg.Records().Begin(), pkg.Records().End(), false).size(), 2u);

    for (std::size_t len = 0; len < 21; ++len) {
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        std::memcpy(exact.get(), msg.data(), len);
        const CSubResultPackage cut(len ? exact.get() : nullptr, len, false);
        EXPECT_FALSE(cut.HasHead()) << len;
    }
}

}  // namespace
