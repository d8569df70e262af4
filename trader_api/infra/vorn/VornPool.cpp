#include "infra/vorn/VornPool.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

#include "infra/vorn/VornSystem.h"

namespace OXA {
namespace VORN {

void VornBuffer::Release(VornBuffer* buffer) {
    if (buffer && buffer->pool) buffer->pool->Put(buffer);
}

void VornBuffer::StampReceive(const timespec& received, const VornMsgSource* source) {
    if (length + kTailSize > capacity) return;
    std::memcpy(data + length + kTailReceiveTime, &received, sizeof received);
    std::memcpy(data + length + kTailSource, &source, sizeof source);
}

void VornBuffer::StampDelivery(int32_t hhmmss, const timespec& delivered) {
    if (length + kTailSize > capacity) return;
    std::memcpy(data + length + kTailHHMMSS, &hhmmss, sizeof hhmmss);
    std::memcpy(data + length + kTailDeliverTime, &delivered, sizeof delivered);
}

const VornMsgSource* VornBuffer::Source() const {
    const VornMsgSource* source = nullptr;
    if (length + kTailSize <= capacity) std::memcpy(&source, data + length + kTailSource, sizeof source);
    return source;
}

int32_t VornBuffer::DeliveryHHMMSS() const {
    int32_t v = 0;
    if (length + kTailSize <= capacity) std::memcpy(&v, data + length + kTailHHMMSS, sizeof v);
    return v;
}

CBufferPool::CBufferPool(CVornSystem& system, const char* name, std::size_t buffer_size, std::size_t count)
    : m_sys(system), m_name(name ? name : ""), m_bufferSize(buffer_size < kBufferNodeSize + 8 ? kBufferNodeSize + 8 : buffer_size) {
    m_ok = Grow(count);
}

CBufferPool::~CBufferPool() {
    if (m_locked)
        for (const Block& b : m_blocks) ::munlock(b.bytes.get(), b.size);
}

VornBuffer* CBufferPool::Carve(uint8_t* at) {
    VornBuffer* b = new (at) VornBuffer();
    b->pool = this;
    b->data = at + kBufferNodeSize;
    b->capacity = static_cast<uint32_t>(m_bufferSize - kBufferNodeSize);
    return b;
}

bool CBufferPool::Grow(std::size_t count) {
    if (count == 0) return true;
    const std::size_t size = m_bufferSize * count;
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) return false;
    std::memset(bytes.get(), 0, size);
    if (m_locked) ::mlock(bytes.get(), size);
    for (std::size_t i = 0; i < count; ++i) {
        VornBuffer* b = Carve(bytes.get() + i * m_bufferSize);
        b->next.store(m_free, std::memory_order_relaxed);
        m_free = b;
    }
    m_available += count;
    m_total += count;
    m_blocks.push_back(Block{std::move(bytes), size});
    return true;
}

VornBuffer* CBufferPool::Get() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_free && ((m_limit && m_total >= m_limit) || !Grow(1))) {
        if (m_failLog.Allow(MonotonicNs()))
            m_sys.Note("Cache-Pool[%s] Real-time Malloc Fail: %d", m_name.c_str(), static_cast<int>(m_bufferSize));
        return nullptr;
    }
    VornBuffer* b = m_free;
    m_free = b->next.load(std::memory_order_relaxed);
    --m_available;
    b->next.store(nullptr, std::memory_order_relaxed);
    b->length = 0;
    return b;
}

void CBufferPool::Put(VornBuffer* buffer) {
    if (!buffer) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    buffer->next.store(m_free, std::memory_order_relaxed);
    m_free = buffer;
    ++m_available;
}

std::size_t CBufferPool::Total() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

std::size_t CBufferPool::Available() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_available;
}

void CBufferPool::SetGrowLimit(std::size_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limit = total;
}

bool CBufferPool::LockInMemory() {
    std::lock_guard<std::mutex> lock(m_mutex);
    bool ok = true;
    for (const Block& b : m_blocks) ok = ::mlock(b.bytes.get(), b.size) == 0 && ok;
    m_locked = true;
    return ok;
}

CDeliveryList::CDeliveryList() : m_tail(&m_stub), m_anchor(&m_stub) {}

CDeliveryList::~CDeliveryList() {
    VornBuffer* b = m_anchor;
    while (b) {
        VornBuffer* next = b->next.load(std::memory_order_acquire);
        if (b != &m_stub) VornBuffer::Release(b);
        b = next;
    }
}

void CDeliveryList::Append(VornBuffer* buffer) {
    buffer->next.store(nullptr, std::memory_order_relaxed);
    m_tail->next.store(buffer, std::memory_order_release);
    m_tail = buffer;
    m_appended.fetch_add(1, std::memory_order_release);
}

VornBuffer* CDeliveryList::Front() const { return m_anchor->next.load(std::memory_order_acquire); }

void CDeliveryList::PopFront() {
    VornBuffer* front = m_anchor->next.load(std::memory_order_acquire);
    if (!front) return;
    VornBuffer* old = m_anchor;
    m_anchor = front;
    ++m_taken;
    if (old != &m_stub) VornBuffer::Release(old);
}

}  // namespace VORN
}  // namespace OXA
