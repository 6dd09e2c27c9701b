// The start-up rules: the command line, the page of each mode, the tray
// helper's command line, the recycle bin and the carried library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/test_support.h"
#include "ui/resources.h"

namespace Zentrovak::App {
namespace {

using Args = std::vector<std::u16string>;

TEST(CommandLine, SplitsAsTheWindowsShellDoes) {
  const struct {
    const char16_t* line;
    Args args;
  } cases[] = {
      {u"app.exe", {u"app.exe"}},
      {u"app.exe 2", {u"app.exe", u"2"}},
      {u"\"C:\\Program Files\\X\\app.exe\" 2", {u"C:\\Program Files\\X\\app.exe", u"2"}},
      {u"app.exe   1 2  ", {u"app.exe", u"1", u"2"}},
      {u"app.exe \"a b\" c", {u"app.exe", u"a b", u"c"}},
      {u"app.exe a\\\"b", {u"app.exe", u"a\"b"}},
      {u"app.exe \"a\\\\\" b", {u"app.exe", u"a\\", u"b"}},
      {u"app.exe a\\\\b", {u"app.exe", u"a\\\\b"}},
      {u"app.exe \"\"", {u"app.exe", u""}},
      {u"app.exe \"a\"\"b\"", {u"app.exe", u"a\"b"}},
      {u"app.exe\t3", {u"app.exe", u"3"}},
      {u"C:\\x\\app.exe\"quoted\" 1", {u"C:\\x\\app.exe\"quoted\"", u"1"}},
      {u"", {u""}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << Platform::Utf16ToUtf8(c.line);
}

TEST(CommandLine, PageModeFromOneArgumentAtMost) {
  int32_t mode = 99;
  EXPECT_TRUE(PageModeFromArguments({u"app"}, mode));
  EXPECT_EQ(mode, 0);
  const std::pair<const char16_t*, int32_t> values[] = {
      {u"2", 2}, {u"abc", 0}, {u"  -1", -1}, {u"+5x", 5}, {u"7", 7}, {u"", 0}, {u"99999999999", 2147483647}};
  for (const auto& [text, expected] : values) {
    EXPECT_TRUE(PageModeFromArguments({u"app", text}, mode));
    EXPECT_EQ(mode, expected) << Platform::Utf16ToUtf8(text);
  }
  EXPECT_FALSE(PageModeFromArguments({u"app", u"1", u"2"}, mode));
  EXPECT_FALSE(PageModeFromArguments({}, mode));
}

TEST(PageSelection, EachModeHasItsPage) {
  const std::pair<int32_t, uint32_t> pages[] = {{0, 129}, {1, 129}, {2, 130}, {3, 131},
                                                {4, 132}, {5, 133}, {6, 0},   {-1, 0}};
  for (const auto& [mode, page] : pages) EXPECT_EQ(HtmlResourceForPageMode(mode), page) << mode;
}

TEST(TrayHelper, CommandLineCharacterForCharacter) {
  EXPECT_EQ(TrayHelperCommandLine(u"C:\\Program Files\\X\\app.exe", 1),
            u"\"C:\\Program Files\\X\\RUDivIrav.exe\" app.exe 103 102 128 1");
  EXPECT_EQ(TrayHelperCommandLine(u"C:\\a.b\\NetBankAssistant.exe", 0),
            u"\"C:\\a.b\\RUDivIrav.exe\" NetBankAssistant.exe 103 102 128 0");
  EXPECT_EQ(TrayHelperCommandLine(u"app.exe", 1), u"\"RUDivIrav.exe\" app.exe 103 102 128 1");
  // The running program's own line names its own folder and file.
  const std::u16string own = TrayHelperCommandLine(1);
  const std::u16string module = Platform::ModuleFilePath();
  EXPECT_EQ(own, u"\"" + Platform::ParentPath(module) + u"\\RUDivIrav.exe\" " + Platform::FileNamePart(module) +
                     u" 103 102 128 1");
}

TEST(RecycleBin, MovesFilesAndFoldersAwayAndRefusesLongPaths) {
  const std::u16string folder = Testing::NewTempFolder();
  const std::u16string file = folder + u"\\old.dll";
  ASSERT_EQ(Platform::WriteWholeFile(file, "bytes"), 0);
  EXPECT_TRUE(DeleteToRecycleBin(file));
  EXPECT_FALSE(Platform::FileExists(file));

  const std::u16string inner = folder + u"\\" + kLegacyFolderName;
  ASSERT_EQ(Platform::MakeDirectory(inner), 0u);
  ASSERT_EQ(Platform::WriteWholeFile(inner + u"\\x.txt", "x"), 0);
  EXPECT_TRUE(DeleteToRecycleBin(inner));
  EXPECT_FALSE(Platform::DirectoryExists(inner));

  EXPECT_FALSE(DeleteToRecycleBin(folder + u"\\missing.txt"));

  std::u16string longPath = folder + u"\\";
  longPath += std::u16string(256 - longPath.size(), u'a');
  ASSERT_EQ(longPath.size(), 256u);
  ASSERT_EQ(Platform::WriteWholeFile(longPath, "kept"), 0);
  EXPECT_FALSE(DeleteToRecycleBin(longPath));
  EXPECT_TRUE(Platform::FileExists(longPath));
  Platform::RemoveFile(longPath);
}

TEST(CarriedLibrary, IsWrittenToTheCurrentFolderAndAnOpenOldCopyIsKept) {
  const auto resource = UI::FindTypedResource(u"PE", kCarriedAssistLibraryResource);
  ASSERT_TRUE(resource && resource->size > 0);
  const std::string expected(reinterpret_cast<const char*>(resource->data), resource->size);

  ASSERT_EQ(Platform::WriteWholeFile(kCarriedAssistLibrary, "old copy"), 0);
  EXPECT_TRUE(ExtractEmbeddedLibrary(kCarriedAssistLibraryResource));
  std::string written;
  ASSERT_EQ(Platform::ReadWholeFile(kCarriedAssistLibrary, written), 0);
  EXPECT_EQ(written, expected);

  {
    // In use by another program: it cannot be moved, so it stays as it is.
    ASSERT_EQ(Platform::WriteWholeFile(kCarriedAssistLibrary, "in use"), 0);
    Platform::FileStream holder;
    ASSERT_EQ(holder.Open(kCarriedAssistLibrary, Platform::FileStream::Mode::Read), 0u);
    EXPECT_FALSE(ExtractEmbeddedLibrary(kCarriedAssistLibraryResource));
  }
  ASSERT_EQ(Platform::ReadWholeFile(kCarriedAssistLibrary, written), 0);
  EXPECT_EQ(written, "in use");
  EXPECT_FALSE(ExtractEmbeddedLibrary(999));
  Platform::RemoveFile(kCarriedAssistLibrary);
}

}  // namespace
}  // namespace Zentrovak::App
