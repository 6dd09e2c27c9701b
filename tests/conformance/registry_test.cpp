// The registry service, run against the real registry (under Wine) and the
// posix machine's store alike: both must give the same answers.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

using Testing::TestRegistryPath;

class RegistryConformance : public testing::Test {
 protected:
  void SetUp() override {
    base_ = TestRegistryPath() + u"\\" +
            std::u16string(testing::UnitTest::GetInstance()->current_test_info()->name(),
                           testing::UnitTest::GetInstance()->current_test_info()->name() +
                               std::strlen(testing::UnitTest::GetInstance()->current_test_info()->name()));
    ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_, RegAccess::ReadWrite,
                                                 RegView::Default, key_));
  }
  void TearDown() override {
    key_.Close();
    RegistryKey::DeleteTree(kHkeyCurrentUser, base_, RegView::Default);
  }
  std::u16string base_;
  RegistryKey key_;
};

TEST_F(RegistryConformance, TypedValuesRoundTrip) {
  ASSERT_EQ(kErrorSuccess, key_.WriteDword(u"Number", 0xFFFFFFFEu));
  ASSERT_EQ(kErrorSuccess, key_.WriteString(u"Text", u"澜屿银行"));
  ASSERT_EQ(kErrorSuccess, key_.WriteString(u"Expand", u"%windir%\\x", RegType::kExpandSz));
  ASSERT_EQ(kErrorSuccess, key_.WriteBinary(u"Bytes", {0x0A, 0x00, 0xFF}));

  uint32_t number = 0;
  EXPECT_EQ(kErrorSuccess, key_.ReadDword(u"Number", number));
  EXPECT_EQ(0xFFFFFFFEu, number);
  std::u16string text;
  EXPECT_EQ(kErrorSuccess, key_.ReadString(u"Text", text));
  EXPECT_EQ(u"澜屿银行", text);
  EXPECT_EQ(kErrorSuccess, key_.ReadString(u"Expand", text));
  EXPECT_EQ(u"%windir%\\x", text);  // stored, not expanded
  std::vector<uint8_t> bytes;
  EXPECT_EQ(kErrorSuccess, key_.ReadBinary(u"Bytes", bytes));
  EXPECT_EQ((std::vector<uint8_t>{0x0A, 0x00, 0xFF}), bytes);

  uint32_t type = 0, size = 0;
  EXPECT_EQ(kErrorSuccess, key_.QueryValue(u"Text", &type, nullptr, &size));
  EXPECT_EQ(RegType::kSz, type);
  EXPECT_EQ(10u, size);  // four characters and the terminator
  EXPECT_EQ(kErrorSuccess, key_.QueryValue(u"Bytes", &type, nullptr, &size));
  EXPECT_EQ(RegType::kBinary, type);
  EXPECT_EQ(3u, size);
}

TEST_F(RegistryConformance, NamesAreComparedWithoutCase) {
  ASSERT_EQ(kErrorSuccess, key_.WriteDword(u"MixedCase", 7));
  uint32_t value = 0;
  EXPECT_EQ(kErrorSuccess, key_.ReadDword(u"mixedcase", value));
  EXPECT_EQ(7u, value);
  ASSERT_EQ(kErrorSuccess, key_.WriteDword(u"MIXEDCASE", 8));  // the same value
  std::vector<std::u16string> names;
  ASSERT_EQ(kErrorSuccess, key_.EnumValueNames(names));
  ASSERT_EQ(1u, names.size());

  RegistryKey child;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\Sub\\Deeper",
                                               RegAccess::ReadWrite, RegView::Default, child));
  RegistryKey again;
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, base_ + u"\\SUB\\deeper",
                                             RegAccess::Read, RegView::Default, again));
  bool created = true;
  EXPECT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\sub", RegAccess::ReadWrite,
                                               RegView::Default, again, &created));
  EXPECT_FALSE(created);
}

TEST_F(RegistryConformance, MissingKeysAndValuesGiveTheirErrors) {
  RegistryKey missing;
  EXPECT_EQ(kErrorFileNotFound, RegistryKey::Open(kHkeyCurrentUser, base_ + u"\\NoSuchKey", RegAccess::Read,
                                                  RegView::Default, missing));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(kErrorFileNotFound, RegistryKey::Open(kHkeyCurrentUser, base_ + u"\\No\\Such\\Path",
                                                  RegAccess::Read, RegView::Default, missing));
  uint32_t value = 0;
  EXPECT_EQ(kErrorFileNotFound, key_.ReadDword(u"Absent", value));
  EXPECT_EQ(kErrorFileNotFound, key_.DeleteValue(u"Absent"));
  EXPECT_EQ(kErrorFileNotFound, RegistryKey::DeleteTree(kHkeyCurrentUser, base_ + u"\\NoSuchKey",
                                                        RegView::Default));
}

