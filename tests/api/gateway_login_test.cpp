// Login, Logout and inbound routing against the simulated gateway on loopback, with a
// stub back-end put in through the creation hook.
#include "support/LoginFixture.h"

#include "api_common/CInnerApiInterface/TcpClientArray.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST_F(GatewayLoginTest, LoginRequestBytesAtTheirOffsets) {
    OXATerminalInfo terminal{};
    const std::string password(600, 'p');  // cut at 511
    LoginAnswer a;
    sim_.set_login_answer(a);
    const uint64_t session = api_->Login("127.0.0.1", sim_.port(), "4242", password.c_str(), 1, nullptr, &terminal);
    ASSERT_NE(session, 0u);
    auto frame = sim_.wait_for_frame(OXA::API::FUNC_ID_LOGIN, 2000ms);
    ASSERT_TRUE(frame);
    const std::vector<uint8_t>& b = frame->body;
    ASSERT_EQ(b.size(), 857u);
    EXPECT_EQ(Le64(b, 0), 4242u);
    for (size_t i = 8; i < 8 + 511; ++i) ASSERT_EQ(b[i], 'p') << i;
    EXPECT_EQ(b[519], 0);
    EXPECT_EQ(Le16(b, 520), 1u);
    EXPECT_EQ(b[522], 2);
    const uint8_t version[4] = {0x00, 0x01, 0x23, 0x02};
    EXPECT_EQ(std::memcmp(&b[523], version, 4), 0);
    EXPECT_EQ(b[527] | b[528] | b[529], 0);
    EXPECT_EQ(b[530], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[787])), "API");
    EXPECT_EQ(Le16(b, 851), 3u);  // the factory's client id
    EXPECT_EQ(Le32(b, 853), 0u);
    EXPECT_EQ(b[531 + 255], 0) << "terminal text is terminated within its field";
    EXPECT_EQ(frame->request_id, 0u);
}

TEST_F(GatewayLoginTest, AnswerFieldsAreReadAtTheirOffsets) {
    LoginAnswer a;
    a.hqtrs_ip = "10.1.2.3";
    a.hqtrs_port = 40000;  // above 32,767: read as unsigned
    a.group_id = 11;
    a.member_id = 12;
    a.option_value = 0x1122334455667788ull;
    sim_.set_login_answer(a);
    ASSERT_NE(Login(), 0u);
    const OXA::API::GatewayLoginRsp rsp = api_->GetGatewayLoginRsp();
    EXPECT_EQ(rsp.fundid, 1001u);
    EXPECT_EQ(rsp.protocol_mod, 1);
    EXPECT_STREQ(rsp.hqtrs_ip, "10.1.2.3");
    EXPECT_EQ(rsp.hqtrs_port, 40000);
    EXPECT_EQ(rsp.group_id, 11);
    EXPECT_EQ(rsp.member_id, 12);
    EXPECT_EQ(rsp.nFuncType, 1);
    EXPECT_EQ(rsp.option_value, 0x1122334455667788ull);

    // a 16-character address leaves no terminator on the wire
    a.hqtrs_ip = "1234567890123456";
    sim_.set_login_answer(a);
    ASSERT_NE(Login("1002"), 0u);
    EXPECT_STREQ(api_->GetGatewayLoginRsp().hqtrs_ip, "1234567890123456");
}

