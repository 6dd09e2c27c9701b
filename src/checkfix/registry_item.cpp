#include "checkfix/registry_item.h"

#include <cstring>

#include "checkfix/file_check.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;
using Platform::Win32Error;

namespace {

constexpr char16_t kPolicyKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char16_t kPolicyValue[] = u"Disableregistrytools";
constexpr size_t kMaxTextChars = 512;  // terminator included
constexpr size_t kMaxValueBytes = 4096;

bool NotFound(Win32Error e) { return e == Platform::kErrorFileNotFound || e == Platform::kErrorPathNotFound; }

// The policy is set when its value reads as a non-zero DWORD.
bool RegistryToolsDisabled(RegistryKey& policy) {
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, kPolicyKey, Platform::RegAccess::ReadWrite,
                        Platform::RegView::Default, policy))
    return false;
  uint32_t value = 0;
  return policy.ReadDword(kPolicyValue, value) == 0 && value != 0;
}

struct EntryKey {
  Platform::RegRoot root = Platform::kHkeyCurrentUser;
  std::u16string subkey;
};

bool SplitEntryPath(const std::string& text, EntryKey& out) {
  const size_t slash = text.find('\\');
  if (slash == std::string::npos) return false;
  out.root = RegistryRootForName(std::string_view(text).substr(0, slash));
  out.subkey = Platform::Utf8ToUtf16(std::string_view(text).substr(slash + 1));
  return true;
}

Win32Error OpenEntryKey(const ConfigEntry& entry, const RedirectionGuard& guard, bool create, RegistryKey& key) {
  EntryKey where;
  if (!SplitEntryPath(entry.text, where)) return Platform::kErrorInvalidParameter;
  if (!create) return RegistryKey::Open(where.root, where.subkey, Platform::RegAccess::ReadWrite, guard.View(), key);
  if (RegistryKey::Open(where.root, where.subkey, Platform::RegAccess::ReadWrite, guard.View(), key) == 0) return 0;
  return RegistryKey::Create(where.root, where.subkey, Platform::RegAccess::ReadWrite, guard.View(), key);
}

uint32_t DwordAttribute(const ConfigEntry& entry, std::string_view name, uint32_t absent) {
  const std::string& text = GetAttr(entry.attributes, name);
  return text.empty() ? absent : static_cast<uint32_t>(Platform::ParseDecimalPrefix(text));
}

// What an entry requires of its value.
struct Requirement {
  explicit Requirement(const ConfigEntry& entry)
      : type(GetAttr(entry.attributes, "type")),
        name(Platform::Utf8ToUtf16(GetAttr(entry.attributes, "name"))),
        value(GetAttr(entry.attributes, "value")),
        mask(DwordAttribute(entry, "mask", 0xFFFFFFFFu)),
        dword(static_cast<uint32_t>(Platform::ParseDecimalPrefix(value))) {}
  bool DwordMatches(uint32_t stored) const { return (stored & mask) == (dword & mask); }
  // A stored byte string matches only with the same length.
  bool BytesMatch(const std::vector<uint8_t>& stored) const { return stored == DecodeHexBytes(value); }

  const std::string& type;
  const std::u16string name;
  const std::string& value;
  const uint32_t mask;
  const uint32_t dword;
};

}  // namespace

Platform::RegRoot RegistryRootForName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (upper == "HKLM" || upper == "HKEY_LOCAL_MACHINE") return Platform::kHkeyLocalMachine;
  if (upper == "HKCR" || upper == "HKEY_CLASSES_ROOT") return Platform::kHkeyClassesRoot;
  return Platform::kHkeyCurrentUser;
}

std::vector<uint8_t> DecodeHexBytes(std::string_view text) {
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 2 <= text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

int32_t CheckFixRegistry::BeginCheck() {
  RegistryKey policy;
  return RegistryToolsDisabled(policy) ? Failed : Passed;
}

int32_t CheckFixRegistry::BeginFix() {
  RegistryKey policy;
  if (!RegistryToolsDisabled(policy)) return Passed;
  return policy.DeleteValue(kPolicyValue) == 0 ? Passed : Failed;
}

int32_t CheckFixRegistry::CheckEntry(ConfigEntry& entry) {
  RedirectionGuard guard(entry);
  RegistryKey key;
  if (OpenEntryKey(entry, guard, false, key)) return Failed;
  const Requirement want(entry);
  if (want.type == "reg_dword") {
    uint32_t stored = 0;
    return key.ReadDword(want.name, stored) == 0 && want.DwordMatches(stored) ? Passed : Failed;
  }
  if (want.type == "reg_sz") {
    std::u16string stored;
    return key.ReadString(want.name, stored, kMaxTextChars) == 0 && stored == Platform::Utf8ToUtf16(want.value)
               ? Passed
               : Failed;
  }
  if (want.type == "reg_binary") {
    std::vector<uint8_t> stored;
    return key.ReadBinary(want.name, stored, kMaxValueBytes) == 0 && want.BytesMatch(stored) ? Passed : Failed;
  }
  uint32_t storedType = 0;
  std::vector<uint8_t> raw;
  return key.ReadRaw(want.name, storedType, raw, kMaxValueBytes) == 0 ? Passed : Failed;
}

int32_t CheckFixRegistry::FixEntry(ConfigEntry& entry) {
  RedirectionGuard guard(entry);
  RegistryKey key;
  if (OpenEntryKey(entry, guard, true, key)) return Failed;
  const Requirement want(entry);
  if (want.type == "reg_dword") {
    uint32_t stored = 0;
    const Win32Error read = key.ReadDword(want.name, stored);
    uint32_t write;
    if (read == 0) {
      if (want.DwordMatches(stored)) return Passed;
      // Bits outside the mask keep what they hold.
      write = (want.dword & want.mask) | (stored & ~want.mask);
    } else if (NotFound(read)) {
      write = want.dword;
    } else {
      return Failed;  // a value of another type is never written over
    }
    return key.WriteDword(want.name, write) == 0 ? Passed : Failed;
  }
  if (want.type == "reg_sz") {
    const std::u16string expected = Platform::Utf8ToUtf16(want.value);
    std::u16string stored;
    const Win32Error read = key.ReadString(want.name, stored, kMaxTextChars);
    if (read == 0 && stored == expected) return Passed;
    if (read != 0 && !NotFound(read)) return Failed;
    return key.WriteString(want.name, expected, Platform::RegType::kSz) == 0 ? Passed : Failed;
  }
  if (want.type == "reg_binary") {
    std::vector<uint8_t> stored;
    const Win32Error read = key.ReadBinary(want.name, stored, kMaxValueBytes);
    if (read == 0 && want.BytesMatch(stored)) return Passed;
    if (read != 0 && !NotFound(read)) return Failed;
    return key.WriteBinary(want.name, DecodeHexBytes(want.value)) == 0 ? Passed : Failed;
  }
  return Failed;  // a value that only has to exist has no repair
}

}  // namespace Zentrovak::Assistant
