// The spot order and trade records into the public records: decoders with their
// fallbacks, status to submit status and quantities, trade amounts, timestamps, ids, and
// records built byte by byte at their wire offsets.
#include "core/spot_api/SpotConvert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/spot_api/LogCapture.h"

namespace {

using namespace OXA::API::SPOT;
using spot_test::LogCapture;

// Fields of the packed public records are read by value, never bound to a reference.
template <typename T>
T Val(T v) {
    return v;
}

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

// A wire message written byte by byte, little-endian, at explicit offsets. Bytes nobody
// writes hold a noise value, so a field read from the wrong place shows.
class Wire {
public:
    explicit Wire(std::size_t size, unsigned char noise = 0xEE) : m_bytes(size, noise) {}

    template <typename T>
    Wire& Put(std::size_t offset, T value) {
        static_assert(sizeof(T) <= 8, "scalar");
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof(T));
        for (std::size_t i = 0; i < sizeof(T); ++i) m_bytes.at(offset + i) = static_cast<unsigned char>(bits >> (8 * i));
        return *this;
    }
    Wire& Text(std::size_t offset, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width; ++i) m_bytes.at(offset + i) = i < text.size() ? text[i] : 0;
        return *this;
    }
    // A heap copy of exactly the first len bytes: a read past it is caught by the sanitizer.
    std::unique_ptr<char[]> Exact(std::size_t len) const {
        std::unique_ptr<char[]> copy(new char[len]);
        if (len) std::memcpy(copy.get(), m_bytes.data(), len);
        return copy;
    }
    const char* data() const { return reinterpret_cast<const char*>(m_bytes.data()); }
    std::size_t size() const { return m_bytes.size(); }

private:
    std::vector<unsigned char> m_bytes;
};

template <typename T>
bool AllZero(const T& rec) {
    const auto* p = reinterpret_cast<const unsigned char*>(&rec);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

constexpr int64_t kDay = 20240105;

// ---------------------------------------------------------------------------------------
// Decoders

struct DecoderCase {
    const char* name;  // as the warning names it
    int32_t (*decode)(char);
    std::vector<std::pair<char, int32_t>> known;
    int32_t fallback;
};

const DecoderCase kDecoders[] = {
    {"Ord_Type", DecodeOrdType,
     {{'1', 4}, {'2', 1}, {'3', 6}, {'4', 3}, {'5', 7}, {'6', 2}, {'7', 5}, {'8', 8}, {'9', 9}, {'A', 10}},
     11},
    {"BusinessType", DecodeBusinessType,
     {{'1', 0}, {'2', 2}, {'3', 1}, {'4', 3}, {'5', 16}, {'B', 14}, {'C', 6}},
     -1},
    {"OrderStatusType", DecodeOrderStatus,
     {{'0', 0}, {'1', 0}, {'2', 4}, {'3', 2}, {'4', 3}, {'5', 1}, {'6', 5}, {'7', 6}},
     7},
    {"FundTransferType", DecodeFundTransferType, {{'1', 1}, {'2', 0}, {'5', 3}, {'6', 2}}, 4},
    {"MarketType", DecodeMarketType, {{'1', 1}, {'2', 2}, {'3', 5}}, 99},
    {"MarketType", DecodeMarketTypeDigit, {{'1', 1}, {'2', 2}, {'3', 3}, {'4', 4}, {'5', 5}}, 99},
    {"ExchangeType", DecodeExchangeType, {{'1', 2}, {'2', 1}, {'3', 3}}, 100},
};

TEST(SpotDecoders, KnownCodesDecodeWithoutAWarning) {
    for (const DecoderCase& c : kDecoders) {
        for (const auto& [code, value] : c.known) {
            SCOPED_TRACE(std::string(c.name) + " '" + code + "'");
            LogCapture log;
            EXPECT_EQ(c.decode(code), value);
            EXPECT_TRUE(log.Lines().empty());
        }
    }
}

TEST(SpotDecoders, EveryOtherByteGivesTheFallback) {
    for (const DecoderCase& c : kDecoders) {
        for (int b = 0; b < 256; ++b) {
            const char code = static_cast<char>(b);
            bool known = false;
            for (const auto& kv : c.known) known = known || kv.first == code;
            if (known) continue;
            SCOPED_TRACE(std::string(c.name) + " byte " + std::to_string(b));
            EXPECT_EQ(c.decode(code), c.fallback);
        }
    }
}

TEST(SpotDecoders, UnknownCodeLogsItsEnumerationAtInfo) {
    for (const DecoderCase& c : kDecoders) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        c.decode('Z');
        EXPECT_EQ(log.Count(std::string("info|[trader_api/core/spot_api/CTradeDriver #]Unknown ") + c.name +
                            ":Z operation[] order_oxa_id[0]"),
                  1u)
            << (log.Lines().empty() ? "" : log.Lines()[0]);
        EXPECT_EQ(log.Lines().size(), 1u);
    }
}

