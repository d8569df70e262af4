#include "infra/utility/SystemFunctions.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace OXA::API;

namespace {

// What a thread started by CreateThread saw of itself.
struct ThreadReport {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  void* arg = nullptr;
  pthread_t self{};
  int detach_state = -1;
  int scope = -1;
  int policy = -1;
  int priority = -1;
};

void* ReportThread(void* p) {
  auto* r = static_cast<ThreadReport*>(p);
  pthread_attr_t attr;
  int detach = -1, scope = -1, policy = -1;
  sched_param param{};
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getdetachstate(&attr, &detach);
    pthread_attr_getscope(&attr, &scope);
    pthread_attr_destroy(&attr);
  }
  pthread_getschedparam(pthread_self(), &policy, &param);
  std::lock_guard<std::mutex> lock(r->mu);
  r->arg = p;
  r->self = pthread_self();
  r->detach_state = detach;
  r->scope = scope;
  r->policy = policy;
  r->priority = param.sched_priority;
  r->done = true;
  r->cv.notify_all();
  return nullptr;
}

std::vector<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return cpus;
  for (int i = 0; i < CPU_SETSIZE; ++i) {
    if (CPU_ISSET(i, &set)) cpus.push_back(i);
  }
  return cpus;
}

std::vector<int> ThreadCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (pthread_getaffinity_np(pthread_self(), sizeof(set), &set) != 0) return cpus;
  for (int i = 0; i < CPU_SETSIZE; ++i) {
    if (CPU_ISSET(i, &set)) cpus.push_back(i);
  }
  return cpus;
}

std::string ThreadName() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof(name));
  return name;
}

// Runs f on a thread of its own, so pinning never touches the test runner.
template <class F>
void OnOwnThread(F f) {
  std::thread t(f);
  t.join();
}

}  // namespace

TEST(CreateThread, RunsDetachedWithTheCreatorsScheduling) {
  int creator_policy = -1;
  sched_param creator_param{};
  ASSERT_EQ(pthread_getschedparam(pthread_self(), &creator_policy, &creator_param), 0);

  ThreadReport report;
  // A real-time request the process may not hold: it is recorded, not applied.
  const pthread_t id = CreateThread(ReportThread, &report, 60, SCHED_RR);
  ASSERT_NE(id, pthread_t{});

  std::unique_lock<std::mutex> lock(report.mu);
  ASSERT_TRUE(report.cv.wait_for(lock, std::chrono::seconds(10), [&] { return report.done; }));
  EXPECT_EQ(report.arg, &report);
  EXPECT_TRUE(pthread_equal(report.self, id));
  EXPECT_EQ(report.detach_state, PTHREAD_CREATE_DETACHED);
  EXPECT_EQ(report.scope, PTHREAD_SCOPE_SYSTEM);
  EXPECT_EQ(report.policy, creator_policy);
  EXPECT_EQ(report.priority, creator_param.sched_priority);
}

TEST(CreateThread, NullStartFunctionStartsNothing) {
  EXPECT_EQ(CreateThread(nullptr, nullptr, 0, SCHED_OTHER), pthread_t{});
}

TEST(BindThreadToCpu, PinsAndNamesTheCallingThread) {
  const auto cpus = AllowedCpus();
  ASSERT_FALSE(cpus.empty());
  const int cpu = cpus.back();
  OnOwnThread([&] {
    EXPECT_TRUE(BindThreadToCpu(cpu, "oxa_pin"));
    EXPECT_EQ(ThreadCpus(), std::vector<int>{cpu});
    EXPECT_EQ(ThreadName(), "oxa_pin");
  });
}

TEST(BindThreadToCpu, LongNameIsCutToWhatTheKernelTakes) {
  const int cpu = AllowedCpus().front();
  OnOwnThread([&] {
    EXPECT_TRUE(BindThreadToCpu(cpu, "VORN_THREAD_RECEIVER"));
    EXPECT_EQ(ThreadName(), "VORN_THREAD_REC");
  });
}

TEST(BindThreadToCpu, NullNameLeavesTheNameAlone) {
  const int cpu = AllowedCpus().front();
  OnOwnThread([&] {
    pthread_setname_np(pthread_self(), "before");
    EXPECT_TRUE(BindThreadToCpu(cpu, nullptr));
    EXPECT_EQ(ThreadName(), "before");
  });
}

TEST(BindThreadToCpu, CpuThatCannotBeUsedFailsAndChangesNothing) {
  std::vector<int> bad = {-1, 1024, 100000};
  const auto allowed = AllowedCpus();
  for (int c = CPU_SETSIZE - 1; c >= 0; --c) {  // a CPU outside the allowed set
    if (std::find(allowed.begin(), allowed.end(), c) == allowed.end()) {
      bad.push_back(c);
      break;
    }
  }
  for (int cpu : bad) {
    SCOPED_TRACE(cpu);
    OnOwnThread([&] {
      pthread_setname_np(pthread_self(), "before");
      const auto cpus_before = ThreadCpus();
      EXPECT_FALSE(BindThreadToCpu(cpu, "after"));
      EXPECT_EQ(ThreadName(), "before");
      EXPECT_EQ(ThreadCpus(), cpus_before);
    });
  }
}

