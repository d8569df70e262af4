// Text helpers of the utility library: trimming, splitting, printf-style formatting, upper-case
// hexadecimal, whole-file reading and GB18030 / UTF-8 / wide-string conversion.
//
// The th* functions return a buffer private to the calling thread, valid until that thread's
// next call of the same function; everything else touches only its arguments, so all of it may
// run on many threads at once. GB18030 needs the locale "zh_CN.GB18030" (a missing locale makes
// the conversion throw std::runtime_error before anything is converted).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace OXA {
namespace API {
namespace xTools {

// Whitespace at both ends: space, tab, line feed, carriage return.
void Trim(std::string& text);
void TrimEach(std::vector<std::string>& texts);
// In place on a NUL-terminated text; null is left alone.
void TrimCString(char* text);
void RemoveEmpty(std::vector<std::string>& texts);

// Every stretch between separators is a piece, empty ones included, and the stretch after the
// last separator is always the last piece ("" gives one empty piece). Returns the count.
std::size_t Split(std::vector<std::string>& pieces, const std::string& text, char separator, bool trim);
// Split with trimming.
std::size_t Split(std::vector<std::string>& pieces, const std::string& text, char separator);

// Formats into the calling thread's buffer (64 bytes at first, grown to fit and never shrunk).
// A format the C library cannot render (an encoding error) gives "".
const char* thFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formats into a buffer from malloc that the caller frees with free(); "" on an encoding error.
void FormatAlloc(char** out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void FormatShared(std::shared_ptr<std::string>& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Two upper-case digits per byte, high nibble first. Input may alias the output.
void HexEncode(const char* bytes, std::size_t length, std::string& out);
void HexEncode(const std::string& bytes, std::string& out);
std::shared_ptr<std::string> HexEncode(const char* bytes, std::size_t length);
const std::string& thHexEncode(const char* bytes, std::size_t length);
const std::string& thHexEncode(const std::string& bytes);

// Upper-case digits only. An odd length throws std::invalid_argument "odd length" with the output
// untouched; another character throws "not a hex digit", the bytes before the bad pair kept.
void HexDecode(const char* text, std::size_t length, std::string& out);
void HexDecode(const std::string& text, std::string& out);
// Null instead of an exception.
std::shared_ptr<std::string> HexDecode(const char* text, std::size_t length);
const std::string& thHexDecode(const char* text, std::size_t length);
const std::string& thHexDecode(const std::string& text);

// Decoding throws std::range_error "wstring_convert::from_bytes" for an invalid sequence and for
// a sequence the end of the input cuts short; encoding throws "wstring_convert::to_bytes" for a
// character the target cannot hold.
std::wstring Gb18030ToWide(const char* bytes, std::size_t length);
std::wstring Gb18030ToWide(const std::string& bytes);
std::wstring Utf8ToWide(const char* bytes, std::size_t length);
std::wstring Utf8ToWide(const std::string& bytes);
std::string Gb18030ToUtf8(const char* bytes, std::size_t length);
std::string Gb18030ToUtf8(const std::string& bytes);
std::string Utf8ToGb18030(const char* bytes, std::size_t length);
std::string Utf8ToGb18030(const std::string& bytes);

// Every byte of the file; "" when it cannot be opened or read.
std::string ReadFile(const char* path);

namespace detail {
// Size of the calling thread's thFormat buffer (0 before its first call).
std::size_t thFormatBufferSize();
}  // namespace detail

}  // namespace xTools
}  // namespace API
}  // namespace OXA
