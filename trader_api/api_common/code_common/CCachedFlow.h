// A message flow that copies every record once into large buffers allocated up
// front and indexes it, so a record is handed out in place and reading a
// position costs two array steps. Records never move once stored.
//
// One thread at a time: nothing here locks.
#pragma once

#include <memory>

#include "api_common/code_common/IReadOnlyFlow.h"

namespace OXA {
namespace API {

// One buffer of the record store.
class CCacheNode {
 public:
  explicit CCacheNode(int capacity);
  virtual ~CCacheNode();
  CCacheNode(const CCacheNode&) = delete;
  CCacheNode& operator=(const CCacheNode&) = delete;

  // Copies the record behind the bytes used so far and returns the copy's
  // address; null when it does not fit (or the length is negative).
  void* Append(const void* data, int length);

  int Capacity() const { return m_capacity; }
  int Used() const { return m_used; }
  CCacheNode* Next() const { return m_next; }
  void SetNext(CCacheNode* next) { m_next = next; }

 private:
  int m_capacity;
  char* m_buffer;
  int m_used = 0;
  CCacheNode* m_next = nullptr;
};

// The record store: a chain of nodes of one size with a free list of spare
// nodes made at construction. A record is never split across nodes; the rest
// of a node that a record did not fit into stays empty.
class CCachedList {
 public:
  CCachedList(int node_size, int spare_nodes);
  virtual ~CCachedList();
  CCachedList(const CCachedList&) = delete;
  CCachedList& operator=(const CCachedList&) = delete;

  // Address of the stored copy, or null for a record longer than the node
  // size, a negative length, or no memory for a new node.
  void* Append(const void* data, int length);

  int NodeSize() const { return m_nodeSize; }
  int SpareCount() const { return m_spareCount; }
  const CCacheNode* First() const { return m_first; }

 private:
  CCacheNode* TakeNode();

  CCacheNode* m_first = nullptr;
  CCacheNode* m_tail = nullptr;
  CCacheNode* m_free = nullptr;
  int m_nodeSize;
  int m_spareCount = 0;
};

// Position index: a fixed table of blocks of 65,536 entries, a block allocated
// when the count reaches its first position.
class CFlowObjIndex {
 public:
  static constexpr int kBlockEntries = 65536;
  static constexpr int kBlockCount = 32768;

  struct Entry {
    const void* data;
    int length;
  };

  CFlowObjIndex();
  ~CFlowObjIndex();
  CFlowObjIndex(const CFlowObjIndex&) = delete;
  CFlowObjIndex& operator=(const CFlowObjIndex&) = delete;

  // Position of the new entry; -1 when the index is full (2,147,483,647
  // entries) or its next block cannot be allocated.
  int Append(const void* data, int length);
  // The entry at position; null outside 0 to Count() - 1.
  const Entry* At(int position) const;
  int Count() const { return m_count; }
  // Blocks the table holds, counted in the table.
  int BlocksAllocated() const;

 private:
  int m_count = 0;
  std::unique_ptr<Entry*[]> m_blocks;
};

class CCachedFlow : public IReadOnlyFlow {
 public:
  // node_size bytes per buffer (the longest record it takes), plus spare_nodes
  // buffers allocated now beside the first.
  CCachedFlow(int node_size, int spare_nodes);
  ~CCachedFlow() override;
  CCachedFlow(const CCachedFlow&) = delete;
  CCachedFlow& operator=(const CCachedFlow&) = delete;

  int GetCount() const override;
  // A position outside 0 to GetCount() - 1 returns -1 and sets *data to null.
  // A buffer_length below the stored length logs at critical level and still
  // hands out the record.
  int Get(int position, void** data, int buffer_length) override;
  // Position of the new record, or -1 when it is refused (longer than the node
  // size, negative length, null data with a length, index full, no memory);
  // a refused record takes no position.
  virtual int Append(const void* data, int length);

  const CCachedList& Store() const { return m_list; }
  const CFlowObjIndex& Index() const { return m_index; }

 private:
  CCachedList m_list;
  CFlowObjIndex m_index;
};

}  // namespace API
}  // namespace OXA
