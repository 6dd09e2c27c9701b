// How the page's relative file names map to resource types and names, shared
// by the two backends' resource lookups.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace Zentrovak::UI {

struct PageResourceName {
  std::string type;  // the folder, upper case ("JS")
  std::string name;  // the file name, upper case ("MAIN.JS")
};

// "js/main.js" -> JS, MAIN.JS. Leading "../", "./" and "/" add nothing (the
// page sits at the root of the resource address); anything but exactly one
// non-empty folder and one non-empty file name gives nothing.
std::optional<PageResourceName> SplitPageResourceName(std::string_view relativeName);

// Resource types and names are compared in upper case (ASCII letters only:
// every name of the page set is ASCII).
std::string UpperCaseResourceName(std::string_view name);

// The content type a server gives a file of this name ("text/html;
// charset=utf-8" for pages, "image/gif" ...); empty for unknown extensions.
std::string_view MimeTypeForName(std::string_view name);

}  // namespace Zentrovak::UI
