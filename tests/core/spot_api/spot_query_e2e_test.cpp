// Spot queries end to end over loopback against the simulated gateway's query server: every
// query is answered and ends with exactly one is_last, records arrive with their fields, and the
// paging of each answer family holds up against a server that splits answers, pages, ignores the
// start position, sends more than a page or cuts its messages short.
#include "support/SpotFixture.h"

#include <functional>

#include "api/ErrorCodes.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr uint32_t kNode = 3;

// One callback of a query answer, reduced to what the tests compare.
struct Call {
    std::string what;
    int request_id = 0;
    bool record = false;
    bool last = false;
    bool has_last = true;  // the callback carries is_last
    int error = 0;
    int64_t index = 0, reference = 0, req_count = 0;
    std::string ticker;  // the record's ticker or name where it has one
    double value = 0;    // one amount of the record
    int64_t qty = 0;
};

class QuerySpi : public OXA::API::TraderSpi {
public:
    void Add(Call c) {
        std::lock_guard<std::mutex> lk(mu);
        calls.push_back(std::move(c));
    }
    template <typename R>
    void Classic(const char* what, R* r, OXAErrorInfo* e, int id, bool last, std::function<void(const R&, Call&)> f) {
        Call c;
        c.what = what;
        c.request_id = id;
        c.record = r != nullptr;
        c.last = last;
        c.error = e ? e->error_id : -1;
        if (r) f(*r, c);
        Add(c);
    }
    template <typename R>
    void Paged(const char* what, R* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
               std::function<void(const R&, Call&)> f) {
        Call c;
        c.what = what;
        c.request_id = id;
        c.record = r != nullptr;
        c.last = last;
        c.req_count = rc;
        c.index = idx;
        c.reference = ref;
        if (r) f(*r, c);
        Add(c);
    }

