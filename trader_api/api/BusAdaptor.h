// The facade's link to the message bus, as the facade and the back-ends see it: Login launches
// the bus the gateway names through it, the back-ends send order-like requests through it in
// bus mode and write its group and member into their login requests, and its deliveries come
// back to the facade with the context it returns. VornBusAdaptor is the bus of this library;
// tests plug in FakeBus.
#pragma once

#include <cstdint>

namespace OXA {
namespace API {

class TraderImpl;
struct TraderContext;

class BusAdaptor {
public:
    virtual ~BusAdaptor() = default;

    // Sends one message; group and member -1 address every group and every member.
    // True when the bus took it (some member got it). Called from any application thread.
    virtual bool Send(uint32_t msg_id, const void* body, int length, int group, int member) = 0;

    // The group and member this process joined the bus with (0 and 0 before any launch).
    virtual void GetGroupMember(int32_t* group, int32_t* member) = 0;

    // Launches the bus once with the group, member and coordinator that the gateway named
    // (later calls answer true at once and keep the first launch); true when the bus runs.
    // owner receives every delivery through TraderImpl::OnRecv. Without a bus: false.
    virtual bool VornLaunch(int group, int member, const char* coordinator_ip, int coordinator_port, int log_level,
                            const char* path, int run_mode, TraderImpl* owner) {
        (void)group, (void)member, (void)coordinator_ip, (void)coordinator_port, (void)log_level, (void)path,
            (void)run_mode, (void)owner;
        return false;
    }
    // The context deliveries carry; Login writes its node ids in bus mode. Null without a bus.
    virtual TraderContext* GetContext() { return nullptr; }
    // Before the launch: the network device the bus binds to, and the cores of its receiver
    // and deliver threads (-1: not pinned).
    virtual void SetEtherName(const char* name) { (void)name; }
    virtual void SetThreadCpus(int receiver_cpu, int deliver_cpu) { (void)receiver_cpu, (void)deliver_cpu; }
};

}  // namespace API
}  // namespace OXA
