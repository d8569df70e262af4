// Read side of a message flow: an append-only sequence of byte records read
// back by position. A flow is used by one thread at a time; none of the flows
// lock.
#pragma once

namespace OXA {
namespace API {

class IReadOnlyFlow {
 public:
  // Number of records appended so far.
  virtual int GetCount() const = 0;
  // Points *data at the record stored at position and returns its length;
  // nothing is copied. buffer_length is the room the caller meant to read into.
  // Each flow says what it does with a position it does not hold.
  virtual int Get(int position, void** data, int buffer_length) = 0;
  virtual ~IReadOnlyFlow() = default;
};

}  // namespace API
}  // namespace OXA
