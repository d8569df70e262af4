#include "gateway_sim/SimOptionQueries.h"

#include <algorithm>
#include <cstring>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimOptionState.h"

namespace oxa_sim {

namespace {

using Row = std::vector<std::uint8_t>;

enum class Kind { kContinuing, kPaged, kStrategy, kAsset };

// One query family: its request and answer, where the rows start, how long a row is, and the
// request bytes its answer echoes ({from the request, to the answer, length}).
struct Echo {
  std::size_t from, to, n;
};
struct QueryFamily {
  std::uint32_t req_id;
  std::uint32_t rsp_id;
  std::size_t rows_at;
  std::size_t row_len;
  Kind kind;
  std::vector<Echo> echo;
};

const std::vector<Echo> kOrderEcho = {{25, 44, 8}, {41, 52, 4}, {49, 56, 9}, {182, 65, 8}, {190, 73, 8}, {198, 81, 4}};
const std::vector<Echo> kTradeEcho = {{25, 44, 8}, {41, 52, 4}, {49, 56, 9}, {182, 65, 8}, {190, 73, 8}};
const std::vector<Echo> kPositionEcho = {{25, 44, 8}, {41, 52, 4}, {45, 56, 9}, {54, 65, 4}};
const std::vector<Echo> kCombOrderEcho = {{25, 36, 8}, {33, 44, 4}, {37, 48, 17}, {54, 65, 8}, {62, 73, 8}, {70, 81, 1}};
const std::vector<Echo> kCombTradeEcho = {{25, 36, 8}, {33, 44, 4}, {37, 48, 17}, {54, 65, 8}, {62, 73, 8}};

const std::vector<QueryFamily>& families() {
  static const std::vector<QueryFamily> f = {
      {0x41d, 0x527, 149, opt_order_row::kLength, Kind::kContinuing, kOrderEcho},
      {0x44d, 0x557, 149, opt_order_row::kLength, Kind::kPaged, kOrderEcho},
      {0x41e, 0x528, 145, opt_trade_row::kLength, Kind::kContinuing, kTradeEcho},
      {0x44e, 0x558, 145, opt_trade_row::kLength, Kind::kPaged, kTradeEcho},
      {0x41f, 0x529, 133, opt_position_row::kLength, Kind::kContinuing, kPositionEcho},
      {0x450, 0x55a, 133, opt_position_row::kLength, Kind::kPaged, kPositionEcho},
      {0x40f, 0x519, opt_asset_record::kAt, opt_asset_record::kLength, Kind::kAsset, {}},
      {0x462, 0x56c, opt_asset_record::kAt, opt_asset_record::kLength, Kind::kAsset, {}},
      {0x41b, 0x526, 52, opt_transfer_row::kLength, Kind::kContinuing, {{25, 36, 8}, {33, 44, 8}}},
      {0x426, 0x52f, 129, opt_auction_row::kLength, Kind::kContinuing, {{25, 44, 8}, {41, 52, 4}, {45, 56, 9}}},
      {0x417, 0x522, 146, opt_comb_order_row::kLength, Kind::kContinuing, kCombOrderEcho},
      {0x418, 0x523, 145, opt_comb_trade_row::kLength, Kind::kContinuing, kCombTradeEcho},
      {0x424, 0x52c, 141, opt_comb_position_row::kLength, Kind::kContinuing,
       {{25, 44, 8}, {41, 52, 4}, {45, 56, 4}, {155, 60, 17}}},
      {0x419, 0x524, 36, opt_strategy_row::kLength, Kind::kStrategy, {}},
      {0x41a, 0x525, 66, opt_exec_position_row::kLength, Kind::kContinuing,
       {{25, 36, 8}, {33, 44, 4}, {37, 48, 9}, {46, 57, 9}}},
  };
  return f;
}

std::uint64_t get(const WireReader& r, const WireField& f) { return r.get_uint(f).value_or(0); }

WireField at(std::size_t offset, std::size_t size) { return WireField{"field", offset, size}; }

// ---- rows ------------------------------------------------------------------------------------

std::int32_t business_of(const OptionOrder& o) {
  switch (o.msg_id) {
    case kMsgOptInsert:
      if (o.covered == '1') return o.effect == 'O' ? 404 : 405;
      if (o.side == '1') return o.effect == 'O' ? 400 : 403;
      return o.effect == 'O' ? 402 : 401;
    case kMsgOptLock: return o.side == 'Z' ? 408 : 409;
    case kMsgOptExecute: return 406;
    case kMsgOptCombinedExecute: return 429;
    default: return 400;
  }
}

std::int32_t price_code_of(const OptionOrder& o) {
  return o.price_type[0] == '2' && o.price_type[1] == '0' ? 130 : 126;
}

Row order_row(const OptionOrder& o) {
  namespace f = opt_order_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kLocalNo, o.local_no);
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(o.status));
  w.put_int(f::kMarket, o.market);
  w.put_int(f::kBusiness, business_of(o));
  w.put_int(f::kPriceCode, price_code_of(o));
  w.put_text(f::kTicker, o.ticker);
  if (o.msg_id == kMsgOptCombinedExecute) {
    w.put_text(f::kSecurity1, o.ticker);
    w.put_text(f::kSecurity2, o.ticker2);
  }
  w.put_double(f::kPrice, o.price);
  w.put_int(f::kQuantity, o.quantity);
  w.put_int(f::kInsertTime, o.insert_time);
  w.put_int(f::kLeftQty, o.status == opt_code::kWorking ? o.quantity - o.traded : 0);
  w.put_int(f::kTradedQty, o.traded);
  w.put_double(f::kTradedAmount, o.amount);
  w.put_int(f::kUpdateTime, o.update_time);
  w.put_int(f::kCancelTime, o.cancel_time);
  w.put_int(f::kSubmitStatus, o.status == opt_code::kRejected ? 3 : 2);
  w.put_uint(f::kClientOrderId, o.client_order_id);
  w.put_uint(f::kOrderId, o.order_id);
  w.put_uint(f::kCancelOrderId, o.cancel_id);
  return w.take();
}

