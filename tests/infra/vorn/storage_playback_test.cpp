// The playback reader over storage files it must not trust: damaged records end a file (or,
// with an unknown source member, are skipped) without a read past the bytes; the start and
// end markers frame a list of files; list lines are read whole and bounded; each stored file
// is replayed once, however the list names it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "StorageTestFiles.h"
#include "infra/vorn/StoragePlayback.h"
#include "infra/vorn/VornWire.h"

using namespace OXA::VORN;
using namespace storage_test;
using oxa_test::CountOf;
using oxa_test::CountedBody;

namespace {

std::vector<uint8_t> StorageHeader() {
    VornHeader h;
    h.type = kPktStorageHeader;
    h.src_group_id = h.src_group_index = h.src_member_id = h.src_member_index = 0;
    h.dst_group_id = h.dst_member_id = 0;
    std::vector<uint8_t> out(kHeaderSize);
    EXPECT_EQ(kHeaderSize, BuildControl(out.data(), out.size(), h));
    return out;
}

// Record n: from member index n % 3, 16 + n bytes of data, sequence n, tag 1000 + n.
std::vector<uint8_t> Record(int n, int16_t msg_id = 0x200) {
    Source s;
    s.group = 10;
    s.member = static_cast<int16_t>(1 + n % 3);
    s.index = static_cast<int16_t>(n % 3);
    return Delivered(s, n, msg_id, 1000 + n, CountedBody(static_cast<uint64_t>(n), 16 + static_cast<std::size_t>(n)));
}

void Put16(std::vector<uint8_t>& f, std::size_t at, int v) {
    const uint16_t u = static_cast<uint16_t>(v);
    std::memcpy(f.data() + at, &u, 2);
}

std::vector<int64_t> Numbers(const std::vector<Replayed>& got) {
    std::vector<int64_t> out;
    for (const Replayed& r : got)
        if (!r.null_data) out.push_back(CountOf(r.data));  // markers carry no data
    return out;
}

struct DamageCase {
    const char* name;
    // file: header, records 1, 2, 3 and 64 zero bytes; b: offset of record 2, n: its length
    std::function<void(std::vector<uint8_t>& file, std::size_t b, std::size_t n)> damage;
    std::vector<int64_t> numbers;
    RecordsEnd end;
    std::size_t skipped;
};

TEST(StoragePlayback, DamagedRecordsEndTheFileWithoutReadingPastIt) {
    const std::vector<DamageCase> cases = {
        {"intact", [](std::vector<uint8_t>&, std::size_t, std::size_t) {}, {1, 2, 3}, RecordsEnd::kZeroFill, 0},
        {"version byte 0: a record a killed writer left unfinished",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { f[b] = 0; }, {1}, RecordsEnd::kZeroFill, 0},
        {"version 4", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { f[b] = 4; }, {1},
         RecordsEnd::kZeroFill, 0},
        {"message id 0 is a record, not the end",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 23, 0); }, {1, 2, 3},
         RecordsEnd::kZeroFill, 0},
        {"data length 1372", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 19, 1372); },
         {1}, RecordsEnd::kBadLength, 0},
        {"data length 0xFFFF", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 19, 0xFFFF); },
         {1}, RecordsEnd::kBadLength, 0},
        {"data length 1371 runs past the file",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 19, 1371); }, {1},
         RecordsEnd::kTruncated, 0},
        {"extra length -1", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 21, -1); }, {1},
         RecordsEnd::kBadExtra, 0},
        {"extra length 33", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 21, 33); }, {1},
         RecordsEnd::kBadExtra, 0},
        {"byte-order character 'x'",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { f[b + 1] = 'x'; }, {1}, RecordsEnd::kBadOrder, 0},
        {"type 3", [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { f[b + 6] = 3; }, {1},
         RecordsEnd::kBadType, 0},
        {"member index -1 is skipped",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 13, -1); }, {1, 3},
         RecordsEnd::kZeroFill, 1},
        {"member index past the table is skipped",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { Put16(f, b + 13, 4); }, {1, 3},
         RecordsEnd::kZeroFill, 1},
        {"file ends inside a header",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t) { f.resize(b + 10); }, {1}, RecordsEnd::kTruncated,
         0},
        {"file ends one byte short of a record",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t n) { f.resize(b + n - 1); }, {1},
         RecordsEnd::kTruncated, 0},
        {"file ends right after a record",
         [](std::vector<uint8_t>& f, std::size_t b, std::size_t n) { f.resize(b + n); }, {1, 2},
         RecordsEnd::kFileEnd, 0},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = StorageHeader();
        std::size_t b = 0, n = 0;
        for (int i = 1; i <= 3; ++i) {
            const std::vector<uint8_t> r = Record(i);
            if (i == 2) {
                b = file.size();
                n = r.size();
            }
            file.insert(file.end(), r.begin(), r.end());
        }
        file.resize(file.size() + 64, 0);
        c.damage(file, b, n);
        // exactly the bytes of the file, so a read past them is caught by the sanitizer
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[file.size()]);
        std::memcpy(bytes.get(), file.data(), file.size());

        Recorder rec;
        CStoragePlayback playback(ContextFor(rec, 4));
        const PlaybackFileResult r = playback.ReplayBytes(bytes.get(), file.size(), c.name);
        const std::vector<Replayed> got = rec.Got();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(0u, got[0].msg_id);  // the start marker of the type-11 header
        EXPECT_TRUE(got[0].null_data);
        EXPECT_EQ(1u, r.starts);
        EXPECT_EQ(c.numbers, Numbers(std::vector<Replayed>(got.begin() + 1, got.end())));
        EXPECT_EQ(c.end, r.end) << RecordsEndText(r.end);
        EXPECT_EQ(c.skipped, r.skipped);
        EXPECT_EQ(c.numbers.size(), r.records);
        std::size_t bytes_expected = 0;
        for (int64_t x : c.numbers) bytes_expected += Record(static_cast<int>(x)).size();
        EXPECT_EQ(bytes_expected, r.bytes);
        for (std::size_t i = 1; i < got.size(); ++i) {
            const int64_t x = CountOf(got[i].data);
            EXPECT_EQ(1u, got[i].playback);
            EXPECT_EQ(static_cast<uint32_t>(1000 + x), got[i].tag);
            EXPECT_EQ(10, got[i].group);
            EXPECT_EQ(1 + x % 3, got[i].member);
            EXPECT_EQ(100 + x % 3, got[i].partition);  // from the table, by member index
            EXPECT_TRUE(got[i].extra.empty());
        }
    }
}

