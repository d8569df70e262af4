// Handlers of the margin server's live reports. Each reads its message into copies, bounded by
// the message's length, converts them when the sender's byte order differs, finds the session
// from the record's order id and passes the push sequence filter before the callback.
#include "core/margin_api/MarginPushes.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/PushSeqFilter.h"
#include "core/margin_api/MarginWire.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace MARGIN {

namespace {

uint64_t SessionOf(uint64_t order_id) { return CInnerApiInterface::GetSessionIdByOXAID(order_id); }

void onCeditOrderStatusReport(CTradeDriver&, int seq, int32_t msg_id, const char* data, int len, int,
                              bool byte_order, int16_t, int16_t, uint32_t) {
    const std::size_t size = static_cast<std::size_t>(len);
    if (size < kOrderPushSize) {
        spdlog::warn("[{}:{}] MsgID[0x{:02x}] MsgLen[{}]<expected.len[{}]", "onCeditOrderStatusReport", __LINE__,
                     msg_id, len, kOrderPushSize);
        return;
    }
    OXAOrderInfo order;
    CopyRecord(data + kPushHeadSize, kSwapOrderInfo, byte_order, &order);
    OXAErrorInfo error{};
    // only the two lengths that end in an error record carry one
    if (size == kOrderPushSize || size == kOrderPushLongSize)
        ReadErrorRecord(data + kPushHeadSize + sizeof(OXAOrderInfo), byte_order, &error);
    const uint64_t session_id = SessionOf(order.order_oxa_id);
    if (!AcceptPushSeq(session_id, seq)) return;
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderEvent(&order, &error, session_id);
}

void onCeditTradeReport(CTradeDriver&, int seq, int32_t msg_id, const char* data, int len, int, bool byte_order,
                        int16_t, int16_t, uint32_t) {
    if (static_cast<std::size_t>(len) < kTradePushSize) {
        spdlog::warn("[{}:{}] MsgID[0x{:02x}] MsgLen[{}]<expected.len[{}]", "onCeditTradeReport", __LINE__, msg_id,
                     len, kTradePushSize);
        return;
    }
    OXATradeReport trade;
    CopyRecord(data + kPushHeadSize, kSwapTradeReport, byte_order, &trade);
    const uint64_t session_id = SessionOf(trade.order_oxa_id);
    if (!AcceptPushSeq(session_id, seq)) return;
    if (TraderSpi* spi = GetTraderSpi()) spi->OnTradeEvent(&trade, session_id);
}

// The cancel answer's callback step: only a refused cancel reaches the application.
void OnTradeCancelRsp(const OXAOrderCancelInfo& cancel, OXAErrorInfo error, uint64_t session_id) {
    const int32_t code = error.error_id;  // a copy: the record is packed
    spdlog::trace("[{}] stErr.error_id [{}]", "OnTradeCancelRsp", code);
    if (code == 0) return;
    OXAOrderCancelInfo info = cancel;
    if (TraderSpi* spi = GetTraderSpi()) spi->OnCancelOrderEvent(&info, &error, session_id);
}

void onCeditCancelOrderAns(CTradeDriver&, int seq, int32_t msg_id, const char* data, int len, int, bool byte_order,
                           int16_t, int16_t, uint32_t) {
    spdlog::trace("[{}]  msglen[{}] OXA_INNER_CREDIT_ORDER_CANCEL_RSP_LEN [{}]", "onCeditCancelOrderAns", len,
                  kCancelAnswerSize);
    if (static_cast<std::size_t>(len) < kCancelAnswerSize) {
        spdlog::warn("[{}:{}] MsgID[0x{:02x}] MsgLen[{}]<expected.len[{}]", "onCeditCancelOrderAns", __LINE__,
                     msg_id, len, kCancelAnswerSize);
        return;
    }
    const ByteOrder order = BodyOrder(byte_order);
    OXAOrderCancelInfo cancel;
    cancel.order_cancel_oxa_id = wire::load<uint64_t>(data + kPushHeadSize, order);
    cancel.order_oxa_id = wire::load<uint64_t>(data + kPushHeadSize + 8, order);
    OXAErrorInfo error;
    ReadErrorRecord(data + kPushHeadSize + sizeof(OXAOrderCancelInfo), byte_order, &error);
    const uint64_t session_id = SessionOf(cancel.order_cancel_oxa_id);
    // the number is taken also when there is nothing to report
    if (!AcceptPushSeq(session_id, seq)) return;
    OnTradeCancelRsp(cancel, error, session_id);
}

// Answers to transfers, repayments and credit requests: the record of its fixed size, with or
// without an error record behind it; nothing is converted.
template <typename Record, void (TraderSpi::*Callback)(Record*, OXAErrorInfo*, uint64_t)>
void OnRspWithDynamicLen(CTradeDriver&, int seq, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                         uint32_t) {
    const std::size_t size = static_cast<std::size_t>(len);
    if (size == kPushHeadSize) {
        LogParseFailed(__LINE__, "OnRspWithDynamicLen", -102);
        return;
    }
    OXAErrorInfo error{};
    if (size == kPushHeadSize + sizeof(Record) + kErrorInfoSize) {
        ReadErrorRecord(data + kPushHeadSize + sizeof(Record), false, &error);
    } else if (size != kPushHeadSize + sizeof(Record)) {
        LogParseFailed(__LINE__, "OnRspWithDynamicLen", -101);
        return;
    }
    Record record;
    std::memcpy(&record, data + kPushHeadSize, sizeof record);
    const uint64_t session_id = SessionOf(wire::load<uint64_t>(data + kPushHeadSize, wire::host_order()));
    if (!AcceptPushSeq(session_id, seq)) return;
    if (TraderSpi* spi = GetTraderSpi()) (spi->*Callback)(&record, &error, session_id);
}

const HandlerBinding kPushHandlers[] = {
    {kMsgOrderStatusPush, &onCeditOrderStatusReport, 0},
    {kMsgTradePush, &onCeditTradeReport, 0},
    {kMsgCancelOrderRsp, &onCeditCancelOrderAns, 0},
    {kMsgFundTransferRsp, &OnRspWithDynamicLen<OXAFundTransferNotice, &TraderSpi::OnFundTransfer>, 0},
    {kMsgCashRepayRsp, &OnRspWithDynamicLen<OXACreditCashRepayInfo, &TraderSpi::OnCreditCashRepay>, 0},
    {kMsgCashRepaySpecifiedDebtRsp,
     &OnRspWithDynamicLen<OXACreditCashRepaySpecifiedDebtInfo, &TraderSpi::OnCreditCashRepaySpecifiedDebt>, 0},
    {kMsgCreditRequestRsp, &OnRspWithDynamicLen<OXACreditRequestInfo, &TraderSpi::OnCreditRequest>, 0},
};

}  // namespace

std::size_t OrderPathRecordSize(uint32_t msg_id) noexcept {
    switch (msg_id) {
        case kMsgFundTransferRsp: return sizeof(OXAFundTransferNotice);
        case kMsgCashRepayRsp: return sizeof(OXACreditCashRepayInfo);
        case kMsgCashRepaySpecifiedDebtRsp: return sizeof(OXACreditCashRepaySpecifiedDebtInfo);
        case kMsgCreditRequestRsp: return sizeof(OXACreditRequestInfo);
        default: return 0;
    }
}

HandlerSet PushHandlers() noexcept { return HandlerSet(kPushHandlers); }

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
