// The margin wire: answer heads and where their records sit, error records, the byte-order
// conversion of every public record the answers carry (checked against the records' layouts),
// and the lookup of a session from the server's session number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/SessionTables.h"
#include "core/margin_api/MarginRecordLayouts.h"
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
// Swap lists against the record layouts

using margin_test::RecordLayout;

std::string Describe(const std::vector<std::pair<std::size_t, std::size_t>>& m) {
    std::string s;
    for (const auto& f : m) s += " " + std::to_string(f.first) + ":" + std::to_string(f.second);
    return s;
}

// Each swap list converts exactly the numbers of its record's layout, and every list has one.
TEST(MarginSwapLists, ConvertExactlyTheNumbersOfTheRecordLayouts) {
    std::size_t n = 0;
    const SwapList* const* lists = AllSwapLists(&n);
    std::set<std::string> seen;
    for (std::size_t k = 0; k < n; ++k) {
        const SwapList& list = *lists[k];
        SCOPED_TRACE(list.name);
        const RecordLayout* layout = margin_test::LayoutOf(list.name);
        ASSERT_NE(layout, nullptr) << "a list without a layout";
        seen.insert(list.name);
        EXPECT_EQ(list.size, layout->size);
        std::vector<std::pair<std::size_t, std::size_t>> listed, want;
        for (uint32_t i = 0; i < list.count; ++i) listed.push_back({list.fields[i].offset, list.fields[i].width});
        for (const auto& f : layout->numbers) want.push_back({f.offset, f.width});
        std::sort(listed.begin(), listed.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(listed, want) << "\n listed:" << Describe(listed) << "\n layout:" << Describe(want);
    }
    for (const RecordLayout& l : margin_test::RecordLayouts()) EXPECT_EQ(seen.count(l.name), 1u) << l.name;
}

// One big-endian image per record: every number of its layout holds a distinct value written
// big-endian; the text and padding bytes a pattern that must come through untouched.
TEST(MarginSwapLists, BigEndianRecordsComeOutInHostOrder) {
    std::size_t n = 0;
    const SwapList* const* lists = AllSwapLists(&n);
    for (std::size_t k = 0; k < n; ++k) {
        const SwapList& list = *lists[k];
        const RecordLayout* layout = margin_test::LayoutOf(list.name);
        ASSERT_NE(layout, nullptr) << list.name;
        std::vector<uint8_t> host(layout->size);
        for (std::size_t i = 0; i < host.size(); ++i) host[i] = static_cast<uint8_t>(0xA0 ^ i);
        uint64_t v = 0x0102030405060708ull;
        for (const auto& f : layout->numbers) {
            PutLe(host, f.offset, v, f.width);
            v += 0x1111111111111111ull;
        }
        std::vector<uint8_t> out = margin_test::BigEndianImage(*layout, host);
        ASSERT_EQ(out.size(), std::size_t{list.size}) << list.name;
        SwapFields(list, out.data());
        EXPECT_EQ(out, host) << list.name;
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
