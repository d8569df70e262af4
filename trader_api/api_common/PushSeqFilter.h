// The push sequence filter the spot and margin back-ends run before a live push reaches the
// application: each session accepts a push only when its number is above every number the
// session accepted before, so a push the server sends twice (or a stale one) is delivered once.
#pragma once

#include <cstdint>

namespace OXA {
namespace API {

// True when the session has a sequence register and seq is above its last accepted number
// (which seq then becomes). A session without a register ("Get ApiSession is null") or a
// number not above the last ("Recv Push Msg Seq No {} Duplicated.") is logged and refused.
bool AcceptPushSeq(uint64_t session_id, int seq) noexcept;

}  // namespace API
}  // namespace OXA
