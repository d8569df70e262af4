#include "gateway_sim/SimSpotOrders.h"

#include <cmath>
#include <optional>
#include <cstdio>
#include <cstring>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {
namespace {


// An id's session is its top 24 bits: node << 16 | fund index.
std::uint32_t node_of(std::uint64_t id) { return static_cast<std::uint32_t>(id >> 56); }
std::uint32_t fund_index_of(std::uint64_t id) { return static_cast<std::uint32_t>(id >> 40) & 0xffff; }
std::uint32_t client_of(std::uint64_t id) { return static_cast<std::uint32_t>(id >> 32) & 0xff; }
std::uint32_t sequence_of(std::uint64_t id) { return static_cast<std::uint32_t>(id); }

constexpr WireField kWholeOrder{"order", 0, spot_order_rec::kLength};

using AccountRecords = std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>;

std::vector<std::vector<std::uint8_t>> records_of(const AccountRecords& all, std::uint64_t account) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& r : all)
    if (r.first == account) out.push_back(r.second);
  return out;
}

}  // namespace

namespace spot_code {
bool known_market(char c) { return c >= '1' && c <= '5'; }
bool known_side(char c) { return c == '1' || c == '2'; }
bool known_price_type(char c) { return (c >= '1' && c <= '9') || c == 'A'; }
bool known_business(char c) {
  return c == '1' || c == '2' || c == '3' || c == '4' || c == '5' || c == 'B' || c == 'C';
}
}  // namespace spot_code

std::map<std::string, double> demo_book_prices() {
  return {{"600000", 10.50}, {"600036", 35.20}, {"600519", 1650.00}, {"000001", 11.02},
          {"510050", 2.73}};
}

const char* SpotOrderServer::refusal(char market, char side, char price_type, char business,
                                     double price, std::int64_t quantity,
                                     const std::string& ticker) {
  if (!spot_code::known_market(market)) return "unknown market code";
  if (!spot_code::known_side(side)) return "unknown side code";
  if (!spot_code::known_price_type(price_type)) return "unknown price type code";
  if (!spot_code::known_business(business)) return "unknown business type code";
  if (price_type == spot_code::kLimitPrice && !(std::isfinite(price) && price > 0))
    return "limit price not a finite positive number";
  if (quantity <= 0) return "quantity not above 0";
  if (ticker.empty()) return "empty ticker";
  return nullptr;
}

void SpotOrderServer::set_config(const SpotOrderConfig& c) {
  std::lock_guard<std::mutex> lk(mu_);
  cfg_ = c;
}

SpotOrderConfig SpotOrderServer::config() const {
  std::lock_guard<std::mutex> lk(mu_);
  return cfg_;
}

void SpotOrderServer::set_faults(const SpotPushFaults& f) {
  std::lock_guard<std::mutex> lk(mu_);
  faults_ = f;
}

std::int64_t SpotOrderServer::holding(std::uint64_t account, const std::string& ticker) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = holdings_.find({account, ticker});
  return it == holdings_.end() ? 0 : it->second.quantity;
}

std::size_t SpotOrderServer::order_count() const {
  std::lock_guard<std::mutex> lk(mu_);
  return orders_.size();
}

std::vector<std::vector<std::uint8_t>> SpotOrderServer::order_records(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& kv : orders_)
    if (std::get<0>(kv.first) == account) out.push_back(kv.second.latest);
  return out;
}

std::vector<std::vector<std::uint8_t>> SpotOrderServer::trade_records(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  return records_of(trades_, account);
}

std::vector<std::vector<std::uint8_t>> SpotOrderServer::transfer_records(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  return records_of(transfers_, account);
}

std::vector<SpotOrderServer::HoldingRow> SpotOrderServer::holdings(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  std::vector<HoldingRow> out;
  for (const auto& kv : holdings_)
    if (kv.first.first == account)
      out.push_back({kv.first.second, kv.second.market, kv.second.quantity, kv.second.last_price});
  return out;
}

void SpotOrderServer::push(std::uint64_t account, std::uint32_t msg_id,
                           std::vector<std::uint8_t> body) {
  if (faults_.truncate != 0 && body.size() > faults_.truncate) body.resize(faults_.truncate);
  const auto copy = faults_.duplicate || faults_.stale ? body : std::vector<std::uint8_t>{};
  const GatewaySim::Published p = sim_.publish(account, msg_id, std::move(body));
  if (!p.sent) return;
  auto conn = sim_.push_connection(account);
  if (!conn) return;
  if (faults_.duplicate) conn->push(msg_id, p.seq, copy);
  if (faults_.stale && p.seq > 1) conn->push(msg_id, p.seq - 1, copy);
}

