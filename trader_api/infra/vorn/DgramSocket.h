// The UDP socket a bus member receives on: bound to a port on any address, with a large
// receive buffer, joined to a multicast group on the member's own interface when the group
// names one, bound to the member's network device when one is named, and non-blocking
// unless asked otherwise. Every failure is logged with errno and leaves the socket closed.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace VORN {

class CVornSystem;

class CDgramSocket {
public:
    explicit CDgramSocket(CVornSystem& system) : m_sys(system) {}
    ~CDgramSocket() { Close(); }
    CDgramSocket(const CDgramSocket&) = delete;
    CDgramSocket& operator=(const CDgramSocket&) = delete;

    // local_ip: the own IPv4 text (at most 63 characters; the interface a multicast group is
    // joined on, any interface when empty). port 0 leaves the socket unbound. group_ip: a
    // multicast group to join (null or empty: none). receive_buffer <= 0 asks for 262,144
    // bytes. device: the network device to bind to (null or empty: none; a refused binding
    // is logged and the socket kept).
    bool Open(const char* local_ip, uint16_t port, const char* group_ip, bool blocking, int receive_buffer,
              const char* device);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    uint16_t Port() const { return m_port; }
    bool Multicast() const { return m_multicast; }

    // One datagram of at most size bytes; the datagram's own length (longer than size when it
    // was cut, MSG_TRUNC), -1 with errno when none.
    ssize_t Recv(void* buffer, std::size_t size);
    ssize_t RecvFrom(void* buffer, std::size_t size, sockaddr_in& from);

private:
    CVornSystem& m_sys;
    int m_fd = -1;
    char m_localIp[64] = {0};
    uint16_t m_port = 0;
    char m_groupIp[64] = {0};
    bool m_multicast = false;
    bool m_blocking = false;
};

// Sets the interface multicast datagrams leave by (the own address) and keeps them looped
// back to the host's own members; false when the system refused.
bool SetMulticastSend(int fd, const char* local_ip);

}  // namespace VORN
}  // namespace OXA
