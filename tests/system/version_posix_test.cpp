// The posix machine says in its registry which Windows it stands for.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry.h"
#include "support/test_support.h"
#include "system/version.h"

namespace Zentrovak::System {
namespace {

using Platform::kHkeyLocalMachine;
using Platform::RegAccess;
using Platform::RegistryKey;
using Platform::RegView;

constexpr char16_t kCurrentVersion[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char16_t kEnvironment[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr char16_t kProductOptions[] = u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

// The machine describes itself in its own (64-bit) view.
RegistryKey MachineKey(const char16_t* path) {
  RegistryKey key;
  EXPECT_EQ(0u, RegistryKey::Create(kHkeyLocalMachine, path, RegAccess::ReadWrite, RegView::Force64, key));
  return key;
}

class MachineIdentity : public testing::Test {
 protected:
  void TearDown() override {
    for (const char16_t* path : {kCurrentVersion, kEnvironment, kProductOptions,
                                 u"SOFTWARE\\Microsoft\\Internet Explorer",
                                 u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE"})
      RegistryKey::DeleteTree(kHkeyLocalMachine, path, RegView::Force64);
  }
};

TEST_F(MachineIdentity, AMachineThatSaysNothingIs32BitAndUnnamed) {
  EXPECT_EQ(u"Error", get_os_display_name());
  EXPECT_FALSE(is_64bit_windows());
  EXPECT_FALSE(is_wow64_process());
  uint32_t major = 77;
  EXPECT_FALSE(is_vista_or_later(&major));
  EXPECT_EQ(77u, major);
  EXPECT_FALSE(is_windows_10());
  EXPECT_EQ(u"", get_ie_version());
}

TEST_F(MachineIdentity, Windows7UltimateOn64Bit) {
  RegistryKey version = MachineKey(kCurrentVersion);
  version.WriteString(u"CurrentVersion", u"6.1");
  version.WriteString(u"CurrentBuildNumber", u"7601");
  version.WriteString(u"CSDVersion", u"Service Pack 1");
  version.WriteString(u"EditionID", u"Ultimate");
  version.WriteString(u"ProductName", u"Windows 7 Ultimate");
  MachineKey(kEnvironment).WriteString(u"PROCESSOR_ARCHITECTURE", u"AMD64");

  EXPECT_EQ(u"Microsoft Windows 7 旗舰版 SP1 (build 7601) 64位", get_os_display_name());
  EXPECT_TRUE(is_64bit_windows());
  EXPECT_TRUE(is_wow64_process());  // the program is a 32-bit process
  uint32_t major = 0, minor = 0, build = 0;
  EXPECT_TRUE(is_vista_or_later(&major, &minor, &build));
  EXPECT_EQ(6u, major);
  EXPECT_EQ(1u, minor);
  EXPECT_EQ(7601u, build);
  EXPECT_FALSE(is_windows_10());
}

TEST_F(MachineIdentity, Windows10AndServerProducts) {
  RegistryKey version = MachineKey(kCurrentVersion);
  version.WriteDword(u"CurrentMajorVersionNumber", 10);
  version.WriteDword(u"CurrentMinorVersionNumber", 0);
  version.WriteString(u"CurrentVersion", u"6.3");  // what Windows 10 also keeps there
  version.WriteString(u"CurrentBuildNumber", u"19045");
  version.WriteString(u"ProductName", u"WINDOWS 10 Pro");
  EXPECT_EQ(u"Microsoft  (build 19045) 32位", get_os_display_name());
  EXPECT_TRUE(is_windows_10());
  version.WriteString(u"ProductName", u"Windows 10 Pro", Platform::RegType::kExpandSz);
  EXPECT_FALSE(is_windows_10());  // REG_SZ only

  RegistryKey plain = MachineKey(kCurrentVersion);
  plain.DeleteValue(u"CurrentMajorVersionNumber");
  plain.WriteString(u"CurrentVersion", u"5.2");
  plain.WriteString(u"CurrentBuildNumber", u"3790");
  plain.WriteString(u"ProductName", u"Windows Server 2003 R2");
  RegistryKey options = MachineKey(kProductOptions);
  options.WriteString(u"ProductType", u"ServerNT");
  const char16_t suites[] = u"Enterprise\0Terminal Server\0";
  options.SetValue(u"ProductSuite", Platform::RegType::kMultiSz, suites, sizeof suites);
  EXPECT_EQ(u"Microsoft Windows Server 2003 R2 Enterprise Edition (build 3790)", get_os_display_name());
}

TEST_F(MachineIdentity, BrowserVersionAndPath) {
  RegistryKey ie = MachineKey(u"SOFTWARE\\Microsoft\\Internet Explorer");
  ie.WriteString(u"Version", u"9.11.9600.18376");
  EXPECT_EQ(u"9.11.9600.18376", get_ie_version());
  ie.WriteString(u"svcVersion", u"11.0.9600.18376");
  EXPECT_EQ(u"11.0.9600.18376", get_ie_version());

  // App Paths names a file that is gone; Program Files has none either.
  RegistryKey paths = MachineKey(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE");
  paths.WriteString(u"", u"C:\\Old\\iexplore.exe");
  EXPECT_EQ(u"C:\\Old\\iexplore.exe", get_iexplore_path());
  const std::u16string installed = Platform::ExpandEnvironmentReferences(u"%ProgramFiles%\\Internet Explorer\\iexplore.exe");
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(installed, "MZ"));
  EXPECT_EQ(installed, get_iexplore_path());
  paths.WriteString(u"", installed);
  EXPECT_EQ(installed, get_iexplore_path());
  Platform::RemoveFile(installed);
}

}  // namespace
}  // namespace Zentrovak::System
