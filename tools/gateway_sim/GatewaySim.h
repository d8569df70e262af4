// A simulated trading gateway on 127.0.0.1: speaks the frame protocol over plain POSIX sockets,
// answers heartbeats, plays the gateway's own messages and records every frame it receives.
// Business handlers are added with on(msg_id, handler).
//
// Live pushes are one mechanism for every business: an account's pushes go to the connection
// that registered the account for pushes (0xf0002), whatever the client's resume type, until the
// account logs out (0xf0007) or that connection closes; a client that reconnects registers again
// and its pushes follow it. A business module publishes a push with
//   sim.publish(account, msg_id, body);
// which stores it under the account's next push number (replayed by synchronisations and
// subscriptions) and sends it live, as a push frame whose request id is that number. It notes
// every order id a client sends with note_order_number(account, id), so that the next login of the
// account starts its order numbers above them.
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
#include "gateway_sim/SimPushStore.h"
#include "gateway_sim/SimSpotOrders.h"
#include "gateway_sim/SimSpotQueries.h"
#include "gateway_sim/SimState.h"
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
  kHeld,       // kept in `hold` until the test releases it
};

const char* reply_mode_name(ReplyMode m);

class SimConnection;

// Answers kept back by held plans until the test lets them go, so that a test orders answers of
// several requests (one request's late answer ahead of another's) without racing a clock.
class HeldAnswers {
 public:
  // Sends every answer held so far on its connection, oldest first; how many were held.
  std::size_t release();
  std::size_t held() const;
  // Waits until at least n answers are held; false when timeout passed first.
  bool wait_held(std::size_t n, Millis timeout) const;

 private:
  friend struct Exchange;
  void hold(std::weak_ptr<SimConnection> conn, std::vector<std::uint8_t> bytes);

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::vector<std::pair<std::weak_ptr<SimConnection>, std::vector<std::uint8_t>>> items_;
};

struct ReplyPlan {
  ReplyMode mode = ReplyMode::kImmediate;
  Millis delay{0};
  std::size_t short_len = 0;
  std::shared_ptr<HeldAnswers> hold;  // kHeld

  static ReplyPlan immediate() { return {}; }
  static ReplyPlan delayed(Millis d) { return {ReplyMode::kDelayed, d, 0, nullptr}; }
  static ReplyPlan never() { return {ReplyMode::kNever, Millis{0}, 0, nullptr}; }
  static ReplyPlan short_body(std::size_t len) { return {ReplyMode::kShortBody, Millis{0}, len, nullptr}; }
  static ReplyPlan late(Millis d) { return {ReplyMode::kLate, d, 0, nullptr}; }
  // Answers over the bus are not held: they go at once.
  static ReplyPlan held(std::shared_ptr<HeldAnswers> box) { return {ReplyMode::kHeld, Millis{0}, 0, std::move(box)}; }
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
// Sends an answer by a road other than a gateway connection (the bus): message id and body.
using ReplyRoute = std::function<bool(std::uint32_t msg_id, const std::vector<std::uint8_t>& body)>;

struct Exchange {
  ReceivedFrame request;
  std::shared_ptr<SimConnection> conn;
  ReplyPlan plan;  // the reply mode chosen for this request
  // Set for a request that came by the bus: the answer goes back the same way (at once;
  // ready-made leading frames still go to conn when there is one).
  ReplyRoute reply;

  // Answers as the plan says: a response frame with the request's id and async flag.
  // False when nothing was sent or scheduled (mode never, or the connection is gone).
  bool answer(std::uint32_t msg_id, std::vector<std::uint8_t> body) const {
    return answer_after({}, msg_id, std::move(body));
  }
  // The same, with ready-made frames sent right before the answer and under the same plan
  // (delayed together, dropped together; a short body cuts only the answer).
  bool answer_after(std::vector<std::uint8_t> leading, std::uint32_t msg_id,
                    std::vector<std::uint8_t> body) const;
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

// Every field of the spot login answer 0x10b; unset ones take the default named.
struct SpotLoginAnswer {
  std::optional<std::uint64_t> request_no;    // bytes 0-7; unset: the request's request number
  std::optional<std::uint64_t> fund_account;  // unset: the account of the request
  std::optional<std::int32_t> trading_day;    // YYYYMMDD; unset: today's local date
  std::optional<std::uint32_t> fund_index;    // unset: the account's ordinal at this sim (1, 2, ...)
  // First order number of the session; unset: one above the highest the account used so far
  // (1 for a new account), so that a second login never reissues an order id of the first.
  std::optional<std::int32_t> order_no_index;
  std::optional<std::uint32_t> session_no;    // unset: the account's ordinal at this sim
  std::int32_t error_code = 0;
  std::int32_t node_id = 1;
  std::int32_t order_limit = 0;  // orders per second; 0 or less: unlimited
  std::int32_t query_limit = 0;  // queries per second; negative: unlimited
};

// One answer of a synchronisation, as a script gives it.
struct SyncRound {
  // Stored pushes carried, taken in storing order after those already sent in this
  // synchronisation; unset: as many as the request asks for.
  std::optional<std::size_t> records;
  // Progress values at 32 and 36; unset: equal (both the round number) when the round ends the
  // synchronisation, else round number + 1 and round number.
  std::optional<std::uint32_t> progress_first;
  std::optional<std::uint32_t> progress_second;
  std::optional<std::uint32_t> count;   // record count written in the head; unset: the real one
  std::optional<std::uint32_t> stride;  // record stride; unset: sync_record::kLength
};

// How the sync answers 0x20011 of one synchronisation go. A synchronisation starts with the
// request whose counter is 1 (or the account's first request) and replays from the first stored
// push. Without rounds every answer carries as many stored pushes as the request asks for and the
// one that leaves none says ended, so an empty store ends at once. With rounds the answers follow
// them in order and the last one says ended; requests beyond them get empty answers that say
// ended. Endless: no answer says ended (beyond the rounds they are empty).
struct SyncScript {
  std::vector<SyncRound> rounds;
  bool endless = false;

