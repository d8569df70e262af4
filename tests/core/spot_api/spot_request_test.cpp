// Spot requests through the facade against the simulated gateway: the session gate, the
// speed limit, refusals that send nothing, and the operations spot does not offer.
#include "support/LoginFixture.h"

#include "core/spot_api/LogCapture.h"
#include "core/spot_api/SpotTraderImpl.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::SpotTraderImpl;
using oxa_sim::SpotLoginAnswer;

constexpr uint32_t kInsert = 0x111;
constexpr uint32_t kCancel = 0x112;
constexpr uint32_t kTransfer = 0x113;
constexpr uint32_t kQueryAsset = 0x1a5;

class SpotRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(5);
        api_->Release();
        TraderImpl::Timeouts t;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new SpotTraderImpl();
            return spot_;
        });
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        sim_.stop();
    }
    // Speed limits outlive a session, so every login here takes a session no other test used.
    uint64_t Login(SpotLoginAnswer a) {
        static uint32_t next_index = 300;
        if (!a.fund_index) a.fund_index = next_index++;
        sim_.set_spot_login_answer(a);
        return api_->Login("127.0.0.1", sim_.port(), "6001", "pw", 1, nullptr, nullptr);
    }
    static OrderInsertInfo Order(const char* ticker = "600000") {
        OrderInsertInfo o{};
        std::strncpy(o.ticker, ticker, sizeof o.ticker - 1);
        o.market = 2;
        o.price = 10.5;
        o.quantity = 100;
        o.price_type = 1;
        o.side = 1;
        o.business_type = 0;
        return o;
    }
    int LastError() { return api_->GetApiLastError()->error_id; }
    // Frames of msg_id seen once a query sent after them has arrived.
    size_t Sent(uint32_t msg_id, uint64_t session) {
        const size_t before = sim_.count(kQueryAsset);
        EXPECT_EQ(api_->QueryAsset(session, 1), 0);
        EXPECT_TRUE(sim_.wait_for_frame(kQueryAsset, 2000ms, before));
        return sim_.count(msg_id);
    }

    TraderImpl* api_ = nullptr;
    SpotTraderImpl* spot_ = nullptr;
    GatewaySim sim_;
};

TEST_F(SpotRequestTest, OrdersReturnTheirIdsAtOnceInIssueOrder) {
    SpotLoginAnswer a;
    a.order_no_index = 50;
    const uint64_t session = Login(a);
    ASSERT_NE(session, 0u);
    OrderInsertInfo o = Order();
    const uint64_t first = api_->InsertOrder(&o, session);
    const uint64_t second = api_->InsertOrder(&o, session);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(static_cast<uint32_t>(first), 50u);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(first >> 40, session);
    const uint64_t cancel = api_->CancelOrder(first, session);
    EXPECT_EQ(cancel, second + 1);
    FundTransferInfo f{};
    f.amount = 99.5;
    f.transfer_type = 1;
    EXPECT_EQ(api_->FundTransfer(&f, session), cancel + 1);
    EXPECT_EQ(Sent(kInsert, session), 2u);
    EXPECT_EQ(sim_.count(kCancel), 1u);
    EXPECT_EQ(sim_.count(kTransfer), 1u);
}

// An order with values the wire has no code for still goes out (byte 0): the gateway judges it.
// The log line of each unknown value names the operation and the new order's id.
TEST_F(SpotRequestTest, UnknownValuesGoOutAsByteZeroAndAreTracedToTheOrder) {
    const uint64_t session = Login(SpotLoginAnswer{});
    ASSERT_NE(session, 0u);
    OrderInsertInfo o = Order();
    o.side = 99;
    o.market = 77;
    o.price_type = 99;
    spot_test::LogCapture log;
    const uint64_t id = api_->InsertOrder(&o, session);
    ASSERT_NE(id, 0u);
    for (const char* field : {"MARKET_TYPE:77", "SIDE_TYPE:99", "Ord_Type:99"}) {
        EXPECT_EQ(log.Count(std::string("info|[trader_api/core/spot_api/SpotTraderApi #]Unknown ") + field +
                            " operation[InsertOrder] order_oxa_id[" + std::to_string(id) + "]"),
                  1u)
            << field;
    }
    auto f = sim_.wait_for_frame(kInsert, 2000ms);
    ASSERT_TRUE(f);
    ASSERT_EQ(f->body.size(), 65u);
    EXPECT_EQ(f->body[61], 0);  // market
    EXPECT_EQ(f->body[62], 0);  // side
    EXPECT_EQ(f->body[63], 0);  // price type
}

