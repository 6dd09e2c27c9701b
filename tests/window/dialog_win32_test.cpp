// The Windows dialog host under Wine with a virtual display. Wine draws no
// HTML, so the page is stood in for: the window and its message rules, the
// external object driven with VARIANTs, callbacks and page calls marshalled
// to the window's thread against a fake script object, and the program
// itself starting and ending.
#include <windows.h>
#include <mshtmdid.h>
#include <mshtml.h>
#include <mshtmhst.h>
#include <exdispid.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "support/test_support.h"
#include "support/variant_print.h"
#include "window/external_calls.h"
#include "ui/bs_dialog_host.h"
#include "ui/script_jobs.h"
#include "ui/win32/browser_site.h"
#include "ui/win32/bs_dialog_win32.h"

namespace Zentrovak::UI {
namespace {

using Win32::CBSDialog;

// One dialog for the suite: every closing window costs seconds under Xvfb.
class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    BSDialogParams params;
    params.size = kBSDialogParamsSize;
    params.title = u"澜屿银行网银助手";
    params.autoSize = 1;
    params.commandHandler = [](Variant& result, IBSDialog*, const Variant& name, const Variant& a1, const Variant& a2,
                               const Variant&, const Variant&) -> Variant& {
      seen.push_back({name, a1, a2, ::GetCurrentThreadId()});
      if (name.AsString() == u"sleep") ::Sleep(static_cast<DWORD>(a1.AsInt()));
      result = a1;
      return result;
    };
    params.messageHook = [](IBSDialog*, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
      hooked.push_back(message);
      return 0;
    };
    dialog = CreateBSDialog(params);
    if (dialog) {
      host = dynamic_cast<CBSDialog*>(dialog);
      trusted = true;
      host->SetDocumentUrlForTesting([] {
        return trusted ? u"res://" + Platform::ModuleFilePath() + u"/129" : std::u16string(u"http://www.example.com/");
      });
    }
  }
  static void TearDownTestSuite() {
    if (dialog && host->GetHwnd()) ::DestroyWindow(static_cast<HWND>(host->GetHwnd()));
  }
  void SetUp() override {
    if (!dialog) GTEST_SKIP() << "no window could be made (no display)";
    seen.clear();
    trusted = true;
  }
  HWND Window() { return static_cast<HWND>(dialog->GetHwnd()); }
  IDispatch* External() { return host->ExternalDispatch(); }

  struct Seen {
    Variant name, a1, a2;
    DWORD thread;
  };
  static inline IBSDialog* dialog = nullptr;
  static inline CBSDialog* host = nullptr;
  static inline std::atomic<bool> trusted{true};
  static inline std::vector<Seen> seen;
  static inline std::vector<uint32_t> hooked;
};

TEST(DialogCreation, AWrongBlockSizeMakesNoDialog) {
  BSDialogParams params;
  params.size = 60;
  const size_t open = OpenDialogs().size();
  EXPECT_EQ(CreateBSDialog(params), nullptr);
  EXPECT_EQ(OpenDialogs().size(), open);
}

TEST(DialogRules, KeysTheBrowserNeverSees) {
  const struct {
    unsigned key;
    bool alt, ctrl, filtered;
  } keys[] = {{VK_ESCAPE, 0, 0, 1}, {VK_F1, 0, 0, 1}, {VK_F5, 0, 0, 1}, {VK_LEFT, 1, 0, 1}, {VK_RIGHT, 1, 0, 1},
              {VK_LEFT, 0, 0, 0},   {'P', 0, 1, 1},   {'D', 0, 1, 1},   {'L', 0, 1, 1},    {'N', 0, 1, 1},
              {'O', 0, 1, 1},       {'S', 0, 1, 1},   {'C', 0, 1, 0},   {'V', 0, 1, 0},    {'P', 0, 0, 0},
              {VK_F4, 1, 0, 0},     {VK_RETURN, 0, 0, 0}};
  for (const auto& k : keys) EXPECT_EQ(Win32::IsFilteredKey(k.key, k.alt, k.ctrl), k.filtered) << k.key;
}

