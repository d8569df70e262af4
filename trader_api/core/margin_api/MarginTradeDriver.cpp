#include "core/margin_api/MarginTradeDriver.h"

#include <spdlog/spdlog.h>

#include "core/margin_api/MarginTraderImpl.h"

namespace OXA {
namespace API {
namespace MARGIN {

namespace {

// Constant-initialised: zero pages from load to exit, never destroyed.
CTradeDriver g_driver;
std::atomic<MarginTraderImpl*> g_innerApi{nullptr};
std::atomic<TraderSpi*> g_traderSpi{nullptr};

}  // namespace

void CTradeDriver::RegisterHandlers(std::initializer_list<HandlerSet> sets) noexcept {
    m_table.Clear();
    for (const HandlerSet& set : sets) m_table.BindAll(set.bindings, set.count);
}

void CTradeDriver::onNotify(int flag) noexcept { spdlog::info("{} Flag[{}]", "onNotify", flag); }

CTradeDriver& GetTradeDriver() noexcept { return g_driver; }

void InitTradeDriver(std::initializer_list<HandlerSet> sets) noexcept { g_driver.RegisterHandlers(sets); }

void SetInnerApi(MarginTraderImpl* api) noexcept { g_innerApi.store(api, std::memory_order_release); }
CInnerApiInterface* GetInnerApi() noexcept { return g_innerApi.load(std::memory_order_acquire); }
MarginTraderImpl* GetMarginApi() noexcept { return g_innerApi.load(std::memory_order_acquire); }
void SetTraderSpi(TraderSpi* spi) noexcept { g_traderSpi.store(spi, std::memory_order_release); }
TraderSpi* GetTraderSpi() noexcept { return g_traderSpi.load(std::memory_order_acquire); }

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
