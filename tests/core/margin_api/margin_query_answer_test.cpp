// The margin query answers fed message by message: the single-record family (record or none,
// the error record where the head puts it, is_last passed through or absent, 0x289 as a double),
// the classic paged family, the extended paged family (index i + 1, reference + 1 in its own
// width, a zeroed record each time, texts bounded, lengths and record sizes checked) and the three
// answers with handlers of their own. Every family is also fed every cut of a valid message from
// an exact-size buffer, so a read past the end is an AddressSanitizer report.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/ErrorMsg.h"
#include "api/SessionTables.h"
#include "core/margin_api/MarginMessages.h"
#include "core/margin_api/MarginQueryAnswers.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/spot_api/LogCapture.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::MARGIN;
using margin_test::Msg;
using spot_test::LogCapture;

const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new spot_test::QuietLogs);

constexpr uint32_t kNode = 5;
constexpr uint64_t kSessionNo = 100033;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | 33;

struct Call {
    std::string kind;
    bool has_record;
    int error;
    std::string text;
    int request_id;
    bool is_last;
    bool has_last;  // the callback carries is_last
    uint64_t session;
    int64_t req_count = 0, index = 0, reference = 0;
    double value = 0;
    std::string ticker;  // of a built record
    std::vector<uint8_t> bytes;  // the record as the callback saw it
};

Call Make(const char* kind, bool has_record, const OXAErrorInfo* e, int id, bool last, bool has_last, uint64_t s) {
    Call c;
    c.kind = kind;
    c.has_record = has_record;
    c.error = e ? e->error_id : 0;
    c.text = e ? e->error_msg : "";
    c.request_id = id;
    c.is_last = last;
    c.has_last = has_last;
    c.session = s;
    return c;
}

class Recorder : public TraderSpi {
public:
    std::vector<Call> calls;

    template <typename R>
    void Answer(const char* k, R* r, OXAErrorInfo* e, int id, bool last, bool has_last, uint64_t s) {
        Call c = Make(k, r != nullptr, e, id, last, has_last, s);
        if (r) c.bytes.assign(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(r) + sizeof(R));
        calls.push_back(c);
    }
    template <typename R>
    void Paged(const char* k, R* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last, uint64_t s) {
        Call c = Make(k, r != nullptr, nullptr, id, last, true, s);
        c.req_count = rc;
        c.index = idx;
        c.reference = ref;
        if (r) c.bytes.assign(reinterpret_cast<uint8_t*>(r), reinterpret_cast<uint8_t*>(r) + sizeof(R));
        calls.push_back(c);
    }

    void OnQueryAsset(OXAAssetInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("asset", r, e, id, l, true, s);
    }
    void OnQueryFund(OXAFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Answer("fund", r, e, id, false, false, s);
    }
    void OnQueryOrder(OXAOrderInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("order", r, e, id, l, true, s);
    }
    void OnQueryCreditInfo2(OXACreditInfo2* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Answer("credit2", r, e, id, false, false, s);
    }
    void OnQueryCreditInfo3(OXACreditInfo3* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("credit3", r, e, id, l, true, s);
    }
    void OnQueryCreditInfo6(double v, OXAErrorInfo* e, int id, uint64_t s) override {
        Call c = Make("credit6", false, e, id, false, false, s);
        c.value = v;
        calls.push_back(c);
    }
    void OnQueryIssueInfoList(OXAIssueInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("issue", r, e, id, l, true, s);
    }
    void OnQueryOrderByPage(OXAOrderInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l, uint64_t s) override {
        Paged("order_page", r, rc, i, ref, id, l, s);
    }
    void OnQueryCreditInfo4(OXACreditInfo3* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                            uint64_t s) override {
        Paged("credit4", r, rc, i, ref, id, l, s);
    }
    void OnQueryCreditTargetStkByPage(OXACreditTargetStkInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                                      uint64_t s) override {
        Paged("target", r, rc, i, ref, id, l, s);
        if (r) calls.back().ticker = r->ticker;
    }
    void OnQueryCreditPledgeStkByPage(OXACreditPledgeStkInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                                      uint64_t s) override {
        Paged("pledge", r, rc, i, ref, id, l, s);
        if (r) calls.back().ticker = r->ticker;
    }
    void OnQuerySecurityByPage(OXASecurityInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                               uint64_t s) override {
        Paged("security_page", r, rc, i, ref, id, l, s);
    }
    void OnQueryStkDebtByLocation(OXAStkDebtInfo* r, int64_t rc, int64_t i, int64_t ref, int id, bool l,
                                  uint64_t s) override {
        Paged("debt", r, rc, i, ref, id, l, s);
        if (r) calls.back().ticker = r->ticker;
    }
    void OnQueryIPOInfoList(OXAIPOInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("ipo", r, e, id, l, true, s);
        if (r) calls.back().ticker = r->ticker;
    }
    void OnQueryOtherServerFund(OXAOtherServerFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Answer("other_fund", r, e, id, false, false, s);
        if (r) calls.back().value = r->amount;
    }
    void OnQuerySecurityInfo(OXASecurityInfo* r, OXAErrorInfo* e, int id, bool l, uint64_t s) override {
        Answer("security", r, e, id, l, true, s);
    }
};

