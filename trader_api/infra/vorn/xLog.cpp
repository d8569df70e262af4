#include "infra/vorn/xLog.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

namespace OXA {
namespace VORN {

namespace {

// ---- piecewise formatting -------------------------------------------------------------

struct ConvDesc {
    char flags[8];
    int flag_count = 0;
    int width = -1;      // -1 none
    int precision = -1;  // -1 none
    char length = 0;     // 'H' hh, 'h', 'l' (l, ll, j, q, L, z, t), 0 none
    char conv = 0;
};

// Parses the conversion that starts after a '%' at p; returns the first character after it,
// or null when it is not a conversion (the caller prints it literally).
const char* ParseSpec(const char* p, const char* end, ConvDesc& s) {
    while (p < end && std::strchr("-+ #0", *p) && *p) {
        if (s.flag_count < 7) s.flags[s.flag_count++] = *p;
        ++p;
    }
    if (p < end && *p == '*') {
        ++p;  // there is no separate width argument: the width is dropped
    } else {
        int w = 0;
        bool any = false;
        while (p < end && *p >= '0' && *p <= '9') {
            if (w < 10000) w = w * 10 + (*p - '0');
            any = true;
            ++p;
        }
        if (any) s.width = w > 4096 ? 4096 : w;
    }
    if (p < end && *p == '.') {
        ++p;
        if (p < end && *p == '*') {
            ++p;
        } else {
            int v = 0;
            while (p < end && *p >= '0' && *p <= '9') {
                if (v < 10000) v = v * 10 + (*p - '0');
                ++p;
            }
            s.precision = v > 4096 ? 4096 : v;
        }
    }
    while (p < end && std::strchr("hlLqjzt", *p) && *p) {
        if (*p == 'h') s.length = (s.length == 'h') ? 'H' : (s.length == 0 ? 'h' : s.length);
        else s.length = 'l';
        ++p;
    }
    if (p >= end || !*p || !std::strchr("diouxXeEfFgGaAcspn", *p)) return nullptr;
    s.conv = *p++;
    return p;
}

// Builds "%<flags><width>.<precision><mod><conv>" for snprintf.
void BuildSpec(char* out, const ConvDesc& s, const char* mod, char conv) {
    std::size_t n = 0;
    out[n++] = '%';
    for (int i = 0; i < s.flag_count; ++i) out[n++] = s.flags[i];
    if (s.width >= 0) n += static_cast<std::size_t>(std::snprintf(out + n, 8, "%d", s.width));
    if (s.precision >= 0) n += static_cast<std::size_t>(std::snprintf(out + n, 9, ".%d", s.precision));
    while (*mod) out[n++] = *mod++;
    out[n++] = conv;
    out[n] = 0;
}

class Sink {
public:
    Sink(char* out, std::size_t cap) : m_out(out), m_cap(cap) {
        if (m_cap) m_out[0] = 0;
    }
    void put(const char* s, std::size_t n) {
        if (!m_cap) return;
        const std::size_t room = m_cap - 1 - m_len;
        if (n > room) n = room;
        std::memcpy(m_out + m_len, s, n);
        m_len += n;
        m_out[m_len] = 0;
    }
    template <typename T>
    void printf(const char* piece_fmt, T v) {
        if (!m_cap || m_len + 1 >= m_cap) return;
        const int r = std::snprintf(m_out + m_len, m_cap - m_len, piece_fmt, v);
        if (r > 0) m_len += static_cast<std::size_t>(r) < m_cap - m_len ? static_cast<std::size_t>(r) : m_cap - 1 - m_len;
        m_out[m_len] = 0;
    }
    std::size_t length() const { return m_len; }

private:
    char* m_out;
    std::size_t m_cap;
    std::size_t m_len = 0;
};

double AsDouble(char kind, uint64_t v) {
    if (kind == XLOG_KIND_DOUBLE) {
        double d;
        std::memcpy(&d, &v, sizeof d);
        return d;
    }
    if (kind == XLOG_KIND_INT) return static_cast<double>(static_cast<int64_t>(v));
    return 0.0;
}

long long AsSigned(char kind, uint64_t v) {
    if (kind == XLOG_KIND_DOUBLE) {
        const double d = AsDouble(kind, v);
        if (!(d == d)) return 0;
        if (d >= 9.2e18) return INT64_MAX;
        if (d <= -9.2e18) return INT64_MIN;
        return static_cast<long long>(d);
    }
    return static_cast<long long>(static_cast<int64_t>(v));
}

void FormatConversion(Sink& sink, const ConvDesc& s, char kind, uint64_t v) {
    char piece_fmt[48];
    switch (s.conv) {
        case 'd':
        case 'i': {
            long long x = AsSigned(kind, v);
            if (s.length == 0) x = static_cast<int>(x);
            else if (s.length == 'h') x = static_cast<short>(x);
            else if (s.length == 'H') x = static_cast<signed char>(x);
            BuildSpec(piece_fmt, s, "ll", s.conv);
            sink.printf(piece_fmt, x);
            break;
        }
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            unsigned long long x = static_cast<unsigned long long>(AsSigned(kind, v));
            if (s.length == 0) x = static_cast<unsigned>(x);
            else if (s.length == 'h') x = static_cast<unsigned short>(x);
            else if (s.length == 'H') x = static_cast<unsigned char>(x);
            BuildSpec(piece_fmt, s, "ll", s.conv);
            sink.printf(piece_fmt, x);
            break;
        }
        case 'c': {
            BuildSpec(piece_fmt, s, "", 'c');
            sink.printf(piece_fmt, static_cast<int>(static_cast<unsigned char>(AsSigned(kind, v))));
            break;
        }
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A': {
            BuildSpec(piece_fmt, s, "", s.conv);
            sink.printf(piece_fmt, AsDouble(kind, v));
            break;
        }
        case 's': {
            char number[40];
            const char* text;
            if (kind == XLOG_KIND_STRING) {
                text = reinterpret_cast<const char*>(static_cast<uintptr_t>(v));
                if (!text) text = "(null)";
            } else if (kind == XLOG_KIND_DOUBLE) {
                std::snprintf(number, sizeof number, "%g", AsDouble(kind, v));
                text = number;
            } else {
                std::snprintf(number, sizeof number, "%lld", AsSigned(kind, v));
                text = number;
            }
            BuildSpec(piece_fmt, s, "", 's');
            sink.printf(piece_fmt, text);
            break;
        }
        case 'p': {
            BuildSpec(piece_fmt, s, "", 'p');
            sink.printf(piece_fmt, reinterpret_cast<void*>(static_cast<uintptr_t>(kind == XLOG_KIND_DOUBLE ? 0 : v)));
            break;
        }
        default:  // 'n' writes through its argument: never executed
            break;
    }
}

// Prints one piece: literal text with "%%" as one percent sign, at most one conversion.
void FormatPiece(Sink& sink, const char* p, const char* end, bool has_arg, char kind, uint64_t v) {
    bool converted = false;
    while (p < end) {
        const char* pct = static_cast<const char*>(std::memchr(p, '%', static_cast<std::size_t>(end - p)));
        if (!pct) {
            sink.put(p, static_cast<std::size_t>(end - p));
            return;
        }
        sink.put(p, static_cast<std::size_t>(pct - p));
        if (pct + 1 < end && pct[1] == '%') {
            sink.put("%", 1);
            p = pct + 2;
            continue;
        }
        ConvDesc s;
        const char* after = converted ? nullptr : ParseSpec(pct + 1, end, s);
        if (!after || !has_arg) {
            sink.put(pct, static_cast<std::size_t>((after ? after : end) - pct));
            p = after ? after : end;
            continue;
        }
        FormatConversion(sink, s, kind, v);
        converted = true;
        p = after;
    }
}

// End of the piece that starts at p: before the first '%' after an open conversion.
const char* PieceEnd(const char* p) {
    const char* open = nullptr;
    for (; *p; ++p) {
        if (*p != '%') continue;
        if (!open) {
            open = p;
        } else if (p == open + 1) {
            open = nullptr;
        } else {
            break;
        }
    }
    return p;
}

bool IsDigits(const char* p, std::size_t n) {
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9') return false;
    return true;
}

void LocalTime(time_t t, struct tm& out) {
    if (!localtime_r(&t, &out)) std::memset(&out, 0, sizeof out);
}

int DateOf(const struct tm& t) { return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday; }

}  // namespace

