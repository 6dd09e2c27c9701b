// The real registry.
#include <windows.h>

#include "platform/registry.h"
#include "platform/win32/unique_handles.h"

namespace Zentrovak::Platform {

class RegistryBackendKey {
 public:
  Win32::UniqueHkey key;
  REGSAM view = 0;
};

namespace {

REGSAM ViewFlags(RegView view) {
  switch (view) {
    case RegView::Force32: return KEY_WOW64_32KEY;
    case RegView::Force64: return KEY_WOW64_64KEY;
    default: return 0;
  }
}

REGSAM AccessFlags(RegAccess access) {
  return access == RegAccess::Read ? KEY_READ : (KEY_READ | KEY_WRITE);
}

HKEY RootHandle(RegRoot root) { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(root)); }

bool KnownRoot(RegRoot root) {
  return root == kHkeyClassesRoot || root == kHkeyCurrentUser || root == kHkeyLocalMachine ||
         root == kHkeyUsers || root == kHkeyCurrentConfig || root == 0x80000004u ||
         root == 0x80000006u || root == 0x80000007u;
}

}  // namespace

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

bool RegistryKey::IsOpen() const { return key_ && key_->key; }
void RegistryKey::Close() { key_.reset(); }

Win32Error RegistryKey::Open(RegRoot root, std::u16string_view subkey, RegAccess access,
                             RegView view, RegistryKey& out) {
  out.Close();
  if (!KnownRoot(root)) return kErrorInvalidHandle;
  auto key = std::make_unique<RegistryBackendKey>();
  key->view = ViewFlags(view);
  const std::wstring path = Win32::Wide(subkey);
  const LONG error = ::RegOpenKeyExW(RootHandle(root), path.c_str(), 0,
                                     AccessFlags(access) | key->view, key->key.put());
  if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
  out.key_ = std::move(key);
  return kErrorSuccess;
}

Win32Error RegistryKey::Create(RegRoot root, std::u16string_view subkey, RegAccess access,
                               RegView view, RegistryKey& out, bool* created) {
  out.Close();
  if (!KnownRoot(root)) return kErrorInvalidHandle;
  auto key = std::make_unique<RegistryBackendKey>();
  key->view = ViewFlags(view);
  const std::wstring path = Win32::Wide(subkey);
  DWORD disposition = 0;
  const LONG error = ::RegCreateKeyExW(RootHandle(root), path.c_str(), 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, AccessFlags(access) | key->view,
                                       nullptr, key->key.put(), &disposition);
  if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
  if (created) *created = disposition == REG_CREATED_NEW_KEY;
  out.key_ = std::move(key);
  return kErrorSuccess;
}

Win32Error RegistryKey::DeleteTree(RegRoot root, std::u16string_view subkey, RegView view) {
  if (!KnownRoot(root)) return kErrorInvalidHandle;
  Win32::UniqueHkey key;
  const std::wstring path = Win32::Wide(subkey);
  LONG error = ::RegOpenKeyExW(RootHandle(root), path.c_str(), 0, KEY_ALL_ACCESS | ViewFlags(view),
                               key.put());
  if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
  error = ::RegDeleteTreeW(key.get(), nullptr);
  key.reset();
  if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
  return static_cast<Win32Error>(::RegDeleteKeyExW(RootHandle(root), path.c_str(), ViewFlags(view), 0));
}

Win32Error RegistryKey::QueryValue(std::u16string_view name, uint32_t* type, void* data,
                                   uint32_t* size) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  const std::wstring valueName = Win32::Wide(name);
  DWORD t = 0;
  DWORD s = size ? *size : 0;
  const LONG error = ::RegQueryValueExW(key_->key.get(), valueName.c_str(), nullptr, &t,
                                        static_cast<BYTE*>(data), size ? &s : nullptr);
  if (type) *type = t;
  if (size) *size = s;
  return static_cast<Win32Error>(error);
}

Win32Error RegistryKey::SetValue(std::u16string_view name, uint32_t type, const void* data,
                                 uint32_t size) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const std::wstring valueName = Win32::Wide(name);
  return static_cast<Win32Error>(::RegSetValueExW(key_->key.get(), valueName.c_str(), 0, type,
                                                  static_cast<const BYTE*>(data), size));
}

Win32Error RegistryKey::DeleteValue(std::u16string_view name) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const std::wstring valueName = Win32::Wide(name);
  return static_cast<Win32Error>(::RegDeleteValueW(key_->key.get(), valueName.c_str()));
}

Win32Error RegistryKey::DeleteSubkey(std::u16string_view name) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const std::wstring keyName = Win32::Wide(name);
  return static_cast<Win32Error>(::RegDeleteKeyExW(key_->key.get(), keyName.c_str(), key_->view, 0));
}

Win32Error RegistryKey::EnumSubkeys(std::vector<std::u16string>& names) const {
  names.clear();
  if (!IsOpen()) return kErrorInvalidHandle;
  for (DWORD index = 0;; ++index) {
    wchar_t buffer[256];
    DWORD length = 256;
    const LONG error = ::RegEnumKeyExW(key_->key.get(), index, buffer, &length, nullptr, nullptr,
                                       nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
    names.push_back(Win32::U16(buffer, length));
  }
}

Win32Error RegistryKey::EnumValueNames(std::vector<std::u16string>& names) const {
  names.clear();
  if (!IsOpen()) return kErrorInvalidHandle;
  for (DWORD index = 0;; ++index) {
    std::wstring buffer(16384, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG error = ::RegEnumValueW(key_->key.get(), index, buffer.data(), &length, nullptr,
                                       nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (error != ERROR_SUCCESS) return static_cast<Win32Error>(error);
    names.push_back(Win32::U16(buffer.data(), length));
  }
}

}  // namespace Zentrovak::Platform
