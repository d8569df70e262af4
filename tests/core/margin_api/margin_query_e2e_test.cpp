// Margin queries end to end through the public interface against the simulated gateway's margin
// query server: one query of each answer family (single-record lists and records, the value
// answer, classic and extended pages asked for page by page, the three answers with handlers of
// their own), and the server's faults: an error code in every head, a start position ignored, an
// overfilled page, records laid out at another stride, cut messages.
#include "core/margin_api/MarginFixture.h"

#include <oxa_api/TraderApi.h>

namespace {

using namespace margin_test;
using Event = FlowSpi::Event;

class MarginQueryE2ETest : public MarginFixture {
protected:
    OXA::API::TraderApi& Api() { return *api_; }
};

TEST_F(MarginQueryE2ETest, OneQueryOfEveryFamily) {
    const uint64_t session = Login(8301);
    ASSERT_NE(session, 0u) << LastError();
    OXA::API::TraderApi& api = Api();
    const uint64_t filled = Buy(session, 10.80);
    const uint64_t working = Buy(session, 9.00);
    ASSERT_TRUE(WaitUntil([&] { return spi_.Of("order", working).size() == 1 && spi_.Of("trade", filled).size() == 1; }));

    // single-record family: one call per order, is_last on the last message
    const OrderQueryParam all{};
    ASSERT_EQ(api.QueryOrders(&all, session, 1), 0);
    auto orders = Answers("query_order", 1);
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(orders[0].other, filled);
    EXPECT_EQ(orders[0].status, 0);
    EXPECT_EQ(orders[1].other, working);
    EXPECT_EQ(orders[1].status, 1);
    EXPECT_EQ(orders[1].session, session);
    ASSERT_EQ(api.QueryOrderByOXAID(working, session, 2), 0);
    orders = Answers("query_order", 2);
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].other, working);
    ASSERT_EQ(api.QueryUnfinishedOrders(session, 3), 0);
    orders = Answers("query_order", 3);
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].other, working);

    // a credit record carried as the server sent it, and the value answer
    ASSERT_EQ(api.QueryCreditInfo2(session, 4), 0);
    auto credit = Answers("credit2", 4, 1);
    ASSERT_EQ(credit.size(), 1u);
    EXPECT_TRUE(credit[0].has_record);
    EXPECT_EQ(credit[0].value, 500000000);
    ASSERT_EQ(api.QueryCreditInfo6(session, 5), 0);
    auto value = Answers("credit6", 5, 1);
    ASSERT_EQ(value.size(), 1u);
    EXPECT_EQ(value[0].value, 1.85);

    // classic pages, asked for one after the other
    PageQueryParam page{1, 0, 0};
    ASSERT_EQ(api.QueryPositionByPage(&page, session, 6), 0);
    auto positions = Answers("position_page", 6);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].ticker, "600000");
    EXPECT_EQ(positions[0].other, 1u);
    page.reference = 1;
    ASSERT_EQ(api.QueryPositionByPage(&page, session, 7), 0);
    positions = Answers("position_page", 7);
    ASSERT_EQ(positions.size(), 1u);
    EXPECT_EQ(positions[0].ticker, "000001");
    EXPECT_EQ(positions[0].other, 2u);

    // extended pages: index 1..n in each, reference + 1 of the last record asks for the next
    page = PageQueryParam{3, 0, 0};
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 8), 0);
    auto targets = Answers("target", 8);
    ASSERT_EQ(targets.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(targets[i].other, i + 1);
        EXPECT_EQ(targets[i].value, static_cast<double>(i + 1));
        EXPECT_EQ(targets[i].status, i == 2 ? 1 : 0);
    }
    page.reference = static_cast<int64_t>(targets[2].value);
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 9), 0);
    targets = Answers("target", 9);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].ticker, "000001");
    EXPECT_EQ(targets[0].value, 4);
    page.reference = 4;
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 10), 0);
    targets = Answers("target", 10);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_FALSE(targets[0].has_record) << "past the end: one null call";
    EXPECT_EQ(targets[0].status, 1);

    // handlers of their own
    ASSERT_EQ(api.QueryIPOInfoList(session, 11), 0);
    auto ipos = Answers("ipo", 11);
    ASSERT_EQ(ipos.size(), 1u);
    EXPECT_EQ(ipos[0].ticker, "787001");
    ASSERT_EQ(api.QueryOtherServerFund(nullptr, session, 12), 0);
    auto other = Answers("other_fund", 12, 1);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].value, 125000.50);
    TickerQueryParam ticker{"600036", 1};
    ASSERT_EQ(api.QuerySecurityInfo(&ticker, session, 13), 0);
    auto security = Answers("security", 13);
    ASSERT_EQ(security.size(), 1u);
    EXPECT_EQ(security[0].ticker, "600036");
    TickerQueryParam unknown{"999999", 1};
    ASSERT_EQ(api.QuerySecurityInfo(&unknown, session, 14), 0);
    security = Answers("security", 14);
    ASSERT_EQ(security.size(), 1u);
    EXPECT_FALSE(security[0].has_record);
}

TEST_F(MarginQueryE2ETest, FaultsTheServerLaysOnItsAnswers) {
    const uint64_t session = Login(8302);
    ASSERT_NE(session, 0u) << LastError();
    OXA::API::TraderApi& api = Api();

    // an error code in every head reaches every call, with its text
    oxa_sim::MarginQueryPaging p;
    p.error = 1004;
    sim_margin_.queries().set_paging(p);
    ASSERT_EQ(api.QueryAsset(session, 1), 0);
    auto asset = Answers("query_asset", 1);
    ASSERT_EQ(asset.size(), 1u);
    EXPECT_TRUE(asset[0].has_record);
    EXPECT_EQ(asset[0].error, 1004);
    EXPECT_FALSE(asset[0].text.empty());

    // a start position ignored repeats the first page; the application still ends each page
    p = oxa_sim::MarginQueryPaging{};
    p.ignore_start = true;
    p.overfill = 1;
    sim_margin_.queries().set_paging(p);
    PageQueryParam page{2, 2, 0};
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 2), 0);
    auto targets = Answers("target", 2);
    ASSERT_EQ(targets.size(), 3u) << "the overfilled page is delivered as it came";
    EXPECT_EQ(targets[0].ticker, "600000") << "from the first record";
    EXPECT_EQ(targets[2].status, 1);

    // another stride: records laid out 64 bytes apart are read at 64
    p = oxa_sim::MarginQueryPaging{};
    p.stride = 64;
    sim_margin_.queries().set_paging(p);
    page = PageQueryParam{4, 0, 0};
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 3), 0);
    targets = Answers("target", 3);
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[3].ticker, "000001");

    // cut messages: the single-record answer is dropped, the extended one delivers what is whole
    p = oxa_sim::MarginQueryPaging{};
    p.cut_to = 56 + 36 + 10;
    sim_margin_.queries().set_paging(p);
    ASSERT_EQ(api.QueryCreditTargetStkByPage(&page, session, 4), 0);
    targets = Answers("target", 4);
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].ticker, "600000");
    EXPECT_EQ(targets[0].status, 1);
    ASSERT_EQ(api.QueryAsset(session, 5), 0);
    ASSERT_EQ(api.QueryCreditInfo6(session, 6), 0);
    ASSERT_TRUE(WaitUntil([&] { return !spi_.Of("credit6", 6).empty(); }));
    EXPECT_TRUE(spi_.Of("query_asset", 5).empty()) << "a cut record is not read";
}

}  // namespace
