// Drives the option driver's dispatch with arbitrary bodies of arbitrary length under every
// message id a handler is bound to, as the receiving thread would hand them over. The body sits
// in a heap block of exactly its length, so a read past the message is caught. A session is
// logged in through the back-end (its sends go to a hook), so query answers find it and replay
// answers send their follow-ups; the callbacks read every byte of what they get and check that
// each enumerated field holds a value the interface has.
//
// Input: byte 0 flags, bytes 1-2 the bound id (an index into the bound ids), bytes 3-6 the request
// id, the rest the body. Flag 1 stamps the body with the logged-in session (its server session
// number for answers, an order id of it for pushes), flag 2 makes every follow-up fail to send,
// flag 4 takes the node from the last byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "DriverFuzzChecks.h"
#include "api/ApiGlobals.h"
#include "api/IdGenerator.h"
#include "core/option_api/OptTradeDriver.h"
#include "core/option_api/OptionTraderImpl.h"

using namespace OXA::API;

namespace {

constexpr uint32_t kNode = 5;
constexpr uint64_t kFundIndex = 9;
constexpr uint64_t kSessionNo = 0x501;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | kFundIndex;

using driver_fuzz::Broken;
using driver_fuzz::CheckError;
using driver_fuzz::Touch;

bool Side(uint8_t s) { return s == 1 || s == 2 || s == 11 || s == 12 || s == 31 || s == 32 || s == 33 || s == 50; }
bool PriceType(int32_t p) { return p >= 1 && p <= 11; }
bool Business(uint8_t b) { return b == 10 || b == 11 || b == 12 || b == 13 || b == 15; }
bool Status(int32_t s) { return s >= 0 && s <= 7; }
bool Effect(uint8_t e) { return e == 1 || e == 2 || e == 12; }
bool Text(const char* t, std::size_t n) { return driver_fuzz::Terminated(t, n); }

void CheckLegs(int32_t n, const OXAOptCombLeg* legs) {
    if (n < 0 || n > 4) Broken();
    for (int i = 0; i < 4; ++i) {
        const OXAOptCombLeg& l = legs[i];
        const int32_t side = l.leg_side, covered = l.leg_covered, type = l.leg_cntr_type;
        if (!Text(l.leg_security_id, sizeof l.leg_security_id)) Broken();
        if (side == 0 && covered == 0 && type == 0) continue;  // a leg left empty
        if (side < 1 || side > 3 || covered < 0 || covered > 1 || type < 1 || type > 2) Broken();
    }
}

void CheckOrder(const OXAOrderInfo* o, bool texts) {
    Touch(o);
    if (o == nullptr) return;
    if (!Side(o->side) || !PriceType(o->price_type) || !Business(o->business_type) || !Status(o->order_status) ||
        !Effect(o->position_effect) || !Text(o->order_local_id, sizeof o->order_local_id))
        Broken();
    if (texts && !Text(o->ticker, sizeof o->ticker)) Broken();
}

void CheckTrade(const OXATradeReport* t) {
    Touch(t);
    if (t == nullptr) return;
    if (!Side(t->side) || !PriceType(t->price_type) || !Business(t->business_type) || !Effect(t->position_effect) ||
        !Text(t->ticker, sizeof t->ticker) || !Text(t->exec_id, sizeof t->exec_id) ||
        !Text(t->branch_pbu, sizeof t->branch_pbu))
        Broken();
}

void CheckCombOrder(const OXAOptCombOrderInfo* o) {
    Touch(o);
    if (o == nullptr) return;
    if (!Side(o->side) || o->business_type != 13 || !Status(o->order_status) ||
        !Text(o->strategy_id, sizeof o->strategy_id) || !Text(o->comb_num, sizeof o->comb_num))
        Broken();
    CheckLegs(o->num_legs, o->legs);
}

void CheckCombTrade(const OXAOptCombTradeReport* t) {
    Touch(t);
    if (t == nullptr) return;
    if (!Side(t->side) || t->business_type != 13 || !Text(t->exec_id, sizeof t->exec_id) ||
        !Text(t->branch_pbu, sizeof t->branch_pbu))
        Broken();
    CheckLegs(t->num_legs, t->legs);
}

class CheckingSpi : public TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t) override {
        CheckOrder(o, true);
        CheckError(e);
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t) override { CheckTrade(t); }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t) override {
        Touch(c);
        CheckError(e);
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t) override {
        Touch(f);
        if (f && (f->transfer_type < 2 || f->transfer_type > 4)) Broken();
        CheckError(e);
    }
    void OnOrderExecute(OXAOrderExecuteInfo* x, OXAErrorInfo* e, uint64_t) override {
        Touch(x);
        if (x && (!Status(x->order_status) || (x->business_type != 11 && x->business_type != 15) ||
                  !Text(x->order_local_id, sizeof x->order_local_id)))
            Broken();
        CheckError(e);
    }
    void OnOptionCombinedOrderEvent(OXAOptCombOrderInfo* o, OXAErrorInfo* e, uint64_t) override {
        CheckCombOrder(o);
        CheckError(e);
    }
    void OnOptionCombinedTradeEvent(OXAOptCombTradeReport* t, uint64_t) override { CheckCombTrade(t); }

    void OnQueryOrder(OXAOrderInfo* o, OXAErrorInfo* e, int, bool, uint64_t) override {
        CheckOrder(o, false);  // the 16 ticker bytes are copied as they come
        CheckError(e);
    }
    void OnQueryOrderByPage(OXAOrderInfo* o, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        CheckOrder(o, false);
    }
    void OnQueryTrade(OXATradeReport* t, OXAErrorInfo* e, int, bool, uint64_t) override {
        CheckTrade(t);
        CheckError(e);
    }
    void OnQueryTradeByPage(OXATradeReport* t, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        CheckTrade(t);
    }
    void OnQueryPosition(OXAPositionInfo* p, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(p);
        if (p && (!Text(p->ticker, sizeof p->ticker) || !Text(p->ticker_name, sizeof p->ticker_name) ||
                  p->position_direction < 0 || p->position_direction > 3))
            Broken();
        CheckError(e);
    }
    void OnQueryPositionByPage(OXAPositionInfo* p, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        Touch(p);
    }
    void OnQueryAsset(OXAAssetInfo* a, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(a);
        CheckError(e);
    }
    void OnQueryFund(OXAFundInfo* f, OXAErrorInfo* e, int, uint64_t) override {
        Touch(f);
        CheckError(e);
    }
    void OnQueryFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(f);
        if (f && (f->oper_status < 0 || f->oper_status > 4)) Broken();
        CheckError(e);
    }
    void OnQueryOptionAuctionInfo(OXAOptionAuctionInfo* a, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(a);
        if (a && (!Text(a->ticker, sizeof a->ticker) || !Text(a->symbol, sizeof a->symbol) ||
                  !Text(a->contract_id, sizeof a->contract_id) || a->call_or_put < 1 || a->call_or_put > 2))
            Broken();
        CheckError(e);
    }
    void OnQueryOptionCombinedOrders(OXAOptCombOrderInfo* o, OXAErrorInfo* e, int, bool, uint64_t) override {
        CheckCombOrder(o);
        CheckError(e);
    }
    void OnQueryOptionCombinedTrades(OXAOptCombTradeReport* t, OXAErrorInfo* e, int, bool, uint64_t) override {
        CheckCombTrade(t);
        CheckError(e);
    }
    void OnQueryOptionCombinedPosition(OXAOptCombPositionInfo* p, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(p);
        if (p && (p->comb_info.num_legs < 0 || p->comb_info.num_legs > 4 ||
                  !Text(p->comb_info.comb_num, sizeof p->comb_info.comb_num)))
            Broken();
        CheckError(e);
    }
    void OnQueryOptionCombinedStrategyInfo(OXAOptCombStrategyInfo* s, OXAErrorInfo* e, int, bool,
                                           uint64_t) override {
        Touch(s);
        if (s && (s->leg_num < 0 || s->leg_num > 4 || !Text(s->strategy_id, sizeof s->strategy_id) ||
                  !Text(s->strategy_name, sizeof s->strategy_name)))
            Broken();
        CheckError(e);
    }
    void OnQueryOptionCombinedExecPosition(OXAOptCombExecPositionInfo* x, OXAErrorInfo* e, int, bool,
                                           uint64_t) override {
        Touch(x);
        if (x && (!Text(x->cntrt_code_1, sizeof x->cntrt_code_1) || !Text(x->cntrt_name_2, sizeof x->cntrt_name_2)))
            Broken();
        CheckError(e);
    }
};