  static SyncScript automatic() { return {}; }
  // One round per size: N rounds of these many records, the last one ended.
  static SyncScript of_sizes(const std::vector<std::size_t>& sizes);
};

// A sync request 0x20010 as received; fields a short body lacks read as 0.
struct SyncRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;  // of the frame
  bool complete = false;         // the body held the whole record
  std::uint64_t session_no = 0;
  std::uint64_t request_no = 0;
  std::uint64_t fund_account = 0;
  std::uint8_t client_id = 0;
  std::uint32_t counter = 0;
  std::uint32_t per_answer = 0;
  std::uint64_t start = 0;  // the 8 bytes at 40
  std::uint32_t flag = 0;   // the value at 48
};

// A subscription request 0x103 as received; fields a short body lacks read as 0.
struct SubscribeRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;
  bool complete = false;
  std::uint32_t session_no = 0;
  std::int64_t counter = 0;
  std::uint32_t start_seq = 0;
  std::uint64_t fund_account = 0;
};

SyncRequest decode_sync_request(const ReceivedFrame& f);
SubscribeRequest decode_subscribe_request(const ReceivedFrame& f);

// The whole sync answer: head, then `records` at `stride` bytes each.
struct SyncAnswer {
  std::uint64_t session_no = 0;
  std::uint64_t request_no = 0;
  std::uint64_t fund_account = 0;
  std::uint8_t client_id = 0;
  std::uint32_t progress_first = 0;
  std::uint32_t progress_second = 0;
  std::vector<StoredPush> records;     // a body longer than the stride allows is cut
  std::optional<std::uint32_t> count;  // unset: records.size()
  std::uint32_t stride = static_cast<std::uint32_t>(sync_record::kLength);
};

std::vector<std::uint8_t> make_spot_login_answer(const SpotLoginAnswer& a,
                                                 std::uint64_t request_account,
                                                 std::uint64_t request_no, std::uint32_t ordinal,
                                                 std::uint32_t next_order_no = 1);
