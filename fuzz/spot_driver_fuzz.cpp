// Drives the spot driver's dispatch with arbitrary bodies of arbitrary length under every message
// id a handler is bound to, as the receive thread would hand them over. The body sits in a heap
// block of exactly its length, so a read past the message is caught. The callbacks read every
// byte of what they get and check that each enumerated field holds a value the interface has.
//
// Input: byte 0 flags, bytes 1-2 the bound id (an index into the bound ids), bytes 3-6 the push
// sequence number, the rest the body. Flag 1 stamps the body with the session the harness logged
// in (its server session number for answers, its order id for pushes), so that the handlers go
// past the session lookup; flag 2 takes a rising sequence number instead of the given one, so
// that pushes pass the duplicate filter.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "api/SessionTables.h"
#include "core/spot_api/SpotConvert.h"
#include "core/spot_api/SpotTradeDriver.h"
#include "core/spot_api/SpotTraderImpl.h"

using namespace OXA::API;

namespace {

constexpr uint32_t kNode = 1;
constexpr uint32_t kFundIndex = 5;
constexpr uint32_t kSessionNo = 1;
constexpr uint64_t kSession = uint64_t{kNode} << 16 | kFundIndex;

[[noreturn]] void Broken() { __builtin_trap(); }

// Every byte of the record, so a record built from bytes it should not have read shows.
template <typename T>
void Touch(const T* rec) {
    if (rec == nullptr) return;
    volatile unsigned sum = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(rec);
    for (std::size_t i = 0; i < sizeof(T); ++i) sum = sum + p[i];
}

void CheckError(const OXAErrorInfo* e) {
    if (e == nullptr) Broken();
    if (std::memchr(e->error_msg, 0, sizeof e->error_msg) == nullptr) Broken();  // terminated
}

bool Market(int32_t m) { return (m >= 1 && m <= 5) || m == 99; }
bool Side(uint8_t s) { return s == 1 || s == 2 || s == 7 || s == 8 || s == 50; }
bool PriceType(int32_t p) { return p >= 1 && p <= 11; }
bool Business(uint8_t b) {
    return b == 0 || b == 1 || b == 2 || b == 3 || b == 6 || b == 14 || b == 16 || b == 255;
}
bool Text(const char* t, std::size_t n) { return std::memchr(t, 0, n) != nullptr; }

void CheckOrder(const OXAOrderInfo* o) {
    Touch(o);
    if (o == nullptr) return;
    if (!Market(o->market) || !Side(o->side) || !PriceType(o->price_type) || !Business(o->business_type) ||
        o->order_status < 0 || o->order_status > 7 || !Text(o->ticker, sizeof o->ticker) ||
        !Text(o->order_local_id, sizeof o->order_local_id))
        Broken();
}

void CheckTrade(const OXATradeReport* t) {
    Touch(t);
    if (t == nullptr) return;
    if (!Market(t->market) || !Side(t->side) || !PriceType(t->price_type) || !Business(t->business_type) ||
        !Text(t->ticker, sizeof t->ticker) || !Text(t->exec_id, sizeof t->exec_id) ||
        !Text(t->order_exch_id, sizeof t->order_exch_id))
        Broken();
}

class CheckingSpi : public TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo* o, OXAErrorInfo* e, uint64_t) override {
        CheckOrder(o);
        CheckError(e);
    }
    void OnTradeEvent(OXATradeReport* t, uint64_t) override { CheckTrade(t); }
    void OnCancelOrderEvent(OXAOrderCancelInfo* c, OXAErrorInfo* e, uint64_t) override {
        Touch(c);
        CheckError(e);
    }
    void OnFundTransfer(OXAFundTransferNotice* f, OXAErrorInfo* e, uint64_t) override {
        Touch(f);
        if (f && (f->transfer_type < 0 || f->transfer_type > 4)) Broken();
        CheckError(e);
    }
    void OnHoldingChangeEvent(OXAHoldingChangeInfo* h, uint64_t) override {
        Touch(h);
        if (h && !Market(h->market)) Broken();
    }
    void OnQueryOrder(OXAOrderInfo* o, OXAErrorInfo* e, int, bool, uint64_t) override {
        CheckOrder(o);
        CheckError(e);
    }
    void OnQueryOrderByPage(OXAOrderInfo* o, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        CheckOrder(o);
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
        if (p && (!Market(p->market) || !Text(p->ticker_name, sizeof p->ticker_name))) Broken();
        CheckError(e);
    }
    void OnQueryPositionByPage(OXAPositionInfo* p, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        Touch(p);
        if (p && !Text(p->ticker_name, sizeof p->ticker_name)) Broken();
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
        CheckError(e);
    }
    void OnQueryOtherServerFund(OXAOtherServerFundInfo* f, OXAErrorInfo* e, int, uint64_t) override {
        Touch(f);
        CheckError(e);
    }
    void OnQueryETF(OXAETFInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQueryETFBasket(OXAETFBasketInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQueryIPOInfoList(OXAIPOInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        if (r && (!Market(r->market) || !Text(r->name, sizeof r->name))) Broken();
        CheckError(e);
    }
    void OnQueryIPOQuotaInfo(OXAIPOQuotaInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQueryIssueInfoList(OXAIssueInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQuerySecurityInfo(OXASecurityInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        if (r && !Text(r->name, sizeof r->name)) Broken();
        CheckError(e);
    }
    void OnQueryYesterdayAsset(OXAYesterdayAssetInfo* r, OXAErrorInfo* e, int, bool, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQueryETFByPage(OXAETFInfo* r, int64_t, int64_t, int64_t, int, bool, uint64_t) override { Touch(r); }
    void OnQuerySecurityByPage(OXASecurityInfo* r, int64_t, int64_t, int64_t, int, bool, uint64_t) override {
        Touch(r);
    }
    void OnQueryHKConnectIndicativeExchangeRateInfo(OXAHKConnectIndicativeExchangeRateInfo* r, OXAErrorInfo* e,
                                                    int, uint64_t) override {
        Touch(r);
        CheckError(e);
    }
    void OnQueryHKConnectSpreadTable(OXAHKConnectSpreadTableInfo* r, OXAErrorInfo* e, int, bool,
                                     uint64_t) override {
        Touch(r);
        CheckError(e);
    }
};

struct Harness {
    std::vector<uint32_t> ids;  // every bound message id
    CheckingSpi spi;
    SpotTraderImpl* spot = nullptr;

    Harness() {
        // quiet and cheap: the handlers log on every unknown code
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_mt>()));
        spot = new SpotTraderImpl();  // binds the handler table; kept for the whole run
        spot->RegisterSpi(&spi);
        const SPOT::CTradeDriver& driver = SPOT::GetTradeDriver();
        for (uint32_t id = 0; id < SPOT::CTradeDriver::kHandlerCount; ++id)
            if (driver.GetHandler(id) != nullptr) ids.push_back(id);
        if (ids.empty()) Broken();
        LogIn();
    }
    // The session the stamped messages name; a login answer in the input may replace it.
    static void LogIn() {
        tagSessionInfo info{};
        info.nSessionID = kSessionNo;
        info.nFundAcc = 8001;
        info.nClientID = 3;
        info.nFundAccIndex = kFundIndex;
        info.nprotocol_type = 1;
        info.nApiSessionID = kSession;
        const SessionNoKey key{kNode, kSessionNo};
        RegisterSession(info, &key, true);
    }
};

template <typename T>
void Put(std::vector<char>& b, std::size_t off, T v) {
    if (off + sizeof v <= b.size()) std::memcpy(b.data() + off, &v, sizeof v);
}

void Stamp(uint32_t id, std::vector<char>& body, uint32_t seq) {
    const uint64_t order_id = SPOT::ComposeOXAIDForSession(kSession, 3, seq);
    switch (id) {
        case SPOT::kMsgOrderPush: Put(body, 97, order_id); break;
        case SPOT::kMsgCancelErrorPush: Put(body, 76, order_id); break;
        case SPOT::kMsgTradePush: Put(body, 112, order_id); break;
        case SPOT::kMsgFundTransferPush: Put(body, 91, order_id); break;
        case SPOT::kMsgHoldingChangePush:
            Put(body, 8, kFundIndex);
            Put(body, 62, static_cast<uint8_t>(kNode));
            break;
        case SPOT::kMsgCoreLoginRsp:
        case SPOT::kMsgSubscribeEnd:
        case SPOT::kMsgSyncPushRsp: break;
        default:
            if (id >= 0x20000)
                Put(body, 0, uint64_t{kSessionNo});
            else
                Put(body, 0, kSessionNo);
    }
}

}  // namespace

// The handlers' records are small and many: a short quarantine keeps the run well inside the
// fuzzer's memory limit without losing use-after-free detection on the paths under test.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    static uint32_t rising = 0;
    if (size < 7) return 0;
    const uint8_t flags = data[0];
    uint16_t pick;
    std::memcpy(&pick, data + 1, 2);
    int32_t seq;
    std::memcpy(&seq, data + 3, 4);
    const uint32_t id = h.ids[pick % h.ids.size()];
    if (flags & 2) seq = static_cast<int32_t>(++rising & 0x7fffffff);

    std::vector<char> body(data + 7, data + size);
    if (flags & 1) Stamp(id, body, static_cast<uint32_t>(seq));
    // a login answer files its session in the row of its node, 8 MB each: four nodes are enough
    // to reach every path and keep the run inside the fuzzer's memory limit
    if (id == SPOT::kMsgCoreLoginRsp && body.size() >= 52) Put(body, 48, static_cast<int32_t>(body[48] & 3));
    // exactly the message's bytes on the heap: a read past them is caught
    std::unique_ptr<char[]> exact(new char[body.size() ? body.size() : 1]);
    if (!body.empty()) std::memcpy(exact.get(), body.data(), body.size());
    SPOT::GetTradeDriver().onRecv(seq, static_cast<int32_t>(id), body.empty() ? nullptr : exact.get(),
                                  static_cast<int>(body.size()), 0, false, 0, 0,
                                  (flags & 4) ? data[size - 1] : kNode);
    if (flags & 8) Harness::LogIn();  // a login answer in an earlier input may have replaced it
    return 0;
}
