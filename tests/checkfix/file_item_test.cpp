// File entries: the check with environment references, the repair by
// download from a loopback server, and the replacement of a file in use.
#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <stdlib.h>
#include <unistd.h>
#endif

#include "checkfix/file_item.h"
#include "platform/files.h"
#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif
#include "platform/text.h"
#include "pending_operations.h"
#include "support/fixture_paths.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

std::string Contents(const std::u16string& path) {
  std::string bytes;
  Platform::ReadWholeFile(path, bytes);
  return bytes;
}

class FileItem : public testing::Test {
 protected:
  void SetUp() override { folder_ = Testing::NewTempFolder(); }
  void TearDown() override { InstallConfiguration(nullptr); }
  ConfigEntry Entry(const std::string& text, AttributeMap attributes = {}) {
    ConfigEntry entry;
    entry.text = text;
    entry.attributes = std::move(attributes);
    return entry;
  }
  std::u16string folder_;
  CheckFixFile file_;
};

TEST_F(FileItem, ThePathMayNameEnvironmentVariables) {
  const std::u16string temp = Platform::ExpandEnvironmentReferences(u"%TEMP%");
  ASSERT_EQ(0u, folder_.rfind(temp, 0));
  const std::u16string path = folder_ + u"\\abc.txt";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(path, "abc"));
  ConfigEntry entry =
      Entry(Platform::Utf16ToUtf8(u"%TEMP%" + path.substr(temp.size())), {{"md5", "900150983cd24fb0d6963f7d28e17f72"}});
  EXPECT_EQ(Passed, file_.CheckEntry(entry));
  entry.attributes["md5"] = "00";
  EXPECT_EQ(NeedsUpdate, file_.CheckEntry(entry));
  entry.text += ".gone";
  EXPECT_EQ(Failed, file_.CheckEntry(entry));
}

TEST_F(FileItem, TheRepairDownloadsTheFileAgain) {
  Testing::LoopbackServer server;
  ASSERT_TRUE(server.Started());
  server.Serve("/files/x.dll", "new contents");
  auto model = std::make_shared<ItemConfiguration>();
  model->rootAttributes["base"] = Platform::Utf16ToUtf8(server.Url("/files/"));
  InstallConfiguration(model);

  const std::u16string path = folder_ + u"\\x.dll";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(path, "old contents"));
  ConfigEntry entry = Entry(Platform::Utf16ToUtf8(path), {{"remote", "x.dll"}});
  static int lastPercent = -1;
  static int32_t lastUserValue = 0;
  AttachDownloadNotify(entry, [](const Network::DownloadProgress* p) {
    lastPercent = p->percent;
    lastUserValue = p->userValue;
    return true;
  }, 5);
  EXPECT_EQ(Passed, file_.FixEntry(entry));
  EXPECT_EQ("new contents", Contents(path));
  EXPECT_FALSE(Platform::FileExists(path + u".download"));
  EXPECT_FALSE(Platform::FileExists(path + u".old"));
  EXPECT_EQ(1, server.Requests("/files/x.dll"));
  EXPECT_EQ(100, lastPercent);  // the attached callback saw the download end
  EXPECT_EQ(5, lastUserValue);

  // An absolute address is used as it is; a missing file is simply made.
  const std::u16string fresh = folder_ + u"\\fresh.dll";
  ConfigEntry absolute = Entry(Platform::Utf16ToUtf8(fresh), {{"remote", Platform::Utf16ToUtf8(server.Url("/files/x.dll"))}});
  EXPECT_EQ(Passed, file_.FixEntry(absolute));
  EXPECT_EQ("new contents", Contents(fresh));
}

