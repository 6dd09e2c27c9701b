#include "system/version.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::System {

using Platform::RegistryKey;

namespace {

constexpr uint16_t kSuiteEnterprise = 0x2;
constexpr uint16_t kSuiteDatacenter = 0x80;
constexpr uint16_t kSuitePersonal = 0x200;
constexpr uint16_t kSuiteBlade = 0x400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;
constexpr uint8_t kWorkstation = 1;

const char16_t* EditionForProductType(uint32_t type) {
  switch (type) {
    case 1: return u" 旗舰版";
    case 2: return u" 家庭普通版";
    case 3: return u" 家庭高级版";
    case 4: return u" 企业版";
    case 6: return u" 商用版";
    case 7: return u" Standard Edition";
    case 8: return u" 数据中心版";
    case 9: return u" Small Business Server";
    case 10: return u" 企业版";
    case 11: return u" 初级版";
    case 12: return u" Datacenter Edition (core installation)";
    case 13: return u" Standard Edition (core installation)";
    case 14: return u" Enterprise Edition (core installation)";
    case 15: return u" Enterprise Edition for Itanium-based Systems";
    case 17: return u" Web Server Edition";
    case 18: return u" Cluster Server Edition";
    case 25: return u" Small Business Server Premium Edition";
    case 48: return u" 专业版";
    default: return u"";
  }
}

void AppendWindows5Name(const OsVersionFacts& f, std::u16string& name) {
  const bool workstation = f.productType == kWorkstation;
  const auto suite = [&](uint16_t bit) { return (f.suiteMask & bit) != 0; };
  switch (f.minor) {
    case 0:
      name += u"Windows 2000";
      if (workstation) name += u" 专业版";
      else if (suite(kSuiteDatacenter)) name += u" 数据中心版";
      else if (suite(kSuiteEnterprise)) name += u" 高级服务器版";
      else name += u" 服务器版";
      break;
    case 1:
      name += u"Windows XP ";
      name += suite(kSuitePersonal) ? u" 家庭版" : u" 专业版";
      break;
    case 2:
      if (f.serverR2) name += u"Windows Server 2003 R2";
      else if (suite(kSuiteStorageServer)) name += u"Windows Storage Server 2003";
      else if (suite(kSuiteHomeServer)) name += u"Windows Home Server";
      else if (workstation && f.architecture == kArchitectureX64) name += u"Windows XP Professional x64 Edition";
      else name += u"Windows Server 2003";
      if (workstation) break;
      if (f.architecture == kArchitectureIa64) {
        if (suite(kSuiteDatacenter)) name += u" Datacenter Edition for Itanium-based Systems";
        else if (suite(kSuiteEnterprise)) name += u" Enterprise Edition for Itanium-based Systems";
      } else if (f.architecture == kArchitectureX64) {
        if (suite(kSuiteDatacenter)) name += u" Datacenter x64 Edition";
        else if (suite(kSuiteEnterprise)) name += u" Enterprise x64 Edition";
        else name += u" Standard x64 Edition";
      } else {
        if (suite(kSuiteComputeServer)) name += u" Compute Cluster Edition";
        else if (suite(kSuiteDatacenter)) name += u" Datacenter Edition";
        else if (suite(kSuiteEnterprise)) name += u" Enterprise Edition";
        else if (suite(kSuiteBlade)) name += u" Web Edition";
        else name += u" Standard Edition";
      }
      break;
    default:
      break;
  }
}

void AppendWindows6Name(const OsVersionFacts& f, std::u16string& name) {
  const bool workstation = f.productType == kWorkstation;
  switch (f.minor) {
    case 0: name += workstation ? u"Windows Vista" : u"Windows Server 2008"; break;
    case 1: name += workstation ? u"Windows 7" : u"Windows Server 2008 R2"; break;
    case 2: name += workstation ? u"Windows 8" : u"Windows Server 2012"; break;
    case 3: name += workstation ? u"Windows 8.1" : u"Windows Server 2012 R2"; break;
    default: break;
  }
  if (f.productInfo) name += EditionForProductType(*f.productInfo);
}

void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with) {
  for (size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

std::u16string get_os_display_name(const OsVersionFacts& f) {
  if (!f.versionQueryOk || !f.kernelVersionOk) return u"Error";
  if (f.platformId != 2 || f.major <= 4) return u"未知版本的Windows";
  std::u16string name = u"Microsoft ";
  if (f.major == 5) AppendWindows5Name(f, name);
  else if (f.major == 6) AppendWindows6Name(f, name);
  if (!f.servicePack.empty()) {
    name += u" ";
    name += f.servicePack;
    ReplaceAll(name, u"Service Pack ", u"SP");
  }
  char build[80];
  std::snprintf(build, sizeof build, " (build %d)", static_cast<int>(f.build));
  name += Platform::Utf8ToUtf16(build);
  if (f.major >= 6) {
    if (f.architecture == kArchitectureX64) name += u" 64位";
    else if (f.architecture == kArchitectureX86) name += u" 32位";
  }
  return name;
}

std::u16string get_os_display_name() { return get_os_display_name(gather_os_version_facts()); }

bool is_windows_10() {
  RegistryKey key;
  if (RegistryKey::Open(Platform::kHkeyLocalMachine, u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                        Platform::RegAccess::Read, Platform::RegView::Default, key))
    return false;
  uint32_t type = 0, size = 0;
  if (key.QueryValue(u"ProductName", &type, nullptr, &size) || type != Platform::RegType::kSz) return false;
  std::u16string product;
  if (key.ReadString(u"ProductName", product, 4132)) return false;
  return Platform::AsciiLower(product).find(u"windows 10") != std::u16string::npos;
}

std::u16string get_ie_version() {
  RegistryKey key;
  if (RegistryKey::Open(Platform::kHkeyLocalMachine, u"SOFTWARE\\Microsoft\\Internet Explorer",
                        Platform::RegAccess::ReadWrite, Platform::RegView::Default, key))
    return {};
  std::u16string version;
  if (key.ReadString(u"svcVersion", version, 512) == 0) return version;
  if (key.ReadString(u"Version", version, 512) == 0) return version;
  return {};
}

std::u16string get_iexplore_path() {
  constexpr size_t kMaxPath = 260;
  std::u16string registered;
  RegistryKey key;
  if (RegistryKey::Open(Platform::kHkeyLocalMachine,
                        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE",
                        Platform::RegAccess::Read, Platform::RegView::Default, key) == 0) {
    std::u16string value;
    if (key.ReadString(u"", value, kMaxPath) == 0) registered = std::move(value);
  }
  if (!registered.empty() && Platform::FileExists(registered)) return registered;
  const std::u16string fallback =
      Platform::ExpandEnvironmentReferences(u"%ProgramFiles%\\Internet Explorer\\iexplore.exe");
  if (fallback.size() < kMaxPath && Platform::FileExists(fallback)) return fallback;
  return registered;
}

}  // namespace Zentrovak::System
