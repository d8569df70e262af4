#include "core/option_api/OptConvert.h"

namespace OXA {
namespace API {
namespace OPT {

namespace {
constexpr int32_t kPriceTypeUnknown = 11;
constexpr uint8_t kSideUnknown = 50;
constexpr uint8_t kEffectUnknown = 12;
constexpr int32_t kStatusUnknown = 7;
}  // namespace

int32_t ConvertPriceType(char first, char second) noexcept {
    struct Pair {
        char first, second;
        int32_t type;
    };
    static constexpr Pair kPairs[] = {{'2', '0', 1}, {'1', '3', 2}, {'K', '0', 3}, {'5', '3', 4},
                                      {'1', '4', 5}, {'4', '0', 6}, {'6', '0', 7}, {'2', '4', 8}};
    for (const Pair& p : kPairs)
        if (p.first == first && p.second == second) return p.type;
    return kPriceTypeUnknown;
}

int32_t OrderStatusTable(char status) noexcept {
    // '0' to 'A'; the seven codes between '9' and 'A' are unknown
    static constexpr int32_t kTable[] = {0, 0, 4, 7, 2, 3, 5, 3, 1, 6, 7, 7, 7, 7, 7, 7, 7, 4};
    if (status < '0' || status > 'A') return kStatusUnknown;
    return kTable[status - '0'];
}

uint8_t SingleLegSide(char side, char covered) noexcept {
    switch (side) {
        case '1': return covered == '1' ? 11 : 1;
        case '2': return covered == '1' ? 11 : 2;
        case 'B': return 31;
        case 'C': return 32;
        case 'Y':
        case 'Z': return 12;
        default: return kSideUnknown;
    }
}

uint8_t CombinationSide(char side, char flag) noexcept {
    switch (side) {
        case '1': return 1;
        case '2': return 2;
        case 'B': return 31;
        case 'C': return flag == '1' ? 33 : 32;
        case 'Y':
        case 'Z': return 12;
        default: return kSideUnknown;
    }
}

uint8_t PositionEffect(char effect) noexcept {
    return effect == 'O' ? 1 : effect == 'C' ? 2 : kEffectUnknown;
}

uint8_t LockPositionEffect(char effect) noexcept {
    return effect == 'Z' ? 1 : effect == 'Y' ? 2 : kEffectUnknown;
}

int32_t TransferType(char side) noexcept { return side == '1' ? 3 : side == '2' ? 2 : 4; }

LegCodes CombinationLeg(char side, char covered) noexcept {
    if (covered == '1') return LegCodes{3, 1};
    return LegCodes{side == 'L' ? 1 : 2, 0};
}

int32_t ContractType(char call_or_put) noexcept { return call_or_put == 'C' ? 1 : 2; }

int32_t QryPriceTypeTable(int32_t code) noexcept {
    switch (code) {
        case 121: return 4;
        case 122: return 5;
        case 123: return 6;
        case 124: return 7;
        case 125: return 2;
        case 130: return 1;
        case 131: return 8;
        case 132: return 3;
        case 133: return 5;
        case 134: return 2;
        default: return kPriceTypeUnknown;  // 126 to 129 included
    }
}

uint8_t QrySide(int32_t business_code) noexcept {
    static constexpr uint8_t kSides[] = {1, 2, 2, 1, 11, 11};
    if (business_code < 400 || business_code > 405) return kSideUnknown;
    return kSides[business_code - 400];
}

uint8_t QryPositionEffect(int32_t business_code) noexcept {
    static constexpr uint8_t kEffects[] = {1, 2, 1, 2, 1, 2};
    if (business_code < 400 || business_code > 405) return kEffectUnknown;
    return kEffects[business_code - 400];
}

uint8_t QryBusinessTypeTable(int32_t business_code) noexcept {
    switch (business_code) {
        case 406:
        case 407: return 11;
        case 408:
        case 409: return 12;
        case 429: return 15;
        case 435:
        case 436: return 13;
        default: return 10;
    }
}

int32_t PositionDirection(char direction) noexcept {
    switch (direction) {
        case 'L': return 1;
        case 'S': return 2;
        case 'C': return 3;
        default: return 0;
    }
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
