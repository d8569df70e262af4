// One bus member: the object that the bus's entry points drive.
//
// Everything a member keeps for itself lives here, so that one process can run two or three
// members side by side (tests do): its identity and the coordinator's address, the device
// identity with its event, the partition id of every member-table entry, the HHMMSS clock,
// the coordinator client with the downloaded tables, the send path every datagram leaves by,
// and the stop that ends every wait of the member. Only the logger is shared by default.
//
// The component objects of a running member (groups and router, receiver and handler,
// delivery and storage) are added beside the coordinator client as they are built; each
// takes this object by reference and reads what the launch put here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "infra/vorn/Event.h"
#include "infra/vorn/SendPath.h"
#include "infra/vorn/VornWire.h"
#include "infra/vorn/xLog.h"

namespace OXA {
namespace VORN {

class CHqtrsClient;

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
};

}  // namespace VORN
}  // namespace OXA
