// What the option side of the simulated gateway keeps, shared by its order and query servers.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gateway_sim/SimOption.h"

namespace oxa_sim {

// A fund transfer the order server answered.
struct OptionTransfer {
  std::uint64_t account = 0;
  std::uint64_t serial_id = 0;
  char side = 0;
  double amount = 0;
  char status = 0;
  std::int64_t time = 0;
};

struct SimOption::State {
  mutable std::mutex mu;
  OptionLoginAnswer answer;
  std::map<std::uint64_t, OptionLoginAnswer> account_answer;
  std::map<std::uint64_t, std::uint32_t> ordinals;
  std::optional<LoginAnswer> expected_gateway;
  std::int32_t echo_error = 9901;
  std::size_t rows_per_page = 2;
  std::vector<OptionLoginRequest> logins;
  std::vector<OptionSyncRequest> syncs;
  std::vector<OptionSubscribeRequest> subscribes;
  std::vector<OptionOrderRequest> orders;
  OptionOrderConfig order_config;
  std::vector<OptionOrder> book;  // the orders taken, in order
  std::vector<OptionTrade> trades;
  std::vector<OptionTransfer> transfers;
  OptionBook option_book = demo_option_book();
  OptionQueryPaging paging;
  std::uint64_t next_local_no = 1;
  std::uint64_t next_report = 1;
};

// The kind of a contract the sim knows only by its code: an odd last digit is a call.
inline char call_or_put_of(const std::string& code) {
  const char last = code.empty() ? '0' : code.back();
  return (last - '0') % 2 ? 'C' : 'P';
}

// Answers one query request from the state (the query server).
void on_option_query(SimOption::State& st, const Exchange& ex);

}  // namespace oxa_sim
