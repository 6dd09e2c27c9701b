#include "net/hosts_text.h"

#include "platform/text.h"

namespace Zentrovak::Network {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsIpv4Word(std::string_view word) {
  bool digit = false;
  for (char c : word) {
    if (IsDigit(c)) digit = true;
    else if (c != '.') return false;
  }
  return digit;
}

// Hexadecimal groups with colons, an IPv4 tail allowed, and a zone after
// "%" (fe80::1%eth0).
bool IsIpv6Word(std::string_view word) {
  const size_t zone = word.find('%');
  const std::string_view address = word.substr(0, zone);
  if (address.find(':') == std::string_view::npos) return false;
  for (char c : address)
    if (!IsHexDigit(c) && c != ':' && c != '.') return false;
  return zone == std::string_view::npos || zone + 1 < word.size();
}

// Calls visit(line, lineEnd) for each line; lineEnd is the offset just past
// the line's own line feed (or the end of the text).
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t feed = text.find('\n', start);
    const size_t end = feed == std::string_view::npos ? text.size() : feed;
    const size_t next = feed == std::string_view::npos ? text.size() : feed + 1;
    visit(start, end, next);
    start = next;
  }
}

}  // namespace

HostsLine ParseHostsLine(std::string_view line) {
  HostsLine parsed;
  // The comment runs from the first "#" on, even inside a word.
  line = line.substr(0, line.find('#'));
  size_t at = 0;
  bool first = true;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (start == at) break;
    const std::string_view word = line.substr(start, at - start);
    if (first) {
      if (!IsIpv4Word(word) && !IsIpv6Word(word)) return {};
      parsed.address = word;
      first = false;
    } else {
      parsed.names.push_back({start, at - start});
    }
  }
  if (parsed.names.empty()) return {};
  return parsed;
}

bool SameHostName(std::string_view a, std::string_view b) { return Platform::AsciiEqualsIgnoreCase(a, b); }

bool NamesAddress(std::string_view text, std::string_view address) {
  bool named = false;
  ForEachLine(text, [&](size_t start, size_t end, size_t) {
    if (ParseHostsLine(text.substr(start, end - start)).address == address) named = true;
  });
  return named;
}

std::vector<std::string> AddressesOfName(std::string_view text, std::string_view name, bool ipv4Only) {
  std::vector<std::string> addresses;
  ForEachLine(text, [&](size_t start, size_t end, size_t) {
    const std::string_view line = text.substr(start, end - start);
    const HostsLine parsed = ParseHostsLine(line);
    if (ipv4Only && !IsIpv4Word(parsed.address)) return;
    for (const HostsName& n : parsed.names)
      if (SameHostName(line.substr(n.offset, n.length), name)) {
        addresses.emplace_back(parsed.address);
        return;
      }
  });
  return addresses;
}

bool MapsName(std::string_view text, std::string_view name) {
  bool found = false;
  ForEachLine(text, [&](size_t start, size_t end, size_t) {
    const std::string_view line = text.substr(start, end - start);
    for (const HostsName& n : ParseHostsLine(line).names)
      if (SameHostName(line.substr(n.offset, n.length), name)) found = true;
  });
  return found;
}

std::string WithoutName(std::string_view text, std::string_view name) {
  std::string out;
  out.reserve(text.size());
  ForEachLine(text, [&](size_t start, size_t end, size_t next) {
    const std::string_view line = text.substr(start, end - start);
    const HostsLine parsed = ParseHostsLine(line);
    std::vector<HostsName> kept, dropped;
    for (const HostsName& n : parsed.names)
      (SameHostName(line.substr(n.offset, n.length), name) ? dropped : kept).push_back(n);
    if (dropped.empty()) {
      out.append(text.substr(start, next - start));
      return;
    }
    if (kept.empty()) return;  // the line redirected nothing else
    size_t copied = 0;
    for (const HostsName& n : dropped) {
      size_t cut = n.offset;
      while (cut > 0 && IsBlank(line[cut - 1])) --cut;
      out.append(line.substr(copied, cut - copied));
      copied = n.offset + n.length;
    }
    out.append(text.substr(start + copied, next - start - copied));
  });
  return out;
}

}  // namespace Zentrovak::Network
