// The option side of the simulated gateway: the option core login 0x401 (answered by 0x500,
// its echoes of the gateway login answer checked), the replay of stored option pushes 0x460
// (answered by 0x56a pages), the subscription 0x416 (answered by 0x521), and an order server for
// every order-like request (0x402 to 0x407, 0x45b), recorded as it came and answered by pushes.
//
// The order server publishes its pushes through GatewaySim::publish: each is stored under the
// account's next push number (the replay serves them, two rows a page by default) and sent live
// to the connection that registered the account for pushes. A single-leg order is accepted
// (0x502, status '2'); a limit order ('2','0') with a positive price and quantity then fills at
// once at the ticker's book price when it crosses it, at its own price for a ticker without one
// (0x510, then 0x502 status '8'), and stays working otherwise. An order it cannot take (no
// ticker, a quantity of 0 or below, an unknown price type) is refused (0x502 status '9'). A
// cancel of a working order answers 0x506 without error and the order's 0x502 status '6'; of any
// other order 0x506 with an error. A combination order is accepted (0x50a '2') and fills the
// same way (0x511, 0x50a '8'); lock and unlock orders are done at once (0x508 '8'); exercises
// are accepted (0x50c / 0x50e '2'); a fund transfer is answered by 0x565. A combination leg's
// call-or-put comes from its code (an odd last digit is a call).
//
// The query server (SimOptionQueries.h) answers every option query from the orders, trades and
// transfers above and a small book (demo_option_book() until set_book).
//
// Reply modes come from the sim's own plans: set_reply / queue_reply on 0x401, 0x460 or 0x416
// give immediate, delayed, never or late answers; an error answer is a login answer with an
// error code. The business of an account is chosen with GatewaySim::set_account_business, so
// spot, margin and option accounts log in side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimOptionQueries.h"
#include "gateway_sim/SimOptionWire.h"
#include "gateway_sim/SimPushStore.h"

namespace oxa_sim {

// Every field of the option login answer 0x500; unset ones take the default named.
struct OptionLoginAnswer {
  std::optional<std::uint64_t> fund_account;  // unset: the account of the request
  std::optional<std::uint64_t> session_no;    // unset: 5000 + the account's ordinal at this sim
  std::int32_t error_code = 0;
  std::optional<std::uint32_t> date;          // YYYYMMDD; unset: today's local date
  std::uint32_t node_id = 3;
  std::optional<std::uint64_t> fund_index;    // unset: the account's ordinal (1, 2, ...)
  std::uint64_t cur_order_id = 0;             // last order number of the account
  std::int32_t order_limit = 0;               // per second; 0 or less: unlimited
  std::int32_t query_limit = 0;
};

// A 0x401 as received; fields a short body lacks read as 0.
struct OptionLoginRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;  // of the frame
  bool complete = false;         // the body has the whole 315 bytes
  std::uint64_t fund_account = 0;
  std::uint64_t option_value = 0;
  std::uint64_t request_seq = 0;
  std::uint16_t client_id = 0;
  std::uint16_t protocol_mode = 0;
  std::uint64_t msg_const = 0;
  std::uint8_t marker = 0;
  std::string terminal_info;
  std::vector<std::uint8_t> gateway_block;  // bytes 293-314
  // The request is whole, carries 0x401 and 'P', its request sequence is the frame's request id
  // and its echoes equal the gateway login answer (value at 552, bytes 14-35, protocol mode).
  bool echo_ok = false;
};

struct OptionSyncRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;
  bool complete = false;
  std::uint64_t session = 0;
  std::uint64_t request_seq = 0;
  std::int32_t position = 0;
  std::uint8_t flag = 0;
  std::int32_t start_seq = 0;
  std::uint64_t fund_account = 0;
};

struct OptionSubscribeRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;
  bool complete = false;
  std::uint64_t session_no = 0;
  std::uint64_t request_seq = 0;
  std::int32_t start_seq = 0;
  std::uint64_t fund_account = 0;
};

// How the order server answers.
struct OptionOrderConfig {
  bool answer_orders = true;       // off: order-like requests are only recorded
  bool fill_limit_orders = true;   // off: every accepted order stays working
  std::map<std::string, double> book_prices;  // ticker -> the price it trades at
  std::int32_t reject_error = 200002;          // error of the push refusing an order
  std::int32_t cancel_reject_error = 11000343;  // 0x506 for an order that is not working
  char transfer_status = '2';
  // YYYYMMDDHHMMSSmmm written into every time field; unset: the local time now.
  std::optional<std::int64_t> time;
};

