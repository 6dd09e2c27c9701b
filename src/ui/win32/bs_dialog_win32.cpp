#include "ui/win32/bs_dialog_win32.h"

#include <commctrl.h>
#include <dispex.h>
#include <exdispid.h>
#include <ocidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/single_instance.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/unique_handles.h"
#include "system/process_launch.h"
#include "ui/document_trust.h"
#include "ui/win32/browser_site.h"
#include "ui/win32/com_variant.h"
#include "ui/win32/page_messages.h"

namespace Zentrovak::UI {
namespace Win32 {

namespace {

// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}: the script engine's extended dispatch.
const IID kIidDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

enum ElementEvent { kBodyResize, kDragStart, kTitleMouseDown, kFrameClick };

// The frame elements in the order their ids are compared.
const wchar_t* const kFrameElements[] = {L"ui_close", L"ui_quit", L"ui_maximize", L"ui_restore",
                                         L"ui_minimize", L"ui_menu"};

std::u16string U16(BSTR text) {
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

using Platform::Win32::ComPtr;

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

// Keys reach the browser only through this hook of the user-interface
// thread: filtered keys are dropped, the rest may be browser accelerators.
HHOOK keyHook = nullptr;

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
      for (IBSDialog* open : OpenDialogs()) {
        auto* dialog = dynamic_cast<CBSDialog*>(open);
        HWND window = dialog ? static_cast<HWND>(dialog->GetHwnd()) : nullptr;
        if (!window || (message->hwnd != window && !::IsChild(window, message->hwnd))) continue;
        if (dialog->TranslateKey(message) == S_OK) message->message = WM_NULL;
        break;
      }
    }
  }
  return ::CallNextHookEx(keyHook, code, wParam, lParam);
}

std::vector<std::shared_ptr<CBSDialog>>& KeptDialogs() {
  static auto* kept = new std::vector<std::shared_ptr<CBSDialog>>;
  return *kept;
}

void Forget(IBSDialog* dialog) {
  auto& open = OpenDialogs();
  open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
}

}  // namespace

bool IsFilteredKey(unsigned key, bool alt, bool ctrl) {
  if (key == VK_ESCAPE || key == VK_F1 || key == VK_F5) return true;
  if (alt && (key == VK_LEFT || key == VK_RIGHT)) return true;
  if (ctrl) {
    switch (key) {
      case 'D': case 'L': case 'N': case 'O': case 'P': case 'S': return true;
      default: break;
    }
  }
  return false;
}

bool ShowsBrowserContextMenu(DWORD kind) { return kind == CONTEXT_MENU_TEXTSELECT; }

std::u16string NormalisePageAddress(std::u16string_view address) {
  std::u16string text(address);
  if (const auto hash = text.rfind(u'#'); hash != std::u16string::npos) text.resize(hash);
  const auto colon = text.find(u':');
  const bool isUrl = colon != std::u16string::npos && colon >= 2;
  if (!isUrl && !text.empty()) {
    std::wstring path(text.begin(), text.end());
    std::vector<wchar_t> url(2100, L'\0');
    DWORD size = static_cast<DWORD>(url.size());
    if (SUCCEEDED(::UrlCreateFromPathW(path.c_str(), url.data(), &size, 0))) text.assign(url.data(), url.data() + size);
  }
  return Platform::AsciiLower(text);
}

CBSDialog::CBSDialog(const BSDialogParams& params)
    : commandHandler_(params.commandHandler),
      messageHook_(params.messageHook),
      menuProvider_(params.menuProvider),
      icon_(static_cast<HICON>(params.icon)),
      menu_(static_cast<HMENU>(params.menu)),
      widthLimit_(params.width),
      heightLimit_(params.height),
      autoSize_(params.autoSize),
      params_(params) {}

CBSDialog::~CBSDialog() {
  if (hwnd_ && ::IsWindow(hwnd_) && ::GetCurrentThreadId() == uiThread_) ::DestroyWindow(hwnd_);
  CloseBrowser();
  if (external_) {
    external_->Detach();
    external_->Release();
  }
  if (scriptForTesting_) scriptForTesting_->Release();
}

