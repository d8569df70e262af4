#include "FrameTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace oxa_test {

namespace {

constexpr uint32_t kLargestSendableBody = 2097118;

struct CrcTable {
    uint32_t t[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[i] = c;
        }
    }
};

void put_be(uint8_t* p, uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) { p[i] = static_cast<uint8_t>(v); v >>= 8; }
}
void put_le(uint8_t* p, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) { p[i] = static_cast<uint8_t>(v); v >>= 8; }
}
uint64_t get_be(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// Header bytes 0-27 as the CRC sees them: the three numeric fields little-endian.
uint32_t crc_of_wire_header(const uint8_t* h) {
    uint8_t img[28];
    std::memcpy(img, h, 28);
    put_le(img + 4, get_be(h + 4, 4), 4);
    put_le(img + 8, get_be(h + 8, 8), 8);
    put_le(img + 16, get_be(h + 16, 4), 4);
    return peer_crc32(img, 28);
}

bool type_known(uint8_t t) { return t == 1 || t == 2 || t == 4 || t == 15; }

uint16_t pick_port() {
    // Stay below the ephemeral range, so that a client retrying a closed port can never be
    // handed that very port as its own source port and connect to itself.
    int low = 32768;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        int a = 0, b = 0;
        if (std::fscanf(f, "%d %d", &a, &b) == 2 && a > 11000) low = a;
        std::fclose(f);
    }
    static std::atomic<uint32_t> salt{0};
    std::mt19937 rng(static_cast<uint32_t>(::getpid()) * 7919u + salt.fetch_add(1) * 104729u +
                     static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> d(10000, low - 1);
    return static_cast<uint16_t>(d(rng));
}

void signal_fd(int fd) {
    uint64_t one = 1;
    if (fd >= 0) { ssize_t r = ::write(fd, &one, sizeof one); (void)r; }
}
void drain_fd(int fd) {
    uint64_t v;
    while (::read(fd, &v, sizeof v) > 0) {}
}

}  // namespace

uint32_t peer_crc32(const void* data, size_t length) {
    static const CrcTable* table = new CrcTable();  // never freed: readers may run at exit
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) c = table->t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::vector<uint8_t> encode_frame(const FrameFields& s) {
    const uint32_t len = s.has_length_field ? s.length_field : static_cast<uint32_t>(s.body.size());
    std::vector<uint8_t> out(kFrameHeaderSize + (s.header_only ? 0 : s.body.size() + 2), 0);
    uint8_t* h = out.data();
    h[0] = 0xEF; h[1] = 0xEF; h[2] = 1; h[3] = s.content_type;
    put_be(h + 4, s.message_id, 4);
    put_be(h + 8, s.request_id, 8);
    put_be(h + 16, len, 4);
    h[20] = s.async_flag;
    uint32_t crc = crc_of_wire_header(h);
    if (s.flip_crc_bit >= 0 && s.flip_crc_bit < 32) crc ^= (1u << s.flip_crc_bit);
    put_be(h + 28, crc, 4);
    if (!s.header_only) {
        if (!s.body.empty()) std::memcpy(h + 32, s.body.data(), s.body.size());
        uint8_t* tail = h + 32 + s.body.size();
        tail[0] = s.bad_tail ? 0 : 0xFE;
        tail[1] = s.bad_tail ? 0 : 0xFE;
    }
    return out;
}

std::vector<uint8_t> encode_frame(uint8_t content_type, uint32_t message_id, uint64_t request_id,
                                  const void* body, uint32_t length, uint8_t async_flag) {
    FrameFields s;
    s.content_type = content_type;
    s.message_id = message_id;
    s.request_id = request_id;
    s.async_flag = async_flag;
    if (length) s.body.assign(static_cast<const uint8_t*>(body), static_cast<const uint8_t*>(body) + length);
    return encode_frame(s);
}

std::vector<uint8_t> encode_heartbeat() {
    FrameFields s;
    s.content_type = kFrameHeartbeat;
    s.async_flag = 0;
    return encode_frame(s);
}

struct FrameTestServer::Conn {
    int index = 0;
    int fd = -1;
    int wake_fd = -1;
    std::thread reader;
    std::mutex send_mu;
    std::atomic<bool> quit{false};
    std::atomic<bool> client_closed{false};
    std::atomic<bool> closed{false};
};

FrameTestServer::FrameTestServer() : FrameTestServer(Options()) {}

FrameTestServer::FrameTestServer(Options options) : opt_(std::move(options)) {
    answer_heartbeats_ = opt_.answer_heartbeats;
    echo_requests_ = opt_.echo_requests;
    keep_frames_ = opt_.keep_frames;
    if (opt_.family != Family::kUnix && opt_.port != 0) {
        port_ = opt_.port;
        open_listener();
    } else if (opt_.family == Family::kUnix) {
        open_listener();
    } else {
        for (int attempt = 0; attempt < 200 && listen_fd_ < 0; ++attempt) {
            port_ = pick_port();
            open_listener();
        }
        if (listen_fd_ < 0) {  // fall back to whatever the system gives
            port_ = 0;
            open_listener();
        }
    }
}

