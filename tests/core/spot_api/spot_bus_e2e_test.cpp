// A spot account with socket type 2 against the simulated gateway and its bus side, through
// the public interface: the gateway login answers the bus protocol mode and names a
// coordinator on a port above 32767, the bus is launched, the spot login, orders and cancels
// travel over the bus to the order server's member and their pushes come back over it on the
// bus deliver thread, while the synchronisation and the subscription stay on TCP. Release
// keeps the bus (no thread left behind, none added by the next login); an order that reaches
// no member fails like a failed TCP send, and the bus is used again once the server answers.
//
// The bus is launched once per process: one simulated gateway serves every test of the program.
#include "support/SpotFixture.h"

#include <pthread.h>

#include "gateway_sim/SimBus.h"
#include "infra/vorn/SendPath.h"
#include "infra/vorn/VornSystem.h"
#include "support/BusLive.h"
#include "support/BusSendFaults.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr int64_t kTradingDay = 20261214;
constexpr uint32_t kNode = 5;

struct BusGateway {
    GatewaySim sim;
    oxa_sim::SimBus bus{sim};
};
BusGateway* g_gateway = nullptr;

class BusGatewayEnv : public ::testing::Environment {
public:
    void SetUp() override {
        UseTestBusFolder();
        g_gateway = new BusGateway();
        g_gateway->sim.enable_spot_orders(true);
        oxa_sim::SpotOrderConfig orders = g_gateway->sim.spot_orders().config();
        orders.book_prices = oxa_sim::demo_book_prices();  // 600000 fills at 10.50, not below
        g_gateway->sim.spot_orders().set_config(orders);
        ASSERT_TRUE(g_gateway->sim.start(0));
        oxa_sim::SimBusOptions o;
        o.coordinator_min_port = 40000;  // a coordinator port above 32767
        o.window = 64;                   // small windows: a silent server fills one soon
        ASSERT_TRUE(g_gateway->bus.start(o));
    }
    // The API's bus stays until the process ends (it stops at exit); the gateway can go first.
    void TearDown() override {
        g_gateway->bus.stop();
        g_gateway->sim.stop();
    }
};
const ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new BusGatewayEnv());

// Records the name of the thread each order event arrived on.
class BusSpi : public SpotEventSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t session) override {
        char name[16] = {0};
        pthread_getname_np(pthread_self(), name, sizeof name);
        {
            std::lock_guard<std::mutex> lk(mu);
            threads.push_back(name);
        }
        SpotEventSpi::OnOrderEvent(o, e, session);
    }
    std::vector<std::string> threads;
};

// One callback object for the program: the bus delivers until the process ends, so a late
// push may still be on its way when a test ends; the object outlives the bus (which stops at
// exit, before static objects go).
BusSpi g_spi;

class SpotBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = TestApi(8);
        api_->Release();
        TraderImpl::Timeouts t;
        t.gateway_login = 5000ms;
        t.logout = 5000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new OXA::API::SpotTraderImpl();
            OXA::API::SpotTraderImpl::Timeouts st;
            st.login = 5000ms;
            st.sync = 5000ms;
            st.subscribe = 5000ms;
            spot_->SetTimeouts(st);
            return spot_;
        });
        // the gateway and its bus serve every test of the program: no send fault and no stored
        // push of an earlier test (a login would replay it) is left for this one
        bus().member().SendPath().SetHook(nullptr);
        sim().push_store().clear();
        spi_.clear();
        {
            std::lock_guard<std::mutex> lk(spi_.mu);
            spi_.threads.clear();
        }
        api_->RegisterSpi(&spi_);
        api_->SubscribePublicTopic(0);  // synchronisation and subscription, over TCP
        oxa_sim::SpotLoginAnswer a;
        a.node_id = static_cast<int32_t>(kNode);
        a.trading_day = static_cast<int32_t>(kTradingDay);
        sim().set_spot_login_answer(a);
    }
    void TearDown() override {
        bus().member().SendPath().SetHook(nullptr);
        api_->Release();
        api_->RegisterSpi(nullptr);
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
    }
    GatewaySim& sim() { return g_gateway->sim; }
    oxa_sim::SimBus& bus() { return g_gateway->bus; }
    uint64_t Login(const char* account) {
        return api_->Login("127.0.0.1", sim().port(), account, "pw", 2, nullptr, nullptr);
    }
    // The frames of msg_id the sim took from connection conn (0: the bus).
    std::size_t FramesFrom(uint32_t msg_id, uint64_t conn) {
        std::size_t n = 0;
        for (const auto& f : sim().frames())
            if (f.msg_id == msg_id && f.conn_id == conn) ++n;
        return n;
    }
    std::size_t Orders() { return spi_.counts().orders; }

    TraderImpl* api_ = nullptr;
    OXA::API::SpotTraderImpl* spot_ = nullptr;
    BusSpi& spi_ = g_spi;
};

