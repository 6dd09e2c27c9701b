#include <windows.h>
#include <urlmon.h>

#include <string>

#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handles.h"
#include "platform/zones.h"

namespace Zentrovak::Platform {

namespace {

using Win32::ComPtr;
using Win32::Wide;

// {7B8A2D94-0AC9-11D1-896C-00C04FB6BFC4} and {7B8A2D95-...}.
constexpr CLSID kSecurityManager = {0x7B8A2D94, 0x0AC9, 0x11D1, {0x89, 0x6C, 0x00, 0xC0, 0x4F, 0xB6, 0xBF, 0xC4}};
constexpr CLSID kZoneManager = {0x7B8A2D95, 0x0AC9, 0x11D1, {0x89, 0x6C, 0x00, 0xC0, 0x4F, 0xB6, 0xBF, 0xC4}};

HResult CreateSecurityManager(ComPtr<IInternetSecurityManager>& manager) {
  return ::CoCreateInstance(kSecurityManager, nullptr, CLSCTX_SERVER, IID_IInternetSecurityManager,
                            reinterpret_cast<void**>(manager.put()));
}

HResult CreateZoneManager(ComPtr<IInternetZoneManager>& manager) {
  return ::CoCreateInstance(kZoneManager, nullptr, CLSCTX_SERVER, IID_IInternetZoneManager,
                            reinterpret_cast<void**>(manager.put()));
}

HResult ChangeMapping(uint32_t zone, std::u16string_view pattern, DWORD action) {
  ComPtr<IInternetSecurityManager> manager;
  if (HResult hr = CreateSecurityManager(manager); Failed(hr)) return hr;
  const std::wstring wide = Wide(pattern);
  return manager->SetZoneMapping(zone, wide.c_str(), action);
}

HResult ReadAttributes(IInternetZoneManager& manager, uint32_t zone, ZONEATTRIBUTES& attributes) {
  attributes = {};
  attributes.cbSize = sizeof attributes;
  return manager.GetZoneAttributes(zone, &attributes);
}

}  // namespace

HResult MapUrlToZone(std::u16string_view url, uint32_t& zone) {
  ComPtr<IInternetSecurityManager> manager;
  if (HResult hr = CreateSecurityManager(manager); Failed(hr)) return hr;
  const std::wstring wide = Wide(url);
  DWORD mapped = 0;
  const HResult hr = manager->MapUrlToZone(wide.c_str(), &mapped, 0);
  if (Succeeded(hr)) zone = mapped;
  return hr;
}

HResult AddZoneMapping(uint32_t zone, std::u16string_view pattern) { return ChangeMapping(zone, pattern, SZM_CREATE); }

HResult RemoveZoneMapping(uint32_t zone, std::u16string_view pattern) {
  return ChangeMapping(zone, pattern, SZM_DELETE);
}

HResult ReadZoneFlags(uint32_t zone, uint32_t& flags) {
  ComPtr<IInternetZoneManager> manager;
  if (HResult hr = CreateZoneManager(manager); Failed(hr)) return hr;
  ZONEATTRIBUTES attributes;
  const HResult hr = ReadAttributes(*manager.get(), zone, attributes);
  if (Succeeded(hr)) flags = attributes.dwFlags;
  return hr;
}

HResult WriteZoneFlags(uint32_t zone, uint32_t flags) {
  ComPtr<IInternetZoneManager> manager;
  if (HResult hr = CreateZoneManager(manager); Failed(hr)) return hr;
  ZONEATTRIBUTES attributes;
  if (HResult hr = ReadAttributes(*manager.get(), zone, attributes); Failed(hr)) return hr;
  attributes.dwFlags = flags;
  return manager->SetZoneAttributes(zone, &attributes);
}

}  // namespace Zentrovak::Platform