TEST(DialogRules, TheSiteAnswersTheBrowser) {
  auto* site = new Win32::BrowserSite(nullptr, nullptr);
  for (DWORD kind = 0; kind < 10; ++kind)
    EXPECT_EQ(site->ShowContextMenu(kind, nullptr, nullptr, nullptr), kind == CONTEXT_MENU_TEXTSELECT ? S_FALSE : S_OK);
  VARIANT value;
  ::VariantInit(&value);
  ASSERT_EQ(site->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &value, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 0x70);
  DOCHOSTUIINFO info{};
  info.cbSize = sizeof info;
  ASSERT_EQ(site->GetHostInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags & 0x40001, 0x40001u);
  EXPECT_EQ(info.dwFlags & DOCHOSTUIFLAG_SCROLL_NO, 0u);
  // Both new-window events are cancelled.
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANT args[2];
  args[0].vt = VT_BYREF | VT_BOOL;
  args[0].pboolVal = &cancel;
  args[1].vt = VT_BYREF | VT_DISPATCH;
  args[1].ppdispVal = nullptr;
  DISPPARAMS params{args, nullptr, 2, 0};
  site->Invoke(DISPID_NEWWINDOW2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  EXPECT_EQ(cancel, VARIANT_TRUE);
  site->Release();
}

TEST(DialogRules, PageAddressesAreComparedNormalised) {
  EXPECT_EQ(Win32::NormalisePageAddress(u"RES://C:\\App\\NetBank.exe/129#top"), u"res://c:\\app\\netbank.exe/129");
  EXPECT_EQ(Win32::NormalisePageAddress(u"http://Bank.example/a#b#c"), u"http://bank.example/a#b");
  EXPECT_EQ(Win32::NormalisePageAddress(u"C:\\pages\\index.htm"), u"file:///c:/pages/index.htm");
}

TEST_F(DialogTest, TheWindowIsABorderlessAppWindowInTheOpenList) {
  ASSERT_TRUE(::IsWindow(Window()));
  const LONG style = ::GetWindowLongW(Window(), GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_THICKFRAME) << "auto-size mode 1 has no sizing frame";
  EXPECT_TRUE(::GetWindowLongW(Window(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  wchar_t title[64] = {};
  ::GetWindowTextW(Window(), title, 64);
  EXPECT_STREQ(title, L"澜屿银行网银助手");
  EXPECT_NE(std::find(OpenDialogs().begin(), OpenDialogs().end(), dialog), OpenDialogs().end());
  // Enter and Esc reach the dialog's OK and cancel, which do nothing.
  ::SendMessageW(Window(), WM_COMMAND, IDCANCEL, 0);
  ::SendMessageW(Window(), WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(::IsWindow(Window()));
  // A foreign page call message without arguments or with an unknown code fails.
  EXPECT_EQ(static_cast<HRESULT>(::SendMessageW(Window(), WM_USER + 1, 1, 0)), E_FAIL);
  int dummy = 0;
  EXPECT_EQ(static_cast<HRESULT>(::SendMessageW(Window(), WM_USER + 1, 9, reinterpret_cast<LPARAM>(&dummy))), E_FAIL);
}

std::vector<WPARAM> keysSeen;

LRESULT CALLBACK KeyProbe(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) keysSeen.push_back(w);
  return ::DefWindowProcW(h, m, w, l);
}

TEST_F(DialogTest, FilteredKeysNeverReachTheWindowsInside) {
  std::vector<WPARAM>& keys = keysSeen;
  WNDCLASSW cls{};
  cls.lpfnWndProc = KeyProbe;
  cls.hInstance = ::GetModuleHandleW(nullptr);
  cls.lpszClassName = L"ZentrovakKeyProbe";
  ::RegisterClassW(&cls);
  HWND child = ::CreateWindowW(L"ZentrovakKeyProbe", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, Window(), nullptr,
                               cls.hInstance, nullptr);
  ASSERT_NE(child, nullptr);
  ::PostMessageW(child, WM_KEYDOWN, VK_F5, 1);
  ::PostMessageW(child, WM_KEYDOWN, VK_ESCAPE, 1);
  ::PostMessageW(child, WM_SYSKEYDOWN, VK_LEFT, 1 | (1 << 29));  // Alt+Left
  ::PostMessageW(child, WM_KEYDOWN, 'A', 1);
  PumpUntil([&] { return !keys.empty(); }, 3000);
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(keys, std::vector<WPARAM>{'A'});
  ::DestroyWindow(child);
}

TEST_F(DialogTest, CallcRunsTheCommandOnThisThreadWithTheTypesItWasGiven) {
  EXPECT_EQ(External()->GetIDsOfNames(IID_NULL, std::vector<LPOLESTR>{const_cast<LPOLESTR>(L"callC")}.data(), 1, 0,
                                      std::vector<DISPID>(1).data()),
            DISP_E_UNKNOWNNAME);
  const wchar_t withNul[] = L"文本\0x";
  VARIANT doubleValue;
  ::VariantInit(&doubleValue);
  doubleValue.vt = VT_R8;
  doubleValue.dblVal = 1.5;
  VARIANT boolValue;
  ::VariantInit(&boolValue);
  boolValue.vt = VT_BOOL;
  boolValue.boolVal = VARIANT_TRUE;
  VARIANT nullValue;
  ::VariantInit(&nullValue);
  nullValue.vt = VT_NULL;
  const std::vector<std::pair<VARIANT, Variant>> cases = {
      {Text(withNul, 4), Variant::String(std::u16string(u"文本\0x", 4))},
      {Int(-7), Variant::Int(-7)},
      {boolValue, Variant::Bool(true)},
      {doubleValue, Variant::Double(1.5)},
      {nullValue, Variant::Null()},
  };
  for (const auto& [in, expected] : cases) {
    VARIANT out;
    ::VariantInit(&out);
    ASSERT_EQ(CallExternal(External(), L"callc", {Text(L"echo", 4), in}, &out), S_OK);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().a1, expected);
    EXPECT_EQ(seen.back().thread, ::GetCurrentThreadId());
    EXPECT_EQ(out.vt, in.vt);
    ::VariantClear(&out);
  }
  // Missing arguments are empty.
  VARIANT out;
  ::VariantInit(&out);
  ASSERT_EQ(CallExternal(External(), L"callc", {Text(L"echo", 4)}, &out), S_OK);
  EXPECT_TRUE(seen.back().a1.IsEmpty());
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST_F(DialogTest, AForeignDocumentGetsNothingFromTheExternalObject) {
  trusted = false;
  VARIANT out;
  ::VariantInit(&out);
  EXPECT_EQ(CallExternal(External(), L"callc", {Text(L"save_settings", 13), Text(L"k", 1), Int(1)}, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
  EXPECT_EQ(CallExternal(External(), L"asyncalld", {Int(0), Text(L"echo", 4)}, &out), S_OK);
  EXPECT_EQ(CallExternal(External(), L"getCom", {Text(L"Scripting.FileSystemObject", 26)}, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(seen.empty()) << "a command ran for a foreign document";
  EXPECT_TRUE(WaitForJobs(1000));
}

// The script engine's caller: a service provider whose window holds the
// calling frame's document.
class FakeCaller : public IServiceProvider {
 public:
  explicit FakeCaller(std::wstring url) : url_(std::move(url)) {
    document_.Add(L"URL", [this](WORD, DISPPARAMS*, VARIANT* out) {
      out->vt = VT_BSTR;
      out->bstrVal = ::SysAllocString(url_.c_str());
      return S_OK;
    });
    window_.Add(L"document", [this](WORD, DISPPARAMS*, VARIANT* out) {
      out->vt = VT_DISPATCH;
      out->pdispVal = &document_;
      document_.AddRef();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** out) override {
    if (service == IID_IHTMLWindow2 && riid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(&window_);
      window_.AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  std::wstring url_;
  FakeScript window_, document_;
};

TEST_F(DialogTest, AFrameOfAForeignSiteInsideATrustedPageGetsNothing) {
  IDispatchEx* external = nullptr;
  ASSERT_EQ(External()->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&external)), S_OK);
  BSTR name = ::SysAllocString(L"callc");
  DISPID id = 0;
  ASSERT_EQ(external->GetDispID(name, fdexNameCaseSensitive, &id), S_OK);
  ::SysFreeString(name);
  const std::u16string module = Platform::ModuleFilePath();
  const std::wstring own = L"res://" + std::wstring(module.begin(), module.end()) + L"/129";
  const struct {
    const wchar_t* what;
    std::wstring callerUrl;  // empty: no caller named
    bool runs;
  } cases[] = {
      {L"a frame of another site", L"http://ads.example.com/frame.html", false},
      {L"the program's own page", own, true},
      {L"no caller named", L"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what, c.what + wcslen(c.what)));
    seen.clear();
    FakeCaller caller(c.callerUrl);
    EXPECT_EQ(Win32::CallerDocumentUrl(&caller), std::u16string(c.callerUrl.begin(), c.callerUrl.end()));
    VARIANT args[2];
    args[1] = Text(L"echo", 4);
    args[0] = Int(5);
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT out;
    ::VariantInit(&out);
    EXPECT_EQ(external->InvokeEx(id, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, &out, nullptr,
                                 c.callerUrl.empty() ? nullptr : &caller),
              S_OK);
    EXPECT_EQ(!seen.empty(), c.runs);
    ::VariantClear(&args[1]);
    ::VariantClear(&out);
  }
  external->Release();
}

TEST_F(DialogTest, AsyncCallsCallBackOnThisThreadInOrder) {
  std::vector<std::pair<LONG, DWORD>> callbacks;
  FakeScript callback;
  callback.Add(L"call", [&](WORD, DISPPARAMS* params, VARIANT*) {
    // call(this = the callback itself, result)
    EXPECT_EQ(params->cArgs, 2u);
    EXPECT_EQ(params->rgvarg[1].vt, VT_DISPATCH);
    callbacks.push_back({params->rgvarg[0].vt == VT_I4 ? params->rgvarg[0].lVal : -1, ::GetCurrentThreadId()});
    return S_OK;
  });
  VARIANT out;
  ::VariantInit(&out);
  ASSERT_EQ(CallExternal(External(), L"asyncallc", {Dispatch(&callback), Text(L"sleep", 5), Int(300)}, &out), S_OK);
  ASSERT_EQ(CallExternal(External(), L"asyncallc", {Dispatch(&callback), Text(L"sleep", 5), Int(0)}, &out), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return callbacks.size() == 2; }));
  EXPECT_EQ(callbacks[0].first, 300);
  EXPECT_EQ(callbacks[1].first, 0);
  for (const auto& c : callbacks) EXPECT_EQ(c.second, ::GetCurrentThreadId());
  for (const auto& s : seen) EXPECT_NE(s.thread, ::GetCurrentThreadId()) << "asynchronous commands run on workers";

  // A long asyncalld leaves the queue free; a number as callback is ignored.
  callbacks.clear();
  ASSERT_EQ(CallExternal(External(), L"asyncalld", {Dispatch(&callback), Text(L"sleep", 5), Int(1500)}, &out), S_OK);
  ASSERT_EQ(CallExternal(External(), L"asyncallc", {Int(5), Text(L"sleep", 5), Int(1)}, &out), S_OK);
  ASSERT_EQ(CallExternal(External(), L"asyncallc", {Dispatch(&callback), Text(L"sleep", 5), Int(2)}, &out), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !callbacks.empty(); }));
  EXPECT_EQ(callbacks[0].first, 2) << "the queued call waited for the long one";
  ASSERT_TRUE(PumpUntil([&] { return callbacks.size() == 2; }));
  EXPECT_EQ(callbacks[1].first, 1500);
  ASSERT_TRUE(PumpUntil([] { return RunningJobs() == 0; }));
  PumpPending();  // the jobs' releases of `callback`
}

TEST_F(DialogTest, PageCallsFromAWorkerRunOnTheWindowsThread) {
  Variant before;
  EXPECT_EQ(dialog->CallPageFunction(u"pageAdd", nullptr, 0, &before), E_POINTER) << "no page yet";

  FakeScript script;
  script.Add(L"pageAdd", [](WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (!(flags & DISPATCH_METHOD) || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    result->vt = VT_I4;
    result->lVal = params->rgvarg[1].lVal * 10 + params->rgvarg[0].lVal;  // first, second
    return S_OK;
  });
  static VARIANT stored;
  ::VariantInit(&stored);
  script.Add(L"progress", [](WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (flags & DISPATCH_PROPERTYPUT) return ::VariantCopy(&stored, &params->rgvarg[0]);
    return ::VariantCopy(result, &stored);
  });
  host->SetScriptForTesting(&script);

  Variant sum, missing, read;
  HRESULT sumResult = E_FAIL, missingResult = S_OK, setResult = E_FAIL, getResult = E_FAIL;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    const Variant args[] = {Variant::Int(2), Variant::Int(3)};  // last to first: pageAdd(3, 2)
    sumResult = dialog->CallPageFunction(u"pageAdd", args, 2, &sum);
    missingResult = dialog->CallPageFunction(u"noSuchFunction", args, 2, &missing);
    setResult = dialog->SetScriptVariable(u"progress", Variant::Int(42));
    getResult = dialog->GetScriptVariable(u"progress", &read);
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(sumResult, S_OK);
  EXPECT_EQ(sum, Variant::Int(32));
  EXPECT_EQ(missingResult, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(setResult, S_OK);
  EXPECT_EQ(getResult, S_OK);
  EXPECT_EQ(read, Variant::Int(42));
  for (DWORD thread : script.threads) EXPECT_EQ(thread, ::GetCurrentThreadId());
  host->SetScriptForTesting(nullptr);
}

// Runs last in this suite: it ends the window.
TEST_F(DialogTest, ZClosingTheLastWindowEndsTheLoop) {
  hooked.clear();
  quitSeen = false;
  HWND window = Window();
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(window); }));
  EXPECT_EQ(hooked, std::vector<uint32_t>{WM_CLOSE});
  EXPECT_EQ(std::find(OpenDialogs().begin(), OpenDialogs().end(), dialog), OpenDialogs().end());
  MSG quit;
  EXPECT_TRUE(quitSeen || ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
      << "no quit message after the last window";
  // A page call from a worker now reaches no window.
  HRESULT late = S_OK;
  std::thread([&] { late = dialog->CallPageFunction(u"pageAdd", nullptr, 0, nullptr); }).join();
  EXPECT_EQ(late, E_FAIL);
}

}  // namespace
}  // namespace Zentrovak::UI
