// What the bus hands back to its user with every delivered message and state change.
#pragma once

#include <cstdint>

namespace OXA {
namespace VORN {

// The source of a delivered message: one per known peer, built when the windows are set up
// and valid for the life of the bus (one on the stack during playback, valid for the call).
struct VornMsgSource {
    uint8_t reserved = 0;
    int16_t group_id = -1;      // -1 in playback markers
    int16_t member_id = -1;     // -1 in playback markers
    void* user_data = nullptr;  // the launch's user data
    int16_t partition_id = -1;  // -1 in playback markers
    const void* extra_data = nullptr;  // playback only
    int16_t extra_length = 0;          // playback only
};

// (tag, message id sign-extended, data, data length, 0 live / 1 replayed, source valid only
// during the call)
using VornDeliverCallback = void (*)(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length,
                                     uint64_t playback, const VornMsgSource* source);
// (device identity 1 master / 2 standby, user data)
using VornStateCallback = void (*)(uint64_t identity, uint64_t user_data);

}  // namespace VORN
}  // namespace OXA