    void OnQueryOrder(OXAOrderInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAOrderInfo>("order", r, e, id, last, [](const OXAOrderInfo& o, Call& c) {
            c.ticker = o.ticker;
            c.qty = o.qty_traded;
            c.value = o.price;
        });
    }
    void OnQueryOrderByPage(OXAOrderInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                            uint64_t) override {
        Paged<OXAOrderInfo>("order_page", r, rc, idx, ref, id, last,
                            [](const OXAOrderInfo& o, Call& c) { c.ticker = o.ticker; });
    }
    void OnQueryTrade(OXATradeReport* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXATradeReport>("trade", r, e, id, last, [](const OXATradeReport& t, Call& c) {
            c.ticker = t.ticker;
            c.qty = t.quantity;
            c.value = t.price;
        });
    }
    void OnQueryTradeByPage(OXATradeReport* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                            uint64_t) override {
        Paged<OXATradeReport>("trade_page", r, rc, idx, ref, id, last,
                              [](const OXATradeReport& t, Call& c) { c.ticker = t.ticker; });
    }
    void OnQueryPosition(OXAPositionInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAPositionInfo>("position", r, e, id, last, [](const OXAPositionInfo& p, Call& c) {
            c.ticker = p.ticker;
            c.qty = p.total_qty;
            c.value = p.avg_price;
        });
    }
    void OnQueryPositionByPage(OXAPositionInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                               uint64_t) override {
        Paged<OXAPositionInfo>("position_page", r, rc, idx, ref, id, last, [](const OXAPositionInfo& p, Call& c) {
            c.ticker = std::string(p.ticker) + "/" + p.ticker_name;
            c.qty = p.total_qty;
        });
    }
    void OnQueryAsset(OXAAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAAssetInfo>("asset", r, e, id, last, [](const OXAAssetInfo& a, Call& c) {
            c.value = a.total_asset;
            c.qty = static_cast<int64_t>(a.buying_power);
        });
    }
    void OnQueryYesterdayAsset(OXAYesterdayAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAYesterdayAssetInfo>("yesterday_asset", r, e, id, last,
                                       [](const OXAYesterdayAssetInfo& a, Call& c) { c.value = a.field_0; });
    }
    void OnQueryFund(OXAFundInfo* r, OXAErrorInfo* e, int id, uint64_t) override {
        Classic<OXAFundInfo>("fund", r, e, id, false, [](const OXAFundInfo& f, Call& c) { c.value = f.buying_power; });
        NoLast();
    }
    void OnQueryFundTransfer(OXAFundTransferNotice* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAFundTransferNotice>("transfer", r, e, id, last,
                                       [](const OXAFundTransferNotice& f, Call& c) { c.value = f.amount; });
    }
    void OnQueryOtherServerFund(OXAOtherServerFundInfo* r, OXAErrorInfo* e, int id, uint64_t) override {
        Classic<OXAOtherServerFundInfo>("other_fund", r, e, id, false,
                                        [](const OXAOtherServerFundInfo& f, Call& c) { c.value = f.amount; });
        NoLast();
    }
    void OnQueryETF(OXAETFInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAETFInfo>("etf", r, e, id, last, [](const OXAETFInfo& f, Call& c) { c.ticker = f.ticker; });
    }
    void OnQueryETFBasket(OXAETFBasketInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAETFBasketInfo>("basket", r, e, id, last, [](const OXAETFBasketInfo& b, Call& c) {
            c.ticker = b.component_ticker;
            c.qty = b.field_100;
        });
    }
    void OnQueryIPOInfoList(OXAIPOInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAIPOInfo>("ipo", r, e, id, last, [](const OXAIPOInfo& i, Call& c) {
            c.ticker = i.ticker;
            c.value = i.field_88;
        });
    }
    void OnQueryIPOQuotaInfo(OXAIPOQuotaInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAIPOQuotaInfo>("ipo_quota", r, e, id, last,
                                 [](const OXAIPOQuotaInfo& q, Call& c) { c.qty = q.field_4; });
    }
    void OnQueryIssueInfoList(OXAIssueInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXAIssueInfo>("issue", r, e, id, last, [](const OXAIssueInfo& i, Call& c) { c.ticker = i.ticker; });
    }
    void OnQuerySecurityInfo(OXASecurityInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t) override {
        Classic<OXASecurityInfo>("security", r, e, id, last, [](const OXASecurityInfo& s, Call& c) {
            c.ticker = s.name;
            c.value = s.field_97;
        });
    }
    void OnQueryETFByPage(OXAETFInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                          uint64_t) override {
        Paged<OXAETFInfo>("etf_page", r, rc, idx, ref, id, last, [](const OXAETFInfo& f, Call& c) { c.ticker = f.ticker; });
    }
    void OnQuerySecurityByPage(OXASecurityInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                               uint64_t) override {
        Paged<OXASecurityInfo>("security_page", r, rc, idx, ref, id, last,
                               [](const OXASecurityInfo& s, Call& c) { c.ticker = s.ticker; });
    }
    void OnQueryHKConnectIndicativeExchangeRateInfo(OXAHKConnectIndicativeExchangeRateInfo* r, OXAErrorInfo* e,
                                                    int id, uint64_t) override {
        Classic<OXAHKConnectIndicativeExchangeRateInfo>(
            "hk_rate", r, e, id, false,
            [](const OXAHKConnectIndicativeExchangeRateInfo& x, Call& c) { c.value = x.field_0; });
        NoLast();
    }
    void OnQueryHKConnectSpreadTable(OXAHKConnectSpreadTableInfo* r, OXAErrorInfo* e, int id, bool last,
                                     uint64_t) override {
        Classic<OXAHKConnectSpreadTableInfo>("hk_spread", r, e, id, last,
                                             [](const OXAHKConnectSpreadTableInfo& x, Call& c) { c.value = x.field_20; });
    }

    // The calls of one request id, in arrival order.
    std::vector<Call> Of(int request_id) {
        std::lock_guard<std::mutex> lk(mu);
        std::vector<Call> out;
        for (const auto& c : calls)
            if (c.request_id == request_id) out.push_back(c);
        return out;
    }
    // A query has ended once a call ends it: is_last, or any call of an answer without is_last.
    bool Ended(int request_id) {
        for (const auto& c : Of(request_id))
            if (c.last || !c.has_last) return true;
        return false;
    }