TEST(SpotDecoders, ControlByteIsLoggedAsItsHexCode) {
    LogCapture log;
    EXPECT_EQ(DecodeOrdType('\0'), 11);
    EXPECT_EQ(DecodeOrderStatus('\x7f'), 7);
    EXPECT_EQ(log.Count(R"(info|[* #]Unknown Ord_Type:\x00 *)"), 1u);
    EXPECT_EQ(log.Count(R"(info|[* #]Unknown OrderStatusType:\x7f *)"), 1u);
}

// A refused order comes back with the codes it went out with; the line names where to look.
TEST(SpotDecoders, UnknownCodeLineNamesTheOperationAndTheOrder) {
    LogCapture log;
    {
        const CodeTrace outer("OnQueryOrder", 0);
        {
            const CodeTrace inner("OnOrderEvent", 0x0102000500000007ull);
            EXPECT_EQ(DecodeSide('1', '\0'), 50);
        }
        EXPECT_EQ(DecodeMarketTypeDigit('9'), 99);
    }
    EXPECT_EQ(DecodeOrdType('Q'), 11);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(log.Count(R"(info|[* #]Unknown SIDE_TYPE:\x00 operation[OnOrderEvent] order_oxa_id[72620565466185735])"),
              1u)
        << lines[0];
    EXPECT_EQ(log.Count("info|[* #]Unknown MarketType:9 operation[OnQueryOrder] order_oxa_id[0]"), 1u) << lines[1];
    EXPECT_EQ(log.Count("info|[* #]Unknown Ord_Type:Q operation[] order_oxa_id[0]"), 1u) << lines[2];
}

TEST(SpotDecoders, TickerTypeOverEveryPlateAndTypeByte) {
    LogCapture log;
    std::size_t unknown = 0;
    for (int plate = 0; plate < 256; ++plate) {
        for (int type = 0; type < 256; ++type) {
            const char p = static_cast<char>(plate), t = static_cast<char>(type);
            int32_t want = 8;
            if (p == '1') {
                want = 5;  // whatever the type
            } else if (t == '1') {
                want = 0;
            } else if (t == '2') {
                want = 3;
            } else if (t == '3') {
                want = 2;
            } else if (t == '4') {
                want = 4;
            }
            if (want == 8) ++unknown;
            ASSERT_EQ(DecodeTickerType(p, t), want) << "plate " << plate << " type " << type;
        }
    }
    EXPECT_EQ(log.Lines().size(), unknown);  // one line per unknown pair, none for a known one
    EXPECT_EQ(log.Count("info|[trader_api/core/spot_api/CTradeDriver #]Unknown Security_Plate:0, Security_Type:9 *"),
              1u);
    EXPECT_EQ(log.Count(R"(info|[* #]Unknown Security_Plate:\x00, Security_Type:\x00 *)"), 1u);
}

TEST(SpotDecoders, SideOverEveryByteWithEveryBusinessCode) {
    LogCapture log;
    std::size_t unknown = 0;
    for (int business = 0; business < 256; ++business) {
        for (int side = 0; side < 256; ++side) {
            const char b = static_cast<char>(business), c = static_cast<char>(side);
            uint8_t want = 50;  // a code the library does not know, byte 0 included
            if (c == '1') want = b == '4' ? 7 : 1;
            if (c == '2') want = b == '4' ? 8 : 2;
            if (want == 50) ++unknown;
            ASSERT_EQ(DecodeSide(b, c), want) << "business " << business << " side " << side;
        }
    }
    EXPECT_EQ(log.Lines().size(), unknown);
    EXPECT_EQ(log.Count("info|[* #]Unknown SIDE_TYPE:9 *"), 256u);
}

