// The margin request table: golden bytes of every request shape as one table (each row a body
// built from expected fields at their offsets, never from the library's own layouts), the
// records the order path copies as they stand, and the repayment amounts the back-end accepts.
#include "core/margin_api/MarginRequestPack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace OXA::API::MARGIN;

using Bytes = std::vector<uint8_t>;

// An expected body: zeros, then fields written at their offsets in host order.
struct Expect {
    Bytes b;
    std::vector<std::pair<std::size_t, std::size_t>> fields;  // offset, width: for the failure's hex
    explicit Expect(std::size_t len) : b(len, 0) {}
    template <typename T>
    Expect& at(std::size_t off, T v) {
        return raw(off, &v, sizeof v);
    }
    Expect& raw(std::size_t off, const void* p, std::size_t n) {
        std::memcpy(&b[off], p, n);
        fields.emplace_back(off, n);
        return *this;
    }
    // The 22-byte CreditReqHead of the test session.
    Expect& head() {
        return at<uint64_t>(0, 7100).at<uint32_t>(8, 7).at<uint64_t>(12, 100005).at<uint16_t>(20, 6);
    }
    // The 32-byte CreditReqHeadEx with request id 77.
    Expect& head_ex() { return at<uint64_t>(0, 100005).at<int64_t>(8, 77).at<uint64_t>(16, 7100).at<uint8_t>(24, 6); }
};

// The bytes with a '|' after each expected field, so a failure shows where it lies.
std::string Hex(const Bytes& b, const Expect& e) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", b[i]);
        out += buf;
        bool end = false;
        for (const auto& f : e.fields) end = end || f.first + f.second == i + 1;
        out += end ? "|" : " ";
    }
    return out;
}

PackSession Session() {
    PackSession s;
    s.session_no = 100005;
    s.fund_account = 7100;
    s.fund_index = 7;
    s.protocol_type = 1;
    s.client_id = 6;
    return s;
}

// Records the rows point into; filled with a pattern so a copy shows where each byte went.
struct Records {
    OrderInsertInfo order;
    FundTransferInfo transfer;
    CashRepaySpecifiedDebtInfo repay_debt;
    CreditRequestParam credit;
    OrderQueryParam order_query{"600000", 20240102093000000, 20240102150000000};
    TradeQueryParam trade_query{"600036", 1, 2};
    PageQueryParam page{0x100000000LL + 50, 0x200000000LL + 9, 0x3333};
    TickerQueryParam ticker{"600519", 2};
    FundTransferQueryParam transfer_query{0x0123456789abcdefULL};
    uint64_t credit14 = 0xfeedfacecafebeefULL;
    DebtToRepayQueryParam debt{0x100000000LL + 20, 0x200000000LL + 4, -3, "debt-ticker"};
    Records() {
        auto fill = [](void* p, std::size_t n, uint8_t base) {
            for (std::size_t i = 0; i < n; ++i) static_cast<uint8_t*>(p)[i] = static_cast<uint8_t>(base + i);
        };
        fill(&order, sizeof order, 0x10);
        fill(&transfer, sizeof transfer, 0x40);
        fill(&repay_debt, sizeof repay_debt, 0x80);
        fill(&credit, sizeof credit, 0xc0);
    }
};

const uint8_t* Raw(const void* p) { return static_cast<const uint8_t*>(p); }

struct Row {
    const char* name;
    std::function<void(PackRequest&, Records&)> setup;
    std::function<Expect(const Records&)> expect;
    uint32_t msg_id;
};