    std::mutex mu;
    std::vector<Call> calls;

private:
    void NoLast() {
        std::lock_guard<std::mutex> lk(mu);
        calls.back().has_last = false;
    }
};

size_t Lasts(const std::vector<Call>& calls) {
    size_t n = 0;
    for (const auto& c : calls) n += c.last ? 1 : 0;
    return n;
}

class SpotQueryEndToEndTest : public SpotFixture {
protected:
    SpotQueryEndToEndTest() : SpotFixture(6, kNode, 20261210, 2) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }
    void SetUp() override {
        SpotFixture::SetUp();
        sim_.enable_spot_queries(true);
    }
    uint64_t Login(const char* account, uint32_t fund_index) {
        const uint64_t s = SpotFixture::Login(account, fund_index);
        EXPECT_NE(s, 0u) << api_->GetApiLastError()->error_id << " " << api_->GetApiLastError()->error_msg;
        return s;
    }
    // Sends a query and waits for its end; then a moment more, so a second end would show.
    std::vector<Call> Run(int request_id, const std::function<int()>& send) {
        EXPECT_EQ(send(), 0) << api_->GetApiLastError()->error_msg;
        EXPECT_TRUE(WaitUntil([&] { return spi_.Ended(request_id); }, 5000ms)) << "query " << request_id;
        std::this_thread::sleep_for(30ms);
        return spi_.Of(request_id);
    }
    void Book(const oxa_sim::SpotBook& b) { sim_.spot_queries().set_book(b); }
    void Paging(const oxa_sim::SpotQueryPaging& p) { sim_.spot_queries().set_paging(p); }
    static oxa_sim::SpotBook Baskets(size_t n) {
        oxa_sim::SpotBook b;
        for (size_t i = 0; i < n; ++i) {
            oxa_sim::BasketRow r;
            r.etf = "510300";
            r.etf_market = '2';
            r.component = "C" + std::to_string(100000 + i);
            r.quantity = static_cast<int32_t>(i + 1);
            b.baskets.push_back(r);
        }
        return b;
    }
    static oxa_sim::SpotBook Positions(size_t n) {
        oxa_sim::SpotBook b;
        for (size_t i = 0; i < n; ++i) {
            oxa_sim::PositionRow r;
            r.ticker = std::to_string(600000 + i);
            r.market = '2';
            r.total = static_cast<int64_t>(100 * (i + 1));
            b.positions.push_back(r);
        }
        return b;
    }
    int BasketQuery(uint64_t session, int id) {
        ETFQueryParam q{};
        q.market = 2;
        std::strncpy(q.ticker, "510300", sizeof q.ticker - 1);
        return api_->QueryETFTickerBasket(&q, session, id);
    }

    QuerySpi spi_;
};