TEST_F(SpotRequestTest, SpeedLimitRefusesTheFourthRequestOfAWindow) {
    SpotLoginAnswer a;
    a.order_limit = 3;
    a.query_limit = 3;
    const uint64_t session = Login(a);
    ASSERT_NE(session, 0u);
    OrderInsertInfo o = Order();
    for (int i = 0; i < 3; ++i) ASSERT_NE(api_->InsertOrder(&o, session), 0u) << i;
    EXPECT_EQ(api_->InsertOrder(&o, session), 0u);
    EXPECT_EQ(LastError(), 211008);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(api_->QueryFund(session, i), 0) << i;
    EXPECT_EQ(api_->QueryFund(session, 9), -1);
    EXPECT_EQ(LastError(), 211008);
    ASSERT_TRUE(sim_.wait_until([](const std::vector<oxa_sim::ReceivedFrame>& fs) {
        size_t n = 0;
        for (auto& f : fs) n += f.msg_id == 0x115;
        return n == 3;
    }, 2000ms));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sim_.count(kInsert), 3u);
    EXPECT_EQ(sim_.count(0x115), 3u);
}

TEST_F(SpotRequestTest, LimitsThatMeanUnlimited) {
    const struct {
        int32_t order, query;
    } cases[] = {{0, 0}, {-5, -1}};
    int n = 0;
    for (const auto& c : cases) {
        SpotLoginAnswer a;
        a.order_limit = c.order;
        a.query_limit = c.query;
        a.fund_index = 100 + n;  // a session no other test limited (a limit of 0 keeps the old one)
        sim_.set_spot_login_answer(a);
        const uint64_t session = api_->Login("127.0.0.1", sim_.port(), std::to_string(7000 + n++).c_str(), "pw", 1);
        ASSERT_NE(session, 0u);
        OrderInsertInfo o = Order();
        for (int i = 0; i < 50; ++i) ASSERT_NE(api_->InsertOrder(&o, session), 0u) << c.order << " " << i;
        for (int i = 0; i < 50; ++i) ASSERT_EQ(api_->QueryAsset(session, i), 0) << c.query << " " << i;
    }
}

TEST_F(SpotRequestTest, RefusalsSendNothingAndRecordTheirCode) {
    const uint64_t session = Login(SpotLoginAnswer{});
    ASSERT_NE(session, 0u);
    OrderInsertInfo long_ticker = Order("123456789");
    EXPECT_EQ(api_->InsertOrder(&long_ticker, session), 0u);
    EXPECT_EQ(LastError(), 1009);
    EXPECT_EQ(api_->QueryPosition("123456789", session, 1, 2), -1);
    EXPECT_EQ(LastError(), 1009);

    // a node with a back-end but no record of the session
    const uint64_t unknown = session + 1;
    OrderInsertInfo o = Order();
    api_->SetLastError(0, "");
    EXPECT_EQ(api_->InsertOrder(&o, unknown), 0u);
    EXPECT_EQ(LastError(), 211004);
    api_->SetLastError(0, "");
    EXPECT_EQ(api_->QueryAsset(unknown, 1), -1);
    EXPECT_EQ(LastError(), 211004);

    // a missing record is a failure the caller can read, whatever the last error held
    api_->SetLastError(0, "");
    EXPECT_EQ(api_->InsertOrder(nullptr, session), 0u);
    EXPECT_EQ(LastError(), 1009);
    EXPECT_STREQ(api_->GetApiLastError()->error_msg, "输入参数格式校验错误");
    api_->SetLastError(0, "");
    EXPECT_EQ(api_->FundTransfer(nullptr, session), 0u);
    EXPECT_EQ(LastError(), 1009);
    EXPECT_EQ(Sent(kInsert, session), 0u);
    EXPECT_EQ(sim_.count(kTransfer), 0u);
    EXPECT_EQ(sim_.count(0x114), 0u);
}

TEST_F(SpotRequestTest, OperationsSpotDoesNotOffer) {
    const uint64_t session = Login(SpotLoginAnswer{});
    ASSERT_NE(session, 0u);
    const struct {
        const char* name;
        std::function<uint64_t()> call;
        uint64_t result;
    } cases[] = {
        {"QueryOptionAuctionInfo", [&] { return static_cast<uint64_t>(api_->QueryOptionAuctionInfo(nullptr, session, 1)); }, 6077},
        {"CreditCashRepay", [&] { return api_->CreditCashRepay(session, 1.0); }, 0},
        {"QueryCreditInfo1", [&] { return static_cast<uint64_t>(api_->QueryCreditInfo1(session, 1)); }, 6077},
        {"InsertOptionCombinedOrder", [&] { return api_->InsertOptionCombinedOrder(nullptr, session); }, 0},
        {"CreditRequest", [&] { return api_->CreditRequest(nullptr, session); }, 0},
        {"QueryCreditInfo14", [&] { return static_cast<uint64_t>(api_->QueryCreditInfo14(nullptr, session, 1)); }, 6077},
        // these two answer 0 on spot, with 6077 recorded
        {"Reserved4", [&] { return static_cast<uint64_t>(api_->Reserved4(1, 2, session)); }, 0},
        {"Reserved7", [&] { return static_cast<uint64_t>(api_->Reserved7(nullptr, session)); }, 0},
    };
    for (const auto& c : cases) {
        api_->SetLastError(0, "");
        EXPECT_EQ(c.call(), c.result) << c.name;
        EXPECT_EQ(LastError(), 6077) << c.name;
        EXPECT_STREQ(api_->GetApiLastError()->error_msg, "暂不支持该项业务") << c.name;
    }
}

}  // namespace
