#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/win32/unique_handles.h"
#include "system/process_launch.h"

namespace Zentrovak::System {

using Platform::Win32::UniqueHandle;
using Platform::Win32::Wide;

namespace {

STARTUPINFOW StartupInfo(bool hide) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (hide) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  return startup;
}

// CreateProcessW may write into the command line.
std::vector<wchar_t> WritableCommandLine(std::u16string_view commandLine) {
  std::vector<wchar_t> buffer(kCommandLineBufferChars, L'\0');
  std::copy(commandLine.begin(), commandLine.end(), buffer.begin());
  return buffer;
}

// Waits when asked and answers the exit code; a process still running
// answers 0 rather than STILL_ACTIVE.
int32_t FinishStart(const PROCESS_INFORMATION& info, bool wait) {
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (wait) ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return -1;
  return code == STILL_ACTIVE ? 0 : static_cast<int32_t>(code);
}

bool EnableIncreaseQuotaPrivilege() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, L"SeIncreaseQuotaPrivilege", &privileges.Privileges[0].Luid)) return false;
  ::SetLastError(ERROR_SUCCESS);
  // Succeeds also when the privilege was not granted; only the last error
  // (ERROR_NOT_ALL_ASSIGNED) tells.
  ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  return ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace

int32_t StartCommandLine(std::u16string_view commandLine, bool hide, bool wait) {
  STARTUPINFOW startup = StartupInfo(hide);
  std::vector<wchar_t> buffer = WritableCommandLine(commandLine);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return -1;
  return FinishStart(info, wait);
}

// CreateProcessWithTokenW takes command lines shorter than this.
constexpr size_t kTokenCommandLineChars = 1024;

int32_t StartCommandLineAsDesktopUser(std::u16string_view commandLine, bool hide, bool wait) {
  if (commandLine.size() >= kTokenCommandLineChars) return -1;
  if (!EnableIncreaseQuotaPrivilege()) return -1;
  // The desktop shell runs with the user's own, unelevated token.
  const HWND shell = ::GetShellWindow();
  if (!shell) return -1;
  DWORD shellProcessId = 0;
  ::GetWindowThreadProcessId(shell, &shellProcessId);
  if (!shellProcessId) return -1;
  const UniqueHandle shellProcess(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
  if (!shellProcess) return -1;
  UniqueHandle shellToken;
  if (!::OpenProcessToken(shellProcess.get(), TOKEN_DUPLICATE, shellToken.put())) return -1;
  UniqueHandle primaryToken;
  const DWORD rights =
      TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
  if (!::DuplicateTokenEx(shellToken.get(), rights, nullptr, SecurityImpersonation, TokenPrimary,
                          primaryToken.put()))
    return -1;
  STARTUPINFOW startup = StartupInfo(hide);
  std::vector<wchar_t> buffer = WritableCommandLine(commandLine);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessWithTokenW(primaryToken.get(), 0, nullptr, buffer.data(), 0, nullptr, nullptr, &startup, &info))
    return -1;
  return FinishStart(info, wait);
}

int32_t ShellExecuteFile(std::u16string_view file, std::u16string_view parameters, bool hide, bool wait) {
  const std::wstring fileW = Wide(file);
  const std::wstring paramsW = Wide(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = wait ? SEE_MASK_NOCLOSEPROCESS : 0;
  info.lpFile = fileW.c_str();
  info.lpParameters = paramsW.empty() ? nullptr : paramsW.c_str();
  info.nShow = hide ? SW_HIDE : SW_SHOW;
  if (!::ShellExecuteExW(&info) || !info.hProcess) return -1;
  UniqueHandle process(info.hProcess);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  return ::GetExitCodeProcess(process.get(), &code) ? static_cast<int32_t>(code) : -1;
}

// Windows starts the Run key's programs itself.
bool UpdateDesktopAutostart(std::u16string_view, std::u16string_view, bool) { return true; }

std::u16string InternetExplorerPath() {
  using namespace Platform;
  RegistryKey key;
  std::u16string path;
  if (RegistryKey::Open(kHkeyLocalMachine, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE",
                        RegAccess::Read, RegView::Default, key) == kErrorSuccess)
    key.ReadString(u"", path);
  if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"') path = path.substr(1, path.size() - 2);
  if (!path.empty() && FileExists(path)) return path;
  const std::u16string programFiles = SpecialFolderPath(0x26);
  if (!programFiles.empty() && FileExists(programFiles + u"\\Internet Explorer\\iexplore.exe"))
    return programFiles + u"\\Internet Explorer\\iexplore.exe";
  return {};
}

Platform::HResult OpenInBrowser(std::u16string_view browser, std::u16string_view url) {
  const std::u16string line = u"\"" + std::u16string(browser) + u"\" " + std::u16string(url);
  return launch_process(line, false, false, true) == 0 ? Platform::kSOk : Platform::kEFail;
}

}  // namespace Zentrovak::System
