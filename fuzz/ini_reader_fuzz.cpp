// Loads arbitrary bytes with the three INI readers. Every pair a reader lists
// must be found under its section (and, in the multi-section reader, under
// that section's occurrence number); the two readers with one line limit list
// the same sections and pairs, and the reader with the longer limit lists at
// least the sections they do. The typed getters run on every pair.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "FuzzFile.h"
#include "infra/utility/CIniReader.h"

using OXA::API::CIniMultiSectionReader;
using OXA::API::CIniReader;
using OXA::API::CIniSectionReader;
using OXA::API::IniSectionList;

namespace {

bool HasZero(const std::string& s) { return s.find('\0') != std::string::npos; }

void Getters(const CIniReader& ini, const char* s, const char* k) {
  int32_t i32 = 0;
  int64_t i64 = 0;
  double d = 0;
  const char* text = nullptr;
  char buffer[16];
  char c = 0;
  bool b = false;
  std::string str;
  if (!ini.GetInt(s, k, i32) || !ini.GetInt64(s, k, i64) || !ini.GetDouble(s, k, d) || !ini.GetString(s, k, text) ||
      !ini.GetBool(s, k, b) || !ini.GetStdString(s, k, str))
    __builtin_trap();
  if (str != text) __builtin_trap();
  const bool copied = ini.GetStringCopy(s, k, buffer, sizeof buffer);
  if (copied != (str.size() + 1 < sizeof buffer)) __builtin_trap();
  if (copied && str != buffer) __builtin_trap();
  if (ini.GetChar(s, k, c) != !str.empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzFile file("ini_fuzz");
  const char* path = file.Set(data, size);
  CIniReader ini(path);
  CIniSectionReader ordered(path);
  CIniMultiSectionReader multi(path);
  if (!ini.IsLoaded()) __builtin_trap();

  for (const auto& section : ini.GetSections()) {
    if (HasZero(section.name)) continue;
    for (const auto& pair : section.pairs) {
      if (HasZero(pair.first)) continue;
      if (ini.Find(section.name.c_str(), pair.first.c_str()) == nullptr) __builtin_trap();
      Getters(ini, section.name.c_str(), pair.first.c_str());
    }
  }

  const IniSectionList& a = ordered.GetSections();
  const IniSectionList& m = multi.GetSections();
  if (a.size() != m.size() || a.size() > ini.GetSections().size()) __builtin_trap();
  std::map<std::string, int> seen;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != m[i].name || a[i].pairs != m[i].pairs) __builtin_trap();
    if (a[i].name != ini.GetSections()[i].name) __builtin_trap();
    const int occurrence = ++seen[a[i].name];
    if (HasZero(a[i].name)) continue;
    for (const auto& pair : a[i].pairs) {
      if (HasZero(pair.first)) continue;
      if (ordered.Find(a[i].name.c_str(), pair.first.c_str()) == nullptr) __builtin_trap();
      if (multi.Find(a[i].name.c_str(), pair.first.c_str(), occurrence) == nullptr) __builtin_trap();
    }
  }
  for (const auto& [name, count] : seen) {
    if (!HasZero(name) && multi.GetSectionCount(name.c_str()) != count) __builtin_trap();
  }
  return 0;
}
