// A bus adaptor for tests: records every send and answers as programmed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/BusAdaptor.h"
#include "api/TraderContext.h"

namespace oxa_test {

struct BusLaunch {
    int group = 0;
    int member = 0;
    std::string coordinator_ip;
    int coordinator_port = 0;
    int log_level = 0;
    std::string path;
    int run_mode = 0;
};

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
    // Records the launch and answers as set (true unless set otherwise); the first launch
    // that succeeds keeps its group and member.
    bool VornLaunch(int group, int member, const char* coordinator_ip, int coordinator_port, int log_level,
                    const char* path, int run_mode, OXA::API::TraderImpl* owner) override;
    OXA::API::TraderContext* GetContext() override { return &m_context; }
    void SetEtherName(const char* name) override;
    void SetThreadCpus(int receiver_cpu, int deliver_cpu) override;
    std::string EtherName() const;
    std::pair<int, int> ThreadCpus() const;

    void SetSendResult(bool result);
    void SetLaunchResult(bool result);
    std::vector<BusLaunch> Launches() const;
    void SetGroupMember(int32_t group, int32_t member);
    std::vector<BusSend> Sends() const;
    std::size_t SendCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<BusSend> m_sends;
    bool m_result = true;
    bool m_launchResult = true;
    bool m_launched = false;
    std::vector<BusLaunch> m_launches;
    OXA::API::TraderContext m_context{nullptr};
    std::string m_etherName;
    std::pair<int, int> m_cpus{-1, -1};
    int32_t m_group = 0;
    int32_t m_member = 0;
};

}  // namespace oxa_test
