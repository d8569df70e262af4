// The spot driver: every message the router hands the spot back-end is dispatched by its
// id through one process-wide table of handlers, which turn it into calls of the
// application's TraderSpi.
//
// A handler is a plain function that receives the driver first and the nine receive
// arguments after it. The session half and the push and answer handlers bind theirs through
// RegisterHandlers / Bind, each with the length of the record it reads: the dispatch drops a
// shorter message before any handler sees it.
#pragma once

#include <oxa_api/TraderSpi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "api_common/HandlerTable.h"

namespace OXA {
namespace API {

class CInnerApiInterface;
struct tagSessionInfo;

namespace SPOT {

class CTradeDriver;

// The shared handler shape and binding; playback, byte_order, src_group and src_member are only
// logged or passed on (spot never swaps bytes).
using RecvHandFunc = HandlerTable<CTradeDriver>::Handler;
using HandlerBinding = HandlerTable<CTradeDriver>::Binding;

// The spot messages the driver serves.
enum SpotMsgId : uint32_t {
    kMsgSubscribeEnd = 0x104,
    kMsgCoreLoginRsp = 0x10b,
    kMsgOrderPush = 0x121,
    kMsgCancelErrorPush = 0x122,
    kMsgTradePush = 0x123,
    kMsgFundTransferPush = 0x124,
    kMsgQueryPositionRsp = 0x128,
    kMsgQueryFundRsp = 0x129,
    kMsgQueryIPOQuotaRsp = 0x12a,
    kMsgQuerySecurityRsp = 0x12c,
    kMsgQueryOrderRsp = 0x132,
    kMsgQueryTradeRsp = 0x133,
    kMsgQueryFundTransferRsp = 0x134,
    kMsgQueryAssetRsp = 0x136,
    kMsgQueryIssueRsp = 0x138,
    kMsgQueryPositionByPageRsp = 0x139,
    kMsgQueryOrderByPageRsp = 0x13a,
    kMsgQueryTradeByPageRsp = 0x13b,
    kMsgQueryETFRsp = 0x141,
    kMsgQueryOtherServerFundRsp = 0x142,
    kMsgHoldingChangePush = 0x146,
    kMsgSyncPushRsp = 0x20011,
    kMsgQueryETFByPageRsp = 0x20013,
    kMsgQuerySecurityByPageRsp = 0x20015,
    kMsgQueryHKConnectRateRsp = 0x20025,
    kMsgQueryETFBasketRsp = 0x20027,
    kMsgQueryHKConnectSpreadRsp = 0x20029,
    kMsgQueryIPOInfoListRsp = 0x20031,
};

class CTradeDriver {
public:
    // 0xFFFFF entries, indexed by message id.
    static constexpr uint32_t kHandlerCount = HandlerTable<CTradeDriver>::kCount;

    constexpr CTradeDriver() noexcept : m_table{}, m_tradingDay{0} {}
    CTradeDriver(const CTradeDriver&) = delete;
    CTradeDriver& operator=(const CTradeDriver&) = delete;

    // Empties every entry, then binds the given ones. Runs before any message can arrive.
    void RegisterHandlers(const HandlerBinding* bindings, std::size_t count) noexcept;
    template <std::size_t N>
    void RegisterHandlers(const HandlerBinding (&bindings)[N]) noexcept { RegisterHandlers(bindings, N); }

    // Binds one entry (a null handler empties it). False for an id beyond the table.
    bool Bind(uint32_t msg_id, RecvHandFunc handler, uint32_t min_len) noexcept;
    // Empties every entry.
    void EmptyHandlers() noexcept;
    // The handler of msg_id; null when none (or beyond the table).
    RecvHandFunc GetHandler(uint32_t msg_id) const noexcept;
    uint32_t GetMinLen(uint32_t msg_id) const noexcept;

    // The dispatch, on the receive thread: ids without a handler are ignored; a message
    // shorter than its handler's record (or with a negative length) is dropped with a log line.
    void onRecv(int seq, int32_t msg_id, const char* data, int len, int playback, bool byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) noexcept;

    void onNotify(int flag) noexcept;

    // YYYYMMDD of the current spot login; 0 until the first accepted login answer stores it.
    void SetTradingDay(int64_t trading_day) noexcept { m_tradingDay.store(trading_day, std::memory_order_seq_cst); }
    int64_t GetTradingDay() const noexcept { return m_tradingDay.load(std::memory_order_seq_cst); }

private:
    HandlerTable<CTradeDriver> m_table;
    std::atomic<int64_t> m_tradingDay;
};

// The process-wide driver, alive from load to exit.
CTradeDriver& GetTradeDriver() noexcept;

// Empties the driver's table and binds the given handlers (the SpotTraderImpl constructor).
void InitTradeDriver(const HandlerBinding* bindings, std::size_t count) noexcept;
template <std::size_t N>
void InitTradeDriver(const HandlerBinding (&bindings)[N]) noexcept { InitTradeDriver(bindings, N); }

// The spot back-end and the application's callback object, for the handlers.
void SetInnerApi(CInnerApiInterface* api) noexcept;
CInnerApiInterface* GetInnerApi() noexcept;
void SetTraderSpi(TraderSpi* spi) noexcept;
TraderSpi* GetTraderSpi() noexcept;

// The session of an answer: the record filed for node_id under the server's session number
// (bounded: a node above 255 or a number beyond the node's row finds nothing). Null after
// the error line "ptr_session_info_spot == NULL <session_no>".
const tagSessionInfo* GetAnswerSession(uint32_t node_id, uint64_t session_no) noexcept;
// The same without the log line, for handlers that log their own text.
const tagSessionInfo* FindAnswerSession(uint32_t node_id, uint64_t session_no) noexcept;

// The line a handler logs when a record inside its message does not fit the message.
void LogShortMessage(const char* handler, uint32_t msg_id, std::size_t len, std::size_t need) noexcept;

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
