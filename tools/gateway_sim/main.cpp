// oxa_gateway_sim: the simulated gateway as a program, for scripts and manual runs. With no
// options a spot account logs in end to end: the gateway login answers spot over the gateway
// connection, push registration and the spot login are accepted, the synchronisation ends at
// once (nothing is stored) and the subscription ends; orders, cancels and fund transfers are
// answered by the spot order server (see --no-spot-orders) and every spot query by the query
// server from a small demo book (see --no-spot-queries). With --state-file it continues, after a
// restart, the push and order numbering its clients saw. With --bus it also runs its bus side
// (a coordinator and the order server's bus member): logins then answer the bus protocol mode,
// and the orders and pushes of clients that log in with socket type 2 travel over the bus.
#include <signal.h>

#include <cstdio>
#include <string>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimBus.h"
#include "gateway_sim/SimCli.h"
#include "gateway_sim/SimMargin.h"
#include "gateway_sim/SimOption.h"

int main(int argc, char** argv) {
  oxa_sim::SimOptions opts;
  std::string error;
  if (!oxa_sim::parse_options(argc, argv, opts, error)) {
    std::fprintf(stderr, "oxa_gateway_sim: %s\n%s", error.c_str(), oxa_sim::usage_text().c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(oxa_sim::usage_text().c_str(), stdout);
    return 0;
  }

  // Signals are taken by sigwait below; blocked before any thread starts so none of the sim's
  // threads receives them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  oxa_sim::GatewaySim sim;
  oxa_sim::SimMargin margin(sim);  // margin accounts: --account-business ACC=2
  {
    // margin sessions on a node of their own, so they never share a session id with spot's
    oxa_sim::MarginInitAnswer init;
    init.node_id = 2;
    margin.set_init_answer(init);
  }
  oxa_sim::SimOption option(sim);  // option accounts: --account-business ACC=3
  oxa_sim::apply_options(opts, sim);
  if (!opts.state_file.empty() && !sim.set_state_file(opts.state_file)) {
    std::fprintf(stderr, "oxa_gateway_sim: cannot open the state file %s\n", opts.state_file.c_str());
    return 1;
  }
  if (opts.verbose) {
    sim.set_frame_observer([](const oxa_sim::ReceivedFrame& f) {
      std::printf("%s\n", oxa_sim::describe_frame(f).c_str());
      std::fflush(stdout);
    });
  }
  if (!sim.start(opts.port)) {
    std::fprintf(stderr, "oxa_gateway_sim: cannot listen on 127.0.0.1:%u\n",
                 static_cast<unsigned>(opts.port));
    return 1;
  }
  std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(sim.port()));
  std::fflush(stdout);
  oxa_sim::SimBus bus(sim);
  if (opts.bus) {
    oxa_sim::SimBusOptions bo;
    bo.coordinator_port = opts.bus_coordinator_port;
    if (!bus.start(bo)) {
      std::fprintf(stderr, "oxa_gateway_sim: cannot start the bus side\n");
      sim.stop();
      return 1;
    }
    std::printf("bus coordinator on 127.0.0.1:%u\n", static_cast<unsigned>(bus.coordinator_port()));
    std::fflush(stdout);
  }

  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      const std::size_t n = sim.send_offline(opts.offline_request_id, opts.offline_trading_day);
      std::printf("off-line command sent to %zu connection(s)\n", n);
      std::fflush(stdout);
    } else if (sig == SIGUSR2) {
      const std::size_t n = sim.close_connections();
      std::printf("closed %zu connection(s)\n", n);
      std::fflush(stdout);
    } else {
      break;
    }
  }
  bus.stop();
  sim.stop();
  std::printf("stopped\n");
  std::fflush(stdout);
  return 0;
}
