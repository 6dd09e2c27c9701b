// File services with Windows path semantics, the same answers from the real
// Windows calls (under Wine) and from the posix machine.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

using Testing::NewTempFolder;

TEST(FilesConformance, EnvironmentReferences) {
  const std::u16string windir = ExpandEnvironmentReferences(u"%windir%");
  EXPECT_NE(u"%windir%", windir);
  EXPECT_EQ(windir, ExpandEnvironmentReferences(u"%WINDIR%"));  // names without case
  EXPECT_TRUE(DirectoryExists(windir));
  EXPECT_EQ(windir + u"\\system32\\drivers\\etc\\hosts",
            ExpandEnvironmentReferences(u"%SystemRoot%\\system32\\drivers\\etc\\hosts"));
  for (const char16_t* name : {u"%ProgramFiles%", u"%TEMP%", u"%APPDATA%"})
    EXPECT_TRUE(DirectoryExists(ExpandEnvironmentReferences(name))) << ExpandEnvironmentReferences(name).size();
  // Unknown names and lone percent signs stay as written.
  EXPECT_EQ(u"%NoSuchVariable_zq%\\x", ExpandEnvironmentReferences(u"%NoSuchVariable_zq%\\x"));
  EXPECT_EQ(u"100%", ExpandEnvironmentReferences(u"100%"));
  EXPECT_EQ(u"a%%b", ExpandEnvironmentReferences(u"a%%b"));

  ASSERT_TRUE(WriteEnvironmentVariable(u"ZentrovakProbe", u"C:\\probe"));
  EXPECT_EQ(u"C:\\probe\\x", ExpandEnvironmentReferences(u"%zentrovakprobe%\\x"));
  ASSERT_TRUE(WriteEnvironmentVariable(u"ZentrovakProbe", u""));
  EXPECT_FALSE(ReadEnvironmentVariable(u"ZentrovakProbe").has_value());
}

TEST(FilesConformance, WriteReadAndNamesWithoutCase) {
  const std::u16string dir = NewTempFolder();
  const std::u16string path = dir + u"\\Mixed Name.TXT";
  ASSERT_EQ(kSOk, WriteWholeFile(path, std::string("hello\r\n\0world", 14)));
  std::string back;
  ASSERT_EQ(kSOk, ReadWholeFile(dir + u"\\mixed name.txt", back));
  EXPECT_EQ(std::string("hello\r\n\0world", 14), back);
  EXPECT_TRUE(FileExists(dir + u"\\MIXED NAME.txt"));
  EXPECT_FALSE(FileExists(dir));  // a folder is not a file
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_EQ(PathKind::Missing, QueryPath(dir + u"\\none"));
  // Forward slashes and dot segments are taken as Windows takes them.
  EXPECT_TRUE(FileExists(dir + u"/./sub/../Mixed Name.TXT"));
}

TEST(FilesConformance, ErrorsOfMissingFilesAndFolders) {
  const std::u16string dir = NewTempFolder();
  std::string bytes;
  EXPECT_EQ(HResultFromWin32(kErrorFileNotFound), ReadWholeFile(dir + u"\\absent.bin", bytes));
  EXPECT_EQ(HResultFromWin32(kErrorPathNotFound), ReadWholeFile(dir + u"\\no\\absent.bin", bytes));
  EXPECT_EQ(HResultFromWin32(kErrorPathNotFound), WriteWholeFile(dir + u"\\no\\new.bin", "x"));
  EXPECT_EQ(kErrorFileNotFound, RemoveFile(dir + u"\\absent.bin"));
  EXPECT_EQ(kErrorFileNotFound, MovePath(dir + u"\\absent.bin", dir + u"\\b.bin"));
  EXPECT_EQ(kErrorAlreadyExists, MakeDirectory(dir));
  EXPECT_EQ(kErrorPathNotFound, MakeDirectory(dir + u"\\x\\y"));
  EXPECT_EQ(kErrorSuccess, MakeDirectory(dir + u"\\x"));
}

TEST(FilesConformance, MovesDoNotOverwriteUnlessAsked) {
  const std::u16string dir = NewTempFolder();
  ASSERT_EQ(kSOk, WriteWholeFile(dir + u"\\a", "A"));
  ASSERT_EQ(kSOk, WriteWholeFile(dir + u"\\b", "B"));
  EXPECT_EQ(kErrorAlreadyExists, MovePath(dir + u"\\a", dir + u"\\b"));
  EXPECT_EQ(kErrorSuccess, MovePath(dir + u"\\a", dir + u"\\b", true));
  std::string bytes;
  ASSERT_EQ(kSOk, ReadWholeFile(dir + u"\\b", bytes));
  EXPECT_EQ("A", bytes);
  EXPECT_FALSE(FileExists(dir + u"\\a"));
  EXPECT_EQ(kErrorSuccess, MovePath(dir + u"\\b", dir + u"\\c"));
  EXPECT_EQ(kErrorSuccess, RemoveFile(dir + u"\\c"));
  EXPECT_FALSE(FileExists(dir + u"\\c"));
}

TEST(FilesConformance, AnOpenFileCannotBeDeletedRenamedOrOverwritten) {
  const std::u16string dir = NewTempFolder();
  const std::u16string path = dir + u"\\busy.dll";
  ASSERT_EQ(kSOk, WriteWholeFile(path, "MZ"));
  FileStream reader;
  ASSERT_EQ(kErrorSuccess, reader.Open(path, FileStream::Mode::Read));
  EXPECT_EQ(kErrorSharingViolation, RemoveFile(path));
  EXPECT_EQ(HResultFromWin32(kErrorSharingViolation), WriteWholeFile(path, "new"));
  // Others may read while it is open.
  std::string bytes;
  EXPECT_EQ(kSOk, ReadWholeFile(path, bytes));
  EXPECT_EQ(kErrorSharingViolation, MovePath(path, path + u".old"));
  reader.Close();
  EXPECT_EQ(kErrorSuccess, MovePath(path, path + u".old"));
  EXPECT_EQ(kErrorSuccess, RemoveFile(path + u".old"));
}

