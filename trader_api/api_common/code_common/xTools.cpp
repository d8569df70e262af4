#include "api_common/code_common/xTools.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <locale>
#include <new>
#include <stdexcept>

// codecvt_utf8 is deprecated from C++17 on but has no replacement in the standard library yet
#include <codecvt>

#include "api_common/code_common/FileHelper.h"

namespace OXA {
namespace API {
namespace xTools {

namespace {

constexpr const char* kWhitespace = " \t\n\r";
constexpr std::size_t kFormatStartSize = 64;
constexpr const char kHexDigits[] = "0123456789ABCDEF";

// ------------------------------------------------------------------------------------------
// Formatting

// Formats into *buffer (*size bytes, from malloc); when the text needs more it is replaced by a
// buffer of exactly n + 1 bytes and the text formatted again from a fresh copy of the arguments.
// Returns the length, or -1 with *buffer holding "" when the C library reports an encoding
// error (the buffer is then not grown).
int FormatInto(char** buffer, std::size_t* size, const char* format, va_list args) {
    va_list first;
    va_copy(first, args);
    int n = std::vsnprintf(*buffer, *size, format, first);
    va_end(first);
    if (n >= 0 && static_cast<std::size_t>(n) >= *size) {
        const std::size_t need = static_cast<std::size_t>(n) + 1;
        char* grown = static_cast<char*>(std::malloc(need));
        if (grown == nullptr) throw std::bad_alloc();
        std::free(*buffer);
        *buffer = grown;
        *size = need;
        va_list second;
        va_copy(second, args);
        n = std::vsnprintf(*buffer, *size, format, second);
        va_end(second);
        if (n >= 0 && static_cast<std::size_t>(n) >= *size) n = -1;
    }
    if (n < 0) {
        (*buffer)[0] = '\0';
        return -1;
    }
    return n;
}

char* NewFormatBuffer() {
    char* buffer = static_cast<char*>(std::malloc(kFormatStartSize));
    if (buffer == nullptr) throw std::bad_alloc();
    return buffer;
}

struct ThreadFormatBuffer {
    char* data = nullptr;
    std::size_t size = 0;
    ~ThreadFormatBuffer() { std::free(data); }
};

ThreadFormatBuffer& FormatBuffer() {
    thread_local ThreadFormatBuffer buffer;
    return buffer;
}

// ------------------------------------------------------------------------------------------
// Hexadecimal

// True when p points into out's storage, so writing out would change the input.
bool PointsInto(const std::string& out, const char* p) {
    const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return at >= begin && at < begin + out.capacity() + 1;
}

void EncodeInto(const char* bytes, std::size_t length, std::string& out) {
    out.clear();
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out.push_back(kHexDigits[byte >> 4]);
        out.push_back(kHexDigits[byte & 15]);
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void DecodeInto(const char* text, std::size_t length, std::string& out) {
    out.clear();
    out.reserve(length / 2);
    for (std::size_t i = 0; i < length; i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) throw std::invalid_argument("not a hex digit");
        out.push_back(static_cast<char>(high * 16 + low));
    }
}

// ------------------------------------------------------------------------------------------
// Code pages

// Lets a conversion own a facet, whose destructor the standard makes protected.
template <class Facet>
class deletable_facet : public Facet {
public:
    using Facet::Facet;
    ~deletable_facet() override {}
};

using Gb18030Facet = deletable_facet<std::codecvt_byname<wchar_t, char, std::mbstate_t>>;
using Utf8Facet = std::codecvt_utf8<wchar_t, 0x10FFFF>;
constexpr const char* kGb18030Locale = "zh_CN.GB18030";

// Decodes bytes that hold no NUL into out, which has room for one character per byte.
template <class Facet>
wchar_t* DecodePiece(const Facet& facet, const char* bytes, const char* end, wchar_t* out, wchar_t* out_end) {
    std::mbstate_t state{};
    const char* from_next = bytes;
    wchar_t* to_next = out;
    const auto result = facet.in(state, bytes, end, from_next, out, out_end, to_next);
    // A sequence cut off by the end shows as partial, as bytes left over, or as bytes the facet
    // holds in its state; each is an error, not a character to drop.
    if (result != std::codecvt_base::ok || from_next != end || !std::mbsinit(&state))
        throw std::range_error("wstring_convert::from_bytes");
    return to_next;
}

// A NUL byte is never part of a multibyte character, but the C library's conversion behind the
// named-locale facet runs from NUL to NUL and carries a half-read character over the NUL, so
// D6 00 D0 would come out as U+0000 U+4E2D. Each stretch between NULs is therefore decoded on
// its own and must end on a whole character.
template <class Facet>
std::wstring Decode(const Facet& facet, const char* bytes, std::size_t length) {
    std::wstring wide(length, L'\0');  // every character takes at least one byte
    if (length == 0) return wide;
    const char* const end = bytes + length;
    wchar_t* const out_end = &wide[0] + length;
    wchar_t* to = &wide[0];
    for (const char* from = bytes; from != end;) {
        const char* nul = static_cast<const char*>(std::memchr(from, '\0', static_cast<std::size_t>(end - from)));
        const char* piece_end = nul != nullptr ? nul : end;
        if (piece_end != from) to = DecodePiece(facet, from, piece_end, to, out_end);
        if (nul == nullptr) break;
        *to++ = L'\0';
        from = nul + 1;
    }
    wide.resize(static_cast<std::size_t>(to - wide.data()));
    return wide;
}

template <class Facet>
std::string Encode(const Facet& facet, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const std::size_t per_char = static_cast<std::size_t>(std::max(facet.max_length(), 4));
    std::string bytes(wide.size() * per_char, '\0');
    std::mbstate_t state{};
    const wchar_t* from_next = wide.data();
    char* to_next = &bytes[0];
    const auto result = facet.out(state, wide.data(), wide.data() + wide.size(), from_next, &bytes[0],
                                  &bytes[0] + bytes.size(), to_next);
    if (result != std::codecvt_base::ok || from_next != wide.data() + wide.size())
        throw std::range_error("wstring_convert::to_bytes");
    bytes.resize(static_cast<std::size_t>(to_next - bytes.data()));
    return bytes;
}

}  // namespace

// ----------------------------------------------------------------------------------------------
// Trimming and splitting

void Trim(std::string& text) {
    if (text.empty()) return;
    const std::size_t first = text.find_first_not_of(kWhitespace);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const std::size_t last = text.find_last_not_of(kWhitespace);
    text.erase(last + 1);
    text.erase(0, first);
}

void TrimEach(std::vector<std::string>& texts) {
    for (auto& text : texts)
        if (!text.empty()) Trim(text);
}

void TrimCString(char* text) {
    if (text == nullptr || text[0] == '\0') return;
    const std::size_t length = std::strlen(text);
    std::size_t first = 0;
    while (first < length && std::strchr(kWhitespace, text[first]) != nullptr) ++first;
    std::size_t end = length;
    while (end > first && std::strchr(kWhitespace, text[end - 1]) != nullptr) --end;
    std::memmove(text, text + first, end - first);
    text[end - first] = '\0';
}

void RemoveEmpty(std::vector<std::string>& texts) {
    texts.erase(std::remove_if(texts.begin(), texts.end(), [](const std::string& t) { return t.empty(); }),
                texts.end());
}

std::size_t Split(std::vector<std::string>& pieces, const std::string& text, char separator, bool trim) {
    // one of the pieces as the text: clearing them would free it
    for (const auto& piece : pieces) {
        if (&piece == &text) {
            const std::string copy = text;
            return Split(pieces, copy, separator, trim);
        }
    }
    pieces.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            pieces.emplace_back(text, start);
            break;
        }
        pieces.emplace_back(text, start, at - start);
        start = at + 1;
    }
    if (trim) TrimEach(pieces);
    return pieces.size();
}

std::size_t Split(std::vector<std::string>& pieces, const std::string& text, char separator) {
    return Split(pieces, text, separator, true);
}

// ----------------------------------------------------------------------------------------------
// Formatting

const char* thFormat(const char* format, ...) {
    ThreadFormatBuffer& buffer = FormatBuffer();
    if (buffer.data == nullptr) {
        buffer.data = NewFormatBuffer();
        buffer.size = kFormatStartSize;
    }
    va_list args;
    va_start(args, format);
    try {
        FormatInto(&buffer.data, &buffer.size, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return buffer.data;
}

void FormatAlloc(char** out, const char* format, ...) {
    char* data = NewFormatBuffer();
    std::size_t size = kFormatStartSize;
    va_list args;
    va_start(args, format);
    try {
        FormatInto(&data, &size, format, args);
    } catch (...) {
        va_end(args);
        std::free(data);
        throw;
    }
    va_end(args);
    *out = data;
}

void FormatShared(std::shared_ptr<std::string>& out, const char* format, ...) {
    char* data = NewFormatBuffer();
    std::size_t size = kFormatStartSize;
    va_list args;
    va_start(args, format);
    int n = -1;
    try {
        n = FormatInto(&data, &size, format, args);
        out = std::make_shared<std::string>(data, n < 0 ? 0 : static_cast<std::size_t>(n));
    } catch (...) {
        va_end(args);
        std::free(data);
        throw;
    }
    va_end(args);
    std::free(data);
}

namespace detail {
std::size_t thFormatBufferSize() { return FormatBuffer().size; }
}  // namespace detail

// ----------------------------------------------------------------------------------------------
// Hexadecimal

void HexEncode(const char* bytes, std::size_t length, std::string& out) {
    if (length != 0 && PointsInto(out, bytes)) {
        const std::string copy(bytes, length);
        EncodeInto(copy.data(), length, out);
        return;
    }
    EncodeInto(bytes, length, out);
}

void HexEncode(const std::string& bytes, std::string& out) { HexEncode(bytes.data(), bytes.size(), out); }

std::shared_ptr<std::string> HexEncode(const char* bytes, std::size_t length) {
    auto out = std::make_shared<std::string>();
    EncodeInto(bytes, length, *out);
    return out;
}

const std::string& thHexEncode(const char* bytes, std::size_t length) {
    thread_local std::string out;
    HexEncode(bytes, length, out);
    return out;
}

const std::string& thHexEncode(const std::string& bytes) { return thHexEncode(bytes.data(), bytes.size()); }

void HexDecode(const char* text, std::size_t length, std::string& out) {
    if (length % 2 != 0) throw std::invalid_argument("odd length");
    if (length != 0 && PointsInto(out, text)) {
        const std::string copy(text, length);
        DecodeInto(copy.data(), length, out);
        return;
    }
    DecodeInto(text, length, out);
}

void HexDecode(const std::string& text, std::string& out) { HexDecode(text.data(), text.size(), out); }

std::shared_ptr<std::string> HexDecode(const char* text, std::size_t length) {
    auto out = std::make_shared<std::string>();
    try {
        HexDecode(text, length, *out);
    } catch (const std::invalid_argument&) {
        return nullptr;
    }
    return out;
}

const std::string& thHexDecode(const char* text, std::size_t length) {
    thread_local std::string out;
    HexDecode(text, length, out);
    return out;
}

const std::string& thHexDecode(const std::string& text) { return thHexDecode(text.data(), text.size()); }

// ----------------------------------------------------------------------------------------------
// Code pages: each call builds its own facets; nothing is cached between calls.

std::wstring Gb18030ToWide(const char* bytes, std::size_t length) {
    const Gb18030Facet facet(kGb18030Locale);
    return Decode(facet, bytes, length);
}

std::wstring Gb18030ToWide(const std::string& bytes) { return Gb18030ToWide(bytes.data(), bytes.size()); }

std::wstring Utf8ToWide(const char* bytes, std::size_t length) {
    const Utf8Facet facet;
    return Decode(facet, bytes, length);
}

std::wstring Utf8ToWide(const std::string& bytes) { return Utf8ToWide(bytes.data(), bytes.size()); }

std::string Gb18030ToUtf8(const char* bytes, std::size_t length) {
    const std::wstring wide = Gb18030ToWide(bytes, length);
    const Utf8Facet facet;
    return Encode(facet, wide);
}

std::string Gb18030ToUtf8(const std::string& bytes) { return Gb18030ToUtf8(bytes.data(), bytes.size()); }

std::string Utf8ToGb18030(const char* bytes, std::size_t length) {
    const std::wstring wide = Utf8ToWide(bytes, length);
    const Gb18030Facet facet(kGb18030Locale);
    return Encode(facet, wide);
}

std::string Utf8ToGb18030(const std::string& bytes) { return Utf8ToGb18030(bytes.data(), bytes.size()); }

// ----------------------------------------------------------------------------------------------

std::string ReadFile(const char* path) {
    std::string text;
    FileHelper::readWholeFile(path, text);
    return text;
}

}  // namespace xTools
}  // namespace API
}  // namespace OXA
