// Typed reads and writes, built on the backend's QueryValue and SetValue so
// that both backends give the same answers for the same stored data.
#include "platform/registry.h"

#include <cstring>

namespace Zentrovak::Platform {

Win32Error RegistryKey::ReadRaw(std::u16string_view name, uint32_t& type,
                                std::vector<uint8_t>& value, size_t maxBytes) const {
  uint32_t size = 0;
  Win32Error error = QueryValue(name, &type, nullptr, &size);
  if (error != kErrorSuccess) return error;
  if (size > maxBytes) return kErrorMoreData;
  value.assign(size, 0);
  // The value may change between the two queries; a grown value is reported
  // as more data rather than read in part.
  error = QueryValue(name, &type, value.data(), &size);
  if (error != kErrorSuccess) return error;
  value.resize(size);
  return kErrorSuccess;
}

Win32Error RegistryKey::ReadDword(std::u16string_view name, uint32_t& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  Win32Error error = ReadRaw(name, type, data, 4);
  if (error == kErrorMoreData) {
    // Learn the type first so that a long text reports its type, not its size.
    uint32_t size = 0;
    if (QueryValue(name, &type, nullptr, &size) == kErrorSuccess && type != RegType::kDword)
      return kErrorUnsupportedType;
    return error;
  }
  if (error != kErrorSuccess) return error;
  if (type != RegType::kDword) return kErrorUnsupportedType;
  if (data.size() != 4) return kErrorInvalidData;
  std::memcpy(&value, data.data(), 4);
  return kErrorSuccess;
}

Win32Error RegistryKey::ReadString(std::u16string_view name, std::u16string& value,
                                   size_t maxChars) const {
  uint32_t type = 0;
  uint32_t size = 0;
  Win32Error error = QueryValue(name, &type, nullptr, &size);
  if (error != kErrorSuccess) return error;
  if (type != RegType::kSz && type != RegType::kExpandSz) return kErrorUnsupportedType;
  std::vector<uint8_t> data;
  error = ReadRaw(name, type, data, maxChars * 2);
  if (error != kErrorSuccess) return error;
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  // Stored texts usually carry their terminator; anything after the first
  // zero is not part of the text.
  const auto zero = text.find(u'\0');
  if (zero != std::u16string::npos) text.resize(zero);
  else if (text.size() + 1 > maxChars) return kErrorMoreData;
  value = std::move(text);
  return kErrorSuccess;
}

Win32Error RegistryKey::ReadBinary(std::u16string_view name, std::vector<uint8_t>& value,
                                   size_t maxBytes) const {
  uint32_t type = 0;
  uint32_t size = 0;
  Win32Error error = QueryValue(name, &type, nullptr, &size);
  if (error != kErrorSuccess) return error;
  if (type != RegType::kBinary) return kErrorUnsupportedType;
  return ReadRaw(name, type, value, maxBytes);
}

Win32Error RegistryKey::WriteDword(std::u16string_view name, uint32_t value) {
  return SetValue(name, RegType::kDword, &value, sizeof value);
}

Win32Error RegistryKey::WriteString(std::u16string_view name, std::u16string_view value,
                                    uint32_t type) {
  std::u16string text(value);
  return SetValue(name, type, text.c_str(), static_cast<uint32_t>((text.size() + 1) * 2));
}

Win32Error RegistryKey::WriteBinary(std::u16string_view name, const std::vector<uint8_t>& value) {
  return SetValue(name, RegType::kBinary, value.data(), static_cast<uint32_t>(value.size()));
}

}  // namespace Zentrovak::Platform
