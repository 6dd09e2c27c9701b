#include "ui/win32/browser_site.h"

#include <exdispid.h>
#include <mshtmdid.h>

#include "ui/win32/bs_dialog_win32.h"

namespace Zentrovak::UI::Win32 {

namespace {
std::u16string Text(BSTR text) {
  return text ? std::u16string(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text)) : std::u16string();
}

// Event arguments arrive last to first; by-reference ones are read through.
VARIANT* EventArgument(DISPPARAMS* params, UINT index) {
  if (!params || index >= params->cArgs) return nullptr;
  VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
  if ((v->vt & VT_BYREF) && v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

std::u16string EventText(DISPPARAMS* params, UINT index) {
  VARIANT* v = EventArgument(params, index);
  if (!v) return {};
  if (v->vt == VT_BSTR) return Text(v->bstrVal);
  if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) return Text(*v->pbstrVal);
  return {};
}

void Cancel(DISPPARAMS* params, UINT index) {
  VARIANT* v = params && index < params->cArgs ? &params->rgvarg[params->cArgs - 1 - index] : nullptr;
  if (v && v->vt == (VT_BYREF | VT_BOOL) && v->pboolVal) *v->pboolVal = VARIANT_TRUE;
}
}  // namespace

BrowserSite::~BrowserSite() {
  if (activeObject_) activeObject_->Release();
}

HRESULT BrowserSite::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) *out = static_cast<IOleInPlaceSite*>(this);
  else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) *out = static_cast<IOleInPlaceFrame*>(this);
  else if (riid == IID_IDocHostUIHandler) *out = static_cast<IDocHostUIHandler*>(this);
  else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) *out = static_cast<IDispatch*>(this);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG BrowserSite::Release() {
  const ULONG left = ::InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return left;
}

HRESULT BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT BrowserSite::GetContainer(IOleContainer** out) {
  if (out) *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT BrowserSite::GetWindow(HWND* out) {
  if (!out) return E_POINTER;
  *out = window_;
  return S_OK;
}

HRESULT BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT position,
                                      LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  if (frame) {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
  }
  if (doc) *doc = nullptr;
  if (position) ::GetClientRect(window_, position);
  if (clip) ::GetClientRect(window_, clip);
  if (info) {
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
  }
  return S_OK;
}

HRESULT BrowserSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  if (object) object->AddRef();
  if (activeObject_) activeObject_->Release();
  activeObject_ = object;
  return S_OK;
}

HRESULT BrowserSite::ShowContextMenu(DWORD kind, POINT*, IUnknown*, IDispatch*) {
  // S_OK: the host has handled it (nothing is shown).
  return ShowsBrowserContextMenu(kind) ? S_FALSE : S_OK;
}

HRESULT BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
  if (!info) return E_POINTER;
  info->dwFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_NO3DBORDER;
  info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
  return S_OK;
}

HRESULT BrowserSite::TranslateAccelerator(LPMSG message, const GUID*, DWORD) {
  if (!message || message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN) return S_FALSE;
  const bool alt = message->message == WM_SYSKEYDOWN || ::GetKeyState(VK_MENU) < 0;
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  return IsFilteredKey(static_cast<unsigned>(message->wParam), alt, ctrl) ? S_OK : S_FALSE;
}

HRESULT BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD) {
  if (key) *key = nullptr;
  return S_FALSE;
}

HRESULT BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT BrowserSite::GetExternal(IDispatch** out) {
  if (!out) return E_POINTER;
  *out = dialog_ ? dialog_->ExternalDispatch() : nullptr;
  if (!*out) return S_FALSE;
  (*out)->AddRef();
  return S_OK;
}

HRESULT BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

HRESULT BrowserSite::FilterDataObject(IDataObject*, IDataObject** out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

HRESULT BrowserSite::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}

HRESULT BrowserSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT BrowserSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) {
  switch (id) {
    case DISPID_AMBIENT_DLCONTROL:
      if (!result) return E_POINTER;
      ::VariantInit(result);
      result->vt = VT_I4;
      result->lVal = kDownloadControlFlags;
      return S_OK;
    case DISPID_BEFORENAVIGATE2:  // (pDisp, url, flags, frame, post data, headers, cancel)
      if (dialog_ && dialog_->ShouldCancelNavigation(EventText(params, 1))) Cancel(params, 6);
      return S_OK;
    case DISPID_NEWWINDOW2:  // (ppDisp, cancel)
      Cancel(params, 1);
      return S_OK;
    case DISPID_NEWWINDOW3: {  // (ppDisp, cancel, flags, context url, url)
      Cancel(params, 1);
      const std::u16string url = EventText(params, 4);
      if (dialog_) dialog_->OnNewWindow(&url);
      return S_OK;
    }
    case DISPID_DOCUMENTCOMPLETE: {  // (pDisp, url)
      VARIANT* browser = EventArgument(params, 0);
      if (dialog_) dialog_->OnDocumentComplete(browser && browser->vt == VT_DISPATCH ? browser->pdispVal : nullptr,
                                               EventText(params, 1));
      return S_OK;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT ElementEventHandler::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ElementEventHandler::Release() {
  const ULONG left = ::InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return left;
}

HRESULT ElementEventHandler::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  if (id != DISPID_VALUE) return S_OK;
  if (auto dialog = dialog_.lock()) dialog->OnElementEvent(kind_);
  return S_OK;
}

}  // namespace Zentrovak::UI::Win32
