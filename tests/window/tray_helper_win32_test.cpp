// The tray helper under Wine with a virtual display: its hidden window
// carries the assistant's title read from the assistant's file, its menu
// commands start the assistant beside it and quit, and a second helper
// ends at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "started_process.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"

namespace Zentrovak::Testing {
namespace {

// The assistant the helper starts: this test program in a role.
const bool registered = RegisterRole("tray-assistant", [] {
  const char* mark = std::getenv("ZT_TRAY_MARK");
  return mark && Platform::Succeeded(Platform::WriteWholeFile(Platform::Utf8ToUtf16(mark), "started")) ? 0 : 1;
});

// The helper in the folder, for the assistant beside it.
struct Helper : StartedProcess {
  explicit Helper(const std::u16string& folder)
      : StartedProcess(L"\"" + std::wstring(folder.begin(), folder.end()) +
                       L"\\RUDivIrav.exe\" assistant.exe 103 102 128 0") {}
};

HWND TrayWindowOf(DWORD process, DWORD waitMs) {
  const DWORD start = ::GetTickCount();
  do {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, L"RUDivIravTray", nullptr); window;
         window = ::FindWindowExW(nullptr, window, L"RUDivIravTray", nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner == process) return window;
    }
    ::Sleep(100);
  } while (::GetTickCount() - start < waitMs);
  return nullptr;
}

bool Copy(const std::u16string& from, const std::u16string& to) {
  std::string bytes;
  return Platform::Succeeded(Platform::ReadWholeFile(from, bytes)) && Platform::Succeeded(Platform::WriteWholeFile(to, bytes));
}

TEST(TrayHelper, ShowsTheAssistantsTitleAndItsMenuStartsTheAssistantAndQuits) {
  ASSERT_TRUE(registered);
  const std::u16string folder = NewTempFolder();
  ASSERT_TRUE(Copy(BuildTreePath("RUDivIrav.exe"), folder + u"\\RUDivIrav.exe"));
  // Every test program carries the assistant's resources.
  ASSERT_TRUE(Copy(Platform::ModuleFilePath(), folder + u"\\assistant.exe"));
  const std::u16string mark = folder + u"\\started.txt";
  Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u"tray-assistant");
  Platform::WriteEnvironmentVariable(u"ZT_TRAY_MARK", mark);

  Helper helper(folder);
  ASSERT_TRUE(helper.ok);
  HWND window = TrayWindowOf(helper.info.dwProcessId, 20000);
  ASSERT_NE(nullptr, window);
  wchar_t title[64] = {};
  ::GetWindowTextW(window, title, 64);
  EXPECT_STREQ(L"澜屿银行网银助手", title);

  Helper second(folder);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(0u, second.WaitExit(20000)) << "one helper per session";

  ::SendMessageW(window, WM_COMMAND, 1, 0);  // the menu's first entry
  std::string started;
  for (int i = 0; i < 100 && Platform::Failed(Platform::ReadWholeFile(mark, started)); ++i) ::Sleep(100);
  EXPECT_EQ("started", started);
  ::SendMessageW(window, WM_COMMAND, 2, 0);  // quit
  EXPECT_EQ(0u, helper.WaitExit(20000));

  Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u"");
  Platform::WriteEnvironmentVariable(u"ZT_TRAY_MARK", u"");
}

}  // namespace
}  // namespace Zentrovak::Testing
