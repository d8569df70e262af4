// Opens arbitrary bytes as a dBase table and reads the fields of its first
// records. The descriptors must end with 0x0D, or else both header words must
// stand for them. Every field that comes back must be the bytes at the place
// the header describes (field lengths taken here straight from the descriptors),
// a read past the file must fail, a failed read must leave the buffer alone,
// and nothing may be written past the given buffer size.
#include <cstdint>
#include <cstring>

#include "FuzzFile.h"
#include "api_common/code_common/CDbfReader.h"

using OXA::API::CDbfReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzFile file("dbf_fuzz");
  CDbfReader reader;
  if (!reader.Open(file.Set(data, size))) {
    char b[4];
    if (reader.GetFieldCount() != 0 || reader.ReadField(0, 0, b, sizeof b)) __builtin_trap();
    return 0;
  }
  const int fields = reader.GetFieldCount();
  if (fields <= 0 || size < 33 + 32 * static_cast<size_t>(fields)) __builtin_trap();
  const int64_t records = reader.GetRecordCount();
  const int64_t data_offset = reader.GetDataOffset();
  if (data_offset < 33 + 32 * fields) __builtin_trap();

  int64_t record_length = 1;
  for (int f = 0; f < fields; ++f) record_length += data[32 + 32 * f + 16];
  if (reader.GetRecordLength() != record_length) __builtin_trap();
  if (data[32 + 32 * fields] != 0x0D) {
    // read by the header words: both must stand for these descriptors
    const int64_t header_word = data[8] | data[9] << 8;
    const int64_t record_word = data[10] | data[11] << 8;
    const bool vfp = data[0] >= 0x30 && data[0] <= 0x32;
    const int64_t plain = 33 + 32 * fields;
    if (header_word != plain && !(vfp && header_word == plain + 263)) __builtin_trap();
    if (record_word != record_length || data_offset != header_word) __builtin_trap();
    for (int f = 0; f < fields; ++f)
      if (data[32 + 32 * f + 16] == 0 || data[32 + 32 * f] <= 0x20) __builtin_trap();
  }

  const int last = records < 64 ? static_cast<int>(records) : 64;
  for (int r = 0; r < last; ++r) {
    int64_t offset = data_offset + r * record_length + 1;
    for (int f = 0; f < fields && f < 64; ++f) {
      const int length = data[32 + 32 * f + 16];
      unsigned char buffer[300];
      std::memset(buffer, 0x5a, sizeof buffer);
      const bool ok = reader.ReadField(r, f, reinterpret_cast<char*>(buffer), 256);
      // a field of no bytes needs none of the file
      const bool present = length == 0 || offset + length <= static_cast<int64_t>(size);
      if (ok != present) __builtin_trap();
      if (ok) {
        if (std::memcmp(buffer, data + offset, static_cast<size_t>(length)) != 0) __builtin_trap();
        for (int i = length; i < 256; ++i)
          if (buffer[i] != 0) __builtin_trap();
      } else {
        for (int i = 0; i < 256; ++i)
          if (buffer[i] != 0x5a) __builtin_trap();
      }
      for (size_t i = 256; i < sizeof buffer; ++i)
        if (buffer[i] != 0x5a) __builtin_trap();
      // no room for the ending zero
      if (reader.ReadField(r, f, reinterpret_cast<char*>(buffer), length)) __builtin_trap();
      offset += length;
    }
  }
  char b[256];
  if (records <= INT32_MAX && reader.ReadField(static_cast<int>(records), 0, b, sizeof b)) __builtin_trap();
  if (reader.ReadField(0, fields, b, sizeof b) || reader.ReadField(-1, 0, b, sizeof b)) __builtin_trap();
  return 0;
}
