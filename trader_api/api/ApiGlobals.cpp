#include "api/ApiGlobals.h"

namespace OXA {
namespace API {

// Constant-initialised: safe to use from other objects' constructors.
std::atomic<int> SockType{kSockTypeUnset};
std::atomic<uint32_t> _tradingDay{0};
char _gTerminalInfo[kTerminalInfoTextSize] = {};
std::mutex _gErrorMutex;

}  // namespace API
}  // namespace OXA
