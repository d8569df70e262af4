#include "gateway_sim/SimState.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace oxa_sim {
namespace {

constexpr const char* kOrdinal = "ordinal";
constexpr const char* kOrderNumber = "order_no";
constexpr const char* kPush = "push";
constexpr const char* kEnd = "end";  // closes a line, so a line cut short is never taken

bool parse_u64(const std::string& text, std::uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  char* end = nullptr;
  out = std::strtoull(text.c_str(), &end, 10);
  return end && *end == '\0';
}

bool parse_u32(const std::string& text, std::uint32_t& out) {
  std::uint64_t v = 0;
  if (!parse_u64(text, v) || v > 0xffffffffull) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string format_state_record(const StateRecord& r) {
  std::ostringstream out;
  switch (r.kind) {
    case StateRecord::Kind::kOrdinal:
      out << kOrdinal << ' ' << r.account << ' ' << r.value;
      break;
    case StateRecord::Kind::kOrderNumber:
      out << kOrderNumber << ' ' << r.account << ' ' << r.value;
      break;
    case StateRecord::Kind::kPush: {
      static const char digits[] = "0123456789abcdef";
      out << kPush << ' ' << r.account << ' ' << r.value << ' ' << r.msg_id << ' ';
      if (r.body.empty()) out << '-';
      for (std::uint8_t b : r.body) out << digits[b >> 4] << digits[b & 0xf];
      break;
    }
  }
  out << ' ' << kEnd;
  return out.str();
}

bool parse_state_record(const std::string& line, StateRecord& out) {
  std::istringstream in(line);
  std::string kind, account, value, end;
  if (!(in >> kind >> account >> value)) return false;
  StateRecord r;
  if (!parse_u64(account, r.account) || !parse_u32(value, r.value)) return false;
  if (kind == kOrdinal || kind == kOrderNumber) {
    r.kind = kind == kOrdinal ? StateRecord::Kind::kOrdinal : StateRecord::Kind::kOrderNumber;
  } else if (kind == kPush) {
    r.kind = StateRecord::Kind::kPush;
    std::string msg, hex;
    if (!(in >> msg >> hex) || !parse_u32(msg, r.msg_id)) return false;
    if (hex != "-") {
      if (hex.size() % 2 != 0) return false;
      r.body.reserve(hex.size() / 2);
      for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        r.body.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
      }
    }
  } else {
    return false;
  }
  if (!(in >> end) || end != kEnd) return false;
  if (in >> end) return false;  // nothing may follow
  out = std::move(r);
  return true;
}

StateJournal::~StateJournal() {
  if (file_) std::fclose(file_);
}

bool StateJournal::open(const std::string& path,
                        const std::function<void(const StateRecord&)>& on_record) {
  if (is_open()) return false;
  bool torn = false;
  {
    // handed on outside the lock: the owner takes its own locks to apply them
    std::ifstream in(path, std::ios::binary);
    std::string line;
    StateRecord r;
    while (std::getline(in, line)) {
      torn = in.eof();  // the last line had no newline: cut by a kill
      if (parse_state_record(line, r) && on_record) on_record(r);
    }
  }
  std::lock_guard<std::mutex> lk(mu_);
  if (file_) return false;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) return false;
  if (torn) {
    // the next record starts a line of its own
    std::fputc('\n', file_);
    std::fflush(file_);
  }
  return true;
}

bool StateJournal::is_open() const {
  std::lock_guard<std::mutex> lk(mu_);
  return file_ != nullptr;
}

void StateJournal::append(const StateRecord& r) {
  const std::string line = format_state_record(r);
  std::lock_guard<std::mutex> lk(mu_);
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);  // in the kernel's hands: a killed process keeps it
}

}  // namespace oxa_sim
