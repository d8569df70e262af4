// Received datagrams live in pool buffers from the socket read until their delivery: a
// buffer is a 56-byte list node followed by the datagram and, for app messages, a tail that
// the receive and delivery paths fill (delivery time of day, receive and delivery times, the
// source). Pools hand buffers out without allocating on the receive path; a dry pool is
// topped up one buffer at a time. A delivery list is the single-producer single-consumer
// queue of in-order buffers between the receiver and the deliver thread.
#pragma once

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "infra/vorn/VornThreads.h"
#include "infra/vorn/VornTypes.h"

namespace OXA {
namespace VORN {

class CVornSystem;
class CBufferPool;

constexpr std::size_t kBufferNodeSize = 56;
constexpr std::size_t kAppBufferSize = 2048;      // 1,992 bytes of datagram and tail
constexpr std::size_t kControlBufferSize = 128;   // 72 bytes of datagram

// Behind the data of an app message: the storage record takes the datagram and the time of
// day right behind it, so the order of these fields is fixed.
constexpr std::size_t kTailHHMMSS = 0;        // int32, written at delivery
constexpr std::size_t kTailReceiveTime = 4;   // timespec, monotonic, written at receipt
constexpr std::size_t kTailDeliverTime = 20;  // timespec, monotonic, written at delivery
constexpr std::size_t kTailSource = 36;       // const VornMsgSource*
constexpr std::size_t kTailSize = 44;

struct VornBuffer {
    std::atomic<VornBuffer*> next{nullptr};  // link in a free list or a delivery list
    CBufferPool* pool = nullptr;             // owner; null for a list's own anchor
    uint8_t* data = nullptr;                 // the datagram, right behind the node
    uint32_t capacity = 0;                   // bytes behind the node
    uint32_t length = 0;                     // datagram bytes kept (an app message's tail follows)

    // Back to the owning pool; null and pool-less buffers are ignored.
    static void Release(VornBuffer* buffer);

    // Tail of an app message kept at data + length.
    void StampReceive(const timespec& received, const VornMsgSource* source);
    void StampDelivery(int32_t hhmmss, const timespec& delivered);
    const VornMsgSource* Source() const;
    int32_t DeliveryHHMMSS() const;
};
static_assert(sizeof(VornBuffer) <= kBufferNodeSize, "node fits its room");

class CBufferPool {
public:
    // name: as the log texts show it. buffer_size includes the node.
    CBufferPool(CVornSystem& system, const char* name, std::size_t buffer_size, std::size_t count);
    ~CBufferPool();
    CBufferPool(const CBufferPool&) = delete;
    CBufferPool& operator=(const CBufferPool&) = delete;

    // False when the first allocation failed.
    bool Ok() const { return m_ok; }
    // A buffer (length 0), or null when the pool is dry and one more cannot be allocated.
    VornBuffer* Get();
    void Put(VornBuffer* buffer);

    const std::string& Name() const { return m_name; }
    std::size_t BufferSize() const { return m_bufferSize; }
    std::size_t DataCapacity() const { return m_bufferSize - kBufferNodeSize; }
    std::size_t Total() const;
    std::size_t Available() const;
    // Keeps every block in memory (mlock); false when the system refused.
    bool LockInMemory();
    // The most buffers the pool may hold in all (0: no limit); a dry pool at the limit
    // behaves as one whose allocation failed. For tests.
    void SetGrowLimit(std::size_t total);

private:
    VornBuffer* Carve(uint8_t* at);
    bool Grow(std::size_t count);

    CVornSystem& m_sys;
    std::string m_name;
    std::size_t m_bufferSize;
    bool m_ok = false;
    bool m_locked = false;
    mutable std::mutex m_mutex;
    VornBuffer* m_free = nullptr;
    std::size_t m_available = 0;
    std::size_t m_total = 0;
    std::size_t m_limit = 0;
    CRateLimit m_failLog;
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        std::size_t size;
    };
    std::vector<Block> m_blocks;
};

// In-order buffers of one source, appended by the receiver and taken by the deliver thread.
// The list always holds one anchor (at first its own node, later the last buffer delivered),
// so the two ends never touch the same link; the anchor goes back to its pool when the next
// delivered buffer replaces it.
class CDeliveryList {
public:
    CDeliveryList();
    // Returns every buffer still held to its pool.
    ~CDeliveryList();
    CDeliveryList(const CDeliveryList&) = delete;
    CDeliveryList& operator=(const CDeliveryList&) = delete;

    // ---- producer (one thread at a time)
    void Append(VornBuffer* buffer);
    // Buffers appended so far (64 bits: a busy source passes 2^31 in hours).
    int64_t Appended() const { return m_appended.load(std::memory_order_acquire); }

    // ---- consumer (the deliver thread)
    // The oldest buffer not yet taken, null when none.
    VornBuffer* Front() const;
    // The front becomes the anchor; the previous anchor goes back to its pool.
    void PopFront();
    // Buffers taken so far.
    int64_t Taken() const { return m_taken; }

private:
    VornBuffer m_stub;
    VornBuffer* m_tail;    // producer
    VornBuffer* m_anchor;  // consumer
    std::atomic<int64_t> m_appended{0};
    int64_t m_taken = 0;
};

}  // namespace VORN
}  // namespace OXA
