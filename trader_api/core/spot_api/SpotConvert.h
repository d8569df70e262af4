// The spot order and trade records that answers and pushes share, their conversion into
// the public records, and the decoders from wire characters to the public enumerations.
//
// Records are read field by field through the bounded reader: a message shorter than the
// record reads nothing and the reader answers false. Conversions are pure: the caller hands
// in the trading day, so a record converts the same way on any thread.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace OXA {
namespace API {
namespace SPOT {

// Source path the driver's log lines name.
constexpr const char* kDriverSource = "trader_api/core/spot_api/CTradeDriver";

constexpr std::size_t kOrderRecordSize = 160;
constexpr std::size_t kTradeRecordSize = 121;

// The order record: the push 0x121, the records of 0x132 and the record of 0x13a.
struct SpotOrderRecord {
    char ticker[8];             // 16
    int64_t quantity;           // 24
    double price;               // 32
    char order_local_id[11];    // 40
    char market;                // 51, digit
    char side;                  // 52
    char price_type;            // 53
    char business_type;         // 54
    char order_status;          // 55
    int32_t time;               // 56, HHMMSS
    int32_t error_code;         // 60, the push's error
    uint32_t order_client_id;   // 89
    uint8_t client_id;          // 93
    uint8_t reserved2;          // 96
    uint64_t order_id;          // 97
    uint8_t reserved1;          // 109
    int64_t traded_quantity;    // 118, the answers' traded quantity
    int64_t leaves_quantity;    // 128
    double trade_amount;        // 136
    uint32_t cancel_client_id;  // 144, the push's cancel order_client_id
    uint64_t cancel_order_id;   // 152
};

// The trade record: the push 0x123, the records of 0x133 and the record of 0x13b.
struct SpotTradeRecord {
    char market;                // 0, digit
    char order_exch_id[11];     // 1
    char exec_id[18];           // 12
    char side;                  // 30
    char business_type;         // 31
    double price;               // 40
    int64_t quantity;           // 48
    int32_t report_index;       // 72
    int32_t time;               // 76, HHMMSS
    uint8_t reserved1;          // 85
    char ticker[10];            // 94
    uint32_t order_client_id;   // 104
    uint8_t client_id;          // 108
    char price_type;            // 109
    uint8_t reserved2;          // 111
    uint64_t order_id;          // 112
    char trade_type;            // 120
};

// Every byte of a plain record to zero, padding included, as a memset would; copied from a zero
// object, which compilers turn into a few wide stores instead of a slow-starting string
// instruction (it ran on every push).
template <typename T>
inline void ZeroRecord(T& record) noexcept {
    static_assert(std::is_trivially_copyable<T>::value, "a plain record");
    static const T zero{};
    std::memcpy(&record, &zero, sizeof(T));
}

// Reads the record at the start of data. False when len is below the record's size; out is
// then zero. Bytes after the record are not looked at.
bool ReadOrderRecord(const void* data, std::size_t len, SpotOrderRecord& out) noexcept;
bool ReadTradeRecord(const void* data, std::size_t len, SpotTradeRecord& out) noexcept;

// Pushes and answers fill the quantities of a partly filled order differently.
enum class RecordSource { Push, Answer };

struct OrderProgress {
    int32_t submit_status;
    int64_t qty_traded;
    int64_t qty_left;
};

// Submit status and quantities by the decoded order status. An unknown status gives
// {0, 0, 0} and an error line naming handler.
OrderProgress OrderProgressOf(int32_t order_status, int64_t quantity, int64_t traded_quantity,
                              int64_t leaves_quantity, RecordSource source, const char* handler) noexcept;

// YYYYMMDDHHMMSSmmm: trading day x 1,000,000,000 + HHMMSS x 1,000, all in 64 bits.
int64_t SpotTimestamp(int64_t trading_day, int32_t hhmmss) noexcept;

// quantity x 100 for business type 2, else quantity x price.
double SpotTradeAmount(uint8_t business_type, int64_t quantity, double price) noexcept;

// The public records; out is zeroed first. handler names the caller in the log lines, and
// an unknown code of the record is traced to it and to the record's order id.
void ConvertOrder(const SpotOrderRecord& rec, RecordSource source, int64_t trading_day, const char* handler,
                  OXAOrderInfo& out) noexcept;
void ConvertTrade(const SpotTradeRecord& rec, int64_t trading_day, const char* handler, OXATradeReport& out) noexcept;

// Read and convert in one step; false (out zeroed, nothing logged) when len is below the
// record's size.
bool ConvertOrderMessage(const void* data, std::size_t len, RecordSource source, int64_t trading_day,
                         const char* handler, OXAOrderInfo& out) noexcept;
bool ConvertTradeMessage(const void* data, std::size_t len, int64_t trading_day, const char* handler,
                         OXATradeReport& out) noexcept;

// What the log line of an unknown code names besides the field and the value, so a refused
// order can be traced: the operation that met the code and the order id it belongs to (0 for
// records without one). A handler or a request opens one on its own thread for its extent; an
// inner one stands for the outer one until it ends.
class CodeTrace {
public:
    CodeTrace(const char* operation, uint64_t order_id) noexcept;
    ~CodeTrace();
    CodeTrace(const CodeTrace&) = delete;
    CodeTrace& operator=(const CodeTrace&) = delete;

private:
    const char* m_prevOperation;
    uint64_t m_prevOrderId;
};

// "[<source> <line>]Unknown <name>:<value> operation[<op>] order_oxa_id[<id>]" at info level,
// naming the innermost open CodeTrace of the thread (empty and 0 without one).
void LogUnknownCode(const char* source, int line, const char* name, const char* value) noexcept;
void LogUnknownCode(const char* source, int line, const char* name, int64_t value) noexcept;

// Decoders. A character outside its table (byte 0 included) logs the unknown-code line and
// gives the fallback named on each, a value the public enumeration has for it.
int32_t DecodeOrdType(char code) noexcept;           // fallback 11
int32_t DecodeBusinessType(char code) noexcept;      // fallback -1 (255 in a uint8 field)
int32_t DecodeOrderStatus(char code) noexcept;       // fallback 7
int32_t DecodeFundTransferType(char code) noexcept;  // fallback 4
int32_t DecodeMarketType(char code) noexcept;        // IPO list answers: '1' 1, '2' 2, '3' 5; fallback 99
int32_t DecodeMarketTypeDigit(char code) noexcept;   // every other market field: '1'..'5' 1..5; fallback 99
int32_t DecodeExchangeType(char code) noexcept;      // fallback 100
int32_t DecodeTickerType(char security_plate, char security_type) noexcept;  // fallback 8
// Side code '1' 1, '2' 2, plus 6 for business-type code '4' (7 and 8); any other side code 50.
uint8_t DecodeSide(char business_code, char side_code) noexcept;
// A digit field that names no enumeration: the digit minus '0', passed on as the server sent it.
inline int32_t DigitValue(char digit) noexcept { return static_cast<int32_t>(digit) - '0'; }

// Order id from wire fields, each kept to its width: node 8 bits, fund index 16, client id 8,
// sequence 32; a wider wire value never spills into the neighbouring field.
constexpr uint64_t ComposeOXAID(uint64_t node_id, uint64_t fund_index, uint64_t client_id,
                                uint64_t sequence) noexcept {
    return (node_id & 0xff) << 56 | (fund_index & 0xffff) << 40 | (client_id & 0xff) << 32 |
           (sequence & 0xffffffffu);
}

// The same from a session id (node << 16 | fund index).
constexpr uint64_t ComposeOXAIDForSession(uint64_t session_id, uint64_t client_id, uint64_t sequence) noexcept {
    return ComposeOXAID(session_id >> 16, session_id, client_id, sequence);
}

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
