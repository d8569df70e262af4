#include "gateway_sim/SimCli.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace oxa_sim {
namespace {

// The whole text must be a number (decimal, or hex with 0x) within [lo, hi].
bool parse_int(const std::string& text, long long lo, unsigned long long hi, long long* out_signed,
               unsigned long long* out_unsigned) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  if (text[0] == '-') {
    const long long v = std::strtoll(s, &end, 0);
    if (errno != 0 || *end != '\0' || v < lo) return false;
    if (out_signed) *out_signed = v;
    if (out_unsigned) return false;
    return true;
  }
  const unsigned long long v = std::strtoull(s, &end, 0);
  if (errno != 0 || *end != '\0' || v > hi) return false;
  if (out_signed) *out_signed = static_cast<long long>(v);
  if (out_unsigned) *out_unsigned = v;
  return true;
}

template <typename T>
bool parse_unsigned(const std::string& text, T* out) {
  unsigned long long v = 0;
  if (!parse_int(text, 0, std::numeric_limits<T>::max(), nullptr, &v)) return false;
  *out = static_cast<T>(v);
  return true;
}

bool parse_i32(const std::string& text, std::int32_t* out) {
  long long v = 0;
  if (!parse_int(text, std::numeric_limits<std::int32_t>::min(),
                 static_cast<unsigned long long>(std::numeric_limits<std::int32_t>::max()), &v,
                 nullptr))
    return false;
  *out = static_cast<std::int32_t>(v);
  return true;
}

// MSGID=MODE[:ARG]: immediate, never, delayed:MS, late:MS, short:LEN
bool parse_reply(const std::string& text, std::pair<std::uint32_t, ReplyPlan>* out) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return false;
  std::uint32_t msg = 0;
  if (!parse_unsigned(text.substr(0, eq), &msg)) return false;
  std::string mode = text.substr(eq + 1), arg;
  const auto colon = mode.find(':');
  if (colon != std::string::npos) {
    arg = mode.substr(colon + 1);
    mode.resize(colon);
  }
  std::uint32_t n = 0;
  if (mode == "immediate" && arg.empty()) {
    *out = {msg, ReplyPlan::immediate()};
  } else if (mode == "never" && arg.empty()) {
    *out = {msg, ReplyPlan::never()};
  } else if (mode == "delayed" && parse_unsigned(arg, &n)) {
    *out = {msg, ReplyPlan::delayed(Millis(n))};
  } else if (mode == "late" && parse_unsigned(arg, &n)) {
    *out = {msg, ReplyPlan::late(Millis(n))};
  } else if (mode == "short" && parse_unsigned(arg, &n)) {
    *out = {msg, ReplyPlan::short_body(n)};
  } else {
    return false;
  }
  return true;
}

// TICKER=PRICE, a finite price above 0
bool parse_book_price(const std::string& text, std::map<std::string, double>* book) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  const std::string price = text.substr(eq + 1);
  if (price.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(price.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v <= 0) return false;
  (*book)[text.substr(0, eq)] = v;
  return true;
}

// ACC=TYPE
bool parse_account_business(const std::string& text, std::uint64_t* acc, std::uint8_t* type) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return false;
  return parse_unsigned(text.substr(0, eq), acc) && parse_unsigned(text.substr(eq + 1), type);
}

}  // namespace

