#include <gtest/gtest.h>

#include "app/settings.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::App {
namespace {

using Platform::RegistryKey;

class SettingsStore : public testing::Test {
 protected:
  void SetUp() override {
    SetSettingsRegistryKey(u"ZentrovakSettingsTest");
    RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, u"Software\\ZentrovakSettingsTest", Platform::RegView::Default);
  }
  void TearDown() override {
    RegistryKey::DeleteTree(Platform::kHkeyCurrentUser, u"Software\\ZentrovakSettingsTest", Platform::RegView::Default);
    SetSettingsRegistryKey(u"");
  }
  // Writes a raw value straight into the section, as another program might.
  void WriteRaw(const char16_t* name, uint32_t type, const void* data, uint32_t size) {
    RegistryKey key;
    ASSERT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, SettingsKeyPath(kSettingsSection),
                                      Platform::RegAccess::ReadWrite, Platform::RegView::Default, key));
    ASSERT_EQ(0u, key.SetValue(name, type, data, size));
  }
};

TEST_F(SettingsStore, LivesUnderTheMakerAndProgramName) {
  ASSERT_TRUE(WriteSettingString(kSettingsSection, u"ResUrl", u"http://127.0.0.1:1/page.html"));
  RegistryKey key;
  ASSERT_EQ(0u, RegistryKey::Open(Platform::kHkeyCurrentUser,
                                  u"Software\\ZentrovakSettingsTest\\" + ApplicationName() + u"\\Settings",
                                  Platform::RegAccess::Read, Platform::RegView::Default, key));
  std::u16string text;
  EXPECT_EQ(0u, key.ReadString(u"ResUrl", text));
  EXPECT_EQ(u"http://127.0.0.1:1/page.html", text);
  EXPECT_EQ(u"app_tests", ApplicationName());
  EXPECT_EQ(u"http://127.0.0.1:1/page.html", ReadSettingString(kSettingsSection, u"resurl", u""));
}

TEST_F(SettingsStore, DefaultsForValuesNeverWritten) {
  EXPECT_EQ(1, ReadSettingInt(kSettingsSection, u"UserType", 1));  // as the check commands read it
  EXPECT_EQ(0, ReadSettingInt(kSettingsSection, u"UserType", 0));  // as the page reads it
  EXPECT_EQ(u"", ReadSettingString(kSettingsSection, u"ResUrl", u""));
  EXPECT_EQ(u"1", ReadSettingString(kSettingsSection, u"Ccloses", u"1"));
}

TEST_F(SettingsStore, NumbersAndBooleans) {
  ASSERT_TRUE(WriteSettingInt(kSettingsSection, u"IsFirstTime", 0));  // the page's false
  EXPECT_EQ(0, ReadSettingInt(kSettingsSection, u"IsFirstTime", 2));
  ASSERT_TRUE(WriteSettingInt(kSettingsSection, u"Flag", -1));  // the page's true
  EXPECT_EQ(-1, ReadSettingInt(kSettingsSection, u"Flag", 0));
  RegistryKey key;
  ASSERT_EQ(0u, RegistryKey::Open(Platform::kHkeyCurrentUser, SettingsKeyPath(kSettingsSection),
                                  Platform::RegAccess::Read, Platform::RegView::Default, key));
  uint32_t stored = 0;
  EXPECT_EQ(0u, key.ReadDword(u"Flag", stored));
  EXPECT_EQ(0xFFFFFFFFu, stored);
}

TEST_F(SettingsStore, DataOfOtherTypes) {
  // Data that fits into four bytes is the number whatever its type; longer
  // data gives the default.
  WriteRaw(u"ShortText", Platform::RegType::kSz, u"1", 4);
  EXPECT_EQ(0x31, ReadSettingInt(kSettingsSection, u"ShortText", 9));
  const uint8_t eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  WriteRaw(u"Wide", Platform::RegType::kBinary, eight, sizeof eight);
  EXPECT_EQ(9, ReadSettingInt(kSettingsSection, u"Wide", 9));
  const uint8_t two[2] = {5, 0};
  WriteRaw(u"Short", Platform::RegType::kBinary, two, sizeof two);
  EXPECT_EQ(5, ReadSettingInt(kSettingsSection, u"Short", 9));
  // Any existing value reads as text.
  ASSERT_TRUE(WriteSettingInt(kSettingsSection, u"Num", 0x00420041));
  EXPECT_EQ(u"AB", ReadSettingString(kSettingsSection, u"Num", u"default"));
}

TEST_F(SettingsStore, NoStoreBeforeTheMakerKeyIsSet) {
  SetSettingsRegistryKey(u"");
  EXPECT_FALSE(WriteSettingInt(kSettingsSection, u"x", 1));
  EXPECT_EQ(7, ReadSettingInt(kSettingsSection, u"x", 7));
}

TEST_F(SettingsStore, DeploymentValuesFollowTheirSettings) {
  EXPECT_EQ(DownloadServer() + u"/download/itemV3.xml", DefaultConfigurationUrl());
  // The configuration names the packages run elevated: it comes over https.
  EXPECT_EQ(0u, DefaultConfigurationUrl().rfind(u"https://", 0)) << Platform::Utf16ToUtf8(DefaultConfigurationUrl());
  ASSERT_TRUE(WriteSettingString(kSettingsSection, u"DownloadServer", u"http://127.0.0.1:8080/"));
  EXPECT_EQ(u"http://127.0.0.1:8080/download/itemV3.xml", DefaultConfigurationUrl());
  ASSERT_TRUE(WriteSettingString(kSettingsSection, u"ProbeSite", u"http://127.0.0.1:8081/"));
  EXPECT_EQ(u"http://127.0.0.1:8081/", PublicProbeSite());
}

}  // namespace
}  // namespace Zentrovak::App
