// The string-table form of setHtmlItemText, apart so that only its users
// need the string table.
#include "checkfix/page_calls.h"
#include "ui/resources.h"

namespace Zentrovak::Assistant {

Platform::HResult setHtmlItemText(uint32_t elementIdString, uint32_t contentString) {
  constexpr size_t kLimit = 256;
  std::u16string id = UI::LoadStringResource(elementIdString);
  std::u16string content = UI::LoadStringResource(contentString);
  if (id.empty() || content.empty()) return Platform::kEFail;
  if (id.size() > kLimit) id.resize(kLimit);
  if (content.size() > kLimit) content.resize(kLimit);
  return setHtmlItemText(id, content);
}

}  // namespace Zentrovak::Assistant
