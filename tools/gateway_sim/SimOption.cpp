#include "gateway_sim/SimOption.h"
#include "gateway_sim/SimOptionState.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace oxa_sim {

namespace {

constexpr std::uint32_t kOrderIds[] = {kMsgOptInsert,  kMsgOptCancel,          kMsgOptLock,        kMsgOptCombInsert,
                                       kMsgOptExecute, kMsgOptCombinedExecute, kMsgOptFundTransfer};
constexpr std::uint32_t kOwnIds[] = {kMsgOptLogin, kMsgOptSync, kMsgOptSubscribe};

std::uint64_t get(const WireReader& r, const WireField& f) { return r.get_uint(f).value_or(0); }

}  // namespace


OptionLoginRequest decode_option_login(const ReceivedFrame& f) {
  const WireReader r(f.body);
  OptionLoginRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= opt_login_req::kLength;
  q.fund_account = get(r, opt_login_req::kFundAccount);
  q.option_value = get(r, opt_login_req::kOptionValue);
  q.request_seq = get(r, opt_login_req::kRequestSeq);
  q.client_id = static_cast<std::uint16_t>(get(r, opt_login_req::kClientId));
  q.protocol_mode = static_cast<std::uint16_t>(get(r, opt_login_req::kProtocolMode));
  q.msg_const = get(r, opt_login_req::kMsgConst);
  q.marker = static_cast<std::uint8_t>(get(r, opt_login_req::kMarker));
  q.terminal_info = r.get_text(opt_login_req::kTerminalInfo).value_or("");
  if (q.complete) {
    const auto at = f.body.begin() + static_cast<std::ptrdiff_t>(opt_login_req::kGatewayBlock.offset);
    q.gateway_block.assign(at, at + static_cast<std::ptrdiff_t>(opt_login_req::kGatewayBlock.size));
  }
  return q;
}

OptionSyncRequest decode_option_sync(const ReceivedFrame& f) {
  const WireReader r(f.body);
  OptionSyncRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= opt_sync_req::kLength;
  q.session = get(r, opt_sync_req::kSession);
  q.request_seq = get(r, opt_sync_req::kRequestSeq);
  q.position = static_cast<std::int32_t>(get(r, opt_sync_req::kPosition));
  q.flag = static_cast<std::uint8_t>(get(r, opt_sync_req::kFlag));
  q.start_seq = static_cast<std::int32_t>(get(r, opt_sync_req::kStartSeq));
  q.fund_account = get(r, opt_sync_req::kFundAccount);
  return q;
}

OptionSubscribeRequest decode_option_subscribe(const ReceivedFrame& f) {
  const WireReader r(f.body);
  OptionSubscribeRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= opt_subscribe_req::kLength;
  q.session_no = get(r, opt_subscribe_req::kSessionNo);
  q.request_seq = get(r, opt_subscribe_req::kRequestSeq);
  q.start_seq = static_cast<std::int32_t>(get(r, opt_subscribe_req::kStartSeq));
  q.fund_account = get(r, opt_subscribe_req::kFundAccount);
  return q;
}

std::vector<std::uint8_t> make_option_login_answer(const OptionLoginAnswer& a, std::uint64_t request_account,
                                                   std::uint32_t ordinal) {
  WireWriter w(opt_login_rsp::kLength);
  w.put_uint(opt_login_rsp::kFundAccount, a.fund_account.value_or(request_account));
  w.put_uint(opt_login_rsp::kSessionNo, a.session_no.value_or(5000 + ordinal));
  w.put_int(opt_login_rsp::kErrorCode, a.error_code);
  w.put_uint(opt_login_rsp::kDate, a.date ? *a.date : static_cast<std::uint32_t>(local_date_yyyymmdd()));
  w.put_uint(opt_login_rsp::kNodeId, a.node_id);
  w.put_uint(opt_login_rsp::kFundIdx, a.fund_index.value_or(ordinal));
  w.put_uint(opt_login_rsp::kCurOrdId, a.cur_order_id);
  w.put_int(opt_login_rsp::kOrderLimit, a.order_limit);
  w.put_int(opt_login_rsp::kQueryLimit, a.query_limit);
  return w.take();
}

