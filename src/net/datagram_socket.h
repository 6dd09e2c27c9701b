// The blocking datagram socket of the time synchronisation: IPv4, any local
// port, a receive bounded by a time limit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Zentrovak::Network {

class MyCSocket {
 public:
  MyCSocket();
  ~MyCSocket();
  MyCSocket(const MyCSocket&) = delete;
  MyCSocket& operator=(const MyCSocket&) = delete;

  // A datagram socket on any local port: 0, or the socket error.
  int Create();
  bool IsOpen() const { return socket_ != kNoSocket; }

  // Sends to a host name or dotted IPv4 address; the number of bytes sent,
  // or -1 when the name cannot be resolved or the send fails.
  int SendTo(const void* data, size_t size, std::u16string_view host, uint16_t port);

  // One datagram from any sender, waited for at most `timeoutMs`: its size,
  // 0 when none came in time, -1 when the receive failed or the datagram did
  // not fit into the buffer.
  int ReceiveFrom(void* buffer, size_t size, uint32_t timeoutMs);

 private:
  static constexpr intptr_t kNoSocket = -1;
  intptr_t socket_ = kNoSocket;
};

}  // namespace Zentrovak::Network
