// A spot account against the simulated gateway over loopback: the API object and the spot
// back-end with short waits, the sim's order server on. Each test logs in under a fund index of
// its own, since speed limits outlive a session.
#pragma once

#include "support/LoginFixture.h"

#include "core/spot_api/SpotTraderImpl.h"

namespace oxa_test {

// The public records are byte-packed: compare their fields as values, never bind references.
template <typename T>
T V(T value) {
    return value;
}

class SpotFixture : public ::testing::Test {
protected:
    SpotFixture(uint8_t client_id, uint32_t node, int64_t trading_day, int resume_type)
        : client_id_(client_id), node_(node), trading_day_(trading_day), resume_type_(resume_type) {}

    // The callback object the test registers.
    virtual OXA::API::TraderSpi* Spi() = 0;

    void SetUp() override {
        api_ = oxa_test::TestApi(client_id_);
        api_->Release();
        TraderImpl::Timeouts t;
        t.gateway_login = 2000ms;
        t.logout = 2000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new OXA::API::SpotTraderImpl();
            OXA::API::SpotTraderImpl::Timeouts st;
            st.login = 2000ms;
            st.sync = 2000ms;
            st.subscribe = 2000ms;
            spot_->SetTimeouts(st);
            spot_->SetPushRegisterTimeout(2000ms);
            return spot_;
        });
        api_->RegisterSpi(Spi());
        api_->SubscribePublicTopic(resume_type_);
        sim_.enable_spot_orders(true);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->RegisterSpi(nullptr);
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
        sim_.stop();
    }
    uint64_t Login(const char* account, uint32_t fund_index) {
        oxa_sim::SpotLoginAnswer a;
        a.node_id = static_cast<int32_t>(node_);
        a.fund_index = fund_index;
        a.trading_day = static_cast<int32_t>(trading_day_);
        sim_.set_spot_login_answer(a);
        return api_->Login("127.0.0.1", sim_.port(), account, "pw", 1, nullptr, nullptr);
    }

    const uint8_t client_id_;
    const uint32_t node_;
    const int64_t trading_day_;
    const int resume_type_;
    TraderImpl* api_ = nullptr;
    OXA::API::SpotTraderImpl* spot_ = nullptr;
    GatewaySim sim_;
};

}  // namespace oxa_test