TEST(MarginRequestPackTest, GoldenBodies) {
    constexpr uint64_t kNew = 0x0003000706000021ULL;
    constexpr uint64_t kTarget = 0x0003000706000011ULL;
    const Row rows[] = {
        {"InsertOrder: the record as written, but bytes 22 (id), 84 (protocol) and 85 (client id)",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::InsertOrder;
             q.order = &r.order;
             q.new_id = kNew;
         },
         [](const Records& r) {
             Expect e(90);
             e.head().raw(22, Raw(&r.order), 68).at<uint64_t>(22, kNew).at<uint8_t>(84, '1').at<uint8_t>(85, 6);
             return e;
         },
         0x226},
        {"CancelOrder",
         [](PackRequest& q, Records&) {
             q.op = PackOp::CancelOrder;
             q.new_id = kNew;
             q.target_id = kTarget;
         },
         [](const Records&) {
             Expect e(38);
             e.head().at<uint64_t>(22, kNew).at<uint64_t>(30, kTarget);
             return e;
         },
         0x227},
        {"FundTransfer: record bytes 0-95, its int32 at 96 at 118",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::FundTransfer;
             q.transfer = &r.transfer;
         },
         [](const Records& r) {
             Expect e(122);
             e.head().raw(22, Raw(&r.transfer), 96).raw(118, Raw(&r.transfer) + 96, 4);
             return e;
         },
         0x230},
        {"CreditCashRepay: the amount unchanged",
         [](PackRequest& q, Records&) {
             q.op = PackOp::CreditCashRepay;
             q.new_id = kNew;
             q.amount = 2.01;
         },
         [](const Records&) {
             Expect e(38);
             e.head().at<uint64_t>(22, kNew).at<double>(30, 2.01);
             return e;
         },
         0x232},
        {"CreditCashRepaySpecifiedDebt: record bytes 0-63, its int32 at 64 at 86",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::CreditCashRepaySpecifiedDebt;
             q.repay_debt = &r.repay_debt;
         },
         [](const Records& r) {
             Expect e(90);
             e.head().raw(22, Raw(&r.repay_debt), 64).raw(86, Raw(&r.repay_debt) + 64, 4);
             return e;
         },
         0x234},
        {"CreditRequest: record bytes 0-31, its int32 at 32 at 54",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::CreditRequest;
             q.credit = &r.credit;
         },
         [](const Records& r) {
             Expect e(58);
             e.head().raw(22, Raw(&r.credit), 32).raw(54, Raw(&r.credit) + 32, 4);
             return e;
         },
         0x31a},
        {"QueryOrderByOXAID: 1 at 30, the id at 31",
         [](PackRequest& q, Records&) {
             q.op = PackOp::QueryOrderByOXAID;
             q.target_id = kTarget;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(71);
             e.head().at<int64_t>(22, 77).at<uint8_t>(30, 1).at<uint64_t>(31, kTarget);
             return e;
         },
         0x260},
        {"QueryOrders: 0 at 30 and 31, the parameter at 39",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryOrders;
             q.order_query = &r.order_query;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(71);
             e.head().at<int64_t>(22, 77).raw(39, Raw(&r.order_query), 32);
             return e;
         },
         0x260},
        {"QueryTrades: the parameter at 39",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryTrades;
             q.trade_query = &r.trade_query;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(71);
             e.head().at<int64_t>(22, 77).raw(39, Raw(&r.trade_query), 32);
             return e;
         },
         0x262},
        {"QueryPosition: a negative request id sign-extended, the ticker cut to 15 and ended",
         [](PackRequest& q, Records&) {
             q.op = PackOp::QueryPosition;
             q.ticker = "ABCDEFGHIJKLMNOPQRS";
             q.request_id = -2;
         },
         [](const Records&) {
             Expect e(46);
             e.head().at<int64_t>(22, -2).raw(30, "ABCDEFGHIJKLMNO", 15);
             return e;
         },
         0x252},
        {"QueryPosition without a ticker",
         [](PackRequest& q, Records&) {
             q.op = PackOp::QueryPosition;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(46);
             e.head().at<int64_t>(22, 77);
             return e;
         },
         0x252},
        {"QueryFund: the request id only",
         [](PackRequest& q, Records&) {
             q.op = PackOp::QueryFund;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(30);
             e.head().at<int64_t>(22, 77);
             return e;
         },
         0x248},
        {"QueryCreditInfo4: the 24-byte page parameter at 30",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryCreditInfo4;
             q.page = &r.page;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(54);
             e.head().at<int64_t>(22, 77).raw(30, Raw(&r.page), 24);
             return e;
         },
         0x282},
        {"QueryIPOInfoList: 31 bytes, the last one 0",
         [](PackRequest& q, Records&) {
             q.op = PackOp::QueryIPOInfoList;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(31);
             e.head().at<int64_t>(22, 77);
             return e;
         },
         0x278},
        {"QueryCreditInfo7: ticker 16 bytes at 30, market at 46",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryCreditInfo7;
             q.ticker_query = &r.ticker;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(50);
             e.head().at<int64_t>(22, 77).raw(30, r.ticker.ticker, 16).at<int32_t>(46, 2);
             return e;
         },
         0x264},
        {"QueryFundTransfer: the serial id at 30",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryFundTransfer;
             q.transfer_query = &r.transfer_query;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(38);
             e.head().at<int64_t>(22, 77).at<uint64_t>(30, 0x0123456789abcdefULL);
             return e;
         },
         0x270},
        {"QueryCreditInfo14: the parameter's uint64 at 30",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryCreditInfo14;
             q.credit14 = &r.credit14;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(38);
             e.head().at<int64_t>(22, 77).at<uint64_t>(30, 0xfeedfacecafebeefULL);
             return e;
         },
         0x31c},
        {"QuerySecurityInfo: extended head, ticker at 32, market at 48",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QuerySecurityInfo;
             q.ticker_query = &r.ticker;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(52);
             e.head_ex().raw(32, r.ticker.ticker, 16).at<int32_t>(48, 2);
             return e;
         },
         0x21024},
        {"QuerySecurityByPage: low 32 bits of count and reference, '0' at 40",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QuerySecurityByPage;
             q.page = &r.page;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(68);
             e.head_ex().at<uint32_t>(32, 50).at<uint32_t>(36, 9).at<char>(40, '0');
             return e;
         },
         0x21026},
        {"QueryCreditTargetStkByPage: 48 bytes",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryCreditTargetStkByPage;
             q.page = &r.page;
             q.request_id = 77;
         },
         [](const Records&) {
             Expect e(48);
             e.head_ex().at<uint32_t>(32, 50).at<uint32_t>(36, 9).at<char>(40, '0');
             return e;
         },
         0x21016},
        {"QueryCreditDebtToRepayTodayByPage: count, reference, '0', the int32 at 48, the text at 52",
         [](PackRequest& q, Records& r) {
             q.op = PackOp::QueryCreditDebtToRepayTodayByPage;
             q.debt = &r.debt;
             q.request_id = 77;
         },
         [](const Records& r) {
             Expect e(84);
             e.head_ex().at<uint32_t>(32, 20).at<uint32_t>(36, 4).at<char>(40, '0').at<int32_t>(48, -3).raw(
                 52, r.debt.field_20, 16);
             return e;
         },
         0x21030},
    };
    for (const Row& row : rows) {
        Records records;
        const Records untouched = records;
        PackRequest req;
        row.setup(req, records);
        uint8_t buf[kPackMaxLength + 8];
        std::memset(buf, 0xAA, sizeof buf);
        const PackResult r = PackMarginRequest(req, Session(), buf, sizeof buf);
        ASSERT_TRUE(r.ok()) << row.name;
        EXPECT_EQ(r.msg_id, row.msg_id) << row.name;
        const Expect e = row.expect(records);
        ASSERT_EQ(r.length, e.b.size()) << row.name;
        const Bytes got(buf, buf + r.length);
        EXPECT_EQ(got, e.b) << row.name << "\n got  " << Hex(got, e) << "\n want " << Hex(e.b, e);
        EXPECT_EQ(buf[r.length], 0xAA) << row.name << ": a byte after the body was written";
        EXPECT_EQ(std::memcmp(&records, &untouched, sizeof records), 0) << row.name << ": the records changed";
        EXPECT_EQ(PackInfoOf(req.op)->length, e.b.size()) << row.name;
    }
}

