// The spot session of the simulated gateway: login 0x10a, synchronisation 0x20010 and
// subscription 0x103, with the store of pushes behind the last two.
#include <ctime>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {
namespace {

constexpr std::uint32_t kDefaultPerAnswer = 200;

}  // namespace

std::int32_t local_date_yyyymmdd() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

SyncScript SyncScript::of_sizes(const std::vector<std::size_t>& sizes) {
  SyncScript s;
  for (std::size_t n : sizes) {
    SyncRound r;
    r.records = n;
    s.rounds.push_back(r);
  }
  return s;
}

SyncRequest decode_sync_request(const ReceivedFrame& f) {
  const WireReader r(f.body);
  SyncRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= sync_req::kLength;
  q.session_no = r.get_uint(sync_req::kSessionNo).value_or(0);
  q.request_no = r.get_uint(sync_req::kRequestNo).value_or(0);
  q.fund_account = r.get_uint(sync_req::kFundAccount).value_or(0);
  q.client_id = static_cast<std::uint8_t>(r.get_uint(sync_req::kClientId).value_or(0));
  q.counter = static_cast<std::uint32_t>(r.get_uint(sync_req::kCounter).value_or(0));
  q.per_answer = static_cast<std::uint32_t>(r.get_uint(sync_req::kPerAnswer).value_or(0));
  q.start = r.get_uint(sync_req::kStart).value_or(0);
  q.flag = static_cast<std::uint32_t>(r.get_uint(sync_req::kFlag).value_or(0));
  return q;
}

SubscribeRequest decode_subscribe_request(const ReceivedFrame& f) {
  const WireReader r(f.body);
  SubscribeRequest q;
  q.conn_id = f.conn_id;
  q.request_id = f.request_id;
  q.complete = f.body.size() >= subscribe_req::kLength;
  q.session_no = static_cast<std::uint32_t>(r.get_uint(subscribe_req::kSessionNo).value_or(0));
  q.counter = static_cast<std::int64_t>(r.get_uint(subscribe_req::kCounter).value_or(0));
  q.start_seq = static_cast<std::uint32_t>(r.get_uint(subscribe_req::kStartSeq).value_or(0));
  q.fund_account = r.get_uint(subscribe_req::kFundAccount).value_or(0);
  return q;
}

std::vector<std::uint8_t> make_spot_login_answer(const SpotLoginAnswer& a,
                                                 std::uint64_t request_account,
                                                 std::uint64_t request_no, std::uint32_t ordinal,
                                                 std::uint32_t next_order_no) {
  WireWriter w(spot_login_rsp::kLength);
  w.put_uint(spot_login_rsp::kRequestNo, a.request_no.value_or(request_no));
  w.put_uint(spot_login_rsp::kFundAccount, a.fund_account.value_or(request_account));
  w.put_int(spot_login_rsp::kTradingDay, a.trading_day ? *a.trading_day : local_date_yyyymmdd());
  w.put_uint(spot_login_rsp::kFundIndex, a.fund_index.value_or(ordinal));
  w.put_int(spot_login_rsp::kOrderNoIndex,
            a.order_no_index ? *a.order_no_index : static_cast<std::int32_t>(next_order_no));
  w.put_uint(spot_login_rsp::kSessionNo, a.session_no.value_or(ordinal));
  w.put_int(spot_login_rsp::kErrorCode, a.error_code);
  w.put_int(spot_login_rsp::kNodeId, a.node_id);
  w.put_int(spot_login_rsp::kOrderLimit, a.order_limit);
  w.put_int(spot_login_rsp::kQueryLimit, a.query_limit);
  return w.take();
}

std::vector<std::uint8_t> make_sync_answer(const SyncAnswer& a) {
  WireWriter head(sync_rsp::kHeadLength);
  head.put_uint(sync_rsp::kSessionNo, a.session_no);
  head.put_uint(sync_rsp::kRequestNo, a.request_no);
  head.put_uint(sync_rsp::kFundAccount, a.fund_account);
  head.put_uint(sync_rsp::kClientId, a.client_id);
  head.put_uint(sync_rsp::kProgressFirst, a.progress_first);
  head.put_uint(sync_rsp::kProgressSecond, a.progress_second);
  head.put_uint(sync_rsp::kCount, a.count.value_or(static_cast<std::uint32_t>(a.records.size())));
  head.put_uint(sync_rsp::kStride, a.stride);
  std::vector<std::uint8_t> body = head.take();
  body.reserve(body.size() + a.records.size() * a.stride);
  for (const auto& p : a.records) {
    WireWriter rec(a.stride);
    rec.put_uint(sync_record::kMsgId, p.msg_id);
    rec.put_uint(sync_record::kSeq, p.seq);
    rec.put_bytes(sync_record::kPush, p.body.data(), p.body.size());
    const auto& bytes = rec.bytes();
    body.insert(body.end(), bytes.begin(), bytes.end());
  }
  return body;
}

