#pragma once

#include <oxa_api/OXAApiStruct.h>

namespace OXA {
namespace API {

// Text of an error code: the library's own codes, the gateway's and servers' codes and
// the exchange/counter reject codes 0..29999; any other code reads "OXA_EXCHANGE_ERR_CODE".
// Never null; the text is static. Safe from any thread, including the very first calls.
const char* GetErrorMsg(int code);

// When error->error_msg is empty, fills it with GetErrorMsg(error->error_id) (at most 124
// bytes, always terminated); a record that already carries a text is left alone.
void FillErrorMsg(OXAErrorInfo* error);

// The text of a code as the API hands it to the application: a per-thread record receives
// the code and the first 123 bytes of its text; the result points into that record and
// stays valid until the same thread calls again.
const char* GetApiErrorMsg(int code);

}  // namespace API
}  // namespace OXA