TEST_F(FileItem, WithoutAnAddressOrAServerThereIsNoRepair) {
  const std::u16string path = folder_ + u"\\x.dll";
  ConfigEntry noAddress = Entry(Platform::Utf16ToUtf8(path));
  EXPECT_EQ(NotSupported, file_.FixEntry(noAddress));
  ConfigEntry noServer = Entry(Platform::Utf16ToUtf8(path), {{"remote", "http://127.0.0.1:1/x.dll"}});
  EXPECT_EQ(Failed, file_.FixEntry(noServer));
  EXPECT_FALSE(Platform::FileExists(path));
}

#ifndef _WIN32
// The posix machine's Z: is the host's own file system: a configuration
// may read there, never write.
TEST_F(FileItem, TheRepairWritesNothingOutsideTheMachine) {
  Testing::LoopbackServer server;
  ASSERT_TRUE(server.Started());
  server.Serve("/files/x.dll", "new contents");
  char hostFolder[] = "/tmp/zentrovak-outside-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(hostFolder));
  const std::u16string outside = u"Z:" + Platform::Utf8ToUtf16(hostFolder);
  // A link inside the machine that leads out of it counts as outside.
  const std::u16string link = folder_ + u"\\out";
  ASSERT_EQ(0, ::symlink(hostFolder, Platform::Posix::ToHostPath(link).path.c_str()));
  const struct {
    std::u16string path;
    bool written;
  } cases[] = {
      {outside + u"\\x.dll", false},
      {link + u"\\x.dll", false},
      {folder_ + u"\\inside.dll", true},
  };
  for (const auto& c : cases) {
    ConfigEntry entry = Entry(Platform::Utf16ToUtf8(c.path), {{"remote", Platform::Utf16ToUtf8(server.Url("/files/x.dll"))}});
    const int32_t result = file_.FixEntry(entry);
    EXPECT_EQ(c.written ? Passed : Failed, result) << Platform::Utf16ToUtf8(c.path);
  }
  EXPECT_FALSE(Platform::FileExists(outside + u"\\x.dll"));
  EXPECT_FALSE(Platform::FileExists(outside + u"\\x.dll.download"));
  EXPECT_EQ(1, server.Requests("/files/x.dll"));  // only for the file inside
  std::filesystem::remove_all(hostFolder);
}
#endif

TEST_F(FileItem, ReplacingPutsTheNewFileInPlace) {
  const std::u16string source = folder_ + u"\\x.download";
  const std::u16string target = folder_ + u"\\x.dll";
  EXPECT_EQ(Platform::kEFail, ReplaceDownloadedFile(source, target));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(source, "one"));
  EXPECT_EQ(Platform::kSOk, ReplaceDownloadedFile(source, target));
  EXPECT_EQ("one", Contents(target));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(source, "two"));
  EXPECT_EQ(Platform::kSOk, ReplaceDownloadedFile(source, target));
  EXPECT_EQ("two", Contents(target));
  EXPECT_FALSE(Platform::FileExists(source));
  EXPECT_FALSE(Platform::FileExists(target + u".old"));
}

// A file held open (no deleting, no renaming) is replaced at the next
// restart, and the repair counts as done.
TEST_F(FileItem, AFileHeldOpenIsReplacedAtTheNextRestart) {
  Testing::PendingOperationsKeeper keep;
  const std::u16string source = folder_ + u"\\held.download";
  const std::u16string target = folder_ + u"\\held.dll";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(target, "old"));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(source, "new"));
  {
    Platform::FileStream held;
    ASSERT_EQ(0u, held.Open(target, Platform::FileStream::Mode::Read));
    EXPECT_EQ(1, ReplaceDownloadedFile(source, target));
  }
  EXPECT_EQ("old", Contents(target));
  EXPECT_NE(std::u16string::npos, Testing::PendingOperationsKeeper::Listed().find(u"held.download"));
#ifndef _WIN32
  // The posix machine carries the operations out when the program starts.
  Platform::ApplyPendingFileOperations();
  EXPECT_EQ("new", Contents(target));
  EXPECT_FALSE(Platform::FileExists(source));
#endif
}

}  // namespace
}  // namespace Zentrovak::Assistant
