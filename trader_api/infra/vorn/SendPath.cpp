#include "infra/vorn/SendPath.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "infra/vorn/VornWire.h"

namespace OXA {
namespace VORN {

DgramSendPath::~DgramSendPath() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (Delayed& d : m_delayed) ::close(d.fd);
}

void DgramSendPath::SetHook(std::shared_ptr<SendHook> hook) { std::atomic_store(&m_hook, std::move(hook)); }

ssize_t DgramSendPath::SendTo(int fd, const void* data, std::size_t length, const sockaddr_in& to,
                              int16_t dst_group, int16_t dst_member) {
    const sockaddr* addr = reinterpret_cast<const sockaddr*>(&to);
    std::shared_ptr<SendHook> hook = std::atomic_load(&m_hook);
    if (!hook) return ::sendto(fd, data, length, 0, addr, sizeof to);

    SendKey key;
    VornHeader h;
    if (ReadHeader(data, length, h)) {
        key.type = h.type;
        key.sequence = h.sequence;
    }
    key.dst_group_id = dst_group;
    key.dst_member_id = dst_member;
    const SendVerdict v = hook->OnSend(key, to);
    switch (v.action) {
        case SendVerdict::kDrop:
            return static_cast<ssize_t>(length);
        case SendVerdict::kDelay:
            Defer(fd, data, length, to, v.delay_us);
            return static_cast<ssize_t>(length);
        case SendVerdict::kDuplicate: {
            ssize_t r = -1;
            for (uint32_t i = 0; i < std::max<uint32_t>(v.copies, 1); ++i) r = ::sendto(fd, data, length, 0, addr, sizeof to);
            return r;
        }
        case SendVerdict::kPass:
        default:
            return ::sendto(fd, data, length, 0, addr, sizeof to);
    }
}

void DgramSendPath::Defer(int fd, const void* data, std::size_t length, const sockaddr_in& to, uint32_t delay_us) {
    const int copy = ::dup(fd);
    if (copy < 0) return;
    Delayed d;
    d.due = std::chrono::steady_clock::now() + std::chrono::microseconds(delay_us);
    d.fd = copy;
    d.to = to;
    d.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop) {
            ::close(copy);
            return;
        }
        m_delayed.push_back(std::move(d));
        if (!m_thread.joinable()) m_thread = std::thread([this] { DelayLoop(); });
    }
    m_cv.notify_all();
}

void DgramSendPath::DelayLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (m_delayed.empty()) {
            m_cv.wait(lock);
            continue;
        }
        auto first = std::min_element(m_delayed.begin(), m_delayed.end(),
                                      [](const Delayed& a, const Delayed& b) { return a.due < b.due; });
        const auto due = first->due;
        if (std::chrono::steady_clock::now() < due) {
            m_cv.wait_until(lock, due);
            continue;
        }
        Delayed d = std::move(*first);
        m_delayed.erase(first);
        lock.unlock();
        ::sendto(d.fd, d.data.data(), d.data.size(), 0, reinterpret_cast<const sockaddr*>(&d.to), sizeof d.to);
        ::close(d.fd);
        lock.lock();
    }
}

std::size_t DgramSendPath::PendingDelayed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_delayed.size();
}

}  // namespace VORN
}  // namespace OXA
