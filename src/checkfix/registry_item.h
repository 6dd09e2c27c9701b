// Registry values that must hold a number, a text or bytes, or only exist
// (check type "registry").
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "checkfix/check_fix.h"
#include "platform/registry.h"

namespace Zentrovak::Assistant {

class CheckFixRegistry : public ICheckFix {
 public:
  // Failed while registry editing is disabled by policy.
  int32_t BeginCheck() override;
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Lifts the policy first; Failed when it stays.
  int32_t BeginFix() override;
  int32_t FixEntry(ConfigEntry& entry) override;
};

// An entry's root name: HKLM/HKEY_LOCAL_MACHINE, HKCR/HKEY_CLASSES_ROOT,
// anything else HKEY_CURRENT_USER (letter case ignored).
Platform::RegRoot RegistryRootForName(std::string_view name);
// Hexadecimal digit pairs to bytes, up to the first pair that is not one.
std::vector<uint8_t> DecodeHexBytes(std::string_view text);

}  // namespace Zentrovak::Assistant
