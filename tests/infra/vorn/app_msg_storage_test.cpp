// Storage of delivered messages: only flagged ids of the own group are stored, records stay
// inside 8,388,544 bytes of each 8 MiB file and move whole to the next, the ring recycles
// its files in both modes, a normal run truncates the day's files and a playback run replays
// them and numbers its files after them (a damaged list line or a FIFO named in it costs no
// stored file and does not block), a second run of the member in its folder is refused, a
// name held by something else costs only its number, extra bytes go only behind the last
// record, a writer killed mid-stream leaves files that replay up to its last whole record,
// refused locks fall back to unlocked mappings, and host settings change only when asked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "StorageTestFiles.h"
#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/AppMsgStorage.h"
#include "infra/vorn/StoragePlayback.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"
#include "infra/vorn/xLog.h"
#include "support/BusLive.h"
#include "support/FakeCoordinator.h"

using namespace OXA::VORN;
using namespace storage_test;
using oxa_test::CountOf;
using oxa_test::CountedBody;
using namespace std::chrono_literals;

namespace {

constexpr int16_t kStored = 0x200;
constexpr int16_t kNotStored = 0x201;
constexpr std::size_t kSmallFile = 64 * 1024;

StorageConfig Config(const std::string& base, std::size_t file_size = kStorageFileSize, int core = -1) {
    StorageConfig c;
    c.has_base_path = true;
    c.base_path = base + "/";
    c.group_id = 20;
    c.member_id = 2;
    c.date = 20230217;
    c.msgs = {{0, 20, kStored, 'Y'}, {1, 20, kNotStored, 'N'}, {2, 10, 0x300, 'Y'}, {3, 20, 0x205, 'Y'}};
    c.partitions = {100, 101, 102, 103};
    c.storage_core = core;
    c.options.file_size = file_size;
    return c;
}

// A member object that is never launched, with a logger whose lines the test reads.
struct Member {
    explicit Member(const std::string& dir) {
        log.SetFolder((dir + "/log").c_str());
        log.SetEcho(0);
        log.SetAsync();
        log.SetSlotCount(4096);
        log.SetProducerMode(2);
        EXPECT_TRUE(log.Init());
    }
    ~Member() {
        storage.Stop();
        log.Stop();
        log.Close();
    }
    // Waits until a line holds text; false after 10 s.
    bool LogHas(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        do {
            for (const std::string& l : Lines(log.CurrentPath()))
                if (l.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(5ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    xLog log;
    CVornSystem sys{&log};
    CAppMsgStorage storage{sys};
};

// Message n: data of the given length, sequence n + 1, tag n, from member index n % 4.
std::vector<uint8_t> Message(int64_t n, std::size_t data_length) {
    Source s;
    s.member = static_cast<int16_t>(1 + n % 4);
    s.index = static_cast<int16_t>(n % 4);
    return Delivered(s, static_cast<int32_t>(n + 1), kStored, static_cast<int32_t>(n),
                     CountedBody(static_cast<uint64_t>(n), data_length));
}

// Stores a message built by Message (the datagram is its size - 4 bytes).
bool StoreMessage(CAppMsgStorage& st, const std::vector<uint8_t>& m, int16_t id = kStored) {
    return st.Store(id, m.data(), m.size() - 4);
}

// Replays the list of the storage (opened afresh) into rec; false when a file fails.
bool ReplayListOf(const CAppMsgStorage& st, Recorder& rec) {
    CStoragePlayback playback(ContextFor(rec));
    const bool ok = ReplayListAt(playback, st.ListPath());
    playback.Finish();
    return ok;
}

// Stores messages numbered from first on (data_length bytes each) until the writer is at file
// number file, for at most 20 s; the next number.
int64_t StoreUntilFile(CAppMsgStorage& st, int file, std::size_t data_length, int64_t first = 0) {
    int64_t n = first;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (st.CurrentNumber() < file && std::chrono::steady_clock::now() < until) {
        if (StoreMessage(st, Message(n, data_length)))
            ++n;
        else
            std::this_thread::sleep_for(200us);
    }
    return n;
}

// A normal run in dir that stores messages 0..count - 1 of 100 data bytes.
void NormalRun(const std::string& dir, int64_t count) {
    Member m(dir);
    ASSERT_TRUE(m.storage.SetUp(Config(dir, kSmallFile), 0, nullptr));
    for (int64_t n = 0; n < count; ++n) ASSERT_TRUE(StoreMessage(m.storage, Message(n, 100)));
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<int64_t> RecordNumbers(const std::vector<Replayed>& got) {
    std::vector<int64_t> out;
    for (const Replayed& r : got)
        if (!r.null_data) out.push_back(CountOf(r.data));
    return out;
}

std::vector<int64_t> Iota(int64_t from, int64_t to) {
    std::vector<int64_t> v;
    for (int64_t i = from; i < to; ++i) v.push_back(i);
    return v;
}

// ---------------------------------------------------------------------------------------

TEST(AppMsgStorage, NoFlaggedIdOfTheOwnGroupMeansNoStorage) {
    struct Case {
        const char* name;
        std::vector<HqtrsMsgInfo> msgs;
    };
    const std::vector<Case> cases = {
        {"no message table", {}},
        {"own ids all 'N'", {{0, 20, kStored, 'N'}, {1, 20, kNotStored, 'N'}}},
        {"'Y' only for another group", {{0, 10, kStored, 'Y'}, {1, 20, kNotStored, 'N'}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Member m(dir.path());
        StorageConfig cfg = Config(dir.path());
        cfg.msgs = c.msgs;
        ASSERT_TRUE(m.storage.SetUp(cfg, 0, nullptr));
        EXPECT_FALSE(m.storage.On());
        EXPECT_TRUE(StoreMessage(m.storage, Message(1, 16)));  // nothing to do is no failure
        EXPECT_TRUE(m.LogHas("Non-Storage Mode."));
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/vorn_data"));
    }
}

TEST(AppMsgStorage, OnlyFlaggedIdsOfTheOwnGroupAreStored) {
    TempDir dir;
    Member m(dir.path());
    ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));
    ASSERT_TRUE(m.storage.On());
    for (int16_t id : {kStored, int16_t{0x205}}) EXPECT_TRUE(m.storage.Flagged(id)) << id;
    for (int16_t id : {kNotStored, int16_t{0x1FF}, int16_t{0x206}, int16_t{0x300}, int16_t{-1}})
        EXPECT_FALSE(m.storage.Flagged(id)) << id;
    const std::size_t start = m.storage.WriteOffset();
    EXPECT_EQ(kHeaderSize, start);
    EXPECT_TRUE(StoreMessage(m.storage, Message(1, 16), kNotStored));
    EXPECT_EQ(start, m.storage.WriteOffset());
    EXPECT_TRUE(StoreMessage(m.storage, Message(2, 16), kStored));
    EXPECT_EQ(start + kStorageRecordFixed + 16, m.storage.WriteOffset());
}

TEST(AppMsgStorage, FolderFollowsTheBasePathRule) {
    struct Case {
        const char* base;
        bool ok;
        const char* folder;
    };
    const std::string long_base(300, 'b');
    const std::vector<Case> cases = {
        {"./", true, "./vorn_data"},
        {"/data/bus/", true, "/data/bus/vorn_data"},
        {"/data/bus", true, "/data/bus/vorn_data"},
        {nullptr, true, "./vorn_data"},
        {"", true, "/vorn_data"},
        {long_base.c_str(), false, ""},
    };
    for (const Case& c : cases) {
        char out[256];
        const bool ok = StorageFolder(out, sizeof out, c.base);
        EXPECT_EQ(c.ok, ok) << (c.base ? c.base : "(null)");
        if (ok && c.ok) {
            EXPECT_STREQ(c.folder, out);
        }
    }
}

// The real file size in sync mode (8 files of 8 MiB in a temporary folder).
TEST(AppMsgStorage, RecordsStayInside8388544BytesAndMoveWholeToTheNextFile) {
    TempDir dir;
    Member m(dir.path());
    CAppMsgStorage& st = m.storage;
    ASSERT_TRUE(st.SetUp(Config(dir.path()), 0, nullptr));
    EXPECT_FALSE(st.Async());
    EXPECT_EQ(8, st.RingSize());
    EXPECT_EQ(8388544u, st.Limit());
    EXPECT_TRUE(m.LogHas("Sync-Storage Mode."));
    EXPECT_TRUE(m.LogHas("Storage Thread(vorn_storage) Start ..."));

    const std::size_t max_record = kStorageRecordFixed + kMaxAppData;
    int64_t n = 0;
    bool ok = true;  // every record stored, each moving the write offset on
    auto store = [&](std::size_t record) {
        ASSERT_GE(record, kStorageRecordFixed + 8);
        ASSERT_LE(record, max_record);
        const std::size_t before = st.WriteOffset();
        ok = ok && StoreMessage(st, Message(n++, record - kStorageRecordFixed)) && st.WriteOffset() != before;
        ASSERT_TRUE(ok);
    };
    // file 1: fill until the next record ends exactly at the limit: it stays
    while (ok && st.Limit() - st.WriteOffset() > max_record) store(max_record);
    ASSERT_TRUE(ok);
    store(st.Limit() - st.WriteOffset());
    EXPECT_EQ(1, st.CurrentNumber());
    EXPECT_EQ(8388544u, st.WriteOffset());
    const int64_t in_first = n;
    // the smallest record no longer fits: offset 0 of file 2
    store(kStorageRecordFixed + 8);
    EXPECT_EQ(2, st.CurrentNumber());
    EXPECT_EQ(kStorageRecordFixed + 8, st.WriteOffset());
    // file 2: leave one byte less than the largest record needs
    while (ok && st.Limit() - st.WriteOffset() > 2 * max_record) store(max_record);
    ASSERT_TRUE(ok);
    store(st.Limit() - st.WriteOffset() - (max_record - 1));
    EXPECT_EQ(max_record - 1, st.Limit() - st.WriteOffset());
    const int64_t in_second = n - in_first;
    store(max_record);
    EXPECT_EQ(3, st.CurrentNumber());
    EXPECT_EQ(max_record, st.WriteOffset());
    EXPECT_EQ(0u, st.Lost());

    const std::vector<std::string> list = Lines(st.ListPath());
    ASSERT_EQ(8u, list.size());
    for (int f = 1; f <= 8; ++f) {
        EXPECT_EQ(st.FilePath(f), list[static_cast<std::size_t>(f - 1)]);
        EXPECT_EQ(kStorageFileSize, std::filesystem::file_size(list[static_cast<std::size_t>(f - 1)]));
    }
    EXPECT_EQ(dir.path() + "/vorn_data/in_020_002_20230217_0001.dat", list[0]);
    EXPECT_EQ(dir.path() + "/vorn_data/list_020_002_20230217.txt", std::string(st.ListPath()));
    // the first file starts with the type-11 header: version 5, own byte order, all else 0
    const std::vector<uint8_t> first = ReadAll(list[0]);
    ASSERT_EQ(kStorageFileSize, first.size());
    EXPECT_EQ(5, first[0]);
    EXPECT_EQ(HostOrderChar(), static_cast<char>(first[1]));
    EXPECT_EQ(kPktStorageHeader, first[6]);
    for (std::size_t i : {2u, 3u, 4u, 5u, 7u, 13u, 19u, 22u}) EXPECT_EQ(0, first[i]) << i;

    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    PlaybackFileResult one, two;
    ASSERT_TRUE(playback.ReplayFile(list[0].c_str(), &one));
    EXPECT_EQ(static_cast<std::size_t>(in_first), one.records);
    EXPECT_EQ(RecordsEnd::kZeroFill, one.end);
    EXPECT_EQ(8388544u, one.end_offset);
    ASSERT_TRUE(playback.ReplayFile(list[1].c_str(), &two));
    EXPECT_EQ(static_cast<std::size_t>(in_second), two.records);
    EXPECT_EQ(8388544u - (max_record - 1), two.end_offset);
    EXPECT_EQ(Iota(0, in_first + in_second), RecordNumbers(rec.Got()));
}

struct RingCase {
    const char* name;
    int core;  // -1 sync, else async
    int ring;
};

TEST(AppMsgStorage, TheRingRecyclesItsFilesAheadOfTheWriter) {
    const unsigned cores = std::thread::hardware_concurrency();
    const std::vector<RingCase> cases = {
        {"sync", -1, kSyncStorageRing},
        {"async", static_cast<int>(cores > 1 ? cores - 1 : 0), kAsyncStorageRing},
    };
    for (const RingCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Member m(dir.path());
        CAppMsgStorage& st = m.storage;
        ASSERT_TRUE(st.SetUp(Config(dir.path(), kSmallFile, c.core), 0, nullptr));
        EXPECT_EQ(c.core >= 0, st.Async());
        EXPECT_EQ(c.ring, st.RingSize());
        EXPECT_TRUE(m.LogHas(c.core >= 0 ? "Async-Storage Mode." : "Sync-Storage Mode."));
        // past the ring twice over; a record that finds no ready file is tried again
        const int files = 2 * c.ring + 3;
        int64_t n = 0;
        std::size_t refused = 0;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (st.CurrentNumber() < files && std::chrono::steady_clock::now() < deadline) {
            const std::vector<uint8_t> msg = Message(n, 8 + static_cast<std::size_t>(n % 1363));
            if (StoreMessage(st, msg)) {
                ++n;
            } else {
                ++refused;
                std::this_thread::sleep_for(200us);
            }
        }
        ASSERT_EQ(files, st.CurrentNumber());
        EXPECT_EQ(refused, st.Lost());
        // the storage thread keeps files ready ahead of the writer, each listed once created
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (st.FilesCreated() < files + kStorageFilesAhead - 1 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        EXPECT_GE(st.FilesCreated(), files + kStorageFilesAhead - 1);
        st.Stop();
        const std::vector<std::string> list = Lines(st.ListPath());
        ASSERT_EQ(static_cast<std::size_t>(st.FilesCreated()), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(st.FilePath(static_cast<int>(i + 1)), list[i]);
            EXPECT_TRUE(std::filesystem::exists(list[i]));  // replaced files stay on disk
        }
        Recorder rec;
        ASSERT_TRUE(ReplayListOf(st, rec));
        const std::vector<Replayed> got = rec.Got();
        EXPECT_EQ(Iota(0, n), RecordNumbers(got));
        ASSERT_GE(got.size(), 2u);
        EXPECT_EQ(0u, got.front().msg_id);
        EXPECT_EQ(kPlaybackEndMsgId, got.back().msg_id);
    }
}

TEST(AppMsgStorage, ANormalRunTruncatesAndReusesTheDaysFiles) {
    TempDir dir;
    {
        Member m(dir.path());
        ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));
        // through four files: the ring has made file 9 by then
        StoreUntilFile(m.storage, 5, 1000);
        ASSERT_EQ(5, m.storage.CurrentNumber());
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (m.storage.FilesCreated() < 9 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(m.storage.FilesCreated(), 9);
    }
    Member m(dir.path());
    ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));
    EXPECT_EQ(1, m.storage.CurrentNumber());
    for (int64_t n = 500; n < 503; ++n) ASSERT_TRUE(StoreMessage(m.storage, Message(n, 40)));
    const std::vector<std::string> list = Lines(m.storage.ListPath());
    ASSERT_EQ(8u, list.size());
    EXPECT_EQ(m.storage.FilePath(1), list[0]);
    EXPECT_TRUE(std::filesystem::exists(m.storage.FilePath(9)));  // left on disk, not listed
    m.storage.Stop();
    Recorder rec;
    ASSERT_TRUE(ReplayListOf(m.storage, rec));
    EXPECT_EQ((std::vector<int64_t>{500, 501, 502}), RecordNumbers(rec.Got()));

    // a playback run now numbers its files after the highest of the day, which only the
    // folder shows (the list names 8)
    int on_disk = 0;
    while (std::filesystem::exists(m.storage.FilePath(on_disk + 1))) ++on_disk;
    ASSERT_GE(on_disk, 9);
    Member again(dir.path());
    ASSERT_TRUE(again.storage.SetUp(Config(dir.path(), kSmallFile), 1, nullptr));
    EXPECT_EQ(on_disk, again.storage.FirstNumber());
}

TEST(AppMsgStorage, APlaybackRunReplaysTheDayAndNumbersItsFilesAfterTheList) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(NormalRun(dir.path(), 5));
    // a list whose last line lost its newline: the new files still go on lines of their own
    const std::string list = dir.path() + "/vorn_data/list_020_002_20230217.txt";
    std::filesystem::resize_file(list, std::filesystem::file_size(list) - 1);
    Recorder rec;
    {
        Member m(dir.path());
        StorageConfig cfg = Config(dir.path(), kSmallFile);
        cfg.user_data = &rec;
        ASSERT_TRUE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
        std::vector<Replayed> got = rec.Got();
        ASSERT_EQ(7u, got.size());
        EXPECT_EQ(0u, got.front().msg_id);
        EXPECT_TRUE(got.front().null_data);
        EXPECT_EQ(kPlaybackEndMsgId, got.back().msg_id);
        EXPECT_EQ(Iota(0, 5), RecordNumbers(got));
        for (std::size_t i = 1; i + 1 < got.size(); ++i) {
            EXPECT_EQ(1u, got[i].playback);
            EXPECT_EQ(static_cast<uint32_t>(kStored), got[i].msg_id);
            EXPECT_EQ(100 + static_cast<int>((i - 1) % 4), got[i].partition);
        }
        EXPECT_TRUE(m.LogHas("Read File: " + dir.path() + "/vorn_data/in_020_002_20230217_0001.dat ..."));
        EXPECT_TRUE(m.LogHas("Read File: " + dir.path() + "/vorn_data/in_020_002_20230217_0001.dat Success ( " +
                             std::to_string(5 * (kStorageRecordFixed + 100)) + " )"));
        EXPECT_EQ(8, m.storage.FirstNumber());
        EXPECT_EQ(9, m.storage.CurrentNumber());
        for (int64_t n = 5; n < 8; ++n) ASSERT_TRUE(StoreMessage(m.storage, Message(n, 100)));
        const std::vector<std::string> list = Lines(m.storage.ListPath());
        ASSERT_EQ(16u, list.size());
        EXPECT_EQ(m.storage.FilePath(9), list[8]);
    }
    // the next playback: both runs, each first file with its start marker
    rec.Clear();
    Member m(dir.path());
    StorageConfig cfg = Config(dir.path(), kSmallFile);
    cfg.user_data = &rec;
    ASSERT_TRUE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
    const std::vector<Replayed> got = rec.Got();
    EXPECT_EQ(Iota(0, 8), RecordNumbers(got));
    std::size_t starts = 0;
    for (const Replayed& r : got) starts += r.null_data && r.msg_id == 0;
    EXPECT_EQ(2u, starts);
    EXPECT_EQ(16, m.storage.FirstNumber());
}

TEST(AppMsgStorage, APlaybackOnADayWithoutFilesGivesTheTwoMarkersAndStartsAtFileOne) {
    TempDir dir;
    Member m(dir.path());
    Recorder rec;
    StorageConfig cfg = Config(dir.path(), kSmallFile);
    cfg.user_data = &rec;
    ASSERT_TRUE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
    const std::vector<Replayed> got = rec.Got();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0u, got[0].msg_id);
    EXPECT_EQ(kPlaybackEndMsgId, got[1].msg_id);
    EXPECT_EQ(1, m.storage.CurrentNumber());
    EXPECT_EQ(8u, Lines(m.storage.ListPath()).size());
}

TEST(AppMsgStorage, APlaybackWhoseListNamesAMissingFileFails) {
    TempDir dir;
    {
        Member m(dir.path());
        ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));
    }
    std::filesystem::remove(dir.path() + "/vorn_data/in_020_002_20230217_0003.dat");
    Member m(dir.path());
    Recorder rec;
    StorageConfig cfg = Config(dir.path(), kSmallFile);
    cfg.user_data = &rec;
    EXPECT_FALSE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
    EXPECT_FALSE(m.storage.On());
    EXPECT_TRUE(m.LogHas("Open App-Msg-Storage File Fail: Open File (" + dir.path() +
                         "/vorn_data/in_020_002_20230217_0003.dat) Error."));
}

