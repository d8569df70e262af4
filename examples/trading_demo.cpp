// A small trading application: creates the API object and reports what it set up; given a
// gateway port it then logs a spot account in, buys at a limit price, cancels the order,
// transfers funds, queries its orders, positions and asset and logs out, printing every callback
// as one line.
//
//   oxa_demo [--host IP] [--port N] [--account ACC] [LOG_PATH]
#include <oxa_api/TraderApi.h>

#include <chrono>
#include <cstdarg>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kStepBound{5};

// Prints each callback and lets the main thread wait for the one a step expects.
class PrintingSpi : public OXA::API::TraderSpi {
public:
    void OnConnected() override { Event("OnConnected"); }
    void OnDisconnected(int reason) override { Event("OnDisconnected reason=%d", reason); }
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t session) override {
        Event("OnOrderEvent session=%llu order=%llu ticker=%s market=%d side=%u price=%.2f qty=%lld "
              "traded=%lld left=%lld status=%d submit=%d local_id=%.11s cancel_id=%llu error=%d",
              U(session), U(o->order_oxa_id), o->ticker, o->market, o->side, o->price,
              L(o->quantity), L(o->qty_traded), L(o->qty_left), o->order_status,
              o->order_submit_status, o->order_local_id, U(o->order_cancel_oxa_id),
              e ? e->error_id : 0);
        Note(o->order_status == 1 ? kFilled : kOrder);
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t session) override {
        Event("OnTradeEvent session=%llu order=%llu ticker=%s exec_id=%.18s price=%.2f qty=%lld "
              "amount=%.2f time=%lld",
              U(session), U(t->order_oxa_id), t->ticker, t->exec_id, t->price, L(t->quantity),
              t->trade_amount, L(t->trade_time));
        Note(kTrade);
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t session) override {
        Event("OnCancelOrderEvent session=%llu cancel=%llu order=%llu error=%d (%.124s)", U(session),
              U(c->order_cancel_oxa_id), U(c->order_oxa_id), e ? e->error_id : 0,
              e ? e->error_msg : "");
        Note(kCancel);
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t session) override {
        Event("OnFundTransfer session=%llu serial=%llu type=%d amount=%.2f status=%d time=%lld error=%d",
              U(session), U(f->order_oxa_id), f->transfer_type, f->amount, f->oper_status,
              L(static_cast<int64_t>(f->transfer_time)), e ? e->error_id : 0);
        Note(kTransfer);
    }
    void OnHoldingChangeEvent(OXAHoldingChangeInfo* h, uint64_t session) override {
        Event("OnHoldingChangeEvent session=%llu ticker=%.16s market=%d holding=%lld change=%lld",
              U(session), h->ticker, h->market, L(h->field_28), L(h->field_36));
    }

    // Query answers: one line per record; the last one of a query ends its step.
    void OnQueryOrder(OXAOrderInfo* o, OXAErrorInfo* e, int request_id, bool is_last, uint64_t session) override {
        if (o)
            Event("OnQueryOrder request=%d session=%llu order=%llu ticker=%s price=%.2f qty=%lld traded=%lld "
                  "status=%d error=%d last=%d",
                  request_id, U(session), U(o->order_oxa_id), o->ticker, o->price, L(o->quantity),
                  L(o->qty_traded), o->order_status, e ? e->error_id : 0, is_last);
        else
            Event("OnQueryOrder request=%d no orders error=%d last=%d", request_id, e ? e->error_id : 0, is_last);
        if (is_last) Note(kQueryEnd);
    }
    void OnQueryPosition(OXAPositionInfo* p, OXAErrorInfo* e, int request_id, bool is_last,
                         uint64_t session) override {
        if (p)
            Event("OnQueryPosition request=%d session=%llu ticker=%s market=%d total=%lld sellable=%lld "
                  "avg_price=%.2f yesterday=%lld error=%d last=%d",
                  request_id, U(session), p->ticker, p->market, L(p->total_qty), L(p->sellable_qty),
                  p->avg_price, L(p->yesterday_position), e ? e->error_id : 0, is_last);
        else
            Event("OnQueryPosition request=%d no positions error=%d last=%d", request_id, e ? e->error_id : 0,
                  is_last);
        if (is_last) Note(kQueryEnd);
    }
    void OnQueryAsset(OXAAssetInfo* a, OXAErrorInfo* e, int request_id, bool is_last, uint64_t session) override {
        if (a)
            Event("OnQueryAsset request=%d session=%llu total=%.2f buying_power=%.2f withholding=%.2f "
                  "error=%d last=%d",
                  request_id, U(session), a->total_asset, a->buying_power, a->withholding_amount,
                  e ? e->error_id : 0, is_last);
        else
            Event("OnQueryAsset request=%d no asset error=%d last=%d", request_id, e ? e->error_id : 0, is_last);
        if (is_last) Note(kQueryEnd);
    }

    enum Kind { kOrder, kFilled, kTrade, kCancel, kTransfer, kQueryEnd, kKinds };
    // True once a callback of the kind has come (counted from the last Reset), within the bound.
    bool Wait(Kind k) {
        std::unique_lock<std::mutex> lk(m_mu);
        return m_cv.wait_until(lk, Clock::now() + kStepBound, [&] { return m_seen[k] > 0; });
    }
    void Reset() {
        std::lock_guard<std::mutex> lk(m_mu);
        for (int& n : m_seen) n = 0;
    }

