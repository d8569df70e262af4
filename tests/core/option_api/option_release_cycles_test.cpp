// An option account logged in, trading, querying page by page and released, fifty times over:
// every cycle must end its threads and free what it took. A program of its own, since it counts
// the threads and the memory of the whole process.
#include "support/LoginFixture.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>

#include "core/option_api/OptionTestSupport.h"
#include "gateway_sim/SimOption.h"
#include "support/Orders.h"

namespace {

using namespace oxa_test;
using namespace std::chrono_literals;

std::size_t ThreadCount() {
    std::size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir)) n += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return n;
}

// Resident bytes once the allocator has handed its free memory back.
std::size_t ResidentBytes() {
    ::malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // shadow memory and quarantines make RSS meaningless
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class OptionReleaseCyclesTest : public ::testing::Test {
protected:
    void SetUp() override {
        api_ = oxa_test::TestApi(7);
        api_->Release();
        TraderImpl::Timeouts t;
        t.gateway_login = 3000ms;
        t.logout = 3000ms;
        t.reconnect_pause = 0ms;
        t.reconnect_interval_ms = 50;
        api_->SetTimeouts(t);
        api_->SubscribePublicTopic(0);  // every login replays what was pushed before it
        ASSERT_TRUE(sim_.start(0));
    }
    void TearDown() override {
        api_->Release();
        api_->SubscribePublicTopic(2);
        api_->RegisterSpi(nullptr);
        sim_.stop();
    }

    void Cycle(int n) {
        const uint64_t account = 9300 + static_cast<uint64_t>(n);
        sim_.set_account_business(account, 3);
        spi_.Clear();
        api_->RegisterSpi(&spi_);
        const uint64_t session = api_->Login("127.0.0.1", sim_.port(), std::to_string(account).c_str(), "pw", 1,
                                             nullptr, nullptr);
        ASSERT_NE(session, 0u) << "cycle " << n << ": " << api_->GetApiLastError()->error_id;
        OrderInsertInfo order = oxa_test::LimitOrder("10000001", 1, 0.5, 1);
        order.position_effect = 1;
        order.business_type = 10;
        for (int i = 0; i < 3; ++i) ASSERT_NE(api_->InsertOrder(&order, session), 0u);
        ASSERT_TRUE(WaitUntil([&] { return spi_.Count("OnOrderEvent") == 6; }));
        ASSERT_EQ(api_->QueryOrders(nullptr, session, 1), 0);  // two pages
        ASSERT_TRUE(WaitUntil([&] { return spi_.LastCount() == 1; }));
        api_->Release();
    }
    std::size_t SettledThreads(std::size_t target, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        std::size_t n = ThreadCount();
        while (n > target && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            n = ThreadCount();
        }
        return n;
    }

    TraderImpl* api_ = nullptr;
    GatewaySim sim_;
    oxa_sim::SimOption option_sim_{sim_};
    opt_test::RecordingSpi spi_;
};

TEST_F(OptionReleaseCyclesTest, FiftyCyclesLeaveNoThreadAndNoMemoryBehind) {
    // warm up: the logger's flush thread, the sim's timer, first allocations of every table
    for (int n = 0; n < 3; ++n) {
        Cycle(n);
        if (HasFatalFailure()) return;
    }
    const std::size_t threads = SettledThreads(0, 500ms);
    const std::size_t rss = ResidentBytes();
    for (int n = 3; n < 53; ++n) {
        Cycle(n);
        if (HasFatalFailure()) return;
    }
    const std::size_t threads_after = SettledThreads(threads, 10000ms);
    const std::size_t after = ResidentBytes();
    RecordProperty("threads_before", static_cast<int>(threads));
    RecordProperty("threads_after", static_cast<int>(threads_after));
    RecordProperty("rss_kib_before", static_cast<int>(rss / 1024));
    RecordProperty("rss_kib_after", static_cast<int>(after / 1024));
    EXPECT_LE(threads_after, threads) << "threads before the 50 cycles: " << threads;
    if (!kSanitized) {
        EXPECT_LE(after, rss + 4u * 1024 * 1024) << "resident bytes before " << rss << ", after " << after;
    }
}

}  // namespace
