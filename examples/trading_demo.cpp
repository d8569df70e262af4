// A small trading application: creates the API object and reports what it set up; given a
// gateway port it then logs a spot account in (with the default resume type: live events only),
// places one order that fills and one that stays working, cancels the working one (the cancel
// succeeds), cancels the filled one (the gateway refuses it), transfers funds, queries its orders,
// positions and asset and logs out, printing every callback as one readable line. Given a margin
// account, it then logs that one in too, places an order that fills and one it cancels, repays
// cash, queries its credit line and the securities it may buy on credit, and logs it out.
//
// Given an option account, it logs that one in, places a single-leg order that fills, a combination
// order, one that stays working and is cancelled, queries its orders and the combination
// strategies, and logs it out.
//
// With --sock-type 2 the spot account logs in for the bus: against a gateway that answers with
// the bus mode (the sim with --bus) its orders, cancels and transfers travel over the bus and
// their events come back over it; queries stay on the gateway connection.
//
//   oxa_demo [--host IP] [--port N] [--account ACC] [--margin-account ACC] [--option-account ACC]
//            [--sock-type 1|2] [LOG_PATH]
#include <oxa_api/TraderApi.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kStepBound{5};

// What the library's conversions make of each order status (see OrderStatusType).
const char* StatusName(int32_t status) {
    switch (status) {
        case OXA_ORDER_STATUS_0: return "new";
        case OXA_ORDER_STATUS_1: return "filled";
        case OXA_ORDER_STATUS_2: return "partly filled";
        case OXA_ORDER_STATUS_3: return "partly cancelled";
        case OXA_ORDER_STATUS_4: return "working";
        case OXA_ORDER_STATUS_5: return "cancelled";
        case OXA_ORDER_STATUS_6: return "refused";
        default: return "unknown";
    }
}

const char* SideName(uint8_t side) {
    switch (side) {
        case OXA_SIDE_BUY: return "buy";
        case OXA_SIDE_SELL: return "sell";
        case OXA_SIDE_UNKNOWN: return "unknown side";
        default: return "side";
    }
}