TEST(StoragePlayback, ExtraBytesReachTheCallbackWithTheirRecord) {
    for (int extra : {1, 5, 32}) {
        SCOPED_TRACE(extra);
        std::vector<uint8_t> file;
        for (int i = 1; i <= 3; ++i) {
            std::vector<uint8_t> r = Record(i);
            if (i == 2) {
                Put16(r, 21, extra);
                for (int k = 0; k < extra; ++k) r.push_back(static_cast<uint8_t>(0xA0 + k));
            }
            file.insert(file.end(), r.begin(), r.end());
        }
        Recorder rec;
        CStoragePlayback playback(ContextFor(rec));
        const PlaybackFileResult r = playback.ReplayBytes(file.data(), file.size(), "extra");
        const std::vector<Replayed> got = rec.Got();
        ASSERT_EQ(3u, got.size());
        EXPECT_EQ((std::vector<int64_t>{1, 2, 3}), Numbers(got));
        ASSERT_EQ(static_cast<std::size_t>(extra), got[1].extra.size());
        for (int k = 0; k < extra; ++k) EXPECT_EQ(0xA0 + k, got[1].extra[static_cast<std::size_t>(k)]);
        EXPECT_TRUE(got[0].extra.empty());
        EXPECT_TRUE(got[2].extra.empty());
        EXPECT_EQ(file.size(), r.bytes);
        EXPECT_EQ(RecordsEnd::kFileEnd, r.end);
    }
}

