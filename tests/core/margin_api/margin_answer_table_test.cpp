// Every message id the margin driver binds, fed through the back-end one row at a time: which
// callback the message reaches, the size of the record that reaches it (a message one byte
// short of its record delivers none), and the shape of its family (error argument, is_last,
// paging counters). Rows whose records a big-endian sender converts are fed that way too and
// must come out as the records' layouts say.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/SessionTables.h"
#include "core/margin_api/MarginMessages.h"
#include "core/margin_api/MarginRecordLayouts.h"
#include "core/margin_api/MarginSession.h"
#include "core/margin_api/MarginTradeDriver.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/spot_api/LogCapture.h"
#include "support/SessionState.h"

namespace {

using namespace OXA::API;
using margin_test::Msg;
using spot_test::LogCapture;

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

using margin_test::kNode;
using margin_test::kSession;
using margin_test::kSessionNo;
constexpr int kRequestId = 77;
uint64_t OrderId(uint32_t seq) { return kSession << 40 | uint64_t{2} << 32 | seq; }

// One callback as the application saw it.
struct Call {
    std::string callback;
    bool has_record = false;
    std::vector<uint8_t> record;  // its bytes, sizeof the callback's record type
    bool has_error_arg = false;
    int error = 0;
    int is_last = -1;  // -1: the callback takes none
    bool paged = false;
    int64_t req_count = 0, index = 0, reference = 0;
    int request_id = -1;
    uint64_t session = 0;
    double value = 0;
};

class Recorder : public TraderSpi {
public:
    std::vector<Call> calls;

