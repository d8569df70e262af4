// Drives the storage playback reader with arbitrary file bytes. The first byte picks what
// the rest is: even, a storage file, replayed from a heap block of exactly its size and
// again through a file; odd, a list file, read line by line. Whatever the reader hands the
// callback must lie inside the bytes and within the record limits, and it must stop inside
// the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FuzzFile.h"
#include "infra/vorn/StoragePlayback.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;

namespace {

struct Bounds {
    const uint8_t* begin = nullptr;
    const uint8_t* end = nullptr;
    bool anywhere = false;  // the reader's own buffer: its place is not known here
    std::size_t calls = 0;
};

bool Inside(const Bounds& b, const void* p, std::size_t n) {
    if (b.anywhere) return p != nullptr;
    const uint8_t* q = static_cast<const uint8_t*>(p);
    return q >= b.begin && q <= b.end && n <= static_cast<std::size_t>(b.end - q);
}

void Check(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length, uint64_t playback,
           const VornMsgSource* source) {
    Bounds& b = *static_cast<Bounds*>(source->user_data);
    ++b.calls;
    if (playback != 1) __builtin_trap();
    if (!data) {
        // a marker
        if (length != 0 || tag != 0 || (msg_id != 0 && msg_id != kPlaybackEndMsgId)) __builtin_trap();
        if (source->group_id != -1 || source->member_id != -1 || source->partition_id != -1) __builtin_trap();
        return;
    }
    if (length > static_cast<uint32_t>(kMaxAppData) || !Inside(b, data, length)) __builtin_trap();
    if (source->extra_length < 0 || source->extra_length > kStorageMaxExtra) __builtin_trap();
    if (source->extra_length > 0 && !Inside(b, source->extra_data, static_cast<std::size_t>(source->extra_length)))
        __builtin_trap();
    if (source->partition_id < 100 || source->partition_id > 103) __builtin_trap();
    // touch every byte handed out, so a read past the block is caught
    volatile uint8_t sink = 0;
    for (uint32_t i = 0; i < length; ++i) sink ^= static_cast<const uint8_t*>(data)[i];
    (void)sink;
}

PlaybackContext Context(Bounds& b) {
    PlaybackContext c;
    c.callback = &Check;
    c.user_data = &b;
    c.partitions = {100, 101, 102, 103};
    return c;
}

void StorageFile(const uint8_t* data, std::size_t size) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(block.get(), data, size);
    Bounds b;
    b.begin = block.get();
    b.end = block.get() + size;
    CStoragePlayback playback(Context(b));
    const PlaybackFileResult r = playback.ReplayBytes(block.get(), size, "fuzz");
    if (r.end_offset > size || r.bytes > r.end_offset) __builtin_trap();
    if (r.records * kStorageRecordFixed > r.bytes) __builtin_trap();
    if (b.calls != r.records + r.starts) __builtin_trap();
    playback.Finish();

    // the same bytes through a file: the same records
    static FuzzFile file("storage_playback");
    const char* path = file.Set(data, size);
    Bounds again;
    CStoragePlayback from_file(Context(again));
    PlaybackFileResult fr;
    again.anywhere = true;
    if (!from_file.ReplayFile(path, &fr)) __builtin_trap();
    if (fr.records != r.records || fr.bytes != r.bytes || fr.end != r.end || fr.skipped != r.skipped) __builtin_trap();
}

void ListFile(const uint8_t* data, std::size_t size) {
    std::FILE* f = ::fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!f) return;
    char line[kListLineMax + 1];
    std::size_t lines = 0;
    for (;;) {
        const ListLine got = ReadListLine(f, line);
        if (got == ListLine::kEnd) break;
        const std::size_t n = std::strlen(line);
        if (n > kListLineMax || std::memchr(line, '\n', n)) __builtin_trap();
        if (++lines > size) __builtin_trap();  // every line consumes at least one byte
    }
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 == 0)
        StorageFile(data + 1, size - 1);
    else
        ListFile(data + 1, size - 1);
    return 0;
}
