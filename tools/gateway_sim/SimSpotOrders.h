// A small spot order server behind the simulated gateway: inserts 0x111, cancels 0x112 and fund
// transfers 0x113, answered by pushes through GatewaySim::publish so that every push is stored
// under the account's next sequence number, replayed by the synchronisation and sent live to the
// account's push connection.
//
// It judges an order as a gateway would before anything else: wire codes it does not know (byte
// 0 included), a limit order whose price is not a finite positive number, a quantity of 0 or
// below or an empty ticker refuse the order with a reject push (status '7' and an error code);
// such an order never fills. An accepted order fills by the book (see SpotOrderConfig) or stays
// working until it is cancelled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace oxa_sim {

class GatewaySim;
struct Exchange;

// Wire codes the server writes into its pushes.
namespace spot_code {
inline constexpr char kLimitPrice = '2';
inline constexpr char kBuy = '1';
inline constexpr char kStatusAccepted = '2';  // queued, nothing traded
inline constexpr char kStatusFilled = '5';
inline constexpr char kStatusCancelled = '6';
inline constexpr char kStatusRejected = '7';  // refused, nothing traded

// The codes the server knows; any other byte refuses the order.
bool known_market(char c);
bool known_side(char c);
bool known_price_type(char c);
bool known_business(char c);
}  // namespace spot_code

// Faults a script lays on the pushes the server publishes.
struct SpotPushFaults {
  bool duplicate = false;   // every live push is sent a second time under the same number
  bool stale = false;       // and then once more under the number before it
  std::size_t truncate = 0; // when not 0, every push is cut to this many bytes (stored cut too)
};

struct SpotOrderConfig {
  // Fills right after acceptance (off: every accepted order stays working). A limit order fills
  // when its price reaches the ticker's book price (a buy at or above it, a sell at or below it)
  // and trades at the book price; priced away from it, it stays working. A ticker without a book
  // price fills a limit order at its own price. Other price types fill at the book price, and stay
  // working for a ticker without one.
  bool fill_limit_orders = true;
  std::map<std::string, double> book_prices;  // ticker -> the price it trades at
  std::int32_t order_reject_error = 200002;    // error code of the reject push of a refused order
  std::uint32_t transfer_result = 1;  // result code of every 0x124
  std::int32_t cancel_reject_error = 11000343;  // 0x122 for an order that is no longer open
  std::int32_t cancel_unknown_error = 11000344; // 0x122 for an order the server never saw
  std::int32_t time_hhmmss = 93000;  // time of day written into every push
};

// The book prices of the program and the demo: a buy of 600000 at 10.50 or above fills, below it
// stays working.
std::map<std::string, double> demo_book_prices();

class SpotOrderServer {
 public:
  explicit SpotOrderServer(GatewaySim& sim) : sim_(sim) {}

  void set_config(const SpotOrderConfig& c);
  SpotOrderConfig config() const;
  void set_faults(const SpotPushFaults& f);

  // Holding of one account in one ticker after the fills so far.
  std::int64_t holding(std::uint64_t account, const std::string& ticker) const;
  // Orders accepted so far (all accounts).
  std::size_t order_count() const;

  // What the query server answers with, per account: each order's record as last pushed (in
  // order-id order), the trade records, the fund-transfer records and the holdings.
  struct HoldingRow {
    std::string ticker;
    char market = 0;
    std::int64_t quantity = 0;
    double last_price = 0;
  };
  std::vector<std::vector<std::uint8_t>> order_records(std::uint64_t account) const;
  std::vector<std::vector<std::uint8_t>> trade_records(std::uint64_t account) const;
  std::vector<std::vector<std::uint8_t>> transfer_records(std::uint64_t account) const;
  std::vector<HoldingRow> holdings(std::uint64_t account) const;

  void on_insert(const Exchange& ex);
  void on_cancel(const Exchange& ex);
  void on_transfer(const Exchange& ex);

 private:
  struct Order {
    std::vector<std::uint8_t> accepted;  // the 0x121 record as accepted
    std::vector<std::uint8_t> latest;    // the 0x121 record as last pushed
    std::uint64_t order_id = 0;
    std::int64_t quantity = 0;
    bool open = true;
  };
  // account, client id of the order's id, its sequence
  using OrderKey = std::tuple<std::uint64_t, std::uint32_t, std::uint32_t>;

  void push(std::uint64_t account, std::uint32_t msg_id, std::vector<std::uint8_t> body);
  // Why a gateway refuses the order (null: it does not).
  static const char* refusal(char market, char side, char price_type, char business, double price,
                             std::int64_t quantity, const std::string& ticker);

  GatewaySim& sim_;
  mutable std::mutex mu_;  // one request at a time: the pushes of one order keep their order
  SpotOrderConfig cfg_;
  SpotPushFaults faults_;
  std::map<OrderKey, Order> orders_;
  struct Holding {
    std::int64_t quantity = 0;
    char market = 0;
    double last_price = 0;
  };
  std::map<std::pair<std::uint64_t, std::string>, Holding> holdings_;
  std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> trades_;     // account, record
  std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> transfers_;  // account, record
  std::uint32_t next_exch_ = 0;
  std::uint32_t next_exec_ = 0;
};

}  // namespace oxa_sim