// Records of a file replayed on its own (0 when it cannot be read).
std::size_t RecordsIn(const std::string& path) {
    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    PlaybackFileResult r;
    return playback.ReplayFile(path.c_str(), &r) ? r.records : 0;
}

// A day of three written files whose list has a damaged second line: the playback run logs
// the line, replays the files named after it, truncates nothing and numbers its files after
// the highest of the day; a later playback still reads the files after the damaged line.
TEST(AppMsgStorage, APlaybackAfterADamagedListLineKeepsEveryFile) {
    TempDir dir;
    std::vector<std::size_t> per_file;
    int64_t n = 0;
    {
        Member m(dir.path());
        ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));
        n = StoreUntilFile(m.storage, 4, 500);
        ASSERT_EQ(4, m.storage.CurrentNumber());
    }
    for (int f = 1; f <= 4; ++f)
        per_file.push_back(RecordsIn(dir.path() + "/vorn_data/in_020_002_20230217_000" + std::to_string(f) + ".dat"));
    ASSERT_GT(per_file[1], 0u);
    ASSERT_GT(per_file[2], 0u);
    const std::string list = dir.path() + "/vorn_data/list_020_002_20230217.txt";
    std::vector<std::string> lines = Lines(list);
    ASSERT_GE(lines.size(), 8u);
    const std::string second = lines[1];
    lines[1] = "#~garbage";
    WriteLines(list, lines);
    const int highest = static_cast<int>(lines.size());

    Recorder rec;
    {
        Member m(dir.path());
        StorageConfig cfg = Config(dir.path(), kSmallFile);
        cfg.user_data = &rec;
        ASSERT_TRUE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
        EXPECT_TRUE(m.LogHas("Read List: Line ( 2 ) Of ( 9 ) Characters Too Short, Skipped."));
        EXPECT_EQ(per_file[0] + per_file[2] + per_file[3], RecordNumbers(rec.Got()).size())
            << "the files named after the damaged line are replayed";
        EXPECT_EQ(highest, m.storage.FirstNumber()) << "numbered after the highest file of the day";
        for (int64_t k = 0; k < 3; ++k) ASSERT_TRUE(StoreMessage(m.storage, Message(n + k, 100)));
    }
    for (int f = 1; f <= 4; ++f)
        EXPECT_EQ(per_file[static_cast<std::size_t>(f - 1)],
                  RecordsIn(dir.path() + "/vorn_data/in_020_002_20230217_000" + std::to_string(f) + ".dat"))
            << "file " << f << " kept whole";
    EXPECT_EQ(second, dir.path() + "/vorn_data/in_020_002_20230217_0002.dat");

    // the next playback: the files after the damaged line, the new run's too
    rec.Clear();
    Member m(dir.path());
    StorageConfig cfg = Config(dir.path(), kSmallFile);
    cfg.user_data = &rec;
    ASSERT_TRUE(m.storage.SetUp(cfg, 1, &Recorder::Callback));
    EXPECT_EQ(per_file[0] + per_file[2] + per_file[3] + 3, RecordNumbers(rec.Got()).size());
    EXPECT_EQ(highest + 8, m.storage.FirstNumber());
}

