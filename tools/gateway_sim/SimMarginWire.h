// The margin service's record layouts as the simulated gateway writes and reads them: one
// {field, offset, size} table per message, kept apart from the library's own readers so a layout
// fault on one side fails a test instead of being mirrored on the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gateway_sim/SimWire.h"

namespace oxa_sim {

constexpr std::uint32_t kMsgMarginInit = 0x203;
constexpr std::uint32_t kMsgMarginInitRsp = 0x204;
constexpr std::uint32_t kMsgMarginSubscribe = 0x205;
constexpr std::uint32_t kMsgMarginFlow = 0x206;
constexpr std::uint32_t kMsgMarginSync = 0x21100;
constexpr std::uint32_t kMsgMarginSyncRsp = 0x21101;

// Records the flow and the synchronisation carry, by flow message id.
constexpr std::uint32_t kMsgMarginOrderPush = 0x228;
constexpr std::uint32_t kMsgMarginTradePush = 0x229;
constexpr std::uint32_t kMsgMarginFundTransfer = 0x231;
constexpr std::uint32_t kMsgMarginCashRepay = 0x233;
constexpr std::uint32_t kMsgMarginCreditRequest = 0x31b;

// The session number of the first margin session; every later one counts up from it.
constexpr std::uint64_t kMarginSessionNoBase = 100000;

namespace margin_init_req {
inline constexpr std::size_t kLength = 558;
inline constexpr WireField kBusGroup{"bus_group", 0, 2};
inline constexpr WireField kBusMember{"bus_member", 2, 2};
inline constexpr WireField kFundAccount{"fund_account", 4, 8};
inline constexpr WireField kClientId{"client_id", 12, 2};
inline constexpr WireField kZero14{"zero_14", 14, 32};
inline constexpr WireField kTerminalInfo{"terminal_info", 46, 256};
inline constexpr WireField kApiVersion{"api_version", 302, 8};
inline constexpr WireField kRequestSeq{"request_seq", 310, 8};
inline constexpr WireField kZero318{"zero_318", 318, 4};
inline constexpr WireField kProtocol{"protocol", 322, 1};
inline constexpr WireField kZero323{"zero_323", 323, 235};
inline constexpr WireField kFields[] = {kBusGroup,  kBusMember,  kFundAccount, kClientId,
                                        kZero14,    kTerminalInfo, kApiVersion, kRequestSeq,
                                        kZero318,   kProtocol,   kZero323};
}  // namespace margin_init_req

// The head of a single-record answer (the init answer's too).
namespace margin_rsp_head {
inline constexpr std::size_t kLength = 19;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kIsLast{"is_last", 16, 1};
inline constexpr WireField kHasData{"has_data", 17, 1};
inline constexpr WireField kHasError{"has_error", 18, 1};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kIsLast, kHasData, kHasError};
}  // namespace margin_rsp_head

// The init answer's record, at 19 after the head.
namespace margin_init_rec {
inline constexpr std::size_t kLength = 310;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kFundIndex{"fund_index", 8, 4};
inline constexpr WireField kSessionNo{"session_no", 12, 8};
inline constexpr WireField kUnread20{"unread_20", 20, 2};
inline constexpr WireField kOrderNoIndex{"order_no_index", 22, 4};
// four speed items of 7 bytes from 26: CtrlType, interval (ms), maximum count
inline constexpr std::size_t kSpeedAt = 26;
inline constexpr std::size_t kSpeedItemLength = 7;
inline constexpr WireField speed_ctrl(std::size_t k) { return {"speed_ctrl", kSpeedAt + 7 * k, 1}; }
inline constexpr WireField speed_interval(std::size_t k) { return {"speed_interval", kSpeedAt + 7 * k + 1, 2}; }
inline constexpr WireField speed_max(std::size_t k) { return {"speed_max", kSpeedAt + 7 * k + 3, 4}; }
inline constexpr WireField kSpeedItems{"speed_items", 26, 28};
inline constexpr WireField kTradingDay{"trading_day", 54, 4};
inline constexpr WireField kNodeId{"node_id", 58, 4};
inline constexpr WireField kUnread62{"unread_62", 62, 248};
inline constexpr WireField kFields[] = {kFundAccount, kFundIndex,  kSessionNo, kUnread20, kOrderNoIndex,
                                        kSpeedItems,  kTradingDay, kNodeId,    kUnread62};
}  // namespace margin_init_rec

