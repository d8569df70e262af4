#include "support/BusLive.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/VornThreads.h"

namespace oxa_test {

using namespace OXA::VORN;

namespace {

void RemoveBusTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(BusTestDir(), ec);
}

}  // namespace

const std::string& BusTestDir() {
    // kept for the process: the removal at exit reads it
    static const std::string& dir = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "oxa_bus_XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        const char* made = ::mkdtemp(buf.data());
        std::string d = made ? made : "/tmp";
        if (made) std::atexit(RemoveBusTestDir);
        return d;
    }());
    return dir;
}

void UseTestBusFolder() {
    VornLog().SetSlotCount(4096);
    if (::chdir(BusTestDir().c_str()) != 0) std::perror("chdir");
}

LiveMember::LiveMember(int16_t group_id, int16_t member_id) : m_group(group_id), m_member(member_id) {}

LiveMember::~LiveMember() { Stop(); }

bool LiveMember::Launch(const FakeCoordinator& coordinator, const LiveOptions& options) {
    return Launch(coordinator.Ip(), coordinator.Port(), options);
}

bool LiveMember::Launch(const std::string& coordinator_ip, uint16_t coordinator_port, const LiveOptions& options) {
    Stop();
    m_stateCalls.store(0);
    m_stateIdentity.store(0);
    m_stateOnDeliver.store(true);
    m_record = options.record;
    m_log.reset(new xLog());
    m_log->SetSlotCount(static_cast<int>(options.log_slots));
    m_sys.reset(new CVornSystem(m_log.get()));
    for (const auto& c : options.cores) m_sys->SetThreadCore(c.first, c.second);
    const std::string base = BusTestDir() + "/g" + std::to_string(m_group) + "m" + std::to_string(m_member);
    VornLaunchArgs a;
    a.group_id = m_group;
    a.member_id = m_member;
    a.coordinator_ip = coordinator_ip.c_str();
    a.coordinator_port = coordinator_port;
    a.log_level = options.log_level;
    a.base_path = base.c_str();
    a.deliver = &LiveMember::Deliver;
    a.jam_wait_us = options.jam_wait_us;
    a.user_data = this;
    a.state = &LiveMember::State;
    return m_sys->Launch(a, options.launch) == 1;
}

void LiveMember::Stop() {
    if (m_sys) m_sys->Stop();
}

uint8_t LiveMember::Send(int16_t msg_id, const std::vector<uint8_t>& data, int16_t dst_group, int16_t dst_member,
                         bool broadcast, int32_t tag) {
    return m_sys->SendMsg(tag, msg_id, data.data(), static_cast<uint32_t>(data.size()), dst_group, dst_member,
                          broadcast, 0xFFFF);
}

void LiveMember::Deliver(uint32_t tag, uint32_t msg_id, const void* data, uint32_t length, uint64_t playback,
                         const VornMsgSource* source) {
    LiveMember* self = source ? static_cast<LiveMember*>(source->user_data) : nullptr;
    if (!self) return;
    LiveDelivery d;
    d.tag = tag;
    d.msg_id = msg_id;
    d.playback = playback;
    d.src_group = source->group_id;
    d.src_member = source->member_id;
    d.at_ns = MonotonicNs();
    if (self->m_record || self->m_hook) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        d.data.assign(p, p + length);
    }
    if (self->m_hook) self->m_hook(d);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        if (self->m_record) self->m_got.push_back(std::move(d));
        self->m_count.fetch_add(1);
    }
    self->m_cv.notify_all();
}

void LiveMember::State(uint64_t identity, uint64_t user_data) {
    LiveMember* self = reinterpret_cast<LiveMember*>(static_cast<uintptr_t>(user_data));
    if (!self) return;
    if (!OXA::VORN::CAppMsgDeliver::OnDeliverThreadOf(self->m_sys.get())) self->m_stateOnDeliver.store(false);
    self->m_stateIdentity.store(identity);
    self->m_stateCalls.fetch_add(1);
}

std::vector<LiveDelivery> LiveMember::Deliveries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_got;
}

bool LiveMember::WaitCount(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_count.load() >= n; });
}

void LiveMember::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_got.clear();
    m_count.store(0);
}

void LiveMember::OnDeliver(std::function<void(const LiveDelivery&)> f) { m_hook = std::move(f); }

VornPeerWindow* PeerWindow(CVornSystem& sys, int16_t group_id, int16_t member_id) {
    CGroupsManager* m = sys.Groups();
    CGroupSession* g = m ? m->FindGroup(group_id) : nullptr;
    const int pos = g ? g->FindMember(member_id) : -1;
    return pos < 0 ? nullptr : &g->Member(static_cast<std::size_t>(pos));
}

int64_t Outstanding(CVornSystem& sys, int16_t group_id, int16_t member_id) {
    VornPeerWindow* w = PeerWindow(sys, group_id, member_id);
    if (!w) return 0;
    return static_cast<int64_t>(w->send->Next()) - 1 - w->send->Acked();
}

bool WaitOutstanding(CVornSystem& sys, int16_t group_id, int16_t member_id, int64_t max,
                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Outstanding(sys, group_id, member_id) > max) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

std::vector<std::string> ThreadNames(const std::string& prefix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream f(e.path() / "comm");
        std::string name;
        if (std::getline(f, name) && name.compare(0, prefix.size(), prefix) == 0) out.push_back(name);
    }
    return out;
}

std::vector<uint8_t> CountedBody(uint64_t n, std::size_t size) {
    if (size < 8) size = 8;
    std::vector<uint8_t> b(size);
    std::memcpy(b.data(), &n, sizeof n);
    for (std::size_t i = 8; i < size; ++i) b[i] = static_cast<uint8_t>(n + i);
    return b;
}

int64_t CountOf(const std::vector<uint8_t>& body) {
    if (body.size() < 8) return -1;
    uint64_t n = 0;
    std::memcpy(&n, body.data(), sizeof n);
    for (std::size_t i = 8; i < body.size(); ++i)
        if (body[i] != static_cast<uint8_t>(n + i)) return -1;
    return static_cast<int64_t>(n);
}

}  // namespace oxa_test
