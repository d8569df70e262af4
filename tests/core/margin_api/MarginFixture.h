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
#include "support/Orders.h"
#include "support/SessionState.h"

#include "core/margin_api/MarginTraderImpl.h"
#include "gateway_sim/SimMargin.h"

namespace margin_test {

using namespace oxa_test;
using namespace std::chrono_literals;
using OXA::API::MarginTraderImpl;

// What the pushes, the replayed and flowed records and the query answers reach the application
// with, one event per callback, in order.
class FlowSpi : public OXA::API::TraderSpi {
public:
    struct Event {
        std::string kind;   // "order", "trade", "cancel", "transfer", "repay", "repay_debt", "credit"
        uint64_t id = 0;    // the record's order id (the cancel's: the cancel order's id)
        uint64_t other = 0; // the cancel's order id; the order's cancel id
        int32_t status = -1;  // the order's status
        int32_t error = 0;
        std::string text;
        double value = 0;   // a trade's quantity, a repayment's amount; a query's value or reference
        uint64_t session = 0;
        // query answers: id is the request id, other the index, status is_last (1) or not (0)
        bool has_record = false;
        std::string ticker;
    };

    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t s) override {
        Event ev = Of("order", o->order_oxa_id, e, s);
        ev.other = o->order_cancel_oxa_id;
        ev.status = o->order_status;
        Add(ev);
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t s) override {
        Event ev = Of("trade", t->order_oxa_id, nullptr, s);
        ev.value = static_cast<double>(t->quantity);
        Add(ev);
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t s) override {
        Event ev = Of("cancel", c->order_cancel_oxa_id, e, s);
        ev.other = c->order_oxa_id;
        Add(ev);
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t s) override {
        Event ev = Of("transfer", f->order_oxa_id, e, s);
        ev.value = f->amount;
        Add(ev);
    }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Event ev = Of("repay", r->order_oxa_id, e, s);
        std::memcpy(&ev.value, r->field_8, sizeof ev.value);
        Add(ev);
    }
    void OnCreditCashRepaySpecifiedDebt(OXACreditCashRepaySpecifiedDebtInfo* r, OXAErrorInfo* e,
                                        uint64_t s) override {
        Add(Of("repay_debt", r->order_oxa_id, e, s));
    }
    void OnCreditRequest(OXACreditRequestInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Add(Of("credit", r->order_oxa_id, e, s));
    }

    // Query answers.
    void OnQueryOrder(OXAOrderInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Event ev = Answer("query_order", r != nullptr, e, id, last, s);
        if (r) ev.other = r->order_oxa_id;
        Add(ev);
    }
    void OnQueryAsset(OXAAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Event ev = Answer("query_asset", r != nullptr, e, id, last, s);
        if (r) ev.value = r->total_asset;
        Add(ev);
    }
    void OnQueryCreditInfo2(OXACreditInfo2* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Event ev = Answer("credit2", r != nullptr, e, id, false, s);
        if (r) ev.value = static_cast<double>(r->field_0);
        Add(ev);
    }
    void OnQueryCreditInfo6(double v, OXAErrorInfo* e, int id, uint64_t s) override {
        Event ev = Answer("credit6", false, e, id, false, s);
        ev.value = v;
        Add(ev);
    }
    void OnQueryPositionByPage(OXAPositionInfo* r, int64_t, int64_t index, int64_t reference, int id, bool last,
                               uint64_t s) override {
        Event ev = Answer("position_page", r != nullptr, nullptr, id, last, s);
        ev.other = static_cast<uint64_t>(index);
        ev.value = static_cast<double>(reference);
        if (r) ev.ticker = r->ticker;
        Add(ev);
    }
    void OnQueryCreditTargetStkByPage(OXACreditTargetStkInfo* r, int64_t, int64_t index, int64_t reference, int id,
                                      bool last, uint64_t s) override {
        Event ev = Answer("target", r != nullptr, nullptr, id, last, s);
        ev.other = static_cast<uint64_t>(index);
        ev.value = static_cast<double>(reference);
        if (r) ev.ticker = r->ticker;
        Add(ev);
    }
    void OnQueryIPOInfoList(OXAIPOInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Event ev = Answer("ipo", r != nullptr, e, id, last, s);
        if (r) ev.ticker = r->ticker;
        Add(ev);
    }
    void OnQueryOtherServerFund(OXAOtherServerFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Event ev = Answer("other_fund", r != nullptr, e, id, false, s);
        if (r) ev.value = r->amount;
        Add(ev);
    }
    void OnQuerySecurityInfo(OXASecurityInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Event ev = Answer("security", r != nullptr, e, id, last, s);
        if (r) ev.ticker = r->ticker;
        Add(ev);
    }

    std::vector<uint64_t> Ids() {
        std::lock_guard<std::mutex> lk(mu_);
        std::vector<uint64_t> out;
        for (const auto& e : events_) out.push_back(e.id);
        return out;
    }
    std::vector<uint64_t> Sessions() {
        std::lock_guard<std::mutex> lk(mu_);
        std::vector<uint64_t> out;
        for (const auto& e : events_) out.push_back(e.session);
        return out;
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lk(mu_);
        return events_;
    }
    // The events of one kind for one id.
    std::vector<Event> Of(const std::string& kind, uint64_t id) {
        std::vector<Event> out;
        for (const auto& e : Events())
            if (e.kind == kind && e.id == id) out.push_back(e);
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lk(mu_);
        events_.clear();
    }

protected:
    static Event Of(const char* kind, uint64_t id, const OXAErrorInfo* e, uint64_t s) {
        Event ev;
        ev.kind = kind;
        ev.id = id;
        if (e) {
            ev.error = e->error_id;
            ev.text = e->error_msg;
        }
        ev.session = s;
        return ev;
    }
    static Event Answer(const char* kind, bool has_record, const OXAErrorInfo* e, int id, bool last, uint64_t s) {
        Event ev = Of(kind, static_cast<uint64_t>(id), e, s);
        ev.has_record = has_record;
        ev.status = last ? 1 : 0;
        return ev;
    }
    void Add(const Event& ev) {
        std::lock_guard<std::mutex> lk(mu_);
        events_.push_back(ev);
    }

private:
    std::mutex mu_;
    std::vector<Event> events_;
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
        // the sim numbers its sessions anew for each test: no limit or session of an earlier one stays
        oxa_test::ResetSessionState();
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
    // A buy of 100 shares of 600000: the margin order server fills it at 10.80 or more and keeps
    // it working below.
    uint64_t Buy(uint64_t session, double price) {
        const OrderInsertInfo order = oxa_test::LimitOrder("600000", 1, price, 100);
        return api_->InsertOrder(&order, session);
    }
    // The answers of one request, once one of them says it is the last (or n have come).
    std::vector<FlowSpi::Event> Answers(const std::string& kind, int request_id, std::size_t n = 0) {
        auto done = [&] {
            const auto got = spi_.Of(kind, static_cast<uint64_t>(request_id));
            if (n) return got.size() >= n;
            for (const auto& e : got)
                if (e.status == 1) return true;
            return false;
        };
        WaitUntil(done, 5000ms);
        return spi_.Of(kind, static_cast<uint64_t>(request_id));
    }
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
