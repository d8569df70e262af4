#include "infra/utility/CCsvReader.h"

#include <string_view>

#include "infra/utility/BoundedLine.h"

namespace OXA {
namespace API {

namespace {

// A trimmed field starts at its first character that is not a space and ends at its last one
// that is none of space, CR and LF, so any trailing mix of the three goes ("x \r" gives "x");
// tabs stay. Ending it at the smallest of the last non-space, last non-CR and last non-LF
// positions instead would leave some mixes behind ("x \r" would keep "x ").
std::string_view TrimField(std::string_view f) {
  const size_t start = f.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  const size_t end = f.find_last_not_of(" \r\n");
  if (end == std::string_view::npos || end < start) return {};
  return f.substr(start, end - start + 1);
}

void SplitInto(std::string_view line, char separator, bool trim, std::vector<std::string>& fields) {
  fields.clear();
  size_t start = 0;
  for (;;) {
    const size_t at = line.find(separator, start);
    std::string_view field = line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (trim) field = TrimField(field);
    fields.emplace_back(field);
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
}

}  // namespace

CCsvReader::CCsvReader(bool trim) : m_trim(trim) {}

CCsvReader::CCsvReader(const std::string& path, bool trim) : m_path(path), m_trim(trim) { Open(); }

CCsvReader::CCsvReader(const std::string& path, char separator, bool trim)
    : m_path(path), m_separator(separator), m_trim(trim) {
  Open();
}

CCsvReader::CCsvReader(const std::string& path, char separator, bool header, bool trim)
    : m_hasHeader(header), m_path(path), m_separator(separator), m_trim(trim) {
  Open();
}

CCsvReader::CCsvReader(const std::string& path, bool header, bool trim)
    : m_hasHeader(header), m_path(path), m_trim(trim) {
  Open();
}

CCsvReader::~CCsvReader() { Close(); }

bool CCsvReader::Open() {
  m_columnCount = 0;
  if (m_path.empty()) throw "File Is Null";
  if (m_input.is_open()) m_input.close();
  m_input.clear();
  m_cut = false;
  m_header.clear();
  m_input.open(m_path);
  if (!m_input.good()) return false;
  if (!m_hasHeader) return true;
  ReadLine(m_header);
  m_columnCount = static_cast<int>(m_header.size());
  return true;
}

bool CCsvReader::Open(const std::string& path) {
  m_path = path;
  Close();
  return Open();
}

void CCsvReader::Close() {
  if (m_input.is_open()) m_input.close();
}

bool CCsvReader::ReadLine(std::vector<std::string>& fields) {
  if (!m_input.good()) return false;
  const BoundedLineResult got = ReadBoundedLine(m_input, m_line, kLineLimit);
  if (got == BoundedLineResult::End) return false;
  if (got == BoundedLineResult::TooLong) m_cut = true;  // the stream stays failed
  SplitInto(m_line, m_separator, m_trim, fields);
  return true;
}

bool CCsvReader::ReadLine(std::vector<std::string>& fields, size_t minimum) {
  return ReadLine(fields) && fields.size() >= minimum;
}

bool CCsvReader::ReadAll(std::vector<std::vector<std::string>>& rows) {
  rows.clear();
  if (!m_input.is_open()) return false;
  std::vector<std::string> fields;
  while (ReadLine(fields)) rows.push_back(std::move(fields));
  return !m_cut && !m_input.bad();
}

bool CCsvReader::SplitLine(const char* line, std::vector<std::string>& fields) const {
  if (line == nullptr) {
    fields.clear();
    return false;
  }
  SplitInto(line, m_separator, m_trim, fields);
  return true;
}

bool CCsvReader::Split(const std::string& line, std::vector<std::string>& fields) const {
  SplitInto(line, m_separator, m_trim, fields);
  return true;
}

}  // namespace API
}  // namespace OXA
