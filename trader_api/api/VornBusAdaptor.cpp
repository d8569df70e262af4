#include "api/VornBusAdaptor.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <vector>

#include "api/CallbackThread.h"
#include "api/TraderImpl.h"
#include "infra/vorn/VornApi.h"
#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace API {

namespace {

constexpr int kJamWaitUs = 1000;

// The launched buses, stopped at exit before the objects their deliver threads call into go:
// the handler is registered once the first bus runs, after the logger the callbacks use exists,
// so it runs before that is destroyed (exit runs in reverse order).
std::mutex g_exitMutex;
std::vector<VORN::CVornSystem*>* g_exitBuses = nullptr;

void StopBusesAtExit() {
    std::vector<VORN::CVornSystem*> buses;
    {
        std::lock_guard<std::mutex> lock(g_exitMutex);
        if (g_exitBuses) buses = *g_exitBuses;
    }
    // what is still pending is not delivered: the application's objects may be gone by now
    for (VORN::CVornSystem* bus : buses) bus->Stop(false);
}

void StopAtExit(VORN::CVornSystem* bus) {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    if (!g_exitBuses) {
        g_exitBuses = new std::vector<VORN::CVornSystem*>();  // lives for the process
        std::atexit(StopBusesAtExit);
    }
    for (VORN::CVornSystem* b : *g_exitBuses)
        if (b == bus) return;
    g_exitBuses->push_back(bus);
}

void ForgetAtExit(VORN::CVornSystem* bus) {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    if (!g_exitBuses) return;
    for (auto it = g_exitBuses->begin(); it != g_exitBuses->end(); ++it) {
        if (*it == bus) {
            g_exitBuses->erase(it);
            return;
        }
    }
}

}  // namespace

VornBusAdaptor::VornBusAdaptor(TraderImpl* owner, VORN::CVornSystem* bus)
    : m_bus(bus ? *bus : VORN::VornProcessSystem()), m_context(new TraderContext(owner)) {}

VornBusAdaptor::~VornBusAdaptor() {
    // an adaptor that goes (tests) takes its bus down first: the bus calls into its context
    ForgetAtExit(&m_bus);
    m_bus.Stop();
}

bool VornBusAdaptor::VornLaunch(int group, int member, const char* coordinator_ip, int coordinator_port,
                                int log_level, const char* path, int run_mode, TraderImpl* owner) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_launched.load(std::memory_order_acquire)) return true;
    if (!m_context || !owner) return false;
    m_context->owner = owner;
    VORN::VornLaunchArgs a;
    a.group_id = static_cast<int16_t>(group);
    a.member_id = static_cast<int16_t>(member);
    a.coordinator_ip = coordinator_ip;
    a.coordinator_port = static_cast<uint16_t>(coordinator_port);
    a.log_level = log_level;
    a.base_path = path;
    a.deliver = &VornBusAdaptor::OnVornRecv;
    a.date = nullptr;
    a.jam_wait_us = kJamWaitUs;
    a.state = &VornBusAdaptor::OnVornState;
    a.run_mode = run_mode;
    a.user_data = m_context.get();
    // the exit stop is in place before a thread of the bus can run
    StopAtExit(&m_bus);
    const bool ok = m_bus.Launch(a) == 1;
    m_group.store(static_cast<int16_t>(group), std::memory_order_release);
    m_member.store(static_cast<int16_t>(member), std::memory_order_release);
    m_launched.store(ok, std::memory_order_release);
    return ok;
}

bool VornBusAdaptor::Send(uint32_t msg_id, const void* body, int length, int group, int member) {
    if (length < 0) return false;
    return m_bus.SendMsg(0, static_cast<int16_t>(msg_id), body, static_cast<uint32_t>(length),
                         static_cast<int16_t>(group), static_cast<int16_t>(member), true, 0xFFFF) == 1;
}

void VornBusAdaptor::GetGroupMember(int32_t* group, int32_t* member) {
    if (group) *group = m_group.load(std::memory_order_acquire);
    if (member) *member = m_member.load(std::memory_order_acquire);
}

void VornBusAdaptor::SetEtherName(const char* name) { m_bus.SetEtherName(name); }

void VornBusAdaptor::SetThreadCpus(int receiver_cpu, int deliver_cpu) {
    if (receiver_cpu >= 0) m_bus.SetThreadCpu("VORN_THREAD_RECEIVER", receiver_cpu);
    if (deliver_cpu >= 0) m_bus.SetThreadCpu("VORN_THREAD_DELIVER", deliver_cpu);
}

void VornBusAdaptor::OnVornRecv(uint32_t tag, uint32_t msg_id, const void* body, uint32_t length, uint64_t playback,
                                const VORN::VornMsgSource* source) {
    // a Login or Logout called from the user's callback must not wait for this thread
    CallbackThreadScope on_deliver_thread;
    TraderContext* context = source ? static_cast<TraderContext*>(source->user_data) : nullptr;
    if (context == nullptr || context->owner == nullptr) return;
    // routed by the low 16 bits: 0x8000 and above read as negative ids, which no business has
    const int64_t id = static_cast<int16_t>(static_cast<uint16_t>(msg_id));
    context->owner->OnRecv(static_cast<int>(tag), static_cast<uint64_t>(id), static_cast<const char*>(body),
                           static_cast<int>(length), static_cast<int>(playback), source->reserved, source->group_id,
                           source->member_id, context);
}

void VornBusAdaptor::OnVornState(uint64_t, uint64_t) {}

}  // namespace API
}  // namespace OXA
