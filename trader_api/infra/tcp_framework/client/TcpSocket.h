// TCP stream socket that never blocks its writers: every frame is queued in
// a growable ring and written from the event-loop thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <asio/buffer.hpp>
#include <asio/ip/tcp.hpp>

#include "infra/tcp_framework/client/ISocket.h"
#include "infra/tcp_framework/utility/SpscRingBuffer.h"

namespace tcp_framework {
namespace client {

// Must be owned by a std::shared_ptr (std::make_shared): queued writes and
// completions hold the socket through it. One thread runs the io_context.
class TcpSocket final : public ISocket, public std::enable_shared_from_this<TcpSocket> {
public:
    static constexpr uint32_t RING_INIT_SIZE = 8388608;
    static constexpr uint32_t RING_GROWTH_FACTOR = 4;
    static constexpr uint32_t RING_MAX_SIZE = 1073741824;
    // Queued records one network write may carry.
    static constexpr uint32_t MAX_GATHER = 64;
    static constexpr uint64_t MAX_GATHER_BYTES = 1u << 20;

    TcpSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger, uint32_t ring_init_size = RING_INIT_SIZE,
              uint32_t ring_growth_factor = RING_GROWTH_FACTOR, uint32_t ring_max_size = RING_MAX_SIZE);
    ~TcpSocket() override;

    // host: a numeric IPv4 or IPv6 address (IPv6 may carry a "%" scope); no name lookup.
    void connect(const std::string& host, uint16_t port, std::error_code& ec) override;
    // Queues one frame. Not open: bad_descriptor. Ring cannot grow: 5001 "send
    // buffer full." and the connection is closed from the event loop.
    void write(const void* data, uint32_t length, std::error_code& ec) override;
    void async_read(void* buffer, uint32_t length, ReadHandler handler) override;
    // Reads what has arrived, at least one byte and at most length, then calls handler on the
    // event-loop thread.
    void async_read_some(void* buffer, uint32_t length, ReadHandler handler);
    bool is_open() override;
    void close(std::error_code& ec) override;
    std::string local_endpoint() override;
    std::string remote_endpoint() override;

    // On (the default): one network write carries up to MAX_GATHER queued
    // records; off: one record per write. The bytes on the wire are the same.
    void set_write_gathering(bool on) { m_gather.store(on, std::memory_order_relaxed); }

private:
    using Socket = asio::ip::tcp::socket;

    // A range over the batch's buffers that asio can copy cheaply.
    struct BufferRange {
        const asio::const_buffer* first;
        const asio::const_buffer* last;
        const asio::const_buffer* begin() const { return first; }
        const asio::const_buffer* end() const { return last; }
    };

    void schedule_write();
    void do_write(bool continuing);
    void start_send(const std::shared_ptr<Socket>& sock);
    void write_rest(const std::shared_ptr<Socket>& sock);
    void on_written(const std::shared_ptr<Socket>& sock, std::error_code ec, std::size_t n);
    void on_sent(const std::shared_ptr<Socket>& sock, std::error_code ec);
    void close_locked(const std::shared_ptr<Socket>& sock, std::error_code& ec);  // m_mutex held
    std::string endpoint_text(bool local);

    std::mutex m_mutex;  // m_endpoint, m_socket and every call on the asio socket object
    std::shared_ptr<asio::ip::tcp::endpoint> m_endpoint;
    std::shared_ptr<Socket> m_socket;
    std::atomic<bool> m_open{false};
    utility::SpscRingBuffer m_ring;

    // event-loop thread only
    bool m_writing = false;
    std::array<asio::const_buffer, MAX_GATHER> m_batch{};
    std::array<utility::SpscRingBuffer::Span, MAX_GATHER> m_spans{};
    std::size_t m_batch_count = 0;
    std::size_t m_batch_first = 0;  // buffers before it are on the wire
    uint32_t m_batch_records = 0;

    std::atomic<bool> m_write_scheduled{false};
    std::atomic<bool> m_gather{true};
};

}  // namespace client
}  // namespace tcp_framework
