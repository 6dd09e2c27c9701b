#include "checkfix/compatibility_item.h"

#include "checkfix/compatibility_list.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

int32_t CheckFixCompatibilityView::BeginCheck() {
  allSites_ = AllSitesInCompatibilityView();
  return Passed;
}

int32_t CheckFixCompatibilityView::CheckEntry(ConfigEntry& entry) {
  if (allSites_) return Passed;
  if (entry.text.empty()) return NotSupported;
  return IsInCompatibilityList(Platform::Utf8ToUtf16(entry.text)) ? Passed : Failed;
}

int32_t CheckFixCompatibilityView::FixEntry(ConfigEntry& entry) {
  if (allSites_) return Passed;
  if (entry.text.empty()) return NotSupported;
  return AddToCompatibilityList(Platform::Utf8ToUtf16(entry.text)) ? Passed : Failed;
}

}  // namespace Zentrovak::Assistant
