#include "api/TerminalInfo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "gateway_sim/GatewaySim.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "infra/utility/DiskSerial.h"

using namespace OXA::API;

namespace {

const std::string kTail = ";PCN=NA;CPU=NA;PI=NA;VOL=NA;@KORVA-API";

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));  // may fill the field without a NUL
}

OXATerminalInfo Record(int term_type, const std::string& iip, int iport, const std::string& lip,
                       const std::string& mac, const std::string& hd) {
  OXATerminalInfo r;
  std::memset(&r, 0, sizeof(r));
  r.term_type = term_type;
  r.IPORT = iport;
  Put(r.IIP, iip);
  Put(r.LIP, lip);
  Put(r.MAC, mac);
  Put(r.HD, hd);
  return r;
}

// Sends the default logger to a string for the test's lifetime.
class CapturedLog {
 public:
  CapturedLog() : previous_(spdlog::default_logger()) {
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    auto logger = std::make_shared<spdlog::logger>("terminal_info_test", sink);
    logger->set_pattern("%l %v");
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
  }
  ~CapturedLog() { spdlog::set_default_logger(previous_); }
  std::string Text() {
    spdlog::default_logger()->flush();
    return out_.str();
  }

 private:
  std::shared_ptr<spdlog::logger> previous_;
  std::ostringstream out_;
};

}  // namespace

TEST(BuildTerminalInfo, RecordWithOnlyTypeAndInternetAddress) {
  const OXATerminalInfo r = Record(2, "58.33.10.7", 0, "", "", "");
  EXPECT_EQ(std::string(BuildTerminalInfo(&r)),
            "MA;IIP=58.33.10.7;IPORT=NA;LIP=NA;MAC=NA;HD=NA" + kTail);
}

TEST(BuildTerminalInfo, FullRecord) {
  const OXATerminalInfo r = Record(1, "58.33.10.7", 52001, "10.8.0.21", "00163E0A1B2C", "S3Z9NB0K123456");
  EXPECT_EQ(std::string(BuildTerminalInfo(&r)),
            "PC;IIP=58.33.10.7;IPORT=52001;LIP=10.8.0.21;MAC=00163E0A1B2C;HD=S3Z9NB0K123456" + kTail);
}

TEST(BuildTerminalInfo, TerminalTypeCodes) {
  const std::map<int, std::string> codes = {{1, "PC"}, {2, "MA"}, {3, "MI"}, {4, "MW"},
                                            {5, "WP"}, {6, "TO"}, {7, "OH"}};
  for (const auto& [type, code] : codes) {
    const OXATerminalInfo r = Record(type, "", 0, "", "", "");
    EXPECT_EQ(std::string(BuildTerminalInfo(&r)),
              code + ";IIP=NA;IPORT=NA;LIP=NA;MAC=NA;HD=NA" + kTail);
  }
}

TEST(BuildTerminalInfo, UnknownTypeLogsAndLeavesTheCodeEmpty) {
  for (int type : {0, 8, -1, 1000}) {
    CapturedLog log;
    const OXATerminalInfo r = Record(type, "1.2.3.4", 7, "", "", "");
    EXPECT_EQ(std::string(BuildTerminalInfo(&r)), ";IIP=1.2.3.4;IPORT=7;LIP=NA;MAC=NA;HD=NA" + kTail);
    const std::string text = log.Text();
    EXPECT_NE(text.find("error [TerminalInfo.cpp "), std::string::npos) << text;
    EXPECT_NE(text.find("]Unknown term_type:" + std::to_string(type)), std::string::npos) << text;
  }
}

TEST(BuildTerminalInfo, FieldsFilledToTheirWidthAreReadWithinIt) {
  // No NUL inside any field: each text must end at its own field's edge.
  const std::string iip(64, 'I'), lip(64, 'L'), mac(16, 'M'), hd(24, 'H');
  const OXATerminalInfo r = Record(7, iip, -2147483647 - 1, lip, mac, hd);
  const std::string expect =
      "OH;IIP=" + iip + ";IPORT=-2147483648;LIP=" + lip + ";MAC=" + mac + ";HD=" + hd + kTail;
  ASSERT_LE(expect.size(), 254u);
  EXPECT_EQ(std::string(BuildTerminalInfo(&r)), expect);
}

TEST(BuildTerminalInfo, NoRecordGivesAnEmptyText) {
  const OXATerminalInfo r = Record(1, "x", 1, "", "", "");
  BuildTerminalInfo(&r);  // the buffer is cleared, not left with the last text
  EXPECT_STREQ(BuildTerminalInfo(nullptr), "");
}

namespace {

struct OwnInterface {
  std::string name, ip, mac;
};

// A non-loopback interface of this machine with an IPv4 address and a MAC.
bool FindOwnInterface(OwnInterface& found) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  std::map<std::string, std::string> macs;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
    if (ll->sll_halen != 6) continue;
    char text[13];
    std::snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", ll->sll_addr[0], ll->sll_addr[1],
                  ll->sll_addr[2], ll->sll_addr[3], ll->sll_addr[4], ll->sll_addr[5]);
    macs[a->ifa_name] = text;
  }
  bool ok = false;
  for (ifaddrs* a = list; a != nullptr && !ok; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    if ((a->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const auto mac = macs.find(a->ifa_name);
    if (mac == macs.end()) continue;
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, ip, sizeof(ip));
    found = {a->ifa_name, ip, mac->second};
    ok = true;
  }
  freeifaddrs(list);
  return ok;
}

