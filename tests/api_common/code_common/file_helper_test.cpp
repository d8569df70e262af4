// File functions and the structural UTF-8 check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include "GuardedBuffer.h"
#include "api_common/code_common/FileHelper.h"
#include "data/TestFiles.h"
#include "support/TestApi.h"

using OXA::API::FileHelper;
using OXA::API::IsValidUtf8;
using OXA::API::Utf8LeadByteLength;

namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = oxa_test::TestLogDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::vector<std::string> Lines(const std::string& path, bool trim, char delimiter) {
    std::list<std::string> lines = {"kept"};
    EXPECT_EQ(FileHelper::thReadFileByLine(lines, path.c_str(), trim, delimiter, nullptr), 0);
    return std::vector<std::string>(lines.begin(), lines.end());
}

TEST(FileHelperLines, SplitsAtTheDelimiterWithAndWithoutTrim) {
    const std::string path = WriteFile("lines.txt", "a\r\n  b  \n\n");
    EXPECT_EQ(Lines(path, true, '\n'), (std::vector<std::string>{"kept", "a", "b", ""}));
    EXPECT_EQ(Lines(path, false, '\n'), (std::vector<std::string>{"kept", "a\r", "  b  ", ""}));

    const std::string no_end = WriteFile("no_end.txt", "x;y; \t;z");
    EXPECT_EQ(Lines(no_end, true, ';'), (std::vector<std::string>{"kept", "x", "y", "", "z"}));
    EXPECT_EQ(Lines(WriteFile("empty.txt", ""), true, '\n'), (std::vector<std::string>{"kept"}));
}

TEST(FileHelperLines, AMissingFileAndAStoppingCallback) {
    const char* error = "untouched";
    const std::string missing = oxa_test::TestLogDir() + "/missing.txt";
    EXPECT_EQ(FileHelper::thForEachLine([](const std::string&) { return 0; }, missing.c_str(), true, '\n', &error),
              FileHelper::kFileNotExists);
    EXPECT_STREQ(error, "__ERRNO_FILE_NOT_EXISTS__");
    EXPECT_EQ(FileHelper::thForEachLine([](const std::string&) { return 0; }, missing.c_str(), true, '\n', nullptr),
              -19283);
    EXPECT_EQ(FileHelper::thForEachLine([](const std::string&) { return 0; }, nullptr, true, '\n', nullptr), -19283);

    const std::string path = WriteFile("three.txt", "1\n2\n3\n");
    std::vector<std::string> seen;
    const int result = FileHelper::thForEachLine(
        [&](const std::string& line) {
            seen.push_back(line);
            return seen.size() == 2 ? 5 : 0;
        },
        path.c_str(), false, '\n', nullptr);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2"}));
}

TEST(FileHelperFiles, WholeFileReadAndSizes) {
    const std::string bytes("\0\x01zz\xff\n", 6);
    const std::string path = WriteFile("whole.bin", bytes);
    std::string text = "old";
    EXPECT_EQ(FileHelper::readWholeFile(path.c_str(), text), 0);
    EXPECT_EQ(text, bytes);
    EXPECT_EQ(FileHelper::getFileSize(path.c_str()), 6);

    text = "old";
    EXPECT_EQ(FileHelper::readWholeFile(WriteFile("empty.bin", "").c_str(), text), 0);
    EXPECT_EQ(text, "");

    // a directory opens but cannot be read: no text sized from a bogus position
    text = "old";
    EXPECT_EQ(FileHelper::readWholeFile(oxa_test::TestLogDir().c_str(), text), FileHelper::kFileReadFailed);
    EXPECT_EQ(text, "old");
    EXPECT_EQ(FileHelper::readWholeFile((path + ".missing").c_str(), text), 77);
    EXPECT_EQ(text, "old");
    EXPECT_EQ(FileHelper::getFileSize(oxa_test::TestLogDir().c_str()), 0);
    EXPECT_EQ(FileHelper::getFileSize((path + ".missing").c_str()), 0);

    // sizes past 4 GiB (a sparse file takes no space)
    const std::string big = oxa_test::TestLogDir() + "/sparse.bin";
    const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = (off_t{5} << 30) + 3;
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    EXPECT_EQ(FileHelper::getFileSize(big.c_str()), static_cast<std::int64_t>(size));
    FileHelper::removeFile(big.c_str());
}

