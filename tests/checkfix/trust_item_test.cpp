// Trusted sites: zone lookups through the browser's security manager (Wine's
// reads the same registry mappings), the machine-wide mappings deleted on
// every lookup and saved first, and the repair that maps a site.
#include <gtest/gtest.h>

#include <string>

#include "checkfix/trust_item.h"
#include "platform/com_apartment.h"
#include "platform/files.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/zones.h"
#include "support/test_support.h"
#include "system/version.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::RegistryKey;

constexpr char16_t kZoneMap[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap";
constexpr char16_t kUserDomains[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\zentrovak-test.cn";
constexpr char16_t kTrustedZone[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Zones\\2";

Platform::RegView MachineView() {
  return System::is_64bit_windows() ? Platform::RegView::Force64 : Platform::RegView::Default;
}

void WriteZoneValue(Platform::RegRoot root, const std::u16string& key, const char16_t* name, uint32_t zone,
                    Platform::RegView view = Platform::RegView::Default) {
  RegistryKey k;
  ASSERT_EQ(0u, RegistryKey::Create(root, key, Platform::RegAccess::ReadWrite, view, k));
  ASSERT_EQ(0u, k.WriteDword(name, zone));
}

bool MachineKeyExists(const std::u16string& name) {
  RegistryKey k;
  return RegistryKey::Open(Platform::kHkeyLocalMachine, std::u16string(kZoneMap) + u"\\" + name,
                           Platform::RegAccess::Read, MachineView(), k) == 0;
}

// The security manager is a COM object, made on the calling thread.
class TrustedSites : public ::testing::Test {
 protected:
  Platform::ComApartmentScope com_{Platform::ApartmentKind::Worker};
  void TearDown() override {
    RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, kUserDomains, Platform::RegView::Default);
    for (const char16_t* name : {u"Domains", u"EscDomains"})
      for (const char16_t* suffix : {u"", u"-2", u"-3"})
        Platform::RemoveFile(ZoneMapBackupFolder() + u"\\ZoneMap-" + name + suffix + u".reg");
  }
};

TEST_F(TrustedSites, TheCheckReadsTheUsersMappings) {
  CheckFixTrust trust;
  ConfigEntry entry;
  entry.text = "https://bank.zentrovak-test.cn";
  EXPECT_EQ(Failed, trust.CheckEntry(entry));
  WriteZoneValue(Platform::kHkeyCurrentUser, std::u16string(kUserDomains) + u"\\bank", u"https", 2);
  EXPECT_EQ(Passed, trust.CheckEntry(entry));
  EXPECT_EQ(2, GetZone(u"https://bank.zentrovak-test.cn"));
  EXPECT_EQ(3, GetZone(u"http://bank.zentrovak-test.cn"));  // mapped for https only
}

TEST_F(TrustedSites, EveryLookupDeletesTheMachineWideMappingsAfterSavingThem) {
  const std::u16string domains = std::u16string(kZoneMap) + u"\\Domains\\admin.example\\www";
  WriteZoneValue(Platform::kHkeyLocalMachine, domains, u"https", 2, MachineView());
  WriteZoneValue(Platform::kHkeyLocalMachine, std::u16string(kZoneMap) + u"\\EscDomains\\esc.example", u"*", 2,
                 MachineView());
  EXPECT_EQ(3, GetZone(u"https://www.admin.example"));  // the machine's mapping no longer counts
  EXPECT_FALSE(MachineKeyExists(u"Domains"));
  EXPECT_FALSE(MachineKeyExists(u"EscDomains"));

  // What was deleted can be imported again from the saved file.
  std::string saved;
  ASSERT_FALSE(Platform::Failed(Platform::ReadWholeFile(ZoneMapBackupFolder() + u"\\ZoneMap-Domains.reg", saved)));
  const Platform::RegFileParse parsed = Platform::ParseRegFile(saved);
  ASSERT_EQ(Platform::RegFileError::None, parsed.error);
  bool found = false;
  for (const Platform::RegFileKey& key : parsed.file.keys)
    for (const Platform::RegFileValue& value : key.values)
      found = found || (key.path == u"HKEY_LOCAL_MACHINE\\" + domains && value.name == u"https");
  EXPECT_TRUE(found);
  EXPECT_TRUE(Platform::FileExists(ZoneMapBackupFolder() + u"\\ZoneMap-EscDomains.reg"));

  // The same mappings again are not saved twice; other ones do not
  // overwrite the first save.
  WriteZoneValue(Platform::kHkeyLocalMachine, domains, u"https", 2, MachineView());
  GetZone(u"https://www.admin.example");
  EXPECT_FALSE(Platform::FileExists(ZoneMapBackupFolder() + u"\\ZoneMap-Domains-2.reg"));
  WriteZoneValue(Platform::kHkeyLocalMachine, domains, u"http", 1, MachineView());
  GetZone(u"https://www.admin.example");
  EXPECT_TRUE(Platform::FileExists(ZoneMapBackupFolder() + u"\\ZoneMap-Domains-2.reg"));
  // An empty key is deleted without a save.
  RegistryKey empty;
  ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyLocalMachine, std::u16string(kZoneMap) + u"\\Domains",
                                    Platform::RegAccess::ReadWrite, MachineView(), empty));
  empty.Close();
  GetZone(u"https://www.admin.example");
  EXPECT_FALSE(MachineKeyExists(u"Domains"));
  EXPECT_FALSE(Platform::FileExists(ZoneMapBackupFolder() + u"\\ZoneMap-Domains-3.reg"));
}

