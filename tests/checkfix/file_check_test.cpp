// The shared file test: versions against real PE files with version
// resources (made by the build), digests, and the WOW64 guard.
#include <gtest/gtest.h>

#include "checkfix/check_fix.h"
#include "checkfix/file_check.h"
#include "platform/files.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"
#include "system/version.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::RegView;

using Testing::BuildTreePath;

std::u16string PeFixture(const char* name) { return BuildTreePath(std::string("fixtures/pe/") + name + ".dll"); }

ConfigEntry EntryWith(AttributeMap attributes) {
  ConfigEntry entry;
  entry.attributes = std::move(attributes);
  return entry;
}

TEST(FileMatches, VersionRequirementsAgainstRealVersionBlocks) {
  const struct {
    const char* version;
    const char* file;
    int32_t expected;
  } cases[] = {
      {"1.2", "ver_1_2_0_0", Passed},             // missing numbers are 0
      {">=1.2.3", "ver_1_2_2_9", NeedsUpdate},    // older than required
      {"<2", "ver_1_9_0_0", Passed},
      {"1.2.3.4", "no_version", NeedsUpdate},     // no version block
      {">1.0", "ver_1_0_0_0", NeedsUpdate},       // equal is not newer
      {">=1.2.2.9", "ver_1_2_2_9", Passed},
      {"<=1.2", "ver_1_2_0_0", Passed},
      {"<=1.1.9", "ver_1_2_0_0", NeedsUpdate},
      {"<1.9", "ver_1_9_0_0", NeedsUpdate},
      {">1.1.65535.65535", "ver_1_2_0_0", Passed},  // the high word decides first
      {"=1.2.0.1", "ver_1_2_0_0", NeedsUpdate},
      {"1.2.0.0.7", "ver_1_2_0_0", Passed},       // a fifth number is not read
      {"~1.2", "ver_1_2_0_0", Passed},            // an unknown sign means equal
      {">= 1.9", "ver_1_9_0_0", Passed},          // blanks before the digits skipped
      {"65537.2", "ver_1_2_0_0", Passed},         // numbers modulo 65536
      {"65535.1.2.3", "ver_65535_1_2_3", Passed},
      {"1.2", "ver_65535_1_2_3", NeedsUpdate},    // the file version, not the product version
      {"6.1.7601", "ver_1_2_0_0", NeedsUpdate},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, FileMatches(EntryWith({{"version", c.version}}), PeFixture(c.file)))
        << c.version << " against " << c.file;
  }
  EXPECT_EQ(Failed, FileMatches(EntryWith({{"version", "1.0"}}), PeFixture("not_there")));
  EXPECT_EQ(Failed, FileMatches(EntryWith({}), Testing::NewTempFolder()));  // a folder is no file
  EXPECT_EQ(Passed, FileMatches(EntryWith({}), PeFixture("no_version")));  // nothing required
}

class Digests : public testing::Test {
 protected:
  void SetUp() override { folder_ = Testing::NewTempFolder(); }
  std::u16string Write(const char16_t* name, const std::string& bytes) {
    const std::u16string path = folder_ + u"\\" + name;
    EXPECT_EQ(Platform::kSOk, Platform::WriteWholeFile(path, bytes));
    return path;
  }
  std::u16string folder_;
};

TEST_F(Digests, EveryKindInLowerCaseHex) {
  const std::u16string abc = Write(u"abc.txt", "abc");
  EXPECT_EQ("a448017aaf21d8525fc10ae87aa6729d", FileDigest(abc, DigestMd4));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", FileDigest(abc, DigestMd5));
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", FileDigest(abc, DigestSha1));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", FileDigest(abc, DigestSha256));
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", FileDigest(Write(u"empty", ""), DigestMd5));
  EXPECT_EQ("", FileDigest(abc, 4));
  EXPECT_EQ("", FileDigest(abc, -1));
  EXPECT_EQ("", FileDigest(folder_ + u"\\missing", DigestMd5));
}

TEST_F(Digests, AFileLargerThanOneBlockIsHashedWhole) {
  // The well-known vector: one million "a".
  const std::u16string path = Write(u"million", std::string(1000000, 'a'));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", FileDigest(path, DigestSha1));
}

TEST_F(Digests, FileMatchesComparesDigestsWithoutCase) {
  const std::u16string abc = Write(u"abc.txt", "abc");
  EXPECT_EQ(Passed, FileMatches(EntryWith({{"md5", "900150983CD24FB0D6963F7D28E17F72"}}), abc));
  EXPECT_EQ(Passed, FileMatches(EntryWith({{"sha1", "A9993E364706816ABA3E25717850C26C9CD0D89D"}}), abc));
  EXPECT_EQ(NeedsUpdate, FileMatches(EntryWith({{"md5", "900150983cd24fb0d6963f7d28e17f70"}}), abc));
  EXPECT_EQ(NeedsUpdate,
            FileMatches(EntryWith({{"md5", "900150983cd24fb0d6963f7d28e17f72"}, {"sha1", "00"}}), abc));
  // A text file has no version block.
  EXPECT_EQ(NeedsUpdate,
            FileMatches(EntryWith({{"md5", "900150983cd24fb0d6963f7d28e17f72"}, {"version", "1.0"}}), abc));
}

TEST(RedirectionGuard, OnlyA64BitEntryOn64BitWindowsUsesThe64BitView) {
  // The program's own view: the 32-bit one, asked for explicitly by a
  // 64-bit build of the same sources.
  const RegView own = System::is_64bit_process() ? RegView::Force32 : RegView::Default;
  for (const int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    Testing::WindowsOfBitness windows(bits);
    // The Windows tests run in a 64-bit prefix; 32-bit Windows is the posix
    // machine's case.
    if (!windows.Holds()) continue;
    ConfigEntry plain;
    RedirectionGuard forPlain(plain);
    EXPECT_FALSE(forPlain.Use64BitView());
    EXPECT_EQ(own, forPlain.View());
    ConfigEntry wide = EntryWith({{"bit", "64"}});
    RedirectionGuard forWide(wide);
    EXPECT_EQ(bits == 64, forWide.Use64BitView());
    EXPECT_EQ(bits == 64 ? RegView::Force64 : own, forWide.View());
  }
}

}  // namespace
}  // namespace Zentrovak::Assistant
