// The option pushes into the public records: bodies written at the wire offsets of each push,
// delivered through the back-end's receive slot, and the code tables they use.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/option_api/OptConvert.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTestSupport.h"

namespace {

using namespace opt_test;
namespace OPT = OXA::API::OPT;

constexpr uint64_t kSession = uint64_t{5} << 16 | 9;
constexpr uint64_t kOrderId = kSession << 40 | uint64_t{6} << 32 | 77;
constexpr uint64_t kCancelId = kSession << 40 | uint64_t{6} << 32 | 78;
constexpr int64_t kInsert = 20261215093000123;
constexpr int64_t kUpdate = 20261215093001456;
constexpr int64_t kCancel = 20261215093002789;


Body OrderPush(char side, char covered, char effect, char status, char p1 = '2', char p2 = '0') {
    Body b(439, 0xEE);
    b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x1234500000031ull).put<int64_t>(40, 123456789012345ll);
    b.text(59, std::string("10004321\0", 9)).put<int32_t>(68, 1).put<double>(72, 0.2345).put<int64_t>(80, 10);
    b.ch(88, p1).ch(89, p2).ch(90, covered).ch(91, side).ch(92, effect);
    b.put<int64_t>(101, 4).put<double>(109, 0.938).ch(117, status).put<int32_t>(118, 0);
    b.text(304, std::string("ok\0", 3)).put<int64_t>(368, kInsert).put<int64_t>(376, kUpdate);
    b.put<int64_t>(384, kCancel).put<int32_t>(392, 2).put<uint8_t>(421, 0x5A);
    b.put<uint64_t>(423, kCancelId).put<uint64_t>(431, 0x9900000032ull);
    return b;
}

class OptionPushTest : public OptionDriverFixture {};

TEST_F(OptionPushTest, OrderPushFillsEveryField) {
    Deliver(0x502, OrderPush('1', ' ', 'O', '2').b);
    ASSERT_EQ(spi_.orders.size(), 1u);
    const OXAOrderInfo& o = spi_.orders[0];
    EXPECT_EQ(V(spi_.calls[0].session), kSession);
    EXPECT_EQ(V(o.order_oxa_id), kOrderId);
    EXPECT_EQ(V(o.order_client_id), 0x31u) << "low 32 bits";
    EXPECT_EQ(V(o.order_cancel_client_id), 0x32u);
    EXPECT_EQ(V(o.order_cancel_oxa_id), kCancelId);
    EXPECT_STREQ(o.ticker, "10004321");
    EXPECT_EQ(V(o.market), 1);
    EXPECT_DOUBLE_EQ(V(o.price), 0.2345);
    EXPECT_EQ(V(o.quantity), 10);
    EXPECT_EQ(V(o.price_type), 1);
    EXPECT_EQ(V(o.side), 1);
    EXPECT_EQ(V(o.position_effect), 1);
    EXPECT_EQ(V(o.reserved1), 0x5A);
    EXPECT_EQ(V(o.client_id), 6);
    EXPECT_EQ(V(o.business_type), 10);
    EXPECT_EQ(V(o.qty_traded), 4);
    EXPECT_EQ(V(o.qty_left), 6);
    EXPECT_EQ(V(o.insert_time), kInsert) << "time fields copied unchanged";
    EXPECT_EQ(V(o.update_time), kUpdate);
    EXPECT_EQ(V(o.cancel_time), kCancel);
    EXPECT_DOUBLE_EQ(V(o.trade_amount), 0.938);
    EXPECT_STREQ(o.order_local_id, "1234567890") << "at most 10 digits";
    EXPECT_EQ(V(o.order_status), 4);
    EXPECT_EQ(V(o.order_submit_status), 2);
    EXPECT_EQ(o.order_type, '0');
    EXPECT_EQ(V(spi_.calls[0].error_id), 0);
    EXPECT_EQ(V(spi_.calls[0].error_msg), "ok");
}

