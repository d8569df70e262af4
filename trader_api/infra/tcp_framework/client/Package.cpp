#include "infra/tcp_framework/client/Package.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "infra/utility/WireCodec.h"

namespace tcp_framework {
namespace client {

namespace {

namespace wire = OXA::API::wire;

// Slicing-by-8 tables of the reflected polynomial 0xEDB88320.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (std::size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
    }
    return t;
}

constexpr CrcTables kCrc = make_crc_tables();

// Eight bytes (the low half first) and four bytes through the slicing tables.
inline uint32_t crc_step8(uint32_t crc, uint64_t word) {
    const uint32_t lo = static_cast<uint32_t>(word) ^ crc;
    const uint32_t hi = static_cast<uint32_t>(word >> 32);
    return kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
           kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
}

inline uint32_t crc_step4(uint32_t crc, uint32_t word) {
    const uint32_t x = word ^ crc;
    return kCrc[3][x & 0xFF] ^ kCrc[2][(x >> 8) & 0xFF] ^ kCrc[1][(x >> 16) & 0xFF] ^ kCrc[0][x >> 24];
}

inline uint32_t crc_update(uint32_t crc, const uint8_t* p, std::size_t n) {
    while (n >= 8) {
        crc = crc_step8(crc, wire::load_le<uint64_t>(p));
        p += 8;
        n -= 8;
    }
    if (n >= 4) {
        crc = crc_step4(crc, wire::load_le<uint32_t>(p));
        p += 4;
        n -= 4;
    }
    while (n--) crc = kCrc[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The little-endian image of header bytes 0-27 as three 64-bit words and a 32-bit one, the
// way the CRC covers them; built from the fields so no byte goes through memory twice.
struct HeaderImage {
    uint64_t w0, w1, w2;
    uint32_t w3;
};

// bytes_0_3: head mark, version and content type.
inline HeaderImage make_image(uint32_t bytes_0_3, uint32_t message_id, uint64_t request_id, uint32_t length,
                              uint64_t bytes_20_27) {
    return HeaderImage{bytes_0_3 | uint64_t(message_id) << 32, request_id, length | bytes_20_27 << 32,
                       static_cast<uint32_t>(bytes_20_27 >> 32)};
}

inline uint32_t image_crc(const HeaderImage& im) {
    uint32_t crc = 0xFFFFFFFFu;
    crc = crc_step8(crc, im.w0);
    crc = crc_step8(crc, im.w1);
    crc = crc_step8(crc, im.w2);
    return crc_step4(crc, im.w3) ^ 0xFFFFFFFFu;
}

// Header fields as the packers take them; a negative async flag leaves byte 20 alone. Bytes
// 21-27 are read back from the buffer, as the CRC covers them as they stand.
inline void write_header(uint8_t* h, ContentType type, uint32_t message_id, uint64_t request_id,
                         uint32_t length, int async_flag) {
    uint64_t tail = wire::load_le<uint64_t>(h + PACKAGE_OFF_ASYNC_FLAG);
    if (async_flag >= 0) tail = (tail & ~uint64_t(0xFF)) | static_cast<uint8_t>(async_flag);
    const uint32_t lead = uint32_t(PACKAGE_HEAD_MARK) | uint32_t(PACKAGE_HEAD_MARK) << 8 |
                          uint32_t(PACKAGE_VERSION) << 16 | uint32_t(static_cast<uint8_t>(type)) << 24;
    const HeaderImage im = make_image(lead, message_id, request_id, length, tail);
    const uint32_t crc = image_crc(im);
    // the same words with the four fields turned big-endian
    wire::store_le(h, (im.w0 & 0xFFFFFFFFu) | uint64_t(wire::byteswap(message_id)) << 32);
    wire::store_le(h + 8, wire::byteswap(request_id));
    wire::store_le(h + 16, uint64_t(wire::byteswap(length)) | tail << 32);
    wire::store_le(h + 24, uint64_t(im.w3) | uint64_t(wire::byteswap(crc)) << 32);
}

inline int pack(PackageBuffer& buffer, ContentType type, uint32_t message_id, uint64_t request_id,
                const void* body, uint32_t length, int async_flag) {
    if (length > PACKAGE_MAX_BODY_LENGTH || (length != 0 && body == nullptr)) return PACK_REFUSED;
    uint8_t* const d = buffer.data;
    write_header(d, type, message_id, request_id, length, async_flag);
    if (length) std::memcpy(d + PACKAGE_HEADER_SIZE, body, length);
    d[PACKAGE_HEADER_SIZE + length] = PACKAGE_TAIL_MARK;
    d[PACKAGE_HEADER_SIZE + length + 1] = PACKAGE_TAIL_MARK;
    buffer.total_length = length + static_cast<uint32_t>(PACKAGE_FRAME_OVERHEAD);
    return 0;
}

void swap_fields(uint8_t* h) {
    wire::store_be(h + PACKAGE_OFF_MESSAGE_ID, wire::load_le<uint32_t>(h + PACKAGE_OFF_MESSAGE_ID));
    wire::store_be(h + PACKAGE_OFF_REQUEST_ID, wire::load_le<uint64_t>(h + PACKAGE_OFF_REQUEST_ID));
    wire::store_be(h + PACKAGE_OFF_BODY_LENGTH, wire::load_le<uint32_t>(h + PACKAGE_OFF_BODY_LENGTH));
    wire::store_be(h + PACKAGE_CRC_OFFSET, wire::load_le<uint32_t>(h + PACKAGE_CRC_OFFSET));
}

bool known_content_type(uint8_t t) {
    switch (static_cast<ContentType>(t)) {
        case ContentType::REQUEST:
        case ContentType::RESPONSE:
        case ContentType::PUSH:
        case ContentType::HEARTBEAT:
            return true;
    }
    return false;
}

}  // namespace

uint32_t calc_crc32(const void* data, std::size_t length) {
    if (length == 0 || data == nullptr) return 0;
    return crc_update(0xFFFFFFFFu, static_cast<const uint8_t*>(data), length) ^ 0xFFFFFFFFu;
}

int pack_request(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, const void* body,
                 uint32_t length, uint8_t async_flag) {
    return pack(buffer, ContentType::REQUEST, message_id, request_id, body, length, async_flag);
}

int pack_response(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, uint8_t async_flag,
                  const void* body, uint32_t length) {
    return pack(buffer, ContentType::RESPONSE, message_id, request_id, body, length, async_flag);
}

int pack_push(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, const void* body,
              uint32_t length) {
    return pack(buffer, ContentType::PUSH, message_id, request_id, body, length, -1);
}

int pack_heartbeat(PackageBuffer& buffer) {
    return pack(buffer, ContentType::HEARTBEAT, 0, 0, nullptr, 0, -1);
}

void header_hton(PackageHeader& header) { swap_fields(reinterpret_cast<uint8_t*>(&header)); }

void header_ntoh(PackageHeader& header) { swap_fields(reinterpret_cast<uint8_t*>(&header)); }

PackageStatus check_package(const PackageHeader& header) {
    if (!known_content_type(header.content_type)) return PackageStatus::UNKNOWN_CONTENT_TYPE;
    // rebuild the little-endian image the sender's CRC was taken over
    const auto* raw = reinterpret_cast<const uint8_t*>(&header);
    const HeaderImage im = make_image(wire::load_le<uint32_t>(raw), header.message_id, header.request_id,
                                      header.body_length, wire::load_le<uint64_t>(raw + PACKAGE_OFF_ASYNC_FLAG));
    if (image_crc(im) != header.crc) return PackageStatus::CRC_ERROR;
    return PackageStatus::OK;
}

PackageStatus parse_header(const void* data, std::size_t size, PackageHeader& out) {
    if (data == nullptr || size < PACKAGE_HEADER_SIZE) {
        std::memset(&out, 0, sizeof out);
        return PackageStatus::INVALID_PACKAGE;
    }
    std::memcpy(&out, data, sizeof out);
    header_ntoh(out);
    return check_package(out);
}

const char* status_name(PackageStatus status) {
    switch (status) {
        case PackageStatus::OK: return "OK";
        case PackageStatus::INVALID_PACKAGE: return "INVALID_PACKAGE";
        case PackageStatus::UNKNOWN_CONTENT_TYPE: return "UNKNOWN_CONTENT_TYPE";
        case PackageStatus::CRC_ERROR: return "CRC_ERROR";
        case PackageStatus::INVALID_SESSION_ID: return "INVALID_SESSION_ID";
        case PackageStatus::PACK_TAIL_NOT_FOUND: return "PACK_TAIL_NOT_FOUND";
    }
    return "UNKNOWN_ERROR";
}

const char* status_name(int status) { return status_name(static_cast<PackageStatus>(status)); }

int write_head_mark(void* out) {
    auto* p = static_cast<uint8_t*>(out);
    p[0] = PACKAGE_HEAD_MARK;
    p[1] = PACKAGE_HEAD_MARK;
    return 2;
}

int write_tail_mark(void* out) {
    auto* p = static_cast<uint8_t*>(out);
    p[0] = PACKAGE_TAIL_MARK;
    p[1] = PACKAGE_TAIL_MARK;
    return 2;
}

void hex_dump(const char* title, const void* data, int length) {
    const auto* p = static_cast<const uint8_t*>(data);
    std::printf("%s[%d]\n", title ? title : "", length);
    std::printf("-----------------------------\n");
    for (int i = 0; p && i < length; ++i) {
        std::printf("0x%02x,", p[i]);
        if ((i + 1) % 16 == 0) std::printf("\n");
    }
    std::printf("\n-----------------------------\n");
}

}  // namespace client
}  // namespace tcp_framework
