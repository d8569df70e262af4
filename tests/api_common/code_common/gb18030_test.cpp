// GB18030 and UTF-8 conversion against the C library's iconv: the 1-, 2- and 4-byte forms,
// every BMP character, truncated tails and invalid sequences.
//
// Needs the locale zh_CN.GB18030, which the build makes in the build tree (no change to the
// host). The test finds it through LOCPATH, OXA_LOCALE_DIR, or <build>/locale next to the test
// executable, and fails, naming the command, when it is in none of them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "api_common/code_common/xTools.h"
#include "support/Gb18030Locale.h"

namespace xt = OXA::API::xTools;

OXA_GB18030_LOCALE_LEAK_SUPPRESSIONS()

namespace {

using oxa_test::Iconv;

std::string Utf8(char32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// The four-byte form of a supplementary-plane character, by the standard's arithmetic.
std::string Gb18030Supplementary(char32_t cp) {
    unsigned linear = static_cast<unsigned>(cp - 0x10000);
    std::string s(4, '\0');
    s[3] = static_cast<char>(0x30 + linear % 10);
    linear /= 10;
    s[2] = static_cast<char>(0x81 + linear % 126);
    linear /= 126;
    s[1] = static_cast<char>(0x30 + linear % 10);
    linear /= 10;
    s[0] = static_cast<char>(0x90 + linear);
    return s;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

class Gb18030Test : public ::testing::Test {
protected:
    // made again on every run of the suite (--gtest_repeat)
    static void SetUpTestSuite() { Missing() = oxa_test::PrepareGb18030Locale(); }
    void SetUp() override { ASSERT_TRUE(Missing().empty()) << Missing(); }
    static std::string& Missing() {
        static std::string missing;
        return missing;
    }
};

TEST_F(Gb18030Test, KnownFormsAgreeWithIconvBothWays) {
    struct Row {
        char32_t cp;
        std::string gb;  // empty: take iconv's
    } rows[] = {
        {U'A', "A"},
        {0x4E2D, "\xD6\xD0"},                 // two-byte form
        {0x6587, "\xCE\xC4"},
        {0x3000, "\xA1\xA1"},
        {0x0080, std::string("\x81\x30\x81\x30", 4)},  // four-byte BMP form
        {0x00A5, std::string("\x81\x30\x84\x36", 4)},
        {0x20AC, ""},
        {0xFFFF, ""},
        {0x10000, Gb18030Supplementary(0x10000)},  // four-byte supplementary form
        {0x1F600, Gb18030Supplementary(0x1F600)},
        {0x10FFFF, Gb18030Supplementary(0x10FFFF)},
    };
    for (const auto& row : rows) {
        const std::string utf8 = Utf8(row.cp);
        std::string by_iconv;
        ASSERT_EQ(Iconv("UTF-8", "GB18030", utf8, by_iconv), 0) << std::hex << row.cp;
        if (!row.gb.empty()) {
            EXPECT_EQ(Hex(by_iconv), Hex(row.gb)) << "iconv, U+" << std::hex << row.cp;
        }
        EXPECT_EQ(Hex(xt::Utf8ToGb18030(utf8)), Hex(by_iconv)) << "U+" << std::hex << row.cp;
        EXPECT_EQ(Hex(xt::Gb18030ToUtf8(by_iconv)), Hex(utf8)) << "U+" << std::hex << row.cp;
        EXPECT_EQ(xt::Gb18030ToWide(by_iconv), std::wstring(1, static_cast<wchar_t>(row.cp)));
        EXPECT_EQ(xt::Utf8ToWide(utf8), std::wstring(1, static_cast<wchar_t>(row.cp)));
    }
}

TEST_F(Gb18030Test, EveryBmpCharacterMatchesIconvInOneText) {
    // the few characters iconv cannot encode (private-use ones the code page gave to real
    // characters) must be refused here too
    std::string utf8;
    std::vector<char32_t> refused;
    auto add = [&](char32_t cp) {
        std::string gb;
        if (Iconv("UTF-8", "GB18030", Utf8(cp), gb) == 0)
            utf8 += Utf8(cp);
        else
            refused.push_back(cp);
    };
    for (char32_t cp = 1; cp < 0x10000; ++cp)
        if (cp < 0xD800 || cp > 0xDFFF) add(cp);
    for (char32_t cp = 0x10000; cp <= 0x10FFFF; cp += 0x3FF) add(cp);
    ASSERT_LT(refused.size(), 100u);

    std::string gb_iconv, back_iconv;
    ASSERT_EQ(Iconv("UTF-8", "GB18030", utf8, gb_iconv), 0);
    const std::string gb = xt::Utf8ToGb18030(utf8);
    EXPECT_TRUE(gb == gb_iconv) << "Utf8ToGb18030 differs from iconv";
    ASSERT_EQ(Iconv("GB18030", "UTF-8", gb_iconv, back_iconv), 0);
    EXPECT_TRUE(xt::Gb18030ToUtf8(gb_iconv) == back_iconv) << "Gb18030ToUtf8 differs from iconv";
    EXPECT_EQ(xt::Gb18030ToWide(gb_iconv).size(), xt::Utf8ToWide(back_iconv).size());

    for (char32_t cp : refused) {
        try {
            xt::Utf8ToGb18030("a" + Utf8(cp));
            ADD_FAILURE() << "U+" << std::hex << cp << " encoded";
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::to_bytes");
        }
    }
}

TEST_F(Gb18030Test, ACutOffOrInvalidSequenceThrowsWhereIconvRefuses) {
    struct Row {
        std::string gb;
        int iconv_error;
    } rows[] = {
        {"\xD6", EINVAL},                          // half of a two-byte form
        {"A\xD6", EINVAL},
        {"\xD6\xD0\xCE", EINVAL},
        {"\x81\x30", EINVAL},                      // four-byte forms cut after 1, 2 and 3 bytes
        {"\x81", EINVAL},
        {std::string("\x81\x30\x81", 3), EINVAL},
        {std::string("\x95\x32\x82", 3), EINVAL},
        {"\x81\x20", EILSEQ},                      // not a second byte
        {"\xFF", EILSEQ},
        // a NUL inside a character: no half of it may be carried over the NUL
        {std::string("\xD6\x00\xD0", 3), EILSEQ},
        {std::string("\x81\x30\x00\x81\x30", 5), EILSEQ},
        {std::string("\xB8\x00\x87", 3), EILSEQ},
        {std::string("\xD6\xD0\x00\xCE", 4), EINVAL},   // the last piece cut short
        {std::string("\x81\x30\x81\x00", 4), EILSEQ},
    };
    for (const auto& row : rows) {
        std::string ignored;
        EXPECT_EQ(Iconv("GB18030", "UTF-8", row.gb, ignored), row.iconv_error) << Hex(row.gb);
        try {
            xt::Gb18030ToWide(row.gb);
            ADD_FAILURE() << Hex(row.gb) << " decoded";
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::from_bytes") << Hex(row.gb);
        }
        EXPECT_THROW(xt::Gb18030ToUtf8(row.gb), std::range_error) << Hex(row.gb);
    }
}

TEST_F(Gb18030Test, Utf8InputIsCheckedWhole) {
    const std::string bad[] = {"\xC3", "a\xE4\xB8", std::string("\xF0\x9F\x98", 3), "\x80", "\xF4\x90\x80\x80",
                               "\xC0\x80", "\xFF"};
    for (const auto& text : bad) {
        EXPECT_THROW(xt::Utf8ToWide(text), std::range_error) << Hex(text);
        EXPECT_THROW(xt::Utf8ToGb18030(text), std::range_error) << Hex(text);
    }
    // the standard facet decodes an encoded surrogate; no code page can hold it
    EXPECT_THROW(xt::Utf8ToGb18030("\xED\xA0\x80"), std::range_error);
    // an embedded NUL is a character like any other
    EXPECT_EQ(xt::Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    const std::string gb_nuls("\0\xD6\xD0\0\0\x81\x30\x81\x30\0", 10);
    std::string utf8_nuls;
    ASSERT_EQ(Iconv("GB18030", "UTF-8", gb_nuls, utf8_nuls), 0);
    EXPECT_EQ(Hex(xt::Gb18030ToUtf8(gb_nuls)), Hex(utf8_nuls));
    EXPECT_EQ(xt::Gb18030ToWide(gb_nuls), std::wstring(L"\0\u4E2D\0\0\u0080\0", 6));
    EXPECT_EQ(Hex(xt::Utf8ToGb18030(utf8_nuls)), Hex(gb_nuls));
    EXPECT_EQ(xt::Gb18030ToUtf8("plain ascii"), "plain ascii");
    EXPECT_EQ(xt::Gb18030ToUtf8(""), "");
    EXPECT_EQ(xt::Utf8ToGb18030(""), "");
    EXPECT_EQ(xt::Gb18030ToWide(""), L"");
}

TEST(Gb18030Locale, AMissingLocaleThrowsBeforeConverting) {
    // a folder without the locale: the facet cannot be made
    const char* saved = std::getenv("LOCPATH");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("LOCPATH", "/nonexistent-oxa-locale", 1);
    EXPECT_THROW(xt::Gb18030ToWide("A"), std::runtime_error);
    if (saved != nullptr)
        ::setenv("LOCPATH", keep.c_str(), 1);
    else
        ::unsetenv("LOCPATH");
}

}  // namespace
