// The dialog as the rest of the program sees it. The Windows host
// (CBSDialog, an IE WebBrowser dialog) and the posix host (the page in a
// browser window, reached through the loopback bridge) both implement it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/window.h"
#include "ui/variant.h"

namespace Zentrovak::UI {

class IBSDialog;

// Receives every named call from the page: result, the dialog, the name
// and four arguments; returns the result.
using CommandHandler = std::function<Variant&(Variant& result, IBSDialog* dialog, const Variant& name,
                                              const Variant& a1, const Variant& a2, const Variant& a3,
                                              const Variant& a4)>;

class IBSDialog {
 public:
  virtual ~IBSDialog() = default;
  virtual Platform::WindowHandle GetHwnd() = 0;
  virtual Platform::HResult Resize(int32_t width, int32_t height) = 0;
  virtual Variant& DefaultCommand(Variant& result, const Variant&, const Variant&, const Variant&,
                                  const Variant&, const Variant&) {
    return result;
  }
  // Calls the page's global function `name`. args holds count values in
  // reverse order (the last element is the function's first argument), as
  // automation argument lists do; result may be null. From any thread.
  virtual Platform::HResult CallPageFunction(std::u16string_view name, const Variant* args, int count,
                                             Variant* result) {
    return Platform::kENotImpl;
  }
  virtual Platform::HResult SetScriptVariable(std::u16string_view name, const Variant& value) {
    return Platform::kENotImpl;
  }
  virtual Platform::HResult GetScriptVariable(std::u16string_view name, Variant* result) {
    return Platform::kENotImpl;
  }
  virtual Platform::HResult ExecScript(std::u16string_view script) { return Platform::kENotImpl; }
  virtual Platform::HResult NewScriptObject(std::u16string_view constructorName,
                                            std::shared_ptr<ScriptObject>* out,
                                            const std::function<Platform::HResult(ScriptObject*)>& callback) {
    return Platform::kENotImpl;
  }
};

// The one dialog that start-up keeps for the parts that call page functions
// without a dialog at hand (item announcements, progress, key arrival).
IBSDialog* MainDialog();
void SetMainDialog(IBSDialog* dialog);

// Convenience for callers: the page function with its arguments in script
// order (first argument first). E_POINTER without a dialog.
Platform::HResult CallPage(std::u16string_view name, std::initializer_list<Variant> args,
                           Variant* result = nullptr);

}  // namespace Zentrovak::UI
