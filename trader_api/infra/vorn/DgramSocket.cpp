#include "infra/vorn/DgramSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "infra/utility/AnswerWait.h"
#include "infra/vorn/VornNet.h"
#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

namespace {

constexpr int kDefaultReceiveBuffer = 262144;

bool ToAddr(const char* text, in_addr& out) {
    out.s_addr = htonl(INADDR_ANY);
    return text && *text && ::inet_pton(AF_INET, text, &out) == 1;
}

}  // namespace

bool SetMulticastSend(int fd, const char* local_ip) {
    in_addr iface;
    if (!ToAddr(local_ip, iface)) return false;
    const unsigned char loop = 1;
    return ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) == 0 &&
           ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) == 0;
}

bool CDgramSocket::Open(const char* local_ip, uint16_t port, const char* group_ip, bool blocking, int receive_buffer,
                        const char* device) {
    if (m_fd >= 0) {
        m_sys.Note("Create Socket Fail: Socket Is Created .");
        return false;
    }
    API::CopyText(m_localIp, local_ip ? local_ip : "", sizeof m_localIp - 1);
    API::CopyText(m_groupIp, group_ip ? group_ip : "", sizeof m_groupIp - 1);
    m_port = port;
    m_multicast = m_groupIp[0] != '\0';
    m_blocking = blocking;

    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        m_sys.Note("Create Socket Fail: %d .", errno);
        return false;
    }
    if (port != 0) {
        const int on = 1;
        if (::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            m_sys.Note("Create Socket setsockopt-reuseaddr Fail: %d .", errno);
            Close();
            return false;
        }
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            m_sys.Note("Create Socket bind Fail: %d < %s : %d >", errno, m_localIp, static_cast<int>(port));
            Close();
            return false;
        }
        SetReceiveBuffer(m_sys, m_fd, receive_buffer > 0 ? receive_buffer : kDefaultReceiveBuffer);
        if (m_multicast) {
            const unsigned char loop = 1;
            if (::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
                m_sys.Note("Create Socket set-multiloop Fail: %d", errno);
                Close();
                return false;
            }
            ip_mreq mreq{};
            in_addr iface;
            ToAddr(m_localIp, iface);
            mreq.imr_interface = iface;
            if (::inet_pton(AF_INET, m_groupIp, &mreq.imr_multiaddr) != 1 ||
                ::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
                m_sys.Note("Create Socket join-multicast Fail: %d", errno);
                m_multicast = false;  // nothing to leave
                Close();
                return false;
            }
        }
    }
    if (device && *device) {
        if (::setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, device, static_cast<socklen_t>(std::strlen(device))) == 0)
            m_sys.Note("Socket ( %d ) Bind Device ( %s ) Success.", static_cast<int>(port), device);
        else
            m_sys.Note("Socket ( %d ) Bind Device ( %s ) Fail.", static_cast<int>(port), device);
    }
    const int flags = ::fcntl(m_fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(m_fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) != 0) {
        m_sys.Note("Create Socket Fail: %d .", errno);
        Close();
        return false;
    }
    return true;
}

void CDgramSocket::Close() {
    if (m_fd < 0) return;
    if (m_multicast) {
        ip_mreq mreq{};
        in_addr iface;
        ToAddr(m_localIp, iface);
        mreq.imr_interface = iface;
        if (::inet_pton(AF_INET, m_groupIp, &mreq.imr_multiaddr) == 1 &&
            ::setsockopt(m_fd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &mreq, sizeof mreq) != 0)
            m_sys.Note("Close Socket drop-multicast Fail: %d", errno);
    }
    ::close(m_fd);
    m_fd = -1;
}

ssize_t CDgramSocket::Recv(void* buffer, std::size_t size) { return ::recv(m_fd, buffer, size, MSG_TRUNC); }

ssize_t CDgramSocket::RecvFrom(void* buffer, std::size_t size, sockaddr_in& from) {
    socklen_t len = sizeof from;
    return ::recvfrom(m_fd, buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
}

}  // namespace VORN
}  // namespace OXA
