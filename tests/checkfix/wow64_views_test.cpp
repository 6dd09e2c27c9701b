// Entries marked bit="64" on 64-bit Windows, where the program (32-bit)
// runs under WOW64: they read and write the 64-bit registry hive and the
// 64-bit System32, every other entry the 32-bit ones (Wow6432Node,
// SysWOW64). Under Wine these run in the 64-bit prefix; on the posix
// machine, one that says it is 64-bit Windows.
#include <gtest/gtest.h>

#include "checkfix/file_check.h"
#include "checkfix/file_item.h"
#include "checkfix/registry_item.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "system/version.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::kHkeyLocalMachine;
using Platform::RegAccess;
using Platform::RegistryKey;
using Platform::RegView;

std::u16string UniqueName() {
  const char* test = testing::UnitTest::GetInstance()->current_test_info()->name();
  return u"ZentrovakViews-" + Platform::Utf8ToUtf16(test) + u"-" +
         Testing::TestRegistryPath().substr(Testing::TestRegistryPath().rfind(u'\\') + 1);
}

ConfigEntry WithBit(ConfigEntry entry, bool sixtyFour) {
  if (sixtyFour) StoreAttribute(entry.attributes, "bit", "64");
  return entry;
}

class Wow64Views : public testing::Test {
 protected:
  void SetUp() override {
    if (!windows_.Holds()) GTEST_SKIP() << "the running Windows is not 64-bit";
  }
  Testing::WindowsOfBitness windows_{64};
};

uint32_t ReadDwordIn(RegView view, const std::u16string& subkey) {
  RegistryKey key;
  uint32_t value = 0;
  if (RegistryKey::Open(kHkeyLocalMachine, subkey, RegAccess::Read, view, key) || key.ReadDword(u"Value", value))
    return 0xDEAD;
  return value;
}

TEST_F(Wow64Views, RegistryEntriesOf64BitWindowsUseTheHiveTheirBitNames) {
  const std::u16string subkey = u"Software\\" + UniqueName();
  for (const auto& [view, value] : {std::pair{RegView::Force64, 64u}, std::pair{RegView::Force32, 32u}}) {
    RegistryKey key;
    ASSERT_EQ(0u, RegistryKey::Create(kHkeyLocalMachine, subkey, RegAccess::ReadWrite, view, key));
    ASSERT_EQ(0u, key.WriteDword(u"Value", value));
  }
  // The 32-bit view is the Wow6432Node of the 64-bit one.
  EXPECT_EQ(32u, ReadDwordIn(RegView::Force64, u"Software\\Wow6432Node\\" + UniqueName()));

  CheckFixRegistry registry;
  auto entry = [&](const char* value, bool sixtyFour) {
    ConfigEntry e;
    e.text = "HKEY_LOCAL_MACHINE\\" + Platform::Utf16ToUtf8(subkey);
    StoreAttribute(e.attributes, "type", "reg_dword");
    StoreAttribute(e.attributes, "name", "Value");
    StoreAttribute(e.attributes, "value", value);
    return WithBit(e, sixtyFour);
  };
  ConfigEntry plain32 = entry("32", false), wide64 = entry("64", true), wide32 = entry("32", true);
  EXPECT_EQ(Passed, registry.CheckEntry(plain32));
  EXPECT_EQ(Passed, registry.CheckEntry(wide64));
  EXPECT_EQ(Failed, registry.CheckEntry(wide32));

  // A repair writes the hive its entry reads, and only that one.
  ConfigEntry repair64 = entry("7", true);
  EXPECT_EQ(Passed, registry.FixEntry(repair64));
  EXPECT_EQ(7u, ReadDwordIn(RegView::Force64, subkey));
  EXPECT_EQ(32u, ReadDwordIn(RegView::Force32, subkey));
  ConfigEntry repair32 = entry("9", false);
  EXPECT_EQ(Passed, registry.FixEntry(repair32));
  EXPECT_EQ(7u, ReadDwordIn(RegView::Force64, subkey));
  EXPECT_EQ(9u, ReadDwordIn(RegView::Force32, subkey));

  RegistryKey::DeleteTree(kHkeyLocalMachine, subkey, RegView::Force64);
  RegistryKey::DeleteTree(kHkeyLocalMachine, subkey, RegView::Force32);
}

TEST_F(Wow64Views, A64BitFileEntrySeesThe64BitSystem32) {
  const std::u16string name = UniqueName() + u".txt";
  const std::u16string system32 = Platform::ExpandEnvironmentReferences(u"%windir%\\System32\\") + name;
  const std::u16string sysWow64 = Platform::ExpandEnvironmentReferences(u"%windir%\\SysWOW64\\") + name;
  Platform::MakeDirectory(Platform::ParentPath(sysWow64));
  {
    // The test writes the 64-bit folder the way the program reads it.
    ConfigEntry marker = WithBit({}, true);
    RedirectionGuard guard(marker);
    ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(system32, "64"));
  }
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(sysWow64, "32"));

  CheckFixFile files;
  auto entry = [&](const char* md5, bool sixtyFour) {
    ConfigEntry e;
    e.text = "%windir%\\System32\\" + Platform::Utf16ToUtf8(name);
    StoreAttribute(e.attributes, "md5", md5);
    return WithBit(e, sixtyFour);
  };
  constexpr char kMd5Of64[] = "ea5d2f1c4608232e07d3aa3d998e5135";
  constexpr char kMd5Of32[] = "6364d3f0f495b6ab9dcf8d3b5c6e0b01";
  ConfigEntry wide = entry(kMd5Of64, true);
  EXPECT_EQ(Passed, files.CheckEntry(wide));
  ConfigEntry plain = entry(kMd5Of32, false);
  if (System::is_wow64_process()) {
    EXPECT_EQ(Passed, files.CheckEntry(plain));  // redirected to SysWOW64
  } else {
    // A 64-bit build of the program sees the 64-bit System32 for every
    // entry: redirection is WOW64's, so this half holds in the PE32 run and
    // on the posix machine only.
    EXPECT_EQ(NeedsUpdate, files.CheckEntry(plain));
  }
  {
    ConfigEntry marker = WithBit({}, true);
    RedirectionGuard guard(marker);
    Platform::RemoveFile(system32);
  }
  Platform::RemoveFile(sysWow64);
}

// What only 32-bit Windows has: one registry, one System32, and 64-bit
// entries read the same as every other.
TEST(Wow64ViewsOn32BitWindows, BothViewsAreOne) {
  Testing::WindowsOfBitness windows(32);
  if (!windows.Holds()) GTEST_SKIP() << "the Windows tests run in a 64-bit prefix; the posix machine covers this";
  const std::u16string subkey = u"Software\\" + UniqueName();
  RegistryKey key;
  ASSERT_EQ(0u, RegistryKey::Create(kHkeyLocalMachine, subkey, RegAccess::ReadWrite, RegView::Force64, key));
  ASSERT_EQ(0u, key.WriteDword(u"Value", 5));
  EXPECT_EQ(5u, ReadDwordIn(RegView::Force32, subkey));
  EXPECT_EQ(5u, ReadDwordIn(RegView::Default, subkey));
  EXPECT_FALSE(System::is_wow64_process());
  ConfigEntry wide = WithBit({}, true);
  RedirectionGuard guard(wide);
  EXPECT_FALSE(guard.Use64BitView());
  RegistryKey::DeleteTree(kHkeyLocalMachine, subkey, RegView::Force64);
}

}  // namespace
}  // namespace Zentrovak::Assistant