// Prints each callback and lets the main thread wait for the event a step expects.
class PrintingSpi : public OXA::API::TraderSpi {
public:
    void OnConnected() override { Event("OnConnected: the gateway connection is up"); }
    void OnDisconnected(int reason) override { Event("OnDisconnected: reason %d", reason); }
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t) override {
        std::string extra;
        if (o->order_cancel_oxa_id != 0) extra += ", by cancel " + std::to_string(o->order_cancel_oxa_id);
        if (e && e->error_id != 0) extra += ", error " + std::to_string(e->error_id) + " " + e->error_msg;
        Event("OnOrderEvent: order %llu %s %lld %s @ %.2f is %s (status %d), traded %lld, left %lld%s",
              U(o->order_oxa_id), SideName(o->side), L(o->quantity), o->ticker, o->price,
              StatusName(o->order_status), o->order_status, L(o->qty_traded), L(o->qty_left), extra.c_str());
        Note(Seen{Seen::kOrder, o->order_oxa_id, o->order_status});
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t) override {
        Event("OnTradeEvent: order %llu %s %lld %s @ %.2f, amount %.2f, exec id %.18s", U(t->order_oxa_id),
              SideName(t->side), L(t->quantity), t->ticker, t->price, t->trade_amount, t->exec_id);
    }
    void OnHoldingChangeEvent(OXAHoldingChangeInfo* h, uint64_t) override {
        Event("OnHoldingChangeEvent: %.16s now held %lld (change %lld)", h->ticker, L(h->field_28), L(h->field_36));
    }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t) override {
        if (e && e->error_id == 0) {  // the option gateway answers every cancel
            Event("OnCancelOrderEvent: cancel %llu of order %llu accepted", U(c->order_cancel_oxa_id), U(c->order_oxa_id));
            return;
        }
        Event("OnCancelOrderEvent: cancel %llu of order %llu refused: error %d %.124s", U(c->order_cancel_oxa_id),
              U(c->order_oxa_id), e ? e->error_id : 0, e ? e->error_msg : "");
        Note(Seen{Seen::kCancelRefused, c->order_cancel_oxa_id, 0});
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t) override {
        Event("OnFundTransfer: transfer %llu of %.2f, status %d, error %d", U(f->order_oxa_id), f->amount,
              f->oper_status, e ? e->error_id : 0);
        Note(Seen{Seen::kTransfer, f->order_oxa_id, 0});
    }
    void OnCreditCashRepay(OXACreditCashRepayInfo* r, OXAErrorInfo* e, uint64_t) override {
        Event("OnCreditCashRepay: repayment %llu, error %d %.124s", U(r->order_oxa_id), e ? e->error_id : 0,
              e ? e->error_msg : "");
        Note(Seen{Seen::kRepay, r->order_oxa_id, 0});
    }
    void OnQueryCreditInfo2(OXACreditInfo2* c, OXAErrorInfo* e, int request_id, uint64_t) override {
        if (c)
            Event("OnQueryCreditInfo2 %d: credit line %lld, used %lld, left %lld, %lld, %lld, %lld", request_id,
                  L(c->field_0), L(c->field_8), L(c->field_16), L(c->field_24), L(c->field_32), L(c->field_40));
        else
            Event("OnQueryCreditInfo2 %d: no record, error %d", request_id, e ? e->error_id : 0);
        Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }
    void OnQueryCreditTargetStkByPage(OXACreditTargetStkInfo* t, int64_t, int64_t index, int64_t reference,
                                      int request_id, bool is_last, uint64_t) override {
        if (t)
            Event("OnQueryCreditTargetStkByPage %d: #%lld %s market %d, ratio %d%%, status %d (next from %lld)%s",
                  request_id, L(index), t->ticker, t->market, t->field_20, t->field_24, L(reference),
                  is_last ? " (last)" : "");
        else
            Event("OnQueryCreditTargetStkByPage %d: no more securities", request_id);
        if (is_last) Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }

    // Query answers: one line per record; the last one of a query ends its step.
    void OnQueryOrder(OXAOrderInfo* o, OXAErrorInfo* e, int request_id, bool is_last, uint64_t) override {
        if (o)
            Event("OnQueryOrder %d: order %llu %s %lld %s @ %.2f is %s, traded %lld%s", request_id,
                  U(o->order_oxa_id), SideName(o->side), L(o->quantity), o->ticker, o->price,
                  StatusName(o->order_status), L(o->qty_traded), is_last ? " (last)" : "");
        else
            Event("OnQueryOrder %d: no orders, error %d", request_id, e ? e->error_id : 0);
        if (is_last) Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }
    void OnQueryPosition(OXAPositionInfo* p, OXAErrorInfo* e, int request_id, bool is_last, uint64_t) override {
        if (p)
            Event("OnQueryPosition %d: %s market %d, total %lld, sellable %lld, average price %.2f%s", request_id,
                  p->ticker, p->market, L(p->total_qty), L(p->sellable_qty), p->avg_price,
                  is_last ? " (last)" : "");
        else
            Event("OnQueryPosition %d: no positions, error %d", request_id, e ? e->error_id : 0);
        if (is_last) Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }
    void OnQueryAsset(OXAAssetInfo* a, OXAErrorInfo* e, int request_id, bool is_last, uint64_t) override {
        if (a)
            Event("OnQueryAsset %d: total %.2f, buying power %.2f, withholding %.2f", request_id, a->total_asset,
                  a->buying_power, a->withholding_amount);
        else
            Event("OnQueryAsset %d: no asset, error %d", request_id, e ? e->error_id : 0);
        if (is_last) Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }

    // Option combinations: the order's state counts as an order event of its id.
    void OnOptionCombinedOrderEvent(OXAOptCombOrderInfo* o, OXAErrorInfo*, uint64_t) override {
        Event("OnOptionCombinedOrderEvent: combination %llu %s of %d legs x %lld is %s (status %d), traded %lld",
              U(o->order_oxa_id), o->strategy_id, o->num_legs, L(o->quantity), StatusName(o->order_status),
              o->order_status, L(o->qty_traded));
        Note(Seen{Seen::kOrder, o->order_oxa_id, o->order_status});
    }
    void OnOptionCombinedTradeEvent(OXAOptCombTradeReport* t, uint64_t) override {
        Event("OnOptionCombinedTradeEvent: combination %llu %s traded %lld, exec id %.18s", U(t->order_oxa_id),
              t->strategy_id, L(t->quantity), t->exec_id);
    }
    void OnQueryOptionCombinedStrategyInfo(OXAOptCombStrategyInfo* s, OXAErrorInfo* e, int request_id, bool is_last,
                                           uint64_t) override {
        if (s)
            Event("OnQueryOptionCombinedStrategyInfo %d: %s \"%s\" market %d, %d legs%s", request_id, s->strategy_id,
                  s->strategy_name, s->market, s->leg_num, is_last ? " (last)" : "");
        else
            Event("OnQueryOptionCombinedStrategyInfo %d: no strategies, error %d", request_id, e ? e->error_id : 0);
        if (is_last) Note(Seen{Seen::kQueryEnd, static_cast<uint64_t>(request_id), 0});
    }

    struct Seen {
        enum Kind { kOrder, kCancelRefused, kTransfer, kQueryEnd, kRepay } kind;
        uint64_t id;  // order, cancel, transfer or request id
        int32_t status;
    };
    // True once an event matching want has come, within the bound.
    bool Wait(const std::function<bool(const Seen&)>& want) {
        std::unique_lock<std::mutex> lk(m_mu);
        return m_cv.wait_until(lk, Clock::now() + kStepBound, [&] {
            for (const Seen& s : m_seen)
                if (want(s)) return true;
            return false;
        });
    }
    bool WaitOrder(uint64_t id, int32_t status) {
        return Wait([=](const Seen& s) { return s.kind == Seen::kOrder && s.id == id && s.status == status; });
    }
    bool WaitFor(Seen::Kind kind, uint64_t id) {
        return Wait([=](const Seen& s) { return s.kind == kind && s.id == id; });
    }

