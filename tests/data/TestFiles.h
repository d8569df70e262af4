// Files for the file-reader tests: the committed data beside this header
// (tests/data, see README.md there), and a scratch folder per test for files a
// test writes itself, removed with the folder object.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace oxa_test {

inline std::string DataPath(const std::string& relative) {
  const std::string here = __FILE__;
  return here.substr(0, here.rfind('/') + 1) + relative;
}

class ScratchDir {
 public:
  ScratchDir() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "oxa_files_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    m_dir = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }

  // Writes bytes as they are (no line-end translation) and returns the path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
  }

 private:
  std::string m_dir;
};

}  // namespace oxa_test
