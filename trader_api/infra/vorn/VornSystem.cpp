#include "infra/vorn/VornSystem.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/HqtrsClient.h"

namespace OXA {
namespace VORN {

int AdvanceHHMMSS(int hhmmss, int64_t seconds) {
    if (seconds <= 0) return hhmmss;
    int64_t s = hhmmss % 100 + seconds;
    int64_t m = hhmmss / 100 % 100 + s / 60;
    int64_t h = hhmmss / 10000 + m / 60;
    s %= 60;
    m %= 60;
    h %= 24;
    return static_cast<int>(h * 10000 + m * 100 + s);
}

CVornSystem::CVornSystem(xLog* log) : m_log(log ? log : &VornLog()), m_hqtrs(new CHqtrsClient(*this)) {}

CVornSystem::~CVornSystem() { RequestStop(); }

void CVornSystem::SetCoordinator(const char* ip, uint16_t port) {
    API::CopyText(m_coordinatorIp, ip, 15);
    m_coordinatorPort = port;
}

void CVornSystem::SetOwnIds(int16_t group_id, int16_t member_id) {
    m_identity.group_id = group_id;
    m_identity.member_id = member_id;
}

void CVornSystem::SetEtherName(const char* name) {
    if (!name || !*name) return;
    API::CopyText(m_etherName, name, 255);
}

void CVornSystem::SetDeviceIdentity(int identity) {
    if (m_deviceIdentity.exchange(identity, std::memory_order_acq_rel) != identity) m_identityEvent.Set();
}

void CVornSystem::SetPartitions(std::vector<int16_t> partitions) { m_partitions = std::move(partitions); }

int16_t CVornSystem::PartitionOf(int member_index) const {
    if (member_index < 0 || static_cast<std::size_t>(member_index) >= m_partitions.size()) return -1;
    return m_partitions[static_cast<std::size_t>(member_index)];
}

void CVornSystem::StartClock() {
    m_clockWall = static_cast<int64_t>(std::time(nullptr));
    m_clock.store(API::GetLocalTimeHHMMSS(), std::memory_order_relaxed);
}

void CVornSystem::UpdateClock() {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (now <= m_clockWall) return;
    m_clock.store(AdvanceHHMMSS(m_clock.load(std::memory_order_relaxed), now - m_clockWall), std::memory_order_relaxed);
    m_clockWall = now;
}

void CVornSystem::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_stopCv.notify_all();
}

bool CVornSystem::SleepUnlessStopped(int ms) {
    std::unique_lock<std::mutex> lock(m_stopMutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    m_stopCv.wait_until(lock, deadline, [this] { return m_stop.load(std::memory_order_acquire); });
    return !m_stop.load(std::memory_order_acquire);
}

}  // namespace VORN
}  // namespace OXA
