// The inbound half of the option back-end. OptionTraderImpl::OnRecv hands it every message
// routed to the option business, after the back-end itself has looked at the login answer
// 0x500 and the subscription answer 0x521.
//
// The driver takes the full message id and drops anything outside the option ranges (1024 to
// 1535, 0x22000 to 0x22FFF) before it looks at the shared handler table, whose entries each say
// the shortest message their handler reads: a shorter one is dropped with a log line. Bound:
// the nine pushes, the query answers and the replay of missed pushes 0x56a, which feeds each
// row to the live push handler of its id with the row's real length and asks for the next page
// itself, through the back-end's paging table: a page that brings no progress, is cut short or
// cannot ask for its successor ends the replay at once with the last sequence replayed.
//
// The driver keeps the process-wide pointers its handlers use: the back-end and the
// application's callback object, written before traffic starts and read without a lock.
#pragma once

#include <oxa_api/TraderSpi.h>

#include <cstddef>
#include <cstdint>

#include "api_common/HandlerTable.h"
#include "api_common/QueryPaging.h"
#include "core/option_api/OptWire.h"

namespace OXA {
namespace API {

class OptionTraderImpl;

namespace OPT {

class CTradeDriver;
using RecvHandFunc = HandlerTable<CTradeDriver>::Handler;
using HandlerBinding = HandlerTable<CTradeDriver>::Binding;

constexpr std::size_t kSyncRspRowsAt = 48;  // head, qry_num, qry_flag, fund account, start sequence
constexpr std::size_t kSyncRowHead = 10;    // position, message id, sequence
constexpr std::size_t kSyncFollowUpSize = 37;

class CTradeDriver {
public:
    constexpr CTradeDriver() noexcept = default;
    CTradeDriver(const CTradeDriver&) = delete;
    CTradeDriver& operator=(const CTradeDriver&) = delete;

    // Empties every entry, then binds the option handlers. Runs before any message arrives.
    void RegisterHandlers() noexcept;
    RecvHandFunc GetHandler(uint32_t msg_id) const noexcept { return m_table.Get(msg_id); }
    uint32_t MinLength(uint32_t msg_id) const noexcept { return m_table.MinLen(msg_id); }

    // The dispatch, on the receiving thread. The first argument (request id or bus tag) goes to
    // the handler as it came; msg_id is the full message id.
    void onRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback, bool byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id) noexcept;
    void onNotify(int flag) noexcept;

    // One replayed row through the live handler of its id, as a live push would arrive. False
    // when the id is not a replayed push (the replay then ends).
    bool ReplayPush(uint32_t msg_id, int32_t seq, const char* body, int length, int playback, bool byte_order,
                    int16_t src_group, int16_t src_member, uint32_t node_id) noexcept;

private:
    HandlerTable<CTradeDriver> m_table;
};

CTradeDriver& GetTradeDriver() noexcept;
void InitTradeDriver() noexcept;

// Written before traffic starts (construction, RegisterSpi), read by the receiving threads.
int SetInnerApi(OptionTraderImpl* api) noexcept;
OptionTraderImpl* GetInnerApi() noexcept;
void SetTraderSpi(TraderSpi* spi) noexcept;
TraderSpi* GetTraderSpi() noexcept;

// The follow-ups of the replay and of the self-continuing queries.
PageContinuation& Continuations() noexcept;
void SetContinuePageLimit(uint32_t pages) noexcept;

// The handler lists of the driver's parts, with the length each reads.
const HandlerBinding* PushHandlers(std::size_t* count) noexcept;
const HandlerBinding* QueryAnswerHandlers(std::size_t* count) noexcept;
// The answer id of a self-continuing query's request id (0 for the others).
uint32_t AnswerOfQuery(uint32_t request_msg_id) noexcept;

// The replayed pushes and the lengths the replay once passed for them.
struct ReplayedPush {
    uint32_t msg_id;
    uint32_t length;
};
const ReplayedPush* ReplayedPushes(std::size_t* count) noexcept;

}  // namespace OPT
}  // namespace API
}  // namespace OXA
