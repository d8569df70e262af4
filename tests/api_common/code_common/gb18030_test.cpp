// GB18030 and UTF-8 conversion against the C library's iconv: the 1-, 2- and 4-byte forms,
// every BMP character, truncated tails and invalid sequences.
//
// Needs the locale zh_CN.GB18030, which scripts/test.sh builds into the build tree (no change
// to the host). The test finds it through LOCPATH, OXA_LOCALE_DIR, or <build>/locale next to
// the test executable, and fails, naming the command, when it is in none of them.
#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "api_common/code_common/xTools.h"

namespace xt = OXA::API::xTools;

// glibc's newlocale leaks its copy of LOCPATH on every call while LOCPATH is set, as it is here.
// (Visible, so the sanitizer runtime finds it in a build that hides symbols by default.)
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\nleak:__argz_create_sep\n";
}

namespace {

bool HasLocale(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && ::stat((dir + "/zh_CN.GB18030/LC_CTYPE").c_str(), &st) == 0;
}

std::string BuildLocaleDir() {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<std::size_t>(n));
    path = path.substr(0, path.rfind('/'));        // <build>/tests
    return path.substr(0, path.rfind('/')) + "/locale";
}

// Points LOCPATH at the first folder holding the locale; the message when there is none.
std::string PrepareLocale() {
    std::vector<std::string> tried;
    if (const char* locpath = std::getenv("LOCPATH")) {
        std::string all = locpath;
        for (std::size_t start = 0; start <= all.size();) {
            const std::size_t end = std::min(all.find(':', start), all.size());
            const std::string dir = all.substr(start, end - start);
            if (HasLocale(dir)) return "";
            tried.push_back(dir);
            start = end + 1;
        }
    }
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("OXA_LOCALE_DIR")) candidates.push_back(dir);
    candidates.push_back(BuildLocaleDir());
    for (const auto& dir : candidates) {
        if (HasLocale(dir)) {
            ::setenv("LOCPATH", dir.c_str(), 1);
            return "";
        }
        tried.push_back(dir);
    }
    std::string message = "the locale zh_CN.GB18030 is missing (looked in";
    for (const auto& dir : tried) message += " [" + dir + "]";
    return message + "); build it with: localedef -i zh_CN -f GB18030 " + BuildLocaleDir() +
           "/zh_CN.GB18030 (scripts/test.sh does)";
}

// iconv's answer: 0 and the converted bytes, or EILSEQ / EINVAL (cut short).
int Iconv(const char* from, const char* to, const std::string& in, std::string& out) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    out.assign(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = &out[0];
    std::size_t dst_left = out.size();
    const std::size_t r = ::iconv(cd, &src, &src_left, &dst, &dst_left);
    const int err = r == static_cast<std::size_t>(-1) ? errno : 0;
    ::iconv_close(cd);
    out.resize(out.size() - dst_left);
    return err;
}

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
    static void SetUpTestSuite() { s_missing = new std::string(PrepareLocale()); }
    void SetUp() override { ASSERT_TRUE(s_missing->empty()) << *s_missing; }
    static std::string* s_missing;
};
std::string* Gb18030Test::s_missing = nullptr;

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