TEST_F(OptionPushTest, OrderPushCodes) {
    struct Row {
        char side, covered, effect, status, p1, p2;
        uint8_t want_side, want_effect;
        int32_t want_price_type, want_status, want_submit;
    };
    const Row rows[] = {
        {'2', '1', 'O', '2', '2', '0', 11, 1, 1, 4, 2},   // covered sell opens
        {'1', '1', 'C', '2', '2', '0', 11, 2, 1, 4, 2},
        {'2', ' ', 'X', '2', '2', '0', 2, 12, 1, 4, 2},
        {'1', ' ', 'O', '6', 'K', '0', 1, 1, 3, 5, 6},    // cancelled: submit 6 whatever the wire says
        {'1', ' ', 'O', '5', '2', '4', 1, 1, 8, 3, 6},
        {'1', ' ', 'O', 'B', '9', '9', 1, 1, 11, 7, 2},   // unknown status keeps the wire's submit
        {'Z', ' ', 'O', '8', '1', '4', 12, 1, 5, 1, 2},
        {'B', ' ', 'O', '9', '6', '0', 31, 1, 7, 6, 2},
        {'C', ' ', 'O', '4', '4', '0', 32, 1, 6, 2, 2},
        {'\0', ' ', '\0', '\0', '\0', '\0', 50, 12, 11, 7, 2},
    };
    for (const Row& r : rows) {
        spi_.Clear();
        Deliver(0x502, OrderPush(r.side, r.covered, r.effect, r.status, r.p1, r.p2).b);
        ASSERT_EQ(spi_.orders.size(), 1u);
        const OXAOrderInfo& o = spi_.orders[0];
        SCOPED_TRACE(std::string(1, r.side) + r.covered + r.effect + r.status + r.p1 + r.p2);
        EXPECT_EQ(V(o.side), r.want_side);
        EXPECT_EQ(V(o.position_effect), r.want_effect);
        EXPECT_EQ(V(o.price_type), r.want_price_type);
        EXPECT_EQ(V(o.order_status), r.want_status);
        EXPECT_EQ(V(o.order_submit_status), r.want_submit);
    }
}

TEST_F(OptionPushTest, OrderHandlerActsOnlyForItsOwnId) {
    const Bytes b = OrderPush('1', ' ', 'O', '2').b;
    OPT::RecvHandFunc h = OPT::GetTradeDriver().GetHandler(0x502);
    ASSERT_NE(h, nullptr);
    h(OPT::GetTradeDriver(), 0, 0x503, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), 0, false,
      0, 0, 0);
    EXPECT_EQ(spi_.Size(), 0u);
    h(OPT::GetTradeDriver(), 0, 0x502, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), 0, false,
      0, 0, 0);
    EXPECT_EQ(spi_.Size(), 1u);
}

