// Requests that overlap on purpose: the sim holds the answers of the next n requests of an id
// until all n are in flight, then lets them go in the order they were held, so a test meets the
// answers of overlapping requests without racing a clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "gateway_sim/GatewaySim.h"

namespace oxa_test {

// Runs send (which sends the n requests) and releases their answers once the sim holds all n;
// false when they were not all held in time.
inline bool AnswerTogether(oxa_sim::GatewaySim& sim, uint32_t msg_id, std::size_t n,
                           const std::function<void()>& send) {
    auto box = std::make_shared<oxa_sim::HeldAnswers>();
    for (std::size_t i = 0; i < n; ++i) sim.queue_reply(msg_id, oxa_sim::ReplyPlan::held(box));
    send();
    if (!box->wait_held(n, std::chrono::seconds(5))) return false;
    return box->release() == n;
}

}  // namespace oxa_test
