// Handlers of the spot pushes: order reports, cancel rejections, trades, fund-transfer
// results and holding changes, live or replayed by the synchronisation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/spot_api/SpotTradeDriver.h"

namespace OXA {
namespace API {
namespace SPOT {

constexpr std::size_t kCancelErrorPushSize = 122;
constexpr std::size_t kFundTransferPushSize = 99;
constexpr std::size_t kHoldingChangePushSize = 67;

// The push handlers with the length each reads.
const HandlerBinding* PushHandlers(std::size_t* count) noexcept;

// The shared sequence-number filter (api_common/PushSeqFilter.h), after spot's "Recv Push
// SeqNo" line.
bool AcceptPushSeq(uint64_t session_id, int seq) noexcept;

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
