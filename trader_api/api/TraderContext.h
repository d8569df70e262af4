// What a gateway connection (and the bus) carries back to the facade with every message.
#pragma once

#include <atomic>
#include <cstdint>

#include "api/PushRegistry.h"

namespace OXA {
namespace API {

class TraderImpl;

struct TraderContext {
    // A business never logged in through this connection has no node yet.
    static constexpr int32_t kNoNode = -1;

    explicit TraderContext(TraderImpl* o) : owner(o) {
        for (auto& n : node_ids) n.store(kNoNode, std::memory_order_relaxed);
    }

    TraderImpl* owner;
    // By business index (0 spot, 1 margin, 2 option): node of the last session of that
    // business logged in through this connection.
    std::atomic<int32_t> node_ids[3];

    // The push registrations of the connection's accounts (unused on the bus).
    PushRegistry push;
    // The link the frame being handed on was read from: written and read on the connection's
    // io thread only.
    uint64_t delivering_link = 0;
};

}  // namespace API
}  // namespace OXA
