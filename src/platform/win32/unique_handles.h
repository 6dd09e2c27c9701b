// Owners of Win32 handles: each closes its handle exactly once.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace Zentrovak::Platform::Win32 {

template <typename Handle, auto Invalid, auto CloseFn>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(Handle h) : handle_(h) {}
  ~UniqueResource() { reset(); }
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const { return handle_; }
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, Handle(Invalid)); }
  void reset(Handle h = Handle(Invalid)) {
    if (handle_ != Handle(Invalid)) CloseFn(handle_);
    handle_ = h;
  }
  explicit operator bool() const { return handle_ != Handle(Invalid); }

 private:
  Handle handle_ = Handle(Invalid);
};

inline void CloseHandleFn(HANDLE h) { ::CloseHandle(h); }
inline void CloseRegKeyFn(HKEY h) { ::RegCloseKey(h); }

using UniqueHandle = UniqueResource<HANDLE, nullptr, CloseHandleFn>;
using UniqueFileHandle = UniqueResource<HANDLE, -1, CloseHandleFn>;
using UniqueHkey = UniqueResource<HKEY, nullptr, CloseRegKeyFn>;

inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string U16(const wchar_t* text, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), n);
}
inline std::u16string U16(const std::wstring& text) { return U16(text.data(), text.size()); }

}  // namespace Zentrovak::Platform::Win32
