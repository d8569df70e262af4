// The simulated gateway's bus side, from outside: raw gateway connections see the bus mode, the
// coordinator and a member per connection in their login answers, and a bus member of the
// client group (a live test member) reaches the sim's handlers over the bus, gets their
// answers back over it and, once its business login came that way, the account's pushes,
// numbered in the tag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway_sim/SimBus.h"
#include "gateway_sim/SimCli.h"
#include "gateway_sim/SimWire.h"
#include "support/BusLive.h"
#include "support/FakeCoordinator.h"
#include "tools/SimTestClient.h"

namespace {

using namespace sim_test;

class SimBusTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    oxa_sim::SimBusOptions o;
    o.clients = 3;
    o.log_dir = oxa_test::BusTestDir() + "/sim";
    ASSERT_TRUE(bus.start(o));
  }
  void TearDown() override { bus.stop(); }

  // The member the sim names in its login answer on a fresh connection.
  Bytes LoginAnswerOn(RawClient& c, std::uint64_t account) {
    EXPECT_TRUE(c.request(0xf0001, 0, login_request(account)));
    auto f = c.read_frame(kWait);
    EXPECT_TRUE(f);
    return f ? f->body : Bytes{};
  }

  oxa_sim::SimBus bus{sim};
};

TEST_F(SimBusTest, LoginAnswersNameTheBusAndAMemberPerConnection) {
  auto c1 = connect_client();
  auto c2 = connect_client();
  const Bytes a1 = LoginAnswerOn(*c1, 5001);
  const Bytes again = LoginAnswerOn(*c1, 5002);
  const Bytes a2 = LoginAnswerOn(*c2, 5003);
  ASSERT_EQ(a1.size(), 577u);
  EXPECT_EQ(le(a1, 8, 2), 2u) << "the bus protocol mode";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a1[14])), "127.0.0.1");
  EXPECT_EQ(le(a1, 30, 2), bus.coordinator_port());
  EXPECT_EQ(le(a1, 32, 2), 2u) << "the client group";
  EXPECT_EQ(le(again, 34, 2), le(a1, 34, 2)) << "one member per connection";
  EXPECT_NE(le(a2, 34, 2), le(a1, 34, 2)) << "another connection, another member";
  EXPECT_EQ(bus.member_of_connection(1), static_cast<std::int16_t>(le(a1, 34, 2)));
}

TEST_F(SimBusTest, RequestsOverTheBusAreAnsweredOverItAndPushesFollow) {
  oxa_test::LiveMember client(2, 3);
  oxa_test::LiveOptions o;
  ASSERT_TRUE(client.Launch(bus.coordinator(), o));
  // a spot login over the bus: the account at 8
  Bytes login(oxa_sim::spot_login_req::kLength, 0);
  put_le(login, 0, 77, 8);
  put_le(login, 8, 5101, 8);
  ASSERT_EQ(1, client.Send(0x10a, login, -1, -1, true, 12));
  ASSERT_TRUE(client.WaitCount(1, kWait));
  const auto answer = client.Deliveries().front();
  EXPECT_EQ(answer.msg_id, 0x10bu);
  EXPECT_EQ(answer.src_group, 1);
  EXPECT_EQ(le(answer.data, 8, 8), 5101u);
  EXPECT_EQ(sim.count(0x10a), 1u);
  EXPECT_EQ(bus.requests(), 1u);
  EXPECT_EQ(bus.source_of_account(5101), (std::pair<std::int16_t, std::int16_t>(2, 3)));

  // a push of the account goes to the member its login came from, numbered in the tag
  const auto p = sim.publish(5101, 0x121, Bytes(20, 7));
  EXPECT_TRUE(p.sent);
  ASSERT_TRUE(client.WaitCount(2, kWait));
  const auto push = client.Deliveries().back();
  EXPECT_EQ(push.msg_id, 0x121u);
  EXPECT_EQ(push.tag, p.seq);
  EXPECT_EQ(push.data, Bytes(20, 7));
  // an account that never logged in over the bus has nobody to push to
  EXPECT_FALSE(sim.publish(5999, 0x121, Bytes(20, 7)).sent);
}

TEST(SimBusCli, BusOptionsParse) {
  oxa_sim::SimOptions o;
  std::string err;
  const char* argv[] = {"oxa_gateway_sim", "--bus", "--bus-coordinator-port", "40123"};
  ASSERT_TRUE(oxa_sim::parse_options(4, argv, o, err)) << err;
  EXPECT_TRUE(o.bus);
  EXPECT_EQ(o.bus_coordinator_port, 40123);
  const char* bad[] = {"oxa_gateway_sim", "--bus-coordinator-port", "70000"};
  EXPECT_FALSE(oxa_sim::parse_options(3, bad, o, err));
}

}  // namespace
