// The spot query server's own layouts: the query requests it reads, the three answer heads and
// the records it answers with. Offsets are the gateway's, written down here apart from the
// library's structs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway_sim/SimWire.h"

namespace oxa_sim {

// Query requests and their answers.
constexpr std::uint32_t kMsgQryOrders = 0x11b;
constexpr std::uint32_t kMsgQryTrades = 0x11c;
constexpr std::uint32_t kMsgQryPosition = 0x114;
constexpr std::uint32_t kMsgQryFund = 0x115;
constexpr std::uint32_t kMsgQryIpoQuota = 0x116;
constexpr std::uint32_t kMsgQrySecurity = 0x118;
constexpr std::uint32_t kMsgQryFundTransfer = 0x11d;
constexpr std::uint32_t kMsgQryAsset = 0x1a5;
constexpr std::uint32_t kMsgQryIssue = 0x1a7;
constexpr std::uint32_t kMsgQryPositionPage = 0x1a8;
constexpr std::uint32_t kMsgQryOrdersPage = 0x1a9;
constexpr std::uint32_t kMsgQryTradesPage = 0x1aa;
constexpr std::uint32_t kMsgQryEtf = 0x1b1;
constexpr std::uint32_t kMsgQryOtherFund = 0x1b2;
constexpr std::uint32_t kMsgQryEtfPage = 0x20012;
constexpr std::uint32_t kMsgQrySecurityPage = 0x20014;
constexpr std::uint32_t kMsgQryHkRate = 0x20024;
constexpr std::uint32_t kMsgQryEtfBasket = 0x20026;
constexpr std::uint32_t kMsgQryHkSpread = 0x20028;
constexpr std::uint32_t kMsgQryIpoList = 0x20030;

constexpr std::uint32_t kMsgAnsPosition = 0x128;
constexpr std::uint32_t kMsgAnsFund = 0x129;
constexpr std::uint32_t kMsgAnsIpoQuota = 0x12a;
constexpr std::uint32_t kMsgAnsSecurity = 0x12c;
constexpr std::uint32_t kMsgAnsOrders = 0x132;
constexpr std::uint32_t kMsgAnsTrades = 0x133;
constexpr std::uint32_t kMsgAnsFundTransfer = 0x134;
constexpr std::uint32_t kMsgAnsAsset = 0x136;
constexpr std::uint32_t kMsgAnsIssue = 0x138;
constexpr std::uint32_t kMsgAnsPositionPage = 0x139;
constexpr std::uint32_t kMsgAnsOrdersPage = 0x13a;
constexpr std::uint32_t kMsgAnsTradesPage = 0x13b;
constexpr std::uint32_t kMsgAnsEtf = 0x141;
constexpr std::uint32_t kMsgAnsOtherFund = 0x142;
constexpr std::uint32_t kMsgAnsEtfPage = 0x20013;
constexpr std::uint32_t kMsgAnsSecurityPage = 0x20015;
constexpr std::uint32_t kMsgAnsHkRate = 0x20025;
constexpr std::uint32_t kMsgAnsEtfBasket = 0x20027;
constexpr std::uint32_t kMsgAnsHkSpread = 0x20029;
constexpr std::uint32_t kMsgAnsIpoList = 0x20031;

// ---- requests ---------------------------------------------------------------------------

// The head of the classic requests (some send only its first 12 or 20 bytes).
namespace qry_head {
inline constexpr std::size_t kLength = 24;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kRequestId{"request_id", 4, 8};
inline constexpr WireField kFundAccount{"fund_account", 12, 8};
inline constexpr WireField kFundIndex{"fund_index", 20, 4};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kFundAccount, kFundIndex};
}  // namespace qry_head

namespace qry_orders {
inline constexpr std::size_t kLength = 51;
inline constexpr WireField kSequence{"sequence", 24, 4};  // 0: every order
inline constexpr WireField kTicker{"ticker", 36, 8};      // empty: every ticker
inline constexpr WireField kScope{"scope", 46, 1};        // '0' open orders only, '2' all
inline constexpr WireField kClientId{"client_id", 47, 4}; // -1: every client
inline constexpr WireField kFields[] = {kSequence, kTicker, kScope, kClientId};
}  // namespace qry_orders

namespace qry_trades {
inline constexpr std::size_t kLength = 50;
inline constexpr WireField kSequence{"sequence", 24, 4};
inline constexpr WireField kTicker{"ticker", 36, 8};
inline constexpr WireField kClientId{"client_id", 46, 4};
inline constexpr WireField kFields[] = {kSequence, kTicker, kClientId};
}  // namespace qry_trades

