// Tells whether the calling thread is delivering messages for the library: a connection's io
// thread while it hands on an answer, a push or a status event (and the bus deliver thread
// once it marks itself the same way). Answers to the library's own requests arrive on such a
// thread, so an operation that would wait for one must not wait there: it would wait for
// itself.
#pragma once

namespace OXA {
namespace API {

// Marks the current thread for its lifetime; nests.
class CallbackThreadScope {
public:
    CallbackThreadScope() noexcept;
    ~CallbackThreadScope();
    CallbackThreadScope(const CallbackThreadScope&) = delete;
    CallbackThreadScope& operator=(const CallbackThreadScope&) = delete;
};

bool OnCallbackThread() noexcept;

}  // namespace API
}  // namespace OXA