Row trade_row(const OptionOrder& o, const OptionTrade& t) {
  namespace f = opt_trade_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kExchangeNo, o.local_no);
  w.put_int(f::kMarket, o.market);
  w.put_text(f::kBranchPbu, "PBU001");
  w.put_int(f::kBusiness, business_of(o));
  w.put_int(f::kPriceCode, price_code_of(o));
  w.put_text(f::kTicker, o.ticker);
  w.put_text(f::kExecId, t.exec_id);
  w.put_double(f::kPrice, t.price);
  w.put_int(f::kQuantity, t.quantity);
  w.put_double(f::kAmount, t.price * static_cast<double>(t.quantity));
  w.put_int(f::kTime, t.time);
  w.put_uint(f::kReportIndex, t.report_index);
  w.put_uint(f::kClientOrderId, o.client_order_id);
  w.put_uint(f::kOrderId, o.order_id);
  return w.take();
}

void put_comb_legs(WireWriter& w, const OptionOrder& o, std::size_t legs_at) {
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t leg = legs_at + 24 * i;
    w.put_text(at(leg, 17), o.leg_security[i]);
    w.put_uint(at(leg + 17, 1), static_cast<std::uint8_t>(call_or_put_of(o.leg_security[i])));
    w.put_uint(at(leg + 18, 1), static_cast<std::uint8_t>(o.leg_side[i]));
    w.put_uint(at(leg + 19, 1), static_cast<std::uint8_t>(o.leg_covered[i]));
    w.put_int(at(leg + 20, 4), o.leg_qty[i]);
  }
}

Row comb_order_row(const OptionOrder& o) {
  namespace f = opt_comb_order_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kOrderId, o.order_id);
  w.put_uint(f::kClientOrderId, o.client_order_id);
  w.put_int(f::kMarket, o.market);
  w.put_int(f::kQuantity, o.quantity);
  w.put_int(f::kBusiness, o.side == 'B' ? 435 : 436);
  w.put_int(f::kTradedQty, o.traded);
  w.put_uint(f::kHasLeft, 'Y');
  w.put_int(f::kLeftQty, o.status == opt_code::kWorking ? o.quantity - o.traded : 0);
  w.put_int(f::kInsertTime, o.insert_time);
  w.put_int(f::kUpdateTime, o.update_time);
  w.put_int(f::kCancelTime, o.cancel_time);
  w.put_double(f::kAmount, o.amount);
  w.put_uint(f::kLocalNo, o.local_no);
  w.put_uint(f::kStatus, static_cast<std::uint8_t>(o.status));
  w.put_int(f::kSubmitStatus, 2);
  w.put_text(f::kStrategy, o.strategy);
  w.put_text(f::kCombNum, o.comb_num);
  put_comb_legs(w, o, f::kLegsAt);
  w.put_uint(f::kFlag, '0');
  return w.take();
}

