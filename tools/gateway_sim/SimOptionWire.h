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

// ---- queries -----------------------------------------------------------------------------------

// Query requests: the head every query starts with, then the fields each family reads.
namespace opt_qry_req {
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestId{"request_id", 8, 8};
inline constexpr WireField kPosition{"qry_pos", 16, 4};
inline constexpr WireField kCount{"qry_num", 20, 4};
inline constexpr WireField kFlag{"qry_flag", 24, 1};
inline constexpr WireField kFundAccount{"fund_acc_id", 25, 8};
}  // namespace opt_qry_req

namespace opt_qry_order_req {  // 0x41d, 0x44d (0x41e, 0x44e share all but the last two)
inline constexpr WireField kFundIndex{"fund_acc_idx", 41, 4};
inline constexpr WireField kSecurity{"security_id", 49, 9};
inline constexpr WireField kOrderId{"oxa_id", 165, 8};
inline constexpr WireField kTradeOrderId{"oxa_id", 174, 8};  // 0x41e
inline constexpr WireField kBegin{"begin_time", 182, 8};
inline constexpr WireField kEnd{"end_time", 190, 8};
inline constexpr WireField kUnfinished{"unfinished", 198, 4};
}  // namespace opt_qry_order_req

namespace opt_qry_position_req {  // 0x41f, 0x450
inline constexpr WireField kFundIndex{"fund_acc_idx", 41, 4};
inline constexpr WireField kTicker{"ticker", 45, 9};
inline constexpr WireField kMarket{"market", 54, 4};
}  // namespace opt_qry_position_req

namespace opt_qry_transfer_req {  // 0x41b
inline constexpr WireField kOrderId{"order_oxa_id", 33, 8};
}  // namespace opt_qry_transfer_req

namespace opt_qry_auction_req {  // 0x426
inline constexpr WireField kMarket{"market", 41, 4};
inline constexpr WireField kTicker{"ticker", 45, 9};
}  // namespace opt_qry_auction_req

namespace opt_qry_comb_req {  // 0x417, 0x418
inline constexpr WireField kFundIndex{"fund_acc_idx", 33, 4};
inline constexpr WireField kCombNum{"comb_num", 37, 17};
inline constexpr WireField kValue1{"value_1", 54, 8};
inline constexpr WireField kValue2{"value_2", 62, 8};
inline constexpr WireField kUnfinished{"unfinished", 70, 1};  // 0x417
inline constexpr WireField kOrderId{"oxa_id", 71, 8};          // 0x417
inline constexpr WireField kTradeOrderId{"oxa_id", 70, 8};     // 0x418
}  // namespace opt_qry_comb_req

namespace opt_qry_comb_position_req {  // 0x424
inline constexpr WireField kFundIndex{"fund_acc_idx", 41, 4};
inline constexpr WireField kMarket{"market", 45, 4};
inline constexpr WireField kCombNum{"comb_num", 155, 17};
}  // namespace opt_qry_comb_position_req

namespace opt_qry_exec_position_req {  // 0x41a
inline constexpr WireField kMarket{"market", 33, 4};
inline constexpr WireField kSecurity1{"security_1", 37, 9};
inline constexpr WireField kSecurity2{"security_2", 46, 9};
}  // namespace opt_qry_exec_position_req

// Answers: the head (opt_rsp_head), qry_num at 31, qry_flag at 35, then each family's echo.
namespace opt_qry_rsp {
inline constexpr WireField kQryNum{"qry_num", 31, 4};
inline constexpr WireField kQryFlag{"qry_flag", 35, 1};
}  // namespace opt_qry_rsp

// Rows: every row begins with its position.
inline constexpr WireField kRowPosition{"position", 0, 4};

