// Keeps the machine's list of file operations pending until the next
// restart as it was before a test that adds to it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Testing {

class PendingOperationsKeeper {
 public:
  PendingOperationsKeeper() {
    Platform::RegistryKey key;
    if (Open(key) == 0) had_ = key.ReadRaw(kValue, type_, saved_) == 0;
  }
  ~PendingOperationsKeeper() {
    Platform::RegistryKey key;
    if (Open(key) != 0) return;
    if (had_) key.SetValue(kValue, type_, saved_.data(), static_cast<uint32_t>(saved_.size()));
    else key.DeleteValue(kValue);
  }
  // The pending list as one text (names separated by blanks).
  static std::u16string Listed() {
    Platform::RegistryKey key;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (Open(key) != 0 || key.ReadRaw(kValue, type, data) != 0) return {};
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
      text += c ? c : u' ';
    }
    return text;
  }

 private:
  static constexpr char16_t kValue[] = u"PendingFileRenameOperations";
  static Platform::Win32Error Open(Platform::RegistryKey& key) {
    return Platform::RegistryKey::Create(Platform::kHkeyLocalMachine,
                                         u"System\\CurrentControlSet\\Control\\Session Manager",
                                         Platform::RegAccess::ReadWrite, Platform::RegView::Default, key);
  }
  bool had_ = false;
  uint32_t type_ = 0;
  std::vector<uint8_t> saved_;
};

}  // namespace Zentrovak::Testing
