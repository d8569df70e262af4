#include "gateway_sim/SimMargin.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {

namespace margin_push_payload {

std::size_t record_length(std::uint32_t flow_id) {
  switch (flow_id) {
    case kMsgMarginOrderPush: return 140;
    case kMsgMarginTradePush: return 131;
    case kMsgMarginFundTransfer: return 32;
    case kMsgMarginCashRepay: return 24;
    case kMsgMarginCreditRequest: return 32;
    default: return 0;
  }
}

bool has_error_record(std::uint32_t flow_id) { return flow_id != kMsgMarginTradePush; }

}  // namespace margin_push_payload

namespace {

template <std::size_t N>
WireLayout layout(const char* name, std::size_t length, const WireField (&fields)[N]) {
  return WireLayout{name, length, fields, N};
}

constexpr std::size_t kLongestPayload = margin_push_payload::kHeadLength + 140 + margin_error::kLength;

std::uint32_t u32(std::optional<std::uint64_t> v) { return static_cast<std::uint32_t>(v.value_or(0)); }

}  // namespace

const std::vector<WireLayout>& margin_layouts() {
  static const std::vector<WireLayout> layouts = {
      layout("margin_init_req", margin_init_req::kLength, margin_init_req::kFields),
      layout("margin_rsp_head", margin_rsp_head::kLength, margin_rsp_head::kFields),
      layout("margin_init_rec", margin_init_rec::kLength, margin_init_rec::kFields),
      layout("margin_error", margin_error::kLength, margin_error::kFields),
      layout("margin_sync_req", margin_sync_req::kLength, margin_sync_req::kFields),
      layout("margin_sync_rsp", margin_sync_rsp::kHeadLength, margin_sync_rsp::kFields),
      layout("margin_sync_record", margin_sync_record::kHeadLength, margin_sync_record::kFields),
      layout("margin_subscribe_req", margin_subscribe_req::kLength, margin_subscribe_req::kFields),
      layout("margin_flow_head", margin_flow_head::kLength, margin_flow_head::kFields),
      layout("margin_package_record", margin_package_record::kHeadLength, margin_package_record::kFields),
      layout("margin_push_payload", margin_push_payload::kHeadLength + 8, margin_push_payload::kFields),
      layout("margin_req_head", margin_req_head::kLength, margin_req_head::kFields),
      layout("margin_order_req", margin_order_req::kLength, margin_order_req::kFields),
      layout("margin_cancel_req", margin_cancel_req::kLength, margin_cancel_req::kFields),
      layout("margin_transfer_req", margin_transfer_req::kLength, margin_transfer_req::kFields),
      layout("margin_repay_req", margin_repay_req::kLength, margin_repay_req::kFields),
      layout("margin_repay_debt_req", margin_repay_debt_req::kLength, margin_repay_debt_req::kFields),
      layout("margin_credit_req", margin_credit_req::kLength, margin_credit_req::kFields),
      layout("margin_order_rec", margin_order_rec::kLength, margin_order_rec::kFields),
      layout("margin_trade_rec", margin_trade_rec::kLength, margin_trade_rec::kFields),
      layout("margin_cancel_answer", margin_cancel_answer::kLength, margin_cancel_answer::kFields),
      layout("margin_transfer_rec", margin_transfer_rec::kLength, margin_transfer_rec::kFields),
      layout("margin_repay_rec", margin_repay_rec::kLength, margin_repay_rec::kFields),
      layout("margin_page_head", margin_page_head::kLength, margin_page_head::kFields),
      layout("margin_ext_head", margin_ext_head::kLength, margin_ext_head::kFields),
      layout("margin_position_rec", margin_position_rec::kLength, margin_position_rec::kFields),
      layout("margin_asset_rec", margin_asset_rec::kLength, margin_asset_rec::kFields),
      layout("margin_fund_rec", margin_fund_rec::kLength, margin_fund_rec::kFields),
      layout("margin_ipo_rec", margin_ipo_rec::kLength, margin_ipo_rec::kFields),
      layout("margin_other_fund_rec", margin_other_fund_rec::kLength, margin_other_fund_rec::kFields),
      layout("margin_security_answer", margin_security_answer::kLength, margin_security_answer::kFields),
      layout("margin_pledge_rec", margin_pledge_rec::kLength, margin_pledge_rec::kFields),
      layout("margin_target_rec", margin_target_rec::kLength, margin_target_rec::kFields),
      layout("margin_security_rec", margin_security_rec::kLength, margin_security_rec::kFields),
      layout("margin_debt_rec", margin_debt_rec::kLength, margin_debt_rec::kFields),
  };
  return layouts;
}