std::size_t xLogFormatPieces(char* out, std::size_t cap, const char* format, const char* types,
                             const uint64_t* values, int argc) {
    Sink sink(out, cap);
    if (!format) return 0;
    if (argc <= 0) {
        sink.put(format, std::strlen(format));
        return sink.length();
    }
    const char* p = format;
    for (int k = 0; k < argc && *p; ++k) {
        const char* end = PieceEnd(p);
        FormatPiece(sink, p, end, true, types[k], values[k]);
        p = end;
    }
    return sink.length();
}

// ---- slots --------------------------------------------------------------------------------

// Slot layout: a head, then the string area up to the end of the slot, whose last two bytes
// are a blank and a terminator. A raw record keeps its value and length in the head and its
// bytes from offset 16.
struct alignas(8) xLog::Slot {
    std::atomic<uint8_t> state;    // '1' empty, '0' published
    std::atomic<uint8_t> writing;  // '1' reserved by a producer
    uint8_t argc;
    uint8_t kind;  // 0 format with arguments, 1 raw record
    union {
        char types[kXLogMaxArgs];
        struct {
            int32_t value;
            uint32_t length;
        } raw;
    } u;
    uint32_t unused;
    const char* format;
    uint64_t values[kXLogMaxArgs];
};

static constexpr std::size_t kRawOffset = 16;     // raw bytes replace the format and the values
static constexpr std::size_t kStringOffset = 88;  // the string area runs from here to the slot's end

