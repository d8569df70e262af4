// Reads one text line of bounded length into a std::string, for the file
// readers that cap their lines: the cap is a rule of the file format, not the
// size of a buffer, so a reader can tell a line at the cap from one past it.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace OXA {
namespace API {

enum class BoundedLineResult {
  Line,     // a whole line, without its line feed (the last line may lack one)
  TooLong,  // more than max_chars before the line feed: the first max_chars
  End,      // nothing was left to read
};

// Like std::istream::getline on a buffer of max_chars + 1 characters, with
// the same stream states: end-of-file when the input ran out, fail when
// nothing was read or the line was longer than max_chars (the rest of that
// line stays unread).
inline BoundedLineResult ReadBoundedLine(std::istream& in, std::string& line, std::size_t max_chars) {
  line.clear();
  std::istream::sentry ok(in, true);
  if (!ok) return BoundedLineResult::End;
  std::streambuf* buf = in.rdbuf();
  using traits = std::istream::traits_type;
  bool any = false;
  for (;;) {
    const int c = buf->sgetc();
    if (traits::eq_int_type(c, traits::eof())) {
      in.setstate(any ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit);
      return any ? BoundedLineResult::Line : BoundedLineResult::End;
    }
    if (c == '\n') {
      buf->sbumpc();
      return BoundedLineResult::Line;
    }
    if (line.size() == max_chars) {
      in.setstate(std::ios::failbit);
      return BoundedLineResult::TooLong;
    }
    line.push_back(traits::to_char_type(c));
    buf->sbumpc();
    any = true;
  }
}

}  // namespace API
}  // namespace OXA