// A single-record answer: head, the record when given, the error record when given.
Msg Single(uint64_t request_id, uint8_t is_last, const std::vector<uint8_t>* record, const int32_t* error,
           bool big = false) {
    Msg m(19);
    m.put<uint64_t>(0, kSessionNo, big).put<uint64_t>(8, request_id, big);
    m.b[16] = is_last;
    m.b[17] = record != nullptr;
    m.b[18] = error != nullptr;
    if (record) m.append(*record);
    if (error) {
        Msg e(128);
        e.put<int32_t>(0, *error, big);
        m.append(e.b);
    }
    return m;
}

// A classic paged answer.
Msg Page(uint32_t request_id, int32_t index, int32_t req_count, uint64_t reference, uint8_t is_last,
         const std::vector<uint8_t>* record, bool with_error = false) {
    Msg m(31);
    m.put<uint64_t>(0, kSessionNo).put<uint32_t>(8, request_id).put<int32_t>(12, index).put<int32_t>(16, req_count);
    m.put<uint64_t>(20, reference);
    m.b[28] = is_last;
    m.b[29] = record != nullptr;
    m.b[30] = with_error;
    if (record) m.append(*record);
    if (with_error) m.append(Msg(128).put<int32_t>(0, 44).b);
    return m;
}

// An extended paged answer of count records of size bytes, each made by rec(i).
template <typename Make>
Msg Ext(uint64_t request_id, uint32_t req_count, uint32_t count, uint32_t size, Make rec) {
    Msg m(56);
    m.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, request_id).put<uint32_t>(32, req_count);
    m.put<uint32_t>(36, count).put<uint32_t>(40, size);
    for (uint32_t i = 0; i < count; ++i) {
        std::vector<uint8_t> r = rec(i);
        r.resize(size);
        m.append(r);
    }
    return m;
}

class MarginQueryAnswerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { api_ = new MarginTraderImpl(); }  // kept, as the library keeps its back-ends
    void SetUp() override {
        api_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = 5500;
        info.nApiSessionID = kSession;
        const SessionNoKey key{kNode, SessionNoEntry(kSessionNo)};
        ASSERT_NE(RegisterSession(info, &key, true), nullptr);
    }
    void TearDown() override {
        UnregisterSession(kSession);
        api_->RegisterSpi(nullptr);
    }
    // Feeds from an exact-size copy (len bytes of m) and checks the copy comes back unchanged.
    void Feed(uint32_t msg_id, const Msg& m, bool big = false, std::size_t len = SIZE_MAX) {
        if (len == SIZE_MAX) len = m.b.size();
        std::unique_ptr<char[]> exact(new char[len ? len : 1]);
        std::memcpy(exact.get(), m.b.data(), len);
        api_->OnRecv(1, msg_id, len ? exact.get() : nullptr, static_cast<int>(len), 0, big ? 1 : 0, 0, 0, kNode);
        EXPECT_EQ(std::memcmp(exact.get(), m.b.data(), len), 0) << "wrote into the received buffer";
    }
    static MarginTraderImpl* api_;
    Recorder spi_;
    LogCapture log_;
};