MarginInitRequest decode_margin_init_request(const ReceivedFrame& f) {
  namespace L = margin_init_req;
  const WireReader r(f.body);
  MarginInitRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= L::kLength;
  q.bus_group = static_cast<std::uint16_t>(r.get_uint(L::kBusGroup).value_or(0));
  q.bus_member = static_cast<std::uint16_t>(r.get_uint(L::kBusMember).value_or(0));
  q.fund_account = r.get_uint(L::kFundAccount).value_or(0);
  q.client_id = static_cast<std::uint16_t>(r.get_uint(L::kClientId).value_or(0));
  q.terminal_info = r.get_text(L::kTerminalInfo).value_or("");
  q.api_version = r.get_uint(L::kApiVersion).value_or(0);
  q.request_seq = r.get_uint(L::kRequestSeq).value_or(0);
  q.protocol = static_cast<std::uint8_t>(r.get_uint(L::kProtocol).value_or(0));
  return q;
}

MarginSyncRequest decode_margin_sync_request(const ReceivedFrame& f) {
  namespace L = margin_sync_req;
  const WireReader r(f.body);
  MarginSyncRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= L::kLength;
  q.session_no = r.get_uint(L::kSessionNo).value_or(0);
  q.request_seq = r.get_uint(L::kRequestSeq).value_or(0);
  q.fund_account = r.get_uint(L::kFundAccount).value_or(0);
  q.client_id = static_cast<std::uint8_t>(r.get_uint(L::kClientId).value_or(0));
  q.per_answer = u32(r.get_uint(L::kPerAnswer));
  q.start_seq = u32(r.get_uint(L::kStartSeq));
  q.flag = static_cast<std::uint8_t>(r.get_uint(L::kFlag).value_or(0));
  return q;
}

MarginSubscribeRequest decode_margin_subscribe_request(const ReceivedFrame& f) {
  namespace L = margin_subscribe_req;
  const WireReader r(f.body);
  MarginSubscribeRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= L::kLength;
  q.fund_account = r.get_uint(L::kFundAccount).value_or(0);
  q.fund_index = u32(r.get_uint(L::kFundIndex));
  q.session_no = r.get_uint(L::kSessionNo).value_or(0);
  q.client_id = static_cast<std::uint16_t>(r.get_uint(L::kClientId).value_or(0));
  q.start_seq = u32(r.get_uint(L::kStartSeq));
  return q;
}

std::vector<std::uint8_t> make_margin_init_answer(const MarginInitAnswer& a, std::uint64_t request_account,
                                                  std::uint64_t request_seq, std::uint32_t ordinal,
                                                  std::uint32_t next_order_no) {
  const std::uint64_t session_no = a.session_no.value_or(kMarginSessionNoBase + ordinal - 1);
  const bool with_error = a.error_id.has_value();
  const std::size_t record_at = margin_rsp_head::kLength;
  const std::size_t error_at = record_at + (a.has_data ? margin_init_rec::kLength : 0);
  WireWriter w(error_at + (with_error ? margin_error::kLength : 0));
  w.put_uint(margin_rsp_head::kSessionNo, a.head_session_no.value_or(session_no));
  w.put_uint(margin_rsp_head::kRequestId, a.request_id.value_or(request_seq));
  w.put_uint(margin_rsp_head::kIsLast, a.is_last);
  w.put_uint(margin_rsp_head::kHasData, a.has_data ? 1 : 0);
  w.put_uint(margin_rsp_head::kHasError, with_error ? 1 : 0);
  if (a.has_data) {
    auto at = [&](WireField f) { return WireField{f.name, record_at + f.offset, f.size}; };
    namespace R = margin_init_rec;
    w.put_uint(at(R::kFundAccount), a.fund_account.value_or(request_account));
    w.put_uint(at(R::kFundIndex), a.fund_index.value_or(ordinal));
    w.put_uint(at(R::kSessionNo), session_no);
    w.put_uint(at(R::kUnread20), a.unread_20);
    w.put_uint(at(R::kOrderNoIndex), a.order_no_index.value_or(next_order_no - 1));
    for (std::size_t k = 0; k < a.speed.size(); ++k) {
      w.put_uint(at(R::speed_ctrl(k)), a.speed[k].ctrl_type);
      w.put_uint(at(R::speed_interval(k)), a.speed[k].interval_ms);
      w.put_uint(at(R::speed_max(k)), a.speed[k].max_count);
    }
    w.put_uint(at(R::kTradingDay),
               a.trading_day ? *a.trading_day : static_cast<std::uint32_t>(local_date_yyyymmdd()));
    w.put_uint(at(R::kNodeId), a.node_id);
  }
  if (with_error) {
    w.put_int(WireField{"error_id", error_at, 4}, *a.error_id);
    w.put_text(WireField{"error_msg", error_at + 4, 124}, a.error_text);
  }
  return w.take();
}

