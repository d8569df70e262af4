#include "infra/tcp_framework/client/TcpSocket.h"

#include <asio/ip/address.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <fmt/format.h>

#include <cstring>

#include "infra/tcp_framework/client/ErrorCategory.h"

namespace tcp_framework {
namespace client {

// asio passes at most 64 buffers to one send call; a batch must fit in one.
static_assert(TcpSocket::MAX_GATHER <= 64, "a gathered batch fits one send call");

TcpSocket::TcpSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger, uint32_t ring_init_size,
                     uint32_t ring_growth_factor, uint32_t ring_max_size)
    : ISocket(io, std::move(logger)), m_ring(ring_init_size, ring_growth_factor, ring_max_size) {}

TcpSocket::~TcpSocket() = default;

void TcpSocket::connect(const std::string& host, uint16_t port, std::error_code& ec) {
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

    // The new socket is private to this thread until it is published below, so the
    // blocking connect holds no lock the event loop needs.
    sock->open(endpoint->protocol(), aec);
    if (!aec) {
        sock->connect(*endpoint, aec);
        asio::error_code ignored;
        if (sock->is_open()) sock->set_option(asio::ip::tcp::no_delay(true), ignored);
    }
    if (aec) {
        asio::error_code ignored;
        sock->close(ignored);
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_socket && m_socket->is_open()) {
        std::error_code ignored;
        close_locked(m_socket, ignored);
    }
    m_endpoint = std::move(endpoint);
    m_socket = std::move(sock);
    m_open.store(!aec && m_socket->is_open(), std::memory_order_release);
    ec = aec;
}

void TcpSocket::write(const void* data, uint32_t length, std::error_code& ec) {
    // A frame handed to a closed socket would be lost while its sender thinks it went out.
    if (!m_open.load(std::memory_order_acquire)) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return;
    }
    if (!m_ring.push(data, length)) {
        if (m_logger) m_logger->error("async sending queue expand limit.");
        ec = make_tcp_error(TCP_ERROR_SEND_BUFFER_FULL);
        auto self = shared_from_this();
        asio::post(m_io, [self] {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            std::error_code ignored;
            if (self->m_socket) self->close_locked(self->m_socket, ignored);
        });
        return;
    }
    schedule_write();
}

void TcpSocket::schedule_write() {
    // One posted do_write at a time is enough: it drains everything queued before it runs.
    if (m_write_scheduled.exchange(true, std::memory_order_acq_rel)) return;
    auto self = shared_from_this();
    asio::post(m_io, [self] { self->do_write(false); });
}

void TcpSocket::do_write(bool continuing) {
    if (!continuing) {
        // Cleared before the ring is looked at, so a push after this point posts again.
        m_write_scheduled.store(false, std::memory_order_seq_cst);
        if (m_writing) return;
    }
    std::shared_ptr<Socket> sock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_socket || !m_socket->is_open()) {
            m_writing = false;
            return;
        }
        sock = m_socket;
    }
    if (m_ring.empty()) {
        m_writing = false;
        return;
    }
    m_writing = true;
    start_send(sock);
}

void TcpSocket::start_send(const std::shared_ptr<Socket>& sock) {
    const bool gather = m_gather.load(std::memory_order_relaxed);
    uint32_t span_count = 0;
    if (gather) {
        m_batch_records = m_ring.peek(m_spans.data(), MAX_GATHER, MAX_GATHER_BYTES, &span_count);
    } else {
        // One record per write: its data may wrap, so it can still take two spans.
        m_batch_records = m_ring.peek(m_spans.data(), 2, 0, &span_count);
    }
    if (m_batch_records == 0 || span_count == 0) {
        m_writing = false;
        return;
    }
    m_batch_count = span_count;
    m_batch_first = 0;
    for (std::size_t i = 0; i < m_batch_count; ++i) m_batch[i] = asio::const_buffer(m_spans[i].data, m_spans[i].size);
    write_rest(sock);
}

// Hands every buffer not yet written to one send call (asio's composed write would split the
// batch into calls of 16), again after a short write, until the batch is out or fails.
void TcpSocket::write_rest(const std::shared_ptr<Socket>& sock) {
    auto self = shared_from_this();
    BufferRange range{m_batch.data() + m_batch_first, m_batch.data() + m_batch_count};
    std::lock_guard<std::mutex> lock(m_mutex);
    sock->async_write_some(range, [self, sock](const asio::error_code& ec, std::size_t n) {
        self->on_written(sock, ec, n);
    });
}

void TcpSocket::on_written(const std::shared_ptr<Socket>& sock, std::error_code ec, std::size_t n) {
    if (ec) {
        on_sent(sock, ec);
        return;
    }
    while (n > 0 && m_batch_first < m_batch_count) {
        asio::const_buffer& b = m_batch[m_batch_first];
        if (n < b.size()) {
            b += n;
            n = 0;
        } else {
            n -= b.size();
            ++m_batch_first;
        }
    }
    if (m_batch_first < m_batch_count) {
        write_rest(sock);
        return;
    }
    on_sent(sock, ec);
}

void TcpSocket::on_sent(const std::shared_ptr<Socket>& sock, std::error_code ec) {
    if (ec) {
        // the system's own text: asio's category object may already be gone at process exit
        if (m_logger) {
            const bool system = std::strcmp(ec.category().name(), "asio.system") == 0 ||
                                ec.category() == std::system_category();
            m_logger->warn("async write error. code={}, msg={}", ec.value(),
                           system ? std::string(std::strerror(ec.value())) : ec.message());
        }
        // The records stay queued and go out first on the next connection. Only the
        // socket the write was made on is closed, never a newer one.
        std::lock_guard<std::mutex> lock(m_mutex);
        std::error_code ignored;
        close_locked(sock, ignored);
        m_writing = false;
        return;
    }
    for (uint32_t i = 0; i < m_batch_records; ++i) m_ring.pop();
    m_batch_records = 0;
    do_write(true);
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
