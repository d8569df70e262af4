// An application written against the documented record layouts compiles: every named field of
// the public records, at the offset and of the width the interface documents. Kept apart from
// the header's own layout checks so a rename in the header fails here.
#include <oxa_api/OXAApiStruct.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>

namespace {

#define FIELD(T, f, off, size)                                                     \
    static_assert(offsetof(T, f) == (off), "offset of " #T "." #f);               \
    static_assert(sizeof(static_cast<T*>(nullptr)->f) == (size), "size of " #T "." #f)

FIELD(OXAErrorInfo, error_id, 0, 4);
FIELD(OXAErrorInfo, error_msg, 4, 124);

FIELD(OXAOrderInfo, order_oxa_id, 0, 8);
FIELD(OXAOrderInfo, order_client_id, 8, 4);
FIELD(OXAOrderInfo, order_cancel_client_id, 12, 4);
FIELD(OXAOrderInfo, order_cancel_oxa_id, 16, 8);
FIELD(OXAOrderInfo, ticker, 24, 16);
FIELD(OXAOrderInfo, market, 40, 4);
FIELD(OXAOrderInfo, price, 44, 8);
FIELD(OXAOrderInfo, quantity, 52, 8);
FIELD(OXAOrderInfo, price_type, 60, 4);
FIELD(OXAOrderInfo, side, 64, 1);
FIELD(OXAOrderInfo, position_effect, 65, 1);
FIELD(OXAOrderInfo, reserved1, 66, 1);
FIELD(OXAOrderInfo, client_id, 67, 1);
FIELD(OXAOrderInfo, business_type, 68, 1);
FIELD(OXAOrderInfo, reserved2, 69, 1);
FIELD(OXAOrderInfo, qty_traded, 72, 8);
FIELD(OXAOrderInfo, qty_left, 80, 8);
FIELD(OXAOrderInfo, insert_time, 88, 8);
FIELD(OXAOrderInfo, update_time, 96, 8);
FIELD(OXAOrderInfo, cancel_time, 104, 8);
FIELD(OXAOrderInfo, trade_amount, 112, 8);
FIELD(OXAOrderInfo, order_local_id, 120, 11);
FIELD(OXAOrderInfo, order_status, 131, 4);
FIELD(OXAOrderInfo, order_submit_status, 135, 4);
FIELD(OXAOrderInfo, order_type, 139, 1);

FIELD(OXATradeReport, order_oxa_id, 0, 8);
FIELD(OXATradeReport, order_client_id, 8, 4);
FIELD(OXATradeReport, ticker, 12, 16);
FIELD(OXATradeReport, market, 28, 4);
FIELD(OXATradeReport, price_type, 32, 4);
FIELD(OXATradeReport, exec_id, 40, 18);
FIELD(OXATradeReport, price, 58, 8);
FIELD(OXATradeReport, quantity, 66, 8);
FIELD(OXATradeReport, trade_time, 74, 8);
FIELD(OXATradeReport, trade_amount, 82, 8);
FIELD(OXATradeReport, report_index, 90, 8);
FIELD(OXATradeReport, order_exch_id, 98, 17);
FIELD(OXATradeReport, trade_type, 115, 1);
FIELD(OXATradeReport, side, 116, 1);
FIELD(OXATradeReport, position_effect, 117, 1);
FIELD(OXATradeReport, reserved1, 118, 1);
FIELD(OXATradeReport, client_id, 119, 1);
FIELD(OXATradeReport, business_type, 120, 1);
FIELD(OXATradeReport, reserved2, 121, 1);
FIELD(OXATradeReport, branch_pbu, 124, 7);

FIELD(OXAOrderCancelInfo, order_cancel_oxa_id, 0, 8);
FIELD(OXAOrderCancelInfo, order_oxa_id, 8, 8);

FIELD(OXAFundTransferNotice, order_oxa_id, 0, 8);
FIELD(OXAFundTransferNotice, transfer_type, 8, 4);
FIELD(OXAFundTransferNotice, amount, 12, 8);
FIELD(OXAFundTransferNotice, oper_status, 20, 4);
FIELD(OXAFundTransferNotice, transfer_time, 24, 8);

FIELD(OXAOrderExecuteInfo, order_oxa_id, 0, 8);
FIELD(OXAOrderExecuteInfo, order_client_id, 8, 4);
FIELD(OXAOrderExecuteInfo, order_cancel_client_id, 12, 4);
FIELD(OXAOrderExecuteInfo, order_cancel_oxa_id, 16, 8);
FIELD(OXAOrderExecuteInfo, ticker, 24, 32);
FIELD(OXAOrderExecuteInfo, market, 56, 4);
FIELD(OXAOrderExecuteInfo, quantity, 60, 8);
FIELD(OXAOrderExecuteInfo, reserved1, 68, 1);
FIELD(OXAOrderExecuteInfo, client_id, 69, 1);
FIELD(OXAOrderExecuteInfo, business_type, 70, 1);
FIELD(OXAOrderExecuteInfo, qty_left, 74, 8);
FIELD(OXAOrderExecuteInfo, insert_time, 82, 8);
FIELD(OXAOrderExecuteInfo, update_time, 90, 8);
FIELD(OXAOrderExecuteInfo, cancel_time, 98, 8);
FIELD(OXAOrderExecuteInfo, order_local_id, 106, 11);
FIELD(OXAOrderExecuteInfo, order_status, 117, 4);
FIELD(OXAOrderExecuteInfo, order_submit_status, 121, 4);
FIELD(OXAOrderExecuteInfo, order_type, 125, 1);

FIELD(OXAOptCombLeg, leg_security_id, 0, 16);
FIELD(OXAOptCombLeg, leg_cntr_type, 16, 4);
FIELD(OXAOptCombLeg, leg_side, 20, 4);
FIELD(OXAOptCombLeg, leg_covered, 24, 4);
FIELD(OXAOptCombLeg, leg_qty, 28, 4);

FIELD(OXAOptCombOrderInfo, order_oxa_id, 0, 8);
FIELD(OXAOptCombOrderInfo, order_client_id, 8, 4);
FIELD(OXAOptCombOrderInfo, order_cancel_client_id, 12, 4);
FIELD(OXAOptCombOrderInfo, order_cancel_oxa_id, 16, 8);
FIELD(OXAOptCombOrderInfo, market, 24, 4);
FIELD(OXAOptCombOrderInfo, quantity, 28, 8);
FIELD(OXAOptCombOrderInfo, side, 36, 1);
FIELD(OXAOptCombOrderInfo, business_type, 37, 1);
FIELD(OXAOptCombOrderInfo, qty_traded, 41, 8);
FIELD(OXAOptCombOrderInfo, qty_left, 49, 8);
FIELD(OXAOptCombOrderInfo, insert_time, 57, 8);
FIELD(OXAOptCombOrderInfo, update_time, 65, 8);
FIELD(OXAOptCombOrderInfo, cancel_time, 73, 8);
FIELD(OXAOptCombOrderInfo, trade_amount, 81, 8);
FIELD(OXAOptCombOrderInfo, order_local_id, 89, 11);
FIELD(OXAOptCombOrderInfo, order_status, 100, 4);
FIELD(OXAOptCombOrderInfo, order_submit_status, 104, 4);
FIELD(OXAOptCombOrderInfo, order_type, 108, 1);
FIELD(OXAOptCombOrderInfo, strategy_id, 109, 10);
FIELD(OXAOptCombOrderInfo, comb_num, 119, 18);
FIELD(OXAOptCombOrderInfo, num_legs, 137, 4);
FIELD(OXAOptCombOrderInfo, legs, 141, 128);

FIELD(OXAOptCombTradeReport, order_oxa_id, 0, 8);
FIELD(OXAOptCombTradeReport, order_client_id, 8, 4);
FIELD(OXAOptCombTradeReport, market, 12, 4);
FIELD(OXAOptCombTradeReport, system_id, 16, 8);
FIELD(OXAOptCombTradeReport, exec_id, 24, 18);
FIELD(OXAOptCombTradeReport, quantity, 42, 8);
FIELD(OXAOptCombTradeReport, trade_time, 50, 8);
FIELD(OXAOptCombTradeReport, trade_amount, 58, 8);
FIELD(OXAOptCombTradeReport, report_index, 66, 8);
FIELD(OXAOptCombTradeReport, order_exch_id, 74, 17);
FIELD(OXAOptCombTradeReport, trade_type, 91, 1);
FIELD(OXAOptCombTradeReport, side, 92, 1);
FIELD(OXAOptCombTradeReport, business_type, 93, 1);
FIELD(OXAOptCombTradeReport, branch_pbu, 97, 7);
FIELD(OXAOptCombTradeReport, strategy_id, 104, 10);
FIELD(OXAOptCombTradeReport, comb_num, 114, 18);
FIELD(OXAOptCombTradeReport, num_legs, 132, 4);
FIELD(OXAOptCombTradeReport, legs, 136, 128);

FIELD(OXAPositionInfo, ticker, 0, 16);
FIELD(OXAPositionInfo, ticker_name, 16, 64);
FIELD(OXAPositionInfo, market, 80, 4);
FIELD(OXAPositionInfo, total_qty, 84, 8);
FIELD(OXAPositionInfo, sellable_qty, 92, 8);
FIELD(OXAPositionInfo, avg_price, 100, 8);
FIELD(OXAPositionInfo, unrealized_pnl, 108, 8);
FIELD(OXAPositionInfo, yesterday_position, 116, 8);
FIELD(OXAPositionInfo, purchase_redeemable_qty, 124, 8);
FIELD(OXAPositionInfo, position_direction, 132, 4);
FIELD(OXAPositionInfo, executable_option, 140, 8);
FIELD(OXAPositionInfo, lockable_position, 148, 8);
FIELD(OXAPositionInfo, locked_position, 164, 8);
FIELD(OXAPositionInfo, usable_locked_position, 172, 8);

FIELD(OXAAssetInfo, total_asset, 0, 8);
FIELD(OXAAssetInfo, buying_power, 8, 8);
FIELD(OXAAssetInfo, fund_buy_amount, 24, 8);
FIELD(OXAAssetInfo, fund_buy_fee, 32, 8);
FIELD(OXAAssetInfo, fund_sell_amount, 40, 8);
FIELD(OXAAssetInfo, fund_sell_fee, 48, 8);
FIELD(OXAAssetInfo, withholding_amount, 56, 8);
FIELD(OXAAssetInfo, account_type, 64, 4);
FIELD(OXAAssetInfo, frozen_margin, 68, 8);
FIELD(OXAAssetInfo, frozen_exec_cash, 76, 8);
FIELD(OXAAssetInfo, frozen_exec_fee, 84, 8);
FIELD(OXAAssetInfo, pay_later, 92, 8);
FIELD(OXAAssetInfo, preadva_pay, 100, 8);
FIELD(OXAAssetInfo, orig_banlance, 108, 8);
FIELD(OXAAssetInfo, banlance, 116, 8);
FIELD(OXAAssetInfo, deposit_withdraw, 124, 8);
FIELD(OXAAssetInfo, trade_netting, 132, 8);
FIELD(OXAAssetInfo, captial_asset, 140, 8);
FIELD(OXAAssetInfo, force_freeze_amount, 148, 8);
FIELD(OXAAssetInfo, preferred_amount, 156, 8);
FIELD(OXAAssetInfo, fund_order_data_charges, 172, 8);
FIELD(OXAAssetInfo, fund_cancel_data_charges, 180, 8);

FIELD(OXAFundInfo, account_type, 0, 4);
FIELD(OXAFundInfo, buying_power, 4, 8);
FIELD(OXAFundInfo, withholding_amount, 12, 8);
FIELD(OXAFundInfo, frozen_margin, 44, 8);
FIELD(OXAFundInfo, frozen_exec_cash, 52, 8);
FIELD(OXAFundInfo, frozen_exec_fee, 60, 8);
FIELD(OXAFundInfo, orig_banlance, 68, 8);
FIELD(OXAFundInfo, banlance, 76, 8);
FIELD(OXAFundInfo, deposit_withdraw, 84, 8);
FIELD(OXAFundInfo, trade_netting, 92, 8);
FIELD(OXAFundInfo, captial_asset, 100, 8);
FIELD(OXAFundInfo, preferred_amount, 108, 8);

// the answer records spot and margin share
FIELD(OXAIPOInfo, market, 0, 4);
FIELD(OXAIPOInfo, ticker, 4, 16);
FIELD(OXAIPOInfo, name, 20, 64);
FIELD(OXAIPOInfo, ticker_type, 84, 4);
FIELD(OXAIssueInfo, market, 0, 4);
FIELD(OXAIssueInfo, ticker, 4, 16);
FIELD(OXAIssueInfo, name, 20, 64);
FIELD(OXAIssueInfo, ticker_type, 84, 4);
FIELD(OXASecurityInfo, ticker, 0, 16);
FIELD(OXASecurityInfo, name, 16, 64);
FIELD(OXASecurityInfo, market, 80, 4);
FIELD(OXASecurityInfo, ticker_type, 84, 4);

// request records
FIELD(OrderInsertInfo, order_oxa_id, 0, 8);
FIELD(OrderInsertInfo, order_client_id, 8, 4);
FIELD(OrderInsertInfo, ticker, 12, 16);
FIELD(OrderInsertInfo, market, 28, 4);
FIELD(OrderInsertInfo, price, 32, 8);
FIELD(OrderInsertInfo, quantity, 48, 8);
FIELD(OrderInsertInfo, price_type, 56, 4);
FIELD(OrderInsertInfo, side, 60, 1);
FIELD(OrderInsertInfo, position_effect, 61, 1);
FIELD(OrderInsertInfo, order_source, 62, 1);
FIELD(OrderInsertInfo, business_type, 64, 1);
FIELD(FundTransferInfo, serial_id, 0, 8);
FIELD(FundTransferInfo, amount, 88, 8);
FIELD(FundTransferInfo, transfer_type, 96, 4);
FIELD(OrderQueryParam, ticker, 0, 16);
FIELD(OrderQueryParam, begin_time, 16, 8);
FIELD(OrderQueryParam, end_time, 24, 8);
FIELD(TradeQueryParam, ticker, 0, 16);
FIELD(TradeQueryParam, begin_time, 16, 8);
FIELD(TradeQueryParam, end_time, 24, 8);
FIELD(PageQueryParam, req_count, 0, 8);
FIELD(PageQueryParam, reference, 8, 8);
FIELD(PageQueryParam, reserved, 16, 8);
FIELD(FundTransferQueryParam, serial_id, 0, 8);
FIELD(TickerQueryParam, ticker, 0, 16);
FIELD(TickerQueryParam, market, 16, 4);
FIELD(CashRepaySpecifiedDebtInfo, id, 0, 8);
FIELD(DebtToRepayQueryParam, req_count, 0, 8);
FIELD(DebtToRepayQueryParam, reference, 8, 8);
FIELD(CreditRequestParam, id, 0, 8);

FIELD(OXATerminalInfo, LIP, 0, 64);
FIELD(OXATerminalInfo, MAC, 64, 16);
FIELD(OXATerminalInfo, HD, 80, 24);
FIELD(OXATerminalInfo, term_type, 104, 4);
FIELD(OXATerminalInfo, IIP, 108, 64);
FIELD(OXATerminalInfo, IPORT, 172, 4);

#undef FIELD

// The names as an application uses them: a security's and an issue's name read and written
// by the documented field name.
TEST(PublicRecordNames, SharedAnswerRecordsCallTheirTextName) {
    OXASecurityInfo s{};
    std::snprintf(s.name, sizeof s.name, "%s", "Bank");
    OXAIPOInfo ipo{};
    std::snprintf(ipo.name, sizeof ipo.name, "%s", "New");
    OXAIssueInfo issue{};
    std::snprintf(issue.name, sizeof issue.name, "%s", "Issue");
    EXPECT_STREQ(reinterpret_cast<const char*>(&s) + 16, "Bank");
    EXPECT_STREQ(reinterpret_cast<const char*>(&ipo) + 20, "New");
    EXPECT_STREQ(reinterpret_cast<const char*>(&issue) + 20, "Issue");
}

}  // namespace
