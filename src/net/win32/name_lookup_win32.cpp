#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>
#include <wininet.h>

#include <memory>

#include "net/name_lookup.h"
#include "platform/text.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Network {

namespace {

using Platform::Win32::Wide;

bool SocketsReady() {
  static const bool ready = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

std::string Dotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, const_cast<in_addr*>(&address), text, sizeof text);
  return text;
}

struct AddrInfoFree {
  void operator()(ADDRINFOW* list) const { ::FreeAddrInfoW(list); }
};

struct DnsRecordsFree {
  void operator()(DNS_RECORDW* records) const { ::DnsRecordListFree(records, DnsFreeRecordList); }
};

}  // namespace

std::optional<std::vector<std::string>> LookupHostName(std::string_view name) {
  if (!SocketsReady()) return std::nullopt;
  const std::wstring wide = Wide(Platform::Utf8ToUtf16(name));
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  if (::GetAddrInfoW(wide.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  const std::unique_ptr<ADDRINFOW, AddrInfoFree> list(found);
  std::vector<std::string> addresses;
  for (const ADDRINFOW* entry = list.get(); entry; entry = entry->ai_next)
    if (entry->ai_family == AF_INET)
      addresses.push_back(Dotted(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr));
  if (addresses.empty()) return std::nullopt;
  return addresses;
}

std::optional<std::vector<std::string>> LookupByAddress(std::string_view dotted) {
  if (!SocketsReady()) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (::inet_pton(AF_INET, std::string(dotted).c_str(), &address.sin_addr) != 1) return std::nullopt;
  wchar_t host[NI_MAXHOST] = {};
  if (::GetNameInfoW(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, NI_MAXHOST, nullptr, 0,
                     NI_NAMEREQD) != 0)
    return std::nullopt;
  return std::vector<std::string>{Dotted(address.sin_addr)};
}

std::optional<std::string> QueryFirstARecord(std::string_view name) {
  const std::wstring wide = Wide(Platform::Utf8ToUtf16(name));
  DNS_RECORDW* found = nullptr;
  const DNS_STATUS status = ::DnsQuery_W(wide.c_str(), DNS_TYPE_A, DNS_QUERY_STANDARD, nullptr, &found, nullptr);
  const std::unique_ptr<DNS_RECORDW, DnsRecordsFree> records(found);
  if (status != 0 || !records) return std::nullopt;
  for (const DNS_RECORDW* record = records.get(); record; record = record->pNext) {
    if (record->wType != DNS_TYPE_A) continue;
    in_addr address{};
    address.s_addr = record->Data.A.IpAddress;
    return Dotted(address);
  }
  return std::nullopt;
}

bool CanConnectTo(std::u16string_view url) {
  const std::wstring wide = Wide(url);
  return ::InternetCheckConnectionW(wide.c_str(), FLAG_ICC_FORCE_CONNECTION, 0) != FALSE;
}

}  // namespace Zentrovak::Network
