#include "gateway_sim/SimBus.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "gateway_sim/SimMarginWire.h"
#include "gateway_sim/SimOptionWire.h"
#include "gateway_sim/SimWire.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/xLog.h"
#include "support/FakeCoordinator.h"

namespace oxa_sim {

namespace {

// What the order server takes over the bus, and what it sends back.
constexpr std::uint32_t kServerIds[] = {
    kMsgSpotLogin, kMsgSpotInsert, kMsgSpotCancel, kMsgSpotFundTransfer,
    kMsgMarginInit, kMsgMarginInsertOrder, kMsgMarginCancelOrder, kMsgMarginFundTransferReq, kMsgMarginCashRepayReq,
    kMsgMarginRepayDebtReq, kMsgMarginCreditRequestReq,
    kMsgOptLogin, kMsgOptInsert, kMsgOptCancel, kMsgOptLock, kMsgOptCombInsert, kMsgOptExecute,
    kMsgOptCombinedExecute, kMsgOptFundTransfer,
};
constexpr std::uint32_t kClientIds[] = {
    kMsgSpotLoginRsp, kMsgSpotOrderPush, kMsgSpotCancelErrorPush, kMsgSpotTradePush, kMsgSpotFundTransferPush,
    kMsgSpotHoldingChangePush,
    kMsgMarginInitRsp, kMsgMarginOrderPush, kMsgMarginTradePush, kMsgMarginFundTransfer, kMsgMarginCashRepay,
    kMsgMarginRepayDebt, kMsgMarginCancelAnswer, kMsgMarginCreditRequest,
    kMsgOptLoginRsp, kMsgOptOrderPush, kMsgOptCancelPush, kMsgOptLockPush, kMsgOptCombOrderPush,
    kMsgOptExecutePush, kMsgOptCombinedExecutePush, kMsgOptTradePush, kMsgOptCombTradePush, kMsgOptTransferPush,
};

// The fund account of a business login, by its own record; 0 for any other message.
std::uint64_t login_account(std::uint32_t msg_id, const std::vector<std::uint8_t>& body) {
  const WireReader r(body);
  switch (msg_id) {
    case kMsgSpotLogin: return r.get_uint(spot_login_req::kFundAccount).value_or(0);
    case kMsgMarginInit: return r.get_uint(margin_init_req::kFundAccount).value_or(0);
    case kMsgOptLogin: return r.get_uint(opt_login_req::kFundAccount).value_or(0);
    default: return 0;
  }
}

}  // namespace

SimBus::SimBus(GatewaySim& sim) : sim_(sim) {}

SimBus::~SimBus() { stop(); }

bool SimBus::start(const SimBusOptions& options) {
  stop();
  options_ = options;
  if (options_.clients < 1) options_.clients = 1;
  const std::vector<std::uint16_t> ports = oxa_test::FreeUdpPorts(static_cast<std::size_t>(options_.clients) + 1);
  if (ports.empty()) return false;

  oxa_test::CoordLayout layout;
  layout.window = options_.window;
  oxa_test::CoordGroup server;
  server.id = options_.server_group;
  server.mode = '1';
  server.svr_type = '0';
  oxa_test::CoordGroup client;
  client.id = options_.client_group;
  client.mode = '1';
  client.svr_type = '1';
  layout.groups = {server, client};
  layout.members.push_back(oxa_test::CoordMember{options_.server_group, 1, ip_, ports[0], 0});
  for (int i = 0; i < options_.clients; ++i)
    layout.members.push_back(oxa_test::CoordMember{options_.client_group, static_cast<std::int16_t>(1 + i), ip_,
                                                   ports[static_cast<std::size_t>(i) + 1], 0});
  for (const std::uint32_t id : kServerIds)
    layout.msgs.push_back(oxa_test::CoordMsg{options_.server_group, static_cast<std::int16_t>(id), 'N'});
  for (const std::uint32_t id : kClientIds)
    layout.msgs.push_back(oxa_test::CoordMsg{options_.client_group, static_cast<std::int16_t>(id), 'N'});

  oxa_test::FakeCoordinator::Options co;
  co.ip = ip_;
  co.port = options_.coordinator_port;
  co.min_port = options_.coordinator_min_port;
  coord_.reset(new oxa_test::FakeCoordinator(layout, co));
  if (!coord_->Start()) {
    coord_.reset();
    return false;
  }

  log_dir_ = options_.log_dir;
  if (log_dir_.empty()) {
    std::error_code ec;
    log_dir_ = (std::filesystem::temp_directory_path(ec) / ("oxa_sim_bus_" + std::to_string(::getpid()))).string();
  }
  log_.reset(new OXA::VORN::xLog());
  log_->SetSlotCount(4096);  // the sim's member logs little: a small ring will do
  member_.reset(new OXA::VORN::CVornSystem(log_.get()));
  OXA::VORN::VornLaunchArgs a;
  a.group_id = options_.server_group;
  a.member_id = 1;
  a.coordinator_ip = ip_.c_str();
  a.coordinator_port = coord_->Port();
  a.log_level = 1;
  a.base_path = log_dir_.c_str();
  a.deliver = &SimBus::deliver;
  a.jam_wait_us = 1000;
  a.user_data = this;
  OXA::VORN::VornLaunchOptions lo;
  // no client runs yet: one short synchronisation pass; each client synchronises when it comes
  lo.groups.timing.sync_passes = 1;
  lo.groups.timing.sync_reply_wait_ns = 20000000;
  if (member_->Launch(a, lo) != 1) {
    member_.reset();
    coord_->Stop();
    coord_.reset();
    return false;
  }

  sim_.set_login_answer_editor([this](std::uint64_t, std::uint64_t conn_id, LoginAnswer& answer) {
    answer.protocol_mode = 2;
    answer.hqtrs_ip = ip_;
    answer.hqtrs_port = coordinator_port();
    answer.group_id = static_cast<std::uint16_t>(options_.client_group);
    std::lock_guard<std::mutex> lk(mu_);
    auto it = conn_member_.find(conn_id);
    if (it == conn_member_.end()) {
      // each connection (one per client process) a member of its own, in turn
      const auto m = static_cast<std::int16_t>(1 + next_slot_);
      next_slot_ = (next_slot_ + 1) % options_.clients;
      it = conn_member_.emplace(conn_id, m).first;
    }
    answer.member_id = static_cast<std::uint16_t>(it->second);
  });
  sim_.set_push_route([this](std::uint64_t account, std::uint32_t msg_id, std::uint32_t seq,
                             const std::vector<std::uint8_t>& body) {
    const auto source = source_of_account(account);
    if (source.first < 0) return false;
    return send_to(source.first, source.second, seq, msg_id, body);
  });
  started_ = true;
  return true;
}

void SimBus::stop() {
  if (started_) {
    sim_.set_login_answer_editor(nullptr);
    sim_.set_push_route(nullptr);
    started_ = false;
  }
  if (member_) member_->Stop();
  member_.reset();
  log_.reset();
  if (coord_) coord_->Stop();
  coord_.reset();
}

bool SimBus::running() const { return member_ && started_; }

std::uint16_t SimBus::coordinator_port() const { return coord_ ? coord_->Port() : 0; }

std::int16_t SimBus::member_of_connection(std::uint64_t conn_id) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = conn_member_.find(conn_id);
  return it == conn_member_.end() ? -1 : it->second;
}

