// The settings store: named values under
// HKEY_CURRENT_USER\Software\<registry key>\<application name>\<section>.
// Read and written at the moment of each call; nothing is cached, so another
// process sees a change at once.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace Zentrovak::App {

inline constexpr char16_t kSettingsSection[] = u"Settings";

// Start-up sets "Zentrovak"; until then there is no store and reads give
// their defaults.
void SetSettingsRegistryKey(std::u16string_view key);
// The executable's file name without its extension.
std::u16string ApplicationName();
std::u16string SettingsKeyPath(std::u16string_view section);

// The default when the key or value is missing or its data does not fit
// into four bytes; data that fits is the number whatever its type.
int32_t ReadSettingInt(std::u16string_view section, std::u16string_view key, int32_t defaultValue);
// The default when the key or value is missing; the data of an existing
// value is taken as text whatever its type.
std::u16string ReadSettingString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue);
bool WriteSettingInt(std::u16string_view section, std::u16string_view key, int32_t value);
bool WriteSettingString(std::u16string_view section, std::u16string_view key, std::u16string_view value);

// Deployment values: the bank's download server and the public probe site,
// from the build, overridable by the settings "DownloadServer" and
// "ProbeSite".
std::u16string DownloadServer();
std::u16string DefaultConfigurationUrl();  // <download server>/download/itemV3.xml
std::u16string PublicProbeSite();

}  // namespace Zentrovak::App
