#include "support/SessionState.h"

#include <new>

#include "api/SessionTables.h"
#include "api/SpeedControl.h"
#include "support/TestApi.h"

namespace oxa_test {

void ResetSessionState() {
    OXA::API::ReleaseSessionTables();
    OXA::API::_gMapNodeFundAcc.Clear();
    // The entries stay where they are (a request may have read a pointer before); each is
    // built anew, which also forgets its window.
    using Entries = OXA::API::ApiSessionArray<OXA::API::STFundSpContral*>;
    auto& entries = const_cast<Entries&>(OXA::API::_gArrSpeedCtrl);  // the table itself is not const
    entries.ForEachSlot([](std::atomic<OXA::API::STFundSpContral*>& slot) {
        OXA::API::STFundSpContral* pair = slot.load();
        if (pair == nullptr) return;
        for (int type = 0; type < OXA::API::CSpeedControl::kCtrlTypes; ++type) {
            pair[type].~STFundSpContral();
            new (&pair[type]) OXA::API::STFundSpContral();
        }
    });
    if (OXA::API::TraderImpl* api = ExistingTestApi()) api->ForgetOrderIds();
}

}  // namespace oxa_test