MarginTraderImpl* MarginQueryAnswerTest::api_ = nullptr;

std::vector<uint8_t> Pattern(std::size_t n, uint8_t base) {
    std::vector<uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(base + i);
    return v;
}

TEST_F(MarginQueryAnswerTest, SingleRecordAnswersCarryTheHeadsFlagAndTheirErrorRecord) {
    const auto asset = Pattern(412, 1);
    const int32_t err = 1004;
    // record and error record
    Feed(0x251, Single(77, 1, &asset, &err));
    // no data, an error record at 19
    Feed(0x251, Single(78, 0, nullptr, &err));
    // a record without an error record, is_last 0
    Feed(0x251, Single(79, 0, &asset, nullptr));
    // without data or error: one call with a null record
    Feed(0x251, Single(80, 1, nullptr, nullptr));
    ASSERT_EQ(spi_.calls.size(), 4u);
    EXPECT_TRUE(spi_.calls[0].has_record);
    EXPECT_EQ(spi_.calls[0].bytes, asset) << "passed as received";
    EXPECT_EQ(spi_.calls[0].error, 1004);
    EXPECT_STREQ(spi_.calls[0].text.c_str(), GetErrorMsg(1004)) << "the empty text completed";
    EXPECT_EQ(spi_.calls[0].request_id, 77);
    EXPECT_TRUE(spi_.calls[0].is_last);
    EXPECT_EQ(spi_.calls[0].session, kSession);
    EXPECT_FALSE(spi_.calls[1].has_record);
    EXPECT_EQ(spi_.calls[1].error, 1004);
    EXPECT_FALSE(spi_.calls[1].is_last);
    EXPECT_EQ(spi_.calls[2].error, 0);
    EXPECT_STREQ(spi_.calls[2].text.c_str(), "") << "a local record {0, \"\"}";
    EXPECT_FALSE(spi_.calls[2].is_last) << "the head's flag, not the record count";
    EXPECT_FALSE(spi_.calls[3].has_record);

    // the fund answer has no is_last, even when the head sets it; an unknown session number is 0
    spi_.calls.clear();
    const auto fund = Pattern(372, 3);
    Msg m = Single(81, 1, &fund, nullptr);
    Feed(0x249, m);
    m.put<uint64_t>(0, kSessionNo + 1);
    Feed(0x249, m);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_FALSE(spi_.calls[0].has_last);
    EXPECT_EQ(spi_.calls[0].session, kSession);
    EXPECT_EQ(spi_.calls[1].session, 0u);
}

TEST_F(MarginQueryAnswerTest, CreditInfo6IsADoubleAndZeroWithoutData) {
    std::vector<uint8_t> rec(8);
    const double v = 1234.5;
    std::memcpy(rec.data(), &v, 8);
    Feed(0x289, Single(5, 1, &rec, nullptr));
    Feed(0x289, Single(6, 1, nullptr, nullptr));
    // a big-endian sender
    std::vector<uint8_t> big(rec.rbegin(), rec.rend());
    Feed(0x289, Single(7, 1, &big, nullptr, true), true);
    ASSERT_EQ(spi_.calls.size(), 3u);
    EXPECT_EQ(spi_.calls[0].value, 1234.5);
    EXPECT_EQ(spi_.calls[1].value, 0.0);
    EXPECT_EQ(spi_.calls[2].value, 1234.5);
    EXPECT_EQ(spi_.calls[2].request_id, 7);
}

