#include "gateway_sim/SimMarginQueries.h"

#include <algorithm>

#include "gateway_sim/GatewaySim.h"
#include "gateway_sim/SimMarginOrders.h"
#include "gateway_sim/SimMarginWire.h"

namespace oxa_sim {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Records = std::vector<Bytes>;

WireField at(const WireField& f, std::size_t base) { return WireField{f.name, base + f.offset, f.size}; }

std::uint64_t u64(const WireReader& r, const WireField& f) { return r.get_uint(f).value_or(0); }

// One single-record answer message: the head, the record when there is one, the error record
// when the paging asks for one.
Bytes single_message(std::uint64_t session_no, std::uint64_t request_id, bool last, const Bytes* record,
                     std::int32_t error) {
  namespace H = margin_rsp_head;
  const std::size_t rec = record ? record->size() : 0;
  WireWriter w(H::kLength + rec + (error ? margin_error::kLength : 0));
  w.put_uint(H::kSessionNo, session_no);
  w.put_uint(H::kRequestId, request_id);
  w.put_uint(H::kIsLast, last ? 1 : 0);
  w.put_uint(H::kHasData, record ? 1 : 0);
  w.put_uint(H::kHasError, error ? 1 : 0);
  if (record) w.put_bytes(WireField{"record", H::kLength, rec}, record->data(), rec);
  if (error) w.put_int(WireField{"error_id", H::kLength + rec, 4}, error);
  return w.take();
}

// Every record one message, is_last on the last; none: one message without data.
std::vector<Bytes> single_answer(std::uint64_t session_no, std::uint64_t request_id, const Records& records,
                                 std::int32_t error) {
  std::vector<Bytes> out;
  if (records.empty()) out.push_back(single_message(session_no, request_id, true, nullptr, error));
  for (std::size_t i = 0; i < records.size(); ++i)
    out.push_back(single_message(session_no, request_id, i + 1 == records.size(), &records[i], error));
  return out;
}

// The page of records from start (at most count, plus the overfill): the positions taken.
std::pair<std::size_t, std::size_t> page_of(std::size_t total, std::uint64_t start, std::uint64_t count,
                                            const MarginQueryPaging& p) {
  const std::size_t from = p.ignore_start ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(start, total));
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, total)) + p.overfill;
  return {from, std::min(total, from + want)};
}

// Classic paged answer: one record per message with its counters.
std::vector<Bytes> paged_answer(std::uint64_t session_no, std::uint32_t request_id, const Records& records,
                                std::int64_t req_count, std::int64_t reference, const MarginQueryPaging& p) {
  namespace H = margin_page_head;
  const auto range = page_of(records.size(), static_cast<std::uint64_t>(std::max<std::int64_t>(reference, 0)),
                             static_cast<std::uint64_t>(std::max<std::int64_t>(req_count, 0)), p);
  std::vector<Bytes> out;
  auto message = [&](std::size_t pos, const Bytes* rec, bool last) {
    const std::size_t n = rec ? rec->size() : 0;
    WireWriter w(H::kLength + n + (p.error ? margin_error::kLength : 0));
    w.put_uint(H::kSessionNo, session_no);
    w.put_uint(H::kRequestId, request_id);
    w.put_int(H::kIndex, rec ? static_cast<std::int64_t>(pos + 1) : 0);
    w.put_int(H::kReqCount, req_count);
    w.put_uint(H::kReference, pos);
    w.put_uint(H::kIsLast, last ? 1 : 0);
    w.put_uint(H::kHasData, rec ? 1 : 0);
    w.put_uint(H::kHasError, p.error ? 1 : 0);
    if (rec) w.put_bytes(WireField{"record", H::kLength, n}, rec->data(), n);
    if (p.error) w.put_int(WireField{"error_id", H::kLength + n, 4}, p.error);
    out.push_back(w.take());
  };
  if (range.first == range.second) message(range.first, nullptr, true);
  for (std::size_t i = range.first; i < range.second; ++i) message(i, &records[i], i + 1 == range.second);
  return out;
}