namespace opt_order_row {  // 0x527, 0x557
inline constexpr std::size_t kLength = 1089;
inline constexpr WireField kLocalNo{"local_no", 39, 8};
inline constexpr WireField kStatus{"status", 47, 1};
inline constexpr WireField kMarket{"market", 67, 4};
inline constexpr WireField kBusiness{"business_code", 139, 4};
inline constexpr WireField kPriceCode{"price_code", 143, 4};
inline constexpr WireField kTicker{"ticker", 151, 16};
inline constexpr WireField kSecurity1{"security_1", 499, 8};
inline constexpr WireField kSecurity2{"security_2", 516, 8};
inline constexpr WireField kPrice{"price", 568, 8};
inline constexpr WireField kQuantity{"quantity", 576, 8};
inline constexpr WireField kInsertTime{"insert_time", 616, 8};
inline constexpr WireField kLeftQty{"left_qty", 624, 8};
inline constexpr WireField kTradedQty{"traded_qty", 632, 8};
inline constexpr WireField kTradedAmount{"traded_amount", 640, 8};
inline constexpr WireField kUpdateTime{"update_time", 1037, 8};
inline constexpr WireField kCancelTime{"cancel_time", 1045, 8};
inline constexpr WireField kSubmitStatus{"submit_status", 1053, 4};
inline constexpr WireField kClientOrderId{"order_client_id", 1057, 8};
inline constexpr WireField kOrderId{"oxa_id", 1065, 8};
inline constexpr WireField kCancelClientId{"cancel_client_id", 1073, 8};
inline constexpr WireField kCancelOrderId{"cancel_oxa_id", 1081, 8};
}  // namespace opt_order_row

namespace opt_trade_row {  // 0x528, 0x558
inline constexpr std::size_t kLength = 979;
inline constexpr WireField kExchangeNo{"exchange_no", 39, 8};
inline constexpr WireField kMarket{"market", 65, 4};
inline constexpr WireField kBranchPbu{"pbu", 69, 7};
inline constexpr WireField kBusiness{"business_code", 137, 4};
inline constexpr WireField kPriceCode{"price_code", 141, 4};
inline constexpr WireField kTicker{"ticker", 149, 16};
inline constexpr WireField kExecId{"exec_id", 866, 17};
inline constexpr WireField kPrice{"price", 883, 8};
inline constexpr WireField kQuantity{"quantity", 891, 8};
inline constexpr WireField kAmount{"amount", 899, 8};
inline constexpr WireField kTime{"trade_time", 947, 8};
inline constexpr WireField kReportIndex{"report_index", 955, 8};
inline constexpr WireField kClientOrderId{"order_client_id", 963, 8};
inline constexpr WireField kOrderId{"oxa_id", 971, 8};
}  // namespace opt_trade_row

namespace opt_position_row {  // 0x529, 0x55a
inline constexpr std::size_t kLength = 596;
inline constexpr WireField kMarket{"market", 22, 4};
inline constexpr WireField kTicker{"ticker", 95, 16};
inline constexpr WireField kName{"name", 153, 64};
inline constexpr WireField kDirection{"direction", 410, 1};
inline constexpr WireField kYesterday{"yesterday", 412, 8};
inline constexpr WireField kTotal{"total", 420, 8};
inline constexpr WireField kSellable{"sellable", 428, 8};
inline constexpr WireField kAvgPrice{"avg_price", 508, 8};
inline constexpr WireField kPnl{"pnl", 588, 8};
}  // namespace opt_position_row

namespace opt_transfer_row {  // 0x526
inline constexpr std::size_t kLength = 33;
inline constexpr WireField kOrderId{"order_oxa_id", 4, 8};
inline constexpr WireField kType{"transfer_type", 12, 1};
inline constexpr WireField kAmount{"amount", 13, 8};
inline constexpr WireField kStatus{"oper_status", 21, 4};
inline constexpr WireField kTime{"transfer_time", 25, 8};
}  // namespace opt_transfer_row

namespace opt_asset_record {  // 0x519 and 0x56c, at 35: the public asset layout
inline constexpr std::size_t kAt = 35;
inline constexpr std::size_t kLength = 412;
inline constexpr WireField kTotalAsset{"total_asset", kAt + 0, 8};
inline constexpr WireField kBuyingPower{"buying_power", kAt + 8, 8};
inline constexpr WireField kWithholding{"withholding_amount", kAt + 56, 8};
inline constexpr WireField kAccountType{"account_type", kAt + 64, 4};
inline constexpr WireField kFrozenMargin{"frozen_margin", kAt + 68, 8};
inline constexpr WireField kBalance{"banlance", kAt + 116, 8};
inline constexpr WireField kPreferred{"preferred_amount", kAt + 156, 8};
}  // namespace opt_asset_record

