#include "checkfix/url_item.h"

#include "net/name_lookup.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

int32_t CheckFixUrl::CheckEntry(ConfigEntry& entry) {
  return Network::CanConnectTo(Platform::Utf8ToUtf16(entry.text)) ? Passed : Failed;
}

int32_t CheckFixUrl::FixEntry(ConfigEntry&) { return NotSupported; }

}  // namespace Zentrovak::Assistant
