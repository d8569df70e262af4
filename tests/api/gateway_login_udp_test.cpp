// Login in UDP socket mode (the socket type is fixed for the process, hence its own
// program): pushes are not registered over TCP and a lost connection is not reported.
#include "support/LoginFixture.h"

#include "api/BusAdaptor.h"
#include "api/ErrorMsg.h"
#include "support/BusLive.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

class UdpLoginTest : public GatewayLoginTest {
protected:
    UdpLoginTest() : GatewayLoginTest(2) {}
};

TEST_F(UdpLoginTest, UdpModeSendsNoRegistrationAndReportsNoLoss) {
    ASSERT_NE(Login("1001"), 0u);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_PUSH_REG), 0u);
    auto frame = sim_.wait_for_frame(OXA::API::FUNC_ID_LOGIN, 1000ms);
    ASSERT_TRUE(frame);
    EXPECT_EQ(Le16(frame->body, 520), 2u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));

    sim_.close_connections();
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 2; }, 5000ms));
    EXPECT_EQ(spi_.disconnected.load(), 0);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_PUSH_REG), 0u);
}

TEST_F(UdpLoginTest, UdpModeRefusesASecondGateway) {
    ASSERT_NE(Login("1001"), 0u);
    GatewaySim other;
    ASSERT_TRUE(other.start(0));
    EXPECT_EQ(api_->Login("127.0.0.1", other.port(), "1002", "x", 2), 0u);
    EXPECT_EQ(LastError(), 1010);
    EXPECT_EQ(other.accepted_count(), 0u);
    EXPECT_EQ(api_->Login("127.0.0.1", other.port(), "1002", "x", 1), 0u);
    EXPECT_EQ(LastError(), 1006);
}

TEST_F(UdpLoginTest, BusProtocolModeWithoutABusFails) {
    LoginAnswer a;
    a.protocol_mode = 2;
    sim_.set_login_answer(a);
    OXA::API::BusAdaptor* bus = api_->GetBusAdaptor();
    api_->SetBusAdaptor(nullptr);
    EXPECT_EQ(Login("1001"), 0u);
    api_->SetBusAdaptor(bus);
    EXPECT_EQ(backend_, nullptr);
    EXPECT_EQ(LastError(), 1011);
    EXPECT_STREQ(api_->GetApiLastError()->error_msg, OXA::API::GetErrorMsg(1011));
}

// The gateway names a bus whose coordinator does not answer: the launch fails, and so does
// the login, with 1013; nothing of the attempt is left running.
TEST_F(UdpLoginTest, BusThatCannotBeJoinedFailsTheLogin) {
    oxa_test::UseTestBusFolder();
    LoginAnswer a;
    a.protocol_mode = 2;
    a.hqtrs_ip = "127.0.0.1";
    a.hqtrs_port = 9;  // discard: nothing answers
    a.group_id = 20;
    a.member_id = 2;
    sim_.set_login_answer(a);
    EXPECT_EQ(Login("1001"), 0u);
    EXPECT_EQ(backend_, nullptr);
    EXPECT_EQ(LastError(), 1013);
    EXPECT_STREQ(api_->GetApiLastError()->error_msg, OXA::API::GetErrorMsg(1013));
    EXPECT_TRUE(oxa_test::ThreadNames("vorn_").empty());
}

}  // namespace
