// Storage of delivered messages in memory-mapped day files, and the playback of a day's
// files before a member goes live.
//
// A member stores every delivered message whose id its own group flags for storage ('Y' in
// the coordinator's message table). The files live in "vorn_data" beside the base path:
// "list_GGG_MMM_DATE.txt" names every storage file in creation order, and
// "in_GGG_MMM_DATE_NNNN.dat" are 8 MiB files, pre-allocated, mapped and zeroed before use, so
// appending a record is a memory copy. A ring of 8 files (no storage core: "Sync-Storage
// Mode.") or 64 (a storage core: "Async-Storage Mode.") is created at set-up; the storage
// thread "vorn_storage" recycles the slots the writer has left, so that the four files after
// the one being written are made before they are needed (replaced files stay on disk). A
// normal run starts again at file 1 and overwrites the day's files; a playback run first
// replays the listed files through the deliver callback (see StoragePlayback.h), then
// numbers its new files after every list line and after the highest file of the day in the
// folder, whichever is higher, and appends them to the same list. A playback run never
// truncates a file that exists: a list with a damaged line keeps the files named after it,
// and a later playback still reads them.
//
// One run of a member at a time owns the day's files: the set-up takes an exclusive lock on
// the list (held until the storage stops, released by the kernel when the process ends), and
// a second run of the same member in the same folder is refused at launch. A number whose
// name is held by something that cannot be a new data file (a folder, a FIFO, a link; in a
// playback run, any file) is logged and skipped, and the next number is taken: the ring's
// files are numbered apart from their slots, so a skipped number never stops storage.
//
// The deliver thread is the only writer of records: a record of 33 + data bytes goes at the
// write offset when it ends at or before 8,388,544 bytes (the file size - 64), else at
// offset 0 of the next file; one that finds no file is lost with "Deliver Message Fatal:
// Storage Fail." and the message is delivered anyway. A record's version byte is written
// last, so a writer killed mid-record leaves a record that reads as the end of the file.
//
// Host-wide changes (the page-cache settings under /proc/sys/vm, written directly, and
// locking every current page with mlockall) are made only when the launch opts in to host
// tuning; a mapping that may not be locked falls back to an unlocked, populated one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "infra/vorn/Event.h"
#include "infra/vorn/HqtrsWire.h"
#include "infra/vorn/StoragePlayback.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {

class CVornSystem;

constexpr int kSyncStorageRing = 8;
constexpr int kAsyncStorageRing = 64;
// The storage thread makes file i + 6 once the writer has left file i + 1.
constexpr int kStorageFilesAhead = 5;

// How storage runs, beyond what the coordinator and the launch say. The defaults are the
// member's; tests shrink the files to try the 64-file ring without 512 MiB of disk.
struct StorageOptions {
    std::size_t file_size = kStorageFileSize;  // at least 4 KiB, a multiple of 64
    std::string vm_dir = "/proc/sys/vm";       // where the page-cache settings are written
    int next_file_tries = 128;                 // looks at a slot's ready flag per NextFile
};

// What one member's storage is set up from.
struct StorageConfig {
    bool has_base_path = false;
    std::string base_path;
    int16_t group_id = -1;
    int16_t member_id = -1;
    int date = 0;
    std::vector<HqtrsMsgInfo> msgs;      // the coordinator's message table
    std::vector<int16_t> partitions;     // partition id by member index, for playback
    int storage_core = -1;               // >= 0: async mode, the thread pinned there
    bool host_tuning = false;            // opt-in: /proc/sys/vm settings and mlockall
    void* user_data = nullptr;
    StorageOptions options;

    // From a member being launched (tables downloaded, identity and date known).
    static StorageConfig Of(CVornSystem& system);
};

// The storage folder for a base path: "<base>vorn_data" when it ends with '/', else
// "<base>/vorn_data", "./vorn_data" for none. False when it does not fit cap bytes.
bool StorageFolder(char* out, std::size_t cap, const char* base_path);

class CAppMsgStorage {
public:
    explicit CAppMsgStorage(CVornSystem& system);
    ~CAppMsgStorage();
    CAppMsgStorage(const CAppMsgStorage&) = delete;
    CAppMsgStorage& operator=(const CAppMsgStorage&) = delete;

    // Sets storage up for the member being launched and, with a run mode other than 0,
    // replays the day's files through callback first. True on success (storage off too).
    bool SetUp(int run_mode, VornDeliverCallback callback);
    bool SetUp(const StorageConfig& config, int run_mode, VornDeliverCallback callback);
    // Ends the storage thread and releases every mapping and the list; storage is off after.
    void Stop();

    bool On() const { return m_on; }
    bool Async() const { return m_async; }
    bool Flagged(int16_t msg_id) const;

