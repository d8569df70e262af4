// Public records of the trading API.
//
// Every record is byte-packed: no padding, little-endian host integers, texts
// NUL-terminated within their field. Many doubles and 64-bit fields sit at unaligned
// offsets: read and write them by value (`x = rec.price;`, `rec.price = x;`), never bind
// a reference or a pointer to them. Every layout is checked at compile time below.
//
// Fields named field_<offset> carry a value whose meaning the server alone knows; the
// library passes them through. Fields named pad_<offset> are zero.
#pragma once

#include <cstddef>
#include <cstdint>

// Level of the library's log file: 0 critical, 1 error, 2 warning, 3 info, 4 debug;
// any other value selects trace (the underlying type is int, so any int is a valid value).
enum OXA_LOG_LEVEL : int {
    OXA_LOG_LEVEL_CRITICAL = 0,
    OXA_LOG_LEVEL_ERROR = 1,
    OXA_LOG_LEVEL_WARNING = 2,
    OXA_LOG_LEVEL_INFO = 3,
    OXA_LOG_LEVEL_DEBUG = 4,
    OXA_LOG_LEVEL_TRACE = 5,
};

// Values of the enumerated record fields. The records hold them as plain integers of the
// width their layout gives; these enumerations name the numbers. The comments give the spot
// wire code of each value and what the library's conversions make of it; a received code the
// library does not know becomes the value marked "unknown" (the record is still delivered).

// business_type
enum BusinessType {
    OXA_BUSINESS_TYPE_CASH = 0,               // spot wire '1'
    OXA_BUSINESS_TYPE_1 = 1,                  // spot wire '3'
    OXA_BUSINESS_TYPE_2 = 2,                  // spot wire '2'; a trade's amount is quantity x 100
    OXA_BUSINESS_TYPE_3 = 3,                  // spot wire '4'; its sides are 7 and 8
    OXA_BUSINESS_TYPE_6 = 6,                  // spot wire 'C'
    OXA_BUSINESS_TYPE_OPTION = 10,            // option order
    OXA_BUSINESS_TYPE_EXECUTE = 11,           // exercise
    OXA_BUSINESS_TYPE_OPTION_LOCK = 12,       // lock or unlock of the underlying
    OXA_BUSINESS_TYPE_OPTION_COMBINE = 13,    // combination
    OXA_BUSINESS_TYPE_14 = 14,                // spot wire 'B'
    OXA_BUSINESS_TYPE_EXECUTE_COMBINE = 15,   // combined exercise
    OXA_BUSINESS_TYPE_16 = 16,                // spot wire '5'
    // a received spot code the library does not know: 255 in the uint8 field
};

// market (requests 1 to 5; answers 1 to 5 and 99)
enum MARKET_TYPE {
    OXA_MKT_1 = 1,         // wire '1'
    OXA_MKT_2 = 2,         // wire '2'
    OXA_MKT_3 = 3,         // wire '3' (the IPO list answer reads its '3' as 5)
    OXA_MKT_4 = 4,         // wire '4'
    OXA_MKT_5 = 5,         // wire '5'; also the IPO list answer's '3'
    OXA_MKT_UNKNOWN = 99,  // unknown received code (byte 0 included)
};
typedef MARKET_TYPE MarketType;

enum ExchangeType {
    OXA_EXCHANGE_1 = 1,          // wire '2'
    OXA_EXCHANGE_2 = 2,          // wire '1'
    OXA_EXCHANGE_3 = 3,          // wire '3'
    OXA_EXCHANGE_UNKNOWN = 100,  // unknown received code
};

// order_status. Each value fixes the record's order_submit_status, qty_traded and qty_left.
enum OrderStatusType {
    OXA_ORDER_STATUS_0 = 0,        // wire '0' or '1'; submit status 1, nothing traded, all left
    OXA_ORDER_STATUS_1 = 1,        // wire '5'; submit status 2, all traded, nothing left: filled
    OXA_ORDER_STATUS_2 = 2,        // wire '3'; submit status 2, partly traded (a query answer
                                   // gives traded and left; a push gives 0 and 0)
    OXA_ORDER_STATUS_3 = 3,        // wire '4'; submit status 6, traded = quantity - leaves, left =
                                   // leaves: ended with its leaves withdrawn, like 5
    OXA_ORDER_STATUS_4 = 4,        // wire '2'; submit status 2, nothing traded, all left: working
    OXA_ORDER_STATUS_5 = 5,        // wire '6'; submit status 6, traded = quantity - leaves, left =
                                   // leaves: a cancelled order reports this
    OXA_ORDER_STATUS_6 = 6,        // wire '7'; submit status 3, nothing traded, all left: refused
    OXA_ORDER_STATUS_UNKNOWN = 7,  // unknown received code; submit status 0, traded and left 0
};

// side: 1, 2, 7, 8 spot; 1, 2, 11, 12, 31, 32, 33 option
enum SIDE_TYPE {
    OXA_SIDE_BUY = 1,       // spot wire '1'
    OXA_SIDE_SELL = 2,      // spot wire '2'
    OXA_SIDE_7 = 7,         // spot wire '1' with business type 3
    OXA_SIDE_8 = 8,         // spot wire '2' with business type 3
    OXA_SIDE_11 = 11,       // option
    OXA_SIDE_12 = 12,       // option
    OXA_SIDE_31 = 31,       // option
    OXA_SIDE_32 = 32,       // option
    OXA_SIDE_33 = 33,       // option
    OXA_SIDE_UNKNOWN = 50,  // unknown received code (byte 0 included)
};

// price_type
enum Ord_Type {
    OXA_PRICE_TYPE_1 = 1,         // wire '2'
    OXA_PRICE_TYPE_2 = 2,         // wire '6'
    OXA_PRICE_TYPE_3 = 3,         // wire '4'
    OXA_PRICE_TYPE_4 = 4,         // wire '1'
    OXA_PRICE_TYPE_5 = 5,         // wire '7'
    OXA_PRICE_TYPE_6 = 6,         // wire '3'
    OXA_PRICE_TYPE_7 = 7,         // wire '5'
    OXA_PRICE_TYPE_8 = 8,         // wire '8'
    OXA_PRICE_TYPE_9 = 9,         // wire '9'
    OXA_PRICE_TYPE_10 = 10,       // wire 'A'
    OXA_PRICE_TYPE_UNKNOWN = 11,  // unknown received code; also lock orders
};

// ticker type; received as two codes (plate, type)
enum TICKER_TYPE {
    OXA_TICKER_TYPE_0 = 0,        // type '1' (sent as '1')
    OXA_TICKER_TYPE_2 = 2,        // type '3' (sent as '3')
    OXA_TICKER_TYPE_3 = 3,        // type '2' (sent as '2')
    OXA_TICKER_TYPE_4 = 4,        // type '4' (sent as '4')
    OXA_TICKER_TYPE_5 = 5,        // plate '1' whatever the type (sent as '1')
    OXA_TICKER_TYPE_6 = 6,        // sent as '2'; never received
    OXA_TICKER_TYPE_UNKNOWN = 8,  // unknown received codes
};

// transfer_type
enum FundTransferType {
    OXA_FUND_TRANSFER_0 = 0,        // wire '2'
    OXA_FUND_TRANSFER_1 = 1,        // wire '1'
    OXA_FUND_TRANSFER_2 = 2,        // wire '6'
    OXA_FUND_TRANSFER_3 = 3,        // wire '5'
    OXA_FUND_TRANSFER_UNKNOWN = 4,  // unknown received code
};

#pragma pack(push, 1)

// ---------------------------------------------------------------------------------------
// Error record: the API's last error and every error argument of a callback.

struct OXAErrorInfo {
    int32_t error_id;  // 0 = no error
    char error_msg[124];
};

// ---------------------------------------------------------------------------------------
// Records delivered by callbacks. Time values are YYYYMMDDHHMMSSmmm.

struct OXAOrderInfo {
    uint64_t order_oxa_id;
    uint32_t order_client_id;
    uint32_t order_cancel_client_id;
    uint64_t order_cancel_oxa_id;
    char ticker[16];
    int32_t market;  // MARKET_TYPE
    double price;
    int64_t quantity;
    int32_t price_type;  // Ord_Type
    uint8_t side;        // SIDE_TYPE
    uint8_t position_effect;
    uint8_t reserved1;
    uint8_t client_id;
    uint8_t business_type;  // BusinessType
    uint8_t reserved2;
    uint8_t pad_70[2];
    int64_t qty_traded;
    int64_t qty_left;
    int64_t insert_time;
    int64_t update_time;
    int64_t cancel_time;
    double trade_amount;
    char order_local_id[11];
    int32_t order_status;  // OrderStatusType
    int32_t order_submit_status;
    char order_type;
};

