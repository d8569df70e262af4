// Unix-domain stream socket: writes synchronously on the caller's thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <asio/local/stream_protocol.hpp>

#include "infra/tcp_framework/client/ISocket.h"

namespace tcp_framework {
namespace client {

class LocalSocket final : public ISocket {
public:
    // sun_path holds 108 bytes including the terminating zero.
    static constexpr std::size_t MAX_PATH_LENGTH = 107;

    LocalSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger);
    ~LocalSocket() override;

    using ISocket::connect;
    // path: the socket file; port is ignored. A longer path fails with ENAMETOOLONG.
    void connect(const std::string& path, uint16_t port, std::error_code& ec, const AbandonCheck& abandoned,
                 const FirstBytes& first) override;
    // Blocks until every byte is sent (no SIGPIPE), or until close. Not open: EBADF.
    void write(const void* data, uint32_t length, std::error_code& ec) override;
    // Only when no writer is in write and the socket has room now: a frame this small then goes
    // out at once.
    bool try_write(const void* data, uint32_t length, std::error_code& ec) override;
    void async_read(void* buffer, uint32_t length, ReadHandler handler) override;
    bool is_open() override;
    // Releases a writer that waits for room (it fails with an error) before it closes.
    void close(std::error_code& ec) override;
    std::string local_endpoint() override;
    std::string remote_endpoint() override;

private:
    using Socket = asio::local::stream_protocol::socket;
    std::string endpoint_text(bool local);
    void send_all(int fd, const void* data, uint32_t length, std::error_code& ec);  // m_writeMutex held

    std::mutex m_writeMutex;  // one writer at a time; close waits for it to leave
    std::mutex m_mutex;       // m_endpoint, m_socket and every call on the socket object
    std::shared_ptr<asio::local::stream_protocol::endpoint> m_endpoint;
    std::shared_ptr<Socket> m_socket;
    // Set by close before it waits for the writer, so a writer waiting for room gives up.
    std::atomic<bool> m_closing{false};
};

}  // namespace client
}  // namespace tcp_framework
