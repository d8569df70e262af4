// One framed stream connection to a gateway: requests out, responses, pushes and heartbeats
// in, a heartbeat timer, detection of a silent peer and reconnection on its own.
//
// Threads: the io thread ("tcp_cli_async") runs the event loop, the read loop, the heartbeat
// timer and the response, push, heartbeat and (after a failure) disconnected callbacks. Connect
// attempts run on the thread that asks for them: the caller of connect, or the reconnect thread
// ("tcp_reconnect"), which waits out the interval; stop gives an attempt in progress up. The
// on-connect thread ("tcp_on_connect") calls the connected callback once per connection, so
// that callback may send and wait for answers. Every connection that came up gets its connected
// callback before its disconnected one: a connection lost (or stopped) before its connected
// callback has returned is reported right after it, on the on-connect thread. stop reports
// (0, "") on its own thread otherwise.
//
// Requests go out from the caller's thread: TcpSocket sends a frame itself when nothing is
// queued, so an order does not wait for the io thread to wake up.
//
// Every connection may announce itself: the link-up callback runs on the connecting thread once
// the connection is made, and the requests it returns are written before the connection is
// published, so they are its first frames, ahead of any request of the owner and of the frames
// the previous connection left queued. The link-down callback reports the loss of that link at
// once, on the thread that noticed it.
//
// Lifetime: the io thread keeps only the event loop alive, never the client. Every handler and
// helper thread holds the client while it runs; once the client is stopped and its owners let
// go, the last of them destroys it, which ends the io thread (joined, unless it is the thread
// destroying the client) and frees the buffers, the ring and the event loop.
//
// Every read and timer chain carries the generation of the connection it was started for and
// ends quietly when that connection is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <spdlog/logger.h>

#include "infra/tcp_framework/client/ErrorCategory.h"
#include "infra/tcp_framework/client/FrameReader.h"
#include "infra/tcp_framework/client/Package.h"

namespace tcp_framework {
namespace client {

class ISocket;
class TcpSocket;
class TcpClient;

using PackageCallback = std::function<int(std::shared_ptr<TcpClient>, unsigned int message_id,
                                          unsigned long request_id, const unsigned char* body,
                                          unsigned int length)>;
using ConnectedCallback = std::function<int(std::shared_ptr<TcpClient>)>;
using StatusCallback = std::function<int(std::shared_ptr<TcpClient>, int code, const char* text)>;

// A request a new link sends ahead of everything else.
struct LinkRequest {
    uint32_t message_id = 0;
    uint64_t request_id = 0;
    std::vector<uint8_t> body;
};
// On the connecting thread, once a connection is made and before it replaces the previous one
// (so before the connected flag goes up and before the send ring's leftovers go out): the
// requests returned are the link's first frames. `link` names the connection; every connection
// that comes up has a greater one.
using LinkUpCallback = std::function<std::vector<LinkRequest>(std::shared_ptr<TcpClient>, uint64_t link)>;
// As soon as an announced link is lost, or was never brought up, on the thread that noticed:
// never held back behind the connected callback as the disconnected callback may be.
using LinkDownCallback = std::function<void(std::shared_ptr<TcpClient>, uint64_t link)>;

// Result codes of the client (0 = success).
enum TcpClientCode : int {
    TCP_CLIENT_CONNECT_FAILED = 1002,    // connect attempt failed, or a send reported an error
    TCP_CLIENT_BAD_URL = 1003,
    TCP_CLIENT_BAD_SCHEME = 1004,
    TCP_CLIENT_INVALID_PACKAGE = 1005,   // shutdown reason
    TCP_CLIENT_NOT_CONNECTED = 2001,
    TCP_CLIENT_REQUEST_TIMEOUT = 2003,
    TCP_CLIENT_STOP_FAILED = 2004,       // socket close failed, or stop timed out
    TCP_CLIENT_HEARTBEAT_TIMEOUT = 2005, // shutdown reason
    TCP_CLIENT_REQUEST_PENDING = 3001,
    TCP_CLIENT_SEND_BUFFER_FULL = 5001,
    TCP_CLIENT_KEY_NOT_FOUND = 9999,
};

// Splits "scheme://host[:port]". The port text is read as a decimal int (leading blanks and a
// sign accepted, reading stops at the first other character); no digit or a value outside
// 32 bits is invalid; the port is the value's low 16 bits; an empty port text is port 0.
// Never throws.
bool parse_url(const std::string& url, std::string& scheme, std::string& host, uint16_t& port);

class TcpClient : public std::enable_shared_from_this<TcpClient> {
public:
    // reconnect_interval_ms 0 = no automatic reconnection. Create it through a shared pointer.
    TcpClient(int reconnect_interval_ms, void* context);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // Settings: before the first connect (they have no lock of their own).
    void set_logger(std::shared_ptr<spdlog::logger> logger);
    int set_heartbeat_interval(int ms);
    void set_async_thread(const char* name, int cpu);
    void set_response_async_callback(PackageCallback cb);
    void set_push_callback(PackageCallback cb);
    void set_connected_callback(ConnectedCallback cb);
    void set_heartbeat_callback(StatusCallback cb);
    void set_disconnected_callback(StatusCallback cb);
    // How long stop waits for the reconnect thread and for the read loop (1000 ms each).
    void set_stop_timeout(int ms);
    void set_link_callbacks(LinkUpCallback up, LinkDownCallback down);