struct OXATradeReport {
    uint64_t order_oxa_id;
    uint32_t order_client_id;
    char ticker[16];
    int32_t market;
    int32_t price_type;
    uint8_t pad_36[4];
    char exec_id[18];
    double price;
    int64_t quantity;
    int64_t trade_time;
    double trade_amount;
    uint64_t report_index;
    char order_exch_id[17];
    char trade_type;
    uint8_t side;
    uint8_t position_effect;
    uint8_t reserved1;
    uint8_t client_id;
    uint8_t business_type;
    uint8_t reserved2;
    uint8_t pad_122[2];
    char branch_pbu[7];
};

struct OXAOrderCancelInfo {
    uint64_t order_cancel_oxa_id;
    uint64_t order_oxa_id;  // the order that was to be cancelled
};

struct OXAFundTransferNotice {
    uint64_t order_oxa_id;  // the id FundTransfer returned
    int32_t transfer_type;  // FundTransferType
    double amount;
    int32_t oper_status;
    uint64_t transfer_time;
};

// Answer to InsertExecuteOrder.
struct OXAOrderExecuteInfo {
    uint64_t order_oxa_id;
    uint32_t order_client_id;
    uint32_t order_cancel_client_id;
    uint64_t order_cancel_oxa_id;
    char ticker[32];  // two 16-byte codes for a combined exercise
    int32_t market;
    int64_t quantity;
    uint8_t reserved1;
    uint8_t client_id;
    uint8_t business_type;
    uint8_t pad_71[3];
    int64_t qty_left;
    int64_t insert_time;
    int64_t update_time;
    int64_t cancel_time;
    char order_local_id[11];
    int32_t order_status;
    int32_t order_submit_status;
    char order_type;
};

// One leg of an option combination.
struct OXAOptCombLeg {
    char leg_security_id[16];
    int32_t leg_cntr_type;  // 1 call, 2 put
    int32_t leg_side;       // 1 or 2 uncovered, 3 covered
    int32_t leg_covered;    // 1 covered, else 0
    int32_t leg_qty;
};

struct OXAOptCombOrderInfo {
    uint64_t order_oxa_id;
    uint32_t order_client_id;
    uint32_t order_cancel_client_id;
    uint64_t order_cancel_oxa_id;
    int32_t market;
    int64_t quantity;
    uint8_t side;
    uint8_t business_type;
    uint8_t pad_38[3];
    int64_t qty_traded;
    int64_t qty_left;
    int64_t insert_time;
    int64_t update_time;
    int64_t cancel_time;
    double trade_amount;
    char order_local_id[11];
    int32_t order_status;
    int32_t order_submit_status;
    char order_type;
    char strategy_id[10];
    char comb_num[18];
    int32_t num_legs;
    OXAOptCombLeg legs[4];
};

struct OXAOptCombTradeReport {
    uint64_t order_oxa_id;
    uint32_t order_client_id;
    int32_t market;
    uint64_t system_id;
    char exec_id[18];
    int64_t quantity;
    int64_t trade_time;
    double trade_amount;
    uint64_t report_index;
    char order_exch_id[17];
    char trade_type;
    uint8_t side;
    uint8_t business_type;
    uint8_t pad_94[3];
    char branch_pbu[7];
    char strategy_id[10];
    char comb_num[18];
    int32_t num_legs;
    OXAOptCombLeg legs[4];
};

struct OXAPositionInfo {
    char ticker[16];
    char ticker_name[64];
    int32_t market;
    int64_t total_qty;
    int64_t sellable_qty;
    double avg_price;
    double unrealized_pnl;
    int64_t yesterday_position;
    int64_t purchase_redeemable_qty;
    int32_t position_direction;
    int32_t field_136;
    int64_t executable_option;
    int64_t lockable_position;
    int64_t field_156;
    int64_t locked_position;
    int64_t usable_locked_position;
    uint8_t pad_180[352];
};

struct OXAAssetInfo {
    double total_asset;
    double buying_power;
    double field_16;
    double fund_buy_amount;
    double fund_buy_fee;
    double fund_sell_amount;
    double fund_sell_fee;
    double withholding_amount;
    int32_t account_type;
    double frozen_margin;
    double frozen_exec_cash;
    double frozen_exec_fee;
    double pay_later;
    double preadva_pay;
    double orig_banlance;
    double banlance;
    double deposit_withdraw;
    double trade_netting;
    double captial_asset;
    double force_freeze_amount;
    double preferred_amount;
    double field_164;
    double fund_order_data_charges;
    double fund_cancel_data_charges;
    double field_188;
    double field_196;
    uint8_t pad_204[208];
};

struct OXAFundInfo {
    int32_t account_type;
    double buying_power;
    double withholding_amount;
    double field_20;
    double field_28;
    double field_36;
    double frozen_margin;
    double frozen_exec_cash;
    double frozen_exec_fee;
    double orig_banlance;
    double banlance;
    double deposit_withdraw;
    double trade_netting;
    double captial_asset;
    double preferred_amount;
    uint8_t pad_116[256];
};

// Answer records shared by the spot and margin back-ends.

struct OXAOtherServerFundInfo {
    double amount;
    int32_t query_type;  // always 1
    uint8_t pad_12[32];
};

struct OXAIPOInfo {
    int32_t market;
    char ticker[16];
    char name[64];
    int32_t ticker_type;  // TICKER_TYPE
    double field_88;
    int32_t field_96;
    int32_t field_100;
    double field_104;
    double field_112;
};

struct OXAIPOQuotaInfo {
    int32_t market;
    int32_t field_4;
    int32_t field_8;
    int32_t field_12;
};

struct OXAIssueInfo {
    int32_t market;
    char ticker[16];
    char name[64];
    int32_t ticker_type;
    char field_88[16];
    double field_104;
    int32_t field_112;
    int32_t field_116;
};

struct OXASecurityInfo {
    char ticker[16];
    char name[64];
    int32_t market;
    int32_t ticker_type;
    int64_t field_88;
    uint8_t field_96;
    double field_97;
    double field_105;
    double field_113;
    double field_121;
};

// Spot-only answer records.

struct OXAETFInfo {
    int32_t market;
    char ticker[16];
    char field_20[16];
    int32_t field_36;
    int32_t field_40;
    int32_t field_44;
    double field_48;
    double field_56;
    double field_64;
    double field_72;
    double field_80;
    int32_t field_88;
    int32_t field_92;
    int32_t field_96;
    int32_t field_100;
    int32_t field_104;
};

struct OXAETFBasketInfo {
    int32_t market;  // market of the ETF
    char ticker[16];  // ETF ticker
    char component_ticker[16];
    char field_36[64];
    int64_t field_100;
    int32_t component_market;
    int32_t field_112;
    uint8_t field_116[16];
    double field_132;
    double field_140;
    double field_148;
    double field_156;
};

struct OXAHKConnectIndicativeExchangeRateInfo {
    double field_0;
    double field_8;
    double field_16;
    double field_24;
};

struct OXAHKConnectSpreadTableInfo {
    int32_t ticker_type;
    double field_4;
    double field_12;
    double field_20;
};

struct OXAYesterdayAssetInfo {
    double field_0;
    double field_8;
    double field_16;
    double field_24;
    int32_t field_32;
};

// Holding change push of the spot back-end.
struct OXAHoldingChangeInfo {
    char ticker[16];
    int32_t market;
    int32_t field_20;
    int32_t field_24;
    int64_t field_28;
    int64_t field_36;
    int64_t field_44;
    int64_t field_52;
};

// Margin-only records. The answers are passed on as the server sent them; the 8-byte
// fields are the ones the library converts when the server's byte order differs.

struct OXACreditCashRepayInfo {
    uint64_t order_oxa_id;
    uint8_t field_8[16];
};

struct OXACreditCashRepaySpecifiedDebtInfo {
    uint64_t order_oxa_id;
    uint8_t field_8[52];
};

struct OXACreditRequestInfo {
    uint64_t order_oxa_id;
    uint8_t field_8[24];
};

struct OXACreditInfo1 {
    int64_t field_0;
    uint8_t field_8[4];
    int64_t field_12;
    int64_t field_20;
    uint8_t field_28;
    int32_t field_29;
    uint8_t field_33[124];
};

struct OXACreditInfo2 {
    int64_t field_0;
    int64_t field_8;
    int64_t field_16;
    int64_t field_24;
    int64_t field_32;
    int64_t field_40;
};

struct OXACreditInfo3 {
    int32_t field_0;
    uint8_t field_4[33];
    int64_t field_37;
    int64_t field_45;
    int32_t field_53;
    uint8_t field_57[20];
    int64_t field_77;
    int64_t field_85;
    int64_t field_93;
    uint8_t field_101;
    int64_t field_102;
    int64_t field_110;
    int64_t field_118;
    int64_t field_126;
    int64_t field_134;
    int64_t field_142;
};

