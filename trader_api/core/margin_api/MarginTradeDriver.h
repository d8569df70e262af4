// The margin driver: every message the router hands the margin back-end (ids 512 to 1023 and
// 0x21000 to 0x21FFF) is dispatched by its id through one process-wide handler table.
//
// Each part of the back-end contributes its own list of handlers (the session's: the init
// answer, the synchronisation answer and the package flow; the pushes' and the query
// answers' lists bind beside them), and the back-end's constructor registers them all at once.
// Handlers read the received message through bounded readers into copies, so the buffer of the
// delivering thread is never written.
#pragma once

#include <oxa_api/TraderSpi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "api_common/HandlerTable.h"
#include "core/margin_api/MarginWire.h"

namespace OXA {
namespace API {

class CInnerApiInterface;
class MarginTraderImpl;

namespace MARGIN {

class CTradeDriver;

using RecvHandFunc = HandlerTable<CTradeDriver>::Handler;
using HandlerBinding = HandlerTable<CTradeDriver>::Binding;

// One part's list of handlers.
struct HandlerSet {
    const HandlerBinding* bindings;
    std::size_t count;

    template <std::size_t N>
    constexpr HandlerSet(const HandlerBinding (&list)[N]) noexcept : bindings(list), count(N) {}  // NOLINT
    constexpr HandlerSet(const HandlerBinding* list, std::size_t n) noexcept : bindings(list), count(n) {}
};

class CTradeDriver {
public:
    constexpr CTradeDriver() noexcept = default;
    CTradeDriver(const CTradeDriver&) = delete;
    CTradeDriver& operator=(const CTradeDriver&) = delete;

    // Empties every entry, then binds every set in order (a later set's entry replaces an
    // earlier one's). Runs before any message can arrive.
    void RegisterHandlers(std::initializer_list<HandlerSet> sets) noexcept;
    // Binds one entry (a null handler empties it). False for an id beyond the table.
    bool Bind(uint32_t msg_id, RecvHandFunc handler, uint32_t min_len) noexcept {
        return m_table.Bind(msg_id, handler, min_len);
    }
    RecvHandFunc GetHandler(uint32_t msg_id) const noexcept { return m_table.Get(msg_id); }

    // The dispatch, on the receive thread.
    void onRecv(int seq, int32_t msg_id, const char* data, int len, int playback, bool byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) noexcept {
        m_table.Dispatch(*this, kDriverSource, seq, msg_id, data, len, playback, byte_order, src_group, src_member,
                         node_id);
    }
    void onNotify(int flag) noexcept;

    // One record replayed by a synchronisation answer or carried by the package flow: its
    // flow message id, and its payload of len bytes (push head, record, error record).
    // Delivered as received, without the push sequence filter; a payload shorter than its
    // id's layout is logged and skipped.
    void OnSyncPushReport(int32_t flow_msg_id, const char* payload, std::size_t len) noexcept;

private:
    HandlerTable<CTradeDriver> m_table;
};

// The process-wide driver, alive from load to exit.
CTradeDriver& GetTradeDriver() noexcept;
// Registers the given handler sets on the driver (the MarginTraderImpl constructor).
void InitTradeDriver(std::initializer_list<HandlerSet> sets) noexcept;

// The margin back-end and the application's callback object, for the handlers.
void SetInnerApi(MarginTraderImpl* api) noexcept;
CInnerApiInterface* GetInnerApi() noexcept;
MarginTraderImpl* GetMarginApi() noexcept;
void SetTraderSpi(TraderSpi* spi) noexcept;
TraderSpi* GetTraderSpi() noexcept;

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
