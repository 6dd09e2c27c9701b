#include "checkfix/trust_item.h"

#include "app/debug_out.h"
#include "platform/files.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/zones.h"
#include "system/version.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;

namespace {

constexpr char16_t kZoneMapKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap";
constexpr int kMaxBackupsPerKey = 100;

// The machine-wide keys live in the 64-bit view on 64-bit Windows.
Platform::RegView MachineView() {
  return System::is_64bit_windows() ? Platform::RegView::Force64 : Platform::RegView::Default;
}

bool HoldsAnything(const RegistryKey& key) {
  std::vector<std::u16string> names;
  if (key.EnumSubkeys(names) == Platform::kErrorSuccess && !names.empty()) return true;
  return key.EnumValueNames(names) == Platform::kErrorSuccess && !names.empty();
}

// Saves the key where nothing earlier is overwritten; true when the key's
// content is (now or already) saved.
bool SaveBeforeDeleting(std::u16string_view name) {
  Platform::RegFile exported;
  const std::u16string path = u"HKEY_LOCAL_MACHINE\\" + std::u16string(kZoneMapKey) + u"\\" + std::u16string(name);
  if (Platform::ExportRegKeys(path, exported, MachineView())) return false;
  const std::string bytes = Platform::WriteRegFile(exported);
  for (int n = 1; n <= kMaxBackupsPerKey; ++n) {
    std::u16string file = ZoneMapBackupFolder() + u"\\ZoneMap-" + std::u16string(name);
    if (n > 1) file += u"-" + Platform::Utf8ToUtf16(std::to_string(n));
    file += u".reg";
    std::string earlier;
    if (Platform::FileExists(file)) {
      if (Platform::Succeeded(Platform::ReadWholeFile(file, earlier)) && earlier == bytes) return true;
      continue;
    }
    if (Platform::Failed(Platform::WriteWholeFile(file, bytes))) break;
    App::DebugOut(u"GetZone: saved HKLM ZoneMap\\%s to %s before deleting it\n", std::u16string(name).c_str(),
                  file.c_str());
    return true;
  }
  App::DebugOut(u"GetZone: HKLM ZoneMap\\%s could not be saved and stays\n", std::u16string(name).c_str());
  return false;
}

void DeleteMachineMappings() {
  RegistryKey zoneMap;
  if (RegistryKey::Open(Platform::kHkeyLocalMachine, kZoneMapKey, Platform::RegAccess::ReadWrite, MachineView(),
                        zoneMap))
    return;
  for (std::u16string_view name : {u"Domains", u"EscDomains"}) {
    const std::u16string subkey = std::u16string(kZoneMapKey) + u"\\" + std::u16string(name);
    RegistryKey mappings;
    if (RegistryKey::Open(Platform::kHkeyLocalMachine, subkey, Platform::RegAccess::Read, MachineView(), mappings))
      continue;
    const bool saved = !HoldsAnything(mappings) || SaveBeforeDeleting(name);
    mappings.Close();
    if (saved) RegistryKey::DeleteTree(Platform::kHkeyLocalMachine, subkey, MachineView());
  }
}

// The zone's require-server-verification flag stands in the way of a site
// without https: lift it for the addition and put it back afterwards.
bool AddPastVerification(std::u16string_view site, uint32_t zone) {
  uint32_t flags = 0;
  if (Platform::Failed(Platform::ReadZoneFlags(zone, flags)) || !(flags & Platform::kZoneRequireVerification))
    return false;
  if (Platform::Failed(Platform::WriteZoneFlags(zone, flags & ~Platform::kZoneRequireVerification))) return false;
  const bool added = Platform::Succeeded(Platform::AddZoneMapping(zone, site));
  // The flag goes back whatever became of the addition.
  const bool restored = Platform::Succeeded(Platform::WriteZoneFlags(zone, flags));
  return added && restored;
}

}  // namespace

std::u16string ZoneMapBackupFolder() { return Platform::ParentPath(Platform::ModuleFilePath()); }

int32_t GetZone(std::u16string_view site) {
  DeleteMachineMappings();
  uint32_t zone = 0;
  if (Platform::Failed(Platform::MapUrlToZone(site, zone))) return -1;
  return static_cast<int32_t>(zone);
}

bool SetZone(std::u16string_view site, uint32_t zone) {
  Platform::HResult hr = Platform::AddZoneMapping(zone, site);
  if (hr == Platform::kZoneMappingExists) {
    const int32_t current = GetZone(site);
    if (current != -1) Platform::RemoveZoneMapping(static_cast<uint32_t>(current), site);
    hr = Platform::AddZoneMapping(zone, site);
  }
  if (hr == Platform::kEAccessDenied) return AddPastVerification(site, zone);
  return Platform::Succeeded(hr);
}

int32_t CheckFixTrust::CheckEntry(ConfigEntry& entry) {
  return GetZone(Platform::Utf8ToUtf16(entry.text)) == static_cast<int32_t>(Platform::kZoneTrusted) ? Passed : Failed;
}

int32_t CheckFixTrust::FixEntry(ConfigEntry& entry) {
  const std::u16string site = Platform::Utf8ToUtf16(entry.text);
  if (GetZone(site) == static_cast<int32_t>(Platform::kZoneTrusted)) return Passed;
  return SetZone(site, Platform::kZoneTrusted) ? Passed : Failed;
}

}  // namespace Zentrovak::Assistant
