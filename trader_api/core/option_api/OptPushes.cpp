// The option pushes into the public records: order status (0x502), trades (0x510), cancel
// answers (0x506), lock and unlock answers (0x508), exercise answers (0x50c, 0x50e), combination
// orders and trades (0x50a, 0x511) and fund transfers (0x565). Live and replayed pushes take the
// same road. The session of a push is that of the order id it carries; time fields are copied
// as they come. Combination legs are read for at most four legs, and the record's leg count is
// the number of legs filled (0 to 4), so a caller that loops over it stays inside the record.
#include <spdlog/spdlog.h>

#include "api/IdGenerator.h"
#include "core/option_api/OptConvert.h"
#include "core/option_api/OptRequestPack.h"
#include "core/option_api/OptTradeDriver.h"

namespace OXA {
namespace API {
namespace OPT {

namespace {

constexpr std::size_t kWireErrorText = 64;
constexpr uint8_t kBusinessOption = 10;
constexpr uint8_t kBusinessExecute = 11;
constexpr uint8_t kBusinessLock = 12;
constexpr uint8_t kBusinessCombination = 13;
constexpr uint8_t kBusinessCombinedExecute = 15;
constexpr int32_t kStatusPartEnded = 3;
constexpr int32_t kStatusWorking = 4;
constexpr int32_t kStatusCancelled = 5;
constexpr int32_t kSubmitEnded = 6;

OXAErrorInfo ErrorOf(const RecordView& v, std::size_t code_at, std::size_t text_at) {
    OXAErrorInfo e{};
    e.error_id = v.At<int32_t>(code_at);
    v.Text(e.error_msg, text_at, kWireErrorText);
    return e;
}

void Entry(const char* name) { spdlog::debug("{}\n\n\n", name); }

// The legs of a combination push: leg i's characters at side_at + i, covered_at + i and
// call_at + i, its quantity at qty_at + 8i and its 9-byte security at security_at + 9i.
struct LegLayout {
    std::size_t count_at, side_at, covered_at, qty_at, security_at, call_at;
};

int32_t FillLegs(const RecordView& v, const LegLayout& l, OXAOptCombLeg (&legs)[kMaxLegs]) {
    const int16_t wire = v.At<int16_t>(l.count_at);
    const int32_t n = wire < 0 ? 0 : wire > kMaxLegs ? kMaxLegs : wire;
    if (n != wire) spdlog::warn("[{}] {} legs on the wire, {} taken", "FillLegs", wire, n);
    for (int32_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        OXAOptCombLeg& leg = legs[k];
        v.Text(leg.leg_security_id, l.security_at + 9 * k, 9);
        leg.leg_qty = static_cast<int32_t>(v.Low32(l.qty_at + 8 * k));
        const LegCodes codes = CombinationLeg(v.Char(l.side_at + k), v.Char(l.covered_at + k));
        leg.leg_side = codes.side;
        leg.leg_covered = codes.covered;
        leg.leg_cntr_type = ContractType(v.Char(l.call_at + k));
        spdlog::debug("{}                              leg_side                  : {}", i, v.Char(l.side_at + k));
        spdlog::debug("{}                              leg_order_qty             : {}", i,
                      v.At<int64_t>(l.qty_at + 8 * k));
    }
    return n;
}

#define OPT_PUSH(name)                                                                                       \
    void name(CTradeDriver&, int, int32_t msg_id, const char* data, int len, int, bool, int16_t, int16_t, \
              uint32_t)

OPT_PUSH(OnOrderEvent) {
    Entry("OnOrderEvent");
    if (static_cast<uint32_t>(msg_id) != kMsgOrderPush) return;
    const RecordView v(data, static_cast<std::size_t>(len));
    OXAOrderInfo o{};
    const uint64_t id = v.At<uint64_t>(16);
    o.order_oxa_id = id;
    o.order_client_id = v.Low32(24);
    o.order_cancel_client_id = v.Low32(431);
    o.order_cancel_oxa_id = v.At<uint64_t>(423);
    v.Text(o.ticker, 59, 9);
    o.market = v.At<int32_t>(68);
    o.price = v.At<double>(72);
    o.quantity = v.At<int64_t>(80);
    o.price_type = ConvertPriceType(v.Char(88), v.Char(89));
    o.side = SingleLegSide(v.Char(91), v.Char(90));
    o.position_effect = PositionEffect(v.Char(92));
    o.reserved1 = v.At<uint8_t>(421);
    o.client_id = GetClientIdByOXAID(id);
    o.business_type = kBusinessOption;
    const int64_t traded = v.At<int64_t>(101);
    o.qty_traded = traded;
    o.qty_left = WrappingSub(v.At<int64_t>(80), traded);
    o.insert_time = v.At<int64_t>(368);
    o.update_time = v.At<int64_t>(376);
    o.cancel_time = v.At<int64_t>(384);
    o.trade_amount = v.At<double>(109);
    DecimalText(o.order_local_id, v.At<int64_t>(40), 10);
    const int32_t status = OrderStatusTable(v.Char(117));
    o.order_status = status;
    o.order_submit_status = status == kStatusPartEnded || status == kStatusCancelled ? kSubmitEnded
                                                                                      : v.At<int32_t>(392);
    o.order_type = '0';
    OXAErrorInfo e = ErrorOf(v, 118, 304);
    spdlog::debug("Receive CounterRsp. OxaId={}, CancelOxaId={}, Status={}, SubmitStatus={}, OrderClientId={}", id,
                  v.At<uint64_t>(423), v.Char(117), v.At<int32_t>(392), v.At<uint64_t>(24));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderEvent(&o, &e, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnTradeEvent) {
    (void)msg_id;
    Entry("OnTradeEvent");
    const RecordView v(data, static_cast<std::size_t>(len));
    OXATradeReport t{};
    const uint64_t id = v.At<uint64_t>(16);
    t.order_oxa_id = id;
    t.order_client_id = v.Low32(24);
    v.Text(t.ticker, 59, 9);
    t.market = v.At<int32_t>(68);
    t.price_type = ConvertPriceType(v.Char(183), v.Char(184));
    v.Text(t.exec_id, 72, 17);
    t.price = v.At<double>(89);
    t.quantity = v.At<int64_t>(97);
    t.trade_time = v.At<int64_t>(105);
    t.trade_amount = v.At<double>(113);
    t.report_index = v.At<uint64_t>(121);
    DecimalTextUnsigned(t.order_exch_id, v.At<uint64_t>(32), sizeof t.order_exch_id);
    t.trade_type = '0';
    t.side = SingleLegSide(v.Char(129), v.Char(156));
    t.position_effect = PositionEffect(v.Char(130));
    t.reserved1 = v.At<uint8_t>(181);
    t.client_id = GetClientIdByOXAID(id);
    t.business_type = kBusinessOption;
    v.Text(t.branch_pbu, 132, 7);
    spdlog::debug("Match-Report:  seq_no                    : {}", v.At<uint64_t>(51));
    spdlog::debug("               oxa_id                    : {}", id);
    spdlog::debug("               exec_id                   : {}", t.exec_id);
    spdlog::debug("               last_qty                  : {}", v.At<int64_t>(97));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnTradeEvent(&t, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnCancelOrderEvent) {
    (void)msg_id;
    Entry("OnCancelOrderEvent");
    const RecordView v(data, static_cast<std::size_t>(len));
    OXAOrderCancelInfo c{};
    const uint64_t cancel_id = v.At<uint64_t>(16);
    c.order_cancel_oxa_id = cancel_id;
    c.order_oxa_id = v.At<uint64_t>(59);
    OXAErrorInfo e = ErrorOf(v, 144, 330);
    spdlog::debug("OXA_Option_Cancel_Order_Feed                  :");
    spdlog::debug("               error_code                     : {}", e.error_id);
    spdlog::debug("               order_cancel_oxa_id            : {}", cancel_id);
    spdlog::debug("               orig.oxa_id                    : {}", v.At<uint64_t>(59));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnCancelOrderEvent(&c, &e, GetSessionIdByOXAID(cancel_id));
}

OPT_PUSH(OnLockUnlockSecurity) {
    (void)msg_id;
    Entry("OnLockUnlockSecurity");
    const RecordView v(data, static_cast<std::size_t>(len));
    OXAOrderInfo o{};
    const uint64_t id = v.At<uint64_t>(16);
    o.order_oxa_id = id;
    o.order_client_id = v.Low32(24);
    v.Text(o.ticker, 67, 7);
    o.market = v.At<int32_t>(75);
    o.quantity = v.At<int64_t>(59);
    o.price_type = 11;
    o.side = 12;
    o.position_effect = LockPositionEffect(v.Char(74));
    o.business_type = kBusinessLock;
    o.qty_traded = v.At<int64_t>(87);
    o.qty_left = v.At<int64_t>(79);
    o.trade_amount = v.At<double>(95);
    o.insert_time = v.At<int64_t>(237);
    o.update_time = v.At<int64_t>(245);
    o.cancel_time = v.At<int64_t>(253);
    DecimalText(o.order_local_id, v.At<int64_t>(40), 10);
    o.order_status = OrderStatusTable(v.Char(103));
    o.order_submit_status = v.At<int32_t>(261);
    o.order_type = '0';
    o.reserved1 = v.At<uint8_t>(291);
    o.client_id = GetClientIdByOXAID(id);
    OXAErrorInfo e = ErrorOf(v, 104, 173);
    spdlog::debug("OnLockUnlockSecurity");
    spdlog::debug("error_id:{}", e.error_id);
    spdlog::debug("order_oxa_id:{}", id);
    spdlog::debug("order_status:{}", OrderStatusTable(v.Char(103)));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderEvent(&o, &e, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnOrderExecute) {
    (void)msg_id;
    Entry("OnOrderExecute");
    const RecordView v(data, static_cast<std::size_t>(len));
    OXAOrderExecuteInfo x{};
    const uint64_t id = v.At<uint64_t>(16);
    x.order_oxa_id = id;
    x.order_client_id = v.Low32(24);
    x.order_cancel_oxa_id = v.At<uint64_t>(409);
    x.order_cancel_client_id = v.Low32(417);
    v.Text(x.ticker, 16, 67, 8);
    x.market = v.At<int32_t>(76);
    const int64_t quantity = v.At<int64_t>(59);
    x.quantity = quantity;
    x.reserved1 = v.At<uint8_t>(407);
    x.client_id = GetClientIdByOXAID(id);
    x.business_type = kBusinessExecute;
    x.qty_left = v.At<int64_t>(80);
    x.insert_time = v.At<int64_t>(354);
    x.update_time = v.At<int64_t>(362);
    x.cancel_time = v.At<int64_t>(370);
    DecimalText(x.order_local_id, v.At<int64_t>(40), 10);
    const int32_t status = OrderStatusTable(v.Char(104));
    x.order_status = status;
    x.order_submit_status = v.At<int32_t>(378);
    if (status == kStatusCancelled) {
        x.order_submit_status = kSubmitEnded;
        x.qty_left = quantity;
    }
    x.order_type = '0';
    OXAErrorInfo e = ErrorOf(v, 286, 290);
    spdlog::debug("--------------------(Begin)Option::OnOrderExecute---------------");
    spdlog::debug("order_oxa_id:{}", id);
    spdlog::debug("order_status:{}", status);
    spdlog::debug("error_info.error_id:{}", e.error_id);
    spdlog::debug("--------------------(END)Option::OnOrderExecute-----------------");
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderExecute(&x, &e, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnOrderCombinedExecute) {
    (void)msg_id;
    Entry("OnOrderCombinedExecute");
    const RecordView v(data, static_cast<std::size_t>(len));
    spdlog::debug("OnOrderCombinedExecute:  session_no                : {}", v.At<uint64_t>(0));
    spdlog::debug("                         trade_qty                 : {}", v.At<int64_t>(97));
    OXAOrderExecuteInfo x{};
    const uint64_t id = v.At<uint64_t>(16);
    x.order_oxa_id = id;
    x.order_client_id = v.Low32(24);
    x.order_cancel_oxa_id = v.At<uint64_t>(599);
    x.order_cancel_client_id = v.Low32(607);
    v.Text(x.ticker, 16, 67, 8);
    v.Text(x.ticker + 16, 16, 76, 8);
    x.market = v.At<int32_t>(85);
    const int64_t quantity = v.At<int64_t>(59);
    x.quantity = quantity;
    x.qty_left = v.At<int64_t>(89);
    x.insert_time = v.At<int64_t>(544);
    x.update_time = v.At<int64_t>(552);
    x.cancel_time = v.At<int64_t>(560);
    x.reserved1 = v.At<uint8_t>(597);
    x.client_id = GetClientIdByOXAID(id);
    x.business_type = kBusinessCombinedExecute;
    DecimalText(x.order_local_id, v.At<int64_t>(40), 10);
    const int32_t status = OrderStatusTable(v.Char(113));
    x.order_status = status;
    x.order_submit_status = v.At<int32_t>(568);
    if (status == kStatusWorking) x.qty_left = 0;
    if (status == kStatusCancelled) {
        x.order_submit_status = kSubmitEnded;
        x.qty_left = quantity;
    }
    x.order_type = '0';
    OXAErrorInfo e = ErrorOf(v, 114, 480);
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOrderExecute(&x, &e, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnOptionCombinedOrderEvent) {
    (void)msg_id;
    Entry("OnOptionCombinedOrderEvent");
    const RecordView v(data, static_cast<std::size_t>(len));
    spdlog::debug("OnOptionCombinedOrderEvent:    session_no                : {}", v.At<uint64_t>(0));
    OXAOptCombOrderInfo o{};
    const uint64_t id = v.At<uint64_t>(16);
    o.order_oxa_id = id;
    o.order_client_id = v.Low32(24);
    o.market = v.At<int32_t>(67);
    o.quantity = v.At<int64_t>(59);
    o.side = CombinationSide(v.Char(71), v.Char(326));
    o.business_type = kBusinessCombination;
    o.qty_traded = v.At<int64_t>(188);
    o.qty_left = v.At<int64_t>(180);
    o.insert_time = v.At<int64_t>(273);
    o.update_time = v.At<int64_t>(281);
    o.cancel_time = v.At<int64_t>(289);
    o.trade_amount = v.At<double>(196);
    DecimalText(o.order_local_id, v.At<int64_t>(40), 10);
    o.order_status = OrderStatusTable(v.Char(204));
    o.order_submit_status = v.At<int32_t>(297);
    o.order_type = '3';
    v.Text(o.strategy_id, 72, 9);
    v.Text(o.comb_num, 81, 17);
    o.num_legs = FillLegs(v, LegLayout{98, 100, 104, 108, 140, 176}, o.legs);
    OXAErrorInfo e = ErrorOf(v, 205, 209);
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOptionCombinedOrderEvent(&o, &e, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnOptionCombinedTradeEvent) {
    (void)msg_id;
    Entry("OnOptionCombinedTradeEvent");
    const RecordView v(data, static_cast<std::size_t>(len));
    spdlog::debug("Combination_Trade:  seq_no                    : {}", v.At<uint64_t>(51));
    OXAOptCombTradeReport t{};
    const uint64_t id = v.At<uint64_t>(16);
    t.order_oxa_id = id;
    t.order_client_id = v.Low32(24);
    t.market = v.At<int32_t>(59);
    const uint64_t system_id = v.At<uint64_t>(32);
    t.system_id = system_id;
    v.Text(t.exec_id, 63, 17);
    t.quantity = v.At<int64_t>(80);
    t.trade_time = v.At<int64_t>(88);
    t.trade_amount = v.At<double>(96);
    t.report_index = v.At<uint64_t>(104);
    DecimalTextUnsigned(t.order_exch_id, system_id, sizeof t.order_exch_id);
    t.trade_type = '0';
    t.side = CombinationSide(v.Char(112), v.Char(229));
    t.business_type = kBusinessCombination;
    v.Text(t.branch_pbu, 221, 8);
    v.Text(t.strategy_id, 113, 9);
    v.Text(t.comb_num, 122, 17);
    t.num_legs = FillLegs(v, LegLayout{139, 141, 145, 149, 181, 217}, t.legs);
    spdlog::debug("order_oxa_id: {}", id);
    if (TraderSpi* spi = GetTraderSpi()) spi->OnOptionCombinedTradeEvent(&t, GetSessionIdByOXAID(id));
}

OPT_PUSH(OnFundTransfer) {
    (void)msg_id;
    Entry("OnFundTransfer");
    const RecordView v(data, static_cast<std::size_t>(len));
    OXAFundTransferNotice f{};
    const uint64_t serial = v.At<uint64_t>(16);
    f.order_oxa_id = serial;
    f.transfer_type = TransferType(v.Char(40));
    f.amount = v.At<double>(32);
    f.oper_status = static_cast<int32_t>(v.Char(117)) - '0';
    f.transfer_time = v.At<uint64_t>(109);
    OXAErrorInfo e = ErrorOf(v, 41, 45);
    spdlog::debug("OnFundTransfer:  session_no       : {}", v.At<uint64_t>(0));
    spdlog::debug("                 serial_no        : {}", serial);
    spdlog::debug("                 transfer_time    : {}\n", v.At<uint64_t>(109));
    if (TraderSpi* spi = GetTraderSpi()) spi->OnFundTransfer(&f, &e, GetSessionIdByOXAID(serial));
}

#undef OPT_PUSH

constexpr uint32_t U(std::size_t v) { return static_cast<uint32_t>(v); }

const HandlerBinding kPushHandlers[] = {
    {kMsgOrderPush, &OnOrderEvent, U(kOrderPushNeed)},
    {kMsgTradePush, &OnTradeEvent, U(kTradePushNeed)},
    {kMsgCancelPush, &OnCancelOrderEvent, U(kCancelPushNeed)},
    {kMsgFundTransferPush, &OnFundTransfer, U(kFundTransferPushNeed)},
    {kMsgCombOrderPush, &OnOptionCombinedOrderEvent, U(kCombOrderPushNeed)},
    {kMsgCombTradePush, &OnOptionCombinedTradeEvent, U(kCombTradePushNeed)},
    {kMsgExecutePush, &OnOrderExecute, U(kExecutePushNeed)},
    {kMsgCombinedExecutePush, &OnOrderCombinedExecute, U(kCombinedExecutePushNeed)},
    {kMsgLockPush, &OnLockUnlockSecurity, U(kLockPushNeed)},
};

}  // namespace

const HandlerBinding* PushHandlers(std::size_t* count) noexcept {
    if (count) *count = sizeof kPushHandlers / sizeof kPushHandlers[0];
    return kPushHandlers;
}

}  // namespace OPT
}  // namespace API
}  // namespace OXA