TEST_F(RegistryConformance, WrongTypesAndSmallBuffers) {
  ASSERT_EQ(kErrorSuccess, key_.WriteString(u"Text", u"12"));
  ASSERT_EQ(kErrorSuccess, key_.WriteDword(u"Number", 5));
  ASSERT_EQ(kErrorSuccess, key_.WriteBinary(u"Bytes", {1, 2, 3, 4, 5, 6}));

  uint32_t number = 0;
  EXPECT_EQ(kErrorUnsupportedType, key_.ReadDword(u"Text", number));
  EXPECT_EQ(kErrorUnsupportedType, key_.ReadDword(u"Bytes", number));
  std::u16string text;
  EXPECT_EQ(kErrorUnsupportedType, key_.ReadString(u"Number", text));
  std::vector<uint8_t> bytes;
  EXPECT_EQ(kErrorUnsupportedType, key_.ReadBinary(u"Text", bytes));

  // A text into a four-byte buffer: more data, the size needed, the buffer
  // untouched.
  uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  uint32_t type = 0, size = sizeof buffer;
  EXPECT_EQ(kErrorMoreData, key_.QueryValue(u"Text", &type, buffer, &size));
  EXPECT_EQ(RegType::kSz, type);
  EXPECT_EQ(6u, size);
  EXPECT_EQ(0xAA, buffer[0]);
  // A DWORD read raw into a text-sized buffer is just its bytes.
  uint8_t wide[8] = {};
  size = sizeof wide;
  EXPECT_EQ(kErrorSuccess, key_.QueryValue(u"Number", &type, wide, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(5, wide[0]);
  // Limits given by the caller.
  EXPECT_EQ(kErrorMoreData, key_.ReadBinary(u"Bytes", bytes, 4));
  EXPECT_EQ(kErrorMoreData, key_.ReadString(u"Text", text, 2));
}

TEST_F(RegistryConformance, TextWithoutTerminatorGetsOne) {
  // The data given stops before the terminator, but the terminator is there
  // in memory: Windows looks at the character after the data and adds it
  // only when that one is NUL, so the buffer must own that character.
  const char16_t raw[] = u"ab";
  ASSERT_EQ(kErrorSuccess, key_.SetValue(u"Raw", RegType::kSz, raw, 2 * sizeof(char16_t)));
  uint32_t type = 0, size = 0;
  ASSERT_EQ(kErrorSuccess, key_.QueryValue(u"Raw", &type, nullptr, &size));
  EXPECT_EQ(6u, size);
  std::u16string text;
  EXPECT_EQ(kErrorSuccess, key_.ReadString(u"Raw", text));
  EXPECT_EQ(u"ab", text);
}

TEST_F(RegistryConformance, DeletingValuesKeysAndTrees) {
  RegistryKey leaf;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\Tree\\A\\B", RegAccess::ReadWrite,
                                               RegView::Default, leaf));
  ASSERT_EQ(kErrorSuccess, leaf.WriteDword(u"v", 1));
  ASSERT_EQ(kErrorSuccess, key_.WriteDword(u"Keep", 1));
  ASSERT_EQ(kErrorSuccess, key_.DeleteValue(u"keep"));
  uint32_t value = 0;
  EXPECT_EQ(kErrorFileNotFound, key_.ReadDword(u"Keep", value));

  // A key with subkeys is not deleted by the single-key deletion.
  EXPECT_NE(kErrorSuccess, key_.DeleteSubkey(u"Tree"));
  EXPECT_EQ(kErrorSuccess, RegistryKey::DeleteTree(kHkeyCurrentUser, base_ + u"\\Tree", RegView::Default));
  RegistryKey gone;
  EXPECT_EQ(kErrorFileNotFound, RegistryKey::Open(kHkeyCurrentUser, base_ + u"\\Tree\\A", RegAccess::Read,
                                                  RegView::Default, gone));
  std::vector<std::u16string> names;
  ASSERT_EQ(kErrorSuccess, key_.EnumSubkeys(names));
  EXPECT_TRUE(names.empty());

  RegistryKey single;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\Single", RegAccess::ReadWrite,
                                               RegView::Default, single));
  single.Close();
  EXPECT_EQ(kErrorSuccess, key_.DeleteSubkey(u"single"));
  EXPECT_EQ(kErrorFileNotFound, key_.DeleteSubkey(u"single"));
}

