#include "platform/files.h"

#include <vector>

namespace Zentrovak::Platform {

HResult ReadWholeFile(std::u16string_view path, std::string& bytes) {
  FileStream file;
  if (Win32Error e = file.Open(path, FileStream::Mode::Read)) return HResultFromWin32(e);
  std::string data;
  std::vector<char> buffer(65536);
  for (;;) {
    uint32_t got = 0;
    if (Win32Error e = file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got))
      return HResultFromWin32(e);
    if (got == 0) break;
    data.append(buffer.data(), got);
  }
  bytes = std::move(data);
  return kSOk;
}

HResult WriteWholeFile(std::u16string_view path, std::string_view bytes) {
  FileStream file;
  if (Win32Error e = file.Open(path, FileStream::Mode::CreateAlways)) return HResultFromWin32(e);
  return HResultFromWin32(file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

std::u16string ParentPath(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash));
}

std::u16string FileNamePart(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace Zentrovak::Platform