namespace {

// The gateway answer bytes 14-35 as the sim writes them.
std::vector<std::uint8_t> gateway_block_of(const LoginAnswer& a, std::uint64_t account) {
  const std::vector<std::uint8_t> body = make_login_answer(a, account);
  const auto at = body.begin() + static_cast<std::ptrdiff_t>(login_rsp::kHqtrsIp.offset);
  return {at, at + static_cast<std::ptrdiff_t>(opt_login_req::kGatewayBlock.size)};
}

void on_login(GatewaySim& sim, SimOption::State& st, const Exchange& ex) {
  OptionLoginRequest q = decode_option_login(ex.request);
  const LoginAnswer gateway = [&] {
    std::lock_guard<std::mutex> lk(st.mu);
    return st.expected_gateway ? *st.expected_gateway : sim.login_answer();
  }();
  q.echo_ok = q.complete && q.msg_const == kMsgOptLogin && q.marker == 'P' &&
              q.request_seq == ex.request.request_id && q.option_value == gateway.option_value &&
              q.protocol_mode == gateway.protocol_mode && q.gateway_block == gateway_block_of(gateway, q.fund_account);
  OptionLoginAnswer a;
  std::uint32_t ordinal;
  {
    std::lock_guard<std::mutex> lk(st.mu);
    auto it = st.account_answer.find(q.fund_account);
    a = it != st.account_answer.end() ? it->second : st.answer;
    // the same account keeps its index and session number over logins
    ordinal = st.ordinals.emplace(q.fund_account, static_cast<std::uint32_t>(st.ordinals.size() + 1)).first->second;
    if (!q.echo_ok && st.echo_error != 0) a.error_code = st.echo_error;
    st.logins.push_back(q);
  }
  // a second login of the account never reissues an order id of the first
  a.cur_order_id = std::max<std::uint64_t>(a.cur_order_id, sim.next_order_number(q.fund_account) - 1);
  ex.answer(kMsgOptLoginRsp, make_option_login_answer(a, q.fund_account, ordinal));
}

// One page of the replay: the stored pushes from the request's start sequence, numbered
// 1..total, after the request's position.
void on_sync(GatewaySim& sim, SimOption::State& st, const Exchange& ex) {
  const OptionSyncRequest q = decode_option_sync(ex.request);
  std::vector<StoredPush> all;
  std::size_t per_page;
  {
    std::lock_guard<std::mutex> lk(st.mu);
    st.syncs.push_back(q);
    per_page = st.rows_per_page;
  }
  all = sim.push_store().from(q.fund_account, static_cast<std::uint32_t>(std::max(q.start_seq, 0)));
  const std::size_t total = all.size();
  const std::size_t first = q.position > 0 ? std::min<std::size_t>(static_cast<std::size_t>(q.position), total) : 0;
  const std::size_t rows = std::min(per_page, total - first);

  WireWriter head(opt_sync_rsp::kRowsAt);
  head.put_uint(opt_rsp_head::kSessionNo, q.session);
  head.put_uint(opt_rsp_head::kRequestId, q.request_seq);
  head.put_uint(opt_rsp_head::kIsLast, first + rows >= total ? 1 : 0);
  head.put_int(opt_rsp_head::kErrorCode, 0);
  head.put_uint(opt_rsp_head::kRecord, rows);
  head.put_uint(opt_rsp_head::kTotal, total);
  head.put_uint(opt_rsp_head::kRecordSize, opt_sync_row::kLength);
  head.put_uint(opt_sync_rsp::kQryNum, 0);
  head.put_uint(opt_sync_rsp::kQryFlag, '0');
  head.put_uint(opt_sync_rsp::kFundAccount, q.fund_account);
  head.put_int(opt_sync_rsp::kStartSeq, q.start_seq);
  std::vector<std::uint8_t> body = head.take();
  for (std::size_t i = first; i < first + rows; ++i) {
    WireWriter row(opt_sync_row::kLength);
    row.put_uint(opt_sync_row::kPosition, i + 1);
    row.put_uint(opt_sync_row::kMsgId, all[i].msg_id);
    row.put_uint(opt_sync_row::kSeq, all[i].seq);
    row.put_bytes(opt_sync_row::kPush, all[i].body.data(), all[i].body.size());
    const auto& bytes = row.bytes();
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  ex.answer(kMsgOptSyncRsp, std::move(body));
}

void on_subscribe(SimOption::State& st, const Exchange& ex) {
  const OptionSubscribeRequest q = decode_option_subscribe(ex.request);
  {
    std::lock_guard<std::mutex> lk(st.mu);
    st.subscribes.push_back(q);
  }
  WireWriter w(opt_subscribe_rsp::kLength);
  w.put_uint(opt_subscribe_rsp::kSessionNo, q.session_no);
  w.put_uint(opt_subscribe_rsp::kRequestSeq, q.request_seq);
  w.put_int(opt_subscribe_rsp::kStartSeq, q.start_seq);
  w.put_uint(opt_subscribe_rsp::kFundAccount, q.fund_account);
  ex.answer(kMsgOptSubscribeRsp, w.take());
}

// ---- the order server -------------------------------------------------------------------------

std::int64_t now_stamp(const OptionOrderConfig& c) {
  if (c.time) return *c.time;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::int64_t day = (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
  const std::int64_t tod = tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec;
  return day * 1000000000LL + tod * 1000 + ms;
}

char byte_of(const WireReader& r, const WireField& f) { return static_cast<char>(get(r, f)); }

void put_head(WireWriter& w, const OptionOrder& o, std::uint64_t id) {
  w.put_uint(opt_push_head::kSessionNo, o.session_no);
  w.put_uint(opt_push_head::kFundAccount, o.account);
  w.put_uint(opt_push_head::kOrderId, id);
  w.put_uint(opt_push_head::kClientOrderId, o.client_order_id);
}

std::vector<std::uint8_t> order_push(const OptionOrder& o, std::int32_t error, const std::string& text) {
  namespace f = opt_order_push;
  WireWriter w(f::kLength);
  put_head(w, o, o.order_id);
  w.put_uint(f::kLocalNo, o.local_no);
  w.put_text(f::kTicker, o.ticker);
  w.put_int(f::kMarket, o.market);
  w.put_double(f::kPrice, o.price);
  w.put_int(f::kQuantity, o.quantity);
  w.put_bytes(f::kPriceType, reinterpret_cast<const std::uint8_t*>(o.price_type), 2);
  w.put_uint(f::kCovered, static_cast<std::uint8_t>(o.covered));
  w.put_uint(f::kSide, static_cast<std::uint8_t>(o.side));
  w.put_uint(f::kEffect, static_cast<std::uint8_t>(o.effect));
  w.put_int(f::kTradedQty, o.traded);
  w.put_double(f::kTradedAmount, o.amount);
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(o.status));
  w.put_int(f::kErrorCode, error);
  w.put_text(f::kErrorText, text);
  w.put_int(f::kInsertTime, o.insert_time);
  w.put_int(f::kUpdateTime, o.update_time);
  w.put_int(f::kCancelTime, o.cancel_time);
  w.put_int(f::kSubmitStatus, o.status == opt_code::kRejected ? 3 : 2);
  w.put_uint(f::kCancelOrderId, o.cancel_id);
  w.put_uint(f::kCancelClientId, 0);
  return w.take();
}

std::vector<std::uint8_t> trade_push(const OptionOrder& o, const OptionTrade& t) {
  namespace f = opt_trade_push;
  WireWriter w(f::kLength);
  put_head(w, o, o.order_id);
  w.put_uint(f::kSystemId, o.local_no);
  w.put_uint(f::kSeqNo, t.report_index);
  w.put_text(f::kTicker, o.ticker);
  w.put_int(f::kMarket, o.market);
  w.put_text(f::kExecId, t.exec_id);
  w.put_double(f::kPrice, t.price);
  w.put_int(f::kQuantity, t.quantity);
  w.put_int(f::kTradeTime, t.time);
  w.put_double(f::kAmount, t.price * static_cast<double>(t.quantity));
  w.put_uint(f::kReportIndex, t.report_index);
  w.put_uint(f::kSide, static_cast<std::uint8_t>(o.side));
  w.put_uint(f::kEffect, static_cast<std::uint8_t>(o.effect));
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(opt_code::kFilled));
  w.put_text(f::kBranchPbu, "PBU001");
  w.put_uint(f::kCovered, static_cast<std::uint8_t>(o.covered));
  w.put_bytes(f::kPriceType, reinterpret_cast<const std::uint8_t*>(o.price_type), 2);
  return w.take();
}

void put_legs(WireWriter& w, const OptionOrder& o, std::size_t side_at, std::size_t covered_at, std::size_t qty_at,
              std::size_t security_at, std::size_t call_put_at) {
  for (std::size_t i = 0; i < 4; ++i) {
    w.put_uint(WireField{"leg_side", side_at + i, 1}, static_cast<std::uint8_t>(o.leg_side[i]));
    w.put_uint(WireField{"leg_covered", covered_at + i, 1}, static_cast<std::uint8_t>(o.leg_covered[i]));
    w.put_int(WireField{"leg_order_qty", qty_at + 8 * i, 8}, o.leg_qty[i]);
    w.put_text(WireField{"leg_security", security_at + 9 * i, 9}, o.leg_security[i]);
    w.put_uint(WireField{"call_or_put", call_put_at + i, 1}, static_cast<std::uint8_t>(call_or_put_of(o.leg_security[i])));
  }
}

std::vector<std::uint8_t> comb_order_push(const OptionOrder& o) {
  namespace f = opt_comb_order_push;
  WireWriter w(f::kLength);
  put_head(w, o, o.order_id);
  w.put_uint(f::kSystemId, o.local_no);
  w.put_int(f::kQuantity, o.quantity);
  w.put_int(f::kMarket, o.market);
  w.put_uint(f::kSide, static_cast<std::uint8_t>(o.side));
  w.put_text(f::kStrategy, o.strategy);
  w.put_text(f::kCombNum, o.comb_num);
  w.put_int(f::kLegCount, o.legs);
  put_legs(w, o, f::kLegSideAt, f::kLegCoveredAt, f::kLegQtyAt, f::kLegSecurityAt, f::kLegCallPutAt);
  w.put_int(f::kLeftQty, o.quantity - o.traded);
  w.put_int(f::kTradedQty, o.traded);
  w.put_double(f::kTradedAmount, o.amount);
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(o.status));
  w.put_int(f::kInsertTime, o.insert_time);
  w.put_int(f::kUpdateTime, o.update_time);
  w.put_int(f::kSubmitStatus, 2);
  w.put_uint(f::kFlag, '0');
  return w.take();
}