// Every query against the demo book after one filled buy and one transfer: each ends once, with
// as many records as the book holds for it.
TEST_F(SpotQueryEndToEndTest, EveryQueryIsAnsweredAndEndsOnce) {
    Book(oxa_sim::demo_spot_book());
    const uint64_t s = Login("4001", 601);
    ASSERT_NE(s, 0u);
    OrderInsertInfo o{};
    std::strncpy(o.ticker, "600000", sizeof o.ticker - 1);
    o.market = 2;
    o.price = 10.5;
    o.quantity = 200;
    o.price_type = 1;
    o.side = 1;
    const uint64_t order = api_->InsertOrder(&o, s);
    ASSERT_NE(order, 0u);
    FundTransferInfo f{};
    f.amount = 1000;
    f.transfer_type = 1;
    ASSERT_NE(api_->FundTransfer(&f, s), 0u);
    ASSERT_TRUE(WaitUntil([&] { return sim_.spot_orders().transfer_records(4001).size() == 1; }, 5000ms));
    ASSERT_TRUE(WaitUntil([&] { return sim_.spot_orders().trade_records(4001).size() == 1; }, 5000ms));

    PageQueryParam page{};
    page.req_count = 10;
    ETFQueryParam etf{};
    etf.market = 2;
    std::strncpy(etf.ticker, "510050", sizeof etf.ticker - 1);
    TickerQueryParam sec{};
    std::strncpy(sec.ticker, "600000", sizeof sec.ticker - 1);
    sec.market = 2;
    OtherServerFundQueryParam other{};
    std::snprintf(other.fund_account, sizeof other.fund_account, "4001");
    other.query_type = 1;
    HKConnectSpreadQueryParam spread{};
    FundTransferQueryParam transfers{};

    struct Case {
        const char* what;
        std::function<int(int)> send;
        size_t records;  // callbacks with a record
    };
    const Case cases[] = {
        {"order", [&](int id) { return api_->QueryOrders(nullptr, s, id); }, 1},
        {"order", [&](int id) { return api_->QueryOrderByOXAID(order, s, id); }, 1},
        {"order", [&](int id) { return api_->QueryUnfinishedOrders(s, id); }, 0},  // it filled
        {"trade", [&](int id) { return api_->QueryTrades(nullptr, s, id); }, 1},
        {"trade", [&](int id) { return api_->QueryTradesByOXAID(order, s, id); }, 1},
        {"position", [&](int id) { return api_->QueryPosition(nullptr, s, id, 0); }, 3},
        {"position", [&](int id) { return api_->QueryPosition("600519", s, id, 2); }, 1},
        {"asset", [&](int id) { return api_->QueryAsset(s, id); }, 1},
        {"yesterday_asset", [&](int id) { return api_->QueryYesterdayAsset(s, id); }, 1},
        {"fund", [&](int id) { return api_->QueryFund(s, id); }, 1},
        {"transfer", [&](int id) { return api_->QueryFundTransfer(&transfers, s, id); }, 1},
        {"other_fund", [&](int id) { return api_->QueryOtherServerFund(&other, s, id); }, 1},
        {"etf", [&](int id) { return api_->QueryETFBaseInfo(&etf, s, id); }, 1},
        {"basket", [&](int id) { return api_->QueryETFTickerBasket(&etf, s, id); }, 3},
        {"ipo", [&](int id) { return api_->QueryIPOInfoList(s, id); }, 1},
        {"ipo_quota", [&](int id) { return api_->QueryIPOQuotaInfo(s, id); }, 2},
        {"issue", [&](int id) { return api_->QueryIssueInfoList(s, id); }, 1},
        {"security", [&](int id) { return api_->QuerySecurityInfo(&sec, s, id); }, 1},
        {"order_page", [&](int id) { return api_->QueryOrdersByPage(&page, s, id); }, 1},
        {"trade_page", [&](int id) { return api_->QueryTradesByPage(&page, s, id); }, 1},
        {"position_page", [&](int id) { return api_->QueryPositionByPage(&page, s, id); }, 3},
        {"etf_page", [&](int id) { return api_->QueryETFByPage(&page, s, id); }, 1},
        {"security_page", [&](int id) { return api_->QuerySecurityByPage(&page, s, id); }, 1},
        {"hk_rate", [&](int id) { return api_->QueryHKConnectIndicativeExchangeRateInfo(s, id); }, 1},
        {"hk_spread", [&](int id) { return api_->QueryHKConnectSpreadTable(&spread, s, id); }, 2},
    };
    int id = 100;
    for (const auto& c : cases) {
        ++id;
        SCOPED_TRACE(std::string(c.what) + " request " + std::to_string(id));
        const auto calls = Run(id, [&] { return c.send(id); });
        size_t records = 0;
        for (const auto& call : calls) {
            EXPECT_EQ(call.what, c.what);
            records += call.record ? 1 : 0;
        }
        EXPECT_EQ(records, c.records);
        if (calls.empty()) continue;
        if (calls.back().has_last) {
            EXPECT_EQ(Lasts(calls), 1u);
            EXPECT_TRUE(calls.back().last);
        } else {
            EXPECT_EQ(calls.size(), 1u);
        }
    }
}

