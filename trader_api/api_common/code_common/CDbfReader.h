// Reads single fields of a dBase table file (dBase III layout, also FoxPro and
// Visual FoxPro) by record and field number, as the raw stored bytes: the
// field types are not interpreted, deleted records are read like any other.
//
// The descriptor block ends at the first 32-byte descriptor whose first byte
// is 0x0D, so a length or decimal count of 13 inside a descriptor does not end
// it. Records start at the header-length word when that lies at or past the
// end mark (Visual FoxPro keeps 263 more bytes there), else right after the
// mark. dBase 7 tables, whose descriptors are laid out differently, are
// refused.
//
// Some writers end the list with another byte (0x0A). Such a table is read by
// its header words instead: n fields when the header-length word is
// 32 x (n + 1) + 1 (Visual FoxPro: 263 more), the record-length word is 1 plus
// the n field lengths, and the n descriptors are well formed (a printable
// name, a known type letter, a length above 0). The same holds when a 0x0D
// turns up only past those n descriptors: it is then record data. A table
// that agrees with neither reading is refused.
//
// Reads are positioned (pread), so ReadField on an opened reader may run on
// several threads at once; Open must not run beside any other use.
#pragma once

#include <cstdint>
#include <vector>

namespace OXA {
namespace API {

class CDbfReader {
 public:
  CDbfReader() = default;
  ~CDbfReader();
  CDbfReader(const CDbfReader&) = delete;
  CDbfReader& operator=(const CDbfReader&) = delete;

  // Opens the table and reads its header; false for an unopenable file, a
  // header cut short, neither an end mark within the header's 65,535 bytes
  // nor header words that agree with the descriptors, a table without
  // fields, or a dBase 7 table. Opening again first closes the file
  // held; after a failure the reader holds none.
  bool Open(const char* path);

  // Copies the stored bytes of field `field` of record `record` into buffer,
  // which is zero-filled first, and returns true. False, with the buffer left
  // untouched, before a successful Open, for a record or field number out of
  // range, a buffer not longer than the field (room for the ending zero), or
  // a record the file holds fewer bytes of than the field needs.
  bool ReadField(int record, int field, char* buffer, int buffer_size) const;

  // From the header; 0 before a successful Open.
  int64_t GetRecordCount() const { return m_recordCount; }
  int GetFieldCount() const { return static_cast<int>(m_fieldLengths.size()); }
  // 1 (the deletion mark) plus every field's length.
  int GetRecordLength() const { return m_recordLength; }
  // Byte offset of record 0 in the file.
  int64_t GetDataOffset() const { return m_dataOffset; }

 private:
  void Reset();

  int m_fd = -1;
  int64_t m_recordCount = 0;
  int m_recordLength = 0;
  int64_t m_dataOffset = 0;
  std::vector<int> m_fieldLengths;
  std::vector<int> m_fieldOffsets;  // within a record, after the deletion mark
};

}  // namespace API
}  // namespace OXA