struct OXACreditInfo5 {
    uint8_t field_0[20];
    int64_t field_20;
    int64_t field_28;
};

struct OXACreditInfo7 {
    uint8_t field_0[20];
    int64_t field_20;
    int64_t field_28;
    int64_t field_36;
    int64_t field_44;
    int32_t field_52;
};

struct OXACreditInfo9 {
    int64_t field_0;
    uint8_t field_8[64];
};

struct OXACreditInfo10 {
    uint8_t field_0[20];
    int64_t field_20;
    uint8_t field_28[64];
};

struct OXACreditInfo11 {
    uint8_t field_0[20];
    int64_t field_20;
};

struct OXACreditInfo12 {
    uint8_t field_0[24];
    int64_t field_24;
    uint8_t field_32[4];
    int64_t field_36;
};

struct OXACreditInfo13 {
    uint8_t field_0[20];
    int64_t field_20;
    uint8_t field_28[64];
};

struct OXACreditInfo14 {
    int64_t field_0;
    uint8_t field_8[4];
    int64_t field_12;
    uint8_t field_20[4];
    int64_t field_24;
};

struct OXACreditPledgeStkInfo {
    int32_t market;
    char ticker[16];
};

struct OXACreditTargetStkInfo {
    int32_t market;
    char ticker[16];
    int32_t field_20;
    int32_t field_24;
};

struct OXAStkDebtInfo {
    int32_t market;
    char ticker[16];
    int64_t field_20;
    int64_t field_28;
    int64_t field_36;
    int64_t field_44;
    int64_t field_52;
    uint8_t pad_60[36];
};

// Option-only answer records.

struct OXAOptionAuctionInfo {
    char ticker[16];
    int32_t security_id_source;  // market
    char symbol[64];
    char contract_id[64];
    char underlying_security_id[16];
    int32_t underlying_security_id_source;
    int32_t list_date;
    int32_t last_trade_date;
    int32_t ticker_type;
    int32_t day_trading;
    int32_t call_or_put;
    int32_t delivery_day;
    int32_t delivery_month;
    int32_t exercise_type;
    int32_t exercise_begin_date;
    int32_t exercise_end_date;
    double exercise_price;
    int64_t qty_unit;
    int64_t contract_unit;
    int64_t contract_position;
    double prev_close_price;
    double prev_clearing_price;
    int64_t lmt_buy_max_qty;
    int64_t lmt_buy_min_qty;
    int64_t lmt_sell_max_qty;
    int64_t lmt_sell_min_qty;
    int64_t mkt_buy_max_qty;
    int64_t mkt_buy_min_qty;
    int64_t mkt_sell_max_qty;
    int64_t mkt_sell_min_qty;
    double price_tick;
    double upper_limit_price;
    double lower_limit_price;
    double sell_margin;
    double margin_ratio_param1;
    double margin_ratio_param2;
    uint8_t pad_368[160];
};

// The combination block of a combination position (laid out like the tail of
// OXAOptCombOrderInfo).
struct OXAOptCombInfo {
    char strategy_id[10];
    char comb_num[18];
    int32_t num_legs;
    OXAOptCombLeg legs[4];
};

struct OXAOptCombPositionInfo {
    char strategy_id[10];
    char strategy_name[32];
    int32_t market;
    int64_t total_qty;
    int64_t available_qty;
    int64_t yesterday_position;
    OXAOptCombInfo comb_info;
};

struct OXAOptCombStrategyLeg {
    int32_t call_or_put;
    int32_t position_side;
    uint8_t exercise_price_seq;
    int32_t expire_date_seq;
    int64_t leg_qty;
};

struct OXAOptCombStrategyInfo {
    char strategy_id[10];
    char strategy_name[32];
    int32_t market;
    int32_t leg_num;
    OXAOptCombStrategyLeg legs[4];
    int32_t underlying_type;
    int32_t auto_sep_type;
    int32_t expire_date_type;
};

struct OXAOptCombExecPositionInfo {
    int32_t market;
    char cntrt_code_1[16];
    char cntrt_name_1[64];
    int32_t position_side_1;
    int32_t call_or_put_1;
    int64_t avl_qty_1;
    int64_t orig_own_qty_1;
    int64_t own_qty_1;
    char cntrt_code_2[16];
    char cntrt_name_2[64];
    int32_t position_side_2;
    int32_t call_or_put_2;
    int64_t avl_qty_2;
    int64_t orig_own_qty_2;
    int64_t own_qty_2;
    int64_t net_qty;
    int64_t order_qty;
    int64_t confirm_qty;
    int64_t avl_qty;
};

// ---------------------------------------------------------------------------------------
// Request records. Fields the library does not read are named field_<offset>.

// InsertOrder. The margin back-end copies all 68 bytes into its request.
struct OrderInsertInfo {
    uint64_t order_oxa_id;  // not read
    uint32_t order_client_id;
    char ticker[16];
    int32_t market;
    double price;
    uint8_t field_40[8];
    int64_t quantity;
    int32_t price_type;
    uint8_t side;
    uint8_t position_effect;
    char order_source;
    uint8_t field_63;
    uint8_t business_type;
    uint8_t field_65;
    uint8_t field_66;
    uint8_t field_67;
};

// FundTransfer. The new serial id may be written back into serial_id.
struct FundTransferInfo {
    uint64_t serial_id;
    uint8_t field_8[80];
    double amount;
    int32_t transfer_type;  // FundTransferType
};

struct OrderQueryParam {
    char ticker[16];
    int64_t begin_time;
    int64_t end_time;
};

struct TradeQueryParam {
    char ticker[16];
    int64_t begin_time;
    int64_t end_time;
};

// Every by-page query except QueryCreditDebtToRepayTodayByPage.
struct PageQueryParam {
    int64_t req_count;
    int64_t reference;
    int64_t reserved;
};

struct FundTransferQueryParam {
    uint64_t serial_id;  // 0 = all
};

// QuerySecurityInfo and the credit queries by ticker.
struct TickerQueryParam {
    char ticker[16];
    int32_t market;
};

// QueryETFBaseInfo, QueryETFTickerBasket (at most 8 characters of the ticker are sent).
struct ETFQueryParam {
    int32_t market;
    char ticker[16];
};

// QueryOtherServerFund.
struct OtherServerFundQueryParam {
    char fund_account[16];  // decimal text
    char field_16[64];
    int32_t query_type;     // only 1 is served
};

// QueryHKConnectSpreadTable (only the low byte of ticker_type is read).
struct HKConnectSpreadQueryParam {
    int32_t ticker_type;
};

// CreditCashRepaySpecifiedDebt. The new order id may be written back into id.
struct CashRepaySpecifiedDebtInfo {
    uint64_t id;
    uint8_t field_8[8];
    char field_16[16];
    char field_32[16];
    char field_48[16];
    int32_t field_64;
};

// CreditRequest. The new order id may be written back into id.
struct CreditRequestParam {
    uint64_t id;
    uint8_t field_8[8];
    char field_16[16];
    int32_t field_32;
};

// QueryCreditDebtToRepayTodayByPage.
struct DebtToRepayQueryParam {
    int64_t req_count;
    int64_t reference;
    int32_t field_16;
    char field_20[16];
};

// InsertExecuteOrder.
struct ExecuteOrderInsertInfo {
    uint64_t order_oxa_id;  // not read
    uint32_t order_client_id;
    uint8_t field_12[2];
    int64_t quantity;
    uint8_t business_type;  // 11 exercise, 15 combined exercise
    uint8_t field_23[3];
    int32_t market;
    char ticker[32];  // the second security in bytes 16 to 31 for a combined exercise
};

// InsertOptionCombinedOrder.
struct OptionCombinedOrderInsertInfo {
    uint64_t order_oxa_id;  // not read
    uint32_t order_client_id;
    int32_t market;
    int64_t quantity;
    uint8_t side;
    uint8_t field_25[4];
    char strategy_id[10];
    char comb_num[18];
    int32_t num_legs;
    OXAOptCombLeg legs[4];  // leg_cntr_type is not sent
};

// QueryOptionAuctionInfo (the first 8 characters of the ticker are sent).
struct OptionAuctionInfoQueryParam {
    int32_t market;
    char ticker[16];
};

// QueryOptionCombinedOrders, QueryOptionCombinedTrades.
struct OptCombOrderQueryParam {
    char comb_num[18];
    int64_t field_18;  // passed on unchanged
    int64_t field_26;  // passed on unchanged
};

// QueryOptionCombinedPosition.
struct OptCombPositionQueryParam {
    char comb_num[18];
    int32_t market;
};

