// Command line of the oxa_gateway_sim program, kept in the library so tests can check it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {

struct SimOptions {
  std::uint16_t port = 0;
  LoginAnswer login;
  SpotLoginAnswer spot_login;
  bool subscribe_replay = true;
  bool spot_orders = true;  // the order server answers inserts, cancels and transfers
  bool spot_fill = true;
  bool spot_queries = true;  // the query server answers from the demo book
  std::uint32_t spot_transfer_result = 1;
  std::map<std::string, double> spot_book_prices = demo_book_prices();
  std::int32_t spot_reject_error = SpotOrderConfig{}.order_reject_error;
  std::string state_file;  // empty: nothing is kept over a restart
  SpotPushFaults spot_faults;
  std::map<std::uint64_t, std::uint8_t> account_business;
  std::int32_t push_reg_error = 0;
  std::int32_t logout_error = 0;
  std::vector<std::pair<std::uint32_t, ReplyPlan>> replies;
  bool answer_heartbeats = true;
  bool verbose = false;
  std::uint64_t offline_request_id = 0;
  std::uint64_t offline_trading_day = 0;
  // The bus side (SimBus): logins answer the bus protocol mode, orders come over the bus.
  bool bus = false;
  std::uint16_t bus_coordinator_port = 0;  // 0: a free one
  bool help = false;
};

// False with a message in `error` for an unknown option or a value that does not parse.
bool parse_options(int argc, const char* const* argv, SimOptions& out, std::string& error);
void apply_options(const SimOptions& opts, GatewaySim& sim);
std::string usage_text();
// One line per received frame, for --verbose.
std::string describe_frame(const ReceivedFrame& f);

}  // namespace oxa_sim