TEST_F(OptionPushTest, TradePush) {
    Body b(185, 0xEE);
    b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x700000041ull).put<uint64_t>(32, 123456789012345678ull);
    b.put<uint64_t>(51, 9).text(59, std::string("10004321\0", 9)).put<int32_t>(68, 2);
    b.text(72, "E0000000000000001").put<double>(89, 0.25).put<int64_t>(97, 3);
    b.put<int64_t>(105, kUpdate).put<double>(113, 0.75).put<uint64_t>(121, 88);
    b.ch(129, '2').ch(130, 'C').ch(131, '2').text(132, "PBU1234").ch(156, '1').put<uint8_t>(181, 7);
    b.ch(183, '1').ch(184, '3');
    Deliver(0x510, b.b);
    ASSERT_EQ(spi_.trades.size(), 1u);
    const OXATradeReport& t = spi_.trades[0];
    EXPECT_EQ(V(spi_.calls[0].session), kSession);
    EXPECT_EQ(V(t.order_oxa_id), kOrderId);
    EXPECT_EQ(V(t.order_client_id), 0x41u);
    EXPECT_STREQ(t.ticker, "10004321");
    EXPECT_EQ(V(t.market), 2);
    EXPECT_EQ(V(t.price_type), 2);
    EXPECT_STREQ(t.exec_id, "E0000000000000001") << "17 characters, the field's own width";
    EXPECT_DOUBLE_EQ(V(t.price), 0.25);
    EXPECT_EQ(V(t.quantity), 3);
    EXPECT_EQ(V(t.trade_time), kUpdate);
    EXPECT_DOUBLE_EQ(V(t.trade_amount), 0.75);
    EXPECT_EQ(V(t.report_index), 88u);
    EXPECT_EQ(std::string(t.order_exch_id, sizeof t.order_exch_id), "12345678901234567")
        << "at most 17 characters";
    EXPECT_EQ(t.trade_type, '0');
    EXPECT_EQ(V(t.side), 11);
    EXPECT_EQ(V(t.position_effect), 2);
    EXPECT_EQ(V(t.reserved1), 7);
    EXPECT_EQ(V(t.client_id), 6);
    EXPECT_EQ(V(t.business_type), 10);
    EXPECT_STREQ(t.branch_pbu, "PBU123") << "at most 6 characters";
}

TEST_F(OptionPushTest, CancelPushRunsWhateverItsError) {
    for (int32_t code : {0, 11000343}) {
        spi_.Clear();
        Body b(453, 0);
        b.put<uint64_t>(16, kCancelId).put<uint64_t>(59, kOrderId).put<int32_t>(144, code);
        b.text(330, code ? "not open" : "");
        Deliver(0x506, b.b);
        ASSERT_EQ(spi_.cancels.size(), 1u) << code;
        EXPECT_EQ(V(spi_.cancels[0].order_cancel_oxa_id), kCancelId);
        EXPECT_EQ(V(spi_.cancels[0].order_oxa_id), kOrderId);
        EXPECT_EQ(V(spi_.calls[0].error_id), code);
        EXPECT_EQ(V(spi_.calls[0].error_msg), code ? "not open" : "");
        EXPECT_EQ(V(spi_.calls[0].session), kSession);
    }
}

TEST_F(OptionPushTest, LockPush) {
    struct Row {
        char effect;
        uint8_t want;
    };
    for (const Row& r : {Row{'Z', 1}, Row{'Y', 2}, Row{'O', 12}}) {
        spi_.Clear();
        Body b(293, 0xEE);
        b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 5).put<int64_t>(40, -12).put<int64_t>(59, 1000);
        b.text(67, std::string("510050\0", 7)).ch(74, r.effect).put<int32_t>(75, 1);
        b.put<int64_t>(79, 400).put<int64_t>(87, 600).put<double>(95, 1.5).ch(103, '8').put<int32_t>(104, 0);
        b.text(173, std::string("\0", 1)).put<int64_t>(237, kInsert).put<int64_t>(245, kUpdate);
        b.put<int64_t>(253, kCancel).put<int32_t>(261, 9).put<uint8_t>(291, 3);
        Deliver(0x508, b.b);
        ASSERT_EQ(spi_.orders.size(), 1u);
        const OXAOrderInfo& o = spi_.orders[0];
        EXPECT_EQ(V(spi_.calls[0].op), "OnOrderEvent");
        EXPECT_EQ(V(o.position_effect), r.want);
        EXPECT_EQ(V(o.price_type), 11);
        EXPECT_EQ(V(o.side), 12);
        EXPECT_EQ(V(o.business_type), 12);
        EXPECT_DOUBLE_EQ(V(o.price), 0.0);
        EXPECT_STREQ(o.ticker, "510050");
        EXPECT_EQ(V(o.quantity), 1000);
        EXPECT_EQ(V(o.qty_left), 400) << "taken as sent";
        EXPECT_EQ(V(o.qty_traded), 600);
        EXPECT_EQ(V(o.order_status), 1);
        EXPECT_EQ(V(o.order_submit_status), 9);
        EXPECT_STREQ(o.order_local_id, "-12");
        EXPECT_EQ(V(o.insert_time), kInsert);
        EXPECT_EQ(V(o.reserved1), 3);
    }
}

