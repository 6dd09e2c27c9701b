// A COM interface pointer released at the end of its scope.
#pragma once
#include <windows.h>
#include <objbase.h>

namespace Zentrovak::Platform::Win32 {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  template <typename U>
  HRESULT As(ComPtr<U>& out) const {
    return p_ ? p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(out.put())) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace Zentrovak::Platform::Win32
