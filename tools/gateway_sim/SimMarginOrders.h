// A small margin order server behind the simulated gateway: orders 0x226, cancels 0x227,
// transfers 0x230, cash repayments 0x232 and 0x234 and credit requests 0x31a, each answered by
// reports published through GatewaySim::publish, so every report is stored under the account's
// next push number (the frame's request id), replayed by synchronisations and subscriptions and
// sent live to the account's push connection.
//
// The margin request carries the application's order record as it wrote it (public values, not
// wire codes), and the server judges it as a gateway would: a market, side or price type it does
// not know, a limit order whose price is not a finite positive number, a quantity of 0 or below or
// an empty ticker refuse the order with a reject report (status 6 and an error code). An accepted
// order fills by the book (a limit buy at or above the ticker's book price, a sell at or below it,
// trades at the book price) or stays working until it is cancelled; a cancel of an order that is
// no longer open is refused with an error in its cancel answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "gateway_sim/SimSpotOrders.h"  // demo_book_prices

namespace oxa_sim {

class GatewaySim;
struct Exchange;

struct MarginOrderConfig {
  bool fill_limit_orders = true;              // off: every accepted order stays working
  // ticker -> the price it trades at (a limit order on a ticker without one fills at its own price)
  std::map<std::string, double> book_prices = demo_book_prices();
  std::int32_t order_reject_error = 200002;   // error code of a refused order's report
  std::int32_t cancel_reject_error = 11000343;   // the cancel answer for an order no longer open
  std::int32_t cancel_unknown_error = 11000344;  // the same for an order the server never saw
  std::int32_t repay_error = 0;        // error code of every repayment answer
  bool repay_error_record = true;      // the repayment answer carries its 128-byte error record
  std::int32_t transfer_error = 0;     // error code of every transfer answer
  std::int32_t credit_error = 0;       // error code of every credit request answer
  std::uint32_t trading_day = 20240102;
  std::int32_t time_hhmmss = 93000;    // time of day in every report
};

class MarginOrderServer {
 public:
  explicit MarginOrderServer(GatewaySim& sim) : sim_(sim) {}

  void set_config(const MarginOrderConfig& c);
  MarginOrderConfig config() const;

  // Orders accepted so far (all accounts); the records the query server answers with: each
  // order's record as last reported (in id order) and the trade records of the account.
  std::size_t order_count() const;
  std::vector<std::vector<std::uint8_t>> order_records(std::uint64_t account) const;
  std::vector<std::vector<std::uint8_t>> trade_records(std::uint64_t account) const;
  // Total repaid by the account so far.
  double repaid(std::uint64_t account) const;

  void on_insert(const Exchange& ex);
  void on_cancel(const Exchange& ex);
  void on_transfer(const Exchange& ex);
  void on_repay(const Exchange& ex);
  void on_repay_debt(const Exchange& ex);
  void on_credit_request(const Exchange& ex);

 private:
  struct Order {
    std::vector<std::uint8_t> latest;  // the 140-byte order record as last reported
    std::int64_t quantity = 0;
    bool open = true;
  };

  void publish(std::uint64_t account, std::uint32_t msg_id, std::vector<std::uint8_t> body);
  void answer_by_id(const Exchange& ex, std::uint32_t msg_id, std::size_t record_length, std::int32_t error);
  std::int64_t timestamp() const;

  GatewaySim& sim_;
  mutable std::mutex mu_;  // one request at a time: the reports of one order keep their order
  MarginOrderConfig cfg_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, Order> orders_;  // account, order id
  std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> trades_;
  std::map<std::uint64_t, double> repaid_;
  std::uint32_t next_exec_ = 0;
};

}  // namespace oxa_sim