std::string ExpectedDefaultText(const std::string& ip, const std::string& mac) {
  std::string serial = std::string(GetDiskSerial()).substr(0, 127);
  if (serial.empty()) serial = "NA";
  return "PC;IIP=NA;IPORT=NA;LIP=" + ip + ";MAC=" + mac + ";HD=" + serial + kTail;
}

// Stands in for the TCP connection: only its local endpoint is asked for.
struct FakeConnection {
  int result = 0;
  std::string ip;
  uint16_t port = 0;
  int calls = 0;
  int get_local_endpoint(std::string& out_ip, uint16_t& out_port) {
    ++calls;
    out_ip = ip;
    out_port = port;
    return result;
  }
};

}  // namespace

TEST(GetTerminalInfoFromEndpoint, OwnInterfaceGivesItsAddressAndMac) {
  OwnInterface own;
  if (!FindOwnInterface(own)) GTEST_SKIP() << "no non-loopback IPv4 interface with a MAC";
  char out[kTerminalInfoSize];
  ASSERT_TRUE(GetTerminalInfoFromEndpoint(out, sizeof(out), own.ip.c_str(), 40001)) << own.name;
  EXPECT_EQ(std::string(out), ExpectedDefaultText(own.ip, own.mac));
}

TEST(GetTerminalInfoFromEndpoint, TextIsCutToTheOutputSize) {
  OwnInterface own;
  if (!FindOwnInterface(own)) GTEST_SKIP() << "no non-loopback IPv4 interface with a MAC";
  char out[32];
  std::memset(out, '#', sizeof(out));
  ASSERT_TRUE(GetTerminalInfoFromEndpoint(out, 20, own.ip.c_str(), 1));
  EXPECT_EQ(std::string(out), ExpectedDefaultText(own.ip, own.mac).substr(0, 18));
  EXPECT_EQ(out[20], '#');
}

TEST(GetTerminalInfoFromEndpoint, NoTextWithoutAnInterfaceForTheAddress) {
  struct Case {
    const char* what;
    const char* ip;
    int port;
    int size;
  } cases[] = {
      {"loopback", "127.0.0.1", 40001, kTerminalInfoSize},
      {"null address", nullptr, 40001, kTerminalInfoSize},
      {"negative port", "192.0.2.200", -1, kTerminalInfoSize},
      {"address of no interface", "203.0.113.77", 40001, kTerminalInfoSize},
      {"not an address", "gateway.example", 40001, kTerminalInfoSize},
      {"empty address", "", 40001, kTerminalInfoSize},
      {"no room", "203.0.113.77", 40001, 1},
  };
  for (const auto& c : cases) {
    char out[kTerminalInfoSize];
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(GetTerminalInfoFromEndpoint(out, c.size, c.ip, c.port)) << c.what;
    EXPECT_EQ(out[0], '#') << c.what << ": output touched";
  }
  EXPECT_FALSE(GetTerminalInfoFromEndpoint(nullptr, kTerminalInfoSize, "203.0.113.77", 1));
}

TEST(GetDefaultTerminalInfo, FromTheConnectionsLocalEndpoint) {
  OwnInterface own;
  if (!FindOwnInterface(own)) GTEST_SKIP() << "no non-loopback IPv4 interface with a MAC";
  auto conn = std::make_shared<FakeConnection>();
  conn->ip = own.ip;
  conn->port = 51234;
  const char* text = GetDefaultTerminalInfo(conn);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), ExpectedDefaultText(own.ip, own.mac));
  EXPECT_EQ(conn->calls, 1);
}

TEST(GetDefaultTerminalInfo, NullWhenTheEndpointGivesNoInterface) {
  auto loopback = std::make_shared<FakeConnection>();
  loopback->ip = "127.0.0.1";
  loopback->port = 51234;
  EXPECT_EQ(GetDefaultTerminalInfo(loopback), nullptr);

  auto failing = std::make_shared<FakeConnection>();
  failing->result = 1003;  // no socket, or a text that does not split
  OwnInterface own;
  failing->ip = FindOwnInterface(own) ? own.ip : "192.0.2.2";
  EXPECT_EQ(GetDefaultTerminalInfo(failing), nullptr);

  auto unix_socket = std::make_shared<FakeConnection>();  // empty ip, port 0
  EXPECT_EQ(GetDefaultTerminalInfo(unix_socket), nullptr);

  EXPECT_EQ(GetDefaultTerminalInfo(std::shared_ptr<FakeConnection>()), nullptr);
}

TEST(GetDefaultTerminalInfo, RealConnectionToTheLoopbackAddressGivesNoText) {
  oxa_sim::GatewaySim gateway;
  ASSERT_TRUE(gateway.start());
  auto client = std::make_shared<tcp_framework::client::TcpClient>(0, nullptr);
  client->set_heartbeat_interval(0);
  ASSERT_EQ(client->connect("127.0.0.1", gateway.port()), 0);
  std::string ip;
  uint16_t port = 0;
  ASSERT_EQ(client->get_local_endpoint(ip, port), 0);
  EXPECT_EQ(ip, "127.0.0.1") << "the refusal below must come from the loopback rule";
  EXPECT_NE(port, 0);
  EXPECT_EQ(GetDefaultTerminalInfo(client), nullptr);
  client->stop();
  gateway.stop();
}
