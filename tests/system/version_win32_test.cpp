// Version detection against a real system (the Wine prefix stands for a
// 64-bit Windows 7), and the PE reader against the system's own reader.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/files.h"
#include "support/fixture_paths.h"
#include "system/version.h"

namespace Zentrovak::System {
namespace {

// The Windows tests run in a 64-bit prefix: the PE32 build under WOW64, or
// the x86-64 build natively where the machine cannot run 32-bit code.
TEST(VersionOnWindows, TheRunningSystemIsNamedAnd64Bit) {
  const OsVersionFacts facts = gather_os_version_facts();
  EXPECT_TRUE(facts.versionQueryOk);
  EXPECT_TRUE(facts.kernelVersionOk);
  EXPECT_EQ(2u, facts.platformId);
  const std::u16string name = get_os_display_name();
  EXPECT_EQ(0u, name.rfind(u"Microsoft ", 0));
  EXPECT_NE(std::u16string::npos, name.find(u" (build "));
  EXPECT_TRUE(is_64bit_windows());
  const bool wow64 = !is_64bit_process();
  EXPECT_EQ(wow64, is_wow64_process());
  // Outside WOW64 both answer 0; under it, the system call's success.
  EXPECT_EQ(wow64 ? 1 : 0, disable_wow64_redirection());
  EXPECT_EQ(wow64 ? 1 : 0, revert_wow64_redirection());
  uint32_t major = 0;
  EXPECT_TRUE(is_vista_or_later(&major));
  EXPECT_GE(major, 6u);
  EXPECT_FALSE(get_ie_version().empty());
  EXPECT_TRUE(Platform::FileExists(get_iexplore_path()));
  EXPECT_NE(nullptr, resolve_system_function(u"kernel32", "GetNativeSystemInfo"));
  EXPECT_EQ(nullptr, resolve_system_function(u"kernel32", "NoSuchFunction"));
  EXPECT_EQ(nullptr, resolve_system_function(u"no_such_module.dll", "Anything"));
}

// The portable PE reader gives what the system's version functions give.
TEST(VersionOnWindows, ThePeReaderAgreesWithTheSystem) {
  const std::u16string kernel = Platform::ExpandEnvironmentReferences(u"%SystemRoot%\\system32\\kernel32.dll");
  for (const std::u16string& path :
       {kernel, Testing::BuildTreePath("fixtures/pe/ver_1_2_0_0.dll"),
        Testing::BuildTreePath("fixtures/pe/ver_65535_1_2_3.dll")}) {
    FixedFileInfo bySystem, byReader;
    ASSERT_TRUE(get_file_fixed_version(path, &bySystem));
    std::string image;
    ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(path, image));
    ASSERT_TRUE(read_pe_fixed_version(image, &byReader));
    EXPECT_EQ(0, std::memcmp(&bySystem, &byReader, sizeof bySystem));
  }
}

}  // namespace
}  // namespace Zentrovak::System
