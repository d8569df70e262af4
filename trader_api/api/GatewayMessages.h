// The gateway's own messages: login, push registration, logout and the off-line command.
// Little-endian, texts NUL-padded; every answer is read within its length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace API {

constexpr uint32_t FUNC_ID_LOGIN = 0xf0001;
constexpr uint32_t FUNC_ID_PUSH_REG = 0xf0002;
constexpr uint32_t FUNC_ID_LOGOUT_REQ = 0xf0007;
constexpr uint32_t FUNC_ID_LOGOUT_RSP = 0xf0008;
constexpr uint32_t FUNC_ID_API_OFFLINE = 0xf000c;

constexpr uint16_t PROTOCOL_MODE_TCP_GATEWAY = 1;
constexpr uint16_t PROTOCOL_MODE_UDP_VORN = 2;

constexpr std::size_t kGatewayLoginReqSize = 857;
constexpr std::size_t kGatewayLoginRspSize = 577;
constexpr std::size_t kGatewayPasswordMax = 511;
constexpr uint32_t kGatewayApiVersion = 0x02230100;
constexpr std::size_t kLogoutReqSize = 12;
constexpr std::size_t kLogoutRspMinSize = 16;
constexpr std::size_t kOfflineMinSize = 16;

// Fields of the gateway login answer the library reads, and the whole answer as it came.
struct GatewayLoginRsp {
    uint64_t fundid = 0;
    uint16_t protocol_mod = 0;
    int32_t error_code = 0;
    char hqtrs_ip[17] = {};  // 16 bytes on the wire, always terminated here
    uint16_t hqtrs_port = 0;
    uint16_t group_id = 0;
    uint16_t member_id = 0;
    uint8_t nFuncType = 0;
    uint64_t option_value = 0;  // offset 552, handed on by the option back-end
    uint8_t raw[kGatewayLoginRspSize] = {};
};

// Builds the 857-byte login request into out (zeroed first). The password is cut at
// 511 characters; a null password is empty.
void PackGatewayLoginReq(uint8_t* out, uint64_t fund_account, const char* password, int sock_type,
                         const char* terminal_info, uint16_t client_id) noexcept;

// False when the answer is too short for the fields read (through the business type).
bool ReadGatewayLoginRsp(const void* body, std::size_t length, GatewayLoginRsp* out) noexcept;

void PackLogoutReq(uint8_t* out, uint64_t fund_account, uint16_t protocol_type, uint16_t client_id) noexcept;

struct LogoutRsp {
    uint64_t fundid = 0;
    int32_t error = 0;
};
bool ReadLogoutRsp(const void* body, std::size_t length, LogoutRsp* out) noexcept;

struct OfflineCmd {
    uint64_t request_id = 0;
    uint64_t trading_day = 0;
};
bool ReadOfflineCmd(const void* body, std::size_t length, OfflineCmd* out) noexcept;

}  // namespace API
}  // namespace OXA
