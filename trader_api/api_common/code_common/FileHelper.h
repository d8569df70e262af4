// Stateless file operations of the utility library, and a structural UTF-8 check.
//
// The line readers hand each line in one buffer per thread (reserved to 2 MiB on a thread's
// first read), valid only during the per-line call. Everything else keeps no state.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>

namespace OXA {
namespace API {

class FileHelper {
public:
    // The file cannot be opened for reading (line readers), with kFileNotExistsText.
    static constexpr int kFileNotExists = -19283;
    static constexpr const char* kFileNotExistsText = "__ERRNO_FILE_NOT_EXISTS__";
    // The file cannot be opened or read (whole-file read).
    static constexpr int kFileReadFailed = 77;

    // Calls onLine for every line up to delimiter (dropped; a last line without one counts).
    // With trim, " \n\r\t" go from both ends. Returns 0 after the last line, the first non-zero
    // result of onLine, or kFileNotExists (then *error, when given, is kFileNotExistsText).
    static int thForEachLine(const std::function<int(const std::string&)>& onLine, const char* path, bool trim,
                             char delimiter, const char** error);
    // Appends every line to lines (not cleared first); results as thForEachLine.
    static int thReadFileByLine(std::list<std::string>& lines, const char* path, bool trim, char delimiter,
                                const char** error);

    // The path opens for binary input.
    static bool fileExists(const char* path);
    static bool isDirectory(const char* path);
    // 0 when the directory is there already, else mkdir's result (0 or -1), mode 0775.
    static int makeDirIfMissing(const char* path);
    static int makeDir(const char* path);
    static bool removeFile(const char* path);
    // Size in bytes of a regular file; 0 when it cannot be opened or is not a regular file.
    static std::int64_t getFileSize(const char* path);
    // 0 with text replaced by every byte of the file; kFileReadFailed with text untouched when
    // the path cannot be opened or read (a directory included).
    static int readWholeFile(const char* path, std::string& text);
};

// Structure only: a byte below 0x80 stands alone; a byte with n leading one bits (2 to 8) starts
// a sequence whose n - 1 following bytes are 10xxxxxx; anything else, or a sequence the end cuts
// off, is invalid. Overlong forms, surrogates and values above U+10FFFF are not examined. Reads
// no byte at or past length; a length of 0 or less is valid.
bool IsValidUtf8(const char* data, int length);
// Leading one bits of byte, 0 to 8.
int Utf8LeadByteLength(unsigned char byte);

}  // namespace API
}  // namespace OXA
