// Resources of the posix program, from the table compiled into it.
#include <string>

#include "platform/text.h"
#include "ui/posix/embedded_resources.h"
#include "ui/resource_names.h"
#include "ui/resources.h"

namespace Zentrovak::UI {

namespace {

constexpr char kHtmlType[] = "#23";

std::optional<ResourceData> Find(std::string_view type, std::string_view name) {
  for (size_t i = 0; i < Embedded::kFileCount; ++i) {
    const Embedded::File& file = Embedded::kFiles[i];
    if (type == file.type && name == file.name) {
      return ResourceData{file.data, file.size, MimeTypeForName(file.name)};
    }
  }
  return std::nullopt;
}

std::string NumberedName(uint32_t id) { return "#" + std::to_string(id); }

}  // namespace

std::optional<ResourceData> FindHtmlResource(uint32_t id) {
  auto found = Find(kHtmlType, NumberedName(id));
  if (found) found->mimeType = MimeTypeForName(".htm");
  return found;
}

std::optional<ResourceData> FindPageResource(std::string_view relativeName) {
  const auto split = SplitPageResourceName(relativeName);
  if (!split) return std::nullopt;
  return Find(split->type, split->name);
}

std::optional<ResourceData> FindTypedResource(std::u16string_view type, uint32_t id) {
  return Find(UpperCaseResourceName(Platform::Utf16ToUtf8(type)), NumberedName(id));
}

std::u16string LoadStringResource(uint32_t id) {
  for (size_t i = 0; i < Embedded::kTextCount; ++i) {
    if (Embedded::kTexts[i].id == id) return Platform::Utf8ToUtf16(Embedded::kTexts[i].utf8);
  }
  return {};
}

}  // namespace Zentrovak::UI
