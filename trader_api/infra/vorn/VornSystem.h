// One bus member: the object that the bus's entry points drive.
//
// Everything a member keeps for itself lives here, so that one process can run two or three
// members side by side (tests do): its identity and the coordinator's address, the device
// identity with its event, the partition id of every member-table entry, the HHMMSS clock,
// the coordinator client with the downloaded tables, the send path every datagram leaves by,
// and the stop that ends every wait of the member. Only the logger is shared by default.
//
// A launch brings the member up in order (logger, coordinator tables, master role, groups and
// windows, router, delivery, handler, receiver, start-up window synchronisation, deliver
// thread) and checks every step: a step that fails stops and joins whatever threads had
// started and frees the components, so the member can be launched again cleanly. Stop does
// the same for a running member, after every send under way has finished. Sends are taken
// only while the member is launched.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "infra/vorn/AppMsgStorage.h"
#include "infra/vorn/DgramHandler.h"
#include "infra/vorn/DgramReceiver.h"
#include "infra/vorn/Event.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/HqtrsClient.h"
#include "infra/vorn/SendPath.h"
#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"
#include "infra/vorn/VornWire.h"
#include "infra/vorn/xLog.h"

namespace OXA {
namespace VORN {

class CAppMsgDeliver;
class CAppMsgRouter;
class CControlQueue;

constexpr const char* kVornVersionText = "1.1.2023.0217.5 NP.5.8.RELEASE";

// Adds seconds to an HHMMSS time of day, carrying into minutes and hours and wrapping from
// 235959 to 000000.
int AdvanceHHMMSS(int hhmmss, int64_t seconds);

// The identity a member writes into every header and reads its configuration from. Filled
// by the launch before any bus thread starts, read-only afterwards.
struct VornIdentity {
    int16_t group_id = -1;
    int16_t member_id = -1;
    int16_t group_index = -1;
    int16_t member_index = -1;
    char ip[16] = {0};
    uint16_t port = 0;
    uint16_t data_port = 0;
    uint16_t control_port = 0;
    uint16_t inner_port = 0;
    char group_mode = '1';
    int16_t group_member_count = 0;
    char svr_type = '1';
    int16_t partition_id = 0;
    // The own partition id is 0: a send's partition argument filters its members.
    bool partition_filter = false;
};

// What a launch is given (the arguments of VornInit).
struct VornLaunchArgs {
    int16_t group_id = -1;
    int16_t member_id = -1;
    const char* coordinator_ip = nullptr;  // null fails the launch
    uint16_t coordinator_port = 0;
    int log_level = 1;                 // the logger prints levels up to this
    const char* base_path = nullptr;   // folder of "vorn_log"; null: "./vorn_log"
    VornDeliverCallback deliver = nullptr;
    const char* date = nullptr;        // YYYYMMDD, used only when exactly 8 digits
    int jam_wait_us = 0;
    VornStateCallback state = nullptr;
    int run_mode = 0;                  // 0 "Normal", else "Playback"
    void* user_data = nullptr;
};

// How a launch runs, beyond its arguments: timings and seams for tests and tools.
struct VornLaunchOptions {
    GroupsOptions groups;      // sink, clock, window timing, host tuning (off), netmask
    HqtrsTiming hqtrs;
    ReceiverTiming receiver;
    HandlerTiming handler;
    // Storage file size and where the page-cache settings live; host-wide storage changes
    // follow groups.tuning.enabled, the launch's one opt-in to host tuning.
    StorageOptions storage;
    // False: the member's logger is used as it stands (a tool that set its own up).
    bool setup_logger = true;
};

// The date argument of a launch: YYYYMMDD when text is exactly 8 decimal digits, else 0.
int ParseLaunchDate(const char* text);

class CVornSystem {
public:
    // log: the logger this member writes to; null means the shared bus logger.
    explicit CVornSystem(xLog* log = nullptr);
    ~CVornSystem();
    CVornSystem(const CVornSystem&) = delete;
    CVornSystem& operator=(const CVornSystem&) = delete;

    // ---- launch configuration
    // ip: IPv4 text, at most 15 characters kept.
    void SetCoordinator(const char* ip, uint16_t port);
    const char* CoordinatorIp() const { return m_coordinatorIp; }
    uint16_t CoordinatorPort() const { return m_coordinatorPort; }
    void SetOwnIds(int16_t group_id, int16_t member_id);
    VornIdentity& Identity() { return m_identity; }
    const VornIdentity& Identity() const { return m_identity; }
    // YYYYMMDD, 0 for "take the coordinator's".
    void SetDate(int date) { m_date.store(date); }
    int Date() const { return m_date.load(); }
    char OwnOrder() const { return m_order; }

    // Microseconds a sender waits on a full send window before giving up on that peer,
    // bounded to 0..1000.
    void SetJamWaitUs(int us) { m_jamWaitUs.store(us < 0 ? 0 : (us > 1000 ? 1000 : us)); }
    int JamWaitUs() const { return m_jamWaitUs.load(std::memory_order_relaxed); }
    // Handed back in every message source and to the state callback.
    void SetUserData(void* data) { m_userData = data; }
    void* UserData() const { return m_userData; }
    // The network device every bus socket is bound to; a null or empty name is ignored, at
    // most 255 characters are kept. Set before the launch.
    void SetEtherName(const char* name);
    const char* EtherName() const { return m_etherName; }

    // ---- device identity: 0 before launch, 1 master, 2 standby
    int DeviceIdentity() const { return m_deviceIdentity.load(std::memory_order_acquire); }
    // Sets the identity event when the value changes.
    void SetDeviceIdentity(int identity);
    CEvent& IdentityEvent() { return m_identityEvent; }

