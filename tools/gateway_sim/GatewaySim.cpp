#include "gateway_sim/GatewaySim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "gateway_sim/SimScheduler.h"

namespace oxa_sim {
namespace {

// A client that stops reading must not hold a sending thread forever.
constexpr int kSendTimeoutMs = 2000;
// Upper bound for the accept thread to take a listener change.
constexpr Millis kListenerChangeWait{2000};

bool read_exact(int fd, std::uint8_t* p, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::recv(fd, p + done, n - done, 0);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> make_login_answer(const LoginAnswer& a, std::uint64_t request_account) {
  WireWriter w(login_rsp::kLength);
  w.put_uint(login_rsp::kFundId, a.fund_account.value_or(request_account));
  w.put_uint(login_rsp::kProtocolMode, a.protocol_mode);
  w.put_int(login_rsp::kErrorCode, a.error_code);
  w.put_text(login_rsp::kHqtrsIp, a.hqtrs_ip);
  w.put_uint(login_rsp::kHqtrsPort, a.hqtrs_port);
  w.put_uint(login_rsp::kGroupId, a.group_id);
  w.put_uint(login_rsp::kMemberId, a.member_id);
  w.put_uint(login_rsp::kFuncType, a.business_type);
  w.put_uint(login_rsp::kOptionValue, a.option_value);
  return w.take();
}

std::vector<std::uint8_t> make_push_reg_answer(std::uint64_t account, std::int32_t error) {
  WireWriter w(push_reg_rsp::kLength);
  w.put_uint(push_reg_rsp::kFundId, account);
  w.put_int(push_reg_rsp::kError, error);
  return w.take();
}

std::vector<std::uint8_t> make_logout_answer(std::uint64_t account, std::int32_t error) {
  WireWriter w(logout_rsp::kLength);
  w.put_uint(logout_rsp::kFundId, account);
  w.put_int(logout_rsp::kError, error);
  return w.take();
}

std::vector<std::uint8_t> make_offline_command(std::uint64_t request_id,
                                               std::uint64_t trading_day) {
  WireWriter w(offline_cmd::kLength);
  w.put_uint(offline_cmd::kRequestId, request_id);
  w.put_uint(offline_cmd::kTradingDay, trading_day);
  return w.take();
}

GatewaySim::GatewaySim()
    : scheduler_(std::make_shared<Scheduler>()), orders_(std::make_unique<SpotOrderServer>(*this)),
      queries_(std::make_unique<SpotQueryServer>(*this)) {
  install_gateway_handlers();
  install_spot_handlers();
}

GatewaySim::~GatewaySim() {
  stop();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void GatewaySim::install_gateway_handlers() {
  on(kMsgLogin, [this](const Exchange& ex) {
    const std::uint64_t account = WireReader(ex.request.body).get_uint(login_req::kFundAccount).value_or(0);
    LoginAnswer a;
    {
      std::lock_guard<std::mutex> lk(cfg_mu_);
      auto it = account_answer_.find(account);
      a = it != account_answer_.end() ? it->second : login_answer_;
      auto b = account_business_.find(account);
      if (b != account_business_.end()) a.business_type = b->second;
      if (login_editor_) login_editor_(account, ex.conn ? ex.conn->id() : 0, a);
    }
    ex.answer(kMsgLogin, make_login_answer(a, account));
  });
  on(kMsgPushReg, [this](const Exchange& ex) {
    const std::uint64_t account = WireReader(ex.request.body).get_uint(push_reg_req::kFundAccount).value_or(0);
    std::int32_t error;
    {
      std::lock_guard<std::mutex> lk(cfg_mu_);
      error = push_reg_error_;
    }
    // registered before the answer leaves, so no push published after the client saw it is lost
    std::lock_guard<std::mutex> lk(publish_mu_);
    if (ex.answer(kMsgPushReg, make_push_reg_answer(account, error)) && error == 0)
      push_conns_[account] = ex.conn;
  });
  on(kMsgLogoutReq, [this](const Exchange& ex) {
    const std::uint64_t account = WireReader(ex.request.body).get_uint(logout_req::kFundAccount).value_or(0);
    std::int32_t error;
    {
      std::lock_guard<std::mutex> lk(cfg_mu_);
      error = logout_error_;
    }
    if (error == 0) {
      // a logged-out account gets no live pushes; they are stored for its next login
      std::lock_guard<std::mutex> lk(publish_mu_);
      push_conns_.erase(account);
      subs_.erase(account);
    }
    ex.answer(kMsgLogoutRsp, make_logout_answer(account, error));
  });
}

int GatewaySim::open_listener(std::uint16_t port, std::uint16_t* bound) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  if (bound) {
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      ::close(fd);
      return -1;
    }
    *bound = ntohs(addr.sin_port);
  }
  return fd;
}

bool GatewaySim::start(std::uint16_t port) {
  std::lock_guard<std::mutex> lk(listen_mu_);
  if (started_) return false;
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return false;
  std::uint16_t bound = 0;
  const int fd = open_listener(port, &bound);
  if (fd < 0) {
    ::close(wake_fd_);
    wake_fd_ = -1;
    return false;
  }
  listen_fd_ = fd;
  port_ = bound;
  started_ = true;
  scheduler_->start();
  accept_thread_ = std::thread(&GatewaySim::accept_loop, this);
  return true;
}

void GatewaySim::wake() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  // the counter only has to become readable; a full counter is readable already
  [[maybe_unused]] ssize_t r = ::write(wake_fd_, &one, sizeof one);
}

void GatewaySim::stop() {
  {
    std::lock_guard<std::mutex> lk(listen_mu_);
    if (!started_ || stopping_) return;
    stopping_ = true;
  }
  wake();
  listen_cv_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  {
    std::lock_guard<std::mutex> lk(listen_mu_);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (pending_listen_fd_ >= 0) ::close(pending_listen_fd_);
    listen_fd_ = pending_listen_fd_ = -1;
  }

  std::vector<std::shared_ptr<SimConnection>> all;
  std::vector<std::thread> readers;
  {
    std::lock_guard<std::mutex> lk(conn_mu_);
    for (auto& kv : conns_) {
      all.push_back(kv.second);
      readers.push_back(std::move(kv.second->reader_));
    }
  }
  for (auto& c : all) c->close();
  for (auto& t : readers) {
    if (!t.joinable()) continue;
    if (t.get_id() == std::this_thread::get_id())
      t.detach();
    else
      t.join();
  }
  {
    std::lock_guard<std::mutex> lk(conn_mu_);
    conns_.clear();
  }
  conn_cv_.notify_all();
  scheduler_->stop();
}

void GatewaySim::reap_finished_locked(std::vector<std::thread>& out) {
  for (auto it = conns_.begin(); it != conns_.end();) {
    if (it->second->finished_) {
      out.push_back(std::move(it->second->reader_));
      it = conns_.erase(it);
    } else {
      ++it;
    }
  }
}

void GatewaySim::accept_loop() {
  for (;;) {
    int lfd;
    {
      std::lock_guard<std::mutex> lk(listen_mu_);
      if (stopping_) return;
      if (pending_listen_fd_ >= 0) {
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = pending_listen_fd_;
        pending_listen_fd_ = -1;
        listen_cv_.notify_all();
      } else if (want_refuse_ && listen_fd_ >= 0) {
        ::close(listen_fd_);
        listen_fd_ = -1;
        listen_cv_.notify_all();
      }
      lfd = listen_fd_;
    }

    pollfd p[2] = {{wake_fd_, POLLIN, 0}, {lfd, POLLIN, 0}};
    const int n = ::poll(p, lfd >= 0 ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::this_thread::sleep_for(Millis(10));  // not expected; do not spin
      continue;
    }
    if (p[0].revents & POLLIN) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t r = ::read(wake_fd_, &v, sizeof v);
    }
    if (lfd < 0 || !(p[1].revents & POLLIN)) continue;

    const int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    std::vector<std::thread> done;
    {
      std::lock_guard<std::mutex> lk(conn_mu_);
      reap_finished_locked(done);
      std::shared_ptr<SimConnection> conn(new SimConnection(next_conn_id_++, fd, scheduler_));
      conns_.emplace(conn->id(), conn);
      ++accepted_;
      conn->reader_ = std::thread(&GatewaySim::reader_loop, this, conn);
    }
    conn_cv_.notify_all();
    for (auto& t : done)
      if (t.joinable()) t.join();
  }
}

