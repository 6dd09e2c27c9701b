// Browser controls: the registration, the server file (a real PE file made
// by the build) and the add-on switch of the browser.
#include <gtest/gtest.h>

#include "checkfix/com_item.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::RegAccess;
using Platform::RegistryKey;
using Platform::RegView;

constexpr char16_t kSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings\\";

class ComItem : public testing::Test {
 protected:
  void SetUp() override {
    // A class id of this run only.
    const std::u16string tag = Testing::TestRegistryPath();
    std::u16string digits;
    for (char16_t c : tag)
      if (c >= u'0' && c <= u'9') digits += c;
    digits = (digits + u"000000000000").substr(0, 12);
    clsid_ = u"{5A3C1E00-7D2B-4C11-9E6F-" + digits + u"}";
    Register(Testing::BuildTreePath("fixtures/pe/ver_1_2_0_0.dll"));
  }
  void TearDown() override {
    RegistryKey::DeleteTree(Platform::kHkeyClassesRoot, u"CLSID\\" + clsid_, Testing::ProgramRegistryView());
    RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, kSettings + clsid_, RegView::Default);
  }
  // Registered for 32-bit programs, as the bank's controls are: the view
  // the program reads, whichever build of it runs the test.
  void Register(const std::u16string& server) {
    RegistryKey key;
    ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyClassesRoot, u"CLSID\\" + clsid_ + u"\\InprocServer32",
                                      RegAccess::ReadWrite, Testing::ProgramRegistryView(), key));
    key.WriteString(u"", server);
  }
  void SetFlags(uint32_t flags) {
    RegistryKey key;
    ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, kSettings + clsid_, RegAccess::ReadWrite,
                                      RegView::Default, key));
    key.WriteDword(u"Flags", flags);
  }
  bool SettingsKeyExists() {
    RegistryKey key;
    return RegistryKey::Open(Platform::kHkeyCurrentUser, kSettings + clsid_, RegAccess::Read, RegView::Default,
                             key) == 0;
  }
  ConfigEntry Entry(AttributeMap attributes = {}) {
    ConfigEntry entry;
    entry.text = Platform::Utf16ToUtf8(clsid_);
    entry.attributes = std::move(attributes);
    return entry;
  }
  std::u16string clsid_;
  CheckFixCOM com_;
};

TEST_F(ComItem, TheAddOnSwitchDecidesBetweenPassedAndDisabled) {
  ConfigEntry entry = Entry({{"version", ">=1.2"}});
  EXPECT_EQ(Passed, com_.CheckEntry(entry));  // no settings key
  for (uint32_t flags : {0u, 2u}) {
    SetFlags(flags);
    EXPECT_EQ(Passed, com_.CheckEntry(entry)) << flags;
  }
  SetFlags(1);
  EXPECT_EQ(Disabled, com_.CheckEntry(entry));
  EXPECT_EQ(Passed, com_.FixEntry(entry));
  EXPECT_FALSE(SettingsKeyExists());
  EXPECT_EQ(Passed, com_.CheckEntry(entry));
}

TEST_F(ComItem, TheServerFileIsTestedBeforeTheSwitch) {
  SetFlags(1);
  ConfigEntry newer = Entry({{"version", "2.0"}});
  EXPECT_EQ(NeedsUpdate, com_.CheckEntry(newer));
  EXPECT_EQ(NeedsUpdate, com_.FixEntry(newer));  // left to the installer
  EXPECT_TRUE(SettingsKeyExists());

  Register(Testing::BuildTreePath("fixtures/pe/missing.dll"));
  ConfigEntry entry = Entry();
  EXPECT_EQ(Failed, com_.CheckEntry(entry));
  EXPECT_EQ(NotSupported, com_.FixEntry(entry));
}

TEST_F(ComItem, AnUnregisteredClassFails) {
  ConfigEntry entry = Entry();
  entry.text = "{00000000-0000-0000-0000-00000000DEAD}";
  EXPECT_EQ(Failed, com_.CheckEntry(entry));
  EXPECT_EQ(NotSupported, com_.FixEntry(entry));
}

}  // namespace
}  // namespace Zentrovak::Assistant