Row comb_trade_row(const OptionOrder& o, const OptionTrade& t) {
  namespace f = opt_comb_trade_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kSystemId, o.local_no);
  w.put_int(f::kMarket, o.market);
  w.put_text(f::kExecId, t.exec_id);
  w.put_int(f::kQuantity, t.quantity);
  w.put_int(f::kTime, t.time);
  w.put_double(f::kAmount, t.price * static_cast<double>(t.quantity));
  w.put_uint(f::kReportIndex, t.report_index);
  w.put_uint(f::kSide, static_cast<std::uint8_t>(o.side));
  w.put_text(f::kStrategy, o.strategy);
  w.put_text(f::kCombNum, o.comb_num);
  put_comb_legs(w, o, f::kLegsAt);
  w.put_text(f::kBranchPbu, "PBU001");
  w.put_uint(f::kClientOrderId, o.client_order_id);
  w.put_uint(f::kOrderId, o.order_id);
  w.put_uint(f::kFlag, '0');
  return w.take();
}

Row position_row(const OptionPositionRow& p) {
  namespace f = opt_position_row;
  WireWriter w(f::kLength);
  w.put_int(f::kMarket, p.market);
  w.put_text(f::kTicker, p.ticker);
  w.put_text(f::kName, p.name);
  w.put_uint(f::kDirection, static_cast<std::uint8_t>(p.direction));
  w.put_int(f::kYesterday, p.yesterday);
  w.put_int(f::kTotal, p.total);
  w.put_int(f::kSellable, p.sellable);
  w.put_double(f::kAvgPrice, p.avg_price);
  w.put_double(f::kPnl, p.pnl);
  return w.take();
}

Row transfer_row(const OptionTransfer& t) {
  namespace f = opt_transfer_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kOrderId, t.serial_id);
  w.put_uint(f::kType, static_cast<std::uint8_t>(t.side));
  w.put_double(f::kAmount, t.amount);
  w.put_int(f::kStatus, t.status);  // the status character as a number
  w.put_int(f::kTime, t.time);
  return w.take();
}

Row auction_row(const OptionAuctionRow& a) {
  namespace f = opt_auction_row;
  WireWriter w(f::kLength);
  w.put_text(f::kTicker, a.ticker);
  w.put_int(f::kMarket, a.market);
  w.put_text(f::kSymbol, a.symbol);
  w.put_text(f::kContractId, a.contract_id);
  w.put_text(f::kUnderlying, a.underlying);
  w.put_text(f::kListDate, a.list_date);
  w.put_text(f::kLastTradeDate, a.last_trade_date);
  w.put_uint(f::kCallPut, static_cast<std::uint8_t>(a.call_or_put));
  w.put_text(f::kDeliveryDay, a.delivery_day);
  w.put_uint(f::kExerciseType, static_cast<std::uint8_t>(a.exercise_type));
  w.put_text(f::kExerciseBegin, a.exercise_begin);
  w.put_text(f::kExerciseEnd, a.exercise_end);
  w.put_double(f::kExercisePrice, a.exercise_price);
  w.put_int(f::kQtyUnit, a.qty_unit);
  w.put_int(f::kContractUnit, a.contract_unit);
  w.put_double(f::kPrevClose, a.prev_close);
  w.put_int(f::kLmtMin, a.lmt_min);
  w.put_int(f::kLmtBuyMax, a.lmt_buy_max);
  w.put_int(f::kLmtSellMax, a.lmt_sell_max);
  w.put_int(f::kMktMin, a.mkt_min);
  w.put_int(f::kMktBuyMax, a.mkt_buy_max);
  w.put_int(f::kMktSellMax, a.mkt_sell_max);
  w.put_double(f::kPriceTick, a.price_tick);
  w.put_double(f::kUpperLimit, a.upper_limit);
  w.put_double(f::kLowerLimit, a.lower_limit);
  return w.take();
}