// QueryOptionCombinedExecPosition (the first 8 characters of each code are sent).
struct OptCombExecPositionQueryParam {
    int32_t market;
    char cntrt_code_1[16];
    char cntrt_code_2[16];
};

// Optional terminal identity of Login.
struct OXATerminalInfo {
    char LIP[64];
    char MAC[16];
    char HD[24];
    int32_t term_type;
    char IIP[64];
    int32_t IPORT;
};

#pragma pack(pop)

// ---------------------------------------------------------------------------------------
// Layout checks.

#define OXA_ASSERT_SIZE(T, n) static_assert(sizeof(T) == (n), "size of " #T)
#define OXA_ASSERT_AT(T, f, off) static_assert(offsetof(T, f) == (off), "offset of " #T "." #f)

OXA_ASSERT_SIZE(OXAErrorInfo, 128);
OXA_ASSERT_AT(OXAErrorInfo, error_id, 0);
OXA_ASSERT_AT(OXAErrorInfo, error_msg, 4);

OXA_ASSERT_SIZE(OXAOrderInfo, 140);
OXA_ASSERT_AT(OXAOrderInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXAOrderInfo, order_client_id, 8);
OXA_ASSERT_AT(OXAOrderInfo, order_cancel_client_id, 12);
OXA_ASSERT_AT(OXAOrderInfo, order_cancel_oxa_id, 16);
OXA_ASSERT_AT(OXAOrderInfo, ticker, 24);
OXA_ASSERT_AT(OXAOrderInfo, market, 40);
OXA_ASSERT_AT(OXAOrderInfo, price, 44);
OXA_ASSERT_AT(OXAOrderInfo, quantity, 52);
OXA_ASSERT_AT(OXAOrderInfo, price_type, 60);
OXA_ASSERT_AT(OXAOrderInfo, side, 64);
OXA_ASSERT_AT(OXAOrderInfo, position_effect, 65);
OXA_ASSERT_AT(OXAOrderInfo, reserved1, 66);
OXA_ASSERT_AT(OXAOrderInfo, client_id, 67);
OXA_ASSERT_AT(OXAOrderInfo, business_type, 68);
OXA_ASSERT_AT(OXAOrderInfo, reserved2, 69);
OXA_ASSERT_AT(OXAOrderInfo, pad_70, 70);
OXA_ASSERT_AT(OXAOrderInfo, qty_traded, 72);
OXA_ASSERT_AT(OXAOrderInfo, qty_left, 80);
OXA_ASSERT_AT(OXAOrderInfo, insert_time, 88);
OXA_ASSERT_AT(OXAOrderInfo, update_time, 96);
OXA_ASSERT_AT(OXAOrderInfo, cancel_time, 104);
OXA_ASSERT_AT(OXAOrderInfo, trade_amount, 112);
OXA_ASSERT_AT(OXAOrderInfo, order_local_id, 120);
OXA_ASSERT_AT(OXAOrderInfo, order_status, 131);
OXA_ASSERT_AT(OXAOrderInfo, order_submit_status, 135);
OXA_ASSERT_AT(OXAOrderInfo, order_type, 139);

OXA_ASSERT_SIZE(OXATradeReport, 131);
OXA_ASSERT_AT(OXATradeReport, order_oxa_id, 0);
OXA_ASSERT_AT(OXATradeReport, order_client_id, 8);
OXA_ASSERT_AT(OXATradeReport, ticker, 12);
OXA_ASSERT_AT(OXATradeReport, market, 28);
OXA_ASSERT_AT(OXATradeReport, price_type, 32);
OXA_ASSERT_AT(OXATradeReport, pad_36, 36);
OXA_ASSERT_AT(OXATradeReport, exec_id, 40);
OXA_ASSERT_AT(OXATradeReport, price, 58);
OXA_ASSERT_AT(OXATradeReport, quantity, 66);
OXA_ASSERT_AT(OXATradeReport, trade_time, 74);
OXA_ASSERT_AT(OXATradeReport, trade_amount, 82);
OXA_ASSERT_AT(OXATradeReport, report_index, 90);
OXA_ASSERT_AT(OXATradeReport, order_exch_id, 98);
OXA_ASSERT_AT(OXATradeReport, trade_type, 115);
OXA_ASSERT_AT(OXATradeReport, side, 116);
OXA_ASSERT_AT(OXATradeReport, position_effect, 117);
OXA_ASSERT_AT(OXATradeReport, reserved1, 118);
OXA_ASSERT_AT(OXATradeReport, client_id, 119);
OXA_ASSERT_AT(OXATradeReport, business_type, 120);
OXA_ASSERT_AT(OXATradeReport, reserved2, 121);
OXA_ASSERT_AT(OXATradeReport, pad_122, 122);
OXA_ASSERT_AT(OXATradeReport, branch_pbu, 124);

OXA_ASSERT_SIZE(OXAOrderCancelInfo, 16);
OXA_ASSERT_AT(OXAOrderCancelInfo, order_cancel_oxa_id, 0);
OXA_ASSERT_AT(OXAOrderCancelInfo, order_oxa_id, 8);

OXA_ASSERT_SIZE(OXAFundTransferNotice, 32);
OXA_ASSERT_AT(OXAFundTransferNotice, order_oxa_id, 0);
OXA_ASSERT_AT(OXAFundTransferNotice, transfer_type, 8);
OXA_ASSERT_AT(OXAFundTransferNotice, amount, 12);
OXA_ASSERT_AT(OXAFundTransferNotice, oper_status, 20);
OXA_ASSERT_AT(OXAFundTransferNotice, transfer_time, 24);

OXA_ASSERT_SIZE(OXAOrderExecuteInfo, 126);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_client_id, 8);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_cancel_client_id, 12);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_cancel_oxa_id, 16);
OXA_ASSERT_AT(OXAOrderExecuteInfo, ticker, 24);
OXA_ASSERT_AT(OXAOrderExecuteInfo, market, 56);
OXA_ASSERT_AT(OXAOrderExecuteInfo, quantity, 60);
OXA_ASSERT_AT(OXAOrderExecuteInfo, reserved1, 68);
OXA_ASSERT_AT(OXAOrderExecuteInfo, client_id, 69);
OXA_ASSERT_AT(OXAOrderExecuteInfo, business_type, 70);
OXA_ASSERT_AT(OXAOrderExecuteInfo, pad_71, 71);
OXA_ASSERT_AT(OXAOrderExecuteInfo, qty_left, 74);
OXA_ASSERT_AT(OXAOrderExecuteInfo, insert_time, 82);
OXA_ASSERT_AT(OXAOrderExecuteInfo, update_time, 90);
OXA_ASSERT_AT(OXAOrderExecuteInfo, cancel_time, 98);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_local_id, 106);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_status, 117);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_submit_status, 121);
OXA_ASSERT_AT(OXAOrderExecuteInfo, order_type, 125);

OXA_ASSERT_SIZE(OXAOptCombLeg, 32);
OXA_ASSERT_AT(OXAOptCombLeg, leg_security_id, 0);
OXA_ASSERT_AT(OXAOptCombLeg, leg_cntr_type, 16);
OXA_ASSERT_AT(OXAOptCombLeg, leg_side, 20);
OXA_ASSERT_AT(OXAOptCombLeg, leg_covered, 24);
OXA_ASSERT_AT(OXAOptCombLeg, leg_qty, 28);

OXA_ASSERT_SIZE(OXAOptCombOrderInfo, 269);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_client_id, 8);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_cancel_client_id, 12);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_cancel_oxa_id, 16);
OXA_ASSERT_AT(OXAOptCombOrderInfo, market, 24);
OXA_ASSERT_AT(OXAOptCombOrderInfo, quantity, 28);
OXA_ASSERT_AT(OXAOptCombOrderInfo, side, 36);
OXA_ASSERT_AT(OXAOptCombOrderInfo, business_type, 37);
OXA_ASSERT_AT(OXAOptCombOrderInfo, pad_38, 38);
OXA_ASSERT_AT(OXAOptCombOrderInfo, qty_traded, 41);
OXA_ASSERT_AT(OXAOptCombOrderInfo, qty_left, 49);
OXA_ASSERT_AT(OXAOptCombOrderInfo, insert_time, 57);
OXA_ASSERT_AT(OXAOptCombOrderInfo, update_time, 65);
OXA_ASSERT_AT(OXAOptCombOrderInfo, cancel_time, 73);
OXA_ASSERT_AT(OXAOptCombOrderInfo, trade_amount, 81);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_local_id, 89);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_status, 100);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_submit_status, 104);
OXA_ASSERT_AT(OXAOptCombOrderInfo, order_type, 108);
OXA_ASSERT_AT(OXAOptCombOrderInfo, strategy_id, 109);
OXA_ASSERT_AT(OXAOptCombOrderInfo, comb_num, 119);
OXA_ASSERT_AT(OXAOptCombOrderInfo, num_legs, 137);
OXA_ASSERT_AT(OXAOptCombOrderInfo, legs, 141);

