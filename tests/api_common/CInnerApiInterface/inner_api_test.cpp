#include "api_common/CInnerApiInterface/CInnerApiInterface.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/ApiGlobals.h"
#include "api/ErrorMsg.h"
#include "api/IdGenerator.h"
#include "api/SessionTables.h"
#include "api_common/CInnerApiInterface/TcpClientArray.h"
#include "api/TraderContext.h"
#include "gateway_sim/GatewaySim.h"
#include "infra/tcp_framework/client/TcpClient.h"
#include "support/FakeBus.h"

using OXA::API::_gArrTcpClient;
using OXA::API::CIdGenerator;
using OXA::API::CInnerApiInterface;
using OXA::API::GetErrorMsg;
using OXA::API::SockType;
using oxa_test::FakeBus;
using tcp_framework::client::TcpClient;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kPushReg = 0xf0002;
constexpr const char* kNotOffered = "暂不支持该项业务";

// Keeps what the default logger writes while the object lives.
class LogCapture {
public:
    LogCapture() : m_previous(spdlog::default_logger()) {
        m_sink = std::make_shared<Sink>();
        auto logger = std::make_shared<spdlog::logger>("inner_api_test", m_sink);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(m_previous); }

    // Lines at level that contain part.
    std::size_t Count(spdlog::level::level_enum level, const std::string& part) const {
        std::size_t n = 0;
        for (const auto& line : m_sink->Lines()) n += line.first == level && line.second.find(part) != std::string::npos;
        return n;
    }
    std::string All() const {
        std::string out;
        for (const auto& line : m_sink->Lines()) out += line.second + "\n";
        return out;
    }

private:
    class Sink : public spdlog::sinks::base_sink<std::mutex> {
    public:
        std::vector<std::pair<spdlog::level::level_enum, std::string>> Lines() {
            std::lock_guard<std::mutex> lock(mutex_);
            return m_lines;
        }

    protected:
        void sink_it_(const spdlog::details::log_msg& msg) override {
            m_lines.emplace_back(msg.level, std::string(msg.payload.data(), msg.payload.size()));
        }
        void flush_() override {}

    private:
        std::vector<std::pair<spdlog::level::level_enum, std::string>> m_lines;
    };

    std::shared_ptr<spdlog::logger> m_previous;
    std::shared_ptr<Sink> m_sink;
};

uint64_t Session(uint8_t node, uint16_t fund_index) { return (uint64_t{node} << 16) | fund_index; }

// A back-end wired to its own error record, generator and bus; the process-wide socket type
// and node connections are put back afterwards.
class InnerApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedSockType = SockType.load();
        SockType = 1;
        backend.Init(&bus, &generator, &record);
    }
    void TearDown() override {
        for (std::size_t node = 0; node < OXA::API::TcpClientArray::kNodes; ++node) {
            _gArrTcpClient.Set(static_cast<uint8_t>(node), nullptr);
        }
        SockType = m_savedSockType;
    }

    std::string Text() const { return record.error_msg; }

    OXAErrorInfo record{};
    CIdGenerator generator{7};
    FakeBus bus;
    CInnerApiInterface backend;
    LogCapture log;

private:
    int m_savedSockType = OXA::API::kSockTypeUnset;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// The error record

TEST_F(InnerApiTest, SetLastErrorWithoutTextWritesTheCodesOwnText) {
    backend.SetLastError(1004);
    EXPECT_EQ(record.error_id, 1004);
    EXPECT_EQ(Text(), GetErrorMsg(1004));

    // A second code without text must not keep the first code's text.
    backend.SetLastError(1001, nullptr);
    EXPECT_EQ(record.error_id, 1001);
    EXPECT_EQ(Text(), GetErrorMsg(1001));
    EXPECT_NE(Text(), GetErrorMsg(1004));

    backend.SetLastError(6077, "own words");
    backend.SetLastError(1003);
    EXPECT_EQ(Text(), GetErrorMsg(1003)) << "a text given earlier is replaced as well";
}

