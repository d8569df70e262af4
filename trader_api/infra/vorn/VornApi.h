// The bus's entry points: C-style functions over the process's one bus member.
//
// The member is made on first use and never destroyed, so a bus thread that still runs while
// the process exits never meets a destroyed member; VornStop ends its threads (the trading
// API calls it at exit). VornSendMsg answers 1 only when at least one member took the
// message, so a send that reached nobody (every peer abandoned, no group to take the id,
// not launched) is a failed send; an abandoned peer is asked again about once a second and
// is used again as soon as it answers.
#pragma once

#include <cstdint>

#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {

class CVornSystem;

// The process's bus member.
CVornSystem& VornProcessSystem();

// 1 launched, 0 failed (logged; nothing of the attempt is left running, so it may be tried
// again). See VornLaunchArgs for the arguments.
uint8_t VornInit(int16_t group_id, int16_t member_id, const char* coordinator_ip, int coordinator_port,
                 int log_level, const char* base_path, VornDeliverCallback deliver, const char* date, int jam_wait,
                 VornStateCallback state, int run_mode, void* user_data);
// 1 when at least one member took the message; 0 before a launch, for a refused message
// (null data with a length, over 1371 bytes, an id the bus does not route) or when nobody
// took it.
uint8_t VornSendMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t dst_group,
                    int16_t dst_member, bool broadcast, uint16_t partition);
// The same checks, routed with the device identity in the partition's place.
uint8_t VornRouteMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t dst_group,
                     int16_t dst_member, bool broadcast);
// Before the launch: the core of one thread by its key; another key is ignored.
void VornSetThreadCpu(const char* key, int core);
// Before the launch: the network device every bus socket binds to (null or empty ignored).
void VornSetEtherName(const char* name);
// Ends a launched bus: sends are refused, what was received is delivered, every thread is
// joined, and the bus may be launched again. Refused on the deliver thread (a callback cannot
// wait for itself).
void VornStop();

// Storage only: appends 1 to 32 extra bytes behind the last stored record, when message is
// the data pointer the deliver callback got for that record; called from the deliver
// callback (another thread, a length outside 1..32, a null argument or a message that is
// not the last stored one changes nothing).
void VornAppendToLastMsg(const uint8_t* message, const void* extra, uint32_t length);

const char* VornGetVersion();
// The launch date when given, else the coordinator's date (0 before a launch).
int VornGetDate();
// Clears buffer; once launched copies the own IPv4 text (at most size - 1 characters) and
// returns 1, else 0.
int VornGetLocalIp(char* buffer, int size);
int VornGetLocalPort();
bool VornIsMaster();

// Byte swaps: the low 16 bits of value (its upper half kept), 32 and 64 bits, a double.
int VornSwap16(int value);
uint32_t VornSwap32(uint32_t value);
uint64_t VornSwap64(uint64_t value);
double VornSwapDouble(double value);

}  // namespace VORN
}  // namespace OXA
