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

// Order-like requests: recorded, not answered.
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

}  // namespace oxa_sim