    // ---- the writer (the deliver thread)
    // Stores a delivered app message (datagram bytes, header in host order, the HHMMSS of
    // delivery right behind them) when storage is on and its id is flagged. False, logged
    // as "Deliver Message Fatal: Storage Fail.", when it found no room.
    bool Store(int16_t msg_id, const uint8_t* datagram, std::size_t length);
    // Appends one record of length bytes; false when no file can take it.
    bool Append(const uint8_t* record, std::size_t length);
    // Makes the next ring file current; false when it is not ready.
    bool NextFile();
    // Appends 1..32 extra bytes behind the last stored record when message is the data
    // pointer the deliver callback got for it (same sequence and source in its header);
    // at most 32 extra bytes per record. False (nothing written) otherwise.
    bool AppendToLast(const uint8_t* message, const void* extra, uint32_t length);

    // ---- state, for tests and the log
    const char* Folder() const { return m_folder; }
    const char* ListPath() const { return m_listPath; }
    // The path of storage file number (from 1); empty when it does not fit.
    std::string FilePath(int number) const;
    int RingSize() const { return m_ringSize; }
    // The run's files are numbered after this one.
    int FirstNumber() const { return m_first; }
    // The number of the file being written (0 before the first).
    int CurrentNumber() const { return m_currentNumber; }
    std::size_t WriteOffset() const { return m_offset; }
    std::size_t Limit() const { return m_limit; }
    uint64_t Lost() const { return m_lost.load(std::memory_order_relaxed); }
    // Files created so far (set-up and storage thread), and how many of them could not be
    // locked in memory.
    int FilesCreated() const { return m_created.load(std::memory_order_acquire); }
    int FilesUnlocked() const { return m_unlocked.load(std::memory_order_acquire); }

private:
    struct Slot {
        uint8_t* map = nullptr;
        int number = 0;
        std::atomic<bool> ready{false};
    };

    enum class Created { kOk, kTaken, kFailed };
    // kTaken: the name is held by something that cannot be a new data file.
    Created CreateFile(int number, Slot& slot);
    // Creates the next data file into slot, skipping taken numbers (logged); false when a
    // creation failed (the number is tried again next time).
    bool CreateNext(Slot& slot);
    // Opens the list, locked against a second run of this member; false (logged) when it
    // cannot be opened or another run holds it.
    bool OpenList(bool playback);
    // The highest number of a storage file of the day in the folder (0 none).
    int HighestFileNumber() const;
    // Where a record of record bytes goes (the next file when this one cannot take it);
    // null when no file can.
    uint8_t* Room(std::size_t record);
    // A record was written at the offset; data is the message's data pointer, if any.
    void Advance(std::size_t record, const uint8_t* data);
    void ReleaseSlot(Slot& slot);
    void TuneHost();
    void Loop(bool pinned);
    // The ring's files have positions from 1 in the order they are made; their numbers
    // may skip.
    Slot& SlotOf(int position) { return m_slots[static_cast<std::size_t>((position - 1) & (m_ringSize - 1))]; }

    CVornSystem& m_sys;
    StorageConfig m_cfg;
    bool m_on = false;
    bool m_async = false;
    bool m_playback = false;  // new files are made, never truncated
    int32_t m_lowId = 0;
    std::vector<uint8_t> m_flags;  // by id - m_lowId
    char m_folder[256] = {0};
    char m_listPath[256] = {0};
    std::FILE* m_list = nullptr;
    std::size_t m_fileSize = kStorageFileSize;
    std::size_t m_limit = kStorageFileSize - kStorageGuard;

    std::unique_ptr<Slot[]> m_slots;
    int m_ringSize = 0;
    int m_first = 0;
    int m_nextNumber = 1;  // the set-up's, then the storage thread's
    // the writer's
    int m_current = 0;     // position of the file being written
    int m_currentNumber = 0;
    uint8_t* m_map = nullptr;
    std::size_t m_offset = 0;
    std::size_t m_lastRecord = 0;
    bool m_haveLast = false;
    const uint8_t* m_lastData = nullptr;
    CRateLimit m_failLog{1000000000, 20};
    std::atomic<uint64_t> m_lost{0};

    std::atomic<int> m_created{0};
    std::atomic<int> m_unlocked{0};
    CEvent m_event;
    CBusThread m_thread;
    std::atomic<bool> m_stop{false};
};

// VornAppendToLastMsg for one member: only while it is launched and only from its deliver
// thread (the one writer of its files). False when nothing was appended.
bool AppendToLastMsg(CVornSystem& system, const uint8_t* message, const void* extra, uint32_t length);

}  // namespace VORN
}  // namespace OXA
