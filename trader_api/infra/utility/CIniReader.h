// INI-style configuration readers: "[section]" headers and "key = value"
// lines, ';' or '#' comments. A value is found under the composed key
// section + "-" + key (the multi-section reader puts the section's occurrence
// number between: section-N-key); a dash is not escaped, so section a-b with
// key c and section a with key b-c share one composed key and the later line
// wins. Key lines before the first header are ignored.
//
// A line longer than the reader's limit ends the parse: the lines before it
// stay loaded and loading still succeeds. The line feed ends a line and is not
// counted; a CR before it is a character of the line (so a CR LF file's lines
// hold one character less). Lines are read into growing strings, so the limit
// is a rule of the format, not a buffer.
//
// Lookups on a loaded reader are read-only and may run in parallel; loading
// must not run beside any other use of the same reader.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace OXA {
namespace API {

// One section header met, in file order, with the pairs that followed it in
// file order, duplicates included.
struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> pairs;
};
using IniSectionList = std::vector<IniSection>;

// Hash-map store with typed getters; lines up to 1023 characters.
class CIniReader {
 public:
  static constexpr size_t kLineLimit = 1023;

  CIniReader() = default;
  explicit CIniReader(const char* path);

  // Parses the file into the store, adding to what is there. False (store
  // unchanged) when the file cannot be opened; the result is also kept as
  // the loaded flag.
  bool Load(const char* path);
  bool IsLoaded() const { return m_loaded; }
  const IniSectionList& GetSections() const { return m_sections; }

  // The stored value, valid while the reader lives and the key is not
  // replaced; null when section or key is null or the key is absent.
  const char* Find(const char* section, const char* key) const;

  // Every getter returns false and leaves its output untouched when the key
  // is absent. Numbers convert as strtol/strtoll/strtod do (0 for no digits)
  // and the getter returns true; GetInt saturates at the int32 range rather
  // than wrapping.
  bool GetInt(const char* section, const char* key, int32_t& out) const;
  bool GetInt64(const char* section, const char* key, int64_t& out) const;
  bool GetDouble(const char* section, const char* key, double& out) const;
  bool GetString(const char* section, const char* key, const char*& out) const;
  // False when the value's length + 1 >= size: the buffer must be at least
  // two bytes longer than the value. Else copies the value and its zero.
  bool GetStringCopy(const char* section, const char* key, char* buffer, size_t size) const;
  // The first character; false for an empty value.
  bool GetChar(const char* section, const char* key, char& out) const;
  // True whenever the key exists; out is true for exactly "1", or for a value
  // of any other length that begins with "true" in any case.
  bool GetBool(const char* section, const char* key, bool& out) const;
  bool GetStdString(const char* section, const char* key, std::string& out) const;

 private:
  std::unordered_map<std::string, std::string> m_values;
  IniSectionList m_sections;
  bool m_loaded = false;
};

// Ordered store (byte-wise key order); lines up to 1022 characters.
class CIniSectionReader {
 public:
  static constexpr size_t kLineLimit = 1022;

  // Loads the file; a missing file leaves the reader empty.
  explicit CIniSectionReader(const char* path);

  const char* Find(const char* section, const char* key) const;
  const IniSectionList& GetSections() const { return m_sections; }

 private:
  std::map<std::string, std::string> m_values;
  IniSectionList m_sections;
};

// A section name may occur several times; occurrence N (from 1) of a section
// keeps its own keys. Lines up to 1022 characters.
class CIniMultiSectionReader {
 public:
  static constexpr size_t kLineLimit = 1022;

  // Loads the file; a missing file leaves the reader empty.
  explicit CIniMultiSectionReader(const char* path);

  const char* Find(const char* section, const char* key, int occurrence) const;
  // How many times the section header occurred; 0 when never.
  int32_t GetSectionCount(const char* section) const;
  const IniSectionList& GetSections() const { return m_sections; }

 private:
  std::map<std::string, std::string> m_values;
  std::map<std::string, int32_t> m_counts;
  IniSectionList m_sections;
};

}  // namespace API
}  // namespace OXA
