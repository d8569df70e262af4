// Packing of the option requests: one table of wire layouts on the shared request engine and
// the conversions from the public enumerations to the option wire characters.
//
// Bodies are byte-packed, zero-filled, in host byte order. A text field of n + 1 bytes takes
// at most n characters and always ends in a zero byte; a longer text is cut (the gateway
// judges an order, the packer only converts it). The order query splits its 16-character
// ticker over two security ids. A combination order names at most four legs: a larger (or
// negative) leg count is refused before anything is written.
//
// The packer sends nothing, takes no id and touches no session table, so the back-end calls
// it between its gate and its send.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstdint>

namespace OXA {
namespace API {

struct tagSessionInfo;

namespace OPT {

// Source path the option request log lines name.
constexpr const char* kPackSource = "trader_api/core/option_api/OptTraderApi";

// Longest option request body (the combination order).
constexpr std::size_t kPackMaxLength = 408;
// Legs a combination order carries at most.
constexpr int32_t kMaxLegs = 4;

// One per request the back-end packs. InsertOrder packs InsertOrder (business type 10) or
// LockOrder (12); InsertExecuteOrder packs ExecuteOrder (11) or CombinedExecuteOrder (15).
enum class PackOp : uint8_t {
    InsertOrder,
    LockOrder,
    CancelOrder,
    ExecuteOrder,
    CombinedExecuteOrder,
    CombOrder,
    FundTransfer,
    QueryOrderByOXAID,
    QueryOrders,
    QueryUnfinishedOrders,
    QueryOrdersByPage,
    QueryTradesByOXAID,
    QueryTrades,
    QueryTradesByPage,
    QueryPosition,
    QueryPositionByPage,
    QueryAsset,
    QueryFund,
    QueryFundTransfer,
    QueryOptionAuctionInfo,
    QueryCombUnfinishedOrders,
    QueryCombOrderByOXAID,
    QueryCombOrders,
    QueryCombTradesByOXAID,
    QueryCombTrades,
    QueryCombPosition,
    QueryCombStrategyInfo,
    QueryCombExecPosition,
    Count
};

// Order path: SendToServer, a fresh request sequence as frame request id, CtrlType 0.
// Query path: SendToGatewayServer, the application's request id, CtrlType 1.
enum class PackPath : uint8_t { Order, Query };

struct PackInfo {
    PackOp op;
    const char* name;  // the operation's name, for log lines
    uint32_t msg_id;
    uint32_t length;   // the body's fixed length
    PackPath path;
    int ctrl_type;     // the speed gate's type
};

// Null for an op out of range.
const PackInfo* PackInfoOf(PackOp op) noexcept;

// The session's values a body carries.
struct PackSession {
    uint64_t session_no = 0;             // the server's session number (nSessionID)
    uint64_t fund_account = 0;           // nFundAcc
    uint16_t fund_index = 0;             // nFundAccIndex
    uint16_t protocol_type = 0;          // nprotocol_type: 1 TCP, 2 bus
    const char* terminal_info = nullptr; // the terminal-information text (null: empty)
};

// The record's values, with the process's terminal-information text.
PackSession MakePackSession(const tagSessionInfo& info) noexcept;

// One request: the operation and its arguments. Only the members the operation reads are
// looked at; the order records are required, the query filters may be null (no filter).
struct PackRequest {
    PackOp op = PackOp::Count;
    const OrderInsertInfo* order = nullptr;                     // InsertOrder, LockOrder
    const ExecuteOrderInsertInfo* execute = nullptr;            // the two exercise orders
    const OptionCombinedOrderInsertInfo* comb = nullptr;        // CombOrder
    const FundTransferInfo* transfer = nullptr;                 // FundTransfer
    const OrderQueryParam* order_query = nullptr;               // QueryOrders
    const TradeQueryParam* trade_query = nullptr;               // QueryTrades
    const PageQueryParam* page = nullptr;                       // the by-page queries (required)
    const FundTransferQueryParam* transfer_query = nullptr;     // QueryFundTransfer
    const OptionAuctionInfoQueryParam* auction_query = nullptr; // QueryOptionAuctionInfo
    const OptCombOrderQueryParam* comb_query = nullptr;         // QueryCombOrders, QueryCombTrades
    const OptCombPositionQueryParam* comb_position = nullptr;   // QueryCombPosition
    const OptCombExecPositionQueryParam* comb_exec = nullptr;   // QueryCombExecPosition
    const char* ticker = nullptr;  // QueryPosition's ticker (null: all), NUL-terminated
    int32_t market = 0;            // QueryPosition's market
    uint64_t new_id = 0;           // order-like operations: the new id from NextOrderId
    uint64_t target_id = 0;        // CancelOrder and the by-id queries: the id named
    int32_t request_id = 0;        // queries: the application's request id
};

enum class PackStatus : uint8_t {
    Packed,
    RecordMissing,    // a required record is null
    TooManyLegs,      // a combination order's leg count outside 0 to 4
    BufferTooSmall,
    UnknownOperation,
};

struct PackResult {
    PackStatus status = PackStatus::UnknownOperation;
    uint32_t msg_id = 0;    // set when packed
    uint32_t length = 0;    // bytes written, set when packed
    int32_t error_code = 0; // for SetLastError on a refusal (1009)
    bool ok() const noexcept { return status == PackStatus::Packed; }
};

// Writes the body of req into buf (capacity cap): the message's length bytes, zero-filled,
// then its fields; bytes after the length are left alone. A refusal logs its reason and
// writes nothing.
PackResult PackOptRequest(const PackRequest& req, const PackSession& session, void* buf, std::size_t cap) noexcept;

// The same checks without a buffer, so a caller can refuse a request before it takes an id.
PackResult PackCheckOptRequest(const PackRequest& req) noexcept;

// Conversions to the wire characters. No value is refused: one outside its table gives the
// character shown, and where that character stands for "no code" the value is logged at info
// level as "[<source> <line>]Unknown <name>:<value>". Read from the value's low byte: the
// price type (every order field is a byte but the price type's int32).
uint16_t EncodePriceTypePair(int32_t price_type) noexcept;  // first character in the low byte; 0 unknown
char EncodeCoveredFlag(int32_t side) noexcept;              // '1' for 11, else ' '
char EncodeSide(int32_t side, int32_t position_effect) noexcept;  // 0 unknown
char EncodePositionEffect(int32_t position_effect) noexcept;      // 'O', 'C'; 0 unknown
char EncodeCombSide(int32_t side) noexcept;                       // 0 unknown
char EncodeLegSide(int32_t leg_side) noexcept;                    // 'L', 'S', 'C'; ' ' unknown
char EncodeLegCovered(int32_t leg_covered) noexcept;              // '1' when not 0, else ' '
char EncodeTransferSide(int32_t transfer_type) noexcept;          // 2 '2', 3 '1'; 0 unknown

}  // namespace OPT
}  // namespace API
}  // namespace OXA
