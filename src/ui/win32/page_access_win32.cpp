// The Windows dialog's page access: the program's calls into the page,
// carried to the window's thread, and what the page's document may call.
#include "ui/win32/bs_dialog_win32.h"

#include <dispex.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ocidl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handles.h"
#include "system/process_launch.h"
#include "ui/document_trust.h"
#include "ui/win32/browser_site.h"
#include "ui/win32/bstr.h"
#include "ui/win32/com_variant.h"
#include "ui/win32/page_messages.h"

namespace Zentrovak::UI {
namespace Win32 {

namespace {

using Platform::Win32::ComPtr;

// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}: the script engine's extended dispatch.
const IID kIidDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

// Arguments of the page operations, carried by WM_USER + 1.
struct FunctionCall {
  std::u16string_view name;
  const Variant* args;  // automation order
  int count;
  Variant* result;
};
struct VariableAccess {
  std::u16string_view name;
  const Variant* value;
  Variant* result;
};
struct ScriptText {
  std::u16string_view text;
};
struct NewObject {
  std::u16string_view name;
  std::shared_ptr<ScriptObject>* out;
  const std::function<Platform::HResult(ScriptObject*)>* callback;
};

// The script object `value` holds, when it is one with IDispatchEx (what a
// constructor and what it constructs must be); `value` is left as it is.
HRESULT ScriptObjectIn(const VARIANT& value, ComPtr<IDispatchEx>* object) {
  if (value.vt != VT_DISPATCH || !value.pdispVal) return DISP_E_TYPEMISMATCH;
  const HRESULT hr = value.pdispVal->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(object->put()));
  return FAILED(hr) || !*object ? E_NOINTERFACE : S_OK;
}

}  // namespace

// Page access.

LRESULT CBSDialog::ServePageCall(WPARAM code, LPARAM arguments) {
  if (!arguments) return E_FAIL;
  return DoPageOperation(code, reinterpret_cast<void*>(arguments));
}

HRESULT CBSDialog::PageOperation(WPARAM code, void* arguments) {
  if (::GetCurrentThreadId() == uiThread_) return DoPageOperation(code, arguments);
  HWND window = hwnd_;
  if (!window || !::IsWindow(window)) return E_FAIL;
  DWORD_PTR answer = static_cast<DWORD_PTR>(E_FAIL);
  if (!::SendMessageTimeoutW(window, kPageCallMessage, code, reinterpret_cast<LPARAM>(arguments), SMTO_NORMAL,
                             INFINITE, &answer))
    return E_FAIL;
  return static_cast<HRESULT>(answer);
}

HRESULT CBSDialog::PageScript(IDispatch** script) {
  *script = nullptr;
  if (scriptForTesting_) {
    *script = scriptForTesting_;
    scriptForTesting_->AddRef();
    return S_OK;
  }
  if (!currentDocument_) return E_POINTER;
  const HRESULT hr = currentDocument_->get_Script(script);
  return SUCCEEDED(hr) && !*script ? E_POINTER : hr;
}

void CBSDialog::SetScriptForTesting(IDispatch* script) {
  if (script) script->AddRef();
  if (scriptForTesting_) scriptForTesting_->Release();
  scriptForTesting_ = script;
}

HRESULT CBSDialog::DoPageOperation(WPARAM code, void* arguments) {
  if (code == kCodeInvokeObject) {
    auto* call = static_cast<ObjectCall*>(arguments);
    return call->object ? call->object->InvokeHere(*call->name, *call->args, call->result) : E_POINTER;
  }
  if (code == kCodeExecScript) {
    if (!currentDocument_) return E_POINTER;
    ComPtr<IHTMLWindow2> window;
    HRESULT hr = currentDocument_->get_parentWindow(window.put());
    if (FAILED(hr) || !window) return FAILED(hr) ? hr : E_POINTER;
    Bstr text(static_cast<ScriptText*>(arguments)->text);
    Bstr language(u"javascript");
    VARIANT ignored;
    ::VariantInit(&ignored);
    hr = window->execScript(text.get(), language.get(), &ignored);
    ::VariantClear(&ignored);
    return hr;
  }
  if (code < kCodeCallFunction || code > kCodeNewObject) return E_FAIL;

  ComPtr<IDispatch> script;
  if (HRESULT hr = PageScript(script.put()); FAILED(hr)) return hr;

  if (code == kCodeCallFunction) {
    auto* call = static_cast<FunctionCall*>(arguments);
    std::vector<Variant> ordered;
    for (int i = call->count - 1; i >= 0 && call->args; --i) ordered.push_back(call->args[i]);
    VARIANT out;
    ::VariantInit(&out);
    const HRESULT hr = InvokeByName(script.get(), std::u16string(call->name), DISPATCH_METHOD, ordered,
                                    call->result ? &out : nullptr);
    if (SUCCEEDED(hr) && call->result) *call->result = FromVariant(out, hwnd_);
    ::VariantClear(&out);
    return hr;
  }

  // The rest resolve a global name first.
  std::u16string name;
  if (code == kCodeNewObject) name = std::u16string(static_cast<NewObject*>(arguments)->name);
  else name = std::u16string(static_cast<VariableAccess*>(arguments)->name);
  std::wstring wide(name.begin(), name.end());
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
  if (FAILED(hr)) return hr;

  if (code == kCodeSetVariable) {
    auto* access = static_cast<VariableAccess*>(arguments);
    VARIANT value;
    ToVariant(*access->value, &value);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    hr = script->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    ::VariantClear(&value);
    return hr;
  }
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  ::VariantInit(&value);
  hr = script->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  if (code == kCodeGetVariable) {
    auto* access = static_cast<VariableAccess*>(arguments);
    if (SUCCEEDED(hr) && access->result) *access->result = FromVariant(value, hwnd_);
    ::VariantClear(&value);
    return hr;
  }
  // Construct: the constructor must be a script object with IDispatchEx.
  auto* request = static_cast<NewObject*>(arguments);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatchEx> constructor;
  hr = ScriptObjectIn(value, &constructor);
  ::VariantClear(&value);
  if (FAILED(hr)) return hr;
  VARIANT made;
  ::VariantInit(&made);
  hr = constructor->InvokeEx(DISPID_VALUE, LOCALE_SYSTEM_DEFAULT, DISPATCH_CONSTRUCT, &none, &made, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatchEx> object;
  hr = ScriptObjectIn(made, &object);
  if (FAILED(hr)) {
    ::VariantClear(&made);
    return hr;
  }
  auto held = std::make_shared<DispatchObject>(made.pdispVal, hwnd_);
  ::VariantClear(&made);
  if (request->out) *request->out = held;
  return request->callback && *request->callback ? (*request->callback)(held.get()) : S_OK;
}

Platform::HResult CBSDialog::CallPageFunction(std::u16string_view name, const Variant* args, int count,
                                              Variant* result) {
  FunctionCall call{name, args, count, result};
  return PageOperation(kCodeCallFunction, &call);
}

Platform::HResult CBSDialog::SetScriptVariable(std::u16string_view name, const Variant& value) {
  VariableAccess access{name, &value, nullptr};
  return PageOperation(kCodeSetVariable, &access);
}

Platform::HResult CBSDialog::GetScriptVariable(std::u16string_view name, Variant* result) {
  VariableAccess access{name, nullptr, result};
  return PageOperation(kCodeGetVariable, &access);
}

Platform::HResult CBSDialog::ExecScript(std::u16string_view script) {
  ScriptText text{script};
  return PageOperation(kCodeExecScript, &text);
}

Platform::HResult CBSDialog::NewScriptObject(std::u16string_view constructorName, std::shared_ptr<ScriptObject>* out,
                                             const std::function<Platform::HResult(ScriptObject*)>& callback) {
  NewObject request{constructorName, out, &callback};
  return PageOperation(kCodeNewObject, &request);
}

bool CBSDialog::RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant& a2,
                           const Variant& a3, const Variant& a4) {
  if (!commandHandler_) return false;
  commandHandler_(result, this, name, a1, a2, a3, a4);
  return true;
}

Platform::HResult CBSDialog::CompleteCall(const std::shared_ptr<ScriptObject>& callback, const Variant& result) {
  if (!callback) return E_POINTER;
  return callback->InvokeMethod(u"call", {Variant::Dispatch(callback), result}, nullptr);
}

std::u16string CBSDialog::DocumentUrl() {
  if (!browser_) return {};
  ComPtr<IDispatch> document;
  ComPtr<IHTMLDocument2> html;
  if (FAILED(browser_->get_Document(document.put())) || !document ||
      FAILED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(html.put()))))
    return {};
  BSTR url = nullptr;
  if (FAILED(html->get_URL(&url))) return {};
  std::u16string text = U16(url);
  ::SysFreeString(url);
  return text;
}

bool CBSDialog::DocumentMayCall(std::u16string_view callerUrl) {
  const std::u16string url = documentUrlForTesting_ ? documentUrlForTesting_() : DocumentUrl();
  if (!IsTrustedDocument(url, ResourceAddress(), params_.url)) return false;
  return callerUrl.empty() || IsTrustedDocument(callerUrl, ResourceAddress(), params_.url);
}

}  // namespace Win32
}  // namespace Zentrovak::UI
