#include "checkfix/page_calls.h"

#include "platform/text.h"
#include "ui/bs_dialog.h"
#include "ui/resources.h"

namespace Zentrovak::Assistant {

using UI::Variant;

Platform::HResult setHtmlItemText(std::u16string_view elementId, std::u16string_view content) {
  return UI::CallPage(u"setHtmlItemText", {Variant::String(std::u16string(elementId)),
                                           Variant::String(std::u16string(content))});
}

Platform::HResult setHtmlItemText(uint32_t elementIdString, uint32_t contentString) {
  constexpr size_t kLimit = 256;
  std::u16string id = UI::LoadStringResource(elementIdString);
  std::u16string content = UI::LoadStringResource(contentString);
  if (id.empty() || content.empty()) return Platform::kEFail;
  if (id.size() > kLimit) id.resize(kLimit);
  if (content.size() > kLimit) content.resize(kLimit);
  return setHtmlItemText(id, content);
}

Platform::HResult setItemInfo(int32_t itemNumber, std::string_view name, std::string_view value) {
  return UI::CallPage(u"setItemInfo", {Variant::Int(itemNumber), Variant::String(Platform::Utf8ToUtf16(name)),
                                       Variant::String(Platform::Utf8ToUtf16(value))});
}

Platform::HResult setProgress(bool success, int32_t percent, int32_t itemNumber) {
  return UI::CallPage(u"setProgress", {Variant::Bool(success), Variant::Int(percent), Variant::Int(itemNumber)});
}

}  // namespace Zentrovak::Assistant
