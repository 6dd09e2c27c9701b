// Starting programs: exit codes, the still-running answer, refusals, and
// the logon entry of the Run key.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include "platform/files.h"
#include "platform/registry.h"
#include "support/test_support.h"
#include "system/process_launch.h"

namespace Zentrovak::System {
namespace {

const bool registered = Testing::RegisterRole("exit7", [] { return 7; }) &&
#ifndef _WIN32
                        Testing::RegisterRole("uid", [] { return static_cast<int>(::getuid() & 0xFF); }) &&
#endif
                        Testing::RegisterRole("linger", [] {
                          std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                          return 3;
                        });

// The test program itself in a role, as a Windows command line.
std::u16string RoleCommandLine(const char16_t* role, std::u16string_view extra = u"") {
  Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", role);
  return u"\"" + Platform::ModuleFilePath() + u"\" " + std::u16string(extra);
}

class ProcessLaunch : public ::testing::Test {
 protected:
  void TearDown() override { Platform::WriteEnvironmentVariable(u"ZENTROVAK_TEST_ROLE", u""); }
};

TEST_F(ProcessLaunch, WaitsForTheExitCodeOrAnswersZeroWhileItRuns) {
  ASSERT_TRUE(registered);
  EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), true, true, false), 7);
  EXPECT_EQ(launch_process(RoleCommandLine(u"linger"), false, false, false), 0);
}

TEST_F(ProcessLaunch, LongCommandLinesStartUpToTheSystemsLimit) {
  EXPECT_EQ(launch_process(u"\"C:\\no such folder\\none.exe\" 1", false, true, false), -1);
  // A link as long as a browser takes still opens.
  const std::u16string long2k = RoleCommandLine(u"exit7", std::u16string(2100, u'x'));
  EXPECT_EQ(launch_process(long2k, false, true, false), 7);
  const std::u16string tooLong = RoleCommandLine(u"exit7", std::u16string(kCommandLineBufferChars, u'x'));
  EXPECT_EQ(launch_process(tooLong, false, true, false), -1);
}

#ifdef _WIN32
TEST_F(ProcessLaunch, TheDesktopUsersStartBorrowsTheShellsTokenAndNeedsTheShell) {
  // Without a desktop shell there is no token to borrow: -1, and no
  // elevated start in its place.
  if (!::GetShellWindow()) EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), false, true, true), -1);

  // This program's window as the desktop shell: the start takes the token
  // of the shell's process (here our own) and runs the program.
  using SetShellWindowFn = BOOL(WINAPI*)(HWND);
  const auto setShellWindow = reinterpret_cast<SetShellWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32"), "SetShellWindow")));
  if (!setShellWindow) GTEST_SKIP() << "no SetShellWindow";
  HWND shell = ::CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!shell) GTEST_SKIP() << "no windows without a display";
  if (!::GetShellWindow() && !setShellWindow(shell)) {
    ::DestroyWindow(shell);
    GTEST_SKIP() << "the shell window cannot be set here";
  }
  EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), false, true, true), 7);
  EXPECT_EQ(launch_process(RoleCommandLine(u"linger"), true, false, true), 0);
  ::DestroyWindow(shell);
}
#else
// The session's user is who owns its runtime folder; run by root, the
// program starts the command line as that user, and outside any session
// it starts nothing (as Windows without a desktop shell).
TEST_F(ProcessLaunch, TheDesktopUsersStartTakesTheIdentityOfTheSessionsOwner) {
  // Before Vista there is no other token to borrow: always a plain start.
  EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), false, true, true), 7);

  Platform::RegistryKey version;
  ASSERT_EQ(0u, Platform::RegistryKey::Create(Platform::kHkeyLocalMachine,
                                              u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                                              Platform::RegAccess::ReadWrite, Platform::RegView::Default, version));
  version.WriteString(u"CurrentVersion", u"6.1");
  struct Restore {
    ~Restore() {
      Platform::RegistryKey::DeleteTree(Platform::kHkeyLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                                        Platform::RegView::Default);
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  } restore;
  if (::geteuid() != 0) {
    // A program run by the user has the user's rights already.
    EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), false, true, true), 7);
    return;
  }
  for (const char* name : {"XDG_RUNTIME_DIR", "DISPLAY", "SUDO_UID", "PKEXEC_UID"}) ::unsetenv(name);
  EXPECT_EQ(launch_process(RoleCommandLine(u"exit7"), false, true, true), -1) << "no session, no start";

  const std::string runtime = Testing::TestMachineDirectory() + "/runtime";
  ASSERT_EQ(0, ::mkdir(runtime.c_str(), 0700));
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(launch_process(RoleCommandLine(u"uid"), false, true, true), 0) << "root's own session";

  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user nobody";
  ASSERT_EQ(0, ::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid));
  EXPECT_EQ(launch_process(RoleCommandLine(u"uid"), false, true, true), static_cast<int32_t>(nobody->pw_uid & 0xFF));
  EXPECT_EQ(launch_process(RoleCommandLine(u"linger"), true, false, true), 0);
}
#endif

TEST_F(ProcessLaunch, ShellRunAnswersTheExitCodeOnlyWhenWaiting) {
  RoleCommandLine(u"exit7");
  EXPECT_EQ(shell_run(Platform::ModuleFilePath(), u"", true, true), 7);
  EXPECT_EQ(shell_run(Platform::ModuleFilePath(), u"", true, false), -1);
}

TEST(Autorun, ValueNameOfACommandLine) {
  const std::pair<const char16_t*, const char16_t*> names[] = {
      {u"\"C:\\Program Files\\X\\RUDivIrav.exe\" app.exe 103 102 128 0", u"RUDivIrav"},
      {u"C:\\a.b\\prog.exe", u"prog"},
      {u"prog.exe -x", u"prog"},
      {u"C:/x/tool.v2.exe", u"tool"},
      {u"noext", u"noext"},
  };
  for (const auto& [line, name] : names) EXPECT_EQ(AutorunValueName(line), name);
}

TEST(Autorun, WritesAndDeletesTheCurrentUsersRunValue) {
#ifndef _WIN32
  // The posix machine writes logon entries only for a session's user.
  Testing::OwnDesktopSession session;
#endif
  const std::u16string line = u"\"C:\\Test Folder\\ZentrovakAutorunProbe.exe\" a 1";
  ASSERT_TRUE(set_autorun(line, std::u16string(u"--tray"), true));
  Platform::RegistryKey run;
  ASSERT_EQ(Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, kRunKey, Platform::RegAccess::Read,
                                        Platform::RegView::Default, run),
            0u);
  std::u16string value;
  ASSERT_EQ(run.ReadString(u"ZentrovakAutorunProbe", value), 0u);
  EXPECT_EQ(value, line + u" --tray");
  EXPECT_TRUE(set_autorun(line, std::nullopt, false));
  EXPECT_NE(run.ReadString(u"ZentrovakAutorunProbe", value), 0u);
  EXPECT_FALSE(set_autorun(line, std::nullopt, false)) << "nothing left to remove";
}

}  // namespace
}  // namespace Zentrovak::System