TEST(MarginRequestPackTest, TheOrderSourceFollowsTheSessionsProtocol) {
    OrderInsertInfo order{};
    order.order_source = 'J';
    order.field_63 = 99;
    PackRequest req;
    req.op = PackOp::InsertOrder;
    req.order = &order;
    for (uint16_t protocol : {1, 2}) {
        PackSession s = Session();
        s.protocol_type = protocol;
        uint8_t buf[kPackMaxLength];
        ASSERT_TRUE(PackMarginRequest(req, s, buf, sizeof buf).ok());
        EXPECT_EQ(buf[84], protocol == 1 ? '1' : '2');
        EXPECT_EQ(buf[85], 6);
    }
    EXPECT_EQ(order.order_source, 'J') << "the application's record is not changed";
}

TEST(MarginRequestPackTest, MissingRecordsAndSmallBuffersWriteNothing) {
    const PackOp need_record[] = {PackOp::InsertOrder,        PackOp::FundTransfer,
                                  PackOp::CreditCashRepaySpecifiedDebt, PackOp::CreditRequest,
                                  PackOp::QueryOrders,        PackOp::QueryTrades,
                                  PackOp::QueryOrdersByPage,  PackOp::QueryCreditInfo5,
                                  PackOp::QueryFundTransfer,  PackOp::QueryCreditInfo14,
                                  PackOp::QuerySecurityInfo,  PackOp::QueryCreditDebtToRepayTodayByPage};
    for (PackOp op : need_record) {
        PackRequest req;
        req.op = op;
        EXPECT_FALSE(HasRequiredRecord(req)) << PackInfoOf(op)->name;
        uint8_t buf[kPackMaxLength];
        std::memset(buf, 0xAA, sizeof buf);
        EXPECT_EQ(PackMarginRequest(req, Session(), buf, sizeof buf).status, PackStatus::RecordMissing);
        EXPECT_EQ(buf[0], 0xAA);
    }
    PackRequest fund;
    fund.op = PackOp::QueryFund;
    EXPECT_TRUE(HasRequiredRecord(fund));
    uint8_t small[29];
    EXPECT_EQ(PackMarginRequest(fund, Session(), small, sizeof small).status, PackStatus::BufferTooSmall);
    fund.op = PackOp::Count;
    EXPECT_EQ(PackMarginRequest(fund, Session(), small, sizeof small).status, PackStatus::UnknownOperation);
    EXPECT_EQ(PackInfoOf(PackOp::Count), nullptr);
}

// Rounded to hundredths: 2.01 (whose double is a hair below) is a whole number of cents.
TEST(MarginRequestPackTest, RepayAmounts) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double amount;
        bool valid;
    } cases[] = {
        {0.01, true},  {2.01, true},   {0.29, true},     {1.1, true},   {123456789.99, true}, {1e13, true},
        {0.005, false}, {0.0, false},  {-1.0, false},    {-0.01, false}, {1.234, false},      {0.011, false},
        {std::nan(""), false}, {inf, false}, {-inf, false}, {1e300, false}, {1e13 + 0.01, false},
        {std::numeric_limits<double>::denorm_min(), false},
    };
    for (const auto& c : cases) EXPECT_EQ(RepayAmountValid(c.amount), c.valid) << c.amount;
}

}  // namespace
