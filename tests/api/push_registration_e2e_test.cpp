// Push registrations across reconnects, end to end on loopback through the public interface
// against the simulated gateway, with application threads ordering on several accounts: however
// the link is cut, the gateway reads no order of an account on a link before that account's
// registration on the same link, so every order it executes has a link for its events; a
// connection that serves accounts of two nodes registers both again.
#include "support/SpotFixture.h"

#include <map>
#include <set>
#include <sstream>

#include "gateway_sim/SimWire.h"
#include "support/SessionState.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr uint32_t kInsert = 0x111;
constexpr uint32_t kPushReg = oxa_sim::kMsgPushReg;

class LinkTest : public SpotFixture {
protected:
    LinkTest() : SpotFixture(9, 1, 20261214, 2) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    void SetUp() override {
        SpotFixture::SetUp();
        ResetSessionState();
    }

    // Accounts 7001, 7002, ... logged in on one connection, fund indexes 1, 2, ...
    std::vector<uint64_t> LoginAccounts(int n) {
        std::vector<uint64_t> sessions;
        for (int i = 0; i < n; ++i) {
            const std::string account = std::to_string(7001 + i);
            const uint64_t session = Login(account.c_str(), static_cast<uint32_t>(i + 1));
            EXPECT_NE(session, 0u) << account << ": " << api_->GetApiLastError()->error_id;
            sessions.push_back(session);
        }
        return sessions;
    }

    // One application thread per session, each placing an order about every millisecond.
    class Stream {
    public:
        Stream(TraderImpl* api, const std::vector<uint64_t>& sessions) {
            for (uint64_t session : sessions) {
                threads_.emplace_back([this, api, session] {
                    const OrderInsertInfo order = SpotOrder();
                    while (!stop_.load()) {
                        if (api->InsertOrder(&order, session) != 0) ++placed_;
                        std::this_thread::sleep_for(1ms);
                    }
                });
            }
        }
        ~Stream() { Stop(); }
        void Stop() {
            stop_.store(true);
            for (auto& t : threads_)
                if (t.joinable()) t.join();
        }
        size_t placed() const { return placed_.load(); }

    private:
        std::atomic<bool> stop_{false};
        std::atomic<size_t> placed_{0};
        std::vector<std::thread> threads_;
    };

    // The order frames the gateway read, by connection, and those it read on a link before the
    // account's registration there.
    struct Audit {
        size_t orders = 0;
        std::map<uint64_t, std::vector<uint64_t>> order_ids;  // by connection
        std::vector<std::string> unregistered;
        std::set<uint64_t> connections_with_orders;
    };
    Audit AuditFrames() const {
        Audit audit;
        std::map<uint64_t, std::set<uint64_t>> registered;  // connection -> accounts
        for (const auto& f : sim_.frames()) {
            const oxa_sim::WireReader r(f.body);
            if (f.msg_id == kPushReg) {
                registered[f.conn_id].insert(r.get_uint(oxa_sim::push_reg_req::kFundAccount).value_or(0));
            } else if (f.msg_id == kInsert) {
                const uint64_t account = r.get_uint(oxa_sim::spot_insert_req::kFundAccount).value_or(0);
                const uint64_t id = r.get_uint(oxa_sim::spot_insert_req::kOrderId).value_or(0);
                ++audit.orders;
                audit.order_ids[f.conn_id].push_back(id);
                audit.connections_with_orders.insert(f.conn_id);
                if (registered[f.conn_id].count(account) == 0) {
                    std::ostringstream s;
                    s << "order " << id << " of " << account << " on connection " << f.conn_id;
                    audit.unregistered.push_back(s.str());
                }
            }
        }
        return audit;
    }

    // Of these order ids, those that got no order event (yet).
    std::vector<uint64_t> WithoutEvents(const std::vector<uint64_t>& ids) {
        std::set<uint64_t> seen;
        {
            std::lock_guard<std::mutex> lk(spi_.mu);
            for (const auto& o : spi_.orders) seen.insert(V(o.info.order_oxa_id));
        }
        std::vector<uint64_t> missing;
        for (uint64_t id : ids)
            if (seen.count(id) == 0) missing.push_back(id);
        return missing;
    }