// The three queries the demo shows, with the fields the book put in.
TEST_F(SpotQueryEndToEndTest, OrderPositionAndAssetCarryTheBooksValues) {
    Book(oxa_sim::demo_spot_book());
    const uint64_t s = Login("4002", 602);
    ASSERT_NE(s, 0u);
    OrderInsertInfo o{};
    std::strncpy(o.ticker, "600036", sizeof o.ticker - 1);
    o.market = 2;
    o.price = 31.2;
    o.quantity = 300;
    o.price_type = 1;
    o.side = 1;
    ASSERT_NE(api_->InsertOrder(&o, s), 0u);
    ASSERT_TRUE(WaitUntil([&] { return sim_.spot_orders().trade_records(4002).size() == 1; }, 5000ms));

    const auto orders = Run(1, [&] { return api_->QueryOrders(nullptr, s, 1); });
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].ticker, "600036");
    EXPECT_EQ(orders[0].qty, 300);
    EXPECT_DOUBLE_EQ(orders[0].value, 31.2);
    EXPECT_EQ(orders[0].error, 0);

    const auto positions = Run(2, [&] { return api_->QueryPosition(nullptr, s, 2, 0); });
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_EQ(positions[0].ticker, "600519");
    EXPECT_EQ(positions[0].qty, 300);
    EXPECT_DOUBLE_EQ(positions[0].value, 1650.25);
    EXPECT_EQ(positions[2].ticker, "600036");  // the fill
    EXPECT_EQ(positions[2].qty, 300);

    const auto asset = Run(3, [&] { return api_->QueryAsset(s, 3); });
    ASSERT_EQ(asset.size(), 1u);
    EXPECT_DOUBLE_EQ(asset[0].value, 1250000.0);
    EXPECT_EQ(asset[0].qty, 480000);
}

// Classic answers split over several messages: one call per record, is_last only at the end; a
// server error code reaches every call.
TEST_F(SpotQueryEndToEndTest, ClassicAnswerOverSeveralMessagesEndsOnce) {
    Book(Positions(5));
    oxa_sim::SpotQueryPaging p;
    p.per_message = 2;
    p.error = 1004;
    Paging(p);
    const uint64_t s = Login("4003", 603);
    ASSERT_NE(s, 0u);
    const auto calls = Run(7, [&] { return api_->QueryPosition(nullptr, s, 7, 0); });
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(Lasts(calls), 1u);
    EXPECT_TRUE(calls.back().last);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].qty, static_cast<int64_t>(100 * (i + 1)));
        EXPECT_EQ(calls[i].error, 1004);
    }
}

// The classic by-page family: index within the page, reference for the next page, and the name
// the server sends after the record.
TEST_F(SpotQueryEndToEndTest, PagedPositionsCarryIndexReferenceAndName) {
    oxa_sim::SpotBook b = Positions(3);
    b.positions[2].name = "THIRD";
    Book(b);
    const uint64_t s = Login("4004", 604);
    ASSERT_NE(s, 0u);
    PageQueryParam q{};
    q.req_count = 2;
    const auto first = Run(8, [&] { return api_->QueryPositionByPage(&q, s, 8); });
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].index, 1);
    EXPECT_EQ(first[1].index, 2);
    EXPECT_EQ(first[1].reference, 2);
    EXPECT_EQ(first[0].req_count, 2);
    EXPECT_EQ(first[0].ticker, "600000/not_ready");
    EXPECT_EQ(Lasts(first), 1u);

    q.reference = first.back().reference;
    const auto second = Run(9, [&] { return api_->QueryPositionByPage(&q, s, 9); });
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].index, 1);
    EXPECT_EQ(second[0].reference, 3);
    EXPECT_EQ(second[0].ticker, "600002/THIRD");
    EXPECT_TRUE(second[0].last);

    q.reference = 3;
    const auto past = Run(10, [&] { return api_->QueryPositionByPage(&q, s, 10); });
    ASSERT_EQ(past.size(), 1u);
    EXPECT_FALSE(past[0].record);
    EXPECT_TRUE(past[0].last);
}