std::string usage_text() {
  return "usage: oxa_gateway_sim [options]\n"
         "  listens on 127.0.0.1 and prints \"listening on 127.0.0.1:PORT\"\n"
         "  defaults: a spot account logs in (gateway, push registration, spot login, a\n"
         "  synchronisation that ends at once, the subscription)\n"
         "  --port N                   port to listen on (0: a free one; default 0)\n"
         "  --account-business ACC=T   business type answered for one account (repeatable)\n"
         "  --business T               business type of the login answer (default 1)\n"
         "  --fund-account ACC         fund account of the login answer (default: the request's)\n"
         "  --protocol-mode N          protocol mode of the login answer (default 1)\n"
         "  --login-error N            error code of the login answer (default 0)\n"
         "  --hqtrs-ip TEXT            coordinator address of the login answer\n"
         "  --hqtrs-port N             coordinator port of the login answer\n"
         "  --group N                  bus group of the login answer\n"
         "  --member N                 bus member of the login answer\n"
         "  --option-value N           the value at offset 552 of the login answer\n"
         "  --push-reg-error N         error of the push registration answer (default 0)\n"
         "  --logout-error N           error of the logout answer (default 0)\n"
         "  --spot-fund-account ACC    fund account of the spot login answer (default: the request's)\n"
         "  --spot-trading-day N       trading day YYYYMMDD of the spot login answer (default: today)\n"
         "  --spot-fund-index N        fund account index (default: 1, 2, ... per account)\n"
         "  --spot-session-no N        server session number (default: as the fund index)\n"
         "  --spot-order-no-index N    first order number of the session (default: one above\n"
         "                             the highest the account used, 1 for a new account)\n"
         "  --spot-login-error N       error code of the spot login answer (default 0)\n"
         "  --spot-node N              node id of the spot login answer (default 1)\n"
         "  --spot-order-limit N       orders per second (default 0: unlimited)\n"
         "  --spot-query-limit N       queries per second (default 0: unlimited)\n"
         "  --no-spot-orders           leave orders 0x111, cancels 0x112 and transfers 0x113\n"
         "                             unanswered\n"
         "  --no-spot-fill             every accepted order stays working\n"
         "  --spot-price TICKER=PRICE  the price a ticker trades at (repeatable; default: a\n"
         "                             small demo book, 600000 at 10.50): a limit buy at or\n"
         "                             above it or a sell at or below it fills there, any other\n"
         "                             limit order stays working; a ticker without a price\n"
         "                             fills a limit order at its own price\n"
         "  --no-spot-book             no ticker has a price\n"
         "  --spot-reject-error N      error code of the push that refuses an order (default\n"
         "                             200002); refused: unknown codes, a limit price that is\n"
         "                             not a finite positive number, a quantity of 0 or below,\n"
         "                             an empty ticker\n"
         "  --no-spot-queries          leave the spot queries unanswered (default: answered\n"
         "                             from a small demo book and the order server's records)\n"
         "  --spot-transfer-result N   result code of every fund-transfer push (default 1)\n"
         "  --spot-duplicate-pushes    every live order-server push is sent twice\n"
         "  --spot-stale-pushes        and once more under the number before it\n"
         "  --spot-truncate-pushes N   order-server pushes cut to N bytes (0: whole)\n"
         "  --no-subscribe-replay      a subscription pushes no stored pushes before its end\n"
         "  --reply MSGID=MODE         immediate, never, delayed:MS, late:MS or short:LEN\n"
         "                             for requests of MSGID (repeatable)\n"
         "  --no-heartbeat-reply       leave the client's heartbeats unanswered\n"
         "  --offline-request-id N     request id of the off-line command (SIGUSR1)\n"
         "  --offline-trading-day N    trading day of the off-line command (SIGUSR1)\n"
         "  --state-file PATH          keep account ordinals, stored pushes and order numbers\n"
         "                             in PATH and continue from them when started again\n"
         "  --bus                      run the bus side: a coordinator and the order server's\n"
         "                             bus member; logins answer the bus protocol mode and\n"
         "                             name the coordinator, orders and their pushes travel\n"
         "                             over the bus (clients log in with socket type 2)\n"
         "  --bus-coordinator-port N   the bus coordinator's UDP port (default: a free one)\n"
         "  --verbose                  print every received frame\n"
         "signals: SIGUSR1 sends the off-line command 0xf000c to every connection,\n"
         "         SIGUSR2 closes every connection, SIGTERM/SIGINT stop the program\n";
}

