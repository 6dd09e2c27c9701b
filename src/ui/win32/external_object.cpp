#include "ui/win32/external_object.h"

#include <objbase.h>

#include "ui/win32/com_variant.h"

namespace Zentrovak::UI::Win32 {

namespace {

// The call's argument i in script order (automation lists run backwards);
// a missing argument is empty.
Variant Argument(const DISPPARAMS* params, UINT i, HWND owner) {
  if (!params || i >= params->cArgs || !params->rgvarg) return Variant();
  return FromVariant(params->rgvarg[params->cArgs - 1 - i], owner);
}

HRESULT GetCom(const Variant& progId, VARIANT* result) {
  if (result) {
    ::VariantInit(result);
    result->vt = VT_NULL;
  }
  if (!progId.IsString() || !result) return S_OK;
  const std::wstring text(progId.AsString().begin(), progId.AsString().end());
  CLSID clsid{};
  const HRESULT found = !text.empty() && text[0] == L'{' ? ::CLSIDFromString(text.c_str(), &clsid)
                                                         : ::CLSIDFromProgID(text.c_str(), &clsid);
  if (FAILED(found)) return S_OK;
  IDispatch* object = nullptr;
  const DWORD everywhere = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
  if (SUCCEEDED(::CoCreateInstance(clsid, nullptr, everywhere, IID_IDispatch, reinterpret_cast<void**>(&object))) &&
      object) {
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
  }
  return S_OK;
}

}  // namespace

std::u16string CallerDocumentUrl(IServiceProvider* caller) {
  if (!caller) return {};
  // SID_SHTMLWindow is the IID of IHTMLWindow2; the window is asked for
  // late-bound, as a script would ask it.
  static const GUID kWindowService = {0x332c4427, 0x26cb, 0x11d0, {0xb4, 0x83, 0x00, 0xc0, 0x4f, 0xd9, 0x01, 0x19}};
  IDispatch* window = nullptr;
  if (FAILED(caller->QueryService(kWindowService, IID_IDispatch, reinterpret_cast<void**>(&window))) || !window)
    return {};
  const auto property = [](IDispatch* object, const wchar_t* name, VARIANT* value) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    ::VariantInit(value);
    DISPPARAMS none{};
    return SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) &&
           SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr,
                                    nullptr));
  };
  std::u16string url;
  VARIANT document;
  if (property(window, L"document", &document) && document.vt == VT_DISPATCH && document.pdispVal) {
    VARIANT address;
    if (property(document.pdispVal, L"URL", &address) && address.vt == VT_BSTR && address.bstrVal)
      url.assign(reinterpret_cast<const char16_t*>(address.bstrVal), ::SysStringLen(address.bstrVal));
    ::VariantClear(&address);
  }
  ::VariantClear(&document);
  window->Release();
  return url;
}

HRESULT ExternalObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IDispatchEx)) {
    *out = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ExternalObject::Release() {
  const ULONG left = ::InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return left;
}

HRESULT ExternalObject::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT ExternalObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT ExternalObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  static const struct { const wchar_t* name; DISPID id; } kMethods[] = {
      {L"getCom", kDispGetCom}, {L"callc", kDispCallc}, {L"asyncallc", kDispAsyncallc}, {L"asyncalld", kDispAsyncalld}};
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i == 0 && names[0])
      for (const auto& m : kMethods)
        if (::lstrcmpW(names[0], m.name) == 0) ids[0] = m.id;
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT ExternalObject::GetDispID(BSTR name, DWORD, DISPID* id) {
  LPOLESTR names[] = {name};
  return GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

HRESULT ExternalObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) {
  return Call(id, flags, params, result, {});
}

HRESULT ExternalObject::InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                 IServiceProvider* caller) {
  return Call(id, flags, params, result, CallerDocumentUrl(caller));
}

HRESULT ExternalObject::Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                             std::u16string_view callerUrl) {
  if (id < kDispGetCom || id > kDispAsyncalld) return DISP_E_MEMBERNOTFOUND;
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (result) ::VariantInit(result);
  // A document the program does not own gets nothing from it, nor does a
  // foreign frame inside one of its pages.
  if (!host_ || !host_->DocumentMayCall(callerUrl)) return S_OK;
  const HWND owner = host_->OwnerWindow();

  if (id == kDispGetCom) return GetCom(Argument(params, 0, owner), result);

  if (id == kDispCallc) {
    const std::shared_ptr<IScriptHost> host = host_->JobHost();
    Variant answer;
    if (host)
      host->RunCommand(answer, Argument(params, 0, owner), Argument(params, 1, owner), Argument(params, 2, owner),
                       Argument(params, 3, owner), Argument(params, 4, owner));
    if (result) ToVariant(answer, result);
    return S_OK;
  }

  StartJob(new ExternalAsyncThread(id == kDispAsyncallc, host_->JobHost(), Argument(params, 0, owner),
                                   Argument(params, 1, owner), Argument(params, 2, owner), Argument(params, 3, owner),
                                   Argument(params, 4, owner), Argument(params, 5, owner)));
  return S_OK;
}

}  // namespace Zentrovak::UI::Win32
