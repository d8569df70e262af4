#include "core/margin_api/MarginQueryAnswers.h"

#include <spdlog/spdlog.h>

#include <cstring>
#include <type_traits>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "api_common/AnswerRecords.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/margin_api/MarginWire.h"
#include "infra/utility/WireCodec.h"

namespace OXA {
namespace API {
namespace MARGIN {

namespace {

constexpr const char* kFamily = "OnQueryRspWithDynamicLen";

// These answers name their message id in their parse failure line.
bool LogsMsgId(uint32_t msg_id) {
    return msg_id == kMsgQueryFundRsp || msg_id == kMsgQueryCreditInfo2Rsp || msg_id == kMsgQueryCreditInfo6Rsp ||
           msg_id == kMsgQueryCreditInfo9Rsp;
}

// The session of a query answer, found by its number, the connection it came on (the routed
// node) and the query in flight under its frame's request id; 0 when no session has the number.
// False when sessions share the number and the answer fits none or several of them: it is
// dropped (logged). last: the answer ends its query, which then no longer counts as in flight.
bool SessionOf(const char* who, uint32_t node_id, int frame_id, uint64_t session_no, bool last,
               uint64_t* session_id) {
    *session_id = 0;
    MarginTraderImpl* api = GetMarginApi();
    if (api == nullptr) return true;
    const AnswerSessions::Found found = api->Sessions().Find({session_no, node_id, frame_id, 0}, who);
    if (found.undecided) return false;
    if (found.record == nullptr) return true;
    *session_id = found.record->nApiSessionID;
    if (last) api->Sessions().EndQuery(*session_id, frame_id);
    return true;
}

// ---------------------------------------------------------------------------------------
// Single-record answers: CreditRspHead, at most one record, the error record after it.

struct SingleAnswer {
    CreditRspHead head;
    const char* record = nullptr;  // null without data
    OXAErrorInfo error{};          // the wire's (converted, completed) or {0, ""}
    uint64_t session_id = 0;
};

bool ReadSingle(int frame_id, int32_t msg_id, const char* data, int len, bool byte_order, uint32_t node_id,
                std::size_t record_size, SingleAnswer* out) {
    if (GetMarginApi() == nullptr) return false;
    const uint32_t id = static_cast<uint32_t>(msg_id);
    const std::size_t size = static_cast<std::size_t>(len);
    AnswerParts parts;
    if (size <= kRspHeadSize - 1 || !ReadRspHead(data, size, byte_order, &out->head) ||
        !LocateAnswerParts(data, size, kRspHeadSize, record_size, out->head.has_data, out->head.has_error, &parts)) {
        LogParseFailed(__LINE__, kFamily, -101, LogsMsgId(id) ? id : 0);
        return false;
    }
    out->record = parts.record;
    if (parts.error) ReadErrorRecord(parts.error, byte_order, &out->error);
    return SessionOf(kFamily, node_id, frame_id, out->head.session_no, out->head.is_last != 0, &out->session_id);
}

int RequestIdOf(uint64_t request_id) { return static_cast<int>(static_cast<uint32_t>(request_id)); }

template <typename Rec>
using AnswerCallback = void (TraderSpi::*)(Rec*, OXAErrorInfo*, int, bool, uint64_t);
template <typename Rec>
using NoLastCallback = void (TraderSpi::*)(Rec*, OXAErrorInfo*, int, uint64_t);

// One call for the answer: its record (null without data), its error record, its request id and,
// where the callback takes it, the head's is_last.
template <typename Rec, const SwapList* List, typename Callback, Callback Call>
void OnSingle(CTradeDriver&, int frame_id, int32_t msg_id, const char* data, int len, int, bool byte_order, int16_t,
              int16_t, uint32_t node_id) {
    SingleAnswer a;
    if (!ReadSingle(frame_id, msg_id, data, len, byte_order, node_id, sizeof(Rec), &a)) return;
    Rec record;
    if (a.record) CopyRecord(a.record, *List, byte_order, &record);
    TraderSpi* spi = GetTraderSpi();
    if (spi == nullptr) return;
    Rec* r = a.record ? &record : nullptr;
    const int request_id = RequestIdOf(a.head.request_id);
    if constexpr (std::is_same_v<Callback, AnswerCallback<Rec>>)
        (spi->*Call)(r, &a.error, request_id, a.head.is_last != 0, a.session_id);
    else
        (spi->*Call)(r, &a.error, request_id, a.session_id);
}

template <typename Rec, const SwapList* List, AnswerCallback<Rec> Call>
constexpr RecvHandFunc OnAnswer = &OnSingle<Rec, List, AnswerCallback<Rec>, Call>;
template <typename Rec, const SwapList* List, NoLastCallback<Rec> Call>
constexpr RecvHandFunc OnAnswerNoLast = &OnSingle<Rec, List, NoLastCallback<Rec>, Call>;

// 0x289: the record is one double, handed over by value; 0.0 when the answer has none.
void OnCreditInfo6(CTradeDriver&, int frame_id, int32_t msg_id, const char* data, int len, int, bool byte_order,
                   int16_t, int16_t, uint32_t node_id) {
    SingleAnswer a;
    if (!ReadSingle(frame_id, msg_id, data, len, byte_order, node_id, sizeof(double), &a)) return;
    double value = 0.0;
    if (a.record) {
        const uint64_t bits = wire::load<uint64_t>(a.record, BodyOrder(byte_order));
        std::memcpy(&value, &bits, sizeof value);
    }
    if (TraderSpi* spi = GetTraderSpi())
        spi->OnQueryCreditInfo6(value, &a.error, RequestIdOf(a.head.request_id), a.session_id);
}

// ---------------------------------------------------------------------------------------
// Classic paged answers: CreditPageRspHead, at most one record, no error argument.

template <typename Rec>
using PagedCallback = void (TraderSpi::*)(Rec*, int64_t, int64_t, int64_t, int, bool, uint64_t);

template <typename Rec, const SwapList* List, PagedCallback<Rec> Callback>
void OnPaged(CTradeDriver&, int frame_id, int32_t msg_id, const char* data, int len, int, bool byte_order, int16_t,
             int16_t, uint32_t node_id) {
    if (GetMarginApi() == nullptr) return;
    const std::size_t size = static_cast<std::size_t>(len);
    CreditPageRspHead head;
    AnswerParts parts;
    if (size <= kPageRspHeadSize - 1 || !ReadPageRspHead(data, size, byte_order, &head) ||
        !LocateAnswerParts(data, size, kPageRspHeadSize, sizeof(Rec), head.has_data, head.has_error, &parts)) {
        LogParseFailed(__LINE__, kFamily, -101, static_cast<uint32_t>(msg_id));
        return;
    }
    Rec record;
    if (parts.record) CopyRecord(parts.record, *List, byte_order, &record);
    if (parts.error) {
        // read (and its text completed) for the log, but the paged callback takes no error
        OXAErrorInfo error;
        ReadErrorRecord(parts.error, byte_order, &error);
        const int32_t code = error.error_id;  // a copy: the record is packed
        if (code != 0) spdlog::debug("[{}] MsgID[0x{:02x}] error {} {}", kFamily, msg_id, code, error.error_msg);
    }
    uint64_t session_id = 0;
    if (!SessionOf(kFamily, node_id, frame_id, head.session_no, head.is_last != 0, &session_id)) return;
    if (TraderSpi* spi = GetTraderSpi())
        (spi->*Callback)(parts.record ? &record : nullptr, static_cast<int64_t>(head.req_count),
                         static_cast<int64_t>(head.index), static_cast<int64_t>(head.reference),
                         static_cast<int>(head.request_id), head.is_last != 0, session_id);
}

// ---------------------------------------------------------------------------------------
// Extended paged answers: CreditPageRspHeadEx, then rsp_count records of record_size bytes.

struct ExtHead {
    uint64_t session_no;
    uint64_t request_id;
    uint32_t req_count;
    uint32_t rsp_count;
    uint32_t record_size;
};

// One family member: its name and texts, the record it builds and where the record's
// reference sits.
template <typename Rec>
struct ExtFamily {
    const char* name;
    const char* last_log;
    bool logs_head;  // the pledge and target answers log their head
    std::size_t record_min;
    void (*fill)(const char* rec, std::size_t size, Rec& out);
    int64_t (*next_reference)(const char* rec, std::size_t size);  // the reference + 1, in its own width
    PagedCallback<Rec> callback;
};

template <typename Rec>
void ExtPaged(const ExtFamily<Rec>& fam, int frame_id, const char* data, int len, uint32_t node_id) {
    spdlog::debug("{} {} {}", kDriverSource, __LINE__, fam.name);
    const std::size_t size = static_cast<std::size_t>(len);
    if (size < kExtPageHeadSize) {
        LogParseFailed(__LINE__, fam.name, -101);
        return;
    }
    const ExtHead h{ScalarAt<uint64_t>(data, size, 0), ScalarAt<uint64_t>(data, size, 8), ScalarAt<uint32_t>(data, size, 32),
                    ScalarAt<uint32_t>(data, size, 36), ScalarAt<uint32_t>(data, size, 40)};
    // one answer per page asked for
    uint64_t session_id = 0;
    if (!SessionOf(fam.name, node_id, frame_id, h.session_no, true, &session_id)) return;
    const int request_id = RequestIdOf(h.request_id);
    const int64_t req_count = h.req_count;
    TraderSpi* spi = GetTraderSpi();
    if (fam.logs_head)
        spdlog::debug("{} session_no[{}] request_id[{}] req_count[{}] record_size[{}] rsp_count[{}]", fam.name,
                      h.session_no, h.request_id, h.req_count, h.record_size, h.rsp_count);
    const uint64_t fit = RecordsThatFit(h.rsp_count, size, kExtPageHeadSize, h.record_size, fam.record_min);
    if (fit < h.rsp_count) {
        // a short message, a count beyond it or records too small for their fields
        spdlog::warn("[{}] answer of {} bytes holds {} of its {} records of {} bytes (at least {} each)",
                     fam.name, size, fit, h.rsp_count, h.record_size, fam.record_min);
    }
    if (fit == 0) {
        // nothing to deliver (or no record usable): one call ends the query
        if (spi) (spi->*fam.callback)(nullptr, req_count, 0, 0, request_id, true, session_id);
        return;
    }
    for (uint64_t i = 0; i < fit; ++i) {
        const char* rec = data + kExtPageHeadSize + i * h.record_size;
        Rec out;
        std::memset(&out, 0, sizeof out);
        fam.fill(rec, h.record_size, out);
        const bool last = i + 1 == fit;
        if (last) spdlog::debug("{}", fam.last_log);
        if (spi)
            (spi->*fam.callback)(&out, req_count, static_cast<int64_t>(i + 1), fam.next_reference(rec, h.record_size),
                                  request_id, last, session_id);
    }
}

void FillPledge(const char* rec, std::size_t n, OXACreditPledgeStkInfo& out) {
    out.market = ScalarAt<int32_t>(rec, n, 8);
    TextAt(out.ticker, rec, n, 12, sizeof out.ticker - 1);
}
void FillTarget(const char* rec, std::size_t n, OXACreditTargetStkInfo& out) {
    out.market = ScalarAt<int32_t>(rec, n, 8);
    TextAt(out.ticker, rec, n, 12, sizeof out.ticker - 1);
    out.field_20 = ScalarAt<int32_t>(rec, n, 28);
    out.field_24 = ScalarAt<int32_t>(rec, n, 32);
}
void FillSecurity(const char* rec, std::size_t n, OXASecurityInfo& out) {
    TextAt(out.ticker, rec, n, 0, sizeof out.ticker - 1);
    TextAt(out.name, rec, n, 16, sizeof out.name - 1);
    out.market = ScalarAt<int32_t>(rec, n, 80);
    out.ticker_type = ScalarAt<int32_t>(rec, n, 84);
    out.field_96 = ScalarAt<uint8_t>(rec, n, 96);
    out.field_97 = ScalarAt<double>(rec, n, 97);
    out.field_105 = ScalarAt<double>(rec, n, 105);
    out.field_113 = ScalarAt<double>(rec, n, 113);
}
void FillDebt(const char* rec, std::size_t n, OXAStkDebtInfo& out) {
    out.market = ScalarAt<int32_t>(rec, n, 0);
    TextAt(out.ticker, rec, n, 4, sizeof out.ticker - 1);
    out.field_20 = ScalarAt<int64_t>(rec, n, 36);
    out.field_28 = ScalarAt<int64_t>(rec, n, 44);
    out.field_36 = ScalarAt<int64_t>(rec, n, 52);
    out.field_44 = ScalarAt<int64_t>(rec, n, 60);
    out.field_52 = ScalarAt<int64_t>(rec, n, 68);
}

int64_t NextReferenceAt0(const char* rec, std::size_t n) {
    return static_cast<int64_t>(ScalarAt<uint64_t>(rec, n, 0) + 1);
}
int64_t NextReferenceAt76(const char* rec, std::size_t n) {
    return static_cast<int64_t>(ScalarAt<uint64_t>(rec, n, 76) + 1);
}
// the security record's position is 32 bits wide, and so is its successor
int64_t NextReferenceAt121(const char* rec, std::size_t n) {
    return static_cast<int64_t>(static_cast<uint32_t>(ScalarAt<uint32_t>(rec, n, 121) + 1u));
}

const ExtFamily<OXACreditPledgeStkInfo> kPledgeFamily{
    "OnQueryCreditPledgeStkByPage", "OnQueryCreditPledgeStkByPage get Last ", true, kPledgeStkRecordMin,
    &FillPledge, &NextReferenceAt0, &TraderSpi::OnQueryCreditPledgeStkByPage};
const ExtFamily<OXACreditTargetStkInfo> kTargetFamily{
    "OnQueryCreditTargetStkByPage", "OnQueryCreditTargetStkByPage get Last ", true, kTargetStkRecordMin,
    &FillTarget, &NextReferenceAt0, &TraderSpi::OnQueryCreditTargetStkByPage};
const ExtFamily<OXASecurityInfo> kSecurityFamily{
    "OnQuerySecurityByPage", "security query by page get Last ", false, kSecurityRecordMin,
    &FillSecurity, &NextReferenceAt121, &TraderSpi::OnQuerySecurityByPage};
const ExtFamily<OXAStkDebtInfo> kDebtFamily{
    "OnQueryStkDebtByLocation", "stk debt query by location get Last ", false, kStkDebtRecordMin,
    &FillDebt, &NextReferenceAt76, &TraderSpi::OnQueryStkDebtByLocation};

template <typename Rec, const ExtFamily<Rec>* Family>
void OnExtPaged(CTradeDriver&, int frame_id, int32_t, const char* data, int len, int, bool, int16_t, int16_t,
                uint32_t node_id) {
    ExtPaged(*Family, frame_id, data, len, node_id);
}

// ---------------------------------------------------------------------------------------
// Answers with handlers of their own; none is converted.

// 0x279: the head, the 104-byte wire record at 19, the error record after it when has_error.
void OnQueryIPOInfoList(CTradeDriver&, int frame_id, int32_t, const char* data, int len, int, bool, int16_t,
                        int16_t, uint32_t node_id) {
    const std::size_t size = static_cast<std::size_t>(len);
    CreditRspHead head;
    if (!ReadRspHead(data, size, false, &head)) {
        LogParseFailed(__LINE__, "OnQueryIPOInfoList", -101);
        return;
    }
    uint64_t session_id = 0;
    if (!SessionOf("OnQueryIPOInfoList", node_id, frame_id, head.session_no, head.is_last != 0, &session_id)) return;
    const int request_id = RequestIdOf(head.request_id);
    TraderSpi* spi = GetTraderSpi();
    const std::size_t error_at = kRspHeadSize + kIPOInfoWireSize;
    if (head.has_error) {
        if (size < error_at + kErrorInfoSize) {
            LogParseFailed(__LINE__, "OnQueryIPOInfoList", -101);
            return;
        }
        OXAErrorInfo error;
        ReadErrorRecord(data + error_at, false, &error);
        if (spi) spi->OnQueryIPOInfoList(nullptr, &error, request_id, head.is_last != 0, session_id);
        return;
    }
    OXAErrorInfo none{};
    if (size < error_at) {
        // no whole record: an answer without one
        if (spi) spi->OnQueryIPOInfoList(nullptr, &none, request_id, head.is_last != 0, session_id);
        return;
    }
    const char* rec = data + kRspHeadSize;
    const std::size_t n = kIPOInfoWireSize;
    OXAIPOInfo info;
    std::memset(&info, 0, sizeof info);
    info.market = ScalarAt<int32_t>(rec, n, 0);
    TextAt(info.ticker, rec, n, 4, sizeof info.ticker - 1);
    TextAt(info.name, rec, n, 20, sizeof info.name - 1);
    info.ticker_type = ScalarAt<int32_t>(rec, n, 84);
    info.field_88 = ScalarAt<double>(rec, n, 88);
    info.field_96 = ScalarAt<int32_t>(rec, n, 96);
    info.field_100 = ScalarAt<int32_t>(rec, n, 100);
    if (spi) spi->OnQueryIPOInfoList(&info, &none, request_id, head.is_last != 0, session_id);
}

// 0x333: the other server's amount is the double at 8 of the 412-byte record; the error record
// sits after the record and is read when the message holds it, whatever the flags say.
void OnQueryOtherServerFund(CTradeDriver&, int frame_id, int32_t, const char* data, int len, int, bool, int16_t,
                            int16_t, uint32_t node_id) {
    const std::size_t size = static_cast<std::size_t>(len);
    CreditRspHead head;
    if (!ReadRspHead(data, size, false, &head)) {
        LogParseFailed(__LINE__, "OnQueryOtherServerFund", -101);
        return;
    }
    uint64_t session_id = 0;
    if (!SessionOf("OnQueryOtherServerFund", node_id, frame_id, head.session_no, true, &session_id)) return;
    const std::size_t error_at = kRspHeadSize + kOtherServerFundWireSize;
    OXAErrorInfo error{};
    if (size >= error_at + kErrorInfoSize) ReadErrorRecord(data + error_at, false, &error);
    OXAOtherServerFundInfo info;
    std::memset(&info, 0, sizeof info);
    info.amount = ScalarAt<double>(data, size, kRspHeadSize + 8);
    info.query_type = 1;
    if (TraderSpi* spi = GetTraderSpi())
        spi->OnQueryOtherServerFund(&info, &error, RequestIdOf(head.request_id), session_id);
}

// 0x21025: session number, request id, the error code at 28, the 129-byte record at 32; a record
// that starts with a zero byte and has market 0 is no record.
void OnQuerySecurityInfo(CTradeDriver&, int frame_id, int32_t, const char* data, int len, int, bool, int16_t,
                         int16_t, uint32_t node_id) {
    const std::size_t size = static_cast<std::size_t>(len);
    if (size < kSecurityAnswerRecordAt) {
        LogParseFailed(__LINE__, "OnQuerySecurityInfo", -101);
        return;
    }
    uint64_t session_id = 0;
    if (!SessionOf("OnQuerySecurityInfo", node_id, frame_id, ScalarAt<uint64_t>(data, size, 0), true, &session_id))
        return;
    OXAErrorInfo error{};
    error.error_id = ScalarAt<int32_t>(data, size, 28);
    FillErrorMsg(&error);
    OXASecurityInfo info;
    const bool whole = size >= kSecurityAnswerRecordAt + sizeof info;
    if (whole) std::memcpy(&info, data + kSecurityAnswerRecordAt, sizeof info);
    const bool none = !whole || (info.ticker[0] == 0 && ScalarAt<int32_t>(data, size, kSecurityAnswerRecordAt + 80) == 0);
    if (TraderSpi* spi = GetTraderSpi())
        spi->OnQuerySecurityInfo(none ? nullptr : &info, &error, RequestIdOf(ScalarAt<uint64_t>(data, size, 8)), true,
                                 session_id);
}

// The answers of requests nothing sends.
void onEmptyReply(CTradeDriver&, int, int32_t, const char*, int, int, bool, int16_t, int16_t, uint32_t) {}

const HandlerBinding kQueryHandlers[] = {
    {kMsgQueryFundRsp, OnAnswerNoLast<OXAFundInfo, &kSwapFundInfo, &TraderSpi::OnQueryFund>, 0},
    {kMsgQueryAssetRsp, OnAnswer<OXAAssetInfo, &kSwapAssetInfo, &TraderSpi::OnQueryAsset>, 0},
    {kMsgQueryPositionRsp, OnAnswer<OXAPositionInfo, &kSwapPositionInfo, &TraderSpi::OnQueryPosition>, 0},
    {kMsgQueryCreditInfo2Rsp, OnAnswerNoLast<OXACreditInfo2, &kSwapCreditInfo2, &TraderSpi::OnQueryCreditInfo2>, 0},
    {kMsgQueryCreditInfo3Rsp, OnAnswer<OXACreditInfo3, &kSwapCreditInfo3, &TraderSpi::OnQueryCreditInfo3>, 0},
    {kMsgQueryOrderRsp, OnAnswer<OXAOrderInfo, &kSwapOrderInfo, &TraderSpi::OnQueryOrder>, 0},
    {kMsgQueryUnfinishedOrdersRsp, OnAnswer<OXAOrderInfo, &kSwapOrderInfo, &TraderSpi::OnQueryOrder>, 0},
    {kMsgQueryTradeRsp, OnAnswer<OXATradeReport, &kSwapTradeReport, &TraderSpi::OnQueryTrade>, 0},
    {kMsgQueryCreditInfo7Rsp, OnAnswer<OXACreditInfo7, &kSwapCreditInfo7, &TraderSpi::OnQueryCreditInfo7>, 0},
    {kMsgQueryCreditInfo5Rsp, OnAnswer<OXACreditInfo5, &kSwapCreditInfo5, &TraderSpi::OnQueryCreditInfo5>, 0},
    {kMsgQueryFundTransferRsp,
     OnAnswer<OXAFundTransferNotice, &kSwapFundTransferNotice, &TraderSpi::OnQueryFundTransfer>, 0},
    {kMsgQueryCreditInfo1Rsp, OnAnswer<OXACreditInfo1, &kSwapCreditInfo1, &TraderSpi::OnQueryCreditInfo1>, 0},
    {kMsgQueryIPOQuotaRsp, OnAnswer<OXAIPOQuotaInfo, &kSwapIPOQuotaInfo, &TraderSpi::OnQueryIPOQuotaInfo>, 0},
    {kMsgQueryCreditInfo6Rsp, &OnCreditInfo6, 0},
    {kMsgQueryCreditInfo11Rsp, OnAnswer<OXACreditInfo11, &kSwapCreditInfo11, &TraderSpi::OnQueryCreditInfo11>, 0},
    {kMsgQueryCreditInfo12Rsp, OnAnswer<OXACreditInfo12, &kSwapCreditInfo12, &TraderSpi::OnQueryCreditInfo12>, 0},
    {kMsgQueryCreditInfo10Rsp, OnAnswer<OXACreditInfo10, &kSwapCreditInfo10, &TraderSpi::OnQueryCreditInfo10>, 0},
    {kMsgQueryCreditInfo9Rsp, OnAnswerNoLast<OXACreditInfo9, &kSwapCreditInfo9, &TraderSpi::OnQueryCreditInfo9>, 0},
    {kMsgQueryCreditInfo13Rsp, OnAnswer<OXACreditInfo13, &kSwapCreditInfo13, &TraderSpi::OnQueryCreditInfo13>, 0},
    {kMsgQueryCreditInfo14Rsp, OnAnswer<OXACreditInfo14, &kSwapCreditInfo14, &TraderSpi::OnQueryCreditInfo14>, 0},
    {kMsgQueryIssueInfoListRsp, OnAnswer<OXAIssueInfo, &kSwapIssueInfo, &TraderSpi::OnQueryIssueInfoList>, 0},

    {kMsgQueryOrderByPageRsp, &OnPaged<OXAOrderInfo, &kSwapOrderInfo, &TraderSpi::OnQueryOrderByPage>, 0},
    {kMsgQueryTradeByPageRsp, &OnPaged<OXATradeReport, &kSwapTradeReport, &TraderSpi::OnQueryTradeByPage>, 0},
    {kMsgQueryCreditInfo4Rsp, &OnPaged<OXACreditInfo3, &kSwapCreditInfo3, &TraderSpi::OnQueryCreditInfo4>, 0},
    {kMsgQueryPositionByPageRsp, &OnPaged<OXAPositionInfo, &kSwapPositionInfo, &TraderSpi::OnQueryPositionByPage>,
     0},
    {kMsgQueryCreditInfo8Rsp, &OnPaged<OXACreditInfo7, &kSwapCreditInfo7, &TraderSpi::OnQueryCreditInfo8>, 0},

    {kMsgQueryCreditPledgeStkByPageRsp, &OnExtPaged<OXACreditPledgeStkInfo, &kPledgeFamily>, 0},
    {kMsgQueryCreditTargetStkByPageRsp, &OnExtPaged<OXACreditTargetStkInfo, &kTargetFamily>, 0},
    {kMsgQuerySecurityByPageRsp, &OnExtPaged<OXASecurityInfo, &kSecurityFamily>, 0},
    {kMsgQueryStkDebtByLocationRsp, &OnExtPaged<OXAStkDebtInfo, &kDebtFamily>, 0},

    {kMsgQueryIPOInfoListRsp, &OnQueryIPOInfoList, 0},
    {kMsgQueryOtherServerFundRsp, &OnQueryOtherServerFund, 0},
    {kMsgQuerySecurityInfoRsp, &OnQuerySecurityInfo, 0},

    {kMsgUnusedRsp295, &onEmptyReply, 0},
    {kMsgUnusedRsp297, &onEmptyReply, 0},
    {kMsgUnusedRsp299, &onEmptyReply, 0},
    {kMsgUnusedRsp301, &onEmptyReply, 0},
    {kMsgUnusedRsp303, &onEmptyReply, 0},
};

}  // namespace

HandlerSet QueryAnswerHandlers() noexcept { return HandlerSet(kQueryHandlers); }

}  // namespace MARGIN
}  // namespace API
}  // namespace OXA
