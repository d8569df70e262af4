// Shared by the option driver tests: bodies written at the test's own offsets, a callback object
// that keeps a copy of everything it is given, and a back-end whose sends go to a hook.
#pragma once

#include <gtest/gtest.h>

#include <oxa_api/TraderSpi.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "api/ApiGlobals.h"
#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTraderImpl.h"
#include "support/SessionState.h"

namespace opt_test {

using Bytes = std::vector<uint8_t>;
using OXA::API::OptionTraderImpl;

// A body of n bytes filled with filler, written field by field.
struct Body {
    Bytes b;
    explicit Body(std::size_t n, uint8_t filler = 0) : b(n, filler) {}
    template <typename T>
    Body& put(std::size_t off, T v) {
        std::memcpy(b.data() + off, &v, sizeof v);
        return *this;
    }
    Body& ch(std::size_t off, char c) {
        b[off] = static_cast<uint8_t>(c);
        return *this;
    }
    // text bytes as they are, no terminator added
    Body& text(std::size_t off, const std::string& s) {
        std::memcpy(b.data() + off, s.data(), s.size());
        return *this;
    }
    std::size_t size() const { return b.size(); }
};

inline uint64_t Le(const Bytes& b, std::size_t off, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= uint64_t{b.at(off + i)} << (8 * i);
    return v;
}

// A field of a packed record, read by value (a reference to it may be misaligned).
template <typename T>
T V(T v) {
    return v;
}

// Everything the option callbacks hand over, copied.
struct Call {
    std::string op;
    uint64_t session = 0;
    int request_id = 0;
    bool last = false;
    bool null_record = false;
    int32_t error_id = 0;
    std::string error_msg;
    int64_t req_count = 0, index = 0, reference = 0;
};

class RecordingSpi : public OXA::API::TraderSpi {
public:
    std::vector<Call> calls;
    std::vector<OXAOrderInfo> orders;
    std::vector<OXATradeReport> trades;
    std::vector<OXAOrderCancelInfo> cancels;
    std::vector<OXAOrderExecuteInfo> executes;
    std::vector<OXAOptCombOrderInfo> comb_orders;
    std::vector<OXAOptCombTradeReport> comb_trades;
    std::vector<OXAFundTransferNotice> transfers;
    std::vector<OXAPositionInfo> positions;
    std::vector<OXAAssetInfo> assets;
    std::vector<OXAFundInfo> funds;
    std::vector<OXAOptionAuctionInfo> auctions;
    std::vector<OXAOptCombPositionInfo> comb_positions;
    std::vector<OXAOptCombStrategyInfo> strategies;
    std::vector<OXAOptCombExecPositionInfo> exec_positions;
    std::function<void(const Call&)> on_call;

    void OnOrderEvent(OXAOrderInfo* r, OXAErrorInfo* e, uint64_t s) override { Event("OnOrderEvent", r, orders, e, s); }
    void OnTradeEvent(OXATradeReport* r, uint64_t s) override { Event("OnTradeEvent", r, trades, nullptr, s); }
    void OnCancelOrderEvent(OXAOrderCancelInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Event("OnCancelOrderEvent", r, cancels, e, s);
    }
    void OnOrderExecute(OXAOrderExecuteInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Event("OnOrderExecute", r, executes, e, s);
    }
    void OnOptionCombinedOrderEvent(OXAOptCombOrderInfo* r, OXAErrorInfo* e, uint64_t s) override {
        Event("OnOptionCombinedOrderEvent", r, comb_orders, e, s);
    }
    void OnOptionCombinedTradeEvent(OXAOptCombTradeReport* r, uint64_t s) override {
        Event("OnOptionCombinedTradeEvent", r, comb_trades, nullptr, s);
    }
    void OnFundTransfer(OXAFundTransferNotice* r, OXAErrorInfo* e, uint64_t s) override {
        Event("OnFundTransfer", r, transfers, e, s);
    }

