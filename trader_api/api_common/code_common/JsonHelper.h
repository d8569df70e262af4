// JSON functions of the utility library over rapidjson: typed readers of one member of an
// object, writers of the library's string containers as compact or indented text, parse
// operations that report failures through a per-thread error text, and a case-blind compare.
//
// Include this header before any rapidjson header: it turns rapidjson's assertions into a
// std::logic_error in every build, so a misuse of a value shows in tests and fuzzing instead of
// reading the wrong union member in release builds. The readers never trigger one: each tests
// the member's exact representation (IsInt, IsUint, IsInt64, IsUint64, IsString) first, and a
// member it cannot carry reads as absent. Parsing is iterative, so deep nesting cannot exhaust
// the stack.
#pragma once

#if defined(RAPIDJSON_RAPIDJSON_H_) && !defined(OXA_RAPIDJSON_ASSERT_THROWS)
#error "JsonHelper.h must come before any rapidjson header"
#endif

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace OXA {
namespace API {
// Raised by rapidjson's assertions.
[[noreturn]] void JsonAssertionFailed(const char* condition);
}  // namespace API
}  // namespace OXA

#define OXA_RAPIDJSON_ASSERT_THROWS 1
#define RAPIDJSON_ASSERT(x) ((x) ? static_cast<void>(0) : ::OXA::API::JsonAssertionFailed(#x))

// rapidjson 1.1's stack adds to its null pointer before its first allocation, which clang's
// undefined-behaviour sanitizer reports; that check is left out of rapidjson's own functions
// (the standard headers it uses are included above, outside the region).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif
#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#if defined(__clang__)
#pragma clang attribute pop
#endif

namespace OXA {
namespace API {

using JsonCompactWriter = rapidjson::Writer<rapidjson::StringBuffer>;
using JsonPrettyWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// ---- member readers --------------------------------------------------------------------------
// object must be a JSON object and name non-null, else every reader reports the member absent.
// An absent member, one of another JSON type, or a number the requested type cannot carry
// gives false / 0 / null and leaves the out-parameter untouched. Strings handed out point into
// the document and live as long as it does, unchanged.

// The member exists and its rapidjson type number (0 null ... 6 number) equals type.
bool HasMemberOfType(const rapidjson::Value& object, const char* name, int type);
int GetIntValue(const rapidjson::Value& object, const char* name);
std::int64_t GetInt64Value(const rapidjson::Value& object, const char* name);
const char* GetStringValue(const rapidjson::Value& object, const char* name);
unsigned GetStringValueLength(const rapidjson::Value& object, const char* name);
bool GetIntMember(const rapidjson::Value& object, const char* name, int* out);
bool GetUintMember(const rapidjson::Value& object, const char* name, unsigned* out);
bool GetInt64Member(const rapidjson::Value& object, const char* name, std::int64_t* out);
bool GetUint64Member(const rapidjson::Value& object, const char* name, std::uint64_t* out);
bool GetStringMember(const rapidjson::Value& object, const char* name, const char** out);
// *out = the string's first byte (0 for "").
bool GetStringMember(const rapidjson::Value& object, const char* name, char* out);
bool GetStringMember(const rapidjson::Value& object, const char* name, std::string* out);

// ---- writers ---------------------------------------------------------------------------------
// Vector strings are written as C strings (up to a NUL byte); map keys and values whole. Maps
// keep their own iteration order. Numbered members are named in decimal from 0.

std::string JsonToString(const std::vector<std::string>& values);
std::string JsonToString(const std::unordered_map<std::string, std::string>& values);
std::string JsonToString(const std::unordered_map<unsigned, std::string>& values);
std::string JsonToString(const std::vector<std::unordered_map<std::string, std::string>>& values);
// An object whose member i is map i.
std::string JsonToString(const std::vector<std::unordered_map<unsigned, std::string>>& values);
// An object whose member i is vector i.
std::string JsonToString(const std::vector<std::vector<std::string>>& values);

std::string JsonToPrettyString(const std::vector<std::string>& values);
std::string JsonToPrettyString(const std::unordered_map<std::string, std::string>& values);
std::string JsonToPrettyString(const std::unordered_map<unsigned, std::string>& values);
std::string JsonToPrettyString(const std::vector<std::unordered_map<std::string, std::string>>& values);
std::string JsonToPrettyString(const std::vector<std::unordered_map<unsigned, std::string>>& values);
std::string JsonToPrettyString(const std::vector<std::vector<std::string>>& values);

void WriteJson(JsonCompactWriter& writer, const std::vector<std::string>& values);
void WriteJson(JsonCompactWriter& writer, const std::unordered_map<unsigned, std::string>& values);
void WriteJson(JsonPrettyWriter& writer, const std::vector<std::string>& values);
void WriteJson(JsonPrettyWriter& writer, const std::unordered_map<unsigned, std::string>& values);

// ---- parsing ---------------------------------------------------------------------------------
// On failure *err (when err is given) points at the calling thread's error text of that
// operation, valid until the thread's next failure of it; err is never written on success.

// Parses len bytes at text (a leading UTF-8 byte-order mark skipped, strict JSON) into doc; on
// failure doc keeps its content and the text is "Parse Error [<reason>] Offset[<n>][<up to 16
// bytes from the offset>]", or the text of an exception the parser raised.
bool ParseJson(rapidjson::Document& doc, const std::string** err, const char* text, unsigned len);
bool ParseJson(rapidjson::Document& doc, const std::string** err, const std::string& text);
// ParseJson's parse with rapidjson's own result (code and offset) instead of a text; throws what
// the parser throws. Codes and offsets are those of rapidjson's default (recursive) parser.
rapidjson::ParseResult ParseJsonDocument(rapidjson::Document& doc, const char* text, std::size_t len);

// Replaces map by the members of the text's root object: strings whole, integers that int64
// carries as decimal text; other members (null, booleans, objects, arrays, fractions, integers
// above int64) are skipped; of repeated names the first stays. False with ParseJson's text on a
// parse failure, "Root Not Object" when the root is not an object, "Negative Length" for
// len < 0; the map is then left as it was.
bool JsonObjectToStringMap(std::unordered_map<std::string, std::string>& map, const std::string** err,
                           const char* text, int len);
bool JsonObjectToStringMap(std::unordered_map<std::string, std::string>& map, const std::string** err,
                           const std::string& text);

// Checks text by parsing it in place (strings are decoded into its own buffer, so it must be
// writable). The text ends at its first NUL or after len bytes, whichever comes first; no byte
// at or past len is read, so len bounds the parse itself, not only the error text, and a text
// without a NUL is never read past it. No byte-order mark is skipped. The first argument is
// not used.
bool ParseJsonInsitu(void* unused, const std::string** err, char* text, unsigned len);

// True when the parse-result code *code is not 0 (false for null).
bool IsParseError(const int* code);

// Same length, and equal byte for byte after tolower of each (unsigned) byte. False when either
// is null.
bool EqualsIgnoreCase(const char* a, const char* b);

}  // namespace API
}  // namespace OXA
