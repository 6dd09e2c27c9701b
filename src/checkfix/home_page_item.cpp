#include "checkfix/home_page_item.h"

#include "platform/registry.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;

namespace {

constexpr char16_t kPolicyKey[] = u"SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
constexpr char16_t kLockValue[] = u"Homepage";

// A policy key that cannot be opened, or a value that is no DWORD, locks
// nothing.
bool HomePageLocked(RegistryKey& policy) {
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, kPolicyKey, Platform::RegAccess::ReadWrite,
                        Platform::RegView::Default, policy))
    return false;
  uint32_t lock = 0;
  return policy.ReadDword(kLockValue, lock) == Platform::kErrorSuccess && lock != 0;
}

}  // namespace

int32_t CheckFixIEHomepage::BeginCheck() {
  RegistryKey policy;
  return HomePageLocked(policy) ? Failed : Passed;
}

int32_t CheckFixIEHomepage::BeginFix() {
  RegistryKey policy;
  if (!HomePageLocked(policy)) return Passed;
  return policy.DeleteValue(kLockValue) == Platform::kErrorSuccess ? Passed : Failed;
}

int32_t CheckFixIEHomepage::CheckEntry(ConfigEntry&) { return NotSupported; }

int32_t CheckFixIEHomepage::FixEntry(ConfigEntry&) { return NotSupported; }

}  // namespace Zentrovak::Assistant
