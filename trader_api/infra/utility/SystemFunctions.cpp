#include "infra/utility/SystemFunctions.h"

#include <iconv.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace OXA {
namespace API {

pthread_t CreateThread(ThreadStart start, void* arg, int priority, int policy) {
  if (start == nullptr) return 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return 0;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setscope(&attr, PTHREAD_SCOPE_SYSTEM);
  // Recorded only: the inherit-scheduling attribute stays at its default, so
  // the thread keeps the creator's policy and needs no privileges to start.
  pthread_attr_setschedpolicy(&attr, policy);
  sched_param param{};
  param.sched_priority = priority;
  pthread_attr_setschedparam(&attr, &param);

  pthread_t id{};
  const int rc = pthread_create(&id, &attr, start, arg);
  pthread_attr_destroy(&attr);
  return rc == 0 ? id : pthread_t{};
}

bool BindThreadToCpu(int cpu, const char* name) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu >= 0 && cpu < CPU_SETSIZE) CPU_SET(cpu, &set);
  if (pthread_setaffinity_np(pthread_self(), sizeof(set), &set) != 0) return false;
  if (name != nullptr) {
    // the kernel takes 15 characters; a longer name would be refused outright
    char cut[16] = {};
    std::strncpy(cut, name, sizeof(cut) - 1);
    pthread_setname_np(pthread_self(), cut);
  }
  return true;
}

int GetProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool BindThreadToCpuModulo(int cpu, const char* name, int* processor_count, int* cpu_used) {
  const int count = GetProcessorCount();
  const int used = cpu % count;
  if (processor_count != nullptr) *processor_count = count;
  if (cpu_used != nullptr) *cpu_used = used;
  return BindThreadToCpu(used, name);
}

namespace {

bool LocalNow(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  return localtime_r(&now, &out) != nullptr;
}

}  // namespace

int GetLocalTimeHHMMSS() {
  std::tm t{};
  if (!LocalNow(t)) return 0;
  return t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec;
}

int GetLocalDateYYYYMMDD() {
  std::tm t{};
  if (!LocalNow(t)) return 0;
  return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

void GetLocalDateTimeText(char* date, size_t date_size, char* time, size_t time_size) {
  std::tm t{};
  if (!LocalNow(t)) return;
  if (date != nullptr && date_size > 0) {
    std::snprintf(date, date_size, "%d", (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday);
  }
  if (time != nullptr && time_size > 0) {
    std::snprintf(time, time_size, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
  }
}

int TimeTextToInt(const char* text) {
  if (text == nullptr) return 0;
  char digits[9] = {};
  size_t n = 0;
  for (size_t i = 0; i < 8 && text[i] != '\0'; ++i) {
    if (text[i] != ':') digits[n++] = text[i];
  }
  // at most 8 characters, so the number always fits
  return static_cast<int>(std::strtol(digits, nullptr, 10));
}

void CopyPadSpaces(char* out, const char* text, int n) {
  if (out == nullptr || n <= 0) return;
  int i = 0;
  if (text != nullptr) {
    for (; i < n && text[i] != '\0'; ++i) out[i] = text[i];
  }
  for (; i < n; ++i) out[i] = ' ';
}

size_t CopyUntilSpace(char* out, size_t out_size, const char* text, size_t text_len) {
  if (out == nullptr || out_size == 0) return 0;
  size_t i = 0;
  if (text != nullptr) {
    for (; i + 1 < out_size && i < text_len && text[i] != '\0' && text[i] != ' '; ++i) out[i] = text[i];
  }
  out[i] = '\0';
  return i;
}

uint64_t NextPowerOfTwo(uint64_t n) {
  if (n < 2) return 2;
  if (n >= (uint64_t{1} << 63)) return 0;
  uint64_t p = 2;
  while (p <= n) p <<= 1;
  return p;
}

namespace {

bool IsCrLfSpace(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

char* TrimCrLfSpace(char* text) {
  if (text == nullptr) return text;
  size_t len = std::strlen(text);
  size_t start = 0;
  while (start < len && IsCrLfSpace(text[start])) ++start;
  while (len > start && IsCrLfSpace(text[len - 1])) --len;
  if (start > 0) std::memmove(text, text + start, len - start);
  text[len - start] = '\0';
  return text;
}

char* StripLeadingChar(char* text, char c) {
  if (text == nullptr || c == '\0') return text;
  size_t start = 0;
  while (text[start] == c) ++start;
  if (start > 0) std::memmove(text, text + start, std::strlen(text + start) + 1);
  return text;
}

int CompareDouble(double a, double b) {
  constexpr double kEpsilon = 1.1920928955078125e-7;  // 2^-23
  if (std::fabs(a - b) <= kEpsilon) return 0;
  return a > b ? 1 : -1;
}

bool ConvertCodePage(const char* from, const char* to, const char* in, size_t in_len, char* out,
                     size_t* out_len) {
  if (from == nullptr || to == nullptr || out == nullptr || out_len == nullptr) return false;
  if (in == nullptr && in_len > 0) return false;
  std::memset(out, 0, *out_len);
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;

  char* src = const_cast<char*>(in);  // iconv does not write through it
  size_t src_left = in_len;
  char* dst = out;
  size_t dst_left = *out_len;
  bool ok = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1);
  // flush any shift state of a stateful target code page
  if (ok) ok = iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  *out_len = static_cast<size_t>(dst - out);
  return true;
}

}  // namespace API
}  // namespace OXA
