// The browser's home page must not be locked by policy (check type
// "iehomepage"). The whole work is in BeginCheck and BeginFix; the group has
// no entries.
#pragma once
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixIEHomepage : public ICheckFix {
 public:
  // Failed while the policy's "Homepage" reads as a non-zero DWORD.
  int32_t BeginCheck() override;
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Deletes a locking value; Failed when it stays.
  int32_t BeginFix() override;
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
