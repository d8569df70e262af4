// The bus's own asynchronous file logger.
//
// A caller of Print only reserves a slot in a ring, stores the format pointer and up to
// eight typed arguments and returns; it never formats, allocates or blocks in the default
// producer mode (a full ring or a contended reservation drops the message). One writer
// thread formats the slots in order into "<folder>/<prefix><YYYYMMDD>_<n>.log", opening a
// new file on a new day and past 256 MiB, and files older than the days kept are removed
// when the logger starts.
//
// Formatting is piecewise: the format is cut before every conversion and piece k is
// formatted with argument k, each conversion parsed and its stored argument converted to
// the type the conversion names, so a mismatched format prints a wrong-looking number
// instead of reading garbage; %n is never executed. Pieces beyond the last argument are
// not printed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "infra/vorn/Event.h"

namespace OXA {
namespace VORN {

// Argument tags of xLog::Print: each tag is followed by its value; XLOG_END ends the list.
enum : int {
    XLOG_INT64 = 0x100001,       // int64_t
    XLOG_DOUBLE = 0x100002,      // double
    XLOG_STRING = 0x100003,      // const char*, copied into the slot
    XLOG_STRING_REF = 0x100004,  // const char*, kept by pointer: must outlive the write
    XLOG_END = 0x100005,
};

constexpr int kXLogMaxArgs = 8;
constexpr std::size_t kXLogLineMax = 4094;  // a line is cut here before its "\n"

// Stored argument kinds.
enum : char { XLOG_KIND_INT = '0', XLOG_KIND_DOUBLE = '1', XLOG_KIND_STRING = '2' };

// Formats format piecewise with argc stored arguments (types[i] one of the kinds above,
// values[i] the integer, the double's bits, or the string pointer) into out, always
// terminated; returns the length written (at most cap - 1).
std::size_t xLogFormatPieces(char* out, std::size_t cap, const char* format, const char* types,
                             const uint64_t* values, int argc);

class xLog {
public:
    static constexpr const char* kVersion = "1.1.2022.0618";
    static constexpr int64_t kDefaultMaxFileBytes = 268435456;

    // Formats a raw record (PrintRaw) into out; returns the bytes written.
    using RawFormatter = int (*)(char* out, int cap, int value, const void* data, int length);
    using TimeSource = time_t (*)();

    xLog();
    ~xLog();
    xLog(const xLog&) = delete;
    xLog& operator=(const xLog&) = delete;

    void SetLevel(int level) { m_level.store(level, std::memory_order_relaxed); }
    void SetKeepDays(int days) { m_keepDays = days; }
    void SetEcho(int echo) { m_echo.store(echo, std::memory_order_relaxed); }
    // At most 4,095 characters; false (folder unchanged) when longer or null.
    bool SetFolder(const char* folder);
    void SetAsync() { m_sync = 0; }

    // Ring shape and producer mode; they take effect at Init. The shape is fixed once the
    // first asynchronous Init made the ring: an Init after Stop reuses it.
    void SetSlotSize(int bytes);  // raised to a multiple of 512, at least 512
    void SetSlotCount(int count); // ignored unless positive
    void SetProducerMode(int mode) { m_mode = (mode >= 0 && mode <= 2) ? mode : 0; }  // 0 drop, 1 spin 50 us, 2 block
    void SetRawFormatter(RawFormatter f) { m_rawFormatter.store(f, std::memory_order_release); }
    // Test seams: the size at which a file is replaced, and the wall clock.
    void SetMaxFileBytes(int64_t bytes) { m_maxFileBytes.store(bytes > 0 ? bytes : kDefaultMaxFileBytes); }
    void SetTimeSource(TimeSource now) { m_now.store(now ? now : &WallNow, std::memory_order_release); }

    // Removes old files, opens today's file and, in asynchronous mode, starts the ring and
    // its writer. True when the log is usable.
    bool Init();
    // Ends the writer after it has written every published slot; the destructor calls it.
    // Init may start it again.
    void Stop();

    // Queues one message: (tag, value) pairs ended by XLOG_END; an unknown tag ends the list.
    void Print(int level, const char* format, ...);
    // The same with typed arguments: integers, floating values and texts (copied).
    template <typename... A>
    void Out(int level, const char* format, const A&... args);
    // Queues a raw record for the raw-record formatter.
    void PrintRaw(int value, const void* data, int length);

    // Writes one message synchronously, printf style; echo 1 also prints it to standard output.
    void Log(int level, int echo, const char* format, ...) __attribute__((format(printf, 4, 5)));

