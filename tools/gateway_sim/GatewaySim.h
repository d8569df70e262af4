// A simulated trading gateway on 127.0.0.1: speaks the frame protocol over plain POSIX sockets,
// answers heartbeats, plays the gateway's own messages and records every frame it receives.
// Business handlers are added with on(msg_id, handler).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway_sim/SimFrame.h"
#include "gateway_sim/SimWire.h"

namespace oxa_sim {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// One frame as the sim received it.
struct ReceivedFrame {
  std::uint64_t conn_id = 0;
  std::uint8_t content_type = 0;
  std::uint32_t msg_id = 0;
  std::uint64_t request_id = 0;
  std::uint8_t async_flag = 0;
  std::uint32_t body_len = 0;      // as the header declares it
  std::vector<std::uint8_t> body;  // empty when the header was refused
  bool crc_ok = false;
  bool tail_ok = false;  // FE FE after the body (not enforced, only recorded)
  HeaderStatus status = HeaderStatus::kOk;
  Clock::time_point at{};
};

enum class ReplyMode {
  kImmediate,
  kDelayed,    // after `delay`
  kNever,      // the request is recorded, no answer
  kShortBody,  // the answer cut to `short_len` bytes (always shorter than the full answer)
  kLate,       // after `delay`, meant to fall after the client gave up waiting
};

const char* reply_mode_name(ReplyMode m);

struct ReplyPlan {
  ReplyMode mode = ReplyMode::kImmediate;
  Millis delay{0};
  std::size_t short_len = 0;

  static ReplyPlan immediate() { return {}; }
  static ReplyPlan delayed(Millis d) { return {ReplyMode::kDelayed, d, 0}; }
  static ReplyPlan never() { return {ReplyMode::kNever, Millis{0}, 0}; }
  static ReplyPlan short_body(std::size_t len) { return {ReplyMode::kShortBody, Millis{0}, len}; }
  static ReplyPlan late(Millis d) { return {ReplyMode::kLate, d, 0}; }
};

class Scheduler;
class GatewaySim;

// One accepted connection. Shared so that a handler may keep it and answer later; once closed,
// sends fail and return false.
class SimConnection : public std::enable_shared_from_this<SimConnection> {
 public:
  ~SimConnection();
  SimConnection(const SimConnection&) = delete;
  SimConnection& operator=(const SimConnection&) = delete;

  std::uint64_t id() const { return id_; }
  bool is_open() const;

  // Encodes and sends one frame now.
  bool send(std::uint8_t content_type, std::uint32_t msg_id, std::uint64_t request_id,
            const std::vector<std::uint8_t>& body, std::uint8_t async_flag = 0);
  bool push(std::uint32_t msg_id, std::uint64_t request_id, const std::vector<std::uint8_t>& body) {
    return send(kPush, msg_id, request_id, body, 0);
  }
  // Any bytes, e.g. a deliberately broken frame.
  bool send_raw(const std::vector<std::uint8_t>& bytes);
  // Sends the bytes after the delay from the sim's timer thread; false once the sim stopped.
  bool send_after(Millis delay, std::vector<std::uint8_t> bytes);

  // Ends the connection (the peer sees end of stream).
  void close();

 private:
  friend class GatewaySim;
  SimConnection(std::uint64_t id, int fd, std::shared_ptr<Scheduler> scheduler);

  const std::uint64_t id_;
  const int fd_;  // closed only in the destructor, so no other socket can take its number
  std::shared_ptr<Scheduler> scheduler_;
  std::mutex send_mu_;  // one frame at a time on the socket
  std::atomic<bool> open_{true};
  std::thread reader_;
  bool finished_ = false;  // guarded by the sim's connection mutex
};

// What a handler gets for each request frame.
struct Exchange {
  ReceivedFrame request;
  std::shared_ptr<SimConnection> conn;
  ReplyPlan plan;  // the reply mode chosen for this request

  // Answers as the plan says: a response frame with the request's id and async flag.
  // False when nothing was sent or scheduled (mode never, or the connection is gone).
  bool answer(std::uint32_t msg_id, std::vector<std::uint8_t> body) const;
};

using Handler = std::function<void(const Exchange&)>;

// Every field of the 0xf0001 answer.
struct LoginAnswer {
  std::optional<std::uint64_t> fund_account;  // unset: the account of the request
  std::uint16_t protocol_mode = 1;
  std::int32_t error_code = 0;
  std::string hqtrs_ip;  // up to 16 bytes; 16 leaves no terminator
  std::uint16_t hqtrs_port = 0;
  std::uint16_t group_id = 0;
  std::uint16_t member_id = 0;
  std::uint8_t business_type = 1;
  std::uint64_t option_value = 0;  // the value at offset 552
};

std::vector<std::uint8_t> make_login_answer(const LoginAnswer& a, std::uint64_t request_account);
std::vector<std::uint8_t> make_push_reg_answer(std::uint64_t account, std::int32_t error);
std::vector<std::uint8_t> make_logout_answer(std::uint64_t account, std::int32_t error);
std::vector<std::uint8_t> make_offline_command(std::uint64_t request_id, std::uint64_t trading_day);

class GatewaySim {
 public:
  GatewaySim();
  ~GatewaySim();  // stop()
  GatewaySim(const GatewaySim&) = delete;
  GatewaySim& operator=(const GatewaySim&) = delete;

