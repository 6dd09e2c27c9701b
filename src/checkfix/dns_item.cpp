#include "checkfix/dns_item.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "checkfix/engine_hooks.h"
#include "net/name_lookup.h"

namespace Zentrovak::Assistant {

namespace {

// Empty pieces between two separators are kept; nothing follows a final one.
std::vector<std::string> AllowedAddresses(const std::string& list) {
  std::vector<std::string> allowed;
  size_t start = 0;
  while (start < list.size()) {
    const size_t bar = list.find('|', start);
    if (bar == std::string::npos) {
      allowed.push_back(list.substr(start));
      break;
    }
    allowed.push_back(list.substr(start, bar - start));
    start = bar + 1;
  }
  return allowed;
}

bool HasLetter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

std::vector<std::string> Resolve(const std::string& text) {
  const std::optional<std::vector<std::string>> looked =
      HasLetter(text) ? Network::LookupHostName(text) : Network::LookupByAddress(text);
  if (looked) return *looked;
  if (std::optional<std::string> first = Network::QueryFirstARecord(text)) return {*first};
  return {};
}

}  // namespace

int32_t CheckFixDns::CheckEntry(ConfigEntry& entry) {
  if (Hooks().isProxyConfigured && Hooks().isProxyConfigured() != 0) return NotSupported;
  const std::vector<std::string> allowed = AllowedAddresses(GetAttr(entry.attributes, "ip"));
  const std::vector<std::string> resolved = Resolve(entry.text);
  if (resolved.empty()) return Failed;
  for (const std::string& address : resolved)
    if (std::find(allowed.begin(), allowed.end(), address) == allowed.end()) return Failed;
  return Passed;
}

int32_t CheckFixDns::FixEntry(ConfigEntry&) { return NotSupported; }

}  // namespace Zentrovak::Assistant