// A list line naming a FIFO: replay opens it without blocking, sees no regular file, logs
// and skips it, and the launch goes on with the files after it.
TEST(AppMsgStorage, APlaybackSkipsAListLineNamingAFifo) {
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(NormalRun(dir.path(), 3));
    const std::string fifo = dir.path() + "/vorn_data/in_020_002_20230217_fifo.dat";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const std::string list = dir.path() + "/vorn_data/list_020_002_20230217.txt";
    std::vector<std::string> lines = Lines(list);
    lines.insert(lines.begin(), fifo);
    WriteLines(list, lines);
    Member m(dir.path());
    Recorder rec;
    StorageConfig cfg = Config(dir.path(), kSmallFile);
    cfg.user_data = &rec;
    std::atomic<int> result{-1};
    std::thread launch([&] { result.store(m.storage.SetUp(cfg, 1, &Recorder::Callback) ? 1 : 0); });
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (result.load() < 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    const bool returned = result.load() >= 0;
    if (!returned) {
        // a reader blocked in the FIFO's open: a writer lets it go, so the test ends
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    launch.join();
    ASSERT_TRUE(returned) << "the set-up blocked on the FIFO";
    EXPECT_EQ(1, result.load());
    EXPECT_TRUE(m.LogHas("Open App-Msg-Storage File Fail: Open File (" + fifo + ") Is Not A Regular File, Skipped."));
    EXPECT_EQ(Iota(0, 3), RecordNumbers(rec.Got()));
}

// Two runs of one member in one folder would number or overwrite each other's files: the
// second is refused at launch whatever either run's mode, the first stores every record
// through its ring and beyond, and once it has stopped a run takes the folder again.
TEST(AppMsgStorage, ASecondRunOfTheMemberInItsFolderIsRefused) {
    struct Case {
        const char* name;
        int first_mode, second_mode;  // 0 normal, 1 playback
    };
    const std::vector<Case> cases = {
        {"playback beside playback", 1, 1},
        {"normal beside normal", 0, 0},
        {"playback beside normal", 0, 1},
        {"normal beside playback", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Member first(dir.path());
        ASSERT_TRUE(first.storage.SetUp(Config(dir.path(), kSmallFile), c.first_mode, nullptr));
        {
            Member second(dir.path());
            EXPECT_FALSE(second.storage.SetUp(Config(dir.path(), kSmallFile), c.second_mode, nullptr));
            EXPECT_FALSE(second.storage.On());
            EXPECT_TRUE(second.LogHas("Open App-Msg-Storage File Fail: List (" + std::string(first.storage.ListPath()) +
                                      ") Is Held By Another Run Of This Member."));
        }
        const int files = kSyncStorageRing + 4;
        const int64_t n = StoreUntilFile(first.storage, files, 1000);
        ASSERT_EQ(files, first.storage.CurrentNumber()) << "the first run's ring went on";
        first.storage.Stop();
        Recorder rec;
        ASSERT_TRUE(ReplayListOf(first.storage, rec));
        EXPECT_EQ(Iota(0, n), RecordNumbers(rec.Got())) << "every record stored, once";
        Member next(dir.path());
        EXPECT_TRUE(next.storage.SetUp(Config(dir.path(), kSmallFile), c.second_mode, nullptr));
    }
}

// Something that cannot be a new data file under a future data file's name (a folder, a FIFO,
// a link; in a playback run also a file made meanwhile) costs that number, logged, and
// storing goes on: every record replays once, and nothing under the name is touched.
TEST(AppMsgStorage, ANameHeldBySomethingElseCostsOnlyItsNumber) {
    struct Case {
        const char* name;
        int mode;           // 0 normal (the name is held before the launch), 1 playback (meanwhile)
        const char* thing;  // "folder", "fifo", "link" or "file"
    };
    const std::vector<Case> cases = {
        {"a folder, normal run", 0, "folder"},
        {"a FIFO, normal run", 0, "fifo"},
        {"a link, normal run", 0, "link"},
        {"a file made meanwhile, playback run", 1, "file"},
        {"a folder made meanwhile, playback run", 1, "folder"},
    };
    const std::vector<uint8_t> kept = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string data = dir.path() + "/vorn_data";
        std::filesystem::create_directories(data);
        const std::string victim = dir.path() + "/victim";
        WriteAll(victim, kept);
        const std::string taken = data + "/in_020_002_20230217_0010.dat";
        const std::string thing = c.thing;
        auto hold = [&] {
            std::error_code ec;
            if (thing == "folder") std::filesystem::create_directory(taken, ec);
            if (thing == "fifo" && ::mkfifo(taken.c_str(), 0600) != 0) ec = std::error_code(errno, std::generic_category());
            if (thing == "link") std::filesystem::create_symlink(victim, taken, ec);
            if (thing == "file") WriteAll(taken, kept);
            return !ec && std::filesystem::exists(std::filesystem::symlink_status(taken));
        };
        Member m(dir.path());
        ASSERT_TRUE(c.mode != 0 || hold());
        ASSERT_TRUE(m.storage.SetUp(Config(dir.path(), kSmallFile), c.mode, nullptr));
        ASSERT_EQ(1, m.storage.CurrentNumber());
        ASSERT_TRUE(c.mode == 0 || hold());
        const int64_t n = StoreUntilFile(m.storage, 12, 1000);
        ASSERT_EQ(12, m.storage.CurrentNumber()) << "storing went on past number 10";
        EXPECT_TRUE(m.LogHas("Open App-Msg-Storage File Warning: Open File (" + taken +
                             ") Taken, File Number ( 10 ) Skipped."));
        m.storage.Stop();
        const std::vector<std::string> list = Lines(m.storage.ListPath());
        EXPECT_EQ(list.end(), std::find(list.begin(), list.end(), taken)) << "not listed";
        EXPECT_NE(list.end(), std::find(list.begin(), list.end(), m.storage.FilePath(11)));
        Recorder rec;
        ASSERT_TRUE(ReplayListOf(m.storage, rec));
        EXPECT_EQ(Iota(0, n), RecordNumbers(rec.Got())) << "every record stored, once";
        EXPECT_EQ(kept, ReadAll(victim)) << "a link's target is left alone";
        if (thing == "file") {
            EXPECT_EQ(kept, ReadAll(taken));
        }
    }
}

TEST(AppMsgStorage, ExtraBytesGoOnlyBehindTheLastStoredRecord) {
    TempDir dir;
    Member m(dir.path());
    CAppMsgStorage& st = m.storage;
    const uint8_t extra[40] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                               21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40};
    std::vector<uint8_t> before = Message(0, 20);
    EXPECT_FALSE(st.AppendToLast(before.data() + kAppHeaderSize, extra, 3));  // not set up
    ASSERT_TRUE(st.SetUp(Config(dir.path(), kSmallFile), 0, nullptr));

    std::vector<uint8_t> a = Message(1, 20), b = Message(2, 20);
    ASSERT_TRUE(StoreMessage(st, a));
    ASSERT_TRUE(StoreMessage(st, b));
    const uint8_t* a_data = a.data() + kAppHeaderSize;
    const uint8_t* b_data = b.data() + kAppHeaderSize;
    struct Case {
        const char* name;
        const uint8_t* message;
        const void* extra;
        uint32_t length;
        bool appended;
    };
    const std::vector<Case> cases = {
        {"length 0", b_data, extra, 0, false},
        {"length 33", b_data, extra, 33, false},
        {"null message", nullptr, extra, 3, false},
        {"null extra", b_data, nullptr, 3, false},
        {"not the last record", a_data, extra, 3, false},
        {"the datagram, not its data", b.data(), extra, 3, false},
        {"1 byte", b_data, extra, 1, true},
        {"to 32 bytes in all", b_data, extra + 1, 31, true},
        {"past 32 bytes in all", b_data, extra, 1, false},
    };
    std::size_t offset = st.WriteOffset();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.appended, st.AppendToLast(c.message, c.extra, c.length));
        if (c.appended) offset += c.length;
        EXPECT_EQ(offset, st.WriteOffset());
    }
    // the buffer now holds another message: same pointer, another sequence
    std::vector<uint8_t> c = Message(3, 20);
    ASSERT_TRUE(StoreMessage(st, c));
    std::vector<uint8_t> reused = Message(4, 20);
    std::memcpy(c.data(), reused.data(), reused.size());
    EXPECT_FALSE(st.AppendToLast(c.data() + kAppHeaderSize, extra, 2));
    ASSERT_TRUE(StoreMessage(st, Message(5, 20)));  // the record after an extension

    st.Stop();
    Recorder rec;
    ASSERT_TRUE(ReplayListOf(st, rec));
    const std::vector<Replayed> got = rec.Got();
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 5}), RecordNumbers(got));
    ASSERT_EQ(6u, got.size());
    EXPECT_TRUE(got[1].extra.empty());
    ASSERT_EQ(32u, got[2].extra.size());
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(extra[i], got[2].extra[i]);
    EXPECT_TRUE(got[3].extra.empty());
    EXPECT_TRUE(got[4].extra.empty());

    // the entry point refuses outside a launched member's deliver thread
    EXPECT_FALSE(AppendToLastMsg(m.sys, b_data, extra, 3));
}

