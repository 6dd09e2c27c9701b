// Each bank address must be reachable (check type "url"). Nothing to
// repair.
#pragma once
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixUrl : public ICheckFix {
 public:
  // Passed when a connection to the address can be made now.
  int32_t CheckEntry(ConfigEntry& entry) override;
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