TEST(StoragePlayback, ListOfTwoFilesIsFramedByStartAndEndMarkers) {
    TempDir dir;
    const std::string f1 = dir.path() + "/in_020_002_20230217_0001.dat";
    const std::string f2 = dir.path() + "/in_020_002_20230217_0002.dat";
    std::vector<uint8_t> one = StorageHeader();
    for (int i : {1, 2}) {
        const std::vector<uint8_t> r = Record(i);
        one.insert(one.end(), r.begin(), r.end());
    }
    one.resize(4096, 0);
    std::vector<uint8_t> two;
    for (int i : {3, 4, 5}) {
        const std::vector<uint8_t> r = Record(i);
        two.insert(two.end(), r.begin(), r.end());
    }
    two.resize(4096, 0);
    WriteAll(f1, one);
    WriteAll(f2, two);
    const std::string list = dir.path() + "/list.txt";
    {
        // the last line has no newline: it is read whole
        std::vector<uint8_t> text;
        const std::string t = f1 + "\n" + f2;
        text.assign(t.begin(), t.end());
        WriteAll(list, text);
    }
    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    int files = 0;
    EXPECT_TRUE(ReplayListAt(playback, list, &files));
    playback.Finish();
    EXPECT_EQ(2, files);
    const std::vector<Replayed> got = rec.Got();
    ASSERT_EQ(7u, got.size());
    EXPECT_EQ(0u, got.front().msg_id);
    EXPECT_EQ(kPlaybackEndMsgId, got.back().msg_id);
    for (const Replayed* m : {&got.front(), &got.back()}) {
        EXPECT_TRUE(m->null_data);
        EXPECT_EQ(0u, m->tag);
        EXPECT_EQ(1u, m->playback);
        EXPECT_EQ(-1, m->group);
        EXPECT_EQ(-1, m->member);
        EXPECT_EQ(-1, m->partition);
    }
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5}), Numbers(std::vector<Replayed>(got.begin() + 1, got.end() - 1)));
    EXPECT_EQ(1u, playback.StartMarkers());
    EXPECT_EQ(5u, playback.Records());
}

TEST(StoragePlayback, EmptyListGivesOneStartAndTheEndMarker) {
    TempDir dir;
    const std::string list = dir.path() + "/list.txt";
    WriteAll(list, {});
    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    int files = -1;
    EXPECT_TRUE(ReplayListAt(playback, list, &files));
    playback.Finish();
    EXPECT_EQ(0, files);
    const std::vector<Replayed> got = rec.Got();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(0u, got[0].msg_id);
    EXPECT_EQ(kPlaybackEndMsgId, got[1].msg_id);
}

