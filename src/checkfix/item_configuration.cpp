#include "checkfix/item_configuration.h"

#include <mutex>
#include <unordered_map>
#include <utility>

#include "checkfix/xml_reader.h"
#include "net/http.h"
#include "platform/files.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::HResult;

void StoreAttribute(AttributeMap& map, std::string_view name, std::string value) {
  if (value.empty()) return;
  map[Platform::AsciiLower(name)] = std::move(value);
}

const std::string& GetAttr(const AttributeMap& map, std::string_view lowerName) {
  static const std::string none;
  const auto it = map.find(lowerName);
  return it == map.end() ? none : it->second;
}

namespace {

void ReadAllAttributes(const XmlReader& reader, AttributeMap& map) {
  std::string name, value;
  for (size_t i = 0; reader.AttributeAt(i, name, value); ++i) StoreAttribute(map, name, std::move(value));
}

ConfigEntry ReadEntry(const XmlReader& reader) {
  ConfigEntry entry;
  entry.text = reader.Text();
  ReadAllAttributes(reader, entry.attributes);
  return entry;
}

void ReadEntries(XmlReader& reader, std::string_view element, std::vector<ConfigEntry>& list) {
  while (reader.FindNext(element)) list.push_back(ReadEntry(reader));
}

// The current item or appinfo element: its attributes and, in any order
// among its children, its tests and installers (and uninstallers).
void ReadComponent(XmlReader& reader, ConfigItem& component, bool withUninstallers) {
  ReadAllAttributes(reader, component.attributes);
  reader.Enter();
  ReadEntries(reader, "detect", component.detect);
  reader.Rewind();
  ReadEntries(reader, "installer", component.installer);
  if (withUninstallers) {
    reader.Rewind();
    ReadEntries(reader, "uninstaller", component.uninstaller);
  }
  reader.Leave();
}

// Reads a file of at most `limit` bytes; a larger one is not a
// configuration.
HResult ReadConfigurationFile(std::u16string_view path, std::string& bytes) {
  Platform::FileStream file;
  if (Platform::Win32Error e = file.Open(path, Platform::FileStream::Mode::Read))
    return Platform::HResultFromWin32(e);
  char block[64 * 1024];
  for (;;) {
    uint32_t got = 0;
    if (Platform::Win32Error e = file.Read(block, sizeof block, &got)) return Platform::HResultFromWin32(e);
    if (got == 0) return Platform::kSOk;
    if (bytes.size() + got > kMaxConfigurationBytes) return Platform::kEFail;
    bytes.append(block, got);
  }
}

}  // namespace

void ItemConfiguration::Clear() {
  rootAttributes.clear();
  dataTexts.clear();
  groups.clear();
  items.clear();
  application = ConfigItem();
}

HResult ItemConfiguration::Load(std::u16string_view location) {
  Clear();
  std::string bytes;
  HResult fetched;
  if (Platform::AsciiStartsWithIgnoreCase(location, u"http")) {
    fetched = Network::HttpGetToMemory(std::u16string(location), bytes);
    // Relative download addresses of the document are resolved against
    // the folder the document came from, whatever the fetch gave.
    std::string base = Platform::Utf16ToUtf8(location);
    const size_t slash = base.rfind('/');
    base.erase(slash == std::string::npos ? 0 : slash + 1);
    StoreAttribute(rootAttributes, "base", std::move(base));
  } else {
    fetched = ReadConfigurationFile(location, bytes);
  }
  if (Platform::Failed(fetched)) return fetched;
  return ParseDocument(bytes) ? Platform::kSOk : Platform::kEFail;
}

bool ItemConfiguration::ParseDocument(std::string_view bytes) {
  if (bytes.size() > kMaxConfigurationBytes) return false;
  XmlReader reader;
  if (!reader.Parse(bytes) || !reader.FindNext("checkitems")) return false;
  ReadAllAttributes(reader, rootAttributes);
  reader.Enter();

  // Groups of one type merge, in document order.
  std::unordered_map<std::string, size_t> groupByType;
  for (size_t i = 0; i < groups.size(); ++i) groupByType.emplace(groups[i].type, i);
  while (reader.FindNext("config")) {
    std::string type = reader.Attribute("type");
    auto found = groupByType.find(type);
    if (found == groupByType.end()) {
      found = groupByType.emplace(type, groups.size()).first;
      groups.push_back(ConfigGroup{std::move(type), {}});
    }
    ConfigGroup& group = groups[found->second];
    reader.Enter();
    ReadEntries(reader, "entry", group.entries);
    reader.Leave();
  }

  reader.Rewind();
  while (reader.FindNext("data")) dataTexts[reader.Attribute("name")] = reader.Text();

  // Items are looked for only from the last data element on.
  while (reader.FindNext("item")) ReadComponent(reader, items.emplace_back(), true);

  // Every appinfo adds to the one application record.
  reader.Rewind();
  while (reader.FindNext("appinfo")) ReadComponent(reader, application, false);
  return true;
}

bool ItemConfiguration::IsLoaded() const {
  return !rootAttributes.empty() || !dataTexts.empty() || !groups.empty() || !items.empty() ||
         !application.attributes.empty() || !application.detect.empty() || !application.installer.empty() ||
         !application.uninstaller.empty();
}

ConfigGroup* ItemConfiguration::FindGroup(std::string_view type) {
  for (ConfigGroup& group : groups)
    if (group.type == type) return &group;
  return nullptr;
}

ConfigItem* ItemConfiguration::ItemAt(int64_t position) {
  if (position < 0 || static_cast<uint64_t>(position) >= items.size()) return nullptr;
  return &items[static_cast<size_t>(position)];
}

std::string ItemConfiguration::DataText(std::string_view name) const {
  const auto it = dataTexts.find(name);
  return it == dataTexts.end() ? std::string() : it->second;
}

std::string ItemConfiguration::ResolveUrl(std::string_view address) const {
  if (address.empty() || address.find("://") != std::string_view::npos) return std::string(address);
  return GetAttr(rootAttributes, "base") + std::string(address);
}

namespace {
std::mutex currentMutex;
std::shared_ptr<ItemConfiguration>& CurrentSlot() {
  static std::shared_ptr<ItemConfiguration> current = std::make_shared<ItemConfiguration>();
  return current;
}
}  // namespace

std::shared_ptr<ItemConfiguration> CurrentConfiguration() {
  std::lock_guard<std::mutex> lock(currentMutex);
  return CurrentSlot();
}

void InstallConfiguration(std::shared_ptr<ItemConfiguration> model) {
  if (!model) model = std::make_shared<ItemConfiguration>();
  std::shared_ptr<ItemConfiguration> previous;
  {
    std::lock_guard<std::mutex> lock(currentMutex);
    previous = std::exchange(CurrentSlot(), std::move(model));
  }
  // `previous` is released outside the lock.
}

HResult LoadItemConfiguration(std::u16string_view location) {
  auto fresh = std::make_shared<ItemConfiguration>();
  const HResult result = fresh->Load(location);
  InstallConfiguration(std::move(fresh));
  return result;
}

}  // namespace Zentrovak::Assistant
