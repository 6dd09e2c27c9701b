// Registry entries against the real registry (under Wine) and the posix
// machine's store.
#include <gtest/gtest.h>

#include <cstring>

#include "checkfix/registry_item.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::kHkeyCurrentUser;
using Platform::kHkeyLocalMachine;
using Platform::RegAccess;
using Platform::RegistryKey;
using Platform::RegView;

class RegistryItem : public testing::Test {
 protected:
  void SetUp() override {
    const char* test = testing::UnitTest::GetInstance()->current_test_info()->name();
    base_ = Testing::TestRegistryPath() + u"\\" + Platform::Utf8ToUtf16(test);
    ASSERT_EQ(0u, RegistryKey::Create(kHkeyCurrentUser, base_, RegAccess::ReadWrite, RegView::Default, key_));
  }
  void TearDown() override {
    key_.Close();
    RegistryKey::DeleteTree(kHkeyCurrentUser, base_, RegView::Default);
  }
  ConfigEntry Entry(const std::string& type, const std::string& value, const std::string& extra = {},
                    const std::string& root = "HKCU") {
    ConfigEntry entry;
    entry.text = root + "\\" + Platform::Utf16ToUtf8(base_);
    if (!type.empty()) StoreAttribute(entry.attributes, "type", type);
    StoreAttribute(entry.attributes, "name", "Value");
    StoreAttribute(entry.attributes, "value", value);
    if (!extra.empty()) StoreAttribute(entry.attributes, "mask", extra);
    return entry;
  }
  uint32_t StoredDword() {
    uint32_t value = 0;
    EXPECT_EQ(0u, key_.ReadDword(u"Value", value));
    return value;
  }
  CheckFixRegistry registry_;
  std::u16string base_;
  RegistryKey key_;
};

TEST_F(RegistryItem, DwordUnderAMask) {
  ConfigEntry entry = Entry("reg_dword", "1", "1");
  for (uint32_t stored : {1u, 3u, 0xFFFFFFFFu}) {
    key_.WriteDword(u"Value", stored);
    EXPECT_EQ(Passed, registry_.CheckEntry(entry)) << stored;
    EXPECT_EQ(Passed, registry_.FixEntry(entry));
    EXPECT_EQ(stored, StoredDword());  // a passing value is not written
  }
  key_.WriteDword(u"Value", 6);
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Passed, registry_.FixEntry(entry));
  EXPECT_EQ(7u, StoredDword());  // bits outside the mask keep their values

  // Without a mask all 32 bits count; -1 is all bits set.
  ConfigEntry all = Entry("reg_dword", "-1");
  EXPECT_EQ(Failed, registry_.CheckEntry(all));
  EXPECT_EQ(Passed, registry_.FixEntry(all));
  EXPECT_EQ(0xFFFFFFFFu, StoredDword());
  ConfigEntry digits = Entry("reg_dword", "12abc");
  EXPECT_EQ(Passed, registry_.FixEntry(digits));
  EXPECT_EQ(12u, StoredDword());
  ConfigEntry text = Entry("reg_dword", "abc");
  EXPECT_EQ(Passed, registry_.FixEntry(text));
  EXPECT_EQ(0u, StoredDword());
}

TEST_F(RegistryItem, ADwordStoredAsTextIsNeverWrittenOver) {
  key_.WriteString(u"Value", u"1");
  ConfigEntry entry = Entry("reg_dword", "1");
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Failed, registry_.FixEntry(entry));
  std::u16string stored;
  EXPECT_EQ(0u, key_.ReadString(u"Value", stored));
  EXPECT_EQ(u"1", stored);
}