std::vector<std::uint8_t> comb_trade_push(const OptionOrder& o, const OptionTrade& t) {
  namespace f = opt_comb_trade_push;
  WireWriter w(f::kLength);
  put_head(w, o, o.order_id);
  w.put_uint(f::kSystemId, o.local_no);
  w.put_uint(f::kSeqNo, t.report_index);
  w.put_int(f::kMarket, o.market);
  w.put_text(f::kExecId, t.exec_id);
  w.put_int(f::kQuantity, t.quantity);
  w.put_int(f::kTradeTime, t.time);
  w.put_double(f::kAmount, t.price * static_cast<double>(t.quantity));
  w.put_uint(f::kReportIndex, t.report_index);
  w.put_uint(f::kSide, static_cast<std::uint8_t>(o.side));
  w.put_text(f::kStrategy, o.strategy);
  w.put_text(f::kCombNum, o.comb_num);
  w.put_int(f::kLegCount, o.legs);
  put_legs(w, o, f::kLegSideAt, f::kLegCoveredAt, f::kLegQtyAt, f::kLegSecurityAt, f::kLegCallPutAt);
  w.put_text(f::kBranchPbu, "PBU001");
  w.put_uint(f::kFlag, '0');
  return w.take();
}

// A limit order's fill price: the book's when the order crosses it, its own without a book
// price; nothing when it stays working.
std::optional<double> fill_price(const OptionOrderConfig& c, const OptionOrder& o) {
  if (!c.fill_limit_orders || o.price_type[0] != '2' || o.price_type[1] != '0') return std::nullopt;
  if (!(o.price > 0) || !std::isfinite(o.price) || o.quantity <= 0) return std::nullopt;
  auto it = c.book_prices.find(o.ticker);
  if (it == c.book_prices.end()) return o.price;
  const bool buy = o.side == '1' || o.side == 'B';
  if (buy ? o.price >= it->second : o.price <= it->second) return it->second;
  return std::nullopt;
}