TEST(SpotDecoders, DigitMinusZero) {
    EXPECT_EQ(DigitValue('0'), 0);
    EXPECT_EQ(DigitValue('5'), 5);
    EXPECT_EQ(DigitValue('9'), 9);
    EXPECT_EQ(DigitValue('\0'), -48);
}

// ---------------------------------------------------------------------------------------
// Status to submit status and quantities

TEST(SpotOrderProgress, ByStatusForPushesAndAnswers) {
    constexpr auto kPush = RecordSource::Push;
    constexpr auto kAnswer = RecordSource::Answer;
    struct Case {
        int32_t status;
        RecordSource source;
        int64_t quantity, traded, leaves;
        int32_t submit;
        int64_t qty_traded, qty_left;
    };
    const Case cases[] = {
        {0, kPush, 1000, 300, 400, 1, 0, 1000},
        {0, kAnswer, 1000, 300, 400, 1, 0, 1000},
        {1, kPush, 1000, 300, 400, 2, 1000, 0},
        {1, kAnswer, 1000, 300, 400, 2, 1000, 0},
        {2, kAnswer, 1000, 300, 400, 2, 300, 700},  // traded quantity from the answer
        {2, kPush, 1000, 300, 400, 2, 0, 0},        // the push carries none
        {3, kPush, 1000, 300, 400, 6, 600, 400},
        {3, kAnswer, 1000, 300, 400, 6, 600, 400},
        {5, kPush, 1000, 300, 1000, 6, 0, 1000},
        {5, kAnswer, 1000, 300, 0, 6, 1000, 0},
        {4, kPush, 1000, 300, 400, 2, 0, 1000},
        {4, kAnswer, 1000, 300, 400, 2, 0, 1000},
        {6, kPush, 1000, 300, 400, 3, 0, 1000},
        {6, kAnswer, 1000, 300, 400, 3, 0, 1000},
        {7, kPush, 1000, 300, 400, 0, 0, 0},
        {7, kAnswer, 1000, 300, 400, 0, 0, 0},
        {-1, kAnswer, 1000, 300, 400, 0, 0, 0},
        {8, kAnswer, 1000, 300, 400, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status) + (c.source == kPush ? " push" : " answer"));
        LogCapture log;
        const OrderProgress p = OrderProgressOf(c.status, c.quantity, c.traded, c.leaves, c.source, "OnQueryOrder");
        EXPECT_EQ(p.submit_status, c.submit);
        EXPECT_EQ(p.qty_traded, c.qty_traded);
        EXPECT_EQ(p.qty_left, c.qty_left);
        const bool unknown = c.status < 0 || c.status > 6;
        EXPECT_EQ(log.Count("error|Unknown order status " + std::to_string(c.status) +
                            " trader_api/core/spot_api/CTradeDriver # OnQueryOrder"),
                  unknown ? 1u : 0u);
    }
}

TEST(SpotOrderProgress, HostileQuantitiesDoNotOverflow) {
    const int64_t min = INT64_MIN;
    const OrderProgress answer = OrderProgressOf(2, min, 1, 0, RecordSource::Answer, "h");
    EXPECT_EQ(answer.qty_left, INT64_MAX);  // wraps, as the server's numbers make it
    const OrderProgress cancelled = OrderProgressOf(3, 5, min, min, RecordSource::Push, "h");
    EXPECT_EQ(cancelled.qty_left, min);
}

// ---------------------------------------------------------------------------------------
// Trade amount and timestamp rules

