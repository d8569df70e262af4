// The gateway's own record layouts: one {field, offset, size} table per message. The sim builds
// and reads bodies from these tables only (never from the library's structs) so that a layout
// fault on one side shows up as a failed test instead of being mirrored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oxa_sim {

struct WireField {
  const char* name;
  std::size_t offset;
  std::size_t size;
};

struct WireLayout {
  const char* name;
  std::size_t length;
  const WireField* fields;
  std::size_t count;
};

constexpr std::uint32_t kMsgLogin = 0xf0001;
constexpr std::uint32_t kMsgPushReg = 0xf0002;
constexpr std::uint32_t kMsgLogoutReq = 0xf0007;
constexpr std::uint32_t kMsgLogoutRsp = 0xf0008;
constexpr std::uint32_t kMsgOffline = 0xf000c;

namespace login_req {
inline constexpr std::size_t kLength = 857;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kPassword{"password", 8, 512};
inline constexpr WireField kSocketType{"socket_type", 520, 2};
inline constexpr WireField kMarker2{"marker_2", 522, 1};
inline constexpr WireField kApiVersion{"api_version", 523, 4};
inline constexpr WireField kZero3{"zero_3", 527, 3};
inline constexpr WireField kMarker1{"marker_1", 530, 1};
inline constexpr WireField kTerminalInfo{"terminal_info", 531, 256};
inline constexpr WireField kApiText{"api_text", 787, 64};
inline constexpr WireField kClientId{"client_id", 851, 2};
inline constexpr WireField kZero4{"zero_4", 853, 4};
inline constexpr WireField kFields[] = {kFundAccount, kPassword,     kSocketType, kMarker2,
                                        kApiVersion,  kZero3,        kMarker1,    kTerminalInfo,
                                        kApiText,     kClientId,     kZero4};
}  // namespace login_req

namespace login_rsp {
inline constexpr std::size_t kLength = 577;
inline constexpr WireField kFundId{"fundid", 0, 8};
inline constexpr WireField kProtocolMode{"protocol_mod", 8, 2};
inline constexpr WireField kErrorCode{"error_code", 10, 4};
inline constexpr WireField kHqtrsIp{"hqtrs_ip", 14, 16};
inline constexpr WireField kHqtrsPort{"hqtrs_port", 30, 2};
inline constexpr WireField kGroupId{"group_id", 32, 2};
inline constexpr WireField kMemberId{"member_id", 34, 2};
inline constexpr WireField kFuncType{"nFuncType", 36, 1};
inline constexpr WireField kOptionValue{"option_value", 552, 8};
inline constexpr WireField kFields[] = {kFundId,  kProtocolMode, kErrorCode, kHqtrsIp,   kHqtrsPort,
                                        kGroupId, kMemberId,     kFuncType,  kOptionValue};
}  // namespace login_rsp

namespace push_reg_req {
inline constexpr std::size_t kLength = 8;
inline constexpr WireField kFundAccount{"fund_account", 0, 8};
inline constexpr WireField kFields[] = {kFundAccount};
}  // namespace push_reg_req

namespace push_reg_rsp {
inline constexpr std::size_t kLength = 12;
inline constexpr WireField kFundId{"fundid", 0, 8};
inline constexpr WireField kError{"error", 8, 4};
inline constexpr WireField kFields[] = {kFundId, kError};
}  // namespace push_reg_rsp

namespace logout_req {
inline constexpr std::size_t kLength = 12;
inline constexpr WireField kFundAccount{"nFundAcc", 0, 8};
inline constexpr WireField kProtocolType{"nprotocol_type", 8, 2};
inline constexpr WireField kClientId{"nClientID", 10, 2};
inline constexpr WireField kFields[] = {kFundAccount, kProtocolType, kClientId};
}  // namespace logout_req

namespace logout_rsp {
inline constexpr std::size_t kLength = 16;
inline constexpr WireField kFundId{"fundid", 0, 8};
inline constexpr WireField kUnread{"unread", 8, 4};
inline constexpr WireField kError{"error", 12, 4};
inline constexpr WireField kFields[] = {kFundId, kUnread, kError};
}  // namespace logout_rsp

namespace offline_cmd {
inline constexpr std::size_t kLength = 16;
inline constexpr WireField kRequestId{"request_id", 0, 8};
inline constexpr WireField kTradingDay{"trading_day", 8, 8};
inline constexpr WireField kFields[] = {kRequestId, kTradingDay};
}  // namespace offline_cmd