std::vector<std::uint8_t> make_subscribe_end(const SubscribeRequest& r) {
  WireWriter w(subscribe_end::kLength);
  w.put_uint(subscribe_end::kSessionNo, r.session_no);
  w.put_int(subscribe_end::kCounter, r.counter);
  w.put_uint(subscribe_end::kStartSeq, r.start_seq);
  w.put_uint(subscribe_end::kFundAccount, r.fund_account);
  return w.take();
}

void GatewaySim::install_spot_handlers() {
  on(kMsgSpotLogin, [this](const Exchange& ex) { on_spot_login(ex); });
  on(kMsgSpotSync, [this](const Exchange& ex) { on_sync(ex); });
  on(kMsgSpotSubscribe, [this](const Exchange& ex) { on_subscribe(ex); });
}

void GatewaySim::enable_spot_orders(bool on) {
  if (!on) {
    this->on(kMsgSpotInsert, nullptr);
    this->on(kMsgSpotCancel, nullptr);
    this->on(kMsgSpotFundTransfer, nullptr);
    return;
  }
  SpotOrderServer* s = orders_.get();
  this->on(kMsgSpotInsert, [s](const Exchange& ex) { s->on_insert(ex); });
  this->on(kMsgSpotCancel, [s](const Exchange& ex) { s->on_cancel(ex); });
  this->on(kMsgSpotFundTransfer, [s](const Exchange& ex) { s->on_transfer(ex); });
}

void GatewaySim::enable_spot_queries(bool on) {
  SpotQueryServer* q = queries_.get();
  for (const std::uint32_t id : SpotQueryServer::request_ids()) {
    if (on)
      this->on(id, [q](const Exchange& ex) { q->on_query(ex); });
    else
      this->on(id, nullptr);
  }
}

void GatewaySim::on_spot_login(const Exchange& ex) {
  const WireReader r(ex.request.body);
  const std::uint64_t account = r.get_uint(spot_login_req::kFundAccount).value_or(0);
  const std::uint64_t request_no = r.get_uint(spot_login_req::kRequestNo).value_or(0);
  SpotLoginAnswer a;
  std::uint32_t ordinal;
  bool new_account;
  {
    std::lock_guard<std::mutex> lk(cfg_mu_);
    auto it = account_spot_answer_.find(account);
    a = it != account_spot_answer_.end() ? it->second : spot_answer_;
    // the same account keeps its index and session number over logins
    const auto placed =
        ordinals_.emplace(account, static_cast<std::uint32_t>(ordinals_.size() + 1));
    ordinal = placed.first->second;
    new_account = placed.second;
  }
  if (new_account) journal({StateRecord::Kind::kOrdinal, account, ordinal, 0, {}});
  {
    // a new session: its subscription is asked for again (live pushes keep to the push connection)
    std::lock_guard<std::mutex> lk(publish_mu_);
    subs_.erase(account);
  }
  ex.answer(kMsgSpotLoginRsp,
            make_spot_login_answer(a, account, request_no, ordinal, next_order_number(account)));
}

void GatewaySim::on_sync(const Exchange& ex) {
  const SyncRequest q = decode_sync_request(ex.request);
  const std::vector<StoredPush> all = store_.list(q.fund_account);
  const std::size_t per_answer = q.per_answer != 0 ? q.per_answer : kDefaultPerAnswer;

  SyncAnswer out;
  out.session_no = q.session_no;
  out.request_no = q.request_no;
  out.fund_account = q.fund_account;
  out.client_id = q.client_id;
  std::size_t cursor, take, k;
  {
    std::lock_guard<std::mutex> lk(cfg_mu_);
    auto si = account_sync_script_.find(q.fund_account);
    const SyncScript& script = si != account_sync_script_.end() ? si->second : sync_script_;
    auto st = sync_state_.find(q.fund_account);
    if (st == sync_state_.end() || q.counter == 1)
      st = sync_state_.insert_or_assign(q.fund_account, SyncState{}).first;
    SyncState& state = st->second;
    k = ++state.round;
    cursor = state.cursor < all.size() ? state.cursor : all.size();
    const std::size_t remaining = all.size() - cursor;

    const SyncRound* round = nullptr;
    bool ended;
    if (script.rounds.empty()) {
      take = per_answer < remaining ? per_answer : remaining;
      ended = take == remaining;
    } else if (k <= script.rounds.size()) {
      round = &script.rounds[k - 1];
      const std::size_t want = round->records.value_or(per_answer);
      take = want < remaining ? want : remaining;
      ended = k == script.rounds.size();
    } else {
      take = 0;
      ended = true;
    }
    if (script.endless) ended = false;
    const auto k32 = static_cast<std::uint32_t>(k);
    out.progress_first = ended ? k32 : k32 + 1;
    out.progress_second = k32;
    if (round) {
      if (round->progress_first) out.progress_first = *round->progress_first;
      if (round->progress_second) out.progress_second = *round->progress_second;
      out.count = round->count;
      if (round->stride) out.stride = *round->stride;
    }
    // the round counts as given whatever the reply mode: a lost answer is not sent again
    state.cursor = cursor + take;
  }
  out.records.assign(all.begin() + static_cast<std::ptrdiff_t>(cursor),
                     all.begin() + static_cast<std::ptrdiff_t>(cursor + take));
  ex.answer(kMsgSpotSyncRsp, make_sync_answer(out));
}