TEST_F(RegistryItem, AMissingKeyIsCreatedWithTheValueUnmasked) {
  ConfigEntry entry = Entry("reg_dword", "5", "1");
  entry.text += "\\Missing\\Deeper";
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Passed, registry_.FixEntry(entry));
  RegistryKey created;
  ASSERT_EQ(0u, RegistryKey::Open(kHkeyCurrentUser, base_ + u"\\Missing\\Deeper", RegAccess::Read,
                                  RegView::Default, created));
  uint32_t value = 0;
  EXPECT_EQ(0u, created.ReadDword(u"Value", value));
  EXPECT_EQ(5u, value);
  EXPECT_EQ(Passed, registry_.CheckEntry(entry));
}

TEST_F(RegistryItem, TextIsComparedExactly) {
  ConfigEntry entry = Entry("reg_sz", "https://bank.example.cn/");
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));  // missing value
  key_.WriteString(u"Value", u"HTTPS://bank.example.cn/");
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Passed, registry_.FixEntry(entry));
  std::u16string stored;
  key_.ReadString(u"Value", stored);
  EXPECT_EQ(u"https://bank.example.cn/", stored);
  EXPECT_EQ(Passed, registry_.CheckEntry(entry));

  key_.WriteString(u"Value", u"https://bank.example.cn/", Platform::RegType::kExpandSz);
  EXPECT_EQ(Passed, registry_.CheckEntry(entry));
  key_.WriteDword(u"Value", 1);
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Failed, registry_.FixEntry(entry));  // another type stays
  EXPECT_EQ(1u, StoredDword());
  key_.DeleteValue(u"Value");
  ConfigEntry chinese = Entry("reg_sz", "澜屿银行");
  EXPECT_EQ(Passed, registry_.FixEntry(chinese));
  key_.ReadString(u"Value", stored);
  EXPECT_EQ(u"澜屿银行", stored);
}

TEST_F(RegistryItem, BinaryValuesDecodeUpToTheFirstBadPair) {
  EXPECT_EQ((std::vector<uint8_t>{0x0A, 0x0B, 0x0C}), DecodeHexBytes("0a0B0c"));
  EXPECT_EQ((std::vector<uint8_t>{0x0A}), DecodeHexBytes("0a0"));
  EXPECT_EQ((std::vector<uint8_t>{0x0A}), DecodeHexBytes("0aZZ0c"));
  EXPECT_EQ((std::vector<uint8_t>{}), DecodeHexBytes("z"));

  ConfigEntry entry = Entry("reg_binary", "0a0B0c");
  key_.WriteBinary(u"Value", {0x0A, 0x0B, 0x0C});
  EXPECT_EQ(Passed, registry_.CheckEntry(entry));
  key_.WriteBinary(u"Value", {0x0A, 0x0B, 0x0C, 0x0D});
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));  // longer than expected
  key_.WriteBinary(u"Value", {0x0A});
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));  // only a prefix of it
  EXPECT_EQ(Passed, registry_.FixEntry(entry));
  std::vector<uint8_t> stored;
  key_.ReadBinary(u"Value", stored);
  EXPECT_EQ((std::vector<uint8_t>{0x0A, 0x0B, 0x0C}), stored);

  ConfigEntry odd = Entry("reg_binary", "0a0");
  EXPECT_EQ(Passed, registry_.FixEntry(odd));
  key_.ReadBinary(u"Value", stored);
  EXPECT_EQ((std::vector<uint8_t>{0x0A}), stored);
  key_.WriteString(u"Value", u"0a");
  EXPECT_EQ(Failed, registry_.CheckEntry(odd));
  EXPECT_EQ(Failed, registry_.FixEntry(odd));
}

TEST_F(RegistryItem, ExistenceOnlyPassesForAnyTypeAndHasNoRepair) {
  ConfigEntry entry = Entry("", "");
  ConfigEntry other = Entry("REG_DWORD", "1");  // types are lower case
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));
  EXPECT_EQ(Failed, registry_.FixEntry(entry));
  key_.WriteDword(u"Value", 0);
  EXPECT_EQ(Passed, registry_.CheckEntry(entry));
  key_.WriteString(u"Value", u"");
  EXPECT_EQ(Passed, registry_.CheckEntry(other));
  key_.WriteBinary(u"Value", std::vector<uint8_t>(4097, 1));
  EXPECT_EQ(Failed, registry_.CheckEntry(entry));  // beyond the 4096-byte buffer
  EXPECT_EQ(Failed, registry_.FixEntry(other));
}

