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
    EmptyHandlers();
    if (bindings == nullptr) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (!Bind(bindings[i].msg_id, bindings[i].handler, bindings[i].min_len)) {
            spdlog::error("[{}] MsgID[0x{:02x}] beyond the handler table, not bound", "RegisterHandlers",
                          bindings[i].msg_id);
        }
    }
}

bool CTradeDriver::Bind(uint32_t msg_id, RecvHandFunc handler, uint32_t min_len) noexcept {
    if (msg_id >= kHandlerCount) return false;
    // the length first, so a reader that sees the new handler also sees its length
    m_minLen[msg_id].store(handler ? min_len : 0, std::memory_order_release);
    m_handlers[msg_id].store(handler, std::memory_order_release);
    return true;
}

void CTradeDriver::EmptyHandlers() noexcept {
    // Writes only the entries in use: untouched pages of the table stay uncommitted.
    for (uint32_t id = 0; id < kHandlerCount; ++id) {
        if (m_handlers[id].load(std::memory_order_relaxed) != nullptr) {
            m_handlers[id].store(nullptr, std::memory_order_release);
        }
        if (m_minLen[id].load(std::memory_order_relaxed) != 0) m_minLen[id].store(0, std::memory_order_release);
    }
}

RecvHandFunc CTradeDriver::GetHandler(uint32_t msg_id) const noexcept {
    return msg_id < kHandlerCount ? m_handlers[msg_id].load(std::memory_order_acquire) : nullptr;
}

uint32_t CTradeDriver::GetMinLen(uint32_t msg_id) const noexcept {
    return msg_id < kHandlerCount ? m_minLen[msg_id].load(std::memory_order_acquire) : 0;
}

void CTradeDriver::onRecv(int seq, int32_t msg_id, const char* data, int len, int playback, bool byte_order,
                          int16_t src_group, int16_t src_member, uint32_t node_id) noexcept {
    spdlog::trace("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] SrcGroup[{}] SrcMember[{}]  ByteOrder[{}]", kDriverSource,
                  "onRecv", msg_id, len, src_group, src_member, byte_order);
    const uint32_t id = static_cast<uint32_t>(msg_id);
    if (id >= kHandlerCount) return;
    const RecvHandFunc handler = m_handlers[id].load(std::memory_order_acquire);
    if (handler == nullptr) return;
    const uint32_t need = m_minLen[id].load(std::memory_order_acquire);
    // no bytes behind a null pointer, whatever the length says
    const int64_t have = data == nullptr ? (len > 0 ? 0 : len) : len;
    if (have < 0 || static_cast<uint64_t>(have) < need) {
        spdlog::error("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] shorter than its record [{}], dropped", kDriverSource,
                      "onRecv", msg_id, len, need);
        return;
    }
    try {
        handler(*this, seq, msg_id, data, len, playback, byte_order, src_group, src_member, node_id);
    } catch (...) {
        // an exception from the application's callback must not end the receive thread
        spdlog::error("[{}:{}] MsgID[0x{:02x}] handler ended with an exception", kDriverSource, "onRecv", msg_id);
    }
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
