// A spot account against the simulated gateway over loopback: the API object and the spot
// back-end with short waits, the sim's order server on, and a recorder of the event callbacks.
// Each test logs in under a fund index of its own, since speed limits outlive a session.
#pragma once

#include "support/LoginFixture.h"

#include <atomic>
#include <ostream>

#include "core/spot_api/SpotTraderImpl.h"

namespace oxa_test {

// Copies of every event callback's records, in arrival order.
class SpotEventSpi : public OXA::API::TraderSpi {
public:
    struct Order {
        OXAOrderInfo info;
        int error;
        uint64_t session;
    };
    struct Cancel {
        OXAOrderCancelInfo info;
        int error;
        std::string text;
        uint64_t session;
    };
    struct Transfer {
        OXAFundTransferNotice info;
        int error;
        uint64_t session;
    };
    struct Holding {
        OXAHoldingChangeInfo info;
        uint64_t session;
    };

    void OnConnected() override { ++connected; }
    void OnDisconnected(int) override { ++disconnected; }
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t session) override {
        std::lock_guard<std::mutex> lk(mu);
        orders.push_back({*o, e ? e->error_id : -1, session});
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t session) override {
        std::lock_guard<std::mutex> lk(mu);
        trades.push_back(*t);
        trade_sessions.push_back(session);
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t session) override {
        std::lock_guard<std::mutex> lk(mu);
        cancels.push_back({*c, e ? e->error_id : -1, e ? std::string(e->error_msg) : "", session});
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t session) override {
        std::lock_guard<std::mutex> lk(mu);
        transfers.push_back({*f, e ? e->error_id : -1, session});
    }
    void OnHoldingChangeEvent(OXAHoldingChangeInfo* h, uint64_t session) override {
        std::lock_guard<std::mutex> lk(mu);
        holdings.push_back({*h, session});
    }

    struct Counts {
        size_t orders, trades, cancels, transfers, holdings;
        bool operator==(const Counts& o) const {
            return orders == o.orders && trades == o.trades && cancels == o.cancels &&
                   transfers == o.transfers && holdings == o.holdings;
        }
    };
    Counts counts() {
        std::lock_guard<std::mutex> lk(mu);
        return {orders.size(), trades.size(), cancels.size(), transfers.size(), holdings.size()};
    }
    void clear() {
        std::lock_guard<std::mutex> lk(mu);
        orders.clear();
        trades.clear();
        trade_sessions.clear();
        cancels.clear();
        transfers.clear();
        holdings.clear();
    }

    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
    std::mutex mu;
    std::vector<Order> orders;
    std::vector<OXATradeReport> trades;
    std::vector<uint64_t> trade_sessions;
    std::vector<Cancel> cancels;
    std::vector<Transfer> transfers;
    std::vector<Holding> holdings;
};

inline std::ostream& operator<<(std::ostream& os, const SpotEventSpi::Counts& c) {
    return os << "{orders " << c.orders << ", trades " << c.trades << ", cancels " << c.cancels
              << ", transfers " << c.transfers << ", holdings " << c.holdings << "}";
}

// A buy of 200 600000 at 10.50 (price type 1, side 1 unless given), order_client_id 77.
inline OrderInsertInfo SpotOrder(int32_t price_type = 1, uint8_t side = 1) {
    OrderInsertInfo o{};
    o.order_client_id = 77;
    std::strncpy(o.ticker, "600000", sizeof o.ticker - 1);
    o.market = 2;
    o.price = 10.5;
    o.quantity = 200;
    o.price_type = price_type;
    o.side = side;
    o.business_type = 0;
    return o;
}

inline bool WaitCounts(SpotEventSpi& spi, SpotEventSpi::Counts want, std::chrono::milliseconds bound = 5000ms) {
    return WaitUntil([&] { return spi.counts() == want; }, bound);
}

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
    // A login to another gateway on loopback (the sim program, say), as that gateway answers it.
    uint64_t LoginAt(uint16_t port, const char* account) {
        return api_->Login("127.0.0.1", port, account, "pw", 1, nullptr, nullptr);
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
