// The simulated gateway's bus side: a bus coordinator and one bus member, the order server's,
// on 127.0.0.1. With it running, the gateway login answers the bus protocol mode, names the
// coordinator and gives each gateway connection a member of the client group; the requests
// a client sends over the bus (business logins, orders, cancels, transfers) reach the sim's
// handlers as if they had come on a connection, their answers go back over the bus to the
// member that sent them, and an account's live pushes follow the member its business login
// came from (numbered in the bus tag as on a connection in the request id).
//
// The member is a bus member like any other (it runs the library's bus); the business records
// it carries are the sim's own. Layout: the server group (svr_type '0') holds the order
// server; the client group holds `clients` members on ports free at start.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gateway_sim/GatewaySim.h"

namespace oxa_test {
class FakeCoordinator;
}
namespace OXA {
namespace VORN {
class CVornSystem;
class xLog;
struct VornMsgSource;
}  // namespace VORN
}  // namespace OXA

namespace oxa_sim {

struct SimBusOptions {
  std::uint16_t coordinator_port = 0;      // 0: a free one
  std::uint16_t coordinator_min_port = 0;  // with port 0: a free one at or above this
  std::int32_t window = 1024;
  int clients = 8;                          // members of the client group
  std::int16_t server_group = 1;
  std::int16_t client_group = 2;
  std::string log_dir;                      // the member's "vorn_log" goes here; empty: a temporary folder
};

class SimBus {
 public:
  explicit SimBus(GatewaySim& sim);
  ~SimBus();  // stop()
  SimBus(const SimBus&) = delete;
  SimBus& operator=(const SimBus&) = delete;

  // Starts the coordinator and the member and hooks the bus into the sim; false when
  // either could not start (nothing is left running then).
  bool start(const SimBusOptions& options = SimBusOptions());
  // Unhooks the sim, stops the member and the coordinator. Before the sim stops.
  void stop();
  bool running() const;

  const std::string& coordinator_ip() const { return ip_; }
  std::uint16_t coordinator_port() const;
  std::int16_t client_group() const { return options_.client_group; }
  // The member a gateway connection was given (-1 when none yet).
  std::int16_t member_of_connection(std::uint64_t conn_id) const;
  // The member an account's pushes go to, (-1, -1) when none.
  std::pair<std::int16_t, std::int16_t> source_of_account(std::uint64_t account) const;
  // Requests that came over the bus so far.
  std::size_t requests() const;

  oxa_test::FakeCoordinator& coordinator() { return *coord_; }
  OXA::VORN::CVornSystem& member() { return *member_; }

 private:
  static void deliver(std::uint32_t tag, std::uint32_t msg_id, const void* data, std::uint32_t length,
                      std::uint64_t playback, const OXA::VORN::VornMsgSource* source);
  void on_request(std::uint32_t tag, std::uint32_t msg_id, std::vector<std::uint8_t> body, std::int16_t group,
                  std::int16_t member);
  bool send_to(std::int16_t group, std::int16_t member, std::uint32_t tag, std::uint32_t msg_id,
               const std::vector<std::uint8_t>& body);

  GatewaySim& sim_;
  SimBusOptions options_;
  std::string ip_ = "127.0.0.1";
  std::string log_dir_;
  std::unique_ptr<oxa_test::FakeCoordinator> coord_;
  std::unique_ptr<OXA::VORN::xLog> log_;
  std::unique_ptr<OXA::VORN::CVornSystem> member_;
  bool started_ = false;

  mutable std::mutex mu_;
  std::map<std::uint64_t, std::int16_t> conn_member_;
  std::map<std::uint64_t, std::pair<std::int16_t, std::int16_t>> account_source_;
  int next_slot_ = 0;
  std::size_t requests_ = 0;
};

}  // namespace oxa_sim
