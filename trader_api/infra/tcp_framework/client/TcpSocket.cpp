#include "infra/tcp_framework/client/TcpSocket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <fmt/format.h>

#include "infra/tcp_framework/client/ErrorCategory.h"

namespace tcp_framework {
namespace client {

namespace {

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// the system's send takes at most IOV_MAX buffers; a gathered batch fits one call
static_assert(TcpSocket::MAX_GATHER <= 1024, "a gathered batch fits one send call");

TcpSocket::TcpSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger, uint32_t ring_init_size,
                     uint32_t ring_growth_factor, uint32_t ring_max_size)
    : ISocket(io, std::move(logger)), m_ring(ring_init_size, ring_growth_factor, ring_max_size) {}

TcpSocket::~TcpSocket() = default;

void TcpSocket::connect(const std::string& host, uint16_t port, std::error_code& ec, const AbandonCheck& abandoned,
                        const FirstBytes& first) {
    ec.clear();
    // Numeric addresses only: a name lookup could block the caller for seconds.
    asio::error_code aec;
    const asio::ip::address address = asio::ip::make_address(host, aec);
    if (aec) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    auto endpoint = std::make_shared<asio::ip::tcp::endpoint>(address, port);
    auto sock = std::make_shared<Socket>(m_io);

    // The new socket is private to this thread until it is published below, so the connect
    // holds no lock the event loop or the writers need.
    sock->open(endpoint->protocol(), aec);
    if (!aec) {
        aec = connect_descriptor(sock->native_handle(), endpoint->data(), endpoint->size(), abandoned);
        asio::error_code ignored;
        if (sock->is_open()) sock->set_option(asio::ip::tcp::no_delay(true), ignored);
        // Still private: the ring's leftovers and every writer come after these bytes.
        if (!aec && first) aec = send_first_bytes(sock->native_handle(), first(), abandoned);
    }
    if (aec) {
        asio::error_code ignored;
        sock->close(ignored);
        if (aec == std::errc::operation_canceled) {
            // given up: the previous connection is left as it was
            ec = aec;
            return;
        }
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_socket && m_socket->is_open()) {
        std::error_code ignored;
        close_locked(m_socket, ignored);
    }
    m_endpoint = std::move(endpoint);
    m_socket = std::move(sock);
    if (!aec) ++m_connection;
    m_open.store(!aec && m_socket->is_open(), std::memory_order_release);
    ec = aec;
}

ssize_t TcpSocket::send_now(int fd, const struct iovec* iov, int iovcnt) {
    ssize_t n;
    do {
        if (m_hook) {
            n = m_hook(fd, iov, iovcnt);
        } else {
            msghdr msg{};
            msg.msg_iov = const_cast<struct iovec*>(iov);
            msg.msg_iovlen = static_cast<size_t>(iovcnt);
            n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        }
    } while (n < 0 && errno == EINTR);
    return n;
}

void TcpSocket::write(const void* data, uint32_t length, std::error_code& ec) {
    // A frame handed to a closed socket would be lost while its sender thinks it went out.
    if (!m_open.load(std::memory_order_acquire)) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return;
    }
    if (length == 0) return;
    const int64_t start = now_ns();
    m_burst = start - m_last_write_ns < BURST_GAP_NS ? m_burst + 1 : 0;
    // Nothing queued means nothing in flight either: a record leaves the ring only once the
    // kernel has taken all of it. The writers are serialised, so nothing is queued meanwhile.
    const bool direct =
        m_direct.load(std::memory_order_relaxed) && m_burst < BURST_DIRECT_FRAMES && m_ring.empty();
    if (!direct) {
        if (queue(data, length, ec)) schedule_write();
        m_last_write_ns = now_ns();
        return;
    }

