#include "infra/vorn/VornSystem.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "infra/utility/AnswerWait.h"
#include "infra/utility/SystemFunctions.h"
#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/AppMsgRouter.h"
#include "infra/vorn/ControlQueue.h"
#include "infra/vorn/HqtrsClient.h"

namespace OXA {
namespace VORN {

int AdvanceHHMMSS(int hhmmss, int64_t seconds) {
    if (seconds <= 0) return hhmmss;
    int64_t s = hhmmss % 100 + seconds;
    int64_t m = hhmmss / 100 % 100 + s / 60;
    int64_t h = hhmmss / 10000 + m / 60;
    s %= 60;
    m %= 60;
    h %= 24;
    return static_cast<int>(h * 10000 + m * 100 + s);
}

int ParseLaunchDate(const char* text) {
    if (!text || std::strlen(text) != 8) return 0;
    int v = 0;
    for (int i = 0; i < 8; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 0;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

CVornSystem::CVornSystem(xLog* log) : m_log(log ? log : &VornLog()), m_hqtrs(new CHqtrsClient(*this)) {
    for (auto& c : m_cores) c.store(-1, std::memory_order_relaxed);
}

CVornSystem::~CVornSystem() {
    Stop();
    RequestStop();
}

void CVornSystem::SetThreadCore(VornThread kind, int core) {
    const int i = static_cast<int>(kind);
    if (i >= 0 && i < static_cast<int>(VornThread::kCount)) m_cores[i].store(core < 0 ? -1 : core);
}

int CVornSystem::ThreadCore(VornThread kind) const {
    const int i = static_cast<int>(kind);
    return (i >= 0 && i < static_cast<int>(VornThread::kCount)) ? m_cores[i].load() : -1;
}

bool CVornSystem::SetThreadCpu(const char* key, int core) {
    VornThread kind;
    if (!ThreadOfKey(key, kind)) return false;
    SetThreadCore(kind, core);
    return true;
}

VornHeader CVornSystem::OwnHeader(uint8_t type, int32_t sequence, int16_t dst_group, int16_t dst_member) const {
    VornHeader h;
    h.byte_order = m_order;
    h.sequence = sequence;
    h.type = type;
    h.src_group_id = m_identity.group_id;
    h.src_group_index = m_identity.group_index;
    h.src_member_id = m_identity.member_id;
    h.src_member_index = m_identity.member_index;
    h.dst_group_id = dst_group;
    h.dst_member_id = dst_member;
    return h;
}

// ---- launch ----------------------------------------------------------------------------------

bool CVornSystem::SetUpLogger(const VornLaunchArgs& args) {
    char folder[256] = {0};
    const char* base = args.base_path;
    if (!base) {
        std::snprintf(folder, sizeof folder, "%s", "./vorn_log");
    } else {
        struct stat st;
        if (::stat(base, &st) != 0 && ::mkdir(base, 0754) != 0) {
            std::printf("Launch Fail: mkdir [%s] Error.\n", base);
            std::fflush(stdout);
            return false;
        }
        const std::size_t n = std::strlen(base);
        if (n > 0 && base[n - 1] == '/')
            std::snprintf(folder, sizeof folder, "%svorn_log", base);
        else
            std::snprintf(folder, sizeof folder, "%s%cvorn_log", base, '/');
    }
    m_log->SetLevel(args.log_level);
    m_log->SetKeepDays(5);
    m_log->SetEcho(0);
    m_log->SetFolder(folder);
    m_log->SetAsync();
    m_log->Init();  // a logger that cannot write costs the bus its log, not its launch
    return true;
}

uint8_t CVornSystem::Launch(const VornLaunchArgs& args, const VornLaunchOptions& options) {
    std::lock_guard<std::mutex> lock(m_launchMutex);
    if (m_launched.load(std::memory_order_acquire)) {
        Note("Launch Ignored: Group ( %d ) Member ( %d ) Already Launched.", m_identity.group_id, m_identity.member_id);
        return 1;
    }
    ClearStop();
    m_started.store(0, std::memory_order_release);
    const bool ok = LaunchSteps(args, options);
    if (!ok) Teardown();
    m_launched.store(ok, std::memory_order_release);
    if (ok) m_deliver->Go();
    m_started.store(1, std::memory_order_release);
    m_startedEvent.Set();
    return ok ? 1 : 0;
}

bool CVornSystem::LaunchSteps(const VornLaunchArgs& args, const VornLaunchOptions& options) {
    SetJamWaitUs(args.jam_wait_us);
    SetDate(ParseLaunchDate(args.date));
    SetUserData(args.user_data);
    m_runMode = args.run_mode;
    m_hasBasePath = args.base_path != nullptr;
    m_basePath = args.base_path ? args.base_path : "";
    m_storageOptions = options.storage;
    m_hostTuning = options.groups.tuning.enabled;
    if (options.setup_logger && !SetUpLogger(args)) return false;
    Note("VORN Version: %s .", kVornVersionText);

    if (!args.coordinator_ip) {
        Note("Hqtrs IP Is Null.");
        return false;
    }
    SetCoordinator(args.coordinator_ip, args.coordinator_port);
    SetOwnIds(args.group_id, args.member_id);
    Note("Init Hqtrs ... ...");
    m_hqtrs->SetTiming(options.hqtrs);
    if (!m_hqtrs->QueryBasicInfo(Date())) {
        Note("Init Hqtrs Fail.");
        return false;
    }
    if (Date() == 0) SetDate(m_hqtrs->Digest().date);

    Note("Init Member Identity ... .. .");
    const int identity = m_hqtrs->ApplyMaster();
    if (identity == 0) {
        Note("Init Member Identity Fail... .. .");
        return false;
    }
    SetDeviceIdentity(identity);

    Note("Init Group Manager ... ...");
    m_groups.reset(new CGroupsManager(*this));
    m_deliver.reset(new CAppMsgDeliver(*this, *m_groups));
    GroupsOptions groups = options.groups;
    // always wired: a deliver thread whose core cannot be pinned waits on it (a pinned one
    // polls, and a Set nobody waits for costs little)
    groups.deliver_event = &m_deliver->Event();
    m_queue.reset(new CControlQueue());
    CControlQueue* queue = m_queue.get();
    groups.on_gap = [queue] { queue->Wake(); };
    if (!m_groups->Init(VornLayout::From(*m_hqtrs), args.run_mode, groups)) {
        Note("Init Group Manager.");
        return false;
    }

    Note("Init App Message Router ... .. .");
    m_router.reset(new CAppMsgRouter(*this, *m_groups));
    if (!m_router->Build(m_hqtrs->Msgs())) {
        Note("Init App Message Router Fail.");
        return false;
    }

    Note("Init App Message Deliver ... .. .");
    if (!m_deliver->Init(args.deliver, args.run_mode)) {
        Note("Init App Message Deliver Fail.");
        return false;
    }

    m_handler.reset(new CDgramHandler(*this, *m_groups, *m_queue, m_deliver.get()));
    m_handler->SetTiming(options.handler);
    if (!m_handler->Start(ThreadCore(VornThread::kHandler))) {
        Note("Init Handler Thread Fail.");
        return false;
    }
    m_receiver.reset(new DgramReceiver(*this, *m_groups, *m_queue, m_deliver.get()));
    m_receiver->SetTiming(options.receiver);
    if (!m_receiver->Start(ThreadCore(VornThread::kReceiver))) {
        Note("Init Receive Thread Fail.");
        return false;
    }
    if (!m_groups->WindowSync()) return false;
    // a pair's partner hears of this device before anything that follows its launch
    m_handler->Announce(std::chrono::seconds(1));

    if (!m_deliver->Start(ThreadCore(VornThread::kDeliver))) {
        Note("Init Deliver Thread Fail.");
        return false;
    }
    m_stateCallback.store(args.state, std::memory_order_release);
    Note("Group ( %d ) Member ( %d ), Run-Mode ( %s ), Max-Send-Date-Len ( %d ) Init Success.", m_identity.group_id,
         m_identity.member_id, RunModeName(), kMaxAppData);
    return true;
}

void CVornSystem::Teardown(bool deliver_pending) {
    RequestStop();
    // the receiver first: what it took is then delivered by the deliver thread's last pass
    if (m_receiver) m_receiver->Stop();
    if (m_handler) m_handler->Stop();
    if (m_deliver) m_deliver->Stop(deliver_pending);
    m_receiver.reset();
    m_handler.reset();
    m_queue.reset();
    m_router.reset();
    m_deliver.reset();
    m_groups.reset();
}

void CVornSystem::Stop(bool deliver_pending) {
    if (CAppMsgDeliver::OnDeliverThreadOf(this)) {
        // a deliver callback cannot wait for its own thread to end
        Note("Stop Refused: Called On The Deliver Thread.");
        return;
    }
    std::lock_guard<std::mutex> lock(m_launchMutex);
    if (!m_launched.exchange(false, std::memory_order_seq_cst)) return;
    // a send that saw the member launched finishes before its parts go
    while (m_sending.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    Teardown(deliver_pending);
    Note("Group ( %d ) Member ( %d ) Stopped.", m_identity.group_id, m_identity.member_id);
}

uint8_t CVornSystem::SendMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group,
                             int16_t member, bool broadcast, uint16_t partition) {
    m_sending.fetch_add(1, std::memory_order_seq_cst);
    uint8_t result = 0;
    if (m_launched.load(std::memory_order_seq_cst))
        result = m_router->Send(tag, msg_id, data, length, group, member, broadcast, static_cast<int16_t>(partition))
                     .Result();
    m_sending.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

uint8_t CVornSystem::RouteMsg(int32_t tag, int16_t msg_id, const void* data, uint32_t length, int16_t group,
                              int16_t member, bool broadcast) {
    m_sending.fetch_add(1, std::memory_order_seq_cst);
    uint8_t result = 0;
    if (m_launched.load(std::memory_order_seq_cst))
        result = m_router->Route(tag, msg_id, data, length, group, member, broadcast).Result();
    m_sending.fetch_sub(1, std::memory_order_seq_cst);
    return result;
}

void CVornSystem::SetCoordinator(const char* ip, uint16_t port) {
    API::CopyText(m_coordinatorIp, ip, 15);
    m_coordinatorPort = port;
}

void CVornSystem::SetOwnIds(int16_t group_id, int16_t member_id) {
    m_identity.group_id = group_id;
    m_identity.member_id = member_id;
}

void CVornSystem::SetEtherName(const char* name) {
    if (!name || !*name) return;
    API::CopyText(m_etherName, name, 255);
}

void CVornSystem::SetDeviceIdentity(int identity) {
    if (m_deviceIdentity.exchange(identity, std::memory_order_acq_rel) != identity) m_identityEvent.Set();
}

void CVornSystem::SetPartitions(std::vector<int16_t> partitions) { m_partitions = std::move(partitions); }

int16_t CVornSystem::PartitionOf(int member_index) const {
    if (member_index < 0 || static_cast<std::size_t>(member_index) >= m_partitions.size()) return -1;
    return m_partitions[static_cast<std::size_t>(member_index)];
}

void CVornSystem::StartClock() {
    m_clockWall = static_cast<int64_t>(std::time(nullptr));
    m_clock.store(API::GetLocalTimeHHMMSS(), std::memory_order_relaxed);
}

void CVornSystem::UpdateClock() {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (now <= m_clockWall) return;
    m_clock.store(AdvanceHHMMSS(m_clock.load(std::memory_order_relaxed), now - m_clockWall), std::memory_order_relaxed);
    m_clockWall = now;
}

void CVornSystem::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop.store(true, std::memory_order_release);
    }
    m_stopCv.notify_all();
}

bool CVornSystem::SleepUnlessStopped(int ms) {
    std::unique_lock<std::mutex> lock(m_stopMutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    m_stopCv.wait_until(lock, deadline, [this] { return m_stop.load(std::memory_order_acquire); });
    return !m_stop.load(std::memory_order_acquire);
}

}  // namespace VORN
}  // namespace OXA
