// The option query server of the simulated gateway: answers every option query from a small
// book. Orders, trades, combination orders and trades and fund transfers come from the option
// order server; positions, asset, contract information, combination positions, strategies and
// positions for combined exercise from rows a test or the program puts in.
//
// Self-continuing families answer rows_per_page rows after the position the request asks from
// (every row numbered by its place in the whole result, the total in the head); paged families
// answer from the request's reference, at most its count (rows_per_page when 0); the strategy
// answer sends every page itself, the last one flagged. Faults a script lays on the answers: the
// position ignored (the same page again), a cut, an error code (on every answer, or on the next
// pages asked for), a record size, a negative count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oxa_sim {

struct OptionPositionRow {
  std::string ticker;
  std::string name;
  std::int32_t market = 1;
  char direction = 'L';
  std::int64_t yesterday = 0;
  std::int64_t total = 0;
  std::int64_t sellable = 0;
  double avg_price = 0;
  double pnl = 0;
};

struct OptionAssetRow {
  double total_asset = 0;
  double buying_power = 0;
  double withholding = 0;
  std::int32_t account_type = 0;
  double frozen_margin = 0;
  double balance = 0;
  double preferred = 0;
};

struct OptionAuctionRow {
  std::string ticker;
  std::int32_t market = 1;
  std::string symbol;
  std::string contract_id;
  std::string underlying;
  std::string list_date;  // decimal texts, as the gateway sends them
  std::string last_trade_date;
  char call_or_put = 'C';
  std::string delivery_day;
  char exercise_type = 'E';
  std::string exercise_begin;
  std::string exercise_end;
  double exercise_price = 0;
  std::int64_t qty_unit = 0;
  std::int64_t contract_unit = 0;
  double prev_close = 0;
  double price_tick = 0;
  double upper_limit = 0;
  double lower_limit = 0;
  std::int64_t lmt_min = 0, lmt_buy_max = 0, lmt_sell_max = 0;
  std::int64_t mkt_min = 0, mkt_buy_max = 0, mkt_sell_max = 0;
};

struct OptionCombPositionRow {
  std::string comb_num;
  std::string strategy;
  std::string strategy_name;
  std::int32_t market = 1;
  std::int64_t yesterday = 0, total = 0, available = 0;
  struct Leg {
    std::string security;
    char call_or_put = 'C';
    char side = 'L';  // 'L' long, 'S' short, 'C' covered
    std::int64_t qty = 0;
  };
  std::int16_t leg_count = 2;
  Leg legs[2];
};

struct OptionStrategyRow {
  char market = '0';
  std::string id;
  std::string name;
  char underlying_type = 'N';
  char split_type = 'D';
  std::string expire_type = "1";
  struct Leg {
    char call_or_put = 'C';
    char side = 'L';
    std::uint16_t price_seq = 0;
    std::int16_t expire_seq = 0;
    std::int16_t qty = 0;
  };
  std::int16_t leg_count = 0;
  Leg legs[4];
};

struct OptionExecPositionRow {
  std::int32_t market = 1;
  std::string code_1, name_1, code_2, name_2;
  char call_or_put_1 = 'C', call_or_put_2 = 'P';
  std::int64_t avl_1 = 0, orig_own_1 = 0, own_1 = 0;
  std::int64_t avl_2 = 0, orig_own_2 = 0, own_2 = 0;
  std::int64_t net = 0, order = 0, confirm = 0, avl = 0;
};

// What the server answers with besides the order server's records.
struct OptionBook {
  std::vector<OptionPositionRow> positions;
  std::optional<OptionAssetRow> asset;  // unset: answers without a record
  std::vector<OptionAuctionRow> auctions;
  std::vector<OptionCombPositionRow> comb_positions;
  std::vector<OptionStrategyRow> strategies;
  std::vector<OptionExecPositionRow> exec_positions;
};

// A small book for the program and the demo.
OptionBook demo_option_book();

struct OptionQueryPaging {
  std::size_t rows_per_page = 2;          // at least 1
  bool ignore_position = false;           // every request answered with its first page
  std::size_t cut_to = 0;                 // not 0: every answer cut to this many bytes
  std::int32_t error = 0;                 // written into every answer head (with no rows)
  // The next this many requests of a self-continuing family that ask for a page beyond the
  // first are answered with next_page_error instead (with no rows), one each.
  std::size_t next_page_errors = 0;
  std::int32_t next_page_error = 0;
  std::optional<std::uint32_t> row_size;  // written as the record size (rows laid out at it)
  bool negative_count = false;            // the record count written as -1
};

// Every option query request id the server answers.
const std::vector<std::uint32_t>& option_query_request_ids();

}  // namespace oxa_sim
