// Slot of a virtual member function in its class's vtable (Itanium C++ ABI, which this
// library targets): a pointer to a virtual member holds 1 + the byte offset of its entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace oxa_test {

// -1 when the member is not virtual.
template <typename M>
std::ptrdiff_t VirtualSlot(M member) {
    static_assert(sizeof(M) == 2 * sizeof(std::uintptr_t), "Itanium member function pointer");
    std::uintptr_t raw[2];
    std::memcpy(raw, &member, sizeof raw);
    if ((raw[0] & 1) == 0) return -1;
    return static_cast<std::ptrdiff_t>((raw[0] - 1) / sizeof(void*));
}

}  // namespace oxa_test
