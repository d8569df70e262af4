// Callback interface of the trading API. The application derives from TraderSpi and
// overrides what it needs; every operation has an empty default body.
//
// Which object is called: each line of business (spot, margin, option) has one back-end,
// created by the first Login of that business, and it calls the object that RegisterSpi had
// registered at that moment, until TraderApi::Release; registering another object later
// does not change it (the log names, at info level, the object each back-end keeps). So one
// object may serve every business, or each business its own. The library never deletes an
// object; it must stay alive until Release has returned. OnConnected and OnDisconnected go
// to the object registered last.
//
// Callbacks run on the library's threads: a connection's io thread (or the bus deliver
// thread) for answers, pushes and OnDisconnected; OnConnected on a thread of its own. A
// record passed to a callback is owned by the library and valid only during the call. S is
// the session id that Login returned, R the request id the application gave the query; the
// error argument is never null and carries error_id 0 when there is no error.
//
// From a callback the application may call every request operation (orders, cancels,
// transfers, queries: they return at once), the getters and setters, Release, and Logout,
// which there sends the logout and returns 0 at once; the session then ends when the
// gateway's answer arrives. Login waits for answers that only these threads deliver, so it
// is refused there at once with 1012 (from OnConnected, which runs on a thread of its own,
// it may wait). A callback that blocks holds up every message of its connection.
#pragma once

#include <cstdint>

#include "OXAApiStruct.h"

namespace OXA {
namespace API {

class TraderSpi {
public:
    // A gateway connection was (re)established.
    virtual void OnConnected() {}
    // A gateway connection was lost (TCP mode only).
    virtual void OnDisconnected(int /*reason*/) {}
    virtual void OnReserved1() {}

    // Pushes and order results.
    virtual void OnOrderEvent(OXAOrderInfo* /*order_info*/, OXAErrorInfo* /*error_info*/,
                              uint64_t /*session_id*/) {}
    virtual void OnTradeEvent(OXATradeReport* /*trade_info*/, uint64_t /*session_id*/) {}
    virtual void OnCancelOrderEvent(OXAOrderCancelInfo* /*cancel_info*/, OXAErrorInfo* /*error_info*/,
                                    uint64_t /*session_id*/) {}