namespace margin_error {
inline constexpr std::size_t kLength = 128;
inline constexpr WireField kErrorId{"error_id", 0, 4};
inline constexpr WireField kErrorMsg{"error_msg", 4, 124};
inline constexpr WireField kFields[] = {kErrorId, kErrorMsg};
}  // namespace margin_error

namespace margin_sync_req {
inline constexpr std::size_t kLength = 49;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestSeq{"request_seq", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kZero25{"zero_25", 25, 7};
inline constexpr WireField kPerAnswer{"per_answer", 32, 4};
inline constexpr WireField kStartSeq{"start_seq", 36, 4};
inline constexpr WireField kFlag{"flag", 40, 1};
inline constexpr WireField kZero41{"zero_41", 41, 8};
inline constexpr WireField kFields[] = {kSessionNo, kRequestSeq, kFundAccount, kClientId, kZero25,
                                        kPerAnswer, kStartSeq,   kFlag,        kZero41};
}  // namespace margin_sync_req

// The synchronisation answer's head; its records follow at 56, `stride` bytes apart.
namespace margin_sync_rsp {
inline constexpr std::size_t kHeadLength = 56;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestSeq{"request_seq", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kAsked{"asked", 32, 4};
inline constexpr WireField kCount{"count", 36, 4};
inline constexpr WireField kStride{"stride", 40, 4};
inline constexpr WireField kFields[] = {kSessionNo, kRequestSeq, kFundAccount, kClientId,
                                        kAsked,     kCount,      kStride};
}  // namespace margin_sync_rsp

namespace margin_sync_record {
inline constexpr std::size_t kHeadLength = 8;
inline constexpr WireField kFlowId{"flow_id", 0, 4};
inline constexpr WireField kSeq{"seq", 4, 4};
inline constexpr WireField kFields[] = {kFlowId, kSeq};
}  // namespace margin_sync_record

namespace margin_subscribe_req {
inline constexpr std::size_t kLength = 54;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kFundIndex{"fund_index", 8, 4};
inline constexpr WireField kSessionNo{"session_no", 12, 8};
inline constexpr WireField kClientId{"client_id", 20, 2};
inline constexpr WireField kZero22{"zero_22", 22, 8};
inline constexpr WireField kStartSeq{"start_seq", 30, 4};
inline constexpr WireField kZero34{"zero_34", 34, 20};
inline constexpr WireField kFields[] = {kFundAccount, kFundIndex, kSessionNo, kClientId,
                                        kZero22,      kStartSeq,  kZero34};
}  // namespace margin_subscribe_req

// The head of every package flow message 0x206; package records follow at 21.
namespace margin_flow_head {
inline constexpr std::size_t kLength = 21;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kSecond{"second", 8, 8};
inline constexpr WireField kCount{"count", 16, 4};
inline constexpr WireField kEndFlag{"end_flag", 20, 1};
inline constexpr WireField kFields[] = {kSessionNo, kSecond, kCount, kEndFlag};
}  // namespace margin_flow_head

namespace margin_package_record {
inline constexpr std::size_t kHeadLength = 6;
inline constexpr WireField kId{"id", 0, 2};
inline constexpr WireField kLength{"length", 2, 4};
inline constexpr WireField kFields[] = {kId, kLength};
}  // namespace margin_package_record

// The payload of a replayed or flowed record: push head, the record (its order id first), and
// an error record after it for every id but the trade.
namespace margin_push_payload {
inline constexpr std::size_t kHeadLength = 16;
inline constexpr WireField kSession{"session", 0, 8};
inline constexpr WireField kSecond{"second", 8, 8};
inline constexpr WireField kOrderId{"order_id", 16, 8};
inline constexpr WireField kFields[] = {kSession, kSecond, kOrderId};
// The record's length by flow id (0 for an id the flow does not carry), and whether an error
// record follows it.
std::size_t record_length(std::uint32_t flow_id);
bool has_error_record(std::uint32_t flow_id);
}  // namespace margin_push_payload


// ---------------------------------------------------------------------------------------
// The order path: requests and the reports that answer them.

constexpr std::uint32_t kMsgMarginInsertOrder = 0x226;
constexpr std::uint32_t kMsgMarginCancelOrder = 0x227;
constexpr std::uint32_t kMsgMarginFundTransferReq = 0x230;
constexpr std::uint32_t kMsgMarginCashRepayReq = 0x232;
constexpr std::uint32_t kMsgMarginRepayDebtReq = 0x234;
constexpr std::uint32_t kMsgMarginRepayDebt = 0x235;
constexpr std::uint32_t kMsgMarginCancelAnswer = 0x258;
constexpr std::uint32_t kMsgMarginCreditRequestReq = 0x31a;

// The 22-byte head of every request but the extended queries.
namespace margin_req_head {
inline constexpr std::size_t kLength = 22;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kFundIndex{"fund_index", 8, 4};
inline constexpr WireField kSessionNo{"session_no", 12, 8};
inline constexpr WireField kClientId{"client_id", 20, 2};
inline constexpr WireField kFields[] = {kFundAccount, kFundIndex, kSessionNo, kClientId};
}  // namespace margin_req_head

// 0x226: the head, then the application's 68-byte order record as it wrote it.
namespace margin_order_req {
inline constexpr std::size_t kLength = 90;
inline constexpr WireField kOrderId{"order_id", 22, 8};
inline constexpr WireField kOrderClientId{"order_client_id", 30, 4};
inline constexpr WireField kTicker{"ticker", 34, 16};
inline constexpr WireField kMarket{"market", 50, 4};
inline constexpr WireField kPrice{"price", 54, 8};
inline constexpr WireField kUnread62{"unread_62", 62, 8};
inline constexpr WireField kQuantity{"quantity", 70, 8};
inline constexpr WireField kPriceType{"price_type", 78, 4};
inline constexpr WireField kSide{"side", 82, 1};
inline constexpr WireField kPositionEffect{"position_effect", 83, 1};
inline constexpr WireField kOrderSource{"order_source", 84, 1};
inline constexpr WireField kClientId{"client_id", 85, 1};
inline constexpr WireField kBusinessType{"business_type", 86, 1};
inline constexpr WireField kTail{"tail", 87, 3};
inline constexpr WireField kFields[] = {kOrderId, kOrderClientId, kTicker,   kMarket,         kPrice,
                                        kUnread62, kQuantity,     kPriceType, kSide,          kPositionEffect,
                                        kOrderSource, kClientId,  kBusinessType, kTail};
}  // namespace margin_order_req

namespace margin_cancel_req {
inline constexpr std::size_t kLength = 38;
inline constexpr WireField kCancelId{"cancel_id", 22, 8};
inline constexpr WireField kOrderId{"order_id", 30, 8};
inline constexpr WireField kFields[] = {kCancelId, kOrderId};
}  // namespace margin_cancel_req

// 0x230: the head, the transfer record's first 96 bytes, its transfer type.
namespace margin_transfer_req {
inline constexpr std::size_t kLength = 122;
inline constexpr WireField kSerialId{"serial_id", 22, 8};
inline constexpr WireField kAmount{"amount", 110, 8};
inline constexpr WireField kTransferType{"transfer_type", 118, 4};
inline constexpr WireField kFields[] = {kSerialId, kAmount, kTransferType};
}  // namespace margin_transfer_req

namespace margin_repay_req {
inline constexpr std::size_t kLength = 38;
inline constexpr WireField kOrderId{"order_id", 22, 8};
inline constexpr WireField kAmount{"amount", 30, 8};
inline constexpr WireField kFields[] = {kOrderId, kAmount};
}  // namespace margin_repay_req

// 0x234 and 0x31a: the head, then the record with its new id first.
namespace margin_repay_debt_req {
inline constexpr std::size_t kLength = 90;
inline constexpr WireField kOrderId{"order_id", 22, 8};
inline constexpr WireField kField64{"field_64", 86, 4};
inline constexpr WireField kFields[] = {kOrderId, kField64};
}  // namespace margin_repay_debt_req

namespace margin_credit_req {
inline constexpr std::size_t kLength = 58;
inline constexpr WireField kOrderId{"order_id", 22, 8};
inline constexpr WireField kField32{"field_32", 54, 4};
inline constexpr WireField kFields[] = {kOrderId, kField32};
}  // namespace margin_credit_req

// The order record of 0x228 (at 16, after the push head; the error record follows at 156).
namespace margin_order_rec {
inline constexpr std::size_t kLength = 140;
inline constexpr WireField kOrderId{"order_oxa_id", 0, 8};
inline constexpr WireField kOrderClientId{"order_client_id", 8, 4};
inline constexpr WireField kCancelClientId{"order_cancel_client_id", 12, 4};
inline constexpr WireField kCancelId{"order_cancel_oxa_id", 16, 8};
inline constexpr WireField kTicker{"ticker", 24, 16};
inline constexpr WireField kMarket{"market", 40, 4};
inline constexpr WireField kPrice{"price", 44, 8};
inline constexpr WireField kQuantity{"quantity", 52, 8};
inline constexpr WireField kPriceType{"price_type", 60, 4};
inline constexpr WireField kSide{"side", 64, 1};
inline constexpr WireField kPositionEffect{"position_effect", 65, 1};
inline constexpr WireField kClientId{"client_id", 67, 1};
inline constexpr WireField kBusinessType{"business_type", 68, 1};
inline constexpr WireField kQtyTraded{"qty_traded", 72, 8};
inline constexpr WireField kQtyLeft{"qty_left", 80, 8};
inline constexpr WireField kInsertTime{"insert_time", 88, 8};
inline constexpr WireField kUpdateTime{"update_time", 96, 8};
inline constexpr WireField kCancelTime{"cancel_time", 104, 8};
inline constexpr WireField kTradeAmount{"trade_amount", 112, 8};
inline constexpr WireField kLocalId{"order_local_id", 120, 11};
inline constexpr WireField kStatus{"order_status", 131, 4};
inline constexpr WireField kSubmitStatus{"order_submit_status", 135, 4};
inline constexpr WireField kOrderType{"order_type", 139, 1};
inline constexpr WireField kFields[] = {kOrderId,    kOrderClientId, kCancelClientId, kCancelId,   kTicker,
                                        kMarket,     kPrice,         kQuantity,       kPriceType,  kSide,
                                        kPositionEffect, kClientId,  kBusinessType,   kQtyTraded,  kQtyLeft,
                                        kInsertTime, kUpdateTime,    kCancelTime,     kTradeAmount, kLocalId,
                                        kStatus,     kSubmitStatus,  kOrderType};
// The statuses the server reports (the public numbers: margin passes its records as they are).
inline constexpr std::int32_t kStatusFilled = 1;
inline constexpr std::int32_t kStatusWorking = 4;
inline constexpr std::int32_t kStatusCancelled = 5;
inline constexpr std::int32_t kStatusRejected = 6;
}  // namespace margin_order_rec

// The trade record of 0x229 (at 16).
namespace margin_trade_rec {
inline constexpr std::size_t kLength = 131;
inline constexpr WireField kOrderId{"order_oxa_id", 0, 8};
inline constexpr WireField kOrderClientId{"order_client_id", 8, 4};
inline constexpr WireField kTicker{"ticker", 12, 16};
inline constexpr WireField kMarket{"market", 28, 4};
inline constexpr WireField kPriceType{"price_type", 32, 4};
inline constexpr WireField kExecId{"exec_id", 40, 18};
inline constexpr WireField kPrice{"price", 58, 8};
inline constexpr WireField kQuantity{"quantity", 66, 8};
inline constexpr WireField kTradeTime{"trade_time", 74, 8};
inline constexpr WireField kTradeAmount{"trade_amount", 82, 8};
inline constexpr WireField kReportIndex{"report_index", 90, 8};
inline constexpr WireField kExchId{"order_exch_id", 98, 17};
inline constexpr WireField kTradeType{"trade_type", 115, 1};
inline constexpr WireField kSide{"side", 116, 1};
inline constexpr WireField kClientId{"client_id", 119, 1};
inline constexpr WireField kBusinessType{"business_type", 120, 1};
inline constexpr WireField kFields[] = {kOrderId, kOrderClientId, kTicker,      kMarket,      kPriceType,
                                        kExecId,  kPrice,         kQuantity,    kTradeTime,   kTradeAmount,
                                        kReportIndex, kExchId,    kTradeType,   kSide,        kClientId,
                                        kBusinessType};
}  // namespace margin_trade_rec

// 0x258: push head, the cancel id and the order's id, the error record.
namespace margin_cancel_answer {
inline constexpr std::size_t kLength = 160;
inline constexpr WireField kCancelId{"order_cancel_oxa_id", 16, 8};
inline constexpr WireField kOrderId{"order_oxa_id", 24, 8};
inline constexpr WireField kErrorId{"error_id", 32, 4};
inline constexpr WireField kErrorMsg{"error_msg", 36, 124};
inline constexpr WireField kFields[] = {kCancelId, kOrderId, kErrorId, kErrorMsg};
}  // namespace margin_cancel_answer

// The transfer notice of 0x231 (at 16).
namespace margin_transfer_rec {
inline constexpr std::size_t kLength = 32;
inline constexpr WireField kOrderId{"order_oxa_id", 0, 8};
inline constexpr WireField kTransferType{"transfer_type", 8, 4};
inline constexpr WireField kAmount{"amount", 12, 8};
inline constexpr WireField kOperStatus{"oper_status", 20, 4};
inline constexpr WireField kTransferTime{"transfer_time", 24, 8};
inline constexpr WireField kFields[] = {kOrderId, kTransferType, kAmount, kOperStatus, kTransferTime};
}  // namespace margin_transfer_rec

// The repayment record of 0x233 (at 16): the order id, the amount repaid, the debt left.
namespace margin_repay_rec {
inline constexpr std::size_t kLength = 24;
inline constexpr WireField kOrderId{"order_oxa_id", 0, 8};
inline constexpr WireField kAmount{"amount", 8, 8};
inline constexpr WireField kDebtLeft{"debt_left", 16, 8};
inline constexpr WireField kFields[] = {kOrderId, kAmount, kDebtLeft};
}  // namespace margin_repay_rec

// ---------------------------------------------------------------------------------------
// Queries: the request fields the query server reads and the records it answers with.

namespace margin_query_req {
inline constexpr WireField kRequestId{"request_id", 22, 8};
inline constexpr WireField kByIdFlag{"by_id", 30, 1};  // 0x260 / 0x262: 1 by id
inline constexpr WireField kById{"id", 31, 8};
inline constexpr WireField kPageReqCount{"req_count", 30, 8};   // the by-page queries
inline constexpr WireField kPageReference{"reference", 38, 8};
inline constexpr WireField kFields[] = {kRequestId, kByIdFlag, kById};
}  // namespace margin_query_req

// The extended queries' 32-byte head and their page fields.
namespace margin_ext_req {
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kReqCount{"req_count", 32, 4};
inline constexpr WireField kReference{"reference", 36, 4};
inline constexpr WireField kTicker{"ticker", 32, 16};  // 0x21024
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kFundAccount, kClientId, kReqCount, kReference};
}  // namespace margin_ext_req

// The head of the classic paged answers; one record follows at 31.
namespace margin_page_head {
inline constexpr std::size_t kLength = 31;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 4};
inline constexpr WireField kIndex{"index", 12, 4};
inline constexpr WireField kReqCount{"req_count", 16, 4};
inline constexpr WireField kReference{"reference", 20, 8};
inline constexpr WireField kIsLast{"is_last", 28, 1};
inline constexpr WireField kHasData{"has_data", 29, 1};
inline constexpr WireField kHasError{"has_error", 30, 1};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kIndex,  kReqCount,
                                        kReference, kIsLast,   kHasData, kHasError};
}  // namespace margin_page_head

