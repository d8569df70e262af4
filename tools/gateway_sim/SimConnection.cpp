#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimScheduler.h"

namespace oxa_sim {

void Scheduler::start() {
  std::lock_guard<std::mutex> lk(mu_);
  if (thread_.joinable() || stopping_) return;
  thread_ = std::thread(&Scheduler::run, this);
}

void Scheduler::stop() {
  {
    std::lock_guard<std::mutex> lk(mu_);
    stopping_ = true;
    items_.clear();
  }
  cv_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

bool Scheduler::post(Clock::time_point due, std::weak_ptr<SimConnection> conn,
                     std::vector<std::uint8_t> bytes) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    if (stopping_ || !thread_.joinable()) return false;
    items_.emplace(due, Item{std::move(conn), std::move(bytes)});
  }
  cv_.notify_all();
  return true;
}

void Scheduler::run() {
  std::unique_lock<std::mutex> lk(mu_);
  while (!stopping_) {
    if (items_.empty()) {
      cv_.wait(lk);
      continue;
    }
    auto first = items_.begin();
    const Clock::time_point due = first->first;  // a copy: stop() may clear the map while we wait
    if (Clock::now() < due) {
      cv_.wait_until(lk, due);
      continue;
    }
    Item item = std::move(first->second);
    items_.erase(first);
    lk.unlock();
    if (auto conn = item.conn.lock()) conn->send_raw(item.bytes);
    item = Item{};  // the connection may die here, never under the lock
    lk.lock();
  }
}

SimConnection::SimConnection(std::uint64_t id, int fd, std::shared_ptr<Scheduler> scheduler)
    : id_(id), fd_(fd), scheduler_(std::move(scheduler)) {}

SimConnection::~SimConnection() {
  if (reader_.joinable()) reader_.detach();  // not reached: the sim joins its readers
  ::close(fd_);
}

bool SimConnection::is_open() const { return open_.load(); }

bool SimConnection::send(std::uint8_t content_type, std::uint32_t msg_id,
                         std::uint64_t request_id, const std::vector<std::uint8_t>& body,
                         std::uint8_t async_flag) {
  if (body.size() > kMaxBody) return false;
  return send_raw(encode_frame(content_type, msg_id, request_id, body, async_flag));
}

bool SimConnection::send_raw(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lk(send_mu_);
  if (!open_.load()) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // a peer that stopped reading (send timeout) or went away: drop the connection
    open_.store(false);
    ::shutdown(fd_, SHUT_RDWR);
    return false;
  }
  return true;
}

bool SimConnection::send_after(Millis delay, std::vector<std::uint8_t> bytes) {
  if (!open_.load() || !scheduler_) return false;
  return scheduler_->post(Clock::now() + delay, weak_from_this(), std::move(bytes));
}

void SimConnection::close() {
  open_.store(false);
  ::shutdown(fd_, SHUT_RDWR);
}

bool Exchange::answer_after(std::vector<std::uint8_t> leading, std::uint32_t msg_id,
                            std::vector<std::uint8_t> body) const {
  if (!conn && !reply) return false;
  if (plan.mode == ReplyMode::kNever) return false;
  if (plan.mode == ReplyMode::kShortBody) {
    std::size_t n = plan.short_len;
    if (!body.empty() && n >= body.size()) n = body.size() - 1;
    if (n < body.size()) body.resize(n);
  }
  if (reply) {
    if (!leading.empty() && conn) conn->send_raw(leading);
    return reply(msg_id, body);
  }
  auto frame = encode_frame(kResponse, msg_id, request.request_id, body, request.async_flag);
  std::vector<std::uint8_t> bytes = std::move(leading);
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  if (plan.mode == ReplyMode::kDelayed || plan.mode == ReplyMode::kLate)
    return conn->send_after(plan.delay, std::move(bytes));
  if (plan.mode == ReplyMode::kHeld && plan.hold) {
    plan.hold->hold(conn, std::move(bytes));
    return true;
  }
  return conn->send_raw(bytes);
}

void HeldAnswers::hold(std::weak_ptr<SimConnection> conn, std::vector<std::uint8_t> bytes) {
  {
    std::lock_guard<std::mutex> lk(mu_);
    items_.emplace_back(std::move(conn), std::move(bytes));
  }
  cv_.notify_all();
}

std::size_t HeldAnswers::release() {
  std::vector<std::pair<std::weak_ptr<SimConnection>, std::vector<std::uint8_t>>> items;
  {
    std::lock_guard<std::mutex> lk(mu_);
    items.swap(items_);
  }
  for (auto& item : items)
    if (auto conn = item.first.lock()) conn->send_raw(item.second);
  return items.size();
}

std::size_t HeldAnswers::held() const {
  std::lock_guard<std::mutex> lk(mu_);
  return items_.size();
}

bool HeldAnswers::wait_held(std::size_t n, Millis timeout) const {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, timeout, [&] { return items_.size() >= n; });
}

const char* reply_mode_name(ReplyMode m) {
  switch (m) {
    case ReplyMode::kImmediate: return "immediate";
    case ReplyMode::kDelayed: return "delayed";
    case ReplyMode::kNever: return "never";
    case ReplyMode::kShortBody: return "short";
    case ReplyMode::kLate: return "late";
    case ReplyMode::kHeld: return "held";
  }
  return "?";
}

}  // namespace oxa_sim