TEST(BindThreadToCpuModulo, TakesTheCpuModuloTheProcessorCount) {
  const int count = GetProcessorCount();
  ASSERT_GT(count, 0);
  const int cpu = AllowedCpus().front();
  ASSERT_LT(cpu, count);
  OnOwnThread([&] {
    int reported_count = -1, used = -1;
    EXPECT_TRUE(BindThreadToCpuModulo(cpu + 3 * count, "oxa_mod", &reported_count, &used));
    EXPECT_EQ(reported_count, count);
    EXPECT_EQ(used, cpu);
    EXPECT_EQ(ThreadCpus(), std::vector<int>{cpu});
    EXPECT_EQ(ThreadName(), "oxa_mod");
  });
}

namespace {

std::tm LocalTm(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace

TEST(LocalTime, NumbersAndTextMatchTheLocalClock) {
  // Read the clock around the calls; retry when a second boundary falls between.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const int hhmmss = GetLocalTimeHHMMSS();
    const int yyyymmdd = GetLocalDateYYYYMMDD();
    char date[16], time[16];
    GetLocalDateTimeText(date, sizeof(date), time, sizeof(time));
    if (std::time(nullptr) != before) continue;

    const std::tm tm = LocalTm(before);
    EXPECT_EQ(hhmmss, tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec);
    EXPECT_EQ(yyyymmdd, (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday);
    EXPECT_EQ(std::string(date), std::to_string(yyyymmdd));
    char expect_time[16];
    std::snprintf(expect_time, sizeof(expect_time), "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    EXPECT_STREQ(time, expect_time);
    EXPECT_EQ(TimeTextToInt(time), hhmmss);
    return;
  }
  FAIL() << "clock kept moving between readings";
}

TEST(LocalTime, DateTimeTextStaysWithinItsBuffers) {
  char date[5];
  char time[4];
  std::memset(date, 'x', sizeof(date));
  std::memset(time, 'x', sizeof(time));
  GetLocalDateTimeText(date, sizeof(date), time, sizeof(time));
  EXPECT_EQ(std::strlen(date), 4u);
  EXPECT_EQ(std::strlen(time), 3u);
  GetLocalDateTimeText(nullptr, 0, nullptr, 0);  // nothing to write: no crash
}

TEST(TimeTextToInt, ReadsTheFirstEightCharactersWithoutColons) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"09:30:00", 93000},     {"23:59:59", 235959}, {"00:00:01", 1},
      {"14:57:00.250", 145700}, {"9:30", 930},        {"", 0},
      {"abc", 0},               {"12:3x:00", 123},    {"123456789012", 12345678},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TimeTextToInt(c.text), c.value) << c.text;
  }
  EXPECT_EQ(TimeTextToInt(nullptr), 0);
}

TEST(TimeTextToInt, ReadsNoFurtherThanEightCharacters) {
  // a field without a terminating NUL, as in a fixed-width record
  struct {
    char time[8];
    char after[4];
  } record;
  std::memcpy(record.time, "10:11:12", 8);
  std::memcpy(record.after, "9999", 4);
  EXPECT_EQ(TimeTextToInt(record.time), 101112);
}

TEST(NextPowerOfTwo, SmallestPowerAboveAndBounded) {
  struct Case {
    uint64_t n;
    uint64_t p;
  } cases[] = {
      {0, 2},
      {1, 2},
      {2, 4},
      {3, 4},
      {4, 8},
      {5, 8},
      {7, 8},
      {1023, 1024},
      {1024, 2048},
      {(uint64_t{1} << 62), (uint64_t{1} << 63)},
      {(uint64_t{1} << 63) - 1, (uint64_t{1} << 63)},
      {(uint64_t{1} << 63), 0},  // no 64-bit answer
      {~uint64_t{0}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextPowerOfTwo(c.n), c.p) << c.n;
  }
}

TEST(CopyPadSpaces, PadsWithBlanksAndWritesNoTerminator) {
  struct Case {
    const char* text;
    int n;
    std::string expect;  // then the canary
  } cases[] = {
      {"ab", 5, "ab   "}, {"abcdef", 3, "abc"}, {"", 2, "  "}, {nullptr, 3, "   "}, {"ab", 0, ""},
  };
  for (const auto& c : cases) {
    char out[16];
    std::memset(out, '#', sizeof(out));
    CopyPadSpaces(out, c.text, c.n);
    EXPECT_EQ(std::string(out, c.expect.size()), c.expect);
    EXPECT_EQ(out[c.expect.size()], '#');
  }
}

