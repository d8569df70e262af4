// Packing of the spot requests: one table of wire layouts and one packer that turns an
// application's request record and the session's values into the request body.
//
// Bodies are byte-packed, zero-filled, in host byte order. Texts go into their fixed field
// up to their NUL and are NUL-padded; a text that does not fit its field is refused rather
// than cut, since a cut ticker can name another security. A refused request writes nothing.
//
// The packer is pure apart from its log lines: it sends nothing, takes no id and touches no
// session table, so the back-end calls it between its gate and its send.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstdint>

#include "api/ErrorCodes.h"

namespace OXA {
namespace API {

struct tagSessionInfo;

namespace SPOT {

// Source path the request log lines name.
constexpr const char* kPackSource = "trader_api/core/spot_api/SpotTraderApi";

// Longest spot request body (the fund transfer).
constexpr std::size_t kPackMaxLength = 99;


// The spot requests, one per operation.
enum class PackOp : uint8_t {
    InsertOrder,
    CancelOrder,
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
    QueryETFBaseInfo,
    QueryETFTickerBasket,
    QueryIPOInfoList,
    QueryIPOQuotaInfo,
    QueryOtherServerFund,
    QueryIssueInfoList,
    QuerySecurityInfo,
    QueryYesterdayAsset,
    QueryETFByPage,
    QuerySecurityByPage,
    QueryHKConnectIndicativeExchangeRateInfo,
    QueryHKConnectSpreadTable,
    Count
};

// Order path: SendToServer, the back-end's request sequence as frame request id, CtrlType 0.
// Query path: SendToGatewayServer, the application's request id, CtrlType 1.
enum class PackPath : uint8_t { Order, Query };

// What the back-end needs to know of a request before it packs it.
struct PackInfo {
    PackOp op;
    const char* name;      // the operation's name, for "[{}]" log lines
    uint32_t msg_id;
    uint32_t length;       // the body's fixed length
    PackPath path;
    int ctrl_type;         // 0 order path, 1 query path (the speed gate's type)
    const char* log_stem;  // "<stem> request send success" / "... error!"; null where the
                           // operation logs its own texts (orders, cancels, transfers,
                           // QueryOtherServerFund and the two extended page queries)
};

// Null for an op out of range.
const PackInfo* PackInfoOf(PackOp op) noexcept;

// The session's values a body carries.
struct PackSession {
    uint64_t session_no = 0;         // the server's session number (nSessionID)
    uint64_t fund_account = 0;       // nFundAcc
    uint16_t fund_index = 0;         // nFundAccIndex
    uint16_t protocol_type = 0;      // nprotocol_type: 1 TCP, 2 bus
    uint8_t session_client_id = 0;   // nClientID, the low byte
    uint8_t client_id = 0;           // the back-end's id generator's client id
    uint64_t session_id = 0;         // the API session id of the request
};

PackSession MakePackSession(const tagSessionInfo& info, uint64_t session_id, uint8_t generator_client_id) noexcept;

// One request: the operation and its arguments. Only the members the operation reads are
// looked at; every record pointer may be null where the operation allows it.
struct PackRequest {
    PackOp op = PackOp::Count;
    const OrderInsertInfo* order = nullptr;                       // InsertOrder (required)
    const FundTransferInfo* transfer = nullptr;                   // FundTransfer (required)
    const OrderQueryParam* order_query = nullptr;                 // QueryOrders (null: all tickers)
    const TradeQueryParam* trade_query = nullptr;                 // QueryTrades (null: all tickers)
    const PageQueryParam* page = nullptr;                         // the by-page queries (required)
    const FundTransferQueryParam* transfer_query = nullptr;       // QueryFundTransfer (null: all)
    const ETFQueryParam* etf_query = nullptr;                     // the two ETF queries (required)
    const TickerQueryParam* ticker_query = nullptr;               // QuerySecurityInfo (required)
    const OtherServerFundQueryParam* other_fund_query = nullptr;  // QueryOtherServerFund (required)
    const HKConnectSpreadQueryParam* spread_query = nullptr;      // QueryHKConnectSpreadTable (required)
    const char* ticker = nullptr;  // QueryPosition's ticker (null: all), NUL-terminated
    int32_t market = 0;            // QueryPosition's market (MARKET_TYPE)
    uint64_t new_id = 0;           // InsertOrder, CancelOrder, FundTransfer: the new id from NextOrderId
    uint64_t target_id = 0;        // CancelOrder: the order to cancel; the two by-id queries: the id looked up
    int32_t request_id = 0;        // queries: the application's request id
    int32_t time_hhmmss = 0;       // FundTransfer: local time of day, HHMMSS
};

enum class PackStatus : uint8_t {
    Packed,
    TickerTooLong,       // a ticker longer than its wire field
    RecordMissing,       // a required record is null
    TickerEmpty,         // QuerySecurityInfo without a ticker
    AccountMismatch,     // QueryOtherServerFund for another fund account (or no record)
    QueryTypeNotServed,  // QueryOtherServerFund with a query type other than 1
    BufferTooSmall,
    UnknownOperation,
};

struct PackResult {
    PackStatus status = PackStatus::UnknownOperation;
    uint32_t msg_id = 0;             // set when packed
    uint32_t length = 0;             // bytes written, set when packed
    int32_t error_code = 0;          // for SetLastError on a refusal; 0 = record nothing
    const char* error_text = nullptr;  // its text (static), null when error_code is 0
    bool ok() const noexcept { return status == PackStatus::Packed; }
};

// Writes the body of req into buf (capacity cap): the message's length bytes, zero-filled,
// then its fields; bytes after the length are left alone. A refusal logs its reason, writes
// nothing and says what to record: 1009 for a ticker too long, a missing record or a small
// buffer; 6066 and 6077 for QueryOtherServerFund's checks; nothing for an empty
// QuerySecurityInfo ticker. An enumeration the wire has no code for packs the byte 0 after
// an info log, as the encoders below do.
PackResult PackSpotRequest(const PackRequest& req, const PackSession& session, void* buf, std::size_t cap) noexcept;

// The same checks without a buffer, so a caller can refuse a request before it takes an id
// for it. Packed means PackSpotRequest will pack it into a buffer of kPackMaxLength bytes.
PackResult PackCheckSpotRequest(const PackRequest& req, const PackSession& session) noexcept;

// Encoders from the public enumerations to the wire characters. An unknown value logs
// "[<source> <line>]Unknown <name>:<value>" at info level and gives the byte 0.
// Side, business type and ticker type are read from their low byte.
char EncodeMarketType(int32_t value) noexcept;        // MARKET_TYPE
char EncodeOrdType(int32_t value) noexcept;           // Ord_Type
char EncodeSideType(int32_t value) noexcept;          // SIDE_TYPE
char EncodeBusinessType(int32_t value) noexcept;      // BusinessType
char EncodeTickerType(int32_t value) noexcept;        // TICKER_TYPE
char EncodeFundTransferType(int32_t value) noexcept;  // FundTransferType
char EncodeOrderStatusType(int32_t value) noexcept;   // OrderStatusType (mirrors the decoder)
char EncodeExchangeType(int32_t value) noexcept;      // ExchangeType (mirrors the decoder)

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
