// The posix stand-in for the system's connected-state flag: connected when
// an interface other than loopback is up and running with an address and
// the routing table sends something through it.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "net/connectivity.h"

namespace Zentrovak::Network {

namespace {

constexpr uint32_t kConnectionLan = 0x02;

bool UsableAddress(const sockaddr* address) {
  if (!address) return false;
  if (address->sa_family == AF_INET) return true;
  if (address->sa_family != AF_INET6) return false;
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
  return !IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr) && !IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
}

std::set<std::string> InterfacesUp() {
  std::set<std::string> names;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return names;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    const unsigned flags = entry->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) && UsableAddress(entry->ifa_addr))
      names.insert(entry->ifa_name);
  }
  ::freeifaddrs(list);
  return names;
}

// Interfaces named by a route: IPv4 routes, and IPv6 routes other than the
// link-local and multicast ones every interface has.
std::set<std::string> RoutedInterfaces() {
  std::set<std::string> names;
  std::ifstream v4("/proc/net/route");
  std::string line;
  std::getline(v4, line);  // header
  while (std::getline(v4, line)) {
    std::istringstream fields(line);
    std::string name;
    if (fields >> name) names.insert(name);
  }
  std::ifstream v6("/proc/net/ipv6_route");
  while (std::getline(v6, line)) {
    std::istringstream fields(line);
    std::string destination, field, name;
    fields >> destination;
    for (int i = 0; i < 9 && fields >> field; ++i) name = field;
    if (destination.rfind("fe80", 0) == 0 || destination.rfind("ff", 0) == 0 || name.empty()) continue;
    names.insert(name);
  }
  return names;
}

}  // namespace

bool IsInternetConnected(uint32_t* flags) {
  const std::set<std::string> up = InterfacesUp();
  const std::set<std::string> routed = RoutedInterfaces();
  bool connected = false;
  for (const std::string& name : up)
    if (routed.count(name)) connected = true;
  if (flags) *flags = connected ? kConnectionLan : 0;
  return connected;
}

}  // namespace Zentrovak::Network