// The whole request of the three classic by-page queries.
namespace qry_page {
inline constexpr std::size_t kLength = 44;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kRequestId{"request_id", 4, 8};
inline constexpr WireField kReqCount{"req_count", 12, 8};
inline constexpr WireField kReference{"reference", 20, 8};  // records already had
inline constexpr WireField kReserved{"reserved", 28, 8};
inline constexpr WireField kFundAccount{"fund_account", 36, 8};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kReqCount, kReference, kReserved, kFundAccount};
}  // namespace qry_page

namespace qry_position {
inline constexpr std::size_t kLength = 34;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kRequestId{"request_id", 4, 8};
inline constexpr WireField kFundAccount{"fund_account", 12, 8};
inline constexpr WireField kMarket{"market", 20, 1};
inline constexpr WireField kTicker{"ticker", 21, 8};
inline constexpr WireField kFundIndex{"fund_index", 29, 4};
inline constexpr WireField kMarker{"marker", 33, 1};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kFundAccount, kMarket, kTicker, kFundIndex, kMarker};
}  // namespace qry_position

namespace qry_asset {
inline constexpr std::size_t kLength = 29;
inline constexpr WireField kWhich{"which", 28, 1};  // '2' today's, '1' yesterday's
inline constexpr WireField kFields[] = {kWhich};
}  // namespace qry_asset

namespace qry_fund_transfer {
inline constexpr std::size_t kLength = 37;
inline constexpr WireField kSequence{"sequence", 24, 4};  // 0: every transfer
inline constexpr WireField kClientId{"client_id", 33, 4};
inline constexpr WireField kFields[] = {kSequence, kClientId};
}  // namespace qry_fund_transfer

// ETF base information and security information: a 12-byte head, the ticker and the market.
namespace qry_ticker {
inline constexpr std::size_t kLength = 21;
inline constexpr WireField kTicker{"ticker", 12, 8};
inline constexpr WireField kMarket{"market", 20, 1};
inline constexpr WireField kFields[] = {kTicker, kMarket};
}  // namespace qry_ticker

// The head of the requests from 0x20000 and the paging fields that follow it.
namespace qry_ext {
inline constexpr std::size_t kHeadLength = 32;
inline constexpr std::size_t kPagedLength = 57;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestNo{"request_no", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kCount{"count", 32, 4};
inline constexpr WireField kStart{"start", 36, 4};
inline constexpr WireField kMarker{"marker", 40, 1};
inline constexpr WireField kBasketEtf{"basket_etf", 48, 8};
inline constexpr WireField kBasketMarket{"basket_market", 56, 1};
inline constexpr WireField kSpreadType{"spread_type", 32, 1};
inline constexpr WireField kFields[] = {kSessionNo, kRequestNo, kFundAccount, kClientId, kCount,
                                        kStart,     kMarker,    kBasketEtf,   kBasketMarket};
}  // namespace qry_ext

// ---- answer heads -----------------------------------------------------------------------

namespace ans_classic {
inline constexpr std::size_t kLength = 17;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kRequestId{"request_id", 4, 8};
inline constexpr WireField kLast{"is_last", 12, 1};
inline constexpr WireField kError{"error", 13, 2};
inline constexpr WireField kCount{"count", 15, 2};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kLast, kError, kCount};
}  // namespace ans_classic

namespace ans_page {
inline constexpr std::size_t kLength = 33;
inline constexpr WireField kSessionNo{"session_no", 0, 4};
inline constexpr WireField kRequestId{"request_id", 4, 8};
inline constexpr WireField kIndex{"index", 12, 4};  // 1-based within the query; 0: no record
inline constexpr WireField kReqCount{"req_count", 16, 4};
inline constexpr WireField kReference{"reference", 20, 8};
inline constexpr WireField kLast{"is_last", 28, 1};
inline constexpr WireField kFields[] = {kSessionNo, kRequestId, kIndex, kReqCount, kReference, kLast};
}  // namespace ans_page

namespace ans_ext {
inline constexpr std::size_t kLength = 56;
inline constexpr WireField kSessionNo{"session_no", 0, 8};
inline constexpr WireField kRequestNo{"request_no", 8, 8};
inline constexpr WireField kFundAccount{"fund_account", 16, 8};
inline constexpr WireField kClientId{"client_id", 24, 1};
inline constexpr WireField kError{"error", 28, 4};
inline constexpr WireField kPageSize{"page_size", 32, 4};
inline constexpr WireField kCount{"count", 36, 4};
inline constexpr WireField kStride{"stride", 40, 4};
inline constexpr WireField kFields[] = {kSessionNo, kRequestNo, kFundAccount, kClientId,
                                        kError,     kPageSize,  kCount,       kStride};
// Each record: its position in the whole list, then the body.
inline constexpr WireField kPosition{"position", 0, 4};
inline constexpr std::size_t kBodyAt = 4;
}  // namespace ans_ext

