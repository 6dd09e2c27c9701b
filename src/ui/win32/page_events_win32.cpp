// The Windows dialog's browser events: sizes, navigation rules, keys and
// the frame elements of the page.
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
#include "ui/resources.h"
#include "ui/win32/browser_site.h"
#include "ui/win32/bstr.h"
#include "ui/win32/com_variant.h"
#include "ui/win32/page_messages.h"

namespace Zentrovak::UI {
namespace Win32 {

namespace {

using Platform::Win32::ComPtr;

enum ElementEvent { kBodyResize, kDragStart, kTitleMouseDown, kFrameClick };

constexpr uint32_t kProgramTitleString = 102;

// The frame elements in the order their ids are compared.
const wchar_t* const kFrameElements[] = {L"ui_close", L"ui_quit", L"ui_maximize", L"ui_restore",
                                         L"ui_minimize", L"ui_menu"};

}  // namespace

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

// The page's own new window is already cancelled: when the browser cannot
// be started with the link (no desktop shell, or a link longer than a
// start as the desktop's user takes), the person is told and given the
// address, which a message box lets them copy with Ctrl+C.
void CBSDialog::OnNewWindow(const std::u16string* url) {
  if (!url || url->empty() || Platform::Succeeded(System::open_url_in_ie(*url))) return;
  const std::wstring text =
      Platform::Win32::Wide(u"无法在浏览器中打开此链接。请按 Ctrl+C 复制本提示，再将下面的地址粘贴到浏览器中打开：\n\n" +
                            *url);
  const std::wstring title = Platform::Win32::Wide(LoadStringResource(kProgramTitleString));
  ::MessageBoxW(hwnd_, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
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
}  // namespace Zentrovak::UI
