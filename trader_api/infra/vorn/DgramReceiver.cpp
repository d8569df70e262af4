#include "infra/vorn/DgramReceiver.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "infra/vorn/AppMsgDeliver.h"
#include "infra/vorn/ControlQueue.h"
#include "infra/vorn/GroupsManager.h"
#include "infra/vorn/VornPool.h"
#include "infra/vorn/VornSystem.h"
#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

namespace {

constexpr int kServerReceiveBuffer = 67108864;
constexpr int kClientReceiveBuffer = 15728640;
constexpr auto kStartWait = std::chrono::seconds(5);

}  // namespace

DgramReceiver::DgramReceiver(CVornSystem& system, CGroupsManager& groups, CControlQueue& queue,
                             CAppMsgDeliver* deliver)
    : m_sys(system), m_groups(groups), m_queue(queue), m_deliver(deliver), m_socket(system) {}

DgramReceiver::~DgramReceiver() { Stop(); }

bool DgramReceiver::Start(int core) {
    const VornIdentity& id = m_sys.Identity();
    const int buffer = id.svr_type == '0' ? kServerReceiveBuffer : kClientReceiveBuffer;
    CGroupSession* own = m_groups.OwnGroup();
    const HqtrsGroupInfo* og = nullptr;
    for (const HqtrsGroupInfo& g : m_sys.Hqtrs().Groups())
        if (g.group_id == id.group_id) og = &g;
    if (own && own->MulticastConfig() && og) {
        m_sys.Note("Create Multicast-Recv Socket: ip-port(%s-%d)", og->group_ip, static_cast<int>(og->data_port));
        if (!m_socket.Open(id.ip, og->data_port, og->group_ip, false, buffer, m_sys.EtherName())) {
            m_sys.Note("Create Multicast Socket Fail: ip-port(%s-%d)", og->group_ip, static_cast<int>(og->data_port));
            return false;
        }
    } else if (!m_socket.Open(id.ip, id.port, nullptr, false, buffer, m_sys.EtherName())) {
        m_sys.Note("Create Socket Fail: ip-port(%s-%d)", id.ip, static_cast<int>(id.port));
        return false;
    }
    m_stop.store(false, std::memory_order_release);
    m_groups.BeginStartupPhase();
    if (!m_thread.Start("vorn_receiver", core, [this](bool pinned) { Loop(pinned); })) {
        m_socket.Close();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (!m_running.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

void DgramReceiver::Stop() {
    m_stop.store(true, std::memory_order_release);
    m_thread.Join();
    m_socket.Close();
}

void DgramReceiver::DropWaiting() {
    uint8_t scratch[kMaxDatagram];
    for (;;) {
        const ssize_t n = m_socket.Recv(scratch, sizeof scratch);
        if (n < 0) return;
        m_read.fetch_add(1, std::memory_order_relaxed);
        m_noBuffer.fetch_add(1, std::memory_order_relaxed);
    }
}

bool DgramReceiver::Drain(VornBuffer*& buffer) {
    CBufferPool& pool = m_groups.AppPool();
    for (;;) {
        if (!buffer) {
            buffer = pool.Get();
            if (!buffer) {
                int64_t held = 0;
                if (m_poolLog.Allow(MonotonicNs(), &held))
                    m_sys.Note("Receive (%d) Fail: Insufficient Memory, Datagrams Dropped ( %lld Not Logged ).",
                               static_cast<int>(m_socket.Port()), static_cast<long long>(held));
                DropWaiting();
                return false;
            }
        }
        sockaddr_in from{};
        const ssize_t n = m_socket.RecvFrom(buffer->data, kMaxDatagram, from);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                int64_t held = 0;
                if (m_errorLog.Allow(MonotonicNs(), &held))
                    m_sys.Note("Receive (%d) Fail: error ( %d ) ( %lld Not Logged ).", static_cast<int>(m_socket.Port()),
                               errno, static_cast<long long>(held));
            }
            return true;
        }
        m_read.fetch_add(1, std::memory_order_relaxed);
        const std::size_t got = static_cast<std::size_t>(n) < kMaxDatagram ? static_cast<std::size_t>(n) : kMaxDatagram;
        switch (m_groups.OnDatagram(buffer, got, static_cast<std::size_t>(n), from)) {
            case CGroupsManager::RecvAction::kKept:
                buffer = nullptr;
                break;
            case CGroupsManager::RecvAction::kToHandler: {
                HeardFrom(*buffer);
                VornBuffer* c = m_groups.ControlPool().Get();
                if (c && buffer->length <= c->capacity) {
                    std::memcpy(c->data, buffer->data, buffer->length);
                    c->length = buffer->length;
                    m_queue.Push(c);
                } else {
                    VornBuffer::Release(c);
                    int64_t held = 0;
                    if (m_controlLog.Allow(MonotonicNs(), &held))
                        m_sys.Note("Cache-Pool[%s] Real-time Malloc Fail: %d ( %lld Not Logged )", "control_msg_pool",
                                   128, static_cast<long long>(held));
                }
                break;
            }
            case CGroupsManager::RecvAction::kNotice:
                HeardFrom(*buffer);
                if (m_deliver && m_deliver->OnNotice(buffer)) buffer = nullptr;
                break;
            case CGroupsManager::RecvAction::kReuse:
                break;
        }
    }
}

void DgramReceiver::HeardFrom(const VornBuffer& buffer) {
    // in arrival order: delivery tells what had arrived before the pair's partner first spoke
    VornHeader h;
    if (m_deliver && ReadHostHeader(buffer.data, buffer.length, h) && h.src_group_id == m_sys.Identity().group_id)
        m_deliver->HeardFrom(h.src_group_id, h.src_member_id);
}

void DgramReceiver::Loop(bool pinned) {
    const char* name = "vorn_receiver";
    if (pinned)
        m_sys.Note("Receive Thread(%s)  F-M Start, Bind CPU Core Id(%d) ...", name,
                   m_sys.ThreadCore(VornThread::kReceiver));
    else
        m_sys.Note("Receive Thread(%s) Start ...", name);
    m_running.store(true, std::memory_order_release);
    VornBuffer* buffer = nullptr;
    pollfd p{m_socket.Fd(), POLLIN, 0};
    while (!m_stop.load(std::memory_order_acquire)) {
        const bool startup = m_groups.InStartupPhase();
        if (!pinned) {
            p.revents = 0;
            if (startup) {
                ::poll(&p, 1, m_timing.startup_poll_ms);
            } else {
                const timespec ts{0, static_cast<long>(m_timing.live_poll_us) * 1000};
                ::ppoll(&p, 1, &ts, nullptr);
            }
        }
        if (!Drain(buffer) && !pinned) {
            // the pool is dry: give the deliver thread a moment to return buffers
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (startup && m_groups.StartupSyncDone()) m_groups.LeaveStartupPhase();
    }
    VornBuffer::Release(buffer);
    m_running.store(false, std::memory_order_release);
    m_sys.Note("Receive Thread ( %s ) Stop ...", name);
}

}  // namespace VORN
}  // namespace OXA
