#include "platform/window.h"

namespace Zentrovak::Platform {

void AllowWindowMessage(uint32_t, WindowHandle) {}

}  // namespace Zentrovak::Platform
