// The facade's link to the message bus, as the back-ends see it: they send order-like
// requests through it in bus mode and write its group and member into their login requests.
// The bus itself plugs in behind this interface.
#pragma once

#include <cstdint>

namespace OXA {
namespace API {

class BusAdaptor {
public:
    virtual ~BusAdaptor() = default;

    // Sends one message; group and member -1 address every group and every member.
    // True when the bus took it. Called from any application thread.
    virtual bool Send(uint32_t msg_id, const void* body, int length, int group, int member) = 0;

    // The group and member this process joined the bus with (0 and 0 before any launch).
    virtual void GetGroupMember(int32_t* group, int32_t* member) = 0;
};

}  // namespace API
}  // namespace OXA