Body ExecutePush(char status) {
    Body b(425, 0);
    b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x51).put<int64_t>(40, 7).put<int64_t>(59, 30);
    b.text(67, "100043219").put<int32_t>(76, 2).put<int64_t>(80, 12).ch(104, status);
    b.put<int32_t>(286, 0).put<int64_t>(354, kInsert).put<int64_t>(362, kUpdate).put<int64_t>(370, kCancel);
    b.put<int32_t>(378, 2).put<uint8_t>(407, 1).put<uint64_t>(409, kCancelId).put<uint64_t>(417, 0x52);
    return b;
}

TEST_F(OptionPushTest, ExecutePush) {
    Deliver(0x50c, ExecutePush('2').b);
    ASSERT_EQ(spi_.executes.size(), 1u);
    OXAOrderExecuteInfo x = spi_.executes[0];
    EXPECT_EQ(V(x.order_oxa_id), kOrderId);
    EXPECT_EQ(V(x.order_cancel_oxa_id), kCancelId);
    EXPECT_EQ(V(x.order_cancel_client_id), 0x52u);
    EXPECT_EQ(std::string(x.ticker), "10004321") << "at most 8 characters";
    EXPECT_EQ(V(x.market), 2);
    EXPECT_EQ(V(x.business_type), 11);
    EXPECT_EQ(V(x.qty_left), 12);
    EXPECT_EQ(V(x.order_status), 4);
    EXPECT_EQ(V(x.order_submit_status), 2);
    EXPECT_EQ(V(x.insert_time), kInsert);

    spi_.Clear();
    Deliver(0x50c, ExecutePush('6').b);
    ASSERT_EQ(spi_.executes.size(), 1u);
    x = spi_.executes[0];
    EXPECT_EQ(V(x.order_status), 5);
    EXPECT_EQ(V(x.order_submit_status), 6);
    EXPECT_EQ(V(x.qty_left), 30) << "the whole quantity";
}

TEST_F(OptionPushTest, CombinedExecutePushQuantities) {
    struct Row {
        char status;
        int32_t want_status, want_submit;
        int64_t want_left;
    };
    const Row rows[] = {{'2', 4, 3, 0}, {'6', 5, 6, 50}, {'4', 2, 3, 17}};
    for (const Row& r : rows) {
        spi_.Clear();
        Body b(615, 0);
        b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x61).put<int64_t>(40, -5).put<int64_t>(59, 50);
        b.text(67, "100043211").text(76, "100043229").put<int32_t>(85, 1).put<int64_t>(89, 17);
        b.put<int64_t>(97, 33).ch(113, r.status).put<int32_t>(114, 230001).text(480, "refused");
        b.put<int64_t>(544, kInsert).put<int64_t>(552, kUpdate).put<int64_t>(560, kCancel);
        b.put<int32_t>(568, 3).put<uint8_t>(597, 4).put<uint64_t>(599, kCancelId).put<uint64_t>(607, 0x62);
        Deliver(0x50e, b.b);
        ASSERT_EQ(spi_.executes.size(), 1u);
        const OXAOrderExecuteInfo& x = spi_.executes[0];
        SCOPED_TRACE(r.status);
        EXPECT_EQ(std::string(x.ticker), "10004321");
        EXPECT_EQ(std::string(x.ticker + 16), "10004322") << "the second code in the second half";
        EXPECT_EQ(V(x.business_type), 15);
        EXPECT_EQ(V(x.quantity), 50);
        EXPECT_EQ(V(x.order_status), r.want_status);
        EXPECT_EQ(V(x.order_submit_status), r.want_submit);
        EXPECT_EQ(V(x.qty_left), r.want_left);
        EXPECT_STREQ(x.order_local_id, "-5");
        EXPECT_EQ(V(x.cancel_time), kCancel);
        EXPECT_EQ(V(x.reserved1), 4);
        EXPECT_EQ(V(spi_.calls[0].error_id), 230001);
        EXPECT_EQ(V(spi_.calls[0].error_msg), "refused");
    }
}

