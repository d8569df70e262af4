// Order ids end to end, for spot, margin and option accounts side by side on one simulated
// gateway: a login again while the account is ordering never hands an id out twice, even when
// the gateway answers every login with the same or a lower first number; a session whose 32-bit
// sequence is spent gets 1019 and never an id of the next client id; and a call that names an
// order of another account sends nothing and records 1018.
#include "support/LoginFixture.h"

#include <algorithm>
#include <functional>
#include <set>

#include "api/ErrorCodes.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/option_api/OptionTraderImpl.h"
#include "core/spot_api/SpotTraderImpl.h"
#include "gateway_sim/SimMargin.h"
#include "gateway_sim/SimOption.h"
#include "support/SessionState.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::kErrOrderIdSpent;
using OXA::API::kErrOrderOfOtherSession;

constexpr uint8_t kClientId = 1;

enum class Business { Spot, Margin, Option };

const char* NameOf(Business b) {
    switch (b) {
        case Business::Spot: return "spot";
        case Business::Margin: return "margin";
        case Business::Option: return "option";
    }
    return "?";
}

// What each business sends: its order request and where that carries the new id, the query
// QueryFund sends, and every request that takes an order id.
struct OrderWire {
    uint32_t insert_msg;
    std::size_t id_at;
    uint32_t fund_query_msg;
    std::set<uint32_t> order_path;
};

const OrderWire& WireOf(Business b) {
    static const OrderWire spot{0x111, 53, 0x115, {0x111, 0x112, 0x113}};
    static const OrderWire margin{0x226, 22, 0x248, {0x226, 0x227, 0x230, 0x232, 0x234, 0x31a}};
    static const OrderWire option{0x402, 16, 0x462, {0x402, 0x403, 0x404, 0x405, 0x406, 0x407, 0x45b}};
    return b == Business::Spot ? spot : b == Business::Margin ? margin : option;
}

class OrderIdsEndToEndTest : public ::testing::Test {
protected:
    // A back-end of the library with waits a test may sit out when something fails.
    template <typename Backend>
    static Backend* Made() {
        auto* backend = new Backend();
        typename Backend::Timeouts t;
        t.login = 5000ms;
        backend->SetTimeouts(t);
        backend->SetPushRegisterTimeout(5000ms);
        return backend;
    }

    void SetUp() override {
        api_ = oxa_test::TestApi(kClientId);
        api_->Release();
        oxa_test::ResetSessionState();
        api_->SetTimeouts(TestWaits(5000ms, 3000ms));
        api_->SetInnerApiMaker([](uint8_t type) -> CInnerApiInterface* {
            switch (type) {
                case 1: return Made<OXA::API::SpotTraderImpl>();
                case 2: return Made<OXA::API::MarginTraderImpl>();
                case 3: return Made<OXA::API::OptionTraderImpl>();
                default: return nullptr;
            }
        });
        api_->SubscribePublicTopic(2);
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SetInnerApiMaker(nullptr);
        sim_.stop();
    }

