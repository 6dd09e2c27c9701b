#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "platform/win32/unique_handles.h"
#include "system/version.h"

namespace Zentrovak::System {

using Platform::Win32::Wide;

namespace {

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64RedirectionFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

template <typename Fn>
Fn Resolve(const char16_t* module, const char* name) {
  return reinterpret_cast<Fn>(resolve_system_function(module, name));
}

// The one process-wide slot that disabling fills and reverting hands back.
std::atomic<PVOID> savedRedirection{nullptr};

}  // namespace

void* resolve_system_function(std::u16string_view module, const char* name) {
  const std::wstring wide = Wide(module);
  HMODULE handle = ::GetModuleHandleW(wide.c_str());
  if (!handle) handle = ::LoadLibraryW(wide.c_str());  // kept loaded
  if (!handle) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(handle, name));
}

bool get_file_fixed_version(std::u16string_view path, FixedFileInfo* out) {
  const std::wstring wide = Wide(path);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!::GetFileVersionInfoW(wide.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO))
    return false;
  if (out) {
    *out = FixedFileInfo{info->dwSignature,      info->dwStrucVersion,    info->dwFileVersionMS,
                         info->dwFileVersionLS,  info->dwProductVersionMS, info->dwProductVersionLS,
                         info->dwFileFlagsMask,  info->dwFileFlags,       info->dwFileOS,
                         info->dwFileType,       info->dwFileSubtype,     info->dwFileDateMS,
                         info->dwFileDateLS};
  }
  return true;
}

OsVersionFacts gather_os_version_facts() {
  OsVersionFacts facts;
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return facts;
  facts.versionQueryOk = true;
  facts.platformId = version.dwPlatformId;
  facts.suiteMask = version.wSuiteMask;
  facts.productType = version.wProductType;
  facts.servicePack = Platform::Win32::U16(version.szCSDVersion, wcsnlen(version.szCSDVersion, 128));

  // kernel32's product version tells the truth where the version query is
  // shimmed for programs without a manifest.
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return facts;
  std::u16string kernel = Platform::Win32::U16(system, length);
  if (kernel.back() != u'\\') kernel += u'\\';
  kernel += u"kernel32.dll";
  FixedFileInfo info;
  if (!get_file_fixed_version(kernel, &info)) return facts;
  facts.kernelVersionOk = true;
  facts.major = HIWORD(info.productVersionMS);
  facts.minor = LOWORD(info.productVersionMS);
  facts.build = HIWORD(info.productVersionLS);

  SYSTEM_INFO systemInfo{};
  if (auto native = Resolve<GetNativeSystemInfoFn>(u"kernel32", "GetNativeSystemInfo")) native(&systemInfo);
  else ::GetSystemInfo(&systemInfo);
  facts.architecture = systemInfo.wProcessorArchitecture;
  facts.serverR2 = ::GetSystemMetrics(SM_SERVERR2) != 0;
  if (auto productInfo = Resolve<GetProductInfoFn>(u"kernel32.dll", "GetProductInfo")) {
    DWORD type = 0;
    productInfo(facts.major, facts.minor, 0, 0, &type);
    facts.productInfo = type;
  }
  return facts;
}

bool is_vista_or_later(uint32_t* major, uint32_t* minor, uint32_t* build) {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (!::GetVersionExW(&version)) return false;
  if (major) *major = version.dwMajorVersion;
  if (minor) *minor = version.dwMinorVersion;
  if (build) *build = version.dwBuildNumber;
  return version.dwMajorVersion > 5;
}

bool is_64bit_windows() {
  SYSTEM_INFO systemInfo{};
  if (auto native = Resolve<GetNativeSystemInfoFn>(u"kernel32", "GetNativeSystemInfo")) native(&systemInfo);
  else ::GetSystemInfo(&systemInfo);
  return systemInfo.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         systemInfo.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool is_wow64_process() {
  auto isWow64 = Resolve<IsWow64ProcessFn>(u"kernel32", "IsWow64Process");
  if (!isWow64) return false;
  BOOL wow64 = FALSE;
  isWow64(::GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

int32_t disable_wow64_redirection() {
  if (!is_wow64_process()) return 0;
  auto disable = Resolve<Wow64RedirectionFn>(u"kernel32", "Wow64DisableWow64FsRedirection");
  if (!disable) return 0;
  PVOID old = nullptr;
  const BOOL result = disable(&old);
  savedRedirection = old;
  return result;
}

int32_t revert_wow64_redirection() {
  if (!is_wow64_process()) return 0;
  auto revert = Resolve<Wow64RevertFn>(u"kernel32", "Wow64RevertWow64FsRedirection");
  if (!revert) return 0;
  return revert(savedRedirection.load());
}

}  // namespace Zentrovak::System