TEST(SpotTradeAmount, HundredPerUnitForBusinessTwoElsePriceTimesQuantity) {
    struct Case {
        uint8_t business;
        int64_t quantity;
        double price;
        double amount;
    };
    const Case cases[] = {
        {2, 10, 99.5, 1000.0},  // whatever the price
        {2, 10, 0.0, 1000.0},
        {2, 0, 5.0, 0.0},
        {0, 10, 99.5, 995.0},
        {1, 200, 10.25, 2050.0},
        {3, 3, 1.5, 4.5},
        {255, 4, 2.5, 10.0},  // unknown business type
        {2, INT64_MAX, 1.0, 9.223372036854775807e20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("business " + std::to_string(c.business));
        EXPECT_DOUBLE_EQ(SpotTradeAmount(c.business, c.quantity, c.price), c.amount);
    }
}

TEST(SpotTimestamp, TradingDayTimesBillionPlusTimeTimesThousandIn64Bits) {
    struct Case {
        int64_t day;
        int32_t hhmmss;
        int64_t stamp;
    };
    const Case cases[] = {
        {kDay, 93015, 20240105093015000},
        {kDay, 0, 20240105000000000},
        {kDay, 214748, 20240105214748000},
        // times beyond the clock's range, past 2^31 / 1000: a 32-bit product would wrap
        {kDay, 2147483, 20240105000000000 + 2147483000},
        {kDay, 2147484, 20240105000000000 + 2147484000},
        {0, INT32_MAX, 2147483647000},
        {kDay, -1, 20240104999999000},
        {kDay, 235959, 20240105235959000},
        {0, 101010, 101010000},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.day) + " " + std::to_string(c.hhmmss));
        EXPECT_EQ(SpotTimestamp(c.day, c.hhmmss), c.stamp);
    }
    // hostile values wrap without undefined behaviour
    (void)SpotTimestamp(INT64_MAX, INT32_MAX);
    (void)SpotTimestamp(INT64_MIN, INT32_MIN);
}

// ---------------------------------------------------------------------------------------
// Ids rebuilt from wire fields

