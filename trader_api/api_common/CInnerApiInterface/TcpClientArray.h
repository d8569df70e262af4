// The gateway connection of every node: Login files a session's connection under its node,
// and the back-ends' sends find it there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tcp_framework {
namespace client {
class TcpClient;
}
}  // namespace tcp_framework

namespace OXA {
namespace API {

class TcpClientArray {
public:
    using ClientPtr = std::shared_ptr<tcp_framework::client::TcpClient>;
    static constexpr std::size_t kNodes = 256;

    constexpr TcpClientArray() noexcept = default;
    TcpClientArray(const TcpClientArray&) = delete;
    TcpClientArray& operator=(const TcpClientArray&) = delete;

    // Any thread. The caller holds its own reference, so a slot replaced meanwhile does not
    // free the connection under a send.
    ClientPtr Get(uint8_t node) const noexcept;
    void Set(uint8_t node, ClientPtr client) noexcept;
    // Each connection held once, in node order (for stopping them all).
    std::vector<ClientPtr> Distinct() const;
    // Empties every slot and returns each connection it held once, in node order: the
    // array keeps no reference, so a stopped connection can end.
    std::vector<ClientPtr> TakeAll();

private:
    ClientPtr m_slots[kNodes] = {};
};

// Alive from load to exit; never destroyed, so a thread still sending at exit finds it.
extern TcpClientArray& _gArrTcpClient;

}  // namespace API
}  // namespace OXA
