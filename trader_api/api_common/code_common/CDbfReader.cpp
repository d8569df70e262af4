#include "api_common/code_common/CDbfReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace OXA {
namespace API {

namespace {

constexpr int kFileHeaderSize = 32;
constexpr int kDescriptorSize = 32;
constexpr int kLengthInDescriptor = 16;
constexpr unsigned char kEndOfDescriptors = 0x0D;
// The header-length word is 16 bits wide, so no valid table has a longer header.
constexpr int kMaxHeaderSize = 65535;

// Reads up to size bytes at offset; the count read, short only at the end of
// the file or on an error.
size_t ReadAt(int fd, void* buffer, size_t size, int64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool IsDbase7(unsigned char version) { return (version & 0x07) == 0x04; }

bool IsVisualFoxPro(unsigned char version) { return version >= 0x30 && version <= 0x32; }

constexpr int kVisualFoxProBacklink = 263;
constexpr int kRecordLengthWord = 10;

// Field count that a header-length word stands for: 32 x (n + 1) + 1, or for Visual FoxPro
// that plus its backlink; 0 when it stands for no whole number of descriptors. (263 is no
// multiple of 32, so the two forms never both fit.)
int FieldsByHeaderLength(int64_t header_length, unsigned char version) {
  for (const int64_t extra : {int64_t{0}, int64_t{kVisualFoxProBacklink}}) {
    if (extra != 0 && !IsVisualFoxPro(version)) break;
    const int64_t descriptors = header_length - kFileHeaderSize - 1 - extra;
    if (descriptors >= kDescriptorSize && descriptors % kDescriptorSize == 0)
      return static_cast<int>(descriptors / kDescriptorSize);
  }
  return 0;
}

// A descriptor as the writers make it: a name of printable ASCII ending in a zero byte or at
// its 11th byte, a known field type, a length above 0.
bool IsWellFormedDescriptor(const unsigned char* d) {
  if (d[0] <= 0x20 || d[0] >= 0x7F) return false;
  for (int i = 1; i < 11 && d[i] != 0; ++i)
    if (d[i] <= 0x20 || d[i] >= 0x7F) return false;
  return d[11] != 0 && std::strchr("CNFDLMBGIYTPOVWQ@+0", d[11]) != nullptr && d[kLengthInDescriptor] != 0;
}

}  // namespace

CDbfReader::~CDbfReader() { Reset(); }

void CDbfReader::Reset() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_recordCount = 0;
  m_recordLength = 0;
  m_dataOffset = 0;
  m_fieldLengths.clear();
  m_fieldOffsets.clear();
}

bool CDbfReader::Open(const char* path) {
  Reset();
  if (path == nullptr) return false;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;

  std::vector<unsigned char> header(kMaxHeaderSize);
  const size_t got = ReadAt(fd, header.data(), header.size(), 0);
  if (got < kFileHeaderSize || IsDbase7(header[0])) {
    ::close(fd);
    return false;
  }

  // Only the first byte of each descriptor can be the end mark.
  size_t at = kFileHeaderSize;
  std::vector<int> lengths;
  while (at < got && header[at] != kEndOfDescriptors) {
    if (at + kDescriptorSize > got) break;
    lengths.push_back(header[at + kLengthInDescriptor]);
    at += kDescriptorSize;
  }
  const bool marked = at < got && header[at] == kEndOfDescriptors;
  const int64_t header_word = static_cast<int64_t>(header[8]) | static_cast<int64_t>(header[9]) << 8;
  const int64_t record_word = static_cast<int64_t>(header[kRecordLengthWord]) |
                              static_cast<int64_t>(header[kRecordLengthWord + 1]) << 8;

  // Some writers end the descriptors with another byte (0x0A, say) but keep both header words
  // right. Such a table is read by its header-length word when that word, the record-length word
  // and the descriptors before it all agree; a mark found only past those descriptors is then
  // record data, not the end of the list.
  const int by_word = FieldsByHeaderLength(header_word, header[0]);
  const size_t word_end = kFileHeaderSize + static_cast<size_t>(by_word) * kDescriptorSize;
  bool by_header_word = false;
  if (by_word > 0 && word_end < got && (!marked || at > word_end)) {
    int64_t record_length = 1;
    bool well_formed = true;
    for (size_t d = kFileHeaderSize; d < word_end && well_formed; d += kDescriptorSize) {
      well_formed = IsWellFormedDescriptor(&header[d]);
      record_length += header[d + kLengthInDescriptor];
    }
    by_header_word = well_formed && record_length == record_word;
  }
  if (by_header_word) {
    lengths.clear();
    for (size_t d = kFileHeaderSize; d < word_end; d += kDescriptorSize)
      lengths.push_back(header[d + kLengthInDescriptor]);
    at = word_end;
  } else if (!marked || lengths.empty()) {
    ::close(fd);
    return false;
  }

  m_fd = fd;
  m_recordCount = LoadLe32(&header[4]);
  const int64_t after_mark = static_cast<int64_t>(at) + 1;
  m_dataOffset = header_word >= after_mark ? header_word : after_mark;
  int offset = 1;
  for (int length : lengths) {
    m_fieldOffsets.push_back(offset);
    offset += length;  // at most 2,046 fields of 255 bytes: no overflow
  }
  m_fieldLengths = std::move(lengths);
  m_recordLength = offset;
  return true;
}

bool CDbfReader::ReadField(int record, int field, char* buffer, int buffer_size) const {
  if (m_fd < 0 || buffer == nullptr) return false;
  if (record < 0 || record >= m_recordCount || field < 0 || field >= GetFieldCount()) return false;
  const int length = m_fieldLengths[field];
  if (length >= buffer_size) return false;
  const int64_t offset = m_dataOffset + static_cast<int64_t>(record) * m_recordLength + m_fieldOffsets[field];
  unsigned char bytes[256];  // a field length is one byte
  if (ReadAt(m_fd, bytes, static_cast<size_t>(length), offset) != static_cast<size_t>(length)) return false;
  std::memset(buffer, 0, static_cast<size_t>(buffer_size));
  std::memcpy(buffer, bytes, static_cast<size_t>(length));
  return true;
}

}  // namespace API
}  // namespace OXA
