#include "api/CallbackThread.h"

namespace OXA {
namespace API {

namespace {
thread_local int t_callbackDepth = 0;
}  // namespace

CallbackThreadScope::CallbackThreadScope() noexcept { ++t_callbackDepth; }
CallbackThreadScope::~CallbackThreadScope() { --t_callbackDepth; }

bool OnCallbackThread() noexcept { return t_callbackDepth > 0; }

}  // namespace API
}  // namespace OXA