    // An account of the business with a session of its own: the business's node, the given
    // fund index. first is the login's order number as the business's answer carries it
    // (spot: the first id's; margin and option: the one before it).
    void Answer(Business b, uint64_t account, uint32_t fund_index, uint32_t first) {
        switch (b) {
            case Business::Spot: {
                oxa_sim::SpotLoginAnswer a;
                a.node_id = 11;
                a.fund_index = fund_index;
                a.order_no_index = static_cast<int32_t>(first);
                sim_.set_account_spot_login_answer(account, a);
                break;
            }
            case Business::Margin: {
                sim_margin_.add_account(account);
                oxa_sim::MarginInitAnswer a;
                a.node_id = 12;
                a.fund_index = fund_index;
                a.order_no_index = first;
                sim_margin_.set_account_init_answer(account, a);
                break;
            }
            case Business::Option: {
                sim_.set_account_business(account, 3);
                oxa_sim::OptionLoginAnswer a;
                a.node_id = 13;
                a.fund_index = fund_index;
                a.cur_order_id = first;
                option_sim_.set_account_login_answer(account, a);
                break;
            }
        }
    }
    uint64_t Login(uint64_t account) {
        return api_->Login("127.0.0.1", sim_.port(), std::to_string(account).c_str(), "pw", 1, nullptr, nullptr);
    }
    static uint64_t SessionOf(Business b, uint32_t fund_index) {
        const uint64_t node = b == Business::Spot ? 11 : b == Business::Margin ? 12 : 13;
        return node << 16 | fund_index;
    }
    // Under the library's error mutex: an io thread may be recording at the same moment.
    int LastError() {
        std::lock_guard<std::mutex> lock(OXA::API::_gErrorMutex);
        return api_->GetApiLastError()->error_id;
    }
    void ClearLastError() {
        std::lock_guard<std::mutex> lock(OXA::API::_gErrorMutex);
        api_->GetApiLastError()->error_id = 0;
    }
    uint64_t Insert(Business b, uint64_t session) {
        OrderInsertInfo o{};
        o.order_client_id = 7;
        o.quantity = 100;
        o.price_type = 1;
        o.side = 1;
        o.market = 1;
        if (b == Business::Option) {
            std::strcpy(o.ticker, "10004321");
            o.price = 0.1234;
            o.position_effect = 1;
            o.business_type = 10;
        } else {
            std::strcpy(o.ticker, "600000");
            o.price = 10.0;
        }
        return api_->InsertOrder(&o, session);
    }
    // The request frames the gateway read since the index `from`.
    std::vector<oxa_sim::ReceivedFrame> RequestsSince(std::size_t from) {
        const auto frames = sim_.frames();
        std::vector<oxa_sim::ReceivedFrame> out;
        for (std::size_t i = from; i < frames.size(); ++i)
            if (frames[i].content_type == oxa_sim::kRequest) out.push_back(frames[i]);
        return out;
    }
    // Sends a QueryFund of the session and waits until the gateway has read it, so every
    // request sent before it has been read too.
    void Fence(Business b, uint64_t session) {
        const uint32_t msg = WireOf(b).fund_query_msg;
        const std::size_t before = sim_.count(msg);
        ASSERT_EQ(api_->QueryFund(session, 1), 0) << LastError();
        ASSERT_TRUE(sim_.wait_for_frame(msg, 5000ms, before));
    }
    // The order ids in the order requests of the business that the gateway read.
    std::vector<uint64_t> IdsOnTheWire(Business b) {
        const OrderWire wire = WireOf(b);
        std::vector<uint64_t> ids;
        for (const auto& f : sim_.frames())
            if (f.msg_id == wire.insert_msg && f.body.size() >= wire.id_at + 8) ids.push_back(Le64(f.body, wire.id_at));
        return ids;
    }

    TraderImpl* api_ = nullptr;
    GatewaySim sim_;
    oxa_sim::SimMargin sim_margin_{sim_};
    oxa_sim::SimOption option_sim_{sim_};
};

// Threads order on the account while it logs in again and again, each login answered with the
// same or a lower first number than the one before: no id comes back twice, neither to the
// application nor at the gateway.
TEST_F(OrderIdsEndToEndTest, LoginsAgainUnderAnOrderStreamNeverRepeatAnId) {
    constexpr int kThreads = 3;
    constexpr int kPerStage = 40;  // orders of a stage
    constexpr uint32_t kFirst = 100;
    const uint32_t again[] = {kFirst, kFirst, kFirst / 2, 1};
    const Business businesses[] = {Business::Spot, Business::Margin, Business::Option};
    for (Business b : businesses) {
        SCOPED_TRACE(NameOf(b));
        const uint64_t account = 5100 + static_cast<uint64_t>(b);
        const uint32_t fund_index = 40 + static_cast<uint32_t>(b);
        Answer(b, account, fund_index, kFirst);
        const uint64_t session = Login(account);
        ASSERT_EQ(session, SessionOf(b, fund_index)) << LastError();

        // The threads order until `budget` orders are taken; each login is sent with a stage
        // of orders still to go, and another stage follows its answer.
        std::atomic<bool> stop{false};
        std::atomic<int> budget{kPerStage};
        std::atomic<int> taken{0};
        std::atomic<int> refused{0};
        std::atomic<int> refusal{0};  // the last refused order's code
        std::vector<std::vector<uint64_t>> ids(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                while (!stop.load()) {
                    if (taken.load() < budget.load()) {
                        const uint64_t id = Insert(b, session);
                        if (id != 0) {
                            ids[t].push_back(id);
                            taken.fetch_add(1);
                        } else {
                            refused.fetch_add(1);
                            refusal.store(LastError());
                        }
                    }
                    std::this_thread::sleep_for(200us);
                }
            });
        }
        auto stage_done = [&](const char* when) {
            return testing::AssertionResult(WaitUntil([&] { return taken.load() >= budget.load(); }, 20000ms))
                   << when << ": " << taken.load() << " of " << budget.load() << " taken, " << refused.load()
                   << " refused, the last with " << refusal.load();
        };
        EXPECT_TRUE(stage_done("first login"));
        int logins = 0;
        for (uint32_t first : again) {
            Answer(b, account, fund_index, first);
            budget.fetch_add(kPerStage);
            EXPECT_EQ(Login(account), session) << "login " << logins << ": " << LastError();
            ++logins;
            budget.fetch_add(kPerStage);
            EXPECT_TRUE(stage_done("after a login")) << logins;
        }
        stop.store(true);
        for (auto& th : threads) th.join();

        std::vector<uint64_t> all;
        for (const auto& list : ids) {
            EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
            all.insert(all.end(), list.begin(), list.end());
        }
        std::set<uint64_t> unique(all.begin(), all.end());
        EXPECT_EQ(unique.size(), all.size()) << "ids handed out twice";
        for (uint64_t id : all) ASSERT_EQ(id >> 32, session << 8 | kClientId) << std::hex << id;

        ASSERT_TRUE(WaitUntil([&] { return IdsOnTheWire(b).size() >= all.size(); }, 10000ms));
        const std::vector<uint64_t> wire = IdsOnTheWire(b);
        EXPECT_EQ(std::set<uint64_t>(wire.begin(), wire.end()).size(), wire.size()) << "the gateway read an id twice";
        EXPECT_EQ(std::set<uint64_t>(wire.begin(), wire.end()), unique);
    }
}

