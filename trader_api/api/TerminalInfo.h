#pragma once

// The terminal-information text sent with every gateway login: terminal type,
// addresses, MAC address and disk serial of the machine.

#include <oxa_api/OXAApiStruct.h>

#include <cstdint>
#include <memory>
#include <string>

namespace OXA {
namespace API {

constexpr int kTerminalInfoSize = 256;

// The text from the application's record; empty for a null record. Each text
// field of the record is read within its own width. The result lives in a
// per-thread buffer, valid until the thread's next call.
const char* BuildTerminalInfo(const OXATerminalInfo* terminal);

// Writes the text for the local address local_ip: the MAC address of the
// interface that carries it and the disk serial. False (out untouched) for a
// null or loopback address, a negative port, or an address no interface of
// this machine carries. At most size - 2 characters are written.
bool GetTerminalInfoFromEndpoint(char* out, int size, const char* local_ip, int port);

// GetTerminalInfoFromEndpoint into a per-thread buffer; null when it fails.
const char* GetDefaultTerminalInfoFor(const char* local_ip, int port);

// The text from the connection's local address; null when the connection has
// no usable local endpoint.
template <class Connection>
const char* GetDefaultTerminalInfo(const std::shared_ptr<Connection>& connection) {
  std::string ip;
  uint16_t port = 0;
  if (!connection || connection->get_local_endpoint(ip, port) != 0) {
    return GetDefaultTerminalInfoFor(nullptr, -1);
  }
  return GetDefaultTerminalInfoFor(ip.c_str(), port);
}

}  // namespace API
}  // namespace OXA