    int connect(const std::string& url);
    int connect(const std::string& host, uint16_t port);
    int request_async(uint32_t message_id, uint64_t request_id, const void* body, uint32_t length);
    // Synchronous request: waits up to timeout_ms for the response with the same request id.
    // `out` must hold the largest response body (2,097,150 bytes).
    int request(uint32_t message_id, uint64_t request_id, const void* body, uint32_t length, void* out,
                uint32_t* out_length, int timeout_ms);
    bool is_connected() const { return connected_.load(); }
    void* context() const { return context_; }
    // Inside a response or push callback: the link the frame was read from.
    uint64_t delivering_link() const { return delivering_link_; }
    int stop();
    void get_last_error(int* code, char* text);
    int get_local_endpoint(std::string& ip, uint16_t& port);
    int get_remote_endpoint(std::string& ip, uint16_t& port);
    int join();
    void init_logger(const std::string& folder, bool to_stdout, int level);

    const std::error_category& category() const { return category_; }

private:
    struct PendingEntry {
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<std::vector<unsigned char>> responses;
    };
    // What outlives the client on the io thread: the event loop it runs.
    struct IoCore {
        asio::io_context io;
        asio::executor_work_guard<asio::io_context::executor_type> work{asio::make_work_guard(io)};
    };
    // A connection whose connected callback is still to come or running, with the disconnected
    // callback that must wait for it.
    struct ConnectNotice {
        uint64_t generation = 0;
        bool disconnect_owed = false;
        int code = 0;
        std::string text;
    };
    using Clock = std::chrono::steady_clock;

    bool on_io_thread() const;
    bool on_own_helper_thread() const;

    int attempt_locked(uint64_t epoch);  // attempt_mutex_ held, on the calling thread
    int start_reconnect(int code);
    std::vector<uint8_t> first_frames(uint64_t link);  // the link-up callback's requests, framed
    void report_link_down(uint64_t link);
    void reconnect_main();
    void async_run();
    void bring_up(uint64_t generation, const std::shared_ptr<ISocket>& sock);
    void queue_connected(uint64_t generation);
    void notifier_main();
    // false: deferred to the on-connect thread, behind the connection's connected callback
    bool deliver_disconnected(uint64_t generation, int code, const std::string& text);

    void do_read(uint64_t generation);
    // `keep` is the reference the read holds; the callbacks get copies of it.
    void on_read(const std::shared_ptr<TcpClient>& keep, uint64_t generation, const std::error_code& ec,
                 std::size_t n);
    void on_read_some(const std::shared_ptr<TcpClient>& keep, uint64_t generation, bool into_area,
                      const std::error_code& ec, std::size_t n);
    void on_read_error(uint64_t generation, const std::error_code& ec);
    bool on_reader_result(const std::shared_ptr<TcpClient>& keep, uint64_t generation, FrameReader::Result r);
    int dispatch(const std::shared_ptr<TcpClient>& keep);
    int handle_response(const std::shared_ptr<TcpClient>& keep, const PackageHeader& h, const unsigned char* body);
    int handle_push(const std::shared_ptr<TcpClient>& keep, const PackageHeader& h, const unsigned char* body);
    int handle_heartbeat(const std::shared_ptr<TcpClient>& keep);
    void do_heartbeat(uint64_t generation, bool restart);
    void on_heartbeat_timer(uint64_t generation, const std::error_code& ec);
    bool check_heartbeat_timeout(uint64_t generation);
    // Any thread, once per connection: closes it and reports the loss. generation 0: the current
    // connection; otherwise only that one.
    int do_shutdown(int code, const std::error_category& category, bool may_reconnect = true,
                    uint64_t generation = 0);
    void end_read_loop(uint64_t generation);

    // Under the send lock, after a sender's frame: the heartbeat the io thread could not send.
    void send_owed_heartbeat();
    void touch_receive_time();
    // Once per completed read: the frames of one read arrived at the same moment.
    void note_receive();
    std::string current_url() const;
    std::shared_ptr<ISocket> current_socket() const;
    void set_last_error(int code, const std::string& text);
    std::shared_ptr<TcpClient> self();
    int call_status(const StatusCallback& cb, int code, const char* text);

    void* const context_;
    ErrorCategory category_;
    std::shared_ptr<spdlog::logger> logger_;
    const int reconnect_interval_;