void GatewaySim::on_subscribe(const Exchange& ex) {
  const SubscribeRequest q = decode_subscribe_request(ex.request);
  bool replay;
  {
    std::lock_guard<std::mutex> lk(cfg_mu_);
    replay = subscribe_replay_;
  }
  std::lock_guard<std::mutex> lk(publish_mu_);
  std::vector<std::uint8_t> leading;
  if (replay) {
    for (const auto& p : store_.from(q.fund_account, q.start_seq)) {
      const auto f = encode_frame(kPush, p.msg_id, p.seq, p.body, 0);
      leading.insert(leading.end(), f.begin(), f.end());
    }
  }
  if (ex.answer_after(std::move(leading), kMsgSpotSubscribeEnd, make_subscribe_end(q)))
    subs_[q.fund_account] = ex.conn;
}

void GatewaySim::set_spot_login_answer(const SpotLoginAnswer& a) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  spot_answer_ = a;
}

SpotLoginAnswer GatewaySim::spot_login_answer() const {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  return spot_answer_;
}

void GatewaySim::set_account_spot_login_answer(std::uint64_t account, const SpotLoginAnswer& a) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  account_spot_answer_[account] = a;
}

void GatewaySim::set_sync_script(const SyncScript& s) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  sync_script_ = s;
}

void GatewaySim::set_account_sync_script(std::uint64_t account, const SyncScript& s) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  account_sync_script_[account] = s;
}

void GatewaySim::set_subscribe_replay(bool on) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  subscribe_replay_ = on;
}

GatewaySim::Published GatewaySim::publish(std::uint64_t account, std::uint32_t msg_id,
                                          std::vector<std::uint8_t> body) {
  std::lock_guard<std::mutex> lk(publish_mu_);
  Published out;
  std::shared_ptr<SimConnection> conn;
  auto it = push_conns_.find(account);
  if (it != push_conns_.end()) conn = it->second.lock();
  out.seq = store_.append(account, msg_id, body);
  if (journal_.is_open()) journal({StateRecord::Kind::kPush, account, out.seq, msg_id, body});
  if (conn && conn->is_open())
    out.sent = conn->push(msg_id, out.seq, body);
  else if (push_route_)
    out.sent = push_route_(account, msg_id, out.seq, body);
  return out;
}

void GatewaySim::set_push_route(PushRoute route) {
  std::lock_guard<std::mutex> lk(publish_mu_);
  push_route_ = std::move(route);
}

std::shared_ptr<SimConnection> GatewaySim::push_connection(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(publish_mu_);
  auto it = push_conns_.find(account);
  if (it == push_conns_.end()) return nullptr;
  auto conn = it->second.lock();
  return conn && conn->is_open() ? conn : nullptr;
}

void GatewaySim::note_order_number(std::uint64_t account, std::uint64_t order_id) {
  const auto seq = static_cast<std::uint32_t>(order_id);
  {
    std::lock_guard<std::mutex> lk(publish_mu_);
    std::uint32_t& highest = order_numbers_[account];
    if (seq <= highest) return;
    highest = seq;
  }
  journal({StateRecord::Kind::kOrderNumber, account, seq, 0, {}});
}

std::uint32_t GatewaySim::next_order_number(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(publish_mu_);
  auto it = order_numbers_.find(account);
  return it == order_numbers_.end() ? 1u : it->second + 1u;
}

bool GatewaySim::set_state_file(const std::string& path) {
  return journal_.open(path, [this](const StateRecord& r) {
    switch (r.kind) {
      case StateRecord::Kind::kOrdinal: {
        std::lock_guard<std::mutex> lk(cfg_mu_);
        ordinals_[r.account] = r.value;
        break;
      }
      case StateRecord::Kind::kOrderNumber: {
        std::lock_guard<std::mutex> lk(publish_mu_);
        std::uint32_t& highest = order_numbers_[r.account];
        if (r.value > highest) highest = r.value;
        break;
      }
      case StateRecord::Kind::kPush:
        store_.insert(r.account, r.value, r.msg_id, r.body);
        break;
    }
  });
}

std::shared_ptr<SimConnection> GatewaySim::subscribed_connection(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(publish_mu_);
  auto it = subs_.find(account);
  if (it == subs_.end()) return nullptr;
  auto conn = it->second.lock();
  return conn && conn->is_open() ? conn : nullptr;
}

std::vector<SyncRequest> GatewaySim::sync_requests() const {
  std::vector<SyncRequest> out;
  std::lock_guard<std::mutex> lk(log_mu_);
  for (const auto& f : log_)
    if (f.msg_id == kMsgSpotSync && f.content_type == kRequest) out.push_back(decode_sync_request(f));
  return out;
}

std::vector<SubscribeRequest> GatewaySim::subscribe_requests() const {
  std::vector<SubscribeRequest> out;
  std::lock_guard<std::mutex> lk(log_mu_);
  for (const auto& f : log_)
    if (f.msg_id == kMsgSpotSubscribe && f.content_type == kRequest)
      out.push_back(decode_subscribe_request(f));
  return out;
}

}  // namespace oxa_sim
