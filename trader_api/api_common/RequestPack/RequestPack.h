// The engine every back-end packs its request bodies with. A back-end describes each request
// as data: a body of fixed length and lists of fields, each at a fixed offset and width, whose
// value comes from a numbered source the back-end resolves (FieldSource). The engine checks
// the texts, zero-fills the body and writes every field; it knows no business.
//
// Integers go out in host byte order. Texts stop at their first zero byte and are read no
// further than their source allows; each text field says whether a text that does not fit is
// refused (a cut ticker can name another security) or cut to the field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace OXA {
namespace API {
namespace REQPACK {

enum class Kind : uint8_t {
    Const,  // the field's constant; width 1, 2, 4 or 8
    Value,  // a number from the source (a double as its bits); width 1, 2, 4 or 8
    Chars,  // width characters held in the source's number, its low byte first (code pairs)
    Text,   // a text from the source, fitted by the field's policy
    Bytes,  // width raw bytes from the source, zero-padded when it has fewer
};

enum class TextFit : uint8_t {
    Refuse,  // up to width characters, no terminator kept; a longer text refuses the request
    Cut,     // up to width - 1 characters and at least one zero byte; a longer text is cut
};

struct Field {
    uint16_t offset;
    uint16_t width;
    Kind kind;
    uint8_t src;      // the back-end's source number
    uint8_t arg;      // handed to the source with it (a leg index, for example)
    TextFit fit;      // Text only
    uint8_t skip;     // Text only: characters of the source text passed over first, so one
                      // text can be split over two fields
    int64_t value;    // Const only
};

constexpr Field Const(uint16_t offset, uint16_t width, int64_t value) {
    return Field{offset, width, Kind::Const, 0, 0, TextFit::Refuse, 0, value};
}
constexpr Field Value(uint16_t offset, uint16_t width, uint8_t src, uint8_t arg = 0) {
    return Field{offset, width, Kind::Value, src, arg, TextFit::Refuse, 0, 0};
}
constexpr Field Chars(uint16_t offset, uint16_t width, uint8_t src, uint8_t arg = 0) {
    return Field{offset, width, Kind::Chars, src, arg, TextFit::Refuse, 0, 0};
}
constexpr Field Text(uint16_t offset, uint16_t width, uint8_t src, TextFit fit, uint8_t skip = 0,
                     uint8_t arg = 0) {
    return Field{offset, width, Kind::Text, src, arg, fit, skip, 0};
}
constexpr Field Bytes(uint16_t offset, uint16_t width, uint8_t src, uint8_t arg = 0) {
    return Field{offset, width, Kind::Bytes, src, arg, TextFit::Refuse, 0, 0};
}

struct FieldList {
    const Field* data;
    uint16_t count;
};

template <std::size_t N>
constexpr FieldList List(const Field (&fields)[N]) {
    return FieldList{fields, static_cast<uint16_t>(N)};
}
constexpr FieldList kNoFields{nullptr, 0};

// One request body: its fixed length and its fields in parts (a shared head, the rest),
// written in order.
struct Body {
    static constexpr int kParts = 3;
    uint16_t length;
    FieldList parts[kParts];
};

// Where a Text or Bytes field reads: data null means empty (zero bytes); cap bounds every
// read of data. null_log is the trace line written when data is null (an optional record
// that was not given).
struct TextSource {
    const char* data;
    std::size_t cap;
    const char* null_log;
};

constexpr std::size_t kUnbounded = static_cast<std::size_t>(-1);

// The back-end's view of one request. Called only for the fields of the body being packed,
// in field order; ValueOf may log (an unknown enumeration), TextOf must not.
class FieldSource {
public:
    virtual uint64_t ValueOf(uint8_t src, uint8_t arg) const noexcept = 0;
    virtual TextSource TextOf(uint8_t src, uint8_t arg) const noexcept = 0;

protected:
    ~FieldSource() = default;
};

// For a static_assert over a back-end's table: every field inside the body, of a width its
// kind can write, and no two fields overlapping.
constexpr bool FieldWidthSound(const Field& f) {
    switch (f.kind) {
        case Kind::Const:
        case Kind::Value: return f.width == 1 || f.width == 2 || f.width == 4 || f.width == 8;
        case Kind::Chars: return f.width >= 1 && f.width <= 8;
        case Kind::Text:
        case Kind::Bytes: return f.width >= 1;
    }
    return false;
}

constexpr bool BodySound(const Body& b) {
    if (b.length == 0) return false;
    for (int p = 0; p < Body::kParts; ++p) {
        const FieldList list = b.parts[p];
        if (list.count != 0 && list.data == nullptr) return false;
        for (uint16_t i = 0; i < list.count; ++i) {
            const Field& f = list.data[i];
            if (!FieldWidthSound(f) || f.offset + f.width > b.length) return false;
            for (int q = 0; q < Body::kParts; ++q) {
                const FieldList other = b.parts[q];
                for (uint16_t j = 0; j < other.count; ++j) {
                    const Field& g = other.data[j];
                    if (&g == &f) continue;
                    if (f.offset < g.offset + g.width && g.offset < f.offset + f.width) return false;
                }
            }
        }
    }
    return true;
}

// A table of requests, one row per operation in the order of the operation enum: row i is
// operation i's (rows[i].info.op), no body is longer than max_length and every body is sound.
// body_of gives a row's Body.
template <typename Row, std::size_t N, typename BodyOf>
constexpr bool TableSound(const Row (&rows)[N], std::size_t max_length, BodyOf body_of) {
    for (std::size_t i = 0; i < N; ++i) {
        const Row& row = rows[i];
        if (static_cast<std::size_t>(row.info.op) != i) return false;
        if (row.info.length == 0 || row.info.length > max_length) return false;
        if (!BodySound(body_of(row))) return false;
    }
    return true;
}

// The row of an operation; null for one past the table.
template <typename Row, std::size_t N, typename Op>
const Row* RowOf(const Row (&rows)[N], Op op) noexcept {
    const auto i = static_cast<std::size_t>(op);
    return i < N ? &rows[i] : nullptr;
}

// Source values: a double as its bits, a signed value sign-extended.
inline uint64_t Bits(double v) noexcept {
    uint64_t u;
    std::memcpy(&u, &v, sizeof(u));
    return u;
}
inline uint64_t Widen(int64_t v) noexcept { return static_cast<uint64_t>(v); }

// What the texts of a request come to before anything is written.
struct TextCheck {
    const Field* too_long = nullptr;  // the first Refuse field whose text does not fit
    std::size_t chars = 0;            // characters the text fields take, all together
};
TextCheck CheckTexts(const Body& body, const FieldSource& source) noexcept;

// Zero-fills the body's length bytes of buf and writes every field. False (nothing written)
// when buf is null or cap is below the length; bytes after the length are left alone. A
// Refuse text that does not fit is cut to its field here: run CheckTexts first to refuse it.
bool WriteBody(const Body& body, const FieldSource& source, void* buf, std::size_t cap) noexcept;

// Enumeration value -> wire code (one character, or two in a uint16, first in the low byte).
struct CodePair {
    int32_t value;
    uint16_t code;
};

constexpr uint16_t CodeOf(char first, char second) {
    return static_cast<uint16_t>(static_cast<uint8_t>(first) | static_cast<uint8_t>(second) << 8);
}

struct CodeTable {
    const char* name;  // the enumeration's name, for the unknown-value line
    bool low_byte;     // the value is read from its low byte
    const CodePair* pairs;
    std::size_t count;
    uint16_t fallback;  // the code of a value outside the table
    bool log_unknown;   // such a value logs "[<source> <line>]Unknown <name>:<value>" at info
};

template <std::size_t N>
constexpr CodeTable Codes(const char* name, bool low_byte, const CodePair (&pairs)[N], uint16_t fallback = 0,
                          bool log_unknown = true) {
    return CodeTable{name, low_byte, pairs, N, fallback, log_unknown};
}

// A value looked up: its code, or the fallback when it is outside the table (known false);
// read is the value as the table reads it (its low byte for a low-byte table).
struct Lookup {
    uint16_t code;
    bool known;
    int32_t read;
};
Lookup Find(const CodeTable& table, int32_t value) noexcept;

// Find, with the table's unknown-value line; source and line name the caller in it.
uint16_t Encode(const CodeTable& table, int32_t value, const char* source, int line) noexcept;

}  // namespace REQPACK
}  // namespace API
}  // namespace OXA
