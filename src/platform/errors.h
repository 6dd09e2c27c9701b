// Windows error and result codes as plain values, so that the portable core
// and both backends speak the same numbers across the OS boundary.
#pragma once
#include <cstdint>

namespace Zentrovak::Platform {

using Win32Error = uint32_t;  // 0 is success
using HResult = int32_t;      // negative is failure

inline constexpr Win32Error kErrorSuccess = 0;
inline constexpr Win32Error kErrorFileNotFound = 2;
inline constexpr Win32Error kErrorPathNotFound = 3;
inline constexpr Win32Error kErrorAccessDenied = 5;
inline constexpr Win32Error kErrorInvalidHandle = 6;
inline constexpr Win32Error kErrorNotEnoughMemory = 8;
inline constexpr Win32Error kErrorInvalidData = 13;
inline constexpr Win32Error kErrorNotReady = 21;
inline constexpr Win32Error kErrorSharingViolation = 32;
inline constexpr Win32Error kErrorHandleEof = 38;
inline constexpr Win32Error kErrorFileExists = 80;
inline constexpr Win32Error kErrorInvalidParameter = 87;
inline constexpr Win32Error kErrorInsufficientBuffer = 122;
inline constexpr Win32Error kErrorDirNotEmpty = 145;
inline constexpr Win32Error kErrorBadPathName = 161;
inline constexpr Win32Error kErrorAlreadyExists = 183;
inline constexpr Win32Error kErrorFilenameExcedRange = 206;
inline constexpr Win32Error kErrorMoreData = 234;
inline constexpr Win32Error kErrorNoMoreItems = 259;
inline constexpr Win32Error kErrorNoAccess = 998;
inline constexpr Win32Error kErrorRegistryIoFailed = 1016;
inline constexpr Win32Error kErrorKeyDeleted = 1018;
inline constexpr Win32Error kErrorCancelled = 1223;
inline constexpr Win32Error kErrorUnsupportedType = 1630;
inline constexpr Win32Error kErrorTimeout = 1460;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEAbort = static_cast<HResult>(0x80004004u);
inline constexpr HResult kENotImpl = static_cast<HResult>(0x80004001u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult kEAccessDenied = static_cast<HResult>(0x80070005u);

// HRESULT_FROM_WIN32: 0 stays 0, every other code gets the Win32 facility.
constexpr HResult HResultFromWin32(Win32Error error) {
  return error == 0 ? 0 : static_cast<HResult>((error & 0xFFFFu) | 0x80070000u);
}

constexpr bool Succeeded(HResult hr) { return hr >= 0; }
constexpr bool Failed(HResult hr) { return hr < 0; }

}  // namespace Zentrovak::Platform