OXA_ASSERT_SIZE(OXAOptCombTradeReport, 264);
OXA_ASSERT_AT(OXAOptCombTradeReport, order_oxa_id, 0);
OXA_ASSERT_AT(OXAOptCombTradeReport, order_client_id, 8);
OXA_ASSERT_AT(OXAOptCombTradeReport, market, 12);
OXA_ASSERT_AT(OXAOptCombTradeReport, system_id, 16);
OXA_ASSERT_AT(OXAOptCombTradeReport, exec_id, 24);
OXA_ASSERT_AT(OXAOptCombTradeReport, quantity, 42);
OXA_ASSERT_AT(OXAOptCombTradeReport, trade_time, 50);
OXA_ASSERT_AT(OXAOptCombTradeReport, trade_amount, 58);
OXA_ASSERT_AT(OXAOptCombTradeReport, report_index, 66);
OXA_ASSERT_AT(OXAOptCombTradeReport, order_exch_id, 74);
OXA_ASSERT_AT(OXAOptCombTradeReport, trade_type, 91);
OXA_ASSERT_AT(OXAOptCombTradeReport, side, 92);
OXA_ASSERT_AT(OXAOptCombTradeReport, business_type, 93);
OXA_ASSERT_AT(OXAOptCombTradeReport, pad_94, 94);
OXA_ASSERT_AT(OXAOptCombTradeReport, branch_pbu, 97);
OXA_ASSERT_AT(OXAOptCombTradeReport, strategy_id, 104);
OXA_ASSERT_AT(OXAOptCombTradeReport, comb_num, 114);
OXA_ASSERT_AT(OXAOptCombTradeReport, num_legs, 132);
OXA_ASSERT_AT(OXAOptCombTradeReport, legs, 136);

OXA_ASSERT_SIZE(OXAPositionInfo, 532);
OXA_ASSERT_AT(OXAPositionInfo, ticker, 0);
OXA_ASSERT_AT(OXAPositionInfo, ticker_name, 16);
OXA_ASSERT_AT(OXAPositionInfo, market, 80);
OXA_ASSERT_AT(OXAPositionInfo, total_qty, 84);
OXA_ASSERT_AT(OXAPositionInfo, sellable_qty, 92);
OXA_ASSERT_AT(OXAPositionInfo, avg_price, 100);
OXA_ASSERT_AT(OXAPositionInfo, unrealized_pnl, 108);
OXA_ASSERT_AT(OXAPositionInfo, yesterday_position, 116);
OXA_ASSERT_AT(OXAPositionInfo, purchase_redeemable_qty, 124);
OXA_ASSERT_AT(OXAPositionInfo, position_direction, 132);
OXA_ASSERT_AT(OXAPositionInfo, field_136, 136);
OXA_ASSERT_AT(OXAPositionInfo, executable_option, 140);
OXA_ASSERT_AT(OXAPositionInfo, lockable_position, 148);
OXA_ASSERT_AT(OXAPositionInfo, field_156, 156);
OXA_ASSERT_AT(OXAPositionInfo, locked_position, 164);
OXA_ASSERT_AT(OXAPositionInfo, usable_locked_position, 172);
OXA_ASSERT_AT(OXAPositionInfo, pad_180, 180);

OXA_ASSERT_SIZE(OXAAssetInfo, 412);
OXA_ASSERT_AT(OXAAssetInfo, total_asset, 0);
OXA_ASSERT_AT(OXAAssetInfo, buying_power, 8);
OXA_ASSERT_AT(OXAAssetInfo, field_16, 16);
OXA_ASSERT_AT(OXAAssetInfo, fund_buy_amount, 24);
OXA_ASSERT_AT(OXAAssetInfo, fund_buy_fee, 32);
OXA_ASSERT_AT(OXAAssetInfo, fund_sell_amount, 40);
OXA_ASSERT_AT(OXAAssetInfo, fund_sell_fee, 48);
OXA_ASSERT_AT(OXAAssetInfo, withholding_amount, 56);
OXA_ASSERT_AT(OXAAssetInfo, account_type, 64);
OXA_ASSERT_AT(OXAAssetInfo, frozen_margin, 68);
OXA_ASSERT_AT(OXAAssetInfo, frozen_exec_cash, 76);
OXA_ASSERT_AT(OXAAssetInfo, frozen_exec_fee, 84);
OXA_ASSERT_AT(OXAAssetInfo, pay_later, 92);
OXA_ASSERT_AT(OXAAssetInfo, preadva_pay, 100);
OXA_ASSERT_AT(OXAAssetInfo, orig_banlance, 108);
OXA_ASSERT_AT(OXAAssetInfo, banlance, 116);
OXA_ASSERT_AT(OXAAssetInfo, deposit_withdraw, 124);
OXA_ASSERT_AT(OXAAssetInfo, trade_netting, 132);
OXA_ASSERT_AT(OXAAssetInfo, captial_asset, 140);
OXA_ASSERT_AT(OXAAssetInfo, force_freeze_amount, 148);
OXA_ASSERT_AT(OXAAssetInfo, preferred_amount, 156);
OXA_ASSERT_AT(OXAAssetInfo, field_164, 164);
OXA_ASSERT_AT(OXAAssetInfo, fund_order_data_charges, 172);
OXA_ASSERT_AT(OXAAssetInfo, fund_cancel_data_charges, 180);
OXA_ASSERT_AT(OXAAssetInfo, field_188, 188);
OXA_ASSERT_AT(OXAAssetInfo, field_196, 196);
OXA_ASSERT_AT(OXAAssetInfo, pad_204, 204);

OXA_ASSERT_SIZE(OXAFundInfo, 372);
OXA_ASSERT_AT(OXAFundInfo, account_type, 0);
OXA_ASSERT_AT(OXAFundInfo, buying_power, 4);
OXA_ASSERT_AT(OXAFundInfo, withholding_amount, 12);
OXA_ASSERT_AT(OXAFundInfo, field_20, 20);
OXA_ASSERT_AT(OXAFundInfo, field_28, 28);
OXA_ASSERT_AT(OXAFundInfo, field_36, 36);
OXA_ASSERT_AT(OXAFundInfo, frozen_margin, 44);
OXA_ASSERT_AT(OXAFundInfo, frozen_exec_cash, 52);
OXA_ASSERT_AT(OXAFundInfo, frozen_exec_fee, 60);
OXA_ASSERT_AT(OXAFundInfo, orig_banlance, 68);
OXA_ASSERT_AT(OXAFundInfo, banlance, 76);
OXA_ASSERT_AT(OXAFundInfo, deposit_withdraw, 84);
OXA_ASSERT_AT(OXAFundInfo, trade_netting, 92);
OXA_ASSERT_AT(OXAFundInfo, captial_asset, 100);
OXA_ASSERT_AT(OXAFundInfo, preferred_amount, 108);
OXA_ASSERT_AT(OXAFundInfo, pad_116, 116);

OXA_ASSERT_SIZE(OXAOtherServerFundInfo, 44);
OXA_ASSERT_AT(OXAOtherServerFundInfo, amount, 0);
OXA_ASSERT_AT(OXAOtherServerFundInfo, query_type, 8);
OXA_ASSERT_AT(OXAOtherServerFundInfo, pad_12, 12);

OXA_ASSERT_SIZE(OXAIPOInfo, 120);
OXA_ASSERT_AT(OXAIPOInfo, market, 0);
OXA_ASSERT_AT(OXAIPOInfo, ticker, 4);
OXA_ASSERT_AT(OXAIPOInfo, name, 20);
OXA_ASSERT_AT(OXAIPOInfo, ticker_type, 84);
OXA_ASSERT_AT(OXAIPOInfo, field_88, 88);
OXA_ASSERT_AT(OXAIPOInfo, field_96, 96);
OXA_ASSERT_AT(OXAIPOInfo, field_100, 100);
OXA_ASSERT_AT(OXAIPOInfo, field_104, 104);
OXA_ASSERT_AT(OXAIPOInfo, field_112, 112);

OXA_ASSERT_SIZE(OXAIPOQuotaInfo, 16);
OXA_ASSERT_AT(OXAIPOQuotaInfo, market, 0);
OXA_ASSERT_AT(OXAIPOQuotaInfo, field_4, 4);
OXA_ASSERT_AT(OXAIPOQuotaInfo, field_8, 8);
OXA_ASSERT_AT(OXAIPOQuotaInfo, field_12, 12);