Row comb_position_row(const OptionCombPositionRow& p) {
  namespace f = opt_comb_position_row;
  WireWriter w(f::kLength);
  w.put_int(f::kMarket, p.market);
  w.put_text(f::kCombNum, p.comb_num);
  w.put_text(f::kStrategy, p.strategy);
  w.put_text(f::kStrategyName, p.strategy_name);
  w.put_int(f::kYesterday, p.yesterday);
  w.put_int(f::kTotal, p.total);
  w.put_int(f::kAvailable, p.available);
  w.put_int(f::kLegCount, p.leg_count);
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t leg = f::kLegsAt + 27 * i;
    w.put_text(at(leg, 17), p.legs[i].security);
    w.put_uint(at(leg + 17, 1), static_cast<std::uint8_t>(p.legs[i].call_or_put));
    w.put_uint(at(leg + 18, 1), static_cast<std::uint8_t>(p.legs[i].side));
    w.put_int(at(leg + 19, 8), p.legs[i].qty);
  }
  return w.take();
}

Row strategy_row(const OptionStrategyRow& s) {
  namespace f = opt_strategy_row;
  WireWriter w(f::kLength);
  w.put_uint(f::kMarket, static_cast<std::uint8_t>(s.market));
  w.put_text(f::kId, s.id);
  w.put_text(f::kName, s.name);
  w.put_uint(f::kUnderlyingType, static_cast<std::uint8_t>(s.underlying_type));
  w.put_uint(f::kSplitType, static_cast<std::uint8_t>(s.split_type));
  w.put_text(f::kExpireType, s.expire_type);
  w.put_int(f::kLegCount, s.leg_count);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t leg = f::kLegsAt + 8 * i;
    w.put_uint(at(leg, 1), static_cast<std::uint8_t>(s.legs[i].call_or_put));
    w.put_uint(at(leg + 1, 1), static_cast<std::uint8_t>(s.legs[i].side));
    w.put_uint(at(leg + 2, 2), s.legs[i].price_seq);
    w.put_int(at(leg + 4, 2), s.legs[i].expire_seq);
    w.put_int(at(leg + 6, 2), s.legs[i].qty);
  }
  return w.take();
}

Row exec_position_row(const OptionExecPositionRow& x) {
  namespace f = opt_exec_position_row;
  WireWriter w(f::kLength);
  w.put_int(f::kMarket, x.market);
  w.put_text(f::kCode1, x.code_1);
  w.put_text(f::kName1, x.name_1);
  w.put_uint(f::kCallPut1, static_cast<std::uint8_t>(x.call_or_put_1));
  w.put_int(f::kAvl1, x.avl_1);
  w.put_int(f::kOrigOwn1, x.orig_own_1);
  w.put_int(f::kOwn1, x.own_1);
  w.put_text(f::kCode2, x.code_2);
  w.put_text(f::kName2, x.name_2);
  w.put_uint(f::kCallPut2, static_cast<std::uint8_t>(x.call_or_put_2));
  w.put_int(f::kAvl2, x.avl_2);
  w.put_int(f::kOrigOwn2, x.orig_own_2);
  w.put_int(f::kOwn2, x.own_2);
  w.put_int(f::kNet, x.net);
  w.put_int(f::kOrderQty, x.order);
  w.put_int(f::kConfirm, x.confirm);
  w.put_int(f::kAvl, x.avl);
  return w.take();
}

const OptionOrder* find_order(const SimOption::State& st, std::uint64_t id) {
  for (const OptionOrder& o : st.book)
    if (o.order_id == id) return &o;
  return nullptr;
}