private:
    static unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }
    static long long L(int64_t v) { return static_cast<long long>(v); }
    __attribute__((format(printf, 2, 3))) void Event(const char* fmt, ...) {
        std::lock_guard<std::mutex> lk(m_print);
        std::printf("  callback ");
        va_list args;
        va_start(args, fmt);
        std::vprintf(fmt, args);
        va_end(args);
        std::printf("\n");
        std::fflush(stdout);
    }
    void Note(Kind k) {
        {
            std::lock_guard<std::mutex> lk(m_mu);
            ++m_seen[k];
        }
        m_cv.notify_all();
    }

    std::mutex m_print;
    std::mutex m_mu;
    std::condition_variable m_cv;
    int m_seen[kKinds] = {};
};

int Fail(OXA::API::TraderApi* api, const char* step) {
    const OXAErrorInfo* e = api->GetApiLastError();
    std::fprintf(stderr, "%s failed: %d %s\n", step, e ? e->error_id : 0, e ? e->error_msg : "");
    api->Release();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* log_path = "./oxa_api_log/oxa.log";
    const char* host = "127.0.0.1";
    const char* account = "10001";
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--host" || a == "--port" || a == "--account") && i + 1 < argc) {
            const char* v = argv[++i];
            if (a == "--host") host = v;
            else if (a == "--account") account = v;
            else port = std::atoi(v);
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: oxa_demo [--host IP] [--port N] [--account ACC] [LOG_PATH]\n");
            return 2;
        } else {
            log_path = argv[i];
        }
    }

    OXA::API::TraderApi* api = OXA::API::TraderApi::CreateTraderApi(1, log_path, OXA_LOG_LEVEL(3));
    if (api == nullptr) {
        std::fprintf(stderr, "CreateTraderApi failed\n");
        return 1;
    }
    std::printf("oxa_api version %s\n", api->GetApiVersion());
    std::printf("trading day %s\n", api->GetTradingDay());
    std::printf("log file %s\n", log_path);
    if (port <= 0) return 0;  // no gateway given: only the set-up

    PrintingSpi spi;
    api->RegisterSpi(&spi);
    api->SubscribePublicTopic(0);  // replay what the account missed
    const uint64_t session = api->Login(host, port, account, "password", 1, nullptr, nullptr);
    if (session == 0) return Fail(api, "Login");
    std::printf("logged in %s at %s:%d session=%llu trading day %s\n", account, host, port,
                static_cast<unsigned long long>(session), api->GetTradingDay());

    OrderInsertInfo order{};
    order.order_client_id = 1;
    std::strncpy(order.ticker, "600000", sizeof order.ticker - 1);
    order.market = 2;
    order.price = 10.50;
    order.quantity = 100;
    order.price_type = 1;  // limit
    order.side = 1;        // buy
    order.business_type = 0;
    spi.Reset();
    const uint64_t order_id = api->InsertOrder(&order, session);
    if (order_id == 0) return Fail(api, "InsertOrder");
    std::printf("buy 100 600000 at 10.50: order %llu\n", static_cast<unsigned long long>(order_id));
    if (!spi.Wait(PrintingSpi::kFilled)) return Fail(api, "waiting for the fill");

    spi.Reset();
    const uint64_t cancel_id = api->CancelOrder(order_id, session);
    if (cancel_id == 0) return Fail(api, "CancelOrder");
    std::printf("cancel order %llu: cancel %llu\n", static_cast<unsigned long long>(order_id),
                static_cast<unsigned long long>(cancel_id));
    if (!spi.Wait(PrintingSpi::kCancel)) return Fail(api, "waiting for the cancel answer");

    FundTransferInfo transfer{};
    transfer.amount = 10000.0;
    transfer.transfer_type = 1;
    spi.Reset();
    const uint64_t serial = api->FundTransfer(&transfer, session);
    if (serial == 0) return Fail(api, "FundTransfer");
    std::printf("transfer 10000.00: serial %llu\n", static_cast<unsigned long long>(serial));
    if (!spi.Wait(PrintingSpi::kTransfer)) return Fail(api, "waiting for the transfer result");

    // A query returns 0 once sent; its answers arrive as callbacks.
    struct Query {
        const char* name;
        int (*send)(OXA::API::TraderApi*, uint64_t, int);
    };
    const Query queries[] = {
        {"QueryOrders", [](OXA::API::TraderApi* a, uint64_t s, int id) { return a->QueryOrders(nullptr, s, id); }},
        {"QueryPosition",
         [](OXA::API::TraderApi* a, uint64_t s, int id) { return a->QueryPosition(nullptr, s, id, 0); }},
        {"QueryAsset", [](OXA::API::TraderApi* a, uint64_t s, int id) { return a->QueryAsset(s, id); }},
    };
    int request_id = 0;
    for (const Query& q : queries) {
        spi.Reset();
        const int sent = q.send(api, session, ++request_id);
        std::printf("%s request %d: %d\n", q.name, request_id, sent);
        if (sent != 0) return Fail(api, q.name);
        if (!spi.Wait(PrintingSpi::kQueryEnd)) return Fail(api, "waiting for the query answer");
    }

    const int rc = api->Logout(session);
    std::printf("logout %d\n", rc);
    if (rc != 0) return Fail(api, "Logout");
    api->Release();
    api->RegisterSpi(nullptr);
    return 0;
}
