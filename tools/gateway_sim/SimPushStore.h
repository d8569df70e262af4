// The pushes the simulated gateway has stored per fund account, each under a sequence number.
// The sync answer replays them, a subscription catches up from its start sequence, and the
// business simulators append to it whenever they push.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace oxa_sim {

struct StoredPush {
  std::uint32_t seq = 0;
  std::uint32_t msg_id = 0;  // goes on the wire as 16 bits inside a sync record
  std::vector<std::uint8_t> body;
};

// Thread-safe; the order of a list is the order of storing.
class PushStore {
 public:
  // Stores a push under the account's next sequence number (the highest so far + 1, from 1).
  std::uint32_t append(std::uint64_t account, std::uint32_t msg_id, std::vector<std::uint8_t> body);
  // Stores a push under the given number as it is: a test may store duplicates or go backwards.
  // Later appends continue above the highest number stored.
  void insert(std::uint64_t account, std::uint32_t seq, std::uint32_t msg_id,
              std::vector<std::uint8_t> body);

  std::vector<StoredPush> list(std::uint64_t account) const;
  // The pushes whose number is at least first_seq, in storing order.
  std::vector<StoredPush> from(std::uint64_t account, std::uint32_t first_seq) const;
  std::uint32_t last_seq(std::uint64_t account) const;  // 0 when none was stored
  std::size_t size(std::uint64_t account) const;

  void clear(std::uint64_t account);  // numbering starts again at 1
  void clear();

 private:
  struct Account {
    std::vector<StoredPush> pushes;
    std::uint32_t last = 0;
  };
  mutable std::mutex mu_;
  std::map<std::uint64_t, Account> accounts_;
};

}  // namespace oxa_sim
