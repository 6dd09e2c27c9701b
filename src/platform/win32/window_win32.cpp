#include <windows.h>

#include "platform/window.h"

namespace Zentrovak::Platform {

void AllowWindowMessage(uint32_t message, WindowHandle window) {
  HMODULE user32 = ::GetModuleHandleW(L"user32");
  if (!user32) user32 = ::LoadLibraryW(L"user32");
  if (!user32) return;
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  if (auto filterEx = reinterpret_cast<FilterEx>(
          reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
    filterEx(static_cast<HWND>(window), message, 1 /* MSGFLT_ALLOW */, nullptr);
    return;
  }
  if (auto filter = reinterpret_cast<Filter>(
          reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")))) {
    filter(message, 1 /* MSGFLT_ADD */);
  }
}

}  // namespace Zentrovak::Platform
