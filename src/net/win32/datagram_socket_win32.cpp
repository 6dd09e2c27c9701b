#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <string>

#include "net/datagram_socket.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Network {

namespace {

// Winsock stays started for the life of the process.
bool StartWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data{};
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

SOCKET AsSocket(intptr_t value) { return static_cast<SOCKET>(value); }

}  // namespace

MyCSocket::MyCSocket() = default;

MyCSocket::~MyCSocket() {
  if (socket_ != kNoSocket) ::closesocket(AsSocket(socket_));
}

int MyCSocket::Create() {
  if (!StartWinsock()) return WSANOTINITIALISED;
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return ::WSAGetLastError();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    const int error = ::WSAGetLastError();
    ::closesocket(s);
    return error;
  }
  socket_ = static_cast<intptr_t>(s);
  return 0;
}

int MyCSocket::SendTo(const void* data, size_t size, std::u16string_view host, uint16_t port) {
  if (socket_ == kNoSocket || host.empty()) return -1;
  const std::wstring name = Platform::Win32::Wide(host);
  if (name.find(L'\0') != std::wstring::npos) return -1;
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  ADDRINFOW* found = nullptr;
  if (::GetAddrInfoW(name.c_str(), nullptr, &hints, &found) != 0 || !found) return -1;
  sockaddr_in target = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::FreeAddrInfoW(found);
  target.sin_port = htons(port);
  const int sent = ::sendto(AsSocket(socket_), static_cast<const char*>(data), static_cast<int>(size), 0,
                            reinterpret_cast<sockaddr*>(&target), sizeof target);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int MyCSocket::ReceiveFrom(void* buffer, size_t size, uint32_t timeoutMs) {
  if (socket_ == kNoSocket) return -1;
  const DWORD deadline = ::GetTickCount() + timeoutMs;
  for (;;) {
    const DWORD now = ::GetTickCount();
    const int32_t left = static_cast<int32_t>(deadline - now);
    if (left <= 0) return 0;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(socket_), &readable);
    timeval wait{left / 1000, (left % 1000) * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) return -1;
    if (ready == 0) return 0;
    // A datagram larger than the buffer fails with WSAEMSGSIZE; an ICMP
    // "port unreachable" from an earlier send shows up as WSAECONNRESET.
    const int got = ::recvfrom(AsSocket(socket_), static_cast<char*>(buffer), static_cast<int>(size), 0, nullptr,
                               nullptr);
    return got == SOCKET_ERROR ? -1 : got;
  }
}

}  // namespace Zentrovak::Network
