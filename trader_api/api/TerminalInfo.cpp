#include "api/TerminalInfo.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spdlog/spdlog.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "infra/utility/DiskSerial.h"

namespace OXA {
namespace API {

namespace {

const char* const kTermTypeCodes[] = {"PC", "MA", "MI", "MW", "WP", "TO", "OH"};

struct Text {
  const char* data;
  int length;
};

// The record's text within its field (it need not be terminated), or "NA".
template <size_t N>
Text FieldOrNA(const char (&field)[N]) {
  const size_t n = strnlen(field, N);
  if (n == 0) return {"NA", 2};
  return {field, static_cast<int>(n)};
}

constexpr const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/') base = p + 1;
  }
  return base;
}

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Interfaces that carry an IPv4 address. The list grows until the kernel's
// answer fits, so a host with many interfaces is still searched in full.
std::vector<ifreq> ListInterfaces(int fd) {
  for (size_t room = 16; room <= 4096; room *= 2) {
    std::vector<ifreq> list(room);
    ifconf conf{};
    conf.ifc_len = static_cast<int>(list.size() * sizeof(ifreq));
    conf.ifc_req = list.data();
    if (::ioctl(fd, SIOCGIFCONF, &conf) < 0) return {};
    const size_t used = static_cast<size_t>(conf.ifc_len) / sizeof(ifreq);
    if (used < room) {
      list.resize(used);
      return list;
    }
  }
  return {};
}

// MAC address of the interface carrying local_ip as 12 upper-case hex digits
// ("NA" when the interface has none to report); false when no interface
// carries the address.
bool FindMacOfAddress(const char* local_ip, char (&mac)[16]) {
  Socket sock;
  if (sock.fd() < 0) return false;
  const std::vector<ifreq> list = ListInterfaces(sock.fd());
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    ifreq req{};
    std::memcpy(req.ifr_name, it->ifr_name, sizeof(req.ifr_name));
    req.ifr_name[IFNAMSIZ - 1] = '\0';
    if (::ioctl(sock.fd(), SIOCGIFADDR, &req) < 0 || req.ifr_addr.sa_family != AF_INET) continue;
    sockaddr_in addr{};
    std::memcpy(&addr, &req.ifr_addr, sizeof(addr));
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof(text)) == nullptr) continue;
    if (std::strcmp(text, local_ip) != 0) continue;

    if (::ioctl(sock.fd(), SIOCGIFHWADDR, &req) < 0) {
      std::snprintf(mac, sizeof(mac), "NA");
      return true;
    }
    const auto* b = reinterpret_cast<const unsigned char*>(req.ifr_hwaddr.sa_data);
    std::snprintf(mac, sizeof(mac), "%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return true;
  }
  return false;
}

}  // namespace

const char* BuildTerminalInfo(const OXATerminalInfo* terminal) {
  thread_local char buffer[kTerminalInfoSize];
  std::memset(buffer, 0, sizeof(buffer));
  if (terminal == nullptr) return buffer;

  const Text iip = FieldOrNA(terminal->IIP);
  const Text lip = FieldOrNA(terminal->LIP);
  const Text mac = FieldOrNA(terminal->MAC);
  const Text hd = FieldOrNA(terminal->HD);
  char iport[16] = "NA";
  if (terminal->IPORT != 0) std::snprintf(iport, sizeof(iport), "%d", static_cast<int>(terminal->IPORT));

  const int type = terminal->term_type;
  const char* code = "";
  if (type >= 1 && type <= static_cast<int>(sizeof(kTermTypeCodes) / sizeof(kTermTypeCodes[0]))) {
    code = kTermTypeCodes[type - 1];
  } else {
    spdlog::error("[{} {}]Unknown term_type:{}", BaseName(__FILE__), __LINE__, type);
  }

  std::snprintf(buffer, kTerminalInfoSize - 1,
                "%s;IIP=%.*s;IPORT=%s;LIP=%.*s;MAC=%.*s;HD=%.*s;PCN=NA;CPU=NA;PI=NA;VOL=NA;@KORVA-API", code,
                iip.length, iip.data, iport, lip.length, lip.data, mac.length, mac.data, hd.length, hd.data);
  return buffer;
}

bool GetTerminalInfoFromEndpoint(char* out, int size, const char* local_ip, int port) {
  if (out == nullptr || size < 2) return false;
  if (local_ip == nullptr || port < 0) return false;
  if (std::strcmp(local_ip, "127.0.0.1") == 0) return false;

  char mac[16] = {};
  if (!FindMacOfAddress(local_ip, mac)) return false;

  const char* serial = GetDiskSerial();
  std::memset(out, 0, static_cast<size_t>(size));
  std::snprintf(out, static_cast<size_t>(size - 1),
                "PC;IIP=NA;IPORT=NA;LIP=%s;MAC=%s;HD=%.127s;PCN=NA;CPU=NA;PI=NA;VOL=NA;@KORVA-API", local_ip,
                mac, serial[0] != '\0' ? serial : "NA");
  return true;
}

const char* GetDefaultTerminalInfoFor(const char* local_ip, int port) {
  thread_local char buffer[kTerminalInfoSize];
  std::memset(buffer, 0, sizeof(buffer));
  return GetTerminalInfoFromEndpoint(buffer, kTerminalInfoSize, local_ip, port) ? buffer : nullptr;
}

}  // namespace API
}  // namespace OXA