xLog::xLog() = default;

xLog::~xLog() {
    Stop();
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    CloseLocked();
    if (m_ring) {
        for (std::size_t i = 0; i < m_slotCount; ++i) SlotAt(i)->~Slot();
        ::operator delete(m_ring, std::align_val_t(64));
    }
}

bool xLog::SetFolder(const char* folder) {
    if (!folder) return false;
    const std::size_t n = std::strlen(folder);
    if (n >= sizeof m_folder) return false;
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    std::memcpy(m_folder, folder, n + 1);
    return true;
}

void xLog::SetSlotSize(int bytes) {
    if (m_ring) return;
    std::size_t n = bytes < 512 ? 512 : static_cast<std::size_t>(bytes);
    n = (n + 511) / 512 * 512;
    m_slotSize = n;
}

void xLog::SetSlotCount(int count) {
    if (m_ring || count <= 0) return;
    m_slotCount = static_cast<std::size_t>(count);
}

xLog::Slot* xLog::SlotAt(std::size_t index) const {
    return reinterpret_cast<Slot*>(m_ring + index * m_slotSize);
}

int xLog::Today() const {
    struct tm t;
    LocalTime(Now(), t);
    return DateOf(t);
}

bool xLog::Init() {
    static_assert(sizeof(Slot) <= kStringOffset && offsetof(Slot, format) == kRawOffset, "slot layout");
    RemoveOldFiles(Today());
    {
        std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
        if (!m_file && !OpenLocked(nullptr)) return false;
    }
    if (m_sync) {
        Log(m_level.load(), 0, "Log Ver: %s", kVersion);
        return true;
    }
    if (m_ready.load()) return true;
    Log(m_level.load(), 0, "xLog Ver: %s CacheSize=%d QueueSize=%d", kVersion, static_cast<int>(m_slotSize),
        static_cast<int>(m_slotCount));
    // Started again after a stop, the logger keeps its ring and cursors: a producer that was
    // still filling a slot when it stopped never writes freed memory, and what it published
    // is written by the new writer.
    if (!m_ring) {
        const std::size_t total = m_slotSize * m_slotCount;
        m_ring = static_cast<uint8_t*>(::operator new(total, std::align_val_t(64), std::nothrow));
        if (!m_ring) {
            Log(m_level.load(), 0, "xLog Fail: Malloc Cache %lld (K) Fail. ", static_cast<long long>(total / 1024));
            return false;
        }
        std::memset(m_ring, 0, total);
        for (std::size_t i = 0; i < m_slotCount; ++i) {
            Slot* s = new (m_ring + i * m_slotSize) Slot();
            s->state.store('1', std::memory_order_relaxed);
            s->writing.store('0', std::memory_order_relaxed);
            char* strings = reinterpret_cast<char*>(s) + kStringOffset;
            const std::size_t area = m_slotSize - kStringOffset;
            strings[area - 2] = ' ';
            strings[area - 1] = 0;
        }
        m_writeIndex = 0;
        m_readIndex = 0;
    }
    m_stop.store(false);
    m_writer = std::thread([this] { WriterLoop(); });
    m_ready.store(true, std::memory_order_release);
    return true;
}

