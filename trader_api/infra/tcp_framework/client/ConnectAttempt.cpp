// A connect that its owner can give up: a client's stop or a newer connect must not wait behind
// an attempt stuck in SYN (a black-holed gateway keeps a blocking connect for minutes); and the
// first bytes of a new connection, sent before anyone else may write on it.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <asio/error.hpp>

#include "infra/tcp_framework/client/ISocket.h"

namespace tcp_framework {
namespace client {

namespace {
constexpr int kSliceMs = 5;  // how often a waiting attempt asks whether it is still wanted

bool given_up(const ISocket::AbandonCheck& abandoned) { return abandoned && abandoned(); }

std::error_code sys(int e) { return std::error_code(e, asio::error::get_system_category()); }

// A TCP connect to a port of this host where nothing listens can meet itself when the kernel
// picks that very port as the source (simultaneous open): the socket then reads its own
// frames and passes for a live gateway. Such a connection is a refused one.
bool connected_to_itself(int fd) {
    sockaddr_storage own{}, peer{};
    socklen_t own_len = sizeof own, peer_len = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &own_len) != 0) return false;
    if (own.ss_family != AF_INET && own.ss_family != AF_INET6) return false;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) return false;
    if (own_len != peer_len || own.ss_family != peer.ss_family) return false;
    if (own.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(own);
        const auto& b = reinterpret_cast<const sockaddr_in&>(peer);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(own);
    const auto& b = reinterpret_cast<const sockaddr_in6&>(peer);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}
}  // namespace

std::error_code connect_descriptor(int fd, const void* addr, std::size_t addr_length,
                                   const ISocket::AbandonCheck& abandoned) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return sys(errno);
    if (!(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return sys(errno);
    auto restore = [&] {
        if (!(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags);
    };
    std::error_code result;
    for (;;) {
        if (given_up(abandoned)) {
            result = std::make_error_code(std::errc::operation_canceled);
            break;
        }
        if (::connect(fd, static_cast<const sockaddr*>(addr), static_cast<socklen_t>(addr_length)) == 0) break;
        const int e = errno;
        if (e == EAGAIN) {
            // a Unix listener whose backlog is full: try again after a slice
            ::poll(nullptr, 0, kSliceMs);
            continue;
        }
        if (e != EINPROGRESS && e != EINTR) {
            result = sys(e);
            break;
        }
        // in progress: wait for the outcome a slice at a time
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, kSliceMs);
            if (r < 0 && errno != EINTR) {
                result = sys(errno);
                break;
            }
            if (r > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
                if (err != 0) result = sys(err);
                break;
            }
            if (given_up(abandoned)) {
                result = std::make_error_code(std::errc::operation_canceled);
                break;
            }
        }
        break;
    }
    restore();
    if (!result && connected_to_itself(fd)) result = sys(ECONNREFUSED);
    return result;
}

std::error_code send_first_bytes(int fd, const std::vector<uint8_t>& first, const ISocket::AbandonCheck& abandoned) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FIRST_BYTES_TIMEOUT_MS);
    std::size_t done = 0;
    while (done < first.size()) {
        if (given_up(abandoned)) return std::make_error_code(std::errc::operation_canceled);
        const ssize_t n = ::send(fd, first.data() + done, first.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int e = n < 0 ? errno : EPIPE;
        if (e == EINTR) continue;
        if (e != EAGAIN && e != EWOULDBLOCK) return sys(e);
        if (std::chrono::steady_clock::now() >= deadline) return sys(ETIMEDOUT);
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, kSliceMs);
    }
    return std::error_code();
}

}  // namespace client
}  // namespace tcp_framework