bool known_price_type(const char (&p)[2]) {
  static const char* const kPairs[] = {"20", "13", "K0", "53", "14", "40", "60", "24"};
  for (const char* k : kPairs)
    if (p[0] == k[0] && p[1] == k[1]) return true;
  return false;
}

OptionOrder order_from_head(const OptionOrderRequest& q) {
  OptionOrder o;
  o.account = q.fund_account;
  o.session_no = q.session_no;
  o.msg_id = q.msg_id;
  o.order_id = q.order_id;
  return o;
}

// Publishes under the state lock released: publish takes the sim's own locks.
struct Outbox {
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> pushes;
  void add(std::uint32_t id, std::vector<std::uint8_t> body) { pushes.emplace_back(id, std::move(body)); }
};

OptionTrade make_trade(SimOption::State& st, const OptionOrder& o, double price, bool combination,
                       std::int64_t now) {
  OptionTrade t;
  t.account = o.account;
  t.order_id = o.order_id;
  t.combination = combination;
  t.report_index = st.next_report++;
  t.exec_id = "E" + std::to_string(100000000 + t.report_index);
  t.price = price;
  t.quantity = o.quantity;
  t.time = now;
  st.trades.push_back(t);
  return t;
}

void take_single(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  namespace f = opt_insert_req;
  OptionOrder o = order_from_head(q);
  o.client_order_id = get(r, f::kClientOrderId);
  o.ticker = r.get_text(f::kTicker).value_or("");
  o.market = static_cast<std::int32_t>(get(r, f::kMarket));
  o.price = r.get_double(f::kPrice).value_or(0);
  o.quantity = static_cast<std::int64_t>(get(r, f::kQuantity));
  const std::uint64_t pt = get(r, f::kPriceType);
  o.price_type[0] = static_cast<char>(pt & 0xff);
  o.price_type[1] = static_cast<char>(pt >> 8);
  o.covered = byte_of(r, f::kCovered);
  o.side = byte_of(r, f::kSide);
  o.effect = byte_of(r, f::kEffect);
  const std::int64_t now = now_stamp(st.order_config);
  o.local_no = st.next_local_no++;
  o.insert_time = o.update_time = now;
  if (o.ticker.empty() || o.quantity <= 0 || !known_price_type(o.price_type)) {
    o.status = opt_code::kRejected;
    out.add(kMsgOptOrderPush, order_push(o, st.order_config.reject_error, "order refused"));
    st.book.push_back(o);
    return;
  }
  o.status = opt_code::kWorking;
  out.add(kMsgOptOrderPush, order_push(o, 0, ""));
  if (auto price = fill_price(st.order_config, o)) {
    const OptionTrade t = make_trade(st, o, *price, false, now);
    o.traded = o.quantity;
    o.amount = *price * static_cast<double>(o.quantity);
    o.status = opt_code::kFilled;
    out.add(kMsgOptTradePush, trade_push(o, t));
    out.add(kMsgOptOrderPush, order_push(o, 0, ""));
  }
  st.book.push_back(o);
}

