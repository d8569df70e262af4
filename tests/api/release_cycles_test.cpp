// Login and Release, again and again, as an application that reconnects every morning does:
// every released connection must end its threads and free its buffers. A program of its own,
// since it counts the threads and the memory of the whole process.
#include "support/SpotFixture.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>

#include "api/SessionTables.h"

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

// Resident bytes once the allocator has handed its free memory back: the arenas of threads
// that came and went keep freed blocks, which is no leak.
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

class ReleaseCyclesTest : public SpotFixture {
protected:
    ReleaseCyclesTest() : SpotFixture(6, 4, 20261210, 2) {}
    OXA::API::TraderSpi* Spi() override { return &spi_; }

    // How a cycle ends: the application's Release, or the gateway's off-line command, which
    // releases on the connection's own io thread.
    bool offline_ = false;

    void Cycle(int n) {
        const uint64_t session = Login(std::to_string(9000 + n).c_str(), static_cast<uint32_t>(n + 1));
        ASSERT_NE(session, 0u) << "cycle " << n << ": " << api_->GetApiLastError()->error_id;
        const OrderInsertInfo order = SpotOrder();
        EXPECT_NE(api_->InsertOrder(&order, session), 0u);
        if (!offline_) {
            api_->Release();
            return;
        }
        ASSERT_GE(sim_.send_offline(n, 20261210), 1u);
        ASSERT_TRUE(WaitUntil([&] {
            return api_->GetInnerApi(session) == nullptr && OXA::API::_gArrSessionInfo.Get(session) == nullptr;
        }));
    }
    void FiftyCycles();
    // The thread count once it stops falling (helper threads of a stopped connection end a
    // moment after Release returns).
    std::size_t SettledThreads(std::size_t target, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        std::size_t n = ThreadCount();
        while (n > target && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
            n = ThreadCount();
        }
        return n;
    }

    OXA::API::TraderSpi spi_;
};

TEST_F(ReleaseCyclesTest, FiftyLoginReleaseCyclesLeaveNoThreadAndNoMemoryBehind) { FiftyCycles(); }

TEST_F(ReleaseCyclesTest, FiftyOffLineCommandsLeaveNoThreadAndNoMemoryBehind) {
    offline_ = true;
    FiftyCycles();
}

void ReleaseCyclesTest::FiftyCycles() {
    // warm up: the logger's flush thread, the sim's timer, first allocations of every table
    for (int n = 0; n < 3; ++n) Cycle(n);
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