// The exchange-rate answer: the first 32 bytes of the extended head, then four rates.
namespace ans_hk_rate {
inline constexpr std::size_t kLength = 64;
inline constexpr WireField kRates[] = {{"rate_0", 32, 8}, {"rate_1", 40, 8}, {"rate_2", 48, 8}, {"rate_3", 56, 8}};
inline constexpr WireField kFields[] = {ans_ext::kSessionNo, ans_ext::kRequestNo, ans_ext::kFundAccount,
                                        ans_ext::kClientId,  ans_ext::kError,     kRates[0],
                                        kRates[1],           kRates[2],           kRates[3]};
}  // namespace ans_hk_rate

// The spread-table answer: 32 bytes of head, the ticker type, the count, then the records.
namespace ans_hk_spread {
inline constexpr std::size_t kHeadLength = 37;
inline constexpr WireField kTickerType{"ticker_type", 32, 1};
inline constexpr WireField kCount{"count", 33, 4};
inline constexpr WireField kFields[] = {ans_ext::kSessionNo, ans_ext::kRequestNo, ans_ext::kFundAccount,
                                        ans_ext::kClientId,  ans_ext::kError,     kTickerType,
                                        kCount};
}  // namespace ans_hk_spread

// ---- answer records ---------------------------------------------------------------------

namespace rec_position {
inline constexpr std::size_t kLength = 78;
inline constexpr WireField kTicker{"ticker", 8, 8};
inline constexpr WireField kYesterday{"yesterday", 16, 8};
inline constexpr WireField kTotal{"total", 32, 8};
inline constexpr WireField kSellable{"sellable", 40, 8};
inline constexpr WireField kRedeemable{"redeemable", 48, 8};
inline constexpr WireField kRedeemableAlt{"redeemable_alt", 56, 8};
inline constexpr WireField kAvgPrice{"avg_price", 64, 8};
inline constexpr WireField kMarket{"market", 77, 1};
inline constexpr WireField kFields[] = {kTicker, kYesterday, kTotal, kSellable, kRedeemable, kRedeemableAlt,
                                        kAvgPrice, kMarket};
}  // namespace rec_position

// Today's asset; yesterday's uses the same record with a negative marker in kAvailable.
namespace rec_asset {
inline constexpr std::size_t kLength = 101;
inline constexpr WireField kYesterdayBalance{"yesterday_balance", 8, 8};
inline constexpr WireField kAvailable{"available", 16, 8};
inline constexpr WireField kBalance{"balance", 29, 8};
inline constexpr WireField kTotal{"total", 37, 8};
inline constexpr WireField kFrozen{"frozen", 45, 8};
inline constexpr WireField kMarketValue{"market_value", 85, 8};
inline constexpr WireField kFundValue{"fund_value", 93, 8};
inline constexpr WireField kFields[] = {kYesterdayBalance, kAvailable, kBalance, kTotal, kFrozen,
                                        kMarketValue,      kFundValue};
}  // namespace rec_asset

namespace rec_fund {
inline constexpr std::size_t kLength = 69;
inline constexpr WireField kAvailable{"available", 16, 8};
inline constexpr WireField kFrozen{"frozen", 45, 8};
inline constexpr WireField kFetchable{"fetchable", 53, 8};
inline constexpr WireField kInitial{"initial", 61, 8};
inline constexpr WireField kFields[] = {kAvailable, kFrozen, kFetchable, kInitial};
}  // namespace rec_fund

// The first 83 bytes of the fund-transfer push.
namespace rec_fund_transfer {
inline constexpr std::size_t kLength = 83;
}  // namespace rec_fund_transfer

namespace rec_other_fund {
inline constexpr std::size_t kLength = 69;
inline constexpr WireField kAmount{"amount", 16, 8};
inline constexpr WireField kFields[] = {kAmount};
}  // namespace rec_other_fund

namespace rec_etf {
inline constexpr std::size_t kLength = 100;
inline constexpr WireField kFundCode{"fund_code", 0, 8};
inline constexpr WireField kTicker{"ticker", 8, 8};
inline constexpr WireField kMarket{"market", 16, 1};
inline constexpr WireField kUnit{"unit", 17, 4};
inline constexpr WireField kSubscribeFlag{"subscribe_flag", 45, 1};
inline constexpr WireField kRedeemFlag{"redeem_flag", 46, 1};
inline constexpr WireField kCashComponent{"cash_component", 55, 8};
inline constexpr WireField kNav{"nav", 63, 8};
inline constexpr WireField kNavPerUnit{"nav_per_unit", 71, 8};
inline constexpr WireField kEstimatedCash{"estimated_cash", 79, 8};
inline constexpr WireField kMaxCashRatio{"max_cash_ratio", 87, 8};
inline constexpr WireField kFlags{"flags", 95, 5};
inline constexpr WireField kFields[] = {kFundCode, kTicker,    kMarket,        kUnit,         kSubscribeFlag,
                                        kRedeemFlag, kCashComponent, kNav, kNavPerUnit, kEstimatedCash,
                                        kMaxCashRatio, kFlags};
}  // namespace rec_etf