private:
    static unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }
    static long long L(int64_t v) { return static_cast<long long>(v); }
    __attribute__((format(printf, 2, 3))) void Event(const char* fmt, ...) {
        std::lock_guard<std::mutex> lk(m_print);
        std::printf("  ");
        va_list args;
        va_start(args, fmt);
        std::vprintf(fmt, args);
        va_end(args);
        std::printf("\n");
        std::fflush(stdout);
    }
    void Note(const Seen& s) {
        {
            std::lock_guard<std::mutex> lk(m_mu);
            m_seen.push_back(s);
        }
        m_cv.notify_all();
    }

    std::mutex m_print;
    std::mutex m_mu;
    std::condition_variable m_cv;
    std::vector<Seen> m_seen;
};

int Fail(OXA::API::TraderApi* api, const char* step) {
    const OXAErrorInfo* e = api->GetApiLastError();
    std::fprintf(stderr, "%s failed: %d %s\n", step, e ? e->error_id : 0, e ? e->error_msg : "");
    api->Release();
    return 1;
}

// A buy that opens an option position; price type 1 is a limit order, 2 is not.
OrderInsertInfo OptionBuy(const char* contract, double price, int64_t quantity, int32_t price_type) {
    OrderInsertInfo order{};
    order.order_client_id = 2;
    std::strncpy(order.ticker, contract, sizeof order.ticker - 1);
    order.market = OXA_MKT_1;
    order.price = price;
    order.quantity = quantity;
    order.price_type = price_type;
    order.side = OXA_SIDE_BUY;
    order.position_effect = 1;
    order.business_type = OXA_BUSINESS_TYPE_OPTION;
    return order;
}

OrderInsertInfo Buy(const char* ticker, double price, int64_t quantity) {
    OrderInsertInfo order{};
    order.order_client_id = 1;
    std::strncpy(order.ticker, ticker, sizeof order.ticker - 1);
    order.market = OXA_MKT_2;
    order.price = price;
    order.quantity = quantity;
    order.price_type = OXA_PRICE_TYPE_1;
    order.side = OXA_SIDE_BUY;
    order.business_type = OXA_BUSINESS_TYPE_CASH;
    return order;
}

}  // namespace

