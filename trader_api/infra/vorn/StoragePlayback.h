// Reading a day's storage files back through the deliver callback.
//
// The list file names the storage files in creation order, one path a line; a storage file
// holds records (the delivered datagram with its header in host order, the int32 HHMMSS of
// delivery, then any extra bytes) followed by zero fill, and the first file of a run starts
// with a 23-byte header of type 11. A record's payload-length field reads as uint16 data
// length (offset 19) and int16 extra length (offset 21).
//
// Nothing in a file is trusted, since a writer may have been killed or the file damaged:
// records end at the first header whose version is not 5 (the zero fill, or a record a killed
// writer had not finished: the writer sets the version byte last), at an unknown byte-order
// character or type, at a data length above 1371 or an extra length outside 0..32, and at a
// record that would run past the end of the file. A record whose source member index lies
// outside the member table is skipped (its lengths are sound, so the next record is found).
// Each of these ends is logged. List lines are read whole (a last line without a newline
// too). A damaged line (over 255 characters, or under 28) is logged with its line number and
// skipped, and a line naming anything but a regular file (a FIFO, a device, a folder: opened
// without blocking, then checked) is logged and skipped too: the files named after either
// are still replayed. A line naming a file that cannot be opened fails the replay. A file
// that a playback replayed already (named twice, or two ways: "<folder>/./in_...") is logged
// and skipped: each stored file is replayed once.
//
// The reader owns no thread and needs no launched bus: the storage set-up replays through it
// on the launching thread, and tests and the fuzz target feed it files or bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {

class xLog;

constexpr std::size_t kStorageFileSize = 8388608;          // 8 MiB
constexpr std::size_t kStorageGuard = 64;                   // never filled at a file's end
constexpr std::size_t kStorageRecordFixed = 33;             // header, id, tag, HHMMSS
constexpr int kStorageMaxExtra = 32;
constexpr uint32_t kPlaybackEndMsgId = 0x7FFF;
constexpr std::size_t kListLineMax = 255;
constexpr std::size_t kListLineMin = 28;                    // "in_GGG_MMM_YYYYMMDD_NNNN.dat"

// Why the records of one file ended.
enum class RecordsEnd {
    kZeroFill,    // a header whose version is not 5: the end the writer leaves
    kFileEnd,     // the bytes ended exactly after a record
    kTruncated,   // a header or record runs past the end of the file
    kBadOrder,    // a byte-order character other than '0' or '1'
    kBadType,     // neither a storage header (11) nor an app message (6)
    kBadLength,   // data length above 1371
    kBadExtra,    // extra length outside 0..32
};
const char* RecordsEndText(RecordsEnd end);

struct PlaybackFileResult {
    std::size_t records = 0;  // records handed to the callback
    std::size_t starts = 0;   // type-11 headers met (start markers)
    std::size_t skipped = 0;  // records whose source member index is outside the table
    uint64_t bytes = 0;       // record bytes replayed (33 + data + extra each)
    bool not_regular = false;  // the path named no regular file: skipped
    bool repeated = false;     // the file was replayed before by this playback: skipped
    RecordsEnd end = RecordsEnd::kFileEnd;
    std::size_t end_offset = 0;  // where reading stopped
};

struct PlaybackContext {
    VornDeliverCallback callback = nullptr;
    void* user_data = nullptr;
    // Partition id of each member-table entry, by member index; a record's source member
    // index must lie inside it.
    std::vector<int16_t> partitions;
    xLog* log = nullptr;  // null: nothing is logged
};

enum class ListLine { kLine, kTooLong, kEnd };
// Reads one line of at most 255 characters into out (terminated), without its newline; a
// longer line is consumed and reported as kTooLong. kEnd when nothing is left.
ListLine ReadListLine(std::FILE* file, char (&out)[kListLineMax + 1]);

class CStoragePlayback {
public:
    explicit CStoragePlayback(PlaybackContext context);

    // Replays the records of one storage file's bytes; name is for the log.
    PlaybackFileResult ReplayBytes(const uint8_t* data, std::size_t size, const char* name);
    // Reads one file (at most 8 MiB of it) and replays it; false when it cannot be opened
    // or read (logged). A path that names no regular file, or a file this playback replayed
    // already, is skipped (logged; true, with not_regular or repeated set).
    bool ReplayFile(const char* path, PlaybackFileResult* result = nullptr);
    // Replays every file the list names from its current position on; lines counts every
    // line read, damaged ones too. False when a named file cannot be opened.
    bool ReplayList(std::FILE* list, int* lines = nullptr);
    // The start marker when no type-11 header was met, then the end marker (0x7FFF).
    void Finish();

    std::size_t Records() const { return m_records; }
    std::size_t StartMarkers() const { return m_starts; }

private:
    void Marker(uint32_t msg_id);
    void Call(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length, const VornMsgSource& source);
    template <typename... A>
    void Note(const char* format, const A&... args);

    PlaybackContext m_ctx;
    std::size_t m_records = 0;
    std::size_t m_starts = 0;
    std::vector<uint8_t> m_buffer;
    // the files replayed so far, by device and inode: one file however its path is written
    std::vector<std::pair<uint64_t, uint64_t>> m_replayed;
    CRateLimit m_skipLog{1000000000, 20};
    CRateLimit m_throwLog{1000000000, 20};
};

}  // namespace VORN
}  // namespace OXA
