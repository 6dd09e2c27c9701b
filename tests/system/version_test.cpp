// The Windows name as a function of what the system reports, and the PE
// version reader against real PE files made by the build.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/fixture_paths.h"
#include "system/version.h"

namespace Zentrovak::System {
namespace {

OsVersionFacts Facts(uint32_t major, uint32_t minor, uint32_t build, uint8_t productType = 1,
                     uint16_t architecture = kArchitectureX86) {
  OsVersionFacts f;
  f.versionQueryOk = true;
  f.kernelVersionOk = true;
  f.platformId = 2;
  f.productType = productType;
  f.major = major;
  f.minor = minor;
  f.build = build;
  f.architecture = architecture;
  return f;
}

TEST(OsDisplayName, ComposedFromTheFacts) {
  OsVersionFacts xp = Facts(5, 1, 2600);
  xp.servicePack = u"Service Pack 3";
  OsVersionFacts xpHome = Facts(5, 1, 2600);
  xpHome.suiteMask = 0x200;
  OsVersionFacts seven = Facts(6, 1, 7601, 1, kArchitectureX64);
  seven.servicePack = u"Service Pack 1";
  seven.productInfo = 1;
  OsVersionFacts ten = Facts(10, 0, 19045, 1, kArchitectureX64);
  ten.productInfo = 48;
  OsVersionFacts unlisted5 = Facts(6, 1, 7600);
  unlisted5.productInfo = 5;
  OsVersionFacts unlisted16 = Facts(6, 0, 6002);
  unlisted16.productInfo = 16;
  OsVersionFacts sixFour = Facts(6, 4, 9841);
  sixFour.productInfo = 48;
  OsVersionFacts noProductInfo = Facts(6, 2, 9200, 1, kArchitectureX64);
  OsVersionFacts r2 = Facts(5, 2, 3790, 3);
  r2.serverR2 = true;
  r2.suiteMask = 0x2;
  r2.servicePack = u"Service Pack 2";
  OsVersionFacts xp64 = Facts(5, 2, 3790, 1, kArchitectureX64);
  OsVersionFacts itanium = Facts(5, 2, 3790, 3, kArchitectureIa64);
  OsVersionFacts itaniumDatacenter = itanium;
  itaniumDatacenter.suiteMask = 0x80;
  OsVersionFacts x64Standard = Facts(5, 2, 3790, 2, kArchitectureX64);
  OsVersionFacts web = Facts(5, 2, 3790, 3);
  web.suiteMask = 0x400;
  OsVersionFacts storage = Facts(5, 2, 3790, 3);
  storage.suiteMask = 0x2000 | 0x2;
  OsVersionFacts win2000 = Facts(5, 0, 2195, 3);
  win2000.suiteMask = 0x80 | 0x2;
  OsVersionFacts server2008 = Facts(6, 1, 7600, 3, kArchitectureX64);
  server2008.productInfo = 8;
  OsVersionFacts itanium6 = Facts(6, 0, 6001, 3, kArchitectureIa64);
  itanium6.productInfo = 15;
  OsVersionFacts odd = Facts(6, 1, 7601);
  odd.servicePack = u"Service Pack 1, Service Pack 2";
  OsVersionFacts noQuery = Facts(6, 1, 7601);
  noQuery.versionQueryOk = false;
  OsVersionFacts noKernel = Facts(6, 1, 7601);
  noKernel.kernelVersionOk = false;
  OsVersionFacts win9x = Facts(4, 10, 2222);
  win9x.platformId = 1;
  OsVersionFacts nt4 = Facts(4, 0, 1381);

  const struct {
    const OsVersionFacts* facts;
    const char16_t* name;
  } cases[] = {
      {&xp, u"Microsoft Windows XP  专业版 SP3 (build 2600)"},  // two blanks
      {&xpHome, u"Microsoft Windows XP  家庭版 (build 2600)"},   // no service pack, no blank
      {&seven, u"Microsoft Windows 7 旗舰版 SP1 (build 7601) 64位"},
      {&ten, u"Microsoft  (build 19045) 64位"},
      {&unlisted5, u"Microsoft Windows 7 (build 7600) 32位"},
      {&unlisted16, u"Microsoft Windows Vista (build 6002) 32位"},
      {&sixFour, u"Microsoft  专业版 (build 9841) 32位"},
      {&noProductInfo, u"Microsoft Windows 8 (build 9200) 64位"},
      {&r2, u"Microsoft Windows Server 2003 R2 Enterprise Edition SP2 (build 3790)"},
      {&xp64, u"Microsoft Windows XP Professional x64 Edition (build 3790)"},
      {&itanium, u"Microsoft Windows Server 2003 (build 3790)"},
      {&itaniumDatacenter, u"Microsoft Windows Server 2003 Datacenter Edition for Itanium-based Systems (build 3790)"},
      {&x64Standard, u"Microsoft Windows Server 2003 Standard x64 Edition (build 3790)"},
      {&web, u"Microsoft Windows Server 2003 Web Edition (build 3790)"},
      {&storage, u"Microsoft Windows Storage Server 2003 Enterprise Edition (build 3790)"},
      {&win2000, u"Microsoft Windows 2000 数据中心版 (build 2195)"},
      {&server2008, u"Microsoft Windows Server 2008 R2 数据中心版 (build 7600) 64位"},
      {&itanium6, u"Microsoft Windows Server 2008 Enterprise Edition for Itanium-based Systems (build 6001)"},
      {&odd, u"Microsoft Windows 7 SP1, SP2 (build 7601) 32位"},
      {&noQuery, u"Error"},
      {&noKernel, u"Error"},
      {&win9x, u"未知版本的Windows"},
      {&nt4, u"未知版本的Windows"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::u16string(c.name), get_os_display_name(*c.facts));
}

std::u16string PeFixture(const char* name) {
  return Testing::BuildTreePath(std::string("fixtures/pe/") + name + ".dll");
}

TEST(FileFixedVersion, ReadFromARealVersionResource) {
  FixedFileInfo info;
  ASSERT_TRUE(get_file_fixed_version(PeFixture("ver_1_2_0_0"), &info));
  EXPECT_EQ(0xFEEF04BDu, info.signature);
  EXPECT_EQ(0x00010002u, info.fileVersionMS);
  EXPECT_EQ(0u, info.fileVersionLS);
  EXPECT_EQ(0x00060001u, info.productVersionMS);
  EXPECT_EQ(7601u << 16, info.productVersionLS);
  EXPECT_EQ(2u, info.fileType);  // VFT_DLL
  ASSERT_TRUE(get_file_fixed_version(PeFixture("ver_65535_1_2_3"), &info));
  EXPECT_EQ(0xFFFF0001u, info.fileVersionMS);
  EXPECT_EQ(0x00020003u, info.fileVersionLS);
  EXPECT_TRUE(get_file_fixed_version(PeFixture("ver_1_9_0_0"), nullptr));

  EXPECT_FALSE(get_file_fixed_version(PeFixture("no_version"), &info));
  EXPECT_FALSE(get_file_fixed_version(PeFixture("not_there"), &info));
  EXPECT_FALSE(get_file_fixed_version(Testing::FixturePath("config/items.xml"), &info));
}

// Cut short or damaged anywhere, an image answers false or a block, and
// nothing is read outside it.
TEST(FileFixedVersion, DamagedImagesAreRefusedSafely) {
  std::string image;
  ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(PeFixture("ver_1_2_0_0"), image));
  FixedFileInfo info;
  ASSERT_TRUE(read_pe_fixed_version(image, &info));
  EXPECT_EQ(0x00010002u, info.fileVersionMS);
  for (size_t length = 0; length < image.size(); length += 3) {
    const std::string cut = image.substr(0, length);
    read_pe_fixed_version(cut, &info);
  }
  for (size_t at = 0; at < image.size(); ++at) {
    for (unsigned char value : {0x00, 0x7F, 0xFF}) {
      std::string damaged = image;
      damaged[at] = static_cast<char>(value);
      read_pe_fixed_version(damaged, &info);
    }
  }
  EXPECT_FALSE(read_pe_fixed_version(std::string_view(), &info));
  EXPECT_FALSE(read_pe_fixed_version(nullptr, nullptr, &info));
}

}  // namespace
}  // namespace Zentrovak::System
