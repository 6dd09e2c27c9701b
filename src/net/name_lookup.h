// The system's resolver and connection test, as the DNS and URL checks ask
// them. Addresses are IPv4 in dotted form.
//
// win32: getaddrinfo/getnameinfo, DnsQuery_W and InternetCheckConnectionW.
// posix: the machine's own hosts file first (as Windows' resolver answers
// from its own), then the host's resolver; the connection test opens a TCP
// connection.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Zentrovak::Network {

// The addresses of a host name, in the resolver's order; nothing when the
// lookup gives no IPv4 answer.
std::optional<std::vector<std::string>> LookupHostName(std::string_view name);

// The lookup of a dotted address by address: the address itself when the
// resolver knows a name for it; nothing when it does not (or the text is
// no address).
std::optional<std::vector<std::string>> LookupByAddress(std::string_view dotted);

// The first A record of a standard DNS query for the text; nothing when
// the query gives none.
std::optional<std::string> QueryFirstARecord(std::string_view name);

// Whether a connection to the address's host and port can be made now (a
// connection is attempted, not merely looked up).
bool CanConnectTo(std::u16string_view url);

}  // namespace Zentrovak::Network
