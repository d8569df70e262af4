#include "FakeBus.h"

namespace oxa_test {

bool FakeBus::Send(uint32_t msg_id, const void* body, int length, int group, int member) {
    BusSend sent;
    sent.msg_id = msg_id;
    if (body != nullptr && length > 0) {
        const auto* bytes = static_cast<const uint8_t*>(body);
        sent.body.assign(bytes, bytes + length);
    }
    sent.length = length;
    sent.group = group;
    sent.member = member;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sends.push_back(std::move(sent));
    return m_result;
}

void FakeBus::GetGroupMember(int32_t* group, int32_t* member) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (group != nullptr) *group = m_group;
    if (member != nullptr) *member = m_member;
}

bool FakeBus::VornLaunch(int group, int member, const char* coordinator_ip, int coordinator_port, int log_level,
                         const char* path, int run_mode, OXA::API::TraderImpl* owner) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_launched) return true;
    m_launches.push_back(BusLaunch{group, member, coordinator_ip ? coordinator_ip : "", coordinator_port, log_level,
                                   path ? path : "", run_mode});
    m_context.owner = owner;
    if (!m_launchResult) return false;
    m_launched = true;
    m_group = group;
    m_member = member;
    return true;
}

void FakeBus::SetEtherName(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_etherName = name ? name : "";
}

void FakeBus::SetThreadCpus(int receiver_cpu, int deliver_cpu) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cpus = {receiver_cpu, deliver_cpu};
}

std::string FakeBus::EtherName() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_etherName;
}

std::pair<int, int> FakeBus::ThreadCpus() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cpus;
}

void FakeBus::SetLaunchResult(bool result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_launchResult = result;
}

std::vector<BusLaunch> FakeBus::Launches() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_launches;
}

void FakeBus::SetSendResult(bool result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result = result;
}

void FakeBus::SetGroupMember(int32_t group, int32_t member) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_group = group;
    m_member = member;
}

std::vector<BusSend> FakeBus::Sends() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sends;
}

std::size_t FakeBus::SendCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sends.size();
}

}  // namespace oxa_test
