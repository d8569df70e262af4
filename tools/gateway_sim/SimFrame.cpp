#include "gateway_sim/SimFrame.h"

#include <array>
#include <cstring>

namespace oxa_sim {
namespace {

std::array<std::uint32_t, 256> make_table() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    t[i] = c;
  }
  return t;
}

const std::array<std::uint32_t, 256>& table() {
  static const std::array<std::uint32_t, 256> t = make_table();
  return t;
}

void put_be(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
}
void put_le(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get_be(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// The checksum covers bytes 0..27 with the three numeric fields little-endian.
std::uint32_t header_crc(const std::uint8_t* wire, std::uint32_t msg_id, std::uint64_t request_id,
                         std::uint32_t body_len) {
  std::uint8_t image[28];
  std::memcpy(image, wire, 28);
  put_le(image + 4, msg_id, 4);
  put_le(image + 8, request_id, 8);
  put_le(image + 16, body_len, 4);
  return crc32(image, sizeof image);
}

}  // namespace

std::uint32_t crc32(const void* data, std::size_t len) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  const auto& t = table();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < len; ++i) c = t[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

const char* header_status_name(HeaderStatus s) {
  switch (s) {
    case HeaderStatus::kOk: return "ok";
    case HeaderStatus::kUnknownContentType: return "unknown content type";
    case HeaderStatus::kCrcError: return "crc error";
    case HeaderStatus::kBodyTooLong: return "body too long";
  }
  return "?";
}

HeaderStatus decode_header(const std::uint8_t* wire, FrameHeader& out) {
  out.content_type = wire[3];
  out.msg_id = static_cast<std::uint32_t>(get_be(wire + 4, 4));
  out.request_id = get_be(wire + 8, 8);
  out.body_len = static_cast<std::uint32_t>(get_be(wire + 16, 4));
  out.async_flag = wire[20];
  out.crc = static_cast<std::uint32_t>(get_be(wire + 28, 4));
  out.computed_crc = header_crc(wire, out.msg_id, out.request_id, out.body_len);
  switch (out.content_type) {
    case kRequest: case kResponse: case kPush: case kHeartbeat: break;
    default: return HeaderStatus::kUnknownContentType;
  }
  if (out.crc != out.computed_crc) return HeaderStatus::kCrcError;
  if (out.body_len > kMaxBody) return HeaderStatus::kBodyTooLong;
  return HeaderStatus::kOk;
}

std::vector<std::uint8_t> encode_frame(std::uint8_t content_type, std::uint32_t msg_id,
                                       std::uint64_t request_id, const std::uint8_t* body,
                                       std::size_t body_len, std::uint8_t async_flag) {
  std::vector<std::uint8_t> f(kHeaderSize + body_len + kTailSize, 0);
  std::uint8_t* h = f.data();
  h[0] = 0xEF;
  h[1] = 0xEF;
  h[2] = 1;
  h[3] = content_type;
  const auto len32 = static_cast<std::uint32_t>(body_len);
  put_be(h + 4, msg_id, 4);
  put_be(h + 8, request_id, 8);
  put_be(h + 16, len32, 4);
  h[20] = async_flag;
  put_be(h + 28, header_crc(h, msg_id, request_id, len32), 4);
  if (body_len != 0) std::memcpy(h + kHeaderSize, body, body_len);
  f[kHeaderSize + body_len] = 0xFE;
  f[kHeaderSize + body_len + 1] = 0xFE;
  return f;
}

}  // namespace oxa_sim