std::pair<std::int16_t, std::int16_t> SimBus::source_of_account(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = account_source_.find(account);
  return it == account_source_.end() ? std::make_pair<std::int16_t, std::int16_t>(-1, -1) : it->second;
}

std::size_t SimBus::requests() const {
  std::lock_guard<std::mutex> lk(mu_);
  return requests_;
}

bool SimBus::send_to(std::int16_t group, std::int16_t member, std::uint32_t tag, std::uint32_t msg_id,
                     const std::vector<std::uint8_t>& body) {
  OXA::VORN::CVornSystem* m = member_.get();
  return m && m->SendMsg(static_cast<std::int32_t>(tag), static_cast<std::int16_t>(msg_id), body.data(),
                         static_cast<std::uint32_t>(body.size()), group, member, true, 0xFFFF) == 1;
}

void SimBus::deliver(std::uint32_t tag, std::uint32_t msg_id, const void* data, std::uint32_t length,
                     std::uint64_t playback, const OXA::VORN::VornMsgSource* source) {
  (void)playback;
  SimBus* self = source ? static_cast<SimBus*>(source->user_data) : nullptr;
  if (!self) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  self->on_request(tag, msg_id & 0xFFFFu, std::vector<std::uint8_t>(p, p + length), source->group_id,
                   source->member_id);
}

void SimBus::on_request(std::uint32_t tag, std::uint32_t msg_id, std::vector<std::uint8_t> body, std::int16_t group,
                        std::int16_t member) {
  const std::uint64_t account = login_account(msg_id, body);
  {
    std::lock_guard<std::mutex> lk(mu_);
    ++requests_;
    // pushes follow the member the account's business login came from
    if (account != 0) account_source_[account] = {group, member};
  }
  sim_.dispatch_request(msg_id, tag, std::move(body),
                        [this, group, member](std::uint32_t id, const std::vector<std::uint8_t>& answer) {
                          return send_to(group, member, 0, id, answer);
                        });
}

}  // namespace oxa_sim
