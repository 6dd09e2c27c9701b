// The registry as the OS boundary offers it: predefined roots, 32/64-bit
// views, typed values, Windows error codes as results. win32 uses the real
// registry; posix keeps a SQLite store in the machine directory.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::Platform {

// Predefined keys, with their Windows handle values.
using RegRoot = uint32_t;
inline constexpr RegRoot kHkeyClassesRoot = 0x80000000u;
inline constexpr RegRoot kHkeyCurrentUser = 0x80000001u;
inline constexpr RegRoot kHkeyLocalMachine = 0x80000002u;
inline constexpr RegRoot kHkeyUsers = 0x80000003u;
inline constexpr RegRoot kHkeyCurrentConfig = 0x80000005u;

namespace RegType {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kSz = 1;
inline constexpr uint32_t kExpandSz = 2;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDword = 4;
inline constexpr uint32_t kMultiSz = 7;
inline constexpr uint32_t kQword = 11;
}  // namespace RegType

enum class RegView { Default, Force32, Force64 };

enum class RegAccess { Read, ReadWrite };

class RegistryBackendKey;  // the backend's open key

// One open key. Move-only; closes on destruction.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens an existing key. Errors: 2 when the key does not exist, 6 for an
  // unknown root, 87 for a malformed path.
  static Win32Error Open(RegRoot root, std::u16string_view subkey, RegAccess access,
                         RegView view, RegistryKey& out);
  // Opens or creates the key with every missing parent (non-volatile).
  static Win32Error Create(RegRoot root, std::u16string_view subkey, RegAccess access,
                           RegView view, RegistryKey& out, bool* created = nullptr);
  // Deletes a key and everything below it; 2 when it does not exist.
  static Win32Error DeleteTree(RegRoot root, std::u16string_view subkey, RegView view);

  bool IsOpen() const;
  void Close();

  // RegQueryValueEx semantics: with data null only type and size are given;
  // a buffer too small answers 234 with *size set to the size needed.
  Win32Error QueryValue(std::u16string_view name, uint32_t* type, void* data,
                        uint32_t* size) const;
  Win32Error SetValue(std::u16string_view name, uint32_t type, const void* data, uint32_t size);
  Win32Error DeleteValue(std::u16string_view name);
  // Deletes a direct subkey that has no subkeys of its own.
  Win32Error DeleteSubkey(std::u16string_view name);
  Win32Error EnumSubkeys(std::vector<std::u16string>& names) const;
  Win32Error EnumValueNames(std::vector<std::u16string>& names) const;

  // Typed reads. A value of another type answers 1630 (unsupported type), a
  // value larger than the limit answers 234.
  Win32Error ReadDword(std::u16string_view name, uint32_t& value) const;
  // REG_SZ or REG_EXPAND_SZ; maxChars counts the terminator as Windows does.
  Win32Error ReadString(std::u16string_view name, std::u16string& value,
                        size_t maxChars = 32768) const;
  Win32Error ReadBinary(std::u16string_view name, std::vector<uint8_t>& value,
                        size_t maxBytes = 1 << 20) const;
  // Any type, raw bytes.
  Win32Error ReadRaw(std::u16string_view name, uint32_t& type, std::vector<uint8_t>& value,
                     size_t maxBytes = 1 << 20) const;

  Win32Error WriteDword(std::u16string_view name, uint32_t value);
  // Written with the terminating zero, as RegSetValueEx is given it.
  Win32Error WriteString(std::u16string_view name, std::u16string_view value,
                         uint32_t type = RegType::kSz);
  Win32Error WriteBinary(std::u16string_view name, const std::vector<uint8_t>& value);

 private:
  std::unique_ptr<RegistryBackendKey> key_;
};

}  // namespace Zentrovak::Platform
