// What starting a program means on the posix machine: Windows paths in the
// command line name host files, the desktop's browser stands in for
// Internet Explorer, and the desktop's autostart entry mirrors the Run key.
#include <gtest/gtest.h>

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/startup.h"
#include "install/install_support.h"
#include "platform/posix/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "system/process_launch.h"

namespace Zentrovak::System {
namespace {

using Testing::FakeInstallerPath;
using Testing::NativePath;

std::string HostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// No session at all: none of the variables that name one.
class OutsideAnySession {
 public:
  OutsideAnySession() {
    for (const char* name : kNames) {
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
      ::unsetenv(name);
    }
  }
  ~OutsideAnySession() {
    for (const char* name : kNames) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  static constexpr const char* kNames[] = {"XDG_RUNTIME_DIR", "DISPLAY", "SUDO_UID", "PKEXEC_UID"};
  std::vector<std::pair<std::string, std::string>> saved_;
};

// A folder under /tmp that every user may use, removed afterwards.
struct SharedFolder {
  SharedFolder() {
    char pattern[] = "/tmp/zt-shared-XXXXXX";
    if (::mkdtemp(pattern)) path = pattern;
    ::chmod(path.c_str(), 0777);
  }
  ~SharedFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

// A user of the test's own with a home folder, removed afterwards.
struct TestUser {
  explicit TestUser(const std::string& home) {
    name = "zt" + std::to_string(::getpid());
    const std::string command = "useradd --no-create-home --home-dir '" + home + "' --shell /usr/sbin/nologin " +
                                name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    created = true;
    if (const passwd* pw = ::getpwnam(name.c_str())) {
      uid = pw->pw_uid;
      gid = pw->pw_gid;
    }
    ::mkdir(home.c_str(), 0755);
    ::chown(home.c_str(), uid, gid);
  }
  ~TestUser() {
    if (created) std::system(("userdel " + name + " >/dev/null 2>&1").c_str());
  }
  std::string name;
  bool created = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

class PosixLaunch : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = Testing::NewTempFolder();
    log_ = NativePath(folder_ + u"\\log.txt");
    ::setenv("ZT_INSTALL_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : {"ZT_INSTALL_LOG", "ZENTROVAK_BROWSER", "XDG_CONFIG_HOME", "XDG_CURRENT_DESKTOP"})
      ::unsetenv(name);
  }
  // The fake installer's record of its arguments, once it has written it.
  std::string Logged() {
    for (int i = 0; i < 100; ++i) {
      const std::string text = HostFile(log_);
      if (!text.empty()) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
  }
  std::u16string folder_;
  std::string log_;
};

TEST_F(PosixLaunch, PathsOnTheMachinesDrivesReachTheProgramAsHostPaths) {
  const std::u16string line = u"\"" + FakeInstallerPath() + u"\" C:\\windows\\x.txt plain \"Z:\\tmp\\a b\" C:relative";
  EXPECT_EQ(0, launch_process(line, false, true, false));
  EXPECT_EQ(Platform::Posix::MachineDirectory() + "/drive_c/windows/x.txt|plain|/tmp/a b|C:relative\n", Logged());
}

TEST_F(PosixLaunch, AnAddressWithBlanksReachesTheBrowserAsItIs) {
  ::setenv("ZENTROVAK_BROWSER", NativePath(FakeInstallerPath()).c_str(), 1);
  Testing::OwnDesktopSession session;
  EXPECT_EQ(Platform::kSOk, open_url_in_ie(u"http://127.0.0.1/a b?c=d e"));
  EXPECT_EQ("http://127.0.0.1/a b?c=d e\n", Logged());
  // A link as long as browsers take.
  ::unlink(log_.c_str());
  const std::string longLink = "http://127.0.0.1/?q=" + std::string(4000, 'x');
  EXPECT_EQ(Platform::kSOk, open_url_in_ie(Platform::Utf8ToUtf16(longLink)));
  EXPECT_EQ(longLink + "\n", Logged());
}

// Run by root, links open in the browser of the session's user, never in
// a root browser; outside any session nothing opens.
TEST_F(PosixLaunch, AsRootTheDesktopsBrowserIsTheSessionUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root starts programs as another user";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user nobody";
  SharedFolder shared;
  const std::string browser = shared.path + "/browser";
  std::ofstream(browser) << "#!/bin/sh\nid -u > \"$0.uid\"\n";
  ASSERT_EQ(0, ::chmod(browser.c_str(), 0755));
  ::setenv("ZENTROVAK_BROWSER", browser.c_str(), 1);

  OutsideAnySession outside;
  EXPECT_EQ(Platform::kEFail, open_url_in_ie(u"http://127.0.0.1/"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(HostFile(browser + ".uid").empty()) << "nothing started";

  const std::string runtime = shared.path + "/runtime";
  ASSERT_EQ(0, ::mkdir(runtime.c_str(), 0700));
  ASSERT_EQ(0, ::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid));
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(Platform::kSOk, open_url_in_ie(u"http://127.0.0.1/"));
  std::string uid;
  for (int i = 0; i < 100 && uid.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uid = HostFile(browser + ".uid");
  }
  EXPECT_EQ(std::to_string(nobody->pw_uid) + "\n", uid);
}

// Run by root, the logon entry belongs to the session's user, who is the
// one who logs on; with no session, or none that can be written for,
// set_autorun fails and leaves the Run value as it was.
TEST_F(PosixLaunch, AsRootTheAutostartEntryIsTheSessionUsersOrNothingChanges) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root writes for another user";
  const std::u16string program = folder_ + u"\\tray.exe";
  std::string bytes;
  ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(FakeInstallerPath(), bytes));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(program, bytes));
  const std::u16string line = u"\"" + program + u"\" NetBankAssistant 103 102 128 0";
  const auto runValue = [] {
    Platform::RegistryKey run;
    std::u16string value;
    if (Platform::RegistryKey::Open(Platform::kHkeyCurrentUser, kRunKey, Platform::RegAccess::Read,
                                    Platform::RegView::Default, run) == 0)
      run.ReadString(u"tray", value);
    return value;
  };

