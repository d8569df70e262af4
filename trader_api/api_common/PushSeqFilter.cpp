#include "api_common/PushSeqFilter.h"

#include <spdlog/spdlog.h>

#include "api/SessionTables.h"

namespace OXA {
namespace API {

bool AcceptPushSeq(uint64_t session_id, int seq) noexcept {
    SeqNoReg* reg = _gArrSeqNoReg.Get(static_cast<uint32_t>(session_id));
    if (reg == nullptr) {
        spdlog::warn("Get ApiSession is null. ApiSession={}", session_id);
        return false;
    }
    if (!reg->RegSeqNo(seq)) {
        spdlog::error("Recv Push Msg Seq No {} Duplicated.", seq);
        return false;
    }
    return true;
}

}  // namespace API
}  // namespace OXA
