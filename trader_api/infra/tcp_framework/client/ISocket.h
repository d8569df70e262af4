// Stream socket seen by the TCP client: TCP (TcpSocket) or Unix-domain
// (LocalSocket), both on asio sockets of the client's io_context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <asio/io_context.hpp>
#include <spdlog/logger.h>

namespace tcp_framework {
namespace client {

class ISocket {
public:
    using ReadHandler = std::function<void(std::error_code, std::size_t)>;
    // Asked now and then while a connect attempt waits; true gives the attempt up.
    using AbandonCheck = std::function<bool()>;
    // Asked once a connect attempt has made its connection, before the connection replaces the
    // previous one: the bytes it returns are the first the connection sends, ahead of anything
    // queued for it.
    using FirstBytes = std::function<std::vector<uint8_t>()>;

    ISocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger)
        : m_logger(std::move(logger)), m_io(io) {}
    ISocket(const ISocket&) = delete;
    ISocket& operator=(const ISocket&) = delete;

    // On the calling thread; replaces the previous connection once the new one is up and has
    // sent the bytes of `first`. An attempt that `abandoned` gives up ends within a few
    // milliseconds with operation_canceled and leaves the previous connection as it was; one
    // whose first bytes cannot be sent fails with the send's error.
    virtual void connect(const std::string& host, uint16_t port, std::error_code& ec, const AbandonCheck& abandoned,
                         const FirstBytes& first) = 0;
    void connect(const std::string& host, uint16_t port, std::error_code& ec, const AbandonCheck& abandoned) {
        connect(host, port, ec, abandoned, FirstBytes());
    }
    void connect(const std::string& host, uint16_t port, std::error_code& ec) {
        connect(host, port, ec, AbandonCheck(), FirstBytes());
    }
    // ec is set on failure, including on a socket that is not open.
    virtual void write(const void* data, uint32_t length, std::error_code& ec) = 0;
    // The whole frame now, or nothing: never waits for room or for another writer. False when
    // nothing was written (ec set only on a failure).
    virtual bool try_write(const void* data, uint32_t length, std::error_code& ec) = 0;
    // Reads exactly length bytes, then calls handler on the event-loop thread.
    virtual void async_read(void* buffer, uint32_t length, ReadHandler handler) = 0;
    virtual bool is_open() = 0;
    virtual void close(std::error_code& ec) = 0;
    virtual std::string local_endpoint() = 0;
    virtual std::string remote_endpoint() = 0;

protected:
    // Owned through shared pointers made for the concrete class.
    virtual ~ISocket() = default;

    std::shared_ptr<spdlog::logger> m_logger;
    asio::io_context& m_io;
};

// Connects the open descriptor fd to addr without blocking the caller beyond a few ms at a time:
// the attempt is given up when `abandoned` says so. The descriptor's blocking mode is as before
// afterwards. Errors are the system's codes; a given-up attempt is operation_canceled.
std::error_code connect_descriptor(int fd, const void* addr, std::size_t addr_length,
                                   const ISocket::AbandonCheck& abandoned);

// Sends every byte of `first` on the connected descriptor fd, which no one else writes on yet,
// waiting for room a slice at a time; given up when `abandoned` says so, and after
// FIRST_BYTES_TIMEOUT_MS with ETIMEDOUT (a peer that takes nothing at the start of a link).
constexpr int FIRST_BYTES_TIMEOUT_MS = 5000;
std::error_code send_first_bytes(int fd, const std::vector<uint8_t>& first, const ISocket::AbandonCheck& abandoned);

}  // namespace client
}  // namespace tcp_framework
