#include "api/GatewayMessages.h"

#include <cstring>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

namespace {
constexpr std::size_t kLoginRspFieldsEnd = 37;  // through the business type
}

void PackGatewayLoginReq(uint8_t* out, uint64_t fund_account, const char* password, int sock_type,
                         const char* terminal_info, uint16_t client_id) noexcept {
    std::memset(out, 0, kGatewayLoginReqSize);
    WireWriter w(out, kGatewayLoginReqSize);
    w.write_le<uint64_t>(fund_account);
    CopyText(reinterpret_cast<char*>(out + 8), kGatewayPasswordMax + 1, password, kGatewayPasswordMax);
    w.seek(520);
    w.write_le<uint16_t>(sock_type == 1 ? 1 : 2);
    w.write_le<uint8_t>(2);
    w.write_le<uint32_t>(kGatewayApiVersion);
    w.seek(530);
    w.write_le<uint8_t>(1);
    CopyText(reinterpret_cast<char*>(out + 531), 256, terminal_info, 255);
    CopyText(reinterpret_cast<char*>(out + 787), 64, "API", 3);
    w.seek(851);
    w.write_le<uint16_t>(client_id);
    w.write_le<uint32_t>(0);
}

bool ReadGatewayLoginRsp(const void* body, std::size_t length, GatewayLoginRsp* out) noexcept {
    *out = GatewayLoginRsp{};
    if (body == nullptr || length < kLoginRspFieldsEnd) return false;
    WireReader r(body, length);
    r.read_le(out->fundid);
    r.read_le(out->protocol_mod);
    r.read_le(out->error_code);
    r.read_bytes(out->hqtrs_ip, 16);
    out->hqtrs_ip[16] = '\0';
    r.read_le(out->hqtrs_port);
    r.read_le(out->group_id);
    r.read_le(out->member_id);
    r.read_le(out->nFuncType);
    if (!r.ok()) return false;
    WireReader tail(body, length);
    if (tail.seek(552)) tail.read_le(out->option_value);  // 0 when the answer stops short of it
    std::memcpy(out->raw, body, length < kGatewayLoginRspSize ? length : kGatewayLoginRspSize);
    return true;
}

void PackLogoutReq(uint8_t* out, uint64_t fund_account, uint16_t protocol_type, uint16_t client_id) noexcept {
    std::memset(out, 0, kLogoutReqSize);
    WireWriter w(out, kLogoutReqSize);
    w.write_le<uint64_t>(fund_account);
    w.write_le<uint16_t>(protocol_type);
    w.write_le<uint16_t>(client_id);
}

bool ReadLogoutRsp(const void* body, std::size_t length, LogoutRsp* out) noexcept {
    *out = LogoutRsp{};
    WireReader r(body, length);
    r.read_le(out->fundid);
    r.skip(4);
    r.read_le(out->error);
    return r.ok();
}

bool ReadOfflineCmd(const void* body, std::size_t length, OfflineCmd* out) noexcept {
    *out = OfflineCmd{};
    WireReader r(body, length);
    r.read_le(out->request_id);
    r.read_le(out->trading_day);
    return r.ok();
}

}  // namespace API
}  // namespace OXA
