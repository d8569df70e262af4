#include "core/spot_api/SpotConvert.h"

#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstring>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace SPOT {

namespace {

// A wire character as the log shows it: itself when printable, else its hex code, so a
// stray control byte never lands raw in the log file.
struct Shown {
    char text[5];
    explicit Shown(char c) noexcept {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            text[0] = c;
            text[1] = 0;
        } else {
            static const char hex[] = "0123456789abcdef";
            text[0] = '\\';
            text[1] = 'x';
            text[2] = hex[u >> 4];
            text[3] = hex[u & 0xf];
            text[4] = 0;
        }
    }
};

// Wire scalars are little-endian (the gateway and this library run on x86-64 hosts).
template <typename T>
void ReadAt(WireReader& r, std::size_t offset, T& out) noexcept {
    if (r.seek(offset)) r.read_le(out);
}

template <std::size_t N>
void ReadAt(WireReader& r, std::size_t offset, char (&out)[N]) noexcept {
    if (r.seek(offset)) r.read_bytes(out, N);
}

// a - b without signed overflow on hostile quantities
int64_t Minus(int64_t a, int64_t b) noexcept {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// The innermost open CodeTrace of this thread.
struct TraceState {
    const char* operation = nullptr;
    uint64_t order_id = 0;
};
thread_local TraceState t_trace;

void LogCode(const char* source, int line, const char* name, const char* value) noexcept {
    const TraceState& t = t_trace;
    spdlog::info("[{} {}]Unknown {}:{} operation[{}] order_oxa_id[{}]", source, line, name, value,
                 t.operation ? t.operation : "", t.order_id);
}

}  // namespace

CodeTrace::CodeTrace(const char* operation, uint64_t order_id) noexcept
    : m_prevOperation(t_trace.operation), m_prevOrderId(t_trace.order_id) {
    t_trace.operation = operation;
    t_trace.order_id = order_id;
}

CodeTrace::~CodeTrace() {
    t_trace.operation = m_prevOperation;
    t_trace.order_id = m_prevOrderId;
}

void LogUnknownCode(const char* source, int line, const char* name, const char* value) noexcept {
    LogCode(source, line, name, value ? value : "");
}

void LogUnknownCode(const char* source, int line, const char* name, int64_t value) noexcept {
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    LogCode(source, line, name, text);
}

bool ReadOrderRecord(const void* data, std::size_t len, SpotOrderRecord& out) noexcept {
    ZeroRecord(out);
    if (data == nullptr || len < kOrderRecordSize) return false;
    WireReader r(data, len);
    ReadAt(r, 16, out.ticker);
    ReadAt(r, 24, out.quantity);
    ReadAt(r, 32, out.price);
    ReadAt(r, 40, out.order_local_id);
    ReadAt(r, 51, out.market);
    ReadAt(r, 52, out.side);
    ReadAt(r, 53, out.price_type);
    ReadAt(r, 54, out.business_type);
    ReadAt(r, 55, out.order_status);
    ReadAt(r, 56, out.time);
    ReadAt(r, 60, out.error_code);
    ReadAt(r, 89, out.order_client_id);
    ReadAt(r, 93, out.client_id);
    ReadAt(r, 96, out.reserved2);
    ReadAt(r, 97, out.order_id);
    ReadAt(r, 109, out.reserved1);
    ReadAt(r, 118, out.traded_quantity);
    ReadAt(r, 128, out.leaves_quantity);
    ReadAt(r, 136, out.trade_amount);
    ReadAt(r, 144, out.cancel_client_id);
    ReadAt(r, 152, out.cancel_order_id);
    if (!r.ok()) {
        std::memset(&out, 0, sizeof(out));
        return false;
    }
    return true;
}

bool ReadTradeRecord(const void* data, std::size_t len, SpotTradeRecord& out) noexcept {
    ZeroRecord(out);
    if (data == nullptr || len < kTradeRecordSize) return false;
    WireReader r(data, len);
    ReadAt(r, 0, out.market);
    ReadAt(r, 1, out.order_exch_id);
    ReadAt(r, 12, out.exec_id);
    ReadAt(r, 30, out.side);
    ReadAt(r, 31, out.business_type);
    ReadAt(r, 40, out.price);
    ReadAt(r, 48, out.quantity);
    ReadAt(r, 72, out.report_index);
    ReadAt(r, 76, out.time);
    ReadAt(r, 85, out.reserved1);
    ReadAt(r, 94, out.ticker);
    ReadAt(r, 104, out.order_client_id);
    ReadAt(r, 108, out.client_id);
    ReadAt(r, 109, out.price_type);
    ReadAt(r, 111, out.reserved2);
    ReadAt(r, 112, out.order_id);
    ReadAt(r, 120, out.trade_type);
    if (!r.ok()) {
        std::memset(&out, 0, sizeof(out));
        return false;
    }
    return true;
}

