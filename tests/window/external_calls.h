// Driving the dialog's external object as the page's script engine would:
// VARIANT arguments, a fake script object for callbacks, and a message pump
// for the window's thread.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Zentrovak::UI {

// Set when a pump meets a quit message, which it notes but does not act on.
inline bool quitSeen = false;

// Serves every message already waiting. Jobs hand their script objects
// back to the window's thread by posted messages; a test whose fake script
// lives on its stack serves them before the script goes away.
inline void PumpPending() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quitSeen = true;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// Serves the thread's messages until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 10000) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > milliseconds) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpPending();
  }
  return true;
}

// A script object of the page: named methods and properties, recording the
// thread each call ran on.
class FakeScript : public IDispatch {
 public:
  using Method = std::function<HRESULT(WORD flags, DISPPARAMS*, VARIANT*)>;
  void Add(const wchar_t* name, Method method) { methods_[name] = {static_cast<DISPID>(methods_.size() + 1), method}; }
  std::vector<DWORD> threads;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    const auto it = methods_.find(names[0]);
    if (it == methods_.end()) return DISP_E_UNKNOWNNAME;
    ids[0] = it->second.first;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    threads.push_back(::GetCurrentThreadId());
    for (auto& [name, entry] : methods_)
      if (entry.first == id) return entry.second(flags, params, result);
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  std::map<std::wstring, std::pair<DISPID, Method>> methods_;
  LONG refs_ = 1;
};

inline VARIANT Text(const wchar_t* text, UINT length) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = ::SysAllocStringLen(text, length);
  return v;
}
inline VARIANT Int(LONG n) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}
inline VARIANT Dispatch(IDispatch* d) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = d;
  d->AddRef();
  return v;
}

// Calls a method of the external object with arguments in script order.
inline HRESULT CallExternal(IDispatch* external, const wchar_t* method, std::vector<VARIANT> args, VARIANT* result) {
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id = 0;
  HRESULT hr = external->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  hr = external->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  for (auto& v : reversed) ::VariantClear(&v);
  return hr;
}

}  // namespace Zentrovak::UI
