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

HRESULT ExternalObject::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
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

HRESULT ExternalObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) {
  if (id < kDispGetCom || id > kDispAsyncalld) return DISP_E_MEMBERNOTFOUND;
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (result) ::VariantInit(result);
  // A document the program does not own gets nothing from it.
  if (!host_ || !host_->DocumentMayCall()) return S_OK;
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
