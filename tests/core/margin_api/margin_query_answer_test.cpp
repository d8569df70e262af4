// The margin query answers fed message by message: the single-record family (record or none,
// the error record where the head puts it, is_last passed through or absent, 0x289 as a double),
// the classic paged family, the extended paged family (index i + 1, reference + 1 in its own
// width, a zeroed record each time, texts bounded, lengths and record sizes checked) and the three
// answers with handlers of their own. Every family is also fed every cut of a valid message from
// an exact-size buffer, so a read past the end is an AddressSanitizer report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
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

using margin_test::Ext;
using margin_test::kNode;
using margin_test::kSession;
using margin_test::kSessionNo;
using margin_test::Page;
using margin_test::Single;

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

class MarginQueryAnswerTest : public ::testing::Test {
protected:
    // one back-end for the suite, as the library keeps its back-ends; a repeated run makes a new one
    static void SetUpTestSuite() { api_ = new MarginTraderImpl(); }
    static void TearDownTestSuite() {
        delete api_;
        api_ = nullptr;
    }
    void SetUp() override {
        api_->RegisterSpi(&spi_);
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = 5500;
        info.nApiSessionID = kSession;
        const SessionNoKey key{kNode, SessionNoEntry(kSessionNo)};
        tagSessionInfo* record = RegisterSession(info, &key, true);
        ASSERT_NE(record, nullptr);
        api_->Sessions().List(record);
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
    // Feeds the first len bytes of m from a buffer of the whole message's size whose bytes from
    // len on are poison.
    void FeedPoisoned(uint32_t msg_id, const Msg& m, bool big, std::size_t len) {
        std::vector<char> buf(m.b.size() + 1, static_cast<char>(0xEE));
        std::memcpy(buf.data(), m.b.data(), len);
        api_->OnRecv(1, msg_id, buf.data(), static_cast<int>(len), 0, big ? 1 : 0, 0, 0, kNode);
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

// Every cut of one valid message of each family, fed twice: from an exact-size copy (a read past
// the cut is an AddressSanitizer report) and from a buffer whose bytes after the cut are poison
// (a read past the cut shows in what reaches the callback, in every build). For each cut, what
// reaches the callback is what the bytes before it hold, and a cut that loses a promised part
// delivers nothing.
TEST_F(MarginQueryAnswerTest, TruncatedMessagesOfEveryFamily) {
    const auto asset = Pattern(412, 1);
    const auto order = Pattern(140, 2);
    const int32_t err = 5;
    std::vector<uint8_t> six(8);
    const double six_value = 1234.5;
    std::memcpy(six.data(), &six_value, sizeof six_value);
    Msg ipo = Single(1, 1, nullptr, nullptr);
    ipo.b[17] = ipo.b[18] = 1;
    ipo.append(Msg(104).put<int32_t>(0, 2).text(4, "787001").b).append(Msg(128).put<int32_t>(0, 33).b);
    Msg other = Single(1, 1, nullptr, nullptr);
    other.append(Msg(412).put<double>(8, 777.25).b).append(Msg(128).put<int32_t>(0, 6).b);
    Msg sec(161);
    sec.put<uint64_t>(0, kSessionNo).put<uint64_t>(8, 1).text(32, "1").put<int32_t>(32 + 80, 1);
    // records of the extended answers that fit in len bytes after the 56-byte head
    auto fitting = [](std::size_t len, std::size_t stride, std::size_t need, std::size_t count) -> std::size_t {
        if (len < 56 + need) return 0;
        return std::min(count, (len - 56 - need) / stride + 1);
    };
    // the calls of an extended answer cut at len: each whole record, or one null call
    auto extended = [&](std::size_t len, std::size_t stride, std::size_t need, std::size_t count,
                        const char* ticker, const std::vector<Call>& calls) {
        if (len < 56) {
            EXPECT_TRUE(calls.empty());
            return;
        }
        const std::size_t n = fitting(len, stride, need, count);
        ASSERT_EQ(calls.size(), n ? n : 1u);
        if (n == 0) {
            EXPECT_FALSE(calls[0].has_record);
            EXPECT_TRUE(calls[0].is_last);
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_TRUE(calls[i].has_record);
            EXPECT_EQ(calls[i].ticker, ticker);
            EXPECT_EQ(calls[i].index, static_cast<int64_t>(i + 1));
            EXPECT_EQ(calls[i].is_last, i + 1 == n);
        }
    };
    const struct {
        const char* name;
        uint32_t id;
        Msg whole;
        std::function<void(std::size_t len, bool big, const std::vector<Call>&)> check;  // big: the flag set
    } messages[] = {
        {"single record", 0x251, Single(1, 1, &asset, &err),
         [&](std::size_t len, bool big, const std::vector<Call>& calls) {
             if (len < 19 + 412 + 128) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             ASSERT_TRUE(calls[0].has_record);
             if (big) return;  // converted: the byte-order tests check what it becomes
             EXPECT_EQ(calls[0].bytes, asset);
             EXPECT_EQ(calls[0].error, 5);
         }},
        {"single double", 0x289, Single(1, 1, &six, &err),
         [&](std::size_t len, bool big, const std::vector<Call>& calls) {
             if (len < 19 + 8 + 128) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             if (big) return;
             EXPECT_EQ(calls[0].value, six_value);
             EXPECT_EQ(calls[0].error, 5);
         }},
        {"classic page", 0x275, Page(1, 1, 1, 1, 1, &order, true),
         [&](std::size_t len, bool big, const std::vector<Call>& calls) {
             if (len < 31 + 140 + 128) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             ASSERT_TRUE(calls[0].has_record);
             if (!big) {
                 EXPECT_EQ(calls[0].bytes, order);
             }
         }},
        {"extended target page", 0x21017, Ext(1, 3, 3, 40, [](uint32_t i) { return TargetRecord(i, "t"); }),
         [&](std::size_t len, bool, const std::vector<Call>& calls) {
             extended(len, 40, kTargetStkRecordMin, 3, "t", calls);
             for (std::size_t i = 0; i < calls.size() && calls[i].has_record; ++i) {
                 OXACreditTargetStkInfo t;
                 std::memcpy(&t, calls[i].bytes.data(), sizeof t);
                 EXPECT_EQ(+t.market, static_cast<int32_t>(i + 1));
                 EXPECT_EQ(calls[i].reference, static_cast<int64_t>(1000 + i + 1));
             }
         }},
        {"extended debt page", 0x21031, Ext(1, 3, 2, 96, [](uint32_t) { return Msg(96).text(4, "debt").b; }),
         [&](std::size_t len, bool, const std::vector<Call>& calls) {
             extended(len, 96, kStkDebtRecordMin, 2, "debt", calls);
         }},
        {"IPO list", 0x279, ipo,
         [&](std::size_t len, bool, const std::vector<Call>& calls) {
             // has_error: nothing until the error record is whole, then no record and its code
             if (len < 19 + 104 + 128) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_FALSE(calls[0].has_record);
             EXPECT_EQ(calls[0].error, 33);
         }},
        {"other server fund", 0x333, other,
         [&](std::size_t len, bool, const std::vector<Call>& calls) {
             if (len < 19) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_EQ(calls[0].value, len >= 19 + 16 ? 777.25 : 0.0) << "the amount only when it is whole";
             EXPECT_EQ(calls[0].error, len == 19 + 412 + 128 ? 6 : 0);
         }},
        {"security info", 0x21025, sec,
         [&](std::size_t len, bool, const std::vector<Call>& calls) {
             if (len < 32) {
                 EXPECT_TRUE(calls.empty());
                 return;
             }
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_EQ(calls[0].has_record, len == 32 + 129);
             EXPECT_EQ(calls[0].request_id, 1);
             if (calls[0].has_record) {
                 EXPECT_EQ(std::vector<uint8_t>(sec.b.begin() + 32, sec.b.end()), calls[0].bytes);
             }
         }},
    };
    for (const auto& m : messages) {
        SCOPED_TRACE(m.name);
        for (bool big : {false, true}) {
            for (std::size_t len = 0; len <= m.whole.b.size(); ++len) {
                SCOPED_TRACE("cut at " + std::to_string(len) + (big ? ", flag set" : ""));
                spi_.calls.clear();
                Feed(m.id, m.whole, big, len);
                m.check(len, big, spi_.calls);
                spi_.calls.clear();
                FeedPoisoned(m.id, m.whole, big, len);
                m.check(len, big, spi_.calls);
            }
        }
    }
}

}  // namespace
