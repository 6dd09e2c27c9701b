#include "checkfix/com_item.h"

#include "checkfix/file_check.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;

namespace {
constexpr size_t kMaxPathChars = 260;
constexpr char16_t kAddOnSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Ext\\Settings";
}  // namespace

int32_t CheckFixCOM::CheckEntry(ConfigEntry& entry) {
  RedirectionGuard guard(entry);
  const std::u16string clsid = Platform::Utf8ToUtf16(entry.text);
  RegistryKey server;
  std::u16string serverPath;
  if (RegistryKey::Open(Platform::kHkeyClassesRoot, u"CLSID\\" + clsid + u"\\InprocServer32",
                        Platform::RegAccess::Read, guard.View(), server) ||
      server.ReadString(u"", serverPath, kMaxPathChars))
    return Failed;  // not registered
  const int32_t file = FileMatches(entry, serverPath);
  if (file != Passed) return file;

  RegistryKey settings;
  uint32_t flags = 0;
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, std::u16string(kAddOnSettings) + u"\\" + clsid,
                        Platform::RegAccess::Read, guard.View(), settings) ||
      settings.ReadDword(u"Flags", flags))
    return Passed;
  return flags == 1 ? Disabled : Passed;
}

int32_t CheckFixCOM::FixEntry(ConfigEntry& entry) {
  const int32_t state = CheckEntry(entry);
  if (state == Disabled) {
    RedirectionGuard guard(entry);
    RegistryKey settings;
    if (RegistryKey::Open(Platform::kHkeyCurrentUser, kAddOnSettings, Platform::RegAccess::ReadWrite, guard.View(),
                          settings) == 0)
      settings.DeleteSubkey(Platform::Utf8ToUtf16(entry.text));
    return Passed;
  }
  if (state == Failed) return NotSupported;
  return state;
}

}  // namespace Zentrovak::Assistant