TEST_F(InnerApiTest, SetLastErrorTextCases) {
    const std::string long_ascii(200, 'x');
    // 'a' then 60 three-byte characters: 123 bytes would end inside the 41st character
    std::string long_utf8 = "a";
    for (int i = 0; i < 60; ++i) long_utf8 += "错";
    struct Case {
        const char* what;
        int code;
        std::string text;
        std::string expect;
    } cases[] = {
        {"empty text empties the record", 5, "", ""},
        {"text kept as given", 6077, "暂不支持该项业务", "暂不支持该项业务"},
        {"200 characters cut to 123", 9, long_ascii, std::string(123, 'x')},
        {"123 characters fit", 9, std::string(123, 'y'), std::string(123, 'y')},
        {"124 characters cut", 9, std::string(124, 'z'), std::string(123, 'z')},
        {"a cut never splits a character", 9, long_utf8, long_utf8.substr(0, 1 + 40 * 3)},
    };
    for (const auto& c : cases) {
        backend.SetLastError(1004);  // leaves a text to be replaced
        backend.SetLastError(c.code, c.text.c_str());
        EXPECT_EQ(record.error_id, c.code) << c.what;
        EXPECT_EQ(Text(), c.expect) << c.what;
        EXPECT_LE(std::strlen(record.error_msg), 123u) << c.what;
    }
}

TEST_F(InnerApiTest, SetLastErrorLogsCodeAndResultingText) {
    backend.SetLastError(1002);
    EXPECT_EQ(log.Count(spdlog::level::err,
                        std::string("[SetLastError] errNo [1002] errMsg[") + GetErrorMsg(1002) + "]"),
              1u)
        << log.All();
}