// ---- spot session -----------------------------------------------------------------------

constexpr std::uint32_t kMsgSpotSubscribe = 0x103;
constexpr std::uint32_t kMsgSpotSubscribeEnd = 0x104;
constexpr std::uint32_t kMsgSpotLogin = 0x10a;
constexpr std::uint32_t kMsgSpotLoginRsp = 0x10b;
constexpr std::uint32_t kMsgSpotSync = 0x20010;
constexpr std::uint32_t kMsgSpotSyncRsp = 0x20011;

// Spot pushes and their record lengths, as a stored push carries them.
constexpr std::uint32_t kMsgSpotOrderPush = 0x121;
constexpr std::uint32_t kMsgSpotCancelErrorPush = 0x122;
constexpr std::uint32_t kMsgSpotTradePush = 0x123;
constexpr std::uint32_t kMsgSpotFundTransferPush = 0x124;
constexpr std::uint32_t kMsgSpotHoldingChangePush = 0x146;
constexpr std::size_t kSpotOrderPushLength = 160;
constexpr std::size_t kSpotCancelErrorPushLength = 122;
constexpr std::size_t kSpotTradePushLength = 121;
constexpr std::size_t kSpotFundTransferPushLength = 99;
constexpr std::size_t kSpotHoldingChangePushLength = 67;

namespace spot_login_req {
inline constexpr std::size_t kLength = 306;
inline constexpr WireField kRequestNo{"request_no", 0, 8};
inline constexpr WireField kFundAccount{"fund_account", 8, 8};
inline constexpr WireField kVersion{"version", 16, 4};
inline constexpr WireField kZero28{"zero_28", 20, 28};
inline constexpr WireField kTerminalInfo{"terminal_info", 48, 256};
inline constexpr WireField kTransport{"transport", 304, 1};
inline constexpr WireField kClientId{"client_id", 305, 1};
inline constexpr WireField kFields[] = {kRequestNo, kFundAccount, kVersion,  kZero28,
                                        kTerminalInfo, kTransport, kClientId};
}  // namespace spot_login_req

// Bytes 0-7 echo the request number; 16-23 and 28-31 stay zero.
namespace spot_login_rsp {
inline constexpr std::size_t kLength = 60;
inline constexpr WireField kRequestNo{"request_no", 0, 8};
inline constexpr WireField kFundAccount{"fund_account", 8, 8};
inline constexpr WireField kTradingDay{"trading_day", 24, 4};
inline constexpr WireField kFundIndex{"fund_index", 32, 4};
inline constexpr WireField kOrderNoIndex{"order_no_index", 36, 4};
inline constexpr WireField kSessionNo{"session_no", 40, 4};
inline constexpr WireField kErrorCode{"error_code", 44, 4};
inline constexpr WireField kNodeId{"node_id", 48, 4};
inline constexpr WireField kOrderLimit{"order_limit", 52, 4};
inline constexpr WireField kQueryLimit{"query_limit", 56, 4};
inline constexpr WireField kFields[] = {kRequestNo,    kFundAccount, kTradingDay, kFundIndex,
                                        kOrderNoIndex, kSessionNo,   kErrorCode,  kNodeId,
                                        kOrderLimit,   kQueryLimit};
}  // namespace spot_login_rsp