struct Harness {
    std::vector<uint32_t> ids;  // every bound message id
    CheckingSpi spi;
    CIdGenerator generator{6};
    OXAErrorInfo error{};
    OptionTraderImpl* api = nullptr;
    bool fail_sends = false;

    Harness() {
        spdlog::set_default_logger(
            std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_mt>()));
        SockType.store(2);  // bus mode: push registration sends nothing
        api = new OptionTraderImpl();  // binds the handler table; kept for the whole run
        api->Init(nullptr, &generator, &error);
        api->RegisterSpi(&spi);
        api->SetSendHook([this](bool, uint64_t, uint32_t msg, const void* body, int len, int) {
            if (msg == 0x401) Answer(static_cast<const uint8_t*>(body), len);
            return fail_sends ? 1003 : 0;
        });
        if (api->Login(nullptr, 7001) != kSession) Broken();
        for (uint32_t id = 0; id < 0x10000; ++id)
            if (OPT::GetTradeDriver().GetHandler(id) != nullptr) ids.push_back(id);
        if (ids.empty()) Broken();
    }
    // The login answer, given inside the login's send.
    void Answer(const uint8_t* req, int len) {
        if (len < 8) return;
        std::vector<char> a(415, 0);
        std::memcpy(a.data(), req, 8);
        std::memcpy(a.data() + 8, &kSessionNo, 8);
        const uint32_t day = 20261215;
        std::memcpy(a.data() + 383, &day, 4);
        std::memcpy(a.data() + 387, &kNode, 4);
        std::memcpy(a.data() + 391, &kFundIndex, 8);
        api->OnRecv(0, 0x500, a.data(), static_cast<int>(a.size()), 0, 0, 0, 0, kNode);
    }
};

