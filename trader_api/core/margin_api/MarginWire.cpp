#include "core/margin_api/MarginWire.h"

#include <spdlog/spdlog.h>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"

namespace OXA {
namespace API {
namespace MARGIN {

bool ReadRspHead(const char* data, std::size_t len, bool byte_order, CreditRspHead* out) noexcept {
    const ByteOrder order = BodyOrder(byte_order);
    WireReader r(data, len);
    CreditRspHead h;
    r.read(h.session_no, order);
    r.read(h.request_id, order);
    r.read(h.is_last, order);
    r.read(h.has_data, order);
    r.read(h.has_error, order);
    *out = r.ok() ? h : CreditRspHead{};
    return r.ok();
}

bool ReadPageRspHead(const char* data, std::size_t len, bool byte_order, CreditPageRspHead* out) noexcept {
    const ByteOrder order = BodyOrder(byte_order);
    WireReader r(data, len);
    CreditPageRspHead h;
    r.read(h.session_no, order);
    r.read(h.request_id, order);
    r.read(h.index, order);
    r.read(h.req_count, order);
    r.read(h.reference, order);
    r.read(h.is_last, order);
    r.read(h.has_data, order);
    r.read(h.has_error, order);
    *out = r.ok() ? h : CreditPageRspHead{};
    return r.ok();
}

bool ReadFlowHead(const char* data, std::size_t len, bool byte_order, CreditFlowHead* out) noexcept {
    const ByteOrder order = BodyOrder(byte_order);
    WireReader r(data, len);
    CreditFlowHead h;
    r.read(h.first, order);
    r.read(h.second, order);
    r.read(h.count, order);
    r.read(h.end_flag, order);
    *out = r.ok() ? h : CreditFlowHead{};
    return r.ok();
}

bool LocateAnswerParts(const char* data, std::size_t len, std::size_t head_size, std::size_t record_size,
                       uint8_t has_data, uint8_t has_error, AnswerParts* out) noexcept {
    *out = AnswerParts{};
    WireReader r(data, len);
    AnswerParts parts;
    if (!r.skip(head_size)) return false;
    if (has_data) parts.record = reinterpret_cast<const char*>(r.view(record_size));
    if (has_error) parts.error = reinterpret_cast<const char*>(r.view(kErrorInfoSize));
    if (!r.ok()) return false;
    *out = parts;
    return true;
}

void ReadErrorRecord(const char* wire, bool byte_order, OXAErrorInfo* out) noexcept {
    std::memcpy(out, wire, sizeof *out);
    out->error_id = wire::load<int32_t>(wire, BodyOrder(byte_order));
    // a text that fills its field is cut to end inside it, so callers can read it as a string
    out->error_msg[sizeof out->error_msg - 1] = '\0';
    FillErrorMsg(out);
}

void WriteReqHead(WireWriter& w, const tagSessionInfo& info, uint16_t client_id) noexcept {
    w.write_host<uint64_t>(info.nFundAcc);
    w.write_host<uint32_t>(info.nFundAccIndex);
    w.write_host<uint64_t>(info.nSessionID);
    w.write_host<uint16_t>(client_id);
}

void LogParseFailed(int line, const char* handler, int code, uint32_t msg_id) noexcept {
    if (msg_id != 0)
        spdlog::warn("[{}:{}:{}] Parse Msg Failed[{}] MsgID[{}]", kDriverSource, line, handler, code, msg_id);
    else
        spdlog::warn("[{}:{}:{}] Parse Msg Failed[{}]", kDriverSource, line, handler, code);
}

// ---------------------------------------------------------------------------------------
// Swap lists, from the public layouts: every int32 and 8-byte field, texts and single bytes
// left alone.

namespace {

constexpr SwapField kOrderInfoFields[] = {
    {0, 8},   {8, 4},   {12, 4},  {16, 8},  {40, 4},  {44, 8},   {52, 8},   {60, 4},
    {72, 8},  {80, 8},  {88, 8},  {96, 8},  {104, 8}, {112, 8},  {131, 4},  {135, 4},
};

constexpr SwapField kTradeReportFields[] = {
    {0, 8}, {8, 4}, {28, 4}, {32, 4}, {58, 8}, {66, 8}, {74, 8}, {82, 8}, {90, 8},
};

constexpr SwapField kPositionInfoFields[] = {
    {80, 4},  {84, 8},  {92, 8},  {100, 8}, {108, 8}, {116, 8}, {124, 8}, {132, 4},
    {136, 4}, {140, 8}, {148, 8}, {156, 8}, {164, 8}, {172, 8},
};

constexpr SwapField kAssetInfoFields[] = {
    {0, 8},   {8, 8},   {16, 8},  {24, 8},  {32, 8},  {40, 8},  {48, 8},  {56, 8},  {64, 4},
    {68, 8},  {76, 8},  {84, 8},  {92, 8},  {100, 8}, {108, 8}, {116, 8}, {124, 8}, {132, 8},
    {140, 8}, {148, 8}, {156, 8}, {164, 8}, {172, 8}, {180, 8}, {188, 8}, {196, 8},
};

constexpr SwapField kFundInfoFields[] = {
    {0, 4},  {4, 8},  {12, 8}, {20, 8}, {28, 8}, {36, 8},  {44, 8},  {52, 8},
    {60, 8}, {68, 8}, {76, 8}, {84, 8}, {92, 8}, {100, 8}, {108, 8},
};

constexpr SwapField kCreditInfo3Fields[] = {
    {0, 4},  {37, 8},  {45, 8},  {53, 4},  {77, 8},  {85, 8},  {93, 8},
    {102, 8}, {110, 8}, {118, 8}, {126, 8}, {134, 8}, {142, 8},
};

constexpr SwapField kCreditInfo7Fields[] = {{20, 8}, {28, 8}, {36, 8}, {44, 8}, {52, 4}};
constexpr SwapField kFundTransferNoticeFields[] = {{0, 8}, {8, 4}, {12, 8}, {20, 4}, {24, 8}};
constexpr SwapField kIPOQuotaInfoFields[] = {{0, 4}, {4, 4}, {8, 4}, {12, 4}};
constexpr SwapField kIssueInfoFields[] = {{0, 4}, {84, 4}, {104, 8}, {112, 4}, {116, 4}};
constexpr SwapField kCreditInfo1Fields[] = {{0, 8}, {12, 8}, {20, 8}, {29, 4}};
constexpr SwapField kCreditInfo2Fields[] = {{0, 8}, {8, 8}, {16, 8}, {24, 8}, {32, 8}, {40, 8}};
constexpr SwapField kCreditInfo5Fields[] = {{20, 8}, {28, 8}};
constexpr SwapField kAt0Fields[] = {{0, 8}};    // OXACreditInfo9
constexpr SwapField kAt20Fields[] = {{20, 8}};  // OXACreditInfo10, 11, 13
constexpr SwapField kCreditInfo12Fields[] = {{24, 8}, {36, 8}};
constexpr SwapField kCreditInfo14Fields[] = {{0, 8}, {12, 8}, {24, 8}};

template <std::size_t N>
constexpr SwapList List(const char* name, uint32_t size, const SwapField (&fields)[N]) {
    return SwapList{name, size, fields, static_cast<uint32_t>(N)};
}

}  // namespace

const SwapList kSwapOrderInfo = List("OXAOrderInfo", sizeof(OXAOrderInfo), kOrderInfoFields);
const SwapList kSwapTradeReport = List("OXATradeReport", sizeof(OXATradeReport), kTradeReportFields);
const SwapList kSwapPositionInfo = List("OXAPositionInfo", sizeof(OXAPositionInfo), kPositionInfoFields);
const SwapList kSwapAssetInfo = List("OXAAssetInfo", sizeof(OXAAssetInfo), kAssetInfoFields);
const SwapList kSwapFundInfo = List("OXAFundInfo", sizeof(OXAFundInfo), kFundInfoFields);
const SwapList kSwapCreditInfo3 = List("OXACreditInfo3", sizeof(OXACreditInfo3), kCreditInfo3Fields);
const SwapList kSwapCreditInfo7 = List("OXACreditInfo7", sizeof(OXACreditInfo7), kCreditInfo7Fields);
const SwapList kSwapFundTransferNotice =
    List("OXAFundTransferNotice", sizeof(OXAFundTransferNotice), kFundTransferNoticeFields);
const SwapList kSwapIPOQuotaInfo = List("OXAIPOQuotaInfo", sizeof(OXAIPOQuotaInfo), kIPOQuotaInfoFields);
const SwapList kSwapIssueInfo = List("OXAIssueInfo", sizeof(OXAIssueInfo), kIssueInfoFields);
const SwapList kSwapCreditInfo1 = List("OXACreditInfo1", sizeof(OXACreditInfo1), kCreditInfo1Fields);
const SwapList kSwapCreditInfo2 = List("OXACreditInfo2", sizeof(OXACreditInfo2), kCreditInfo2Fields);
const SwapList kSwapCreditInfo5 = List("OXACreditInfo5", sizeof(OXACreditInfo5), kCreditInfo5Fields);
const SwapList kSwapCreditInfo9 = List("OXACreditInfo9", sizeof(OXACreditInfo9), kAt0Fields);
const SwapList kSwapCreditInfo10 = List("OXACreditInfo10", sizeof(OXACreditInfo10), kAt20Fields);
const SwapList kSwapCreditInfo11 = List("OXACreditInfo11", sizeof(OXACreditInfo11), kAt20Fields);
const SwapList kSwapCreditInfo12 = List("OXACreditInfo12", sizeof(OXACreditInfo12), kCreditInfo12Fields);
const SwapList kSwapCreditInfo13 = List("OXACreditInfo13", sizeof(OXACreditInfo13), kAt20Fields);
const SwapList kSwapCreditInfo14 = List("OXACreditInfo14", sizeof(OXACreditInfo14), kCreditInfo14Fields);

const SwapList* const* AllSwapLists(std::size_t* count) noexcept {
    static const SwapList* const lists[] = {
        &kSwapOrderInfo,    &kSwapTradeReport,  &kSwapPositionInfo, &kSwapAssetInfo,    &kSwapFundInfo,
        &kSwapCreditInfo3,  &kSwapCreditInfo7,  &kSwapFundTransferNotice, &kSwapIPOQuotaInfo, &kSwapIssueInfo,
        &kSwapCreditInfo1,  &kSwapCreditInfo2,  &kSwapCreditInfo5,  &kSwapCreditInfo9,  &kSwapCreditInfo10,
        &kSwapCreditInfo11, &kSwapCreditInfo12, &kSwapCreditInfo13, &kSwapCreditInfo14};
    if (count) *count = sizeof lists / sizeof lists[0];
    return lists;
}

void SwapFields(const SwapList& list, void* record) noexcept {
    auto* bytes = static_cast<uint8_t*>(record);
    for (uint32_t i = 0; i < list.count; ++i) {
        const SwapField& f = list.fields[i];
        if (f.offset + f.width > list.size) continue;  // a list fault never writes past the record
        uint8_t* p = bytes + f.offset;
        switch (f.width) {
            case 2: wire::store<uint16_t>(p, wire::load<uint16_t>(p, ByteOrder::Big), ByteOrder::Little); break;
            case 4: wire::store<uint32_t>(p, wire::load<uint32_t>(p, ByteOrder::Big), ByteOrder::Little); break;
            case 8: wire::store<uint64_t>(p, wire::load<uint64_t>(p, ByteOrder::Big), ByteOrder::Little); break;
            default: break;
        }
    }
}

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
