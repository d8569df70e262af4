#include "infra/tcp_framework/client/ErrorCategory.h"

namespace tcp_framework {
namespace client {

const char* ErrorCategory::name() const noexcept { return "error category name."; }

std::string ErrorCategory::message(int code) const {
    switch (code) {
        case TCP_ERROR_SEND_BUFFER_FULL: return "send buffer full.";
        case TCP_ERROR_INVALID_PACKAGE: return "invalid package.";
        case TCP_ERROR_HEARTBEAT_TIMEOUT: return "heartbeat timeout.";
        default: return "";
    }
}

const ErrorCategory& error_category() noexcept {
    // Never destroyed: io threads may still report codes while static destructors run.
    static const ErrorCategory* const category = new ErrorCategory();
    return *category;
}

}  // namespace client
}  // namespace tcp_framework
