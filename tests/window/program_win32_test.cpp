// The Windows program under Wine with a virtual display: it starts, shows
// its dialog window, a second start ends without a window, and the quit
// message ends it cleanly, starting the tray helper when "closechose" is 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/registry.h"
#include "started_process.h"
#include "support/test_support.h"

namespace Zentrovak::App {
namespace {

std::wstring ProgramPath() {
  std::string path = std::string("Z:") + TEST_BINARY_DIR + "/NetBankAssistant.exe";
  std::wstring wide(path.begin(), path.end());
  for (auto& c : wide)
    if (c == L'/') c = L'\\';
  return wide;
}

using Started = Testing::StartedProcess;

void Start(Started& run, const std::wstring& arguments, const std::wstring& folder) {
  run.Start(L"\"" + ProgramPath() + L"\" " + arguments, folder.c_str());
}

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM data) {
  auto* s = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == s->process && ::IsWindowVisible(window)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WindowOf(DWORD process, DWORD waitMs) {
  Search search{process, nullptr};
  const DWORD start = ::GetTickCount();
  while (!search.found && ::GetTickCount() - start < waitMs) {
    ::EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) ::Sleep(100);
  }
  return search.found;
}

void SetCloseChoice(DWORD value) {
  Platform::RegistryKey key;
  ASSERT_EQ(Platform::RegistryKey::Create(Platform::kHkeyCurrentUser, u"Software\\Zentrovak\\NetBankAssistant\\Settings",
                                          Platform::RegAccess::ReadWrite, Platform::RegView::Default, key),
            0u);
  key.WriteDword(u"closechose", value);
}

TEST(ProgramUnderWine, ShowsItsDialogAndEndsOnTheQuitMessage) {
  const std::u16string folder = Testing::NewTempFolder();
  const std::wstring wideFolder(folder.begin(), folder.end());
  const std::wstring log = wideFolder + L"\\tray.log";
  ::SetEnvironmentVariableW(L"RUDIVIRAV_LOG", log.c_str());
  SetCloseChoice(1);

  Started first;
  Start(first, L"2", wideFolder);
  ASSERT_TRUE(first.ok);
  HWND window = WindowOf(first.info.dwProcessId, 20000);
  ASSERT_NE(window, nullptr) << "no dialog window";
  // The window shows before its title is set: give the program a moment.
  wchar_t title[64] = {};
  for (int tries = 0; tries < 50 && !::GetWindowTextW(window, title, 64); ++tries) ::Sleep(100);
  EXPECT_STREQ(title, L"澜屿银行网银助手");
  EXPECT_FALSE(::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION);
  std::string library;
  ASSERT_EQ(Platform::ReadWholeFile(folder + u"\\Assist_FT_InterPass3000_QVTR.dll", library), 0);
  EXPECT_EQ(library.substr(0, 2), "MZ") << "the carried library is the project's stand-in DLL";

  Started second;
  Start(second, L"", wideFolder);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.WaitExit(20000), 0u);
  EXPECT_EQ(WindowOf(second.info.dwProcessId, 0), nullptr);

  ASSERT_TRUE(::PostThreadMessageW(first.info.dwThreadId, WM_QUIT, 0, 0));
  EXPECT_EQ(first.WaitExit(20000), 0u);

  std::string written;
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 10000 &&
         (Platform::Failed(Platform::ReadWholeFile(folder + u"\\tray.log", written)) || written.empty()))
    ::Sleep(100);
  EXPECT_EQ(written, "NetBankAssistant.exe 103 102 128 1\r\n");
  // The helper stays in the notification area: the test ends it.
  if (HWND tray = ::FindWindowW(L"RUDivIravTray", nullptr)) {
    DWORD trayProcess = 0;
    ::GetWindowThreadProcessId(tray, &trayProcess);
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, trayProcess);
    ::PostMessageW(tray, WM_CLOSE, 0, 0);
    if (process) {
      EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process, 10000));
      ::CloseHandle(process);
    }
  }
  SetCloseChoice(0);
  ::SetEnvironmentVariableW(L"RUDIVIRAV_LOG", nullptr);
}

}  // namespace
}  // namespace Zentrovak::App