bool parse_options(int argc, const char* const* argv, SimOptions& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    std::string val;
    bool has_val = false;
    const auto eq = opt.find('=');
    if (opt.rfind("--", 0) == 0 && eq != std::string::npos) {
      val = opt.substr(eq + 1);
      opt.resize(eq);
      has_val = true;
    }
    auto flag = [&](bool* target) {
      if (has_val) return false;
      *target = true;
      return true;
    };
    auto value = [&]() -> bool {
      if (has_val) return true;
      if (i + 1 >= argc) return false;
      val = argv[++i];
      return true;
    };
    bool ok = false;
    if (opt == "--help" || opt == "-h") {
      ok = flag(&out.help);
    } else if (opt == "--verbose") {
      ok = flag(&out.verbose);
    } else if (opt == "--no-heartbeat-reply") {
      ok = !has_val;
      out.answer_heartbeats = false;
    } else if (opt == "--port") {
      ok = value() && parse_unsigned(val, &out.port);
    } else if (opt == "--account-business") {
      std::uint64_t acc = 0;
      std::uint8_t type = 0;
      ok = value() && parse_account_business(val, &acc, &type);
      if (ok) out.account_business[acc] = type;
    } else if (opt == "--business") {
      ok = value() && parse_unsigned(val, &out.login.business_type);
    } else if (opt == "--fund-account") {
      std::uint64_t acc = 0;
      ok = value() && parse_unsigned(val, &acc);
      if (ok) out.login.fund_account = acc;
    } else if (opt == "--protocol-mode") {
      ok = value() && parse_unsigned(val, &out.login.protocol_mode);
    } else if (opt == "--login-error") {
      ok = value() && parse_i32(val, &out.login.error_code);
    } else if (opt == "--hqtrs-ip") {
      ok = value() && val.size() <= login_rsp::kHqtrsIp.size;
      if (ok) out.login.hqtrs_ip = val;
    } else if (opt == "--hqtrs-port") {
      ok = value() && parse_unsigned(val, &out.login.hqtrs_port);
    } else if (opt == "--group") {
      ok = value() && parse_unsigned(val, &out.login.group_id);
    } else if (opt == "--member") {
      ok = value() && parse_unsigned(val, &out.login.member_id);
    } else if (opt == "--option-value") {
      ok = value() && parse_unsigned(val, &out.login.option_value);
    } else if (opt == "--spot-fund-account") {
      std::uint64_t acc = 0;
      ok = value() && parse_unsigned(val, &acc);
      if (ok) out.spot_login.fund_account = acc;
    } else if (opt == "--spot-trading-day") {
      std::int32_t day = 0;
      ok = value() && parse_i32(val, &day);
      if (ok) out.spot_login.trading_day = day;
    } else if (opt == "--spot-fund-index") {
      std::uint32_t index = 0;
      ok = value() && parse_unsigned(val, &index);
      if (ok) out.spot_login.fund_index = index;
    } else if (opt == "--spot-session-no") {
      std::uint32_t no = 0;
      ok = value() && parse_unsigned(val, &no);
      if (ok) out.spot_login.session_no = no;
    } else if (opt == "--spot-order-no-index") {
      std::int32_t first = 0;
      ok = value() && parse_i32(val, &first);
      if (ok) out.spot_login.order_no_index = first;
    } else if (opt == "--spot-price") {
      ok = value() && parse_book_price(val, &out.spot_book_prices);
    } else if (opt == "--no-spot-book") {
      ok = !has_val;
      out.spot_book_prices.clear();
    } else if (opt == "--spot-reject-error") {
      ok = value() && parse_i32(val, &out.spot_reject_error);
    } else if (opt == "--state-file") {
      ok = value() && !val.empty();
      if (ok) out.state_file = val;
    } else if (opt == "--spot-login-error") {
      ok = value() && parse_i32(val, &out.spot_login.error_code);
    } else if (opt == "--spot-node") {
      ok = value() && parse_i32(val, &out.spot_login.node_id);
    } else if (opt == "--spot-order-limit") {
      ok = value() && parse_i32(val, &out.spot_login.order_limit);
    } else if (opt == "--spot-query-limit") {
      ok = value() && parse_i32(val, &out.spot_login.query_limit);
    } else if (opt == "--no-spot-orders") {
      ok = !has_val;
      out.spot_orders = false;
    } else if (opt == "--no-spot-queries") {
      ok = !has_val;
      out.spot_queries = false;
    } else if (opt == "--no-spot-fill") {
      ok = !has_val;
      out.spot_fill = false;
    } else if (opt == "--spot-duplicate-pushes") {
      ok = !has_val;
      out.spot_faults.duplicate = true;
    } else if (opt == "--spot-stale-pushes") {
      ok = !has_val;
      out.spot_faults.stale = true;
    } else if (opt == "--spot-truncate-pushes") {
      ok = value() && parse_unsigned(val, &out.spot_faults.truncate);
    } else if (opt == "--spot-transfer-result") {
      ok = value() && parse_unsigned(val, &out.spot_transfer_result);
    } else if (opt == "--no-subscribe-replay") {
      ok = !has_val;
      out.subscribe_replay = false;
    } else if (opt == "--push-reg-error") {
      ok = value() && parse_i32(val, &out.push_reg_error);
    } else if (opt == "--logout-error") {
      ok = value() && parse_i32(val, &out.logout_error);
    } else if (opt == "--reply") {
      std::pair<std::uint32_t, ReplyPlan> r;
      ok = value() && parse_reply(val, &r);
      if (ok) out.replies.push_back(r);
    } else if (opt == "--offline-request-id") {
      ok = value() && parse_unsigned(val, &out.offline_request_id);
    } else if (opt == "--offline-trading-day") {
      ok = value() && parse_unsigned(val, &out.offline_trading_day);
    } else if (opt == "--bus") {
      ok = flag(&out.bus);
    } else if (opt == "--bus-coordinator-port") {
      ok = value() && parse_unsigned(val, &out.bus_coordinator_port);
    } else {
      error = "unknown option: " + std::string(argv[i]);
      return false;
    }
    if (!ok) {
      error = "bad or missing value for " + opt;
      return false;
    }
  }
  return true;
}

