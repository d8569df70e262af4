// The inbound half of the option back-end. OptionTraderImpl::OnRecv hands it every message
// routed to the option business, after the back-end itself has looked at the login answer
// 0x500 and the subscription answer 0x521. The driver keeps the process-wide pointers its
// handlers use: the back-end and the application's callback object.
//
// Its handler table (pushes, query answers and the replay of missed pushes 0x56a) is not
// filled yet: every message is dropped after the trace line.
#pragma once

#include <oxa_api/TraderSpi.h>

#include <cstdint>

namespace OXA {
namespace API {

class OptionTraderImpl;

namespace OPT {

class CTradeDriver {
public:
    // The first argument (request id or bus tag) is not used; msg_id is the message id's low
    // 16 bits read as a signed number.
    void onRecv(int request_id, int16_t msg_id, const char* body, int length, int playback, bool byte_order,
                int16_t src_group, int16_t src_member, uint32_t node_id);
};

CTradeDriver& GetTradeDriver();
void InitTradeDriver();

// Written before traffic starts (construction, RegisterSpi), read by the receiving threads.
int SetInnerApi(OptionTraderImpl* api);
OptionTraderImpl* GetInnerApi();
void SetTraderSpi(TraderSpi* spi);
TraderSpi* GetTraderSpi();

}  // namespace OPT
}  // namespace API
}  // namespace OXA