OXA_ASSERT_SIZE(OXAIssueInfo, 120);
OXA_ASSERT_AT(OXAIssueInfo, market, 0);
OXA_ASSERT_AT(OXAIssueInfo, ticker, 4);
OXA_ASSERT_AT(OXAIssueInfo, name, 20);
OXA_ASSERT_AT(OXAIssueInfo, ticker_type, 84);
OXA_ASSERT_AT(OXAIssueInfo, field_88, 88);
OXA_ASSERT_AT(OXAIssueInfo, field_104, 104);
OXA_ASSERT_AT(OXAIssueInfo, field_112, 112);
OXA_ASSERT_AT(OXAIssueInfo, field_116, 116);

OXA_ASSERT_SIZE(OXASecurityInfo, 129);
OXA_ASSERT_AT(OXASecurityInfo, ticker, 0);
OXA_ASSERT_AT(OXASecurityInfo, name, 16);
OXA_ASSERT_AT(OXASecurityInfo, market, 80);
OXA_ASSERT_AT(OXASecurityInfo, ticker_type, 84);
OXA_ASSERT_AT(OXASecurityInfo, field_88, 88);
OXA_ASSERT_AT(OXASecurityInfo, field_96, 96);
OXA_ASSERT_AT(OXASecurityInfo, field_97, 97);
OXA_ASSERT_AT(OXASecurityInfo, field_105, 105);
OXA_ASSERT_AT(OXASecurityInfo, field_113, 113);
OXA_ASSERT_AT(OXASecurityInfo, field_121, 121);

OXA_ASSERT_SIZE(OXAETFInfo, 108);
OXA_ASSERT_AT(OXAETFInfo, market, 0);
OXA_ASSERT_AT(OXAETFInfo, ticker, 4);
OXA_ASSERT_AT(OXAETFInfo, field_20, 20);
OXA_ASSERT_AT(OXAETFInfo, field_36, 36);
OXA_ASSERT_AT(OXAETFInfo, field_40, 40);
OXA_ASSERT_AT(OXAETFInfo, field_44, 44);
OXA_ASSERT_AT(OXAETFInfo, field_48, 48);
OXA_ASSERT_AT(OXAETFInfo, field_56, 56);
OXA_ASSERT_AT(OXAETFInfo, field_64, 64);
OXA_ASSERT_AT(OXAETFInfo, field_72, 72);
OXA_ASSERT_AT(OXAETFInfo, field_80, 80);
OXA_ASSERT_AT(OXAETFInfo, field_88, 88);
OXA_ASSERT_AT(OXAETFInfo, field_92, 92);
OXA_ASSERT_AT(OXAETFInfo, field_96, 96);
OXA_ASSERT_AT(OXAETFInfo, field_100, 100);
OXA_ASSERT_AT(OXAETFInfo, field_104, 104);

OXA_ASSERT_SIZE(OXAETFBasketInfo, 164);
OXA_ASSERT_AT(OXAETFBasketInfo, market, 0);
OXA_ASSERT_AT(OXAETFBasketInfo, ticker, 4);
OXA_ASSERT_AT(OXAETFBasketInfo, component_ticker, 20);
OXA_ASSERT_AT(OXAETFBasketInfo, field_36, 36);
OXA_ASSERT_AT(OXAETFBasketInfo, field_100, 100);
OXA_ASSERT_AT(OXAETFBasketInfo, component_market, 108);
OXA_ASSERT_AT(OXAETFBasketInfo, field_112, 112);
OXA_ASSERT_AT(OXAETFBasketInfo, field_116, 116);
OXA_ASSERT_AT(OXAETFBasketInfo, field_132, 132);
OXA_ASSERT_AT(OXAETFBasketInfo, field_140, 140);
OXA_ASSERT_AT(OXAETFBasketInfo, field_148, 148);
OXA_ASSERT_AT(OXAETFBasketInfo, field_156, 156);

OXA_ASSERT_SIZE(OXAHKConnectIndicativeExchangeRateInfo, 32);
OXA_ASSERT_AT(OXAHKConnectIndicativeExchangeRateInfo, field_0, 0);
OXA_ASSERT_AT(OXAHKConnectIndicativeExchangeRateInfo, field_8, 8);
OXA_ASSERT_AT(OXAHKConnectIndicativeExchangeRateInfo, field_16, 16);
OXA_ASSERT_AT(OXAHKConnectIndicativeExchangeRateInfo, field_24, 24);

OXA_ASSERT_SIZE(OXAHKConnectSpreadTableInfo, 28);
OXA_ASSERT_AT(OXAHKConnectSpreadTableInfo, ticker_type, 0);
OXA_ASSERT_AT(OXAHKConnectSpreadTableInfo, field_4, 4);
OXA_ASSERT_AT(OXAHKConnectSpreadTableInfo, field_12, 12);
OXA_ASSERT_AT(OXAHKConnectSpreadTableInfo, field_20, 20);

OXA_ASSERT_SIZE(OXAYesterdayAssetInfo, 36);
OXA_ASSERT_AT(OXAYesterdayAssetInfo, field_0, 0);
OXA_ASSERT_AT(OXAYesterdayAssetInfo, field_8, 8);
OXA_ASSERT_AT(OXAYesterdayAssetInfo, field_16, 16);
OXA_ASSERT_AT(OXAYesterdayAssetInfo, field_24, 24);
OXA_ASSERT_AT(OXAYesterdayAssetInfo, field_32, 32);

OXA_ASSERT_SIZE(OXAHoldingChangeInfo, 60);
OXA_ASSERT_AT(OXAHoldingChangeInfo, ticker, 0);
OXA_ASSERT_AT(OXAHoldingChangeInfo, market, 16);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_20, 20);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_24, 24);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_28, 28);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_36, 36);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_44, 44);
OXA_ASSERT_AT(OXAHoldingChangeInfo, field_52, 52);

OXA_ASSERT_SIZE(OXACreditCashRepayInfo, 24);
OXA_ASSERT_AT(OXACreditCashRepayInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXACreditCashRepayInfo, field_8, 8);

OXA_ASSERT_SIZE(OXACreditCashRepaySpecifiedDebtInfo, 60);
OXA_ASSERT_AT(OXACreditCashRepaySpecifiedDebtInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXACreditCashRepaySpecifiedDebtInfo, field_8, 8);

OXA_ASSERT_SIZE(OXACreditRequestInfo, 32);
OXA_ASSERT_AT(OXACreditRequestInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OXACreditRequestInfo, field_8, 8);

OXA_ASSERT_SIZE(OXACreditInfo1, 157);
OXA_ASSERT_AT(OXACreditInfo1, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo1, field_8, 8);
OXA_ASSERT_AT(OXACreditInfo1, field_12, 12);
OXA_ASSERT_AT(OXACreditInfo1, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo1, field_28, 28);
OXA_ASSERT_AT(OXACreditInfo1, field_29, 29);
OXA_ASSERT_AT(OXACreditInfo1, field_33, 33);

OXA_ASSERT_SIZE(OXACreditInfo2, 48);
OXA_ASSERT_AT(OXACreditInfo2, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo2, field_8, 8);
OXA_ASSERT_AT(OXACreditInfo2, field_16, 16);
OXA_ASSERT_AT(OXACreditInfo2, field_24, 24);
OXA_ASSERT_AT(OXACreditInfo2, field_32, 32);
OXA_ASSERT_AT(OXACreditInfo2, field_40, 40);

OXA_ASSERT_SIZE(OXACreditInfo3, 150);
OXA_ASSERT_AT(OXACreditInfo3, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo3, field_4, 4);
OXA_ASSERT_AT(OXACreditInfo3, field_37, 37);
OXA_ASSERT_AT(OXACreditInfo3, field_45, 45);
OXA_ASSERT_AT(OXACreditInfo3, field_53, 53);
OXA_ASSERT_AT(OXACreditInfo3, field_57, 57);
OXA_ASSERT_AT(OXACreditInfo3, field_77, 77);
OXA_ASSERT_AT(OXACreditInfo3, field_85, 85);
OXA_ASSERT_AT(OXACreditInfo3, field_93, 93);
OXA_ASSERT_AT(OXACreditInfo3, field_101, 101);
OXA_ASSERT_AT(OXACreditInfo3, field_102, 102);
OXA_ASSERT_AT(OXACreditInfo3, field_110, 110);
OXA_ASSERT_AT(OXACreditInfo3, field_118, 118);
OXA_ASSERT_AT(OXACreditInfo3, field_126, 126);
OXA_ASSERT_AT(OXACreditInfo3, field_134, 134);
OXA_ASSERT_AT(OXACreditInfo3, field_142, 142);

OXA_ASSERT_SIZE(OXACreditInfo5, 36);
OXA_ASSERT_AT(OXACreditInfo5, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo5, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo5, field_28, 28);

