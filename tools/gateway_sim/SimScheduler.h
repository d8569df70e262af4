// Timer thread of the simulated gateway: sends frames at a later time (delayed and late answers).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {

class Scheduler {
 public:
  Scheduler() = default;
  ~Scheduler() { stop(); }
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  void start();
  // Drops what is still pending and joins the thread; later posts are refused.
  void stop();
  bool post(Clock::time_point due, std::weak_ptr<SimConnection> conn,
            std::vector<std::uint8_t> bytes);

 private:
  struct Item {
    std::weak_ptr<SimConnection> conn;
    std::vector<std::uint8_t> bytes;
  };
  void run();

  std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;
  std::multimap<Clock::time_point, Item> items_;
  std::thread thread_;
};

}  // namespace oxa_sim