int main(int argc, char** argv) {
    const char* log_path = "./oxa_api_log/oxa.log";
    const char* host = "127.0.0.1";
    const char* account = "10001";
    const char* margin_account = nullptr;
    const char* option_account = nullptr;
    int port = 0;
    int sock_type = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--host" || a == "--port" || a == "--account" || a == "--margin-account" ||
             a == "--option-account" || a == "--sock-type") &&
            i + 1 < argc) {
            const char* v = argv[++i];
            if (a == "--sock-type") sock_type = std::atoi(v);
            else if (a == "--host") host = v;
            else if (a == "--account") account = v;
            else if (a == "--margin-account") margin_account = v;
            else if (a == "--option-account") option_account = v;
            else port = std::atoi(v);
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr,
                         "usage: oxa_demo [--host IP] [--port N] [--account ACC] [--margin-account ACC] "
                         "[--option-account ACC] [--sock-type 1|2] [LOG_PATH]\n");
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
    std::printf("log file %s\n", log_path);
    if (port <= 0) return 0;  // no gateway given: only the set-up

    PrintingSpi spi;
    api->RegisterSpi(&spi);
    const uint64_t session = api->Login(host, port, account, "password", sock_type, nullptr, nullptr);
    if (session == 0) return Fail(api, "Login");
    std::printf("logged in %s at %s:%d%s, session %llu, trading day %s\n", account, host, port,
                sock_type == 2 ? " (orders over the bus)" : "", static_cast<unsigned long long>(session),
                api->GetTradingDay());

    // the gateway's book has 600000 at 10.50: a buy at 10.50 fills, a buy at 9.80 waits
    OrderInsertInfo fills = Buy("600000", 10.50, 100);
    const uint64_t filled_id = api->InsertOrder(&fills, session);
    if (filled_id == 0) return Fail(api, "InsertOrder");
    std::printf("buy 100 600000 at 10.50: order %llu\n", static_cast<unsigned long long>(filled_id));
    if (!spi.WaitOrder(filled_id, OXA_ORDER_STATUS_1)) return Fail(api, "waiting for the fill");

    OrderInsertInfo waits = Buy("600000", 9.80, 100);
    const uint64_t working_id = api->InsertOrder(&waits, session);
    if (working_id == 0) return Fail(api, "InsertOrder");
    std::printf("buy 100 600000 at 9.80: order %llu\n", static_cast<unsigned long long>(working_id));
    if (!spi.WaitOrder(working_id, OXA_ORDER_STATUS_4)) return Fail(api, "waiting for the working order");

    const uint64_t cancel_working = api->CancelOrder(working_id, session);
    if (cancel_working == 0) return Fail(api, "CancelOrder");
    std::printf("cancel the working order %llu: cancel %llu\n", static_cast<unsigned long long>(working_id),
                static_cast<unsigned long long>(cancel_working));
    if (!spi.WaitOrder(working_id, OXA_ORDER_STATUS_5)) return Fail(api, "waiting for the cancel");
    std::printf("cancel %llu succeeded: order %llu is cancelled\n", static_cast<unsigned long long>(cancel_working),
                static_cast<unsigned long long>(working_id));

    const uint64_t cancel_filled = api->CancelOrder(filled_id, session);
    if (cancel_filled == 0) return Fail(api, "CancelOrder");
    std::printf("cancel the filled order %llu: cancel %llu\n", static_cast<unsigned long long>(filled_id),
                static_cast<unsigned long long>(cancel_filled));
    if (!spi.WaitFor(PrintingSpi::Seen::kCancelRefused, cancel_filled)) return Fail(api, "waiting for the refusal");
    std::printf("cancel %llu was refused: the order had filled\n", static_cast<unsigned long long>(cancel_filled));

    FundTransferInfo transfer{};
    transfer.amount = 10000.0;
    transfer.transfer_type = OXA_FUND_TRANSFER_1;
    const uint64_t serial = api->FundTransfer(&transfer, session);
    if (serial == 0) return Fail(api, "FundTransfer");
    std::printf("transfer 10000.00: serial %llu\n", static_cast<unsigned long long>(serial));
    if (!spi.WaitFor(PrintingSpi::Seen::kTransfer, serial)) return Fail(api, "waiting for the transfer result");

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
        const int sent = q.send(api, session, ++request_id);
        std::printf("%s request %d: %d\n", q.name, request_id, sent);
        if (sent != 0) return Fail(api, q.name);
        if (!spi.WaitFor(PrintingSpi::Seen::kQueryEnd, static_cast<uint64_t>(request_id)))
            return Fail(api, "waiting for the query answer");
    }

    const int rc = api->Logout(session);
    std::printf("logout %d\n", rc);
    if (rc != 0) return Fail(api, "Logout");

    if (margin_account != nullptr) {
        // A margin (credit) account: the gateway names its business, the library its back-end.
        const uint64_t margin = api->Login(host, port, margin_account, "password", 1, nullptr, nullptr);
        if (margin == 0) return Fail(api, "margin Login");
        std::printf("logged in margin account %s, session %llu\n", margin_account,
                    static_cast<unsigned long long>(margin));
        OrderInsertInfo margin_fills = Buy("600000", 10.50, 200);
        const uint64_t margin_filled = api->InsertOrder(&margin_fills, margin);
        if (margin_filled == 0) return Fail(api, "margin InsertOrder");
        std::printf("margin buy 200 600000 at 10.50: order %llu\n", static_cast<unsigned long long>(margin_filled));
        if (!spi.WaitOrder(margin_filled, OXA_ORDER_STATUS_1)) return Fail(api, "waiting for the margin fill");

        OrderInsertInfo margin_waits = Buy("600000", 9.60, 300);
        const uint64_t margin_working = api->InsertOrder(&margin_waits, margin);
        if (margin_working == 0) return Fail(api, "margin InsertOrder");
        std::printf("margin buy 300 600000 at 9.60: order %llu\n", static_cast<unsigned long long>(margin_working));
        if (!spi.WaitOrder(margin_working, OXA_ORDER_STATUS_4)) return Fail(api, "waiting for the margin order");
        const uint64_t margin_cancel = api->CancelOrder(margin_working, margin);
        if (margin_cancel == 0) return Fail(api, "margin CancelOrder");
        std::printf("cancel the margin order %llu: cancel %llu\n", static_cast<unsigned long long>(margin_working),
                    static_cast<unsigned long long>(margin_cancel));
        if (!spi.WaitOrder(margin_working, OXA_ORDER_STATUS_5)) return Fail(api, "waiting for the margin cancel");

        const uint64_t repay = api->CreditCashRepay(margin, 2100.01);
        if (repay == 0) return Fail(api, "CreditCashRepay");
        std::printf("repay 2100.01 in cash: repayment %llu\n", static_cast<unsigned long long>(repay));
        if (!spi.WaitFor(PrintingSpi::Seen::kRepay, repay)) return Fail(api, "waiting for the repayment");

        // two credit queries: the credit line, and the first page of the securities bought on credit
        const int credit_line = ++request_id;
        if (api->QueryCreditInfo2(margin, credit_line) != 0) return Fail(api, "QueryCreditInfo2");
        std::printf("QueryCreditInfo2 request %d: 0\n", credit_line);
        if (!spi.WaitFor(PrintingSpi::Seen::kQueryEnd, static_cast<uint64_t>(credit_line)))
            return Fail(api, "waiting for the credit line");
        const int targets = ++request_id;
        const PageQueryParam first_page{3, 0, 0};
        if (api->QueryCreditTargetStkByPage(&first_page, margin, targets) != 0)
            return Fail(api, "QueryCreditTargetStkByPage");
        std::printf("QueryCreditTargetStkByPage request %d (3 from 0): 0\n", targets);
        if (!spi.WaitFor(PrintingSpi::Seen::kQueryEnd, static_cast<uint64_t>(targets)))
            return Fail(api, "waiting for the credit securities");

        const int margin_rc = api->Logout(margin);
        std::printf("margin logout %d\n", margin_rc);
        if (margin_rc != 0) return Fail(api, "margin Logout");
    }
    if (option_account != nullptr) {
        // An option account: single-leg and combination orders, a cancel, two queries.
        const uint64_t opt = api->Login(host, port, option_account, "password", 1, nullptr, nullptr);
        if (opt == 0) return Fail(api, "option Login");
        std::printf("logged in option account %s, session %llu\n", option_account,
                    static_cast<unsigned long long>(opt));
        OrderInsertInfo call = OptionBuy("10000001", 0.1234, 2, OXA_PRICE_TYPE_1);
        const uint64_t call_id = api->InsertOrder(&call, opt);
        if (call_id == 0) return Fail(api, "option InsertOrder");
        std::printf("buy to open 2 10000001 at 0.1234: order %llu\n", static_cast<unsigned long long>(call_id));
        if (!spi.WaitOrder(call_id, OXA_ORDER_STATUS_1)) return Fail(api, "waiting for the option fill");

        OptionCombinedOrderInsertInfo spread{};
        spread.order_client_id = 3;
        spread.market = OXA_MKT_1;
        spread.quantity = 1;
        spread.side = OXA_SIDE_BUY;
        std::strncpy(spread.strategy_id, "CNSJC", sizeof spread.strategy_id - 1);
        spread.num_legs = 2;
        std::strncpy(spread.legs[0].leg_security_id, "10000001", sizeof spread.legs[0].leg_security_id - 1);
        spread.legs[0].leg_side = 1;
        spread.legs[0].leg_qty = 1;
        std::strncpy(spread.legs[1].leg_security_id, "10000003", sizeof spread.legs[1].leg_security_id - 1);
        spread.legs[1].leg_side = 2;
        spread.legs[1].leg_qty = 1;
        const uint64_t spread_id = api->InsertOptionCombinedOrder(&spread, opt);
        if (spread_id == 0) return Fail(api, "InsertOptionCombinedOrder");
        std::printf("combination CNSJC long 10000001 short 10000003: order %llu\n",
                    static_cast<unsigned long long>(spread_id));
        if (!spi.WaitOrder(spread_id, OXA_ORDER_STATUS_1)) return Fail(api, "waiting for the combination");

        OrderInsertInfo rests = OptionBuy("10000002", 0.05, 1, OXA_PRICE_TYPE_2);
        const uint64_t resting = api->InsertOrder(&rests, opt);
        if (resting == 0) return Fail(api, "option InsertOrder");
        std::printf("buy to open 1 10000002, not a limit order: order %llu\n", static_cast<unsigned long long>(resting));
        if (!spi.WaitOrder(resting, OXA_ORDER_STATUS_4)) return Fail(api, "waiting for the working option order");
        const uint64_t opt_cancel = api->CancelOrder(resting, opt);
        if (opt_cancel == 0) return Fail(api, "option CancelOrder");
        std::printf("cancel the option order %llu: cancel %llu\n", static_cast<unsigned long long>(resting),
                    static_cast<unsigned long long>(opt_cancel));
        if (!spi.WaitOrder(resting, OXA_ORDER_STATUS_5)) return Fail(api, "waiting for the option cancel");

        // the gateway answers two rows a page: the library asks for the next pages itself
        const int opt_orders = ++request_id;
        if (api->QueryOrders(nullptr, opt, opt_orders) != 0) return Fail(api, "option QueryOrders");
        std::printf("QueryOrders request %d: 0\n", opt_orders);
        if (!spi.WaitFor(PrintingSpi::Seen::kQueryEnd, static_cast<uint64_t>(opt_orders)))
            return Fail(api, "waiting for the option orders");
        const int strategies = ++request_id;
        if (api->QueryOptionCombinedStrategyInfo(opt, strategies) != 0)
            return Fail(api, "QueryOptionCombinedStrategyInfo");
        std::printf("QueryOptionCombinedStrategyInfo request %d: 0\n", strategies);
        if (!spi.WaitFor(PrintingSpi::Seen::kQueryEnd, static_cast<uint64_t>(strategies)))
            return Fail(api, "waiting for the strategies");

        const int opt_rc = api->Logout(opt);
        std::printf("option logout %d\n", opt_rc);
        if (opt_rc != 0) return Fail(api, "option Logout");
    }
    api->Release();
    api->RegisterSpi(nullptr);
    return 0;
}
