// Named kernel objects (the single-instance mutex).
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/errors.h"

namespace Zentrovak::Platform {

using KernelHandle = intptr_t;  // 0: none
inline constexpr KernelHandle kNoHandle = 0;

// What a Create call gives: the handle (or none) and the thread's last error
// right after the call, as Windows reports it. A name that already exists
// yields a valid handle together with 183 (ERROR_ALREADY_EXISTS).
struct CreatedKernelObject {
  KernelHandle handle = kNoHandle;
  Win32Error lastError = 0;
};

// win32: CreateMutexW. posix: a lock file in the user's runtime folder,
// held while the handle is open and released by the system when the process
// dies, so a killed instance never blocks the next one.
CreatedKernelObject CreateNamedMutex(std::u16string_view name, bool initialOwner);
void CloseKernelHandle(KernelHandle handle);

}  // namespace Zentrovak::Platform
