#include "infra/utility/CIniReader.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "infra/utility/BoundedLine.h"

namespace OXA {
namespace API {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string TrimBlank(const std::string& s, size_t from = 0, size_t to = std::string::npos) {
  if (to > s.size()) to = s.size();
  while (from < to && IsBlank(s[from])) ++from;
  while (to > from && IsBlank(s[to - 1])) --to;
  return s.substr(from, to - from);
}

// The one line grammar of the three readers. on_section(name) returns the
// prefix of the keys that follow; on_pair(composed key, value) stores.
// False only when the file cannot be opened.
template <typename OnSection, typename OnPair>
bool ParseIni(const char* path, size_t line_limit, IniSectionList& sections, OnSection on_section,
              OnPair on_pair) {
  if (path == nullptr) return false;
  std::ifstream in(path);
  if (!in.is_open()) return false;
  std::string raw;
  std::string prefix;
  bool in_section = false;
  for (;;) {
    // Only the line feed ends a line: the CR of a CR LF line end counts toward the limit, and
    // the trim below drops it.
    if (ReadBoundedLine(in, raw, line_limit) != BoundedLineResult::Line) break;

    const std::string line = TrimBlank(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      IniSection section;
      section.name = TrimBlank(line, 1, line.size() - 1);
      prefix = on_section(section.name);
      sections.push_back(std::move(section));
      in_section = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !in_section) continue;
    std::string key = TrimBlank(line, 0, eq);
    std::string value = TrimBlank(line, eq + 1);
    on_pair(prefix + key, value);
    sections.back().pairs.emplace_back(std::move(key), std::move(value));
  }
  return true;
}

std::string Compose(const char* section, const char* key) {
  std::string composed(section);
  composed += '-';
  composed += key;
  return composed;
}

template <typename Map>
const char* FindIn(const Map& values, const std::string& composed) {
  const auto it = values.find(composed);
  return it == values.end() ? nullptr : it->second.c_str();
}

}  // namespace

CIniReader::CIniReader(const char* path) { Load(path); }

bool CIniReader::Load(const char* path) {
  m_loaded = ParseIni(
      path, kLineLimit, m_sections, [](const std::string& name) { return name + "-"; },
      [this](std::string composed, const std::string& value) { m_values[std::move(composed)] = value; });
  return m_loaded;
}

const char* CIniReader::Find(const char* section, const char* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  return FindIn(m_values, Compose(section, key));
}

bool CIniReader::GetInt(const char* section, const char* key, int32_t& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  const long long n = std::strtoll(value, nullptr, 10);
  out = n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : static_cast<int32_t>(n);
  return true;
}

bool CIniReader::GetInt64(const char* section, const char* key, int64_t& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  out = std::strtoll(value, nullptr, 10);
  return true;
}

bool CIniReader::GetDouble(const char* section, const char* key, double& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  out = std::strtod(value, nullptr);
  return true;
}

bool CIniReader::GetString(const char* section, const char* key, const char*& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  out = value;
  return true;
}

bool CIniReader::GetStringCopy(const char* section, const char* key, char* buffer, size_t size) const {
  const char* value = Find(section, key);
  if (value == nullptr || buffer == nullptr) return false;
  const size_t length = std::strlen(value);
  if (length + 1 >= size) return false;
  std::memcpy(buffer, value, length + 1);
  return true;
}

bool CIniReader::GetChar(const char* section, const char* key, char& out) const {
  const char* value = Find(section, key);
  if (value == nullptr || value[0] == '\0') return false;
  out = value[0];
  return true;
}

bool CIniReader::GetBool(const char* section, const char* key, bool& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  if (std::strlen(value) == 1) {
    out = value[0] == '1';
  } else {
    out = strncasecmp(value, "true", 4) == 0;
  }
  return true;
}

bool CIniReader::GetStdString(const char* section, const char* key, std::string& out) const {
  const char* value = Find(section, key);
  if (value == nullptr) return false;
  out = value;
  return true;
}

CIniSectionReader::CIniSectionReader(const char* path) {
  ParseIni(
      path, kLineLimit, m_sections, [](const std::string& name) { return name + "-"; },
      [this](std::string composed, const std::string& value) { m_values[std::move(composed)] = value; });
}

const char* CIniSectionReader::Find(const char* section, const char* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  return FindIn(m_values, Compose(section, key));
}

CIniMultiSectionReader::CIniMultiSectionReader(const char* path) {
  ParseIni(
      path, kLineLimit, m_sections,
      [this](const std::string& name) {
        const int32_t n = ++m_counts[name];
        return name + "-" + std::to_string(n) + "-";
      },
      [this](std::string composed, const std::string& value) { m_values[std::move(composed)] = value; });
}

const char* CIniMultiSectionReader::Find(const char* section, const char* key, int occurrence) const {
  if (section == nullptr || key == nullptr) return nullptr;
  std::string composed(section);
  composed += '-';
  composed += std::to_string(occurrence);
  composed += '-';
  composed += key;
  return FindIn(m_values, composed);
}

int32_t CIniMultiSectionReader::GetSectionCount(const char* section) const {
  if (section == nullptr) return 0;
  const auto it = m_counts.find(section);
  return it == m_counts.end() ? 0 : it->second;
}

}  // namespace API
}  // namespace OXA
