#include "core/spot_api/SpotTradeDriver.h"

#include <spdlog/spdlog.h>

#include "api/SessionTables.h"
#include "core/spot_api/SpotConvert.h"

namespace OXA {
namespace API {
namespace SPOT {

namespace {

// Constant-initialised: the table sits in zero pages from load to exit and is never
// destroyed, so a receive thread still running at exit never meets a destroyed table.
CTradeDriver g_driver;
std::atomic<CInnerApiInterface*> g_innerApi{nullptr};
std::atomic<TraderSpi*> g_traderSpi{nullptr};

}  // namespace

void CTradeDriver::RegisterHandlers(const HandlerBinding* bindings, std::size_t count) noexcept {
    m_table.Clear();
    m_table.BindAll(bindings, count);
}

bool CTradeDriver::Bind(uint32_t msg_id, RecvHandFunc handler, uint32_t min_len) noexcept {
    return m_table.Bind(msg_id, handler, min_len);
}

void CTradeDriver::EmptyHandlers() noexcept { m_table.Clear(); }

RecvHandFunc CTradeDriver::GetHandler(uint32_t msg_id) const noexcept { return m_table.Get(msg_id); }

uint32_t CTradeDriver::GetMinLen(uint32_t msg_id) const noexcept { return m_table.MinLen(msg_id); }

void CTradeDriver::onRecv(int seq, int32_t msg_id, const char* data, int len, int playback, bool byte_order,
                          int16_t src_group, int16_t src_member, uint32_t node_id) noexcept {
    m_table.Dispatch(*this, kDriverSource, seq, msg_id, data, len, playback, byte_order, src_group, src_member,
                     node_id);
}

void CTradeDriver::onNotify(int flag) noexcept { spdlog::info("{} Flag[{}]", "onNotify", flag); }

CTradeDriver& GetTradeDriver() noexcept { return g_driver; }

void InitTradeDriver(const HandlerBinding* bindings, std::size_t count) noexcept {
    g_driver.RegisterHandlers(bindings, count);
}

void SetInnerApi(CInnerApiInterface* api) noexcept { g_innerApi.store(api, std::memory_order_release); }
CInnerApiInterface* GetInnerApi() noexcept { return g_innerApi.load(std::memory_order_acquire); }
void SetTraderSpi(TraderSpi* spi) noexcept { g_traderSpi.store(spi, std::memory_order_release); }
TraderSpi* GetTraderSpi() noexcept { return g_traderSpi.load(std::memory_order_acquire); }

const tagSessionInfo* FindAnswerSession(uint32_t node_id, uint64_t session_no) noexcept {
    return _gArrSessionByNo.Get(node_id, session_no);
}

const tagSessionInfo* GetAnswerSession(uint32_t node_id, uint64_t session_no) noexcept {
    const tagSessionInfo* info = FindAnswerSession(node_id, session_no);
    if (info == nullptr) spdlog::error("ptr_session_info_spot == NULL {}", session_no);
    return info;
}

void LogShortMessage(const char* handler, uint32_t msg_id, std::size_t len, std::size_t need) noexcept {
    spdlog::error("[{}] MsgID[0x{:02x}] MsgLen[{}] shorter than its record [{}], dropped", handler ? handler : "",
                  msg_id, len, need);
}

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