    // The stream stopped: one more order on the live link, read by the gateway, so it has read
    // everything before it; then every order read on that link must get its event.
    void ExpectEventsOnTheLastLink(uint64_t session) {
        const OrderInsertInfo order = SpotOrder();
        uint64_t marker = 0;
        ASSERT_TRUE(WaitUntil([&] { return (marker = api_->InsertOrder(&order, session)) != 0; }, 10000ms));
        ASSERT_TRUE(sim_.wait_until(
            [&](const std::vector<oxa_sim::ReceivedFrame>& frames) {
                for (const auto& f : frames)
                    if (f.msg_id == kInsert &&
                        oxa_sim::WireReader(f.body).get_uint(oxa_sim::spot_insert_req::kOrderId) == marker)
                        return true;
                return false;
            },
            10000ms));
        const Audit audit = AuditFrames();
        ASSERT_FALSE(audit.order_ids.empty());
        const std::vector<uint64_t>& last = audit.order_ids.rbegin()->second;
        std::vector<uint64_t> missing;
        WaitUntil([&] { return (missing = WithoutEvents(last)).empty(); }, 10000ms);
        EXPECT_TRUE(missing.empty()) << missing.size() << " of the " << last.size()
                                     << " orders the gateway read on the last link got no event";
    }

    // Cuts the link and waits for the client's next connection.
    void Cut() {
        const size_t accepted = sim_.accepted_count();
        ASSERT_GE(sim_.close_connections(), 1u);
        ASSERT_TRUE(sim_.wait_for_accepted(accepted + 1, 10000ms)) << "no reconnect";
    }

    SpotEventSpi spi_;
};

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size() && i < 5; ++i) out += "\n  " + lines[i];
    return out;
}

TEST_F(LinkTest, CutLinksUnderAnOrderStreamLoseNoOrdersEvents) {
    const std::vector<uint64_t> sessions = LoginAccounts(3);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() >= 1; }));
    Stream stream(api_, sessions);
    for (int cut = 0; cut < 4; ++cut) {
        std::this_thread::sleep_for(150ms);  // orders flow, the send ring holds some
        Cut();
    }
    std::this_thread::sleep_for(150ms);
    stream.Stop();
    EXPECT_GT(stream.placed(), 0u);

    ExpectEventsOnTheLastLink(sessions[0]);
    const Audit audit = AuditFrames();
    EXPECT_GE(audit.connections_with_orders.size(), 3u) << "orders flowed on the links in between";
    EXPECT_TRUE(audit.unregistered.empty()) << audit.unregistered.size() << " of " << audit.orders
                                            << " orders read before their account's registration on the link:"
                                            << Join(audit.unregistered);
}

// Links accepted and dropped 50 ms later, again and again: a link that is gone holds nothing
// back, and the one that stays registers every account before its first order.
TEST_F(LinkTest, AFlappingLinkUnderAnOrderStreamLosesNoOrdersEvents) {
    const std::vector<uint64_t> sessions = LoginAccounts(3);
    spot_->SetPushRegisterTimeout(10000ms);  // what a dead link's registration would wait
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() >= 1; }));
    Stream stream(api_, sessions);
    for (int flap = 0; flap < 12; ++flap) {
        const size_t accepted = sim_.accepted_count();
        ASSERT_GE(sim_.close_connections(), 1u);
        ASSERT_TRUE(sim_.wait_for_accepted(accepted + 1, 10000ms)) << "no reconnect";
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(200ms);
    stream.Stop();

    ExpectEventsOnTheLastLink(sessions[1]);
    const Audit audit = AuditFrames();
    EXPECT_TRUE(audit.unregistered.empty()) << audit.unregistered.size() << " of " << audit.orders
                                            << " orders read before their account's registration on the link:"
                                            << Join(audit.unregistered);
}

