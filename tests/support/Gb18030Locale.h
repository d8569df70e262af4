// What the GB18030 checks need around the conversions: the locale zh_CN.GB18030, which the
// build makes in <build>/locale (the host's locales are left alone), and iconv as the reference.
// Header-only, for the tests and the fuzz targets alike.
#pragma once

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

// glibc's newlocale leaks its copy of LOCPATH on every call while LOCPATH is set, as it is for
// these checks. Expand once in the binary's file that uses the locale (visible, so the
// sanitizer runtime finds it in a build that hides symbols by default).
#define OXA_GB18030_LOCALE_LEAK_SUPPRESSIONS()                                                 \
    extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { \
        return "leak:argz_add_sep\nleak:argz_create_sep\n";                                    \
    }

namespace oxa_test {

inline bool HasGb18030Locale(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && ::stat((dir + "/zh_CN.GB18030/LC_CTYPE").c_str(), &st) == 0;
}

// <build>/locale for an executable one folder below the build folder (tests/, fuzz/).
inline std::string BuildLocaleDir() {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<std::size_t>(n));
    path = path.substr(0, path.rfind('/'));
    return path.substr(0, path.rfind('/')) + "/locale";
}

// Points LOCPATH at the first folder holding the locale: one already on LOCPATH, then
// OXA_LOCALE_DIR, then <build>/locale. "" when found, else the message saying where it looked
// and how to make it.
inline std::string PrepareGb18030Locale() {
    std::vector<std::string> tried;
    if (const char* locpath = std::getenv("LOCPATH")) {
        const std::string all = locpath;
        for (std::size_t start = 0; start <= all.size();) {
            const std::size_t end = std::min(all.find(':', start), all.size());
            const std::string dir = all.substr(start, end - start);
            if (HasGb18030Locale(dir)) return "";
            tried.push_back(dir);
            start = end + 1;
        }
    }
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("OXA_LOCALE_DIR")) candidates.push_back(dir);
    candidates.push_back(BuildLocaleDir());
    for (const auto& dir : candidates) {
        if (HasGb18030Locale(dir)) {
            ::setenv("LOCPATH", dir.c_str(), 1);
            return "";
        }
        tried.push_back(dir);
    }
    std::string message = "the locale zh_CN.GB18030 is missing (looked in";
    for (const auto& dir : tried) message += " [" + dir + "]";
    return message + "); the build makes it with localedef (Debian packages libc-bin and locales), or by hand: " +
           "localedef -i zh_CN -f GB18030 " + BuildLocaleDir() + "/zh_CN.GB18030";
}

// iconv's answer for the whole input: 0 with out holding the converted bytes, EILSEQ for an
// invalid sequence, EINVAL for one the end cuts short, -1 when iconv knows neither code page.
inline int Iconv(const char* from, const char* to, const std::string& in, std::string& out) {
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

}  // namespace oxa_test