void take_cancel(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  const std::uint64_t orig = get(r, opt_cancel_req::kOrigOrderId);
  namespace f = opt_cancel_push;
  WireWriter w(f::kLength);
  w.put_uint(opt_push_head::kSessionNo, q.session_no);
  w.put_uint(opt_push_head::kFundAccount, q.fund_account);
  w.put_uint(f::kCancelOrderId, q.order_id);
  w.put_uint(f::kOrigOrderId, orig);
  auto it = std::find_if(st.book.begin(), st.book.end(), [&](const OptionOrder& o) {
    return o.order_id == orig && o.account == q.fund_account;
  });
  const bool open = it != st.book.end() && it->status == opt_code::kWorking &&
                    (it->msg_id == kMsgOptInsert || it->msg_id == kMsgOptCombInsert);
  if (!open) {
    w.put_int(f::kErrorCode, st.order_config.cancel_reject_error);
    w.put_text(f::kErrorText, "order not open");
    out.add(kMsgOptCancelPush, w.take());
    return;
  }
  w.put_int(f::kErrorCode, 0);
  out.add(kMsgOptCancelPush, w.take());
  const std::int64_t now = now_stamp(st.order_config);
  it->status = opt_code::kCancelled;
  it->cancel_id = q.order_id;
  it->update_time = it->cancel_time = now;
  if (it->msg_id == kMsgOptCombInsert)
    out.add(kMsgOptCombOrderPush, comb_order_push(*it));
  else
    out.add(kMsgOptOrderPush, order_push(*it, 0, ""));
}

