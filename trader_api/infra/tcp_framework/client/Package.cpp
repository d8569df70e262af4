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

inline uint32_t crc_update(uint32_t crc, const uint8_t* p, std::size_t n) {
    while (n >= 8) {
        const uint32_t lo = wire::load_le<uint32_t>(p) ^ crc;
        const uint32_t hi = wire::load_le<uint32_t>(p + 4);
        crc = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
              kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^ kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) crc = kCrc[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// Header fields as the packers take them; a null async flag leaves byte 20 alone.
void write_header(uint8_t* h, ContentType type, uint32_t message_id, uint64_t request_id, uint32_t length,
                  const uint8_t* async_flag) {
    h[0] = PACKAGE_HEAD_MARK;
    h[1] = PACKAGE_HEAD_MARK;
    h[2] = PACKAGE_VERSION;
    h[PACKAGE_OFF_CONTENT_TYPE] = static_cast<uint8_t>(type);
    if (async_flag) h[PACKAGE_OFF_ASYNC_FLAG] = *async_flag;
    // the CRC covers the little-endian image
    wire::store_le(h + PACKAGE_OFF_MESSAGE_ID, message_id);
    wire::store_le(h + PACKAGE_OFF_REQUEST_ID, request_id);
    wire::store_le(h + PACKAGE_OFF_BODY_LENGTH, length);
    const uint32_t crc = calc_crc32(h, PACKAGE_CRC_OFFSET);
    wire::store_be(h + PACKAGE_OFF_MESSAGE_ID, message_id);
    wire::store_be(h + PACKAGE_OFF_REQUEST_ID, request_id);
    wire::store_be(h + PACKAGE_OFF_BODY_LENGTH, length);
    wire::store_be(h + PACKAGE_CRC_OFFSET, crc);
}

int pack(PackageBuffer& buffer, ContentType type, uint32_t message_id, uint64_t request_id, const void* body,
         uint32_t length, const uint8_t* async_flag) {
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
    return pack(buffer, ContentType::REQUEST, message_id, request_id, body, length, &async_flag);
}

int pack_response(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, uint8_t async_flag,
                  const void* body, uint32_t length) {
    return pack(buffer, ContentType::RESPONSE, message_id, request_id, body, length, &async_flag);
}

int pack_push(PackageBuffer& buffer, uint32_t message_id, uint64_t request_id, const void* body,
              uint32_t length) {
    return pack(buffer, ContentType::PUSH, message_id, request_id, body, length, nullptr);
}

int pack_heartbeat(PackageBuffer& buffer) {
    return pack(buffer, ContentType::HEARTBEAT, 0, 0, nullptr, 0, nullptr);
}

void header_hton(PackageHeader& header) { swap_fields(reinterpret_cast<uint8_t*>(&header)); }

void header_ntoh(PackageHeader& header) { swap_fields(reinterpret_cast<uint8_t*>(&header)); }

PackageStatus check_package(const PackageHeader& header) {
    if (!known_content_type(header.content_type)) return PackageStatus::UNKNOWN_CONTENT_TYPE;
    uint8_t image[PACKAGE_HEADER_SIZE];
    std::memcpy(image, &header, sizeof image);
    // rebuild the little-endian image the sender's CRC was taken over
    wire::store_le(image + PACKAGE_OFF_MESSAGE_ID, header.message_id);
    wire::store_le(image + PACKAGE_OFF_REQUEST_ID, header.request_id);
    wire::store_le(image + PACKAGE_OFF_BODY_LENGTH, header.body_length);
    if (calc_crc32(image, PACKAGE_CRC_OFFSET) != header.crc) return PackageStatus::CRC_ERROR;
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
