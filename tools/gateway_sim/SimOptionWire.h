// The option business's record layouts as the simulated gateway reads and writes them: one
// {field, offset, size} table per message, never the library's structs, so a layout fault on
// either side shows up as a failed test instead of being mirrored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway_sim/SimWire.h"

namespace oxa_sim {

constexpr std::uint32_t kMsgOptLogin = 0x401;
constexpr std::uint32_t kMsgOptLoginRsp = 0x500;
constexpr std::uint32_t kMsgOptSync = 0x460;
constexpr std::uint32_t kMsgOptSyncRsp = 0x56a;
constexpr std::uint32_t kMsgOptSubscribe = 0x416;
constexpr std::uint32_t kMsgOptSubscribeRsp = 0x521;

// Order-like requests, answered by the order server with pushes.
constexpr std::uint32_t kMsgOptInsert = 0x402;
constexpr std::uint32_t kMsgOptCancel = 0x403;
constexpr std::uint32_t kMsgOptLock = 0x404;
constexpr std::uint32_t kMsgOptCombInsert = 0x405;
constexpr std::uint32_t kMsgOptExecute = 0x406;
constexpr std::uint32_t kMsgOptCombinedExecute = 0x407;
constexpr std::uint32_t kMsgOptFundTransfer = 0x45b;

// The longest option push a replay row carries (the combined exercise answer).
constexpr std::size_t kOptLongestPush = 615;

namespace opt_login_req {
inline constexpr std::size_t kLength = 315;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kOptionValue{"option_value", 8, 8};  // the gateway answer's value at 552
inline constexpr WireField kRequestSeq{"request_seq", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 2};
inline constexpr WireField kProtocolMode{"protocol_mode", 26, 2};
inline constexpr WireField kMsgConst{"msg_const", 28, 8};  // 0x401
inline constexpr WireField kMarker{"marker", 36, 1};       // 'P'
inline constexpr WireField kTerminalInfo{"terminal_info", 37, 255};
inline constexpr WireField kZero{"zero", 292, 1};
inline constexpr WireField kGatewayBlock{"gateway_block", 293, 22};  // gateway answer bytes 14-35
inline constexpr WireField kHqtrsIp{"hqtrs_ip", 293, 16};
inline constexpr WireField kHqtrsPort{"hqtrs_port", 309, 2};
inline constexpr WireField kGroupId{"group_id", 311, 2};
inline constexpr WireField kMemberId{"member_id", 313, 2};
}  // namespace opt_login_req

namespace opt_login_rsp {
inline constexpr std::size_t kLength = 415;
inline constexpr WireField kFundAccount{"FundAcc", 0, 8};
inline constexpr WireField kSessionNo{"SessionNo", 8, 8};
inline constexpr WireField kErrorCode{"ErrorCode", 315, 4};
inline constexpr WireField kDate{"Date", 383, 4};
inline constexpr WireField kNodeId{"NodeId", 387, 4};
inline constexpr WireField kFundIdx{"FundIdx", 391, 8};
inline constexpr WireField kCurOrdId{"CurOrdId", 399, 8};
inline constexpr WireField kOrderLimit{"order_limit", 407, 4};
inline constexpr WireField kQueryLimit{"query_limit", 411, 4};
}  // namespace opt_login_rsp

namespace opt_sync_req {
inline constexpr std::size_t kLength = 37;
inline constexpr WireField kSession{"session", 0, 8};  // the API session id
inline constexpr WireField kRequestSeq{"request_seq", 8, 8};
inline constexpr WireField kPosition{"position", 16, 4};
inline constexpr WireField kZero{"zero", 20, 4};
inline constexpr WireField kFlag{"flag", 24, 1};  // '0'
inline constexpr WireField kStartSeq{"start_seq", 25, 4};
inline constexpr WireField kFundAccount{"fund_account", 29, 8};
}  // namespace opt_sync_req

// The head of every option query answer, the replay answer's too.
namespace opt_rsp_head {
inline constexpr std::size_t kLength = 31;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kIsLast{"is_last", 16, 1};
inline constexpr WireField kErrorCode{"error_code", 17, 4};
inline constexpr WireField kRecord{"record", 21, 2};
inline constexpr WireField kTotal{"total", 23, 4};
inline constexpr WireField kRecordSize{"record_size", 27, 4};
}  // namespace opt_rsp_head

namespace opt_sync_rsp {
inline constexpr WireField kQryNum{"qry_num", 31, 4};
inline constexpr WireField kQryFlag{"qry_flag", 35, 1};
inline constexpr WireField kFundAccount{"fund_account", 36, 8};
inline constexpr WireField kStartSeq{"start_seq", 44, 4};
inline constexpr std::size_t kRowsAt = 48;
}  // namespace opt_sync_rsp

namespace opt_sync_row {
inline constexpr std::size_t kLength = 10 + kOptLongestPush;
inline constexpr WireField kPosition{"position", 0, 4};
inline constexpr WireField kMsgId{"msg_id", 4, 2};
inline constexpr WireField kSeq{"seq", 6, 4};
inline constexpr WireField kPush{"push", 10, kOptLongestPush};
}  // namespace opt_sync_row

namespace opt_subscribe_req {
inline constexpr std::size_t kLength = 28;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestSeq{"request_seq", 8, 8};
inline constexpr WireField kStartSeq{"start_seq", 16, 4};
inline constexpr WireField kFundAccount{"fund_account", 20, 8};
}  // namespace opt_subscribe_req

// The library reads nothing of the subscription answer; the sim echoes the request.
namespace opt_subscribe_rsp {
inline constexpr std::size_t kLength = 28;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestSeq{"request_seq", 8, 8};
inline constexpr WireField kStartSeq{"start_seq", 16, 4};
inline constexpr WireField kFundAccount{"fund_account", 20, 8};
}  // namespace opt_subscribe_rsp

// The head every order-like request starts with (the fund transfer has the same first fields).
namespace opt_order_head {
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kFundAccount{"fund_account", 8, 8};
inline constexpr WireField kOrderId{"order_id", 16, 8};
}  // namespace opt_order_head

// ---- order-like requests, as the order server reads them -----------------------------------

namespace opt_insert_req {  // 0x402
inline constexpr std::size_t kLength = 324;
inline constexpr WireField kClientOrderId{"order_client_id", 24, 8};
inline constexpr WireField kTicker{"ticker", 32, 9};
inline constexpr WireField kMarket{"market", 41, 4};
inline constexpr WireField kPrice{"price", 45, 8};
inline constexpr WireField kQuantity{"quantity", 53, 8};
inline constexpr WireField kPriceType{"price_type", 61, 2};
inline constexpr WireField kCovered{"covered", 63, 1};
inline constexpr WireField kSide{"side", 64, 1};
inline constexpr WireField kEffect{"position_effect", 65, 1};
}  // namespace opt_insert_req

namespace opt_cancel_req {  // 0x403
inline constexpr std::size_t kLength = 311;
inline constexpr WireField kOrigOrderId{"orig_order_id", 36, 8};
}  // namespace opt_cancel_req

namespace opt_lock_req {  // 0x404
inline constexpr std::size_t kLength = 311;
inline constexpr WireField kClientOrderId{"order_client_id", 24, 8};
inline constexpr WireField kQuantity{"quantity", 32, 8};
inline constexpr WireField kTicker{"ticker", 40, 7};
inline constexpr WireField kSide{"lock_side", 47, 1};
inline constexpr WireField kMarket{"market", 48, 4};
}  // namespace opt_lock_req

namespace opt_comb_req {  // 0x405
inline constexpr std::size_t kLength = 408;
inline constexpr WireField kClientOrderId{"order_client_id", 24, 8};
inline constexpr WireField kQuantity{"quantity", 32, 8};
inline constexpr WireField kMarket{"market", 40, 4};
inline constexpr WireField kSide{"side", 44, 1};
inline constexpr WireField kStrategy{"strategy_id", 45, 9};
inline constexpr WireField kCombNum{"comb_num", 54, 17};
inline constexpr WireField kLegCount{"num_legs", 71, 2};
inline constexpr std::size_t kLegSideAt = 73;     // 4 x 1
inline constexpr std::size_t kLegCoveredAt = 77;  // 4 x 1
inline constexpr std::size_t kLegQtyAt = 81;      // 4 x 8
inline constexpr std::size_t kLegSecurityAt = 113;  // 4 x 9
}  // namespace opt_comb_req

namespace opt_execute_req {  // 0x406; 0x407 has the second security at 49 and the rest 9 bytes on
inline constexpr std::size_t kLength = 311;
inline constexpr std::size_t kCombinedLength = 320;
inline constexpr WireField kClientOrderId{"order_client_id", 24, 8};
inline constexpr WireField kQuantity{"quantity", 32, 8};
inline constexpr WireField kSecurity{"security", 40, 9};
inline constexpr WireField kSecurity2{"security_2", 49, 9};
inline constexpr WireField kMarket{"market", 49, 4};
inline constexpr WireField kCombinedMarket{"market", 58, 4};
}  // namespace opt_execute_req

namespace opt_transfer_req {  // 0x45b
inline constexpr std::size_t kLength = 41;
inline constexpr WireField kAmount{"amt", 32, 8};
inline constexpr WireField kSide{"side", 40, 1};
}  // namespace opt_transfer_req

// ---- pushes ----------------------------------------------------------------------------------

// Every push starts with the session number, the fund account and the order id.
namespace opt_push_head {
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kFundAccount{"fund_acc_id", 8, 8};
inline constexpr WireField kOrderId{"oxa_id", 16, 8};
inline constexpr WireField kClientOrderId{"order_client_id", 24, 8};
}  // namespace opt_push_head

namespace opt_order_push {  // 0x502
inline constexpr std::size_t kLength = 439;
inline constexpr WireField kLocalNo{"local_no", 40, 8};
inline constexpr WireField kTicker{"ticker", 59, 9};
inline constexpr WireField kMarket{"market", 68, 4};
inline constexpr WireField kPrice{"price", 72, 8};
inline constexpr WireField kQuantity{"quantity", 80, 8};
inline constexpr WireField kPriceType{"price_type", 88, 2};
inline constexpr WireField kCovered{"covered", 90, 1};
inline constexpr WireField kSide{"side", 91, 1};
inline constexpr WireField kEffect{"position_effect", 92, 1};
inline constexpr WireField kTradedQty{"traded_qty", 101, 8};
inline constexpr WireField kTradedAmount{"traded_amount", 109, 8};
inline constexpr WireField kStatus{"status", 117, 1};
inline constexpr WireField kErrorCode{"error_code", 118, 4};
inline constexpr WireField kErrorText{"error_text", 304, 64};
inline constexpr WireField kInsertTime{"insert_time", 368, 8};
inline constexpr WireField kUpdateTime{"update_time", 376, 8};
inline constexpr WireField kCancelTime{"cancel_time", 384, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 392, 4};
inline constexpr WireField kCancelOrderId{"cancel_oxa_id", 423, 8};
inline constexpr WireField kCancelClientId{"cancel_client_id", 431, 8};
}  // namespace opt_order_push

namespace opt_trade_push {  // 0x510
inline constexpr std::size_t kLength = 185;
inline constexpr WireField kSystemId{"system_id", 32, 8};
inline constexpr WireField kSeqNo{"seq_no", 51, 8};
inline constexpr WireField kTicker{"security_id", 59, 9};
inline constexpr WireField kMarket{"exchange_id", 68, 4};
inline constexpr WireField kExecId{"exec_id", 72, 17};
inline constexpr WireField kPrice{"last_price", 89, 8};
inline constexpr WireField kQuantity{"last_qty", 97, 8};
inline constexpr WireField kTradeTime{"trade_time", 105, 8};
inline constexpr WireField kAmount{"total_value_trade", 113, 8};
inline constexpr WireField kReportIndex{"report_index", 121, 8};
inline constexpr WireField kSide{"side", 129, 1};
inline constexpr WireField kEffect{"position_effect", 130, 1};
inline constexpr WireField kStatus{"status", 131, 1};
inline constexpr WireField kBranchPbu{"pbu", 132, 7};
inline constexpr WireField kCovered{"covered", 156, 1};
inline constexpr WireField kPriceType{"price_type", 183, 2};
}  // namespace opt_trade_push

namespace opt_cancel_push {  // 0x506
inline constexpr std::size_t kLength = 453;
inline constexpr WireField kCancelOrderId{"order_cancel_oxa_id", 16, 8};
inline constexpr WireField kOrigOrderId{"orig.oxa_id", 59, 8};
inline constexpr WireField kErrorCode{"error_code", 144, 4};
inline constexpr WireField kErrorText{"error_text", 330, 64};
}  // namespace opt_cancel_push

namespace opt_lock_push {  // 0x508
inline constexpr std::size_t kLength = 293;
inline constexpr WireField kLocalNo{"local_no", 40, 8};
inline constexpr WireField kQuantity{"quantity", 59, 8};
inline constexpr WireField kTicker{"ticker", 67, 7};
inline constexpr WireField kEffect{"lock_effect", 74, 1};
inline constexpr WireField kMarket{"market", 75, 4};
inline constexpr WireField kLeftQty{"left_qty", 79, 8};
inline constexpr WireField kTradedQty{"traded_qty", 87, 8};
inline constexpr WireField kStatus{"status", 103, 1};
inline constexpr WireField kErrorCode{"error_code", 104, 4};
inline constexpr WireField kInsertTime{"insert_time", 237, 8};
inline constexpr WireField kUpdateTime{"update_time", 245, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 261, 4};
}  // namespace opt_lock_push

namespace opt_execute_push {  // 0x50c
inline constexpr std::size_t kLength = 425;
inline constexpr WireField kLocalNo{"local_no", 40, 8};
inline constexpr WireField kQuantity{"quantity", 59, 8};
inline constexpr WireField kTicker{"ticker", 67, 9};
inline constexpr WireField kMarket{"market", 76, 4};
inline constexpr WireField kLeftQty{"left_qty", 80, 8};
inline constexpr WireField kStatus{"status", 104, 1};
inline constexpr WireField kErrorCode{"error_code", 286, 4};
inline constexpr WireField kInsertTime{"insert_time", 354, 8};
inline constexpr WireField kUpdateTime{"update_time", 362, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 378, 4};
}  // namespace opt_execute_push

namespace opt_combined_execute_push {  // 0x50e
inline constexpr std::size_t kLength = 615;
inline constexpr WireField kSystemId{"system_id", 40, 8};
inline constexpr WireField kQuantity{"ord_qty", 59, 8};
inline constexpr WireField kSecurity1{"leg_security[0]", 67, 9};
inline constexpr WireField kSecurity2{"leg_security[1]", 76, 9};
inline constexpr WireField kMarket{"exchange_id", 85, 4};
inline constexpr WireField kLeftQty{"leaves_qty", 89, 8};
inline constexpr WireField kStatus{"status", 113, 1};
inline constexpr WireField kErrorCode{"error_code", 114, 4};
inline constexpr WireField kInsertTime{"insert_time", 544, 8};
inline constexpr WireField kUpdateTime{"update_time", 552, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 568, 4};
}  // namespace opt_combined_execute_push

namespace opt_comb_order_push {  // 0x50a
inline constexpr std::size_t kLength = 329;
inline constexpr WireField kSystemId{"system_id", 40, 8};
inline constexpr WireField kQuantity{"ord_qty", 59, 8};
inline constexpr WireField kMarket{"exchange_id", 67, 4};
inline constexpr WireField kSide{"side", 71, 1};
inline constexpr WireField kStrategy{"combination_security_id", 72, 9};
inline constexpr WireField kCombNum{"secondary_order_id", 81, 17};
inline constexpr WireField kLegCount{"no_legs", 98, 2};
inline constexpr std::size_t kLegSideAt = 100;
inline constexpr std::size_t kLegCoveredAt = 104;
inline constexpr std::size_t kLegQtyAt = 108;
inline constexpr std::size_t kLegSecurityAt = 140;
inline constexpr std::size_t kLegCallPutAt = 176;
inline constexpr WireField kLeftQty{"leaves_qty", 180, 8};
inline constexpr WireField kTradedQty{"trade_qty", 188, 8};
inline constexpr WireField kTradedAmount{"trade_amt", 196, 8};
inline constexpr WireField kStatus{"status", 204, 1};
inline constexpr WireField kErrorCode{"error_code", 205, 4};
inline constexpr WireField kInsertTime{"insert_time", 273, 8};
inline constexpr WireField kUpdateTime{"update_time", 281, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 297, 4};
inline constexpr WireField kFlag{"comb_flag", 326, 1};
}  // namespace opt_comb_order_push

namespace opt_comb_trade_push {  // 0x511
inline constexpr std::size_t kLength = 231;
inline constexpr WireField kSystemId{"system_id", 32, 8};
inline constexpr WireField kSeqNo{"seq_no", 51, 8};
inline constexpr WireField kMarket{"exchange_id", 59, 4};
inline constexpr WireField kExecId{"exec_id", 63, 17};
inline constexpr WireField kQuantity{"last_qty", 80, 8};
inline constexpr WireField kTradeTime{"trade_time", 88, 8};
inline constexpr WireField kAmount{"total_value_trade", 96, 8};
inline constexpr WireField kReportIndex{"report_index", 104, 8};
inline constexpr WireField kSide{"side", 112, 1};
inline constexpr WireField kStrategy{"combination_security_id", 113, 9};
inline constexpr WireField kCombNum{"secondary_order_id", 122, 17};
inline constexpr WireField kLegCount{"no_legs", 139, 2};
inline constexpr std::size_t kLegSideAt = 141;
inline constexpr std::size_t kLegCoveredAt = 145;
inline constexpr std::size_t kLegQtyAt = 149;
inline constexpr std::size_t kLegSecurityAt = 181;
inline constexpr std::size_t kLegCallPutAt = 217;
inline constexpr WireField kBranchPbu{"pub", 221, 8};
inline constexpr WireField kFlag{"comb_flag", 229, 1};
}  // namespace opt_comb_trade_push

namespace opt_transfer_push {  // 0x565
inline constexpr std::size_t kLength = 130;
inline constexpr WireField kDestFund{"dest_fund_id", 8, 8};
inline constexpr WireField kSerialNo{"serial_no", 16, 8};
inline constexpr WireField kAmount{"transfer_amt", 32, 8};
inline constexpr WireField kSide{"side", 40, 1};
inline constexpr WireField kErrorCode{"error_code", 41, 4};
inline constexpr WireField kErrorText{"error_text", 45, 64};
inline constexpr WireField kTime{"transfer_time", 109, 8};
inline constexpr WireField kStatus{"status", 117, 1};
}  // namespace opt_transfer_push

// Push message ids.
constexpr std::uint32_t kMsgOptOrderPush = 0x502;
constexpr std::uint32_t kMsgOptCancelPush = 0x506;
constexpr std::uint32_t kMsgOptLockPush = 0x508;
constexpr std::uint32_t kMsgOptCombOrderPush = 0x50a;
constexpr std::uint32_t kMsgOptExecutePush = 0x50c;
constexpr std::uint32_t kMsgOptCombinedExecutePush = 0x50e;
constexpr std::uint32_t kMsgOptTradePush = 0x510;
constexpr std::uint32_t kMsgOptCombTradePush = 0x511;
constexpr std::uint32_t kMsgOptTransferPush = 0x565;

// Status characters the order server writes.
namespace opt_code {
inline constexpr char kWorking = '2';
inline constexpr char kFilled = '8';
inline constexpr char kCancelled = '6';
inline constexpr char kRejected = '9';
}  // namespace opt_code

}  // namespace oxa_sim