bool CBSDialog::CreateWindowFromTemplate(HWND parent) {
  DWORD style = params_.hasCaption ? 0x90CA0088u : 0x900A0008u;
  if (autoSize_ == 0) style |= 0x50000u;
  // DLGTEMPLATE, then no menu, the default class and an empty title.
  std::vector<DWORD> buffer(16, 0);
  DLGTEMPLATE* tmpl = reinterpret_cast<DLGTEMPLATE*>(buffer.data());
  tmpl->style = style;
  tmpl->dwExtendedStyle = WS_EX_APPWINDOW;
  tmpl->cdit = 0;
  tmpl->x = 0;
  tmpl->y = 0;
  tmpl->cx = static_cast<short>(params_.width > 0 ? params_.width : 0);
  tmpl->cy = static_cast<short>(params_.height > 0 ? params_.height : 0);
  HINSTANCE module = params_.resourceModule ? static_cast<HINSTANCE>(params_.resourceModule) : ::GetModuleHandleW(nullptr);
  HWND window = ::CreateDialogIndirectParamW(module, tmpl, parent, DialogProc, reinterpret_cast<LPARAM>(this));
  if (!window) return false;
  if (!params_.title.empty()) ::SetWindowTextW(window, Platform::Win32::Wide(params_.title).c_str());
  return true;
}

void CBSDialog::DestroyDialogWindow() {
  if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

INT_PTR CALLBACK CBSDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CBSDialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    dialog->hwnd_ = hwnd;
    dialog->Initialise();
    return TRUE;
  }
  auto* dialog = reinterpret_cast<CBSDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!dialog) return FALSE;
  LRESULT result = 0;
  const INT_PTR handled = dialog->HandleMessage(message, wParam, lParam, result);
  if (handled) ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return handled;
}

void CBSDialog::Initialise() {
  uiThread_ = ::GetCurrentThreadId();
  external_ = new ExternalObject(this);
  CreateBrowser();
  if (icon_) {
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  }
  notifyMessage_ = ::RegisterWindowMessageW(L"AssistantNotify");
  App::allow_window_message(notifyMessage_, hwnd_);
  App::allow_window_message(WM_COPYDATA, hwnd_);
  if (!keyHook) keyHook = ::SetWindowsHookExW(WH_GETMESSAGE, KeyHook, nullptr, uiThread_);
}

std::u16string CBSDialog::ResourceAddress() const {
  wchar_t path[MAX_PATH] = {};
  HMODULE module = params_.resourceModule ? static_cast<HMODULE>(params_.resourceModule) : ::GetModuleHandleW(nullptr);
  ::GetModuleFileNameW(module, path, MAX_PATH);
  return u"res://" + Platform::Win32::U16(path, wcslen(path)) + u"/";
}

void CBSDialog::CreateBrowser() {
  if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&browserObject_))) ||
      !browserObject_)
    return;  // no engine: the dialog stays empty
  site_ = new BrowserSite(this, hwnd_);
  browserObject_->SetClientSite(site_);
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  browserObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, hwnd_, &client);
  if (FAILED(browserObject_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_))) || !browser_)
    return;
  browser_->put_Silent(VARIANT_TRUE);
  browser_->put_RegisterAsDropTarget(VARIANT_FALSE);
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.put()))) &&
      SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())))
    point->Advise(static_cast<IDispatch*>(site_), &eventCookie_);

  std::u16string address;
  if (params_.htmlResourceId) address = ResourceAddress() + Platform::ToU16(static_cast<int32_t>(params_.htmlResourceId));
  else if (!params_.htmlResourceName.empty()) address = ResourceAddress() + params_.htmlResourceName;
  else address = params_.url;
  if (address.empty()) return;
  VARIANT target;
  ::VariantInit(&target);
  target.vt = VT_BSTR;
  target.bstrVal = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(address.data()), static_cast<UINT>(address.size()));
  browser_->Navigate2(&target, nullptr, nullptr, nullptr, nullptr);
  ::VariantClear(&target);
}

void CBSDialog::CloseBrowser() {
  if (currentDocument_) {
    currentDocument_->Release();
    currentDocument_ = nullptr;
  }
  if (browser_) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (eventCookie_ &&
        SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.put()))) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())))
      point->Unadvise(eventCookie_);
    eventCookie_ = 0;
    browser_->Release();
    browser_ = nullptr;
  }
  if (browserObject_) {
    browserObject_->Close(OLECLOSE_NOSAVE);
    browserObject_->SetClientSite(nullptr);
    browserObject_->Release();
    browserObject_ = nullptr;
  }
  if (site_) {
    site_->Detach();
    site_->Release();
    site_ = nullptr;
  }
}

