// What the simulated gateway keeps over a restart, as a real gateway keeps it: account ordinals
// (fund index and session number), stored pushes (their numbers and bodies) and the highest
// order number seen per account. Kept as an append-only text journal, one record a line, each
// line handed to the kernel when it is written, so a sim killed at any point loses at most the
// line it was writing; a torn last line is skipped when the journal is read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace oxa_sim {

struct StateRecord {
  enum class Kind { kOrdinal, kOrderNumber, kPush };
  Kind kind = Kind::kOrdinal;
  std::uint64_t account = 0;
  std::uint32_t value = 0;   // the ordinal, the order number or the push's number
  std::uint32_t msg_id = 0;  // pushes only
  std::vector<std::uint8_t> body;
};

class StateJournal {
 public:
  StateJournal() = default;
  ~StateJournal();
  StateJournal(const StateJournal&) = delete;
  StateJournal& operator=(const StateJournal&) = delete;

  // Reads every whole record of the file at path (a missing file has none), then opens it for
  // appending. False when the file cannot be opened.
  bool open(const std::string& path, const std::function<void(const StateRecord&)>& on_record);
  bool is_open() const;
  void append(const StateRecord& r);

 private:
  mutable std::mutex mu_;
  std::FILE* file_ = nullptr;
};

// One record as its journal line (without the newline), and back; false for a line that is not
// a whole record.
std::string format_state_record(const StateRecord& r);
bool parse_state_record(const std::string& line, StateRecord& out);

}  // namespace oxa_sim