void SpotOrderServer::on_insert(const Exchange& ex) {
  const auto& req = ex.request.body;
  if (req.size() < spot_insert_req::kLength) return;  // nothing to answer a cut request with
  const WireReader r(req);
  namespace q = spot_insert_req;
  namespace o = spot_order_rec;
  const std::uint64_t account = *r.get_uint(q::kFundAccount);
  const std::uint64_t order_id = *r.get_uint(q::kOrderId);
  const auto quantity = static_cast<std::int64_t>(*r.get_uint(q::kQuantity));
  const double price = *r.get_double(q::kPrice);
  const std::string ticker = r.get_text(q::kTicker).value_or("");
  const auto price_type = static_cast<char>(*r.get_uint(q::kPriceType));
  const auto side = static_cast<char>(*r.get_uint(q::kSide));
  const auto market = *r.get_uint(q::kMarket);
  const auto business = *r.get_uint(q::kBusinessType);
  sim_.note_order_number(account, order_id);

  std::lock_guard<std::mutex> lk(mu_);
  char exch_id[16];
  std::snprintf(exch_id, sizeof exch_id, "E%09u", ++next_exch_);

  WireWriter w(o::kLength);
  w.put_text(o::kTicker, ticker);
  w.put_int(o::kQuantity, quantity);
  w.put_double(o::kPrice, price);
  w.put_text(o::kLocalId, exch_id);
  w.put_uint(o::kMarket, market);
  w.put_uint(o::kSide, static_cast<std::uint8_t>(side));
  w.put_uint(o::kPriceType, static_cast<std::uint8_t>(price_type));
  w.put_uint(o::kBusinessType, business);
  w.put_uint(o::kStatus, static_cast<std::uint8_t>(spot_code::kStatusAccepted));
  w.put_int(o::kTime, cfg_.time_hhmmss);
  w.put_uint(o::kOrderClientId, *r.get_uint(q::kOrderClientId));
  w.put_uint(o::kClientId, *r.get_uint(q::kClientId));
  w.put_uint(o::kOrderId, order_id);
  w.put_int(o::kLeaves, quantity);
  Order order;
  order.order_id = order_id;
  order.quantity = quantity;
  const OrderKey key{account, client_of(order_id), sequence_of(order_id)};
  if (refusal(static_cast<char>(market), side, price_type, static_cast<char>(business), price,
              quantity, ticker) != nullptr) {
    // refused before it reaches the book: one push with the error, never a fill
    w.put_uint(o::kStatus, static_cast<std::uint8_t>(spot_code::kStatusRejected));
    w.put_int(o::kErrorCode, cfg_.order_reject_error);
    order.accepted = w.bytes();
    order.latest = w.bytes();
    order.open = false;
    push(account, kMsgSpotOrderPush, w.take());
    orders_[key] = std::move(order);
    return;
  }
  order.accepted = w.bytes();
  order.latest = w.bytes();
  push(account, kMsgSpotOrderPush, w.bytes());

  // the price it trades at, when it trades now
  std::optional<double> fill_price;
  if (cfg_.fill_limit_orders) {
    const auto book = cfg_.book_prices.find(ticker);
    const bool buy_side = side == spot_code::kBuy;
    if (price_type == spot_code::kLimitPrice) {
      if (book == cfg_.book_prices.end())
        fill_price = price;
      else if (buy_side ? price >= book->second : price <= book->second)
        fill_price = book->second;
    } else if (book != cfg_.book_prices.end()) {
      fill_price = book->second;
    }
  }
  if (fill_price) {
    const double fill = *fill_price;
    namespace t = spot_trade_rec;
    char exec_id[24];
    std::snprintf(exec_id, sizeof exec_id, "X%016u", ++next_exec_);
    WireWriter tr(t::kLength);
    tr.put_uint(t::kMarket, market);
    tr.put_text(t::kExchOrderId, exch_id);
    tr.put_text(t::kExecId, exec_id);
    tr.put_uint(t::kSide, static_cast<std::uint8_t>(side));
    tr.put_uint(t::kBusinessType, business);
    tr.put_double(t::kPrice, fill);
    tr.put_int(t::kQuantity, quantity);
    tr.put_uint(t::kReportIndex, next_exec_);
    tr.put_int(t::kTime, cfg_.time_hhmmss);
    tr.put_text(t::kTicker, ticker);
    tr.put_uint(t::kOrderClientId, *r.get_uint(q::kOrderClientId));
    tr.put_uint(t::kClientId, *r.get_uint(q::kClientId));
    tr.put_uint(t::kPriceType, static_cast<std::uint8_t>(price_type));
    tr.put_uint(t::kOrderId, order_id);
    tr.put_uint(t::kTradeType, '0');
    trades_.emplace_back(account, tr.bytes());
    push(account, kMsgSpotTradePush, tr.take());

    const bool buy = side == spot_code::kBuy;
    Holding& holding = holdings_[{account, ticker}];
    holding.market = static_cast<char>(market);
    holding.last_price = fill;
    std::int64_t& held = holding.quantity;
    held += buy ? quantity : -quantity;
    namespace h = spot_holding_change;
    WireWriter hc(h::kLength);
    hc.put_uint(h::kFundIndex, fund_index_of(order_id));
    hc.put_text(h::kTicker, ticker);
    hc.put_uint(h::kMarket, market);
    hc.put_int(h::kTotal, held);
    hc.put_int(h::kChange, buy ? quantity : -quantity);
    hc.put_int(h::kSellable, buy ? held - quantity : held);  // bought today: not yet sellable
    hc.put_int(h::kCost, static_cast<std::int64_t>(fill * static_cast<double>(quantity) * 10000.0));
    hc.put_uint(h::kDirection, buy ? '1' : '2');
    hc.put_uint(h::kNodeId, node_of(order_id));
    hc.put_int(h::kTime, cfg_.time_hhmmss);
    push(account, kMsgSpotHoldingChangePush, hc.take());

    WireWriter fw(o::kLength);
    fw.put_bytes(kWholeOrder, order.accepted.data(), order.accepted.size());
    fw.put_uint(o::kStatus, static_cast<std::uint8_t>(spot_code::kStatusFilled));
    fw.put_int(o::kTraded, quantity);
    fw.put_int(o::kLeaves, 0);
    fw.put_double(o::kTradeAmount, fill * static_cast<double>(quantity));
    order.open = false;
    order.latest = fw.bytes();
    push(account, kMsgSpotOrderPush, fw.take());
  }
  orders_[key] = std::move(order);
}

