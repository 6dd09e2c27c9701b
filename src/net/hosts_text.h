// Lines of a hosts file as the system's resolver reads them: an address,
// then the names it gives, then an optional comment from "#" on. Used to
// look names up in the posix machine's own hosts file and to find (and
// take out) the lines that send a bank host elsewhere.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Zentrovak::Network {

// Where one name stands within its line.
struct HostsName {
  size_t offset = 0;
  size_t length = 0;
};

struct HostsLine {
  std::string_view address;  // empty: the line maps nothing
  std::vector<HostsName> names;
};

// One line, without its line end (a CR left at the end is whitespace). A
// line maps names when its first word is an IPv4 address made of digits
// and dots, or an IPv6 address; a commented-out line, or one that starts
// with anything else, maps nothing.
HostsLine ParseHostsLine(std::string_view line);

// Host names compare without regard to ASCII letter case.
bool SameHostName(std::string_view a, std::string_view b);

// The addresses the text gives `name`, in the order of the lines; only
// dotted IPv4 addresses when ipv4Only.
std::vector<std::string> AddressesOfName(std::string_view text, std::string_view name, bool ipv4Only);

// Whether some line maps a name to `address` (as written).
bool NamesAddress(std::string_view text, std::string_view address);

// Whether some line maps `name`.
bool MapsName(std::string_view text, std::string_view name);

// The text with `name` taken out of every line that maps it, together with
// the blanks before it; a line left with no name goes with its line end.
// Every other byte stays as it was, line ends included.
std::string WithoutName(std::string_view text, std::string_view name);

}  // namespace Zentrovak::Network
