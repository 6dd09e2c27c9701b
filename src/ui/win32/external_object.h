// The page's window.external: callc, asyncallc, asyncalld and getCom,
// resolved by name. Every call first asks the host whether the document
// now shown may use it; for any other document nothing runs and the
// answer is empty.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "ui/script_jobs.h"

namespace Zentrovak::UI::Win32 {

class IExternalHost {
 public:
  virtual ~IExternalHost() = default;
  virtual bool DocumentMayCall() = 0;
  virtual HWND OwnerWindow() = 0;
  // The host as the jobs keep it (keeps the dialog object alive).
  virtual std::shared_ptr<IScriptHost> JobHost() = 0;
};

enum ExternalDispId : DISPID { kDispGetCom = 1, kDispCallc = 2, kDispAsyncallc = 3, kDispAsyncalld = 4 };

// A COM object (reference counted, starts at 1).
class ExternalObject : public IDispatch {
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

 private:
  ~ExternalObject() = default;
  IExternalHost* host_;
  LONG refs_ = 1;
};

}  // namespace Zentrovak::UI::Win32
