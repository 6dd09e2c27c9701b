// Resources of the Windows program: real resources of the executable module.
#include <windows.h>

#include <string>

#include "platform/text.h"
#include "platform/win32/unique_handles.h"
#include "ui/resource_names.h"
#include "ui/resources.h"

namespace Zentrovak::UI {

namespace {

// Resources are mapped with the module and stay valid as long as it is
// loaded, so the data pointer needs no owner.
std::optional<ResourceData> Find(const wchar_t* type, const wchar_t* name, std::string_view mimeType) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, name, type);
  if (info == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) return std::nullopt;
  const void* data = LockResource(loaded);
  if (data == nullptr) return std::nullopt;
  return ResourceData{static_cast<const unsigned char*>(data), SizeofResource(module, info), mimeType};
}

std::wstring Wide(std::string_view ascii) { return Platform::Win32::Wide(Platform::Utf8ToUtf16(ascii)); }

}  // namespace

std::optional<ResourceData> FindHtmlResource(uint32_t id) {
  return Find(MAKEINTRESOURCEW(23), MAKEINTRESOURCEW(id), MimeTypeForName(".htm"));
}

std::optional<ResourceData> FindPageResource(std::string_view relativeName) {
  const auto split = SplitPageResourceName(relativeName);
  if (!split) return std::nullopt;
  return Find(Wide(split->type).c_str(), Wide(split->name).c_str(), MimeTypeForName(split->name));
}

std::optional<ResourceData> FindTypedResource(std::u16string_view type, uint32_t id) {
  const std::wstring upper = Wide(UpperCaseResourceName(Platform::Utf16ToUtf8(type)));
  return Find(upper.c_str(), MAKEINTRESOURCEW(id), {});
}

std::u16string LoadStringResource(uint32_t id) {
  // With a buffer size of 0 LoadStringW hands out a pointer to the text
  // inside the resource (not terminated) and answers its length.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return Platform::Win32::U16(text, static_cast<size_t>(length));
}

}  // namespace Zentrovak::UI