namespace sync_req {
inline constexpr std::size_t kLength = 52;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestNo{"request_no", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kZero7{"zero_7", 25, 7};
inline constexpr WireField kCounter{"counter", 32, 4};
inline constexpr WireField kPerAnswer{"per_answer", 36, 4};
inline constexpr WireField kStart{"start", 40, 8};
inline constexpr WireField kFlag{"flag", 48, 4};
inline constexpr WireField kFields[] = {kSessionNo, kRequestNo, kFundAccount, kClientId, kZero7,
                                        kCounter,   kPerAnswer, kStart,       kFlag};
}  // namespace sync_req

// The head echoes the request's session, request number, account and client id.
namespace sync_rsp {
inline constexpr std::size_t kHeadLength = 56;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestNo{"request_no", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kProgressFirst{"progress_first", 32, 4};
inline constexpr WireField kProgressSecond{"progress_second", 36, 4};
inline constexpr WireField kCount{"count", 44, 4};
inline constexpr WireField kStride{"stride", 48, 4};
inline constexpr WireField kFields[] = {kSessionNo,     kRequestNo,      kFundAccount, kClientId,
                                        kProgressFirst, kProgressSecond, kCount,       kStride};
}  // namespace sync_rsp

// One record of the sync answer; the stride leaves room for the longest spot push.
namespace sync_record {
inline constexpr std::size_t kLength = 6 + kSpotOrderPushLength;
inline constexpr WireField kMsgId{"msg_id", 0, 2};
inline constexpr WireField kSeq{"seq", 2, 4};
inline constexpr WireField kPush{"push", 6, kSpotOrderPushLength};
inline constexpr WireField kFields[] = {kMsgId, kSeq, kPush};
}  // namespace sync_record

namespace subscribe_req {
inline constexpr std::size_t kLength = 24;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kCounter{"counter", 4, 8};
inline constexpr WireField kStartSeq{"start_seq", 12, 4};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kFields[] = {kSessionNo, kCounter, kStartSeq, kFundAccount};
}  // namespace subscribe_req

// Nothing of the end notice is read by the client; it mirrors the request.
namespace subscribe_end {
inline constexpr std::size_t kLength = 24;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kCounter{"counter", 4, 8};
inline constexpr WireField kStartSeq{"start_seq", 12, 4};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kFields[] = {kSessionNo, kCounter, kStartSeq, kFundAccount};
}  // namespace subscribe_end

// ---- spot orders ------------------------------------------------------------------------

constexpr std::uint32_t kMsgSpotInsert = 0x111;
constexpr std::uint32_t kMsgSpotCancel = 0x112;
constexpr std::uint32_t kMsgSpotFundTransfer = 0x113;

namespace spot_insert_req {
inline constexpr std::size_t kLength = 65;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kFundAccount{"fund_account", 4, 8};
inline constexpr WireField kQuantity{"quantity", 12, 8};
inline constexpr WireField kPrice{"price", 20, 8};
inline constexpr WireField kFundIndex{"fund_index", 28, 4};
inline constexpr WireField kOrderSource{"order_source", 32, 1};
inline constexpr WireField kSequence{"sequence", 33, 4};
inline constexpr WireField kTicker{"ticker", 37, 8};
inline constexpr WireField kOrderClientId{"order_client_id", 45, 4};
inline constexpr WireField kClientId{"client_id", 49, 1};
inline constexpr WireField kZero2{"zero_2", 50, 2};
inline constexpr WireField kPassByte{"pass_byte", 52, 1};
inline constexpr WireField kOrderId{"order_id", 53, 8};
inline constexpr WireField kMarket{"market", 61, 1};
inline constexpr WireField kSide{"side", 62, 1};
inline constexpr WireField kPriceType{"price_type", 63, 1};
inline constexpr WireField kBusinessType{"business_type", 64, 1};
inline constexpr WireField kFields[] = {kSessionNo, kFundAccount, kQuantity,  kPrice,
                                        kFundIndex, kOrderSource, kSequence,  kTicker,
                                        kOrderClientId, kClientId, kZero2,    kPassByte,
                                        kOrderId,   kMarket,      kSide,      kPriceType,
                                        kBusinessType};
}  // namespace spot_insert_req

namespace spot_cancel_req {
inline constexpr std::size_t kLength = 67;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kFundAccount{"fund_account", 4, 8};
inline constexpr WireField kFundIndex{"fund_index", 12, 4};
inline constexpr WireField kTransport1{"transport_1", 16, 1};
inline constexpr WireField kCancelSequence{"cancel_sequence", 17, 4};
inline constexpr WireField kTransport2{"transport_2", 21, 1};
inline constexpr WireField kOrderClientIdByte{"order_client_id", 22, 4};  // of the order's id
inline constexpr WireField kOrderSequence{"order_sequence", 26, 4};
inline constexpr WireField kMarker{"marker", 50, 1};
inline constexpr WireField kClientId{"client_id", 55, 1};
inline constexpr WireField kCancelId{"cancel_id", 59, 8};
inline constexpr WireField kFields[] = {kSessionNo,    kFundAccount,       kFundIndex,
                                        kTransport1,   kCancelSequence,    kTransport2,
                                        kOrderClientIdByte, kOrderSequence, kMarker,
                                        kClientId,     kCancelId};
}  // namespace spot_cancel_req

// The request and its result push 0x124 share one layout; the push fills in the result.
namespace spot_transfer {
inline constexpr std::size_t kLength = 99;
inline constexpr WireField kSequence{"sequence", 0, 8};
inline constexpr WireField kZeroText{"zero_text", 8, 2};
inline constexpr WireField kFundAccount{"fund_account", 41, 8};
inline constexpr WireField kAmount{"amount", 49, 8};
inline constexpr WireField kFundIndex{"fund_index", 57, 4};
inline constexpr WireField kZeroText2{"zero_text_2", 61, 4};
inline constexpr WireField kTransferType{"transfer_type", 65, 1};
inline constexpr WireField kResult{"result", 66, 4};
inline constexpr WireField kTime{"time", 70, 4};
inline constexpr WireField kSessionNo{"session_no", 74, 4};
inline constexpr WireField kNodeId{"node_id", 78, 4};
inline constexpr WireField kClientId{"client_id", 82, 1};
inline constexpr WireField kClientId2{"client_id_2", 87, 1};
inline constexpr WireField kSerialId{"serial_id", 91, 8};
inline constexpr WireField kFields[] = {kSequence,  kZeroText,     kFundAccount, kAmount,
                                        kFundIndex, kZeroText2,    kTransferType, kResult,
                                        kTime,      kSessionNo,    kNodeId,      kClientId,
                                        kClientId2, kSerialId};
}  // namespace spot_transfer

// The order record of the push 0x121.
namespace spot_order_rec {
inline constexpr std::size_t kLength = kSpotOrderPushLength;
inline constexpr WireField kTicker{"ticker", 16, 8};
inline constexpr WireField kQuantity{"quantity", 24, 8};
inline constexpr WireField kPrice{"price", 32, 8};
inline constexpr WireField kLocalId{"order_local_id", 40, 11};
inline constexpr WireField kMarket{"market", 51, 1};
inline constexpr WireField kSide{"side", 52, 1};
inline constexpr WireField kPriceType{"price_type", 53, 1};
inline constexpr WireField kBusinessType{"business_type", 54, 1};
inline constexpr WireField kStatus{"status", 55, 1};
inline constexpr WireField kTime{"time", 56, 4};
inline constexpr WireField kErrorCode{"error_code", 60, 4};
inline constexpr WireField kOrderClientId{"order_client_id", 89, 4};
inline constexpr WireField kClientId{"client_id", 93, 1};
inline constexpr WireField kReserved2{"reserved2", 96, 1};
inline constexpr WireField kOrderId{"order_id", 97, 8};
inline constexpr WireField kReserved1{"reserved1", 109, 1};
inline constexpr WireField kTraded{"traded", 118, 8};
inline constexpr WireField kLeaves{"leaves", 128, 8};
inline constexpr WireField kTradeAmount{"trade_amount", 136, 8};
inline constexpr WireField kCancelOrderClientId{"cancel_order_client_id", 144, 4};
inline constexpr WireField kCancelId{"cancel_id", 152, 8};
inline constexpr WireField kFields[] = {kTicker,    kQuantity,  kPrice,     kLocalId,
                                        kMarket,    kSide,      kPriceType, kBusinessType,
                                        kStatus,    kTime,      kErrorCode, kOrderClientId,
                                        kClientId,  kReserved2, kOrderId,   kReserved1,
                                        kTraded,    kLeaves,    kTradeAmount,
                                        kCancelOrderClientId,   kCancelId};
}  // namespace spot_order_rec

// The trade record of the push 0x123.
namespace spot_trade_rec {
inline constexpr std::size_t kLength = kSpotTradePushLength;
inline constexpr WireField kMarket{"market", 0, 1};
inline constexpr WireField kExchOrderId{"order_exch_id", 1, 11};
inline constexpr WireField kExecId{"exec_id", 12, 18};
inline constexpr WireField kSide{"side", 30, 1};
inline constexpr WireField kBusinessType{"business_type", 31, 1};
inline constexpr WireField kPrice{"price", 40, 8};
inline constexpr WireField kQuantity{"quantity", 48, 8};
inline constexpr WireField kReportIndex{"report_index", 72, 4};
inline constexpr WireField kTime{"time", 76, 4};
inline constexpr WireField kReserved1{"reserved1", 85, 1};
inline constexpr WireField kTicker{"ticker", 94, 10};
inline constexpr WireField kOrderClientId{"order_client_id", 104, 4};
inline constexpr WireField kClientId{"client_id", 108, 1};
inline constexpr WireField kPriceType{"price_type", 109, 1};
inline constexpr WireField kReserved2{"reserved2", 111, 1};
inline constexpr WireField kOrderId{"order_id", 112, 8};
inline constexpr WireField kTradeType{"trade_type", 120, 1};
inline constexpr WireField kFields[] = {kMarket,   kExchOrderId, kExecId,     kSide,
                                        kBusinessType, kPrice,   kQuantity,   kReportIndex,
                                        kTime,     kReserved1,   kTicker,     kOrderClientId,
                                        kClientId, kPriceType,   kReserved2,  kOrderId,
                                        kTradeType};
}  // namespace spot_trade_rec

namespace spot_cancel_error {
inline constexpr std::size_t kLength = kSpotCancelErrorPushLength;
inline constexpr WireField kFundIndex{"fund_index", 8, 4};
inline constexpr WireField kOrderSequence{"order_sequence", 16, 4};
inline constexpr WireField kErrorCode{"error_code", 24, 4};
inline constexpr WireField kCancelId{"cancel_id", 76, 8};
inline constexpr WireField kOrderClientId{"order_client_id", 114, 2};  // of the order's id
inline constexpr WireField kNodeId{"node_id", 121, 1};
inline constexpr WireField kFields[] = {kFundIndex, kOrderSequence, kErrorCode,
                                        kCancelId,  kOrderClientId, kNodeId};
}  // namespace spot_cancel_error

namespace spot_holding_change {
inline constexpr std::size_t kLength = kSpotHoldingChangePushLength;
inline constexpr WireField kFundIndex{"fund_index", 8, 4};
inline constexpr WireField kTicker{"ticker", 12, 8};
inline constexpr WireField kMarket{"market", 20, 1};
inline constexpr WireField kTotal{"total", 21, 8};      // holding after the change
inline constexpr WireField kChange{"change", 29, 8};    // signed quantity of the change
inline constexpr WireField kSellable{"sellable", 37, 8};
inline constexpr WireField kCost{"cost", 45, 8};        // trade amount in 1/10000
inline constexpr WireField kDirection{"direction", 61, 1};  // '1' in, '2' out
inline constexpr WireField kNodeId{"node_id", 62, 1};
inline constexpr WireField kTime{"time", 63, 4};
inline constexpr WireField kFields[] = {kFundIndex, kTicker, kMarket,    kTotal, kChange,
                                        kSellable,  kCost,   kDirection, kNodeId, kTime};
}  // namespace spot_holding_change

// Every layout, for the self-check that fields stay inside their record and do not overlap.
const std::vector<WireLayout>& all_layouts();

// Builds one zeroed body and writes little-endian integers and NUL-padded texts into it.
class WireWriter {
 public:
  explicit WireWriter(std::size_t length) : body_(length, 0) {}