// The rows a request asks for, in the order of the result, under the state lock.
std::vector<Row> rows_of(const SimOption::State& st, const QueryFamily& f, const WireReader& r) {
  const std::uint64_t account = get(r, opt_qry_req::kFundAccount);
  std::vector<Row> rows;
  switch (f.req_id) {
    case 0x41d:
    case 0x44d: {
      const std::uint64_t id = f.req_id == 0x41d ? get(r, opt_qry_order_req::kOrderId) : 0;
      const bool unfinished = f.req_id == 0x41d && get(r, opt_qry_order_req::kUnfinished) != 0;
      for (const OptionOrder& o : st.book) {
        if (o.account != account || o.msg_id == kMsgOptCombInsert) continue;
        if ((id && o.order_id != id) || (unfinished && o.status != opt_code::kWorking)) continue;
        rows.push_back(order_row(o));
      }
      break;
    }
    case 0x41e:
    case 0x44e: {
      const std::uint64_t id = f.req_id == 0x41e ? get(r, opt_qry_order_req::kTradeOrderId) : 0;
      for (const OptionTrade& t : st.trades) {
        const OptionOrder* o = find_order(st, t.order_id);
        if (t.account != account || t.combination || o == nullptr || (id && t.order_id != id)) continue;
        rows.push_back(trade_row(*o, t));
      }
      break;
    }
    case 0x41f:
    case 0x450: {
      const std::string ticker = f.req_id == 0x41f ? r.get_text(opt_qry_position_req::kTicker).value_or("") : "";
      for (const OptionPositionRow& p : st.option_book.positions)
        if (ticker.empty() || p.ticker == ticker) rows.push_back(position_row(p));
      break;
    }
    case 0x41b: {
      const std::uint64_t id = get(r, opt_qry_transfer_req::kOrderId);
      for (const OptionTransfer& t : st.transfers)
        if (t.account == account && (id == 0 || t.serial_id == id)) rows.push_back(transfer_row(t));
      break;
    }
    case 0x426: {
      const std::string ticker = r.get_text(opt_qry_auction_req::kTicker).value_or("");
      for (const OptionAuctionRow& a : st.option_book.auctions)
        if (ticker.empty() || a.ticker == ticker) rows.push_back(auction_row(a));
      break;
    }
    case 0x417: {
      const std::uint64_t id = get(r, opt_qry_comb_req::kOrderId);
      const bool unfinished = get(r, opt_qry_comb_req::kUnfinished) != 0;
      for (const OptionOrder& o : st.book) {
        if (o.account != account || o.msg_id != kMsgOptCombInsert) continue;
        if ((id && o.order_id != id) || (unfinished && o.status != opt_code::kWorking)) continue;
        rows.push_back(comb_order_row(o));
      }
      break;
    }
    case 0x418: {
      const std::uint64_t id = get(r, opt_qry_comb_req::kTradeOrderId);
      for (const OptionTrade& t : st.trades) {
        const OptionOrder* o = find_order(st, t.order_id);
        if (t.account != account || !t.combination || o == nullptr || (id && t.order_id != id)) continue;
        rows.push_back(comb_trade_row(*o, t));
      }
      break;
    }
    case 0x424:
      for (const OptionCombPositionRow& p : st.option_book.comb_positions) rows.push_back(comb_position_row(p));
      break;
    case 0x419:
      for (const OptionStrategyRow& s : st.option_book.strategies) rows.push_back(strategy_row(s));
      break;
    case 0x41a:
      for (const OptionExecPositionRow& x : st.option_book.exec_positions) rows.push_back(exec_position_row(x));
      break;
    default: break;
  }
  return rows;
}

// ---- answers ---------------------------------------------------------------------------------