// ---- a writer killed mid-stream --------------------------------------------------------

// Runs writer in a child process that reports on a pipe, in order, the number of every
// record it has stored; kills it once it reported target (or after limit) and returns the
// last number it reported, -1 when it ended by itself.
int64_t KillWhileWriting(const std::function<void(int progress_fd)>& writer, int64_t target,
                         std::chrono::seconds limit) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        writer(fds[1]);
        ::_exit(9);
    }
    ::close(fds[1]);
    int64_t last = -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid > 0 && last < target && std::chrono::steady_clock::now() < deadline) {
        int64_t n = 0;
        if (::read(fds[0], &n, sizeof n) != static_cast<ssize_t>(sizeof n)) break;
        EXPECT_EQ(last + 1, n);
        last = n;
    }
    int status = 0;
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        EXPECT_EQ(pid, ::waitpid(pid, &status, 0));
    }
    for (int64_t n = 0; ::read(fds[0], &n, sizeof n) == static_cast<ssize_t>(sizeof n);) last = n;
    ::close(fds[0]);
    if (pid <= 0 || !WIFSIGNALED(status)) {
        ADD_FAILURE() << "the writer ended by itself: " << status;
        return -1;
    }
    EXPECT_GE(last, target);
    return last;
}

// What the day's list of member 20/2 under dir replays after a writer that reported last
// was killed: every reported record and at most the one in flight, whole and in order.
std::vector<Replayed> ReplayAfterKill(const std::string& dir, int64_t last, int* files = nullptr) {
    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    EXPECT_TRUE(ReplayListAt(playback, dir + "/vorn_data/list_020_002_20230217.txt", files));
    const std::vector<Replayed> got = rec.Got();
    const std::vector<int64_t> numbers = RecordNumbers(got);
    EXPECT_GE(static_cast<int64_t>(numbers.size()), last + 1);
    EXPECT_LE(static_cast<int64_t>(numbers.size()), last + 2);
    EXPECT_EQ(Iota(0, static_cast<int64_t>(numbers.size())), numbers);
    EXPECT_TRUE(!got.empty() && got.front().null_data && got.front().msg_id == 0);  // the start marker
    return got;
}

