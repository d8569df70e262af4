// Spot and margin accounts side by side through the public interface alone: the gateway names
// each account's business, the library builds its own back-ends, and both accounts log in, resume
// their pushes and log out against the simulated gateway.
#include "core/margin_api/MarginFixture.h"

#include <oxa_api/TraderApi.h>

namespace {

using namespace margin_test;

class MarginEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(9);
        api_->Release();
        oxa_test::ResetSessionState();
        TraderImpl::Timeouts t;
        t.gateway_login = 5000ms;
        t.logout = 5000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker(nullptr);  // the library's own back-ends
        api_->RegisterSpi(&spi_);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->RegisterSpi(nullptr);
        api_->SubscribePublicTopic(2);
        sim_.stop();
    }
    uint64_t Login(const char* user) {
        OXA::API::TraderApi* api = api_;  // the public interface only
        return api->Login("127.0.0.1", sim_.port(), user, "pw", 1, nullptr, nullptr);
    }

    TraderImpl* api_ = nullptr;
    FlowSpi spi_;
    GatewaySim sim_;
    oxa_sim::SimMargin sim_margin_{sim_};
};

TEST_F(MarginEndToEndTest, SpotAndMarginAccountsLogInAndOutSideBySide) {
    api_->SubscribePublicTopic(0);
    sim_margin_.add_account(7100);
    oxa_sim::MarginInitAnswer margin;
    margin.node_id = 5;
    margin.fund_index = 12;
    sim_margin_.set_init_answer(margin);
    oxa_sim::SpotLoginAnswer spot;
    spot.node_id = 6;
    spot.fund_index = 13;
    sim_.set_spot_login_answer(spot);
    // a record left from an earlier session of the margin account, replayed at login
    sim_margin_.store(7100, 0x228, (uint64_t{5} << 16 | 12) << 40 | uint64_t{9} << 32 | 1);

    const uint64_t spot_session = Login("7200");
    const uint64_t margin_session = Login("7100");
    ASSERT_EQ(spot_session, uint64_t{6} << 16 | 13) << api_->GetApiLastError()->error_id;
    ASSERT_EQ(margin_session, uint64_t{5} << 16 | 12) << api_->GetApiLastError()->error_id;
    EXPECT_EQ(sim_.count(0x10a), 1u) << "the spot account logged in to spot";
    EXPECT_EQ(sim_.count(0x203), 1u) << "the margin account to margin";
    EXPECT_EQ(sim_.count(0x205), 1u);
    EXPECT_EQ(spi_.Ids().size(), 1u);
    EXPECT_EQ(spi_.Sessions().front(), margin_session);

    OXA::API::TraderApi* api = api_;
    EXPECT_EQ(api->Logout(margin_session), 0);
    EXPECT_EQ(api->Logout(spot_session), 0);
    EXPECT_EQ(sim_.count(0xf0007), 2u);
    EXPECT_EQ(api->Logout(margin_session), 1004) << "the session is gone";

    // and the margin account logs in again on the same back-end
    EXPECT_EQ(Login("7100"), margin_session);
}

}  // namespace