TEST_F(InnerApiTest, ConcurrentRecordsNeverMixCodeAndText) {
    const int codes[] = {1001, 1002, 1003, 1004, 211008, 6077};
    std::vector<std::thread> threads;
    for (int code : codes) {
        threads.emplace_back([&, code] {
            for (int i = 0; i < 200; ++i) backend.SetLastError(code);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(Text(), GetErrorMsg(record.error_id));
}

TEST(InnerApiNoRecord, SetLastErrorBeforeInitIsHarmless) {
    CInnerApiInterface backend;
    backend.SetLastError(1004);
    backend.SetLastError(1004, "text");
    SUCCEED();
}

// ---------------------------------------------------------------------------------------
// Operations a back-end does not offer: one table

namespace {

struct NotOfferedCase {
    const char* op;
    int code;         // recorded
    uint64_t result;  // returned (widened)
    std::function<uint64_t(CInnerApiInterface&)> call;
};

}  // namespace

TEST_F(InnerApiTest, NotOfferedDefaults) {
    const uint64_t s = Session(3, 1);
    const NotOfferedCase cases[] = {
        // the five the back-ends inherit
        {"QueryFund", 6077, 6077, [&](CInnerApiInterface& b) { return static_cast<uint64_t>(b.QueryFund(s, 1)); }},
        {"InsertExecuteOrder", 6077, 0,
         [&](CInnerApiInterface& b) {
             ExecuteOrderInsertInfo order{};
             return b.InsertExecuteOrder(&order, s);
         }},
        {"QueryHKConnectIndicativeExchangeRateInfo", 230113, 230113,
         [&](CInnerApiInterface& b) { return static_cast<uint64_t>(b.QueryHKConnectIndicativeExchangeRateInfo(s, 2)); }},
        {"QueryHKConnectSpreadTable", 230113, 230113,
         [&](CInnerApiInterface& b) {
             HKConnectSpreadQueryParam param{};
             return static_cast<uint64_t>(b.QueryHKConnectSpreadTable(&param, s, 3));
         }},
        {"QueryCreditDebtToRepayTodayByPage", 6077, 6077,
         [&](CInnerApiInterface& b) {
             DebtToRepayQueryParam param{};
             return static_cast<uint64_t>(b.QueryCreditDebtToRepayTodayByPage(&param, s, 4));
         }},
        // what a back-end that overrides nothing else answers
        {"QueryAsset", 6077, 6077, [&](CInnerApiInterface& b) { return static_cast<uint64_t>(b.QueryAsset(s, 5)); }},
        {"InsertOrder", 6077, 0,
         [&](CInnerApiInterface& b) {
             OrderInsertInfo order{};
             return b.InsertOrder(&order, s);
         }},
        {"CreditCashRepay", 6077, 0, [&](CInnerApiInterface& b) { return b.CreditCashRepay(s, 1.5); }},
    };
    for (const auto& c : cases) {
        LogCapture one;
        record = OXAErrorInfo{};
        EXPECT_EQ(c.call(backend), c.result) << c.op;
        EXPECT_EQ(record.error_id, c.code) << c.op;
        EXPECT_STREQ(record.error_msg, kNotOffered) << c.op;
        EXPECT_EQ(one.Count(spdlog::level::err, "service not supported currently"), 1u) << c.op << "\n" << one.All();
    }
}

// ---------------------------------------------------------------------------------------
// Ids, settings and the answer reader

TEST_F(InnerApiTest, OrderIdsComeFromTheGenerator) {
    const uint64_t session = 0x0A0003;
    EXPECT_EQ(backend.NextOrderId(session), 0u) << "counter never set";
    ASSERT_TRUE(backend.InitOrderId(session, 99));
    const uint64_t id = backend.NextOrderId(session);
    EXPECT_EQ(id, 0x0A00030700000064ull);
    EXPECT_EQ(CInnerApiInterface::GetSessionIdByOXAID(id), session);
    EXPECT_EQ(CInnerApiInterface::GetClientIdByOXAID(id), 7);
    EXPECT_EQ(CInnerApiInterface::GetSeqByOXAID(id), 100u);
    EXPECT_EQ(CInnerApiInterface::GetNodeIdBySession(session), 10);
    EXPECT_EQ(CInnerApiInterface::GetFundIndexBySession(session), 3);
    EXPECT_EQ(backend.GetClientId(), 7);
    EXPECT_EQ(backend.GetIdGenerator(), &generator);

    CInnerApiInterface bare;
    EXPECT_EQ(bare.NextOrderId(session), 0u);
    EXPECT_FALSE(bare.InitOrderId(session, 1));
    EXPECT_EQ(bare.GetClientId(), 0);
}

TEST_F(InnerApiTest, SocketTypeCharacterAndBusGroup) {
    SockType = 1;
    EXPECT_EQ(CInnerApiInterface::GetSockTypeChar(), '1');
    for (int type : {2, 9, 0, 3}) {
        SockType = type;
        EXPECT_EQ(CInnerApiInterface::GetSockTypeChar(), '2') << type;
    }

    bus.SetGroupMember(12, -3);
    int32_t group = 99, member = 99;
    backend.GetBusGroupMember(&group, &member);
    EXPECT_EQ(group, 12);
    EXPECT_EQ(member, -3);

    CInnerApiInterface no_bus;
    group = member = 99;
    no_bus.GetBusGroupMember(&group, &member);
    EXPECT_EQ(group, 0);
    EXPECT_EQ(member, 0);
    no_bus.GetBusGroupMember(nullptr, nullptr);
}

TEST_F(InnerApiTest, ApiErrorTextOfACode) {
    EXPECT_STREQ(CInnerApiInterface::GetApiErrorMsg(1005), GetErrorMsg(1005));
    EXPECT_STREQ(CInnerApiInterface::GetApiErrorMsg(-1), "OXA_EXCHANGE_ERR_CODE");
}

TEST_F(InnerApiTest, SessionRecordFromTheSharedTable) {
    const uint64_t session = Session(13, 6);
    EXPECT_EQ(backend.GetSessionInfo(session), nullptr);
    EXPECT_EQ(log.Count(spdlog::level::err, "[session_id:" + std::to_string(session) + "] _gArrSessionInfo is nullptr"),
              1u)
        << log.All();

    OXA::API::tagSessionInfo info{};
    info.nFundAcc = 880011;
    info.nApiSessionID = session;
    OXA::API::tagSessionInfo* filed = OXA::API::RegisterSession(info, nullptr, false);
    ASSERT_NE(filed, nullptr);
    EXPECT_EQ(backend.GetSessionInfo(session), filed);
    EXPECT_EQ(backend.GetSessionInfo(session)->nFundAcc, 880011u);
    OXA::API::UnregisterSession(session);
    EXPECT_EQ(backend.GetSessionInfo(session), nullptr);
}

TEST(ReadPushRegAnswer, ReadsWithinTheLength) {
    const auto body = oxa_sim::make_push_reg_answer(0x1122334455667788ull, -4);
    OXA::API::PushRegAnswer answer;
    ASSERT_TRUE(OXA::API::ReadPushRegAnswer(body.data(), body.size(), &answer));
    EXPECT_EQ(answer.fund_account, 0x1122334455667788ull);
    EXPECT_EQ(answer.error, -4);

    for (std::size_t n : {0u, 8u, 11u}) {
        answer.fund_account = 1;
        EXPECT_FALSE(OXA::API::ReadPushRegAnswer(body.data(), n, &answer)) << n;
        EXPECT_EQ(answer.fund_account, 0u) << n;
    }
    EXPECT_FALSE(OXA::API::ReadPushRegAnswer(nullptr, 12, &answer));
    EXPECT_FALSE(OXA::API::ReadPushRegAnswer(body.data(), body.size(), nullptr));
}

// ---------------------------------------------------------------------------------------
// Push registration and sends against the simulated gateway on 127.0.0.1

namespace {

class GatewayTest : public InnerApiTest {
protected:
    void SetUp() override {
        InnerApiTest::SetUp();
        ASSERT_TRUE(sim.start());
        client = MakeClient();
        ASSERT_EQ(client->connect("127.0.0.1", sim.port()), 0);
        ASSERT_TRUE(client->is_connected());
    }
    void TearDown() override {
        if (client) client->stop();
        if (idle) idle->stop();
        sim.stop();
        InnerApiTest::TearDown();
    }

    // A connection that hands push-registration answers on as the router does: to the
    // back-end, or to the registry of the facade's context it carries (which then follows its
    // links as the facade's connections do).
    std::shared_ptr<TcpClient> MakeClient(OXA::API::TraderContext* context = nullptr) {
        auto c = std::make_shared<TcpClient>(0, context);
        c->set_heartbeat_interval(0);
        CInnerApiInterface* target = &backend;
        c->set_response_async_callback([target, context](std::shared_ptr<TcpClient> self, unsigned int msg_id,
                                                         unsigned long, const unsigned char* body, unsigned int length) {
            OXA::API::PushRegAnswer answer;
            if (msg_id == kPushReg && OXA::API::ReadPushRegAnswer(body, length, &answer)) {
                if (context)
                    context->push.Deliver(self->delivering_link(), answer.fund_account, answer.error);
                else
                    target->OnGatewayPushReg(answer.fund_account, answer.error);
            }
            return 0;
        });
        if (context) {
            c->set_link_callbacks(
                [context](std::shared_ptr<TcpClient>, uint64_t link) {
                    context->push.LinkUp(link, {});
                    return std::vector<tcp_framework::client::LinkRequest>{};
                },
                [context](std::shared_ptr<TcpClient>, uint64_t link) { context->push.LinkDown(link); });
        }
        return c;
    }

    // A client that never connected: its sends fail with the client's own code.
    std::shared_ptr<TcpClient> Idle() {
        if (!idle) idle = MakeClient();
        return idle;
    }

    std::vector<oxa_sim::ReceivedFrame> Frames(uint32_t msg_id) const {
        std::vector<oxa_sim::ReceivedFrame> out;
        for (auto& f : sim.frames()) {
            if (f.msg_id == msg_id) out.push_back(f);
        }
        return out;
    }

    static uint64_t Account(const oxa_sim::ReceivedFrame& f) {
        uint64_t account = 0;
        if (f.body.size() >= 8) std::memcpy(&account, f.body.data(), 8);  // little-endian host
        return account;
    }

    oxa_sim::GatewaySim sim;
    std::shared_ptr<TcpClient> client;
    std::shared_ptr<TcpClient> idle;
};

}  // namespace

TEST_F(GatewayTest, PushRegistrationSendsTheAccountWithTheSequenceAsRequestId) {
    backend.SetLastError(0, "");
    const uint64_t seq = backend.GetRequestSeq();
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 10000123456ull), 0);
    EXPECT_EQ(backend.GetRequestSeq(), seq + 1);

    const auto frames = Frames(kPushReg);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].request_id, seq);
    EXPECT_EQ(frames[0].body.size(), 8u);
    EXPECT_EQ(Account(frames[0]), 10000123456ull);
    EXPECT_EQ(record.error_id, 0) << "a registration that was answered records nothing";

    // The back-ends' own requests take the next ids from the same sequence.
    EXPECT_EQ(backend.NextRequestId(), seq + 1);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 7), 0);
    ASSERT_EQ(Frames(kPushReg).size(), 2u);
    EXPECT_EQ(Frames(kPushReg)[1].request_id, seq + 2);
}

