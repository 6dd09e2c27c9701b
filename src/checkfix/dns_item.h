// A bank host name must resolve only to the addresses the configuration
// allows (check type "dns"). Nothing to repair.
#pragma once
#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixDns : public ICheckFix {
 public:
  // NotSupported when a proxy is configured: the local resolver's answer
  // then says nothing of what the browser reaches. Else Passed when the
  // text resolves and every address is among "ip" ("|"-separated).
  int32_t CheckEntry(ConfigEntry& entry) override;
  int32_t FixEntry(ConfigEntry& entry) override;
};

}  // namespace Zentrovak::Assistant
