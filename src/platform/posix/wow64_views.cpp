#include "platform/posix/wow64_views.h"

#include <initializer_list>

#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Platform::Posix {

namespace {

bool NameIs(const std::u16string& name, std::u16string_view expected) { return EqualsIgnoreCase(name, expected); }

bool NameIsAnyOf(const std::u16string& name, std::initializer_list<std::u16string_view> expected) {
  for (std::u16string_view e : expected)
    if (NameIs(name, e)) return true;
  return false;
}

thread_local bool fileRedirectionEnabled = true;

}  // namespace

bool MachineIs64BitWindows() {
  RegistryKey key;
  if (RegistryKey::Open(kHkeyLocalMachine, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                        RegAccess::Read, RegView::Force64, key))
    return false;
  std::u16string architecture;
  if (key.ReadString(u"PROCESSOR_ARCHITECTURE", architecture)) return false;
  return EqualsIgnoreCase(architecture, u"AMD64") || EqualsIgnoreCase(architecture, u"IA64");
}

void RedirectTo32BitView(std::vector<std::u16string>& names) {
  if (names.size() < 2 || !NameIs(names[0], u"Software") || NameIs(names[1], u"Wow6432Node")) return;
  if (NameIs(names[1], u"Classes")) {
    if (names.size() >= 3 &&
        NameIsAnyOf(names[2], {u"CLSID", u"DirectShow", u"Interface", u"Media Type", u"MediaFoundation"}))
      names.insert(names.begin() + 2, u"Wow6432Node");
    return;
  }
  // Shared by both views: machine policies and the certificate stores.
  if (NameIs(names[1], u"Policies")) return;
  if (names.size() >= 3 && NameIs(names[1], u"Microsoft") && NameIs(names[2], u"SystemCertificates")) return;
  names.insert(names.begin() + 1, u"Wow6432Node");
}

void RedirectTo32BitFolder(std::vector<std::u16string>& names) {
  if (names.size() < 2 || !NameIs(names[0], u"windows") || !NameIs(names[1], u"system32")) return;
  if (names.size() >= 3) {
    if (NameIsAnyOf(names[2], {u"catroot", u"catroot2", u"driverstore", u"logfiles", u"spool"})) return;
    if (names.size() >= 4 && NameIs(names[2], u"drivers") && NameIs(names[3], u"etc")) return;
  }
  names[1] = u"SysWOW64";
}

void SetThreadFileRedirection(bool enabled) { fileRedirectionEnabled = enabled; }
bool ThreadFileRedirectionEnabled() { return fileRedirectionEnabled; }

}  // namespace Zentrovak::Platform::Posix
