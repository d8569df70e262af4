#include "api_common/CInnerApiInterface/TcpClientArray.h"

#include <algorithm>
#include <atomic>

namespace OXA {
namespace API {

TcpClientArray::ClientPtr TcpClientArray::Get(uint8_t node) const noexcept {
    return std::atomic_load_explicit(&m_slots[node], std::memory_order_acquire);
}

void TcpClientArray::Set(uint8_t node, ClientPtr client) noexcept {
    std::atomic_store_explicit(&m_slots[node], std::move(client), std::memory_order_release);
}

std::vector<TcpClientArray::ClientPtr> TcpClientArray::Distinct() const {
    std::vector<ClientPtr> out;
    for (std::size_t node = 0; node < kNodes; ++node) {
        ClientPtr client = Get(static_cast<uint8_t>(node));
        if (client && std::find(out.begin(), out.end(), client) == out.end()) out.push_back(std::move(client));
    }
    return out;
}

std::vector<TcpClientArray::ClientPtr> TcpClientArray::TakeAll() {
    std::vector<ClientPtr> out;
    for (std::size_t node = 0; node < kNodes; ++node) {
        ClientPtr client = std::atomic_exchange_explicit(&m_slots[node], ClientPtr(), std::memory_order_acq_rel);
        if (client && std::find(out.begin(), out.end(), client) == out.end()) out.push_back(std::move(client));
    }
    return out;
}

namespace {

// Constant-initialised storage whose destructor never runs.
union Holder {
    constexpr Holder() : array() {}
    ~Holder() {}
    TcpClientArray array;
};
Holder g_holder;

}  // namespace

TcpClientArray& _gArrTcpClient = g_holder.array;

}  // namespace API
}  // namespace OXA