namespace opt_auction_row {  // 0x52f
inline constexpr std::size_t kLength = 557;
inline constexpr WireField kTicker{"ticker", 25, 9};
inline constexpr WireField kMarket{"market", 34, 4};
inline constexpr WireField kSymbol{"symbol", 38, 256};
inline constexpr WireField kContractId{"contract_id", 294, 41};
inline constexpr WireField kUnderlying{"underlying", 335, 7};
inline constexpr WireField kListDate{"list_date", 342, 9};
inline constexpr WireField kLastTradeDate{"last_trade_date", 351, 9};
inline constexpr WireField kCallPut{"call_or_put", 360, 1};
inline constexpr WireField kDeliveryDay{"delivery_day", 361, 9};
inline constexpr WireField kExerciseType{"exercise_type", 370, 1};
inline constexpr WireField kExerciseBegin{"exercise_begin", 371, 9};
inline constexpr WireField kExerciseEnd{"exercise_end", 380, 9};
inline constexpr WireField kExercisePrice{"exercise_price", 389, 8};
inline constexpr WireField kQtyUnit{"qty_unit", 405, 8};
inline constexpr WireField kContractUnit{"contract_unit", 413, 8};
inline constexpr WireField kContractPosition{"contract_position", 421, 8};
inline constexpr WireField kPrevClose{"prev_close", 429, 8};
inline constexpr WireField kPrevClearing{"prev_clearing", 437, 8};
inline constexpr WireField kLmtMin{"lmt_min", 445, 8};
inline constexpr WireField kLmtBuyMax{"lmt_buy_max", 453, 8};
inline constexpr WireField kLmtSellMax{"lmt_sell_max", 461, 8};
inline constexpr WireField kMktMin{"mkt_min", 469, 8};
inline constexpr WireField kMktBuyMax{"mkt_buy_max", 477, 8};
inline constexpr WireField kMktSellMax{"mkt_sell_max", 485, 8};
inline constexpr WireField kPriceTick{"price_tick", 509, 8};
inline constexpr WireField kUpperLimit{"upper_limit", 517, 8};
inline constexpr WireField kLowerLimit{"lower_limit", 525, 8};
inline constexpr WireField kSellMargin{"sell_margin", 533, 8};
inline constexpr WireField kMarginRatio1{"margin_ratio_1", 541, 8};
inline constexpr WireField kMarginRatio2{"margin_ratio_2", 549, 8};
}  // namespace opt_auction_row

namespace opt_comb_order_row {  // 0x522
inline constexpr std::size_t kLength = 245;
inline constexpr WireField kOrderId{"oxa_id", 4, 8};
inline constexpr WireField kClientOrderId{"order_client_id", 12, 8};
inline constexpr WireField kMarket{"market", 36, 4};
inline constexpr WireField kQuantity{"quantity", 40, 8};
inline constexpr WireField kBusiness{"business_code", 48, 4};
inline constexpr WireField kTradedQty{"traded_qty", 52, 8};
inline constexpr WireField kHasLeft{"has_left", 60, 1};
inline constexpr WireField kLeftQty{"left_qty", 61, 8};
inline constexpr WireField kInsertTime{"insert_time", 69, 8};
inline constexpr WireField kUpdateTime{"update_time", 77, 8};
inline constexpr WireField kCancelTime{"cancel_time", 85, 8};
inline constexpr WireField kAmount{"amount", 93, 8};
inline constexpr WireField kLocalNo{"local_no", 101, 8};
inline constexpr WireField kStatus{"status", 109, 1};
inline constexpr WireField kSubmitStatus{"submit_status", 110, 4};
inline constexpr WireField kStrategy{"strategy_id", 114, 9};
inline constexpr WireField kCombNum{"comb_num", 131, 17};
inline constexpr std::size_t kLegsAt = 148;  // 4 x 24: security 17, call/put, side, covered, qty int32
inline constexpr WireField kFlag{"comb_flag", 244, 1};
}  // namespace opt_comb_order_row