void SpotOrderServer::on_cancel(const Exchange& ex) {
  const auto& req = ex.request.body;
  if (req.size() < spot_cancel_req::kLength) return;
  const WireReader r(req);
  namespace q = spot_cancel_req;
  const std::uint64_t account = *r.get_uint(q::kFundAccount);
  const std::uint64_t cancel_id = *r.get_uint(q::kCancelId);
  const auto order_client = static_cast<std::uint32_t>(*r.get_uint(q::kOrderClientIdByte));
  const auto order_seq = static_cast<std::uint32_t>(*r.get_uint(q::kOrderSequence));
  sim_.note_order_number(account, cancel_id);

  std::lock_guard<std::mutex> lk(mu_);
  auto it = orders_.find(OrderKey{account, order_client, order_seq});
  if (it != orders_.end() && it->second.open) {
    namespace o = spot_order_rec;
    Order& order = it->second;
    order.open = false;
    WireWriter w(o::kLength);
    w.put_bytes(kWholeOrder, order.accepted.data(), order.accepted.size());
    w.put_uint(o::kStatus, static_cast<std::uint8_t>(spot_code::kStatusCancelled));
    w.put_int(o::kLeaves, order.quantity);  // nothing traded: all of it withdrawn
    w.put_uint(o::kCancelId, cancel_id);
    order.latest = w.bytes();
    push(account, kMsgSpotOrderPush, w.take());
    return;
  }
  namespace c = spot_cancel_error;
  WireWriter w(c::kLength);
  w.put_uint(c::kFundIndex, fund_index_of(cancel_id));
  w.put_uint(c::kOrderSequence, order_seq);
  w.put_int(c::kErrorCode, it != orders_.end() ? cfg_.cancel_reject_error : cfg_.cancel_unknown_error);
  w.put_uint(c::kCancelId, cancel_id);
  w.put_uint(c::kOrderClientId, order_client);
  w.put_uint(c::kNodeId, node_of(cancel_id));
  push(account, kMsgSpotCancelErrorPush, w.take());
}

void SpotOrderServer::on_transfer(const Exchange& ex) {
  const auto& req = ex.request.body;
  if (req.size() < spot_transfer::kLength) return;
  const WireReader r(req);
  const std::uint64_t account = *r.get_uint(spot_transfer::kFundAccount);
  sim_.note_order_number(account, *r.get_uint(spot_transfer::kSerialId));
  std::lock_guard<std::mutex> lk(mu_);
  // the push is the request returned with its result filled in
  WireWriter w(spot_transfer::kLength);
  w.put_bytes(WireField{"all", 0, spot_transfer::kLength}, req.data(), spot_transfer::kLength);
  w.put_uint(spot_transfer::kResult, cfg_.transfer_result);
  transfers_.emplace_back(account, w.bytes());
  push(account, kMsgSpotFundTransferPush, w.take());
}

}  // namespace oxa_sim
