#include "gateway_sim/SimMarginOrders.h"

#include <cmath>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimMarginWire.h"

namespace oxa_sim {

namespace {

// A field of a record that sits `base` bytes into its message.
WireField at(const WireField& f, std::size_t base) { return WireField{f.name, base + f.offset, f.size}; }

constexpr std::size_t kHead = margin_push_payload::kHeadLength;

// A report: the push head with the session number, the record, and the error record when asked.
struct Report {
  WireWriter w;
  std::size_t record_length;
  Report(std::uint64_t session_no, std::size_t record_length, bool with_error)
      : w(kHead + record_length + (with_error ? margin_error::kLength : 0)), record_length(record_length) {
    w.put_uint(margin_push_payload::kSession, session_no);
  }
  void error(std::int32_t code, const std::string& text) {
    w.put_int(WireField{"error_id", kHead + record_length, 4}, code);
    w.put_text(WireField{"error_msg", kHead + record_length + 4, 124}, text);
  }
};

bool known_market(std::int64_t v) { return v >= 1 && v <= 5; }
bool known_side(std::int64_t v) { return v == 1 || v == 2; }
bool known_price_type(std::int64_t v) { return v >= 1 && v <= 10; }
constexpr std::int64_t kLimitPrice = 1;
constexpr std::int64_t kBuy = 1;

const char* refusal(std::int64_t market, std::int64_t side, std::int64_t price_type, double price,
                    std::int64_t quantity, const std::string& ticker) {
  if (!known_market(market)) return "unknown market";
  if (!known_side(side)) return "unknown side";
  if (!known_price_type(price_type)) return "unknown price type";
  if (price_type == kLimitPrice && !(std::isfinite(price) && price > 0)) return "limit price not a finite positive number";
  if (quantity <= 0) return "quantity not above 0";
  if (ticker.empty()) return "empty ticker";
  return nullptr;
}

std::uint64_t u64(const WireReader& r, const WireField& f) { return r.get_uint(f).value_or(0); }

}  // namespace

void MarginOrderServer::set_config(const MarginOrderConfig& c) {
  std::lock_guard<std::mutex> lk(mu_);
  cfg_ = c;
}

MarginOrderConfig MarginOrderServer::config() const {
  std::lock_guard<std::mutex> lk(mu_);
  return cfg_;
}

std::size_t MarginOrderServer::order_count() const {
  std::lock_guard<std::mutex> lk(mu_);
  return orders_.size();
}

std::vector<std::vector<std::uint8_t>> MarginOrderServer::order_records(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& o : orders_)
    if (o.first.first == account) out.push_back(o.second.latest);
  return out;
}

std::vector<std::vector<std::uint8_t>> MarginOrderServer::trade_records(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& t : trades_)
    if (t.first == account) out.push_back(t.second);
  return out;
}

double MarginOrderServer::repaid(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = repaid_.find(account);
  return it == repaid_.end() ? 0 : it->second;
}

std::int64_t MarginOrderServer::timestamp() const {
  return static_cast<std::int64_t>(cfg_.trading_day) * 1000000000 + static_cast<std::int64_t>(cfg_.time_hhmmss) * 1000;
}

void MarginOrderServer::publish(std::uint64_t account, std::uint32_t msg_id, std::vector<std::uint8_t> body) {
  sim_.publish(account, msg_id, std::move(body));
}