// Extended paged answer: a page of records in one message, each made by make(position).
template <typename Make>
Bytes ext_answer(std::uint64_t session_no, std::uint64_t request_id, std::size_t total, std::uint32_t req_count,
                 std::uint32_t reference, std::size_t record_length, const MarginQueryPaging& p, Make make) {
  namespace H = margin_ext_head;
  const auto range = page_of(total, reference, req_count, p);
  const std::size_t n = range.second - range.first;
  const std::size_t stride = p.stride ? p.stride : record_length;
  WireWriter w(H::kLength + n * stride);
  w.put_uint(H::kSessionNo, session_no);
  w.put_uint(H::kRequestId, request_id);
  w.put_uint(H::kReqCount, req_count);
  w.put_uint(H::kRspCount, n);
  w.put_uint(H::kRecordSize, stride);
  for (std::size_t i = 0; i < n; ++i) {
    const Bytes rec = make(range.first + i);
    w.put_bytes(WireField{"record", H::kLength + i * stride, stride}, rec.data(), rec.size());
  }
  return w.take();
}

Bytes position_record(const MarginPositionRow& r) {
  namespace P = margin_position_rec;
  WireWriter w(P::kLength);
  w.put_text(P::kTicker, r.ticker);
  w.put_text(P::kName, r.name);
  w.put_int(P::kMarket, r.market);
  w.put_int(P::kTotal, r.total);
  w.put_int(P::kSellable, r.sellable);
  w.put_double(P::kAvgPrice, r.avg_price);
  return w.take();
}

Bytes stock_record(const MarginStockRow& r, std::size_t position, std::uint32_t answer) {
  if (answer == 0x21031) {
    namespace D = margin_debt_rec;
    WireWriter w(D::kLength);
    w.put_int(D::kMarket, r.market);
    w.put_text(D::kTicker, r.ticker);
    const WireField values[] = {D::kValue0, D::kValue1, D::kValue2, D::kValue3, D::kValue4};
    for (int k = 0; k < 5; ++k) w.put_int(values[k], r.values[k]);
    w.put_uint(D::kReference, position);
    return w.take();
  }
  namespace T = margin_target_rec;
  WireWriter w(answer == 0x21017 ? T::kLength : margin_pledge_rec::kLength);
  w.put_uint(T::kReference, position);
  w.put_int(T::kMarket, r.market);
  w.put_text(T::kTicker, r.ticker);
  if (answer == 0x21017) {
    w.put_int(T::kRatio, r.ratio);
    w.put_int(T::kStatus, r.status);
  }
  return w.take();
}

Bytes security_record(const MarginSecurityRow& r, std::size_t position) {
  namespace S = margin_security_rec;
  WireWriter w(S::kLength);
  w.put_text(S::kTicker, r.ticker);
  w.put_text(S::kName, r.name);
  w.put_int(S::kMarket, r.market);
  w.put_int(S::kTickerType, r.ticker_type);
  w.put_uint(S::kSuspended, r.suspended);
  w.put_double(S::kPreClose, r.pre_close);
  w.put_double(S::kUpper, r.upper_limit);
  w.put_double(S::kLower, r.lower_limit);
  w.put_uint(S::kPosition, position);
  return w.take();
}

// An order record's status: working or new orders are the unfinished ones.
bool unfinished(const Bytes& order) {
  const WireReader r(order);
  const std::int32_t status = static_cast<std::int32_t>(r.get_uint(margin_order_rec::kStatus).value_or(0));
  return status == 0 || status == margin_order_rec::kStatusWorking;
}

Records only_id(const Records& all, const WireField& id_field, std::uint64_t id) {
  Records out;
  for (const auto& r : all)
    if (WireReader(r).get_uint(id_field).value_or(0) == id) out.push_back(r);
  return out;
}

}  // namespace

MarginBook demo_margin_book() {
  MarginBook b;
  b.positions = {{"600000", "pufa", 1, 3000, 2000, 10.12}, {"000001", "pingan", 2, 800, 800, 11.02}};
  b.asset_total = 2500000.00;
  b.asset_buying_power = 900000.00;
  b.fund_buying_power = 900000.00;
  // credit line: six amounts in cents
  WireWriter credit2(48);
  const std::int64_t amounts[] = {500000000, 120000000, 380000000, 15000000, 2500000, 0};
  for (std::size_t k = 0; k < 6; ++k) credit2.put_int(WireField{"amount", 8 * k, 8}, amounts[k]);
  b.records[0x255].push_back(credit2.take());
  b.credit_value = 1.85;
  b.ipos = {{"787001", "new issue", 1, 0, 19.80}};
  b.other_server_fund = 125000.50;
  b.pledge_stocks = {{"600000", 1}, {"600036", 1}, {"000001", 2}};
  b.target_stocks = {{"600000", 1, 50, 1}, {"600036", 1, 60, 1}, {"600519", 1, 30, 0}, {"000001", 2, 55, 1}};
  MarginStockRow debt{"600036", 1};
  debt.values[0] = 10000;
  debt.values[1] = 352000;
  b.debts = {debt};
  b.securities = {{"600000", "pufa", 1, 0, 0, 10.50, 11.55, 9.45}, {"600036", "zhaohang", 1, 0, 0, 35.20, 38.72, 31.68}};
  return b;
}