TEST_F(MarginQueryAnswerTest, BigEndianRecordsAreConverted) {
    std::vector<uint8_t> rec(150, 0);
    const int64_t v = 0x0102030405060708;
    for (int i = 0; i < 8; ++i) rec[37 + i] = static_cast<uint8_t>(v >> (8 * (7 - i)));
    const int32_t err = 13;
    Feed(0x257, Single(9, 1, &rec, &err, true), true);
    ASSERT_EQ(spi_.calls.size(), 1u);
    int64_t got;
    std::memcpy(&got, &spi_.calls[0].bytes[37], 8);
    EXPECT_EQ(got, v);
    EXPECT_EQ(spi_.calls[0].error, 13);
    EXPECT_EQ(spi_.calls[0].request_id, 9);
    EXPECT_EQ(spi_.calls[0].session, kSession);
}

TEST_F(MarginQueryAnswerTest, ClassicPagedAnswers) {
    const auto order = Pattern(140, 9);
    // three messages of one result: is_last only on the third, as the heads say
    Feed(0x275, Page(21, 1, 3, 100, 0, &order));
    Feed(0x275, Page(21, 2, 3, 101, 0, &order, true));
    Feed(0x275, Page(21, 3, 3, 102, 1, &order));
    Feed(0x275, Page(22, 0, 3, 0, 1, nullptr));
    ASSERT_EQ(spi_.calls.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(spi_.calls[i].has_record);
        EXPECT_EQ(spi_.calls[i].index, i + 1);
        EXPECT_EQ(spi_.calls[i].req_count, 3);
        EXPECT_EQ(spi_.calls[i].reference, 100 + i);
        EXPECT_EQ(spi_.calls[i].is_last, i == 2);
        EXPECT_EQ(spi_.calls[i].request_id, 21);
        EXPECT_EQ(spi_.calls[i].bytes, order);
    }
    EXPECT_FALSE(spi_.calls[3].has_record) << "an answer without data: one null call";
    EXPECT_TRUE(spi_.calls[3].is_last);
}

std::vector<uint8_t> TargetRecord(uint32_t i, const char* ticker) {
    Msg r(40);
    r.put<uint64_t>(0, 1000 + i).put<int32_t>(8, static_cast<int32_t>(i + 1)).text(12, ticker);
    r.put<int32_t>(28, 7).put<int32_t>(32, 8);
    return r.b;
}

TEST_F(MarginQueryAnswerTest, ExtendedPagedAnswers) {
    // three records: index 1..3, reference + 1, the last one last; a shorter ticker after a
    // longer one leaves nothing of it behind
    const char* tickers[] = {"600000LONGNAME12", "60", "000001"};
    Feed(0x21017, Ext(31, 200, 3, 40, [&](uint32_t i) { return TargetRecord(i, tickers[i]); }));
    ASSERT_EQ(spi_.calls.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const Call& c = spi_.calls[i];
        EXPECT_EQ(c.index, i + 1);
        EXPECT_EQ(c.reference, 1000 + i + 1);
        EXPECT_EQ(c.req_count, 200);
        EXPECT_EQ(c.request_id, 31);
        EXPECT_EQ(c.is_last, i == 2);
        EXPECT_EQ(c.session, kSession);
    }
    EXPECT_EQ(spi_.calls[0].ticker, "600000LONGNAME1") << "cut to the field, ended inside it";
    EXPECT_EQ(spi_.calls[1].ticker, "60");
    OXACreditTargetStkInfo second;
    std::memcpy(&second, spi_.calls[1].bytes.data(), sizeof second);
    for (std::size_t k = 2; k < sizeof second.ticker; ++k) EXPECT_EQ(second.ticker[k], 0) << k;
    EXPECT_EQ(+second.market, 2);
    EXPECT_EQ(+second.field_20, 7);
    EXPECT_EQ(+second.field_24, 8);

    // count 0: one null call, index 0, reference 0, is_last
    spi_.calls.clear();
    Feed(0x21017, Ext(32, 200, 0, 40, [&](uint32_t i) { return TargetRecord(i, ""); }));
    ASSERT_EQ(spi_.calls.size(), 1u);
    EXPECT_FALSE(spi_.calls[0].has_record);
    EXPECT_EQ(spi_.calls[0].index, 0);
    EXPECT_EQ(spi_.calls[0].reference, 0);
    EXPECT_TRUE(spi_.calls[0].is_last);
    EXPECT_EQ(spi_.calls[0].req_count, 200);
}

