#include "gateway_sim/SimSpotQueries.h"

#include <algorithm>
#include <cstring>

#include "gateway_sim/GatewaySim.h"

namespace oxa_sim {
namespace {


using Records = std::vector<std::vector<std::uint8_t>>;

// What every answer echoes of its request.
struct Asked {
  std::uint64_t session_no = 0;
  std::uint64_t request_no = 0;
  std::uint64_t account = 0;
  std::uint8_t client_id = 0;
};

Asked classic_asked(const WireReader& r) {
  Asked a;
  a.session_no = r.get_uint(qry_head::kSessionNo).value_or(0);
  a.request_no = r.get_uint(qry_head::kRequestId).value_or(0);
  a.account = r.get_uint(qry_head::kFundAccount).value_or(0);
  return a;
}

Asked ext_asked(const WireReader& r) {
  Asked a;
  a.session_no = r.get_uint(qry_ext::kSessionNo).value_or(0);
  a.request_no = r.get_uint(qry_ext::kRequestNo).value_or(0);
  a.account = r.get_uint(qry_ext::kFundAccount).value_or(0);
  a.client_id = static_cast<std::uint8_t>(r.get_uint(qry_ext::kClientId).value_or(0));
  return a;
}

std::int64_t as_i64(std::uint64_t v) { return static_cast<std::int64_t>(v); }
std::int32_t as_i32(std::uint64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// The records of one page: from start (0 under ignore_start), at most count plus the overfill.
Records page_of(const Records& all, std::int64_t start, std::int64_t count, const SpotQueryPaging& p) {
  if (p.ignore_start || start < 0) start = 0;
  if (count < 0) count = 0;
  Records out;
  const auto first = static_cast<std::size_t>(start);
  if (first >= all.size()) return out;
  const std::size_t want = static_cast<std::size_t>(count) + p.overfill;
  const std::size_t n = std::min(all.size() - first, want);
  out.assign(all.begin() + static_cast<std::ptrdiff_t>(first),
             all.begin() + static_cast<std::ptrdiff_t>(first + n));
  return out;
}

std::int64_t effective_start(std::int64_t start, const SpotQueryPaging& p) {
  return p.ignore_start || start < 0 ? 0 : start;
}

// Sends the messages of one answer in order, under the request's reply plan.
void send_all(const Exchange& ex, std::uint32_t msg_id, Records bodies, const SpotQueryPaging& p) {
  for (auto& b : bodies)
    if (p.cut_to != 0 && b.size() > p.cut_to) b.resize(p.cut_to);
  std::vector<std::uint8_t> leading;
  for (std::size_t i = 0; i + 1 < bodies.size(); ++i) {
    const auto f = encode_frame(kResponse, msg_id, ex.request.request_id, bodies[i], ex.request.async_flag);
    leading.insert(leading.end(), f.begin(), f.end());
  }
  ex.answer_after(std::move(leading), msg_id, std::move(bodies.back()));
}

// Classic answers: records back to back after the 17-byte head, split into messages of at most
// per_message records (single: only the first record), is_last on the last message.
void classic(const Exchange& ex, std::uint32_t msg_id, const Asked& a, const Records& recs, bool single,
             const SpotQueryPaging& p) {
  namespace h = ans_classic;
  Records list = recs;
  if (single && list.size() > 1) list.resize(1);
  std::size_t per = p.per_message == 0 ? list.size() : p.per_message;
  if (per == 0) per = 1;
  Records bodies;
  std::size_t i = 0;
  do {
    const std::size_t n = std::min(per, list.size() - i);
    std::size_t len = h::kLength;
    for (std::size_t k = 0; k < n; ++k) len += list[i + k].size();
    WireWriter w(len);
    w.put_uint(h::kSessionNo, a.session_no);
    w.put_uint(h::kRequestId, a.request_no);
    w.put_uint(h::kLast, i + n >= list.size() ? 1 : 0);
    w.put_int(h::kError, p.error);
    w.put_uint(h::kCount, n);
    std::size_t at = h::kLength;
    for (std::size_t k = 0; k < n; ++k) {
      const auto& r = list[i + k];
      w.put_bytes(WireField{"record", at, r.size()}, r.data(), r.size());
      at += r.size();
    }
    bodies.push_back(w.take());
    i += n;
  } while (i < list.size());
  send_all(ex, msg_id, std::move(bodies), p);
}

// Classic by-page answers: one record per message with its index in the query and its
// reference (records had before it plus one); a query without records gets one empty message.
void classic_paged(const Exchange& ex, std::uint32_t msg_id, const Records& all, const std::vector<std::string>& names,
                   const SpotQueryPaging& p) {
  namespace h = ans_page;
  const WireReader r(ex.request.body);
  const std::uint64_t session_no = r.get_uint(qry_page::kSessionNo).value_or(0);
  const std::uint64_t request_no = r.get_uint(qry_page::kRequestId).value_or(0);
  const std::int64_t req_count = as_i64(r.get_uint(qry_page::kReqCount).value_or(0));
  const std::int64_t start = effective_start(as_i64(r.get_uint(qry_page::kReference).value_or(0)), p);
  const Records page = page_of(all, start, req_count, p);
  auto head = [&](WireWriter& w, std::size_t index, std::uint64_t reference, bool last) {
    w.put_uint(h::kSessionNo, session_no);
    w.put_uint(h::kRequestId, request_no);
    w.put_uint(h::kIndex, index);
    w.put_int(h::kReqCount, req_count);
    w.put_uint(h::kReference, reference);
    w.put_uint(h::kLast, last ? 1 : 0);
  };
  Records bodies;
  if (page.empty()) {
    WireWriter w(h::kLength);
    head(w, 0, 0, true);
    bodies.push_back(w.take());
  }
  for (std::size_t i = 0; i < page.size(); ++i) {
    const std::size_t pos = static_cast<std::size_t>(start) + i;
    const std::string name = pos < names.size() ? names[pos] : std::string();
    const std::size_t len = h::kLength + page[i].size() + (name.empty() ? 0 : name.size() + 1);
    WireWriter w(len);
    head(w, i + 1, pos + 1, i + 1 == page.size());
    w.put_bytes(WireField{"record", h::kLength, page[i].size()}, page[i].data(), page[i].size());
    if (!name.empty()) w.put_text(WireField{"name", h::kLength + page[i].size(), name.size() + 1}, name);
    bodies.push_back(w.take());
  }
  send_all(ex, msg_id, std::move(bodies), p);
}

// Extended answers: one message, each record its position in the list and its body, at the
// stride (a stride shorter than the record cuts it).
std::vector<std::uint8_t> extended(const Asked& a, std::uint32_t page_size, std::int64_t start, const Records& page,
                                   std::size_t body_len, std::uint32_t stride, std::int32_t error,
                                   std::optional<std::uint32_t> stride_field = std::nullopt) {
  namespace h = ans_ext;
  if (stride == 0) stride = static_cast<std::uint32_t>(h::kBodyAt + body_len);
  WireWriter w(h::kLength + page.size() * stride);
  w.put_uint(h::kSessionNo, a.session_no);
  w.put_uint(h::kRequestNo, a.request_no);
  w.put_uint(h::kFundAccount, a.account);
  w.put_uint(h::kClientId, a.client_id);
  w.put_int(h::kError, error);
  w.put_uint(h::kPageSize, page_size);
  w.put_uint(h::kCount, page.size());
  w.put_uint(h::kStride, stride_field.value_or(stride));
  for (std::size_t i = 0; i < page.size(); ++i) {
    const std::size_t at = h::kLength + i * stride;
    w.put_uint(WireField{"position", at, 4}, static_cast<std::uint64_t>(start) + i);
    const std::size_t room = stride > h::kBodyAt ? stride - h::kBodyAt : 0;
    w.put_bytes(WireField{"body", at + h::kBodyAt, std::min<std::size_t>(room, page[i].size())}, page[i].data(),
                page[i].size());
  }
  return w.take();
}

// A paged extended request answered from all: the page asked for, one message.
void extended_paged(const Exchange& ex, std::uint32_t msg_id, const Records& all, std::size_t body_len,
                    std::uint32_t stride, const SpotQueryPaging& p) {
  const WireReader r(ex.request.body);
  const Asked a = ext_asked(r);
  const auto count = static_cast<std::uint32_t>(r.get_uint(qry_ext::kCount).value_or(0));
  const std::int64_t start = effective_start(as_i32(r.get_uint(qry_ext::kStart).value_or(0)), p);
  const Records page = page_of(all, start, count, p);
  send_all(ex, msg_id, {extended(a, count, start, page, body_len, stride, p.error)}, p);
}

std::string text_of(const std::vector<std::uint8_t>& rec, const WireField& f) {
  return WireReader(rec).get_text(f).value_or("");
}

std::uint64_t uint_of(const std::vector<std::uint8_t>& rec, const WireField& f) {
  return WireReader(rec).get_uint(f).value_or(0);
}

bool order_open(const std::vector<std::uint8_t>& rec) {
  const auto status = static_cast<char>(uint_of(rec, spot_order_rec::kStatus));
  return status != spot_code::kStatusFilled && status != spot_code::kStatusCancelled;
}

}  // namespace

// ---- records ----------------------------------------------------------------------------

std::vector<std::uint8_t> position_record(const PositionRow& r) {
  namespace f = rec_position;
  WireWriter w(f::kLength);
  w.put_text(f::kTicker, r.ticker);
  w.put_int(f::kYesterday, r.yesterday);
  w.put_int(f::kTotal, r.total);
  w.put_int(f::kSellable, r.sellable);
  w.put_int(f::kRedeemable, r.redeemable);
  w.put_int(f::kRedeemableAlt, r.redeemable_alt);
  w.put_double(f::kAvgPrice, r.avg_price);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  return w.take();
}

std::vector<std::uint8_t> asset_record(const AssetRow& r, bool yesterday) {
  namespace f = rec_asset;
  WireWriter w(f::kLength);
  w.put_double(f::kYesterdayBalance, r.yesterday_balance);
  // a negative amount here is how the client tells yesterday's records from today's
  w.put_double(f::kAvailable, yesterday ? -1.0 : r.available);
  w.put_double(f::kBalance, r.balance);
  w.put_double(f::kTotal, r.total);
  w.put_double(f::kFrozen, r.frozen);
  w.put_double(f::kMarketValue, r.market_value);
  w.put_double(f::kFundValue, r.fund_value);
  return w.take();
}

std::vector<std::uint8_t> fund_record(const FundRow& r) {
  namespace f = rec_fund;
  WireWriter w(f::kLength);
  w.put_double(f::kAvailable, r.available);
  w.put_double(f::kFrozen, r.frozen);
  w.put_double(f::kFetchable, r.fetchable);
  w.put_double(f::kInitial, r.initial);
  return w.take();
}

std::vector<std::uint8_t> etf_record(const EtfRow& r) {
  namespace f = rec_etf;
  WireWriter w(f::kLength);
  w.put_text(f::kFundCode, r.fund_code);
  w.put_text(f::kTicker, r.ticker);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  w.put_uint(f::kUnit, r.unit);
  w.put_uint(f::kSubscribeFlag, static_cast<std::uint8_t>(r.subscribe_flag));
  w.put_uint(f::kRedeemFlag, static_cast<std::uint8_t>(r.redeem_flag));
  w.put_double(f::kCashComponent, r.cash_component);
  w.put_double(f::kNav, r.nav);
  w.put_double(f::kNavPerUnit, r.nav_per_unit);
  w.put_double(f::kEstimatedCash, r.estimated_cash);
  w.put_double(f::kMaxCashRatio, r.max_cash_ratio);
  w.put_text(f::kFlags, r.flags);
  return w.take();
}

std::vector<std::uint8_t> basket_record(const BasketRow& r) {
  namespace f = rec_basket;
  WireWriter w(f::kLength);
  w.put_text(f::kEtf, r.etf);
  w.put_uint(f::kEtfMarket, static_cast<std::uint8_t>(r.etf_market));
  w.put_text(f::kComponent, r.component);
  w.put_uint(f::kComponentMarket, static_cast<std::uint8_t>(r.component_market));
  w.put_int(f::kQuantity, r.quantity);
  w.put_uint(f::kReplaceFlag, static_cast<std::uint8_t>(r.replace_flag));
  w.put_double(f::kPremium, r.premium);
  w.put_double(f::kDiscount, r.discount);
  w.put_double(f::kAmount, r.amount);
  w.put_double(f::kRedeemAmount, r.redeem_amount);
  return w.take();
}

std::vector<std::uint8_t> ipo_record(const IpoRow& r) {
  namespace f = rec_ipo;
  WireWriter w(f::kLength);
  w.put_text(f::kTicker, r.ticker);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  w.put_bytes(f::kType, reinterpret_cast<const std::uint8_t*>(r.type), 2);
  w.put_double(f::kPrice, r.price);
  w.put_int(f::kUnit, r.unit);
  w.put_text(f::kName, r.name);
  w.put_double(f::kMinQty, r.min_qty);
  w.put_double(f::kMaxQty, r.max_qty);
  w.put_int(f::kDate, r.date);
  return w.take();
}

std::vector<std::uint8_t> ipo_quota_record(const IpoQuotaRow& r) {
  namespace f = rec_ipo_quota;
  WireWriter w(f::kLength);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  w.put_uint(f::kQuota, r.quota);
  w.put_uint(f::kTechQuota, r.tech_quota);
  return w.take();
}

std::vector<std::uint8_t> issue_record(const IssueRow& r) {
  namespace f = rec_issue;
  WireWriter w(f::kLength);
  w.put_text(f::kTicker, r.ticker);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  w.put_bytes(f::kType, reinterpret_cast<const std::uint8_t*>(r.type), 2);
  w.put_double(f::kPrice, r.price);
  w.put_uint(f::kMaxQty, r.max_qty);
  return w.take();
}

std::vector<std::uint8_t> security_record(const SecurityRow& r) {
  namespace f = rec_security;
  WireWriter w(f::kLength);
  w.put_text(f::kTicker, r.ticker);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(r.market));
  w.put_bytes(f::kType, reinterpret_cast<const std::uint8_t*>(r.type), 2);
  w.put_uint(f::kSuspended, r.suspended);
  w.put_double(f::kPreClose, r.pre_close);
  w.put_double(f::kUpperLimit, r.upper_limit);
  w.put_double(f::kLowerLimit, r.lower_limit);
  w.put_int(f::kLotSize, r.lot_size);
  w.put_double(f::kTickSize, r.tick_size);
  w.put_text(f::kName, r.name);
  return w.take();
}

std::vector<std::uint8_t> spread_record(const SpreadRow& r) {
  namespace f = rec_spread;
  WireWriter w(f::kLength);
  w.put_double(f::kFrom, r.from);
  w.put_double(f::kTo, r.to);
  w.put_double(f::kTick, r.tick);
  return w.take();
}

SpotBook demo_spot_book() {
  SpotBook b;
  PositionRow p;
  p.ticker = "600519";
  p.market = '2';
  p.total = p.sellable = p.yesterday = 300;
  p.avg_price = 1650.25;
  b.positions.push_back(p);
  p.ticker = "000001";
  p.market = '1';
  p.total = p.yesterday = 5000;
  p.sellable = 4000;
  p.avg_price = 11.02;
  b.positions.push_back(p);
  AssetRow a;
  a.total = 1250000.0;
  a.available = 480000.0;
  a.balance = 500000.0;
  a.frozen = 20000.0;
  a.market_value = 750000.0;
  b.asset = a;
  a.available = 0;
  a.total = 1200000.0;
  b.yesterday_assets.push_back(a);
  FundRow f;
  f.available = 480000.0;
  f.frozen = 20000.0;
  f.fetchable = 460000.0;
  f.initial = 500000.0;
  b.fund = f;
  b.other_server_fund = 15000.0;
  EtfRow e;
  e.fund_code = "510051";
  e.ticker = "510050";
  e.market = '2';
  e.unit = 900000;
  e.nav_per_unit = 2.731;
  b.etfs.push_back(e);
  for (const char* c : {"600000", "600036", "601318"}) {
    BasketRow k;
    k.etf = "510050";
    k.etf_market = '2';
    k.component = c;
    k.component_market = '2';
    k.quantity = 1000;
    b.baskets.push_back(k);
  }
  IpoRow i;
  i.ticker = "732001";
  i.name = "NEW ISSUE A";
  i.market = '2';
  i.price = 18.5;
  i.unit = 500;
  b.ipos.push_back(i);
  b.ipo_quotas.push_back({'1', 5000, 0});
  b.ipo_quotas.push_back({'2', 6000, 2000});
  IssueRow s;
  s.ticker = "732001";
  s.market = '2';
  s.price = 18.5;
  s.max_qty = 12000;
  b.issues.push_back(s);
  SecurityRow sec;
  sec.ticker = "600000";
  sec.market = '2';
  sec.pre_close = 10.5;
  sec.upper_limit = 11.55;
  sec.lower_limit = 9.45;
  sec.lot_size = 100;
  sec.tick_size = 0.01;
  sec.name = "PUDONG BANK";
  b.securities.push_back(sec);
  b.spreads.push_back({0.01, 0.25, 0.001});
  b.spreads.push_back({0.25, 0.5, 0.005});
  b.hk_rate = std::array<double, 4>{0.9012, 0.9188, 0.9100, 0.9105};
  return b;
}

// ---- the server -------------------------------------------------------------------------

void SpotQueryServer::set_book(const SpotBook& b) {
  std::lock_guard<std::mutex> lk(mu_);
  book_ = b;
}

SpotBook SpotQueryServer::book() const {
  std::lock_guard<std::mutex> lk(mu_);
  return book_;
}

void SpotQueryServer::set_paging(const SpotQueryPaging& p) {
  std::lock_guard<std::mutex> lk(mu_);
  paging_ = p;
}

const std::vector<std::uint32_t>& SpotQueryServer::request_ids() {
  static const std::vector<std::uint32_t> ids = {
      kMsgQryOrders,      kMsgQryTrades,     kMsgQryPosition,     kMsgQryFund,        kMsgQryIpoQuota,
      kMsgQrySecurity,    kMsgQryFundTransfer, kMsgQryAsset,      kMsgQryIssue,       kMsgQryPositionPage,
      kMsgQryOrdersPage,  kMsgQryTradesPage, kMsgQryEtf,          kMsgQryOtherFund,   kMsgQryEtfPage,
      kMsgQrySecurityPage, kMsgQryHkRate,    kMsgQryEtfBasket,    kMsgQryHkSpread,    kMsgQryIpoList};
  return ids;
}

void SpotQueryServer::on_query(const Exchange& ex) {
  SpotBook book;
  SpotQueryPaging p;
  {
    std::lock_guard<std::mutex> lk(mu_);
    book = book_;
    p = paging_;
  }
  const WireReader r(ex.request.body);
  const std::uint32_t id = ex.request.msg_id;
  const SpotOrderServer& orders = sim_.spot_orders();

  auto positions = [&](std::uint64_t account, std::vector<std::string>* names) {
    std::vector<PositionRow> rows = book.positions;
    for (const auto& h : orders.holdings(account)) {
      auto it = std::find_if(rows.begin(), rows.end(), [&](const PositionRow& x) { return x.ticker == h.ticker; });
      if (it != rows.end()) {
        it->total += h.quantity;
        continue;
      }
      PositionRow row;
      row.ticker = h.ticker;
      row.market = h.market;
      row.total = h.quantity;
      row.sellable = 0;  // bought today
      row.avg_price = h.last_price;
      rows.push_back(row);
    }
    Records out;
    for (const auto& row : rows) {
      out.push_back(position_record(row));
      if (names) names->push_back(row.name);
    }
    return out;
  };
  auto each = [](const auto& rows, auto make) {
    Records out;
    for (const auto& row : rows) out.push_back(make(row));
    return out;
  };

  switch (id) {
    case kMsgQryOrders: {
      const Asked a = classic_asked(r);
      const auto seq = static_cast<std::uint32_t>(r.get_uint(qry_orders::kSequence).value_or(0));
      const std::string ticker = r.get_text(qry_orders::kTicker).value_or("");
      const bool open_only = r.get_uint(qry_orders::kScope).value_or('2') == '0';
      const std::int32_t client = as_i32(r.get_uint(qry_orders::kClientId).value_or(0xffffffff));
      Records out;
      for (auto& rec : orders.order_records(a.account)) {
        const std::uint64_t oid = uint_of(rec, spot_order_rec::kOrderId);
        if (seq != 0 && static_cast<std::uint32_t>(oid) != seq) continue;
        if (client != -1 && static_cast<std::int32_t>((oid >> 32) & 0xff) != client) continue;
        if (!ticker.empty() && text_of(rec, spot_order_rec::kTicker) != ticker) continue;
        if (open_only && !order_open(rec)) continue;
        out.push_back(std::move(rec));
      }
      classic(ex, kMsgAnsOrders, a, out, false, p);
      return;
    }
    case kMsgQryTrades: {
      const Asked a = classic_asked(r);
      const auto seq = static_cast<std::uint32_t>(r.get_uint(qry_trades::kSequence).value_or(0));
      const std::string ticker = r.get_text(qry_trades::kTicker).value_or("");
      const std::int32_t client = as_i32(r.get_uint(qry_trades::kClientId).value_or(0xffffffff));
      Records out;
      for (auto& rec : orders.trade_records(a.account)) {
        const std::uint64_t oid = uint_of(rec, spot_trade_rec::kOrderId);
        if (seq != 0 && static_cast<std::uint32_t>(oid) != seq) continue;
        if (client != -1 && static_cast<std::int32_t>((oid >> 32) & 0xff) != client) continue;
        if (!ticker.empty() && text_of(rec, spot_trade_rec::kTicker) != ticker) continue;
        out.push_back(std::move(rec));
      }
      classic(ex, kMsgAnsTrades, a, out, false, p);
      return;
    }
    case kMsgQryPosition: {
      const Asked a = classic_asked(r);
      const std::string ticker = r.get_text(qry_position::kTicker).value_or("");
      Records out;
      for (auto& rec : positions(a.account, nullptr))
        if (ticker.empty() || text_of(rec, rec_position::kTicker) == ticker) out.push_back(std::move(rec));
      classic(ex, kMsgAnsPosition, a, out, false, p);
      return;
    }
    case kMsgQryPositionPage: {
      const std::uint64_t account = r.get_uint(qry_page::kFundAccount).value_or(0);
      std::vector<std::string> names;
      const Records all = positions(account, &names);
      classic_paged(ex, kMsgAnsPositionPage, all, names, p);
      return;
    }
    case kMsgQryOrdersPage:
      classic_paged(ex, kMsgAnsOrdersPage, orders.order_records(r.get_uint(qry_page::kFundAccount).value_or(0)), {},
                    p);
      return;
    case kMsgQryTradesPage:
      classic_paged(ex, kMsgAnsTradesPage, orders.trade_records(r.get_uint(qry_page::kFundAccount).value_or(0)), {},
                    p);
      return;
    case kMsgQryAsset: {
      const Asked a = classic_asked(r);
      const bool yesterday = r.get_uint(qry_asset::kWhich).value_or('2') == '1';
      Records out;
      if (yesterday) {
        out = each(book.yesterday_assets, [](const AssetRow& x) { return asset_record(x, true); });
      } else if (book.asset) {
        out.push_back(asset_record(*book.asset, false));
      }
      classic(ex, kMsgAnsAsset, a, out, !yesterday, p);
      return;
    }
    case kMsgQryFund: {
      Records out;
      if (book.fund) out.push_back(fund_record(*book.fund));
      classic(ex, kMsgAnsFund, classic_asked(r), out, true, p);
      return;
    }
    case kMsgQryOtherFund: {
      Records out;
      if (book.other_server_fund) {
        WireWriter w(rec_other_fund::kLength);
        w.put_double(rec_other_fund::kAmount, *book.other_server_fund);
        out.push_back(w.take());
      }
      classic(ex, kMsgAnsOtherFund, classic_asked(r), out, true, p);
      return;
    }
    case kMsgQryFundTransfer: {
      const Asked a = classic_asked(r);
      const auto seq = static_cast<std::uint32_t>(r.get_uint(qry_fund_transfer::kSequence).value_or(0));
      Records out;
      for (auto& rec : orders.transfer_records(a.account)) {
        if (seq != 0 && static_cast<std::uint32_t>(uint_of(rec, spot_transfer::kSequence)) != seq) continue;
        rec.resize(rec_fund_transfer::kLength);
        out.push_back(std::move(rec));
      }
      classic(ex, kMsgAnsFundTransfer, a, out, false, p);
      return;
    }
    case kMsgQryIpoQuota:
      classic(ex, kMsgAnsIpoQuota, classic_asked(r), each(book.ipo_quotas, ipo_quota_record), false, p);
      return;
    case kMsgQryIssue:
      classic(ex, kMsgAnsIssue, classic_asked(r), each(book.issues, issue_record), false, p);
      return;
    case kMsgQryEtf:
    case kMsgQrySecurity: {
      const Asked a = classic_asked(r);
      const std::string ticker = r.get_text(qry_ticker::kTicker).value_or("");
      const auto market = static_cast<char>(r.get_uint(qry_ticker::kMarket).value_or(0));
      Records out;
      if (id == kMsgQryEtf) {
        for (const auto& e : book.etfs)
          if (ticker.empty() || (e.ticker == ticker && e.market == market)) out.push_back(etf_record(e));
        classic(ex, kMsgAnsEtf, a, out, false, p);
      } else {
        for (const auto& s : book.securities)
          if (s.ticker == ticker && s.market == market) out.push_back(security_record(s));
        classic(ex, kMsgAnsSecurity, a, out, true, p);
      }
      return;
    }
    case kMsgQryEtfPage:
      extended_paged(ex, kMsgAnsEtfPage, each(book.etfs, etf_record), rec_etf::kLength, p.stride, p);
      return;
    case kMsgQrySecurityPage:
      extended_paged(ex, kMsgAnsSecurityPage, each(book.securities, security_record), rec_security::kLength,
                     p.stride, p);
      return;
    case kMsgQryEtfBasket: {
      const std::string etf = r.get_text(qry_ext::kBasketEtf).value_or("");
      std::vector<BasketRow> rows;
      for (const auto& b : book.baskets)
        if (etf.empty() || b.etf == etf) rows.push_back(b);
      extended_paged(ex, kMsgAnsEtfBasket, each(rows, basket_record), rec_basket::kLength, p.stride, p);
      return;
    }
    case kMsgQryIpoList: {
      // records sit at the fixed distance; only the head's stride field follows the script
      const Asked a = ext_asked(r);
      const auto count = static_cast<std::uint32_t>(r.get_uint(qry_ext::kCount).value_or(0));
      const std::int64_t start = effective_start(as_i32(r.get_uint(qry_ext::kStart).value_or(0)), p);
      const Records page = page_of(each(book.ipos, ipo_record), start, count, p);
      std::optional<std::uint32_t> field;
      if (p.stride != 0) field = p.stride;
      send_all(ex, kMsgAnsIpoList,
               {extended(a, count, start, page, rec_ipo::kLength, static_cast<std::uint32_t>(rec_ipo::kStride),
                         p.error, field)},
               p);
      return;
    }
    case kMsgQryHkRate: {
      const Asked a = ext_asked(r);
      WireWriter w(ans_hk_rate::kLength);
      w.put_uint(ans_ext::kSessionNo, a.session_no);
      w.put_uint(ans_ext::kRequestNo, a.request_no);
      w.put_uint(ans_ext::kFundAccount, a.account);
      w.put_uint(ans_ext::kClientId, a.client_id);
      w.put_int(ans_ext::kError, book.hk_rate ? p.error : book.hk_rate_error);
      if (book.hk_rate)
        for (std::size_t i = 0; i < 4; ++i) w.put_double(ans_hk_rate::kRates[i], (*book.hk_rate)[i]);
      send_all(ex, kMsgAnsHkRate, {w.take()}, p);
      return;
    }
    case kMsgQryHkSpread: {
      const Asked a = ext_asked(r);
      const Records recs = each(book.spreads, spread_record);
      WireWriter w(ans_hk_spread::kHeadLength + recs.size() * rec_spread::kLength);
      w.put_uint(ans_ext::kSessionNo, a.session_no);
      w.put_uint(ans_ext::kRequestNo, a.request_no);
      w.put_uint(ans_ext::kFundAccount, a.account);
      w.put_uint(ans_ext::kClientId, a.client_id);
      w.put_int(ans_ext::kError, p.error);
      w.put_uint(ans_hk_spread::kTickerType, r.get_uint(qry_ext::kSpreadType).value_or(0));
      w.put_uint(ans_hk_spread::kCount, recs.size());
      for (std::size_t i = 0; i < recs.size(); ++i)
        w.put_bytes(WireField{"spread", ans_hk_spread::kHeadLength + i * rec_spread::kLength, rec_spread::kLength},
                    recs[i].data(), recs[i].size());
      send_all(ex, kMsgAnsHkSpread, {w.take()}, p);
      return;
    }
    default:
      return;
  }
}

}  // namespace oxa_sim
