#include "app/settings.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::App {

using Platform::RegistryKey;

namespace {

std::mutex& KeyMutex() {
  static std::mutex m;
  return m;
}
std::u16string& RegistryKeyName() {
  static std::u16string name;
  return name;
}

bool OpenSection(std::u16string_view section, bool create, RegistryKey& key) {
  const std::u16string path = SettingsKeyPath(section);
  if (path.empty()) return false;
  const auto error = create ? RegistryKey::Create(Platform::kHkeyCurrentUser, path, Platform::RegAccess::ReadWrite,
                                                  Platform::RegView::Default, key)
                            : RegistryKey::Open(Platform::kHkeyCurrentUser, path, Platform::RegAccess::Read,
                                                Platform::RegView::Default, key);
  return error == Platform::kErrorSuccess;
}

}  // namespace

void SetSettingsRegistryKey(std::u16string_view key) {
  std::lock_guard<std::mutex> lock(KeyMutex());
  RegistryKeyName() = key;
}

std::u16string ApplicationName() {
  std::u16string name = Platform::FileNamePart(Platform::ModuleFilePath());
  const auto dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.resize(dot);
  return name;
}

std::u16string SettingsKeyPath(std::u16string_view section) {
  std::u16string maker;
  {
    std::lock_guard<std::mutex> lock(KeyMutex());
    maker = RegistryKeyName();
  }
  if (maker.empty()) return {};
  return u"Software\\" + maker + u"\\" + ApplicationName() + u"\\" + std::u16string(section);
}

int32_t ReadSettingInt(std::u16string_view section, std::u16string_view key, int32_t defaultValue) {
  RegistryKey sectionKey;
  if (!OpenSection(section, false, sectionKey)) return defaultValue;
  uint8_t data[4] = {};
  uint32_t type = 0;
  uint32_t size = sizeof data;
  if (sectionKey.QueryValue(key, &type, data, &size) != Platform::kErrorSuccess) return defaultValue;
  uint32_t value = 0;
  std::memcpy(&value, data, sizeof value);
  return static_cast<int32_t>(value);
}

std::u16string ReadSettingString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue) {
  RegistryKey sectionKey;
  if (!OpenSection(section, false, sectionKey)) return std::u16string(defaultValue);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (sectionKey.ReadRaw(key, type, data, 1 << 20) != Platform::kErrorSuccess)
    return std::u16string(defaultValue);
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  const auto zero = text.find(u'\0');
  if (zero != std::u16string::npos) text.resize(zero);
  return text;
}

bool WriteSettingInt(std::u16string_view section, std::u16string_view key, int32_t value) {
  RegistryKey sectionKey;
  return OpenSection(section, true, sectionKey) &&
         sectionKey.WriteDword(key, static_cast<uint32_t>(value)) == Platform::kErrorSuccess;
}

bool WriteSettingString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  RegistryKey sectionKey;
  return OpenSection(section, true, sectionKey) && sectionKey.WriteString(key, value) == Platform::kErrorSuccess;
}

std::u16string DownloadServer() {
  std::u16string server = ReadSettingString(kSettingsSection, u"DownloadServer", u"");
  if (server.empty()) server = Platform::Utf8ToUtf16(ASSISTANT_DOWNLOAD_SERVER);
  while (!server.empty() && server.back() == u'/') server.pop_back();
  return server;
}

std::u16string DefaultConfigurationUrl() { return DownloadServer() + u"/download/itemV3.xml"; }

std::u16string PublicProbeSite() {
  std::u16string site = ReadSettingString(kSettingsSection, u"ProbeSite", u"");
  return site.empty() ? Platform::Utf8ToUtf16(ASSISTANT_PUBLIC_PROBE_SITE) : site;
}

}  // namespace Zentrovak::App
