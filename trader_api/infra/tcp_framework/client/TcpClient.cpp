#include "infra/tcp_framework/client/TcpClient.h"

#include <pthread.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include <asio/error.hpp>
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

// Joins the threads that ended a client from inside themselves, once they are done: the next
// such hand-over joins the ones before it, and the process's exit joins the last, before the
// objects those threads last touched (the logger registry among them) are destroyed.
class ThreadReaper {
public:
    static ThreadReaper& instance() {
        static ThreadReaper reaper;  // made with the first client, after spdlog's registry
        return reaper;
    }
    void hand_over(std::thread t) {
        std::vector<std::thread> done;
        {
            std::lock_guard<std::mutex> lk(mutex_);
            done.swap(threads_);
            threads_.push_back(std::move(t));
        }
        for (auto& d : done)
            if (d.joinable()) d.join();  // each has only its last steps left
    }
    ~ThreadReaper() {
        std::lock_guard<std::mutex> lk(mutex_);
        for (auto& t : threads_)
            if (t.joinable()) t.join();
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

// A thread that carries its name from the moment it exists: a thread starts with its creator's
// name and would pass for one of those (one reconnect thread at a time is counted by name), so
// the creator wears the new name while it creates it.
std::thread start_named(const std::string& name, std::function<void()> body) {
    char own[16] = "";
    const bool renamed = pthread_getname_np(pthread_self(), own, sizeof own) == 0 &&
                         pthread_setname_np(pthread_self(), name.c_str()) == 0;
    struct Restore {
        bool on;
        const char* name;
        ~Restore() {
            if (on) pthread_setname_np(pthread_self(), name);
        }
    } restore{renamed, own};
    return std::thread([name, body = std::move(body)] {
        pthread_setname_np(pthread_self(), name.c_str());  // when the creator could not lend it
        body();
    });
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
      core_(std::make_shared<IoCore>()),
      heartbeat_timer_(core_->io),
      receive_buffer_(new uint8_t[RECEIVE_BUFFER_SIZE]()),
      reader_(receive_buffer_.get(), RECEIVE_BUFFER_SIZE),
      read_chunk_(new uint8_t[READ_CHUNK_SIZE]),
      send_buffer_(new PackageBuffer()) {
    std::memset(io_thread_name_, 0, sizeof io_thread_name_);
    std::strncpy(io_thread_name_, "tcp_cli_async", sizeof io_thread_name_ - 1);
    last_error_text_ = std::system_category().message(0);
    ThreadReaper::instance();  // made now, while the process runs, so it is there at its exit
}

TcpClient::~TcpClient() {
    // Runs once nothing holds the client: no handler of it is queued and no helper thread of it
    // is in its work. The event loop is ended; its thread finishes the handler it may be in
    // (one that does not hold the client) and leaves. A thread is never joined from itself: the
    // last reference may go inside one of this client's handlers, or at the end of a helper
    // thread; such a thread is handed to the process's reaper, which joins it later.
    core_->work.reset();
    core_->io.stop();
    std::thread threads[3];
    {
        std::lock_guard<std::mutex> lk(threads_mutex_);
        threads[0] = std::move(io_thread_);
        threads[1] = std::move(reconnect_thread_);
        threads[2] = std::move(notifier_thread_);
    }
    for (std::thread& t : threads) {
        if (!t.joinable()) continue;
        if (t.get_id() == std::this_thread::get_id())
            ThreadReaper::instance().hand_over(std::move(t));
        else
            t.join();
    }
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
void TcpClient::set_link_callbacks(LinkUpCallback up, LinkDownCallback down) {
    link_up_cb_ = std::move(up);
    link_down_cb_ = std::move(down);
}
void TcpClient::set_stop_timeout(int ms) { stop_timeout_ms_.store(ms > 0 ? ms : 0); }

std::string TcpClient::current_url() const {
    std::lock_guard<std::mutex> lk(url_mutex_);
    return url_;
}

std::shared_ptr<ISocket> TcpClient::current_socket() const {
    std::lock_guard<std::mutex> lk(socket_mutex_);
    return socket_;
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

bool TcpClient::on_io_thread() const { return io_thread_id_.load() == std::this_thread::get_id(); }

bool TcpClient::on_own_helper_thread() const { return t_helper_of == this; }

// ---------------------------------------------------------------------------------------------
// Connecting (on the calling thread)

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
        uint64_t epoch;
        {
            // from here an attempt of an earlier connect gives up
            std::lock_guard<std::mutex> lk(state_mutex_);
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
            sock = std::make_shared<TcpSocket>(core_->io, logger_);
        } else if (scheme == "unix") {
            sock = std::make_shared<LocalSocket>(core_->io, logger_);
        } else {
            logger_->error("unknown protocol: {}", scheme);
            return TCP_CLIENT_BAD_SCHEME;
        }

        // A connection still up is shut down first, as a lost one would be, without a retry.
        if (connected_.load()) do_shutdown(0, category_, false);

        int rc;
        {
            std::lock_guard<std::mutex> attempt(attempt_mutex_);
            if (epoch != epoch_.load()) return TCP_CLIENT_CONNECT_FAILED;  // a newer connect came meanwhile
            {
                std::lock_guard<std::mutex> send(send_mutex_);
                std::lock_guard<std::mutex> lk(socket_mutex_);
                socket_ = sock;  // the old socket's completions hold it for as long as they need
                socket_is_tcp_ = scheme == "tcp";
            }
            {
                std::lock_guard<std::mutex> lk(url_mutex_);
                url_ = url;
                host_ = host;
                port_ = port;
            }
            target_epoch_ = epoch;
            rc = attempt_locked(epoch);
        }
        if (rc == 0) return 0;
        if (stopping_.load() || epoch != epoch_.load()) return rc;  // stopped or replaced meanwhile
        return start_reconnect(rc);
    } catch (const std::exception& e) {
        logger_->error("connect({}) failed: {}", url, e.what());
        return TCP_CLIENT_CONNECT_FAILED;
    } catch (...) {
        return TCP_CLIENT_CONNECT_FAILED;
    }
}

int TcpClient::attempt_locked(uint64_t epoch) {
    if (connected_.load()) return 0;  // another attempt got there first
    std::string url, host;
    uint16_t port;
    {
        std::lock_guard<std::mutex> lk(url_mutex_);
        url = url_;
        host = host_;
        port = port_;
    }
    const std::shared_ptr<ISocket> sock = current_socket();
    // Given up once the client is stopped or connect is called with a new target.
    auto abandoned = [this, epoch] { return stopping_.load() || epoch != epoch_.load(); };
    if (!sock || abandoned()) return TCP_CLIENT_CONNECT_FAILED;
    // The link this attempt brings up: attempts run one at a time, and only they advance the
    // generation. A link announced by its first frames but never brought up is reported lost.
    const uint64_t link = generation_.load() + 1;
    struct Announcement {
        TcpClient* client;
        uint64_t link;
        bool made = false;
        bool up = false;
        ~Announcement() {
            if (made && !up) client->report_link_down(link);
        }
    } announcement{this, link};
    ISocket::FirstBytes first;
    if (link_up_cb_) {
        first = [this, &announcement] {
            announcement.made = true;
            return first_frames(announcement.link);
        };
    }
    std::error_code ec;
    sock->connect(host, port, ec, abandoned, first);
    if (!ec && abandoned()) {
        std::error_code ignored;
        sock->close(ignored);
        ec = std::make_error_code(std::errc::operation_canceled);
    }
    if (ec && ec == std::errc::operation_canceled) {
        // its own url: the client may already be on its way to another
        logger_->info("({})connect abandoned: client stopped.", url);
        return TCP_CLIENT_CONNECT_FAILED;
    }
    if (ec) {
        const std::string text = error_text(ec);
        set_last_error(ec.value(), text);
        logger_->warn("network error({}):{}", ec.value(), text);
        return TCP_CLIENT_CONNECT_FAILED;
    }
    uint64_t gen;
    {
        std::lock_guard<std::mutex> lk(state_mutex_);
        if (abandoned()) {
            // a stop between the connect and here: it saw no connection to end
            std::error_code ignored;
            sock->close(ignored);
            logger_->info("({})connect abandoned: client stopped.", url);
            return TCP_CLIENT_CONNECT_FAILED;
        }
        gen = generation_.fetch_add(1) + 1;
        announcement.up = true;
        {
            std::lock_guard<std::mutex> rl(read_loop_mutex_);
            read_loop_promise_ = std::make_shared<std::promise<bool>>();
            read_loop_future_ = read_loop_promise_->get_future().share();
            read_loop_generation_ = gen;
            read_loop_ended_ = false;
        }
        {
            std::lock_guard<std::mutex> ep(endpoint_mutex_);
            local_endpoint_ = sock->local_endpoint();
            remote_endpoint_ = sock->remote_endpoint();
        }
        touch_receive_time();
        connected_ = true;
        // Queued before the connection can be lost (a shutdown waits for this lock), so its loss
        // is held back behind its connected callback; and after the flag, which that callback sees.
        queue_connected(gen);
    }
    async_run();
    if (io_started_.load()) {
        auto keep = self();
        asio::post(core_->io, [keep, gen, sock] { keep->bring_up(gen, sock); });
    } else {
        // no io thread: nothing would ever read this connection
        do_shutdown(TCP_CLIENT_CONNECT_FAILED, category_, false);
        return TCP_CLIENT_CONNECT_FAILED;
    }
    logger_->info("({})connect success.", url);
    return 0;
}

std::vector<uint8_t> TcpClient::first_frames(uint64_t link) {
    std::vector<LinkRequest> requests;
    try {
        requests = link_up_cb_(self(), link);
    } catch (const std::exception& e) {
        logger_->error("link-up callback threw: {}", e.what());
    } catch (...) {
        logger_->error("link-up callback threw");
    }
    std::vector<uint8_t> bytes;
    if (requests.empty()) return bytes;
    // a buffer of its own: the send buffer's lock may be held by a sender of the old link
    auto buffer = std::make_unique<PackageBuffer>();
    for (const LinkRequest& r : requests) {
        if (pack_request(*buffer, r.message_id, r.request_id, r.body.data(), static_cast<uint32_t>(r.body.size()),
                         1) != 0) {
            logger_->warn("request body refused. msgid={}, length={}", r.message_id, r.body.size());
            continue;
        }
        bytes.insert(bytes.end(), buffer->data, buffer->data + buffer->total_length);
    }
    return bytes;
}

void TcpClient::report_link_down(uint64_t link) {
    if (!link_down_cb_) return;
    try {
        link_down_cb_(self(), link);
    } catch (...) {
        logger_->error("link-down callback threw");
    }
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
        helpers_->enter();
        // The previous reconnect thread has left its loop but may not have ended yet: the new
        // one waits for it, so there is never more than one.
        std::thread previous;
        {
            std::lock_guard<std::mutex> t(threads_mutex_);
            previous = std::move(reconnect_thread_);
        }
        auto prev = std::make_shared<std::thread>(std::move(previous));
        // It takes its name once the previous one has ended, so that one name never stands for two.
        std::thread next = start_named("tcp_helper", [keep, prev, helpers = helpers_]() mutable {
            if (prev->joinable()) prev->join();
            pthread_setname_np(pthread_self(), "tcp_reconnect");
            keep->reconnect_main();
            keep.reset();  // before it counts as ended: see stop
            helpers->leave();
        });
        std::lock_guard<std::mutex> t(threads_mutex_);
        reconnect_thread_ = std::move(next);
    } catch (const std::exception& e) {
        helpers_->leave();
        reconnecting_ = false;
        logger_->error("cannot start the reconnect thread: {}", e.what());
        return code;
    }
    return 0;
}

void TcpClient::reconnect_main() {
    t_helper_of = this;
    try {
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
            lk.unlock();
            int rc;
            {
                std::lock_guard<std::mutex> attempt(attempt_mutex_);
                // the target of the newest connect: an attempt is never made for an older one
                rc = target_epoch_ == epoch_.load() ? attempt_locked(target_epoch_) : TCP_CLIENT_CONNECT_FAILED;
            }
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
    t_helper_of = nullptr;
}

void TcpClient::async_run() {
    if (io_started_.load()) return;
    std::lock_guard<std::mutex> lk(threads_mutex_);
    if (io_started_.load()) return;
    try {
        // The thread holds the event loop, never the client: the client ends it when it goes.
        std::shared_ptr<IoCore> core = core_;
        std::shared_ptr<spdlog::logger> logger = logger_;
        std::string name(io_thread_name_);
        const int cpu = io_thread_cpu_;
        io_thread_ = start_named(name, [core, logger, cpu]() mutable {
            if (cpu != -1) {
                if (!OXA::API::BindThreadToCpu(cpu, nullptr)) {
                    logger->warn("allocate cpu core id {} for tcp client async thread failed.", cpu);
                } else {
                    sched_param sp{};
                    sp.sched_priority = sched_get_priority_max(SCHED_FIFO);
                    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);  // a refusal is fine
                }
            }
            // Let go of the logger while the client is surely alive: this thread may end after
            // everything else of the client (and of the process) is gone.
            logger.reset();
            while (!core->io.stopped()) {
                try {
                    core->io.run();
                } catch (...) {
                    // handlers catch what the callbacks throw; nothing is left to tell
                }
            }
        });
        io_thread_id_ = io_thread_.get_id();
        io_started_ = true;
    } catch (const std::exception& e) {
        logger_->error("cannot start the io thread: {}", e.what());
    }
}

// io thread: the read loop and the heartbeat of a connection that came up on another thread.
void TcpClient::bring_up(uint64_t generation, const std::shared_ptr<ISocket>& sock) {
    if (generation != generation_.load() || !connected_.load()) {
        end_read_loop(generation);  // stopped or replaced before its first read
        return;
    }
    io_socket_ = sock;
    io_tcp_ = dynamic_cast<TcpSocket*>(sock.get());
    reader_.reset();
    receive_noted_ = false;
    // the silence counts from here: a busy io thread may come to a new connection late
    touch_receive_time();
    do_read(generation);
    do_heartbeat(generation, false);
}

// ---------------------------------------------------------------------------------------------
// Connected and disconnected callbacks, in pairs

void TcpClient::queue_connected(uint64_t generation) {
    auto keep = self();
    if (!keep) return;
    std::lock_guard<std::mutex> lk(notice_mutex_);
    ConnectNotice n;
    n.generation = generation;
    notices_.push_back(std::move(n));
    if (notifier_alive_) return;
    try {
        helpers_->enter();
        std::shared_ptr<std::thread> prev;
        {
            std::lock_guard<std::mutex> t(threads_mutex_);
            prev = std::make_shared<std::thread>(std::move(notifier_thread_));
        }
        std::thread next = start_named("tcp_helper", [keep, prev, helpers = helpers_]() mutable {
            if (prev->joinable()) prev->join();  // the one before has left its loop
            pthread_setname_np(pthread_self(), "tcp_on_connect");
            keep->notifier_main();
            keep.reset();
            helpers->leave();
        });
        {
            std::lock_guard<std::mutex> t(threads_mutex_);
            notifier_thread_ = std::move(next);
        }
        notifier_alive_ = true;
    } catch (const std::exception& e) {
        helpers_->leave();
        notices_.pop_back();
        logger_->error("cannot start the on-connect thread: {}", e.what());
    }
}

// One on-connect thread at a time works through the connections in the order they came up.
void TcpClient::notifier_main() {
    t_helper_of = this;
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(notice_mutex_);
            if (notices_.empty()) {
                notifier_alive_ = false;
                break;
            }
            notice_running_ = std::move(notices_.front());
            notices_.pop_front();
        }
        try {
            if (connected_cb_) connected_cb_(self());
        } catch (const std::exception& e) {
            logger_->error("connected callback threw: {}", e.what());
        } catch (...) {
            logger_->error("connected callback threw");
        }
        // The connection's loss, if it came meanwhile (or comes now), is reported here, and the
        // notice stays until it was: stop waits for that.
        bool delivered = false;
        for (;;) {
            int code;
            std::string text;
            {
                std::lock_guard<std::mutex> lk(notice_mutex_);
                if (delivered || !notice_running_->disconnect_owed) {
                    notice_running_.reset();
                    break;
                }
                code = notice_running_->code;
                text = notice_running_->text;
            }
            call_status(disconnected_cb_, code, text.c_str());
            delivered = true;
        }
        notice_cv_.notify_all();
    }
    notice_cv_.notify_all();
    t_helper_of = nullptr;
}

