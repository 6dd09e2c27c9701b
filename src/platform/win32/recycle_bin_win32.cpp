#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/recycle_bin.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

Win32Error MoveToRecycleBin(std::u16string_view path) {
  // The shell wants a list of names, each ending in a zero, closed by one more.
  std::wstring from = Win32::Wide(path);
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;  // 0x454
  return static_cast<Win32Error>(::SHFileOperationW(&op));
}

}  // namespace Zentrovak::Platform