FrameTestServer::~FrameTestServer() {
    relisten_quit_ = true;
    if (relisten_thread_.joinable()) relisten_thread_.join();
    stop_listening();
    std::vector<Conn*> all;
    {
        std::lock_guard<std::mutex> lk(mu_);
        for (auto& c : conns_) all.push_back(c.get());
    }
    for (Conn* c : all) close_conn(c, true);
    for (Conn* c : all)
        if (c->wake_fd >= 0) ::close(c->wake_fd);
    if (opt_.family == Family::kUnix && !opt_.unix_path.empty()) ::unlink(opt_.unix_path.c_str());
}

bool FrameTestServer::listening() const {
    std::lock_guard<std::mutex> lk(const_cast<std::mutex&>(listen_mu_));
    return listen_fd_ >= 0;
}

std::string FrameTestServer::host() const {
    switch (opt_.family) {
        case Family::kIPv4: return "127.0.0.1";
        case Family::kIPv6: return "::1";
        case Family::kUnix: return opt_.unix_path;
    }
    return "";
}

std::string FrameTestServer::url() const {
    if (opt_.family == Family::kUnix) return "unix://" + opt_.unix_path;
    return "tcp://" + host() + ":" + std::to_string(port_);
}

bool FrameTestServer::open_listener() {
    std::lock_guard<std::mutex> lk(listen_mu_);
    if (listen_fd_ >= 0) return true;
    int fd = -1;
    if (opt_.family == Family::kUnix) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        if (opt_.unix_path.size() >= sizeof a.sun_path) { ::close(fd); return false; }
        std::memcpy(a.sun_path, opt_.unix_path.c_str(), opt_.unix_path.size() + 1);
        ::unlink(opt_.unix_path.c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) { ::close(fd); return false; }
    } else {
        const bool v6 = opt_.family == Family::kIPv6;
        fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        int rc;
        if (v6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port_);
            a.sin6_addr = in6addr_loopback;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port_);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        if (rc != 0) { ::close(fd); return false; }
        if (port_ == 0) {
            sockaddr_storage ss{};
            socklen_t sl = sizeof ss;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &sl);
            port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                             : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
        }
    }
    if (::listen(fd, 64) != 0) { ::close(fd); return false; }
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) { ::close(fd); return false; }
    listen_fd_ = fd;
    listen_wake_fd_ = wake;
    accept_thread_ = std::thread([this, fd, wake] { accept_loop(fd, wake); });
    return true;
}

void FrameTestServer::stop_listening() {
    std::lock_guard<std::mutex> lk(listen_mu_);
    if (listen_fd_ < 0) return;
    signal_fd(listen_wake_fd_);
    if (accept_thread_.joinable()) accept_thread_.join();
    ::close(listen_fd_);
    ::close(listen_wake_fd_);
    listen_fd_ = -1;
    listen_wake_fd_ = -1;
}

bool FrameTestServer::listen_again() { return open_listener(); }

void FrameTestServer::refuse_then_listen(int n, std::function<int()> attempts, std::chrono::milliseconds timeout) {
    if (relisten_thread_.joinable()) relisten_thread_.join();
    stop_listening();
    relisten_quit_ = false;
    relisten_thread_ = std::thread([this, n, attempts = std::move(attempts), timeout] {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!relisten_quit_.load() && attempts() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!relisten_quit_.load()) open_listener();
        note_event();
    });
}

bool FrameTestServer::wait_listening(std::chrono::milliseconds timeout) const {
    return wait_for([this] { return listening(); }, timeout);
}

