// The posix stand-in for the browser's zone and security managers, kept in
// the machine's registry where Windows keeps the same settings (see
// platform/zones.h).
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/zones.h"

namespace Zentrovak::Platform {

namespace {

constexpr char16_t kDomainsKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
constexpr char16_t kZonesKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\";
constexpr HResult kFileNotFound = HResultFromWin32(kErrorFileNotFound);

// Windows' flags of its five zones before anyone changes them.
constexpr std::array<uint32_t, 5> kDefaultZoneFlags = {0x21, 0xdb, 0x47, 0x1, 0x3};

std::vector<std::u16string> Labels(std::u16string_view host) {
  std::vector<std::u16string> labels;
  size_t start = 0;
  while (true) {
    const size_t dot = host.find(u'.', start);
    labels.emplace_back(host.substr(start, dot - start));
    if (dot == std::u16string_view::npos) break;
    start = dot + 1;
  }
  return labels;
}

bool IsIpv4(std::u16string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char16_t c) { return c == u'.' || (c >= u'0' && c <= u'9'); });
}

std::u16string Join(const std::vector<std::u16string>& labels, size_t from, size_t to) {
  std::u16string joined;
  for (size_t i = from; i < to; ++i) joined += (i > from ? u"." : u"") + labels[i];
  return joined;
}

// A site or pattern taken apart: the scheme ("" when none is written), the
// domain key and the sub-domain labels below it ("*" for every one).
struct Site {
  std::u16string scheme;
  std::u16string domain;
  std::vector<std::u16string> sub;
  bool file = false;
};

std::optional<Site> ParseSite(std::u16string_view text) {
  Site site;
  const std::u16string lower = AsciiLower(text);
  std::u16string_view rest = lower;
  const size_t colon = rest.find(u':');
  if (rest.substr(0, 5) == u"file:") {
    site.file = true;
    return site;
  }
  const size_t separator = rest.find(u"://");
  if (separator != std::u16string_view::npos && separator == colon) {
    site.scheme = std::u16string(rest.substr(0, separator));
    rest.remove_prefix(separator + 3);
  }
  rest = rest.substr(0, rest.find_first_of(u"/?#"));
  rest = rest.substr(rest.rfind(u'@') == std::u16string_view::npos ? 0 : rest.rfind(u'@') + 1);
  rest = rest.substr(0, rest.find(u':'));
  if (rest.empty() || rest.front() == u'.' || rest.back() == u'.') return std::nullopt;
  if (IsIpv4(rest)) {
    site.domain = std::u16string(rest);
    return site;
  }
  const std::vector<std::u16string> labels = Labels(rest);
  if (std::any_of(labels.begin(), labels.end(), [](const std::u16string& l) { return l.empty(); })) return std::nullopt;
  static const std::array<std::u16string_view, 7> kSecondLevel = {u"com", u"net", u"org", u"gov", u"edu", u"ac", u"co"};
  size_t domainLabels = std::min<size_t>(2, labels.size());
  if (labels.size() >= 3 && labels.back().size() == 2 &&
      std::find(kSecondLevel.begin(), kSecondLevel.end(), labels[labels.size() - 2]) != kSecondLevel.end())
    domainLabels = 3;
  const size_t split = labels.size() - domainLabels;
  site.domain = Join(labels, split, labels.size());
  site.sub.assign(labels.begin(), labels.begin() + static_cast<std::ptrdiff_t>(split));
  if (site.domain.find(u'*') != std::u16string::npos) return std::nullopt;
  // "*.example.cn" maps the whole domain.
  if (site.sub.size() == 1 && site.sub.front() == u"*") site.sub.clear();
  return site;
}

std::u16string MappingKey(const Site& site, size_t fromLabel) {
  std::u16string key = std::u16string(kDomainsKey) + u"\\" + site.domain;
  if (fromLabel < site.sub.size()) key += u"\\" + Join(site.sub, fromLabel, site.sub.size());
  return key;
}

