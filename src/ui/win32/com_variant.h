// Between the automation VARIANTs of the browser and the program's
// Variant: no value changes its type on the way.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "ui/variant.h"

namespace Zentrovak::UI::Win32 {

// A script function or object of the page, held through its IDispatch.
// Calls from other threads are carried to the thread that owns it through
// the dialog window (message WM_USER + 1, code 2); the last reference is
// released on that thread too.
class DispatchObject : public ScriptObject {
 public:
  DispatchObject(IDispatch* dispatch, HWND owner);
  ~DispatchObject() override;
  Platform::HResult InvokeMethod(const std::u16string& name, const std::vector<Variant>& args,
                                 Variant* result) override;
  // On the owning thread only.
  Platform::HResult InvokeHere(const std::u16string& name, const std::vector<Variant>& args, Variant* result);
  IDispatch* dispatch() const { return dispatch_; }

 private:
  IDispatch* dispatch_;
  HWND owner_;
  DWORD ownerThread_;
};

// VARIANT to Variant (by reference values are read through). A dispatch
// becomes a DispatchObject owned by `owner`'s thread.
Variant FromVariant(const VARIANT& value, HWND owner);
// Variant to VARIANT; the caller clears it (VariantClear).
void ToVariant(const Variant& value, VARIANT* out);

// Invokes `name` on `object` as a method with arguments in script order.
Platform::HResult InvokeByName(IDispatch* object, const std::u16string& name, WORD flags,
                               const std::vector<Variant>& args, VARIANT* result);

}  // namespace Zentrovak::UI::Win32
