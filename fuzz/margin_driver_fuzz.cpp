// Drives the margin driver's dispatch with arbitrary messages: the first byte picks the message
// id (one of the bound session, push and query answer ids, a synchronisation answer replayed outside its
// passes, or any id from the next bytes), the second byte is the sender's byte-order flag, the
// rest is the body, held in a buffer of exactly its size so a read past it is caught. A session
// is filed, and every message carries a push number above the last, so reports whose order id
// names it pass the sequence filter and reach their callbacks. Every record a callback receives
// is read whole, and the body must come out of the dispatch unchanged.
#include <spdlog/spdlog.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "api/SessionTables.h"
#include "core/margin_api/MarginSession.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "core/margin_api/MarginTraderImpl.h"

namespace {

using namespace OXA::API;

// Touches every byte it is handed, so an over-long record is a read the sanitizer sees.
class ReadingSpi : public TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t s) override { Touch(o, e, s); }
    void OnTradeEvent(OXATradeReport* t, uint64_t s) override { Touch(t, nullptr, s); }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t s) override { Touch(f, e, s); }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo* e, uint64_t s) override { Touch(r, e, s); }
    void OnCreditRequest(OXACreditRequestInfo* r, OXAErrorInfo* e, uint64_t s) override { Touch(r, e, s); }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t s) override { Touch(c, e, s); }
    void OnCreditCashRepaySpecifiedDebt(OXACreditCashRepaySpecifiedDebtInfo* r, OXAErrorInfo* e,
                                        uint64_t s) override {
        Touch(r, e, s);
    }

    // query answers: a record may be null
#define OXA_ANSWER(name, T) \
    void name(T* r, OXAErrorInfo* e, int, bool, uint64_t s) override { Touch(r, e, s); }
#define OXA_NO_LAST(name, T) \
    void name(T* r, OXAErrorInfo* e, int, uint64_t s) override { Touch(r, e, s); }
#define OXA_PAGED(name, T) \
    void name(T* r, int64_t, int64_t, int64_t, int, bool, uint64_t s) override { Touch(r, nullptr, s); }
    OXA_ANSWER(OnQueryOrder, OXAOrderInfo)
    OXA_ANSWER(OnQueryTrade, OXATradeReport)
    OXA_ANSWER(OnQueryPosition, OXAPositionInfo)
    OXA_ANSWER(OnQueryAsset, OXAAssetInfo)
    OXA_NO_LAST(OnQueryFund, OXAFundInfo)
    OXA_ANSWER(OnQueryFundTransfer, OXAFundTransferNotice)
    OXA_NO_LAST(OnQueryOtherServerFund, OXAOtherServerFundInfo)
    OXA_ANSWER(OnQueryIPOInfoList, OXAIPOInfo)
    OXA_ANSWER(OnQueryIPOQuotaInfo, OXAIPOQuotaInfo)
    OXA_ANSWER(OnQueryCreditInfo1, OXACreditInfo1)
    OXA_NO_LAST(OnQueryCreditInfo2, OXACreditInfo2)
    OXA_ANSWER(OnQueryCreditInfo3, OXACreditInfo3)
    OXA_ANSWER(OnQueryCreditInfo5, OXACreditInfo5)
    OXA_ANSWER(OnQueryCreditInfo7, OXACreditInfo7)
    OXA_NO_LAST(OnQueryCreditInfo9, OXACreditInfo9)
    OXA_ANSWER(OnQueryCreditInfo10, OXACreditInfo10)
    OXA_ANSWER(OnQueryCreditInfo11, OXACreditInfo11)
    OXA_ANSWER(OnQueryCreditInfo12, OXACreditInfo12)
    OXA_ANSWER(OnQueryCreditInfo13, OXACreditInfo13)
    OXA_ANSWER(OnQueryCreditInfo14, OXACreditInfo14)
    OXA_ANSWER(OnQueryIssueInfoList, OXAIssueInfo)
    OXA_ANSWER(OnQuerySecurityInfo, OXASecurityInfo)
    OXA_PAGED(OnQueryOrderByPage, OXAOrderInfo)
    OXA_PAGED(OnQueryTradeByPage, OXATradeReport)
    OXA_PAGED(OnQueryPositionByPage, OXAPositionInfo)
    OXA_PAGED(OnQueryCreditInfo4, OXACreditInfo3)
    OXA_PAGED(OnQueryCreditInfo8, OXACreditInfo7)
    OXA_PAGED(OnQueryCreditPledgeStkByPage, OXACreditPledgeStkInfo)
    OXA_PAGED(OnQueryCreditTargetStkByPage, OXACreditTargetStkInfo)
    OXA_PAGED(OnQuerySecurityByPage, OXASecurityInfo)
    OXA_PAGED(OnQueryStkDebtByLocation, OXAStkDebtInfo)
