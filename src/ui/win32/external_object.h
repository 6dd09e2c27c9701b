// The page's window.external: callc, asyncallc, asyncalld and getCom,
// resolved by name. Every call first asks the host whether the document
// now shown, and the document whose script calls (a frame's, when the
// script engine names its caller through IDispatchEx), may use it; for any
// other document nothing runs and the answer is empty.
#pragma once
#include <windows.h>
#include <dispex.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <string_view>

#include "ui/script_jobs.h"

namespace Zentrovak::UI::Win32 {

class IExternalHost {
 public:
  virtual ~IExternalHost() = default;
  // `callerUrl`: the calling frame's document, empty when the engine did
  // not name it.
  virtual bool DocumentMayCall(std::u16string_view callerUrl) = 0;
  virtual HWND OwnerWindow() = 0;
  // The host as the jobs keep it (keeps the dialog object alive).
  virtual std::shared_ptr<IScriptHost> JobHost() = 0;
};

enum ExternalDispId : DISPID { kDispGetCom = 1, kDispCallc = 2, kDispAsyncallc = 3, kDispAsyncalld = 4 };

// The address of the document of the script that calls, through the
// caller's service provider (its window, then the window's document);
// empty when it cannot be found.
std::u16string CallerDocumentUrl(IServiceProvider* caller);

// A COM object (reference counted, starts at 1).
class ExternalObject final : public IDispatchEx {
 public:
  explicit ExternalObject(IExternalHost* host) : host_(host) {}
  // The host is going away: later calls do nothing.
  void Detach() { host_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override;
  // IDispatchEx: the script engine names its caller here.
  HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD, DISPID* id) override;
  HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     IServiceProvider* caller) override;
  HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMemberName(DISPID, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD, DISPID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) override {
    if (parent) *parent = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~ExternalObject() = default;
  HRESULT Call(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, std::u16string_view callerUrl);
  IExternalHost* host_;
  LONG refs_ = 1;
};

}  // namespace Zentrovak::UI::Win32