std::vector<std::uint8_t> make_margin_push_payload(std::uint32_t flow_id, std::uint64_t session_no,
                                                   std::uint64_t order_id, std::int32_t error_id) {
  namespace P = margin_push_payload;
  const std::size_t record = P::record_length(flow_id) ? P::record_length(flow_id) : 8;
  const bool with_error = P::has_error_record(flow_id);
  WireWriter w(P::kHeadLength + record + (with_error ? margin_error::kLength : 0));
  w.put_uint(P::kSession, session_no);
  w.put_uint(P::kOrderId, order_id);
  if (with_error) w.put_int(WireField{"error_id", P::kHeadLength + record, 4}, error_id);
  return w.take();
}

std::vector<std::uint8_t> make_margin_flow_message(std::uint64_t session_no, std::uint32_t count, bool end,
                                                   const std::vector<StoredPush>& records) {
  WireWriter head(margin_flow_head::kLength);
  head.put_uint(margin_flow_head::kSessionNo, session_no);
  head.put_uint(margin_flow_head::kCount, count);
  head.put_uint(margin_flow_head::kEndFlag, end ? 1 : 0);
  std::vector<std::uint8_t> body = head.take();
  for (const auto& r : records) {
    WireWriter rec(margin_package_record::kHeadLength);
    rec.put_uint(margin_package_record::kId, r.msg_id);
    rec.put_uint(margin_package_record::kLength, r.body.size());
    const auto& bytes = rec.bytes();
    body.insert(body.end(), bytes.begin(), bytes.end());
    body.insert(body.end(), r.body.begin(), r.body.end());
  }
  return body;
}

// ---------------------------------------------------------------------------------------

struct SimMargin::State {
  GatewaySim* sim;
  mutable std::mutex mu;
  MarginInitAnswer init;
  std::map<std::uint64_t, MarginInitAnswer> account_init;
  std::map<std::uint64_t, std::uint32_t> ordinals;
  std::map<std::uint64_t, std::uint64_t> session_nos;
  MarginSyncScript sync;
  std::map<std::uint64_t, std::size_t> sync_page;  // answers given in the account's synchronisation
  MarginFlowScript flow;

  void on_init(const Exchange& ex);
  void on_sync(const Exchange& ex);
  void on_subscribe(const Exchange& ex);
};

void SimMargin::State::on_init(const Exchange& ex) {
  const MarginInitRequest q = decode_margin_init_request(ex.request);
  MarginInitAnswer a;
  std::uint32_t ordinal;
  {
    std::lock_guard<std::mutex> lk(mu);
    auto it = account_init.find(q.fund_account);
    a = it != account_init.end() ? it->second : init;
    // the same account keeps its index and session number over logins
    ordinal = ordinals.emplace(q.fund_account, static_cast<std::uint32_t>(ordinals.size() + 1)).first->second;
    if (!a.error_id && a.has_data)
      session_nos[q.fund_account] = a.session_no.value_or(kMarginSessionNoBase + ordinal - 1);
  }
  ex.answer(kMsgMarginInitRsp,
            make_margin_init_answer(a, q.fund_account, q.request_seq, ordinal, sim->next_order_number(q.fund_account)));
}

