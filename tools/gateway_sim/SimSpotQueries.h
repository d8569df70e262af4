// The spot query server behind the simulated gateway: answers every spot query from a book
// (orders, trades, holdings and transfers come from the order server, the rest from rows a test
// or the program puts in), with the paging each answer family uses and faults a script can lay on
// the answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway_sim/SimQueryWire.h"

namespace oxa_sim {

class GatewaySim;
struct Exchange;

// Rows of the book, in the gateway's own terms. Market and type fields are the wire characters.
struct PositionRow {
  std::string ticker;
  char market = '1';
  std::int64_t total = 0;
  std::int64_t sellable = 0;
  std::int64_t yesterday = 0;
  std::int64_t redeemable = 0;
  std::int64_t redeemable_alt = 0;  // read by the client when redeemable is 0
  double avg_price = 0;
  std::string name;  // sent after the record by the by-page answer when not empty
};

struct AssetRow {
  double total = 0;
  double available = 0;  // today's; yesterday's rows carry the negative marker here instead
  double balance = 0;
  double frozen = 0;
  double market_value = 0;
  double fund_value = 0;
  double yesterday_balance = 0;
};

struct FundRow {
  double available = 0;
  double frozen = 0;
  double fetchable = 0;
  double initial = 0;
};

struct EtfRow {
  std::string fund_code;
  std::string ticker;
  char market = '1';
  std::uint32_t unit = 0;
  char subscribe_flag = '1';
  char redeem_flag = '1';
  double cash_component = 0;
  double nav = 0;
  double nav_per_unit = 0;
  double estimated_cash = 0;
  double max_cash_ratio = 0;
  std::string flags = "00000";  // five digits
};

struct BasketRow {
  std::string etf;
  char etf_market = '1';
  std::string component;
  char component_market = '1';
  std::int32_t quantity = 0;
  char replace_flag = '0';
  double premium = 0;
  double discount = 0;
  double amount = 0;
  double redeem_amount = 0;
};

struct IpoRow {
  std::string ticker;
  char market = '1';
  char type[2] = {'0', '1'};
  double price = 0;
  std::int32_t unit = 0;
  std::string name;
  double min_qty = 0;
  double max_qty = 0;
  std::int32_t date = 0;
};

struct IpoQuotaRow {
  char market = '1';
  std::uint64_t quota = 0;
  std::uint64_t tech_quota = 0;
};

struct IssueRow {
  std::string ticker;
  char market = '1';
  char type[2] = {'0', '1'};
  double price = 0;
  std::uint64_t max_qty = 0;
};

struct SecurityRow {
  std::string ticker;
  char market = '1';
  char type[2] = {'0', '1'};
  std::uint8_t suspended = 0;
  double pre_close = 0;
  double upper_limit = 0;
  double lower_limit = 0;
  std::int64_t lot_size = 0;
  double tick_size = 0;
  std::string name;
};

struct SpreadRow {
  double from = 0;
  double to = 0;
  double tick = 0;
};

// Everything the server answers with besides the order server's records.
struct SpotBook {
  std::vector<PositionRow> positions;
  std::optional<AssetRow> asset;            // unset: an answer without records
  std::vector<AssetRow> yesterday_assets;
  std::optional<FundRow> fund;
  std::optional<double> other_server_fund;  // the amount at the other server
  std::vector<EtfRow> etfs;
  std::vector<BasketRow> baskets;
  std::vector<IpoRow> ipos;
  std::vector<IpoQuotaRow> ipo_quotas;
  std::vector<IssueRow> issues;
  std::vector<SecurityRow> securities;
  std::vector<SpreadRow> spreads;
  std::optional<std::array<double, 4>> hk_rate;  // unset: the answer carries hk_rate_error
  std::int32_t hk_rate_error = 0;
};

// A small book for the program and the demo.
SpotBook demo_spot_book();

// How answers go out and the faults laid on them.
struct SpotQueryPaging {
  // Classic list answers: at most this many records per message, is_last on the last (0: all
  // in one message).
  std::size_t per_message = 0;
  // Paged answers start from the first record whatever position the request asks for.
  bool ignore_start = false;
  // Paged and extended answers carry this many records beyond the page asked for.
  std::size_t overfill = 0;
  // Stride written in extended answers (records are laid out at it); 0: 4 + the body length.
  std::uint32_t stride = 0;
  // When not 0, every answer message is cut to this many bytes.
  std::size_t cut_to = 0;
  // Error code written into every answer head.
  std::int32_t error = 0;
};

class SpotQueryServer {
 public:
  explicit SpotQueryServer(GatewaySim& sim) : sim_(sim) {}

  void set_book(const SpotBook& b);
  SpotBook book() const;
  void set_paging(const SpotQueryPaging& p);

  // Every query request id this server answers.
  static const std::vector<std::uint32_t>& request_ids();
  void on_query(const Exchange& ex);

 private:
  GatewaySim& sim_;
  mutable std::mutex mu_;
  SpotBook book_;
  SpotQueryPaging paging_;
};

// Wire records of the rows, built from the server's own layouts.
std::vector<std::uint8_t> position_record(const PositionRow& r);
std::vector<std::uint8_t> asset_record(const AssetRow& r, bool yesterday);
std::vector<std::uint8_t> fund_record(const FundRow& r);
std::vector<std::uint8_t> etf_record(const EtfRow& r);
std::vector<std::uint8_t> basket_record(const BasketRow& r);
std::vector<std::uint8_t> ipo_record(const IpoRow& r);
std::vector<std::uint8_t> ipo_quota_record(const IpoQuotaRow& r);
std::vector<std::uint8_t> issue_record(const IssueRow& r);
std::vector<std::uint8_t> security_record(const SecurityRow& r);
std::vector<std::uint8_t> spread_record(const SpreadRow& r);

}  // namespace oxa_sim
