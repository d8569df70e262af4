// What the windows need of the world, as interfaces: a sink that takes every datagram they
// send, a monotonic clock, and the exchange the start-up window synchronisation runs over.
// The bus plugs in UDP sockets (below) and the steady clock; tests plug in an in-memory
// network and a manual clock, so two members can be driven step by step.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace VORN {

class CVornSystem;

// Which socket of a group a datagram leaves from.
enum class SinkChannel : uint8_t {
    kApp,    // app messages and the RACK of a jammed window
    kSync,   // ACK, NAK, periodic RACK, NAK resends, resync requests
    kReply,  // the receiver's answers to position requests
};

class IDgramSink {
public:
    virtual ~IDgramSink() = default;
    // Sends one datagram to to, addressed to (group, member) (-1 for a multicast group);
    // returns the bytes sent, or -1 with errno set. Called from senders, the receiver and
    // the handler at once: must be thread-safe.
    virtual ssize_t Send(SinkChannel channel, const uint8_t* data, std::size_t length, const sockaddr_in& to,
                         int16_t group, int16_t member) = 0;
};

class IVornClock {
public:
    virtual ~IVornClock() = default;
    // Monotonic nanoseconds.
    virtual int64_t NowNs() = 0;
};

// CLOCK_MONOTONIC.
class CSteadyClock : public IVornClock {
public:
    int64_t NowNs() override;
    static CSteadyClock& Instance();
};

// The exchange of the start-up window synchronisation: requests go out from it and the
// replies come back to it.
class ISyncChannel {
public:
    virtual ~ISyncChannel() = default;
    virtual bool Open() = 0;
    virtual ssize_t Send(const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                         int16_t member) = 0;
    // Waits up to wait_ns for one datagram; its length (the kernel's, so a longer datagram
    // than cap shows), 0 when none came, -1 on an error.
    virtual ssize_t Receive(uint8_t* buffer, std::size_t cap, int64_t wait_ns) = 0;
};

// The sockets of one group: an app-message socket and a synchronisation socket, both
// unbound and blocking, bound to the member's network device when one is named. Replies
// leave from the synchronisation socket. Every datagram goes through the member's send path.
class CSocketSink : public IDgramSink {
public:
    explicit CSocketSink(CVornSystem& system);
    ~CSocketSink() override;
    CSocketSink(const CSocketSink&) = delete;
    CSocketSink& operator=(const CSocketSink&) = delete;

    // Opens both sockets; logs which one failed with group_id.
    bool Open(int16_t group_id);
    ssize_t Send(SinkChannel channel, const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                 int16_t member) override;

private:
    CVornSystem& m_sys;
    int m_app = -1;
    int m_sync = -1;
};

// An unbound non-blocking UDP socket.
class CSocketSyncChannel : public ISyncChannel {
public:
    explicit CSocketSyncChannel(CVornSystem& system);
    ~CSocketSyncChannel() override;
    CSocketSyncChannel(const CSocketSyncChannel&) = delete;
    CSocketSyncChannel& operator=(const CSocketSyncChannel&) = delete;

    bool Open() override;
    ssize_t Send(const uint8_t* data, std::size_t length, const sockaddr_in& to, int16_t group,
                 int16_t member) override;
    ssize_t Receive(uint8_t* buffer, std::size_t cap, int64_t wait_ns) override;

private:
    CVornSystem& m_sys;
    int m_fd = -1;
};

// An IPv4 address from text and a port; false (address zeroed) when the text is no address.
bool MakeAddress(const char* ip, uint16_t port, sockaddr_in& out);

}  // namespace VORN
}  // namespace OXA
