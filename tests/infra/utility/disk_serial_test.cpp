#include "infra/utility/DiskSerial.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace OXA::API;

namespace {

std::vector<unsigned char> ScsiPage(const std::string& serial, int page_length = -1) {
  std::vector<unsigned char> page(kScsiInquiryLength, 0);
  page[1] = 0x80;
  page[3] = static_cast<unsigned char>(page_length >= 0 ? page_length : serial.size());
  std::memcpy(page.data() + 4, serial.data(), std::min(serial.size(), page.size() - 4));
  return page;
}

sg_io_hdr_t FinishedRequest(unsigned resid = 0) {
  sg_io_hdr_t hdr{};
  hdr.dxfer_len = kScsiInquiryLength;
  hdr.resid = static_cast<int>(resid);
  hdr.info = SG_INFO_OK;
  return hdr;
}

}  // namespace

TEST(ScsiTransferredLength, CountsOnlyBytesTheDeviceSent) {
  EXPECT_EQ(ScsiTransferredLength(FinishedRequest()), 255);
  EXPECT_EQ(ScsiTransferredLength(FinishedRequest(231)), 24);
  EXPECT_EQ(ScsiTransferredLength(FinishedRequest(255)), 0);

  sg_io_hdr_t odd = FinishedRequest();
  odd.resid = -5;  // never more than the buffer
  EXPECT_EQ(ScsiTransferredLength(odd), 255);
  odd.resid = 400;
  EXPECT_EQ(ScsiTransferredLength(odd), 0);
}

TEST(ScsiTransferredLength, AnyFailedStatusFieldRejectsTheAnswer) {
  struct Case {
    const char* what;
    void (*set)(sg_io_hdr_t&);
  } cases[] = {
      {"info not ok", [](sg_io_hdr_t& h) { h.info = SG_INFO_CHECK; }},
      {"check condition", [](sg_io_hdr_t& h) { h.status = 0x02; h.masked_status = 0x01; }},
      {"masked status", [](sg_io_hdr_t& h) { h.masked_status = 0x01; }},
      {"host status", [](sg_io_hdr_t& h) { h.host_status = 0x01; }},  // no connect
      {"driver status", [](sg_io_hdr_t& h) { h.driver_status = 0x08; }},  // sense
  };
  for (const auto& c : cases) {
    sg_io_hdr_t hdr = FinishedRequest();
    c.set(hdr);
    EXPECT_EQ(ScsiTransferredLength(hdr), -1) << c.what;
  }
}

TEST(ParseScsiSerialPage, DropsBlanksAndWritesSemicolonForColon) {
  const auto page = ScsiPage("  WD-WX1:23 4\t\x01");
  char out[kDiskSerialSize];
  ASSERT_TRUE(ParseScsiSerialPage(page.data(), page.size(), out, sizeof(out)));
  EXPECT_STREQ(out, "WD-WX1;234");
}

TEST(ParseScsiSerialPage, KeepsTheLastTwentyCharacters) {
  const auto page = ScsiPage("ABCDEFGHIJ0123456789abcdefghij");  // 30 characters
  char out[kDiskSerialSize];
  ASSERT_TRUE(ParseScsiSerialPage(page.data(), page.size(), out, sizeof(out)));
  EXPECT_STREQ(out, "0123456789abcdefghij");
}

TEST(ParseScsiSerialPage, PageLengthBoundedByTransferredBytes) {
  // The device says 40 bytes but sent only 4 + 6; what lies beyond is stale buffer.
  auto page = ScsiPage("SER123STALESTALESTALE", 40);
  char out[kDiskSerialSize];
  ASSERT_TRUE(ParseScsiSerialPage(page.data(), 10, out, sizeof(out)));
  EXPECT_STREQ(out, "SER123");
}

