#include "checkfix/compatibility_list.h"

#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::RegistryKey;
using Platform::Win32Error;

namespace {

constexpr char16_t kEmulationKey[] = u"Software\\Microsoft\\Internet Explorer\\BrowserEmulation";
constexpr char16_t kAllSitesValue[] = u"AllSitesCompatibilityMode";
constexpr char16_t kListKey[] = u"Software\\Microsoft\\Internet Explorer\\BrowserEmulation\\ClearableListData";
constexpr char16_t kListValue[] = u"UserFilter";

constexpr size_t kHeaderSize = 24;
constexpr size_t kEntryCountAt = 8;
constexpr size_t kListSizeAt = 12;
constexpr size_t kSecondCountAt = 20;
constexpr size_t kEntryFixedSize = 18;
constexpr size_t kNameLengthAt = 16;
constexpr uint32_t kNewHeader[] = {0x00001F41u, 0xBAAD0853u, 0, 12, 1, 0};
// Every entry carries the same time stamp.
constexpr uint32_t kStampLow = 0x00000000u;
constexpr uint32_t kStampHigh = 0x01CE1A48u;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
  bytes.resize(bytes.size() + 4);
  PutLe32(bytes.data() + bytes.size() - 4, value);
}

void AppendLe16(std::vector<uint8_t>& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void RaiseLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t by) { PutLe32(&bytes[at], Le32(&bytes[at]) + by); }

std::u16string StoredName(const uint8_t* p, size_t units) {
  std::u16string name(units, u'\0');
  for (size_t i = 0; i < units; ++i) name[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  return name;
}

// The value of the user, else the machine's, of any type up to `maxBytes`.
Win32Error ReadUserThenMachine(std::u16string_view subkey, std::u16string_view name, size_t maxBytes,
                               std::vector<uint8_t>& data) {
  Win32Error error = Platform::kErrorFileNotFound;
  for (Platform::RegRoot root : {Platform::kHkeyCurrentUser, Platform::kHkeyLocalMachine}) {
    RegistryKey key;
    uint32_t type = 0;
    error = RegistryKey::Open(root, subkey, Platform::RegAccess::Read, Platform::RegView::Default, key);
    if (error == Platform::kErrorSuccess) error = key.ReadRaw(name, type, data, maxBytes);
    if (error == Platform::kErrorSuccess) return error;
  }
  return error;
}

}  // namespace

bool CompatibilityListNames(const uint8_t* data, size_t size, std::u16string_view domain) {
  if (size < kHeaderSize) return false;
  const uint32_t count = Le32(data + kEntryCountAt);
  size_t at = kHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < kEntryFixedSize) return false;
    const size_t units = static_cast<size_t>(data[at + kNameLengthAt] | data[at + kNameLengthAt + 1] << 8);
    at += kEntryFixedSize;
    if ((size - at) / 2 < units) return false;
    if (units > 0 && units <= domain.size() &&
        Platform::EqualsIgnoreCase(domain.substr(0, units), StoredName(data + at, units)))
      return true;
    at += 2 * units;
  }
  return false;
}

std::vector<uint8_t> CompatibilityListWith(std::vector<uint8_t> list, std::u16string_view domain) {
  if (list.size() < kHeaderSize) {
    list.clear();
    for (uint32_t field : kNewHeader) AppendLe32(list, field);
  }
  const uint16_t units = static_cast<uint16_t>(domain.size());
  RaiseLe32(list, kEntryCountAt, 1);
  RaiseLe32(list, kSecondCountAt, 1);
  RaiseLe32(list, kListSizeAt, static_cast<uint32_t>(kEntryFixedSize + 2 * units));
  AppendLe32(list, 0x0000000Cu);
  AppendLe32(list, kStampLow);
  AppendLe32(list, kStampHigh);
  AppendLe32(list, 1);
  AppendLe16(list, units);
  for (size_t i = 0; i < units; ++i) AppendLe16(list, static_cast<uint16_t>(domain[i]));
  return list;
}

bool IsInCompatibilityList(std::u16string_view domain) {
  std::vector<uint8_t> list;
  if (ReadUserThenMachine(kListKey, kListValue, kMaxCompatibilityListBytes, list)) return false;
  return CompatibilityListNames(list.data(), list.size(), domain);
}

bool AddToCompatibilityList(std::u16string_view domain) {
  if (IsInCompatibilityList(domain)) return true;
  if (domain.empty() || domain.size() > 0xFFFF) return false;
  RegistryKey key;
  if (RegistryKey::Create(Platform::kHkeyCurrentUser, kListKey, Platform::RegAccess::ReadWrite,
                          Platform::RegView::Default, key))
    return false;
  std::vector<uint8_t> list;
  const Win32Error read = key.ReadBinary(kListValue, list, kMaxCompatibilityListBytes);
  // A list too long to read whole is the user's all the same: never start
  // it anew.
  if (read == Platform::kErrorMoreData) return false;
  // Missing, of another type, or shorter than a header: a new list.
  if (read != Platform::kErrorSuccess) list.clear();
  const std::vector<uint8_t> updated = CompatibilityListWith(std::move(list), domain);
  if (updated.size() > kMaxCompatibilityListBytes) return false;
  return key.WriteBinary(kListValue, updated) == Platform::kErrorSuccess;
}

bool AllSitesInCompatibilityView() {
  std::vector<uint8_t> value;
  if (ReadUserThenMachine(kEmulationKey, kAllSitesValue, 4, value) || value.size() != 4) return false;
  return Le32(value.data()) != 0;
}

}  // namespace Zentrovak::Assistant