// On a connection of the facade an account is registered once per link; a new link or a
// logout makes it register again.
TEST_F(GatewayTest, AnAccountIsRegisteredOncePerLink) {
    OXA::API::TraderContext context(nullptr);
    client->stop();
    client = MakeClient(&context);
    ASSERT_EQ(client->connect("127.0.0.1", sim.port()), 0);
    sim.clear_frames();

    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 5), 0);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 5), 0) << "registered on this link already";
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 6), 0);
    ASSERT_EQ(Frames(kPushReg).size(), 2u);
    EXPECT_EQ(context.push.Served(), (std::vector<uint64_t>{5, 6})) << "the connection serves them from here";

    // a refusal is no registration: the next attempt sends again
    sim.set_push_reg_error(4109);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 7), 4109);
    sim.set_push_reg_error(0);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 7), 0);
    EXPECT_EQ(Frames(kPushReg).size(), 4u);

    // a new link registers every account again; a logged-out account at its next login
    client->stop();
    ASSERT_EQ(client->connect("127.0.0.1", sim.port()), 0);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 5), 0);
    context.push.Forget(6);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 6), 0);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 6), 0);
    std::vector<uint64_t> accounts;
    for (const auto& f : Frames(kPushReg)) accounts.push_back(Account(f));
    EXPECT_EQ(accounts, (std::vector<uint64_t>{5, 6, 7, 7, 5, 6}));
    client->stop();
}