// A login answered at the top of the sequence: the ids left come out with the factory's client
// id, then every request that takes an id fails with 1019 and sends nothing, also after a login
// that answers a low number.
TEST_F(OrderIdsEndToEndTest, SpentSequenceRefusesWithoutTouchingTheClientId) {
    const struct {
        Business business;
        uint32_t first;  // as the login answer carries it
        uint32_t left;   // ids the session still gets
    } cases[] = {
        {Business::Margin, 0xFFFFFFFF, 0},
        {Business::Margin, 0xFFFFFFFE, 1},
        {Business::Option, 0xFFFFFFFD, 2},
    };
    uint32_t fund_index = 60;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << NameOf(c.business) << " " << std::hex << c.first);
        const uint64_t account = 5200 + fund_index;
        Answer(c.business, account, fund_index, c.first);
        const uint64_t session = Login(account);
        ASSERT_EQ(session, SessionOf(c.business, fund_index)) << LastError();
        ++fund_index;
        const std::size_t mark = sim_.frames().size();

        for (uint32_t i = 1; i <= c.left; ++i) {
            const uint64_t id = Insert(c.business, session);
            EXPECT_EQ(id, session << 40 | uint64_t{kClientId} << 32 | (uint64_t{c.first} + i)) << std::hex << id;
        }
        const std::function<uint64_t()> takers[] = {
            [&] { return Insert(c.business, session); },
            [&] { return api_->CancelOrder(session << 40 | uint64_t{kClientId} << 32 | 1, session); },
            [&] {
                FundTransferInfo f{};
                f.amount = 1;
                f.transfer_type = 1;
                return api_->FundTransfer(&f, session);
            },
            [&] { return Insert(c.business, session); },
        };
        for (const auto& take : takers) {
            ClearLastError();
            EXPECT_EQ(take(), 0u);
            EXPECT_EQ(LastError(), kErrOrderIdSpent);
        }
        Answer(c.business, account, fund_index - 1, 5);
        ASSERT_EQ(Login(account), session) << LastError();
        ClearLastError();
        EXPECT_EQ(Insert(c.business, session), 0u) << "a login does not bring a spent sequence back";
        EXPECT_EQ(LastError(), kErrOrderIdSpent);

        // only the ids left went out
        Fence(c.business, session);
        const OrderWire& wire = WireOf(c.business);
        std::size_t orders = 0, order_path = 0;
        for (const auto& f : RequestsSince(mark)) {
            orders += f.msg_id == wire.insert_msg;
            order_path += wire.order_path.count(f.msg_id);
        }
        EXPECT_EQ(orders, c.left);
        EXPECT_EQ(order_path, c.left);
    }
}

