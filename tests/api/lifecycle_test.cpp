// The life cycle of the API object with the spot back-end against the simulated gateway:
// a release at any moment (the gateway's off-line command, or Release on another thread)
// while requests run, and which callback object a back-end calls.
#include "support/SpotFixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "api/SessionTables.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

constexpr uint32_t kNode = 3;
constexpr int64_t kTradingDay = 20261210;

class CountingSpi : public OXA::API::TraderSpi {
public:
    void OnOrderEvent(OXAOrderInfo*, OXAErrorInfo*, uint64_t) override { ++orders; }
    void OnQueryAsset(OXAAssetInfo*, OXAErrorInfo*, int, bool last, uint64_t) override {
        if (last) ++assets;
    }
    std::atomic<int> orders{0};
    std::atomic<int> assets{0};
};

class LifecycleTest : public SpotFixture {
protected:
    LifecycleTest() : SpotFixture(4, kNode, kTradingDay, 2) {}
    OXA::API::TraderSpi* Spi() override { return &first_; }
    void SetUp() override {
        SpotFixture::SetUp();
        sim_.enable_spot_queries(true);
        sim_.set_log_limit(20000);
    }

    CountingSpi first_;
    CountingSpi second_;
};

// The application cannot know when the gateway takes the API off line, so requests on any
// thread may meet the release: no session record may be freed under them. Clean under the
// thread sanitizer, and every round ends with the requests refused, never crashed.
TEST_F(LifecycleTest, RequestsOnFourThreadsMeetAReleaseAtAnyMoment) {
    struct Trigger {
        const char* name;
        std::function<void()> release;
    };
    const Trigger triggers[] = {
        {"the gateway's off-line command", [&] { ASSERT_GE(sim_.send_offline(9, kTradingDay), 1u); }},
        {"Release on another thread", [&] { std::thread([&] { api_->Release(); }).join(); }},
    };
    constexpr int kRounds = 12;
    constexpr int kThreads = 4;
    uint32_t fund_index = 100;
    for (const Trigger& t : triggers) {
        SCOPED_TRACE(t.name);
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(round);
            uint64_t session = 0;
            ++fund_index;
            // after an off-line command the connection is gone: the next login opens another
            ASSERT_TRUE(WaitUntil([&] { return (session = Login(std::to_string(7000 + fund_index).c_str(), fund_index)) != 0; },
                                  5000ms));
            std::atomic<int> sent{0};
            std::atomic<bool> stop{false};
            std::vector<std::thread> threads;
            for (int i = 0; i < kThreads; ++i) {
                threads.emplace_back([&, i] {
                    const OrderInsertInfo order = SpotOrder();
                    int refused = 0;
                    // until the release has been seen a few times, or the bound is reached
                    while (!stop.load() && refused < 20) {
                        const bool ok = (i % 2 == 0) ? api_->InsertOrder(&order, session) != 0
                                                     : api_->QueryAsset(session, i) == 0;
                        if (ok) {
                            ++sent;
                        } else {
                            ++refused;
                        }
                    }
                });
            }
            // the release falls on requests in full flight, at a different point each round
            ASSERT_TRUE(WaitUntil([&] { return sent.load() >= 40 + round * 7; }, 10000ms));
            t.release();
            // the off-line command releases on the io thread: done once the record is gone too
            const bool released = WaitUntil(
                [&] {
                    return api_->GetInnerApi(session) == nullptr && OXA::API::_gArrSessionInfo.Get(session) == nullptr;
                },
                5000ms);
            std::this_thread::sleep_for(2ms);
            stop.store(true);
            for (auto& th : threads) th.join();
            ASSERT_TRUE(released);
            EXPECT_EQ(api_->QueryAsset(session, 1), 1004);
            EXPECT_EQ(api_->InsertOrder(nullptr, session), 0u);
        }
    }
}

// Every log file of the test process (the daily sink puts the date into the file name).
std::string ReadLogs() {
    std::stringstream text;
    for (const auto& entry : std::filesystem::directory_iterator(TestLogDir())) {
        std::ifstream in(entry.path());
        text << in.rdbuf();
    }
    return text.str();
}

// A back-end keeps the callback object registered when it was created: a later RegisterSpi
// reaches only back-ends created after it (after a Release, for spot).
TEST_F(LifecycleTest, ABackEndCallsTheObjectItWasCreatedWith) {
    const uint64_t s1 = Login("8001", 201);
    ASSERT_NE(s1, 0u);
    api_->RegisterSpi(&second_);

    ASSERT_EQ(api_->QueryAsset(s1, 1), 0);
    ASSERT_TRUE(WaitUntil([&] { return first_.assets.load() == 1; }));
    // a further login reuses the back-end, and with it the first object
    const uint64_t s2 = Login("8002", 202);
    ASSERT_NE(s2, 0u);
    ASSERT_EQ(api_->QueryAsset(s2, 2), 0);
    ASSERT_TRUE(WaitUntil([&] { return first_.assets.load() == 2; }));
    EXPECT_EQ(second_.assets.load(), 0);

    // after a Release the next login creates the back-end anew, with the object registered now
    api_->Release();
    const uint64_t s3 = Login("8003", 203);
    ASSERT_NE(s3, 0u);
    ASSERT_EQ(api_->QueryAsset(s3, 3), 0);
    ASSERT_TRUE(WaitUntil([&] { return second_.assets.load() == 1; }));
    EXPECT_EQ(first_.assets.load(), 2);

    // the log says which back-end keeps which object
    std::ostringstream first_ptr, second_ptr;
    first_ptr << "business 1 back-end created; it calls callback object " << static_cast<const void*>(&first_);
    second_ptr << "business 1 back-end created; it calls callback object " << static_cast<const void*>(&second_);
    const std::string log = ReadLogs();
    EXPECT_NE(log.find(first_ptr.str()), std::string::npos);
    EXPECT_NE(log.find(second_ptr.str()), std::string::npos);
}

}  // namespace
