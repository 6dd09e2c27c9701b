// The posix machine carries out the operations pending for the next
// restart when the program starts.
#include <gtest/gtest.h>

#include "checkfix/file_item.h"
#include "platform/files.h"
#include "pending_operations.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

TEST(ReplaceHeldFile, TheNextStartPutsTheNewFileInPlace) {
  Testing::PendingOperationsKeeper keep;
  const std::u16string folder = Testing::NewTempFolder();
  const std::u16string target = folder + u"\\held.dll";
  const std::u16string source = folder + u"\\held.dll.download";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(target, "old"));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(source, "new"));
  {
    Platform::FileStream held;
    ASSERT_EQ(0u, held.Open(target, Platform::FileStream::Mode::Read));
    EXPECT_EQ(1, ReplaceDownloadedFile(source, target));
  }
  Platform::ApplyPendingFileOperations();
  std::string now;
  Platform::ReadWholeFile(target, now);
  EXPECT_EQ("new", now);
  EXPECT_FALSE(Platform::FileExists(source));
}

}  // namespace
}  // namespace Zentrovak::Assistant
