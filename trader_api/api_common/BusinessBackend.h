// The slots the spot and margin back-ends fill alike: the waits of their login and push
// resumption, the resume type, the callback object, and the session slots that only read or end
// the shared session tables. Each back-end adds its driver: the receive slot, Release, and the
// driver's copy of the callback object.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "api_common/CInnerApiInterface/CInnerApiInterface.h"
#include "api_common/PushResumption.h"

namespace OXA {
namespace API {

class CBusinessBackend : public CInnerApiInterface {
public:
    using Timeouts = SessionTimeouts;

    // Stores the callback object and hands it to the back-end's driver.
    void RegisterSpi(TraderSpi* spi) override;
    void SubscribePublicTopic(int resume_type) override;
    const char* GetAccountByOXAID(uint64_t order_oxa_id) override;
    // Local clean-up after the gateway's logout: the session leaves every table; always 0.
    int Logout(uint64_t session_id) override;
    int Reserved3(uint64_t session_id) override;
    tagSessionInfo* GetSessionInfo(uint64_t session_id) override;

    void SetTimeouts(const Timeouts& t);
    Timeouts GetTimeouts() const;
    TraderSpi* GetSpi() const { return m_pSpi.load(); }

protected:
    // 2 (the default): pushes are not resumed after a login.
    int GetResumeType() const { return m_nResumeType.load(); }
    virtual void HandSpiToDriver(TraderSpi* spi) = 0;

private:
    std::atomic<TraderSpi*> m_pSpi{nullptr};
    std::atomic<int> m_nResumeType{2};
    mutable std::mutex m_mtxTimeouts;
    Timeouts m_timeouts;
};

}  // namespace API
}  // namespace OXA
