// The one road by which every bus datagram leaves a member, with a test-only fault hook.
//
// A test installs a SendHook to lose, delay or duplicate chosen datagrams, keyed on the packet
// type, the header's sequence and the addressee (its group and member as the sender knows it;
// -1 for the coordinator or a multicast group). No hook is installed unless a test sets one;
// then the cost is one atomic load per send. A delayed datagram leaves later from the same
// socket (a duplicate of its descriptor is kept), so the addressee sees the same source.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace OXA {
namespace VORN {

struct SendKey {
    uint8_t type = 0;
    int32_t sequence = 0;       // the header's sequence field, in host order
    int16_t dst_group_id = -1;  // the addressee as the sender knows it
    int16_t dst_member_id = -1;
};

struct SendVerdict {
    enum Action { kPass, kDrop, kDelay, kDuplicate };
    Action action = kPass;
    uint32_t delay_us = 0;  // kDelay
    uint32_t copies = 2;    // kDuplicate: copies sent back to back
};

class SendHook {
public:
    virtual ~SendHook() = default;
    // Called on the sending thread for every datagram; must be thread-safe.
    virtual SendVerdict OnSend(const SendKey& key, const sockaddr_in& to) = 0;
};

class DgramSendPath {
public:
    DgramSendPath() = default;
    ~DgramSendPath();
    DgramSendPath(const DgramSendPath&) = delete;
    DgramSendPath& operator=(const DgramSendPath&) = delete;

    // Installs (or, with null, removes) the hook. The hook must outlive its installation.
    void SetHook(std::shared_ptr<SendHook> hook);

    // Sends one datagram built by the bus (its header names type and sequence) from fd to
    // to, addressed to (dst_group, dst_member). Returns what sendto returns; a datagram the
    // hook drops or delays counts as sent.
    ssize_t SendTo(int fd, const void* data, std::size_t length, const sockaddr_in& to, int16_t dst_group,
                   int16_t dst_member);

    // Datagrams the hook holds back that have not left yet.
    std::size_t PendingDelayed() const;

private:
    struct Delayed {
        std::chrono::steady_clock::time_point due;
        int fd;
        sockaddr_in to;
        std::vector<uint8_t> data;
    };
    void Defer(int fd, const void* data, std::size_t length, const sockaddr_in& to, uint32_t delay_us);
    void DelayLoop();

    std::shared_ptr<SendHook> m_hook;  // read with atomic_load
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Delayed> m_delayed;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace VORN
}  // namespace OXA
