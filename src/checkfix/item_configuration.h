// The bank's item configuration ("itemV3.xml"): the check groups, the
// components with their tests and installers, the page's named texts and the
// assistant's own record. One model is current for the whole process; a
// load builds a new model and the caller puts it in place.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace Zentrovak::Assistant {

// Attribute name (lower case) to value, walked in ascending byte order of
// the names. Empty values are never stored.
using AttributeMap = std::map<std::string, std::string, std::less<>>;

// Stores a value under the lower-cased name; an empty value stores nothing.
// A later value of the same name wins.
void StoreAttribute(AttributeMap& map, std::string_view name, std::string value);
// The value under a lower-case name, or the empty string.
const std::string& GetAttr(const AttributeMap& map, std::string_view lowerName);

struct ConfigEntry {
  int32_t state = 0;  // result code of the last check or fix
  std::string text;   // the element's character data
  AttributeMap attributes;
};

struct ConfigGroup {
  std::string type;
  std::vector<ConfigEntry> entries;
};

struct ConfigItem {
  AttributeMap attributes;
  std::vector<ConfigEntry> detect;
  std::vector<ConfigEntry> installer;
  std::vector<ConfigEntry> uninstaller;  // kept, not used
};

// Documents larger than this are refused; a real configuration is a few
// dozen kilobytes.
inline constexpr size_t kMaxConfigurationBytes = 16u << 20;

class ItemConfiguration {
 public:
  AttributeMap rootAttributes;
  std::map<std::string, std::string, std::less<>> dataTexts;  // names exact
  std::vector<ConfigGroup> groups;                            // one per type
  std::vector<ConfigItem> items;
  ConfigItem application;

  void Clear();

  // Empties the model, then reads the document from an address starting
  // with "http" (any case) or from a file path. 0 when loaded; E_FAIL when
  // the bytes are not a configuration; the fetch's or read's error
  // otherwise. An http location leaves "base" in the model in every case.
  Platform::HResult Load(std::u16string_view location);
  // Reads a document's bytes into the model (which is not emptied first).
  // False when the document is not well formed or has no "checkitems"
  // root; what was read before stays.
  bool ParseDocument(std::string_view bytes);

  bool IsLoaded() const;
  ConfigGroup* FindGroup(std::string_view type);
  size_t ItemCount() const { return items.size(); }
  // None when position is not below ItemCount().
  ConfigItem* ItemAt(int64_t position);
  std::string DataText(std::string_view name) const;
  ConfigItem& ApplicationRecord() { return application; }
  // An empty address or one with "://" as it is; anything else after the
  // root attribute "base".
  std::string ResolveUrl(std::string_view address) const;
};

// The process-wide model. Readers keep the pointer for the length of their
// work, so a model replaced meanwhile stays alive until they are done.
std::shared_ptr<ItemConfiguration> CurrentConfiguration();
void InstallConfiguration(std::shared_ptr<ItemConfiguration> model);

// Loads into a fresh model and makes it current, whatever the result.
Platform::HResult LoadItemConfiguration(std::u16string_view location);

}  // namespace Zentrovak::Assistant
