#include "system/process_launch.h"

#include "platform/registry.h"
#include "system/version.h"

namespace Zentrovak::System {

int32_t launch_process(std::u16string_view commandLine, bool hide, bool wait, bool asDesktopUser) {
  if (commandLine.size() >= kCommandLineBufferChars) return -1;
  // Before Vista every program of the session runs with the user's token:
  // there is no other token to borrow.
  if (asDesktopUser && !is_vista_or_later()) asDesktopUser = false;
  // A failed start as the desktop user is never retried elevated.
  return asDesktopUser ? StartCommandLineAsDesktopUser(commandLine, hide, wait)
                       : StartCommandLine(commandLine, hide, wait);
}

int32_t shell_run(std::u16string_view file, std::u16string_view parameters, bool hide, bool wait) {
  return ShellExecuteFile(file, parameters, hide, wait);
}

Platform::HResult open_url_in_ie(std::u16string_view url) {
  const std::u16string browser = InternetExplorerPath();
  if (browser.empty()) return static_cast<Platform::HResult>(0x80070002u);
  return OpenInBrowser(browser, url);
}

std::u16string AutorunValueName(std::u16string_view commandLine) {
  std::u16string name(commandLine);
  if (const auto slash = name.rfind(u'\\'); slash != std::u16string::npos) name.erase(0, slash + 1);
  if (const auto slash = name.rfind(u'/'); slash != std::u16string::npos) name.erase(0, slash + 1);
  if (const auto dot = name.find(u'.'); dot != std::u16string::npos) name.resize(dot);
  return name;
}

bool set_autorun(std::u16string_view commandLine, const std::optional<std::u16string>& parameters, bool enable) {
  using namespace Platform;
  const std::u16string name = AutorunValueName(commandLine);
  RegistryKey key;
  if (!enable) {
    if (RegistryKey::Open(kHkeyCurrentUser, kRunKey, RegAccess::ReadWrite, RegView::Default, key)) return false;
    if (key.DeleteValue(name) != kErrorSuccess) return false;
    UpdateDesktopAutostart(name, commandLine, false);
    return true;
  }
  std::u16string value(commandLine);
  if (parameters) value += u" " + *parameters;
  // The Run key may be missing in a fresh profile: create it.
  if (RegistryKey::Create(kHkeyCurrentUser, kRunKey, RegAccess::ReadWrite, RegView::Default, key)) return false;
  std::u16string previous;
  const bool hadValue = key.ReadString(name, previous, kCommandLineBufferChars) == kErrorSuccess;
  if (key.SetValue(name, RegType::kSz, value.data(), static_cast<uint32_t>(value.size() * 2)) != kErrorSuccess)
    return false;
  if (UpdateDesktopAutostart(name, value, true)) return true;
  // Nothing would start it at logon: the registry stays as it was.
  if (hadValue)
    key.SetValue(name, RegType::kSz, previous.data(), static_cast<uint32_t>(previous.size() * 2));
  else
    key.DeleteValue(name);
  return false;
}

}  // namespace Zentrovak::System