Body CombOrderPush(int16_t legs, char side, char flag) {
    Body b(329, 0);
    b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x71).put<int64_t>(40, 31).put<int64_t>(59, 2);
    b.put<int32_t>(67, 1).ch(71, side).text(72, "CNSJC").text(81, "C0000000000000012");
    b.put<int16_t>(98, legs);
    const char sides[] = {'L', 'S', 'S', 'L'};
    const char covered[] = {' ', '1', ' ', ' '};
    const char cp[] = {'C', 'P', 'C', 'P'};
    for (int i = 0; i < 4; ++i) {
        b.ch(100 + i, sides[i]).ch(104 + i, covered[i]).put<int64_t>(108 + 8 * i, 0x100000000ll + i + 1);
        b.text(140 + 9 * i, "1000432" + std::to_string(i)).ch(176 + i, cp[i]);
    }
    b.put<int64_t>(180, 1).put<int64_t>(188, 1).put<double>(196, 0.5).ch(204, '4').put<int32_t>(205, 0);
    b.put<int64_t>(273, kInsert).put<int64_t>(281, kUpdate).put<int64_t>(289, kCancel).put<int32_t>(297, 2);
    b.ch(326, flag);
    return b;
}

TEST_F(OptionPushTest, CombinationOrderPushLegsAndSide) {
    Deliver(0x50a, CombOrderPush(2, 'C', '1').b);
    ASSERT_EQ(spi_.comb_orders.size(), 1u);
    OXAOptCombOrderInfo o = spi_.comb_orders[0];
    EXPECT_EQ(V(o.side), 33);
    EXPECT_EQ(V(o.business_type), 13);
    EXPECT_EQ(o.order_type, '3');
    EXPECT_STREQ(o.strategy_id, "CNSJC");
    EXPECT_STREQ(o.comb_num, "C0000000000000012");
    EXPECT_EQ(V(o.num_legs), 2);
    EXPECT_EQ(V(o.order_status), 2);
    EXPECT_EQ(V(o.qty_left), 1);
    EXPECT_EQ(V(o.order_cancel_oxa_id), 0u);
    EXPECT_STREQ(o.legs[0].leg_security_id, "10004320");
    EXPECT_EQ(V(o.legs[0].leg_side), 1);
    EXPECT_EQ(V(o.legs[0].leg_covered), 0);
    EXPECT_EQ(V(o.legs[0].leg_cntr_type), 1);
    EXPECT_EQ(V(o.legs[0].leg_qty), 1) << "low 32 bits";
    EXPECT_EQ(V(o.legs[1].leg_side), 3) << "the covered leg";
    EXPECT_EQ(V(o.legs[1].leg_covered), 1);
    EXPECT_EQ(V(o.legs[1].leg_cntr_type), 2);
    EXPECT_EQ(o.legs[2].leg_security_id[0], 0) << "legs past the count stay empty";

    spi_.Clear();
    Deliver(0x50a, CombOrderPush(1, 'C', '0').b);
    ASSERT_EQ(spi_.comb_orders.size(), 1u);
    EXPECT_EQ(V(spi_.comb_orders[0].side), 32);
}