TEST(StoragePlayback, ListLinesAreBoundedAndReadWhole) {
    TempDir dir;
    std::vector<uint8_t> file;
    const std::vector<uint8_t> r = Record(7);
    file.insert(file.end(), r.begin(), r.end());
    file.resize(256, 0);
    // a path of exactly 255 characters, and one of 256
    auto path_of = [&](std::size_t total) {
        std::string p = dir.path() + "/in_";
        p += std::string(total - p.size() - 4, 'x') + ".dat";
        EXPECT_EQ(total, p.size());
        return p;
    };
    const std::string p255 = path_of(255);
    WriteAll(p255, file);
    const std::string empty = dir.path() + "/in_020_002_20230217_0009.dat";
    WriteAll(empty, {});
    const std::string valid = dir.path() + "/in_020_002_20230217_0001.dat";
    WriteAll(valid, file);
    ASSERT_TRUE(std::filesystem::create_directory(dir.path() + "/in_020_002_20230217_dir.dat"));
    struct Case {
        const char* name;
        std::string text;
        bool ok;
        int files;
        std::size_t records;
    };
    const std::vector<Case> cases = {
        {"a path of 255 characters", p255 + "\n", true, 1, 1},
        {"a path of 255 characters without newline", p255, true, 1, 1},
        {"a line of 256 characters is skipped", path_of(256) + "\n" + valid + "\n", true, 2, 1},
        {"a line of 5000 characters is skipped", std::string(5000, 'y') + "\n" + valid + "\n", true, 2, 1},
        {"a line under 28 characters is skipped", "short/in_1.dat\n" + valid + "\n", true, 2, 1},
        {"an empty line is skipped", "\n" + valid + "\n", true, 2, 1},
        {"a folder is skipped", dir.path() + "/in_020_002_20230217_dir.dat\n" + valid + "\n", true, 2, 1},
        {"an empty file is no record", empty + "\n" + valid + "\n", true, 2, 1},
        {"a missing file fails the replay", dir.path() + "/in_020_002_20230217_0404.dat\n" + valid, false, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string list = dir.path() + "/list.txt";
        WriteAll(list, std::vector<uint8_t>(c.text.begin(), c.text.end()));
        Recorder rec;
        CStoragePlayback playback(ContextFor(rec));
        int files = -1;
        EXPECT_EQ(c.ok, ReplayListAt(playback, list, &files));
        EXPECT_EQ(c.files, files);
        EXPECT_EQ(c.records, playback.Records());
        for (const Replayed& g : rec.Got()) EXPECT_EQ(7, CountOf(g.data));
    }
}

// A list that names one stored file twice, or the same file by another path, replays it once.
TEST(StoragePlayback, EachStoredFileIsReplayedOnce) {
    TempDir dir;
    const std::string f1 = dir.path() + "/in_020_002_20230217_0001.dat";
    const std::string f2 = dir.path() + "/in_020_002_20230217_0002.dat";
    auto file_of = [](std::initializer_list<int> records) {
        std::vector<uint8_t> f;
        for (int i : records) {
            const std::vector<uint8_t> r = Record(i);
            f.insert(f.end(), r.begin(), r.end());
        }
        f.resize(1024, 0);
        return f;
    };
    WriteAll(f1, file_of({1, 2}));
    WriteAll(f2, file_of({3}));
    const std::string linked = dir.path() + "/in_020_002_20230217_link.dat";
    const std::string hard = dir.path() + "/in_020_002_20230217_hard.dat";
    std::filesystem::create_symlink(f1, linked);
    std::filesystem::create_hard_link(f1, hard);
    struct Case {
        const char* name;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"the same line twice", {f1, f1, f2}},
        {"the same file by two paths", {f1, dir.path() + "/./in_020_002_20230217_0001.dat", f2}},
        {"a path through the parent", {f1, f2, dir.path() + "/../" + std::filesystem::path(dir.path()).filename().string() +
                                                   "/in_020_002_20230217_0001.dat"}},
        {"a symbolic link to a listed file", {linked, f1, f2}},
        {"a hard link to a listed file", {f1, hard, f2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        for (const std::string& l : c.lines) text += l + "\n";
        const std::string list = dir.path() + "/list.txt";
        WriteAll(list, std::vector<uint8_t>(text.begin(), text.end()));
        Recorder rec;
        CStoragePlayback playback(ContextFor(rec));
        int files = -1;
        EXPECT_TRUE(ReplayListAt(playback, list, &files));
        playback.Finish();
        EXPECT_EQ(3, files) << "every line counts";
        EXPECT_EQ((std::vector<int64_t>{1, 2, 3}), Numbers(rec.Got())) << "each record once, in list order";
        EXPECT_EQ(3u, playback.Records());
    }
    PlaybackFileResult first, again;
    Recorder rec;
    CStoragePlayback playback(ContextFor(rec));
    ASSERT_TRUE(playback.ReplayFile(f1.c_str(), &first));
    ASSERT_TRUE(playback.ReplayFile(hard.c_str(), &again));
    EXPECT_FALSE(first.repeated);
    EXPECT_EQ(2u, first.records);
    EXPECT_TRUE(again.repeated);
    EXPECT_EQ(0u, again.records);
}

void Throwing(uint32_t, uint32_t, const void*, uint32_t, uint64_t, const VornMsgSource* source) {
    ++*static_cast<int*>(source->user_data);
    throw std::runtime_error("user code");
}

TEST(StoragePlayback, ACallbackThatThrowsDoesNotEndThePlayback) {
    std::vector<uint8_t> file = StorageHeader();
    for (int i = 1; i <= 3; ++i) {
        const std::vector<uint8_t> r = Record(i);
        file.insert(file.end(), r.begin(), r.end());
    }
    int calls = 0;
    PlaybackContext c;
    c.callback = &Throwing;
    c.user_data = &calls;
    c.partitions = {0, 0, 0};
    CStoragePlayback playback(c);
    EXPECT_EQ(3u, playback.ReplayBytes(file.data(), file.size(), "throwing").records);
    playback.Finish();
    EXPECT_EQ(5, calls);  // start, three records, end
}

}  // namespace