OrderProgress OrderProgressOf(int32_t order_status, int64_t quantity, int64_t traded_quantity,
                              int64_t leaves_quantity, RecordSource source, const char* handler) noexcept {
    switch (order_status) {
        case 0: return {1, 0, quantity};
        case 1: return {2, quantity, 0};
        case 2:
            // the push carries no traded quantity for a partly filled order
            if (source == RecordSource::Push) return {2, 0, 0};
            return {2, traded_quantity, Minus(quantity, traded_quantity)};
        case 3:
        case 5: return {6, Minus(quantity, leaves_quantity), leaves_quantity};
        case 4: return {2, 0, quantity};
        case 6: return {3, 0, quantity};
        default:
            spdlog::error("Unknown order status {} {} {} {}", order_status, kDriverSource, __LINE__,
                          handler ? handler : "");
            return {0, 0, 0};
    }
}

int64_t SpotTimestamp(int64_t trading_day, int32_t hhmmss) noexcept {
    // unsigned arithmetic: a hostile day or time wraps instead of overflowing
    const uint64_t day = static_cast<uint64_t>(trading_day) * 1000000000ull;
    const uint64_t time = static_cast<uint64_t>(static_cast<int64_t>(hhmmss)) * 1000ull;
    return static_cast<int64_t>(day + time);
}

double SpotTradeAmount(uint8_t business_type, int64_t quantity, double price) noexcept {
    const double qty = static_cast<double>(quantity);
    return business_type == 2 ? qty * 100.0 : qty * price;
}

void ConvertOrder(const SpotOrderRecord& rec, RecordSource source, int64_t trading_day, const char* handler,
                  OXAOrderInfo& out) noexcept {
    const CodeTrace trace(handler, rec.order_id);
    ZeroRecord(out);
    out.order_oxa_id = rec.order_id;
    out.order_client_id = rec.order_client_id;
    if (source == RecordSource::Push) out.order_cancel_client_id = rec.cancel_client_id;
    out.order_cancel_oxa_id = rec.cancel_order_id;
    CopyText(out.ticker, rec.ticker, sizeof(rec.ticker));
    out.market = DecodeMarketTypeDigit(rec.market);
    out.price = rec.price;
    out.quantity = rec.quantity;
    out.price_type = DecodeOrdType(rec.price_type);
    out.side = DecodeSide(rec.business_type, rec.side);
    out.position_effect = 0;
    out.reserved1 = rec.reserved1;
    out.client_id = rec.client_id;
    out.business_type = static_cast<uint8_t>(DecodeBusinessType(rec.business_type));
    out.reserved2 = rec.reserved2;
    out.insert_time = SpotTimestamp(trading_day, rec.time);
    out.update_time = 0;
    out.cancel_time = 0;
    out.trade_amount = rec.trade_amount;
    // the public field is as wide as the wire one: the text keeps 10 characters and its NUL
    CopyText(out.order_local_id, rec.order_local_id, sizeof(rec.order_local_id));
    out.order_status = DecodeOrderStatus(rec.order_status);
    const OrderProgress progress = OrderProgressOf(out.order_status, rec.quantity, rec.traded_quantity,
                                                   rec.leaves_quantity, source, handler);
    out.order_submit_status = progress.submit_status;
    out.qty_traded = progress.qty_traded;
    out.qty_left = progress.qty_left;
    out.order_type = '0';
}

void ConvertTrade(const SpotTradeRecord& rec, int64_t trading_day, const char* handler, OXATradeReport& out) noexcept {
    const CodeTrace trace(handler, rec.order_id);
    ZeroRecord(out);
    out.order_oxa_id = rec.order_id;
    out.order_client_id = rec.order_client_id;
    CopyText(out.ticker, rec.ticker, sizeof(rec.ticker));
    out.market = DecodeMarketTypeDigit(rec.market);
    out.price_type = DecodeOrdType(rec.price_type);
    // as wide as the wire field: 17 characters and the NUL
    CopyText(out.exec_id, rec.exec_id, sizeof(rec.exec_id));
    out.price = rec.price;
    out.quantity = rec.quantity;
    out.trade_time = SpotTimestamp(trading_day, rec.time);
    out.report_index = static_cast<uint64_t>(static_cast<int64_t>(rec.report_index));
    CopyText(out.order_exch_id, rec.order_exch_id, sizeof(rec.order_exch_id));
    out.trade_type = rec.trade_type;
    out.side = DecodeSide(rec.business_type, rec.side);
    out.position_effect = 0;
    out.reserved1 = rec.reserved1;
    out.client_id = rec.client_id;
    out.business_type = static_cast<uint8_t>(DecodeBusinessType(rec.business_type));
    out.reserved2 = rec.reserved2;
    out.trade_amount = SpotTradeAmount(out.business_type, rec.quantity, rec.price);
    out.branch_pbu[0] = 0;
}