void GatewaySim::reader_loop(std::shared_ptr<SimConnection> conn) {
  std::uint8_t hdr[kHeaderSize];
  std::vector<std::uint8_t> buf;
  for (;;) {
    if (!read_exact(conn->fd_, hdr, sizeof hdr)) break;
    FrameHeader h;
    ReceivedFrame f;
    f.status = decode_header(hdr, h);
    f.conn_id = conn->id();
    f.content_type = h.content_type;
    f.msg_id = h.msg_id;
    f.request_id = h.request_id;
    f.async_flag = h.async_flag;
    f.body_len = h.body_len;
    f.crc_ok = h.crc == h.computed_crc;
    f.at = Clock::now();
    if (f.status != HeaderStatus::kOk) {
      // a broken header cannot be trusted for the length: record it and drop the client
      record(f);
      break;
    }
    buf.resize(static_cast<std::size_t>(h.body_len) + kTailSize);
    if (!read_exact(conn->fd_, buf.data(), buf.size())) break;
    f.tail_ok = buf[h.body_len] == 0xFE && buf[h.body_len + 1] == 0xFE;
    f.body.assign(buf.begin(), buf.begin() + h.body_len);
    record(f);
    dispatch(f, conn);
  }
  conn->close();
  {
    std::lock_guard<std::mutex> lk(conn_mu_);
    conn->finished_ = true;
  }
  conn_cv_.notify_all();
}

