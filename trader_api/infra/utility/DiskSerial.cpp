#include "infra/utility/DiskSerial.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace OXA {
namespace API {

static_assert(sizeof(struct hd_driveid) == kIdeIdentityLength, "identify data is one sector");
static_assert(offsetof(struct hd_driveid, serial_no) == kIdeSerialOffset, "serial field offset");
static_assert(sizeof(((struct hd_driveid*)nullptr)->serial_no) == kIdeSerialLength, "serial field size");

namespace {

void Clear(char* out, size_t out_size) {
  if (out != nullptr && out_size > 0) std::memset(out, 0, out_size);
}

// Copies n bytes and terminates, within out_size.
void CopyOut(char* out, size_t out_size, const char* text, size_t n) {
  n = std::min(n, out_size - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

class Device {
 public:
  explicit Device(const char* path)
      : fd_(path != nullptr ? ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1) {}
  ~Device() {
    if (fd_ >= 0) ::close(fd_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool StartsWith(const char* text, size_t length, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(text, prefix, n) == 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

long ScsiTransferredLength(const sg_io_hdr_t& hdr) {
  if ((hdr.info & SG_INFO_OK_MASK) != SG_INFO_OK) return -1;
  if (hdr.status != 0 || hdr.masked_status != 0 || hdr.host_status != 0 || hdr.driver_status != 0) {
    return -1;
  }
  const long length = static_cast<long>(hdr.dxfer_len);
  const long resid = std::clamp(static_cast<long>(hdr.resid), 0L, length);
  return length - resid;
}

bool ParseScsiSerialPage(const unsigned char* page, size_t transferred, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  if (page == nullptr) return false;
  const size_t valid = std::min(transferred, kScsiInquiryLength);
  if (valid < 4) return false;
  const size_t length = std::min<size_t>(page[3], valid - 4);

  char kept[kScsiInquiryLength];
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = page[4 + i];
    if (c < '!' || c > '~') continue;
    kept[n++] = c == ':' ? ';' : static_cast<char>(c);
  }
  if (n == 0) return false;
  const size_t start = n > kScsiSerialKeep ? n - kScsiSerialKeep : 0;
  CopyOut(out, out_size, kept + start, n - start);
  return true;
}

bool ParseIdeIdentity(const unsigned char* identity, size_t length, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  if (identity == nullptr || length < kIdeSerialOffset + kIdeSerialLength) return false;
  const char* field = reinterpret_cast<const char*>(identity + kIdeSerialOffset);
  const size_t n = strnlen(field, kIdeSerialLength);
  if (n == 0) return false;
  CopyOut(out, out_size, field, n);
  return true;
}

bool LshwSerialScanner::Feed(const char* line, size_t length) {
  if (done_) return false;
  if (line == nullptr) return true;
  length = std::min(strnlen(line, length), kMaxLine);
  size_t i = 0;
  while (i < length && IsBlank(line[i])) ++i;
  const char* text = line + i;
  const size_t n = length - i;

  if (n > 0 && text[0] == '*') {
    if (in_disk_) {  // the disk's own entry ended without a serial
      done_ = true;
      return false;
    }
    if (StartsWith(text, n, "*-disk")) in_disk_ = true;
    return true;
  }
  if (!in_disk_ || !StartsWith(text, n, "serial")) return true;

  // "serial: value": skip the key and the colon, drop blanks
  for (size_t k = std::min<size_t>(n, 7); k < n; ++k) {
    const char c = text[k];
    if (c == '\r' || c == '\n') break;
    if (!IsBlank(c)) serial_.push_back(c);
  }
  done_ = true;
  return false;
}

bool ParseLshwSerial(const std::string& text, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  LshwSerialScanner scanner;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    if (!scanner.Feed(text.data() + pos, end - pos)) break;
    pos = end + 1;
  }
  if (!scanner.Found()) return false;
  CopyOut(out, out_size, scanner.Serial().data(), scanner.Serial().size());
  return true;
}

bool ReadScsiSerial(const char* device, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  unsigned char data[kScsiInquiryLength] = {};
  sg_io_hdr_t hdr{};
  {
    Device dev(device);
    if (dev.fd() < 0) return false;
    // INQUIRY, vital product data, unit serial number page
    unsigned char cmd[6] = {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00};
    unsigned char sense[32] = {};
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    hdr.cmd_len = sizeof(cmd);
    hdr.mx_sb_len = sizeof(sense);
    hdr.dxfer_len = sizeof(data);
    hdr.dxferp = data;
    hdr.cmdp = cmd;
    hdr.sbp = sense;
    hdr.timeout = 5000;
    if (::ioctl(dev.fd(), SG_IO, &hdr) < 0) return false;
  }
  const long transferred = ScsiTransferredLength(hdr);
  if (transferred < 0) return false;
  return ParseScsiSerialPage(data, static_cast<size_t>(transferred), out, out_size);
}

bool ReadIdeSerial(const char* device, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  unsigned char identity[kIdeIdentityLength] = {};
  {
    Device dev(device);
    if (dev.fd() < 0) return false;
    if (::ioctl(dev.fd(), HDIO_GET_IDENTITY, identity) < 0) return false;
  }
  return ParseIdeIdentity(identity, sizeof(identity), out, out_size);
}

bool ReadLshwSerial(char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  Clear(out, out_size);
  // read through a pipe: nothing is written into the application's folder
  FILE* pipe = ::popen("lshw 2>/dev/null", "re");
  if (pipe == nullptr) return false;
  LshwSerialScanner scanner;
  char line[LshwSerialScanner::kMaxLine + 1];
  bool rest_of_long_line = false;
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    const size_t n = std::strlen(line);
    const bool line_ends = n > 0 && line[n - 1] == '\n';
    if (!rest_of_long_line && !scanner.Feed(line, n)) break;
    rest_of_long_line = !line_ends;
  }
  ::pclose(pipe);  // a reader that stopped early leaves lshw to end on a closed pipe
  if (!scanner.Found()) return false;
  CopyOut(out, out_size, scanner.Serial().data(), scanner.Serial().size());
  return true;
}

void FindDiskSerial(const DiskSerialReaders& readers, char* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return;
  // every reader starts from a cleared buffer
  auto scsi = [&](const char* dev) {
    Clear(out, out_size);
    return readers.scsi != nullptr && readers.scsi(dev, out, out_size);
  };
  auto ide = [&](const char* dev) {
    Clear(out, out_size);
    return readers.ide != nullptr && readers.ide(dev, out, out_size);
  };
  auto lshw = [&] {
    Clear(out, out_size);
    return readers.lshw != nullptr && readers.lshw(out, out_size);
  };
  const bool found = scsi("/dev/sda") || scsi("/dev/sdb") || ide("/dev/hda") || ide("/dev/hdb") || lshw();
  if (!found) {
    Clear(out, out_size);  // nothing a failed reader left behind counts
    return;
  }
  out[out_size - 1] = '\0';
  for (char* p = out; *p != '\0'; ++p) {
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
}

const char* GetDiskSerial() {
  static char serial[kDiskSerialSize];
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      FindDiskSerial({ReadScsiSerial, ReadIdeSerial, ReadLshwSerial}, serial, sizeof(serial));
    } catch (...) {
      Clear(serial, sizeof(serial));
    }
  });
  return serial;
}

}  // namespace API
}  // namespace OXA
