// The margin business's wire: its message ids, the heads in front of its answer records, the
// error records behind them, and the sender's byte order.
//
// Every head and record is read out of the received message into a copy owned by the reader,
// each read bounded by the message's length; a head whose has_data / has_error flags promise
// bytes the message lacks is refused as a whole. When the byte-order flag is set the copy's
// multi-byte fields are converted (heads and internal records field by field through
// WireReader, public records by their swap lists), so no handler ever writes into the
// received buffer.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {

struct tagSessionInfo;

namespace MARGIN {

// The messages of the margin business: requests this back-end sends and every inbound id
// the driver binds.
enum MarginMsgId : uint32_t {
    // session
    kMsgInitReq = 0x203,
    kMsgInitRsp = 0x204,
    kMsgSubscribeReq = 0x205,
    kMsgSubscribeFlow = 0x206,
    kMsgSyncReq = 0x21100,
    kMsgSyncRsp = 0x21101,

    // pushes and answers to the order path
    kMsgOrderStatusPush = 0x228,
    kMsgTradePush = 0x229,
    kMsgFundTransferRsp = 0x231,
    kMsgCashRepayRsp = 0x233,
    kMsgCashRepaySpecifiedDebtRsp = 0x235,
    kMsgCancelOrderRsp = 0x258,
    kMsgCreditRequestRsp = 0x31b,

