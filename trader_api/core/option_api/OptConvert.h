// The option wire codes and what the public records make of them: the character pairs and
// characters of the pushes, and the numeric codes of the query rows. Every function is a fixed
// table; a code outside it gives the interface's fallback (price type 11, side 50, position
// effect 12, order status 7, transfer type 4) without a log line.
#pragma once

#include <cstdint>

namespace OXA {
namespace API {
namespace OPT {

// Price-type character pair of a push → Ord_Type.
int32_t ConvertPriceType(char first, char second) noexcept;
// Order status character → OrderStatusType.
int32_t OrderStatusTable(char status) noexcept;
// Side of a single-leg order: side character and covered flag → SIDE_TYPE.
uint8_t SingleLegSide(char side, char covered) noexcept;
// Side of a combination: side character and the combination flag → SIDE_TYPE.
uint8_t CombinationSide(char side, char flag) noexcept;
// 'O' 1, 'C' 2, else 12.
uint8_t PositionEffect(char effect) noexcept;
// Lock and unlock answers: 'Z' 1, 'Y' 2, else 12.
uint8_t LockPositionEffect(char effect) noexcept;
// Transfer side character: '1' 3, '2' 2, else 4.
int32_t TransferType(char side) noexcept;

// A combination leg: covered character '1' gives covered 1 and side 3, else side 1 for 'L'
// and 2 for any other; call-or-put 'C' gives 1, else 2.
struct LegCodes {
    int32_t side;
    int32_t covered;
};
LegCodes CombinationLeg(char side, char covered) noexcept;
int32_t ContractType(char call_or_put) noexcept;

// Query rows: price-type code (121 to 134) → Ord_Type.
int32_t QryPriceTypeTable(int32_t code) noexcept;
// Business code (400 to 405) → side and position effect.
uint8_t QrySide(int32_t business_code) noexcept;
uint8_t QryPositionEffect(int32_t business_code) noexcept;
// Business code → BusinessType.
uint8_t QryBusinessTypeTable(int32_t business_code) noexcept;
// Position direction character: 'L' 1, 'S' 2, 'C' 3, any other 0.
int32_t PositionDirection(char direction) noexcept;

}  // namespace OPT
}  // namespace API
}  // namespace OXA
