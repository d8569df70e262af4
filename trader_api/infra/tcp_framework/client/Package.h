// Frame codec of the gateway protocol.
//
// A frame is a 32-byte header, the body and the tail mark FE FE. The header's
// CRC-32 covers bytes 0-27 as they stand with the message id, request id and
// body length written little-endian; those three fields and the CRC then go
// out big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tcp_framework {
namespace client {

constexpr std::size_t PACKAGE_HEADER_SIZE = 32;
constexpr std::size_t PACKAGE_TAIL_SIZE = 2;
constexpr std::size_t PACKAGE_CRC_OFFSET = 28;  // also the number of bytes the CRC covers
constexpr std::size_t PACKAGE_FRAME_OVERHEAD = PACKAGE_HEADER_SIZE + PACKAGE_TAIL_SIZE;  // 34
constexpr std::size_t PACKAGE_BUFFER_SIZE = 2097152;
// Largest body a package buffer can frame: 2,097,118 bytes.
constexpr uint32_t PACKAGE_MAX_BODY_LENGTH = static_cast<uint32_t>(PACKAGE_BUFFER_SIZE - PACKAGE_FRAME_OVERHEAD);

constexpr uint8_t PACKAGE_HEAD_MARK = 0xEF;
constexpr uint8_t PACKAGE_TAIL_MARK = 0xFE;
constexpr uint8_t PACKAGE_VERSION = 1;

// Header field offsets.
constexpr std::size_t PACKAGE_OFF_CONTENT_TYPE = 3;
constexpr std::size_t PACKAGE_OFF_MESSAGE_ID = 4;
constexpr std::size_t PACKAGE_OFF_REQUEST_ID = 8;
constexpr std::size_t PACKAGE_OFF_BODY_LENGTH = 16;
constexpr std::size_t PACKAGE_OFF_ASYNC_FLAG = 20;

enum class ContentType : uint8_t {
    REQUEST = 1,
    RESPONSE = 2,
    PUSH = 4,
    HEARTBEAT = 15,
};

enum class PackageStatus : int {
    OK = 0,
    INVALID_PACKAGE = 1,
    UNKNOWN_CONTENT_TYPE = 2,
    CRC_ERROR = 3,
    INVALID_SESSION_ID = 4,
    PACK_TAIL_NOT_FOUND = 9,
};

#pragma pack(push, 1)
struct PackageHeader {
    uint8_t head_mark[2];
    uint8_t version;
    uint8_t content_type;
    uint32_t message_id;
    uint64_t request_id;
    uint32_t body_length;
    uint8_t async_flag;
    uint8_t reserved[7];
    uint32_t crc;
};
#pragma pack(pop)
static_assert(sizeof(PackageHeader) == PACKAGE_HEADER_SIZE, "header is 32 bytes on the wire");

// One whole frame from offset 0, then the number of bytes to hand to the socket.
// Bytes a packer does not write keep what the previous frame left there.
struct PackageBuffer {
    uint8_t data[PACKAGE_BUFFER_SIZE];
    uint32_t total_length;
};

// Result of a packer that refused its arguments (body over
// PACKAGE_MAX_BODY_LENGTH, or a null body with a non-zero length); the
// buffer is left as it was.
constexpr int PACK_REFUSED = -1;

// The packers return 0, or PACK_REFUSED without touching the buffer.
int pack_request(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, const void* body,
                 uint32_t length, uint8_t async_flag);
int pack_response(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, uint8_t async_flag,
                  const void* body, uint32_t length);
int pack_push(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, const void* body,
              uint32_t length);
int pack_heartbeat(PackageBuffer& buffer);

// Reverse, in place, the byte order of the message id, request id, body
// length and CRC (one and the same swap both ways).
void header_hton(PackageHeader& header);
void header_ntoh(PackageHeader& header);

// On a header already turned back to host order: content type first, then
// the CRC over bytes 0-27. Head mark, version, tail and body length are not
// judged here.
PackageStatus check_package(const PackageHeader& header);

// The receive-side check as a pure function on the received bytes: copies
// the first 32 bytes of `data` into `out` in host order and checks them.
// Fewer than 32 bytes give INVALID_PACKAGE and a zeroed `out`.
PackageStatus parse_header(const void* data, std::size_t size, PackageHeader& out);

const char* status_name(PackageStatus status);
const char* status_name(int status);

// Standard CRC-32 (zlib / Ethernet); 0 for an empty range.
uint32_t calc_crc32(const void* data, std::size_t length);

int write_head_mark(void* out);
int write_tail_mark(void* out);

void hex_dump(const char* title, const void* data, int length);

}  // namespace client
}  // namespace tcp_framework