// One order the server took, as its pushes and the query server report it.
struct OptionOrder {
  std::uint64_t account = 0;
  std::uint64_t session_no = 0;
  std::uint32_t msg_id = 0;  // the request's: 0x402, 0x404, 0x405, 0x406, 0x407
  std::uint64_t order_id = 0;
  std::uint64_t client_order_id = 0;
  std::uint64_t local_no = 0;  // the server's order number
  std::string ticker;          // the second security of a combined exercise in ticker2
  std::string ticker2;
  std::int32_t market = 0;
  double price = 0;
  std::int64_t quantity = 0;
  char price_type[2] = {0, 0};
  char covered = ' ';
  char side = 0;
  char effect = 0;
  char status = 0;
  std::int64_t traded = 0;
  double amount = 0;
  std::int64_t insert_time = 0;
  std::int64_t update_time = 0;
  std::int64_t cancel_time = 0;
  std::uint64_t cancel_id = 0;  // the cancel that ended it
  // combinations
  std::string strategy;
  std::string comb_num;
  std::int16_t legs = 0;
  char leg_side[4] = {0, 0, 0, 0};
  char leg_covered[4] = {0, 0, 0, 0};
  std::int64_t leg_qty[4] = {0, 0, 0, 0};
  std::string leg_security[4];
};

// One trade the server made.
struct OptionTrade {
  std::uint64_t account = 0;
  std::uint64_t order_id = 0;
  bool combination = false;
  std::string exec_id;
  double price = 0;
  std::int64_t quantity = 0;
  std::int64_t time = 0;
  std::uint64_t report_index = 0;
};

// An order-like request as received, whole.
struct OptionOrderRequest {
  std::uint64_t conn_id = 0;
  std::uint32_t msg_id = 0;
  std::uint64_t request_id = 0;
  std::uint64_t session_no = 0;
  std::uint64_t fund_account = 0;
  std::uint64_t order_id = 0;  // the new id at 16 (the serial id of a transfer)
  std::vector<std::uint8_t> body;
};

OptionLoginRequest decode_option_login(const ReceivedFrame& f);
OptionSyncRequest decode_option_sync(const ReceivedFrame& f);
OptionSubscribeRequest decode_option_subscribe(const ReceivedFrame& f);
std::vector<std::uint8_t> make_option_login_answer(const OptionLoginAnswer& a, std::uint64_t request_account,
                                                   std::uint32_t ordinal);

class SimOption {
 public:
  // Installs the option handlers on sim (through GatewaySim::on); the destructor removes them,
  // so the object must not outlive sim. A handler still running keeps the state it shares.
  explicit SimOption(GatewaySim& sim);
  ~SimOption();
  SimOption(const SimOption&) = delete;
  SimOption& operator=(const SimOption&) = delete;

  void set_login_answer(const OptionLoginAnswer& a);
  void set_account_login_answer(std::uint64_t account, const OptionLoginAnswer& a);
  // What the echoes are checked against; unset: the sim's login answer when the 0x401 comes.
  void set_expected_gateway_answer(const LoginAnswer& a);
  // The error code answered to a login whose echoes are wrong (default 9901; 0 answers as set).
  void set_echo_error(std::int32_t code);
  // Rows per replay page (default 2, at least 1).
  void set_rows_per_page(std::size_t rows);

  void set_order_config(const OptionOrderConfig& c);
  OptionOrderConfig order_config() const;
  // The query server's book besides the orders, trades and transfers, and its paging and faults.
  void set_book(const OptionBook& b);
  void set_query_paging(const OptionQueryPaging& p);

  // The orders and trades the server made, in order.
  std::vector<OptionOrder> orders() const;
  std::vector<OptionTrade> trades() const;

  // The pushes a replay serves: the sim's push store, per account and numbered from 1.
  PushStore& pushes();

  std::vector<OptionLoginRequest> login_requests() const;
  std::vector<OptionSyncRequest> sync_requests() const;
  std::vector<OptionSubscribeRequest> subscribe_requests() const;
  std::vector<OptionOrderRequest> order_requests() const;

  struct State;

 private:
  GatewaySim& sim_;
  std::shared_ptr<State> state_;
};

}  // namespace oxa_sim
