// The inbound handler table of a back-end's driver: one entry per message id below 0xFFFFF,
// indexed directly, each either empty or a plain function that gets the driver first and the
// nine receive arguments after it.
//
// Every entry carries the shortest message its handler reads, so the dispatch drops a shorter
// one (and a negative length, or bytes claimed behind a null pointer) before any handler sees
// it. The table is constant-initialised, so it sits in zero pages from load to exit and is
// never destroyed under a receive thread still running at exit.
#pragma once

#include <spdlog/spdlog.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace OXA {
namespace API {

template <typename Driver>
class HandlerTable {
public:
    // seq: the push sequence number (the frame's request id in TCP mode); node_id: the node the
    // message came from. len is at least the bound minimum and data is never null when len > 0.
    using Handler = void (*)(Driver& driver, int seq, int32_t msg_id, const char* data, int len, int playback,
                             bool byte_order, int16_t src_group, int16_t src_member, uint32_t node_id);

    // One entry to bind: the handler, and the shortest message it reads (0 for none).
    struct Binding {
        uint32_t msg_id;
        Handler handler;
        uint32_t min_len;
    };

    static constexpr uint32_t kCount = 0xFFFFF;

    constexpr HandlerTable() noexcept : m_handlers{}, m_minLen{} {}
    HandlerTable(const HandlerTable&) = delete;
    HandlerTable& operator=(const HandlerTable&) = delete;

    // Binds one entry (a null handler empties it). False for an id beyond the table.
    bool Bind(uint32_t msg_id, Handler handler, uint32_t min_len) noexcept {
        if (msg_id >= kCount) return false;
        // the length first, so a reader that sees the new handler also sees its length
        m_minLen[msg_id].store(handler ? min_len : 0, std::memory_order_release);
        m_handlers[msg_id].store(handler, std::memory_order_release);
        return true;
    }

    // Binds every entry of a list; an id beyond the table is logged and left out.
    void BindAll(const Binding* bindings, std::size_t count) noexcept {
        if (bindings == nullptr) return;
        for (std::size_t i = 0; i < count; ++i) {
            if (!Bind(bindings[i].msg_id, bindings[i].handler, bindings[i].min_len)) {
                spdlog::error("[{}] MsgID[0x{:02x}] beyond the handler table, not bound", "RegisterHandlers",
                              bindings[i].msg_id);
            }
        }
    }

    // Empties every entry. Writes only the entries in use, so untouched pages stay uncommitted.
    void Clear() noexcept {
        for (uint32_t id = 0; id < kCount; ++id) {
            if (m_handlers[id].load(std::memory_order_relaxed) != nullptr)
                m_handlers[id].store(nullptr, std::memory_order_release);
            if (m_minLen[id].load(std::memory_order_relaxed) != 0) m_minLen[id].store(0, std::memory_order_release);
        }
    }

    // The handler of msg_id; null when none (or beyond the table).
    Handler Get(uint32_t msg_id) const noexcept {
        return msg_id < kCount ? m_handlers[msg_id].load(std::memory_order_acquire) : nullptr;
    }
    uint32_t MinLen(uint32_t msg_id) const noexcept {
        return msg_id < kCount ? m_minLen[msg_id].load(std::memory_order_acquire) : 0;
    }

    // The dispatch, on the receive thread: ids without a handler (or beyond the table) are
    // ignored; a message shorter than its handler's minimum is dropped with a log line; an
    // exception from the application's callback never ends the receive thread.
    void Dispatch(Driver& driver, const char* source, int seq, int32_t msg_id, const char* data, int len,
                  int playback, bool byte_order, int16_t src_group, int16_t src_member,
                  uint32_t node_id) const noexcept {
        spdlog::trace("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] SrcGroup[{}] SrcMember[{}]  ByteOrder[{}]", source,
                      "onRecv", msg_id, len, src_group, src_member, byte_order);
        const uint32_t id = static_cast<uint32_t>(msg_id);
        if (id >= kCount) return;
        const Handler handler = m_handlers[id].load(std::memory_order_acquire);
        if (handler == nullptr) return;
        const uint32_t need = m_minLen[id].load(std::memory_order_acquire);
        // no bytes behind a null pointer, whatever the length says
        const int64_t have = data == nullptr ? (len > 0 ? 0 : len) : len;
        if (have < 0 || static_cast<uint64_t>(have) < need) {
            spdlog::error("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] shorter than its record [{}], dropped", source,
                          "onRecv", msg_id, len, need);
            return;
        }
        try {
            handler(driver, seq, msg_id, data, static_cast<int>(have), playback, byte_order, src_group, src_member,
                    node_id);
        } catch (...) {
            spdlog::error("[{}:{}] MsgID[0x{:02x}] handler ended with an exception", source, "onRecv", msg_id);
        }
    }

private:
    std::atomic<Handler> m_handlers[kCount];
    std::atomic<uint32_t> m_minLen[kCount];
};

}  // namespace API
}  // namespace OXA
