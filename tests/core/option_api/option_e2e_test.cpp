// An option account against the simulated gateway over loopback, through the public
// interface: gateway login, push registration, the option core login with its echoes, an order
// that reaches the gateway, the subscription, logout; a spot account beside it.
#include "support/LoginFixture.h"

#include "core/option_api/OptionTraderImpl.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "gateway_sim/SimOption.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::OptionTraderImpl;

constexpr uint64_t kOptionAccount = 9001;

class OptionEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(4);
        api_->Release();
        TraderImpl::Timeouts t;
        t.gateway_login = 3000ms;
        t.logout = 3000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type == 1) {
                auto* spot = new OXA::API::SpotTraderImpl();
                OXA::API::SpotTraderImpl::Timeouts st;
                st.login = 3000ms;
                spot->SetTimeouts(st);
                spot->SetPushRegisterTimeout(3000ms);
                return spot;
            }
            if (type != 3) return nullptr;
            option_ = new OptionTraderImpl();
            OptionTraderImpl::Timeouts ot;
            ot.login = 3000ms;
            ot.sync = 200ms;  // nothing answers the replay yet
            ot.subscribe = 3000ms;
            option_->SetTimeouts(ot);
            option_->SetPushRegisterTimeout(3000ms);
            return option_;
        });
        api_->SubscribePublicTopic(2);
        LoginAnswer gateway;
        gateway.hqtrs_ip = "10.9.8.7";
        gateway.hqtrs_port = 6001;
        gateway.group_id = 2;
        gateway.member_id = 3;
        gateway.option_value = 0x0A0B0C0D01020304ull;
        sim_.set_login_answer(gateway);
        sim_.set_account_business(kOptionAccount, 3);
        sim_.set_account_business(kOptionAccount + 1, 3);
        oxa_sim::OptionLoginAnswer a;
        a.node_id = 6;
        a.fund_index = 12;
        a.session_no = 0x77000000001ull;
        a.cur_order_id = 500;
        a.date = 20261214;
        option_sim_.set_account_login_answer(kOptionAccount, a);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
        sim_.stop();
    }
    uint64_t Login(uint64_t account) {
        return api_->Login("127.0.0.1", sim_.port(), std::to_string(account).c_str(), "pw", 1, nullptr, nullptr);
    }
    int LastError() { return api_->GetApiLastError()->error_id; }

    TraderImpl* api_ = nullptr;
    OptionTraderImpl* option_ = nullptr;
    GatewaySim sim_;
    oxa_sim::SimOption option_sim_{sim_};
};

TEST_F(OptionEndToEndTest, OptionAccountLogsInTradesAndLogsOut) {
    const uint64_t session = Login(kOptionAccount);
    ASSERT_EQ(session, uint64_t{6} << 16 | 12) << LastError() << " " << api_->GetApiLastError()->error_msg;
    ASSERT_NE(option_, nullptr);
    EXPECT_STREQ(api_->GetTradingDay(), "20261214");
    EXPECT_EQ(sim_.count(0xf0002), 1u) << "registered for pushes";

    const auto logins = option_sim_.login_requests();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_TRUE(logins[0].echo_ok) << "the gateway answer's value at 552 and bytes 14-35 travel back";
    EXPECT_EQ(logins[0].client_id, 4u);
    EXPECT_EQ(logins[0].fund_account, kOptionAccount);
    EXPECT_EQ(logins[0].terminal_info, std::string(OXA::API::_gTerminalInfo).substr(0, 255));

    OrderInsertInfo order{};
    order.order_client_id = 31;
    std::strcpy(order.ticker, "10004321");
    order.market = 1;
    order.price = 0.1234;
    order.quantity = 2;
    order.price_type = 1;
    order.side = 1;
    order.position_effect = 1;
    order.business_type = 10;
    const uint64_t id = api_->InsertOrder(&order, session);
    ASSERT_EQ(id, session << 40 | 4ull << 32 | 501) << "the counter continues from CurOrdId";
    ASSERT_TRUE(WaitUntil([&] { return option_sim_.order_requests().size() == 1; }));
    const auto orders = option_sim_.order_requests();
    EXPECT_EQ(orders[0].msg_id, 0x402u);
    EXPECT_EQ(orders[0].order_id, id);
    EXPECT_EQ(orders[0].session_no, 0x77000000001ull);
    EXPECT_EQ(orders[0].fund_account, kOptionAccount);
    ASSERT_EQ(orders[0].body.size(), 324u);
    EXPECT_EQ(orders[0].body[66], '1') << "TCP session";

    EXPECT_STREQ(api_->GetAccountByOXAID(id), "9001");
    EXPECT_EQ(api_->Logout(session), 0);
    EXPECT_STREQ(api_->GetAccountByOXAID(id), "");
    EXPECT_EQ(api_->InsertOrder(&order, session), 0u) << "the session has ended";

    // and in again
    EXPECT_EQ(Login(kOptionAccount), session);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(OptionEndToEndTest, RefusedOptionLoginGives210003AndNoSession) {
    oxa_sim::OptionLoginAnswer refused;
    refused.error_code = 230001;
    option_sim_.set_account_login_answer(kOptionAccount + 1, refused);
    EXPECT_EQ(Login(kOptionAccount + 1), 0u);
    EXPECT_EQ(LastError(), 210003);
    EXPECT_EQ(option_sim_.login_requests().size(), 1u);
}

TEST_F(OptionEndToEndTest, SubscriptionAnsweredBy0x521) {
    api_->SubscribePublicTopic(0);
    const uint64_t session = Login(kOptionAccount);
    ASSERT_NE(session, 0u);
    ASSERT_EQ(option_sim_.sync_requests().size(), 1u);
    EXPECT_EQ(option_sim_.sync_requests()[0].session, session);
    ASSERT_EQ(option_sim_.subscribe_requests().size(), 1u);
    EXPECT_EQ(option_sim_.subscribe_requests()[0].session_no, 0x77000000001ull);
    // both resumption requests went to the gateway connection the login used
    EXPECT_EQ(option_sim_.subscribe_requests()[0].conn_id, option_sim_.login_requests()[0].conn_id);
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(OptionEndToEndTest, SpotAndOptionAccountsSideBySide) {
    oxa_sim::SpotLoginAnswer spot;
    spot.node_id = 2;
    spot.fund_index = 40;
    sim_.set_spot_login_answer(spot);
    const uint64_t spot_session = Login(9100);
    const uint64_t option_session = Login(kOptionAccount);
    ASSERT_EQ(spot_session, uint64_t{2} << 16 | 40) << LastError();
    ASSERT_EQ(option_session, uint64_t{6} << 16 | 12) << LastError();
    EXPECT_STREQ(api_->GetAccountByOXAID(spot_session << 40 | 1), "9100");
    EXPECT_STREQ(api_->GetAccountByOXAID(option_session << 40 | 1), "9001");
    EXPECT_EQ(api_->Logout(option_session), 0);
    EXPECT_EQ(api_->Logout(spot_session), 0);
}

}  // namespace