void MarginQueryServer::set_book(const MarginBook& b) {
  std::lock_guard<std::mutex> lk(mu_);
  book_ = b;
}

MarginBook MarginQueryServer::book() const {
  std::lock_guard<std::mutex> lk(mu_);
  return book_;
}

void MarginQueryServer::set_paging(const MarginQueryPaging& p) {
  std::lock_guard<std::mutex> lk(mu_);
  paging_ = p;
}

const std::vector<std::uint32_t>& MarginQueryServer::request_ids() {
  static const std::vector<std::uint32_t> ids = {
      0x248, 0x250, 0x252, 0x254, 0x256, 0x260, 0x262, 0x264, 0x266, 0x270, 0x272, 0x274, 0x276, 0x278,
      0x280, 0x282, 0x284, 0x286, 0x288, 0x290, 0x292, 0x304, 0x306, 0x308, 0x310, 0x31c, 0x31e, 0x332,
      0x21014, 0x21016, 0x21024, 0x21026, 0x21030};
  return ids;
}

void MarginQueryServer::on_query(const Exchange& ex) {
  const std::uint32_t id = ex.request.msg_id;
  const std::uint32_t answer = id + 1;
  const WireReader r(ex.request.body);
  const bool extended = id >= 0x21000;
  const std::uint64_t account = u64(r, extended ? margin_ext_req::kFundAccount : margin_req_head::kFundAccount);
  const std::uint64_t session_no = u64(r, extended ? margin_ext_req::kSessionNo : margin_req_head::kSessionNo);
  const std::uint64_t request_id = u64(r, extended ? margin_ext_req::kRequestId : margin_query_req::kRequestId);

  MarginBook book;
  MarginQueryPaging p;
  {
    std::lock_guard<std::mutex> lk(mu_);
    book = book_;
    p = paging_;
  }
  const Records orders = orders_ ? orders_->order_records(account) : Records{};
  const Records trades = orders_ ? orders_->trade_records(account) : Records{};
  const std::int64_t req_count = static_cast<std::int64_t>(u64(r, margin_query_req::kPageReqCount));
  const std::int64_t reference = static_cast<std::int64_t>(u64(r, margin_query_req::kPageReference));
  const std::uint32_t ext_count = static_cast<std::uint32_t>(u64(r, margin_ext_req::kReqCount));
  const std::uint32_t ext_reference = static_cast<std::uint32_t>(u64(r, margin_ext_req::kReference));

  std::vector<Bytes> messages;
  auto single = [&](const Records& records) { messages = single_answer(session_no, request_id, records, p.error); };
  auto paged = [&](const Records& records) {
    messages = paged_answer(session_no, static_cast<std::uint32_t>(request_id), records, req_count, reference, p);
  };
  switch (id) {
    case 0x248: {
      Records rec;
      if (book.fund_buying_power) {
        WireWriter w(margin_fund_rec::kLength);
        w.put_double(margin_fund_rec::kBuyingPower, *book.fund_buying_power);
        rec.push_back(w.take());
      }
      single(rec);
      break;
    }
    case 0x250: {
      Records rec;
      if (book.asset_total) {
        WireWriter w(margin_asset_rec::kLength);
        w.put_double(margin_asset_rec::kTotal, *book.asset_total);
        w.put_double(margin_asset_rec::kBuyingPower, book.asset_buying_power);
        rec.push_back(w.take());
      }
      single(rec);
      break;
    }
    case 0x252: {
      const std::string ticker = r.get_text(WireField{"ticker", 30, 16}).value_or("");
      Records rec;
      for (const auto& row : book.positions)
        if (ticker.empty() || row.ticker == ticker) rec.push_back(position_record(row));
      single(rec);
      break;
    }
    case 0x260:
      single(u64(r, margin_query_req::kByIdFlag) == 1
                 ? only_id(orders, margin_order_rec::kOrderId, u64(r, margin_query_req::kById))
                 : orders);
      break;
    case 0x262:
      single(u64(r, margin_query_req::kByIdFlag) == 1
                 ? only_id(trades, margin_trade_rec::kOrderId, u64(r, margin_query_req::kById))
                 : trades);
      break;
    case 0x310: {
      Records rec;
      for (const auto& o : orders)
        if (unfinished(o)) rec.push_back(o);
      single(rec);
      break;
    }
    case 0x288: {
      Records rec;
      if (book.credit_value) {
        WireWriter w(8);
        w.put_double(WireField{"value", 0, 8}, *book.credit_value);
        rec.push_back(w.take());
      }
      single(rec);
      break;
    }
    case 0x274: paged(orders); break;
    case 0x276: paged(trades); break;
    case 0x284: {
      Records rec;
      for (const auto& row : book.positions) rec.push_back(position_record(row));
      paged(rec);
      break;
    }
    case 0x282:
    case 0x286: paged(book.records[answer]); break;
    case 0x21014:
    case 0x21016:
    case 0x21030: {
      const auto& rows = id == 0x21014 ? book.pledge_stocks : id == 0x21016 ? book.target_stocks : book.debts;
      const std::size_t len = id == 0x21014   ? margin_pledge_rec::kLength
                              : id == 0x21016 ? margin_target_rec::kLength
                                              : margin_debt_rec::kLength;
      messages.push_back(ext_answer(session_no, request_id, rows.size(), ext_count, ext_reference, len, p,
                                    [&](std::size_t pos) { return stock_record(rows[pos], pos, answer); }));
      break;
    }
    case 0x21026:
      messages.push_back(ext_answer(session_no, request_id, book.securities.size(), ext_count, ext_reference,
                                    margin_security_rec::kLength, p,
                                    [&](std::size_t pos) { return security_record(book.securities[pos], pos); }));
      break;
    case 0x278: {
      namespace I = margin_ipo_rec;
      Records rec;
      for (const auto& row : book.ipos) {
        WireWriter w(I::kLength);
        w.put_int(I::kMarket, row.market);
        w.put_text(I::kTicker, row.ticker);
        w.put_text(I::kName, row.name);
        w.put_int(I::kTickerType, row.ticker_type);
        w.put_double(I::kPrice, row.price);
        rec.push_back(w.take());
      }
      single(rec);
      break;
    }
    case 0x332: {
      WireWriter w(margin_rsp_head::kLength + margin_other_fund_rec::kLength + margin_error::kLength);
      w.put_uint(margin_rsp_head::kSessionNo, session_no);
      w.put_uint(margin_rsp_head::kRequestId, request_id);
      w.put_uint(margin_rsp_head::kIsLast, 1);
      w.put_uint(margin_rsp_head::kHasData, book.other_server_fund ? 1 : 0);
      w.put_uint(margin_rsp_head::kHasError, p.error ? 1 : 0);
      w.put_double(at(margin_other_fund_rec::kAmount, margin_rsp_head::kLength), book.other_server_fund.value_or(0));
      w.put_int(WireField{"error_id", margin_rsp_head::kLength + margin_other_fund_rec::kLength, 4}, p.error);
      messages.push_back(w.take());
      break;
    }
    case 0x21024: {
      namespace S = margin_security_answer;
      const std::string ticker = r.get_text(margin_ext_req::kTicker).value_or("");
      WireWriter w(S::kLength);
      w.put_uint(S::kSessionNo, session_no);
      w.put_uint(S::kRequestId, request_id);
      w.put_int(S::kErrorId, p.error);
      for (const auto& row : book.securities) {
        if (row.ticker != ticker) continue;
        w.put_text(S::kTicker, row.ticker);
        w.put_text(S::kName, row.name);
        w.put_int(S::kMarket, row.market);
        w.put_int(S::kTickerType, row.ticker_type);
        w.put_double(S::kPreClose, row.pre_close);
      }
      messages.push_back(w.take());
      break;
    }
    default: single(book.records[answer]); break;
  }

  if (p.cut_to)
    for (auto& m : messages)
      if (m.size() > p.cut_to) m.resize(p.cut_to);
  // every message answers the request; the last one under the reply plan's mode
  Bytes leading;
  for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
    const auto f = encode_frame(kResponse, answer, ex.request.request_id, messages[i], ex.request.async_flag);
    leading.insert(leading.end(), f.begin(), f.end());
  }
  ex.answer_after(std::move(leading), answer, std::move(messages.back()));
}

}  // namespace oxa_sim
