// The process's socket type: in force while the first login runs, fixed only by a login that
// succeeds. The type is process-wide and never reset once fixed, hence a program of its own
// whose one test walks the steps in order.
#include "support/LoginFixture.h"

#include "support/BusLive.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

int DeadPort() {
    // a port that was just free: nothing listens there
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const int port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

TEST_F(GatewayLoginTest, OnlyALoginThatSucceedsFixesTheSocketType) {
    oxa_test::UseTestBusFolder();  // the bus-mode step launches the bus
    const int dead = DeadPort();
    struct Step {
        const char* name;
        int sock_type;
        bool live;        // the simulated gateway, else a port where nothing listens
        int32_t refusal;  // the gateway's error code in its answer (live only)
        uint16_t protocol_mode;
        bool session;     // a session comes back
        int code;         // last error when none does
        int sock_type_after;
    };
    const Step steps[] = {
        {"type 0", 0, true, 0, 1, false, 1009, 9},
        {"type 3", 3, true, 0, 1, false, 1009, 9},
        {"type -1", -1, true, 0, 1, false, 1009, 9},
        {"UDP to a dead port", 2, false, 0, 1, false, 1008, 9},
        {"UDP refused by the gateway", 2, true, 4097, 1, false, 4097, 9},
        {"UDP answered with the bus mode, a bus that cannot be joined", 2, true, 0, 2, false, 1013, 9},
        {"TCP after the failed UDP attempts", 1, true, 0, 1, true, 0, 1},
        {"UDP once TCP is fixed", 2, true, 0, 1, false, 1006, 1},
        {"TCP again", 1, true, 0, 1, true, 0, 1},
    };
    int account = 1000;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        LoginAnswer a;
        a.error_code = s.refusal;
        a.protocol_mode = s.protocol_mode;
        sim_.set_login_answer(a);
        sim_.clear_frames();
        api_->GetApiLastError()->error_id = 0;
        const uint64_t session = api_->Login("127.0.0.1", s.live ? sim_.port() : dead,
                                             std::to_string(++account).c_str(), "pw", s.sock_type);
        EXPECT_EQ(session != 0, s.session);
        if (!s.session) {
            EXPECT_EQ(LastError(), s.code);
        }
        EXPECT_EQ(OXA::API::SockType.load(), s.sock_type_after);
        if (s.live && s.code != 1009 && s.code != 1006) {
            // the attempt ran with its own type: the gateway login said so
            auto frame = sim_.wait_for_frame(OXA::API::FUNC_ID_LOGIN, 2000ms);
            ASSERT_TRUE(frame);
            EXPECT_EQ(Le16(frame->body, 520), s.sock_type == 1 ? 1u : 2u);
        }
    }
    // Release leaves the fixed type as it is
    api_->Release();
    sim_.set_login_answer(LoginAnswer{});
    EXPECT_EQ(api_->Login("127.0.0.1", sim_.port(), "2000", "pw", 2), 0u);
    EXPECT_EQ(LastError(), 1006);
}

}  // namespace
