// What the driver fuzz targets check of every record a callback receives: each byte is read (a
// record built from bytes it should not have read shows under the sanitizer), texts end inside
// their field, error records are whole; a broken rule stops the run.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstring>

namespace driver_fuzz {

[[noreturn]] inline void Broken() { __builtin_trap(); }

template <typename T>
void Touch(const T* rec) {
    if (rec == nullptr) return;
    volatile unsigned sum = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(rec);
    for (std::size_t i = 0; i < sizeof(T); ++i) sum = sum + p[i];
}

// A text field of n bytes that ends inside it.
inline bool Terminated(const char* text, std::size_t n) { return std::memchr(text, 0, n) != nullptr; }

// Every error argument: present, its text terminated.
inline void CheckError(const OXAErrorInfo* e) {
    if (e == nullptr || !Terminated(e->error_msg, sizeof e->error_msg)) Broken();
}

}  // namespace driver_fuzz
