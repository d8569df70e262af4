#include "gateway_sim/SimPushStore.h"

namespace oxa_sim {

std::uint32_t PushStore::append(std::uint64_t account, std::uint32_t msg_id,
                                std::vector<std::uint8_t> body) {
  std::lock_guard<std::mutex> lk(mu_);
  Account& a = accounts_[account];
  const std::uint32_t seq = a.last + 1;
  a.last = seq;
  a.pushes.push_back(StoredPush{seq, msg_id, std::move(body)});
  return seq;
}

void PushStore::insert(std::uint64_t account, std::uint32_t seq, std::uint32_t msg_id,
                       std::vector<std::uint8_t> body) {
  std::lock_guard<std::mutex> lk(mu_);
  Account& a = accounts_[account];
  if (seq > a.last) a.last = seq;
  a.pushes.push_back(StoredPush{seq, msg_id, std::move(body)});
}

std::vector<StoredPush> PushStore::list(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = accounts_.find(account);
  return it != accounts_.end() ? it->second.pushes : std::vector<StoredPush>{};
}

std::vector<StoredPush> PushStore::from(std::uint64_t account, std::uint32_t first_seq) const {
  std::vector<StoredPush> out;
  std::lock_guard<std::mutex> lk(mu_);
  auto it = accounts_.find(account);
  if (it == accounts_.end()) return out;
  for (const auto& p : it->second.pushes)
    if (p.seq >= first_seq) out.push_back(p);
  return out;
}

std::uint32_t PushStore::last_seq(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = accounts_.find(account);
  return it != accounts_.end() ? it->second.last : 0;
}

std::size_t PushStore::size(std::uint64_t account) const {
  std::lock_guard<std::mutex> lk(mu_);
  auto it = accounts_.find(account);
  return it != accounts_.end() ? it->second.pushes.size() : 0;
}

void PushStore::clear(std::uint64_t account) {
  std::lock_guard<std::mutex> lk(mu_);
  accounts_.erase(account);
}

void PushStore::clear() {
  std::lock_guard<std::mutex> lk(mu_);
  accounts_.clear();
}

}  // namespace oxa_sim