TEST_F(GatewayLoginTest, FailuresOfTheGatewayLogin) {
    constexpr auto kLate = 3000ms;
    struct Case {
        const char* name;
        std::function<void(GatewaySim&)> arrange;
        int code;
    };
    const Case cases[] = {
        {"refused by the gateway",
         [](GatewaySim& s) {
             LoginAnswer a;
             a.error_code = 4097;
             s.set_login_answer(a);
         },
         4097},
        {"no answer", [](GatewaySim& s) { s.set_reply(OXA::API::FUNC_ID_LOGIN, ReplyPlan::never()); }, 1001},
        {"unknown protocol mode",
         [](GatewaySim& s) {
             LoginAnswer a;
             a.protocol_mode = 3;
             s.set_login_answer(a);
         },
         1001},
        {"answer for another account",
         [](GatewaySim& s) {
             LoginAnswer a;
             a.fund_account = 999;
             s.set_login_answer(a);
         },
         1001},
        {"answer too short", [](GatewaySim& s) { s.set_reply(OXA::API::FUNC_ID_LOGIN, ReplyPlan::short_body(20)); },
         1001},
        {"answer after the login gave up",
         [](GatewaySim& s) { s.set_reply(OXA::API::FUNC_ID_LOGIN, ReplyPlan::late(kLate)); }, 1001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An answer that comes is waited for as long as a loaded machine takes; a wait that must
        // run out is short, and the late answer comes well after it (a thread woken late takes
        // an answer that came meanwhile).
        if (c.code == 1001)
            ShortWaits(300ms);
        else
            LongWaits();
        sim_.set_login_answer(LoginAnswer{});
        sim_.set_reply(OXA::API::FUNC_ID_LOGIN, ReplyPlan::immediate());
        c.arrange(sim_);
        api_->GetApiLastError()->error_id = 0;
        EXPECT_EQ(Login(), 0u);
        EXPECT_EQ(LastError(), c.code);
    }
    // a late answer to an earlier login never satisfies the next one
    sim_.set_login_answer(LoginAnswer{});
    sim_.set_reply(OXA::API::FUNC_ID_LOGIN, ReplyPlan::immediate());
    std::this_thread::sleep_for(kLate);
    LongWaits();
    EXPECT_NE(Login(), 0u);
}

// One login is in flight at a time: a refusal ends it at once whatever account it names; an
// acceptance must name the account being logged in.
TEST_F(GatewayLoginTest, AnswerMatching) {
    struct Case {
        const char* name;
        std::optional<uint64_t> answer_account;  // unset: the login's own
        int32_t error;
        int code;       // last error after the login
        bool at_once;   // ends well before the timeout
    };
    const Case cases[] = {
        {"refusal naming the account", std::nullopt, 4097, 4097, true},
        {"refusal naming no account", 0, 4109, 4109, true},
        {"refusal naming another account", 999, 4103, 4103, true},
        {"acceptance for another account", 999, 0, 1001, false},
        {"acceptance naming no account", 0, 0, 1001, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraderImpl::Timeouts t = api_->GetTimeouts();
        t.gateway_login = c.at_once ? 10000ms : 300ms;
        api_->SetTimeouts(t);
        LoginAnswer a;
        a.fund_account = c.answer_account;
        a.error_code = c.error;
        sim_.set_login_answer(a);
        api_->GetApiLastError()->error_id = 0;
        const auto start = Clock::now();
        EXPECT_EQ(Login(), 0u);
        EXPECT_EQ(LastError(), c.code);
        if (c.at_once) {
            EXPECT_LT(Clock::now() - start, 5000ms);
        }
    }
    // the login after them is not confused by anything they left behind
    sim_.set_login_answer(LoginAnswer{});
    LongWaits();
    EXPECT_NE(Login("1002"), 0u);
}

TEST_F(GatewayLoginTest, BusinessTypeTheLibraryDoesNotBuild) {
    for (uint8_t type : {uint8_t{2}, uint8_t{3}, uint8_t{4}, uint8_t{0xff}}) {
        SCOPED_TRACE(int{type});
        LoginAnswer a;
        a.business_type = type;
        sim_.set_login_answer(a);
        api_->GetApiLastError()->error_id = 0;
        EXPECT_EQ(Login(), 0u);
        EXPECT_EQ(backend_, nullptr);
        EXPECT_EQ(LastError(), 6077);
        EXPECT_STREQ(api_->GetApiLastError()->error_msg, "暂不支持该项业务");
    }
}

TEST_F(GatewayLoginTest, RefusedConnectionFailsAtOnceAndIsReused) {
    ASSERT_TRUE(sim_.refuse_connections());
    // A login that waited for an answer would now take a minute: "at once" is then far below
    // that, whatever a busy machine costs the connect.
    const TraderImpl::Timeouts fixture = api_->GetTimeouts();
    TraderImpl::Timeouts t = fixture;
    t.gateway_login = 60s;
    api_->SetTimeouts(t);
    const auto start = Clock::now();
    EXPECT_EQ(Login(), 0u);
    EXPECT_EQ(LastError(), 1008);
    EXPECT_LT(Clock::now() - start, 20s);
    api_->SetTimeouts(fixture);
    // the connection retries on its own and a later login goes through; once it is up, a
    // further login opens no connection of its own
    ASSERT_TRUE(sim_.accept_connections());
    ASSERT_TRUE(sim_.wait_for_accepted(1, 3000ms));
    uint64_t session = 0;
    ASSERT_TRUE(WaitUntil([&] { return (session = Login()) != 0; }, 3000ms));
    const size_t connections = sim_.accepted_count();
    EXPECT_NE(Login("1002"), 0u);
    EXPECT_EQ(sim_.accepted_count(), connections);
}

TEST_F(GatewayLoginTest, SecondLoginReusesTheConnection) {
    const uint64_t first = Login("1001");
    const uint64_t second = Login("1002");
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(sim_.accepted_count(), 1u);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_LOGIN), 2u);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_PUSH_REG), 2u);
}