    std::shared_ptr<Socket> sock;
    uint64_t connection = 0;
    ssize_t n;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_socket || !m_socket->is_open()) {
            ec = std::make_error_code(std::errc::bad_file_descriptor);
            return;
        }
        sock = m_socket;
        connection = m_connection;
        struct iovec v {
            const_cast<void*>(data), length
        };
        n = send_now(sock->native_handle(), &v, 1);
        if (n < 0) error = errno;
    }
    if (n == static_cast<ssize_t>(length)) {
        m_last_write_ns = now_ns();
        return;
    }
    // The rest goes through the event loop; every later frame queues behind it.
    const bool failed = n < 0 && error != EAGAIN && error != EWOULDBLOCK;
    m_handoff_connection.store(connection, std::memory_order_relaxed);
    m_handoff_written.store(n > 0 ? static_cast<uint32_t>(n) : 0, std::memory_order_relaxed);
    m_handoff_record.store(m_pushed, std::memory_order_release);
    if (!queue(data, length, ec)) {
        m_handoff_record.store(UINT64_MAX, std::memory_order_relaxed);
        m_last_write_ns = now_ns();
        return;
    }
    if (failed) {
        // as a failed write of the event loop: the frame waits for the next connection
        log_write_error(error);
        std::lock_guard<std::mutex> lock(m_mutex);
        std::error_code ignored;
        close_locked(sock, ignored);
    } else {
        schedule_write();
    }
    m_last_write_ns = now_ns();
}

bool TcpSocket::try_write(const void* data, uint32_t length, std::error_code& ec) {
    write(data, length, ec);
    return !ec;
}

bool TcpSocket::queue(const void* data, uint32_t length, std::error_code& ec) {
    if (!m_ring.push(data, length)) {
        if (m_logger) m_logger->error("async sending queue expand limit.");
        ec = make_tcp_error(TCP_ERROR_SEND_BUFFER_FULL);
        auto self = shared_from_this();
        asio::post(m_io, [self] {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            std::error_code ignored;
            if (self->m_socket) self->close_locked(self->m_socket, ignored);
        });
        return false;
    }
    ++m_pushed;
    return true;
}

void TcpSocket::schedule_write() {
    // One posted do_write at a time is enough: it drains everything queued before it runs.
    if (m_write_scheduled.exchange(true, std::memory_order_acq_rel)) return;
    auto self = shared_from_this();
    asio::post(m_io, [self] { self->do_write(); });
}

void TcpSocket::do_write() {
    // Cleared before the ring is looked at, so a push after this point posts again.
    m_write_scheduled.store(false, std::memory_order_seq_cst);
    if (m_writing) return;  // the write or wait in flight goes on with everything queued
    m_writing = true;
    write_loop();
}

// Writes one batch of queued records and goes on from the event loop until the ring is empty,
// the kernel takes no more (then waits for room) or the connection fails. Event-loop thread;
// m_writing is set.
void TcpSocket::write_loop() {
    for (;;) {
        std::shared_ptr<Socket> sock;
        uint64_t connection;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_socket || !m_socket->is_open()) {
                m_writing = false;
                return;
            }
            sock = m_socket;
            connection = m_connection;
        }
        const bool gather = m_gather.load(std::memory_order_relaxed);
        uint32_t span_count = 0;
        // one record per write when not gathering: its data may wrap, so it can take two spans
        const uint32_t records = m_ring.peek(m_spans.data(), gather ? MAX_GATHER : 2, gather ? MAX_GATHER_BYTES : 0,
                                             &span_count, m_lengths.data());
        if (records == 0 || span_count == 0) {
            m_writing = false;
            return;
        }
        if (m_front_record != m_popped) {
            // a new front record: a writer may have begun it on its connection
            m_front_record = m_popped;
            m_front_connection = connection;
            m_front_written = 0;
            if (m_handoff_record.load(std::memory_order_acquire) == m_popped) {
                m_front_connection = m_handoff_connection.load(std::memory_order_relaxed);
                m_front_written = m_handoff_written.load(std::memory_order_relaxed);
            }
        }
        if (m_front_connection != connection) {
            // never resumed mid-way on another connection: it goes out whole
            m_front_connection = connection;
            m_front_written = 0;
        }
        const uint32_t already = m_front_written;
        uint32_t skip = already;
        int iov_count = 0;
        for (uint32_t i = 0; i < span_count; ++i) {
            const uint8_t* p = static_cast<const uint8_t*>(m_spans[i].data);
            uint32_t size = m_spans[i].size;
            if (skip > 0) {
                const uint32_t take = std::min(skip, size);
                p += take;
                size -= take;
                skip -= take;
            }
            if (size > 0) m_iov[iov_count++] = iovec{const_cast<uint8_t*>(p), size};
        }
        ssize_t n;
        int error = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (sock != m_socket || !sock->is_open()) {
                m_writing = false;
                return;
            }
            n = send_now(sock->native_handle(), m_iov.data(), iov_count);
            if (n < 0) error = errno;
        }
        if (n < 0) {
            if (error == EAGAIN || error == EWOULDBLOCK) {
                wait_writable(sock);
            } else {
                fail_write(sock, error);
            }
            return;
        }
        // Records the kernel took whole leave the ring now, so a failure later never sends
        // them again; the one cut in the middle remembers how far it got on this connection.
        uint64_t left = static_cast<uint64_t>(n);
        for (uint32_t i = 0; i < records && left > 0; ++i) {
            const uint32_t done = i == 0 ? already : 0;
            const uint32_t rest = m_lengths[i] - done;
            if (left >= rest) {
                left -= rest;
                m_ring.pop();
                ++m_popped;
                m_front_record = UINT64_MAX;
                m_front_written = 0;
            } else {
                m_front_record = m_popped;
                m_front_connection = connection;
                m_front_written = done + static_cast<uint32_t>(left);
                left = 0;
            }
        }
        // The next batch after whatever else waits on the event loop: writers that keep the
        // ring full must not keep the reads and the heartbeat timer from running.
        auto self = shared_from_this();
        asio::post(m_io, [self] { self->write_loop(); });
        return;
    }
}

