// BSTR helpers of the Windows dialog's parts.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace Zentrovak::UI::Win32 {

inline std::u16string U16(BSTR text) {
  return text ? std::u16string(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text)) : std::u16string();
}

class Bstr {
 public:
  explicit Bstr(std::u16string_view text)
      : value_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~Bstr() { ::SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

}  // namespace Zentrovak::UI::Win32