void xLog::Stop() {
    m_ready.store(false, std::memory_order_release);
    m_stop.store(true, std::memory_order_release);
    m_writerEvent.Set();
    if (m_writer.joinable()) m_writer.join();
}

xLog::Slot* xLog::Reserve() {
    const auto start = std::chrono::steady_clock::now();
    for (int attempt = 0;; ++attempt) {
        if (!m_spin.test_and_set(std::memory_order_acquire)) {
            Slot* s = SlotAt(m_writeIndex);
            if (s->state.load(std::memory_order_acquire) == '1' && s->writing.load(std::memory_order_relaxed) == '0') {
                s->writing.store('1', std::memory_order_relaxed);
                m_writeIndex = (m_writeIndex + 1) % m_slotCount;
                m_spin.clear(std::memory_order_release);
                return s;
            }
            m_spin.clear(std::memory_order_release);
        }
        if (m_mode == 0) {
            if (attempt >= 1) return nullptr;
        } else if (m_mode == 1) {
            if (std::chrono::steady_clock::now() - start > std::chrono::microseconds(50)) return nullptr;
        } else {
            if (m_stop.load(std::memory_order_acquire)) return nullptr;
            m_spaceEvent.TimedWait(1);
        }
    }
}

void xLog::Print(int level, const char* format, ...) {
    if (level > m_level.load(std::memory_order_relaxed) || !m_ready.load(std::memory_order_acquire) || !format) return;
    Arg args[kXLogMaxArgs];
    int argc = 0;
    va_list ap;
    va_start(ap, format);
    while (argc < kXLogMaxArgs) {
        const int tag = va_arg(ap, int);
        if (tag == XLOG_INT64) {
            args[argc++] = Arg{XLOG_KIND_INT, static_cast<uint64_t>(va_arg(ap, long long)), false};
        } else if (tag == XLOG_DOUBLE) {
            const double d = va_arg(ap, double);
            Arg a{XLOG_KIND_DOUBLE, 0, false};
            std::memcpy(&a.value, &d, sizeof d);
            args[argc++] = a;
        } else if (tag == XLOG_STRING || tag == XLOG_STRING_REF) {
            const char* s = va_arg(ap, const char*);
            args[argc++] = Arg{XLOG_KIND_STRING, reinterpret_cast<uintptr_t>(s), tag == XLOG_STRING};
        } else {
            break;  // XLOG_END, or an unknown tag
        }
    }
    va_end(ap);
    Enqueue(level, format, args, argc);
}

void xLog::Enqueue(int, const char* format, const Arg* args, int argc) {
    if (!format || !m_ready.load(std::memory_order_acquire)) return;
    Slot* s = Reserve();
    if (!s) return;
    s->format = format;
    s->kind = 0;
    char* strings = reinterpret_cast<char*>(s) + kStringOffset;
    const std::size_t area = m_slotSize - kStringOffset;  // the last two bytes stay " \0"
    std::size_t used = 0;
    if (argc > kXLogMaxArgs) argc = kXLogMaxArgs;
    for (int i = 0; i < argc; ++i) {
        s->u.types[i] = args[i].kind;
        s->values[i] = args[i].value;
        if (args[i].kind != XLOG_KIND_STRING || !args[i].copy) continue;
        const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(args[i].value));
        if (!text) text = "";
        const std::size_t left = area - 2 - used;
        if (left < 2) {
            s->values[i] = reinterpret_cast<uintptr_t>(strings + area - 2);  // the slot's blank
            continue;
        }
        std::size_t n = strnlen(text, left - 1);
        std::memcpy(strings + used, text, n);
        strings[used + n] = 0;
        s->values[i] = reinterpret_cast<uintptr_t>(strings + used);
        used += n + 1;
    }
    s->argc = static_cast<uint8_t>(argc);
    Publish(s);
}

void xLog::Publish(Slot* s) {
    // published before the writing mark is cleared: a slot that reads empty and not being
    // written is free, and a producer that wrapped round the ring must not take this one
    // in the moment between the two
    s->state.store('0', std::memory_order_release);
    s->writing.store('0', std::memory_order_release);
    m_writerEvent.Set();
}