// The head of the extended paged answers; records follow at 56, record_size bytes apart.
namespace margin_ext_head {
inline constexpr std::size_t kLength = 56;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kReqCount{"req_count", 32, 4};
inline constexpr WireField kRspCount{"rsp_count", 36, 4};
inline constexpr WireField kRecordSize{"record_size", 40, 4};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kReqCount, kRspCount, kRecordSize};
}  // namespace margin_ext_head

namespace margin_position_rec {
inline constexpr std::size_t kLength = 532;
inline constexpr WireField kTicker{"ticker", 0, 16};
inline constexpr WireField kName{"ticker_name", 16, 64};
inline constexpr WireField kMarket{"market", 80, 4};
inline constexpr WireField kTotal{"total_qty", 84, 8};
inline constexpr WireField kSellable{"sellable_qty", 92, 8};
inline constexpr WireField kAvgPrice{"avg_price", 100, 8};
inline constexpr WireField kFields[] = {kTicker, kName, kMarket, kTotal, kSellable, kAvgPrice};
}  // namespace margin_position_rec

namespace margin_asset_rec {
inline constexpr std::size_t kLength = 412;
inline constexpr WireField kTotal{"total_asset", 0, 8};
inline constexpr WireField kBuyingPower{"buying_power", 8, 8};
inline constexpr WireField kFields[] = {kTotal, kBuyingPower};
}  // namespace margin_asset_rec