std::vector<std::uint8_t> make_sync_answer(const SyncAnswer& a);
std::vector<std::uint8_t> make_subscribe_end(const SubscribeRequest& r);
// Today's local date as YYYYMMDD.
std::int32_t local_date_yyyymmdd();

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
  // Keeps what a gateway keeps over a restart (account ordinals, stored pushes, order numbers) in
  // the file at path: read back now, appended to from here on. A sim started again with the same
  // file continues the numbering its clients saw. Before start(); false when the file cannot be
  // opened.
  bool set_state_file(const std::string& path);
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
  // Edits every gateway login answer before it leaves, with the account and the asking
  // connection (the bus side names the coordinator and the connection's member).
  using LoginAnswerEditor = std::function<void(std::uint64_t account, std::uint64_t conn_id, LoginAnswer& a)>;
  void set_login_answer_editor(LoginAnswerEditor editor);
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

  // Sends a heartbeat frame to one connection or (0) to every open one; how many it reached.
  std::size_t send_heartbeat(std::uint64_t conn_id = 0);

  // --- spot session ----------------------------------------------------------------------
  // 0x10a (answered by 0x10b), 0x20010 (by 0x20011) and 0x103 (by 0x104) have built-in
  // handlers; set_reply/queue_reply on those request ids choose their reply modes.
  void set_spot_login_answer(const SpotLoginAnswer& a);
  SpotLoginAnswer spot_login_answer() const;
  void set_account_spot_login_answer(std::uint64_t account, const SpotLoginAnswer& a);
  void set_sync_script(const SyncScript& s);
  void set_account_sync_script(std::uint64_t account, const SyncScript& s);
  // On (default): a subscription first pushes the stored pushes numbered from its start sequence
  // (all of them for 0), each with its number as request id, then the end notice 0x104.
  void set_subscribe_replay(bool on);

  // The spot order server on 0x111, 0x112 and 0x113 (off by default: those requests then go
  // unanswered unless a test installs handlers of its own). Turning it on replaces such handlers.
  void enable_spot_orders(bool on);
  SpotOrderServer& spot_orders() { return *orders_; }
  const SpotOrderServer& spot_orders() const { return *orders_; }

  // The spot query server on every spot query request (off by default, like the order server).
  void enable_spot_queries(bool on);
  SpotQueryServer& spot_queries() { return *queries_; }

  // --- live pushes and order numbers, for every business --------------------------------
  // The pushes of every account; the business simulators publish into it.
  PushStore& push_store() { return store_; }
  struct Published {
    std::uint32_t seq = 0;
    bool sent = false;  // pushed live to the account's push connection
  };
  // Stores a push under the account's next number and, when a connection that is still open
  // registered the account for pushes, pushes it there with its number as request id. A
  // subscription's catch-up and publish() exclude each other, so an immediate catch-up reaches
  // the client before any push published after it; under a delayed subscription answer, pushes
  // published meanwhile go live ahead of it.
  Published publish(std::uint64_t account, std::uint32_t msg_id, std::vector<std::uint8_t> body);
  // Where an account's live pushes go when no connection is registered for them (the bus
  // side): true when it sent the push, numbered seq.
  using PushRoute = std::function<bool(std::uint64_t account, std::uint32_t msg_id, std::uint32_t seq,
                                       const std::vector<std::uint8_t>& body)>;
  void set_push_route(PushRoute route);
  // A request that came by the bus: recorded like a frame of connection 0 and handed to the
  // handler of its id, which answers through reply.
  void dispatch_request(std::uint32_t msg_id, std::uint64_t request_id, std::vector<std::uint8_t> body,
                        ReplyRoute reply);
  // The connection that last registered the account for pushes without error (null when none,
  // after the account's logout, or once that connection closed).
  std::shared_ptr<SimConnection> push_connection(std::uint64_t account) const;
  // The connection whose subscription for the account was answered last (null when none, when it
  // closed, or after a new spot login of the account). It only asked for a replay: live pushes go
  // to the push connection.
  std::shared_ptr<SimConnection> subscribed_connection(std::uint64_t account) const;
  bool is_subscribed(std::uint64_t account) const { return subscribed_connection(account) != nullptr; }

  // An order id (or its sequence: only the low 32 bits count) the account's client sent.
  void note_order_number(std::uint64_t account, std::uint64_t order_id);
  // One above the highest order number noted for the account (1 when none).
  std::uint32_t next_order_number(std::uint64_t account) const;

  // The sync and subscription requests in the frame log, decoded.
  std::vector<SyncRequest> sync_requests() const;
  std::vector<SubscribeRequest> subscribe_requests() const;

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
  void install_spot_handlers();
  void on_spot_login(const Exchange& ex);
  void on_sync(const Exchange& ex);
  void on_subscribe(const Exchange& ex);

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

  // spot session, under cfg_mu_
  struct SyncState {
    std::size_t round = 0;   // answers given in the current synchronisation
    std::size_t cursor = 0;  // stored pushes already sent in it
  };
  SpotLoginAnswer spot_answer_;
  std::map<std::uint64_t, SpotLoginAnswer> account_spot_answer_;
  std::map<std::uint64_t, std::uint32_t> ordinals_;
  SyncScript sync_script_;
  std::map<std::uint64_t, SyncScript> account_sync_script_;
  std::map<std::uint64_t, SyncState> sync_state_;
  bool subscribe_replay_ = true;

  PushStore store_;
  std::unique_ptr<SpotOrderServer> orders_;
  std::unique_ptr<SpotQueryServer> queries_;
  // Serialises a subscription's catch-up against publish(), so no push is lost between them.
  mutable std::mutex publish_mu_;
  std::map<std::uint64_t, std::weak_ptr<SimConnection>> subs_;        // under publish_mu_
  std::map<std::uint64_t, std::weak_ptr<SimConnection>> push_conns_;  // under publish_mu_
  std::map<std::uint64_t, std::uint32_t> order_numbers_;              // under publish_mu_
  PushRoute push_route_;                                              // under publish_mu_
  LoginAnswerEditor login_editor_;                                    // under cfg_mu_

  StateJournal journal_;
  void journal(const StateRecord& r) {
    if (journal_.is_open()) journal_.append(r);
  }
};

}  // namespace oxa_sim