OXA_ASSERT_SIZE(OXACreditInfo7, 56);
OXA_ASSERT_AT(OXACreditInfo7, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo7, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo7, field_28, 28);
OXA_ASSERT_AT(OXACreditInfo7, field_36, 36);
OXA_ASSERT_AT(OXACreditInfo7, field_44, 44);
OXA_ASSERT_AT(OXACreditInfo7, field_52, 52);

OXA_ASSERT_SIZE(OXACreditInfo9, 72);
OXA_ASSERT_AT(OXACreditInfo9, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo9, field_8, 8);

OXA_ASSERT_SIZE(OXACreditInfo10, 92);
OXA_ASSERT_AT(OXACreditInfo10, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo10, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo10, field_28, 28);

OXA_ASSERT_SIZE(OXACreditInfo11, 28);
OXA_ASSERT_AT(OXACreditInfo11, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo11, field_20, 20);

OXA_ASSERT_SIZE(OXACreditInfo12, 44);
OXA_ASSERT_AT(OXACreditInfo12, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo12, field_24, 24);
OXA_ASSERT_AT(OXACreditInfo12, field_32, 32);
OXA_ASSERT_AT(OXACreditInfo12, field_36, 36);

OXA_ASSERT_SIZE(OXACreditInfo13, 92);
OXA_ASSERT_AT(OXACreditInfo13, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo13, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo13, field_28, 28);

OXA_ASSERT_SIZE(OXACreditInfo14, 32);
OXA_ASSERT_AT(OXACreditInfo14, field_0, 0);
OXA_ASSERT_AT(OXACreditInfo14, field_8, 8);
OXA_ASSERT_AT(OXACreditInfo14, field_12, 12);
OXA_ASSERT_AT(OXACreditInfo14, field_20, 20);
OXA_ASSERT_AT(OXACreditInfo14, field_24, 24);

OXA_ASSERT_SIZE(OXACreditPledgeStkInfo, 20);
OXA_ASSERT_AT(OXACreditPledgeStkInfo, market, 0);
OXA_ASSERT_AT(OXACreditPledgeStkInfo, ticker, 4);

OXA_ASSERT_SIZE(OXACreditTargetStkInfo, 28);
OXA_ASSERT_AT(OXACreditTargetStkInfo, market, 0);
OXA_ASSERT_AT(OXACreditTargetStkInfo, ticker, 4);
OXA_ASSERT_AT(OXACreditTargetStkInfo, field_20, 20);
OXA_ASSERT_AT(OXACreditTargetStkInfo, field_24, 24);

OXA_ASSERT_SIZE(OXAStkDebtInfo, 96);
OXA_ASSERT_AT(OXAStkDebtInfo, market, 0);
OXA_ASSERT_AT(OXAStkDebtInfo, ticker, 4);
OXA_ASSERT_AT(OXAStkDebtInfo, field_20, 20);
OXA_ASSERT_AT(OXAStkDebtInfo, field_28, 28);
OXA_ASSERT_AT(OXAStkDebtInfo, field_36, 36);
OXA_ASSERT_AT(OXAStkDebtInfo, field_44, 44);
OXA_ASSERT_AT(OXAStkDebtInfo, field_52, 52);
OXA_ASSERT_AT(OXAStkDebtInfo, pad_60, 60);

OXA_ASSERT_SIZE(OXAOptionAuctionInfo, 528);
OXA_ASSERT_AT(OXAOptionAuctionInfo, ticker, 0);
OXA_ASSERT_AT(OXAOptionAuctionInfo, security_id_source, 16);
OXA_ASSERT_AT(OXAOptionAuctionInfo, symbol, 20);
OXA_ASSERT_AT(OXAOptionAuctionInfo, contract_id, 84);
OXA_ASSERT_AT(OXAOptionAuctionInfo, underlying_security_id, 148);
OXA_ASSERT_AT(OXAOptionAuctionInfo, underlying_security_id_source, 164);
OXA_ASSERT_AT(OXAOptionAuctionInfo, list_date, 168);
OXA_ASSERT_AT(OXAOptionAuctionInfo, last_trade_date, 172);
OXA_ASSERT_AT(OXAOptionAuctionInfo, ticker_type, 176);
OXA_ASSERT_AT(OXAOptionAuctionInfo, day_trading, 180);
OXA_ASSERT_AT(OXAOptionAuctionInfo, call_or_put, 184);
OXA_ASSERT_AT(OXAOptionAuctionInfo, delivery_day, 188);
OXA_ASSERT_AT(OXAOptionAuctionInfo, delivery_month, 192);
OXA_ASSERT_AT(OXAOptionAuctionInfo, exercise_type, 196);
OXA_ASSERT_AT(OXAOptionAuctionInfo, exercise_begin_date, 200);
OXA_ASSERT_AT(OXAOptionAuctionInfo, exercise_end_date, 204);
OXA_ASSERT_AT(OXAOptionAuctionInfo, exercise_price, 208);
OXA_ASSERT_AT(OXAOptionAuctionInfo, qty_unit, 216);
OXA_ASSERT_AT(OXAOptionAuctionInfo, contract_unit, 224);
OXA_ASSERT_AT(OXAOptionAuctionInfo, contract_position, 232);
OXA_ASSERT_AT(OXAOptionAuctionInfo, prev_close_price, 240);
OXA_ASSERT_AT(OXAOptionAuctionInfo, prev_clearing_price, 248);
OXA_ASSERT_AT(OXAOptionAuctionInfo, lmt_buy_max_qty, 256);
OXA_ASSERT_AT(OXAOptionAuctionInfo, lmt_buy_min_qty, 264);
OXA_ASSERT_AT(OXAOptionAuctionInfo, lmt_sell_max_qty, 272);
OXA_ASSERT_AT(OXAOptionAuctionInfo, lmt_sell_min_qty, 280);
OXA_ASSERT_AT(OXAOptionAuctionInfo, mkt_buy_max_qty, 288);
OXA_ASSERT_AT(OXAOptionAuctionInfo, mkt_buy_min_qty, 296);
OXA_ASSERT_AT(OXAOptionAuctionInfo, mkt_sell_max_qty, 304);
OXA_ASSERT_AT(OXAOptionAuctionInfo, mkt_sell_min_qty, 312);
OXA_ASSERT_AT(OXAOptionAuctionInfo, price_tick, 320);
OXA_ASSERT_AT(OXAOptionAuctionInfo, upper_limit_price, 328);
OXA_ASSERT_AT(OXAOptionAuctionInfo, lower_limit_price, 336);
OXA_ASSERT_AT(OXAOptionAuctionInfo, sell_margin, 344);
OXA_ASSERT_AT(OXAOptionAuctionInfo, margin_ratio_param1, 352);
OXA_ASSERT_AT(OXAOptionAuctionInfo, margin_ratio_param2, 360);
OXA_ASSERT_AT(OXAOptionAuctionInfo, pad_368, 368);

OXA_ASSERT_SIZE(OXAOptCombInfo, 160);
OXA_ASSERT_AT(OXAOptCombInfo, strategy_id, 0);
OXA_ASSERT_AT(OXAOptCombInfo, comb_num, 10);
OXA_ASSERT_AT(OXAOptCombInfo, num_legs, 28);
OXA_ASSERT_AT(OXAOptCombInfo, legs, 32);

OXA_ASSERT_SIZE(OXAOptCombPositionInfo, 230);
OXA_ASSERT_AT(OXAOptCombPositionInfo, strategy_id, 0);
OXA_ASSERT_AT(OXAOptCombPositionInfo, strategy_name, 10);
OXA_ASSERT_AT(OXAOptCombPositionInfo, market, 42);
OXA_ASSERT_AT(OXAOptCombPositionInfo, total_qty, 46);
OXA_ASSERT_AT(OXAOptCombPositionInfo, available_qty, 54);
OXA_ASSERT_AT(OXAOptCombPositionInfo, yesterday_position, 62);
OXA_ASSERT_AT(OXAOptCombPositionInfo, comb_info, 70);
static_assert(offsetof(OXAOptCombPositionInfo, comb_info) + offsetof(OXAOptCombInfo, comb_num) == 80,
              "offset of OXAOptCombPositionInfo.comb_info.comb_num");
static_assert(offsetof(OXAOptCombPositionInfo, comb_info) + offsetof(OXAOptCombInfo, num_legs) == 98,
              "offset of OXAOptCombPositionInfo.comb_info.num_legs");
static_assert(offsetof(OXAOptCombPositionInfo, comb_info) + offsetof(OXAOptCombInfo, legs) == 102,
              "offset of OXAOptCombPositionInfo.comb_info.legs");

