#include "infra/tcp_framework/client/TcpClient.h"

#include <pthread.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include <asio/error.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include "infra/tcp_framework/client/ISocket.h"
#include "infra/tcp_framework/client/LocalSocket.h"
#include "infra/tcp_framework/client/TcpSocket.h"
#include "infra/utility/SystemFunctions.h"

namespace tcp_framework {
namespace client {

namespace {

std::atomic<int> g_logger_counter{0};

// The client whose reconnect or on-connect thread this is.
thread_local const TcpClient* t_helper_of = nullptr;

// A deadline that never comes in practice, without the overflow of time_point::max().
std::chrono::steady_clock::time_point far_future() {
    return std::chrono::steady_clock::now() + std::chrono::hours(24 * 365);
}

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Text of an error code. asio's system and misc categories and the framework's shared category
// are function-local statics, destroyed at process exit while the io thread may still be
// running, so their texts are made here instead of through those objects.
std::string error_text(const std::error_code& ec) {
    if (ec.category() == asio::system_category()) {
        if (ec.value() == ECANCELED) return "Operation aborted.";
        char buf[256] = "";
        return strerror_r(ec.value(), buf, sizeof buf);  // the GNU form returns the text
    }
    if (ec.category() == error_category()) {
        // the framework's shared category is such a static too
        static const ErrorCategory* texts = new ErrorCategory();  // never freed
        return texts->message(ec.value());
    }
    if (ec.category() == asio::error::get_misc_category()) {
        switch (ec.value()) {
            case asio::error::already_open: return "Already open";
            case asio::error::eof: return "End of file";
            case asio::error::not_found: return "Element not found";
            case asio::error::fd_set_failure: return "The descriptor does not fit into the select call's fd_set";
        }
        return "asio.misc error";
    }
    return ec.message();
}

// A bounded wait for a mutex by polling; timed mutexes use a clock-locking call that not every
// thread checker understands.
bool try_lock_until(std::unique_lock<std::mutex>& lk, std::chrono::steady_clock::time_point deadline) {
    for (int spins = 0;; ++spins) {
        if (lk.try_lock()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (spins < 64)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::shared_ptr<spdlog::logger> make_null_logger() {
    auto name = "tcp_client_" + std::to_string(g_logger_counter.fetch_add(1));
    auto logger = std::make_shared<spdlog::logger>(name, std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::off);
    try {
        spdlog::register_logger(logger);
    } catch (...) {
        // a logger of that name exists already: ours stays private
    }
    return logger;
}

}  // namespace

bool parse_url(const std::string& url, std::string& scheme, std::string& host, uint16_t& port) {
    const auto sep = url.find("://");
    if (sep == std::string::npos) return false;
    const std::string rest = url.substr(sep + 3);
    const auto colon = rest.find(':');
    if (colon == std::string::npos) {
        scheme = url.substr(0, sep);
        host = rest;
        port = 0;
        return true;
    }
    const std::string text = rest.substr(colon + 1);
    int64_t value = 0;
    if (!text.empty()) {
        // as the standard string-to-int reads it, without its exceptions
        size_t i = 0;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        const size_t first_digit = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + (text[i] - '0');
            if (value > static_cast<int64_t>(INT_MAX) + 1) return false;
            ++i;
        }
        if (i == first_digit) return false;
        if (negative) value = -value;
        if (value > INT_MAX || value < INT_MIN) return false;
    }
    scheme = url.substr(0, sep);
    host = rest.substr(0, colon);
    port = static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(value)) & 0xFFFFu);
    return true;
}

TcpClient::TcpClient(int reconnect_interval_ms, void* context)
    : context_(context),
      logger_(make_null_logger()),
      reconnect_interval_(reconnect_interval_ms),
      heartbeat_timer_(io_),
      receive_buffer_(new uint8_t[RECEIVE_BUFFER_SIZE]()),
      reader_(receive_buffer_.get(), RECEIVE_BUFFER_SIZE),
      read_chunk_(new uint8_t[READ_CHUNK_SIZE]),
      send_buffer_(new PackageBuffer()) {
    std::memset(io_thread_name_, 0, sizeof io_thread_name_);
    std::strncpy(io_thread_name_, "tcp_cli_async", sizeof io_thread_name_ - 1);
    last_error_text_ = std::system_category().message(0);
}

TcpClient::~TcpClient() {
    // Runs only when no thread holds a reference any more. The io thread, once started, keeps
    // one for good, so here it never ran.
    if (io_thread_.joinable()) io_thread_.detach();
}

std::shared_ptr<TcpClient> TcpClient::self() { return weak_from_this().lock(); }

void TcpClient::set_logger(std::shared_ptr<spdlog::logger> logger) {
    if (logger) logger_ = std::move(logger);
}

int TcpClient::set_heartbeat_interval(int ms) {
    heartbeat_interval_.store(ms);
    return 0;
}

void TcpClient::set_async_thread(const char* name, int cpu) {
    // The lock under which the io thread is started: these settings either come before that
    // thread reads them or are dropped.
    std::lock_guard<std::mutex> lk(threads_mutex_);
    if (io_started_.load()) return;
    if (name) {
        std::memset(io_thread_name_, 0, sizeof io_thread_name_);
        std::strncpy(io_thread_name_, name, sizeof io_thread_name_ - 1);
    }
    io_thread_cpu_ = cpu;
}

void TcpClient::set_response_async_callback(PackageCallback cb) { response_cb_ = std::move(cb); }
void TcpClient::set_push_callback(PackageCallback cb) { push_cb_ = std::move(cb); }
void TcpClient::set_connected_callback(ConnectedCallback cb) { connected_cb_ = std::move(cb); }
void TcpClient::set_heartbeat_callback(StatusCallback cb) { heartbeat_cb_ = std::move(cb); }
void TcpClient::set_disconnected_callback(StatusCallback cb) { disconnected_cb_ = std::move(cb); }
void TcpClient::set_stop_timeout(int ms) { stop_timeout_ms_.store(ms > 0 ? ms : 0); }

std::string TcpClient::current_url() const {
    std::lock_guard<std::mutex> lk(url_mutex_);
    return url_;
}

void TcpClient::set_last_error(int code, const std::string& text) {
    std::lock_guard<std::mutex> lk(error_mutex_);
    last_error_code_ = code;
    last_error_text_ = text;
}

void TcpClient::get_last_error(int* code, char* text) {
    std::lock_guard<std::mutex> lk(error_mutex_);
    if (code) *code = last_error_code_;
    if (text) {
        const size_t n = std::min(last_error_text_.size(), static_cast<size_t>(1023));
        std::memcpy(text, last_error_text_.data(), n);
        text[n] = '\0';
    }
}

void TcpClient::touch_receive_time() { last_receive_ns_.store(steady_ns(), std::memory_order_relaxed); }

void TcpClient::note_receive() {
    if (receive_noted_) return;
    receive_noted_ = true;
    touch_receive_time();
}

// ---------------------------------------------------------------------------------------------
// Where connection work runs

bool TcpClient::on_io_thread() const { return io_thread_id_.load() == std::this_thread::get_id(); }

bool TcpClient::run_on_io(std::function<void()> fn, Clock::time_point deadline, bool give_up_on_stop) {
    if (on_io_thread()) {
        fn();
        return true;
    }
    if (!io_started_.load()) {
        // No io thread yet: run here, one caller at a time. The io thread can only be started
        // by such a caller, under this same lock.
        std::unique_lock<std::mutex> lk(attempt_mutex_, std::defer_lock);
        if (!try_lock_until(lk, deadline)) return false;
        if (!io_started_.load()) {
            fn();
            return true;
        }
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    auto keep = self();
    asio::post(io_, [keep, done, fn = std::move(fn)] {
        fn();
        {
            std::lock_guard<std::mutex> lk(done->mutex);
            done->done = true;
        }
        done->cv.notify_all();
    });
    std::unique_lock<std::mutex> lk(done->mutex);
    for (;;) {
        const auto step = std::min(deadline, Clock::now() + std::chrono::milliseconds(20));
        if (done->cv.wait_until(lk, step, [&] { return done->done; })) return true;
        if (Clock::now() >= deadline) return false;
        if (give_up_on_stop && stopping_.load()) return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Connecting

int TcpClient::connect(const std::string& host, uint16_t port) {
    try {
        return connect(fmt::format("tcp://{}:{}", host, port));
    } catch (...) {
        return TCP_CLIENT_BAD_URL;
    }
}

int TcpClient::connect(const std::string& url) {
    try {
        auto keep = self();
        if (!keep) {
            logger_->error("tcp client must be owned by a shared pointer: {}", url);
            return TCP_CLIENT_BAD_URL;
        }
        {
            std::lock_guard<std::mutex> lk(url_mutex_);
            url_ = url;
        }
        uint64_t epoch;
        {
            std::lock_guard<std::mutex> lk(reconnect_mutex_);
            stopping_ = false;
            epoch = epoch_.fetch_add(1) + 1;
        }
        std::string scheme, host;
        uint16_t port = 0;
        if (!parse_url(url, scheme, host, port)) {
            logger_->error("invalid url: {}", url);
            return TCP_CLIENT_BAD_URL;
        }
        std::shared_ptr<ISocket> sock;
        if (scheme == "tcp") {
            sock = std::make_shared<TcpSocket>(io_, logger_);
        } else if (scheme == "unix") {
            sock = std::make_shared<LocalSocket>(io_, logger_);
        } else {
            logger_->error("unknown protocol: {}", scheme);
            return TCP_CLIENT_BAD_SCHEME;
        }

        // The new socket replaces the old one where the old one's reads and writes run; a
        // connection still up is shut down first, as a lost one would be, without a retry.
        const bool swapped = run_on_io(
            [this, sock, scheme, host, port] {
                if (connected_.load()) do_shutdown(0, category_, false);
                std::shared_ptr<ISocket> old;
                {
                    std::lock_guard<std::mutex> lk(send_mutex_);
                    old = std::move(socket_);
                    socket_ = sock;
                    tcp_socket_ = scheme == "tcp" ? static_cast<TcpSocket*>(sock.get()) : nullptr;
                }
                {
                    std::lock_guard<std::mutex> lk(url_mutex_);
                    scheme_ = scheme;
                    host_ = host;
                    port_ = port;
                }
                // Completions of the old socket were queued when it closed; release it after them.
                if (old && io_started_.load()) asio::post(io_, [old] {});
            },
            far_future(), false);
        if (!swapped) return TCP_CLIENT_CONNECT_FAILED;

        const int rc = reconnect(epoch);
        if (rc == 0) return 0;
        if (stopping_.load()) return rc;  // a stop came during the attempt: no retries
        return start_reconnect(rc);
    } catch (const std::exception& e) {
        logger_->error("connect({}) failed: {}", url, e.what());
        return TCP_CLIENT_CONNECT_FAILED;
    } catch (...) {
        return TCP_CLIENT_CONNECT_FAILED;
    }
}

int TcpClient::reconnect(uint64_t epoch) {
    auto rc = std::make_shared<int>(TCP_CLIENT_CONNECT_FAILED);
    const bool ran = run_on_io([this, rc, epoch] { *rc = attempt_connect(epoch); }, far_future(), true);
    return ran ? *rc : TCP_CLIENT_CONNECT_FAILED;
}

int TcpClient::attempt_connect(uint64_t epoch) {
    if (connected_.load()) return 0;  // another attempt got there first
    // An attempt queued before a stop or a newer connect must not bring the old target up.
    if (stopping_.load() || epoch != epoch_.load() || !socket_) return TCP_CLIENT_CONNECT_FAILED;
    std::string host;
    uint16_t port;
    {
        std::lock_guard<std::mutex> lk(url_mutex_);
        host = host_;
        port = port_;
    }
    std::error_code ec;
    socket_->connect(host, port, ec);
    if (ec) {
        const std::string text = error_text(ec);
        set_last_error(ec.value(), text);
        logger_->warn("network error({}):{}", ec.value(), text);
        return TCP_CLIENT_CONNECT_FAILED;
    }
    if (stopping_.load() || epoch != epoch_.load()) {
        // stopped (or replaced) while the connect blocked: the connection is not wanted
        std::error_code ignored;
        socket_->close(ignored);
        logger_->info("({})connect abandoned: client stopped.", current_url());
        return TCP_CLIENT_CONNECT_FAILED;
    }
    const uint64_t gen = generation_.fetch_add(1) + 1;
    reader_.reset();
    {
        std::lock_guard<std::mutex> lk(read_loop_mutex_);
        read_loop_promise_ = std::make_shared<std::promise<bool>>();
        read_loop_future_ = read_loop_promise_->get_future().share();
        read_loop_ended_ = false;
    }
    {
        std::lock_guard<std::mutex> lk(endpoint_mutex_);
        local_endpoint_ = socket_->local_endpoint();
        remote_endpoint_ = socket_->remote_endpoint();
    }
    touch_receive_time();
    connected_ = true;
    do_read(gen);
    do_heartbeat(gen, false);
    async_run();  // after this, asio objects are the io thread's alone
    start_on_connected(gen);
    logger_->info("({})connect success.", current_url());
    return 0;
}

int TcpClient::start_reconnect(int code) {
    if (reconnect_interval_ <= 0) return code;
    auto keep = self();
    if (!keep) return code;
    std::lock_guard<std::mutex> lk(reconnect_mutex_);
    if (reconnecting_) {
        // the running thread goes round once more instead of a second thread
        reconnect_again_ = true;
        return 0;
    }
    reconnecting_ = true;
    reconnect_again_ = false;
    try {
        std::thread([keep] { keep->reconnect_main(); }).detach();
    } catch (const std::exception& e) {
        reconnecting_ = false;
        logger_->error("cannot start the reconnect thread: {}", e.what());
        return code;
    }
    return 0;
}

void TcpClient::reconnect_main() {
    t_helper_of = this;
    try {
        pthread_setname_np(pthread_self(), "tcp_reconnect");
        std::unique_lock<std::mutex> lk(reconnect_mutex_);
        for (;;) {
            if (stopping_.load()) break;
            reconnect_again_ = false;
            const std::string url = current_url();
            logger_->info("after {}ms reconnect({})", reconnect_interval_, url);
            const auto deadline = Clock::now() + std::chrono::milliseconds(reconnect_interval_);
            reconnect_cv_.wait_until(lk, deadline, [&] { return stopping_.load(); });
            if (stopping_.load()) break;
            logger_->info("reconnecting({})...", url);
            const uint64_t epoch = epoch_.load();
            lk.unlock();
            const int rc = reconnect(epoch);
            lk.lock();
            if (rc == 0 && !reconnect_again_) break;
        }
        reconnecting_ = false;
        lk.unlock();
        reconnect_cv_.notify_all();
    } catch (...) {
        {
            std::lock_guard<std::mutex> lk(reconnect_mutex_);
            reconnecting_ = false;
        }
        reconnect_cv_.notify_all();
    }
}

void TcpClient::async_run() {
    if (io_started_.load()) return;
    auto keep = self();
    if (!keep) return;
    std::lock_guard<std::mutex> lk(threads_mutex_);
    if (io_started_.load()) return;
    try {
        io_thread_ = std::thread([keep] { keep->io_main(); });
        io_started_ = true;
    } catch (const std::exception& e) {
        logger_->error("cannot start the io thread: {}", e.what());
    }
}

void TcpClient::io_main() {
    io_thread_id_ = std::this_thread::get_id();
    pthread_setname_np(pthread_self(), io_thread_name_);
    if (io_thread_cpu_ != -1) {
        if (!OXA::API::BindThreadToCpu(io_thread_cpu_, nullptr)) {
            logger_->warn("allocate cpu core id {} for tcp client async thread failed.", io_thread_cpu_);
        } else {
            sched_param sp{};
            sp.sched_priority = sched_get_priority_max(SCHED_FIFO);
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);  // a refusal is fine
        }
    }
    // Outstanding work keeps the loop running for the life of the process.
    auto work = asio::make_work_guard(io_);
    for (;;) {
        try {
            io_.run();
            return;
        } catch (const std::exception& e) {
            logger_->error("tcp client event loop: {}", e.what());
        } catch (...) {
            logger_->error("tcp client event loop: unknown exception");
        }
    }
}

void TcpClient::start_on_connected(uint64_t generation) {
    auto keep = self();
    if (!keep) return;
    std::lock_guard<std::mutex> lk(threads_mutex_);
    try {
        std::thread([keep, generation] {
            t_helper_of = keep.get();
            try {
                pthread_setname_np(pthread_self(), "tcp_on_connect");
                // One callback at a time. A thread of an older connection that comes late finds
                // its connection gone and calls nothing, so the order stays the connections'.
                std::lock_guard<std::mutex> cb(keep->on_connect_mutex_);
                if (!keep->stopping_.load() && keep->connected_.load() && keep->generation_.load() == generation &&
                    keep->connected_cb_)
                    keep->connected_cb_(keep);
            } catch (const std::exception& e) {
                keep->logger_->error("connected callback threw: {}", e.what());
            } catch (...) {
                keep->logger_->error("connected callback threw");
            }
            {
                std::lock_guard<std::mutex> done(keep->threads_mutex_);
                --keep->on_connect_threads_;
            }
            keep->helpers_cv_.notify_all();
        }).detach();
        ++on_connect_threads_;
    } catch (const std::exception& e) {
        logger_->error("cannot start the on-connect thread: {}", e.what());
    }
}

int TcpClient::join() {
    // A helper thread of this client would wait for itself.
    if (t_helper_of == this) return 0;
    {
        std::unique_lock<std::mutex> lk(reconnect_mutex_);
        reconnect_cv_.wait(lk, [&] { return !reconnecting_; });
    }
    std::unique_lock<std::mutex> lk(threads_mutex_);
    helpers_cv_.wait(lk, [&] { return on_connect_threads_ == 0; });
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Read loop (io thread)

void TcpClient::do_read(uint64_t generation) {
    if (generation != generation_.load()) return;  // a chain of a connection that is gone
    if (socket_ && socket_->is_open() && connected_.load()) {
        std::size_t want = 0;
        uint8_t* dst = reader_.next(want);
        auto keep = self();
        if (tcp_socket_) {
            // A large body goes straight to the receive buffer; anything else is read in chunks
            // that may hold many frames.
            const bool into_area = reader_.in_body() && want >= READ_CHUNK_SIZE;
            tcp_socket_->async_read_some(
                into_area ? dst : read_chunk_.get(),
                static_cast<uint32_t>(into_area ? want : READ_CHUNK_SIZE),
                [keep, generation, into_area](std::error_code ec, std::size_t n) {
                    keep->on_read_some(keep, generation, into_area, ec, n);
                });
            return;
        }
        socket_->async_read(dst, static_cast<uint32_t>(want),
                            [keep, generation](std::error_code ec, std::size_t n) {
                                keep->on_read(keep, generation, ec, n);
                            });
        return;
    }
    end_read_loop();
}

void TcpClient::end_read_loop() {
    std::lock_guard<std::mutex> lk(read_loop_mutex_);
    if (read_loop_ended_ || !read_loop_promise_) return;
    read_loop_ended_ = true;
    read_loop_promise_->set_value(stopping_.load());
}

void TcpClient::on_read_error(const std::error_code& ec) {
    const std::string text = error_text(ec);
    if (!reader_.in_body())
        logger_->warn("({}) read error occurred. code={}, msg={}", current_url(), ec.value(), text);
    else
        logger_->warn("({}) read tail error occurred. code={}, msg={}", current_url(), ec.value(), text);
    do_shutdown(ec.value(), ec.category());
}

// false when the connection was shut down for the frame.
bool TcpClient::on_reader_result(const std::shared_ptr<TcpClient>& keep, FrameReader::Result r) {
    switch (r) {
        case FrameReader::Result::NEED_MORE:
            return true;
        case FrameReader::Result::BAD_HEADER:
            logger_->warn("invalid package, error=({}){}", static_cast<int>(reader_.status()),
                          status_name(reader_.status()));
            do_shutdown(TCP_CLIENT_INVALID_PACKAGE, category_);
            return false;
        case FrameReader::Result::TOO_LONG:
            logger_->warn("invalid package, body length {} over {}", reader_.body_length(),
                          reader_.max_body_length());
            do_shutdown(TCP_CLIENT_INVALID_PACKAGE, category_);
            return false;
        case FrameReader::Result::FRAME: {
            const int rc = dispatch(keep);
            if (rc != 0) logger_->warn("handle package error. code={}", rc);
            return true;
        }
    }
    return true;
}

void TcpClient::on_read(const std::shared_ptr<TcpClient>& keep, uint64_t generation, const std::error_code& ec,
                        std::size_t n) {
    if (generation != generation_.load()) return;
    receive_noted_ = false;
    if (ec) {
        on_read_error(ec);
    } else {
        on_reader_result(keep, reader_.advance(n));
    }
    do_read(generation);
}

void TcpClient::on_read_some(const std::shared_ptr<TcpClient>& keep, uint64_t generation, bool into_area,
                             const std::error_code& ec, std::size_t n) {
    if (generation != generation_.load()) return;
    receive_noted_ = false;
    if (ec) {
        on_read_error(ec);
    } else if (into_area) {
        on_reader_result(keep, reader_.advance(n));
    } else {
        // Every whole frame of the chunk before the next read; a callback may end the
        // connection (or a newer one may come up) between two of them.
        const uint8_t* data = read_chunk_.get();
        std::size_t left = n;
        while (left > 0) {
            const FrameReader::Result r = reader_.take(data, left);
            if (!on_reader_result(keep, r) || r == FrameReader::Result::NEED_MORE) break;
            if (generation != generation_.load() || !connected_.load()) break;
        }
    }
    do_read(generation);
}

int TcpClient::dispatch(const std::shared_ptr<TcpClient>& keep) {
    const PackageHeader& h = reader_.header();
    const unsigned char* body = reader_.body();
    try {
        switch (static_cast<ContentType>(h.content_type)) {
            case ContentType::RESPONSE: return handle_response(keep, h, body);
            case ContentType::PUSH: return handle_push(keep, h, body);
            case ContentType::HEARTBEAT: return handle_heartbeat(keep);
            case ContentType::REQUEST: return 0;  // read whole and ignored
        }
    } catch (const std::exception& e) {
        logger_->error("callback threw: {}", e.what());
    } catch (...) {
        logger_->error("callback threw");
    }
    return 0;
}

int TcpClient::handle_response(const std::shared_ptr<TcpClient>& keep, const PackageHeader& h,
                               const unsigned char* body) {
    note_receive();
    if (h.async_flag == 1) {
        if (response_cb_) {
            const int rc = response_cb_(keep, h.message_id, h.request_id, body, h.body_length);
            if (rc != 0) logger_->warn("response_async callback error_code={}", rc);
        }
        return 0;
    }
    // copies: the header is packed, and a reference to its fields would be misaligned
    const uint64_t request_id = h.request_id;
    const uint32_t length = h.body_length;
    std::shared_ptr<PendingEntry> entry;
    {
        std::lock_guard<std::mutex> lk(pending_mutex_);
        auto it = pending_.find(request_id);
        if (it != pending_.end()) entry = it->second;
    }
    if (!entry) {
        logger_->warn("[handle_response] key={} not found.", request_id);
        return TCP_CLIENT_KEY_NOT_FOUND;
    }
    {
        std::lock_guard<std::mutex> lk(entry->mutex);
        entry->responses.emplace_back(body, body + length);
    }
    entry->cv.notify_all();
    return 0;
}

int TcpClient::handle_push(const std::shared_ptr<TcpClient>& keep, const PackageHeader& h,
                           const unsigned char* body) {
    note_receive();
    if (push_cb_) {
        const int rc = push_cb_(keep, h.message_id, h.request_id, body, h.body_length);
        if (rc != 0) logger_->warn("push callback error_code={}", rc);
    }
    return 0;
}

int TcpClient::handle_heartbeat(const std::shared_ptr<TcpClient>& keep) {
    note_receive();
    if (!heartbeat_cb_) return 0;
    return heartbeat_cb_(keep, 0, nullptr);
}

int TcpClient::call_status(const StatusCallback& cb, int code, const char* text) {
    if (!cb) return 0;
    try {
        return cb(self(), code, text);
    } catch (const std::exception& e) {
        logger_->error("status callback threw: {}", e.what());
    } catch (...) {
        logger_->error("status callback threw");
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Heartbeat (io thread)

void TcpClient::do_heartbeat(uint64_t generation, bool /*restart*/) {
    if (generation != generation_.load()) return;
    const int interval = heartbeat_interval_.load();
    if (interval <= 0) return;
    if (socket_ && socket_->is_open() && !stopping_.load() && connected_.load()) {
        auto keep = self();
        heartbeat_timer_.expires_after(std::chrono::milliseconds(interval));
        heartbeat_timer_.async_wait(
            [keep, generation](const std::error_code& ec) { keep->on_heartbeat_timer(generation, ec); });
        return;
    }
    logger_->info("stop heartbeat.");
    call_status(heartbeat_cb_, -1, "socket closed");
}

void TcpClient::on_heartbeat_timer(uint64_t generation, const std::error_code& ec) {
    if (ec == asio::error::operation_aborted) return;
    if (generation != generation_.load()) return;
    if (check_heartbeat_timeout()) return;
    std::error_code wec;
    {
        std::lock_guard<std::mutex> lk(send_mutex_);
        if (connected_.load() && socket_) {
            pack_heartbeat(*send_buffer_);
            socket_->write(send_buffer_->data, send_buffer_->total_length, wec);
        }
    }
    if (wec) call_status(heartbeat_cb_, wec.value(), error_text(wec).c_str());
    do_heartbeat(generation, true);
}

bool TcpClient::check_heartbeat_timeout() {
    const int64_t interval = heartbeat_interval_.load();
    if (interval <= 0) return false;
    // a connection already lost is not timed out again: the caller stops the heartbeat
    if (!connected_.load()) return false;
    const int64_t silent_ms = (steady_ns() - last_receive_ns_.load(std::memory_order_relaxed)) / 1000000;
    if (silent_ms <= interval * 3) return false;
    logger_->warn("tcp session({}) heartbeat timeout. duration={} ms", current_url(), silent_ms);
    do_shutdown(TCP_CLIENT_HEARTBEAT_TIMEOUT, category_);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Shut-down (io thread, or the caller before the io thread exists)

int TcpClient::do_shutdown(int code, const std::error_category& category, bool may_reconnect) {
    // once per connection, whoever comes first
    if (!connected_.exchange(false)) return TCP_CLIENT_NOT_CONNECTED;
    // Not under the send mutex: a sender blocked in a synchronous write holds it, and the
    // close is what releases that sender. The sockets serialise close and write themselves.
    std::error_code ec;
    if (socket_ && socket_->is_open()) socket_->close(ec);
    if (ec) {
        logger_->error("socket shutdown error. ec={}, msg={}", ec.value(), error_text(ec));
        connected_ = true;
        return TCP_CLIENT_STOP_FAILED;
    }
    {
        std::lock_guard<std::mutex> lk(endpoint_mutex_);
        local_endpoint_.clear();
        remote_endpoint_.clear();
    }
    const std::string text =
        (&category == &category_) ? category_.message(code) : error_text(std::error_code(code, category));
    call_status(disconnected_cb_, code, text.c_str());
    if (may_reconnect && !stopping_.load()) start_reconnect(code);
    return 0;
}

int TcpClient::stop() {
    try {
        {
            std::lock_guard<std::mutex> lk(reconnect_mutex_);
            if (stopping_.load()) return 0;
            stopping_ = true;
        }
        reconnect_cv_.notify_all();
        const auto timeout = std::chrono::milliseconds(stop_timeout_ms_.load());
        const bool on_io = on_io_thread();
        int rc = 0;

        const uint64_t epoch = epoch_.load();
        const bool ran = run_on_io(
            [this, epoch] {
                // late (the io thread was busy) and a newer connect came meanwhile: not ours
                if (epoch != epoch_.load()) return;
                do_shutdown(0, category_);
                heartbeat_timer_.cancel();
            },
            Clock::now() + timeout, false);
        if (!ran) rc = TCP_CLIENT_STOP_FAILED;

        // On the io thread (stop from inside a callback) nothing may be waited for: the read
        // loop and a posted attempt can only move once this callback has returned.
        if (on_io) return rc;

        {
            std::unique_lock<std::mutex> lk(reconnect_mutex_);
            if (!reconnect_cv_.wait_for(lk, timeout, [&] { return !reconnecting_; })) return TCP_CLIENT_STOP_FAILED;
        }
        std::shared_future<bool> fut;
        {
            std::lock_guard<std::mutex> lk(read_loop_mutex_);
            if (!read_loop_ended_) fut = read_loop_future_;
        }
        if (fut.valid() && fut.wait_for(timeout) != std::future_status::ready) return TCP_CLIENT_STOP_FAILED;
        return rc;
    } catch (...) {
        return TCP_CLIENT_STOP_FAILED;
    }
}

// ---------------------------------------------------------------------------------------------
// Sending

int TcpClient::request_async(uint32_t message_id, uint64_t request_id, const void* body, uint32_t length) {
    if (!connected_.load()) {
        logger_->warn("not connected.");
        return TCP_CLIENT_NOT_CONNECTED;
    }
    if (length > PACKAGE_MAX_BODY_LENGTH || (length != 0 && body == nullptr)) {
        logger_->warn("request body refused. msgid={}, length={}", message_id, length);
        return TCP_CLIENT_CONNECT_FAILED;
    }
    std::error_code ec;
    try {
        std::lock_guard<std::mutex> lk(send_mutex_);
        // checked again under the lock: a connection being replaced is not touched
        if (!connected_.load() || !socket_) {
            ec = std::error_code(TCP_CLIENT_NOT_CONNECTED, category_);
        } else {
            pack_request(*send_buffer_, message_id, request_id, body, length, 1);
            socket_->write(send_buffer_->data, send_buffer_->total_length, ec);
        }
    } catch (...) {
        ec = std::make_error_code(std::errc::not_enough_memory);
    }
    if (ec) {
        if (ec.value() == TCP_CLIENT_NOT_CONNECTED && &ec.category() == &category_) {
            logger_->warn("not connected.");
            return TCP_CLIENT_NOT_CONNECTED;
        }
        logger_->warn("send error occured. code={}, msg={}", ec.value(), error_text(ec));
        return TCP_CLIENT_CONNECT_FAILED;
    }
    return 0;
}

int TcpClient::request(uint32_t message_id, uint64_t request_id, const void* body, uint32_t length, void* out,
                       uint32_t* out_length, int timeout_ms) {
    try {
        if (!connected_.load()) return TCP_CLIENT_NOT_CONNECTED;
        if (length > PACKAGE_MAX_BODY_LENGTH || (length != 0 && body == nullptr)) return TCP_CLIENT_CONNECT_FAILED;
        {
            std::lock_guard<std::mutex> lk(pending_mutex_);
            if (pending_.count(request_id)) return TCP_CLIENT_REQUEST_PENDING;
            pending_.emplace(request_id, std::make_shared<PendingEntry>());
        }
        auto remove = [&] {
            std::lock_guard<std::mutex> lk(pending_mutex_);
            pending_.erase(request_id);
        };
        std::error_code ec;
        {
            std::lock_guard<std::mutex> lk(send_mutex_);
            if (!connected_.load() || !socket_) {
                ec = std::error_code(ENOTCONN, std::system_category());
            } else {
                pack_request(*send_buffer_, message_id, request_id, body, length, 0);
                socket_->write(send_buffer_->data, send_buffer_->total_length, ec);
            }
        }
        if (ec) {
            set_last_error(ec.value(), error_text(ec));
            remove();
            return TCP_CLIENT_CONNECT_FAILED;
        }
        std::shared_ptr<PendingEntry> entry;
        {
            std::lock_guard<std::mutex> lk(pending_mutex_);
            auto it = pending_.find(request_id);
            if (it != pending_.end()) entry = it->second;
        }
        if (!entry) {
            logger_->warn("request key={} not found.", request_id);
            return TCP_CLIENT_KEY_NOT_FOUND;
        }
        std::vector<unsigned char> response;
        {
            std::unique_lock<std::mutex> lk(entry->mutex);
            const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
            if (!entry->cv.wait_until(lk, deadline, [&] { return !entry->responses.empty(); })) {
                lk.unlock();
                logger_->warn("wait for response timeout. reqid={}, timeout={}ms", request_id, timeout_ms);
                remove();
                return TCP_CLIENT_REQUEST_TIMEOUT;
            }
            response = std::move(entry->responses.front());
            entry->responses.pop_front();
        }
        if (out && !response.empty()) std::memcpy(out, response.data(), response.size());
        if (out_length) *out_length = static_cast<uint32_t>(response.size());
        remove();
        return 0;
    } catch (...) {
        return TCP_CLIENT_CONNECT_FAILED;
    }
}

// ---------------------------------------------------------------------------------------------
// Endpoints and the log

int TcpClient::get_local_endpoint(std::string& ip, uint16_t& port) {
    std::string text;
    {
        std::lock_guard<std::mutex> lk(endpoint_mutex_);
        text = local_endpoint_;
    }
    std::string scheme;
    if (text.empty() || !parse_url(text, scheme, ip, port)) return TCP_CLIENT_BAD_URL;
    return 0;
}

int TcpClient::get_remote_endpoint(std::string& ip, uint16_t& port) {
    if (!connected_.load()) return TCP_CLIENT_NOT_CONNECTED;
    std::string text;
    {
        std::lock_guard<std::mutex> lk(endpoint_mutex_);
        text = remote_endpoint_;
    }
    std::string scheme;
    if (text.empty() || !parse_url(text, scheme, ip, port)) return TCP_CLIENT_BAD_URL;
    return 0;
}

void TcpClient::init_logger(const std::string& folder, bool to_stdout, int level) {
    try {
        std::vector<spdlog::sink_ptr> sinks;
        if (!folder.empty())
            sinks.push_back(std::make_shared<spdlog::sinks::daily_file_sink_mt>(
                fmt::format("{}/tcp_client.log", folder), 0, 1, false, 0));
        if (to_stdout) sinks.push_back(std::make_shared<spdlog::sinks::stdout_sink_mt>());
        auto logger = std::make_shared<spdlog::logger>("tcp_client_" + std::to_string(g_logger_counter.fetch_add(1)),
                                                       sinks.begin(), sinks.end());
        logger->set_level(static_cast<spdlog::level::level_enum>(level));
        logger->flush_on(static_cast<spdlog::level::level_enum>(level));
        logger_ = std::move(logger);
    } catch (const std::exception& e) {
        logger_->error("init_logger failed: {}", e.what());
    }
}

}  // namespace client
}  // namespace tcp_framework