INT_PTR CBSDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_CLOSE:
      ::DestroyWindow(hwnd_);
      if (messageHook_) messageHook_(this, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_DESTROY: {
      CloseBrowser();
      Forget(this);
      if (OpenDialogs().empty()) {
        if (keyHook) ::UnhookWindowsHookEx(keyHook);
        keyHook = nullptr;
        ::PostQuitMessage(0);
      }
      return TRUE;
    }
    case WM_NCDESTROY:
      hwnd_ = nullptr;
      return FALSE;
    case WM_TIMER:
      ::KillTimer(hwnd_, wParam);
      return TRUE;
    case WM_COMMAND:
      // Enter and Esc reach IDOK and IDCANCEL here: both do nothing.
      if (messageHook_) messageHook_(this, WM_COMMAND, 0, LOWORD(wParam));
      return TRUE;
    case WM_COPYDATA:
      result = messageHook_ ? messageHook_(this, WM_COPYDATA, reinterpret_cast<uintptr_t>(reinterpret_cast<HWND>(wParam)),
                                           lParam)
                            : 0;
      return TRUE;
    case WM_SIZE: {
      ComPtr<IOleInPlaceObject> inPlace;
      if (browserObject_ &&
          SUCCEEDED(browserObject_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace.put())))) {
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        inPlace->SetObjectRects(&client, &client);
      }
      return TRUE;
    }
    case kPageCallMessage:
      result = ServePageCall(wParam, lParam);
      return TRUE;
    case kReleaseObjectMessage:
      if (lParam) reinterpret_cast<IDispatch*>(lParam)->Release();
      return TRUE;
    default:
      if (notifyMessage_ && message == notifyMessage_) {
        if (messageHook_) messageHook_(this, 0x8001, wParam, lParam);
        result = 0;
        return TRUE;
      }
      return FALSE;
  }
}

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
  if (value.vt != VT_DISPATCH || !value.pdispVal) {
    ::VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  ComPtr<IDispatchEx> constructor;
  hr = value.pdispVal->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(constructor.put()));
  ::VariantClear(&value);
  if (FAILED(hr) || !constructor) return E_NOINTERFACE;
  VARIANT made;
  ::VariantInit(&made);
  hr = constructor->InvokeEx(DISPID_VALUE, LOCALE_SYSTEM_DEFAULT, DISPATCH_CONSTRUCT, &none, &made, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  if (made.vt != VT_DISPATCH || !made.pdispVal) {
    ::VariantClear(&made);
    return DISP_E_TYPEMISMATCH;
  }
  ComPtr<IDispatchEx> object;
  hr = made.pdispVal->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(object.put()));
  if (FAILED(hr) || !object) {
    ::VariantClear(&made);
    return E_NOINTERFACE;
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

// Sizes and browser events.

Platform::HResult CBSDialog::Resize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    if (!browser_) return E_POINTER;
    ComPtr<IDispatch> document;
    ComPtr<IHTMLDocument2> html;
    ComPtr<IHTMLElement> body;
    ComPtr<IHTMLElement2> body2;
    HRESULT hr = browser_->get_Document(document.put());
    if (SUCCEEDED(hr) && document) hr = document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(html.put()));
    if (SUCCEEDED(hr) && html) hr = html->get_body(body.put());
    if (SUCCEEDED(hr) && body) hr = body->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(body2.put()));
    if (FAILED(hr)) return hr;
    if (!body2) return E_POINTER;
    long scrollWidth = 0, scrollHeight = 0;
    if (FAILED(hr = body2->get_scrollWidth(&scrollWidth)) || FAILED(hr = body2->get_scrollHeight(&scrollHeight)))
      return hr;
    if (width <= 0) width = scrollWidth;
    if (height <= 0) {
      height = scrollHeight;
      // Our host flags never forbid scroll bars.
      if (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_BORDER) height += 20;
    }
  }
  if (widthLimit_ > 0 && width > widthLimit_) width = widthLimit_;
  if (heightLimit_ > 0 && height > heightLimit_) height = heightLimit_;
  if (!::SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
    return Platform::HResultFromWin32(::GetLastError());
  return S_OK;
}

