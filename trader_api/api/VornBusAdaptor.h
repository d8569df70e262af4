// The bus of this library behind the facade's BusAdaptor: launched once per process by the
// first login whose gateway names the bus, it sends orders to every member that takes them
// and hands every delivery to TraderImpl::OnRecv on the bus deliver thread (marked as a
// callback thread, so Login and Logout called from a callback do not wait for themselves).
//
// A send that reached no member is a failed send. The bus stays up until the process ends;
// it is stopped at exit, before the objects its deliver thread calls into are destroyed.
// A failed launch leaves nothing running, and the next login tries again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "api/BusAdaptor.h"
#include "api/TraderContext.h"
#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {
class CVornSystem;
}
namespace API {

class VornBusAdaptor : public BusAdaptor {
public:
    // owner: the facade, the owner of the context deliveries carry. bus: the member to run
    // (null: the process's one bus member).
    explicit VornBusAdaptor(TraderImpl* owner, VORN::CVornSystem* bus = nullptr);
    ~VornBusAdaptor() override;
    VornBusAdaptor(const VornBusAdaptor&) = delete;
    VornBusAdaptor& operator=(const VornBusAdaptor&) = delete;

    bool VornLaunch(int group, int member, const char* coordinator_ip, int coordinator_port, int log_level,
                    const char* path, int run_mode, TraderImpl* owner) override;
    bool Send(uint32_t msg_id, const void* body, int length, int group, int member) override;
    void GetGroupMember(int32_t* group, int32_t* member) override;
    TraderContext* GetContext() override { return m_context.get(); }
    void SetEtherName(const char* name) override;
    void SetThreadCpus(int receiver_cpu, int deliver_cpu) override;

    bool Launched() const { return m_launched.load(std::memory_order_acquire); }
    VORN::CVornSystem& Bus() { return m_bus; }

    // The bus's callbacks.
    static void OnVornRecv(uint32_t tag, uint32_t msg_id, const void* body, uint32_t length, uint64_t playback,
                           const VORN::VornMsgSource* source);
    static void OnVornState(uint64_t identity, uint64_t user_data);

private:
    VORN::CVornSystem& m_bus;
    std::unique_ptr<TraderContext> m_context;
    std::mutex m_mutex;  // one launch at a time
    std::atomic<bool> m_launched{false};
    std::atomic<int32_t> m_group{0};
    std::atomic<int32_t> m_member{0};
};

}  // namespace API
}  // namespace OXA