    void OnQueryOrder(OXAOrderInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryOrder", r, orders, e, id, last, s);
    }
    void OnQueryTrade(OXATradeReport* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryTrade", r, trades, e, id, last, s);
    }
    void OnQueryPosition(OXAPositionInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryPosition", r, positions, e, id, last, s);
    }
    void OnQueryAsset(OXAAssetInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryAsset", r, assets, e, id, last, s);
    }
    void OnQueryFund(OXAFundInfo* r, OXAErrorInfo* e, int id, uint64_t s) override {
        Answer("OnQueryFund", r, funds, e, id, false, s);
    }
    void OnQueryFundTransfer(OXAFundTransferNotice* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryFundTransfer", r, transfers, e, id, last, s);
    }
    void OnQueryOptionAuctionInfo(OXAOptionAuctionInfo* r, OXAErrorInfo* e, int id, bool last, uint64_t s) override {
        Answer("OnQueryOptionAuctionInfo", r, auctions, e, id, last, s);
    }
    void OnQueryOptionCombinedOrders(OXAOptCombOrderInfo* r, OXAErrorInfo* e, int id, bool last,
                                     uint64_t s) override {
        Answer("OnQueryOptionCombinedOrders", r, comb_orders, e, id, last, s);
    }
    void OnQueryOptionCombinedTrades(OXAOptCombTradeReport* r, OXAErrorInfo* e, int id, bool last,
                                     uint64_t s) override {
        Answer("OnQueryOptionCombinedTrades", r, comb_trades, e, id, last, s);
    }
    void OnQueryOptionCombinedPosition(OXAOptCombPositionInfo* r, OXAErrorInfo* e, int id, bool last,
                                       uint64_t s) override {
        Answer("OnQueryOptionCombinedPosition", r, comb_positions, e, id, last, s);
    }
    void OnQueryOptionCombinedStrategyInfo(OXAOptCombStrategyInfo* r, OXAErrorInfo* e, int id, bool last,
                                           uint64_t s) override {
        Answer("OnQueryOptionCombinedStrategyInfo", r, strategies, e, id, last, s);
    }
    void OnQueryOptionCombinedExecPosition(OXAOptCombExecPositionInfo* r, OXAErrorInfo* e, int id, bool last,
                                           uint64_t s) override {
        Answer("OnQueryOptionCombinedExecPosition", r, exec_positions, e, id, last, s);
    }
    void OnQueryOrderByPage(OXAOrderInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                            uint64_t s) override {
        Paged("OnQueryOrderByPage", r, orders, rc, idx, ref, id, last, s);
    }
    void OnQueryTradeByPage(OXATradeReport* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                            uint64_t s) override {
        Paged("OnQueryTradeByPage", r, trades, rc, idx, ref, id, last, s);
    }
    void OnQueryPositionByPage(OXAPositionInfo* r, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
                               uint64_t s) override {
        Paged("OnQueryPositionByPage", r, positions, rc, idx, ref, id, last, s);
    }

    std::size_t Count(const std::string& op) {
        std::lock_guard<std::mutex> lk(mu);
        std::size_t n = 0;
        for (const Call& c : calls) n += c.op == op;
        return n;
    }
    std::size_t LastCount() {
        std::lock_guard<std::mutex> lk(mu);
        std::size_t n = 0;
        for (const Call& c : calls) n += c.last;
        return n;
    }
    std::size_t Size() {
        std::lock_guard<std::mutex> lk(mu);
        return calls.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lk(mu);
        calls.clear();
        orders.clear();
        trades.clear();
        cancels.clear();
        executes.clear();
        comb_orders.clear();
        comb_trades.clear();
        transfers.clear();
        positions.clear();
        assets.clear();
        funds.clear();
        auctions.clear();
        comb_positions.clear();
        strategies.clear();
        exec_positions.clear();
    }
    std::mutex mu;

private:
    template <typename R>
    void Event(const char* op, R* r, std::vector<R>& out, OXAErrorInfo* e, uint64_t s) {
        Call c;
        c.op = op;
        c.session = s;
        c.null_record = r == nullptr;
        if (e) {
            c.error_id = e->error_id;
            c.error_msg.assign(e->error_msg, strnlen(e->error_msg, sizeof e->error_msg));
        }
        Keep(c, r, out);
    }
    template <typename R>
    void Answer(const char* op, R* r, std::vector<R>& out, OXAErrorInfo* e, int id, bool last, uint64_t s) {
        Call c;
        c.op = op;
        c.session = s;
        c.request_id = id;
        c.last = last;
        c.null_record = r == nullptr;
        if (e) {
            c.error_id = e->error_id;
            c.error_msg.assign(e->error_msg, strnlen(e->error_msg, sizeof e->error_msg));
        }
        Keep(c, r, out);
    }
    template <typename R>
    void Paged(const char* op, R* r, std::vector<R>& out, int64_t rc, int64_t idx, int64_t ref, int id, bool last,
               uint64_t s) {
        Call c;
        c.op = op;
        c.session = s;
        c.request_id = id;
        c.last = last;
        c.null_record = r == nullptr;
        c.req_count = rc;
        c.index = idx;
        c.reference = ref;
        Keep(c, r, out);
    }
    template <typename R>
    void Keep(const Call& c, R* r, std::vector<R>& out) {
        std::function<void(const Call&)> hook;
        {
            std::lock_guard<std::mutex> lk(mu);
            calls.push_back(c);
            if (r) out.push_back(*r);
            hook = on_call;
        }
        if (hook) hook(c);
    }
};

// What the back-end sent through its hook.
struct Sent {
    bool gateway;
    uint64_t session_id;
    uint32_t msg_id;
    Bytes body;
    int request_id;
};

// An option back-end that sends through a hook, with the driver bound and the callbacks recorded.
class OptionDriverFixture : public ::testing::Test {
public:
    static constexpr uint8_t kClientId = 6;