    // Query answers: once per record, is_last true on the last one; an answer without
    // records gives one call with a null record. Paged answers carry the page counters.
    virtual void OnQueryOrder(OXAOrderInfo* /*order_info*/, OXAErrorInfo* /*error_info*/, int /*request_id*/,
                              bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryOrderByPage(OXAOrderInfo* /*order_info*/, int64_t /*req_count*/, int64_t /*index*/,
                                    int64_t /*reference*/, int /*request_id*/, bool /*is_last*/,
                                    uint64_t /*session_id*/) {}
    virtual void OnQueryTrade(OXATradeReport* /*trade_info*/, OXAErrorInfo* /*error_info*/,
                              int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryTradeByPage(OXATradeReport* /*trade_info*/, int64_t /*req_count*/, int64_t /*index*/,
                                    int64_t /*reference*/, int /*request_id*/, bool /*is_last*/,
                                    uint64_t /*session_id*/) {}
    virtual void OnQueryPosition(OXAPositionInfo* /*position*/, OXAErrorInfo* /*error_info*/,
                                 int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryPositionByPage(OXAPositionInfo* /*position*/, int64_t /*req_count*/,
                                       int64_t /*index*/, int64_t /*reference*/, int /*request_id*/,
                                       bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryAsset(OXAAssetInfo* /*asset*/, OXAErrorInfo* /*error_info*/, int /*request_id*/,
                              bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryFund(OXAFundInfo* /*fund_info*/, OXAErrorInfo* /*error_info*/, int /*request_id*/,
                             uint64_t /*session_id*/) {}
    virtual void OnQueryFundTransfer(OXAFundTransferNotice* /*fund_transfer_info*/,
                                     OXAErrorInfo* /*error_info*/, int /*request_id*/, bool /*is_last*/,
                                     uint64_t /*session_id*/) {}
    virtual void OnFundTransfer(OXAFundTransferNotice* /*fund_transfer_info*/, OXAErrorInfo* /*error_info*/,
                                uint64_t /*session_id*/) {}
    virtual void OnQueryOtherServerFund(OXAOtherServerFundInfo* /*fund_info*/, OXAErrorInfo* /*error_info*/,
                                        int /*request_id*/, uint64_t /*session_id*/) {}
    virtual void OnQueryETF(OXAETFInfo* /*etf_info*/, OXAErrorInfo* /*error_info*/, int /*request_id*/,
                            bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryETFBasket(OXAETFBasketInfo* /*etf_component_info*/, OXAErrorInfo* /*error_info*/,
                                  int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryIPOInfoList(OXAIPOInfo* /*ipo_info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryIPOQuotaInfo(OXAIPOQuotaInfo* /*quota_info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryOptionAuctionInfo(OXAOptionAuctionInfo* /*option_info*/, OXAErrorInfo* /*error_info*/,
                                          int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnCreditCashRepay(OXACreditCashRepayInfo* /*cash_repay_info*/, OXAErrorInfo* /*error_info*/,
                                   uint64_t /*session_id*/) {}
    virtual void OnCreditCashRepaySpecifiedDebt(OXACreditCashRepaySpecifiedDebtInfo* /*cash_repay_info*/,
                                                OXAErrorInfo* /*error_info*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo1(OXACreditInfo1* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo2(OXACreditInfo2* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo3(OXACreditInfo3* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo4(OXACreditInfo3* /*info*/, int64_t /*req_count*/, int64_t /*index*/,
                                    int64_t /*reference*/, int /*request_id*/, bool /*is_last*/,
                                    uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo5(OXACreditInfo5* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    // The answer's 8-byte record is one number, handed over by value.
    virtual void OnQueryCreditInfo6(double /*value*/, OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                    uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo7(OXACreditInfo7* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo8(OXACreditInfo7* /*info*/, int64_t /*req_count*/, int64_t /*index*/,
                                    int64_t /*reference*/, int /*request_id*/, bool /*is_last*/,
                                    uint64_t /*session_id*/) {}
    virtual void OnReserved2() {}
    virtual void OnReserved3() {}
    virtual void OnReserved4() {}
    virtual void OnReserved5() {}
    virtual void OnQueryCreditInfo9(OXACreditInfo9* /*info*/, OXAErrorInfo* /*error_info*/,
                                    int /*request_id*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo10(OXACreditInfo10* /*info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}

    // Options.
    virtual void OnOrderExecute(OXAOrderExecuteInfo* /*execute_info*/, OXAErrorInfo* /*error_info*/,
                                uint64_t /*session_id*/) {}
    virtual void OnOptionCombinedOrderEvent(OXAOptCombOrderInfo* /*order_info*/, OXAErrorInfo* /*error_info*/,
                                            uint64_t /*session_id*/) {}
    virtual void OnOptionCombinedTradeEvent(OXAOptCombTradeReport* /*trade_info*/, uint64_t /*session_id*/) {}
    virtual void OnQueryOptionCombinedOrders(OXAOptCombOrderInfo* /*order_info*/,
                                             OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                             bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnReserved6() {}
    virtual void OnQueryOptionCombinedTrades(OXAOptCombTradeReport* /*trade_info*/,
                                             OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                             bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnReserved7() {}
    virtual void OnQueryOptionCombinedPosition(OXAOptCombPositionInfo* /*position_info*/,
                                               OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                               bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryOptionCombinedStrategyInfo(OXAOptCombStrategyInfo* /*strategy_info*/,
                                                   OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                                   bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo11(OXACreditInfo11* /*info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryOptionCombinedExecPosition(OXAOptCombExecPositionInfo* /*position_info*/,
                                                   OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                                   bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo12(OXACreditInfo12* /*info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo13(OXACreditInfo13* /*info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditPledgeStkByPage(OXACreditPledgeStkInfo* /*info*/, int64_t /*req_count*/,
                                              int64_t /*index*/, int64_t /*reference*/, int /*request_id*/,
                                              bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryCreditTargetStkByPage(OXACreditTargetStkInfo* /*info*/, int64_t /*req_count*/,
                                              int64_t /*index*/, int64_t /*reference*/, int /*request_id*/,
                                              bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryIssueInfoList(OXAIssueInfo* /*issue_info*/, OXAErrorInfo* /*error_info*/,
                                      int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQuerySecurityInfo(OXASecurityInfo* /*security_info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnCreditRequest(OXACreditRequestInfo* /*request_info*/, OXAErrorInfo* /*error_info*/,
                                 uint64_t /*session_id*/) {}
    virtual void OnQueryCreditInfo14(OXACreditInfo14* /*info*/, OXAErrorInfo* /*error_info*/,
                                     int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryYesterdayAsset(OXAYesterdayAssetInfo* /*asset*/, OXAErrorInfo* /*error_info*/,
                                       int /*request_id*/, bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryETFByPage(OXAETFInfo* /*etf_info*/, int64_t /*req_count*/, int64_t /*index*/,
                                  int64_t /*reference*/, int /*request_id*/, bool /*is_last*/,
                                  uint64_t /*session_id*/) {}
    virtual void OnQuerySecurityByPage(OXASecurityInfo* /*security_info*/, int64_t /*req_count*/,
                                       int64_t /*index*/, int64_t /*reference*/, int /*request_id*/,
                                       bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnQueryHKConnectIndicativeExchangeRateInfo(
        OXAHKConnectIndicativeExchangeRateInfo* /*rate_info*/, OXAErrorInfo* /*error_info*/,
        int /*request_id*/, uint64_t /*session_id*/) {}
    virtual void OnQueryHKConnectSpreadTable(OXAHKConnectSpreadTableInfo* /*spread_info*/,
                                             OXAErrorInfo* /*error_info*/, int /*request_id*/,
                                             bool /*is_last*/, uint64_t /*session_id*/) {}
    virtual void OnHoldingChangeEvent(OXAHoldingChangeInfo* /*holding_info*/, uint64_t /*session_id*/) {}
    virtual void OnQueryStkDebtByLocation(OXAStkDebtInfo* /*debt_info*/, int64_t /*req_count*/,
                                          int64_t /*index*/, int64_t /*reference*/, int /*request_id*/,
                                          bool /*is_last*/, uint64_t /*session_id*/) {}

    // After the last operation, so the operations keep their slots.
    virtual ~TraderSpi() = default;
};

}  // namespace API
}  // namespace OXA
