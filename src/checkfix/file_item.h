// Files that must exist with a given version or digest (check type "file"),
// repaired by downloading them again.
#pragma once
#include <string_view>

#include "checkfix/check_fix.h"
#include "platform/errors.h"

namespace Zentrovak::Assistant {

class CheckFixFile : public ICheckFix {
 public:
  int32_t CheckEntry(ConfigEntry& entry) override;
  // Downloads "remote" beside the file and puts it in place when it
  // matches the entry's version and digests (Failed otherwise, the old
  // file kept); NotSupported without an address.
  int32_t FixEntry(ConfigEntry& entry) override;
};

// Moves source onto target. 0 when moved; 1 when the target is in use and
// even moving it aside failed, so the move waits for the next restart;
// E_FAIL without a source; the system error otherwise. A target in use is
// renamed to target".old", which is deleted at the next restart. (Named
// apart from windows.h's ReplaceFile macro.)
Platform::HResult ReplaceDownloadedFile(std::u16string_view source, std::u16string_view target);

}  // namespace Zentrovak::Assistant