TEST_F(SpotBusTest, OrdersTravelOverTheBusAndPushesComeBack) {
    EXPECT_GT(bus().coordinator_port(), 32767) << "the gateway names a coordinator port read as unsigned";
    sim().clear_frames();
    const uint64_t session = Login("7101");
    ASSERT_NE(session, 0u) << api_->GetApiLastError()->error_id;
    EXPECT_EQ(FramesFrom(0x10a, 0), 1u) << "the spot login came over the bus";
    EXPECT_GE(sim().count(0x20010), 1u) << "the synchronisation stays on TCP";
    EXPECT_EQ(sim().count(0x103), 1u) << "so does the subscription";
    EXPECT_EQ(sim().count(0xf0002), 0u) << "no push registration in bus mode";

    // a limit buy at the book price fills: accepted, trade, holding change, filled
    OrderInsertInfo buy = SpotOrder();
    const uint64_t id = api_->InsertOrder(&buy, session);
    ASSERT_NE(id, 0u) << api_->GetApiLastError()->error_id;
    ASSERT_TRUE(WaitCounts(spi_, {2, 1, 0, 0, 1})) << spi_.counts();
    EXPECT_EQ(FramesFrom(0x111, 0), 1u);
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        EXPECT_EQ(V(spi_.orders.back().info.order_oxa_id), id);
        EXPECT_EQ(V(spi_.orders.back().info.order_status), 1);
        EXPECT_EQ(V(spi_.trades.back().order_oxa_id), id);
        for (const std::string& t : spi_.threads) EXPECT_EQ(t, "vorn_deliver");
    }

    // one below the book stays working; its cancel goes over the bus too
    OrderInsertInfo low = SpotOrder();
    low.price = 10.0;
    const uint64_t working = api_->InsertOrder(&low, session);
    ASSERT_NE(working, 0u);
    ASSERT_TRUE(WaitCounts(spi_, {3, 1, 0, 0, 1})) << spi_.counts();
    ASSERT_NE(api_->CancelOrder(working, session), 0u) << api_->GetApiLastError()->error_id;
    ASSERT_TRUE(WaitCounts(spi_, {4, 1, 0, 0, 1})) << spi_.counts();
    EXPECT_EQ(FramesFrom(0x112, 0), 1u);
    {
        std::lock_guard<std::mutex> lk(spi_.mu);
        EXPECT_EQ(V(spi_.orders.back().info.order_oxa_id), working);
    }
    // the frames this test sent (the bus and its counters serve every test of the program)
    EXPECT_EQ(sim().count(0x111) + sim().count(0x112), FramesFrom(0x111, 0) + FramesFrom(0x112, 0))
        << "and nothing on TCP";
    EXPECT_EQ(api_->Logout(session), 0);
}

TEST_F(SpotBusTest, ReleaseKeepsTheBusAndTheNextLoginUsesIt) {
    const uint64_t first = Login("7201");
    ASSERT_NE(first, 0u) << api_->GetApiLastError()->error_id;
    const std::size_t threads = ThreadNames("vorn_").size();
    EXPECT_GE(threads, 3u) << "receiver, handler, deliver";
    api_->Release();
    EXPECT_EQ(ThreadNames("vorn_").size(), threads) << "the bus stays for the process";
    spi_.clear();

    const uint64_t again = Login("7201");
    ASSERT_NE(again, 0u) << api_->GetApiLastError()->error_id;
    EXPECT_EQ(ThreadNames("vorn_").size(), threads) << "no second bus";
    OrderInsertInfo buy = SpotOrder();
    ASSERT_NE(api_->InsertOrder(&buy, again), 0u);
    ASSERT_TRUE(WaitCounts(spi_, {2, 1, 0, 0, 1})) << spi_.counts();
}

// The order server's member stops answering: once the window to it is full, an order reaches
// nobody and InsertOrder fails with 1003, as a failed TCP send does. When it answers again, the
// timed re-probes bring both directions back: the pushes it held come, once each, and new
// orders go out and fill.
TEST_F(SpotBusTest, OrderThatReachesNoMemberFailsUntilTheServerAnswers) {
    const uint64_t session = Login("7301");
    ASSERT_NE(session, 0u) << api_->GetApiLastError()->error_id;
    auto mute = std::make_shared<BusSendFaults>();
    mute->SetRecord(false);
    BusSendRule all;
    all.verdict.action = OXA::VORN::SendVerdict::kDrop;
    all.times = -1;
    mute->Add(all);
    bus().member().SendPath().SetHook(mute);

    OrderInsertInfo low = SpotOrder();
    low.price = 10.0;  // stays working: one push per order
    const std::size_t orders_before = sim().spot_orders().order_count();  // the server's, of every test
    std::vector<uint64_t> taken;
    uint64_t id = 1;
    int sent = 0;
    for (; sent < 200 && id != 0; ++sent) {
        id = api_->InsertOrder(&low, session);
        if (id != 0) taken.push_back(id);
    }
    EXPECT_EQ(id, 0u) << "an order to a server that never acknowledges";
    EXPECT_EQ(taken.size(), 63u) << "63 fill the window of 64 slots";
    EXPECT_EQ(api_->GetApiLastError()->error_id, 1003);
    // the server takes them all meanwhile; its pushes go nowhere
    ASSERT_TRUE(WaitUntil([&] { return sim().spot_orders().order_count() >= orders_before + taken.size(); }, 5000ms));
    std::this_thread::sleep_for(50ms);
    bus().member().SendPath().SetHook(nullptr);

    // every order taken while it was silent gets its push, once
    auto events_of = [&](uint64_t order) {
        std::lock_guard<std::mutex> lk(spi_.mu);
        std::size_t n = 0;
        for (const auto& o : spi_.orders)
            if (V(o.info.order_oxa_id) == order) ++n;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return Orders() >= taken.size(); }, 10000ms)) << spi_.counts();
    for (uint64_t t : taken) EXPECT_EQ(events_of(t), 1u) << t;

    // and orders go out again and fill
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    uint64_t back = 0;
    while (back == 0 && std::chrono::steady_clock::now() < deadline) {
        OrderInsertInfo buy = SpotOrder();
        back = api_->InsertOrder(&buy, session);
        if (back == 0) std::this_thread::sleep_for(100ms);
    }
    ASSERT_NE(back, 0u) << "the server answered the re-probe";
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lk(spi_.mu);
            for (const OXATradeReport& t : spi_.trades)
                if (V(t.order_oxa_id) == back) return true;
            return false;
        },
        10000ms))
        << spi_.counts();
}

}  // namespace