// A leg count beyond the record's four, or below zero, reads at most four legs and reports the
// legs it filled.
TEST_F(OptionPushTest, LegCountsAreClamped) {
    struct Row {
        int16_t wire;
        int32_t want;
    };
    for (const Row& r : {Row{5, 4}, Row{-1, 0}, Row{4, 4}, Row{0x7fff, 4}}) {
        spi_.Clear();
        Deliver(0x50a, CombOrderPush(r.wire, '1', '0').b);
        Body t(231, 0);
        t.put<uint64_t>(16, kOrderId).put<int16_t>(139, r.wire);
        for (int i = 0; i < 4; ++i) t.text(181 + 9 * i, "1000432" + std::to_string(i));
        Deliver(0x511, t.b);
        ASSERT_EQ(spi_.comb_orders.size(), 1u);
        ASSERT_EQ(spi_.comb_trades.size(), 1u);
        EXPECT_EQ(V(spi_.comb_orders[0].num_legs), r.want) << r.wire;
        EXPECT_EQ(V(spi_.comb_trades[0].num_legs), r.want) << r.wire;
        const bool filled = r.want == 4;
        EXPECT_EQ(spi_.comb_trades[0].legs[3].leg_security_id[0] != 0, filled) << r.wire;
    }
}

TEST_F(OptionPushTest, CombinationTradePush) {
    Body b(231, 0);
    b.put<uint64_t>(16, kOrderId).put<uint64_t>(24, 0x81).put<uint64_t>(32, 4242).put<int32_t>(59, 2);
    b.text(63, "X0000000000000009").put<int64_t>(80, 2).put<int64_t>(88, kUpdate).put<double>(96, 0.4);
    b.put<uint64_t>(104, 5).ch(112, 'B').text(113, "KS").text(122, "C01").put<int16_t>(139, 2);
    b.ch(141, 'S').ch(145, ' ').text(181, "10004321").ch(217, 'P').text(221, "PBU12345").ch(229, '1');
    Deliver(0x511, b.b);
    ASSERT_EQ(spi_.comb_trades.size(), 1u);
    const OXAOptCombTradeReport& t = spi_.comb_trades[0];
    EXPECT_EQ(V(t.system_id), 4242u);
    EXPECT_STREQ(t.order_exch_id, "4242");
    EXPECT_STREQ(t.exec_id, "X0000000000000009");
    EXPECT_EQ(V(t.side), 31);
    EXPECT_EQ(V(t.business_type), 13);
    EXPECT_STREQ(t.branch_pbu, "PBU123");
    EXPECT_STREQ(t.strategy_id, "KS");
    EXPECT_STREQ(t.comb_num, "C01");
    EXPECT_EQ(V(t.trade_time), kUpdate);
    EXPECT_EQ(V(t.legs[0].leg_side), 2);
    EXPECT_EQ(V(t.legs[0].leg_cntr_type), 2);
    EXPECT_EQ(V(spi_.calls[0].session), kSession);
}

TEST_F(OptionPushTest, FundTransferPush) {
    struct Row {
        char side, status;
        int32_t type, oper;
    };
    for (const Row& r : {Row{'1', '2', 3, 2}, Row{'2', '0', 2, 0}, Row{'9', '/', 4, -1}}) {
        spi_.Clear();
        Body b(130, 0);
        b.put<uint64_t>(16, kOrderId).put<double>(32, 1000.5).ch(40, r.side).put<int32_t>(41, 0);
        b.put<uint64_t>(109, static_cast<uint64_t>(kUpdate)).ch(117, r.status);
        Deliver(0x565, b.b);
        ASSERT_EQ(spi_.transfers.size(), 1u);
        const OXAFundTransferNotice& f = spi_.transfers[0];
        EXPECT_EQ(V(f.order_oxa_id), kOrderId);
        EXPECT_EQ(V(f.transfer_type), r.type) << r.side;
        EXPECT_EQ(V(f.oper_status), r.oper) << r.status;
        EXPECT_DOUBLE_EQ(V(f.amount), 1000.5);
        EXPECT_EQ(V(f.transfer_time), static_cast<uint64_t>(kUpdate));
        EXPECT_EQ(V(spi_.calls[0].session), kSession);
    }
}

