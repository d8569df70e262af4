// Handlers of the spot query answers: each finds the answer's session, converts every wire
// record that lies wholly inside the message into its public record and calls the
// application once per record. The ETF-basket and IPO lists ask for their next page
// themselves while the server's start position advances.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api_common/QueryPaging.h"
#include "core/spot_api/SpotTradeDriver.h"

namespace OXA {
namespace API {
namespace SPOT {

// Heads of the three answer families.
constexpr std::size_t kRspHeadSize = 17;
constexpr std::size_t kPageRspHeadSize = 33;
constexpr std::size_t kExtRspHeadSize = 56;

// Wire record sizes the handlers read.
constexpr std::size_t kPositionRecordSize = 78;
constexpr std::size_t kAssetRecordSize = 101;
constexpr std::size_t kFundRecordSize = 69;
constexpr std::size_t kFundTransferRecordSize = 83;
constexpr std::size_t kOtherServerFundRecordSize = 69;
constexpr std::size_t kETFRecordSize = 100;
constexpr std::size_t kETFBasketBodySize = 55;
constexpr std::size_t kIPOInfoBodySize = 116;
constexpr std::size_t kIPOInfoStride = 120;
constexpr std::size_t kIPOQuotaRecordSize = 43;
constexpr std::size_t kIssueRecordSize = 36;
constexpr std::size_t kSecurityRecordSize = 119;
constexpr std::size_t kSpreadRecordSize = 24;

// Next-page requests of the self-continuing lists.
constexpr uint32_t kMsgQueryETFBasketReq = 0x20026;
constexpr uint32_t kMsgQueryIPOInfoListReq = 0x20030;
constexpr std::size_t kETFBasketReqSize = 57;
constexpr std::size_t kIPOInfoListReqSize = 48;
constexpr int32_t kNextPageRecords = 200;

// Pages one self-continuing query may ask for before it is ended.
constexpr uint32_t kDefaultContinuePageLimit = PageContinuation::kDefaultPageLimit;
void SetContinuePageLimit(uint32_t pages) noexcept;
uint32_t GetContinuePageLimit() noexcept;

// The answer handlers with the head length each reads.
const HandlerBinding* QueryAnswerHandlers(std::size_t* count) noexcept;

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
