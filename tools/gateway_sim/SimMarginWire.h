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

// Every margin layout, for the self-check that fields stay inside their record and do not overlap.
const std::vector<WireLayout>& margin_layouts();

}  // namespace oxa_sim
