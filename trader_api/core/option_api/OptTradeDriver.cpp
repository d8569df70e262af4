#include "core/option_api/OptTradeDriver.h"

#include <spdlog/spdlog.h>

#include <atomic>

namespace OXA {
namespace API {
namespace OPT {

namespace {
constexpr const char* kDriverSource = "trader_api/core/option_api/CTradeDriver";

CTradeDriver g_driver;
std::atomic<OptionTraderImpl*> g_innerApi{nullptr};
std::atomic<TraderSpi*> g_traderSpi{nullptr};
}  // namespace

void CTradeDriver::onRecv(int, int16_t msg_id, const char*, int length, int, bool byte_order, int16_t src_group,
                          int16_t src_member, uint32_t) {
    spdlog::trace("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] SrcGroup[{}] SrcMember[{}]  ByteOrder[{}]", kDriverSource,
                  "onRecv", static_cast<uint16_t>(msg_id), length, src_group, src_member, byte_order);
}

CTradeDriver& GetTradeDriver() { return g_driver; }
void InitTradeDriver() {}

int SetInnerApi(OptionTraderImpl* api) {
    g_innerApi.store(api, std::memory_order_release);
    return 0;
}
OptionTraderImpl* GetInnerApi() { return g_innerApi.load(std::memory_order_acquire); }
void SetTraderSpi(TraderSpi* spi) { g_traderSpi.store(spi, std::memory_order_release); }
TraderSpi* GetTraderSpi() { return g_traderSpi.load(std::memory_order_acquire); }

}  // namespace OPT
}  // namespace API
}  // namespace OXA
