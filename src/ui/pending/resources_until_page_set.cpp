// Stand-in for the page set until its embedding is built: one plain page
// per variant and the few strings start-up uses. Compiled only while the
// build has no resource embedding of its own (cmake/Resources.cmake).
#include <cstring>

#include "ui/resources.h"

namespace Zentrovak::UI {

namespace {
const char kPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>page</title></head>"
    "<body><div id=\"ui_title\">澜屿银行网银助手</div><p id=\"ui_quit\">关闭</p></body></html>";
const unsigned char kAssistLibrary[] = "stand-in assist library of the project";
}  // namespace

std::optional<ResourceData> FindHtmlResource(uint32_t id) {
  if (id < 129 || id > 133) return std::nullopt;
  return ResourceData{reinterpret_cast<const unsigned char*>(kPage), std::strlen(kPage), "text/html; charset=utf-8"};
}

std::optional<ResourceData> FindPageResource(std::string_view) { return std::nullopt; }

std::optional<ResourceData> FindTypedResource(std::u16string_view type, uint32_t id) {
  if (type != u"PE" || id != 133) return std::nullopt;
  return ResourceData{kAssistLibrary, sizeof kAssistLibrary - 1, "application/octet-stream"};
}

std::u16string LoadStringResource(uint32_t id) {
  switch (id) {
    case 102: return u"澜屿银行网银助手";
    case 103: return u"启动澜屿银行网银助手";
    default: return {};
  }
}

}  // namespace Zentrovak::UI