// Every push at every length up to its record, each in a heap block of exactly that size: a
// push shorter than what its handler reads is dropped, a whole one is delivered once.
TEST_F(OptionPushTest, TruncatedPushesNeverReadPastTheMessage) {
    struct Row {
        uint32_t id;
        std::size_t full;
        std::size_t need;
    };
    const Row rows[] = {{0x502, 439, 439}, {0x506, 453, 394}, {0x508, 293, 292}, {0x50a, 329, 327},
                        {0x50c, 425, 425}, {0x50e, 615, 615}, {0x510, 185, 185}, {0x511, 231, 230},
                        {0x565, 130, 118}};
    for (const Row& r : rows) {
        Body b = r.id == 0x50a ? CombOrderPush(5, '1', '0') : OrderPush('1', ' ', 'O', '2');
        b.b.resize(r.full, 0x31);
        for (std::size_t n = 0; n <= r.full; ++n) {
            spi_.Clear();
            std::unique_ptr<char[]> exact(new char[n ? n : 1]);
            std::memcpy(exact.get(), b.b.data(), n);
            api_->OnRecv(0, r.id, n ? exact.get() : nullptr, static_cast<int>(n), 0, 0, 0, 0, 0);
            EXPECT_EQ(spi_.Size(), n >= r.need ? 1u : 0u) << std::hex << r.id << std::dec << " len " << n;
        }
    }
}

TEST(OptionCodeTables, ConvertPriceType) {
    struct Row {
        char a, b;
        int32_t want;
    };
    const Row rows[] = {{'2', '0', 1}, {'1', '3', 2}, {'K', '0', 3}, {'5', '3', 4}, {'1', '4', 5},
                        {'4', '0', 6}, {'6', '0', 7}, {'2', '4', 8}, {'0', '2', 11}, {'2', '1', 11},
                        {'\0', '\0', 11}, {'\xff', '0', 11}, {'k', '0', 11}};
    for (const Row& r : rows) EXPECT_EQ(OPT::ConvertPriceType(r.a, r.b), r.want) << r.a << r.b;
}

TEST(OptionCodeTables, OrderStatusTable) {
    const char* codes = "0123456789:;<=>?@A";
    const int32_t want[] = {0, 0, 4, 7, 2, 3, 5, 3, 1, 6, 7, 7, 7, 7, 7, 7, 7, 4};
    for (int i = 0; i < 18; ++i) EXPECT_EQ(OPT::OrderStatusTable(codes[i]), want[i]) << codes[i];
    for (char c : {'\0', '/', 'B', 'a', '\x80', '\xff'}) EXPECT_EQ(OPT::OrderStatusTable(c), 7) << int(c);
}

TEST(OptionCodeTables, SidesAndEffects) {
    EXPECT_EQ(OPT::SingleLegSide('1', '1'), 11);
    EXPECT_EQ(OPT::SingleLegSide('2', ' '), 2);
    EXPECT_EQ(OPT::SingleLegSide('Y', ' '), 12);
    EXPECT_EQ(OPT::SingleLegSide('C', '1'), 32);
    EXPECT_EQ(OPT::SingleLegSide('\0', ' '), 50);
    EXPECT_EQ(OPT::CombinationSide('1', '1'), 1);
    EXPECT_EQ(OPT::CombinationSide('C', '1'), 33);
    EXPECT_EQ(OPT::CombinationSide('C', ' '), 32);
    EXPECT_EQ(OPT::CombinationSide('Z', ' '), 12);
    EXPECT_EQ(OPT::CombinationSide('Q', ' '), 50);
    EXPECT_EQ(OPT::PositionEffect('O'), 1);
    EXPECT_EQ(OPT::PositionEffect('C'), 2);
    EXPECT_EQ(OPT::PositionEffect('Z'), 12);
    EXPECT_EQ(OPT::LockPositionEffect('Z'), 1);
    EXPECT_EQ(OPT::LockPositionEffect('Y'), 2);
    EXPECT_EQ(OPT::LockPositionEffect('O'), 12);
}

}  // namespace
