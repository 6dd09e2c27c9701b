// A library that is loaded cannot be deleted but can be renamed: it is
// moved aside to ".old", which goes at the next restart.
#include <windows.h>

#include <gtest/gtest.h>

#include "checkfix/file_item.h"
#include "platform/files.h"
#include "pending_operations.h"
#include "support/fixture_paths.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

TEST(ReplaceLoadedLibrary, TheLibraryInUseIsMovedAsideToOld) {
  Testing::PendingOperationsKeeper keep;
  const std::u16string folder = Testing::NewTempFolder();
  const std::u16string target = folder + u"\\control.dll";
  const std::u16string source = folder + u"\\control.dll.download";
  std::string library;
  ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(Testing::BuildTreePath("fixtures/pe/ver_1_2_0_0.dll"), library));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(target, library));
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(source, "new library"));

  HMODULE loaded = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(target.c_str()));
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ(Platform::kSOk, ReplaceDownloadedFile(source, target));
  std::string now, old;
  Platform::ReadWholeFile(target, now);
  Platform::ReadWholeFile(target + u".old", old);
  EXPECT_EQ("new library", now);
  EXPECT_EQ(library, old);
  EXPECT_NE(std::u16string::npos, Testing::PendingOperationsKeeper::Listed().find(u"control.dll.old"));
  ::FreeLibrary(loaded);
  Platform::RemoveFile(target + u".old");
}

}  // namespace
}  // namespace Zentrovak::Assistant
