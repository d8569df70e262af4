// Packing of the margin requests: one table of wire layouts on the shared request engine, one
// row per operation, and the packer that turns the application's records and the session's
// values into a request body.
//
// Bodies are byte-packed, zero-filled, in host byte order and sent as built. The order, the
// transfer and the credit records are copied into their requests as the application gave them:
// the library checks only what it must (a record is there, the session may send) and the
// gateway judges the rest. The position query's ticker takes at most 15 characters and always
// ends in a zero byte.
//
// The packer sends nothing, takes no id and touches no session table, so the back-end calls it
// between its gate and its send.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace API {

struct tagSessionInfo;

namespace MARGIN {

// Source path the margin request log lines name.
constexpr const char* kPackSource = "trader_api/core/margin_api/MarginTraderApi";

// Longest margin request body (the fund transfer).
constexpr std::size_t kPackMaxLength = 122;

// One per request operation.
enum class PackOp : uint8_t {
    // order path
    InsertOrder,
    CancelOrder,
    FundTransfer,
    CreditCashRepay,
    CreditCashRepaySpecifiedDebt,
    CreditRequest,
    // queries behind the query rate
    QueryOrderByOXAID,
    QueryOrders,
    QueryUnfinishedOrders,
    QueryTradesByOXAID,
    QueryTrades,
    QueryPosition,
    QueryAsset,
    QueryFund,
    QueryCreditInfo1,
    QueryCreditInfo2,
    QueryCreditInfo3,
    QueryOtherServerFund,
    // queries outside the rate
    QueryOrdersByPage,
    QueryTradesByPage,
    QueryPositionByPage,
    QueryCreditInfo4,
    QueryCreditInfo8,
    QueryIPOInfoList,
    QueryIPOQuotaInfo,
    QueryCreditInfo6,
    QueryCreditInfo9,
    QueryIssueInfoList,
    QueryCreditInfo5,
    QueryCreditInfo7,
    QueryCreditInfo10,
    QueryCreditInfo11,
    QueryCreditInfo12,
    QueryCreditInfo13,
    QueryFundTransfer,
    QueryCreditInfo14,
    // extended queries (head CreditReqHeadEx), behind the query rate
    QuerySecurityInfo,
    QuerySecurityByPage,
    QueryCreditPledgeStkByPage,
    QueryCreditTargetStkByPage,
    QueryCreditDebtToRepayTodayByPage,
    Count
};

// How an operation is sent and what its refusals return.
enum class PackFamily : uint8_t {
    Order,     // SendToServer with a request sequence, order rate; returns the new id or 0
    Gated,     // SendToGatewayServer with the request id, query rate; returns the code
    Ungated,   // the same without the rate
    Extended,  // the same as Gated, head CreditReqHeadEx; every refusal returns -1
};

struct PackInfo {
    PackOp op;
    const char* name;  // the operation's name, for "{}" log lines
    uint32_t msg_id;
    uint32_t length;  // the body's fixed length
    PackFamily family;
    const char* missing_log;     // "{}" line for a null record (null: none logged)
    const char* send_error_log;  // line logged when the send fails (null: none)
};

// Null for an op out of range.
const PackInfo* PackInfoOf(PackOp op) noexcept;

// The session's values a body carries.
struct PackSession {
    uint64_t session_no = 0;    // the server's session number (nSessionID)
    uint64_t fund_account = 0;  // nFundAcc
    uint32_t fund_index = 0;    // nFundAccIndex, widened
    uint16_t protocol_type = 0; // nprotocol_type: 1 TCP, 2 bus
    uint16_t client_id = 0;     // the API object's client id
};

PackSession MakePackSession(const tagSessionInfo& info, uint8_t client_id) noexcept;

// One request: the operation and its arguments. Only the members the operation reads are
// looked at.
struct PackRequest {
    PackOp op = PackOp::Count;
    const OrderInsertInfo* order = nullptr;                  // InsertOrder
    const FundTransferInfo* transfer = nullptr;              // FundTransfer
    const CashRepaySpecifiedDebtInfo* repay_debt = nullptr;  // CreditCashRepaySpecifiedDebt
    const CreditRequestParam* credit = nullptr;              // CreditRequest
    const OrderQueryParam* order_query = nullptr;            // QueryOrders
    const TradeQueryParam* trade_query = nullptr;            // QueryTrades
    const PageQueryParam* page = nullptr;                    // the by-page queries
    const TickerQueryParam* ticker_query = nullptr;          // the queries by ticker
    const FundTransferQueryParam* transfer_query = nullptr;  // QueryFundTransfer
    const uint64_t* credit14 = nullptr;                      // QueryCreditInfo14
    const DebtToRepayQueryParam* debt = nullptr;             // QueryCreditDebtToRepayTodayByPage
    const char* ticker = nullptr;  // QueryPosition's ticker (null: all), NUL-terminated
    double amount = 0;             // CreditCashRepay
    uint64_t new_id = 0;           // order path: the new id from NextOrderId
    uint64_t target_id = 0;        // CancelOrder and the by-id queries: the id named
    int32_t request_id = 0;        // queries: the application's request id
};

// False when the operation reads a record the request does not carry.
bool HasRequiredRecord(const PackRequest& req) noexcept;

enum class PackStatus : uint8_t { Packed, RecordMissing, BufferTooSmall, UnknownOperation };

struct PackResult {
    PackStatus status = PackStatus::UnknownOperation;
    uint32_t msg_id = 0;  // set when packed
    uint32_t length = 0;  // bytes written, set when packed
    bool ok() const noexcept { return status == PackStatus::Packed; }
};

// Writes the body of req into buf (capacity cap): the message's length bytes, zero-filled, then
// its fields; bytes after the length are left alone. A refusal writes nothing.
PackResult PackMarginRequest(const PackRequest& req, const PackSession& session, void* buf,
                             std::size_t cap) noexcept;

// The cash repayment's amount: a finite, positive whole number of hundredths no larger than
// kMaxRepayAmount. The amount is rounded to hundredths, not truncated, so a value such as
// 2.01, whose double lies just below 2.01, counts as the 2.01 it stands for.
constexpr double kMaxRepayAmount = 1e13;  // every whole number of hundredths up to it is exact
bool RepayAmountValid(double amount) noexcept;

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