[[noreturn]] void KilledWriter(const std::string& dir, int progress_fd) {
    xLog log;  // never started: silent
    CVornSystem sys(&log);
    CAppMsgStorage st(sys);
    if (!st.SetUp(Config(dir, kSmallFile), 0, nullptr)) ::_exit(2);
    for (int64_t n = 0;; ++n) {
        const std::vector<uint8_t> msg = Message(n, 8 + static_cast<std::size_t>((n * 7919) % 1364));
        while (!StoreMessage(st, msg)) ::usleep(100);
        if (::write(progress_fd, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) ::_exit(3);
    }
}

TEST(AppMsgStorage, AWriterKilledMidStreamLeavesFilesThatReplayToItsLastWholeRecord) {
    std::mt19937 rng(std::random_device{}());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        // let it write across several files, then kill it wherever it is
        const int64_t target = 2000 + static_cast<int64_t>(rng() % 4000);
        const int64_t last = KillWhileWriting([&](int fd) { KilledWriter(dir.path(), fd); }, target, 30s);
        ASSERT_GE(last, target);
        int files = 0;
        const std::vector<Replayed> got = ReplayAfterKill(dir.path(), last, &files);
        EXPECT_GT(files, 8);
        for (std::size_t i = 1; i < got.size(); ++i) {
            const int64_t n = static_cast<int64_t>(i - 1);
            EXPECT_EQ(8 + static_cast<std::size_t>((n * 7919) % 1364), got[i].data.size());
            EXPECT_EQ(static_cast<uint32_t>(n), got[i].tag);
        }
    }
}