TEST(SpotIds, EveryFieldIsKeptToItsWidth) {
    struct Case {
        uint64_t node, fund, client, seq;
        uint64_t id;
    };
    const Case cases[] = {
        {10, 3, 7, 100, 0x0A00030700000064},
        {0, 0, 0, 0, 0},
        {0xff, 0xffff, 0xff, 0xffffffff, 0xffffffffffffffff},
        {0x1ff, 0, 0, 0, 0xff00000000000000},        // node beyond 8 bits
        {0, 0x1ffff, 0, 0, 0x00ffff0000000000},      // fund index beyond 16 bits
        {0, 0, 0x1ff, 0, 0x000000ff00000000},        // client id beyond 8 bits
        {0, 0, 0, 0xffffffffffffffff, 0xffffffff},   // a sign-extended -1 sequence
        {3, 12, 7, uint64_t(int64_t(-2)), 0x03000c07fffffffe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        EXPECT_EQ(ComposeOXAID(c.node, c.fund, c.client, c.seq), c.id);
    }
    EXPECT_EQ(ComposeOXAIDForSession(0x0A0003, 7, 100), 0x0A00030700000064u);
    EXPECT_EQ(ComposeOXAIDForSession(0x0A0003, 7, 100) >> 40, 0x0A0003u);
    EXPECT_EQ(ComposeOXAIDForSession(0x7A0A0003, 0x107, 0x500000064), 0x0A00030700000064u);
    static_assert(ComposeOXAID(1, 2, 3, 4) == 0x0100020300000004, "usable in constant expressions");
}

// ---------------------------------------------------------------------------------------
// The order record

Wire OrderWire() {
    Wire w(kOrderRecordSize);
    w.Text(16, 8, "600519")
        .Put<int64_t>(24, 1000)
        .Put<double>(32, 12.34)
        .Text(40, 11, "L0000000001")
        .Put<char>(51, '1')
        .Put<char>(52, '2')
        .Put<char>(53, '1')
        .Put<char>(54, '4')
        .Put<char>(55, '3')
        .Put<int32_t>(56, 93015)
        .Put<int32_t>(60, 0x01020304)
        .Put<uint32_t>(89, 0xA1B2C3D4)
        .Put<uint8_t>(93, 7)
        .Put<uint8_t>(96, 0x5A)
        .Put<uint64_t>(97, 0x0A00030700000064)
        .Put<uint8_t>(109, 0xA5)
        .Put<int64_t>(118, 300)
        .Put<int64_t>(128, 400)
        .Put<double>(136, 3702.0)
        .Put<uint32_t>(144, 0x11223344)
        .Put<uint64_t>(152, 0x0A00030700000065);
    return w;
}

TEST(SpotOrderRecord, ReadsEveryFieldAtItsOffset) {
    const Wire w = OrderWire();
    SpotOrderRecord rec;
    ASSERT_TRUE(ReadOrderRecord(w.data(), w.size(), rec));
    EXPECT_EQ(std::string(rec.ticker, 6), "600519");
    EXPECT_EQ(Val(rec.quantity), 1000);
    EXPECT_DOUBLE_EQ(Val(rec.price), 12.34);
    EXPECT_EQ(std::string(rec.order_local_id, 11), "L0000000001");
    EXPECT_EQ(Val(rec.market), '1');
    EXPECT_EQ(Val(rec.side), '2');
    EXPECT_EQ(Val(rec.price_type), '1');
    EXPECT_EQ(Val(rec.business_type), '4');
    EXPECT_EQ(Val(rec.order_status), '3');
    EXPECT_EQ(Val(rec.time), 93015);
    EXPECT_EQ(Val(rec.error_code), 0x01020304);
    EXPECT_EQ(Val(rec.order_client_id), 0xA1B2C3D4u);
    EXPECT_EQ(Val(rec.client_id), 7);
    EXPECT_EQ(Val(rec.reserved2), 0x5A);
    EXPECT_EQ(Val(rec.order_id), 0x0A00030700000064u);
    EXPECT_EQ(Val(rec.reserved1), 0xA5);
    EXPECT_EQ(Val(rec.traded_quantity), 300);
    EXPECT_EQ(Val(rec.leaves_quantity), 400);
    EXPECT_DOUBLE_EQ(Val(rec.trade_amount), 3702.0);
    EXPECT_EQ(Val(rec.cancel_client_id), 0x11223344u);
    EXPECT_EQ(Val(rec.cancel_order_id), 0x0A00030700000065u);
}

TEST(SpotOrderRecord, AnswerConvertsIntoThePublicRecord) {
    const Wire w = OrderWire();
    OXAOrderInfo o;
    std::memset(&o, 0x77, sizeof o);  // every byte is written
    LogCapture log;
    ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Answer, kDay, "OnQueryOrder", o));
    EXPECT_TRUE(log.Lines().empty());

    EXPECT_EQ(Val(o.order_oxa_id), 0x0A00030700000064u);
    EXPECT_EQ(Val(o.order_client_id), 0xA1B2C3D4u);
    EXPECT_EQ(Val(o.order_cancel_client_id), 0u);  // answers leave it 0
    EXPECT_EQ(Val(o.order_cancel_oxa_id), 0x0A00030700000065u);
    EXPECT_STREQ(o.ticker, "600519");
    EXPECT_EQ(Val(o.market), 1);
    EXPECT_DOUBLE_EQ(Val(o.price), 12.34);
    EXPECT_EQ(Val(o.quantity), 1000);
    EXPECT_EQ(Val(o.price_type), 4);
    EXPECT_EQ(Val(o.side), 8);  // side '2' with business '4'
    EXPECT_EQ(Val(o.position_effect), 0);
    EXPECT_EQ(Val(o.reserved1), 0xA5);
    EXPECT_EQ(Val(o.client_id), 7);
    EXPECT_EQ(Val(o.business_type), 3);
    EXPECT_EQ(Val(o.reserved2), 0x5A);
    EXPECT_EQ(Val(o.pad_70[0]), 0);
    EXPECT_EQ(Val(o.pad_70[1]), 0);
    EXPECT_EQ(Val(o.qty_traded), 300);
    EXPECT_EQ(Val(o.qty_left), 700);
    EXPECT_EQ(Val(o.insert_time), 20240105093015000);
    EXPECT_EQ(Val(o.update_time), 0);
    EXPECT_EQ(Val(o.cancel_time), 0);
    EXPECT_DOUBLE_EQ(Val(o.trade_amount), 3702.0);
    // as wide as the wire field: cut to 10 characters and terminated
    EXPECT_STREQ(o.order_local_id, "L000000000");
    EXPECT_EQ(Val(o.order_status), 2);
    EXPECT_EQ(Val(o.order_submit_status), 2);
    EXPECT_EQ(Val(o.order_type), '0');
    // the rest of the ticker field is zero
    for (std::size_t i = 6; i < sizeof o.ticker; ++i) EXPECT_EQ(Val(o.ticker[i]), 0) << i;
}