void CBSDialog::OnDocumentComplete(IDispatch* browser, const std::u16string& url) {
  // Frames report their own documents; only the page itself counts.
  ComPtr<IUnknown> reported;
  ComPtr<IUnknown> ours;
  if (!browser || !browser_ || FAILED(browser->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(reported.put()))) ||
      FAILED(browser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ours.put()))) ||
      reported.get() != ours.get())
    return;
  if (autoSize_ == 1) Resize(-1, -1);
  if (currentAddress_.empty()) {
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int w = window.right - window.left, h = window.bottom - window.top;
    ::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                   0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ComPtr<IDispatch> document;
    if (SUCCEEDED(browser_->get_Document(document.put())) && document && !currentDocument_)
      document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&currentDocument_));
  }
  currentAddress_ = NormalisePageAddress(url);
  ConnectElementHandlers();
}

bool CBSDialog::ShouldCancelNavigation(const std::u16string& url) const {
  const auto trim = [](std::u16string text) {
    if (!text.empty() && text.back() == u'/') text.pop_back();
    return text;
  };
  return !currentAddress_.empty() && trim(NormalisePageAddress(url)) == trim(currentAddress_);
}

void CBSDialog::OnNewWindow(const std::u16string* url) {
  if (url && !url->empty()) System::open_url_in_ie(*url);
}

HRESULT CBSDialog::TranslateKey(MSG* message) {
  if (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) {
    const bool alt = (message->lParam & (1 << 29)) != 0 || ::GetKeyState(VK_MENU) < 0;
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    if (IsFilteredKey(static_cast<unsigned>(message->wParam), alt, ctrl)) return S_OK;
  }
  IOleInPlaceActiveObject* active = site_ ? site_->ActiveObject() : nullptr;
  return active ? active->TranslateAccelerator(message) : S_FALSE;
}

void CBSDialog::ConnectElementHandlers() {
  if (!browser_) return;
  ComPtr<IDispatch> document;
  ComPtr<IHTMLDocument3> html;
  if (FAILED(browser_->get_Document(document.put())) || !document ||
      FAILED(document->QueryInterface(IID_IHTMLDocument3, reinterpret_cast<void**>(html.put()))))
    return;
  const std::weak_ptr<CBSDialog> self = shared_from_this();
  const auto attach = [&](IUnknown* target, const wchar_t* event, int kind) {
    ComPtr<IHTMLElement2> element;
    ElementEventHandler* handler = new ElementEventHandler(self, kind);
    VARIANT_BOOL done = VARIANT_FALSE;
    BSTR name = ::SysAllocString(event);
    if (target && SUCCEEDED(target->QueryInterface(IID_IHTMLElement2, reinterpret_cast<void**>(element.put()))))
      element->attachEvent(name, handler, &done);
    ::SysFreeString(name);
    handler->Release();
  };
  // Links are not dragged out of the page.
  {
    ElementEventHandler* handler = new ElementEventHandler(self, kDragStart);
    VARIANT_BOOL done = VARIANT_FALSE;
    BSTR name = ::SysAllocString(L"ondragstart");
    html->attachEvent(name, handler, &done);
    ::SysFreeString(name);
    handler->Release();
  }
  ComPtr<IHTMLDocument2> html2;
  ComPtr<IHTMLElement> body;
  if (SUCCEEDED(document->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(html2.put()))) &&
      SUCCEEDED(html2->get_body(body.put())) && body)
    attach(body.get(), L"onresize", kBodyResize);
  const auto byId = [&](const wchar_t* id, const wchar_t* event, int kind) {
    ComPtr<IHTMLElement> element;
    BSTR name = ::SysAllocString(id);
    if (SUCCEEDED(html->getElementById(name, element.put())) && element) attach(element.get(), event, kind);
    ::SysFreeString(name);
  };
  byId(L"ui_title", L"onmousedown", kTitleMouseDown);
  for (const wchar_t* id : kFrameElements) byId(id, L"onclick", kFrameClick);
}