  OutsideAnySession outside;
  EXPECT_FALSE(set_autorun(line, std::nullopt, true));
  EXPECT_EQ(u"", runValue());

  // nobody's home does not exist: the entry cannot be written for them.
  SharedFolder shared;
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  const std::string runtime = shared.path + "/runtime";
  ASSERT_EQ(0, ::mkdir(runtime.c_str(), 0700));
  ASSERT_EQ(0, ::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid));
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    Testing::OwnDesktopSession own;
    ASSERT_TRUE(set_autorun(u"\"C:\\old\\tray.exe\"", std::nullopt, true));
  }
  EXPECT_FALSE(set_autorun(line, std::nullopt, true));
  EXPECT_EQ(u"\"C:\\old\\tray.exe\"", runValue()) << "the earlier value stays";

  // A user with a home of their own gets the entry there, as theirs.
  TestUser user(shared.path + "/home");
  if (!user.created) GTEST_SKIP() << "no test user could be made";
  ASSERT_EQ(0, ::chown(runtime.c_str(), user.uid, user.gid));
  ASSERT_TRUE(set_autorun(line, std::nullopt, true));
  EXPECT_EQ(line, runValue());
  const std::string entry = shared.path + "/home/.config/autostart/tray.desktop";
  EXPECT_NE(std::string::npos, HostFile(entry).find("[Desktop Entry]\nType=Application\nName=tray\n"));
  for (const std::string& path : {entry, shared.path + "/home/.config/autostart", shared.path + "/home/.config"}) {
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st)) << path;
    EXPECT_EQ(user.uid, st.st_uid) << path;
  }
  ASSERT_TRUE(set_autorun(line, std::nullopt, false));
  EXPECT_TRUE(HostFile(entry).empty());
}

TEST_F(PosixLaunch, OnADesktopTheRunValueHasAnAutostartEntryBeside) {
  const std::string config = NativePath(folder_ + u"\\config");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  Testing::OwnDesktopSession session;
  const std::string entry = config + "/autostart/tray.desktop";
  const std::u16string program = folder_ + u"\\tray.exe";
  std::string bytes;
  ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(FakeInstallerPath(), bytes));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(program, bytes));
  const std::u16string line = u"\"" + program + u"\" NetBankAssistant 103 102 128 0";

  ASSERT_TRUE(set_autorun(line, std::nullopt, true));
  EXPECT_TRUE(HostFile(entry).empty()) << "no desktop, no entry";

  ::setenv("XDG_CURRENT_DESKTOP", "Test", 1);
  ASSERT_TRUE(set_autorun(line, std::nullopt, true));
  const std::string text = HostFile(entry);
  EXPECT_NE(std::string::npos, text.find("[Desktop Entry]\nType=Application\nName=tray\n")) << text;
  EXPECT_NE(std::string::npos,
            text.find("Exec=env \"ZENTROVAK_MACHINE=" + Platform::Posix::MachineDirectory() + "\" " +
                      NativePath(program) + " NetBankAssistant 103 102 128 0\n"))
      << text;

  ASSERT_TRUE(set_autorun(line, std::nullopt, false));
  EXPECT_TRUE(HostFile(entry).empty());
}

}  // namespace
}  // namespace Zentrovak::System