// The connection's on-connect thread re-registers every account of its nodes; on a loaded
// machine it may run only after the logins on that connection registered their accounts
// themselves. Each account is registered once per link all the same.
TEST_F(GatewayLoginTest, ALateOnConnectRegistersNoAccountTwice) {
    ASSERT_NE(Login("1001"), 0u);
    ASSERT_NE(Login("1002"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));
    auto client = OXA::API::_gArrTcpClient.Get(LoginBackend::kNode);
    ASSERT_TRUE(client);
    api_->OnTcpConnected(client);  // what the on-connect thread does when it comes late
    EXPECT_EQ(spi_.connected.load(), 2);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_PUSH_REG), 2u);
}

TEST_F(GatewayLoginTest, SocketTypeAndUdpMultiNodeRules) {
    ASSERT_NE(Login(), 0u);
    EXPECT_EQ(api_->Login("127.0.0.1", sim_.port(), "1002", "x", 2), 0u);
    EXPECT_EQ(LastError(), 1006);
}

TEST_F(GatewayLoginTest, NullInputsAreRefused) {
    EXPECT_EQ(api_->Login(nullptr, sim_.port(), "1", "x", 1), 0u);
    EXPECT_EQ(LastError(), 1009);
    EXPECT_EQ(api_->Login("127.0.0.1", sim_.port(), nullptr, "x", 1), 0u);
    EXPECT_EQ(api_->Login("127.0.0.1", sim_.port(), "1", nullptr, 1), 0u);
    EXPECT_EQ(LastError(), 1009);
    EXPECT_EQ(sim_.accepted_count(), 0u);
}

TEST_F(GatewayLoginTest, AnswerBeforeTheWaitIsNeverLost) {
    for (int i = 0; i < 200; ++i) {
        const uint64_t s = Login(std::to_string(5000 + i).c_str());
        ASSERT_NE(s, 0u) << i;
    }
}

TEST_F(GatewayLoginTest, PushRegistrationRefusedOrUnanswered) {
    sim_.set_push_reg_error(4109);
    EXPECT_EQ(Login(), 0u);
    EXPECT_EQ(LastError(), 4109);
    sim_.set_push_reg_error(0);
    backend_->SetPushRegisterTimeout(100ms);
    sim_.set_reply(OXA::API::FUNC_ID_PUSH_REG, ReplyPlan::never());
    EXPECT_EQ(Login("1002"), 0u);
    EXPECT_EQ(LastError(), 1001);
}

