// The margin session of the simulated gateway: the init request 0x203 (answered by 0x204), the
// synchronisation 0x21100 (answered by 0x21101 pages) and the subscription 0x205 (answered by the
// package flow 0x206 and its 21-byte end message), replaying the records kept in the sim's push
// store. Every answer echoes the session number; margin session numbers count from 100000.
//
// A SimMargin installs its handlers on the sim it is given; the reply modes of the three request
// ids (set_reply / queue_reply on the sim) choose how each answer goes (no answer, late, cut).
// Accounts answer the gateway login as margin (business type 2) once added with add_account.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway_sim/SimMarginOrders.h"
#include "gateway_sim/SimMarginQueries.h"
#include "gateway_sim/SimMarginWire.h"
#include "gateway_sim/SimPushStore.h"

namespace oxa_sim {

class GatewaySim;
struct ReceivedFrame;

struct MarginSpeedItem {
  std::uint8_t ctrl_type = 0;
  std::uint16_t interval_ms = 1000;
  std::uint32_t max_count = 0;  // 0: unlimited
};

// Every field of the init answer 0x204; unset ones take the default named.
struct MarginInitAnswer {
  std::optional<std::uint64_t> session_no;       // the record's; unset: 100000 + the account's ordinal - 1
  std::optional<std::uint64_t> head_session_no;  // the head's; unset: the record's
  std::optional<std::uint64_t> request_id;       // unset: the request's sequence
  std::uint8_t is_last = 1;
  bool has_data = true;
  std::optional<std::uint64_t> fund_account;  // unset: the request's
  std::optional<std::uint32_t> fund_index;    // unset: the account's ordinal at this sim (1, 2, ...)
  std::uint16_t unread_20 = 0;
  // Last order number before the session's first; unset: the highest the account used so far
  // (0 for a new account), so a second login never reissues an order id of the first.
  std::optional<std::uint32_t> order_no_index;
  std::array<MarginSpeedItem, 4> speed{};
  std::optional<std::uint32_t> trading_day;  // YYYYMMDD; unset: today's local date
  std::uint32_t node_id = 1;
  std::optional<std::int32_t> error_id;  // set: an error record follows (after the record when has_data)
  std::string error_text;
};

// The requests as received; fields a short body lacks read as 0.
struct MarginInitRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;  // of the frame
  bool complete = false;         // the body held the whole record
  std::uint16_t bus_group = 0;
  std::uint16_t bus_member = 0;
  std::uint64_t fund_account = 0;
  std::uint16_t client_id = 0;
  std::string terminal_info;
  std::uint64_t api_version = 0;
  std::uint64_t request_seq = 0;
  std::uint8_t protocol = 0;
};

struct MarginSyncRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;
  bool complete = false;
  std::uint64_t session_no = 0;
  std::uint64_t request_seq = 0;
  std::uint64_t fund_account = 0;
  std::uint8_t client_id = 0;
  std::uint32_t per_answer = 0;
  std::uint32_t start_seq = 0;
  std::uint8_t flag = 0;
};

struct MarginSubscribeRequest {
  std::uint64_t conn_id = 0;
  std::uint64_t request_id = 0;
  bool complete = false;
  std::uint64_t fund_account = 0;
  std::uint32_t fund_index = 0;
  std::uint64_t session_no = 0;
  std::uint16_t client_id = 0;
  std::uint32_t start_seq = 0;
};

MarginInitRequest decode_margin_init_request(const ReceivedFrame& f);
MarginSyncRequest decode_margin_sync_request(const ReceivedFrame& f);
MarginSubscribeRequest decode_margin_subscribe_request(const ReceivedFrame& f);

// One synchronisation answer as a script gives it.
struct MarginSyncPage {
  std::optional<std::size_t> records;  // stored records from the request's start; unset: as many as asked
  std::optional<std::uint32_t> asked;  // the value at 32; unset: the request's
  std::optional<std::uint32_t> count;  // written in the head; unset: the real number
  std::optional<std::uint32_t> stride; // unset: the longest record's
};

// Without pages every answer carries as many stored records from the request's start as it asks
// for and echoes the number asked, so a full page brings another pass and a short one ends. With
// pages the answers of one synchronisation (from the request that starts at 0) follow them in
// order; beyond them the answers are automatic again.
struct MarginSyncScript {
  std::vector<MarginSyncPage> pages;
};

// How a subscription is answered: the stored records from its start, `per_message` to a flow
// message, then the end.
struct MarginFlowScript {
  std::size_t per_message = 64;
  bool end_in_last = false;  // the last message with records carries the end flag (no end message)
  bool send_end = true;      // false: no end at all
};

std::vector<std::uint8_t> make_margin_init_answer(const MarginInitAnswer& a, std::uint64_t request_account,
                                                  std::uint64_t request_seq, std::uint32_t ordinal,
                                                  std::uint32_t next_order_no = 1);
// A record's payload (push head with the session number, the record with its order id first,
// the error record when its id has one).
std::vector<std::uint8_t> make_margin_push_payload(std::uint32_t flow_id, std::uint64_t session_no,
                                                   std::uint64_t order_id, std::int32_t error_id = 0);
std::vector<std::uint8_t> make_margin_flow_message(std::uint64_t session_no, std::uint32_t count, bool end,
                                                   const std::vector<StoredPush>& records);

// The margin session with its order server (SimMarginOrders.h) on every order-path request id and
// its query server (SimMarginQueries.h, the demo book to begin with) on every query request id.
class SimMargin {
 public:
  explicit SimMargin(GatewaySim& sim);
  ~SimMargin();  // removes its handlers
  SimMargin(const SimMargin&) = delete;
  SimMargin& operator=(const SimMargin&) = delete;

  // The gateway login answers business type 2 for the account.
  void add_account(std::uint64_t account);

  void set_init_answer(const MarginInitAnswer& a);
  void set_account_init_answer(std::uint64_t account, const MarginInitAnswer& a);
  void set_sync_script(const MarginSyncScript& s);
  void set_flow_script(const MarginFlowScript& s);

  // Stores a record for the account's synchronisations and subscriptions under its next push
  // number (returned). Nothing is pushed live.
  std::uint32_t store(std::uint64_t account, std::uint32_t flow_id, std::uint64_t order_id,
                      std::int32_t error_id = 0);

  // The session number the account's last init answer granted (0 before any).
  std::uint64_t session_no(std::uint64_t account) const;

  std::vector<MarginInitRequest> init_requests() const;
  std::vector<MarginSyncRequest> sync_requests() const;
  std::vector<MarginSubscribeRequest> subscribe_requests() const;

  MarginOrderServer& orders() { return *orders_; }
  MarginQueryServer& queries() { return *queries_; }

  struct State;

 private:
  GatewaySim& sim_;
  std::shared_ptr<State> state_;  // shared with the handlers, which may outlive this object
  std::shared_ptr<MarginOrderServer> orders_;
  std::shared_ptr<MarginQueryServer> queries_;
};

}  // namespace oxa_sim
