#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "net/datagram_socket.h"
#include "platform/text.h"

namespace Zentrovak::Network {

MyCSocket::MyCSocket() = default;

MyCSocket::~MyCSocket() {
  if (socket_ != kNoSocket) ::close(static_cast<int>(socket_));
}

int MyCSocket::Create() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return errno;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  socket_ = fd;
  return 0;
}

int MyCSocket::SendTo(const void* data, size_t size, std::u16string_view host, uint16_t port) {
  if (socket_ == kNoSocket || host.empty()) return -1;
  const std::string name = Platform::Utf16ToUtf8(host);
  if (name.find('\0') != std::string::npos) return -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return -1;
  sockaddr_in target = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  target.sin_port = htons(port);
  const ssize_t sent = ::sendto(static_cast<int>(socket_), data, size, 0, reinterpret_cast<sockaddr*>(&target),
                                sizeof target);
  return sent < 0 ? -1 : static_cast<int>(sent);
}

int MyCSocket::ReceiveFrom(void* buffer, size_t size, uint32_t timeoutMs) {
  if (socket_ == kNoSocket) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd waiting{static_cast<int>(socket_), POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    // MSG_TRUNC gives the datagram's real size: one larger than the buffer
    // fails, as it does on Windows, instead of being read cut short.
    const ssize_t got = ::recvfrom(static_cast<int>(socket_), buffer, size, MSG_TRUNC, nullptr, nullptr);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || static_cast<size_t>(got) > size) return -1;
    return static_cast<int>(got);
  }
}

}  // namespace Zentrovak::Network