void take_lock(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  namespace f = opt_lock_push;
  OptionOrder o = order_from_head(q);
  o.client_order_id = get(r, opt_lock_req::kClientOrderId);
  o.quantity = static_cast<std::int64_t>(get(r, opt_lock_req::kQuantity));
  o.ticker = r.get_text(opt_lock_req::kTicker).value_or("");
  o.side = byte_of(r, opt_lock_req::kSide);
  o.market = static_cast<std::int32_t>(get(r, opt_lock_req::kMarket));
  o.local_no = st.next_local_no++;
  o.insert_time = o.update_time = now_stamp(st.order_config);
  o.status = opt_code::kFilled;
  o.traded = o.quantity;
  WireWriter w(f::kLength);
  put_head(w, o, o.order_id);
  w.put_uint(f::kLocalNo, o.local_no);
  w.put_int(f::kQuantity, o.quantity);
  w.put_text(f::kTicker, o.ticker);
  w.put_uint(f::kEffect, static_cast<std::uint8_t>(o.side));
  w.put_int(f::kMarket, o.market);
  w.put_int(f::kLeftQty, 0);
  w.put_int(f::kTradedQty, o.quantity);
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(o.status));
  w.put_int(f::kInsertTime, o.insert_time);
  w.put_int(f::kUpdateTime, o.update_time);
  w.put_int(f::kSubmitStatus, 2);
  out.add(kMsgOptLockPush, w.take());
  st.book.push_back(o);
}

void take_comb(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  namespace f = opt_comb_req;
  OptionOrder o = order_from_head(q);
  o.client_order_id = get(r, f::kClientOrderId);
  o.quantity = static_cast<std::int64_t>(get(r, f::kQuantity));
  o.market = static_cast<std::int32_t>(get(r, f::kMarket));
  o.side = byte_of(r, f::kSide);
  o.strategy = r.get_text(f::kStrategy).value_or("");
  o.comb_num = r.get_text(f::kCombNum).value_or("");
  o.legs = static_cast<std::int16_t>(get(r, f::kLegCount));
  for (std::size_t i = 0; i < 4; ++i) {
    o.leg_side[i] = static_cast<char>(get(r, WireField{"leg_side", f::kLegSideAt + i, 1}));
    o.leg_covered[i] = static_cast<char>(get(r, WireField{"leg_covered", f::kLegCoveredAt + i, 1}));
    o.leg_qty[i] = static_cast<std::int64_t>(get(r, WireField{"leg_qty", f::kLegQtyAt + 8 * i, 8}));
    o.leg_security[i] = r.get_text(WireField{"leg_security", f::kLegSecurityAt + 9 * i, 9}).value_or("");
  }
  o.price_type[0] = '2';
  o.price_type[1] = '0';
  o.price = 1;  // combinations fill at once under the fill rule
  const std::int64_t now = now_stamp(st.order_config);
  o.local_no = st.next_local_no++;
  o.insert_time = o.update_time = now;
  o.status = opt_code::kWorking;
  out.add(kMsgOptCombOrderPush, comb_order_push(o));
  if (st.order_config.fill_limit_orders && o.quantity > 0) {
    const OptionTrade t = make_trade(st, o, 0, true, now);
    o.traded = o.quantity;
    o.status = opt_code::kFilled;
    out.add(kMsgOptCombTradePush, comb_trade_push(o, t));
    out.add(kMsgOptCombOrderPush, comb_order_push(o));
  }
  st.book.push_back(o);
}

