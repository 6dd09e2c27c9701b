#include <windows.h>
#include <shellapi.h>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

namespace {
PlatformOptions& Options() {
  static PlatformOptions options;
  return options;
}
}  // namespace

const PlatformOptions& InitializeProcess(int, char**) { return Options(); }
const PlatformOptions& CurrentPlatformOptions() { return Options(); }

std::u16string ProcessCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return line ? Win32::U16(line, wcslen(line)) : std::u16string();
}

bool StartNewInstance() {
  const std::wstring path = Win32::Wide(ModuleFilePath());
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void EndProcessNow(int code) { ::ExitProcess(static_cast<UINT>(code)); }

}  // namespace Zentrovak::Platform