TEST(SpotOrderRecord, PushCarriesTheCancelClientIdAndNoPartialQuantities) {
    const Wire w = OrderWire();
    OXAOrderInfo o;
    ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Push, kDay, "OnOrderEvent", o));
    EXPECT_EQ(Val(o.order_cancel_client_id), 0x11223344u);
    EXPECT_EQ(Val(o.order_status), 2);
    EXPECT_EQ(Val(o.order_submit_status), 2);
    EXPECT_EQ(Val(o.qty_traded), 0);
    EXPECT_EQ(Val(o.qty_left), 0);
}

TEST(SpotOrderRecord, WireStatusToPublicStatusAndQuantities) {
    struct Case {
        char code;
        RecordSource source;
        int32_t status, submit;
        int64_t qty_traded, qty_left;
    };
    // quantity 1000, traded 300 at 118, leaves 400 at 128
    const Case cases[] = {
        {'0', RecordSource::Answer, 0, 1, 0, 1000}, {'1', RecordSource::Push, 0, 1, 0, 1000},
        {'5', RecordSource::Answer, 1, 2, 1000, 0}, {'3', RecordSource::Answer, 2, 2, 300, 700},
        {'3', RecordSource::Push, 2, 2, 0, 0},      {'4', RecordSource::Push, 3, 6, 600, 400},
        {'2', RecordSource::Answer, 4, 2, 0, 1000}, {'6', RecordSource::Answer, 5, 6, 600, 400},
        {'7', RecordSource::Push, 6, 3, 0, 1000},   {'8', RecordSource::Answer, 7, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("code ") + c.code);
        Wire w = OrderWire();
        w.Put<char>(55, c.code);
        OXAOrderInfo o;
        ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), c.source, kDay, "h", o));
        EXPECT_EQ(Val(o.order_status), c.status);
        EXPECT_EQ(Val(o.order_submit_status), c.submit);
        EXPECT_EQ(Val(o.qty_traded), c.qty_traded);
        EXPECT_EQ(Val(o.qty_left), c.qty_left);
    }
}

TEST(SpotOrderRecord, UnknownStatusIsDeliveredWithAWarningAndAnError) {
    Wire w = OrderWire();
    w.Put<char>(55, '8');
    LogCapture log;
    OXAOrderInfo o;
    ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Answer, kDay, "OnQueryOrder", o));
    EXPECT_EQ(Val(o.order_status), 7);
    EXPECT_EQ(Val(o.order_submit_status), 0);
    EXPECT_EQ(Val(o.qty_traded), 0);
    EXPECT_EQ(Val(o.qty_left), 0);
    EXPECT_EQ(log.Count("info|[trader_api/core/spot_api/CTradeDriver #]Unknown OrderStatusType:8 "
                        "operation[OnQueryOrder] order_oxa_id[720579268978933860]"),
              1u);
    EXPECT_EQ(log.Count("error|Unknown order status 7 trader_api/core/spot_api/CTradeDriver # OnQueryOrder"), 1u);
    EXPECT_EQ(Val(o.order_oxa_id), 0x0A00030700000064u);  // the rest of the record is still there
}

// A gateway echoes an order's codes as they went out; codes the library sent as byte 0 (values
// it has no code for) come back as the interface's fallbacks, never as values it does not have.
TEST(SpotOrderRecord, UnknownCodesTakeTheirFallbacks) {
    for (const char code : {'\0', 'Z'}) {
        SCOPED_TRACE(static_cast<int>(code));
        Wire w = OrderWire();
        w.Put<char>(51, code).Put<char>(52, code).Put<char>(53, code).Put<char>(54, code).Put<char>(55, code);
        OXAOrderInfo o;
        LogCapture log;
        ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Push, kDay, "OnOrderEvent", o));
        EXPECT_EQ(Val(o.market), 99);
        EXPECT_EQ(Val(o.side), 50);
        EXPECT_EQ(Val(o.price_type), 11);
        EXPECT_EQ(Val(o.business_type), 255);
        EXPECT_EQ(Val(o.order_status), 7);
        // every line names the handler and the order
        EXPECT_EQ(log.Count("info|[* #]Unknown * operation[OnOrderEvent] order_oxa_id[720579268978933860]"), 5u);
    }
}