void take_execute(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  namespace f = opt_execute_req;
  const bool combined = q.msg_id == kMsgOptCombinedExecute;
  OptionOrder o = order_from_head(q);
  o.client_order_id = get(r, f::kClientOrderId);
  o.quantity = static_cast<std::int64_t>(get(r, f::kQuantity));
  o.ticker = r.get_text(f::kSecurity).value_or("");
  if (combined) o.ticker2 = r.get_text(f::kSecurity2).value_or("");
  o.market = static_cast<std::int32_t>(get(r, combined ? f::kCombinedMarket : f::kMarket));
  o.local_no = st.next_local_no++;
  o.insert_time = o.update_time = now_stamp(st.order_config);
  o.status = opt_code::kWorking;
  if (combined) {
    namespace p = opt_combined_execute_push;
    WireWriter w(p::kLength);
    put_head(w, o, o.order_id);
    w.put_uint(p::kSystemId, o.local_no);
    w.put_int(p::kQuantity, o.quantity);
    w.put_text(p::kSecurity1, o.ticker);
    w.put_text(p::kSecurity2, o.ticker2);
    w.put_int(p::kMarket, o.market);
    w.put_int(p::kLeftQty, o.quantity);
    w.put_uint(p::kStatus, static_cast<std::uint8_t>(o.status));
    w.put_int(p::kInsertTime, o.insert_time);
    w.put_int(p::kUpdateTime, o.update_time);
    w.put_int(p::kSubmitStatus, 2);
    out.add(kMsgOptCombinedExecutePush, w.take());
  } else {
    namespace p = opt_execute_push;
    WireWriter w(p::kLength);
    put_head(w, o, o.order_id);
    w.put_uint(p::kLocalNo, o.local_no);
    w.put_int(p::kQuantity, o.quantity);
    w.put_text(p::kTicker, o.ticker);
    w.put_int(p::kMarket, o.market);
    w.put_int(p::kLeftQty, o.quantity);
    w.put_uint(p::kStatus, static_cast<std::uint8_t>(o.status));
    w.put_int(p::kInsertTime, o.insert_time);
    w.put_int(p::kUpdateTime, o.update_time);
    w.put_int(p::kSubmitStatus, 2);
    out.add(kMsgOptExecutePush, w.take());
  }
  st.book.push_back(o);
}

void take_transfer(SimOption::State& st, const OptionOrderRequest& q, const WireReader& r, Outbox& out) {
  namespace f = opt_transfer_push;
  WireWriter w(f::kLength);
  w.put_uint(opt_push_head::kSessionNo, q.session_no);
  w.put_uint(f::kDestFund, q.fund_account);
  w.put_uint(f::kSerialNo, q.order_id);
  w.put_double(f::kAmount, r.get_double(opt_transfer_req::kAmount).value_or(0));
  w.put_uint(f::kSide, get(r, opt_transfer_req::kSide));
  w.put_int(f::kErrorCode, 0);
  w.put_int(f::kTime, now_stamp(st.order_config));
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(st.order_config.transfer_status));
  out.add(kMsgOptTransferPush, w.take());
  OptionTransfer t;
  t.account = q.fund_account;
  t.serial_id = q.order_id;
  t.side = byte_of(r, opt_transfer_req::kSide);
  t.amount = r.get_double(opt_transfer_req::kAmount).value_or(0);
  t.status = st.order_config.transfer_status;
  t.time = now_stamp(st.order_config);
  st.transfers.push_back(t);
}

