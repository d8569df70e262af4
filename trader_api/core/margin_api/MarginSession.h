// The margin session's part of the driver: its handlers, and the replay of one
// synchronisation answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/margin_api/MarginTradeDriver.h"

namespace OXA {
namespace API {
namespace MARGIN {

// The handlers of the init answer 0x204, the synchronisation answer 0x21101 and the package
// flow 0x206.
HandlerSet SessionHandlers() noexcept;

// What one synchronisation answer tells the passes.
struct SyncPass {
    uint32_t last_seq = 0;  // of the answer's last replayed record; 0 without records
    bool ended = false;     // its count differs from the number it was asked for
};

// Replays the records of a synchronisation answer (read in host order, never converted) that
// lie wholly inside it, each through OnSyncPushReport. False, with nothing replayed, when the
// answer is shorter than its head.
bool ReplaySyncAnswer(CTradeDriver& driver, const char* data, std::size_t len, SyncPass* out) noexcept;
// What the same answer tells the passes, without replaying anything.
bool ReadSyncAnswer(const char* data, std::size_t len, SyncPass* out) noexcept;

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