    mutable std::mutex url_mutex_;
    std::string url_;
    std::string host_;
    uint16_t port_ = 0;

    // Declared before every asio object of the client, so it is destroyed after them.
    std::shared_ptr<IoCore> core_;
    // Replaced by connect(url) under both send_mutex_ and socket_mutex_; senders read it under
    // send_mutex_, everyone else under socket_mutex_.
    mutable std::mutex socket_mutex_;
    std::shared_ptr<ISocket> socket_;
    bool socket_is_tcp_ = false;
    // The io thread's own view of the connection it serves, set when the connection comes up.
    std::shared_ptr<ISocket> io_socket_;
    TcpSocket* io_tcp_ = nullptr;       // io_socket_ when it is a TCP one: reads take what has arrived
    std::atomic<int> heartbeat_interval_{0};
    std::atomic<bool> heartbeat_owed_{false};
    std::atomic<int64_t> last_receive_ns_{0};  // steady clock
    bool receive_noted_ = false;               // io thread: this read's time is taken
    asio::steady_timer heartbeat_timer_;

    std::mutex threads_mutex_;
    std::thread io_thread_;
    std::thread reconnect_thread_;      // the newest; each one joins the one before it
    std::thread notifier_thread_;       // likewise
    char io_thread_name_[16];
    int io_thread_cpu_ = -1;
    std::atomic<bool> io_started_{false};
    std::atomic<std::thread::id> io_thread_id_{};
    // Reconnect and on-connect threads still at work. Shared with them: a thread counts itself
    // out only after it let go of the client, which may be destroyed right then.
    struct Helpers {
        std::mutex mutex;
        std::condition_variable cv;
        int count = 0;
        void enter() {
            std::lock_guard<std::mutex> lk(mutex);
            ++count;
        }
        void leave() {
            {
                std::lock_guard<std::mutex> lk(mutex);
                --count;
            }
            cv.notify_all();
        }
        bool wait_none(std::chrono::steady_clock::time_point deadline) {
            std::unique_lock<std::mutex> lk(mutex);
            if (deadline == std::chrono::steady_clock::time_point::max()) {
                cv.wait(lk, [&] { return count == 0; });
                return true;
            }
            return cv.wait_until(lk, deadline, [&] { return count == 0; });
        }
    };
    std::shared_ptr<Helpers> helpers_ = std::make_shared<Helpers>();

    // One attempt at a time; the target (socket, host, port) changes only under it.
    std::mutex attempt_mutex_;
    uint64_t target_epoch_ = 0;         // the epoch the current target belongs to

    // stopping_, epoch_ and bringing a connection up or down are decided under it.
    std::mutex state_mutex_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> generation_{0};  // bumped by every connection that comes up
    // Bumped by every connect(url): an attempt of an older one gives up.
    std::atomic<uint64_t> epoch_{0};

    std::mutex reconnect_mutex_;
    std::condition_variable reconnect_cv_;
    bool reconnecting_ = false;         // a reconnect thread is in its loop
    bool reconnect_again_ = false;      // a shutdown came while it ran

    std::mutex notice_mutex_;
    std::condition_variable notice_cv_;
    std::deque<ConnectNotice> notices_;
    std::optional<ConnectNotice> notice_running_;
    bool notifier_alive_ = false;

    std::mutex read_loop_mutex_;
    std::shared_ptr<std::promise<bool>> read_loop_promise_;
    std::shared_future<bool> read_loop_future_;
    uint64_t read_loop_generation_ = 0;
    bool read_loop_ended_ = true;

    std::mutex pending_mutex_;
    std::map<uint64_t, std::shared_ptr<PendingEntry>> pending_;

    PackageCallback response_cb_;
    PackageCallback push_cb_;
    ConnectedCallback connected_cb_;
    StatusCallback heartbeat_cb_;
    StatusCallback disconnected_cb_;
    LinkUpCallback link_up_cb_;
    LinkDownCallback link_down_cb_;
    uint64_t delivering_link_ = 0;  // io thread

    std::mutex error_mutex_;
    int last_error_code_ = 0;
    std::string last_error_text_;

    std::mutex endpoint_mutex_;
    std::string local_endpoint_;
    std::string remote_endpoint_;

    std::unique_ptr<uint8_t[]> receive_buffer_;
    FrameReader reader_;
    // What one TCP read may take: every whole frame in it is handed on from here, a frame cut
    // at its end continues in the receive buffer.
    static constexpr std::size_t READ_CHUNK_SIZE = 65536;
    std::unique_ptr<uint8_t[]> read_chunk_;
    std::unique_ptr<PackageBuffer> send_buffer_;
    std::mutex send_mutex_;

    std::atomic<int> stop_timeout_ms_{1000};
};

}  // namespace client
}  // namespace tcp_framework
