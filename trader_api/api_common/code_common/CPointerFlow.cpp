#include "api_common/code_common/CPointerFlow.h"

#include <climits>
#include <cstddef>

namespace OXA {
namespace API {

CPointerFlow::CPointerFlow(IReadOnlyFlow* source) : m_source(source) {}

int CPointerFlow::GetCount() const { return static_cast<int>(m_positions.size()); }

int CPointerFlow::Get(int position, void** data, int buffer_length) {
  // a negative position turns into one past any end, so at() throws for it too
  const int source_position = m_positions.at(static_cast<std::size_t>(position));
  if (m_source == nullptr) {
    if (data != nullptr) *data = nullptr;
    return -1;
  }
  return m_source->Get(source_position, data, buffer_length);
}

int CPointerFlow::Append(int source_position) {
  if (m_positions.size() >= static_cast<std::size_t>(INT_MAX)) return -1;
  m_positions.push_back(source_position);
  return static_cast<int>(m_positions.size()) - 1;
}

}  // namespace API
}  // namespace OXA