void GatewaySim::record(const ReceivedFrame& f) {
  std::function<void(const ReceivedFrame&)> observer;
  {
    std::lock_guard<std::mutex> lk(log_mu_);
    log_.push_back(f);
    while (log_.size() > log_limit_) log_.pop_front();
    observer = observer_;
  }
  log_cv_.notify_all();
  if (observer) {
    try {
      observer(f);
    } catch (...) {
    }
  }
}

ReplyPlan GatewaySim::take_plan(std::uint32_t msg_id) {
  auto q = queued_.find(msg_id);
  if (q != queued_.end() && !q->second.empty()) {
    ReplyPlan p = q->second.front();
    q->second.pop_front();
    return p;
  }
  auto s = standing_.find(msg_id);
  return s != standing_.end() ? s->second : ReplyPlan{};
}

void GatewaySim::dispatch(const ReceivedFrame& f, const std::shared_ptr<SimConnection>& conn) {
  if (f.content_type == kHeartbeat) {
    bool answer;
    {
      std::lock_guard<std::mutex> lk(cfg_mu_);
      answer = answer_heartbeats_;
    }
    if (answer) conn->send_raw(encode_heartbeat());
    return;
  }
  if (f.content_type != kRequest) return;  // responses and pushes from a client are only recorded

  Exchange ex;
  Handler h;
  {
    std::lock_guard<std::mutex> lk(cfg_mu_);
    auto it = handlers_.find(f.msg_id);
    if (it == handlers_.end()) return;
    h = it->second;
    ex.plan = take_plan(f.msg_id);
  }
  ex.request = f;
  ex.conn = conn;
  try {
    h(ex);
  } catch (...) {
    // a faulty handler must not end the connection's thread
  }
}