template <typename T>
void Put(std::vector<char>& b, std::size_t off, T v) {
    if (off + sizeof v <= b.size()) std::memcpy(b.data() + off, &v, sizeof v);
}

bool IsPush(uint32_t id) {
    std::size_t n = 0;
    const OPT::ReplayedPush* p = OPT::ReplayedPushes(&n);
    for (std::size_t i = 0; i < n; ++i)
        if (p[i].msg_id == id) return true;
    return false;
}

}  // namespace

extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    if (size < 7) return 0;
    const uint8_t flags = data[0];
    uint16_t pick;
    std::memcpy(&pick, data + 1, 2);
    int32_t request_id;
    std::memcpy(&request_id, data + 3, 4);
    const uint32_t id = h.ids[pick % h.ids.size()];
    std::vector<char> body(data + 7, data + size);
    if (flags & 1) {
        if (IsPush(id))
            Put(body, 16, kSession << 40 | uint64_t{6} << 32 | static_cast<uint32_t>(request_id));
        else
            Put(body, 0, id == 0x56a ? kSession : kSessionNo);
    }
    h.fail_sends = (flags & 2) != 0;
    // exactly the message's bytes on the heap: a read past them is caught
    std::unique_ptr<char[]> exact(new char[body.size() ? body.size() : 1]);
    if (!body.empty()) std::memcpy(exact.get(), body.data(), body.size());
    OPT::GetTradeDriver().onRecv(request_id, id, body.empty() ? nullptr : exact.get(), static_cast<int>(body.size()),
                                 0, false, 0, 0, (flags & 4) ? data[size - 1] : kNode);
    return 0;
}
