#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace Zentrovak::Platform {

void WriteDebugStringToSystem(std::u16string_view text) {
  static const bool enabled = std::getenv("ZENTROVAK_DEBUG") != nullptr;
  if (!enabled) return;
  const std::string utf8 = Utf16ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

}  // namespace Zentrovak::Platform