void apply_options(const SimOptions& opts, GatewaySim& sim) {
  sim.set_login_answer(opts.login);
  sim.set_spot_login_answer(opts.spot_login);
  sim.set_subscribe_replay(opts.subscribe_replay);
  SpotOrderConfig orders = sim.spot_orders().config();
  orders.fill_limit_orders = opts.spot_fill;
  orders.transfer_result = opts.spot_transfer_result;
  orders.book_prices = opts.spot_book_prices;
  orders.order_reject_error = opts.spot_reject_error;
  sim.spot_orders().set_config(orders);
  sim.spot_orders().set_faults(opts.spot_faults);
  sim.enable_spot_orders(opts.spot_orders);
  if (opts.spot_queries) sim.spot_queries().set_book(demo_spot_book());
  sim.enable_spot_queries(opts.spot_queries);
  for (const auto& kv : opts.account_business) sim.set_account_business(kv.first, kv.second);
  sim.set_push_reg_error(opts.push_reg_error);
  sim.set_logout_error(opts.logout_error);
  for (const auto& r : opts.replies) sim.set_reply(r.first, r.second);
  sim.set_answer_heartbeats(opts.answer_heartbeats);
}

std::string describe_frame(const ReceivedFrame& f) {
  char line[200];
  std::snprintf(line, sizeof line,
                "recv conn=%" PRIu64 " type=%u msg=0x%" PRIx32 " req=%" PRIu64
                " async=%u len=%" PRIu32 " crc=%s%s",
                f.conn_id, static_cast<unsigned>(f.content_type), f.msg_id, f.request_id,
                static_cast<unsigned>(f.async_flag), f.body_len, f.crc_ok ? "ok" : "bad",
                f.status == HeaderStatus::kOk ? "" : " (connection closed)");
  return line;
}

}  // namespace oxa_sim
