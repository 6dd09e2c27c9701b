#include "ui/resource_names.h"

#include "platform/text.h"

namespace Zentrovak::UI {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string UpperCaseResourceName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::optional<PageResourceName> SplitPageResourceName(std::string_view relativeName) {
  std::string_view rest = relativeName;
  for (;;) {
    if (StartsWith(rest, "../")) {
      rest.remove_prefix(3);
    } else if (StartsWith(rest, "./")) {
      rest.remove_prefix(2);
    } else if (StartsWith(rest, "/")) {
      rest.remove_prefix(1);
    } else {
      break;
    }
  }
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == rest.size()) return std::nullopt;
  std::string_view folder = rest.substr(0, slash);
  std::string_view file = rest.substr(slash + 1);
  if (file.find('/') != std::string_view::npos || folder == "." || folder == ".." || file == "." ||
      file == "..") {
    return std::nullopt;
  }
  return PageResourceName{UpperCaseResourceName(folder), UpperCaseResourceName(file)};
}

std::string_view MimeTypeForName(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  const std::string extension = Platform::AsciiLower(name.substr(dot + 1));
  if (extension == "htm" || extension == "html") return "text/html; charset=utf-8";
  if (extension == "js") return "application/javascript; charset=utf-8";
  if (extension == "css") return "text/css; charset=utf-8";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "gif") return "image/gif";
  if (extension == "png") return "image/png";
  if (extension == "ico") return "image/x-icon";
  return {};
}

}  // namespace Zentrovak::UI