std::optional<uint32_t> ZoneAt(RegRoot root, const std::u16string& key, const std::u16string& scheme) {
  RegistryKey mapping;
  if (RegistryKey::Open(root, key, RegAccess::Read, RegView::Default, mapping)) return std::nullopt;
  uint32_t zone = 0;
  if (!scheme.empty() && mapping.ReadDword(scheme, zone) == kErrorSuccess) return zone;
  if (mapping.ReadDword(u"*", zone) == kErrorSuccess) return zone;
  return std::nullopt;
}

std::u16string ValueName(const Site& site) { return site.scheme.empty() ? u"*" : site.scheme; }

}  // namespace

HResult MapUrlToZone(std::u16string_view url, uint32_t& zone) {
  const std::optional<Site> site = ParseSite(url);
  if (!site) return kEInvalidArg;
  if (site->file) {
    zone = kZoneLocalMachine;
    return kSOk;
  }
  // The most specific mapping wins: the full sub-domain, then each parent.
  for (size_t from = 0; from <= site->sub.size(); ++from)
    for (RegRoot root : {kHkeyCurrentUser, kHkeyLocalMachine})
      if (const std::optional<uint32_t> mapped = ZoneAt(root, MappingKey(*site, from), site->scheme)) {
        zone = *mapped;
        return kSOk;
      }
  zone = kZoneInternet;
  return kSOk;
}

HResult AddZoneMapping(uint32_t zone, std::u16string_view pattern) {
  const std::optional<Site> site = ParseSite(pattern);
  if (!site || site->file || zone >= kDefaultZoneFlags.size()) return kEInvalidArg;
  uint32_t flags = 0;
  if (HResult hr = ReadZoneFlags(zone, flags); Failed(hr)) return hr;
  if ((flags & kZoneRequireVerification) && site->scheme != u"https") return kEAccessDenied;
  RegistryKey mapping;
  if (Win32Error e = RegistryKey::Create(kHkeyCurrentUser, MappingKey(*site, 0), RegAccess::ReadWrite,
                                         RegView::Default, mapping))
    return HResultFromWin32(e);
  uint32_t current = 0;
  if (mapping.ReadDword(ValueName(*site), current) == kErrorSuccess && current != zone) return kZoneMappingExists;
  return HResultFromWin32(mapping.WriteDword(ValueName(*site), zone));
}

HResult RemoveZoneMapping(uint32_t zone, std::u16string_view pattern) {
  const std::optional<Site> site = ParseSite(pattern);
  if (!site || site->file) return kEInvalidArg;
  RegistryKey mapping;
  if (RegistryKey::Open(kHkeyCurrentUser, MappingKey(*site, 0), RegAccess::ReadWrite, RegView::Default, mapping))
    return kFileNotFound;
  uint32_t current = 0;
  if (mapping.ReadDword(ValueName(*site), current) || current != zone) return kFileNotFound;
  return HResultFromWin32(mapping.DeleteValue(ValueName(*site)));
}

HResult ReadZoneFlags(uint32_t zone, uint32_t& flags) {
  if (zone >= kDefaultZoneFlags.size()) return kEInvalidArg;
  const std::u16string key = kZonesKey + std::u16string(1, static_cast<char16_t>(u'0' + zone));
  for (RegRoot root : {kHkeyCurrentUser, kHkeyLocalMachine}) {
    RegistryKey settings;
    if (RegistryKey::Open(root, key, RegAccess::Read, RegView::Default, settings)) continue;
    if (settings.ReadDword(u"Flags", flags) == kErrorSuccess) return kSOk;
  }
  flags = kDefaultZoneFlags[zone];
  return kSOk;
}

HResult WriteZoneFlags(uint32_t zone, uint32_t flags) {
  if (zone >= kDefaultZoneFlags.size()) return kEInvalidArg;
  const std::u16string key = kZonesKey + std::u16string(1, static_cast<char16_t>(u'0' + zone));
  RegistryKey settings;
  if (Win32Error e = RegistryKey::Create(kHkeyCurrentUser, key, RegAccess::ReadWrite, RegView::Default, settings))
    return HResultFromWin32(e);
  return HResultFromWin32(settings.WriteDword(u"Flags", flags));
}

}  // namespace Zentrovak::Platform
