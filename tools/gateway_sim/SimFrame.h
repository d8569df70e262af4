// Frame encoder/decoder of the simulated gateway. Written apart from the library's codec on
// purpose: a fault in one is not mirrored by the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace oxa_sim {

enum ContentType : std::uint8_t {
  kRequest = 1,
  kResponse = 2,
  kPush = 4,
  kHeartbeat = 15,
};

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kTailSize = 2;
// the largest body a peer's 2 MiB package buffer can hold (buffer less header and tail)
constexpr std::size_t kMaxBody = 2097152 - kHeaderSize - kTailSize;

// Standard reflected CRC-32 (poly 0xEDB88320, init and final xor 0xFFFFFFFF).
std::uint32_t crc32(const void* data, std::size_t len);

struct FrameHeader {
  std::uint8_t content_type = 0;
  std::uint32_t msg_id = 0;
  std::uint64_t request_id = 0;
  std::uint32_t body_len = 0;
  std::uint8_t async_flag = 0;
  std::uint32_t crc = 0;           // as received
  std::uint32_t computed_crc = 0;  // over the little-endian image of bytes 0..27
};

enum class HeaderStatus {
  kOk,
  kUnknownContentType,
  kCrcError,
  kBodyTooLong,
};

const char* header_status_name(HeaderStatus s);

// Reads a 32-byte wire header. The fields are always filled in, whatever the status.
HeaderStatus decode_header(const std::uint8_t* wire, FrameHeader& out);

// A whole frame: header, body, tail FE FE. Reserved bytes 21..27 are zero.
std::vector<std::uint8_t> encode_frame(std::uint8_t content_type, std::uint32_t msg_id,
                                       std::uint64_t request_id, const std::uint8_t* body,
                                       std::size_t body_len, std::uint8_t async_flag);

inline std::vector<std::uint8_t> encode_frame(std::uint8_t content_type, std::uint32_t msg_id,
                                              std::uint64_t request_id,
                                              const std::vector<std::uint8_t>& body,
                                              std::uint8_t async_flag) {
  return encode_frame(content_type, msg_id, request_id, body.data(), body.size(), async_flag);
}

inline std::vector<std::uint8_t> encode_heartbeat() {
  return encode_frame(kHeartbeat, 0, 0, nullptr, 0, 0);
}

}  // namespace oxa_sim