void xLog::PrintRaw(int value, const void* data, int length) {
    if (!m_rawFormatter.load(std::memory_order_acquire) || !m_ready.load(std::memory_order_acquire)) return;
    if (length < 0 || static_cast<std::size_t>(length) >= m_slotSize - 31 || (length && !data)) return;
    Slot* s = Reserve();
    if (!s) return;
    s->kind = 1;
    s->argc = 0;
    s->u.raw.value = value;
    s->u.raw.length = static_cast<uint32_t>(length);
    if (length) std::memcpy(reinterpret_cast<char*>(s) + kRawOffset, data, static_cast<std::size_t>(length));
    Publish(s);
}

std::size_t xLog::LinePrefix(char* out, std::size_t cap, time_t now, int* date) const {
    struct tm t;
    LocalTime(now, t);
    if (date) *date = DateOf(t);
    const int n = std::snprintf(out, cap, "[%d/%d/%d %02d:%02d:%02d] ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                t.tm_hour, t.tm_min, t.tm_sec);
    return n < 0 ? 0 : (static_cast<std::size_t>(n) < cap ? static_cast<std::size_t>(n) : cap - 1);
}

void xLog::WriterLoop() {
    char line[4096];
    time_t cached_second = -1;
    char prefix[64];
    std::size_t prefix_len = 0;
    int date = 0;
    for (;;) {
        Slot* s = SlotAt(m_readIndex);
        while (s->state.load(std::memory_order_acquire) != '0') {
            {
                std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
                if (m_unflushed && m_file) {
                    std::fflush(m_file);
                    m_unflushed = false;
                }
            }
            if (m_stop.load(std::memory_order_acquire)) {
                // what was published before the stop is seen now: write it before leaving
                if (s->state.load(std::memory_order_acquire) == '0') break;
                return;
            }
            m_writerEvent.TimedWait(1);
        }
        m_readIndex = (m_readIndex + 1) % m_slotCount;

        const time_t now = Now();
        if (now != cached_second) {
            prefix_len = LinePrefix(prefix, sizeof prefix, now, &date);
            cached_second = now;
        }
        std::memcpy(line, prefix, prefix_len);
        std::size_t n = prefix_len;
        const std::size_t body_cap = kXLogLineMax + 1 - n;  // the line is cut at 4,094 bytes
        if (s->kind == 1) {
            RawFormatter f = m_rawFormatter.load(std::memory_order_acquire);
            if (f) {
                const int r = f(line + n, static_cast<int>(body_cap), s->u.raw.value,
                                reinterpret_cast<char*>(s) + kRawOffset, static_cast<int>(s->u.raw.length));
                if (r > 0) n += static_cast<std::size_t>(r) < body_cap ? static_cast<std::size_t>(r) : body_cap - 1;
            }
        } else {
            n += xLogFormatPieces(line + n, body_cap, s->format, s->u.types, s->values, s->argc);
        }
        line[n++] = '\n';
        line[n] = 0;

        {
            std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
            if (m_file && (m_fileDate != date || m_fileBytes >= m_maxFileBytes.load(std::memory_order_relaxed))) {
                std::fflush(m_file);
                CloseLocked();
            }
            if (!m_file) OpenLocked(nullptr);
            if (m_file) WriteLine(line, n, 0);
        }
        s->state.store('1', std::memory_order_release);
        m_spaceEvent.Set();
    }
}

// Under m_fileMutex with a file open.
void xLog::WriteLine(const char* line, std::size_t length, int echo) {
    std::fwrite(line, 1, length, m_file);
    m_fileBytes += static_cast<int64_t>(length);
    m_unflushed = true;
    if (echo || m_echo.load(std::memory_order_relaxed)) std::fwrite(line, 1, length, stdout);
}

void xLog::Log(int level, int echo, const char* format, ...) {
    if (level > m_level.load(std::memory_order_relaxed) || !format) return;
    char line[4096];
    int date = 0;
    std::size_t n = LinePrefix(line, sizeof line, Now(), &date);
    va_list ap;
    va_start(ap, format);
    const int r = std::vsnprintf(line + n, kXLogLineMax + 1 - n, format, ap);
    va_end(ap);
    if (r > 0) n += static_cast<std::size_t>(r) < kXLogLineMax + 1 - n ? static_cast<std::size_t>(r) : kXLogLineMax - n;
    line[n++] = '\n';
    line[n] = 0;
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    if (m_file && (m_fileDate != date || m_fileBytes >= m_maxFileBytes.load(std::memory_order_relaxed))) CloseLocked();
    if (!m_file && !OpenLocked(nullptr)) return;
    WriteLine(line, n, echo);
    std::fflush(m_file);
    m_unflushed = false;
}

bool xLog::Open(const char* name) {
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    if (m_file) return false;
    return OpenLocked(name);
}

bool xLog::OpenLocked(const char* name) {
    if (name) {
        if (std::strlen(name) >= sizeof m_prefix) return false;
        std::strcpy(m_prefix, name);
    }
    const int date = Today();
    m_fileBytes = 0;
    char pattern[128];
    const int plen = std::snprintf(pattern, sizeof pattern, "%s%d_", m_prefix, date);
    if (plen < 0 || static_cast<std::size_t>(plen) >= sizeof pattern) return false;

    const char* folder = m_folder[0] ? m_folder : ".";
    int index = 0;
    struct stat st;
    if (::stat(folder, &st) != 0) {
        if (::mkdir(folder, 0777) != 0 && errno != EEXIST) return false;
    } else {
        DIR* dir = ::opendir(folder);
        if (!dir) return false;
        while (struct dirent* e = ::readdir(dir)) {
            if (std::strncmp(e->d_name, pattern, static_cast<std::size_t>(plen)) != 0) continue;
            char full[4096 + 256];
            const int fl = std::snprintf(full, sizeof full, "%s/%s", folder, e->d_name);
            if (fl < 0 || static_cast<std::size_t>(fl) >= sizeof full) continue;
            struct stat fs;
            if (::lstat(full, &fs) != 0 || !S_ISREG(fs.st_mode)) continue;
            const char* us = std::strrchr(e->d_name, '_');
            const char* dot = std::strrchr(e->d_name, '.');
            if (!us || !dot || dot <= us + 1 || !IsDigits(us + 1, static_cast<std::size_t>(dot - us - 1))) continue;
            const long v = std::strtol(us + 1, nullptr, 10);
            if (v > index && v < 1000000) index = static_cast<int>(v);
        }
        ::closedir(dir);
    }
    for (;; ++index) {
        const int n = std::snprintf(m_path, sizeof m_path, "%s%c%s%d.log", folder, '/', pattern, index);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof m_path) {
            m_path[0] = 0;
            return false;
        }
        if (::access(m_path, F_OK) != 0) break;
        if (index >= 1000000) return false;
    }
    m_fileIndex = index + 1;
    FILE* f = std::fopen(m_path, "a+");
    if (!f) f = std::fopen(m_path, "w+");
    if (!f) {
        m_path[0] = 0;
        return false;
    }
    m_file = f;
    m_fileDate = date;
    m_unflushed = false;
    return true;
}

