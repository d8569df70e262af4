// A connect that its owner can give up: a client's stop or a newer connect must not wait behind
// an attempt stuck in SYN (a black-holed gateway keeps a blocking connect for minutes).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <asio/error.hpp>

#include "infra/tcp_framework/client/ISocket.h"

namespace tcp_framework {
namespace client {

namespace {
constexpr int kSliceMs = 5;  // how often a waiting attempt asks whether it is still wanted

bool given_up(const ISocket::AbandonCheck& abandoned) { return abandoned && abandoned(); }

std::error_code sys(int e) { return std::error_code(e, asio::error::get_system_category()); }
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
    return result;
}

}  // namespace client
}  // namespace tcp_framework
