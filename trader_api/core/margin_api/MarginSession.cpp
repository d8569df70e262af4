// The driver's handlers of the margin session: the init answer 0x204, the synchronisation
// answer 0x21101 and the package flow 0x206 that answers the subscription, with the delivery of
// the records the last two replay.
#include <spdlog/spdlog.h>

#include <cstring>

#include "core/margin_api/MarginSession.h"

#include "core/margin_api/MarginPackage.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/margin_api/MarginWire.h"

namespace OXA {
namespace API {
namespace MARGIN {

namespace {

void onCeditTradeInitReply(CTradeDriver&, int, int32_t, const char* data, int len, int, bool byte_order, int16_t,
                           int16_t, uint32_t) {
    MarginTraderImpl* api = GetMarginApi();
    if (api == nullptr) return;
    const std::size_t size = static_cast<std::size_t>(len);
    CreditRspHead head;
    if (size < kRspHeadSize || !ReadRspHead(data, size, byte_order, &head)) {
        LogParseFailed(__LINE__, "onCeditTradeInitReply", -101);
        return;
    }
    AnswerParts parts;
    if (!LocateAnswerParts(data, size, kRspHeadSize, kInitRspSize, head.has_data, head.has_error, &parts)) {
        // the head promises a record or an error record the message does not hold
        LogParseFailed(__LINE__, "onCeditTradeInitReply", -101);
        return;
    }
    CreditInitRsp rsp;
    OXAErrorInfo error{};
    if (parts.record) ReadInitRsp(parts.record, byte_order, &rsp);
    if (parts.error) ReadErrorRecord(parts.error, byte_order, &error);
    api->OnInit(parts.record ? &rsp : nullptr, parts.error ? &error : nullptr);
}

// The answer of the pass in flight, known by its frame's request id and the session number and
// account it echoes: its records are replayed once it has ended its pass; any other answer (a
// late one of an earlier login) is dropped whole.
void onSyncPushReply(CTradeDriver& driver, int frame_id, int32_t msg_id, const char* data, int len, int, bool,
                     int16_t, int16_t, uint32_t) {
    MarginTraderImpl* api = GetMarginApi();
    if (api == nullptr) return;
    if (api->IsSyncEnd()) {
        spdlog::warn("[{}] Recv Sync Msg After Sync End, Ignore.", "onSyncPushReply");
        return;
    }
    const std::size_t size = static_cast<std::size_t>(len);
    SyncPass pass;
    if (!ReadSyncAnswer(data, size, &pass)) {
        LogParseFailed(__LINE__, "onSyncPushReply", -101, static_cast<uint32_t>(msg_id));
        return;
    }
    const PushResumption::AnswerKey key{frame_id, wire::load<uint64_t>(data, wire::host_order()),
                                        wire::load<uint64_t>(data + 16, wire::host_order())};
    if (!api->SyncNotify(key, pass.last_seq, pass.ended)) return;
    ReplaySyncAnswer(driver, data, size, &pass);
}

void onSubscribePushReply(CTradeDriver& driver, int frame_id, int32_t msg_id, const char* data, int len, int,
                          bool byte_order, int16_t, int16_t, uint32_t) {
    const CSubResultPackage package(data, static_cast<std::size_t>(len), byte_order);
    if (!package.HasHead()) {
        spdlog::warn("Error MsgReceived MsgID[0x{:02x}] MsgLen[{}] nRet[{}]", msg_id, len, -1);
        return;
    }
    const CreditFlowHead& head = package.Head();
    const int32_t ret = static_cast<int32_t>(head.count + static_cast<uint32_t>(kFlowHeadSize));
    if (ret < 0) {
        spdlog::warn("Error MsgReceived MsgID[0x{:02x}] MsgLen[{}] nRet[{}]", msg_id, len, ret);
        return;
    }
    if (!(head.end_flag && head.count == 0)) {
        // the bytes bound the walk, not the count
        CPackageIterator it;
        for (it.Init(package.Records().Begin(), package.Records().End(), byte_order); it.Payload(); it.Next())
            driver.OnSyncPushReport(static_cast<int16_t>(it.Id()), it.Payload(), it.Length());
    }
    // the last message of the flow ends the subscription, records or not; the records are
    // delivered to the sessions of their order ids whichever subscription they answer
    if (head.end_flag)
        if (MarginTraderImpl* api = GetMarginApi()) api->SubscribeEndNotify({frame_id, head.first, 0});
}

const HandlerBinding kSessionHandlers[] = {
    {kMsgInitRsp, &onCeditTradeInitReply, 0},
    {kMsgSyncRsp, &onSyncPushReply, 0},
    {kMsgSubscribeFlow, &onSubscribePushReply, 0},
};

// Where a replayed or flowed record sits in its payload (after the 16-byte push head).
template <typename Record>
bool TakeRecord(const char* payload, std::size_t len, std::size_t error_at, int32_t flow_id, Record* record,
                OXAErrorInfo* error, uint64_t* session_id) {
    const std::size_t need = error_at ? error_at + kErrorInfoSize : kPushHeadSize + sizeof(Record);
    if (len < need) {
        spdlog::error("[{}] flowMsgId[0x{:02x}] length[{}] shorter than its record [{}], skipped", "OnSyncPushReport",
                      flow_id, len, need);
        return false;
    }
    std::memcpy(record, payload + kPushHeadSize, sizeof(Record));
    if (error_at) ReadErrorRecord(payload + error_at, false, error);
    *session_id = CInnerApiInterface::GetSessionIdByOXAID(wire::load<uint64_t>(payload + kPushHeadSize,
                                                                                wire::host_order()));
    return true;
}

}  // namespace

HandlerSet SessionHandlers() noexcept { return HandlerSet(kSessionHandlers); }

namespace {

// Walks the records of a synchronisation answer (read in host order, never converted) that lie
// wholly inside it, each through replay (null: only read).
bool WalkSyncAnswer(CTradeDriver* replay, const char* data, std::size_t len, SyncPass* out) noexcept {
    *out = SyncPass{};
    WireReader head(data, len);
    uint32_t asked = 0, count = 0, stride = 0;
    head.seek(32);
    head.read_host(asked);
    head.read_host(count);
    head.read_host(stride);
    if (!head.ok() || len < kSyncRspHeadSize) return false;

    const uint64_t body = len - kSyncRspHeadSize;
    uint64_t usable = count;
    if (stride < kSyncRecordHeadSize)
        usable = 0;
    else if (usable * stride > body)
        usable = body / stride;
    if (usable < count && replay != nullptr)
        spdlog::error("[{}] MsgID[0x{:02x}] MsgLen[{}] holds {} of its {} records", "onSyncPushReply", kMsgSyncRsp,
                      len, usable, count);

    for (uint64_t i = 0; i < usable; ++i) {
        const char* rec = data + kSyncRspHeadSize + i * stride;
        out->last_seq = wire::load<uint32_t>(rec + 4, wire::host_order());
        if (replay != nullptr)
            replay->OnSyncPushReport(wire::load<int32_t>(rec, wire::host_order()), rec + kSyncRecordHeadSize,
                                     stride - kSyncRecordHeadSize);
    }
    out->ended = count != asked;
    return true;
}

}  // namespace

bool ReadSyncAnswer(const char* data, std::size_t len, SyncPass* out) noexcept {
    return WalkSyncAnswer(nullptr, data, len, out);
}

bool ReplaySyncAnswer(CTradeDriver& driver, const char* data, std::size_t len, SyncPass* out) noexcept {
    return WalkSyncAnswer(&driver, data, len, out);
}

void CTradeDriver::OnSyncPushReport(int32_t flow_msg_id, const char* payload, std::size_t len) noexcept {
    TraderSpi* spi = GetTraderSpi();
    OXAErrorInfo error{};
    uint64_t session_id = 0;
    switch (flow_msg_id) {
        case kMsgOrderStatusPush: {
            OXAOrderInfo order;
            if (TakeRecord(payload, len, 156, flow_msg_id, &order, &error, &session_id) && spi)
                spi->OnOrderEvent(&order, &error, session_id);
            return;
        }
        case kMsgTradePush: {
            OXATradeReport trade;
            if (TakeRecord(payload, len, 0, flow_msg_id, &trade, &error, &session_id) && spi)
                spi->OnTradeEvent(&trade, session_id);
            return;
        }
        case kMsgFundTransferRsp: {
            OXAFundTransferNotice notice;
            if (TakeRecord(payload, len, 48, flow_msg_id, &notice, &error, &session_id) && spi)
                spi->OnFundTransfer(&notice, &error, session_id);
            return;
        }
        case kMsgCashRepayRsp: {
            OXACreditCashRepayInfo repay;
            if (TakeRecord(payload, len, 40, flow_msg_id, &repay, &error, &session_id) && spi)
                spi->OnCreditCashRepay(&repay, &error, session_id);
            return;
        }
        case kMsgCreditRequestRsp: {
            OXACreditRequestInfo request;
            if (TakeRecord(payload, len, 48, flow_msg_id, &request, &error, &session_id) && spi)
                spi->OnCreditRequest(&request, &error, session_id);
            return;
        }
        default:
            spdlog::warn("[{}] Unknown flowMsgId [0x{:02x}]", "OnSyncPushReport", flow_msg_id);
            return;
    }
}

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