TEST(SpotOrderRecord, TextsStopAtTheirNulAndNeverPassTheField) {
    struct Case {
        std::string ticker, local_id;
        const char* want_ticker;
        const char* want_local_id;
    };
    const Case cases[] = {
        {"60000012", "ABCDEFGHIJK", "60000012", "ABCDEFGHIJ"},  // full wire widths
        {"6", "A", "6", "A"},
        {"", "", "", ""},
        {std::string("60\0" "0519", 7), std::string("AB\0" "CD", 5), "60", "AB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want_ticker);
        Wire w = OrderWire();
        w.Text(16, 8, c.ticker).Text(40, 11, c.local_id);
        OXAOrderInfo o;
        ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Answer, kDay, "h", o));
        EXPECT_STREQ(o.ticker, c.want_ticker);
        EXPECT_STREQ(o.order_local_id, c.want_local_id);
        EXPECT_EQ(o.order_local_id[sizeof o.order_local_id - 1], 0);
    }
}

TEST(SpotOrderRecord, EveryTruncatedLengthReadsNothing) {
    const Wire w = OrderWire();
    for (std::size_t len = 0; len < kOrderRecordSize; ++len) {
        SCOPED_TRACE(len);
        const auto msg = w.Exact(len);
        SpotOrderRecord rec;
        std::memset(&rec, 0x77, sizeof rec);
        EXPECT_FALSE(ReadOrderRecord(msg.get(), len, rec));
        EXPECT_TRUE(AllZero(rec));
        OXAOrderInfo o;
        std::memset(&o, 0x77, sizeof o);
        EXPECT_FALSE(ConvertOrderMessage(msg.get(), len, RecordSource::Push, kDay, "h", o));
        EXPECT_TRUE(AllZero(o));
    }
    OXAOrderInfo o;
    EXPECT_FALSE(ConvertOrderMessage(nullptr, kOrderRecordSize, RecordSource::Push, kDay, "h", o));
    const auto exact = w.Exact(kOrderRecordSize);
    EXPECT_TRUE(ConvertOrderMessage(exact.get(), kOrderRecordSize, RecordSource::Push, kDay, "h", o));
}

