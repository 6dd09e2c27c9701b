// Browser controls registered as in-process COM servers (check type
// "clsid"): registration, server file, and the browser's add-on switch.
#pragma once
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixCOM : public ICheckFix {
 public:
  // Failed (not registered), the server file's FileMatches answer,
  // Disabled (the user switched the add-on off) or Passed.
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Switches a disabled add-on back on; a missing registration is left to
  // the component's installer (NotSupported).
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
