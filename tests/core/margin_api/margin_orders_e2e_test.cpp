// A margin account's order path end to end through the public interface against the simulated
// gateway's margin order server: an order that fills, one that stays working and is cancelled,
// the cancel of a filled order refused with its text, a refused order, a repayment with and
// without its error record, a transfer and a credit request, each reaching its callback once;
// then a logout, and a second login whose order ids continue above the first's.
#include "core/margin_api/MarginFixture.h"

#include <oxa_api/TraderApi.h>

#include "api/ErrorMsg.h"
#include "gateway_sim/SimSpotOrders.h"

namespace {

using namespace margin_test;
using Event = FlowSpi::Event;

class MarginOrdersE2ETest : public MarginFixture {
protected:
    void SetUp() override {
        MarginFixture::SetUp();
        oxa_sim::MarginOrderConfig c;
        c.book_prices = oxa_sim::demo_book_prices();  // 600000 trades at 10.50
        sim_margin_.orders().set_config(c);
    }
    static OrderInsertInfo Order(double price, int64_t quantity, uint8_t side = 1) {
        OrderInsertInfo o{};
        o.order_client_id = 42;
        std::strcpy(o.ticker, "600000");
        o.market = 1;
        o.price = price;
        o.quantity = quantity;
        o.price_type = 1;  // limit
        o.side = side;
        return o;
    }
    // The events of one kind for an id, once at least n of them are there (bounded wait).
    std::vector<Event> WaitFor(const std::string& kind, uint64_t id, std::size_t n = 1) {
        WaitUntil([&] { return spi_.Of(kind, id).size() >= n; }, 5000ms);
        return spi_.Of(kind, id);
    }
    OXA::API::TraderApi& Api() { return *api_; }
};

TEST_F(MarginOrdersE2ETest, OrdersCancelsAndRepaymentsReachTheirCallbacks) {
    const uint64_t session = Login(8201);
    ASSERT_NE(session, 0u) << LastError();
    OXA::API::TraderApi& api = Api();

    // an order at or above the book fills: working, then filled, and its trade
    OrderInsertInfo buy = Order(10.60, 100);
    const uint64_t filled = api.InsertOrder(&buy, session);
    ASSERT_EQ(filled >> 40, session);
    auto orders = WaitFor("order", filled, 2);
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(orders[0].status, OXA_ORDER_STATUS_4);
    EXPECT_EQ(orders[1].status, OXA_ORDER_STATUS_1);
    EXPECT_EQ(orders[1].session, session);
    auto trades = WaitFor("trade", filled);
    ASSERT_EQ(trades.size(), 1u);
    EXPECT_EQ(trades[0].value, 100);

    // one below the book stays working until it is cancelled; an accepted cancel has no event
    OrderInsertInfo low = Order(10.00, 200);
    const uint64_t working = api.InsertOrder(&low, session);
    ASSERT_EQ(WaitFor("order", working).size(), 1u);
    const uint64_t cancel = api.CancelOrder(working, session);
    ASSERT_NE(cancel, 0u);
    orders = WaitFor("order", working, 2);
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(orders[1].status, OXA_ORDER_STATUS_5);
    EXPECT_EQ(orders[1].other, cancel) << "the cancel's id in the order's record";

    // the cancel of the filled order is refused, with the server's code and a text
    const uint64_t refused_cancel = api.CancelOrder(filled, session);
    auto cancels = WaitFor("cancel", refused_cancel);
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].other, filled);
    EXPECT_EQ(cancels[0].error, 11000343);
    EXPECT_FALSE(cancels[0].text.empty());
    EXPECT_TRUE(spi_.Of("cancel", cancel).empty());

    // an order the gateway refuses comes back as a refused report
    OrderInsertInfo empty = Order(10.60, 0);
    const uint64_t refused = api.InsertOrder(&empty, session);
    orders = WaitFor("order", refused);
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].status, OXA_ORDER_STATUS_6);
    EXPECT_EQ(orders[0].error, 200002);

    // repayments, with and without the error record behind the answer
    const uint64_t repay = api.CreditCashRepay(session, 2.01);
    ASSERT_NE(repay, 0u) << LastError();
    auto repays = WaitFor("repay", repay);
    ASSERT_EQ(repays.size(), 1u);
    EXPECT_EQ(repays[0].error, 0);
    EXPECT_EQ(repays[0].value, 2.01);
    EXPECT_STREQ(repays[0].text.c_str(), OXA::API::GetErrorMsg(0)) << "a wire record's empty text is completed";
    oxa_sim::MarginOrderConfig c = sim_margin_.orders().config();
    c.repay_error_record = false;
    sim_margin_.orders().set_config(c);
    const uint64_t bare = api.CreditCashRepay(session, 5);
    repays = WaitFor("repay", bare);
    ASSERT_EQ(repays.size(), 1u);
    EXPECT_EQ(repays[0].error, 0);
    EXPECT_STREQ(repays[0].text.c_str(), "") << "no error record: a local one";
    EXPECT_DOUBLE_EQ(sim_margin_.orders().repaid(8201), 7.01);

    FundTransferInfo transfer{};
    transfer.amount = 300;
    transfer.transfer_type = 1;
    const uint64_t serial = api.FundTransfer(&transfer, session);
    EXPECT_EQ(+transfer.serial_id, serial);
    auto transfers = WaitFor("transfer", serial);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].value, 300);

    CreditRequestParam credit{};
    const uint64_t credit_id = api.CreditRequest(&credit, session);
    EXPECT_EQ(WaitFor("credit", credit_id).size(), 1u);
    CashRepaySpecifiedDebtInfo debt{};
    const uint64_t debt_id = api.CreditCashRepaySpecifiedDebt(&debt, session);
    EXPECT_EQ(WaitFor("repay_debt", debt_id).size(), 1u);

    // every report once: nothing more arrives for any of them
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(spi_.Of("order", filled).size(), 2u);
    EXPECT_EQ(spi_.Of("trade", filled).size(), 1u);
    EXPECT_EQ(spi_.Of("repay", repay).size(), 1u);

    ASSERT_EQ(api.Logout(session), 0);
    EXPECT_EQ(api.InsertOrder(&buy, session), 0u) << "the session is gone";

    // the next login continues the order numbers
    const uint64_t again = Login(8201);
    ASSERT_EQ(again, session) << LastError();
    const uint64_t next = api.InsertOrder(&low, again);
    EXPECT_GT(static_cast<uint32_t>(next), static_cast<uint32_t>(debt_id));
    EXPECT_EQ(WaitFor("order", next).size(), 1u);
}

}  // namespace