namespace rec_basket {
inline constexpr std::size_t kLength = 55;
inline constexpr WireField kEtf{"etf", 0, 8};
inline constexpr WireField kEtfMarket{"etf_market", 8, 1};
inline constexpr WireField kComponent{"component", 9, 8};
inline constexpr WireField kComponentMarket{"component_market", 17, 1};
inline constexpr WireField kQuantity{"quantity", 18, 4};
inline constexpr WireField kReplaceFlag{"replace_flag", 22, 1};
inline constexpr WireField kPremium{"premium", 23, 8};
inline constexpr WireField kDiscount{"discount", 31, 8};
inline constexpr WireField kAmount{"amount", 39, 8};
inline constexpr WireField kRedeemAmount{"redeem_amount", 47, 8};
inline constexpr WireField kFields[] = {kEtf,         kEtfMarket, kComponent, kComponentMarket, kQuantity,
                                        kReplaceFlag, kPremium,   kDiscount,  kAmount,          kRedeemAmount};
}  // namespace rec_basket

namespace rec_ipo {
inline constexpr std::size_t kLength = 116;
inline constexpr std::size_t kStride = 120;  // records sit this far apart in the answer
inline constexpr WireField kTicker{"ticker", 0, 8};
inline constexpr WireField kMarket{"market", 8, 1};
inline constexpr WireField kType{"type", 9, 2};
inline constexpr WireField kPrice{"price", 12, 8};
inline constexpr WireField kUnit{"unit", 20, 4};
inline constexpr WireField kName{"name", 28, 64};
inline constexpr WireField kMinQty{"min_qty", 92, 8};
inline constexpr WireField kMaxQty{"max_qty", 100, 8};
inline constexpr WireField kDate{"date", 108, 4};
inline constexpr WireField kFields[] = {kTicker, kMarket, kType, kPrice, kUnit, kName, kMinQty, kMaxQty, kDate};
}  // namespace rec_ipo

namespace rec_ipo_quota {
inline constexpr std::size_t kLength = 43;
inline constexpr WireField kMarket{"market", 12, 1};
inline constexpr WireField kQuota{"quota", 27, 8};
inline constexpr WireField kTechQuota{"tech_quota", 35, 8};
inline constexpr WireField kFields[] = {kMarket, kQuota, kTechQuota};
}  // namespace rec_ipo_quota

namespace rec_issue {
inline constexpr std::size_t kLength = 36;
inline constexpr WireField kTicker{"ticker", 0, 8};
inline constexpr WireField kMarket{"market", 8, 1};
inline constexpr WireField kType{"type", 9, 2};
inline constexpr WireField kPrice{"price", 12, 8};
inline constexpr WireField kMaxQty{"max_qty", 28, 8};
inline constexpr WireField kFields[] = {kTicker, kMarket, kType, kPrice, kMaxQty};
}  // namespace rec_issue

namespace rec_security {
inline constexpr std::size_t kLength = 119;
inline constexpr WireField kTicker{"ticker", 0, 8};
inline constexpr WireField kMarket{"market", 9, 1};
inline constexpr WireField kType{"type", 10, 2};
inline constexpr WireField kSuspended{"suspended", 14, 1};
inline constexpr WireField kPreClose{"pre_close", 15, 8};
inline constexpr WireField kUpperLimit{"upper_limit", 23, 8};
inline constexpr WireField kLowerLimit{"lower_limit", 31, 8};
inline constexpr WireField kLotSize{"lot_size", 39, 8};
inline constexpr WireField kTickSize{"tick_size", 47, 8};
inline constexpr WireField kName{"name", 55, 64};
inline constexpr WireField kFields[] = {kTicker,    kMarket,  kType,     kSuspended, kPreClose,
                                        kUpperLimit, kLowerLimit, kLotSize, kTickSize, kName};
}  // namespace rec_security

namespace rec_spread {
inline constexpr std::size_t kLength = 24;
inline constexpr WireField kFrom{"from", 0, 8};
inline constexpr WireField kTo{"to", 8, 8};
inline constexpr WireField kTick{"tick", 16, 8};
inline constexpr WireField kFields[] = {kFrom, kTo, kTick};
}  // namespace rec_spread

}  // namespace oxa_sim