namespace margin_fund_rec {
inline constexpr std::size_t kLength = 372;
inline constexpr WireField kBuyingPower{"buying_power", 4, 8};
inline constexpr WireField kFields[] = {kBuyingPower};
}  // namespace margin_fund_rec

// 0x279's wire record (at 19).
namespace margin_ipo_rec {
inline constexpr std::size_t kLength = 104;
inline constexpr WireField kMarket{"market", 0, 4};
inline constexpr WireField kTicker{"ticker", 4, 16};
inline constexpr WireField kName{"name", 20, 64};
inline constexpr WireField kTickerType{"ticker_type", 84, 4};
inline constexpr WireField kPrice{"price", 88, 8};
inline constexpr WireField kFields[] = {kMarket, kTicker, kName, kTickerType, kPrice};
}  // namespace margin_ipo_rec

// 0x333: the 412-byte record at 19, the other server's amount at its 8.
namespace margin_other_fund_rec {
inline constexpr std::size_t kLength = 412;
inline constexpr WireField kAmount{"amount", 8, 8};
inline constexpr WireField kFields[] = {kAmount};
}  // namespace margin_other_fund_rec

// 0x21025: session number, request id, the error code at 28, the 129-byte record at 32.
namespace margin_security_answer {
inline constexpr std::size_t kLength = 161;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kErrorId{"error_id", 28, 4};
inline constexpr WireField kTicker{"ticker", 32, 16};
inline constexpr WireField kName{"name", 48, 64};
inline constexpr WireField kMarket{"market", 112, 4};
inline constexpr WireField kTickerType{"ticker_type", 116, 4};
inline constexpr WireField kPreClose{"pre_close", 129, 8};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kErrorId, kTicker, kName, kMarket, kTickerType,
                                        kPreClose};
}  // namespace margin_security_answer

