// A raw loopback client of the simulated gateway with a frame writer and reader of its own, so
// that the sim's encoder, its offset tables and its behaviour are checked from outside.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimFrame.h"

namespace sim_test {

using namespace std::chrono_literals;
using oxa_sim::Clock;
using oxa_sim::GatewaySim;
using oxa_sim::Millis;
using oxa_sim::ReplyPlan;
using Bytes = std::vector<std::uint8_t>;

constexpr Millis kWait{5000};    // bound for things that must happen
constexpr Millis kSilence{150};  // how long "nothing arrives" is watched

// ---- the test's own wire helpers ---------------------------------------------------------

inline std::uint32_t bitwise_crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

inline void put_be(Bytes& b, std::size_t off, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
}
inline void put_le(Bytes& b, std::size_t off, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint64_t le(const Bytes& b, std::size_t off, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(b.at(off + i)) << (8 * i);
  return v;
}

// Header CRC over bytes 0..27 with the numeric fields little-endian, fields then big-endian.
inline Bytes write_frame(std::uint8_t type, std::uint32_t msg, std::uint64_t req, const Bytes& body,
                  std::uint8_t async_flag) {
  Bytes f(32 + body.size() + 2, 0);
  f[0] = 0xEF;
  f[1] = 0xEF;
  f[2] = 1;
  f[3] = type;
  put_le(f, 4, msg, 4);
  put_le(f, 8, req, 8);
  put_le(f, 16, body.size(), 4);
  f[20] = async_flag;
  const std::uint32_t crc = bitwise_crc32(f.data(), 28);
  put_be(f, 4, msg, 4);
  put_be(f, 8, req, 8);
  put_be(f, 16, body.size(), 4);
  put_be(f, 28, crc, 4);
  std::copy(body.begin(), body.end(), f.begin() + 32);
  f[32 + body.size()] = 0xFE;
  f[33 + body.size()] = 0xFE;
  return f;
}

inline Bytes login_request(std::uint64_t account) {
  Bytes b(857, 0);
  put_le(b, 0, account, 8);
  return b;
}
inline Bytes account_body(std::uint64_t account, std::size_t len) {
  Bytes b(len, 0);
  put_le(b, 0, account, 8);
  return b;
}

struct Frame {
  std::uint8_t type = 0;
  std::uint32_t msg = 0;
  std::uint64_t req = 0;
  std::uint8_t async_flag = 0;
  Bytes body;
  bool tail_ok = false;
};

class RawClient {
 public:
  explicit RawClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      connect_errno_ = errno;
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  int connect_errno() const { return connect_errno_; }

  bool send_bytes(const Bytes& b) {
    std::size_t done = 0;
    while (done < b.size()) {
      const ssize_t n = ::send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool request(std::uint32_t msg, std::uint64_t req, const Bytes& body, std::uint8_t async_flag = 1) {
    return send_bytes(write_frame(oxa_sim::kRequest, msg, req, body, async_flag));
  }

  // One whole frame, or nothing when the deadline passes or the peer closed.
  std::optional<Frame> read_frame(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    std::uint8_t hdr[32];
    if (!read_exact(hdr, sizeof hdr, deadline)) return std::nullopt;
    oxa_sim::FrameHeader h;
    if (oxa_sim::decode_header(hdr, h) != oxa_sim::HeaderStatus::kOk) {
      ADD_FAILURE() << "the sim sent a frame that does not pass the check";
      return std::nullopt;
    }
    Bytes rest(h.body_len + 2);
    if (!read_exact(rest.data(), rest.size(), deadline)) return std::nullopt;
    Frame f{h.content_type, h.msg_id, h.request_id, h.async_flag,
            Bytes(rest.begin(), rest.begin() + h.body_len),
            rest[h.body_len] == 0xFE && rest[h.body_len + 1] == 0xFE};
    EXPECT_TRUE(f.tail_ok);
    return f;
  }

  // True once the peer ended the stream (frames still in flight are skipped).
  bool wait_closed(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    std::uint8_t buf[4096];
    for (;;) {
      const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    }
  }

 private:
  bool read_exact(std::uint8_t* p, std::size_t n, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < n) {
      const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd pf{fd_, POLLIN, 0};
      const int r = ::poll(&pf, 1, static_cast<int>(left));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      const ssize_t got = ::recv(fd_, p + done, n - done, 0);
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }

  int fd_ = -1;
  int connect_errno_ = 0;
};

// A started sim on a free port.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.start(0)); }

  // A client whose connection the sim has accepted.
  std::unique_ptr<RawClient> connect_client() {
    const std::size_t before = sim.accepted_count();
    auto c = std::make_unique<RawClient>(sim.port());
    EXPECT_TRUE(c->connected());
    EXPECT_TRUE(sim.wait_for_accepted(before + 1, kWait));
    return c;
  }

  GatewaySim sim;
};

}  // namespace sim_test
