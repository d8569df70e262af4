// The margin server's live reports of the order path: order status 0x228, trades 0x229, cancel
// answers 0x258 and the answers 0x231, 0x233, 0x235 and 0x31b to transfers, repayments and
// credit requests. Each starts with a 16-byte push head; the record after it names its order id,
// whose session is the report's. Every report passes the push sequence filter before it reaches
// the application, so one the server repeats is delivered once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/margin_api/MarginTradeDriver.h"

namespace OXA {
namespace API {
namespace MARGIN {

constexpr std::size_t kOrderPushSize = 284;       // push head, OXAOrderInfo, error record
constexpr std::size_t kOrderPushLongSize = 348;   // the same with 64 more bytes
constexpr std::size_t kTradePushSize = 147;       // push head, OXATradeReport
constexpr std::size_t kCancelAnswerSize = 160;    // push head, OXAOrderCancelInfo, error record

// The record size of an order-path answer (0 for another id).
std::size_t OrderPathRecordSize(uint32_t msg_id) noexcept;

// The handlers of the live reports.
HandlerSet PushHandlers() noexcept;

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
