// The posix machine's Windows identity, described in its registry where
// Windows keeps the same facts:
//   HKLM\Software\Microsoft\Windows NT\CurrentVersion: CurrentMajorVersionNumber
//     and CurrentMinorVersionNumber (or CurrentVersion "6.1"), CurrentBuildNumber,
//     CSDVersion, EditionID, ProductName;
//   HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions: ProductType ("WinNT",
//     "ServerNT", "LanmanNT") and ProductSuite;
//   HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment:
//     PROCESSOR_ARCHITECTURE ("x86", "AMD64", "IA64").
// A machine that says nothing has no answerable version, and is 32-bit.
// The program stands for a 32-bit process, so a 64-bit machine runs it
// under WOW64.
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/host_paths.h"
#include "platform/posix/wow64_views.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "system/version.h"

namespace Zentrovak::System {

using Platform::RegistryKey;

namespace {

constexpr char16_t kCurrentVersionKey[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char16_t kProductOptionsKey[] = u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char16_t kEnvironmentKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The machine's description is read from its own (64-bit) view: the copy
// Windows keeps for 32-bit programs is not kept on this machine.
bool OpenMachineKey(std::u16string_view path, RegistryKey& key) {
  return RegistryKey::Open(Platform::kHkeyLocalMachine, path, Platform::RegAccess::Read,
                           Platform::RegView::Force64, key) == 0;
}

std::u16string ReadText(const RegistryKey& key, std::u16string_view name) {
  std::u16string value;
  if (key.ReadString(name, value, 4096)) value.clear();
  return value;
}

struct MachineVersion {
  bool known = false;
  uint32_t major = 0, minor = 0, build = 0;
  std::u16string servicePack, editionId, productName;
};

MachineVersion ReadMachineVersion() {
  MachineVersion v;
  RegistryKey key;
  if (!OpenMachineKey(kCurrentVersionKey, key)) return v;
  uint32_t number = 0;
  if (key.ReadDword(u"CurrentMajorVersionNumber", number) == 0) {
    v.known = true;
    v.major = number;
    if (key.ReadDword(u"CurrentMinorVersionNumber", number) == 0) v.minor = number;
  } else {
    const std::u16string text = ReadText(key, u"CurrentVersion");
    const size_t dot = text.find(u'.');
    if (!text.empty() && text[0] >= u'0' && text[0] <= u'9') {
      v.known = true;
      v.major = static_cast<uint32_t>(Platform::ParseDecimalPrefix(text));
      if (dot != std::u16string::npos)
        v.minor = static_cast<uint32_t>(Platform::ParseDecimalPrefix(std::u16string_view(text).substr(dot + 1)));
    }
  }
  std::u16string build = ReadText(key, u"CurrentBuildNumber");
  if (build.empty()) build = ReadText(key, u"CurrentBuild");
  v.build = static_cast<uint32_t>(Platform::ParseDecimalPrefix(build)) & 0xFFFF;
  v.servicePack = ReadText(key, u"CSDVersion");
  v.editionId = ReadText(key, u"EditionID");
  v.productName = ReadText(key, u"ProductName");
  return v;
}

uint16_t MachineArchitecture() {
  RegistryKey key;
  if (!OpenMachineKey(kEnvironmentKey, key)) return kArchitectureX86;
  const std::u16string arch = Platform::AsciiLower(ReadText(key, u"PROCESSOR_ARCHITECTURE"));
  if (arch == u"amd64") return kArchitectureX64;
  if (arch == u"ia64") return kArchitectureIa64;
  return kArchitectureX86;
}

// GetProductInfo's answer for the registry's edition name.
std::optional<uint32_t> ProductTypeForEdition(const std::u16string& edition) {
  if (edition.empty()) return std::nullopt;
  static const struct {
    const char16_t* name;
    uint32_t type;
  } kEditions[] = {
      {u"ultimate", 1},          {u"homebasic", 2},          {u"homepremium", 3},
      {u"enterprise", 4},        {u"homebasicn", 5},         {u"business", 6},
      {u"serverstandard", 7},    {u"serverdatacenter", 8},   {u"serversbsstandard", 9},
      {u"serverenterprise", 10}, {u"starter", 11},           {u"serverdatacentercore", 12},
      {u"serverstandardcore", 13}, {u"serverenterprisecore", 14}, {u"serverenterpriseia64", 15},
      {u"businessn", 16},        {u"serverweb", 17},         {u"servercomputecluster", 18},
      {u"serversbspremium", 25}, {u"homepremiumn", 26},      {u"enterprisen", 27},
      {u"ultimaten", 28},        {u"professional", 48},      {u"professionaln", 49},
      {u"core", 101},
  };
  const std::u16string lower = Platform::AsciiLower(edition);
  for (const auto& e : kEditions)
    if (lower == e.name) return e.type;
  return 0;  // PRODUCT_UNDEFINED
}

uint16_t SuiteMaskFor(const RegistryKey& key) {
  uint32_t type = 0;
  std::vector<uint8_t> raw;
  if (key.ReadRaw(u"ProductSuite", type, raw, 4096) || type != Platform::RegType::kMultiSz) return 0;
  static const struct {
    const char16_t* name;
    uint16_t bit;
  } kSuites[] = {
      {u"small business", 0x1},   {u"enterprise", 0x2},       {u"backoffice", 0x4},
      {u"communicationserver", 0x8}, {u"terminal server", 0x10}, {u"embedded nt", 0x40},
      {u"datacenter", 0x80},      {u"personal", 0x200},       {u"blade", 0x400},
      {u"storage server", 0x2000}, {u"compute server", 0x4000}, {u"home server", 0x8000},
  };
  uint16_t mask = 0;
  std::u16string name;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(raw[i] | raw[i + 1] << 8);
    if (c != 0) {
      name += c;
      continue;
    }
    const std::u16string lower = Platform::AsciiLower(name);
    for (const auto& s : kSuites)
      if (lower == s.name) mask |= s.bit;
    name.clear();
  }
  return mask;
}

}  // namespace

OsVersionFacts gather_os_version_facts() {
  OsVersionFacts facts;
  const MachineVersion v = ReadMachineVersion();
  if (!v.known) return facts;
  facts.versionQueryOk = true;
  facts.kernelVersionOk = true;
  facts.platformId = 2;
  facts.major = v.major;
  facts.minor = v.minor;
  facts.build = v.build;
  facts.servicePack = v.servicePack;
  facts.architecture = MachineArchitecture();
  facts.productType = 1;
  RegistryKey options;
  if (OpenMachineKey(kProductOptionsKey, options)) {
    const std::u16string product = Platform::AsciiLower(ReadText(options, u"ProductType"));
    if (product == u"lanmannt") facts.productType = 2;
    else if (product == u"servernt") facts.productType = 3;
    facts.suiteMask = SuiteMaskFor(options);
  }
  facts.serverR2 = facts.major == 5 && facts.minor == 2 && facts.productType != 1 &&
                   v.productName.find(u" R2") != std::u16string::npos;
  facts.productInfo = ProductTypeForEdition(v.editionId);
  return facts;
}

bool is_vista_or_later(uint32_t* major, uint32_t* minor, uint32_t* build) {
  const MachineVersion v = ReadMachineVersion();
  if (!v.known) return false;
  if (major) *major = v.major;
  if (minor) *minor = v.minor;
  if (build) *build = v.build;
  return v.major > 5;
}

bool is_64bit_windows() {
  const uint16_t arch = MachineArchitecture();
  return arch == kArchitectureX64 || arch == kArchitectureIa64;
}

bool is_wow64_process() { return is_64bit_windows(); }

// On a 64-bit machine the program's System32 is SysWOW64 until it turns the
// redirection off for its thread, as Windows does for a 32-bit process.
int32_t disable_wow64_redirection() {
  if (!is_wow64_process()) return 0;
  Platform::Posix::SetThreadFileRedirection(false);
  return 1;
}
int32_t revert_wow64_redirection() {
  if (!is_wow64_process()) return 0;
  Platform::Posix::SetThreadFileRedirection(true);
  return 1;
}

namespace {
bool ReadAt(void* context, uint64_t offset, void* buffer, uint32_t size) {
  const int fd = *static_cast<int*>(context);
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<uint32_t>(got);
  }
  return true;
}
}  // namespace

bool get_file_fixed_version(std::u16string_view path, FixedFileInfo* out) {
  const Platform::Posix::HostPath host = Platform::Posix::ToHostPath(path);
  if (host.error || Platform::Posix::IsDirectory(host.path)) return false;
  int fd = ::open(host.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = read_pe_fixed_version(ReadAt, &fd, out);
  ::close(fd);
  return read;
}

// The machine has no system modules to look into.
void* resolve_system_function(std::u16string_view, const char*) { return nullptr; }

}  // namespace Zentrovak::System