TEST_F(MarginQueryAnswerTest, SecurityPositionsWrapAt32Bits) {
    Feed(0x21027, Ext(40, 10, 2, 129, [](uint32_t i) {
             Msg r(129);
             r.text(0, "600000").text(16, "a name").put<int32_t>(80, 1);
             r.put<uint32_t>(121, i == 0 ? 0xFFFFFFFFu : 5u);
             return r.b;
         }));
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_EQ(spi_.calls[0].reference, 0) << "0xFFFFFFFF + 1 in 32 bits";
    EXPECT_EQ(spi_.calls[1].reference, 6);
    OXASecurityInfo s;
    std::memcpy(&s, spi_.calls[0].bytes.data(), sizeof s);
    EXPECT_STREQ(s.ticker, "600000");
    EXPECT_STREQ(s.name, "a name");
    EXPECT_EQ(+s.field_88, 0);
    EXPECT_EQ(+s.field_121, 0.0);
}

// A count the message does not hold, a record size below what the records need, a count whose
// product with the size wraps 32 bits: only records wholly inside are delivered, the last of them
// last; with none, one null call ends the query.
TEST_F(MarginQueryAnswerTest, ExtendedAnswersAreBoundedByTheirLength) {
    Msg m = Ext(50, 200, 2, 40, [](uint32_t i) { return TargetRecord(i, "x"); });
    m.put<uint32_t>(36, 5);  // claims five
    Feed(0x21017, m);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_TRUE(spi_.calls[1].is_last);

    spi_.calls.clear();
    Feed(0x21017, Ext(51, 200, 2, 20, [](uint32_t i) { return TargetRecord(i, "x"); }));
    ASSERT_EQ(spi_.calls.size(), 1u) << "records of 20 bytes cannot hold a target record";
    EXPECT_FALSE(spi_.calls[0].has_record);

    spi_.calls.clear();
    Msg wrap = Ext(52, 200, 1, 40, [](uint32_t i) { return TargetRecord(i, "x"); });
    wrap.put<uint32_t>(36, 0x80000001u).put<uint32_t>(40, 0x40);
    Feed(0x21017, wrap);
    EXPECT_LE(spi_.calls.size(), 1u);

    spi_.calls.clear();
    Feed(0x21031, Msg(55));
    EXPECT_TRUE(spi_.calls.empty()) << "shorter than its head";
    EXPECT_EQ(log_.Count("warning|[trader_api/core/margin_api/CTradeDriver:#:OnQueryStkDebtByLocation] Parse Msg Failed[-101]"), 1u);
}

