// A view over another flow: it lists positions of its source and reads them
// back through the source, so one stored record can appear in many views
// without a copy. The source is not owned and must outlive the view.
//
// One thread at a time: nothing here locks.
#pragma once

#include <deque>

#include "api_common/code_common/IReadOnlyFlow.h"

namespace OXA {
namespace API {

class CPointerFlow : public IReadOnlyFlow {
 public:
  explicit CPointerFlow(IReadOnlyFlow* source);

  int GetCount() const override;
  // The source's Get of the source position stored at position. A position
  // outside the view throws std::out_of_range; a view without a source
  // returns -1 with *data set to null.
  int Get(int position, void** data, int buffer_length) override;
  // Lists source_position behind the others; returns its position in the
  // view, or -1 once the view holds 2,147,483,647 positions. The source
  // position is checked when it is read.
  virtual int Append(int source_position);

 private:
  IReadOnlyFlow* m_source;
  std::deque<int> m_positions;
};

}  // namespace API
}  // namespace OXA
