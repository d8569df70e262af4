// A margin account against the simulated gateway over loopback: the API object with a margin
// back-end of short, injectable waits, the sim with its margin session installed, and the
// helpers the margin session tests share.
#pragma once

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoginFixture.h"

#include "core/margin_api/MarginTraderImpl.h"
#include "gateway_sim/SimMargin.h"

namespace margin_test {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::MarginTraderImpl;

// What the replayed and flowed records reach the application with.
class FlowSpi : public OXA::API::TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo*, uint64_t s) override { Add(o->order_oxa_id, s); }
    void OnTradeEvent(OXATradeReport* t, uint64_t s) override { Add(t->order_oxa_id, s); }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo*, uint64_t s) override { Add(f->order_oxa_id, s); }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo*, uint64_t s) override {
        Add(r->order_oxa_id, s);
    }
    void OnCreditRequest(OXACreditRequestInfo* r, OXAErrorInfo*, uint64_t s) override { Add(r->order_oxa_id, s); }

    std::vector<uint64_t> Ids() {
        std::lock_guard<std::mutex> lk(mu_);
        return ids_;
    }
    std::vector<uint64_t> Sessions() {
        std::lock_guard<std::mutex> lk(mu_);
        return sessions_;
    }

private:
    void Add(uint64_t id, uint64_t session) {
        std::lock_guard<std::mutex> lk(mu_);
        ids_.push_back(id);
        sessions_.push_back(session);
    }
    std::mutex mu_;
    std::vector<uint64_t> ids_;
    std::vector<uint64_t> sessions_;
};

class MarginFixture : public ::testing::Test {
protected:
    explicit MarginFixture(uint8_t client_id = 6) : client_id_(client_id) {}

    // Waits of the margin back-end; a test may change them before its logins.
    static MarginTraderImpl::Timeouts ShortTimeouts() {
        MarginTraderImpl::Timeouts t;
        t.login = 2000ms;
        t.sync = 2000ms;
        t.subscribe = 2000ms;
        return t;
    }

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
            if (type != 2) return nullptr;
            margin_ = new MarginTraderImpl();
            margin_->SetTimeouts(timeouts_);
            margin_->SetPushRegisterTimeout(2000ms);
            return margin_;
        });
        api_->RegisterSpi(&spi_);
        api_->SubscribePublicTopic(2);
        sim_.set_login_answer(MarginLoginAnswer());
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->RegisterSpi(nullptr);
        api_->SetInnerApiMaker(nullptr);
        api_->SubscribePublicTopic(2);
        sim_.stop();
    }

    static oxa_sim::LoginAnswer MarginLoginAnswer() {
        oxa_sim::LoginAnswer a;
        a.business_type = 2;
        return a;
    }

    // For the back-end the next login creates, and the one that exists.
    void SetMarginTimeouts(const MarginTraderImpl::Timeouts& t) {
        timeouts_ = t;
        if (margin_) margin_->SetTimeouts(t);
    }

    uint64_t Login(uint64_t account) {
        const std::string user = std::to_string(account);
        return api_->Login("127.0.0.1", sim_.port(), user.c_str(), "pw", 1, nullptr, nullptr);
    }
    int LastError() { return api_->GetApiLastError()->error_id; }
    std::vector<oxa_sim::ReceivedFrame> FramesOf(uint32_t id) {
        std::vector<oxa_sim::ReceivedFrame> out;
        for (auto& f : sim_.frames())
            if (f.msg_id == id) out.push_back(f);
        return out;
    }

    const uint8_t client_id_;
    TraderImpl* api_ = nullptr;
    MarginTraderImpl* margin_ = nullptr;
    MarginTraderImpl::Timeouts timeouts_ = ShortTimeouts();
    FlowSpi spi_;
    GatewaySim sim_;
    oxa_sim::SimMargin sim_margin_{sim_};
};

}  // namespace margin_test
