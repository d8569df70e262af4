// The callback interface: an application object that overrides nothing is safe to call,
// and the operations keep their vtable slots.
#include <gtest/gtest.h>

#include <oxa_api/TraderSpi.h>

#include <vector>

#include "support/VirtualSlot.h"

using OXA::API::TraderSpi;

namespace {

// Calls every operation once through the base interface, as the library does.
void CallEveryOperation(TraderSpi& spi, bool with_records) {
    OXAErrorInfo error{};
    const uint64_t s = 0x050001;
    OXAOrderInfo order{};
    OXATradeReport trade{};
    OXAOrderCancelInfo cancel{};
    OXAPositionInfo position{};
    OXAAssetInfo asset{};
    OXAFundInfo fund{};
    OXAFundTransferNotice transfer{};
    OXAOtherServerFundInfo other_fund{};
    OXAETFInfo etf{};
    OXAETFBasketInfo basket{};
    OXAIPOInfo ipo{};
    OXAIPOQuotaInfo quota{};
    OXAOptionAuctionInfo auction{};
    OXACreditCashRepayInfo repay{};
    OXACreditCashRepaySpecifiedDebtInfo repay_debt{};
    OXACreditInfo1 c1{};
    OXACreditInfo2 c2{};
    OXACreditInfo3 c3{};
    OXACreditInfo5 c5{};
    OXACreditInfo7 c7{};
    OXACreditInfo9 c9{};
    OXACreditInfo10 c10{};
    OXAOrderExecuteInfo exec{};
    OXAOptCombOrderInfo comb_order{};
    OXAOptCombTradeReport comb_trade{};
    OXAOptCombPositionInfo comb_pos{};
    OXAOptCombStrategyInfo strategy{};
    OXACreditInfo11 c11{};
    OXAOptCombExecPositionInfo comb_exec{};
    OXACreditInfo12 c12{};
    OXACreditInfo13 c13{};
    OXACreditPledgeStkInfo pledge{};
    OXACreditTargetStkInfo target{};
    OXAIssueInfo issue{};
    OXASecurityInfo security{};
    OXACreditRequestInfo credit{};
    OXACreditInfo14 c14{};
    OXAYesterdayAssetInfo yesterday{};
    OXAHKConnectIndicativeExchangeRateInfo rate{};
    OXAHKConnectSpreadTableInfo spread{};
    OXAHoldingChangeInfo holding{};
    OXAStkDebtInfo debt{};
    // a query answer without records comes as one call with a null record
    auto r = [with_records](auto* record) { return with_records ? record : nullptr; };

    spi.OnConnected();
    spi.OnDisconnected(1);
    spi.OnReserved1();
    spi.OnOrderEvent(&order, &error, s);
    spi.OnTradeEvent(&trade, s);
    spi.OnCancelOrderEvent(&cancel, &error, s);
    spi.OnQueryOrder(r(&order), &error, 1, true, s);
    spi.OnQueryOrderByPage(r(&order), 10, 1, 2, 1, true, s);
    spi.OnQueryTrade(r(&trade), &error, 1, true, s);
    spi.OnQueryTradeByPage(r(&trade), 10, 1, 2, 1, true, s);
    spi.OnQueryPosition(r(&position), &error, 1, true, s);
    spi.OnQueryPositionByPage(r(&position), 10, 1, 2, 1, true, s);
    spi.OnQueryAsset(r(&asset), &error, 1, true, s);
    spi.OnQueryFund(r(&fund), &error, 1, s);
    spi.OnQueryFundTransfer(r(&transfer), &error, 1, true, s);
    spi.OnFundTransfer(&transfer, &error, s);
    spi.OnQueryOtherServerFund(r(&other_fund), &error, 1, s);
    spi.OnQueryETF(r(&etf), &error, 1, true, s);
    spi.OnQueryETFBasket(r(&basket), &error, 1, true, s);
    spi.OnQueryIPOInfoList(r(&ipo), &error, 1, true, s);
    spi.OnQueryIPOQuotaInfo(r(&quota), &error, 1, true, s);
    spi.OnQueryOptionAuctionInfo(r(&auction), &error, 1, true, s);
    spi.OnCreditCashRepay(&repay, &error, s);
    spi.OnCreditCashRepaySpecifiedDebt(&repay_debt, &error, s);
    spi.OnQueryCreditInfo1(r(&c1), &error, 1, true, s);
    spi.OnQueryCreditInfo2(r(&c2), &error, 1, s);
    spi.OnQueryCreditInfo3(r(&c3), &error, 1, true, s);
    spi.OnQueryCreditInfo4(r(&c3), 10, 1, 2, 1, true, s);
    spi.OnQueryCreditInfo5(r(&c5), &error, 1, true, s);
    spi.OnQueryCreditInfo6(1.5, &error, 1, s);
    spi.OnQueryCreditInfo7(r(&c7), &error, 1, true, s);
    spi.OnQueryCreditInfo8(r(&c7), 10, 1, 2, 1, true, s);
    spi.OnReserved2();
    spi.OnReserved3();
    spi.OnReserved4();
    spi.OnReserved5();
    spi.OnQueryCreditInfo9(r(&c9), &error, 1, s);
    spi.OnQueryCreditInfo10(r(&c10), &error, 1, true, s);
    spi.OnOrderExecute(&exec, &error, s);
    spi.OnOptionCombinedOrderEvent(&comb_order, &error, s);
    spi.OnOptionCombinedTradeEvent(&comb_trade, s);
    spi.OnQueryOptionCombinedOrders(r(&comb_order), &error, 1, true, s);
    spi.OnReserved6();
    spi.OnQueryOptionCombinedTrades(r(&comb_trade), &error, 1, true, s);
    spi.OnReserved7();
    spi.OnQueryOptionCombinedPosition(r(&comb_pos), &error, 1, true, s);
    spi.OnQueryOptionCombinedStrategyInfo(r(&strategy), &error, 1, true, s);
    spi.OnQueryCreditInfo11(r(&c11), &error, 1, true, s);
    spi.OnQueryOptionCombinedExecPosition(r(&comb_exec), &error, 1, true, s);
    spi.OnQueryCreditInfo12(r(&c12), &error, 1, true, s);
    spi.OnQueryCreditInfo13(r(&c13), &error, 1, true, s);
    spi.OnQueryCreditPledgeStkByPage(r(&pledge), 10, 1, 2, 1, true, s);
    spi.OnQueryCreditTargetStkByPage(r(&target), 10, 1, 2, 1, true, s);
    spi.OnQueryIssueInfoList(r(&issue), &error, 1, true, s);
    spi.OnQuerySecurityInfo(r(&security), &error, 1, true, s);
    spi.OnCreditRequest(&credit, &error, s);
    spi.OnQueryCreditInfo14(r(&c14), &error, 1, true, s);
    spi.OnQueryYesterdayAsset(r(&yesterday), &error, 1, true, s);
    spi.OnQueryETFByPage(r(&etf), 10, 1, 2, 1, true, s);
    spi.OnQuerySecurityByPage(r(&security), 10, 1, 2, 1, true, s);
    spi.OnQueryHKConnectIndicativeExchangeRateInfo(r(&rate), &error, 1, s);
    spi.OnQueryHKConnectSpreadTable(r(&spread), &error, 1, true, s);
    spi.OnHoldingChangeEvent(&holding, s);
    spi.OnQueryStkDebtByLocation(r(&debt), 10, 1, 2, 1, true, s);
}

// Overrides two operations only; the rest keep their empty defaults.
class CountingSpi : public TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* order, OXAErrorInfo*, uint64_t session_id) override {
        ++orders;
        last_session = session_id;
        last_price = order ? order->price : 0.0;
    }
    void OnQueryStkDebtByLocation(OXAStkDebtInfo*, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        ++debts;
    }
    int orders = 0;
    int debts = 0;
    uint64_t last_session = 0;
    double last_price = 0.0;
};

