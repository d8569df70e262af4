// The oxa_gateway_sim program run as a child process: its path in the build tree, its first
// lines of output and its exit, each wait bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sim_test {

inline std::string sim_binary() {
  if (const char* env = std::getenv("OXA_GATEWAY_SIM_BIN")) return env;
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string dir(self, static_cast<std::size_t>(n));
  dir.resize(dir.rfind('/'));
  return dir + "/../tools/oxa_gateway_sim";  // the build tree: tests/ and tools/ side by side
}

class Program {
 public:
  bool spawn(const std::string& path, std::vector<std::string> args, bool quiet_stderr = false) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    if (quiet_stderr) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    args.insert(args.begin(), path);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    out_ = fds[0];
    return rc == 0;
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // The next line of its stdout.
  std::optional<std::string> line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        std::string l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return l;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[256];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buf_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // Exit status once it ended, within the bound.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no child-exit event to wait on portably
    }
    return std::nullopt;
  }
  pid_t pid() const { return pid_; }
  // SIGKILL and reap: the program ends as a crash would end it, with no clean-up of its own.
  bool kill_now() {
    if (pid_ <= 0) return false;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return true;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buf_;
};

inline std::optional<std::uint16_t> port_of(const std::string& line) {
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) return std::nullopt;
  return static_cast<std::uint16_t>(std::stoul(line.substr(prefix.size())));
}

}  // namespace sim_test
