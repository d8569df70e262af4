// Live bus members for tests and the benchmark: real CVornSystem members with their threads
// and UDP sockets on 127.0.0.1, launched against a FakeCoordinator, each recording what its
// deliver callback got. Every member logs to a logger of its own with a small ring, in a
// temporary folder of the process (removed at exit), so no test allocates the full ring.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "infra/vorn/VornSystem.h"
#include "infra/vorn/xLog.h"
#include "support/FakeCoordinator.h"

namespace oxa_test {

// The process's temporary folder for bus logs.
const std::string& BusTestDir();
// For tests whose process bus may be launched (a login in bus mode): the shared bus logger
// keeps a small ring instead of the full one, and the working folder, where the bus makes
// its "vorn_log" folder, becomes BusTestDir(). Call before the first launch.
void UseTestBusFolder();

struct LiveDelivery {
    uint32_t tag = 0;
    uint32_t msg_id = 0;
    std::vector<uint8_t> data;
    uint64_t playback = 0;
    int16_t src_group = -1;
    int16_t src_member = -1;
    int64_t at_ns = 0;  // monotonic, when the callback ran
};

struct LiveOptions {
    // A peer that is not up yet costs the start-up synchronisation 0.2 s per pass, not 1 s.
    LiveOptions() { launch.groups.timing.sync_reply_wait_ns = 200000000; }
    int jam_wait_us = 1000;
    int log_level = 1;
    OXA::VORN::VornLaunchOptions launch;
    std::size_t log_slots = 4096;
    bool record = true;  // keep every delivery (off for long runs that count only)
    // Threads to pin: (kind, core); a pinned thread busy-polls.
    std::vector<std::pair<OXA::VORN::VornThread, int>> cores;
};

class LiveMember {
public:
    LiveMember(int16_t group_id, int16_t member_id);
    ~LiveMember();
    LiveMember(const LiveMember&) = delete;
    LiveMember& operator=(const LiveMember&) = delete;

    // Launches against the coordinator; true when it runs.
    bool Launch(const FakeCoordinator& coordinator, const LiveOptions& options = LiveOptions());
    // The same against a coordinator named by address (one in another process).
    bool Launch(const std::string& coordinator_ip, uint16_t coordinator_port,
                const LiveOptions& options = LiveOptions());
    void Stop();
    OXA::VORN::CVornSystem& Sys() { return *m_sys; }
    int16_t GroupId() const { return m_group; }
    int16_t MemberId() const { return m_member; }

    // VornSendMsg of this member.
    uint8_t Send(int16_t msg_id, const std::vector<uint8_t>& data, int16_t dst_group = -1, int16_t dst_member = -1,
                 bool broadcast = true, int32_t tag = 0);

    std::vector<LiveDelivery> Deliveries() const;
    std::size_t Count() const { return m_count.load(); }
    // Waits until at least n messages were delivered.
    bool WaitCount(std::size_t n, std::chrono::milliseconds timeout) const;
    void Clear();
    // Runs on the deliver thread for every message, before it is recorded.
    void OnDeliver(std::function<void(const LiveDelivery&)> f);

    // The state callback: how often it ran, the identity it was last given, and whether every
    // call ran on the member's deliver thread.
    int StateCalls() const { return m_stateCalls.load(); }
    uint64_t StateIdentity() const { return m_stateIdentity.load(); }
    bool StateOnDeliverThread() const { return m_stateOnDeliver.load(); }

private:
    static void Deliver(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length, uint64_t playback,
                        const OXA::VORN::VornMsgSource* source);
    static void State(uint64_t identity, uint64_t user_data);

    int16_t m_group;
    int16_t m_member;
    std::unique_ptr<OXA::VORN::xLog> m_log;
    std::unique_ptr<OXA::VORN::CVornSystem> m_sys;
    bool m_record = true;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<LiveDelivery> m_got;
    std::atomic<std::size_t> m_count{0};
    std::function<void(const LiveDelivery&)> m_hook;
    std::atomic<int> m_stateCalls{0};
    std::atomic<uint64_t> m_stateIdentity{0};
    std::atomic<bool> m_stateOnDeliver{true};
};

// The window record a member keeps for (group, member); null when it has none.
OXA::VORN::VornPeerWindow* PeerWindow(OXA::VORN::CVornSystem& sys, int16_t group_id, int16_t member_id);
// Messages sent to that peer and not acknowledged yet (0 when there is no such peer).
int64_t Outstanding(OXA::VORN::CVornSystem& sys, int16_t group_id, int16_t member_id);
// Waits until at most max messages to the peer are outstanding; false at the timeout.
bool WaitOutstanding(OXA::VORN::CVornSystem& sys, int16_t group_id, int16_t member_id, int64_t max,
                     std::chrono::milliseconds timeout);
// The names of this process's threads that start with prefix ("vorn_").
std::vector<std::string> ThreadNames(const std::string& prefix);

// A message body of size bytes that carries n in its first 8 bytes (and a pattern after).
std::vector<uint8_t> CountedBody(uint64_t n, std::size_t size = 16);
// The number CountedBody put in; -1 when the body is too short or its pattern is broken.
int64_t CountOf(const std::vector<uint8_t>& body);

}  // namespace oxa_test
