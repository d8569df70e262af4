// Loopback peer for the framed TCP client.
//
// Written on plain POSIX sockets with its own frame encoder, decoder and CRC-32, so that it
// shares no code (and so no fault) with the client it checks. It includes no library header.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace oxa_test {

// Content types on the wire.
enum : uint8_t { kFrameRequest = 1, kFrameResponse = 2, kFramePush = 4, kFrameHeartbeat = 15 };

constexpr size_t kFrameHeaderSize = 32;
constexpr size_t kFrameOverhead = 34;               // header + tail
constexpr uint32_t kLargestReceivableBody = 2097150; // client's body area less the tail

// Standard reflected CRC-32 (zlib / Ethernet).
uint32_t peer_crc32(const void* data, size_t length);

// What the peer builds. The fault switches produce the broken frames the client must survive.
struct FrameFields {
    uint8_t content_type = kFrameResponse;
    uint32_t message_id = 0;
    uint64_t request_id = 0;
    uint8_t async_flag = 1;
    std::vector<uint8_t> body;
    bool has_length_field = false;   // write length_field instead of body.size() (CRC matches it)
    uint32_t length_field = 0;
    int flip_crc_bit = -1;           // 0..31: flip that bit of the stored CRC
    bool header_only = false;        // emit only the 32-byte header
    bool bad_tail = false;           // tail bytes 00 00 instead of FE FE
};

std::vector<uint8_t> encode_frame(const FrameFields& frame);
std::vector<uint8_t> encode_frame(uint8_t content_type, uint32_t message_id, uint64_t request_id,
                                  const void* body, uint32_t length, uint8_t async_flag);
std::vector<uint8_t> encode_heartbeat();

// One frame as the peer decoded it.
struct WireFrame {
    int connection = 0;              // 0-based index of the accepted connection
    uint8_t head[2] = {0, 0};
    uint8_t version = 0;
    uint8_t content_type = 0;
    uint32_t message_id = 0;
    uint64_t request_id = 0;
    uint32_t body_length = 0;
    uint8_t async_flag = 0;
    uint8_t reserved[7] = {0, 0, 0, 0, 0, 0, 0};
    uint32_t crc = 0;
    bool head_ok = false;            // EF EF, version 1
    bool type_ok = false;            // 1, 2, 4 or 15
    bool crc_ok = false;
    bool tail_ok = false;            // FE FE
    std::vector<uint8_t> body;       // empty unless bodies are kept
    std::chrono::steady_clock::time_point received;

    bool sound() const { return head_ok && type_ok && crc_ok && tail_ok; }
};

class FrameTestServer {
public:
    enum class Family { kIPv4, kIPv6, kUnix };

    struct Options {
        Family family = Family::kIPv4;
        std::string unix_path;        // kUnix
        uint16_t port = 0;            // 0: a free port below the ephemeral range
        bool answer_heartbeats = false;
        bool echo_requests = false;   // answer every request with a response of the same ids and body
        bool keep_frames = true;      // store decoded frames (tests); off for benchmarks
        bool keep_bodies = true;
    };

    FrameTestServer();
    explicit FrameTestServer(Options options);
    ~FrameTestServer();
    FrameTestServer(const FrameTestServer&) = delete;
    FrameTestServer& operator=(const FrameTestServer&) = delete;

    bool listening() const;
    uint16_t port() const { return port_; }
    std::string host() const;        // "127.0.0.1", "::1" or the unix path
    std::string url() const;         // "tcp://127.0.0.1:PORT" or "unix://PATH"

    // Behaviour switches; take effect at once on every connection.
    void set_answer_heartbeats(bool on) { answer_heartbeats_ = on; }
    void set_echo_requests(bool on) { echo_requests_ = on; }
    void set_reading(bool on);       // false: stop reading (the client's sends pile up)
    void set_keep_frames(bool on) { keep_frames_ = on; }
    // Called on a reader thread for every decoded frame, before it is stored. Set it before the
    // client connects.
    void set_on_frame(std::function<void(const WireFrame&)> fn);

