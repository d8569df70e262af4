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