void FrameTestServer::accept_loop(int listen_fd, int wake_fd) {
    for (;;) {
        pollfd p[2] = {{listen_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int r = ::poll(p, 2, 200);
        if (r < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (opt_.family != Family::kUnix) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        Conn* raw = c.get();
        {
            // The reader starts before the connection is published, so nobody else sees its
            // thread handle being assigned.
            std::lock_guard<std::mutex> lk(mu_);
            c->index = static_cast<int>(conns_.size());
            raw->reader = std::thread([this, raw] { reader_loop(raw); });
            conns_.push_back(std::move(c));
            accepted_.fetch_add(1);
            ++events_;
        }
        cv_.notify_all();
    }
}

void FrameTestServer::reader_loop(Conn* c) {
    std::vector<uint8_t> buf;
    buf.reserve(1 << 16);
    std::vector<uint8_t> chunk(1 << 16);
    while (!c->quit.load()) {
        if (!reading_.load()) {
            pollfd p{c->wake_fd, POLLIN, 0};
            ::poll(&p, 1, 5);
            if (p.revents) drain_fd(c->wake_fd);
            continue;
        }
        pollfd p[2] = {{c->fd, POLLIN, 0}, {c->wake_fd, POLLIN, 0}};
        int r = ::poll(p, 2, 100);
        if (r < 0 && errno != EINTR) break;
        if (p[1].revents) { drain_fd(c->wake_fd); continue; }
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::recv(c->fd, chunk.data(), chunk.size(), 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            c->client_closed = true;
            note_event();
            break;
        }
        if (n < 0) continue;
        buf.insert(buf.end(), chunk.data(), chunk.data() + n);

        size_t off = 0;
        while (buf.size() - off >= kFrameHeaderSize) {
            const uint8_t* h = buf.data() + off;
            const uint32_t len = static_cast<uint32_t>(get_be(h + 16, 4));
            if (len > kLargestSendableBody) {
                // The stream cannot be resynchronised; count it and drop what is buffered.
                bad_frames_.fetch_add(1);
                off = buf.size();
                note_event();
                break;
            }
            if (buf.size() - off < kFrameOverhead + len) break;
            WireFrame f;
            f.connection = c->index;
            f.head[0] = h[0];
            f.head[1] = h[1];
            f.version = h[2];
            f.content_type = h[3];
            f.message_id = static_cast<uint32_t>(get_be(h + 4, 4));
            f.request_id = get_be(h + 8, 8);
            f.body_length = len;
            f.async_flag = h[20];
            std::memcpy(f.reserved, h + 21, 7);
            f.crc = static_cast<uint32_t>(get_be(h + 28, 4));
            f.head_ok = h[0] == 0xEF && h[1] == 0xEF && h[2] == 1;
            f.type_ok = type_known(h[3]);
            f.crc_ok = crc_of_wire_header(h) == f.crc;
            const uint8_t* tail = h + 32 + len;
            f.tail_ok = tail[0] == 0xFE && tail[1] == 0xFE;
            f.received = std::chrono::steady_clock::now();
            const bool need_body = (opt_.keep_bodies && keep_frames_.load()) || on_frame_ ||
                                   (f.content_type == kFrameRequest && echo_requests_.load());
            if (need_body && len) f.body.assign(h + 32, h + 32 + len);
            off += kFrameOverhead + len;
            handle_frame(c, std::move(f));
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(off));
    }
}

void FrameTestServer::handle_frame(Conn* c, WireFrame&& f) {
    if (!f.sound()) bad_frames_.fetch_add(1);
    if (on_frame_) on_frame_(f);
    // The answer is built first but sent only once the frame is stored and counted: a client
    // that has its answer must find the frame among what the peer saw.
    std::vector<uint8_t> answer;
    if (f.content_type == kFrameHeartbeat && answer_heartbeats_.load()) {
        answer = encode_heartbeat();
    } else if (f.content_type == kFrameRequest && echo_requests_.load()) {
        answer = encode_frame(kFrameResponse, f.message_id, f.request_id, f.body.data(),
                              static_cast<uint32_t>(f.body.size()), f.async_flag);
    }
    const uint8_t type = f.content_type;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (keep_frames_.load()) {
            if (!opt_.keep_bodies) f.body.clear();
            frames_.push_back(std::move(f));
        }
        // Counted under the lock so a waiter that sees the count also sees the frame.
        frames_total_.fetch_add(1);
        frames_by_type_[type & 15].fetch_add(1);
        ++events_;
    }
    cv_.notify_all();
    if (!answer.empty()) send_on(c, answer.data(), answer.size());
}

void FrameTestServer::note_event() {
    {
        std::lock_guard<std::mutex> lk(mu_);
        ++events_;
    }
    cv_.notify_all();
}

void FrameTestServer::set_reading(bool on) {
    reading_ = on;
    std::lock_guard<std::mutex> lk(mu_);
    for (auto& c : conns_) signal_fd(c->wake_fd);
}

void FrameTestServer::set_on_frame(std::function<void(const WireFrame&)> fn) { on_frame_ = std::move(fn); }

int FrameTestServer::open_connections() const {
    std::lock_guard<std::mutex> lk(mu_);
    int n = 0;
    for (auto& c : conns_)
        if (!c->closed.load() && !c->client_closed.load()) ++n;
    return n;
}

size_t FrameTestServer::frame_count(uint8_t content_type) const {
    return frames_by_type_[content_type & 15].load();
}

std::vector<WireFrame> FrameTestServer::frames() const {
    std::lock_guard<std::mutex> lk(mu_);
    return frames_;
}

std::vector<WireFrame> FrameTestServer::frames(uint8_t content_type) const {
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<WireFrame> out;
    for (auto& f : frames_)
        if (f.content_type == content_type) out.push_back(f);
    return out;
}

void FrameTestServer::clear_frames() {
    std::lock_guard<std::mutex> lk(mu_);
    frames_.clear();
}

bool FrameTestServer::closed_by_client(int connection) const {
    std::lock_guard<std::mutex> lk(mu_);
    if (connection < 0 || connection >= static_cast<int>(conns_.size())) return false;
    return conns_[static_cast<size_t>(connection)]->client_closed.load();
}

bool FrameTestServer::wait_for(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lk(mu_);
            seen = events_;
        }
        if (pred()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return pred();
        // The predicate may look at state the peer does not announce (the client's side), so
        // wake up every few ms as well as on every event of our own.
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_until(lk, std::min(deadline, now + std::chrono::milliseconds(2)),
                       [&] { return events_ != seen; });
    }
}

bool FrameTestServer::wait_connections(int n, std::chrono::milliseconds timeout) const {
    return wait_for([&] { return connections() >= n; }, timeout);
}

bool FrameTestServer::wait_frames(uint8_t content_type, size_t n, std::chrono::milliseconds timeout) const {
    return wait_for([&] { return frame_count(content_type) >= n; }, timeout);
}

bool FrameTestServer::wait_closed_by_client(int connection, std::chrono::milliseconds timeout) const {
    return wait_for([&] { return closed_by_client(connection); }, timeout);
}

FrameTestServer::Conn* FrameTestServer::newest() {
    std::lock_guard<std::mutex> lk(mu_);
    return conns_.empty() ? nullptr : conns_.back().get();
}

bool FrameTestServer::send_on(Conn* c, const void* data, size_t length) {
    if (!c) return false;
    std::lock_guard<std::mutex> lk(c->send_mu);
    if (c->fd < 0 || c->closed.load()) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length) {
        ssize_t n = ::send(c->fd, p, length, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool FrameTestServer::send_bytes(const void* data, size_t length) { return send_on(newest(), data, length); }

bool FrameTestServer::send_bytewise(const std::vector<uint8_t>& bytes, std::chrono::microseconds gap) {
    Conn* c = newest();
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!send_on(c, &bytes[i], 1)) return false;
        if (i + 1 < bytes.size()) std::this_thread::sleep_for(gap);
    }
    return true;
}

bool FrameTestServer::send_split(const std::vector<uint8_t>& bytes, size_t first, std::chrono::microseconds gap) {
    Conn* c = newest();
    if (first > bytes.size()) first = bytes.size();
    if (!send_on(c, bytes.data(), first)) return false;
    std::this_thread::sleep_for(gap);
    return first == bytes.size() || send_on(c, bytes.data() + first, bytes.size() - first);
}

bool FrameTestServer::send_joined(const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<uint8_t> all;
    for (auto& f : frames) all.insert(all.end(), f.begin(), f.end());
    return send_bytes(all);
}

bool FrameTestServer::send_frame(uint8_t content_type, uint32_t message_id, uint64_t request_id,
                                 const std::vector<uint8_t>& body, uint8_t async_flag) {
    auto f = encode_frame(content_type, message_id, request_id, body.data(),
                          static_cast<uint32_t>(body.size()), async_flag);
    return send_bytes(f);
}

void FrameTestServer::close_conn(Conn* c, bool rst) {
    if (!c || c->closed.load()) return;
    if (!rst) {
        // FIN first, then keep reading until the client has closed its side (bounded), so the
        // descriptor is not closed over unread data, which would turn the FIN into a reset.
        {
            std::lock_guard<std::mutex> lk(c->send_mu);
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_WR);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!c->client_closed.load() && std::chrono::steady_clock::now() < deadline) {
            std::unique_lock<std::mutex> lk(mu_);
            cv_.wait_for(lk, std::chrono::milliseconds(2));
        }
    }
    c->quit = true;
    signal_fd(c->wake_fd);
    if (c->reader.joinable()) c->reader.join();
    std::lock_guard<std::mutex> lk(c->send_mu);
    if (c->fd >= 0) {
        if (rst) {
            linger lg{1, 0};
            ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        }
        ::close(c->fd);
        c->fd = -1;
    }
    c->closed = true;
    note_event();
}

void FrameTestServer::close_fin() { close_conn(newest(), false); }
void FrameTestServer::close_rst() { close_conn(newest(), true); }

void FrameTestServer::close_all_rst() {
    std::vector<Conn*> all;
    {
        std::lock_guard<std::mutex> lk(mu_);
        for (auto& c : conns_) all.push_back(c.get());
    }
    for (Conn* c : all) close_conn(c, true);
}

}  // namespace oxa_test
