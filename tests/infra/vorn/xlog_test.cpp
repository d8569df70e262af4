#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "infra/vorn/xLog.h"

using OXA::VORN::xLog;
using OXA::VORN::xLogFormatPieces;

namespace {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& leaf = "") {
        char pattern[] = "/tmp/xlog_test_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_root = made ? made : "";
        m_path = leaf.empty() ? m_root : m_root + "/" + leaf;
    }
    ~TempDir() { RemoveTree(m_root); }
    const std::string& path() const { return m_path; }
    const std::string& root() const { return m_root; }

    static void RemoveTree(const std::string& dir) {
        if (dir.empty()) return;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                const std::string full = dir + "/" + name;
                struct stat st;
                if (::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(full);
                else ::unlink(full.c_str());
            }
            ::closedir(d);
        }
        ::rmdir(dir.c_str());
    }

private:
    std::string m_root;
    std::string m_path;
};

std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(ReadFile(path));
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The message part of a log line (after "[Y/M/D hh:mm:ss] ").
std::string Message(const std::string& line) {
    const size_t p = line.find("] ");
    return p == std::string::npos ? line : line.substr(p + 2);
}

// Waits until the file holds at least n lines.
bool WaitLines(const std::string& path, size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Lines(path).size() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

int TodayNumber(time_t t) {
    struct tm tm;
    localtime_r(&t, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

std::atomic<time_t> g_now{0};
time_t FakeNow() { return g_now.load(); }

time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// An asynchronous logger in a temporary folder with a small ring.
struct AsyncLog {
    explicit AsyncLog(const std::string& folder, int slots = 64) {
        log.SetFolder(folder.c_str());
        log.SetEcho(0);
        log.SetAsync();
        log.SetSlotCount(slots);
    }
    xLog log;
};

uint64_t Bits(double d) {
    uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    return v;
}
uint64_t Ptr(const char* s) { return reinterpret_cast<uintptr_t>(s); }

}  // namespace

// ---- piecewise formatting ------------------------------------------------------------------

struct PieceCase {
    const char* name;
    const char* format;
    std::vector<char> types;
    std::vector<uint64_t> values;
    const char* expected;
};

TEST(xLogFormat, PiecesTable) {
    static const char* kLong = "abcdef";
    const std::vector<PieceCase> cases = {
        {"one int", "n=%d.", {'0'}, {5}, "n=5."},
        {"doubled sign before the conversion", "50%% of %d", {'0'}, {7}, "50% of 7"},
        {"doubled sign after the conversion opens a piece without argument", "%d%%", {'0'}, {7}, "7"},
        {"three conversions, two arguments", "a %d b %d c %d end", {'0', '0'}, {1, 2}, "a 1 b 2 c "},
        {"string", "[%s]", {'2'}, {Ptr("text")}, "[text]"},
        {"null string", "[%s]", {'2'}, {0}, "[(null)]"},
        {"precision on a string", "%.3s", {'2'}, {Ptr(kLong)}, "abc"},
        {"integer for %s", "%s!", {'0'}, {42}, "42!"},
        {"double for %s", "%s", {'1'}, {Bits(2.5)}, "2.5"},
        {"double for %d", "%d", {'1'}, {Bits(2.9)}, "2"},
        {"integer for %f", "%.2f", {'0'}, {3}, "3.00"},
        {"width and flags", "%-4d|%05d", {'0', '0'}, {7, 42}, "7   |00042"},
        {"%d takes an int", "%d", {'0'}, {static_cast<uint64_t>(1) << 40}, "0"},
        {"%lld takes 64 bits", "%lld", {'0'}, {static_cast<uint64_t>(1) << 40}, "1099511627776"},
        {"%hd takes a short", "%hd", {'0'}, {70000}, "4464"},
        {"%x of -1", "%x", {'0'}, {static_cast<uint64_t>(-1)}, "ffffffff"},
        {"alternate hex", "%#x", {'0'}, {0x1f}, "0x1f"},
        {"message id shape", "MsgId < %#x >.", {'0'}, {0x502}, "MsgId < 0x502 >."},
        {"character", "chief = %c.", {'0'}, {'Y'}, "chief = Y."},
        {"%n is never executed", "a%nb", {'0'}, {0}, "ab"},
        {"star width is dropped", "[%*d]", {'0'}, {5}, "[5]"},
        {"not a conversion", "%y", {'0'}, {1}, "%y"},
        {"no arguments: printed unchanged", "100%% %d", {}, {}, "100%% %d"},
        {"mixed", "g.%d m.%d %s %.1f", {'0', '0', '2', '1'}, {1, 2, Ptr("x"), Bits(0.25)}, "g.1 m.2 x 0.2"},
    };
    for (const PieceCase& c : cases) {
        char out[256];
        xLogFormatPieces(out, sizeof out, c.format, c.types.data(), c.values.data(), static_cast<int>(c.types.size()));
        EXPECT_STREQ(c.expected, out) << c.name;
    }
}

TEST(xLogFormat, OutputIsCutAtItsBuffer) {
    const char types[] = {'2'};
    const std::string big(500, 'z');
    const uint64_t values[] = {Ptr(big.c_str())};
    char out[32];
    std::memset(out, 'x', sizeof out);
    const size_t n = xLogFormatPieces(out, sizeof out, "head %s tail", types, values, 1);
    EXPECT_EQ(31u, n);
    EXPECT_EQ(0, out[31]);
    EXPECT_EQ("head zzzz", std::string(out, 9));
}

// ---- the asynchronous writer --------------------------------------------------------------

TEST(xLog, WritesQueuedLinesInOrderIntoTodaysFile) {
    TempDir dir;
    const int today = TodayNumber(std::time(nullptr));
    {
        AsyncLog a(dir.path());
        ASSERT_TRUE(a.log.Init());
        EXPECT_EQ(dir.path() + "/" + std::to_string(today) + "_0.log", a.log.CurrentPath());
        for (int i = 0; i < 20; ++i) a.log.Out(1, "Line %d of %s.", i, "twenty");
        ASSERT_TRUE(WaitLines(a.log.CurrentPath(), 21));
    }
    const auto lines = Lines(dir.path() + "/" + std::to_string(today) + "_0.log");
    ASSERT_EQ(21u, lines.size());
    EXPECT_EQ("xLog Ver: 1.1.2022.0618 CacheSize=1024 QueueSize=64", Message(lines[0]));
    const std::regex prefix(R"(^\[\d{4}/\d{1,2}/\d{1,2} \d\d:\d\d:\d\d\] .*)");
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(std::regex_match(lines[1 + i], prefix)) << lines[1 + i];
        EXPECT_EQ("Line " + std::to_string(i) + " of twenty.", Message(lines[1 + i]));
    }
}

TEST(xLog, TaggedPrintAndLevels) {
    TempDir dir;
    AsyncLog a(dir.path());
    ASSERT_TRUE(a.log.Init());
    a.log.Print(1, "a=%d b=%s c=%.1f d=%s", OXA::VORN::XLOG_INT64, 5LL, OXA::VORN::XLOG_STRING, "str",
                OXA::VORN::XLOG_DOUBLE, 2.5, OXA::VORN::XLOG_STRING_REF, "lit", OXA::VORN::XLOG_END);
    a.log.Print(1, "stops at %d then %d", OXA::VORN::XLOG_INT64, 1LL, 0x12345, 2LL);  // unknown tag ends the list
    a.log.Out(2, "above the level");
    a.log.Out(1, "last");
    ASSERT_TRUE(WaitLines(a.log.CurrentPath(), 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto lines = Lines(a.log.CurrentPath());
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("a=5 b=str c=2.5 d=lit", Message(lines[1]));
    EXPECT_EQ("stops at 1 then ", Message(lines[2]));
    EXPECT_EQ("last", Message(lines[3]));
}

TEST(xLog, LevelZeroWritesNoBusMessage) {
    TempDir dir;
    AsyncLog a(dir.path());
    a.log.SetLevel(0);
    ASSERT_TRUE(a.log.Init());
    a.log.Out(1, "bus message");
    a.log.Log(1, 0, "sync bus message");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::string text = ReadFile(a.log.CurrentPath());
    EXPECT_EQ(std::string::npos, text.find("bus message"));
}

TEST(xLog, LongStringIsCutToTheSlot) {
    TempDir dir;
    AsyncLog a(dir.path());
    ASSERT_TRUE(a.log.Init());
    const std::string big(2000, 'q');
    a.log.Out(1, "[%s][%s]", big, "second");
    ASSERT_TRUE(WaitLines(a.log.CurrentPath(), 2));
    const std::string msg = Message(Lines(a.log.CurrentPath())[1]);
    const size_t q = std::count(msg.begin(), msg.end(), 'q');
    EXPECT_GT(q, 500u);
    EXPECT_LT(q, 1024u);  // no more than one slot holds
    EXPECT_EQ('[', msg[0]);
    // the first string filled the area; the second points at the slot's blank
    EXPECT_EQ("][ ]", msg.substr(1 + q));
}

// The writer is held inside the raw-record formatter while the ring fills: in the default
// mode the producer drops what does not fit instead of waiting.
std::atomic<bool> g_release{false};
std::atomic<bool> g_entered{false};
int BlockingFormatter(char* out, int cap, int value, const void*, int) {
    g_entered = true;
    for (int i = 0; i < 10000 && !g_release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return std::snprintf(out, static_cast<size_t>(cap), "raw %d", value);
}

TEST(xLog, FullRingDropsInsteadOfWaiting) {
    TempDir dir;
    AsyncLog a(dir.path(), 4);
    a.log.SetRawFormatter(&BlockingFormatter);
    ASSERT_TRUE(a.log.Init());
    g_release = false;
    g_entered = false;
    a.log.PrintRaw(9, "x", 1);
    for (int i = 0; i < 1000 && !g_entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(g_entered.load());
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) a.log.Out(1, "msg %d", i);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));  // nobody waited
    g_release = true;
    ASSERT_TRUE(WaitLines(a.log.CurrentPath(), 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto lines = Lines(a.log.CurrentPath());
    ASSERT_EQ(5u, lines.size());  // version, the raw record, the three slots left
    EXPECT_EQ("raw 9", Message(lines[1]));
    EXPECT_EQ("msg 0", Message(lines[2]));
    EXPECT_EQ("msg 2", Message(lines[4]));
}

TEST(xLog, BlockingModeLosesNothingUnderManyProducers) {
    TempDir dir;
    AsyncLog a(dir.path(), 8);
    a.log.SetProducerMode(2);
    ASSERT_TRUE(a.log.Init());
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&a, t] {
            for (int i = 0; i < kEach; ++i) a.log.Out(1, "t%d n%d", t, i);
        });
    for (auto& th : threads) th.join();
    ASSERT_TRUE(WaitLines(a.log.CurrentPath(), 1 + kThreads * kEach));
    int next[kThreads] = {0, 0, 0, 0};
    const auto lines = Lines(a.log.CurrentPath());
    ASSERT_EQ(static_cast<size_t>(1 + kThreads * kEach), lines.size());
    for (size_t i = 1; i < lines.size(); ++i) {
        int t = -1, n = -1;
        ASSERT_EQ(2, std::sscanf(Message(lines[i]).c_str(), "t%d n%d", &t, &n)) << lines[i];
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(next[t], n);  // each producer's lines once and in order
        next[t] = n + 1;
    }
}

TEST(xLog, StopWritesEverythingPublished) {
    TempDir dir;
    std::string path;
    {
        AsyncLog a(dir.path(), 256);
        ASSERT_TRUE(a.log.Init());
        path = a.log.CurrentPath();
        for (int i = 0; i < 200; ++i) a.log.Out(1, "m%d", i);
    }  // destroyed at once
    EXPECT_EQ(201u, Lines(path).size());
}

// Started again after a stop, the logger takes up its ring where it left it: no second ring
// (the leak check of the sanitizer build sees one), and every line of every run is written.
TEST(xLog, InitAfterStopReusesTheRingAndWritesOn) {
    TempDir dir;
    AsyncLog a(dir.path(), 16);
    std::string path;
    for (int run = 0; run < 3; ++run) {
        ASSERT_TRUE(a.log.Init()) << "run " << run;
        if (run == 0) path = a.log.CurrentPath();
        for (int i = 0; i < 10; ++i) a.log.Out(1, "run %d line %d", run, i);
        a.log.Stop();
        a.log.Out(1, "after the stop: dropped");
    }
    std::vector<std::string> messages;
    for (const std::string& l : Lines(path)) messages.push_back(Message(l));
    std::vector<std::string> expected;
    for (int run = 0; run < 3; ++run) {
        expected.push_back("xLog Ver: 1.1.2022.0618 CacheSize=1024 QueueSize=16");
        for (int i = 0; i < 10; ++i) expected.push_back("run " + std::to_string(run) + " line " + std::to_string(i));
    }
    EXPECT_EQ(expected, messages);
}

// ---- files ----------------------------------------------------------------------------------

TEST(xLog, EachStartOfTheDayTakesTheNextNumber) {
    TempDir dir;
    const int today = TodayNumber(std::time(nullptr));
    { std::ofstream(dir.path() + "/" + std::to_string(today) + "_7.log") << "old\n"; }
    for (int expected : {8, 9}) {
        AsyncLog a(dir.path());
        ASSERT_TRUE(a.log.Init());
        EXPECT_EQ(dir.path() + "/" + std::to_string(today) + "_" + std::to_string(expected) + ".log",
                  a.log.CurrentPath());
    }
    // a prefix names the files too
    xLog named;
    named.SetFolder(dir.path().c_str());
    named.SetEcho(0);
    ASSERT_TRUE(named.Open("bus_"));
    EXPECT_EQ(dir.path() + "/bus_" + std::to_string(today) + "_0.log", named.CurrentPath());
    EXPECT_FALSE(named.Open());  // one is open already
}

TEST(xLog, SizeLimitOpensTheNextFileForTheNextLine) {
    TempDir dir;
    AsyncLog a(dir.path());
    a.log.SetMaxFileBytes(200);
    ASSERT_TRUE(a.log.Init());
    const std::string first = a.log.CurrentPath();
    const std::string filler(200, 'f');
    a.log.Out(1, "%s", filler);  // passes 200 bytes
    a.log.Out(1, "next");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (a.log.CurrentPath() == first && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string second = a.log.CurrentPath();
    ASSERT_NE(first, second);
    EXPECT_EQ(first.substr(0, first.size() - 6) + "_1.log", second);
    ASSERT_TRUE(WaitLines(second, 1));
    EXPECT_EQ("next", Message(Lines(second)[0]));
    EXPECT_EQ(2u, Lines(first).size());
}

TEST(xLog, MidnightOpensTheNewDaysFile) {
    TempDir dir;
    g_now = LocalTime(2023, 2, 17, 23, 59, 58);
    AsyncLog a(dir.path());
    a.log.SetTimeSource(&FakeNow);
    ASSERT_TRUE(a.log.Init());
    EXPECT_EQ(dir.path() + "/20230217_0.log", a.log.CurrentPath());
    a.log.Out(1, "before");
    ASSERT_TRUE(WaitLines(dir.path() + "/20230217_0.log", 2));
    g_now = LocalTime(2023, 2, 18, 0, 0, 1);
    a.log.Out(1, "after");
    ASSERT_TRUE(WaitLines(dir.path() + "/20230218_0.log", 1));
    const auto lines = Lines(dir.path() + "/20230218_0.log");
    EXPECT_EQ("[2023/2/18 00:00:01] after", lines[0]);
    EXPECT_EQ("[2023/2/17 23:59:58] before", Lines(dir.path() + "/20230217_0.log")[1]);
}

TEST(xLog, OldFilesAreRemovedByNameAndDate) {
    // a folder name a shell would misread: the files are unlinked by full path
    TempDir dir("logs; touch pwned");
    ASSERT_EQ(0, ::mkdir(dir.path().c_str(), 0755));
    for (const char* name : {"20230210_3.log", "20230210_x.log", "notes.log", "20230212_1.log", "20230213_0.log",
                             "20230217_2.log", "2023021_1.log", "20230201_1.txt"})
        std::ofstream(dir.path() + "/" + name) << "x\n";
    ASSERT_EQ(0, ::mkdir((dir.path() + "/20230101_1.log").c_str(), 0755));  // not a regular file
    xLog log;
    log.SetFolder(dir.path().c_str());
    log.SetKeepDays(5);
    EXPECT_EQ(2, log.RemoveOldFiles(20230217));
    const std::vector<std::string> left = {"20230101_1.log", "20230201_1.txt", "20230210_x.log", "20230213_0.log",
                                           "20230217_2.log", "2023021_1.log", "notes.log"};
    EXPECT_EQ(left, Files(dir.path()));
    EXPECT_EQ(std::vector<std::string>{"logs; touch pwned"}, Files(dir.root()));
}

TEST(xLog, PathsThatDoNotFitFailInsteadOfBeingCut) {
    TempDir dir;
    // the folder fits its field, but folder + "/YYYYMMDD_0.log" passes 255 characters
    const std::string deep = dir.path() + "/" + std::string(250 - dir.path().size(), 'd');
    AsyncLog a(deep);
    EXPECT_FALSE(a.log.Init());
    EXPECT_EQ("", a.log.CurrentPath());
    EXPECT_TRUE(Files(deep).empty());  // nothing written under a shortened name

    xLog b;
    EXPECT_FALSE(b.SetFolder(std::string(4096, 'x').c_str()));
    EXPECT_FALSE(b.SetFolder(nullptr));
}

TEST(xLog, SynchronousModeWritesOnlyThroughLog) {
    TempDir dir;
    xLog log;
    log.SetFolder(dir.path().c_str());
    log.SetEcho(0);
    ASSERT_TRUE(log.Init());
    log.Out(1, "queued %d", 1);  // no ring in synchronous mode
    log.Log(1, 0, "direct %d", 2);
    const auto lines = Lines(log.CurrentPath());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Log Ver: 1.1.2022.0618", Message(lines[0]));
    EXPECT_EQ("direct 2", Message(lines[1]));
}
