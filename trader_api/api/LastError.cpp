#include "api/LastError.h"

#include <spdlog/spdlog.h>

#include <cstring>
#include <mutex>

#include "api/ApiGlobals.h"
#include "api/ErrorMsg.h"

namespace OXA {
namespace API {

void CopyErrorText(char* dst, const char* src, std::size_t max_bytes) {
    if (src == nullptr) {
        dst[0] = '\0';
        return;
    }
    std::size_t n = ::strnlen(src, max_bytes + 1);
    if (n > max_bytes) {
        n = max_bytes;
        // back off over continuation bytes to the start of the sequence that was cut
        std::size_t start = n;
        while (start > 0 && (static_cast<unsigned char>(src[start]) & 0xC0) == 0x80) --start;
        n = start;
    }
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void RecordLastError(OXAErrorInfo* record, int code, const char* text) {
    if (record == nullptr) return;
    std::lock_guard<std::mutex> lock(_gErrorMutex);
    record->error_id = code;
    // Without a text the code's own text is written, so the record never shows one code
    // with the text of another.
    CopyErrorText(record->error_msg, text != nullptr ? text : GetErrorMsg(code));
    // the text is bounded and terminated above, so it can be logged as is
    spdlog::error("[{}] errNo [{}] errMsg[{}]", "SetLastError", code, record->error_msg);
}

}  // namespace API
}  // namespace OXA