void xLog::Close() {
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    CloseLocked();
}

void xLog::CloseLocked() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_path[0] = 0;
    m_unflushed = false;
}

bool xLog::ServesDate(int date) const {
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    return m_file && m_fileDate == date && m_fileBytes < m_maxFileBytes;
}

std::string xLog::CurrentPath() const {
    std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
    return m_file ? std::string(m_path) : std::string();
}

int xLog::RemoveOldFiles(int today) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = today / 10000 - 1900;
    t.tm_mon = today / 100 % 100 - 1;
    t.tm_mday = today % 100 - m_keepDays;
    t.tm_hour = 12;  // noon: a daylight-saving change cannot move the day
    t.tm_isdst = -1;
    if (std::mktime(&t) == static_cast<time_t>(-1)) return 0;
    const int limit = DateOf(t);

    char folder[4096];
    {
        std::lock_guard<std::recursive_mutex> lock(m_fileMutex);
        std::snprintf(folder, sizeof folder, "%s", m_folder[0] ? m_folder : ".");
    }
    DIR* dir = ::opendir(folder);
    if (!dir) return 0;
    int removed = 0;
    while (struct dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        const std::size_t len = std::strlen(name);
        // <8 digits>_<digits>.log
        if (len < 14 || !IsDigits(name, 8) || name[8] != '_' || std::strcmp(name + len - 4, ".log") != 0 ||
            !IsDigits(name + 9, len - 13))
            continue;
        if (std::atoi(std::string(name, 8).c_str()) > limit) continue;
        char full[4096 + 256];
        const int n = std::snprintf(full, sizeof full, "%s/%s", folder, name);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof full) continue;
        struct stat st;
        if (::lstat(full, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(full) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

xLog& VornLog() {
    static xLog* log = new xLog();  // lives for the process: bus threads may log until exit
    return *log;
}

}  // namespace VORN
}  // namespace OXA