// A registration waits only for its own link: once that link is gone it ends at once, with
// the connection's code, however long its wait was to be.
TEST_F(GatewayTest, ARegistrationEndsAsSoonAsItsLinkIsLost) {
    OXA::API::TraderContext context(nullptr);
    client->stop();
    client = MakeClient(&context);
    ASSERT_EQ(client->connect("127.0.0.1", sim.port()), 0);
    sim.set_reply(kPushReg, oxa_sim::ReplyPlan::never());
    backend.SetPushRegisterTimeout(60s);
    std::thread cut([&] {
        if (sim.wait_for_frame(kPushReg, 5s)) sim.close_connections();
    });
    record = OXAErrorInfo{};
    const auto start = Clock::now();
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 42), 1002);
    EXPECT_LT(Clock::now() - start, 20s) << "waited for a link that was gone";
    cut.join();
    EXPECT_EQ(record.error_id, 1002);
    client->stop();  // before the context goes
}

TEST_F(GatewayTest, RefusedRegistrationReturnsTheGatewaysError) {
    sim.set_push_reg_error(4109);
    record = OXAErrorInfo{};
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 31), 4109);
    EXPECT_EQ(record.error_id, 0) << "the router records the gateway's error, not the back-end";
    sim.set_push_reg_error(0);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 31), 0);
}

TEST_F(GatewayTest, PushRegistrationNotAnsweredGives1001AfterTheWait) {
    sim.set_reply(kPushReg, oxa_sim::ReplyPlan::never());
    backend.SetPushRegisterTimeout(60ms);
    const auto start = Clock::now();
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 42), 1001);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 60ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(record.error_id, 1001);
    EXPECT_EQ(Text(), GetErrorMsg(1001));
    // the sim may read the frame after the short wait ended on a loaded machine
    EXPECT_TRUE(sim.wait_for_frame(kPushReg, 5s).has_value()) << "the request itself was sent";
    EXPECT_EQ(Frames(kPushReg).size(), 1u);
}

