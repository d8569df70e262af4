// TCP stream socket that never blocks its writers.
//
// A writer that finds nothing queued and no write of the event loop in flight sends its frame
// itself with one non-blocking send. Whatever the kernel does not take at once (all of a frame
// on EAGAIN, the rest of it after a short send) goes into a growable ring with the count of its
// bytes already written on this connection, and the event-loop thread writes it, gathering many
// queued frames per send; every later frame queues behind it, so the bytes on the wire keep the
// writers' order. A record is popped only once the kernel has taken all of it: after a failed
// send only the records that were not wholly accepted stay queued, and the one cut in the
// middle goes out again whole, first, on the next connection (a fragment at the start of a
// connection would read as a bad header). A writer that sends again right after its own last
// write (a burst) queues instead of sending, so a burst keeps the gathered writes.
#pragma once

#include <sys/uio.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

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
    // A write that starts within this long after the writer's previous one is part of a burst.
    static constexpr int64_t BURST_GAP_NS = 2000;
    // Frames of one burst sent by the writer itself before the rest queue for the event loop.
    static constexpr uint32_t BURST_DIRECT_FRAMES = 4;

    // The system's send for tests: the same contract as sendmsg with MSG_DONTWAIT (bytes taken,
    // or -1 with errno). Called with the socket's lock held, on the writer's or the event-loop
    // thread.
    using SendHook = std::function<ssize_t(int fd, const struct iovec* iov, int iovcnt)>;

    TcpSocket(asio::io_context& io, std::shared_ptr<spdlog::logger> logger, uint32_t ring_init_size = RING_INIT_SIZE,
              uint32_t ring_growth_factor = RING_GROWTH_FACTOR, uint32_t ring_max_size = RING_MAX_SIZE);
    ~TcpSocket() override;

    using ISocket::connect;
    // host: a numeric IPv4 or IPv6 address (IPv6 may carry a "%" scope); no name lookup.
    void connect(const std::string& host, uint16_t port, std::error_code& ec, const AbandonCheck& abandoned,
                 const FirstBytes& first) override;
    // Sends or queues one frame; never blocks. Not open: bad_descriptor. Ring cannot grow: 5001
    // "send buffer full." and the connection is closed from the event loop. A send that fails
    // keeps the frame queued for the next connection and closes this one, as a failed write of
    // the event loop does; the writer is not told.
    void write(const void* data, uint32_t length, std::error_code& ec) override;
    bool try_write(const void* data, uint32_t length, std::error_code& ec) override;
    void async_read(void* buffer, uint32_t length, ReadHandler handler) override;
    // Reads what has arrived, at least one byte and at most length, then calls handler on the
    // event-loop thread.
    void async_read_some(void* buffer, uint32_t length, ReadHandler handler);
    bool is_open() override;
    void close(std::error_code& ec) override;
    std::string local_endpoint() override;
    std::string remote_endpoint() override;

    // On (the default): one network write of the event loop carries up to MAX_GATHER queued
    // records; off: one record per write. The bytes on the wire are the same.
    void set_write_gathering(bool on) { m_gather.store(on, std::memory_order_relaxed); }
    // Off: every frame goes through the ring and the event loop, as before writers sent
    // themselves (for comparisons). On by default.
    void set_direct_send(bool on) { m_direct.store(on, std::memory_order_relaxed); }
    // Before the first connect.
    void set_send_hook(SendHook hook) { m_hook = std::move(hook); }

private:
    using Socket = asio::ip::tcp::socket;

    ssize_t send_now(int fd, const struct iovec* iov, int iovcnt);  // m_mutex held
    bool queue(const void* data, uint32_t length, std::error_code& ec);
    void schedule_write();
    void do_write();
    void write_loop();
    void wait_writable(const std::shared_ptr<Socket>& sock);
    void fail_write(const std::shared_ptr<Socket>& sock, int error);
    void close_locked(const std::shared_ptr<Socket>& sock, std::error_code& ec);  // m_mutex held
    std::string endpoint_text(bool local);
    void log_write_error(int error);

    std::mutex m_mutex;  // m_endpoint, m_socket, every call on the asio socket object, every send
    std::shared_ptr<asio::ip::tcp::endpoint> m_endpoint;
    std::shared_ptr<Socket> m_socket;
    uint64_t m_connection = 0;  // bumped by every connection that comes up; guarded by m_mutex
    std::atomic<bool> m_open{false};
    utility::SpscRingBuffer m_ring;
    SendHook m_hook;

    // Writers' side (serialised by the owner's send lock).
    uint64_t m_pushed = 0;          // records ever pushed
    int64_t m_last_write_ns = 0;    // when the previous write ended
    uint32_t m_burst = 0;           // writes in a row, each right after the one before
    // What a writer hands over with a frame it began to send itself: the record's number, the
    // connection and the bytes already on it. Written before the push that publishes the record.
    std::atomic<uint64_t> m_handoff_record{UINT64_MAX};
    std::atomic<uint64_t> m_handoff_connection{0};
    std::atomic<uint32_t> m_handoff_written{0};

    // Event-loop thread only.
    bool m_writing = false;            // a write or a wait for room is in flight
    uint64_t m_popped = 0;             // records ever popped
    uint64_t m_front_record = UINT64_MAX;  // the record m_front_written belongs to
    uint64_t m_front_connection = 0;
    uint32_t m_front_written = 0;      // bytes of the front record already on m_front_connection
    std::array<utility::SpscRingBuffer::Span, MAX_GATHER> m_spans{};
    std::array<uint32_t, MAX_GATHER> m_lengths{};
    std::array<struct iovec, MAX_GATHER> m_iov{};

    std::atomic<bool> m_write_scheduled{false};
    std::atomic<bool> m_gather{true};
    std::atomic<bool> m_direct{true};
};

}  // namespace client
}  // namespace tcp_framework
