// A Release while a Login waits for an answer, end to end against the simulated gateway: the
// Login returns 0 at once with 1017 (the API was released), wherever it waited, whether the
// application released the API or the gateway's off-line command did; the next Login works.
#include "support/SpotFixture.h"

#include "gateway_sim/SimWire.h"
#include "support/SessionState.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kApiReleased = 1017;
// Every wait of the login: far longer than a release may take.
constexpr auto kLongWait = 20000ms;

class ReleaseDuringLoginTest : public SpotFixture {
protected:
    // resume type 0: the login also synchronises and subscribes
    ReleaseDuringLoginTest() : SpotFixture(11, 2, 20261215, 0) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    void SetUp() override {
        SpotFixture::SetUp();
        ResetSessionState();
        TraderImpl::Timeouts t = api_->GetTimeouts();
        t.gateway_login = kLongWait;
        api_->SetTimeouts(t);
        api_->SetInnerApiMaker([this](uint8_t type) -> CInnerApiInterface* {
            if (type != 1) return nullptr;
            spot_ = new OXA::API::SpotTraderImpl();
            OXA::API::SpotTraderImpl::Timeouts st;
            st.login = kLongWait;
            st.sync = kLongWait;
            st.subscribe = kLongWait;
            spot_->SetTimeouts(st);
            spot_->SetPushRegisterTimeout(kLongWait);
            return spot_;
        });
    }

    int LastError() {
        std::lock_guard<std::mutex> lock(OXA::API::_gErrorMutex);
        return api_->GetApiLastError()->error_id;
    }

    SpotEventSpi spi_;
};

TEST_F(ReleaseDuringLoginTest, AWaitingLoginReturnsAtOnceWithTheReleasedCode) {
    struct Case {
        const char* name;
        uint32_t unanswered;  // the request whose answer the login waits for
        bool offline_command;  // released by the gateway's off-line command, on the io thread
    };
    const Case cases[] = {
        {"gateway login", oxa_sim::kMsgLogin, false},
        {"business login", oxa_sim::kMsgSpotLogin, false},
        {"push registration", oxa_sim::kMsgPushReg, false},
        {"synchronisation", oxa_sim::kMsgSpotSync, false},
        {"subscription", oxa_sim::kMsgSpotSubscribe, false},
        {"business login, off-line command", oxa_sim::kMsgSpotLogin, true},
    };
    const uint32_t all[] = {oxa_sim::kMsgLogin, oxa_sim::kMsgSpotLogin, oxa_sim::kMsgPushReg, oxa_sim::kMsgSpotSync,
                            oxa_sim::kMsgSpotSubscribe};
    uint32_t fund_index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (uint32_t id : all) sim_.set_reply(id, ReplyPlan::immediate());
        sim_.set_reply(c.unanswered, ReplyPlan::never());
        sim_.clear_frames();

        std::atomic<uint64_t> result{1};
        std::atomic<int> error{0};
        Clock::time_point returned;
        const std::string account = std::to_string(8001 + fund_index);
        std::thread login([&] {
            result = Login(account.c_str(), ++fund_index);
            error = LastError();
            returned = Clock::now();
        });
        const bool waiting = sim_.wait_for_frame(c.unanswered, 10000ms).has_value();
        std::this_thread::sleep_for(20ms);  // into its wait
        const auto released = Clock::now();
        if (c.offline_command)
            sim_.send_offline(77, 20261215);
        else
            api_->Release();
        login.join();
        ASSERT_TRUE(waiting) << "the login never sent what it waits for";
        EXPECT_EQ(result.load(), 0u);
        EXPECT_EQ(error.load(), kApiReleased);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(returned - released);
        EXPECT_LT(waited.count(), (kLongWait / 2).count()) << "the login waited on after the release";

        // the login lock is free and the API usable again
        api_->Release();
        for (uint32_t id : all) sim_.set_reply(id, ReplyPlan::immediate());
        const std::string next = std::to_string(8101 + fund_index);
        EXPECT_NE(Login(next.c_str(), ++fund_index), 0u) << LastError();
        api_->Release();
    }
}

}  // namespace
