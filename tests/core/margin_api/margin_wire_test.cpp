// The margin wire: answer heads and where their records sit, error records, the byte-order
// conversion of every public record the answers carry, and the lookup of a session from the
// server's session number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/SessionTables.h"
#include "core/margin_api/MarginTraderImpl.h"
#include "core/margin_api/MarginWire.h"

namespace {

using namespace OXA::API;
using namespace OXA::API::MARGIN;

// An exact-size heap copy, so a read one byte past the end is an AddressSanitizer report.
struct Exact {
    explicit Exact(const std::vector<uint8_t>& bytes, std::size_t len)
        : p(new char[len ? len : 1]), n(len) {
        std::memcpy(p, bytes.data(), std::min(len, bytes.size()));
    }
    ~Exact() { delete[] p; }
    Exact(const Exact&) = delete;
    Exact& operator=(const Exact&) = delete;
    char* p;
    std::size_t n;
};

void PutBe(std::vector<uint8_t>& b, std::size_t off, uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}
void PutLe(std::vector<uint8_t>& b, std::size_t off, uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---------------------------------------------------------------------------------------
// Swap lists against the public layouts

#define MEMBER(T, m) \
    std::pair<std::size_t, std::size_t> { offsetof(T, m), sizeof(T::m) }

using Members = std::vector<std::pair<std::size_t, std::size_t>>;

// Every multi-byte numeric member of each record, from the public header itself.
struct RecordMembers {
    const SwapList* list;
    std::size_t size;
    Members members;
};

std::vector<RecordMembers> PublicRecords() {
    return {
        {&kSwapOrderInfo, sizeof(OXAOrderInfo),
         {MEMBER(OXAOrderInfo, order_oxa_id), MEMBER(OXAOrderInfo, order_client_id),
          MEMBER(OXAOrderInfo, order_cancel_client_id), MEMBER(OXAOrderInfo, order_cancel_oxa_id),
          MEMBER(OXAOrderInfo, market), MEMBER(OXAOrderInfo, price), MEMBER(OXAOrderInfo, quantity),
          MEMBER(OXAOrderInfo, price_type), MEMBER(OXAOrderInfo, qty_traded), MEMBER(OXAOrderInfo, qty_left),
          MEMBER(OXAOrderInfo, insert_time), MEMBER(OXAOrderInfo, update_time), MEMBER(OXAOrderInfo, cancel_time),
          MEMBER(OXAOrderInfo, trade_amount), MEMBER(OXAOrderInfo, order_status),
          MEMBER(OXAOrderInfo, order_submit_status)}},
        {&kSwapTradeReport, sizeof(OXATradeReport),
         {MEMBER(OXATradeReport, order_oxa_id), MEMBER(OXATradeReport, order_client_id),
          MEMBER(OXATradeReport, market), MEMBER(OXATradeReport, price_type), MEMBER(OXATradeReport, price),
          MEMBER(OXATradeReport, quantity), MEMBER(OXATradeReport, trade_time), MEMBER(OXATradeReport, trade_amount),
          MEMBER(OXATradeReport, report_index)}},
        {&kSwapPositionInfo, sizeof(OXAPositionInfo),
         {MEMBER(OXAPositionInfo, market), MEMBER(OXAPositionInfo, total_qty), MEMBER(OXAPositionInfo, sellable_qty),
          MEMBER(OXAPositionInfo, avg_price), MEMBER(OXAPositionInfo, unrealized_pnl),
          MEMBER(OXAPositionInfo, yesterday_position), MEMBER(OXAPositionInfo, purchase_redeemable_qty),
          MEMBER(OXAPositionInfo, position_direction), MEMBER(OXAPositionInfo, field_136),
          MEMBER(OXAPositionInfo, executable_option), MEMBER(OXAPositionInfo, lockable_position),
          MEMBER(OXAPositionInfo, field_156), MEMBER(OXAPositionInfo, locked_position),
          MEMBER(OXAPositionInfo, usable_locked_position)}},
        {&kSwapAssetInfo, sizeof(OXAAssetInfo),
         {MEMBER(OXAAssetInfo, total_asset), MEMBER(OXAAssetInfo, buying_power), MEMBER(OXAAssetInfo, field_16),
          MEMBER(OXAAssetInfo, fund_buy_amount), MEMBER(OXAAssetInfo, fund_buy_fee),
          MEMBER(OXAAssetInfo, fund_sell_amount), MEMBER(OXAAssetInfo, fund_sell_fee),
          MEMBER(OXAAssetInfo, withholding_amount), MEMBER(OXAAssetInfo, account_type),
          MEMBER(OXAAssetInfo, frozen_margin), MEMBER(OXAAssetInfo, frozen_exec_cash),
          MEMBER(OXAAssetInfo, frozen_exec_fee), MEMBER(OXAAssetInfo, pay_later), MEMBER(OXAAssetInfo, preadva_pay),
          MEMBER(OXAAssetInfo, orig_banlance), MEMBER(OXAAssetInfo, banlance), MEMBER(OXAAssetInfo, deposit_withdraw),
          MEMBER(OXAAssetInfo, trade_netting), MEMBER(OXAAssetInfo, captial_asset),
          MEMBER(OXAAssetInfo, force_freeze_amount), MEMBER(OXAAssetInfo, preferred_amount),
          MEMBER(OXAAssetInfo, field_164), MEMBER(OXAAssetInfo, fund_order_data_charges),
          MEMBER(OXAAssetInfo, fund_cancel_data_charges), MEMBER(OXAAssetInfo, field_188),
          MEMBER(OXAAssetInfo, field_196)}},
        {&kSwapFundInfo, sizeof(OXAFundInfo),
         {MEMBER(OXAFundInfo, account_type), MEMBER(OXAFundInfo, buying_power), MEMBER(OXAFundInfo, withholding_amount),
          MEMBER(OXAFundInfo, field_20), MEMBER(OXAFundInfo, field_28), MEMBER(OXAFundInfo, field_36),
          MEMBER(OXAFundInfo, frozen_margin), MEMBER(OXAFundInfo, frozen_exec_cash),
          MEMBER(OXAFundInfo, frozen_exec_fee), MEMBER(OXAFundInfo, orig_banlance), MEMBER(OXAFundInfo, banlance),
          MEMBER(OXAFundInfo, deposit_withdraw), MEMBER(OXAFundInfo, trade_netting),
          MEMBER(OXAFundInfo, captial_asset), MEMBER(OXAFundInfo, preferred_amount)}},
        {&kSwapCreditInfo3, sizeof(OXACreditInfo3),
         {MEMBER(OXACreditInfo3, field_0), MEMBER(OXACreditInfo3, field_37), MEMBER(OXACreditInfo3, field_45),
          MEMBER(OXACreditInfo3, field_53), MEMBER(OXACreditInfo3, field_77), MEMBER(OXACreditInfo3, field_85),
          MEMBER(OXACreditInfo3, field_93), MEMBER(OXACreditInfo3, field_102), MEMBER(OXACreditInfo3, field_110),
          MEMBER(OXACreditInfo3, field_118), MEMBER(OXACreditInfo3, field_126), MEMBER(OXACreditInfo3, field_134),
          MEMBER(OXACreditInfo3, field_142)}},
        {&kSwapCreditInfo7, sizeof(OXACreditInfo7),
         {MEMBER(OXACreditInfo7, field_20), MEMBER(OXACreditInfo7, field_28), MEMBER(OXACreditInfo7, field_36),
          MEMBER(OXACreditInfo7, field_44), MEMBER(OXACreditInfo7, field_52)}},
        {&kSwapFundTransferNotice, sizeof(OXAFundTransferNotice),
         {MEMBER(OXAFundTransferNotice, order_oxa_id), MEMBER(OXAFundTransferNotice, transfer_type),
          MEMBER(OXAFundTransferNotice, amount), MEMBER(OXAFundTransferNotice, oper_status),
          MEMBER(OXAFundTransferNotice, transfer_time)}},
        {&kSwapIPOQuotaInfo, sizeof(OXAIPOQuotaInfo),
         {MEMBER(OXAIPOQuotaInfo, market), MEMBER(OXAIPOQuotaInfo, field_4), MEMBER(OXAIPOQuotaInfo, field_8),
          MEMBER(OXAIPOQuotaInfo, field_12)}},
        {&kSwapIssueInfo, sizeof(OXAIssueInfo),
         {MEMBER(OXAIssueInfo, market), MEMBER(OXAIssueInfo, ticker_type), MEMBER(OXAIssueInfo, field_104),
          MEMBER(OXAIssueInfo, field_112), MEMBER(OXAIssueInfo, field_116)}},
        {&kSwapCreditInfo1, sizeof(OXACreditInfo1),
         {MEMBER(OXACreditInfo1, field_0), MEMBER(OXACreditInfo1, field_12), MEMBER(OXACreditInfo1, field_20),
          MEMBER(OXACreditInfo1, field_29)}},
        {&kSwapCreditInfo2, sizeof(OXACreditInfo2),
         {MEMBER(OXACreditInfo2, field_0), MEMBER(OXACreditInfo2, field_8), MEMBER(OXACreditInfo2, field_16),
          MEMBER(OXACreditInfo2, field_24), MEMBER(OXACreditInfo2, field_32), MEMBER(OXACreditInfo2, field_40)}},
        {&kSwapCreditInfo5, sizeof(OXACreditInfo5),
         {MEMBER(OXACreditInfo5, field_20), MEMBER(OXACreditInfo5, field_28)}},
        {&kSwapCreditInfo9, sizeof(OXACreditInfo9), {MEMBER(OXACreditInfo9, field_0)}},
        {&kSwapCreditInfo10, sizeof(OXACreditInfo10), {MEMBER(OXACreditInfo10, field_20)}},
        {&kSwapCreditInfo11, sizeof(OXACreditInfo11), {MEMBER(OXACreditInfo11, field_20)}},
        {&kSwapCreditInfo12, sizeof(OXACreditInfo12),
         {MEMBER(OXACreditInfo12, field_24), MEMBER(OXACreditInfo12, field_36)}},
        {&kSwapCreditInfo13, sizeof(OXACreditInfo13), {MEMBER(OXACreditInfo13, field_20)}},
        {&kSwapCreditInfo14, sizeof(OXACreditInfo14),
         {MEMBER(OXACreditInfo14, field_0), MEMBER(OXACreditInfo14, field_12), MEMBER(OXACreditInfo14, field_24)}},
    };
}

std::string Describe(const Members& m) {
    std::string s;
    for (const auto& f : m) s += " " + std::to_string(f.first) + ":" + std::to_string(f.second);
    return s;
}

TEST(MarginSwapLists, ConvertExactlyTheNumericMembersOfThePublicRecords) {
    std::size_t n = 0;
    AllSwapLists(&n);
    const auto records = PublicRecords();
    ASSERT_EQ(records.size(), n) << "every list is checked";
    for (const auto& r : records) {
        EXPECT_EQ(r.list->size, r.size) << r.list->name;
        Members listed;
        for (uint32_t i = 0; i < r.list->count; ++i) listed.push_back({r.list->fields[i].offset, r.list->fields[i].width});
        Members want = r.members;
        std::sort(want.begin(), want.end());
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, want) << r.list->name << "\n listed:" << Describe(listed) << "\n wanted:" << Describe(want);
    }
}

// One big-endian image per record: every numeric member gets a distinct value written
// big-endian; the text and padding bytes a pattern that must come through untouched.
TEST(MarginSwapLists, BigEndianRecordsComeOutInHostOrder) {
    for (const auto& r : PublicRecords()) {
        std::vector<uint8_t> host(r.size), wire(r.size);
        for (std::size_t i = 0; i < r.size; ++i) host[i] = wire[i] = static_cast<uint8_t>(0xA0 ^ i);
        uint64_t v = 0x0102030405060708ull;
        for (const auto& m : r.members) {
            PutLe(host, m.first, v, m.second);
            PutBe(wire, m.first, v, m.second);
            v += 0x1111111111111111ull;
        }
        std::vector<uint8_t> out = wire;
        SwapFields(*r.list, out.data());
        EXPECT_EQ(out, host) << r.list->name;
    }
    // and through the typed copy: the trade's price type is an int32 at 32, its padding after
    std::vector<uint8_t> wire(sizeof(OXATradeReport), 0xEE);
    PutBe(wire, 32, 7, 4);
    PutBe(wire, 0, 0x1122334455667788ull, 8);
    OXATradeReport trade;
    CopyRecord(reinterpret_cast<const char*>(wire.data()), kSwapTradeReport, true, &trade);
    // copies: the public records are packed
    EXPECT_EQ(int32_t{trade.price_type}, 7);
    EXPECT_EQ(uint64_t{trade.order_oxa_id}, 0x1122334455667788ull);
    EXPECT_EQ(uint8_t{trade.pad_36[0]}, 0xEE);
    CopyRecord(reinterpret_cast<const char*>(wire.data()), kSwapTradeReport, false, &trade);
    EXPECT_EQ(std::memcmp(&trade, wire.data(), sizeof trade), 0) << "flag clear: bytes as received";
}

// ---------------------------------------------------------------------------------------
// Heads

TEST(MarginHeads, EveryReaderRefusesEveryShortMessage) {
    const struct {
        const char* name;
        std::size_t size;
        bool (*read)(const char*, std::size_t, bool);
    } readers[] = {
        {"CreditRspHead", kRspHeadSize,
         [](const char* d, std::size_t n, bool f) { CreditRspHead h; return ReadRspHead(d, n, f, &h); }},
        {"CreditPageRspHead", kPageRspHeadSize,
         [](const char* d, std::size_t n, bool f) { CreditPageRspHead h; return ReadPageRspHead(d, n, f, &h); }},
        {"CreditFlowHead", kFlowHeadSize,
         [](const char* d, std::size_t n, bool f) { CreditFlowHead h; return ReadFlowHead(d, n, f, &h); }},
    };
    const std::vector<uint8_t> full(64, 0x5A);
    for (const auto& r : readers) {
        for (std::size_t len = 0; len <= r.size; ++len) {
            for (bool flag : {false, true}) {
                Exact m(full, len);
                EXPECT_EQ(r.read(len ? m.p : nullptr, len, flag), len == r.size) << r.name << " len " << len;
            }
        }
    }
}

TEST(MarginHeads, BigEndianHeadsAreConverted) {
    std::vector<uint8_t> b(kPageRspHeadSize, 0);
    PutBe(b, 0, 100005, 8);
    PutBe(b, 8, 0x01020304, 4);
    PutBe(b, 12, static_cast<uint32_t>(-3), 4);
    PutBe(b, 16, 50, 4);
    PutBe(b, 20, 0xAABBCCDD11223344ull, 8);
    b[28] = 1;
    b[29] = 1;
    CreditPageRspHead page;
    ASSERT_TRUE(ReadPageRspHead(reinterpret_cast<const char*>(b.data()), b.size(), true, &page));
    EXPECT_EQ(page.session_no, 100005u);
    EXPECT_EQ(page.request_id, 0x01020304u);
    EXPECT_EQ(page.index, -3);
    EXPECT_EQ(page.req_count, 50);
    EXPECT_EQ(page.reference, 0xAABBCCDD11223344ull);
    EXPECT_EQ(page.is_last, 1);
    EXPECT_EQ(page.has_data, 1);
    EXPECT_EQ(page.has_error, 0);

    std::vector<uint8_t> h(kRspHeadSize, 0);
    PutBe(h, 0, 100007, 8);
    PutBe(h, 8, 42, 8);
    h[17] = 1;
    CreditRspHead rsp;
    ASSERT_TRUE(ReadRspHead(reinterpret_cast<const char*>(h.data()), h.size(), true, &rsp));
    EXPECT_EQ(rsp.session_no, 100007u);
    EXPECT_EQ(rsp.request_id, 42u);
    EXPECT_EQ(rsp.has_data, 1);
    ASSERT_TRUE(ReadRspHead(reinterpret_cast<const char*>(h.data()), h.size(), false, &rsp));
    EXPECT_NE(rsp.session_no, 100007u) << "flag clear: host order";
}

// has_data and has_error promise bytes; an answer that lacks them is not read at all.
TEST(MarginHeads, RecordAndErrorRecordMustFitTheMessage) {
    constexpr std::size_t s = 40;  // a record size
    const struct {
        std::size_t len;
        uint8_t has_data, has_error;
        bool ok;
        long record_at, error_at;  // -1: none
    } cases[] = {
        {19, 0, 0, true, -1, -1},
        {19, 1, 0, false, -1, -1},
        {19 + s - 1, 1, 0, false, -1, -1},
        {19 + s, 1, 0, true, 19, -1},
        {19 + s, 1, 1, false, -1, -1},
        {19 + s + 127, 1, 1, false, -1, -1},
        {19 + s + 128, 1, 1, true, 19, 19 + s},
        {19 + 127, 0, 1, false, -1, -1},
        {19 + 128, 0, 1, true, -1, 19},
        {500, 0, 1, true, -1, 19},
        {500, 1, 0, true, 19, -1},
    };
    const std::vector<uint8_t> full(512, 0);
    for (const auto& c : cases) {
        Exact m(full, c.len);
        AnswerParts parts;
        const bool ok = LocateAnswerParts(m.p, m.n, kRspHeadSize, s, c.has_data, c.has_error, &parts);
        EXPECT_EQ(ok, c.ok) << c.len << " " << int(c.has_data) << int(c.has_error);
        EXPECT_EQ(parts.record ? parts.record - m.p : -1, c.record_at) << c.len;
        EXPECT_EQ(parts.error ? parts.error - m.p : -1, c.error_at) << c.len;
    }
}

TEST(MarginHeads, ErrorRecordsAreReadIntoACopyConvertedEndedAndCompleted) {
    std::vector<uint8_t> wire(kErrorInfoSize, 'x');  // a text that fills its whole field
    PutBe(wire, 0, 1003, 4);
    const std::vector<uint8_t> received = wire;
    OXAErrorInfo e;
    ReadErrorRecord(reinterpret_cast<const char*>(wire.data()), true, &e);
    EXPECT_EQ(int32_t{e.error_id}, 1003);
    EXPECT_EQ(std::strlen(e.error_msg), sizeof e.error_msg - 1) << "cut to end inside the field";
    EXPECT_EQ(wire, received);

    std::vector<uint8_t> empty(kErrorInfoSize, 0);
    PutLe(empty, 0, 1003, 4);
    ReadErrorRecord(reinterpret_cast<const char*>(empty.data()), false, &e);
    EXPECT_EQ(int32_t{e.error_id}, 1003);
    EXPECT_STRNE(e.error_msg, "") << "an empty text gets the library's text of its code";
    EXPECT_EQ(empty[4], 0);
}

// ---------------------------------------------------------------------------------------
// Session numbers

TEST(MarginSessionNumbers, EntryWrapsEvery2To20NumbersAndTheLookupChecksTheNumber) {
    EXPECT_EQ(SessionNoEntry(100000), 0u);
    EXPECT_EQ(SessionNoEntry(1148576), 0u);
    EXPECT_EQ(SessionNoEntry(99999), 1048575u);
    EXPECT_EQ(SessionNoEntry(100005), 5u);

    tagSessionInfo info{};
    info.nSessionID = 100000;
    info.nFundAcc = 7001;
    info.nApiSessionID = uint64_t{3} << 16 | 7;
    const SessionNoKey key{3, SessionNoEntry(100000)};
    ASSERT_NE(RegisterSession(info, &key, true), nullptr);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(3, 100000), 0x30007u);
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(3, 1148576), 0u) << "same entry, another session number";
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(4, 100000), 0u) << "another node";
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(256 + 3, 100000), 0u) << "node beyond the table";
    ASSERT_TRUE(UnregisterSession(info.nApiSessionID));
    EXPECT_EQ(MarginTraderImpl::GetApiSessionIdByNo(3, 100000), 0u) << "logout clears the entry";
}

}  // namespace