#undef OXA_ANSWER
#undef OXA_NO_LAST
#undef OXA_PAGED
    void OnQueryCreditInfo6(double v, OXAErrorInfo* e, int, uint64_t s) override { Touch(&v, e, s); }

    volatile uint64_t sink = 0;

private:
    template <typename T>
    void Touch(const T* record, const OXAErrorInfo* error, uint64_t session) {
        const auto* p = reinterpret_cast<const uint8_t*>(record);
        uint64_t sum = session;
        for (std::size_t i = 0; record && i < sizeof(T); ++i) sum += p[i];
        if (error) {
            const std::size_t n = std::strlen(error->error_msg);
            if (n >= sizeof error->error_msg) __builtin_trap();
            sum += static_cast<uint64_t>(error->error_id) + n;
        }
        sink = sink + sum;
    }
};

MarginTraderImpl& Backend() {
    static MarginTraderImpl* api = [] {
        spdlog::set_level(spdlog::level::off);  // a log line per input would be all the run does
        auto* a = new MarginTraderImpl();  // lives for the run, like the library's back-ends
        static ReadingSpi spi;
        a->RegisterSpi(&spi);
        // the session the seeds' order ids name: node 3, fund index 7, server session 100007
        tagSessionInfo info{};
        info.nSessionID = 100007;
        info.nFundAcc = 7007;
        info.nApiSessionID = uint64_t{3} << 16 | 7;
        const SessionNoKey key{3, 7};
        a->Sessions().List(RegisterSession(info, &key, true));  // the answers find it by its number
        return a;
    }();
    return *api;
}

const uint32_t kIds[] = {
    MARGIN::kMsgInitRsp, MARGIN::kMsgSubscribeFlow, MARGIN::kMsgSyncRsp, 0x260, 0xFFFFF, 0xFFFFFFFF,
    // live reports of the order path
    MARGIN::kMsgOrderStatusPush, MARGIN::kMsgTradePush, MARGIN::kMsgCancelOrderRsp, MARGIN::kMsgFundTransferRsp,
    MARGIN::kMsgCashRepayRsp, MARGIN::kMsgCashRepaySpecifiedDebtRsp, MARGIN::kMsgCreditRequestRsp,
    // query answers: single-record, value, classic paged, extended paged, their own
    MARGIN::kMsgQueryAssetRsp, MARGIN::kMsgQueryFundRsp, MARGIN::kMsgQueryCreditInfo3Rsp, MARGIN::kMsgQueryCreditInfo6Rsp,
    MARGIN::kMsgQueryOrderByPageRsp, MARGIN::kMsgQueryCreditInfo4Rsp, MARGIN::kMsgQueryCreditTargetStkByPageRsp,
    MARGIN::kMsgQuerySecurityByPageRsp, MARGIN::kMsgQueryStkDebtByLocationRsp, MARGIN::kMsgQueryCreditPledgeStkByPageRsp,
    MARGIN::kMsgQueryIPOInfoListRsp, MARGIN::kMsgQueryOtherServerFundRsp, MARGIN::kMsgQuerySecurityInfoRsp,
    MARGIN::kMsgQueryPositionRsp, MARGIN::kMsgQueryIssueInfoListRsp,
};

// Push numbers that always pass the filter's "above the last" rule.
int NextSeq() {
    static int seq = 0;
    return ++seq;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MarginTraderImpl& api = Backend();
    if (size < 2) return 0;
    const uint8_t pick = data[0];
    const bool byte_order = (data[1] & 1) != 0;
    const uint32_t node_id = data[1] >> 4;
    data += 2;
    size -= 2;

    uint32_t msg_id;
    const std::size_t n_ids = sizeof kIds / sizeof kIds[0];
    if (pick < 0xF0) {
        msg_id = kIds[(pick & 0x7F) % n_ids];
    } else {
        if (size < 4) return 0;
        std::memcpy(&msg_id, data, 4);
        data += 4;
        size -= 4;
    }

    std::vector<char> body(data, data + size);
    const std::vector<char> before = body;
    const char* p = body.empty() ? nullptr : body.data();
    const int len = static_cast<int>(body.size());
    if ((pick & 0x7F) % n_ids == 2 && pick < 0xF0 && (pick & 0x80)) {
        // the synchronisation walk itself, which the dispatch reaches only during the passes
        MARGIN::SyncPass pass;
        MARGIN::ReplaySyncAnswer(MARGIN::GetTradeDriver(), p, body.size(), &pass);
    } else {
        api.OnRecv(NextSeq(), msg_id, p, len, 0, byte_order ? 1 : 0, 0, 0, node_id);
    }
    if (body != before) __builtin_trap();
    return 0;
}
