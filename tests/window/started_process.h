// A program a window test started: ended if still running when the test
// is done, its exit code waited for.
#pragma once
#include <windows.h>

#include <string>

namespace Zentrovak::Testing {

struct StartedProcess {
  PROCESS_INFORMATION info{};
  bool ok = false;

  StartedProcess() = default;
  StartedProcess(std::wstring commandLine, const wchar_t* folder = nullptr) { Start(std::move(commandLine), folder); }
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;
  ~StartedProcess() {
    if (!ok) return;
    if (::WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(info.hProcess, 99);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
  }
  void Start(std::wstring commandLine, const wchar_t* folder = nullptr) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &info) !=
         FALSE;
  }
  // 259 (still active) when it did not end in time.
  DWORD WaitExit(DWORD ms) {
    if (::WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return 259;
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

}  // namespace Zentrovak::Testing
