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
#include "ui/win32/bstr.h"
#include "ui/win32/com_variant.h"
#include "ui/win32/page_messages.h"

namespace Zentrovak::UI {
namespace Win32 {

namespace {

using Platform::Win32::ComPtr;

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
