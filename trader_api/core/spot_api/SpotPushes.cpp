#include "core/spot_api/SpotPushes.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "api_common/PushSeqFilter.h"
#include "core/spot_api/SpotConvert.h"
#include "infra/utility/AnswerWait.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace SPOT {

namespace {

template <typename T>
T At(const char* data, int len, std::size_t off) {
    T v{};
    WireReader r(data, static_cast<std::size_t>(len));
    if (r.seek(off)) r.read_host(v);
    return v;
}

uint64_t SessionOfId(uint64_t oxa_id) { return oxa_id >> 40; }

void OnOrderEvent(CTradeDriver& driver, int seq, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                  uint32_t) {
    const uint64_t session_id = SessionOfId(At<uint64_t>(data, len, 97));
    if (!AcceptPushSeq(session_id, seq)) return;
    OXAErrorInfo error;
    ZeroRecord(error);
    error.error_id = At<int32_t>(data, len, 60);
    FillErrorMsg(&error);
    OXAOrderInfo info;
    if (!ConvertOrderMessage(data, static_cast<std::size_t>(len), RecordSource::Push, driver.GetTradingDay(),
                             "OnOrderEvent", info))
        return;
    info.order_cancel_client_id = At<uint32_t>(data, len, 144);
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderEvent(&info, &error, session_id);
}

void OnTradeEvent(CTradeDriver& driver, int seq, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                  uint32_t) {
    const uint64_t session_id = SessionOfId(At<uint64_t>(data, len, 112));
    if (!AcceptPushSeq(session_id, seq)) return;
    OXATradeReport report;
    if (!ConvertTradeMessage(data, static_cast<std::size_t>(len), driver.GetTradingDay(), "OnTradeEvent", report))
        return;
    if (TraderSpi* spi = GetTraderSpi()) spi->OnTradeEvent(&report, session_id);
}

void OnCancelOrderEvent(CTradeDriver&, int seq, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                        uint32_t) {
    if (data == nullptr) {
        spdlog::debug("pszMsgBuf == nullptr");
        return;
    }
    OXAErrorInfo error{};
    error.error_id = At<int32_t>(data, len, 24);
    CopyText(error.error_msg, GetErrorMsg(error.error_id), sizeof(error.error_msg) - 1);
    const int32_t order_seq = At<int32_t>(data, len, 16);
    uint64_t order_id = 0;
    if (order_seq != -1) {
        order_id = ComposeOXAID(At<uint8_t>(data, len, 121), At<uint32_t>(data, len, 8), At<uint16_t>(data, len, 114),
                                static_cast<uint32_t>(order_seq));
    }
    const uint64_t cancel_id = At<uint64_t>(data, len, 76);
    const uint64_t session_id = SessionOfId(cancel_id);
    // the number is taken also when there is nothing to report
    if (!AcceptPushSeq(session_id, seq)) return;
    if (error.error_id == 0) return;
    OXAOrderCancelInfo info{cancel_id, order_id};
    if (TraderSpi* spi = GetTraderSpi()) spi->OnCancelOrderEvent(&info, &error, session_id);
}

void OnFundTransfer(CTradeDriver& driver, int seq, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                    uint32_t) {
    uint64_t serial_id = At<uint64_t>(data, len, 91);
    if (serial_id == 0) {
        serial_id = ComposeOXAID(static_cast<uint32_t>(At<int32_t>(data, len, 78)), At<uint32_t>(data, len, 57),
                                 At<uint8_t>(data, len, 82), At<uint64_t>(data, len, 0));
    }
    const uint64_t session_id = SessionOfId(serial_id);
    if (!AcceptPushSeq(session_id, seq)) return;
    const uint32_t result = At<uint32_t>(data, len, 66);
    const CodeTrace trace("OnFundTransfer", serial_id);
    OXAFundTransferNotice notice{};
    notice.order_oxa_id = serial_id;
    notice.transfer_type = DecodeFundTransferType(At<char>(data, len, 65));
    notice.amount = At<double>(data, len, 49);
    notice.oper_status = (result == 0 || result == 1) ? 1 : 2;
    notice.transfer_time = static_cast<uint64_t>(SpotTimestamp(driver.GetTradingDay(), At<int32_t>(data, len, 70)));
    OXAErrorInfo error{};
    error.error_id = (result == 0 || result == 1) ? 0 : static_cast<int32_t>(result);
    spdlog::debug("-------CTradeDriver::OnFundTransfer-----fund_transfer_inner->ret_code: {}, serial_id :{}", result,
                  serial_id);
    if (result == 0) return;
    FillErrorMsg(&error);
    if (TraderSpi* spi = GetTraderSpi()) spi->OnFundTransfer(&notice, &error, session_id);
}

void OnHoldingChangeEvent(CTradeDriver&, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                          uint32_t) {
    const CodeTrace trace("OnHoldingChangeEvent", 0);
    OXAHoldingChangeInfo info{};
    CopyText(info.ticker, data + 12, 8);
    info.market = DecodeMarketTypeDigit(At<char>(data, len, 20));
    info.field_20 = DigitValue(At<char>(data, len, 61));
    info.field_24 = At<int32_t>(data, len, 63);
    info.field_28 = At<int64_t>(data, len, 21);
    info.field_36 = At<int64_t>(data, len, 29);
    info.field_44 = At<int64_t>(data, len, 37);
    info.field_52 = At<int64_t>(data, len, 45);
    const int32_t session = static_cast<int32_t>(static_cast<uint32_t>(At<uint8_t>(data, len, 62)) << 16 |
                                                 At<uint32_t>(data, len, 8));
    const uint64_t session_id = static_cast<uint64_t>(static_cast<int64_t>(session));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnHoldingChangeEvent(&info, session_id);
}

const HandlerBinding kPushHandlers[] = {
    {kMsgOrderPush, &OnOrderEvent, static_cast<uint32_t>(kOrderRecordSize)},
    {kMsgCancelErrorPush, &OnCancelOrderEvent, static_cast<uint32_t>(kCancelErrorPushSize)},
    {kMsgTradePush, &OnTradeEvent, static_cast<uint32_t>(kTradeRecordSize)},
    {kMsgFundTransferPush, &OnFundTransfer, static_cast<uint32_t>(kFundTransferPushSize)},
    {kMsgHoldingChangePush, &OnHoldingChangeEvent, static_cast<uint32_t>(kHoldingChangePushSize)},
};

}  // namespace

bool AcceptPushSeq(uint64_t session_id, int seq) noexcept {
    spdlog::info("Recv Push SeqNo {}", seq);
    return API::AcceptPushSeq(session_id, seq);
}

const HandlerBinding* PushHandlers(std::size_t* count) noexcept {
    if (count) *count = sizeof(kPushHandlers) / sizeof(kPushHandlers[0]);
    return kPushHandlers;
}

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
