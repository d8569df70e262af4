#include "core/option_api/OptTradeDriver.h"

#include <spdlog/spdlog.h>

#include <atomic>

#include "core/option_api/OptionTraderImpl.h"

namespace OXA {
namespace API {
namespace OPT {

namespace {

// Constant-initialised: zero pages from load to exit, never destroyed under a receiving thread.
CTradeDriver g_driver;
std::atomic<OptionTraderImpl*> g_innerApi{nullptr};
std::atomic<TraderSpi*> g_traderSpi{nullptr};

constexpr ReplayedPush kReplayed[] = {
    {kMsgOrderPush, 439},     {kMsgCancelPush, 453},           {kMsgLockPush, 293},
    {kMsgCombOrderPush, 329}, {kMsgExecutePush, 425},          {kMsgCombinedExecutePush, 615},
    {kMsgTradePush, 185},     {kMsgCombTradePush, 231},        {kMsgFundTransferPush, 130},
};

bool IsReplayed(uint32_t msg_id) noexcept {
    for (const ReplayedPush& p : kReplayed)
        if (p.msg_id == msg_id) return true;
    return false;
}

// The replay answer 0x56a: every row goes to the live handler of its id; the last row of a page
// that does not reach the end asks for the next page from its position.
void OnSyncPushReply(CTradeDriver& driver, int, int32_t, const char* data, int len, int playback, bool byte_order,
                     int16_t src_group, int16_t src_member, uint32_t node_id) {
    const std::size_t n_len = static_cast<std::size_t>(len);
    OptQueryRspHead h;
    ReadRspHead(data, n_len, &h);
    const RecordView msg(data, n_len);
    const uint64_t fund_echo = msg.At<uint64_t>(36);
    const int32_t start_echo = msg.At<int32_t>(44);
    const uint64_t session = h.session_no;  // the API session id the request carried
    const PageContinuation::Key key{session, kMsgSyncPushRsp, h.request_id};
    auto end = [&](int32_t last_seq) {
        Continuations().End(key);
        if (OptionTraderImpl* api = GetInnerApi()) api->SyncNotify(session, last_seq);
    };

    if (h.error_code != 0 || h.record <= 0) {
        spdlog::warn("[{}] Recv Sync Push Msg response error, error_code={}, count={}", "OnSyncPushReply",
                     h.error_code, h.record);
        end(0);
        return;
    }
    const uint64_t wanted = static_cast<uint64_t>(h.record);
    const uint64_t stride = h.record_size;
    const uint64_t rows = RowsInside(wanted, n_len, kSyncRspRowsAt, stride, kSyncRowHead);
    if (rows < wanted)
        spdlog::error("[{}] {} of {} rows inside the {} bytes (row size {}): the replay ends there",
                      "OnSyncPushReply", rows, wanted, n_len, stride);

    int32_t last_pos = 0;
    int32_t last_seq = 0;
    for (uint64_t i = 0; i < rows; ++i) {
        const uint64_t at = kSyncRspRowsAt + i * stride;
        const uint64_t left = n_len - at;
        const std::size_t row_len = static_cast<std::size_t>(stride < left ? stride : left);
        const char* row = data + at;
        const RecordView r(row, row_len);
        const int32_t position = r.At<int32_t>(0);
        const uint32_t push_id = r.At<uint16_t>(4);
        const int32_t seq = r.At<int32_t>(6);
        if (!driver.ReplayPush(push_id, seq, row + kSyncRowHead, static_cast<int>(row_len - kSyncRowHead), playback,
                               byte_order, src_group, src_member, node_id)) {
            spdlog::warn("[{}] row of message 0x{:x} at position {} is not a replayed push: the replay ends",
                         "OnSyncPushReply", push_id, position);
            end(seq);
            return;
        }
        last_pos = position;
        last_seq = seq;
        if (static_cast<uint32_t>(position) >= h.total) {
            end(seq);
            return;
        }
    }
    if (rows < wanted) {
        end(last_seq);
        return;
    }

    const PageContinuation::Step step =
        Continuations().Continue(key, static_cast<uint64_t>(last_pos), [&] {
            uint8_t req[kSyncFollowUpSize] = {};
            WireWriter w(req, sizeof req);
            w.write_host<uint64_t>(h.session_no);
            w.write_host<uint64_t>(h.request_id);
            w.write_host<int32_t>(last_pos);
            w.write_host<int32_t>(0);
            w.write_host<uint8_t>('0');
            w.write_host<int32_t>(start_echo);
            w.write_host<uint64_t>(fund_echo);
            // before the send: the next page may be handled before the send returns
            if (OptionTraderImpl* api = GetInnerApi()) api->SyncProgress(session, last_seq);
            return SendToGatewayServer(session, req, kMsgSyncPushReq, static_cast<int>(sizeof req),
                                       static_cast<int>(h.request_id));
        });
    if (step.asked()) return;
    if (step.outcome == PageContinuation::Outcome::kSendFailed)
        spdlog::error("[{}] next replay page from {} not sent ({}): the replay ends", "OnSyncPushReply", last_pos,
                      step.code);
    else
        spdlog::error("[{}] replay page ends at position {} without progress: the replay ends", "OnSyncPushReply",
                      last_pos);
    end(last_seq);
}

const HandlerBinding kSessionHandlers[] = {
    {kMsgSyncPushRsp, &OnSyncPushReply, static_cast<uint32_t>(kSyncRspRowsAt)},
};

}  // namespace

void CTradeDriver::RegisterHandlers() noexcept {
    m_table.Clear();
    std::size_t n = 0;
    const HandlerBinding* pushes = PushHandlers(&n);
    m_table.BindAll(pushes, n);
    const HandlerBinding* answers = QueryAnswerHandlers(&n);
    m_table.BindAll(answers, n);
    m_table.BindAll(kSessionHandlers, sizeof kSessionHandlers / sizeof kSessionHandlers[0]);
}

void CTradeDriver::onRecv(int request_id, uint32_t msg_id, const char* body, int length, int playback,
                          bool byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) noexcept {
    if (!IsOptionMsgId(msg_id)) {
        spdlog::trace("[{}:{}] MsgID[0x{:02x}] MsgLen[{}] SrcGroup[{}] SrcMember[{}]  ByteOrder[{}]", kDriverSource,
                      "onRecv", msg_id, length, src_group, src_member, byte_order);
        return;
    }
    m_table.Dispatch(*this, kDriverSource, request_id, static_cast<int32_t>(msg_id), body, length, playback,
                     byte_order, src_group, src_member, node_id);
}

bool CTradeDriver::ReplayPush(uint32_t msg_id, int32_t seq, const char* body, int length, int playback,
                              bool byte_order, int16_t src_group, int16_t src_member, uint32_t node_id) noexcept {
    if (!IsReplayed(msg_id)) return false;
    m_table.Dispatch(*this, kDriverSource, seq, static_cast<int32_t>(msg_id), body, length, playback, byte_order,
                     src_group, src_member, node_id);
    return true;
}

void CTradeDriver::onNotify(int flag) noexcept { spdlog::info("{} Flag[{}]", "onNotify", flag); }

CTradeDriver& GetTradeDriver() noexcept { return g_driver; }
void InitTradeDriver() noexcept { g_driver.RegisterHandlers(); }

int SetInnerApi(OptionTraderImpl* api) noexcept {
    g_innerApi.store(api, std::memory_order_release);
    return 0;
}
OptionTraderImpl* GetInnerApi() noexcept { return g_innerApi.load(std::memory_order_acquire); }
void SetTraderSpi(TraderSpi* spi) noexcept { g_traderSpi.store(spi, std::memory_order_release); }
TraderSpi* GetTraderSpi() noexcept { return g_traderSpi.load(std::memory_order_acquire); }

PageContinuation& Continuations() noexcept {
    // never destroyed: a receiving thread may still be in a handler at exit
    static PageContinuation* const table = new PageContinuation();
    return *table;
}
void SetContinuePageLimit(uint32_t pages) noexcept { Continuations().SetPageLimit(pages); }

const ReplayedPush* ReplayedPushes(std::size_t* count) noexcept {
    if (count) *count = sizeof kReplayed / sizeof kReplayed[0];
    return kReplayed;
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