TEST(ParseScsiSerialPage, PageLengthBoundedByTheBuffer) {
  // page length 255 in a 255-byte answer: only 251 serial bytes exist
  std::vector<unsigned char> page(kScsiInquiryLength + 64, 'Z');
  page[3] = 255;
  for (size_t i = 4; i < kScsiInquiryLength; ++i) page[i] = static_cast<unsigned char>('0' + i % 10);
  char out[kDiskSerialSize];
  // a caller claiming more than the inquiry buffer is still held to it
  ASSERT_TRUE(ParseScsiSerialPage(page.data(), page.size(), out, sizeof(out)));
  std::string expect;
  for (size_t i = kScsiInquiryLength - 20; i < kScsiInquiryLength; ++i) expect += char('0' + i % 10);
  EXPECT_EQ(std::string(out), expect);
}

TEST(ParseScsiSerialPage, NothingUsableGivesFalseAndAnEmptyOutput) {
  struct Case {
    const char* what;
    std::vector<unsigned char> page;
    size_t transferred;
  } cases[] = {
      {"page length 0", ScsiPage("", 0), kScsiInquiryLength},
      {"header only", ScsiPage("ABC"), 3},
      {"nothing sent", ScsiPage("ABC"), 0},
      {"blanks only", ScsiPage("        "), kScsiInquiryLength},
      {"length cut to zero", ScsiPage("ABC"), 4},
  };
  for (const auto& c : cases) {
    char out[16];
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(ParseScsiSerialPage(c.page.data(), c.transferred, out, sizeof(out))) << c.what;
    EXPECT_STREQ(out, "") << c.what;
  }
  char out[4];
  EXPECT_FALSE(ParseScsiSerialPage(nullptr, 100, out, sizeof(out)));
}

TEST(ParseScsiSerialPage, SmallOutputIsNeverOverrun) {
  const auto page = ScsiPage("0123456789");
  char out[6];
  ASSERT_TRUE(ParseScsiSerialPage(page.data(), page.size(), out, 5));
  EXPECT_STREQ(out, "0123");
}

namespace {

std::vector<unsigned char> Identity(const char* serial, size_t n) {
  std::vector<unsigned char> id(kIdeIdentityLength, 0);
  std::memset(id.data(), 0x41, kIdeSerialOffset);  // fields before the serial
  std::memcpy(id.data() + kIdeSerialOffset, serial, n);
  std::memset(id.data() + kIdeSerialOffset + kIdeSerialLength, 0x42, 8);  // firmware revision
  return id;
}

}  // namespace

TEST(ParseIdeIdentity, SerialFieldAsItIs) {
  struct Case {
    const char* serial;
    size_t n;
    const char* expect;
  } cases[] = {
      {"     WD-WMC1T0123456", 20, "     WD-WMC1T0123456"},
      {"S1AB2CD3EF4GH5IJ6KL7", 20, "S1AB2CD3EF4GH5IJ6KL7"},  // fills the field: no NUL in it
      {"ABC\0junk", 8, "ABC"},
  };
  for (const auto& c : cases) {
    const auto id = Identity(c.serial, c.n);
    char out[kDiskSerialSize];
    ASSERT_TRUE(ParseIdeIdentity(id.data(), id.size(), out, sizeof(out))) << c.expect;
    EXPECT_STREQ(out, c.expect);
  }
}

TEST(ParseIdeIdentity, EmptyFieldOrShortDataGivesFalse) {
  char out[kDiskSerialSize];
  const auto empty = Identity("", 0);
  EXPECT_FALSE(ParseIdeIdentity(empty.data(), empty.size(), out, sizeof(out)));
  const auto id = Identity("SERIAL", 6);
  EXPECT_FALSE(ParseIdeIdentity(id.data(), kIdeSerialOffset + kIdeSerialLength - 1, out, sizeof(out)));
  EXPECT_STREQ(out, "");
}