class TrustedSitesRepair : public TrustedSites {
 protected:
  void SetUp() override {
    if (Testing::RunningUnderWine()) GTEST_SKIP() << "Wine's SetZoneMapping is a stub (E_NOTIMPL)";
    ASSERT_TRUE(Platform::Succeeded(Platform::ReadZoneFlags(Platform::kZoneTrusted, flags_)));
  }
  void TearDown() override {
    Platform::WriteZoneFlags(Platform::kZoneTrusted, flags_);
    TrustedSites::TearDown();
  }
  uint32_t flags_ = 0;
};

TEST_F(TrustedSitesRepair, MovesASiteFromAnotherZoneToTrustedSites) {
  CheckFixTrust trust;
  ConfigEntry internet;
  internet.text = "https://bank.zentrovak-test.cn";
  ConfigEntry restricted;
  restricted.text = "https://pay.zentrovak-test.cn";
  WriteZoneValue(Platform::kHkeyCurrentUser, std::u16string(kUserDomains) + u"\\pay", u"https", 4);
  for (ConfigEntry* entry : {&internet, &restricted}) {
    SCOPED_TRACE(entry->text);
    EXPECT_EQ(Failed, trust.CheckEntry(*entry));
    EXPECT_EQ(Passed, trust.FixEntry(*entry));
    EXPECT_EQ(Passed, trust.CheckEntry(*entry));
  }
}

TEST_F(TrustedSitesRepair, ASiteWithoutEncryptionGetsInWhileTheVerificationFlagIsLiftedForIt) {
  ASSERT_TRUE(Platform::Succeeded(
      Platform::WriteZoneFlags(Platform::kZoneTrusted, flags_ | Platform::kZoneRequireVerification)));
  EXPECT_EQ(Platform::kEAccessDenied, Platform::AddZoneMapping(Platform::kZoneTrusted, u"http://bank.zentrovak-test.cn"));
  CheckFixTrust trust;
  ConfigEntry entry;
  entry.text = "http://bank.zentrovak-test.cn";
  EXPECT_EQ(Passed, trust.FixEntry(entry));
  EXPECT_EQ(Passed, trust.CheckEntry(entry));
  uint32_t after = 0;
  ASSERT_TRUE(Platform::Succeeded(Platform::ReadZoneFlags(Platform::kZoneTrusted, after)));
  EXPECT_EQ(flags_ | Platform::kZoneRequireVerification, after);
}

}  // namespace
}  // namespace Zentrovak::Assistant