// ---- locks and host settings -------------------------------------------------------------

// Drops the right to lock memory beyond the limit and sets the limit to 0.
bool DropLockRights() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned bit = 1u << CAP_IPC_LOCK;
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    data[0].inheritable &= ~bit;
    if (::syscall(SYS_capset, &header, data) != 0) return false;
    rlimit none{0, 0};
    return ::setrlimit(RLIMIT_MEMLOCK, &none) == 0;
}

TEST(AppMsgStorage, RefusedLocksFallBackToUnlockedPopulatedMappings) {
    TempDir dir;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!DropLockRights()) ::_exit(10);
        void* probe = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_LOCKED, -1, 0);
        if (probe != MAP_FAILED) ::_exit(11);  // locks still granted: nothing to try
        xLog log;
        CVornSystem sys(&log);
        CAppMsgStorage st(sys);
        if (!st.SetUp(Config(dir.path(), kSmallFile), 0, nullptr)) ::_exit(1);
        if (st.FilesUnlocked() != st.FilesCreated() || st.FilesCreated() < kSyncStorageRing) ::_exit(2);
        if (!StoreMessage(st, Message(1, 30))) ::_exit(3);
        st.Stop();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 11) GTEST_SKIP() << "cannot refuse locks here";
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(AppMsgStorage, HostSettingsChangeOnlyWhenAskedForWithAStorageCore) {
    struct Case {
        const char* name;
        int core;
        bool host_tuning;
        bool written;
    };
    const std::vector<Case> cases = {
        {"async, opted in", 0, true, true},
        {"async, not opted in", 0, false, false},
        {"sync, opted in", -1, true, false},
    };
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"dirty_expire_centisecs", "3000"}, {"dirty_background_ratio", "5"}, {"dirty_ratio", "80"},
        {"dirty_writeback_centisecs", "500"}, {"swappiness", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string vm = dir.path() + "/vm";
        std::filesystem::create_directory(vm);
        for (const auto& s : settings) WriteAll(vm + "/" + s.first, {'7', '\n'});
        Member m(dir.path());
        StorageConfig cfg = Config(dir.path(), 4096, c.core);
        cfg.host_tuning = c.host_tuning;
        cfg.options.vm_dir = vm;
        ASSERT_TRUE(m.storage.SetUp(cfg, 0, nullptr));
        m.storage.Stop();
        for (const auto& s : settings) {
            const std::vector<uint8_t> got = ReadAll(vm + "/" + s.first);
            EXPECT_EQ(c.written ? s.second + "\n" : std::string("7\n"), std::string(got.begin(), got.end())) << s.first;
        }
    }
}