namespace {

const char kLshwOutput[] =
    "host01\n"
    "    description: Computer\n"
    "    product: Standard PC\n"
    "    serial: SYSTEM-SERIAL\n"
    "  *-core\n"
    "       description: Motherboard\n"
    "       serial: BOARD-SERIAL\n"
    "     *-scsi\n"
    "          physical id: 2\n"
    "        *-disk\n"
    "             description: ATA Disk\n"
    "             product: Samsung SSD 860\n"
    "             logical name: /dev/sda\n"
    "             serial: s3z9nb0k 123456\n"
    "             size: 465GiB\n"
    "           *-volume\n"
    "                serial: volume-serial\n"
    "        *-disk:1\n"
    "             serial: SECOND-DISK\n";

struct LshwCase {
  const char* what;
  std::string text;
  bool found;
  std::string serial;
};

std::vector<LshwCase> LshwCases() {
  std::vector<LshwCase> cases = {
      {"first disk's serial", kLshwOutput, true, "s3z9nb0k123456"},
      {"numbered disk entry", "  *-disk:0\n     serial: ABC-1\n", true, "ABC-1"},
      {"tabs and CRLF", "\t*-disk\r\n\t\tserial:\tAB C\r\n", true, "ABC"},
      {"disk ends before a serial", "*-disk\n  size: 1\n  *-volume\n  serial: VOL\n", false, ""},
      {"no disk at all", "host\n  serial: SYS\n  *-memory\n    serial: MEM\n", false, ""},
      {"serial without a value", "*-disk\n   serial:   \n*-disk:1\n  serial: X\n", false, ""},
      {"bare key at the line end", "*-disk\n   serial", false, ""},
      {"empty output", "", false, ""},
  };
  // A line longer than the reader's 1,023 characters is cut: its tail must not
  // be read as a line of its own.
  std::string long_line = "    description: " + std::string(1023 - 17, 'x') + "*-disk\n";
  cases.push_back({"tail of a long line", long_line + "    serial: WRONG\n", false, ""});
  std::string long_serial = "  *-disk\n    serial: " + std::string(2000, 'A') + "\n";
  cases.push_back({"long serial line", long_serial, true, std::string(1023 - 4 - 8, 'A')});
  return cases;
}

}  // namespace

TEST(ParseLshwSerial, CannedOutputs) {
  for (const auto& c : LshwCases()) {
    char out[kDiskSerialSize];
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(ParseLshwSerial(c.text, out, sizeof(out)), c.found) << c.what;
    EXPECT_EQ(std::string(out), c.serial) << c.what;
  }
}

TEST(ParseLshwSerial, OutputIsBounded) {
  char out[8];
  ASSERT_TRUE(ParseLshwSerial("*-disk\n serial: 0123456789\n", out, sizeof(out)));
  EXPECT_STREQ(out, "0123456");
}

// The live reader runs whatever "lshw" the PATH names; a script stands in for
// the real tool, which this machine may lack.
class FakeLshw : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir_template[] = "/tmp/oxa_lshw_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    dir_ = dir_template;
    work_ = dir_ + "/work";
    ASSERT_EQ(mkdir(work_.c_str(), 0700), 0);
    const char* path = std::getenv("PATH");
    old_path_ = path != nullptr ? path : "";
    setenv("PATH", (dir_ + ":" + old_path_).c_str(), 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(work_.c_str()), 0);
  }

  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    if (!old_cwd_.empty()) {
      EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
    }
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  void Script(const std::string& body) {
    const std::string file = dir_ + "/lshw";
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    ASSERT_EQ(chmod(file.c_str(), 0700), 0);
  }

  void Output(const std::string& text) {
    std::ofstream(dir_ + "/canned.txt", std::ios::binary) << text;
    Script("cat '" + dir_ + "/canned.txt'");
  }

  size_t FilesInWorkingFolder() const {
    size_t n = 0;
    if (DIR* d = opendir(work_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
      }
      closedir(d);
    }
    return n;
  }

  std::string dir_, work_, old_path_, old_cwd_;
};

TEST_F(FakeLshw, ReadsThroughAPipeAndWritesNoFile) {
  for (const auto& c : LshwCases()) {
    Output(c.text);
    char out[kDiskSerialSize];
    std::memset(out, '#', sizeof(out));
    EXPECT_EQ(ReadLshwSerial(out, sizeof(out)), c.found) << c.what;
    EXPECT_EQ(std::string(out), c.serial) << c.what;
  }
  EXPECT_EQ(FilesInWorkingFolder(), 0u);
}

