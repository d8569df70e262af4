// Process-wide state of the API core, alive from load to exit.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace OXA {
namespace API {

// Socket type of the first Login (1 TCP, 2 UDP); kSockTypeUnset until then, never reset.
constexpr int kSockTypeUnset = 9;
extern std::atomic<int> SockType;

// Trading day from the back-ends' login answers; 0 until the first one.
extern std::atomic<uint32_t> _tradingDay;

// Terminal-information text of the last Login.
constexpr int kTerminalInfoTextSize = 256;
extern char _gTerminalInfo[kTerminalInfoTextSize];

// Guards every write of the last-error record, by the facade and by every back-end.
extern std::mutex _gErrorMutex;

}  // namespace API
}  // namespace OXA