TEST(AppMsgStorage, ARecordThatFindsNoFileIsLostAndLogged) {
    TempDir dir;
    Member m(dir.path());
    CAppMsgStorage& st = m.storage;
    ASSERT_TRUE(st.SetUp(Config(dir.path(), 4096), 0, nullptr));
    // no new file can be made from here on: the ring runs dry after its eight files
    std::filesystem::rename(dir.path() + "/vorn_data", dir.path() + "/moved");
    int64_t n = 0;
    bool failed = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!failed && std::chrono::steady_clock::now() < deadline) failed = !StoreMessage(st, Message(n++, 1000));
    ASSERT_TRUE(failed);
    EXPECT_GE(st.CurrentNumber(), 8);
    EXPECT_EQ(1u, st.Lost());
    EXPECT_TRUE(m.LogHas("Deliver Message Fatal: Storage Fail."));
    EXPECT_TRUE(m.LogHas("Open App-Msg-Storage File Fail: Open File ("));
}

// ---- a live member on loopback ------------------------------------------------------------

// Group 10 is a server group with member 1; group 20 a client group with member 2, which
// stores 0x200 and not 0x201.
oxa_test::CoordLayout StoringLayout() {
    const std::vector<uint16_t> ports = oxa_test::FreeUdpPorts(2);
    std::string text = "window 1024\nlost 1\ngroup 10 1 0\ngroup 20 1 1\n";
    text += "member 10 1 127.0.0.1 " + std::to_string(ports.at(0)) + "\n";
    text += "member 20 2 127.0.0.1 " + std::to_string(ports.at(1)) + " partition=3\n";
    text += "msg 10 0x100\nmsg 20 0x200 Y\nmsg 20 0x201 N\n";
    oxa_test::CoordLayout layout;
    std::string error;
    EXPECT_TRUE(oxa_test::ParseCoordLayout(text, layout, &error)) << error;
    return layout;
}

// Member 2 of group 20, launched with its files under base.
struct StoringMember {
    ~StoringMember() { Stop(); }
    bool Launch(const oxa_test::FakeCoordinator& coord, const std::string& base, int run_mode,
                std::size_t file_size = kSmallFile) {
        Stop();
        log.reset(new xLog());
        log->SetSlotCount(4096);
        sys.reset(new CVornSystem(log.get()));
        VornLaunchArgs a;
        a.group_id = 20;
        a.member_id = 2;
        a.coordinator_ip = coord.Ip().c_str();
        a.coordinator_port = coord.Port();
        a.base_path = base.c_str();
        a.deliver = &Recorder::Callback;
        a.jam_wait_us = 1000;
        a.run_mode = run_mode;
        a.user_data = &rec;
        VornLaunchOptions o;
        o.groups.timing.sync_reply_wait_ns = 200000000;
        o.storage.file_size = file_size;
        return sys->Launch(a, o) == 1;
    }
    void Stop() {
        if (sys) sys->Stop();
        sys.reset();
        log.reset();
    }
    bool WaitCount(std::size_t n) const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (rec.Count() < n) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    std::unique_ptr<xLog> log;
    std::unique_ptr<CVornSystem> sys;
    Recorder rec;
};

// The coordinator and the sending server member, up; the storing member not launched yet.
struct StoringBus {
    StoringBus() : coord(StoringLayout()), server(10, 1) {
        EXPECT_TRUE(coord.Start());
        EXPECT_TRUE(server.Launch(coord));
    }
    ~StoringBus() {
        b.Stop();
        server.Stop();
    }
    TempDir dir;
    oxa_test::FakeCoordinator coord;
    oxa_test::LiveMember server;
    StoringMember b;
};

