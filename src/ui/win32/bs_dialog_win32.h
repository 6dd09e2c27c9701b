// CBSDialog: the borderless dialog that hosts the IE WebBrowser control
// through a small OLE container of its own, shows the page, keeps the
// browser from acting as a browser, and carries page calls from other
// threads to its own (message WM_USER + 1).
//
// One concern per file: browser_site (the OLE container), external_object
// (window.external), bs_dialog_win32.cpp (the window, its messages and the
// browser's life), page_access_win32.cpp (calls into the page and what a
// document may call), page_events_win32.cpp (sizes, navigation rules, keys,
// the page's frame elements).
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include <functional>
#include <memory>
#include <string>

#include "ui/bs_dialog_host.h"
#include "ui/script_jobs.h"
#include "ui/win32/external_object.h"

namespace Zentrovak::UI::Win32 {

class BrowserSite;

// Keys the dialog takes away from the browser (on key-down): Esc, F1, F5;
// Alt with Left or Right; Ctrl with D, L, N, O, P or S.
bool IsFilteredKey(unsigned virtualKey, bool alt, bool ctrl);

// Whether the browser shows its own context menu: only for selected text.
bool ShowsBrowserContextMenu(DWORD menuKind);

// The dialog's answer to the browser's download-control ambient property.
inline constexpr LONG kDownloadControlFlags = 0x70;  // images, videos, background sounds

// The page address as the dialog compares addresses: cut at the last "#",
// lower case, a plain file path made a file: URL.
std::u16string NormalisePageAddress(std::u16string_view address);

class CBSDialog : public IBSDialog, public IScriptHost, public IExternalHost,
                  public std::enable_shared_from_this<CBSDialog> {
 public:
  explicit CBSDialog(const BSDialogParams& params);
  ~CBSDialog() override;

  // Creates the window from an in-memory template; false when it fails.
  bool CreateWindowFromTemplate(HWND parent);
  void DestroyDialogWindow();

  // IBSDialog
  Platform::WindowHandle GetHwnd() override { return hwnd_; }
  Platform::HResult Resize(int32_t width, int32_t height) override;
  Platform::HResult CallPageFunction(std::u16string_view name, const Variant* args, int count,
                                     Variant* result) override;
  Platform::HResult SetScriptVariable(std::u16string_view name, const Variant& value) override;
  Platform::HResult GetScriptVariable(std::u16string_view name, Variant* result) override;
  Platform::HResult ExecScript(std::u16string_view script) override;
  Platform::HResult NewScriptObject(std::u16string_view constructorName, std::shared_ptr<ScriptObject>* out,
                                    const std::function<Platform::HResult(ScriptObject*)>& callback) override;

  // IScriptHost
  IBSDialog* Dialog() override { return this; }
  bool RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant& a2, const Variant& a3,
                  const Variant& a4) override;
  Platform::HResult CompleteCall(const std::shared_ptr<ScriptObject>& callback, const Variant& result) override;

  // IExternalHost
  bool DocumentMayCall(std::u16string_view callerUrl) override;
  HWND OwnerWindow() override { return hwnd_; }
  std::shared_ptr<IScriptHost> JobHost() override { return shared_from_this(); }

  IDispatch* ExternalDispatch() const { return external_; }
  DWORD UiThread() const { return uiThread_; }

  // Tests stand in for the page: the address of the shown document and
  // its script object.
  void SetDocumentUrlForTesting(std::function<std::u16string()> url) { documentUrlForTesting_ = std::move(url); }
  void SetScriptForTesting(IDispatch* script);

  // Browser events (called by the site).
  void OnDocumentComplete(IDispatch* browser, const std::u16string& url);
  bool ShouldCancelNavigation(const std::u16string& url) const;
  void OnNewWindow(const std::u16string* url);
  HRESULT TranslateKey(MSG* message);
  void OnElementEvent(int kind);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void Initialise();
  void CreateBrowser();
  void CloseBrowser();
  void ConnectElementHandlers();
  LRESULT ServePageCall(WPARAM code, LPARAM arguments);
  HRESULT PageScript(IDispatch** script);
  HRESULT PageOperation(WPARAM code, void* arguments);
  HRESULT DoPageOperation(WPARAM code, void* arguments);
  std::u16string DocumentUrl();
  std::u16string ResourceAddress() const;

  CommandHandler commandHandler_;
  MessageHook messageHook_;
  MenuProvider menuProvider_;
  HICON icon_ = nullptr;
  HMENU menu_ = nullptr;
  int32_t widthLimit_ = 0;
  int32_t heightLimit_ = 0;
  int32_t autoSize_ = 0;
  DWORD uiThread_ = 0;
  std::u16string currentAddress_;
  IHTMLDocument2* currentDocument_ = nullptr;

  BSDialogParams params_;
  HWND hwnd_ = nullptr;
  BrowserSite* site_ = nullptr;
  IOleObject* browserObject_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
  DWORD eventCookie_ = 0;
  ExternalObject* external_ = nullptr;
  UINT notifyMessage_ = 0;
  std::function<std::u16string()> documentUrlForTesting_;
  IDispatch* scriptForTesting_ = nullptr;
};

}  // namespace Zentrovak::UI::Win32
