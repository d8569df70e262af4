// A bus adaptor for tests: records every send and answers as programmed.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "api/BusAdaptor.h"

namespace oxa_test {

struct BusSend {
    uint32_t msg_id = 0;
    std::vector<uint8_t> body;
    int length = 0;
    int group = 0;
    int member = 0;
};

class FakeBus : public OXA::API::BusAdaptor {
public:
    bool Send(uint32_t msg_id, const void* body, int length, int group, int member) override;
    void GetGroupMember(int32_t* group, int32_t* member) override;

    void SetSendResult(bool result);
    void SetGroupMember(int32_t group, int32_t member);
    std::vector<BusSend> Sends() const;
    std::size_t SendCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<BusSend> m_sends;
    bool m_result = true;
    int32_t m_group = 0;
    int32_t m_member = 0;
};

}  // namespace oxa_test