TEST_F(RegistryConformance, WritingThroughAReadOnlyHandleIsDenied) {
  RegistryKey readOnly;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, base_, RegAccess::Read, RegView::Default, readOnly));
  EXPECT_EQ(kErrorAccessDenied, readOnly.WriteDword(u"x", 1));
  EXPECT_EQ(kErrorAccessDenied, readOnly.DeleteValue(u"x"));
}

TEST_F(RegistryConformance, BadRootsAndPaths) {
  RegistryKey key;
  EXPECT_EQ(kErrorInvalidHandle, RegistryKey::Open(0x12345678u, u"Software", RegAccess::Read, RegView::Default, key));
  EXPECT_EQ(kErrorInvalidHandle,
            RegistryKey::Create(0x80000010u, u"Software", RegAccess::ReadWrite, RegView::Default, key));
  EXPECT_EQ(kErrorInvalidHandle, RegistryKey::DeleteTree(0x12345678u, u"Software", RegView::Default));

  // A key name of more than 255 characters cannot exist.
  const std::u16string longName(300, u'k');
  const auto error = RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\" + longName, RegAccess::ReadWrite,
                                         RegView::Default, key);
  EXPECT_EQ(kErrorInvalidParameter, error);
  EXPECT_FALSE(key.IsOpen());
  // The empty path opens the root itself.
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, u"", RegAccess::Read, RegView::Default, key));
  // Both views are accepted (a 32-bit machine has one registry).
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, base_, RegAccess::Read, RegView::Force64, key));
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyCurrentUser, base_, RegAccess::Read, RegView::Force32, key));
}

TEST_F(RegistryConformance, OverLongValueNameIsRefused) {
  const std::u16string longName(16384, u'v');
  EXPECT_NE(kErrorSuccess, key_.WriteDword(longName, 1));
  const std::u16string atLimit(16383, u'v');
  EXPECT_EQ(kErrorSuccess, key_.WriteDword(atLimit, 1));
}

TEST_F(RegistryConformance, LargeValuesRoundTrip) {
  std::vector<uint8_t> big(300000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(kErrorSuccess, key_.WriteBinary(u"Big", big));
  std::vector<uint8_t> back;
  ASSERT_EQ(kErrorSuccess, key_.ReadBinary(u"Big", back));
  EXPECT_EQ(big, back);
}

TEST_F(RegistryConformance, HandleOfADeletedKey) {
  RegistryKey child;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyCurrentUser, base_ + u"\\Doomed", RegAccess::ReadWrite,
                                               RegView::Default, child));
  ASSERT_EQ(kErrorSuccess, RegistryKey::DeleteTree(kHkeyCurrentUser, base_ + u"\\Doomed", RegView::Default));
  EXPECT_EQ(kErrorKeyDeleted, child.WriteDword(u"x", 1));
  uint32_t value = 0;
  EXPECT_EQ(kErrorKeyDeleted, child.ReadDword(u"x", value));
}

TEST_F(RegistryConformance, ClassesRootIsMachineClasses) {
  const std::u16string sub = u"CLSID\\{00000000-5A5A-0000-0000-" + std::u16string(u"000000000001}");
  RegistryKey viaRoot;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Create(kHkeyClassesRoot, sub, RegAccess::ReadWrite, RegView::Default, viaRoot));
  ASSERT_EQ(kErrorSuccess, viaRoot.WriteString(u"", u"server.dll"));
  RegistryKey viaMachine;
  EXPECT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyLocalMachine, u"Software\\Classes\\" + sub, RegAccess::Read,
                                             RegView::Default, viaMachine));
  std::u16string text;
  EXPECT_EQ(kErrorSuccess, viaMachine.ReadString(u"", text));
  EXPECT_EQ(u"server.dll", text);
  viaRoot.Close();
  viaMachine.Close();
  EXPECT_EQ(kErrorSuccess, RegistryKey::DeleteTree(kHkeyClassesRoot, sub, RegView::Default));
}

}  // namespace
}  // namespace Zentrovak::Platform