TEST_F(GatewayLoginTest, LogoutCases) {
    EXPECT_EQ(api_->Logout(uint64_t{9} << 16 | 1), 1004);

    const uint64_t session = Login();
    ASSERT_NE(session, 0u);
    // no answer: 1005 and the session stays
    sim_.queue_reply(OXA::API::FUNC_ID_LOGOUT_REQ, ReplyPlan::never());
    ShortWaits();
    EXPECT_EQ(api_->Logout(session), 1005);
    LongWaits();
    EXPECT_EQ(backend_->logouts.load(), 0);
    auto req = sim_.wait_for_frame(OXA::API::FUNC_ID_LOGOUT_REQ, 1000ms);
    ASSERT_TRUE(req);
    ASSERT_EQ(req->body.size(), 12u);
    EXPECT_EQ(Le64(req->body, 0), 1001u);
    EXPECT_EQ(Le16(req->body, 8), 1u);
    EXPECT_EQ(Le16(req->body, 10), 3u);

    // refused: the gateway's code, the session stays
    sim_.set_logout_error(4103);
    EXPECT_EQ(api_->Logout(session), 4103);
    EXPECT_EQ(backend_->logouts.load(), 0);

    sim_.set_logout_error(0);
    EXPECT_EQ(api_->Logout(session), 0);
    EXPECT_EQ(backend_->logouts.load(), 1);
    EXPECT_EQ(api_->Logout(session), 1004);
}

TEST_F(GatewayLoginTest, MessagesRouteByIdRange) {
    ASSERT_NE(Login(), 0u);
    auto conns = sim_.open_connections();
    ASSERT_EQ(conns.size(), 1u);
    const struct {
        uint32_t msg_id;
        bool to_spot;
    } cases[] = {{0x0, true},       {0x1FF, true},  {0x20000, true}, {0x20FFF, true},
                 {0x200, false},    {0x5FF, false}, {0x600, false},  {0x21000, false},
                 {0x23000, false},  {0xf0003, false}};
    for (const auto& c : cases) conns[0]->push(c.msg_id, 1, std::vector<uint8_t>(4, 0));
    conns[0]->push(0x1FE, 1, {});  // a marker: every push before it has been handled
    ASSERT_TRUE(WaitUntil([&] {
        auto r = backend_->Routes();
        return !r.empty() && r.back().msg_id == 0x1FE;
    }));
    std::vector<uint32_t> spot;
    for (const auto& r : backend_->Routes()) {
        if (r.msg_id == 0x1FE) continue;
        spot.push_back(r.msg_id);
        EXPECT_EQ(r.node, LoginBackend::kNode);
    }
    std::vector<uint32_t> expected;
    for (const auto& c : cases)
        if (c.to_spot) expected.push_back(c.msg_id);
    EXPECT_EQ(spot, expected);
    EXPECT_EQ(TraderImpl::GetBusinessIndex(0x5FF), 2u);
    EXPECT_EQ(TraderImpl::GetBusinessIndex(0x200), 1u);
    EXPECT_EQ(TraderImpl::GetBusinessIndex(0x600), 200u);
}

TEST_F(GatewayLoginTest, ReconnectRegistersEveryAccountBeforeOnConnected) {
    ASSERT_NE(Login("1001"), 0u);
    ASSERT_NE(Login("1002"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 1; }));
    sim_.clear_frames();
    sim_.close_connections();
    ASSERT_TRUE(WaitUntil([&] { return spi_.disconnected.load() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return spi_.connected.load() == 2; }, 5000ms));
    auto regs = sim_.frames();
    std::vector<uint64_t> accounts;
    for (const auto& f : regs)
        if (f.msg_id == OXA::API::FUNC_ID_PUSH_REG) accounts.push_back(Le64(f.body, 0));
    EXPECT_EQ(accounts, (std::vector<uint64_t>{1001, 1002}));
}

