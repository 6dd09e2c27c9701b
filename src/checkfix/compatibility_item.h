// The bank's domains on the browser's compatibility-view list (check type
// "compatibility"), unless the browser shows every site in compatibility
// view.
#pragma once
#include <atomic>

#include "checkfix/check_fix.h"

namespace Zentrovak::Assistant {

class CheckFixCompatibilityView : public ICheckFix {
 public:
  // Reads the all-sites switch, which the repair run that follows uses too;
  // always Passed.
  int32_t BeginCheck() override;
  // Passed when all sites are shown so or the entry's domain is listed;
  // NotSupported for an entry without a domain.
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Adds the domain; Passed when it is listed now.
  int32_t FixEntry(ConfigEntry& entry) override;

 private:
  std::atomic<bool> allSites_{false};
};

}  // namespace Zentrovak::Assistant
