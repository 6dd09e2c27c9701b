#include <windows.h>

#include <string>

#include "platform/debug_output.h"

namespace Zentrovak::Platform {

void WriteDebugStringToSystem(std::u16string_view text) {
  const std::wstring wide(text.begin(), text.end());
  ::OutputDebugStringW(wide.c_str());
}

}  // namespace Zentrovak::Platform