TEST_F(RegistryItem, RootsAndPathsWithoutABackslash) {
  EXPECT_EQ(kHkeyLocalMachine, RegistryRootForName("hklm"));
  EXPECT_EQ(kHkeyLocalMachine, RegistryRootForName("Hkey_Local_Machine"));
  EXPECT_EQ(Platform::kHkeyClassesRoot, RegistryRootForName("HKCR"));
  EXPECT_EQ(kHkeyCurrentUser, RegistryRootForName("HKU"));
  EXPECT_EQ(kHkeyCurrentUser, RegistryRootForName("HKEY_USERS"));

  ConfigEntry bare;
  bare.text = "HKCU";
  StoreAttribute(bare.attributes, "type", "reg_dword");
  EXPECT_EQ(Failed, registry_.CheckEntry(bare));
  EXPECT_EQ(Failed, registry_.FixEntry(bare));

  // HKU means the current user.
  key_.WriteDword(u"Value", 9);
  ConfigEntry users = Entry("reg_dword", "9", "", "HKU");
  EXPECT_EQ(Passed, registry_.CheckEntry(users));

  // hklm in lower case is the machine.
  const std::u16string machinePath = base_ + u"Machine";
  ConfigEntry machine = Entry("reg_dword", "4", "", "hklm");
  machine.text = "hklm\\" + Platform::Utf16ToUtf8(machinePath);
  EXPECT_EQ(Passed, registry_.FixEntry(machine));
  RegistryKey written;
  EXPECT_EQ(0u, RegistryKey::Open(kHkeyLocalMachine, machinePath, RegAccess::Read, Testing::ProgramRegistryView(),
                                  written));
  written.Close();
  EXPECT_EQ(2u, RegistryKey::Open(kHkeyCurrentUser, machinePath, RegAccess::Read, RegView::Default, written));
  RegistryKey::DeleteTree(kHkeyLocalMachine, Testing::TestRegistryPath(), Testing::ProgramRegistryView());
}

TEST_F(RegistryItem, RegistryToolsPolicyStopsTheCheckAndIsLiftedByTheRepair) {
  const char16_t policyPath[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  RegistryKey policy;
  ASSERT_EQ(0u, RegistryKey::Create(kHkeyCurrentUser, policyPath, RegAccess::ReadWrite, RegView::Default, policy));
  ASSERT_EQ(0u, policy.WriteDword(u"Disableregistrytools", 1));

  std::vector<ConfigEntry> entries{Entry("reg_dword", "3")};
  entries[0].state = Disabled;  // from an earlier run
  EXPECT_EQ(Failed, registry_.CheckAll(entries.data(), entries.size(), false));
  EXPECT_EQ(Disabled, entries[0].state);  // not checked

  EXPECT_EQ(Passed, registry_.FixAll(entries.data(), entries.size()));
  uint32_t value = 0;
  EXPECT_EQ(Platform::kErrorFileNotFound, policy.ReadDword(u"Disableregistrytools", value));
  EXPECT_EQ(3u, StoredDword());
  EXPECT_EQ(Passed, registry_.CheckAll(entries.data(), entries.size(), false));

  policy.WriteDword(u"Disableregistrytools", 0);  // 0 is no policy
  EXPECT_EQ(Passed, registry_.BeginCheck());
  policy.WriteString(u"Disableregistrytools", u"1");  // not a DWORD: no policy
  EXPECT_EQ(Passed, registry_.BeginCheck());
  policy.DeleteValue(u"Disableregistrytools");
}

}  // namespace
}  // namespace Zentrovak::Assistant