void SimMargin::State::on_sync(const Exchange& ex) {
  namespace S = margin_sync_rsp;
  const MarginSyncRequest q = decode_margin_sync_request(ex.request);
  const std::vector<StoredPush> stored = sim->push_store().from(q.fund_account, q.start_seq);
  MarginSyncPage page;
  {
    std::lock_guard<std::mutex> lk(mu);
    std::size_t& k = sync_page[q.fund_account];
    if (q.start_seq == 0) k = 0;  // a new synchronisation
    if (k < sync.pages.size()) page = sync.pages[k];
    ++k;
  }
  const std::size_t take = std::min(stored.size(), page.records.value_or(q.per_answer));
  std::size_t longest = 0;
  for (std::size_t i = 0; i < take; ++i) longest = std::max(longest, stored[i].body.size());
  const std::uint32_t stride = page.stride.value_or(
      static_cast<std::uint32_t>(margin_sync_record::kHeadLength + (take ? longest : kLongestPayload)));

  WireWriter head(S::kHeadLength);
  head.put_uint(S::kSessionNo, q.session_no);
  head.put_uint(S::kRequestSeq, q.request_seq);
  head.put_uint(S::kFundAccount, q.fund_account);
  head.put_uint(S::kClientId, q.client_id);
  head.put_uint(S::kAsked, page.asked.value_or(q.per_answer));
  head.put_uint(S::kCount, page.count.value_or(static_cast<std::uint32_t>(take)));
  head.put_uint(S::kStride, stride);
  std::vector<std::uint8_t> body = head.take();
  for (std::size_t i = 0; i < take; ++i) {
    WireWriter rec(stride);
    rec.put_uint(margin_sync_record::kFlowId, stored[i].msg_id);
    rec.put_uint(margin_sync_record::kSeq, stored[i].seq);
    rec.put_bytes(WireField{"payload", margin_sync_record::kHeadLength, stride}, stored[i].body.data(),
                  stored[i].body.size());
    const auto& bytes = rec.bytes();
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  ex.answer(kMsgMarginSyncRsp, std::move(body));
}

void SimMargin::State::on_subscribe(const Exchange& ex) {
  const MarginSubscribeRequest q = decode_margin_subscribe_request(ex.request);
  MarginFlowScript script;
  {
    std::lock_guard<std::mutex> lk(mu);
    script = flow;
  }
  const std::vector<StoredPush> stored = sim->push_store().from(q.fund_account, q.start_seq);
  const std::size_t per = script.per_message ? script.per_message : 1;
  std::vector<std::vector<std::uint8_t>> messages;
  for (std::size_t i = 0; i < stored.size(); i += per) {
    const std::size_t n = std::min(per, stored.size() - i);
    const bool last = i + n == stored.size();
    messages.push_back(make_margin_flow_message(
        q.session_no, static_cast<std::uint32_t>(n), last && script.end_in_last && script.send_end,
        std::vector<StoredPush>(stored.begin() + static_cast<std::ptrdiff_t>(i),
                                stored.begin() + static_cast<std::ptrdiff_t>(i + n))));
  }
  if (script.send_end && (!script.end_in_last || messages.empty()))
    messages.push_back(make_margin_flow_message(q.session_no, 0, true, {}));
  if (messages.empty()) return;  // nothing stored and no end: no answer at all

  // every message answers the request; the last one under the reply plan's mode
  std::vector<std::uint8_t> leading;
  for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
    const auto f = encode_frame(kResponse, kMsgMarginFlow, ex.request.request_id, messages[i], ex.request.async_flag);
    leading.insert(leading.end(), f.begin(), f.end());
  }
  ex.answer_after(std::move(leading), kMsgMarginFlow, std::move(messages.back()));
}