TEST_F(GatewayLoginTest, OfflineCommandReleasesAndANewLoginWorks) {
    ASSERT_NE(Login(), 0u);
    EXPECT_EQ(sim_.send_offline(77, 20261210), 1u);
    ASSERT_TRUE(sim_.wait_for_open(0, 3000ms) || true);
    ASSERT_TRUE(WaitUntil([&] { return api_->GetInnerApi(uint64_t{LoginBackend::kNode} << 16 | 1) == nullptr; }));
    uint64_t again = 0;
    ASSERT_TRUE(WaitUntil([&] { return (again = Login("1003")) != 0; }, 3000ms));
}

}  // namespace

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

// A callback runs on the io thread that must deliver the answers of Logout and Login: neither
// may wait there. Logout sends and returns at once, its answer ends the session; Login is
// refused at once with 1012.
TEST_F(GatewayLoginTest, LogoutAndLoginFromACallbackReturnAtOnce) {
    const uint64_t session = Login("1001");
    ASSERT_NE(session, 0u);
    // the answers would be a minute in coming if they were waited for on this thread
    TraderImpl::Timeouts t = api_->GetTimeouts();
    t.gateway_login = 60s;
    t.logout = 60s;
    api_->SetTimeouts(t);

    struct Result {
        std::atomic<bool> done{false};
        int logout = -1;
        uint64_t login = 1;
        int login_error = 0;
        std::chrono::steady_clock::duration logout_took{}, login_took{};
    } r;
    backend_->on_recv = [&](uint32_t msg_id) {
        if (msg_id != 0x1FE || r.done.load()) return;
        auto start = std::chrono::steady_clock::now();
        r.logout = api_->Logout(session);
        r.logout_took = std::chrono::steady_clock::now() - start;
        start = std::chrono::steady_clock::now();
        r.login = Login("1002");
        r.login_took = std::chrono::steady_clock::now() - start;
        r.login_error = LastError();
        r.done.store(true);
    };
    auto conns = sim_.open_connections();
    ASSERT_EQ(conns.size(), 1u);
    conns[0]->push(0x1FE, 1, {});
    ASSERT_TRUE(WaitUntil([&] { return r.done.load(); }, 150s));
    backend_->on_recv = nullptr;
    EXPECT_EQ(r.logout, 0);
    EXPECT_LT(r.logout_took, 20s);
    EXPECT_EQ(r.login, 0u);
    EXPECT_EQ(r.login_error, 1012);
    EXPECT_LT(r.login_took, 20s);
    // the gateway's answer ends the session, as a waiting Logout would
    ASSERT_TRUE(WaitUntil([&] { return backend_->logouts.load() == 1; }, 5000ms));
    EXPECT_EQ(api_->Logout(session), 1004);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_LOGIN), 1u) << "the refused login sent nothing";
}

TEST_F(GatewayLoginTest, RefusedLogoutFromACallbackKeepsTheSession) {
    const uint64_t session = Login("1001");
    ASSERT_NE(session, 0u);
    sim_.set_logout_error(4103);
    std::atomic<int> rc{-1};
    backend_->on_recv = [&](uint32_t msg_id) {
        if (msg_id == 0x1FE && rc.load() == -1) rc.store(api_->Logout(session));
    };
    sim_.open_connections()[0]->push(0x1FE, 1, {});
    ASSERT_TRUE(WaitUntil([&] { return rc.load() != -1; }));
    backend_->on_recv = nullptr;
    EXPECT_EQ(rc.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return LastError() == 4103; }));
    EXPECT_EQ(backend_->logouts.load(), 0);
    sim_.set_logout_error(0);
    EXPECT_EQ(api_->Logout(session), 0) << "the session stayed usable";
    EXPECT_EQ(backend_->logouts.load(), 1);
}

TEST_F(GatewayLoginTest, ALoggedOutAccountRegistersForPushesAgainAtItsNextLogin) {
    const uint64_t session = Login("1001");
    ASSERT_NE(session, 0u);
    ASSERT_EQ(api_->Logout(session), 0);
    ASSERT_NE(Login("1001"), 0u);
    EXPECT_EQ(sim_.count(OXA::API::FUNC_ID_PUSH_REG), 2u);
}

}  // namespace