    template <typename R>
    Call& Add(const char* name, R* r, const OXAErrorInfo* e, uint64_t s) {
        Call c;
        c.callback = name;
        c.has_record = r != nullptr;
        if (r) c.record.assign(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(r) + sizeof(R));
        c.has_error_arg = e != nullptr;
        c.error = e ? e->error_id : 0;
        c.session = s;
        calls.push_back(c);
        return calls.back();
    }
    template <typename R>
    void Answer(const char* name, R* r, OXAErrorInfo* e, int id, bool last, uint64_t s) {
        Call& c = Add(name, r, e, s);
        c.request_id = id;
        c.is_last = last;
    }
    template <typename R>
    void NoLast(const char* name, R* r, OXAErrorInfo* e, int id, uint64_t s) {
        Add(name, r, e, s).request_id = id;
    }
    template <typename R>
    void Paged(const char* name, R* r, int64_t rc, int64_t i, int64_t ref, int id, bool last, uint64_t s) {
        Call& c = Add(name, r, nullptr, s);
        c.paged = true;
        c.req_count = rc;
        c.index = i;
        c.reference = ref;
        c.request_id = id;
        c.is_last = last;
    }

#define EVENT(cb, R) \
    void cb(R* r, OXAErrorInfo* e, uint64_t s) override { Add(#cb, r, e, s); }
#define ANSWER(cb, R) \
    void cb(R* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override { Answer(#cb, r, e, id, l, s); }
#define NO_LAST(cb, R) \
    void cb(R* r, OXAErrorInfo* e, int id, uint64_t s) override { NoLast(#cb, r, e, id, s); }
#define PAGED(cb, R)                                                                                    \
    void cb(R* r, int64_t rc, int64_t i, int64_t ref, int id, bool l, uint64_t s) override {          \
        Paged(#cb, r, rc, i, ref, id, l, s);                                                           \
    }

    // pushes and order-path answers
    EVENT(OnOrderEvent, OXAOrderInfo)
    void OnTradeEvent(OXATradeReport* r, uint64_t s) override { Add("OnTradeEvent", r, nullptr, s); }
    EVENT(OnCancelOrderEvent, OXAOrderCancelInfo)
    EVENT(OnFundTransfer, OXAFundTransferNotice)
    EVENT(OnCreditCashRepay, OXACreditCashRepayInfo)
    EVENT(OnCreditCashRepaySpecifiedDebt, OXACreditCashRepaySpecifiedDebtInfo)
    EVENT(OnCreditRequest, OXACreditRequestInfo)

    // single-record answers
    NO_LAST(OnQueryFund, OXAFundInfo)
    ANSWER(OnQueryAsset, OXAAssetInfo)
    ANSWER(OnQueryPosition, OXAPositionInfo)
    NO_LAST(OnQueryCreditInfo2, OXACreditInfo2)
    ANSWER(OnQueryCreditInfo3, OXACreditInfo3)
    ANSWER(OnQueryOrder, OXAOrderInfo)
    ANSWER(OnQueryTrade, OXATradeReport)
    ANSWER(OnQueryCreditInfo7, OXACreditInfo7)
    ANSWER(OnQueryCreditInfo5, OXACreditInfo5)
    ANSWER(OnQueryFundTransfer, OXAFundTransferNotice)
    ANSWER(OnQueryCreditInfo1, OXACreditInfo1)
    ANSWER(OnQueryIPOQuotaInfo, OXAIPOQuotaInfo)
    void OnQueryCreditInfo6(double v, OXAErrorInfo* e, int id, uint64_t s) override {
        Call& c = Add<uint8_t>("OnQueryCreditInfo6", nullptr, e, s);
        c.request_id = id;
        c.value = v;
    }
    ANSWER(OnQueryCreditInfo11, OXACreditInfo11)
    ANSWER(OnQueryCreditInfo12, OXACreditInfo12)
    ANSWER(OnQueryCreditInfo10, OXACreditInfo10)
    NO_LAST(OnQueryCreditInfo9, OXACreditInfo9)
    ANSWER(OnQueryCreditInfo13, OXACreditInfo13)
    ANSWER(OnQueryCreditInfo14, OXACreditInfo14)
    ANSWER(OnQueryIssueInfoList, OXAIssueInfo)

    // classic and extended paged answers
    PAGED(OnQueryOrderByPage, OXAOrderInfo)
    PAGED(OnQueryTradeByPage, OXATradeReport)
    PAGED(OnQueryCreditInfo4, OXACreditInfo3)
    PAGED(OnQueryPositionByPage, OXAPositionInfo)
    PAGED(OnQueryCreditInfo8, OXACreditInfo7)
    PAGED(OnQueryCreditPledgeStkByPage, OXACreditPledgeStkInfo)
    PAGED(OnQueryCreditTargetStkByPage, OXACreditTargetStkInfo)
    PAGED(OnQuerySecurityByPage, OXASecurityInfo)
    PAGED(OnQueryStkDebtByLocation, OXAStkDebtInfo)

    // handlers of their own
    ANSWER(OnQueryIPOInfoList, OXAIPOInfo)
    NO_LAST(OnQueryOtherServerFund, OXAOtherServerFundInfo)
    ANSWER(OnQuerySecurityInfo, OXASecurityInfo)

#undef EVENT
#undef ANSWER
#undef NO_LAST
#undef PAGED
};

// How the messages of an id are laid out and what their callback takes.
enum class Family {
    Single,        // CreditRspHead, record, error record; (record, error, R, is_last, S)
    SingleNoLast,  // the same without is_last
    Double,        // 0x289: the 8-byte record passed as a double
    Paged,         // CreditPageRspHead, record; (record, req_count, index, reference, R, is_last, S)
    Extended,      // CreditPageRspHeadEx, records of record_size bytes, built into public records
    IpoList,       // 0x279: head, the 104-byte wire record built into OXAIPOInfo
    OtherFund,     // 0x333: head, the 412-byte wire record, the error record after it
    SecurityInfo,  // 0x21025: session, request id, error code at 28, the record at 32
    OrderPush,     // 0x228: push head, OXAOrderInfo, error record
    TradePush,     // 0x229: push head, OXATradeReport
    CancelAnswer,  // 0x258: push head, OXAOrderCancelInfo, error record; a refusal only
    OrderPath,     // push head, record, optional error record
    Init,          // 0x204: CreditRspHead, CreditInitRsp
    Flow,          // 0x206: CreditFlowHead, package records
    Sync,          // 0x21101: CreditSyncRsp head, records of stride bytes
    Empty,         // bound to a handler that does nothing
};

struct Row {
    uint32_t id;
    const char* callback;  // what the message reaches; for the init answer the log line of OnInit
    Family family;
    std::size_t wire_record;       // bytes of the record in the message
    std::size_t delivered_record;  // bytes of the record the callback gets
    const char* layout;            // the record's layout when a big-endian sender's is converted
};

const Row kRows[] = {
    {0x204, "trace|OnInit ", Family::Init, 310, 0, nullptr},
    {0x206, "OnTradeEvent", Family::Flow, 131, 131, nullptr},
    {0x21101, "OnTradeEvent", Family::Sync, 131, 131, nullptr},
    {0x228, "OnOrderEvent", Family::OrderPush, 140, 140, "OXAOrderInfo"},
    {0x229, "OnTradeEvent", Family::TradePush, 131, 131, "OXATradeReport"},
    {0x231, "OnFundTransfer", Family::OrderPath, 32, 32, nullptr},
    {0x233, "OnCreditCashRepay", Family::OrderPath, 24, 24, nullptr},
    {0x235, "OnCreditCashRepaySpecifiedDebt", Family::OrderPath, 60, 60, nullptr},
    {0x31b, "OnCreditRequest", Family::OrderPath, 32, 32, nullptr},
    {0x258, "OnCancelOrderEvent", Family::CancelAnswer, 16, 16, nullptr},
    {0x249, "OnQueryFund", Family::SingleNoLast, 372, 372, "OXAFundInfo"},
    {0x251, "OnQueryAsset", Family::Single, 412, 412, "OXAAssetInfo"},
    {0x253, "OnQueryPosition", Family::Single, 532, 532, "OXAPositionInfo"},
    {0x255, "OnQueryCreditInfo2", Family::SingleNoLast, 48, 48, "OXACreditInfo2"},
    {0x257, "OnQueryCreditInfo3", Family::Single, 150, 150, "OXACreditInfo3"},
    {0x261, "OnQueryOrder", Family::Single, 140, 140, "OXAOrderInfo"},
    {0x263, "OnQueryTrade", Family::Single, 131, 131, "OXATradeReport"},
    {0x265, "OnQueryCreditInfo7", Family::Single, 56, 56, "OXACreditInfo7"},
    {0x267, "OnQueryCreditInfo5", Family::Single, 36, 36, "OXACreditInfo5"},
    {0x271, "OnQueryFundTransfer", Family::Single, 32, 32, "OXAFundTransferNotice"},
    {0x273, "OnQueryCreditInfo1", Family::Single, 157, 157, "OXACreditInfo1"},
    {0x281, "OnQueryIPOQuotaInfo", Family::Single, 16, 16, "OXAIPOQuotaInfo"},
    {0x289, "OnQueryCreditInfo6", Family::Double, 8, 0, nullptr},
    {0x291, "OnQueryCreditInfo11", Family::Single, 28, 28, "OXACreditInfo11"},
    {0x293, "OnQueryCreditInfo12", Family::Single, 44, 44, "OXACreditInfo12"},
    {0x305, "OnQueryCreditInfo10", Family::Single, 92, 92, "OXACreditInfo10"},
    {0x307, "OnQueryCreditInfo9", Family::SingleNoLast, 72, 72, "OXACreditInfo9"},
    {0x309, "OnQueryCreditInfo13", Family::Single, 92, 92, "OXACreditInfo13"},
    {0x311, "OnQueryOrder", Family::Single, 140, 140, "OXAOrderInfo"},
    {0x31d, "OnQueryCreditInfo14", Family::Single, 32, 32, "OXACreditInfo14"},
    {0x31f, "OnQueryIssueInfoList", Family::Single, 120, 120, "OXAIssueInfo"},
    {0x275, "OnQueryOrderByPage", Family::Paged, 140, 140, "OXAOrderInfo"},
    {0x277, "OnQueryTradeByPage", Family::Paged, 131, 131, "OXATradeReport"},
    {0x283, "OnQueryCreditInfo4", Family::Paged, 150, 150, "OXACreditInfo3"},
    {0x285, "OnQueryPositionByPage", Family::Paged, 532, 532, "OXAPositionInfo"},
    {0x287, "OnQueryCreditInfo8", Family::Paged, 56, 56, "OXACreditInfo7"},
    {0x279, "OnQueryIPOInfoList", Family::IpoList, 104, 120, nullptr},
    {0x333, "OnQueryOtherServerFund", Family::OtherFund, 412, 44, nullptr},
    {0x21025, "OnQuerySecurityInfo", Family::SecurityInfo, 129, 129, nullptr},
    {0x21015, "OnQueryCreditPledgeStkByPage", Family::Extended, 28, 20, nullptr},
    {0x21017, "OnQueryCreditTargetStkByPage", Family::Extended, 36, 28, nullptr},
    {0x21027, "OnQuerySecurityByPage", Family::Extended, 125, 129, nullptr},
    {0x21031, "OnQueryStkDebtByLocation", Family::Extended, 84, 96, nullptr},
    {0x295, nullptr, Family::Empty, 0, 0, nullptr},
    {0x297, nullptr, Family::Empty, 0, 0, nullptr},
    {0x299, nullptr, Family::Empty, 0, 0, nullptr},
    {0x301, nullptr, Family::Empty, 0, 0, nullptr},
    {0x303, nullptr, Family::Empty, 0, 0, nullptr},
};

// Record bytes no field of any record would hold by chance.
std::vector<uint8_t> Pattern(std::size_t n, uint8_t base) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(base + 3 * i);
    return v;
}

std::vector<uint8_t> WithOrderId(std::vector<uint8_t> rec, uint64_t id) {
    std::memcpy(rec.data(), &id, sizeof id);
    return rec;
}

// A message of a row: its record (host order unless big) and, where the family has one, an
// error record with code `error`.
struct Built {
    Msg whole;                       // what the test feeds
    std::vector<uint8_t> delivered;  // the record the callback must get from it (empty: none checked)
    std::size_t short_len = 0;       // one byte short of the record: no record reaches the callback
};

Built Build(const Row& row, uint32_t seq, bool big, int32_t error) {
    Built out;
    const std::size_t s = row.wire_record;
    const margin_test::RecordLayout* layout = row.layout ? margin_test::LayoutOf(row.layout) : nullptr;
    std::vector<uint8_t> host = Pattern(s, static_cast<uint8_t>(row.id));
    auto wire_of = [&](const std::vector<uint8_t>& h) { return big && layout ? BigEndianImage(*layout, h) : h; };
    Msg& m = out.whole;
    switch (row.family) {
        case Family::Single:
        case Family::SingleNoLast:
        case Family::Double: {
            const std::vector<uint8_t> wire = wire_of(host);
            m = margin_test::Single(kRequestId, 1, &wire, error ? &error : nullptr, big);
            out.short_len = 19 + s - 1;
            out.delivered = host;
            break;
        }
        case Family::Paged: {
            const std::vector<uint8_t> wire = wire_of(host);
            m = margin_test::Page(kRequestId, 2, 9, 33, 1, &wire, error != 0, big);
            out.short_len = 31 + s - 1;
            out.delivered = host;
            break;
        }
        case Family::Extended: {
            m = margin_test::Ext(kRequestId, 9, 1, static_cast<uint32_t>(s), [&](uint32_t) { return host; });
            out.short_len = 56 + s - 1;
            break;
        }
        case Family::IpoList:
        case Family::Init: {
            m = margin_test::Single(kRequestId, 1, &host, nullptr);
            out.short_len = 19 + s - 1;
            break;
        }
        case Family::OtherFund: {
            // read whatever the head's flags say
            m = margin_test::Single(kRequestId, 1, nullptr, nullptr);
            m.append(host);
            if (error) m.append(Msg(128).put<int32_t>(0, error).b);
            break;
        }
        case Family::SecurityInfo: {
            m = Msg(32);
            m.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, kRequestId);
            m.append(host);
            out.short_len = 32 + s - 1;
            out.delivered = host;
            break;
        }
        case Family::OrderPush:
        case Family::TradePush: {
            host = WithOrderId(host, OrderId(seq));
            m = Msg(16);
            m.put<uint64_t>(0, kSessionNo, big).put<uint64_t>(8, 1, big);
            m.append(wire_of(host));
            if (row.family == Family::OrderPush) m.append(Msg(128).put<int32_t>(0, error, big).b);
            out.short_len = m.b.size() - 1;
            out.delivered = host;
            break;
        }
        case Family::CancelAnswer: {
            m = Msg(16);
            m.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 1);
            host = Msg(16).put<uint64_t>(0, OrderId(seq)).put<uint64_t>(8, OrderId(1)).b;
            m.append(host).append(Msg(128).put<int32_t>(0, error).b);
            out.short_len = m.b.size() - 1;
            out.delivered = host;
            break;
        }
        case Family::OrderPath: {
            host = WithOrderId(host, OrderId(seq));
            m = Msg(16);
            m.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 1);
            m.append(host);
            if (error) m.append(Msg(128).put<int32_t>(0, error).b);
            out.short_len = 16 + s - 1;
            out.delivered = host;
            break;
        }
        case Family::Flow:
        case Family::Sync: {
            // one replayed trade report: push head, then the record
            host = WithOrderId(host, OrderId(seq));
            const std::vector<uint8_t> payload = Msg(16).append(host).b;
            if (row.family == Family::Flow) {
                m = Msg(21);
                m.put<uint64_t>(0, kSessionNo).put<uint32_t>(16, 1);
                m.append(Msg(6).put<uint16_t>(0, 0x229).put<uint32_t>(2, static_cast<uint32_t>(payload.size())).b);
            } else {
                m = Msg(56);
                // one record of the one asked for: the passes go on, so the next answer is read too
                m.put<uint32_t>(32, 1).put<uint32_t>(36, 1).put<uint32_t>(40, static_cast<uint32_t>(8 + payload.size()));
                m.append(Msg(8).put<int32_t>(0, 0x229).put<int32_t>(4, static_cast<int32_t>(seq)).b);
            }
            m.append(payload);
            out.short_len = m.b.size() - 1;
            out.delivered = host;
            break;
        }
        case Family::Empty:
            m = Msg(64);
            break;
    }
    return out;
}

// What a callback of a family carries besides its record.
struct Shape {
    bool answer;      // the request id (an event has none)
    bool error_arg;   // an error argument
    bool paged;       // the paging counters
    int is_last;      // 1: the head's is_last, which is set; -1: the callback takes none
    bool wire_error;  // the error argument is the message's error record
};

Shape ShapeOf(Family f) {
    switch (f) {
        case Family::Single: return {true, true, false, 1, true};
        case Family::SingleNoLast: return {true, true, false, -1, true};
        case Family::Double: return {true, true, false, -1, true};
        case Family::Paged: return {true, false, true, 1, false};
        case Family::Extended: return {true, false, true, 1, false};
        case Family::IpoList: return {true, true, false, 1, false};
        case Family::OtherFund: return {true, true, false, -1, true};
        case Family::SecurityInfo: return {true, true, false, 1, false};
        case Family::OrderPush: return {false, true, false, -1, true};
        case Family::CancelAnswer: return {false, true, false, -1, true};
        case Family::OrderPath: return {false, true, false, -1, true};
        case Family::TradePush:
        case Family::Flow:
        case Family::Sync: return {false, false, false, -1, false};
        case Family::Init:
        case Family::Empty: break;
    }
    return {false, false, false, -1, false};
}

class MarginAnswerTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        oxa_test::ResetSessionState();
        api_ = std::make_unique<MarginTraderImpl>();
        api_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = 5500;
        info.nApiSessionID = kSession;
        const SessionNoKey key{kNode, MARGIN::SessionNoEntry(kSessionNo)};
        tagSessionInfo* record = RegisterSession(info, &key, true);
        ASSERT_NE(record, nullptr);
        api_->Sessions().List(record);
    }
    void TearDown() override {
        UnregisterSession(kSession);
        api_->RegisterSpi(nullptr);
        api_.reset();
    }

    // Feeds len bytes of m from an exact-size copy; the copy must come back unchanged. A
    // synchronisation answer is replayed as the handler replays the pass in flight's (which pass
    // an answer is, is the session tests' matter).
    void Feed(uint32_t msg_id, const Msg& m, bool big, std::size_t len) {
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        std::memcpy(exact.get(), m.b.data(), len);
        ++seq_;
        if (msg_id == MARGIN::kMsgSyncRsp) {
            MARGIN::SyncPass pass;
            MARGIN::ReplaySyncAnswer(MARGIN::GetTradeDriver(), len ? exact.get() : nullptr, len, &pass);
        } else {
            api_->OnRecv(static_cast<int>(seq_), msg_id, len ? exact.get() : nullptr, static_cast<int>(len), 0,
                         big ? 1 : 0, 0, 0, kNode);
        }
        EXPECT_EQ(std::memcmp(exact.get(), m.b.data(), len), 0) << "wrote into the received buffer";
    }
    // The next push sequence number Feed passes.
    uint32_t NextSeq() const { return seq_ + 1; }

    std::unique_ptr<MarginTraderImpl> api_;
    Recorder spi_;
    LogCapture log_;
    uint32_t seq_ = 0;
};

std::string Hex(uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", id);
    return text;
}

TEST_F(MarginAnswerTableTest, EveryBoundIdReachesItsCallbackWithItsRecord) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(Hex(row.id));
        EXPECT_NE(MARGIN::GetTradeDriver().GetHandler(row.id), nullptr) << "not bound";
        for (bool big : {false, true}) {
            if (big && row.layout == nullptr) continue;
            SCOPED_TRACE(big ? "big-endian sender" : "host order");
            const int32_t error = row.family == Family::OrderPush || row.family == Family::CancelAnswer ? 7 : 1004;

            // the whole message
            spi_.calls.clear();
            log_.Clear();
            Built b = Build(row, NextSeq(), big, error);
            Feed(row.id, b.whole, big, b.whole.b.size());
            if (row.family == Family::Empty) {
                EXPECT_TRUE(spi_.calls.empty());
                EXPECT_EQ(log_.Lines().size(), 1u) << "only the dispatch's trace line";
                continue;
            }
            if (row.family == Family::Init) {
                EXPECT_EQ(log_.Count(row.callback), 1u);
                Feed(row.id, b.whole, big, b.short_len);
                EXPECT_EQ(log_.Count(row.callback), 1u) << "a cut record does not reach OnInit";
                continue;
            }
            ASSERT_EQ(spi_.calls.size(), 1u);
            const Call c = spi_.calls[0];
            EXPECT_EQ(c.callback, row.callback);
            EXPECT_EQ(c.session, kSession);
            if (row.family == Family::Double) {
                double want;
                std::memcpy(&want, b.delivered.data(), sizeof want);
                EXPECT_EQ(std::memcmp(&c.value, &want, sizeof want), 0) << "the record's 8 bytes as the double";
            } else {
                ASSERT_TRUE(c.has_record);
                EXPECT_EQ(c.record.size(), row.delivered_record) << "the callback's record type";
                if (!b.delivered.empty()) {
                    EXPECT_EQ(c.record, b.delivered) << "the record as its layout reads";
                }
            }

            // the family's shape
            const Shape shape = ShapeOf(row.family);
            EXPECT_EQ(c.request_id, shape.answer ? kRequestId : -1) << "an answer's request id; none for an event";
            EXPECT_EQ(c.has_error_arg, shape.error_arg);
            EXPECT_EQ(c.paged, shape.paged);
            EXPECT_EQ(c.is_last, shape.is_last);
            if (shape.wire_error) {
                EXPECT_EQ(c.error, error) << "the wire's error record";
            }
            if (shape.paged) {
                EXPECT_EQ(c.req_count, 9);
                EXPECT_EQ(c.index, row.family == Family::Paged ? 2 : 1) << "the head's index, or i + 1";
            }
            if (row.family == Family::Paged) {
                EXPECT_EQ(c.reference, 33);
            }

            // one byte short of the record: none reaches the callback
            if (row.family == Family::OtherFund) {
                spi_.calls.clear();
                Feed(row.id, b.whole, big, b.whole.b.size() - 1);
                ASSERT_EQ(spi_.calls.size(), 1u);
                EXPECT_EQ(spi_.calls[0].error, 0) << "an error record cut short is not read";
                continue;
            }
            spi_.calls.clear();
            Built again = Build(row, NextSeq(), big, 0);
            Feed(row.id, again.whole, big, again.short_len);
            for (const Call& cut : spi_.calls) EXPECT_FALSE(cut.has_record) << "a record cut short was delivered";
        }
    }
}

}  // namespace