    // Opens a new file (a name replaces the prefix, at most 127 characters); false when one
    // is already open or it cannot be opened.
    bool Open(const char* name = nullptr);
    void Close();
    // True when the open file still serves date: same date and below the size limit.
    bool ServesDate(int date) const;

    // Removes the files of the folder that are named by a date at or before the day that lies
    // the days kept before today (YYYYMMDD); returns how many were removed.
    int RemoveOldFiles(int today);

    // The path of the open file, empty when none.
    std::string CurrentPath() const;
    int Level() const { return m_level.load(std::memory_order_relaxed); }

    struct Arg {
        char kind;
        uint64_t value;
        bool copy;  // strings: copy into the slot
    };

private:
    struct Slot;

    static time_t WallNow() { return std::time(nullptr); }

    void Enqueue(int level, const char* format, const Arg* args, int argc);
    Slot* Reserve();
    void Publish(Slot* slot);
    Slot* SlotAt(std::size_t index) const;
    void WriterLoop();
    void WriteLine(const char* line, std::size_t length, int echo);
    bool OpenLocked(const char* name);
    void CloseLocked();
    std::size_t LinePrefix(char* out, std::size_t cap, time_t now, int* date) const;
    int Today() const;
    time_t Now() const { return m_now.load(std::memory_order_acquire)(); }

    static Arg MakeArg(const char* s) { return Arg{XLOG_KIND_STRING, reinterpret_cast<uintptr_t>(s), true}; }
    static Arg MakeArg(char* s) { return MakeArg(static_cast<const char*>(s)); }
    static Arg MakeArg(const std::string& s) { return MakeArg(s.c_str()); }
    template <typename T>
    static typename std::enable_if<std::is_integral<T>::value || std::is_enum<T>::value, Arg>::type MakeArg(T v) {
        return Arg{XLOG_KIND_INT, static_cast<uint64_t>(static_cast<int64_t>(v)), false};
    }
    template <typename T>
    static typename std::enable_if<std::is_floating_point<T>::value, Arg>::type MakeArg(T v) {
        Arg a{XLOG_KIND_DOUBLE, 0, false};
        const double d = static_cast<double>(v);
        static_assert(sizeof d == sizeof a.value, "double is 8 bytes");
        __builtin_memcpy(&a.value, &d, sizeof d);
        return a;
    }
    template <typename T>
    static Arg MakeArg(const T* p) { return Arg{XLOG_KIND_INT, reinterpret_cast<uintptr_t>(p), false}; }

    // configuration
    std::atomic<int> m_level{1};
    int m_keepDays = 10;
    std::atomic<int> m_echo{1};
    uint8_t m_sync = 1;
    int m_mode = 0;
    std::size_t m_slotSize = 1024;
    std::size_t m_slotCount = 524288;
    std::atomic<int64_t> m_maxFileBytes{kDefaultMaxFileBytes};
    std::atomic<RawFormatter> m_rawFormatter{nullptr};
    std::atomic<TimeSource> m_now{&WallNow};
    char m_prefix[128] = {0};
    char m_folder[4096] = {0};

    // the open file, guarded by m_fileMutex
    mutable std::recursive_mutex m_fileMutex;
    FILE* m_file = nullptr;
    int m_fileDate = 0;
    int64_t m_fileBytes = 0;
    int m_fileIndex = 0;
    bool m_unflushed = false;
    char m_path[256] = {0};

    // the ring
    uint8_t* m_ring = nullptr;
    std::atomic<bool> m_ready{false};
    std::atomic_flag m_spin = ATOMIC_FLAG_INIT;
    std::size_t m_writeIndex = 0;  // under m_spin
    std::size_t m_readIndex = 0;   // writer only
    CEvent m_writerEvent;
    CEvent m_spaceEvent;
    std::atomic<bool> m_stop{false};
    std::thread m_writer;
};

template <typename... A>
void xLog::Out(int level, const char* format, const A&... args) {
    static_assert(sizeof...(A) <= kXLogMaxArgs, "at most eight arguments");
    if (level > m_level.load(std::memory_order_relaxed) || !m_ready.load(std::memory_order_acquire)) return;
    const Arg list[sizeof...(A) + 1] = {MakeArg(args)..., Arg{0, 0, false}};
    Enqueue(level, format, list, static_cast<int>(sizeof...(A)));
}

// The one logger the bus writes to.
xLog& VornLog();

}  // namespace VORN
}  // namespace OXA
