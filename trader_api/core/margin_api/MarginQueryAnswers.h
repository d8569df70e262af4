// Handlers of the margin query answers. Three families carry almost every answer: single-record
// answers behind a 19-byte head (the record passed on as received, after the byte-order
// conversion), classic paged answers behind a 31-byte head (one record per message, with the
// page counters), and extended paged answers behind a 56-byte head (public records built from
// each wire record, index i + 1, reference + 1). The IPO list, the other server's fund and the
// security answer have handlers of their own. No answer asks for a further page: the application
// asks for each page itself.
//
// Every read is bounded by the message: a head that promises more than the message holds drops
// the answer with -101; an extended answer delivers only the records that lie wholly inside it,
// of at least the size its records need, and a built record is zeroed for every record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/margin_api/MarginTradeDriver.h"

namespace OXA {
namespace API {
namespace MARGIN {

constexpr std::size_t kExtPageHeadSize = 56;  // CreditPageRspHeadEx

// Wire record sizes the handlers of their own and the extended family read.
constexpr std::size_t kIPOInfoWireSize = 104;           // 0x279, at 19
constexpr std::size_t kOtherServerFundWireSize = 412;   // 0x333, at 19
constexpr std::size_t kSecurityAnswerRecordAt = 32;     // 0x21025
constexpr std::size_t kPledgeStkRecordMin = 28;         // 0x21015: reference, market, ticker
constexpr std::size_t kTargetStkRecordMin = 36;         // 0x21017
constexpr std::size_t kSecurityRecordMin = 125;         // 0x21027: up to its position at 121
constexpr std::size_t kStkDebtRecordMin = 84;           // 0x21031: up to its reference at 76

// The query answer handlers.
HandlerSet QueryAnswerHandlers() noexcept;

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
