#include "api_common/code_common/CCachedFlow.h"

#include <spdlog/spdlog.h>

#include <climits>
#include <cstring>
#include <new>

namespace OXA {
namespace API {

CCacheNode::CCacheNode(int capacity)
    : m_capacity(capacity > 0 ? capacity : 0), m_buffer(new (std::nothrow) char[m_capacity > 0 ? m_capacity : 1]) {
  if (m_buffer == nullptr) m_capacity = 0;  // an empty node still takes empty records
}

CCacheNode::~CCacheNode() { delete[] m_buffer; }

void* CCacheNode::Append(const void* data, int length) {
  // written as a subtraction: used + length can overflow an int
  if (length < 0 || m_buffer == nullptr || length > m_capacity - m_used) return nullptr;
  char* at = m_buffer + m_used;
  if (length > 0) std::memcpy(at, data, static_cast<size_t>(length));
  m_used += length;
  return at;
}

CCachedList::CCachedList(int node_size, int spare_nodes) : m_nodeSize(node_size > 0 ? node_size : 0) {
  m_first = m_tail = new (std::nothrow) CCacheNode(m_nodeSize);
  for (int i = 0; i < spare_nodes; ++i) {
    auto* node = new (std::nothrow) CCacheNode(m_nodeSize);
    if (node == nullptr) break;
    node->SetNext(m_free);
    m_free = node;
    ++m_spareCount;
  }
}

CCachedList::~CCachedList() {
  for (CCacheNode* chain : {m_first, m_free}) {
    while (chain != nullptr) {
      CCacheNode* next = chain->Next();
      delete chain;
      chain = next;
    }
  }
}

CCacheNode* CCachedList::TakeNode() {
  if (m_free != nullptr) {
    CCacheNode* node = m_free;
    m_free = node->Next();
    node->SetNext(nullptr);
    --m_spareCount;
    return node;
  }
  return new (std::nothrow) CCacheNode(m_nodeSize);
}

void* CCachedList::Append(const void* data, int length) {
  if (length < 0 || (length > 0 && data == nullptr)) return nullptr;
  if (m_tail != nullptr) {
    if (void* at = m_tail->Append(data, length)) return at;
  }
  // Refused before a node is taken, so an over-long record costs no node.
  if (length > m_nodeSize) return nullptr;
  CCacheNode* node = TakeNode();
  if (node == nullptr) return nullptr;
  if (m_tail != nullptr) {
    m_tail->SetNext(node);
  } else {
    m_first = node;
  }
  m_tail = node;
  return node->Append(data, length);
}

CFlowObjIndex::CFlowObjIndex() : m_blocks(new Entry*[kBlockCount]()) {}

CFlowObjIndex::~CFlowObjIndex() {
  for (int i = 0; i < kBlockCount && m_blocks[i] != nullptr; ++i) delete[] m_blocks[i];
}

int CFlowObjIndex::Append(const void* data, int length) {
  if (m_count == INT_MAX) return -1;
  const int block = m_count / kBlockEntries;
  const int slot = m_count % kBlockEntries;
  if (slot == 0) {
    m_blocks[block] = new (std::nothrow) Entry[kBlockEntries];
    if (m_blocks[block] == nullptr) return -1;
  }
  m_blocks[block][slot] = Entry{data, length};
  return m_count++;
}

const CFlowObjIndex::Entry* CFlowObjIndex::At(int position) const {
  if (position < 0 || position >= m_count) return nullptr;
  return &m_blocks[position / kBlockEntries][position % kBlockEntries];
}

int CFlowObjIndex::BlocksAllocated() const {
  // the table itself, not the count: blocks are allocated in order, so they end at the first gap
  int blocks = 0;
  while (blocks < kBlockCount && m_blocks[blocks] != nullptr) ++blocks;
  return blocks;
}

CCachedFlow::CCachedFlow(int node_size, int spare_nodes) : m_list(node_size, spare_nodes) {}

CCachedFlow::~CCachedFlow() = default;

int CCachedFlow::GetCount() const { return m_index.Count(); }

int CCachedFlow::Get(int position, void** data, int buffer_length) {
  const CFlowObjIndex::Entry* entry = m_index.At(position);
  if (entry == nullptr) {
    if (data != nullptr) *data = nullptr;
    return -1;
  }
  if (buffer_length < entry->length) {
    // a copy of the default logger: it may have been dropped or replaced meanwhile
    if (auto logger = spdlog::default_logger()) {
      logger->critical("[CCachedFlow::{}] nLen[{}] actualLen[{}] space is not enough", "Get", buffer_length,
                       entry->length);
    }
  }
  if (data != nullptr) *data = const_cast<void*>(entry->data);
  return entry->length;
}

int CCachedFlow::Append(const void* data, int length) {
  if (m_index.Count() == INT_MAX) return -1;
  void* stored = m_list.Append(data, length);
  if (stored == nullptr) return -1;
  // The index can only refuse when full (checked above) or out of memory; the
  // node bytes just taken then stay unused.
  return m_index.Append(stored, length);
}

}  // namespace API
}  // namespace OXA
