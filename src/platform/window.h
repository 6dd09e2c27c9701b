// Windows as the portable core sees them: opaque handles.
#pragma once
#include <cstdint>

namespace Zentrovak::Platform {

using WindowHandle = void*;

// Lets `message` through the message filter that shields an elevated
// process's window from less trusted senders. win32 resolves
// ChangeWindowMessageFilterEx (else ChangeWindowMessageFilter) at run time
// and does nothing when neither exists; posix has no such filter.
void AllowWindowMessage(uint32_t message, WindowHandle window);

}  // namespace Zentrovak::Platform