SimMargin::SimMargin(GatewaySim& sim) : sim_(sim), state_(std::make_shared<State>()) {
  state_->sim = &sim;
  std::shared_ptr<State> s = state_;
  sim.on(kMsgMarginInit, [s](const Exchange& ex) { s->on_init(ex); });
  sim.on(kMsgMarginSync, [s](const Exchange& ex) { s->on_sync(ex); });
  sim.on(kMsgMarginSubscribe, [s](const Exchange& ex) { s->on_subscribe(ex); });
  orders_ = std::make_shared<MarginOrderServer>(sim);
  std::shared_ptr<MarginOrderServer> o = orders_;
  sim.on(kMsgMarginInsertOrder, [o](const Exchange& ex) { o->on_insert(ex); });
  sim.on(kMsgMarginCancelOrder, [o](const Exchange& ex) { o->on_cancel(ex); });
  sim.on(kMsgMarginFundTransferReq, [o](const Exchange& ex) { o->on_transfer(ex); });
  sim.on(kMsgMarginCashRepayReq, [o](const Exchange& ex) { o->on_repay(ex); });
  sim.on(kMsgMarginRepayDebtReq, [o](const Exchange& ex) { o->on_repay_debt(ex); });
  sim.on(kMsgMarginCreditRequestReq, [o](const Exchange& ex) { o->on_credit_request(ex); });
  queries_ = std::make_shared<MarginQueryServer>(sim, orders_);
  queries_->set_book(demo_margin_book());
  std::shared_ptr<MarginQueryServer> q = queries_;
  for (std::uint32_t id : MarginQueryServer::request_ids()) sim.on(id, [q](const Exchange& ex) { q->on_query(ex); });
}

SimMargin::~SimMargin() {
  sim_.on(kMsgMarginInit, nullptr);
  sim_.on(kMsgMarginSync, nullptr);
  sim_.on(kMsgMarginSubscribe, nullptr);
  for (std::uint32_t id : {kMsgMarginInsertOrder, kMsgMarginCancelOrder, kMsgMarginFundTransferReq,
                           kMsgMarginCashRepayReq, kMsgMarginRepayDebtReq, kMsgMarginCreditRequestReq})
    sim_.on(id, nullptr);
  for (std::uint32_t id : MarginQueryServer::request_ids()) sim_.on(id, nullptr);
}

void SimMargin::add_account(std::uint64_t account) { sim_.set_account_business(account, 2); }

void SimMargin::set_init_answer(const MarginInitAnswer& a) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->init = a;
}

void SimMargin::set_account_init_answer(std::uint64_t account, const MarginInitAnswer& a) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->account_init[account] = a;
}

void SimMargin::set_sync_script(const MarginSyncScript& s) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->sync = s;
  state_->sync_page.clear();
}

void SimMargin::set_flow_script(const MarginFlowScript& s) {
  std::lock_guard<std::mutex> lk(state_->mu);
  state_->flow = s;
}

std::uint32_t SimMargin::store(std::uint64_t account, std::uint32_t flow_id, std::uint64_t order_id,
                               std::int32_t error_id) {
  return sim_.push_store().append(account, flow_id,
                                  make_margin_push_payload(flow_id, session_no(account), order_id, error_id));
}

std::uint64_t SimMargin::session_no(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(state_->mu);
  auto it = state_->session_nos.find(account);
  return it != state_->session_nos.end() ? it->second : 0;
}

std::vector<MarginInitRequest> SimMargin::init_requests() const {
  std::vector<MarginInitRequest> out;
  for (const auto& f : sim_.frames())
    if (f.msg_id == kMsgMarginInit && f.content_type == kRequest) out.push_back(decode_margin_init_request(f));
  return out;
}

std::vector<MarginSyncRequest> SimMargin::sync_requests() const {
  std::vector<MarginSyncRequest> out;
  for (const auto& f : sim_.frames())
    if (f.msg_id == kMsgMarginSync && f.content_type == kRequest) out.push_back(decode_margin_sync_request(f));
  return out;
}

std::vector<MarginSubscribeRequest> SimMargin::subscribe_requests() const {
  std::vector<MarginSubscribeRequest> out;
  for (const auto& f : sim_.frames())
    if (f.msg_id == kMsgMarginSubscribe && f.content_type == kRequest)
      out.push_back(decode_margin_subscribe_request(f));
  return out;
}

}  // namespace oxa_sim