void MarginOrderServer::on_insert(const Exchange& ex) {
  namespace Q = margin_order_req;
  namespace R = margin_order_rec;
  const WireReader r(ex.request.body);
  const std::uint64_t account = u64(r, margin_req_head::kFundAccount);
  const std::uint64_t session_no = u64(r, margin_req_head::kSessionNo);
  const std::uint64_t order_id = u64(r, Q::kOrderId);
  sim_.note_order_number(account, order_id);
  const std::int64_t market = static_cast<std::int32_t>(u64(r, Q::kMarket));
  const std::int64_t side = static_cast<std::int64_t>(u64(r, Q::kSide));
  const std::int64_t price_type = static_cast<std::int32_t>(u64(r, Q::kPriceType));
  const double price = r.get_double(Q::kPrice).value_or(0);
  const std::int64_t quantity = static_cast<std::int64_t>(u64(r, Q::kQuantity));
  const std::string ticker = r.get_text(Q::kTicker).value_or("");

  std::lock_guard<std::mutex> lk(mu_);
  const std::int64_t now = timestamp();
  Report rep(session_no, R::kLength, true);
  WireWriter& w = rep.w;
  w.put_uint(at(R::kOrderId, kHead), order_id);
  w.put_uint(at(R::kOrderClientId, kHead), u64(r, Q::kOrderClientId));
  w.put_text(at(R::kTicker, kHead), ticker);
  w.put_int(at(R::kMarket, kHead), market);
  w.put_double(at(R::kPrice, kHead), price);
  w.put_int(at(R::kQuantity, kHead), quantity);
  w.put_int(at(R::kPriceType, kHead), price_type);
  w.put_uint(at(R::kSide, kHead), static_cast<std::uint64_t>(side));
  w.put_uint(at(R::kPositionEffect, kHead), u64(r, Q::kPositionEffect));
  w.put_uint(at(R::kClientId, kHead), u64(r, Q::kClientId));
  w.put_uint(at(R::kBusinessType, kHead), u64(r, Q::kBusinessType));
  w.put_int(at(R::kInsertTime, kHead), now);
  w.put_int(at(R::kUpdateTime, kHead), now);
  w.put_text(at(R::kLocalId, kHead), std::to_string(order_id & 0xffffffffu));
  w.put_uint(at(R::kOrderType, kHead), '0');

  if (const char* why = refusal(market, side, price_type, price, quantity, ticker)) {
    w.put_int(at(R::kStatus, kHead), R::kStatusRejected);
    w.put_int(at(R::kQtyLeft, kHead), quantity);
    rep.error(cfg_.order_reject_error, why);
    publish(account, kMsgMarginOrderPush, w.take());
    return;
  }
  w.put_int(at(R::kStatus, kHead), R::kStatusWorking);
  w.put_int(at(R::kSubmitStatus, kHead), 2);
  w.put_int(at(R::kQtyLeft, kHead), quantity);
  Order& order = orders_[{account, order_id}];
  order.quantity = quantity;
  order.latest.assign(w.bytes().begin() + kHead, w.bytes().begin() + kHead + R::kLength);
  publish(account, kMsgMarginOrderPush, w.bytes());

  // the fill rule
  if (!cfg_.fill_limit_orders) return;
  auto book = cfg_.book_prices.find(ticker);
  double fill_price = 0;
  if (price_type == kLimitPrice) {
    if (book == cfg_.book_prices.end()) {
      fill_price = price;
    } else if (side == kBuy ? price >= book->second : price <= book->second) {
      fill_price = book->second;
    } else {
      return;  // priced away from the book: stays working
    }
  } else {
    if (book == cfg_.book_prices.end()) return;
    fill_price = book->second;
  }
  const double amount = fill_price * static_cast<double>(quantity);
  w.put_int(at(R::kStatus, kHead), R::kStatusFilled);
  w.put_int(at(R::kQtyTraded, kHead), quantity);
  w.put_int(at(R::kQtyLeft, kHead), 0);
  w.put_double(at(R::kTradeAmount, kHead), amount);
  order.open = false;
  order.latest.assign(w.bytes().begin() + kHead, w.bytes().begin() + kHead + R::kLength);
  publish(account, kMsgMarginOrderPush, w.bytes());

  namespace T = margin_trade_rec;
  WireWriter t(kHead + T::kLength);
  t.put_uint(margin_push_payload::kSession, session_no);
  t.put_uint(at(T::kOrderId, kHead), order_id);
  t.put_uint(at(T::kOrderClientId, kHead), u64(r, Q::kOrderClientId));
  t.put_text(at(T::kTicker, kHead), ticker);
  t.put_int(at(T::kMarket, kHead), market);
  t.put_int(at(T::kPriceType, kHead), price_type);
  t.put_text(at(T::kExecId, kHead), "E" + std::to_string(++next_exec_));
  t.put_double(at(T::kPrice, kHead), fill_price);
  t.put_int(at(T::kQuantity, kHead), quantity);
  t.put_int(at(T::kTradeTime, kHead), now);
  t.put_double(at(T::kTradeAmount, kHead), amount);
  t.put_uint(at(T::kReportIndex, kHead), next_exec_);
  t.put_text(at(T::kExchId, kHead), "X" + std::to_string(order_id & 0xffffffffu));
  t.put_uint(at(T::kTradeType, kHead), '0');
  t.put_uint(at(T::kSide, kHead), static_cast<std::uint64_t>(side));
  t.put_uint(at(T::kClientId, kHead), u64(r, Q::kClientId));
  t.put_uint(at(T::kBusinessType, kHead), u64(r, Q::kBusinessType));
  trades_.emplace_back(account, std::vector<std::uint8_t>(t.bytes().begin() + kHead, t.bytes().end()));
  publish(account, kMsgMarginTradePush, t.take());
}

