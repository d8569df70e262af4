#include "api_common/code_common/FileHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace OXA {
namespace API {

namespace {

constexpr std::size_t kLineBufferReserve = 2 * 1024 * 1024;
constexpr const char* kLineTrimSet = " \n\r\t";
constexpr std::size_t kReadChunk = 64 * 1024;

std::string& LineBuffer() {
    thread_local std::string line;
    if (line.capacity() < kLineBufferReserve) line.reserve(kLineBufferReserve);
    return line;
}

void TrimLine(std::string& line) {
    const std::size_t first = line.find_first_not_of(kLineTrimSet);
    if (first == std::string::npos) {
        line.clear();
        return;
    }
    line.erase(line.find_last_not_of(kLineTrimSet) + 1);
    line.erase(0, first);
}

}  // namespace

int FileHelper::thForEachLine(const std::function<int(const std::string&)>& onLine, const char* path, bool trim,
                              char delimiter, const char** error) {
    std::ifstream in;
    if (path != nullptr) in.open(path, std::ios::in | std::ios::binary);
    if (!in.is_open() || !in.good()) {
        if (error != nullptr) *error = kFileNotExistsText;
        return kFileNotExists;
    }
    std::string& line = LineBuffer();
    while (std::getline(in, line, delimiter)) {
        if (trim) TrimLine(line);
        const int result = onLine(line);
        if (result != 0) return result;
    }
    return 0;
}

int FileHelper::thReadFileByLine(std::list<std::string>& lines, const char* path, bool trim, char delimiter,
                                 const char** error) {
    return thForEachLine(
        [&lines](const std::string& line) {
            lines.push_back(line);
            return 0;
        },
        path, trim, delimiter, error);
}

bool FileHelper::fileExists(const char* path) {
    if (path == nullptr) return false;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    return in.good();
}

bool FileHelper::isDirectory(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int FileHelper::makeDirIfMissing(const char* path) {
    if (isDirectory(path)) return 0;
    return makeDir(path);
}

int FileHelper::makeDir(const char* path) {
    if (path == nullptr) return -1;
    return ::mkdir(path, 0775);
}

bool FileHelper::removeFile(const char* path) { return path != nullptr && std::remove(path) == 0; }

std::int64_t FileHelper::getFileSize(const char* path) {
    if (path == nullptr) return 0;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular ? static_cast<std::int64_t>(st.st_size) : 0;
}

// Reads to the end rather than trusting a size taken up front: a directory opens but cannot be
// read, and a file may change size while it is read.
int FileHelper::readWholeFile(const char* path, std::string& text) {
    if (path == nullptr) return kFileReadFailed;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kFileReadFailed;
    std::string content;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        content.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            content.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        ::close(fd);
        return kFileReadFailed;
    }
    ::close(fd);
    text.swap(content);
    return 0;
}

bool IsValidUtf8(const char* data, int length) {
    if (length <= 0) return true;
    if (data == nullptr) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    const auto end = static_cast<std::size_t>(length);
    std::size_t i = 0;
    while (i < end) {
        const int n = Utf8LeadByteLength(bytes[i]);
        if (n == 0) {
            ++i;
            continue;
        }
        if (n == 1) return false;  // a continuation byte where a sequence should start
        if (static_cast<std::size_t>(n) > end - i) return false;
        for (int k = 1; k < n; ++k)
            if ((bytes[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80) return false;
        i += static_cast<std::size_t>(n);
    }
    return true;
}

int Utf8LeadByteLength(unsigned char byte) {
    int n = 0;
    while (n < 8 && (byte & (0x80u >> n)) != 0) ++n;
    return n;
}

}  // namespace API
}  // namespace OXA
