// Each bank site must be in the browser's Trusted sites zone (check type
// "trust"); the repair adds it. Also the zone lookups the rest of the
// program uses.
#pragma once
#include <string>
#include <string_view>

#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

// The zone of a site, or -1 when it cannot be determined. Every lookup
// first deletes the machine-wide site mappings (HKLM ...\ZoneMap\Domains
// and \EscDomains), so that only the user's own mappings count. A key that
// holds anything is first saved as a .reg file beside the program (named
// in a diagnostic line); when it cannot be saved it is left in place.
int32_t GetZone(std::u16string_view site);

// Maps the site to the zone, moving it out of the zone it is mapped to and
// lifting the zone's require-server-verification flag for the addition
// when that stands in the way. True when the mapping was added.
bool SetZone(std::u16string_view site, uint32_t zone);

// Where GetZone saves a non-empty key: "ZoneMap-<name>.reg" beside the
// program, or "ZoneMap-<name>-<n>.reg" when an earlier, different save is
// there. An identical earlier save is not repeated.
std::u16string ZoneMapBackupFolder();

class CheckFixTrust : public ICheckFix {
 public:
  // Passed when the site is in Trusted sites.
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Passed when the site is (now) in Trusted sites.
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