  // Writes the low `field.size` bytes of v; false when the field lies outside the body.
  bool put_uint(const WireField& field, std::uint64_t v);
  bool put_int(const WireField& field, std::int64_t v) {
    return put_uint(field, static_cast<std::uint64_t>(v));
  }
  // An 8-byte field: the double's bits, little-endian.
  bool put_double(const WireField& field, double v);
  // Copies at most field.size bytes; a text of the full width carries no terminator, which lets
  // a test check that the reader bounds its copy.
  bool put_text(const WireField& field, std::string_view text);
  // Copies at most field.size bytes, and nothing past the end of the body (a record cut short by a
  // small stride keeps what fits); false when the field starts beyond the body.
  bool put_bytes(const WireField& field, const std::uint8_t* data, std::size_t len);

  const std::vector<std::uint8_t>& bytes() const { return body_; }
  std::vector<std::uint8_t> take() { return std::move(body_); }

 private:
  std::vector<std::uint8_t> body_;
};

// Bounded reads of a received body: a field that does not fit in it reads as nothing.
class WireReader {
 public:
  WireReader(const std::uint8_t* data, std::size_t len) : data_(data), len_(len) {}
  explicit WireReader(const std::vector<std::uint8_t>& body) : WireReader(body.data(), body.size()) {}

  std::optional<std::uint64_t> get_uint(const WireField& field) const;
  std::optional<double> get_double(const WireField& field) const;
  // The text up to its first NUL inside the field.
  std::optional<std::string> get_text(const WireField& field) const;

 private:
  bool fits(const WireField& f) const { return f.offset <= len_ && f.size <= len_ - f.offset; }
  const std::uint8_t* data_;
  std::size_t len_;
};

}  // namespace oxa_sim
