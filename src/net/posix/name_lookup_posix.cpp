// The posix stand-in for the Windows resolver: the machine's own hosts file
// answers first, as Windows' resolver answers from its own, then the host's
// resolver and DNS.
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "net/http_backend.h"
#include "net/hosts_text.h"
#include "net/name_lookup.h"
#include "platform/files.h"
#include "platform/text.h"

namespace Zentrovak::Network {

namespace {

// Long enough for a slow server to accept, short enough that a check of
// an unreachable bank address does not hold the page.
constexpr int kConnectTimeoutMs = 10000;

std::string MachineHostsText() {
  std::string text;
  Platform::ReadWholeFile(Platform::ExpandEnvironmentReferences(u"%windir%\\system32\\drivers\\etc\\hosts"), text);
  return text;
}

bool IsDottedIpv4(std::string_view text, in_addr* address = nullptr) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, std::string(text).c_str(), &parsed) != 1) return false;
  if (address) *address = parsed;
  return true;
}

std::string Dotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrInfoList ResolveIpv4(const std::string& host, const std::string& service) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), service.empty() ? nullptr : service.c_str(), &hints, &list) != 0) return nullptr;
  return AddrInfoList(list);
}

// A non-blocking connect waited for at most the time limit.
bool ConnectWithin(const sockaddr_in& address, int timeoutMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd waiting{fd, POLLOUT, 0};
    if (::poll(&waiting, 1, timeoutMs) == 1) {
      int error = 0;
      socklen_t size = sizeof error;
      connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
  }
  ::close(fd);
  return connected;
}

}  // namespace

std::optional<std::vector<std::string>> LookupHostName(std::string_view name) {
  std::vector<std::string> addresses = AddressesOfName(MachineHostsText(), name, true);
  if (!addresses.empty()) return addresses;
  const AddrInfoList list = ResolveIpv4(std::string(name), {});
  if (!list) return std::nullopt;
  for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next)
    addresses.push_back(Dotted(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr));
  if (addresses.empty()) return std::nullopt;
  return addresses;
}

std::optional<std::vector<std::string>> LookupByAddress(std::string_view dotted) {
  in_addr address{};
  if (!IsDottedIpv4(dotted, &address)) return std::nullopt;
  const std::string text = Dotted(address);
  bool named = NamesAddress(MachineHostsText(), text);
  if (!named) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_addr = address;
    char host[NI_MAXHOST] = {};
    named = ::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host, sizeof host,
                          nullptr, 0, NI_NAMEREQD) == 0;
  }
  if (!named) return std::nullopt;
  return std::vector<std::string>{text};
}

std::optional<std::string> QueryFirstARecord(std::string_view name) {
  // Windows' DNS client answers an address written as text with itself.
  in_addr address{};
  if (IsDottedIpv4(name, &address)) return Dotted(address);
  unsigned char answer[NS_PACKETSZ * 4];
  const int size = ::res_query(std::string(name).c_str(), ns_c_in, ns_t_a, answer, sizeof answer);
  if (size <= 0) return std::nullopt;
  ns_msg message;
  if (::ns_initparse(answer, size, &message) != 0) return std::nullopt;
  for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
    ns_rr record;
    if (::ns_parserr(&message, ns_s_an, i, &record) != 0) return std::nullopt;
    if (ns_rr_type(record) != ns_t_a || ns_rr_rdlen(record) != 4) continue;
    std::memcpy(&address, ns_rr_rdata(record), 4);
    return Dotted(address);
  }
  return std::nullopt;
}

bool CanConnectTo(std::u16string_view url) {
  CrackedUrl parts;
  if (CrackUrl(url, parts) != Platform::kErrorSuccess || parts.host.empty()) return false;
  const std::string host = Platform::Utf16ToUtf8(parts.host);
  std::vector<std::string> addresses;
  if (IsDottedIpv4(host)) {
    addresses.push_back(host);
  } else if (auto found = LookupHostName(host)) {
    addresses = std::move(*found);
  }
  for (const std::string& candidate : addresses) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(parts.port);
    if (!IsDottedIpv4(candidate, &address.sin_addr)) continue;
    if (ConnectWithin(address, kConnectTimeoutMs)) return true;
  }
  return false;
}

}  // namespace Zentrovak::Network