TEST_F(FakeLshw, StopsReadingOnceTheSerialIsFound) {
  // endless output after the serial: the reader closes the pipe and the tool ends
  Script("printf '  *-disk\\n    serial: EARLY\\n'\nexec yes filler");
  const auto start = std::chrono::steady_clock::now();
  char out[kDiskSerialSize];
  ASSERT_TRUE(ReadLshwSerial(out, sizeof(out)));
  EXPECT_STREQ(out, "EARLY");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(FakeLshw, MissingToolGivesFalse) {
  setenv("PATH", dir_.c_str(), 1);  // no lshw in it
  char out[16];
  std::memset(out, '#', sizeof(out));
  EXPECT_FALSE(ReadLshwSerial(out, sizeof(out)));
  EXPECT_STREQ(out, "");
}

TEST(DeviceReaders, DevicesWithoutAnAnswerGiveFalseCleanly) {
  // a path that does not exist, and devices that refuse both ioctls
  for (const char* dev : {"/nonexistent/sda", "/dev/null", "/dev/zero"}) {
    char out[16];
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(ReadScsiSerial(dev, out, sizeof(out))) << dev;
    EXPECT_STREQ(out, "") << dev;
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(ReadIdeSerial(dev, out, sizeof(out))) << dev;
    EXPECT_STREQ(out, "") << dev;
  }
  char out[4];
  EXPECT_FALSE(ReadScsiSerial(nullptr, out, sizeof(out)));
  EXPECT_FALSE(ReadIdeSerial(nullptr, out, sizeof(out)));
}

namespace {

std::vector<std::string> g_calls;
std::string g_answer_from;  // the call that succeeds
std::string g_answer;

bool Answer(const std::string& call, char* out, size_t out_size) {
  g_calls.push_back(call);
  if (call != g_answer_from) {
    std::strncpy(out, "stale-partial", out_size - 1);  // a failing reader's leftovers
    return false;
  }
  std::strncpy(out, g_answer.c_str(), out_size - 1);
  return true;
}

bool FakeScsi(const char* dev, char* out, size_t n) { return Answer(std::string("scsi ") + dev, out, n); }
bool FakeIde(const char* dev, char* out, size_t n) { return Answer(std::string("ide ") + dev, out, n); }
bool FakeLshwReader(char* out, size_t n) { return Answer("lshw", out, n); }

}  // namespace

TEST(FindDiskSerial, TriesTheReadersInOrderAndUpperCases) {
  const std::vector<std::string> order = {"scsi /dev/sda", "scsi /dev/sdb", "ide /dev/hda",
                                          "ide /dev/hdb", "lshw"};
  for (size_t k = 0; k < order.size(); ++k) {
    SCOPED_TRACE(order[k]);
    g_calls.clear();
    g_answer_from = order[k];
    g_answer = "ab:c-12z";
    char out[kDiskSerialSize];
    FindDiskSerial({FakeScsi, FakeIde, FakeLshwReader}, out, sizeof(out));
    EXPECT_STREQ(out, "AB:C-12Z");
    EXPECT_EQ(g_calls, std::vector<std::string>(order.begin(), order.begin() + k + 1));
  }
}

TEST(FindDiskSerial, NoReaderAnswersGivesAnEmptySerial) {
  g_calls.clear();
  g_answer_from = "none";
  char out[kDiskSerialSize];
  FindDiskSerial({FakeScsi, FakeIde, FakeLshwReader}, out, sizeof(out));
  EXPECT_STREQ(out, "");
  EXPECT_EQ(g_calls.size(), 5u);
}

TEST(GetDiskSerial, FoundOncePerProcess) {
  const auto start = std::chrono::steady_clock::now();
  const char* first = GetDiskSerial();
  const auto first_took = std::chrono::steady_clock::now() - start;
  const std::string text = first;

  // The fastest of many later calls: one call alone may lose the processor on a busy machine.
  const char* second = nullptr;
  auto second_took = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 100; ++i) {
    const auto again = std::chrono::steady_clock::now();
    second = GetDiskSerial();
    second_took = std::min(second_took, std::chrono::steady_clock::now() - again);
    ASSERT_EQ(first, second);
  }

  EXPECT_EQ(text, second);
  EXPECT_LE(second_took, first_took + std::chrono::milliseconds(5));
  EXPECT_LT(text.size(), kDiskSerialSize);
  for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
}
