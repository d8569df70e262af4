// Bytes that end right before an unreadable page, so a read past their length faults in every
// build, not only under the address sanitizer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

namespace oxa_test {

class GuardedBuffer {
public:
    GuardedBuffer() : m_page(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {
        m_map = ::mmap(nullptr, m_page * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m_map == MAP_FAILED || ::mprotect(Guard(), m_page, PROT_NONE) != 0)
            throw std::runtime_error("cannot map a guarded page");
    }
    ~GuardedBuffer() { ::munmap(m_map, m_page * 2); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    // Copies bytes (at most a page) to end at the guard page; returns where they start.
    char* Place(const std::string& bytes) {
        char* at = Guard() - bytes.size();
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    char* Guard() const { return static_cast<char*>(m_map) + m_page; }

    std::size_t m_page;
    void* m_map = nullptr;
};

}  // namespace oxa_test
