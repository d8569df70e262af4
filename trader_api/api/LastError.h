// Recording into an OXAErrorInfo, shared by the facade and the back-ends.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>

namespace OXA {
namespace API {

// Longest text an error record keeps (its last byte is the terminating NUL).
constexpr std::size_t kErrorTextMax = sizeof(OXAErrorInfo::error_msg) - 1;

// Copies at most max_bytes bytes of src into dst and terminates it (dst holds max_bytes + 1
// bytes). A cut never splits a UTF-8 sequence. A null src gives an empty text.
void CopyErrorText(char* dst, const char* src, std::size_t max_bytes = kErrorTextMax);

// Under the process-wide error mutex: error_id = code; a text (even empty) replaces the
// record's text; without one (null) the record's text becomes the library's text of the
// code, whatever it held, so a code never stands beside another code's text. Logs the result
// at error level.
void RecordLastError(OXAErrorInfo* record, int code, const char* text);

}  // namespace API
}  // namespace OXA
