// The host facts the bus's groups depend on: interface netmasks (multicast is used only
// when every member lies in the own subnet), socket receive buffers, and the host's limits
// on socket buffers.
#pragma once

#include <cstdint>
#include <string>

namespace OXA {
namespace VORN {

class CVornSystem;

// The netmask (network order) of the interface that carries the IPv4 address ip, 0 when
// none does or the address is no address. Interfaces are examined from the last to the first.
uint32_t GetInterfaceNetmask(const char* ip);
// 1 when an interface carries the IPv4 address ip, else 0.
int IsLocalAddress(const char* ip);
// True when a and b (IPv4 text) lie in one subnet under mask (network order).
bool SameSubnet(const char* a, const char* b, uint32_t mask);

// Asks for a receive buffer of bytes on fd: SO_RCVBUFFORCE first (it may pass the host's
// limit), SO_RCVBUF when that is refused; logs and returns the size the kernel reports.
int SetReceiveBuffer(CVornSystem& system, int fd, int bytes);

// Raising the host's rmem_max and wmem_max so the large receive buffers take effect. Off
// unless asked for: it changes a setting of the whole host and needs the rights to. The
// files are read and written directly (no shell, no temporary files).
struct SocketBufferTuning {
    bool enabled = false;
    std::string rmem_max_path = "/proc/sys/net/core/rmem_max";
    std::string wmem_max_path = "/proc/sys/net/core/wmem_max";
};

// The limit a member with this svr_type wants: 67,108,864 for a server group ('0'),
// 16,777,216 otherwise; a current value of at least that, or one that cannot be read
// (0 or less), is left alone. Returns the value to write, 0 for none.
int64_t WantedBufferLimit(char svr_type, int64_t current);
// Applies the tuning to both files; logs what was read and written. Does nothing when off.
void TuneHostSocketBuffers(CVornSystem& system, char svr_type, const SocketBufferTuning& tuning);

}  // namespace VORN
}  // namespace OXA
