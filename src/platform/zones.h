// The browser's URL security zones: which zone a site is in, the site
// mappings, and the zones' attribute flags.
//
// win32: the Internet security manager and zone manager, created afresh
// for each call on the calling thread (which has COM). posix: a stand-in
// that keeps the mappings and the flags in the machine's registry under the
// keys Windows uses:
//   ...\Internet Settings\ZoneMap\Domains\<domain>[\<sub-domain>]
//       value "<scheme>" or "*" = the zone (DWORD); HKCU first, then HKLM;
//       a domain's mapping covers its sub-domains. The domain is the last
//       two labels (three under a country's "com", "net", "org", "gov",
//       "edu", "ac" or "co"); an IPv4 address is a domain of its own.
//   ...\Internet Settings\Zones\<zone> value "Flags" (DWORD); HKCU first,
//       then HKLM, then Windows' defaults. Written to HKCU.
// A site nothing maps is in the Internet zone; a file: address is on the
// local machine. Mappings are written to HKCU. As on Windows, a site
// without https cannot be added to a zone that requires server
// verification (E_ACCESSDENIED), and a site already mapped to another zone
// answers HRESULT_FROM_WIN32(ERROR_FILE_EXISTS).
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform {

inline constexpr uint32_t kZoneLocalMachine = 0;
inline constexpr uint32_t kZoneIntranet = 1;
inline constexpr uint32_t kZoneTrusted = 2;
inline constexpr uint32_t kZoneInternet = 3;
inline constexpr uint32_t kZoneUntrusted = 4;

// The zone attribute flag that admits only https sites to a zone.
inline constexpr uint32_t kZoneRequireVerification = 0x4;

inline constexpr HResult kZoneMappingExists = HResultFromWin32(kErrorFileExists);

HResult MapUrlToZone(std::u16string_view url, uint32_t& zone);
HResult AddZoneMapping(uint32_t zone, std::u16string_view pattern);
HResult RemoveZoneMapping(uint32_t zone, std::u16string_view pattern);
HResult ReadZoneFlags(uint32_t zone, uint32_t& flags);
HResult WriteZoneFlags(uint32_t zone, uint32_t flags);

}  // namespace Zentrovak::Platform
