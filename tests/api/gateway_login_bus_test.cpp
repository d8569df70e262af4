// Login in bus mode against a recording bus: the launch takes the group, member and
// coordinator the gateway named (the port read as unsigned), the thread cores and the network
// device; a failed launch fails the login with 1013 and the next login tries again; what the
// bus delivers reaches the back-end of its business, on the node of the last login, routed
// by the low 16 bits of its id, on a thread marked as a callback thread. The socket type is
// fixed for the process, hence a program of its own.
#include "support/LoginFixture.h"

#include "api/CallbackThread.h"
#include "api/ErrorMsg.h"
#include "api/VornBusAdaptor.h"
#include "infra/vorn/VornTypes.h"
#include "support/FakeBus.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

class BusLoginTest : public GatewayLoginTest {
protected:
    BusLoginTest() : GatewayLoginTest(2) {}
    void SetUp() override {
        GatewayLoginTest::SetUp();
        api_->SetBusAdaptor(&bus_);
        LoginAnswer a;
        a.protocol_mode = 2;
        a.hqtrs_ip = "127.0.0.9";
        a.hqtrs_port = 40001;  // above 32767: stays itself
        a.group_id = 20;
        a.member_id = 0xFFFE;  // a signed 16-bit member id
        sim_.set_login_answer(a);
    }
    void TearDown() override {
        GatewayLoginTest::TearDown();
        api_->SetBusAdaptor(api_->GetVornBus());
        api_->SetCpuAffinity(-1, -1);
    }
    FakeBus bus_;
};

TEST_F(BusLoginTest, LaunchTakesWhatTheGatewayNamed) {
    api_->SetCpuAffinity(2, 5);
    const uint64_t session = Login("1001");
    ASSERT_NE(session, 0u);
    const std::vector<BusLaunch> launches = bus_.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].group, 20);
    EXPECT_EQ(launches[0].member, -2);
    EXPECT_EQ(launches[0].coordinator_ip, "127.0.0.9");
    EXPECT_EQ(launches[0].coordinator_port, 40001);
    EXPECT_EQ(launches[0].log_level, api_->GetOxaLogLevel());
    EXPECT_EQ(launches[0].path, "./");
    EXPECT_EQ(launches[0].run_mode, 0);
    EXPECT_EQ(bus_.EtherName(), "lo");
    EXPECT_EQ(bus_.ThreadCpus(), std::make_pair(2, 5));
    // deliveries of the business go to the node of its last login
    EXPECT_EQ(bus_.GetContext()->node_ids[0].load(), LoginBackend::kNode);
    EXPECT_EQ(bus_.GetContext()->owner, api_);

    // a second login launches nothing
    ASSERT_NE(Login("1002"), 0u);
    EXPECT_EQ(bus_.Launches().size(), 1u);
}

TEST_F(BusLoginTest, FailedLaunchFailsTheLoginAndTheNextTriesAgain) {
    bus_.SetLaunchResult(false);
    EXPECT_EQ(Login("1001"), 0u);
    EXPECT_EQ(LastError(), 1013);
    EXPECT_STREQ(api_->GetApiLastError()->error_msg, OXA::API::GetErrorMsg(1013));
    EXPECT_EQ(backend_, nullptr) << "no back-end login without the bus";
    bus_.SetLaunchResult(true);
    EXPECT_NE(Login("1001"), 0u);
    EXPECT_EQ(bus_.Launches().size(), 2u);
}

TEST_F(BusLoginTest, DeliveriesReachTheBackEndByTheLowSixteenBits) {
    ASSERT_NE(Login("1001"), 0u);
    ASSERT_NE(backend_, nullptr);
    std::atomic<int> marked{0};
    backend_->on_recv = [&](uint32_t) {
        if (OXA::API::OnCallbackThread()) ++marked;
    };
    OXA::VORN::VornMsgSource source;
    source.group_id = 1;
    source.member_id = 1;
    source.user_data = bus_.GetContext();
    const char body[4] = {1, 2, 3, 4};
    struct Case {
        uint32_t id;
        bool routed;
        uint32_t as;
    };
    const Case cases[] = {
        {0x0111, true, 0x0111},   // spot
        {0x20111, true, 0x0111},  // the bus carries 16 bits
        {0x8111, false, 0},       // reads as negative: unknown
        {0xFFFF, false, 0},
        {0x0502, false, 0},       // option: no option back-end here, dropped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const std::size_t before = backend_->Routes().size();
        OXA::API::VornBusAdaptor::OnVornRecv(9, c.id, body, sizeof body, 0, &source);
        const auto routes = backend_->Routes();
        ASSERT_EQ(routes.size(), before + (c.routed ? 1u : 0u));
        if (c.routed) {
            EXPECT_EQ(routes.back().msg_id, c.as);
            EXPECT_EQ(routes.back().node, LoginBackend::kNode);
            EXPECT_EQ(routes.back().length, 4);
        }
    }
    EXPECT_EQ(marked.load(), 2) << "the deliver thread counts as a callback thread";
    // a source without a context, or a context without owner, is dropped
    source.user_data = nullptr;
    OXA::API::VornBusAdaptor::OnVornRecv(9, 0x0111, body, sizeof body, 0, &source);
    OXA::API::VornBusAdaptor::OnVornRecv(9, 0x0111, body, sizeof body, 0, nullptr);
    EXPECT_EQ(backend_->Routes().size(), 2u);
}

}  // namespace
