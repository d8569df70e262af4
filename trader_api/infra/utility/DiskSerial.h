#pragma once

// Serial number of the machine's first disk, for the terminal-information text.
// Each reader is split into the device or command query and a pure function
// that turns the answer into the serial, so the latter can be checked without
// the hardware.

#include <scsi/sg.h>

#include <cstddef>
#include <string>

namespace OXA {
namespace API {

constexpr size_t kDiskSerialSize = 1024;

// Upper-cased serial of the first disk that gives one: SCSI /dev/sda, /dev/sdb,
// IDE /dev/hda, /dev/hdb, then lshw. Empty when none does. The search runs
// once per process (lshw takes seconds); later calls return the same text.
const char* GetDiskSerial();

// Live readers. Each clears out, then fills it with the serial; false when the
// device or command gives none (out stays empty then).
bool ReadScsiSerial(const char* device, char* out, size_t out_size);
bool ReadIdeSerial(const char* device, char* out, size_t out_size);
bool ReadLshwSerial(char* out, size_t out_size);

struct DiskSerialReaders {
  bool (*scsi)(const char* device, char* out, size_t out_size);
  bool (*ide)(const char* device, char* out, size_t out_size);
  bool (*lshw)(char* out, size_t out_size);
};

// The search GetDiskSerial runs once, with the readers given.
void FindDiskSerial(const DiskSerialReaders& readers, char* out, size_t out_size);

// SCSI INQUIRY of the unit-serial-number page.
constexpr size_t kScsiInquiryLength = 255;
constexpr size_t kScsiSerialKeep = 20;

// Bytes the device really transferred, bounded by dxfer_len; -1 when any status
// field of the finished request reports a failure.
long ScsiTransferredLength(const sg_io_hdr_t& hdr);

// page holds `transferred` valid bytes of the answer. The page length (byte 3)
// is bounded by those bytes and by the inquiry buffer. Blanks and control
// characters are dropped, ':' becomes ';', the last 20 characters are kept.
// False when the page is short, empty, or holds no printable character.
bool ParseScsiSerialPage(const unsigned char* page, size_t transferred, char* out, size_t out_size);

// IDE identify data as HDIO_GET_IDENTITY returns it.
constexpr size_t kIdeIdentityLength = 512;
constexpr size_t kIdeSerialOffset = 20;
constexpr size_t kIdeSerialLength = 20;

// The 20-byte serial field as it is (up to its first NUL). False when the data
// is too short or the field is empty.
bool ParseIdeIdentity(const unsigned char* identity, size_t length, char* out, size_t out_size);

// Reads lshw's output line by line: the first "serial" line inside the first
// "*-disk" section gives the serial; the next "*" entry inside that section
// ends the search.
class LshwSerialScanner {
 public:
  static constexpr size_t kMaxLine = 1023;

  // Feeds one line (without its line end, or with it). Returns false once the
  // search has ended, found or not; further lines are ignored.
  bool Feed(const char* line, size_t length);

  bool Found() const { return !serial_.empty(); }
  const std::string& Serial() const { return serial_; }

 private:
  bool in_disk_ = false;
  bool done_ = false;
  std::string serial_;
};

// Scans a whole lshw output; lines longer than 1,023 characters are cut.
bool ParseLshwSerial(const std::string& text, char* out, size_t out_size);

}  // namespace API
}  // namespace OXA