// The extended answers' records.
namespace margin_pledge_rec {
inline constexpr std::size_t kLength = 28;
inline constexpr WireField kReference{"reference", 0, 8};
inline constexpr WireField kMarket{"market", 8, 4};
inline constexpr WireField kTicker{"ticker", 12, 16};
inline constexpr WireField kFields[] = {kReference, kMarket, kTicker};
}  // namespace margin_pledge_rec

namespace margin_target_rec {
inline constexpr std::size_t kLength = 36;
inline constexpr WireField kReference{"reference", 0, 8};
inline constexpr WireField kMarket{"market", 8, 4};
inline constexpr WireField kTicker{"ticker", 12, 16};
inline constexpr WireField kRatio{"ratio", 28, 4};
inline constexpr WireField kStatus{"status", 32, 4};
inline constexpr WireField kFields[] = {kReference, kMarket, kTicker, kRatio, kStatus};
}  // namespace margin_target_rec

namespace margin_security_rec {
inline constexpr std::size_t kLength = 125;
inline constexpr WireField kTicker{"ticker", 0, 16};
inline constexpr WireField kName{"name", 16, 64};
inline constexpr WireField kMarket{"market", 80, 4};
inline constexpr WireField kTickerType{"ticker_type", 84, 4};
inline constexpr WireField kSuspended{"suspended", 96, 1};
inline constexpr WireField kPreClose{"pre_close", 97, 8};
inline constexpr WireField kUpper{"upper_limit", 105, 8};
inline constexpr WireField kLower{"lower_limit", 113, 8};
inline constexpr WireField kPosition{"position", 121, 4};
inline constexpr WireField kFields[] = {kTicker, kName, kMarket, kTickerType, kSuspended,
                                        kPreClose, kUpper, kLower, kPosition};
}  // namespace margin_security_rec

namespace margin_debt_rec {
inline constexpr std::size_t kLength = 84;
inline constexpr WireField kMarket{"market", 0, 4};
inline constexpr WireField kTicker{"ticker", 4, 16};
inline constexpr WireField kValue0{"value_0", 36, 8};
inline constexpr WireField kValue1{"value_1", 44, 8};
inline constexpr WireField kValue2{"value_2", 52, 8};
inline constexpr WireField kValue3{"value_3", 60, 8};
inline constexpr WireField kValue4{"value_4", 68, 8};
inline constexpr WireField kReference{"reference", 76, 8};
inline constexpr WireField kFields[] = {kMarket, kTicker, kValue0, kValue1, kValue2, kValue3, kValue4, kReference};
}  // namespace margin_debt_rec

// Every margin layout, for the self-check that fields stay inside their record and do not overlap.
const std::vector<WireLayout>& margin_layouts();

}  // namespace oxa_sim