namespace opt_comb_trade_row {  // 0x523
inline constexpr std::size_t kLength = 229;
inline constexpr WireField kSystemId{"system_id", 12, 8};
inline constexpr WireField kMarket{"market", 20, 4};
inline constexpr WireField kExecId{"exec_id", 24, 17};
inline constexpr WireField kQuantity{"quantity", 41, 8};
inline constexpr WireField kTime{"trade_time", 49, 8};
inline constexpr WireField kAmount{"amount", 57, 8};
inline constexpr WireField kReportIndex{"report_index", 65, 8};
inline constexpr WireField kSide{"side", 73, 1};
inline constexpr WireField kStrategy{"strategy_id", 74, 9};
inline constexpr WireField kCombNum{"comb_num", 91, 17};
inline constexpr std::size_t kLegsAt = 108;
inline constexpr WireField kBranchPbu{"pbu", 204, 8};
inline constexpr WireField kClientOrderId{"order_client_id", 212, 8};
inline constexpr WireField kOrderId{"oxa_id", 220, 8};
inline constexpr WireField kFlag{"comb_flag", 228, 1};
}  // namespace opt_comb_trade_row

namespace opt_comb_position_row {  // 0x52c
inline constexpr std::size_t kLength = 322;
inline constexpr WireField kMarket{"market", 22, 4};
inline constexpr WireField kCombNum{"comb_num", 95, 17};
inline constexpr WireField kStrategy{"strategy_id", 112, 10};
inline constexpr WireField kStrategyName{"strategy_name", 129, 32};
inline constexpr WireField kYesterday{"yesterday", 170, 8};
inline constexpr WireField kTotal{"total", 178, 8};
inline constexpr WireField kAvailable{"available", 186, 8};
inline constexpr WireField kLegCount{"legs", 266, 2};
inline constexpr std::size_t kLegsAt = 268;  // 2 x 27: security 17, call/put, side, qty int64
}  // namespace opt_comb_position_row

namespace opt_strategy_row {  // 0x524
inline constexpr std::size_t kLength = 360;
inline constexpr WireField kMarket{"market", 4, 1};
inline constexpr WireField kId{"strategy_id", 8, 17};
inline constexpr WireField kName{"strategy_name", 25, 41};
inline constexpr WireField kUnderlyingType{"underlying_type", 66, 1};
inline constexpr WireField kSplitType{"auto_sep_type", 67, 1};
inline constexpr WireField kExpireType{"expire_date_type", 68, 9};
inline constexpr WireField kLegCount{"legs", 326, 2};
inline constexpr std::size_t kLegsAt = 328;  // 4 x 8: call/put, side, price seq u16, expiry seq i16, qty i16
}  // namespace opt_strategy_row

namespace opt_exec_position_row {  // 0x525
inline constexpr std::size_t kLength = 238;
inline constexpr WireField kMarket{"market", 4, 4};
inline constexpr WireField kCode1{"code_1", 8, 9};
inline constexpr WireField kName1{"name_1", 17, 65};
inline constexpr WireField kCallPut1{"call_or_put_1", 82, 1};
inline constexpr WireField kAvl1{"avl_qty_1", 83, 8};
inline constexpr WireField kOrigOwn1{"orig_own_qty_1", 91, 8};
inline constexpr WireField kOwn1{"own_qty_1", 99, 8};
inline constexpr WireField kCode2{"code_2", 107, 9};
inline constexpr WireField kName2{"name_2", 116, 65};
inline constexpr WireField kCallPut2{"call_or_put_2", 181, 1};
inline constexpr WireField kAvl2{"avl_qty_2", 182, 8};
inline constexpr WireField kOrigOwn2{"orig_own_qty_2", 190, 8};
inline constexpr WireField kOwn2{"own_qty_2", 198, 8};
inline constexpr WireField kNet{"net_qty", 206, 8};
inline constexpr WireField kOrderQty{"order_qty", 214, 8};
inline constexpr WireField kConfirm{"confirm_qty", 222, 8};
inline constexpr WireField kAvl{"avl_qty", 230, 8};
}  // namespace opt_exec_position_row

}  // namespace oxa_sim
