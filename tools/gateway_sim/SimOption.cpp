#include "gateway_sim/SimOption.h"

#include <algorithm>

namespace oxa_sim {

namespace {

constexpr std::uint32_t kOrderIds[] = {kMsgOptInsert,  kMsgOptCancel,          kMsgOptLock,        kMsgOptCombInsert,
                                       kMsgOptExecute, kMsgOptCombinedExecute, kMsgOptFundTransfer};
constexpr std::uint32_t kOwnIds[] = {kMsgOptLogin, kMsgOptSync, kMsgOptSubscribe};

std::uint64_t get(const WireReader& r, const WireField& f) { return r.get_uint(f).value_or(0); }

}  // namespace

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
  PushStore pushes;
};

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
  ex.answer(kMsgOptLoginRsp, make_option_login_answer(a, q.fund_account, ordinal));
}

// One page of the replay: the stored pushes from the request's start sequence, numbered
// 1..total, after the request's position.
void on_sync(SimOption::State& st, const Exchange& ex) {
  const OptionSyncRequest q = decode_option_sync(ex.request);
  std::vector<StoredPush> all;
  std::size_t per_page;
  {
    std::lock_guard<std::mutex> lk(st.mu);
    st.syncs.push_back(q);
    per_page = st.rows_per_page;
  }
  all = st.pushes.from(q.fund_account, static_cast<std::uint32_t>(std::max(q.start_seq, 0)));
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

void on_order(SimOption::State& st, const Exchange& ex) {
  const WireReader r(ex.request.body);
  OptionOrderRequest q;
  q.conn_id = ex.request.conn_id;
  q.msg_id = ex.request.msg_id;
  q.request_id = ex.request.request_id;
  q.session_no = get(r, opt_order_head::kSessionNo);
  q.fund_account = get(r, opt_order_head::kFundAccount);
  q.order_id = get(r, opt_order_head::kOrderId);
  q.body = ex.request.body;
  std::lock_guard<std::mutex> lk(st.mu);
  st.orders.push_back(std::move(q));
}

}  // namespace

SimOption::SimOption(GatewaySim& sim) : sim_(sim), state_(std::make_shared<State>()) {
  std::shared_ptr<State> st = state_;
  GatewaySim* s = &sim;
  sim.on(kMsgOptLogin, [s, st](const Exchange& ex) { on_login(*s, *st, ex); });
  sim.on(kMsgOptSync, [st](const Exchange& ex) { on_sync(*st, ex); });
  sim.on(kMsgOptSubscribe, [st](const Exchange& ex) { on_subscribe(*st, ex); });
  for (const std::uint32_t id : kOrderIds) sim.on(id, [st](const Exchange& ex) { on_order(*st, ex); });
}

SimOption::~SimOption() {
  for (const std::uint32_t id : kOwnIds) sim_.on(id, nullptr);
  for (const std::uint32_t id : kOrderIds) sim_.on(id, nullptr);
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

PushStore& SimOption::pushes() { return state_->pushes; }

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