void CBSDialog::OnElementEvent(int kind) {
  if (kind == kBodyResize) {
    if (autoSize_ == 1) Resize(-1, -1);
    return;
  }
  if (!currentDocument_) return;
  ComPtr<IHTMLWindow2> window;
  ComPtr<IHTMLEventObj> event;
  ComPtr<IHTMLElement> source;
  if (FAILED(currentDocument_->get_parentWindow(window.put())) || !window || FAILED(window->get_event(event.put())) ||
      !event)
    return;
  event->get_srcElement(source.put());

  if (kind == kDragStart) {
    IHTMLElement* at = source.get();
    if (at) at->AddRef();
    while (at) {
      BSTR tag = nullptr;
      at->get_tagName(&tag);
      const bool anchor = tag && ::lstrcmpiW(tag, L"A") == 0;
      ::SysFreeString(tag);
      if (anchor) {
        VARIANT no;
        ::VariantInit(&no);
        no.vt = VT_BOOL;
        no.boolVal = VARIANT_FALSE;
        event->put_returnValue(no);
        at->Release();
        return;
      }
      IHTMLElement* parent = nullptr;
      if (FAILED(at->get_parentElement(&parent))) parent = nullptr;
      at->Release();
      at = parent;
    }
    return;
  }

  std::u16string id;
  bool idRead = false;
  if (source) {
    BSTR text = nullptr;
    if (SUCCEEDED(source->get_id(&text))) {
      id = U16(text);
      idRead = true;
    }
    ::SysFreeString(text);
  }
  if (kind == kTitleMouseDown) {
    // Buttons and links inside the title bar keep their own behaviour.
    if (!id.empty() && id != u"ui_title") return;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    ::PostMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(cursor.x, cursor.y));
    return;
  }
  if (!idRead) return;
  const std::wstring wide(id.begin(), id.end());
  const auto match = std::find_if(std::begin(kFrameElements), std::end(kFrameElements),
                                  [&](const wchar_t* name) { return wide == name; });
  if (match == std::end(kFrameElements)) return;
  const std::wstring which = *match;
  if (which == L"ui_quit") ::PostQuitMessage(0);
  else if (which == L"ui_maximize") ::ShowWindow(hwnd_, SW_MAXIMIZE);
  else if (which == L"ui_restore") ::ShowWindow(hwnd_, SW_RESTORE);
  else if (which == L"ui_minimize") ::ShowWindow(hwnd_, SW_MINIMIZE);
  else if (which == L"ui_menu") {
    HMENU menu = menuProvider_ ? static_cast<HMENU>(menuProvider_(this)) : menu_;
    if (menu) {
      POINT cursor{};
      ::GetCursorPos(&cursor);
      ::TrackPopupMenu(menu, TPM_LEFTALIGN, cursor.x, cursor.y, 0, hwnd_, nullptr);
    }
  }
  if (commandHandler_) {
    Variant result;
    commandHandler_(result, this, Variant::String(u"ui_notify"), Variant::String(id), Variant(), Variant(), Variant());
  }
}

}  // namespace Win32

IBSDialog* CreateBSDialog(const BSDialogParams& params) {
  if (params.size != kBSDialogParamsSize) return nullptr;
  auto dialog = std::make_shared<Win32::CBSDialog>(params);
  Win32::KeptDialogs().push_back(dialog);
  OpenDialogs().push_back(dialog.get());
  if (!dialog->CreateWindowFromTemplate(static_cast<HWND>(params.parent))) {
    // No window, no dialog: the message loop would wait for nothing.
    Win32::Forget(dialog.get());
    Win32::KeptDialogs().pop_back();
    return nullptr;
  }
  return dialog.get();
}

void DestroyBSDialog() {
  auto& kept = Win32::KeptDialogs();
  IBSDialog* main = MainDialog();
  const auto it = std::find_if(kept.begin(), kept.end(), [&](const auto& d) { return d.get() == main; });
  if (it == kept.end()) return;
  std::shared_ptr<Win32::CBSDialog> dialog = *it;
  kept.erase(it);
  SetMainDialog(nullptr);
  dialog->DestroyDialogWindow();
  Win32::Forget(dialog.get());
}

void MinimizeDialog(IBSDialog* dialog) {
  if (dialog && dialog->GetHwnd()) ::ShowWindow(static_cast<HWND>(dialog->GetHwnd()), SW_MINIMIZE);
}

void PrepareUserInterface() {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  ::InitCommonControlsEx(&controls);
}

void* LoadDialogIcon(uint32_t id) { return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)); }

}  // namespace Zentrovak::UI