void MarginOrderServer::on_cancel(const Exchange& ex) {
  namespace C = margin_cancel_req;
  namespace A = margin_cancel_answer;
  namespace R = margin_order_rec;
  const WireReader r(ex.request.body);
  const std::uint64_t account = u64(r, margin_req_head::kFundAccount);
  const std::uint64_t session_no = u64(r, margin_req_head::kSessionNo);
  const std::uint64_t cancel_id = u64(r, C::kCancelId);
  const std::uint64_t order_id = u64(r, C::kOrderId);
  sim_.note_order_number(account, cancel_id);

  std::lock_guard<std::mutex> lk(mu_);
  auto it = orders_.find({account, order_id});
  std::int32_t error = 0;
  std::string text;
  if (it == orders_.end()) {
    error = cfg_.cancel_unknown_error;
    text = "order not found";
  } else if (!it->second.open) {
    error = cfg_.cancel_reject_error;
    text = "order no longer open";
  }
  WireWriter a(A::kLength);
  a.put_uint(margin_push_payload::kSession, session_no);
  a.put_uint(A::kCancelId, cancel_id);
  a.put_uint(A::kOrderId, order_id);
  a.put_int(A::kErrorId, error);
  a.put_text(A::kErrorMsg, text);
  publish(account, kMsgMarginCancelAnswer, a.take());
  if (error != 0) return;

  Order& order = it->second;
  order.open = false;
  WireWriter w(kHead + R::kLength + margin_error::kLength);
  w.put_uint(margin_push_payload::kSession, session_no);
  w.put_bytes(WireField{"order", kHead, R::kLength}, order.latest.data(), order.latest.size());
  w.put_uint(at(R::kCancelId, kHead), cancel_id);
  w.put_int(at(R::kStatus, kHead), R::kStatusCancelled);
  w.put_int(at(R::kSubmitStatus, kHead), 6);
  w.put_int(at(R::kCancelTime, kHead), timestamp());
  w.put_int(at(R::kUpdateTime, kHead), timestamp());
  order.latest.assign(w.bytes().begin() + kHead, w.bytes().begin() + kHead + R::kLength);
  publish(account, kMsgMarginOrderPush, w.take());
}

void MarginOrderServer::on_transfer(const Exchange& ex) {
  namespace Q = margin_transfer_req;
  namespace T = margin_transfer_rec;
  const WireReader r(ex.request.body);
  const std::uint64_t account = u64(r, margin_req_head::kFundAccount);
  const std::uint64_t serial = u64(r, Q::kSerialId);
  sim_.note_order_number(account, serial);
  std::lock_guard<std::mutex> lk(mu_);
  Report rep(u64(r, margin_req_head::kSessionNo), T::kLength, true);
  rep.w.put_uint(at(T::kOrderId, kHead), serial);
  rep.w.put_uint(at(T::kTransferType, kHead), u64(r, Q::kTransferType));
  rep.w.put_double(at(T::kAmount, kHead), r.get_double(Q::kAmount).value_or(0));
  rep.w.put_int(at(T::kOperStatus, kHead), cfg_.transfer_error == 0 ? 1 : 2);
  rep.w.put_int(at(T::kTransferTime, kHead), timestamp());
  rep.error(cfg_.transfer_error, "");
  publish(account, kMsgMarginFundTransfer, rep.w.take());
}

void MarginOrderServer::on_repay(const Exchange& ex) {
  namespace Q = margin_repay_req;
  namespace P = margin_repay_rec;
  const WireReader r(ex.request.body);
  const std::uint64_t account = u64(r, margin_req_head::kFundAccount);
  const std::uint64_t id = u64(r, Q::kOrderId);
  const double amount = r.get_double(Q::kAmount).value_or(0);
  sim_.note_order_number(account, id);
  std::lock_guard<std::mutex> lk(mu_);
  if (cfg_.repay_error == 0) repaid_[account] += amount;
  Report rep(u64(r, margin_req_head::kSessionNo), P::kLength, cfg_.repay_error_record);
  rep.w.put_uint(at(P::kOrderId, kHead), id);
  rep.w.put_double(at(P::kAmount, kHead), cfg_.repay_error == 0 ? amount : 0);
  rep.w.put_double(at(P::kDebtLeft, kHead), 0);
  if (cfg_.repay_error_record) rep.error(cfg_.repay_error, "");
  publish(account, kMsgMarginCashRepay, rep.w.take());
}

// The repayment of a named debt and the credit request: the record with its id first, and the
// error record.
void MarginOrderServer::answer_by_id(const Exchange& ex, std::uint32_t msg_id, std::size_t record_length,
                                     std::int32_t error) {
  const WireReader r(ex.request.body);
  const std::uint64_t account = u64(r, margin_req_head::kFundAccount);
  const std::uint64_t id = u64(r, margin_repay_debt_req::kOrderId);  // at 22 in both requests
  sim_.note_order_number(account, id);
  Report rep(u64(r, margin_req_head::kSessionNo), record_length, true);
  rep.w.put_uint(WireField{"order_oxa_id", kHead, 8}, id);
  rep.error(error, "");
  publish(account, msg_id, rep.w.take());
}

void MarginOrderServer::on_repay_debt(const Exchange& ex) {
  std::lock_guard<std::mutex> lk(mu_);
  answer_by_id(ex, kMsgMarginRepayDebt, 60, cfg_.repay_error);
}

void MarginOrderServer::on_credit_request(const Exchange& ex) {
  std::lock_guard<std::mutex> lk(mu_);
  answer_by_id(ex, kMsgMarginCreditRequest, 32, cfg_.credit_error);
}

}  // namespace oxa_sim