TEST_F(GatewayTest, DefaultWaitIsTenSeconds) {
    EXPECT_EQ(backend.GetPushRegisterTimeout(), 10000ms);
}

TEST_F(GatewayTest, FailedSendReturnsItsCodeAndStillAdvancesTheSequence) {
    record = OXAErrorInfo{};
    const uint64_t seq = backend.GetRequestSeq();
    EXPECT_EQ(backend.TradeGatewayPushRegister(Idle(), 42), tcp_framework::client::TCP_CLIENT_NOT_CONNECTED);
    EXPECT_EQ(backend.GetRequestSeq(), seq + 1);
    EXPECT_EQ(record.error_id, 0) << "the send's code is returned, not recorded";
    EXPECT_EQ(log.Count(spdlog::level::err, "[TradeGatewayPushRegister] request_async errmsg [2001]"), 1u)
        << log.All();

    // The next registration does not take a stale answer for granted.
    backend.SetPushRegisterTimeout(30ms);
    sim.set_reply(kPushReg, oxa_sim::ReplyPlan::never());
    backend.OnGatewayPushReg(42);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 42), 1001);
}

TEST_F(GatewayTest, NoConnectionGives1003) {
    EXPECT_EQ(backend.TradeGatewayPushRegister(nullptr, 42), 1003);
    EXPECT_EQ(record.error_id, 1003);
}

TEST_F(GatewayTest, BusModeRegistersNothing) {
    SockType = 2;
    const uint64_t seq = backend.GetRequestSeq();
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 5555), 0);
    EXPECT_EQ(backend.GetRequestSeq(), seq);

    // A TCP registration afterwards is the first and only frame the gateway sees.
    SockType = 1;
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 6666), 0);
    const auto frames = Frames(kPushReg);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Account(frames[0]), 6666u);
    EXPECT_EQ(bus.SendCount(), 0u);
}

TEST_F(GatewayTest, TwoRegistrationsAtOnceDoNotWakeEachOther) {
    // The gateway answers account B only. Whichever runs first, A must time out and B
    // must succeed: B's answer never counts for A.
    constexpr uint64_t kA = 1111, kB = 2222;
    sim.on(kPushReg, [](const oxa_sim::Exchange& ex) {
        uint64_t account = 0;
        if (ex.request.body.size() >= 8) std::memcpy(&account, ex.request.body.data(), 8);
        if (account == kB) ex.answer(kPushReg, oxa_sim::make_push_reg_answer(kB, 0));
    });
    backend.SetPushRegisterTimeout(300ms);
    int result_a = -1, result_b = -1;
    std::thread a([&] { result_a = backend.TradeGatewayPushRegister(client, kA); });
    std::thread b([&] { result_b = backend.TradeGatewayPushRegister(client, kB); });
    a.join();
    b.join();
    EXPECT_EQ(result_a, 1001);
    EXPECT_EQ(result_b, 0);
    EXPECT_EQ(Frames(kPushReg).size(), 2u);
}

TEST_F(GatewayTest, TwoRegistrationsAtOnceBothSucceedWhenBothAreAnswered) {
    // A login and a re-registration on reconnect may overlap; neither may cut the other's
    // wait short.
    sim.set_reply(kPushReg, oxa_sim::ReplyPlan::delayed(50ms));
    backend.SetPushRegisterTimeout(3000ms);
    std::atomic<int> ready{0};
    int result_a = -1, result_b = -1;
    auto run = [&](uint64_t account, int& result) {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        result = backend.TradeGatewayPushRegister(client, account);
    };
    std::thread a(run, 1111, std::ref(result_a));
    std::thread b(run, 2222, std::ref(result_b));
    a.join();
    b.join();
    EXPECT_EQ(result_a, 0);
    EXPECT_EQ(result_b, 0);
    EXPECT_EQ(Frames(kPushReg).size(), 2u);
}