TEST(FileHelperFiles, DirectoriesExistenceAndRemoval) {
    const oxa_test::ScratchDir scratch;  // a folder of its own, so a repeated run starts afresh
    const std::string dir = scratch.Path("made");
    EXPECT_FALSE(FileHelper::isDirectory(dir.c_str()));
    EXPECT_EQ(FileHelper::makeDirIfMissing(dir.c_str()), 0);
    EXPECT_TRUE(FileHelper::isDirectory(dir.c_str()));
    EXPECT_EQ(FileHelper::makeDirIfMissing(dir.c_str()), 0) << "an existing directory is not made again";
    EXPECT_EQ(FileHelper::makeDir(dir.c_str()), -1);
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0775u & ~static_cast<unsigned>(mask));

    const std::string file = WriteFile("exists.txt", "x");
    EXPECT_TRUE(FileHelper::fileExists(file.c_str()));
    EXPECT_FALSE(FileHelper::isDirectory(file.c_str()));
    EXPECT_EQ(FileHelper::makeDirIfMissing(file.c_str()), -1);
    EXPECT_TRUE(FileHelper::removeFile(file.c_str()));
    EXPECT_FALSE(FileHelper::fileExists(file.c_str()));
    EXPECT_FALSE(FileHelper::removeFile(file.c_str()));
    EXPECT_FALSE(FileHelper::fileExists(nullptr));
    EXPECT_FALSE(FileHelper::isDirectory(nullptr));

    // a socket's mode also has the 0x4000 bit set; it is not a directory
    const std::string sock_path = scratch.Path("s.sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sock_path.c_str(), sock_path.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::stat(sock_path.c_str(), &st), 0);
    ASSERT_NE(st.st_mode & 0x4000, 0u);
    EXPECT_FALSE(FileHelper::isDirectory(sock_path.c_str()));
    ::close(sock);
}

TEST(Utf8Check, StructuralTable) {
    struct Row {
        std::string bytes;
        bool valid;
    } rows[] = {
        {"", true},
        {"A\xC3\xA9", true},
        {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xED\xA0\x80", true},           // a surrogate: not examined
        {"\xC0\x80", true},               // overlong: not examined
        {"\xFF\x80\x80\x80\x80\x80\x80\x80", true},  // eight leading ones: seven continuations
        {"\x80", false},
        {"\xC3" "A", false},
        {"\xE2\x82", false},
        {"\xFF\x80\x80\x80\x80\x80\x80", false},
        {"a\xF0\x9F\x98", false},
        {std::string("\0\x7f", 2), true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsValidUtf8(row.bytes.data(), static_cast<int>(row.bytes.size())), row.valid) << row.bytes;
    }
    EXPECT_TRUE(IsValidUtf8("\x80", 0));
    EXPECT_TRUE(IsValidUtf8("\x80", -5));
    EXPECT_TRUE(IsValidUtf8("A\x80", 1)) << "only length bytes count";
}

TEST(Utf8Check, NeverReadsPastTheLength) {
    oxa_test::GuardedBuffer buffer;
    const std::string tails[] = {"\xE2\x82", "\xF0", "ok\xC3", "\xFF\x80\x80", "ab"};
    for (const auto& tail : tails)
        EXPECT_EQ(IsValidUtf8(buffer.Place(tail), static_cast<int>(tail.size())), tail == "ab") << tail;
}

TEST(Utf8Check, LeadByteLength) {
    struct Row {
        unsigned char byte;
        int length;
    } rows[] = {{0x41, 0}, {0x7F, 0}, {0x80, 1}, {0xBF, 1}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4},
                {0xF8, 5}, {0xFC, 6}, {0xFE, 7}, {0xFF, 8}};
    for (const auto& row : rows) EXPECT_EQ(Utf8LeadByteLength(row.byte), row.length) << int(row.byte);
}

}  // namespace