  // Listens on 127.0.0.1:port (0 picks a free port, see port()). Once per object.
  bool start(std::uint16_t port = 0);
  // Closes the listener and every connection, drops scheduled sends, joins every thread.
  // Not to be called from a handler.
  void stop();
  std::uint16_t port() const { return port_; }

  // --- behaviour -------------------------------------------------------------------------
  // Handler for request frames of msg_id (replaces the previous one; an empty one removes it).
  // 0xf0001, 0xf0002 and 0xf0007 have built-in handlers.
  void on(std::uint32_t msg_id, Handler handler);
  // Standing reply mode of a request message id (default immediate).
  void set_reply(std::uint32_t msg_id, ReplyPlan plan);
  // One-shot modes, used in order by the next requests of that id before the standing one.
  void queue_reply(std::uint32_t msg_id, ReplyPlan plan);

  void set_login_answer(const LoginAnswer& a);
  LoginAnswer login_answer() const;
  void set_account_login_answer(std::uint64_t account, const LoginAnswer& a);
  // The business type answered for one account (overrides the login answer's).
  void set_account_business(std::uint64_t account, std::uint8_t business_type);
  void set_push_reg_error(std::int32_t error);
  void set_logout_error(std::int32_t error);
  void set_answer_heartbeats(bool on);

  // Sends the off-line command 0xf000c as a push, to one connection or (0) to every open one.
  // Returns how many connections it was sent to.
  std::size_t send_offline(std::uint64_t request_id, std::uint64_t trading_day,
                           std::uint64_t conn_id = 0);

  // --- connections -----------------------------------------------------------------------
  std::shared_ptr<SimConnection> connection(std::uint64_t id) const;
  std::vector<std::shared_ptr<SimConnection>> open_connections() const;
  std::size_t accepted_count() const;
  bool wait_for_accepted(std::size_t n, Millis timeout) const;  // at least n accepted so far
  bool wait_for_open(std::size_t n, Millis timeout) const;      // exactly n open
  std::size_t close_connections();
  // Closes the listener: new connects are refused until accept_connections().
  bool refuse_connections();
  // Listens again on the same port.
  bool accept_connections();
  bool accepting() const;

  // --- received frames -------------------------------------------------------------------
  std::vector<ReceivedFrame> frames() const;
  std::size_t count(std::uint32_t msg_id) const;
  // The nth (from 0) recorded frame of msg_id, waiting at most timeout for it.
  std::optional<ReceivedFrame> wait_for_frame(std::uint32_t msg_id, Millis timeout,
                                              std::size_t nth = 0) const;
  bool wait_until(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred,
                  Millis timeout) const;
  void clear_frames();
  // The oldest frames are dropped beyond this many (default 100,000).
  void set_log_limit(std::size_t n);
  // Called on the connection's thread for every recorded frame (the program prints them).
  void set_frame_observer(std::function<void(const ReceivedFrame&)> observer);

 private:
  void accept_loop();
  void reader_loop(std::shared_ptr<SimConnection> conn);
  void record(const ReceivedFrame& f);
  void dispatch(const ReceivedFrame& f, const std::shared_ptr<SimConnection>& conn);
  ReplyPlan take_plan(std::uint32_t msg_id);
  void reap_finished_locked(std::vector<std::thread>& out);
  int open_listener(std::uint16_t port, std::uint16_t* bound);
  void wake();
  void install_gateway_handlers();

  std::uint16_t port_ = 0;
  int wake_fd_ = -1;
  std::shared_ptr<Scheduler> scheduler_;
  std::thread accept_thread_;

  // listener state, shared with the accept thread
  mutable std::mutex listen_mu_;
  std::condition_variable listen_cv_;
  int listen_fd_ = -1;
  int pending_listen_fd_ = -1;
  bool want_refuse_ = false;
  bool stopping_ = false;
  bool started_ = false;

  mutable std::mutex conn_mu_;
  mutable std::condition_variable conn_cv_;
  std::map<std::uint64_t, std::shared_ptr<SimConnection>> conns_;
  std::uint64_t next_conn_id_ = 1;
  std::size_t accepted_ = 0;

  mutable std::mutex log_mu_;
  mutable std::condition_variable log_cv_;
  std::deque<ReceivedFrame> log_;
  std::size_t log_limit_ = 100000;
  std::function<void(const ReceivedFrame&)> observer_;

  mutable std::mutex cfg_mu_;
  std::map<std::uint32_t, Handler> handlers_;
  std::map<std::uint32_t, ReplyPlan> standing_;
  std::map<std::uint32_t, std::deque<ReplyPlan>> queued_;
  LoginAnswer login_answer_;
  std::map<std::uint64_t, LoginAnswer> account_answer_;
  std::map<std::uint64_t, std::uint8_t> account_business_;
  std::int32_t push_reg_error_ = 0;
  std::int32_t logout_error_ = 0;
  bool answer_heartbeats_ = true;
};

}  // namespace oxa_sim