TEST(FilesConformance, AFileHeldForItsStartCannotBeChangedWhileHeld) {
  const std::u16string dir = NewTempFolder();
  const std::u16string path = dir + u"\\package.exe";
  ASSERT_EQ(kSOk, WriteWholeFile(path, "MZ verified"));
  FileStream held;
  ASSERT_EQ(kErrorSuccess, held.OpenUnchangeable(path));
  EXPECT_EQ(HResultFromWin32(kErrorSharingViolation), WriteWholeFile(path, "MZ other"));
  EXPECT_EQ(kErrorSharingViolation, MovePath(path, path + u".old"));
  EXPECT_EQ(kErrorSharingViolation, RemoveFile(path));
  std::string bytes;
  ASSERT_EQ(kSOk, ReadWholeFile(path, bytes));
  EXPECT_EQ("MZ verified", bytes);
  held.Close();
  EXPECT_EQ(kErrorSuccess, RemoveFile(path));
  EXPECT_EQ(kErrorFileNotFound, held.OpenUnchangeable(path));
}

TEST(FilesConformance, ReplacingAFileIsAllOrNothingAndSparesReadOnlyFiles) {
  const std::u16string dir = NewTempFolder();
  const std::u16string path = dir + u"\\hosts";
  ASSERT_EQ(kSOk, WriteWholeFile(path, "old\r\n"));
  EXPECT_EQ(kErrorSuccess, ReplaceFileContents(path, "new\r\n"));
  std::string bytes;
  ASSERT_EQ(kSOk, ReadWholeFile(path, bytes));
  EXPECT_EQ("new\r\n", bytes);
  EXPECT_FALSE(FileExists(path + u".new"));

  ASSERT_TRUE(Testing::SetReadOnly(path, true));
  EXPECT_EQ(kErrorAccessDenied, ReplaceFileContents(path, "changed\r\n"));
  ASSERT_EQ(kSOk, ReadWholeFile(path, bytes));
  EXPECT_EQ("new\r\n", bytes);
  EXPECT_FALSE(FileExists(path + u".new"));
  ASSERT_TRUE(Testing::SetReadOnly(path, false));

  EXPECT_EQ(kErrorFileNotFound, ReplaceFileContents(dir + u"\\absent", "x"));
  EXPECT_FALSE(FileExists(dir + u"\\absent"));
}

TEST(FilesConformance, StreamsReadAndWriteInBlocks) {
  const std::u16string path = NewTempFolder() + u"\\blocks.bin";
  FileStream writer;
  ASSERT_EQ(kErrorSuccess, writer.Open(path, FileStream::Mode::CreateAlways));
  std::string block(4096, 'z');
  for (int i = 0; i < 3; ++i) ASSERT_EQ(kErrorSuccess, writer.Write(block.data(), 4096));
  writer.Close();
  FileStream reader;
  ASSERT_EQ(kErrorSuccess, reader.Open(path, FileStream::Mode::Read));
  size_t total = 0;
  char buffer[5000];
  for (uint32_t got = 1; got > 0; total += got) ASSERT_EQ(kErrorSuccess, reader.Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(3u * 4096, total);
  FileStream missing;
  EXPECT_EQ(kErrorFileNotFound, missing.Open(path + u"x", FileStream::Mode::Read));
  EXPECT_FALSE(missing.IsOpen());
}

TEST(FilesConformance, MovesScheduledForTheNextRestart) {
  const std::u16string dir = NewTempFolder();
  ASSERT_EQ(kSOk, WriteWholeFile(dir + u"\\pending.new", "N"));
  ASSERT_EQ(kErrorSuccess, MoveFileAtRestart(dir + u"\\pending.new", dir + u"\\pending.dll"));
  ASSERT_EQ(kErrorSuccess, MoveFileAtRestart(dir + u"\\pending.new", u""));
  // Both systems keep the list where Windows keeps it.
  RegistryKey key;
  ASSERT_EQ(kErrorSuccess, RegistryKey::Open(kHkeyLocalMachine, u"System\\CurrentControlSet\\Control\\Session Manager",
                                             RegAccess::Read, RegView::Default, key));
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(kErrorSuccess, key.ReadRaw(u"PendingFileRenameOperations", type, data));
  EXPECT_EQ(RegType::kMultiSz, type);
  const std::u16string list(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
  EXPECT_NE(std::u16string::npos, list.find(u"pending.dll"));
  // Nothing moves before the restart.
  EXPECT_TRUE(FileExists(dir + u"\\pending.new"));
}

TEST(FilesConformance, ProgramPathAndSpecialFolders) {
  const std::u16string self = ModuleFilePath();
  ASSERT_GT(self.size(), 3u);
  EXPECT_EQ(u':', self[1]);
  EXPECT_TRUE(FileExists(self));
  EXPECT_EQ(u"conformance_tests", FileNamePart(self).substr(0, 17));
  EXPECT_TRUE(DirectoryExists(ParentPath(self)));
  EXPECT_EQ(ExpandEnvironmentReferences(u"%ProgramFiles%"), SpecialFolderPath(0x26));
  EXPECT_TRUE(DirectoryExists(SpecialFolderPath(0x24)));
  EXPECT_TRUE(DirectoryExists(CurrentDirectory()));
}

}  // namespace
}  // namespace Zentrovak::Platform
