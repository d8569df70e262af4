// Error category of the TCP framework's own codes.
#pragma once

#include <string>
#include <system_error>

namespace tcp_framework {
namespace client {

// Codes with a text of their own; every other code reads "".
enum TcpFrameworkError : int {
    TCP_ERROR_INVALID_PACKAGE = 1005,
    TCP_ERROR_HEARTBEAT_TIMEOUT = 2005,
    TCP_ERROR_SEND_BUFFER_FULL = 5001,
};

class ErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override;
    std::string message(int code) const override;
};

// One process-wide instance: an error_code keeps a pointer to its category,
// so codes must not outlive a category owned by a socket or client object;
// sharing one also makes codes from the socket and the client compare equal.
const ErrorCategory& error_category() noexcept;

inline std::error_code make_tcp_error(int code) noexcept { return std::error_code(code, error_category()); }

}  // namespace client
}  // namespace tcp_framework
