#include "infra/tcp_framework/client/LocalSocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <asio/read.hpp>
#include <fmt/format.h>

namespace tcp_framework {
namespace client {

LocalSocket::LocalSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger)
    : ISocket(io, std::move(logger)) {}

LocalSocket::~LocalSocket() = default;

void LocalSocket::connect(const std::string& path, uint16_t, std::error_code& ec, const AbandonCheck& abandoned,
                          const FirstBytes& first) {
    ec.clear();
    if (path.size() > MAX_PATH_LENGTH) {
        ec = std::error_code(ENAMETOOLONG, std::system_category());
        return;
    }
    auto endpoint = std::make_shared<asio::local::stream_protocol::endpoint>(path);
    auto sock = std::make_shared<Socket>(m_io);
    asio::error_code aec;
    sock->open(asio::local::stream_protocol(), aec);
    if (!aec) aec = connect_descriptor(sock->native_handle(), endpoint->data(), endpoint->size(), abandoned);
    // still private: no writer comes before these bytes
    if (!aec && first) aec = send_first_bytes(sock->native_handle(), first(), abandoned);
    if (aec) {
        asio::error_code ignored;
        sock->close(ignored);
        if (aec == std::errc::operation_canceled) {
            ec = aec;
            return;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_socket && m_socket->is_open()) {
        asio::error_code ignored;
        m_socket->shutdown(Socket::shutdown_both, ignored);
        m_socket->close(ignored);
    }
    m_endpoint = std::move(endpoint);
    m_socket = std::move(sock);
    ec = aec;
}

void LocalSocket::send_all(int fd, const void* data, uint32_t length, std::error_code& ec) {
    const char* p = static_cast<const char*>(data);
    uint32_t left = length;
    while (left > 0) {
        const ssize_t n = ::send(fd, p, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            left -= static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (m_closing.load(std::memory_order_acquire)) {
                ec = std::error_code(EBADF, std::system_category());
                return;
            }
            // close shuts the socket down first, which ends this wait at once
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, 50) < 0 && errno != EINTR) {
                ec = std::error_code(errno, std::system_category());
                return;
            }
            continue;
        }
        ec = std::error_code(n < 0 ? errno : EPIPE, std::system_category());
        return;
    }
}

void LocalSocket::write(const void* data, uint32_t length, std::error_code& ec) {
    // The writer waits for room without m_mutex, so the event loop's reads and the close
    // are never held up behind a peer that stopped reading.
    std::lock_guard<std::mutex> writer(m_writeMutex);
    std::shared_ptr<Socket> sock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_socket || !m_socket->is_open()) {
            ec = std::error_code(EBADF, std::system_category());
            return;
        }
        sock = m_socket;
    }
    // close takes m_writeMutex before it closes the descriptor, so fd stays ours here
    send_all(sock->native_handle(), data, length, ec);
}

bool LocalSocket::try_write(const void* data, uint32_t length, std::error_code& ec) {
    std::unique_lock<std::mutex> writer(m_writeMutex, std::try_to_lock);
    if (!writer.owns_lock()) return false;  // a writer is in: the peer hears from it anyway
    std::shared_ptr<Socket> sock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_socket || !m_socket->is_open()) {
            ec = std::error_code(EBADF, std::system_category());
            return false;
        }
        sock = m_socket;
    }
    const int fd = sock->native_handle();
    // Writable means at least three quarters of the send buffer are free: a small frame goes
    // out whole without waiting.
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLOUT)) return false;
    send_all(fd, data, length, ec);
    return !ec;
}

void LocalSocket::async_read(void* buffer, uint32_t length, ReadHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket) return;
    auto sock = m_socket;
    asio::async_read(*sock, asio::buffer(buffer, length),
                     [sock, handler = std::move(handler)](const asio::error_code& ec, std::size_t n) {
                         handler(ec, n);
                     });
}

bool LocalSocket::is_open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_socket && m_socket->is_open();
}

void LocalSocket::close(std::error_code& ec) {
    ec.clear();
    m_closing.store(true, std::memory_order_release);
    {
        // Shutting down first wakes a writer that waits for room: its send then fails at once,
        // so the wait for it below is short. The descriptor stays valid meanwhile.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_socket && m_socket->is_open()) {
            asio::error_code ignored;
            m_socket->shutdown(Socket::shutdown_both, ignored);
        }
    }
    std::lock_guard<std::mutex> writer(m_writeMutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closing.store(false, std::memory_order_release);
    if (!m_socket || !m_socket->is_open()) return;
    asio::error_code aec;
    m_socket->shutdown(Socket::shutdown_both, aec);  // a failed shutdown alone is not reported
    m_socket->close(aec);
    ec = aec;
}

std::string LocalSocket::endpoint_text(bool local) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket || !m_socket->is_open()) return std::string();
    asio::error_code ec;
    const auto ep = local ? m_socket->local_endpoint(ec) : m_socket->remote_endpoint(ec);
    if (ec) return std::string();
    return fmt::format("unix://{}", ep.path());
}

std::string LocalSocket::local_endpoint() { return endpoint_text(true); }
std::string LocalSocket::remote_endpoint() { return endpoint_text(false); }

}  // namespace client
}  // namespace tcp_framework