void TcpSocket::wait_writable(const std::shared_ptr<Socket>& sock) {
    auto self = shared_from_this();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sock != m_socket || !sock->is_open()) {
        m_writing = false;
        return;
    }
    // A closed socket ends the wait at once; the loop then serves whatever socket is current.
    sock->async_wait(Socket::wait_write, [self, sock](const asio::error_code&) { self->write_loop(); });
}

void TcpSocket::fail_write(const std::shared_ptr<Socket>& sock, int error) {
    log_write_error(error);
    // The records still queued go out first on the next connection, the cut one whole. Only
    // the socket the write was made on is closed, never a newer one.
    m_front_record = UINT64_MAX;
    m_front_written = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::error_code ignored;
    close_locked(sock, ignored);
    m_writing = false;
}

void TcpSocket::log_write_error(int error) {
    // the system's own text: asio's category object may already be gone at process exit
    if (m_logger) m_logger->warn("async write error. code={}, msg={}", error, std::strerror(error));
}

void TcpSocket::async_read(void* buffer, uint32_t length, ReadHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket) return;
    auto sock = m_socket;
    asio::async_read(*sock, asio::buffer(buffer, length),
                     [sock, handler = std::move(handler)](const asio::error_code& ec, std::size_t n) {
                         handler(ec, n);
                     });
}

void TcpSocket::async_read_some(void* buffer, uint32_t length, ReadHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket) return;
    auto sock = m_socket;
    sock->async_read_some(asio::buffer(buffer, length),
                          [sock, handler = std::move(handler)](const asio::error_code& ec, std::size_t n) {
                              handler(ec, n);
                          });
}

bool TcpSocket::is_open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_socket && m_socket->is_open();
}

void TcpSocket::close(std::error_code& ec) {
    ec.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket) return;
    close_locked(m_socket, ec);
}

void TcpSocket::close_locked(const std::shared_ptr<Socket>& sock, std::error_code& ec) {
    if (sock == m_socket) m_open.store(false, std::memory_order_release);
    if (!sock->is_open()) return;
    asio::error_code aec;
    sock->shutdown(asio::ip::tcp::socket::shutdown_both, aec);  // a failed shutdown alone is not reported
    sock->close(aec);
    ec = aec;
}

std::string TcpSocket::endpoint_text(bool local) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_socket || !m_socket->is_open()) return std::string();
    asio::error_code ec;
    const asio::ip::tcp::endpoint ep = local ? m_socket->local_endpoint(ec) : m_socket->remote_endpoint(ec);
    if (ec) return std::string();
    return fmt::format("tcp://{}:{}", ep.address().to_string(), ep.port());
}

std::string TcpSocket::local_endpoint() { return endpoint_text(true); }
std::string TcpSocket::remote_endpoint() { return endpoint_text(false); }

}  // namespace client
}  // namespace tcp_framework