    // ---- partition id of each member-table entry (-1 outside the table)
    void SetPartitions(std::vector<int16_t> partitions);
    int16_t PartitionOf(int member_index) const;

    // ---- the HHMMSS clock, kept by the handler thread and read by delivery
    void StartClock();
    void UpdateClock();
    int ClockHHMMSS() const { return m_clock.load(std::memory_order_relaxed); }

    // ---- the thread cores: -1 (not pinned) until set, set before the launch
    void SetThreadCore(VornThread kind, int core);
    int ThreadCore(VornThread kind) const;
    // A core by its key ("VORN_THREAD_RECEIVER" ...); false (nothing changed) for another key.
    bool SetThreadCpu(const char* key, int core);

    // ---- launch and stop
    // 1 when the member runs, 0 when a step failed (logged; nothing is left running). A
    // member already launched answers 1 and keeps its first launch.
    uint8_t Launch(const VornLaunchArgs& args, const VornLaunchOptions& options = VornLaunchOptions());
    // Stops a launched member: sends are refused from here on, what was received is
    // delivered (unless deliver_pending is false: at process exit nobody is left to take it),
    // every thread is joined and every socket closed. A no-op when not launched.
    void Stop(bool deliver_pending = true);
    bool Launched() const { return m_launched.load(std::memory_order_acquire); }
    // 1 once a launch has returned (successful or not).
    int Started() const { return m_started.load(std::memory_order_acquire); }
    CEvent& StartedEvent() { return m_startedEvent; }
    VornStateCallback StateCallback() const { return m_stateCallback.load(std::memory_order_acquire); }
    const char* RunModeName() const { return m_runMode == 0 ? "Normal" : "Playback"; }

    // ---- sending, from any thread: 1 when at least one member took the message
    uint8_t SendMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group, int16_t member,
                    bool broadcast, uint16_t partition);
    uint8_t RouteMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group, int16_t member,
                     bool broadcast);

    // ---- what the storage set-up of a launch reads
    const char* BasePath() const { return m_hasBasePath ? m_basePath.c_str() : nullptr; }
    const StorageOptions& StorageOpts() const { return m_storageOptions; }
    bool HostTuning() const { return m_hostTuning; }

    // ---- the running member's parts (null when not launched); for tests and tools
    CGroupsManager* Groups() { return m_groups.get(); }
    CAppMsgRouter* Router() { return m_router.get(); }
    CAppMsgDeliver* Deliver() { return m_deliver.get(); }
    DgramReceiver* Receiver() { return m_receiver.get(); }
    CDgramHandler* Handler() { return m_handler.get(); }

    // A header from this member: its own source fields, the given type, sequence and
    // destination.
    VornHeader OwnHeader(uint8_t type, int32_t sequence, int16_t dst_group, int16_t dst_member) const;

    CHqtrsClient& Hqtrs() { return *m_hqtrs; }
    DgramSendPath& SendPath() { return m_sendPath; }
    xLog& Log() { return *m_log; }
    // Every message of the bus is written at level 1.
    template <typename... A>
    void Note(const char* format, const A&... args) {
        m_log->Out(1, format, args...);
    }

    // ---- stop: ends every interruptible sleep of this member
    void RequestStop();
    // A new launch: sleeps wait again.
    void ClearStop() { m_stop.store(false, std::memory_order_release); }
    bool Stopping() const { return m_stop.load(std::memory_order_acquire); }
    // Sleeps ms unless the member is stopping; false when it is.
    bool SleepUnlessStopped(int ms);

private:
    xLog* m_log;
    const char m_order = HostOrderChar();
    char m_coordinatorIp[16] = {0};
    uint16_t m_coordinatorPort = 0;
    VornIdentity m_identity;
    std::atomic<int> m_date{0};
    std::atomic<int> m_jamWaitUs{0};
    void* m_userData = nullptr;
    char m_etherName[256] = {0};

    std::atomic<int> m_deviceIdentity{0};
    CEvent m_identityEvent;
    std::vector<int16_t> m_partitions;  // written at launch, before any reader starts

    std::atomic<int> m_clock{0};
    int64_t m_clockWall = 0;  // handler thread only

    DgramSendPath m_sendPath;
    std::unique_ptr<CHqtrsClient> m_hqtrs;

    std::atomic<bool> m_stop{false};
    std::mutex m_stopMutex;
    std::condition_variable m_stopCv;

    // ---- launch state
    bool LaunchSteps(const VornLaunchArgs& args, const VornLaunchOptions& options);
    bool SetUpLogger(const VornLaunchArgs& args);
    // Stops and frees the components (launch mutex held).
    void Teardown(bool deliver_pending = true);

    std::mutex m_launchMutex;
    std::atomic<int> m_cores[static_cast<int>(VornThread::kCount)];
    std::atomic<bool> m_launched{false};
    std::atomic<int> m_started{0};
    std::atomic<int> m_sending{0};
    CEvent m_startedEvent;
    std::atomic<VornStateCallback> m_stateCallback{nullptr};
    int m_runMode = 0;
    bool m_hasBasePath = false;
    std::string m_basePath;
    StorageOptions m_storageOptions;
    bool m_hostTuning = false;
    std::unique_ptr<CGroupsManager> m_groups;
    std::unique_ptr<CAppMsgRouter> m_router;
    std::unique_ptr<CAppMsgDeliver> m_deliver;
    std::unique_ptr<CControlQueue> m_queue;
    std::unique_ptr<CDgramHandler> m_handler;
    std::unique_ptr<DgramReceiver> m_receiver;
};

}  // namespace VORN
}  // namespace OXA