TEST(CopyUntilSpace, StopsAtBlankOutputSizeOrTextLength) {
  struct Case {
    const char* text;
    size_t text_len;
    size_t out_size;
    const char* expect;
  } cases[] = {
      {"600000 SH", 9, 16, "600000"}, {"600000", 6, 4, "600"}, {"600000", 3, 16, "600"},
      {" lead", 5, 16, ""},           {"abc", 10, 16, "abc"},  {nullptr, 5, 16, ""},
  };
  for (const auto& c : cases) {
    char out[16];
    std::memset(out, '#', sizeof(out));
    const size_t n = CopyUntilSpace(out, c.out_size, c.text, c.text_len);
    EXPECT_STREQ(out, c.expect);
    EXPECT_EQ(n, std::strlen(c.expect));
  }
  char one = '#';
  EXPECT_EQ(CopyUntilSpace(&one, 1, "abc", 3), 0u);
  EXPECT_EQ(one, '\0');
}

TEST(TextTrim, TrimCrLfSpaceAndStripLeadingChar) {
  struct Case {
    const char* in;
    const char* out;
  } trims[] = {
      {"  abc \r\n", "abc"}, {"\r\n\r\n", ""}, {"", ""}, {"a b", "a b"}, {"\tx\t", "\tx\t"},
  };
  for (const auto& c : trims) {
    std::string buf(c.in);
    EXPECT_STREQ(TrimCrLfSpace(&buf[0]), c.out) << '[' << c.in << ']';
  }
  struct Strip {
    const char* in;
    char c;
    const char* out;
  } strips[] = {
      {"000123", '0', "123"}, {"0000", '0', ""}, {"1200", '0', "1200"}, {"abc", '\0', "abc"},
  };
  for (const auto& c : strips) {
    std::string buf(c.in);
    EXPECT_STREQ(StripLeadingChar(&buf[0], c.c), c.out) << c.in;
  }
  EXPECT_EQ(TrimCrLfSpace(nullptr), nullptr);
  EXPECT_EQ(StripLeadingChar(nullptr, '0'), nullptr);
}

TEST(CompareDouble, EqualWithinTwoToTheMinus23) {
  const double eps = 1.1920928955078125e-7;
  struct Case {
    double a, b;
    int r;
  } cases[] = {
      {1.0, 1.0, 0}, {1.0, 1.0 + eps, 0}, {1.0 + 2 * eps, 1.0, 1}, {1.0, 1.0 + 2 * eps, -1},
      {-5.0, 3.0, -1}, {3.0, -5.0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareDouble(c.a, c.b), c.r) << c.a << " vs " << c.b;
  }
}

TEST(ConvertCodePage, Gb18030RoundTrip) {
  const char utf8[] = "\xe4\xb8\xad\xe6\x96\x87";  // two Chinese characters
  const unsigned char gb[] = {0xD6, 0xD0, 0xCE, 0xC4};

  char out[16];
  std::memset(out, '#', sizeof(out));
  size_t out_len = sizeof(out);
  ASSERT_TRUE(ConvertCodePage("UTF-8", "GB18030", utf8, 6, out, &out_len));
  ASSERT_EQ(out_len, sizeof(gb));
  EXPECT_EQ(std::memcmp(out, gb, sizeof(gb)), 0);
  EXPECT_EQ(out[out_len], '\0');  // the rest was cleared

  char back[16];
  size_t back_len = sizeof(back);
  ASSERT_TRUE(ConvertCodePage("GB18030", "UTF-8", out, out_len, back, &back_len));
  EXPECT_EQ(std::string(back, back_len), std::string(utf8));
}

TEST(ConvertCodePage, FailuresAreReported) {
  const char utf8[] = "\xe4\xb8\xad\xe6\x96\x87";
  char out[3];
  size_t len = sizeof(out);
  EXPECT_FALSE(ConvertCodePage("UTF-8", "GB18030", utf8, 6, out, &len)) << "output too small";

  len = sizeof(out);
  EXPECT_FALSE(ConvertCodePage("UTF-8", "GB18030", "\xff\xfe", 2, out, &len)) << "invalid input";

  len = sizeof(out);
  EXPECT_FALSE(ConvertCodePage("NO-SUCH-CODE-PAGE", "UTF-8", "a", 1, out, &len));
  EXPECT_FALSE(ConvertCodePage(nullptr, "UTF-8", "a", 1, out, &len));

  char empty[4];
  size_t empty_len = sizeof(empty);
  EXPECT_TRUE(ConvertCodePage("UTF-8", "GB18030", "", 0, empty, &empty_len));
  EXPECT_EQ(empty_len, 0u);
}