// The self-continuing basket list asks for its pages itself, from the last position + 1.
TEST_F(SpotQueryEndToEndTest, BasketListFetchesEveryPageFromTheLastPositionOn) {
    Book(Baskets(450));
    const uint64_t s = Login("4005", 605);
    ASSERT_NE(s, 0u);
    const auto calls = Run(11, [&] { return BasketQuery(s, 11); });
    ASSERT_EQ(calls.size(), 450u);
    EXPECT_EQ(Lasts(calls), 1u);
    EXPECT_TRUE(calls.back().last);
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].qty, static_cast<int64_t>(i + 1)) << i;
    std::vector<uint32_t> starts;
    for (const auto& f : sim_.frames())
        if (f.msg_id == oxa_sim::kMsgQryEtfBasket)
            starts.push_back(static_cast<uint32_t>(oxa_sim::WireReader(f.body).get_uint(oxa_sim::qry_ext::kStart).value_or(99)));
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 200, 400}));
}

// A list that ends on a full page asks once more and ends on the empty answer.
TEST_F(SpotQueryEndToEndTest, IpoListOfExactlyOnePageEndsOnTheEmptyNextPage) {
    oxa_sim::SpotBook b;
    for (int i = 0; i < 200; ++i) {
        oxa_sim::IpoRow r;
        r.ticker = std::to_string(730000 + i);
        r.price = i;
        b.ipos.push_back(r);
    }
    Book(b);
    const uint64_t s = Login("4006", 606);
    ASSERT_NE(s, 0u);
    const auto calls = Run(12, [&] { return api_->QueryIPOInfoList(s, 12); });
    ASSERT_EQ(calls.size(), 201u);
    EXPECT_EQ(Lasts(calls), 1u);
    EXPECT_FALSE(calls.back().record);
    EXPECT_TRUE(calls.back().last);
    EXPECT_EQ(calls[199].ticker, "730199");
    EXPECT_EQ(sim_.count(oxa_sim::kMsgQryIpoList), 2u);
}

// Servers that misbehave on the continuing lists: the query still ends exactly once and asks for
// no page that would not advance; one that ends before its last record says so in one more call,
// without a record, with 1016.
TEST_F(SpotQueryEndToEndTest, ContinuingListEndsOnceAgainstAFaultyServer) {
    struct Fault {
        const char* name;
        bool ipo;  // the IPO list, else the basket list
        oxa_sim::SpotQueryPaging paging;
        size_t records;   // callbacks with a record
        size_t requests;  // list requests the client sent
        int error;        // of the last call
    };
    oxa_sim::SpotQueryPaging ignore;
    ignore.ignore_start = true;
    oxa_sim::SpotQueryPaging overfill;
    overfill.overfill = 5;
    oxa_sim::SpotQueryPaging cut;
    cut.cut_to = oxa_sim::ans_ext::kLength + 59 * 100 + 10;  // 100 whole records of the first page
    const int kEndedEarly = OXA::API::kErrQueryEndedEarly;
    const Fault faults[] = {
        {"ignores the start position", false, ignore, 400, 2, kEndedEarly},  // the second page repeats the first
        {"IPO list, start position ignored", true, ignore, 400, 2, kEndedEarly},
        {"sends more than a page", false, overfill, 205, 1, 0},
        {"cuts the message short", false, cut, 100, 1, kEndedEarly},
    };
    uint32_t fund_index = 610;
    int id = 20;
    for (const auto& f : faults) {
        SCOPED_TRACE(f.name);
        sim_.clear_frames();
        oxa_sim::SpotBook book = Baskets(450);
        for (int i = 0; i < 450; ++i) {
            oxa_sim::IpoRow r;
            r.ticker = std::to_string(730000 + i);
            book.ipos.push_back(r);
        }
        Book(book);
        Paging(f.paging);
        const uint64_t s = Login(("41" + std::to_string(fund_index)).c_str(), fund_index);
        ++fund_index;
        ASSERT_NE(s, 0u);
        ++id;
        const auto calls = Run(id, [&] { return f.ipo ? api_->QueryIPOInfoList(s, id) : BasketQuery(s, id); });
        size_t records = 0;
        for (const auto& c : calls) records += c.record ? 1 : 0;
        EXPECT_EQ(records, f.records);
        EXPECT_EQ(Lasts(calls), 1u);
        ASSERT_FALSE(calls.empty());
        EXPECT_TRUE(calls.back().last);
        EXPECT_EQ(calls.back().error, f.error);
        EXPECT_EQ(calls.back().record, f.error == 0) << "an early end comes without a record";
        EXPECT_EQ(sim_.count(f.ipo ? oxa_sim::kMsgQryIpoList : oxa_sim::kMsgQryEtfBasket), f.requests);
        api_->Logout(s);
    }
}

