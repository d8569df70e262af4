// Trimming, splitting, formatting into owned and per-thread buffers, hexadecimal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "api_common/code_common/xTools.h"
#include "support/TestApi.h"

namespace xt = OXA::API::xTools;

namespace {

TEST(xToolsTrim, RemovesTheFourWhitespaceBytesAtBothEnds) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"  \t x y \r\n", "x y"}, {"\r\n", ""}, {"", ""}, {"abc", "abc"}, {"\v a \f", "\v a \f"}, {" a\tb ", "a\tb"},
    };
    for (const auto& row : rows) {
        std::string s = row.in;
        xt::Trim(s);
        EXPECT_EQ(s, row.out) << "[" << row.in << "]";

        std::vector<char> c(row.in.begin(), row.in.end());
        c.push_back('\0');
        xt::TrimCString(c.data());
        EXPECT_STREQ(c.data(), row.out.c_str()) << "[" << row.in << "]";
    }
    char spaces[] = "    ";
    xt::TrimCString(spaces);
    EXPECT_STREQ(spaces, "");
    xt::TrimCString(nullptr);
}

TEST(xToolsTrim, EachAndRemoveEmptyKeepTheOrder) {
    std::vector<std::string> v = {" a ", "", "  ", "b", "\tc"};
    xt::TrimEach(v);
    EXPECT_EQ(v, (std::vector<std::string>{"a", "", "", "b", "c"}));
    xt::RemoveEmpty(v);
    EXPECT_EQ(v, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(xToolsSplit, EveryStretchIsAPieceAndTheLastAlwaysCounts) {
    struct Row {
        std::string in;
        bool trim;
        std::vector<std::string> out;
    } rows[] = {
        {"", false, {""}},
        {"x", false, {"x"}},
        {"a,,b,", false, {"a", "", "b", ""}},
        {",", false, {"", ""}},
        {" a , b ", true, {"a", "b"}},
        {" a , b ", false, {" a ", " b "}},
    };
    for (const auto& row : rows) {
        std::vector<std::string> pieces = {"stale"};
        EXPECT_EQ(xt::Split(pieces, row.in, ',', row.trim), row.out.size()) << row.in;
        EXPECT_EQ(pieces, row.out) << row.in;
    }
    std::vector<std::string> pieces;
    EXPECT_EQ(xt::Split(pieces, " p ; q", ';'), 2u);
    EXPECT_EQ(pieces, (std::vector<std::string>{"p", "q"}));

    // splitting one of the pieces again, into the same vector
    pieces = {"x", "a:b:c"};
    EXPECT_EQ(xt::Split(pieces, pieces[1], ':', false), 3u);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b", "c"}));
}

// A text of exactly n characters built through a %s argument and a %d, so a second pass over a
// used-up argument list would show.
std::string Expected(std::size_t n) {
    std::string s = "n=" + std::to_string(n) + ":";
    while (s.size() < n) s.push_back(static_cast<char>('a' + s.size() % 26));
    return s;
}
std::string Tail(std::size_t n) { return Expected(n).substr(("n=" + std::to_string(n) + ":").size()); }

TEST(xToolsFormat, GrowsToExactlyTheTextAndKeepsTheLargestBuffer) {
    // each row on a fresh thread, whose buffer starts at 64 bytes
    struct Row {
        std::size_t length, size_after;
    } rows[] = {{63, 64}, {64, 65}, {65, 66}, {0, 64}, {1000, 1001}};
    for (const auto& row : rows) {
        std::thread([&] {
            const std::string tail = Tail(row.length);
            const char* out = row.length == 0 ? xt::thFormat("%s", "")
                                              : xt::thFormat("n=%d:%s", static_cast<int>(row.length), tail.c_str());
            EXPECT_EQ(std::string(out), row.length == 0 ? "" : Expected(row.length));
            EXPECT_EQ(xt::detail::thFormatBufferSize(), row.size_after) << row.length;
            // never shrinks: a short text afterwards keeps the buffer
            EXPECT_STREQ(xt::thFormat("%d", 7), "7");
            EXPECT_EQ(xt::detail::thFormatBufferSize(), row.size_after);
        }).join();
    }
    std::thread([] {
        const std::string tail = Tail(64);
        const char* first = xt::thFormat("n=%d:%s", 64, tail.c_str());
        const char* second = xt::thFormat("n=%d:%s", 64, tail.c_str());
        EXPECT_EQ(first, second) << "the second 64-character text fits the grown buffer";
        EXPECT_EQ(std::string(second), Expected(64));
    }).join();
}

TEST(xToolsFormat, OwnedResultsMatchThePerThreadOne) {
    for (std::size_t n : {63u, 64u, 65u, 300u}) {
        const std::string tail = Tail(n);
        char* owned = nullptr;
        xt::FormatAlloc(&owned, "n=%d:%s", static_cast<int>(n), tail.c_str());
        ASSERT_NE(owned, nullptr);
        EXPECT_EQ(std::string(owned), Expected(n));
        std::free(owned);

        std::shared_ptr<std::string> shared;
        xt::FormatShared(shared, "n=%d:%s", static_cast<int>(n), tail.c_str());
        ASSERT_NE(shared, nullptr);
        EXPECT_EQ(*shared, Expected(n));
    }
}

TEST(xToolsFormat, AnEncodingErrorGivesAnEmptyText) {
    // %ls of a character the C locale cannot encode makes vsnprintf return -1
    const wchar_t wide[] = {0x4E2D, 0};
    std::thread([&] {
        EXPECT_STREQ(xt::thFormat("%ls", wide), "");
        EXPECT_EQ(xt::detail::thFormatBufferSize(), 64u) << "a failure does not grow the buffer";
        EXPECT_STREQ(xt::thFormat("%s", "after"), "after");
    }).join();
    char* owned = nullptr;
    xt::FormatAlloc(&owned, "x%lsy", wide);
    ASSERT_NE(owned, nullptr);
    EXPECT_STREQ(owned, "");
    std::free(owned);
    std::shared_ptr<std::string> shared;
    xt::FormatShared(shared, "%ls", wide);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(*shared, "");
}

TEST(xToolsFormat, ThreadsKeepTheirOwnBuffers) {
    std::vector<std::thread> threads;
    std::vector<int> bad(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 2000; ++i) {
                const std::string want = std::to_string(t) + ":" + std::string(static_cast<std::size_t>(i % 100), 'x');
                const char* got = xt::thFormat("%d:%s", t, want.c_str() + want.find(':') + 1);
                if (want != got) ++bad[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad, std::vector<int>(4, 0));
}

TEST(xToolsHex, EncodesUpperCaseHighNibbleFirst) {
    const std::string bytes("\x00\xAB\xFF\x10", 4);
    std::string out = "stale";
    xt::HexEncode(bytes, out);
    EXPECT_EQ(out, "00ABFF10");
    EXPECT_EQ(*xt::HexEncode(bytes.data(), bytes.size()), "00ABFF10");
    EXPECT_EQ(xt::thHexEncode(bytes), "00ABFF10");
    EXPECT_EQ(xt::thHexEncode("", 0), "");
    // the thread's own result as input
    const std::string& again = xt::thHexEncode(xt::thHexEncode("\x01", 1));
    EXPECT_EQ(again, "3031");
    std::string self = "AB";
    xt::HexEncode(self, self);
    EXPECT_EQ(self, "4142");
}

TEST(xToolsHex, DecodeTable) {
    struct Row {
        std::string in;
        const char* error;  // null: decodes
        std::string out;    // the output afterwards (starts as "stale")
    } rows[] = {
        {"", nullptr, ""},
        {"00ABFF", nullptr, std::string("\x00\xAB\xFF", 3)},
        {"0aff", "not a hex digit", ""},
        {"41G1", "not a hex digit", "A"},  // bytes before the bad pair stay
        {"ABC", "odd length", "stale"},    // output untouched
        {"4", "odd length", "stale"},
        {"4 ", "not a hex digit", ""},
    };
    for (const auto& row : rows) {
        std::string out = "stale";
        if (row.error == nullptr) {
            EXPECT_NO_THROW(xt::HexDecode(row.in, out)) << row.in;
            EXPECT_EQ(xt::thHexDecode(row.in), row.out) << row.in;
            auto shared = xt::HexDecode(row.in.data(), row.in.size());
            ASSERT_NE(shared, nullptr) << row.in;
            EXPECT_EQ(*shared, row.out);
        } else {
            try {
                xt::HexDecode(row.in, out);
                ADD_FAILURE() << row.in << " decoded";
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), row.error) << row.in;
            }
            EXPECT_THROW(xt::thHexDecode(row.in), std::invalid_argument) << row.in;
            EXPECT_EQ(xt::HexDecode(row.in.data(), row.in.size()), nullptr) << row.in;
        }
        EXPECT_EQ(out, row.out) << row.in;
    }
    EXPECT_EQ(xt::thHexDecode(xt::thHexDecode("3431", 4)), "A") << "the thread's own result as input";
}

TEST(xToolsReadFile, ReadsEveryByteAndGivesEmptyForAMissingFile) {
    const std::string path = oxa_test::TestLogDir() + "/xtools_read.bin";
    const std::string bytes("a\0b\r\n\xff", 6);
    { std::ofstream(path, std::ios::binary) << bytes; }
    EXPECT_EQ(xt::ReadFile(path.c_str()), bytes);
    EXPECT_EQ(xt::ReadFile((path + ".missing").c_str()), "");
    EXPECT_EQ(xt::ReadFile(oxa_test::TestLogDir().c_str()), "") << "a directory reads as nothing";
}

}  // namespace