TEST(AppMsgStorageLive, AMemberStoresWhatItDeliversAndAPlaybackLaunchReplaysItBeforeLiveTraffic) {
    StoringBus bus;
    const TempDir& dir = bus.dir;
    oxa_test::FakeCoordinator& coord = bus.coord;
    oxa_test::LiveMember& server = bus.server;
    StoringMember& b = bus.b;
    ASSERT_TRUE(server.Sys().Launched());
    std::atomic<int> appended{0}, refused{0};
    const uint8_t ext[3] = {'e', 'x', 't'};
    b.rec.hook = [&](const Replayed& r, const void* data) {
        if (r.playback) return;
        const bool stored = r.msg_id == static_cast<uint32_t>(kStored);
        if (stored && CountOf(r.data) % 10 != 0) return;
        if (AppendToLastMsg(*b.sys, static_cast<const uint8_t*>(data), ext, sizeof ext))
            ++appended;
        else if (!stored)
            ++refused;
    };
    ASSERT_TRUE(b.Launch(coord, dir.path(), 0));
    EXPECT_EQ(0u, b.rec.Count());
    for (int n = 0; n < 50; ++n) {
        ASSERT_EQ(1, server.Send(kStored, CountedBody(static_cast<uint64_t>(n), 24 + static_cast<std::size_t>(n)), 20, 2,
                                 true, n));
        if (n % 5 == 0) {
            ASSERT_EQ(1, server.Send(kNotStored, CountedBody(static_cast<uint64_t>(1000 + n), 24), 20, 2));
        }
    }
    ASSERT_TRUE(b.WaitCount(60));
    EXPECT_EQ(5, appended.load());  // 0, 10, ... 40
    EXPECT_EQ(10, refused.load());  // an id that is not stored is no last record
    const std::string list = dir.path() + "/vorn_data/list_020_002_20230217.txt";
    b.Stop();
    {
        Recorder rec;
        CStoragePlayback playback(ContextFor(rec));
        EXPECT_TRUE(ReplayListAt(playback, list));
        EXPECT_EQ(Iota(0, 50), RecordNumbers(rec.Got()));
    }

    b.rec.Clear();
    b.rec.hook = nullptr;
    ASSERT_TRUE(b.Launch(coord, dir.path(), 1));
    // the day is replayed on the launching thread, before the launch returns
    std::vector<Replayed> got = b.rec.Got();
    ASSERT_EQ(52u, got.size());
    EXPECT_EQ(0u, got.front().msg_id);
    EXPECT_EQ(-1, got.front().group);
    EXPECT_EQ(kPlaybackEndMsgId, got.back().msg_id);
    EXPECT_EQ(-1, got.back().partition);
    for (std::size_t i = 1; i + 1 < got.size(); ++i) {
        const int64_t n = static_cast<int64_t>(i - 1);
        EXPECT_EQ(n, CountOf(got[i].data));
        EXPECT_EQ(1u, got[i].playback);
        EXPECT_EQ(static_cast<uint32_t>(n), got[i].tag);
        EXPECT_EQ(static_cast<uint32_t>(kStored), got[i].msg_id);
        EXPECT_EQ(10, got[i].group);
        EXPECT_EQ(1, got[i].member);
        EXPECT_EQ(0, got[i].partition);  // the server member's, from the coordinator's table
        EXPECT_EQ(n % 10 == 0 ? std::vector<uint8_t>(ext, ext + 3) : std::vector<uint8_t>(), got[i].extra);
    }
    for (int n = 50; n < 55; ++n)
        ASSERT_EQ(1, server.Send(kStored, CountedBody(static_cast<uint64_t>(n), 24), 20, 2, true, n));
    ASSERT_TRUE(b.WaitCount(57));
    got = b.rec.Got();
    for (std::size_t i = 52; i < got.size(); ++i) {
        EXPECT_EQ(0u, got[i].playback);
        EXPECT_EQ(static_cast<int64_t>(i - 2), CountOf(got[i].data));
    }
    EXPECT_EQ(16u, Lines(list).size());  // the playback run's files follow the listed ones
}

TEST(AppMsgStorageLive, AMessageThatCannotBeStoredIsDeliveredAnyway) {
    StoringBus bus;
    const TempDir& dir = bus.dir;
    oxa_test::LiveMember& server = bus.server;
    StoringMember& b = bus.b;
    ASSERT_TRUE(server.Sys().Launched());
    ASSERT_TRUE(b.Launch(bus.coord, dir.path(), 0, 4096));
    // no file can be made from here on: the ring runs dry after its eight files
    std::filesystem::rename(dir.path() + "/vorn_data", dir.path() + "/moved");
    for (int n = 0; n < 60; ++n) {
        ASSERT_TRUE(oxa_test::WaitOutstanding(server.Sys(), 20, 2, 256, 5000ms));
        ASSERT_EQ(1, server.Send(kStored, CountedBody(static_cast<uint64_t>(n), 1000), 20, 2, true, n));
    }
    ASSERT_TRUE(b.WaitCount(60));
    std::vector<int64_t> numbers = RecordNumbers(b.rec.Got());
    EXPECT_EQ(Iota(0, 60), numbers);
    ASSERT_NE(nullptr, b.sys->Deliver());
    EXPECT_GT(b.sys->Deliver()->Storage().Lost(), 0u);
}

// A storing member fed by a live server, in a child process: every delivery reports its
// number after the record was stored (the append comes before the callback), across a
// file boundary.
[[noreturn]] void LiveKilledWriter(const std::string& dir, int progress_fd) {
    oxa_test::FakeCoordinator coord(StoringLayout());
    if (!coord.Start()) ::_exit(2);
    oxa_test::LiveMember server(10, 1);
    if (!server.Launch(coord)) ::_exit(3);
    StoringMember b;
    b.rec.hook = [progress_fd](const Replayed& r, const void*) {
        const int64_t n = CountOf(r.data);
        if (::write(progress_fd, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) ::_exit(5);
    };
    // files of 1 MiB: the run fits the files made at set-up, so no record waits for one
    if (!b.Launch(coord, dir, 0, 1024 * 1024)) ::_exit(4);
    for (int64_t n = 0;; ++n) {
        oxa_test::WaitOutstanding(server.Sys(), 20, 2, 256, 5000ms);
        while (server.Send(kStored, CountedBody(static_cast<uint64_t>(n), 24 + static_cast<std::size_t>(n % 1000)), 20,
                           2, true, static_cast<int32_t>(n)) != 1)
            std::this_thread::sleep_for(1ms);
    }
}

TEST(AppMsgStorageLive, AMemberKilledWhileStoringLeavesFilesThatReplayToItsLastWholeRecord) {
    oxa_test::BusTestDir();  // made here, so the child's logs go where this process removes them
    std::mt19937 rng(std::random_device{}());
    TempDir dir;
    const int64_t target = 1000 + static_cast<int64_t>(rng() % 2000);
    const int64_t last = KillWhileWriting([&](int fd) { LiveKilledWriter(dir.path(), fd); }, target, 60s);
    ASSERT_GE(last, target);
    const std::vector<Replayed> got = ReplayAfterKill(dir.path(), last);
    for (std::size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(24 + (i - 1) % 1000, got[i].data.size());
        EXPECT_EQ(10, got[i].group);
        EXPECT_EQ(1, got[i].member);
    }
}

}  // namespace