TEST_F(GatewayTest, LateAnswerOfAnEarlierRegistrationDoesNotWakeTheNext) {
    constexpr uint64_t kA = 1111, kB = 2222;
    sim.queue_reply(kPushReg, oxa_sim::ReplyPlan::late(150ms));  // A's answer, after A gave up
    sim.queue_reply(kPushReg, oxa_sim::ReplyPlan::never());     // B is never answered
    backend.SetPushRegisterTimeout(50ms);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, kA), 1001);
    backend.SetPushRegisterTimeout(400ms);
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, kB), 1001) << "A's late answer arrived during B's wait";
}

TEST_F(GatewayTest, AnswersFromAnotherThreadWakeTheWaiterEarly) {
    sim.set_reply(kPushReg, oxa_sim::ReplyPlan::delayed(30ms));
    const auto start = Clock::now();
    EXPECT_EQ(backend.TradeGatewayPushRegister(client, 77), 0);
    EXPECT_LT(Clock::now() - start, 5s);
}

// --- SendToServer / SendToGatewayServer -----------------------------------------------

TEST_F(GatewayTest, NoConnectionForTheNodeGives1003AndLogsSessionAndMessage) {
    const uint64_t session = Session(9, 4);
    struct Case {
        const char* op;
        std::function<int()> send;
    } cases[] = {
        {"SendToServer", [&] { return backend.SendToServer(session, 0x123, "ab", 2, 1); }},
        {"SendToGatewayServer", [&] { return backend.SendToGatewayServer(session, 0x123, "ab", 2, 1); }},
    };
    for (int sock_type : {1, 2}) {
        SockType = sock_type;
        for (const auto& c : cases) {
            LogCapture one;
            record = OXAErrorInfo{};
            EXPECT_EQ(c.send(), 1003) << c.op << " sock type " << sock_type;
            EXPECT_EQ(record.error_id, 1003) << c.op;
            EXPECT_EQ(Text(), GetErrorMsg(1003)) << c.op;
            const std::string line =
                std::string("[") + c.op + "] Tcp Client Get Null. ApiSession=" + std::to_string(session) + ",MsgId=0x123";
            EXPECT_EQ(one.Count(spdlog::level::err, line), 1u) << one.All();
        }
    }
    EXPECT_EQ(bus.SendCount(), 0u) << "bus mode still needs the node's connection";
}

TEST_F(GatewayTest, DisconnectedNodeGives1002) {
    _gArrTcpClient.Set(9, Idle());
    EXPECT_EQ(backend.SendToServer(Session(9, 1), 0x200, "x", 1, 1), 1002);
    EXPECT_EQ(record.error_id, 1002);
    EXPECT_EQ(Text(), GetErrorMsg(1002));
    record = OXAErrorInfo{};
    EXPECT_EQ(backend.SendToGatewayServer(Session(9, 1), 0x200, "x", 1, 1), 1002);
    EXPECT_EQ(record.error_id, 1002);
}

TEST_F(GatewayTest, TcpModeSendsOnTheNodesConnection) {
    _gArrTcpClient.Set(4, client);
    const std::string order = "order-body";
    EXPECT_EQ(backend.SendToServer(Session(4, 2), 0x101, order.data(), static_cast<int>(order.size()), 77), 0);
    EXPECT_EQ(backend.SendToGatewayServer(Session(4, 2), 0x102, "q", 1, 78), 0);
    ASSERT_TRUE(sim.wait_for_frame(0x102, 5000ms).has_value());
    const auto order_frames = Frames(0x101);
    ASSERT_EQ(order_frames.size(), 1u);
    EXPECT_EQ(order_frames[0].request_id, 77u);
    EXPECT_EQ(std::string(order_frames[0].body.begin(), order_frames[0].body.end()), order);
    EXPECT_EQ(Frames(0x102)[0].request_id, 78u);
    EXPECT_EQ(bus.SendCount(), 0u);
}