bool ConvertOrderMessage(const void* data, std::size_t len, RecordSource source, int64_t trading_day,
                         const char* handler, OXAOrderInfo& out) noexcept {
    SpotOrderRecord rec;
    if (!ReadOrderRecord(data, len, rec)) {
        std::memset(&out, 0, sizeof(out));
        return false;
    }
    ConvertOrder(rec, source, trading_day, handler, out);
    return true;
}

bool ConvertTradeMessage(const void* data, std::size_t len, int64_t trading_day, const char* handler,
                         OXATradeReport& out) noexcept {
    SpotTradeRecord rec;
    if (!ReadTradeRecord(data, len, rec)) {
        std::memset(&out, 0, sizeof(out));
        return false;
    }
    ConvertTrade(rec, trading_day, handler, out);
    return true;
}

int32_t DecodeOrdType(char code) noexcept {
    switch (code) {
        case '1': return 4;
        case '2': return 1;
        case '3': return 6;
        case '4': return 3;
        case '5': return 7;
        case '6': return 2;
        case '7': return 5;
        case '8': return 8;
        case '9': return 9;
        case 'A': return 10;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "Ord_Type", Shown(code).text);
            return 11;
    }
}

int32_t DecodeBusinessType(char code) noexcept {
    switch (code) {
        case '1': return 0;
        case '2': return 2;
        case '3': return 1;
        case '4': return 3;
        case '5': return 16;
        case 'B': return 14;
        case 'C': return 6;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "BusinessType", Shown(code).text);
            return -1;
    }
}

int32_t DecodeOrderStatus(char code) noexcept {
    switch (code) {
        case '0': return 0;
        case '1': return 0;
        case '2': return 4;
        case '3': return 2;
        case '4': return 3;
        case '5': return 1;
        case '6': return 5;
        case '7': return 6;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "OrderStatusType", Shown(code).text);
            return 7;
    }
}

int32_t DecodeFundTransferType(char code) noexcept {
    switch (code) {
        case '1': return 1;
        case '2': return 0;
        case '5': return 3;
        case '6': return 2;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "FundTransferType", Shown(code).text);
            return 4;
    }
}

int32_t DecodeMarketType(char code) noexcept {
    switch (code) {
        case '1': return 1;
        case '2': return 2;
        case '3': return 5;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "MarketType", Shown(code).text);
            return 99;
    }
}

int32_t DecodeMarketTypeDigit(char code) noexcept {
    if (code >= '1' && code <= '5') return code - '0';
    LogUnknownCode(kDriverSource, __LINE__, "MarketType", Shown(code).text);
    return 99;
}

int32_t DecodeExchangeType(char code) noexcept {
    switch (code) {
        case '1': return 2;
        case '2': return 1;
        case '3': return 3;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "ExchangeType", Shown(code).text);
            return 100;
    }
}

int32_t DecodeTickerType(char security_plate, char security_type) noexcept {
    if (security_plate == '1') return 5;
    switch (security_type) {
        case '1': return 0;
        case '2': return 3;
        case '3': return 2;
        case '4': return 4;
        default: {
            // the two codes read as one value: "<plate>, Security_Type:<type>"
            char both[32];
            std::snprintf(both, sizeof both, "%s, Security_Type:%s", Shown(security_plate).text,
                          Shown(security_type).text);
            LogUnknownCode(kDriverSource, __LINE__, "Security_Plate", both);
            return 8;
        }
    }
}

uint8_t DecodeSide(char business_code, char side_code) noexcept {
    uint8_t side;
    switch (side_code) {
        case '1': side = 1; break;
        case '2': side = 2; break;
        default:
            LogUnknownCode(kDriverSource, __LINE__, "SIDE_TYPE", Shown(side_code).text);
            return 50;
    }
    return business_code == '4' ? static_cast<uint8_t>(side + 6) : side;
}

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
