#include "checkfix/install_item.h"

#include <memory>
#include <vector>

#include "checkfix/app_update.h"
#include "checkfix/engine_hooks.h"
#include "checkfix/file_check.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "system/process_launch.h"
#include "system/version.h"

namespace Zentrovak::Assistant {

namespace {

constexpr char16_t kUninstallKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The expanded "cmd" text and the UninstallString are read into buffers of
// these sizes (characters, the terminator included).
constexpr size_t kUninstallCommandChars = 260;
constexpr size_t kUninstallStringChars = 512;

struct DigestAttribute {
  const char* name;
  int32_t kind;
  size_t hexLength;
};
constexpr DigestAttribute kPackageDigests[] = {
    {"md5", DigestMd5, 32},
    {"sha1", DigestSha1, 40},
    {"sha256", DigestSha256, 64},
};

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Characters Windows refuses in a file name; the posix machine keeps to
// the same names.
bool AllowedInFileName(char16_t c) {
  if (c < 0x20) return false;
  switch (c) {
    case u'<': case u'>': case u':': case u'"': case u'/': case u'\\': case u'|': case u'?': case u'*':
      return false;
    default:
      return true;
  }
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
bool IsDeviceName(std::u16string_view name) {
  const std::u16string stem = Platform::AsciiLower(name.substr(0, name.find(u'.')));
  for (const char16_t* device : {u"con", u"prn", u"aux", u"nul"})
    if (stem == device) return true;
  if (stem.size() == 4 && (stem.compare(0, 3, u"com") == 0 || stem.compare(0, 3, u"lpt") == 0))
    return stem[3] >= u'1' && stem[3] <= u'9';
  return false;
}

bool InstallerForThisSystem(const ConfigEntry& entry) { return GetAttr(entry.attributes, "bit") != "64"; }

}  // namespace

std::u16string SafeDownloadName(std::u16string_view address) {
  const size_t separator = address.find_last_of(u"/\\");
  const std::u16string_view last = separator == std::u16string_view::npos ? address : address.substr(separator + 1);
  std::u16string name;
  name.reserve(last.size());
  for (char16_t c : last) name.push_back(AllowedInFileName(c) ? c : u'_');
  // Windows drops trailing dots and blanks, so "..", "." and "a.exe. "
  // would name the folder itself or another file.
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  if (name.empty() || IsDeviceName(name)) return {};
  return name;
}

std::u16string DownloadFolder() {
  const std::u16string folder = Platform::ProgramDataFolder() + u"\\Download";
  if (!Platform::DirectoryExists(folder)) Platform::MakeDirectory(folder);
  return folder;
}

std::u16string AddressFolderName(std::u16string_view address) {
  const std::string text = Platform::Utf16ToUtf8(address);
  const std::unique_ptr<Digester> digester = Digester::Create(DigestSha256);
  std::string digest;
  if (!digester || !digester->Update(text.data(), text.size()) || !digester->Finish(digest)) return {};
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string name;
  for (size_t i = 0; i < 8 && i < digest.size(); ++i) {
    const auto byte = static_cast<unsigned char>(digest[i]);
    name += kHex[byte >> 4];
    name += kHex[byte & 15];
  }
  return name;
}

std::u16string DownloadPathFor(std::u16string_view address) {
  const std::u16string name = SafeDownloadName(address);
  const std::u16string addressFolder = AddressFolderName(address);
  if (name.empty() || addressFolder.empty()) return {};
  const std::u16string folder = DownloadFolder() + u"\\" + addressFolder;
  if (!Platform::DirectoryExists(folder)) Platform::MakeDirectory(folder);
  return folder + u"\\" + name;
}

bool DigestsWellFormed(const ConfigEntry& entry) {
  for (const DigestAttribute& digest : kPackageDigests) {
    const std::string& value = GetAttr(entry.attributes, digest.name);
    if (value.empty()) continue;
    if (value.size() != digest.hexLength) return false;
    for (char c : value)
      if (!IsHexDigit(c)) return false;
  }
  return true;
}

int32_t PackageMatches(const ConfigEntry& entry, std::u16string_view path) {
  if (!FileExists(path)) return Failed;
  for (const DigestAttribute& digest : kPackageDigests) {
    const std::string& value = GetAttr(entry.attributes, digest.name);
    if (!value.empty() && Platform::AsciiLower(value) != FileDigest(path, digest.kind)) return Failed;
  }
  return Passed;
}

std::u16string InstallerCommandLine(std::u16string_view command, std::u16string_view packagePath) {
  const std::u16string quoted = u"\"" + std::u16string(packagePath) + u"\"";
  std::u16string line(command);
  const size_t bare = line.find(u"%1");
  if (bare == std::u16string::npos) return line;
  const size_t inQuotes = line.find(u"\"%1\"");
  if (inQuotes == std::u16string::npos)
    line.replace(bare, 2, quoted);
  else
    line.replace(inQuotes, 4, quoted);
  return line;
}

bool HasDigest(const ConfigEntry& entry) {
  for (const DigestAttribute& digest : kPackageDigests)
    if (!GetAttr(entry.attributes, digest.name).empty()) return true;
  return false;
}

namespace {

// The package is held open so that nobody can change it between this
// verification and its start (see FileStream::OpenUnchangeable).
bool HoldVerified(const ConfigEntry& entry, std::u16string_view path, Platform::FileStream& held) {
  held.Close();
  if (held.OpenUnchangeable(path) != Platform::kErrorSuccess) return false;
  if (PackageMatches(entry, path) == Passed) return true;
  held.Close();
  return false;
}

}  // namespace

int32_t ItemInstall::FixEntry(ConfigEntry& entry) {
  const std::u16string address = Platform::Utf8ToUtf16(CurrentConfiguration()->ResolveUrl(entry.text));
  const std::u16string path = DownloadPathFor(address);
  // A digest that cannot match would only have the package fetched in vain.
  if (path.empty() || !DigestsWellFormed(entry)) return Failed;

  // Without a digest nothing tells a kept package from last year's: such a
  // package is fetched afresh every time.
  Platform::FileStream held;
  if (!HasDigest(entry) || !HoldVerified(entry, path, held)) {
    // A server that answers with an error writes nothing: the kept file
    // must not be left to pass for the download.
    Platform::RemoveFile(path);
    const Platform::HResult downloaded = Network::HttpDownloadToFile(
        address, path, AttachedDownloadCallback(entry), AttachedDownloadParameter(entry));
    if (Platform::Failed(downloaded)) return Failed;
    if (!HoldVerified(entry, path, held)) {
      // Whatever came instead of the package is never run, not even later.
      Platform::RemoveFile(path);
      return Failed;
    }
  }

  const std::u16string command = Platform::Utf8ToUtf16(GetAttr(entry.attributes, "command"));
  if (!command.empty()) {
    System::launch_process(InstallerCommandLine(command, path), false, true, false);
  } else {
    System::shell_run(u"\"" + path + u"\"", Platform::Utf8ToUtf16(GetAttr(entry.attributes, "parameter")), false,
                      true);
  }
  return Passed;
}

int32_t ItemUninstall::FixEntry(ConfigEntry& entry) {
  const RedirectionGuard guard(entry);
  const std::string& type = GetAttr(entry.attributes, "type");
  std::u16string command;
  if (type == "cmd") {
    command = Platform::ExpandEnvironmentReferences(Platform::Utf8ToUtf16(entry.text));
    // Cut short, the line could name another program: none rather than that.
    if (command.size() >= kUninstallCommandChars) command.clear();
  } else if (type == "regid") {
    const std::u16string subkey = kUninstallKey + Platform::Utf8ToUtf16(entry.text);
    for (const Platform::RegRoot root : {Platform::kHkeyLocalMachine, Platform::kHkeyCurrentUser}) {
      Platform::RegistryKey key;
      if (Platform::RegistryKey::Open(root, subkey, Platform::RegAccess::Read, guard.View(), key) != 0) continue;
      if (key.ReadString(u"UninstallString", command, kUninstallStringChars) != 0) command.clear();
      break;
    }
  }
  if (command.empty()) return Failed;
  // A stale UninstallString names a program that is gone: nothing was
  // removed, so the uninstall did not happen.
  return System::launch_process(command, false, true, false) == -1 ? Failed : Passed;
}

int32_t InstallItem(ConfigItem& item, Network::DownloadCallback callback, int32_t parameter) {
  if (ICheckFix* installer = FindCheckFix("install"); installer && !item.installer.empty()) {
    // Every installer runs; the detect entries decide what the install gave.
    for (ConfigEntry& entry : item.installer) {
      if (installer->CheckEntry(entry) != Passed) continue;
      AttachDownloadNotify(entry, callback, parameter);
      installer->FixEntry(entry);
    }
  }
  for (ConfigEntry& entry : item.detect) {
    const std::string& type = GetAttr(entry.attributes, "dtype");
    ICheckFix* detect = FindCheckFix(type);
    if (!detect) continue;
    int32_t result = detect->CheckAll(&entry, 1, true);
    if (result == Passed) continue;
    if (type == "file") AttachDownloadNotify(entry, callback, parameter);
    result = detect->FixAll(&entry, 1);
    if (result != Passed) return result;
  }
  return Passed;
}

int32_t InstallItemForThisSystem(ConfigItem& item) {
  if (System::is_64bit_windows()) return InstallItem(item, ItemDownloadProgress, 0);
  ConfigItem installersOnly;
  for (const ConfigEntry& entry : item.installer)
    if (InstallerForThisSystem(entry)) installersOnly.installer.push_back(entry);
  return InstallItem(installersOnly, ItemDownloadProgress, 0);
}

void RepairDisabledItem(ConfigItem& item) {
  ConfigGroup addOns;
  addOns.type = "clsid";
  for (const ConfigEntry& entry : item.detect) {
    if (GetAttr(entry.attributes, "dtype") != "clsid") continue;
    ConfigEntry classId;
    classId.text = entry.text;
    addOns.entries.push_back(std::move(classId));
  }
  CheckGroup(addOns, false);
  for (const ConfigEntry& entry : addOns.entries) {
    if (entry.state == Disabled) {
      FixGroup(addOns);
      break;
    }
  }
  if (DetectItem(item, false) == Disabled) InstallItemForThisSystem(item);
}

bool RunApplicationUpdate(Network::DownloadCallback callback, int32_t parameter) {
  const std::shared_ptr<ItemConfiguration> model = CurrentConfiguration();
  return InstallItem(model->ApplicationRecord(), callback, parameter) == Passed;
}

bool ItemDownloadProgress(const Network::DownloadProgress* progress) {
  static ProgressThrottle throttle;
  throttle.Report(progress, CurrentProgressItem().load());
  return true;
}

}  // namespace Zentrovak::Assistant
