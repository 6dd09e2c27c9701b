// The page set and the other resources carried inside the executable.
// win32: real resources (RT_HTML 129-133, JS, CSS, IMAGES, the string table
// 101-181, icon 128, "PE" 133); posix: the same bytes compiled in.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Zentrovak::UI {

struct ResourceData {
  const unsigned char* data = nullptr;
  size_t size = 0;
  std::string_view mimeType;  // for the posix bridge server
};

// A page variant by its RT_HTML id (129..133).
std::optional<ResourceData> FindHtmlResource(uint32_t id);
// A file by the relative name the page uses ("js/main.js",
// "images/a12.jpg"): the folder names the type and the file the name, both
// compared in upper case; "../" in front adds nothing.
std::optional<ResourceData> FindPageResource(std::string_view relativeName);
// A resource of a named type ("PE" 133: the carried assist library).
std::optional<ResourceData> FindTypedResource(std::u16string_view type, uint32_t id);

// A string of the string table; empty when the id has none.
std::u16string LoadStringResource(uint32_t id);

}  // namespace Zentrovak::UI
