#include "core/spot_api/SpotQueryAnswers.h"

#include <spdlog/spdlog.h>

#include <cstring>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "api_common/AnswerRecords.h"
#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/QueryPaging.h"
#include "core/spot_api/SpotConvert.h"
#include "infra/utility/AnswerWait.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace SPOT {

namespace {

char Byte(const char* data, std::size_t len, std::size_t off) { return ScalarAt<char>(data, len, off); }
int32_t Digit(const char* data, std::size_t len, std::size_t off) { return DigitValue(Byte(data, len, off)); }
int32_t Market(const char* data, std::size_t len, std::size_t off) {
    return DecodeMarketTypeDigit(Byte(data, len, off));
}

template <std::size_t N>
void Literal(char (&dst)[N], const char* text) {
    CopyText(dst, text, std::strlen(text));
}

// The error record of an answer: the code and the library's text for it (also for 0).
OXAErrorInfo ErrorOf(int32_t code) {
    OXAErrorInfo e{};
    e.error_id = code;
    FillErrorMsg(&e);
    return e;
}

void Entry(int line, const char* name) { spdlog::debug("{} {} {}", kDriverSource, line, name); }

// ---------------------------------------------------------------------------------------
// Record fillers: rec points at a record of the size its answer binds.

void FillPosition(const char* rec, OXAPositionInfo& out) {
    const std::size_t n = kPositionRecordSize;
    out = OXAPositionInfo{};
    TextAt(out.ticker, rec, n, 8, 8);
    Literal(out.ticker_name, "not_ready");
    out.market = Market(rec, n, 77);
    out.total_qty = ScalarAt<int64_t>(rec, n, 32);
    out.sellable_qty = ScalarAt<int64_t>(rec, n, 40);
    out.avg_price = ScalarAt<double>(rec, n, 64);
    out.yesterday_position = ScalarAt<int64_t>(rec, n, 16);
    out.purchase_redeemable_qty = ScalarAt<int64_t>(rec, n, 48);
    if (out.purchase_redeemable_qty == 0) out.purchase_redeemable_qty = ScalarAt<int64_t>(rec, n, 56);
}

void FillAsset(const char* rec, OXAAssetInfo& out) {
    const std::size_t n = kAssetRecordSize;
    out = OXAAssetInfo{};
    out.total_asset = ScalarAt<double>(rec, n, 37);
    out.buying_power = ScalarAt<double>(rec, n, 16);
    out.field_16 = ScalarAt<double>(rec, n, 29);
    out.withholding_amount = ScalarAt<double>(rec, n, 45);
    out.field_188 = ScalarAt<double>(rec, n, 85);
    out.field_196 = ScalarAt<double>(rec, n, 93);
}

void FillYesterdayAsset(const char* rec, OXAYesterdayAssetInfo& out) {
    const std::size_t n = kAssetRecordSize;
    out = OXAYesterdayAssetInfo{};
    out.field_0 = ScalarAt<double>(rec, n, 37);
    out.field_16 = ScalarAt<double>(rec, n, 8);
    out.field_24 = ScalarAt<double>(rec, n, 29);
}

void FillFund(const char* rec, OXAFundInfo& out) {
    const std::size_t n = kFundRecordSize;
    out = OXAFundInfo{};
    out.buying_power = ScalarAt<double>(rec, n, 16);
    out.withholding_amount = ScalarAt<double>(rec, n, 45);
    out.field_20 = ScalarAt<double>(rec, n, 53);
    out.field_28 = ScalarAt<double>(rec, n, 61);
}

void FillFundTransfer(const char* rec, uint64_t session_id, int64_t trading_day, OXAFundTransferNotice& out) {
    const std::size_t n = kFundTransferRecordSize;
    out = OXAFundTransferNotice{};
    out.order_oxa_id = ComposeOXAIDForSession(session_id, ScalarAt<uint8_t>(rec, n, 82), ScalarAt<uint64_t>(rec, n, 0));
    const CodeTrace trace("OnQueryFundTransfer", out.order_oxa_id);
    out.transfer_type = DecodeFundTransferType(Byte(rec, n, 65));
    out.amount = ScalarAt<double>(rec, n, 49);
    const uint32_t status = ScalarAt<uint32_t>(rec, n, 66);
    out.oper_status = status == 0 ? 0 : status == 1 ? 1 : 2;
    out.transfer_time = static_cast<uint64_t>(SpotTimestamp(trading_day, ScalarAt<int32_t>(rec, n, 70)));
}

void FillOtherServerFund(const char* rec, OXAOtherServerFundInfo& out) {
    out = OXAOtherServerFundInfo{};
    out.amount = ScalarAt<double>(rec, kOtherServerFundRecordSize, 16);
    out.query_type = 1;
}

void FillETF(const char* body, OXAETFInfo& out) {
    const std::size_t n = kETFRecordSize;
    out = OXAETFInfo{};
    out.market = Market(body, n, 16);
    TextAt(out.ticker, body, n, 8, 8);
    TextAt(out.field_20, body, n, 0, 8);
    out.field_36 = static_cast<int32_t>(ScalarAt<uint32_t>(body, n, 17));
    out.field_40 = Digit(body, n, 45);
    out.field_44 = Digit(body, n, 46);
    out.field_48 = ScalarAt<double>(body, n, 71);
    out.field_56 = ScalarAt<double>(body, n, 63);
    out.field_64 = ScalarAt<double>(body, n, 87);
    out.field_72 = ScalarAt<double>(body, n, 79);
    out.field_80 = ScalarAt<double>(body, n, 55);
    out.field_88 = Digit(body, n, 95);
    out.field_92 = Digit(body, n, 96);
    out.field_96 = Digit(body, n, 97);
    out.field_100 = Digit(body, n, 98);
    out.field_104 = Digit(body, n, 99);
}

void FillETFBasket(const char* body, OXAETFBasketInfo& out) {
    const std::size_t n = kETFBasketBodySize;
    out = OXAETFBasketInfo{};
    out.market = Market(body, n, 8);
    // each ticker ends where the next field starts
    TextAt(out.ticker, body, n, 0, 8);
    TextAt(out.component_ticker, body, n, 9, 8);
    out.field_100 = ScalarAt<int32_t>(body, n, 18);
    out.component_market = Market(body, n, 17);
    out.field_112 = Digit(body, n, 22);
    out.field_132 = ScalarAt<double>(body, n, 23);
    out.field_140 = ScalarAt<double>(body, n, 31);
    out.field_148 = ScalarAt<double>(body, n, 39);
    out.field_156 = ScalarAt<double>(body, n, 47);
}

void FillIPOInfo(const char* body, OXAIPOInfo& out) {
    const std::size_t n = kIPOInfoBodySize;
    out = OXAIPOInfo{};
    out.market = DecodeMarketType(Byte(body, n, 8));
    TextAt(out.ticker, body, n, 0, 8);
    TextAt(out.name, body, n, 28, 64);
    out.ticker_type = DecodeTickerType(Byte(body, n, 9), Byte(body, n, 10));
    out.field_88 = ScalarAt<double>(body, n, 12);
    out.field_96 = ScalarAt<int32_t>(body, n, 108);
    out.field_100 = ScalarAt<int32_t>(body, n, 20);
    out.field_104 = ScalarAt<double>(body, n, 92);
    out.field_112 = ScalarAt<double>(body, n, 100);
}

void FillIPOQuota(const char* rec, OXAIPOQuotaInfo& out) {
    const std::size_t n = kIPOQuotaRecordSize;
    out = OXAIPOQuotaInfo{};
    out.market = Market(rec, n, 12);
    out.field_4 = static_cast<int32_t>(ScalarAt<uint64_t>(rec, n, 27));
    out.field_8 = static_cast<int32_t>(ScalarAt<uint64_t>(rec, n, 35));
}

void FillIssue(const char* rec, OXAIssueInfo& out) {
    const std::size_t n = kIssueRecordSize;
    out = OXAIssueInfo{};
    out.market = Market(rec, n, 8);
    TextAt(out.ticker, rec, n, 0, 8);
    Literal(out.name, "not_ready");
    out.ticker_type = DecodeTickerType(Byte(rec, n, 9), Byte(rec, n, 10));
    Literal(out.field_88, "not_ready");
    out.field_104 = ScalarAt<double>(rec, n, 12);
    out.field_116 = static_cast<int32_t>(ScalarAt<uint64_t>(rec, n, 28));
}

void FillSecurity(const char* rec, OXASecurityInfo& out) {
    const std::size_t n = kSecurityRecordSize;
    out = OXASecurityInfo{};
    TextAt(out.ticker, rec, n, 0, 8);
    TextAt(out.name, rec, n, 55, 64);
    out.market = Market(rec, n, 9);
    out.ticker_type = DecodeTickerType(Byte(rec, n, 10), Byte(rec, n, 11));
    out.field_88 = ScalarAt<int64_t>(rec, n, 39);
    out.field_96 = ScalarAt<uint8_t>(rec, n, 14);
    out.field_97 = ScalarAt<double>(rec, n, 15);
    out.field_105 = ScalarAt<double>(rec, n, 23);
    out.field_113 = ScalarAt<double>(rec, n, 31);
    out.field_121 = ScalarAt<double>(rec, n, 47);
}

// ---------------------------------------------------------------------------------------
// Classic answers.

struct ClassicHead {
    uint64_t session_no;
    int request_id;
    bool last;
    int16_t error;
    int16_t count;
};

ClassicHead ReadClassicHead(const char* data, std::size_t len) {
    ClassicHead h{};
    h.session_no = ScalarAt<uint32_t>(data, len, 0);
    h.request_id = static_cast<int>(static_cast<uint32_t>(ScalarAt<uint64_t>(data, len, 4)));
    h.last = ScalarAt<uint8_t>(data, len, 12) != 0;
    h.error = ScalarAt<int16_t>(data, len, 13);
    h.count = ScalarAt<int16_t>(data, len, 15);
    return h;
}

enum class LastRule {
    Head,    // the head's flag on the last record
    Always,  // every call ends the query
};

// One call per record that fits; single-record answers deliver only the first. Without
// records (count 0) one call with a null record ends the query. A count that is negative or
// runs past the message delivers what fits, and the query still ends once when the head
// says it is the last message.
template <typename Rec, typename Fill, typename Call>
void Classic(const char* name, uint32_t msg_id, const char* data, int len, uint32_t node_id, std::size_t rec_size,
             bool single, LastRule rule, Fill fill, Call call) {
    const CodeTrace trace(name, 0);
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ClassicHead h = ReadClassicHead(data, n_len);
    OXAErrorInfo error = ErrorOf(h.error);
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    const uint64_t session_id = info->nApiSessionID;
    const bool last = rule == LastRule::Always || h.last;
    if (h.count == 0) {
        call(static_cast<Rec*>(nullptr), &error, h.request_id, true, session_id);
        return;
    }
    const uint64_t wanted = h.count < 0 ? 0 : static_cast<uint64_t>(h.count);
    uint64_t n = RecordsThatFit(wanted, n_len, kRspHeadSize, rec_size, rec_size);
    if (single && n > 1) n = 1;
    if (n < wanted && !(single && n == 1))
        LogShortMessage(name, msg_id, n_len, kRspHeadSize + static_cast<std::size_t>(wanted) * rec_size);
    if (h.count < 0) spdlog::error("[{}] negative record count {}", name, h.count);
    if (n == 0) {
        if (last) call(static_cast<Rec*>(nullptr), &error, h.request_id, true, session_id);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) {
        Rec rec;
        fill(data + kRspHeadSize + i * rec_size, rec, *info);
        call(&rec, &error, h.request_id, last && i + 1 == n, session_id);
    }
}

#define OXA_HANDLER(name)                                                                                  \
    void name(CTradeDriver& driver, int, int32_t, const char* data, int len, int, bool, int16_t, int16_t, \
              uint32_t node_id)

OXA_HANDLER(OnQueryOrder) {
    Entry(__LINE__, "OnQueryOrder");
    const int64_t day = driver.GetTradingDay();
    Classic<OXAOrderInfo>(
        "OnQueryOrder", kMsgQueryOrderRsp, data, len, node_id, kOrderRecordSize, false, LastRule::Head,
        [day](const char* rec, OXAOrderInfo& out, const tagSessionInfo&) {
            ConvertOrderMessage(rec, kOrderRecordSize, RecordSource::Answer, day, "OnQueryOrder", out);
        },
        [](OXAOrderInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryOrder(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryTrade) {
    Entry(__LINE__, "OnQueryTrade");
    const int64_t day = driver.GetTradingDay();
    Classic<OXATradeReport>(
        "OnQueryTrade", kMsgQueryTradeRsp, data, len, node_id, kTradeRecordSize, false, LastRule::Head,
        [day](const char* rec, OXATradeReport& out, const tagSessionInfo&) {
            ConvertTradeMessage(rec, kTradeRecordSize, day, "OnQueryTrade", out);
        },
        [](OXATradeReport* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryTrade(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryPosition) {
    (void)driver;
    Entry(__LINE__, "OnQueryPosition");
    Classic<OXAPositionInfo>(
        "OnQueryPosition", kMsgQueryPositionRsp, data, len, node_id, kPositionRecordSize, false, LastRule::Head,
        [](const char* rec, OXAPositionInfo& out, const tagSessionInfo&) { FillPosition(rec, out); },
        [](OXAPositionInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryPosition(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryYesterdayAsset) {
    (void)driver;
    Entry(__LINE__, "OnQueryYesterdayAsset");
    Classic<OXAYesterdayAssetInfo>(
        "OnQueryYesterdayAsset", kMsgQueryAssetRsp, data, len, node_id, kAssetRecordSize, false, LastRule::Head,
        [](const char* rec, OXAYesterdayAssetInfo& out, const tagSessionInfo&) { FillYesterdayAsset(rec, out); },
        [](OXAYesterdayAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryYesterdayAsset(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryAsset) {
    Entry(__LINE__, "OnQueryAsset");
    // a negative amount at 33 marks yesterday's asset
    if (ScalarAt<double>(data, static_cast<std::size_t>(len), kRspHeadSize + 16) < 0) {
        OnQueryYesterdayAsset(driver, 0, kMsgQueryAssetRsp, data, len, 0, false, 0, 0, node_id);
        return;
    }
    Classic<OXAAssetInfo>(
        "OnQueryAsset", kMsgQueryAssetRsp, data, len, node_id, kAssetRecordSize, true, LastRule::Always,
        [](const char* rec, OXAAssetInfo& out, const tagSessionInfo&) { FillAsset(rec, out); },
        [](OXAAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryAsset(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryFund) {
    (void)driver;
    Entry(__LINE__, "OnQueryFund");
    Classic<OXAFundInfo>(
        "OnQueryFund", kMsgQueryFundRsp, data, len, node_id, kFundRecordSize, true, LastRule::Always,
        [](const char* rec, OXAFundInfo& out, const tagSessionInfo&) { FillFund(rec, out); },
        [](OXAFundInfo* r, OXAErrorInfo* e, int id, bool, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryFund(r, e, id, s);
        });
}

OXA_HANDLER(OnQueryFundTransfer) {
    const int64_t day = driver.GetTradingDay();
    Classic<OXAFundTransferNotice>(
        "OnQueryFundTransfer", kMsgQueryFundTransferRsp, data, len, node_id, kFundTransferRecordSize, false,
        LastRule::Head,
        [day](const char* rec, OXAFundTransferNotice& out, const tagSessionInfo& info) {
            FillFundTransfer(rec, info.nApiSessionID, day, out);
        },
        [](OXAFundTransferNotice* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryFundTransfer(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryOtherServerFund) {
    (void)driver;
    const std::size_t n_len = static_cast<std::size_t>(len);
    // this answer logs its own text for an unknown session
    if (FindAnswerSession(node_id, ScalarAt<uint32_t>(data, n_len, 0)) == nullptr) {
        spdlog::error("ptr_session_info_spot is null {}", ScalarAt<uint32_t>(data, n_len, 0));
        return;
    }
    Classic<OXAOtherServerFundInfo>(
        "OnQueryOtherServerFund", kMsgQueryOtherServerFundRsp, data, len, node_id, kOtherServerFundRecordSize, false,
        LastRule::Head,
        [](const char* rec, OXAOtherServerFundInfo& out, const tagSessionInfo&) { FillOtherServerFund(rec, out); },
        [](OXAOtherServerFundInfo* r, OXAErrorInfo* e, int id, bool, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryOtherServerFund(r, e, id, s);
        });
}

OXA_HANDLER(OnQueryETF) {
    (void)driver;
    Entry(__LINE__, "OnQueryETF");
    Classic<OXAETFInfo>(
        "OnQueryETF", kMsgQueryETFRsp, data, len, node_id, kETFRecordSize, false, LastRule::Head,
        [](const char* rec, OXAETFInfo& out, const tagSessionInfo&) { FillETF(rec, out); },
        [](OXAETFInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryETF(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryIPOQuotaInfo) {
    (void)driver;
    Entry(__LINE__, "OnQueryIPOQuotaInfo");
    Classic<OXAIPOQuotaInfo>(
        "OnQueryIPOQuotaInfo", kMsgQueryIPOQuotaRsp, data, len, node_id, kIPOQuotaRecordSize, false, LastRule::Head,
        [](const char* rec, OXAIPOQuotaInfo& out, const tagSessionInfo&) { FillIPOQuota(rec, out); },
        [](OXAIPOQuotaInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryIPOQuotaInfo(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryIssueInfoList) {
    (void)driver;
    Entry(__LINE__, "OnQueryIssueInfoList");
    Classic<OXAIssueInfo>(
        "OnQueryIssueInfoList", kMsgQueryIssueRsp, data, len, node_id, kIssueRecordSize, false, LastRule::Head,
        [](const char* rec, OXAIssueInfo& out, const tagSessionInfo&) { FillIssue(rec, out); },
        [](OXAIssueInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryIssueInfoList(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQuerySecurityInfo) {
    (void)driver;
    Entry(__LINE__, "OnQuerySecurityInfo");
    Classic<OXASecurityInfo>(
        "OnQuerySecurityInfo", kMsgQuerySecurityRsp, data, len, node_id, kSecurityRecordSize, true, LastRule::Head,
        [](const char* rec, OXASecurityInfo& out, const tagSessionInfo&) { FillSecurity(rec, out); },
        [](OXASecurityInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQuerySecurityInfo(r, e, id, last, s);
        });
}

// ---------------------------------------------------------------------------------------
// Paged classic answers: at most one record at 33, with the page counters.

struct PageHead {
    uint64_t session_no;
    int request_id;
    int32_t index;
    int32_t req_count;
    uint64_t reference;
    bool last;
};

template <typename Rec, typename Fill, typename Call>
void Paged(const char* name, uint32_t msg_id, const char* data, int len, uint32_t node_id, std::size_t rec_size,
           Fill fill, Call call) {
    const CodeTrace trace(name, 0);
    const std::size_t n_len = static_cast<std::size_t>(len);
    PageHead h{};
    h.session_no = ScalarAt<uint32_t>(data, n_len, 0);
    h.request_id = static_cast<int>(static_cast<uint32_t>(ScalarAt<uint64_t>(data, n_len, 4)));
    h.index = ScalarAt<int32_t>(data, n_len, 12);
    h.req_count = ScalarAt<int32_t>(data, n_len, 16);
    h.reference = ScalarAt<uint64_t>(data, n_len, 20);
    h.last = ScalarAt<uint8_t>(data, n_len, 28) != 0;
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    Rec rec;
    Rec* out = nullptr;
    if (h.index != 0) {
        if (n_len >= kPageRspHeadSize + rec_size) {
            fill(data + kPageRspHeadSize, rec, data, n_len);
            out = &rec;
        } else {
            LogShortMessage(name, msg_id, n_len, kPageRspHeadSize + rec_size);
        }
    }
    call(out, static_cast<int64_t>(h.req_count), static_cast<int64_t>(h.index), static_cast<int64_t>(h.reference),
         h.request_id, h.last, info->nApiSessionID);
}

OXA_HANDLER(OnQueryOrderByPage) {
    Entry(__LINE__, "OnQueryOrderByPage");
    const int64_t day = driver.GetTradingDay();
    Paged<OXAOrderInfo>(
        "OnQueryOrderByPage", kMsgQueryOrderByPageRsp, data, len, node_id, kOrderRecordSize,
        [day](const char* rec, OXAOrderInfo& out, const char*, std::size_t) {
            ConvertOrderMessage(rec, kOrderRecordSize, RecordSource::Answer, day, "OnQueryOrderByPage", out);
        },
        [](OXAOrderInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryOrderByPage(r, rc, idx, ref, id, last, s);
        });
}

OXA_HANDLER(OnQueryTradeByPage) {
    Entry(__LINE__, "OnQueryTradeByPage");
    const int64_t day = driver.GetTradingDay();
    Paged<OXATradeReport>(
        "OnQueryTradeByPage", kMsgQueryTradeByPageRsp, data, len, node_id, kTradeRecordSize,
        [day](const char* rec, OXATradeReport& out, const char*, std::size_t) {
            ConvertTradeMessage(rec, kTradeRecordSize, day, "OnQueryTradeByPage", out);
        },
        [](OXATradeReport* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryTradeByPage(r, rc, idx, ref, id, last, s);
        });
}

OXA_HANDLER(OnQueryPositionByPage) {
    (void)driver;
    Entry(__LINE__, "OnQueryPositionByPage");
    Paged<OXAPositionInfo>(
        "OnQueryPositionByPage", kMsgQueryPositionByPageRsp, data, len, node_id, kPositionRecordSize,
        [](const char* rec, OXAPositionInfo& out, const char* msg, std::size_t msg_len) {
            FillPosition(rec, out);
            // the name follows the record when the server sends one
            const std::size_t name_at = kPageRspHeadSize + kPositionRecordSize;
            if (msg_len != name_at) TextAt(out.ticker_name, msg, msg_len, name_at, sizeof(out.ticker_name));
        },
        [](OXAPositionInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryPositionByPage(r, rc, idx, ref, id, last, s);
        });
}

// ---------------------------------------------------------------------------------------
// Extended answers.

struct ExtHead {
    uint64_t session_no;
    uint64_t request_no;
    int request_id;
    uint64_t fund_account;
    uint8_t client_id;
    int32_t error;
    uint32_t page_size;
    uint32_t count;
    uint32_t stride;
};

ExtHead ReadExtHead(const char* data, std::size_t len) {
    ExtHead h{};
    h.session_no = ScalarAt<uint64_t>(data, len, 0);
    h.request_no = ScalarAt<uint64_t>(data, len, 8);
    h.request_id = static_cast<int>(static_cast<uint32_t>(h.request_no));
    h.fund_account = ScalarAt<uint64_t>(data, len, 16);
    h.client_id = ScalarAt<uint8_t>(data, len, 24);
    h.error = ScalarAt<int32_t>(data, len, 28);
    h.page_size = ScalarAt<uint32_t>(data, len, 32);
    h.count = ScalarAt<uint32_t>(data, len, 36);
    h.stride = ScalarAt<uint32_t>(data, len, 40);
    return h;
}

// Paged extended answers: the application asks for every further page itself.
template <typename Rec, typename Fill, typename Call>
void ExtPaged(const char* name, const char* last_log, uint32_t msg_id, const char* data, int len, uint32_t node_id,
              std::size_t body_size, Fill fill, Call call) {
    const CodeTrace trace(name, 0);
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ExtHead h = ReadExtHead(data, n_len);
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    const uint64_t session_id = info->nApiSessionID;
    const int64_t req_count = h.page_size;
    if (h.count == 0) {
        call(static_cast<Rec*>(nullptr), req_count, 0, 0, h.request_id, true, session_id);
        return;
    }
    const uint64_t n = RecordsThatFit(h.count, n_len, kExtRspHeadSize, h.stride, 4 + body_size);
    if (n < h.count)
        LogShortMessage(name, msg_id, n_len,
                        static_cast<std::size_t>(kExtRspHeadSize + uint64_t{h.count} * (4 + body_size)));
    if (n == 0) {
        call(static_cast<Rec*>(nullptr), req_count, 0, 0, h.request_id, true, session_id);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) {
        const char* rec = data + kExtRspHeadSize + i * h.stride;
        const uint32_t position = ScalarAt<uint32_t>(rec, 4, 0);
        Rec out;
        fill(rec + 4, out);
        const bool last = i + 1 == n;
        if (last) spdlog::debug(last_log);
        call(&out, req_count, static_cast<int64_t>(i + 1), static_cast<int64_t>(position) + 1, h.request_id, last,
             session_id);
    }
}

OXA_HANDLER(OnQueryETFByPage) {
    (void)driver;
    Entry(__LINE__, "OnQueryETFByPage");
    ExtPaged<OXAETFInfo>(
        "OnQueryETFByPage", "etf query by page get Last ", kMsgQueryETFByPageRsp, data, len, node_id, kETFRecordSize,
        [](const char* body, OXAETFInfo& out) { FillETF(body, out); },
        [](OXAETFInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryETFByPage(r, rc, idx, ref, id, last, s);
        });
}

OXA_HANDLER(OnQuerySecurityByPage) {
    (void)driver;
    Entry(__LINE__, "OnQuerySecurityByPage");
    ExtPaged<OXASecurityInfo>(
        "OnQuerySecurityByPage", "security query by page get Last ", kMsgQuerySecurityByPageRsp, data, len, node_id,
        kSecurityRecordSize, [](const char* body, OXASecurityInfo& out) { FillSecurity(body, out); },
        [](OXASecurityInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQuerySecurityByPage(r, rc, idx, ref, id, last, s);
        });
}

// Self-continuing lists: a server that ignores the start position (or never ends) cannot keep
// a query going.
PageContinuation& Continues() {
    static PageContinuation table(kDefaultContinuePageLimit);
    return table;
}

// Delivers a page of a self-continuing list. On the last record of a full page the next page is
// asked for first (send builds and sends it and returns the send's result) and that record is
// not the last; a page that is not full ends the query on its last record. A query that ends
// before its last record (a page cut short, a next page not asked for because the start position
// does not advance or the query has had its pages, a failed send) ends the way the option
// queries do: one more call without a record, marked last, with the send's code or
// kErrQueryEndedEarly.
template <typename Rec, typename Fill, typename Send, typename Call>
void ContinuingList(const char* name, uint32_t msg_id, const char* data, std::size_t len, const ExtHead& h,
                    const tagSessionInfo& info, OXAErrorInfo error, std::size_t stride, std::size_t body_size,
                    Fill fill, Send send, Call call) {
    const CodeTrace trace(name, 0);
    const uint64_t session_id = info.nApiSessionID;
    const PageContinuation::Key key{session_id, msg_id, h.request_no};
    auto ended_early = [&](OXAErrorInfo e) {
        Continues().End(key);
        call(static_cast<Rec*>(nullptr), &e, h.request_id, true, session_id);
    };
    if (h.count == 0) {
        Continues().End(key);
        call(static_cast<Rec*>(nullptr), &error, h.request_id, true, session_id);
        return;
    }
    const uint64_t n = RecordsThatFit(h.count, len, kExtRspHeadSize, stride, 4 + body_size);
    if (n < h.count)
        LogShortMessage(name, msg_id, len, static_cast<std::size_t>(kExtRspHeadSize + uint64_t{h.count} * stride));
    for (uint64_t i = 0; i < n; ++i) {
        const char* rec = data + kExtRspHeadSize + i * stride;
        Rec out;
        fill(rec + 4, out);
        if (i + 1 < n || n < h.count) {
            call(&out, &error, h.request_id, false, session_id);
            continue;
        }
        if (h.count != h.page_size) {
            // a page that is not full is the last
            Continues().End(key);
            call(&out, &error, h.request_id, true, session_id);
            return;
        }
        const uint64_t next = uint64_t{ScalarAt<uint32_t>(rec, 4, 0)} + 1;
        const PageContinuation::Step step =
            Continues().Continue(key, next, [&] { return send(rec, static_cast<int32_t>(next)); });
        call(&out, &error, h.request_id, false, session_id);
        if (step.asked()) return;
        if (step.outcome == PageContinuation::Outcome::kNoProgress)
            spdlog::error("[{}] next page from {} not asked for: the start position does not advance or the "
                          "query has had its pages",
                          name, next);
        ended_early(ContinueErrorOf(step));
        return;
    }
    // cut short: the records that lie inside it went out, the rest never will
    ended_early(EndedEarlyError());
}

int SendNextPage(uint64_t session_id, uint32_t msg_id, const char* body, std::size_t length, int request_id) {
    CInnerApiInterface* api = GetInnerApi();
    if (api == nullptr) return kErrNotConnected;
    return api->SendToGatewayServer(session_id, msg_id, body, static_cast<int>(length), request_id);
}

template <typename T>
void Put(char* buf, std::size_t off, T v) {
    wire::store<T>(buf + off, v, wire::host_order());
}

OXA_HANDLER(OnQueryETFBasket) {
    (void)driver;
    Entry(__LINE__, "OnQueryETFBasket");
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ExtHead h = ReadExtHead(data, n_len);
    const tagSessionInfo* info = FindAnswerSession(node_id, h.session_no);
    if (info == nullptr) {
        spdlog::error("ptr_session_info_spot get null, session_no={}", h.session_no);
        return;
    }
    const uint64_t session_id = info->nApiSessionID;
    OXAErrorInfo none{};
    ContinuingList<OXAETFBasketInfo>(
        "OnQueryETFBasket", kMsgQueryETFBasketRsp, data, n_len, h, *info, none, h.stride, kETFBasketBodySize,
        [](const char* body, OXAETFBasketInfo& out) { FillETFBasket(body, out); },
        [&h, session_id](const char* rec, int32_t start) {
            char req[kETFBasketReqSize] = {};
            Put<uint64_t>(req, 0, h.session_no);
            Put<uint64_t>(req, 8, h.request_no);
            Put<uint64_t>(req, 16, h.fund_account);
            Put<uint8_t>(req, 24, h.client_id);
            Put<int32_t>(req, 32, kNextPageRecords);
            Put<int32_t>(req, 36, start);
            req[40] = '0';
            std::memcpy(req + 48, rec + 4, 8);  // the ETF's ticker and market digit of the last record
            req[56] = rec[4 + 8];
            const int rc = SendNextPage(session_id, kMsgQueryETFBasketReq, req, sizeof req, h.request_id);
            if (rc != 0) spdlog::error("QueryETFTickerBasket request send error!");
            return rc;
        },
        [](OXAETFBasketInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryETFBasket(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryIPOInfoList) {
    (void)driver;
    Entry(__LINE__, "OnQueryIPOInfoList");
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ExtHead h = ReadExtHead(data, n_len);
    const OXAErrorInfo error = ErrorOf(h.error);
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    const tagSessionInfo session = *info;
    // records are a fixed distance apart whatever the stride field says
    ContinuingList<OXAIPOInfo>(
        "OnQueryIPOInfoList", kMsgQueryIPOInfoListRsp, data, n_len, h, session, error, kIPOInfoStride,
        kIPOInfoBodySize, [](const char* body, OXAIPOInfo& out) { FillIPOInfo(body, out); },
        [&h, &session](const char*, int32_t start) {
            char req[kIPOInfoListReqSize] = {};
            Put<uint64_t>(req, 0, session.nSessionID);
            Put<uint64_t>(req, 8, h.request_no);
            Put<uint64_t>(req, 16, session.nFundAcc);
            Put<uint8_t>(req, 24, static_cast<uint8_t>(session.nClientID));
            Put<int32_t>(req, 32, kNextPageRecords);
            Put<int32_t>(req, 36, start);
            req[40] = '0';
            const int rc =
                SendNextPage(session.nApiSessionID, kMsgQueryIPOInfoListReq, req, sizeof req, h.request_id);
            if (rc != 0) spdlog::error("OnQueryIPOInfoList request send error!");
            return rc;
        },
        [](OXAIPOInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
            if (TraderSpi* spi = GetTraderSpi()) spi->OnQueryIPOInfoList(r, e, id, last, s);
        });
}

OXA_HANDLER(OnQueryHKConnectIndicativeExchangeRateInfo) {
    (void)driver;
    Entry(__LINE__, "OnQueryHKConnectIndicativeExchangeRateInfo");
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ExtHead h = ReadExtHead(data, n_len);
    OXAErrorInfo error = ErrorOf(h.error);
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    OXAHKConnectIndicativeExchangeRateInfo rate{};
    OXAHKConnectIndicativeExchangeRateInfo* out = nullptr;
    if (h.error == 0) {
        if (n_len >= 64) {
            rate.field_0 = ScalarAt<double>(data, n_len, 32);
            rate.field_8 = ScalarAt<double>(data, n_len, 40);
            rate.field_16 = ScalarAt<double>(data, n_len, 48);
            rate.field_24 = ScalarAt<double>(data, n_len, 56);
            out = &rate;
        } else {
            LogShortMessage("OnQueryHKConnectIndicativeExchangeRateInfo", kMsgQueryHKConnectRateRsp, n_len, 64);
        }
    }
    if (TraderSpi* spi = GetTraderSpi())
        spi->OnQueryHKConnectIndicativeExchangeRateInfo(out, &error, h.request_id, info->nApiSessionID);
}

OXA_HANDLER(OnQueryHKConnectSpreadTable) {
    (void)driver;
    Entry(__LINE__, "OnQueryHKConnectSpreadTable");
    const std::size_t n_len = static_cast<std::size_t>(len);
    const ExtHead h = ReadExtHead(data, n_len);
    OXAErrorInfo error = ErrorOf(h.error);
    const tagSessionInfo* info = GetAnswerSession(node_id, h.session_no);
    if (info == nullptr) return;
    const uint64_t session_id = info->nApiSessionID;
    const CodeTrace trace("OnQueryHKConnectSpreadTable", 0);
    const int32_t ticker_type = DecodeTickerType('0', Byte(data, n_len, 32));
    const int32_t count = ScalarAt<int32_t>(data, n_len, 33);
    constexpr std::size_t kFirst = 37;
    TraderSpi* spi = GetTraderSpi();
    if (count == 0) {
        if (spi) spi->OnQueryHKConnectSpreadTable(nullptr, &error, h.request_id, true, session_id);
        return;
    }
    const uint64_t wanted = count < 0 ? 0 : static_cast<uint64_t>(count);
    const uint64_t n = RecordsThatFit(wanted, n_len, kFirst, kSpreadRecordSize, kSpreadRecordSize);
    if (n < wanted)
        LogShortMessage("OnQueryHKConnectSpreadTable", kMsgQueryHKConnectSpreadRsp, n_len,
                        static_cast<std::size_t>(kFirst + wanted * kSpreadRecordSize));
    if (n == 0) {
        // one answer is the whole query: it still ends once
        if (count < 0) spdlog::error("[OnQueryHKConnectSpreadTable] negative record count {}", count);
        if (spi) spi->OnQueryHKConnectSpreadTable(nullptr, &error, h.request_id, true, session_id);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) {
        const char* rec = data + kFirst + i * kSpreadRecordSize;
        OXAHKConnectSpreadTableInfo out{};
        out.ticker_type = ticker_type;
        out.field_4 = ScalarAt<double>(rec, kSpreadRecordSize, 8);
        out.field_12 = ScalarAt<double>(rec, kSpreadRecordSize, 16);
        out.field_20 = ScalarAt<double>(rec, kSpreadRecordSize, 0);
        if (spi) spi->OnQueryHKConnectSpreadTable(&out, &error, h.request_id, i + 1 == n, session_id);
    }
}

#undef OXA_HANDLER

constexpr uint32_t U(std::size_t v) { return static_cast<uint32_t>(v); }

const HandlerBinding kAnswerHandlers[] = {
    {kMsgQueryOrderRsp, &OnQueryOrder, U(kRspHeadSize)},
    {kMsgQueryTradeRsp, &OnQueryTrade, U(kRspHeadSize)},
    {kMsgQueryPositionRsp, &OnQueryPosition, U(kRspHeadSize)},
    {kMsgQueryFundRsp, &OnQueryFund, U(kRspHeadSize)},
    {kMsgQueryIPOQuotaRsp, &OnQueryIPOQuotaInfo, U(kRspHeadSize)},
    {kMsgQuerySecurityRsp, &OnQuerySecurityInfo, U(kRspHeadSize)},
    {kMsgQueryFundTransferRsp, &OnQueryFundTransfer, U(kRspHeadSize)},
    {kMsgQueryAssetRsp, &OnQueryAsset, U(kRspHeadSize)},
    {kMsgQueryIssueRsp, &OnQueryIssueInfoList, U(kRspHeadSize)},
    {kMsgQueryETFRsp, &OnQueryETF, U(kRspHeadSize)},
    {kMsgQueryOtherServerFundRsp, &OnQueryOtherServerFund, U(kRspHeadSize)},
    {kMsgQueryPositionByPageRsp, &OnQueryPositionByPage, U(kPageRspHeadSize)},
    {kMsgQueryOrderByPageRsp, &OnQueryOrderByPage, U(kPageRspHeadSize)},
    {kMsgQueryTradeByPageRsp, &OnQueryTradeByPage, U(kPageRspHeadSize)},
    {kMsgQueryETFByPageRsp, &OnQueryETFByPage, U(kExtRspHeadSize)},
    {kMsgQuerySecurityByPageRsp, &OnQuerySecurityByPage, U(kExtRspHeadSize)},
    {kMsgQueryHKConnectRateRsp, &OnQueryHKConnectIndicativeExchangeRateInfo, 32},
    {kMsgQueryETFBasketRsp, &OnQueryETFBasket, U(kExtRspHeadSize)},
    {kMsgQueryHKConnectSpreadRsp, &OnQueryHKConnectSpreadTable, 37},
    {kMsgQueryIPOInfoListRsp, &OnQueryIPOInfoList, U(kExtRspHeadSize)},
};

}  // namespace

void SetContinuePageLimit(uint32_t pages) noexcept { Continues().SetPageLimit(pages); }
uint32_t GetContinuePageLimit() noexcept { return Continues().PageLimit(); }

const HandlerBinding* QueryAnswerHandlers(std::size_t* count) noexcept {
    if (count) *count = sizeof(kAnswerHandlers) / sizeof(kAnswerHandlers[0]);
    return kAnswerHandlers;
}

}  // namespace SPOT
}  // namespace API
}  // namespace OXA
