#include <windows.h>

#include "platform/kernel_object.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

CreatedKernelObject CreateNamedMutex(std::u16string_view name, bool initialOwner) {
  const std::wstring wide = Win32::Wide(name);
  const HANDLE handle = ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, wide.c_str());
  CreatedKernelObject result;
  result.lastError = ::GetLastError();
  result.handle = reinterpret_cast<KernelHandle>(handle);
  return result;
}

void CloseKernelHandle(KernelHandle handle) {
  if (handle != kNoHandle) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace Zentrovak::Platform