// One answer message: head, echo, then rows [first, first + n) of all, each at the row size.
Row answer_of(const QueryFamily& f, const ReceivedFrame& req, const OptionQueryPaging& p, const std::vector<Row>& all,
              std::size_t first, std::size_t n, bool is_last) {
  const WireReader r(req.body);
  const std::size_t stride = p.row_size ? *p.row_size : f.row_len;
  if (p.error != 0) n = 0;
  Row body(f.rows_at + n * stride, 0);
  WireWriter head(f.rows_at);
  head.put_uint(opt_rsp_head::kSessionNo, get(r, opt_qry_req::kSessionNo));
  head.put_uint(opt_rsp_head::kRequestId, get(r, opt_qry_req::kRequestId));
  head.put_uint(opt_rsp_head::kIsLast, is_last || p.error != 0 ? 1 : 0);
  head.put_int(opt_rsp_head::kErrorCode, p.error);
  head.put_int(opt_rsp_head::kRecord, p.negative_count ? -1 : static_cast<std::int64_t>(n));
  head.put_uint(opt_rsp_head::kTotal, all.size());
  head.put_uint(opt_rsp_head::kRecordSize, stride);
  if (f.kind != Kind::kAsset && f.rows_at > opt_qry_rsp::kQryFlag.offset) {
    head.put_uint(opt_qry_rsp::kQryNum, get(r, opt_qry_req::kCount));
    head.put_uint(opt_qry_rsp::kQryFlag, get(r, opt_qry_req::kFlag));
  }
  Row h = head.take();
  std::copy(h.begin(), h.end(), body.begin());
  for (const Echo& e : f.echo)
    if (e.from + e.n <= req.body.size() && e.to + e.n <= f.rows_at)
      std::memcpy(body.data() + e.to, req.body.data() + e.from, e.n);
  for (std::size_t i = 0; i < n; ++i) {
    Row row = all[first + i];
    if (f.kind != Kind::kAsset) {
      WireWriter pos(4);
      pos.put_uint(kRowPosition, first + i + 1);
      std::copy(pos.bytes().begin(), pos.bytes().end(), row.begin());
    }
    std::memcpy(body.data() + f.rows_at + i * stride, row.data(), std::min(row.size(), stride));
  }
  if (p.cut_to != 0 && body.size() > p.cut_to) body.resize(p.cut_to);
  return body;
}

Row asset_record(const std::optional<OptionAssetRow>& a) {
  WireWriter w(opt_asset_record::kAt + opt_asset_record::kLength);
  if (a) {
    w.put_double(opt_asset_record::kTotalAsset, a->total_asset);
    w.put_double(opt_asset_record::kBuyingPower, a->buying_power);
    w.put_double(opt_asset_record::kWithholding, a->withholding);
    w.put_int(opt_asset_record::kAccountType, a->account_type);
    w.put_double(opt_asset_record::kFrozenMargin, a->frozen_margin);
    w.put_double(opt_asset_record::kBalance, a->balance);
    w.put_double(opt_asset_record::kPreferred, a->preferred);
  }
  Row all = w.take();
  return Row(all.begin() + static_cast<std::ptrdiff_t>(opt_asset_record::kAt), all.end());
}

}  // namespace

const std::vector<std::uint32_t>& option_query_request_ids() {
  static const std::vector<std::uint32_t> ids = [] {
    std::vector<std::uint32_t> v;
    for (const QueryFamily& f : families()) v.push_back(f.req_id);
    return v;
  }();
  return ids;
}

void on_option_query(SimOption::State& st, const Exchange& ex) {
  const auto fam = std::find_if(families().begin(), families().end(),
                                [&](const QueryFamily& f) { return f.req_id == ex.request.msg_id; });
  if (fam == families().end()) return;
  const QueryFamily& f = *fam;
  const WireReader r(ex.request.body);
  std::vector<Row> all;
  OptionQueryPaging p;
  std::optional<OptionAssetRow> asset;
  const auto from = static_cast<std::int32_t>(get(r, opt_qry_req::kPosition));
  {
    std::lock_guard<std::mutex> lk(st.mu);
    p = st.paging;
    if (f.kind == Kind::kContinuing && from > 0 && st.paging.next_page_errors > 0) {
      --st.paging.next_page_errors;
      p.error = st.paging.next_page_error;
    }
    all = rows_of(st, f, r);
    asset = st.option_book.asset;
  }
  const std::size_t per = std::max<std::size_t>(p.rows_per_page, 1);
  const std::size_t start = p.ignore_position || from < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(from), all.size());
  switch (f.kind) {
    case Kind::kAsset: {
      std::vector<Row> record;
      if (asset) record.push_back(asset_record(asset));
      ex.answer(f.rsp_id, answer_of(f, ex.request, p, record, 0, record.size(), true));
      return;
    }
    case Kind::kContinuing: {
      const std::size_t n = std::min(per, all.size() - start);
      ex.answer(f.rsp_id, answer_of(f, ex.request, p, all, start, n, start + n >= all.size()));
      return;
    }
    case Kind::kPaged: {
      const auto count = static_cast<std::int32_t>(get(r, opt_qry_req::kCount));
      const std::size_t n = std::min(count > 0 ? static_cast<std::size_t>(count) : per, all.size() - start);
      ex.answer(f.rsp_id, answer_of(f, ex.request, p, all, start, n, start + n >= all.size()));
      return;
    }
    case Kind::kStrategy: {
      // every page at once, the last one flagged
      std::vector<std::uint8_t> leading;
      std::size_t first = 0;
      while (first + per < all.size()) {
        const Row page = answer_of(f, ex.request, p, all, first, per, false);
        const auto frame = encode_frame(kResponse, f.rsp_id, ex.request.request_id, page, ex.request.async_flag);
        leading.insert(leading.end(), frame.begin(), frame.end());
        first += per;
      }
      ex.answer_after(std::move(leading), f.rsp_id,
                      answer_of(f, ex.request, p, all, first, all.size() - first, true));
      return;
    }
  }
}

