#include "infra/vorn/VornNet.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

namespace {

struct IfAddr {
    in_addr addr;
    uint32_t mask;
};

std::vector<IfAddr> ListIPv4() {
    std::vector<IfAddr> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        IfAddr a;
        a.addr = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
        a.mask = i->ifa_netmask ? reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr : 0;
        out.push_back(a);
    }
    ::freeifaddrs(list);
    return out;
}

// The first number in a file of /proc, -1 when there is none.
int64_t ReadNumber(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return -1;
    long long v = -1;
    if (std::fscanf(f, "%lld", &v) != 1) v = -1;
    std::fclose(f);
    return v;
}

bool WriteNumber(const std::string& path, int64_t value) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    const bool ok = std::fprintf(f, "%lld\n", static_cast<long long>(value)) > 0;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

uint32_t GetInterfaceNetmask(const char* ip) {
    in_addr want;
    if (!ip || ::inet_pton(AF_INET, ip, &want) != 1) return 0;
    const std::vector<IfAddr> list = ListIPv4();
    for (auto i = list.rbegin(); i != list.rend(); ++i)
        if (i->addr.s_addr == want.s_addr) return i->mask;
    return 0;
}

int IsLocalAddress(const char* ip) {
    if (!ip) return 0;
    for (const IfAddr& a : ListIPv4()) {
        char text[INET_ADDRSTRLEN] = {0};
        if (::inet_ntop(AF_INET, &a.addr, text, sizeof text) && std::strcmp(text, ip) == 0) return 1;
    }
    return 0;
}

bool SameSubnet(const char* a, const char* b, uint32_t mask) {
    in_addr x, y;
    if (!a || !b || ::inet_pton(AF_INET, a, &x) != 1 || ::inet_pton(AF_INET, b, &y) != 1) return false;
    return (x.s_addr & mask) == (y.s_addr & mask);
}

int SetReceiveBuffer(CVornSystem& system, int fd, int bytes) {
    const char* how = "SO_RCVBUFFORCE";
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
        how = "SO_RCVBUF";
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) how = "none";
    }
    int got = 0;
    socklen_t len = sizeof got;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &got, &len) != 0) got = -1;
    system.Note("Socket Receive Buffer: Asked ( %d ) Got ( %d ) By ( %s ).", bytes, got, how);
    return got;
}

int64_t WantedBufferLimit(char svr_type, int64_t current) {
    const int64_t want = svr_type == '0' ? 67108864 : 16777216;
    if (current <= 0 || current >= want) return 0;
    return want;
}

void TuneHostSocketBuffers(CVornSystem& system, char svr_type, const SocketBufferTuning& tuning) {
    if (!tuning.enabled) return;
    for (const std::string* path : {&tuning.rmem_max_path, &tuning.wmem_max_path}) {
        const int64_t current = ReadNumber(*path);
        const int64_t want = WantedBufferLimit(svr_type, current);
        if (!want) {
            system.Note("Socket Buffer Limit ( %s ): %lld Kept.", path->c_str(), static_cast<long long>(current));
            continue;
        }
        if (WriteNumber(*path, want))
            system.Note("Socket Buffer Limit ( %s ): %lld -> %lld.", path->c_str(), static_cast<long long>(current),
                        static_cast<long long>(want));
        else
            system.Note("Socket Buffer Limit ( %s ): %lld, Write %lld Fail: %d.", path->c_str(),
                        static_cast<long long>(current), static_cast<long long>(want), errno);
    }
}

}  // namespace VORN
}  // namespace OXA