// Accounts of nodes 6 and 7 on one connection: a new link registers both, not only the node
// of the last login.
TEST_F(LinkTest, AConnectionServingTwoNodesRegistersBothAgain) {
    for (uint64_t account : {7101u, 7102u}) {
        oxa_sim::SpotLoginAnswer a;
        a.node_id = account == 7101u ? 6 : 7;
        a.fund_index = 1;
        a.trading_day = static_cast<int32_t>(trading_day_);
        sim_.set_account_spot_login_answer(account, a);
    }
    const uint64_t first = api_->Login("127.0.0.1", sim_.port(), "7101", "pw", 1, nullptr, nullptr);
    const uint64_t second = api_->Login("127.0.0.1", sim_.port(), "7102", "pw", 1, nullptr, nullptr);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    ASSERT_EQ(first >> 16, 6u);
    ASSERT_EQ(second >> 16, 7u);
    ASSERT_EQ(sim_.accepted_count(), 1u) << "one connection serves both";

    Cut();
    const auto conns = sim_.open_connections();
    ASSERT_EQ(conns.size(), 1u);
    const uint64_t link = conns[0]->id();
    EXPECT_TRUE(sim_.wait_until(
        [&](const std::vector<oxa_sim::ReceivedFrame>& frames) {
            std::set<uint64_t> registered;
            for (const auto& f : frames)
                if (f.conn_id == link && f.msg_id == kPushReg)
                    registered.insert(
                        oxa_sim::WireReader(f.body).get_uint(oxa_sim::push_reg_req::kFundAccount).value_or(0));
            return registered == std::set<uint64_t>{7101, 7102};
        },
        10000ms))
        << "both accounts registered on the new link";
    // the gateway records a frame before it handles it
    for (uint64_t account : {7101u, 7102u}) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                auto conn = sim_.push_connection(account);
                return conn && conn->id() == link;
            },
            10000ms))
            << account << " has its pushes on the new link";
    }
}

// Two gateways, one account on each: the registration that one link waits for, unanswered,
// holds back neither the other link's registration nor its events.
TEST_F(LinkTest, ARegistrationWaitingOnOneLinkHoldsNoOtherLinkBack) {
    GatewaySim other;
    other.enable_spot_orders(true);
    ASSERT_TRUE(other.start(0));
    oxa_sim::SpotLoginAnswer b;
    b.node_id = 3;
    b.fund_index = 1;
    b.trading_day = static_cast<int32_t>(trading_day_);
    other.set_spot_login_answer(b);
    ASSERT_NE(Login("7201", 1), 0u);
    const uint64_t session = LoginAt(other.port(), "7202");
    ASSERT_NE(session, 0u);
    spot_->SetPushRegisterTimeout(30000ms);

    // this gateway's link comes back and its registration goes unanswered
    sim_.set_reply(kPushReg, ReplyPlan::never());
    sim_.clear_frames();
    Cut();
    ASSERT_TRUE(sim_.wait_for_frame(kPushReg, 10000ms)) << "the new link registers its account";

    // the other gateway's link comes back meanwhile
    const size_t accepted = other.accepted_count();
    ASSERT_EQ(other.close_connections(), 1u);
    ASSERT_TRUE(other.wait_for_accepted(accepted + 1, 10000ms));
    const uint64_t link = other.open_connections().at(0)->id();
    EXPECT_TRUE(WaitUntil(
        [&] {
            auto conn = other.push_connection(7202);
            return conn && conn->id() == link;
        },
        10000ms))
        << "registered on its new link without waiting for the other link's answer";
    const OrderInsertInfo order = SpotOrder();
    uint64_t id = 0;
    ASSERT_TRUE(WaitUntil([&] { return (id = api_->InsertOrder(&order, session)) != 0; }, 10000ms));
    EXPECT_TRUE(WaitUntil([&] { return WithoutEvents({id}).empty(); }, 10000ms)) << "its events came";
}

}  // namespace