OXA_ASSERT_SIZE(OXAOptCombStrategyLeg, 21);
OXA_ASSERT_AT(OXAOptCombStrategyLeg, call_or_put, 0);
OXA_ASSERT_AT(OXAOptCombStrategyLeg, position_side, 4);
OXA_ASSERT_AT(OXAOptCombStrategyLeg, exercise_price_seq, 8);
OXA_ASSERT_AT(OXAOptCombStrategyLeg, expire_date_seq, 9);
OXA_ASSERT_AT(OXAOptCombStrategyLeg, leg_qty, 13);

OXA_ASSERT_SIZE(OXAOptCombStrategyInfo, 146);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, strategy_id, 0);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, strategy_name, 10);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, market, 42);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, leg_num, 46);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, legs, 50);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, underlying_type, 134);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, auto_sep_type, 138);
OXA_ASSERT_AT(OXAOptCombStrategyInfo, expire_date_type, 142);

OXA_ASSERT_SIZE(OXAOptCombExecPositionInfo, 260);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, market, 0);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, cntrt_code_1, 4);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, cntrt_name_1, 20);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, position_side_1, 84);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, call_or_put_1, 88);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, avl_qty_1, 92);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, orig_own_qty_1, 100);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, own_qty_1, 108);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, cntrt_code_2, 116);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, cntrt_name_2, 132);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, position_side_2, 196);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, call_or_put_2, 200);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, avl_qty_2, 204);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, orig_own_qty_2, 212);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, own_qty_2, 220);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, net_qty, 228);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, order_qty, 236);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, confirm_qty, 244);
OXA_ASSERT_AT(OXAOptCombExecPositionInfo, avl_qty, 252);

OXA_ASSERT_SIZE(OrderInsertInfo, 68);
OXA_ASSERT_AT(OrderInsertInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OrderInsertInfo, order_client_id, 8);
OXA_ASSERT_AT(OrderInsertInfo, ticker, 12);
OXA_ASSERT_AT(OrderInsertInfo, market, 28);
OXA_ASSERT_AT(OrderInsertInfo, price, 32);
OXA_ASSERT_AT(OrderInsertInfo, field_40, 40);
OXA_ASSERT_AT(OrderInsertInfo, quantity, 48);
OXA_ASSERT_AT(OrderInsertInfo, price_type, 56);
OXA_ASSERT_AT(OrderInsertInfo, side, 60);
OXA_ASSERT_AT(OrderInsertInfo, position_effect, 61);
OXA_ASSERT_AT(OrderInsertInfo, order_source, 62);
OXA_ASSERT_AT(OrderInsertInfo, field_63, 63);
OXA_ASSERT_AT(OrderInsertInfo, business_type, 64);
OXA_ASSERT_AT(OrderInsertInfo, field_65, 65);
OXA_ASSERT_AT(OrderInsertInfo, field_66, 66);
OXA_ASSERT_AT(OrderInsertInfo, field_67, 67);

OXA_ASSERT_SIZE(FundTransferInfo, 100);
OXA_ASSERT_AT(FundTransferInfo, serial_id, 0);
OXA_ASSERT_AT(FundTransferInfo, field_8, 8);
OXA_ASSERT_AT(FundTransferInfo, amount, 88);
OXA_ASSERT_AT(FundTransferInfo, transfer_type, 96);

OXA_ASSERT_SIZE(OrderQueryParam, 32);
OXA_ASSERT_AT(OrderQueryParam, ticker, 0);
OXA_ASSERT_AT(OrderQueryParam, begin_time, 16);
OXA_ASSERT_AT(OrderQueryParam, end_time, 24);

OXA_ASSERT_SIZE(TradeQueryParam, 32);
OXA_ASSERT_AT(TradeQueryParam, ticker, 0);
OXA_ASSERT_AT(TradeQueryParam, begin_time, 16);
OXA_ASSERT_AT(TradeQueryParam, end_time, 24);

OXA_ASSERT_SIZE(PageQueryParam, 24);
OXA_ASSERT_AT(PageQueryParam, req_count, 0);
OXA_ASSERT_AT(PageQueryParam, reference, 8);
OXA_ASSERT_AT(PageQueryParam, reserved, 16);

OXA_ASSERT_SIZE(FundTransferQueryParam, 8);
OXA_ASSERT_AT(FundTransferQueryParam, serial_id, 0);

OXA_ASSERT_SIZE(TickerQueryParam, 20);
OXA_ASSERT_AT(TickerQueryParam, ticker, 0);
OXA_ASSERT_AT(TickerQueryParam, market, 16);

OXA_ASSERT_SIZE(ETFQueryParam, 20);
OXA_ASSERT_AT(ETFQueryParam, market, 0);
OXA_ASSERT_AT(ETFQueryParam, ticker, 4);

OXA_ASSERT_SIZE(OtherServerFundQueryParam, 84);
OXA_ASSERT_AT(OtherServerFundQueryParam, fund_account, 0);
OXA_ASSERT_AT(OtherServerFundQueryParam, field_16, 16);
OXA_ASSERT_AT(OtherServerFundQueryParam, query_type, 80);

OXA_ASSERT_SIZE(HKConnectSpreadQueryParam, 4);
OXA_ASSERT_AT(HKConnectSpreadQueryParam, ticker_type, 0);

OXA_ASSERT_SIZE(CashRepaySpecifiedDebtInfo, 68);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, id, 0);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, field_8, 8);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, field_16, 16);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, field_32, 32);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, field_48, 48);
OXA_ASSERT_AT(CashRepaySpecifiedDebtInfo, field_64, 64);

OXA_ASSERT_SIZE(CreditRequestParam, 36);
OXA_ASSERT_AT(CreditRequestParam, id, 0);
OXA_ASSERT_AT(CreditRequestParam, field_8, 8);
OXA_ASSERT_AT(CreditRequestParam, field_16, 16);
OXA_ASSERT_AT(CreditRequestParam, field_32, 32);

OXA_ASSERT_SIZE(DebtToRepayQueryParam, 36);
OXA_ASSERT_AT(DebtToRepayQueryParam, req_count, 0);
OXA_ASSERT_AT(DebtToRepayQueryParam, reference, 8);
OXA_ASSERT_AT(DebtToRepayQueryParam, field_16, 16);
OXA_ASSERT_AT(DebtToRepayQueryParam, field_20, 20);

OXA_ASSERT_SIZE(ExecuteOrderInsertInfo, 62);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, order_oxa_id, 0);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, order_client_id, 8);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, field_12, 12);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, quantity, 14);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, business_type, 22);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, field_23, 23);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, market, 26);
OXA_ASSERT_AT(ExecuteOrderInsertInfo, ticker, 30);

OXA_ASSERT_SIZE(OptionCombinedOrderInsertInfo, 189);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, order_oxa_id, 0);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, order_client_id, 8);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, market, 12);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, quantity, 16);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, side, 24);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, field_25, 25);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, strategy_id, 29);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, comb_num, 39);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, num_legs, 57);
OXA_ASSERT_AT(OptionCombinedOrderInsertInfo, legs, 61);

OXA_ASSERT_SIZE(OptionAuctionInfoQueryParam, 20);
OXA_ASSERT_AT(OptionAuctionInfoQueryParam, market, 0);
OXA_ASSERT_AT(OptionAuctionInfoQueryParam, ticker, 4);

OXA_ASSERT_SIZE(OptCombOrderQueryParam, 34);
OXA_ASSERT_AT(OptCombOrderQueryParam, comb_num, 0);
OXA_ASSERT_AT(OptCombOrderQueryParam, field_18, 18);
OXA_ASSERT_AT(OptCombOrderQueryParam, field_26, 26);

OXA_ASSERT_SIZE(OptCombPositionQueryParam, 22);
OXA_ASSERT_AT(OptCombPositionQueryParam, comb_num, 0);
OXA_ASSERT_AT(OptCombPositionQueryParam, market, 18);

OXA_ASSERT_SIZE(OptCombExecPositionQueryParam, 36);
OXA_ASSERT_AT(OptCombExecPositionQueryParam, market, 0);
OXA_ASSERT_AT(OptCombExecPositionQueryParam, cntrt_code_1, 4);
OXA_ASSERT_AT(OptCombExecPositionQueryParam, cntrt_code_2, 20);

OXA_ASSERT_SIZE(OXATerminalInfo, 176);
OXA_ASSERT_AT(OXATerminalInfo, LIP, 0);
OXA_ASSERT_AT(OXATerminalInfo, MAC, 64);
OXA_ASSERT_AT(OXATerminalInfo, HD, 80);
OXA_ASSERT_AT(OXATerminalInfo, term_type, 104);
OXA_ASSERT_AT(OXATerminalInfo, IIP, 108);
OXA_ASSERT_AT(OXATerminalInfo, IPORT, 172);

#undef OXA_ASSERT_SIZE
#undef OXA_ASSERT_AT
