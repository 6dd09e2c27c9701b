// What starting a program means on the posix machine: Windows paths in the
// command line name host files, the desktop's browser stands in for
// Internet Explorer, and the desktop's autostart entry mirrors the Run key.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/startup.h"
#include "install/install_support.h"
#include "platform/posix/machine.h"
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
  EXPECT_EQ(Platform::kSOk, open_url_in_ie(u"http://127.0.0.1/a b?c=d e"));
  EXPECT_EQ("http://127.0.0.1/a b?c=d e\n", Logged());
}

TEST_F(PosixLaunch, OnADesktopTheRunValueHasAnAutostartEntryBeside) {
  const std::string config = NativePath(folder_ + u"\\config");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
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
