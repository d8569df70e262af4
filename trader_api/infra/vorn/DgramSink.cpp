#include "infra/vorn/DgramSink.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "infra/vorn/DgramSocket.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornThreads.h"

namespace OXA {
namespace VORN {

namespace {

// An unbound UDP socket; bound to the member's device when one is named (a refused binding
// is logged and the socket kept, as every bus socket does).
int OpenUnbound(CVornSystem& sys, bool blocking) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0) return -1;
    const char* device = sys.EtherName();
    if (device[0]) {
        if (::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device, static_cast<socklen_t>(std::strlen(device))) == 0)
            sys.Note("Socket ( %d ) Bind Device ( %s ) Success.", 0, device);
        else
            sys.Note("Socket ( %d ) Bind Device ( %s ) Fail.", 0, device);
    }
    return fd;
}

}  // namespace

int64_t CSteadyClock::NowNs() { return MonotonicNs(); }

CSteadyClock& CSteadyClock::Instance() {
    // never destroyed: bus threads may read it while the process exits
    static CSteadyClock* clock = new CSteadyClock();
    return *clock;
}

bool MakeAddress(const char* ip, uint16_t port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (ip && ::inet_pton(AF_INET, ip, &out.sin_addr) == 1) return true;
    out.sin_addr.s_addr = 0;
    return false;
}

CSocketSink::CSocketSink(CVornSystem& system) : m_sys(system) {}

CSocketSink::~CSocketSink() {
    if (m_app >= 0) ::close(m_app);
    if (m_sync >= 0) ::close(m_sync);
}

bool CSocketSink::Open(int16_t group_id) {
    m_app = OpenUnbound(m_sys, true);
    if (m_app < 0) {
        m_sys.Note("Creat Group(%d) App Msg Send Socket Fail.", group_id);
        return false;
    }
    // a group in multicast mode is sent to from here: out by the own interface, looped back
    // to the members on this host
    SetMulticastSend(m_app, m_sys.Identity().ip);
    m_sync = OpenUnbound(m_sys, true);
    if (m_sync < 0) {
        m_sys.Note("Creat Group(%d) Sync Socket Fail.", group_id);
        return false;
    }
    return true;
}

ssize_t CSocketSink::Send(SinkChannel channel, const uint8_t* data, std::size_t length, const sockaddr_in& to,
                          int16_t group, int16_t member) {
    const int fd = channel == SinkChannel::kApp ? m_app : m_sync;
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return m_sys.SendPath().SendTo(fd, data, length, to, group, member);
}

CSocketSyncChannel::CSocketSyncChannel(CVornSystem& system) : m_sys(system) {}

CSocketSyncChannel::~CSocketSyncChannel() {
    if (m_fd >= 0) ::close(m_fd);
}

bool CSocketSyncChannel::Open() {
    if (m_fd < 0) m_fd = OpenUnbound(m_sys, false);
    return m_fd >= 0;
}

ssize_t CSocketSyncChannel::Send(const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                                 int16_t member) {
    return m_sys.SendPath().SendTo(m_fd, data, length, to, group, member);
}

ssize_t CSocketSyncChannel::Receive(uint8_t* buffer, std::size_t cap, int64_t wait_ns) {
    pollfd p{m_fd, POLLIN, 0};
    const int ms = wait_ns <= 0 ? 0 : static_cast<int>((wait_ns + 999999) / 1000000);
    const int r = ::poll(&p, 1, ms);
    if (r == 0 || (r < 0 && errno == EINTR)) return 0;
    if (r < 0) return -1;
    const ssize_t n = ::recv(m_fd, buffer, cap, MSG_TRUNC);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return n;
}

}  // namespace VORN
}  // namespace OXA
