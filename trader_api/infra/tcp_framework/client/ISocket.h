// Stream socket seen by the TCP client: TCP (TcpSocket) or Unix-domain
// (LocalSocket), both on asio sockets of the client's io_context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include <asio/io_context.hpp>
#include <spdlog/logger.h>

namespace tcp_framework {
namespace client {

class ISocket {
public:
    using ReadHandler = std::function<void(std::error_code, std::size_t)>;

    ISocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger)
        : m_logger(std::move(logger)), m_io(io) {}
    ISocket(const ISocket&) = delete;
    ISocket& operator=(const ISocket&) = delete;

    // Synchronous on the calling thread; replaces the previous connection.
    virtual void connect(const std::string& host, uint16_t port, std::error_code& ec) = 0;
    // ec is set on failure, including on a socket that is not open.
    virtual void write(const void* data, uint32_t length, std::error_code& ec) = 0;
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

}  // namespace client
}  // namespace tcp_framework