    // Counters.
    int connections() const { return accepted_.load(); }
    int open_connections() const;
    size_t frame_count() const { return frames_total_.load(); }
    size_t frame_count(uint8_t content_type) const;
    size_t bad_frames() const { return bad_frames_.load(); }   // any check failed
    std::vector<WireFrame> frames() const;
    std::vector<WireFrame> frames(uint8_t content_type) const;
    void clear_frames();
    // Whether connection i saw the client close it (EOF or reset).
    bool closed_by_client(int connection) const;

    // Bounded waits; each returns whether the condition held in time.
    bool wait_for(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;
    bool wait_connections(int n, std::chrono::milliseconds timeout) const;
    bool wait_frames(uint8_t content_type, size_t n, std::chrono::milliseconds timeout) const;
    bool wait_closed_by_client(int connection, std::chrono::milliseconds timeout) const;

    // Sending on the newest connection. All return false when there is none or a send fails.
    bool send_bytes(const void* data, size_t length);
    bool send_bytes(const std::vector<uint8_t>& bytes) { return send_bytes(bytes.data(), bytes.size()); }
    bool send_bytewise(const std::vector<uint8_t>& bytes,
                       std::chrono::microseconds gap = std::chrono::microseconds(200));
    // First `first` bytes in one write, the rest in a second write after `gap`.
    bool send_split(const std::vector<uint8_t>& bytes, size_t first,
                    std::chrono::microseconds gap = std::chrono::milliseconds(2));
    // Several frames joined into one write.
    bool send_joined(const std::vector<std::vector<uint8_t>>& frames);
    bool send_frame(uint8_t content_type, uint32_t message_id, uint64_t request_id,
                    const std::vector<uint8_t>& body, uint8_t async_flag = 1);

    // Closing the newest connection.
    void close_fin();                // orderly: FIN, then the descriptor once the client closed
    void close_rst();                // abortive: RST
    void close_all_rst();

    // Listening. While not listening, connection attempts to the port are refused by the system.
    void stop_listening();
    bool listen_again();             // on the same port
    // Refuses attempts (the port is closed) until `attempts()` reports n of them, then listens
    // again on the same port; returns at once. Gives up refusing after `timeout`. A plain socket
    // cannot see a refused attempt, so the caller counts them (e.g. from the client's log).
    void refuse_then_listen(int n, std::function<int()> attempts, std::chrono::milliseconds timeout);
    bool wait_listening(std::chrono::milliseconds timeout) const;

private:
    struct Conn;

    bool open_listener();
    void accept_loop(int listen_fd, int wake_fd);
    void reader_loop(Conn* c);
    void handle_frame(Conn* c, WireFrame&& f);
    bool send_on(Conn* c, const void* data, size_t length);
    Conn* newest();
    void close_conn(Conn* c, bool rst);
    void note_event();

    Options opt_;
    uint16_t port_ = 0;

    std::atomic<bool> answer_heartbeats_{false};
    std::atomic<bool> echo_requests_{false};
    std::atomic<bool> keep_frames_{true};
    std::atomic<bool> reading_{true};
    std::function<void(const WireFrame&)> on_frame_;

    std::mutex listen_mu_;
    int listen_fd_ = -1;
    int listen_wake_fd_ = -1;
    std::thread accept_thread_;
    std::thread relisten_thread_;
    std::atomic<bool> relisten_quit_{false};

    mutable std::mutex mu_;          // connections, frames
    mutable std::condition_variable cv_;
    uint64_t events_ = 0;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::vector<WireFrame> frames_;

    std::atomic<int> accepted_{0};
    std::atomic<size_t> frames_total_{0};
    std::atomic<size_t> frames_by_type_[16] = {};
    std::atomic<size_t> bad_frames_{0};
};

}  // namespace oxa_test
