#include "ui/win32/com_variant.h"

#include <oleauto.h>

#include "ui/win32/page_messages.h"

namespace Zentrovak::UI::Win32 {

DispatchObject::DispatchObject(IDispatch* dispatch, HWND owner)
    : dispatch_(dispatch), owner_(owner), ownerThread_(::GetCurrentThreadId()) {
  if (dispatch_) dispatch_->AddRef();
}

DispatchObject::~DispatchObject() {
  if (!dispatch_) return;
  if (::GetCurrentThreadId() != ownerThread_ && owner_ && ::IsWindow(owner_) &&
      ::PostMessageW(owner_, kReleaseObjectMessage, 0, reinterpret_cast<LPARAM>(dispatch_)))
    return;
  dispatch_->Release();
}

Platform::HResult DispatchObject::InvokeHere(const std::u16string& name, const std::vector<Variant>& args,
                                             Variant* result) {
  VARIANT out;
  ::VariantInit(&out);
  const HRESULT hr = InvokeByName(dispatch_, name, DISPATCH_METHOD, args, result ? &out : nullptr);
  if (SUCCEEDED(hr) && result) *result = FromVariant(out, owner_);
  ::VariantClear(&out);
  return hr;
}

Platform::HResult DispatchObject::InvokeMethod(const std::u16string& name, const std::vector<Variant>& args,
                                               Variant* result) {
  if (!dispatch_) return E_POINTER;
  if (::GetCurrentThreadId() == ownerThread_) return InvokeHere(name, args, result);
  if (!owner_ || !::IsWindow(owner_)) return E_FAIL;
  ObjectCall call{this, &name, &args, result};
  DWORD_PTR answer = static_cast<DWORD_PTR>(E_FAIL);
  if (!::SendMessageTimeoutW(owner_, kPageCallMessage, kCodeInvokeObject, reinterpret_cast<LPARAM>(&call),
                             SMTO_NORMAL, INFINITE, &answer))
    return E_FAIL;
  return static_cast<HRESULT>(answer);
}

Variant FromVariant(const VARIANT& value, HWND owner) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  switch (v->vt) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::Null();
    case VT_I4: return Variant::Int(v->lVal);
    case VT_INT: return Variant::Int(v->intVal);
    case VT_BOOL: return Variant::Bool(v->boolVal != VARIANT_FALSE);
    case VT_BSTR:
      return Variant::String(v->bstrVal ? std::u16string(reinterpret_cast<const char16_t*>(v->bstrVal),
                                                         ::SysStringLen(v->bstrVal))
                                        : std::u16string());
    case VT_R8: return Variant::Double(v->dblVal);
    case VT_DISPATCH:
      if (!v->pdispVal) return Variant::Null();
      return Variant::Dispatch(std::make_shared<DispatchObject>(v->pdispVal, owner));
    default: return Variant();
  }
}

void ToVariant(const Variant& value, VARIANT* out) {
  ::VariantInit(out);
  switch (value.type()) {
    case VariantType::Empty: break;
    case VariantType::Null: out->vt = VT_NULL; break;
    case VariantType::Int32: out->vt = VT_I4; out->lVal = value.AsInt(); break;
    case VariantType::Bool: out->vt = VT_BOOL; out->boolVal = value.AsBool() ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VariantType::Double: out->vt = VT_R8; out->dblVal = value.AsDouble(); break;
    case VariantType::String: {
      const std::u16string& text = value.AsString();
      out->vt = VT_BSTR;
      out->bstrVal = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
      if (!out->bstrVal) out->vt = VT_EMPTY;
      break;
    }
    case VariantType::Dispatch:
      if (auto* object = dynamic_cast<DispatchObject*>(value.AsDispatch().get()); object && object->dispatch()) {
        out->vt = VT_DISPATCH;
        out->pdispVal = object->dispatch();
        out->pdispVal->AddRef();
      } else {
        out->vt = VT_NULL;
      }
      break;
  }
}

Platform::HResult InvokeByName(IDispatch* object, const std::u16string& name, WORD flags,
                               const std::vector<Variant>& args, VARIANT* result) {
  if (!object) return E_POINTER;
  std::wstring wide(name.begin(), name.end());
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // Automation wants the arguments last to first.
  std::vector<VARIANT> list(args.size());
  for (size_t i = 0; i < args.size(); ++i) ToVariant(args[args.size() - 1 - i], &list[i]);
  DISPPARAMS params{list.empty() ? nullptr : list.data(), nullptr, static_cast<UINT>(list.size()), 0};
  hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, flags, &params, result, nullptr, nullptr);
  for (auto& v : list) ::VariantClear(&v);
  return hr;
}

}  // namespace Zentrovak::UI::Win32
