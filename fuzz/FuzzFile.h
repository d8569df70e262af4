// An in-memory file for fuzz targets whose readers take a path: one memfd per
// process, refilled for every input and named through /proc/self/fd.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzFile {
 public:
  explicit FuzzFile(const char* name) : m_fd(::memfd_create(name, MFD_CLOEXEC)) {
    if (m_fd < 0) std::abort();
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
  }
  ~FuzzFile() { ::close(m_fd); }

  // Makes the file hold exactly these bytes.
  const char* Set(const uint8_t* data, size_t size) {
    if (::ftruncate(m_fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    return m_path.c_str();
  }

 private:
  int m_fd;
  std::string m_path;
};