TEST_F(GatewayTest, BusModeSendsOrdersThroughTheBusAndQueriesOverTcp) {
    SockType = 2;
    _gArrTcpClient.Set(4, client);
    const std::string order = "bus-order";
    EXPECT_EQ(backend.SendToServer(Session(4, 2), 0x101, order.data(), static_cast<int>(order.size()), 5), 0);
    const auto sends = bus.Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].msg_id, 0x101u);
    EXPECT_EQ(std::string(sends[0].body.begin(), sends[0].body.end()), order);
    EXPECT_EQ(sends[0].length, static_cast<int>(order.size()));
    EXPECT_EQ(sends[0].group, -1) << "every group";
    EXPECT_EQ(sends[0].member, -1) << "every member";

    EXPECT_EQ(backend.SendToGatewayServer(Session(4, 2), 0x102, "q", 1, 6), 0);
    ASSERT_TRUE(sim.wait_for_frame(0x102, 5000ms).has_value()) << "gateway messages stay on TCP";
    EXPECT_EQ(bus.SendCount(), 1u);
    EXPECT_TRUE(Frames(0x101).empty()) << "the order did not go over TCP";

    // The bus does not need the connection to be up, only to exist.
    _gArrTcpClient.Set(5, Idle());
    EXPECT_EQ(backend.SendToServer(Session(5, 1), 0x103, "y", 1, 7), 0);
    EXPECT_EQ(bus.SendCount(), 2u);
}

TEST_F(GatewayTest, SendFailuresGive1003) {
    _gArrTcpClient.Set(4, client);
    struct Case {
        const char* what;
        int sock_type;
        bool bus_result;
        const void* body;
        int length;
    } cases[] = {
        {"bus refuses", 2, false, "abc", 3},
        {"bus: negative length", 2, true, "abc", -1},
        {"bus: no body for the length", 2, true, nullptr, 3},
        {"tcp: negative length", 1, true, "abc", -1},
        {"tcp: no body for the length", 1, true, nullptr, 3},
        {"tcp: body larger than a frame", 1, true, "abc", 0x7fffffff},
    };
    for (const auto& c : cases) {
        SockType = c.sock_type;
        bus.SetSendResult(c.bus_result);
        LogCapture one;
        record = OXAErrorInfo{};
        EXPECT_EQ(backend.SendToServer(Session(4, 1), 0x1ab, c.body, c.length, 1), 1003) << c.what;
        EXPECT_EQ(record.error_id, 1003) << c.what;
        const std::string line = "[SendToServer] Send Msg Failed. MsgID:0x1ab Len:[" + std::to_string(c.length) + "]";
        EXPECT_EQ(one.Count(spdlog::level::err, line), 1u) << c.what << "\n" << one.All();
    }
    EXPECT_EQ(bus.SendCount(), 1u) << "only the well-formed send reached the bus";

    SockType = 1;
    LogCapture one;
    EXPECT_EQ(backend.SendToGatewayServer(Session(4, 1), 0x1ac, nullptr, 3, 1), 1003);
    EXPECT_EQ(one.Count(spdlog::level::err, "[SendToGatewayServer] Send Msg Failed. MsgID:0x1ac Len:[3]"), 1u)
        << one.All();
    EXPECT_TRUE(Frames(0x1ab).empty());
}

TEST_F(GatewayTest, BusModeWithoutABusGives1003) {
    SockType = 2;
    CInnerApiInterface no_bus;
    no_bus.Init(nullptr, &generator, &record);
    EXPECT_EQ(no_bus.SendToServer(client, 0x101, "a", 1, 1), 1003);
    EXPECT_EQ(record.error_id, 1003);
}

TEST_F(GatewayTest, SendOnAGivenConnection) {
    EXPECT_EQ(backend.SendToServer(client, 0x111, "a", 1, 3), 0);
    EXPECT_EQ(backend.SendToGatewayServer(client, 0x112, "b", 1, 4), 0);
    ASSERT_TRUE(sim.wait_for_frame(0x112, 5000ms).has_value());
    EXPECT_EQ(Frames(0x111).size(), 1u);
    EXPECT_EQ(backend.SendToServer(Idle(), 0x113, "a", 1, 3), 1002);
    EXPECT_EQ(backend.SendToServer(std::shared_ptr<TcpClient>(), 0x113, "a", 1, 3), 1003);
    EXPECT_EQ(backend.SendToGatewayServer(std::shared_ptr<TcpClient>(), 0x113, "a", 1, 3), 1003);
}
