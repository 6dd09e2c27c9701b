// What the posix machine's files keep that Windows keeps with ACLs: a
// replaced file keeps its owner and mode, and a package is started only
// from where nobody but the program's user can change it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/posix/host_paths.h"
#include "support/test_support.h"

namespace Zentrovak::Platform {
namespace {

using Testing::NewTempFolder;

std::string Host(const std::u16string& path) { return Posix::ToHostPath(path).path; }

TEST(FilesPosix, AReplacedFileKeepsItsModeAndOwner) {
  const std::u16string path = NewTempFolder() + u"\\hosts";
  ASSERT_EQ(kSOk, WriteWholeFile(path, "old\n"));
  ASSERT_EQ(0, ::chmod(Host(path).c_str(), 0640));
  // Root can hand the file to another user, as a system file belongs to
  // the system rather than to the program that repairs it.
  const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
  if (::geteuid() == 0) ASSERT_EQ(0, ::chown(Host(path).c_str(), owner, 65534));

  ASSERT_EQ(kErrorSuccess, ReplaceFileContents(path, "new\n"));
  struct stat st {};
  ASSERT_EQ(0, ::stat(Host(path).c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(owner, st.st_uid);
  std::string bytes;
  ASSERT_EQ(kSOk, ReadWholeFile(path, bytes));
  EXPECT_EQ("new\n", bytes);
}

TEST(FilesPosix, APackageIsHeldOnlyWhereNobodyElseCanChangeIt) {
  struct Case {
    const char* what;
    mode_t folderMode;
    mode_t fileMode;
    bool link;
    bool held;
  } const cases[] = {
      {"own folder and file", 0755, 0644, false, true},
      {"a folder others may write", 0777, 0644, false, false},
      {"a folder its group may write", 0775, 0644, false, false},
      {"a sticky folder others may write", 01777, 0644, false, true},
      {"a file others may write", 0755, 0646, false, false},
      {"a link to the package", 0755, 0644, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string folder = NewTempFolder() + u"\\Download";
    ASSERT_EQ(kErrorSuccess, MakeDirectory(folder));
    const std::u16string file = folder + u"\\setup.exe";
    ASSERT_EQ(kSOk, WriteWholeFile(file, "MZ"));
    ASSERT_EQ(0, ::chmod(Host(file).c_str(), c.fileMode));
    std::u16string opened = file;
    if (c.link) {
      opened = folder + u"\\link.exe";
      ASSERT_EQ(0, ::symlink(Host(file).c_str(), Host(opened).c_str()));
    }
    ASSERT_EQ(0, ::chmod(Host(folder).c_str(), c.folderMode));
    FileStream held;
    EXPECT_EQ(c.held ? kErrorSuccess : kErrorAccessDenied, held.OpenUnchangeable(opened));
    EXPECT_EQ(c.held, held.IsOpen());
  }
}

}  // namespace
}  // namespace Zentrovak::Platform