bool TcpClient::deliver_disconnected(uint64_t generation, int code, const std::string& text) {
    {
        std::lock_guard<std::mutex> lk(notice_mutex_);
        ConnectNotice* owner = nullptr;
        if (notice_running_ && notice_running_->generation == generation) owner = &*notice_running_;
        for (auto& n : notices_)
            if (n.generation == generation) owner = &n;
        if (owner) {
            owner->disconnect_owed = true;
            owner->code = code;
            owner->text = text;
            return false;
        }
    }
    call_status(disconnected_cb_, code, text.c_str());
    return true;
}

int TcpClient::join() {
    // A helper thread of this client would wait for itself.
    if (on_own_helper_thread()) return 0;
    helpers_->wait_none(Clock::time_point::max());
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Read loop (io thread)

void TcpClient::do_read(uint64_t generation) {
    if (generation != generation_.load()) return;  // a chain of a connection that is gone
    if (io_socket_ && io_socket_->is_open() && connected_.load()) {
        std::size_t want = 0;
        uint8_t* dst = reader_.next(want);
        auto keep = self();
        if (io_tcp_) {
            // A large body goes straight to the receive buffer; anything else is read in chunks
            // that may hold many frames.
            const bool into_area = reader_.in_body() && want >= READ_CHUNK_SIZE;
            io_tcp_->async_read_some(
                into_area ? dst : read_chunk_.get(),
                static_cast<uint32_t>(into_area ? want : READ_CHUNK_SIZE),
                [keep, generation, into_area](std::error_code ec, std::size_t n) {
                    keep->on_read_some(keep, generation, into_area, ec, n);
                });
            return;
        }
        io_socket_->async_read(dst, static_cast<uint32_t>(want),
                            [keep, generation](std::error_code ec, std::size_t n) {
                                keep->on_read(keep, generation, ec, n);
                            });
        return;
    }
    if (io_socket_ && connected_.load() && !stopping_.load()) {
        // A sender whose write failed closed the socket while no read was in flight: no read
        // completes with the error, so the loss is reported (and retried) from here.
        logger_->warn("({}) socket closed by a failed write.", current_url());
        do_shutdown(ECONNRESET, asio::error::get_system_category(), true, generation);
    }
    end_read_loop(generation);
}

void TcpClient::end_read_loop(uint64_t generation) {
    std::lock_guard<std::mutex> lk(read_loop_mutex_);
    if (read_loop_ended_ || !read_loop_promise_ || read_loop_generation_ != generation) return;
    read_loop_ended_ = true;
    read_loop_promise_->set_value(stopping_.load());
}

void TcpClient::on_read_error(uint64_t generation, const std::error_code& ec) {
    const std::string text = error_text(ec);
    if (!reader_.in_body())
        logger_->warn("({}) read error occurred. code={}, msg={}", current_url(), ec.value(), text);
    else
        logger_->warn("({}) read tail error occurred. code={}, msg={}", current_url(), ec.value(), text);
    do_shutdown(ec.value(), ec.category(), true, generation);
}

// false when the connection was shut down for the frame.
bool TcpClient::on_reader_result(const std::shared_ptr<TcpClient>& keep, uint64_t generation, FrameReader::Result r) {
    switch (r) {
        case FrameReader::Result::NEED_MORE:
            return true;
        case FrameReader::Result::BAD_HEADER:
            logger_->warn("invalid package, error=({}){}", static_cast<int>(reader_.status()),
                          status_name(reader_.status()));
            do_shutdown(TCP_CLIENT_INVALID_PACKAGE, category_, true, generation);
            return false;
        case FrameReader::Result::TOO_LONG:
            logger_->warn("invalid package, body length {} over {}", reader_.body_length(),
                          reader_.max_body_length());
            do_shutdown(TCP_CLIENT_INVALID_PACKAGE, category_, true, generation);
            return false;
        case FrameReader::Result::FRAME: {
            delivering_link_ = generation;
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
        on_read_error(generation, ec);
    } else {
        on_reader_result(keep, generation, reader_.advance(n));
    }
    do_read(generation);
}

void TcpClient::on_read_some(const std::shared_ptr<TcpClient>& keep, uint64_t generation, bool into_area,
                             const std::error_code& ec, std::size_t n) {
    if (generation != generation_.load()) return;
    receive_noted_ = false;
    if (ec) {
        on_read_error(generation, ec);
    } else if (into_area) {
        on_reader_result(keep, generation, reader_.advance(n));
    } else {
        // Every whole frame of the chunk before the next read; a callback may end the
        // connection (or a newer one may come up) between two of them.
        const uint8_t* data = read_chunk_.get();
        std::size_t left = n;
        while (left > 0) {
            const FrameReader::Result r = reader_.take(data, left);
            if (!on_reader_result(keep, generation, r) || r == FrameReader::Result::NEED_MORE) break;
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
    if (io_socket_ && io_socket_->is_open() && !stopping_.load() && connected_.load()) {
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
    // by value: the category objects may be gone when a late timer completes at process exit
    if (ec.value() == asio::error::operation_aborted) return;
    if (generation != generation_.load()) return;
    if (check_heartbeat_timeout(generation)) return;
    std::error_code wec;
    {
        // The io thread never waits for a sender: a Unix sender may be blocked on a peer that
        // stopped reading while it holds the send lock, and senders hammering the lock would
        // starve the reads. A beat that finds a sender at work is owed: the sender sends it
        // right after its own frame. The silence check runs either way.
        std::unique_lock<std::mutex> lk(send_mutex_, std::try_to_lock);
        if (!lk.owns_lock()) {
            heartbeat_owed_.store(true, std::memory_order_release);
        } else if (connected_.load() && socket_) {
            heartbeat_owed_.store(false, std::memory_order_relaxed);
            pack_heartbeat(*send_buffer_);
            if (!socket_->try_write(send_buffer_->data, send_buffer_->total_length, wec) && !wec)
                heartbeat_owed_.store(true, std::memory_order_release);  // no room this moment
        }
    }
    if (wec) call_status(heartbeat_cb_, wec.value(), error_text(wec).c_str());
    do_heartbeat(generation, true);
}

bool TcpClient::check_heartbeat_timeout(uint64_t generation) {
    const int64_t interval = heartbeat_interval_.load();
    if (interval <= 0) return false;
    // a connection already lost is not timed out again: the caller stops the heartbeat
    if (!connected_.load()) return false;
    const int64_t silent_ms = (steady_ns() - last_receive_ns_.load(std::memory_order_relaxed)) / 1000000;
    if (silent_ms <= interval * 3) return false;
    logger_->warn("tcp session({}) heartbeat timeout. duration={} ms", current_url(), silent_ms);
    do_shutdown(TCP_CLIENT_HEARTBEAT_TIMEOUT, category_, true, generation);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Shut-down (any thread)

int TcpClient::do_shutdown(int code, const std::error_category& category, bool may_reconnect, uint64_t generation) {
    uint64_t gen;
    {
        // once per connection, whoever comes first
        std::lock_guard<std::mutex> lk(state_mutex_);
        if (!connected_.load()) return TCP_CLIENT_NOT_CONNECTED;
        // a failure seen on an older connection's chain never ends a newer one
        if (generation != 0 && generation != generation_.load()) return TCP_CLIENT_NOT_CONNECTED;
        connected_ = false;
        gen = generation_.load();
    }
    // Not under the send mutex: a sender blocked in a synchronous write holds it, and the
    // close is what releases that sender. The sockets serialise close and write themselves.
    std::error_code ec;
    const std::shared_ptr<ISocket> sock = current_socket();
    if (sock && sock->is_open()) sock->close(ec);
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
    // At once, on this thread: whatever waits on the link must not wait for the disconnected
    // callback, which may be held back behind the connection's connected callback.
    report_link_down(gen);
    const std::string text =
        (&category == &category_) ? category_.message(code) : error_text(std::error_code(code, category));
    deliver_disconnected(gen, code, text);
    if (may_reconnect && !stopping_.load()) start_reconnect(code);
    return 0;
}

int TcpClient::stop() {
    try {
        {
            std::lock_guard<std::mutex> lk(state_mutex_);
            if (stopping_.load()) return 0;
            stopping_ = true;  // an attempt in progress gives up within a few milliseconds
        }
        {
            std::lock_guard<std::mutex> lk(reconnect_mutex_);  // a thread about to wait sees the flag
        }
        reconnect_cv_.notify_all();
        const auto timeout = std::chrono::milliseconds(stop_timeout_ms_.load());
        const auto deadline = Clock::now() + timeout;

        // on this thread: the (0, "") callback runs here
        int rc = do_shutdown(0, category_, false) == TCP_CLIENT_STOP_FAILED ? TCP_CLIENT_STOP_FAILED : 0;
        // The timer is the io thread's; its cancelled wait lets go of the client. `idle` is kept
        // once that wait's completion has run too (it was queued by the cancel).
        std::shared_ptr<std::promise<void>> idle;
        if (io_started_.load()) {
            idle = std::make_shared<std::promise<void>>();
            auto keep = self();
            asio::post(core_->io, [keep, idle] {
                keep->heartbeat_timer_.cancel();
                asio::post(keep->core_->io, [idle] { idle->set_value(); });
            });
        }

        // On the io thread (stop from inside a callback) or on a helper thread of this client
        // nothing may be waited for: what would end can only move once this callback returned.
        if (on_io_thread() || on_own_helper_thread()) return rc;

        {
            std::unique_lock<std::mutex> lk(reconnect_mutex_);
            if (!reconnect_cv_.wait_until(lk, deadline, [&] { return !reconnecting_; })) return TCP_CLIENT_STOP_FAILED;
        }
        std::shared_future<bool> fut;
        {
            std::lock_guard<std::mutex> lk(read_loop_mutex_);
            if (!read_loop_ended_) fut = read_loop_future_;
        }
        if (fut.valid() && fut.wait_until(deadline) != std::future_status::ready) return TCP_CLIENT_STOP_FAILED;
        {
            // Connected callbacks still due, and the losses held back behind them (this stop's
            // (0, "") among them when the connection's own had not returned): all made before
            // stop returns.
            std::unique_lock<std::mutex> lk(notice_mutex_);
            if (!notice_cv_.wait_until(lk, deadline, [&] { return notices_.empty() && !notice_running_; }))
                return TCP_CLIENT_STOP_FAILED;
        }
        {
            // The helper threads have ended their work and nothing of this client is queued on
            // the io thread: once the owners let go, the client goes on the owner's thread, and
            // nothing of it runs on after the owner is done (for instance after main returns).
            if (!helpers_->wait_none(deadline)) return TCP_CLIENT_STOP_FAILED;
        }
        if (idle && idle->get_future().wait_until(deadline) != std::future_status::ready) return TCP_CLIENT_STOP_FAILED;
        return rc;
    } catch (...) {
        return TCP_CLIENT_STOP_FAILED;
    }
}

// ---------------------------------------------------------------------------------------------
// Sending

void TcpClient::send_owed_heartbeat() {
    if (!heartbeat_owed_.load(std::memory_order_acquire) || !heartbeat_owed_.exchange(false)) return;
    std::error_code ignored;  // a failure shows on the next frame or through the read loop
    pack_heartbeat(*send_buffer_);
    socket_->write(send_buffer_->data, send_buffer_->total_length, ignored);
}

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
            if (!ec) send_owed_heartbeat();
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
                if (!ec) send_owed_heartbeat();
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