    void SetUp() override {
        // what earlier tests left in the process: sessions, rate windows, queries being paged
        oxa_test::ResetSessionState();
        OXA::API::OPT::Continuations().Clear();
        OXA::API::OPT::SetContinuePageLimit(OXA::API::PageContinuation::kDefaultPageLimit);
        OXA::API::SockType.store(2);  // bus mode: push registration sends nothing
        api_ = new OptionTraderImpl();
        api_->Init(nullptr, &generator_, &error_);
        api_->RegisterSpi(&spi_);
        OptionTraderImpl::Timeouts t;
        t.login = std::chrono::milliseconds(5000);  // an answer inside the send never waits for it
        t.sync = std::chrono::milliseconds(2000);
        t.subscribe = std::chrono::milliseconds(2000);
        api_->SetTimeouts(t);
        api_->SetSendHook([this](bool gateway, uint64_t session, uint32_t msg, const void* body, int len, int req) {
            Sent s{gateway, session, msg,
                   Bytes(static_cast<const uint8_t*>(body), static_cast<const uint8_t*>(body) + len), req};
            std::function<int(const Sent&)> on;
            {
                std::lock_guard<std::mutex> lk(mu_);
                sent_.push_back(s);
                on = on_send_;
            }
            return on ? on(s) : 0;
        });
    }
    void TearDown() override {
        api_->Release();
        delete api_;
    }

    void Deliver(uint32_t msg, const Bytes& body, uint32_t node = 0) {
        api_->OnRecv(0, msg, body.empty() ? nullptr : reinterpret_cast<const char*>(body.data()),
                     static_cast<int>(body.size()), 0, 0, 0, 0, node);
    }
    void OnSend(std::function<int(const Sent&)> f) {
        std::lock_guard<std::mutex> lk(mu_);
        on_send_ = std::move(f);
    }
    std::vector<Sent> SentOf(uint32_t msg) {
        std::lock_guard<std::mutex> lk(mu_);
        std::vector<Sent> out;
        for (const auto& s : sent_)
            if (s.msg_id == msg) out.push_back(s);
        return out;
    }
    std::size_t SentCount() {
        std::lock_guard<std::mutex> lk(mu_);
        return sent_.size();
    }

    // Logs an account in through the hook: the 0x401 is answered inside its send.
    uint64_t LogIn(uint64_t account, uint32_t node, uint64_t fund_index, uint64_t session_no) {
        OnSend([=](const Sent& s) {
            if (s.msg_id != 0x401) return 0;
            Body a(415);
            a.put<uint64_t>(0, Le(s.body, 0, 8)).put<uint64_t>(8, session_no).put<uint32_t>(383, 20261215);
            a.put<uint32_t>(387, node).put<uint64_t>(391, fund_index);
            Deliver(0x500, a.b);
            return 0;
        });
        const uint64_t session = api_->Login(nullptr, account);
        OnSend(nullptr);
        return session;
    }

    OXA::API::CIdGenerator generator_{kClientId};
    OXAErrorInfo error_{};
    OptionTraderImpl* api_ = nullptr;
    RecordingSpi spi_;
    std::mutex mu_;
    std::vector<Sent> sent_;
    std::function<int(const Sent&)> on_send_;
};

}  // namespace opt_test
