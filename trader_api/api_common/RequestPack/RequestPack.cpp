#include "api_common/RequestPack/RequestPack.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace REQPACK {

namespace {

// Characters a text field may take: a Cut field keeps its last byte for the terminator.
std::size_t Room(const Field& f) noexcept { return f.fit == TextFit::Cut ? f.width - 1u : f.width; }

// Characters of the field's part of the text, read no further than one past what the field
// could take (so a text that does not fit shows as longer than the room).
std::size_t TextChars(const Field& f, const TextSource& t) noexcept {
    if (t.data == nullptr) return 0;
    const std::size_t probe = static_cast<std::size_t>(f.skip) + Room(f) + 1;
    const std::size_t n = strnlen(t.data, t.cap < probe ? t.cap : probe);
    return n > f.skip ? n - f.skip : 0;
}

bool WriteField(WireWriter& w, const Field& f, const FieldSource& source) noexcept {
    if (!w.seek(f.offset)) return false;
    switch (f.kind) {
        case Kind::Text: {
            const TextSource t = source.TextOf(f.src, f.arg);
            if (t.data == nullptr) {
                if (t.null_log != nullptr) spdlog::trace("{}", t.null_log);
                return true;
            }
            std::size_t n = TextChars(f, t);
            if (n > Room(f)) n = Room(f);
            return w.write_bytes(t.data + f.skip, n);
        }
        case Kind::Bytes: {
            const TextSource t = source.TextOf(f.src, f.arg);
            if (t.data == nullptr) {
                if (t.null_log != nullptr) spdlog::trace("{}", t.null_log);
                return true;
            }
            return w.write_bytes(t.data, t.cap < f.width ? t.cap : f.width);
        }
        case Kind::Chars: {
            const uint64_t v = source.ValueOf(f.src, f.arg);
            for (uint16_t i = 0; i < f.width; ++i) {
                if (!w.write_host(static_cast<uint8_t>(v >> (8 * i)))) return false;
            }
            return true;
        }
        case Kind::Const:
        case Kind::Value: {
            const uint64_t v = f.kind == Kind::Const ? static_cast<uint64_t>(f.value) : source.ValueOf(f.src, f.arg);
            switch (f.width) {
                case 1: return w.write_host(static_cast<uint8_t>(v));
                case 2: return w.write_host(static_cast<uint16_t>(v));
                case 4: return w.write_host(static_cast<uint32_t>(v));
                case 8: return w.write_host(v);
                default: return false;
            }
        }
    }
    return false;
}

}  // namespace

TextCheck CheckTexts(const Body& body, const FieldSource& source) noexcept {
    TextCheck out;
    for (const FieldList& list : body.parts) {
        for (uint16_t i = 0; i < list.count; ++i) {
            const Field& f = list.data[i];
            if (f.kind != Kind::Text) continue;
            const std::size_t n = TextChars(f, source.TextOf(f.src, f.arg));
            if (n > Room(f)) {
                if (f.fit == TextFit::Refuse) {
                    if (out.too_long == nullptr) out.too_long = &f;
                }
                out.chars += Room(f);
            } else {
                out.chars += n;
            }
        }
    }
    return out;
}

bool WriteBody(const Body& body, const FieldSource& source, void* buf, std::size_t cap) noexcept {
    if (buf == nullptr || cap < body.length) return false;
    WireWriter w(buf, body.length);
    bool written = w.fill(0, body.length);
    for (const FieldList& list : body.parts) {
        for (uint16_t i = 0; i < list.count; ++i) written = WriteField(w, list.data[i], source) && written;
    }
    return written;
}

Lookup Find(const CodeTable& table, int32_t value) noexcept {
    const int32_t v = table.low_byte ? static_cast<int32_t>(static_cast<uint8_t>(value)) : value;
    for (std::size_t i = 0; i < table.count; ++i) {
        if (table.pairs[i].value == v) return Lookup{table.pairs[i].code, true, v};
    }
    return Lookup{table.fallback, false, v};
}

uint16_t Encode(const CodeTable& table, int32_t value, const char* source, int line) noexcept {
    const Lookup found = Find(table, value);
    if (!found.known && table.log_unknown) spdlog::info("[{} {}]Unknown {}:{}", source, line, table.name, found.read);
    return found.code;
}

}  // namespace REQPACK
}  // namespace API
}  // namespace OXA