// Every call that names an existing order (or transfer) of account A under the session of
// account B is refused: nothing reaches the gateway, no id of B is taken, and the error record
// holds 1018. The same calls on A's own session go out.
TEST_F(OrderIdsEndToEndTest, CallsNamingAnotherAccountsOrderAreRefused) {
    using Call = std::function<int64_t(uint64_t order, uint64_t serial, uint64_t session)>;
    struct Named {
        const char* what;
        Call call;
        int64_t refused;  // the operation's own result for a refusal
    };
    TraderImpl*& api = api_;
    const Named cancel{"CancelOrder", [&](uint64_t o, uint64_t, uint64_t s) {
                           return static_cast<int64_t>(api->CancelOrder(o, s));
                       },
                       0};
    auto by_order = [&](int (TraderImpl::*op)(uint64_t, uint64_t, int)) {
        return [&api, op](uint64_t o, uint64_t, uint64_t s) { return static_cast<int64_t>((api->*op)(o, s, 9)); };
    };
    const Call transfer_query = [&](uint64_t, uint64_t serial, uint64_t s) {
        FundTransferQueryParam q{};
        q.serial_id = serial;
        return static_cast<int64_t>(api->QueryFundTransfer(&q, s, 9));
    };
    const struct {
        Business business;
        std::vector<Named> calls;
    } cases[] = {
        {Business::Spot,
         {cancel,
          {"QueryOrderByOXAID", by_order(&TraderImpl::QueryOrderByOXAID), -1},
          {"QueryTradesByOXAID", by_order(&TraderImpl::QueryTradesByOXAID), -1},
          {"QueryFundTransfer", transfer_query, -1}}},
        {Business::Margin,
         {cancel,
          {"QueryOrderByOXAID", by_order(&TraderImpl::QueryOrderByOXAID), kErrOrderOfOtherSession},
          {"QueryTradesByOXAID", by_order(&TraderImpl::QueryTradesByOXAID), kErrOrderOfOtherSession},
          {"QueryFundTransfer", transfer_query, kErrOrderOfOtherSession}}},
        {Business::Option,
         {cancel,
          {"QueryOrderByOXAID", by_order(&TraderImpl::QueryOrderByOXAID), -1},
          {"QueryTradesByOXAID", by_order(&TraderImpl::QueryTradesByOXAID), -1},
          {"QueryOptionCombinedOrderByOXAID", by_order(&TraderImpl::QueryOptionCombinedOrderByOXAID), -1},
          {"QueryOptionCombinedTradesByOXAID", by_order(&TraderImpl::QueryOptionCombinedTradesByOXAID), -1},
          {"QueryFundTransfer", transfer_query, -1}}},
    };
    uint32_t fund_index = 80;
    for (const auto& c : cases) {
        SCOPED_TRACE(NameOf(c.business));
        const uint64_t account_a = 5300 + fund_index;
        Answer(c.business, account_a, fund_index, 10);
        const uint64_t session_a = Login(account_a);
        ASSERT_EQ(session_a, SessionOf(c.business, fund_index)) << LastError();
        // B's numbers run level with A's, so only the session bits tell their ids apart
        Answer(c.business, account_a + 1, fund_index + 1, 10);
        const uint64_t session_b = Login(account_a + 1);
        ASSERT_EQ(session_b, SessionOf(c.business, fund_index + 1)) << LastError();
        fund_index += 2;

        const uint64_t order_a = Insert(c.business, session_a);
        ASSERT_NE(order_a, 0u) << LastError();
        FundTransferInfo f{};
        f.amount = 1;
        f.transfer_type = 1;
        const uint64_t serial_a = api_->FundTransfer(&f, session_a);
        ASSERT_NE(serial_a, 0u) << LastError();
        const uint64_t order_b = Insert(c.business, session_b);
        ASSERT_EQ(static_cast<uint32_t>(order_b), static_cast<uint32_t>(order_a)) << "the same sequence";
        ASSERT_TRUE(WaitUntil([&] { return IdsOnTheWire(c.business).size() >= 2; }));
        const std::size_t mark = sim_.frames().size();

        for (const auto& named : c.calls) {
            SCOPED_TRACE(named.what);
            ClearLastError();
            EXPECT_EQ(named.call(order_a, serial_a, session_b), named.refused);
            EXPECT_EQ(LastError(), kErrOrderOfOtherSession);
        }
        // nothing went out, and B's next order takes the id after its last one
        Fence(c.business, session_b);
        const auto sent = RequestsSince(mark);
        ASSERT_EQ(sent.size(), 1u) << std::hex << sent.front().msg_id;
        EXPECT_EQ(Insert(c.business, session_b), order_b + 1);

        // on A's own session the same calls go out
        const std::size_t own_mark = sim_.frames().size();
        for (const auto& named : c.calls) {
            SCOPED_TRACE(named.what);
            const int64_t result = named.call(order_a, serial_a, session_a);
            EXPECT_NE(result, named.refused);
            if (named.refused != 0) {
                EXPECT_EQ(result, 0);
            }
        }
        EXPECT_TRUE(WaitUntil([&] { return RequestsSince(own_mark).size() >= c.calls.size(); }))
            << RequestsSince(own_mark).size();
    }
}

}  // namespace