OptionBook demo_option_book() {
  OptionBook b;
  OptionPositionRow p;
  p.ticker = "10000001";
  p.name = "50ETF购1月3000";
  p.direction = 'L';
  p.yesterday = 10;
  p.total = 12;
  p.sellable = 10;
  p.avg_price = 0.1234;
  p.pnl = 15.5;
  b.positions.push_back(p);
  p.ticker = "10000002";
  p.name = "50ETF沽1月3000";
  p.direction = 'S';
  p.total = 4;
  p.sellable = 4;
  b.positions.push_back(p);
  p.ticker = "10000003";
  p.name = "50ETF购1月3100";
  p.direction = 'C';
  b.positions.push_back(p);
  OptionAssetRow a;
  a.total_asset = 1000000;
  a.buying_power = 800000;
  a.balance = 900000;
  a.account_type = 1;
  b.asset = a;
  for (int i = 1; i <= 3; ++i) {
    OptionAuctionRow x;
    x.ticker = "1000000" + std::to_string(i);
    x.symbol = "50ETF购1月" + std::to_string(2900 + 100 * i);
    x.contract_id = "510050C2601M0" + std::to_string(2900 + 100 * i);
    x.underlying = "510050";
    x.list_date = "20250601";
    x.last_trade_date = "20260128";
    x.delivery_day = "20260129";
    x.exercise_begin = "20260128";
    x.exercise_end = "20260128";
    x.call_or_put = i % 2 ? 'C' : 'P';
    x.exercise_price = 2.9 + 0.1 * i;
    x.qty_unit = 1;
    x.contract_unit = 10000;
    x.price_tick = 0.0001;
    x.lmt_min = 1;
    x.lmt_buy_max = 50;
    x.lmt_sell_max = 50;
    b.auctions.push_back(x);
  }
  OptionCombPositionRow c;
  c.comb_num = "C0000000000000001";
  c.strategy = "CNSJC";
  c.strategy_name = "认购牛市价差";
  c.total = 2;
  c.available = 2;
  c.legs[0] = {"10000001", 'C', 'L', 2};
  c.legs[1] = {"10000003", 'C', 'S', 2};
  b.comb_positions.push_back(c);
  const char* ids[] = {"CNSJC", "PXSJC", "KS", "KKS"};
  for (const char* id : ids) {
    OptionStrategyRow s;
    s.id = id;
    s.name = std::string(id) + " strategy";
    s.leg_count = 2;
    s.legs[0] = {'C', 'L', 1, 0, 1};
    s.legs[1] = {'C', 'S', 2, 0, 1};
    b.strategies.push_back(s);
  }
  OptionExecPositionRow e;
  e.code_1 = "10000001";
  e.name_1 = "50ETF购1月3000";
  e.code_2 = "10000002";
  e.name_2 = "50ETF沽1月3000";
  e.avl_1 = 10;
  e.avl_2 = 4;
  e.net = 4;
  e.avl = 4;
  b.exec_positions.push_back(e);
  return b;
}

}  // namespace oxa_sim