TEST(TraderSpi, AnObjectThatOverridesNothingIsSafeToCall) {
    TraderSpi spi;
    CallEveryOperation(spi, true);
    CallEveryOperation(spi, false);
    TraderSpi* heap = new TraderSpi;
    CallEveryOperation(*heap, true);
    delete heap;  // the destructor is virtual and public for the application's objects
}

TEST(TraderSpi, OnlyTheOverriddenOperationsRun) {
    CountingSpi spi;
    CallEveryOperation(spi, true);
    EXPECT_EQ(spi.orders, 1);
    EXPECT_EQ(spi.debts, 1);
    EXPECT_EQ(spi.last_session, 0x050001u);
    CallEveryOperation(spi, false);
    EXPECT_EQ(spi.orders, 2);
    EXPECT_EQ(spi.debts, 2);
}

TEST(TraderSpi, OperationsKeepTheirSlotOrderWithTheDestructorLast) {
    using oxa_test::VirtualSlot;
    using T = TraderSpi;
    const std::vector<std::ptrdiff_t> slots = {
        VirtualSlot(&T::OnConnected),
        VirtualSlot(&T::OnDisconnected),
        VirtualSlot(&T::OnReserved1),
        VirtualSlot(&T::OnOrderEvent),
        VirtualSlot(&T::OnTradeEvent),
        VirtualSlot(&T::OnCancelOrderEvent),
        VirtualSlot(&T::OnQueryOrder),
        VirtualSlot(&T::OnQueryOrderByPage),
        VirtualSlot(&T::OnQueryTrade),
        VirtualSlot(&T::OnQueryTradeByPage),
        VirtualSlot(&T::OnQueryPosition),
        VirtualSlot(&T::OnQueryPositionByPage),
        VirtualSlot(&T::OnQueryAsset),
        VirtualSlot(&T::OnQueryFund),
        VirtualSlot(&T::OnQueryFundTransfer),
        VirtualSlot(&T::OnFundTransfer),
        VirtualSlot(&T::OnQueryOtherServerFund),
        VirtualSlot(&T::OnQueryETF),
        VirtualSlot(&T::OnQueryETFBasket),
        VirtualSlot(&T::OnQueryIPOInfoList),
        VirtualSlot(&T::OnQueryIPOQuotaInfo),
        VirtualSlot(&T::OnQueryOptionAuctionInfo),
        VirtualSlot(&T::OnCreditCashRepay),
        VirtualSlot(&T::OnCreditCashRepaySpecifiedDebt),
        VirtualSlot(&T::OnQueryCreditInfo1),
        VirtualSlot(&T::OnQueryCreditInfo2),
        VirtualSlot(&T::OnQueryCreditInfo3),
        VirtualSlot(&T::OnQueryCreditInfo4),
        VirtualSlot(&T::OnQueryCreditInfo5),
        VirtualSlot(&T::OnQueryCreditInfo6),
        VirtualSlot(&T::OnQueryCreditInfo7),
        VirtualSlot(&T::OnQueryCreditInfo8),
        VirtualSlot(&T::OnReserved2),
        VirtualSlot(&T::OnReserved3),
        VirtualSlot(&T::OnReserved4),
        VirtualSlot(&T::OnReserved5),
        VirtualSlot(&T::OnQueryCreditInfo9),
        VirtualSlot(&T::OnQueryCreditInfo10),
        VirtualSlot(&T::OnOrderExecute),
        VirtualSlot(&T::OnOptionCombinedOrderEvent),
        VirtualSlot(&T::OnOptionCombinedTradeEvent),
        VirtualSlot(&T::OnQueryOptionCombinedOrders),
        VirtualSlot(&T::OnReserved6),
        VirtualSlot(&T::OnQueryOptionCombinedTrades),
        VirtualSlot(&T::OnReserved7),
        VirtualSlot(&T::OnQueryOptionCombinedPosition),
        VirtualSlot(&T::OnQueryOptionCombinedStrategyInfo),
        VirtualSlot(&T::OnQueryCreditInfo11),
        VirtualSlot(&T::OnQueryOptionCombinedExecPosition),
        VirtualSlot(&T::OnQueryCreditInfo12),
        VirtualSlot(&T::OnQueryCreditInfo13),
        VirtualSlot(&T::OnQueryCreditPledgeStkByPage),
        VirtualSlot(&T::OnQueryCreditTargetStkByPage),
        VirtualSlot(&T::OnQueryIssueInfoList),
        VirtualSlot(&T::OnQuerySecurityInfo),
        VirtualSlot(&T::OnCreditRequest),
        VirtualSlot(&T::OnQueryCreditInfo14),
        VirtualSlot(&T::OnQueryYesterdayAsset),
        VirtualSlot(&T::OnQueryETFByPage),
        VirtualSlot(&T::OnQuerySecurityByPage),
        VirtualSlot(&T::OnQueryHKConnectIndicativeExchangeRateInfo),
        VirtualSlot(&T::OnQueryHKConnectSpreadTable),
        VirtualSlot(&T::OnHoldingChangeEvent),
        VirtualSlot(&T::OnQueryStkDebtByLocation),
    };
    ASSERT_EQ(slots.size(), 64u);
    for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i)) << i;
}

}  // namespace
