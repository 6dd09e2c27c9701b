#include "platform/files.h"

namespace Zentrovak::Platform {

std::u16string ParentPath(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash));
}

std::u16string FileNamePart(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace Zentrovak::Platform
