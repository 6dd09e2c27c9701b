#include "checkfix/hosts_item.h"

#include "checkfix/file_check.h"
#include "net/hosts_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

std::u16string HostsFilePath() {
  return Platform::ExpandEnvironmentReferences(u"%windir%\\system32\\drivers\\etc\\hosts");
}

int32_t CheckFixHost::ReadFile() {
  RedirectionGuard redirectionOff;
  std::string bytes;
  if (Platform::Failed(Platform::ReadWholeFile(HostsFilePath(), bytes))) return Failed;
  content_ = std::move(bytes);
  changed_ = false;
  return Passed;
}

int32_t CheckFixHost::BeginCheck() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ReadFile();
}

int32_t CheckFixHost::CheckEntry(ConfigEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Network::MapsName(content_, entry.text) ? Failed : Passed;
}

int32_t CheckFixHost::BeginFix() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ReadFile();
}

int32_t CheckFixHost::FixEntry(ConfigEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entry.text.empty() || !Network::MapsName(content_, entry.text)) return Passed;
  content_ = Network::WithoutName(content_, entry.text);
  changed_ = true;
  return Passed;
}

int32_t CheckFixHost::EndFix() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!changed_) return Passed;
  RedirectionGuard redirectionOff;
  // The whole file or nothing, keeping who may change it: a read-only
  // hosts file was made so on purpose and stays as it is.
  if (Platform::ReplaceFileContents(HostsFilePath(), content_) != Platform::kErrorSuccess) return Failed;
  changed_ = false;
  return Passed;
}

}  // namespace Zentrovak::Assistant