void on_order(GatewaySim& sim, SimOption::State& st, const Exchange& ex) {
  const WireReader r(ex.request.body);
  OptionOrderRequest q;
  q.conn_id = ex.request.conn_id;
  q.msg_id = ex.request.msg_id;
  q.request_id = ex.request.request_id;
  q.session_no = get(r, opt_order_head::kSessionNo);
  q.fund_account = get(r, opt_order_head::kFundAccount);
  q.order_id = get(r, opt_order_head::kOrderId);
  q.body = ex.request.body;
  Outbox out;
  {
    std::lock_guard<std::mutex> lk(st.mu);
    st.orders.push_back(q);
    if (!st.order_config.answer_orders) return;
    switch (q.msg_id) {
      case kMsgOptInsert: take_single(st, q, r, out); break;
      case kMsgOptCancel: take_cancel(st, q, r, out); break;
      case kMsgOptLock: take_lock(st, q, r, out); break;
      case kMsgOptCombInsert: take_comb(st, q, r, out); break;
      case kMsgOptExecute:
      case kMsgOptCombinedExecute: take_execute(st, q, r, out); break;
      case kMsgOptFundTransfer: take_transfer(st, q, r, out); break;
      default: break;
    }
  }
  sim.note_order_number(q.fund_account, q.order_id);
  for (auto& p : out.pushes) sim.publish(q.fund_account, p.first, std::move(p.second));
}

}  // namespace

SimOption::SimOption(GatewaySim& sim) : sim_(sim), state_(std::make_shared<State>()) {
  std::shared_ptr<State> st = state_;
  GatewaySim* s = &sim;
  sim.on(kMsgOptLogin, [s, st](const Exchange& ex) { on_login(*s, *st, ex); });
  sim.on(kMsgOptSync, [s, st](const Exchange& ex) { on_sync(*s, *st, ex); });
  sim.on(kMsgOptSubscribe, [st](const Exchange& ex) { on_subscribe(*st, ex); });
  for (const std::uint32_t id : kOrderIds) sim.on(id, [s, st](const Exchange& ex) { on_order(*s, *st, ex); });
  for (const std::uint32_t id : option_query_request_ids())
    sim.on(id, [st](const Exchange& ex) { on_option_query(*st, ex); });
}

SimOption::~SimOption() {
  for (const std::uint32_t id : kOwnIds) sim_.on(id, nullptr);
  for (const std::uint32_t id : kOrderIds) sim_.on(id, nullptr);
  for (const std::uint32_t id : option_query_request_ids()) sim_.on(id, nullptr);
}

void SimOption::set_login_answer(const OptionLoginAnswer& a) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->answer = a;
}

void SimOption::set_account_login_answer(std::uint64_t account, const OptionLoginAnswer& a) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->account_answer[account] = a;
}

void SimOption::set_expected_gateway_answer(const LoginAnswer& a) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->expected_gateway = a;
}

void SimOption::set_echo_error(std::int32_t code) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->echo_error = code;
}

void SimOption::set_rows_per_page(std::size_t rows) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->rows_per_page = rows == 0 ? 1 : rows;
}

PushStore& SimOption::pushes() { return sim_.push_store(); }

void SimOption::set_order_config(const OptionOrderConfig& c) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->order_config = c;
}

OptionOrderConfig SimOption::order_config() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->order_config;
}

std::vector<OptionOrder> SimOption::orders() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->book;
}

void SimOption::set_book(const OptionBook& b) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->option_book = b;
}

void SimOption::set_query_paging(const OptionQueryPaging& p) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->paging = p;
  if (state_->paging.rows_per_page == 0) state_->paging.rows_per_page = 1;
}

std::vector<OptionTrade> SimOption::trades() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->trades;
}

std::vector<OptionLoginRequest> SimOption::login_requests() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->logins;
}

std::vector<OptionSyncRequest> SimOption::sync_requests() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->syncs;
}

std::vector<OptionSubscribeRequest> SimOption::subscribe_requests() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->subscribes;
}

std::vector<OptionOrderRequest> SimOption::order_requests() const {
  std::lock_guard<std::mutex> lk(state_->mu);
  return state_->orders;
}

}  // namespace oxa_sim