TEST_F(MarginQueryAnswerTest, HandlersOfTheirOwn) {
    // 0x279: the IPO record built from its 104 bytes; an error record at 123 when has_error
    Msg ipo = Single(60, 1, nullptr, nullptr);
    ipo.b[17] = 1;
    Msg rec(104);
    rec.put<int32_t>(0, 2).text(4, "787001").text(20, "new issue").put<int32_t>(84, 3).put<double>(88, 9.5);
    ipo.append(rec.b);
    Feed(0x279, ipo);
    Msg ipo_error = ipo;
    ipo_error.b[18] = 1;
    ipo_error.append(Msg(128).put<int32_t>(0, 33).b);
    Feed(0x279, ipo_error);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_EQ(spi_.calls[0].ticker, "787001");
    OXAIPOInfo info;
    std::memcpy(&info, spi_.calls[0].bytes.data(), sizeof info);
    EXPECT_EQ(+info.market, 2);
    EXPECT_STREQ(info.name, "new issue");
    EXPECT_EQ(+info.field_88, 9.5);
    EXPECT_EQ(+info.field_104, 0.0);
    EXPECT_FALSE(spi_.calls[1].has_record);
    EXPECT_EQ(spi_.calls[1].error, 33);

    // 0x333: the amount at 27, query type 1 whatever the answer says; the error record at 431
    spi_.calls.clear();
    Msg other = Single(61, 1, nullptr, nullptr);
    Msg fund(412);
    fund.put<double>(8, 777.25);
    other.append(fund.b);
    Feed(0x333, other);
    other.append(Msg(128).put<int32_t>(0, 6).b);
    Feed(0x333, other);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_EQ(spi_.calls[0].value, 777.25);
    EXPECT_EQ(spi_.calls[0].error, 0);
    EXPECT_EQ(spi_.calls[1].error, 6);
    OXAOtherServerFundInfo of;
    std::memcpy(&of, spi_.calls[0].bytes.data(), sizeof of);
    EXPECT_EQ(+of.query_type, 1);

    // 0x21025: error code at 28 with the text even for 0; a record with a zero first byte and
    // market 0 is none
    spi_.calls.clear();
    Msg sec(32 + 129);
    sec.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 62).text(32, "600036").put<int32_t>(32 + 80, 1);
    Feed(0x21025, sec);
    Msg empty(32 + 129);
    empty.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 63);
    Feed(0x21025, empty);
    ASSERT_EQ(spi_.calls.size(), 2u);
    EXPECT_TRUE(spi_.calls[0].has_record);
    EXPECT_TRUE(spi_.calls[0].is_last);
    EXPECT_STREQ(spi_.calls[0].text.c_str(), GetErrorMsg(0));
    EXPECT_FALSE(spi_.calls[1].has_record);
    EXPECT_TRUE(spi_.calls[1].is_last);
}

// Every cut of one valid message of each family: nothing is read past the cut (the sanitizer
// sees to that), and a cut that loses a promised part delivers nothing.
TEST_F(MarginQueryAnswerTest, TruncatedMessagesOfEveryFamily) {
    const auto asset = Pattern(412, 1);
    const auto order = Pattern(140, 2);
    const int32_t err = 5;
    std::vector<uint8_t> six(8);
    Msg ipo = Single(1, 1, nullptr, nullptr);
    ipo.b[17] = ipo.b[18] = 1;
    ipo.append(Msg(104 + 128).b);
    Msg other = Single(1, 1, nullptr, nullptr);
    other.append(Msg(412 + 128).b);
    Msg sec(161);
    sec.text(32, "1");
    const struct {
        uint32_t id;
        Msg whole;
    } messages[] = {
        {0x251, Single(1, 1, &asset, &err)},
        {0x289, Single(1, 1, &six, &err)},
        {0x275, Page(1, 1, 1, 1, 1, &order, true)},
        {0x21017, Ext(1, 3, 3, 40, [](uint32_t i) { return TargetRecord(i, "t"); })},
        {0x21031, Ext(1, 3, 2, 96, [](uint32_t) { return Msg(96).text(4, "debt").b; })},
        {0x279, ipo},
        {0x333, other},
        {0x21025, sec},
    };
    for (const auto& m : messages) {
        for (bool big : {false, true}) {
            for (std::size_t len = 0; len <= m.whole.b.size(); ++len) Feed(m.id, m.whole, big, len);
        }
    }
    // every whole message delivered, each cut of a single-record or paged head delivered nothing
    std::size_t single = 0;
    for (const Call& c : spi_.calls) single += c.kind == "asset";
    EXPECT_EQ(single, 2u) << "only the whole asset answer, once per byte order";
}

}  // namespace