void GatewaySim::dispatch_request(std::uint32_t msg_id, std::uint64_t request_id, std::vector<std::uint8_t> body,
                                  ReplyRoute reply) {
  ReceivedFrame f;
  f.content_type = kRequest;
  f.msg_id = msg_id;
  f.request_id = request_id;
  f.body_len = static_cast<std::uint32_t>(body.size());
  f.body = std::move(body);
  f.crc_ok = true;
  f.tail_ok = true;
  f.at = Clock::now();
  record(f);
  Exchange ex;
  Handler h;
  {
    std::lock_guard<std::mutex> lk(cfg_mu_);
    auto it = handlers_.find(msg_id);
    if (it == handlers_.end()) return;
    h = it->second;
    ex.plan = take_plan(msg_id);
  }
  ex.request = std::move(f);
  ex.reply = std::move(reply);
  try {
    h(ex);
  } catch (...) {
    // a faulty handler must not end the bus's deliver thread
  }
}

void GatewaySim::set_login_answer_editor(LoginAnswerEditor editor) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  login_editor_ = std::move(editor);
}

void GatewaySim::on(std::uint32_t msg_id, Handler handler) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  if (handler)
    handlers_[msg_id] = std::move(handler);
  else
    handlers_.erase(msg_id);
}

void GatewaySim::set_reply(std::uint32_t msg_id, ReplyPlan plan) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  standing_[msg_id] = plan;
}

void GatewaySim::queue_reply(std::uint32_t msg_id, ReplyPlan plan) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  queued_[msg_id].push_back(plan);
}

void GatewaySim::set_login_answer(const LoginAnswer& a) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  login_answer_ = a;
}

LoginAnswer GatewaySim::login_answer() const {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  return login_answer_;
}

void GatewaySim::set_account_login_answer(std::uint64_t account, const LoginAnswer& a) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  account_answer_[account] = a;
}

void GatewaySim::set_account_business(std::uint64_t account, std::uint8_t business_type) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  account_business_[account] = business_type;
}

void GatewaySim::set_push_reg_error(std::int32_t error) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  push_reg_error_ = error;
}

void GatewaySim::set_logout_error(std::int32_t error) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  logout_error_ = error;
}

void GatewaySim::set_answer_heartbeats(bool on) {
  std::lock_guard<std::mutex> lk(cfg_mu_);
  answer_heartbeats_ = on;
}

std::size_t GatewaySim::send_offline(std::uint64_t request_id, std::uint64_t trading_day,
                                     std::uint64_t conn_id) {
  const auto body = make_offline_command(request_id, trading_day);
  std::size_t sent = 0;
  for (auto& c : open_connections())
    if (conn_id == 0 || c->id() == conn_id)
      if (c->push(kMsgOffline, request_id, body)) ++sent;
  return sent;
}

std::size_t GatewaySim::send_heartbeat(std::uint64_t conn_id) {
  const auto frame = encode_heartbeat();
  std::size_t sent = 0;
  for (auto& c : open_connections())
    if (conn_id == 0 || c->id() == conn_id)
      if (c->send_raw(frame)) ++sent;
  return sent;
}

std::shared_ptr<SimConnection> GatewaySim::connection(std::uint64_t id) const {
  std::lock_guard<std::mutex> lk(conn_mu_);
  auto it = conns_.find(id);
  return it != conns_.end() ? it->second : nullptr;
}

std::vector<std::shared_ptr<SimConnection>> GatewaySim::open_connections() const {
  std::vector<std::shared_ptr<SimConnection>> out;
  std::lock_guard<std::mutex> lk(conn_mu_);
  for (auto& kv : conns_)
    if (!kv.second->finished_ && kv.second->is_open()) out.push_back(kv.second);
  return out;
}

std::size_t GatewaySim::accepted_count() const {
  std::lock_guard<std::mutex> lk(conn_mu_);
  return accepted_;
}