    // query answers
    kMsgQueryFundRsp = 0x249,
    kMsgQueryAssetRsp = 0x251,
    kMsgQueryPositionRsp = 0x253,
    kMsgQueryCreditInfo2Rsp = 0x255,
    kMsgQueryCreditInfo3Rsp = 0x257,
    kMsgQueryOrderRsp = 0x261,
    kMsgQueryTradeRsp = 0x263,
    kMsgQueryCreditInfo7Rsp = 0x265,
    kMsgQueryCreditInfo5Rsp = 0x267,
    kMsgQueryFundTransferRsp = 0x271,
    kMsgQueryCreditInfo1Rsp = 0x273,
    kMsgQueryOrderByPageRsp = 0x275,
    kMsgQueryTradeByPageRsp = 0x277,
    kMsgQueryIPOInfoListRsp = 0x279,
    kMsgQueryIPOQuotaRsp = 0x281,
    kMsgQueryCreditInfo4Rsp = 0x283,
    kMsgQueryPositionByPageRsp = 0x285,
    kMsgQueryCreditInfo8Rsp = 0x287,
    kMsgQueryCreditInfo6Rsp = 0x289,
    kMsgQueryCreditInfo11Rsp = 0x291,
    kMsgQueryCreditInfo12Rsp = 0x293,
    kMsgQueryCreditInfo10Rsp = 0x305,
    kMsgQueryCreditInfo9Rsp = 0x307,
    kMsgQueryCreditInfo13Rsp = 0x309,
    kMsgQueryUnfinishedOrdersRsp = 0x311,
    kMsgQueryCreditInfo14Rsp = 0x31d,
    kMsgQueryIssueInfoListRsp = 0x31f,
    kMsgQueryOtherServerFundRsp = 0x333,
    kMsgQueryCreditPledgeStkByPageRsp = 0x21015,
    kMsgQueryCreditTargetStkByPageRsp = 0x21017,
    kMsgQuerySecurityInfoRsp = 0x21025,
    kMsgQuerySecurityByPageRsp = 0x21027,
    kMsgQueryStkDebtByLocationRsp = 0x21031,
    // answers of requests nothing sends; bound to a handler that does nothing
    kMsgUnusedRsp295 = 0x295,
    kMsgUnusedRsp297 = 0x297,
    kMsgUnusedRsp299 = 0x299,
    kMsgUnusedRsp301 = 0x301,
    kMsgUnusedRsp303 = 0x303,
};

constexpr std::size_t kRspHeadSize = 19;        // CreditRspHead
constexpr std::size_t kPageRspHeadSize = 31;    // CreditPageRspHead
constexpr std::size_t kPushHeadSize = 16;       // CreditPushHead
constexpr std::size_t kErrorInfoSize = sizeof(OXAErrorInfo);
constexpr std::size_t kFlowHeadSize = 21;       // CreditFlowHead of 0x206
constexpr std::size_t kReqHeadSize = 22;        // CreditReqHead
constexpr std::size_t kInitReqSize = 558;       // CreditInitReq 0x203
constexpr std::size_t kInitRspSize = 310;       // CreditInitRsp, the record of 0x204
constexpr std::size_t kSyncReqSize = 49;        // CreditSyncReq 0x21100
constexpr std::size_t kSyncRspHeadSize = 56;    // CreditSyncRsp 0x21101 before its records
constexpr std::size_t kSyncRecordHeadSize = 8;  // flow id, sequence number
constexpr std::size_t kSubscribeReqSize = 54;   // 0x205
constexpr std::size_t kPackageRecordHeadSize = 6;
constexpr uint32_t kSyncRecordsPerAnswer = 200;
constexpr uint64_t kApiVersion = 0x02230100;
// The server numbers its sessions from here; the lookup table is indexed from it.
constexpr uint64_t kSessionNoBase = 100000;

static_assert(kErrorInfoSize == 128, "OXAErrorInfo layout");

// The order of a body's multi-byte fields: the host's, or the reverse when the sender's
// byte-order flag is set.
constexpr ByteOrder BodyOrder(bool byte_order_flag) noexcept {
    return byte_order_flag ? (wire::host_order() == ByteOrder::Little ? ByteOrder::Big : ByteOrder::Little)
                           : wire::host_order();
}

// ---------------------------------------------------------------------------------------
// Heads

struct CreditRspHead {
    uint64_t session_no = 0;
    uint64_t request_id = 0;
    uint8_t is_last = 0;
    uint8_t has_data = 0;
    uint8_t has_error = 0;
};

struct CreditPageRspHead {
    uint64_t session_no = 0;
    uint32_t request_id = 0;
    int32_t index = 0;
    int32_t req_count = 0;
    uint64_t reference = 0;
    uint8_t is_last = 0;
    uint8_t has_data = 0;
    uint8_t has_error = 0;
};

struct CreditFlowHead {
    uint64_t first = 0;   // not read
    uint64_t second = 0;  // not read
    uint32_t count = 0;
    uint8_t end_flag = 0;
};

// Where the record and the wire error record of a head answer start; null when the head
// says there is none.
struct AnswerParts {
    const char* record = nullptr;
    const char* error = nullptr;
};

// The head of a single-record answer; false (out zeroed) when the message is shorter.
bool ReadRspHead(const char* data, std::size_t len, bool byte_order, CreditRspHead* out) noexcept;
// The head of a classic paged answer; false (out zeroed) when the message is shorter.
bool ReadPageRspHead(const char* data, std::size_t len, bool byte_order, CreditPageRspHead* out) noexcept;
// The head of the package flow 0x206; false (out zeroed) when the message is shorter.
bool ReadFlowHead(const char* data, std::size_t len, bool byte_order, CreditFlowHead* out) noexcept;

// The record (of record_size bytes, at head_size when has_data) and the error record (after
// the record, or at head_size without data, when has_error) of an answer. False when either
// would end past len: the answer is then not to be read at all.
bool LocateAnswerParts(const char* data, std::size_t len, std::size_t head_size, std::size_t record_size,
                       uint8_t has_data, uint8_t has_error, AnswerParts* out) noexcept;

// Copies the wire error record at `wire` (kErrorInfoSize bytes the caller has checked),
// converts its error_id when the flag is set, ends its text inside the field and completes an
// empty text with the library's text for the code.
void ReadErrorRecord(const char* wire, bool byte_order, OXAErrorInfo* out) noexcept;

// Writes the 22-byte CreditReqHead of a session at the writer's position: fund account,
// fund index (widened), the server's session number, the client id.
void WriteReqHead(WireWriter& w, const tagSessionInfo& info, uint16_t client_id) noexcept;

// The line of an answer that cannot be read: "[file:line:handler] Parse Msg Failed[code]",
// with the message id appended when given (not 0).
void LogParseFailed(int line, const char* handler, int code, uint32_t msg_id = 0) noexcept;

// The source file named in the driver's log lines.
constexpr const char* kDriverSource = "trader_api/core/margin_api/CTradeDriver";

// ---------------------------------------------------------------------------------------
// Swap lists of the public records an answer carries as received: each multi-byte numeric
// field as offset and width, reversed when the sender's byte order differs.

struct SwapField {
    uint16_t offset;
    uint8_t width;  // 2, 4 or 8
};

struct SwapList {
    const char* name;
    uint32_t size;  // the record's size
    const SwapField* fields;
    uint32_t count;
};

extern const SwapList kSwapOrderInfo;     // OXAOrderInfo, 140
extern const SwapList kSwapTradeReport;   // OXATradeReport, 131
extern const SwapList kSwapPositionInfo;  // OXAPositionInfo, 532
extern const SwapList kSwapAssetInfo;     // OXAAssetInfo, 412
extern const SwapList kSwapFundInfo;      // OXAFundInfo, 372
extern const SwapList kSwapCreditInfo3;   // OXACreditInfo3, 150
extern const SwapList kSwapCreditInfo7;   // OXACreditInfo7, 56
extern const SwapList kSwapFundTransferNotice;  // OXAFundTransferNotice, 32
extern const SwapList kSwapIPOQuotaInfo;  // OXAIPOQuotaInfo, 16
extern const SwapList kSwapIssueInfo;     // OXAIssueInfo, 120
extern const SwapList kSwapCreditInfo1;   // OXACreditInfo1, 157
extern const SwapList kSwapCreditInfo2;   // OXACreditInfo2, 48
extern const SwapList kSwapCreditInfo5;   // OXACreditInfo5, 36
extern const SwapList kSwapCreditInfo9;   // OXACreditInfo9, 72
extern const SwapList kSwapCreditInfo10;  // OXACreditInfo10, 92
extern const SwapList kSwapCreditInfo11;  // OXACreditInfo11, 28
extern const SwapList kSwapCreditInfo12;  // OXACreditInfo12, 44
extern const SwapList kSwapCreditInfo13;  // OXACreditInfo13, 92
extern const SwapList kSwapCreditInfo14;  // OXACreditInfo14, 32

// Every list above, for the checks that they fit their records.
const SwapList* const* AllSwapLists(std::size_t* count) noexcept;

// Reverses every listed field of a record the caller owns (list.size bytes).
void SwapFields(const SwapList& list, void* record) noexcept;

// Copies a public record out of a message (the caller has checked that sizeof(T) bytes are
// there) and converts it when the flag is set.
template <typename T>
void CopyRecord(const char* wire, const SwapList& list, bool byte_order, T* out) noexcept {
    static_assert(sizeof(T) > 0, "record type");
    std::memcpy(out, wire, sizeof(T));
    if (byte_order) SwapFields(list, out);
}

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