TEST(SpotOrderRecord, BytesAfterTheRecordAreNotRead) {
    Wire longer(kOrderRecordSize + 40, 0x00);
    const Wire w = OrderWire();
    std::memcpy(const_cast<char*>(longer.data()), w.data(), w.size());
    OXAOrderInfo a, b;
    ASSERT_TRUE(ConvertOrderMessage(w.data(), w.size(), RecordSource::Answer, kDay, "h", a));
    ASSERT_TRUE(ConvertOrderMessage(longer.data(), longer.size(), RecordSource::Answer, kDay, "h", b));
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

// ---------------------------------------------------------------------------------------
// The trade record

Wire TradeWire() {
    Wire w(kTradeRecordSize);
    w.Put<char>(0, '2')
        .Text(1, 11, "E0000000001")
        .Text(12, 18, "X12345678901234567")
        .Put<char>(30, '1')
        .Put<char>(31, '1')
        .Put<double>(40, 10.5)
        .Put<int64_t>(48, 200)
        .Put<int32_t>(72, -5)
        .Put<int32_t>(76, 235959)
        .Put<uint8_t>(85, 0x33)
        .Text(94, 10, "0000012345")
        .Put<uint32_t>(104, 0xDEADBEEF)
        .Put<uint8_t>(108, 9)
        .Put<char>(109, 'A')
        .Put<uint8_t>(111, 0x44)
        .Put<uint64_t>(112, 0x0A00030900000066)
        .Put<char>(120, 'F');
    return w;
}

TEST(SpotTradeRecord, ConvertsIntoThePublicRecord) {
    const Wire w = TradeWire();
    OXATradeReport t;
    std::memset(&t, 0x77, sizeof t);
    LogCapture log;
    ASSERT_TRUE(ConvertTradeMessage(w.data(), w.size(), kDay, "test", t));
    EXPECT_TRUE(log.Lines().empty());

    EXPECT_EQ(Val(t.order_oxa_id), 0x0A00030900000066u);
    EXPECT_EQ(Val(t.order_client_id), 0xDEADBEEFu);
    EXPECT_STREQ(t.ticker, "0000012345");
    EXPECT_EQ(Val(t.market), 2);
    EXPECT_EQ(Val(t.price_type), 10);
    for (uint8_t b : t.pad_36) EXPECT_EQ(b, 0);
    EXPECT_STREQ(t.exec_id, "X1234567890123456");  // 18 wide on both sides: 17 and the NUL
    EXPECT_DOUBLE_EQ(Val(t.price), 10.5);
    EXPECT_EQ(Val(t.quantity), 200);
    EXPECT_EQ(Val(t.trade_time), 20240105235959000);
    EXPECT_DOUBLE_EQ(Val(t.trade_amount), 2100.0);
    EXPECT_EQ(Val(t.report_index), 0xFFFFFFFFFFFFFFFBu);  // widened with its sign
    EXPECT_STREQ(t.order_exch_id, "E0000000001");
    EXPECT_EQ(Val(t.trade_type), 'F');
    EXPECT_EQ(Val(t.side), 1);
    EXPECT_EQ(Val(t.position_effect), 0);
    EXPECT_EQ(Val(t.reserved1), 0x33);
    EXPECT_EQ(Val(t.client_id), 9);
    EXPECT_EQ(Val(t.business_type), 0);
    EXPECT_EQ(Val(t.reserved2), 0x44);
    for (uint8_t b : t.pad_122) EXPECT_EQ(b, 0);
    for (char c : t.branch_pbu) EXPECT_EQ(c, 0);
}

TEST(SpotTradeRecord, AmountByBusinessCode) {
    struct Case {
        char business;
        uint8_t decoded;
        uint8_t side;
        double amount;
    };
    // quantity 200 at price 10.5
    const Case cases[] = {
        {'2', 2, 1, 20000.0},  // quantity x 100 whatever the price
        {'1', 0, 1, 2100.0},
        {'3', 1, 1, 2100.0},
        {'4', 3, 7, 2100.0},
        {'Z', 255, 1, 2100.0},
        {'\0', 255, 1, 2100.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("business ") + c.business);
        Wire w = TradeWire();
        w.Put<char>(31, c.business);
        OXATradeReport t;
        ASSERT_TRUE(ConvertTradeMessage(w.data(), w.size(), kDay, "test", t));
        EXPECT_EQ(Val(t.business_type), c.decoded);
        EXPECT_EQ(Val(t.side), c.side);
        EXPECT_DOUBLE_EQ(Val(t.trade_amount), c.amount);
    }
}

TEST(SpotTradeRecord, UnknownCodesTakeTheirFallbacks) {
    Wire w = TradeWire();
    w.Put<char>(0, '\0').Put<char>(30, '\0').Put<char>(31, '\0').Put<char>(109, '\0');
    OXATradeReport t;
    LogCapture log;
    ASSERT_TRUE(ConvertTradeMessage(w.data(), w.size(), kDay, "OnTradeEvent", t));
    EXPECT_EQ(Val(t.market), 99);
    EXPECT_EQ(Val(t.side), 50);
    EXPECT_EQ(Val(t.price_type), 11);
    EXPECT_EQ(Val(t.business_type), 255);
    EXPECT_EQ(log.Count("info|[* #]Unknown * operation[OnTradeEvent] order_oxa_id[#]"), 4u);
}

TEST(SpotTradeRecord, EveryTruncatedLengthReadsNothing) {
    const Wire w = TradeWire();
    for (std::size_t len = 0; len < kTradeRecordSize; ++len) {
        SCOPED_TRACE(len);
        const auto msg = w.Exact(len);
        SpotTradeRecord rec;
        std::memset(&rec, 0x77, sizeof rec);
        EXPECT_FALSE(ReadTradeRecord(msg.get(), len, rec));
        EXPECT_TRUE(AllZero(rec));
        OXATradeReport t;
        std::memset(&t, 0x77, sizeof t);
        EXPECT_FALSE(ConvertTradeMessage(msg.get(), len, kDay, "test", t));
        EXPECT_TRUE(AllZero(t));
    }
    const auto exact = w.Exact(kTradeRecordSize);
    OXATradeReport t;
    EXPECT_TRUE(ConvertTradeMessage(exact.get(), kTradeRecordSize, kDay, "test", t));
    EXPECT_EQ(Val(t.order_oxa_id), 0x0A00030900000066u);
}

}  // namespace
