// The margin query server behind the simulated gateway: answers every margin query of the
// request catalogue from a small book (orders and trades from the margin order server, the rest
// from rows a test or the program puts in), with the paging of each answer family and the faults
// a script can lay on the answers.
//
// Single-record answers go out one record per message, is_last on the last (one message without
// data when there is none); classic paged answers one record per message from the position the
// request asks for, at most its count; extended paged answers a page of records in one message,
// each record carrying its position, so the application asks for the next page from the last
// position + 1. Credit records the library only carries are kept as the server's own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace oxa_sim {

class GatewaySim;
struct Exchange;
class MarginOrderServer;

struct MarginPositionRow {
  std::string ticker;
  std::string name;
  std::int32_t market = 1;
  std::int64_t total = 0;
  std::int64_t sellable = 0;
  double avg_price = 0;
};

struct MarginIpoRow {
  std::string ticker;
  std::string name;
  std::int32_t market = 1;
  std::int32_t ticker_type = 0;
  double price = 0;
};

struct MarginStockRow {  // a pledge or target security, or a debt to repay
  std::string ticker;
  std::int32_t market = 1;
  std::int32_t ratio = 0;   // a target's ratio, in percent
  std::int32_t status = 0;  // a target's status
  std::int64_t values[5] = {};  // a debt's five amounts
};

struct MarginSecurityRow {
  std::string ticker;
  std::string name;
  std::int32_t market = 1;
  std::int32_t ticker_type = 0;
  std::uint8_t suspended = 0;
  double pre_close = 0;
  double upper_limit = 0;
  double lower_limit = 0;
};

struct MarginBook {
  std::vector<MarginPositionRow> positions;
  std::optional<double> asset_total;         // unset: an answer without data
  double asset_buying_power = 0;
  std::optional<double> fund_buying_power;
  // Records of the single-record credit answers (0x255, 0x257, 0x265, 0x267, 0x271, 0x273,
  // 0x281, 0x291, 0x293, 0x305, 0x307, 0x309, 0x31d, 0x31f) and of the classic paged credit
  // answers (0x283, 0x287), by answer id, as the server's bytes.
  std::map<std::uint32_t, std::vector<std::vector<std::uint8_t>>> records;
  std::optional<double> credit_value;  // 0x289
  std::vector<MarginIpoRow> ipos;
  std::optional<double> other_server_fund;
  std::vector<MarginStockRow> pledge_stocks;
  std::vector<MarginStockRow> target_stocks;
  std::vector<MarginStockRow> debts;
  std::vector<MarginSecurityRow> securities;
};

// A small book for the program and the demo.
MarginBook demo_margin_book();

struct MarginQueryPaging {
  bool ignore_start = false;  // paged answers start from the first record whatever is asked
  std::size_t overfill = 0;   // paged and extended answers carry this many records beyond the page
  std::uint32_t stride = 0;   // record size written in extended answers (records laid out at it)
  std::size_t cut_to = 0;     // when not 0, every answer message is cut to this many bytes
  std::int32_t error = 0;     // error code in every head (an error record behind it)
};

class MarginQueryServer {
 public:
  MarginQueryServer(GatewaySim& sim, std::shared_ptr<MarginOrderServer> orders)
      : sim_(sim), orders_(std::move(orders)) {}

  void set_book(const MarginBook& b);
  MarginBook book() const;
  void set_paging(const MarginQueryPaging& p);

  // Every query request id this server answers.
  static const std::vector<std::uint32_t>& request_ids();
  void on_query(const Exchange& ex);

 private:
  GatewaySim& sim_;
  std::shared_ptr<MarginOrderServer> orders_;
  mutable std::mutex mu_;
  MarginBook book_;
  MarginQueryPaging paging_;
};

}  // namespace oxa_sim
