// Reads arbitrary bytes as a delimited file. The first byte picks the trim
// flag, the header flag and the separator; the rest is the file. The rows
// (and header) must be the file's lines as split here independently: without
// trimming the fields joined by the separator give the line back; with it
// every field is trimmed and there is one field per separator plus one. A
// line longer than 2047 characters must come back cut and end the reading,
// with ReadAll reporting it.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzFile.h"
#include "infra/utility/CCsvReader.h"

using OXA::API::CCsvReader;

namespace {

void Check(const std::vector<std::string>& fields, const std::string& line, char separator, bool trim) {
  if (!trim) {
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) joined += separator;
      joined += fields[i];
    }
    if (joined != line) __builtin_trap();
    return;
  }
  size_t separators = 0;
  for (char c : line) separators += c == separator;
  if (fields.size() != separators + 1) __builtin_trap();
  for (const std::string& f : fields) {
    if (f.empty()) continue;
    const char back = f.back();
    if (f.front() == ' ' || back == ' ' || back == '\r' || back == '\n') __builtin_trap();
    if (f.find(separator) != std::string::npos || line.find(f) == std::string::npos) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzFile file("csv_fuzz");
  if (size == 0) return 0;
  const bool trim = data[0] & 1;
  const bool header = data[0] & 2;
  const char separator = ",\t;|"[(data[0] >> 2) & 3];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  // the file's lines, the way the reader must see them
  std::vector<std::string> lines;
  bool cut = false;
  for (size_t at = 0; at < text.size() && !cut;) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end - at > CCsvReader::kLineLimit) {
      lines.push_back(text.substr(at, CCsvReader::kLineLimit));
      cut = true;
    } else {
      lines.push_back(text.substr(at, end - at));
    }
    at = end + 1;
  }

  CCsvReader reader(file.Set(data + 1, size - 1), separator, header, trim);
  size_t first = 0;
  if (header) {
    if (lines.empty()) {
      if (reader.GetColumnCount() != 0 || !reader.GetHeader().empty()) __builtin_trap();
    } else {
      Check(reader.GetHeader(), lines[0], separator, trim);
      if (reader.GetColumnCount() != static_cast<int>(reader.GetHeader().size())) __builtin_trap();
      first = 1;
    }
  }
  std::vector<std::vector<std::string>> rows;
  const bool all = reader.ReadAll(rows);
  if (all == cut) __builtin_trap();
  if (rows.size() != lines.size() - first) __builtin_trap();
  for (size_t i = 0; i < rows.size(); ++i) Check(rows[i], lines[first + i], separator, trim);

  // the string splitter agrees with the reader on the same lines
  std::vector<std::string> fields;
  for (size_t i = 0; i < rows.size() && i < 8; ++i) {
    reader.Split(lines[first + i], fields);
    if (fields != rows[i]) __builtin_trap();
  }
  return 0;
}
