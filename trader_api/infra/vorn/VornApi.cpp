#include "infra/vorn/VornApi.h"

#include <cstring>

#include "infra/utility/AnswerWait.h"
#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

CVornSystem& VornProcessSystem() {
    static CVornSystem* system = new CVornSystem();  // lives for the process: see the header
    return *system;
}

uint8_t VornInit(int16_t group_id, int16_t member_id, const char* coordinator_ip, int coordinator_port,
                 int log_level, const char* base_path, VornDeliverCallback deliver, const char* date, int jam_wait,
                 VornStateCallback state, int run_mode, void* user_data) {
    VornLaunchArgs a;
    a.group_id = group_id;
    a.member_id = member_id;
    a.coordinator_ip = coordinator_ip;
    a.coordinator_port = static_cast<uint16_t>(coordinator_port);
    a.log_level = log_level;
    a.base_path = base_path;
    a.deliver = deliver;
    a.date = date;
    a.jam_wait_us = jam_wait;
    a.state = state;
    a.run_mode = run_mode;
    a.user_data = user_data;
    return VornProcessSystem().Launch(a);
}

uint8_t VornSendMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t dst_group,
                    int16_t dst_member, bool broadcast, uint16_t partition) {
    return VornProcessSystem().SendMsg(tag, msg_id, data, length, dst_group, dst_member, broadcast, partition);
}

uint8_t VornRouteMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t dst_group,
                     int16_t dst_member, bool broadcast) {
    return VornProcessSystem().RouteMsg(tag, msg_id, data, length, dst_group, dst_member, broadcast);
}

void VornSetThreadCpu(const char* key, int core) { VornProcessSystem().SetThreadCpu(key, core); }

void VornSetEtherName(const char* name) { VornProcessSystem().SetEtherName(name); }

void VornStop() { VornProcessSystem().Stop(); }

void VornAppendToLastMsg(const uint8_t* message, const void* extra, uint32_t length) {
    AppendToLastMsg(VornProcessSystem(), message, extra, length);
}

const char* VornGetVersion() { return kVornVersionText; }

int VornGetDate() { return VornProcessSystem().Date(); }

int VornGetLocalIp(char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    CVornSystem& sys = VornProcessSystem();
    if (!sys.Launched()) return 0;
    API::CopyText(buffer, static_cast<std::size_t>(size), sys.Identity().ip, sizeof sys.Identity().ip);
    return 1;
}

int VornGetLocalPort() {
    CVornSystem& sys = VornProcessSystem();
    return sys.Launched() ? sys.Identity().port : 0;
}

bool VornIsMaster() { return VornProcessSystem().DeviceIdentity() == 1; }

int VornSwap16(int value) {
    const uint32_t v = static_cast<uint32_t>(value);
    const uint32_t low = ((v & 0xFFu) << 8) | ((v >> 8) & 0xFFu);
    return static_cast<int>((v & 0xFFFF0000u) | low);
}

uint32_t VornSwap32(uint32_t value) { return __builtin_bswap32(value); }

uint64_t VornSwap64(uint64_t value) { return __builtin_bswap64(value); }

double VornSwapDouble(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    bits = __builtin_bswap64(bits);
    double out = 0;
    std::memcpy(&out, &bits, sizeof out);
    return out;
}

}  // namespace VORN
}  // namespace OXA
