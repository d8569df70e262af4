#include "gateway_sim/SimWire.h"

#include "gateway_sim/SimQueryWire.h"

#include <cstring>
#include <iterator>

namespace oxa_sim {
namespace {

template <std::size_t N>
WireLayout layout(const char* name, std::size_t length, const WireField (&fields)[N]) {
  return WireLayout{name, length, fields, N};
}

}  // namespace

const std::vector<WireLayout>& all_layouts() {
  static const std::vector<WireLayout> layouts = {
      layout("login_req", login_req::kLength, login_req::kFields),
      layout("login_rsp", login_rsp::kLength, login_rsp::kFields),
      layout("push_reg_req", push_reg_req::kLength, push_reg_req::kFields),
      layout("push_reg_rsp", push_reg_rsp::kLength, push_reg_rsp::kFields),
      layout("logout_req", logout_req::kLength, logout_req::kFields),
      layout("logout_rsp", logout_rsp::kLength, logout_rsp::kFields),
      layout("offline_cmd", offline_cmd::kLength, offline_cmd::kFields),
      layout("spot_login_req", spot_login_req::kLength, spot_login_req::kFields),
      layout("spot_login_rsp", spot_login_rsp::kLength, spot_login_rsp::kFields),
      layout("sync_req", sync_req::kLength, sync_req::kFields),
      layout("sync_rsp", sync_rsp::kHeadLength, sync_rsp::kFields),
      layout("sync_record", sync_record::kLength, sync_record::kFields),
      layout("subscribe_req", subscribe_req::kLength, subscribe_req::kFields),
      layout("subscribe_end", subscribe_end::kLength, subscribe_end::kFields),
      layout("spot_insert_req", spot_insert_req::kLength, spot_insert_req::kFields),
      layout("spot_cancel_req", spot_cancel_req::kLength, spot_cancel_req::kFields),
      layout("spot_transfer", spot_transfer::kLength, spot_transfer::kFields),
      layout("spot_order_rec", spot_order_rec::kLength, spot_order_rec::kFields),
      layout("spot_trade_rec", spot_trade_rec::kLength, spot_trade_rec::kFields),
      layout("spot_cancel_error", spot_cancel_error::kLength, spot_cancel_error::kFields),
      layout("spot_holding_change", spot_holding_change::kLength, spot_holding_change::kFields),
      layout("qry_head", qry_head::kLength, qry_head::kFields),
      layout("qry_orders", qry_orders::kLength, qry_orders::kFields),
      layout("qry_trades", qry_trades::kLength, qry_trades::kFields),
      layout("qry_page", qry_page::kLength, qry_page::kFields),
      layout("qry_position", qry_position::kLength, qry_position::kFields),
      layout("qry_asset", qry_asset::kLength, qry_asset::kFields),
      layout("qry_fund_transfer", qry_fund_transfer::kLength, qry_fund_transfer::kFields),
      layout("qry_ticker", qry_ticker::kLength, qry_ticker::kFields),
      layout("qry_ext", qry_ext::kPagedLength, qry_ext::kFields),
      layout("ans_classic", ans_classic::kLength, ans_classic::kFields),
      layout("ans_page", ans_page::kLength, ans_page::kFields),
      layout("ans_ext", ans_ext::kLength, ans_ext::kFields),
      layout("ans_hk_rate", ans_hk_rate::kLength, ans_hk_rate::kFields),
      layout("ans_hk_spread", ans_hk_spread::kHeadLength, ans_hk_spread::kFields),
      layout("rec_position", rec_position::kLength, rec_position::kFields),
      layout("rec_asset", rec_asset::kLength, rec_asset::kFields),
      layout("rec_fund", rec_fund::kLength, rec_fund::kFields),
      layout("rec_other_fund", rec_other_fund::kLength, rec_other_fund::kFields),
      layout("rec_etf", rec_etf::kLength, rec_etf::kFields),
      layout("rec_basket", rec_basket::kLength, rec_basket::kFields),
      layout("rec_ipo", rec_ipo::kLength, rec_ipo::kFields),
      layout("rec_ipo_quota", rec_ipo_quota::kLength, rec_ipo_quota::kFields),
      layout("rec_issue", rec_issue::kLength, rec_issue::kFields),
      layout("rec_security", rec_security::kLength, rec_security::kFields),
      layout("rec_spread", rec_spread::kLength, rec_spread::kFields),
  };
  return layouts;
}

bool WireWriter::put_uint(const WireField& field, std::uint64_t v) {
  if (field.size == 0 || field.size > 8 || field.offset > body_.size() ||
      field.size > body_.size() - field.offset)
    return false;
  for (std::size_t i = 0; i < field.size; ++i)
    body_[field.offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  return true;
}

bool WireWriter::put_double(const WireField& field, double v) {
  if (field.size != sizeof v) return false;
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return put_uint(field, bits);
}

bool WireWriter::put_text(const WireField& field, std::string_view text) {
  if (field.offset > body_.size() || field.size > body_.size() - field.offset) return false;
  std::uint8_t* dst = body_.data() + field.offset;
  std::memset(dst, 0, field.size);
  std::memcpy(dst, text.data(), text.size() < field.size ? text.size() : field.size);
  return true;
}

bool WireWriter::put_bytes(const WireField& field, const std::uint8_t* data, std::size_t len) {
  if (field.offset > body_.size()) return false;
  std::size_t n = len < field.size ? len : field.size;
  const std::size_t room = body_.size() - field.offset;
  if (n > room) n = room;
  if (n != 0) std::memcpy(body_.data() + field.offset, data, n);
  return true;
}

std::optional<std::uint64_t> WireReader::get_uint(const WireField& field) const {
  if (field.size == 0 || field.size > 8 || !fits(field)) return std::nullopt;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < field.size; ++i)
    v |= static_cast<std::uint64_t>(data_[field.offset + i]) << (8 * i);
  return v;
}

std::optional<double> WireReader::get_double(const WireField& field) const {
  if (field.size != sizeof(double)) return std::nullopt;
  const auto bits = get_uint(field);
  if (!bits) return std::nullopt;
  double v;
  std::memcpy(&v, &*bits, sizeof v);
  return v;
}

std::optional<std::string> WireReader::get_text(const WireField& field) const {
  if (!fits(field)) return std::nullopt;
  const auto* p = reinterpret_cast<const char*>(data_ + field.offset);
  std::size_t n = 0;
  while (n < field.size && p[n] != '\0') ++n;
  return std::string(p, n);
}

}  // namespace oxa_sim
