// Reads a delimiter-separated text file line by line and splits each line at
// one separator character, with an optional header row and optional trimming
// of the fields. There is no quoting: a quote is an ordinary character, and a
// field cannot hold the separator or a line break.
//
// A line holds at most 2047 characters (the line feed ends it and is not part
// of it; a CR before it is). A longer line comes back cut to its first 2047
// characters, and reading stops there. Fields are std::strings of any length.
//
// Trimming drops leading spaces and any trailing mix of spaces, CRs and LFs;
// tabs stay.
//
// One reader belongs to one thread at a time.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace OXA {
namespace API {

class CCsvReader {
 public:
  static constexpr size_t kLineLimit = 2047;

  // No path, ',' as separator, no header; does not open.
  explicit CCsvReader(bool trim);
  // A string literal would otherwise bind to the constructor above through the
  // pointer-to-bool conversion and open nothing: name the trim flag.
  CCsvReader(const char* path) = delete;
  // These open at once; a failed opening shows as ReadLine returning false.
  // An empty path throws the C string "File Is Null".
  CCsvReader(const std::string& path, bool trim);
  CCsvReader(const std::string& path, char separator, bool trim);
  CCsvReader(const std::string& path, char separator, bool header, bool trim);
  CCsvReader(const std::string& path, bool header, bool trim);
  virtual ~CCsvReader();
  CCsvReader(const CCsvReader&) = delete;
  CCsvReader& operator=(const CCsvReader&) = delete;

  // Opens the stored path (closing any file held) and, with the header flag,
  // reads the header line. Throws "File Is Null" (const char*) for an empty
  // path; false when the file cannot be opened.
  bool Open();
  // Stores the path, then Open().
  bool Open(const std::string& path);
  // Closes the file if open; a failed close leaves the stream failed.
  void Close();

  // The next line's fields. False, fields unchanged, at the end of the file,
  // after a cut line, or when no file is open.
  bool ReadLine(std::vector<std::string>& fields);
  // As ReadLine, true only when the line gave at least `minimum` fields (the
  // fields are filled either way).
  bool ReadLine(std::vector<std::string>& fields, size_t minimum);
  // Clears rows and appends one row per line to the end. False when no file
  // was open, a line was cut at the limit (its cut row is kept) or the read
  // failed.
  bool ReadAll(std::vector<std::vector<std::string>>& rows);

  // Split a line at the separator, with the trim flag; true. An empty line is
  // one empty field; a line ending in the separator ends with an empty field.
  // SplitLine of a null line clears the fields and returns false.
  bool SplitLine(const char* line, std::vector<std::string>& fields) const;
  bool Split(const std::string& line, std::vector<std::string>& fields) const;

  std::vector<std::string> GetHeader() const { return m_header; }
  // Fields of the header line; 0 without a header.
  int GetColumnCount() const { return m_columnCount; }

 private:
  bool m_hasHeader = false;
  std::string m_path;
  char m_separator = ',';
  std::vector<std::string> m_header;
  int m_columnCount = 0;
  std::ifstream m_input;
  bool m_trim = false;
  bool m_cut = false;  // the last line read was longer than the limit
  std::string m_line;  // reused between lines
};

}  // namespace API
}  // namespace OXA