// Answers cut short: only whole records are delivered and the query still ends once.
TEST_F(SpotQueryEndToEndTest, CutAnswersDeliverWholeRecordsOnlyAndEndOnce) {
    Book(Positions(3));
    oxa_sim::SpotQueryPaging p;
    p.cut_to = oxa_sim::ans_classic::kLength + 2 * oxa_sim::rec_position::kLength + 10;
    Paging(p);
    const uint64_t s = Login("4007", 607);
    ASSERT_NE(s, 0u);
    const auto classic = Run(30, [&] { return api_->QueryPosition(nullptr, s, 30, 0); });
    ASSERT_EQ(classic.size(), 2u);
    EXPECT_EQ(Lasts(classic), 1u);

    p.cut_to = oxa_sim::ans_page::kLength + 10;  // every paged message loses its record
    Paging(p);
    PageQueryParam q{};
    q.req_count = 3;
    const auto paged = Run(31, [&] { return api_->QueryPositionByPage(&q, s, 31); });
    ASSERT_EQ(paged.size(), 3u);
    for (const auto& c : paged) EXPECT_FALSE(c.record);
    EXPECT_EQ(Lasts(paged), 1u);

    p.cut_to = 20;  // not even the asset record's head
    Paging(p);
    Book(oxa_sim::demo_spot_book());
    const auto asset = Run(32, [&] { return api_->QueryAsset(s, 32); });
    ASSERT_EQ(asset.size(), 1u);
    EXPECT_FALSE(asset[0].record);
    EXPECT_TRUE(asset[0].last);
}

// The extended page queries leave the next page to the application: more records than asked for
// still end once, and the reference of the last record is where the next page starts.
TEST_F(SpotQueryEndToEndTest, EtfPagesEndOnceAndGiveTheNextReference) {
    oxa_sim::SpotBook b;
    for (int i = 0; i < 7; ++i) {
        oxa_sim::EtfRow r;
        r.ticker = std::to_string(510000 + i);
        b.etfs.push_back(r);
    }
    Book(b);
    oxa_sim::SpotQueryPaging p;
    p.overfill = 1;
    Paging(p);
    const uint64_t s = Login("4008", 608);
    ASSERT_NE(s, 0u);
    PageQueryParam q{};
    q.req_count = 3;
    const auto first = Run(40, [&] { return api_->QueryETFByPage(&q, s, 40); });
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(Lasts(first), 1u);
    EXPECT_EQ(first.back().reference, 4);
    EXPECT_EQ(first.back().req_count, 3);
    q.reference = first.back().reference;
    const auto second = Run(41, [&] { return api_->QueryETFByPage(&q, s, 41); });
    ASSERT_EQ(second.size(), 3u);  // positions 4, 5, 6: all that is left
    EXPECT_EQ(second[0].ticker, "510004");
    EXPECT_EQ(Lasts(second), 1u);
}

}  // namespace