bool GatewaySim::wait_for_accepted(std::size_t n, Millis timeout) const {
  std::unique_lock<std::mutex> lk(conn_mu_);
  return conn_cv_.wait_for(lk, timeout, [&] { return accepted_ >= n; });
}

bool GatewaySim::wait_for_open(std::size_t n, Millis timeout) const {
  std::unique_lock<std::mutex> lk(conn_mu_);
  return conn_cv_.wait_for(lk, timeout, [&] {
    std::size_t open = 0;
    for (auto& kv : conns_)
      if (!kv.second->finished_) ++open;
    return open == n;
  });
}

std::size_t GatewaySim::close_connections() {
  auto open = open_connections();
  for (auto& c : open) c->close();
  return open.size();
}

bool GatewaySim::refuse_connections() {
  std::unique_lock<std::mutex> lk(listen_mu_);
  if (!started_ || stopping_) return false;
  want_refuse_ = true;
  if (pending_listen_fd_ >= 0) {
    ::close(pending_listen_fd_);
    pending_listen_fd_ = -1;
  }
  wake();
  return listen_cv_.wait_for(lk, kListenerChangeWait,
                             [&] { return listen_fd_ < 0 || stopping_; }) &&
         !stopping_;
}

bool GatewaySim::accept_connections() {
  std::unique_lock<std::mutex> lk(listen_mu_);
  if (!started_ || stopping_) return false;
  if (!want_refuse_ && (listen_fd_ >= 0 || pending_listen_fd_ >= 0)) return true;
  const int fd = open_listener(port_, nullptr);
  if (fd < 0) return false;
  want_refuse_ = false;
  if (pending_listen_fd_ >= 0) ::close(pending_listen_fd_);
  pending_listen_fd_ = fd;
  wake();
  return listen_cv_.wait_for(lk, kListenerChangeWait,
                             [&] { return listen_fd_ == fd || stopping_; }) &&
         !stopping_;
}

bool GatewaySim::accepting() const {
  std::lock_guard<std::mutex> lk(listen_mu_);
  return listen_fd_ >= 0 && !want_refuse_;
}

std::vector<ReceivedFrame> GatewaySim::frames() const {
  std::lock_guard<std::mutex> lk(log_mu_);
  return {log_.begin(), log_.end()};
}

std::size_t GatewaySim::count(std::uint32_t msg_id) const {
  std::lock_guard<std::mutex> lk(log_mu_);
  std::size_t n = 0;
  for (auto& f : log_)
    if (f.msg_id == msg_id) ++n;
  return n;
}

std::optional<ReceivedFrame> GatewaySim::wait_for_frame(std::uint32_t msg_id, Millis timeout,
                                                        std::size_t nth) const {
  std::optional<ReceivedFrame> found;
  std::unique_lock<std::mutex> lk(log_mu_);
  log_cv_.wait_for(lk, timeout, [&] {
    std::size_t k = 0;
    for (auto& f : log_) {
      if (f.msg_id != msg_id) continue;
      if (k++ == nth) {
        found = f;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool GatewaySim::wait_until(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred,
                            Millis timeout) const {
  std::unique_lock<std::mutex> lk(log_mu_);
  return log_cv_.wait_for(lk, timeout, [&] {
    const std::vector<ReceivedFrame> snapshot(log_.begin(), log_.end());
    return pred(snapshot);
  });
}

void GatewaySim::clear_frames() {
  std::lock_guard<std::mutex> lk(log_mu_);
  log_.clear();
}

void GatewaySim::set_log_limit(std::size_t n) {
  std::lock_guard<std::mutex> lk(log_mu_);
  log_limit_ = n == 0 ? 1 : n;
  while (log_.size() > log_limit_) log_.pop_front();
}

void GatewaySim::set_frame_observer(std::function<void(const ReceivedFrame&)> observer) {
  std::lock_guard<std::mutex> lk(log_mu_);
  observer_ = std::move(observer);
}

}  // namespace oxa_sim
